// The scan page as a new user meets it: the list's header box, progress that ends with the
// work, saving into a folder that already holds the files, Save Checked, the preview, sorting,
// the right-click menu and the save summary.
#include <QAbstractButton>
#include <QBrush>
#include <QColor>
#include <QBuffer>
#include <QHeaderView>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTableView>
#include <QTest>
#include <QTreeView>

#include "app/CheckHeaderView.h"
#include "app/FileListModel.h"
#include "app/PreviewPane.h"
#include "app/SaveDialogs.h"
#include "app/VolumeScanDlg.h"
#include "app/WizardFixture.h"

namespace vindaru::test {
namespace {

const QString kQuestionStart = "number of files found inside this folder = ";
const QString kTakenStart = "Some files to save are already in the output folder";

class ScanPageFaults : public WizardFixture {
  protected:
    // The NTFS volume of the corpus MBR disk scanned in `deep` or Standard mode, or null.
    app::VolumeScanDlg* scannedPage(bool deep = false) {
        auto* modes = mbrNtfsRecoveryPage();
        if (!modes) return nullptr;
        if (deep) modes->deepRadio()->click();
        modes->nextButton()->click();
        auto* scan = visiblePage<app::VolumeScanDlg>();
        EXPECT_NE(scan, nullptr);
        if (!scan) return nullptr;
        EXPECT_TRUE(waitUntil([&] { return scan->statusLabel()->text() == "Processing done..."; }));
        EXPECT_TRUE(waitUntil([&] { return !scan->busy(); }));
        return scan;
    }
    QModelIndex folder(app::VolumeScanDlg* scan, const QString& name) {
        return childNamed(scan->treeModel(), scan->treeModel()->index(0, 0), name);
    }
    // Selects the folder: its files fill the list.
    void selectFolder(app::VolumeScanDlg* scan, const QString& name) {
        const QModelIndex index = folder(scan, name);
        ASSERT_TRUE(index.isValid()) << name.toStdString();
        scan->treeView()->setCurrentIndex(index);
        ASSERT_TRUE(waitUntil([&] { return scan->listModel()->rowCount() > 0; }));
    }
    int listRow(app::VolumeScanDlg* scan, const QString& name) {
        for (int r = 0; r < scan->listModel()->rowCount(); ++r)
            if (scan->listModel()->row(r).texts[0] == name) return r;
        return -1;
    }
    void chooseOutput(app::VolumeScanDlg* scan, const ScratchDir& dir) {
        nextFolder = QString::fromStdString(dir.path().string());
        scan->browseButton()->click();
    }
    void saveFolderAndWait(app::VolumeScanDlg* scan, const QString& name) {
        scan->treeView()->setCurrentIndex(folder(scan, name));
        const int before = boxes.count("Saving process done");
        scan->saveButton()->click();
        ASSERT_TRUE(waitUntil([&] { return boxes.count("Saving process done") > before; }, 60000));
        ASSERT_TRUE(waitUntil([&] { return !scan->busy(); }));
    }
};

TEST_F(ScanPageFaults, OnlyAClickOnTheHeaderBoxTogglesTheRows) {
    auto* scan = scannedPage();
    if (!scan) GTEST_SKIP() << "corpus image generated/mbr-disk.vmdk is absent";
    selectFolder(scan, "Many dune");
    app::FileListModel* list = scan->listModel();
    QHeaderView* header = scan->listView()->horizontalHeader();
    QWidget* viewport = header->viewport();
    const int y = header->height() / 2;
    // A scan leaves the volume item checked, and so everything below it: start from none.
    scan->treeModel()->setData(scan->treeModel()->index(0, 0), Qt::Unchecked, Qt::CheckStateRole);
    selectFolder(scan, "Many dune");
    ASSERT_EQ(list->checkedCount(), 0u);

    // Elsewhere on the header: on another column, and on the first beside its box.
    QTest::mouseClick(viewport, Qt::LeftButton, {}, QPoint(header->sectionViewportPosition(2) + 20, y));
    EXPECT_EQ(list->checkedCount(), 0u);
    QTest::mouseClick(viewport, Qt::LeftButton, {},
                      QPoint(header->sectionViewportPosition(1) - 25, y));
    EXPECT_EQ(list->checkedCount(), 0u);

    // A drag that resizes the first column.
    const int width = header->sectionSize(0);
    const QPoint edge(header->sectionViewportPosition(1) - 1, y);
    QTest::mousePress(viewport, Qt::LeftButton, {}, edge);
    QMouseEvent move(QEvent::MouseMove, QPointF(edge + QPoint(60, 0)),
                     viewport->mapToGlobal(QPointF(edge + QPoint(60, 0))), Qt::NoButton,
                     Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(viewport, &move);
    QTest::mouseRelease(viewport, Qt::LeftButton, {}, edge + QPoint(60, 0));
    EXPECT_EQ(list->checkedCount(), 0u);
    EXPECT_GT(header->sectionSize(0), width);

    // The box itself.
    const QRect box = scan->listHeader()->checkBoxRect();
    QTest::mouseClick(viewport, Qt::LeftButton, {}, box.center());
    EXPECT_EQ(list->checkedCount(), static_cast<std::size_t>(list->rowCount()));
    EXPECT_TRUE(scan->listHeader()->isChecked());
    saveScreenshot(scan, "5-volume-scan-header-box");
    QTest::mouseClick(viewport, Qt::LeftButton, {}, box.center());
    EXPECT_EQ(list->checkedCount(), 0u);
}

TEST_F(ScanPageFaults, BarsEndWithTheWorkAndTheStatusWithItsEndText) {
    struct Seen {
        int value = -1, maximum = -1;
        QString status;
        bool visible = false;
    };
    std::map<QString, Seen> seen;
    app::VolumeScanDlg* watched = nullptr;
    boxes.onBox([&](QMessageBox* box) {
        auto* scan = watched ? watched : visiblePage<app::VolumeScanDlg>();
        if (!scan) return;
        const QString key = box->text().startsWith(kQuestionStart) ? kQuestionStart : box->text();
        seen[key] = {scan->progressBar()->value(), scan->progressBar()->maximum(),
                     scan->statusLabel()->text(), scan->progressBar()->isVisible()};
    });
    for (bool deep : {false, true}) {
        seen.clear();
        watched = nullptr;
        auto* scan = scannedPage(deep);
        if (!scan) GTEST_SKIP() << "corpus image generated/mbr-disk.vmdk is absent";
        ASSERT_TRUE(seen.count("Scanning process completed...")) << deep;
        const Seen& end = seen["Scanning process completed..."];
        EXPECT_EQ(end.value, end.maximum) << (deep ? "deep" : "standard");
        EXPECT_EQ(end.status, "Scan finished.") << end.status.toStdString();
        if (!deep) {
            watched = scan;
            ScratchDir out;
            chooseOutput(scan, out);
            saveFolderAndWait(scan, "Docs-Garnet");
            ASSERT_TRUE(seen.count(kQuestionStart));
            const Seen& question = seen[kQuestionStart];
            EXPECT_LT(question.value, question.maximum) << "the bar waits for the answer";
            const Seen& done = seen["Saving process done"];
            EXPECT_TRUE(!done.visible || done.value == done.maximum);
            QTest::qWait(150);
            EXPECT_TRUE(scan->statusLabel()->text().startsWith("Saving process done: "))
                << scan->statusLabel()->text().toStdString();
        }
        boxes.clear();
        wizard.reset();
        wizard = std::make_unique<app::COrdavinApp>(QString::fromStdString(lockDir.path().string()));
    }
}

TEST_F(ScanPageFaults, SavingIntoAFolderThatHoldsTheFilesAsksOnce) {
    auto* scan = scannedPage();
    if (!scan) GTEST_SKIP() << "corpus image generated/mbr-disk.vmdk is absent";
    ScratchDir out;
    chooseOutput(scan, out);
    saveFolderAndWait(scan, "Docs-Garnet");
    EXPECT_EQ(boxes.count(kTakenStart), 0);
    const fs::path report = out.path() / "Docs-Garnet" / "report-basil.txt";
    ASSERT_TRUE(fs::exists(report));
    const std::string md5 = md5OfFile(report);

    // Again: asked once, answered with the default, Keep Both.
    QString pressed = "Keep Both";
    int asked = 0;
    boxes.onBox([&](QMessageBox* box) {
        if (!box->text().startsWith(kTakenStart)) return;
        if (asked == 0 && pressed == "Keep Both") saveScreenshot(box, "7-save-names-taken");
        ++asked;
        EXPECT_EQ(box->defaultButton()->text(), "Keep Both");
        for (QAbstractButton* b : box->buttons())
            if (b->text() == pressed)
                QMetaObject::invokeMethod(b, &QAbstractButton::click, Qt::QueuedConnection);
    });
    saveFolderAndWait(scan, "Docs-Garnet");
    EXPECT_EQ(asked, 1);
    EXPECT_TRUE(fs::exists(out.path() / "Docs-Garnet" / "report-basil (2).txt"));
    EXPECT_EQ(md5OfFile(out.path() / "Docs-Garnet" / "report-basil (2).txt"), md5);
    EXPECT_TRUE(fs::exists(out.path() / "Docs-Garnet" / "Archive quartz" / "2010" / "notes-cedar (2).log"));

    // Skip leaves everything as it was; Replace writes over the first copies.
    pressed = "Skip";
    asked = 0;
    fs::resize_file(report, 3);
    saveFolderAndWait(scan, "Docs-Garnet");
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(fs::file_size(report), 3u);
    EXPECT_FALSE(fs::exists(out.path() / "Docs-Garnet" / "report-basil (3).txt"));
    pressed = "Replace";
    asked = 0;
    saveFolderAndWait(scan, "Docs-Garnet");
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(md5OfFile(report), md5);
    EXPECT_FALSE(fs::exists(out.path() / "Docs-Garnet" / "report-basil (3).txt"));
}

TEST_F(ScanPageFaults, SaveCheckedSavesExactlyTheCheckedEntries) {
    auto* scan = scannedPage();
    if (!scan) GTEST_SKIP() << "corpus image generated/mbr-disk.vmdk is absent";
    ScratchDir out;
    chooseOutput(scan, out);
    // A subfolder in the tree, one file in the list, and one search result; nothing else
    // (a scan leaves everything checked).
    app::CheckTreeModel* model = scan->treeModel();
    model->setData(model->index(0, 0), Qt::Unchecked, Qt::CheckStateRole);
    selectFolder(scan, "Docs-Garnet");
    QModelIndex docs = folder(scan, "Docs-Garnet");
    scan->treeView()->expand(docs);
    ASSERT_TRUE(waitUntil([&] {
        docs = folder(scan, "Docs-Garnet");
        return childNamed(model, docs, "Archive quartz").isValid();
    }));
    const QModelIndex archive = childNamed(model, docs, "Archive quartz");
    model->setData(archive, Qt::Checked, Qt::CheckStateRole);
    const int report = listRow(scan, "report-basil.txt");
    ASSERT_GE(report, 0);
    scan->listModel()->setData(scan->listModel()->index(report, 0), Qt::Checked, Qt::CheckStateRole);
    QTest::keyClicks(scan->searchEdit(), "item-001");
    scan->searchButton()->click();
    ASSERT_TRUE(boxes.waitFor("Searching Finished"));
    ASSERT_TRUE(waitUntil([&] { return !scan->busy() && scan->listModel()->rowCount() == 1; }));
    scan->listModel()->setData(scan->listModel()->index(0, 0), Qt::Checked, Qt::CheckStateRole);

    scan->saveCheckedButton()->click();
    ASSERT_TRUE(boxes.waitFor("Saving process done", 60000));
    ASSERT_TRUE(waitUntil([&] { return !scan->busy(); }));
    EXPECT_TRUE(boxes.texts().contains(kQuestionStart + "4 .do u want to continue dumping these files..?"))
        << boxes.texts().join(" | ").toStdString();
    EXPECT_TRUE(fs::exists(out.path() / "Docs-Garnet" / "report-basil.txt"));
    EXPECT_TRUE(fs::exists(out.path() / "Docs-Garnet" / "Archive quartz" / "2010" / "notes-cedar.log"));
    EXPECT_TRUE(fs::exists(out.path() / "Docs-Garnet" / "Archive quartz" / "2010" / "data-cedar.bin"));
    EXPECT_EQ(md5OfFile(out.path() / "Many dune" / "item-001-basil.txt"),
              "375ce1e8096ee8d988e9c261e2ab7c07");
    // Nothing unchecked.
    EXPECT_FALSE(fs::exists(out.path() / "Docs-Garnet" / "draft-indigo.txt"));
    EXPECT_FALSE(fs::exists(out.path() / "readme-cedar.txt"));
    EXPECT_FALSE(fs::exists(out.path() / "Many dune" / "item-000-ember.dat"));
    std::size_t files = 0;
    for (const auto& e : fs::recursive_directory_iterator(out.path()))
        files += e.is_regular_file() ? 1 : 0;
    EXPECT_EQ(files, 4u);
}

TEST_F(ScanPageFaults, ThePreviewShowsTextAndHexAndTheMenuOffersIt) {
    auto* scan = scannedPage();
    if (!scan) GTEST_SKIP() << "corpus image generated/mbr-disk.vmdk is absent";
    selectFolder(scan, "Docs-Garnet");
    const int report = listRow(scan, "report-basil.txt");
    ASSERT_GE(report, 0);
    scan->listView()->setCurrentIndex(scan->listModel()->index(report, 0));
    app::PreviewPane* preview = scan->previewPane();
    EXPECT_EQ(preview->kind(), app::PreviewPane::Kind::Text);
    EXPECT_FALSE(preview->shownText().isEmpty());
    EXPECT_TRUE(preview->caption().startsWith("report-basil.txt"));
    saveScreenshot(scan, "5-volume-scan-preview");

    // A deleted file shows what saving it would write.
    const int draft = listRow(scan, "draft-indigo.txt");
    if (draft >= 0) {
        scan->listView()->setCurrentIndex(scan->listModel()->index(draft, 0));
        EXPECT_NE(preview->kind(), app::PreviewPane::Kind::None);
    }

    // A binary file, through the right-click menu's Preview.
    selectFolder(scan, "Compressed");
    const int random = listRow(scan, "random-indigo.bin");
    ASSERT_GE(random, 0);
    QMenu* menu = scan->listMenu();
    QStringList items;
    for (QAction* a : menu->actions())
        items << a->text();
    EXPECT_EQ(items, (QStringList{"Save", "Save Checked", "Preview"}));
    const QRect cell = scan->listView()->visualRect(scan->listModel()->index(random, 0));
    emit scan->listView()->customContextMenuRequested(cell.center());
    menu->hide();
    menu->actions()[2]->trigger();
    EXPECT_EQ(preview->kind(), app::PreviewPane::Kind::Hex);
    EXPECT_TRUE(preview->shownText().startsWith("00000000  "));
    EXPECT_LE(preview->shownText().count('\n'), 256);
}

TEST_F(ScanPageFaults, TheListSortsByNameTimeAndSize) {
    auto* scan = scannedPage();
    if (!scan) GTEST_SKIP() << "corpus image generated/mbr-disk.vmdk is absent";
    selectFolder(scan, "Many dune");
    app::FileListModel* list = scan->listModel();
    ASSERT_GE(list->rowCount(), 10);
    QHeaderView* header = scan->listView()->horizontalHeader();
    const int y = header->height() / 2;
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, QPoint(header->sectionViewportPosition(4) + 20, y));
    for (int r = 1; r < list->rowCount(); ++r)
        EXPECT_LE(list->row(r - 1).bytes, list->row(r).bytes);
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, QPoint(header->sectionViewportPosition(4) + 20, y));
    EXPECT_GE(list->row(0).bytes, list->row(list->rowCount() - 1).bytes);
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, QPoint(header->sectionViewportPosition(3) + 20, y));
    for (int r = 1; r < list->rowCount(); ++r)
        EXPECT_LE(app::FileListModel::timeKey(list->row(r - 1).texts[3]),
                  app::FileListModel::timeKey(list->row(r).texts[3]));
    saveScreenshot(scan, "5-volume-scan-sorted");

    // Time texts sort by the time they show: 12 AM is the noon hour, PM the afternoon.
    EXPECT_LT(app::FileListModel::timeKey("05/06/2021  11:59 AM"),
              app::FileListModel::timeKey("05/06/2021  12:00 AM"));
    EXPECT_LT(app::FileListModel::timeKey("05/06/2021  12:59 AM"),
              app::FileListModel::timeKey("05/06/2021  01:00 PM"));
    EXPECT_LT(app::FileListModel::timeKey("12/31/2020  11:00 PM"),
              app::FileListModel::timeKey("01/01/2021  00:00 AM"));
    EXPECT_EQ(app::FileListModel::timeKey(""), -1);
}

// The "Recoverable" column: how much of each file no live file has taken since. The deleted
// files of the corpus volume kept their clusters and show "100%" as the live ones do.
TEST_F(ScanPageFaults, TheRecoverableColumnShowsHowIntactEachFileIsAndSortsByIt) {
    auto* scan = scannedPage();
    if (!scan) GTEST_SKIP() << "corpus image generated/mbr-disk.vmdk is absent";
    app::FileListModel* list = scan->listModel();
    EXPECT_EQ(list->headerData(app::kRecoverableColumn, Qt::Horizontal, Qt::DisplayRole).toString(), "Recoverable");
    selectFolder(scan, "Old umber");
    const int deleted = listRow(scan, "kept-not-basil.txt");
    ASSERT_GE(deleted, 0);
    EXPECT_TRUE(list->row(deleted).deleted);
    EXPECT_EQ(list->index(deleted, app::kRecoverableColumn).data().toString(), "100%");
    selectFolder(scan, "Docs-Garnet");
    for (int r = 0; r < list->rowCount(); ++r)
        EXPECT_EQ(list->row(r).texts[app::kRecoverableColumn], "100%") << list->row(r).texts[0].toStdString();

    // Shares the corpus does not have, sorted: rows without one stay last either way.
    app::FileListModel model;
    std::vector<app::FileListRow> rows(4);
    const std::optional<double> shares[] = {0.4, std::nullopt, 1.0, 0.0};
    for (std::size_t i = 0; i < rows.size(); ++i) rows[i].recoverable = shares[i];
    model.append(std::move(rows));
    const auto order = [&] {
        std::string text;
        for (int r = 0; r < model.rowCount(); ++r) text += recoverablePercentText(model.row(r).recoverable) + ",";
        return text;
    };
    model.sort(app::kRecoverableColumn, Qt::AscendingOrder);
    EXPECT_EQ(order(), "0%,40%,100%,,");
    model.sort(app::kRecoverableColumn, Qt::DescendingOrder);
    EXPECT_EQ(order(), "100%,40%,0%,,");
}

TEST_F(ScanPageFaults, EverySaveEndsWithItsSummaryAndTheOutputFolderButton) {
    auto* scan = scannedPage();
    if (!scan) GTEST_SKIP() << "corpus image generated/mbr-disk.vmdk is absent";
    ScratchDir out;
    chooseOutput(scan, out);
    QString summary;
    boxes.onBox([&](QMessageBox* box) {
        if (box->text() != "Saving process done") return;
        if (summary.isNull()) saveScreenshot(box, "7-save-summary");
        summary = box->informativeText();
        for (QAbstractButton* b : box->buttons())
            if (b->text() == "Open Output Folder")
                QMetaObject::invokeMethod(b, &QAbstractButton::click, Qt::QueuedConnection);
    });
    saveFolderAndWait(scan, "Docs-Garnet");
    EXPECT_TRUE(summary.contains("files, ")) << summary.toStdString();
    EXPECT_TRUE(summary.contains("written")) << summary.toStdString();
    ASSERT_TRUE(waitUntil([&] { return !urls.empty(); }));
    EXPECT_EQ(urls.back(), QUrl::fromLocalFile(QString::fromStdString(out.path().string())));

    // A single file saved by a double-click ends the same way.
    summary.clear();
    const QModelIndex file = folder(scan, "readme-cedar.txt");
    emit scan->treeView()->doubleClicked(file);
    ASSERT_TRUE(waitUntil([&] { return !summary.isEmpty(); }));
    EXPECT_TRUE(summary.startsWith("1 file, 300 Bytes written")) << summary.toStdString();
}

TEST_F(ScanPageFaults, SavingWhereNothingCanBeWrittenSaysItFailed) {
    auto* scan = scannedPage();
    if (!scan) GTEST_SKIP() << "corpus image generated/mbr-disk.vmdk is absent";
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QString why;
    boxes.onBox([&](QMessageBox* box) {
        if (!box->text().startsWith("Nothing saved")) return;
        icon = box->icon();
        why = box->informativeText();
        saveScreenshot(box, "7-save-failed");
    });
    const QString unwritable = "/proc/vindaru-no-such-folder/out";
    scan->outputEdit()->setText(unwritable);
    scan->treeView()->setCurrentIndex(folder(scan, "Docs-Garnet"));
    scan->saveButton()->click();
    ASSERT_TRUE(boxes.waitFor("Nothing saved: the output folder cannot be used", 60000))
        << boxes.texts().join(" | ").toStdString();
    ASSERT_TRUE(waitUntil([&] { return !scan->busy(); }));
    EXPECT_EQ(icon, QMessageBox::Critical);
    EXPECT_TRUE(why.contains(unwritable)) << why.toStdString();
    EXPECT_EQ(boxes.count("Saving process done"), 0);
    EXPECT_TRUE(scan->statusLabel()->text().startsWith("Nothing saved")) << scan->statusLabel()->text().toStdString();
}

TEST_F(ScanPageFaults, ASaveCanBePausedKeepsBackShutAndAStopIsNoSuccess) {
    auto* scan = scannedPage();
    if (!scan) GTEST_SKIP() << "corpus image generated/mbr-disk.vmdk is absent";
    ScratchDir out;
    chooseOutput(scan, out);
    // Paused while the count question is open: the save waits at its first file.
    boxes.onBox([&](QMessageBox* box) {
        if (box->text().startsWith(kQuestionStart)) scan->pauseButton()->click();
    });
    QString stoppedText;
    QMessageBox::Icon stoppedIcon = QMessageBox::NoIcon;
    scan->treeView()->setCurrentIndex(folder(scan, "Docs-Garnet"));
    scan->saveButton()->click();
    ASSERT_TRUE(waitUntil([&] {
        return std::any_of(boxes.texts().begin(), boxes.texts().end(),
                           [](const QString& t) { return t.startsWith(kQuestionStart); });
    }));
    QTest::qWait(300);
    EXPECT_TRUE(scan->busy());
    EXPECT_FALSE(scan->backButton()->isEnabled()) << "Back would abandon the save midway";
    EXPECT_FALSE(scan->pauseButton()->isEnabled());
    EXPECT_TRUE(scan->resumeButton()->isEnabled());
    EXPECT_TRUE(scan->stopButton()->isVisible());
    auto* amount = scan->findChild<QLabel*>("progressAmount");
    ASSERT_NE(amount, nullptr);
    EXPECT_TRUE(amount->text().contains("paused")) << amount->text().toStdString();
    saveScreenshot(scan, "5-volume-scan-save-paused");
    EXPECT_TRUE(fs::is_empty(out.path()) || !fs::exists(out.path() / "Docs-Garnet" / "report-basil.txt"));

    boxes.onBox([&](QMessageBox* box) {
        if (box->text().startsWith("Saving")) {
            stoppedText = box->informativeText();
            stoppedIcon = box->icon();
        }
    });
    scan->stopButton()->click();
    ASSERT_TRUE(boxes.waitFor("Saving stopped before the end"))
        << boxes.texts().join(" | ").toStdString();
    ASSERT_TRUE(waitUntil([&] { return !scan->busy(); }));
    EXPECT_EQ(boxes.count("Saving process done"), 0);
    EXPECT_EQ(stoppedIcon, QMessageBox::Warning);
    EXPECT_TRUE(stoppedText.contains("not reached")) << stoppedText.toStdString();
    EXPECT_TRUE(scan->backButton()->isEnabled());

    // The next save starts from an empty bar, not from the last one's count.
    QString amountAtQuestion;
    boxes.onBox([&](QMessageBox* box) {
        if (box->text().startsWith(kQuestionStart)) amountAtQuestion = amount->text();
    });
    saveFolderAndWait(scan, "Docs-Garnet");
    EXPECT_FALSE(amountAtQuestion.contains(" of ")) << amountAtQuestion.toStdString();
    EXPECT_TRUE(fs::exists(out.path() / "Docs-Garnet" / "report-basil.txt"));
}

TEST_F(ScanPageFaults, FoldersSavedInTurnKeepTheirOwnNames) {
    auto* scan = scannedPage();
    if (!scan) GTEST_SKIP() << "corpus image generated/mbr-disk.vmdk is absent";
    ScratchDir out;
    chooseOutput(scan, out);
    saveFolderAndWait(scan, "Docs-Garnet");
    saveFolderAndWait(scan, "Many dune");
    EXPECT_TRUE(fs::exists(out.path() / "Docs-Garnet" / "report-basil.txt"));
    EXPECT_TRUE(fs::exists(out.path() / "Many dune" / "item-001-basil.txt"));
    EXPECT_FALSE(fs::exists(out.path() / "report-basil.txt"));
    EXPECT_FALSE(fs::exists(out.path() / "item-001-basil.txt"));
}

TEST_F(ScanPageFaults, DeletedEntriesAreRedWhenTheirFolderIsOpenedByItsArrow) {
    auto* scan = scannedPage();
    if (!scan) GTEST_SKIP() << "corpus image generated/mbr-disk.vmdk is absent";
    app::CheckTreeModel* model = scan->treeModel();
    QModelIndex docs = folder(scan, "Docs-Garnet");
    scan->treeView()->expand(docs);
    QModelIndex draft;
    ASSERT_TRUE(waitUntil([&] {
        docs = folder(scan, "Docs-Garnet");
        draft = childNamed(model, docs, "draft-indigo.txt");
        return draft.isValid();
    }));
    QTest::qWait(50);
    // Opened by the first click on its arrow, and open it stays.
    EXPECT_TRUE(scan->treeView()->isExpanded(docs));
    const QVariant colour = draft.data(Qt::ForegroundRole);
    ASSERT_TRUE(colour.isValid()) << "drawn in the default colour";
    EXPECT_EQ(colour.value<QBrush>().color(), QColor(Qt::red));
    const QModelIndex report = childNamed(model, docs, "report-basil.txt");
    ASSERT_TRUE(report.isValid());
    EXPECT_FALSE(report.data(Qt::ForegroundRole).isValid());
}

TEST_F(ScanPageFaults, SearchResultsTakeTheTreeChecksShowSlashPathsAndStayWhenATreeBoxIsTicked) {
    auto* scan = scannedPage();
    if (!scan) GTEST_SKIP() << "corpus image generated/mbr-disk.vmdk is absent";
    QTest::keyClicks(scan->searchEdit(), "report-");
    scan->searchButton()->click();
    ASSERT_TRUE(boxes.waitFor("Searching Finished"));
    ASSERT_TRUE(waitUntil([&] { return !scan->busy() && scan->listModel()->rowCount() > 0; }));
    app::FileListModel* list = scan->listModel();
    const int found = list->rowCount();
    for (int r = 0; r < found; ++r) {
        const QString path = list->row(r).texts[0];
        EXPECT_TRUE(path.startsWith("ROOT/")) << path.toStdString();
        EXPECT_FALSE(path.contains('\\')) << path.toStdString();
        // The scan left everything checked: so are the files found.
        EXPECT_TRUE(list->row(r).checked) << path.toStdString();
    }
    const QString first = list->row(0).texts[0];

    // Ticking a folder's box in the tree checks it and leaves the results where they are.
    const QModelIndex docs = folder(scan, "Docs-Garnet");
    ASSERT_TRUE(docs.isValid());
    QTest::mouseClick(scan->treeView()->viewport(), Qt::LeftButton, {},
                      scan->treeCheckBoxRect(docs).center());
    QTest::qWait(50);
    EXPECT_EQ(folder(scan, "Docs-Garnet").data(Qt::CheckStateRole).toInt(), Qt::Unchecked);
    ASSERT_EQ(list->rowCount(), found);
    EXPECT_EQ(list->row(0).texts[0], first);
    saveScreenshot(scan, "6-search-results-after-tick");
}

// An entry view over a few in-memory files, for the preview's kinds.
class MemoryView : public EntryView {
  public:
    std::vector<QByteArray> files;
    std::string fileSystemType() const override { return "memory"; }
    std::uint64_t entryLimit() const override { return files.size(); }
    std::optional<EntryRef> rootEntry() const override { return std::nullopt; }
    bool isEntry(EntryRef e) const override { return e < files.size(); }
    std::string label(EntryRef) const override { return "file"; }
    bool isDirectory(EntryRef) const override { return false; }
    bool isDeleted(EntryRef) const override { return false; }
    bool hasChildren(EntryRef) const override { return false; }
    std::vector<EntryRef> children(EntryRef) const override { return {}; }
    EntryTexts describe(EntryRef) override { return {}; }
    std::string sizeText(EntryRef) override { return {}; }
    std::uint64_t byteSize(EntryRef e) override { return static_cast<std::uint64_t>(files[e].size()); }
    EntryTimes times(EntryRef) override { return {}; }
    bool writeContent(EntryRef e, const ContentSink& sink) override {
        // In pieces, as parsers hand content over.
        const QByteArray& f = files[e];
        for (qsizetype at = 0; at < f.size(); at += 1000) {
            const auto* p = reinterpret_cast<const std::uint8_t*>(f.constData() + at);
            if (!sink({p, static_cast<std::size_t>(std::min<qsizetype>(1000, f.size() - at))}))
                return false;
        }
        return true;
    }
};

TEST(PreviewPane, PicturesTextInBothEncodingsAndHex) {
    MemoryView view;
    QImage image(40, 30, QImage::Format_RGB32);
    image.fill(Qt::darkCyan);
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    view.files.push_back(png);
    view.files.push_back(QByteArray("caf\xc3\xa9 au lait\n").repeated(10000)); // > 64 KiB
    const QString utf16Text = QStringLiteral("Gr\u00fc\u00dfe aus dem Text\r\n");
    QByteArray utf16(reinterpret_cast<const char*>(utf16Text.utf16()), utf16Text.size() * 2);
    view.files.push_back(utf16);
    QByteArray binary;
    for (int i = 0; i < 9000; ++i)
        binary.append(static_cast<char>(i * 7));
    view.files.push_back(binary);

    app::PreviewPane pane;
    pane.resize(400, 300);
    pane.showEntry(view, 0, "a.png");
    EXPECT_EQ(pane.kind(), app::PreviewPane::Kind::Picture);
    EXPECT_TRUE(pane.caption().contains("40 x 30")) << pane.caption().toStdString();
    pane.showEntry(view, 1, "b.txt");
    EXPECT_EQ(pane.kind(), app::PreviewPane::Kind::Text);
    EXPECT_TRUE(pane.shownText().startsWith(QStringLiteral("caf\u00e9 au lait")));
    EXPECT_LE(pane.shownText().size(), 64 * 1024);
    pane.showEntry(view, 2, "c.txt");
    EXPECT_EQ(pane.kind(), app::PreviewPane::Kind::Text);
    EXPECT_EQ(pane.shownText(), QString(utf16Text).replace("\r\n", "\n"));
    pane.showEntry(view, 3, "d.bin");
    EXPECT_EQ(pane.kind(), app::PreviewPane::Kind::Hex);
    EXPECT_EQ(pane.shownText().count('\n'), 256); // 4 KiB, 16 bytes a line
    EXPECT_TRUE(pane.caption().contains("the first 4 KiB"));

    // The first picture a fresh pane shows fills the pane (it was drawn as small as the hidden
    // picture area once).
    QImage large(437, 365, QImage::Format_RGB32);
    large.fill(Qt::darkRed);
    QByteArray largePng;
    QBuffer largeBuffer(&largePng);
    largeBuffer.open(QIODevice::WriteOnly);
    large.save(&largeBuffer, "PNG");
    view.files.push_back(largePng);
    app::PreviewPane fresh;
    fresh.resize(400, 300);
    fresh.show();
    QApplication::processEvents();
    fresh.showEntry(view, 4, "large.png");
    const QPixmap drawn = fresh.pictureLabel()->pixmap();
    EXPECT_GT(drawn.width(), 250) << drawn.width() << "x" << drawn.height();
    EXPECT_LE(drawn.width(), 400);

    const QString line = app::PreviewPane::hexView(QByteArray("AB\x01", 3));
    EXPECT_TRUE(line.startsWith("00000000  41 42 01 ")) << line.toStdString();
    EXPECT_TRUE(line.endsWith(" |AB.|\n")) << line.toStdString();
}

} // namespace
} // namespace vindaru::test
