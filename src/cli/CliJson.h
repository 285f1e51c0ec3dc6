// JSON text helpers shared by the commands' --json output.
#pragma once

#include <cstdio>
#include <string>

#include "cli/CliText.h"

namespace vindaru::cli {

// A JSON string literal for UTF-8 text (control characters escaped; bytes that are not UTF-8
// become U+FFFD, which JSON requires: the exact bytes are in the listing's escaped path).
inline std::string jsonString(const std::string& raw) {
    const std::string text = validUtf8(raw);
    std::string out = "\"";
    for (unsigned char c : text) {
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\t': out += "\\t"; break;
        case '\r': out += "\\r"; break;
        default:
            if (c < 0x20) {
                char buf[8];
                std::snprintf(buf, sizeof buf, "\\u%04x", c);
                out += buf;
            } else {
                out.push_back(static_cast<char>(c));
            }
        }
    }
    return out + "\"";
}

} // namespace vindaru::cli
