// The raw recovery page: signature settings loaded by Parse, the volume carved on the page's
// worker, the finds in a tree by category with a file list beside it, and Save of the checked
// finds. Loading, carving, listing and saving are RawRecoveryLogic's; this shows them.
#pragma once

#include <memory>

#include "app/PageWorker.h"
#include "app/WizardPage.h"
#include "common/CheckTree.h"
#include "volume/VolumeRecord.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QModelIndex;
class QProgressBar;
class QPushButton;
class QTableWidget;
class QToolButton;
class QTreeView;

namespace vindaru {
class RawRecoveryLogic;
}

namespace vindaru::app {

class CheckTreeModel;
class UiProgressSink;
class UiStatusSink;

class RawRecoveryDialog : public WizardPage {
    Q_OBJECT
  public:
    // `imagePath` is the image the session reader is made for when the image page recorded one.
    RawRecoveryDialog(COrdavinApp& app, WizardPage* previous, VolumeRecord volume, std::string imagePath);
    ~RawRecoveryDialog() override;

    void stopEngines() override;
    bool busy() const { return worker_.running(); }

    RawRecoveryLogic& logic() const { return *logic_; }
    CheckTree& tree() { return tree_; }
    CheckTreeModel* treeModel() const { return treeModel_; }
    QTreeView* treeView() const { return treeView_; }
    QTableWidget* fileList() const { return list_; }
    QLineEdit* pathEdit() const { return path_; }
    QPushButton* browseButton() const { return browse_; }
    QPushButton* parseButton() const { return parse_; }
    QCheckBox* loadDefaultBox() const { return loadDefault_; }
    QCheckBox* freeSpaceBox() const { return freeSpace_; }
    QPushButton* settingButton() const { return setting_; }
    QPushButton* pauseButton() const { return pause_; }
    QPushButton* resumeButton() const { return resume_; }
    QPushButton* stopButton() const { return stop_; }
    QPushButton* backButton() const { return back_; }
    QPushButton* saveButton() const { return save_; }
    QProgressBar* progressBar() const { return progress_; }
    QLabel* statusLabel() const { return status_; }

  protected:
    void leavingBack() override;

  private:
    void buildControls();
    void browse();
    void parse();
    void carveFinished();
    void setRunControlsVisible(bool on);
    void setInputsEnabled(bool on);
    void itemClicked(const QModelIndex& index);
    void saveChecked();
    void openEditor();

    VolumeRecord volume_;
    std::string imagePath_;
    CheckTree tree_;
    std::unique_ptr<UiStatusSink> statusSink_;
    std::unique_ptr<UiProgressSink> progressSink_;
    std::unique_ptr<RawRecoveryLogic> logic_;

    QLineEdit* path_;
    QPushButton* browse_;
    QPushButton* parse_;
    QCheckBox* loadDefault_;
    QCheckBox* freeSpace_;
    QPushButton* setting_;
    QTreeView* treeView_;
    CheckTreeModel* treeModel_;
    QTableWidget* list_;
    QProgressBar* progress_;
    QLabel* status_;
    QPushButton* pause_;
    QPushButton* resume_;
    QPushButton* stop_;
    QToolButton* help_;
    QPushButton* back_;
    QPushButton* save_;

    // Declared last: its destructor waits for the worker while everything above still exists.
    PageWorker worker_;
};

} // namespace vindaru::app
