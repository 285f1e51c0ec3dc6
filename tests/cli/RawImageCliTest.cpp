// A raw (dd) image needs no image options: a file without a VMDK, VHD or VDI signature is read
// as a flat disk, with one line on stderr saying so; a file too small to be a disk still fails.
#include <gtest/gtest.h>

#include "support/TestSupport.h"

namespace vindaru {
namespace {

using test::runCommand;
using test::shellQuote;

test::CommandResult cli(const std::string& command, const std::string& image, const std::string& options) {
    return runCommand(std::string(VINDARU_CLI_PATH) + " " + command + " " + shellQuote(image) + " " + options);
}

std::vector<std::uint8_t> noise(std::size_t size) {
    std::vector<std::uint8_t> out(size);
    std::uint32_t state = 12345;
    for (auto& b : out) b = static_cast<std::uint8_t>((state = state * 1103515245u + 12345u) >> 24);
    return out;
}

bool says(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

TEST(RawImageCli, ACorpusRawDiskGivesTheRowsAndFilesOfItsFlatReading) {
    const auto raw = test::unpackedCorpusImage("generated/mbr-disk.raw.zst");
    if (!raw) GTEST_SKIP() << "corpus image generated/mbr-disk.raw.zst is not available";
    const auto plain = cli("volumes", raw->string(), "--json");
    const auto flat = cli("volumes", raw->string(), "--extent FLAT --json");
    ASSERT_EQ(plain.exitCode, 0) << plain.err;
    EXPECT_EQ(plain.out, flat.out);
    EXPECT_TRUE(says(plain.err, "read as a raw disk")) << plain.err;
    EXPECT_FALSE(says(flat.err, "read as a raw disk")) << "FLAT given: nothing to say";

    const auto files = cli("ls", raw->string(), "--volume 0 -r --tsv --md5");
    const auto flatFiles = cli("ls", raw->string(), "--volume 0 -r --tsv --md5 --extent FLAT");
    ASSERT_EQ(files.exitCode, 0) << files.err;
    EXPECT_FALSE(files.out.empty());
    EXPECT_EQ(files.out, flatFiles.out);
}

TEST(RawImageCli, SignaturesStillDecideAndTinyOrExplicitlySparseFilesFail) {
    test::ScratchDir dir;
    const auto random = noise(64 * 1024);
    test::writeFile(dir / "disk.vhd", random); // the name is no signature
    const auto asRaw = cli("cat", (dir / "disk.vhd").string(), "--length 4096");
    ASSERT_EQ(asRaw.exitCode, 0) << asRaw.err;
    EXPECT_TRUE(asRaw.out == std::string(random.begin(), random.begin() + 4096));

    test::writeFile(dir / "tiny.img", std::vector<std::uint8_t>(100, 7));
    const auto tiny = cli("volumes", (dir / "tiny.img").string(), "");
    EXPECT_EQ(tiny.exitCode, 2);
    EXPECT_TRUE(says(tiny.err, "is not a disk image")) << tiny.err;

    test::writeFile(dir / "disk.img", random);
    const auto info = cli("info", (dir / "disk.img").string(), "");
    EXPECT_EQ(info.exitCode, 0) << info.err;
    EXPECT_TRUE(says(info.out, "\nKind: raw\n")) << info.out;
    const auto sparse = cli("cat", (dir / "disk.img").string(), "--extent SPARSE");
    EXPECT_EQ(sparse.exitCode, 2);
    EXPECT_TRUE(says(sparse.err, "--extent FLAT")) << sparse.err;

    // A truncated sparse VMDK keeps its signature and is refused as what it is.
    std::vector<std::uint8_t> cut(300, 0);
    cut[0] = 'K', cut[1] = 'D', cut[2] = 'M', cut[3] = 'V';
    test::writeFile(dir / "cut.vmdk", cut);
    const auto truncated = cli("volumes", (dir / "cut.vmdk").string(), "");
    EXPECT_NE(truncated.exitCode, 0);
    EXPECT_TRUE(says(truncated.err, "file not opened..")) << truncated.err;
}

} // namespace
} // namespace vindaru
