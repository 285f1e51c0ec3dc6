// Bounds-checked loaders for on-disk fields. Every byte of an image is untrusted: a field that
// does not lie wholly inside the span reads as zero (or as nullopt through the try* forms).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace vindaru {

using ByteSpan = std::span<const std::uint8_t>;

inline bool fits(ByteSpan bytes, std::size_t offset, std::size_t width) {
    return offset <= bytes.size() && width <= bytes.size() - offset;
}

template <typename T> std::optional<T> tryLoadLe(ByteSpan bytes, std::size_t offset) {
    if (!fits(bytes, offset, sizeof(T))) return std::nullopt;
    T value = 0;
    for (std::size_t i = 0; i < sizeof(T); ++i)
        value |= static_cast<T>(static_cast<T>(bytes[offset + i]) << (8 * i));
    return value;
}

template <typename T> std::optional<T> tryLoadBe(ByteSpan bytes, std::size_t offset) {
    if (!fits(bytes, offset, sizeof(T))) return std::nullopt;
    T value = 0;
    for (std::size_t i = 0; i < sizeof(T); ++i)
        value = static_cast<T>((sizeof(T) > 1 ? (value << 8) : 0) | bytes[offset + i]);
    return value;
}

inline std::uint8_t u8(ByteSpan b, std::size_t off) { return fits(b, off, 1) ? b[off] : 0; }
inline std::uint16_t le16(ByteSpan b, std::size_t off) { return tryLoadLe<std::uint16_t>(b, off).value_or(0); }
inline std::uint32_t le32(ByteSpan b, std::size_t off) { return tryLoadLe<std::uint32_t>(b, off).value_or(0); }
inline std::uint64_t le64(ByteSpan b, std::size_t off) { return tryLoadLe<std::uint64_t>(b, off).value_or(0); }
inline std::uint16_t be16(ByteSpan b, std::size_t off) { return tryLoadBe<std::uint16_t>(b, off).value_or(0); }
inline std::uint32_t be32(ByteSpan b, std::size_t off) { return tryLoadBe<std::uint32_t>(b, off).value_or(0); }
inline std::uint64_t be64(ByteSpan b, std::size_t off) { return tryLoadBe<std::uint64_t>(b, off).value_or(0); }
inline std::int32_t les32(ByteSpan b, std::size_t off) { return static_cast<std::int32_t>(le32(b, off)); }
inline std::int64_t les64(ByteSpan b, std::size_t off) { return static_cast<std::int64_t>(le64(b, off)); }

// A sub-span that is clipped to the bytes that exist.
inline ByteSpan subspan(ByteSpan b, std::size_t offset, std::size_t length) {
    if (offset >= b.size()) return {};
    return b.subspan(offset, length < b.size() - offset ? length : b.size() - offset);
}

// Overflow-checked arithmetic for sizes and offsets taken from disk.
inline bool checkedMul(std::uint64_t a, std::uint64_t b, std::uint64_t& out) {
    return !__builtin_mul_overflow(a, b, &out);
}
inline bool checkedAdd(std::uint64_t a, std::uint64_t b, std::uint64_t& out) {
    return !__builtin_add_overflow(a, b, &out);
}

inline bool isPowerOfTwo(std::uint64_t v) { return v != 0 && (v & (v - 1)) == 0; }

} // namespace vindaru
