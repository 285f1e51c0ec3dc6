#include "image/VmdkPlainExtent.h"

#include <algorithm>

namespace vindaru {

std::unique_ptr<VmdkPlainExtent> VmdkPlainExtent::flat(ReadOnlyFile file, std::uint64_t length,
                                                       std::uint64_t fileOffset) {
    std::unique_ptr<VmdkPlainExtent> e(new VmdkPlainExtent(Kind::Flat, length));
    e->file_ = std::move(file);
    e->fileOffset_ = fileOffset;
    return e;
}

std::unique_ptr<VmdkPlainExtent> VmdkPlainExtent::zero(std::uint64_t length) {
    return std::unique_ptr<VmdkPlainExtent>(new VmdkPlainExtent(Kind::Zero, length));
}

std::unique_ptr<VmdkPlainExtent> VmdkPlainExtent::missing(std::uint64_t length, std::string name) {
    std::unique_ptr<VmdkPlainExtent> e(new VmdkPlainExtent(Kind::Missing, length));
    e->name_ = std::move(name);
    return e;
}

std::uint64_t VmdkPlainExtent::inFile() const {
    const std::uint64_t size = file_.length();
    return fileOffset_ < size ? std::min(length_, size - fileOffset_) : 0;
}

std::unique_ptr<VmdkPlainExtent> VmdkPlainExtent::unreadable(std::uint64_t length, std::string name,
                                                             Damage reason, std::string why) {
    std::unique_ptr<VmdkPlainExtent> e(new VmdkPlainExtent(Kind::Unreadable, length));
    e->name_ = std::move(name);
    e->reason_ = reason;
    e->why_ = std::move(why);
    return e;
}

bool VmdkPlainExtent::read(std::uint64_t offset, std::span<std::uint8_t> out, std::uint64_t diskBase,
                           ReadReport* report, const AbsentFill& absent) const {
    (void)absent;
    switch (kind_) {
    case Kind::Zero:
        std::fill(out.begin(), out.end(), std::uint8_t{0});
        if (report) report->addHole(diskBase + offset, out.size());
        return true;
    case Kind::Missing:
    case Kind::Unreadable:
        std::fill(out.begin(), out.end(), std::uint8_t{0});
        if (report) report->addUnreadable(diskBase + offset, out.size(), reason_);
        return false;
    case Kind::Flat:
        break;
    }
    const std::uint64_t have = inFile();
    const std::size_t stored = offset < have ? static_cast<std::size_t>(std::min<std::uint64_t>(out.size(), have - offset)) : 0;
    std::int64_t got = 0;
    if (stored != 0) got = file_.readAt(fileOffset_ + offset, out.first(stored));
    if (got < 0) {
        std::fill(out.begin(), out.end(), std::uint8_t{0});
        if (report) report->addUnreadable(diskBase + offset, out.size(), Damage::ReadError);
        return false;
    }
    const auto read = static_cast<std::size_t>(got);
    if (read == out.size()) return true;
    // A flat file shorter than its extent line: a truncated copy.
    std::fill(out.begin() + static_cast<std::ptrdiff_t>(read), out.end(), std::uint8_t{0});
    if (report) report->addUnreadable(diskBase + offset + read, out.size() - read, Damage::PastEndOfFile);
    return false;
}

bool VmdkPlainExtent::isHole(std::uint64_t offset, std::uint64_t length, bool absentIsHole) const {
    (void)absentIsHole;
    if (kind_ == Kind::Zero) return true;
    // A flat file's own holes (a sparse raw image) read as zeros; past the file's end is no hole
    // but unreadable.
    return kind_ == Kind::Flat && length != 0 && offset <= inFile() && length <= inFile() - offset &&
           file_.nextDataAt(fileOffset_ + offset) - fileOffset_ >= offset + length;
}

std::uint64_t VmdkPlainExtent::nextData(std::uint64_t offset, bool) const {
    if (kind_ == Kind::Zero) return std::max(offset, length_);
    if (kind_ != Kind::Flat || offset >= inFile()) return offset;
    const std::uint64_t data = file_.nextDataAt(fileOffset_ + offset) - fileOffset_;
    // The file's tail hole ends where the file does; what follows, if anything, is unreadable.
    return std::clamp(data, offset, inFile());
}

std::span<const std::uint8_t> VmdkPlainExtent::viewAt(std::uint64_t offset, std::uint64_t length) const {
    if (kind_ != Kind::Flat || offset > inFile() || length > inFile() - offset) return {};
    const auto whole = file_.mapped();
    const std::uint64_t from = fileOffset_ + offset;
    if (whole.empty() || from > whole.size() || length > whole.size() - from) return {};
    return whole.subspan(static_cast<std::size_t>(from), static_cast<std::size_t>(length));
}

void VmdkPlainExtent::describeDamage(std::uint64_t diskBase, std::vector<ByteRange>& out) const {
    if (kind_ == Kind::Missing || kind_ == Kind::Unreadable) {
        out.push_back({diskBase, length_, RangeKind::Unreadable, reason_});
    } else if (kind_ == Kind::Flat && inFile() < length_) {
        out.push_back({diskBase + inFile(), length_ - inFile(), RangeKind::Unreadable, Damage::PastEndOfFile});
    }
}

void VmdkPlainExtent::structureLines(std::vector<std::string>& out) const {
    const std::string sectors = std::to_string(length_ / 512) + " sectors";
    switch (kind_) {
    case Kind::Flat:
        out.push_back("Flat extent: " + sectors + " from file byte " + std::to_string(fileOffset_));
        if (inFile() < length_)
            out.push_back("The file ends " + std::to_string(length_ - inFile()) + " bytes before the extent does.");
        break;
    case Kind::Zero: out.push_back("Zero extent: " + sectors); break;
    case Kind::Missing: out.push_back("Missing extent file " + name_ + ": " + sectors + " unreadable"); break;
    case Kind::Unreadable: out.push_back("Extent file " + name_ + ": " + why_ + "; " + sectors + " unreadable"); break;
    }
}

std::string VmdkPlainExtent::kindText() const {
    switch (kind_) {
    case Kind::Flat: return "flat";
    case Kind::Zero: return "zero";
    case Kind::Missing: return "missing";
    case Kind::Unreadable: return "unreadable";
    }
    return "flat";
}

} // namespace vindaru
