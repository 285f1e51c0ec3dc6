// vindaru-cli candidates: the Advanced mode's candidate search on a damaged volume, and the lists
// the advance options page would offer ("MFT_ENTRY:0", "FAT32_ENTRY:0", ...), one item per line;
// exFAT adds its heap list after a "Heap Offset :" line. The count message goes to stderr like
// every message box; `--clusters` adds the sectors-per-cluster list.
#include <iostream>

#include "cli/CliCommand.h"
#include "cli/CliImage.h"
#include "cli/CliSinks.h"
#include "cli/CliVolume.h"
#include "pages/AdvanceOptionsLogic.h"
#include "pages/RecoveryModeLogic.h"

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
    AdvanceOptionsLogic logic(session.sessionReader.get(), volume,
                              static_cast<std::int64_t>(candidateLimitFromText(maxText)),
                              AdvanceSinks{status, progress, messages});
    switch (logic.prepare()) {
    case AdvanceOptionsLogic::Prepared::Ready:
        break;
    case AdvanceOptionsLogic::Prepared::NoReader:
        return kExitImage;
    default:
        std::cerr << "vindaru-cli: the candidate search is not available for a "
                  << volume.fileSystemName << " volume\n";
        return kExitUsage;
    }
    logic.runSearch();
    progress.finish();
    status.flush();
    for (const std::string& item : logic.candidateItems())
        std::cout << item << "\n";
    if (logic.heapListVisible()) {
        std::cout << kHeapListLabel << "\n";
        for (const std::string& item : logic.heapItems())
            std::cout << item << "\n";
    }
    if (clusters) {
        std::cout << kClusterListLabel << "\n";
        for (const std::string& item : logic.clusterItems())
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
