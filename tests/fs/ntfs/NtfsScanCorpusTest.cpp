// The sector scans on a real NTFS volume (mkntfs + ntfs-3g) that has been damaged in memory:
// boot sector zeroed (the corrupt-boot scan must still give the Standard listing), and boot
// sector plus the MFT's first cluster zeroed (Deep and Advanced modes).
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <set>

#include "common/CheckTree.h"
#include "common/DisplayFormat.h"
#include "common/TextConvert.h"
#include "fs/ntfs/ntfs.h"
#include "image/MemoryReader.h"
#include "support/TestSupport.h"

using namespace vindaru;
using namespace vindaru::test;

namespace {

constexpr std::uint64_t kMftOffset = 4 * 4096; // mkntfs put the MFT at cluster 4
constexpr std::uint64_t kMirrorOffset = 2047 * 4096;

std::optional<std::vector<std::uint8_t>> corpusNtfs() {
    const auto path = unpackedCorpusImage("generated/ntfs.img.zst");
    if (!path) return std::nullopt;
    return readFile(*path);
}

VolumeRecord bareVolume() {
    return VolumeRecord{"NTFS", "0", "16", 0};
}

void zero(std::vector<std::uint8_t>& bytes, std::uint64_t at, std::uint64_t length) {
    std::fill_n(bytes.begin() + static_cast<std::ptrdiff_t>(at), length, 0);
}

// One scan of an in-memory volume in the given mode, the way the scan page drives the parser.
struct Scan {
    MemoryReader reader;
    RecordingStatusSink status;
    RecordingProgressSink progress;
    ntfs parser;
    CheckTree tree;

    Scan(std::vector<std::uint8_t> bytes, int mode)
        : reader(std::move(bytes)), parser(reader, bareVolume(), &status, &progress) {
        parser.scanMode = mode;
        parser.readBootSector();
        if (mode == 1) parser.locateMft();
        if (mode == 3) parser.scanMftRecordsDeep();
    }
    void finish() {
        parser.readMftByRuns();
        parser.parseAllEntries();
    }
    bool statusSaid(const std::string& text) const {
        const auto texts = status.snapshot();
        return std::find(texts.begin(), texts.end(), text) != texts.end();
    }
};

// Every entry reachable from `from`, by '/'-joined path; each entry once.
void collect(ntfs& p, std::uint64_t from, const std::string& prefix, std::set<std::uint64_t>& seen,
             std::map<std::string, std::uint64_t>& out) {
    for (std::uint64_t c : p.childrenOf(from)) {
        if (!seen.insert(c).second) continue;
        const std::string path = prefix + "/" + p.entryLabel(c);
        out.emplace(path, c);
        if (p.isDirectory(c)) collect(p, c, path, seen, out);
    }
}

std::map<std::string, std::uint64_t> pathsFromRoot(ntfs& p) {
    std::map<std::string, std::uint64_t> out;
    std::set<std::uint64_t> seen{p.rootIndex};
    collect(p, p.rootIndex, "", seen, out);
    return out;
}

std::string content(ntfs& p, std::uint64_t index) {
    std::string bytes;
    p.writeEntryContent(index, [&](std::span<const std::uint8_t> piece) {
        bytes.append(piece.begin(), piece.end());
        return true;
    });
    return bytes;
}

// Live user files and folders of the intact volume, by path.
std::map<std::string, std::uint64_t> liveUserPaths(ntfs& p) {
    std::map<std::string, std::uint64_t> out;
    for (const auto& [path, index] : pathsFromRoot(p))
        if (p.isInUse(index) && path.rfind("/$", 0) != 0 && path.rfind("/ORPHAN_ENTRY", 0) != 0 &&
            path != "/.")
            out.emplace(path, index);
    return out;
}

} // namespace

TEST(NtfsScanCorpus, ZeroedBootSectorStillGivesTheStandardListing) {
    auto image = corpusNtfs();
    if (!image) GTEST_SKIP() << "corpus image generated/ntfs.img.zst (or zstd) absent";
    Scan intact(*image, 1);
    intact.finish();
    zero(*image, 0, 512);
    Scan damaged(*image, 1);
    EXPECT_TRUE(damaged.statusSaid("boot sector corrupt.Scanning for first mft entry..."));
    EXPECT_TRUE(damaged.statusSaid("found mft entry.getting its run ..."));
    EXPECT_TRUE(damaged.parser.mftRunKnown);
    EXPECT_EQ(damaged.parser.clusterSize, 4096u);
    damaged.finish();

    const auto want = liveUserPaths(intact.parser);
    const auto got = liveUserPaths(damaged.parser);
    ASSERT_GT(want.size(), 50u);
    ASSERT_EQ(got.size(), want.size());
    for (const auto& [path, index] : want) {
        const auto it = got.find(path);
        ASSERT_NE(it, got.end()) << path;
        EXPECT_EQ(damaged.parser.entrySize(it->second), intact.parser.entrySize(index)) << path;
        if (!intact.parser.isDirectory(index)) {
            EXPECT_EQ(content(damaged.parser, it->second), content(intact.parser, index)) << path;
        }
    }
}

// Deep mode on the volume intact and with parts of its MFT zeroed: every file it shows sits at
// the path the Standard mode gives it, with the same content, or under ORPHAN_ENTRY; every
// file whose record survived is shown; no record is shown twice (the mirror's copies).
TEST(NtfsScanCorpus, DeepScanRebuildsTheFoldersOrLeavesFilesUnderOrphanEntry) {
    auto image = corpusNtfs();
    if (!image) GTEST_SKIP() << "corpus image generated/ntfs.img.zst (or zstd) absent";
    Scan intact(*image, 1);
    intact.finish();
    const auto standard = pathsFromRoot(intact.parser);
    std::map<std::uint64_t, std::string> standardByPosition;
    for (const auto& [path, index] : standard)
        if (intact.parser.entries[index].aliasOf == 0) standardByPosition.emplace(intact.parser.entries[index].recordPosition, path);

    struct Damage {
        const char* what;
        std::uint64_t at, length;
    };
    for (const Damage& d : {Damage{"intact", 0, 0}, Damage{"the MFT's first cluster", kMftOffset, 4096},
                            Damage{"64 KiB inside the MFT", kMftOffset + 64 * 1024, 64 * 1024},
                            Damage{"the root folder's record", kMftOffset + 5 * 1024, 1024}}) {
        SCOPED_TRACE(d.what);
        auto bytes = *image;
        zero(bytes, 0, 512);
        zero(bytes, d.at, d.length);
        Scan deep(bytes, 3);
        deep.finish();
        ntfs& p = deep.parser;
        std::set<std::uint64_t> seen;
        std::map<std::string, std::uint64_t> paths;
        if (p.rootIndex < p.entries.size()) {
            seen.insert(p.rootIndex);
            collect(p, p.rootIndex, "", seen, paths);
        }
        if (!seen.count(p.orphanIndex)) {
            seen.insert(p.orphanIndex);
            collect(p, p.orphanIndex, "/ORPHAN_ENTRY", seen, paths);
        }
        std::set<std::uint64_t> shownPositions;
        std::uint64_t orphans = 0;
        for (const auto& [path, index] : paths) {
            if (index == p.orphanIndex) continue;
            const MftEntry& e = p.entries[index];
            EXPECT_TRUE(shownPositions.insert(e.recordPosition).second) << "shown twice: " << path;
            if (path.starts_with("/ORPHAN_ENTRY/")) {
                ++orphans;
                // Directly there: not placed; further down: placed below a folder that was not.
                if (path.find('/', 14) == std::string::npos) {
                    EXPECT_NE(e.orphan, 0) << path;
                }
                continue;
            }
            EXPECT_EQ(e.orphan, 0) << path;
            const auto it = standard.find(path);
            ASSERT_NE(it, standard.end()) << "not a Standard path: " << path;
            EXPECT_EQ(p.isInUse(index), intact.parser.isInUse(it->second)) << path;
            if (!p.isDirectory(index) && path.rfind("/$", 0) != 0) {
                EXPECT_EQ(content(p, index), content(intact.parser, it->second)) << path;
            }
        }
        // Every user file whose record is outside the damage is shown, at its path or orphaned.
        std::set<std::string> shownNames;
        for (const auto& [path, index] : paths) shownNames.insert(path.substr(path.rfind('/') + 1));
        for (const auto& [position, path] : standardByPosition) {
            if (path.rfind("/$", 0) == 0 || path.starts_with("/ORPHAN_ENTRY") || path == "/.") continue;
            if (position + 1024 > d.at && position < d.at + d.length) continue;
            EXPECT_TRUE(shownNames.count(path.substr(path.rfind('/') + 1))) << path;
        }
        if (d.at == kMftOffset + 5 * 1024) {
            EXPECT_GE(p.rootIndex, p.entries.size());
            EXPECT_GT(orphans, 10u); // the root's children
        }
    }
}

TEST(NtfsScanCorpus, AdvancedSearchOnTheIntactVolumeFindsTheMft) {
    auto image = corpusNtfs();
    if (!image) GTEST_SKIP() << "corpus image generated/ntfs.img.zst (or zstd) absent";
    Scan reference(*image, 1);
    reference.finish();
    Scan advanced(*image, 2);
    ASSERT_EQ(advanced.parser.findMftCandidates(3), 1u);
    EXPECT_EQ(advanced.parser.mftCandidates[0].recordPosition, kMftOffset);
    advanced.parser.clearEntries();
    ASSERT_TRUE(advanced.parser.runsFromCandidate(0));
    advanced.parser.clusterSize = 8 * 512;
    advanced.finish();
    EXPECT_EQ(liveUserPaths(advanced.parser).size(), liveUserPaths(reference.parser).size());
}

TEST(NtfsScanCorpus, AdvancedSearchWithoutTheMftsFirstClusterFindsNoCandidate) {
    auto image = corpusNtfs();
    if (!image) GTEST_SKIP() << "corpus image generated/ntfs.img.zst (or zstd) absent";
    zero(*image, 0, 512);
    zero(*image, kMftOffset, 4096);
    Scan advanced(*image, 2);
    // The mirror holds records 0 to 3 only: no "$Boot" follows its "$MFT" seven slots later.
    EXPECT_EQ(std::memcmp(image->data() + kMirrorOffset, "FILE", 4), 0);
    EXPECT_EQ(advanced.parser.findMftCandidates(3), 0u);
    EXPECT_FALSE(advanced.parser.runsFromCandidate(0));
}

// How intact each deleted file is, from the volume's $Bitmap: every deleted file of the corpus
// volume that The Sleuth Kit reads byte-exact shows 1, the ballast whose space later files took
// less; once the bitmap gives one of a file's clusters to a live file, that file shows the share
// of its clusters still free.
TEST(NtfsScanCorpus, RecoverableShareOfDeletedFilesFollowsTheVolumeBitmap) {
    auto image = corpusNtfs();
    if (!image) GTEST_SKIP() << "corpus image generated/ntfs.img.zst (or zstd) absent";
    Scan intact(*image, 1);
    intact.finish();
    ntfs& p = intact.parser;
    const auto paths = pathsFromRoot(p);
    std::uint64_t deletedFiles = 0;
    for (const auto& [path, index] : paths) {
        if (path.starts_with("/ORPHAN_ENTRY")) continue; // records without a folder: anything goes
        if (p.isDirectory(index)) {
            EXPECT_FALSE(p.recoverableShare(index).has_value()) << path;
            continue;
        }
        const auto share = p.recoverableShare(index);
        ASSERT_TRUE(share.has_value()) << path;
        // ballast.tmp was deleted to free space that later files took.
        if (path == "/ballast.tmp") {
            EXPECT_LT(*share, 1.0);
            continue;
        }
        EXPECT_EQ(*share, 1.0) << path;
        if (!p.isInUse(index)) ++deletedFiles;
    }
    ASSERT_GE(deletedFiles, 5u);

    const std::uint64_t clip = paths.at("/Media/clip-atlas.bin");
    const DataAttributeInfo info = p.dataAttributeInfo(clip);
    ASSERT_EQ(info.residency, 'N');
    const std::int64_t taken = info.runs.front().lcn + 1; // the file's second cluster
    const DataAttributeInfo bitmap = p.dataAttributeInfo(6);
    ASSERT_EQ(bitmap.residency, 'N');
    ASSERT_LT(static_cast<std::uint64_t>(taken / 8), std::uint64_t{bitmap.runs.front().clusterCount} * p.clusterSize);
    auto bytes = *image;
    bytes[static_cast<std::size_t>(bitmap.runs.front().lcn * static_cast<std::int64_t>(p.clusterSize) + taken / 8)] |=
        static_cast<std::uint8_t>(1u << (taken % 8));
    Scan damaged(bytes, 1);
    damaged.finish();
    const std::uint64_t clusters = (info.realSize + p.clusterSize - 1) / p.clusterSize;
    const auto share = damaged.parser.recoverableShare(pathsFromRoot(damaged.parser).at("/Media/clip-atlas.bin"));
    ASSERT_TRUE(share.has_value());
    EXPECT_DOUBLE_EQ(*share, static_cast<double>(clusters - 1) / static_cast<double>(clusters));
}
