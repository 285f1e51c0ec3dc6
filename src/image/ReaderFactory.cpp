#include "image/ReaderFactory.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <filesystem>
#include <string_view>

#include "common/ByteLoader.h"
#include "image/FileReadSeekQcow2.h"
#include "image/FileReadSeekVHD.h"
#include "image/FileReadSeekVdi.h"
#include "image/FileReadSeekVmdk.h"
#include "image/FileReadSeekVhdx.h"
#include "image/FileReadSeekVmdkSplit.h"
#include "image/ImageChain.h"
#include "image/Qcow2Layout.h"
#include "image/ReadOnlyFile.h"
#include "image/VdiLayout.h"
#include "image/VhdLayout.h"
#include "image/VhdxLayout.h"

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
    if (vhdx::hasFileIdentifier(first)) return ImageKind::Vhdx;
    if (tryLoadBe<std::uint32_t>(first, 0) == qcow2::kMagic) return ImageKind::Qcow2;
    if (file.length() >= vhd::kFooterSize) {
        std::uint8_t tail[vhd::kFooterSize] = {};
        file.readZeroFilled(file.length() - vhd::kFooterSize, tail, sizeof tail);
        if (vhd::hasCookie(tail, "conectix")) return ImageKind::Vhd;
    }
    // A dynamic VHD that lost both copies of its footer still has its dynamic header.
    if (first.size() > vhd::kDefaultHeaderOffset && vhd::hasCookie(first.subspan(vhd::kDefaultHeaderOffset), "cxsparse"))
        return ImageKind::Vhd;
    if (looksLikeDescriptor(first)) return ImageKind::Vmdk;
    return std::nullopt;
}

struct ForeignSignature {
    std::size_t offset;
    std::string_view magic;
    const char* name;
};

// Containers, archives and forensic formats whose bytes are not the disk they hold: read as a
// raw disk they would give junk volumes or nothing, so they are refused by name.
constexpr ForeignSignature kForeignSignatures[] = {
    {0, "vhdxfile", "a VHDX image, which this version does not read"},
    {0, "QFI\xfb", "a QCOW image, which this version does not read"},
    {0, "QED\0", "a QED image, which this version does not read"},
    {0, "COWD", "a COWD sparse extent (an older VMDK form), which this version does not read"},
    {0, "WithoutFreeSpace", "a Parallels image, which this version does not read"},
    {0, "WithouFreSpacExt", "a Parallels image, which this version does not read"},
    {0, "Bochs Virtual HD Image", "a Bochs image, which this version does not read"},
    {0, "EVF\x09\x0d\x0a\xff\x00", "an EWF (E01) evidence file, which this version does not read"},
    {0, "LVF\x09\x0d\x0a\xff\x00", "an EWF (L01) evidence file, which this version does not read"},
    {0, "AFF10\r\n", "an AFF evidence file, which this version does not read"},
    {0, "LUKS\xba\xbe", "a LUKS encrypted volume: open it with its key and read the opened device"},
    {0, "\x1f\x8b", "a gzip-compressed file: decompress it first"},
    {0, "\xfd" "7zXZ\0", "an xz-compressed file: decompress it first"},
    {0, "BZh", "a bzip2-compressed file: decompress it first"},
    {0, "\x28\xb5\x2f\xfd", "a zstd-compressed file: decompress it first"},
    {0, "7z\xbc\xaf\x27\x1c", "a 7-Zip archive: extract the image from it first"},
    {0, "PK\x03\x04", "a ZIP archive: extract the image from it first"},
    {257, "ustar", "a tar archive: extract the image from it first"},
};

std::string foreignByContent(const ReadOnlyFile& file, ByteSpan first) {
    for (const ForeignSignature& sig : kForeignSignatures) {
        if (!fits(first, sig.offset, sig.magic.size())) continue;
        if (std::memcmp(first.data() + sig.offset, sig.magic.data(), sig.magic.size()) != 0) continue;
        return sig.name;
    }
    // A DMG keeps its "koly" trailer in the last 512 bytes.
    if (file.length() >= 512) {
        std::uint8_t tail[4] = {};
        file.readZeroFilled(file.length() - 512, tail, sizeof tail);
        if (std::memcmp(tail, "koly", 4) == 0) return "an Apple disk image (DMG), which this version does not read";
    }
    return {};
}

std::optional<ImageKind> kindByExtension(const std::string& path) {
    std::string ext = std::filesystem::path(path).extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (ext == ".vhd") return ImageKind::Vhd;
    if (ext == ".vdi") return ImageKind::Vdi;
    if (ext == ".vmdk") return ImageKind::Vmdk;
    if (ext == ".vhdx") return ImageKind::Vhdx;
    if (ext == ".qcow2" || ext == ".qcow") return ImageKind::Qcow2;
    return std::nullopt;
}

} // namespace

std::unique_ptr<readWriteInterface> createReader(Session& session, const ImageChoices& choices) {
    switch (choices.kind) {
    case ImageKind::Vhd:
        return std::make_unique<FileReadSeekVHD>(session);
    case ImageKind::Vdi:
        return std::make_unique<FileReadSeekVdi>(session);
    case ImageKind::Vhdx: {
        auto reader = std::make_unique<FileReadSeekVhdx>(session);
        reader->ignoreLog = choices.ignoreLog;
        return reader;
    }
    case ImageKind::Qcow2: {
        auto reader = std::make_unique<FileReadSeekQcow2>(session);
        reader->snapshot = choices.snapshot;
        return reader;
    }
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

std::string openProblem(const readWriteInterface& reader) {
    if (const auto* vhdx = dynamic_cast<const FileReadSeekVhdx*>(&reader)) return vhdx->openProblem();
    if (const auto* qcow2 = dynamic_cast<const FileReadSeekQcow2*>(&reader)) return qcow2->openProblem();
    return {};
}

bool logCannotBeReplayed(const readWriteInterface& reader) {
    const auto* vhdx = dynamic_cast<const FileReadSeekVhdx*>(&reader);
    return vhdx && !vhdx->ignoreLog && vhdx->logReplay().outcome == vhdx::LogReplay::Outcome::Failed;
}

std::uint64_t sessionDiskSectors(const readWriteInterface& reader, std::uint64_t customSectors) {
    std::uint64_t sectors = reader.declaredSectors();
    if (reader.takesTypedSize() && customSectors != 0) sectors = customSectors;
    return sectors != 0 ? sectors : reader.imageLength / kSectorSize;
}

bool openSessionReader(Session& session, const std::string& path, ChainReport* report) {
    session.chainLines.clear();
    session.chainNote.clear();
    if (report) *report = ChainReport{};
    readWriteInterface* reader = session.sessionReader.get();
    if (reader == nullptr || !reader->open(path)) return false;
    ChainOptions options;
    if (session.chainLayer >= 0) options.layer = static_cast<std::size_t>(session.chainLayer);
    options.allowMissingParent = session.allowMissingParent;
    options.namedParents = session.namedParents;
    ImageChain chain(session, std::move(options));
    const bool followed = chain.follow(session.sessionReader, path);
    if (report) *report = chain.report();
    if (!followed) {
        session.messages->info(chain.message());
        return false;
    }
    session.chainLines = chainLines(chain.layers(), chain.layerUsed());
    if (chain.readWithoutParent()) session.chainNote = chain.message();
    session.diskSectorCount = sessionDiskSectors(*session.sessionReader, session.customDiskSectors);
    return true;
}

bool openSessionReader(Session& session, const ImageChoices& choices, const std::string& path,
                       ChainReport* chain) {
    session.diskSectorCount = 0;
    session.clearReader();
    session.replaceReader(createReader(session, choices));
    return openSessionReader(session, path, chain);
}

ImageProbe probeImage(const std::string& path) {
    ImageProbe probe;
    ReadOnlyFile file;
    if (!file.open(path)) return probe;
    probe.readable = true;
    probe.length = file.length();
    probe.kind = kindByContent(file);
    if (!probe.kind) {
        std::uint8_t head[kDescriptorProbe] = {};
        const std::uint64_t got = file.readZeroFilled(0, head, sizeof head);
        probe.foreign = foreignByContent(file, ByteSpan(head, got));
    }
    return probe;
}

std::optional<ImageKind> detectImageKind(const std::string& path) {
    const ImageProbe probe = probeImage(path);
    if (probe.kind) return probe.kind;
    if (!probe.foreign.empty()) return std::nullopt;
    return kindByExtension(path);
}

std::unique_ptr<readWriteInterface> createReaderByContent(Session& session, const std::string& path,
                                                          const std::string& formatHint,
                                                          const MemoryFiles* memory) {
    ReadOnlyFile file;
    if (!file.open(path, memory)) return nullptr;
    std::optional<ImageKind> kind = kindByContent(file);
    if (!kind) {
        std::uint8_t head[kDescriptorProbe] = {};
        const std::uint64_t got = file.readZeroFilled(0, head, sizeof head);
        if (!foreignByContent(file, ByteSpan(head, got)).empty()) return nullptr;
        if (formatHint == "vhd") kind = ImageKind::Vhd;
        else if (formatHint == "vdi") kind = ImageKind::Vdi;
        else if (formatHint == "vmdk") kind = ImageKind::Vmdk;
        else if (formatHint != "raw" && !formatHint.empty()) return nullptr;
        else {
            // A QCOW2 backing file named as raw, or of no format named and no signature: a
            // raw disk, read one-to-one.
            ImageChoices raw;
            raw.kind = ImageKind::Vmdk;
            raw.extentType = "FLAT";
            return createReader(session, raw);
        }
    }
    ImageChoices choices;
    choices.kind = *kind;
    if (*kind == ImageKind::Vmdk) {
        std::uint8_t head[kDescriptorProbe] = {};
        const std::uint64_t got = file.readZeroFilled(0, head, sizeof head);
        choices.descriptor = tryLoadLe<std::uint32_t>(ByteSpan(head, got), 0) != kVmdkMagic &&
                             looksLikeDescriptor(ByteSpan(head, got));
    }
    return createReader(session, choices);
}

} // namespace vindaru
