// vindaru-cli save: the scan page's Save on the command line. Each PATH (default: the volume
// item, i.e. the whole volume) is saved as the page does: a folder's content recursively after
// the count question (answered Yes here, and printed), a file on its own.
#include <iostream>

#include "browser/OutputFolder.h"
#include "cli/ArgParser.h"
#include "cli/CliBrowse.h"
#include "cli/CliCommand.h"

namespace vindaru::cli {

namespace {

// 4: something asked for was not (fully) written.
constexpr int kExitSaveFailed = 4;

int runSave(const std::vector<std::string>& argsIn) {
    const std::string usage = std::string("vindaru-cli save IMAGE ") + kVolumeOptionsUsage +
                              " --out DIR " + kScanModeOptionsUsage + " [PATH...] " + kImageOptionsUsage;
    const std::vector<std::string>& args = argsIn;
    ArgParser parser(usage);
    ImageOptions imageOptions(parser);
    VolumeOptions volumeOptions(parser);
    ScanModeOptions modeOptions(parser);
    std::string out;
    bool yes = true; // --yes is implied; accepted for symmetry with other commands
    parser.option("--out", out).flag("--yes", yes);
    // PATH... : the positionals after IMAGE, taken one by one.
    std::vector<std::string> paths(args.size());
    for (auto& p : paths) parser.positional("PATH", p, false);
    if (!parser.parse(args)) return parser.exitCode();
    ImageArgs image;
    VolumeArgs volumeArgs;
    if (!imageOptions.resolve(image) || !volumeOptions.resolve(volumeArgs))
        return parser.exitCode();
    if (out.empty()) return parser.usageError("--out DIR is required");
    ScanModeArgs scanMode;
    if (!modeOptions.resolve(scanMode)) return parser.exitCode();
    std::erase(paths, std::string());
    if (paths.empty()) paths.push_back("/");

    if (!OutputFolder::openChosen(out)) {
        std::cerr << "vindaru-cli: cannot create or open the output folder '" << out << "'\n";
        return kExitSaveFailed;
    }
    CliBrowse browse(true);
    if (int rc = browse.openAndScan(image, volumeArgs, scanMode); rc != kExitOk) return rc;
    EntryView& view = browse.view();
    EntrySaver& saver = *browse.logic().saver();
    int rc = kExitOk;
    for (const auto& path : paths) {
        auto target = browse.resolve(path);
        if (!target) {
            std::cerr << "vindaru-cli: no entry at '" << path << "'\n";
            rc = kExitNotFound;
            continue;
        }
        if (target->volumeItem && !view.rootEntry()) {
            std::cerr << "vindaru-cli: the volume has no root folder; save its folders by path\n";
            rc = kExitNotFound;
            continue;
        }
        const EntryRef entry = target->volumeItem ? *view.rootEntry() : target->entry;
        if (view.isDirectoryForSave(entry, true)) {
            if (saver.saveFolder(entry, out) != EntrySaver::FolderResult::Saved)
                rc = kExitSaveFailed;
        } else if (!saver.saveSingleFile(entry, out)) {
            std::cerr << "vindaru-cli: '" << path << "' could not be written\n";
            rc = kExitSaveFailed;
        }
    }
    return rc;
}

const CommandRegistrar registrar(CliCommand{
    "save",
    "save IMAGE VOLUME --out DIR [PATH...]   save folders (recursively) and files as the "
    "scan page does",
    runSave});

} // namespace

} // namespace vindaru::cli
