// The Standard scan on synthetic volumes: boot sector, MFT slots, linking, orphans, the tree.
#include <gtest/gtest.h>

#include <algorithm>

#include "common/CheckTree.h"
#include "fs/ntfs/NtfsEntryView.h"
#include "fs/ntfs/NtfsImageBuilder.h"
#include "fs/ntfs/ntfs.h"
#include "fs/parser/TreeFill.h"
#include "image/MemoryReader.h"

using namespace vindaru;
using namespace vindaru::test;

namespace {

struct Scan {
    explicit Scan(Bytes image, std::string sizeText = "1")
        : reader(std::move(image)), parser(reader, ntfsRecord(sizeText), &status, &progress) {}
    void run() {
        parser.readBootSector();
        parser.locateMft();
        parser.readMftByRuns();
        parser.parseAllEntries();
        fillTopLevel(tree, NtfsEntryView(parser), volumeItem);
    }
    std::vector<std::string> labels(std::uint64_t dir) {
        std::vector<std::string> out;
        for (auto c : parser.childrenOf(dir)) out.push_back(parser.entryLabel(c));
        return out;
    }
    bool hasText(const std::string& t) {
        auto texts = status.snapshot();
        return std::find(texts.begin(), texts.end(), t) != texts.end();
    }
    MemoryReader reader;
    RecordingStatusSink status;
    RecordingProgressSink progress;
    CheckTree tree;
    TreeItemId volumeItem = tree.insertItem("ROOT", IconKind::Folder);
    ntfs parser;
};

using V = std::vector<std::string>;

// Gives the $MFT record a $DATA of two runs, each {clusters, first cluster}, holding `records`.
void mapMftInTwoRuns(NtfsImageBuilder& b, std::pair<std::uint64_t, std::uint64_t> first,
                     std::pair<std::uint64_t, std::uint64_t> second, std::uint64_t records) {
    Bytes runs = NtfsImageBuilder::run(first.first, static_cast<std::int64_t>(first.second), 1, 2);
    const Bytes next = NtfsImageBuilder::run(
        second.first, static_cast<std::int64_t>(second.second - first.second), 1, 2);
    runs.insert(runs.end(), next.begin(), next.end());
    runs.push_back(0);
    b.record(0).attributes[2] = NtfsImageBuilder::nonResident(
        0x80, runs, 0, first.first + second.first - 1, records * 1024);
}

} // namespace

TEST(NtfsBootSector, OnlyTheFourSignatureBytesCountAndLargeClusterBytesArePowersOfTwo) {
    Bytes image(64 * 1024, 0);
    Bytes boot = NtfsImageBuilder::bootSector(512, 0xF4, 1000, 4);
    std::copy_n("NTFSXYZW", 8, boot.begin() + 3);
    std::copy(boot.begin(), boot.end(), image.begin());
    Scan s(image);
    EXPECT_TRUE(s.parser.readBootSector());
    EXPECT_EQ(s.parser.volumeSize, 1000u * 512);
    s.parser.locateMft();
    EXPECT_EQ(s.parser.clusterSize, 4096u * 512) << "0xF4 is 2^12 sectors";
    EXPECT_TRUE(s.parser.mftRunKnown);
    EXPECT_TRUE(s.hasText("boot sector is fine.Getting run of mft entry..."));
    EXPECT_TRUE(s.hasText("Got run..."));
}

TEST(NtfsBootSector, SectorAndRecordSizesComeFromTheBootSectorWhenValid) {
    struct Case {
        std::uint16_t bytesPerSector;
        std::uint8_t sectorsPerCluster, clustersPerRecord;
        std::uint64_t volumeBytes, cluster;
        std::uint32_t record;
    } cases[] = {
        {4096, 1, 1, 100 * 4096, 4096, 4096},  // 4Kn: one cluster per record
        {512, 8, 0xF6, 100 * 512, 4096, 1024}, // 2^10 bytes
        {512, 8, 0xF4, 100 * 512, 4096, 4096}, // 2^12 bytes
        {512, 8, 0xF0, 100 * 512, 4096, 1024}, // 64 KiB records: refused
        {1000, 8, 0xF6, 100 * 512, 4096, 1024}, // not a power of two: 512-byte sectors
        {8192, 1, 0xF6, 100 * 512, 512, 1024},  // above 4096: 512-byte sectors
    };
    for (const Case& c : cases) {
        Bytes image(64 * 1024, 0);
        Bytes boot = NtfsImageBuilder::bootSector(c.bytesPerSector, c.sectorsPerCluster, 100, 4);
        boot[0x40] = c.clustersPerRecord;
        std::copy(boot.begin(), boot.end(), image.begin());
        Scan s(image);
        s.parser.readBootSector();
        s.parser.locateMft();
        EXPECT_EQ(s.parser.volumeSize, c.volumeBytes) << c.bytesPerSector;
        EXPECT_EQ(s.parser.clusterSize, c.cluster) << c.bytesPerSector;
        EXPECT_EQ(s.parser.recordSize, c.record) << int{c.clustersPerRecord};
    }
}

TEST(NtfsLinking, NamesOfEveryLengthAByteCanHoldAreShown) {
    NtfsImageBuilder b;
    b.file(16, NtfsImageBuilder::kRoot, std::u16string(255, u'\u6587'), true);
    b.file(17, 16, std::u16string(253, u'a') + u"\U0001F600");
    Scan s(b.build());
    s.run();
    EXPECT_EQ(s.parser.entryName(16).size(), 255u);
    ASSERT_EQ(s.labels(16).size(), 1u);
    EXPECT_EQ(s.parser.entryName(17).size(), 255u);
}

TEST(NtfsBootSector, WithoutSignatureTheSizeTextGivesTheSizeAndTheCorruptScanIsAsked) {
    Scan s(Bytes(8192, 0), "12 MB");
    EXPECT_TRUE(s.parser.readBootSector());
    EXPECT_EQ(s.parser.volumeSize, 12u * 1048576);
    EXPECT_FALSE(s.parser.locateMft());
    EXPECT_TRUE(s.hasText("boot sector corrupt.Scanning for first mft entry..."));
    Scan none(Bytes(8192, 0), "none");
    EXPECT_TRUE(none.parser.readBootSector()) << "no sector count: the volume runs to the disk's end";
    EXPECT_EQ(none.parser.volumeSize, 8192u);
}

TEST(NtfsScan, ReadsFourSlotsPerClusterAndBuildsTheTree) {
    NtfsImageBuilder b;
    b.file(16, NtfsImageBuilder::kRoot, u"docs", true);
    b.file(17, 16, u"a.txt");
    b.file(18, 16, u"b.txt").flags = 0; // deleted
    b.file(19, NtfsImageBuilder::kRoot, u"top.txt");
    Scan s(b.build());
    s.run();
    EXPECT_EQ(s.parser.entryCount(), 32u + 2) << "8 clusters of 4 records, the entry that lists $MFT, and ORPHAN_ENTRY";
    EXPECT_EQ(s.parser.rootIndex, 5u);
    // Records 1 to 4 are absent, so the root's own record became its first child (the walks of
    // the browser enter it once).
    EXPECT_EQ(s.labels(5), (V{".", "docs", "top.txt", "$MFT", "ORPHAN_ENTRY"}));
    EXPECT_EQ(s.labels(16), (V{"a.txt", "b.txt"}));
    EXPECT_FALSE(s.parser.isInUse(18));
    EXPECT_TRUE(s.parser.isDirectory(16));
    EXPECT_TRUE(s.hasText("parsing 4 cluster of MFT run."));
    EXPECT_TRUE(s.hasText("parsing MFT entry 0..."));
    EXPECT_TRUE(s.hasText("parsing MFT entry 31..."));
    ASSERT_FALSE(s.progress.ranges.empty());
    EXPECT_EQ(s.progress.ranges.front().second, 32);

    // The first level went into the tree under the volume item, which is expanded.
    const auto items = s.tree.children(s.volumeItem);
    ASSERT_EQ(items.size(), 5u);
    EXPECT_EQ(s.tree.label(items[1]), "docs");
    EXPECT_EQ(*s.tree.getItemData(items[1]), 16u);
    EXPECT_EQ(s.tree.item(items[1])->icon, IconKind::Folder);
    EXPECT_EQ(s.tree.item(items[2])->icon, IconKind::ByExtension);
    EXPECT_EQ(s.tree.label(items[3]), "$MFT");
    EXPECT_EQ(*s.tree.getItemData(items[4]), s.parser.orphanIndex);
    EXPECT_TRUE(s.tree.item(s.volumeItem)->expanded);
}

// Record 0 is never a child itself: $MFT is listed through an entry standing for it.
TEST(NtfsScan, DeletedFirstLevelEntriesAreRedAndEntryZeroIsListedThroughItsStandIn) {
    NtfsImageBuilder b;
    b.file(16, NtfsImageBuilder::kRoot, u"gone.txt").flags = 0;
    Scan s(b.build());
    s.run();
    const auto items = s.tree.children(s.volumeItem);
    ASSERT_EQ(items.size(), 4u);
    EXPECT_EQ(s.tree.item(items[1])->textColour, kRedTextColour);
    EXPECT_EQ(s.tree.label(items[2]), "$MFT");
    EXPECT_NE(s.tree.item(items[2])->textColour, kRedTextColour);
    for (std::uint64_t i = 0; i < s.parser.entryCount(); ++i)
        for (auto c : s.parser.childrenOf(i)) EXPECT_NE(c, 0u);
}

TEST(NtfsLinking, LaterNameWinsParentComesFromTheFirstAndEveryLinkIsShownOnce) {
    NtfsImageBuilder b;
    b.file(16, NtfsImageBuilder::kRoot, u"dir", true);
    // The DOS short name and the long name of one link.
    b.file(17, 16, u"LONGNA~1.TXT", false, {NtfsImageBuilder::fileName(16, u"long name.txt", false)})
        .attributes[1][0x18 + 0x41] = 2;
    b.file(18, 16, u"");
    // A hard link in another folder: the entry keeps the first link's name and folder, and the
    // other link is an entry of its own with the same record.
    b.file(19, 16, u"link-here.txt", false, {NtfsImageBuilder::fileName(NtfsImageBuilder::kRoot, u"link-there.txt", false)});
    Scan s(b.build());
    s.run();
    EXPECT_EQ(s.labels(16), (V{"long name.txt", "", "link-here.txt"})) << "a name of length 0 is an empty label";
    EXPECT_TRUE(s.parser.hasName(18));
    EXPECT_EQ(s.labels(5), (V{".", "dir", "link-there.txt", "$MFT", "ORPHAN_ENTRY"}));
    const std::uint64_t there = s.parser.childrenOf(5)[2];
    EXPECT_EQ(s.parser.readRecord(there)->raw()[0x2C], 19) << "the extra name reads record 19";
}

TEST(NtfsLinking, UnusableParentsMakeOrphansListedNewestFirst) {
    NtfsImageBuilder b;
    b.file(16, NtfsImageBuilder::kRoot, u"plain.txt");
    b.file(17, 16, u"under-a-file.txt");
    b.file(18, 0xFFFFFF, u"parent-past-table.txt");
    b.file(20, 25, u"parent-later.txt");
    b.file(25, NtfsImageBuilder::kRoot, u"later-dir", true);
    Scan s(b.build());
    s.run();
    EXPECT_EQ(s.labels(s.parser.orphanIndex), (V{"parent-past-table.txt", "under-a-file.txt"}));
    EXPECT_EQ(s.labels(25), (V{"parent-later.txt"})) << "a later parent is trusted before it is parsed";
    EXPECT_EQ(s.parser.entries[17].nextSibling, -1);
}

TEST(NtfsLinking, ParentLoopsAndSelfParentsNeverHangAWalk) {
    NtfsImageBuilder b;
    b.file(16, 17, u"loop-a", true);
    b.file(17, 16, u"loop-b", true);
    b.file(18, 18, u"self", true);
    b.file(19, 18, u"in-self.txt");
    Scan s(b.build());
    s.run();
    EXPECT_EQ(s.labels(16), (V{"loop-b"}));
    EXPECT_EQ(s.labels(17), (V{"loop-a"}));
    EXPECT_EQ(s.labels(18), (V{"self", "in-self.txt"}));
    // A guarded walk from every entry ends.
    for (std::uint64_t i = 0; i < s.parser.entryCount(); ++i) {
        std::vector<bool> seen(s.parser.entryCount());
        std::vector<std::uint64_t> stack{i};
        std::size_t steps = 0;
        while (!stack.empty()) {
            const auto d = stack.back();
            stack.pop_back();
            for (auto c : s.parser.childrenOf(d))
                if (!seen[c]) seen[c] = true, stack.push_back(c), ++steps;
        }
        EXPECT_LE(steps, s.parser.entryCount());
    }
}

TEST(NtfsLinking, DamagedRecordsLeaveTheirEntryUnnamed) {
    NtfsImageBuilder b;
    // A name that would run past the record.
    Bytes fn = NtfsImageBuilder::fileName(NtfsImageBuilder::kRoot, u"x", false);
    RecordSpec& r = b.file(16, NtfsImageBuilder::kRoot, u"ok");
    r.attributes[1] = fn;
    Bytes pad(0x3A0 - 0x38 - r.attributes[0].size() - fn.size(), 0);
    r.attributes.insert(r.attributes.begin() + 1, NtfsImageBuilder::resident(0x40, pad));
    // The name-length byte of the $FILE_NAME now sits near the record's end: claim 200 units.
    Bytes image = b.build();
    const std::size_t rec16 = 4 * 4096 + 16 * 1024;
    const std::size_t fnAt = 0x38 + r.attributes[0].size() + r.attributes[1].size();
    image[rec16 + fnAt + 0x18 + 0x40] = 200;
    // A record whose first attribute has length 0, and one of name length 255.
    b.file(17, NtfsImageBuilder::kRoot, u"zero");
    b.file(18, NtfsImageBuilder::kRoot, u"name255");
    Bytes image2 = b.build();
    std::copy(image.begin() + rec16, image.begin() + rec16 + 1024, image2.begin() + rec16);
    const std::size_t rec17 = rec16 + 1024;
    image2[rec17 + 0x38 + 4] = 0;
    image2[rec17 + 0x38 + 5] = 0;
    const std::size_t rec18 = rec17 + 1024;
    const std::size_t fn18 = 0x38 + NtfsImageBuilder::standardInformation(0, 0, 0).size();
    image2[rec18 + fn18 + 0x18 + 0x40] = 255;
    Scan s(image2);
    s.run();
    EXPECT_FALSE(s.parser.hasName(16));
    EXPECT_FALSE(s.parser.hasName(17));
    EXPECT_FALSE(s.parser.hasName(18));
    EXPECT_EQ(s.labels(5), (V{".", "$MFT", "ORPHAN_ENTRY"}));
}

TEST(NtfsScan, WithoutARootNothingGoesBelowTheVolumeItemButOrphanEntry) {
    NtfsImageBuilder b;
    b.record(5).attributes.clear();
    b.file(16, 5, u"a.txt");
    Scan s(b.build());
    s.run();
    EXPECT_EQ(s.parser.rootIndex, s.parser.entryCount());
    EXPECT_EQ(s.tree.childCount(s.volumeItem), 0u);
}

namespace {
// Presses Stop when the scan reports a given progress position.
class StopAt : public ProgressSink {
public:
    explicit StopAt(std::int64_t at) : at_(at) {}
    void setRange(std::int64_t, std::int64_t) override {}
    void setPosition(std::int64_t p) override {
        if (control && p >= at_) control->requestStop();
    }
    EngineControl* control = nullptr;

private:
    std::int64_t at_;
};
} // namespace

TEST(NtfsScan, StopKeepsWhatWasParsedAndStillAddsOrphanEntry) {
    NtfsImageBuilder b(4096, 256, 600);
    b.file(16, NtfsImageBuilder::kRoot, u"early.txt");
    b.file(300, NtfsImageBuilder::kRoot, u"late.txt");
    MemoryReader reader(b.build());
    StopAt stop(256);
    ntfs parser(reader, VolumeRecord{"NTFS", "1", "1", 0}, nullptr, &stop);
    parser.readBootSector();
    parser.locateMft();
    parser.readMftByRuns();
    EXPECT_EQ(parser.entryCount(), 600u);
    stop.control = &parser.control;
    parser.parseAllEntries();
    EXPECT_EQ(parser.entryCount(), 602u) << "600 slots, the entry that lists $MFT, and ORPHAN_ENTRY";
    std::vector<std::string> labels;
    for (auto c : parser.childrenOf(parser.rootIndex)) labels.push_back(parser.entryLabel(c));
    EXPECT_EQ(labels, (V{".", "early.txt", "$MFT", "ORPHAN_ENTRY"}));
}

TEST(NtfsScan, SmallClustersJoinARecordSplitBetweenRuns) {
    // 512-byte clusters; the MFT's first run has 33 clusters, so record 16 is cut in two.
    NtfsImageBuilder b(512, 2048, 32, 8);
    mapMftInTwoRuns(b, {33, 8}, {31, 200}, 32);
    b.file(16, NtfsImageBuilder::kRoot, u"split.txt");
    b.file(17, NtfsImageBuilder::kRoot, u"after.txt");
    Bytes image = b.build();
    // Move the MFT's bytes from cluster 41 on to cluster 200.
    const std::size_t from = 41 * 512, to = 200 * 512, n = 31 * 512;
    std::copy(image.begin() + from, image.begin() + from + n, image.begin() + to);
    std::fill(image.begin() + from, image.begin() + from + n, 0);
    Scan s(image);
    s.run();
    EXPECT_EQ(s.labels(5), (V{".", "split.txt", "after.txt", "$MFT", "ORPHAN_ENTRY"}));
    EXPECT_EQ(s.parser.entrySize(16), 0u);
    EXPECT_TRUE(s.parser.describeEntry(16).hasTimes) << "the joined record is read again whole";
}

TEST(NtfsScan, AnMftWhoseRunsContinueInAnExtensionRecordIsReadWhole) {
    // 64 records: the $MFT record maps VCN 0..3 (records 0..15 at cluster 4); its attribute list
    // names record 15, which maps VCN 4..15 (records 16..63) at cluster 40.
    NtfsImageBuilder b(4096, 256, 64);
    Bytes baseRuns = NtfsImageBuilder::run(4, 4, 1, 2);
    baseRuns.push_back(0);
    Bytes list;
    for (const Bytes& e : {NtfsImageBuilder::attributeListEntry(0x80, 0, 0), NtfsImageBuilder::attributeListEntry(0x80, 4, 15)})
        list.insert(list.end(), e.begin(), e.end());
    RecordSpec& mft = b.record(0);
    mft.attributes[2] = NtfsImageBuilder::nonResident(0x80, baseRuns, 0, 3, 64 * 1024);
    mft.attributes.push_back(NtfsImageBuilder::resident(0x20, list));
    Bytes moreRuns = NtfsImageBuilder::run(12, 40, 1, 2);
    moreRuns.push_back(0);
    RecordSpec& ext = b.record(15);
    ext.attributes = {NtfsImageBuilder::nonResident(0x80, moreRuns, 4, 15, 0)};
    b.file(20, NtfsImageBuilder::kRoot, u"past-the-first-extent.txt");
    Bytes image = b.build();
    const std::size_t from = 4 * 4096 + 16 * 1024, to = 40 * 4096, n = 48 * 1024;
    std::copy(image.begin() + from, image.begin() + from + n, image.begin() + to);
    std::fill(image.begin() + from, image.begin() + from + n, 0);
    Scan s(image);
    s.run();
    EXPECT_EQ(s.parser.mftRuns.size(), 2u);
    EXPECT_EQ(s.parser.entryCount(), 64u + 2);
    EXPECT_EQ(s.labels(5), (V{".", "past-the-first-extent.txt", "$MFT", "ORPHAN_ENTRY"}));
}

// A sparse image's reader: what the test placed is stored; reading anything else is counted.
struct SparseImage : MemoryReader {
    using MemoryReader::MemoryReader;
    bool readRange(std::uint64_t position, std::span<std::uint8_t> out, ReadReport* report) const override {
        if (isHole(position, out.size())) unstoredReads += 1;
        return MemoryReader::readRange(position, out, report);
    }
    mutable int unstoredReads = 0;
};

TEST(NtfsScan, MftSlotsASparseImageDoesNotStoreAreLeftEmptyUnread) {
    // The MFT's second run, 64 slots at cluster 100, was never written: the image stores only
    // what lies before it and after it.
    NtfsImageBuilder b(4096, 256, 32);
    mapMftInTwoRuns(b, {8, 4}, {16, 100}, 96);
    b.file(16, NtfsImageBuilder::kRoot, u"kept.txt");
    const Bytes image = b.build();
    SparseImage reader(image.size());
    reader.place(0, std::span(image).first(100 * 4096));
    reader.place(116 * 4096, std::span(image).subspan(116 * 4096));
    RecordingStatusSink status;
    RecordingProgressSink progress;
    CheckTree tree;
    ntfs parser(reader, VolumeRecord{"NTFS", "1", "1", 0}, &status, &progress);
    parser.readBootSector();
    parser.locateMft();
    reader.unstoredReads = 0;
    parser.readMftByRuns();
    EXPECT_EQ(reader.unstoredReads, 0);
    parser.parseAllEntries();
    // Every slot keeps its record number, as on an image that stores the zeros.
    Scan dense(image);
    dense.run();
    EXPECT_GE(parser.entryCount(), 96u);
    EXPECT_EQ(parser.entryCount(), dense.parser.entryCount());
    std::vector<std::string> labels;
    for (auto c : parser.childrenOf(NtfsImageBuilder::kRoot))
        labels.push_back(parser.entryLabel(c));
    EXPECT_EQ(labels, dense.labels(NtfsImageBuilder::kRoot));
    EXPECT_EQ(labels, (V{".", "kept.txt", "$MFT", "ORPHAN_ENTRY"}));
}
