#include "browser/EntrySearch.h"

#include "browser/EntryWalker.h"
#include "common/DisplayFormat.h"

namespace vindaru {

EntrySearch::Result EntrySearch::search(const std::string& pattern, const RowFn& onRow) {
    rows_.clear();
    onRow_ = &onRow;
    if (!pattern.empty()) {
        // Compiled before any item is tested: a bad pattern lists nothing.
        if (!pattern_.compile(pattern)) {
            sinks_.messages.infoNoCaption(kSearchInvalidPattern);
            return Result::InvalidPattern;
        }
        const std::string base = tree_.label(volumeItem_) + "\\";
        // The volume item stands for the root directory: a top-level folder whose entry is the
        // root itself (the NTFS root's own "." record) would list every file a second time.
        const std::optional<EntryRef> root = view_.rootEntry();
        for (TreeItemId item : tree_.children(volumeItem_)) {
            const auto data = tree_.getItemData(item);
            if (!data || !view_.isEntry(*data)) continue;
            if (tree_.childCount(item) > 0) {
                if (root && *data == *root) continue;
                searchFolder(*data, base + tree_.label(item), tree_.label(item));
            } else {
                testEntry(*data, tree_.label(volumeItem_), {}, onRow);
            }
        }
    }
    sinks_.messages.infoNoCaption(kSearchFinished);
    return Result::Finished;
}

void EntrySearch::testEntry(EntryRef entry, const std::string& folderPath,
                            const std::vector<std::string>& folders, const RowFn& onRow) {
    const std::string name = view_.label(entry);
    if (!pattern_.matches(name)) return;
    SearchRow row;
    row.path = folderPath + "\\" + name;
    row.folders = folders;
    row.entry = entry;
    row.deleted = view_.isDeleted(entry);
    row.texts = view_.describe(entry);
    row.sizeText = view_.sizeText(entry);
    row.bytes = view_.byteSize(entry);
    row.recoverable = view_.recoverableShare(entry);
    rows_.push_back(row);
    if (onRow) onRow(rows_.back());
    sinks_.status.setText(formatText("searched file %lld", static_cast<long long>(rows_.size())));
}

void EntrySearch::searchFolder(EntryRef folder, const std::string& path, const std::string& label) {
    const RowFn& onRow = *onRow_;
    // The progress range is the folder's file count, as the folder save counts it.
    std::uint64_t count = 0;
    EntryWalker counter(view_, EntryWalker::DirectoryTest::Saving);
    counter.walk(folder, [&](const EntryWalker::Visit& v) {
        if (!v.directory) ++count;
        return true;
    });
    sinks_.progress.setRange(0, static_cast<std::int64_t>(count));

    std::vector<std::string> folders; // the path below `path`, one name per entered level
    // In a folder of many files the bar moves as they are tested, not only as the folder ends,
    // so that the time left shows inside one large folder too.
    std::uint64_t tested = 0;
    const std::uint64_t step = count / 100;
    EntryWalker walker(view_, EntryWalker::DirectoryTest::Listing);
    walker.walk(
        folder,
        [&](const EntryWalker::Visit& v) {
            folders.resize(v.depth);
            if (v.directory) {
                if (v.enterable) folders.push_back(view_.label(v.entry));
                return true;
            }
            std::string here = path;
            for (const std::string& f : folders) here += "\\" + f;
            std::vector<std::string> named{label};
            named.insert(named.end(), folders.begin(), folders.end());
            testEntry(v.entry, here, named, onRow);
            if (step > 0 && ++tested % step == 0 && tested < count) sinks_.progress.setPosition(static_cast<std::int64_t>(tested));
            return false;
        },
        {}, [&] { return control_.shouldStop(); });

    sinks_.progress.setPosition(static_cast<std::int64_t>(count));
    control_.stopRequested.acknowledge();
}

} // namespace vindaru
