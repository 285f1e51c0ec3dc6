#include "image/FileReadSeekVmdk.h"

#include <algorithm>

#include "common/TextConvert.h"

namespace vindaru {

FileReadSeekVmdk::FileReadSeekVmdk(Session& session) {
    (void)session;
    absent_ = [this](std::uint64_t offset, std::span<std::uint8_t> out, ReadReport* report) {
        return readAbsent(offset, out, report);
    };
}

FileReadSeekVmdk::~FileReadSeekVmdk() = default;

bool FileReadSeekVmdk::open(const std::string& path) {
    disk_ = VmdkDisk{};
    opened_ = false;
    openError_.clear();
    const bool flat = equalsIgnoreCase(extentTypeChoice, "FLAT");
    if (!disk_.open(path, memoryFiles, flat, openError_)) return false;
    applyDescriptor();
    opened_ = true;
    return true;
}

void FileReadSeekVmdk::applyDescriptor() {
    descriptorText = disk_.descriptorText();
    if (descriptorText.empty()) return;
    const VmdkDescriptor d = parseVmdkDescriptor(descriptorText);
    formatVersion = d.formatVersion;
    contentId = d.contentId;
    parentContentId = d.parentContentId;
    createType = d.createType;
    geometryCylinders = d.geometryCylinders;
    geometryHeads = d.geometryHeads;
    geometrySectors = d.geometrySectors;
    extents = d.extents;
}

std::string FileReadSeekVmdk::kindText() const { return "vmdk (" + disk_.kindText() + ")"; }

void FileReadSeekVmdk::describeDamage(std::vector<ByteRange>& out) const {
    const std::size_t first = out.size();
    disk_.describeDamage(out);
    if (!disk_.isDelta() || parent() != nullptr) return;
    disk_.describeAbsent(out);
    std::sort(out.begin() + static_cast<std::ptrdiff_t>(first), out.end(),
              [](const ByteRange& a, const ByteRange& b) { return a.offset < b.offset; });
}

std::optional<ParentLink> FileReadSeekVmdk::parentLink() const {
    if (!disk_.isDelta()) return std::nullopt;
    const VmdkDiskDescriptor& d = disk_.descriptor();
    ParentLink link;
    if (!d.parentFileNameHint.empty()) {
        std::string hint = d.parentFileNameHint;
        std::replace(hint.begin(), hint.end(), '\\', '/');
        link.candidatePaths.push_back(hint);
    }
    if (d.parentContentId != "ffffffff") link.expectedId = d.parentContentId;
    link.formatHint = "vmdk";
    return link;
}

bool FileReadSeekVmdk::readAbsent(std::uint64_t offset, std::span<std::uint8_t> out, ReadReport* report) const {
    return readFromParent(offset, out, report);
}

bool FileReadSeekVmdk::readRange(std::uint64_t offset, std::span<std::uint8_t> out, ReadReport* report) const {
    return disk_.read(offset, out, report, absent_);
}

bool FileReadSeekVmdk::isHole(std::uint64_t offset, std::uint64_t length) const {
    // A delta's unallocated grains are the parent's, not holes.
    return disk_.isHole(offset, length, !disk_.isDelta());
}

std::uint64_t FileReadSeekVmdk::nextData(std::uint64_t offset) const {
    if (!disk_.isDelta()) return disk_.nextData(offset, true);
    // A delta's unallocated grains are its parent's: data may be where either layer has some.
    if (!parent()) return disk_.nextData(offset, false);
    return std::min(disk_.nextData(offset, true), parent()->nextData(offset));
}

std::span<const std::uint8_t> FileReadSeekVmdk::viewAt(std::uint64_t offset, std::uint64_t length) const {
    return disk_.viewAt(offset, length);
}

} // namespace vindaru
