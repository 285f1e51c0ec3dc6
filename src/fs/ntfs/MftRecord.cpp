#include "fs/ntfs/MftRecord.h"

#include <algorithm>
#include <cstring>

namespace vindaru {

void MftRecord::applyFixup(ByteSpan source, std::span<std::uint8_t> destination) {
    const std::size_t size = std::min(destination.size(), kMaxMftRecordSize);
    // Plain memory calls: this runs for every record the scan meets.
    const std::size_t copied = std::min(source.size(), size);
    if (copied != 0) std::memcpy(destination.data(), source.data(), copied);
    if (size > copied) std::memset(destination.data() + copied, 0, size - copied);
    const std::size_t arrayOffset = le16(source, kRecordUsaOffset);
    const std::size_t count = le16(source, kRecordUsaCount);
    if (arrayOffset >= size) return;
    std::size_t stride = kUpdateSequenceStride;
    if (count >= 2 && size % (count - 1) == 0) {
        const std::size_t s = size / (count - 1);
        if (s >= 256 && (s & (s - 1)) == 0) stride = s;
    }
    // Entry k of the array (k = 1, 2, ...) belongs to the end of sector k; only the sectors of
    // one record can be patched, so the loop ends with the record whatever the count says.
    std::size_t sectorEnd = stride;
    for (std::size_t k = 2; k < 2 * count && sectorEnd <= size; k += 2, sectorEnd += stride) {
        const std::size_t from = arrayOffset + k;
        if (!fits(source, from, 2) || from + 2 > size) break;
        destination[sectorEnd - 2] = source[from];
        destination[sectorEnd - 1] = source[from + 1];
    }
}

void MftRecord::collectAttributes(ByteSpan record, std::vector<AttributeHeader>& out) {
    out.clear();
    out.reserve(16);
    std::size_t offset = le16(record, kRecordFirstAttribute);
    while (offset <= record.size()) {
        AttributeHeader h;
        h.offset = static_cast<std::uint32_t>(offset);
        const ByteSpan copy = subspan(record, offset, kAttrHeaderCopySize);
        std::copy(copy.begin(), copy.end(), h.bytes.begin());
        const ByteSpan b(h.bytes);
        h.type = le32(b, kAttrType);
        h.length = le32(b, kAttrLength);
        h.nonResident = u8(b, kAttrNonResident) != 0;
        h.nameLength = u8(b, kAttrNameLength);
        h.nameOffset = le16(b, kAttrNameOffset);
        h.flags = le16(b, kAttrFlags);
        out.push_back(h);
        const std::size_t step = h.length & 0xFFFF;
        if (step == 0 || h.type == kAttrEnd) break;
        offset += step;
    }
}

ByteSpan MftRecord::residentContent(ByteSpan record, const AttributeHeader& header) {
    const std::uint64_t start = std::uint64_t{header.offset} + le16(header.bytes, kAttrContentOffset);
    const std::uint64_t length = le32(header.bytes, kAttrContentLength);
    if (start >= record.size()) return {};
    return record.subspan(static_cast<std::size_t>(start),
                          static_cast<std::size_t>(std::min<std::uint64_t>(length, record.size() - start)));
}

ByteSpan MftRecord::runListBytes(ByteSpan record, const AttributeHeader& header) {
    const std::uint64_t runOffset = le16(header.bytes, kAttrRunListOffset);
    if (runOffset >= header.length) return {};
    const std::uint64_t start = std::uint64_t{header.offset} + runOffset;
    const std::uint64_t length = header.length - runOffset;
    return subspan(record, static_cast<std::size_t>(std::min<std::uint64_t>(start, record.size())),
                   static_cast<std::size_t>(std::min<std::uint64_t>(length, record.size())));
}

void MftRecord::load(ByteSpan raw) {
    size_ = std::clamp(raw.size(), kMftRecordSize, kMaxMftRecordSize);
    const std::size_t copied = std::min(raw.size(), size_);
    if (copied != 0) std::memcpy(raw_.data(), raw.data(), copied);
    if (size_ > copied) std::memset(raw_.data() + copied, 0, size_ - copied);
    applyFixup(this->raw(), std::span(fixed_).first(size_));
    collectAttributes(fixed(), attributes_);
}

} // namespace vindaru
