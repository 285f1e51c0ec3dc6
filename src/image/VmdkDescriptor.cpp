#include "image/VmdkDescriptor.h"

#include <algorithm>
#include <array>
#include <climits>
#include <vector>

#include "common/TextConvert.h"
#include "image/ReadOnlyFile.h"
#include "image/VmdkSparseHeader.h"

namespace vindaru {

namespace {

constexpr std::string_view kCreateTypeKey = "createType=\"";
constexpr std::string_view kExtentSectionStart = "# Extent description";
constexpr std::string_view kExtentSectionEnd = "# The Disk Data Base";
// The embedded descriptor's createType value and extent lines are looked for only here.
constexpr std::size_t kEmbeddedExtentWindowEnd = 512;
// An extent line shorter than this cannot hold access word, count, type and a quoted name.
constexpr std::size_t kMinExtentLineChars = 10;

constexpr auto npos = std::string_view::npos;

std::string toText(std::string_view bytes) { return cp1252ToUtf8(bytes); }

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }

std::string_view trimBlanks(std::string_view s) {
    while (!s.empty() && isBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && isBlank(s.back())) s.remove_suffix(1);
    return s;
}

// The decimal number at `from`, blanks skipped, digits only; saturates rather than wraps.
std::uint64_t decimalAt(std::string_view s, std::size_t from) {
    std::size_t i = from;
    while (i < s.size() && isBlank(s[i])) ++i;
    std::uint64_t value = 0;
    for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) {
        const auto digit = static_cast<std::uint64_t>(s[i] - '0');
        if (value > (UINT64_MAX - digit) / 10) return UINT64_MAX;
        value = value * 10 + digit;
    }
    return value;
}

VmdkExtentRecord recordWithCount(std::uint64_t sectors) {
    VmdkExtentRecord r;
    r.sectors = sectors;
    r.sectorCount = static_cast<std::int32_t>(std::min<std::uint64_t>(sectors, INT32_MAX));
    return r;
}

// Text between the end of `begin` and the start of `end` (both first occurrences), if non-empty.
std::string_view between(std::string_view text, std::string_view begin, std::string_view end) {
    const auto b = text.find(begin);
    const auto e = text.find(end);
    if (b == npos || e == npos) return {};
    const auto start = b + begin.size();
    if (e <= start) return {};
    return text.substr(start, e - start);
}

// The quoted value after `key`: up to the next double quote, when at least one character.
std::string quotedValue(std::string_view text, std::string_view key) {
    const auto k = text.find(key);
    if (k == npos) return {};
    const auto start = k + key.size();
    const auto q = text.find('"', start);
    if (q == npos || q <= start) return {};
    return toText(text.substr(start, q - start));
}

// The three spaces that bound access word, sector count and type of an extent line.
struct LineFields {
    std::uint64_t sectors = 0;
    std::string_view type;
};
std::optional<LineFields> lineFields(std::string_view rest) {
    const auto a = rest.find(' ');
    if (a == npos) return std::nullopt;
    LineFields f;
    f.sectors = decimalAt(rest, a);
    const auto b = rest.find(' ', a + 1);
    const auto c = b == npos ? npos : rest.find(' ', b + 1);
    if (b != npos && c != npos && c > b) f.type = trimBlanks(rest.substr(b, c - b));
    return f;
}

void parseEmbeddedExtents(std::string_view section, VmdkDescriptor& d) {
    std::string_view rest = section;
    while (rest.size() > kMinExtentLineChars) {
        const auto fields = lineFields(rest);
        if (!fields) break;
        d.lastExtentType = toText(fields->type);
        const auto q1 = rest.find('"');
        const auto q2 = q1 == npos ? npos : rest.find('"', q1 + 1);
        if (q2 == npos) break;
        VmdkExtentRecord r = recordWithCount(fields->sectors);
        r.extentType = toText(fields->type);
        r.extentFile = toText(rest.substr(q1, q2 - q1)); // keeps the opening quote
        d.extents.push_back(std::move(r));
        // Continue after the closing quote, so that the next line is not read from the middle
        // of this one's file name.
        rest.remove_prefix(q2 + 1);
    }
}

} // namespace

VmdkDescriptor parseVmdkDescriptor(std::string_view text) {
    VmdkDescriptor d;
    const auto version = text.find("version=");
    const auto cid = text.find("CID=");
    if (version != npos && cid != npos && cid >= version + 9)
        d.formatVersion = toText(text.substr(version + 8, cid - version - 8));
    const auto parentCid = text.find("parentCID=");
    if (cid != npos && parentCid != npos && parentCid > cid + 4)
        d.contentId = toText(text.substr(cid + 4, parentCid - cid - 4));
    const auto p = text.find(kCreateTypeKey);
    if (parentCid != npos && p != npos && p > parentCid + 10)
        d.parentContentId = toText(text.substr(parentCid + 10, p - parentCid - 10));

    if (p == npos || p < 1 || p + kCreateTypeKey.size() >= text.size()) return d;
    d.createTypeFound = true;
    const auto windowStart = p + kCreateTypeKey.size();
    const auto windowEnd = std::min(kEmbeddedExtentWindowEnd, text.size());
    const std::string_view window =
        windowStart < windowEnd ? text.substr(windowStart, windowEnd - windowStart) : std::string_view{};
    const auto quote = window.find('"');
    if (quote != npos && quote > 0) d.createType = toText(window.substr(0, quote));
    parseEmbeddedExtents(between(window, kExtentSectionStart, kExtentSectionEnd), d);

    d.geometryCylinders = quotedValue(text, "ddb.geometry.cylinders = \"");
    d.geometryHeads = quotedValue(text, "ddb.geometry.heads = \"");
    d.geometrySectors = quotedValue(text, "ddb.geometry.sectors = \"");
    d.virtualHardwareVersion = quotedValue(text, "ddb.virtualHWVersion = \"");
    d.adapterType = quotedValue(text, "ddb.adapterType = \"");
    d.toolsVersion = quotedValue(text, "ddb.toolsVersion = \"");
    return d;
}

VmdkDescriptorFile parseVmdkDescriptorFile(std::string_view text) {
    VmdkDescriptorFile f;
    const auto flat = text.find(" FLAT ");
    if (flat != npos && flat >= 1) f.extentTypeChoice = "FLAT";
    const auto sparce = text.find(" SPARCE ");
    if (sparce != npos && sparce >= 1) f.extentTypeChoice = "SPARCE";

    std::string_view rest = between(text, kExtentSectionStart, kExtentSectionEnd);
    while (rest.size() > kMinExtentLineChars) {
        const auto fields = lineFields(rest);
        if (!fields) break;
        const auto q1 = rest.find('"', 2);
        const auto q2 = q1 == npos ? npos : rest.find('"', q1 + 1);
        if (q2 == npos) break;
        VmdkExtentRecord r = recordWithCount(fields->sectors);
        r.extentType = toText(fields->type);
        r.extentFile = toText(rest.substr(q1 + 1, q2 - q1 - 1));
        f.extents.push_back(std::move(r));
        // The closing quote and the line break after it.
        rest.remove_prefix(std::min(rest.size(), q2 + 3));
    }
    return f;
}

std::optional<VmdkFileInfo> readVmdkFileInfo(const std::string& path, const MemoryFiles* memory) {
    ReadOnlyFile file;
    if (!file.open(path, memory)) {
        VmdkFileInfo info;
        info.fileOpened = false;
        return info;
    }
    std::array<std::uint8_t, 512> sector{};
    if (!file.readAtZeroFilled(0, sector)) return std::nullopt;
    const auto header = VmdkSparseHeader::decode(sector);
    if (!header.hasMagic) return std::nullopt;
    const auto area = header.descriptorArea();
    if (!area) return std::nullopt;
    const std::string text = readEmbeddedDescriptor(file, *area);
    const VmdkDescriptor d = parseVmdkDescriptor(text);
    if (!d.createTypeFound) return std::nullopt;

    VmdkFileInfo info;
    info.formatVersion = d.formatVersion;
    info.geometrySectors = d.geometrySectors;
    info.geometryHeads = d.geometryHeads;
    info.geometryCylinders = d.geometryCylinders;
    info.createType = d.createType;
    for (const auto& e : d.extents) info.totalSectors = saturatingAdd(info.totalSectors, e.sectors);
    info.sizeMb = info.totalSectors / 2048; // × 512 ÷ 1 MiB without overflow
    return info;
}

} // namespace vindaru
