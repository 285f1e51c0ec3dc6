// The default signatures over a public carving test image: an NTFS volume holding JPEGs under
// JPEG and other names, deleted ones, and archives and documents. Every such file that starts a
// sector (as NTFS clusters do) is one whole find, byte for byte.
#include <gtest/gtest.h>

#include "common/Md5.h"
#include "raw/DefaultSignatures.h"
#include "raw/myJpg.h"
#include "image/MemoryReader.h"
#include "support/TestSupport.h"

namespace vindaru {
namespace {

TEST(CarveCorpus, PublicJpegSearchImage) {
    const auto image = test::unpackedCorpusImage("external/tsktd-8-jpeg-search.dd.gz");
    if (!image) GTEST_SKIP() << "corpus image external/tsktd-8-jpeg-search.dd.gz is not available";
    const std::vector<std::uint8_t> disk = test::readFile(*image);
    MemoryReader reader(disk);
    myJpg engine;
    for (const auto& r : defaultSignatureRecords()) engine.addSignature(r);
    // The volume as the page sizes it: whole MiB.
    engine.attach(&reader, disk.size() / (1u << 20) * (1u << 20), nullptr, nullptr, nullptr);
    ASSERT_TRUE(engine.carveVolume());

    struct Expected {
        const char* name;
        std::size_t size;
        const char* md5;
        const char* extension;
    };
    const Expected expected[] = {
        {"alloc/file1.jpg", 274260, "75b8d00568815a36c3809b46fc84ba6d", "jpg"},
        {"alloc/file2.dat", 26081, "de5d83153339931371719f4e5c924eba", "jpg"},
        {"del1/file6.jpg", 175630, "afd55222024a4e22f7f5a3a665320763", "jpg"},
        {"del2/file7.hmm", 326859, "0c452c5800fcfa7c66027ae89c4f068a", "jpg"},
        {"archive/file8.zip", 335371, "d41b56e0a9f84eb2825e73c24cedd963", "zip"},
        {"archive/file9.boo", 294124, "73c3029066aee9416a5aeb98a5c55321", "zip"},
        {"misc/file12.doc", 131584, "61c0b55639e52d1ce82aba834ada2bab", "doc"},
    };
    for (const Expected& e : expected) {
        bool found = false;
        for (const auto& f : engine.foundFiles()) {
            if (f.size < e.size || f.start + e.size > disk.size()) continue;
            Md5 digest;
            digest.update(std::span(disk).subspan(f.start, e.size));
            const std::string md5 = digest.finishHex();
            if (md5 == e.md5) {
                found = true;
                EXPECT_EQ(engine.extensionOf(f), e.extension) << e.name;
                // Each ends where the file ends.
                EXPECT_EQ(f.size, e.size) << e.name;
                EXPECT_EQ(f.state, FindState::Whole) << e.name;
            }
        }
        EXPECT_TRUE(found) << e.name << " is not the start of any find";
    }
}

} // namespace
} // namespace vindaru
