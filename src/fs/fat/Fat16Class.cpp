#include "fs/fat/Fat16Class.h"

#include <cstring>

#include "common/ByteLoader.h"
#include "fs/fat/FatBootFields.h"
#include "volume/VolumeSignatures.h"

namespace vindaru {

using namespace fatboot;

namespace {

constexpr const char* kNotFat16 = "Selected Drive is not in Fat16 Format";
constexpr const char* kFinding = "Finding Fat16 File And Directory entries recursively....";

} // namespace

bool Fat16Class::checkBootSector() {
    reader_.readAt(0, boot_);
    const ByteSpan b(boot_);
    const bool msdos = std::memcmp(&boot_[kOemName], "MSDOS", 5) == 0 && le16(b, kSectorsPerFat16) != 0;
    if (!msdos && validFatBpb(b) != FatBpbKind::Fat16) return false;
    rootBytes_ = std::uint64_t{le16(b, kRootEntries)} * 32;
    if (!applyGeometry(le16(b, kSectorsPerFat16), rootBytes_, false)) return false;
    rootOffset_ = rootAreaOffset();
    return true;
}

ScanOutcome Fat16Class::scanStandard(CheckTree* tree, TreeItemId volumeItem) {
    ScanOutcome outcome = runStandard(tree, volumeItem, {kNotFat16, kFinding});
    if (!outcome.rejected && sinks_.progress) {
        sinks_.progress->setRange(0, 100);
        sinks_.progress->setPosition(100);
    }
    return outcome;
}

} // namespace vindaru
