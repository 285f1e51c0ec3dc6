// The sector scans on synthetic volumes: records placed at chosen positions (across the 10 MiB
// chunk ends and the read pieces inside a chunk), record checks, deep linking by disk order,
// the candidate search's rules and limit, size text 0, and stop.
#include <gtest/gtest.h>

#include <algorithm>

#include "common/CheckTree.h"
#include "common/DisplayFormat.h"
#include "fs/ntfs/NtfsEntryView.h"
#include "fs/ntfs/NtfsImageBuilder.h"
#include "fs/parser/TreeFill.h"
#include "fs/ntfs/ntfs.h"
#include "image/MemoryReader.h"

using namespace vindaru;
using namespace vindaru::test;

namespace {

constexpr std::uint64_t kMiB = 1048576;
constexpr std::uint64_t kChunk = 10 * kMiB;

// One 1024-byte record, fixed up as NTFS stores it, with its attributes from `firstAttribute`.
Bytes makeRecord(std::vector<Bytes> attributes, std::uint16_t flags = 1,
                 std::uint16_t firstAttribute = 0x38) {
    Bytes rec(1024, 0);
    std::copy_n("FILE", 4, rec.begin());
    put16(rec, 0x04, 0x30);
    put16(rec, 0x06, 3);
    put16(rec, 0x14, firstAttribute);
    put16(rec, 0x16, flags);
    std::size_t at = firstAttribute;
    for (const Bytes& a : attributes) {
        std::copy(a.begin(), a.end(), rec.begin() + static_cast<std::ptrdiff_t>(at));
        at += a.size();
    }
    put32(rec, at, 0xFFFFFFFF);
    NtfsImageBuilder::protect(rec);
    return rec;
}

Bytes named(const std::u16string& name, bool directory = false, std::uint16_t firstAttribute = 0x38,
            std::vector<Bytes> extra = {}) {
    std::vector<Bytes> attributes{NtfsImageBuilder::fileName(5, name, directory)};
    for (auto& a : extra)
        attributes.push_back(std::move(a));
    return makeRecord(attributes, directory ? 3 : 1, firstAttribute);
}

// An MFT's first eight records: "$MFT" with a one-run $DATA at `mftLcn`, then six system
// records and "$Boot" (record 7). `first` renames record 0 ("$MFTMirr" makes a mirror).
std::vector<Bytes> mftStart(std::int64_t mftLcn, const std::u16string& first = u"$MFT") {
    const Bytes runs = [&] {
        Bytes r = NtfsImageBuilder::run(4, mftLcn, 1, 2);
        r.push_back(0);
        return r;
    }();
    std::vector<Bytes> out{
        named(first, false, 0x38, {NtfsImageBuilder::nonResident(0x80, runs, 0, 3, 16384)})};
    for (const char16_t* n : {u"$MFTMirr", u"$LogFile", u"$Volume", u"$AttrDef", u".", u"$Bitmap"})
        out.push_back(named(n, std::u16string(n) == u"."));
    out.push_back(named(u"$Boot"));
    return out;
}

struct Volume {
    explicit Volume(std::uint64_t bytes) : image(bytes, 0) {}
    void put(std::uint64_t at, const Bytes& record) {
        std::copy(record.begin(), record.end(), image.begin() + static_cast<std::ptrdiff_t>(at));
    }
    void putAll(std::uint64_t at, const std::vector<Bytes>& records) {
        for (const Bytes& r : records) {
            put(at, r);
            at += 1024;
        }
    }
    Bytes image;
};

// A status sink that can stop the parser when it sees a text.
struct StoppingStatus : RecordingStatusSink {
    ntfs* parser = nullptr;
    std::string stopAt;
    void setText(const std::string& text) override {
        RecordingStatusSink::setText(text);
        if (parser && !stopAt.empty() && text.rfind(stopAt, 0) == 0) parser->control.requestStop();
    }
};

struct Scan {
    Scan(Bytes bytes, std::string sizeText, int mode)
        : reader(std::move(bytes)),
          parser(reader, ntfsRecord(sizeText), &status, &progress) {
        status.parser = &parser;
        parser.scanMode = mode;
        parser.readBootSector();
    }
    // The end of the scan as the page runs it: the entries linked, then the tree's first level.
    void parse() {
        parser.parseAllEntries();
        fillTopLevel(tree, NtfsEntryView(parser), volumeItem);
    }
    std::vector<std::string> labels(std::uint64_t dir) {
        std::vector<std::string> out;
        for (auto c : parser.childrenOf(dir))
            out.push_back(parser.entryLabel(c));
        return out;
    }
    std::vector<std::string> entryLabels() {
        std::vector<std::string> out;
        for (std::uint64_t i = 0; i < parser.entries.size(); ++i)
            if (parser.hasName(i)) out.push_back(parser.entryLabel(i));
        return out;
    }
    bool said(const std::string& t) {
        auto texts = status.snapshot();
        return std::find(texts.begin(), texts.end(), t) != texts.end();
    }
    MemoryReader reader;
    StoppingStatus status;
    RecordingProgressSink progress;
    CheckTree tree;
    TreeItemId volumeItem = tree.insertItem("ROOT", IconKind::Folder);
    ntfs parser;
};

using V = std::vector<std::string>;

} // namespace

TEST(NtfsDeepScan, FindsRecordsAcrossChunkAndPieceEndsAndShowsOnlyNamedOnes) {
    Volume v(21 * kMiB);
    v.put(0x10000, named(u"early.txt"));
    v.put(0x20000, named(u"first-dir", true));
    v.put(kMiB - 512, named(u"piece-end.txt")); // straddles a read piece
    v.put(0x180000, makeRecord({NtfsImageBuilder::standardInformation(1, 2, 3)})); // no $FILE_NAME
    v.put(0x190000, named(u"high-offsets.txt", false, 0x200)); // first attribute at 0x200
    v.put(0x1A0000, named(u"second-dir", true));
    v.put(kChunk - 512, named(u"chunk-end.txt")); // straddles the chunk end
    v.put(kChunk + 1024, named(u"next-chunk.txt"));
    v.put(21 * kMiB - 1024, named(u"last.txt"));
    Scan s(v.image, "21", 3);
    s.status.setText(" scanning for mft entries in deep mode ....");
    EXPECT_FALSE(s.parser.scanMftRecordsDeep());
    EXPECT_EQ(s.entryLabels(), (V{"early.txt", "first-dir", "piece-end.txt", "second-dir",
                                  "chunk-end.txt", "next-chunk.txt", "last.txt"}));
    EXPECT_FALSE(s.parser.mftRunKnown);
    EXPECT_EQ(s.parser.clusterSize, 4096u); // no NTFS boot sector
    EXPECT_TRUE(s.said("MFT ENTRY 1 Found.Parsing it .."));
    EXPECT_EQ(s.status.snapshot().back(), "MFT ENTRY 7 Found.Parsing it ..");
    EXPECT_EQ(s.progress.ranges.front(), (std::pair<std::int64_t, std::int64_t>(0, 2)));
    EXPECT_EQ(s.progress.positions.back(), 3); // three chunks read

    s.parser.readMftByRuns(); // nothing: the MFT's runs are unknown
    EXPECT_EQ(s.entryLabels().size(), 7u);
    s.parse();
    const std::uint64_t orphan = s.parser.orphanIndex;
    // Directories newest first, then the file found before the first directory.
    EXPECT_EQ(s.labels(orphan), (V{"second-dir", "first-dir", "early.txt"}));
    EXPECT_EQ(s.labels(2), (V{"piece-end.txt"}));
    EXPECT_FALSE(s.parser.hasName(4)); // the record without a name: kept, never shown
    EXPECT_EQ(s.labels(5), (V{"last.txt", "next-chunk.txt", "chunk-end.txt"}));
    // These records carry no number: their folders are guesses from disk order.
    EXPECT_TRUE(s.parser.isPathGuessed(7));
    EXPECT_FALSE(s.parser.isPathGuessed(1)); // directly under ORPHAN_ENTRY
    // Only ORPHAN_ENTRY goes below the volume item, though there is no root ".".
    const auto top = s.tree.children(s.tree.children(kTreeTop)[0]);
    ASSERT_EQ(top.size(), 1u);
    EXPECT_EQ(s.tree.label(top[0]), "ORPHAN_ENTRY");
}

// A record as NTFS 3.1 writes it: its own number, sequence and log sequence number, and a
// parent reference with the parent's sequence.
struct Numbered {
    std::uint32_t number;
    std::uint16_t sequence;
    std::uint64_t logSequence;
    std::u16string name;
    std::uint32_t parent;
    std::uint16_t parentSequence;
    bool directory = false;
    bool inUse = true;
};

Bytes numbered(const Numbered& n) {
    const std::uint64_t parent = n.parent | (std::uint64_t{n.parentSequence} << 48);
    Bytes rec = makeRecord({NtfsImageBuilder::fileName(parent, n.name, n.directory)},
                           static_cast<std::uint16_t>((n.inUse ? 1 : 0) | (n.directory ? 2 : 0)));
    put64(rec, 0x08, n.logSequence);
    put16(rec, 0x10, n.sequence);
    put32(rec, 0x2C, n.number);
    return rec;
}

TEST(NtfsDeepScan, PlacesRecordsByTheirNumbersAndShowsEachFileOnce) {
    Volume v(2 * kMiB);
    const std::vector<Numbered> records{
        {5, 5, 1, u".", 5, 5, true},
        {40, 1, 1, u"Docs", 5, 5, true},
        {41, 1, 1, u"a.txt", 40, 1},
        {42, 1, 10, u"old-b.txt", 40, 1},          // an earlier file of slot 42
        {42, 2, 20, u"new-c.txt", 5, 5},           // the slot's file now
        {43, 3, 5, u"draft.txt", 40, 1},           // renamed and moved since:
        {43, 3, 50, u"final.txt", 5, 5},           // only the newest copy shows
        {45, 3, 1, u"Later", 5, 5, true},          // slot 45 reused by a folder
        {44, 2, 1, u"stranger.txt", 45, 1, false, false}, // its folder was the old 45
        {46, 1, 1, u"LoopA", 47, 1, true},
        {47, 1, 1, u"LoopB", 46, 1, true},
    };
    std::uint64_t at = 0x10000;
    for (const Numbered& n : records) {
        v.put(at, numbered(n));
        at += 1024;
    }
    v.put(kMiB, numbered(records[1])); // the same record again, further on (a mirror's copy)
    Scan s(v.image, "2", 3);
    s.parser.scanMftRecordsDeep();
    s.parse();
    ntfs& p = s.parser;
    ASSERT_LT(p.rootIndex, p.entries.size());
    EXPECT_EQ(s.labels(p.rootIndex), (V{"Docs", "new-c.txt", "final.txt", "Later", "ORPHAN_ENTRY"}));
    const auto docs = p.childrenOf(p.rootIndex)[0];
    EXPECT_EQ(p.entries[docs].recordPosition, 0x10400u); // the first of equal copies
    EXPECT_EQ(s.labels(docs), (V{"a.txt", "old-b.txt"}));
    EXPECT_FALSE(p.isInUse(p.childrenOf(docs)[1])); // an earlier file of a reused slot
    // The stranger's folder is gone: not under "Later", which took its slot, but under
    // ORPHAN_ENTRY itself; the loop's folders are there too, one below the other.
    EXPECT_EQ(s.labels(p.orphanIndex), (V{"LoopA", "stranger.txt"}));
    EXPECT_EQ(s.labels(p.childrenOf(p.orphanIndex)[0]), (V{"LoopB"}));
    EXPECT_TRUE(s.labels(p.childrenOf(p.rootIndex)[3]).empty());
    for (std::uint64_t i = 0; i < p.entries.size(); ++i) EXPECT_FALSE(p.isPathGuessed(i)) << i;
    // The tree's first level is the root's.
    const auto top = s.tree.children(s.tree.children(kTreeTop)[0]);
    ASSERT_EQ(top.size(), 5u);
    EXPECT_EQ(s.tree.label(top[4]), "ORPHAN_ENTRY");
}

TEST(NtfsDeepScan, DirectoriesPastTheCapAreFiledLikeFiles) {
    // The linking alone, on a table as the deep scan leaves it.
    Volume v(kMiB);
    Scan s(v.image, "1", 3);
    auto& e = s.parser.entries;
    e.resize(100003);
    for (std::uint64_t i = 1; i < e.size(); ++i) {
        e[i].selfIndex = i;
        e[i].hasName = true;
        e[i].kind = 'D';
        e[i].orphan = 1; // none could be placed by its references
    }
    e.emplace_back(); // ORPHAN_ENTRY's place
    e.back().kind = 'D';
    s.parser.orphanIndex = e.size() - 1;
    s.parser.rootIndex = e.size();
    s.parser.linkOrphans();
    // 100 001 directories are chained under ORPHAN_ENTRY, the last one goes under the 100 001st.
    EXPECT_EQ(s.parser.childrenOf(s.parser.orphanIndex).size(), 100001u);
    EXPECT_EQ(s.parser.childrenOf(100001), (std::vector<std::uint64_t>{100002}));
}

TEST(NtfsDeepScan, StopInTheMiddleKeepsWhatWasFound) {
    Volume v(30 * kMiB);
    for (std::uint64_t at = 0; at < v.image.size(); at += kMiB)
        v.put(at, named(u"f" + std::u16string(1, u'a' + at / kMiB % 26)));
    Scan s(v.image, "30", 3);
    s.status.stopAt = "MFT ENTRY 1 Found";
    s.parser.scanMftRecordsDeep();
    const auto found = s.entryLabels().size();
    EXPECT_GE(found, 1u);
    EXPECT_LT(found, 30u);
    s.parse();
    EXPECT_EQ(s.parser.entryLabel(s.parser.orphanIndex), "ORPHAN_ENTRY");
    EXPECT_EQ(s.tree.childCount(s.tree.children(kTreeTop)[0]), 1u);
}

TEST(NtfsSectorScans, SizeTextZeroWithoutBootSectorReadsNothing) {
    Volume v(2 * kMiB);
    v.putAll(0x10000, mftStart(16));
    Scan deep(v.image, "0", 3);
    EXPECT_EQ(deep.parser.volumeSize, 512u) << "one sector: no record fits";
    deep.parser.scanMftRecordsDeep();
    deep.parser.parseAllEntries();
    EXPECT_EQ(deep.entryLabels(), (V{"ORPHAN_ENTRY"}));

    Scan corrupt(v.image, "0", 1);
    EXPECT_FALSE(corrupt.parser.locateMft());
    EXPECT_FALSE(corrupt.parser.mftRunKnown);

    Scan advanced(v.image, "0", 2);
    EXPECT_EQ(advanced.parser.findMftCandidates(3), 0u);
    EXPECT_FALSE(advanced.parser.runsFromCandidate(0));
}

TEST(NtfsCorruptBoot, TakesTheFirstMfRecordWithRunsEvenWithHighOffsets) {
    Volume v(12 * kMiB);
    // A "$MFx" record without runs does not end the scan; the next "$MF" one with runs does.
    v.put(0x8000, named(u"$MFTnothing"));
    std::vector<Bytes> start = mftStart(16);
    start[0] =
        named(u"$MFT", false, 0x200,
              {NtfsImageBuilder::nonResident(0x80, Bytes{0x11, 0x04, 0x10, 0x00}, 0, 3, 4096)});
    v.putAll(0x10000, start);
    Scan s(v.image, "12", 1);
    ASSERT_TRUE(s.parser.locateMft());
    EXPECT_TRUE(s.said("boot sector corrupt.Scanning for first mft entry..."));
    EXPECT_TRUE(s.said("found mft entry.getting its run ..."));
    EXPECT_TRUE(s.said("got run ..."));
    EXPECT_TRUE(s.parser.mftRunKnown);
    EXPECT_FALSE(s.parser.runPending);
    EXPECT_EQ(s.parser.mftRuns, (std::vector<ClusterRun>{{16, 4, false}}));
    EXPECT_TRUE(s.parser.entries.empty()); // the MFT is read afresh
    EXPECT_EQ(s.parser.clusterSize, 4096u);
    s.parser.readMftByRuns();
    EXPECT_EQ(s.parser.entries.size(), 16u);
    EXPECT_EQ(s.parser.entries[0].recordPosition, 16u * 4096);

    // The deep scan does not take that record: its first attribute is at 0x200.
    Scan deep(v.image, "12", 3);
    deep.parser.scanMftRecordsDeep();
    const V labels = deep.entryLabels();
    EXPECT_EQ(std::count(labels.begin(), labels.end(), "$MFT"), 0);
    EXPECT_EQ(std::count(labels.begin(), labels.end(), "$MFTnothing"), 1);
}

TEST(NtfsCandidates, AMftStartIsACandidateAndAMirrorIsNot) {
    Volume v(24 * kMiB);
    v.putAll(0x10000, mftStart(16, u"$MFTMirr"));
    v.putAll(0x20000, mftStart(32));
    v.putAll(kChunk - 4096, mftStart(40)); // crosses the chunk end
    Scan s(v.image, "24", 2);
    ASSERT_EQ(s.parser.findMftCandidates(3), 2u);
    EXPECT_EQ(s.parser.mftCandidates[0].recordPosition, 0x20000u);
    EXPECT_EQ(s.parser.mftCandidates[1].recordPosition, kChunk - 4096);
    // The status line shows the previous candidate's text as later records are handled.
    EXPECT_TRUE(s.said("MFT ENTRY 16 Found.Parsing it ..."));
    EXPECT_EQ(s.progress.positions.back(), 3);

    s.parser.clearEntries();
    ASSERT_TRUE(s.parser.runsFromCandidate(1));
    EXPECT_EQ(s.parser.mftRuns, (std::vector<ClusterRun>{{40, 4, false}}));
    EXPECT_TRUE(s.parser.mftRunKnown);
}

TEST(NtfsCandidates, TheSearchStopsAtTheLimit) {
    Volume v(4 * kMiB);
    for (int k = 0; k < 5; ++k)
        v.putAll(0x10000 + k * 0x10000, mftStart(16 + 8 * k));
    Scan three(v.image, "4", 2);
    EXPECT_EQ(three.parser.findMftCandidates(3), 3u);
    Scan one(v.image, "4", 2);
    EXPECT_EQ(one.parser.findMftCandidates(0), 1u); // at least one is always looked for
    Scan all(v.image, "4", 2);
    EXPECT_EQ(all.parser.findMftCandidates(10), 5u);
    // The size text decides the end, whatever the boot sector says.
    Scan small(v.image, "0", 2);
    EXPECT_EQ(small.parser.findMftCandidates(10), 0u);
}
