#include "cli/CliScanMode.h"

#include <algorithm>
#include <iostream>

#include "browser/RecoveryModeLogic.h"
#include "browser/VolumeScanLogic.h"
#include "cli/CliBrowse.h"
#include "common/DisplayFormat.h"

namespace vindaru::cli {

int scanModeByName(const std::string& name) {
    if (name == "standard") return kScanModeStandard;
    if (name == "advanced") return kScanModeAdvanced;
    if (name == "deep") return kScanModeDeep;
    return 0;
}

ScanModeOptions::ScanModeOptions(ArgParser& parser) : parser_(parser) {
    parser.option("--mode", mode_)
        .option("--max", max_)
        .option("--candidate", candidate_, candidateGiven_)
        .option("--cluster-sectors", clusterSectors_)
        .flag("--formatted", formatted_);
}

bool ScanModeOptions::resolve(ScanModeArgs& out) {
    out = ScanModeArgs{};
    out.scanMode = scanModeByName(mode_);
    if (out.scanMode == 0) {
        parser_.usageError("--mode takes standard, advanced or deep, not '" + mode_ + "'");
        return false;
    }
    if (out.scanMode != kScanModeAdvanced &&
        (!max_.empty() || candidateGiven_ || !clusterSectors_.empty())) {
        parser_.usageError("--max, --candidate and --cluster-sectors belong to --mode advanced");
        return false;
    }
    out.maxText = max_;
    out.candidate = candidate_;
    out.clusterSectors = clusterSectors_;
    out.driveFormatted = formatted_;
    return true;
}

int runAdvancedSearch(readWriteInterface& reader, const VolumeRecord& volume,
                      const ScanModeArgs& args, StatusSink& status, ProgressSink& progress,
                      MessageSink& messages, std::shared_ptr<VolumeParser>& parser,
                      AdvancedChoice& choice) {
    AdvanceOptionsLogic page(&reader, volume,
                             static_cast<std::int64_t>(candidateLimitFromText(args.maxText)),
                             AdvanceSinks{status, progress, messages}, args.driveFormatted);
    if (page.prepare() != AdvanceOptionsLogic::Prepared::Ready) {
        std::cerr << "vindaru-cli: the Advanced mode is not available for a "
                  << volume.fileSystemName << " volume\n";
        return kExitNotFound;
    }
    page.runSearch();
    const auto candidates = page.candidateItems();
    if (args.candidate >= candidates.size()) {
        std::cerr << (candidates.empty()
                          ? std::string("vindaru-cli: no MFT candidate was found\n")
                          : formatText("vindaru-cli: the search found %zu candidates; there is no "
                                       "candidate %llu\n",
                                       candidates.size(),
                                       static_cast<unsigned long long>(args.candidate)));
        return kExitNotFound;
    }
    page.selectCandidate(static_cast<int>(args.candidate));
    if (!args.clusterSectors.empty()) {
        const auto clusters = page.clusterItems();
        const auto it = std::find(clusters.begin(), clusters.end(), args.clusterSectors);
        if (it == clusters.end()) {
            std::cerr << "vindaru-cli: --cluster-sectors takes one of";
            for (const auto& c : clusters)
                std::cerr << " " << c;
            std::cerr << "\n";
            return kExitUsage;
        }
        page.selectCluster(static_cast<int>(it - clusters.begin()));
    }
    choice = page.choice();
    parser = page.sharedParser();
    return kExitOk;
}

} // namespace vindaru::cli
