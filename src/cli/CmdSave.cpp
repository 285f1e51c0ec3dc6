// vindaru-cli save: the scan page's Save on the command line. Each PATH (default: the volume
// item, i.e. the whole volume) is saved as the page does: a folder's content recursively after
// the count question (answered Yes here), a file on its own. One summary line ends the command;
// --manifest writes one JSON object per file reached, with the digests of what was written.
#include <cstdio>
#include <iostream>

#include "browser/OutputFolder.h"
#include "cli/ArgParser.h"
#include "cli/CliBrowse.h"
#include "cli/CliCommand.h"
#include "cli/CliJson.h"
#include "cli/CliText.h"

namespace vindaru::cli {

namespace {

// 4: something asked for was not (fully) written.
constexpr int kExitSaveFailed = 4;

// Counts what the saver reports and writes the manifest's lines.
class SaveReport {
public:
    SaveReport(CliBrowse& browse, std::FILE* manifest) : view_(browse.view()), manifest_(manifest) {}

    // Files reached from here on are below `targetPath` (the printed path of what is saved).
    void setTarget(const std::string& targetPath, bool savingAFolder) {
        targetPath_ = targetPath;
        folder_ = savingAFolder;
    }

    void add(const SavedFile& saved) {
        ++files_;
        bytes_ += saved.bytesWritten;
        if (!saved.readWhole) ++incomplete_;
        if (saved.unreadableBytes != 0) ++damaged_;
        const bool guessed = view_.isPathGuessed(saved.entry);
        if (guessed) ++guessed_;
        if (!manifest_) return;
        std::string path = targetPath_;
        if (folder_) {
            for (EntryRef folder : *saved.folders) path += "/" + pathComponent(view_, folder);
            path += "/" + pathComponent(view_, saved.entry);
        }
        const EntryTimes times = view_.times(saved.entry);
        const auto iso = times.known ? isoTime(times.modificationSeconds) : std::nullopt;
        const bool created = !saved.savedAs.empty();
        const std::string recoverable = recoverableValue(view_.recoverableShare(saved.entry));
        std::fprintf(manifest_,
                     "{\"path\": %s, \"saved_as\": %s, \"size\": %llu, \"bytes_written\": %llu, "
                     "\"md5\": %s, \"sha256\": %s, \"mtime\": %s, \"mtime_iso\": %s, \"deleted\": %s, "
                     "\"complete\": %s, \"unreadable_bytes\": %llu, \"path_guessed\": %s, \"recoverable\": %s}\n",
                     jsonString(path).c_str(), created ? jsonString(saved.savedAs.string()).c_str() : "null",
                     static_cast<unsigned long long>(view_.byteSize(saved.entry)),
                     static_cast<unsigned long long>(saved.bytesWritten),
                     created ? jsonString(saved.md5).c_str() : "null",
                     created ? jsonString(saved.sha256).c_str() : "null",
                     iso ? std::to_string(times.modificationSeconds).c_str() : "null",
                     iso ? jsonString(*iso).c_str() : "null", view_.isDeleted(saved.entry) ? "true" : "false",
                     saved.readWhole ? "true" : "false",
                     static_cast<unsigned long long>(saved.unreadableBytes), guessed ? "true" : "false",
                     recoverable.empty() ? "null" : recoverable.c_str());
    }

    std::uint64_t incomplete() const { return incomplete_; }
    std::uint64_t damaged() const { return damaged_; }
    void printSummary() const {
        std::printf("saved %llu files, %llu bytes, %llu incomplete", static_cast<unsigned long long>(files_),
                    static_cast<unsigned long long>(bytes_), static_cast<unsigned long long>(incomplete_));
        // Deep scans of damaged volumes may have had to guess some files' folders.
        if (guessed_ != 0)
            std::printf(", %llu in folders guessed from disk order", static_cast<unsigned long long>(guessed_));
        std::printf("\n");
    }

private:
    EntryView& view_;
    std::FILE* manifest_;
    std::string targetPath_;
    bool folder_ = false;
    std::uint64_t guessed_ = 0;
    std::uint64_t files_ = 0;
    std::uint64_t bytes_ = 0;
    std::uint64_t incomplete_ = 0;
    std::uint64_t damaged_ = 0;
};

int runSave(const std::vector<std::string>& argsIn) {
    const std::string usage = std::string("vindaru-cli save IMAGE ") + kVolumeOptionsUsage +
                              " --out DIR [--manifest FILE] " + kScanModeOptionsUsage + " [PATH...] " +
                              kImageOptionsUsage;
    const std::vector<std::string>& args = argsIn;
    ArgParser parser(usage);
    ImageOptions imageOptions(parser);
    VolumeOptions volumeOptions(parser);
    ScanModeOptions modeOptions(parser);
    std::string out;
    std::string manifestPath;
    bool yes = true; // --yes is implied; accepted for symmetry with other commands
    parser.option("--out", out).option("--manifest", manifestPath).flag("--yes", yes);
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
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> manifest(nullptr, &std::fclose);
    if (!manifestPath.empty()) {
        manifest.reset(std::fopen(manifestPath.c_str(), "w"));
        if (!manifest) {
            std::cerr << "vindaru-cli: cannot write the manifest '" << manifestPath << "'\n";
            return kExitSaveFailed;
        }
    }
    CliBrowse browse(true);
    if (int rc = browse.openAndScan(image, volumeArgs, scanMode); rc != kExitOk) return rc;
    EntryView& view = browse.view();
    EntrySaver& saver = *browse.session().saver();
    SaveReport report(browse, manifest.get());
    // Digests are taken only for a manifest, which is where they are kept.
    saver.reportSavedFiles([&](const SavedFile& saved) { report.add(saved); }, manifest != nullptr);
    browse.progress().setUnit(ProgressUnit::items("files"));
    // The folders read as the save walks them; each file's own reads go to the saver's scope.
    ReadScope walkReads;
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
        const bool folder = view.isDirectoryForSave(entry, true);
        report.setTarget(target->path, folder);
        if (folder) {
            if (saver.saveFolder(entry, out) != EntrySaver::FolderResult::Saved)
                rc = kExitSaveFailed;
        } else if (!saver.saveSingleFile(entry, out)) {
            std::cerr << "vindaru-cli: '" << path << "' could not be written\n";
            rc = kExitSaveFailed;
        }
    }
    browse.progress().finish(true);
    saver.reportSavedFiles({});
    if (manifest && std::fflush(manifest.get()) != 0) {
        std::cerr << "vindaru-cli: the manifest '" << manifestPath << "' could not be written whole\n";
        rc = kExitSaveFailed;
    }
    report.printSummary();
    // Files the damaged parts of the file system held cannot be counted as incomplete: they
    // were never found.
    if (browse.warnOfDamagedListing(walkReads.report()) && rc == kExitOk) rc = kExitSaveFailed;
    if (report.incomplete() > 0) {
        std::cerr << "vindaru-cli: " << report.incomplete() << " files could not be saved whole";
        if (report.damaged() > 0)
            std::cerr << " (" << report.damaged() << " hold bytes from unreadable ranges of the disk, written as zeros)";
        std::cerr << "\n";
        if (rc == kExitOk) rc = kExitSaveFailed;
    }
    return rc;
}

const CommandRegistrar registrar(CliCommand{
    "save",
    "save IMAGE VOLUME --out DIR [--manifest FILE] [PATH...]   save folders (recursively) and "
    "files as the scan page does",
    runSave});

} // namespace

} // namespace vindaru::cli
