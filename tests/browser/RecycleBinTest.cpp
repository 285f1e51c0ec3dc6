#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "browser/RecycleBinNames.h"
#include "browser/TableEntryView.h"

using namespace vindaru;
using vindaru::test::TableEntryView;

namespace {

std::string utf16le(const std::string& ascii) {
    std::string out;
    for (char c : ascii) {
        out.push_back(c);
        out.push_back('\0');
    }
    return out;
}

// An index file of the first layout: version 1, size, deletion time, path at byte 24.
std::string indexV1(const std::string& path) {
    std::string head(24, '\0');
    head[0] = 1;
    return head + utf16le(path) + std::string(2, '\0');
}

// The later layout: version 2, ..., a 4-byte length in characters at 24, the path at 28.
std::string indexV2(const std::string& path) {
    std::string head(28, '\0');
    head[0] = 2;
    head[24] = static_cast<char>(path.size() + 1);
    return head + utf16le(path) + std::string(2, '\0');
}

std::vector<std::uint8_t> bytes(const std::string& s) { return {s.begin(), s.end()}; }

} // namespace

TEST(RecycleIndex, BothLayoutsGiveTheFormerName) {
    EXPECT_EQ(recycleIndexFormerName(bytes(indexV1("D:\\docs\\report.txt"))), "report.txt");
    EXPECT_EQ(recycleIndexFormerName(bytes(indexV2("C:\\Users\\p\\Stra\xdf" "e.pdf"))).value_or(""),
              "Stra\xC3\x9F" "e.pdf");
    EXPECT_EQ(recycleIndexFormerName(bytes(indexV1("noslash.txt"))), "noslash.txt");
    EXPECT_FALSE(recycleIndexFormerName(bytes(std::string(20, '\0'))).has_value());
}

namespace {

struct RecycleFixture : ::testing::Test {
    TableEntryView view;
    CheckTree tree;
    TreeItemId volume = kNoTreeItem;
    EntryRef root = 0;

    void SetUp() override {
        root = view.add(0, "", true);
        view.root = root;
        volume = tree.insertItem("ROOT", IconKind::Folder, kTreeTop);
    }
    EntryRef topFolder(const std::string& name) {
        const EntryRef e = view.add(root, name, true);
        const TreeItemId item = tree.insertItem(name, IconKind::Folder, volume);
        tree.setItemData(item, e);
        return e;
    }
};

} // namespace

TEST_F(RecycleFixture, PerUserFoldersRenameTheirDataPartners) {
    const EntryRef bin = topFolder("$RECYCLE.BIN");
    const EntryRef user = view.add(bin, "S-1-5-21-1", true);
    view.add(user, "$IAB12CD.txt", false, indexV1("D:\\docs\\report.txt"));
    const EntryRef data = view.add(user, "$RAB12CD.txt", false, "content");
    view.add(user, "$IEF34.pdf", false, indexV2("C:\\x\\new.pdf"));
    const EntryRef data2 = view.add(user, "$REF34.pdf", false, "pdf");
    view.add(user, "$IBIG.txt", false, indexV1("C:\\big.txt") + std::string(2048, 'x'));
    const EntryRef big = view.add(user, "$RBIG.txt", false, "b");
    const EntryRef loose = view.add(bin, "$RLOOSE", false, "l"); // not in a user folder
    view.add(bin, "$ILOOSE", false, indexV1("C:\\loose"));

    EXPECT_EQ(RecycleBinNames(tree, volume, view, RecycleBinNames::Layout::PerUserFolders).restore(), 2u);
    EXPECT_EQ(view.label(data), "report.txt");
    EXPECT_EQ(view.label(data2), "new.pdf");
    EXPECT_EQ(view.label(big), "$RBIG.txt") << "an index file of 2048 bytes or more is ignored";
    EXPECT_EQ(view.label(loose), "$RLOOSE");
}

TEST_F(RecycleFixture, FlatLayoutAndCaseRules) {
    const EntryRef bin = topFolder("$RECYCLEBIN");
    view.add(bin, "$I1.TXT", false, indexV1("C:\\a\\one.txt"));
    const EntryRef data = view.add(bin, "$R1.TXT   ", false, "1"); // FAT names keep trailing blanks
    const EntryRef sub = view.add(bin, "sub", true);
    view.add(sub, "$I2", false, indexV1("C:\\two"));
    const EntryRef subData = view.add(sub, "$R2", false, "2");
    const EntryRef sid = view.add(bin, "S-1-5-21-1-2-3-1001", true);
    view.add(sid, "$I4.pdf", false, indexV1("E:\\docs\\four.pdf"));
    const EntryRef sidData = view.add(sid, "$R4.pdf", false, "4");
    const EntryRef other = topFolder("$Recycle.Bin");
    view.add(other, "$I3", false, indexV1("C:\\three"));
    const EntryRef otherData = view.add(other, "$R3", false, "3");

    RecycleBinNames(tree, volume, view, RecycleBinNames::Layout::Flat).restore();
    EXPECT_EQ(view.label(data), "one.txt");
    EXPECT_EQ(view.label(subData), "$R2") << "subfolders of a flat recycle bin are not processed";
    EXPECT_EQ(view.label(sidData), "four.pdf") << "but per-user folders are";
    EXPECT_EQ(view.label(otherData), "$R3") << "the folder name must match in letter case";
}
