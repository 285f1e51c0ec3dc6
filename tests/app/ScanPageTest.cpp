// The scan page's thread controls, the Save refusal while busy, and the double-click save.
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTreeView>

#include "app/FileListModel.h"
#include "app/VolumeScanDlg.h"
#include "app/WizardFixture.h"
#include "app/advanceOptions.h"

namespace vindaru::test {
namespace {

class ScanPage : public WizardFixture {
  protected:
    // A scan page made as Next makes it, with the parser ready but its thread not started.
    app::VolumeScanDlg* preparedScanPage(app::ParceModeNtfsDlg* modes) {
        auto* scan = new app::VolumeScanDlg(*wizard, modes, modes->volume(), modes->scanMode());
        scan->show();
        modes->hide();
        EXPECT_TRUE(scan->prepareScan());
        return scan;
    }
};

TEST_F(ScanPage, PauseHoldsTheScanResumeContinuesAndSaveWaits) {
    auto* modes = mbrNtfsRecoveryPage();
    if (!modes) GTEST_SKIP() << "corpus image generated/mbr-disk.vmdk is absent";
    auto* scan = preparedScanPage(modes);
    EXPECT_FALSE(scan->backButton()->isEnabled());
    EXPECT_EQ(scan->pauseButton()->toolTip(), "Pause");
    EXPECT_TRUE(scan->pauseButton()->text().isEmpty());
    EXPECT_FALSE(scan->pauseButton()->icon().isNull());

    scan->pauseButton()->click();
    EXPECT_EQ(scan->statusLabel()->text(), "Pause button pressed");
    scan->runScan();
    // The scan runs up to its first stop point and waits there.
    QTest::qWait(400);
    EXPECT_NE(scan->statusLabel()->text(), "Processing done...");
    EXPECT_TRUE(scan->busy());
    EXPECT_FALSE(boxes.texts().contains("Scanning process completed..."));

    scan->saveButton()->click();
    EXPECT_EQ(boxes.texts().last(), "Please wait for other process to complete");

    scan->resumeButton()->click();
    EXPECT_EQ(scan->statusLabel()->text(), "Resume button pressed");
    ASSERT_TRUE(waitUntil([&] { return scan->statusLabel()->text() == "Processing done..."; }));
    EXPECT_TRUE(boxes.texts().contains("Scanning process completed..."));
    EXPECT_TRUE(waitUntil([&] { return !scan->busy() && scan->backButton()->isEnabled(); }));
    EXPECT_FALSE(scan->progressBar()->isVisible());
    EXPECT_GT(scan->treeModel()->rowCount(scan->treeModel()->index(0, 0)), 3);
}

TEST_F(ScanPage, StopEndsTheScanWithWhatWasFound) {
    auto* modes = mbrNtfsRecoveryPage();
    if (!modes) GTEST_SKIP() << "corpus image generated/mbr-disk.vmdk is absent";
    auto* scan = preparedScanPage(modes);
    scan->pauseButton()->click();
    scan->runScan();
    scan->stopButton()->click();
    EXPECT_EQ(scan->statusLabel()->text(),
              "stop button pressed.Please wait for the process to be stopped.");
    ASSERT_TRUE(waitUntil([&] { return scan->statusLabel()->text() == "Processing done..."; }));
    EXPECT_TRUE(boxes.texts().contains("Scanning process completed..."));
    ASSERT_TRUE(waitUntil([&] { return scan->backButton()->isEnabled(); }));
    // The volume item is there; a stopped scan shows what it had.
    EXPECT_EQ(scan->treeModel()->rowCount(), 1);
}

TEST_F(ScanPage, DoubleClickOnAFileSavesIt) {
    auto* modes = mbrNtfsRecoveryPage();
    if (!modes) GTEST_SKIP() << "corpus image generated/mbr-disk.vmdk is absent";
    modes->nextButton()->click();
    auto* scan = visiblePage<app::VolumeScanDlg>();
    ASSERT_NE(scan, nullptr);
    ASSERT_TRUE(waitUntil([&] { return scan->statusLabel()->text() == "Processing done..."; }));
    ASSERT_TRUE(waitUntil([&] { return !scan->busy(); }));

    ScratchDir output;
    nextFolder = QString::fromStdString(output.path().string());
    scan->browseButton()->click();
    app::CheckTreeModel* model = scan->treeModel();
    const QModelIndex root = model->index(0, 0);
    const QModelIndex file = childNamed(model, root, "readme-cedar.txt");
    ASSERT_TRUE(file.isValid());
    emit scan->treeView()->doubleClicked(file);
    ASSERT_TRUE(waitUntil([&] { return !scan->busy(); }));
    const fs::path saved = output.path() / "readme-cedar.txt";
    ASSERT_TRUE(fs::exists(saved));
    EXPECT_EQ(md5OfFile(saved), "7c16dc0cbb9cdfb64e07095c443e9ae0");

    // Cancelling the folder chooser empties the output folder; Save then asks for one.
    nextFolder.clear();
    scan->browseButton()->click();
    EXPECT_TRUE(scan->outputEdit()->text().isEmpty());
    scan->treeView()->setCurrentIndex(root);
    scan->saveButton()->click();
    EXPECT_TRUE(boxes.waitFor("select output folder"));
}

TEST_F(ScanPage, AdvancedModeSearchesCandidatesAndParsesTheChosenOne) {
    auto* modes = mbrNtfsRecoveryPage();
    if (!modes) GTEST_SKIP() << "corpus image generated/mbr-disk.vmdk is absent";
    modes->advancedRadio()->click();
    EXPECT_TRUE(modes->maxEdit()->isVisible());
    QTest::keyClicks(modes->maxEdit(), "2");
    modes->nextButton()->click();
    auto* advanced = visiblePage<app::advanceOptions>();
    ASSERT_NE(advanced, nullptr);
    ASSERT_TRUE(waitUntil([&] { return advanced->nextButton()->isEnabled(); }));
    ASSERT_TRUE(waitUntil([&] {
        return std::any_of(boxes.texts().begin(), boxes.texts().end(), [](const QString& t) {
            return t.startsWith("Number of MFT-ENTRY found = ");
        });
    }));
    QTest::qWait(150);
    EXPECT_EQ(advanced->clusterCombo()->itemText(0), "8");
    EXPECT_EQ(advanced->clusterCombo()->count(), 6);
    EXPECT_LE(advanced->candidateCombo()->count(), 2);
    saveScreenshot(advanced, "4-advance-options-page");
    if (advanced->candidateCombo()->count() == 0) {
        advanced->nextButton()->click(); // nothing to parse: the page stays
        EXPECT_EQ(visiblePage<app::advanceOptions>(), advanced);
        return;
    }
    EXPECT_EQ(advanced->candidateCombo()->itemText(0), "MFT_ENTRY:0");
    advanced->nextButton()->click();
    auto* scan = visiblePage<app::VolumeScanDlg>();
    ASSERT_NE(scan, nullptr);
    ASSERT_TRUE(waitUntil([&] { return scan->statusLabel()->text() == "Processing done..."; }));
    EXPECT_EQ(boxes.texts().count("Scanning process completed."), 1);
    EXPECT_FALSE(boxes.texts().contains("Scanning process completed...")) << "one box, not two in a row";
    ASSERT_TRUE(waitUntil([&] { return !scan->busy(); }));
    const QModelIndex root = scan->treeModel()->index(0, 0);
    EXPECT_TRUE(childNamed(scan->treeModel(), root, "Docs-Garnet").isValid());

    // Back to the advance options page, and Next parses again on a new page.
    scan->backButton()->click();
    ASSERT_EQ(visiblePage<app::advanceOptions>(), advanced);
    advanced->nextButton()->click();
    auto* again = visiblePage<app::VolumeScanDlg>();
    ASSERT_NE(again, nullptr);
    ASSERT_TRUE(waitUntil([&] { return again->statusLabel()->text() == "Processing done..."; }));
}

} // namespace
} // namespace vindaru::test
