#include "image/FileReadSeekQcow2.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstring>
#include <system_error>
#include <thread>
#include <unordered_set>

namespace vindaru {

using namespace qcow2;

namespace {

// Beyond this no L1 table of any cluster size maps a disk; sizes stay far from 64-bit wrap.
constexpr std::uint64_t kMaxDiskSize = 1ull << 62;
// qemu's own limit on the L1 table; larger ones come from no real image.
constexpr std::uint64_t kMaxL1Bytes = 32ull << 20;
// L2 tables kept in memory: this many bytes of them, and at least a few tables.
constexpr std::uint64_t kL2CacheBytes = 32ull << 20;
constexpr std::size_t kMinL2Tables = 8;
// Decompressed clusters kept for reads that take a cluster in several pieces.
constexpr std::size_t kInflatedClusters = 4;
// Threads that decompress the clusters of one read, and the clusters each must at least have.
constexpr unsigned kMaxInflateThreads = 4;
constexpr std::size_t kClustersPerThread = 4;

std::string lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

} // namespace

struct FileReadSeekQcow2::Cursor {
    std::uint64_t l2Offset = ~std::uint64_t{0};
    std::shared_ptr<const Table> table;
};

FileReadSeekQcow2::FileReadSeekQcow2(Session& session) { (void)session; }

bool FileReadSeekQcow2::fail(std::string problem) {
    problem_ = std::move(problem);
    file_.close();
    l1_.clear();
    diskSize_ = 0;
    return false;
}

bool FileReadSeekQcow2::open(const std::string& path) {
    problem_.clear();
    notes_.clear();
    l1_.clear();
    snapshots_.clear();
    snapshotIndex_ = -1;
    backingName_.clear();
    {
        std::lock_guard lock(cacheMutex_);
        l2Cache_.clear();
        l2Order_.clear();
        inflated_.clear();
    }
    if (!file_.open(path, memoryFiles)) return fail("the file cannot be opened");
    const std::uint64_t fileLength = file_.length();
    std::vector<std::uint8_t> head(kMinVersion3HeaderLength + 8);
    file_.readZeroFilled(0, head.data(), head.size());
    std::string problem;
    auto header = decodeHeader(std::span<const std::uint8_t>(head).first(std::min<std::uint64_t>(head.size(), fileLength)), problem);
    if (!header) return fail(problem);
    header_ = *header;
    clusterSize_ = header_.clusterSize();
    l2Entries_ = header_.l2Entries();
    // The whole first cluster: the header's extensions and the backing file's name lie in it.
    std::vector<std::uint8_t> cluster(std::min(clusterSize_, std::max<std::uint64_t>(fileLength, head.size())));
    file_.readZeroFilled(0, cluster.data(), cluster.size());
    header = decodeHeader(cluster, problem);
    if (!header) return fail(problem);
    extensions_ = decodeExtensions(cluster, header_);
    if (!extensions_.dataFile.empty())
        return fail("the image keeps its data in an external data file (" + extensions_.dataFile +
                    "), which is not read");
    if (header_.backingFileOffset != 0) {
        std::uint64_t end = 0;
        if (!checkedAdd(header_.backingFileOffset, header_.backingFileSize, end) || end > fileLength)
            return fail("the backing file's name lies outside the file");
        backingName_.resize(header_.backingFileSize);
        file_.readZeroFilled(header_.backingFileOffset, backingName_.data(), backingName_.size());
        backingName_ = backingName_.substr(0, backingName_.find('\0'));
        if (backingName_.empty()) notes_.push_back("damaged: the backing file's name is empty");
    }
    if (header_.snapshotCount != 0) {
        const std::uint64_t tableBytes =
            std::min<std::uint64_t>({kMaxSnapshotTableBytes,
                                     header_.snapshotsOffset < fileLength ? fileLength - header_.snapshotsOffset : 0});
        std::vector<std::uint8_t> table(tableBytes);
        file_.readZeroFilled(header_.snapshotsOffset, table.data(), table.size());
        snapshots_ = decodeSnapshots(table, header_.snapshotCount);
        if (snapshots_.size() != header_.snapshotCount)
            notes_.push_back("damaged: the snapshot table holds " + std::to_string(snapshots_.size()) +
                             " of " + std::to_string(header_.snapshotCount) + " snapshots");
    }
    diskSize_ = header_.size;
    std::uint64_t l1Offset = header_.l1TableOffset;
    std::uint64_t l1Entries = header_.l1Size;
    if (!snapshot.empty()) {
        for (std::size_t i = 0; i < snapshots_.size() && snapshotIndex_ < 0; ++i)
            if (snapshots_[i].id == snapshot || snapshots_[i].name == snapshot)
                snapshotIndex_ = static_cast<int>(i);
        if (snapshotIndex_ < 0) return fail("the image has no snapshot with the id or name '" + snapshot + "'");
        const Snapshot& s = snapshots_[snapshotIndex_];
        l1Offset = s.l1TableOffset;
        l1Entries = s.l1Size;
        if (s.diskSize != 0) diskSize_ = s.diskSize;
    }
    if (diskSize_ == 0) return fail("the virtual disk's size is 0");
    if (diskSize_ > kMaxDiskSize) return fail("the virtual disk's size " + std::to_string(diskSize_) + " is beyond 4 EiB");
    const std::uint64_t bytesPerL2 = clusterSize_ * l2Entries_;
    l1Needed_ = diskSize_ / bytesPerL2 + (diskSize_ % bytesPerL2 != 0);
    std::uint64_t l1Bytes = 0;
    if (!checkedMul(l1Entries, 8, l1Bytes) || l1Bytes > kMaxL1Bytes)
        return fail("the L1 table of " + std::to_string(l1Entries) + " entries is too large");
    if (l1Entries < l1Needed_)
        notes_.push_back("damaged: the L1 table has " + std::to_string(l1Entries) + " entries of the " +
                         std::to_string(l1Needed_) + " the disk needs");
    if (!loadL1(l1Offset, l1Entries)) return false;
    l2CacheLimit_ = std::max<std::size_t>(kMinL2Tables, kL2CacheBytes / clusterSize_);
    if ((header_.incompatible & kIncompatibleCorrupt) != 0)
        notes_.push_back("the image is marked corrupt by the program that wrote it");
    return true;
}

bool FileReadSeekQcow2::loadL1(std::uint64_t offset, std::uint64_t entries) {
    l1Offset_ = offset;
    l1Declared_ = entries;
    if (entries == 0) return true;
    if (offset % clusterSize_ != 0) notes_.push_back("the L1 table is not cluster-aligned");
    const std::uint64_t fileLength = file_.length();
    std::uint64_t have = offset >= fileLength ? 0 : (fileLength - offset) / 8;
    if (have < entries)
        notes_.push_back("damaged: the file ends inside the L1 table (" + std::to_string(have) + " of " +
                         std::to_string(entries) + " entries)");
    have = std::min(have, entries);
    std::vector<std::uint8_t> bytes(have * 8);
    bool ioError = false;
    file_.readZeroFilled(offset, bytes.data(), bytes.size(), &ioError);
    if (ioError) return fail("the L1 table cannot be read");
    l1_.resize(have);
    for (std::uint64_t i = 0; i < have; ++i) l1_[i] = be64(bytes, i * 8);
    return true;
}

std::shared_ptr<const FileReadSeekQcow2::Table> FileReadSeekQcow2::readL2Table(std::uint64_t offset) const {
    std::uint64_t end = 0;
    if (offset % clusterSize_ != 0 || !checkedAdd(offset, clusterSize_, end) || end > file_.length())
        return nullptr;
    std::vector<std::uint8_t> bytes(clusterSize_);
    bool ioError = false;
    file_.readZeroFilled(offset, bytes.data(), bytes.size(), &ioError);
    if (ioError) return nullptr;
    auto table = std::make_shared<Table>(clusterSize_ / 8);
    for (std::size_t i = 0; i < table->size(); ++i) (*table)[i] = be64(bytes, i * 8);
    return table;
}

std::shared_ptr<const FileReadSeekQcow2::Table> FileReadSeekQcow2::l2Table(std::uint64_t offset) const {
    {
        std::lock_guard lock(cacheMutex_);
        if (const auto it = l2Cache_.find(offset); it != l2Cache_.end()) return it->second;
    }
    auto table = readL2Table(offset);
    if (!table) return nullptr;
    std::lock_guard lock(cacheMutex_);
    if (l2Cache_.emplace(offset, table).second) {
        l2Order_.push_back(offset);
        while (l2Order_.size() > l2CacheLimit_) {
            l2Cache_.erase(l2Order_.front());
            l2Order_.pop_front();
        }
    }
    return table;
}

FileReadSeekQcow2::Mapping FileReadSeekQcow2::mappingOf(std::uint64_t cluster, Cursor& cursor) const {
    Mapping m;
    const std::uint64_t l1Index = cluster / l2Entries_;
    if (l1Index >= l1_.size()) {
        m.entry.kind = ClusterKind::Invalid;
        m.damage = Damage::DamagedTable;
        return m;
    }
    const std::uint64_t l2Offset = l1_[l1Index] & kOffsetMask;
    if (l2Offset == 0) return m; // no L2 table: the whole stretch is unallocated
    if (l2Offset != cursor.l2Offset) {
        cursor.table = l2Table(l2Offset);
        cursor.l2Offset = l2Offset;
    }
    if (!cursor.table) {
        m.entry.kind = ClusterKind::Invalid;
        m.damage = Damage::DamagedTable;
        return m;
    }
    const std::uint64_t index = cluster % l2Entries_;
    const bool extended = header_.extendedL2();
    const std::uint64_t raw = (*cursor.table)[extended ? index * 2 : index];
    m.entry = decodeL2Entry(raw, header_.clusterBits, header_.version >= 3 && !extended);
    if (extended) m.bitmap = (*cursor.table)[index * 2 + 1];
    if (m.entry.kind == ClusterKind::Invalid) m.damage = Damage::InvalidMapEntry;
    return m;
}

bool FileReadSeekQcow2::readFile(std::uint64_t fileOffset, std::span<std::uint8_t> out,
                                 std::uint64_t diskOffset, ReadReport* report) const {
    bool ioError = false;
    const std::uint64_t got = file_.readZeroFilled(fileOffset, out.data(), out.size(), &ioError);
    if (ioError) {
        if (report) report->addUnreadable(diskOffset, out.size(), Damage::ReadError);
        return false;
    }
    if (got < out.size()) {
        if (report) report->addUnreadable(diskOffset + got, out.size() - got, Damage::PastEndOfFile);
        return false;
    }
    return true;
}

Damage FileReadSeekQcow2::inflateInto(const ClusterEntry& entry, std::span<std::uint8_t> out,
                                      Decompressor& decompressor, std::vector<std::uint8_t>& packed) const {
    const std::uint64_t fileLength = file_.length();
    if (entry.hostOffset >= fileLength) return Damage::PastEndOfFile;
    // The last sector the entry counts may run past the file's end; what is there is read.
    packed.resize(std::min(entry.compressedBytes, fileLength - entry.hostOffset));
    bool ioError = false;
    file_.readZeroFilled(entry.hostOffset, packed.data(), packed.size(), &ioError);
    if (ioError) return Damage::ReadError;
    if (!decompressor.decompress(packed, out, header_.compressionType)) return Damage::BadCompressedData;
    return Damage::None;
}

void FileReadSeekQcow2::inflateAll(std::vector<Inflate>& jobs) const {
    if (jobs.empty()) return;
    std::atomic<std::size_t> next{0};
    auto work = [&] {
        Decompressor decompressor;
        std::vector<std::uint8_t> packed;
        for (std::size_t i; (i = next.fetch_add(1)) < jobs.size();)
            jobs[i].damage = inflateInto(jobs[i].entry, jobs[i].out, decompressor, packed);
    };
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    const std::size_t workers = std::min<std::size_t>({cores, kMaxInflateThreads, jobs.size() / kClustersPerThread});
    std::vector<std::thread> threads;
    for (std::size_t w = 1; w < workers; ++w) {
        try {
            threads.emplace_back(work);
        } catch (const std::system_error&) {
            break; // no more threads: the others and this one finish the jobs
        }
    }
    work();
    for (auto& t : threads) t.join();
}

bool FileReadSeekQcow2::readCompressed(const ClusterEntry& entry, std::uint64_t inCluster,
                                       std::span<std::uint8_t> out, std::uint64_t diskOffset,
                                       ReadReport* report) const {
    std::shared_ptr<const std::vector<std::uint8_t>> cluster;
    {
        std::lock_guard lock(cacheMutex_);
        for (const auto& [host, bytes] : inflated_)
            if (host == entry.hostOffset) cluster = bytes;
    }
    if (!cluster) {
        auto bytes = std::make_shared<std::vector<std::uint8_t>>(clusterSize_);
        Decompressor decompressor;
        std::vector<std::uint8_t> packed;
        if (const Damage d = inflateInto(entry, *bytes, decompressor, packed); d != Damage::None) {
            std::memset(out.data(), 0, out.size());
            if (report) report->addUnreadable(diskOffset, out.size(), d);
            return false;
        }
        cluster = bytes;
        std::lock_guard lock(cacheMutex_);
        inflated_.emplace_back(entry.hostOffset, cluster);
        if (inflated_.size() > kInflatedClusters) inflated_.pop_front();
    }
    std::memcpy(out.data(), cluster->data() + inCluster, out.size());
    return true;
}

bool FileReadSeekQcow2::readRange(std::uint64_t offset, std::span<std::uint8_t> out,
                                  ReadReport* report) const {
    bool ok = true;
    Cursor cursor;
    std::vector<Inflate> jobs;
    const unsigned bits = header_.clusterBits;
    const bool extended = header_.extendedL2();
    const std::uint64_t subSize = clusterSize_ / kSubclusters;
    std::uint64_t done = 0;
    while (done < out.size()) {
        const std::uint64_t at = offset + done;
        const std::uint64_t cluster = at >> bits;
        const std::uint64_t inCluster = at & (clusterSize_ - 1);
        std::uint64_t n = std::min<std::uint64_t>(out.size() - done, clusterSize_ - inCluster);
        const Mapping m = mappingOf(cluster, cursor);
        ClusterKind kind = m.entry.kind;
        if (extended && (kind == ClusterKind::Normal || kind == ClusterKind::Unallocated) &&
            m.damage == Damage::None) {
            // Subclusters: the run of those of one kind from here on within the cluster.
            const unsigned first = static_cast<unsigned>(inCluster / subSize);
            kind = subclusterKind(m.entry, m.bitmap, first);
            unsigned last = first;
            while (last + 1 < kSubclusters && subclusterKind(m.entry, m.bitmap, last + 1) == kind) ++last;
            n = std::min<std::uint64_t>(n, (last + 1) * subSize - inCluster);
        }
        const auto piece = out.subspan(done, n);
        switch (kind) {
        case ClusterKind::Normal: {
            // Following clusters stored right after this one join one read.
            std::uint64_t hostEnd = m.entry.hostOffset + clusterSize_;
            std::uint64_t next = cluster + 1;
            const bool wholeToEnd = inCluster + n == clusterSize_;
            std::uint64_t total = n;
            while (!extended && wholeToEnd && done + total < out.size()) {
                const Mapping nm = mappingOf(next, cursor);
                if (nm.entry.kind != ClusterKind::Normal || nm.entry.hostOffset != hostEnd) break;
                total = std::min<std::uint64_t>(out.size() - done, total + clusterSize_);
                hostEnd += clusterSize_;
                ++next;
            }
            n = total;
            ok = readFile(m.entry.hostOffset + inCluster, out.subspan(done, n), at, report) && ok;
            break;
        }
        case ClusterKind::Compressed:
            if (n == clusterSize_)
                jobs.push_back({m.entry, piece, at});
            else
                ok = readCompressed(m.entry, inCluster, piece, at, report) && ok;
            break;
        case ClusterKind::Zero:
            std::memset(piece.data(), 0, piece.size());
            if (report) report->addHole(at, n);
            break;
        case ClusterKind::Unallocated:
            ok = readFromParent(at, piece, report) && ok;
            break;
        case ClusterKind::Invalid:
            std::memset(piece.data(), 0, piece.size());
            if (report)
                report->addUnreadable(at, n, m.damage == Damage::None ? Damage::InvalidMapEntry : m.damage);
            ok = false;
            break;
        }
        done += n;
    }
    inflateAll(jobs);
    for (const Inflate& job : jobs) {
        if (job.damage == Damage::None) continue;
        std::memset(job.out.data(), 0, job.out.size());
        if (report) report->addUnreadable(job.diskOffset, job.out.size(), job.damage);
        ok = false;
    }
    return ok;
}

bool FileReadSeekQcow2::isHole(std::uint64_t offset, std::uint64_t length) const {
    if (clusterSize_ == 0 || length == 0) return false;
    std::uint64_t end = 0;
    if (!checkedAdd(offset, length, end) || end > diskSize_) return false;
    Cursor cursor;
    const std::uint64_t subSize = clusterSize_ / kSubclusters;
    for (std::uint64_t cluster = offset / clusterSize_; cluster * clusterSize_ < end;) {
        const std::uint64_t l1Index = cluster / l2Entries_;
        if (l1Index < l1_.size() && (l1_[l1Index] & kOffsetMask) == 0) {
            if (hasBacking()) return false;
            cluster = (l1Index + 1) * l2Entries_; // a whole L2 stretch of nothing
            continue;
        }
        const Mapping m = mappingOf(cluster, cursor);
        if (m.damage != Damage::None) return false;
        if (header_.extendedL2() && m.entry.kind != ClusterKind::Compressed) {
            const std::uint64_t base = cluster * clusterSize_;
            for (unsigned s = 0; s < kSubclusters; ++s) {
                const std::uint64_t from = base + s * subSize;
                if (from + subSize <= offset || from >= end) continue;
                const ClusterKind k = subclusterKind(m.entry, m.bitmap, s);
                if (k != ClusterKind::Zero && !(k == ClusterKind::Unallocated && !hasBacking())) return false;
            }
        } else if (m.entry.kind != ClusterKind::Zero &&
                   !(m.entry.kind == ClusterKind::Unallocated && !hasBacking())) {
            return false;
        }
        ++cluster;
    }
    return true;
}

std::uint64_t FileReadSeekQcow2::nextData(std::uint64_t offset) const {
    if (clusterSize_ == 0 || offset >= diskSize_) return offset;
    // L2 tables this walk went through whole and found empty: a hostile L1 may point every entry
    // at one of them, and each is walked once, not once per entry.
    constexpr std::size_t kMaxEmptyTables = 4096;
    std::unordered_set<std::uint64_t> emptyTables;
    const std::uint64_t stretchBytes = l2Entries_ * clusterSize_;
    for (std::uint64_t at = offset; at < diskSize_;) {
        const std::uint64_t l1Index = at / stretchBytes;
        const std::uint64_t stretchEnd = std::min(diskSize_, (l1Index + 1) * stretchBytes);
        const std::uint64_t table = l1Index < l1_.size() ? (l1_[l1Index] & kOffsetMask) : 0;
        if (!hasBacking() && l1Index < l1_.size() && (table == 0 || emptyTables.contains(table))) {
            at = std::max(at, stretchEnd); // a whole L2 stretch of nothing
            continue;
        }
        const bool wholeStretch = at == l1Index * stretchBytes;
        if (const std::uint64_t next = nextDataByUnits(at, clusterSize_, stretchEnd); next < stretchEnd) return next;
        at = stretchEnd;
        if (wholeStretch && table != 0 && emptyTables.size() < kMaxEmptyTables) emptyTables.insert(table);
    }
    return diskSize_;
}

std::span<const std::uint8_t> FileReadSeekQcow2::viewAt(std::uint64_t offset, std::uint64_t length) const {
    if (clusterSize_ == 0 || length == 0 || offset >= diskSize_ || length > diskSize_ - offset) return {};
    const std::uint64_t inCluster = offset & (clusterSize_ - 1);
    if (length > clusterSize_ - inCluster) return {};
    Cursor cursor;
    const Mapping m = mappingOf(offset / clusterSize_, cursor);
    if (m.entry.kind != ClusterKind::Normal || m.damage != Damage::None) return {};
    if (header_.extendedL2()) {
        const std::uint64_t subSize = clusterSize_ / kSubclusters;
        for (std::uint64_t s = inCluster / subSize; s * subSize < inCluster + length; ++s)
            if (subclusterKind(m.entry, m.bitmap, static_cast<unsigned>(s)) != ClusterKind::Normal) return {};
    }
    const std::uint64_t at = m.entry.hostOffset + inCluster;
    const auto mapped = file_.mapped();
    if (at > mapped.size() || length > mapped.size() - at) return {};
    return mapped.subspan(at, length);
}

std::optional<ParentLink> FileReadSeekQcow2::parentLink() const {
    if (!hasBacking()) return std::nullopt;
    ParentLink link;
    link.candidatePaths.push_back(backingName_);
    link.formatHint = lower(extensions_.backingFormat);
    return link;
}

std::string FileReadSeekQcow2::kindText() const {
    std::string text = "qcow2 (v" + std::to_string(header_.version);
    if (hasBacking()) text += ", with backing file";
    if (snapshotIndex_ >= 0) text += ", as of snapshot " + snapshots_[snapshotIndex_].id;
    return text + ")";
}

std::vector<std::string> FileReadSeekQcow2::structureLines() const {
    std::vector<std::string> lines;
    lines.push_back("Version: " + std::to_string(header_.version));
    lines.push_back("Cluster size: " + std::to_string(clusterSize_) + " bytes" +
                    (header_.extendedL2() ? " (32 subclusters of " + std::to_string(clusterSize_ / kSubclusters) +
                                                " bytes: extended L2 entries)"
                                          : ""));
    lines.push_back("Virtual size: " + std::to_string(diskSize_) + " bytes");
    lines.push_back(std::string("Compression: ") +
                    (header_.compressionType == static_cast<std::uint8_t>(CompressionType::Zstd) ? "zstd" : "deflate"));
    std::string features;
    if (header_.incompatible & kIncompatibleDirty) features += " dirty,";
    if (header_.incompatible & kIncompatibleCorrupt) features += " marked corrupt,";
    if (header_.compatible & 1) features += " lazy refcounts,";
    if (!features.empty()) {
        features.pop_back();
        lines.push_back("Features:" + features);
    }
    lines.push_back("L1 table: " + std::to_string(l1Declared_) + " entries at byte " + std::to_string(l1Offset_) +
                    (snapshotIndex_ >= 0 ? " (the snapshot's)" : ""));
    if (hasBacking())
        lines.push_back("Backing file: " + backingName_ +
                        (extensions_.backingFormat.empty() ? "" : " (" + extensions_.backingFormat + ")"));
    lines.push_back("Snapshots: " + std::to_string(snapshots_.size()));
    for (const auto& s : snapshots_)
        lines.push_back("  id " + s.id + " '" + s.name + "' taken at " + std::to_string(s.dateSeconds) +
                        " s, disk " + std::to_string(s.diskSize != 0 ? s.diskSize : header_.size) + " bytes" +
                        (s.vmStateSize != 0 ? ", VM state " + std::to_string(s.vmStateSize) + " bytes" : ""));
    if (snapshotIndex_ >= 0)
        lines.push_back("Read as of snapshot id " + snapshots_[snapshotIndex_].id + " '" +
                        snapshots_[snapshotIndex_].name + "'");
    for (const auto& type : extensions_.unknown) lines.push_back("Unknown header extension " + type);
    for (const auto& note : notes_) lines.push_back(note);
    return lines;
}

std::uint64_t FileReadSeekQcow2::storedBytes(const ClusterEntry& entry, std::uint64_t bitmap) const {
    (void)entry;
    if (!header_.extendedL2()) return clusterSize_;
    // Only the allocated subclusters need to be in the file: up to the last of them.
    const std::uint32_t allocated = static_cast<std::uint32_t>(bitmap);
    if (allocated == 0) return 0;
    const unsigned last = 31 - static_cast<unsigned>(__builtin_clz(allocated));
    return (last + 1) * (clusterSize_ / kSubclusters);
}

void FileReadSeekQcow2::describeDamage(std::vector<ByteRange>& out) const {
    auto add = [&](std::uint64_t offset, std::uint64_t length, Damage reason) {
        if (offset >= diskSize_) return;
        length = std::min(length, diskSize_ - offset);
        if (!out.empty() && out.back().reason == reason && out.back().end() == offset) {
            out.back().length += length;
            return;
        }
        out.push_back({offset, length, RangeKind::Unreadable, reason});
    };
    const std::uint64_t span = clusterSize_ * l2Entries_;
    const std::uint64_t fileLength = file_.length();
    const bool extended = header_.extendedL2();
    // What each L2 table says is damaged, by its index; a table that several L1 entries name
    // is read once.
    std::unordered_map<std::uint64_t, std::vector<std::pair<std::uint64_t, Damage>>> examined;
    const std::uint64_t described = std::min<std::uint64_t>(l1Needed_, l1_.size());
    for (std::uint64_t i = 0; i < described; ++i) {
        const std::uint64_t base = i * span;
        const std::uint64_t l2Offset = l1_[i] & kOffsetMask;
        if (l2Offset == 0) {
            if (hasBacking() && parent() == nullptr) add(base, span, Damage::MissingParent);
            continue;
        }
        auto found = examined.find(l2Offset);
        if (found == examined.end()) {
            std::vector<std::pair<std::uint64_t, Damage>> damaged;
            const auto table = readL2Table(l2Offset);
            if (!table) {
                damaged.emplace_back(~std::uint64_t{0}, Damage::DamagedTable);
            } else {
                for (std::uint64_t j = 0; j < l2Entries_; ++j) {
                    const std::uint64_t bitmap = extended ? (*table)[j * 2 + 1] : 0;
                    const ClusterEntry e = decodeL2Entry((*table)[extended ? j * 2 : j], header_.clusterBits,
                                                         header_.version >= 3 && !extended);
                    Damage d = Damage::None;
                    if (e.kind == ClusterKind::Invalid)
                        d = Damage::InvalidMapEntry;
                    else if ((e.kind == ClusterKind::Normal || e.kind == ClusterKind::Compressed) &&
                             e.hostOffset >= fileLength)
                        d = Damage::PastEndOfFile;
                    else if (e.kind == ClusterKind::Normal && e.hostOffset + storedBytes(e, bitmap) > fileLength)
                        d = Damage::PastEndOfFile;
                    else if (e.kind == ClusterKind::Unallocated && !extended && hasBacking() && parent() == nullptr)
                        d = Damage::MissingParent;
                    if (d != Damage::None) damaged.emplace_back(j, d);
                }
            }
            found = examined.emplace(l2Offset, std::move(damaged)).first;
        }
        for (const auto& [j, d] : found->second) {
            if (j == ~std::uint64_t{0})
                add(base, span, d);
            else
                add(base + j * clusterSize_, clusterSize_, d);
        }
    }
    // Past the L1 table nothing is mapped.
    if (l1_.size() < l1Needed_) add(l1_.size() * span, diskSize_ - l1_.size() * span, Damage::DamagedTable);
}

} // namespace vindaru
