#include "app/ImagePageLogic.h"

#include <charconv>

#include "common/DisplayFormat.h"
#include "image/ImageFileInfo.h"
#include "image/ImagePathRules.h"
#include "image/VmdkDescriptor.h"

namespace vindaru::app {

namespace {
// Values cut from a descriptor line may carry its line end.
std::string trimmed(const std::string& text) {
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) return {};
    return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}
} // namespace

ImagePageLogic::ImagePageLogic() {
    chooseDynamicDisk();
}

void ImagePageLogic::chooseDynamicDisk() {
    dynamicDisk = true;
    fixedDisk = false;
    pathText.clear();
    splitEnabled = descriptorEnabled = extentTypeEnabled = true;
    browseEnabled = pathEnabled = true;
}

void ImagePageLogic::chooseFixedDisk() {
    fixedDisk = true;
    dynamicDisk = split = descriptor = false;
    pathText.clear();
    splitEnabled = descriptorEnabled = extentTypeEnabled = false;
    browseEnabled = pathEnabled = true;
    // The size edit keeps its state: the user may give a flat disk's size.
    info.labelsVisible = false;
}

void ImagePageLogic::setDescriptor(bool checked) {
    descriptor = checked;
    if (checked) {
        split = false;
        splitEnabled = false;
        extentTypeEnabled = false;
    } else {
        extentType = "SPARSE";
        splitEnabled = true;
        extentTypeEnabled = true;
    }
}

void ImagePageLogic::fileChosen(const std::string& path, Session& session) {
    nextEnabled = true;
    if (fixedDisk) {
        if (path.empty()) return;
        imagePath = pathText = path;
        // Recorded so that the later pages read the file as one flat extent; without this a
        // fixed disk could never be opened.
        imageKind = kImageKindVmdk;
        session.imageSourcePage = kImageSourceRecorded;
        return;
    }
    imageKind = kImageKindVmdk;
    if (path.empty()) return;
    imagePath = pathText = path;
    session.imageSourcePage = kImageSourceRecorded;
    showVmdkInfo(path);
}

void ImagePageLogic::showVmdkInfo(const std::string& path) {
    const std::optional<VmdkFileInfo> read = readVmdkFileInfo(path);
    if (!read || !read->fileOpened) {
        // Nothing to show for this file; older values would describe another image.
        info.labelsVisible = info.sizeEditVisible = false;
        fileInfoShown = false;
        sizeText.clear();
        return;
    }
    info.formatVersion = trimmed(read->formatVersion);
    info.sectorsPerTrack = trimmed(read->geometrySectors);
    info.heads = trimmed(read->geometryHeads);
    info.cylinders = trimmed(read->geometryCylinders);
    info.sizeUnit = "MB";
    sizeText = formatText("%llu", static_cast<unsigned long long>(read->sizeMb));
    info.labelsVisible = info.sizeEditVisible = true;
    fileInfoShown = true;
}

std::optional<Message> ImagePageLogic::vhdChosen(const std::string& path, Session& session) {
    return containerChosen(path, session, kImageKindVhd);
}

std::optional<Message> ImagePageLogic::vdiChosen(const std::string& path, Session& session) {
    return containerChosen(path, session, kImageKindVdi);
}

std::optional<Message> ImagePageLogic::containerChosen(const std::string& path, Session& session,
                                                       int kind) {
    const bool vhd = kind == kImageKindVhd;
    imageKind = kind;
    if (path.empty()) return std::nullopt;
    session.imageSourcePage = kImageSourceRecorded;
    imagePath = path;
    if (!endsWithImageExtension(path, vhd ? "vhd" : "vdi"))
        return Message{vhd ? "not a vhd file" : "not a vdi file", true, MessageIcon::Information,
                       MessageButtons::Ok};
    const std::optional<ImageFileInfo> read = vhd ? readVhdFileInfo(path) : readVdiFileInfo(path);
    // The path edit shows the image and Next becomes possible, as after a browse: otherwise a
    // VHD or VDI image could be opened but never used.
    pathText = path;
    nextEnabled = true;
    if (!read) {
        info.labelsVisible = false;
        return std::nullopt;
    }
    info.formatVersion = read->formatVersion;
    info.sectorsPerTrack = read->sectorsPerTrack;
    info.heads = read->heads;
    info.cylinders = read->cylinders;
    info.sizeUnit = read->sizeText;
    info.labelsVisible = true;
    return std::nullopt;
}

std::optional<Message> ImagePageLogic::nextRefusal() const {
    if (pathText.empty())
        return Message{"Please browse vmdk File ", true, MessageIcon::Information,
                       MessageButtons::Ok};
    if (imagePath.empty())
        return Message{"nothing selected...", false, MessageIcon::None, MessageButtons::Ok};
    if (fileInfoShown && sizeText.empty())
        return Message{"Hard disk Size cannot be left blank.", true, MessageIcon::Information,
                       MessageButtons::Ok};
    return std::nullopt;
}

std::optional<ImageChoices> ImagePageLogic::imageChoices() const {
    ImageChoices choices;
    switch (imageKind) {
    case kImageKindVhd:
        choices.kind = ImageKind::Vhd;
        break;
    case kImageKindVdi:
        choices.kind = ImageKind::Vdi;
        break;
    case kImageKindVmdk:
        choices.kind = ImageKind::Vmdk;
        break;
    default:
        return std::nullopt;
    }
    choices.split = readAsSplit();
    choices.descriptor = readAsDescriptor();
    choices.extentType = readerExtentType();
    return choices;
}

std::uint64_t ImagePageLogic::customDiskSectors() const {
    std::uint64_t mb = 0;
    const char* begin = sizeText.data();
    const char* end = begin + sizeText.size();
    while (begin != end && *begin == ' ')
        ++begin;
    auto [ptr, ec] = std::from_chars(begin, end, mb);
    (void)ptr;
    // Beyond this a disk size makes no sense and the product would overflow.
    constexpr std::uint64_t kMaxMb = std::uint64_t{1} << 40;
    if (ec != std::errc() || mb > kMaxMb) return 0;
    return mb * 2048;
}

} // namespace vindaru::app
