// The image page without its widgets: what each command does to the controls, what a browse
// records and shows, what Next refuses. The page draws this state and forwards the user's
// actions; the File Information comes from the image readers' own info functions. Every change
// of the path or of the choices checks the file again (ImageCheck), so the File Information,
// the "Size of HDD" and Next always describe the file the path names, read as chosen.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "common/Session.h"
#include "common/Sinks.h"
#include "image/ReaderFactory.h"

namespace vindaru::app {

// imageKind values the later pages create their reader from.
inline constexpr int kImageKindNone = 0;
inline constexpr int kImageKindVhd = 1;
inline constexpr int kImageKindVdi = 2;
inline constexpr int kImageKindVmdk = 3;

struct ImageInfoTexts {
    bool labelsVisible = false; // the ten File Information labels and values
    bool sizeEditVisible = false;
    std::string formatVersion;
    std::string sectorsPerTrack;
    std::string heads;
    std::string cylinders;
    std::string sizeUnit = "MB"; // the label after the size edit; VHD and VDI put the size here
    // What the file is and what to choose, when it does not open as chosen; empty otherwise.
    std::string problem;
};

class ImagePageLogic {
  public:
    // The page start: Dynamic Disk chosen, "SPARSE" selected, no path, Next disabled.
    ImagePageLogic();

    // ---- the controls' states ----
    bool fixedDisk = false;
    bool dynamicDisk = true;
    bool split = false;      // "VmdkSplit"
    bool descriptor = false; // "isDescripter"
    bool splitEnabled = true;
    bool descriptorEnabled = true;
    bool extentTypeEnabled = true;
    bool browseEnabled = false;
    bool pathEnabled = false;
    bool nextEnabled = false;
    std::string extentType = "SPARSE"; // the combo box: "SPARSE" or "FLAT"
    std::string pathText;              // the path edit
    std::string sizeText;              // the "Size of HDD" edit, in MB
    ImageInfoTexts info;

    // ---- what the later pages read ----
    std::string imagePath;
    int imageKind = kImageKindNone;
    bool fileInfoShown = false;

    // ---- commands ----
    void chooseDynamicDisk();
    void chooseFixedDisk();
    void setDescriptor(bool checked);
    void setSplit(bool checked);
    void setExtentType(const std::string& text);

    // The "..." browse answered with `path` (empty: cancelled). A file that does not open as
    // chosen comes back as the message to show.
    std::optional<Message> fileChosen(const std::string& path, Session& session);
    // The path edit typed into: nothing is shown for the new text until it is committed.
    void pathEdited(const std::string& text);
    // The typed path committed (Enter, or focus leaving the box).
    std::optional<Message> pathCommitted(const std::string& path, Session& session);
    // Open VHD image / Open VDI image answered with `path` (possibly empty). A refusal ("not a
    // vhd file") comes back as the message to show.
    std::optional<Message> vhdChosen(const std::string& path, Session& session);
    std::optional<Message> vdiChosen(const std::string& path, Session& session);

    // Next: the message that keeps the user on the page, or nullopt to go on.
    std::optional<Message> nextRefusal() const;

    // How the later pages must read the chosen file: a Fixed Disk is one flat file. nullopt
    // while no image kind has been recorded.
    std::optional<ImageChoices> imageChoices() const;
    bool readAsSplit() const { return !fixedDisk && (split || descriptor); }
    bool readAsDescriptor() const { return !fixedDisk && descriptor; }
    std::string readerExtentType() const { return fixedDisk ? "FLAT" : extentType; }
    // The "Size of HDD" in sectors (MB × 2048); 0 when empty or not a number.
    std::uint64_t customDiskSectors() const;
    // The disk's own size in sectors as the readers see it, 0 while the file does not open.
    std::uint64_t diskSectors() const { return diskSectors_; }
    bool imageOpens() const { return opens_; }

  private:
    std::optional<Message> containerChosen(const std::string& path, Session& session, int kind);
    // Checks pathText with the current choices and shows what the check found.
    void refresh();
    void showVmdkInfo(const std::string& path);
    void showContainerInfo(const std::string& path);
    void clearInfo();
    std::optional<Message> problemMessage() const;

    bool opens_ = false;
    std::uint64_t diskSectors_ = 0;
};

} // namespace vindaru::app
