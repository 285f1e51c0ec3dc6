// The HFS+ scan on an in-memory volume whose first sectors are the input, in the Standard mode
// or, when the input's first byte is odd, the Deep mode (HFS+ reads nothing from the boot
// blocks); then the listing of what the tree's first level reaches and the content of a few
// files, to nowhere. The first level is walked rather than the root: a deep scan regroups the
// root's files, so it has no root entry.
#include <cstdint>
#include <unordered_set>

#include "fs/hfsplus/HfsPlusVolumeParser.h"
#include "fuzz/ParserFuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace vindaru;
    using namespace vindaru::fuzz;
    MemoryReader reader(kFuzzVolumeBytes);
    reader.place(0, std::span(data, std::min(size, kMaxParserInput)));
    const VolumeRecord record{"HFS+", "0", std::to_string(kFuzzVolumeBytes >> 20) + " MB", 0};
    const auto parser = createHfsPlusParser(ParserSetup{reader, record, ScanSinks{}, false});
    CheckTree tree;
    ScanRequest request;
    request.mode = size > 0 && (data[0] & 1) ? kScanModeDeep : kScanModeStandard;
    request.tree = &tree;
    request.volumeItem = tree.insertItem("ROOT", IconKind::Folder);
    parser->scan(request);

    EntryView& view = parser->view();
    std::vector<EntryRef> pending;
    for (TreeItemId item : tree.children(request.volumeItem))
        if (auto ref = tree.getItemData(item)) pending.push_back(*ref);
    std::unordered_set<EntryRef> entered;
    std::size_t listed = 0, saved = 0;
    while (!pending.empty() && listed < kMaxListedEntries) {
        const EntryRef entry = pending.back();
        pending.pop_back();
        if (!view.isEntry(entry)) continue;
        ++listed;
        (void)view.label(entry);
        (void)view.describe(entry);
        (void)view.sizeText(entry);
        (void)view.times(entry);
        if (view.isDirectory(entry)) {
            if (entered.insert(entry).second)
                for (EntryRef child : view.children(entry)) pending.push_back(child);
        } else if (saved < kMaxSavedFiles) {
            ++saved;
            std::uint64_t written = 0;
            view.writeContent(entry, [&written](std::span<const std::uint8_t> piece) {
                written += piece.size();
                return written < kMaxSavedBytes;
            });
        }
    }
    return 0;
}
