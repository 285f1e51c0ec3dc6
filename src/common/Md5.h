// MD5 digests of saved content, for listings that print a file's md5 (the checksum recovery
// reports and reference listings use). Not for anything that needs a secure hash.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>

namespace vindaru {

class Md5 {
public:
    void update(std::span<const std::uint8_t> data);
    // The digest as 32 lower-case hex digits; the object is spent afterwards.
    std::string finishHex();

private:
    void block(const std::uint8_t* p);

    std::array<std::uint32_t, 4> state_{0x67452301u, 0xefcdab89u, 0x98badcfeu, 0x10325476u};
    std::array<std::uint8_t, 64> buffer_{};
    std::size_t buffered_ = 0;
    std::uint64_t length_ = 0;
};

} // namespace vindaru
