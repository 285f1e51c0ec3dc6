#include "app/ParceModeNtfsDlg.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QToolButton>
#include <QVBoxLayout>

#include "app/COrdavinApp.h"
#include "app/VolumeScanDlg.h"
#include "app/advanceOptions.h"

namespace vindaru::app {

ParceModeNtfsDlg::ParceModeNtfsDlg(COrdavinApp& app, WizardPage* volumePage, VolumeRecord volume)
    : WizardPage(app, volumePage), logic_(std::move(volume), &app.session) {
    buildControls();
    render();
}

void ParceModeNtfsDlg::buildControls() {
    auto* group = new QGroupBox(QString::fromUtf8(kRecoveryModeGroupText), this);
    standard_ = new QRadioButton(QString::fromUtf8(kStandardModeText), group);
    advanced_ = new QRadioButton(QString::fromUtf8(kAdvancedModeText), group);
    deep_ = new QRadioButton(QString::fromUtf8(kDeepModeText), group);
    maxLabel_ = new QLabel(QString::fromUtf8(kMaxFileSystemsLabel), group);
    maxEdit_ = new QLineEdit(group);
    maxEdit_->setValidator(new QIntValidator(0, 999, maxEdit_));
    maxEdit_->setMaximumWidth(80);
    maxHint_ = new QLabel(QString::fromUtf8(kMaxFileSystemsHint), group);
    formatted_ = new QCheckBox(QString::fromUtf8(kDriveFormattedText), group);
    keepPlaceWhenHidden({standard_, advanced_, deep_, maxLabel_, maxEdit_, maxHint_, formatted_});

    auto* grid = new QGridLayout(group);
    grid->setContentsMargins(24, 18, 24, 18);
    grid->setVerticalSpacing(14);
    grid->setHorizontalSpacing(12);
    grid->addWidget(standard_, 0, 0, 1, 4);
    grid->addWidget(advanced_, 1, 0, 1, 4);
    grid->addWidget(deep_, 2, 0, 1, 4);
    grid->addWidget(maxLabel_, 3, 1);
    grid->addWidget(maxEdit_, 3, 2);
    grid->addWidget(maxHint_, 3, 3);
    grid->addWidget(formatted_, 4, 1, 1, 3);
    grid->setColumnMinimumWidth(0, 16);
    grid->setColumnStretch(3, 1);

    auto* instruction = new QLabel(QString::fromUtf8(kChooseModeText), this);

    help_ = makeHelpButton();
    back_ = makeBackButton();
    next_ = makeNextButton();

    QVBoxLayout* layout =
        makePageLayout(tr("Recovery mode"), tr("Choose how the selected volume is scanned."));
    layout->addWidget(group);
    layout->addWidget(instruction);
    layout->addStretch(1);
    layout->addLayout(makeButtonRow(help_, {back_, next_}));

    using Mode = RecoveryModeLogic::Mode;
    auto choose = [this](Mode mode) {
        return [this, mode] {
            logic_.chooseMode(mode);
            render();
        };
    };
    connect(standard_, &QRadioButton::clicked, this, choose(Mode::Standard));
    connect(advanced_, &QRadioButton::clicked, this, choose(Mode::Advanced));
    connect(deep_, &QRadioButton::clicked, this, choose(Mode::Deep));
    connect(formatted_, &QCheckBox::toggled, this, [this](bool on) {
        if (!rendering_) logic_.setDriveFormatted(on);
    });
    connect(maxEdit_, &QLineEdit::textEdited, this,
            [this](const QString& text) { logic_.setMaxFileSystemsText(text.toStdString()); });
    connect(back_, &QPushButton::clicked, this, &ParceModeNtfsDlg::goBack);
    connect(next_, &QPushButton::clicked, this, &ParceModeNtfsDlg::goNext);
}

void ParceModeNtfsDlg::render() {
    rendering_ = true;
    using Mode = RecoveryModeLogic::Mode;
    standard_->setVisible(logic_.offers(Mode::Standard));
    advanced_->setVisible(logic_.offers(Mode::Advanced));
    deep_->setVisible(logic_.offers(Mode::Deep));
    standard_->setChecked(logic_.mode() == Mode::Standard);
    advanced_->setChecked(logic_.mode() == Mode::Advanced);
    deep_->setChecked(logic_.mode() == Mode::Deep);
    maxLabel_->setVisible(logic_.advancedInputsVisible());
    maxEdit_->setVisible(logic_.advancedInputsVisible());
    maxHint_->setVisible(logic_.advancedInputsVisible());
    formatted_->setVisible(logic_.driveFormattedVisible());
    formatted_->setChecked(logic_.driveFormatted());
    rendering_ = false;
}

std::string ParceModeNtfsDlg::maxFileSystemsText() const {
    return logic_.maxFileSystemsText();
}

void ParceModeNtfsDlg::goNext() {
    switch (logic_.next()) {
    case RecoveryModeLogic::NextPage::AdvanceOptions: {
        auto* page = new advanceOptions(application(), this);
        application().advanceOptionsPage = page;
        showNext(page);
        page->startSearch();
        return;
    }
    case RecoveryModeLogic::NextPage::VolumeScan: {
        auto* page = new VolumeScanDlg(application(), this, logic_.volume(), logic_.scanMode());
        application().scanPage = page;
        showNext(page);
        page->startScan();
        return;
    }
    case RecoveryModeLogic::NextPage::None:
        return;
    }
}

} // namespace vindaru::app
