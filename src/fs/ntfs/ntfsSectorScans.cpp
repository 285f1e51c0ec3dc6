// The sector scans that find MFT records without the MFT's run list: the corrupt-boot-sector
// scan, the deep scan and the candidate search. All three share one loop over the volume sweep
// that checks every 512-byte boundary for a record; a record found is parsed from the bytes
// already read, and holes of the image are passed over unread.
#include <algorithm>
#include <cctype>
#include <cstring>
#include <functional>
#include <limits>

#include "common/DisplayFormat.h"
#include "fs/ntfs/ntfs.h"
#include "volume/VolumeSweep.h"

namespace vindaru {

namespace {

// One chunk is one progress step and one stop check of the described loop.
constexpr std::uint64_t kScanChunkBytes = 0xA00000;
// The chunk is swept in pieces of this size, so the bytes the record checks touch are still in
// the cache; the offsets and progress are those of the whole chunk.
constexpr std::uint64_t kScanPieceBytes = 512 * 1024;
constexpr std::uint64_t kScanStep = 512;
// Record header offsets at or above this are not a record's (the deep and candidate checks).
constexpr std::uint16_t kHeaderOffsetLimit = 512;

constexpr std::uint64_t kDefaultClusterSize = 4096;
constexpr std::uint64_t kCorruptBootProgressEvery = 100;
// The deep scan shows one of this many "Found" texts (and always the last one): the texts are
// the described ones, a volume of a million records just does not send a million of them.
constexpr std::uint64_t kDeepStatusEvery = 256;
// Record 7 of an MFT is $Boot: a candidate is the record this many slots before it.
constexpr std::uint64_t kBootRecordDistance = 8;

// NTFS 3.1 record headers: the update-sequence array follows the record's own number.
constexpr std::uint16_t kRecordHeaderSize31 = 0x30;
constexpr std::size_t kRecordNumber = 0x2C;
constexpr std::size_t kRecordLogSequence = 0x08;


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
std::uint64_t ntfs::scanClusterSize() const {
    const std::uint64_t size = hasNtfsSignature() ? bootClusterSize() : 0;
    return size != 0 ? size : kDefaultClusterSize;
}

void ntfs::scanVolumeChunks(ScanPass& pass) {
    mftRunKnown = false;
    // A chunk that starts before pass.end is checked to its end (or the limit); nothing past
    // the disk's real end is swept, whatever size the boot sector claims.
    std::uint64_t chunkedEnd = pass.end / kScanChunkBytes * kScanChunkBytes;
    if (pass.end % kScanChunkBytes != 0 && !checkedAdd(chunkedEnd, kScanChunkBytes, chunkedEnd))
        chunkedEnd = std::numeric_limits<std::uint64_t>::max();
    const std::uint64_t end = std::min({chunkedEnd, pass.limit, reader.size()});
    progress_->setRange(0, static_cast<std::int64_t>(std::min(volumeSize, end) / kScanChunkBytes));
    SweepRange range;
    range.end = end;
    range.pieceBytes = kScanPieceBytes;
    // A record that starts in a piece's last sectors is read whole from the piece's tail.
    range.tailBytes = kMftRecordSize - kScanStep;
    range.skipHoles = true; // zeros hold no record
    // A record accepted near a piece's end makes the next check start inside the next piece.
    std::uint64_t next = 0;
    const auto onPiece = [&](const SweepPiece& piece) {
        const std::uint64_t pieceEnd = piece.position + piece.data.size();
        pass.chunks = (piece.position / kScanChunkBytes) + 1;
        if (piece.position % kScanChunkBytes == 0)
            progress_->setPosition(static_cast<std::int64_t>(piece.position / kScanChunkBytes));
        for (std::uint64_t at = std::max(next, piece.position); at < pieceEnd;) {
            const std::size_t offset = static_cast<std::size_t>(at - piece.position);
            if (offset + kScanStep > piece.withTail.size()) break; // a part-sector at the end
            const ByteSpan sector = piece.withTail.subspan(offset, kScanStep);
            if (!hasFileSignature(sector.data()) || (pass.layoutCheck && !passesLayoutCheck(sector))) {
                at += kScanStep;
                continue;
            }
            const ByteSpan record = offset + kMftRecordSize <= piece.withTail.size()
                                        ? piece.withTail.subspan(offset, kMftRecordSize)
                                        : ByteSpan();
            if (!pass.found(at, record)) return false;
            at += kMftRecordSize; // the second half of an accepted record is not checked
            next = at;
        }
        return true;
    };
    sweepVolume(reader, range, control, onPiece);
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
    deepRecords_.clear();
    clusterSize = scanClusterSize();
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
    chooseNewestCopies();
    if (!lastShown) setStatus(lastText);
    progress_->setPosition(static_cast<std::int64_t>(pass.chunks));
    return false;
}

std::uint64_t ntfs::findMftCandidates(std::uint64_t limit) {
    mftCandidates.clear();
    volumeSize = volumeLength(volume, reader);
    clusterSize = scanClusterSize();
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

// Deep mode keeps, for each entry, the record number its record carries and its log sequence
// number, so references between records (parent, base, extension) can still be followed
// although entries are in disk order. The number is in the header only where the
// update-sequence array starts at 0x30 (NTFS 3.1); a number 0 is taken only from "$MFT" itself,
// since records written without one leave zeros there.
void ntfs::rememberRecordNumber(std::uint64_t position, ByteSpan record, std::uint64_t index) {
    if (deepRecords_.size() <= index) deepRecords_.resize(index + 1);
    std::array<std::uint8_t, kMftRecordHeaderSize> header{};
    if (record.size() >= kMftRecordHeaderSize)
        std::copy_n(record.begin(), kMftRecordHeaderSize, header.begin());
    else if (!readAt(position, header))
        return;
    if (le16(header, kRecordUsaOffset) != kRecordHeaderSize31) return;
    const std::uint64_t number = le32(header, kRecordNumber);
    if (number == 0 && entryName(index) != u"$MFT") return;
    deepRecords_[index].number = number;
    deepRecords_[index].logSequence = le64(header, kRecordLogSequence);
}

void ntfs::clearEntries() {
    volumeBitmapTried_ = volumeBitmapRead_ = false; // another MFT may name another $Bitmap
    volumeBitmap_.clear();
    deepRecordIndex_.clear();
    deepRecords_.clear();
    deepCopies_.clear();
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
