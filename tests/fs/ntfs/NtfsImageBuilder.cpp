#include "fs/ntfs/NtfsImageBuilder.h"

#include <algorithm>
#include <stdexcept>

namespace vindaru::test {

void put16(Bytes& b, std::size_t at, std::uint16_t v) {
    if (b.size() < at + 2) b.resize(at + 2);
    b[at] = static_cast<std::uint8_t>(v);
    b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}
void put32(Bytes& b, std::size_t at, std::uint32_t v) {
    put16(b, at, static_cast<std::uint16_t>(v));
    put16(b, at + 2, static_cast<std::uint16_t>(v >> 16));
}
void put64(Bytes& b, std::size_t at, std::uint64_t v) {
    put32(b, at, static_cast<std::uint32_t>(v));
    put32(b, at + 4, static_cast<std::uint32_t>(v >> 32));
}

static void padTo8(Bytes& b) {
    while (b.size() % 8) b.push_back(0);
}

NtfsImageBuilder::NtfsImageBuilder(std::uint32_t clusterSize, std::uint64_t clusters,
                                   std::uint32_t mftRecords, std::uint64_t mftCluster)
    : clusterSize_(clusterSize), clusters_(clusters), mftCluster_(mftCluster), records_(mftRecords) {
    const std::uint64_t mftClusters = (std::uint64_t{mftRecords} * 1024 + clusterSize - 1) / clusterSize;
    Bytes runs = run(mftClusters, static_cast<std::int64_t>(mftCluster), 2, 4);
    runs.push_back(0);
    file(0, kRoot, u"$MFT", false,
         {nonResident(0x80, runs, 0, mftClusters - 1, std::uint64_t{mftRecords} * 1024)});
    file(kRoot, kRoot, u".", true);
}

RecordSpec& NtfsImageBuilder::record(std::uint64_t number) {
    records_.at(number).present = true;
    return records_.at(number);
}

RecordSpec& NtfsImageBuilder::file(std::uint64_t number, std::uint64_t parent, const std::u16string& name,
                                   bool directory, std::vector<Bytes> extra) {
    RecordSpec& r = record(number);
    r.flags = directory ? 0x0003 : 0x0001;
    r.attributes = {standardInformation(130000000000000000ull, 131000000000000000ull, 132000000000000000ull),
                    fileName(parent, name, directory)};
    for (auto& a : extra) r.attributes.push_back(std::move(a));
    return r;
}

void NtfsImageBuilder::writeBytes(std::uint64_t offset, const Bytes& bytes) { writes_.emplace_back(offset, bytes); }

Bytes NtfsImageBuilder::bootSector(std::uint16_t bytesPerSector, std::uint8_t sectorsPerCluster,
                                   std::uint64_t totalSectors, std::uint64_t mftCluster) {
    Bytes b(512, 0);
    b[0] = 0xEB;
    b[1] = 0x52;
    b[2] = 0x90;
    std::copy_n("NTFS    ", 8, b.begin() + 3);
    put16(b, 0x0B, bytesPerSector);
    b[0x0D] = sectorsPerCluster;
    put64(b, 0x28, totalSectors);
    put64(b, 0x30, mftCluster);
    b[510] = 0x55;
    b[511] = 0xAA;
    return b;
}

Bytes NtfsImageBuilder::build() const {
    Bytes image(clusters_ * clusterSize_, 0);
    const Bytes boot = bootSector(512, static_cast<std::uint8_t>(clusterSize_ / 512), clusters_ * clusterSize_ / 512,
                                  mftCluster_);
    std::copy(boot.begin(), boot.end(), image.begin());
    for (std::size_t n = 0; n < records_.size(); ++n) {
        const RecordSpec& r = records_[n];
        if (!r.present) continue;
        Bytes rec;
        if (!r.raw.empty()) {
            rec = r.raw;
            rec.resize(1024, 0);
        } else {
            rec.assign(1024, 0);
            std::copy_n("FILE", 4, rec.begin());
            put16(rec, 0x04, 0x30);
            put16(rec, 0x06, 3);
            put16(rec, 0x10, 1);
            put16(rec, 0x14, 0x38);
            put16(rec, 0x16, r.flags);
            put32(rec, 0x1C, 1024);
            put64(rec, 0x20, r.baseReference);
            put32(rec, 0x2C, static_cast<std::uint32_t>(n));
            std::size_t at = 0x38;
            for (const Bytes& a : r.attributes) {
                if (at + a.size() + 8 > 1024 - 2) throw std::length_error("attributes do not fit a record");
                std::copy(a.begin(), a.end(), rec.begin() + static_cast<std::ptrdiff_t>(at));
                at += a.size();
            }
            put32(rec, at, 0xFFFFFFFF);
            put32(rec, 0x18, static_cast<std::uint32_t>(at + 8));
            protect(rec);
        }
        std::copy(rec.begin(), rec.end(), image.begin() + static_cast<std::ptrdiff_t>(mftCluster_ * clusterSize_ + n * 1024));
    }
    for (const auto& [offset, bytes] : writes_)
        std::copy(bytes.begin(), bytes.end(), image.begin() + static_cast<std::ptrdiff_t>(offset));
    return image;
}

void NtfsImageBuilder::protect(Bytes& rec, std::uint16_t sequence) {
    const std::size_t usa = static_cast<std::size_t>(rec[4] | (rec[5] << 8));
    put16(rec, usa, sequence);
    for (std::size_t k = 1; k <= 2; ++k) {
        const std::size_t end = k * 512;
        rec[usa + 2 * k] = rec[end - 2];
        rec[usa + 2 * k + 1] = rec[end - 1];
        put16(rec, end - 2, sequence);
    }
}

Bytes NtfsImageBuilder::standardInformation(std::uint64_t created, std::uint64_t modified,
                                            std::uint64_t accessed, std::uint32_t fileFlags) {
    Bytes c(0x30, 0);
    put64(c, 0x00, created);
    put64(c, 0x08, modified);
    put64(c, 0x10, modified);
    put64(c, 0x18, accessed);
    put32(c, 0x20, fileFlags);
    return resident(0x10, c);
}

Bytes NtfsImageBuilder::fileName(std::uint64_t parent, const std::u16string& name, bool directory,
                                 std::uint32_t fileFlags) {
    Bytes c(0x42, 0);
    put64(c, 0x00, parent | (1ull << 48));
    put32(c, 0x38, fileFlags | (directory ? 0x10000000u : 0));
    c[0x40] = static_cast<std::uint8_t>(name.size());
    c[0x41] = 1;
    for (char16_t ch : name) {
        c.push_back(static_cast<std::uint8_t>(ch));
        c.push_back(static_cast<std::uint8_t>(ch >> 8));
    }
    return resident(0x30, c);
}

Bytes NtfsImageBuilder::resident(std::uint32_t type, const Bytes& content, const std::u16string& name) {
    Bytes a(0x18, 0);
    put32(a, 0, type);
    a[9] = static_cast<std::uint8_t>(name.size());
    put16(a, 0x0A, 0x18);
    for (char16_t ch : name) {
        a.push_back(static_cast<std::uint8_t>(ch));
        a.push_back(static_cast<std::uint8_t>(ch >> 8));
    }
    padTo8(a);
    put32(a, 0x10, static_cast<std::uint32_t>(content.size()));
    put16(a, 0x14, static_cast<std::uint16_t>(a.size()));
    a.insert(a.end(), content.begin(), content.end());
    padTo8(a);
    put32(a, 4, static_cast<std::uint32_t>(a.size()));
    return a;
}

Bytes NtfsImageBuilder::nonResident(std::uint32_t type, const Bytes& runList, std::uint64_t firstVcn,
                                    std::uint64_t lastVcn, std::uint64_t realSize, std::uint16_t flags,
                                    std::uint16_t compressionExponent, const std::u16string& name,
                                    std::uint64_t initializedSize) {
    Bytes a(0x40, 0);
    put32(a, 0, type);
    a[8] = 1;
    a[9] = static_cast<std::uint8_t>(name.size());
    put16(a, 0x0A, 0x40);
    put16(a, 0x0C, flags);
    put64(a, 0x10, firstVcn);
    put64(a, 0x18, lastVcn);
    put16(a, 0x22, compressionExponent);
    put64(a, 0x28, (lastVcn - firstVcn + 1) * 4096);
    put64(a, 0x30, realSize);
    put64(a, 0x38, initializedSize == ~0ull ? realSize : initializedSize);
    for (char16_t ch : name) {
        a.push_back(static_cast<std::uint8_t>(ch));
        a.push_back(static_cast<std::uint8_t>(ch >> 8));
    }
    padTo8(a);
    put16(a, 0x20, static_cast<std::uint16_t>(a.size()));
    a.insert(a.end(), runList.begin(), runList.end());
    padTo8(a);
    put32(a, 4, static_cast<std::uint32_t>(a.size()));
    return a;
}

Bytes NtfsImageBuilder::run(std::uint64_t length, std::int64_t offset, int lengthBytes, int offsetBytes) {
    Bytes b{static_cast<std::uint8_t>(lengthBytes | (offsetBytes << 4))};
    for (int i = 0; i < lengthBytes; ++i) b.push_back(static_cast<std::uint8_t>(length >> (8 * i)));
    for (int i = 0; i < offsetBytes; ++i)
        b.push_back(static_cast<std::uint8_t>(static_cast<std::uint64_t>(offset) >> (8 * i)));
    return b;
}

Bytes NtfsImageBuilder::attributeListEntry(std::uint32_t type, std::uint64_t startingVcn, std::uint64_t record,
                                           std::uint8_t nameLength) {
    Bytes e(0x20, 0);
    put32(e, 0, type);
    put16(e, 4, 0x20);
    e[6] = nameLength;
    e[7] = 0x1A;
    put64(e, 8, startingVcn);
    put64(e, 0x10, record | (1ull << 48));
    return e;
}

} // namespace vindaru::test
