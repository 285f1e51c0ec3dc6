// The image page, the wizard's first page and main window: the image kind, the file, its File
// Information and the disk size. Its behaviour is ImagePageLogic's; this draws it.
#pragma once

#include "app/ImagePageLogic.h"
#include "app/WizardPage.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QGroupBox;
class QRadioButton;
class QTableWidget;
class QToolButton;

namespace vindaru::app {

class VhdInputDialog : public WizardPage {
    Q_OBJECT
  public:
    explicit VhdInputDialog(COrdavinApp& app);

    const ImagePageLogic& logic() const { return logic_; }

    // The controls, for the pages after this one and for the tests.
    QRadioButton* fixedDiskRadio() const { return fixedDisk_; }
    QRadioButton* dynamicDiskRadio() const { return dynamicDisk_; }
    QCheckBox* splitBox() const { return split_; }
    QCheckBox* descriptorBox() const { return descriptor_; }
    QComboBox* extentTypeCombo() const { return extentType_; }
    QLineEdit* pathEdit() const { return path_; }
    QLineEdit* sizeEdit() const { return size_; }
    QPushButton* browseButton() const { return browse_; }
    QPushButton* parentButton() const { return parent_; }
    QPushButton* openVhdButton() const { return openVhd_; }
    QPushButton* openVdiButton() const { return openVdi_; }
    QPushButton* openVhdxButton() const { return openVhdx_; }
    QPushButton* openQcow2Button() const { return openQcow2_; }
    QPushButton* nextButton() const { return next_; }
    QToolButton* helpButton() const { return help_; }
    QLabel* infoValue(int i) const { return infoValues_[i]; }
    QLabel* sizeUnitLabel() const { return sizeUnit_; }
    // What the file is and what to choose, when it does not open as chosen.
    QLabel* problemLabel() const { return problem_; }
    // The container's damage in one line.
    QLabel* damageValue() const { return damageValue_; }
    // The snapshot chain, top first: layer, file, id, modified; the selected row is the layer
    // read. Shown for a child image only.
    QGroupBox* chainBox() const { return chainBox_; }
    QTableWidget* chainTable() const { return chainTable_; }

  private:
    void buildControls();
    void render();
    void browse();
    void openContainer(int kind);
    void layerSelected();
    void goNext();
    // The typed path taken: on Enter (`tellUser`: a problem comes as a message box too) or
    // when the focus leaves the box.
    void commitPath(bool tellUser);
    // Draws the page after a change; asks about a missing parent, or shows `problem`.
    void showProblem(const std::optional<Message>& problem);
    void renderChain();

    ImagePageLogic logic_;
    QRadioButton* fixedDisk_;
    QRadioButton* dynamicDisk_;
    QCheckBox* split_;
    QCheckBox* descriptor_;
    QComboBox* extentType_;
    QLineEdit* path_;
    QPushButton* browse_;
    QPushButton* parent_;
    QLabel* infoLabels_[5];
    QLabel* infoValues_[4];
    QLineEdit* size_;
    QLabel* sizeUnit_;
    QLabel* problem_;
    QLabel* damageLabel_;
    QLabel* damageValue_;
    QGroupBox* chainBox_;
    QTableWidget* chainTable_;
    QPushButton* openVhd_;
    QPushButton* openVdi_;
    QPushButton* openVhdx_;
    QPushButton* openQcow2_;
    QToolButton* help_;
    QPushButton* next_;
    bool rendering_ = false;
    bool pathEdited_ = false;
};

} // namespace vindaru::app
