#include "app/CheckTreeModel.h"

#include <QBrush>
#include <QColor>
#include <QTimer>
#include <algorithm>
#include <iterator>

namespace vindaru::app {

namespace {
QColor colourOf(TreeColour bgr) {
    return QColor(static_cast<int>(bgr & 0xFF), static_cast<int>((bgr >> 8) & 0xFF),
                  static_cast<int>((bgr >> 16) & 0xFF));
}
} // namespace

CheckTreeModel::CheckTreeModel(CheckTree& tree, QObject* parent)
    : QAbstractItemModel(parent), tree_(tree) {
    nodes_.emplace(kTreeTop, Node{});
    tree_.addListener(this);
    // Items the tree held before we listened; later queued inserts of them are ignored.
    announceSubtree(kTreeTop);
}

CheckTreeModel::~CheckTreeModel() {
    tree_.removeListener(this);
}

void CheckTreeModel::announceSubtree(TreeItemId parent) {
    for (TreeItemId child : tree_.children(parent)) {
        if (nodes_.count(child)) continue;
        Node& p = nodes_[parent];
        nodes_[child] = Node{parent, static_cast<int>(p.children.size()), {}, tree_.isEnabled(child)};
        p.children.push_back(child);
        announceSubtree(child);
    }
}

// ---- listener side: any thread, queued in order ----

void CheckTreeModel::enqueue(const Pending& change) {
    bool schedule = false;
    {
        std::lock_guard lock(pendingMutex_);
        pending_.push_back(change);
        schedule = !flushScheduled_;
        flushScheduled_ = true;
    }
    if (schedule)
        QMetaObject::invokeMethod(
            this, [this] { flush(); }, Qt::QueuedConnection);
}

void CheckTreeModel::itemInserted(TreeItemId item, TreeItemId parent, std::size_t row) {
    enqueue({Pending::Kind::Insert, item, parent, static_cast<int>(row)});
}

void CheckTreeModel::itemRemoved(TreeItemId item, TreeItemId parent, std::size_t row) {
    enqueue({Pending::Kind::Remove, item, parent, static_cast<int>(row)});
}

void CheckTreeModel::allItemsRemoved() {
    enqueue({Pending::Kind::Reset});
}

void CheckTreeModel::itemChanged(TreeItemId item) {
    enqueue({Pending::Kind::Changed, item});
}

void CheckTreeModel::checkChanged(TreeItemId item, bool) {
    enqueue({Pending::Kind::Check, item});
}

void CheckTreeModel::flush() {
    // A bounded share at a time: a folder of a million items comes as millions of changes, and
    // the window answers between shares.
    constexpr std::size_t kShare = 60000;
    std::vector<Pending> ops;
    bool more = false;
    {
        std::lock_guard lock(pendingMutex_);
        const std::size_t n = std::min(pending_.size(), kShare);
        ops.assign(std::make_move_iterator(pending_.begin()),
                   std::make_move_iterator(pending_.begin() + static_cast<std::ptrdiff_t>(n)));
        pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(n));
        more = !pending_.empty();
        flushScheduled_ = more;
    }
    // After a timer's turn (not as a posted call, which would run before any timer or input).
    if (more) QTimer::singleShot(1, this, [this] { flush(); });
    // The shape changes in order; labels and checks are read from the tree when drawn, so they
    // are redrawn once, after the shape (an item gone by then is skipped).
    std::unordered_set<TreeItemId> changed;
    std::unordered_set<TreeItemId> checks;
    // Parents that gained children: only their own boxes (and their ancestors') may show
    // another state; their other children are as they were.
    std::unordered_set<TreeItemId> counted;
    for (std::size_t i = 0; i < ops.size();) {
        const Pending& op = ops[i];
        switch (op.kind) {
        case Pending::Kind::Insert: {
            // The run of appends to this parent. Label and check changes between them are
            // drawn at the end anyway, and a placeholder put under an item of the run goes in
            // after the run.
            std::vector<Pending> run{op};
            std::vector<Pending> below;
            std::unordered_set<TreeItemId> inRun{op.item};
            std::size_t end = i + 1;
            for (; end < ops.size(); ++end) {
                const Pending& next = ops[end];
                if (next.kind == Pending::Kind::Changed) {
                    changed.insert(next.item);
                } else if (next.kind == Pending::Kind::Check) {
                    checks.insert(next.item);
                } else if (next.kind == Pending::Kind::Insert && next.parent == op.parent &&
                           next.row == run.back().row + 1) {
                    run.push_back(next);
                    inRun.insert(next.item);
                } else if (next.kind == Pending::Kind::Insert && inRun.count(next.parent)) {
                    below.push_back(next);
                } else {
                    break;
                }
            }
            applyInsertRun(run, 0, run.size());
            for (const Pending& child : below)
                applyInsert(child.item, child.parent, child.row);
            if (op.parent != kTreeTop) counted.insert(op.parent);
            i = end;
            continue;
        }
        case Pending::Kind::Remove:
            applyRemove(op.item, op.parent, op.row);
            break;
        case Pending::Kind::Reset:
            applyReset();
            changed.clear();
            checks.clear();
            counted.clear();
            break;
        case Pending::Kind::Changed:
            changed.insert(op.item);
            break;
        case Pending::Kind::Check:
            checks.insert(op.item);
            break;
        }
        ++i;
    }
    for (TreeItemId item : changed)
        applyChanged(item);
    applyCheckChanges(checks, counted);
}

// ---- UI side ----

void CheckTreeModel::renumber(Node& parent, int from) {
    for (int i = from; i < static_cast<int>(parent.children.size()); ++i)
        nodes_[parent.children[static_cast<std::size_t>(i)]].row = i;
}

void CheckTreeModel::applyInsertRun(const std::vector<Pending>& ops, std::size_t from,
                                    std::size_t to) {
    const TreeItemId parent = ops[from].parent;
    auto p = nodes_.find(parent);
    const int first = ops[from].row;
    bool whole = p != nodes_.end() && first >= 0 &&
                 first <= static_cast<int>(p->second.children.size());
    for (std::size_t i = from; whole && i < to; ++i)
        whole = !nodes_.count(ops[i].item);
    if (!whole) {
        // Items announced before, or rows out of step: one at a time, as they came.
        for (std::size_t i = from; i < to; ++i)
            applyInsert(ops[i].item, parent, ops[i].row);
        return;
    }
    const int count = static_cast<int>(to - from);
    beginInsertRows(indexOf(parent), first, first + count - 1);
    Node& node = nodes_.find(parent)->second;
    std::vector<TreeItemId> added;
    added.reserve(to - from);
    for (std::size_t i = from; i < to; ++i)
        added.push_back(ops[i].item);
    node.children.insert(node.children.begin() + first, added.begin(), added.end());
    for (int k = 0; k < count; ++k)
        nodes_[added[static_cast<std::size_t>(k)]] =
            Node{parent, first + k, {}, tree_.isEnabled(added[static_cast<std::size_t>(k)])};
    renumber(nodes_.find(parent)->second, first + count);
    endInsertRows();
}

void CheckTreeModel::applyInsert(TreeItemId item, TreeItemId parent, int row) {
    if (nodes_.count(item)) return;
    auto p = nodes_.find(parent);
    if (p == nodes_.end()) return;
    row = std::clamp(row, 0, static_cast<int>(p->second.children.size()));
    const QModelIndex parentIndex = indexOf(parent);
    beginInsertRows(parentIndex, row, row);
    Node& node = nodes_.find(parent)->second;
    node.children.insert(node.children.begin() + row, item);
    nodes_[item] = Node{parent, row, {}, tree_.isEnabled(item)};
    renumber(nodes_.find(parent)->second, row + 1);
    endInsertRows();
    // The parent's counters changed: its check box may now show another state.
    if (parent != kTreeTop) applyCheckChanged(parent);
}

void CheckTreeModel::forgetSubtree(TreeItemId item) {
    auto it = nodes_.find(item);
    if (it == nodes_.end()) return;
    const std::vector<TreeItemId> children = it->second.children;
    for (TreeItemId child : children)
        forgetSubtree(child);
    nodes_.erase(item);
}

void CheckTreeModel::applyRemove(TreeItemId item, TreeItemId, int) {
    auto it = nodes_.find(item);
    if (it == nodes_.end()) return;
    const TreeItemId parent = it->second.parent;
    const int row = it->second.row;
    beginRemoveRows(indexOf(parent), row, row);
    Node& p = nodes_[parent];
    p.children.erase(p.children.begin() + row);
    renumber(p, row);
    forgetSubtree(item);
    endRemoveRows();
    if (parent != kTreeTop) applyCheckChanged(parent);
}

void CheckTreeModel::applyReset() {
    beginResetModel();
    nodes_.clear();
    nodes_.emplace(kTreeTop, Node{});
    endResetModel();
}

void CheckTreeModel::applyChanged(TreeItemId item) {
    if (auto it = nodes_.find(item); it != nodes_.end()) it->second.checkable = tree_.isEnabled(item);
    const QModelIndex index = indexOf(item);
    if (index.isValid()) emit dataChanged(index, index);
}

void CheckTreeModel::applyCheckChanges(const std::unordered_set<TreeItemId>& items,
                                       const std::unordered_set<TreeItemId>& itemsAlone) {
    std::unordered_set<TreeItemId> ancestorsDrawn;
    const auto drawWithAncestors = [&](TreeItemId item) {
        for (TreeItemId id = item; id != kTreeTop && ancestorsDrawn.insert(id).second;) {
            auto it = nodes_.find(id);
            if (it == nodes_.end()) break;
            const QModelIndex at = indexOf(id);
            emit dataChanged(at, at, {Qt::CheckStateRole});
            id = it->second.parent;
        }
    };
    for (TreeItemId item : items) {
        // The loaded subtree below the item, a parent's children in one range.
        std::vector<TreeItemId> pending{item};
        while (!pending.empty()) {
            const TreeItemId id = pending.back();
            pending.pop_back();
            auto it = nodes_.find(id);
            if (it == nodes_.end() || it->second.children.empty()) continue;
            const QModelIndex parentIndex = indexOf(id);
            const int last = static_cast<int>(it->second.children.size()) - 1;
            emit dataChanged(index(0, 0, parentIndex), index(last, 0, parentIndex),
                             {Qt::CheckStateRole});
            pending.insert(pending.end(), it->second.children.begin(), it->second.children.end());
        }
        drawWithAncestors(item);
    }
    for (TreeItemId item : itemsAlone)
        drawWithAncestors(item);
}

void CheckTreeModel::applyCheckChanged(TreeItemId item) {
    applyCheckChanges({item});
}

TreeItemId CheckTreeModel::itemAt(const QModelIndex& index) const {
    return index.isValid() ? static_cast<TreeItemId>(index.internalId()) : kTreeTop;
}

QModelIndex CheckTreeModel::indexOf(TreeItemId item) const {
    if (item == kTreeTop) return {};
    auto it = nodes_.find(item);
    if (it == nodes_.end()) return {};
    return createIndex(it->second.row, 0, static_cast<quintptr>(item));
}

QModelIndex CheckTreeModel::index(int row, int column, const QModelIndex& parent) const {
    if (column != 0 || row < 0) return {};
    auto it = nodes_.find(itemAt(parent));
    if (it == nodes_.end() || row >= static_cast<int>(it->second.children.size())) return {};
    return createIndex(row, 0,
                       static_cast<quintptr>(it->second.children[static_cast<std::size_t>(row)]));
}

QModelIndex CheckTreeModel::parent(const QModelIndex& child) const {
    if (!child.isValid()) return {};
    auto it = nodes_.find(itemAt(child));
    if (it == nodes_.end()) return {};
    return indexOf(it->second.parent);
}

int CheckTreeModel::rowCount(const QModelIndex& parent) const {
    if (parent.column() > 0) return 0;
    auto it = nodes_.find(itemAt(parent));
    return it == nodes_.end() ? 0 : static_cast<int>(it->second.children.size());
}

int CheckTreeModel::columnCount(const QModelIndex&) const {
    return 1;
}

bool CheckTreeModel::hasChildren(const QModelIndex& parent) const {
    return rowCount(parent) > 0;
}

QVariant CheckTreeModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid()) return {};
    const auto view = tree_.item(itemAt(index));
    if (!view) return {};
    switch (role) {
    case Qt::DisplayRole:
    case Qt::ToolTipRole:
        return QString::fromStdString(view->label);
    case Qt::DecorationRole:
        return const_cast<IconLookup&>(icons_).icon(view->icon,
                                                    QString::fromStdString(view->label));
    case Qt::ForegroundRole:
        if (view->textColour == kDefaultTextColour) return {};
        return QBrush(colourOf(view->textColour));
    case Qt::CheckStateRole: {
        const int image = view->stateImage > kStateDisabledOffset
                              ? view->stateImage - kStateDisabledOffset
                              : view->stateImage;
        if (image == kStateChecked) return Qt::Checked;
        if (image == kStateTristate) return Qt::PartiallyChecked;
        return Qt::Unchecked;
    }
    default:
        return {};
    }
}

bool CheckTreeModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (!index.isValid() || role != Qt::CheckStateRole) return false;
    const TreeItemId item = itemAt(index);
    const bool state = value.toInt() != Qt::Unchecked;
    tree_.setCheck(item, state);
    emit checkToggled(item, state);
    return true;
}

Qt::ItemFlags CheckTreeModel::flags(const QModelIndex& index) const {
    if (!index.isValid()) return Qt::NoItemFlags;
    Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    const auto it = nodes_.find(itemAt(index));
    if (it != nodes_.end() && it->second.checkable) f |= Qt::ItemIsUserCheckable;
    return f;
}

} // namespace vindaru::app
