// Disk export: writes the whole virtual disk as one flat raw image file, every sector in order
// with holes as zeros. Used by the drive parsing modes page ("Save Image") and by
// `vindaru-cli export`. The engine has no UI: it reports through the sinks it is given and stops
// when the EngineControl says so (checked after every piece).
//
// How a front end uses it:
//   1. target = DiskExport::chooseTarget(folder, imagePath)   (or a path the user typed)
//   2. on a worker thread: DiskExport().run(session, choices, imagePath, target, status,
//      progress, messages, control)
// run() replaces the session's reader with a fresh one built from the image choices (so VHD and
// VDI images are read by their own readers), opens it, checks that the target's file system has
// room for the whole disk, copies it in 5 MiB pieces, and always ends by destroying the session
// reader (diskSectorCount 0, exportRunning false). The image is only read; the target is sparse
// where the disk is all zeros, and always ends exactly as long as the bytes copied. So on a file
// system that keeps holes the room needed is that of the disk's stored data, not of the whole
// disk; on one without holes it is the whole disk.
#pragma once

#include <cstdint>
#include <string>

#include "common/Session.h"
#include "common/Sinks.h"
#include "common/StopControl.h"
#include "image/ByteSource.h"
#include "image/ReaderFactory.h"

namespace vindaru {

struct ExportResult {
    bool completed = false;         // every byte of the disk is in the target
    bool stopped = false;           // the user stopped it; a partial file remains
    std::string path;               // the file written, empty when none was created
    std::uint64_t bytesWritten = 0; // length of the file left at `path`
    std::uint64_t diskBytes = 0;    // size of the whole disk (B)
    // Ranges of the disk that could not be read: zeros in the file. A file with any is complete
    // in length but not the disk's true bytes there.
    ReadReport damage;
};

class DiskExport {
  public:
    static constexpr std::uint64_t kPieceBytes = 5ull << 20;
    static constexpr std::uint64_t kProgressStep = 10ull << 20;

    // The first free name in `folder` for the image: folder + name + ".img", then
    // folder + n + name + ".img" for n = 1, 2, ...; when the image path has no folder part,
    // "Recovered_diskimg.img" and n + "Recovered_diskimg.img" likewise.
    static std::string chooseTarget(const std::string& folder, const std::string& imagePath);

    // What "Save Image" does before the thread starts: diskSectorCount 0, and a new, unopened
    // session reader for the choices in place of the old one.
    static void prepareReader(Session& session, const ImageChoices& choices);

    // prepareReader, then copy.
    ExportResult run(Session& session, const ImageChoices& choices, const std::string& imagePath,
                     const std::string& exportPath, StatusSink& status, ProgressSink& progress,
                     MessageSink& messages, EngineControl& control);

    // The export thread: opens the session reader on the image and copies the disk to
    // exportPath. "Information lost, please click Back button and parse again" when the session
    // has no reader.
    ExportResult copy(Session& session, const std::string& imagePath, const std::string& exportPath,
                      StatusSink& status, ProgressSink& progress, MessageSink& messages,
                      EngineControl& control);

    // The bytes an export of the first `total` bytes of `disk` needs free on its target: all of
    // them when the target's file system cannot keep holes; otherwise only those the export may
    // write, the grains of the disk that are not holes (a count of the map's stored data).
    static std::uint64_t spaceNeeded(const ByteSource& disk, std::uint64_t total, bool targetKeepsHoles);

    // The status line after p of B bytes:
    // "100 MB of 2048 MB or 0.097656 GB of 2.000000 GB Saved".
    static std::string progressText(std::uint64_t copied, std::uint64_t total);
};

} // namespace vindaru
