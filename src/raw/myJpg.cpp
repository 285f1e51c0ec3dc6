#include "raw/myJpg.h"

#include <algorithm>
#include <array>
#include <new>

#include "common/ByteLoader.h"
#include "volume/VolumeSweep.h"

namespace vindaru {

namespace {

constexpr std::uint8_t kWildcard = 0x2A;
constexpr const char* kRootLabel = "RAW RECOVERY ";
// The sweep reads several chunks at a time; the tail lets a start signature at an offset near
// the end of a piece's last sector, and a size field just past it, be read from memory.
constexpr std::uint64_t kPieceBytes = 4 * kCarveChunkBytes;
constexpr std::uint64_t kTailBytes = 2 * kCarveSectorBytes;

std::uint64_t chunkEndOf(std::uint64_t position) {
    return (position / kCarveChunkBytes + 1) * kCarveChunkBytes;
}

std::uint64_t roundUpToSector(std::uint64_t size) {
    const std::uint64_t sectors = size / kCarveSectorBytes + (size % kCarveSectorBytes ? 1 : 0);
    return std::max<std::uint64_t>(sectors, 1) * kCarveSectorBytes;
}

} // namespace

void myJpg::addSignature(const signatureRecord& r) {
    carvingSignature s;
    s.extension = r.extension;
    s.extension[kExtensionUnits] = 0;
    s.extensionLength = r.extensionLength;
    s.startLength = std::min<std::uint8_t>(r.startLength, kSignatureBytes);
    s.endLength = std::min<std::uint8_t>(r.endLength, kSignatureBytes);
    std::copy_n(r.startBytes.begin(), s.startLength, s.startBytes.begin());
    std::copy_n(r.endBytes.begin(), s.endLength, s.endBytes.begin());
    s.id = static_cast<std::uint8_t>(signatures_.size());
    s.startOffset = r.startOffset;

    carvingRule rule;
    rule.startLength = s.startLength;
    rule.endLength = s.endLength;
    rule.extension = r.extensionText();
    rule.sizeOffset = r.sizeOffset > 0 ? r.sizeOffset : -1;
    rule.bytesInSize = r.bytesInSize;
    rule.headerSize = r.headerSize;
    rule.sizeIncludesHeader = r.sizeIncludesHeader;
    rule.reserved = r.reserved1;
    rule.approximateSize = r.approximateSize;
    rule.skipSize = r.skipSize;
    rule.category = r.categoryText();
    rule.format = formatOfReserved(r.reserved1);

    signatures_.push_back(s);
    rules_.push_back(std::move(rule));
}

void myJpg::attach(const ByteSource* reader, std::uint64_t volumeBytes, CheckTree* tree,
                   ProgressSink* progress, MessageSink* messages) {
    reader_ = reader;
    volumeBytes_ = volumeBytes;
    tree_ = tree;
    progress_ = progress;
    messages_ = messages;
}

void myJpg::setUsedRanges(std::vector<std::pair<std::uint64_t, std::uint64_t>> ranges) {
    std::sort(ranges.begin(), ranges.end());
    used_.clear();
    for (const auto& r : ranges) {
        if (r.second <= r.first) continue;
        if (!used_.empty() && r.first <= used_.back().second) used_.back().second = std::max(used_.back().second, r.second);
        else used_.push_back(r);
    }
}

std::uint64_t myJpg::categoryCount(const std::string& category) const {
    const auto it = categoryCounts_.find(category);
    return it == categoryCounts_.end() ? 0 : it->second;
}

std::string myJpg::itemText(const FoundFile& find) const {
    return std::to_string(find.namedAfter) + " ." + extensionOf(find);
}

std::string myJpg::extensionOf(const FoundFile& find) const {
    return find.extension.empty() ? rules_[find.rule].extension : std::string(find.extension);
}

std::uint64_t myJpg::foundBytes() const { return foundBytes_; }

void myJpg::buildMatchTable() {
    matchTable_.clear();
    matchTable_.reserve(2 * signatures_.size());
    // Start entries first, then end entries: the first entry that matches wins. Entries that can
    // never match (shorter than two bytes, or a start offset outside the sector) are left out,
    // which changes no result.
    for (int pass = 0; pass < 2; ++pass) {
        for (std::size_t i = 0; i < signatures_.size(); ++i) {
            const carvingSignature& s = signatures_[i];
            MatchEntry e;
            e.start = pass == 0;
            e.index = i;
            e.length = e.start ? s.startLength : s.endLength;
            e.offset = e.start ? s.startOffset : 0;
            e.bytes = e.start ? s.startBytes : s.endBytes;
            if (e.length < 2 || e.offset < 0 ||
                static_cast<std::uint64_t>(e.offset) >= kCarveSectorBytes)
                continue;
            for (std::size_t k = 0; k < e.length; ++k) {
                if (e.bytes[k] != kWildcard) {
                    e.keyAt = k;
                    e.hasKey = true;
                    break;
                }
            }
            matchTable_.push_back(e);
        }
    }
    keyFilters_.clear();
    filtered_ = true;
    for (const MatchEntry& e : matchTable_) {
        if (!e.hasKey) {
            filtered_ = false;
            break;
        }
        const std::size_t at = static_cast<std::size_t>(e.offset) + e.keyAt;
        auto it = std::find_if(keyFilters_.begin(), keyFilters_.end(), [&](const KeyFilter& f) { return f.at == at; });
        if (it == keyFilters_.end()) it = keyFilters_.insert(keyFilters_.end(), KeyFilter{at, {}});
        it->hit[e.bytes[e.keyAt]] = true;
    }
}

myJpg::Match myJpg::matchSector(std::span<const std::uint8_t> from) const {
    if (filtered_) {
        bool any = false;
        for (const KeyFilter& f : keyFilters_) any = any || (f.at < from.size() && f.hit[from[f.at]]);
        if (!any) return {};
    }
    for (const MatchEntry& e : matchTable_) {
        const std::size_t at = static_cast<std::size_t>(e.offset);
        // A pattern that runs past the sector compares the bytes that follow it in the volume;
        // past the volume's end there are none, and it does not match.
        if (at + e.length > from.size()) continue;
        if (e.hasKey && from[at + e.keyAt] != e.bytes[e.keyAt]) continue;
        bool same = true;
        for (std::size_t k = 0; k < e.length && same; ++k)
            same = e.bytes[k] == kWildcard || e.bytes[k] == from[at + k];
        if (same) return Match{true, e.start, e.index};
    }
    return {};
}

void myJpg::prepareTree() {
    categoryItems_.clear();
    root_ = tree_ ? tree_->insertItem(kRootLabel, IconKind::Folder) : kNoTreeItem;
    for (carvingRule& r : rules_) {
        r.categoryCount = &(categoryCounts_[r.category] = 0);
        auto [it, first] = categoryItems_.emplace(r.category, kNoTreeItem);
        if (first && tree_) it->second = tree_->insertItem(r.category, IconKind::Folder, root_);
        r.categoryItem = it->second;
    }
    if (tree_) tree_->expand(root_, ExpandAction::Expand);
}

void myJpg::report(std::size_t ruleIndex, std::uint64_t start, std::uint64_t size,
                   std::uint64_t namedAfter, FindState state, std::string_view extension) {
    if (full()) return;
    carvingRule& rule = rules_[ruleIndex];
    ++rule.count;
    const std::uint64_t count = ++*rule.categoryCount;
    FoundFile find{start, size, ruleIndex, namedAfter, kNoTreeItem, state, extension};
    if (tree_) {
        tree_->setItemText(rule.categoryItem, rule.category + " (" + std::to_string(count) + ")");
        find.item = tree_->insertItem(itemText(find), IconKind::ByExtension, rule.categoryItem);
        tree_->setItemData(find.item, foundFiles_.size());
    }
    foundFiles_.push_back(find);
    foundBytes_ += size;
    if (onFind) onFind(foundFiles_.back());
}

std::optional<std::int64_t> myJpg::sizeField(const carvingRule& rule, std::uint64_t position,
                                             std::span<const std::uint8_t> from) {
    if (rule.sizeOffset < 0) return std::nullopt;
    const auto at = static_cast<std::uint64_t>(rule.sizeOffset);
    if (at + 4 <= from.size()) return les32(from, static_cast<std::size_t>(at));
    // A field beyond the bytes in memory is read from the volume that follows the sector.
    const std::uint64_t field = position + at;
    if (field + 4 > volumeBytes_) return std::nullopt;
    const std::uint64_t base = field - field % kCarveSectorBytes;
    std::array<std::uint8_t, 2 * kCarveSectorBytes> sectors{};
    const std::uint64_t n = std::min<std::uint64_t>(sectors.size(), volumeBytes_ - base);
    if (!reader_->readAt(base, std::span(sectors).first(static_cast<std::size_t>(n))))
        return std::nullopt;
    return les32(sectors, static_cast<std::size_t>(field - base));
}

std::uint64_t myJpg::examine(std::uint64_t p, std::span<const std::uint8_t> from) {
    const std::uint64_t nextSector = p + kCarveSectorBytes;
    const Match m = matchSector(from);
    if (!m.found) return nextSector;
    carvingRule& rule = rules_[m.index];
    // Past a find by the rule's skip; a skip that passes the chunk's end goes on at the next
    // chunk's first sector.
    const auto skipOn = [&] {
        if (rule.skipSize <= static_cast<std::int64_t>(kCarveSectorBytes)) return nextSector;
        const std::uint64_t skip =
            static_cast<std::uint64_t>(rule.skipSize) / kCarveSectorBytes * kCarveSectorBytes;
        const std::uint64_t chunkEnd = chunkEndOf(p);
        return skip >= chunkEnd - p ? chunkEnd : p + skip;
    };

    if (m.start) {
        if (rule.format != CarveFormat::None) return walkFind(m.index, p, from);
        if (rule.endLength > 0) {
            if (!full()) {
                pendingStarts_[m.index].push_back(p);
                ++pendingCount_;
            }
            return nextSector;
        }
        if (rule.bytesInSize <= 0) {
            report(m.index, p, static_cast<std::uint64_t>(std::max<std::int64_t>(rule.approximateSize, 0)), p,
                   FindState::Partial);
            return skipOn();
        }
        if (rule.bytesInSize != 4) return nextSector;
        const std::optional<std::int64_t> field = sizeField(rule, p, from);
        if (!field || *field <= 0) return nextSector;
        const std::int64_t approx = rule.approximateSize;
        if (approx > 0 && *field > approx) return nextSector;
        // The find is as long as its header says, with the header when the field leaves it out,
        // and never longer than the rule's approximate size.
        std::int64_t size = *field;
        if (!rule.sizeIncludesHeader && rule.headerSize > 0) size += rule.headerSize;
        const bool capped = approx > 0 && size > approx;
        if (capped) size = approx;
        report(m.index, p, static_cast<std::uint64_t>(size), p, capped ? FindState::Partial : FindState::Whole);
        // The scan goes on at the first sector after the file.
        return p + roundUpToSector(static_cast<std::uint64_t>(size));
    }

    std::vector<std::uint64_t>& queue = pendingStarts_[m.index];
    if (queue.empty()) return nextSector;
    const std::uint64_t s = queue.back();
    std::uint64_t size = p + rule.endLength - s + 1;
    const bool capped = rule.approximateSize > 0 && size > static_cast<std::uint64_t>(rule.approximateSize);
    if (capped) size = static_cast<std::uint64_t>(rule.approximateSize);
    queue.pop_back();
    --pendingCount_;
    report(m.index, s, size, p, capped ? FindState::Partial : FindState::Whole);
    return skipOn();
}

std::uint64_t myJpg::walkFind(std::size_t ruleIndex, std::uint64_t p, std::span<const std::uint8_t> from) {
    const carvingRule& rule = rules_[ruleIndex];
    const std::uint64_t nextSector = p + kCarveSectorBytes;
    // The walk stays within the volume and the rule's approximate size.
    std::uint64_t limit = volumeBytes_ - p;
    if (rule.approximateSize > 0) limit = std::min(limit, static_cast<std::uint64_t>(rule.approximateSize));
    ReaderCarveBytes bytes(*reader_, p, limit, from, walkWindow_);
    const CarveEnd end = walkFormat(rule.format, bytes);
    if (end.state == FindState::Invalid || end.size == 0) return nextSector;
    report(ruleIndex, p, end.size, p, end.state, end.extension);
    // A whole file holds no other file's start; a partial one may (the rest of it was
    // overwritten), so the scan goes on inside it.
    return end.state == FindState::Whole ? p + roundUpToSector(end.size) : nextSector;
}

void myJpg::reportPendingStarts() {
    for (std::size_t i = 0; i < pendingStarts_.size(); ++i) {
        std::vector<std::uint64_t> queue = std::move(pendingStarts_[i]);
        pendingStarts_[i].clear();
        pendingCount_ -= queue.size();
        const std::int64_t approx = rules_[i].approximateSize;
        const std::uint64_t cap = approx > 0 ? static_cast<std::uint64_t>(approx) : 0;
        for (std::size_t k = queue.size(); k-- > 0;) {
            const std::uint64_t s = queue[k];
            std::uint64_t size = k > 0 ? s - queue[k - 1] + 1 : cap;
            if (size > cap) size = cap;
            if (size > 0) report(i, s, size, s, FindState::Partial);
        }
    }
}

bool myJpg::carveVolume() {
    bool ready = reader_ != nullptr;
    try {
        if (ready) {
            buildMatchTable();
            pendingStarts_.assign(signatures_.size(), {});
            pendingCount_ = 0;
        }
    } catch (const std::bad_alloc&) {
        ready = false;
    }
    if (!ready) {
        if (messages_) messages_->info("not properly initialized");
        return false;
    }
    prepareTree();
    const std::uint64_t chunks = volumeBytes_ / kCarveChunkBytes;
    if (progress_) {
        progress_->setRange(0, 1000);
        progress_->setRange(0, static_cast<std::int64_t>(chunks));
    }

    // When no signature matches a sector of zeros, the stretches the image does not store (and
    // that read as zeros) cannot hold a find's start or end: the sweep passes them over.
    const std::array<std::uint8_t, kCarveSectorBytes + kTailBytes> zeros{};
    const bool skipZeros = !matchSector(zeros).found;
    std::uint64_t next = 0;
    std::uint64_t lastChunk = UINT64_MAX;
    std::size_t usedAt = 0; // the first used range that does not end before `next`
    bool stopped = false;
    while (next < volumeBytes_ && !stopped) {
        bool jumped = false;
        SweepRange range;
        range.begin = next;
        range.end = volumeBytes_;
        range.pieceBytes = kPieceBytes;
        range.tailBytes = kTailBytes;
        range.skipHoles = skipZeros;
        range.trimGranule = kCarveSectorBytes;
        sweepVolume(*reader_, range, control_, [&](const SweepPiece& piece) {
            next = std::max(next, piece.position); // past a hole that was not handed over
            const std::uint64_t pieceEnd = piece.position + piece.data.size();
            while (next < pieceEnd) {
                const std::uint64_t c = next / kCarveChunkBytes;
                if (c != lastChunk) {
                    lastChunk = c;
                    if (progress_) progress_->setPosition(static_cast<std::int64_t>(c));
                    if (control_.shouldStop()) {
                        stopped = true;
                        return false;
                    }
                }
                while (usedAt < used_.size() && used_[usedAt].second <= next) ++usedAt;
                if (usedAt < used_.size() && used_[usedAt].first <= next) {
                    // A live file's clusters: on at the first sector past them.
                    const std::uint64_t end = used_[usedAt].second;
                    next = end / kCarveSectorBytes * kCarveSectorBytes + (end % kCarveSectorBytes ? kCarveSectorBytes : 0);
                    continue;
                }
                next = examine(next, piece.withTail.subspan(static_cast<std::size_t>(next - piece.position)));
                if (control_.stopRequested.load()) {
                    stopped = true;
                    return false;
                }
            }
            // A find that reaches well past this piece: sweep again from where the scan goes on,
            // rather than read what it skips.
            if (next - pieceEnd >= kPieceBytes) {
                jumped = true;
                return false;
            }
            return true;
        });
        if (!jumped) break; // done, stopped, or the disk ended or failed to read
    }

    if (progress_) progress_->setPosition(static_cast<std::int64_t>(chunks));
    reportPendingStarts();
    if (messages_) messages_->info("done..");
    return true;
}

} // namespace vindaru
