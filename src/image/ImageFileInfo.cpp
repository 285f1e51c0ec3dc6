#include "image/ImageFileInfo.h"

#include "common/ByteLoader.h"
#include "common/DisplayFormat.h"
#include "image/ReadOnlyFile.h"
#include "image/VdiLayout.h"
#include "image/VhdLayout.h"

namespace vindaru {

namespace {

constexpr std::uint64_t kMiB = 1u << 20;

ImageFileInfo makeInfo(std::uint32_t version, std::uint32_t sectors, std::uint32_t heads,
                       std::uint32_t cylinders, std::uint64_t sizeBytes) {
    ImageFileInfo info;
    info.formatVersion = formatText("%ld", static_cast<long>(version));
    info.sectorsPerTrack = formatText("%d", static_cast<int>(sectors));
    info.heads = formatText("%d", static_cast<int>(heads));
    info.cylinders = formatText("%d", static_cast<int>(cylinders));
    info.sizeMB = sizeBytes / kMiB;
    info.sizeText = formatText("%ld MB", static_cast<long>(info.sizeMB));
    return info;
}

} // namespace

std::optional<ImageFileInfo> readVhdFileInfo(const std::string& path) {
    ReadOnlyFile file;
    if (!file.open(path) || file.length() < vhd::kFooterSize) return std::nullopt;
    const vhd::Footer footer = vhd::readFooter(file);
    const ByteSpan f(footer.bytes);
    return makeInfo(be32(f, vhd::kFooterFormatVersion), u8(f, vhd::kFooterSectorsPerTrack),
                    u8(f, vhd::kFooterHeads), be16(f, vhd::kFooterCylinders),
                    be64(f, vhd::kFooterOriginalSize));
}

std::optional<ImageFileInfo> readVdiFileInfo(const std::string& path) {
    ReadOnlyFile file;
    if (!file.open(path) || file.length() < vdi::kHeaderSize) return std::nullopt;
    std::uint8_t header[vdi::kHeaderSize] = {};
    file.readZeroFilled(0, header, sizeof header);
    const ByteSpan h(header);
    return makeInfo(le32(h, vdi::kVersion), le32(h, vdi::kSectors), le32(h, vdi::kHeads),
                    le32(h, vdi::kCylinders), le64(h, vdi::kDiskSize));
}

} // namespace vindaru
