// The bridges between engines on worker threads and the widgets: the tree model replaying a
// worker's inserts, message boxes asked from a worker, and the Fixed Disk and VHD choices
// reaching the volume list.
#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTreeView>
#include <atomic>
#include <thread>

#include "app/CheckTreeModel.h"
#include "app/UiMessageSink.h"
#include "app/VolumeScanDlg.h"
#include "app/WizardFixture.h"

namespace vindaru::test {
namespace {

// Every row the model shows, depth first, as the tree holds them.
void expectSameShape(const CheckTree& tree, app::CheckTreeModel& model, TreeItemId item,
                     const QModelIndex& index) {
    const std::vector<TreeItemId> children = tree.children(item);
    ASSERT_EQ(model.rowCount(index), static_cast<int>(children.size()));
    for (int r = 0; r < static_cast<int>(children.size()); ++r) {
        const QModelIndex child = model.index(r, 0, index);
        ASSERT_EQ(model.itemAt(child), children[static_cast<std::size_t>(r)]);
        expectSameShape(tree, model, children[static_cast<std::size_t>(r)], child);
    }
}

TEST(EngineBridge, TreeModelFollowsAWorkerThatInsertsChecksAndDeletes) {
    CheckTree tree;
    const TreeItemId early = tree.insertItem("early", IconKind::Folder);
    app::CheckTreeModel model(tree);
    QTreeView view;
    view.setModel(&model);
    view.show();

    std::atomic<bool> done{false};
    std::thread worker([&] {
        TreeItemId folder = early;
        for (int i = 0; i < 2000; ++i) {
            const TreeItemId item =
                tree.insertItem("item" + std::to_string(i), IconKind::ByExtension, folder);
            if (i % 100 == 0) folder = tree.insertItem("folder", IconKind::Folder, kTreeTop);
            if (i % 7 == 0) tree.setCheck(item, true);
            if (i % 13 == 0) tree.deleteItem(item);
        }
        done = true;
    });
    // The view keeps drawing while the worker inserts.
    while (!done) {
        view.expandAll();
        QTest::qWait(5);
    }
    worker.join();
    QTest::qWait(50);
    expectSameShape(tree, model, kTreeTop, {});

    // Check states come from the tree's computed images.
    const QModelIndex first = model.indexOf(early);
    const TreeItemId child = tree.insertItem("child", IconKind::ByExtension, early);
    tree.insertItem("other", IconKind::ByExtension, early);
    tree.setCheck(early, true);
    QTest::qWait(10);
    EXPECT_EQ(model.data(first, Qt::CheckStateRole).toInt(), Qt::Checked);
    tree.setCheck(child, false);
    EXPECT_EQ(model.data(first, Qt::CheckStateRole).toInt(), Qt::PartiallyChecked);
    model.setData(first, Qt::Unchecked, Qt::CheckStateRole);
    EXPECT_FALSE(tree.getCheck(early));

    tree.deleteAllItems();
    QTest::qWait(10);
    EXPECT_EQ(model.rowCount(), 0);
}

// Children appended to a large folder redraw the folder's box (and its ancestors'), which may
// now show another state, but not the boxes of the children it already had: a folder of a
// million items fills in shares without redrawing all it holds after each share.
TEST(EngineBridge, AppendedChildrenRedrawTheirFolderNotItsOtherChildren) {
    CheckTree tree;
    const TreeItemId folder = tree.insertItem("big", IconKind::Folder);
    for (int i = 0; i < 100; ++i) tree.insertItem("old" + std::to_string(i), IconKind::ByExtension, folder);
    tree.setCheck(folder, true);
    app::CheckTreeModel model(tree);
    QTest::qWait(20);
    const QModelIndex folderIndex = model.indexOf(folder);
    ASSERT_EQ(model.rowCount(folderIndex), 100);
    int folderRedrawn = 0;
    int oldChildrenRedrawn = 0;
    QObject::connect(&model, &QAbstractItemModel::dataChanged,
                     [&](const QModelIndex& from, const QModelIndex& to, const QList<int>& roles) {
                         if (!roles.contains(Qt::CheckStateRole)) return;
                         if (from == folderIndex) ++folderRedrawn;
                         if (from.parent() == folderIndex && from.row() < 100) oldChildrenRedrawn += to.row() - from.row() + 1;
                     });
    tree.insertItem("new", IconKind::ByExtension, folder); // unchecked: the folder is now partly checked
    QTest::qWait(20);
    ASSERT_EQ(model.rowCount(folderIndex), 101);
    EXPECT_GE(folderRedrawn, 1);
    EXPECT_EQ(oldChildrenRedrawn, 0);
    EXPECT_EQ(model.data(folderIndex, Qt::CheckStateRole).toInt(), Qt::PartiallyChecked);
}

TEST(EngineBridge, WorkerMessageIsShownOnTheUiThreadAndAbandonedBoxesAnswerNo) {
    BoxAnswerer boxes;
    QWidget owner;
    app::UiMessageSink sink(&owner);
    MessageAnswer answer = MessageAnswer::Ok;
    std::thread worker([&] {
        answer =
            sink.show(Message{"question?", false, MessageIcon::Question, MessageButtons::YesNo});
    });
    ASSERT_TRUE(boxes.waitFor("question?"));
    worker.join();
    EXPECT_EQ(answer, MessageAnswer::Yes);
    EXPECT_EQ(boxes.captions().front(), ""); // no caption

    // A page that closes abandons its sink: a waiting worker gets No and goes on.
    sink.abandon();
    std::thread late([&] {
        answer = sink.show(Message{"late?", true, MessageIcon::Question, MessageButtons::YesNo});
    });
    late.join();
    EXPECT_EQ(answer, MessageAnswer::No);
    QTest::qWait(50);
    EXPECT_FALSE(boxes.texts().contains("late?"));
}

class ImageKinds : public WizardFixture {};

TEST_F(ImageKinds, FixedDiskIsReadAsOneFlatFile) {
    auto flat = corpusFile("generated/tiny-disk-mono-flat-flat.vmdk");
    if (!flat) GTEST_SKIP() << "corpus image generated/tiny-disk-mono-flat-flat.vmdk is absent";
    ASSERT_TRUE(wizard->start());
    imagePage()->fixedDiskRadio()->click();
    nextFile = QString::fromStdString(flat->string());
    imagePage()->browseButton()->click();
    imagePage()->nextButton()->click();
    auto* modes = visiblePage<app::DriveParsingModes>();
    ASSERT_NE(modes, nullptr);
    auto* volumes = openVolumePage(modes);
    ASSERT_NE(volumes, nullptr);
    EXPECT_GE(rowOfType(volumes->volumeTable(), "FAT16"), 0);
    EXPECT_GE(rowOfType(volumes->volumeTable(), "extX"), 0);
    EXPECT_FALSE(boxes.texts().contains("Information lost ..go back and parse again"));
}

TEST_F(ImageKinds, VhdImageReachesTheVolumeList) {
    auto vhd = corpusFile("generated/gpt-disk.vhd");
    if (!vhd) GTEST_SKIP() << "corpus image generated/gpt-disk.vhd is absent";
    auto* modes = openModesPage(*vhd);
    ASSERT_NE(modes, nullptr);
    // The protective MBR ticks "GPT format" by itself.
    EXPECT_TRUE(modes->gptBox()->isChecked());
    auto* volumes = openVolumePage(modes);
    ASSERT_NE(volumes, nullptr);
    EXPECT_GE(volumes->volumeTable()->rowCount(), 4);
    EXPECT_GE(rowOfType(volumes->volumeTable(), "NTFS"), 0);
}

TEST_F(ImageKinds, ClosingTheScanPageStopsItsScanAndQuits) {
    auto* recovery = mbrNtfsRecoveryPage();
    if (!recovery) GTEST_SKIP() << "corpus image generated/mbr-disk.vmdk is absent";
    auto* scan = new app::VolumeScanDlg(*wizard, recovery, recovery->volume(), 1);
    scan->show();
    ASSERT_TRUE(scan->prepareScan());
    scan->pauseButton()->click();
    scan->runScan();
    scan->close(); // the close prompt, answered Yes
    ASSERT_TRUE(boxes.waitFor("Do you want to Close Application ?"));
    EXPECT_TRUE(wizard->quitRequested());
    EXPECT_EQ(scan->statusLabel()->text(), "All thread Stopped");
    // The paused scan was told to stop: its page can go without waiting for ever.
    wizard.reset();
}

} // namespace
} // namespace vindaru::test
