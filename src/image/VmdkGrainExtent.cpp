#include "image/VmdkGrainExtent.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <thread>

#include "common/ByteLoader.h"
#include "image/VmdkGrainMarker.h"

namespace vindaru {

namespace {

// Tables of 2 KiB to 32 KiB: a thousand of them map tens of GiB, more than a scan revisits.
constexpr std::size_t kTableCacheLimit = 1024;
// Inflated grains kept for reads that come back to the same grain (browsing reads sectors
// and clusters, a few at a time); 32 grains of 64 KiB are 2 MiB.
constexpr std::size_t kInflatedCacheSlots = 32;
// Larger grains (a header may declare up to 8 GiB) are never held whole: a part of one is
// inflated through a small window each time.
constexpr std::uint64_t kCacheableGrain = std::uint64_t{1} << 20;
// Deflate never grows data by more than a small fraction; a marker claiming more than this
// over its grain is damaged, and the bound keeps the read of its data to the grain's order.
constexpr std::uint64_t kCompressedSlack = 4096;
// A read with this many compressed grains inflates them on two threads.
constexpr std::size_t kParallelJobs = 8;

// Adds `range` to `out`, joined to the last range when it follows it for the same reason.
void appendJoined(std::vector<ByteRange>& out, const ByteRange& range) {
    if (!out.empty() && out.back().end() == range.offset && out.back().reason == range.reason)
        out.back().length += range.length;
    else
        out.push_back(range);
}

std::vector<std::uint8_t>& scratch() {
    thread_local std::vector<std::uint8_t> buffer;
    return buffer;
}

} // namespace

VmdkGrainExtent::VmdkGrainExtent(ReadOnlyFile file, std::uint64_t length, std::uint64_t grainBytes)
    : VmdkExtent(length), file_(std::move(file)), grainBytes_(grainBytes) {
    fileLength_ = file_.length();
    grainCount_ = grainBytes_ == 0 ? 0 : length / grainBytes_ + (length % grainBytes_ != 0 ? 1 : 0);
}

std::shared_ptr<const VmdkGrainExtent::Table> VmdkGrainExtent::table(std::uint64_t fileOffset,
                                                                       std::size_t entries,
                                                                       unsigned width) const {
    {
        std::lock_guard lock(tableMutex_);
        if (auto it = tables_.find(fileOffset); it != tables_.end()) return it->second;
    }
    std::vector<std::uint8_t> bytes(entries * width);
    const std::int64_t got = file_.readAt(fileOffset, bytes);
    if (got < 0) return nullptr;
    auto t = std::make_shared<Table>();
    t->available = static_cast<std::size_t>(got) / width;
    t->entries.resize(entries);
    for (std::size_t i = 0; i < t->available; ++i)
        t->entries[i] = width == 8 ? le64(bytes, i * 8) : le32(bytes, i * 4);
    std::lock_guard lock(tableMutex_);
    if (tables_.size() >= kTableCacheLimit) tables_.clear();
    tables_.emplace(fileOffset, t);
    return t;
}

VmdkGrainExtent::Grain VmdkGrainExtent::storedAt(std::uint64_t fileOffset, Grain::Kind kind) const {
    if (fileOffset < firstDataByte_) return Grain::unreadable(Damage::InvalidMapEntry);
    if (fileOffset >= fileLength_) return Grain::unreadable(outsideFile(fileOffset));
    return {kind, fileOffset, Damage::None};
}

std::uint64_t VmdkGrainExtent::grainLength(std::uint64_t grain) const {
    const std::uint64_t start = grain * grainBytes_; // grain < grainCount_: no overflow
    return std::min(grainBytes_, length_ - start);
}

bool VmdkGrainExtent::readStored(std::uint64_t fileOffset, std::span<std::uint8_t> out,
                                 std::uint64_t diskOffset, ReadReport* report) const {
    const std::int64_t got = file_.readAt(fileOffset, out);
    if (got < 0) {
        std::fill(out.begin(), out.end(), std::uint8_t{0});
        if (report) report->addUnreadable(diskOffset, out.size(), Damage::ReadError);
        return false;
    }
    const auto have = static_cast<std::size_t>(got);
    if (have == out.size()) return true;
    // The file ends inside the grain: a truncated copy.
    std::fill(out.begin() + static_cast<std::ptrdiff_t>(have), out.end(), std::uint8_t{0});
    if (report) report->addUnreadable(diskOffset + have, out.size() - have, Damage::PastEndOfFile);
    return false;
}

std::uint64_t VmdkGrainExtent::mostCompressedBytes() const {
    return kVmdkGrainMarkerHeader + grainBytes_ + grainBytes_ / 8 + kCompressedSlack;
}

Damage VmdkGrainExtent::markerDamage(std::uint64_t grain, const VmdkMarker& marker, std::uint64_t markerOffset) const {
    // A grain marker names the grain it holds; any other is the wrong place.
    if (!marker.isGrain() || marker.value != grain * (grainBytes_ / 512)) return Damage::InvalidMapEntry;
    const std::uint64_t end = kVmdkGrainMarkerHeader + std::uint64_t{marker.size};
    if (end > mostCompressedBytes()) return Damage::BadCompressedData;
    if (markerOffset >= fileLength_ || end > fileLength_ - markerOffset) return outsideFile(markerOffset + end);
    return Damage::None;
}

Damage VmdkGrainExtent::compressedGrainDamage(std::uint64_t grain, std::uint64_t markerOffset) const {
    std::array<std::uint8_t, 16> head{};
    const std::int64_t got = file_.readAt(markerOffset, head);
    if (got < 0) return Damage::ReadError;
    const auto marker = decodeVmdkMarker(std::span(head).first(static_cast<std::size_t>(got)));
    return marker ? markerDamage(grain, *marker, markerOffset) : Damage::PastEndOfFile;
}

Damage VmdkGrainExtent::inflateGrain(std::uint64_t grain, std::uint64_t markerOffset, std::uint64_t skip,
                                     std::span<std::uint8_t> window) const {
    const std::uint64_t most = mostCompressedBytes();
    const std::uint64_t inFile = fileLength_ - markerOffset; // storedAt: markerOffset < fileLength_
    std::span<const std::uint8_t> bytes;
    // The marker's sector first, then exactly the rest of its data, held only once the marker
    // claims no more than a grain's worth.
    {
        std::vector<std::uint8_t>& buffer = scratch();
        const std::uint64_t limit = std::min(most, inFile);
        const std::size_t first = static_cast<std::size_t>(std::min<std::uint64_t>(limit, 4096));
        buffer.resize(first);
        std::int64_t got = file_.readAt(markerOffset, buffer);
        if (got < 0) return Damage::ReadError;
        const auto head = decodeVmdkMarker(std::span(buffer).first(static_cast<std::size_t>(got)));
        if (head && head->isGrain() && got == static_cast<std::int64_t>(first) &&
            kVmdkGrainMarkerHeader + std::uint64_t{head->size} <= most) {
            const std::uint64_t want = std::min<std::uint64_t>(kVmdkGrainMarkerHeader + head->size, limit);
            if (want > first) {
                buffer.resize(static_cast<std::size_t>(want));
                const std::int64_t more = file_.readAt(markerOffset + first, std::span(buffer).subspan(first));
                if (more < 0) return Damage::ReadError;
                got += more;
            }
        }
        bytes = std::span<const std::uint8_t>(buffer).first(static_cast<std::size_t>(got));
    }
    const auto marker = decodeVmdkMarker(bytes);
    if (!marker) return Damage::PastEndOfFile;
    if (const Damage why = markerDamage(grain, *marker, markerOffset); why != Damage::None) return why;
    if (kVmdkGrainMarkerHeader + std::uint64_t{marker->size} > bytes.size()) return Damage::PastEndOfFile;
    const auto data = bytes.subspan(kVmdkGrainMarkerHeader, marker->size);
    return inflateVmdkGrain(data, grainLength(grain), skip, window) ? Damage::None : Damage::BadCompressedData;
}

Damage VmdkGrainExtent::runJob(const Job& job, std::span<std::uint8_t> out) const {
    const std::span<std::uint8_t> dst = out.subspan(job.outPos, job.length);
    const std::uint64_t whole = grainLength(job.grain);
    // A whole grain inflates in place; so does part of a grain too large to keep.
    if ((job.inGrain == 0 && job.length == whole) || whole > kCacheableGrain)
        return inflateGrain(job.grain, job.markerOffset, job.inGrain, dst);

    // Part of a grain: inflate it once into the cache, for the reads of its other parts.
    std::shared_ptr<const std::vector<std::uint8_t>> bytes;
    {
        std::lock_guard lock(grainMutex_);
        for (const Inflated& slot : inflated_)
            if (slot.grain == job.grain) bytes = slot.bytes;
    }
    if (!bytes) {
        auto fresh = std::make_shared<std::vector<std::uint8_t>>(static_cast<std::size_t>(whole));
        if (const Damage why = inflateGrain(job.grain, job.markerOffset, 0, *fresh); why != Damage::None)
            return why;
        bytes = fresh;
        std::lock_guard lock(grainMutex_);
        if (inflated_.size() < kInflatedCacheSlots) {
            inflated_.push_back({job.grain, bytes});
        } else {
            inflated_[nextSlot_] = {job.grain, bytes};
            nextSlot_ = (nextSlot_ + 1) % kInflatedCacheSlots;
        }
    }
    std::memcpy(dst.data(), bytes->data() + job.inGrain, job.length);
    return Damage::None;
}

bool VmdkGrainExtent::runJobs(const std::vector<Job>& jobs, std::span<std::uint8_t> out,
                              std::uint64_t diskStart, ReadReport* report) const {
    if (jobs.empty()) return true;
    std::vector<Damage> results(jobs.size(), Damage::None);
    if (jobs.size() >= kParallelJobs && std::thread::hardware_concurrency() > 1) {
        // Both threads take the next grain not yet taken, so that a helper the scheduler keeps
        // waiting costs nothing; the grains write disjoint parts of `out`.
        std::atomic<std::size_t> next{0};
        auto work = [&] {
            for (std::size_t i = next++; i < jobs.size(); i = next++) results[i] = runJob(jobs[i], out);
        };
        std::thread helper(work);
        work();
        helper.join();
    } else {
        for (std::size_t i = 0; i < jobs.size(); ++i) results[i] = runJob(jobs[i], out);
    }
    bool ok = true;
    for (std::size_t i = 0; i < jobs.size(); ++i) {
        if (results[i] == Damage::None) continue;
        ok = false;
        const Job& job = jobs[i];
        std::fill_n(out.begin() + static_cast<std::ptrdiff_t>(job.outPos), job.length, std::uint8_t{0});
        if (report) report->addUnreadable(diskStart + job.outPos, job.length, results[i]);
    }
    return ok;
}

bool VmdkGrainExtent::read(std::uint64_t offset, std::span<std::uint8_t> out, std::uint64_t diskBase,
                           ReadReport* report, const AbsentFill& absent) const {
    bool ok = true;
    const std::uint64_t diskStart = diskBase + offset;
    std::uint64_t runFile = 0;
    std::size_t runPos = 0, runLen = 0; // a run of stored bytes that follow one another in the file
    std::size_t absentPos = 0, absentLen = 0;
    // Compressed grains wait so that a long read inflates them together; whatever reports a
    // range runs them first, so that the report's ranges arrive in disk order.
    std::vector<Job> jobs;
    auto flushJobs = [&] {
        if (jobs.empty()) return;
        ok = runJobs(jobs, out, diskStart, report) && ok;
        jobs.clear();
    };
    auto flushRun = [&] {
        if (runLen == 0) return;
        flushJobs();
        ok = readStored(runFile, out.subspan(runPos, runLen), diskStart + runPos, report) && ok;
        runLen = 0;
    };
    auto flushAbsent = [&] {
        if (absentLen == 0) return;
        flushJobs();
        ok = absent(diskStart + absentPos, out.subspan(absentPos, absentLen), report) && ok;
        absentLen = 0;
    };
    for (std::size_t pos = 0; pos < out.size();) {
        const std::uint64_t at = offset + pos;
        const std::uint64_t grain = at / grainBytes_;
        const std::uint64_t inGrain = at % grainBytes_;
        const Grain g = lookup(grain);
        // A stretch of grains without a table reads as one piece.
        std::uint64_t span = grainBytes_ - inGrain;
        if (g.kind != Grain::Kind::Data && g.kind != Grain::Kind::Compressed)
            span += (std::min(sameUntil(grain), grainCount_) - grain - 1) * grainBytes_;
        const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(span, out.size() - pos));
        if (g.kind != Grain::Kind::Data) flushRun();
        if (g.kind != Grain::Kind::Absent) flushAbsent();
        switch (g.kind) {
        case Grain::Kind::Data: {
            const std::uint64_t from = g.fileOffset + inGrain;
            if (runLen != 0 && runFile + runLen == from && runPos + runLen == pos) {
                runLen += n;
            } else {
                flushRun();
                runFile = from;
                runPos = pos;
                runLen = n;
            }
            break;
        }
        case Grain::Kind::Absent:
            if (absentLen == 0) absentPos = pos;
            absentLen += n;
            break;
        case Grain::Kind::Zero:
            flushJobs();
            std::fill_n(out.begin() + static_cast<std::ptrdiff_t>(pos), n, std::uint8_t{0});
            if (report) report->addHole(diskStart + pos, n);
            break;
        case Grain::Kind::Unreadable:
            flushJobs();
            std::fill_n(out.begin() + static_cast<std::ptrdiff_t>(pos), n, std::uint8_t{0});
            if (report) report->addUnreadable(diskStart + pos, n, g.reason);
            ok = false;
            break;
        case Grain::Kind::Compressed:
            jobs.push_back({grain, g.fileOffset, inGrain, pos, n});
            break;
        }
        pos += n;
    }
    flushRun();
    flushAbsent();
    flushJobs();
    return ok;
}

bool VmdkGrainExtent::isHole(std::uint64_t offset, std::uint64_t length, bool absentIsHole) const {
    if (length == 0 || offset >= length_ || length > length_ - offset) return false;
    const std::uint64_t last = (offset + length - 1) / grainBytes_;
    for (std::uint64_t grain = offset / grainBytes_; grain <= last; grain = sameUntil(grain))
        if (!readsAsHole(lookup(grain), absentIsHole)) return false;
    return true;
}

std::uint64_t VmdkGrainExtent::nextData(std::uint64_t offset, bool absentIsHole) const {
    if (offset >= length_ || grainBytes_ == 0) return std::max(offset, length_);
    for (std::uint64_t grain = offset / grainBytes_; grain < grainCount_;) {
        if (!readsAsHole(lookup(grain), absentIsHole)) return std::max(offset, grain * grainBytes_);
        grain = std::max(holeUntil(grain, absentIsHole), grain + 1);
    }
    return length_;
}

std::span<const std::uint8_t> VmdkGrainExtent::viewAt(std::uint64_t offset, std::uint64_t length) const {
    if (length == 0 || offset >= length_ || length > length_ - offset) return {};
    const std::uint64_t inGrain = offset % grainBytes_;
    if (length > grainBytes_ - inGrain) return {};
    const Grain g = lookup(offset / grainBytes_);
    if (g.kind != Grain::Kind::Data) return {};
    const std::span<const std::uint8_t> whole = file_.mapped();
    const std::uint64_t from = g.fileOffset + inGrain;
    if (whole.empty() || from > whole.size() || length > whole.size() - from) return {};
    return whole.subspan(static_cast<std::size_t>(from), static_cast<std::size_t>(length));
}

void VmdkGrainExtent::describeDamage(std::uint64_t diskBase, std::vector<ByteRange>& out) const {
    describeRanges(diskBase, out, false);
}

void VmdkGrainExtent::describeAbsent(std::uint64_t diskBase, std::vector<ByteRange>& out) const {
    describeRanges(diskBase, out, true);
}

void VmdkGrainExtent::describeDataDamage(std::uint64_t diskBase, std::vector<ByteRange>& out) const {
    // Grains are inflated whole into the window when they fit, a window's worth at a time (the
    // whole stream still checked) when they do not.
    std::vector<std::uint8_t> window(static_cast<std::size_t>(std::min(grainBytes_, kCacheableGrain)));
    for (std::uint64_t grain = 0, next = 0; grain < grainCount_; grain = next) {
        const Grain g = lookup(grain);
        next = g.kind == Grain::Kind::Compressed ? grain + 1 : std::max(sameUntil(grain), grain + 1);
        if (g.kind != Grain::Kind::Compressed || compressedGrainDamage(grain, g.fileOffset) != Damage::None)
            continue; // describeDamage lists a bad marker
        const std::uint64_t length = grainLength(grain);
        const auto fill = static_cast<std::size_t>(std::min<std::uint64_t>(length, window.size()));
        const Damage why = inflateGrain(grain, g.fileOffset, 0, std::span(window).first(fill));
        if (why != Damage::None) appendJoined(out, {diskBase + grain * grainBytes_, length, RangeKind::Unreadable, why});
    }
}

void VmdkGrainExtent::describeRanges(std::uint64_t diskBase, std::vector<ByteRange>& out,
                                     bool absent) const {
    for (std::uint64_t grain = 0, next = 0; grain < grainCount_; grain = next) {
        const Grain g = lookup(grain);
        next = g.kind == Grain::Kind::Data || g.kind == Grain::Kind::Compressed
                   ? grain + 1
                   : std::min(sameUntil(grain), grainCount_);
        std::uint64_t start = grain * grainBytes_;
        if (start >= length_) break;
        std::uint64_t len = std::min(next * grainBytes_, length_) - start;
        Damage why = Damage::MissingParent;
        if (absent) {
            if (g.kind != Grain::Kind::Absent) continue;
        } else if (g.kind == Grain::Kind::Data && g.fileOffset + len > fileLength_) {
            // Stored, but the file ends inside it.
            const std::uint64_t have = fileLength_ - g.fileOffset;
            start += have;
            len -= have;
            why = Damage::PastEndOfFile;
        } else if (g.kind == Grain::Kind::Unreadable) {
            why = g.reason;
        } else if (g.kind == Grain::Kind::Compressed) {
            // The marker tells whether the grain's data is all there and is this grain's; only
            // inflating it tells whether the data is sound.
            why = compressedGrainDamage(grain, g.fileOffset);
            if (why == Damage::None) continue;
        } else {
            continue;
        }
        appendJoined(out, {diskBase + start, len, RangeKind::Unreadable, why});
    }
}

} // namespace vindaru
