// The scan page: the chosen volume parsed on a worker thread, its folders in a check-box tree,
// the files of the selected folder in a check-box list, saving, and the search box. The scan,
// the lazy tree, the list rows and saving are VolumeScanLogic's; this shows them.
#pragma once

#include <atomic>
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <unordered_map>
#include <optional>
#include <memory>
#include <mutex>
#include <vector>

#include "app/PageWorker.h"
#include "app/WizardPage.h"
#include "browser/EntrySaver.h"
#include "browser/EntrySearch.h"
#include "common/CheckTree.h"
#include "volume/VolumeRecord.h"

class QAction;
class QComboBox;
class QMenu;
class QGroupBox;
class QLabel;
class QLineEdit;
class QModelIndex;
class QProgressBar;
class QPushButton;
class QToolButton;
class QTableView;
class QTreeView;

namespace vindaru {
class VolumeScanLogic;
struct AdvancedChoice;
class VolumeParser;
struct ListRow;
} // namespace vindaru

namespace vindaru::app {

class CheckHeaderView;
class PreviewPane;
class CheckTreeModel;
class FileListModel;
struct FileListRow;
class UiProgressSink;
class UiStatusSink;

class VolumeScanDlg : public WizardPage {
    Q_OBJECT
  public:
    // `previous` is the recovery mode page (Standard, Deep) or the advance options page.
    VolumeScanDlg(COrdavinApp& app, WizardPage* previous, VolumeRecord volume, int scanMode);
    ~VolumeScanDlg() override;

    // Page start, once the page is on screen: the parser and its scan thread.
    void startScan();
    // The two halves of startScan: false when the volume cannot be scanned (its message shown).
    bool prepareScan();
    void runScan();
    // Advanced mode: the advance options page's parser and choices, before the scan starts.
    void takeAdvancedParser(std::shared_ptr<VolumeParser> parser, const AdvancedChoice& choice);
    void stopEngines() override;
    QString runningWork() const override;
    bool busy() const;
    // Folders of more children than this are opened on the worker (tests lower it).
    static void setLargeFolderSize(std::size_t children);

    CheckTree& tree() { return tree_; }
    CheckTreeModel* treeModel() const { return treeModel_; }
    FileListModel* listModel() const { return listModel_; }
    QTreeView* treeView() const { return treeView_; }
    QTableView* listView() const { return listView_; }
    CheckHeaderView* listHeader() const { return listHeader_; }
    QLineEdit* volumeDataEdit() const { return volumeData_; }
    QLineEdit* searchEdit() const { return searchEdit_; }
    QPushButton* searchButton() const { return search_; }
    QLineEdit* outputEdit() const { return output_; }
    QPushButton* browseButton() const { return browse_; }
    QPushButton* saveButton() const { return save_; }
    QPushButton* saveCheckedButton() const { return saveChecked_; }
    PreviewPane* previewPane() const { return preview_; }
    // Where the tree draws the check box of the item at `index`.
    QRect treeCheckBoxRect(const QModelIndex& index) const;
    // The list's right-click menu for the row at `row` (Save, Save Checked, Preview).
    QMenu* listMenu() const { return listMenu_; }
    QPushButton* pauseButton() const { return pause_; }
    QPushButton* resumeButton() const { return resume_; }
    QPushButton* stopButton() const { return stop_; }
    QPushButton* backButton() const { return back_; }
    QProgressBar* progressBar() const { return progress_; }
    QLabel* statusLabel() const { return status_; }
    QLabel* secondStatusLabel() const { return secondStatus_; }

  protected:
    void leavingBack() override;

  private:
    void buildControls();
    void scanFinished();
    void setThreadControlsVisible(bool on);
    void setPaused(bool paused);
    void setWorking(bool on);
    void itemSelected(const QModelIndex& index);
    // A large folder is opened on the worker (the window answers meanwhile): for a selection its
    // rows are listed from the entries at once, then its tree items are inserted; the rows take
    // their tree items when they are all there. False when the folder is small (opened at once).
    bool openLargeFolder(TreeItemId item, bool select);
    void largeFolderOpened(TreeItemId item, bool select);
    void itemExpanded(const QModelIndex& index);
    void itemCollapsed(const QModelIndex& index);
    void itemDoubleClicked(const QModelIndex& index);
    // A double-click on a large folder: it is opened and its rows made on the worker, then
    // listed a share per turn of the event loop (the window answers meanwhile); the folder
    // opens in the tree at the end. False when the folder is small (done at once).
    bool doubleClickLargeFolder(TreeItemId item);
    void listDoubleClickRows(std::shared_ptr<std::vector<ListRow>> rows, std::size_t from,
                             TreeItemId item);
    void showRows(const std::vector<ListRow>& rows);
    FileListRow listRowOf(const ListRow& row);
    bool describeRow(FileListRow& row);
    void browseOutput();
    void saveSelectedFolder();
    void saveCheckedEntries();
    void startSave(std::function<void()> job);
    void saveFinished();
    // The entry the list row shows (a tree item's, or a search result's).
    std::optional<EntryRef> rowEntry(int row) const;
    void previewRow(int row);
    void showListMenu(const QPoint& at);
    void searchClicked();
    void searchFinished();
    // Lists a share of the rows found so far; true when more wait (they follow after a timer's
    // turn, so that the window answers while a search finds a million files).
    bool flushSearchRows();
    bool treeCheckOf(const std::vector<std::string>& folders, EntryRef entry);
    bool eventFilter(QObject* watched, QEvent* event) override;
    bool refuseWhileBusy();

    VolumeRecord volume_;
    int scanMode_;
    CheckTree tree_;
    std::unique_ptr<UiStatusSink> statusSink_;
    std::unique_ptr<UiStatusSink> secondStatusSink_;
    std::unique_ptr<UiProgressSink> progressSink_;
    std::unique_ptr<VolumeScanLogic> logic_;
    bool scanning_ = false;
    bool saving_ = false;
    bool searching_ = false;
    bool opening_ = false; // a large folder is being opened on the worker
    // The page goes: a folder's rows still being listed are not waited for.
    std::shared_ptr<std::atomic<bool>> openingAbandoned_ = std::make_shared<std::atomic<bool>>(false);
    // Rows whose check box the user changed while their tree items were still being inserted.
    std::unordered_map<std::uint64_t, bool> checkedWhileOpening_;
    bool checkBoxClick_ = false; // a click on a tree item's check box is under way
    // Rows the search found, waiting for the UI thread.
    std::mutex searchRowsMutex_;
    std::deque<SearchRow> searchRows_;
    std::atomic<bool> searchFlushScheduled_{false};
    // The tree items of the folders search results were found in, during one search.
    struct SearchFolder {
        TreeItemId item = kNoTreeItem;
        bool complete = false; // the whole path is open in the tree
        std::unordered_map<EntryRef, TreeItemId> children;
    };
    std::map<std::vector<std::string>, SearchFolder> searchFolders_;

    QLineEdit* volumeData_;
    QLineEdit* searchEdit_;
    QPushButton* search_;
    QLabel* searchHint_;
    QTreeView* treeView_;
    CheckTreeModel* treeModel_;
    QTableView* listView_;
    FileListModel* listModel_;
    CheckHeaderView* listHeader_;
    QLineEdit* output_;
    QPushButton* browse_;
    QProgressBar* progress_;
    QLabel* status_;
    QLabel* secondStatus_;
    QPushButton* pause_;
    QPushButton* resume_;
    QPushButton* stop_;
    QToolButton* help_;
    QPushButton* back_;
    QPushButton* save_;
    QPushButton* saveChecked_;
    PreviewPane* preview_;
    QMenu* listMenu_;
    QAction* previewAction_;
    int menuRow_ = -1;
    // The summary of the save that just ended, shown once its worker is done.
    std::optional<SaveSummary> summary_;

    // Declared last: its destructor waits for the worker while everything above still exists.
    PageWorker worker_;
};

} // namespace vindaru::app
