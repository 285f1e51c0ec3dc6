#include "fs/fat/Fat32Class.h"

#include <cstring>

#include "common/ByteLoader.h"
#include "fs/fat/FatBootFields.h"
#include "fs/fat/FatProbe.h"

namespace vindaru {

using namespace fatboot;

namespace {

constexpr const char* kNotFat32 = "Selected Drive is not in Fat32 Format";
constexpr const char* kFinding = "Finding Fat32 File And Directory entries recursively....";
// Where format tools put the boot sector's backup.
constexpr std::uint64_t kBackupBootSector = 6;

// A FAT32 FAT begins with the media byte's entry (0x0FFFFFF8) and cluster 1's end-of-chain
// entry; the upper four bits of that one are reserved and some tools leave them clear.
constexpr std::uint8_t kFatStart[] = {0xF8, 0xFF, 0xFF, 0x0F, 0xFF, 0xFF, 0xFF, 0xFF};
constexpr std::uint8_t kFatStartMask[] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x0F};
constexpr std::uint64_t kClusterChoices[] = {2, 4, 16, 32, 64, 8};

const FatDirectoryParser::AdvancedRules kRules{
    kFatStart,
    kFatStartMask,
    nullptr,
    true,
    "FAT32_ENTRY:%d",
    "",
    kClusterChoices,
    "Number of FAT32-ENTRY found = %d . Please select the choice from combo box and click Parse button to proceed.",
    "NO FAT  FAT32-ENTRY found ..",
    "Maintaining TreeStructure for Tree Control",
    UINT64_MAX, // a found directory: its whole chain
};

} // namespace

bool Fat32Class::checkBootSectorAt(std::uint64_t offset) {
    reader_.readAt(offset, boot_);
    const ByteSpan b(boot_);
    const bool oem = std::memcmp(&boot_[kOemName], "MSDOS", 5) == 0 || std::memcmp(&boot_[kOemName], "BSD", 3) == 0;
    if (!(oem && le16(b, kSectorsPerFat16) == 0) && validFatBpb(b) != FatBpbKind::Fat32) return false;
    rootCluster_ = le32(b, kRootCluster);
    return applyGeometry(le32(b, kSectorsPerFat32), 0, true);
}

bool Fat32Class::checkBootSector() { return checkBootSectorAt(0); }

bool Fat32Class::checkBackupBootSector() { return checkBootSectorAt(kBackupBootSector * kBootSectorBytes); }

const FatDirectoryParser::AdvancedRules& Fat32Class::advancedRules() const { return kRules; }

ScanOutcome Fat32Class::scanStandard(CheckTree* tree, TreeItemId volumeItem) {
    ScanOutcome outcome = runStandard(tree, volumeItem, {kNotFat32, kFinding});
    if (!outcome.rejected) outcome.recycle = RecycleLayout::Flat;
    return outcome;
}

} // namespace vindaru
