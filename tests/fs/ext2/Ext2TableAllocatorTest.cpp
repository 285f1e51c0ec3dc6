// The scan's large tables: filled past the size where they move to mapped memory, grown and
// copied there, they keep every value; names appended to a pool stay readable where they were.
#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "fs/ext2/ext2Class.h"

namespace vindaru::test {
namespace {

TEST(Ext2TableAllocator, TablesGrownFromTheHeapIntoMappedMemoryKeepTheirValues) {
    Ext2Table<std::uint32_t> table;
    // From a few bytes to 12 MiB: every growth step, across the mapped size, copies.
    for (std::uint32_t i = 0; i < (3u << 20); ++i) table.push_back(i * 2654435761u);
    for (std::uint32_t i = 0; i < table.size(); i += 4099) ASSERT_EQ(table[i], i * 2654435761u) << i;
    EXPECT_EQ(table.back(), ((3u << 20) - 1) * 2654435761u);

    Ext2Table<std::uint32_t> copy = table;
    table.clear();
    table.shrink_to_fit();
    EXPECT_EQ(copy[(3u << 20) - 7], ((3u << 20) - 7) * 2654435761u);
    copy.resize(10);
    copy.shrink_to_fit(); // back from mapped memory to the heap
    EXPECT_EQ(copy[9], 9 * 2654435761u);
}

TEST(Ext2TableAllocator, ANamePoolReservedLargeHoldsEveryName) {
    std::basic_string<char, std::char_traits<char>, Ext2TableAllocator<char>> pool;
    pool.reserve(3u << 20);
    std::vector<std::pair<std::size_t, std::string>> names;
    for (int i = 0; i < 200000; ++i) {
        const std::string name = "file-" + std::to_string(i) + ".dat";
        names.emplace_back(pool.size(), name);
        pool.append(name);
    }
    for (std::size_t i = 0; i < names.size(); i += 997)
        ASSERT_EQ(std::string_view(pool).substr(names[i].first, names[i].second.size()), names[i].second);
}

} // namespace
} // namespace vindaru::test
