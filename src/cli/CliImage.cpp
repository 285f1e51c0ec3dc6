#include "cli/CliImage.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <iostream>

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

ImageKind kindFromExtension(const std::string& path) {
    ImageKind kind = ImageKind::Vmdk;
    std::string extension = std::filesystem::path(path).extension().string();
    if (!extension.empty()) extension.erase(0, 1);
    kindFromName(extension, kind);
    return kind;
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
    out.choices.extentType = upperText(extent_);
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
    } else {
        out.choices.kind = guessImageKind(path_);
    }
    if (out.choices.kind != ImageKind::Vmdk && (split_ || descriptor_)) {
        parser_.usageError("--split and --descriptor apply to VMDK images only");
        return false;
    }
    return true;
}

ImageKind guessImageKind(const std::string& path) {
#ifndef VINDARU_CLI_NO_READER_FACTORY
    if (auto detected = detectImageKind(path)) return *detected;
#endif
    return kindFromExtension(path);
}

bool openSessionReader(Session& session, const ImageArgs& image) {
    session.clearReader();
    session.diskSectorCount = 0;
    session.customDiskSectors = image.diskMb * kSectorsPerMb;
#ifdef VINDARU_CLI_NO_READER_FACTORY
    (void)image;
    session.messages->info("file not opened..");
    return false;
#else
    session.replaceReader(createReader(session, image.choices));
    session.imageSourcePage = kImageSourceRecorded;
    if (!session.sessionReader || !session.sessionReader->open(image.path)) {
        session.clearReader();
        session.messages->info("file not opened..");
        return false;
    }
    if (session.diskSectorCount == 0)
        session.diskSectorCount = session.sessionReader->imageLength / kSectorSize;
    return true;
#endif
}

} // namespace vindaru::cli
