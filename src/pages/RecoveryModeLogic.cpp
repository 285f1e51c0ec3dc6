#include "pages/RecoveryModeLogic.h"

#include <cctype>

#include "browser/FileSystemDrivers.h"
#include "common/Session.h"

namespace vindaru {

namespace {

constexpr std::size_t kTypePrefixLength = 3;

} // namespace

RecoveryModeLogic::RecoveryModeLogic(VolumeRecord volume, Session* session)
    : volume_(std::move(volume)), session_(session) {
    std::size_t start = 0;
    const std::string& name = volume_.fileSystemName;
    while (start < name.size() && std::isspace(static_cast<unsigned char>(name[start])))
        ++start;
    typePrefix_ = name.substr(start, kTypePrefixLength);
    chooseMode(Mode::Standard);
}

bool RecoveryModeLogic::offers(Mode mode) const {
    const FileSystemDriver& driver = driverFor(volume_);
    switch (mode) {
    case Mode::Standard:
        return driver.offersStandard;
    case Mode::Advanced:
        return driver.offersAdvanced;
    case Mode::Deep:
        return driver.offersDeep;
    case Mode::None:
        break;
    }
    return false;
}

void RecoveryModeLogic::chooseMode(Mode mode) {
    if (!offers(mode)) return; // its radio button is hidden
    setDriveFormatted(false);
    mode_ = mode;
}

bool RecoveryModeLogic::driveFormattedVisible() const {
    return mode_ == Mode::Advanced && isFatFamily(fileSystemKind(volume_.fileSystemName));
}

void RecoveryModeLogic::setDriveFormatted(bool checked) {
    driveFormatted_ = checked;
    if (session_) session_->driveFormatted = checked;
}

RecoveryModeLogic::NextPage RecoveryModeLogic::next() const {
    switch (mode_) {
    case Mode::Advanced:
        return NextPage::AdvanceOptions;
    case Mode::Standard:
    case Mode::Deep:
        return NextPage::VolumeScan;
    case Mode::None:
        break;
    }
    return NextPage::None;
}

} // namespace vindaru
