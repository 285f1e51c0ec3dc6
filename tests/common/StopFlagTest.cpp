// A Stop is never lost between the steps of an engine: a step that clears the flag to let the
// next step go on forgets only the stops it has seen.
#include <gtest/gtest.h>

#include <thread>

#include "common/StopControl.h"

using namespace vindaru;

TEST(StopFlag, ClearingForgetsOnlyTheStopsSeen) {
    EngineControl control;
    EXPECT_FALSE(control.shouldStop());
    control.requestStop();
    EXPECT_TRUE(control.shouldStop()) << "the first step sees the stop and ends";
    control.stopRequested.acknowledge(); // the step boundary: go on with what was found
    EXPECT_FALSE(control.shouldStop()) << "the next step runs";

    // A stop pressed after the step's last look and before its clearing stays for the next step.
    control.requestStop();
    control.stopRequested.acknowledge();
    EXPECT_TRUE(control.shouldStop());
    control.stopRequested.acknowledge();
    EXPECT_FALSE(control.shouldStop());

    // Two stops, one seen: clearing leaves none only when the second was seen too.
    control.requestStop();
    EXPECT_TRUE(control.stopRequested.load());
    control.requestStop();
    control.stopRequested.acknowledge();
    EXPECT_TRUE(control.stopRequested.load()) << "the second request came after the look";
}

TEST(StopFlag, ResetStartsANewRunWithoutTheLastRunsStop) {
    EngineControl control;
    control.requestStop();
    control.stopRequested.reset();
    EXPECT_FALSE(control.shouldStop());
    control.requestStop();
    EXPECT_TRUE(control.shouldStop());
}

TEST(StopFlag, AStopEndsAPauseAndIsSeenAcrossThreads) {
    EngineControl control;
    control.pauseGate.pause();
    std::thread stopper([&] { control.requestStop(); });
    EXPECT_TRUE(control.shouldStop()) << "a paused engine wakes up to stop";
    stopper.join();
}
