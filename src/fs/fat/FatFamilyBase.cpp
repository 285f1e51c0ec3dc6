#include "fs/fat/FatFamilyBase.h"

#include <algorithm>
#include <deque>

#include "common/DisplayFormat.h"
#include "fs/fat/FatEntryView.h"
#include "fs/parser/TreeFill.h"
#include "volume/VolumeSweep.h"

namespace vindaru {

namespace {

// A directory nested deeper than this is listed without its children (real paths stay far
// below it); the walk keeps its own stack, so this bounds memory, not the thread's stack.
constexpr std::uint32_t kMaxDirectoryDepth = 1024;
// The table never holds more records than this (a hostile volume full of directory slots).
constexpr std::size_t kMaxEntries = 8u << 20;
// Saved content is read in pieces of at most this many bytes.
constexpr std::uint64_t kContentPieceBytes = 256u << 10;
// A parent's directory buffer larger than this is given back while a subdirectory is walked
// and read again afterwards; smaller ones stay (the walk's memory stays bounded by the depth).
constexpr std::uint64_t kKeptUnitBytes = 64u << 10;
constexpr std::uint64_t kAreaPieceBytes = 64u << 10;
constexpr std::uint8_t kDotEntry = 0x2E;
// The candidate searches read the volume in pieces of this size.
constexpr std::uint64_t kCandidatePieceBytes = 10u << 20;
// The free-space map polls the stop flag once per this many clusters.
constexpr std::uint32_t kStopCheckClusters = 1u << 16;

} // namespace

std::string fatAttributeText(std::uint16_t attributes) {
    std::string text;
    if (attributes & kFatAttrReadOnly) text += "-R";
    if (attributes & kFatAttrHidden) text += "-H";
    if (attributes & kFatAttrSystem) text += "-S";
    if (attributes & kFatAttrArchive) text += "-A";
    return text;
}

std::string dosDateTimeText(std::uint16_t date, std::uint16_t time) {
    return formatDateTimeText((date >> 5) & 0xF, date & 0x1F, (date >> 9) + 1980, time >> 11, (time >> 5) & 0x3F);
}

std::string dosDateText(std::uint16_t date) {
    return formatDateText((date >> 5) & 0xF, date & 0x1F, (date >> 9) + 1980);
}

FatFamilyBase::FatFamilyBase(const ByteSource& disk, VolumeRecord volume, ScanSinks sinks,
                             bool driveFormatted)
    : volume_(std::move(volume)), reader_(volumeSlice(disk, volume_)), sinks_(sinks),
      driveFormatted_(driveFormatted) {
    volumeSize_ = static_cast<std::int64_t>(std::min<std::uint64_t>(volumeLength(volume_, reader_), INT64_MAX));
}

void FatFamilyBase::status(const std::string& text) {
    if (sinks_.status) sinks_.status->setText(text);
}

bool FatFamilyBase::tableFull() const { return entryCount() >= kMaxEntries; }

void FatFamilyBase::setClusterLimit(std::uint64_t clustersFromBoot) {
    std::uint64_t clusters = clustersFromBoot;
    if (clusters == 0 && clusterSize_ != 0 && volumeSize_ > 0)
        clusters = static_cast<std::uint64_t>(volumeSize_) / clusterSize_;
    // No cluster starts past the disk's real end.
    const std::uint64_t end = reader_.size();
    diskEnd_ = end;
    if (clusterSize_ == 0 || dataStart_ >= end) {
        clusters = 0;
    } else {
        clusters = std::min(clusters, (end - dataStart_ + clusterSize_ - 1) / clusterSize_);
    }
    if (fat_) clusters = std::min(clusters, fat_->entryCount() > 2 ? fat_->entryCount() - 2 : 0);
    clusters = std::min<std::uint64_t>(clusters, UINT32_MAX - 2);
    clusterLimit_ = static_cast<std::uint32_t>(clusters + 2);
}

std::optional<std::uint32_t> FatFamilyBase::nextCluster(std::uint32_t cluster) {
    if (driveFormatted_ || !fat_ || !isDataCluster(cluster)) return std::nullopt;
    const std::uint32_t next = fat_->entry(cluster);
    if (!isDataCluster(next)) return std::nullopt;
    return next;
}

FatFamilyBase::DirectoryRun FatFamilyBase::chainRun(std::uint32_t firstCluster, std::uint64_t maxUnits) const {
    DirectoryRun run;
    run.kind = DirectoryRun::Kind::Chain;
    run.startCluster = firstCluster;
    run.maxUnits = std::min<std::uint64_t>(maxUnits, clusterLimit_);
    return run;
}

FatFamilyBase::DirectoryRun FatFamilyBase::consecutiveRun(std::uint32_t firstCluster, std::uint64_t count) const {
    DirectoryRun run;
    run.kind = DirectoryRun::Kind::Consecutive;
    run.startCluster = firstCluster;
    run.maxUnits = std::min<std::uint64_t>(std::max<std::uint64_t>(count, 1), clusterLimit_);
    return run;
}

FatFamilyBase::DirectoryRun FatFamilyBase::areaRun(std::uint64_t offset, std::uint64_t length) const {
    DirectoryRun run;
    run.kind = DirectoryRun::Kind::Area;
    run.areaOffset = offset;
    run.areaLength = length;
    run.maxUnits = length / kAreaPieceBytes + 1;
    return run;
}

std::optional<FatFamilyBase::DirectoryUnit> FatFamilyBase::nextUnit(DirectoryRun& run) {
    while (!run.ended && run.unitsTaken < run.maxUnits) {
        const bool first = run.unitsTaken == 0;
        ++run.unitsTaken;
        if (run.kind == DirectoryRun::Kind::Area) {
            // The fixed root area is read in pieces, as a chain of clusters would be.
            if (first) {
                if (areaVisited_) break;
                areaVisited_ = true;
                parsedAreaOffset_ = run.areaOffset;
                parsedAreaLength_ = run.areaLength;
            }
            const std::uint64_t at = run.areaOffset + (run.unitsTaken - 1) * kAreaPieceBytes;
            if (at >= run.areaOffset + run.areaLength || at >= diskEnd_) break;
            const std::uint64_t length =
                std::min({kAreaPieceBytes, run.areaOffset + run.areaLength - at, diskEnd_ - at});
            return DirectoryUnit{at, length, 0, first};
        }
        std::uint32_t cluster = run.startCluster;
        if (!first) {
            if (run.kind == DirectoryRun::Kind::Consecutive) {
                cluster = run.lastCluster + 1;
            } else {
                const auto next = nextCluster(run.lastCluster);
                if (!next) break;
                cluster = *next;
            }
        }
        run.lastCluster = cluster;
        if (!isDataCluster(cluster)) break;
        // A cluster that some directory has already parsed is not parsed again: the guard
        // that ends loops and directories that contain themselves.
        if (!visitedClusters_.insert(cluster).second) {
            if (first || !skipVisitedContinuation()) break;
            continue;
        }
        const std::uint64_t offset = clusterOffset(cluster);
        if (offset >= diskEnd_) break;
        // Nothing is read past the disk's end: a hostile cluster size costs no memory there.
        return DirectoryUnit{offset, std::min(clusterSize_, diskEnd_ - offset), cluster, first};
    }
    run.ended = true;
    return std::nullopt;
}

bool FatFamilyBase::loadUnit(Frame& frame, const DirectoryUnit& unit) {
    frame.buffer.assign(static_cast<std::size_t>(unit.length), 0);
    // A hole of a sparse image reads as the zeros the buffer already holds.
    if (!reader_.isHole(unit.offset, unit.length)) reader_.readAt(unit.offset, frame.buffer);
    frame.unit = unit;
    frame.haveUnit = true;
    frame.pos = 0;
    return true;
}

const std::uint8_t* FatFamilyBase::peekSlot(Frame& frame) {
    if (frame.reload) {
        const std::size_t pos = frame.pos;
        loadUnit(frame, frame.unit);
        frame.pos = pos;
        frame.reload = false;
    }
    for (;;) {
        if (frame.haveUnit && frame.pos + 32 <= frame.buffer.size()) return &frame.buffer[frame.pos];
        if (control_.shouldStop()) return nullptr;
        const auto unit = nextUnit(frame.run);
        if (!unit) {
            frame.buffer.clear();
            frame.haveUnit = false;
            return nullptr;
        }
        // A first cluster in a hole has no dot entry: nothing to read.
        if (unit->first && !frame.root && expectDotEntry() && reader_.isHole(unit->offset, 1)) {
            frame.run.ended = true;
            frame.buffer.clear();
            frame.haveUnit = false;
            return nullptr;
        }
        loadUnit(frame, *unit);
        // Subdirectories test duplicates within one cluster; the root over its whole walk.
        if (!frame.root) frame.directoriesByCluster.clear();
        // A first cluster that does not begin with a dot entry is not a directory; it was not
        // parsed, so the directory that really starts there still can be.
        if (unit->first && !frame.root && expectDotEntry() &&
            (frame.buffer.empty() || frame.buffer[0] != kDotEntry)) {
            visitedClusters_.erase(unit->cluster);
            frame.run.ended = true;
            frame.buffer.clear();
            frame.haveUnit = false;
            return nullptr;
        }
    }
}

void FatFamilyBase::resetWalk() {
    visitedClusters_.clear();
    areaVisited_ = false;
    parsedAreaOffset_ = parsedAreaLength_ = 0;
    placeholderDone_ = false;
}

void FatFamilyBase::walkFrom(const DirectoryRun& rootRun) {
    resetWalk();
    walkDirectory(0, rootRun, true);
}

void FatFamilyBase::walkDirectory(std::uint32_t recordIndex, const DirectoryRun& run, bool root) {
    std::vector<Frame> stack;
    std::deque<Descent> deferred;
    Frame start;
    start.root = root;
    start.dirIndex = recordIndex;
    start.depth = root ? 0 : 1;
    start.run = run;
    stack.push_back(std::move(start));
    for (;;) {
        while (!stack.empty()) {
            Frame& frame = stack.back();
            std::optional<Descent> found = parseUntilDescent(frame);
            if (!found) {
                stack.pop_back();
                continue;
            }
            if (found->deleted) {
                deferred.push_back(std::move(*found));
                continue;
            }
            if (frame.depth + 1 >= kMaxDirectoryDepth) continue;
            // A folder whose first cluster was parsed already has nothing more to give.
            if (found->run.kind != DirectoryRun::Kind::Area && visitedClusters_.count(found->run.startCluster)) continue;
            // A large parent cluster is read again when the walk comes back to it.
            if (!frame.root && frame.buffer.size() > kKeptUnitBytes) {
                std::vector<std::uint8_t>().swap(frame.buffer);
                frame.reload = frame.haveUnit;
            }
            Frame child;
            child.dirIndex = found->recordIndex;
            child.depth = frame.depth + 1;
            child.run = found->run;
            stack.push_back(std::move(child));
        }
        if (deferred.empty() || control_.stopRequested.load()) break;
        Frame child;
        child.dirIndex = deferred.front().recordIndex;
        child.depth = 1;
        child.run = deferred.front().run;
        deferred.pop_front();
        stack.push_back(std::move(child));
    }
}

std::uint64_t FatFamilyBase::sweepLength() const {
    const std::uint64_t disk = reader_.size();
    std::uint64_t length = volume_.sectorCount != 0 ? volume_.sectorCount * kSectorSize
                           : volumeSize_ > 0       ? static_cast<std::uint64_t>(volumeSize_)
                                                   : disk;
    if (volume_.sectorCount > UINT64_MAX / kSectorSize) length = disk;
    return std::min(length, disk);
}

std::vector<std::uint64_t> FatFamilyBase::findSectorPattern(const PatternSearch& search) {
    std::vector<std::uint64_t> found;
    const std::size_t n = search.pattern.size();
    if (search.limit == 0 || n == 0 || n > kSectorSize) return found;
    SweepRange range;
    range.end = sweepLength();
    range.pieceBytes = kCandidatePieceBytes;
    range.skipHoles = true; // zeros never match a FAT's or a heap's first bytes
    range.trimGranule = kSectorSize;
    sweepVolume(reader_, range, control_, [&](const SweepPiece& piece) {
        if (search.onPiece) search.onPiece(piece.position);
        const auto data = piece.data;
        for (std::size_t at = 0; at + n <= data.size(); at += kSectorSize) {
            bool match = true;
            for (std::size_t i = 0; i < n && match; ++i)
                match = ((data[at + i] ^ search.pattern[i]) & search.mask[i]) == 0;
            if (!match) continue;
            found.push_back(piece.position + at);
            if (search.onHit) search.onHit(found.size());
            if (found.size() >= search.limit) return false;
        }
        return true;
    });
    return found;
}

std::vector<std::uint64_t> FatFamilyBase::findFatCandidates(std::span<const std::uint8_t> pattern,
                                                        std::span<const std::uint8_t> mask, std::uint64_t limit,
                                                        bool positionStatus) {
    const std::uint64_t length = sweepLength();
    if (sinks_.progress) sinks_.progress->setRange(0, 1000);
    PatternSearch search;
    search.pattern = pattern;
    search.mask = mask;
    search.limit = limit;
    search.onPiece = [&](std::uint64_t position) {
        if (sinks_.progress && length)
            sinks_.progress->setPosition(static_cast<std::int64_t>(position * 1000 / length));
        if (positionStatus)
            status(formatText("Parsing Disk Currently at position %llu of the disk of size %llu",
                              static_cast<unsigned long long>(position), static_cast<unsigned long long>(length)));
    };
    search.onHit = [&](std::uint64_t count) { status(formatText("found fat entry  %d ", static_cast<int>(count))); };
    std::vector<std::uint64_t> found = findSectorPattern(search);
    if (sinks_.progress) sinks_.progress->setPosition(1000);
    return found;
}

FatFamilyBase::Frame FatFamilyBase::foundEntryFrame(std::uint64_t offset, std::size_t slots, bool take) {
    Frame frame;
    frame.root = true; // nothing is inherited from a parent
    if (offset < diskEnd_) {
        frame.buffer.assign(static_cast<std::size_t>(std::min<std::uint64_t>(slots * 32, diskEnd_ - offset)), 0);
        reader_.readAt(offset, frame.buffer);
    }
    frame.unit = DirectoryUnit{offset, frame.buffer.size(), 0, false};
    frame.haveUnit = true;
    frame.run.ended = true;
    frame.marksTaken = take;
    return frame;
}

void FatFamilyBase::beginRebuild() {
    advancedMode_ = true;
    resetWalk();
    takenSlots_.clear();
    orphanIndex_ = 0;
}

void FatFamilyBase::beginStandardScan() {
    advancedMode_ = false;
    takenSlots_.clear();
    orphanIndex_ = 0;
}

std::uint32_t FatFamilyBase::clusterAt(std::uint64_t offset) const {
    if (clusterSize_ == 0 || offset < dataStart_) return 0;
    const std::uint64_t c = (offset - dataStart_) / clusterSize_ + 2;
    return c < clusterLimit_ ? static_cast<std::uint32_t>(c) : 0;
}

bool FatFamilyBase::slotTaken(std::uint64_t offset) const {
    if (takenSlots_.count(offset)) return true;
    if (areaVisited_ && offset >= parsedAreaOffset_ && offset - parsedAreaOffset_ < parsedAreaLength_) return true;
    const std::uint32_t c = clusterAt(offset);
    return c != 0 && visitedClusters_.count(c) != 0;
}

void FatFamilyBase::linkEntries(bool withProgress) {
    const std::size_t count = entryCount();
    if (withProgress && sinks_.progress) sinks_.progress->setRange(0, 1000);
    // The last child linked so far, by parent: linking stays linear in the table's size.
    std::vector<std::uint32_t> lastChild(count, kNoFatEntry);
    for (std::size_t i = 0; i < count; ++i) {
        FatFamilyEntry& e = entry(i);
        e.firstChild = kNoFatEntry;
        e.nextSibling = kNoFatEntry;
    }
    for (std::size_t i = 0; i < count; ++i) {
        if (withProgress && sinks_.progress && (i % 4096 == 0))
            sinks_.progress->setPosition(static_cast<std::int64_t>(i * 1000 / count));
        const std::uint32_t p = entry(i).parentIndex;
        if (p >= count || p == i) continue;
        if (lastChild[p] == kNoFatEntry)
            entry(p).firstChild = static_cast<std::uint32_t>(i);
        else
            entry(lastChild[p]).nextSibling = static_cast<std::uint32_t>(i);
        lastChild[p] = static_cast<std::uint32_t>(i);
    }
    if (withProgress && sinks_.progress) sinks_.progress->setPosition(1000);
}

template <typename Visit> void FatFamilyBase::forEachChild(std::uint32_t index, Visit visit) const {
    if (!isValidIndex(index)) return;
    const std::size_t count = entryCount();
    std::uint32_t c = entry(index).firstChild;
    // Links are built by linkEntries and only point forward, but a chain is still capped.
    for (std::size_t steps = 0; c < count && steps < count; ++steps) {
        const FatFamilyEntry& e = entry(c);
        if (!e.volumeLabel && c != 0 && !visit(c)) return;
        c = e.nextSibling;
    }
}

std::vector<std::uint32_t> FatFamilyBase::childrenOf(std::uint32_t index) const {
    std::vector<std::uint32_t> out;
    forEachChild(index, [&out](std::uint32_t c) {
        out.push_back(c);
        return true;
    });
    return out;
}

bool FatFamilyBase::hasChildren(std::uint32_t index) const {
    bool any = false;
    forEachChild(index, [&any](std::uint32_t) {
        any = true;
        return false; // the first is enough
    });
    return any;
}

void FatFamilyBase::fillTree(CheckTree* tree, TreeItemId volumeItem) {
    if (!tree || entryCount() == 0) return;
    const FatEntryView view(*this, false);
    fillTopLevel(*tree, view, volumeItem, [this](EntryRef entry, std::size_t position) {
        if (position % 1024 == 0) status(formatText("filling entry =%d in tree ", static_cast<int>(entry)));
        return true;
    });
}

std::vector<std::pair<std::uint32_t, std::uint64_t>> FatFamilyBase::contentRuns(const FatFamilyEntry& e,
                                                                                  std::uint64_t clusters) {
    std::vector<std::pair<std::uint32_t, std::uint64_t>> runs;
    auto add = [&runs](std::uint32_t c) {
        if (!runs.empty() && std::uint64_t{runs.back().first} + runs.back().second == c)
            ++runs.back().second;
        else
            runs.emplace_back(c, 1);
    };
    std::uint32_t c = e.firstCluster;
    std::uint64_t taken = 0;
    if (!isDataCluster(c)) return runs;
    add(c);
    ++taken;
    bool consecutive = driveFormatted_ || e.contiguous || !fat_;
    // A deleted file's FAT entries are free: its data is taken from the clusters after the
    // first one that the FAT still shows free, up to its size.
    bool overFreeClusters = false;
    if (!consecutive && e.deleted) {
        const DeletedRule rule = deletedRule(e, clusters);
        consecutive = rule == DeletedRule::Consecutive;
        overFreeClusters = rule == DeletedRule::FreeClusters;
    }
    // A chain that comes back to a cluster it has taken loops: it ends there.
    std::vector<bool> chained;
    if (!consecutive && !overFreeClusters) {
        chained.assign(clusterLimit_, false);
        chained[c] = true;
    }
    while (taken < clusters) {
        if (consecutive) {
            if (!isDataCluster(std::uint64_t{c} + 1)) break;
            ++c;
        } else if (overFreeClusters) {
            std::uint32_t next = c + 1;
            while (isDataCluster(next) && clusterTaken(next).value_or(false)) ++next;
            if (!isDataCluster(next)) break;
            c = next;
        } else {
            // The chain is taken at most as far as the size needs, so a loop ends too.
            const auto next = nextCluster(c);
            if (!next || chained[*next]) break;
            c = *next;
            chained[c] = true;
        }
        add(c);
        ++taken;
    }
    return runs;
}

std::optional<double> FatFamilyBase::recoverableShare(std::size_t index) {
    if (!isValidIndex(index) || clusterSize_ == 0) return std::nullopt;
    const FatFamilyEntry& e = entry(index);
    if (e.directory) return std::nullopt;
    if (!e.deleted || e.size == 0) return 1.0;
    const std::uint64_t clusters = e.size / clusterSize_ + (e.size % clusterSize_ != 0);
    std::uint64_t free = 0;
    for (const auto& [first, count] : contentRuns(e, clusters)) {
        for (std::uint64_t k = 0; k < count; ++k) {
            const auto taken = clusterTaken(static_cast<std::uint32_t>(first + k));
            if (!taken) return std::nullopt;
            if (!*taken) ++free;
        }
    }
    // Clusters the runs could not reach (past the volume's end) are lost.
    return static_cast<double>(free) / static_cast<double>(clusters);
}

std::optional<UsedRanges> FatFamilyBase::usedByteRanges() {
    if (clusterSize_ == 0 && !checkBootSector()) return std::nullopt;
    if (clusterSize_ == 0) return std::nullopt;
    UsedRanges ranges;
    appendByteRange(ranges, 0, dataStart_);
    for (std::uint32_t c = 2; c < clusterLimit_; ++c) {
        if (c % kStopCheckClusters == 0 && control_.shouldStop()) return std::nullopt;
        const std::optional<bool> taken = clusterTaken(c);
        if (!taken) return std::nullopt;
        if (*taken) appendByteRange(ranges, clusterOffset(c), clusterOffset(c) + clusterSize_);
    }
    return ranges;
}

bool FatFamilyBase::writeEntryContent(std::size_t index, const ContentSink& sink) {
    if (!isValidIndex(index) || clusterSize_ == 0) return false;
    const FatFamilyEntry& e = entry(index);
    std::uint64_t remaining = e.size;
    if (remaining == 0) return true;
    const std::uint64_t clusters = remaining / clusterSize_ + (remaining % clusterSize_ != 0);
    std::vector<std::uint8_t> buffer;
    for (const auto& [first, count] : contentRuns(e, clusters)) {
        std::uint64_t offset = clusterOffset(first);
        std::uint64_t runBytes = std::min(count * clusterSize_, remaining);
        while (runBytes > 0) {
            const std::uint64_t n = std::min(runBytes, kContentPieceBytes);
            buffer.resize(static_cast<std::size_t>(n));
            if (!reader_.readAt(offset, buffer)) return false;
            if (!sink(buffer)) return false;
            offset += n;
            runBytes -= n;
            remaining -= n;
        }
        if (control_.stopRequested.load()) break;
    }
    return remaining == 0;
}

} // namespace vindaru
