// The image page with the containers and chains users bring: VHDX and QCOW2 known by their
// content, a snapshot chain shown and read as of an older layer by the pages after it, a child
// whose parent is missing or is another disk (asked, Yes and No), and a damaged container's
// damage in one line. The images are written by qemu-img from a corpus disk.
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTableWidget>
#include <QTest>
#include <array>

#include <QGroupBox>

#include "app/WizardFixture.h"
#include "image/ReaderFactory.h"
#include "image/VhdxTestImages.h"
#include "image/readWriteInterface.h"

namespace vindaru::test {
namespace {

const QString kSpaceWarning =
    "Make sure you have sufficient disk space at saving location of Image File";
const QRegularExpression kDamageLine("^\\d+ ranges? unreadable, \\d+\\.\\d MB$");

class ImageContainersPage : public WizardFixture {
  protected:
    void SetUp() override {
        WizardFixture::SetUp();
        corpus = corpusFile("generated/mbr-disk.vmdk");
        if (!corpus || runCommand("qemu-img --version").exitCode != 0)
            GTEST_SKIP() << "needs the corpus image generated/mbr-disk.vmdk and qemu-img";
        ASSERT_TRUE(wizard->start());
    }
    // A qemu-img or qemu-io command line run in the scratch folder.
    void run(const std::string& command) {
        const CommandResult r =
            runCommand("cd " + shellQuote(dir.path().string()) + " && " + command + " 2>&1");
        ASSERT_EQ(r.exitCode, 0) << command << ": " << r.out;
    }
    std::string at(const std::string& name) const { return (dir.path() / name).string(); }
    // base.vmdk, a copy of the corpus disk, and child.vmdk above it whose first sector (the MBR)
    // is overwritten with 0x5A bytes.
    void makeChain() {
        run("qemu-img convert -O vmdk " + shellQuote(corpus->string()) + " base.vmdk");
        run("qemu-img create -q -f vmdk -b base.vmdk -F vmdk child.vmdk");
        run("qemu-io -f vmdk -c 'write -P 0x5a 0 512' child.vmdk");
    }
    void choose(QPushButton* button, const std::string& path) {
        nextFile = QString::fromStdString(path);
        button->click();
    }
    QString sizeText() const { return imagePage()->sizeEdit()->text(); }
    QString lastBox() const { return boxes.texts().isEmpty() ? QString() : boxes.texts().last(); }
    // Next on the image page and on the modes page: the volume list, filled.
    app::PopulateDriveDlg* volumesAfterNext() {
        imagePage()->nextButton()->click();
        EXPECT_TRUE(boxes.waitFor(kSpaceWarning));
        auto* modes = visiblePage<app::DriveParsingModes>();
        EXPECT_NE(modes, nullptr);
        return modes ? openVolumePage(modes) : nullptr;
    }
    // Next on the image page and on the modes page, for the later pages' reader alone (the volume
    // list may stay empty): true once it exists.
    bool readerAfterNext() {
        imagePage()->nextButton()->click();
        if (!boxes.waitFor(kSpaceWarning)) return false;
        auto* modes = visiblePage<app::DriveParsingModes>();
        if (!modes) return false;
        modes->nextButton()->click();
        return waitUntil([&] { return wizard->session.sessionReader != nullptr; });
    }
    // The session reader's first sector (the later pages' reader).
    std::array<std::uint8_t, 512> sessionSector0() const {
        std::array<std::uint8_t, 512> sector{};
        if (wizard->session.sessionReader) wizard->session.sessionReader->readAt(0, sector);
        return sector;
    }

    std::optional<fs::path> corpus;
    ScratchDir dir;
};

TEST_F(ImageContainersPage, VhdxAndQcow2OpenByTheirContentAndListTheirVolumes) {
    auto* page = imagePage();
    choose(page->browseButton(), corpus->string());
    const QString diskMb = sizeText();
    run("qemu-img convert -O vhdx " + shellQuote(corpus->string()) + " disk.vhdx");
    run("qemu-img convert -O qcow2 " + shellQuote(corpus->string()) + " disk.qcow2");
    run("cp disk.qcow2 disk-copy.img");

    // Through the VMDK choices a VHDX is named for what it is.
    choose(page->browseButton(), at("disk.vhdx"));
    EXPECT_TRUE(lastBox().contains("is a VHDX image: open it with \"Open VHDX image...\"")) << lastBox().toStdString();
    EXPECT_FALSE(page->nextButton()->isEnabled());

    choose(page->openVhdxButton(), at("disk.vhdx"));
    EXPECT_TRUE(page->nextButton()->isEnabled()) << page->problemLabel()->text().toStdString();
    EXPECT_EQ(sizeText(), diskMb);
    EXPECT_TRUE(page->infoValue(0)->text().startsWith("vhdx")) << page->infoValue(0)->text().toStdString();
    EXPECT_EQ(page->damageValue()->text(), "no unreadable ranges");
    EXPECT_FALSE(page->chainBox()->isVisible()) << "a single file is no chain";
    EXPECT_FALSE(page->splitBox()->isEnabled());

    // The QCOW2 command takes a VHDX for what it is, and a QCOW2 whatever its name.
    choose(page->openQcow2Button(), at("disk.vhdx"));
    EXPECT_TRUE(lastBox().contains("is a VHDX image")) << lastBox().toStdString();
    EXPECT_FALSE(page->nextButton()->isEnabled());
    choose(page->openQcow2Button(), at("disk-copy.img"));
    EXPECT_TRUE(page->nextButton()->isEnabled()) << page->problemLabel()->text().toStdString();
    EXPECT_TRUE(page->infoValue(0)->text().startsWith("qcow2")) << page->infoValue(0)->text().toStdString();
    EXPECT_EQ(sizeText(), diskMb);
    saveScreenshot(page, "1-image-page-qcow2");

    auto* volumes = volumesAfterNext();
    ASSERT_NE(volumes, nullptr);
    EXPECT_GE(rowOfType(volumes->volumeTable(), "NTFS"), 0);
    EXPECT_GE(rowOfType(volumes->volumeTable(), "FAT32"), 0);
}

TEST_F(ImageContainersPage, AnOlderLayerOfAChainIsWhatTheLaterPagesRead) {
    makeChain();
    auto* page = imagePage();
    choose(page->browseButton(), at("child.vmdk"));
    ASSERT_TRUE(page->nextButton()->isEnabled()) << page->problemLabel()->text().toStdString();
    ASSERT_TRUE(page->chainBox()->isVisible());
    QTableWidget* table = page->chainTable();
    ASSERT_EQ(table->rowCount(), 2);
    // Top first, the latest selected.
    EXPECT_EQ(table->item(0, 0)->text(), "1");
    EXPECT_EQ(table->item(0, 1)->text(), "child.vmdk");
    EXPECT_EQ(table->item(1, 0)->text(), "0");
    EXPECT_EQ(table->item(1, 1)->text(), "base.vmdk");
    for (int r = 0; r < 2; ++r) {
        EXPECT_FALSE(table->item(r, 2)->text().isEmpty()) << "the layer's id";
        EXPECT_NE(table->item(r, 3)->text(), "-") << "the layer's modified time";
    }
    EXPECT_TRUE(table->item(0, 0)->isSelected());
    saveScreenshot(page, "1-image-page-chain");

    // The latest layer: the child's sector 0, which holds no partition table.
    page->nextButton()->click();
    ASSERT_TRUE(boxes.waitFor(kSpaceWarning));
    auto* modes = visiblePage<app::DriveParsingModes>();
    ASSERT_NE(modes, nullptr);
    EXPECT_EQ(wizard->session.chainLayer, -1);
    modes->nextButton()->click();
    auto* volumes = visiblePage<app::PopulateDriveDlg>();
    ASSERT_NE(volumes, nullptr);
    EXPECT_TRUE(waitUntil([&] { return sessionSector0()[0] == 0x5A; }));
    volumes->backButton()->click();
    modes->backButton()->click();
    ASSERT_TRUE(page->isVisible());

    // The base layer: the disk as it was, its partition table and volumes back.
    table->selectRow(1);
    QTest::qWait(20);
    EXPECT_EQ(page->logic().chainLayerUsed, 0u);
    ASSERT_EQ(table->rowCount(), 2) << "the whole chain stays listed";
    EXPECT_TRUE(table->item(1, 0)->isSelected());
    EXPECT_TRUE(page->nextButton()->isEnabled());
    boxes.clear();
    volumes = volumesAfterNext();
    ASSERT_NE(volumes, nullptr);
    EXPECT_EQ(wizard->session.chainLayer, 0);
    const auto sector = sessionSector0();
    EXPECT_EQ(sector[510], 0x55);
    EXPECT_EQ(sector[511], 0xAA);
    EXPECT_GE(rowOfType(volumes->volumeTable(), "NTFS"), 0);
}

TEST_F(ImageContainersPage, AMissingParentIsNamedAndAskedAbout) {
    makeChain();
    // Out of the folder: a parent beside its child is found by its id under any name.
    run("mkdir away && mv base.vmdk away/");
    auto* page = imagePage();
    const QString question = "child.vmdk: its parent image base.vmdk (id ";

    // No: the child stays refused, Next off.
    boxes.answerStartingWith(question, QMessageBox::No);
    choose(page->browseButton(), at("child.vmdk"));
    ASSERT_TRUE(lastBox().startsWith(question)) << boxes.texts().join(" | ").toStdString();
    EXPECT_TRUE(lastBox().contains("was not found")) << lastBox().toStdString();
    EXPECT_TRUE(lastBox().contains("marked unreadable"));
    EXPECT_EQ(boxes.texts().size(), 1) << "one question, no other box";
    EXPECT_FALSE(page->nextButton()->isEnabled());
    EXPECT_TRUE(page->problemLabel()->text().startsWith(question)) << page->problemLabel()->text().toStdString();
    page->nextButton()->click();
    EXPECT_EQ(wizard->modesPage, nullptr);

    // Another disk under the parent's name is no parent: its own id is named.
    run("qemu-img create -q -f vmdk base.vmdk 8M");
    boxes.clear();
    choose(page->browseButton(), at("child.vmdk"));
    ASSERT_TRUE(lastBox().startsWith(question)) << lastBox().toStdString();
    EXPECT_TRUE(lastBox().contains("base.vmdk has id")) << lastBox().toStdString();
    EXPECT_FALSE(page->nextButton()->isEnabled());

    // Yes: the child alone, every range it does not hold unreadable, and the pages after it told.
    run("rm base.vmdk");
    boxes.answerStartingWith(question, QMessageBox::Yes);
    choose(page->browseButton(), at("child.vmdk"));
    EXPECT_TRUE(page->nextButton()->isEnabled()) << page->problemLabel()->text().toStdString();
    EXPECT_TRUE(page->damageValue()->text().contains(kDamageLine)) << page->damageValue()->text().toStdString();
    ASSERT_TRUE(page->chainBox()->isVisible());
    QTableWidget* table = page->chainTable();
    ASSERT_EQ(table->rowCount(), 2);
    EXPECT_TRUE(table->item(1, 2)->text().contains("missing")) << table->item(1, 2)->text().toStdString();
    EXPECT_FALSE(table->item(1, 0)->flags() & Qt::ItemIsSelectable) << "a missing layer cannot be read as of";
    saveScreenshot(page, "1-image-page-missing-parent");
    imagePage()->nextButton()->click();
    ASSERT_TRUE(boxes.waitFor(kSpaceWarning));
    EXPECT_TRUE(wizard->session.allowMissingParent);
}

// A parent kept elsewhere is named by hand: the chain is read whole through it.
TEST_F(ImageContainersPage, AParentNamedByHandIsReadAsTheChainsBase) {
    makeChain();
    run("mkdir away && mv base.vmdk away/");
    auto* page = imagePage();
    boxes.answerStartingWith("child.vmdk: its parent image base.vmdk (id ", QMessageBox::No);
    choose(page->browseButton(), at("child.vmdk"));
    EXPECT_FALSE(page->nextButton()->isEnabled());
    ASSERT_TRUE(page->parentButton()->isVisible());
    choose(page->parentButton(), at("away/base.vmdk"));
    EXPECT_TRUE(page->nextButton()->isEnabled()) << page->problemLabel()->text().toStdString();
    EXPECT_FALSE(page->parentButton()->isVisible());
    ASSERT_EQ(page->chainTable()->rowCount(), 2);
    EXPECT_FALSE(page->chainTable()->item(1, 2)->text().contains("missing"));
    // The child hides the partition table, so the volume list may stay empty: only its reader
    // is looked at.
    ASSERT_TRUE(readerAfterNext());
    EXPECT_EQ(wizard->session.namedParents, std::vector<std::string>{at("away/base.vmdk")});
    // The later pages' reader: the child's own sector, and the NTFS boot sector only the parent
    // holds.
    EXPECT_EQ(sessionSector0()[0], 0x5A);
    std::array<std::uint8_t, 8> boot{};
    ASSERT_TRUE(wizard->session.sessionReader);
    wizard->session.sessionReader->readAt(2048 * 512, boot);
    EXPECT_EQ(std::string(boot.begin() + 3, boot.end()), "NTFS ");
}

TEST_F(ImageContainersPage, AVhdxWhoseLogCannotBeReplayedIsReadWithoutItOnlyWhenTheUserSaysSo) {
    // Not closed cleanly, with a log entry whose tail is nowhere; block 0 holds data.
    VhdxImage img;
    img.logGuid = VhdxImage::guid(0x5A);
    const std::vector<std::uint8_t> data = patternBytes(VhdxImage::kMiB, 9);
    img.addBlock(0, data);
    img.addLogEntry(0, 100, 65536, {});
    writeFile(dir.path() / "dirty.vhdx", img.build());
    auto* page = imagePage();
    const QString question = "\"dirty.vhdx\" cannot be read: the image was not closed cleanly";

    boxes.answerStartingWith(question, QMessageBox::No);
    choose(page->openVhdxButton(), at("dirty.vhdx"));
    ASSERT_EQ(boxes.texts().size(), 1) << boxes.texts().join(" | ").toStdString();
    EXPECT_TRUE(lastBox().startsWith(question)) << lastBox().toStdString();
    EXPECT_TRUE(lastBox().contains("Read the disk without its log?"));
    EXPECT_FALSE(page->nextButton()->isEnabled());
    EXPECT_TRUE(page->problemLabel()->text().contains("log cannot be replayed"));

    // Yes: the disk as the file holds it, for this page and the ones after it.
    boxes.answerStartingWith(question, QMessageBox::Yes);
    choose(page->openVhdxButton(), at("dirty.vhdx"));
    EXPECT_TRUE(page->nextButton()->isEnabled()) << page->problemLabel()->text().toStdString();
    EXPECT_EQ(sizeText(), "4");
    ASSERT_TRUE(readerAfterNext());
    std::array<std::uint8_t, 512> sector{};
    ASSERT_TRUE(wizard->session.sessionReader->readAt(0, sector));
    EXPECT_TRUE(std::equal(sector.begin(), sector.end(), data.begin()));
}

TEST_F(ImageContainersPage, ATruncatedImageShowsItsDamageInOneLine) {
    run("qemu-img convert -O vmdk " + shellQuote(corpus->string()) + " whole.vmdk");
    auto* page = imagePage();
    choose(page->browseButton(), at("whole.vmdk"));
    EXPECT_EQ(page->damageValue()->text(), "no unreadable ranges");
    EXPECT_TRUE(page->damageValue()->isVisible());

    // A partial copy: the disk still opens, and says how much of it is gone.
    run("cp whole.vmdk cut.vmdk && truncate -s $(( $(stat -c %s whole.vmdk) / 2 )) cut.vmdk");
    choose(page->browseButton(), at("cut.vmdk"));
    EXPECT_TRUE(page->nextButton()->isEnabled()) << page->problemLabel()->text().toStdString();
    EXPECT_TRUE(page->damageValue()->isVisible());
    EXPECT_TRUE(page->damageValue()->text().contains(kDamageLine)) << page->damageValue()->text().toStdString();
    saveScreenshot(page, "1-image-page-damage");
}

// The page's Damage line is the one `vindaru-cli info` prints: damage to the container's own
// structure is named though every byte still reads, and a disk of compressed grains is not
// called sound before they were inflated.
TEST_F(ImageContainersPage, TheDamageLineNamesStructuralDamageAndUncheckedGrains) {
    auto* page = imagePage();
    run("qemu-img convert -O vpc " + shellQuote(corpus->string()) + " disk.vhd");
    run("cp disk.vhd footless.vhd && truncate -s -512 footless.vhd");
    choose(page->openVhdButton(), at("footless.vhd"));
    EXPECT_TRUE(page->nextButton()->isEnabled()) << page->problemLabel()->text().toStdString();
    EXPECT_EQ(page->damageValue()->text(),
              "no unreadable ranges; the footer at the end of the file is missing or damaged");

    run("qemu-img convert -O vmdk -o subformat=streamOptimized " + shellQuote(corpus->string()) + " stream.vmdk");
    choose(page->browseButton(), at("stream.vmdk"));
    EXPECT_TRUE(page->nextButton()->isEnabled()) << page->problemLabel()->text().toStdString();
    EXPECT_TRUE(page->damageValue()->text().contains("grain data not verified"))
        << page->damageValue()->text().toStdString();
}

} // namespace
} // namespace vindaru::test
