// Start-up, the shared page behaviour, the About box and the image page, through the widgets.
#include <QCheckBox>
#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QToolButton>

#include "app/CAboutDlg.h"
#include "app/DriveParsingModes.h"
#include "app/SingleInstanceGuard.h"
#include "app/WizardFixture.h"
#include "common/Sinks.h"

namespace vindaru::test {
namespace {

class StartAndImagePage : public WizardFixture {};

TEST_F(StartAndImagePage, SecondInstanceIsRefusedWhileTheFirstRuns) {
    ASSERT_TRUE(wizard->start());
    ASSERT_NE(imagePage(), nullptr);
    EXPECT_TRUE(imagePage()->isVisible());

    app::COrdavinApp second(QString::fromStdString(lockDir.path().string()));
    EXPECT_FALSE(second.start());
    ASSERT_EQ(boxes.texts(), QStringList{"Another instance of application is already running"});
    EXPECT_EQ(boxes.captions().front(), QString::fromUtf8(kApplicationTitle));
    EXPECT_EQ(second.imagePage(), nullptr);
    EXPECT_TRUE(imagePage()->isVisible()); // the running instance is untouched

    // Once the first instance has ended, a new one starts.
    wizard.reset();
    app::COrdavinApp third(QString::fromStdString(lockDir.path().string()));
    EXPECT_TRUE(third.start());
}

TEST_F(StartAndImagePage, ImagePageStartsWithDynamicDiskAndNoPath) {
    ASSERT_TRUE(wizard->start());
    auto* page = imagePage();
    saveScreenshot(page, QStringLiteral("1-image-page-start"));
    EXPECT_EQ(page->windowTitle(), QString::fromUtf8(kApplicationTitle));
    EXPECT_TRUE(page->dynamicDiskRadio()->isChecked());
    EXPECT_FALSE(page->fixedDiskRadio()->isChecked());
    EXPECT_EQ(page->extentTypeCombo()->currentText(), "SPARSE");
    EXPECT_EQ(page->extentTypeCombo()->count(), 2);
    EXPECT_TRUE(page->browseButton()->isEnabled());
    EXPECT_FALSE(page->nextButton()->isEnabled());
    EXPECT_FALSE(page->infoValue(0)->isVisible());
    EXPECT_FALSE(page->sizeEdit()->isVisible());
    EXPECT_EQ(page->nextButton()->toolTip(), "Next");
    EXPECT_EQ(page->helpButton()->toolTip(), "Help");
    EXPECT_FALSE(page->nextButton()->icon().isNull());
}

TEST_F(StartAndImagePage, DescriptorAndFixedDiskRules) {
    ASSERT_TRUE(wizard->start());
    auto* page = imagePage();
    page->splitBox()->click();
    EXPECT_TRUE(page->splitBox()->isChecked());
    page->extentTypeCombo()->setCurrentText("FLAT");
    page->descriptorBox()->click();
    EXPECT_FALSE(page->splitBox()->isChecked());
    EXPECT_FALSE(page->splitBox()->isEnabled());
    EXPECT_FALSE(page->extentTypeCombo()->isEnabled());
    page->descriptorBox()->click();
    EXPECT_EQ(page->extentTypeCombo()->currentText(), "SPARSE");
    EXPECT_TRUE(page->splitBox()->isEnabled());

    page->fixedDiskRadio()->click();
    EXPECT_FALSE(page->dynamicDiskRadio()->isChecked());
    EXPECT_FALSE(page->splitBox()->isEnabled());
    EXPECT_FALSE(page->descriptorBox()->isEnabled());
    EXPECT_FALSE(page->extentTypeCombo()->isEnabled());
    EXPECT_TRUE(page->browseButton()->isEnabled());

    // A fixed disk is recorded so that the later pages read it as one flat extent.
    ScratchDir dir;
    const fs::path raw = dir.path() / "disk.raw";
    writeFile(raw, std::vector<std::uint8_t>(4096, 0));
    nextFile = QString::fromStdString(raw.string());
    page->browseButton()->click();
    EXPECT_EQ(page->pathEdit()->text(), nextFile);
    EXPECT_EQ(page->logic().imageKind, app::kImageKindVmdk);
    EXPECT_EQ(page->logic().readerExtentType(), "FLAT");
    EXPECT_FALSE(page->logic().readAsSplit());
    EXPECT_EQ(wizard->session.imageSourcePage, kImageSourceRecorded);
    EXPECT_TRUE(page->nextButton()->isEnabled());
    EXPECT_EQ(page->sizeEdit()->text(), "0"); // 4 KiB: no whole MB
}

TEST_F(StartAndImagePage, EnterAndEscapeChangeNothing) {
    auto image = corpusFile("generated/mbr-disk.vmdk");
    if (!image) GTEST_SKIP() << "corpus image generated/mbr-disk.vmdk is absent";
    ASSERT_TRUE(wizard->start());
    auto* page = imagePage();
    nextFile = QString::fromStdString(image->string());
    page->browseButton()->click();
    QTest::keyClick(page, Qt::Key_Return);
    QTest::keyClick(page, Qt::Key_Escape);
    QTest::keyClick(page->pathEdit(), Qt::Key_Enter);
    QTest::qWait(50);
    EXPECT_TRUE(page->isVisible());
    EXPECT_TRUE(boxes.texts().isEmpty());
    EXPECT_EQ(wizard->modesPage, nullptr);
}

TEST_F(StartAndImagePage, NextStaysOffWithoutAPath) {
    ASSERT_TRUE(wizard->start());
    auto* page = imagePage();
    nextFile = "/nowhere/disk.vmdk";
    page->browseButton()->click();
    EXPECT_EQ(boxes.texts(), QStringList{"The file \"disk.vmdk\" does not exist."});
    page->pathEdit()->clear();
    QTest::keyClicks(page->pathEdit(), "x");
    page->pathEdit()->clear();
    emit page->pathEdit()->textEdited(QString());
    EXPECT_FALSE(page->nextButton()->isEnabled());
    page->nextButton()->click();
    EXPECT_EQ(wizard->modesPage, nullptr);
    // The page's own refusal stays for an empty path.
    EXPECT_EQ(page->logic().nextRefusal()->text, "Please browse vmdk File ");
}

TEST_F(StartAndImagePage, SparseVmdkShowsItsFileInformation) {
    auto image = corpusFile("generated/mbr-disk.vmdk");
    if (!image) GTEST_SKIP() << "corpus image generated/mbr-disk.vmdk is absent";
    ASSERT_TRUE(wizard->start());
    auto* page = imagePage();
    nextFile = QString::fromStdString(image->string());
    page->browseButton()->click();
    EXPECT_EQ(page->pathEdit()->text(), nextFile);
    EXPECT_TRUE(page->infoValue(0)->isVisible());
    EXPECT_TRUE(page->sizeEdit()->isVisible());
    EXPECT_FALSE(page->sizeEdit()->text().isEmpty());
    EXPECT_TRUE(page->logic().fileInfoShown);
    EXPECT_EQ(wizard->session.sessionReader, nullptr); // the page keeps no reader
    saveScreenshot(page, QStringLiteral("1-image-page-vmdk"));

    page->sizeEdit()->clear();
    emit page->sizeEdit()->textEdited(QString());
    page->nextButton()->click();
    ASSERT_FALSE(boxes.texts().isEmpty());
    EXPECT_EQ(boxes.texts().last(), "Hard disk Size cannot be left blank.");
}

TEST_F(StartAndImagePage, VhdAndVdiOpenFromThePage) {
    auto vhd = corpusFile("generated/mbr-disk.vhd");
    auto vdi = corpusFile("generated/mbr-disk.vdi");
    if (!vhd || !vdi) GTEST_SKIP() << "corpus images generated/mbr-disk.vhd/.vdi are absent";
    ASSERT_TRUE(wizard->start());
    auto* page = imagePage();

    nextFile = "/images/disk.vhdx";
    page->openVhdButton()->click();
    EXPECT_EQ(boxes.texts(), QStringList{"not a vhd file"});

    nextFile = QString::fromStdString(vhd->string());
    page->openVhdButton()->click();
    EXPECT_EQ(page->logic().imageKind, app::kImageKindVhd);
    EXPECT_TRUE(page->infoValue(0)->isVisible());
    EXPECT_EQ(page->sizeUnitLabel()->text(), "MB");
    EXPECT_EQ(page->infoValue(0)->text(), "1.0") << "the version, not its raw field";
    EXPECT_FALSE(page->splitBox()->isEnabled()) << "VMDK choices do not apply to a VHD";
    EXPECT_FALSE(page->fixedDiskRadio()->isChecked());
    EXPECT_EQ(page->pathEdit()->text(), nextFile);
    EXPECT_TRUE(page->nextButton()->isEnabled());

    nextFile = QString::fromStdString(vdi->string());
    page->openVdiButton()->click();
    EXPECT_EQ(page->logic().imageKind, app::kImageKindVdi);
    EXPECT_EQ(page->infoValue(0)->text(), "1.1");
    for (int i = 1; i < 4; ++i) EXPECT_NE(page->infoValue(i)->text(), "0");
    EXPECT_FALSE(page->fixedDiskRadio()->isChecked());
    EXPECT_FALSE(page->dynamicDiskRadio()->isChecked());
    saveScreenshot(page, QStringLiteral("1-image-page-vdi"));
}

TEST_F(StartAndImagePage, HelpMenuAndAboutBox) {
    ASSERT_TRUE(wizard->start());
    QMenu* menu = imagePage()->helpButton()->menu();
    ASSERT_NE(menu, nullptr);
    QStringList items;
    for (QAction* a : menu->actions())
        items << a->text();
    EXPECT_EQ(items, (QStringList{"Help", "Software Homepage", "About"}));
    app::UiDialogs::setBrowserHook([] { return true; });
    menu->actions()[0]->trigger();
    app::UiDialogs::setBrowserHook({});
    menu->actions()[1]->trigger();
    ASSERT_EQ(urls.size(), 2u);
    EXPECT_NE(urls[0], urls[1]);

    bool seen = false;
    QTimer::singleShot(50, [&] {
        auto* about = visiblePage<app::CAboutDlg>();
        ASSERT_NE(about, nullptr);
        seen = true;
        EXPECT_EQ(about->windowTitle(), "About Ordavin");
        EXPECT_EQ(about->websiteButton()->toolTip(), "Company website");
        EXPECT_EQ(about->supportButton()->toolTip(), "Support email address");
        EXPECT_EQ(about->salesButton()->toolTip(), "Sales email address");
        about->supportButton()->click();
        saveScreenshot(about, QStringLiteral("9-about-box"));
        about->accept();
    });
    menu->actions()[2]->trigger();
    EXPECT_TRUE(seen);
    ASSERT_EQ(urls.size(), 3u);
    EXPECT_EQ(urls[2].scheme(), "mailto");
}

TEST_F(StartAndImagePage, ClosePromptAsksAndQuitsOnlyOnYes) {
    ASSERT_TRUE(wizard->start());
    boxes.answer("Do you want to Close Application ?", QMessageBox::No);
    imagePage()->close();
    ASSERT_TRUE(boxes.waitFor("Do you want to Close Application ?"));
    EXPECT_FALSE(wizard->quitRequested());
    EXPECT_TRUE(imagePage()->isVisible());

    boxes.answer("Do you want to Close Application ?", QMessageBox::Yes);
    imagePage()->close();
    EXPECT_TRUE(wizard->quitRequested());
    EXPECT_EQ(boxes.count("Do you want to Close Application ?"), 2);
}

} // namespace
} // namespace vindaru::test
