// vindaru-cli search: the scan page's search box on the command line. Rows are printed as the
// page lists them (path, creation, access and modification texts, size text, attribute text);
// the status texts and the messages go to stderr.
#include <cstdio>
#include <iostream>

#include "cli/ArgParser.h"
#include "cli/CliBrowse.h"
#include "cli/CliCommand.h"
#include "cli/CliJson.h"
#include "cli/CliText.h"

namespace vindaru::cli {

namespace {

// 5: the pattern is not a valid expression.
constexpr int kExitBadPattern = 5;

void printRow(const SearchRow& row, bool json, bool& first) {
    if (json) {
        std::printf("%s\n  {\"path\": %s, \"deleted\": %s, \"creationTime\": %s, \"accessTime\": %s, "
                    "\"modificationTime\": %s, \"size\": %s, \"attributes\": %s}",
                    first ? "" : ",", jsonString(row.path).c_str(), row.deleted ? "true" : "false",
                    jsonString(row.texts.creation).c_str(), jsonString(row.texts.access).c_str(),
                    jsonString(row.texts.modification).c_str(), jsonString(row.sizeText).c_str(),
                    jsonString(row.texts.attributes).c_str());
    } else {
        std::printf("%s\t%s\t%s\t%s\t%s\t%s%s\n", escapeControls(row.path).c_str(), row.texts.creation.c_str(),
                    row.texts.access.c_str(), row.texts.modification.c_str(), row.sizeText.c_str(),
                    row.texts.attributes.c_str(), row.deleted ? "\t(deleted)" : "");
    }
    first = false;
}

int runSearch(const std::vector<std::string>& args) {
    const std::string usage = std::string("vindaru-cli search IMAGE ") + kVolumeOptionsUsage +
                              " PATTERN " + kScanModeOptionsUsage + " [--json] " + kImageOptionsUsage;
    ArgParser parser(usage);
    ImageOptions imageOptions(parser);
    VolumeOptions volumeOptions(parser);
    ScanModeOptions modeOptions(parser);
    std::string pattern;
    bool json = false;
    parser.positional("PATTERN", pattern).flag("--json", json);
    if (!parser.parse(args)) return parser.exitCode();
    ImageArgs image;
    VolumeArgs volumeArgs;
    if (!imageOptions.resolve(image) || !volumeOptions.resolve(volumeArgs)) return parser.exitCode();
    ScanModeArgs scanMode;
    if (!modeOptions.resolve(scanMode)) return parser.exitCode();

    CliBrowse browse(true);
    if (int rc = browse.openAndScan(image, volumeArgs, scanMode); rc != kExitOk) return rc;
    browse.progress().setUnit(ProgressUnit::items("files"));
    bool first = true;
    if (json) std::fputs("[", stdout);
    const auto result = browse.session().search(pattern, [&](const SearchRow& row) { printRow(row, json, first); });
    if (json) std::fputs(first ? "]\n" : "\n]\n", stdout);
    std::fflush(stdout);
    return result == EntrySearch::Result::InvalidPattern ? kExitBadPattern : kExitOk;
}

const CommandRegistrar registrar(CliCommand{
    "search",
    "search IMAGE VOLUME PATTERN [--json]   list the files whose names match PATTERN "
    "(a case-insensitive regular expression)",
    runSearch});

} // namespace

} // namespace vindaru::cli
