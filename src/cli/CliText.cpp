#include "cli/CliText.h"

#include <ctime>

#include "common/DisplayFormat.h"

namespace vindaru::cli {

namespace {

// The length of the well-formed UTF-8 sequence at `at` (overlong forms, surrogates and values
// past U+10FFFF are not well formed), or 0.
std::size_t utf8Length(std::string_view text, std::size_t at) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(at);
    if (lead < 0x80) return 1;
    std::size_t length = 0;
    std::uint32_t value = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        value = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        value = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        value = lead & 0x07;
    } else {
        return 0;
    }
    if (at + length > text.size()) return 0;
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(at + i) & 0xC0) != 0x80) return 0;
        value = value << 6 | (byte(at + i) & 0x3F);
    }
    if ((length == 3 && (value < 0x800 || (value >= 0xD800 && value <= 0xDFFF))) ||
        (length == 4 && (value < 0x10000 || value > 0x10FFFF)))
        return 0;
    return length;
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The value of `count` hex digits at `at`, or -1.
int hexAt(std::string_view text, std::size_t at, std::size_t count) {
    if (at + count > text.size()) return -1;
    int value = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const int digit = hexValue(text[at + i]);
        if (digit < 0) return -1;
        value = value * 16 + digit;
    }
    return value;
}

// "\[" never comes out of escapeName, so a marked component cannot be a name on disk.
constexpr const char* kPlaceholderOpen = "\\[";
constexpr const char* kPlaceholderClose = "]";

} // namespace

std::string escapeName(std::string_view name) {
    return escapeText(name, true);
}

std::string escapeControls(std::string_view text) {
    return escapeText(text, false);
}

std::string escapeText(std::string_view name, bool backslash) {
    std::string out;
    out.reserve(name.size());
    for (std::size_t i = 0; i < name.size();) {
        const auto c = static_cast<unsigned char>(name[i]);
        const std::size_t length = utf8Length(name, i);
        if (length == 0) {
            out += formatText("\\x%02X", c);
            ++i;
            continue;
        }
        if (length == 2 && c == 0xC2 && static_cast<unsigned char>(name[i + 1]) < 0xA0) {
            out += formatText("\\u%04X", static_cast<unsigned char>(name[i + 1]));
        } else if (c == '\\' && backslash) {
            out += "\\\\";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c < 0x20 || c == 0x7F) {
            out += formatText("\\x%02X", c);
        } else {
            out.append(name.substr(i, length));
        }
        i += length;
    }
    return out;
}

std::string unescapeName(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 >= text.size()) {
            out.push_back(text[i]);
            continue;
        }
        const char next = text[i + 1];
        int value = -1;
        std::size_t used = 2;
        if (next == '\\') {
            value = '\\';
        } else if (next == 't') {
            value = '\t';
        } else if (next == 'n') {
            value = '\n';
        } else if (next == 'r') {
            value = '\r';
        } else if (next == 'x') {
            value = hexAt(text, i + 2, 2);
            used = 4;
        } else if (next == 'u') {
            value = hexAt(text, i + 2, 4);
            used = 6;
            if (value >= 0x80 && value <= 0x9F) {
                out.push_back(static_cast<char>(0xC2));
                out.push_back(static_cast<char>(value));
                i += used - 1;
                continue;
            }
            value = -1;
        }
        if (value < 0) {
            out.push_back(text[i]);
            continue;
        }
        out.push_back(static_cast<char>(value));
        i += used - 1;
    }
    return out;
}

std::string validUtf8(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t length = utf8Length(text, i);
        if (length == 0) {
            out += "\xEF\xBF\xBD";
            ++i;
        } else {
            out.append(text.substr(i, length));
            i += length;
        }
    }
    return out;
}

std::string pathComponent(EntryView& view, EntryRef entry) {
    std::string text = escapeName(view.label(entry));
    if (view.isPlaceholder(entry)) return kPlaceholderOpen + text + kPlaceholderClose;
    return text;
}

int componentMatch(EntryView& view, EntryRef entry, const std::string& typed) {
    if (pathComponent(view, entry) == typed) return 3;
    if (view.isPlaceholder(entry)) return view.label(entry) == typed ? 1 : 0;
    return view.label(entry) == typed || view.label(entry) == unescapeName(typed) ? 2 : 0;
}

std::optional<std::string> isoTime(std::int64_t unixSeconds) {
    // Years 0..9999, the range ISO 8601 writes with four digits.
    constexpr std::int64_t kFirst = -62167219200; // 0000-01-01T00:00:00Z
    constexpr std::int64_t kLast = 253402300799;  // 9999-12-31T23:59:59Z
    if (unixSeconds < kFirst || unixSeconds > kLast) return std::nullopt;
    const std::time_t t = static_cast<std::time_t>(unixSeconds);
    std::tm utc{};
    if (!::gmtime_r(&t, &utc)) return std::nullopt;
    return formatText("%04d-%02d-%02dT%02d:%02d:%02dZ", utc.tm_year + 1900, utc.tm_mon + 1, utc.tm_mday,
                      utc.tm_hour, utc.tm_min, utc.tm_sec);
}

} // namespace vindaru::cli

namespace vindaru::cli {

std::string recoverableValue(std::optional<double> share) {
    if (!share) return {};
    const double clamped = *share < 0 ? 0 : *share > 1 ? 1 : *share;
    // Ten-thousandths, rounded down, then printed without trailing zeros.
    const auto units = static_cast<long long>(clamped * 10000);
    std::string text = std::to_string(units / 10000);
    if (units % 10000 != 0) {
        std::string fraction = std::to_string(10000 + units % 10000).substr(1);
        while (fraction.back() == '0') fraction.pop_back();
        text += "." + fraction;
    }
    return text;
}

} // namespace vindaru::cli
