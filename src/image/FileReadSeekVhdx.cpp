#include "image/FileReadSeekVhdx.h"

#include <algorithm>
#include <cstring>

#include "common/TextConvert.h"

namespace vindaru {

using namespace vhdx;

namespace {

// Sector bitmaps kept in memory at once (1 MiB each).
constexpr std::size_t kMaxCachedBitmaps = 32;

std::string sizeText(std::uint64_t bytes) {
    if (bytes % MiB == 0) return std::to_string(bytes / MiB) + " MiB";
    if (bytes % KiB == 0) return std::to_string(bytes / KiB) + " KiB";
    return std::to_string(bytes) + " bytes";
}

// A Windows path as a relative or absolute path here: backslashes become slashes and a leading
// "./" goes.
std::string hostPath(std::string path) {
    std::replace(path.begin(), path.end(), '\\', '/');
    while (path.rfind("./", 0) == 0) path.erase(0, 2);
    return path;
}

std::string baseName(const std::string& path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

} // namespace

FileReadSeekVhdx::FileReadSeekVhdx(Session& session) { (void)session; }

bool FileReadSeekVhdx::fail(std::string problem) {
    problem_ = std::move(problem);
    file_.close();
    bat_.clear();
    geometry_ = {};
    return false;
}

bool FileReadSeekVhdx::open(const std::string& path) {
    path_ = path;
    problem_.clear();
    notes_.clear();
    damage_.clear();
    bat_.clear();
    log_ = {};
    logIgnored_ = false;
    headerIndex_ = -1;
    regionTableIndex_ = -1;
    params_ = {};
    locator_ = {};
    page83_.reset();
    physicalSectorSize_ = 512;
    {
        std::lock_guard lock(bitmapMutex_);
        bitmaps_.clear();
    }
    if (!file_.open(path, memoryFiles)) return fail("the file cannot be opened");
    const std::uint64_t length = file_.length();
    effectiveFileLength_ = length;
    std::vector<std::uint8_t> ident(kHeaderSize);
    file_.readZeroFilled(kFileIdentifierOffset, ident.data(), ident.size());
    if (!hasFileIdentifier(ident)) return fail("no VHDX file identifier (\"vhdxfile\")");
    creator_ = utf16leToUtf8(ByteSpan(ident).subspan(8, 512), true);
    if (!loadHeaders(length) || !replayLog(length) || !loadRegions()) return false;
    return true;
}

bool FileReadSeekVhdx::loadHeaders(std::uint64_t fileLength) {
    (void)fileLength;
    std::vector<std::uint8_t> bytes(kHeaderSize);
    file_.readZeroFilled(kHeader1Offset, bytes.data(), bytes.size());
    const Header first = decodeHeader(bytes);
    file_.readZeroFilled(kHeader2Offset, bytes.data(), bytes.size());
    const Header second = decodeHeader(bytes);
    headerIndex_ = currentHeader(first, second);
    if (headerIndex_ < 0) return fail("neither header is valid (signature, checksum or version)");
    header_ = headerIndex_ == 0 ? first : second;
    const Header& other = headerIndex_ == 0 ? second : first;
    if (!other.usable()) {
        const char* why = !other.signatureOk ? "no signature"
                          : !other.checksumOk ? "checksum mismatch"
                                              : "unknown version";
        noteDamage("header " + std::to_string(2 - headerIndex_) + " (" + why +
                         "); header " + std::to_string(headerIndex_ + 1) + " used");
    }
    return true;
}

bool FileReadSeekVhdx::replayLog(std::uint64_t fileLength) {
    if (isZero(header_.log)) return true;
    std::string problem;
    std::uint64_t end = 0;
    if (header_.logVersion != 0) {
        problem = "log version " + std::to_string(header_.logVersion) + " is not known";
    } else if (header_.logLength == 0 || header_.logLength % MiB != 0 ||
               header_.logOffset < kHeaderSectionSize || header_.logOffset % MiB != 0 ||
               !checkedAdd(header_.logOffset, header_.logLength, end) || end > fileLength) {
        problem = "the log region lies outside the file";
    } else if (header_.logLength > kMaxLogLength) {
        problem = "the log region is larger than 256 MiB";
    } else {
        std::vector<std::uint8_t> bytes(header_.logLength);
        bool ioError = false;
        file_.readZeroFilled(header_.logOffset, bytes.data(), bytes.size(), &ioError);
        if (ioError) {
            problem = "the log region cannot be read";
        } else {
            log_ = vhdx::replayLog(bytes, header_.log);
            if (log_.outcome == LogReplay::Outcome::Failed) problem = log_.problem;
            else if (log_.outcome == LogReplay::Outcome::Replayed && log_.flushedFileOffset > fileLength)
                problem = "the file is shorter than it was when its log was written";
        }
    }
    if (problem.empty()) {
        if (log_.outcome == LogReplay::Outcome::Replayed)
            effectiveFileLength_ = std::max({fileLength, log_.lastFileOffset, log_.overlay.end()});
        return true;
    }
    log_.outcome = LogReplay::Outcome::Failed;
    log_.problem = problem;
    log_.overlay = {};
    if (!ignoreLog)
        return fail("the image was not closed cleanly and its log cannot be replayed (" + problem +
                    "); the disk can be read without the log, as the file holds it, which may "
                    "be inconsistent");
    logIgnored_ = true;
    return true;
}

bool FileReadSeekVhdx::loadRegions() {
    std::vector<std::uint8_t> bytes(kRegionTableSize);
    RegionTable table;
    for (int i = 0; i < 2 && regionTableIndex_ < 0; ++i) {
        readFile(i == 0 ? kRegionTable1Offset : kRegionTable2Offset, bytes, 0, nullptr);
        table = decodeRegionTable(bytes);
        if (table.usable() && table.find(kBatRegion) && table.find(kMetadataRegion))
            regionTableIndex_ = i;
        else
            noteDamage("region table " + std::to_string(i + 1) +
                             (table.usable() ? " (no BAT or metadata region)"
                                             : !table.signatureOk ? " (no signature)" : " (checksum mismatch)"));
    }
    if (regionTableIndex_ < 0) return fail("neither region table is valid");
    for (const auto& e : table.entries)
        if (e.required && e.guid != kBatRegion && e.guid != kMetadataRegion)
            notes_.push_back("a required region " + guidText(e.guid) + " is not known; read without it");
    batRegion_ = *table.find(kBatRegion);
    metadataRegion_ = *table.find(kMetadataRegion);
    for (const RegionEntry* r : {&batRegion_, &metadataRegion_}) {
        std::uint64_t end = 0;
        if (r->fileOffset < kHeaderSectionSize || r->length == 0 ||
            !checkedAdd(r->fileOffset, r->length, end))
            return fail(std::string("the ") + (r == &batRegion_ ? "BAT" : "metadata") +
                        " region's place is not valid");
    }
    return loadMetadata(metadataRegion_) && loadBat(batRegion_);
}

std::optional<std::vector<std::uint8_t>>
FileReadSeekVhdx::metadataItem(const RegionEntry& region, const std::vector<MetadataEntry>& table,
                               const Guid& item) {
    for (const auto& e : table) {
        if (e.item != item) continue;
        std::uint64_t end = 0;
        if (e.offset < kMetadataTableSize || e.length > kMaxMetadataItem ||
            !checkedAdd(e.offset, e.length, end) || end > region.length) {
            noteDamage("metadata item " + guidText(item) + " lies outside its region");
            return std::nullopt;
        }
        std::vector<std::uint8_t> bytes(e.length);
        readFile(region.fileOffset + e.offset, bytes, 0, nullptr);
        return bytes;
    }
    return std::nullopt;
}

bool FileReadSeekVhdx::loadMetadata(const RegionEntry& region) {
    if (region.length < kMetadataTableSize) return fail("the metadata region is too small");
    std::vector<std::uint8_t> bytes(kMetadataTableSize);
    readFile(region.fileOffset, bytes, 0, nullptr);
    const auto table = decodeMetadataTable(bytes);
    if (!table) return fail("the metadata table has no signature");
    const auto paramBytes = metadataItem(region, *table, kFileParametersItem);
    const auto sizeBytes = metadataItem(region, *table, kVirtualDiskSizeItem);
    const auto sectorBytes = metadataItem(region, *table, kLogicalSectorSizeItem);
    const auto params = paramBytes ? decodeFileParameters(*paramBytes) : std::nullopt;
    if (!params) return fail("the file parameters metadata item is missing");
    if (!sizeBytes || sizeBytes->size() < 8) return fail("the virtual disk size metadata item is missing");
    if (!sectorBytes || sectorBytes->size() < 4) return fail("the logical sector size metadata item is missing");
    params_ = *params;
    std::string problem;
    const auto geometry = makeGeometry(params_.blockSize, le32(*sectorBytes, 0), le64(*sizeBytes, 0),
                                       params_.hasParent, problem);
    if (!geometry) return fail(problem);
    geometry_ = *geometry;
    if (const auto physical = metadataItem(region, *table, kPhysicalSectorSizeItem);
        physical && physical->size() >= 4)
        physicalSectorSize_ = le32(*physical, 0);
    if (const auto page83 = metadataItem(region, *table, kPage83DataItem); page83 && page83->size() >= 16)
        page83_ = loadGuid(*page83, 0);
    for (const auto& e : *table) {
        const bool known = e.item == kFileParametersItem || e.item == kVirtualDiskSizeItem ||
                           e.item == kLogicalSectorSizeItem || e.item == kPhysicalSectorSizeItem ||
                           e.item == kPage83DataItem || e.item == kParentLocatorItem;
        if (e.isRequired && !known)
            notes_.push_back("a required metadata item " + guidText(e.item) + " is not known; read without it");
    }
    if (params_.hasParent) {
        const auto locatorBytes = metadataItem(region, *table, kParentLocatorItem);
        const auto locator = locatorBytes ? decodeParentLocator(*locatorBytes) : std::nullopt;
        if (!locator) {
            noteDamage("the parent locator is missing or cannot be read");
        } else {
            locator_ = *locator;
            if (locator_.type != kVhdxParentLocatorType)
                notes_.push_back("the parent locator is of an unknown type " + guidText(locator_.type));
        }
    }
    return true;
}

bool FileReadSeekVhdx::loadBat(const RegionEntry& region) {
    std::uint64_t wanted = geometry_.batEntries;
    if (region.length / 8 < wanted) {
        noteDamage("the BAT region holds " + std::to_string(region.length / 8) +
                         " entries of the " + std::to_string(wanted) + " the disk needs");
        wanted = region.length / 8;
    }
    // Only the entries the file (as the log leaves it) holds are loaded.
    const std::uint64_t inFile =
        region.fileOffset >= effectiveFileLength_ ? 0 : (effectiveFileLength_ - region.fileOffset) / 8;
    if (inFile < wanted) {
        noteDamage("the file ends inside the BAT (" + std::to_string(inFile) + " of " +
                         std::to_string(wanted) + " entries)");
        wanted = inFile;
    }
    std::vector<std::uint8_t> bytes(wanted * 8);
    if (!readFile(region.fileOffset, bytes, 0, nullptr))
        noteDamage("part of the BAT could not be read");
    bat_.resize(wanted);
    for (std::uint64_t i = 0; i < wanted; ++i) bat_[i] = le64(bytes, i * 8);
    return true;
}

bool FileReadSeekVhdx::readFile(std::uint64_t fileOffset, std::span<std::uint8_t> out,
                                std::uint64_t diskOffset, ReadReport* report) const {
    bool ioError = false;
    const std::uint64_t got = file_.readZeroFilled(fileOffset, out.data(), out.size(), &ioError);
    bool ok = !ioError;
    if (!log_.overlay.empty()) log_.overlay.apply(fileOffset, out);
    // Bytes past the file's end are missing, unless the log wrote them.
    std::uint64_t have = got;
    if (!ioError && got < out.size() && fileOffset + got < effectiveFileLength_)
        have = std::min<std::uint64_t>(out.size(), effectiveFileLength_ - fileOffset);
    if (ioError) {
        if (report) report->addUnreadable(diskOffset, out.size(), Damage::ReadError);
    } else if (have < out.size()) {
        ok = false;
        if (report) report->addUnreadable(diskOffset + have, out.size() - have, Damage::PastEndOfFile);
    }
    return ok;
}

std::optional<BatEntry> FileReadSeekVhdx::batEntry(std::uint64_t index) const {
    if (index >= bat_.size()) return std::nullopt;
    return decodeBatEntry(bat_[index]);
}

Damage FileReadSeekVhdx::blockDamage(const BatEntry& entry) const {
    std::uint64_t end = 0;
    if (entry.fileOffset < kHeaderSectionSize || !checkedAdd(entry.fileOffset, geometry_.blockSize, end))
        return Damage::InvalidMapEntry;
    if (entry.fileOffset >= effectiveFileLength_) return Damage::PastEndOfFile;
    return Damage::None;
}

std::shared_ptr<const std::vector<std::uint8_t>> FileReadSeekVhdx::sectorBitmap(std::uint64_t block) const {
    const std::uint64_t chunk = block / geometry_.chunkRatio;
    {
        std::lock_guard lock(bitmapMutex_);
        if (const auto it = bitmaps_.find(chunk); it != bitmaps_.end()) return it->second;
    }
    const auto entry = batEntry(geometry_.bitmapIndex(block));
    if (!entry || entry->state != kBitmapPresent || entry->fileOffset < kHeaderSectionSize ||
        entry->fileOffset >= effectiveFileLength_)
        return nullptr;
    auto bytes = std::make_shared<std::vector<std::uint8_t>>(kSectorBitmapBlockSize);
    if (!readFile(entry->fileOffset, *bytes, 0, nullptr)) return nullptr;
    std::lock_guard lock(bitmapMutex_);
    if (bitmaps_.size() >= kMaxCachedBitmaps) bitmaps_.erase(bitmaps_.begin());
    bitmaps_.emplace(chunk, bytes);
    return bytes;
}

bool FileReadSeekVhdx::readPartial(std::uint64_t block, const BatEntry& entry, std::uint64_t offset,
                                   std::span<std::uint8_t> out, ReadReport* report) const {
    const auto bitmap = sectorBitmap(block);
    if (!bitmap) {
        std::memset(out.data(), 0, out.size());
        if (report) report->addUnreadable(offset, out.size(), Damage::DamagedTable);
        return false;
    }
    const std::uint64_t sector = geometry_.logicalSectorSize;
    const std::uint64_t blockStart = block * geometry_.blockSize;
    // Sector numbers within the chunk the bitmap covers.
    const std::uint64_t chunkFirstSector = (block % geometry_.chunkRatio) * (geometry_.blockSize / sector);
    auto present = [&](std::uint64_t diskOffset) {
        const std::uint64_t s = chunkFirstSector + (diskOffset - blockStart) / sector;
        return (((*bitmap)[s / 8] >> (s % 8)) & 1) != 0;
    };
    bool ok = true;
    std::uint64_t done = 0;
    while (done < out.size()) {
        const std::uint64_t at = offset + done;
        const bool here = present(at);
        // The run of sectors with the same bit.
        std::uint64_t next = (at / sector + 1) * sector;
        while (next < offset + out.size() && present(next) == here) next += sector;
        const std::uint64_t n = std::min<std::uint64_t>(next, offset + out.size()) - at;
        const auto piece = out.subspan(done, n);
        if (here)
            ok = readFile(entry.fileOffset + (at - blockStart), piece, at, report) && ok;
        else
            ok = readFromParent(at, piece, report) && ok;
        done += n;
    }
    return ok;
}

bool FileReadSeekVhdx::readRange(std::uint64_t offset, std::span<std::uint8_t> out,
                                 ReadReport* report) const {
    bool ok = true;
    std::uint64_t done = 0;
    const std::uint64_t blockSize = geometry_.blockSize;
    while (done < out.size()) {
        const std::uint64_t at = offset + done;
        const std::uint64_t block = at / blockSize;
        const std::uint64_t inBlock = at % blockSize;
        std::uint64_t n = std::min<std::uint64_t>(out.size() - done, blockSize - inBlock);
        const auto entry = batEntry(geometry_.payloadIndex(block));
        if (!entry) {
            std::memset(out.data() + done, 0, n);
            if (report) report->addUnreadable(at, n, Damage::DamagedTable);
            ok = false;
            done += n;
            continue;
        }
        const auto state = static_cast<BlockState>(entry->state);
        if (state == BlockState::FullyPresent || state == BlockState::PartiallyPresent) {
            if (const Damage d = blockDamage(*entry); d != Damage::None) {
                std::memset(out.data() + done, 0, n);
                if (report) report->addUnreadable(at, n, d);
                ok = false;
            } else if (state == BlockState::PartiallyPresent) {
                if (!params_.hasParent) {
                    std::memset(out.data() + done, 0, n);
                    if (report) report->addUnreadable(at, n, Damage::InvalidMapEntry);
                    ok = false;
                } else {
                    ok = readPartial(block, *entry, at, out.subspan(done, n), report) && ok;
                }
            } else {
                // Following blocks that lie right after this one in the file join one read.
                std::uint64_t fileEnd = entry->fileOffset + blockSize;
                std::uint64_t nextBlock = block + 1;
                while (done + n < out.size()) {
                    const auto next = batEntry(geometry_.payloadIndex(nextBlock));
                    if (!next || next->state != static_cast<std::uint8_t>(BlockState::FullyPresent) ||
                        next->fileOffset != fileEnd || blockDamage(*next) != Damage::None)
                        break;
                    n = std::min<std::uint64_t>(out.size() - done, n + blockSize);
                    fileEnd += blockSize;
                    ++nextBlock;
                }
                ok = readFile(entry->fileOffset + inBlock, out.subspan(done, n), at, report) && ok;
            }
        } else if (state == BlockState::NotPresent) {
            ok = readFromParent(at, out.subspan(done, n), report) && ok;
        } else if (state == BlockState::Zero || state == BlockState::Undefined ||
                   state == BlockState::Unmapped) {
            std::memset(out.data() + done, 0, n);
            if (report) report->addHole(at, n);
        } else {
            std::memset(out.data() + done, 0, n);
            if (report) report->addUnreadable(at, n, Damage::InvalidMapEntry);
            ok = false;
        }
        done += n;
    }
    return ok;
}

bool FileReadSeekVhdx::isHole(std::uint64_t offset, std::uint64_t length) const {
    if (geometry_.blockSize == 0 || length == 0) return false;
    std::uint64_t end = 0;
    if (!checkedAdd(offset, length, end) || end > geometry_.virtualSize) return false;
    for (std::uint64_t block = offset / geometry_.blockSize; block * geometry_.blockSize < end; ++block) {
        const auto entry = batEntry(geometry_.payloadIndex(block));
        if (!entry) return false;
        const auto state = static_cast<BlockState>(entry->state);
        if (state == BlockState::NotPresent && !params_.hasParent) continue;
        if (state == BlockState::Zero || state == BlockState::Undefined || state == BlockState::Unmapped)
            continue;
        return false;
    }
    return true;
}

std::span<const std::uint8_t> FileReadSeekVhdx::viewAt(std::uint64_t offset, std::uint64_t length) const {
    if (geometry_.blockSize == 0 || length == 0) return {};
    const std::uint64_t inBlock = offset % geometry_.blockSize;
    if (length > geometry_.blockSize - inBlock || offset >= geometry_.virtualSize ||
        length > geometry_.virtualSize - offset)
        return {};
    const auto entry = batEntry(geometry_.payloadIndex(offset / geometry_.blockSize));
    if (!entry || entry->state != static_cast<std::uint8_t>(BlockState::FullyPresent) ||
        blockDamage(*entry) != Damage::None)
        return {};
    const std::uint64_t at = entry->fileOffset + inBlock;
    if (log_.overlay.touches(at, length)) return {};
    const auto mapped = file_.mapped();
    if (at > mapped.size() || length > mapped.size() - at) return {};
    return mapped.subspan(at, length);
}

std::optional<ParentLink> FileReadSeekVhdx::parentLink() const {
    if (!params_.hasParent) return std::nullopt;
    ParentLink link;
    link.formatHint = "vhdx";
    const std::string linkage = locator_.value("parent_linkage");
    if (const auto guid = parseGuid(linkage)) link.expectedId = guidText(*guid);
    for (const char* key : {"relative_path", "absolute_win32_path", "volume_path"}) {
        const std::string value = locator_.value(key);
        if (value.empty()) continue;
        std::string path = hostPath(value);
        // A volume path names its volume by GUID first; what follows it may still be found
        // beside the child.
        if (std::string(key) != "volume_path") link.candidatePaths.push_back(path);
        const std::string name = baseName(path);
        if (!name.empty() &&
            std::find(link.candidatePaths.begin(), link.candidatePaths.end(), name) == link.candidatePaths.end())
            link.candidatePaths.push_back(name);
    }
    return link;
}

std::string FileReadSeekVhdx::layerId() const {
    return isZero(header_.dataWrite) ? std::string() : guidText(header_.dataWrite);
}

std::string FileReadSeekVhdx::kindText() const {
    if (params_.hasParent) return "vhdx (differencing)";
    return params_.leaveBlocksAllocated ? "vhdx (fixed)" : "vhdx (dynamic)";
}

void FileReadSeekVhdx::noteDamage(std::string phrase) {
    notes_.push_back("damaged: " + phrase);
    damage_.push_back(std::move(phrase));
}

std::vector<std::string> FileReadSeekVhdx::structureLines() const {
    std::vector<std::string> lines;
    if (!creator_.empty()) lines.push_back("Creator: " + creator_);
    lines.push_back("Header: " + std::to_string(headerIndex_ + 1) + " of 2 current (sequence " +
                    std::to_string(header_.sequence) + ")");
    lines.push_back("Data write id: " + guidText(header_.dataWrite));
    if (page83_) lines.push_back("Disk id (page 83): " + guidText(*page83_));
    lines.push_back("Region table: " + std::to_string(regionTableIndex_ + 1) + " of 2");
    lines.push_back("BAT: " + std::to_string(bat_.size()) + " entries at byte " +
                    std::to_string(batRegion_.fileOffset));
    lines.push_back("Metadata region: byte " + std::to_string(metadataRegion_.fileOffset) + ", " +
                    sizeText(metadataRegion_.length));
    lines.push_back("Block size: " + sizeText(geometry_.blockSize) + ", chunk ratio " +
                    std::to_string(geometry_.chunkRatio) +
                    (params_.leaveBlocksAllocated ? ", blocks left allocated" : ""));
    lines.push_back("Sector size: " + std::to_string(geometry_.logicalSectorSize) + " logical, " +
                    std::to_string(physicalSectorSize_) + " physical");
    lines.push_back("Virtual size: " + std::to_string(geometry_.virtualSize) + " bytes");
    std::uint64_t counts[8] = {};
    for (std::uint64_t b = 0; b < geometry_.dataBlocks; ++b)
        if (const auto e = batEntry(geometry_.payloadIndex(b))) ++counts[e->state];
    std::string blocks = "Blocks:";
    for (std::uint8_t s : {6, 7, 0, 2, 3, 1, 4, 5})
        if (counts[s] != 0) blocks += " " + std::to_string(counts[s]) + " " + blockStateText(s) + ",";
    blocks.pop_back();
    lines.push_back(blocks);
    if (isZero(header_.log))
        lines.push_back("Log: clean");
    else if (log_.outcome == LogReplay::Outcome::Replayed)
        lines.push_back("Log: " + std::to_string(log_.entries) + " entries (sequence " +
                        std::to_string(log_.firstSequence) + " to " + std::to_string(log_.lastSequence) +
                        ") replayed in memory; the file is unchanged");
    else if (log_.outcome == LogReplay::Outcome::Failed)
        lines.push_back("Log: cannot be replayed (" + log_.problem + "); the disk is read without it");
    else
        lines.push_back("Log: no entries to replay");
    if (params_.hasParent) {
        for (const auto& [key, value] : locator_.entries) lines.push_back("Parent " + key + ": " + value);
        if (locator_.entries.empty()) lines.push_back("Parent: not located");
    }
    for (const auto& note : notes_) lines.push_back(note);
    return lines;
}

template <typename Add> void FileReadSeekVhdx::missingSectors(std::uint64_t block, Add& add) const {
    // The sectors the bitmap leaves to the parent, which is not there.
    const auto bitmap = sectorBitmap(block);
    if (!bitmap) {
        add(block * geometry_.blockSize, geometry_.blockSize, Damage::DamagedTable);
        return;
    }
    const std::uint64_t sector = geometry_.logicalSectorSize;
    const std::uint64_t perBlock = geometry_.blockSize / sector;
    const std::uint64_t first = (block % geometry_.chunkRatio) * perBlock;
    for (std::uint64_t s = 0; s < perBlock; ++s) {
        const std::uint64_t bit = first + s;
        if ((((*bitmap)[bit / 8] >> (bit % 8)) & 1) == 0)
            add(block * geometry_.blockSize + s * sector, sector, Damage::MissingParent);
    }
}

void FileReadSeekVhdx::describeDamage(std::vector<ByteRange>& out) const {
    auto add = [&](std::uint64_t offset, std::uint64_t length, Damage reason) {
        if (offset >= geometry_.virtualSize) return;
        length = std::min(length, geometry_.virtualSize - offset);
        if (!out.empty() && out.back().kind == RangeKind::Unreadable && out.back().reason == reason &&
            out.back().end() == offset) {
            out.back().length += length;
            return;
        }
        out.push_back({offset, length, RangeKind::Unreadable, reason});
    };
    for (std::uint64_t b = 0; b < geometry_.dataBlocks; ++b) {
        const std::uint64_t at = b * geometry_.blockSize;
        const auto entry = batEntry(geometry_.payloadIndex(b));
        if (!entry) {
            add(at, geometry_.blockSize, Damage::DamagedTable);
            continue;
        }
        const auto state = static_cast<BlockState>(entry->state);
        Damage d = Damage::None;
        if (state == BlockState::FullyPresent || state == BlockState::PartiallyPresent) {
            d = blockDamage(*entry);
            if (d == Damage::None && state == BlockState::PartiallyPresent) {
                if (!params_.hasParent) {
                    d = Damage::InvalidMapEntry;
                } else {
                    const auto bitmapEntry = batEntry(geometry_.bitmapIndex(b));
                    if (!bitmapEntry || bitmapEntry->state != kBitmapPresent ||
                        bitmapEntry->fileOffset < kHeaderSectionSize ||
                        bitmapEntry->fileOffset >= effectiveFileLength_)
                        d = Damage::DamagedTable;
                    else if (parent() == nullptr)
                        missingSectors(b, add);
                }
            }
        } else if (state == BlockState::NotPresent) {
            if (params_.hasParent && parent() == nullptr) d = Damage::MissingParent;
        } else if (state != BlockState::Zero && state != BlockState::Undefined &&
                   state != BlockState::Unmapped) {
            d = Damage::InvalidMapEntry;
        }
        if (d != Damage::None) add(at, geometry_.blockSize, d);
    }
}

} // namespace vindaru
