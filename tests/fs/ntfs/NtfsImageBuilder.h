// Builds small NTFS volumes in memory for the unit tests: a boot sector, an MFT of a few
// records with exactly the attributes a test needs (the update-sequence fix-up applied as NTFS
// stores it), and data clusters.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "volume/VolumeRecord.h"

namespace vindaru::test {

using Bytes = std::vector<std::uint8_t>;

struct RecordSpec {
    bool present = false;
    std::uint16_t flags = 0x0001; // in use
    std::uint64_t baseReference = 0;
    std::vector<Bytes> attributes;
    Bytes raw; // when set, the slot holds exactly these bytes (no fix-up, no attributes)
};

class NtfsImageBuilder {
public:
    static constexpr std::uint64_t kRoot = 5;

    NtfsImageBuilder(std::uint32_t clusterSize = 4096, std::uint64_t clusters = 256,
                     std::uint32_t mftRecords = 32, std::uint64_t mftCluster = 4);

    RecordSpec& record(std::uint64_t number);
    // A record with $STANDARD_INFORMATION and $FILE_NAME under `parent`, plus `extra` attributes.
    RecordSpec& file(std::uint64_t number, std::uint64_t parent, const std::u16string& name,
                     bool directory = false, std::vector<Bytes> extra = {});
    void writeBytes(std::uint64_t offset, const Bytes& bytes);
    void writeCluster(std::uint64_t lcn, const Bytes& bytes) { writeBytes(lcn * clusterSize_, bytes); }
    Bytes build() const;

    std::uint32_t clusterSize() const { return clusterSize_; }
    std::uint64_t mftCluster() const { return mftCluster_; }

    // Attribute builders.
    static Bytes standardInformation(std::uint64_t created, std::uint64_t modified, std::uint64_t accessed,
                                     std::uint32_t fileFlags = 0);
    static Bytes fileName(std::uint64_t parent, const std::u16string& name, bool directory,
                          std::uint32_t fileFlags = 0);
    static Bytes resident(std::uint32_t type, const Bytes& content, const std::u16string& name = u"");
    static Bytes nonResident(std::uint32_t type, const Bytes& runList, std::uint64_t firstVcn,
                             std::uint64_t lastVcn, std::uint64_t realSize, std::uint16_t flags = 0,
                             std::uint16_t compressionExponent = 0, const std::u16string& name = u"",
                             std::uint64_t initializedSize = ~0ull);
    // One run-list pair: length and offset fields of the given widths.
    static Bytes run(std::uint64_t length, std::int64_t offset, int lengthBytes = 1, int offsetBytes = 2);
    static Bytes attributeListEntry(std::uint32_t type, std::uint64_t startingVcn, std::uint64_t record,
                                    std::uint8_t nameLength = 0);
    // Applies NTFS's update-sequence protection to a 1024-byte record (the inverse of fix-up).
    static void protect(Bytes& record, std::uint16_t sequence = 1);
    static Bytes bootSector(std::uint16_t bytesPerSector, std::uint8_t sectorsPerCluster,
                            std::uint64_t totalSectors, std::uint64_t mftCluster);

private:
    std::uint32_t clusterSize_;
    std::uint64_t clusters_;
    std::uint64_t mftCluster_;
    std::vector<RecordSpec> records_;
    std::vector<std::pair<std::uint64_t, Bytes>> writes_;
};

void put16(Bytes& b, std::size_t at, std::uint16_t v);
void put32(Bytes& b, std::size_t at, std::uint32_t v);
void put64(Bytes& b, std::size_t at, std::uint64_t v);

// A volume record as discovery gives it: the size text and the sector count the engine goes by,
// from the text's whole MB ("0": one sector, under a MB; no number: unknown).
inline VolumeRecord ntfsRecord(const std::string& sizeText) {
    std::uint64_t mb = 0;
    bool number = false;
    for (char c : sizeText) {
        if (c < '0' || c > '9') break;
        number = true;
        mb = mb * 10 + static_cast<std::uint64_t>(c - '0');
    }
    VolumeRecord record{"NTFS", "1", sizeText, 0};
    record.sectorCount = mb != 0 ? mb * 2048 : number ? 1 : 0;
    return record;
}

} // namespace vindaru::test
