// The volume list page: the volumes found on the disk, the custom settings for the selected
// one, and Next to the recovery mode page. Its behaviour is PopulateDriveLogic's.
#pragma once

#include <memory>

#include "app/DriveParsingModes.h"
#include "app/WizardPage.h"
#include "pages/PopulateDriveLogic.h"

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QTableWidget;
class QToolButton;

namespace vindaru::app {

class SectorEdit;
class UiProgressSink;
class UiStatusSink;

class PopulateDriveDlg : public WizardPage {
    Q_OBJECT
  public:
    PopulateDriveDlg(COrdavinApp& app, DriveParsingModes* modesPage, DiscoveryChoices choices);
    ~PopulateDriveDlg() override;

    // Page start, once the page is on screen: the reader and the chosen discovery.
    void startDiscovery();
    void stopEngines() override;
    QString runningWork() const override;

    // The record Next chose; the recovery mode page copies it.
    const VolumeRecord& selectedRecord() const { return selectedRecord_; }
    PopulateDriveLogic& logic() { return *logic_; }

    QTableWidget* volumeTable() const { return table_; }
    QPushButton* filterButton() const { return filter_; }
    QPushButton* addCustomButton() const { return addCustom_; }
    QCheckBox* customBox() const { return custom_; }
    QLabel* selectedVolumeLabel() const { return selectedVolume_; }
    SectorEdit* startEdit() const { return start_; }
    SectorEdit* endEdit() const { return end_; }
    QComboBox* treatAsCombo() const { return treatAs_; }
    QProgressBar* progressBar() const { return progress_; }
    QPushButton* stopButton() const { return stop_; }
    QLabel* statusLabel() const { return status_; }
    QPushButton* backButton() const { return back_; }
    QPushButton* nextButton() const { return next_; }

  protected:
    QMessageBox::Icon closePromptIcon() const override { return QMessageBox::Information; }
    void leavingBack() override;

  private:
    void toggleFilter();
    void buildControls();
    void renderRows();
    void renderControls();
    void rowSelected();
    void rowClicked(int row);
    void goNext();
    void scanFinished();

    DiscoveryChoices choices_;
    VolumeRecord selectedRecord_;

    QTableWidget* table_;
    QPushButton* filter_;
    QPushButton* addCustom_;
    QCheckBox* custom_;
    QGroupBox* customGroup_;
    QLabel* selectedVolumeTitle_;
    QLabel* selectedVolume_;
    QLabel* startLabel_;
    QLabel* endLabel_;
    QLabel* treatAsLabel_;
    SectorEdit* start_;
    SectorEdit* end_;
    QComboBox* treatAs_;
    QProgressBar* progress_;
    QPushButton* stop_;
    QLabel* status_;
    QToolButton* help_;
    QPushButton* back_;
    QPushButton* next_;
    bool rendering_ = false;

    std::unique_ptr<UiStatusSink> statusSink_;
    std::unique_ptr<UiProgressSink> progressSink_;
    std::unique_ptr<PopulateDriveLogic> logic_;
};

} // namespace vindaru::app
