// File content and size: the unnamed $DATA over the base record and its extension records,
// resident, plain, sparse and LZNT1-compressed data, and saving to a host file.
#include <algorithm>
#include <unordered_set>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "common/DisplayFormat.h"
#include "common/TimeConvert.h"
#include "fs/ntfs/ContentEmitter.h"
#include "fs/ntfs/Lznt1.h"
#include "fs/ntfs/RunListDecoder.h"
#include "fs/ntfs/ntfs.h"

namespace vindaru {

namespace {

constexpr std::uint64_t kRecordNumberMask = 0x0000FFFFFFFFFFFFull;
constexpr std::uint16_t kDataCompressed = 0x0001;
constexpr std::uint16_t kDataEncrypted = 0x4000;

// $ATTRIBUTE_LIST entry fields.
constexpr std::size_t kListType = 0x00;
constexpr std::size_t kListLength = 0x04;
constexpr std::size_t kListNameLength = 0x06;
constexpr std::size_t kListStartingVcn = 0x08;
constexpr std::size_t kListReference = 0x10;
constexpr std::size_t kListMinimumEntry = 0x1A;
// Attribute lists of real files stay far below this; a longer one is read up to it.
constexpr std::uint64_t kMaxAttributeListBytes = 4 * 1024 * 1024;

// Records around the one asked for are read in blocks of this size and kept for the next ask:
// listing a folder reads its children's records, which mostly lie close together.
constexpr std::size_t kRecordCacheBytes = 64 * 1024;
// Plain content is copied in pieces of this size.
constexpr std::size_t kCopyChunkBytes = 1024 * 1024;
// NTFS itself uses 16-cluster units; a unit of more than 2^8 clusters or 16 MiB is damage.
constexpr unsigned kMaxCompressionExponent = 8;
constexpr std::uint64_t kMaxCompressionUnitBytes = 16 * 1024 * 1024;

std::string dataState(std::uint16_t flags) {
    if (flags == kDataCompressed) return "Compressed";
    if (flags == kDataEncrypted) return "Encrypted";
    if (flags == 0) return "Normal";
    return {};
}

// Walks a cursor over runs cluster by cluster: the LCN of each VCN, -1 for a sparse cluster.
class RunCursor {
public:
    explicit RunCursor(const std::vector<ClusterRun>& runs) : runs_(runs) {}
    bool next(std::int64_t& lcn) {
        while (run_ < runs_.size() && within_ >= runs_[run_].clusterCount) {
            ++run_;
            within_ = 0;
        }
        if (run_ >= runs_.size()) return false;
        const ClusterRun& r = runs_[run_];
        lcn = r.sparse ? -1 : r.lcn + static_cast<std::int64_t>(within_);
        ++within_;
        return true;
    }

private:
    const std::vector<ClusterRun>& runs_;
    std::size_t run_ = 0;
    std::uint64_t within_ = 0;
};

} // namespace

void ntfs::forgetEntryCaches() {
    recordCacheValid_ = false;
    loadedValid_ = false;
    lastDescribed_.reset();
    lastSizedIndex_ = ~0ull;
}

ByteSpan ntfs::cachedRecord(std::uint64_t position) {
    if (recordCacheValid_ && position >= recordCacheStart_ &&
        position - recordCacheStart_ + recordSize <= recordCache_.size())
        return ByteSpan(recordCache_).subspan(position - recordCacheStart_, recordSize);
    recordCacheValid_ = false;
    const std::uint64_t blockStart = position - position % kRecordCacheBytes;
    if (position - blockStart + recordSize <= kRecordCacheBytes) {
        recordCache_.resize(kRecordCacheBytes);
        if (readAt(blockStart, recordCache_)) {
            recordCacheStart_ = blockStart;
            recordCacheValid_ = true;
            return ByteSpan(recordCache_).subspan(position - blockStart, recordSize);
        }
    }
    recordCache_.resize(recordSize);
    if (!readAt(position, recordCache_)) return {};
    recordCacheStart_ = position;
    recordCacheValid_ = true;
    return ByteSpan(recordCache_);
}

std::optional<MftRecord> ntfs::readRecord(std::uint64_t index) {
    const MftRecord* record = loadRecord(index);
    if (record == nullptr) return std::nullopt;
    return *record;
}

// The list asks for an entry's times and then its size: both come from one load of its record.
const MftRecord* ntfs::loadRecord(std::uint64_t index) {
    if (index >= entries.size()) return nullptr;
    // An extra name reads the record of the entry it stands for.
    if (entries[index].aliasOf < entries.size()) index = entries[index].aliasOf;
    if (loadedValid_ && loadedIndex_ == index) return &loaded_;
    loadedValid_ = false;
    if (splitSlots_.contains(index)) {
        std::vector<std::uint8_t> raw(recordSize);
        if (!readSlot(index, raw)) return nullptr;
        loaded_.load(raw);
    } else {
        const ByteSpan raw = cachedRecord(entries[index].recordPosition);
        if (raw.empty()) return nullptr;
        loaded_.load(raw);
    }
    loadedIndex_ = index;
    loadedValid_ = true;
    return &loaded_;
}

// Reads out.size() bytes from cluster `lcn` on; what cannot be read is zeros.
bool ntfs::readClusters(std::int64_t lcn, std::span<std::uint8_t> out) {
    std::uint64_t position = 0;
    if (lcn < 0 || !checkedMul(static_cast<std::uint64_t>(lcn), clusterSize, position)) {
        std::fill(out.begin(), out.end(), 0);
        return false;
    }
    if (!readAt(position, out)) {
        std::fill(out.begin(), out.end(), 0);
        return false;
    }
    return true;
}

// The bytes of a non-resident attribute (used for attribute lists), up to `limit` bytes.
std::vector<std::uint8_t> ntfs::readNonResidentBytes(const MftRecord& record,
                                                     const AttributeHeader& h, std::uint64_t limit) {
    std::vector<std::uint8_t> bytes;
    if (clusterSize == 0) return bytes;
    std::vector<ClusterRun> runs;
    RunListDecoder decoder;
    decoder.decode(MftRecord::runListBytes(record.fixed(), h),
                   le64(h.bytes, kAttrLastVcn) - le64(h.bytes, kAttrFirstVcn) + 1, runs);
    const std::uint64_t size = std::min(le64(h.bytes, kAttrRealSize), limit);
    DataAttributeInfo info;
    info.runs = std::move(runs);
    info.realSize = size;
    info.initializedSize = size;
    const ContentSink sink = [&bytes](std::span<const std::uint8_t> data) {
        bytes.insert(bytes.end(), data.begin(), data.end());
        return true;
    };
    ContentEmitter out(sink, size, size);
    writePlainRuns(info, out);
    return bytes;
}

std::vector<AttributeListItem> ntfs::readAttributeList(const MftRecord& record) {
    std::vector<AttributeListItem> items;
    walkAttributeList(record, [&items](ByteSpan list, std::size_t pos) {
        if (le32(list, pos + kListType) != kAttrData) return;
        AttributeListItem item;
        item.recordNumber = le64(list, pos + kListReference) & kRecordNumberMask;
        item.startingVcn = le64(list, pos + kListStartingVcn);
        item.nameLength = u8(list, pos + kListNameLength);
        items.push_back(item);
    });
    return items;
}

bool ntfs::namesFileNameElsewhere(const MftRecord& record, std::uint64_t recordNumber) {
    bool found = false;
    walkAttributeList(record, [&](ByteSpan list, std::size_t pos) {
        found = found || (le32(list, pos + kListType) == kAttrFileName &&
                          (le64(list, pos + kListReference) & kRecordNumberMask) != recordNumber);
    });
    return found;
}

void ntfs::walkAttributeList(const MftRecord& record,
                             const std::function<void(ByteSpan, std::size_t)>& visit) {
    for (const AttributeHeader& h : record.attributes()) {
        if (h.type != kAttrAttributeList) continue;
        std::vector<std::uint8_t> owned;
        ByteSpan list;
        if (h.nonResident) {
            owned = readNonResidentBytes(record, h, kMaxAttributeListBytes);
            list = owned;
        } else {
            list = MftRecord::residentContent(record.fixed(), h);
        }
        // Every entry must lie wholly inside the list; a zero length or an end type stops.
        std::size_t pos = 0;
        while (fits(list, pos, kListMinimumEntry)) {
            const std::uint32_t type = le32(list, pos + kListType);
            const std::uint16_t length = le16(list, pos + kListLength);
            if (type == kAttrEnd || type == 0 || length < kListMinimumEntry || !fits(list, pos, length))
                break;
            visit(list, pos);
            pos += length;
        }
    }
}

void ntfs::takeDataAttributes(const MftRecord& record, DataAttributeInfo& info,
                              std::vector<DataExtent>& extents, bool& haveSizes) {
    for (const AttributeHeader& h : record.attributes()) {
        // A named $DATA is an alternate stream, never the file's content.
        if (h.type != kAttrData || h.nameLength != 0) continue;
        if (!h.nonResident) {
            if (!extents.empty() || info.residency == 'R') continue;
            const ByteSpan content = MftRecord::residentContent(record.fixed(), h);
            info.residency = 'R';
            info.state = "Normal";
            info.offset = h.offset + le16(h.bytes, kAttrContentOffset);
            info.length = static_cast<std::uint32_t>(content.size());
            info.residentBytes.assign(content.begin(), content.end());
            continue;
        }
        DataExtent extent;
        extent.firstVcn = le64(h.bytes, kAttrFirstVcn);
        extent.lastVcn = le64(h.bytes, kAttrLastVcn);
        RunListDecoder decoder;
        decoder.decode(MftRecord::runListBytes(record.fixed(), h),
                       extent.lastVcn - extent.firstVcn + 1, extent.runs);
        // The sizes live in the extent that starts the attribute.
        if (!haveSizes && (extent.firstVcn == 0 || extents.empty())) {
            haveSizes = extent.firstVcn == 0;
            info.attributeFlags = h.flags;
            info.state = dataState(h.flags);
            info.offset = le16(h.bytes, kAttrRunListOffset);
            info.length = h.length - std::min<std::uint32_t>(h.length, info.offset);
            info.compressionUnitExponent = le16(h.bytes, kAttrCompressionUnit);
            info.firstVcn = extent.firstVcn;
            info.lastVcn = extent.lastVcn;
            info.allocatedSize = le64(h.bytes, kAttrAllocatedSize);
            info.realSize = le64(h.bytes, kAttrRealSize);
            info.initializedSize = le64(h.bytes, kAttrInitializedSize);
        }
        extents.push_back(std::move(extent));
    }
}

// Puts the extents in VCN order and concatenates their runs; a gap between extents reads as
// zeros so that every later cluster stays at its VCN; an overlapping extent is dropped.
void ntfs::joinExtents(std::vector<DataExtent>& extents, DataAttributeInfo& info) const {
    std::stable_sort(extents.begin(), extents.end(),
                     [](const DataExtent& a, const DataExtent& b) { return a.firstVcn < b.firstVcn; });
    const std::uint64_t cs = clusterSize != 0 ? clusterSize : 1;
    const std::uint64_t neededClusters = info.realSize / cs + 1;
    info.runs.clear();
    std::uint64_t vcn = 0;
    for (const DataExtent& extent : extents) {
        if (extent.firstVcn < vcn) continue;
        // A gap stands for a missing extent; one wider than the file or than a run is damage.
        if (extent.firstVcn - vcn > std::min<std::uint64_t>(neededClusters, 0xFFFFFFFFu)) break;
        while (vcn < extent.firstVcn) {
            const std::uint64_t gap = std::min<std::uint64_t>(extent.firstVcn - vcn, 0xFFFFFFFFu);
            info.runs.push_back(ClusterRun{0, static_cast<std::uint32_t>(gap), true});
            vcn += gap;
        }
        for (const ClusterRun& r : extent.runs) {
            info.runs.push_back(r);
            vcn += r.clusterCount;
        }
    }
}

// From the header fields the scan kept: no record is read. The base must be a base record that
// is still this file's (its sequence number agrees, or it was freed once with the file).
std::uint64_t ntfs::baseRecordIndex(std::uint64_t index) {
    if (index >= entries.size()) return index;
    if (entries[index].aliasOf < entries.size()) index = entries[index].aliasOf;
    const MftEntry& e = entries[index];
    if (e.baseReference == 0) return index;
    const std::uint64_t base = indexOfRecordNumber(e.baseReference & kRecordNumberMask);
    if (base == index || base >= entries.size()) return index;
    const MftEntry& b = entries[base];
    if (!b.hasFileSignature() || b.baseReference != 0) return index;
    const auto sequence = static_cast<std::uint16_t>(e.baseReference >> 48);
    const std::uint16_t next = sequence == 0xFFFF ? 1 : static_cast<std::uint16_t>(sequence + 1);
    const bool sameFile = sequence == 0 || b.sequence == sequence ||
                          ((b.recordFlags & 0x0001) == 0 && b.sequence == next);
    return sameFile ? base : index;
}

DataAttributeInfo ntfs::dataAttributeInfo(std::uint64_t entryIndex) {
    DataAttributeInfo info;
    // A name kept in an extension record stands for the file whose base record holds the rest.
    const std::uint64_t index = baseRecordIndex(entryIndex);
    const MftRecord* record = loadRecord(index);
    if (record == nullptr || !record->hasFileSignature()) return info;
    std::vector<DataExtent> extents;
    bool haveSizes = false;
    takeDataAttributes(*record, info, extents, haveSizes);
    // The base record is not used past this point: loading extension records replaces it.
    const std::vector<AttributeListItem> items = record->hasAttributeList() ? readAttributeList(*record)
                                                                           : std::vector<AttributeListItem>{};
    std::unordered_set<std::uint64_t> done;
    if (!items.empty()) done.insert(index);
    for (const AttributeListItem& item : items) {
        const std::uint64_t extensionIndex = indexOfRecordNumber(item.recordNumber);
        if (item.nameLength != 0 || !done.insert(extensionIndex).second) continue;
        const MftRecord* extension = loadRecord(extensionIndex);
        // An extension record must still belong to this file (its record may have been reused).
        if (extension == nullptr || !extension->hasFileSignature() ||
            indexOfRecordNumber(le64(extension->fixed(), kRecordBaseReference) & kRecordNumberMask) != index)
            continue;
        takeDataAttributes(*extension, info, extents, haveSizes);
        info.fromAttributeList = true;
    }
    if (!extents.empty()) {
        info.residency = 'N';
        info.residentBytes.clear();
        joinExtents(extents, info);
    }
    return info;
}

std::vector<std::int64_t> ntfs::dataClusterList(std::uint64_t index, std::size_t maxClusters) {
    std::vector<std::int64_t> clusters;
    const DataAttributeInfo info = dataAttributeInfo(index);
    RunCursor cursor(info.runs);
    std::int64_t lcn = 0;
    while (clusters.size() < maxClusters && cursor.next(lcn)) clusters.push_back(lcn);
    return clusters;
}

bool ntfs::writePlainRuns(const DataAttributeInfo& info, ContentEmitter& out) {
    if (clusterSize == 0) return false;
    std::vector<std::uint8_t> buffer;
    const std::uint64_t perRead = std::max<std::uint64_t>(1, kCopyChunkBytes / clusterSize);
    for (const ClusterRun& run : info.runs) {
        if (!out.wantsMore()) break;
        if (run.sparse) {
            std::uint64_t bytes = 0;
            out.emitZeros(checkedMul(run.clusterCount, clusterSize, bytes) ? bytes : ~0ull);
            continue;
        }
        for (std::uint64_t done = 0; done < run.clusterCount && out.wantsMore();) {
            // Read no more than the file still needs.
            const std::uint64_t left = info.realSize - out.written();
            const std::uint64_t need = (left + clusterSize - 1) / clusterSize;
            const std::uint64_t n = std::min({perRead, run.clusterCount - done, need});
            buffer.resize(static_cast<std::size_t>(n * clusterSize));
            // A cluster that cannot be read is given as zeros, so later bytes keep their place.
            readClusters(run.lcn + static_cast<std::int64_t>(done), buffer);
            out.emit(buffer);
            done += n;
        }
    }
    return out.sinkOk();
}

bool ntfs::writeCompressedRuns(const DataAttributeInfo& info, ContentEmitter& out) {
    if (info.compressionUnitExponent > kMaxCompressionExponent || clusterSize == 0) return false;
    const std::uint64_t unitClusters = 1ull << info.compressionUnitExponent;
    std::uint64_t unitBytes = 0;
    if (!checkedMul(unitClusters, clusterSize, unitBytes) || unitBytes > kMaxCompressionUnitBytes)
        return false;
    std::vector<std::uint8_t> raw(static_cast<std::size_t>(unitBytes));
    std::vector<std::uint8_t> decoded(static_cast<std::size_t>(unitBytes));
    std::vector<std::int64_t> lcns(static_cast<std::size_t>(unitClusters));
    RunCursor cursor(info.runs);
    while (out.wantsMore()) {
        std::size_t got = 0;
        for (; got < lcns.size() && cursor.next(lcns[got]); ++got) {}
        if (got == 0) break;
        std::fill(lcns.begin() + static_cast<std::ptrdiff_t>(got), lcns.end(), -1);
        std::size_t allocated = 0; // 1-based position of the unit's last allocated cluster
        for (std::size_t k = 0; k < lcns.size(); ++k)
            if (lcns[k] >= 0) allocated = k + 1;
        if (allocated == 0) {
            out.emitZeros(unitBytes);
            continue;
        }
        // Gather the allocated clusters, reading consecutive LCNs in one piece.
        std::fill(raw.begin(), raw.end(), 0);
        for (std::size_t k = 0; k < allocated;) {
            if (lcns[k] < 0) {
                ++k;
                continue;
            }
            std::size_t m = 1;
            while (k + m < allocated && lcns[k + m] == lcns[k] + static_cast<std::int64_t>(m)) ++m;
            readClusters(lcns[k],
                         std::span(raw).subspan(static_cast<std::size_t>(k * clusterSize),
                                                static_cast<std::size_t>(m * clusterSize)));
            k += m;
        }
        if (allocated == lcns.size()) { // stored as it is
            out.emit(raw);
            continue;
        }
        // The unit is compressed; whatever it does not decode to reads as zeros.
        std::fill(decoded.begin(), decoded.end(), 0);
        lznt1Decompress(std::span<const std::uint8_t>(raw).first(static_cast<std::size_t>(allocated * clusterSize)),
                        decoded);
        out.emit(decoded);
    }
    return out.sinkOk();
}

bool ntfs::writeFromRuns(const DataAttributeInfo& info, const ContentSink& sink) {
    ContentEmitter out(sink, info.realSize, info.initializedSize);
    const bool compressed = (info.attributeFlags & kDataCompressed) != 0 && info.compressionUnitExponent != 0;
    return compressed ? writeCompressedRuns(info, out) : writePlainRuns(info, out);
}

bool ntfs::writeEntryContent(std::uint64_t index, const ContentSink& sink) {
    const MftRecord* record = loadRecord(baseRecordIndex(index));
    if (record == nullptr || !record->hasFileSignature()) return false;
    if (isDirectory(index)) return true; // a directory's content is its index, not file data
    const DataAttributeInfo info = dataAttributeInfo(index);
    if (info.residency == 'R') return info.residentBytes.empty() || sink(info.residentBytes);
    if (info.residency == 'N') return writeFromRuns(info, sink);
    return true;
}

std::uint64_t ntfs::entrySize(std::uint64_t index) {
    if (isDirectory(index)) return 0;
    // The list asks for the size text and the byte count of the same entry one after another.
    if (lastSizedIndex_ != index) {
        lastSize_ = dataAttributeInfo(index).contentSize();
        lastSizedIndex_ = index;
    }
    return lastSize_;
}

std::string ntfs::formatEntrySize(std::uint64_t index) { return formatSizeText(entrySize(index)); }

bool ntfs::saveEntry(std::uint64_t index, const std::filesystem::path& destination) {
    if (!hasName(index)) return false;
    const int fd = ::open(destination.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    bool writeOk = true;
    const ContentSink sink = [fd, &writeOk](std::span<const std::uint8_t> data) {
        std::size_t done = 0;
        while (done < data.size()) {
            const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                writeOk = false;
                return false;
            }
            done += static_cast<std::size_t>(n);
        }
        return true;
    };
    const bool ok = writeEntryContent(index, sink);
    const EntryDescription d = describeEntry(index);
    if (d.hasTimes) {
        // Linux keeps no creation time; access and modification come from the record.
        auto toTimespec = [](std::uint64_t filetime) {
            timespec t{};
            t.tv_sec = static_cast<time_t>(filetimeToUnix(filetime));
            t.tv_nsec = static_cast<long>((filetime % 10000000ULL) * 100);
            return t;
        };
        const timespec times[2] = {toTimespec(d.accessTime), toTimespec(d.modificationTime)};
        ::futimens(fd, times);
    }
    ::close(fd);
    return ok && writeOk;
}

} // namespace vindaru
