// The QCOW2 reader on images qemu-img makes from a corpus disk (both versions, compressed with
// deflate and zstd, extended L2 entries, 512-byte and 2 MiB clusters, a backing chain, a raw
// backing file, internal snapshots): every byte read equals what `qemu-img convert -O raw` gives
// of the same image.
#include <gtest/gtest.h>

#include <algorithm>

#include "common/Session.h"
#include "image/FileReadSeekQcow2.h"
#include "image/ImageChain.h"
#include "image/ReaderFactory.h"
#include "support/TestSupport.h"

namespace vindaru {
namespace {

namespace fs = std::filesystem;

class Qcow2CorpusTest : public ::testing::Test {
  protected:
    void SetUp() override {
        const auto raw = test::unpackedCorpusImage("generated/mbr-disk.raw.zst");
        if (!raw || test::runCommand("qemu-img --version").exitCode != 0)
            GTEST_SKIP() << "needs the corpus disk mbr-disk.raw.zst, zstd and qemu-img";
        raw_ = *raw;
    }
    // Runs a qemu-img or qemu-io command line in the scratch folder.
    void run(const std::string& command) {
        const auto r = test::runCommand("cd " + test::shellQuote(dir_.path().string()) + " && " + command);
        ASSERT_EQ(r.exitCode, 0) << command << "\n" << r.err;
    }
    std::string raw() const { return test::shellQuote(raw_.string()); }

    std::unique_ptr<FileReadSeekQcow2> open(const std::string& name, const std::string& snapshot = "") {
        auto r = std::make_unique<FileReadSeekQcow2>(session_);
        r->snapshot = snapshot;
        EXPECT_TRUE(r->open((dir_ / name).string())) << r->openProblem();
        return r;
    }
    // Compares every byte the reader gives with qemu-img's raw conversion (of the snapshot, when
    // one is named).
    void expectAsQemu(const readWriteInterface& reader, const std::string& name, const std::string& snapshot = "") {
        const std::string out = name + (snapshot.empty() ? "" : "-" + snapshot) + ".raw";
        run("qemu-img convert -O raw " + (snapshot.empty() ? "" : "-l snapshot.name=" + snapshot + " ") + name +
            " " + out);
        const auto expected = test::readFile(dir_ / out);
        ASSERT_EQ(reader.size(), expected.size());
        std::vector<std::uint8_t> got(expected.size());
        ReadReport report;
        EXPECT_TRUE(reader.readAt(0, got, &report));
        EXPECT_FALSE(report.damaged());
        EXPECT_TRUE(got == expected) << name << " differs from qemu-img's reading";
        std::vector<ByteRange> damage;
        reader.describeDamage(damage);
        EXPECT_TRUE(damage.empty());
    }

    Session session_;
    test::ScratchDir dir_;
    fs::path raw_;
};

TEST_F(Qcow2CorpusTest, EveryLayoutQemuWritesReadsAsQemuReadsIt) {
    const std::vector<std::pair<std::string, std::string>> variants{
        {"v2.qcow2", "-O qcow2 -o compat=0.10"},
        {"v3.qcow2", "-O qcow2 -o compat=1.1"},
        {"deflate.qcow2", "-c -O qcow2"},
        {"zstd.qcow2", "-c -O qcow2 -o compression_type=zstd,cluster_size=2M"},
        {"extended.qcow2", "-O qcow2 -o extended_l2=on,cluster_size=128k"},
        {"small.qcow2", "-O qcow2 -o cluster_size=512"},
    };
    for (const auto& [name, options] : variants) {
        SCOPED_TRACE(name);
        run("qemu-img convert -f raw " + options + " " + raw() + " " + name);
        auto reader = open(name);
        expectAsQemu(*reader, name);
    }
}

TEST_F(Qcow2CorpusTest, ABackingChainReadsThroughItsLayers) {
    run("qemu-img convert -f raw -O qcow2 " + raw() + " base.qcow2");
    run("qemu-img create -f qcow2 -o extended_l2=on -b base.qcow2 -F qcow2 top.qcow2");
    run("qemu-io -c 'write -P 0xab 1M 3k' -c 'write -z 9M 64k' -c 'write -P 0x11 20M 1M' top.qcow2");
    auto top = open("top.qcow2");
    const auto link = top->parentLink();
    ASSERT_TRUE(link);
    EXPECT_EQ(link->candidatePaths, std::vector<std::string>{"base.qcow2"});
    EXPECT_EQ(link->formatHint, "qcow2");
    top->attachParent(open("base.qcow2"));
    expectAsQemu(*top, "top.qcow2");
}

// A raw disk as the backing file, named as raw or (older images) with no format at all, which
// qemu then probes: the chain opens it one-to-one.
TEST_F(Qcow2CorpusTest, ARawBackingFileNamedOrProbedIsReadAsARawDisk) {
    run("cp " + raw() + " base.img");
    run("qemu-img create -f qcow2 -b base.img -F raw named.qcow2");
    run("qemu-io -c 'write -P 0xab 1M 3k' -c 'write -z 9M 64k' named.qcow2");
    run("cp named.qcow2 probed.qcow2");
    // Without its backing-format extension (its type word zeroed: the end of the extensions).
    auto bytes = test::readFile(dir_ / "probed.qcow2");
    const std::uint8_t type[] = {0xE2, 0x79, 0x2A, 0xCA};
    const auto at = std::search(bytes.begin(), bytes.begin() + 4096, std::begin(type), std::end(type));
    ASSERT_NE(at, bytes.begin() + 4096);
    std::fill(at, at + 4, 0);
    test::writeFile(dir_ / "probed.qcow2", bytes);

    for (const std::string name : {"named.qcow2", "probed.qcow2"}) {
        SCOPED_TRACE(name);
        const std::string path = (dir_ / name).string();
        auto top = createReaderByContent(session_, path);
        ASSERT_TRUE(top && top->open(path));
        EXPECT_EQ(top->parentLink()->formatHint, name == "named.qcow2" ? "raw" : "");
        ImageChain chain(session_, {});
        ASSERT_TRUE(chain.follow(top, path)) << chain.message();
        ASSERT_EQ(chain.layers().size(), 2u);
        expectAsQemu(*top, name);
    }
}

TEST_F(Qcow2CorpusTest, InternalSnapshotsAreListedAndReadAsOfThem) {
    run("qemu-img convert -f raw -O qcow2 " + raw() + " snap.qcow2");
    run("qemu-img snapshot -c before snap.qcow2");
    run("qemu-io -c 'write -P 0xcd 2M 1M' -c 'discard 8M 1M' snap.qcow2");
    run("qemu-img snapshot -c after snap.qcow2");
    run("qemu-io -c 'write -P 0xef 2M 512k' snap.qcow2");
    auto current = open("snap.qcow2");
    ASSERT_EQ(current->snapshots().size(), 2u);
    EXPECT_EQ(current->snapshots()[0].name, "before");
    expectAsQemu(*current, "snap.qcow2");
    for (const std::string name : {"before", "after"}) {
        SCOPED_TRACE(name);
        auto asOf = open("snap.qcow2", name);
        expectAsQemu(*asOf, "snap.qcow2", name);
    }
}

} // namespace
} // namespace vindaru
