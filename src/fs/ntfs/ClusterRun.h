// One run of a non-resident attribute's data: `clusterCount` clusters starting at `lcn`.
#pragma once

#include <cstdint>

namespace vindaru {

struct ClusterRun {
    // First logical cluster of the run; 0 for a sparse run. Kept wider than the 32 bits the
    // run-list fields are decoded to, so that a running LCN past 2^31 is not truncated twice.
    std::int64_t lcn = 0;
    std::uint32_t clusterCount = 0;
    // The run had no offset field: its clusters are not on disk and read as zeros.
    bool sparse = false;

    bool operator==(const ClusterRun&) const = default;
};

} // namespace vindaru
