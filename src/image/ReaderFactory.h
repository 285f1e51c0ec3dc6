// Builds the session's disk reader from what the user chose about the image (its kind, and for a
// VMDK whether it is a split set, a descriptor file, and its extent type), and guesses the kind
// of an image from its content for the command line and the image page.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "common/Session.h"
#include "image/ImageChain.h"
#include "image/readWriteInterface.h"

namespace vindaru {

enum class ImageKind { Vmdk, Vhd, Vdi, Vhdx, Qcow2 };

struct ImageChoices {
    ImageKind kind = ImageKind::Vmdk;
    bool split = false;      // "VmdkSplit"
    bool descriptor = false; // "isDescripter"
    std::string extentType = "SPARSE";
    bool ignoreLog = false; // VHDX: read without a log that cannot be replayed
    std::string snapshot;   // QCOW2: read as of this internal snapshot (id or name)
};

// A fresh, unopened reader for the choices: FileReadSeekVHD, FileReadSeekVdi, FileReadSeekVhdx,
// FileReadSeekQcow2, or for a VMDK a
// FileReadSeekVmdkSplit (split set or descriptor file) or a FileReadSeekVmdk.
std::unique_ptr<readWriteInterface> createReader(Session& session, const ImageChoices& choices);

// Why `reader` could not open its image, where it says (VHDX, QCOW2); empty otherwise.
std::string openProblem(const readWriteInterface& reader);
// True when `reader` is a VHDX that was refused because its log cannot be replayed: it opens
// without the log only by the user's choice (ImageChoices::ignoreLog).
bool logCannotBeReplayed(const readWriteInterface& reader);

// The disk size in sectors the session takes from an opened reader: the size the image declares,
// a typed disk size (`customSectors`, 0 when none) instead where the reader honours one, and the
// image file's length when neither gives one.
std::uint64_t sessionDiskSectors(const readWriteInterface& reader, std::uint64_t customSectors);
// Opens the session reader on `path`, follows its snapshot chain as the session's chainLayer,
// allowMissingParent and namedParents say, and takes its disk size as above. False when there is
// no reader, it cannot open or its chain is refused. `chain`, when given, receives what the chain
// opener found, a refused chain's missing parent included.
bool openSessionReader(Session& session, const std::string& path, ChainReport* chain = nullptr);
// Replaces the session reader with a new one for the choices (the disk size reset to 0) and
// opens it as above.
bool openSessionReader(Session& session, const ImageChoices& choices, const std::string& path,
                       ChainReport* chain = nullptr);

// What a file's own bytes say it is: whether it can be opened, its length, and the kind its
// signature shows (nullopt: no container signature, as in a raw disk), by the checks below.
struct ImageProbe {
    bool readable = false;
    std::uint64_t length = 0;
    std::optional<ImageKind> kind;
    // No kind we read, but the signature of another container, archive or evidence format:
    // what it is and what to do ("a VHDX image, which this version does not read"). Such a
    // file is never read as a raw disk.
    std::string foreign;
};
ImageProbe probeImage(const std::string& path);

// The kind by content first: a VHD footer ("conectix") at the start, the VDI signature
// 0xBEDA107F at byte 64, the VMDK sparse magic "KDMV", the VHDX identifier "vhdxfile", the QCOW
// magic "QFI\xfb", a VHD footer at the end (a fixed VHD), or a VMDK descriptor text; then by the
// extension (.vhd, .vdi, .vmdk, .vhdx, .qcow2); nullopt when none tells.
std::optional<ImageKind> detectImageKind(const std::string& path);

// A fresh, unopened reader for the image `path` holds by its content (a descriptor file read as
// one); `formatHint` ("vhd", "vdi", "vmdk") decides for a file without a signature (a flat
// extent), which with "raw" or no hint at all (a QCOW2 backing file) is read as a raw disk. Null
// for a file of another kind. The chain opener makes parents with it.
std::unique_ptr<readWriteInterface> createReaderByContent(Session& session, const std::string& path,
                                                          const std::string& formatHint = {},
                                                          const MemoryFiles* memory = nullptr);

} // namespace vindaru
