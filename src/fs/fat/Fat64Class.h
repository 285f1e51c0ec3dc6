// The exFAT parser (the system's "FAT64"): File, Stream Extension and File Name entry sets;
// directories and files with a FAT chain or, when their stream says so, as consecutive
// clusters; the root directory's whole cluster chain.
#pragma once

#include <array>

#include "fs/fat/FatFamilyBase.h"

namespace vindaru {

// The exFAT directory test: the directory bit of the File entry's 16-bit attributes.
bool isExfatDirectoryAttribute(std::uint16_t attributes);

class Fat64Class : public FatFamilyBase {
public:
    using FatFamilyBase::FatFamilyBase;

    ScanOutcome scanStandard(CheckTree* tree, TreeItemId volumeItem) override;
    std::string typeName() const override { return "exfat"; }
    // "EXFAT" at byte 3 and shifts that give sectors of 512 to 4096 bytes and clusters of at
    // most 32 MiB; sets the geometry. An unreadable sector gives "cant read file".
    bool checkBootSector();

    std::size_t entryCount() const override { return entries_.size(); }
    const FatFamilyEntry& entry(std::size_t index) const override { return entries_[index]; }
    FatFamilyEntry& entry(std::size_t index) override { return entries_[index]; }
    const ExfatEntryRecord& record(std::size_t index) const { return entries_[index]; }
    EntryTexts describeEntry(std::size_t index) const override;
    EntryTimes entryTimes(std::size_t index) const override;

protected:
    std::optional<Descent> parseUntilDescent(Frame& frame) override;

private:
    void readEntrySet(Frame& frame);
    // The clusters a directory's stream gives: its FAT chain, cut after valid data length /
    // cluster size continuations, or its data length as consecutive clusters.
    DirectoryRun directoryRun(const ExfatEntryRecord& r) const;

    std::vector<ExfatEntryRecord> entries_;
    std::array<std::uint8_t, 512> boot_{};
    std::uint32_t rootCluster_ = 0;
    // The record being filled: a set without a stream or names keeps the previous set's.
    ExfatEntryRecord scratch_;
};

} // namespace vindaru
