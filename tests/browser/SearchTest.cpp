#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "browser/EntrySearch.h"
#include "browser/NamePattern.h"
#include "browser/TableEntryView.h"
#include "support/StopAtEvent.h"

using namespace vindaru;
using vindaru::test::TableEntryView;

namespace {

std::vector<std::string> paths(const std::vector<SearchRow>& rows) {
    std::vector<std::string> out;
    for (const auto& r : rows) out.push_back(r.path);
    return out;
}

struct SearchFixture : ::testing::Test {
    TableEntryView view;
    CheckTree tree;
    RecordingStatusSink status;
    NullStatusSink second;
    RecordingProgressSink progress;
    RecordingMessageSink messages;
    EngineControl control;
    TreeItemId volume = kNoTreeItem;

    // ROOT: docs/{a.jpg, B.Jpg, sub/{c.png, photos.jpgdir/}}, top.PNG, empty/, note.txt
    void SetUp() override {
        const EntryRef root = view.add(0, "", true);
        view.root = root;
        const EntryRef docs = view.add(root, "docs", true);
        view.add(docs, "a.jpg", false, "x");
        view.add(docs, "B.Jpg", false, "y");
        const EntryRef sub = view.add(docs, "sub", true);
        view.add(sub, "c.png", false, "z");
        view.add(sub, "photos.jpgdir", true);
        const EntryRef top = view.add(root, "top.PNG", false, "t");
        const EntryRef empty = view.add(root, "empty.jpg", true);
        view.add(root, "note.txt", false, "n");
        (void)top;
        (void)empty;

        volume = tree.insertItem("ROOT", IconKind::Folder, kTreeTop);
        tree.setItemData(volume, root);
        for (EntryRef e : view.children(root)) {
            const TreeItemId item = tree.insertItem(view.label(e), IconKind::Folder, volume);
            tree.setItemData(item, e);
            if (view.hasChildren(e)) tree.insertItem("..DUMY..", IconKind::Placeholder, item);
        }
    }

    EntrySearch::Result run(const std::string& pattern, std::vector<SearchRow>& rows) {
        EntrySearch search(tree, volume, view, BrowserSinks{status, second, progress, messages},
                           control);
        auto r = search.search(pattern);
        rows = search.rows();
        return r;
    }
};

} // namespace

TEST(NamePattern, MatchesAnywhereIgnoringCaseAndRefusesBadPatterns) {
    NamePattern p;
    ASSERT_TRUE(p.compile("JPG"));
    EXPECT_TRUE(p.matches("a.jpg"));
    EXPECT_TRUE(p.matches("B.Jpg"));
    EXPECT_FALSE(p.matches("a.jpeg"));
    ASSERT_TRUE(p.compile("jpg|png"));
    EXPECT_TRUE(p.matches("x.PNG"));
    ASSERT_TRUE(p.compile(".jpg"));
    EXPECT_TRUE(p.matches("xjpg"));
    EXPECT_FALSE(p.matches("jpg")) << "the dot needs a character before jpg";
    ASSERT_TRUE(p.compile("^stra\xC3\x9f" "e"));
    EXPECT_TRUE(p.matches("STRA\xC3\x9F" "E.pdf")) << "names are matched as UTF-8 text";
    EXPECT_FALSE(p.compile("*x"));
    EXPECT_FALSE(p.compile("(ab"));
    EXPECT_FALSE(p.valid());
}

TEST(NamePattern, PathologicalPatternGivesUpInsteadOfFreezing) {
    NamePattern p;
    ASSERT_TRUE(p.compile("(a+)+$"));
    const std::string name = std::string(5000, 'a') + "!";
    EXPECT_FALSE(p.matches(name));
    EXPECT_EQ(p.limitHits(), 1u);
    EXPECT_TRUE(p.matches("aaa")) << "the same pattern still matches ordinary names";
}

TEST_F(SearchFixture, ListsMatchingFilesWithPathsAndEndsWithTheMessage) {
    std::vector<SearchRow> rows;
    ASSERT_EQ(run("jpg|png", rows), EntrySearch::Result::Finished);
    EXPECT_EQ(paths(rows), (std::vector<std::string>{"ROOT\\docs\\a.jpg", "ROOT\\docs\\B.Jpg",
                                                     "ROOT\\docs\\sub\\c.png", "ROOT\\top.PNG",
                                                     "ROOT\\empty.jpg"}))
        << "a matching directory inside a walked folder is not listed; a top-level item with no "
           "child items is tested like a file";
    EXPECT_EQ(rows[0].texts.modification, "m3");
    EXPECT_EQ(rows[0].sizeText, "1 Bytes");
    EXPECT_EQ(messages.texts(), std::vector<std::string>{kSearchFinished});
    EXPECT_FALSE(messages.messages[0].withCaption);
    EXPECT_EQ(status.snapshot().back(), "searched file 5");
}

// One folder of many files moves the bar as its files are tested, so the page can tell the time
// left before the folder ends.
TEST(SearchProgress, TheBarMovesInsideOneLargeFolder) {
    TableEntryView view;
    const EntryRef root = view.add(0, "", true);
    view.root = root;
    const EntryRef big = view.add(root, "big", true);
    for (int i = 0; i < 1000; ++i) view.add(big, "f" + std::to_string(i) + ".dat", false, "x");
    CheckTree tree;
    const TreeItemId volume = tree.insertItem("ROOT", IconKind::Folder, kTreeTop);
    tree.setItemData(volume, root);
    const TreeItemId item = tree.insertItem("big", IconKind::Folder, volume);
    tree.setItemData(item, big);
    tree.insertItem("..DUMY..", IconKind::Placeholder, item);
    RecordingStatusSink status;
    NullStatusSink second;
    RecordingProgressSink progress;
    RecordingMessageSink messages;
    EngineControl control;
    EntrySearch search(tree, volume, view, BrowserSinks{status, second, progress, messages}, control);
    ASSERT_EQ(search.search("f1"), EntrySearch::Result::Finished);
    ASSERT_EQ(progress.ranges.size(), 1u);
    EXPECT_EQ(progress.ranges[0].second, 1000);
    std::vector<std::int64_t> inside;
    for (std::int64_t p : progress.positions)
        if (p > 0 && p < 1000) inside.push_back(p);
    EXPECT_GE(inside.size(), 50u);
    EXPECT_TRUE(std::is_sorted(inside.begin(), inside.end()));
    EXPECT_EQ(progress.positions.back(), 1000);
}

TEST_F(SearchFixture, InvalidPatternListsNothingAndDoesNotFinish) {
    std::vector<SearchRow> rows;
    EXPECT_EQ(run("*x", rows), EntrySearch::Result::InvalidPattern);
    EXPECT_TRUE(rows.empty());
    EXPECT_EQ(messages.texts(), std::vector<std::string>{kSearchInvalidPattern});
}

TEST_F(SearchFixture, EmptyPatternOnlyFinishes) {
    std::vector<SearchRow> rows;
    EXPECT_EQ(run("", rows), EntrySearch::Result::Finished);
    EXPECT_TRUE(rows.empty());
    EXPECT_EQ(messages.texts(), std::vector<std::string>{kSearchFinished});
}

TEST_F(SearchFixture, RootsOwnRecordAmongItsChildrenIsNotSearchedTwice) {
    // The NTFS root's "." record: a directory among the root's children whose children are the
    // root's own.
    const EntryRef root = *view.root;
    view.rows[root].children.push_back(root);
    const TreeItemId dot = tree.insertItem(".", IconKind::Folder, volume);
    tree.setItemData(dot, root);
    tree.insertItem("..DUMY..", IconKind::Placeholder, dot);
    std::vector<SearchRow> rows;
    run("a\\.jpg", rows);
    EXPECT_EQ(paths(rows), std::vector<std::string>{"ROOT\\docs\\a.jpg"});
}

// Each folder's walk clears the flag as it ends, so that a stopped walk lets the next folder be
// searched; a Stop pressed after the walk's last look (here as its progress reaches the end)
// still ends the next folder's walk, and the one after that is searched again.
TEST_F(SearchFixture, AStopBetweenTwoFoldersEndsTheNextFolder) {
    const EntryRef root = *view.root;
    for (const char* name : {"more", "last"}) {
        const EntryRef folder = view.add(root, name, true);
        view.add(folder, std::string(name) + ".jpg", false, "w");
        const TreeItemId item = tree.insertItem(name, IconKind::Folder, volume);
        tree.setItemData(item, folder);
        tree.insertItem("..DUMY..", IconKind::Placeholder, item);
    }
    test::StopAtEvent docsEnd;
    docsEnd.pressAt = 1; // "range 0 3" of docs, then its "position 3"
    docsEnd.press = [this] { control.requestStop(); };
    EntrySearch search(tree, volume, view, BrowserSinks{status, second, docsEnd, messages}, control);
    search.search("jpg|png");
    ASSERT_EQ(docsEnd.events.at(1), "position 3");
    EXPECT_EQ(paths(search.rows()),
              (std::vector<std::string>{"ROOT\\docs\\a.jpg", "ROOT\\docs\\B.Jpg", "ROOT\\docs\\sub\\c.png",
                                        "ROOT\\top.PNG", "ROOT\\empty.jpg", "ROOT\\last\\last.jpg"}));
}

TEST_F(SearchFixture, StopEndsTheCurrentFolderOnlyAndIsCleared) {
    control.stopRequested.raise();
    std::vector<SearchRow> rows;
    run("jpg|png", rows);
    EXPECT_EQ(paths(rows), (std::vector<std::string>{"ROOT\\top.PNG", "ROOT\\empty.jpg"}));
    EXPECT_FALSE(control.stopRequested.load());
    EXPECT_EQ(progress.ranges.front(), (std::pair<std::int64_t, std::int64_t>{0, 3}))
        << "the progress range is the folder's file count";
}
