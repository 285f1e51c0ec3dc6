// What the HFS+ fuzz target (and its regression replay) does with one input: the input is the
// first bytes of a 2 MiB volume whose other bytes read as zeros; its first byte's low bit picks
// the mode (the boot blocks hold nothing HFS+ reads). One scan, the listing of what the tree
// reaches, and the content of a few files to a sink that discards it.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <span>
#include <vector>

#include "common/CheckTree.h"
#include "fs/hfsplus/HfsPlusVolumeParser.h"
#include "image/readWriteInterface.h"

namespace vindaru::fuzz {

inline constexpr std::size_t kHfsFuzzMaxInput = 48 * 1024;
inline constexpr std::uint64_t kHfsFuzzVolumeBytes = 2u << 20;

// The input followed by zeros up to the volume's end, without holding the zeros.
class HfsFuzzReader : public readWriteInterface {
public:
    HfsFuzzReader(const std::uint8_t* data, std::size_t size) : data_(data, std::min(size, kHfsFuzzMaxInput)) {}
    bool open(const std::string&) override { return true; }
    bool readAt(std::uint64_t position, std::span<std::uint8_t> out) override {
        const std::uint64_t at = baseOffset + position;
        std::size_t n = 0;
        if (at < data_.size()) {
            n = static_cast<std::size_t>(std::min<std::uint64_t>(out.size(), data_.size() - at));
            std::memcpy(out.data(), data_.data() + at, n);
        }
        if (n < out.size()) std::memset(out.data() + n, 0, out.size() - n);
        return at < kHfsFuzzVolumeBytes || out.empty();
    }
    bool seek(std::int64_t position, int) override {
        cursor_ = static_cast<std::uint64_t>(position);
        return position >= 0;
    }
    bool read(void* buffer, std::uint64_t length) override {
        const bool ok = readAt(cursor_, std::span(static_cast<std::uint8_t*>(buffer), length));
        cursor_ += length;
        return ok;
    }
    bool isHole(std::uint64_t position, std::uint64_t) const override { return baseOffset + position >= data_.size(); }
    std::uint64_t capacity() const override { return kHfsFuzzVolumeBytes; }

private:
    std::span<const std::uint8_t> data_;
    std::uint64_t cursor_ = 0;
};

inline void exerciseHfsPlus(const std::uint8_t* data, std::size_t size) {
    constexpr std::size_t kMaxListed = 256;
    constexpr int kMaxSaved = 8;
    constexpr std::uint64_t kMaxSavedBytes = 256 * 1024;
    HfsFuzzReader reader(data, size);
    ParserSetup setup{reader, VolumeRecord{"HFS+", "1", "2", 0}, ScanSinks{}};
    auto parser = createHfsPlusParser(setup);
    CheckTree tree;
    ScanRequest request;
    request.mode = size > 0 && (data[0] & 1) ? kScanModeDeep : kScanModeStandard;
    request.tree = &tree;
    request.volumeItem = tree.insertItem("ROOT", IconKind::Folder);
    parser->scan(request);

    EntryView& view = parser->view();
    std::vector<EntryRef> stack;
    for (TreeItemId item : tree.children(request.volumeItem))
        if (auto ref = tree.getItemData(item)) stack.push_back(*ref);
    std::vector<bool> entered(view.entryLimit(), false);
    std::size_t listed = 0;
    int saved = 0;
    while (!stack.empty() && listed < kMaxListed) {
        const EntryRef e = stack.back();
        stack.pop_back();
        if (!view.isEntry(e)) continue;
        ++listed;
        (void)view.label(e);
        view.describe(e);
        view.sizeText(e);
        view.times(e);
        if (view.isDirectory(e)) {
            if (entered[e]) continue;
            entered[e] = true;
            for (EntryRef c : view.children(e)) stack.push_back(c);
        } else if (saved < kMaxSaved) {
            ++saved;
            std::uint64_t total = 0;
            view.writeContent(e, [&total](std::span<const std::uint8_t> piece) {
                total += piece.size();
                return total < kMaxSavedBytes;
            });
        }
    }
}

} // namespace vindaru::fuzz
