// Differencing VHDs and VDI snapshot children opened the way the program opens an image: each
// sector comes from the nearest layer that holds it, the parent is found by what the child says
// (VHD parent locators of every platform, a VDI parent's id among the images beside it), and a
// parent that is missing or another disk is refused by name, or read around when allowed.
#include <gtest/gtest.h>

#include "ChainBuilders.h"
#include "common/ByteLoader.h"
#include "image/FileReadSeekVHD.h"
#include "image/FileReadSeekVdi.h"
#include "image/ImageChain.h"
#include "image/SessionReader.h"
#include "image/VdiLayout.h"
#include "support/TestSupport.h"

namespace vindaru {
namespace {

using namespace vindaru::test;

constexpr std::uint64_t kMiB = 1u << 20;

std::vector<std::uint8_t> sectorOf(std::uint8_t value) { return std::vector<std::uint8_t>(512, value); }

struct Opened {
    Session session;
    RecordingMessageSink messages;
    bool ok = false;
    Opened() { session.messages = &messages; }

    template <typename Reader> void open(const fs::path& path) {
        openAsSessionReader(session, std::make_unique<Reader>(session), path.string(), &ok);
    }
    const readWriteInterface& reader() const { return *session.sessionReader; }
    std::vector<std::uint8_t> all(ReadReport* report = nullptr) const {
        std::vector<std::uint8_t> out(reader().size());
        reader().readAt(0, out, report);
        return out;
    }
    std::string said() const {
        std::string all;
        for (const auto& t : messages.texts()) all += t + "\n";
        return all;
    }
};

// A base dynamic VHD of 8 MiB and a child holding a few sectors of blocks 0 and 2.
struct VhdPair {
    ScratchDir dir;
    std::vector<std::uint8_t> disk = patternDisk(8 * kMiB);
    std::map<std::uint64_t, std::vector<std::uint8_t>> childSectors{
        {3, sectorOf(0x33)}, {4, sectorOf(0x44)}, {2 * 4096 + 7, sectorOf(0x77)}};
    std::vector<std::uint8_t> expected() const {
        auto e = disk;
        for (const auto& [s, bytes] : childSectors) std::copy(bytes.begin(), bytes.end(), e.begin() + s * 512);
        return e;
    }
    void writeBase(const std::string& name = "base.vhd", std::uint8_t id = 1) {
        auto base = buildDynamicVhd(disk);
        setVhdUniqueId(base, makeId(id));
        writeFile(dir / name, base);
    }
    void writeChild(VhdDiffPlan plan, const std::string& name = "child.vhd") {
        writeFile(dir / name, buildDiffVhd(childSectors, plan));
    }
};

TEST(DifferencingVhd, SectorsComeFromTheChildsBitmapAndTheRestFromTheParent) {
    VhdPair p;
    p.writeBase();
    VhdDiffPlan plan;
    plan.locators = {{vhd::kPlatformW2ru, utf16le(".\\base.vhd")}};
    p.writeChild(plan);
    Opened o;
    o.open<FileReadSeekVHD>(p.dir / "child.vhd");
    ASSERT_TRUE(o.ok) << o.said();
    EXPECT_EQ(o.reader().kindText(), "vhd (differencing)");
    EXPECT_EQ(o.all(), p.expected());
    ASSERT_EQ(o.session.chainLines.size(), 2u);
    EXPECT_NE(o.session.chainLines[1].find("base.vhd"), std::string::npos);
    // An unaligned read across the child's own and the parent's sectors.
    std::vector<std::uint8_t> piece(1000);
    ReadReport report;
    EXPECT_TRUE(o.reader().readAt(3 * 512 - 100, piece, &report));
    EXPECT_EQ(piece, slice(p.expected(), 3 * 512 - 100, 1000));
    EXPECT_FALSE(report.damaged());
    EXPECT_TRUE(chainDamage(o.reader()).empty());
}

TEST(DifferencingVhd, EveryKindOfLocatorLeadsToTheParent) {
    VhdPair p;
    p.writeBase("parent disk.vhd");
    const std::string absolute = (p.dir / "parent disk.vhd").string();
    std::vector<std::uint8_t> alias(80, 0);
    alias[50] = 15;
    std::memcpy(alias.data() + 51, "parent disk.vhd", 15);
    const std::vector<std::pair<std::uint32_t, std::vector<std::uint8_t>>> locators[] = {
        {{vhd::kPlatformW2ku, utf16le(absolute)}},
        {{vhd::kPlatformMacX, [&] {
              std::string url = "file://localhost" + absolute;
              url.replace(url.find("parent disk"), 11, "parent%20disk");
              return std::vector<std::uint8_t>(url.begin(), url.end());
          }()}},
        {{vhd::kPlatformWi2r, [] {
              std::string s = ".\\parent disk.vhd";
              return std::vector<std::uint8_t>(s.begin(), s.end());
          }()}},
        {{vhd::kPlatformMac, alias}},
        // A stale relative path written elsewhere, then an absolute one from another machine:
        // the file name beside the child is tried.
        {{vhd::kPlatformW2ru, utf16le("..\\moved\\x.vhd")}, {vhd::kPlatformW2ku, utf16le("E:\\vms\\parent disk.vhd")}},
    };
    for (const auto& set : locators) {
        VhdDiffPlan plan;
        plan.parentName = "";
        plan.locators = set;
        p.writeChild(plan);
        Opened o;
        o.open<FileReadSeekVHD>(p.dir / "child.vhd");
        ASSERT_TRUE(o.ok) << o.said();
        EXPECT_EQ(o.all(), p.expected());
    }
}

TEST(DifferencingVhd, AParentWithAnotherIdOrMissingIsRefusedByNameOrReadAroundWhenAllowed) {
    VhdPair p;
    p.writeBase("base.vhd", 5); // not the id the child expects
    VhdDiffPlan plan;
    plan.locators = {{vhd::kPlatformW2ru, utf16le("base.vhd")}};
    p.writeChild(plan);
    {
        Opened o;
        o.open<FileReadSeekVHD>(p.dir / "child.vhd");
        EXPECT_FALSE(o.ok);
        EXPECT_NE(o.said().find("child.vhd"), std::string::npos) << o.said();
        EXPECT_NE(o.said().find(vhd::uniqueIdText(plan.parentId)), std::string::npos) << o.said();
        EXPECT_NE(o.said().find(vhd::uniqueIdText(makeId(5))), std::string::npos) << o.said();
    }
    fs::remove(p.dir / "base.vhd");
    Opened o;
    o.session.allowMissingParent = true;
    o.open<FileReadSeekVHD>(p.dir / "child.vhd");
    ASSERT_TRUE(o.ok) << o.said();
    EXPECT_FALSE(o.session.chainNote.empty());
    ReadReport report;
    const auto bytes = o.all(&report);
    EXPECT_EQ(report.unreadableBytes(), 8 * kMiB - 3 * 512);
    EXPECT_EQ(slice(bytes, 3 * 512, 512), sectorOf(0x33));
    EXPECT_TRUE(allZero(slice(bytes, 0, 3 * 512)));
    // The damage map knows the same from the maps alone: blocks 1 and 3 wholly, blocks 0 and 2
    // where their bitmaps leave them to the parent.
    std::uint64_t listed = 0;
    for (const ByteRange& r : chainDamage(o.reader())) {
        EXPECT_EQ(r.reason, Damage::MissingParent);
        listed += r.length;
    }
    EXPECT_EQ(listed, report.unreadableBytes());
}

TEST(DifferencingVhd, AChainOfThreeReadsAsOfAnyLayer) {
    VhdPair p;
    p.writeBase();
    VhdDiffPlan mid;
    mid.uniqueId = makeId(2);
    mid.locators = {{vhd::kPlatformW2ru, utf16le("base.vhd")}};
    p.writeChild(mid, "mid.vhd");
    const auto midExpected = p.expected();
    VhdDiffPlan top;
    top.uniqueId = makeId(3);
    top.parentId = makeId(2);
    top.locators = {{vhd::kPlatformW2ru, utf16le("mid.vhd")}};
    p.childSectors = {{4, sectorOf(0xCC)}, {3 * 4096, sectorOf(0xDD)}};
    writeFile(p.dir / "top.vhd", buildDiffVhd(p.childSectors, top));
    auto topExpected = midExpected;
    for (const auto& [s, bytes] : p.childSectors) std::copy(bytes.begin(), bytes.end(), topExpected.begin() + s * 512);

    for (std::int64_t layer : {-1, 2, 1, 0}) {
        Opened o;
        o.session.chainLayer = layer;
        o.open<FileReadSeekVHD>(p.dir / "top.vhd");
        ASSERT_TRUE(o.ok) << o.said();
        EXPECT_EQ(o.all(), layer == 1 ? midExpected : layer == 0 ? p.disk : topExpected) << layer;
        ASSERT_EQ(o.session.chainLines.size(), 3u);
    }
}

// Where the next data may be, over a chain: the nearest of the child's stored blocks and the
// parent's data under the blocks the child leaves to it.
TEST(DifferencingVhd, NextDataIsTheNearestDataOfEitherLayer) {
    ScratchDir dir;
    constexpr std::uint32_t kBlock = 512 * 1024;
    VhdPlan basePlan;
    basePlan.blockSize = kBlock;
    basePlan.absent = {0, 1, 2, 3, 4, 5, 9, 10, 11, 12, 13, 14, 15}; // data in blocks 6 to 8
    auto base = buildDynamicVhd(patternDisk(8 * kMiB), basePlan);
    setVhdUniqueId(base, makeId(1));
    writeFile(dir / "base.vhd", base);
    VhdDiffPlan plan;
    plan.blockSize = kBlock;
    plan.locators = {{vhd::kPlatformW2ru, utf16le(".\\base.vhd")}};
    writeFile(dir / "child.vhd", buildDiffVhd({{3, sectorOf(0x33)}, {10 * 1024 + 5, sectorOf(0x55)}}, plan));
    Opened o;
    o.open<FileReadSeekVHD>(dir / "child.vhd");
    ASSERT_TRUE(o.ok) << o.said();
    const readWriteInterface& r = o.reader();
    EXPECT_EQ(r.nextData(0), 0u) << "the child's own block";
    EXPECT_EQ(r.nextData(kBlock), 6u * kBlock) << "the parent's first data";
    EXPECT_EQ(r.nextData(7 * kBlock + 9), 7u * kBlock + 9);
    EXPECT_EQ(r.nextData(9 * kBlock), 10u * kBlock) << "the child's block past the parent's data";
    EXPECT_EQ(r.nextData(11 * kBlock), r.size());
    // Never past a byte that is not a hole.
    for (std::uint64_t at = 0; at < r.size(); at += kBlock / 2)
        EXPECT_TRUE(r.nextData(at) == at || r.isHole(at, r.nextData(at) - at)) << at;
}

TEST(DamagedVhd, ACutCopyReadsFromTheFooterCopyAndMarksWhatIsGone) {
    ScratchDir dir;
    const auto disk = patternDisk(8 * kMiB);
    auto img = buildDynamicVhd(disk);
    // Blocks 0 and 1 whole, half of block 2, block 3 and the footer gone.
    img.resize(2048 + 2 * (512 + 2 * kMiB) + 512 + kMiB);
    writeFile(dir / "cut.vhd", img);
    Opened o;
    o.open<FileReadSeekVHD>(dir / "cut.vhd");
    ASSERT_TRUE(o.ok) << o.said();
    ASSERT_EQ(o.reader().size(), disk.size());
    const auto& vhd = dynamic_cast<const FileReadSeekVHD&>(o.reader());
    EXPECT_TRUE(vhd.footerCopyUsed());
    bool said = false;
    for (const auto& line : vhd.structureLines()) said = said || line.find("copy at the start") != std::string::npos;
    EXPECT_TRUE(said);

    ReadReport report;
    const auto bytes = o.all(&report);
    EXPECT_EQ(slice(bytes, 0, 4 * kMiB), slice(disk, 0, 4 * kMiB));
    ASSERT_TRUE(report.damaged());
    EXPECT_EQ(report.unreadableRanges().front().reason, Damage::PastEndOfFile);
    EXPECT_EQ(report.unreadableRanges().back().end(), disk.size());
    const auto damage = chainDamage(o.reader());
    ASSERT_FALSE(damage.empty());
    EXPECT_EQ(damage.front().offset, report.unreadableRanges().front().offset);
    EXPECT_EQ(damage.back().end(), disk.size());
}

TEST(DamagedVhd, BatEntriesIntoTheHeadersOrSharedByTwoBlocksAreUnreadable) {
    ScratchDir dir;
    const auto disk = patternDisk(8 * kMiB);
    VhdPlan plan;
    auto img = buildDynamicVhd(disk, plan);
    const std::uint32_t block1 = be32(img, 1536 + 4);
    putBe(img, 1536 + 8, block1, 4); // block 2 points at block 1's place
    putBe(img, 1536 + 12, 1, 4);     // block 3 into the dynamic header
    writeFile(dir / "bad.vhd", img);
    Opened o;
    o.open<FileReadSeekVHD>(dir / "bad.vhd");
    ASSERT_TRUE(o.ok) << o.said();
    ReadReport report;
    const auto bytes = o.all(&report);
    EXPECT_EQ(slice(bytes, 0, 2 * kMiB), slice(disk, 0, 2 * kMiB));
    EXPECT_EQ(report.unreadableBytes(), 6 * kMiB);
    for (const ByteRange& r : report.unreadableRanges()) EXPECT_EQ(r.reason, Damage::InvalidMapEntry);
    EXPECT_EQ(chainDamage(o.reader()).size(), 1u);
}

// ---- VDI ----

struct VdiFamily {
    ScratchDir dir;
    std::vector<std::uint8_t> disk = patternDisk(6 * kMiB);
    std::vector<std::uint8_t> childDisk = patternDisk(6 * kMiB, 9);
    void write(const std::string& name, const std::vector<std::uint8_t>& d, const VdiPlan& plan, std::uint8_t id,
               const Id16* parent) {
        auto img = buildVdi(d, plan);
        setVdiIds(img, makeId(id), parent);
        writeFile(dir / name, img);
    }
};

TEST(DifferencingVdi, TheParentIsFoundByItsIdBesideTheChildAndZeroedBlocksStayZero) {
    VdiFamily f;
    f.write("a-other.vdi", f.disk, {}, 7, nullptr); // same folder, another disk
    f.write("base.vdi", f.disk, {}, 1, nullptr);
    VdiPlan childPlan;
    childPlan.absent = {0, 2, 3, 5};
    childPlan.zeroed = {3};
    const Id16 parentId = makeId(1);
    f.write("snap.vdi", f.childDisk, childPlan, 2, &parentId);
    Opened o;
    o.open<FileReadSeekVdi>(f.dir / "snap.vdi");
    ASSERT_TRUE(o.ok) << o.said();
    EXPECT_EQ(o.reader().kindText(), "vdi (differencing)");
    EXPECT_EQ(o.reader().parent()->layerId(), vdi::uuidText(makeId(1)));
    auto expected = f.disk;
    for (std::uint64_t b : {1, 4}) std::copy_n(f.childDisk.begin() + b * kMiB, kMiB, expected.begin() + b * kMiB);
    std::fill_n(expected.begin() + 3 * kMiB, kMiB, 0);
    EXPECT_EQ(o.all(), expected);
}

TEST(DifferencingVdi, AParentNotBesideTheChildIsNamedByTheUser) {
    VdiFamily f;
    fs::create_directories(f.dir / "elsewhere");
    f.write("elsewhere/base.vdi", f.disk, {}, 1, nullptr);
    VdiPlan childPlan;
    childPlan.absent = {0, 1, 2, 3, 4, 5};
    const Id16 parentId = makeId(1);
    f.write("snap.vdi", f.childDisk, childPlan, 2, &parentId); // holds nothing yet
    {
        Opened o;
        o.open<FileReadSeekVdi>(f.dir / "snap.vdi");
        EXPECT_FALSE(o.ok);
        EXPECT_NE(o.said().find(vdi::uuidText(parentId)), std::string::npos) << o.said();
    }
    Opened o;
    o.session.namedParents = {(f.dir / "elsewhere/base.vdi").string()};
    o.open<FileReadSeekVdi>(f.dir / "snap.vdi");
    ASSERT_TRUE(o.ok) << o.said();
    EXPECT_EQ(o.all(), f.disk);
}

TEST(DamagedVdi, MapEntriesOutOfRangeOrUsedTwiceAndACutFileAreUnreadable) {
    VdiFamily f;
    VdiPlan plan;
    plan.entryOverride = {{1, 0}, {4, 0x00FFFFFF}}; // block 1 shares block 0's place; 4 is far out
    auto img = buildVdi(f.disk, plan);
    img.resize(img.size() - kMiB / 2); // the last block cut in half
    writeFile(f.dir / "bad.vdi", img);
    Opened o;
    o.open<FileReadSeekVdi>(f.dir / "bad.vdi");
    ASSERT_TRUE(o.ok) << o.said();
    ReadReport report;
    const auto bytes = o.all(&report);
    EXPECT_EQ(slice(bytes, 2 * kMiB, 2 * kMiB), slice(f.disk, 2 * kMiB, 2 * kMiB));
    EXPECT_EQ(report.unreadableBytes(), 3 * kMiB + kMiB / 2);
    const auto damage = chainDamage(o.reader());
    ASSERT_EQ(damage.size(), 3u);
    EXPECT_EQ(damage[0].offset, 0u);
    EXPECT_EQ(damage[0].length, 2 * kMiB);
    EXPECT_EQ(damage[0].reason, Damage::InvalidMapEntry);
    EXPECT_EQ(damage[1].offset, 4 * kMiB);
    EXPECT_EQ(damage[2].reason, Damage::PastEndOfFile);
    EXPECT_EQ(damage[2].end(), 6 * kMiB);
}

} // namespace
} // namespace vindaru
