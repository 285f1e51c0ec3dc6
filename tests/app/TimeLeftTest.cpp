// The time left beside the progress bar of the long work: the export of the whole disk and the
// Advanced candidate search show it as the scan and the save do, and time spent paused in one
// step of the work does not hold back the estimate of the next. The pace is measured by a clock
// the tests set, so that the estimate shows as soon as the work has moved.
#include <QCheckBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <atomic>
#include <fstream>

#include "app/UiProgressSink.h"
#include "app/UiThrottle.h"
#include "app/WizardFixture.h"
#include "app/advanceOptions.h"
#include "pages/AdvanceOptionsLogic.h"

namespace vindaru::test {
namespace {

using app::UiProgressSink;

// Every reading of the clock is two seconds after the one before: any step that has moved at
// all has been under way long enough for an estimate.
std::atomic<std::int64_t> fakeNow{0};
std::int64_t racingClock() {
    return fakeNow.fetch_add(2000);
}
// A clock the test moves by hand.
std::int64_t handClock() {
    return fakeNow.load();
}

class TimeLeft : public WizardFixture {
  protected:
    void TearDown() override {
        UiProgressSink::setClock(nullptr);
        WizardFixture::TearDown();
    }

    // A raw disk of `mib` MiB holding no zero byte (nothing of it is a hole to skip).
    static fs::path filledDisk(const ScratchDir& dir, int mib) {
        const fs::path disk = dir.path() / "disk.raw";
        std::ofstream out(disk, std::ios::binary);
        const std::string block(1 << 20, '\xA5');
        for (int i = 0; i < mib; ++i)
            out.write(block.data(), static_cast<std::streamsize>(block.size()));
        return disk;
    }

    app::DriveParsingModes* openRawDisk(const fs::path& disk) {
        EXPECT_TRUE(wizard->start());
        nextFile = QString::fromStdString(disk.string());
        imagePage()->fixedDiskRadio()->click();
        imagePage()->browseButton()->click();
        imagePage()->nextButton()->click();
        return visiblePage<app::DriveParsingModes>();
    }

    // The work, held at its gate, is let go until its bar moves, then held again: what the
    // page shows then is the middle of the work, as a user sees it at any moment. Empty when
    // the work ended first.
    static QString amountInTheMiddle(QProgressBar* bar, QLabel* amount,
                                     const std::function<void(bool)>& hold,
                                     const std::function<bool()>& running) {
        // Long enough held that the bar's next move is shown as soon as it comes.
        QTest::qWait(150);
        const int before = bar->value();
        hold(false);
        waitUntil([&] { return (bar->value() != before && bar->value() > bar->minimum()) || !running(); });
        hold(true);
        app::UiThrottle::deliverAllPending();
        QTest::qWait(150); // the last position the work reported before it stopped at the gate
        app::UiThrottle::deliverAllPending();
        if (!running() || bar->value() <= bar->minimum() || bar->value() >= bar->maximum()) return {};
        return amount->text();
    }
};

TEST_F(TimeLeft, TheDiskExportShowsTheTimeLeft) {
    ScratchDir scratch;
    const fs::path disk = filledDisk(scratch, 256);
    auto* modes = openRawDisk(disk);
    ASSERT_NE(modes, nullptr);
    ASSERT_TRUE(boxes.waitFor(
        "Make sure you have sufficient disk space at saving location of Image File"));
    modes->saveDiskImageBox()->click();
    ScratchDir target;
    nextFolder = QString::fromStdString(target.path().string());
    UiProgressSink::setClock(&racingClock);
    modes->exportControl().pauseGate.pause();
    modes->saveImageButton()->click();
    auto* amount = modes->findChild<QLabel*>("progressAmount");
    ASSERT_NE(amount, nullptr);
    const QString middle = amountInTheMiddle(
        modes->progressBar(), amount,
        [&](bool on) {
            if (on)
                modes->exportControl().pauseGate.pause();
            else
                modes->exportControl().pauseGate.resume();
        },
        [&] { return modes->exportRunning(); });
    if (middle.isEmpty()) {
        modes->exportControl().pauseGate.resume();
        GTEST_SKIP() << "the export ended before it could be held in the middle";
    }
    EXPECT_TRUE(amount->isVisible());
    EXPECT_TRUE(middle.contains(" of 256.00 MB, about ")) << middle.toStdString();
    EXPECT_TRUE(middle.endsWith(" left")) << middle.toStdString();

    // Paused by its button: the bar says so, and gives no estimate while nothing moves.
    modes->exportControl().pauseGate.resume();
    modes->pauseButton()->click();
    EXPECT_TRUE(amount->text().endsWith(", paused")) << amount->text().toStdString();
    EXPECT_FALSE(amount->text().contains("left"));
    EXPECT_FALSE(modes->pauseButton()->isEnabled());
    EXPECT_TRUE(modes->resumeButton()->isEnabled());
    modes->resumeButton()->click();
    ASSERT_TRUE(waitUntil([&] { return !modes->exportRunning(); }, 120000));
}

TEST_F(TimeLeft, TheAdvancedCandidateSearchShowsTheTimeLeft) {
    ScratchDir scratch;
    const fs::path disk = filledDisk(scratch, 256);
    if (runCommand("mkfs.fat -F 32 " + shellQuote(disk.string()) + " >/dev/null 2>&1").exitCode != 0)
        GTEST_SKIP() << "mkfs.fat is not installed";
    auto* modes = openRawDisk(disk);
    ASSERT_NE(modes, nullptr);
    auto* volumes = openVolumePage(modes);
    ASSERT_NE(volumes, nullptr);
    auto* recovery = openRecoveryPage(volumes, "FAT32");
    ASSERT_NE(recovery, nullptr);
    recovery->advancedRadio()->click();
    UiProgressSink::setClock(&racingClock);
    recovery->nextButton()->click();
    auto* page = visiblePage<app::advanceOptions>();
    ASSERT_NE(page, nullptr);
    page->logic().pause(); // held at its next step
    auto* amount = page->findChild<QLabel*>("progressAmount");
    auto* bar = page->findChild<QProgressBar*>();
    ASSERT_NE(amount, nullptr);
    ASSERT_NE(bar, nullptr);
    const QString middle = amountInTheMiddle(
        bar, amount,
        [&](bool on) {
            if (on)
                page->logic().pause();
            else
                page->logic().resume();
        },
        [&] { return page->logic().searching(); });
    page->logic().resume();
    if (middle.isEmpty()) GTEST_SKIP() << "the search ended before it could be held in the middle";
    EXPECT_TRUE(middle.contains("%, about ")) << middle.toStdString();
    EXPECT_TRUE(middle.endsWith(" left")) << middle.toStdString();
    ASSERT_TRUE(waitUntil([&] { return page->nextButton()->isEnabled(); }, 120000));
}

// A pause in one step of the work (a minute here) is not charged to the next step: its
// estimate comes as soon as that step has moved, not a minute later.
TEST(TimeLeftAfterPause, APauseInOneStepDoesNotHoldBackTheNextStepsEstimate) {
    fakeNow = 0;
    UiProgressSink::setClock(&handClock);
    QProgressBar bar;
    QLabel amount;
    bar.setProperty(UiProgressSink::kAmountLabelProperty, QVariant::fromValue<QObject*>(&amount));
    UiProgressSink sink(&bar);
    sink.setRange(0, 100);
    sink.setPosition(10);
    sink.setPaused(true);
    fakeNow = 60000;
    sink.setPaused(false);
    sink.setPosition(100);
    // The next step.
    sink.setRange(0, 200);
    fakeNow = 64000;
    sink.setPosition(100);
    EXPECT_EQ(amount.text(), "50%, about 4 s left");
    // Paused in this step: its own pause is left out of its pace.
    sink.setPaused(true);
    EXPECT_EQ(amount.text(), "50%, paused");
    fakeNow = 124000;
    sink.setPaused(false);
    sink.setPosition(150);
    EXPECT_EQ(amount.text(), "75%, about 1 s left");
    UiProgressSink::setClock(nullptr);
}

} // namespace
} // namespace vindaru::test
