#include "browser/EntryWalker.h"

namespace vindaru {

VisitedMarks::VisitedMarks(std::uint64_t limit) : marks_(static_cast<std::size_t>(limit), false) {}

bool VisitedMarks::enter(EntryRef entry) {
    if (entry < marks_.size()) {
        if (marks_[static_cast<std::size_t>(entry)]) return false;
        marks_[static_cast<std::size_t>(entry)] = true;
        return true;
    }
    return others_.insert(entry).second;
}

bool VisitedMarks::seen(EntryRef entry) const {
    if (entry < marks_.size()) return marks_[static_cast<std::size_t>(entry)];
    return others_.count(entry) != 0;
}

bool EntryWalker::isDirectory(EntryRef entry) const {
    return test_ == DirectoryTest::Saving ? view_.isDirectoryForSave(entry, false)
                                          : view_.isDirectory(entry);
}

void EntryWalker::walk(EntryRef start, const VisitFn& visit, const LeaveFn& leave,
                       const StopFn& stop) {
    walkLevel(view_.children(start), start, visit, leave, stop);
}

void EntryWalker::walkLevel(const std::vector<EntryRef>& level, std::optional<EntryRef> owner,
                            const VisitFn& visit, const LeaveFn& leave, const StopFn& stop) {
    struct Frame {
        EntryRef directory;
        std::vector<EntryRef> children;
        std::size_t next = 0;
    };
    VisitedMarks visited(view_.entryLimit());
    if (owner) visited.enter(*owner);
    std::vector<Frame> stack;
    stack.push_back(Frame{owner.value_or(0), level});
    while (!stack.empty()) {
        Frame& top = stack.back();
        if (top.next >= top.children.size()) {
            const EntryRef done = top.directory;
            stack.pop_back();
            if (!stack.empty() && leave) leave(done);
            continue;
        }
        if (stop && stop()) return;
        const EntryRef child = top.children[top.next++];
        Visit v;
        v.entry = child;
        v.depth = stack.size() - 1;
        v.directory = isDirectory(child);
        // The visited mark is only taken when the directory is really entered, so a visitor
        // that declines leaves the entry enterable from elsewhere.
        v.enterable = v.directory && view_.descendWhenSaving(child) && !visited.seen(child);
        if (visit(v) && v.enterable && visited.enter(child))
            stack.push_back(Frame{child, view_.children(child)});
    }
}

} // namespace vindaru
