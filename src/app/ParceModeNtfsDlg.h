// The recovery mode page: Standard, Advanced or Deep for the chosen volume, as far as its file
// system offers them. Its behaviour is the browser's
// RecoveryModeLogic.
#pragma once

#include "app/WizardPage.h"
#include "pages/RecoveryModeLogic.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QToolButton;

namespace vindaru::app {

class PopulateDriveDlg;

class ParceModeNtfsDlg : public WizardPage {
    Q_OBJECT
  public:
    ParceModeNtfsDlg(COrdavinApp& app, WizardPage* volumePage, VolumeRecord volume);

    const RecoveryModeLogic& logic() const { return logic_; }
    int scanMode() const { return logic_.scanMode(); }
    const VolumeRecord& volume() const { return logic_.volume(); }
    // The number typed for the advanced searches, as text (the next pages read it).
    std::string maxFileSystemsText() const;

    QRadioButton* standardRadio() const { return standard_; }
    QRadioButton* advancedRadio() const { return advanced_; }
    QRadioButton* deepRadio() const { return deep_; }
    QLineEdit* maxEdit() const { return maxEdit_; }
    QCheckBox* formattedBox() const { return formatted_; }
    QPushButton* backButton() const { return back_; }
    QPushButton* nextButton() const { return next_; }

  private:
    void buildControls();
    void render();
    void goNext();

    RecoveryModeLogic logic_;
    QRadioButton* standard_;
    QRadioButton* advanced_;
    QRadioButton* deep_;
    QLabel* maxLabel_;
    QLineEdit* maxEdit_;
    QLabel* maxHint_;
    QCheckBox* formatted_;
    QToolButton* help_;
    QPushButton* back_;
    QPushButton* next_;
    bool rendering_ = false;
};

} // namespace vindaru::app
