#include "browser/SafeName.h"


namespace vindaru {

namespace {

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }

bool isUtf8Continuation(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

// Cuts `text` to at most `limit` bytes without splitting a UTF-8 sequence.
std::string cutAtCharacter(std::string_view text, std::size_t limit) {
    if (text.size() <= limit) return std::string(text);
    std::size_t end = limit;
    while (end > 0 && isUtf8Continuation(text[end])) --end;
    return std::string(text.substr(0, end));
}

std::string shorten(const std::string& name) {
    if (name.size() <= kMaxHostNameBytes) return name;
    const auto dot = name.rfind('.');
    // Keep a short extension so the saved file still opens with the right program.
    if (dot != std::string::npos && dot > 0 && name.size() - dot <= 16) {
        const std::string ext = name.substr(dot);
        return cutAtCharacter(name, kMaxHostNameBytes - ext.size()) + ext;
    }
    return cutAtCharacter(name, kMaxHostNameBytes);
}

} // namespace

std::string trimBlanks(std::string_view text) {
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && isBlank(text[begin])) ++begin;
    while (end > begin && isBlank(text[end - 1])) --end;
    return std::string(text.substr(begin, end - begin));
}

std::string safeHostName(std::string_view name) {
    std::string out;
    out.reserve(name.size());
    // Control characters (line breaks, escapes) make names that shells and file managers show
    // wrongly or act on: a damaged entry's name must not carry them onto the host.
    for (char c : name) {
        const auto u = static_cast<unsigned char>(c);
        out.push_back(c == '/' || u < 0x20 || u == 0x7F ? '_' : c);
    }
    if (out.empty()) return "_";
    if (out == "." || out == "..") return "_" + out;
    return shorten(out);
}

std::string SavedNameSet::claim(const std::string& safeName) {
    if (used_.insert(safeName).second) return safeName;
    const auto dot = safeName.rfind('.');
    const bool hasExt = dot != std::string::npos && dot > 0 && safeName.size() - dot <= 16;
    const std::string stem = hasExt ? safeName.substr(0, dot) : safeName;
    const std::string ext = hasExt ? safeName.substr(dot) : std::string();
    // Bounded by the number of names already claimed: one of the first size()+2 is free.
    for (std::size_t n = 2;; ++n) {
        const std::string suffix = " (" + std::to_string(n) + ")" + ext;
        const std::size_t room = kMaxHostNameBytes > suffix.size() ? kMaxHostNameBytes - suffix.size() : 0;
        const std::string candidate = cutAtCharacter(stem, room) + suffix;
        if (used_.insert(candidate).second) return candidate;
    }
}

} // namespace vindaru
