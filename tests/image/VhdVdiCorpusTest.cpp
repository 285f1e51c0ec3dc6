// The readers against real images made by independent tools: the disk read through the reader
// must equal the raw disk those images were made from.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

#include "image/FileReadSeekVHD.h"
#include "image/FileReadSeekVdi.h"
#include "image/ImageFileInfo.h"
#include "support/TestSupport.h"

using namespace vindaru;
using namespace vindaru::test;

namespace {

// Reads `bytes` of the disk through readAt in 4 MiB pieces (and through seek/read when asked)
// into a file, so big disks are compared by md5 without holding them twice in memory.
std::string diskMd5(readWriteInterface& reader, std::uint64_t bytes, const fs::path& out,
                    bool cursor) {
    std::ofstream f(out, std::ios::binary | std::ios::trunc);
    std::vector<std::uint8_t> buf(4u << 20);
    if (cursor) {
        EXPECT_TRUE(reader.seek(0, 0));
    }
    for (std::uint64_t at = 0; at < bytes;) {
        const std::uint64_t n = std::min<std::uint64_t>(buf.size(), bytes - at);
        std::span<std::uint8_t> piece(buf.data(), n);
        EXPECT_TRUE(cursor ? reader.read(piece.data(), n) : reader.readAt(at, piece)) << at;
        f.write(reinterpret_cast<const char*>(piece.data()), static_cast<std::streamsize>(n));
        at += n;
    }
    f.close();
    return md5OfFile(out);
}

template <typename Reader> void expectSameAsRaw(const std::string& image, const std::string& raw) {
    const auto imagePath = corpusFile(image);
    const auto rawPath = unpackedCorpusImage(raw);
    if (!imagePath || !rawPath)
        GTEST_SKIP() << "corpus image " << image << " or " << raw << " absent";
    Session session;
    Reader reader(session);
    ASSERT_TRUE(reader.open(imagePath->string()));
    const std::uint64_t rawBytes = fs::file_size(*rawPath);
    const std::uint64_t diskBytes = reader.declaredSectors() * 512;
    EXPECT_EQ(reader.capacity(), diskBytes);
    // qemu-img rounds a VHD up to whole CHS cylinders: a few sectors more, which read as zeros.
    ASSERT_GE(diskBytes, rawBytes);
    ASSERT_LT(diskBytes - rawBytes, 1u << 20);
    ScratchDir dir;
    const std::string expected = md5OfFile(*rawPath);
    EXPECT_EQ(diskMd5(reader, rawBytes, dir / "a", false), expected) << image;
    EXPECT_EQ(diskMd5(reader, rawBytes, dir / "b", true), expected) << image << " via seek/read";
    std::vector<std::uint8_t> tail(diskBytes - rawBytes, 0xAA);
    EXPECT_TRUE(reader.readAt(rawBytes, tail));
    EXPECT_TRUE(std::all_of(tail.begin(), tail.end(), [](auto b) { return b == 0; }));
}

void expectVhdMd5(const std::string& image, std::uint64_t bytes, const std::string& md5) {
    const auto imagePath = corpusFile(image);
    if (!imagePath) GTEST_SKIP() << "corpus image " << image << " absent";
    Session session;
    FileReadSeekVHD reader(session);
    ASSERT_TRUE(reader.open(imagePath->string()));
    EXPECT_EQ(reader.declaredSectors() * 512, bytes);
    ScratchDir dir;
    EXPECT_EQ(diskMd5(reader, bytes, dir / "a", false), md5);
}

} // namespace

TEST(VhdCorpus, GeneratedDisksEqualTheirRawForm) {
    expectSameAsRaw<FileReadSeekVHD>("generated/mbr-disk.vhd", "generated/mbr-disk.raw.zst");
    expectSameAsRaw<FileReadSeekVHD>("generated/gpt-disk.vhd", "generated/gpt-disk.raw.zst");
}

TEST(VdiCorpus, GeneratedDisksEqualTheirRawForm) {
    expectSameAsRaw<FileReadSeekVdi>("generated/mbr-disk.vdi", "generated/mbr-disk.raw.zst");
    expectSameAsRaw<FileReadSeekVdi>("generated/gpt-disk.vdi", "generated/gpt-disk.raw.zst");
}

// The md5s an independent reader gives of these virtual disks (see the corpus manifest).
TEST(VhdCorpus, ExternalImagesGiveTheIndependentReadersDisk) {
    expectVhdMd5("external/dfvfs-ext2.vhd", 4212736, "3f0e360a1211f80b3f5633a68dbe98ba");
    expectVhdMd5("external/dfvfs-image.vhd", 104448, "221a58695f266d7ce045f2e54926e6e2");
}

TEST(VhdCorpus, FileInformationOfRealImages) {
    const auto vhd = corpusFile("external/dfvfs-ext2.vhd");
    const auto vdi = corpusFile("generated/gpt-disk.vdi");
    if (!vhd || !vdi) GTEST_SKIP() << "corpus absent";
    const auto a = readVhdFileInfo(vhd->string());
    ASSERT_TRUE(a.has_value());
    // CHS 121/4/17 and 4212736 bytes (the manifest's `file` line).
    EXPECT_EQ(a->formatVersion, "65536");
    EXPECT_EQ(a->cylinders, "121");
    EXPECT_EQ(a->heads, "4");
    EXPECT_EQ(a->sectorsPerTrack, "17");
    EXPECT_EQ(a->sizeText, "4 MB");
    const auto b = readVdiFileInfo(vdi->string());
    ASSERT_TRUE(b.has_value());
    EXPECT_EQ(b->formatVersion, "65537");
    EXPECT_EQ(b->sizeMB, 71u);
    EXPECT_FALSE(readVhdFileInfo("/nonexistent.vhd").has_value());
}
