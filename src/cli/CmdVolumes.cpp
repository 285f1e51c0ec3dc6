// vindaru-cli volumes: the volume list of a disk image, as the volume list page shows it, from
// the partition tables (--gpt for a GUID partition table) or from a boot-sector scan (--scan),
// both by the page's discovery (volume/VolumeDiscovery).
#include <algorithm>
#include <array>
#include <iostream>

#include "browser/FileSystemDrivers.h"
#include "cli/CliCommand.h"
#include "cli/CliImage.h"
#include "cli/CliJson.h"
#include "cli/CliSinks.h"
#include "cli/CliVolume.h"
#include "common/DisplayFormat.h"
#include "image/readWriteInterface.h"
#include "volume/VolumeDiscovery.h"

namespace vindaru::cli {

namespace {

constexpr const char* kUsage = "vindaru-cli volumes IMAGE [--gpt] [--scan [--start SECTOR] [--end SECTOR] "
                               "[--no-skip]] [--json] ";


// The page's texts, and the exact numbers behind them: a size of 0 sectors means discovery did
// not learn the volume's length.
void printJson(const std::vector<VolumeRecord>& rows) {
    std::cout << "[";
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const VolumeRecord& record = rows[i];
        const std::uint64_t sectors = record.sectorCount;
        std::cout << (i ? ",\n " : "\n ") << "{\"volume\": " << jsonString(record.volumeName)
                  << ", \"fileSystem\": " << jsonString(record.fileSystemName)
                  << ", \"sizeText\": " << jsonString(record.sizeText)
                  << ", \"startSector\": " << record.startSector << ", \"sectorCount\": " << sectors
                  << ", \"sizeBytes\": " << (sectors <= UINT64_MAX / kSectorSize ? sectors * kSectorSize : 0)
                  << ", \"fileSystemKind\": " << jsonString(driverFor(record).jsonKind)
                  << "}";
    }
    std::cout << (rows.empty() ? "]\n" : "\n]\n");
}

// The four columns of the page, padded to their widest text.
void printTable(const std::vector<VolumeRecord>& rows) {
    std::vector<std::array<std::string, 4>> lines = {{"Volume", "File System", "Volume Size", "Start Sector"}};
    for (const VolumeRecord& r : rows)
        lines.push_back({r.volumeName, r.fileSystemName, r.sizeText, std::to_string(r.startSector)});
    std::array<std::size_t, 4> width{};
    for (const auto& line : lines)
        for (std::size_t c = 0; c < 4; ++c) width[c] = std::max(width[c], line[c].size());
    for (const auto& line : lines) {
        std::string text;
        for (std::size_t c = 0; c < 4; ++c) {
            text += line[c];
            if (c < 3) text += std::string(width[c] - line[c].size() + 2, ' ');
        }
        std::cout << text << "\n";
    }
}

int runVolumes(const std::vector<std::string>& args) {
    ArgParser parser(std::string(kUsage) + kImageOptionsUsage);
    ImageOptions imageOptions(parser);
    bool gpt = false;
    bool scan = false;
    bool noSkip = false;
    bool json = false;
    std::uint64_t start = 0;
    std::uint64_t end = 0;
    bool startGiven = false;
    bool endGiven = false;
    parser.flag("--gpt", gpt)
        .flag("--scan", scan)
        .flag("--no-skip", noSkip)
        .flag("--json", json)
        .option("--start", start, startGiven)
        .option("--end", end, endGiven);
    if (!parser.parse(args)) return parser.exitCode();
    ImageArgs image;
    if (!imageOptions.resolve(image)) return parser.exitCode();
    if (!scan && (startGiven || endGiven || noSkip))
        return parser.usageError("--start, --end and --no-skip belong to --scan");

    CliMessageSink messages;
    Session session;
    session.messages = &messages;
    if (!openSessionReader(session, image)) return kExitImage;
    if (!firstSectorReadable(session, image)) return kExitImage;

    CliProgressSink bar(scan && CliProgressSink::stderrIsTerminal());
    // The scan's position is its place on the whole disk.
    if (session.diskSectorCount <= UINT64_MAX / kSectorSize)
        bar.setUnit(ProgressUnit::wholeRange(session.diskSectorCount * kSectorSize));
    CliStatusSink status(bar.active() ? &bar : nullptr, std::chrono::milliseconds(0));
    VolumeDiscovery discovery(*session.sessionReader, fileSystemDrivers(), status, bar, messages);
    std::vector<VolumeRecord> rows;
    if (scan)
        discovery.scan(VolumeDiscovery::ScanRange{!noSkip, start, end, session.diskSectorCount},
                       [&rows](const VolumeRecord& record) {
                           rows.insert(rows.begin(), record); // the newest first, as the page lists them
                       });
    else
        rows = discovery.readPartitionTables(gpt || diskHasProtectiveMbr(*session.sessionReader));
    discovery.reportEnd(scan);
    bar.finish();
    status.flush();

    if (json)
        printJson(rows);
    else
        printTable(rows);
    return kExitOk;
}

const CommandRegistrar registrar(CliCommand{
    "volumes", "volumes IMAGE [--gpt] [--scan [--start S] [--end S] [--no-skip]] [--json]   the volume list", runVolumes});

} // namespace

} // namespace vindaru::cli
