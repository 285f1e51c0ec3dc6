#include "cli/CliRunner.h"

#include <algorithm>
#include <fcntl.h>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

namespace vindaru::test {

CommandResult runCli(const std::vector<std::string>& args) {
    std::string command = shellQuote(VINDARU_CLI_PATH);
    for (const auto& arg : args)
        command += " " + shellQuote(arg);
    return runCommand(command + " </dev/null");
}

std::vector<std::uint8_t> readRange(const fs::path& path, std::uint64_t offset,
                                    std::uint64_t length) {
    std::ifstream in(path, std::ios::binary);
    std::vector<std::uint8_t> bytes(length);
    in.seekg(static_cast<std::streamoff>(offset));
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(length));
    bytes.resize(in ? length : static_cast<std::size_t>(std::max<std::streamsize>(in.gcount(), 0)));
    return bytes;
}

namespace {

// The byte ranges of a file that may hold data; the rest are holes and read as zeros. A file
// system without SEEK_DATA reports the whole file as data.
std::vector<std::pair<std::uint64_t, std::uint64_t>> dataRanges(int fd, std::uint64_t size) {
    std::vector<std::pair<std::uint64_t, std::uint64_t>> ranges;
    off_t at = 0;
    while (static_cast<std::uint64_t>(at) < size) {
        const off_t data = ::lseek(fd, at, SEEK_DATA);
        if (data < 0) break;
        off_t hole = ::lseek(fd, data, SEEK_HOLE);
        if (hole < 0) hole = static_cast<off_t>(size);
        ranges.emplace_back(data, hole);
        at = hole;
    }
    return ranges;
}

} // namespace

std::optional<std::string> compareWithRaw(const fs::path& exported, const fs::path& raw) {
    const int a = ::open(exported.c_str(), O_RDONLY | O_CLOEXEC);
    const int b = ::open(raw.c_str(), O_RDONLY | O_CLOEXEC);
    std::optional<std::string> result;
    if (a < 0 || b < 0) {
        result = "cannot open " + exported.string() + " or " + raw.string();
    } else {
        const std::uint64_t exportedSize = fs::file_size(exported);
        const std::uint64_t rawSize = fs::file_size(raw);
        if (exportedSize < rawSize) {
            result = "export is " + std::to_string(exportedSize) + " bytes, the raw disk " +
                     std::to_string(rawSize);
        } else {
            // Where both files are holes both read as zeros: compare only where either has data.
            auto ranges = dataRanges(a, exportedSize);
            for (auto r : dataRanges(b, rawSize))
                ranges.push_back(r);
            constexpr std::size_t kChunk = 1 << 20;
            std::vector<std::uint8_t> bufA(kChunk), bufB(kChunk);
            for (auto [begin, end] : ranges) {
                for (std::uint64_t at = begin; at < end && !result; at += kChunk) {
                    const std::size_t n =
                        static_cast<std::size_t>(std::min<std::uint64_t>(kChunk, end - at));
                    std::fill(bufA.begin(), bufA.end(), 0);
                    std::fill(bufB.begin(), bufB.end(), 0); // past the raw disk: zeros
                    if (::pread(a, bufA.data(), n, static_cast<off_t>(at)) < 0 ||
                        ::pread(b, bufB.data(), n, static_cast<off_t>(at)) < 0) {
                        result = "read error at " + std::to_string(at);
                    } else if (!std::equal(bufA.begin(),
                                           bufA.begin() + static_cast<std::ptrdiff_t>(n),
                                           bufB.begin())) {
                        const auto diff =
                            std::mismatch(bufA.begin(), bufA.end(), bufB.begin()).first -
                            bufA.begin();
                        result = "first difference at byte " +
                                 std::to_string(at + static_cast<std::uint64_t>(diff));
                    }
                }
                if (result) break;
            }
        }
    }
    if (a >= 0) ::close(a);
    if (b >= 0) ::close(b);
    return result;
}

std::string jsonField(const std::string& line, const std::string& key) {
    const std::string lead = "\"" + key + "\": ";
    const auto at = line.find(lead);
    if (at == std::string::npos) return "<missing>";
    std::size_t i = at + lead.size();
    std::string value;
    if (line[i] != '"') {
        while (i < line.size() && line[i] != ',' && line[i] != '}') value += line[i++];
        return value;
    }
    for (++i; i < line.size() && line[i] != '"'; ++i) {
        if (line[i] == '\\' && i + 1 < line.size()) ++i;
        value += line[i];
    }
    return value;
}

FileFingerprint fingerprint(const fs::path& path) {
    struct stat st {};
    FileFingerprint print;
    if (::stat(path.c_str(), &st) != 0) return print;
    print.md5 = md5OfFile(path);
    print.mtimeNs = static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    print.size = static_cast<std::uint64_t>(st.st_size);
    return print;
}

} // namespace vindaru::test
