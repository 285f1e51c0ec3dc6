#include "pages/VolumeScanLogic.h"

namespace vindaru {

namespace {

constexpr const char* kPausePressed = "Pause button pressed";
constexpr const char* kResumePressed = "Resume button pressed";
constexpr const char* kStopPressed = "stop button pressed.Please wait for the process to be stopped.";
constexpr const char* kAllStopped = "All thread Stopped";

} // namespace

VolumeScanLogic::VolumeScanLogic(const ByteSource* reader, VolumeRecord volume, CheckTree& tree,
                                 BrowserSinks sinks, int scanMode, std::string rootItemName)
    : status_(sinks.status),
      session_(reader, std::move(volume), tree, sinks, scanMode, std::move(rootItemName)) {
    session_.afterPlaceholders = [this] {
        if (afterPlaceholders) afterPlaceholders();
    };
}

void VolumeScanLogic::pause() {
    if (auto* c = control()) c->pauseGate.pause();
    status_.setText(kPausePressed);
}

void VolumeScanLogic::resume() {
    if (auto* c = control()) c->pauseGate.resume();
    status_.setText(kResumePressed);
}

void VolumeScanLogic::requestStop() {
    if (session_.requestStop()) status_.setText(kStopPressed);
}

void VolumeScanLogic::stopAll() {
    if (session_.requestStop()) status_.setText(kAllStopped);
}

} // namespace vindaru
