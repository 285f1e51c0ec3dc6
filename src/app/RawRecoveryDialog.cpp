#include "app/RawRecoveryDialog.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSplitter>
#include <QTableWidget>
#include <QToolButton>
#include <QTreeView>
#include <QVBoxLayout>

#include "app/COrdavinApp.h"
#include "app/CheckTreeModel.h"
#include "app/RawSettingDlg.h"
#include "app/UiDialogs.h"
#include "app/UiProgressSink.h"
#include "app/UiStatusSink.h"
#include "app/VhdInputDialog.h"
#include "browser/UsedSpace.h"
#include "common/DisplayFormat.h"
#include "image/ReaderFactory.h"
#include "pages/RawRecoveryLogic.h"

namespace vindaru::app {

namespace {
constexpr const char* kWaitForOther = "Please wait for other process to complete";
}

RawRecoveryDialog::RawRecoveryDialog(COrdavinApp& app, WizardPage* previous, VolumeRecord volume,
                                     std::string imagePath)
    : WizardPage(app, previous), volume_(std::move(volume)), imagePath_(std::move(imagePath)),
      worker_(this) {
    buildControls();
    statusSink_ = std::make_unique<UiStatusSink>(status_);
    progressSink_ = std::make_unique<UiProgressSink>(progress_);
    logic_ = std::make_unique<RawRecoveryLogic>(
        session(), volume_, tree_, RawRecoverySinks{*statusSink_, *progressSink_, messages()});
    if (VhdInputDialog* image = app.imagePage()) {
        if (const std::optional<ImageChoices> kind = image->logic().imageChoices()) {
            logic_->reopenReader = [kind = *kind, path = imagePath_](Session& s) {
                return openSessionReader(s, kind, path);
            };
        }
    }
    path_->setText(QString::fromStdString(logic_->defaultPath()));
    loadDefault_->setChecked(true);
    progress_->hide();
    setRunControlsVisible(false);
    status_->setText(tr("Please select parse button to scan the default file."));
}

RawRecoveryDialog::~RawRecoveryDialog() {
    stopEngines();
    worker_.join();
}

void RawRecoveryDialog::buildControls() {
    auto* group = new QGroupBox(
        tr("Click Parse button to add default file settings or create your own file to process "
           "raw recovery."),
        this);
    path_ = new QLineEdit(group);
    browse_ = makeButton(tr("..."), QStyle::SP_DirOpenIcon, tr("..."));
    browse_->setMinimumWidth(40);
    parse_ = makeButton(tr("Parse"), QStyle::SP_MediaPlay, tr("Parse"));
    loadDefault_ = new QCheckBox(tr("Load Default Items "), group);
    // Off by default: the whole volume is carved.
    freeSpace_ = new QCheckBox(tr("Free space only"), group);
    freeSpace_->setToolTip(tr("Carve only the clusters that no live file uses, as the volume's file system "
                              "(NTFS, FAT, exFAT, ext or HFS+) marks them."));
    setting_ = makeIconButton(QStyle::SP_FileDialogDetailedView, tr("Setting"));
    auto* settingHint = new QLabel(tr("[Add new signatures in \n new/existing file]"), group);
    auto* groupGrid = new QGridLayout(group);
    groupGrid->addWidget(path_, 0, 0);
    groupGrid->addWidget(browse_, 0, 1);
    groupGrid->addWidget(parse_, 0, 2);
    auto* optionsRow = new QHBoxLayout;
    optionsRow->addWidget(loadDefault_);
    optionsRow->addWidget(freeSpace_);
    optionsRow->addStretch(1);
    groupGrid->addLayout(optionsRow, 1, 0);
    auto* settingRow = new QHBoxLayout;
    settingRow->addWidget(setting_);
    settingRow->addWidget(settingHint);
    settingRow->addStretch(1);
    groupGrid->addLayout(settingRow, 1, 1, 1, 2);
    groupGrid->setColumnStretch(0, 1);

    treeView_ = new QTreeView(this);
    treeModel_ = new CheckTreeModel(tree_, this);
    treeView_->setModel(treeModel_);
    treeView_->setHeaderHidden(true);
    treeView_->setUniformRowHeights(true);
    treeView_->setSelectionMode(QAbstractItemView::SingleSelection);
    treeView_->setEditTriggers(QAbstractItemView::NoEditTriggers);

    // Beside each find its size and whether its end came from the file itself (whole) or the
    // file broke off or its end is a guess (partial).
    list_ = new QTableWidget(0, 3, this);
    list_->setHorizontalHeaderLabels({tr("File(s) List"), tr("Size"), tr("Whole/Partial")});
    list_->setColumnWidth(0, 300);
    list_->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    list_->verticalHeader()->hide();
    list_->verticalHeader()->setDefaultSectionSize(22);
    list_->setSelectionBehavior(QAbstractItemView::SelectRows);
    list_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list_->setShowGrid(true);

    auto* splitter = new QSplitter(Qt::Horizontal, this);
    splitter->addWidget(treeView_);
    splitter->addWidget(list_);
    splitter->setSizes({420, 400});
    splitter->setChildrenCollapsible(false);

    makeThreadButtons(pause_, resume_, stop_);
    QHBoxLayout* progressRow = makeProgressRow(progress_, {pause_, resume_, stop_});
    keepPlaceWhenHidden({progress_, pause_, resume_, stop_});
    status_ = makeStatusLine();
    help_ = makeHelpButton();
    back_ = makeBackButton();
    save_ = makeButton(tr("Save"), QStyle::SP_DialogSaveButton, tr("Save"));

    QVBoxLayout* layout =
        makePageLayout(tr("Raw recovery"), tr("Carve files out of the volume by their signatures."), 8);
    layout->addWidget(group);
    layout->addWidget(splitter, 1);
    layout->addLayout(progressRow);
    layout->addWidget(status_);
    layout->addLayout(makeButtonRow(help_, {back_, save_}));

    connect(browse_, &QPushButton::clicked, this, &RawRecoveryDialog::browse);
    connect(parse_, &QPushButton::clicked, this, &RawRecoveryDialog::parse);
    connect(setting_, &QPushButton::clicked, this, &RawRecoveryDialog::openEditor);
    connect(treeView_, &QTreeView::clicked, this, &RawRecoveryDialog::itemClicked);
    connect(pause_, &QPushButton::clicked, this, [this] { logic_->pause(); });
    connect(resume_, &QPushButton::clicked, this, [this] { logic_->resume(); });
    connect(stop_, &QPushButton::clicked, this, [this] { logic_->stop(); });
    connect(save_, &QPushButton::clicked, this, &RawRecoveryDialog::saveChecked);
    connect(back_, &QPushButton::clicked, this, &RawRecoveryDialog::goBack);
}

void RawRecoveryDialog::setRunControlsVisible(bool on) {
    progress_->setVisible(on);
    pause_->setVisible(on);
    resume_->setVisible(on);
    stop_->setVisible(on);
}

void RawRecoveryDialog::setInputsEnabled(bool on) {
    parse_->setEnabled(on);
    path_->setEnabled(on);
    browse_->setEnabled(on);
    loadDefault_->setEnabled(on);
    freeSpace_->setEnabled(on);
    back_->setEnabled(on); // Back would abandon a carve or a save midway
}

void RawRecoveryDialog::browse() {
    const QString chosen = UiDialogs::openFile(this, tr("Open"), tr("All Files (*.*)"));
    if (!chosen.isEmpty()) path_->setText(chosen);
}

void RawRecoveryDialog::parse() {
    if (busy()) return;
    setRunControlsVisible(true);
    const RawRecoveryLogic::Prepared prepared =
        logic_->prepare(loadDefault_->isChecked(), path_->text().toStdString());
    if (prepared != RawRecoveryLogic::Prepared::Ready) {
        setInputsEnabled(true);
        setRunControlsVisible(false);
        return;
    }
    if (freeSpace_->isChecked())
        logic_->usedSpace = usedSpaceOf;
    else
        logic_->usedSpace = nullptr;
    setInputsEnabled(false);
    save_->setEnabled(false);
    worker_.start([this] { logic_->carve(); }, [this] { carveFinished(); });
}

void RawRecoveryDialog::carveFinished() {
    setInputsEnabled(true);
    save_->setEnabled(true);
    setRunControlsVisible(false);
    const QModelIndex root = treeModel_->indexOf(logic_->engine()->rootItem());
    if (root.isValid()) treeView_->expand(root);
}

void RawRecoveryDialog::itemClicked(const QModelIndex& index) {
    list_->setRowCount(0);
    if (!index.isValid()) return;
    const std::vector<RawRecoveryLogic::ListedFind> rows = logic_->listFor(treeModel_->itemAt(index));
    list_->setRowCount(static_cast<int>(rows.size()));
    for (int r = 0; r < static_cast<int>(rows.size()); ++r) {
        const RawRecoveryLogic::ListedFind& row = rows[static_cast<std::size_t>(r)];
        const QString text = QString::fromStdString(row.text);
        auto* item = new QTableWidgetItem(treeModel_->icons().iconForName(text), text);
        item->setData(Qt::UserRole, QVariant::fromValue<qulonglong>(row.item));
        list_->setItem(r, 0, item);
        if (row.size > 0) {
            list_->setItem(r, 1, new QTableWidgetItem(QString::fromStdString(formatSizeText(row.size))));
            list_->setItem(r, 2, new QTableWidgetItem(row.state == FindState::Whole ? tr("whole") : tr("partial")));
        }
    }
}

void RawRecoveryDialog::saveChecked() {
    if (busy()) {
        info(kWaitForOther);
        return;
    }
    std::vector<RawRecoveryLogic::CheckedFind> finds = logic_->checkedFinds();
    if (finds.empty()) {
        info("Please Select item from tree to save");
        return;
    }
    // What the save will write, shown before the folder is chosen.
    status_->setText(tr("%1 file(s) checked, %2 to save")
                         .arg(finds.size())
                         .arg(QString::fromStdString(formatSizeText(RawRecoveryLogic::bytesOf(finds)))));
    const QString folder = UiDialogs::chooseFolder(this, tr("Please choose a folder."));
    if (folder.isEmpty()) return;
    setInputsEnabled(false);
    save_->setEnabled(false);
    auto result = std::make_shared<RawRecoveryLogic::SaveResult>();
    worker_.start(
        [this, finds = std::move(finds), folder = folder.toStdString(), result] {
            *result = logic_->saveChecked(folder, finds);
        },
        [this, folder, result] {
            setInputsEnabled(true);
            save_->setEnabled(true);
            if (!result->folderOpened) {
                status_->setText(tr("The folder %1 cannot be written to.").arg(folder));
                return;
            }
            status_->setText(tr("%1 file(s) saved to %2").arg(result->written()).arg(folder) +
                             (result->failed ? tr(", %1 could not be written").arg(result->failed) : QString()));
        });
}

void RawRecoveryDialog::openEditor() {
    RawSettingDlg editor(this);
    editor.exec();
}

void RawRecoveryDialog::stopEngines() {
    if (logic_) logic_->stop();
    messages().abandon();
}

void RawRecoveryDialog::leavingBack() {
    stopEngines();
}

} // namespace vindaru::app
