// The descriptor as a disk is assembled from it: its ids, the parent it names, and every extent
// line with its access, size, type, file and offset. Line by line, as the format writes it (the
// embedded descriptor of a sparse extent and a descriptor file alike); the image page's File
// Information keeps its own reading in VmdkDescriptor.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vindaru {

// More extent lines than a 64 TiB disk in 2 GiB pieces needs; the rest are not read.
inline constexpr std::size_t kVmdkMaxExtentLines = 32768;

struct VmdkDiskExtentLine {
    std::string access;           // RW, RDONLY, NOACCESS
    std::uint64_t sectors = 0;    // saturates
    std::string type;             // upper case: SPARSE, FLAT, ZERO, VMFS, VMFSSPARSE, SESPARSE, ...
    std::string file;             // as written, without quotes; empty for ZERO
    std::uint64_t offsetSectors = 0; // where a flat extent starts in its file
};

struct VmdkDiskDescriptor {
    std::string createType;
    std::string contentId;       // CID, lower case hex as written
    std::string parentContentId; // parentCID; "ffffffff" for a disk without parent
    std::string parentFileNameHint;
    std::vector<VmdkDiskExtentLine> extents;
    bool extentsCut = false; // more lines than kVmdkMaxExtentLines

    // The disk names a parent: a snapshot delta.
    bool hasParent() const;
};

VmdkDiskDescriptor parseVmdkDiskDescriptor(std::string_view text);

// Whether the bytes at the start of a file are a descriptor's text.
bool looksLikeVmdkDescriptor(std::string_view head);

} // namespace vindaru
