#include "fs/ext2/Ext2Dirents.h"

#include <algorithm>

#include "fs/ext2/Ext2Layout.h"

namespace vindaru {

using namespace ext2layout;

namespace {

constexpr std::size_t kMaxNameLength = 255;
constexpr std::uint8_t kMaxFileType = 7;

std::size_t nameLengthAt(ByteSpan block, std::size_t at, bool fileTypes) {
    return fileTypes ? u8(block, at + kDeNameLen) : le16(block, at + kDeNameLen);
}

bool plainName(std::string_view name) {
    return std::none_of(name.begin(), name.end(), [](char c) { return c == '\0' || c == '/'; });
}

} // namespace

void scanDirentSlack(ByteSpan block, std::size_t from, std::size_t to, bool fileTypes, std::uint64_t maxInode,
                     const std::function<void(const Ext2HiddenEntry&)>& onEntry) {
    to = std::min(to, block.size());
    for (std::size_t at = (from + 3) & ~std::size_t{3}; at + kDeHeaderSize <= to;) {
        const std::uint32_t inode = le32(block, at + kDeInode);
        const std::size_t recLen = le16(block, at + kDeRecLen);
        const std::size_t nameLength = nameLengthAt(block, at, fileTypes);
        const std::size_t need = direntLength(nameLength);
        bool whole = inode != 0 && inode <= maxInode && nameLength != 0 && nameLength <= kMaxNameLength &&
                     at + kDeHeaderSize + nameLength <= to && recLen >= need && recLen % 4 == 0 &&
                     recLen <= block.size() - at && (!fileTypes || u8(block, at + kDeFileType) <= kMaxFileType);
        std::string_view name;
        if (whole) {
            name = std::string_view(reinterpret_cast<const char*>(block.data() + at + kDeHeaderSize), nameLength);
            whole = plainName(name);
        }
        if (!whole) {
            at += 4;
            continue;
        }
        onEntry(Ext2HiddenEntry{inode, name, at});
        at += need;
    }
}

bool looksLikeDirectoryBlock(ByteSpan block, bool fileTypes, std::uint64_t maxInode) {
    bool named = false;
    std::size_t at = 0;
    while (at < block.size()) {
        if (!fits(block, at, kDeHeaderSize)) return false;
        const std::uint32_t inode = le32(block, at + kDeInode);
        const std::size_t recLen = le16(block, at + kDeRecLen);
        const std::size_t nameLength = nameLengthAt(block, at, fileTypes);
        // A 64 KiB block stores its full length as 0 (never met with the block sizes read here).
        if (recLen < kDeHeaderSize || recLen % 4 != 0 || recLen > block.size() - at) return false;
        if (inode != 0) {
            if (inode > maxInode || nameLength == 0 || nameLength > kMaxNameLength ||
                direntLength(nameLength) > recLen)
                return false;
            const std::string_view name(reinterpret_cast<const char*>(block.data() + at + kDeHeaderSize), nameLength);
            if (!plainName(name)) return false;
            named = true;
        }
        at += recLen;
    }
    return named && at == block.size();
}

} // namespace vindaru
