#include "fs/ext2/Ext2InlineData.h"

#include <string_view>

#include "fs/ext2/Ext2Layout.h"

namespace vindaru {

using namespace ext2layout;

namespace {

constexpr std::uint32_t kXattrMagic = 0xEA020000;
constexpr std::size_t kXeNameLen = 0;
constexpr std::size_t kXeNameIndex = 1;
constexpr std::size_t kXeValueOffs = 2;
constexpr std::size_t kXeValueInum = 4;
constexpr std::size_t kXeValueSize = 8;
constexpr std::size_t kXeName = 16;
constexpr std::uint8_t kXattrIndexSystem = 7;
constexpr std::string_view kInlineDataName = "data";

} // namespace

ByteSpan inlineDataTail(ByteSpan inode) {
    if (inode.size() <= kInodeBaseSize) return {};
    const std::size_t start = kInodeBaseSize + le16(inode, kInExtraIsize);
    if (!fits(inode, start, 4) || le32(inode, start) != kXattrMagic) return {};
    // Value offsets count from the first entry, right after the magic.
    const ByteSpan area = inode.subspan(start + 4);
    for (std::size_t at = 0; fits(area, at, kXeName) && le32(area, at) != 0;) {
        const std::size_t nameLength = u8(area, at + kXeNameLen);
        if (!fits(area, at + kXeName, nameLength)) return {};
        const std::string_view name(reinterpret_cast<const char*>(area.data() + at + kXeName), nameLength);
        if (u8(area, at + kXeNameIndex) == kXattrIndexSystem && name == kInlineDataName) {
            const std::size_t offset = le16(area, at + kXeValueOffs);
            const std::size_t size = le32(area, at + kXeValueSize);
            if (le32(area, at + kXeValueInum) != 0 || !fits(area, offset, size)) return {};
            return area.subspan(offset, size);
        }
        at += (kXeName + nameLength + 3) & ~std::size_t{3};
    }
    return {};
}

} // namespace vindaru
