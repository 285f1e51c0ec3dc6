#include "cli/CliImage.h"

#include <algorithm>
#include <cctype>
#include <iostream>

#include "image/FileReadSeekVmdk.h"
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
    else
        return false;
    return true;
}

} // namespace

ImageOptions::ImageOptions(ArgParser& parser) : parser_(parser) {
    parser.positional("IMAGE", path_)
        .option("--kind", kind_)
        .flag("--split", split_)
        .flag("--descriptor", descriptor_)
        .option("--extent", extent_)
        .option("--disk-mb", diskMb_);
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
    if (!kind_.empty()) {
        if (!kindFromName(kind_, out.choices.kind)) {
            parser_.usageError("--kind takes vmdk, vhd or vdi, not '" + kind_ + "'");
            return false;
        }
    } else if (split_ || descriptor_) {
        out.choices.kind = ImageKind::Vmdk; // only VMDK images come as sets or descriptors
    } else if (const ImageProbe probe = probeImage(path_);
               extent_.empty() && probe.readable && !probe.kind) {
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
    if (image.rawDisk) {
        if (image.fileBytes < kSectorSize) {
            std::cerr << image.path << " is not a disk image: it holds " << image.fileBytes
                      << " bytes, less than one sector, and no VMDK, VHD or VDI signature\n";
            return false;
        }
        std::cerr << image.path
                  << ": no VMDK, VHD or VDI signature, read as a raw disk (as with --extent FLAT)\n";
    }
    session.imageSourcePage = kImageSourceRecorded;
    if (!vindaru::openSessionReader(session, image.choices, image.path)) {
        // The VMDK readers know why; the message names the file and the reason.
        const auto* vmdk = dynamic_cast<const FileReadSeekVmdk*>(session.sessionReader.get());
        std::string why = vmdk != nullptr ? vmdk->openError() : std::string();
        if (!why.empty() && image.choices.extentType == "SPARSE" && !probeImage(image.path).kind)
            why += ": give --extent FLAT to read it as a flat extent";
        session.clearReader();
        session.messages->info("file not opened..");
        if (!why.empty()) std::cerr << image.path << " " << why << "\n";
        return false;
    }
    return true;
}

} // namespace vindaru::cli
