// The wizard's Advanced mode on the FAT-family volumes of the corpus disks: the recovery mode
// page leads to the advance options page, which searches for FAT (and, on exFAT, heap) starts,
// fills its lists with the boot sector's cluster size first, and hands its parser and choice to
// the scan page, which rebuilds the volume with its "ORPHAN ENTRY" folder.
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

#include "app/CheckTreeModel.h"
#include "app/VolumeScanDlg.h"
#include "app/WizardFixture.h"
#include "app/advanceOptions.h"

namespace vindaru::test {
namespace {

class FatAdvancedWizard : public WizardFixture {
  protected:
    // The advance options page of the first volume of one of `types`, searched to its end.
    app::advanceOptions* searchedPage(const char* disk, bool gpt,
                                      std::initializer_list<QString> types) {
        auto image = corpusFile(disk);
        if (!image) return nullptr;
        auto* modes = openModesPage(*image);
        if (!modes) return nullptr;
        modes->gptBox()->setChecked(gpt);
        auto* volumes = openVolumePage(modes);
        if (!volumes) return nullptr;
        QString type;
        for (const QString& t : types)
            if (rowOfType(volumes->volumeTable(), t) >= 0) type = t;
        EXPECT_FALSE(type.isEmpty());
        auto* recovery = openRecoveryPage(volumes, type);
        if (!recovery) return nullptr;
        EXPECT_TRUE(recovery->advancedRadio()->isVisible());
        recovery->advancedRadio()->click();
        boxes.clear();
        recovery->nextButton()->click();
        auto* page = visiblePage<app::advanceOptions>();
        EXPECT_NE(page, nullptr);
        if (page) {
            EXPECT_TRUE(waitUntil([&] { return page->nextButton()->isEnabled(); }, 60000));
            QTest::qWait(100);
        }
        return page;
    }

    // Next on the advance options page: the scan page, run to its end.
    app::VolumeScanDlg* rebuild(app::advanceOptions* page) {
        boxes.clear();
        page->nextButton()->click();
        auto* scan = visiblePage<app::VolumeScanDlg>();
        EXPECT_NE(scan, nullptr);
        if (!scan) return nullptr;
        EXPECT_TRUE(waitUntil([&] { return !scan->busy(); }, 60000));
        EXPECT_TRUE(boxes.waitFor("Scanning process completed..."));
        EXPECT_TRUE(waitUntil([&] { return scan->statusLabel()->text() == "Processing done..."; }));
        return scan;
    }

    bool topLevelHas(app::VolumeScanDlg* scan, const QString& prefix) {
        const QModelIndex root = scan->treeModel()->index(0, 0);
        for (int r = 0; r < scan->treeModel()->rowCount(root); ++r)
            if (scan->treeModel()->index(r, 0, root).data().toString().startsWith(prefix))
                return true;
        return false;
    }
};

TEST_F(FatAdvancedWizard, Fat32VolumeIsRebuiltFromTheFirstFatCandidate) {
    auto* page = searchedPage("generated/mbr-disk.vmdk", false, {"FAT32"});
    if (!page) GTEST_SKIP() << "corpus disk generated/mbr-disk.vmdk is absent";
    EXPECT_TRUE(boxes.waitFor(
        "Number of FAT32-ENTRY found = 2 . Please select the choice from combo box and click "
        "Parse button to proceed."));
    EXPECT_EQ(page->candidateCombo()->itemText(0), "FAT32_ENTRY:0");
    EXPECT_FALSE(page->heapCombo()->isVisible());
    EXPECT_EQ(page->statusLabel()->text(), "Parsing done.Click Next to continue.");
    auto* scan = rebuild(page);
    ASSERT_NE(scan, nullptr);
    EXPECT_TRUE(topLevelHas(scan, "ORPHAN ENTRY"));
    EXPECT_TRUE(topLevelHas(scan, "Docs-"));
}

TEST_F(FatAdvancedWizard, ExfatPageShowsItsHeapListAndItsLabel) {
    auto* page = searchedPage("generated/gpt-disk.vmdk", true, {"FAT64", "exFat"});
    if (!page) GTEST_SKIP() << "corpus disk generated/gpt-disk.vmdk is absent";
    EXPECT_TRUE(page->heapCombo()->isVisible());
    EXPECT_GE(page->heapCombo()->count(), 1);
    EXPECT_EQ(page->heapCombo()->itemText(0), "HEAP_OFFSET_ENTRY:0");
    EXPECT_EQ(page->itemsLabel()->text(), "Total fat64 Entries Found:");
    EXPECT_TRUE(page->itemsLabel()->isVisible());
    // The boot sector's shift (4 KiB clusters), then the page's shifts, each shown as the
    // sectors per cluster it means.
    ASSERT_EQ(page->clusterCombo()->count(), 5);
    EXPECT_EQ(page->clusterCombo()->itemText(0), "8 (2^3)");
    EXPECT_EQ(page->clusterCombo()->itemText(1), "256 (2^8)");
    saveScreenshot(page, "4-advance-options-page-exfat");
    auto* scan = rebuild(page);
    ASSERT_NE(scan, nullptr);
    EXPECT_TRUE(topLevelHas(scan, "Docs-Garnet"));
}

TEST_F(FatAdvancedWizard, AStoppedSearchSaysItWasStoppedAndWhatItFound) {
    auto image = corpusFile("generated/mbr-disk.vmdk");
    if (!image) GTEST_SKIP() << "corpus disk generated/mbr-disk.vmdk is absent";
    auto* volumes = openVolumePage(openModesPage(*image));
    ASSERT_NE(volumes, nullptr);
    auto* recovery = openRecoveryPage(volumes, "FAT32");
    ASSERT_NE(recovery, nullptr);
    recovery->advancedRadio()->click();
    boxes.clear();
    recovery->nextButton()->click();
    auto* page = visiblePage<app::advanceOptions>();
    ASSERT_NE(page, nullptr);
    // Held at its first step, then stopped there.
    page->pauseButton()->click();
    EXPECT_FALSE(page->nextButton()->isEnabled());
    page->stopButton()->click();
    EXPECT_FALSE(page->nextButton()->isEnabled()) << "Next waits for the search to end";
    ASSERT_TRUE(waitUntil([&] { return page->nextButton()->isEnabled(); }, 60000));
    QTest::qWait(100);
    const QString status = page->statusLabel()->text();
    EXPECT_TRUE(status.startsWith("The search was stopped: ")) << status.toStdString();
    EXPECT_TRUE(status.contains("found before the stop")) << status.toStdString();
    EXPECT_FALSE(status.contains("Parsing done"));
    for (const QString& text : boxes.texts())
        EXPECT_FALSE(text.startsWith("Number of FAT32-ENTRY found")) << text.toStdString();
    saveScreenshot(page, "4-advance-options-stopped");
}

} // namespace
} // namespace vindaru::test
