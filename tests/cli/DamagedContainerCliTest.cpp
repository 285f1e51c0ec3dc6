// check, info and cat on real containers whose maps were damaged after they were written (a
// directory zeroed, a footer cut off, two entries naming one grain): whatever the damage costs,
// lost bytes or only a lost copy of a table, check exits non-zero and info's summary line says
// so, and cat never passes off wrong bytes as the disk's.
#include <gtest/gtest.h>

#include "cli/CliRunner.h"
#include "image/VmdkTestImages.h"

namespace vindaru::test {
namespace {

std::uint64_t le(const std::vector<std::uint8_t>& b, std::size_t at, int width) {
    std::uint64_t v = 0;
    for (int i = width; i-- > 0;) v = (v << 8) | b[at + static_cast<std::size_t>(i)];
    return v;
}

void putLe32(std::vector<std::uint8_t>& b, std::uint64_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (8 * i));
}

bool sameBytes(const std::string& out, const std::vector<std::uint8_t>& raw, std::uint64_t from, std::uint64_t length) {
    return out.size() == raw.size() &&
           std::equal(raw.begin() + static_cast<std::ptrdiff_t>(from),
                      raw.begin() + static_cast<std::ptrdiff_t>(from + length),
                      reinterpret_cast<const std::uint8_t*>(out.data()) + from);
}

// A copy of a corpus container in a scratch folder, changed before it is written.
struct Copy {
    ScratchDir dir;
    fs::path path;
    std::vector<std::uint8_t> bytes;

    Copy(const fs::path& original, const std::string& name) : path(dir / name), bytes(readFile(original)) {}
    const std::string& write() {
        writeFile(path, bytes);
        text_ = path.string();
        return text_;
    }

  private:
    std::string text_;
};

// The line that starts with "Damage: ", without the prefix.
std::string damageLine(const std::string& out) {
    const auto at = out.find("Damage: ");
    if (at == std::string::npos) return "<none>";
    return out.substr(at + 8, out.find('\n', at) - at - 8);
}

// A monolithic sparse VMDK as qemu-img writes it: the redundant directory, its tables, the
// primary directory, its tables, then the grains.
struct SparseLayout {
    std::uint64_t primary = 0;   // byte offsets of the two directories
    std::uint64_t redundant = 0;
    std::uint64_t entries = 0;   // directory entries
    explicit SparseLayout(const std::vector<std::uint8_t>& f) {
        redundant = le(f, 48, 8) * 512;
        primary = le(f, 56, 8) * 512;
        const std::uint64_t perTable = le(f, 20, 8) * le(f, 44, 4);
        entries = (le(f, 12, 8) + perTable - 1) / perTable;
    }
};

#define REQUIRE_FILE(var, relative)                                                                \
    const auto var = corpusFile(relative);                                                         \
    if (!var) GTEST_SKIP() << "corpus image " << relative << " is not available";

// A lost copy loses no data: cat still gives the raw disk, but check exits 4 and both check and
// info name what is damaged; the sound image keeps the healthy wording and exit status.
TEST(DamagedContainerCli, ALostCopyOfADirectoryOrFooterIsDamageThoughNoByteIsLost) {
    REQUIRE_FILE(vmdk, "generated/mbr-disk.vmdk");
    REQUIRE_FILE(vhd, "generated/mbr-disk.vhd");
    const auto raw = unpackedCorpusImage("generated/mbr-disk.raw.zst");
    if (!raw) GTEST_SKIP() << "generated/mbr-disk.raw.zst (and zstd) not available";
    const auto rawBytes = readFile(*raw);

    Copy sound(*vmdk, "sound.vmdk");
    const auto soundCheck = runCli({"check", sound.write()});
    EXPECT_EQ(soundCheck.exitCode, 0) << soundCheck.out;
    EXPECT_EQ(damageLine(soundCheck.out), "no unreadable ranges");
    EXPECT_EQ(damageLine(runCli({"info", sound.path.string()}).out), "no unreadable ranges");

    struct Case {
        std::string name;
        bool primary; // which directory is zeroed
        std::string phrase;
    };
    for (const Case& c : {Case{"primary.vmdk", true, "the primary grain directory or its tables are damaged"},
                          Case{"redundant.vmdk", false, "the redundant grain directory or its tables are damaged"}}) {
        Copy copy(*vmdk, c.name);
        const SparseLayout layout(copy.bytes);
        std::fill_n(copy.bytes.begin() + static_cast<std::ptrdiff_t>(c.primary ? layout.primary : layout.redundant),
                    layout.entries * 4, std::uint8_t{0});
        const std::string& path = copy.write();
        const auto check = runCli({"check", path});
        EXPECT_EQ(check.exitCode, 4) << c.name << "\n" << check.out;
        EXPECT_EQ(damageLine(check.out), "no unreadable ranges; " + c.phrase) << c.name;
        EXPECT_EQ(damageLine(runCli({"info", path}).out), "no unreadable ranges; " + c.phrase) << c.name;
        const auto cat = runCli({"cat", path});
        EXPECT_EQ(cat.exitCode, 0) << c.name << cat.err;
        EXPECT_TRUE(cat.out.size() == rawBytes.size() && std::equal(rawBytes.begin(), rawBytes.end(),
                                                                     reinterpret_cast<const std::uint8_t*>(cat.out.data())))
            << c.name << ": the other directory gives every grain";
        // Whole bytes, yet cat does not keep the damage to itself.
        EXPECT_NE(cat.err.find("the image's structure is damaged (" + c.phrase + ")"), std::string::npos)
            << c.name << cat.err;
    }
    EXPECT_EQ(runCli({"cat", sound.path.string(), "--length", "4096"}).err, "") << "a sound image: nothing said";

    // A dynamic VHD without the footer at its end is read through the copy at its start.
    Copy footless(*vhd, "footless.vhd");
    footless.bytes.resize(footless.bytes.size() - 512);
    const auto check = runCli({"check", footless.write()});
    EXPECT_EQ(check.exitCode, 4) << check.out;
    EXPECT_EQ(damageLine(check.out), "no unreadable ranges; the footer at the end of the file is missing or damaged");
    const auto info = runCli({"info", footless.path.string(), "--json"});
    EXPECT_NE(info.out.find("\"structuralDamage\": [\"the footer at the end of the file is missing or damaged\"]"),
              std::string::npos)
        << info.out;
}

// Two grain-table entries naming one grain: cat never gives grain A's bytes for grain B. Crossed in
// both directories' tables, both grains are unreadable (invalid map entry) and cat and check exit
// 4; crossed in the primary's alone, the redundant tables give both grains, cat exits 0 with the
// raw disk and check still exits 4, naming the damaged directory.
TEST(DamagedContainerCli, CrossLinkedGrainsAreNeverReadAsEachOther) {
    REQUIRE_FILE(vmdk, "generated/mbr-disk.vmdk");
    const auto raw = unpackedCorpusImage("generated/mbr-disk.raw.zst");
    if (!raw) GTEST_SKIP() << "generated/mbr-disk.raw.zst (and zstd) not available";
    const auto rawBytes = readFile(*raw);
    const auto original = readFile(*vmdk);
    const SparseLayout layout(original);
    const std::uint64_t grainBytes = le(original, 20, 8) * 512;
    // Two stored grains (not the first, not neighbours), and where their entries are.
    std::uint64_t a = 0, b = 0;
    auto entryAt = [&](std::uint64_t directory, std::uint64_t grain) {
        return le(original, directory + grain / 512 * 4, 4) * 512 + grain % 512 * 4;
    };
    for (std::uint64_t g = 0; g < layout.entries * 512 && b == 0; ++g) {
        if (le(original, layout.primary + g / 512 * 4, 4) == 0 || le(original, entryAt(layout.primary, g), 4) == 0)
            continue;
        if (a == 0 && g != 0)
            a = g;
        else if (a != 0 && g > a + 1) // apart, so that each is a range of its own
            b = g;
    }
    ASSERT_NE(b, 0u);

    for (const bool both : {true, false}) {
        Copy copy(*vmdk, both ? "both.vmdk" : "primary.vmdk");
        const auto value = static_cast<std::uint32_t>(le(original, entryAt(layout.primary, a), 4));
        putLe32(copy.bytes, entryAt(layout.primary, b), value);
        if (both) putLe32(copy.bytes, entryAt(layout.redundant, b), value);
        const std::string& path = copy.write();
        const auto cat = runCli({"cat", path});
        const auto check = runCli({"check", path});
        EXPECT_EQ(check.exitCode, 4) << check.out;
        if (both) {
            EXPECT_EQ(cat.exitCode, 4);
            EXPECT_NE(cat.err.find("bytes " + std::to_string(a * grainBytes) + " to " +
                                   std::to_string((a + 1) * grainBytes - 1)), std::string::npos) << cat.err;
            EXPECT_NE(cat.err.find("invalid map entry"), std::string::npos) << cat.err;
            EXPECT_NE(damageLine(check.out).find("2 ranges unreadable"), std::string::npos) << check.out;
            EXPECT_TRUE(sameBytes(cat.out, rawBytes, 0, a * grainBytes)) << "the grains before are read";
        } else {
            EXPECT_EQ(cat.exitCode, 0) << cat.err;
            EXPECT_TRUE(sameBytes(cat.out, rawBytes, 0, rawBytes.size()));
            EXPECT_EQ(damageLine(check.out), "no unreadable ranges; the primary grain directory or its tables are damaged");
        }
    }
}

// Both grain directories zeroed, the tables and grains intact: the tables lie where qemu-img put
// them and are found, so cat gives the raw disk while check exits 4 naming the lost directories.
// With the first table of each set overwritten as well nothing checks out: the whole disk is
// unreadable for the lost directory, never a disk of zeros that exits 0.
TEST(DamagedContainerCli, LostGrainDirectoriesAreRebuiltOrTheDiskIsUnreadable) {
    REQUIRE_FILE(vmdk, "generated/mbr-disk.vmdk");
    const auto raw = unpackedCorpusImage("generated/mbr-disk.raw.zst");
    if (!raw) GTEST_SKIP() << "generated/mbr-disk.raw.zst (and zstd) not available";
    const auto rawBytes = readFile(*raw);

    Copy blank(*vmdk, "blank.vmdk");
    const SparseLayout layout(blank.bytes);
    const std::uint64_t firstTables[] = {le(blank.bytes, layout.primary, 4) * 512, le(blank.bytes, layout.redundant, 4) * 512};
    for (const std::uint64_t at : {layout.primary, layout.redundant})
        std::fill_n(blank.bytes.begin() + static_cast<std::ptrdiff_t>(at), layout.entries * 4, std::uint8_t{0});
    const std::string& path = blank.write();
    const auto cat = runCli({"cat", path});
    EXPECT_EQ(cat.exitCode, 0) << cat.err;
    EXPECT_TRUE(sameBytes(cat.out, rawBytes, 0, rawBytes.size()));
    const auto check = runCli({"check", path});
    EXPECT_EQ(check.exitCode, 4) << check.out;
    EXPECT_EQ(damageLine(check.out), "no unreadable ranges; the grain directories were lost; their tables were found and used");

    Copy lost(*vmdk, "lost.vmdk");
    lost.bytes = blank.bytes;
    for (const std::uint64_t table : firstTables)
        std::fill_n(lost.bytes.begin() + static_cast<std::ptrdiff_t>(table), 2048, std::uint8_t{0});
    const std::string& lostPath = lost.write();
    const auto lostCat = runCli({"cat", lostPath});
    EXPECT_EQ(lostCat.exitCode, 4);
    EXPECT_NE(lostCat.err.find("bytes 0 to " + std::to_string(rawBytes.size() - 1) + " (52.00 MB): grain directory lost"),
              std::string::npos) << lostCat.err;
    const auto lostCheck = runCli({"check", lostPath});
    EXPECT_EQ(lostCheck.exitCode, 4) << lostCheck.out;
    EXPECT_EQ(damageLine(lostCheck.out), "1 range unreadable, 52.0 MB; the grain directories are lost");
    EXPECT_EQ(damageLine(runCli({"info", lostPath}).out), "1 range unreadable, 52.0 MB; the grain directories are lost");
}

// info reads the maps alone and does not inflate a stream-optimized disk's grains; its summary
// says so rather than calling a disk sound whose grain check finds damaged. check inflates them.
TEST(DamagedContainerCli, InfoSaysTheGrainsOfAStreamWereNotVerified) {
    const auto raw = unpackedCorpusImage("generated/mbr-disk.raw.zst");
    if (!raw) GTEST_SKIP() << "generated/mbr-disk.raw.zst (and zstd) not available";
    const auto disk = readRange(*raw, 0, 4 << 20);
    const auto image = streamOptimizedImage(
        disk, 128, true, descriptorText("streamOptimized", {"RW 8192 SPARSE \"stream.vmdk\""}));
    std::uint64_t grain = 1;
    while (grain < image.grainMarkerAt.size() && image.grainMarkerAt[grain] == 0) ++grain;
    ASSERT_LT(grain, image.grainMarkerAt.size());

    Copy sound(*raw, "stream.vmdk");
    sound.bytes = image.file;
    const auto soundInfo = runCli({"info", sound.write()});
    EXPECT_EQ(damageLine(soundInfo.out),
              "no unreadable ranges in the map (grain data not verified; `vindaru-cli check` inflates every grain)");
    EXPECT_NE(runCli({"info", sound.path.string(), "--json"}).out.find("\"dataVerified\": false"), std::string::npos);
    EXPECT_EQ(runCli({"check", sound.path.string()}).exitCode, 0);

    Copy garbled(*raw, "stream.vmdk");
    garbled.bytes = image.file;
    std::fill_n(garbled.bytes.begin() + static_cast<std::ptrdiff_t>(image.grainMarkerAt[grain] + 40), 64, std::uint8_t{0xFF});
    const std::string& path = garbled.write();
    const auto check = runCli({"check", path});
    EXPECT_EQ(check.exitCode, 4) << check.out;
    EXPECT_NE(check.out.find("compressed data damaged"), std::string::npos) << check.out;
    EXPECT_EQ(damageLine(runCli({"info", path}).out), damageLine(soundInfo.out));

    // A sparse disk's data is all in its map: info's summary is the plain one.
    REQUIRE_FILE(vmdk, "generated/mbr-disk.vmdk");
    EXPECT_NE(runCli({"info", vmdk->string(), "--json"}).out.find("\"dataVerified\": true"), std::string::npos);
}

} // namespace
} // namespace vindaru::test
