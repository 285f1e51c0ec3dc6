// The advance options page: the candidate search for a damaged volume's file-system structures
// and the choice of candidate and cluster size the Advanced scan then parses with.
#pragma once

#include <functional>
#include <memory>

#include "app/PageWorker.h"
#include "app/WizardPage.h"
#include "pages/AdvanceOptionsLogic.h"

class QComboBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QToolButton;

namespace vindaru::app {

class ParceModeNtfsDlg;
class UiProgressSink;
class UiStatusSink;

class advanceOptions : public WizardPage {
    Q_OBJECT
  public:
    advanceOptions(COrdavinApp& app, ParceModeNtfsDlg* modePage);
    ~advanceOptions() override;

    // Page start, once the page is on screen.
    void startSearch();
    void stopEngines() override;
    QString runningWork() const override;
    QPushButton* pauseButton() const { return pause_; }
    QPushButton* stopButton() const { return stop_; }
    AdvanceOptionsLogic& logic() { return *logic_; }

    QComboBox* candidateCombo() const { return candidates_; }
    QComboBox* clusterCombo() const { return clusters_; }
    // An exFAT cluster shift as the sectors it means: "3" is "8 (2^3)".
    static std::string exfatClusterText(const std::string& shift);
    QComboBox* heapCombo() const { return heaps_; }
    QLabel* itemsLabel() const { return itemsLabel_; }
    QLabel* statusLabel() const { return status_; }
    QPushButton* nextButton() const { return next_; }
    QPushButton* backButton() const { return back_; }

  protected:
    void leavingBack() override;

  private:
    void buildControls();
    void searchFinished();
    void render();
    void goNext();

    ParceModeNtfsDlg* modePage_;
    QLabel* itemsLabel_; // "Total fat16 Entries Found:", ... when the search names its lists
    QLabel* candidatesLabel_;
    QComboBox* candidates_;
    QLabel* clustersLabel_;
    QComboBox* clusters_;
    QLabel* heapsLabel_;
    QComboBox* heaps_;
    QProgressBar* progress_;
    QLabel* status_;
    QPushButton* pause_;
    QPushButton* resume_;
    QPushButton* stop_;
    QToolButton* help_;
    QPushButton* back_;
    QPushButton* next_;

    std::unique_ptr<UiStatusSink> statusSink_;
    std::unique_ptr<UiProgressSink> progressSink_;
    std::unique_ptr<AdvanceOptionsLogic> logic_;
    bool rendering_ = false;
    PageWorker worker_;
};

} // namespace vindaru::app
