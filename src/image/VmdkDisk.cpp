#include "image/VmdkDisk.h"

#include <algorithm>
#include <array>

#include "common/ByteLoader.h"
#include "image/VmdkCowdExtent.h"
#include "image/VmdkPlainExtent.h"
#include "image/VmdkSeSparseExtent.h"
#include "image/VmdkSparseExtent.h"
#include "image/VmdkSparseHeader.h"

namespace vindaru {

namespace {

constexpr std::uint64_t kSector = 512;
constexpr std::uint32_t kCowdMagic = 0x44574F43;          // "COWD"
constexpr std::uint64_t kSeSparseMagic = 0x00000000CAFEBABEull;
// A descriptor file is a few KiB of text; anything larger is not taken for one.
constexpr std::uint64_t kMaxDescriptorFile = 1 << 20;
constexpr std::size_t kHeadBytes = 4096;

std::string folderOf(const std::string& path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::uint64_t sectorsToBytes(std::uint64_t sectors) {
    std::uint64_t bytes = 0;
    return checkedMul(sectors, kSector, bytes) ? bytes : UINT64_MAX / kSector * kSector;
}

} // namespace

std::string vmdkExtentPath(const std::string& folder, const std::string& name) {
    std::string n = name;
    std::replace(n.begin(), n.end(), '\\', '/');
    if (!n.empty() && n.front() == '/') return n;
    return folder + n;
}

VmdkDisk::FileKind VmdkDisk::kindOf(std::span<const std::uint8_t> head) {
    if (le32(head, 0) == kVmdkSparseMagic) return FileKind::Sparse;
    if (le32(head, 0) == kCowdMagic) return FileKind::Cowd;
    if (le64(head, 0) == kSeSparseMagic) return FileKind::SeSparse;
    const std::string_view text(reinterpret_cast<const char*>(head.data()), head.size());
    if (looksLikeVmdkDescriptor(text)) return FileKind::Descriptor;
    return FileKind::Other;
}

void VmdkDisk::add(std::unique_ptr<VmdkExtent> extent, std::uint64_t length) {
    if (starts_.empty()) starts_.push_back(0);
    const std::uint64_t end = saturatingAdd(starts_.back(), length);
    extents_.push_back(std::move(extent));
    slots_.push_back(end - starts_.back());
    starts_.push_back(end);
}

void VmdkDisk::appendMissing(const std::string& name, std::uint64_t sectors) {
    missing_.push_back(name);
    add(VmdkPlainExtent::missing(sectorsToBytes(sectors), name), sectorsToBytes(sectors));
}

bool VmdkDisk::open(const std::string& path, const MemoryFiles* memory, bool flatWithoutHeader, std::string& error) {
    path_ = path;
    ReadOnlyFile file;
    if (!file.open(path, memory)) {
        error = "cannot be opened";
        return false;
    }
    std::array<std::uint8_t, kHeadBytes> head{};
    const std::uint64_t got = file.readZeroFilled(0, head.data(), head.size());
    const FileKind kind = kindOf(std::span(head).first(static_cast<std::size_t>(got)));
    if (kind == FileKind::Descriptor) {
        if (file.length() > kMaxDescriptorFile) {
            error = "is too large for a descriptor file";
            return false;
        }
        std::string text(static_cast<std::size_t>(file.length()), '\0');
        const std::int64_t n = file.readAt(0, {reinterpret_cast<std::uint8_t*>(text.data()), text.size()});
        if (n < 0) {
            error = "cannot be read";
            return false;
        }
        text.resize(static_cast<std::size_t>(n));
        descriptorText_ = text.substr(0, text.find('\0'));
        descriptor_ = parseVmdkDiskDescriptor(descriptorText_);
        return openDescriptor(folderOf(path), memory, error);
    }
    if (kind == FileKind::Sparse) {
        const VmdkSparseHeader h = VmdkSparseHeader::decode(std::span(head).first(512));
        if (const auto area = h.descriptorArea()) descriptorText_ = readEmbeddedDescriptor(file, *area);
        descriptor_ = parseVmdkDiskDescriptor(descriptorText_);
        auto extent = VmdkSparseExtent::open(std::move(file), h, error);
        if (!extent) return false;
        headerSectors_ = h.capacity;
        const std::uint64_t length = extent->length();
        add(std::move(extent), length);
        return true;
    }
    if (kind == FileKind::Cowd || kind == FileKind::SeSparse) {
        std::unique_ptr<VmdkExtent> extent;
        if (kind == FileKind::Cowd) extent = VmdkCowdExtent::open(std::move(file), 0, error);
        else extent = VmdkSeSparseExtent::open(std::move(file), 0, error);
        if (!extent) return false;
        const std::uint64_t length = extent->length();
        add(std::move(extent), length);
        return true;
    }
    if (!flatWithoutHeader) {
        error = "has no VMDK header and is no descriptor file";
        return false;
    }
    const std::uint64_t length = file.length();
    add(VmdkPlainExtent::flat(std::move(file), length, 0), length);
    return true;
}

bool VmdkDisk::appendFile(const std::string& path, const MemoryFiles* memory, bool flatWithoutHeader,
                          std::string& error) {
    ReadOnlyFile file;
    if (!file.open(path, memory)) {
        error = "cannot be opened";
        return false;
    }
    std::array<std::uint8_t, 512> head{};
    file.readZeroFilled(0, head.data(), head.size());
    const VmdkSparseHeader h = VmdkSparseHeader::decode(head);
    if (h.hasMagic) {
        auto extent = VmdkSparseExtent::open(std::move(file), h, error);
        if (!extent) return false;
        const std::uint64_t length = extent->length();
        add(std::move(extent), length);
        return true;
    }
    if (!flatWithoutHeader) {
        error = "has no sparse extent header";
        return false;
    }
    const std::uint64_t length = file.length();
    add(VmdkPlainExtent::flat(std::move(file), length, 0), length);
    return true;
}

std::unique_ptr<VmdkExtent> VmdkDisk::extentFor(const VmdkDiskExtentLine& line, const std::string& folder,
                                                const MemoryFiles* memory) {
    const std::uint64_t length = sectorsToBytes(line.sectors);
    if (line.type == "ZERO") return VmdkPlainExtent::zero(length);
    const std::string path = vmdkExtentPath(folder, line.file);
    ReadOnlyFile file;
    if (line.file.empty() || !file.open(path, memory)) {
        missing_.push_back(line.file);
        return VmdkPlainExtent::missing(length, line.file);
    }
    std::string error;
    std::unique_ptr<VmdkExtent> extent;
    if (line.type == "FLAT" || line.type == "VMFS" || line.type == "VMFSRAW" || line.type == "VMFSRDM") {
        std::uint64_t offset = 0;
        if (!checkedMul(line.offsetSectors, kSector, offset))
            return VmdkPlainExtent::unreadable(length, line.file, Damage::InvalidMapEntry, "offset out of range");
        return VmdkPlainExtent::flat(std::move(file), length, offset);
    }
    std::array<std::uint8_t, 512> head{};
    file.readZeroFilled(0, head.data(), head.size());
    if (line.type == "SPARSE") {
        const VmdkSparseHeader h = VmdkSparseHeader::decode(head);
        if (h.hasMagic) extent = VmdkSparseExtent::open(std::move(file), h, error);
        else error = "no sparse extent header";
    } else if (line.type == "VMFSSPARSE") {
        extent = VmdkCowdExtent::open(std::move(file), line.sectors, error);
    } else if (line.type == "SESPARSE") {
        extent = VmdkSeSparseExtent::open(std::move(file), line.sectors, error);
    } else {
        return VmdkPlainExtent::unreadable(length, line.file, Damage::Unsupported, "extent type " + line.type + " is not read");
    }
    if (!extent) return VmdkPlainExtent::unreadable(length, line.file, Damage::DamagedTable, error);
    return extent;
}

bool VmdkDisk::openDescriptor(const std::string& folder, const MemoryFiles* memory, std::string& error) {
    if (descriptor_.extents.empty()) {
        error = "is a descriptor without extent lines";
        return false;
    }
    if (descriptor_.extentsCut)
        notes_.push_back("Only the first " + std::to_string(kVmdkMaxExtentLines) + " extent lines are read.");
    for (const VmdkDiskExtentLine& line : descriptor_.extents) {
        auto extent = extentFor(line, folder, memory);
        add(std::move(extent), sectorsToBytes(line.sectors));
    }
    return true;
}

bool VmdkDisk::read(std::uint64_t offset, std::span<std::uint8_t> out, ReadReport* report,
                    const VmdkExtent::AbsentFill& absent) const {
    bool ok = true;
    std::size_t pos = 0;
    auto it = std::upper_bound(starts_.begin(), starts_.end(), offset);
    std::size_t index = it == starts_.begin() ? 0 : static_cast<std::size_t>(it - starts_.begin() - 1);
    while (pos < out.size() && index < extents_.size()) {
        const std::uint64_t at = offset + pos;
        const std::uint64_t start = starts_[index];
        const std::uint64_t inExtent = at - start;
        const std::uint64_t slot = slots_[index];
        if (inExtent >= slot) {
            ++index;
            continue;
        }
        const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(slot - inExtent, out.size() - pos));
        const VmdkExtent& e = *extents_[index];
        // A line longer than its extent's own capacity: the part the extent does not map is a hole.
        const std::uint64_t mapped = inExtent < e.length() ? std::min<std::uint64_t>(n, e.length() - inExtent) : 0;
        if (mapped != 0)
            ok = e.read(inExtent, out.subspan(pos, static_cast<std::size_t>(mapped)), start, report, absent) && ok;
        if (mapped < n) {
            std::fill_n(out.begin() + static_cast<std::ptrdiff_t>(pos + mapped), n - mapped, std::uint8_t{0});
            if (report) report->addHole(at + mapped, n - mapped);
        }
        pos += n;
        ++index;
    }
    if (pos < out.size()) {
        // Past the last extent (a caller reading beyond size()).
        std::fill(out.begin() + static_cast<std::ptrdiff_t>(pos), out.end(), std::uint8_t{0});
        if (report) report->addUnreadable(offset + pos, out.size() - pos, Damage::PastEndOfDisk);
        ok = false;
    }
    return ok;
}

bool VmdkDisk::isHole(std::uint64_t offset, std::uint64_t length, bool absentIsHole) const {
    if (length == 0 || offset >= size() || length > size() - offset) return false;
    auto it = std::upper_bound(starts_.begin(), starts_.end(), offset);
    std::size_t index = static_cast<std::size_t>(it - starts_.begin() - 1);
    std::uint64_t at = offset;
    const std::uint64_t end = offset + length;
    while (at < end && index < extents_.size()) {
        const std::uint64_t inExtent = at - starts_[index];
        const std::uint64_t n = std::min(slots_[index] - inExtent, end - at);
        const VmdkExtent& e = *extents_[index];
        const std::uint64_t mapped = inExtent < e.length() ? std::min(n, e.length() - inExtent) : 0;
        if (mapped != 0 && !e.isHole(inExtent, mapped, absentIsHole)) return false;
        at += n;
        ++index;
    }
    return true;
}

std::uint64_t VmdkDisk::nextData(std::uint64_t offset, bool absentIsHole) const {
    if (offset >= size()) return std::max(offset, size());
    auto it = std::upper_bound(starts_.begin(), starts_.end(), offset);
    for (auto index = static_cast<std::size_t>(it - starts_.begin() - 1); index < extents_.size(); ++index) {
        const std::uint64_t start = starts_[index];
        const std::uint64_t from = std::max(offset, start) - start;
        const VmdkExtent& e = *extents_[index];
        // Past the extent's own capacity, the rest of its line is a hole.
        if (from < e.length() && from < slots_[index]) {
            const std::uint64_t next = e.nextData(from, absentIsHole);
            if (next < std::min(e.length(), slots_[index])) return start + next;
        }
    }
    return size();
}

std::span<const std::uint8_t> VmdkDisk::viewAt(std::uint64_t offset, std::uint64_t length) const {
    if (length == 0 || offset >= size() || length > size() - offset) return {};
    auto it = std::upper_bound(starts_.begin(), starts_.end(), offset);
    const auto index = static_cast<std::size_t>(it - starts_.begin() - 1);
    const std::uint64_t inExtent = offset - starts_[index];
    if (length > extents_[index]->length() || inExtent > extents_[index]->length() - length) return {};
    return extents_[index]->viewAt(inExtent, length);
}

void VmdkDisk::describeDamage(std::vector<ByteRange>& out) const {
    for (std::size_t i = 0; i < extents_.size(); ++i) extents_[i]->describeDamage(starts_[i], out);
}

void VmdkDisk::describeDataDamage(std::vector<ByteRange>& out) const {
    for (std::size_t i = 0; i < extents_.size(); ++i) extents_[i]->describeDataDamage(starts_[i], out);
}

void VmdkDisk::describeAbsent(std::vector<ByteRange>& out) const {
    for (std::size_t i = 0; i < extents_.size(); ++i) extents_[i]->describeAbsent(starts_[i], out);
}

std::vector<std::string> VmdkDisk::structureLines() const {
    std::vector<std::string> lines;
    if (!descriptor_.createType.empty()) lines.push_back("Create type: " + descriptor_.createType);
    if (!descriptor_.contentId.empty()) lines.push_back("CID: " + descriptor_.contentId);
    if (descriptor_.hasParent())
        lines.push_back("Parent: \"" + descriptor_.parentFileNameHint + "\", CID " + descriptor_.parentContentId);
    lines.insert(lines.end(), notes_.begin(), notes_.end());
    for (std::size_t i = 0; i < extents_.size(); ++i) {
        std::vector<std::string> own;
        extents_[i]->structureLines(own);
        const std::string prefix = extents_.size() > 1 ? "Extent " + std::to_string(i + 1) + " at byte " +
                                                             std::to_string(starts_[i]) + ": " : std::string();
        for (auto& l : own) lines.push_back(prefix + l);
    }
    return lines;
}

std::vector<std::string> VmdkDisk::structuralDamage() const {
    std::vector<std::string> phrases;
    for (std::size_t i = 0; i < extents_.size(); ++i) {
        std::vector<std::string> own;
        extents_[i]->structuralDamage(own);
        const std::string prefix = extents_.size() > 1 ? "extent " + std::to_string(i + 1) + ": " : std::string();
        for (auto& p : own) phrases.push_back(prefix + p);
    }
    return phrases;
}

bool VmdkDisk::hasUncheckedData() const {
    return std::any_of(extents_.begin(), extents_.end(), [](const auto& e) { return e->hasUncheckedData(); });
}

std::string VmdkDisk::kindText() const {
    if (!descriptor_.createType.empty()) return descriptor_.createType;
    if (extents_.size() == 1) return extents_.front()->kindText();
    return "split";
}

bool VmdkDisk::hasGrainMap() const {
    return std::any_of(extents_.begin(), extents_.end(), [](const auto& e) { return e->hasGrainMap(); });
}

} // namespace vindaru
