#include "fs/ext2/Ext2TestSupport.h"

#include <set>
#include <sstream>

#include "common/DisplayFormat.h"
#include "common/Md5.h"
#include "fs/ext2/Ext2EntryView.h"
#include "fs/ext2/Ext2VolumeParser.h"
#include "image/MemoryReader.h"
#include "support/FileDiskReader.h"
#include "support/TestSupport.h"

namespace vindaru::test {

ext2Class& Ext2Scan::ext2() { return dynamic_cast<Ext2EntryView&>(view()).parser(); }

std::vector<std::string> Ext2Scan::topLabels() const {
    std::vector<std::string> out;
    for (TreeItemId item : tree.children(volumeItem)) out.push_back(tree.label(item));
    return out;
}

std::unique_ptr<Ext2Scan> scanExt2(std::unique_ptr<readWriteInterface> reader, std::uint64_t startSector,
                                   std::optional<std::string> sizeText) {
    auto scan = std::make_unique<Ext2Scan>();
    scan->reader = std::move(reader);
    VolumeRecord volume;
    volume.fileSystemName = "extX";
    volume.volumeName = "1";
    volume.startSector = startSector;
    const std::uint64_t capacity = scan->reader->capacity();
    const std::uint64_t start = startSector * 512;
    volume.sizeText = sizeText ? *sizeText
                               : formatText("%llu   MB", static_cast<unsigned long long>(
                                                             capacity > start ? (capacity - start) >> 20 : 0));
    ParserSetup setup{*scan->reader, volume, ScanSinks{&scan->status, &scan->progress, &scan->messages}};
    scan->parser = createExt2Parser(setup);
    scan->volumeItem = scan->tree.insertItem("ROOT", IconKind::Folder);
    ScanRequest request;
    request.tree = &scan->tree;
    request.volumeItem = scan->volumeItem;
    scan->outcome = scan->parser->scan(request);
    return scan;
}

std::unique_ptr<Ext2Scan> scanExt2Bytes(std::vector<std::uint8_t> bytes) {
    return scanExt2(std::make_unique<MemoryReader>(std::move(bytes)));
}

std::unique_ptr<Ext2Scan> scanExt2File(const std::filesystem::path& raw, std::uint64_t startSector) {
    auto reader = std::make_unique<FileDiskReader>();
    if (!reader->open(raw.string())) return nullptr;
    return scanExt2(std::move(reader), startSector);
}

std::map<std::string, EntryRef> listPaths(EntryView& view) {
    std::map<std::string, EntryRef> out;
    const std::optional<EntryRef> root = view.rootEntry();
    if (!root) return out;
    std::set<EntryRef> entered{*root};
    std::vector<std::pair<EntryRef, std::string>> stack{{*root, ""}};
    while (!stack.empty()) {
        auto [dir, path] = stack.back();
        stack.pop_back();
        for (EntryRef child : view.children(dir)) {
            const std::string childPath = path + "/" + view.label(child);
            out.emplace(childPath, child);
            if (view.isDirectory(child) && entered.insert(child).second) stack.emplace_back(child, childPath);
        }
    }
    return out;
}

std::vector<std::uint8_t> contentOf(EntryView& view, EntryRef entry, bool* whole) {
    std::vector<std::uint8_t> out;
    const bool ok = view.writeContent(entry, [&](std::span<const std::uint8_t> piece) {
        out.insert(out.end(), piece.begin(), piece.end());
        return true;
    });
    if (whole) *whole = ok;
    return out;
}

std::string contentMd5(EntryView& view, EntryRef entry) {
    Md5 md5;
    view.writeContent(entry, [&](std::span<const std::uint8_t> piece) {
        md5.update(piece);
        return true;
    });
    return md5.finishHex();
}

std::string md5Of(const std::vector<std::uint8_t>& bytes) {
    Md5 md5;
    md5.update(bytes);
    return md5.finishHex();
}

bool haveTool(const std::string& name) {
    return runCommand("command -v " + shellQuote(name) + " >/dev/null 2>&1").exitCode == 0;
}

bool makeExtVolume(const std::filesystem::path& image, const std::string& options,
                   const std::filesystem::path& source, std::uint64_t sizeKiB, std::string& error) {
    std::filesystem::remove(image);
    const CommandResult r = runCommand("mke2fs -q -F " + options + " -d " + shellQuote(source.string()) + " " +
                                       shellQuote(image.string()) + " " + std::to_string(sizeKiB) + "k 2>&1");
    error = r.out + r.err;
    return r.exitCode == 0;
}

std::map<std::string, TskEntry> tskLivePaths(const std::filesystem::path& raw) {
    std::map<std::string, TskEntry> out;
    const CommandResult r = runCommand("fls -r -p -o 0 " + shellQuote(raw.string()));
    std::istringstream in(r.out);
    std::string line;
    while (std::getline(in, line)) {
        // "d/d 12:\tpath" or "r/r * 14(realloc):\tpath"
        const std::size_t tab = line.find('\t');
        if (tab == std::string::npos || line.size() < 4) continue;
        const std::string head = line.substr(0, tab);
        if (head.find('*') != std::string::npos) continue;
        const std::string path = "/" + line.substr(tab + 1);
        if (path.starts_with("/$OrphanFiles")) continue;
        TskEntry e;
        e.directory = head[0] == 'd';
        e.inode = std::stoull(head.substr(4));
        out.emplace(path, e);
    }
    return out;
}

std::map<std::uint64_t, std::string> tskMd5s(const std::filesystem::path& raw, const std::vector<std::uint64_t>& inodes) {
    std::map<std::uint64_t, std::string> out;
    if (inodes.empty()) return out;
    std::string script = "for i in";
    for (std::uint64_t i : inodes) script += " " + std::to_string(i);
    script += "; do printf '%s ' $i; icat -o 0 " + shellQuote(raw.string()) + " $i | md5sum; done";
    const CommandResult r = runCommand("sh -c " + shellQuote(script));
    std::istringstream in(r.out);
    std::uint64_t inode = 0;
    std::string md5, dash;
    while (in >> inode >> md5 >> dash) out[inode] = md5;
    return out;
}

} // namespace vindaru::test
