// vindaru-cli candidates: the Advanced mode's candidate search on a damaged volume
// (browser/CandidateSearch), and the lists the advance options page would offer ("MFT_ENTRY:0", "FAT32_ENTRY:0", ...), one item per line;
// exFAT adds its heap list after a "Heap Offset :" line. The count message goes to stderr like
// every message box; `--clusters` adds the sectors-per-cluster list.
#include <iostream>

#include "browser/CandidateSearch.h"
#include "cli/CliCommand.h"
#include "cli/CliImage.h"
#include "cli/CliSinks.h"
#include "cli/CliVolume.h"

namespace vindaru::cli {

namespace {

int runCandidates(const std::vector<std::string>& args) {
    ArgParser parser(std::string("vindaru-cli candidates IMAGE ") + kVolumeOptionsUsage +
                     " [--max N] [--clusters] " + kImageOptionsUsage);
    ImageOptions imageOptions(parser);
    VolumeOptions volumeOptions(parser);
    std::string maxText;
    bool clusters = false;
    parser.option("--max", maxText).flag("--clusters", clusters);
    if (!parser.parse(args)) return parser.exitCode();
    ImageArgs image;
    VolumeArgs volumeArgs;
    if (!imageOptions.resolve(image) || !volumeOptions.resolve(volumeArgs))
        return parser.exitCode();

    CliMessageSink messages;
    Session session;
    session.messages = &messages;
    if (!openSessionReader(session, image)) return kExitImage;
    VolumeRecord volume;
    if (!selectVolume(session, volumeArgs, volume)) return kExitNotFound;

    CliProgressSink progress(CliProgressSink::stderrIsTerminal());
    CliStatusSink status(progress.active() ? &progress : nullptr);
    CandidateSearch search(session.sessionReader.get(), volume, candidateLimitFromText(maxText),
                           ScanSinks{&status, &progress, &messages});
    switch (search.prepare()) {
    case CandidateSearch::Prepared::Ready:
        break;
    case CandidateSearch::Prepared::NoReader:
        return kExitImage;
    default:
        std::cerr << "vindaru-cli: the candidate search is not available for a "
                  << volume.fileSystemName << " volume\n";
        return kExitUsage;
    }
    const AdvancedLists& lists = search.run();
    progress.finish();
    status.flush();
    for (const std::string& item : lists.candidates)
        std::cout << item << "\n";
    if (lists.heapListShown) {
        std::cout << kHeapListLabel << "\n";
        for (const std::string& item : lists.heaps)
            std::cout << item << "\n";
    }
    if (clusters) {
        std::cout << kClusterListLabel << "\n";
        for (const std::string& item : lists.clusters)
            std::cout << item << "\n";
    }
    return kExitOk;
}

const CommandRegistrar registrar(CliCommand{
    "candidates",
    "candidates IMAGE VOLUME [--max N] [--clusters]   the Advanced mode's MFT or FAT (and heap) candidates",
    runCandidates});

} // namespace

} // namespace vindaru::cli
