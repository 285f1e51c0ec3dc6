// Parent locators of differencing VHDs, for every platform code the format defines, decoded
// from header bytes the way Windows, Mac and older writers leave them.
#include <gtest/gtest.h>

#include "ChainBuilders.h"
#include "image/ReadOnlyFile.h"
#include "image/VhdParentLocator.h"

namespace vindaru {
namespace {

using namespace vindaru::test;

std::vector<std::uint8_t> bytesOf(const std::string& text) { return {text.begin(), text.end()}; }

TEST(VhdParentLocator, EveryPlatformDecodesToAPathAndRelativeOnesComeFirst) {
    std::vector<std::uint8_t> alias(120, 0);
    alias[50] = 8;
    std::memcpy(alias.data() + 51, "base.vhd", 8);
    VhdDiffPlan plan;
    plan.parentId = makeId(9);
    plan.locators = {{vhd::kPlatformW2ku, utf16le("C:\\vms\\base.vhd")},
                     {vhd::kPlatformMac, alias},
                     {vhd::kPlatformMacX, bytesOf("file://localhost/Users/me/my%20vms/base.vhd")},
                     {vhd::kPlatformWi2k, bytesOf("D:\\old\\base.vhd\0\0")},
                     {vhd::kPlatformW2ru, utf16le(".\\base.vhd")},
                     {vhd::kPlatformWi2r, bytesOf("..\\x\\base.vhd")}};
    const auto img = buildDiffVhd({}, plan);
    MemoryFiles files;
    files.add("c.vhd", img);
    ReadOnlyFile file;
    ASSERT_TRUE(file.open("c.vhd", &files));
    const vhd::VhdParent parent =
        vhd::decodeParent(std::span<const std::uint8_t>(img).subspan(512, 1024), file);
    EXPECT_EQ(parent.uniqueId, vhd::uniqueIdText(plan.parentId));
    EXPECT_EQ(parent.name, "base.vhd");
    ASSERT_EQ(parent.locators.size(), 6u);
    EXPECT_EQ(parent.locators[0].path, ".\\base.vhd");
    EXPECT_EQ(parent.locators[1].path, "..\\x\\base.vhd");
    EXPECT_EQ(parent.locators[2].path, "/Users/me/my vms/base.vhd");
    EXPECT_EQ(parent.locators[3].path, "C:\\vms\\base.vhd");
    EXPECT_EQ(parent.locators[4].path, "D:\\old\\base.vhd");
    EXPECT_EQ(parent.locators[5].path, "base.vhd");
}

TEST(VhdParentLocator, LocatorsPointingOutsideTheFileOrHoldingNothingAreLeftOut) {
    VhdDiffPlan plan;
    plan.locators = {{vhd::kPlatformW2ru, utf16le("base.vhd")}, {0x12345678, bytesOf("junk")}};
    auto img = buildDiffVhd({}, plan);
    // The second entry's offset far past the end, the first's length huge.
    putBe(img, 512 + 576 + 24 + 16, ~0ull, 8);
    putBe(img, 512 + 576 + 8, 0xFFFFFFFF, 4);
    MemoryFiles files;
    files.add("c.vhd", img);
    ReadOnlyFile file;
    ASSERT_TRUE(file.open("c.vhd", &files));
    const auto parent = vhd::decodeParent(std::span<const std::uint8_t>(img).subspan(512, 1024), file);
    ASSERT_EQ(parent.locators.size(), 1u);
    EXPECT_EQ(parent.locators[0].path.rfind("base.vhd", 0), 0u);
    EXPECT_TRUE(vhd::decodeLocatorPath(vhd::kPlatformMac, std::vector<std::uint8_t>(10)).empty());
    EXPECT_EQ(vhd::uniqueIdText(std::vector<std::uint8_t>(3, 0xAB)), "ababab00-0000-0000-0000-000000000000");
}

} // namespace
} // namespace vindaru
