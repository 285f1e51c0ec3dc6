// The VHDX reader on images qemu-img makes from a corpus disk (dynamic and fixed, several block
// and log sizes): every byte read equals what `qemu-img convert -O raw` gives of the same image.
#include <gtest/gtest.h>

#include "common/Session.h"
#include "image/FileReadSeekVhdx.h"
#include "support/TestSupport.h"

namespace vindaru {
namespace {

TEST(VhdxCorpus, EveryLayoutQemuWritesReadsAsQemuReadsIt) {
    const auto raw = test::unpackedCorpusImage("generated/gpt-disk.raw.zst");
    if (!raw || test::runCommand("qemu-img --version").exitCode != 0)
        GTEST_SKIP() << "needs the corpus disk gpt-disk.raw.zst, zstd and qemu-img";
    test::ScratchDir dir;
    Session session;
    const std::vector<std::pair<std::string, std::string>> variants{
        {"dynamic.vhdx", ""},
        {"fixed.vhdx", "-o subformat=fixed"},
        {"small-blocks.vhdx", "-o block_size=1M,log_size=8M"},
        {"large-blocks.vhdx", "-o block_size=256M"},
    };
    for (const auto& [name, options] : variants) {
        SCOPED_TRACE(name);
        const std::string image = (dir / name).string();
        const std::string out = (dir / (name + ".raw")).string();
        ASSERT_EQ(test::runCommand("qemu-img convert -f raw -O vhdx " + options + " " +
                                   test::shellQuote(raw->string()) + " " + test::shellQuote(image))
                      .exitCode,
                  0);
        ASSERT_EQ(test::runCommand("qemu-img convert -O raw " + test::shellQuote(image) + " " + test::shellQuote(out))
                      .exitCode,
                  0);
        const auto expected = test::readFile(out);
        FileReadSeekVhdx reader(session);
        ASSERT_TRUE(reader.open(image)) << reader.openProblem();
        ASSERT_EQ(reader.size(), expected.size());
        std::vector<std::uint8_t> got(expected.size());
        ReadReport report;
        EXPECT_TRUE(reader.readAt(0, got, &report));
        EXPECT_FALSE(report.damaged());
        EXPECT_TRUE(got == expected);
        std::vector<ByteRange> damage;
        reader.describeDamage(damage);
        EXPECT_TRUE(damage.empty());
        EXPECT_EQ(reader.kindText(), name == "fixed.vhdx" ? "vhdx (fixed)" : "vhdx (dynamic)");
    }
}

} // namespace
} // namespace vindaru
