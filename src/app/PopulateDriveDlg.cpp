#include "app/PopulateDriveDlg.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTableWidget>
#include <QToolButton>
#include <QVBoxLayout>

#include "app/COrdavinApp.h"
#include "app/ParceModeNtfsDlg.h"
#include "app/RawRecoveryDialog.h"
#include "app/SectorEdit.h"
#include "app/UiProgressSink.h"
#include "app/UiStatusSink.h"
#include "app/VhdInputDialog.h"
#include "browser/FileSystemDrivers.h"
#include "common/DisplayFormat.h"
#include "volume/VolumeTypeNames.h"

namespace vindaru::app {

namespace {
PopulateDriveLogic::Choices logicChoices(const DiscoveryChoices& c, const VhdInputDialog& image) {
    PopulateDriveLogic::Choices choices;
    choices.imagePath = c.imagePath;
    choices.discoveryMode =
        c.discoveryMode == 2 ? DiscoveryMode::Advanced : DiscoveryMode::Standard;
    choices.gptMode = c.gptMode;
    choices.doNotSkipVolumeSize = c.doNotSkipVolumeSize;
    choices.customStartSector = c.customStartSector;
    choices.customEndSector = c.customEndSector;
    choices.fileSystems = fileSystemDrivers();
    if (const std::optional<ImageChoices> kind = image.logic().imageChoices()) {
        choices.makeReader = [kind = *kind](Session& session) {
            return createReader(session, kind);
        };
    }
    return choices;
}
} // namespace

PopulateDriveDlg::PopulateDriveDlg(COrdavinApp& app, DriveParsingModes* modesPage,
                                   DiscoveryChoices choices)
    : WizardPage(app, modesPage), choices_(std::move(choices)) {
    buildControls();
    statusSink_ = std::make_unique<UiStatusSink>(status_);
    progressSink_ = std::make_unique<UiProgressSink>(progress_);
    logic_ =
        std::make_unique<PopulateDriveLogic>(session(), logicChoices(choices_, *app.imagePage()),
                                             *statusSink_, *progressSink_, messages());
    // The advanced scan reports from its worker; the page redraws on its own thread.
    logic_->onRowsChanged = [this] {
        QMetaObject::invokeMethod(
            this, [this] { renderRows(); }, Qt::QueuedConnection);
    };
    logic_->onScanFinished = [this] {
        QMetaObject::invokeMethod(
            this, [this] { scanFinished(); }, Qt::QueuedConnection);
    };
    renderControls();
}

PopulateDriveDlg::~PopulateDriveDlg() {
    stopEngines();
    logic_.reset(); // waits for a running scan while the sinks still exist
}

void PopulateDriveDlg::buildControls() {
    auto* listBox = new QGroupBox(tr("Volume List:"), this);
    table_ = new QTableWidget(0, 4, listBox);
    table_->setHorizontalHeaderLabels(
        {tr("Volume"), tr("File System"), tr("Volume Size"), tr("Start Sector")});
    table_->verticalHeader()->hide();
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setSelectionMode(QAbstractItemView::SingleSelection);
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->setShowGrid(true);
    table_->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    table_->horizontalHeader()->setStretchLastSection(true);
    for (int c = 0; c < 3; ++c)
        table_->setColumnWidth(c, 150);
    table_->verticalHeader()->setDefaultSectionSize(24);
    filter_ = makeButton(tr("Filter Entries"), QStyle::SP_FileDialogContentsView,
                         tr("Filter volume entries."));
    addCustom_ = makeButton(tr("Add Custom Volume"), QStyle::SP_FileDialogNewFolder,
                            tr("Add Custom Volume entry."));
    auto* listButtons = new QVBoxLayout;
    listButtons->addWidget(filter_);
    listButtons->addWidget(addCustom_);
    listButtons->addStretch(1);
    auto* listRow = new QHBoxLayout(listBox);
    listRow->addWidget(table_, 1);
    listRow->addLayout(listButtons);

    custom_ = new QCheckBox(tr("Custom Settings For Selected Volume "), this);
    customGroup_ = new QGroupBox(this);
    selectedVolumeTitle_ = new QLabel(tr("Selected Volume :"), customGroup_);
    selectedVolume_ = new QLabel(customGroup_);
    QFont bold = selectedVolume_->font();
    bold.setBold(true);
    selectedVolume_->setFont(bold);
    selectedVolume_->setMinimumWidth(60);
    startLabel_ = new QLabel(tr("Start Sector:"), customGroup_);
    endLabel_ = new QLabel(tr("End Sector :"), customGroup_);
    start_ = new SectorEdit(customGroup_);
    end_ = new SectorEdit(customGroup_);
    start_->setMinimumWidth(150);
    end_->setMinimumWidth(150);
    treatAsLabel_ = new QLabel(tr("Treat file system as:"), customGroup_);
    treatAs_ = new QComboBox(customGroup_);
    for (const std::string& name : treatAsChoices(fileSystemDrivers()))
        treatAs_->addItem(QString::fromStdString(name));
    treatAs_->setCurrentIndex(-1);
    treatAs_->setMinimumWidth(110);
    auto* customGrid = new QGridLayout(customGroup_);
    customGrid->setHorizontalSpacing(12);
    customGrid->addWidget(selectedVolumeTitle_, 0, 0);
    customGrid->addWidget(selectedVolume_, 0, 1);
    customGrid->addWidget(startLabel_, 0, 2);
    customGrid->addWidget(start_, 0, 3);
    customGrid->addWidget(endLabel_, 0, 4);
    customGrid->addWidget(end_, 0, 5);
    customGrid->addWidget(treatAsLabel_, 1, 0, 1, 2);
    customGrid->addWidget(treatAs_, 1, 2, 1, 2, Qt::AlignLeft);
    customGrid->setColumnStretch(6, 1);

    stop_ = makeButton(tr("Stop"), QStyle::SP_MediaStop, tr("Stop"));
    QHBoxLayout* progressRow = makeProgressRow(progress_, {stop_});
    status_ = makeStatusLine();
    help_ = makeHelpButton();
    back_ = makeBackButton();
    next_ = makeNextButton();

    QVBoxLayout* layout =
        makePageLayout(tr("Volumes"), tr("Choose the volume to recover files from."), 10);
    layout->addWidget(listBox, 1);
    layout->addWidget(custom_);
    layout->addWidget(customGroup_);
    layout->addLayout(progressRow);
    layout->addWidget(status_);
    layout->addLayout(makeButtonRow(help_, {back_, next_}));

    connect(table_, &QTableWidget::itemSelectionChanged, this, &PopulateDriveDlg::rowSelected);
    connect(table_, &QTableWidget::cellClicked, this, [this](int row, int) { rowClicked(row); });
    connect(custom_, &QCheckBox::toggled, this, [this](bool on) {
        if (rendering_) return;
        logic_->setCustomChecked(on);
        renderControls();
    });
    connect(filter_, &QPushButton::clicked, this, &PopulateDriveDlg::toggleFilter);
    connect(addCustom_, &QPushButton::clicked, this, [this] {
        const std::size_t row = logic_->addCustomVolume();
        renderRows();
        renderControls();
        table_->selectRow(static_cast<int>(row));
        start_->setText(QStringLiteral("0"));
        end_->setText(QStringLiteral("0"));
    });
    connect(stop_, &QPushButton::clicked, this, [this] {
        logic_->stop();
        renderControls();
    });
    connect(back_, &QPushButton::clicked, this, &PopulateDriveDlg::goBack);
    connect(next_, &QPushButton::clicked, this, &PopulateDriveDlg::goNext);
}

// "Filter Entries" keeps the volumes that start one sector after the one before them (what a
// boot-sector scan finds twice); pressed again it shows every volume. A filter that would keep
// none leaves the list as it is and says so.
void PopulateDriveDlg::toggleFilter() {
    if (logic_->filtered()) {
        logic_->showAllEntries();
    } else if (!logic_->filterEntries()) {
        info("No volume starts one sector after the volume before it, so the filter would "
             "leave the list empty: the list is kept as it is.");
        return;
    }
    table_->clearSelection();
    renderRows();
    renderControls();
}

void PopulateDriveDlg::startDiscovery() {
    logic_->start();
    renderRows();
    renderControls();
    // An empty list after the partition tables: say where else volumes may be found.
    if (choices_.discoveryMode != 2 && table_->rowCount() == 0 && !logic_->scanRunning())
        status_->setText(tr("No volume was found in the partition table: go Back and choose "
                            "\"Advance Scan\" to search the disk for volumes."));
}

void PopulateDriveDlg::scanFinished() {
    logic_->finishAdvancedScan();
    renderRows();
    renderControls();
}

void PopulateDriveDlg::renderRows() {
    const std::vector<VolumeRow> rows = logic_->rows();
    const int selected = table_->currentRow();
    rendering_ = true;
    table_->setRowCount(static_cast<int>(rows.size()));
    for (int r = 0; r < static_cast<int>(rows.size()); ++r) {
        const VolumeRow& row = rows[static_cast<std::size_t>(r)];
        // The size from the volume's sector count, to two decimals in its unit ("7.99 MB" for
        // an 8 MiB volume less a sector, where whole MB would say 7); the record's own text
        // when discovery learnt no count.
        const std::string size =
            row.sectorCount > 0 && row.sectorCount <= UINT64_MAX / 512 ? formatSizeText(row.sectorCount * 512)
                                                                      : row.volumeSize;
        const std::string* texts[4] = {&row.volume, &row.fileSystem, &size, &row.startSector};
        for (int c = 0; c < 4; ++c)
            table_->setItem(r, c, new QTableWidgetItem(QString::fromStdString(*texts[c])));
    }
    if (selected >= static_cast<int>(rows.size())) table_->clearSelection();
    rendering_ = false;
}

void PopulateDriveDlg::renderControls() {
    const PopulateDriveControls c = logic_->controls();
    rendering_ = true;
    custom_->setEnabled(c.customCheckEnabled);
    custom_->setChecked(c.customChecked);
    for (QWidget* w : std::initializer_list<QWidget*>{customGroup_, selectedVolumeTitle_,
                                                      selectedVolume_, startLabel_, endLabel_,
                                                      start_, end_, treatAsLabel_, treatAs_})
        w->setEnabled(c.customControlsEnabled);
    addCustom_->setVisible(c.addCustomVisible);
    addCustom_->setEnabled(c.addCustomEnabled);
    filter_->setEnabled(c.filterEnabled);
    filter_->setText(logic_->filtered() ? tr("Show All Entries") : tr("Filter Entries"));
    next_->setEnabled(c.nextEnabled);
    back_->setEnabled(c.backEnabled);
    progress_->setVisible(c.progressVisible);
    stop_->setVisible(c.stopVisible);
    rendering_ = false;
}

void PopulateDriveDlg::rowSelected() {
    if (rendering_) return;
    const int row = table_->currentRow();
    if (row < 0 || table_->selectedItems().isEmpty()) return;
    if (const std::optional<RowSelection> s = logic_->selectRow(static_cast<std::size_t>(row))) {
        selectedVolume_->setText(QString::fromStdString(s->selectedVolume));
        start_->setText(QString::fromStdString(s->startEdit));
        end_->setText(QString::fromStdString(s->endEdit));
    }
}

void PopulateDriveDlg::rowClicked(int row) {
    if (row < 0) return;
    if (const std::optional<std::size_t> choice =
            logic_->treatAsForRow(static_cast<std::size_t>(row)))
        treatAs_->setCurrentIndex(static_cast<int>(*choice));
}

void PopulateDriveDlg::goNext() {
    NextInput input;
    const QList<QTableWidgetItem*> selected = table_->selectedItems();
    if (!selected.isEmpty()) input.selectedRow = static_cast<std::size_t>(selected.first()->row());
    input.customChecked = custom_->isChecked();
    input.startEdit = start_->text().toStdString();
    input.endEdit = end_->text().toStdString();
    input.treatAs = treatAs_->currentIndex() >= 0 ? treatAs_->currentText().toStdString() : "";
    const NextResult result = logic_->next(input);
    renderRows();
    renderControls();
    switch (result.action) {
    case NextAction::Stay:
        return;
    case NextAction::RawRecovery:
        showNext(new RawRecoveryDialog(application(), this, result.selectedRecord,
                                       choices_.imagePath));
        return;
    case NextAction::RecoveryMode:
        break;
    }
    selectedRecord_ = result.selectedRecord;
    auto* modes = new ParceModeNtfsDlg(application(), this, selectedRecord_);
    application().recoveryModePage = modes;
    showNext(modes);
}

QString PopulateDriveDlg::runningWork() const {
    return logic_->scanRunning() ? tr("The disk is being searched for volumes.") : QString();
}

void PopulateDriveDlg::stopEngines() {
    if (logic_) logic_->stop();
    messages().abandon();
}

void PopulateDriveDlg::leavingBack() {
    stopEngines();
}

} // namespace vindaru::app
