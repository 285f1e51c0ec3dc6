// A VMDK disk as its files lay it out: the extents one after another, each at the place its
// descriptor line (or its own header) gives it, whether or not its file is there. The single-
// file and split readers are built on it; it reads by position, reports what it met, and hands
// the ranges a snapshot delta does not hold to the reader's parent filler.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "image/ReadOnlyFile.h"
#include "image/VmdkDiskDescriptor.h"
#include "image/VmdkExtent.h"

namespace vindaru {

class VmdkDisk {
  public:
    // What a file is by its first bytes.
    enum class FileKind { Sparse, Cowd, SeSparse, Descriptor, Other };
    static FileKind kindOf(std::span<const std::uint8_t> head);

    // Opens the disk whose top file is `path`: a sparse extent with its embedded descriptor, a
    // descriptor file, a lone COWD or SEsparse extent, or (with `flatWithoutHeader`) a file
    // without any header read one-to-one. False with `error` (naming the reason) otherwise.
    bool open(const std::string& path, const MemoryFiles* memory, bool flatWithoutHeader, std::string& error);

    // Appends the extent in file `path` (a numbered piece of a split set): sparse when it has
    // the header, else flat of the file's length when `flatWithoutHeader`. False when the file
    // cannot be used; the disk is not changed then.
    bool appendFile(const std::string& path, const MemoryFiles* memory, bool flatWithoutHeader, std::string& error);
    // Appends an extent the disk cannot read (a missing piece) of `sectors` sectors.
    void appendMissing(const std::string& name, std::uint64_t sectors);

    std::uint64_t size() const { return starts_.empty() ? 0 : starts_.back(); }
    bool read(std::uint64_t offset, std::span<std::uint8_t> out, ReadReport* report,
              const VmdkExtent::AbsentFill& absent) const;
    bool isHole(std::uint64_t offset, std::uint64_t length, bool absentIsHole) const;
    // The first offset at or after `offset` that may hold data, extent after extent; size()
    // when none.
    std::uint64_t nextData(std::uint64_t offset, bool absentIsHole) const;
    std::span<const std::uint8_t> viewAt(std::uint64_t offset, std::uint64_t length) const;
    void describeDamage(std::vector<ByteRange>& out) const;
    void describeDataDamage(std::vector<ByteRange>& out) const;
    // The ranges a delta leaves to its parent (see VmdkExtent::describeAbsent).
    void describeAbsent(std::vector<ByteRange>& out) const;
    std::vector<std::string> structureLines() const;
    // The extents' structural damage, each phrase led by its extent's place when there are several.
    std::vector<std::string> structuralDamage() const;
    bool hasUncheckedData() const;
    // "monolithicSparse", "streamOptimized", "twoGbMaxExtentFlat", ... or the extent's kind.
    std::string kindText() const;

    bool isDelta() const { return descriptor_.hasParent(); }
    const VmdkDiskDescriptor& descriptor() const { return descriptor_; }
    const std::string& descriptorText() const { return descriptorText_; }
    const std::string& path() const { return path_; }
    // Extent files the descriptor names that are not there, as written.
    const std::vector<std::string>& missingExtents() const { return missing_; }
    std::size_t extentCount() const { return extents_.size(); }
    bool hasGrainMap() const;
    // The sparse header's capacity of a single sparse file (for the image page); 0 otherwise.
    std::uint64_t headerSectors() const { return headerSectors_; }

  private:
    void add(std::unique_ptr<VmdkExtent> extent, std::uint64_t length);
    bool openDescriptor(const std::string& folder, const MemoryFiles* memory, std::string& error);
    std::unique_ptr<VmdkExtent> extentFor(const VmdkDiskExtentLine& line, const std::string& folder,
                                          const MemoryFiles* memory);

    std::vector<std::unique_ptr<VmdkExtent>> extents_;
    std::vector<std::uint64_t> starts_; // byte start of each extent, then the disk's end
    std::vector<std::uint64_t> slots_;  // the length each extent has on the disk
    VmdkDiskDescriptor descriptor_;
    std::string descriptorText_;
    std::string path_;
    std::vector<std::string> missing_;
    std::vector<std::string> notes_;
    std::uint64_t headerSectors_ = 0;
};

// Where a file named in a descriptor is: an absolute name as it is, a relative one in the
// descriptor's folder; backslashes of a Windows-made descriptor are folder separators.
std::string vmdkExtentPath(const std::string& folder, const std::string& name);

} // namespace vindaru
