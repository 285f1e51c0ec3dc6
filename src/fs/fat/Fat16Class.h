// The FAT16 parser (and, with 12-bit FAT entries, the FAT12 one): the fixed root directory
// area after the FATs, the whole FAT in memory, subdirectory clusters parsed past their
// never-used slots.
#pragma once

#include "fs/fat/FatDirectoryParser.h"

namespace vindaru {

class Fat16Class : public FatDirectoryParser {
public:
    using FatDirectoryParser::FatDirectoryParser;

    ScanOutcome scanStandard(CheckTree* tree, TreeItemId volumeItem) override;
    std::string typeName() const override { return isFat12() ? "fat12" : "fat16"; }
    // Accepts the "MSDOS" OEM name or any valid FAT12/16 BPB; sets the geometry.
    bool checkBootSector() override;

protected:
    const AdvancedRules& advancedRules() const override;
};

} // namespace vindaru
