#include "browser/RecycleBinNames.h"

#include <vector>

#include "common/ByteLoader.h"
#include "common/TextConvert.h"

namespace vindaru {

namespace {

constexpr std::size_t kVersionOffset = 0;
constexpr std::size_t kPathOffsetV1 = 24;
constexpr std::size_t kPathOffsetV2 = 28; // after the 4-byte path length
constexpr std::uint64_t kLayoutV2 = 2;

std::string trimTrailingSpace(std::string text) {
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.pop_back();
    return text;
}

} // namespace

std::optional<std::string> recycleIndexFormerName(std::span<const std::uint8_t> content) {
    const std::size_t at = le64(content, kVersionOffset) == kLayoutV2 ? kPathOffsetV2 : kPathOffsetV1;
    if (content.size() <= at) return std::nullopt;
    std::string path = utf16leToUtf8(content.subspan(at), true);
    const auto slash = path.rfind('\\');
    if (slash != std::string::npos) path = path.substr(slash + 1);
    return path;
}

std::optional<std::string> RecycleBinNames::readIndexFile(EntryRef entry) {
    // Index files are read through the parser's content path, as any saved file is, but kept
    // in memory: an index file that is larger than any real one is not one.
    std::vector<std::uint8_t> bytes;
    bool tooLarge = false;
    view_.writeContent(entry, [&](std::span<const std::uint8_t> data) {
        if (bytes.size() + data.size() >= kRecycleIndexLimit) {
            tooLarge = true;
            return false;
        }
        bytes.insert(bytes.end(), data.begin(), data.end());
        return true;
    });
    if (tooLarge) return std::nullopt;
    return recycleIndexFormerName(bytes);
}

std::map<std::string, std::string> RecycleBinNames::buildMap(EntryRef folder) {
    std::map<std::string, std::string> names;
    for (EntryRef child : view_.children(folder)) {
        const std::string name = view_.label(child);
        if (name.rfind("$I", 0) != 0 || view_.isDirectory(child)) continue;
        if (auto former = readIndexFile(child)) names[name] = *former;
    }
    return names;
}

std::uint64_t RecycleBinNames::renameWithin(EntryRef folder,
                                            const std::map<std::string, std::string>& names) {
    std::uint64_t renamed = 0;
    const std::vector<EntryRef> children = view_.children(folder);
    for (const auto& [indexName, former] : names) {
        const std::string dataName = "$R" + indexName.substr(2);
        for (EntryRef child : children) {
            std::string name = view_.label(child);
            if (layout_ == Layout::Flat) name = trimTrailingSpace(name);
            if (!name.empty() && name == dataName && view_.rename(child, former)) ++renamed;
        }
    }
    return renamed;
}

std::uint64_t RecycleBinNames::restore() {
    std::uint64_t renamed = 0;
    for (TreeItemId item : tree_.children(volumeItem_)) {
        const std::string label = tree_.label(item);
        if (label != "$RECYCLE.BIN" && label != "$RECYCLEBIN") continue;
        const auto bin = tree_.getItemData(item);
        if (!bin || !view_.isEntry(*bin) || !view_.isDirectory(*bin)) continue;
        if (layout_ == Layout::Flat) renamed += renameWithin(*bin, buildMap(*bin));
        for (EntryRef user : view_.children(*bin)) {
            if (!view_.isDirectory(user) || user == *bin) continue;
            // FAT32 and exFAT volumes that later Windows versions wrote keep per-user (SID)
            // folders too; other subfolders of a flat bin are left alone.
            if (layout_ == Layout::Flat && view_.label(user).rfind("S-1-", 0) != 0) continue;
            renamed += renameWithin(user, buildMap(user));
        }
    }
    return renamed;
}

} // namespace vindaru
