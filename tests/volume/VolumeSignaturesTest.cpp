// The partition-table decoders on their own: truncated structures and the count rule's fine print.
#include <gtest/gtest.h>

#include "volume/VolumeSignatures.h"

namespace vindaru {
namespace {

TEST(VolumeSignatures, ShortSpansReadAsZeros) {
    const std::vector<std::uint8_t> none;
    EXPECT_EQ(decodeMbrEntries(none)[0].type, 0);
    EXPECT_FALSE(isProtectiveMbr(none));
    EXPECT_EQ(gptEntryLimit(none), 0u);
}

TEST(VolumeSignatures, GptNamesAndTheCountRule) {
    std::vector<std::uint8_t> array(kGptArrayReadBytes, 0);
    auto entry = [&](std::size_t i, std::uint8_t guid0, std::uint64_t first, const char16_t* name) {
        std::uint8_t* e = &array[i * kGptEntrySize];
        e[0] = guid0;
        e[15] = 1;
        for (int b = 0; b < 8; ++b) e[32 + b] = static_cast<std::uint8_t>(first >> (8 * b));
        for (std::size_t c = 0; name[c]; ++c) {
            e[56 + 2 * c] = static_cast<std::uint8_t>(name[c]);
            e[57 + 2 * c] = static_cast<std::uint8_t>(name[c] >> 8);
        }
    };
    entry(0, 0xA2, 2048, u"Basic data partition");
    entry(1, 0xA2, 2, u"starts too early");
    EXPECT_EQ(gptEntryLimit(array), 1u);
    EXPECT_EQ(decodeGptEntry(ByteSpan(array).first(kGptEntrySize)).name, "Basic data partition");
    // Only the first 72 entries are looked at.
    std::fill(array.begin(), array.end(), 0);
    entry(71, 0xA2, 4096, u"last");
    entry(72, 0xA2, 8192, u"beyond");
    EXPECT_EQ(gptEntryLimit(array), 72u);
    EXPECT_EQ(gptNameThroughCodePage("Caf\u00e9 \u20ac \u0416"), "Caf\u00e9 \u20ac ?");
}

} // namespace
} // namespace vindaru
