// vindaru-cli cat: the virtual disk's bytes (holes as zeros) to stdout, whole or a byte range.
#include <cerrno>
#include <iostream>
#include <unistd.h>
#include <vector>

#include "cli/CliCommand.h"
#include "cli/CliImage.h"
#include "cli/CliSinks.h"
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

// Copies [begin, end) of the disk to stdout. Reads start on sector boundaries, because
// readers map whole sectors, and only the asked-for bytes are written.
int copyRange(readWriteInterface& reader, std::uint64_t begin, std::uint64_t end) {
    std::vector<std::uint8_t> buffer(kChunkBytes);
    std::uint64_t position = begin - begin % kSectorSize;
    while (position < end) {
        const std::uint64_t chunk = std::min<std::uint64_t>(kChunkBytes, end - position);
        const std::uint64_t readLength = (chunk + kSectorSize - 1) / kSectorSize * kSectorSize;
        std::span<std::uint8_t> piece(buffer.data(), readLength);
        if (!reader.readAt(position, piece)) {
            std::cerr << "vindaru-cli: the virtual disk cannot be read at byte " << position
                      << "\n";
            return kExitImage;
        }
        const std::uint64_t skip = position < begin ? begin - position : 0;
        if (!writeAll(buffer.data() + skip, chunk - skip)) {
            std::cerr << "vindaru-cli: cannot write to the standard output\n";
            return kExitUsage;
        }
        position += chunk;
    }
    return kExitOk;
}

int runCat(const std::vector<std::string>& args) {
    ArgParser parser(std::string("vindaru-cli cat IMAGE [--offset BYTES] [--length BYTES] ") +
                     kImageOptionsUsage);
    ImageOptions imageOptions(parser);
    std::uint64_t offset = 0;
    std::uint64_t length = 0;
    bool lengthGiven = false;
    parser.option("--offset", offset).option("--length", length, lengthGiven);
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
    return copyRange(*session.sessionReader, begin, end);
}

const CommandRegistrar registrar(CliCommand{
    "cat", "cat IMAGE [--offset BYTES] [--length BYTES]   the virtual disk's bytes to stdout",
    runCat});

} // namespace

} // namespace vindaru::cli
