#include "app/ImagePageLogic.h"

#include <fstream>
#include <string_view>

#include <charconv>
#include <filesystem>

#include "app/ImageCheck.h"
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
// A VHD or VDI version field holds the major version in its high 16 bits: 65537 is "1.1".
std::string versionText(const std::string& field) {
    std::uint64_t value = 0;
    const auto [end, ec] = std::from_chars(field.data(), field.data() + field.size(), value);
    if (ec != std::errc() || end != field.data() + field.size() || value > 0xFFFFFFFFu) return field;
    return formatText("%llu.%llu", static_cast<unsigned long long>(value >> 16),
                      static_cast<unsigned long long>(value & 0xFFFF));
}

// A geometry the header leaves at 0 (a dynamic VDI's) is not known: shown as "-".
std::string geometryText(const std::string& field) {
    return field.empty() || field == "0" ? std::string("-") : field;
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
    refresh();
}

void ImagePageLogic::chooseFixedDisk() {
    fixedDisk = true;
    dynamicDisk = split = descriptor = false;
    pathText.clear();
    splitEnabled = descriptorEnabled = extentTypeEnabled = false;
    browseEnabled = pathEnabled = true;
    // The size edit keeps its state: the user may give a flat disk's size.
    info.labelsVisible = false;
    refresh();
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
    refresh();
}

void ImagePageLogic::setSplit(bool checked) {
    split = checked;
    refresh();
}

void ImagePageLogic::setExtentType(const std::string& text) {
    extentType = text;
    refresh();
}

std::optional<Message> ImagePageLogic::fileChosen(const std::string& path, Session& session) {
    if (path.empty()) return std::nullopt;
    return pathCommitted(path, session);
}

void ImagePageLogic::pathEdited(const std::string& text) {
    pathText = text;
    // What is shown describes the last committed path, not this text.
    opens_ = false;
    nextEnabled = false;
    clearInfo();
}

std::optional<Message> ImagePageLogic::pathCommitted(const std::string& path, Session& session) {
    pathText = path;
    if (!path.empty()) {
        imagePath = path;
        // A VHD or VDI image stays one while its own path is committed again; any other path
        // in the box is the radio buttons' kind. A Fixed Disk is recorded too, so that the
        // later pages read the file as one flat extent.
        const auto contentIs = [&path](ImageKind kind) { return probeImage(path).kind == kind; };
        const bool sameContainer =
            (imageKind == kImageKindVhd && endsWithImageExtension(path, "vhd")) ||
            (imageKind == kImageKindVdi && endsWithImageExtension(path, "vdi")) ||
            (imageKind == kImageKindVhdx && contentIs(ImageKind::Vhdx)) ||
            (imageKind == kImageKindQcow2 && contentIs(ImageKind::Qcow2));
        if (!sameContainer) imageKind = kImageKindVmdk;
        session.imageSourcePage = kImageSourceRecorded;
    }
    refresh();
    return problemMessage();
}

std::optional<Message> ImagePageLogic::problemMessage() const {
    // What the user may choose to read anyway is asked about instead (pendingQuestion).
    if (info.problem.empty() || question_ != Question::None) return std::nullopt;
    return Message{info.problem, true, MessageIcon::Information, MessageButtons::Ok};
}

void ImagePageLogic::clearInfo() {
    info.labelsVisible = info.sizeEditVisible = false;
    info.problem.clear();
    info.sizeUnit = "MB";
    info.damage.clear();
    fileInfoShown = false;
}

namespace {
// A VMDK descriptor is text that names its extents; it is read as it is, with no VmdkSplit.
bool isVmdkDescriptorFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    char head[64] = {};
    in.read(head, sizeof head);
    return std::string_view(head, static_cast<std::size_t>(in.gcount())).find("# Disk DescriptorFile") != std::string_view::npos;
}
} // namespace

void ImagePageLogic::refresh(bool keepChainChoice) {
    opens_ = false;
    diskSectors_ = 0;
    nextEnabled = false;
    kindText_.clear();
    chain.clear();
    chainLayerUsed = 0;
    question_ = Question::None;
    questionText_.clear();
    parentMissing_ = false;
    if (!keepChainChoice) {
        chainChoice = ChainChoice{};
        readWithoutLog = false;
        parentAnswered_ = logAnswered_ = false;
    }
    clearInfo();
    if (pathText.empty()) return;
    ImageChoices choices = imageChoices().value_or(ImageChoices{});
    if (!imageChoices()) {
        choices.split = readAsSplit();
        choices.descriptor = readAsDescriptor();
        choices.extentType = readerExtentType();
    }
    const ImageCheckResult check = checkImage(pathText, choices, fixedDisk, chainChoice);
    parentMissing_ = check.chain.missingParent.has_value();
    if (check.logUnreplayable && !logAnswered_) {
        question_ = Question::UnreplayedLog;
        questionText_ = check.problem + "\n\nRead the disk without its log? What the log holds is "
                                        "then not on the disk read.";
    } else if (check.chain.missingParent && !chainChoice.allowMissingParent && !parentAnswered_) {
        question_ = Question::MissingParent;
        questionText_ = check.chain.refusal +
                        ".\n\nRead the image without it? Every range of the disk it does not hold "
                        "itself is then marked unreadable, never read as zeros.";
    }
    if (!check.opens) {
        info.problem = check.problem;
        return;
    }
    chain = check.chain.layers;
    chainLayerUsed = check.chain.layerUsed;
    kindText_ = check.kindText;
    // A sparse extent without a descriptor of its own is one piece of a split set: read alone
    // it would give a disk of the wrong size and no volumes.
    if (imageKind == kImageKindVmdk && !fixedDisk && !readAsSplit() && !readAsDescriptor() &&
        readerExtentType() == "SPARSE" && !isVmdkDescriptorFile(pathText) && !readVmdkFileInfo(pathText)) {
        info.problem = "\"" + std::filesystem::path(pathText).filename().string() +
                       "\" is one extent of a split VMDK set: tick \"VmdkSplit\" to read it "
                       "with the other extents.";
        return;
    }
    opens_ = true;
    nextEnabled = true;
    diskSectors_ = check.diskSectors;
    sizeText = formatText("%llu", static_cast<unsigned long long>(diskSectors_ / 2048));
    if (imageKind == kImageKindVhd || imageKind == kImageKindVdi || imageKind == kImageKindVhdx ||
        imageKind == kImageKindQcow2)
        showContainerInfo(pathText);
    else
        showVmdkInfo(pathText);
    info.damage = check.damage;
}

void ImagePageLogic::chooseLayer(std::size_t layer) {
    if (chain.empty() || layer == chainLayerUsed || layer >= chain.size() || chain[layer].missing)
        return;
    // The latest layer is the default, as when no layer is given.
    if (layer + 1 == chain.size())
        chainChoice.layer.reset();
    else
        chainChoice.layer = layer;
    refresh(true);
}

void ImagePageLogic::parentChosen(const std::string& path) {
    if (path.empty()) return;
    chainChoice.namedParents = {path};
    chainChoice.allowMissingParent = false;
    chainChoice.layer.reset();
    // A parent that still does not fit is asked about again.
    parentAnswered_ = false;
    refresh(true);
}

std::optional<Message> ImagePageLogic::pendingQuestion() const {
    if (question_ == Question::None) return std::nullopt;
    return Message{questionText_, true, MessageIcon::Question, MessageButtons::YesNo};
}

void ImagePageLogic::answerQuestion(bool yes) {
    if (question_ == Question::UnreplayedLog) {
        logAnswered_ = true;
        readWithoutLog = yes;
    } else if (question_ == Question::MissingParent) {
        parentAnswered_ = true;
        chainChoice.allowMissingParent = yes;
        chainChoice.layer.reset();
    }
    refresh(true);
}

void ImagePageLogic::showVmdkInfo(const std::string& path) {
    // Geometry and version are in a sparse extent's embedded descriptor; other VMDK forms and
    // fixed disks show the size alone.
    const std::optional<VmdkFileInfo> read =
        readAsSplit() || readerExtentType() != "SPARSE" ? std::nullopt : readVmdkFileInfo(path);
    const bool known = read && read->fileOpened;
    info.formatVersion = known ? trimmed(read->formatVersion) : "-";
    info.sectorsPerTrack = known ? trimmed(read->geometrySectors) : "-";
    info.heads = known ? trimmed(read->geometryHeads) : "-";
    info.cylinders = known ? trimmed(read->geometryCylinders) : "-";
    info.sizeUnit = "MB";
    info.labelsVisible = info.sizeEditVisible = true;
    fileInfoShown = true;
}

void ImagePageLogic::showContainerInfo(const std::string& path) {
    if (imageKind == kImageKindVhdx || imageKind == kImageKindQcow2) {
        // No geometry in these headers: the version is what the reader says it opened.
        info.formatVersion = kindText_.empty() ? std::string("-") : kindText_;
        info.sectorsPerTrack = info.heads = info.cylinders = "-";
        info.sizeUnit = "MB";
        info.labelsVisible = info.sizeEditVisible = true;
        return;
    }
    const std::optional<ImageFileInfo> read =
        imageKind == kImageKindVhd ? readVhdFileInfo(path) : readVdiFileInfo(path);
    if (!read) return;
    info.formatVersion = versionText(read->formatVersion);
    info.sectorsPerTrack = geometryText(read->sectorsPerTrack);
    info.heads = geometryText(read->heads);
    info.cylinders = geometryText(read->cylinders);
    // The size is in the box beside the unit; the unit alone follows it.
    info.sizeUnit = "MB";
    info.labelsVisible = info.sizeEditVisible = true;
}

std::optional<Message> ImagePageLogic::vhdChosen(const std::string& path, Session& session) {
    return containerChosen(path, session, kImageKindVhd);
}

std::optional<Message> ImagePageLogic::vdiChosen(const std::string& path, Session& session) {
    return containerChosen(path, session, kImageKindVdi);
}

std::optional<Message> ImagePageLogic::vhdxChosen(const std::string& path, Session& session) {
    return containerChosen(path, session, kImageKindVhdx);
}

std::optional<Message> ImagePageLogic::qcow2Chosen(const std::string& path, Session& session) {
    return containerChosen(path, session, kImageKindQcow2);
}

std::optional<Message> ImagePageLogic::containerChosen(const std::string& path, Session& session,
                                                       int kind) {
    const bool vhd = kind == kImageKindVhd;
    // VHD and VDI are taken by their extension; VHDX and QCOW2 by their content, which the check
    // reads: a file of another kind is told what it is.
    const bool byExtension = kind == kImageKindVhd || kind == kImageKindVdi;
    imageKind = kind;
    if (path.empty()) return std::nullopt;
    session.imageSourcePage = kImageSourceRecorded;
    imagePath = path;
    if (byExtension && !endsWithImageExtension(path, vhd ? "vhd" : "vdi")) {
        // Nothing shown may describe the file refused, nor the one chosen before it.
        pathText.clear();
        refresh();
        return Message{vhd ? "not a vhd file" : "not a vdi file", true, MessageIcon::Information,
                       MessageButtons::Ok};
    }
    // The path edit shows the image and Next becomes possible, as after a browse: otherwise a
    // VHD or VDI image could be opened but never used.
    pathText = path;
    refresh();
    return problemMessage();
}

std::optional<Message> ImagePageLogic::nextRefusal() const {
    if (pathText.empty())
        return Message{"Please browse vmdk File ", true, MessageIcon::Information,
                       MessageButtons::Ok};
    if (imagePath.empty())
        return Message{"nothing selected...", false, MessageIcon::None, MessageButtons::Ok};
    if (!opens_ && !info.problem.empty())
        return Message{info.problem, true, MessageIcon::Information, MessageButtons::Ok};
    if (fileInfoShown && sizeText.empty())
        return Message{"Hard disk Size cannot be left blank.", true, MessageIcon::Information,
                       MessageButtons::Ok};
    return std::nullopt;
}

std::optional<ImageChoices> ImagePageLogic::imageChoices() const {
    // imageKind 1 to 5, in order.
    static constexpr ImageKind kKinds[] = {ImageKind::Vhd, ImageKind::Vdi, ImageKind::Vmdk,
                                           ImageKind::Vhdx, ImageKind::Qcow2};
    if (imageKind < kImageKindVhd || imageKind > kImageKindQcow2) return std::nullopt;
    ImageChoices choices;
    choices.kind = kKinds[imageKind - kImageKindVhd];
    choices.split = readAsSplit();
    choices.descriptor = readAsDescriptor();
    choices.extentType = readerExtentType();
    choices.ignoreLog = readWithoutLog;
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
