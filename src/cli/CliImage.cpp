#include "cli/CliImage.h"

#include <algorithm>
#include <cctype>
#include <fcntl.h>
#include <iostream>
#include <unistd.h>

#include "image/ImageChain.h"
#include "image/readWriteInterface.h"

namespace vindaru::cli {

namespace {

// The largest --disk-mb whose sector count still fits the 64-bit session value.
constexpr std::uint64_t kSectorsPerMb = 2048;
constexpr std::uint64_t kMaxDiskMb = UINT64_MAX / kSectorsPerMb;

std::string lowerText(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

std::string upperText(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return text;
}

bool kindFromName(const std::string& name, ImageKind& kind) {
    const std::string lower = lowerText(name);
    if (lower == "vmdk")
        kind = ImageKind::Vmdk;
    else if (lower == "vhd")
        kind = ImageKind::Vhd;
    else if (lower == "vdi")
        kind = ImageKind::Vdi;
    else if (lower == "vhdx")
        kind = ImageKind::Vhdx;
    else if (lower == "qcow2")
        kind = ImageKind::Qcow2;
    else
        return false;
    return true;
}

// A VMDK read with the default SPARSE choice must start with the sparse header; without it the
// reader would read on from wherever its file pointer stands, which is never what a user of the
// command line means. False only when the file can be read and lacks the magic.
bool sparseHeaderPresentOrUnreadable(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return true; // the reader reports the file itself
    unsigned char magic[4] = {};
    const ssize_t n = ::pread(fd, magic, sizeof magic, 0);
    ::close(fd);
    if (n < 0) return true;
    return n == 4 && magic[0] == 'K' && magic[1] == 'D' && magic[2] == 'M' && magic[3] == 'V';
}

bool needsSparseHeader(const ImageChoices& choices) {
    return choices.kind == ImageKind::Vmdk && !choices.split && !choices.descriptor &&
           choices.extentType == "SPARSE";
}

} // namespace

ImageOptions::ImageOptions(ArgParser& parser) : parser_(parser) {
    parser.positional("IMAGE", path_)
        .option("--kind", kind_)
        .flag("--split", split_)
        .flag("--descriptor", descriptor_)
        .option("--extent", extent_)
        .option("--disk-mb", diskMb_)
        .option("--layer", layer_, layerGiven_)
        .flag("--allow-missing-parent", allowMissingParent_)
        .option("--parent", parent_)
        .flag("--ignore-log", ignoreLog_)
        .option("--snapshot", snapshot_);
}

bool ImageOptions::resolve(ImageArgs& out) {
    out = ImageArgs{};
    out.path = path_;
    out.choices.split = split_;
    out.choices.descriptor = descriptor_;
    out.choices.extentType = extent_.empty() ? std::string("SPARSE") : upperText(extent_);
    if (out.choices.extentType != "SPARSE" && out.choices.extentType != "FLAT") {
        parser_.usageError("--extent takes SPARSE or FLAT, not '" + extent_ + "'");
        return false;
    }
    if (split_ && descriptor_) {
        parser_.usageError("--split and --descriptor cannot be used together");
        return false;
    }
    if (diskMb_ > kMaxDiskMb) {
        parser_.usageError("--disk-mb is too large");
        return false;
    }
    out.diskMb = diskMb_;
    if (layerGiven_) {
        if (layer_ >= kMaxChainDepth) {
            parser_.usageError("--layer takes a layer number below " + std::to_string(kMaxChainDepth));
            return false;
        }
        out.layer = layer_;
    }
    out.allowMissingParent = allowMissingParent_;
    out.parentPath = parent_;
    out.choices.ignoreLog = ignoreLog_;
    out.choices.snapshot = snapshot_;
    if (!kind_.empty()) {
        if (!kindFromName(kind_, out.choices.kind)) {
            parser_.usageError("--kind takes vmdk, vhd, vdi, vhdx or qcow2, not '" + kind_ + "'");
            return false;
        }
    } else if (split_ || descriptor_) {
        out.choices.kind = ImageKind::Vmdk; // only VMDK images come as sets or descriptors
    } else if (const ImageProbe probe = probeImage(path_); !probe.foreign.empty()) {
        // Another container's signature: never read as a raw disk.
        out.foreignFormat = probe.foreign;
    } else if (extent_.empty() && probe.readable && !probe.kind) {
        // A raw (dd) image: read one-to-one, as with --extent FLAT.
        out.choices.kind = ImageKind::Vmdk;
        out.choices.extentType = "FLAT";
        out.rawDisk = true;
        out.fileBytes = probe.length;
    } else {
        out.choices.kind = guessImageKind(path_);
    }
    if (out.choices.kind != ImageKind::Vmdk && (split_ || descriptor_)) {
        parser_.usageError("--split and --descriptor apply to VMDK images only");
        return false;
    }
    return true;
}

bool ImageOptions::parse(const std::vector<std::string>& args, ImageArgs& out) {
    return parser_.parse(args) && resolve(out);
}

ImageKind guessImageKind(const std::string& path) {
    // detectImageKind already falls back to the extension; VMDK is the wizard's default.
    return detectImageKind(path).value_or(ImageKind::Vmdk);
}

bool openSessionReader(Session& session, const ImageArgs& image) {
    session.clearReader();
    session.diskSectorCount = 0;
    session.customDiskSectors = image.diskMb * kSectorsPerMb;
    session.chainLayer = image.layer ? static_cast<std::int64_t>(*image.layer) : -1;
    session.allowMissingParent = image.allowMissingParent;
    session.namedParents.clear();
    if (!image.parentPath.empty()) session.namedParents.push_back(image.parentPath);
    if (!image.foreignFormat.empty()) {
        std::cerr << image.path << " is " << image.foreignFormat << "; it is not read as a raw disk\n";
        return false;
    }
    if (image.rawDisk) {
        if (image.fileBytes < kSectorSize) {
            std::cerr << image.path << " is not a disk image: it holds " << image.fileBytes
                      << " bytes, less than one sector, and no VMDK, VHD, VDI, VHDX or QCOW2 signature\n";
            return false;
        }
        std::cerr << image.path
                  << ": no VMDK, VHD, VDI, VHDX or QCOW2 signature, read as a raw disk (as with --extent FLAT)\n";
    }
    // A descriptor (or COWD/SEsparse extent) is known to the VMDK reader by its content.
    if (needsSparseHeader(image.choices) && !sparseHeaderPresentOrUnreadable(image.path) &&
        probeImage(image.path).kind != ImageKind::Vmdk) {
        std::cerr << image.path
                  << " is not a sparse VMDK extent: give --descriptor for a descriptor file or "
                     "--extent FLAT for a flat extent\n";
        return false;
    }
    session.imageSourcePage = kImageSourceRecorded;
    if (!vindaru::openSessionReader(session, image.choices, image.path)) {
        // The VHDX and QCOW2 readers say why (an encrypted image, a log that cannot be
        // replayed, ...).
        if (session.sessionReader) {
            if (const std::string problem = openProblem(*session.sessionReader); !problem.empty())
                std::cerr << image.path << " cannot be read: " << problem
                          << (logCannotBeReplayed(*session.sessionReader) ? " (--ignore-log reads it so)" : "")
                          << "\n";
        }
        session.clearReader();
        session.messages->info("file not opened.. (" + image.path + ")");
        return false;
    }
    if (!session.chainNote.empty()) std::cerr << "vindaru-cli: " << session.chainNote << "\n";
    return true;
}

bool firstSectorReadable(const Session& session, const ImageArgs& image) {
    std::uint8_t sector[kSectorSize] = {};
    ReadReport report;
    if (session.sessionReader->readAt(0, sector, &report)) return true;
    const std::vector<ByteRange> bad = report.unreadableRanges();
    std::cerr << image.path << ": the disk cannot be read: its first sector is unreadable ("
              << damageText(bad.empty() ? Damage::ReadError : bad.front().reason) << ")\n";
    return false;
}

} // namespace vindaru::cli
