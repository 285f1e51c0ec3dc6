#include "image/FileReadSeekVmdk.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "common/ByteLoader.h"
#include "common/TextConvert.h"

namespace vindaru {

namespace {

constexpr std::uint64_t kSector = kSectorSize;
// 256 tables of 2 KiB: with 64 KiB grains they map 8 GiB, more than a scan revisits.
constexpr std::size_t kGrainTableCacheLimit = 256;
constexpr std::uint64_t kNoEnd = std::numeric_limits<std::uint64_t>::max();

} // namespace

FileReadSeekVmdk::FileReadSeekVmdk(Session& session) { (void)session; }
FileReadSeekVmdk::~FileReadSeekVmdk() = default;

// ---------------------------------------------------------------------------------------------
// Open

bool FileReadSeekVmdk::open(const std::string& path) {
    if (!file_.open(path, memoryFiles)) return false;
    imageLength = file_.length();
    tableCache_.clear();
    lastTable_ = nullptr;
    tableInBuffer_ = 0;

    if (!file_.readAtZeroFilled(0, header)) return false;
    filePointer_ = std::min<std::uint64_t>(kSector, imageLength);
    const VmdkSparseHeader h = VmdkSparseHeader::decode(header);
    hasMagic_ = h.hasMagic;
    capacity_ = h.hasMagic ? h.capacity : 0;

    if (!h.hasMagic) {
        // A flat extent: read one-to-one.
        extents.push_back(VmdkExtentRecord{});
    } else {
        if (!validGrainGeometry(h)) {
            file_.close();
            return false;
        }
        std::string text;
        if (const auto area = h.descriptorArea()) text = readEmbeddedDescriptor(file_, *area);
        loadGrainDirectory(h);
        // An area of zeros (the extents of a split set carry one) is no descriptor either.
        if (text.empty()) return true;
        descriptorText = text;
        const VmdkDescriptor d = parseVmdkDescriptor(descriptorText);
        if (!d.createTypeFound) return false;
        applyDescriptor(d);
    }
    typedSizeApplies_ = true;
    return true;
}

bool FileReadSeekVmdk::validGrainGeometry(const VmdkSparseHeader& h) {
    if (h.grainSize == 0 || h.grainSize > kVmdkMaxGrainSize) return false;
    if (h.gtesPerGrainTable == 0 || h.gtesPerGrainTable > kVmdkMaxGtesPerGrainTable) return false;
    grainSize = h.grainSize;
    gtesPerGrainTable = h.gtesPerGrainTable;
    sectorsPerGrainTable = grainSize * gtesPerGrainTable; // both bounded above: no overflow
    grainDirectoryCount = h.capacity / sectorsPerGrainTable +
                          (h.capacity % sectorsPerGrainTable != 0 ? 1 : 0);
    return true;
}

void FileReadSeekVmdk::loadGrainDirectory(const VmdkSparseHeader& h) {
    grainDirectory.clear();
    std::uint64_t at = 0;
    if (!checkedMul(h.redundantDirectorySector, kSector, at)) return; // no file reaches there
    const std::uint64_t inFile = at < imageLength ? imageLength - at : 0;
    // Only the entries the file holds are loaded; the rest read as holes.
    const std::uint64_t load =
        std::min({grainDirectoryCount, inFile / 4, kVmdkMaxGrainDirectoryEntries});
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(load * 4));
    const std::int64_t got = file_.readAt(at, bytes);
    const std::uint64_t usable = got > 0 ? static_cast<std::uint64_t>(got) / 4 : 0;
    grainDirectory.resize(static_cast<std::size_t>(usable));
    for (std::uint64_t i = 0; i < usable; ++i)
        grainDirectory[static_cast<std::size_t>(i)] = le32(bytes, static_cast<std::size_t>(i * 4));
    // The one directory read leaves the file pointer after the whole directory or at the end.
    std::uint64_t wanted = 0;
    if (!checkedMul(grainDirectoryCount, 4, wanted)) wanted = kNoEnd;
    filePointer_ = at + std::min(wanted, inFile);
}

void FileReadSeekVmdk::applyDescriptor(const VmdkDescriptor& d) {
    formatVersion = d.formatVersion;
    contentId = d.contentId;
    parentContentId = d.parentContentId;
    createType = d.createType;
    geometryCylinders = d.geometryCylinders;
    geometryHeads = d.geometryHeads;
    geometrySectors = d.geometrySectors;
    if (d.lastExtentType) extentTypeChoice = *d.lastExtentType;
    for (const auto& e : d.extents) {
        extents.push_back(e);
        declaredSectors_ = saturatingAdd(declaredSectors_, e.sectors);
    }
}

std::uint64_t FileReadSeekVmdk::capacitySectors() const { return capacity_; }

std::uint64_t FileReadSeekVmdk::capacity() const {
    // A flat extent is the file; reads past it are zeros made up, not disk.
    if (!hasMagic_ || mapping() != Mapping::Sparse) return imageLength;
    std::uint64_t bytes = 0;
    return checkedMul(capacity_, kSector, bytes) ? bytes : UINT64_MAX;
}

// ---------------------------------------------------------------------------------------------
// Mapping

FileReadSeekVmdk::Mapping FileReadSeekVmdk::mapping() const {
    const std::string& first = extents.empty() ? extentTypeChoice : extents.front().extentType;
    if (equalsIgnoreCase(first, "SPARSE") || equalsIgnoreCase(extentTypeChoice, "SPARSE"))
        return Mapping::Sparse;
    if (equalsIgnoreCase(first, "FLAT") || equalsIgnoreCase(extentTypeChoice, "FLAT"))
        return Mapping::Flat;
    return Mapping::None;
}

bool FileReadSeekVmdk::mapsPositions() const {
    if (extents.empty() || !file_.isOpen()) return false;
    const Mapping m = mapping();
    return m == Mapping::Flat || (m == Mapping::Sparse && grainDirectoryCount != 0);
}

const FileReadSeekVmdk::CachedTable* FileReadSeekVmdk::grainTableAt(std::uint32_t tableSector) {
    if (lastTable_ != nullptr && lastTableSector_ == tableSector) return lastTable_;
    auto it = tableCache_.find(tableSector);
    if (it == tableCache_.end()) {
        if (tableCache_.size() >= kGrainTableCacheLimit) {
            tableCache_.clear();
            lastTable_ = nullptr;
        }
        std::vector<std::uint8_t> bytes(std::size_t{gtesPerGrainTable} * 4);
        const std::int64_t got = file_.readAt(std::uint64_t{tableSector} * kSector, bytes);
        if (got < 0) {
            ioError_ = true;
            return nullptr;
        }
        // Entries the file does not hold read as holes.
        std::fill(bytes.begin() + got, bytes.end(), std::uint8_t{0});
        CachedTable table;
        table.bytesRead = static_cast<std::uint64_t>(got);
        table.entries.resize(gtesPerGrainTable);
        for (std::size_t i = 0; i < gtesPerGrainTable; ++i) table.entries[i] = le32(bytes, i * 4);
        it = tableCache_.emplace(tableSector, std::move(table)).first;
    }
    lastTableSector_ = tableSector;
    lastTable_ = &it->second;
    return lastTable_;
}

FileReadSeekVmdk::Place FileReadSeekVmdk::sparsePlace(std::uint64_t sector) {
    Place place;
    const std::uint64_t gd = sector / sectorsPerGrainTable;
    const std::uint64_t inTable = sector % sectorsPerGrainTable;
    if (gd >= grainDirectoryCount) {
        place.runSectors = kNoEnd;
        return place;
    }
    const std::uint32_t tableSector =
        gd < grainDirectory.size() ? grainDirectory[static_cast<std::size_t>(gd)] : 0;
    place.runSectors = sectorsPerGrainTable - inTable;
    if (static_cast<std::int32_t>(tableSector) <= 0) return place;

    const CachedTable* table = grainTableAt(tableSector);
    if (table == nullptr) return place;
    const std::uint64_t inGrain = sector % grainSize;
    const auto grain = static_cast<std::int32_t>(table->entries[inTable / grainSize]);
    place.runSectors = grainSize - inGrain;
    place.tableSector = tableSector;
    // 0: never written; 1: the format's marker for a grain of zeros.
    if (grain <= 1) {
        place.kind = PlaceKind::HoleAfterTable;
        place.fileOffset = std::uint64_t{tableSector} * kSector + table->bytesRead;
        return place;
    }
    place.kind = PlaceKind::Data;
    place.fileOffset = (static_cast<std::uint64_t>(grain) + inGrain) * kSector;
    return place;
}

FileReadSeekVmdk::Place FileReadSeekVmdk::placeOf(std::int64_t absolute, Mapping m) {
    Place place;
    if (absolute < 0) return place; // before the disk: a hole, the file pointer stays
    if (m == Mapping::Flat) {
        place.kind = PlaceKind::Data;
        place.fileOffset = static_cast<std::uint64_t>(absolute);
        place.runSectors = kNoEnd;
        return place;
    }
    return sparsePlace(static_cast<std::uint64_t>(absolute) / kSector);
}

bool FileReadSeekVmdk::isHole(std::uint64_t position, std::uint64_t length) const {
    std::uint64_t first = 0;
    std::uint64_t end = 0;
    if (length == 0 || mapping() != Mapping::Sparse || !mapsPositions() ||
        !checkedAdd(position, 0, first) || !checkedAdd(first, length, end) ||
        end > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()))
        return false;
    // Looking a place up only fills the grain-table cache; the reader's cursor is not touched.
    const std::lock_guard lock(mutex_);
    auto* self = const_cast<FileReadSeekVmdk*>(this);
    const std::uint64_t lastSector = (end - 1) / kSector;
    for (std::uint64_t sector = first / kSector; sector <= lastSector;) {
        const Place place = self->sparsePlace(sector);
        if (place.kind == PlaceKind::Data) return false;
        if (place.runSectors > lastSector - sector) return true;
        sector += place.runSectors;
    }
    return true;
}

std::int64_t FileReadSeekVmdk::absoluteOf(std::int64_t pos) const {
    // The sum wraps like a signed 64-bit sum; a result past 2^63 counts as before the disk.
    return pos;
}

// ---------------------------------------------------------------------------------------------
// Cursor

bool FileReadSeekVmdk::applySeek(std::int64_t absolute, Mapping m) {
    if (m == Mapping::None || (m == Mapping::Sparse && grainDirectoryCount == 0)) return false;
    const Place place = placeOf(absolute, m);
    switch (place.kind) {
    case PlaceKind::HoleKeepPointer:
        sectorMapped = 0;
        return false;
    case PlaceKind::HoleAfterTable:
        sectorMapped = 0;
        filePointer_ = place.fileOffset;
        break;
    case PlaceKind::Data:
        sectorMapped = 1;
        filePointer_ = place.fileOffset;
        break;
    }
    if (m == Mapping::Sparse && place.tableSector != tableInBuffer_) {
        if (const CachedTable* t = grainTableAt(place.tableSector))
            std::copy(t->entries.begin(), t->entries.end(), grainTable.begin());
        tableInBuffer_ = place.tableSector;
    }
    return true;
}

bool FileReadSeekVmdk::seek(std::int64_t pos, int origin) {
    (void)origin; // 0 (from the beginning of the file) at every call
    position = pos;
    if (extents.empty()) return false;
    applySeek(absoluteOf(pos), mapping());
    return true;
}

bool FileReadSeekVmdk::readAtFilePointer(std::uint8_t* out, std::uint64_t length) {
    const std::int64_t got = file_.readAt(filePointer_, {out, static_cast<std::size_t>(length)});
    if (got < 0) return false;
    std::memset(out + got, 0, static_cast<std::size_t>(length - static_cast<std::uint64_t>(got)));
    filePointer_ += static_cast<std::uint64_t>(got);
    return true;
}

void FileReadSeekVmdk::skipAtFilePointer(std::uint64_t length) {
    filePointer_ = advancedPointerBytes(filePointer_, length);
}

std::uint64_t FileReadSeekVmdk::advancedPointerBytes(std::uint64_t from, std::uint64_t bytes) const {
    // A read moves the pointer by what it read: up to the end of the file at most.
    if (from >= imageLength) return from;
    return from + std::min(bytes, imageLength - from);
}

std::uint64_t FileReadSeekVmdk::advancedPointer(std::uint64_t from, std::uint64_t sectorReads) const {
    std::uint64_t bytes = 0;
    if (!checkedMul(sectorReads, kSector, bytes)) bytes = kNoEnd;
    return advancedPointerBytes(from, bytes);
}

// The reference loop: one mapping and one 512-byte read per sector, each followed by a seek.
bool FileReadSeekVmdk::readSectorsSlow(std::uint8_t* out, std::uint64_t sectors, bool seekAfterLast) {
    std::int64_t p = position;
    bool result = true;
    std::uint8_t discard[kSector];
    for (std::uint64_t i = 0; i < sectors; ++i) {
        std::uint8_t* slot = out + i * kSector;
        if (sectorMapped == 1) {
            if (!readAtFilePointer(slot, kSector)) return false;
        } else {
            if (!readAtFilePointer(discard, kSector)) {
                sectorMapped = 0;
                return false;
            }
            std::memset(slot, 0, kSector);
            sectorMapped = 1;
        }
        p += static_cast<std::int64_t>(kSector);
        if (seekAfterLast || i + 1 < sectors) result = seek(p, 0);
    }
    return result;
}

// Sectors [from, to) of a read whose sector i lies at firstAbsolute + i × 512, mapped without
// the cursor: holes as zeros, each run of file-contiguous data sectors as one read. Records in
// `move` the last seek before lastSeekIndex that would have moved the file pointer.
bool FileReadSeekVmdk::copySectors(std::int64_t firstAbsolute, std::uint64_t from, std::uint64_t to,
                                   std::uint64_t lastSeekIndex, std::uint8_t* out, Mapping m,
                                   PointerMove& move) {
    std::uint64_t pendingFile = 0, pendingFirst = 0, pendingCount = 0;
    bool ok = true;
    auto flush = [&] {
        if (pendingCount == 0) return;
        const std::span<std::uint8_t> dst(out + pendingFirst * kSector,
                                          static_cast<std::size_t>(pendingCount * kSector));
        if (!file_.readAtZeroFilled(pendingFile, dst)) ok = false;
        pendingCount = 0;
    };
    std::uint64_t i = from;
    while (i < to) {
        const std::int64_t absolute =
            firstAbsolute + static_cast<std::int64_t>(i * kSector); // caller keeps this in range
        ioError_ = false;
        const Place place = placeOf(absolute, m);
        if (ioError_) ok = false;
        const std::uint64_t count = std::min(place.runSectors, to - i);
        if (place.kind == PlaceKind::Data) {
            if (pendingCount != 0 && pendingFirst + pendingCount == i &&
                pendingFile + pendingCount * kSector == place.fileOffset) {
                pendingCount += count;
            } else {
                flush();
                pendingFile = place.fileOffset;
                pendingFirst = i;
                pendingCount = count;
            }
        } else {
            std::memset(out + i * kSector, 0, static_cast<std::size_t>(count * kSector));
        }
        const std::uint64_t candidate = std::min(i + count - 1, lastSeekIndex - 1);
        if (place.kind != PlaceKind::HoleKeepPointer && lastSeekIndex > 0 &&
            candidate >= std::max<std::uint64_t>(i, 1)) {
            move.any = true;
            move.index = candidate;
            move.filePointer = place.kind == PlaceKind::Data
                                   ? place.fileOffset + (candidate - i) * kSector
                                   : place.fileOffset;
        }
        i += count;
    }
    flush();
    return ok;
}

bool FileReadSeekVmdk::readSectorsFromCursor(std::uint8_t* out, std::uint64_t sectors,
                                             bool seekAfterLast) {
    if (sectors == 0) return true;
    const Mapping m = mapping();
    const std::int64_t p0 = position;
    const std::int64_t a0 = absoluteOf(p0);
    // The fast path needs every position of the read, and the one after it, on the disk.
    std::uint64_t span = 0;
    const bool inRange =
        a0 >= 0 && checkedMul(sectors + 1, kSector, span) &&
        static_cast<std::uint64_t>(a0) <=
            static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()) - span;
    if (!fastPathEnabled || !mapsPositions() || !inRange)
        return readSectorsSlow(out, sectors, seekAfterLast);

    const std::uint64_t pointerAtStart = filePointer_;
    // Sector 0 comes from the cursor state; it matches the mapping unless someone moved the
    // file pointer since the last seek.
    const Place first = placeOf(a0, m);
    const bool fresh = first.kind == PlaceKind::Data
                           ? sectorMapped == 1 && filePointer_ == first.fileOffset
                           : sectorMapped == 0;
    bool ok = true;
    std::uint64_t from = 0;
    if (!fresh) {
        if (sectorMapped == 1) {
            ok = file_.readAtZeroFilled(filePointer_, {out, kSector});
        } else {
            std::memset(out, 0, kSector);
        }
        from = 1;
    }
    const std::uint64_t lastSeek = seekAfterLast ? sectors : sectors - 1;
    PointerMove move;
    if (!copySectors(a0, from, sectors, lastSeek, out, m, move)) ok = false;

    // Leave position, sectorMapped and the file pointer as the sector loop would have.
    bool movedByLastSeek = false;
    if (lastSeek > 0) {
        position = p0 + static_cast<std::int64_t>(lastSeek * kSector);
        movedByLastSeek = applySeek(absoluteOf(position), m);
    }
    const std::uint64_t readsAfter = sectors - lastSeek;
    if (movedByLastSeek) {
        filePointer_ = advancedPointer(filePointer_, readsAfter);
    } else if (move.any) {
        filePointer_ = advancedPointer(move.filePointer, sectors - move.index);
    } else {
        filePointer_ = advancedPointer(pointerAtStart, sectors);
    }
    return ok;
}

// A trailing part of a sector is read from the file pointer; in a hole it reads as zeros.
bool FileReadSeekVmdk::readTrailing(std::uint8_t* out, std::uint64_t length) {
    if (!file_.isOpen()) return false;
    if (sectorMapped == 1) return readAtFilePointer(out, length);
    std::memset(out, 0, static_cast<std::size_t>(length));
    filePointer_ = advancedPointerBytes(filePointer_, length);
    return true;
}

bool FileReadSeekVmdk::read(void* buffer, std::uint64_t length) {
    auto* out = static_cast<std::uint8_t*>(buffer);
    const std::uint64_t sectors = length / kSector;
    const std::uint64_t rest = length % kSector;
    bool result = true;
    if (sectors > 0) {
        if (!file_.isOpen()) return false;
        result = readSectorsFromCursor(out, sectors, true);
    }
    if (rest > 0) result = readTrailing(out + sectors * kSector, rest);
    return result;
}

// ---------------------------------------------------------------------------------------------
// Positional reads

bool FileReadSeekVmdk::readRange(std::uint64_t offset, std::span<std::uint8_t> out, ReadReport*) const {
    // The grain-table cache and the emulated file pointer are shared state: one read at a time.
    const std::lock_guard lock(mutex_);
    auto* self = const_cast<FileReadSeekVmdk*>(this);
    if (extents.empty() || !file_.isOpen()) {
        std::fill(out.begin(), out.end(), std::uint8_t{0});
        return false;
    }
    if (!mapsPositions()) {
        // Without a mapping the reads follow the file pointer, as seek + read do.
        if (!self->seek(static_cast<std::int64_t>(offset), 0)) return false;
        return self->read(out.data(), out.size());
    }
    const Mapping m = mapping();
    constexpr auto maxAbsolute = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
    if (offset > maxAbsolute || out.size() > maxAbsolute - offset) {
        std::fill(out.begin(), out.end(), std::uint8_t{0});
        return false;
    }
    if (m == Mapping::Flat) return file_.readAtZeroFilled(offset, out);

    // A sparse extent maps whole sectors: read the sectors the range touches, then take its part.
    const std::uint64_t start = offset - offset % kSector;
    const std::uint64_t head = offset - start;
    const std::uint64_t sectors = (head + out.size() + kSector - 1) / kSector;
    PointerMove unused;
    if (head == 0 && out.size() % kSector == 0)
        return self->copySectors(static_cast<std::int64_t>(start), 0, sectors, 0, out.data(), m, unused);
    std::vector<std::uint8_t> whole(static_cast<std::size_t>(sectors * kSector));
    const bool ok = self->copySectors(static_cast<std::int64_t>(start), 0, sectors, 0, whole.data(), m, unused);
    std::memcpy(out.data(), whole.data() + head, out.size());
    return ok;
}

} // namespace vindaru
