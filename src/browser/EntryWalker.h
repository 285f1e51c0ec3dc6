// The one depth-first walk over a parser's entries that listing, counting, saving and searching
// share. On-disk links form a graph, not a trusted tree, so the walk enters each directory entry
// once (the NTFS root's own "." record sits among the root's children and would otherwise lead
// back to the root) and keeps its own stack, so a deep chain cannot exhaust the thread's stack.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <unordered_set>
#include <vector>

#include "fs/parser/EntryView.h"

namespace vindaru {

// Marks of the directories a walk has entered; by index below the view's bound.
class VisitedMarks {
public:
    explicit VisitedMarks(std::uint64_t limit);
    // True the first time `entry` is entered.
    bool enter(EntryRef entry);
    bool seen(EntryRef entry) const;

private:
    std::vector<bool> marks_;
    std::unordered_set<EntryRef> others_; // references at or past the bound, if a view has any
};

class EntryWalker {
public:
    enum class DirectoryTest { Listing, Saving };

    struct Visit {
        EntryRef entry = 0;
        std::size_t depth = 0; // 0 for the start's own children
        bool directory = false;
        // The walk will enter this directory if the visitor returns true.
        bool enterable = false;
    };
    // Return true to enter an enterable directory (ignored for others).
    using VisitFn = std::function<bool(const Visit&)>;
    using LeaveFn = std::function<void(EntryRef)>;
    using StopFn = std::function<bool()>;

    EntryWalker(EntryView& view, DirectoryTest test) : view_(view), test_(test) {}

    // Visits the children of `start` in chain order, entering directories depth-first. `leave`
    // is called after an entered directory's children. `stop` is asked before each entry.
    void walk(EntryRef start, const VisitFn& visit, const LeaveFn& leave = {},
              const StopFn& stop = {});

    // The same walk over a given first level (the tree items under the volume item); `owner`
    // is the entry those items belong to, if any, and is never entered again.
    void walkLevel(const std::vector<EntryRef>& level, std::optional<EntryRef> owner,
                   const VisitFn& visit, const LeaveFn& leave = {}, const StopFn& stop = {});

    bool isDirectory(EntryRef entry) const;

private:
    EntryView& view_;
    DirectoryTest test_;
};

} // namespace vindaru
