// Decodes NTFS run lists (mapping pairs) into cluster runs. The field widths follow the system's
// own rules: lengths of 1 and 2 bytes are u8 and u16, longer lengths are read as 32 bits from
// their first four bytes; offsets of 1 and 2 bytes are s8 and s16, longer offsets are
// sign-extended and read as 32 bits; a run without offset bytes is sparse.
#pragma once

#include <cstdint>
#include <vector>

#include "common/ByteLoader.h"
#include "fs/ntfs/ClusterRun.h"

namespace vindaru {

class RunListDecoder {
public:
    // The running LCN and cluster total carry over between calls on one decoder, as the MFT's
    // run walk needs; a fresh decoder starts both at 0.
    std::int64_t runningLcn = 0;
    std::uint64_t runningTotal = 0;

    // Appends the runs of one run list whose running total stays within `runClusterCount`
    // (runs past the attribute's VCN range are dropped, decoding goes on). Returns false when a
    // zero header byte ended the list; true when the bytes ran out (also in the middle of a run,
    // whose fields would lie past the list: that run is not taken).
    bool decode(ByteSpan runList, std::uint64_t runClusterCount, std::vector<ClusterRun>& out);

    static std::uint32_t readLength(ByteSpan field);
    static std::int32_t readOffset(ByteSpan field);
};

} // namespace vindaru
