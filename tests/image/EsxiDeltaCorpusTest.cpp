// ESXi snapshot deltas (vmfsSparse and SEsparse) over a base disk, built here and read both by
// the chain as the command line opens it and by `qemu-img convert -O raw`: the two readings must
// agree byte for byte, which pins the delta layouts to what another reader takes them to be.
#include <gtest/gtest.h>

#include "common/Session.h"
#include "image/ImageChain.h"
#include "image/ReaderFactory.h"
#include "image/VmdkTestImages.h"
#include "support/TestSupport.h"

namespace vindaru {
namespace {

namespace fs = std::filesystem;

constexpr std::uint64_t kSectors = 70000; // past one 4096-entry grain table of either kind

std::vector<std::uint8_t> bytesOf(const std::string& text) { return {text.begin(), text.end()}; }

std::string deltaDescriptor(const std::string& createType, const std::string& extentLine) {
    std::string t = test::descriptorText(createType, {extentLine});
    t.replace(t.find("parentCID=ffffffff"), 18, "parentCID=12345678\nparentFileNameHint=\"vm.vmdk\"");
    return t;
}

TEST(EsxiDeltaCorpus, DeltasReadThroughTheirBaseAsQemuReadsThem) {
    if (test::runCommand("qemu-img --version").exitCode != 0) GTEST_SKIP() << "needs qemu-img";
    test::ScratchDir dir;
    std::vector<std::uint8_t> flat(kSectors * 512);
    for (std::uint64_t s = 0; s < kSectors; ++s) {
        const auto p = test::sectorPattern(s, 7);
        std::copy(p.begin(), p.end(), flat.begin() + static_cast<std::ptrdiff_t>(s * 512));
    }
    test::writeFile(dir / "vm-flat.vmdk", flat);
    test::writeFile(dir / "vm.vmdk",
                    bytesOf(test::descriptorText("vmfs", {"RW " + std::to_string(kSectors) + " VMFS \"vm-flat.vmdk\""})));
    // Grains at both ends, on both sides of the first table's end, and a zero grain (SEsparse).
    test::writeFile(dir / "vm-000001-delta.vmdk", test::cowdDelta(kSectors, 16, {0, 3, 4095, 4096, 4374}, 8));
    test::writeFile(dir / "vm-000001.vmdk",
                    bytesOf(deltaDescriptor("vmfsSparse", "RW " + std::to_string(kSectors) +
                                                              " VMFSSPARSE \"vm-000001-delta.vmdk\"")));
    test::writeFile(dir / "vm-000002-sesparse.vmdk",
                    test::seSparseDelta(kSectors, {0, 1, 4095, 4096, 8749}, {2, 5000}, 9));
    test::writeFile(dir / "vm-000002.vmdk",
                    bytesOf(deltaDescriptor("seSparse", "RW " + std::to_string(kSectors) +
                                                            " SESPARSE \"vm-000002-sesparse.vmdk\"")));

    for (const std::string name : {"vm-000001.vmdk", "vm-000002.vmdk"}) {
        SCOPED_TRACE(name);
        const fs::path path = dir / name;
        const auto converted = test::runCommand("qemu-img convert -O raw " + test::shellQuote(path.string()) + " " +
                                                test::shellQuote((dir / "qemu.raw").string()));
        ASSERT_EQ(converted.exitCode, 0) << converted.err;
        const auto expected = test::readFile(dir / "qemu.raw");
        ASSERT_NE(expected, flat) << "the delta changes nothing";

        Session session;
        auto top = createReaderByContent(session, path.string());
        ASSERT_TRUE(top);
        ASSERT_TRUE(top->open(path.string()));
        ImageChain chain(session, {});
        ASSERT_TRUE(chain.follow(top, path.string())) << chain.message();
        ASSERT_EQ(chain.layers().size(), 2u);
        ASSERT_EQ(top->size(), expected.size());
        std::vector<std::uint8_t> got(expected.size());
        ReadReport report;
        EXPECT_TRUE(top->readAt(0, got, &report));
        EXPECT_FALSE(report.damaged());
        EXPECT_TRUE(got == expected) << "differs from qemu-img's reading";
    }
}

} // namespace
} // namespace vindaru
