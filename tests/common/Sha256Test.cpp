#include <gtest/gtest.h>

#include <string>

#include "common/Sha256.h"

using namespace vindaru;

namespace {
std::string sha256Of(const std::string& text, std::size_t piece) {
    Sha256 sha;
    for (std::size_t i = 0; i < text.size(); i += piece) {
        const std::string part = text.substr(i, piece);
        sha.update({reinterpret_cast<const std::uint8_t*>(part.data()), part.size()});
    }
    return sha.finishHex();
}
} // namespace

// The standard's test vectors, fed in pieces that do and do not line up with its 64-byte blocks
// (55 and 56 bytes are where the length stops fitting into the last block).
TEST(Sha256, KnownDigestsWhateverThePieces) {
    EXPECT_EQ(sha256Of("", 1), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(sha256Of("abc", 1), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    const std::string two = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";
    for (std::size_t piece : {1u, 7u, 56u, 64u})
        EXPECT_EQ(sha256Of(two, piece), "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1")
            << piece;
    EXPECT_EQ(sha256Of(std::string(55, 'a'), 55), "9f4390f8d30c2dd92ec9f095b65e2b9ae9b0a925a5258e241c9f1e910f734318");
    EXPECT_EQ(sha256Of(std::string(1000000, 'a'), 4096),
              "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}
