// The drive parsing modes page: standard discovery or the advanced boot-sector scan with its
// options, and the export of the whole disk as a raw image file.
#pragma once

#include <QString>
#include <cstdint>
#include <memory>

#include "app/PageWorker.h"
#include "app/WizardPage.h"
#include "common/StopControl.h"

namespace vindaru {
struct ExportResult;
}

class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QToolButton;

namespace vindaru::app {

class UiProgressSink;
class UiStatusSink;
class VhdInputDialog;

// What the volume list page is given.
struct DiscoveryChoices {
    std::string imagePath;
    int discoveryMode = 1; // 1 standard discovery, 2 advanced scan
    bool gptMode = false;
    bool doNotSkipVolumeSize = false;
    std::uint64_t customStartSector = 0;
    std::uint64_t customEndSector = 0;
};

class DriveParsingModes : public WizardPage {
    Q_OBJECT
  public:
    DriveParsingModes(COrdavinApp& app, VhdInputDialog* imagePage);
    ~DriveParsingModes() override;

    void stopEngines() override;
    DiscoveryChoices discoveryChoices() const;
    bool exportRunning() const { return worker_.running(); }
    EngineControl& exportControl() { return exportControl_; }

    QCheckBox* saveDiskImageBox() const { return saveDiskImage_; }
    QLineEdit* exportPathEdit() const { return exportPath_; }
    QPushButton* saveImageButton() const { return saveImage_; }
    QRadioButton* standardRadio() const { return standard_; }
    QRadioButton* advanceRadio() const { return advance_; }
    QCheckBox* gptBox() const { return gpt_; }
    QCheckBox* doNotSkipBox() const { return doNotSkip_; }
    QCheckBox* customBox() const { return custom_; }
    QLineEdit* startEdit() const { return start_; }
    QLineEdit* endEdit() const { return end_; }
    QProgressBar* progressBar() const { return progress_; }
    QPushButton* stopButton() const { return stop_; }
    QPushButton* pauseButton() const { return pause_; }
    QPushButton* resumeButton() const { return resume_; }
    QLabel* statusLabel() const { return status_; }
    QLabel* selectedDriveLabel() const { return selectedDrive_; }
    QPushButton* backButton() const { return back_; }
    QPushButton* nextButton() const { return next_; }

  protected:
    void showEvent(QShowEvent* event) override;
    void leavingBack() override;

  private:
    void buildControls();
    void chooseMode(bool standard);
    void setCustomEnabled(bool on);
    void saveImage();
    void startExport(const QString& target);
    void exportFinished(const ExportResult& result);
    void setExportPaused(bool paused);
    void setExportControlsVisible(bool on);
    QString runningWork() const override;
    void askStop();
    void setNavigationEnabled(bool on);
    void goNext();

    VhdInputDialog* imagePage_;
    QString imagePath_;
    QString exportTarget_;

    QCheckBox* saveDiskImage_;
    QLineEdit* exportPath_;
    QPushButton* saveImage_;
    QLabel* selectedDrive_;
    QRadioButton* standard_;
    QRadioButton* advance_;
    QCheckBox* gpt_;
    QCheckBox* doNotSkip_;
    QCheckBox* custom_;
    QLabel* startLabel_;
    QLabel* endLabel_;
    QLineEdit* start_;
    QLineEdit* end_;
    QProgressBar* progress_;
    QPushButton* stop_;
    QPushButton* pause_;
    QPushButton* resume_;
    bool spaceWarned_ = false;
    QLabel* status_;
    QToolButton* help_;
    QPushButton* back_;
    QPushButton* next_;

    std::unique_ptr<UiStatusSink> statusSink_;
    std::unique_ptr<UiProgressSink> progressSink_;
    EngineControl exportControl_;
    PageWorker worker_;
};

} // namespace vindaru::app
