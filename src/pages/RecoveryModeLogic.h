// The recovery mode page without a window: which of Standard, Advanced and Deep a volume's file
// system offers, the page's state as the user chooses, the number typed for the advanced search,
// the "Is Drive Formated..?" box, and where Next leads. The wizard's page shows what this says.
#pragma once

#include <cstdint>
#include <string>

#include "browser/CandidateSearch.h"
#include "volume/VolumeRecord.h"

namespace vindaru {

struct Session;

inline constexpr const char* kRecoveryModeGroupText = "Select Recovery Mode";
inline constexpr const char* kStandardModeText = "Standard";
inline constexpr const char* kAdvancedModeText = "Advanced";
inline constexpr const char* kDeepModeText = "Deep";
inline constexpr const char* kMaxFileSystemsLabel = "Please Enter Max File Systems to Find :";
inline constexpr const char* kMaxFileSystemsHint = "( By  Default  it's  = 3 )";
inline constexpr const char* kDriveFormattedText = "Is Drive Formated..?";
inline constexpr const char* kChooseModeText = "Chose Any Recovery Mode And Click Next.....";

class RecoveryModeLogic {
  public:
    enum class Mode { None = 0, Standard = 1, Advanced = 2, Deep = 3 };
    enum class NextPage { None, AdvanceOptions, VolumeScan };

    // Page start: the modes the volume offers, and Standard chosen. `session` (may be null)
    // receives driveFormatted.
    RecoveryModeLogic(VolumeRecord volume, Session* session = nullptr);

    const VolumeRecord& volume() const { return volume_; }
    // The first three characters of the type name, after leading white space.
    const std::string& typePrefix() const { return typePrefix_; }
    bool offers(Mode mode) const;

    // A click on a radio button. Every choice clears driveFormatted and the box first.
    void chooseMode(Mode mode);
    Mode mode() const { return mode_; }
    int scanMode() const { return static_cast<int>(mode_); }

    // Advanced shows the number field with its label and hint; the formatted box only for FAT.
    bool advancedInputsVisible() const { return mode_ == Mode::Advanced; }
    bool driveFormattedVisible() const;
    void setDriveFormatted(bool checked);
    bool driveFormatted() const { return driveFormatted_; }

    void setMaxFileSystemsText(std::string text) { maxFileSystemsText_ = std::move(text); }
    const std::string& maxFileSystemsText() const { return maxFileSystemsText_; }
    std::uint64_t candidateLimit() const { return candidateLimitFromText(maxFileSystemsText_); }

    NextPage next() const;

  private:

    VolumeRecord volume_;
    Session* session_;
    std::string typePrefix_;
    Mode mode_ = Mode::None;
    bool driveFormatted_ = false;
    std::string maxFileSystemsText_;
};

} // namespace vindaru
