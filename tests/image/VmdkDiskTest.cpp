// A VMDK disk assembled from its descriptor: extents keep their places whatever is missing,
// names are resolved as the descriptor writes them, and the descriptor says what a delta is.
#include <gtest/gtest.h>

#include <numeric>

#include "image/VmdkDisk.h"
#include "image/VmdkTestImages.h"

namespace vindaru {
namespace {

using test::descriptorText;

const VmdkExtent::AbsentFill kHole = [](std::uint64_t at, std::span<std::uint8_t> out, ReadReport* r) {
    std::fill(out.begin(), out.end(), std::uint8_t{0});
    if (r) r->addHole(at, out.size());
    return true;
};

std::vector<std::uint8_t> bytesOf(const std::string& text) { return {text.begin(), text.end()}; }

std::vector<std::uint8_t> flatBytes(std::size_t sectors, std::uint8_t salt) {
    std::vector<std::uint8_t> f;
    for (std::size_t s = 0; s < sectors; ++s) {
        const auto p = test::sectorPattern(s, salt);
        f.insert(f.end(), p.begin(), p.end());
    }
    return f;
}

TEST(VmdkDiskDescriptor, ReadsIdsParentAndEveryKindOfExtentLine) {
    const auto d = parseVmdkDiskDescriptor(
        "# Disk DescriptorFile\nversion=1\nCID=ABCDEF01\nparentCID=12345678\ncreateType=\"vmfsSparse\"\n"
        "parentFileNameHint=\"/vmfs/volumes/ds1/vm/base disk.vmdk\"\n# Extent description\n"
        "RW 16384 VMFSSPARSE \"vm-000001-delta.vmdk\"\nRDONLY 100 FLAT \"with space.vmdk\" 2048\r\n"
        "NOACCESS 8 ZERO\nRW x FLAT \"bad count\"\nddb.geometry.heads = \"16\"\n");
    EXPECT_EQ(d.contentId, "abcdef01");
    EXPECT_EQ(d.parentContentId, "12345678");
    EXPECT_EQ(d.parentFileNameHint, "/vmfs/volumes/ds1/vm/base disk.vmdk");
    EXPECT_TRUE(d.hasParent());
    ASSERT_EQ(d.extents.size(), 3u);
    EXPECT_EQ(d.extents[0].type, "VMFSSPARSE");
    EXPECT_EQ(d.extents[1].file, "with space.vmdk");
    EXPECT_EQ(d.extents[1].offsetSectors, 2048u);
    EXPECT_EQ(d.extents[2].type, "ZERO");
    EXPECT_TRUE(d.extents[2].file.empty());
    EXPECT_FALSE(parseVmdkDiskDescriptor(descriptorText("monolithicSparse", {})).hasParent());
}

TEST(VmdkDisk, AMissingExtentIsUnreadableWhereItLiesAndLaterOnesKeepTheirPlaces) {
    const auto f1 = flatBytes(8, 1), f3 = flatBytes(8, 3);
    test::SparseVmdkBuilder last(64, 8, 512);
    last.allocate(0);
    const auto lastBytes = last.build();
    for (const bool lastMissing : {false, true}) {
        MemoryFiles files;
        const auto desc = bytesOf(descriptorText(
            "twoGbMaxExtentFlat", {"RW 8 FLAT \"d-f001.vmdk\" 0", "RW 8 FLAT \"d-f002.vmdk\" 0",
                                   "RW 8 FLAT \"/elsewhere/d-f003.vmdk\" 0", "RW 64 SPARSE \"d-s004.vmdk\""}));
        files.add("set/d.vmdk", desc);
        files.add("set/d-f001.vmdk", f1);
        files.add("/elsewhere/d-f003.vmdk", f3); // absolute: not in the descriptor's folder
        if (!lastMissing) files.add("set/d-s004.vmdk", lastBytes);
        VmdkDisk disk;
        std::string error;
        ASSERT_TRUE(disk.open("set/d.vmdk", &files, false, error)) << error;
        EXPECT_EQ(disk.size(), (8 + 8 + 8 + 64) * 512u) << "the descriptor gives the size";
        std::vector<std::uint8_t> out(disk.size());
        ReadReport report;
        EXPECT_FALSE(disk.read(0, out, &report, kHole));
        EXPECT_TRUE(std::equal(f1.begin(), f1.end(), out.begin()));
        EXPECT_TRUE(std::equal(f3.begin(), f3.end(), out.begin() + 16 * 512));
        auto bad = report.unreadableRanges();
        ASSERT_EQ(bad.size(), lastMissing ? 2u : 1u);
        EXPECT_EQ(bad[0], (ByteRange{8 * 512, 8 * 512, RangeKind::Unreadable, Damage::MissingExtent}));
        if (lastMissing) {
            EXPECT_EQ(bad[1], (ByteRange{24 * 512, 64 * 512, RangeKind::Unreadable, Damage::MissingExtent}));
        }
        std::vector<ByteRange> damage;
        disk.describeDamage(damage);
        EXPECT_EQ(damage, bad);
        EXPECT_EQ(disk.missingExtents().size(), lastMissing ? 2u : 1u);
    }
}

TEST(VmdkDisk, RecognisesEachFileByItsContent) {
    MemoryFiles files;
    const auto desc = bytesOf(descriptorText("monolithicFlat", {"RW 4 FLAT \"x-flat.vmdk\" 2"}));
    const auto flat = flatBytes(6, 5);
    const auto cowd = test::cowdDelta(4096, 16, {1}, 2);
    const std::vector<std::uint8_t> raw(4096, 0x33);
    files.add("x.vmdk", desc);
    files.add("x-flat.vmdk", flat);
    files.add("c.vmdk", cowd);
    files.add("raw.img", raw);
    std::string error;
    VmdkDisk d;
    ASSERT_TRUE(d.open("x.vmdk", &files, false, error)) << error;
    std::vector<std::uint8_t> out(4 * 512);
    EXPECT_TRUE(d.read(0, out, nullptr, kHole));
    EXPECT_TRUE(std::equal(out.begin(), out.end(), flat.begin() + 1024)) << "the line's offset";
    VmdkDisk c;
    ASSERT_TRUE(c.open("c.vmdk", &files, false, error)) << error;
    EXPECT_EQ(c.kindText(), "vmfsSparse");
    VmdkDisk r;
    EXPECT_FALSE(r.open("raw.img", &files, false, error));
    EXPECT_NE(error.find("no VMDK header"), std::string::npos);
    VmdkDisk rf;
    EXPECT_TRUE(rf.open("raw.img", &files, true, error));
    EXPECT_EQ(rf.size(), 4096u);
}

// ESXi keeps a snapshot as a descriptor naming a COWD or SEsparse delta and, by its hint, the
// base disk; what the delta does not hold comes from the base.
TEST(VmdkDisk, EsxiDeltasReadThroughTheirBaseDisk) {
    MemoryFiles files;
    const auto flat = flatBytes(4096, 7);
    const auto base = bytesOf(descriptorText("vmfs", {"RW 4096 VMFS \"vm-flat.vmdk\""}));
    const auto cowd = test::cowdDelta(4096, 16, {2, 100}, 8);
    const auto se = test::seSparseDelta(4096, {3, 300}, {5}, 9);
    auto delta = [](const std::string& type, const std::string& file) {
        std::string t = descriptorText(type == "VMFSSPARSE" ? "vmfsSparse" : "seSparse",
                                       {"RW 4096 " + type + " \"" + file + "\""});
        t.replace(t.find("parentCID=ffffffff"), 18, "parentCID=12345678\nparentFileNameHint=\"vm.vmdk\"");
        return bytesOf(t);
    };
    const auto cowdDescriptor = delta("VMFSSPARSE", "vm-000001-delta.vmdk");
    const auto seDescriptor = delta("SESPARSE", "vm-000001-sesparse.vmdk");
    files.add("ds/vm.vmdk", base);
    files.add("ds/vm-flat.vmdk", flat);
    files.add("ds/vm-000001-delta.vmdk", cowd);
    files.add("ds/vm-000001-sesparse.vmdk", se);
    files.add("ds/vm-000001.vmdk", cowdDescriptor);
    files.add("ds/vm-000002.vmdk", seDescriptor);
    std::string error;
    VmdkDisk baseDisk;
    ASSERT_TRUE(baseDisk.open("ds/vm.vmdk", &files, false, error)) << error;
    const VmdkExtent::AbsentFill fromBase = [&](std::uint64_t at, std::span<std::uint8_t> out, ReadReport* r) {
        return baseDisk.read(at, out, r, kHole);
    };
    for (const auto& [name, grainSectors, held, zero, salt] :
         {std::tuple<std::string, std::uint64_t, std::vector<std::uint64_t>, std::uint64_t, std::uint8_t>{
              "ds/vm-000001.vmdk", 16, {2, 100}, ~0ull, 8},
          {"ds/vm-000002.vmdk", 8, {3, 300}, 5, 9}}) {
        VmdkDisk d;
        ASSERT_TRUE(d.open(name, &files, false, error)) << error;
        EXPECT_TRUE(d.isDelta());
        EXPECT_EQ(d.descriptor().parentFileNameHint, "vm.vmdk");
        std::vector<std::uint8_t> out(d.size());
        ReadReport report;
        EXPECT_TRUE(d.read(0, out, &report, fromBase)) << name;
        for (std::uint64_t s = 0; s < 4096; ++s) {
            const std::uint64_t g = s / grainSectors;
            const auto want = std::find(held.begin(), held.end(), g) != held.end() ? test::sectorPattern(s, salt)
                              : g == zero ? std::vector<std::uint8_t>(512, 0)
                                          : test::sectorPattern(s, 7);
            ASSERT_TRUE(std::equal(want.begin(), want.end(), out.begin() + static_cast<std::ptrdiff_t>(s * 512)))
                << name << " sector " << s;
        }
    }
}

} // namespace
} // namespace vindaru
