// Deleted files on volumes made by mke2fs -d and changed with debugfs as a user's tools would:
// an ext2 volume whose files and folders debugfs removed (the inode keeps its map, as older
// kernels left it) against The Sleuth Kit's deleted names and icat; and an ext4 volume left as
// the kernel leaves one (map cleared, size 0, names zeroed in the folders) whose journal holds
// the older inode-table and folder blocks, written there with debugfs's journal commands.
#include <gtest/gtest.h>

#include <fstream>
#include <random>
#include <regex>
#include <sstream>

#include "common/Md5.h"
#include "fs/ext2/Ext2Dirents.h"
#include "fs/ext2/Ext2TestSupport.h"
#include "support/TestSupport.h"

namespace vindaru::test {
namespace {

namespace fs = std::filesystem;

std::string randomText(std::size_t n, unsigned seed) {
    std::mt19937 gen(seed);
    std::string s(n, '\0');
    for (char& c : s) c = static_cast<char>(gen());
    return s;
}

std::string md5Text(const std::string& s) {
    return md5Of(std::vector<std::uint8_t>(s.begin(), s.end()));
}

// The files every volume starts with, by path, and their bytes.
std::map<std::string, std::string> makeSource(const fs::path& root) {
    std::map<std::string, std::string> files{
        {"/keep/k.bin", randomText(9000, 1)},    {"/docs/del1.bin", randomText(8000, 2)},
        {"/docs/stay.txt", "stays\n"},           {"/gone/g1.bin", randomText(20000, 3)},
        {"/gone/sub/g2.bin", randomText(70000, 4)}, {"/small.txt", "small file\n"},
    };
    for (const auto& [path, bytes] : files) {
        fs::create_directories((root / path.substr(1)).parent_path());
        std::ofstream(root / path.substr(1), std::ios::binary) << bytes;
    }
    return files;
}

const std::vector<std::string> kDeleted = {"/docs/del1.bin", "/gone/g1.bin", "/gone/sub/g2.bin", "/small.txt"};

std::string debugfs(const fs::path& image, const std::string& request, bool write = false) {
    return runCommand("debugfs " + std::string(write ? "-w " : "") + "-R " + shellQuote(request) + " " +
                      shellQuote(image.string()) + " 2>/dev/null")
        .out;
}

void removeWithDebugfs(const fs::path& image) {
    for (const std::string& path : kDeleted) debugfs(image, "rm " + path, true);
    debugfs(image, "rmdir /gone/sub", true);
    debugfs(image, "rmdir /gone", true);
}

std::uint64_t firstNumber(const std::string& text, const std::string& after) {
    const std::size_t at = text.find(after);
    return at == std::string::npos ? 0 : std::stoull(text.substr(at + after.size()));
}

class ImageBytes {
public:
    explicit ImageBytes(fs::path path) : path_(std::move(path)) {
        std::ifstream in(path_, std::ios::binary);
        bytes.assign(std::istreambuf_iterator<char>(in), {});
    }
    ~ImageBytes() { std::ofstream(path_, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size())); }
    std::string bytes;

private:
    fs::path path_;
};

TEST(Ext2DeletedMkfs, DebugfsRemovalsOnExt2AreListedAsTheSleuthKitRecoversThem) {
    if (!haveTool("mke2fs") || !haveTool("debugfs")) GTEST_SKIP() << "mke2fs or debugfs not installed";
    ScratchDir dir;
    const auto files = makeSource(dir.path() / "src");
    const fs::path image = dir.path() / "ext2.img";
    std::string error;
    ASSERT_TRUE(makeExtVolume(image, "-t ext2 -b 1024", dir.path() / "src", 8 * 1024, error)) << error;
    removeWithDebugfs(image);

    auto scan = scanExt2File(image);
    ASSERT_TRUE(scan);
    EntryView& view = scan->view();
    const auto paths = listPaths(view);
    for (const std::string& path : kDeleted) {
        SCOPED_TRACE(path);
        ASSERT_TRUE(paths.count(path));
        EXPECT_TRUE(view.isDeleted(paths.at(path)));
        bool whole = false;
        EXPECT_EQ(md5Of(contentOf(view, paths.at(path), &whole)), md5Text(files.at(path)));
        EXPECT_TRUE(whole);
    }
    EXPECT_TRUE(view.isDeleted(paths.at("/gone")));
    EXPECT_FALSE(view.isDeleted(paths.at("/docs/stay.txt")));

    if (!haveTool("fls") || !haveTool("icat")) return;
    // Every deleted name The Sleuth Kit gives with content is here with the same bytes.
    const CommandResult fls = runCommand("fls -r -d -p " + shellQuote(image.string()));
    std::istringstream lines(fls.out);
    std::string line;
    const std::regex entry(R"(^r/r \* (\d+):\t(.*)$)");
    int compared = 0;
    while (std::getline(lines, line)) {
        std::smatch m;
        if (!std::regex_match(line, m, entry)) continue;
        const std::string path = "/" + m[2].str();
        const std::uint64_t inode = std::stoull(m[1].str());
        const auto theirs = tskMd5s(image, {inode});
        ASSERT_TRUE(paths.count(path)) << path;
        EXPECT_EQ(contentMd5(view, paths.at(path)), theirs.at(inode)) << path;
        ++compared;
    }
    EXPECT_GE(compared, 4);
}

TEST(Ext2DeletedMkfs, KernelStyleDeletionOnExt4IsUndoneFromTheJournal) {
    if (!haveTool("mke2fs") || !haveTool("debugfs")) GTEST_SKIP() << "mke2fs or debugfs not installed";
    ScratchDir dir;
    const auto files = makeSource(dir.path() / "src");
    const fs::path image = dir.path() / "ext4.img";
    std::string error;
    ASSERT_TRUE(makeExtVolume(image, "-t ext4 -b 1024", dir.path() / "src", 16 * 1024, error)) << error;

    // Before the deletion: the inode-table blocks of every inode involved and the folders'
    // blocks go into one journal transaction, as the kernel's metadata writes would.
    std::set<std::uint64_t> blocks;
    std::map<std::string, std::uint64_t> inodes;
    for (const std::string path : {"/docs/del1.bin", "/gone/g1.bin", "/gone/sub/g2.bin", "/small.txt", "/gone", "/gone/sub"}) {
        inodes[path] = firstNumber(debugfs(image, "stat " + path), "Inode: ");
        blocks.insert(firstNumber(debugfs(image, "imap " + path), "located at block "));
    }
    std::vector<std::uint64_t> folderBlocks;
    for (const std::string folder : {"/", "/docs", "/gone", "/gone/sub"})
        folderBlocks.push_back(std::stoull(debugfs(image, "blocks " + folder)));
    blocks.insert(folderBlocks.begin(), folderBlocks.end());
    {
        ImageBytes img(image);
        std::ofstream copy(dir.path() / "copies.bin", std::ios::binary);
        std::string list;
        for (std::uint64_t b : blocks) {
            copy.write(img.bytes.data() + b * 1024, 1024);
            list += (list.empty() ? "" : ",") + std::to_string(b);
        }
        std::ofstream(dir.path() / "journal.cmd") << "jo\njw -b " << list << " " << (dir.path() / "copies.bin").string() << "\njc\n";
    }
    runCommand("debugfs -w -f " + shellQuote((dir.path() / "journal.cmd").string()) + " " + shellQuote(image.string()));
    removeWithDebugfs(image);
    // What the kernel leaves: an empty extent tree, size 0, the names zeroed.
    for (const auto& [path, inode] : inodes) {
        const std::string ino = "<" + std::to_string(inode) + ">";
        debugfs(image, "sif " + ino + " block[0] 0xF30A", true);
        for (int i = 1; i < 15; ++i) debugfs(image, "sif " + ino + " block[" + std::to_string(i) + "] " + (i == 1 ? "4" : "0"), true);
        debugfs(image, "sif " + ino + " size 0", true);
    }
    debugfs(image, "feature -needs_recovery", true);
    const std::uint64_t journalStart = std::stoull(debugfs(image, "bmap <8> 0"));
    {
        ImageBytes img(image);
        std::fill_n(img.bytes.begin() + static_cast<std::ptrdiff_t>(journalStart * 1024 + 0x1C), 4, '\0'); // s_start: clean
        for (std::uint64_t b : folderBlocks) {
            auto block = std::span(reinterpret_cast<std::uint8_t*>(img.bytes.data() + b * 1024), 1024);
            for (std::size_t at = 0; at < 1024;) {
                const std::size_t recLen = block[at + 4] | block[at + 5] << 8;
                const std::size_t used = direntLength(block[at + 6]);
                if (recLen < 12 || at + recLen > 1024) break;
                if (recLen > used) std::fill(block.begin() + at + used, block.begin() + at + recLen, 0);
                at += recLen;
            }
        }
    }
    // (The folder checksums the zeroing broke do not matter to a reader that does not check them.)

    auto scan = scanExt2File(image);
    ASSERT_TRUE(scan);
    EXPECT_TRUE(scan->ext2().journalNote.empty()) << scan->ext2().journalNote;
    EntryView& view = scan->view();
    const auto paths = listPaths(view);
    for (const std::string& path : kDeleted) {
        SCOPED_TRACE(path);
        ASSERT_TRUE(paths.count(path));
        EXPECT_TRUE(view.isDeleted(paths.at(path)));
        bool whole = false;
        EXPECT_EQ(md5Of(contentOf(view, paths.at(path), &whole)), md5Text(files.at(path)));
        EXPECT_TRUE(whole);
        EXPECT_EQ(view.byteSize(paths.at(path)), files.at(path).size());
        // Whole by the journal's map, on blocks no live file took.
        EXPECT_EQ(view.recoverableShare(paths.at(path)), 1.0);
    }
    EXPECT_TRUE(view.isDirectory(paths.at("/gone/sub")));
}

// How intact a deleted file is, by the block bitmaps: files written one after another by
// debugfs, three removed, then a new file that takes the first one's 4 blocks and 4 of the
// second's 49: the second is 91% recoverable, the third whole.
TEST(Ext2DeletedMkfs, RecoverableShareFollowsTheBlockBitmaps) {
    if (!haveTool("mke2fs") || !haveTool("debugfs")) GTEST_SKIP() << "mke2fs or debugfs not installed";
    ScratchDir dir;
    fs::create_directories(dir.path() / "empty");
    const fs::path image = dir.path() / "ext2.img";
    std::string error;
    ASSERT_TRUE(makeExtVolume(image, "-t ext2 -b 1024", dir.path() / "empty", 4 * 1024, error)) << error;
    for (const auto& [name, size] : std::vector<std::pair<std::string, std::size_t>>{
             {"a.bin", 4000}, {"gone.bin", 50000}, {"intact.bin", 30000}, {"live.bin", 30000}, {"new.bin", 8000}}) {
        std::ofstream(dir.path() / name, std::ios::binary) << randomText(size, static_cast<unsigned>(size));
        if (name == "new.bin")
            for (const std::string gone : {"a.bin", "gone.bin", "intact.bin"}) debugfs(image, "rm " + gone, true);
        debugfs(image, "write " + (dir.path() / name).string() + " " + name, true);
    }
    auto scan = scanExt2File(image);
    ASSERT_TRUE(scan);
    const auto paths = listPaths(scan->view());
    const auto share = [&](const std::string& path) { return scan->view().recoverableShare(paths.at(path)); };
    EXPECT_EQ(recoverablePercentText(share("/gone.bin")), "91%");
    EXPECT_EQ(share("/intact.bin"), 1.0);
    EXPECT_EQ(share("/live.bin"), 1.0);
    EXPECT_FALSE(share("/lost+found").has_value());
}

} // namespace
} // namespace vindaru::test
