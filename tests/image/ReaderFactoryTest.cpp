#include <gtest/gtest.h>

#include <cstring>

#include "image/FileReadSeekVHD.h"
#include "image/FileReadSeekVdi.h"
#include "image/FileReadSeekVmdk.h"
#include "image/FileReadSeekVmdkSplit.h"
#include "image/ReaderFactory.h"
#include "image/VhdVdiBuilders.h"
#include "support/TestSupport.h"

using namespace vindaru;
using namespace vindaru::test;

TEST(ReaderFactory, BuildsTheReaderTheChoicesName) {
    Session session;
    ImageChoices choices;
    choices.kind = ImageKind::Vhd;
    EXPECT_NE(dynamic_cast<FileReadSeekVHD*>(createReader(session, choices).get()), nullptr);
    choices.kind = ImageKind::Vdi;
    EXPECT_NE(dynamic_cast<FileReadSeekVdi*>(createReader(session, choices).get()), nullptr);

    choices = {};
    choices.extentType = "FLAT";
    auto single = createReader(session, choices);
    auto* vmdk = dynamic_cast<FileReadSeekVmdk*>(single.get());
    ASSERT_NE(vmdk, nullptr);
    EXPECT_EQ(vmdk->extentTypeChoice, "FLAT");

    choices.split = true;
    auto split = createReader(session, choices);
    auto* set = dynamic_cast<FileReadSeekVmdkSplit*>(split.get());
    ASSERT_NE(set, nullptr);
    EXPECT_FALSE(set->descriptorMode);
    EXPECT_EQ(set->extentTypeChoice, "FLAT");

    choices.descriptor = true;
    auto described = createReader(session, choices);
    auto* descriptor = dynamic_cast<FileReadSeekVmdkSplit*>(described.get());
    ASSERT_NE(descriptor, nullptr);
    EXPECT_TRUE(descriptor->descriptorMode);
    EXPECT_TRUE(descriptor->extentTypeChoice.empty()) << "descriptor mode takes it from the text";
}

TEST(ReaderFactory, DetectsTheKindByContentBeforeTheName) {
    ScratchDir dir;
    const auto disk = patternDisk(1u << 20, 31);
    auto put = [&](const std::string& name, const std::vector<std::uint8_t>& bytes) {
        writeFile(dir / name, bytes);
        return (dir / name).string();
    };
    // Misleading names on purpose: the content decides.
    EXPECT_EQ(detectImageKind(put("a.vdi", buildDynamicVhd(disk))), ImageKind::Vhd);
    EXPECT_EQ(detectImageKind(put("b.img", buildFixedVhd(disk))), ImageKind::Vhd)
        << "a fixed VHD has its footer only at the end";
    EXPECT_EQ(detectImageKind(put("c.vhd", buildVdi(disk))), ImageKind::Vdi);
    std::vector<std::uint8_t> sparse(512, 0);
    std::memcpy(sparse.data(), "KDMV", 4);
    EXPECT_EQ(detectImageKind(put("d.bin", sparse)), ImageKind::Vmdk);
    const std::string text = "# Disk DescriptorFile\nversion=1\nCID=fffffffe\n"
                             "createType=\"twoGbMaxExtentSparse\"\n";
    EXPECT_EQ(detectImageKind(put("e.txt", {text.begin(), text.end()})), ImageKind::Vmdk);

    // No signature: the extension tells, or nothing does.
    const std::vector<std::uint8_t> plain(4096, 0);
    EXPECT_EQ(detectImageKind(put("f.VMDK", plain)), ImageKind::Vmdk);
    EXPECT_EQ(detectImageKind(put("g.vhd", plain)), ImageKind::Vhd);
    EXPECT_EQ(detectImageKind(put("h.raw", plain)), std::nullopt);
    EXPECT_EQ(detectImageKind(put("i.img", {})), std::nullopt);
    EXPECT_EQ(detectImageKind((dir / "missing.vdi").string()), ImageKind::Vdi);
}

TEST(ReaderFactory, DetectsTheCorpusImages) {
    const auto vhd = corpusFile("generated/mbr-disk.vhd");
    const auto vdi = corpusFile("generated/mbr-disk.vdi");
    const auto vmdk = corpusFile("generated/mbr-disk.vmdk");
    const auto descriptor = corpusFile("generated/tiny-disk-multi-flat.vmdk");
    if (!vhd || !vdi || !vmdk || !descriptor) GTEST_SKIP() << "corpus images absent";
    EXPECT_EQ(detectImageKind(vhd->string()), ImageKind::Vhd);
    EXPECT_EQ(detectImageKind(vdi->string()), ImageKind::Vdi);
    EXPECT_EQ(detectImageKind(vmdk->string()), ImageKind::Vmdk);
    EXPECT_EQ(detectImageKind(descriptor->string()), ImageKind::Vmdk);
}
