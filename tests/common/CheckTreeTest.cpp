#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "common/CheckTree.h"

using namespace vindaru;

namespace {

struct Counters {
    std::int32_t descendants, checked, disabled;
};

Counters counters(const CheckTree& t, TreeItemId id) {
    auto v = t.item(id);
    EXPECT_TRUE(v.has_value());
    return v ? Counters{v->descendants, v->checkedDescendants, v->disabledDescendants}
             : Counters{-1, -1, -1};
}

// root / folder{a, b, sub{c, d}} / other
struct SmallTree {
    CheckTree t;
    TreeItemId root = t.insertItem("ROOT", IconKind::Folder);
    TreeItemId folder = t.insertItem("folder", IconKind::Folder, root);
    TreeItemId a = t.insertItem("a.txt", IconKind::ByExtension, folder);
    TreeItemId b = t.insertItem("b.txt", IconKind::ByExtension, folder);
    TreeItemId sub = t.insertItem("sub", IconKind::Folder, folder);
    TreeItemId c = t.insertItem("c.txt", IconKind::ByExtension, sub);
    TreeItemId d = t.insertItem("d.txt", IconKind::ByExtension, sub);
    TreeItemId other = t.insertItem("other", IconKind::ByExtension, root);
};

struct EventLog : CheckTreeListener {
    std::vector<std::string> events;
    void itemInserted(TreeItemId i, TreeItemId p, std::size_t row) override {
        events.push_back("insert " + std::to_string(i) + " under " + std::to_string(p) + " at " +
                         std::to_string(row));
    }
    void itemRemoved(TreeItemId i, TreeItemId p, std::size_t row) override {
        events.push_back("remove " + std::to_string(i) + " under " + std::to_string(p) + " at " +
                         std::to_string(row));
    }
    void allItemsRemoved() override { events.push_back("clear"); }
    void checkChanged(TreeItemId i, bool s) override {
        events.push_back("check " + std::to_string(i) + (s ? " on" : " off"));
    }
    void itemExpanding(TreeItemId i, bool e) override {
        events.push_back("expand " + std::to_string(i) + (e ? " open" : " shut"));
    }
};

} // namespace

TEST(CheckTree, InsertCountsDescendantsOnEveryAncestor) {
    SmallTree s;
    EXPECT_EQ(counters(s.t, s.root).descendants, 7);
    EXPECT_EQ(counters(s.t, s.folder).descendants, 5);
    EXPECT_EQ(counters(s.t, s.sub).descendants, 2);
    EXPECT_EQ(s.t.childCount(kTreeTop), 1u);
    EXPECT_EQ(s.t.children(s.folder), (std::vector<TreeItemId>{s.a, s.b, s.sub}));
    EXPECT_EQ(s.t.item(s.b)->row, 1u);
    EXPECT_EQ(s.t.insertItem("x", IconKind::Folder, 9999), kNoTreeItem) << "unknown parent";
}

TEST(CheckTree, CheckingAFolderChecksItsSubtreeAndAddsItToTheParent) {
    SmallTree s;
    s.t.setCheck(s.folder, true); // 5 items below it: 6 checked
    for (auto id : {s.folder, s.a, s.b, s.sub, s.c, s.d}) EXPECT_TRUE(s.t.getCheck(id)) << id;
    EXPECT_EQ(counters(s.t, s.folder).checked, 5);
    EXPECT_EQ(counters(s.t, s.sub).checked, 2);
    EXPECT_EQ(counters(s.t, s.root).checked, 6);
    EXPECT_EQ(s.t.stateImage(s.root), kStateTristate) << "'other' is still unchecked";
    EXPECT_FALSE(s.t.getCheck(s.root));

    s.t.setCheck(s.other, true);
    EXPECT_EQ(s.t.stateImage(s.root), kStateChecked);
    EXPECT_TRUE(s.t.getCheck(s.root));
}

TEST(CheckTree, UncheckingOneFileTurnsTheFolderTristateAndLowersTheParentByTwo) {
    SmallTree s;
    s.t.setCheck(s.root, true);
    EXPECT_EQ(counters(s.t, s.root).checked, 7);
    s.t.setCheck(s.c, false);
    EXPECT_EQ(s.t.stateImage(s.sub), kStateTristate);
    EXPECT_FALSE(s.t.getCheck(s.sub));
    EXPECT_EQ(counters(s.t, s.folder).checked, 3) << "c and sub are no longer checked";
    EXPECT_EQ(counters(s.t, s.root).checked, 4) << "nor are c, sub and folder";
    s.t.setCheck(s.c, true);
    EXPECT_EQ(counters(s.t, s.root).checked, 7);
    EXPECT_TRUE(s.t.getCheck(s.folder));
}

TEST(CheckTree, InsertingIntoACheckedFolderUnchecksItAndItsAncestors) {
    SmallTree s;
    s.t.setCheck(s.root, true);
    auto e = s.t.insertItem("e.txt", IconKind::ByExtension, s.sub);
    EXPECT_FALSE(s.t.getCheck(e));
    EXPECT_EQ(s.t.stateImage(s.sub), kStateTristate);
    EXPECT_EQ(counters(s.t, s.sub).checked, 2);
    EXPECT_EQ(counters(s.t, s.folder).checked, 4) << "a, b, c and d, but not sub";
    EXPECT_EQ(counters(s.t, s.root).checked, 5);
    // Opening a folder: the new children copy its state.
    s.t.setCheck(e, true);
    EXPECT_EQ(counters(s.t, s.root).checked, 8);
    EXPECT_EQ(s.t.stateImage(s.root), kStateChecked);
}

TEST(CheckTree, DisabledItemsAreSkippedAndCounted) {
    CheckTree t;
    auto folder = t.insertItem("f", IconKind::Folder);
    auto only = t.insertItem("only", IconKind::ByExtension, folder);
    t.setItemEnabled(only, false);
    EXPECT_EQ(counters(t, folder).disabled, 1);
    EXPECT_EQ(t.stateImage(only), kStateUnchecked + kStateDisabledOffset);
    t.setCheck(only, true);
    EXPECT_FALSE(t.item(only)->checked) << "a disabled item ignores setCheck";
    t.setCheck(folder, true);
    EXPECT_TRUE(t.item(folder)->checked);
    EXPECT_FALSE(t.getCheck(folder)) << "its only child is disabled";
    EXPECT_FALSE(t.item(only)->checked);
    t.setItemEnabled(only, true);
    EXPECT_EQ(counters(t, folder).disabled, 0);
    EXPECT_EQ(t.stateImage(folder), kStateUnchecked);
}

TEST(CheckTree, DeletingACheckedSubtreeLowersEveryAncestor) {
    SmallTree s;
    s.t.setCheck(s.sub, true); // sub, c, d
    EXPECT_EQ(counters(s.t, s.root).checked, 3);
    s.t.setItemEnabled(s.a, false);
    s.t.deleteItem(s.sub);
    EXPECT_FALSE(s.t.contains(s.c));
    auto f = counters(s.t, s.folder);
    EXPECT_EQ(f.descendants, 2);
    EXPECT_EQ(f.checked, 0);
    EXPECT_EQ(f.disabled, 1);
    auto r = counters(s.t, s.root);
    EXPECT_EQ(r.descendants, 4);
    EXPECT_EQ(r.checked, 0);
    EXPECT_EQ(s.t.children(s.folder), (std::vector<TreeItemId>{s.a, s.b}));
    s.t.deleteItem(s.a);
    EXPECT_EQ(s.t.item(s.b)->row, 0u) << "rows follow a removal";
    EXPECT_EQ(counters(s.t, s.root).disabled, 0);
}

TEST(CheckTree, DeleteAllNeverReusesIds) {
    SmallTree s;
    s.t.deleteAllItems();
    EXPECT_EQ(s.t.itemCount(), 0u);
    EXPECT_FALSE(s.t.item(s.root).has_value());
    auto fresh = s.t.insertItem("new", IconKind::Folder);
    EXPECT_GT(fresh, s.other);
    s.t.setCheck(s.a, true); // stale id: nothing happens
    EXPECT_FALSE(s.t.getCheck(s.a));
}

TEST(CheckTree, TextColourDataAndLabel) {
    CheckTree t;
    auto i = t.insertItem("x", IconKind::ByExtension);
    EXPECT_EQ(t.setItemTextColour(i), kDefaultTextColour);
    EXPECT_EQ(t.item(i)->textColour, kRedTextColour);
    EXPECT_FALSE(t.getItemData(i + 1).has_value());
    t.setItemData(i, 42);
    EXPECT_EQ(t.getItemData(i), 42u);
    t.setItemText(i, "renamed");
    EXPECT_EQ(t.label(i), "renamed");
}

TEST(CheckTree, ExpandNotifiesOnlyOnChangeAndListenersMayInsert) {
    CheckTree t;
    auto folder = t.insertItem("f", IconKind::Folder);
    struct Opener : EventLog {
        CheckTree* tree;
        void itemExpanding(TreeItemId i, bool e) override {
            EventLog::itemExpanding(i, e);
            if (e && tree->childCount(i) == 0) tree->insertItem("child", IconKind::Folder, i);
        }
    } log;
    log.tree = &t;
    t.addListener(&log);
    EXPECT_TRUE(t.expand(folder, ExpandAction::Expand));
    EXPECT_FALSE(t.expand(folder, ExpandAction::Expand));
    EXPECT_TRUE(t.item(folder)->expandedOnce);
    EXPECT_TRUE(t.expand(folder, ExpandAction::Toggle));
    EXPECT_FALSE(t.item(folder)->expanded);
    EXPECT_TRUE(t.item(folder)->expandedOnce);
    t.setCheck(folder, true);
    t.setCheck(folder, true); // unchanged, but still notified
    t.removeListener(&log);
    t.deleteItem(folder);
    EXPECT_EQ(log.events,
              (std::vector<std::string>{"expand 1 open", "insert 2 under 1 at 0", "expand 1 shut",
                                        "check 1 on", "check 1 on"}));
}

TEST(CheckTree, WorkerInsertsWhileAnotherThreadReadsAndChecks) {
    CheckTree t;
    auto root = t.insertItem("ROOT", IconKind::Folder);
    std::atomic<bool> done{false};
    std::thread worker([&] {
        for (int i = 0; i < 5000; ++i) t.insertItem("f" + std::to_string(i), IconKind::ByExtension, root);
        done = true;
    });
    bool on = false;
    while (!done) {
        on = !on;
        t.setCheck(root, on);
        const auto v = t.item(root);
        ASSERT_TRUE(v.has_value());
        ASSERT_LE(v->checkedDescendants, v->descendants);
        t.childAt(root, v->childCount ? v->childCount - 1 : 0);
    }
    worker.join();
    t.setCheck(root, false);
    t.setCheck(root, true);
    EXPECT_EQ(counters(t, root).descendants, 5000);
    EXPECT_EQ(counters(t, root).checked, 5000);
}

TEST(ListHeaderCheck, FollowsTheRows) {
    ListHeaderCheck h;
    EXPECT_EQ(h.image(), kStateUnchecked);
    EXPECT_TRUE(h.headerClicked()) << "empty list: only the image flips";
    EXPECT_EQ(h.image(), kStateChecked);
    h.rowsChanged(3, 2);
    EXPECT_EQ(h.image(), kStateUnchecked);
    h.rowsChanged(3, 3);
    EXPECT_EQ(h.image(), kStateChecked);
    EXPECT_FALSE(h.headerClicked());
    h.rowsChanged(0, 0);
    EXPECT_EQ(h.image(), kStateChecked);
}

TEST(CheckTree, DeletingTheLastUncheckedChildLeavesTheFolderChecked) {
    SmallTree s;
    s.t.setCheck(s.a, true);
    s.t.setCheck(s.b, true);
    s.t.setCheck(s.c, true); // d alone is unchecked: sub, folder and root are not checked
    EXPECT_EQ(counters(s.t, s.root).checked, 3);
    s.t.deleteItem(s.d);
    EXPECT_TRUE(s.t.getCheck(s.sub));
    EXPECT_TRUE(s.t.getCheck(s.folder));
    EXPECT_EQ(counters(s.t, s.root).checked, 5) << "a, b, c, sub and folder";
    s.t.setCheck(s.folder, false);
    EXPECT_EQ(counters(s.t, s.root).checked, 0) << "the counts stay exact after the delete";
}
