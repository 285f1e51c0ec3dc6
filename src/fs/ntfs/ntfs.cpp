// Boot sector, MFT location, the MFT's run list and the reading of every MFT record slot.
#include "fs/ntfs/ntfs.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstring>
#include <limits>

#include "common/DisplayFormat.h"
#include "common/ScratchBuffer.h"
#include "fs/ntfs/RunListDecoder.h"
#include "volume/VolumeSweep.h"

namespace vindaru {

namespace {

// Boot sector fields.
constexpr std::size_t kBootSectorSize = 512;
constexpr std::size_t kBootOemSignature = 0x03;
constexpr std::size_t kBootBytesPerSector = 0x0B;
constexpr std::size_t kBootSectorsPerCluster = 0x0D;
constexpr std::size_t kBootTotalSectors = 0x28;
constexpr std::size_t kBootMftCluster = 0x30;
constexpr std::size_t kBootClustersPerRecord = 0x40;

constexpr std::uint64_t kMinSectorBytes = 512;
constexpr std::uint64_t kMaxSectorBytes = 4096;
// Larger clusters than this (2 MiB, the most any writer makes) are damage.
constexpr std::uint64_t kMaxClusterBytes = 2 * 1024 * 1024;


constexpr std::uint64_t kDefaultClusterSize = 4096;
// MFT slots are read this many bytes at a time.
constexpr std::size_t kMftChunkBytes = 4 * 1024 * 1024;
// The entry table never grows past one slot per KiB of volume, and never past this many slots
// (an MFT of 128 GiB), whatever the runs claim; small volumes still get a useful minimum.
constexpr std::uint64_t kMaxEntries = 1ull << 27;
constexpr std::uint64_t kMinEntryCap = 1ull << 16;
// The entry table is reserved up front for at most this many slots; beyond, it grows as read.
constexpr std::uint64_t kMaxReservedEntries = 1ull << 16;

std::uint64_t saturatingMul(std::uint64_t a, std::uint64_t b) {
    std::uint64_t out = 0;
    return checkedMul(a, b, out) ? out : std::numeric_limits<std::uint64_t>::max();
}

} // namespace

ntfs::ntfs(const ByteSource& disk, VolumeRecord v, StatusSink* status, ProgressSink* progress)
    : volume(std::move(v)), reader(volumeSlice(disk, volume)), status_(status ? status : &nullStatus_),
      progress_(progress ? progress : &nullProgress_) {}

bool ntfs::readAt(std::uint64_t position, std::span<std::uint8_t> out) {
    if (position > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
        std::fill(out.begin(), out.end(), 0);
        return false;
    }
    return reader.readAt(position, out);
}

bool ntfs::hasNtfsSignature() const {
    return bootSector.size() >= kBootSectorSize &&
           std::memcmp(bootSector.data() + kBootOemSignature, "NTFS", 4) == 0;
}

bool ntfs::readBootSector() {
    bootSector.assign(kBootSectorSize, 0);
    readAt(0, bootSector);
    if (hasNtfsSignature()) {
        volumeSize = saturatingMul(le64(bootSector, kBootTotalSectors), bootSectorBytes());
        recordSize = bootRecordSize();
    } else {
        volumeSize = volumeLength(volume, reader);
    }
    return volumeSize != 0;
}

// Bytes per sector: 512 to 4096, a power of two; anything else is taken as 512.
std::uint64_t ntfs::bootSectorBytes() const {
    if (bootSector.size() < kBootSectorSize) return kSectorSize;
    const std::uint64_t bytes = le16(bootSector, kBootBytesPerSector);
    return bytes >= kMinSectorBytes && bytes <= kMaxSectorBytes && isPowerOfTwo(bytes) ? bytes : kSectorSize;
}

// Sectors per cluster are a count up to 0x80; above, the byte is a negative power of two
// (0xF4 is 2^12 sectors), as formatters write it for clusters of 128 KiB and more.
std::uint64_t ntfs::bootClusterSize() const {
    if (bootSector.size() < kBootSectorSize) return kDefaultClusterSize;
    const std::uint8_t field = u8(bootSector, kBootSectorsPerCluster);
    const std::uint64_t sectors = field <= 0x80 ? field : 1ull << std::min(256 - field, 32);
    const std::uint64_t bytes = sectors * bootSectorBytes();
    return bytes <= kMaxClusterBytes ? bytes : 0;
}

// The MFT record size: a cluster count when positive, 2^-n bytes when negative; a size that is
// not a power of two from 1024 to 4096 bytes is taken as 1024.
std::uint32_t ntfs::bootRecordSize() const {
    if (bootSector.size() < kBootSectorSize) return kMftRecordSize;
    const auto field = static_cast<std::int8_t>(u8(bootSector, kBootClustersPerRecord));
    std::uint64_t bytes = 0;
    if (field > 0) bytes = static_cast<std::uint64_t>(field) * bootClusterSize();
    else if (field < 0 && field > -32) bytes = 1ull << -field;
    return bytes >= kMftRecordSize && bytes <= kMaxMftRecordSize && isPowerOfTwo(bytes)
               ? static_cast<std::uint32_t>(bytes)
               : static_cast<std::uint32_t>(kMftRecordSize);
}

bool ntfs::locateMft() {
    clusterSize = bootClusterSize();
    if (!hasNtfsSignature()) return scanCorruptBoot();
    recordSize = bootRecordSize();
    mftRunKnown = true;
    std::uint64_t position = 0;
    if (!checkedMul(le64(bootSector, kBootMftCluster), clusterSize, position) ||
        position > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()))
        return true; // the MFT cannot be reached: no runs, no entries
    setStatus("boot sector is fine.Getting run of mft entry...");
    mftRuns = getAttributeRuns(position, kAttrData);
    addMftExtensionRuns(position);
    setStatus("Got run...");
    runPending = false;
    return true;
}

std::vector<ClusterRun> ntfs::getAttributeRuns(std::uint64_t position, std::uint32_t type) {
    std::vector<ClusterRun> runs;
    std::vector<std::uint8_t> raw(recordSize);
    if (!readAt(position, raw)) return runs;
    MftRecord record;
    record.load(raw);
    RunListDecoder decoder; // the running LCN and total are not reset between attributes
    for (const AttributeHeader& h : record.attributes()) {
        if (h.type != type || !h.nonResident) continue;
        runClusterCount = static_cast<std::uint32_t>(le64(h.bytes, kAttrLastVcn) -
                                                     le64(h.bytes, kAttrFirstVcn) + 1);
        if (!decoder.decode(MftRecord::runListBytes(record.fixed(), h), runClusterCount, runs))
            return runs;
    }
    return runs;
}

// A much fragmented MFT keeps the rest of its run list in extension records that its own
// $ATTRIBUTE_LIST names; without them every record past the first extent would be lost. The
// extension records lie in the part of the MFT already mapped, so each is found through the
// runs known so far, and its runs are appended when its extent starts where the known ones end.
void ntfs::addMftExtensionRuns(std::uint64_t position) {
    std::vector<std::uint8_t> raw(recordSize);
    if (mftRuns.empty() || clusterSize == 0 || !readAt(position, raw)) return;
    MftRecord base;
    base.load(raw);
    std::vector<AttributeListItem> items = readAttributeList(base);
    std::erase_if(items, [](const AttributeListItem& i) { return i.nameLength != 0 || i.startingVcn == 0; });
    std::stable_sort(items.begin(), items.end(),
                     [](const AttributeListItem& a, const AttributeListItem& b) { return a.startingVcn < b.startingVcn; });
    std::uint64_t nextVcn = 0;
    for (const ClusterRun& r : mftRuns) nextVcn += r.clusterCount;
    for (const AttributeListItem& item : items) {
        if (item.startingVcn != nextVcn) continue;
        const auto where = mftRecordPosition(item.recordNumber);
        if (!where || !readAt(*where, raw)) break;
        MftRecord extension;
        extension.load(raw);
        if (!extension.hasFileSignature()) break;
        bool extended = false;
        for (const AttributeHeader& h : extension.attributes()) {
            if (h.type != kAttrData || !h.nonResident || h.nameLength != 0 ||
                le64(h.bytes, kAttrFirstVcn) != nextVcn)
                continue;
            RunListDecoder decoder;
            std::vector<ClusterRun> runs;
            decoder.decode(MftRecord::runListBytes(extension.fixed(), h),
                           le64(h.bytes, kAttrLastVcn) - nextVcn + 1, runs);
            for (const ClusterRun& r : runs) nextVcn += r.clusterCount;
            mftRuns.insert(mftRuns.end(), runs.begin(), runs.end());
            extended = !runs.empty();
            break;
        }
        if (!extended) break;
    }
}

// Where MFT record `number` lies on the volume, through the MFT runs known so far; nullopt when
// they do not reach it or the record is not in one piece.
std::optional<std::uint64_t> ntfs::mftRecordPosition(std::uint64_t number) const {
    std::uint64_t byte = 0;
    if (!checkedMul(number, recordSize, byte)) return std::nullopt;
    for (const ClusterRun& r : mftRuns) {
        std::uint64_t runBytes = 0;
        if (!checkedMul(r.clusterCount, clusterSize, runBytes)) return std::nullopt;
        if (byte < runBytes) {
            std::uint64_t start = 0;
            if (r.lcn < 0 || byte + recordSize > runBytes ||
                !checkedMul(static_cast<std::uint64_t>(r.lcn), clusterSize, start))
                return std::nullopt;
            return start + byte;
        }
        byte -= runBytes;
    }
    return std::nullopt;
}

std::uint64_t ntfs::maxEntries() const {
    return std::clamp<std::uint64_t>(volumeSize / recordSize, kMinEntryCap, kMaxEntries);
}

void ntfs::appendSlot(ByteSpan raw, std::uint64_t position) {
    MftEntry e;
    std::copy_n(raw.begin(), 4, e.signature.begin());
    e.recordPosition = position;
    e.selfIndex = entries.size();
    entries.push_back(e);
}

// The MFT's data is the concatenation of its runs, and record n is its bytes n * 1024 onwards.
// With clusters of 1024 bytes or more every record lies inside one cluster; with 512-byte
// clusters a run of an odd number of clusters ends in the middle of a record, whose second half
// is the start of the next run: such a record is kept as its pieces and joined when read.
// Whole records are read in chunks of several MiB; a chunk that cannot be read is retried slot by
// slot, a slot that cannot be read is skipped, and a run whose first slot cannot be read has left
// the disk (a reader fails only past its end), so the rest of that run is skipped at once.
void ntfs::readRunSlots(const ClusterRun& run, ScratchBuffer& chunkBuffer, SlotPieces& carry) {
    std::uint64_t runStart = 0;
    std::uint64_t runBytes = 0;
    if (run.lcn < 0 || !checkedMul(static_cast<std::uint64_t>(run.lcn), clusterSize, runStart) ||
        !checkedMul(run.clusterCount, clusterSize, runBytes) ||
        runStart > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()) - runBytes) {
        carry.clear(); // the record being joined cannot be completed
        return;
    }
    std::uint64_t offset = 0;
    // Finish the record the previous run began.
    if (!carry.empty()) {
        std::uint64_t have = 0;
        for (const auto& piece : carry) have += piece.second;
        const std::uint64_t need = std::min<std::uint64_t>(recordSize - have, runBytes);
        carry.emplace_back(runStart, static_cast<std::uint32_t>(need));
        offset = need;
        if (have + need == recordSize) {
            appendJoinedSlot(carry);
            carry.clear();
        }
    }
    std::vector<std::uint8_t> one(recordSize);
    while (offset + recordSize <= runBytes && entries.size() < maxEntries()) {
        if (stopped()) return;
        const std::uint64_t slots = std::min<std::uint64_t>((runBytes - offset) / recordSize,
                                                            kMftChunkBytes / recordSize);
        const std::uint64_t first = runStart + offset;
        const std::span<std::uint8_t> chunk = chunkBuffer.first(static_cast<std::size_t>(slots * recordSize));
        if (first + chunk.size() <= reader.size() && reader.isHole(first, chunk.size())) {
            // Slots a sparse image does not store read as zeros and hold no record: their
            // entries are left empty, unread.
            constexpr std::array<std::uint8_t, 4> kNoSignature{};
            for (std::uint64_t k = 0; k < slots && entries.size() < maxEntries(); ++k)
                appendSlot(kNoSignature, first + k * recordSize);
        } else if (readAt(first, chunk)) {
            for (std::uint64_t k = 0; k < slots && entries.size() < maxEntries(); ++k)
                appendParsedSlot(chunk.subspan(k * recordSize, recordSize), first + k * recordSize);
        } else {
            if (!readAt(first, one)) return; // past the end of the disk
            for (std::uint64_t k = 0; k < slots && entries.size() < maxEntries(); ++k)
                if (readAt(first + k * recordSize, one)) appendParsedSlot(one, first + k * recordSize);
        }
        offset += slots * recordSize;
    }
    if (offset < runBytes && entries.size() < maxEntries())
        carry.emplace_back(runStart + offset, static_cast<std::uint32_t>(runBytes - offset));
}

// The slots are parsed as they are read, so the scan reads the MFT once.
void ntfs::appendParsedSlot(ByteSpan raw, std::uint64_t position) {
    appendSlot(raw, position);
    parseRecordAttributes(raw, entries.size() - 1, true);
}

void ntfs::appendJoinedSlot(const SlotPieces& pieces) {
    std::vector<std::uint8_t> raw(recordSize);
    if (!readPieces(pieces, raw)) return;
    splitSlots_.emplace(entries.size(), pieces);
    appendParsedSlot(raw, pieces.front().first);
}

bool ntfs::readPieces(const SlotPieces& pieces, std::span<std::uint8_t> out) {
    std::size_t at = 0;
    bool ok = true;
    for (const auto& [position, length] : pieces) {
        if (at + length > out.size()) return false;
        ok = readAt(position, out.subspan(at, length)) && ok;
        at += length;
    }
    return ok;
}

bool ntfs::readSlot(std::uint64_t index, std::span<std::uint8_t> out) {
    if (index >= entries.size()) return false;
    const auto split = splitSlots_.find(index);
    if (split != splitSlots_.end()) return readPieces(split->second, out);
    return readAt(entries[index].recordPosition, out);
}

void ntfs::readMftByRuns() {
    if (!mftRunKnown || stopped()) return;
    if (clusterSize == 0) clusterSize = kDefaultClusterSize;
    if (runPending && !entries.empty()) {
        setStatus("getting run of mft...");
        mftRuns = getAttributeRuns(entries[0].recordPosition, kAttrData);
        setStatus("got run...");
    }
    // Slots found by an earlier step are read afresh, so that an index is a record number.
    entries.clear();
    forgetEntryCaches();
    splitSlots_.clear();
    extraNames_.clear();
    slotsParsed_ = true;
    // Room for the slots the runs describe, up to a bound: the runs come from disk.
    std::uint64_t mftBytes = 0;
    for (const ClusterRun& run : mftRuns) {
        std::uint64_t runBytes = 0;
        if (!checkedMul(run.clusterCount, clusterSize, runBytes) || !checkedAdd(mftBytes, runBytes, mftBytes)) {
            mftBytes = ~0ull;
            break;
        }
    }
    entries.reserve(static_cast<std::size_t>(std::min({mftBytes / recordSize + 1, maxEntries(), kMaxReservedEntries})));
    ScratchBuffer chunk;
    SlotPieces carry;
    for (const ClusterRun& run : mftRuns) {
        setStatus(formatText("parsing %d cluster of MFT run.", static_cast<int>(run.lcn)));
        if (stopped()) return;
        readRunSlots(run, chunk, carry);
        if (entries.size() >= maxEntries()) return;
    }
}

} // namespace vindaru
