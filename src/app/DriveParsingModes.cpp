#include "app/DriveParsingModes.h"

#include <filesystem>
#include <memory>

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QShowEvent>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include "app/COrdavinApp.h"
#include "app/ImageCheck.h"
#include "app/PopulateDriveDlg.h"
#include "app/UiDialogs.h"
#include "app/UiProgressSink.h"
#include "app/UiStatusSink.h"
#include "app/VhdInputDialog.h"
#include "image/DiskExport.h"
#include "app/UiThrottle.h"

namespace vindaru::app {

namespace {
constexpr const char* kSpaceWarning =
    "Make sure you have sufficient disk space at saving location of Image File";

std::uint64_t leadingNumber(const QString& text, bool* negative = nullptr) {
    const QString t = text.trimmed();
    if (negative) *negative = t.startsWith(QLatin1Char('-'));
    bool ok = false;
    const qulonglong value = t.toULongLong(&ok);
    return ok ? value : 0;
}
} // namespace

DriveParsingModes::DriveParsingModes(COrdavinApp& app, VhdInputDialog* imagePage)
    : WizardPage(app, imagePage), imagePage_(imagePage), worker_(this) {
    buildControls();
    statusSink_ = std::make_unique<UiStatusSink>(status_);
    progressSink_ = std::make_unique<UiProgressSink>(progress_);
    progressSink_->setUnit(UiProgressSink::Unit::Sectors);

    progress_->hide();
    setExportControlsVisible(false);
    saveDiskImage_->setChecked(false);
    saveImage_->setEnabled(false);
    setCustomEnabled(false);

    // The image page's path and disk size.
    const ImagePageLogic& image = imagePage_->logic();
    session().customDiskSectors = image.customDiskSectors();
    imagePath_ = QString::fromStdString(image.pathText);
    selectedDrive_->setText(imagePath_);
    start_->setText(QStringLiteral("0"));
    end_->setText(QStringLiteral("0"));
    chooseMode(true);
    // A protective MBR says the disk has a GUID partition table; the user may still change it.
    gpt_->setChecked(hasProtectiveMbr(image.pathText, image.imageChoices().value_or(ImageChoices{}),
                                      image.chainChoice));
}

DriveParsingModes::~DriveParsingModes() {
    stopEngines();
    worker_.join();
}

void DriveParsingModes::buildControls() {
    saveDiskImage_ = new QCheckBox(tr("Save Disk Image:"), this);
    exportPath_ = new QLineEdit(this);
    exportPath_->setReadOnly(true);
    saveImage_ = makeButton(tr("Save Image"), QStyle::SP_DialogSaveButton, tr("Save Image"));
    auto* exportRow = new QHBoxLayout;
    exportRow->addWidget(saveDiskImage_);
    exportRow->addWidget(exportPath_, 1);
    exportRow->addWidget(saveImage_);

    auto* modes = new QGroupBox(tr("Select Mode:"), this);
    auto* driveLabel = new QLabel(tr("Currently Selected Drive :"), modes);
    selectedDrive_ = new QLabel(modes);
    selectedDrive_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    selectedDrive_->setWordWrap(true);
    QFont bold = selectedDrive_->font();
    bold.setBold(true);
    selectedDrive_->setFont(bold);
    standard_ = new QRadioButton(tr("Standard Scan"), modes);
    gpt_ = new QCheckBox(tr("GPT format"), modes);
    auto* gptNote = new QLabel(tr("(* Check If Partition type is GPT)"), modes);
    advance_ = new QRadioButton(tr("Advance Scan"), modes);
    doNotSkip_ =
        new QCheckBox(tr("Do not Skip Volume Size While Parsing in Advance  Scan "), modes);
    custom_ = new QCheckBox(tr("Custom Setting:"), modes);
    startLabel_ = new QLabel(tr("Starting Sector:"), modes);
    endLabel_ = new QLabel(tr("Ending Sector:"), modes);
    start_ = new QLineEdit(modes);
    end_ = new QLineEdit(modes);
    // Sector numbers only (a leading minus is kept, so that a negative end can be refused).
    auto* digits =
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("-?[0-9]{0,20}")), this);
    start_->setValidator(digits);
    end_->setValidator(digits);
    start_->setMaximumWidth(160);
    end_->setMaximumWidth(160);

    auto* grid = new QGridLayout(modes);
    grid->setHorizontalSpacing(18);
    grid->setVerticalSpacing(10);
    grid->addWidget(driveLabel, 0, 0);
    grid->addWidget(selectedDrive_, 0, 1, 1, 4);
    grid->addWidget(standard_, 1, 0);
    grid->addWidget(gpt_, 1, 1);
    grid->addWidget(gptNote, 1, 2, 1, 3);
    grid->addWidget(advance_, 2, 0);
    grid->addWidget(doNotSkip_, 2, 1, 1, 4);
    grid->addWidget(custom_, 3, 1);
    auto* range = new QHBoxLayout;
    range->setSpacing(8);
    range->addWidget(startLabel_);
    range->addWidget(start_);
    range->addSpacing(20);
    range->addWidget(endLabel_);
    range->addWidget(end_);
    range->addStretch(1);
    grid->addLayout(range, 4, 1, 1, 4);
    grid->setColumnStretch(4, 1);

    // The export waits at its next piece while paused, as every long work of the wizard does.
    pause_ = makeIconButton(QStyle::SP_MediaPause, tr("Pause"));
    resume_ = makeIconButton(QStyle::SP_MediaPlay, tr("Resume"));
    stop_ = makeButton(tr("Stop"), QStyle::SP_MediaStop, tr("Stop"));
    QHBoxLayout* progressRow = makeProgressRow(progress_, {pause_, resume_, stop_});

    status_ = makeStatusLine(tr("Choose any one of the mode and click next...."));

    help_ = makeHelpButton();
    back_ = makeBackButton();
    next_ = makeNextButton();

    QVBoxLayout* layout =
        makePageLayout(tr("Disk scan"), tr("Choose how the volumes of the disk are found, or save "
                                           "the whole disk as one raw image."));
    layout->addLayout(exportRow);
    layout->addWidget(modes);
    layout->addStretch(1);
    layout->addLayout(progressRow);
    layout->addWidget(status_);
    layout->addLayout(makeButtonRow(help_, {back_, next_}));

    connect(standard_, &QRadioButton::clicked, this, [this] { chooseMode(true); });
    connect(advance_, &QRadioButton::clicked, this, [this] { chooseMode(false); });
    connect(custom_, &QCheckBox::toggled, this, &DriveParsingModes::setCustomEnabled);
    connect(saveDiskImage_, &QCheckBox::clicked, this, [this](bool on) {
        info(kSpaceWarning);
        saveImage_->setEnabled(on);
    });
    connect(saveImage_, &QPushButton::clicked, this, &DriveParsingModes::saveImage);
    connect(stop_, &QPushButton::clicked, this, &DriveParsingModes::askStop);
    connect(pause_, &QPushButton::clicked, this, [this] { setExportPaused(true); });
    connect(resume_, &QPushButton::clicked, this, [this] { setExportPaused(false); });
    connect(back_, &QPushButton::clicked, this, &DriveParsingModes::goBack);
    connect(next_, &QPushButton::clicked, this, &DriveParsingModes::goNext);
}

void DriveParsingModes::showEvent(QShowEvent* event) {
    WizardPage::showEvent(event);
    // When the page opens, once it is on screen; not again when Back returns to it.
    if (event->spontaneous() || spaceWarned_) return;
    spaceWarned_ = true;
    QTimer::singleShot(0, this, [this] {
        if (isVisible()) info(kSpaceWarning);
    });
}

void DriveParsingModes::chooseMode(bool standard) {
    standard_->setChecked(standard);
    advance_->setChecked(!standard);
    doNotSkip_->setEnabled(!standard);
    custom_->setEnabled(!standard);
}

void DriveParsingModes::setCustomEnabled(bool on) {
    startLabel_->setEnabled(on);
    endLabel_->setEnabled(on);
    start_->setEnabled(on);
    end_->setEnabled(on);
}

DiscoveryChoices DriveParsingModes::discoveryChoices() const {
    DiscoveryChoices choices;
    choices.imagePath = imagePath_.toStdString();
    choices.discoveryMode = standard_->isChecked() ? 1 : 2;
    choices.gptMode = gpt_->isChecked();
    choices.doNotSkipVolumeSize = doNotSkip_->isChecked();
    if (custom_->isChecked()) {
        bool negative = false;
        const std::uint64_t endSector = leadingNumber(end_->text(), &negative);
        if (!negative) {
            choices.customStartSector = leadingNumber(start_->text());
            choices.customEndSector = endSector;
        }
    }
    return choices;
}

void DriveParsingModes::goNext() {
    auto* volumes = new PopulateDriveDlg(application(), this, discoveryChoices());
    application().volumePage = volumes;
    showNext(volumes);
    volumes->startDiscovery();
}

void DriveParsingModes::setNavigationEnabled(bool on) {
    next_->setEnabled(on);
    back_->setEnabled(on);
    saveImage_->setEnabled(on && saveDiskImage_->isChecked());
    saveDiskImage_->setEnabled(on);
}

void DriveParsingModes::saveImage() {
    const QString folder = UiDialogs::chooseFolder(this, tr("Please select the folder."));
    if (folder.isEmpty()) return;
    const QString target = QString::fromStdString(
        DiskExport::chooseTarget(folder.toStdString(), imagePath_.toStdString()));
    exportPath_->setText(target);
    startExport(target);
}

void DriveParsingModes::startExport(const QString& target) {
    const std::optional<ImageChoices> choices = imagePage_->logic().imageChoices();
    // An image page that never recorded a kind still names a file: it is read as a VMDK.
    ImageChoices kind = choices.value_or(ImageChoices{});
    setNavigationEnabled(false);
    progress_->setValue(0);
    progressSink_->reset();
    progress_->show();
    setExportControlsVisible(true);
    exportControl_.stopRequested.reset();
    messages().reopen();
    const std::string image = imagePath_.toStdString();
    const std::string path = target.toStdString();
    auto result = std::make_shared<ExportResult>();
    worker_.start(
        [this, kind, image, path, result] {
            *result = DiskExport().run(session(), kind, image, path, *statusSink_, *progressSink_,
                                       messages(), exportControl_);
        },
        [this, result] { exportFinished(*result); });
}

void DriveParsingModes::exportFinished(const ExportResult& result) {
    worker_.join();
    UiThrottle::deliverAllPending();
    setExportControlsVisible(false);
    // A file cut short must not pass for the disk: it keeps what was copied under a name that
    // says it is unfinished.
    if (!result.completed && !result.path.empty()) {
        const QString cut = QString::fromStdString(result.path);
        const QString kept = cut + QStringLiteral(".partial");
        std::error_code ec;
        std::filesystem::rename(result.path, kept.toStdString(), ec);
        if (ec) std::filesystem::remove(result.path, ec);
        const QString said = ec ? tr("The unfinished file was removed.")
                                : tr("The unfinished file is kept as %1.").arg(kept);
        exportPath_->setText(ec ? QString() : kept);
        status_->setText(status_->text() + QLatin1Char(' ') + said);
    }
    progress_->hide();
    setNavigationEnabled(true);
}

void DriveParsingModes::setExportControlsVisible(bool on) {
    pause_->setVisible(on);
    resume_->setVisible(on);
    stop_->setVisible(on);
    showPaused(pause_, resume_, *progressSink_, false);
}

void DriveParsingModes::setExportPaused(bool paused) {
    if (paused)
        exportControl_.pauseGate.pause();
    else
        exportControl_.pauseGate.resume();
    showPaused(pause_, resume_, *progressSink_, paused);
    status_->setText(paused ? tr("Pause button pressed") : tr("Resume button pressed"));
}

QString DriveParsingModes::runningWork() const {
    return worker_.running() ? tr("The disk image is being saved.") : QString();
}

void DriveParsingModes::askStop() {
    if (!messages().askYesNo("Are you sure to stop the running process?")) return;
    pause_->setEnabled(false);
    resume_->setEnabled(false);
    exportControl_.requestStop();
}

void DriveParsingModes::stopEngines() {
    exportControl_.requestStop();
    messages().abandon();
}

void DriveParsingModes::leavingBack() {
    stopEngines();
}

} // namespace vindaru::app
