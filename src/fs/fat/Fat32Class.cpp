#include "fs/fat/Fat32Class.h"

#include <cstring>

#include "common/ByteLoader.h"
#include "fs/fat/FatBootFields.h"
#include "volume/VolumeSignatures.h"

namespace vindaru {

using namespace fatboot;

namespace {

constexpr const char* kNotFat32 = "Selected Drive is not in Fat32 Format";
constexpr const char* kFinding = "Finding Fat32 File And Directory entries recursively....";

} // namespace

bool Fat32Class::checkBootSector() {
    reader_.readAt(0, boot_);
    const ByteSpan b(boot_);
    const bool oem = std::memcmp(&boot_[kOemName], "MSDOS", 5) == 0 || std::memcmp(&boot_[kOemName], "BSD", 3) == 0;
    if (!(oem && le16(b, kSectorsPerFat16) == 0) && validFatBpb(b) != FatBpbKind::Fat32) return false;
    rootCluster_ = le32(b, kRootCluster);
    return applyGeometry(le32(b, kSectorsPerFat32), 0, true);
}

ScanOutcome Fat32Class::scanStandard(CheckTree* tree, TreeItemId volumeItem) {
    ScanOutcome outcome = runStandard(tree, volumeItem, {kNotFat32, kFinding});
    if (!outcome.rejected) outcome.recycle = RecycleLayout::Flat;
    return outcome;
}

} // namespace vindaru
