// The page's NTFS scan, tree, list and saving on the corpus NTFS volume (made by mkntfs and
// ntfs-3g), checked against The Sleuth Kit's listing of it.
#include <gtest/gtest.h>

#include <map>
#include <sys/stat.h>

#include "browser/EntryWalker.h"
#include "browser/VolumeSession.h"
#include "image/MemoryReader.h"
#include "support/ListingTsv.h"
#include "support/TestSupport.h"

using namespace vindaru;
using namespace vindaru::test;

namespace {

// A scanned corpus volume with everything a page holds.
struct ScannedVolume {
    std::unique_ptr<MemoryReader> reader;
    CheckTree tree;
    RecordingStatusSink status;
    RecordingStatusSink second;
    RecordingProgressSink progress;
    RecordingMessageSink messages;
    std::unique_ptr<VolumeSession> logic;

    explicit ScannedVolume(const fs::path& image) {
        reader = std::make_unique<MemoryReader>(readFile(image));
        logic = std::make_unique<VolumeSession>(
            reader.get(), VolumeRecord{"NTFS", "0", "16", 0}, tree,
            BrowserSinks{status, second, progress, messages});
    }

    // path -> entry, over the whole tree as the page would open it.
    std::map<std::string, EntryRef> listAll() {
        std::map<std::string, EntryRef> out;
        EntryView& view = *logic->view();
        std::vector<EntryRef> first;
        for (auto item : tree.children(logic->volumeItem())) first.push_back(*tree.getItemData(item));
        std::vector<std::string> names;
        EntryWalker walker(view, EntryWalker::DirectoryTest::Listing);
        walker.walkLevel(first, view.rootEntry(), [&](const EntryWalker::Visit& v) {
            names.resize(v.depth);
            std::string path;
            for (const auto& n : names) path += "/" + n;
            path += "/" + view.label(v.entry);
            out.emplace(path, v.entry);
            names.push_back(view.label(v.entry));
            return true;
        });
        return out;
    }
};

std::optional<fs::path> corpusNtfs() { return unpackedCorpusImage("generated/ntfs.img.zst"); }

} // namespace

TEST(NtfsBrowse, StandardScanEndsAsThePageDoesAndListsEveryLiveFile) {
    auto image = corpusNtfs();
    if (!image) GTEST_SKIP() << "corpus image generated/ntfs.img.zst not available";
    const auto tsv = readFile(*corpusFile("generated/ntfs.expected.tsv"));
    const auto expected = parseListing(std::string(tsv.begin(), tsv.end()), "ntfs");
    ScannedVolume v(*image);
    ASSERT_EQ(v.logic->prepare(), VolumeSession::Prepared::Ready);
    v.logic->run();
    EXPECT_FALSE(v.logic->busy());
    EXPECT_EQ(v.messages.texts(), std::vector<std::string>{"Scanning process completed..."});
    const auto texts = v.status.snapshot();
    EXPECT_EQ(texts.front(), "ntfs partition selected....");
    EXPECT_EQ(texts.back(), "Processing done...");
    EXPECT_NE(std::find(texts.begin(), texts.end(), " ParsingBasedOnMFT is going on...."), texts.end());

    const auto listed = v.listAll();
    EXPECT_TRUE(listed.count("/ORPHAN_ENTRY"));
    ScratchDir scratch;
    auto folder = OutputFolder::openChosen(scratch.path());
    ASSERT_TRUE(folder);
    EntryView& view = *v.logic->view();
    int files = 0;
    for (const auto& [path, row] : expected) {
        if (!isLivePathRow(row)) continue;
        auto it = listed.find(path);
        ASSERT_NE(it, listed.end()) << path;
        EXPECT_EQ(view.isDirectory(it->second), row.dir) << path;
        EXPECT_FALSE(view.isDeleted(it->second)) << path;
        if (row.dir) continue;
        ++files;
        EXPECT_EQ(std::to_string(view.byteSize(it->second)), row.size) << path;
        EXPECT_EQ(std::to_string(view.times(it->second).modificationSeconds), row.mtime) << path;
        const std::string name = v.logic->saver()->saveInto(it->second, *folder);
        ASSERT_FALSE(name.empty()) << path;
        EXPECT_EQ(md5OfFile(scratch / name), row.md5) << path;
    }
    EXPECT_GT(files, 50);
    // Deleted files whose records still hold a name are listed, red.
    for (const char* gone : {"/tmp-juniper.txt", "/Docs-Kelp/draft-juniper.txt"}) {
        auto it = listed.find(gone);
        ASSERT_NE(it, listed.end()) << gone;
        EXPECT_TRUE(view.isDeleted(it->second)) << gone;
    }
}

TEST(NtfsBrowse, TreeOpensLazilyAndListsFilesOfTheSelectedFolder) {
    auto image = corpusNtfs();
    if (!image) GTEST_SKIP() << "corpus image generated/ntfs.img.zst not available";
    ScannedVolume v(*image);
    ASSERT_EQ(v.logic->prepare(), VolumeSession::Prepared::Ready);
    v.logic->run();
    TreeItemId docs = kNoTreeItem;
    for (auto item : v.tree.children(v.logic->volumeItem())) {
        if (v.tree.label(item) == "Docs-Kelp") docs = item;
        if (v.tree.label(item) == ".") {
            EXPECT_EQ(v.tree.childCount(item), 0u) << "'.' gets no placeholder: it leads back";
        }
    }
    ASSERT_NE(docs, kNoTreeItem);
    EXPECT_TRUE(v.tree.getCheck(v.logic->volumeItem())) << "the scan checks the volume item";
    ASSERT_EQ(v.tree.childCount(docs), 1u);
    EXPECT_EQ(v.tree.label(v.tree.childAt(docs, 0)), "..DUMY..");

    auto rows = v.logic->browser()->selectItem(docs);
    std::vector<std::string> labels;
    for (const auto& r : rows) labels.push_back(r.label);
    std::sort(labels.begin(), labels.end());
    EXPECT_EQ(labels, (std::vector<std::string>{"draft-juniper.txt", "report-pepper.txt"}));
    for (const auto& r : rows) {
        EXPECT_EQ(r.sizeText, "9.77 KB");
        EXPECT_FALSE(r.texts.modification.empty());
        EXPECT_EQ(r.deleted, r.label == "draft-juniper.txt");
        auto item = v.tree.item(r.item);
        EXPECT_EQ(item->textColour, r.deleted ? kRedTextColour : kDefaultTextColour);
        EXPECT_TRUE(item->getCheck) << "children copy the checked folder's state";
    }
}

TEST(NtfsBrowse, FolderSaveAsksWithTheCountThenWritesFilesWithTheirTimes) {
    auto image = corpusNtfs();
    if (!image) GTEST_SKIP() << "corpus image generated/ntfs.img.zst not available";
    ScannedVolume v(*image);
    ASSERT_EQ(v.logic->prepare(), VolumeSession::Prepared::Ready);
    v.logic->run();
    auto listed = v.listAll();
    const EntryRef docs = listed.at("/Docs-Kelp");
    ScratchDir out;
    v.messages.answer = MessageAnswer::No;
    EXPECT_EQ(v.logic->saver()->saveFolder(docs, out.path().string()),
              EntrySaver::FolderResult::Declined);
    EXPECT_EQ(v.messages.texts().back(),
              "number of files found inside this folder = 5 .do u want to continue dumping these "
              "files..?");
    EXPECT_TRUE(fs::is_empty(out.path()));

    v.messages.answer = MessageAnswer::Yes;
    EXPECT_EQ(v.logic->saver()->saveFolder(docs, out.path().string()),
              EntrySaver::FolderResult::Saved);
    EXPECT_EQ(v.messages.texts().back(), "Saving process done");
    const fs::path leaf = out / "Archive xenon/2011/Deeper/leaf-fjord.txt";
    struct stat st {};
    ASSERT_EQ(::stat(leaf.c_str(), &st), 0);
    EXPECT_EQ(st.st_mtim.tv_sec, 1555394948);
    EXPECT_EQ(md5OfFile(leaf), "c6e285d922cb91253540875a0966f6fa");
    EXPECT_EQ(md5OfFile(out / "report-pepper.txt"), "9d177445bd8aeb56d817a89116686011");
    EXPECT_TRUE(fs::exists(out / "draft-juniper.txt")) << "deleted files are saved too";
}
