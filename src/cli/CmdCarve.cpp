// vindaru-cli carve: the raw recovery page's carve (raw/VolumeCarve) on the command line. The
// volume is carved with the
// default signatures (unless --no-default) and every --signatures FILE (with --free-space only
// where its file system's allocation map shows no live file), the finds are listed as
// the page's tree holds them (each whole or partial), their total size is told before anything
// is written, with --out every find is saved as the page saves checked finds, and --report FILE
// writes one JSON line per find with its MD5.
#include <fstream>
#include <iostream>

#include "browser/UsedSpace.h"
#include "cli/CliCommand.h"
#include "cli/CliImage.h"
#include "cli/CliJson.h"
#include "cli/CliSinks.h"
#include "cli/CliVolume.h"
#include "common/DisplayFormat.h"
#include "raw/DefaultSignatures.h"
#include "raw/FindSaver.h"
#include "raw/VolumeCarve.h"

namespace vindaru::cli {

namespace {

// 4: a find could not be written; 5: a settings file was refused; 6: --free-space, but the
// volume's free space cannot be told.
constexpr int kExitSaveFailed = 4;
constexpr int kExitSignatures = 5;
constexpr int kExitFreeSpaceUnknown = 6;

// --signatures may be given several times; the parser keeps one value per option, so the
// occurrences are taken out first.
std::vector<std::string> takeRepeated(std::vector<std::string>& args, const std::string& name,
                                      bool& missingValue) {
    std::vector<std::string> values;
    std::vector<std::string> rest;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--") {
            rest.insert(rest.end(), args.begin() + static_cast<std::ptrdiff_t>(i), args.end());
            break;
        }
        if (args[i] == name) {
            if (i + 1 >= args.size()) {
                missingValue = true;
                break;
            }
            values.push_back(args[++i]);
        } else if (args[i].rfind(name + "=", 0) == 0) {
            values.push_back(args[i].substr(name.size() + 1));
        } else {
            rest.push_back(args[i]);
        }
    }
    args = rest;
    return values;
}

int runCarve(const std::vector<std::string>& argsIn) {
    const std::string usage = std::string("vindaru-cli carve IMAGE ") + kVolumeOptionsUsage +
                              " [--out DIR] [--report FILE] [--signatures FILE]... [--no-default] [--free-space] [--json] " +
                              kImageOptionsUsage;
    ArgParser parser(usage);
    std::vector<std::string> args = argsIn;
    bool missingValue = false;
    const std::vector<std::string> signatureFiles = takeRepeated(args, "--signatures", missingValue);
    ImageOptions imageOptions(parser);
    VolumeOptions volumeOptions(parser);
    std::string out;
    std::string reportPath;
    bool noDefault = false;
    bool freeSpace = false;
    bool json = false;
    parser.option("--out", out).option("--report", reportPath).flag("--no-default", noDefault).flag("--json", json);
    parser.flag("--free-space", freeSpace);
    if (!parser.parse(args)) return parser.exitCode();
    if (missingValue) return parser.usageError("--signatures needs a FILE");
    ImageArgs image;
    VolumeArgs volumeArgs;
    if (!imageOptions.resolve(image) || !volumeOptions.resolve(volumeArgs)) return parser.exitCode();
    if (noDefault && signatureFiles.empty())
        return parser.usageError("--no-default needs at least one --signatures FILE");

    CliSession cli;
    Session& session = cli.session;
    if (!openSessionReader(session, image)) return kExitImage;
    VolumeRecord volume;
    if (!selectVolume(session, volumeArgs, volume)) return kExitNotFound;

    CliProgressSink progress;
    progress.setUnit(ProgressUnit::bytes(kCarveChunkBytes)); // the carving counts chunks
    CliStatusSink status(progress.active() ? &progress : nullptr);
    CheckTree tree;
    VolumeCarve carving(session, volume, tree, CarveSinks{status, progress, cli.messages});
    if (!noDefault) carving.loadDefaultSignatures(defaultSignaturePath());
    for (const std::string& file : signatureFiles)
        if (!carving.loadSignatureFile(file)) return kExitSignatures;
    switch (carving.prepare()) {
    case VolumeCarve::Prepared::Ready:
        break;
    case VolumeCarve::Prepared::ZeroSize:
        return kExitUsage;
    case VolumeCarve::Prepared::NoReader:
        return kExitImage;
    }
    if (freeSpace) carving.usedSpace = usedSpaceOf;
    const VolumeCarve::Carve carved = carving.carve();
    progress.finish(carved == VolumeCarve::Carve::Carved);
    status.flush();
    if (carved == VolumeCarve::Carve::FreeSpaceUnknown) return kExitFreeSpaceUnknown;
    if (carved == VolumeCarve::Carve::EngineFailed) return kExitNotFound; // the engine said why

    const std::shared_ptr<myJpg> engine = carving.engine();
    const auto& finds = engine->foundFiles();
    // What a save of every find takes, before anything is written.
    std::cerr << finds.size() << " find(s), " << formatSizeText(engine->foundBytes()) << " ("
              << engine->foundBytes() << " bytes)\n";
    std::vector<std::string> savedNames(finds.size());
    int rc = kExitOk;
    if (!reportPath.empty()) {
        std::ofstream report(reportPath, std::ios::trunc);
        readWriteInterface& reader = *session.sessionReader;
        for (const myJpg::FoundFile& f : finds) {
            const std::string md5 = FindSaver::md5Of(reader, f.start, f.size);
            report << "{\"offset\": " << f.start << ", \"size\": " << f.size
                   << ", \"type\": " << jsonString(engine->extensionOf(f)) << ", \"state\": \""
                   << findStateText(f.state) << "\", \"md5\": " << (md5.empty() ? "null" : jsonString(md5))
                   << "}\n";
            if (md5.empty()) rc = kExitSaveFailed;
        }
        report.flush();
        if (!report) {
            std::cerr << "vindaru-cli: cannot write the report '" << reportPath << "'\n";
            return kExitSaveFailed;
        }
        if (rc != kExitOk) std::cerr << "vindaru-cli: some finds could not be read for the report\n";
    }
    if (!out.empty()) {
        // Every find, in the order they were found.
        std::vector<VolumeCarve::Find> all;
        for (const myJpg::FoundFile& f : finds) all.push_back(VolumeCarve::Find{engine, f});
        const VolumeCarve::SaveResult saved = carving.save(out, all);
        if (!saved.folderOpened) {
            std::cerr << "vindaru-cli: cannot create or open the output folder '" << out << "'\n";
            return kExitSaveFailed;
        }
        savedNames = saved.names;
        if (saved.failed > 0) {
            std::cerr << "vindaru-cli: " << saved.failed << " find(s) could not be written\n";
            rc = kExitSaveFailed;
        }
        std::cerr << "Saved " << saved.written() << " file(s) to " << out << "\n";
    }

    if (json) std::cout << "[";
    for (std::size_t i = 0; i < finds.size(); ++i) {
        const myJpg::FoundFile& f = finds[i];
        const carvingRule& rule = engine->rules()[f.rule];
        const std::string name = engine->itemText(f);
        if (json) {
            std::cout << (i ? ",\n " : "\n ") << "{\"start\": " << f.start << ", \"size\": " << f.size
                      << ", \"category\": " << jsonString(rule.category)
                      << ", \"name\": " << jsonString(name) << ", \"state\": \"" << findStateText(f.state) << "\"";
            if (!out.empty()) std::cout << ", \"file\": " << jsonString(savedNames[i]);
            std::cout << "}";
        } else {
            std::cout << f.start << "\t" << f.size << "\t" << rule.category << "\t" << name << "\t"
                      << findStateText(f.state);
            if (!out.empty()) std::cout << "\t" << savedNames[i];
            std::cout << "\n";
        }
    }
    if (json) std::cout << (finds.empty() ? "]\n" : "\n]\n");
    return rc;
}

const CommandRegistrar registrar(CliCommand{
    "carve",
    "carve IMAGE VOLUME [--out DIR] [--report FILE] [--signatures FILE]... [--no-default] [--free-space] [--json]   "
    "carve files by signatures as the raw recovery page does",
    runCarve});

} // namespace

} // namespace vindaru::cli
