// vindaru-cli cat: the virtual disk's bytes (holes as zeros) to stdout, whole or a byte range.
#include <cerrno>
#include <iostream>
#include <unistd.h>
#include <vector>

#include "cli/CliCommand.h"
#include "cli/CliImage.h"
#include "cli/CliSinks.h"
#include "cli/CliDamage.h"
#include "image/ImageChain.h"
#include "image/readWriteInterface.h"

namespace vindaru::cli {

namespace {

// Large aligned pieces keep the reader's coalesced reads long and the write calls few.
constexpr std::uint64_t kChunkBytes = 4u << 20;

bool writeAll(const std::uint8_t* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(STDOUT_FILENO, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

// Copies [begin, end) of the disk to stdout; what cannot be read is written as zeros and
// collected in `damage` (in disk offsets).
int copyRange(const readWriteInterface& reader, std::uint64_t begin, std::uint64_t end,
              ReadReport& damage) {
    std::vector<std::uint8_t> buffer(kChunkBytes);
    std::uint64_t position = begin;
    while (position < end) {
        // Pieces aligned to the chunk size keep the reader's coalesced reads whole.
        const std::uint64_t chunk = std::min<std::uint64_t>(kChunkBytes - position % kChunkBytes, end - position);
        std::span<std::uint8_t> piece(buffer.data(), chunk);
        ReadReport report;
        if (!reader.readAt(position, piece, &report))
            for (const ByteRange& r : report.unreadableRanges())
                damage.addUnreadable(r.offset, r.length, r.reason);
        if (!writeAll(buffer.data(), chunk)) {
            std::cerr << "vindaru-cli: cannot write to the standard output\n";
            return kExitUsage;
        }
        position += chunk;
    }
    return kExitOk;
}

int runCat(const std::vector<std::string>& args) {
    ArgParser parser(std::string("vindaru-cli cat IMAGE [--offset BYTES] [--length BYTES] [--allow-damage] ") +
                     kImageOptionsUsage);
    ImageOptions imageOptions(parser);
    std::uint64_t offset = 0;
    std::uint64_t length = 0;
    bool lengthGiven = false;
    bool allowDamage = false;
    parser.option("--offset", offset).option("--length", length, lengthGiven).flag("--allow-damage", allowDamage);
    ImageArgs image;
    if (!imageOptions.parse(args, image)) return parser.exitCode();

    CliSession cli;
    Session& session = cli.session;
    if (!openSessionReader(session, image)) return kExitImage;

    // Like dd, a range that reaches past the end of the disk stops at the end.
    const std::uint64_t diskBytes = session.diskSectorCount * kSectorSize;
    const std::uint64_t begin = std::min(offset, diskBytes);
    std::uint64_t end = diskBytes;
    if (lengthGiven && length < diskBytes - begin) end = begin + length;
    ReadReport damage;
    const int rc = copyRange(*session.sessionReader, begin, end, damage);
    if (rc != kExitOk) return rc;
    return reportDamage(damage, chainStructuralDamage(*session.sessionReader), allowDamage);
}

const CommandRegistrar registrar(CliCommand{
    "cat", "cat IMAGE [--offset BYTES] [--length BYTES] [--allow-damage]   the virtual disk's bytes to stdout",
    runCat});

} // namespace

} // namespace vindaru::cli
