// Random sequences of tree operations: the counters must always match the tree they count.
// Every operation is followed by a walk of the whole tree, so a sequence is kept to 128
// operations: longer ones cost the square of their length and reach nothing new.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "common/CheckTree.h"

using namespace vindaru;

namespace {

constexpr std::size_t kMaxOperations = 128;

struct Count {
    std::int32_t all = 0, checked = 0, disabled = 0;
};

Count verify(const CheckTree& tree, TreeItemId id, bool countsExact) {
    Count below;
    for (TreeItemId child : tree.children(id)) {
        const Count c = verify(tree, child, countsExact);
        const auto v = tree.item(child);
        below.all += c.all + 1;
        below.checked += c.checked + (v->checked ? 1 : 0);
        below.disabled += c.disabled + (v->enabled ? 0 : 1);
    }
    if (id != kTreeTop) {
        const auto v = tree.item(id);
        if (v->descendants != below.all || v->disabledDescendants != below.disabled) std::abort();
        if (countsExact && v->checkedDescendants != below.checked) std::abort();
        if (v->stateImage < 1 || v->stateImage > 7) std::abort();
    }
    return below;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    CheckTree tree;
    std::vector<TreeItemId> ids;
    bool everDisabled = false; // the check walks' deltas are exact only without disabled items
    for (std::size_t i = 0; i + 1 < size && i < 2 * kMaxOperations; i += 2) {
        const std::uint8_t op = data[i] % 8;
        const std::uint8_t arg = data[i + 1];
        const TreeItemId target = ids.empty() ? kTreeTop : ids[arg % ids.size()];
        switch (op) {
        case 0:
        case 1: ids.push_back(tree.insertItem("x", IconKind::Folder, arg & 1 ? target : kTreeTop)); break;
        case 2: tree.setCheck(target, true); break;
        case 3: tree.setCheck(target, false); break;
        case 4:
            tree.setItemEnabled(target, arg & 2);
            everDisabled = everDisabled || !(arg & 2);
            break;
        case 5: tree.deleteItem(target); break;
        case 6: tree.expand(target, static_cast<ExpandAction>(1 + arg % 3)); break;
        default:
            if (arg == 0xFF) tree.deleteAllItems();
            break;
        }
        verify(tree, kTreeTop, !everDisabled);
    }
    return 0;
}
