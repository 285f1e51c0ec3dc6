#include "app/ImageCheck.h"

#include <array>
#include <filesystem>
#include <system_error>

#include "common/Session.h"
#include "volume/VolumeSignatures.h"

namespace vindaru::app {

namespace {

namespace fs = std::filesystem;


std::string quoted(const std::string& path) {
    return "\"" + fs::path(path).filename().string() + "\"";
}

bool isSparseMonolithic(const ImageChoices& c) {
    return c.kind == ImageKind::Vmdk && !c.split && !c.descriptor && c.extentType == "SPARSE";
}

// What the file's content says it is, for the message when the choices do not fit it.
std::string contentProblem(const std::string& path, const ImageChoices& c, bool fixedDisk) {
    const std::string name = quoted(path);
    // By content only: the extension says nothing about what the file holds.
    const std::optional<ImageKind> content = probeImage(path).kind;
    const bool vhd = content == ImageKind::Vhd;
    const bool vdi = content == ImageKind::Vdi;
    if (c.kind != ImageKind::Vhd && vhd)
        return name + " is a VHD image: open it with \"Open VHD image...\".";
    if (c.kind != ImageKind::Vdi && vdi)
        return name + " is a VDI image: open it with \"Open VDI image...\".";
    if (c.kind != ImageKind::Vhdx && content == ImageKind::Vhdx)
        return name + " is a VHDX image: open it with \"Open VHDX image...\".";
    if (c.kind != ImageKind::Qcow2 && content == ImageKind::Qcow2)
        return name + " is a QCOW2 image: open it with \"Open QCOW2 image...\".";
    if (c.kind == ImageKind::Vhd) return name + " is not a VHD image.";
    if (c.kind == ImageKind::Vdi) return name + " is not a VDI image.";
    if (c.kind == ImageKind::Vhdx) return name + " is not a VHDX image.";
    if (c.kind == ImageKind::Qcow2) return name + " is not a QCOW2 image.";
    if (c.descriptor && content != ImageKind::Vmdk)
        return name + " is not a VMDK descriptor file: clear \"isDescripter\".";
    std::error_code ec;
    const std::uintmax_t bytes = fs::file_size(path, ec);
    if (!ec && bytes < 512)
        return name + " holds less than one sector (512 bytes): it is no disk image.";
    // The options named below are not offered for a fixed disk.
    if (fixedDisk) return name + " cannot be read as a raw disk.";
    if (isSparseMonolithic(c) && !content)
        return name + " has no VMDK, VHD or VDI header: choose \"Fixed Disk\" to read it as a "
                      "raw disk, or \"FLAT\" if it is a flat extent.";
    return name + " cannot be opened with these choices: check \"VmdkSplit\", the extent type "
                  "and \"isDescripter\" (a split set needs all its extent files beside it).";
}

// A scratch session that opens the disk as the later pages will, saying nothing.
struct ScratchSession {
    explicit ScratchSession(const ChainChoice& chain) { chain.applyTo(session); }
    Session session;
};

} // namespace

void ChainChoice::applyTo(Session& session) const {
    session.chainLayer = layer ? static_cast<std::int64_t>(*layer) : -1;
    session.allowMissingParent = allowMissingParent;
    session.namedParents = namedParents;
}

ImageCheckResult checkImage(const std::string& path, const ImageChoices& choices, bool fixedDisk,
                            const ChainChoice& chain) {
    ImageCheckResult result;
    if (path.empty()) return result;
    const std::string name = quoted(path);
    std::error_code ec;
    const fs::file_status status = fs::status(path, ec);
    if (ec || !fs::exists(status)) {
        result.problem = "The file " + name + " does not exist.";
        return result;
    }
    if (fs::is_directory(status)) {
        result.problem = name + " is a folder: choose the image file inside it.";
        return result;
    }
    if (fs::is_regular_file(status) && fs::file_size(path, ec) == 0 && !ec) {
        result.problem = name + " is empty: it holds no disk.";
        return result;
    }
    // The readers know a file by its content: a sparse choice on a file without any header is
    // refused by the reader itself, a descriptor opens without "isDescripter".
    // The chain is followed as the later pages follow it.
    ScratchSession scratch(chain);
    Session& session = scratch.session;
    bool opened = openSessionReader(session, choices, path, &result.chain);
    if (opened) {
        result.diskSectors = session.diskSectorCount;
        opened = result.diskSectors != 0;
    }
    if (!opened) {
        result.logUnreplayable = session.sessionReader && logCannotBeReplayed(*session.sessionReader);
        if (!result.chain.refusal.empty())
            result.problem = result.chain.refusal + ".";
        else if (std::string why = session.sessionReader ? openProblem(*session.sessionReader) : std::string();
                 !why.empty() && probeImage(path).kind == choices.kind)
            // A file of the kind chosen that its reader refuses (an encrypted QCOW2, ...).
            result.problem = name + " cannot be read: " + why + ".";
        else
            result.problem = contentProblem(path, choices, fixedDisk);
        return result;
    }
    result.opens = true;
    result.kindText = session.sessionReader->kindText();
    // The same line as `vindaru-cli info`: the map, the structural damage, and whether the
    // grains' data was left for a check to inflate.
    const readWriteInterface& reader = *session.sessionReader;
    result.damage = damageSummary(chainDamage(reader), chainStructuralDamage(reader), chainHasUncheckedData(reader));
    return result;
}

bool hasProtectiveMbr(const std::string& path, const ImageChoices& choices, const ChainChoice& chain) {
    ScratchSession scratch(chain);
    if (!openSessionReader(scratch.session, choices, path)) return false;
    std::array<std::uint8_t, kSectorSize> sector{};
    if (!scratch.session.sessionReader->readAt(0, sector)) return false;
    return isProtectiveMbr(sector);
}

} // namespace vindaru::app
