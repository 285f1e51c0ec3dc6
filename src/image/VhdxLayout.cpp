#include "image/VhdxLayout.h"

#include <algorithm>
#include <cstring>

#include "common/TextConvert.h"

namespace vindaru::vhdx {

namespace {

constexpr Guid makeGuid(std::uint32_t d1, std::uint16_t d2, std::uint16_t d3,
                        std::array<std::uint8_t, 8> d4) {
    Guid g{};
    for (int i = 0; i < 4; ++i) g[i] = static_cast<std::uint8_t>(d1 >> (8 * i));
    for (int i = 0; i < 2; ++i) g[4 + i] = static_cast<std::uint8_t>(d2 >> (8 * i));
    for (int i = 0; i < 2; ++i) g[6 + i] = static_cast<std::uint8_t>(d3 >> (8 * i));
    for (int i = 0; i < 8; ++i) g[8 + i] = d4[i];
    return g;
}

bool hasSignature(ByteSpan bytes, std::size_t offset, const char* text) {
    const std::size_t n = std::strlen(text);
    if (!fits(bytes, offset, n)) return false;
    return std::memcmp(bytes.data() + offset, text, n) == 0;
}

struct Crc32cTable {
    std::uint32_t t[256];
    constexpr Crc32cTable() : t{} {
        for (std::uint32_t i = 0; i < 256; ++i) {
            std::uint32_t c = i;
            for (int k = 0; k < 8; ++k) c = (c & 1) ? (c >> 1) ^ 0x82F63B78u : c >> 1;
            t[i] = c;
        }
    }
};
constexpr Crc32cTable kCrcTable;

std::uint32_t crcUpdate(std::uint32_t crc, const std::uint8_t* p, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) crc = kCrcTable.t[(crc ^ p[i]) & 0xFF] ^ (crc >> 8);
    return crc;
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

} // namespace

const Guid kBatRegion = makeGuid(0x2DC27766, 0xF623, 0x4200, {0x9D, 0x64, 0x11, 0x5E, 0x9B, 0xFD, 0x4A, 0x08});
const Guid kMetadataRegion = makeGuid(0x8B7CA206, 0x4790, 0x4B9A, {0xB8, 0xFE, 0x57, 0x5F, 0x05, 0x0F, 0x88, 0x6E});
const Guid kFileParametersItem = makeGuid(0xCAA16737, 0xFA36, 0x4D43, {0xB3, 0xB6, 0x33, 0xF0, 0xAA, 0x44, 0xE7, 0x6B});
const Guid kVirtualDiskSizeItem = makeGuid(0x2FA54224, 0xCD1B, 0x4876, {0xB2, 0x11, 0x5D, 0xBE, 0xD8, 0x3B, 0xF4, 0xB8});
const Guid kPage83DataItem = makeGuid(0xBECA12AB, 0xB2E6, 0x4523, {0x93, 0xEF, 0xC3, 0x09, 0xE0, 0x00, 0xC7, 0x46});
const Guid kLogicalSectorSizeItem = makeGuid(0x8141BF1D, 0xA96F, 0x4709, {0xBA, 0x47, 0xF2, 0x33, 0xA8, 0xFA, 0xAB, 0x5F});
const Guid kPhysicalSectorSizeItem = makeGuid(0xCDA348C7, 0x445D, 0x4471, {0x9C, 0xC9, 0xE9, 0x88, 0x52, 0x51, 0xC5, 0x56});
const Guid kParentLocatorItem = makeGuid(0xA8D35F2D, 0xB30B, 0x454D, {0xAB, 0xF7, 0xD3, 0xD8, 0x48, 0x34, 0xAB, 0x0C});
const Guid kVhdxParentLocatorType = makeGuid(0xB04AEFB7, 0xD19E, 0x4A81, {0xB7, 0x89, 0x25, 0xB8, 0xE9, 0x44, 0x59, 0x13});

const char* blockStateText(std::uint8_t state) {
    switch (static_cast<BlockState>(state)) {
    case BlockState::NotPresent:
        return "not present";
    case BlockState::Undefined:
        return "undefined";
    case BlockState::Zero:
        return "zero";
    case BlockState::Unmapped:
        return "unmapped";
    case BlockState::FullyPresent:
        return "fully present";
    case BlockState::PartiallyPresent:
        return "partially present";
    }
    return "invalid";
}

Guid loadGuid(ByteSpan bytes, std::size_t offset) {
    Guid g{};
    if (fits(bytes, offset, g.size())) std::memcpy(g.data(), bytes.data() + offset, g.size());
    return g;
}

bool isZero(const Guid& guid) {
    return std::all_of(guid.begin(), guid.end(), [](std::uint8_t b) { return b == 0; });
}

std::string guidText(const Guid& g) {
    static const char digits[] = "0123456789abcdef";
    // Byte order of the text: the first three fields are stored little-endian.
    static const int order[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
    std::string out = "{";
    for (int i = 0; i < 16; ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) out += '-';
        out += digits[g[order[i]] >> 4];
        out += digits[g[order[i]] & 15];
    }
    out += '}';
    return out;
}

std::optional<Guid> parseGuid(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '{')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '}' || text.back() == '\0'))
        text.remove_suffix(1);
    static const int order[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
    if (text.size() != 36) return std::nullopt;
    Guid g{};
    std::size_t pos = 0;
    for (int i = 0; i < 16; ++i) {
        if (pos == 8 || pos == 13 || pos == 18 || pos == 23) {
            if (text[pos] != '-') return std::nullopt;
            ++pos;
        }
        const int hi = hexValue(text[pos]);
        const int lo = hexValue(text[pos + 1]);
        if (hi < 0 || lo < 0) return std::nullopt;
        g[order[i]] = static_cast<std::uint8_t>(hi * 16 + lo);
        pos += 2;
    }
    return g;
}

std::uint32_t crc32c(ByteSpan bytes, std::size_t checksumOffset) {
    std::uint32_t crc = 0xFFFFFFFFu;
    if (!fits(bytes, checksumOffset, 4)) return ~crcUpdate(crc, bytes.data(), bytes.size());
    static const std::uint8_t zeros[4] = {};
    crc = crcUpdate(crc, bytes.data(), checksumOffset);
    crc = crcUpdate(crc, zeros, 4);
    crc = crcUpdate(crc, bytes.data() + checksumOffset + 4, bytes.size() - checksumOffset - 4);
    return ~crc;
}

std::uint32_t crc32c(ByteSpan bytes) {
    return ~crcUpdate(0xFFFFFFFFu, bytes.data(), bytes.size());
}

bool hasFileIdentifier(ByteSpan bytes) { return hasSignature(bytes, 0, "vhdxfile"); }

Header decodeHeader(ByteSpan bytes) {
    Header h;
    if (bytes.size() < kHeaderSize) return h;
    bytes = bytes.first(kHeaderSize);
    h.signatureOk = hasSignature(bytes, kHeaderSignature, "head");
    h.checksumOk = le32(bytes, kHeaderChecksum) == crc32c(bytes, kHeaderChecksum);
    h.sequence = le64(bytes, kHeaderSequence);
    h.fileWrite = loadGuid(bytes, kHeaderFileWriteGuid);
    h.dataWrite = loadGuid(bytes, kHeaderDataWriteGuid);
    h.log = loadGuid(bytes, kHeaderLogGuid);
    h.logVersion = le16(bytes, kHeaderLogVersion);
    h.version = le16(bytes, kHeaderVersion);
    h.logLength = le32(bytes, kHeaderLogLength);
    h.logOffset = le64(bytes, kHeaderLogOffset);
    return h;
}

int currentHeader(const Header& first, const Header& second) {
    if (first.usable() && second.usable()) return second.sequence > first.sequence ? 1 : 0;
    if (first.usable()) return 0;
    if (second.usable()) return 1;
    return -1;
}

const RegionEntry* RegionTable::find(const Guid& guid) const {
    for (const auto& e : entries)
        if (e.guid == guid) return &e;
    return nullptr;
}

RegionTable decodeRegionTable(ByteSpan bytes) {
    RegionTable t;
    if (bytes.size() < kRegionTableSize) return t;
    bytes = bytes.first(kRegionTableSize);
    t.signatureOk = hasSignature(bytes, kRegionSignature, "regi");
    t.checksumOk = le32(bytes, kRegionChecksum) == crc32c(bytes, kRegionChecksum);
    const std::uint32_t count = std::min(le32(bytes, kRegionEntryCount), kMaxRegionEntries);
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::size_t at = kRegionEntriesStart + std::size_t{i} * kRegionEntrySize;
        if (!fits(bytes, at, kRegionEntrySize)) break;
        RegionEntry e;
        e.guid = loadGuid(bytes, at);
        e.fileOffset = le64(bytes, at + kRegionEntryOffset);
        e.length = le32(bytes, at + kRegionEntryLength);
        e.required = (le32(bytes, at + kRegionEntryRequired) & 1) != 0;
        t.entries.push_back(e);
    }
    return t;
}

std::optional<std::vector<MetadataEntry>> decodeMetadataTable(ByteSpan bytes) {
    if (!hasSignature(bytes, 0, "metadata")) return std::nullopt;
    std::vector<MetadataEntry> out;
    const std::uint32_t count = std::min<std::uint32_t>(le16(bytes, kMetadataEntryCount), kMaxMetadataEntries);
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::size_t at = kMetadataEntriesStart + std::size_t{i} * kMetadataEntrySize;
        if (!fits(bytes, at, kMetadataEntrySize)) break;
        MetadataEntry e;
        e.item = loadGuid(bytes, at);
        e.offset = le32(bytes, at + kMetadataEntryOffset);
        e.length = le32(bytes, at + kMetadataEntryLength);
        const std::uint32_t flags = le32(bytes, at + kMetadataEntryFlags);
        e.isUser = (flags & 1) != 0;
        e.isVirtualDisk = (flags & 2) != 0;
        e.isRequired = (flags & 4) != 0;
        out.push_back(e);
    }
    return out;
}

std::optional<FileParameters> decodeFileParameters(ByteSpan item) {
    if (item.size() < 8) return std::nullopt;
    FileParameters p;
    p.blockSize = le32(item, 0);
    const std::uint32_t flags = le32(item, 4);
    p.leaveBlocksAllocated = (flags & 1) != 0;
    p.hasParent = (flags & 2) != 0;
    return p;
}

std::string ParentLocator::value(std::string_view key) const {
    for (const auto& [k, v] : entries)
        if (k == key) return v;
    return {};
}

std::optional<ParentLocator> decodeParentLocator(ByteSpan item) {
    // Header: locator type (16), reserved u16, key/value count u16; then 12-byte entries.
    constexpr std::size_t kHeader = 20;
    constexpr std::size_t kEntry = 12;
    if (item.size() < kHeader) return std::nullopt;
    ParentLocator loc;
    loc.type = loadGuid(item, 0);
    const std::uint16_t count = le16(item, 18);
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::size_t at = kHeader + std::size_t{i} * kEntry;
        if (!fits(item, at, kEntry)) return std::nullopt;
        const std::uint32_t keyOffset = le32(item, at);
        const std::uint32_t valueOffset = le32(item, at + 4);
        const std::uint16_t keyLength = le16(item, at + 8);
        const std::uint16_t valueLength = le16(item, at + 10);
        if (!fits(item, keyOffset, keyLength) || !fits(item, valueOffset, valueLength))
            return std::nullopt;
        loc.entries.emplace_back(utf16leToUtf8(item.subspan(keyOffset, keyLength)),
                                 utf16leToUtf8(item.subspan(valueOffset, valueLength)));
    }
    return loc;
}

std::optional<Geometry> makeGeometry(std::uint32_t blockSize, std::uint32_t logicalSectorSize,
                                     std::uint64_t virtualSize, bool hasParent,
                                     std::string& problem) {
    if (!isPowerOfTwo(blockSize) || blockSize < kMinBlockSize || blockSize > kMaxBlockSize) {
        problem = "block size " + std::to_string(blockSize) + " is not a power of two from 1 MiB to 256 MiB";
        return std::nullopt;
    }
    if (logicalSectorSize != 512 && logicalSectorSize != 4096) {
        problem = "logical sector size " + std::to_string(logicalSectorSize) + " is neither 512 nor 4096";
        return std::nullopt;
    }
    if (virtualSize == 0 || virtualSize > kMaxVirtualDiskSize || virtualSize % logicalSectorSize != 0) {
        problem = "virtual disk size " + std::to_string(virtualSize) +
                  " is not a whole number of sectors up to 64 TiB";
        return std::nullopt;
    }
    Geometry g;
    g.blockSize = blockSize;
    g.logicalSectorSize = logicalSectorSize;
    g.virtualSize = virtualSize;
    g.chunkRatio = kSectorsPerBitmapBlock * logicalSectorSize / blockSize;
    g.dataBlocks = (virtualSize + blockSize - 1) / blockSize;
    g.bitmapBlocks = (g.dataBlocks + g.chunkRatio - 1) / g.chunkRatio;
    g.batEntries = hasParent ? g.bitmapBlocks * (g.chunkRatio + 1)
                             : g.dataBlocks + (g.dataBlocks - 1) / g.chunkRatio;
    return g;
}

// --- the log ---

std::uint64_t LogOverlay::end() const {
    std::uint64_t last = 0;
    if (!pages.empty()) last = pages.rbegin()->first + kLogSectorSize;
    for (const auto& [off, len] : zeroRanges) last = std::max(last, off + len);
    return last;
}

// The zero ranges are kept sorted and apart (finishZeroRanges), so the first that can reach
// `fileOffset` is the one before the first that starts after it.
static std::vector<std::pair<std::uint64_t, std::uint64_t>>::const_iterator
firstZeroRange(const std::vector<std::pair<std::uint64_t, std::uint64_t>>& ranges,
               std::uint64_t fileOffset) {
    auto it = std::upper_bound(ranges.begin(), ranges.end(), fileOffset,
                               [](std::uint64_t v, const auto& r) { return v < r.first; });
    return it == ranges.begin() ? it : it - 1;
}

bool LogOverlay::touches(std::uint64_t fileOffset, std::uint64_t length) const {
    if (length == 0) return false;
    const std::uint64_t stop = fileOffset + length;
    for (auto z = firstZeroRange(zeroRanges, fileOffset); z != zeroRanges.end() && z->first < stop; ++z)
        if (fileOffset < z->first + z->second) return true;
    auto it = pages.lower_bound(fileOffset >= kLogSectorSize ? fileOffset - kLogSectorSize + 1 : 0);
    return it != pages.end() && it->first < stop;
}

bool LogOverlay::apply(std::uint64_t fileOffset, std::span<std::uint8_t> out) const {
    if (out.empty()) return false;
    bool changed = false;
    const std::uint64_t stop = fileOffset + out.size();
    for (auto z = firstZeroRange(zeroRanges, fileOffset); z != zeroRanges.end() && z->first < stop; ++z) {
        const std::uint64_t from = std::max(z->first, fileOffset);
        const std::uint64_t to = std::min(z->first + z->second, stop);
        if (from >= to) continue;
        std::memset(out.data() + (from - fileOffset), 0, to - from);
        changed = true;
    }
    auto it = pages.lower_bound(fileOffset >= kLogSectorSize ? fileOffset - kLogSectorSize + 1 : 0);
    for (; it != pages.end() && it->first < stop; ++it) {
        const std::uint64_t from = std::max(it->first, fileOffset);
        const std::uint64_t to = std::min(it->first + kLogSectorSize, stop);
        if (from >= to) continue;
        std::memcpy(out.data() + (from - fileOffset), it->second.data() + (from - it->first), to - from);
        changed = true;
    }
    return changed;
}

namespace {

struct LogEntry {
    std::uint64_t offset = 0;
    std::uint64_t length = 0;
    std::uint64_t tail = 0;
    std::uint64_t sequence = 0;
    std::uint32_t descriptors = 0;
    std::uint64_t flushedFileOffset = 0;
    std::uint64_t lastFileOffset = 0;
};

std::uint64_t descriptorSectors(std::uint32_t count) {
    return (kLogEntryHeaderSize + std::uint64_t{count} * kLogDescriptorSize + kLogSectorSize - 1) /
           kLogSectorSize;
}

// The entry at `offset` when every part of it checks: its bounds, checksum, log GUID, and each
// descriptor with its data sector. `crcBudget` limits the bytes summed over all attempts, so a
// log full of entry-looking sectors cannot make the search quadratic.
std::optional<LogEntry> validEntryAt(ByteSpan log, std::uint64_t offset, const Guid& logGuid,
                                     std::uint64_t& crcBudget) {
    const ByteSpan head = subspan(log, offset, kLogEntryHeaderSize);
    if (head.size() < kLogEntryHeaderSize || !hasSignature(head, kLogEntrySignature, "loge"))
        return std::nullopt;
    LogEntry e;
    e.offset = offset;
    e.length = le32(head, kLogEntryLength);
    e.tail = le32(head, kLogEntryTail);
    e.sequence = le64(head, kLogEntrySequence);
    e.descriptors = le32(head, kLogEntryDescriptorCount);
    e.flushedFileOffset = le64(head, kLogEntryFlushedFileOffset);
    e.lastFileOffset = le64(head, kLogEntryLastFileOffset);
    if (e.length < kLogSectorSize || e.length % kLogSectorSize != 0 || e.length > log.size() - offset)
        return std::nullopt;
    if (e.tail % kLogSectorSize != 0 || e.tail >= log.size()) return std::nullopt;
    if (loadGuid(head, kLogEntryLogGuid) != logGuid) return std::nullopt;
    const std::uint64_t sectors = e.length / kLogSectorSize;
    if (e.descriptors > (e.length - kLogEntryHeaderSize) / kLogDescriptorSize) return std::nullopt;
    const std::uint64_t firstData = descriptorSectors(e.descriptors);
    if (firstData > sectors) return std::nullopt;
    const ByteSpan entry = log.subspan(offset, e.length);
    std::uint64_t dataSector = firstData;
    for (std::uint32_t i = 0; i < e.descriptors; ++i) {
        const std::size_t at = kLogEntryHeaderSize + std::size_t{i} * kLogDescriptorSize;
        if (le64(entry, at + 24) != e.sequence) return std::nullopt;
        const std::uint64_t fileOffset = le64(entry, at + 16);
        if (fileOffset % kLogSectorSize != 0) return std::nullopt;
        if (hasSignature(entry, at, "zero")) {
            const std::uint64_t length = le64(entry, at + 8);
            std::uint64_t end = 0;
            if (length % kLogSectorSize != 0 || !checkedAdd(fileOffset, length, end))
                return std::nullopt;
        } else if (hasSignature(entry, at, "desc")) {
            if (dataSector >= sectors) return std::nullopt;
            const std::size_t d = dataSector * kLogSectorSize;
            if (!hasSignature(entry, d, "data") ||
                le32(entry, d + 4) != static_cast<std::uint32_t>(e.sequence >> 32) ||
                le32(entry, d + kLogSectorSize - 4) != static_cast<std::uint32_t>(e.sequence))
                return std::nullopt;
            ++dataSector;
        } else {
            return std::nullopt;
        }
    }
    if (crcBudget < e.length) return std::nullopt;
    crcBudget -= e.length;
    if (le32(entry, kLogEntryChecksum) != crc32c(entry, kLogEntryChecksum)) return std::nullopt;
    return e;
}

void addZeroRange(LogOverlay& overlay, std::uint64_t offset, std::uint64_t length) {
    if (length == 0) return;
    const std::uint64_t stop = offset + length;
    auto it = overlay.pages.lower_bound(offset);
    while (it != overlay.pages.end() && it->first < stop) it = overlay.pages.erase(it);
    overlay.zeroRanges.emplace_back(offset, length);
}

// Sorted by offset, overlapping and touching ranges joined.
void finishZeroRanges(std::vector<std::pair<std::uint64_t, std::uint64_t>>& ranges) {
    std::sort(ranges.begin(), ranges.end());
    std::vector<std::pair<std::uint64_t, std::uint64_t>> joined;
    for (const auto& r : ranges) {
        if (!joined.empty() && r.first <= joined.back().first + joined.back().second) {
            auto& last = joined.back();
            last.second = std::max(last.first + last.second, r.first + r.second) - last.first;
        } else {
            joined.push_back(r);
        }
    }
    ranges = std::move(joined);
}

void replayEntry(ByteSpan log, const LogEntry& e, LogOverlay& overlay) {
    const ByteSpan entry = log.subspan(e.offset, e.length);
    std::uint64_t dataSector = descriptorSectors(e.descriptors);
    for (std::uint32_t i = 0; i < e.descriptors; ++i) {
        const std::size_t at = kLogEntryHeaderSize + std::size_t{i} * kLogDescriptorSize;
        const std::uint64_t fileOffset = le64(entry, at + 16);
        if (hasSignature(entry, at, "zero")) {
            addZeroRange(overlay, fileOffset, le64(entry, at + 8));
            continue;
        }
        // The sector as written: the descriptor keeps its first 8 and last 4 bytes, whose places
        // in the data sector hold the signature and the sequence number.
        const ByteSpan data = entry.subspan(dataSector * kLogSectorSize, kLogSectorSize);
        std::vector<std::uint8_t> page(data.begin(), data.end());
        std::memcpy(page.data(), entry.data() + at + 8, 8);
        std::memcpy(page.data() + kLogSectorSize - 4, entry.data() + at + 4, 4);
        overlay.pages[fileOffset] = std::move(page);
        ++dataSector;
    }
}

} // namespace

LogReplay replayLog(ByteSpan log, const Guid& logGuid) {
    LogReplay out;
    if (log.size() < kLogSectorSize || log.size() % kLogSectorSize != 0) {
        out.outcome = LogReplay::Outcome::Failed;
        out.problem = "the log region's length is not a whole number of 4 KiB sectors";
        return out;
    }
    std::uint64_t crcBudget = 8 * log.size() + 64 * MiB;
    std::map<std::uint64_t, LogEntry> valid;
    for (std::uint64_t at = 0; at < log.size(); at += kLogSectorSize)
        if (auto e = validEntryAt(log, at, logGuid, crcBudget)) valid.emplace(at, *e);
    if (valid.empty()) return out;

    std::vector<const LogEntry*> heads;
    for (const auto& [at, e] : valid) heads.push_back(&e);
    std::sort(heads.begin(), heads.end(),
              [](const LogEntry* a, const LogEntry* b) { return a->sequence > b->sequence; });
    for (const LogEntry* head : heads) {
        // The head's tail names the sequence's first entry; every entry from there on must be
        // valid and one sequence number on, until the head.
        std::vector<const LogEntry*> run;
        std::uint64_t at = head->tail;
        bool complete = false;
        for (std::size_t step = 0; step < valid.size(); ++step) {
            const auto it = valid.find(at);
            if (it == valid.end()) break;
            if (!run.empty() && it->second.sequence != run.back()->sequence + 1) break;
            run.push_back(&it->second);
            if (it->first == head->offset) {
                complete = it->second.sequence == head->sequence;
                break;
            }
            at = (at + it->second.length) % log.size();
        }
        if (!complete) continue;
        for (const LogEntry* e : run) replayEntry(log, *e, out.overlay);
        finishZeroRanges(out.overlay.zeroRanges);
        out.outcome = LogReplay::Outcome::Replayed;
        out.entries = run.size();
        out.firstSequence = run.front()->sequence;
        out.lastSequence = head->sequence;
        out.flushedFileOffset = head->flushedFileOffset;
        out.lastFileOffset = head->lastFileOffset;
        return out;
    }
    out.outcome = LogReplay::Outcome::Failed;
    out.problem = "the log holds entries but no complete sequence of them";
    return out;
}

} // namespace vindaru::vhdx
