// The check-box tree model that every scan fills and every page shows: the item records with
// their descendant counters, the check rules (a folder is checked exactly when everything below
// it is), the computed state images, and the notifications a view needs to mirror it.
//
// Threads: a parser's worker thread inserts while the UI thread reads and clicks. One mutex
// guards the items; every public operation takes it for its whole change, so each operation is
// atomic. Items are addressed by ids that are never reused (not even after deleteAllItems), so
// an id carried in a queued signal either names the same item or no item at all; every query
// tolerates ids that are gone. Listener calls are made after the item mutex is released (a
// listener may call back into the tree, e.g. insert children from itemExpanding), in the order
// the changes happened: a second, recursive mutex is held from the change through its
// notifications. A listener must therefore not block waiting for another thread that may be
// changing the tree (queue the work instead, as the Qt adapter does with queued signals).
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace vindaru {

using TreeItemId = std::uint32_t;
// The invisible top of the tree: the parent of top-level items, and "no item" as a result.
inline constexpr TreeItemId kTreeTop = 0;
inline constexpr TreeItemId kNoTreeItem = 0;

// Colours are 0x00BBGGRR values, as the rest of the system writes them.
using TreeColour = std::uint32_t;
inline constexpr TreeColour kDefaultTextColour = 0xFF000000; // "the tree's default"
inline constexpr TreeColour kRedTextColour = 0x0000FF;

// Which icon an item shows; the GUI maps it to the folder icon or the icon for the label's
// extension. Placeholder is image 1, used by the "..DUMY.." child of an unopened folder.
enum class IconKind { Folder, ByExtension, Placeholder };

enum class ExpandAction { Collapse = 1, Expand = 2, Toggle = 3 };

// State images, in the order of the tree's image list.
inline constexpr int kStateUnchecked = 1;
inline constexpr int kStateChecked = 2;
inline constexpr int kStateTristate = 3;
inline constexpr int kStateDisabledOffset = 4;

// The record every item carries.
struct CheckTreeItemFields {
    std::string label;
    IconKind icon = IconKind::ByExtension;
    std::uint64_t data = 0; // the owner's reference to its entry; the tree never reads it
    bool checked = false;
    bool enabled = true;
    std::int32_t descendants = 0;
    std::int32_t checkedDescendants = 0;
    std::int32_t disabledDescendants = 0;
    TreeColour textColour = kDefaultTextColour;
    bool expanded = false;
    bool expandedOnce = false;
};

// A copy of one item as it was at the moment of the query.
struct CheckTreeItemView : CheckTreeItemFields {
    TreeItemId id = kNoTreeItem;
    TreeItemId parent = kTreeTop;
    std::size_t row = 0; // position among the parent's children
    std::size_t childCount = 0;
    int stateImage = kStateUnchecked;
    bool getCheck = false;
};

// Observers of the tree. Every call comes after the change, outside the item mutex, on the
// thread that made the change. Counters of the ancestors (and so their state images) may have
// changed with every insert, delete, check or enable change.
class CheckTreeListener {
public:
    virtual ~CheckTreeListener() = default;
    virtual void itemInserted(TreeItemId /*item*/, TreeItemId /*parent*/, std::size_t /*row*/) {}
    // The item and its subtree are gone; `row` was its position under `parent`.
    virtual void itemRemoved(TreeItemId /*item*/, TreeItemId /*parent*/, std::size_t /*row*/) {}
    virtual void allItemsRemoved() {}
    // Label, colour, item data or enabled state changed.
    virtual void itemChanged(TreeItemId /*item*/) {}
    // After setCheck: the item, its subtree and its ancestors may show new state images.
    virtual void checkChanged(TreeItemId /*item*/, bool /*state*/) {}
    // Sent when expand changes an item's state, before a view expands it: the page inserts a
    // folder's children at this moment.
    virtual void itemExpanding(TreeItemId /*item*/, bool /*expanded*/) {}
};

class CheckTree {
public:
    CheckTree();
    CheckTree(const CheckTree&) = delete;
    CheckTree& operator=(const CheckTree&) = delete;

    void addListener(CheckTreeListener* listener);
    void removeListener(CheckTreeListener* listener);

    // Appends an unchecked, enabled child at the end of `parent`'s children (kTreeTop: a
    // top-level item). Returns kNoTreeItem when the parent is not held.
    TreeItemId insertItem(const std::string& label, IconKind icon, TreeItemId parent = kTreeTop);
    bool setItemData(TreeItemId item, std::uint64_t value);
    std::optional<std::uint64_t> getItemData(TreeItemId item) const;
    void setCheck(TreeItemId item, bool state);
    bool getCheck(TreeItemId item) const;
    // Greys an item's check box (or enables it again); the ancestors count disabled items.
    void setItemEnabled(TreeItemId item, bool enabled);
    int stateImage(TreeItemId item) const; // 0 for an item not held
    // Red text for deleted / not-in-use entries; returns the previous colour.
    TreeColour setItemTextColour(TreeItemId item);
    TreeColour setItemTextColour(TreeItemId item, TreeColour colour);
    bool setItemText(TreeItemId item, const std::string& text);
    void deleteItem(TreeItemId item);
    void deleteAllItems();
    // Returns true when the item's expanded state changed.
    bool expand(TreeItemId item, ExpandAction action);

    // Queries; all tolerate ids that are not (or no longer) held.
    bool contains(TreeItemId item) const;
    std::optional<CheckTreeItemView> item(TreeItemId item) const;
    std::vector<TreeItemId> children(TreeItemId parent) const;
    std::size_t childCount(TreeItemId parent) const;
    TreeItemId childAt(TreeItemId parent, std::size_t row) const;
    TreeItemId parentOf(TreeItemId item) const;
    std::string label(TreeItemId item) const;
    // The item's check box can be used (false for an item not held).
    bool isEnabled(TreeItemId item) const;
    // True for an item inserted with IconKind::Placeholder (whatever its label says).
    bool isPlaceholder(TreeItemId item) const;
    std::size_t itemCount() const;

private:
    struct Record : CheckTreeItemFields {
        TreeItemId parent = kTreeTop;
        std::size_t row = 0;
        std::vector<TreeItemId> children;
    };

    Record* find(TreeItemId id);
    const Record* find(TreeItemId id) const;
    static int computeStateImage(const Record& r);
    static bool computeGetCheck(const Record& r);
    void addToAncestors(TreeItemId parent, std::int32_t d);
    void applyCheckToSubtree(TreeItemId item, bool state);
    std::vector<CheckTreeListener*> listenersCopy() const;
    CheckTreeItemView makeView(TreeItemId id, const Record& r) const;
    // Applies `change` to a held item (not the top) and sends itemChanged; false when not held.
    template <typename Change> bool changeItem(TreeItemId item, Change&& change);

    mutable std::mutex mutex_;
    std::recursive_mutex notifyMutex_;
    std::unordered_map<TreeItemId, Record> items_; // kTreeTop holds the top-level children
    TreeItemId nextId_ = 1;
    bool clearing_ = false;
    std::vector<CheckTreeListener*> listeners_;
};

// The list's header check box: image 1 (unchecked) or 2 (checked). The list view owns the rows;
// this keeps the rule of what the header shows.
class ListHeaderCheck {
public:
    int image() const { return image_; }
    // A click on the first column's header: flips the image and returns the state every row
    // must now take (true = checked). With no rows only the image flips.
    bool headerClicked() {
        image_ = image_ == kStateChecked ? kStateUnchecked : kStateChecked;
        return image_ == kStateChecked;
    }
    // After any row's check changed: checked exactly when every row is (an empty list too).
    void rowsChanged(std::size_t rowCount, std::size_t checkedRows) {
        image_ = checkedRows >= rowCount ? kStateChecked : kStateUnchecked;
    }

private:
    int image_ = kStateUnchecked;
};

} // namespace vindaru
