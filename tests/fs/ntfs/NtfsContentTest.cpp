// File sizes and contents on synthetic volumes: resident, plain, sparse, alternate streams,
// attribute lists, compressed units, and saving with times.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include "fs/ntfs/NtfsImageBuilder.h"
#include "fs/ntfs/ntfs.h"
#include "image/MemoryReader.h"
#include "support/TestSupport.h"

using namespace vindaru;
using namespace vindaru::test;

namespace {

constexpr std::uint64_t kRoot = NtfsImageBuilder::kRoot;

Bytes pattern(std::size_t n, std::uint8_t seed) {
    Bytes b(n);
    for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<std::uint8_t>(seed + i * 31 + (i >> 9));
    return b;
}

Bytes runs(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    out.push_back(0);
    return out;
}

struct Volume {
    explicit Volume(const NtfsImageBuilder& b) : reader(b.build()), parser(reader, VolumeRecord{"NTFS", "1", "1", 0}) {
        parser.readBootSector();
        parser.locateMft();
        parser.readMftByRuns();
        parser.parseAllEntries();
    }
    Bytes content(std::uint64_t index, bool* ok = nullptr) {
        Bytes out;
        const bool r = parser.writeEntryContent(index, [&out](std::span<const std::uint8_t> d) {
            out.insert(out.end(), d.begin(), d.end());
            return true;
        });
        if (ok) *ok = r;
        return out;
    }
    MemoryReader reader;
    ntfs parser;
};

} // namespace

TEST(NtfsContent, ResidentFileIsItsContentAndItsLength) {
    NtfsImageBuilder b;
    const Bytes data = pattern(300, 1);
    b.file(16, kRoot, u"small.txt", false, {NtfsImageBuilder::resident(0x80, data)});
    Volume v(b);
    EXPECT_EQ(v.content(16), data);
    EXPECT_EQ(v.parser.entrySize(16), 300u);
    EXPECT_EQ(v.parser.formatEntrySize(16), "300 Bytes");
}

TEST(NtfsContent, ResidentContentAcrossTheSectorEndIsReadFixedUp) {
    NtfsImageBuilder b;
    const Bytes data = pattern(700, 9); // crosses byte 510 of the record
    b.file(16, kRoot, u"mid.bin", false, {NtfsImageBuilder::resident(0x80, data)});
    Volume v(b);
    EXPECT_EQ(v.content(16), data);
}

TEST(NtfsContent, PlainFileIsCutAtItsRealSize) {
    NtfsImageBuilder b;
    const Bytes data = pattern(3 * 4096, 2);
    b.writeCluster(40, data);
    b.file(16, kRoot, u"plain.bin", false,
           {NtfsImageBuilder::nonResident(0x80, runs({NtfsImageBuilder::run(3, 40)}), 0, 2, 10000)});
    Volume v(b);
    EXPECT_EQ(v.content(16), Bytes(data.begin(), data.begin() + 10000));
    EXPECT_EQ(v.parser.formatEntrySize(16), "9.77 KB");
    EXPECT_EQ(v.parser.dataClusterList(16, 100), (std::vector<std::int64_t>{40, 41, 42}));
}

TEST(NtfsContent, AnAlternateStreamIsNeverTheContent) {
    NtfsImageBuilder b;
    const Bytes data = pattern(5000, 3);
    b.writeCluster(50, data);
    b.file(16, kRoot, u"with-stream.bin", false,
           {NtfsImageBuilder::resident(0x80, Bytes(26, 'Z'), u"Zone.Identifier"),
            NtfsImageBuilder::nonResident(0x80, runs({NtfsImageBuilder::run(2, 60)}), 0, 1, 7000, 0, 0, u"big"),
            NtfsImageBuilder::nonResident(0x80, runs({NtfsImageBuilder::run(2, 50)}), 0, 1, 5000)});
    b.file(17, kRoot, u"only-stream.bin", false, {NtfsImageBuilder::resident(0x80, Bytes(26, 'Z'), u"s")});
    Volume v(b);
    EXPECT_EQ(v.content(16), data);
    EXPECT_EQ(v.parser.entrySize(16), 5000u);
    EXPECT_TRUE(v.content(17).empty());
    EXPECT_EQ(v.parser.entrySize(17), 0u);
}

TEST(NtfsContent, SparseRunsAndBytesPastTheInitializedSizeReadAsZeros) {
    NtfsImageBuilder b;
    const Bytes a = pattern(4096, 4), c = pattern(4096, 5);
    b.writeCluster(70, a);
    b.writeCluster(71, c);
    b.writeCluster(0x2A, pattern(4096, 6)); // what a repeated LCN would wrongly show
    b.file(16, kRoot, u"sparse.bin", false,
           {NtfsImageBuilder::nonResident(0x80, runs({NtfsImageBuilder::run(1, 70), NtfsImageBuilder::run(2, 0, 1, 0),
                                                      NtfsImageBuilder::run(1, 1)}),
                                          0, 3, 4 * 4096, 0, 0, u"", 4 * 4096 - 100)});
    Volume v(b);
    Bytes expected = a;
    expected.resize(3 * 4096, 0);
    expected.insert(expected.end(), c.begin(), c.end() - 100);
    expected.resize(4 * 4096, 0);
    EXPECT_EQ(v.content(16), expected);
    EXPECT_EQ(v.parser.dataClusterList(16, 100), (std::vector<std::int64_t>{70, -1, -1, 71}));
}

TEST(NtfsContent, DataSplitOverExtensionRecordsIsReadWholeInVcnOrder) {
    NtfsImageBuilder b;
    const Bytes data = pattern(4 * 4096, 7);
    for (int k = 0; k < 4; ++k)
        b.writeCluster(static_cast<std::uint64_t>(90 - 10 * k),
                       Bytes(data.begin() + k * 4096, data.begin() + (k + 1) * 4096));
    Bytes list;
    for (const Bytes& e : {NtfsImageBuilder::attributeListEntry(0x10, 0, 16),
                           NtfsImageBuilder::attributeListEntry(0x80, 2, 21),
                           NtfsImageBuilder::attributeListEntry(0x80, 0, 20)})
        list.insert(list.end(), e.begin(), e.end());
    b.file(16, kRoot, u"split.bin", false, {NtfsImageBuilder::resident(0x20, list)});
    // The later extent comes first in the list and in the MFT; VCN order decides.
    RecordSpec& second = b.record(21);
    second.baseReference = 16;
    second.attributes = {NtfsImageBuilder::nonResident(0x80, runs({NtfsImageBuilder::run(1, 70), NtfsImageBuilder::run(1, -10)}),
                                                       2, 3, 0)};
    RecordSpec& first = b.record(20);
    first.baseReference = 16;
    first.attributes = {NtfsImageBuilder::nonResident(0x80, runs({NtfsImageBuilder::run(1, 90), NtfsImageBuilder::run(1, -10)}),
                                                      0, 1, 4 * 4096 - 5)};
    // A record that names the file as its base but is not in the list changes nothing; one
    // in the list that belongs to another file is not taken.
    b.record(22).baseReference = 16;
    Volume v(b);
    EXPECT_EQ(v.parser.entrySize(16), 4u * 4096 - 5);
    EXPECT_EQ(v.content(16), Bytes(data.begin(), data.end() - 5));
    const auto items = v.parser.readAttributeList(*v.parser.readRecord(16));
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[0].recordNumber, 21u);
    EXPECT_EQ(items[0].startingVcn, 2u);
}

TEST(NtfsContent, ANameInAnExtensionRecordShowsTheBaseRecordsFile) {
    NtfsImageBuilder b;
    const Bytes data = pattern(600, 8);
    RecordSpec& base = b.record(16);
    base.attributes = {NtfsImageBuilder::standardInformation(1, 2, 3), NtfsImageBuilder::resident(0x80, data)};
    RecordSpec& ext = b.record(17);
    ext.baseReference = 16;
    ext.attributes = {NtfsImageBuilder::fileName(kRoot, u"named-elsewhere.bin", false)};
    Volume v(b);
    EXPECT_FALSE(v.parser.hasName(16));
    EXPECT_EQ(v.parser.entryLabel(17), "named-elsewhere.bin");
    EXPECT_EQ(v.content(17), data);
    EXPECT_EQ(v.parser.entrySize(17), 600u);
    EXPECT_EQ(v.parser.describeEntry(17).modificationTime, 2u);
}

namespace {
// One LZNT1 chunk holding `text` as literals only.
Bytes literalChunk(const std::string& text) {
    Bytes data;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (i % 8 == 0) data.push_back(0);
        data.push_back(static_cast<std::uint8_t>(text[i]));
    }
    const std::uint16_t header = static_cast<std::uint16_t>(0xB000 | (data.size() + 2 - 3));
    Bytes chunk(2 + data.size() + 2, 0);
    put16(chunk, 0, header);
    std::copy(data.begin(), data.end(), chunk.begin() + 2);
    return chunk;
}
} // namespace

TEST(NtfsContent, CompressedUnitsAreDecodedStoredOrSparse) {
    // Units of 4 clusters of 4096 bytes: unit 0 compressed in one cluster, unit 1 all sparse,
    // unit 2 stored as it is (its last cluster allocated), unit 3 compressed again, cut short.
    NtfsImageBuilder b;
    const std::string text = "compressed unit text";
    b.writeCluster(100, literalChunk(text));
    const Bytes raw = pattern(4 * 4096, 10);
    b.writeCluster(110, raw);
    b.writeCluster(120, literalChunk("tail"));
    const Bytes list = runs({NtfsImageBuilder::run(1, 100), NtfsImageBuilder::run(7, 0, 1, 0),
                             NtfsImageBuilder::run(4, 10), NtfsImageBuilder::run(1, 10), NtfsImageBuilder::run(3, 0, 1, 0)});
    const std::uint64_t realSize = 3 * 16384 + 100;
    b.file(16, kRoot, u"packed.bin", false, {NtfsImageBuilder::nonResident(0x80, list, 0, 15, realSize, 0x0001, 2)});
    Volume v(b);
    const Bytes got = v.content(16);
    ASSERT_EQ(got.size(), realSize);
    Bytes expected(16384, 0);
    std::copy(text.begin(), text.end(), expected.begin());
    expected.resize(2 * 16384, 0);
    expected.insert(expected.end(), raw.begin(), raw.end());
    expected.resize(realSize, 0);
    std::copy_n("tail", 4, expected.begin() + 3 * 16384);
    EXPECT_EQ(got, expected);
}

TEST(NtfsContent, AbsurdCompressionUnitsAreRefused) {
    NtfsImageBuilder b;
    b.file(16, kRoot, u"bad-unit.bin", false,
           {NtfsImageBuilder::nonResident(0x80, runs({NtfsImageBuilder::run(4, 100)}), 0, 3, 16384, 0x0001, 15)});
    Volume v(b);
    bool ok = true;
    EXPECT_TRUE(v.content(16, &ok).empty());
    EXPECT_FALSE(ok);
}

TEST(NtfsContent, SavingWritesTheContentAndTheRecordsTimes) {
    NtfsImageBuilder b;
    const Bytes data = pattern(5000, 11);
    b.writeCluster(80, data);
    RecordSpec& r = b.file(16, kRoot, u"dated.bin", false,
                           {NtfsImageBuilder::nonResident(0x80, runs({NtfsImageBuilder::run(2, 80)}), 0, 1, 5000)});
    const std::uint64_t modified = (1555400128ull + 11644473600ull) * 10000000ull + 1234500;
    const std::uint64_t accessed = (1555500000ull + 11644473600ull) * 10000000ull;
    r.attributes[0] = NtfsImageBuilder::standardInformation(modified, modified, accessed, 0);
    r.attributes[1] = NtfsImageBuilder::fileName(kRoot, u"dated.bin", false, 0x0001 | 0x0002 | 0x0020 | 0x0800);
    b.file(17, kRoot, u"folder", true);
    Volume v(b);
    ScratchDir dir;
    ASSERT_TRUE(v.parser.saveEntry(16, dir / "dated.bin"));
    struct stat st {};
    ASSERT_EQ(::stat((dir / "dated.bin").c_str(), &st), 0); // before reading moves the access time
    EXPECT_EQ(st.st_mtim.tv_sec, 1555400128);
    EXPECT_EQ(st.st_mtim.tv_nsec, 123450000);
    EXPECT_EQ(st.st_atim.tv_sec, 1555500000);
    EXPECT_EQ(readFile(dir / "dated.bin"), data);

    const EntryDescription d = v.parser.describeEntry(16);
    EXPECT_EQ(d.attributeText, "-R-H-A-C");
    EXPECT_EQ(d.modificationUnix, 1555400128);
    EXPECT_EQ(d.modificationText, "04/16/2019  07:35 AM");

    ASSERT_TRUE(v.parser.saveEntry(17, dir / "folder-as-file"));
    EXPECT_EQ(fs::file_size(dir / "folder-as-file"), 0u) << "a directory saved as a file is empty";
}

TEST(NtfsContent, SavingNeverFollowsASymlink) {
    NtfsImageBuilder b;
    b.file(16, kRoot, u"a.txt", false, {NtfsImageBuilder::resident(0x80, Bytes(10, 'a'))});
    Volume v(b);
    ScratchDir dir;
    writeFile(dir / "target", Bytes(3, 'x'));
    fs::create_symlink(dir / "target", dir / "link");
    EXPECT_FALSE(v.parser.saveEntry(16, dir / "link"));
    EXPECT_EQ(readFile(dir / "target"), Bytes(3, 'x'));
}
