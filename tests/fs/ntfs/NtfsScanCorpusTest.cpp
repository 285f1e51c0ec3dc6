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
        parser.attachTree(&tree, tree.insertItem("ROOT", IconKind::Folder));
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

TEST(NtfsScanCorpus, DeepScanKeepsEveryNamedRecordInDiskOrder) {
    auto image = corpusNtfs();
    if (!image) GTEST_SKIP() << "corpus image generated/ntfs.img.zst (or zstd) absent";
    zero(*image, 0, 512);
    zero(*image, kMftOffset, 4096);
    Scan deep(*image, 3);
    deep.finish();
    ntfs& p = deep.parser;

    // Every named record slot of the MFT outside the zeroed cluster, and the mirror's copies.
    std::set<std::uint64_t> expectedPositions;
    {
        Scan reference(*image, 1); // a Standard scan cannot run here; read the records by hand
        for (std::uint64_t pos = 0; pos + 1024 <= image->size(); pos += 512) {
            if (std::memcmp(image->data() + pos, "FILE", 4) != 0) continue;
            reference.parser.entries.push_back(MftEntry{});
            const auto i = reference.parser.entries.size() - 1;
            reference.parser.entries[i].selfIndex = i;
            reference.parser.parseEntry(pos, i);
            if (reference.parser.hasName(i)) expectedPositions.insert(pos);
            pos += 512;
        }
    }
    ASSERT_GT(expectedPositions.size(), 500u);
    std::set<std::uint64_t> found;
    EXPECT_FALSE(p.hasName(0)); // the placeholder: index 0 cannot be linked
    std::uint64_t named = 0;
    for (std::uint64_t i = 1; i + 1 < p.entries.size(); ++i) {
        if (i > 1) {
            EXPECT_LT(p.entries[i - 1].recordPosition, p.entries[i].recordPosition);
        }
        if (!p.hasName(i)) continue; // kept for references between records, never shown
        ++named;
        EXPECT_EQ(p.entries[i].orphan, 1);
        found.insert(p.entries[i].recordPosition);
    }
    EXPECT_EQ(found, expectedPositions);

    // The tree: ORPHAN_ENTRY alone under the volume item; under it the directories newest first,
    // then the files met before the first directory; each file under the directory before it.
    ASSERT_EQ(deep.tree.children(deep.tree.children(kTreeTop)[0]).size(), 1u);
    std::set<std::uint64_t> seen{p.orphanIndex};
    std::map<std::string, std::uint64_t> paths;
    collect(p, p.orphanIndex, "", seen, paths);
    std::uint64_t reachable = 0;
    for (std::uint64_t i = 1; i + 1 < p.entries.size(); ++i)
        if (seen.count(i)) ++reachable;
    // Every named record but the root "." is reachable.
    EXPECT_EQ(reachable, named - 1);
    std::uint64_t lastDirectory = p.orphanIndex;
    for (std::uint64_t i = 1; i + 1 < p.entries.size(); ++i) {
        if (i == p.rootIndex || !p.hasName(i)) continue;
        if (p.isDirectory(i)) {
            lastDirectory = i;
            continue;
        }
        const auto children = p.childrenOf(lastDirectory);
        EXPECT_NE(std::find(children.begin(), children.end(), i), children.end())
            << p.entryLabel(i);
    }
    EXPECT_TRUE(deep.statusSaid(
        formatText("MFT ENTRY %d Found.Parsing it ..", static_cast<int>(named))));
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
