#include "support/TestSupport.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

namespace vindaru::test {

ScratchDir::ScratchDir() {
    std::string tmpl = (fs::temp_directory_path() / "vindaru-test-XXXXXX").string();
    if (!mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
    path_ = tmpl;
}

ScratchDir::~ScratchDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
}

std::optional<fs::path> corpusDir() {
    if (const char* env = std::getenv("VINDARU_CORPUS")) {
        if (fs::is_directory(env)) return fs::path(env);
    }
#ifdef VINDARU_CORPUS_DIR
    if (fs::is_directory(VINDARU_CORPUS_DIR)) return fs::path(VINDARU_CORPUS_DIR);
#endif
    return std::nullopt;
}

std::optional<fs::path> corpusFile(const std::string& relative) {
    auto dir = corpusDir();
    if (!dir) return std::nullopt;
    fs::path p = *dir / relative;
    if (!fs::exists(p)) return std::nullopt;
    return p;
}

std::string shellQuote(const std::string& text) {
    std::string out = "'";
    for (char c : text) {
        if (c == '\'') out += "'\\''";
        else out += c;
    }
    return out + "'";
}

std::optional<fs::path> unpackedCorpusImage(const std::string& relative) {
    auto src = corpusFile(relative);
    if (!src) return std::nullopt;
    const fs::path cache = fs::temp_directory_path() / ("vindaru-corpus-cache-" + std::to_string(getuid()));
    fs::create_directories(cache);
    fs::path name = src->filename();
    std::string cmd;
    if (name.extension() == ".zst") {
        cmd = "zstd -q -d -f -o ";
    } else if (name.extension() == ".gz") {
        cmd = "gzip -dc > ";
    } else {
        return src;
    }
    const fs::path out = cache / name.stem();
    if (fs::exists(out)) return out;
    // Unpack to a private name and rename, so parallel test programs never see half a file.
    const fs::path partial = cache / (name.stem().string() + ".part" + std::to_string(getpid()));
    std::string full;
    if (name.extension() == ".zst")
        full = cmd + shellQuote(partial.string()) + " " + shellQuote(src->string());
    else
        full = "gzip -dc " + shellQuote(src->string()) + " > " + shellQuote(partial.string());
    if (std::system(full.c_str()) != 0) {
        std::error_code ec;
        fs::remove(partial, ec);
        return std::nullopt;
    }
    fs::rename(partial, out);
    return out;
}

void writeFile(const fs::path& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

void copyIntoFile(const fs::path& target, const fs::path& source, std::uint64_t offset) {
    const auto bytes = readFile(source);
    std::fstream out(target, std::ios::binary | std::ios::in | std::ios::out);
    constexpr std::size_t kBlock = 65536;
    for (std::size_t at = 0; at < bytes.size(); at += kBlock) {
        const std::size_t n = std::min(kBlock, bytes.size() - at);
        const auto begin = bytes.begin() + static_cast<std::ptrdiff_t>(at);
        if (std::all_of(begin, begin + static_cast<std::ptrdiff_t>(n), [](std::uint8_t b) { return b == 0; })) continue;
        out.seekp(static_cast<std::streamoff>(offset + at));
        out.write(reinterpret_cast<const char*>(bytes.data() + at), static_cast<std::streamsize>(n));
    }
}

std::vector<std::uint8_t> readFile(const fs::path& path) {
    std::ifstream f(path, std::ios::binary);
    return std::vector<std::uint8_t>((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

CommandResult runCommand(const std::string& command) {
    CommandResult result;
    char errName[] = "/tmp/vindaru-test-err-XXXXXX";
    const int errFd = mkstemp(errName);
    if (errFd >= 0) close(errFd);
    const std::string full = command + " 2>" + shellQuote(errName);
    FILE* pipe = popen(full.c_str(), "r");
    if (!pipe) return result;
    std::array<char, 65536> buf{};
    std::size_t n;
    while ((n = fread(buf.data(), 1, buf.size(), pipe)) > 0) result.out.append(buf.data(), n);
    const int status = pclose(pipe);
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::ifstream errFile(errName, std::ios::binary);
    std::stringstream ss;
    ss << errFile.rdbuf();
    result.err = ss.str();
    unlink(errName);
    return result;
}

std::string md5OfFile(const fs::path& path) {
    auto r = runCommand("md5sum " + shellQuote(path.string()));
    return r.out.substr(0, 32);
}

} // namespace vindaru::test
