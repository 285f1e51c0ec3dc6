#include "app/VhdInputDialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTableWidget>
#include <QToolButton>
#include <QVBoxLayout>

#include "app/COrdavinApp.h"
#include "app/DriveParsingModes.h"
#include "app/UiDialogs.h"
#include "common/DisplayFormat.h"
#include "common/TimeConvert.h"

namespace vindaru::app {

namespace {
QLabel* valueLabel(QWidget* parent) {
    auto* label = new QLabel(parent);
    label->setMinimumWidth(120);
    label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    QFont bold = label->font();
    bold.setBold(true);
    label->setFont(bold);
    return label;
}

QString fileNameOf(const std::string& path) {
    const QString name = QString::fromStdString(path);
    const qsizetype slash = name.lastIndexOf(QLatin1Char('/'));
    return slash < 0 ? name : name.mid(slash + 1);
}

QString modifiedText(std::int64_t seconds) {
    if (seconds == 0) return QStringLiteral("-");
    const std::optional<std::tm> local = unixToLocal(seconds);
    return local ? QString::fromStdString(formatDateTimeText(*local)) : QStringLiteral("-");
}
} // namespace

VhdInputDialog::VhdInputDialog(COrdavinApp& app) : WizardPage(app, nullptr) {
    buildControls();
    render();
}

void VhdInputDialog::buildControls() {
    // "Select Option:"
    auto* options = new QGroupBox(tr("Select Option:"), this);
    fixedDisk_ = new QRadioButton(tr("Fixed Disk"), options);
    dynamicDisk_ = new QRadioButton(tr("Dynamic Disk"), options);
    split_ = new QCheckBox(tr("VmdkSplit"), options);
    descriptor_ = new QCheckBox(tr("isDescripter"), options);
    extentType_ = new QComboBox(options);
    extentType_->addItems({QStringLiteral("SPARSE"), QStringLiteral("FLAT")});
    extentType_->setMinimumWidth(110);
    auto* optionGrid = new QGridLayout(options);
    optionGrid->setHorizontalSpacing(24);
    optionGrid->addWidget(fixedDisk_, 0, 0);
    optionGrid->addWidget(dynamicDisk_, 1, 0);
    optionGrid->addWidget(split_, 1, 1);
    optionGrid->addWidget(extentType_, 1, 2);
    optionGrid->addWidget(descriptor_, 1, 3);
    optionGrid->setColumnStretch(4, 1);

    // "File Path:"
    auto* pathBox = new QGroupBox(tr("File Path:"), this);
    path_ = new QLineEdit(pathBox);
    browse_ = makeButton(tr("..."), QStyle::SP_DirOpenIcon, tr("Browse"));
    browse_->setMinimumWidth(64);
    auto* pathRow = new QHBoxLayout(pathBox);
    pathRow->addWidget(path_, 1);
    pathRow->addWidget(browse_);
    // Shown while a child's parent is missing or not the one it expects: the user names it.
    parent_ = makeButton(tr("Parent image..."), QStyle::SP_DirOpenIcon, tr("Choose the parent image"));
    parent_->setMinimumWidth(parent_->sizeHint().width());
    pathRow->addWidget(parent_);

    // "File Information"
    auto* infoBox = new QGroupBox(tr("File Information"), this);
    const char* names[5] = {
        "File Format Version:", "Sector Per Track:", "Head:", "Cylindar:", "Size of HDD:"};
    for (int i = 0; i < 5; ++i)
        infoLabels_[i] = new QLabel(tr(names[i]), infoBox);
    for (auto*& value : infoValues_)
        value = valueLabel(infoBox);
    size_ = new QLineEdit(infoBox);
    size_->setMaximumWidth(120);
    sizeUnit_ = new QLabel(tr("MB"), infoBox);
    auto* infoGrid = new QGridLayout(infoBox);
    infoGrid->setHorizontalSpacing(16);
    infoGrid->addWidget(infoLabels_[0], 0, 0);
    infoGrid->addWidget(infoValues_[0], 0, 1);
    infoGrid->addWidget(infoLabels_[1], 0, 2);
    infoGrid->addWidget(infoValues_[1], 0, 3);
    infoGrid->addWidget(infoLabels_[2], 1, 0);
    infoGrid->addWidget(infoValues_[2], 1, 1);
    infoGrid->addWidget(infoLabels_[3], 1, 2);
    infoGrid->addWidget(infoValues_[3], 1, 3);
    auto* sizeRow = new QHBoxLayout;
    sizeRow->addWidget(size_);
    sizeRow->addWidget(sizeUnit_);
    sizeRow->addStretch(1);
    infoGrid->addWidget(infoLabels_[4], 2, 0);
    infoGrid->addLayout(sizeRow, 2, 1, 1, 3);
    problem_ = new QLabel(infoBox);
    problem_->setWordWrap(true);
    problem_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    problem_->setForegroundRole(QPalette::Link);
    damageLabel_ = new QLabel(tr("Damage:"), infoBox);
    damageValue_ = valueLabel(infoBox);
    infoGrid->addWidget(damageLabel_, 3, 0);
    infoGrid->addWidget(damageValue_, 3, 1, 1, 3);
    infoGrid->addWidget(problem_, 4, 0, 1, 4);
    infoGrid->setColumnStretch(1, 1);
    infoGrid->setColumnStretch(3, 1);
    keepPlaceWhenHidden({infoLabels_[0], infoLabels_[1], infoLabels_[2], infoLabels_[3],
                         infoLabels_[4], infoValues_[0], infoValues_[1], infoValues_[2],
                         infoValues_[3], size_, sizeUnit_, damageLabel_, damageValue_});

    // The snapshot chain of a child image: the row selected is the layer the disk is read as of.
    chainBox_ = new QGroupBox(tr("Snapshot chain (select the layer to read the disk as of):"), this);
    chainTable_ = new QTableWidget(0, 4, chainBox_);
    chainTable_->setHorizontalHeaderLabels({tr("Layer"), tr("File"), tr("Id"), tr("Modified")});
    chainTable_->verticalHeader()->hide();
    chainTable_->setSelectionBehavior(QAbstractItemView::SelectRows);
    chainTable_->setSelectionMode(QAbstractItemView::SingleSelection);
    chainTable_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    chainTable_->horizontalHeader()->setStretchLastSection(true);
    chainTable_->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    chainTable_->setColumnWidth(0, 60);
    chainTable_->setColumnWidth(1, 220);
    chainTable_->setColumnWidth(2, 260);
    chainTable_->setMinimumHeight(110);
    auto* chainRow = new QVBoxLayout(chainBox_);
    chainRow->addWidget(chainTable_);

    openVhd_ = makeButton(tr("Open VHD image..."), QStyle::SP_DriveHDIcon, tr("Open VHD image"));
    openVdi_ = makeButton(tr("Open VDI image..."), QStyle::SP_DriveHDIcon, tr("Open VDI image"));
    openVhdx_ = makeButton(tr("Open VHDX image..."), QStyle::SP_DriveHDIcon, tr("Open VHDX image"));
    openQcow2_ =
        makeButton(tr("Open QCOW2 image..."), QStyle::SP_DriveHDIcon, tr("Open QCOW2 image"));
    // Four of them in one row: none may be squeezed below its text.
    for (QPushButton* open : {openVhd_, openVdi_, openVhdx_, openQcow2_})
        open->setMinimumWidth(open->sizeHint().width());
    help_ = makeHelpButton();
    next_ = makeNextButton();
    QHBoxLayout* buttons = makeButtonRow(nullptr, {next_});
    buttons->insertWidget(0, openVhd_);
    buttons->insertWidget(1, openVdi_);
    buttons->insertWidget(2, openVhdx_);
    buttons->insertWidget(3, openQcow2_);
    buttons->insertWidget(5, help_);

    QVBoxLayout* layout = makePageLayout(
        tr("Disk image"), tr("Choose the virtual disk image to recover files from."));
    layout->addWidget(options);
    layout->addWidget(pathBox);
    layout->addWidget(infoBox);
    layout->addWidget(chainBox_, 1);
    layout->addStretch(1);
    layout->addLayout(buttons);

    connect(dynamicDisk_, &QRadioButton::clicked, this, [this] {
        logic_.chooseDynamicDisk();
        render();
    });
    connect(fixedDisk_, &QRadioButton::clicked, this, [this] {
        logic_.chooseFixedDisk();
        render();
    });
    connect(descriptor_, &QCheckBox::toggled, this, [this](bool on) {
        if (rendering_) return;
        logic_.setDescriptor(on);
        showProblem(std::nullopt); // new choices may open only by choice
    });
    connect(split_, &QCheckBox::toggled, this, [this](bool on) {
        if (rendering_) return;
        logic_.setSplit(on);
        showProblem(std::nullopt); // new choices may open only by choice
    });
    connect(extentType_, &QComboBox::currentTextChanged, this, [this](const QString& text) {
        if (rendering_) return;
        logic_.setExtentType(text.toStdString());
        showProblem(std::nullopt); // new choices may open only by choice
    });
    connect(path_, &QLineEdit::textEdited, this, [this](const QString& text) {
        pathEdited_ = true;
        logic_.pathEdited(text.toStdString());
        render();
    });
    connect(path_, &QLineEdit::returnPressed, this, [this] { commitPath(true); });
    connect(path_, &QLineEdit::editingFinished, this, [this] {
        if (pathEdited_) commitPath(false);
    });
    connect(size_, &QLineEdit::textEdited, this,
            [this](const QString& text) { logic_.sizeText = text.toStdString(); });
    connect(browse_, &QPushButton::clicked, this, &VhdInputDialog::browse);
    connect(parent_, &QPushButton::clicked, this, [this] {
        const QString path = UiDialogs::openFile(
            this, tr("Parent image"), tr("Disk images (*.vmdk *.vhd *.vdi *.vhdx *.qcow2);;All files (*)"));
        if (path.isEmpty()) return;
        logic_.parentChosen(path.toStdString());
        showProblem(std::nullopt);
    });
    connect(openVhd_, &QPushButton::clicked, this, [this] { openContainer(kImageKindVhd); });
    connect(openVdi_, &QPushButton::clicked, this, [this] { openContainer(kImageKindVdi); });
    connect(openVhdx_, &QPushButton::clicked, this, [this] { openContainer(kImageKindVhdx); });
    connect(openQcow2_, &QPushButton::clicked, this, [this] { openContainer(kImageKindQcow2); });
    connect(chainTable_, &QTableWidget::itemSelectionChanged, this, &VhdInputDialog::layerSelected);
    connect(next_, &QPushButton::clicked, this, &VhdInputDialog::goNext);
}

void VhdInputDialog::render() {
    rendering_ = true;
    fixedDisk_->setChecked(logic_.fixedDisk);
    dynamicDisk_->setChecked(logic_.dynamicDisk);
    split_->setChecked(logic_.split);
    descriptor_->setChecked(logic_.descriptor);
    // A VHD, VDI, VHDX or QCOW2 image is read by its own reader: the VMDK choices do not apply.
    const int kind = logic_.imageKind;
    const bool container = !logic_.pathText.empty() &&
                           (kind == kImageKindVhd || kind == kImageKindVdi ||
                            kind == kImageKindVhdx || kind == kImageKindQcow2);
    if (container) {
        for (QRadioButton* r : {fixedDisk_, dynamicDisk_}) {
            r->setAutoExclusive(false);
            r->setChecked(false);
            r->setAutoExclusive(true);
        }
    }
    split_->setEnabled(logic_.splitEnabled && !container);
    descriptor_->setEnabled(logic_.descriptorEnabled && !container);
    extentType_->setEnabled(logic_.extentTypeEnabled && !container);
    extentType_->setCurrentText(QString::fromStdString(logic_.extentType));
    browse_->setEnabled(logic_.browseEnabled);
    parent_->setVisible(logic_.parentMissing());
    path_->setEnabled(logic_.pathEnabled);
    if (path_->text().toStdString() != logic_.pathText)
        path_->setText(QString::fromStdString(logic_.pathText));
    if (size_->text().toStdString() != logic_.sizeText)
        size_->setText(QString::fromStdString(logic_.sizeText));
    next_->setEnabled(logic_.nextEnabled);

    const ImageInfoTexts& info = logic_.info;
    const std::string* values[4] = {&info.formatVersion, &info.sectorsPerTrack, &info.heads,
                                    &info.cylinders};
    for (int i = 0; i < 4; ++i) {
        infoValues_[i]->setText(QString::fromStdString(*values[i]));
        infoValues_[i]->setVisible(info.labelsVisible);
        infoLabels_[i]->setVisible(info.labelsVisible);
    }
    infoLabels_[4]->setVisible(info.labelsVisible);
    sizeUnit_->setText(QString::fromStdString(info.sizeUnit));
    sizeUnit_->setVisible(info.labelsVisible);
    size_->setVisible(info.sizeEditVisible);
    damageValue_->setText(QString::fromStdString(info.damage));
    damageLabel_->setVisible(info.labelsVisible && !info.damage.empty());
    damageValue_->setVisible(info.labelsVisible && !info.damage.empty());
    problem_->setText(QString::fromStdString(info.problem));
    problem_->setVisible(!info.problem.empty());
    renderChain();
    rendering_ = false;
}

void VhdInputDialog::renderChain() {
    const std::vector<ChainLayer>& chain = logic_.chain;
    // A file without parents is no chain.
    chainBox_->setVisible(chain.size() > 1);
    chainTable_->clearContents();
    chainTable_->setRowCount(static_cast<int>(chain.size()));
    // Top first, as `info` lists them.
    for (std::size_t i = 0; i < chain.size(); ++i) {
        const ChainLayer& layer = chain[chain.size() - 1 - i];
        const std::size_t number = chain.size() - 1 - i;
        const int row = static_cast<int>(i);
        QString id = QString::fromStdString(layer.id);
        if (layer.missing) id += tr(" (expected; the file is missing)");
        const QString texts[4] = {QString::number(number), fileNameOf(layer.path), id,
                                  layer.missing ? tr("-") : modifiedText(layer.modifiedTime)};
        for (int c = 0; c < 4; ++c) {
            auto* item = new QTableWidgetItem(texts[c]);
            item->setData(Qt::UserRole, static_cast<qulonglong>(number));
            if (c == 1) item->setToolTip(QString::fromStdString(layer.path));
            // A missing layer cannot be read as of.
            if (layer.missing) item->setFlags(Qt::NoItemFlags);
            chainTable_->setItem(row, c, item);
        }
        if (number == logic_.chainLayerUsed) chainTable_->selectRow(row);
    }
}

void VhdInputDialog::layerSelected() {
    if (rendering_) return;
    const QList<QTableWidgetItem*> selected = chainTable_->selectedItems();
    if (selected.isEmpty()) return;
    logic_.chooseLayer(static_cast<std::size_t>(selected.front()->data(Qt::UserRole).toULongLong()));
    // Deferred: the table must not be rebuilt inside its own selection signal.
    QMetaObject::invokeMethod(this, [this] { render(); }, Qt::QueuedConnection);
}

void VhdInputDialog::showProblem(const std::optional<Message>& problem) {
    render();
    // One question may lead to another (a VHDX read without its log whose parent is missing).
    bool asked = false;
    while (const std::optional<Message> question = logic_.pendingQuestion()) {
        logic_.answerQuestion(messages().show(*question) == MessageAnswer::Yes);
        render();
        asked = true;
    }
    if (asked) return;
    if (problem) messages().show(*problem);
}

void VhdInputDialog::commitPath(bool tellUser) {
    pathEdited_ = false;
    const std::optional<Message> problem =
        logic_.pathCommitted(path_->text().toStdString(), session());
    showProblem(tellUser ? problem : std::nullopt);
}

void VhdInputDialog::browse() {
    const QString path =
        UiDialogs::openFile(this, tr("Open"), tr("VMDK images (*.vmdk);;All files (*)"));
    if (path.isEmpty()) return;
    pathEdited_ = false;
    showProblem(logic_.fileChosen(path.toStdString(), session()));
}

void VhdInputDialog::openContainer(int kind) {
    QString title;
    switch (kind) {
    case kImageKindVhd:
        title = tr("Open VHD image");
        break;
    case kImageKindVdi:
        title = tr("Open VDI image");
        break;
    case kImageKindVhdx:
        title = tr("Open VHDX image");
        break;
    default:
        title = tr("Open QCOW2 image");
        break;
    }
    const std::string chosen = UiDialogs::openFile(this, title, QString()).toStdString();
    pathEdited_ = false;
    switch (kind) {
    case kImageKindVhd:
        showProblem(logic_.vhdChosen(chosen, session()));
        break;
    case kImageKindVdi:
        showProblem(logic_.vdiChosen(chosen, session()));
        break;
    case kImageKindVhdx:
        showProblem(logic_.vhdxChosen(chosen, session()));
        break;
    default:
        showProblem(logic_.qcow2Chosen(chosen, session()));
        break;
    }
}

void VhdInputDialog::goNext() {
    if (const std::optional<Message> refusal = logic_.nextRefusal()) {
        messages().show(*refusal);
        return;
    }
    // The later pages open the disk through the session, the chain as chosen here.
    logic_.chainChoice.applyTo(session());
    auto* modes = new DriveParsingModes(application(), this);
    application().modesPage = modes;
    showNext(modes);
}

} // namespace vindaru::app
