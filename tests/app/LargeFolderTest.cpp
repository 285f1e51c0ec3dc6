// A large folder is opened on the worker: its rows are listed from the entries at once and take
// their tree items once those are all inserted, while the page waits (Back, Save, other folders)
// as it does for any long work. Here every folder counts as large, on the corpus ext2 volume.
#include <QLabel>
#include <QPushButton>
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
};

TEST_F(LargeFolder, ListedAtOnceThenTiedToItsTreeItems) {
    auto* volumes = mbrVolumePage();
    if (!volumes) GTEST_SKIP() << "corpus disk generated/mbr-disk.vmdk is absent";
    auto* recovery = openRecoveryPage(volumes, "extX");
    ASSERT_NE(recovery, nullptr);
    recovery->nextButton()->click();
    auto* scan = visiblePage<app::VolumeScanDlg>();
    ASSERT_NE(scan, nullptr);
    ASSERT_TRUE(waitUntil([&] { return !scan->busy(); }, 60000));
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

} // namespace
} // namespace vindaru::test
