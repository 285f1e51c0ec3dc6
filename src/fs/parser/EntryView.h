// The one view of any parser's entries: what the scan page, the list, saving, the command line
// and the search need of an entry, whatever file system it came from. Each parser folder has a
// small adapter (NtfsEntryView, ...) that answers from its own entry table; the walks built on
// this view (listing, saving, counting, searching) are written once, in the browser.
//
// An EntryRef is the parser's own reference to an entry (for NTFS the entry's index); it stays
// valid as long as the parser lives. Tree items carry it as their item data.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace vindaru {

using EntryRef = std::uint64_t;

// Receives a file's content in order, piece by piece; returns false to stop (a write failed, or
// the reader has what it wanted).
using ContentSink = std::function<bool(std::span<const std::uint8_t>)>;

// The list's time and attribute columns, as the parser's describe operation writes them.
struct EntryTexts {
    std::string creation;
    std::string access;
    std::string modification;
    std::string attributes;
};

// Unix times for a saved copy and for listings; `known` false when the record has none.
struct EntryTimes {
    bool known = false;
    std::int64_t accessSeconds = 0;
    std::uint32_t accessNanoseconds = 0;
    std::int64_t modificationSeconds = 0;
    std::uint32_t modificationNanoseconds = 0;
};

// The list's "Recoverable" text of a share: "100%", "40%", "0%", rounded down (a file one
// cluster short of whole is not shown as whole); empty when unknown.
inline std::string recoverablePercentText(std::optional<double> share) {
    if (!share) return {};
    const double clamped = *share < 0 ? 0 : *share > 1 ? 1 : *share;
    return std::to_string(static_cast<int>(clamped * 100)) + "%";
}

class EntryView {
public:
    virtual ~EntryView() = default;

    // Lower-case type name as listings print it: ntfs, fat16, fat32, exfat, ext2, hfsplus.
    virtual std::string fileSystemType() const = 0;
    // Every reference is below this bound (walks size their visited marks by it).
    virtual std::uint64_t entryLimit() const = 0;
    // The entry that stands for the volume item (the root directory), if the scan found one.
    virtual std::optional<EntryRef> rootEntry() const = 0;
    // True for a reference that names an entry of this parser that may appear in the tree.
    virtual bool isEntry(EntryRef entry) const = 0;

    virtual std::string label(EntryRef entry) const = 0;
    virtual bool isDirectory(EntryRef entry) const = 0;
    // Drawn red in the tree and list: deleted, or not in use.
    virtual bool isDeleted(EntryRef entry) const = 0;
    virtual bool hasChildren(EntryRef entry) const = 0;
    // The children in chain order; a chain that loops back is cut where it repeats.
    virtual std::vector<EntryRef> children(EntryRef entry) const = 0;
    // What the tree shows right under the volume item: the root's children, unless the file
    // system shows more there (a folder of what no folder claims when the root is lost).
    virtual std::vector<EntryRef> topLevel() const {
        const std::optional<EntryRef> root = rootEntry();
        return root ? children(*root) : std::vector<EntryRef>{};
    }

    virtual EntryTexts describe(EntryRef entry) = 0;
    virtual std::string sizeText(EntryRef entry) = 0;
    virtual std::uint64_t byteSize(EntryRef entry) = 0;
    virtual EntryTimes times(EntryRef entry) = 0;
    // Hands the entry's content to `sink` in order. False when the content could not be read
    // whole or the sink stopped it; what was handed over stays handed over.
    virtual bool writeContent(EntryRef entry, const ContentSink& sink) = 0;

    // Gives the entry a new name (the recycle bin's former names). False when the parser
    // cannot rename entries.
    virtual bool rename(EntryRef entry, const std::string& name) {
        (void)entry;
        (void)name;
        return false;
    }

    // True for a folder the parser made up to hold what it found (ORPHAN_ENTRY, DUMMY ENTRY),
    // as opposed to a folder on disk; command-line paths mark these so that a real folder of
    // the same name stays apart.
    virtual bool isPlaceholder(EntryRef entry) const {
        (void)entry;
        return false;
    }

    // True when the entry's folder was chosen by where its record lay on disk, not named by the
    // record itself (deep scans of damaged volumes): listings and save reports mark the path.
    virtual bool isPathGuessed(EntryRef entry) const {
        (void)entry;
        return false;
    }

    // How intact a file is: the share (0 to 1) of the clusters or blocks its content needs that
    // no live file uses now, by the volume's allocation bitmap or FAT. 1 for a file in use;
    // nullopt for a directory, or when the file system cannot tell (computed when asked, so a
    // scan pays nothing for it).
    virtual std::optional<double> recoverableShare(EntryRef entry) {
        (void)entry;
        return std::nullopt;
    }

    // Saving rules that differ between file systems.
    // The directory test of a folder save; `selected` for the item the user chose.
    virtual bool isDirectoryForSave(EntryRef entry, bool selected) const {
        (void)selected;
        return isDirectory(entry);
    }
    // False for an entry whose subtree a walk must not enter (NTFS: ".", the root itself).
    virtual bool descendWhenSaving(EntryRef entry) const {
        (void)entry;
        return true;
    }
    // True for a file a folder save passes over (NTFS: "$BadClus").
    virtual bool skipWhenSaving(EntryRef entry) const {
        (void)entry;
        return false;
    }
};

} // namespace vindaru
