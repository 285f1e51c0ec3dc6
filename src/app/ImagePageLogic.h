// The image page without its widgets: what each command does to the controls, what a browse
// records and shows, what Next refuses. The page draws this state and forwards the user's
// actions; the File Information comes from the image readers' own info functions. Every change
// of the path or of the choices checks the file again (ImageCheck), so the File Information,
// the "Size of HDD" and Next always describe the file the path names, read as chosen.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "app/ImageCheck.h"
#include "common/Session.h"
#include "common/Sinks.h"
#include "image/ImageChain.h"
#include "image/ReaderFactory.h"

namespace vindaru::app {

// imageKind values the later pages create their reader from.
inline constexpr int kImageKindNone = 0;
inline constexpr int kImageKindVhd = 1;
inline constexpr int kImageKindVdi = 2;
inline constexpr int kImageKindVmdk = 3;
inline constexpr int kImageKindVhdx = 4;
inline constexpr int kImageKindQcow2 = 5;

struct ImageInfoTexts {
    bool labelsVisible = false; // the ten File Information labels and values
    bool sizeEditVisible = false;
    std::string formatVersion;
    std::string sectorsPerTrack;
    std::string heads;
    std::string cylinders;
    std::string sizeUnit = "MB"; // the label after the size edit; VHD and VDI put the size here
    // The container's damage in one line ("2 ranges unreadable, 64.0 MB"), as `info` prints it.
    std::string damage;
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
    // How the later pages read a snapshot chain (ChainChoice::applyTo puts it in the session).
    ChainChoice chainChoice;
    // A VHDX whose log cannot be replayed is read without it (the user said so).
    bool readWithoutLog = false;

    // ---- the snapshot chain of the file the path names ----
    // Its layers, base first (one for a file without parents; a missing parent read without is
    // the first, marked missing), and the one read.
    std::vector<ChainLayer> chain;
    std::size_t chainLayerUsed = 0;

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
    // Open VHDX image / Open QCOW2 image: the file is known by its content, whatever its name.
    std::optional<Message> vhdxChosen(const std::string& path, Session& session);
    std::optional<Message> qcow2Chosen(const std::string& path, Session& session);

    // The disk read as of layer `layer` of the chain (numbered from the base).
    void chooseLayer(std::size_t layer);
    // A parent that is not found by itself (or not the one the child expects), as the user names
    // it: tried first, its id still checked. Shown while the chain lacks its parent.
    bool parentMissing() const { return parentMissing_; }
    void parentChosen(const std::string& path);
    // The question to ask, once for the file, while it opens only by the user's choice: a child
    // whose parent is missing or does not match (naming the file and the id expected), or a VHDX
    // whose log cannot be replayed; nullopt otherwise.
    std::optional<Message> pendingQuestion() const;
    // Its answer. Yes reads the child alone, every range it does not hold unreadable, or the VHDX
    // without its log; No keeps the file refused and Next off.
    void answerQuestion(bool yes);

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
    // Checks pathText with the current choices and shows what the check found. A new file or
    // new choices read the chain afresh: the latest layer, the missing-parent question unasked.
    void refresh(bool keepChainChoice = false);
    void showVmdkInfo(const std::string& path);
    void showContainerInfo(const std::string& path);
    void clearInfo();
    std::optional<Message> problemMessage() const;

    bool opens_ = false;
    std::uint64_t diskSectors_ = 0;
    std::string kindText_;
    // What opens only by the user's choice, and whether each was asked about for this file.
    enum class Question { None, MissingParent, UnreplayedLog };
    Question question_ = Question::None;
    std::string questionText_;
    bool parentAnswered_ = false;
    bool parentMissing_ = false;
    bool logAnswered_ = false;
};

} // namespace vindaru::app
