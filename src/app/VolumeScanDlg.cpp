#include "app/VolumeScanDlg.h"

#include <algorithm>
#include <iterator>
#include <chrono>
#include <thread>

#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QStyleOptionViewItem>
#include <QProgressBar>
#include <QPushButton>
#include <QSplitter>
#include <QTableView>
#include <QToolButton>
#include <QTimer>
#include <QTreeView>
#include <QVBoxLayout>

#include "app/COrdavinApp.h"
#include "app/CheckHeaderView.h"
#include "app/CheckTreeModel.h"
#include "app/FileListModel.h"
#include "app/PreviewPane.h"
#include "app/SaveDialogs.h"
#include "app/UiDialogs.h"
#include "app/UiProgressSink.h"
#include "app/UiStatusSink.h"
#include "app/UiThrottle.h"
#include "image/readWriteInterface.h"
#include "pages/AdvanceOptionsLogic.h"
#include "pages/VolumeScanLogic.h"

namespace vindaru::app {

namespace {

// The "Recoverable" column of a row: "100%", "40%", "0%", empty where the file system cannot tell.
void setRecoverable(FileListRow& r, std::optional<double> share) {
    r.recoverable = share;
    r.texts[kRecoverableColumn] = QString::fromStdString(recoverablePercentText(share));
}

constexpr const char* kWaitForOther = "Please wait for other process to complete";
// A folder with more children than this is opened on the worker.
std::size_t largeFolder = 20000;
}

VolumeScanDlg::VolumeScanDlg(COrdavinApp& app, WizardPage* previous, VolumeRecord volume,
                             int scanMode)
    : WizardPage(app, previous), volume_(std::move(volume)), scanMode_(scanMode), worker_(this) {
    buildControls();
    statusSink_ = std::make_unique<UiStatusSink>(status_);
    secondStatusSink_ = std::make_unique<UiStatusSink>(secondStatus_);
    progressSink_ = std::make_unique<UiProgressSink>(progress_);
    logic_ = std::make_unique<VolumeScanLogic>(
        session().sessionReader.get(), volume_, tree_,
        BrowserSinks{*statusSink_, *secondStatusSink_, *progressSink_, messages()}, scanMode_,
        session().rootItemName);
    logic_->setDriveFormatted(session().driveFormatted.load());
    volumeData_->setText(QString::fromStdString(volume_.volumeName));
    back_->setEnabled(false);
    resume_->setEnabled(false);
    // The bar ends with the scan, before its end message, and the status stops naming the
    // last record parsed.
    logic_->afterPlaceholders = [this] {
        progressSink_->complete();
        statusSink_->setText("Scan finished.");
    };
}

VolumeScanDlg::~VolumeScanDlg() {
    stopEngines();
    worker_.join();
    // An Advanced-mode parser stays with the advance options page: it must not keep pointing
    // at this page's tree and sinks.
    if (VolumeParser* parser = logic_->parser(); parser && scanMode_ == kScanModeAdvanced)
        parser->attachSinks({});
}

void VolumeScanDlg::takeAdvancedParser(std::shared_ptr<VolumeParser> parser, const AdvancedChoice& choice) {
    logic_->takeAdvancedParser(std::move(parser), choice);
}

void VolumeScanDlg::buildControls() {
    auto* volumeLabel = new QLabel(tr("Volume Data:"), this);
    volumeData_ = new QLineEdit(this);
    volumeData_->setReadOnly(true);
    volumeData_->setMaximumWidth(90);
    searchEdit_ = new QLineEdit(this);
    searchEdit_->setPlaceholderText(tr("File name pattern"));
    search_ = makeButton(tr("Search"), QStyle::SP_FileDialogContentsView, tr("Search"));
    searchHint_ = new QLabel(tr("* Use \"|\" to find multiple file type "), this);
    auto* topRow = new QHBoxLayout;
    topRow->addWidget(volumeLabel);
    topRow->addWidget(volumeData_);
    topRow->addSpacing(24);
    topRow->addWidget(searchEdit_, 1);
    topRow->addWidget(search_);
    topRow->addWidget(searchHint_);

    treeView_ = new QTreeView(this);
    treeModel_ = new CheckTreeModel(tree_, this);
    treeView_->setModel(treeModel_);
    treeView_->setHeaderHidden(true);
    treeView_->setUniformRowHeights(true);
    treeView_->setSelectionMode(QAbstractItemView::SingleSelection);
    treeView_->setExpandsOnDoubleClick(false);
    treeView_->setEditTriggers(QAbstractItemView::NoEditTriggers);

    listView_ = new QTableView(this);
    listModel_ = new FileListModel(this);
    listHeader_ = new CheckHeaderView(listView_);
    listView_->setHorizontalHeader(listHeader_);
    listView_->setModel(listModel_);
    listView_->verticalHeader()->hide();
    listView_->verticalHeader()->setDefaultSectionSize(22);
    listView_->setSelectionBehavior(QAbstractItemView::SelectRows);
    listView_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    listView_->setShowGrid(true);
    listView_->setWordWrap(false);
    listView_->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    for (int c = 0; c < kFileListColumns; ++c)
        listView_->setColumnWidth(c, FileListModel::columnWidths()[static_cast<std::size_t>(c)]);
    // Unsorted until the user picks a column: the rows keep the parser's order.
    listHeader_->setSortIndicator(-1, Qt::AscendingOrder);
    listHeader_->setSortIndicatorShown(true);
    listView_->setSortingEnabled(true);
    listModel_->setDescriber([this](FileListRow& r) { return describeRow(r); });
    listModel_->setSizer([this](FileListRow& r) {
        if (busy() || !logic_->view() || !r.entry) return false;
        r.bytes = logic_->view()->byteSize(*r.entry);
        return true;
    });
    listView_->setContextMenuPolicy(Qt::CustomContextMenu);

    preview_ = new PreviewPane(this);
    auto* rightSide = new QSplitter(Qt::Vertical, this);
    rightSide->addWidget(listView_);
    rightSide->addWidget(preview_);
    rightSide->setStretchFactor(0, 3);
    rightSide->setStretchFactor(1, 2);
    rightSide->setChildrenCollapsible(false);

    auto* splitter = new QSplitter(Qt::Horizontal, this);
    splitter->addWidget(treeView_);
    splitter->addWidget(rightSide);
    splitter->setStretchFactor(0, 1);
    splitter->setStretchFactor(1, 2);
    splitter->setSizes({270, 550});
    splitter->setChildrenCollapsible(false);

    auto* outputLabel = new QLabel(tr("Output folder:"), this);
    output_ = new QLineEdit(this);
    browse_ = makeButton(tr("Browse..."), QStyle::SP_DirOpenIcon, tr("Browse"));
    secondStatus_ = new QLabel(this);
    secondStatus_->setMinimumWidth(160);
    auto* outputRow = new QHBoxLayout;
    outputRow->addWidget(outputLabel);
    outputRow->addWidget(output_, 1);
    outputRow->addWidget(browse_);
    outputRow->addSpacing(12);
    outputRow->addWidget(secondStatus_);

    makeThreadButtons(pause_, resume_, stop_);
    QHBoxLayout* progressRow = makeProgressRow(progress_, {pause_, resume_, stop_});
    status_ = makeStatusLine();
    help_ = makeHelpButton();
    back_ = makeBackButton();
    save_ = makeButton(tr("Save"), QStyle::SP_DialogSaveButton, tr("Save"));
    saveChecked_ = makeButton(tr("Save Checked"), QStyle::SP_DialogSaveButton,
                              tr("Save the checked files and folders"));
    listMenu_ = new QMenu(this);
    listMenu_->addAction(tr("Save"), this, [this] { saveSelectedFolder(); });
    listMenu_->addAction(tr("Save Checked"), this, [this] { saveCheckedEntries(); });
    previewAction_ = listMenu_->addAction(tr("Preview"), this, [this] { previewRow(menuRow_); });

    QVBoxLayout* layout = makePageLayout(
        tr("Recovered files"), tr("Browse the volume's folders and files, and save them."), 8);
    layout->addLayout(topRow);
    layout->addWidget(splitter, 1);
    layout->addLayout(outputRow);
    layout->addLayout(progressRow);
    layout->addWidget(status_);
    layout->addLayout(makeButtonRow(help_, {back_, saveChecked_, save_}));

    treeView_->viewport()->installEventFilter(this);
    connect(treeView_, &QTreeView::clicked, this, &VolumeScanDlg::itemSelected);
    connect(treeView_->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this](const QModelIndex& current) { itemSelected(current); });
    connect(treeView_, &QTreeView::expanded, this, &VolumeScanDlg::itemExpanded);
    connect(treeView_, &QTreeView::collapsed, this, &VolumeScanDlg::itemCollapsed);
    connect(treeView_, &QTreeView::doubleClicked, this, &VolumeScanDlg::itemDoubleClicked);
    connect(listModel_, &FileListModel::rowCheckChanged, this,
            [this](int row, TreeItemId item, bool checked) {
                // Search rows stand for entries, not tree items; the rows of a folder still
                // being opened take their items later.
                if (item != kNoTreeItem)
                    tree_.setCheck(item, checked);
                else if (opening_ && row >= 0 && row < listModel_->rowCount() && listModel_->row(row).entry)
                    checkedWhileOpening_[*listModel_->row(row).entry] = checked;
            });
    connect(listModel_, &FileListModel::checksChanged, this, [this] {
        listHeader_->rowsChanged(static_cast<std::size_t>(listModel_->rowCount()),
                                 listModel_->checkedCount());
    });
    connect(listHeader_, &CheckHeaderView::toggled, listModel_, &FileListModel::setAllChecked);
    // A check box clicked in the tree shows in the rows of its files too.
    connect(treeModel_, &CheckTreeModel::checkToggled, this, [this] {
        listModel_->syncChecks([this](TreeItemId item) { return tree_.getCheck(item); });
    });
    connect(browse_, &QPushButton::clicked, this, &VolumeScanDlg::browseOutput);
    connect(save_, &QPushButton::clicked, this, &VolumeScanDlg::saveSelectedFolder);
    connect(saveChecked_, &QPushButton::clicked, this, &VolumeScanDlg::saveCheckedEntries);
    connect(listView_, &QTableView::customContextMenuRequested, this, &VolumeScanDlg::showListMenu);
    connect(listView_->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex& current) {
                if (current.isValid()) previewRow(current.row());
            });
    connect(search_, &QPushButton::clicked, this, &VolumeScanDlg::searchClicked);
    connect(pause_, &QPushButton::clicked, this, [this] { setPaused(true); });
    connect(resume_, &QPushButton::clicked, this, [this] { setPaused(false); });
    connect(stop_, &QPushButton::clicked, this, [this] {
        // Stop releases a pause itself; only the buttons and the bar are set back here.
        logic_->requestStop();
        showPaused(pause_, resume_, *progressSink_, false);
    });
    connect(back_, &QPushButton::clicked, this, &VolumeScanDlg::goBack);
}

// The parser serves one thread at a time: while a scan, a save or a search uses it, the page
// opens nothing and starts nothing else.
bool VolumeScanDlg::busy() const {
    return scanning_ || saving_ || searching_ || opening_;
}

QString VolumeScanDlg::runningWork() const {
    if (scanning_) return tr("The scan is running.");
    if (saving_) return tr("A save is running.");
    if (searching_) return tr("A search is running.");
    if (opening_) return tr("A folder is being opened.");
    return {};
}

void VolumeScanDlg::startScan() {
    if (prepareScan()) runScan();
}

bool VolumeScanDlg::prepareScan() {
    const VolumeScanLogic::Prepared prepared = logic_->prepare();
    if (prepared == VolumeScanLogic::Prepared::Ready) return true;
    if (prepared == VolumeScanLogic::Prepared::NotBuiltYet)
        info("This file system cannot be scanned by this version.");
    back_->setEnabled(true);
    setThreadControlsVisible(false);
    progress_->hide();
    return false;
}

void VolumeScanDlg::runScan() {
    scanning_ = true;
    setWorking(true);
    progressSink_->setUnit(UiProgressSink::Unit::Steps);
    worker_.start([this] { logic_->run(); }, [this] { scanFinished(); });
}

void VolumeScanDlg::scanFinished() {
    scanning_ = false;
    setWorking(false);
    progress_->hide();
    // The volume item is open once the scan has put the first level under it.
    const QModelIndex volumeIndex = treeModel_->indexOf(logic_->volumeItem());
    if (volumeIndex.isValid()) treeView_->expand(volumeIndex);
}

void VolumeScanDlg::setThreadControlsVisible(bool on) {
    pause_->setVisible(on);
    resume_->setVisible(on);
    stop_->setVisible(on);
}

void VolumeScanDlg::setPaused(bool paused) {
    if (paused)
        logic_->pause();
    else
        logic_->resume();
    showPaused(pause_, resume_, *progressSink_, paused);
}

// While a scan, a save or a search runs, Back would abandon it midway: it waits for the end
// (or for Stop).
void VolumeScanDlg::setWorking(bool on) {
    back_->setEnabled(!on);
    setThreadControlsVisible(on);
    if (on) return;
    // The next work starts unpaused (a Stop has released the pause).
    showPaused(pause_, resume_, *progressSink_, false);
}

void VolumeScanDlg::itemSelected(const QModelIndex& index) {
    // The parser is the scan's (or a save's) until it ends; opening items meanwhile would read
    // entries while they are written.
    if (busy() || checkBoxClick_ || !index.isValid() || !logic_->browser()) return;
    if (openLargeFolder(treeModel_->itemAt(index), true)) return;
    // Rows are described as they come into view: a folder of a million files lists at once.
    showRows(logic_->browser()->selectItem(treeModel_->itemAt(index), false));
}

void VolumeScanDlg::setLargeFolderSize(std::size_t children) {
    largeFolder = children;
}

bool VolumeScanDlg::openLargeFolder(TreeItemId item, bool select) {
    VolumeBrowser& browser = *logic_->browser();
    EntryView* view = logic_->view();
    const std::optional<EntryRef> entry = browser.entryOf(item);
    if (!view || !entry || !view->isDirectory(*entry)) return false;
    std::vector<EntryRef> children = view->children(*entry);
    if (children.size() <= largeFolder) return false;
    opening_ = true;
    back_->setEnabled(false);
    checkedWhileOpening_.clear();
    if (select) {
        listModel_->clear();
        listModel_->reserve(children.size());
        preview_->clear();
    }
    const bool checked = tree_.getCheck(item);
    worker_.start(
        [this, item, select, checked, view, children = std::move(children)] {
            if (select) {
                // The rows first, from the entries (as the tree will list them), in batches
                // that grow: the first rows show at once. Each is described when it is shown.
                constexpr std::size_t kFirstBatch = 1000;
                constexpr std::size_t kLargestBatch = 16384;
                std::size_t batch = kFirstBatch;
                auto rows = std::make_shared<std::vector<FileListRow>>();
                // One batch waits for the window at a time: between batches it answers.
                auto taken = std::make_shared<std::atomic<bool>>(true);
                const auto post = [this, taken, abandoned = openingAbandoned_](
                                      std::shared_ptr<std::vector<FileListRow>> done) {
                    while (!taken->load() && !abandoned->load())
                        std::this_thread::sleep_for(std::chrono::milliseconds(2));
                    taken->store(false);
                    QMetaObject::invokeMethod(
                        this,
                        [this, done, taken] {
                            listModel_->append(std::move(*done));
                            taken->store(true);
                        },
                        Qt::QueuedConnection);
                };
                for (EntryRef child : children) {
                    if (view->isDirectory(child)) continue;
                    if (rows->empty()) rows->reserve(batch);
                    FileListRow& r = rows->emplace_back();
                    r.texts[0] = QString::fromStdString(view->label(child));
                    r.entry = child;
                    r.deleted = view->isDeleted(child);
                    r.checked = checked;
                    r.described = false;
                    if (rows->size() < batch) continue;
                    post(std::move(rows));
                    rows = std::make_shared<std::vector<FileListRow>>();
                    batch = std::min(batch * 4, kLargestBatch);
                }
                if (!rows->empty()) post(std::move(rows));
            }
            logic_->browser()->openDirectory(item, select ? VolumeBrowser::OpenCause::Selection
                                                          : VolumeBrowser::OpenCause::Expansion);
        },
        [this, item, select] { largeFolderOpened(item, select); });
    return true;
}

void VolumeScanDlg::largeFolderOpened(TreeItemId item, bool select) {
    worker_.join();
    opening_ = false;
    back_->setEnabled(true);
    if (select) {
        // The rows take their tree items (and the items take the checks changed meanwhile).
        std::unordered_map<EntryRef, TreeItemId> itemOf;
        const std::vector<TreeItemId> children = tree_.children(item);
        itemOf.reserve(children.size());
        for (TreeItemId child : children)
            if (const std::optional<EntryRef> entry = logic_->browser()->entryOf(child))
                itemOf.emplace(*entry, child);
        for (const auto& [entry, checked] : checkedWhileOpening_)
            if (auto it = itemOf.find(entry); it != itemOf.end()) tree_.setCheck(it->second, checked);
        checkedWhileOpening_.clear();
        listModel_->attachItems(
            [&](std::uint64_t entry) {
                const auto it = itemOf.find(entry);
                return it == itemOf.end() ? kNoTreeItem : it->second;
            },
            [this](TreeItemId child) { return tree_.getCheck(child); });
    } else {
        const QModelIndex index = treeModel_->indexOf(item);
        if (index.isValid()) treeView_->expand(index);
    }
    // A folder chosen while this one was opened is opened now.
    const QModelIndex current = treeView_->currentIndex();
    if (current.isValid() && treeModel_->itemAt(current) != item) itemSelected(current);
}

void VolumeScanDlg::itemExpanded(const QModelIndex& index) {
    if (busy() || !logic_->browser()) return;
    const TreeItemId item = treeModel_->itemAt(index);
    tree_.expand(item, ExpandAction::Expand);
    if (openLargeFolder(item, false)) return;
    logic_->browser()->openDirectory(item, VolumeBrowser::OpenCause::Expansion);
    // The placeholder's removal reaches the view before the children do, and a view closes an
    // item that has lost its last child: open it again once they are all there (queued after
    // them), so that the first click on the arrow opens the folder.
    QMetaObject::invokeMethod(
        this,
        [this, keep = QPersistentModelIndex(index)] {
            if (keep.isValid()) treeView_->expand(keep);
        },
        Qt::QueuedConnection);
}

void VolumeScanDlg::itemCollapsed(const QModelIndex& index) {
    tree_.expand(treeModel_->itemAt(index), ExpandAction::Collapse);
}

void VolumeScanDlg::itemDoubleClicked(const QModelIndex& index) {
    if (busy() || checkBoxClick_ || !index.isValid() || !logic_->browser()) return;
    const TreeItemId item = treeModel_->itemAt(index);
    VolumeBrowser& browser = *logic_->browser();
    if (browser.isDirectoryItem(item)) {
        if (doubleClickLargeFolder(item)) return;
        showRows(browser.doubleClickDirectory(item));
        treeView_->expand(index);
        return;
    }
    const std::optional<EntryRef> entry = browser.entryOf(item);
    if (!entry || !logic_->saver()) return;
    const std::string field = output_->text().toStdString();
    startSave([this, entry, field] { logic_->saver()->saveSingleFile(*entry, field); });
}

bool VolumeScanDlg::doubleClickLargeFolder(TreeItemId item) {
    EntryView* view = logic_->view();
    const std::optional<EntryRef> entry = logic_->browser()->entryOf(item);
    if (!view || !entry) return false;
    if (std::max(tree_.childCount(item), view->children(*entry).size()) <= largeFolder) return false;
    opening_ = true;
    back_->setEnabled(false);
    listModel_->clear();
    preview_->clear();
    auto rows = std::make_shared<std::vector<ListRow>>();
    worker_.start([this, item, rows] { *rows = logic_->browser()->doubleClickDirectory(item); },
                  [this, item, rows] {
                      worker_.join();
                      listDoubleClickRows(rows, 0, item);
                  });
    return true;
}

void VolumeScanDlg::listDoubleClickRows(std::shared_ptr<std::vector<ListRow>> rows,
                                        std::size_t from, TreeItemId item) {
    constexpr std::size_t kShare = 20000;
    if (openingAbandoned_->load()) return;
    const std::size_t to = std::min(rows->size(), from + kShare);
    std::vector<FileListRow> shown;
    shown.reserve(to - from);
    for (std::size_t i = from; i < to; ++i)
        shown.push_back(listRowOf((*rows)[i]));
    listModel_->append(std::move(shown));
    if (to < rows->size()) {
        // After a timer's turn, so that input and painting come between shares.
        QTimer::singleShot(1, this, [this, rows, to, item] { listDoubleClickRows(rows, to, item); });
        return;
    }
    opening_ = false;
    back_->setEnabled(true);
    const QModelIndex index = treeModel_->indexOf(item);
    if (index.isValid()) treeView_->expand(index);
    // A folder chosen while this one was listed is opened now.
    const QModelIndex current = treeView_->currentIndex();
    if (current.isValid() && treeModel_->itemAt(current) != item) itemSelected(current);
}

FileListRow VolumeScanDlg::listRowOf(const ListRow& row) {
    FileListRow r;
    r.item = row.item;
    r.texts[0] = QString::fromStdString(row.label);
    if (!row.labelOnly) {
        r.texts[1] = QString::fromStdString(row.texts.creation);
        r.texts[2] = QString::fromStdString(row.texts.access);
        r.texts[3] = QString::fromStdString(row.texts.modification);
        r.texts[4] = QString::fromStdString(row.sizeText);
        r.texts[5] = QString::fromStdString(row.texts.attributes);
        setRecoverable(r, row.recoverable);
    }
    if (row.described) r.icon = treeModel_->icons().icon(row.icon, r.texts[0]);
    r.described = row.described || row.labelOnly;
    r.entry = row.entry;
    r.checked = tree_.getCheck(row.item);
    r.deleted = row.deleted;
    r.bytes = row.bytes;
    return r;
}

void VolumeScanDlg::showRows(const std::vector<ListRow>& rows) {
    std::vector<FileListRow> shown;
    shown.reserve(rows.size());
    for (const ListRow& row : rows)
        shown.push_back(listRowOf(row));
    listModel_->clear();
    listModel_->append(std::move(shown));
    preview_->clear();
}

bool VolumeScanDlg::describeRow(FileListRow& r) {
    // The parser serves one thread at a time: while a scan, save or search uses it, the row
    // waits (it is asked again when next drawn).
    if (busy() || !logic_->browser() || !r.entry) return false;
    ListRow row;
    row.entry = *r.entry;
    row.described = false;
    logic_->browser()->describe(row);
    r.texts[1] = QString::fromStdString(row.texts.creation);
    r.texts[2] = QString::fromStdString(row.texts.access);
    r.texts[3] = QString::fromStdString(row.texts.modification);
    r.texts[4] = QString::fromStdString(row.sizeText);
    r.texts[5] = QString::fromStdString(row.texts.attributes);
    r.bytes = row.bytes;
    setRecoverable(r, row.recoverable);
    r.icon = treeModel_->icons().icon(IconKind::ByExtension, r.texts[0]);
    r.described = true;
    return true;
}

void VolumeScanDlg::browseOutput() {
    output_->setText(UiDialogs::chooseFolder(this, tr("Please choose a folder.")));
}

bool VolumeScanDlg::refuseWhileBusy() {
    if (!busy()) return false;
    info(kWaitForOther);
    return true;
}

void VolumeScanDlg::saveSelectedFolder() {
    if (refuseWhileBusy() || !logic_->saver() || !logic_->browser()) return;
    const TreeItemId item = treeModel_->itemAt(treeView_->currentIndex());
    const std::optional<EntryRef> entry = logic_->browser()->entryOf(item);
    const std::string field = output_->text().toStdString();
    if (!entry && !field.empty()) return; // nothing selected: nothing happens
    // The folder's own name (as the tree shows it, former recycle-bin names included) heads
    // what is written.
    const std::string topName = tree_.label(item);
    startSave([this, entry, field, topName] {
        logic_->saver()->saveFolder(entry.value_or(EntryRef{}), field, topName);
    });
}

void VolumeScanDlg::saveCheckedEntries() {
    if (refuseWhileBusy() || !logic_->saver() || !logic_->browser()) return;
    // The tree's checked items, then the checked search results (an entry both name is saved
    // once).
    std::vector<CheckedEntry> entries = logic_->browser()->checkedEntries(logic_->volumeItem());
    for (int r = 0; r < listModel_->rowCount(); ++r) {
        const FileListRow& row = listModel_->row(r);
        if (row.checked && row.item == kNoTreeItem && row.entry)
            entries.push_back({*row.entry, row.folders});
    }
    if (entries.empty()) {
        info("Nothing is checked: check the files and folders to save.");
        return;
    }
    const std::string field = output_->text().toStdString();
    startSave([this, entries = std::move(entries), field] {
        logic_->saver()->saveChecked(entries, field);
    });
}

void VolumeScanDlg::startSave(std::function<void()> job) {
    EntrySaver& saver = *logic_->saver();
    saver.askExisting = [this](const std::string& name) {
        return SaveDialogs::askTaken(messages(), name);
    };
    saver.onSaved = [this](const SaveSummary& summary) {
        QMetaObject::invokeMethod(
            this, [this, summary] { summary_ = summary; }, Qt::QueuedConnection);
    };
    summary_.reset();
    // A new run: Stops of earlier work are forgotten here, before the worker starts, so that a
    // Stop pressed from now on is never wiped.
    logic_->saveStopRequested().reset();
    saving_ = true;
    treeView_->setEnabled(false);
    // The bar starts empty, with nothing of the last save beside it; it moves once the count
    // question is answered.
    progressSink_->setUnit(UiProgressSink::Unit::Files);
    progressSink_->reset();
    UiThrottle::deliverAllPending();
    progress_->show();
    setWorking(true);
    worker_.start(std::move(job), [this] { saveFinished(); });
}

void VolumeScanDlg::saveFinished() {
    UiThrottle::deliverAllPending();
    saving_ = false;
    treeView_->setEnabled(true);
    progress_->hide();
    setWorking(false);
    // Queued after the summary itself, so it is there by now.
    if (summary_) {
        const SaveSummary summary = *summary_;
        summary_.reset();
        SaveDialogs::showSummary(this, summary);
    }
}

std::optional<EntryRef> VolumeScanDlg::rowEntry(int row) const {
    if (row < 0 || row >= listModel_->rowCount() || !logic_->browser()) return std::nullopt;
    const FileListRow& r = listModel_->row(row);
    if (r.item != kNoTreeItem) return logic_->browser()->entryOf(r.item);
    return r.entry;
}

void VolumeScanDlg::previewRow(int row) {
    // The parser serves one thread at a time, as for opening folders.
    if (busy() || !logic_->view()) return;
    const std::optional<EntryRef> entry = rowEntry(row);
    if (!entry || logic_->view()->isDirectory(*entry)) {
        preview_->clear();
        return;
    }
    preview_->showEntry(*logic_->view(), *entry, listModel_->row(row).texts[0]);
}

void VolumeScanDlg::showListMenu(const QPoint& at) {
    const QModelIndex index = listView_->indexAt(at);
    menuRow_ = index.isValid() ? index.row() : -1;
    previewAction_->setEnabled(menuRow_ >= 0);
    listMenu_->popup(listView_->viewport()->mapToGlobal(at));
}

void VolumeScanDlg::searchClicked() {
    if (refuseWhileBusy() || !logic_->browser()) return;
    searching_ = true;
    progress_->show();
    setWorking(true);
    treeView_->setEnabled(false);
    searchEdit_->setEnabled(false);
    search_->setEnabled(false);
    listModel_->clear();
    preview_->clear();
    searchFolders_.clear();
    progressSink_->setUnit(UiProgressSink::Unit::Steps);
    session().searchPattern = searchEdit_->text().toStdString();
    const std::string pattern = session().searchPattern;
    worker_.start(
        [this, pattern] {
            logic_->search(pattern, [this](const SearchRow& row) {
                {
                    std::lock_guard lock(searchRowsMutex_);
                    searchRows_.push_back(row);
                }
                if (!searchFlushScheduled_.exchange(true))
                    QMetaObject::invokeMethod(
                        this, [this] { flushSearchRows(); }, Qt::QueuedConnection);
            });
        },
        [this] { searchFinished(); });
}

bool VolumeScanDlg::flushSearchRows() {
    constexpr std::size_t kShare = 20000;
    std::vector<SearchRow> found;
    bool more = false;
    {
        std::lock_guard lock(searchRowsMutex_);
        const std::size_t n = std::min(searchRows_.size(), kShare);
        found.assign(std::make_move_iterator(searchRows_.begin()),
                     std::make_move_iterator(searchRows_.begin() + static_cast<std::ptrdiff_t>(n)));
        searchRows_.erase(searchRows_.begin(), searchRows_.begin() + static_cast<std::ptrdiff_t>(n));
        more = !searchRows_.empty();
        // While more wait, the next share is already on its way: the worker schedules none.
        searchFlushScheduled_.store(more);
    }
    if (more && searching_) QTimer::singleShot(1, this, [this] { flushSearchRows(); });
    std::vector<FileListRow> rows;
    rows.reserve(found.size());
    const std::string rootLabel = tree_.label(logic_->volumeItem());
    for (const SearchRow& hit : found) {
        FileListRow r;
        // The path as this system writes paths, "ROOT/folder/name", from its parts (a name may
        // hold a backslash of its own).
        std::size_t prefix = rootLabel.size() + 1;
        QString shown = QString::fromStdString(rootLabel);
        for (const std::string& f : hit.folders) {
            prefix += f.size() + 1;
            shown += QLatin1Char('/') + QString::fromStdString(f);
        }
        const std::string name = hit.path.size() >= prefix ? hit.path.substr(prefix) : hit.path;
        shown += QLatin1Char('/') + QString::fromStdString(name);
        r.texts = {shown,
                   QString::fromStdString(hit.texts.creation),
                   QString::fromStdString(hit.texts.access),
                   QString::fromStdString(hit.texts.modification),
                   QString::fromStdString(hit.sizeText),
                   QString::fromStdString(hit.texts.attributes),
                   {}};
        setRecoverable(r, hit.recoverable);
        r.icon = treeModel_->icons().iconForName(r.texts[0]);
        r.deleted = hit.deleted;
        r.entry = hit.entry;
        r.folders = hit.folders;
        // A found file starts with the check the tree gives it.
        r.checked = treeCheckOf(hit.folders, hit.entry);
        r.bytes = hit.bytes;
        rows.push_back(std::move(r));
    }
    listModel_->append(std::move(rows));
    return more;
}

QRect VolumeScanDlg::treeCheckBoxRect(const QModelIndex& index) const {
    QStyleOptionViewItem option;
    option.initFrom(treeView_);
    option.rect = treeView_->visualRect(index);
    option.features = QStyleOptionViewItem::HasCheckIndicator | QStyleOptionViewItem::HasDisplay |
                      QStyleOptionViewItem::HasDecoration;
    option.decorationSize = treeView_->iconSize().isValid() ? treeView_->iconSize() : QSize(16, 16);
    return treeView_->style()->subElementRect(QStyle::SE_ItemViewItemCheckIndicator, &option,
                                              treeView_);
}

bool VolumeScanDlg::eventFilter(QObject* watched, QEvent* event) {
    // A press on an item's check box only checks it (on release, as the view does): it must not
    // make the item current, which would replace what the list shows, search results included.
    // The view still handles the click (it toggles the box on release); the page only does not
    // take it as a selection, until the click is over.
    if (watched == treeView_->viewport()) {
        const QEvent::Type type = event->type();
        if (type == QEvent::MouseButtonPress || type == QEvent::MouseButtonDblClick) {
            const QPoint at = static_cast<QMouseEvent*>(event)->position().toPoint();
            const QModelIndex index = treeView_->indexAt(at);
            checkBoxClick_ = index.isValid() && treeCheckBoxRect(index).contains(at);
        } else if (type == QEvent::MouseButtonRelease && checkBoxClick_) {
            QMetaObject::invokeMethod(
                this, [this] { checkBoxClick_ = false; }, Qt::QueuedConnection);
        }
    }
    return WizardPage::eventFilter(watched, event);
}

bool VolumeScanDlg::treeCheckOf(const std::vector<std::string>& folders, EntryRef entry) {
    // Its own item when its folder is open in the tree, else the deepest folder on its path
    // that the tree holds (whose check its items take when opened). Folders are looked up once
    // per search: results come by the thousand from one folder.
    auto cached = searchFolders_.find(folders);
    if (cached == searchFolders_.end()) {
        SearchFolder found;
        TreeItemId at = logic_->volumeItem();
        found.complete = true;
        for (const std::string& f : folders) {
            TreeItemId next = kNoTreeItem;
            for (TreeItemId c : tree_.children(at))
                if (tree_.label(c) == f) {
                    next = c;
                    break;
                }
            if (next == kNoTreeItem) {
                found.complete = false;
                break;
            }
            at = next;
        }
        found.item = at;
        if (found.complete)
            for (TreeItemId c : tree_.children(at)) {
                const std::optional<std::uint64_t> data = tree_.getItemData(c);
                if (data && tree_.label(c) != kPlaceholderLabel) found.children.emplace(*data, c);
            }
        cached = searchFolders_.emplace(folders, std::move(found)).first;
    }
    const SearchFolder& folder = cached->second;
    if (auto it = folder.children.find(entry); it != folder.children.end()) return tree_.getCheck(it->second);
    return tree_.getCheck(folder.item);
}

void VolumeScanDlg::searchFinished() {
    // The page stays busy until every row found is listed.
    if (flushSearchRows()) {
        QTimer::singleShot(1, this, [this] { searchFinished(); });
        return;
    }
    // Found files are listed by their paths: let the first column show them, within reason.
    constexpr int kWidestPathColumn = 420;
    listView_->resizeColumnToContents(0);
    listView_->setColumnWidth(0, std::clamp(listView_->columnWidth(0),
                                            FileListModel::columnWidths()[0], kWidestPathColumn));
    searching_ = false;
    progress_->hide();
    setWorking(false);
    treeView_->setEnabled(true);
    searchEdit_->setEnabled(true);
    search_->setEnabled(true);
}

void VolumeScanDlg::stopEngines() {
    openingAbandoned_->store(true);
    if (logic_) logic_->stopAll();
    messages().abandon();
}

void VolumeScanDlg::leavingBack() {
    stopEngines();
}

} // namespace vindaru::app
