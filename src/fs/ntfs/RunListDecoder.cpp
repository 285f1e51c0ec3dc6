#include "fs/ntfs/RunListDecoder.h"

namespace vindaru {

std::uint32_t RunListDecoder::readLength(ByteSpan field) {
    if (field.size() == 1) return field[0];
    if (field.size() == 2) return le16(field, 0);
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < field.size() && i < 4; ++i)
        value |= static_cast<std::uint32_t>(field[i]) << (8 * i);
    return value;
}

std::int32_t RunListDecoder::readOffset(ByteSpan field) {
    if (field.empty()) return 0;
    if (field.size() == 1) return static_cast<std::int8_t>(field[0]);
    if (field.size() == 2) return static_cast<std::int16_t>(le16(field, 0));
    // Sign-extended from the top bit of the last byte; only the low four bytes survive.
    const bool negative = (field.back() & 0x80) != 0;
    std::uint32_t value = negative ? 0xFFFFFFFFu : 0;
    for (std::size_t i = 0; i < field.size() && i < 4; ++i) {
        value &= ~(0xFFu << (8 * i));
        value |= static_cast<std::uint32_t>(field[i]) << (8 * i);
    }
    return static_cast<std::int32_t>(value);
}

bool RunListDecoder::decode(ByteSpan runList, std::uint64_t runClusterCount,
                            std::vector<ClusterRun>& out) {
    std::size_t pos = 0;
    while (pos < runList.size()) {
        const std::uint8_t header = runList[pos];
        const std::size_t lengthSize = header & 0x0F;
        const std::size_t offsetSize = header >> 4;
        if (lengthSize == 0) return false;
        if (!fits(runList, pos + 1, lengthSize + offsetSize)) return true;
        const std::uint32_t length = readLength(runList.subspan(pos + 1, lengthSize));
        const std::int32_t delta = readOffset(runList.subspan(pos + 1 + lengthSize, offsetSize));
        pos += 1 + lengthSize + offsetSize;
        runningLcn += delta;
        runningTotal += length;
        ClusterRun run;
        run.clusterCount = length;
        run.sparse = offsetSize == 0;
        run.lcn = run.sparse ? 0 : runningLcn;
        if (runningTotal <= runClusterCount) out.push_back(run);
    }
    return true;
}

} // namespace vindaru
