#include <gtest/gtest.h>

#include "browser/VolumeBrowser.h"
#include "TableEntryView.h"

using namespace vindaru;
using namespace vindaru::test;

namespace {

// A scan's result as a parser leaves it: the volume item with the root's children below it.
struct BrowseFixture {
    TableEntryView view;
    CheckTree tree;
    VolumeBrowser browser{tree, view};
    EntryRef root, folder, onlyDirs, file;
    TreeItemId volumeItem, folderItem, onlyDirsItem, dotItem;

    BrowseFixture() {
        root = view.add(0, "root", true);
        view.rows[root].children.push_back(root); // "."
        view.rows.back().name = "root";
        folder = view.add(root, "folder", true);
        view.add(folder, "kept.txt", false, "k");
        view.add(folder, "gone.txt", false, "g", true);
        const EntryRef inner = view.add(folder, "inner", true);
        view.add(inner, "deep.txt", false, "d");
        onlyDirs = view.add(root, "onlydirs", true);
        view.add(onlyDirs, "d1", true);
        file = view.add(root, "file.txt", false, "f");
        view.add(root, "empty", true);

        volumeItem = tree.insertItem("ROOT", IconKind::Folder);
        tree.setItemData(volumeItem, root);
        for (EntryRef e : view.children(root)) {
            TreeItemId id = tree.insertItem(view.label(e), browser.iconFor(e), volumeItem);
            tree.setItemData(id, e);
            if (e == folder) folderItem = id;
            if (e == onlyDirs) onlyDirsItem = id;
            if (e == root) dotItem = id;
        }
        browser.addPlaceholders();
    }

    std::vector<std::string> labels(TreeItemId item) {
        std::vector<std::string> out;
        for (auto c : tree.children(item)) out.push_back(tree.label(c));
        return out;
    }
};

} // namespace

TEST(VolumeBrowser, PlaceholdersOnlyWhereThereIsContent) {
    BrowseFixture f;
    EXPECT_EQ(f.labels(f.folderItem), std::vector<std::string>{"..DUMY.."});
    EXPECT_EQ(f.tree.item(f.tree.childAt(f.folderItem, 0))->icon, IconKind::Placeholder);
    EXPECT_TRUE(f.labels(f.dotItem).empty()) << "the root's '.' does not lead back into the root";
    for (auto c : f.tree.children(f.volumeItem)) {
        if (f.tree.label(c) == "file.txt" || f.tree.label(c) == "empty") {
            EXPECT_EQ(f.tree.childCount(c), 0u);
        }
    }
}

TEST(VolumeBrowser, OpeningReplacesThePlaceholderOnce) {
    BrowseFixture f;
    f.browser.openDirectory(f.folderItem, VolumeBrowser::OpenCause::Expansion);
    EXPECT_EQ(f.labels(f.folderItem), (std::vector<std::string>{"kept.txt", "gone.txt", "inner"}));
    const TreeItemId inner = f.tree.childAt(f.folderItem, 2);
    EXPECT_EQ(f.labels(inner), std::vector<std::string>{"..DUMY.."});
    // Deleted entries are red however the folder was opened.
    for (auto c : f.tree.children(f.folderItem))
        EXPECT_EQ(f.tree.item(c)->textColour,
                  f.tree.label(c) == "gone.txt" ? kRedTextColour : kDefaultTextColour)
            << f.tree.label(c);
    f.browser.openDirectory(f.folderItem, VolumeBrowser::OpenCause::Selection);
    EXPECT_EQ(f.tree.childCount(f.folderItem), 3u) << "opening again adds nothing";
    f.browser.openDirectory(f.dotItem, VolumeBrowser::OpenCause::Expansion);
    EXPECT_EQ(f.tree.childCount(f.dotItem), 0u);
}

TEST(VolumeBrowser, ChildrenCopyTheFolderCheckAndSelectionDrawsDeletedRed) {
    BrowseFixture f;
    f.tree.setCheck(f.folderItem, true);
    auto rows = f.browser.selectItem(f.folderItem);
    for (auto c : f.tree.children(f.folderItem)) EXPECT_TRUE(f.tree.getCheck(c)) << f.tree.label(c);
    EXPECT_TRUE(f.tree.getCheck(f.folderItem));
    EXPECT_EQ(f.tree.item(f.tree.childAt(f.folderItem, 1))->textColour, kRedTextColour);
    EXPECT_EQ(f.tree.item(f.tree.childAt(f.folderItem, 0))->textColour, kDefaultTextColour);

    ASSERT_EQ(rows.size(), 2u) << "folders are not listed";
    EXPECT_EQ(rows[0].label, "kept.txt");
    EXPECT_EQ(rows[0].texts.creation, "c3");
    EXPECT_EQ(rows[0].sizeText, "1 Bytes");
    EXPECT_TRUE(rows[1].deleted);

    f.tree.setCheck(f.onlyDirsItem, false);
    EXPECT_TRUE(f.browser.selectItem(f.onlyDirsItem).empty());
    EXPECT_FALSE(f.tree.getCheck(f.tree.childAt(f.onlyDirsItem, 0)));
}

TEST(VolumeBrowser, SelectingAFileListsItAndDoubleClickListsLabels) {
    BrowseFixture f;
    TreeItemId fileItem = kNoTreeItem;
    for (auto c : f.tree.children(f.volumeItem))
        if (f.tree.label(c) == "file.txt") fileItem = c;
    auto rows = f.browser.selectItem(fileItem);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].label, "file.txt");

    auto labelsOnly = f.browser.doubleClickDirectory(f.folderItem);
    ASSERT_EQ(labelsOnly.size(), 2u);
    EXPECT_TRUE(labelsOnly[0].labelOnly);
    EXPECT_TRUE(labelsOnly[0].texts.creation.empty());
    EXPECT_EQ(f.tree.item(f.tree.childAt(f.folderItem, 1))->textColour, kRedTextColour); // gone.txt

    auto placeholder = f.tree.childAt(f.tree.childAt(f.folderItem, 2), 0);
    EXPECT_TRUE(f.browser.selectItem(placeholder).empty());
}

TEST(VolumeBrowser, ACheckedFolderStaysCheckedThroughItsPlaceholder) {
    BrowseFixture f;
    f.tree.deleteAllItems();
    const TreeItemId volume = f.tree.insertItem("ROOT", IconKind::Folder);
    f.tree.setItemData(volume, f.root);
    const TreeItemId folder = f.tree.insertItem("folder", IconKind::Folder, volume);
    f.tree.setItemData(folder, f.folder);
    f.tree.setCheck(volume, true);
    f.browser.addPlaceholders();
    EXPECT_TRUE(f.tree.getCheck(volume));
    EXPECT_TRUE(f.tree.getCheck(folder));
    f.browser.openDirectory(folder, VolumeBrowser::OpenCause::Expansion);
    EXPECT_EQ(f.tree.childCount(folder), 3u);
    EXPECT_TRUE(f.tree.getCheck(folder));
    EXPECT_TRUE(f.tree.getCheck(f.tree.childAt(folder, 0)));
    EXPECT_EQ(f.tree.item(volume)->checkedDescendants, f.tree.item(volume)->descendants);
}

TEST(VolumeBrowser, AFileNamedLikeThePlaceholderIsAnEntry) {
    BrowseFixture f;
    const EntryRef odd = f.view.add(f.folder, "..DUMY..", false, "x");
    f.browser.openDirectory(f.folderItem, VolumeBrowser::OpenCause::Expansion);
    const TreeItemId item = f.tree.childAt(f.folderItem, 3);
    ASSERT_EQ(f.tree.label(item), "..DUMY..");
    EXPECT_EQ(f.browser.entryOf(item), std::optional<EntryRef>(odd)) << "a real file, not the placeholder";
    EXPECT_FALSE(f.browser.entryOf(f.tree.childAt(f.tree.childAt(f.folderItem, 2), 0)))
        << "the placeholder under 'inner' is still none";
}
