// A large folder is opened on the worker: its rows are listed from the entries at once and take
// their tree items once those are all inserted, while the page waits (Back, Save, other folders)
// as it does for any long work. Here every folder counts as large, on the corpus ext2 volume.
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QTreeView>

#include "app/CheckTreeModel.h"
#include "app/FileListModel.h"
#include "app/VolumeScanDlg.h"
#include "app/WizardFixture.h"

namespace vindaru::test {
namespace {

class LargeFolder : public WizardFixture {
  protected:
    void TearDown() override {
        app::VolumeScanDlg::setLargeFolderSize(20000);
        WizardFixture::TearDown();
    }
    // The scan page of the corpus disk's ext volume, its scan ended (null when it did not).
    app::VolumeScanDlg* scannedExtPage() {
        auto* volumes = mbrVolumePage();
        auto* recovery = volumes ? openRecoveryPage(volumes, "extX") : nullptr;
        if (!recovery) return nullptr;
        recovery->nextButton()->click();
        auto* scan = visiblePage<app::VolumeScanDlg>();
        if (!scan || !waitUntil([&] { return !scan->busy(); }, 60000)) return nullptr;
        return scan;
    }
};

TEST_F(LargeFolder, ListedAtOnceThenTiedToItsTreeItems) {
    if (!corpusFile("generated/mbr-disk.vmdk")) GTEST_SKIP() << "corpus disk generated/mbr-disk.vmdk is absent";
    app::VolumeScanDlg* scan = scannedExtPage();
    ASSERT_NE(scan, nullptr);
    app::CheckTreeModel* model = scan->treeModel();
    const QModelIndex root = model->index(0, 0);
    QModelIndex docs;
    for (int r = 0; r < model->rowCount(root); ++r)
        if (model->index(r, 0, root).data().toString().startsWith("Docs-")) docs = model->index(r, 0, root);
    ASSERT_TRUE(docs.isValid());

    // The same folder listed at once, as a small folder is: what the worker must list too.
    scan->treeView()->setCurrentIndex(docs);
    app::FileListModel* list = scan->listModel();
    QStringList atOnce;
    for (int r = 0; r < list->rowCount(); ++r)
        atOnce << list->row(r).texts[0];
    ASSERT_FALSE(atOnce.isEmpty());
    scan->treeView()->setCurrentIndex(root);

    app::VolumeScanDlg::setLargeFolderSize(0);
    QModelIndex other;
    for (int r = 0; r < model->rowCount(root); ++r)
        if (model->index(r, 0, root) != docs && model->hasChildren(model->index(r, 0, root)))
            other = model->index(r, 0, root);
    ASSERT_TRUE(other.isValid());
    scan->treeView()->setCurrentIndex(other);
    // Opening: the page waits as for any long work.
    EXPECT_TRUE(scan->busy());
    EXPECT_FALSE(scan->backButton()->isEnabled());
    EXPECT_EQ(scan->runningWork(), "A folder is being opened.");
    // A folder chosen meanwhile is opened once this one is.
    scan->treeView()->setCurrentIndex(docs);
    ASSERT_TRUE(waitUntil([&] { return !scan->busy() && list->rowCount() == atOnce.size(); }));
    EXPECT_TRUE(scan->backButton()->isEnabled());
    QStringList listed;
    for (int r = 0; r < list->rowCount(); ++r) {
        const app::FileListRow& row = list->row(r);
        listed << row.texts[0];
        // Tied to its tree item, with the item's check, and described when shown.
        ASSERT_NE(row.item, kNoTreeItem) << row.texts[0].toStdString();
        EXPECT_EQ(model->tree().label(row.item), row.texts[0].toStdString());
        EXPECT_EQ(row.checked, model->tree().getCheck(row.item));
        EXPECT_FALSE(row.texts[4].isEmpty()) << row.texts[0].toStdString();
    }
    EXPECT_EQ(listed, atOnce);

    // A row unchecked now checks off its tree item, as for any folder.
    QModelIndex first = list->index(0, 0);
    ASSERT_TRUE(list->setData(first, Qt::Unchecked, Qt::CheckStateRole));
    EXPECT_FALSE(model->tree().getCheck(list->row(0).item));
}

// A double-click on a large folder opens it and makes its rows on the worker, then lists them a
// share per turn of the event loop: the window answers meanwhile, and the list ends as a
// double-click on a small folder leaves it (names only, tree order, each row on its item with
// the item's check), with the folder open in the tree.
TEST_F(LargeFolder, DoubleClickListsWhileTheWindowAnswers) {
    if (!corpusFile("generated/mbr-disk.vmdk")) GTEST_SKIP() << "corpus disk generated/mbr-disk.vmdk is absent";
    app::VolumeScanDlg* scan = scannedExtPage();
    ASSERT_NE(scan, nullptr);
    app::CheckTreeModel* model = scan->treeModel();
    app::FileListModel* list = scan->listModel();
    const QModelIndex root = model->index(0, 0);
    QModelIndex small, large;
    for (int r = 0; r < model->rowCount(root); ++r) {
        const QModelIndex at = model->index(r, 0, root);
        if (!model->hasChildren(at)) continue;
        (small.isValid() ? large : small) = at;
    }
    ASSERT_TRUE(small.isValid() && large.isValid());
    const auto listed = [&] {
        QStringList rows;
        for (int r = 0; r < list->rowCount(); ++r) {
            const app::FileListRow& row = list->row(r);
            EXPECT_NE(row.item, kNoTreeItem) << row.texts[0].toStdString();
            EXPECT_EQ(model->tree().label(row.item), row.texts[0].toStdString());
            EXPECT_EQ(row.checked, model->tree().getCheck(row.item));
            EXPECT_TRUE(row.texts[4].isEmpty()) << row.texts[0].toStdString(); // names only
            rows << row.texts[0];
        }
        return rows;
    };

    // The reference: the same folder double-clicked as a small folder, done at once. Checked
    // first, so that the rows show the checks their items take.
    ASSERT_TRUE(model->setData(small, Qt::Checked, Qt::CheckStateRole));
    emit scan->treeView()->doubleClicked(small);
    EXPECT_FALSE(scan->busy());
    const QStringList atOnce = listed();
    ASSERT_FALSE(atOnce.isEmpty());
    EXPECT_TRUE(list->row(0).checked);

    app::VolumeScanDlg::setLargeFolderSize(0);
    ASSERT_TRUE(model->setData(large, Qt::Checked, Qt::CheckStateRole));
    int turns = 0;
    int turnsWhileOpening = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        ++turns;
        if (scan->busy()) ++turnsWhileOpening;
    });
    ticker.start(0);
    emit scan->treeView()->doubleClicked(large);
    // Not done on the spot: the page waits as for any long work, and the list is emptied.
    EXPECT_TRUE(scan->busy());
    EXPECT_EQ(scan->runningWork(), "A folder is being opened.");
    EXPECT_FALSE(scan->backButton()->isEnabled());
    EXPECT_EQ(list->rowCount(), 0);
    ASSERT_TRUE(waitUntil([&] { return !scan->busy(); }));
    ticker.stop();
    EXPECT_GT(turnsWhileOpening, 0);
    EXPECT_TRUE(scan->backButton()->isEnabled());
    const QStringList whileAnswering = listed();
    ASSERT_FALSE(whileAnswering.isEmpty());
    // Each checked, as its folder is.
    for (int r = 0; r < list->rowCount(); ++r)
        EXPECT_TRUE(list->row(r).checked) << r;
    // The folder is open in the tree, and the rows are its files in tree order.
    const QPersistentModelIndex keep(large);
    ASSERT_TRUE(waitUntil([&] { return scan->treeView()->isExpanded(keep); }));
    QStringList files;
    for (int r = 0; r < model->rowCount(keep); ++r) {
        const TreeItemId child = model->itemAt(model->index(r, 0, keep));
        if (model->tree().item(child)->icon != IconKind::Folder)
            files << QString::fromStdString(model->tree().label(child));
    }
    EXPECT_EQ(whileAnswering, files);

    // The small folder again, now counted large too: the same rows as done at once.
    emit scan->treeView()->doubleClicked(small);
    ASSERT_TRUE(waitUntil([&] { return !scan->busy(); }));
    EXPECT_EQ(listed(), atOnce);
}

// A sort by size asks only each row's bytes; the texts of a row are made when it is shown, or
// when a sort needs them (times, attributes), so a million rows sort by size without them.
TEST(LargeFolderList, SortingBySizeAsksOnlyTheBytes) {
    app::FileListModel model;
    int described = 0;
    int sized = 0;
    const std::uint64_t bytesOf[] = {30, 10, 50, 20, 40};
    model.setDescriber([&](app::FileListRow& r) {
        ++described;
        r.texts[1] = "01/02/2020  10:00 AM";
        r.bytes = bytesOf[*r.entry];
        r.described = true;
        return true;
    });
    model.setSizer([&](app::FileListRow& r) {
        ++sized;
        r.bytes = bytesOf[*r.entry];
        return true;
    });
    const auto undescribed = [](std::uint64_t from, std::uint64_t to) {
        std::vector<app::FileListRow> rows;
        for (std::uint64_t e = from; e < to; ++e) {
            app::FileListRow r;
            r.texts[0] = QString("f%1").arg(e);
            r.entry = e;
            r.described = false;
            rows.push_back(std::move(r));
        }
        return rows;
    };
    model.append(undescribed(0, 3));
    model.sort(app::kSizeColumn, Qt::AscendingOrder);
    EXPECT_EQ(described, 0);
    EXPECT_EQ(sized, 3);
    // Rows that come later take their place by size too.
    model.append(undescribed(3, 5));
    EXPECT_EQ(described, 0);
    QStringList names;
    for (int r = 0; r < model.rowCount(); ++r) names << model.index(r, 0).data().toString();
    EXPECT_EQ(names, (QStringList{"f1", "f3", "f0", "f4", "f2"}));
    // A sort by a time needs the texts: every row is described, none sized again.
    model.sort(1, Qt::AscendingOrder);
    EXPECT_EQ(described, 5);
    EXPECT_EQ(sized, 5);
}

// Rows come in many appends (a search's shares): each keeps its place and its data however many
// came before it, and the count of checked rows the header shows follows every change.
TEST(LargeFolderList, ManyAppendsKeepRowsAndTheCheckedCount) {
    app::FileListModel model;
    constexpr int kShares = 7;
    constexpr int kShare = 3000; // shares across the model's blocks of rows
    for (int s = 0; s < kShares; ++s) {
        std::vector<app::FileListRow> rows;
        for (int i = 0; i < kShare; ++i) {
            app::FileListRow r;
            const int n = s * kShare + i;
            r.texts[0] = QString("f%1").arg(n);
            r.checked = n % 3 == 0;
            r.bytes = static_cast<std::uint64_t>(n);
            rows.push_back(std::move(r));
        }
        model.append(std::move(rows));
    }
    ASSERT_EQ(model.rowCount(), kShares * kShare);
    for (int n = 0; n < model.rowCount(); n += 997) {
        EXPECT_EQ(model.row(n).texts[0], QString("f%1").arg(n));
        EXPECT_EQ(model.row(n).bytes, static_cast<std::uint64_t>(n));
    }
    EXPECT_EQ(model.checkedCount(), static_cast<std::size_t>(kShares * kShare / 3));
    ASSERT_TRUE(model.setData(model.index(1, 0), Qt::Checked, Qt::CheckStateRole));
    ASSERT_TRUE(model.setData(model.index(0, 0), Qt::Unchecked, Qt::CheckStateRole));
    ASSERT_TRUE(model.setData(model.index(0, 0), Qt::Unchecked, Qt::CheckStateRole)); // no change
    EXPECT_EQ(model.checkedCount(), static_cast<std::size_t>(kShares * kShare / 3));
    model.sort(app::kSizeColumn, Qt::DescendingOrder);
    EXPECT_EQ(model.row(0).texts[0], QString("f%1").arg(kShares * kShare - 1));
    EXPECT_EQ(model.checkedCount(), static_cast<std::size_t>(kShares * kShare / 3));
    model.setAllChecked(true);
    EXPECT_EQ(model.checkedCount(), static_cast<std::size_t>(kShares * kShare));
    model.setAllChecked(false);
    EXPECT_EQ(model.checkedCount(), 0u);
    model.clear();
    EXPECT_EQ(model.rowCount(), 0);
    EXPECT_EQ(model.checkedCount(), 0u);
}

} // namespace
} // namespace vindaru::test
