#include "common/CheckTree.h"

#include <algorithm>

namespace vindaru {

namespace {

std::int32_t notBelowZero(std::int64_t v) {
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(v, 0, INT32_MAX));
}

} // namespace

CheckTree::CheckTree() { items_.emplace(kTreeTop, Record{}); }

void CheckTree::addListener(CheckTreeListener* listener) {
    std::lock_guard lock(mutex_);
    if (listener && std::find(listeners_.begin(), listeners_.end(), listener) == listeners_.end())
        listeners_.push_back(listener);
}

void CheckTree::removeListener(CheckTreeListener* listener) {
    std::lock_guard notify(notifyMutex_); // not while a notification to it is under way
    std::lock_guard lock(mutex_);
    std::erase(listeners_, listener);
}

std::vector<CheckTreeListener*> CheckTree::listenersCopy() const { return listeners_; }

template <typename Change> bool CheckTree::changeItem(TreeItemId item, Change&& change) {
    std::lock_guard notify(notifyMutex_);
    std::vector<CheckTreeListener*> listeners;
    {
        std::lock_guard lock(mutex_);
        Record* r = item == kTreeTop ? nullptr : find(item);
        if (!r) return false;
        change(*r);
        listeners = listenersCopy();
    }
    for (auto* l : listeners) l->itemChanged(item);
    return true;
}

CheckTree::Record* CheckTree::find(TreeItemId id) {
    auto it = items_.find(id);
    return it == items_.end() ? nullptr : &it->second;
}

const CheckTree::Record* CheckTree::find(TreeItemId id) const {
    auto it = items_.find(id);
    return it == items_.end() ? nullptr : &it->second;
}

int CheckTree::computeStateImage(const Record& r) {
    int image;
    if (r.descendants > 0) {
        if (r.checkedDescendants == 0)
            image = kStateUnchecked;
        else if (r.checkedDescendants == r.descendants - r.disabledDescendants)
            image = kStateChecked;
        else
            image = kStateTristate;
    } else {
        image = r.checked ? kStateChecked : kStateUnchecked;
    }
    return r.enabled ? image : image + kStateDisabledOffset;
}

bool CheckTree::computeGetCheck(const Record& r) {
    if (r.descendants > 0)
        return r.checkedDescendants == r.descendants - r.disabledDescendants &&
               r.checkedDescendants > 0;
    return r.checked;
}

// The ancestor walk of a check change: each ancestor takes the delta, recomputes its own flag,
// and a flag that flipped adds (or removes) the ancestor itself for the levels above.
void CheckTree::addToAncestors(TreeItemId parent, std::int32_t d) {
    std::int64_t delta = d;
    for (TreeItemId id = parent; id != kTreeTop;) {
        Record* r = find(id);
        if (!r) break;
        r->checkedDescendants = notBelowZero(std::int64_t{r->checkedDescendants} + delta);
        const bool was = r->checked;
        r->checked = r->checkedDescendants == r->descendants - r->disabledDescendants;
        if (r->checked != was) delta += r->checked ? 1 : -1;
        id = r->parent;
    }
}

TreeItemId CheckTree::insertItem(const std::string& label, IconKind icon, TreeItemId parent) {
    std::lock_guard notify(notifyMutex_);
    TreeItemId id;
    std::size_t row;
    std::vector<CheckTreeListener*> listeners;
    {
        std::lock_guard lock(mutex_);
        Record* p = find(parent);
        if (!p || nextId_ == kNoTreeItem) return kNoTreeItem;
        id = nextId_++;
        row = p->children.size();
        p->children.push_back(id);
        Record r;
        r.parent = parent;
        r.row = row;
        r.label = label;
        r.icon = icon;
        items_.emplace(id, std::move(r));
        for (TreeItemId a = parent; a != kTreeTop;) {
            Record* ar = find(a);
            if (!ar) break;
            ++ar->descendants;
            a = ar->parent;
        }
        // As for a check change of the new, unchecked item: a delta of 0, but a checked folder
        // that gains an unchecked child is no longer checked.
        addToAncestors(parent, 0);
        listeners = listenersCopy();
    }
    for (auto* l : listeners) l->itemInserted(id, parent, row);
    return id;
}

bool CheckTree::setItemData(TreeItemId item, std::uint64_t value) {
    return changeItem(item, [&](Record& r) { r.data = value; });
}

std::optional<std::uint64_t> CheckTree::getItemData(TreeItemId item) const {
    std::lock_guard lock(mutex_);
    const Record* r = item == kTreeTop ? nullptr : find(item);
    if (!r) return std::nullopt;
    return r->data;
}

void CheckTree::applyCheckToSubtree(TreeItemId item, bool state) {
    // Iterative: a tree built from a hostile volume may be as deep as it has entries.
    std::vector<TreeItemId> stack{item};
    while (!stack.empty()) {
        const TreeItemId id = stack.back();
        stack.pop_back();
        Record* r = find(id);
        if (!r) continue;
        if (r->enabled) {
            r->checked = state;
            r->checkedDescendants =
                state ? notBelowZero(std::int64_t{r->descendants} - r->disabledDescendants) : 0;
        }
        for (auto it = r->children.rbegin(); it != r->children.rend(); ++it) stack.push_back(*it);
    }
}

void CheckTree::setCheck(TreeItemId item, bool state) {
    std::lock_guard notify(notifyMutex_);
    std::vector<CheckTreeListener*> listeners;
    {
        std::lock_guard lock(mutex_);
        Record* r = item == kTreeTop ? nullptr : find(item);
        if (!r || clearing_ || !r->enabled) return;
        const bool old = r->checked;
        const std::int64_t d = state ? std::int64_t{r->descendants} - r->checkedDescendants + 1
                                     : -(std::int64_t{r->checkedDescendants} + 1);
        r->checked = state;
        if (old != state) {
            const TreeItemId parent = r->parent;
            applyCheckToSubtree(item, state);
            addToAncestors(parent, static_cast<std::int32_t>(std::clamp<std::int64_t>(
                                       d, -INT32_MAX, INT32_MAX)));
        }
        listeners = listenersCopy();
    }
    for (auto* l : listeners) l->checkChanged(item, state);
}

bool CheckTree::getCheck(TreeItemId item) const {
    std::lock_guard lock(mutex_);
    const Record* r = item == kTreeTop ? nullptr : find(item);
    return r && computeGetCheck(*r);
}

void CheckTree::setItemEnabled(TreeItemId item, bool enabled) {
    std::lock_guard notify(notifyMutex_);
    std::vector<CheckTreeListener*> listeners;
    {
        std::lock_guard lock(mutex_);
        Record* r = item == kTreeTop ? nullptr : find(item);
        if (!r || r->enabled == enabled) return;
        r->enabled = enabled;
        const std::int32_t d = enabled ? -1 : 1;
        for (TreeItemId a = r->parent; a != kTreeTop;) {
            Record* ar = find(a);
            if (!ar) break;
            ar->disabledDescendants = notBelowZero(std::int64_t{ar->disabledDescendants} + d);
            a = ar->parent;
        }
        listeners = listenersCopy();
    }
    for (auto* l : listeners) l->itemChanged(item);
}

bool CheckTree::isEnabled(TreeItemId item) const {
    std::lock_guard lock(mutex_);
    const Record* r = item == kTreeTop ? nullptr : find(item);
    return r && r->enabled;
}

int CheckTree::stateImage(TreeItemId item) const {
    std::lock_guard lock(mutex_);
    const Record* r = item == kTreeTop ? nullptr : find(item);
    return r ? computeStateImage(*r) : 0;
}

TreeColour CheckTree::setItemTextColour(TreeItemId item) {
    return setItemTextColour(item, kRedTextColour);
}

TreeColour CheckTree::setItemTextColour(TreeItemId item, TreeColour colour) {
    TreeColour previous = kDefaultTextColour;
    changeItem(item, [&](Record& r) {
        previous = r.textColour;
        r.textColour = colour;
    });
    return previous;
}

bool CheckTree::setItemText(TreeItemId item, const std::string& text) {
    return changeItem(item, [&](Record& r) { r.label = text; });
}

void CheckTree::deleteItem(TreeItemId item) {
    std::lock_guard notify(notifyMutex_);
    TreeItemId parent;
    std::size_t row;
    std::vector<CheckTreeListener*> listeners;
    {
        std::lock_guard lock(mutex_);
        Record* r = item == kTreeTop ? nullptr : find(item);
        if (!r) return;
        parent = r->parent;
        row = r->row;
        const std::int32_t removed = r->descendants + 1;
        std::int64_t checkedRemoved = 0;
        std::int64_t disabledRemoved = 0;
        std::vector<TreeItemId> stack{item};
        while (!stack.empty()) {
            const TreeItemId id = stack.back();
            stack.pop_back();
            auto it = items_.find(id);
            if (it == items_.end()) continue;
            checkedRemoved += it->second.checked ? 1 : 0;
            disabledRemoved += it->second.enabled ? 0 : 1;
            stack.insert(stack.end(), it->second.children.begin(), it->second.children.end());
            items_.erase(it);
        }
        // Each ancestor loses the removed items; one that now has only checked items below it
        // becomes checked (and one that has nothing left keeps its own flag), and such a flip
        // counts for the ancestors above it, as in the check walk.
        std::int64_t delta = -checkedRemoved;
        for (TreeItemId a = parent; a != kTreeTop;) {
            Record* ar = find(a);
            if (!ar) break;
            ar->descendants = notBelowZero(std::int64_t{ar->descendants} - removed);
            ar->checkedDescendants = notBelowZero(ar->checkedDescendants + delta);
            ar->disabledDescendants = notBelowZero(ar->disabledDescendants - disabledRemoved);
            if (ar->descendants > 0) {
                const bool was = ar->checked;
                ar->checked = ar->checkedDescendants == ar->descendants - ar->disabledDescendants;
                if (ar->checked != was) delta += ar->checked ? 1 : -1;
            }
            a = ar->parent;
        }
        if (Record* p = find(parent)) {
            auto& siblings = p->children;
            if (row < siblings.size() && siblings[row] == item) {
                siblings.erase(siblings.begin() + static_cast<std::ptrdiff_t>(row));
                for (std::size_t i = row; i < siblings.size(); ++i)
                    if (Record* s = find(siblings[i])) s->row = i;
            }
        }
        listeners = listenersCopy();
    }
    for (auto* l : listeners) l->itemRemoved(item, parent, row);
}

void CheckTree::deleteAllItems() {
    std::lock_guard notify(notifyMutex_);
    std::vector<CheckTreeListener*> listeners;
    {
        std::lock_guard lock(mutex_);
        clearing_ = true;
        items_.clear();
        items_.emplace(kTreeTop, Record{});
        clearing_ = false;
        listeners = listenersCopy();
    }
    for (auto* l : listeners) l->allItemsRemoved();
}

bool CheckTree::expand(TreeItemId item, ExpandAction action) {
    std::lock_guard notify(notifyMutex_);
    bool expanded;
    std::vector<CheckTreeListener*> listeners;
    {
        std::lock_guard lock(mutex_);
        Record* r = item == kTreeTop ? nullptr : find(item);
        if (!r) return false;
        switch (action) {
        case ExpandAction::Collapse: expanded = false; break;
        case ExpandAction::Expand: expanded = true; break;
        default: expanded = !r->expanded; break;
        }
        if (expanded == r->expanded) return false;
        r->expanded = expanded;
        if (expanded) r->expandedOnce = true;
        listeners = listenersCopy();
    }
    for (auto* l : listeners) l->itemExpanding(item, expanded);
    return true;
}

bool CheckTree::contains(TreeItemId item) const {
    std::lock_guard lock(mutex_);
    return item != kTreeTop && find(item) != nullptr;
}

CheckTreeItemView CheckTree::makeView(TreeItemId id, const Record& r) const {
    CheckTreeItemView v;
    static_cast<CheckTreeItemFields&>(v) = r;
    v.id = id;
    v.parent = r.parent;
    v.row = r.row;
    v.childCount = r.children.size();
    v.stateImage = computeStateImage(r);
    v.getCheck = computeGetCheck(r);
    return v;
}

std::optional<CheckTreeItemView> CheckTree::item(TreeItemId item) const {
    std::lock_guard lock(mutex_);
    const Record* r = item == kTreeTop ? nullptr : find(item);
    if (!r) return std::nullopt;
    return makeView(item, *r);
}

std::vector<TreeItemId> CheckTree::children(TreeItemId parent) const {
    std::lock_guard lock(mutex_);
    const Record* r = find(parent);
    return r ? r->children : std::vector<TreeItemId>{};
}

std::size_t CheckTree::childCount(TreeItemId parent) const {
    std::lock_guard lock(mutex_);
    const Record* r = find(parent);
    return r ? r->children.size() : 0;
}

TreeItemId CheckTree::childAt(TreeItemId parent, std::size_t row) const {
    std::lock_guard lock(mutex_);
    const Record* r = find(parent);
    return r && row < r->children.size() ? r->children[row] : kNoTreeItem;
}

TreeItemId CheckTree::parentOf(TreeItemId item) const {
    std::lock_guard lock(mutex_);
    const Record* r = item == kTreeTop ? nullptr : find(item);
    return r ? r->parent : kTreeTop;
}

std::string CheckTree::label(TreeItemId item) const {
    std::lock_guard lock(mutex_);
    const Record* r = item == kTreeTop ? nullptr : find(item);
    return r ? r->label : std::string{};
}

bool CheckTree::isPlaceholder(TreeItemId item) const {
    std::lock_guard lock(mutex_);
    const Record* r = item == kTreeTop ? nullptr : find(item);
    return r && r->icon == IconKind::Placeholder;
}

std::size_t CheckTree::itemCount() const {
    std::lock_guard lock(mutex_);
    return items_.size() - 1;
}

} // namespace vindaru
