// One 1024-byte MFT record: the update-sequence fix-up and the walk of its attribute headers.
// Everything here works on the record's bytes only; nothing is trusted, every field is read
// through the bounds-checked loaders, and an attribute whose parts lie outside the record gives
// empty contents instead of reading past it.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "common/ByteLoader.h"

namespace vindaru {

// Records are 1024 bytes unless the boot sector says otherwise (4096 on volumes of 4096-byte
// sectors); larger ones are not made by any NTFS writer.
inline constexpr std::size_t kMftRecordSize = 1024;
inline constexpr std::size_t kMaxMftRecordSize = 4096;
inline constexpr std::size_t kMftRecordHeaderSize = 48;
// The update-sequence array protects the end of every 512 bytes, whatever the sector size.
inline constexpr std::size_t kUpdateSequenceStride = 512;

// Record header offsets.
inline constexpr std::size_t kRecordUsaOffset = 0x04;
inline constexpr std::size_t kRecordUsaCount = 0x06;
inline constexpr std::size_t kRecordFirstAttribute = 0x14;
inline constexpr std::size_t kRecordSequence = 0x10;
inline constexpr std::size_t kRecordFlags = 0x16;
inline constexpr std::size_t kRecordBaseReference = 0x20;

// Attribute header offsets (common, resident, non-resident).
inline constexpr std::size_t kAttrType = 0x00;
inline constexpr std::size_t kAttrLength = 0x04;
inline constexpr std::size_t kAttrNonResident = 0x08;
inline constexpr std::size_t kAttrNameLength = 0x09;
inline constexpr std::size_t kAttrNameOffset = 0x0A;
inline constexpr std::size_t kAttrFlags = 0x0C;
inline constexpr std::size_t kAttrContentLength = 0x10;
inline constexpr std::size_t kAttrContentOffset = 0x14;
inline constexpr std::size_t kAttrFirstVcn = 0x10;
inline constexpr std::size_t kAttrLastVcn = 0x18;
inline constexpr std::size_t kAttrRunListOffset = 0x20;
inline constexpr std::size_t kAttrCompressionUnit = 0x22;
inline constexpr std::size_t kAttrAllocatedSize = 0x28;
inline constexpr std::size_t kAttrRealSize = 0x30;
inline constexpr std::size_t kAttrInitializedSize = 0x38;
// Each attribute header is taken as a 64-byte copy (bytes past the record read as zero).
inline constexpr std::size_t kAttrHeaderCopySize = 64;

inline constexpr std::uint32_t kAttrStandardInformation = 0x10;
inline constexpr std::uint32_t kAttrAttributeList = 0x20;
inline constexpr std::uint32_t kAttrFileName = 0x30;
inline constexpr std::uint32_t kAttrData = 0x80;
inline constexpr std::uint32_t kAttrEnd = 0xFFFFFFFF;

// One attribute header met by the walk.
struct AttributeHeader {
    std::uint32_t offset = 0; // where the header starts in the record
    std::uint32_t type = 0;
    std::uint32_t length = 0; // the full 32-bit field; the walk steps by its low 16 bits
    bool nonResident = false;
    std::uint8_t nameLength = 0;
    std::uint16_t nameOffset = 0;
    std::uint16_t flags = 0;
    std::array<std::uint8_t, kAttrHeaderCopySize> bytes{};
};

class MftRecord {
public:
    // The fixed-up copy of `source` (destination.size() bytes, at most kMaxMftRecordSize; shorter
    // input is zero-padded): the two last bytes of each stride are replaced from the
    // update-sequence array. The stride is the record size over the array's sector count when
    // that is a power of two of 256 bytes or more, else 512. The stored sequence number is not
    // compared: a torn record is used as it is.
    static void applyFixup(ByteSpan source, std::span<std::uint8_t> destination);

    // Walks the attribute headers from the first-attribute offset while the offset is at most
    // the record size (record.size()), stepping by the low 16 bits of each length, and stops after a header whose
    // length is 0 or whose type is 0xFFFFFFFF (that header is kept).
    static void collectAttributes(ByteSpan record, std::vector<AttributeHeader>& out);

    // A resident attribute's content, clipped to the bytes that lie inside the record.
    static ByteSpan residentContent(ByteSpan record, const AttributeHeader& header);
    // A non-resident attribute's run-list bytes: from the run-list offset to the end of the
    // attribute, clipped to the record (empty when the offset is past either).
    static ByteSpan runListBytes(ByteSpan record, const AttributeHeader& header);

    // Loads a raw record of raw.size() bytes (1024 to kMaxMftRecordSize; shorter is padded): keeps the raw bytes,
    // makes the fixed-up copy and walks it.
    void load(ByteSpan raw);

    ByteSpan raw() const { return ByteSpan(raw_).first(size_); }
    ByteSpan fixed() const { return ByteSpan(fixed_).first(size_); }
    const std::vector<AttributeHeader>& attributes() const { return attributes_; }
    bool hasFileSignature() const {
        return raw_[0] == 'F' && raw_[1] == 'I' && raw_[2] == 'L' && raw_[3] == 'E';
    }
    std::uint16_t flags() const { return le16(fixed(), kRecordFlags); }
    bool hasAttributeList() const {
        for (const AttributeHeader& h : attributes_)
            if (h.type == kAttrAttributeList) return true;
        return false;
    }

private:
    std::size_t size_ = kMftRecordSize;
    std::array<std::uint8_t, kMaxMftRecordSize> raw_{};
    std::array<std::uint8_t, kMaxMftRecordSize> fixed_{};
    std::vector<AttributeHeader> attributes_;
};

} // namespace vindaru
