// Reader for a single VMDK file: a monolithic sparse extent (header, embedded descriptor, grain
// directory and grain tables) or a flat extent read one-to-one. Also serves as the per-extent
// reader of FileReadSeekVmdkSplit. The image is opened read-only.
//
// seek/read keep the described cursor behaviour, including the file pointer the reads share
// (emulated here as a member over pread). readAt is the fast positional path: cached grain
// tables and one pread per run of file-contiguous sectors, with the same bytes as seek + read.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

#include "common/Session.h"
#include "image/VmdkDescriptor.h"
#include "image/readWriteInterface.h"

namespace vindaru {

class FileReadSeekVmdk : public readWriteInterface {
public:
    explicit FileReadSeekVmdk(Session& session);
    ~FileReadSeekVmdk() override;

    bool open(const std::string& path) override;
    bool read(void* buffer, std::uint64_t length) override;
    bool seek(std::int64_t position, int origin) override;
    bool readAt(std::uint64_t position, std::span<std::uint8_t> out) override;

    // Capacity from the sparse header in sectors; 0 for a flat extent.
    std::uint64_t capacitySectors() const;
    bool isSparseFile() const { return hasMagic_; }

    // --- used by FileReadSeekVmdkSplit, which reads through this reader's file pointer ---
    // Reads `length` bytes at the file pointer and advances it (short reads at the end of the
    // file leave the rest zero). False only on an I/O error or when no file is open.
    bool readAtFilePointer(std::uint8_t* out, std::uint64_t length);
    // True when seek maps positions (flat or sparse with a grain directory); false in the modes
    // where seek leaves the file pointer alone and reads just follow it.
    bool mapsPositions() const;
    // Reads `sectors` whole sectors the way read() does from the current cursor state, but
    // without the seek that read() makes after the last sector.
    bool readSectorsFromCursor(std::uint8_t* out, std::uint64_t sectors, bool seekAfterLast);

    // Off in tests only: read() then takes the sector-by-sector path for every call.
    bool fastPathEnabled = true;

    // The last position given to seek (without baseOffset).
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

private:
    Session& session_;
    int fd_ = -1;
    bool hasMagic_ = false;
    std::uint64_t filePointer_ = 0;
};

} // namespace vindaru
