// What a file's content is made of: the summary of its unnamed $DATA attribute, joined over the
// base record and the extension records an $ATTRIBUTE_LIST names.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "fs/ntfs/ClusterRun.h"

namespace vindaru {

struct DataAttributeInfo {
    // 'N' non-resident, 'R' resident, 0 no unnamed $DATA at all.
    std::uint8_t residency = 0;
    // "Compressed", "Encrypted", "Normal", or empty for any other flag combination.
    std::string state;
    // Resident: where the content lies in the record, and its length.
    std::uint32_t offset = 0;
    std::uint32_t length = 0;
    // Non-resident, from the extent that starts at VCN 0.
    std::uint16_t compressionUnitExponent = 0;
    std::uint16_t attributeFlags = 0; // 0x0001 compressed, 0x4000 encrypted, 0x8000 sparse
    std::uint64_t firstVcn = 0;
    std::uint64_t lastVcn = 0;
    std::uint64_t allocatedSize = 0;
    std::uint64_t realSize = 0;
    std::uint64_t initializedSize = 0;
    // Non-resident: every extent's runs in VCN order (gaps between extents as sparse runs).
    std::vector<ClusterRun> runs;
    // Resident: the content bytes, taken from the fixed-up record.
    std::vector<std::uint8_t> residentBytes;
    // The $DATA came (at least partly) from extension records named by an $ATTRIBUTE_LIST.
    bool fromAttributeList = false;

    // The file's size as the list shows it and as saving writes it.
    std::uint64_t contentSize() const {
        if (residency == 'R') return length;
        if (residency == 'N') return realSize;
        return 0;
    }
};

} // namespace vindaru
