// SHA-256 digests of saved content, for save reports that a user checks with sha256sum.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>

namespace vindaru {

class Sha256 {
public:
    void update(std::span<const std::uint8_t> data);
    // The digest as 64 lower-case hex digits; the object is spent afterwards.
    std::string finishHex();

private:
    void block(const std::uint8_t* p);

    std::array<std::uint32_t, 8> state_{0x6a09e667u, 0xbb67ae85u, 0x3c6ef372u, 0xa54ff53au,
                                        0x510e527fu, 0x9b05688cu, 0x1f83d9abu, 0x5be0cd19u};
    std::array<std::uint8_t, 64> buffer_{};
    std::size_t buffered_ = 0;
    std::uint64_t length_ = 0;
};

} // namespace vindaru
