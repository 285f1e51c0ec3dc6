// Reader for a VMDK split over several extent files, one after another on the disk: found
// through a descriptor file (descriptorMode) or by the numbered names of the extent files
// (disk-s001.vmdk, disk-s002.vmdk, ...). Each extent is read by its own FileReadSeekVmdk.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "common/Session.h"
#include "image/FileReadSeekVmdk.h"
#include "image/readWriteInterface.h"

namespace vindaru {

class FileReadSeekVmdkSplit : public readWriteInterface {
public:
    explicit FileReadSeekVmdkSplit(Session& session);
    ~FileReadSeekVmdkSplit() override;

    bool open(const std::string& path) override;
    bool read(void* buffer, std::uint64_t length) override;
    bool seek(std::int64_t position, int origin) override;
    bool readAt(std::uint64_t position, std::span<std::uint8_t> out) override;

    // Names of the extent files that were expected but could not be opened, in disk order.
    const std::vector<std::string>& missingExtents() const { return missingExtents_; }
    // Sectors of the disk that the opened extents cover.
    std::uint64_t coveredSectors() const;

    bool descriptorMode = false;
    std::string extentTypeChoice;
    std::vector<VmdkExtentRecord> extents;
    std::vector<std::unique_ptr<FileReadSeekVmdk>> extentReaders;
    std::string descriptorText;
    std::int64_t position = 0;

private:
    Session& session_;
    std::vector<std::string> missingExtents_;
};

} // namespace vindaru
