// Shared by the NTFS tests: a raw image file as a disk, the corpus expectations, a whole
// Standard scan, and the paths of everything the scan reached.
#pragma once

#include <cstdint>
#include <filesystem>
#include <istream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "fs/ntfs/ntfs.h"
#include "image/readWriteInterface.h"
#include "support/FileDiskReader.h"

namespace vindaru::test {

// A raw image file read one-to-one as a disk.
using RawFileReader = FileDiskReader;

// One row of NAME.expected.tsv (both the generated and the external layout).
struct ExpectedRow {
    std::uint64_t startSector = 0;
    std::string fsType;
    std::string path; // always with a leading '/'
    bool isDir = false;
    bool isDeleted = false;
    std::uint64_t size = 0;
    std::string md5;
};

// The cells of every line after the header.
std::vector<std::vector<std::string>> readTsvRows(std::istream& in);
std::vector<ExpectedRow> loadExpected(const std::filesystem::path& tsv);

// What a Standard scan reached, by '/'-joined path from the root (ORPHAN_ENTRY's children under
// "/ORPHAN_ENTRY/"); every entry once.
struct ScannedVolume {
    std::unique_ptr<RawFileReader> reader;
    std::unique_ptr<ntfs> parser;
    std::map<std::string, std::uint64_t> paths;
};

std::unique_ptr<ScannedVolume> scanImage(const std::filesystem::path& image, std::uint64_t startSector);
void collectPaths(ntfs& parser, std::map<std::string, std::uint64_t>& paths);

// md5 of what saveEntry writes, for many entries at once (one md5sum process).
std::map<std::uint64_t, std::string> savedMd5s(ntfs& parser, const std::vector<std::uint64_t>& indexes);

} // namespace vindaru::test
