// The NTFS scan page's Advanced mode: the parser and choices come from the advance options page.
#include <cctype>

#include "browser/VolumeScanLogic.h"
#include "fs/ntfs/ntfs.h"

namespace vindaru {

namespace {

constexpr const char* kAdvancedCompleted = "Scanning process completed.";
constexpr const char* kScanCompleted = "Scanning process completed...";
// A sectors-per-cluster choice above this is not a number the list offers; it is ignored.
constexpr std::uint64_t kMaxSectorsPerCluster = 1u << 16;

// The selected text as a number; 0 when it is not one.
std::uint64_t sectorsFromText(const std::string& text) {
    std::uint64_t value = 0;
    for (char c : text) {
        if (!std::isdigit(static_cast<unsigned char>(c))) break;
        value = value * 10 + static_cast<std::uint64_t>(c - '0');
        if (value > kMaxSectorsPerCluster) return 0;
    }
    return value;
}

} // namespace

void VolumeScanLogic::takeAdvancedParser(std::shared_ptr<ntfs> parser, AdvancedChoice choice) {
    ntfs_ = std::move(parser);
    advancedChoice_ = std::move(choice);
}

void VolumeScanLogic::runNtfsAdvanced() {
    ntfs& parser = *ntfs_;
    parser.control.stopRequested = false;
    tree_.deleteAllItems();
    insertVolumeItem();
    parser.attachTree(&tree_, volumeItem_);
    parser.scanMode = kScanModeAdvanced;
    parser.clearEntries();
    parser.runsFromCandidate(advancedChoice_.candidate);
    if (const std::uint64_t sectors = sectorsFromText(advancedChoice_.sectorsPerClusterText);
        sectors > 0)
        parser.clusterSize = sectors * kSectorSize;
    parser.readMftByRuns();
    parser.parseAllEntries();
    if (auto root = view_->rootEntry()) tree_.setItemData(volumeItem_, *root);
    commonEnd(kScanCompleted, kAdvancedCompleted);
}

} // namespace vindaru
