// vindaru-cli check: what the container is made of (each layer of a snapshot chain) and its damage
// map: every range of the disk that cannot be read, with its size and the reason. Exits non-zero
// when anything is unreadable or the structure is damaged (a lost copy of a directory or a
// footer), so a script can tell a sound image from a damaged one.
#include <iostream>
#include <sstream>

#include "cli/CliCommand.h"
#include "cli/CliImage.h"
#include "cli/CliSinks.h"
#include "common/DisplayFormat.h"
#include "image/ImageChain.h"
#include "image/readWriteInterface.h"

namespace vindaru::cli {

namespace {

// A damage map longer than this is cut in the listing (the summary still counts every range).
constexpr std::size_t kMaxListedRanges = 1000;

void printLayer(std::ostringstream& out, const readWriteInterface& layer, const std::string& title) {
    out << title << ": " << layer.kindText() << "\n";
    for (const std::string& line : layer.structureLines()) out << "  " << line << "\n";
}

int runCheck(const std::vector<std::string>& args) {
    ArgParser parser(std::string("vindaru-cli check IMAGE ") + kImageOptionsUsage);
    ImageOptions imageOptions(parser);
    ImageArgs image;
    if (!imageOptions.parse(args, image)) return parser.exitCode();

    CliSession cli;
    Session& session = cli.session;
    if (!openSessionReader(session, image)) return kExitImage;
    const readWriteInterface& reader = *session.sessionReader;

    std::ostringstream out;
    out << "Image: " << image.path << "\n";
    out << "Disk size: " << reader.size() << " bytes\n";
    if (session.chainLines.size() > 1 || reader.parentLink()) {
        out << "Chain (* the layer read):\n";
        for (const std::string& line : session.chainLines) out << "  " << line << "\n";
    }
    printLayer(out, reader, "Layer read");
    int depth = 1;
    for (const readWriteInterface* p = reader.parent(); p; p = p->parent(), ++depth)
        printLayer(out, *p, "Parent " + std::to_string(depth));

    // The data is read where only a read can tell (compressed grains that do not inflate).
    const std::vector<ByteRange> damage = chainDamage(reader, true);
    // A lost copy of a table or footer loses no data yet, but the image is not sound either.
    const std::vector<std::string> structural = chainStructuralDamage(reader);
    out << "Damage: " << damageSummary(damage, structural, false) << "\n";
    std::size_t listed = 0;
    for (const ByteRange& r : damage) {
        if (listed++ == kMaxListedRanges) {
            out << "  ... " << damage.size() - kMaxListedRanges << " more ranges\n";
            break;
        }
        out << "  bytes " << r.offset << " to " << r.end() - 1 << " (" << formatSizeText(r.length)
            << "): " << damageText(r.reason) << "\n";
    }
    std::cout << out.str();
    return damage.empty() && structural.empty() ? kExitOk : kExitIncomplete;
}

const CommandRegistrar registrar(CliCommand{
    "check", "check IMAGE   the container's structure and every range of the disk that cannot be read",
    runCheck});

} // namespace

} // namespace vindaru::cli
