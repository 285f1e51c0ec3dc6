#include "fs/ntfs/NtfsTestSupport.h"

#include <fstream>
#include <sstream>

#include "support/TestSupport.h"

namespace vindaru::test {

std::vector<std::vector<std::string>> readTsvRows(std::istream& in) {
    std::vector<std::vector<std::string>> rows;
    std::string line;
    std::getline(in, line); // header
    while (std::getline(in, line)) {
        std::vector<std::string> cols;
        std::stringstream ss(line);
        std::string col;
        while (std::getline(ss, col, '\t')) cols.push_back(col);
        rows.push_back(std::move(cols));
    }
    return rows;
}

std::vector<ExpectedRow> loadExpected(const std::filesystem::path& tsv) {
    std::vector<ExpectedRow> rows;
    std::ifstream in(tsv);
    for (const auto& cols : readTsvRows(in)) {
        if (cols.size() < 6) continue;
        ExpectedRow r;
        r.startSector = std::stoull(cols[0]);
        r.fsType = cols[1];
        r.path = cols[2].starts_with("/") ? cols[2] : "/" + cols[2];
        r.isDir = cols[3] == "1";
        r.isDeleted = cols[4] == "1";
        r.size = std::stoull(cols[5]);
        r.md5 = cols.size() > 6 ? cols[6] : "";
        rows.push_back(r);
    }
    return rows;
}

std::unique_ptr<ScannedVolume> scanImage(const std::filesystem::path& image, std::uint64_t startSector) {
    auto v = std::make_unique<ScannedVolume>();
    v->reader = std::make_unique<RawFileReader>();
    if (!v->reader->open(image.string())) return nullptr;
    VolumeRecord record{"NTFS", "1", "0", startSector};
    v->parser = std::make_unique<ntfs>(*v->reader, record);
    ntfs& p = *v->parser;
    p.readBootSector();
    p.locateMft();
    p.readMftByRuns();
    p.parseAllEntries();
    collectPaths(p, v->paths);
    return v;
}

static void walk(ntfs& p, std::uint64_t dir, const std::string& prefix, std::vector<bool>& seen,
                 std::map<std::string, std::uint64_t>& paths) {
    for (std::uint64_t c : p.childrenOf(dir)) {
        if (seen[c]) continue;
        seen[c] = true;
        const std::string path = prefix + "/" + p.entryLabel(c);
        paths.emplace(path, c);
        if (p.isDirectory(c)) walk(p, c, path, seen, paths);
    }
}

void collectPaths(ntfs& p, std::map<std::string, std::uint64_t>& paths) {
    if (p.rootIndex >= p.entryCount()) return;
    std::vector<bool> seen(p.entryCount(), false);
    seen[p.rootIndex] = true;
    walk(p, p.rootIndex, "", seen, paths);
}

std::map<std::uint64_t, std::string> savedMd5s(ntfs& parser, const std::vector<std::uint64_t>& indexes) {
    ScratchDir dir;
    std::string names;
    for (std::uint64_t i : indexes) {
        const auto path = dir / std::to_string(i);
        parser.saveEntry(i, path);
        names += " " + std::to_string(i);
    }
    std::map<std::uint64_t, std::string> out;
    if (indexes.empty()) return out;
    const auto r = runCommand("cd " + shellQuote(dir.path().string()) + " && md5sum" + names);
    std::stringstream ss(r.out);
    std::string md5, name;
    while (ss >> md5 >> name) out[std::stoull(name)] = md5;
    return out;
}

} // namespace vindaru::test
