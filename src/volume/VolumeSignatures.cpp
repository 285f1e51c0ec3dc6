#include "volume/VolumeSignatures.h"

#include <algorithm>

#include "common/TextConvert.h"

namespace vindaru {


std::array<MbrEntry, kMbrEntryCount> decodeMbrEntries(ByteSpan sector) {
    std::array<MbrEntry, kMbrEntryCount> entries{};
    for (std::size_t i = 0; i < kMbrEntryCount; ++i) {
        const std::size_t at = kMbrEntryTable + i * kMbrEntrySize;
        entries[i].type = u8(sector, at + kMbrEntryType);
        entries[i].startLba = le32(sector, at + kMbrEntryStartLba);
        entries[i].sectorCount = le32(sector, at + kMbrEntrySectorCount);
    }
    return entries;
}

bool isExtendedType(std::uint8_t type) {
    return type == kMbrTypeExtended || type == kMbrTypeExtendedLba;
}

bool isProtectiveMbr(ByteSpan sector) {
    if (sector.size() < 512 || u8(sector, 510) != 0x55 || u8(sector, 511) != 0xAA) return false;
    return u8(sector, kMbrEntryTable + kMbrEntryType) == kMbrTypeGptProtective;
}

GptEntry decodeGptEntry(ByteSpan entry) {
    GptEntry out;
    for (std::size_t i = 0; i < out.typeGuid.size(); ++i) out.typeGuid[i] = u8(entry, i);
    out.firstLba = les64(entry, kGptEntryFirstLba);
    out.lastLba = le64(entry, kGptEntryLastLba);
    out.name = utf16leToUtf8(subspan(entry, kGptEntryName, kGptEntryNameBytes), true);
    return out;
}

bool isUnusedGptEntry(const GptEntry& entry) {
    return std::all_of(entry.typeGuid.begin(), entry.typeGuid.end(),
                       [](std::uint8_t b) { return b == 0; });
}

bool gptEntryCounts(const GptEntry& entry) {
    for (std::size_t i = 0; i < 4; ++i)
        if (entry.typeGuid[i] == 0x30) return false;
    return entry.firstLba > 2;
}

std::size_t gptEntryLimit(ByteSpan entryArray) {
    const std::size_t slots = std::min(entryArray.size(), kGptArrayUsableBytes) / kGptEntrySize;
    std::size_t limit = 0;
    for (std::size_t i = 0; i < slots; ++i) {
        const GptEntry entry = decodeGptEntry(entryArray.subspan(i * kGptEntrySize, kGptEntrySize));
        if (isUnusedGptEntry(entry)) continue;
        if (!gptEntryCounts(entry)) break;
        limit = i + 1;
    }
    return limit;
}

std::string gptNameThroughCodePage(const std::string& utf8Name) {
    std::string out;
    for (char32_t cp : utf8ToUtf16(utf8Name)) {
        bool representable = cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF);
        if (!representable) {
            for (std::uint8_t b = 0x80; b <= 0x9F; ++b) {
                const std::uint8_t one[1] = {b};
                const std::u16string back = utf8ToUtf16(cp1252ToUtf8(ByteSpan(one, 1)));
                if (!back.empty() && back[0] == cp) representable = true;
            }
        }
        if (representable)
            appendUtf8(out, cp);
        else
            out.push_back('?');
    }
    return out;
}

} // namespace vindaru
