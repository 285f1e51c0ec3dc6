// The entry records of the FAT family. Every record carries the part the shared walk, linking,
// tree fill and saving work on (FatFamilyEntry); FatEntryRecord adds the FAT12/16/32 directory
// slot's own fields, ExfatEntryRecord the File and Stream Extension entries' fields.
#pragma once

#include <cstdint>
#include <string>

namespace vindaru {

inline constexpr std::uint32_t kNoFatEntry = UINT32_MAX;
inline constexpr const char* kDummyEntryName = "DUMMY ENTRY";

struct FatFamilyEntry {
    std::string name;              // display name, UTF-8
    std::uint32_t parentIndex = 0; // 0 = top level (the placeholder that stands for the root)
    std::uint32_t selfIndex = 0;
    std::uint32_t firstChild = kNoFatEntry;
    std::uint32_t nextSibling = kNoFatEntry;
    std::uint32_t firstCluster = 0;
    std::uint64_t size = 0;
    bool directory = false;
    bool deleted = false;
    bool volumeLabel = false; // kept in the table, never shown
    bool contiguous = false;  // exFAT "no FAT chain": the data are consecutive clusters
};

struct FatEntryRecord : FatFamilyEntry {
    std::uint8_t attribute = 0;
    std::uint8_t creationTenths = 0;
    std::uint16_t creationTime = 0;
    std::uint16_t creationDate = 0;
    std::uint16_t accessDate = 0;
    std::uint16_t firstClusterHigh = 0;
    std::uint16_t writeTime = 0;
    std::uint16_t writeDate = 0;
    std::uint16_t firstClusterLow = 0;
};

struct ExfatEntryRecord : FatFamilyEntry {
    std::uint8_t entryType = 0; // 0x85 live, 0x05 deleted
    std::uint16_t attributes = 0;
    std::uint32_t createTimestamp = 0;
    std::uint32_t modifiedTimestamp = 0;
    std::uint32_t accessedTimestamp = 0;
    std::uint8_t create10ms = 0;
    std::uint8_t modified10ms = 0;
    std::uint8_t createUtcOffset = 0;
    std::uint8_t modifiedUtcOffset = 0;
    std::uint8_t accessedUtcOffset = 0;
    std::uint8_t streamEntryType = 0;
    std::uint8_t secondaryFlags = 0; // 1: a FAT chain is used; anything else: contiguous
    std::uint8_t nameLength = 0;
    std::uint64_t validDataLength = 0;
    std::uint64_t dataLength = 0;
};

} // namespace vindaru
