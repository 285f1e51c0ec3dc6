#include "image/VhdParentLocator.h"

#include <algorithm>
#include <cctype>

#include "common/ByteLoader.h"
#include "common/TextConvert.h"

namespace vindaru::vhd {

namespace {

// A Mac alias record (version 2) keeps the target's file name as a Pascal string here.
constexpr std::size_t kAliasFileName = 50;
constexpr std::size_t kAliasFileNameMax = 63;

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// "file://localhost/Users/a/b%20c.vhd" → "/Users/a/b c.vhd".
std::string fileUrlPath(std::string url) {
    for (const char* prefix : {"file://localhost", "file://"}) {
        if (url.rfind(prefix, 0) == 0) {
            url.erase(0, std::char_traits<char>::length(prefix));
            break;
        }
    }
    std::string out;
    for (std::size_t i = 0; i < url.size(); ++i) {
        if (url[i] == '%' && i + 2 < url.size() && hexValue(url[i + 1]) >= 0 && hexValue(url[i + 2]) >= 0) {
            out += static_cast<char>(hexValue(url[i + 1]) * 16 + hexValue(url[i + 2]));
            i += 2;
        } else {
            out += url[i];
        }
    }
    return out;
}

// Paths written on Windows may carry "\\?\" and end in NUL padding.
std::string tidy(std::string path) {
    while (!path.empty() && (path.back() == '\0' || path.back() == ' ')) path.pop_back();
    const auto nul = path.find('\0');
    if (nul != std::string::npos) path.resize(nul);
    if (path.rfind("\\\\?\\", 0) == 0) path.erase(0, 4);
    return path;
}

int preference(std::uint32_t code) {
    switch (code) {
    case kPlatformW2ru: return 0;
    case kPlatformWi2r: return 1;
    case kPlatformMacX: return 2;
    case kPlatformW2ku: return 3;
    case kPlatformWi2k: return 4;
    case kPlatformMac: return 5;
    default: return 6;
    }
}

} // namespace

std::string uniqueIdText(std::span<const std::uint8_t> id16) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (std::size_t i = 0; i < 16; ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) out += '-';
        const std::uint8_t b = u8(id16, i);
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    return out;
}

const char* platformName(std::uint32_t code) {
    switch (code) {
    case kPlatformWi2r: return "Wi2r";
    case kPlatformWi2k: return "Wi2k";
    case kPlatformW2ru: return "W2ru";
    case kPlatformW2ku: return "W2ku";
    case kPlatformMac: return "Mac";
    case kPlatformMacX: return "MacX";
    default: return "unknown";
    }
}

std::string decodeLocatorPath(std::uint32_t code, std::span<const std::uint8_t> data) {
    switch (code) {
    case kPlatformW2ru:
    case kPlatformW2ku:
        return tidy(utf16leToUtf8(data, true));
    case kPlatformWi2r:
    case kPlatformWi2k:
        return tidy(cp1252ToUtf8(data, true));
    case kPlatformMacX:
        return tidy(fileUrlPath(std::string(data.begin(), data.end())));
    case kPlatformMac: {
        // Only the file name can be taken from an alias; the opener looks for it beside the child.
        if (data.size() <= kAliasFileName) return {};
        const std::size_t n = std::min<std::size_t>({data[kAliasFileName], kAliasFileNameMax,
                                                     data.size() - kAliasFileName - 1});
        return tidy(std::string(data.begin() + kAliasFileName + 1, data.begin() + kAliasFileName + 1 + n));
    }
    default:
        return {};
    }
}

VhdParent decodeParent(std::span<const std::uint8_t> header, const ReadOnlyFile& file) {
    VhdParent parent;
    parent.uniqueId = uniqueIdText(subspan(header, kHeaderParentUniqueId, 16));
    parent.name = tidy(utf16beToUtf8(subspan(header, kHeaderParentName, kParentNameBytes), true));
    for (std::size_t i = 0; i < kLocatorCount; ++i) {
        const ByteSpan entry = subspan(header, kHeaderLocators + i * kLocatorEntrySize, kLocatorEntrySize);
        const std::uint32_t code = be32(entry, kLocatorCode);
        const std::uint32_t length = be32(entry, kLocatorDataLength);
        const std::uint64_t offset = be64(entry, kLocatorDataOffset);
        if (code == kPlatformNone || length == 0 || offset >= file.length()) continue;
        const std::uint64_t take =
            std::min<std::uint64_t>({length, kMaxLocatorBytes, file.length() - offset});
        std::vector<std::uint8_t> data(static_cast<std::size_t>(take));
        file.readZeroFilled(offset, data.data(), data.size());
        std::string path = decodeLocatorPath(code, data);
        if (!path.empty()) parent.locators.push_back({code, std::move(path)});
    }
    std::stable_sort(parent.locators.begin(), parent.locators.end(),
                     [](const ParentLocator& a, const ParentLocator& b) {
                         return preference(a.code) < preference(b.code);
                     });
    return parent;
}

} // namespace vindaru::vhd
