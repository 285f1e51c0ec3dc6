#include "image/ByteSource.h"

#include <algorithm>

#include "common/ByteLoader.h"

namespace vindaru {

const char* damageText(Damage reason) {
    switch (reason) {
    case Damage::None: return "readable";
    case Damage::PastEndOfFile: return "past the end of the image file";
    case Damage::PastEndOfDisk: return "past the end of the disk";
    case Damage::MissingExtent: return "extent file missing";
    case Damage::InvalidMapEntry: return "invalid map entry";
    case Damage::DamagedTable: return "damaged map table";
    case Damage::LostDirectory: return "grain directory lost";
    case Damage::MissingParent: return "parent image missing";
    case Damage::BadCompressedData: return "compressed data damaged";
    case Damage::ReadError: return "read error";
    case Damage::Unsupported: return "unsupported block";
    }
    return "unreadable";
}

void ReadReport::addHole(std::uint64_t offset, std::uint64_t length) {
    add({offset, length, RangeKind::Hole, Damage::None});
}

void ReadReport::addUnreadable(std::uint64_t offset, std::uint64_t length, Damage reason) {
    add({offset, length, RangeKind::Unreadable, reason == Damage::None ? Damage::ReadError : reason});
}

void ReadReport::add(ByteRange range) {
    if (range.length == 0) return;
    // Keep the end inside 64 bits.
    range.length = std::min(range.length, UINT64_MAX - range.offset);
    (range.kind == RangeKind::Hole ? holeBytes_ : unreadableBytes_) += range.length;
    // Reads arrive in ascending order almost always; a range that meets the last one joins it.
    if (!ranges_.empty()) {
        ByteRange& last = ranges_.back();
        const bool same = last.kind == range.kind && last.reason == range.reason;
        if (same && last.end() == range.offset) {
            last.length += range.length;
            return;
        }
        if (ranges_.size() >= kMaxRanges) {
            // Full: stretch the last range over this one; its kind stays the worse of the two.
            if (range.kind == RangeKind::Unreadable) {
                last.kind = RangeKind::Unreadable;
                last.reason = range.reason;
            }
            last.offset = std::min(last.offset, range.offset);
            last.length = std::max(last.end(), range.end()) - last.offset;
            return;
        }
    }
    if (ranges_.empty() || ranges_.back().offset <= range.offset) {
        ranges_.push_back(range);
        return;
    }
    const auto at = std::upper_bound(ranges_.begin(), ranges_.end(), range.offset,
                                     [](std::uint64_t o, const ByteRange& r) { return o < r.offset; });
    ranges_.insert(at, range);
}

void ReadReport::merge(const ReadReport& other, std::int64_t shift) {
    for (ByteRange r : other.ranges_) {
        // Unsigned wrap-around: a negative shift moves offsets down.
        r.offset += static_cast<std::uint64_t>(shift);
        if (r.kind == RangeKind::Hole)
            addHole(r.offset, r.length);
        else
            addUnreadable(r.offset, r.length, r.reason);
    }
}

void ReadReport::clear() {
    ranges_.clear();
    unreadableBytes_ = 0;
    holeBytes_ = 0;
}

std::vector<ByteRange> ReadReport::unreadableRanges() const {
    std::vector<ByteRange> out;
    for (const ByteRange& r : ranges_)
        if (r.kind == RangeKind::Unreadable) out.push_back(r);
    return out;
}

namespace {
thread_local ReadScope* innermostScope = nullptr;
// How many readAt calls are under way on this thread: only the outermost one records in a scope.
thread_local int readDepth = 0;
} // namespace

ReadScope::ReadScope() : outer_(innermostScope) { innermostScope = this; }

ReadScope::~ReadScope() { innermostScope = outer_; }

bool ByteSource::readAt(std::uint64_t offset, std::span<std::uint8_t> out, ReadReport* report) const {
    if (out.empty()) return true;
    if (innermostScope && readDepth == 0) {
        ReadReport local;
        ++readDepth;
        const bool ok = readChecked(offset, out, &local);
        --readDepth;
        for (const ByteRange& r : local.ranges())
            if (r.kind == RangeKind::Unreadable) innermostScope->report_.addUnreadable(r.offset, r.length, r.reason);
        if (report) report->merge(local);
        return ok;
    }
    ++readDepth;
    const bool ok = readChecked(offset, out, report);
    --readDepth;
    return ok;
}

bool ByteSource::readChecked(std::uint64_t offset, std::span<std::uint8_t> out, ReadReport* report) const {
    const std::uint64_t total = size();
    const std::uint64_t inside = offset < total ? std::min<std::uint64_t>(out.size(), total - offset) : 0;
    bool ok = true;
    if (inside > 0) ok = readRange(offset, out.first(static_cast<std::size_t>(inside)), report);
    if (inside < out.size()) {
        std::fill(out.begin() + static_cast<std::ptrdiff_t>(inside), out.end(), std::uint8_t{0});
        if (report) report->addUnreadable(offset + inside, out.size() - inside, Damage::PastEndOfDisk);
        ok = false;
    }
    return ok;
}

bool ByteSource::isHole(std::uint64_t, std::uint64_t) const { return false; }

std::uint64_t ByteSource::nextData(std::uint64_t offset) const { return offset; }

std::uint64_t ByteSource::nextDataByUnits(std::uint64_t offset, std::uint64_t unit, std::uint64_t end) const {
    const std::uint64_t total = end == 0 || end > size() ? size() : end;
    if (unit == 0 || offset >= total) return offset;
    std::uint64_t at = offset;
    while (at < total) {
        const std::uint64_t unitEnd = at - at % unit + std::min(unit, total - (at - at % unit));
        if (!isHole(at, unitEnd - at)) return at;
        at = unitEnd;
    }
    return total;
}

std::span<const std::uint8_t> ByteSource::viewAt(std::uint64_t, std::uint64_t) const { return {}; }

} // namespace vindaru
