// The sector scans that find MFT records without the MFT's run list: the corrupt-boot-sector
// scan, the deep scan and the candidate search. All three share one loop that reads the volume
// in 10 MiB chunks and checks every 512-byte boundary for a record; a record found is parsed
// from the bytes already read whenever it lies inside them.
#include <algorithm>
#include <cctype>
#include <cstring>
#include <functional>
#include <limits>
#include <new>

#include "common/DisplayFormat.h"
#include "fs/ntfs/ntfs.h"

namespace vindaru {

namespace {

// One chunk is one progress step and one stop check of the described loop.
constexpr std::uint64_t kScanChunkBytes = 0xA00000;
// The chunk is read in pieces of this size, so the bytes the record checks touch are still in
// the cache; the offsets and progress are those of the whole chunk.
constexpr std::uint64_t kScanPieceBytes = 1024 * 1024;
// A piece the reader refuses is retried in parts of this size; parts that fail read as zeros.
constexpr std::uint64_t kRetryPartBytes = 64 * 1024;
constexpr std::uint64_t kScanStep = 512;
// Record header offsets at or above this are not a record's (the deep and candidate checks).
constexpr std::uint16_t kHeaderOffsetLimit = 512;

constexpr std::uint64_t kDefaultClusterSize = 4096;
constexpr std::uint64_t kMegabyte = 1048576;
constexpr std::uint64_t kCorruptBootProgressEvery = 100;
// The deep scan shows one of this many "Found" texts (and always the last one): the texts are
// the described ones, a volume of a million records just does not send a million of them.
constexpr std::uint64_t kDeepStatusEvery = 256;
// Record 7 of an MFT is $Boot: a candidate is the record this many slots before it.
constexpr std::uint64_t kBootRecordDistance = 8;

// NTFS 3.1 record headers: the update-sequence array follows the record's own number.
constexpr std::uint16_t kRecordHeaderSize31 = 0x30;
constexpr std::size_t kRecordNumber = 0x2C;

constexpr std::size_t kBootOemSignature = 0x03;
constexpr std::size_t kBootBytesPerSector = 0x0B;
constexpr std::size_t kBootSectorsPerCluster = 0x0D;

bool hasFileSignature(const std::uint8_t* p) {
    return p[0] == 'F' && p[1] == 'I' && p[2] == 'L' && p[3] == 'E';
}

bool passesLayoutCheck(ByteSpan sector) {
    return le16(sector, kRecordUsaOffset) < kHeaderOffsetLimit &&
           le16(sector, kRecordUsaCount) < kHeaderOffsetLimit &&
           le16(sector, kRecordFirstAttribute) < kHeaderOffsetLimit;
}

bool startsWith(std::u16string_view name, std::u16string_view prefix) {
    return name.size() >= prefix.size() && name.substr(0, prefix.size()) == prefix;
}

// Leading decimal digits of a size text; 0 for none, saturating.
std::uint64_t sizeTextMegabytes(const std::string& text) {
    std::uint64_t value = 0;
    for (char c : text) {
        if (!std::isdigit(static_cast<unsigned char>(c))) break;
        if (!checkedMul(value, 10, value) ||
            !checkedAdd(value, static_cast<std::uint64_t>(c - '0'), value))
            return std::numeric_limits<std::uint64_t>::max() / kMegabyte;
    }
    return value;
}

} // namespace

struct ntfs::ScanPass {
    // Chunks start below this position.
    std::uint64_t end = 0;
    // Nothing at or past this position is read: the volume's end.
    std::uint64_t limit = 0;
    std::uint64_t progressEvery = 1;
    // Also require the header's three offsets below 512 (deep scan and candidate search).
    bool layoutCheck = false;
    // A record that passed the check: its position and its 1024 bytes when the piece read holds
    // them all (empty otherwise). Returns false to end the scan.
    std::function<bool(std::uint64_t position, ByteSpan record)> found;
    std::uint64_t chunks = 0;
};

// The cluster size of the scans: the boot sector's when it is an NTFS boot sector giving one.
static std::uint64_t scanClusterSize(const std::vector<std::uint8_t>& boot) {
    if (boot.size() < kSectorSize || std::memcmp(boot.data() + kBootOemSignature, "NTFS", 4) != 0)
        return kDefaultClusterSize;
    const std::uint64_t size =
        std::uint64_t{le16(boot, kBootBytesPerSector)} * u8(boot, kBootSectorsPerCluster);
    return size != 0 ? size : kDefaultClusterSize;
}

void ntfs::scanVolumeChunks(ScanPass& pass) {
    mftRunKnown = false;
    progress_->setRange(0, static_cast<std::int64_t>(volumeSize / kScanChunkBytes));
    std::vector<std::uint8_t> piece;
    try {
        piece.resize(kScanPieceBytes);
    } catch (const std::bad_alloc&) {
        return;
    }
    // False when not even the piece's first part can be read: readers fail only past the end of
    // the disk, so a boot sector that claims a larger volume does not make the scan spin through
    // chunks that do not exist.
    const auto readPiece = [&](std::uint64_t position, std::size_t length) {
        const std::span<std::uint8_t> out(piece.data(), length);
        if (readAt(position, out)) return true;
        for (std::size_t at = 0; at < length; at += kRetryPartBytes) {
            const auto part = out.subspan(at, std::min<std::size_t>(kRetryPartBytes, length - at));
            if (readAt(position + at, part)) continue;
            if (at == 0) return false;
            std::fill(part.begin(), part.end(), 0);
        }
        return true;
    };
    const std::uint64_t limit =
        std::min(pass.limit, static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()));
    for (std::uint64_t n = 0, chunk = 0; chunk < pass.end && chunk < limit;
         ++n, chunk += kScanChunkBytes) {
        if (stopped()) return;
        if (n % pass.progressEvery == 0) progress_->setPosition(static_cast<std::int64_t>(n));
        pass.chunks = n + 1;
        const std::uint64_t chunkLength = std::min(kScanChunkBytes, limit - chunk);
        std::uint64_t pieceStart = 0;
        std::size_t pieceLength = 0;
        bool loaded = false;
        for (std::uint64_t o = 0; o < chunkLength;) {
            if (!loaded || o >= pieceStart + pieceLength) {
                if (loaded && stopped()) return;
                pieceStart = o / kScanPieceBytes * kScanPieceBytes;
                pieceLength =
                    static_cast<std::size_t>(std::min(kScanPieceBytes, chunkLength - pieceStart));
                if (!readPiece(chunk + pieceStart, pieceLength)) return;
                loaded = true;
            }
            const std::size_t at = static_cast<std::size_t>(o - pieceStart);
            if (at + kScanStep > pieceLength) break; // a part-sector at the volume's end
            const std::uint8_t* p = piece.data() + at;
            if (!hasFileSignature(p) ||
                (pass.layoutCheck && !passesLayoutCheck(ByteSpan(p, kScanStep)))) {
                o += kScanStep;
                continue;
            }
            const ByteSpan record =
                at + kMftRecordSize <= pieceLength ? ByteSpan(p, kMftRecordSize) : ByteSpan();
            if (!pass.found(chunk + o, record)) return;
            o += kMftRecordSize; // the second half of an accepted record is not checked
        }
    }
}

// Appends a found record as a new entry and parses it: from `record` when the scan's piece held
// it whole, otherwise read again through the reader (it straddles the piece).
std::uint64_t ntfs::appendFoundRecord(std::uint64_t position, ByteSpan record) {
    MftEntry e;
    std::copy_n("FILE", 4, e.signature.begin());
    e.recordPosition = position;
    e.selfIndex = entries.size();
    entries.push_back(e);
    const std::uint64_t index = entries.size() - 1;
    if (record.size() >= kMftRecordSize)
        parseRecordAttributes(record, index, true);
    else
        parseEntry(position, index);
    return index;
}

bool ntfs::scanCorruptBoot() {
    setStatus("boot sector corrupt.Scanning for first mft entry...");
    clusterSize = kDefaultClusterSize;
    bool runsFound = false;
    ScanPass pass;
    pass.end = volumeSize;
    pass.limit = volumeSize;
    pass.progressEvery = kCorruptBootProgressEvery;
    pass.found = [&](std::uint64_t position, ByteSpan record) {
        if (entries.size() >= maxEntries()) return false;
        const std::uint64_t index = appendFoundRecord(position, record);
        if (!startsWith(entryName(index), u"$MF")) return true;
        setStatus("found mft entry.getting its run ...");
        mftRuns = getAttributeRuns(position, kAttrData);
        setStatus("got run ...");
        if (mftRuns.empty()) return true; // a "$MF" record without runs does not end the scan
        mftRunKnown = true;
        runPending = false;
        // readMftByRuns reads the MFT afresh; the records met on the way are not kept.
        clearEntries();
        runsFound = true;
        return false;
    };
    scanVolumeChunks(pass);
    return runsFound;
}

bool ntfs::scanMftRecordsDeep() {
    deepRecordIndex_.clear();
    clusterSize = scanClusterSize(bootSector);
    std::uint64_t named = 0;
    std::string lastText;
    bool lastShown = true;
    ScanPass pass;
    pass.end = volumeSize;
    pass.limit = volumeSize;
    pass.layoutCheck = true;
    // Index 0 means "no child" in the links, so whatever sat there could never be shown: the
    // slot is kept by an unnamed placeholder and the first record found becomes entry 1.
    if (entries.empty()) entries.emplace_back();
    pass.found = [&](std::uint64_t position, ByteSpan record) {
        if (entries.size() >= maxEntries()) return false;
        const std::uint64_t index = appendFoundRecord(position, record);
        rememberRecordNumber(position, record, index);
        // A record without a name is never shown, but stays in the table: it may be the base or
        // an extension record that a named record's content needs.
        if (!entries[index].hasName) return true;
        entries[index].orphan = 1;
        lastText = formatText("MFT ENTRY %d Found.Parsing it ..", static_cast<int>(++named));
        lastShown = named % kDeepStatusEvery == 1;
        if (lastShown) setStatus(lastText);
        return true;
    };
    scanVolumeChunks(pass);
    if (!lastShown) setStatus(lastText);
    progress_->setPosition(static_cast<std::int64_t>(pass.chunks));
    return false;
}

std::uint64_t ntfs::findMftCandidates(std::uint64_t limit) {
    mftCandidates.clear();
    volumeSize = sizeTextMegabytes(volume.sizeText) * kMegabyte;
    clusterSize = scanClusterSize(bootSector);
    if (volumeSize <= kMftRecordSize) return 0;
    std::string text; // the text of the last candidate, shown as each later record is handled
    std::string shown;
    ScanPass pass;
    pass.end = volumeSize - kMftRecordSize;
    pass.limit = volumeSize;
    pass.layoutCheck = true;
    pass.found = [&](std::uint64_t position, ByteSpan record) {
        if (text != shown) {
            setStatus(text);
            shown = text;
        }
        if (entries.size() >= maxEntries()) return false;
        const std::uint64_t index = appendFoundRecord(position, record);
        const std::uint64_t count = entries.size();
        if (count < kBootRecordDistance || !startsWith(entryName(index), u"$Boot")) return true;
        const std::u16string_view mft = entryName(count - kBootRecordDistance);
        // "$MFT" itself, not "$MFTMirr": the mirror holds only the first four records.
        if (!hasName(count - kBootRecordDistance) || !startsWith(mft, u"$MFT") ||
            (mft.size() > 4 && mft[4] == u'M'))
            return true;
        mftCandidates.push_back(entries[count - kBootRecordDistance]);
        text = formatText("MFT ENTRY %d Found.Parsing it ...", static_cast<int>(count));
        return mftCandidates.size() < limit;
    };
    scanVolumeChunks(pass);
    progress_->setPosition(static_cast<std::int64_t>(pass.chunks));
    return mftCandidates.size();
}

bool ntfs::runsFromCandidate(std::uint64_t index) {
    mftRunKnown = false;
    if (index >= mftCandidates.size()) return false;
    mftRuns = getAttributeRuns(mftCandidates[index].recordPosition, kAttrData);
    if (!mftRuns.empty()) {
        mftRunKnown = true;
        runPending = false;
    }
    return mftRunKnown;
}

// Deep mode keeps, for each MFT record number met, the first entry found with it, so references
// between records (base, extension) can still be followed although entries are in disk order.
// The number is in the header only where the update-sequence array starts at 0x30 (NTFS 3.1).
void ntfs::rememberRecordNumber(std::uint64_t position, ByteSpan record, std::uint64_t index) {
    std::array<std::uint8_t, kMftRecordHeaderSize> header{};
    if (record.size() >= kMftRecordHeaderSize)
        std::copy_n(record.begin(), kMftRecordHeaderSize, header.begin());
    else if (!readAt(position, header))
        return;
    if (le16(header, kRecordUsaOffset) != kRecordHeaderSize31) return;
    deepRecordIndex_.emplace(le32(header, kRecordNumber), index);
}

void ntfs::clearEntries() {
    deepRecordIndex_.clear();
    entries.clear();
    namePool_.clear();
    chainTail_.clear();
    linked_.clear();
    splitSlots_.clear();
    forgetEntryCaches();
    orphanIndex = 0;
    rootIndex = 0;
}

} // namespace vindaru
