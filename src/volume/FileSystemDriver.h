// The driver row: all the program knows of one file system, outside the file system's own
// folder. A row gives the file system's probe (does this boot sector or superblock hold me, how
// sure, and what size does it declare), its names, the MBR partition types that point to it,
// how discovery reports a find, the recovery modes the pages offer, and its parser's factory.
//
// The row is declared here, below the parsers, so that discovery can read the rows it is given;
// the program's table is filled by the layer that links every file system
// (browser/FileSystemDrivers.cpp). Discovery, the name lookups below and the volume-start probe
// take the table as a FileSystemTable, so a test may hand them a table of its own.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string_view>

#include "common/ByteLoader.h"
#include "volume/FileSystemKind.h"

namespace vindaru {

class VolumeParser;
struct ParserSetup;
using ParserFactory = std::shared_ptr<VolumeParser> (*)(const ParserSetup& setup);

inline constexpr std::size_t kProbeSectorBytes = 512;

// How sure a probe is that a volume of its file system is there.
enum class ProbeConfidence : std::uint8_t {
    None,
    // The signature and the fields every formatter writes, the rest unchecked: what a damaged
    // volume of this file system still shows.
    Signature,
    // Every field discovery takes from the structure is believable.
    Valid,
};

struct ProbeHit {
    ProbeConfidence confidence = ProbeConfidence::None;
    // The volume's size in 512-byte sectors as the structure declares it (a volume formatted on
    // a disk of 4 KiB sectors counts sectors of its own, of 4096 bytes); 0 when it declares
    // none, UINT64_MAX when it declares more.
    std::uint64_t sizeSectors = 0;
    // The bytes of one of the volume's own sectors.
    std::uint32_t sectorBytes = 512;
};

// `count` sectors of `sectorBytes` bytes each, in 512-byte sectors; UINT64_MAX where that
// overflows.
inline std::uint64_t in512Sectors(std::uint64_t count, std::uint64_t sectorBytes) {
    std::uint64_t sectors = 0;
    return checkedMul(count, sectorBytes / 512, sectors) ? sectors : UINT64_MAX;
}

// A byte every sector a probe takes as Valid has: one of `bytes` at offset `at`. The boot-sector
// scan hands a sector to a probe only when it has the probe's key byte, so that a probe's cost
// stays off the sectors that cannot be its (the scan reads every sector of the disk). No bytes:
// the probe sees every sector.
struct ProbeKey {
    std::uint16_t at = 0;
    std::string_view bytes;
};

// Looks at the one 512-byte sector that lies `probeOffset` bytes into a possible volume (a boot
// sector, or the sector a superblock or volume header starts in) and at nothing else. A span
// shorter than a sector reads as zeros past its end.
using VolumeProbe = ProbeHit (*)(ByteSpan sector);

// An MBR partition type that points to a file system, and the status text discovery writes
// when it names a table entry so ("%d" in a text: how many volumes of the file system the
// discovery has named, this one included).
struct MbrTypeCode {
    std::uint8_t type = 0;
    const char* status = nullptr;        // a primary entry; null: no text
    const char* logicalStatus = nullptr; // an entry of the extended chain; null: no text
    bool primaryOnly = false;            // in the extended chain the type names nothing
};

struct FileSystemDriver {
    // The key the parsers' kind() and some pages still use; Other for a file system added since.
    FileSystemKind kind = FileSystemKind::Other;

    // --- Names. Every name a row has (recordName, listName, both treat-as names and the
    // spellings) resolves to it, letter case and surrounding white space ignored.
    const char* recordName = nullptr; // VolumeRecord::fileSystemName as discovery writes it: "NTFS", "extX"
    const char* listName = "";        // listings (ls --tsv, --json): "ntfs", "ext2"; empty: not a file system
    const char* jsonKind = "";        // `volumes --json` "fileSystemKind": "ntfs", "ext"
    const char* treatAsName = nullptr; // the "Treat file system as:" entry ("NTFS", "EXTX"); null: none
    const char* treatAsRecordName = nullptr; // the record's name after that choice: "ntfs", "extX"
    std::span<const char* const> spellings = {}; // further names, in lower case: "fat", "ext4"
    const char* startHolds = nullptr; // the probed structure in messages: "an NTFS boot sector"

    // --- Discovery.
    VolumeProbe probe = nullptr;        // null: discovery never finds this kind
    std::uint32_t probeOffset = 0;      // where the probed sector lies in the volume, in bytes
    ProbeKey scanKey = {};
    std::span<const MbrTypeCode> mbrTypes = {};
    // The status text when the boot-sector scan or a GPT partition's first sector finds it
    // ("%d" as for MBR types); null: none.
    const char* foundStatus = nullptr;
    // The find is reported before its declared size is judged, so also when nothing is listed.
    bool statusBeforeSize = false;
    // The unit after the size in MB of a volume the scan or a GPT boot sector found.
    const char* foundSizeUnit = "  MB";
    // A boot sector declaring fewer sectors is taken for a stray copy: the scan and GPT
    // discovery list nothing for it.
    std::uint64_t minimumSectors = 0;
    // Sectors of the file system's own (of the hit's sectorBytes) just past its declared size
    // (NTFS: the backup boot sector), which the scan's skip passes over too.
    std::uint64_t trailingSectors = 0;
    bool onBareDisk = true;       // found at sector 0 of a disk without a partition table
    bool inGptPartitions = true;  // looked for in GPT partitions

    // --- Pages and parser.
    bool offersStandard = true; // the modes the recovery mode page offers
    bool offersAdvanced = false;
    bool offersDeep = false;
    ParserFactory create = nullptr; // null while the kind has no parser in this build
    // The status text when the scan page (or the advance options page) starts on it; null: none.
    const char* selectedStatus = nullptr;
};

using FileSystemTable = std::span<const FileSystemDriver>;

// The row one of whose names is `name`; null when none is.
const FileSystemDriver* findFileSystem(FileSystemTable table, std::string_view name);

// What the first bytes of a volume hold: the first row, in table order, whose probe recognises
// its sector of `start` (the volume's first bytes, 2 KiB or more) at all; null when none does.
const FileSystemDriver* probeVolumeStart(FileSystemTable table, ByteSpan start);

} // namespace vindaru
