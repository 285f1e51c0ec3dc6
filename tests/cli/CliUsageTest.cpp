// vindaru-cli as a user meets it when something is wrong: usage errors exit 1 with the usage,
// images that cannot be opened exit 2 with the program's message, nothing ever crashes.
#include <gtest/gtest.h>

#include <random>

#include "cli/CliRunner.h"

namespace vindaru::test {
namespace {

bool mentions(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

TEST(CliUsage, NoOrUnknownCommandShowsTheCommandsAndExitsOne) {
    auto none = runCli({});
    EXPECT_EQ(none.exitCode, 1);
    EXPECT_TRUE(mentions(none.err, "usage: vindaru-cli COMMAND"));

    auto unknown = runCli({"frobnicate"});
    EXPECT_EQ(unknown.exitCode, 1);
    EXPECT_TRUE(mentions(unknown.err, "unknown command 'frobnicate'"));

    auto help = runCli({"help"});
    EXPECT_EQ(help.exitCode, 0);
    for (const char* command : {"info IMAGE", "export IMAGE FOLDER", "cat IMAGE", "VOLUME: --volume N"})
        EXPECT_TRUE(mentions(help.out, command)) << command;
}

TEST(CliUsage, BadArgumentsExitOneWithTheCommandsUsage) {
    struct Case {
        std::vector<std::string> args;
        std::string says;
    };
    const std::vector<Case> cases = {
        {{"info"}, "missing IMAGE"},
        {{"export", "disk.vmdk"}, "missing FOLDER"},
        {{"cat", "disk.vmdk", "extra"}, "unexpected argument 'extra'"},
        {{"cat", "disk.vmdk", "--bogus"}, "unknown option '--bogus'"},
        {{"cat", "disk.vmdk", "--offset"}, "option --offset needs a value"},
        {{"cat", "disk.vmdk", "--offset", "12k"}, "whole number"},
        {{"cat", "disk.vmdk", "--length=-5"}, "whole number"},
        {{"cat", "disk.vmdk", "--offset", "99999999999999999999999"}, "whole number"},
        {{"info", "disk.vmdk", "--kind", "qed"}, "--kind takes vmdk, vhd, vdi, vhdx or qcow2"},
        {{"info", "disk.vmdk", "--extent", "COMPRESSED"}, "--extent takes SPARSE or FLAT"},
        {{"info", "disk.vmdk", "--split", "--descriptor"}, "cannot be used together"},
        {{"info", "disk.vhd", "--kind", "vhd", "--split"}, "VMDK images only"},
        {{"info", "disk.vmdk", "--disk-mb", "18446744073709551615"}, "--disk-mb is too large"},
        {{"info", "disk.vmdk", "--json=yes"}, "takes no value"},
    };
    for (const auto& c : cases) {
        auto r = runCli(c.args);
        EXPECT_EQ(r.exitCode, 1) << c.says;
        EXPECT_TRUE(mentions(r.err, c.says)) << "stderr: " << r.err;
        EXPECT_TRUE(mentions(r.err, "usage: vindaru-cli " + c.args[0])) << r.err;
        EXPECT_TRUE(r.out.empty());
    }
    auto help = runCli({"cat", "--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_TRUE(mentions(help.out, "--offset BYTES"));
}

TEST(CliUsage, MissingImageFileExitsTwoWithTheProgramsMessage) {
    ScratchDir dir;
    for (const char* command : {"info", "cat"}) {
        auto r = runCli({command, (dir / "absent.vmdk").string()});
        EXPECT_EQ(r.exitCode, 2) << command;
        EXPECT_TRUE(mentions(r.err, "file not opened..")) << r.err;
    }
    auto r = runCli({"export", (dir / "absent.vmdk").string(), dir.path().string()});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_TRUE(mentions(r.err, "file not opened..")) << r.err;
    EXPECT_TRUE(fs::is_empty(dir.path()));
}

std::vector<std::uint8_t> randomBytes(std::size_t size, unsigned seed) {
    std::mt19937 generator(seed);
    std::vector<std::uint8_t> bytes(size);
    for (auto& b : bytes)
        b = static_cast<std::uint8_t>(generator());
    return bytes;
}

// Garbage under each extension, empty files and one-sector files: a message and exit 2, or
// (where the reader takes the file as a disk) bytes read without a crash; never a signal.
TEST(CliUsage, GarbageAndTinyImagesNeverCrash) {
    ScratchDir dir;
    int index = 0;
    for (const char* ext : {".vmdk", ".vhd", ".vdi"}) {
        for (std::size_t size : {0u, 100u, 512u, 70000u}) {
            const fs::path image = dir / ("garbage" + std::to_string(index++) + ext);
            writeFile(image, randomBytes(size, static_cast<unsigned>(index)));
            // A garbage header may claim a disk of any size: cat only its start.
            for (const std::vector<std::string>& command :
                 {std::vector<std::string>{"info", image.string()},
                  std::vector<std::string>{"cat", image.string(), "--length", "65536"}}) {
                auto r = runCli(command);
                EXPECT_TRUE(r.exitCode == 0 || r.exitCode == 2)
                    << command[0] << " " << image << " exit " << r.exitCode << "\n"
                    << r.err;
                if (r.exitCode == 2) {
                    EXPECT_FALSE(r.err.empty()) << image;
                }
            }
        }
    }
}

TEST(CliUsage, AVmdkWithoutTheSparseHeaderNeedsToBeToldWhatItIs) {
    ScratchDir dir;
    const fs::path flat = dir / "flat.vmdk";
    writeFile(flat, randomBytes(4096, 7));
    auto r = runCli({"cat", flat.string(), "--extent", "SPARSE"});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_TRUE(mentions(r.err, "--extent FLAT")) << r.err;

    auto asFlat = runCli({"cat", flat.string(), "--extent", "flat"});
    EXPECT_EQ(asFlat.exitCode, 0) << asFlat.err;
    const auto bytes = readFile(flat);
    EXPECT_TRUE(asFlat.out == std::string(bytes.begin(), bytes.end()));
}

} // namespace
} // namespace vindaru::test

namespace vindaru::test {
namespace {

TEST(CliUsage, VersionAndVerboseWhereverTheyStand) {
    for (const char* flag : {"--version", "-V"}) {
        auto r = runCli({flag});
        EXPECT_EQ(r.exitCode, 0);
        EXPECT_TRUE(r.out.starts_with("vindaru-cli ")) << r.out;
        EXPECT_TRUE(r.err.empty());
    }
    // A failure prints the messages held back in quiet mode.
    ScratchDir dir;
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"--verbose", "info", (dir / "absent.vmdk").string()},
          std::vector<std::string>{"info", (dir / "absent.vmdk").string(), "-v"},
          std::vector<std::string>{"info", (dir / "absent.vmdk").string()}}) {
        auto r = runCli(args);
        EXPECT_EQ(r.exitCode, 2);
        EXPECT_TRUE(mentions(r.err, "file not opened..")) << r.err;
    }
}

} // namespace
} // namespace vindaru::test
