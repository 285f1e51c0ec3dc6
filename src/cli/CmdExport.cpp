// vindaru-cli export: the whole virtual disk as one raw image file in FOLDER, named after the
// image like the wizard's "Save Image" does. A progress bar on stderr when that is a terminal,
// the status texts otherwise; the path written goes to stdout. Ctrl-C stops after the current
// piece and leaves the partial file, as the wizard's Stop does.
#include <csignal>
#include <filesystem>
#include <iostream>

#include "cli/CliCommand.h"
#include "cli/CliDamage.h"
#include "cli/CliImage.h"
#include "cli/CliSinks.h"
#include "image/DiskExport.h"
#include "image/ImageChain.h"

namespace vindaru::cli {

namespace {

// The conventional status of a command ended by Ctrl-C.
constexpr int kExitInterrupted = 130;

EngineControl* activeControl = nullptr;

// Only a lock-free atomic store: safe inside a signal handler.
extern "C" void requestStopOnSignal(int) {
    if (activeControl) activeControl->stopRequested.raise();
}

class StopOnInterrupt {
  public:
    explicit StopOnInterrupt(EngineControl& control) {
        activeControl = &control;
        struct sigaction action {};
        action.sa_handler = requestStopOnSignal;
        sigemptyset(&action.sa_mask);
        sigaction(SIGINT, &action, &previousInt_);
        sigaction(SIGTERM, &action, &previousTerm_);
    }
    ~StopOnInterrupt() {
        sigaction(SIGINT, &previousInt_, nullptr);
        sigaction(SIGTERM, &previousTerm_, nullptr);
        activeControl = nullptr;
    }
    StopOnInterrupt(const StopOnInterrupt&) = delete;
    StopOnInterrupt& operator=(const StopOnInterrupt&) = delete;

  private:
    struct sigaction previousInt_ {};
    struct sigaction previousTerm_ {};
};

int runExport(const std::vector<std::string>& args) {
    ArgParser parser(std::string("vindaru-cli export IMAGE FOLDER [--allow-damage] ") + kImageOptionsUsage);
    ImageOptions imageOptions(parser);
    std::string folder;
    parser.positional("FOLDER", folder);
    bool allowDamage = false;
    parser.flag("--allow-damage", allowDamage);
    ImageArgs image;
    if (!imageOptions.parse(args, image)) return parser.exitCode();
    std::error_code ec;
    if (!std::filesystem::is_directory(folder, ec))
        return parser.usageError("FOLDER '" + folder + "' is not a folder");

    CliSession cli;
    Session& session = cli.session;
    // Open once first, so an image that cannot be read is reported with its reader's message
    // before any file is created; the export then builds its own reader, as "Save Image" does.
    if (!openSessionReader(session, image)) return kExitImage;
    const std::vector<std::string> structural = chainStructuralDamage(*session.sessionReader);
    session.clearReader();

    // The target is named after the image's file name whatever form its path was given in.
    const std::string imageForName = std::filesystem::absolute(image.path, ec).string();
    const std::string target = DiskExport::chooseTarget(folder, ec ? image.path : imageForName);

    CliProgressSink bar;
    bar.setUnit(ProgressUnit::bytes(kSectorSize)); // the export counts sectors
    CliStatusSink status(&bar);
    EngineControl control;
    ExportResult result;
    {
        StopOnInterrupt stopOnInterrupt(control);
        result = DiskExport().run(session, image.choices, image.path, target, status, bar,
                                  cli.messages, control);
    }
    bar.finish(result.completed);
    status.flush();

    if (result.completed) {
        std::cout << result.path << "\n";
        return reportDamage(result.damage, structural, allowDamage);
    }
    if (!result.path.empty())
        std::cerr << "vindaru-cli: the export did not complete: " << result.bytesWritten << " of "
                  << result.diskBytes << " bytes are in " << result.path << "\n";
    return result.stopped ? kExitInterrupted : kExitImage;
}

const CommandRegistrar registrar(CliCommand{
    "export", "export IMAGE FOLDER [--allow-damage]   the whole virtual disk as a raw image file in FOLDER",
    runExport});

} // namespace

} // namespace vindaru::cli
