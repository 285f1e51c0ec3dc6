#include "app/advanceOptions.h"

#include <QComboBox>
#include <charconv>
#include <string>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

#include "app/COrdavinApp.h"
#include "app/ParceModeNtfsDlg.h"
#include "app/UiProgressSink.h"
#include "app/UiStatusSink.h"
#include "app/VolumeScanDlg.h"
#include "image/readWriteInterface.h"
#include "pages/RecoveryModeLogic.h"
#include "pages/VolumeScanLogic.h"

namespace vindaru::app {

namespace {
void fill(QComboBox* combo, const std::vector<std::string>& items, int selection) {
    combo->clear();
    for (const std::string& item : items)
        combo->addItem(QString::fromStdString(item));
    combo->setCurrentIndex(selection);
}
} // namespace

std::string advanceOptions::exfatClusterText(const std::string& shift) {
    unsigned value = 0;
    const auto [end, ec] = std::from_chars(shift.data(), shift.data() + shift.size(), value);
    constexpr unsigned kLargestShift = 25; // exFAT clusters are at most 32 MiB
    if (ec != std::errc() || end != shift.data() + shift.size() || value > kLargestShift) return shift;
    return std::to_string(1u << value) + " (2^" + shift + ")";
}

advanceOptions::advanceOptions(COrdavinApp& app, ParceModeNtfsDlg* modePage)
    : WizardPage(app, modePage), modePage_(modePage), worker_(this) {
    buildControls();
    statusSink_ = std::make_unique<UiStatusSink>(status_);
    progressSink_ = std::make_unique<UiProgressSink>(progress_);
    const auto limit =
        static_cast<std::int64_t>(candidateLimitFromText(modePage->maxFileSystemsText()));
    logic_ = std::make_unique<AdvanceOptionsLogic>(
        session().sessionReader.get(), modePage->volume(), limit,
        AdvanceSinks{*statusSink_, *progressSink_, messages()}, session().driveFormatted.load());
    logic_->onSearchFinished = [this] {
        QMetaObject::invokeMethod(
            this, [this] { searchFinished(); }, Qt::QueuedConnection);
    };
    render();
}

advanceOptions::~advanceOptions() {
    stopEngines();
    worker_.join();
}

void advanceOptions::buildControls() {
    auto* group = new QGroupBox(QString::fromUtf8(kAdvancedInputGroupText), this);
    itemsLabel_ = new QLabel(group);
    itemsLabel_->hide();
    candidatesLabel_ = new QLabel(QString::fromUtf8(kCandidateListLabel), group);
    candidates_ = new QComboBox(group);
    clustersLabel_ = new QLabel(QString::fromUtf8(kClusterListLabel), group);
    clusters_ = new QComboBox(group);
    heapsLabel_ = new QLabel(QString::fromUtf8(kHeapListLabel), group);
    heaps_ = new QComboBox(group);
    for (QComboBox* c : {candidates_, clusters_, heaps_})
        c->setMinimumWidth(220);
    keepPlaceWhenHidden(
        {candidatesLabel_, candidates_, clustersLabel_, clusters_, heapsLabel_, heaps_});
    auto* grid = new QGridLayout(group);
    grid->setContentsMargins(24, 18, 24, 18);
    grid->setVerticalSpacing(14);
    grid->setHorizontalSpacing(16);
    grid->addWidget(itemsLabel_, 0, 0, 1, 2);
    grid->addWidget(candidatesLabel_, 1, 0);
    grid->addWidget(candidates_, 1, 1);
    grid->addWidget(clustersLabel_, 2, 0);
    grid->addWidget(clusters_, 2, 1);
    grid->addWidget(heapsLabel_, 3, 0);
    grid->addWidget(heaps_, 3, 1);
    grid->setColumnStretch(2, 1);

    makeThreadButtons(pause_, resume_, stop_);
    QHBoxLayout* progressRow = makeProgressRow(progress_, {pause_, resume_, stop_});
    status_ = makeStatusLine();
    help_ = makeHelpButton();
    back_ = makeBackButton();
    next_ = makeNextButton();

    QVBoxLayout* layout = makePageLayout(
        tr("Advanced options"), tr("Choose the structures the damaged volume is parsed with."));
    layout->addWidget(group);
    layout->addStretch(1);
    layout->addLayout(progressRow);
    layout->addWidget(status_);
    layout->addLayout(makeButtonRow(help_, {back_, next_}));

    // The buttons and the bar show that the search waits.
    const auto setPaused = [this](bool paused) {
        if (paused)
            logic_->pause();
        else
            logic_->resume();
        showPaused(pause_, resume_, *progressSink_, paused);
    };
    resume_->setEnabled(false);
    connect(pause_, &QPushButton::clicked, this, [setPaused] { setPaused(true); });
    connect(resume_, &QPushButton::clicked, this, [setPaused] { setPaused(false); });
    connect(stop_, &QPushButton::clicked, this, [this] {
        logic_->stop();
        progressSink_->setPaused(false);
        pause_->setEnabled(false);
        resume_->setEnabled(false);
        render();
    });
    connect(candidates_, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (!rendering_) logic_->selectCandidate(index);
    });
    connect(clusters_, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (!rendering_) logic_->selectCluster(index);
    });
    connect(heaps_, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (!rendering_) logic_->selectHeap(index);
    });
    connect(back_, &QPushButton::clicked, this, &advanceOptions::goBack);
    connect(next_, &QPushButton::clicked, this, &advanceOptions::goNext);
}

void advanceOptions::startSearch() {
    if (const auto prepared = logic_->prepare(); prepared != AdvanceOptionsLogic::Prepared::Ready) {
        if (prepared == AdvanceOptionsLogic::Prepared::NotBuiltYet)
            info("The Advanced mode for this file system is not in this version.");
        // Nothing to search: the user can only go Back.
        back_->setEnabled(true);
        pause_->hide();
        resume_->hide();
        stop_->hide();
        progress_->hide();
        return;
    }
    render();
    worker_.start([this] { logic_->runSearch(); });
}

void advanceOptions::searchFinished() {
    worker_.join();
    progress_->hide();
    render();
}

void advanceOptions::render() {
    rendering_ = true;
    const bool lists = logic_->listsVisible();
    for (QWidget* w :
         std::initializer_list<QWidget*>{candidatesLabel_, candidates_, clustersLabel_, clusters_})
        w->setVisible(lists);
    heapsLabel_->setVisible(logic_->heapListVisible());
    heaps_->setVisible(logic_->heapListVisible());
    if (!logic_->searching()) {
        fill(candidates_, logic_->candidateItems(), logic_->candidateSelection());
        std::vector<std::string> clusters = logic_->clusterItems();
        // exFAT's list holds shifts (3 is 2^3 = 8 sectors): shown as the sectors they mean.
        // The choice is taken by its place in the list, so the texts may differ.
        if (logic_->heapListVisible())
            for (std::string& item : clusters) item = exfatClusterText(item);
        fill(clusters_, clusters, logic_->clusterSelection());
        fill(heaps_, logic_->heapItems(), logic_->heapSelection());
        const std::string label = logic_->candidateItemsLabel();
        itemsLabel_->setText(QString::fromStdString(label));
        itemsLabel_->setVisible(!label.empty());
    }
    next_->setEnabled(logic_->nextEnabled());
    back_->setEnabled(logic_->backEnabled());
    pause_->setVisible(logic_->threadButtonsVisible());
    resume_->setVisible(logic_->threadButtonsVisible());
    stop_->setVisible(logic_->threadButtonsVisible());
    rendering_ = false;
}

void advanceOptions::goNext() {
    if (!logic_->nextAllowed()) return;
    auto* scan = new VolumeScanDlg(application(), this, logic_->volume(), kScanModeAdvanced);
    scan->takeAdvancedParser(logic_->sharedParser(), logic_->choice());
    application().advancedScanPage = scan;
    showNext(scan);
    scan->startScan();
}

QString advanceOptions::runningWork() const {
    return logic_->searching() ? tr("The search for candidates is running.") : QString();
}

void advanceOptions::stopEngines() {
    if (logic_) logic_->stopParsers();
    messages().abandon();
}

void advanceOptions::leavingBack() {
    stopEngines();
    worker_.join();
}

} // namespace vindaru::app
