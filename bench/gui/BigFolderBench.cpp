// The scan page on a folder of many files, driven as a user drives it (offscreen): the wizard
// opens a raw ext volume, scans it, then the folder is selected in the tree. Reported: the time
// from the click to the first painted rows of the list, the time to sort the list by name and by
// size and to scroll it, and the longest time the window did not answer (the longest gap between
// ticks of a timer that should fire every 10 ms) while the folder was opened. Mode expand opens
// the folder by its arrow in the tree instead; mode search lists the whole folder as the results
// of a search; mode open double-clicks the folder in the tree.
//
//   vindaru-bench-gui IMAGE FOLDER-NAME [select|expand|search|open]   (QT_QPA_PLATFORM=offscreen)
#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QLineEdit>
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
#include <string>

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
    if (argc != 3 && argc != 4)
        return fail("usage: vindaru-bench-gui IMAGE FOLDER-NAME [select|expand|search|open]");
    const std::string mode = argc == 4 ? argv[3] : "select";
    if (mode != "select" && mode != "expand" && mode != "search" && mode != "open")
        return fail("the mode is select, expand, search or open");
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
    const auto startWatch = [&] {
        longestGap = 0;
        sinceTick.start();
        ticker.start(10);
    };
    // Waits until the window is idle again (it answers within 50 ms, `settleMs` after `since`).
    QElapsedTimer clock;
    const auto settle = [&](qint64 since) {
        waitFor([&] { return sinceTick.elapsed() < 50 && clock.elapsed() > since + 200; });
        ticker.stop();
    };

    FileListModel* list = scan->listModel();
    QTableView* listView = scan->listView();
    // The list's first rows drawn: the view has rows and paints them now.
    const auto listPainted = [&] {
        if (list->rowCount() == 0) return false;
        listView->viewport()->repaint();
        return true;
    };
    const auto sortAndScroll = [&](const char* what) {
        clock.restart();
        listView->sortByColumn(0, Qt::AscendingOrder);
        listView->viewport()->repaint();
        const qint64 sortName = clock.restart();
        listView->sortByColumn(4, Qt::DescendingOrder);
        listView->viewport()->repaint();
        const qint64 sortSize = clock.restart();
        listView->scrollTo(list->index(list->rowCount() / 2, 0));
        listView->viewport()->repaint();
        const qint64 middle = clock.restart();
        listView->scrollToBottom();
        listView->viewport()->repaint();
        const qint64 bottom = clock.elapsed();
        std::printf("%s sort by name: %.3f s, by size: %.3f s\n", what, sortName / 1000.0,
                    sortSize / 1000.0);
        std::printf("%s scroll to the middle: %.3f s, to the end: %.3f s\n", what,
                    middle / 1000.0, bottom / 1000.0);
    };

    if (mode == "expand") {
        // The folder's arrow: its children in the tree, the first of them drawn.
        QTreeView* treeView = scan->treeView();
        const QPersistentModelIndex keep(folder);
        startWatch();
        clock.start();
        treeView->expand(folder);
        waitFor([&] {
            if (!keep.isValid() || tree->rowCount(keep) < 2 || !treeView->isExpanded(keep)) return false;
            treeView->viewport()->repaint();
            return true;
        });
        const qint64 firstItems = clock.elapsed();
        // The rest come in shares: until none has come for half a second.
        waitFor([&] { return !scan->busy(); });
        int items = -1;
        qint64 lastGrowth = clock.elapsed();
        waitFor([&] {
            if (tree->rowCount(keep) != items) {
                items = tree->rowCount(keep);
                lastGrowth = clock.elapsed();
            }
            return clock.elapsed() - lastGrowth > 500;
        });
        settle(lastGrowth);
        std::printf("click on the arrow to all items in the tree: %.3f s\n", lastGrowth / 1000.0);
        std::printf("folder %s: %d items in the tree\n", argv[2], tree->rowCount(keep));
        std::printf("click on the arrow to first painted items: %.3f s\n", firstItems / 1000.0);
        std::printf("longest time the window did not answer: %.3f s\n", longestGap / 1000.0);
        clock.restart();
        treeView->scrollToBottom();
        treeView->viewport()->repaint();
        std::printf("tree scroll to the end: %.3f s\n", clock.elapsed() / 1000.0);
    } else if (mode == "search") {
        // A search whose results are the whole folder.
        scan->searchEdit()->setText(QStringLiteral("file-"));
        startWatch();
        clock.start();
        scan->searchButton()->click();
        waitFor(listPainted);
        const qint64 firstRows = clock.elapsed();
        waitFor([&] { return !scan->busy(); });
        const qint64 allRows = clock.elapsed();
        settle(allRows);
        std::printf("search: %d rows found\n", list->rowCount());
        std::printf("click to first painted results: %.3f s, to the search's end: %.3f s\n",
                    firstRows / 1000.0, allRows / 1000.0);
        std::printf("longest time the window did not answer: %.3f s\n", longestGap / 1000.0);
        sortAndScroll("results");
    } else if (mode == "open") {
        // A double-click on the folder in the tree: its files listed by name, the folder opened.
        const QPersistentModelIndex keep(folder);
        startWatch();
        clock.start();
        emit scan->treeView()->doubleClicked(folder);
        waitFor(listPainted);
        const qint64 firstRows = clock.elapsed();
        waitFor([&] { return !scan->busy(); });
        const qint64 allRows = clock.elapsed();
        settle(allRows);
        std::printf("folder %s: %d rows listed, %d items in the tree\n", argv[2], list->rowCount(),
                    tree->rowCount(keep));
        std::printf("double-click to first painted rows: %.3f s, to the whole folder listed: %.3f s\n",
                    firstRows / 1000.0, allRows / 1000.0);
        std::printf("longest time the window did not answer: %.3f s\n", longestGap / 1000.0);
        sortAndScroll("list");
    } else {
        startWatch();
        clock.start();
        scan->treeView()->setCurrentIndex(folder);
        waitFor(listPainted);
        const qint64 firstRows = clock.elapsed();
        // The rest of the folder (its other rows, its tree items) until the window is idle again.
        waitFor([&] { return !scan->busy(); });
        const qint64 allRows = clock.elapsed();
        settle(allRows);
        std::printf("folder %s: %d rows listed\n", argv[2], list->rowCount());
        std::printf("click to first painted rows: %.3f s, to the whole folder listed: %.3f s\n",
                    firstRows / 1000.0, allRows / 1000.0);
        std::printf("longest time the window did not answer: %.3f s\n", longestGap / 1000.0);
        sortAndScroll("list");
    }
    for (QWidget* w : QApplication::topLevelWidgets()) w->hide();
    return 0;
}
