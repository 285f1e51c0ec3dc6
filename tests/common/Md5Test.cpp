#include <gtest/gtest.h>

#include <string>

#include "common/Md5.h"

using namespace vindaru;

namespace {
std::string md5Of(const std::string& text, std::size_t piece) {
    Md5 md5;
    for (std::size_t i = 0; i < text.size(); i += piece) {
        const std::string part = text.substr(i, piece);
        md5.update({reinterpret_cast<const std::uint8_t*>(part.data()), part.size()});
    }
    return md5.finishHex();
}
} // namespace

TEST(Md5, KnownDigestsWhateverThePieces) {
    EXPECT_EQ(md5Of("", 1), "d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(md5Of("abc", 1), "900150983cd24fb0d6963f7d28e17f72");
    const std::string digits =
        "12345678901234567890123456789012345678901234567890123456789012345678901234567890";
    for (std::size_t piece : {1u, 7u, 64u, 100u})
        EXPECT_EQ(md5Of(digits, piece), "57edf4a22be3c955ac49da2e2107b67a") << piece;
}
