// One MFT record slot of an NTFS volume, as the parser's entry table keeps it. The entry's
// index in the table is its identity; links between entries are indexes.
#pragma once

#include <array>
#include <cstdint>

namespace vindaru {

inline constexpr std::uint8_t kGuessedFolder = 2;

// The eight-byte fields come first and the small ones after them, so that the table of a
// volume with millions of records holds no padding between fields.
struct MftEntry {
    // Byte offset of the slot from the start of the volume.
    std::uint64_t recordPosition = 0;
    // Name from the last $FILE_NAME read: a range of the parser's name pool (UTF-16 units).
    // `hasName` false means no name (never shown); a name of length 0 is an empty label.
    std::uint64_t nameOffset = 0;
    // Parent directory's MFT record number (low 48 bits of the first $FILE_NAME's reference).
    std::uint64_t parentIndex = 0;
    // Allocated-size field of the last $FILE_NAME.
    std::uint64_t allocatedSize = 0;
    std::uint64_t selfIndex = 0;
    // 0 means no child (entry 0 can therefore never be a child).
    std::uint64_t firstChild = 0;
    // 0 or a negative value (-1) ends a sibling chain.
    std::int64_t nextSibling = 0;
    // The record header's base-record reference (record number and sequence); 0 for a base
    // record. Nonzero means an extension record, even of record 0.
    std::uint64_t baseReference = 0;
    // An extra name (a hard link) of the file entry `aliasOf` stands for; kNoAlias for a record
    // slot. Record 0 ($MFT) is listed through such an entry, since 0 cannot be a child.
    static constexpr std::uint64_t kNoAlias = UINT64_MAX;
    std::uint64_t aliasOf = kNoAlias;
    // First four bytes of the slot ("FILE" for a valid record).
    std::array<std::uint8_t, 4> signature{};
    std::uint16_t nameLength = 0;
    bool hasName = false;
    // The record header's flags: 0x0001 in use, 0x0002 directory.
    std::uint16_t recordFlags = 0;
    // 'D' when a $FILE_NAME's file-attribute flags mark a directory, else 0.
    std::uint8_t kind = 0;
    // 1 when the entry's parent could not be used; it is then listed under ORPHAN_ENTRY.
    // kGuessedFolder: a deep scan put it under a folder found before it on disk.
    std::uint8_t orphan = 0;
    // The record header's sequence number, and the sequence the parent reference expects.
    std::uint16_t sequence = 0;
    std::uint16_t parentSequence = 0;
    // The record has an $ATTRIBUTE_LIST.
    bool hasAttributeList = false;
    // Namespace of the $FILE_NAME the name came from (2: the DOS short name of a link).
    std::uint8_t nameSpace = 0;

    bool hasFileSignature() const {
        return signature[0] == 'F' && signature[1] == 'I' && signature[2] == 'L' &&
               signature[3] == 'E';
    }
};

} // namespace vindaru
