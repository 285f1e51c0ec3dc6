#include "pages/RecoveryModeLogic.h"

#include <cctype>
#include <limits>

#include "browser/FileSystemDrivers.h"
#include "common/Session.h"

namespace vindaru {

namespace {

constexpr std::size_t kTypePrefixLength = 3;

} // namespace

// The text as the page reads its edit: optional white space and sign, then leading digits;
// nothing readable, or a value not above 0, gives the default.
std::uint64_t candidateLimitFromText(const std::string& text) {
    std::size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i])))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    std::uint64_t value = 0;
    bool digits = false;
    for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
        digits = true;
        const std::uint64_t digit = static_cast<std::uint64_t>(text[i] - '0');
        if (value > (std::numeric_limits<std::uint32_t>::max() - digit) / 10) {
            value = std::numeric_limits<std::uint32_t>::max(); // a page's int cannot hold more
            break;
        }
        value = value * 10 + digit;
    }
    if (!digits || negative || value == 0) return kDefaultCandidateLimit;
    return value;
}

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
