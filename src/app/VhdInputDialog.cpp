#include "app/VhdInputDialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QToolButton>
#include <QVBoxLayout>

#include "app/COrdavinApp.h"
#include "app/DriveParsingModes.h"
#include "app/UiDialogs.h"

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
    infoGrid->addWidget(problem_, 3, 0, 1, 4);
    infoGrid->setColumnStretch(1, 1);
    infoGrid->setColumnStretch(3, 1);
    keepPlaceWhenHidden({infoLabels_[0], infoLabels_[1], infoLabels_[2], infoLabels_[3],
                         infoLabels_[4], infoValues_[0], infoValues_[1], infoValues_[2],
                         infoValues_[3], size_, sizeUnit_});

    openVhd_ = makeButton(tr("Open VHD image..."), QStyle::SP_DriveHDIcon, tr("Open VHD image"));
    openVdi_ = makeButton(tr("Open VDI image..."), QStyle::SP_DriveHDIcon, tr("Open VDI image"));
    help_ = makeHelpButton();
    next_ = makeNextButton();
    QHBoxLayout* buttons = makeButtonRow(nullptr, {next_});
    buttons->insertWidget(0, openVhd_);
    buttons->insertWidget(1, openVdi_);
    buttons->insertWidget(3, help_);

    QVBoxLayout* layout = makePageLayout(
        tr("Disk image"), tr("Choose the virtual disk image to recover files from."));
    layout->addWidget(options);
    layout->addWidget(pathBox);
    layout->addWidget(infoBox);
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
        render();
    });
    connect(split_, &QCheckBox::toggled, this, [this](bool on) {
        if (rendering_) return;
        logic_.setSplit(on);
        render();
    });
    connect(extentType_, &QComboBox::currentTextChanged, this, [this](const QString& text) {
        if (rendering_) return;
        logic_.setExtentType(text.toStdString());
        render();
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
    connect(openVhd_, &QPushButton::clicked, this, [this] { openContainer(true); });
    connect(openVdi_, &QPushButton::clicked, this, [this] { openContainer(false); });
    connect(next_, &QPushButton::clicked, this, &VhdInputDialog::goNext);
}

void VhdInputDialog::render() {
    rendering_ = true;
    fixedDisk_->setChecked(logic_.fixedDisk);
    dynamicDisk_->setChecked(logic_.dynamicDisk);
    split_->setChecked(logic_.split);
    descriptor_->setChecked(logic_.descriptor);
    // A VHD or VDI image is read by its own reader: the VMDK choices do not apply to it.
    const bool container = !logic_.pathText.empty() && (logic_.imageKind == kImageKindVhd ||
                                                         logic_.imageKind == kImageKindVdi);
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
    problem_->setText(QString::fromStdString(info.problem));
    problem_->setVisible(!info.problem.empty());
    rendering_ = false;
}

void VhdInputDialog::showProblem(const std::optional<Message>& problem) {
    render();
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

void VhdInputDialog::openContainer(bool vhd) {
    const QString path =
        UiDialogs::openFile(this, vhd ? tr("Open VHD image") : tr("Open VDI image"), QString());
    const std::string chosen = path.toStdString();
    pathEdited_ = false;
    showProblem(vhd ? logic_.vhdChosen(chosen, session()) : logic_.vdiChosen(chosen, session()));
}

void VhdInputDialog::goNext() {
    if (const std::optional<Message> refusal = logic_.nextRefusal()) {
        messages().show(*refusal);
        return;
    }
    auto* modes = new DriveParsingModes(application(), this);
    application().modesPage = modes;
    showNext(modes);
}

} // namespace vindaru::app
