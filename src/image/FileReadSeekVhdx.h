// Reader for VHDX images: fixed, dynamic and differencing. The current header (by sequence
// number, the other one when it is damaged) names the log; the region table names the block
// allocation table (BAT) and the metadata region, whose items give the block size, the disk's
// size and logical sector size, and for a differencing disk the parent locator. A block's BAT
// state says whether it is in the file, zeros, or the parent's; a partially present block of a
// differencing disk takes each sector from the file or the parent by its chunk's sector bitmap.
//
// A log left behind by an image that was not closed cleanly is replayed in memory over what the
// file holds; the file is never written. A log that cannot be replayed makes open fail, unless
// the user chose to read the disk without it (ignoreLog).
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

#include "common/Session.h"
#include "image/ReadOnlyFile.h"
#include "image/VhdxLayout.h"
#include "image/readWriteInterface.h"

namespace vindaru {

class FileReadSeekVhdx : public readWriteInterface {
  public:
    explicit FileReadSeekVhdx(Session& session);

    // Read the disk as the file holds it when its log cannot be replayed (the user's choice).
    bool ignoreLog = false;

    bool open(const std::string& path) override;
    // Why the last open failed, for the message; empty after a successful open.
    const std::string& openProblem() const { return problem_; }

    std::uint64_t capacity() const override { return geometry_.virtualSize; }
    std::uint64_t declaredSectors() const override { return geometry_.virtualSize / kSectorSize; }
    std::uint32_t logicalSectorSize() const override { return geometry_.logicalSectorSize; }
    bool isHole(std::uint64_t offset, std::uint64_t length) const override;
    std::uint64_t nextData(std::uint64_t offset) const override {
        return nextDataByUnits(offset, geometry_.blockSize);
    }
    std::span<const std::uint8_t> viewAt(std::uint64_t offset, std::uint64_t length) const override;

    std::optional<ParentLink> parentLink() const override;
    std::string layerId() const override;
    // What open found damaged: a header, region table, metadata item or BAT.
    std::vector<std::string> structuralDamage() const override { return damage_; }
    std::vector<std::string> structureLines() const override;
    std::string kindText() const override;
    void describeDamage(std::vector<ByteRange>& out) const override;

    bool isDifferencing() const { return params_.hasParent; }
    std::uint64_t blockSize() const { return geometry_.blockSize; }
    std::uint32_t physicalSectorSize() const { return physicalSectorSize_; }
    const vhdx::LogReplay& logReplay() const { return log_; }
    const vhdx::Header& header() const { return header_; }
    const vhdx::ParentLocator& parentLocator() const { return locator_; }

  protected:
    bool readRange(std::uint64_t offset, std::span<std::uint8_t> out,
                   ReadReport* report) const override;

  private:
    struct BlockRead;

    bool fail(std::string problem);
    bool loadHeaders(std::uint64_t fileLength);
    bool replayLog(std::uint64_t fileLength);
    bool loadRegions();
    bool loadMetadata(const vhdx::RegionEntry& region);
    bool loadBat(const vhdx::RegionEntry& region);
    std::optional<std::vector<std::uint8_t>> metadataItem(const vhdx::RegionEntry& region,
                                                          const std::vector<vhdx::MetadataEntry>& table,
                                                          const vhdx::Guid& item);

    // The file's bytes at `fileOffset` as the replayed log leaves them; bytes past the file's end
    // are zeros and reported (at `diskOffset`) as unreadable, as are bytes the host cannot read.
    bool readFile(std::uint64_t fileOffset, std::span<std::uint8_t> out, std::uint64_t diskOffset,
                  ReadReport* report) const;
    // The BAT entry at `index`; nullopt past the entries the file holds.
    std::optional<vhdx::BatEntry> batEntry(std::uint64_t index) const;
    // Why a fully or partially present block at `entry` cannot be read; None when it can.
    Damage blockDamage(const vhdx::BatEntry& entry) const;
    // The 1 MiB sector bitmap of the chunk holding `block`; null when it cannot be read.
    std::shared_ptr<const std::vector<std::uint8_t>> sectorBitmap(std::uint64_t block) const;
    bool readPartial(std::uint64_t block, const vhdx::BatEntry& entry, std::uint64_t offset,
                     std::span<std::uint8_t> out, ReadReport* report) const;
    // Adds the sectors of a partially present block that only the (absent) parent holds.
    template <typename Add> void missingSectors(std::uint64_t block, Add& add) const;

    ReadOnlyFile file_;
    std::string path_;
    std::string problem_;
    std::vector<std::string> notes_; // damage and repairs found while opening, for `info`
    std::vector<std::string> damage_; // the damage among them, one phrase each
    // Notes damage: in notes_ after "damaged: ", and in damage_ as it stands.
    void noteDamage(std::string phrase);
    std::string creator_;

    vhdx::Header header_;
    int headerIndex_ = -1;
    vhdx::LogReplay log_;
    bool logIgnored_ = false;
    std::uint64_t effectiveFileLength_ = 0; // the file's length, or more once a log extends it
    int regionTableIndex_ = -1;
    vhdx::RegionEntry batRegion_;
    vhdx::RegionEntry metadataRegion_;
    vhdx::FileParameters params_;
    vhdx::Geometry geometry_;
    std::uint32_t physicalSectorSize_ = 512;
    std::optional<vhdx::Guid> page83_;
    vhdx::ParentLocator locator_;
    std::vector<std::uint64_t> bat_; // the entries the file holds

    mutable std::mutex bitmapMutex_;
    mutable std::unordered_map<std::uint64_t, std::shared_ptr<const std::vector<std::uint8_t>>> bitmaps_;
};

} // namespace vindaru
