// vindaru-cli listings of names a shell or a parser of the output could confuse, on a copy of
// the corpus NTFS volume whose file names were rewritten in their MFT records: a line feed, a
// name that spells the escape of one, control characters, and a real root folder named like the
// placeholder the parser makes.
#include <gtest/gtest.h>

#include <set>

#include "cli/CliRunner.h"
#include "common/TextConvert.h"
#include "support/ListingTsv.h"

namespace vindaru::test {
namespace {

constexpr std::size_t kRecordBytes = 1024; // mkntfs's MFT record size on the corpus volume

// Renames every long-name $FILE_NAME copy of `from` held in MFT records (the record's own and the
// root index's); the new name may be shorter. Returns the number of copies renamed.
int renameInMftRecords(std::vector<std::uint8_t>& volume, const std::string& from, const std::string& to) {
    const std::u16string oldName = utf8ToUtf16(from);
    const std::u16string newName = utf8ToUtf16(to);
    if (newName.size() > oldName.size()) return 0;
    std::vector<std::uint8_t> pattern;
    for (char16_t unit : oldName) {
        pattern.push_back(static_cast<std::uint8_t>(unit & 0xFF));
        pattern.push_back(static_cast<std::uint8_t>(unit >> 8));
    }
    int renamed = 0;
    for (std::size_t record = 0; record + kRecordBytes <= volume.size(); record += kRecordBytes) {
        if (std::string(volume.begin() + record, volume.begin() + record + 4) != "FILE") continue;
        for (std::size_t at = record + 2; at + pattern.size() <= record + kRecordBytes; ++at) {
            if (!std::equal(pattern.begin(), pattern.end(), volume.begin() + at)) continue;
            const std::size_t lengthAt = at - 2;
            // Any name space but the DOS one (ntfs-3g writes POSIX names).
            if (volume[lengthAt] != oldName.size() || volume[lengthAt + 1] == 2) continue;
            // The update sequence words sit in the last two bytes of each sector.
            const std::size_t first = (lengthAt - record) % 512, last = (at + pattern.size() - record) % 512;
            if (first > last || last > 510) continue;
            volume[lengthAt] = static_cast<std::uint8_t>(newName.size());
            for (std::size_t i = 0; i < newName.size(); ++i) {
                volume[at + 2 * i] = static_cast<std::uint8_t>(newName[i] & 0xFF);
                volume[at + 2 * i + 1] = static_cast<std::uint8_t>(newName[i] >> 8);
            }
            ++renamed;
        }
    }
    return renamed;
}

class ListingNames : public ::testing::Test {
protected:
    void SetUp() override {
        const auto source = unpackedCorpusImage("generated/ntfs.img.zst");
        if (!source) GTEST_SKIP() << "corpus image generated/ntfs.img.zst is not available";
        auto bytes = readFile(*source);
        for (const auto& [from, to] : std::vector<std::pair<std::string, std::string>>{
                 {"Ærøskøbing-nectar", "ORPHAN_ENTRY"},
                 {"readme-tundra.txt", "new\nline.txt"},
                 {"empty-nectar.dat", "new\\nline.txt"},
                 {"report-pepper.txt", "a\rb\ac\x1b" "d\x7f.txt"}})
            ASSERT_GT(renameInMftRecords(bytes, from, to), 0) << from;
        writeFile(image_, bytes);
    }

    CommandResult ls(std::vector<std::string> args) {
        args.insert(args.begin(), {"ls", image_.string(), "--start", "0", "--type", "NTFS", "--extent", "FLAT"});
        return runCli(args);
    }

    ScratchDir dir_;
    fs::path image_ = dir_ / "names.img";
};

TEST_F(ListingNames, TsvRowsAreOneLineEachAndReadBackToTheExactNames) {
    const auto r = ls({"-r", "--tsv", "--md5"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    std::size_t lineCount = 0;
    std::string line;
    for (char c : r.out) {
        if (c != '\n') {
            line += c;
            continue;
        }
        ++lineCount;
        EXPECT_EQ(std::count(line.begin(), line.end(), '\t'), 9) << line;
        for (char ch : line) EXPECT_TRUE(ch == '\t' || static_cast<unsigned char>(ch) >= 0x20) << line;
        line.clear();
    }
    const auto rows = parseListing(r.out);
    EXPECT_EQ(rows.size() + 1, lineCount) << "every path is printed once";

    ASSERT_TRUE(rows.contains("/new\\nline.txt"));
    EXPECT_EQ(rows.at("/new\\nline.txt").md5, "4aa72c56f3d99b35f7dc926cfcf39eec") << "the renamed readme";
    ASSERT_TRUE(rows.contains("/new\\\\nline.txt"));
    EXPECT_EQ(rows.at("/new\\\\nline.txt").md5, "d41d8cd98f00b204e9800998ecf8427e") << "the renamed empty file";
    ASSERT_TRUE(rows.contains("/Docs-Kelp/a\\rb\\x07c\\x1Bd\\x7F.txt"));
    EXPECT_EQ(rows.at("/Docs-Kelp/a\\rb\\x07c\\x1Bd\\x7F.txt").md5, "9d177445bd8aeb56d817a89116686011");

    // The real folder keeps its path; the parser's placeholder is marked.
    ASSERT_TRUE(rows.contains("/ORPHAN_ENTRY"));
    EXPECT_TRUE(rows.at("/ORPHAN_ENTRY").dir);
    ASSERT_TRUE(rows.contains("/ORPHAN_ENTRY/Straße.bin"));
    EXPECT_EQ(rows.at("/ORPHAN_ENTRY/Straße.bin").md5, "6fde06fe002b8fdcafef0f88dcbc2d69");
    ASSERT_TRUE(rows.contains("/\\[ORPHAN_ENTRY]"));
    EXPECT_TRUE(rows.at("/\\[ORPHAN_ENTRY]").dir);
    EXPECT_FALSE(rows.contains("/\\[ORPHAN_ENTRY]/Straße.bin"));
}

TEST_F(ListingNames, PathArgumentsTakeThePrintedFormTheRawNameAndThePlaceholderMark) {
    auto md5Of = [&](const std::string& path) {
        const auto r = ls({"--tsv", "--md5", path});
        EXPECT_EQ(r.exitCode, 0) << path << ": " << r.err;
        const auto rows = parseListing(r.out);
        return rows.size() == 1 ? rows.begin()->second.md5 : std::string("rows: ") + std::to_string(rows.size());
    };
    EXPECT_EQ(md5Of("/new\\nline.txt"), "4aa72c56f3d99b35f7dc926cfcf39eec");
    EXPECT_EQ(md5Of("/new\nline.txt"), "4aa72c56f3d99b35f7dc926cfcf39eec") << "the name as it is on disk";
    EXPECT_EQ(md5Of("/new\\\\nline.txt"), "d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(md5Of("/ORPHAN_ENTRY/Straße.bin"), "6fde06fe002b8fdcafef0f88dcbc2d69");

    const auto real = ls({"--tsv", "/ORPHAN_ENTRY"});
    ASSERT_EQ(real.exitCode, 0) << real.err;
    EXPECT_TRUE(parseListing(real.out).contains("/ORPHAN_ENTRY/Straße.bin")) << real.out;
    const auto placeholder = ls({"--tsv", "/\\[ORPHAN_ENTRY]"});
    ASSERT_EQ(placeholder.exitCode, 0) << placeholder.err;
    EXPECT_FALSE(parseListing(placeholder.out).contains("/ORPHAN_ENTRY/Straße.bin"));
    for (const auto& [path, row] : parseListing(placeholder.out)) {
        EXPECT_TRUE(path.starts_with("/\\[ORPHAN_ENTRY]/")) << path;
    }

    // JSON: the listing's path and the exact name.
    const auto json = ls({"--json", "/Docs-Kelp/a\\rb\\x07c\\x1Bd\\x7F.txt"});
    ASSERT_EQ(json.exitCode, 0) << json.err;
    EXPECT_NE(json.out.find("\"path\": \"/Docs-Kelp/a\\\\rb\\\\x07c\\\\x1Bd\\\\x7F.txt\", \"name\": "
                            "\"a\\rb\\u0007c\\u001bd\x7f.txt\""),
              std::string::npos)
        << json.out;
}

TEST_F(ListingNames, AStartThatHoldsNoVolumeOfTheTypeNamesNothing) {
    // The corpus's MBR disk: a partition table at sector 0, NTFS at 2048, FAT32 at 20480.
    const auto disk = corpusFile("generated/mbr-disk.vmdk");
    if (!disk) GTEST_SKIP() << "corpus image generated/mbr-disk.vmdk is not available";
    for (const auto& [start, type, says] : std::vector<std::tuple<std::string, std::string, std::string>>{
             {"0", "NTFS", "sector 0 holds a partition table, not an NTFS boot sector"},
             {"0", "FAT32", "sector 0 holds a partition table"},
             {"2048", "FAT32", "sector 2048 holds an NTFS boot sector, not a FAT boot sector"},
             {"20480", "NTFS", "holds a FAT boot sector, not an NTFS boot sector"},
             {"99999999", "NTFS", "is past the end of the disk"}}) {
        for (const std::string command : {"ls", "save"}) {
            std::vector<std::string> args = {command, disk->string(), "--start", start, "--type", type};
            if (command == "save") args.insert(args.end(), {"--out", (dir_ / "out").string()});
            const auto r = runCli(args);
            EXPECT_EQ(r.exitCode, 3) << command << " " << start << " " << type << ": " << r.err;
            EXPECT_NE(r.err.find(says), std::string::npos) << r.err;
            EXPECT_TRUE(r.out.empty()) << r.out;
        }
    }
    // The recovery modes read a volume whose start another file system overwrote, but a partition
    // table is still no volume.
    EXPECT_EQ(runCli({"ls", disk->string(), "--start", "2048", "--type", "FAT32", "--formatted"}).exitCode, 0);
    EXPECT_EQ(runCli({"ls", disk->string(), "--start", "0", "--type", "NTFS", "--mode", "deep"}).exitCode, 3);
    const auto right = runCli({"ls", disk->string(), "--start", "2048", "--type", "NTFS"});
    EXPECT_EQ(right.exitCode, 0) << right.err;
    EXPECT_EQ(right.err, "");
    // A zeroed boot sector is a damaged volume, not another one: it is still read.
    auto bytes = readFile(image_);
    std::fill_n(bytes.begin(), 512, 0);
    writeFile(image_, bytes);
    EXPECT_EQ(ls({"--tsv"}).exitCode, 0);
}

} // namespace
} // namespace vindaru::test
