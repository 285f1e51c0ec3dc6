// Parsing of embedded descriptors and of the descriptor files of split sets.
#include <gtest/gtest.h>

#include "image/VmdkDescriptor.h"
#include "image/VmdkTestImages.h"
#include "support/TestSupport.h"

namespace vindaru {
namespace {

TEST(VmdkDescriptor, EmbeddedDescriptorValues) {
    const auto d = parseVmdkDescriptor(test::descriptorText(
        "monolithicSparse", {"RW 4194304 SPARSE \"disk.vmdk\""}));
    ASSERT_TRUE(d.createTypeFound);
    EXPECT_EQ(d.formatVersion, "1\n");
    EXPECT_EQ(d.contentId, "12345678\n");
    EXPECT_EQ(d.parentContentId, "ffffffff\n");
    EXPECT_EQ(d.createType, "monolithicSparse");
    ASSERT_EQ(d.extents.size(), 1u);
    EXPECT_EQ(d.extents[0].sectorCount, 4194304);
    EXPECT_EQ(d.extents[0].extentType, "SPARSE");
    EXPECT_EQ(d.extents[0].extentFile, "\"disk.vmdk"); // keeps its opening quote
    EXPECT_EQ(d.lastExtentType, "SPARSE");
    EXPECT_EQ(d.geometryCylinders, "16383");
    EXPECT_EQ(d.geometryHeads, "16");
    EXPECT_EQ(d.geometrySectors, "63");
    EXPECT_EQ(d.adapterType, "ide");
}

TEST(VmdkDescriptor, FormatVersionKeepsALineBeforeTheContentId) {
    const auto d = parseVmdkDescriptor(
        "# Disk DescriptorFile\nversion=1\nencoding=\"UTF-8\"\nCID=fffffffe\nparentCID=ffffffff\n"
        "createType=\"monolithicSparse\"\n");
    EXPECT_EQ(d.formatVersion, "1\nencoding=\"UTF-8\"\n");
    EXPECT_EQ(d.contentId, "fffffffe\n");
}

TEST(VmdkDescriptor, CreateTypeMustBeInsideTheText) {
    EXPECT_FALSE(parseVmdkDescriptor("createType=\"monolithicSparse\"\n").createTypeFound); // at 0
    EXPECT_FALSE(parseVmdkDescriptor("version=1\ncreateType=\"").createTypeFound);          // ends it
    EXPECT_FALSE(parseVmdkDescriptor("").createTypeFound);
    EXPECT_TRUE(parseVmdkDescriptor("\ncreateType=\"x").createTypeFound);
}

TEST(VmdkDescriptor, ExtentLinesOnlyWithinTheFirst512Bytes) {
    std::string text = test::descriptorText("monolithicSparse", {"RW 100 SPARSE \"a.vmdk\""});
    EXPECT_EQ(parseVmdkDescriptor(text).extents.size(), 1u);
    text.insert(text.find("# Extent description"), std::string(480, ' ') + "\n");
    const auto d = parseVmdkDescriptor(text);
    EXPECT_TRUE(d.createTypeFound);
    EXPECT_TRUE(d.extents.empty());
    EXPECT_EQ(d.geometryHeads, "16"); // the rest of the text is still read
}

TEST(VmdkDescriptor, SeveralEmbeddedExtentLinesAreEachReadOnce) {
    const auto d = parseVmdkDescriptor(test::descriptorText(
        "twoGbMaxExtentSparse", {"RW 10 SPARSE \"a.vmdk\"", "RW 20 SPARSE \"b.vmdk\"",
                                 "RDONLY 30 FLAT \"c.vmdk\" 0"}));
    ASSERT_EQ(d.extents.size(), 3u);
    EXPECT_EQ(d.extents[1].sectorCount, 20);
    EXPECT_EQ(d.extents[1].extentFile, "\"b.vmdk");
    EXPECT_EQ(d.extents[2].extentType, "FLAT");
    EXPECT_EQ(d.lastExtentType, "FLAT");
}

TEST(VmdkDescriptor, HugeSectorCountsSaturateTheNarrowField) {
    const auto d = parseVmdkDescriptor(
        test::descriptorText("monolithicSparse", {"RW 4294967296 SPARSE \"a.vmdk\""}));
    ASSERT_EQ(d.extents.size(), 1u);
    EXPECT_EQ(d.extents[0].sectorCount, INT32_MAX);
    EXPECT_EQ(d.extents[0].sectors, 4294967296u);
    const auto overflow = parseVmdkDescriptor(test::descriptorText(
        "monolithicSparse", {"RW 99999999999999999999999 SPARSE \"a.vmdk\""}));
    EXPECT_EQ(overflow.extents.at(0).sectors, UINT64_MAX);
}

TEST(VmdkDescriptorFile, ExtentLinesWithoutQuotesAndTheFlatChoice) {
    const std::string text = test::descriptorText(
        "twoGbMaxExtentFlat", {"RW 4096 FLAT \"d-f001.vmdk\" 0", "RW 4096 FLAT \"sub\\d-f002.vmdk\" 0"});
    const auto f = parseVmdkDescriptorFile(text);
    EXPECT_EQ(f.extentTypeChoice, "FLAT");
    ASSERT_EQ(f.extents.size(), 2u);
    EXPECT_EQ(f.extents[0].extentFile, "d-f001.vmdk");
    EXPECT_EQ(f.extents[0].sectorCount, 4096);
    EXPECT_EQ(f.extents[0].extentType, "FLAT");
    EXPECT_EQ(f.extents[1].extentFile, "sub\\d-f002.vmdk");
}

TEST(VmdkDescriptorFile, SparseSetsAndWindowsLineBreaks) {
    std::string text = test::descriptorText(
        "twoGbMaxExtentSparse", {"RW 8 SPARSE \"a-s001.vmdk\"", "RW 9 SPARSE \"a-s002.vmdk\""});
    std::string crlf;
    for (char c : text) {
        if (c == '\n') crlf += '\r';
        crlf += c;
    }
    for (const auto& t : {text, crlf}) {
        const auto f = parseVmdkDescriptorFile(t);
        EXPECT_EQ(f.extentTypeChoice, "");
        ASSERT_EQ(f.extents.size(), 2u);
        EXPECT_EQ(f.extents[1].extentFile, "a-s002.vmdk");
        EXPECT_EQ(f.extents[1].sectorCount, 9);
    }
}

TEST(VmdkDescriptorFile, TextWithoutAnExtentSectionHasNoExtents) {
    EXPECT_TRUE(parseVmdkDescriptorFile("RW 8 SPARSE \"a.vmdk\"\n").extents.empty());
    EXPECT_TRUE(parseVmdkDescriptorFile("# The Disk Data Base\n# Extent description\nRW 1 FLAT \"x\"")
                    .extents.empty());
    EXPECT_TRUE(parseVmdkDescriptorFile("# Extent description\nRW8SPARSEa.vmdk\n# The Disk Data Base")
                    .extents.empty());
}

TEST(VmdkFileInfo, UnopenableFileKeepsThePageAsItWas) {
    test::ScratchDir dir;
    const auto info = readVmdkFileInfo((dir / "absent.vmdk").string());
    ASSERT_TRUE(info.has_value());
    EXPECT_FALSE(info->fileOpened);
    test::writeFile(dir / "flat.vmdk", std::vector<std::uint8_t>(4096, 0));
    EXPECT_FALSE(readVmdkFileInfo((dir / "flat.vmdk").string()).has_value());
}

TEST(VmdkFileInfo, SizeIsTheSumOfTheExtentLines) {
    test::ScratchDir dir;
    test::SparseVmdkBuilder b(64, 8);
    b.descriptor(test::descriptorText("monolithicSparse", {"RW 4194304 SPARSE \"x.vmdk\""}));
    test::writeFile(dir / "x.vmdk", b.build());
    const auto info = readVmdkFileInfo((dir / "x.vmdk").string());
    ASSERT_TRUE(info.has_value());
    EXPECT_EQ(info->sizeMb, 2048u);
    EXPECT_EQ(info->geometrySectors, "63");
}

} // namespace
} // namespace vindaru
