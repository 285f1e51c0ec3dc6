// Reader for a VMDK split over several extent files, one after another on the disk: found
// through a descriptor file (descriptorMode; a descriptor is also recognised by its content
// when a FileReadSeekVmdk opens it) or by the numbered names of the extent files
// (disk-s001.vmdk, disk-s002.vmdk, ...). A missing extent is unreadable where it lies; the
// extents after it keep their places.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/Session.h"
#include "image/FileReadSeekVmdk.h"

namespace vindaru {

// A descriptor file larger than this is not taken for one (50 KiB less one byte).
inline constexpr std::uint64_t kVmdkMaxDescriptorFileBytes = 50 * 1024 - 1;

class FileReadSeekVmdkSplit : public FileReadSeekVmdk {
public:
    explicit FileReadSeekVmdkSplit(Session& session);
    ~FileReadSeekVmdkSplit() override;

    bool open(const std::string& path) override;

    // Names of the extent files that were expected but could not be opened, in disk order.
    const std::vector<std::string>& missingExtents() const { return disk_.missingExtents(); }

    bool descriptorMode = false;

private:
    bool openDescriptor(const std::string& path);
    bool openNumbered(const std::string& path);
    void announceMissing();
    static void reserveFileDescriptors(std::size_t extentCount);

    Session& session_;
};

} // namespace vindaru
