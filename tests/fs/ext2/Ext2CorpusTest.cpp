// Acceptance on the shared corpus: every live file The Sleuth Kit lists on an ext volume is at
// its path with its size and its content's md5, and (where the listing has them) its
// modification time; images in every container form the corpus holds them in.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <set>
#include <sstream>

#include "fs/ext2/Ext2TestSupport.h"
#include "image/FileReadSeekVHD.h"
#include "image/FileReadSeekVmdk.h"
#include "support/FileDiskReader.h"
#include "support/ListingTsv.h"
#include "support/TestSupport.h"

namespace vindaru::test {
namespace {

enum class Container { Raw, Vmdk, Vhd };

struct CorpusCase {
    const char* image; // under the corpus folder; .zst/.gz are unpacked first
    Container container;
    const char* expected;
};

const CorpusCase kCases[] = {
    {"generated/ext2.img.zst", Container::Raw, "generated/ext2.expected.tsv"},
    {"generated/ext4.img.zst", Container::Raw, "generated/ext4.expected.tsv"},
    {"generated/mbr-disk.vmdk", Container::Vmdk, "generated/mbr-disk.expected.tsv"},
    {"generated/big-disk.vmdk", Container::Vmdk, "generated/big-disk.expected.tsv"},
    {"generated/tiny-disk.raw.zst", Container::Raw, "generated/tiny-disk.expected.tsv"},
    {"external/dfvfs-ext2.vmdk", Container::Vmdk, "external/dfvfs-ext2.vmdk.expected.tsv"},
    {"external/dfvfs-ext2.vhd", Container::Vhd, "external/dfvfs-ext2.vhd.expected.tsv"},
    {"external/dfvfs-image.vmdk", Container::Vmdk, "external/dfvfs-image.vmdk.expected.tsv"},
    {"external/tsktd-ext3-img-kw-1.dd.gz", Container::Raw, "external/tsktd-ext3-img-kw-1.dd.expected.tsv"},
    {"external/ext4view-test_disk1.bin.gz", Container::Raw, "external/ext4view-test_disk1.bin.expected.tsv"},
};

bool isExtType(const std::string& type) {
    const std::string t = type.substr(0, 3);
    return t == "ext" || t == "Ext";
}

std::unique_ptr<readWriteInterface> openImage(const CorpusCase& c, Session& session) {
    std::optional<std::filesystem::path> path =
        c.container == Container::Raw ? unpackedCorpusImage(c.image) : corpusFile(c.image);
    if (!path) return nullptr;
    std::unique_ptr<readWriteInterface> reader;
    if (c.container == Container::Raw) reader = std::make_unique<FileDiskReader>();
    if (c.container == Container::Vmdk) reader = std::make_unique<FileReadSeekVmdk>(session);
    if (c.container == Container::Vhd) reader = std::make_unique<FileReadSeekVHD>(session);
    if (!reader->open(path->string())) return nullptr;
    return reader;
}

class Ext2Corpus : public ::testing::TestWithParam<CorpusCase> {};

TEST_P(Ext2Corpus, LiveFilesHaveTheirPathSizeContentAndTime) {
    const CorpusCase& c = GetParam();
    const auto tsv = corpusFile(c.expected);
    if (!tsv) GTEST_SKIP() << "corpus not found: " << c.expected;
    std::ifstream in(*tsv);
    std::stringstream text;
    text << in.rdbuf();
    std::map<std::uint64_t, std::vector<ListingRow>> byStart;
    for (const auto& [path, row] : parseListing(text.str())) {
        if (!isExtType(row.fsType)) continue;
        ListingRow r = row;
        if (!r.path.starts_with("/")) r.path = "/" + r.path;
        byStart[std::stoull(r.start)].push_back(r);
    }
    ASSERT_FALSE(byStart.empty());

    for (const auto& [start, rows] : byStart) {
        Session session;
        auto reader = openImage(c, session);
        if (!reader) GTEST_SKIP() << "cannot open " << c.image;
        auto scan = scanExt2(std::move(reader), start);
        auto paths = listPaths(scan->view());
        std::size_t checked = 0;
        for (const ListingRow& row : rows) {
            if (!isLivePathRow(row) || row.dir) continue;
            SCOPED_TRACE(std::string(c.image) + " " + row.path);
            auto it = paths.find(row.path);
            ASSERT_NE(it, paths.end());
            EXPECT_FALSE(scan->view().isDirectory(it->second));
            EXPECT_EQ(scan->view().byteSize(it->second), std::stoull(row.size));
            // icat gives a fast symlink (target under 60 bytes, kept in the inode) as zeros; the
            // saved file holds the target itself.
            const bool fastSymlink = (scan->ext2().entries[it->second].mode & 0xF000) == 0xA000 &&
                                     std::stoull(row.size) < 60;
            if (fastSymlink) {
                const std::vector<std::uint8_t> target = contentOf(scan->view(), it->second);
                EXPECT_EQ(target.size(), std::stoull(row.size));
                EXPECT_EQ(std::count(target.begin(), target.end(), 0), 0);
            } else if (!row.md5.empty() && row.md5 != "-") {
                EXPECT_EQ(contentMd5(scan->view(), it->second), row.md5);
            }
            if (!row.mtime.empty()) {
                EXPECT_EQ(scan->view().times(it->second).modificationSeconds, std::stoll(row.mtime));
            }
            ++checked;
        }
        for (const ListingRow& row : rows) {
            if (isLivePathRow(row) && row.dir) {
                EXPECT_TRUE(paths.count(row.path)) << c.image << " " << row.path;
            }
        }
        EXPECT_GT(checked, 0u) << c.image;
    }
}

INSTANTIATE_TEST_SUITE_P(Images, Ext2Corpus, ::testing::ValuesIn(kCases), [](const auto& info) {
    std::string name = info.param.image;
    name = name.substr(name.find('/') + 1);
    for (char& ch : name)
        if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
    return name;
});

} // namespace
} // namespace vindaru::test
