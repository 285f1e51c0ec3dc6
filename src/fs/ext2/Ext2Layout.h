// On-disk layout of ext2 and of the ext3/ext4 features it meets: byte offsets in the order of
// each structure's table, feature and flag bits, and the limits that keep a damaged volume from
// sizing allocations or loops.
#pragma once

#include <cstdint>

namespace vindaru::ext2layout {

// Superblock (1024 bytes).
inline constexpr std::uint32_t kSuperblockSize = 1024;
inline constexpr std::uint32_t kSbInodesCount = 0x00;
inline constexpr std::uint32_t kSbBlocksCountLo = 0x04;
inline constexpr std::uint32_t kSbFirstDataBlock = 0x14;
inline constexpr std::uint32_t kSbLogBlockSize = 0x18;
inline constexpr std::uint32_t kSbBlocksPerGroup = 0x20;
inline constexpr std::uint32_t kSbInodesPerGroup = 0x28;
inline constexpr std::uint32_t kSbMagic = 0x38;
inline constexpr std::uint32_t kSbRevLevel = 0x4C;
inline constexpr std::uint32_t kSbFirstIno = 0x54;
inline constexpr std::uint32_t kSbInodeSize = 0x58;
inline constexpr std::uint32_t kSbFeatureCompat = 0x5C;
inline constexpr std::uint32_t kSbFeatureIncompat = 0x60;
inline constexpr std::uint32_t kSbFeatureRoCompat = 0x64;
inline constexpr std::uint32_t kSbDescSize = 0xFE;
inline constexpr std::uint32_t kSbJournalInum = 0xE0;
inline constexpr std::uint32_t kSbFirstMetaBg = 0x104;
inline constexpr std::uint32_t kSbBlocksCountHi = 0x150;

inline constexpr std::uint16_t kExt2Magic = 0xEF53;
inline constexpr std::uint32_t kGoodOldInodeSize = 128; // revision 0 volumes

inline constexpr std::uint32_t kCompatHasJournal = 0x0004;
inline constexpr std::uint32_t kIncompatFileType = 0x0002;
inline constexpr std::uint32_t kIncompatMetaBg = 0x0010;
inline constexpr std::uint32_t kIncompat64Bit = 0x0080;
inline constexpr std::uint32_t kIncompatLargeDir = 0x4000;
inline constexpr std::uint32_t kRoCompatSparseSuper = 0x0001;
inline constexpr std::uint32_t kRoCompatGdtCsum = 0x0010;
inline constexpr std::uint32_t kRoCompatMetadataCsum = 0x0400;

// Group descriptor (32 bytes, or s_desc_size with the 64bit feature).
inline constexpr std::uint32_t kGdBlockBitmapLo = 0x00;
inline constexpr std::uint32_t kGdInodeTableLo = 0x08;
inline constexpr std::uint32_t kGdFlags = 0x12;
inline constexpr std::uint32_t kGdItableUnusedLo = 0x1C;
inline constexpr std::uint32_t kGdBlockBitmapHi = 0x20;
inline constexpr std::uint32_t kGdInodeTableHi = 0x28;
inline constexpr std::uint32_t kGdItableUnusedHi = 0x32;
inline constexpr std::uint32_t kGroupDescSize = 32;
inline constexpr std::uint32_t kGroupDescSize64Min = 64;
inline constexpr std::uint16_t kGroupInodeUninit = 0x0001;
inline constexpr std::uint16_t kGroupBlockUninit = 0x0002;

// Inode.
inline constexpr std::uint32_t kInMode = 0x00;
inline constexpr std::uint32_t kInSizeLo = 0x04;
inline constexpr std::uint32_t kInAtime = 0x08;
inline constexpr std::uint32_t kInCtime = 0x0C;
inline constexpr std::uint32_t kInMtime = 0x10;
inline constexpr std::uint32_t kInDtime = 0x14;
inline constexpr std::uint32_t kInLinksCount = 0x1A;
inline constexpr std::uint32_t kInFlags = 0x20;
inline constexpr std::uint32_t kInBlock = 0x28; // i_block[15]
inline constexpr std::uint32_t kInBlockBytes = 60;
inline constexpr std::uint32_t kInGeneration = 0x64;
inline constexpr std::uint32_t kInSizeHigh = 0x6C;
inline constexpr std::uint32_t kInExtraIsize = 0x80;
inline constexpr std::uint32_t kInCtimeExtra = 0x84;
inline constexpr std::uint32_t kInMtimeExtra = 0x88;
inline constexpr std::uint32_t kInAtimeExtra = 0x8C;
inline constexpr std::uint32_t kInCrtime = 0x90; // birth time, only in inodes whose extra part reaches it
inline constexpr std::uint32_t kInCrtimeExtra = 0x94;
inline constexpr std::uint32_t kInodeBaseSize = 128; // the extra fields start here

inline constexpr std::uint16_t kModeTypeMask = 0xF000;
inline constexpr std::uint16_t kModeDirectory = 0x4000;
inline constexpr std::uint16_t kModeRegular = 0x8000;
inline constexpr std::uint16_t kModeSymlink = 0xA000;

inline constexpr std::uint32_t kFlagExtents = 0x00080000;
inline constexpr std::uint32_t kFlagInlineData = 0x10000000;

// Block pointers of the classic map.
inline constexpr std::uint32_t kDirectBlocks = 12;
inline constexpr std::uint32_t kSingleIndirect = 12;
inline constexpr std::uint32_t kDoubleIndirect = 13;
inline constexpr std::uint32_t kTripleIndirect = 14;

// Extent tree nodes: a 12-byte header, then 12-byte entries.
inline constexpr std::uint16_t kExtentMagic = 0xF30A;
inline constexpr std::uint32_t kExtentHeaderSize = 12;
inline constexpr std::uint32_t kExtentEntrySize = 12;
inline constexpr std::uint32_t kEhMagic = 0;
inline constexpr std::uint32_t kEhEntries = 2;
inline constexpr std::uint32_t kEhDepth = 6;
inline constexpr std::uint32_t kEeBlock = 0;
inline constexpr std::uint32_t kEeLen = 4;
inline constexpr std::uint32_t kEeStartHi = 6;
inline constexpr std::uint32_t kEeStartLo = 8;
inline constexpr std::uint32_t kEiBlock = 0;
inline constexpr std::uint32_t kEiLeafLo = 4;
inline constexpr std::uint32_t kEiLeafHi = 8;
// A leaf length above this marks an extent that was allocated but never written.
inline constexpr std::uint32_t kExtentInitMaxLen = 32768;
// The kernel builds trees at most 5 levels below the inode.
inline constexpr std::uint32_t kMaxExtentDepth = 5;

// Directory entry.
inline constexpr std::uint32_t kDeInode = 0;
inline constexpr std::uint32_t kDeRecLen = 4;
inline constexpr std::uint32_t kDeNameLen = 6;
inline constexpr std::uint32_t kDeFileType = 7;
inline constexpr std::uint32_t kDeHeaderSize = 8;
inline constexpr std::uint32_t kDeMaxNameLenWithoutTypes = 1024;
inline constexpr std::uint8_t kDeTypeRegular = 1;
inline constexpr std::uint8_t kDeTypeDirectory = 2;
inline constexpr std::uint32_t kRootInode = 2;
inline constexpr std::uint32_t kJournalInode = 8;
inline constexpr std::uint32_t kGoodOldFirstInode = 11;
// Inline directories start with their parent's inode number.
inline constexpr std::uint32_t kInlineDirParentBytes = 4;

// Limits.
// Block sizes the system accepts: 1 KiB << 0..3.
inline constexpr std::uint32_t kMaxLogBlockSize = 3;
// 2^20 groups cover 128 TiB in 4 KiB blocks; a superblock claiming more is cut there.
inline constexpr std::uint64_t kMaxGroupCount = 1u << 20;
// Bulk reads (inode tables, directories, file content) go in pieces of at most this size.
inline constexpr std::uint64_t kReadPieceBytes = 1u << 20;

} // namespace vindaru::ext2layout
