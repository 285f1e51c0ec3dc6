// The VMDK readers on real containers made by qemu-img: every byte read must equal the raw disk
// the container was made from, and the container files must stay untouched.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "common/Session.h"
#include "image/FileReadSeekVmdk.h"
#include "image/FileReadSeekVmdkSplit.h"
#include "image/ReaderFactory.h"
#include "support/TestSupport.h"

namespace vindaru {
namespace {

namespace fs = std::filesystem;

constexpr std::uint64_t kMiB = 1024 * 1024;

struct Corpus {
    fs::path container;
    fs::path raw;
};

// The container and its raw disk, or nullopt (the test then skips).
std::optional<Corpus> corpus(const std::string& container, const std::string& disk) {
    auto c = test::corpusFile("generated/" + container);
    auto r = test::unpackedCorpusImage("generated/" + disk + ".raw.zst");
    if (!c || !r) return std::nullopt;
    return Corpus{*c, *r};
}

#define REQUIRE_CORPUS(var, container, disk)                                                       \
    auto var = corpus(container, disk);                                                            \
    if (!var)                                                                                      \
        GTEST_SKIP() << "corpus image " << container << " or " << disk                             \
                     << ".raw.zst (and zstd) not available";

std::vector<std::uint8_t> rawBytes(const fs::path& raw, std::uint64_t at, std::uint64_t n) {
    std::vector<std::uint8_t> out(n, 0);
    std::ifstream in(raw, std::ios::binary);
    in.seekg(static_cast<std::streamoff>(at));
    in.read(reinterpret_cast<char*>(out.data()), static_cast<std::streamsize>(n));
    return out;
}

struct Ranges {
    std::vector<std::pair<std::uint64_t, std::uint64_t>> list; // offset, length
};

Ranges wholeDisk(std::uint64_t bytes) {
    return Ranges{{{0, bytes}}};
}

// Beginning, end, the extent and 4 GiB boundaries of big-disk, and samples in between.
Ranges bigDiskSamples(std::uint64_t bytes) {
    Ranges r;
    r.list.push_back({0, 16 * kMiB});
    for (std::uint64_t edge : {2048 * kMiB, 4096 * kMiB})
        r.list.push_back({edge - 6 * kMiB, 12 * kMiB});
    r.list.push_back({bytes - 16 * kMiB, 16 * kMiB});
    for (std::uint64_t at = 100 * kMiB; at + kMiB < bytes; at += 333 * kMiB)
        r.list.push_back({at, kMiB});
    return r;
}

// Reads the ranges twice, in 1 MiB pieces and in the export's 5 MiB pieces started one byte
// in, and compares with the raw disk.
void expectSameAsRaw(readWriteInterface& reader, const fs::path& raw, const Ranges& ranges) {
    for (const auto& [at, length] : ranges.list) {
        for (std::uint64_t off = 0; off < length; off += kMiB) {
            const std::uint64_t n = std::min(kMiB, length - off);
            std::vector<std::uint8_t> got(n);
            ASSERT_TRUE(reader.readAt(at + off, got));
            ASSERT_TRUE(got == rawBytes(raw, at + off, n)) << "readAt differs at " << at + off;
        }
        constexpr std::uint64_t piece = 5 * kMiB;
        for (std::uint64_t off = 1; off < length; off += piece) {
            const std::uint64_t n = std::min(piece, length - off);
            std::vector<std::uint8_t> got(n);
            ASSERT_TRUE(reader.readAt(at + off, got));
            ASSERT_TRUE(got == rawBytes(raw, at + off, n)) << "read differs at " << at + off;
        }
    }
}

// The reader's disk is as long as the raw disk and holds the same bytes (all of a small disk,
// samples of a big one).
void expectTheRawDisk(readWriteInterface& reader, const Corpus& c) {
    const std::uint64_t rawSize = fs::file_size(c.raw);
    EXPECT_EQ(sessionDiskSectors(reader, 0) * 512, rawSize);
    EXPECT_EQ(reader.capacity(), rawSize);
    expectSameAsRaw(reader, c.raw, rawSize > 1024 * kMiB ? bigDiskSamples(rawSize) : wholeDisk(rawSize));
}

struct Untouched {
    explicit Untouched(std::vector<fs::path> files) : files_(std::move(files)) {
        for (const auto& f : files_) {
            times_.push_back(fs::last_write_time(f));
            sums_.push_back(test::md5OfFile(f));
        }
    }
    void check() const {
        for (std::size_t i = 0; i < files_.size(); ++i) {
            EXPECT_EQ(fs::last_write_time(files_[i]), times_[i]) << files_[i];
            EXPECT_EQ(test::md5OfFile(files_[i]), sums_[i]) << files_[i];
        }
    }
    std::vector<fs::path> files_;
    std::vector<fs::file_time_type> times_;
    std::vector<std::string> sums_;
};

std::vector<fs::path> siblings(const fs::path& descriptor, const std::vector<std::string>& names) {
    std::vector<fs::path> out{descriptor};
    for (const auto& n : names)
        out.push_back(descriptor.parent_path() / n);
    return out;
}

class VmdkCorpusMonolithic : public ::testing::TestWithParam<const char*> {};

TEST_P(VmdkCorpusMonolithic, ReadsTheRawDisk) {
    const std::string disk = GetParam();
    REQUIRE_CORPUS(c, disk + ".vmdk", disk);
    Untouched untouched({c->container});
    Session session;
    FileReadSeekVmdk reader(session);
    reader.extentTypeChoice = "SPARSE";
    ASSERT_TRUE(reader.open(c->container.string()));
    EXPECT_EQ(reader.capacitySectors(), reader.declaredSectors());
    EXPECT_EQ(reader.createType, "monolithicSparse");
    expectTheRawDisk(reader, *c);
    untouched.check();
}

INSTANTIATE_TEST_SUITE_P(Disks, VmdkCorpusMonolithic,
                         ::testing::Values("mbr-disk", "gpt-disk", "big-disk"));

TEST(VmdkCorpusFileInfo, SparseDiskShowsGeometryAndSize) {
    auto c = test::corpusFile("generated/mbr-disk.vmdk");
    if (!c) GTEST_SKIP() << "corpus image generated/mbr-disk.vmdk not available";
    const auto info = readVmdkFileInfo(c->string());
    ASSERT_TRUE(info.has_value());
    EXPECT_TRUE(info->fileOpened);
    EXPECT_EQ(info->formatVersion, "1\n");
    EXPECT_EQ(info->geometryCylinders, "105");
    EXPECT_EQ(info->geometryHeads, "16");
    EXPECT_EQ(info->geometrySectors, "63");
    EXPECT_EQ(info->totalSectors, 106496u);
    EXPECT_EQ(info->sizeMb, 52u);
    // A descriptor text file is no sparse extent.
    auto d = test::corpusFile("generated/tiny-disk-mono-flat.vmdk");
    ASSERT_TRUE(d.has_value());
    EXPECT_FALSE(readVmdkFileInfo(d->string()).has_value());
}

struct DescriptorCase {
    const char* descriptor;
    const char* disk;
    std::vector<std::string> extents;
    bool flat;
};

class VmdkCorpusDescriptor : public ::testing::TestWithParam<DescriptorCase> {};

TEST_P(VmdkCorpusDescriptor, ReadsTheRawDisk) {
    const auto& p = GetParam();
    REQUIRE_CORPUS(c, p.descriptor, p.disk);
    Untouched untouched(siblings(c->container, p.extents));
    Session session;
    RecordingMessageSink messages;
    session.messages = &messages;
    FileReadSeekVmdkSplit reader(session);
    reader.descriptorMode = true;
    ASSERT_TRUE(reader.open(c->container.string()));
    EXPECT_TRUE(messages.texts().empty());
    EXPECT_TRUE(reader.missingExtents().empty());
    const auto& lines = reader.disk().descriptor().extents;
    ASSERT_EQ(reader.disk().extentCount(), p.extents.size());
    ASSERT_EQ(lines.size(), p.extents.size());
    for (std::size_t i = 0; i < p.extents.size(); ++i) {
        EXPECT_EQ(lines[i].file, p.extents[i]);
        EXPECT_EQ(lines[i].type, p.flat ? "FLAT" : "SPARSE");
    }
    expectTheRawDisk(reader, *c);
    untouched.check();
}

INSTANTIATE_TEST_SUITE_P(
    Sets, VmdkCorpusDescriptor,
    ::testing::Values(
        DescriptorCase{
            "mbr-disk-split-sparse.vmdk", "mbr-disk", {"mbr-disk-split-sparse-s001.vmdk"}, false},
        DescriptorCase{"big-disk-split-sparse.vmdk",
                       "big-disk",
                       {"big-disk-split-sparse-s001.vmdk", "big-disk-split-sparse-s002.vmdk",
                        "big-disk-split-sparse-s003.vmdk"},
                       false},
        DescriptorCase{
            "tiny-disk-mono-flat.vmdk", "tiny-disk", {"tiny-disk-mono-flat-flat.vmdk"}, true},
        DescriptorCase{
            "tiny-disk-split-flat.vmdk", "tiny-disk", {"tiny-disk-split-flat-f001.vmdk"}, true},
        DescriptorCase{"tiny-disk-multi-flat.vmdk",
                       "tiny-disk",
                       {"tiny-disk-multi-flat-f001.vmdk", "tiny-disk-multi-flat-f002.vmdk",
                        "tiny-disk-multi-flat-f003.vmdk"},
                       true}));

struct NumberedCase {
    const char* chosen;
    const char* disk;
    const char* choice;
    std::size_t pieces;
};

class VmdkCorpusNumbered : public ::testing::TestWithParam<NumberedCase> {};

TEST_P(VmdkCorpusNumbered, ReadsTheRawDiskFromAnyPiece) {
    const auto& p = GetParam();
    REQUIRE_CORPUS(c, p.chosen, p.disk);
    Untouched untouched({c->container});
    Session session;
    RecordingMessageSink messages;
    session.messages = &messages;
    FileReadSeekVmdkSplit reader(session);
    reader.extentTypeChoice = p.choice;
    ASSERT_TRUE(reader.open(c->container.string()));
    EXPECT_TRUE(messages.texts().empty());
    ASSERT_EQ(reader.disk().extentCount(), p.pieces);
    EXPECT_TRUE(reader.missingExtents().empty());
    expectTheRawDisk(reader, *c);
    untouched.check();
}

INSTANTIATE_TEST_SUITE_P(
    Sets, VmdkCorpusNumbered,
    ::testing::Values(NumberedCase{"big-disk-split-sparse-s002.vmdk", "big-disk", "SPARSE", 3},
                      NumberedCase{"mbr-disk-split-sparse-s001.vmdk", "mbr-disk", "SPARSE", 1},
                      NumberedCase{"tiny-disk-multi-flat-f002.vmdk", "tiny-disk", "FLAT", 3},
                      NumberedCase{"tiny-disk-split-flat-f001.vmdk", "tiny-disk", "FLAT", 1}));

} // namespace
} // namespace vindaru

TEST(VmdkCorpusHoles, StretchesSaidToBeHolesReadAsZerosAndSomeAreFound) {
    auto image = vindaru::test::corpusFile("generated/mbr-disk.vmdk");
    if (!image) GTEST_SKIP() << "corpus image generated/mbr-disk.vmdk not available";
    vindaru::Session session;
    vindaru::FileReadSeekVmdk reader(session);
    ASSERT_TRUE(reader.open(image->string()));
    const std::uint64_t size = reader.capacity();
    ASSERT_GT(size, 0u);
    std::vector<std::uint8_t> piece(64 * 1024);
    std::uint64_t holes = 0;
    for (std::uint64_t at = 0; at < size; at += piece.size()) {
        const std::uint64_t n = std::min<std::uint64_t>(piece.size(), size - at);
        if (!reader.isHole(at, n)) continue;
        ++holes;
        ASSERT_TRUE(reader.readAt(at, std::span(piece.data(), n)));
        ASSERT_TRUE(std::all_of(piece.begin(), piece.begin() + static_cast<std::ptrdiff_t>(n),
                                [](std::uint8_t b) { return b == 0; }))
            << "a stretch at " << at << " is called a hole but holds data";
    }
    EXPECT_GT(holes, 0u) << "the sparse disk's unallocated grains are known as holes";
    EXPECT_FALSE(reader.isHole(0, 512)) << "the MBR sector is allocated";
}
