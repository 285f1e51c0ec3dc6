// One signature of raw recovery as the settings file keeps it: a headerless run of 173-byte
// records, little-endian, read and written byte for byte at the offsets below.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace vindaru {

inline constexpr std::size_t kSignatureRecordBytes = 173;
inline constexpr std::size_t kSignatureBytes = 10;      // start and end signatures
inline constexpr std::size_t kExtensionUnits = 4;       // stored characters of the extension
inline constexpr std::size_t kCategoryUnits = 50;       // stored characters of the category

// Field offsets, in the order of the record.
namespace signature_offsets {
inline constexpr std::size_t extension = 0;       // 10 bytes, UTF-16LE, the fifth unit zero
inline constexpr std::size_t startOffset = 10;    // u16
inline constexpr std::size_t extensionLength = 12; // u8, characters typed
inline constexpr std::size_t startBytes = 13;     // 10 bytes
inline constexpr std::size_t endBytes = 23;       // 10 bytes
inline constexpr std::size_t startLength = 33;    // u8
inline constexpr std::size_t endLength = 34;      // u8
inline constexpr std::size_t recordIndex = 35;    // u8
inline constexpr std::size_t sizeOffset = 36;     // i32, -1 = not given
inline constexpr std::size_t bytesInSize = 40;    // i32
inline constexpr std::size_t headerSize = 44;     // i32
inline constexpr std::size_t sizeIncludesHeader = 48; // u8
inline constexpr std::size_t reserved1 = 49;      // u32
inline constexpr std::size_t approximateSize = 53; // i64
inline constexpr std::size_t skipSize = 61;       // i64
inline constexpr std::size_t category = 69;       // 100 bytes, UTF-16LE
inline constexpr std::size_t reserved2 = 169;     // u32
} // namespace signature_offsets

struct signatureRecord {
    std::array<char16_t, kExtensionUnits + 1> extension{}; // zero-terminated
    std::uint16_t startOffset = 0;
    std::uint8_t extensionLength = 0;
    std::array<std::uint8_t, kSignatureBytes> startBytes{};
    std::array<std::uint8_t, kSignatureBytes> endBytes{};
    std::uint8_t startLength = 0;
    std::uint8_t endLength = 0;
    std::uint8_t recordIndex = 0xFF;
    std::int32_t sizeOffset = -1;
    std::int32_t bytesInSize = 0;
    std::int32_t headerSize = 0;
    std::uint8_t sizeIncludesHeader = 0;
    std::uint32_t reserved1 = 0;
    std::int64_t approximateSize = 0;
    std::int64_t skipSize = 0;
    std::array<char16_t, kCategoryUnits> category{};
    std::uint32_t reserved2 = 0;

    using Bytes = std::array<std::uint8_t, kSignatureRecordBytes>;
    Bytes encode() const;
    // `bytes` must hold a whole record; nullopt otherwise.
    static std::optional<signatureRecord> decode(std::span<const std::uint8_t> bytes);

    // The stored texts as UTF-8 (up to the first zero unit).
    std::string extensionText() const;
    std::string categoryText() const;
    void setExtension(const std::string& text);  // first four characters, length as typed
    void setCategory(const std::string& text);   // first fifty characters

    bool operator==(const signatureRecord&) const = default;
};

} // namespace vindaru
