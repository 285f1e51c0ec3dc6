#include "HfsTestSupport.h"

#include <set>

#include "common/Md5.h"
#include "image/MemoryReader.h"
#include "support/FileDiskReader.h"

namespace vindaru::test {

std::unique_ptr<HfsScan> scanHfs(std::unique_ptr<readWriteInterface> reader, std::uint64_t volumeBytes,
                                 int mode, std::uint64_t startSector) {
    auto scan = std::make_unique<HfsScan>();
    scan->reader = std::move(reader);
    VolumeRecord volume{"HFS+", "1", std::to_string((volumeBytes + (1u << 20) - 1) >> 20), startSector};
    ParserSetup setup{*scan->reader, volume, ScanSinks{&scan->status, &scan->progress, &scan->messages}};
    scan->parser = createHfsPlusParser(setup);
    scan->volumeItem = scan->tree.insertItem("ROOT", IconKind::Folder);
    ScanRequest request;
    request.mode = mode;
    request.tree = &scan->tree;
    request.volumeItem = scan->volumeItem;
    scan->outcome = scan->parser->scan(request);
    return scan;
}

std::unique_ptr<HfsScan> scanHfsBytes(std::vector<std::uint8_t> image, int mode) {
    const std::uint64_t size = image.size();
    return scanHfs(std::make_unique<MemoryReader>(std::move(image)), size, mode);
}

std::unique_ptr<HfsScan> scanHfsFile(const std::string& path, int mode, std::uint64_t startSector,
                                     std::uint64_t volumeBytes) {
    auto reader = std::make_unique<FileDiskReader>();
    if (!reader->open(path)) return nullptr;
    if (volumeBytes == 0) volumeBytes = reader->imageLength - startSector * 512;
    return scanHfs(std::move(reader), volumeBytes, mode, startSector);
}

std::vector<std::string> HfsScan::topLevel() {
    std::vector<std::string> labels;
    for (TreeItemId item : tree.children(volumeItem)) labels.push_back(tree.label(item));
    return labels;
}

std::vector<std::string> HfsScan::childLabels(EntryRef folder) {
    std::vector<std::string> labels;
    for (EntryRef c : view().children(folder)) labels.push_back(view().label(c));
    return labels;
}

std::map<std::string, EntryRef> HfsScan::paths() {
    std::map<std::string, EntryRef> out;
    std::set<EntryRef> entered;
    std::vector<std::pair<std::string, EntryRef>> stack;
    for (TreeItemId item : tree.children(volumeItem))
        if (auto data = tree.getItemData(item)) stack.emplace_back("/" + view().label(*data), *data);
    while (!stack.empty()) {
        auto [path, entry] = stack.back();
        stack.pop_back();
        out.emplace(path, entry);
        if (!view().isDirectory(entry) || !entered.insert(entry).second) continue;
        for (EntryRef c : view().children(entry)) stack.emplace_back(path + "/" + view().label(c), c);
    }
    return out;
}

std::string HfsScan::content(EntryRef entry, bool* whole) {
    std::string bytes;
    const bool ok = view().writeContent(entry, [&](std::span<const std::uint8_t> piece) {
        bytes.append(piece.begin(), piece.end());
        return true;
    });
    if (whole) *whole = ok;
    return bytes;
}

std::string md5Of(const std::string& bytes) {
    Md5 md5;
    md5.update(std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
    return md5.finishHex();
}

std::vector<std::uint8_t> patternBytes(std::size_t size, std::uint32_t seed) {
    std::vector<std::uint8_t> out(size);
    std::uint32_t x = seed * 2654435761u + 1;
    for (auto& b : out) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        b = static_cast<std::uint8_t>(x);
    }
    return out;
}

} // namespace vindaru::test
