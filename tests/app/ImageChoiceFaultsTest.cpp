// The image page and the disk scan page as a new user meets them: the File Information and the
// disk size follow the path and the choices, bad inputs say what they are and keep Next off, a
// short export is no saved image, GPT disks are recognised, pages keep their place, and Help
// works without a browser.
#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextDocument>
#include <QToolButton>

#include "app/DriveParsingModes.h"
#include "app/HelpWindow.h"
#include "app/UiProgressSink.h"
#include "app/WizardFixture.h"

namespace vindaru::test {
namespace {

const QString kSpaceWarning =
    "Make sure you have sufficient disk space at saving location of Image File";

class ImageChoiceFaults : public WizardFixture {
  protected:
    void typePath(const QString& path) {
        QLineEdit* edit = imagePage()->pathEdit();
        edit->setFocus();
        edit->selectAll();
        QTest::keyClicks(edit, path);
        QTest::keyClick(edit, Qt::Key_Return);
    }
    qulonglong sizeMb() const { return imagePage()->sizeEdit()->text().toULongLong(); }
    bool lastBoxSays(const QString& part) const {
        return !boxes.texts().isEmpty() && boxes.texts().last().contains(part);
    }
};

TEST_F(ImageChoiceFaults, TypedPathReplacesTheFileInformationAndTheDiskSize) {
    auto small = corpusFile("generated/mbr-disk.vmdk");
    auto big = corpusFile("generated/big-disk.vmdk");
    if (!small || !big) GTEST_SKIP() << "corpus images generated/mbr-disk.vmdk, big-disk.vmdk absent";
    ASSERT_TRUE(wizard->start());
    nextFile = QString::fromStdString(small->string());
    imagePage()->browseButton()->click();
    const qulonglong smallMb = sizeMb();
    EXPECT_GT(smallMb, 0u);
    EXPECT_LT(smallMb, 100u);

    typePath(QString::fromStdString(big->string()));
    EXPECT_GT(sizeMb(), 4000u) << "the size must be the typed image's, not the browsed one's";
    EXPECT_TRUE(imagePage()->nextButton()->isEnabled());
    EXPECT_TRUE(boxes.texts().isEmpty());

    // Typing alone shows nothing for the new text; focus leaving the box takes it.
    QLineEdit* edit = imagePage()->pathEdit();
    edit->setFocus();
    edit->selectAll();
    QTest::keyClicks(edit, QString::fromStdString(small->string()));
    EXPECT_FALSE(imagePage()->nextButton()->isEnabled());
    EXPECT_FALSE(imagePage()->sizeEdit()->isVisible());
    imagePage()->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(imagePage()));
    edit->setFocus();
    imagePage()->extentTypeCombo()->setFocus();
    EXPECT_EQ(sizeMb(), smallMb);
    EXPECT_TRUE(imagePage()->nextButton()->isEnabled());

    // Back to the big disk, and the next page's session disk size is the big disk's.
    typePath(QString::fromStdString(big->string()));
    imagePage()->nextButton()->click();
    ASSERT_TRUE(boxes.waitFor(kSpaceWarning));
    EXPECT_EQ(wizard->session.customDiskSectors, sizeMb() * 2048);
    EXPECT_GT(wizard->session.customDiskSectors, 4000u * 2048);
}

TEST_F(ImageChoiceFaults, AnExportShorterThanTheDiskIsAFailure) {
    auto image = corpusFile("generated/mbr-disk.vmdk");
    if (!image) GTEST_SKIP() << "corpus image generated/mbr-disk.vmdk is absent";
    ASSERT_TRUE(wizard->start());
    nextFile = QString::fromStdString(image->string());
    imagePage()->browseButton()->click();
    // A "Size of HDD" smaller than the disk, as a stale size was.
    imagePage()->sizeEdit()->setText("10");
    emit imagePage()->sizeEdit()->textEdited("10");
    imagePage()->nextButton()->click();
    ASSERT_TRUE(boxes.waitFor(kSpaceWarning));
    auto* modes = visiblePage<app::DriveParsingModes>();
    ASSERT_NE(modes, nullptr);
    ScratchDir target;
    nextFolder = QString::fromStdString(target.path().string());
    modes->saveDiskImageBox()->click();
    modes->saveImageButton()->click();
    ASSERT_TRUE(waitUntil([&] { return !modes->exportRunning() && modes->nextButton()->isEnabled(); }));
    QTest::qWait(150);
    EXPECT_FALSE(modes->statusLabel()->text().startsWith("Image Saved")) << modes->statusLabel()->text().toStdString();
    EXPECT_TRUE(modes->statusLabel()->text().startsWith("Image not saved"));
    EXPECT_TRUE(std::any_of(boxes.texts().begin(), boxes.texts().end(), [](const QString& t) {
        return t.startsWith("The disk image is incomplete");
    })) << boxes.texts().join(" | ").toStdString();
}

TEST_F(ImageChoiceFaults, BadInputsSayWhatTheyAreAndKeepNextOff) {
    ASSERT_TRUE(wizard->start());
    auto* page = imagePage();
    ScratchDir dir;
    const fs::path text = dir.path() / "notes.vmdk";
    writeFile(text, std::vector<std::uint8_t>(2000, 'a'));
    const fs::path empty = dir.path() / "empty.vmdk";
    writeFile(empty, {});

    nextFile = QString::fromStdString(text.string());
    page->browseButton()->click();
    EXPECT_TRUE(lastBoxSays("has no VMDK, VHD or VDI header")) << boxes.texts().join("|").toStdString();
    EXPECT_TRUE(lastBoxSays("Fixed Disk"));
    EXPECT_FALSE(page->nextButton()->isEnabled());
    EXPECT_TRUE(page->problemLabel()->isVisible());
    EXPECT_FALSE(page->sizeEdit()->isVisible());
    saveScreenshot(page, "1-image-page-not-an-image");

    // Read as a raw disk, as the message says: it opens.
    page->fixedDiskRadio()->click();
    page->browseButton()->click();
    EXPECT_TRUE(page->nextButton()->isEnabled());
    EXPECT_FALSE(page->problemLabel()->isVisible());
    page->dynamicDiskRadio()->click();

    nextFile = QString::fromStdString(empty.string());
    page->browseButton()->click();
    EXPECT_TRUE(lastBoxSays("is empty"));
    EXPECT_FALSE(page->nextButton()->isEnabled());

    typePath(QString::fromStdString(dir.path().string()));
    EXPECT_TRUE(lastBoxSays("is a folder"));
    EXPECT_FALSE(page->nextButton()->isEnabled());
    page->nextButton()->click();
    EXPECT_EQ(wizard->modesPage, nullptr);

    auto descriptor = corpusFile("generated/mbr-disk-split-sparse.vmdk");
    if (!descriptor) return;
    nextFile = QString::fromStdString(descriptor->string());
    page->browseButton()->click();
    EXPECT_TRUE(page->nextButton()->isEnabled()) << "a descriptor file is known by its content: "
                                                 << boxes.texts().join("|").toStdString();
    page->descriptorBox()->click();
    EXPECT_TRUE(page->nextButton()->isEnabled());
    EXPECT_FALSE(page->problemLabel()->isVisible());
    EXPECT_GT(page->sizeEdit()->text().toULongLong(), 0u);
    page->descriptorBox()->click();

    // One extent of a split set, read alone, would be a disk of the wrong size with no volumes.
    auto extent = corpusFile("generated/mbr-disk-split-sparse-s001.vmdk");
    if (!extent) return;
    nextFile = QString::fromStdString(extent->string());
    page->browseButton()->click();
    EXPECT_TRUE(lastBoxSays("tick \"VmdkSplit\"")) << boxes.texts().join("|").toStdString();
    EXPECT_FALSE(page->nextButton()->isEnabled());
    page->splitBox()->click();
    EXPECT_TRUE(page->nextButton()->isEnabled()) << boxes.texts().join("|").toStdString();
}

TEST_F(ImageChoiceFaults, ATinyFileUnderFixedDiskIsNotToldAboutOptionsItCannotUse) {
    ASSERT_TRUE(wizard->start());
    auto* page = imagePage();
    ScratchDir dir;
    const fs::path text = dir.path() / "note.txt";
    writeFile(text, std::vector<std::uint8_t>(100, 'a'));
    page->fixedDiskRadio()->click();
    nextFile = QString::fromStdString(text.string());
    page->browseButton()->click();
    EXPECT_TRUE(lastBoxSays("holds less than one sector")) << boxes.texts().join("|").toStdString();
    EXPECT_FALSE(lastBoxSays("VmdkSplit"));
    EXPECT_FALSE(page->nextButton()->isEnabled());
}

TEST_F(ImageChoiceFaults, VhdShowsItsOwnSizeInTheSizeBox) {
    auto vmdk = corpusFile("generated/gpt-disk.vmdk");
    auto vhd = corpusFile("generated/mbr-disk.vhd");
    if (!vmdk || !vhd) GTEST_SKIP() << "corpus images generated/gpt-disk.vmdk, mbr-disk.vhd absent";
    ASSERT_TRUE(wizard->start());
    nextFile = QString::fromStdString(vmdk->string());
    imagePage()->browseButton()->click();
    const QString vmdkSize = imagePage()->sizeEdit()->text();
    nextFile = QString::fromStdString(vhd->string());
    imagePage()->openVhdButton()->click();
    EXPECT_TRUE(imagePage()->sizeEdit()->isVisible());
    EXPECT_GT(imagePage()->sizeEdit()->text().toULongLong(), 0u);
    EXPECT_EQ(imagePage()->sizeUnitLabel()->text().trimmed(), "MB") << "the size once, in the box";
    EXPECT_TRUE(imagePage()->nextButton()->isEnabled());
    (void)vmdkSize;
}

TEST_F(ImageChoiceFaults, ProtectiveMbrTicksGptFormat) {
    auto gpt = corpusFile("generated/gpt-disk.vmdk");
    auto mbr = corpusFile("generated/mbr-disk.vmdk");
    if (!gpt || !mbr) GTEST_SKIP() << "corpus images generated/gpt-disk.vmdk, mbr-disk.vmdk absent";
    auto* modes = openModesPage(*gpt);
    ASSERT_NE(modes, nullptr);
    EXPECT_TRUE(modes->gptBox()->isChecked());
    modes->gptBox()->click(); // the user may still change it
    EXPECT_FALSE(modes->discoveryChoices().gptMode);
    saveScreenshot(modes, "2-drive-parsing-modes-gpt");
    modes->backButton()->click();
    nextFile = QString::fromStdString(mbr->string());
    imagePage()->browseButton()->click();
    imagePage()->nextButton()->click();
    auto* again = visiblePage<app::DriveParsingModes>();
    ASSERT_NE(again, nullptr);
    EXPECT_FALSE(again->gptBox()->isChecked());
}

// Every text on a page fits: no label or button is narrower than its text needs.
void expectNothingCut(QWidget* page) {
    for (QWidget* w : page->findChildren<QWidget*>()) {
        if (!w->isVisible()) continue;
        if (auto* label = qobject_cast<QLabel*>(w)) {
            if (label->wordWrap() || label->text().isEmpty() ||
                label->sizePolicy().horizontalPolicy() == QSizePolicy::Ignored)
                continue;
            EXPECT_GE(label->width(), label->minimumSizeHint().width()) << label->text().toStdString();
        } else if (auto* button = qobject_cast<QAbstractButton*>(w)) {
            if (button->text().isEmpty()) continue;
            EXPECT_GE(button->width(), button->sizeHint().width()) << button->text().toStdString();
        }
    }
}

TEST_F(ImageChoiceFaults, PagesKeepTheirPlaceAndCutNoText) {
    auto image = corpusFile("generated/mbr-disk.vmdk");
    if (!image) GTEST_SKIP() << "corpus image generated/mbr-disk.vmdk is absent";
    ASSERT_TRUE(wizard->start());
    auto* page = imagePage();
    nextFile = QString::fromStdString(image->string());
    page->browseButton()->click();
    // Smaller than the pages' first size: the layout's minimum holds every text.
    page->resize(200, 150);
    QTest::qWait(20);
    EXPECT_GE(page->width(), page->minimumSizeHint().width());
    expectNothingCut(page);

    page->resize(1100, 720);
    page->move(40, 30);
    QTest::qWait(20);
    page->nextButton()->click();
    ASSERT_TRUE(boxes.waitFor(kSpaceWarning));
    auto* modes = visiblePage<app::DriveParsingModes>();
    ASSERT_NE(modes, nullptr);
    EXPECT_EQ(modes->size(), QSize(1100, 720));
    EXPECT_EQ(modes->pos(), page->pos());
    modes->resize(modes->minimumSizeHint());
    QTest::qWait(20);
    expectNothingCut(modes);
    modes->resize(980, 640);
    modes->backButton()->click();
    EXPECT_TRUE(page->isVisible());
    EXPECT_EQ(page->size(), QSize(980, 640));
}

TEST_F(ImageChoiceFaults, HelpWithoutABrowserShowsTheShippedPage) {
    app::UiDialogs::setBrowserHook([] { return false; });
    ASSERT_TRUE(wizard->start());
    QMenu* menu = imagePage()->helpButton()->menu();
    ASSERT_NE(menu, nullptr);
    menu->actions()[0]->trigger();
    auto* help = visiblePage<app::HelpWindow>();
    ASSERT_NE(help, nullptr);
    EXPECT_TRUE(urls.empty());
    // The user's help, page by page, not the developer's README.
    const QString text = help->browser()->toPlainText();
    for (const char* page : {"Disk image", "Disk scan", "Volumes", "Recovery mode", "Advanced options",
                             "Recovered files", "Raw recovery"})
        EXPECT_TRUE(text.contains(page)) << page;
    EXPECT_FALSE(text.contains("build/vindaru"));
    EXPECT_FALSE(text.contains("vindaru-cli"));
    // Its pictures are drawn across the window, not as thumbnails.
    help->resize(900, 640);
    QTest::qWait(20);
    int wide = 0;
    for (QTextBlock block = help->browser()->document()->begin(); block.isValid(); block = block.next())
        for (QTextBlock::iterator it = block.begin(); !it.atEnd(); ++it)
            if (it.fragment().charFormat().isImageFormat() &&
                it.fragment().charFormat().toImageFormat().width() > 600)
                ++wide;
    EXPECT_GT(wide, 10); // every page's picture (message boxes are smaller)
    saveScreenshot(help, "9-help-window");
    help->close();

    // With a browser the online page opens instead.
    app::UiDialogs::setBrowserHook([] { return true; });
    menu->actions()[0]->trigger();
    EXPECT_EQ(urls.size(), 1u);
    app::UiDialogs::setBrowserHook({});
}

TEST(ProgressAmounts, AmountAndTimeLeftTexts) {
    using app::UiProgressSink;
    EXPECT_EQ(UiProgressSink::amountText(UiProgressSink::Unit::Files, 12, 40, 75),
              "12 of 40 files, about 1 min left");
    EXPECT_EQ(UiProgressSink::amountText(UiProgressSink::Unit::Sectors, 2048, 4096, -1),
              "1.00 MB of 2.00 MB");
    EXPECT_EQ(UiProgressSink::amountText(UiProgressSink::Unit::Steps, 50, 100, 9),
              "50%, about 9 s left");
    EXPECT_EQ(UiProgressSink::amountText(UiProgressSink::Unit::Files, 40, 40, 3), "40 of 40 files");
    EXPECT_EQ(UiProgressSink::timeLeftText(7260), "about 2 h 1 min left");
}

} // namespace
} // namespace vindaru::test
