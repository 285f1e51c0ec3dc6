// One FAT-family fuzz input: the bytes are the volume's first sectors, the rest of a 4 MiB
// volume reads as zeros. One Standard scan, the list texts of what it found, and the content
// of a few files into a sink that discards it.
#pragma once

#include <algorithm>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "common/CheckTree.h"
#include "common/Sinks.h"
#include "fs/fat/FatParsers.h"
#include "image/readWriteInterface.h"

namespace vindaru::fuzz {

inline constexpr std::size_t kMaxInputBytes = 32 * 1024;
inline constexpr std::uint64_t kVolumeBytes = 4u << 20;

class ZeroTailReader : public readWriteInterface {
public:
    explicit ZeroTailReader(std::span<const std::uint8_t> head) : head_(head) {}
    bool open(const std::string&) override { return true; }
    bool seek(std::int64_t position, int) override {
        cursor_ = static_cast<std::uint64_t>(position);
        return position >= 0;
    }
    bool read(void* buffer, std::uint64_t length) override {
        const bool ok = readAt(cursor_, std::span(static_cast<std::uint8_t*>(buffer), length));
        cursor_ += length;
        return ok;
    }
    bool readAt(std::uint64_t position, std::span<std::uint8_t> out) override {
        std::fill(out.begin(), out.end(), 0);
        const std::uint64_t at = baseOffset + position;
        if (at < head_.size()) {
            const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(out.size(), head_.size() - at));
            std::copy_n(head_.begin() + static_cast<std::ptrdiff_t>(at), n, out.begin());
        }
        return at < kVolumeBytes || out.empty();
    }
    std::uint64_t capacity() const override { return kVolumeBytes; }
    bool isHole(std::uint64_t position, std::uint64_t) const override { return baseOffset + position >= head_.size(); }

private:
    std::span<const std::uint8_t> head_;
    std::uint64_t cursor_ = 0;
};

inline int exerciseFat(const std::uint8_t* data, std::size_t size, ParserFactory factory, const char* typeName,
                       bool driveFormatted) {
    constexpr std::size_t kMaxListed = 64;
    constexpr std::size_t kMaxSaved = 8;
    constexpr std::uint64_t kMaxSavedBytes = 256 * 1024;
    ZeroTailReader reader(std::span(data, std::min(size, kMaxInputBytes)));
    NullStatusSink status;
    NullProgressSink progress;
    NullMessageSink messages;
    auto parser = factory(ParserSetup{reader, VolumeRecord{typeName, "0", "4", 0},
                                      ScanSinks{&status, &progress, &messages}, driveFormatted});
    CheckTree tree;
    ScanRequest request;
    request.tree = &tree;
    request.volumeItem = tree.insertItem("ROOT", IconKind::Folder);
    parser->scan(request);
    EntryView& view = parser->view();
    const auto root = view.rootEntry();
    if (!root) return 0;
    std::vector<EntryRef> stack{*root};
    std::vector<bool> seen(view.entryLimit(), false);
    std::size_t listed = 0, saved = 0;
    while (!stack.empty() && listed < kMaxListed) {
        const EntryRef dir = stack.back();
        stack.pop_back();
        for (EntryRef c : view.children(dir)) {
            if (c >= seen.size() || seen[c] || listed >= kMaxListed) continue;
            seen[c] = true;
            ++listed;
            (void)view.label(c);
            view.describe(c);
            view.sizeText(c);
            if (view.isDirectory(c)) {
                stack.push_back(c);
            } else if (saved < kMaxSaved) {
                ++saved;
                std::uint64_t total = 0;
                view.writeContent(c, [&total](std::span<const std::uint8_t> d) {
                    total += d.size();
                    return total < kMaxSavedBytes;
                });
            }
        }
    }
    return 0;
}

} // namespace vindaru::fuzz
