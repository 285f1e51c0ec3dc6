// Reader for a single VMDK file: a monolithic sparse extent (header, embedded descriptor, grain
// directory and grain tables) or a flat extent read one-to-one. Also serves as the per-extent
// reader of FileReadSeekVmdkSplit. The image is opened read-only.
//
// seek/read keep the cursor behaviour callers rely on, including the file pointer the reads share
// (emulated here as a member over pread). readAt is the fast positional path: cached grain
// tables and one pread per run of file-contiguous sectors, with the same bytes as seek + read.
#pragma once

#include <array>
#include <mutex>
#include <cstdint>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

#include "common/Session.h"
#include "image/ReadOnlyFile.h"
#include "image/VmdkDescriptor.h"
#include "image/VmdkSparseHeader.h"
#include "image/readWriteInterface.h"

namespace vindaru {

class FileReadSeekVmdk : public readWriteInterface {
public:
    // The session is not kept: the reader reports its sizes and has no messages of its own.
    explicit FileReadSeekVmdk(Session& session);
    ~FileReadSeekVmdk() override;

    bool open(const std::string& path) override;
    bool read(void* buffer, std::uint64_t length) override;
    bool seek(std::int64_t position, int origin) override;
    // Sparse extents know their unallocated grains from the grain tables, so a bulk copy can
    // skip them without reading.
    bool isHole(std::uint64_t position, std::uint64_t length) const override;

    // Capacity from the sparse header in sectors; 0 for a flat extent.
    std::uint64_t capacitySectors() const;
    // The sparse header's capacity, or for a flat extent the file's length.
    std::uint64_t capacity() const override;
    // The sum of the embedded descriptor's extent lines.
    std::uint64_t declaredSectors() const override { return declaredSectors_; }
    bool takesTypedSize() const override { return typedSizeApplies_; }
    bool isSparseFile() const { return hasMagic_; }

    // --- used by FileReadSeekVmdkSplit, which reads through this reader's file pointer ---
    // Reads `length` bytes at the file pointer and advances it (short reads at the end of the
    // file leave the rest zero). False only on an I/O error or when no file is open.
    bool readAtFilePointer(std::uint8_t* out, std::uint64_t length);
    // Moves the file pointer as a read of `length` bytes would, without reading.
    void skipAtFilePointer(std::uint64_t length);
    // True when seek maps positions (flat or sparse with a grain directory); false in the modes
    // where seek leaves the file pointer alone and reads just follow it.
    bool mapsPositions() const;
    // Reads `sectors` whole sectors the way read() does from the current cursor state, but
    // without the seek that read() makes after the last sector.
    bool readSectorsFromCursor(std::uint8_t* out, std::uint64_t sectors, bool seekAfterLast);

    // Off in tests only: read() then takes the sector-by-sector path for every call.
    bool fastPathEnabled = true;

    // The last position given to seek.
    std::int64_t position = 0;
    std::array<std::uint8_t, 512> header{};
    std::string descriptorText;
    std::vector<VmdkExtentRecord> extents;
    std::string extentTypeChoice;
    std::string formatVersion;
    std::string contentId;
    std::string parentContentId;
    std::string createType;
    std::string geometryCylinders;
    std::string geometryHeads;
    std::string geometrySectors;
    std::uint64_t grainSize = 0;
    std::uint32_t gtesPerGrainTable = 0;
    std::uint64_t sectorsPerGrainTable = 0;
    std::uint64_t grainDirectoryCount = 0;
    // Loaded entries; may be shorter than grainDirectoryCount when the file cannot hold them
    // all (missing entries read as holes).
    std::vector<std::uint32_t> grainDirectory;
    std::array<std::uint32_t, 512> grainTable{};

protected:
    // Holes (and positions past the grain directory) read as zeros. A file that seek cannot map
    // (no sparse header yet typed SPARSE, or no type at all) is read the way seek + read read
    // it: from the file pointer, which then moves on.
    bool readRange(std::uint64_t offset, std::span<std::uint8_t> out, ReadReport* report) const override;

private:
    enum class Mapping { None, Flat, Sparse };
    enum class PlaceKind {
        HoleKeepPointer, // grain directory says hole: seek leaves the file pointer where it was
        HoleAfterTable,  // grain table says hole: the table read left the pointer after it
        Data,
    };
    struct Place {
        PlaceKind kind = PlaceKind::HoleKeepPointer;
        std::uint64_t fileOffset = 0; // Data: where the sector is; HoleAfterTable: pointer after the table
        std::uint64_t runSectors = 1; // this and the following sectors that continue the same way
        std::uint32_t tableSector = 0;
    };
    struct CachedTable {
        std::vector<std::uint32_t> entries;
        std::uint64_t bytesRead = 0;
    };
    // The last seek within a run of sectors that moved the file pointer.
    struct PointerMove {
        bool any = false;
        std::uint64_t index = 0;
        std::uint64_t filePointer = 0;
    };

    Mapping mapping() const;
    bool validGrainGeometry(const VmdkSparseHeader& h);
    void loadGrainDirectory(const VmdkSparseHeader& h);
    void applyDescriptor(const VmdkDescriptor& d);
    const CachedTable* grainTableAt(std::uint32_t tableSector);
    Place sparsePlace(std::uint64_t sector);
    Place placeOf(std::int64_t absolute, Mapping m);
    std::int64_t absoluteOf(std::int64_t pos) const;
    // Applies the mapping of a seek; true when the file pointer was moved.
    bool applySeek(std::int64_t absolute, Mapping m);
    std::uint64_t advancedPointer(std::uint64_t from, std::uint64_t sectorReads) const;
    std::uint64_t advancedPointerBytes(std::uint64_t from, std::uint64_t bytes) const;
    bool readSectorsSlow(std::uint8_t* out, std::uint64_t sectors, bool seekAfterLast);
    bool copySectors(std::int64_t firstAbsolute, std::uint64_t from, std::uint64_t to,
                     std::uint64_t lastSeekIndex, std::uint8_t* out, Mapping m, PointerMove& move);
    bool readTrailing(std::uint8_t* out, std::uint64_t length);

    ReadOnlyFile file_;
    mutable std::mutex mutex_;
    bool hasMagic_ = false;
    std::uint64_t capacity_ = 0;
    std::uint64_t declaredSectors_ = 0;
    // A sparse extent without a descriptor of its own (a piece of a split set) keeps its size.
    bool typedSizeApplies_ = false;
    // The file pointer that header, table and sector reads share, as a positioned file would
    // keep it; the reads themselves are positional.
    std::uint64_t filePointer_ = 0;
    bool ioError_ = false;
    std::unordered_map<std::uint32_t, CachedTable> tableCache_;
    std::uint32_t lastTableSector_ = 0;
    const CachedTable* lastTable_ = nullptr;
    std::uint32_t tableInBuffer_ = 0; // the table last copied into grainTable
};

} // namespace vindaru
