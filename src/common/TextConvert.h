// Conversions of on-disk names to UTF-8, the one text encoding used inside the engine.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace vindaru {

// UTF-16 code units (little- or big-endian bytes) to UTF-8. Unpaired surrogates become U+FFFD.
// Stops at the first NUL unit when stopAtNul is set.
std::string utf16leToUtf8(std::span<const std::uint8_t> bytes, bool stopAtNul = false);
std::string utf16beToUtf8(std::span<const std::uint8_t> bytes, bool stopAtNul = false);
std::string utf16ToUtf8(std::u16string_view units);

// 8-bit Windows-1252 (the code page used for FAT short names and other 8-bit names) to UTF-8.
std::string cp1252ToUtf8(std::span<const std::uint8_t> bytes, bool stopAtNul = false);
std::string cp1252ToUtf8(std::string_view bytes);
// The code point of one Windows-1252 byte.
char32_t cp1252CodePoint(std::uint8_t byte);

// UTF-8 back to UTF-16 code units (invalid sequences become U+FFFD).
std::u16string utf8ToUtf16(std::string_view text);

void appendUtf8(std::string& out, char32_t cp);

// Case folding used for case-insensitive comparisons of ASCII type names.
std::string asciiLower(std::string_view text);
bool equalsIgnoreCase(std::string_view a, std::string_view b);

} // namespace vindaru
