// The drive parsing modes page: its start, its mode rules, and the export of the whole disk with
// its progress, Stop and the page usable again afterwards.
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

#include "app/DriveParsingModes.h"
#include "app/WizardFixture.h"
#include "image/readWriteInterface.h"

namespace vindaru::test {
namespace {

const QString kSpaceWarning =
    "Make sure you have sufficient disk space at saving location of Image File";
const QString kStopQuestion = "Are you sure to stop the running process?";
const QString kSaved = "Image Saved,Choose any one of the mode and click next.";

class ExportAndModes : public WizardFixture {
  protected:
    app::DriveParsingModes* openModes(const fs::path& image, const QString& size = QString()) {
        EXPECT_TRUE(wizard->start());
        nextFile = QString::fromStdString(image.string());
        imagePage()->browseButton()->click();
        if (!size.isNull()) {
            imagePage()->sizeEdit()->setText(size);
            emit imagePage()->sizeEdit()->textEdited(size);
        }
        imagePage()->nextButton()->click();
        EXPECT_TRUE(boxes.waitFor(kSpaceWarning));
        return visiblePage<app::DriveParsingModes>();
    }
    // The modes page with "Save Disk Image:" checked and the folder chooser answering `target`.
    app::DriveParsingModes* openForExport(const fs::path& image, const ScratchDir& target) {
        auto* modes = openModes(image);
        if (modes) modes->saveDiskImageBox()->click();
        nextFolder = QString::fromStdString(target.path().string());
        return modes;
    }
};

TEST_F(ExportAndModes, ModeRulesAndWhatNextHandsOn) {
    auto image = corpusFile("generated/mbr-disk.vmdk");
    if (!image) GTEST_SKIP() << "corpus image generated/mbr-disk.vmdk is absent";
    auto* modes = openModes(*image, "2048");
    ASSERT_NE(modes, nullptr);
    EXPECT_EQ(wizard->session.customDiskSectors, 4194304u);
    EXPECT_EQ(modes->selectedDriveLabel()->text(), QString::fromStdString(image->string()));
    EXPECT_FALSE(modes->doNotSkipBox()->isEnabled());
    EXPECT_FALSE(modes->customBox()->isEnabled());
    EXPECT_FALSE(modes->startEdit()->isEnabled());
    EXPECT_EQ(modes->startEdit()->text(), "0");

    modes->advanceRadio()->click();
    EXPECT_FALSE(modes->standardRadio()->isChecked());
    EXPECT_TRUE(modes->customBox()->isEnabled());
    modes->customBox()->click();
    EXPECT_TRUE(modes->startEdit()->isEnabled());
    modes->startEdit()->setText("63");
    modes->endEdit()->setText("-5");
    modes->gptBox()->click();
    app::DiscoveryChoices choices = modes->discoveryChoices();
    EXPECT_EQ(choices.discoveryMode, 2);
    EXPECT_TRUE(choices.gptMode);
    EXPECT_EQ(choices.customEndSector, 0u); // a negative end hands no range on
    modes->endEdit()->setText("4000");
    choices = modes->discoveryChoices();
    EXPECT_EQ(choices.customStartSector, 63u);
    EXPECT_EQ(choices.customEndSector, 4000u);

    // The range is still handed on after going back to the standard scan.
    modes->standardRadio()->click();
    EXPECT_EQ(modes->discoveryChoices().customEndSector, 4000u);
    EXPECT_EQ(modes->discoveryChoices().discoveryMode, 1);

    modes->saveDiskImageBox()->click();
    EXPECT_EQ(boxes.count(kSpaceWarning), 2);
    EXPECT_TRUE(modes->saveImageButton()->isEnabled());
}

TEST_F(ExportAndModes, ExportStopsWhenAskedAndThenWritesTheWholeDisk) {
    auto image = corpusFile("generated/mbr-disk.vmdk");
    auto raw = unpackedCorpusImage("generated/mbr-disk.raw.zst");
    if (!image || !raw) GTEST_SKIP() << "corpus disk generated/mbr-disk.* (or zstd) is absent";
    ScratchDir target;
    auto* modes = openForExport(*image, target);
    ASSERT_NE(modes, nullptr);

    // Held at its first step, so that Stop lands in the middle of the copy.
    modes->exportControl().pauseGate.pause();
    modes->saveImageButton()->click();
    const fs::path written = target.path() / (image->filename().string() + ".img");
    EXPECT_EQ(modes->exportPathEdit()->text(), QString::fromStdString(written.string()));
    EXPECT_TRUE(modes->stopButton()->isVisible());
    EXPECT_TRUE(modes->progressBar()->isVisible());
    EXPECT_FALSE(modes->nextButton()->isEnabled());
    EXPECT_FALSE(modes->backButton()->isEnabled());
    EXPECT_FALSE(modes->saveDiskImageBox()->isEnabled());
    saveScreenshot(modes, "2-drive-parsing-modes-export");

    modes->stopButton()->click();
    ASSERT_TRUE(boxes.waitFor(kStopQuestion));
    ASSERT_TRUE(
        waitUntil([&] { return !modes->exportRunning() && modes->nextButton()->isEnabled(); }));
    // A stopped export is no saved image.
    EXPECT_TRUE(modes->statusLabel()->text().startsWith("Image not saved (stopped)"))
        << modes->statusLabel()->text().toStdString();
    EXPECT_FALSE(modes->stopButton()->isVisible());
    EXPECT_EQ(wizard->session.sessionReader, nullptr);
    // What was copied cannot pass for the image: it carries a name that says so.
    EXPECT_FALSE(fs::exists(written));
    const fs::path partial = written.string() + ".partial";
    ASSERT_TRUE(fs::exists(partial));
    EXPECT_LT(fs::file_size(partial), fs::file_size(*raw));
    EXPECT_EQ(modes->exportPathEdit()->text(), QString::fromStdString(partial.string()));
    EXPECT_TRUE(modes->statusLabel()->text().contains("kept as " + QString::fromStdString(partial.string())))
        << modes->statusLabel()->text().toStdString();

    // Again, to the end: the image's own name is free again, and every byte of the disk.
    modes->saveImageButton()->click();
    const fs::path second = written;
    ASSERT_TRUE(waitUntil([&] {
        return fs::exists(second) && !modes->exportRunning() && modes->nextButton()->isEnabled() &&
               modes->statusLabel()->text() == kSaved;
    }));
    EXPECT_EQ(fs::file_size(second), fs::file_size(*raw));
    EXPECT_EQ(md5OfFile(second), md5OfFile(*raw));
    EXPECT_EQ(modes->statusLabel()->text(), kSaved);
}

TEST_F(ExportAndModes, TheSpaceWarningComesWhenThePageOpensNotOnBack) {
    auto image = corpusFile("generated/mbr-disk.vmdk");
    if (!image) GTEST_SKIP() << "corpus image generated/mbr-disk.vmdk is absent";
    auto* modes = openModes(*image);
    ASSERT_NE(modes, nullptr);
    modes->nextButton()->click();
    auto* volumes = visiblePage<app::PopulateDriveDlg>();
    ASSERT_NE(volumes, nullptr);
    ASSERT_TRUE(waitUntil([&] { return volumes->backButton()->isEnabled(); }));
    volumes->backButton()->click();
    ASSERT_EQ(visiblePage<app::DriveParsingModes>(), modes);
    QTest::qWait(100);
    EXPECT_EQ(boxes.count(kSpaceWarning), 1);
}

TEST_F(ExportAndModes, StopAnsweredNoLetsTheExportFinish) {
    auto image = corpusFile("generated/mbr-disk.vmdk");
    auto raw = unpackedCorpusImage("generated/mbr-disk.raw.zst");
    if (!image || !raw) GTEST_SKIP() << "corpus disk generated/mbr-disk.* (or zstd) is absent";
    ScratchDir target;
    auto* modes = openForExport(*image, target);
    ASSERT_NE(modes, nullptr);
    boxes.answer(kStopQuestion, QMessageBox::No);
    modes->exportControl().pauseGate.pause();
    modes->saveImageButton()->click();
    modes->stopButton()->click();
    ASSERT_TRUE(boxes.waitFor(kStopQuestion));
    modes->exportControl().pauseGate.resume();
    ASSERT_TRUE(
        waitUntil([&] { return !modes->exportRunning() && modes->nextButton()->isEnabled(); }));
    const fs::path written = target.path() / (image->filename().string() + ".img");
    EXPECT_EQ(fs::file_size(written), fs::file_size(*raw));
}

} // namespace
} // namespace vindaru::test
