#include "fs/fat/Fat16Class.h"

#include <cstring>

#include "common/ByteLoader.h"
#include "fs/fat/FatBootFields.h"
#include "fs/fat/FatProbe.h"

namespace vindaru {

using namespace fatboot;

namespace {

constexpr const char* kNotFat16 = "Selected Drive is not in Fat16 Format";
constexpr const char* kFinding = "Finding Fat16 File And Directory entries recursively....";

// A FAT16 FAT begins with the media byte's entry and the end-of-chain entry of cluster 1.
constexpr std::uint8_t kFatStart[] = {0xF8, 0xFF, 0xFF, 0xFF};
constexpr std::uint8_t kFatStartMask[] = {0xFF, 0xFF, 0xFF, 0xFF};
constexpr std::uint64_t kClusterChoices[] = {4, 8, 16, 2, 32, 64, 128};

const FatDirectoryParser::AdvancedRules kRules{
    kFatStart,
    kFatStartMask,
    "Finding Fat entries....",
    false,
    "FAT_ENTRY:%d",
    "Total fat16 Entries Found:",
    kClusterChoices,
    "Number of FAT-ENTRY found = %d . Please select the choice from combo box and click Parse button to proceed.",
    nullptr,
    "Maintaining Tree Structure for Tree Control",
    2, // a found directory: its first cluster and one more
};

} // namespace

bool Fat16Class::checkBootSector() {
    reader_.readAt(0, boot_);
    const ByteSpan b(boot_);
    const bool msdos = std::memcmp(&boot_[kOemName], "MSDOS", 5) == 0 && le16(b, kSectorsPerFat16) != 0;
    if (!msdos && validFatBpb(b) != FatBpbKind::Fat16) return false;
    rootBytes_ = std::uint64_t{le16(b, kRootEntries)} * 32;
    return applyGeometry(le16(b, kSectorsPerFat16), rootBytes_, false);
}

const FatDirectoryParser::AdvancedRules& Fat16Class::advancedRules() const { return kRules; }

ScanOutcome Fat16Class::scanStandard(CheckTree* tree, TreeItemId volumeItem) {
    ScanOutcome outcome = runStandard(tree, volumeItem, {kNotFat16, kFinding});
    if (!outcome.rejected && sinks_.progress) {
        sinks_.progress->setRange(0, 100);
        sinks_.progress->setPosition(100);
    }
    return outcome;
}

} // namespace vindaru
