// Reader for a VMDK split over several extent files, one after another on the disk: found
// through a descriptor file (descriptorMode) or by the numbered names of the extent files
// (disk-s001.vmdk, disk-s002.vmdk, ...). Each extent is read by its own FileReadSeekVmdk, and
// the cursor reads through the file pointer of the extent the last seek selected.
#pragma once

#include <cstdint>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "common/Session.h"
#include "image/FileReadSeekVmdk.h"
#include "image/readWriteInterface.h"

namespace vindaru {

// A descriptor file larger than this is not taken for one (50 KiB less one byte).
inline constexpr std::uint64_t kVmdkMaxDescriptorFileBytes = 50 * 1024 - 1;

class FileReadSeekVmdkSplit : public readWriteInterface {
public:
    explicit FileReadSeekVmdkSplit(Session& session);
    ~FileReadSeekVmdkSplit() override;

    bool open(const std::string& path) override;
    bool read(void* buffer, std::uint64_t length) override;
    bool seek(std::int64_t position, int origin) override;

    // The end of the last extent that could be opened.
    std::uint64_t capacity() const override;
    // Descriptor mode: a flat set's descriptor lines, else the extents' header capacities;
    // numbered mode: the sectors the pieces cover.
    std::uint64_t declaredSectors() const override { return declaredSectors_; }
    bool takesTypedSize() const override { return opened_; }

    // Names of the extent files that were expected but could not be opened, in disk order.
    const std::vector<std::string>& missingExtents() const { return missingExtents_; }
    // Sectors of the disk that the opened extents cover.
    std::uint64_t coveredSectors();

    // Off in tests only: read() then takes the sector-by-sector path for every call.
    bool fastPathEnabled = true;

    bool descriptorMode = false;
    std::string extentTypeChoice;
    std::vector<VmdkExtentRecord> extents;
    std::vector<std::unique_ptr<FileReadSeekVmdk>> extentReaders;
    std::string descriptorText;
    std::int64_t position = 0;

protected:
    // Positions past the last extent read as zeros.
    bool readRange(std::uint64_t offset, std::span<std::uint8_t> out, ReadReport* report) const override;

private:
    struct Located {
        std::size_t extent = 0;
        std::uint64_t localSector = 0;
        std::uint64_t sectorsLeft = 0; // in this extent from localSector on
    };

    bool openDescriptor(const std::string& path);
    bool openNumbered(const std::string& path);
    void announceMissing();
    static void reserveFileDescriptors(std::size_t extentCount);
    std::uint64_t extentSectors(const FileReadSeekVmdk& reader) const;
    const std::vector<std::uint64_t>& extentStarts();
    std::optional<Located> locate(std::uint64_t sector);
    bool readTrailing(std::uint8_t* out, std::uint64_t length);

    Session& session_;
    mutable std::recursive_mutex mutex_;
    std::vector<std::string> missingExtents_;
    // First disk sector of each extent and, last, the end of the disk; rebuilt when the set
    // or the FLAT choice changes.
    std::vector<std::uint64_t> starts_;
    bool startsForFlat_ = false;
    FileReadSeekVmdk* current_ = nullptr;
    std::size_t currentIndex_ = 0;
    // Disk byte of the last seek, when it selected an extent.
    std::uint64_t cursorAbsolute_ = std::numeric_limits<std::uint64_t>::max();
    bool beyondEnd_ = false;
    std::uint64_t declaredSectors_ = 0;
    bool opened_ = false;
};

} // namespace vindaru
