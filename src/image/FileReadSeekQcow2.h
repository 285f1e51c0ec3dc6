// Reader for QCOW2 images (versions 2 and 3). The header names the active L1 table; each L1
// entry names an L2 table of one cluster, whose entries say where each guest cluster lies: in
// the file, compressed (deflate or zstd), reading as zeros, or not in this image (then in the
// backing file, the parent layer, or zeros without one). Extended L2 entries say so for each of
// a cluster's 32 subclusters. Refcounts are not needed to read.
//
// An internal snapshot is read "as of" it by taking its L1 table instead of the active one.
// Encrypted images and images whose data lies in an external file are refused by name.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

#include "common/Session.h"
#include "image/Qcow2Layout.h"
#include "image/ReadOnlyFile.h"
#include "image/readWriteInterface.h"

namespace vindaru {

class FileReadSeekQcow2 : public readWriteInterface {
  public:
    explicit FileReadSeekQcow2(Session& session);

    // Before open: read the disk as of the internal snapshot with this id or name (empty: the
    // image's current state).
    std::string snapshot;

    bool open(const std::string& path) override;
    // Why the last open failed, for the message; empty after a successful open.
    const std::string& openProblem() const { return problem_; }

    std::uint64_t capacity() const override { return diskSize_; }
    std::uint64_t declaredSectors() const override { return diskSize_ / kSectorSize; }
    bool isHole(std::uint64_t offset, std::uint64_t length) const override;
    std::uint64_t nextData(std::uint64_t offset) const override;
    std::span<const std::uint8_t> viewAt(std::uint64_t offset, std::uint64_t length) const override;

    std::optional<ParentLink> parentLink() const override;
    std::string layerId() const override { return {}; }
    std::vector<std::string> structureLines() const override;
    std::string kindText() const override;
    void describeDamage(std::vector<ByteRange>& out) const override;

    const qcow2::Header& header() const { return header_; }
    const std::vector<qcow2::Snapshot>& snapshots() const { return snapshots_; }
    const std::string& backingFile() const { return backingName_; }
    const std::string& backingFormat() const { return extensions_.backingFormat; }

  protected:
    bool readRange(std::uint64_t offset, std::span<std::uint8_t> out,
                   ReadReport* report) const override;

  private:
    using Table = std::vector<std::uint64_t>;
    // What one guest cluster is, with the table entry's subcluster bitmap and, when its map
    // cannot be read, why.
    struct Mapping {
        qcow2::ClusterEntry entry;
        std::uint64_t bitmap = 0;
        Damage damage = Damage::None;
    };
    struct Cursor; // the L2 table a read is walking

    bool fail(std::string problem);
    bool loadL1(std::uint64_t offset, std::uint64_t entries);
    // The L2 table at `offset` (cached); null when it cannot be read.
    std::shared_ptr<const Table> l2Table(std::uint64_t offset) const;
    std::shared_ptr<const Table> readL2Table(std::uint64_t offset) const;
    Mapping mappingOf(std::uint64_t cluster, Cursor& cursor) const;
    bool readFile(std::uint64_t fileOffset, std::span<std::uint8_t> out, std::uint64_t diskOffset,
                  ReadReport* report) const;
    bool readCompressed(const qcow2::ClusterEntry& entry, std::uint64_t inCluster,
                        std::span<std::uint8_t> out, std::uint64_t diskOffset, ReadReport* report) const;
    // A whole compressed cluster a read takes, decompressed straight into its buffer.
    struct Inflate {
        qcow2::ClusterEntry entry;
        std::span<std::uint8_t> out;
        std::uint64_t diskOffset = 0;
        Damage damage = Damage::None;
    };
    // Runs the jobs, on a few threads when there are many (decompression is what a read of a
    // compressed image waits for).
    void inflateAll(std::vector<Inflate>& jobs) const;
    Damage inflateInto(const qcow2::ClusterEntry& entry, std::span<std::uint8_t> out,
                       qcow2::Decompressor& decompressor, std::vector<std::uint8_t>& packed) const;
    bool hasBacking() const { return !backingName_.empty(); }
    // The bytes of a stored cluster that must lie in the file.
    std::uint64_t storedBytes(const qcow2::ClusterEntry& entry, std::uint64_t bitmap) const;

    ReadOnlyFile file_;
    std::string problem_;
    std::vector<std::string> notes_;
    qcow2::Header header_;
    qcow2::Extensions extensions_;
    std::string backingName_;
    std::vector<qcow2::Snapshot> snapshots_;
    int snapshotIndex_ = -1; // the snapshot read, or -1 for the current state
    std::uint64_t diskSize_ = 0;
    std::uint64_t clusterSize_ = 0;
    std::uint64_t l2Entries_ = 0;
    std::uint64_t l1Needed_ = 0;
    std::uint64_t l1Declared_ = 0;
    std::uint64_t l1Offset_ = 0;
    Table l1_; // the entries the file holds

    mutable std::mutex cacheMutex_;
    mutable std::unordered_map<std::uint64_t, std::shared_ptr<const Table>> l2Cache_;
    mutable std::deque<std::uint64_t> l2Order_;
    std::size_t l2CacheLimit_ = 0;
    mutable std::deque<std::pair<std::uint64_t, std::shared_ptr<const std::vector<std::uint8_t>>>> inflated_;
};

} // namespace vindaru
