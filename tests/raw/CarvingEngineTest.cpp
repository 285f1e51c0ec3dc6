#include <gtest/gtest.h>

#include "image/MemoryReader.h"
#include "raw/CarveSamples.h"
#include "raw/DefaultSignatures.h"
#include "raw/SignatureFields.h"
#include "raw/myJpg.h"

namespace vindaru {
namespace {

using test::Bytes;
constexpr std::uint64_t MiB = 1u << 20;

signatureRecord rule(const std::string& ext, const std::string& start, const std::string& end = "",
                     const std::string& approx = "0", const std::string& category = "Things") {
    SignatureFields f;
    f.extension = ext;
    f.startSignature = start;
    f.endSignature = end;
    f.approximateSize = approx;
    f.category = category;
    std::string error;
    return *buildSignatureRecord(f, 0, error);
}

void put(Bytes& v, std::uint64_t at, const Bytes& bytes) {
    std::copy(bytes.begin(), bytes.end(), v.begin() + static_cast<std::ptrdiff_t>(at));
}

// One engine over one in-memory volume, with a tree and recorded messages.
struct Carve {
    explicit Carve(Bytes volume) : reader(std::move(volume)) {}
    Carve& with(const signatureRecord& r) {
        engine.addSignature(r);
        return *this;
    }
    const std::vector<myJpg::FoundFile>& run(std::uint64_t volumeBytes = 0) {
        engine.attach(&reader, volumeBytes ? volumeBytes : reader.bytes().size(), &tree, &progress, &messages);
        EXPECT_TRUE(engine.carveVolume());
        return engine.foundFiles();
    }
    std::vector<std::pair<std::uint64_t, std::uint64_t>> ranges() const {
        std::vector<std::pair<std::uint64_t, std::uint64_t>> out;
        for (const auto& f : engine.foundFiles()) out.emplace_back(f.start, f.size);
        return out;
    }
    MemoryReader reader;
    myJpg engine;
    CheckTree tree;
    RecordingProgressSink progress;
    RecordingMessageSink messages;
};

using Ranges = std::vector<std::pair<std::uint64_t, std::uint64_t>>;

TEST(CarvingEngine, StartAndEndPairAndTheTreeNamesEveryFind) {
    Bytes v(2 * MiB, 0);
    put(v, 1 * MiB, {0x89, 0x50, 0x4E, 0x47});
    put(v, 1 * MiB + 4096, {0x49, 0x45, 0x4E, 0x44, 0xAE, 0x42, 0x60, 0x82});
    Carve c(v);
    c.with(rule("png", "89,50,4E,47", "49,45,4E,44,AE,42,60,82", "0", "Pictures"));
    c.run();
    EXPECT_EQ(c.ranges(), (Ranges{{MiB, 4096 + 8 + 1}}));

    const TreeItemId root = c.engine.rootItem();
    EXPECT_EQ(c.tree.label(root), "RAW RECOVERY ");
    const auto categories = c.tree.children(root);
    ASSERT_EQ(categories.size(), 1u);
    EXPECT_EQ(c.tree.label(categories[0]), "Pictures (1)");
    const auto finds = c.tree.children(categories[0]);
    ASSERT_EQ(finds.size(), 1u);
    // Named after the end sector's position.
    EXPECT_EQ(c.tree.label(finds[0]), std::to_string(MiB + 4096) + " .png");
    EXPECT_EQ(c.tree.getItemData(finds[0]), 0u);
    EXPECT_EQ(c.messages.texts(), std::vector<std::string>{"done.."});
    EXPECT_EQ(c.progress.ranges.front(), (std::pair<std::int64_t, std::int64_t>{0, 1000}));
    EXPECT_EQ(c.progress.ranges.back(), (std::pair<std::int64_t, std::int64_t>{0, 2}));
    EXPECT_EQ(c.progress.positions.back(), 2);
}

TEST(CarvingEngine, PendingStartsPairWithTheLatestAndTheRestAreReportedAtTheEnd) {
    Bytes v(1 * MiB, 0);
    put(v, 512, {0xAA, 0xBB});
    put(v, 2048, {0xAA, 0xBB});
    put(v, 4096, {0xCC, 0xDD});
    Carve two(v);
    two.with(rule("x", "AA,BB", "CC,DD", "100000"));
    two.run();
    EXPECT_EQ(two.ranges(), (Ranges{{2048, 4096 + 2 - 2048 + 1}, {512, 100000}}));

    Bytes w(1 * MiB, 0);
    for (std::uint64_t s : {1024u, 5120u, 9216u}) put(w, s, {0xAA, 0xBB});
    Carve three(w);
    three.with(rule("x", "AA,BB", "CC,DD", "3000"));
    three.run();
    // s3 - s2 + 1 capped by 3000, s2 - s1 + 1 capped, the oldest with the approximate size.
    EXPECT_EQ(three.ranges(), (Ranges{{9216, 3000}, {5120, 3000}, {1024, 3000}}));

    Carve none(w);
    none.with(rule("x", "AA,BB", "CC,DD", "0"));
    EXPECT_TRUE(none.run().empty()); // an approximate size of 0 reports nothing
}

// A sparse disk: the bytes placed are stored, the rest is unstored zeros; reads are counted.
struct SparseDisk : MemoryReader {
    using MemoryReader::MemoryReader;
    bool readRange(std::uint64_t position, std::span<std::uint8_t> out, ReadReport* report) const override {
        bytesRead += out.size();
        return MemoryReader::readRange(position, out, report);
    }
    mutable std::uint64_t bytesRead = 0;
};

TEST(CarvingEngine, UnstoredStretchesAreSkippedUnlessASignatureMatchesZeros) {
    auto carve = [](const signatureRecord& r, std::uint64_t& bytesRead) {
        SparseDisk disk(40 * MiB);
        disk.place(MiB, Bytes{0x89, 0x50, 0x4E, 0x47});
        disk.place(30 * MiB, Bytes{0x49, 0x45, 0x4E, 0x44, 0xAE, 0x42, 0x60, 0x82});
        disk.place(35 * MiB, Bytes{0x89, 0x50, 0x4E, 0x47});
        myJpg engine;
        engine.addSignature(r);
        engine.attach(&disk, disk.capacity(), nullptr, nullptr, nullptr);
        EXPECT_TRUE(engine.carveVolume());
        bytesRead = disk.bytesRead;
        Ranges out;
        for (const auto& f : engine.foundFiles())
            out.emplace_back(f.start, f.size);
        return out;
    };
    std::uint64_t read = 0;
    // The start and end pair across 29 MiB of unstored sectors, and the last start is reported
    // at the end, as on a disk that stores every sector.
    EXPECT_EQ(carve(rule("png", "89,50,4E,47", "49,45,4E,44,AE,42,60,82", "40000000"), read),
              (Ranges{{MiB, 29 * MiB + 9}, {35 * MiB, 40000000}}));
    EXPECT_LT(read, 8 * MiB); // of the 40 MiB a stored disk would read
    // A start that zeros match is found in every unstored sector.
    EXPECT_EQ(carve(rule("z", "00,00", "", "512"), read).size(), 40 * MiB / 512 - 3);
}

TEST(CarvingEngine, MatchingRules) {
    Bytes v(1 * MiB, 0);
    put(v, 0, {0x01, 0x77, 0x03});   // wildcard in the middle
    put(v, 512, {0x05});             // one-byte signature
    put(v, 1024 + 510, {0x0A, 0x0B, 0x0C, 0x0D}); // offset 510 runs into the next sector
    put(v, 1 * MiB - 512, {0x01, 0x55, 0x03});    // the chunk's last sector
    Carve c(v);
    c.with(rule("w", "01,2A,03", "", "10"))
        .with(rule("one", "05", "", "10"))
        .with([] {
            auto r = rule("off", "0A,0B,0C,0D", "", "10");
            r.startOffset = 510;
            return r;
        }());
    c.run();
    EXPECT_EQ(c.ranges(), (Ranges{{0, 10}, {1024, 10}, {MiB - 512, 10}}));
    // The first entry in table order wins: a second copy of a signature never does.
    Carve twice(v);
    twice.with(rule("a", "01,2A,03", "", "10", "First")).with(rule("b", "01,2A,03", "", "10", "Second"));
    twice.run();
    for (const auto& f : twice.engine.foundFiles()) EXPECT_EQ(f.rule, 0u);
    EXPECT_EQ(twice.engine.categoryCount("Second"), 0u);
}

TEST(CarvingEngine, SkipSizes) {
    Bytes v(3 * MiB, 0);
    for (std::uint64_t s = 0; s < v.size(); s += 512) put(v, s, {0xAB, 0xCD});
    const auto skipping = [&](const std::string& skip) {
        auto r = rule("s", "AB,CD", "", "1");
        r.skipSize = parseFieldNumber(skip);
        Carve c(v);
        c.with(r);
        c.run();
        std::vector<std::uint64_t> starts;
        for (const auto& f : c.engine.foundFiles()) starts.push_back(f.start);
        return starts;
    };
    EXPECT_EQ(skipping("512").size(), 3 * 2048u);
    const auto by4096 = skipping("4096");
    ASSERT_GE(by4096.size(), 2u);
    EXPECT_EQ(by4096[1] - by4096[0], 4096u);
    // Past the chunk's end: the next chunk from its first sector.
    EXPECT_EQ(skipping("2097152"), (std::vector<std::uint64_t>{0, MiB, 2 * MiB}));
}

TEST(CarvingEngine, SizeFieldsGiveTheFindsTheirOwnSize) {
    Bytes v(4 * MiB, 0);
    const Bytes bmp = test::sampleBmp(5000, 1);
    const Bytes big = test::sampleBmp(static_cast<std::size_t>(MiB + 1000), 2);
    const Bytes wav = test::sampleWav(3000, 3);
    put(v, 512, bmp);
    put(v, 512 + 5120, wav); // right after the BMP's last sector
    put(v, MiB - 1024, big); // crosses into the next chunk
    put(v, MiB - 1024 + 1049600, test::sampleJpeg(900, 4)); // the sector after the big BMP
    Carve c(v);
    for (const auto& r : defaultSignatureRecords()) c.with(r);
    c.run();
    EXPECT_EQ(c.ranges(), (Ranges{{512, 5000}, {5632, 3000}, {MiB - 1024, MiB + 1000},
                                  {MiB - 1024 + 1049600, 900}}));

    // The same records as the editor writes them, without a format: the size-field rules alone.
    // A two-byte size field finds nothing; a size above the approximate size finds nothing.
    const auto described = [](std::size_t i) {
        auto r = defaultSignatureRecords()[i];
        r.reserved1 = 0;
        return r;
    };
    auto two = described(3);
    two.bytesInSize = 2;
    Carve c2(v);
    c2.with(two);
    EXPECT_TRUE(c2.run().empty());
    auto small = described(3);
    small.approximateSize = 4999;
    Carve c3(v);
    c3.with(small);
    EXPECT_TRUE(c3.run().empty());
    // With the header added, the size is still capped by the approximate size.
    auto riff = described(10);
    riff.approximateSize = 2995;
    Carve c4(v);
    c4.with(riff);
    c4.run();
    EXPECT_EQ(c4.ranges(), (Ranges{{5632, 2995}}));
}

TEST(CarvingEngine, SizeFieldOutsideTheSectorIsReadFromTheVolume) {
    Bytes v(2 * MiB, 0);
    put(v, 4096, {0x5A, 0x5B});
    test::putLe32(v, 4096 + 700, 1234);
    put(v, 2 * MiB - 512, {0x5A, 0x5B}); // its field would lie past the volume's end
    auto r = rule("f", "5A,5B", "", "10000");
    r.sizeOffset = 700;
    r.bytesInSize = 4;
    Carve c(v);
    c.with(r);
    c.run();
    EXPECT_EQ(c.ranges(), (Ranges{{4096, 1234}}));
}

TEST(CarvingEngine, StopStillReportsPendingStarts) {
    Bytes v(8 * MiB, 0);
    put(v, 0, {0xAA, 0xBB});
    put(v, 6 * MiB, {0xAA, 0xBB});
    Carve c(v);
    c.with(rule("x", "AA,BB", "CC,DD", "777"));
    c.engine.onFind = [](const myJpg::FoundFile&) {};
    c.engine.control().requestStop();
    c.run();
    // Stopped at once: nothing scanned, nothing pending.
    EXPECT_TRUE(c.engine.foundFiles().empty());
    EXPECT_EQ(c.messages.texts(), std::vector<std::string>{"done.."});

    struct StopAfterFirstChunk : ProgressSink {
        myJpg* engine = nullptr;
        void setRange(std::int64_t, std::int64_t) override {}
        void setPosition(std::int64_t p) override {
            if (p == 1) engine->control().requestStop();
        }
    } stopper;
    MemoryReader reader(v);
    myJpg engine;
    engine.addSignature(rule("x", "AA,BB", "CC,DD", "777"));
    stopper.engine = &engine;
    engine.attach(&reader, v.size(), nullptr, &stopper, nullptr);
    ASSERT_TRUE(engine.carveVolume());
    ASSERT_EQ(engine.foundFiles().size(), 1u);
    EXPECT_EQ(engine.foundFiles()[0].start, 0u);
    EXPECT_EQ(engine.foundFiles()[0].size, 777u);
}

TEST(CarvingEngine, IdsBeyond127KeepTheirPendingStarts) {
    Bytes v(1 * MiB, 0);
    put(v, 512, {0x71, 0x72});
    put(v, 4096, {0x73, 0x74});
    Carve c(v);
    for (int i = 0; i < 200; ++i) c.with(rule("n" + std::to_string(i), "EE,EE", "", "1"));
    c.with(rule("last", "71,72", "73,74", "0"));
    c.run();
    EXPECT_EQ(c.ranges(), (Ranges{{512, 4096 + 2 - 512 + 1}}));
}

TEST(CarvingEngine, DefaultSignaturesFindEveryEmbeddedFile) {
    for (std::uint32_t seed : {11u, 12u, 13u}) {
        const auto files = test::mixedLayout(seed);
        Carve c(test::buildVolume(16, files, seed));
        for (const auto& r : defaultSignatureRecords()) c.with(r);
        c.run();
        const auto& found = c.engine.foundFiles();
        ASSERT_EQ(found.size(), files.size()) << "seed " << seed;
        for (const auto& f : files) {
            const auto it = std::find_if(found.begin(), found.end(),
                                         [&](const auto& x) { return x.start == f.position; });
            ASSERT_NE(it, found.end()) << f.kind << " at " << f.position;
            EXPECT_EQ(c.engine.rules()[it->rule].extension, f.kind);
            EXPECT_EQ(it->size, f.bytes.size()) << f.kind;
            EXPECT_EQ(it->state, FindState::Whole) << f.kind;
        }
        EXPECT_EQ(c.engine.categoryCount("Pictures"), 6u);
        EXPECT_EQ(c.engine.categoryCount("Audio"), 1u);
        EXPECT_EQ(c.engine.categoryCount("Documents"), 1u);
        EXPECT_EQ(c.engine.categoryCount("Archives"), 1u);
        EXPECT_EQ(c.engine.categoryCount("Video"), 0u);
    }
}

TEST(CarvingEngine, FreeSpaceOnlyPassesOverTheClustersLiveFilesUse) {
    const auto files = test::mixedLayout(31);
    const Bytes volume = test::buildVolume(16, files, 31);
    // The first, third and last placed files lie in used clusters (with a gap between two used
    // ranges, given out of order and overlapping).
    const auto span = [&](std::size_t i) {
        return std::make_pair(files[i].position, files[i].position + files[i].bytes.size());
    };
    Carve c(volume);
    for (const auto& r : defaultSignatureRecords()) c.with(r);
    c.engine.setUsedRanges({span(files.size() - 1), span(0), span(2), {span(2).first + 10, span(2).second}});
    c.run();
    std::vector<std::uint64_t> starts;
    for (const auto& f : c.engine.foundFiles()) starts.push_back(f.start);
    std::vector<std::uint64_t> want;
    for (std::size_t i = 1; i + 1 < files.size(); ++i)
        if (i != 2) want.push_back(files[i].position);
    EXPECT_EQ(starts, want);

    // Without ranges: the whole volume.
    Carve all(volume);
    for (const auto& r : defaultSignatureRecords()) all.with(r);
    all.run();
    EXPECT_EQ(all.engine.foundFiles().size(), files.size());
}

TEST(CarvingEngine, NothingToReadIsNotProperlyInitialized) {
    myJpg engine;
    RecordingMessageSink messages;
    engine.attach(nullptr, MiB, nullptr, nullptr, &messages);
    EXPECT_FALSE(engine.carveVolume());
    EXPECT_EQ(messages.texts(), std::vector<std::string>{"not properly initialized"});
}

} // namespace
} // namespace vindaru
