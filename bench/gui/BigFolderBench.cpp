// The scan page on a folder of many files, driven as a user drives it (offscreen): the wizard
// opens a raw ext volume, scans it, then the folder is selected in the tree. Reported: the time
// from the click to the first painted rows of the list, the time to sort the list by name and by
// size, and the longest time the window did not answer (the longest gap between ticks of a timer
// that should fire every 10 ms) while the folder was opened.
//
//   vindaru-bench-gui IMAGE FOLDER-NAME      (QT_QPA_PLATFORM=offscreen)
#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTableView>
#include <QTableWidget>
#include <QTimer>
#include <QTreeView>
#include <algorithm>
#include <cstdio>
#include <functional>

#include "app/COrdavinApp.h"
#include "app/CheckTreeModel.h"
#include "app/DriveParsingModes.h"
#include "app/FileListModel.h"
#include "app/ParceModeNtfsDlg.h"
#include "app/PopulateDriveDlg.h"
#include "app/UiDialogs.h"
#include "app/VhdInputDialog.h"
#include "app/VolumeScanDlg.h"

namespace {

using namespace vindaru::app;

template <typename T> T* visible() {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* page = qobject_cast<T*>(w); page && page->isVisible()) return page;
    return nullptr;
}

bool waitFor(const std::function<bool()>& done, int timeoutMs = 600000) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > timeoutMs) return false;
        QApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

// Every message box is answered as a user answers it: Yes when asked, otherwise OK.
void answerBoxes() {
    for (QWidget* w : QApplication::topLevelWidgets()) {
        auto* box = qobject_cast<QMessageBox*>(w);
        if (!box || !box->isVisible() || box->property("answered").toBool()) continue;
        box->setProperty("answered", true);
        QAbstractButton* button = box->button(QMessageBox::Yes);
        if (!button) button = box->button(QMessageBox::Ok);
        if (button) QMetaObject::invokeMethod(button, &QAbstractButton::click, Qt::QueuedConnection);
    }
}

int fail(const char* what) {
    std::fprintf(stderr, "vindaru-bench-gui: %s\n", what);
    return 1;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) return fail("usage: vindaru-bench-gui IMAGE FOLDER-NAME");
    QApplication application(argc, argv);
    const QString image = QString::fromLocal8Bit(argv[1]);
    const QString folderName = QString::fromLocal8Bit(argv[2]);
    UiDialogs::setOpenFileHook([image](QWidget*, const QString&, const QString&) { return image; });
    QTimer boxes;
    QObject::connect(&boxes, &QTimer::timeout, &answerBoxes);
    boxes.start(20);

    COrdavinApp wizard(QDir::tempPath());
    if (!wizard.start()) return fail("the wizard did not start");
    wizard.imagePage()->fixedDiskRadio()->click();
    wizard.imagePage()->browseButton()->click();
    wizard.imagePage()->nextButton()->click();
    auto* modes = visible<DriveParsingModes>();
    if (!modes) return fail("the image did not open");
    modes->nextButton()->click();
    auto* volumes = visible<PopulateDriveDlg>();
    if (!volumes || !waitFor([&] { return volumes->volumeTable()->rowCount() > 0; }))
        return fail("no volume found");
    volumes->volumeTable()->selectRow(0);
    volumes->nextButton()->click();
    auto* recovery = visible<ParceModeNtfsDlg>();
    if (!recovery) return fail("no recovery mode page");
    recovery->nextButton()->click();
    auto* scan = visible<VolumeScanDlg>();
    if (!scan || !waitFor([&] { return !scan->busy() && scan->treeModel()->rowCount() > 0; }))
        return fail("the scan did not end");
    CheckTreeModel* tree = scan->treeModel();
    QModelIndex folder;
    waitFor([&] {
        const QModelIndex root = tree->index(0, 0);
        for (int r = 0; r < tree->rowCount(root); ++r)
            if (tree->index(r, 0, root).data().toString() == folderName) folder = tree->index(r, 0, root);
        return folder.isValid();
    }, 10000);
    if (!folder.isValid()) return fail("the folder is not at the volume's top level");

    // The window's answer time: a timer that should tick every 10 ms.
    QElapsedTimer sinceTick;
    qint64 longestGap = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        longestGap = std::max(longestGap, sinceTick.restart());
    });

    FileListModel* list = scan->listModel();
    QElapsedTimer clock;
    clock.start();
    sinceTick.start();
    ticker.start(10);
    scan->treeView()->setCurrentIndex(folder);
    bool painted = false;
    waitFor([&] {
        if (list->rowCount() == 0) return false;
        scan->listView()->viewport()->repaint();
        painted = true;
        return true;
    });
    const qint64 firstRows = clock.elapsed();
    // The rest of the folder's work (its tree items) until the window is idle again.
    waitFor([&] { return sinceTick.elapsed() < 50 && clock.elapsed() > firstRows + 200; });
    ticker.stop();
    const int rows = list->rowCount();

    clock.restart();
    scan->listView()->sortByColumn(0, Qt::AscendingOrder);
    QApplication::processEvents();
    const qint64 sortName = clock.restart();
    scan->listView()->sortByColumn(4, Qt::DescendingOrder);
    QApplication::processEvents();
    const qint64 sortSize = clock.elapsed();

    std::printf("folder %s: %d rows listed\n", argv[2], rows);
    std::printf("click to first painted rows: %.3f s%s\n", firstRows / 1000.0, painted ? "" : " (not painted)");
    std::printf("longest time the window did not answer: %.3f s\n", longestGap / 1000.0);
    std::printf("sort by name: %.3f s, by size: %.3f s\n", sortName / 1000.0, sortSize / 1000.0);
    for (QWidget* w : QApplication::topLevelWidgets()) w->hide();
    return 0;
}
