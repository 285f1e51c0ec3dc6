#include "image/ReaderFactory.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <filesystem>
#include <string_view>

#include "common/ByteLoader.h"
#include "image/FileReadSeekVHD.h"
#include "image/FileReadSeekVdi.h"
#include "image/FileReadSeekVmdk.h"
#include "image/FileReadSeekVmdkSplit.h"
#include "image/ReadOnlyFile.h"
#include "image/VdiLayout.h"
#include "image/VhdLayout.h"

namespace vindaru {

namespace {

constexpr std::uint32_t kVmdkMagic = 0x564D444B; // "KDMV" in file order
// A descriptor file is small text; the first few KiB carry its signature line and createType.
constexpr std::size_t kDescriptorProbe = 4096;

bool looksLikeDescriptor(std::span<const std::uint8_t> head) {
    const std::string_view text(reinterpret_cast<const char*>(head.data()), head.size());
    return text.find("# Disk DescriptorFile") != std::string_view::npos ||
           (text.find("createType=") != std::string_view::npos &&
            text.find("# Extent description") != std::string_view::npos);
}

std::optional<ImageKind> kindByContent(const ReadOnlyFile& file) {
    std::uint8_t head[kDescriptorProbe] = {};
    const std::uint64_t got = file.readZeroFilled(0, head, sizeof head);
    const ByteSpan first(head, got);
    // The signatures in the first sector are checked before the footer at the end, which in
    // any other kind of image is just the disk's last sector and may hold anything.
    if (vhd::hasCookie(first, "conectix")) return ImageKind::Vhd;
    if (tryLoadLe<std::uint32_t>(first, vdi::kSignature) == vdi::kSignatureValue)
        return ImageKind::Vdi;
    if (tryLoadLe<std::uint32_t>(first, 0) == kVmdkMagic) return ImageKind::Vmdk;
    if (file.length() >= vhd::kFooterSize) {
        std::uint8_t tail[vhd::kFooterSize] = {};
        file.readZeroFilled(file.length() - vhd::kFooterSize, tail, sizeof tail);
        if (vhd::hasCookie(tail, "conectix")) return ImageKind::Vhd;
    }
    if (looksLikeDescriptor(first)) return ImageKind::Vmdk;
    return std::nullopt;
}

std::optional<ImageKind> kindByExtension(const std::string& path) {
    std::string ext = std::filesystem::path(path).extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (ext == ".vhd") return ImageKind::Vhd;
    if (ext == ".vdi") return ImageKind::Vdi;
    if (ext == ".vmdk") return ImageKind::Vmdk;
    return std::nullopt;
}

} // namespace

std::unique_ptr<readWriteInterface> createReader(Session& session, const ImageChoices& choices) {
    switch (choices.kind) {
    case ImageKind::Vhd:
        return std::make_unique<FileReadSeekVHD>(session);
    case ImageKind::Vdi:
        return std::make_unique<FileReadSeekVdi>(session);
    case ImageKind::Vmdk:
        break;
    }
    if (choices.split || choices.descriptor) {
        auto reader = std::make_unique<FileReadSeekVmdkSplit>(session);
        if (choices.descriptor)
            reader->descriptorMode = true;
        else
            reader->extentTypeChoice = choices.extentType;
        return reader;
    }
    auto reader = std::make_unique<FileReadSeekVmdk>(session);
    reader->extentTypeChoice = choices.extentType;
    return reader;
}

std::uint64_t sessionDiskSectors(const readWriteInterface& reader, std::uint64_t customSectors) {
    std::uint64_t sectors = reader.declaredSectors();
    if (reader.takesTypedSize() && customSectors != 0) sectors = customSectors;
    return sectors != 0 ? sectors : reader.imageLength / kSectorSize;
}

bool openSessionReader(Session& session, const std::string& path) {
    readWriteInterface* reader = session.sessionReader.get();
    if (reader == nullptr || !reader->open(path)) return false;
    session.diskSectorCount = sessionDiskSectors(*reader, session.customDiskSectors);
    return true;
}

bool openSessionReader(Session& session, const ImageChoices& choices, const std::string& path) {
    session.diskSectorCount = 0;
    session.clearReader();
    session.replaceReader(createReader(session, choices));
    return openSessionReader(session, path);
}

ImageProbe probeImage(const std::string& path) {
    ImageProbe probe;
    ReadOnlyFile file;
    if (!file.open(path)) return probe;
    probe.readable = true;
    probe.length = file.length();
    probe.kind = kindByContent(file);
    return probe;
}

std::optional<ImageKind> detectImageKind(const std::string& path) {
    if (auto kind = probeImage(path).kind) return kind;
    return kindByExtension(path);
}

} // namespace vindaru
