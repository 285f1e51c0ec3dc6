#include "image/VmdkDiskDescriptor.h"

#include <algorithm>
#include <cctype>

namespace vindaru {

namespace {

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

std::string_view trim(std::string_view s) {
    while (!s.empty() && isBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && isBlank(s.back())) s.remove_suffix(1);
    return s;
}

std::string upper(std::string_view s) {
    std::string out(s);
    std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return out;
}

std::string lower(std::string_view s) {
    std::string out(s);
    std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return out;
}

std::string unquoted(std::string_view v) {
    v = trim(v);
    if (v.size() >= 2 && v.front() == '"' && v.back() == '"') v = v.substr(1, v.size() - 2);
    return std::string(v);
}

// The next blank-separated word of `s`, removed from it.
std::string_view word(std::string_view& s) {
    s = trim(s);
    std::size_t end = 0;
    while (end < s.size() && !isBlank(s[end])) ++end;
    const std::string_view w = s.substr(0, end);
    s.remove_prefix(end);
    return w;
}

bool decimal(std::string_view w, std::uint64_t& out) {
    if (w.empty()) return false;
    out = 0;
    for (const char c : w) {
        if (c < '0' || c > '9') return false;
        const auto digit = static_cast<std::uint64_t>(c - '0');
        out = out > (UINT64_MAX - digit) / 10 ? UINT64_MAX : out * 10 + digit;
    }
    return true;
}

bool extentLine(std::string_view line, VmdkDiskExtentLine& e) {
    std::string_view rest = line;
    e.access = upper(word(rest));
    if (e.access != "RW" && e.access != "RDONLY" && e.access != "NOACCESS") return false;
    if (!decimal(word(rest), e.sectors)) return false;
    e.type = upper(word(rest));
    if (e.type.empty()) return false;
    rest = trim(rest);
    if (!rest.empty() && rest.front() == '"') {
        // The name is quoted and may hold blanks.
        const auto close = rest.find('"', 1);
        if (close == std::string_view::npos) return false;
        e.file = std::string(rest.substr(1, close - 1));
        rest.remove_prefix(close + 1);
        std::uint64_t offset = 0;
        if (decimal(word(rest), offset)) e.offsetSectors = offset;
    } else if (!rest.empty()) {
        e.file = std::string(word(rest));
    }
    return true;
}

} // namespace

bool VmdkDiskDescriptor::hasParent() const {
    const std::string p = lower(parentContentId);
    return !parentFileNameHint.empty() || (!p.empty() && p != "ffffffff");
}

VmdkDiskDescriptor parseVmdkDiskDescriptor(std::string_view text) {
    VmdkDiskDescriptor d;
    while (!text.empty()) {
        const auto nl = text.find('\n');
        std::string_view line = trim(text.substr(0, nl));
        text.remove_prefix(nl == std::string_view::npos ? text.size() : nl + 1);
        if (line.empty() || line.front() == '#') continue;
        if (const auto eq = line.find('='); eq != std::string_view::npos && line.find('"') > eq) {
            const std::string key = lower(trim(line.substr(0, eq)));
            const std::string value = unquoted(line.substr(eq + 1));
            if (key == "createtype") d.createType = value;
            else if (key == "cid") d.contentId = lower(value);
            else if (key == "parentcid") d.parentContentId = lower(value);
            else if (key == "parentfilenamehint") d.parentFileNameHint = value;
            continue;
        }
        VmdkDiskExtentLine e;
        if (!extentLine(line, e)) continue;
        if (d.extents.size() >= kVmdkMaxExtentLines) {
            d.extentsCut = true;
            continue;
        }
        d.extents.push_back(std::move(e));
    }
    return d;
}

bool looksLikeVmdkDescriptor(std::string_view head) {
    // Text only: a NUL before the first line's end is binary data.
    const auto firstLine = head.substr(0, head.find('\n'));
    if (firstLine.find('\0') != std::string_view::npos) return false;
    return head.find("# Disk DescriptorFile") != std::string_view::npos ||
           (head.find("createType=") != std::string_view::npos &&
            head.find("# Extent description") != std::string_view::npos);
}

} // namespace vindaru
