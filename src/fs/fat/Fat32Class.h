// The FAT32 parser: the root directory is a cluster chain that starts at the BPB's root
// cluster, and a chain ends at a cluster some directory has already parsed.
#pragma once

#include "fs/fat/FatDirectoryParser.h"

namespace vindaru {

class Fat32Class : public FatDirectoryParser {
public:
    using FatDirectoryParser::FatDirectoryParser;

    ScanOutcome scanStandard(CheckTree* tree, TreeItemId volumeItem) override;
    std::string typeName() const override { return "fat32"; }
    // Accepts the "MSDOS" or "BSD" OEM names or any valid FAT32 BPB; sets the geometry.
    bool checkBootSector() override;
    std::uint32_t rootCluster() const { return rootCluster_; }

protected:
    bool checkBackupBootSector() override;
    bool isFat32() const override { return true; }
    bool skipVisitedContinuation() const override { return false; }
    const AdvancedRules& advancedRules() const override;

private:
    bool checkBootSectorAt(std::uint64_t offset);
};

} // namespace vindaru
