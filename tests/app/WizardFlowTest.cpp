// The whole wizard as a user walks it: an image, the modes page, the volume list, the recovery
// mode, the scan page with its tree and list, saving a folder, and going Back and Next again.
#include <QCheckBox>
#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTableView>
#include <QTableWidget>
#include <QTest>
#include <QTreeView>
#include <fstream>
#include <map>
#include <sstream>

#include "app/CheckHeaderView.h"
#include "app/CheckTreeModel.h"
#include "app/DriveParsingModes.h"
#include "app/FileListModel.h"
#include "app/ParceModeNtfsDlg.h"
#include "app/PopulateDriveDlg.h"
#include "app/SectorEdit.h"
#include "app/VolumeScanDlg.h"
#include "app/WizardFixture.h"

namespace vindaru::test {
namespace {

struct ExpectedFile {
    std::string md5;
    bool deleted = false;
};

// Files of the NTFS volume at `start` under `folder`, from the corpus listing.
std::map<std::string, ExpectedFile> expectedFiles(const fs::path& listing, const std::string& start,
                                                  const std::string& folder) {
    std::map<std::string, ExpectedFile> files;
    std::ifstream in(listing);
    std::string line;
    while (std::getline(in, line)) {
        std::vector<std::string> f;
        std::stringstream fields(line);
        for (std::string cell; std::getline(fields, cell, '\t');)
            f.push_back(cell);
        if (f.size() < 8 || f[0] != start || f[3] != "0") continue;
        if (f[2].rfind(folder + "/", 0) != 0) continue;
        files[f[2].substr(folder.size() + 1)] = ExpectedFile{f[6], f[4] == "1"};
    }
    return files;
}

class WizardFlow : public WizardFixture {
  protected:
    app::VolumeScanDlg* scanNtfs(app::PopulateDriveDlg* volumes) {
        auto* modes = openRecoveryPage(volumes, "NTFS");
        if (!modes) return nullptr;
        EXPECT_TRUE(modes->standardRadio()->isChecked());
        saveScreenshot(modes, "4-recovery-mode-page");
        modes->nextButton()->click();
        auto* scan = visiblePage<app::VolumeScanDlg>();
        EXPECT_NE(scan, nullptr);
        if (scan) {
            EXPECT_TRUE(
                waitUntil([&] { return scan->statusLabel()->text() == "Processing done..."; }));
        }
        return scan;
    }
};

TEST_F(WizardFlow, NtfsVolumeFromImageToSavedFolderAndBackAgain) {
    auto image = corpusFile("generated/mbr-disk.vmdk");
    auto vhd = corpusFile("generated/mbr-disk.vhd");
    if (!image || !vhd) GTEST_SKIP() << "corpus disk generated/mbr-disk.* is absent";
    ScratchDir output;

    auto* modes = openModesPage(*image);
    ASSERT_NE(modes, nullptr);
    saveScreenshot(imagePage(), "1-image-page");
    EXPECT_TRUE(modes->standardRadio()->isChecked());
    EXPECT_FALSE(modes->saveImageButton()->isEnabled());
    EXPECT_FALSE(modes->progressBar()->isVisible());
    EXPECT_EQ(modes->statusLabel()->text(), "Choose any one of the mode and click next....");
    saveScreenshot(modes, "2-drive-parsing-modes-page");

    auto* volumes = openVolumePage(modes);
    ASSERT_NE(volumes, nullptr);
    EXPECT_FALSE(modes->isVisible());
    EXPECT_EQ(volumes->statusLabel()->text(), "Select volume and click next button...");
    const int ntfsRow = rowOfType(volumes->volumeTable(), "NTFS");
    ASSERT_GE(ntfsRow, 0);
    EXPECT_EQ(volumes->volumeTable()->item(ntfsRow, 3)->text(), "2048");
    volumes->volumeTable()->selectRow(ntfsRow);
    EXPECT_EQ(volumes->startEdit()->text(), "2048");
    saveScreenshot(volumes, "3-volume-list-page");

    auto* scan = scanNtfs(volumes);
    ASSERT_NE(scan, nullptr);
    EXPECT_TRUE(boxes.texts().contains("Scanning process completed..."));
    EXPECT_TRUE(scan->backButton()->isEnabled());
    EXPECT_FALSE(scan->pauseButton()->isVisible());

    // The volume item, open, with the root's folders under it.
    app::CheckTreeModel* model = scan->treeModel();
    ASSERT_EQ(model->rowCount(), 1);
    const QModelIndex root = model->index(0, 0);
    EXPECT_EQ(root.data().toString(), "ROOT");
    EXPECT_TRUE(scan->treeView()->isExpanded(root));
    QModelIndex docs = childNamed(model, root, "Docs-Garnet");
    ASSERT_TRUE(docs.isValid());
    EXPECT_EQ(childNamed(model, docs, "..DUMY..").isValid(), true);

    // Expanding the folder replaces the placeholder with its children.
    scan->treeView()->expand(docs);
    ASSERT_TRUE(waitUntil([&] {
        docs = childNamed(model, root, "Docs-Garnet");
        return childNamed(model, docs, "Archive quartz").isValid() &&
               !childNamed(model, docs, "..DUMY..").isValid();
    }));

    // Selecting it lists its files, the deleted one in red, with sizes and times.
    scan->treeView()->setCurrentIndex(docs);
    app::FileListModel* list = scan->listModel();
    ASSERT_TRUE(waitUntil([&] { return list->rowCount() >= 2; }));
    int reportRow = -1, draftRow = -1;
    for (int r = 0; r < list->rowCount(); ++r) {
        if (list->row(r).texts[0] == "report-basil.txt") reportRow = r;
        if (list->row(r).texts[0] == "draft-indigo.txt") draftRow = r;
    }
    ASSERT_GE(reportRow, 0);
    EXPECT_EQ(list->row(reportRow).texts[4], "9.77 KB");
    EXPECT_FALSE(list->row(reportRow).texts[3].isEmpty());
    EXPECT_FALSE(list->row(reportRow).deleted);
    if (draftRow >= 0) {
        EXPECT_TRUE(list->row(draftRow).deleted);
    }

    // The header check box sets every row to its new state, and the rows their tree items.
    QHeaderView* header = scan->listView()->horizontalHeader();
    const QPoint box(header->sectionPosition(0) + 10, header->height() / 2);
    for (int click = 0; click < 2; ++click) {
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, box);
        const bool state = scan->listHeader()->isChecked();
        EXPECT_EQ(list->checkedCount(), state ? static_cast<std::size_t>(list->rowCount()) : 0u);
        EXPECT_EQ(scan->tree().getCheck(list->row(reportRow).item), state);
    }
    if (!scan->listHeader()->isChecked())
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, box);
    ASSERT_TRUE(scan->listHeader()->isChecked());
    QTest::qWait(50);
    EXPECT_EQ(model->index(0, 0, docs).isValid(), true);
    // One row unchecked: the header clears, and the folder shows a partial check.
    list->setData(list->index(reportRow, 0), Qt::Unchecked, Qt::CheckStateRole);
    EXPECT_FALSE(scan->listHeader()->isChecked());
    saveScreenshot(scan, "5-volume-scan-page");

    // Save the folder into a fresh output folder and compare every live file.
    nextFolder = QString::fromStdString(output.path().string());
    scan->browseButton()->click();
    EXPECT_EQ(scan->outputEdit()->text(), nextFolder);
    scan->saveButton()->click();
    ASSERT_TRUE(boxes.waitFor("Saving process done", 60000));
    EXPECT_TRUE(std::any_of(boxes.texts().begin(), boxes.texts().end(), [](const QString& t) {
        return t.startsWith("number of files found inside this folder = ");
    }));
    ASSERT_TRUE(waitUntil([&] { return !scan->busy(); }));
    const auto expected = expectedFiles(
        fs::path(VINDARU_CORPUS_DIR) / "generated/mbr-disk.expected.tsv", "2048", "/Docs-Garnet");
    ASSERT_FALSE(expected.empty());
    for (const auto& [path, file] : expected) {
        if (file.deleted || file.md5 == "-") continue;
        // The folder itself heads what was written.
        const fs::path saved = output.path() / "Docs-Garnet" / path;
        ASSERT_TRUE(fs::exists(saved)) << path;
        EXPECT_EQ(md5OfFile(saved), file.md5) << path;
    }

    // A search by name pattern lists matching files below the root with their paths.
    boxes.clear();
    QTest::keyClicks(scan->searchEdit(), "REPORT|notes-");
    scan->searchButton()->click();
    ASSERT_TRUE(boxes.waitFor("Searching Finished"));
    ASSERT_TRUE(waitUntil([&] { return !scan->busy(); }));
    QStringList found;
    for (int r = 0; r < list->rowCount(); ++r)
        found << list->row(r).texts[0];
    EXPECT_TRUE(found.contains("ROOT/Docs-Garnet/report-basil.txt"))
        << found.join(" ").toStdString();
    EXPECT_TRUE(found.contains("ROOT/Docs-Garnet/Archive quartz/2010/notes-cedar.log"));
    EXPECT_TRUE(scan->treeView()->isEnabled());
    QTest::qWait(250); // the last status text reaches the screen
    saveScreenshot(scan, "6-volume-scan-search");

    // Back to the recovery mode page as it was, and Next scans again on a new page.
    scan->backButton()->click();
    auto* modePage = visiblePage<app::ParceModeNtfsDlg>();
    ASSERT_NE(modePage, nullptr);
    EXPECT_TRUE(modePage->standardRadio()->isChecked());
    modePage->nextButton()->click();
    auto* again = visiblePage<app::VolumeScanDlg>();
    ASSERT_NE(again, nullptr);
    ASSERT_TRUE(waitUntil([&] { return again->statusLabel()->text() == "Processing done..."; }));
    EXPECT_EQ(again->treeModel()->rowCount(), 1);

    // Back twice: the volume list is as it was left.
    again->backButton()->click();
    visiblePage<app::ParceModeNtfsDlg>()->backButton()->click();
    auto* sameVolumes = visiblePage<app::PopulateDriveDlg>();
    ASSERT_EQ(sameVolumes, volumes);
    EXPECT_EQ(volumes->volumeTable()->currentRow(), ntfsRow);
}

} // namespace
} // namespace vindaru::test
