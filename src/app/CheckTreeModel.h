// The check-box tree on screen: a QAbstractItemModel over a CheckTree.
//
// Parsers fill the CheckTree from a worker thread while the view reads it on the UI thread. The
// model keeps its own copy of the tree's shape (which items it has announced, under which
// parent, at which row) and changes that copy only on the UI thread, replaying the tree's
// notifications in the order they happened: every notification, from any thread, is queued.
// Labels, check states, colours come from the tree itself at the time they are drawn.
//
// Notifications are gathered and replayed in batches of bounded size, at most one queued call at
// a time: a run
// of children appended to one folder becomes one row insertion (a folder of 100,000 files
// inserted row by row would cost the view a relayout per row), and the check and label changes
// of a batch are drawn once each.
#pragma once

#include <QAbstractItemModel>
#include <deque>
#include <mutex>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "app/IconLookup.h"
#include "common/CheckTree.h"

namespace vindaru::app {

class CheckTreeModel : public QAbstractItemModel, private CheckTreeListener {
    Q_OBJECT
  public:
    explicit CheckTreeModel(CheckTree& tree, QObject* parent = nullptr);
    ~CheckTreeModel() override;

    QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    bool hasChildren(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    TreeItemId itemAt(const QModelIndex& index) const;
    QModelIndex indexOf(TreeItemId item) const;
    CheckTree& tree() const { return tree_; }
    IconLookup& icons() { return icons_; }

  signals:
    // A check box changed by the user (after the tree applied it).
    void checkToggled(vindaru::TreeItemId item, bool state);

  private:
    struct Node {
        TreeItemId parent = kTreeTop;
        int row = 0;
        std::vector<TreeItemId> children;
        // The item's check box can be used: the view asks every item's flags at each layout,
        // a million times for a folder of a million files, so it is kept here, not asked of
        // the tree.
        bool checkable = true;
    };

    // CheckTreeListener, on any thread: queue the change for the UI thread.
    void itemInserted(TreeItemId item, TreeItemId parent, std::size_t row) override;
    void itemRemoved(TreeItemId item, TreeItemId parent, std::size_t row) override;
    void allItemsRemoved() override;
    void itemChanged(TreeItemId item) override;
    void checkChanged(TreeItemId item, bool state) override;

    struct Pending {
        enum class Kind { Insert, Remove, Reset, Changed, Check } kind;
        TreeItemId item = kNoTreeItem;
        TreeItemId parent = kTreeTop;
        int row = 0;
    };
    void enqueue(const Pending& change);
    void flush();
    // ops[from, to) are inserts under one parent at consecutive rows.
    void applyInsertRun(const std::vector<Pending>& ops, std::size_t from, std::size_t to);
    void applyInsert(TreeItemId item, TreeItemId parent, int row);
    void applyRemove(TreeItemId item, TreeItemId parent, int row);
    void applyReset();
    void applyChanged(TreeItemId item);
    void applyCheckChanged(TreeItemId item);
    // Redraws the check boxes of `items` with everything loaded below them, and of
    // `itemsAlone` without what is below; the ancestors of both, once each.
    void applyCheckChanges(const std::unordered_set<TreeItemId>& items,
                           const std::unordered_set<TreeItemId>& itemsAlone = {});
    void forgetSubtree(TreeItemId item);
    void renumber(Node& parent, int from);
    void announceSubtree(TreeItemId item);

    CheckTree& tree_;
    IconLookup icons_;
    std::unordered_map<TreeItemId, Node> nodes_; // kTreeTop holds the top-level items
    std::mutex pendingMutex_;
    std::deque<Pending> pending_;
    bool flushScheduled_ = false;
};

} // namespace vindaru::app
