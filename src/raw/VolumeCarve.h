// Carving one volume by signatures: the signature settings loaded into a carving engine (myJpg),
// the volume's bytes as the disk holds them, the carve over the whole volume or, with a used-space
// function, only where no live file lies, and the saving of finds. The raw recovery page
// (pages/RawRecoveryLogic) and `vindaru-cli carve` both run it. The engine is kept from one
// prepare() to the next, so that a later carve adds to what earlier ones found, until the default
// settings are loaded again (a fresh engine).
//
// Threads: carve() on one worker; the control (engine()->control()) from any thread; the rest on
// the caller's thread while no carve runs.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/CheckTree.h"
#include "common/Session.h"
#include "common/Sinks.h"
#include "common/UsedRanges.h"
#include "raw/myJpg.h"
#include "volume/VolumeBytes.h"
#include "volume/VolumeRecord.h"

namespace vindaru {

// The status text every carve ends with, and every prepare that does not lead to one.
inline constexpr const char* kCarveProcessingDone = "Processing done";

struct CarveSinks {
    StatusSink& status;
    ProgressSink& progress;
    MessageSink& messages;
};

class VolumeCarve {
public:
    // The finds go into `tree`, under a root item per carve.
    VolumeCarve(Session& session, VolumeRecord volume, CheckTree& tree, CarveSinks sinks);

    // The default settings at `path` into a fresh engine (a missing file says nothing).
    void loadDefaultSignatures(const std::string& path);
    // A settings file the user chose, added to the current engine; false after the message.
    bool loadSignatureFile(const std::string& path);

    // Makes a fresh session reader for the image when the image page recorded one (set by the
    // page; the CLI keeps the reader it opened). False when no reader could be made.
    std::function<bool(Session&)> reopenReader;

    enum class Prepared { Ready, ZeroSize, NoReader };
    // Checks the volume's size, makes the reader ready and hands the engine the volume's bytes.
    // After anything but Ready the status is "Processing done".
    Prepared prepare();

    // Free space only: when set, the carve first asks it which ranges of the volume live files
    // use (the browser's usedSpaceOf) and looks for starts only outside them; empty: the whole
    // volume.
    std::function<UsedSpace(const ByteSource& disk, const VolumeRecord& volume)> usedSpace;

    // The carving, then "Processing done". Anything but Carved means nothing was carved: the
    // free space could not be told (the user is told why) or the engine could not run.
    enum class Carve { Carved, FreeSpaceUnknown, EngineFailed };
    Carve carve();
    // Called in carve() as soon as its outcome is known, before its message and closing status.
    std::function<void(Carve)> onCarveEnd;

    struct Find {
        std::shared_ptr<myJpg> engine;
        myJpg::FoundFile find;
    };
    // What saving `finds` writes, told before it starts.
    static std::uint64_t bytesOf(const std::vector<Find>& finds);

    struct SaveResult {
        bool folderOpened = false;
        std::vector<std::string> names; // per find, in order; empty when it was not written
        std::size_t failed = 0;
        std::size_t written() const { return names.size() - failed; }
    };
    // Writes `finds` into `folder`, each under a name of its own (the engines must be idle).
    SaveResult save(const std::filesystem::path& folder, const std::vector<Find>& finds) const;

    std::shared_ptr<myJpg> engine() const { return engine_; }
    const VolumeRecord& volume() const { return volume_; }
    // The bytes the carve covers: the volume's sectors, as many as the disk holds.
    std::uint64_t volumeBytes() const;

private:
    Session& session_;
    VolumeRecord volume_;
    // The volume's bytes the engine carves, made when the carve is prepared.
    std::optional<VolumeSlice> slice_;
    CheckTree& tree_;
    CarveSinks sinks_;
    std::shared_ptr<myJpg> engine_;
};

} // namespace vindaru
