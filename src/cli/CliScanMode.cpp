#include "cli/CliScanMode.h"

#include <iostream>

#include "browser/CandidateSearch.h"
#include "browser/FileSystemDrivers.h"
#include "cli/CliCommand.h"
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
        .option("--heap", heap_, heapGiven_)
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
        (!max_.empty() || candidateGiven_ || heapGiven_ || !clusterSectors_.empty())) {
        parser_.usageError("--max, --candidate, --heap and --cluster-sectors belong to --mode advanced");
        return false;
    }
    out.maxText = max_;
    out.candidate = candidate_;
    out.heap = heap_;
    out.clusterSectors = clusterSectors_;
    out.driveFormatted = formatted_;
    return true;
}

int runAdvancedSearch(const ByteSource& disk, const VolumeRecord& volume,
                      const ScanModeArgs& args, StatusSink& status, ProgressSink& progress,
                      MessageSink& messages, std::shared_ptr<VolumeParser>& parser,
                      AdvancedChoice& choice) {
    CandidateSearch search(&disk, volume, candidateLimitFromText(args.maxText),
                           ScanSinks{&status, &progress, &messages}, args.driveFormatted);
    if (search.prepare() != CandidateSearch::Prepared::Ready) {
        std::cerr << "vindaru-cli: the Advanced mode is not available for a "
                  << volume.fileSystemName << " volume\n";
        return kExitNotFound;
    }
    const AdvancedLists& lists = search.run();
    const bool ntfs = fileSystemKind(volume.fileSystemName) == FileSystemKind::Ntfs;
    const auto& candidates = lists.candidates;
    if (args.candidate >= candidates.size()) {
        std::cerr << (candidates.empty()
                          ? formatText("vindaru-cli: no %s candidate was found\n", ntfs ? "MFT" : "FAT")
                          : formatText("vindaru-cli: the search found %zu candidates; there is no "
                                       "candidate %llu\n",
                                       candidates.size(),
                                       static_cast<unsigned long long>(args.candidate)));
        return kExitNotFound;
    }
    AdvancedChoice chosen;
    chosen.candidate = args.candidate;
    const auto& heaps = lists.heaps;
    if (lists.heapListShown) {
        if (args.heap >= heaps.size()) {
            std::cerr << (heaps.empty() ? std::string("vindaru-cli: no heap candidate was found\n")
                                        : formatText("vindaru-cli: the search found %zu heap candidates; "
                                                     "there is no heap candidate %llu\n",
                                                     heaps.size(), static_cast<unsigned long long>(args.heap)));
            return kExitNotFound;
        }
        chosen.heapCandidate = args.heap;
    } else if (args.heap != 0) {
        std::cerr << "vindaru-cli: --heap belongs to exFAT volumes\n";
        return kExitUsage;
    }
    // No --cluster-sectors: the list's first entry, as the page selects it.
    std::optional<std::uint64_t> sectors;
    if (!args.clusterSectors.empty())
        sectors = search.clusterSectorsFor(args.clusterSectors);
    else if (!lists.clusterSectors.empty())
        sectors = lists.clusterSectors.front();
    if (!args.clusterSectors.empty() && !sectors) {
        std::cerr << "vindaru-cli: --cluster-sectors takes one of";
        for (const auto& c : lists.clusters)
            std::cerr << " " << c;
        std::cerr << (ntfs ? "" : fileSystemKind(volume.fileSystemName) == FileSystemKind::ExFat
                                      ? " (or any shift from 0 to 11)"
                                      : " (or any power of two up to 128)")
                  << "\n";
        return kExitUsage;
    }
    chosen.sectorsPerCluster = sectors.value_or(0);
    choice = chosen;
    parser = search.sharedParser();
    return kExitOk;
}

} // namespace vindaru::cli
