// Reader for a VMDK disk opened by one file, whatever the file is by its content: a monolithic
// sparse or stream-optimized extent with its embedded descriptor, a descriptor file whose
// extents lie beside it (monolithicFlat, twoGbMaxExtentSparse/Flat, vmfs, and the ESXi
// vmfsSparse and seSparse snapshot deltas), a lone extent file, or (when the user chose FLAT)
// a file without any header read one-to-one. Every read is positional and says what it met:
// holes, and ranges it could not read with the reason. A snapshot delta names its parent;
// the ranges it does not hold come from the parent layer.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "common/Session.h"
#include "image/VmdkDescriptor.h"
#include "image/VmdkDisk.h"
#include "image/readWriteInterface.h"

namespace vindaru {

class FileReadSeekVmdk : public readWriteInterface {
public:
    // The session is not kept: the reader reports its sizes and has no messages of its own.
    explicit FileReadSeekVmdk(Session& session);
    ~FileReadSeekVmdk() override;

    bool open(const std::string& path) override;

    bool isHole(std::uint64_t offset, std::uint64_t length) const override;
    std::uint64_t nextData(std::uint64_t offset) const override;
    std::span<const std::uint8_t> viewAt(std::uint64_t offset, std::uint64_t length) const override;

    // The parent a snapshot delta names: its file name as written (backslashes made folder
    // separators) and the CID the parent must have.
    std::optional<ParentLink> parentLink() const override;
    std::string layerId() const override { return disk_.descriptor().contentId; }
    // A delta read without its parent cannot give what it leaves to the parent: unreadable too.
    void describeDamage(std::vector<ByteRange>& out) const override;
    void describeDataDamage(std::vector<ByteRange>& out) const override { disk_.describeDataDamage(out); }
    std::vector<std::string> structureLines() const override { return disk_.structureLines(); }
    std::vector<std::string> structuralDamage() const override { return disk_.structuralDamage(); }
    bool hasUncheckedData() const override { return disk_.hasUncheckedData(); }
    std::string kindText() const override;

    // The sparse header's capacity of a single sparse file in sectors; 0 otherwise.
    std::uint64_t capacitySectors() const { return disk_.headerSectors(); }
    std::uint64_t capacity() const override { return disk_.size(); }
    std::uint64_t declaredSectors() const override { return disk_.size() / kSectorSize; }
    bool takesTypedSize() const override { return opened_; }
    bool isSparseFile() const { return disk_.headerSectors() != 0; }
    const VmdkDisk& disk() const { return disk_; }
    // Why the last open failed, for the callers' messages ("has no VMDK header ...").
    const std::string& openError() const { return openError_; }

    // "FLAT": a file without a header of its own is read one-to-one (the user said so).
    std::string extentTypeChoice;
    // What the embedded descriptor says, as the image page shows it.
    std::string descriptorText;
    std::vector<VmdkExtentRecord> extents;
    std::string formatVersion;
    std::string contentId;
    std::string parentContentId;
    std::string createType;
    std::string geometryCylinders;
    std::string geometryHeads;
    std::string geometrySectors;

protected:
    bool readRange(std::uint64_t offset, std::span<std::uint8_t> out, ReadReport* report) const override;
    // Fills what this layer does not hold: from the parent layer.
    bool readAbsent(std::uint64_t offset, std::span<std::uint8_t> out, ReadReport* report) const;
    void applyDescriptor();

    VmdkDisk disk_;
    VmdkExtent::AbsentFill absent_;
    std::string openError_;
    bool opened_ = false;
};

} // namespace vindaru
