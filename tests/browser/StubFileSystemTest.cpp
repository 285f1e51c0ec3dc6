// A file system added as docs/adding-a-file-system.md says, in this file only: what its folder
// under src/fs/ would hold (a probe, a parser and the parser's factory) and its one driver row,
// put into a table made of the program's rows and this one. Discovery (the partition tables,
// the bare-disk check, the boot-sector scan), the name lookups, the "Treat file system as:"
// entries and the volume-start probe find it through that row alone.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "browser/FileSystemDrivers.h"
#include "browser/TableEntryView.h"
#include "volume/Partition.h"
#include "volume/SyntheticDisk.h"
#include "volume/VolumeBytes.h"
#include "volume/VolumeTypeNames.h"

namespace vindaru {
namespace {

// ---- What src/fs/stub/ would hold -----------------------------------------------------------
// A stub volume's first sector: "STUBFS" at byte 3, the volume's size in sectors (u64) at 16,
// and its one file: the length (u32) at 24, the name from byte 32 up to a NUL; the content
// follows in the next sectors.
constexpr std::size_t kMagicAt = 3;
constexpr char kMagic[] = "STUBFS";
constexpr std::size_t kSizeAt = 16;
constexpr std::size_t kFileLengthAt = 24;
constexpr std::size_t kFileNameAt = 32;
constexpr std::size_t kMaxFileLength = 64 * 1024;

ProbeHit probeStubBootSector(ByteSpan sector) {
    for (std::size_t i = 0; i + 1 < sizeof kMagic; ++i)
        if (u8(sector, kMagicAt + i) != static_cast<std::uint8_t>(kMagic[i])) return {};
    const std::uint64_t size = le64(sector, kSizeAt);
    return {size != 0 ? ProbeConfidence::Valid : ProbeConfidence::Signature, size};
}

class StubParser final : public VolumeParser {
public:
    explicit StubParser(const ParserSetup& setup) : slice_(volumeSlice(setup.reader, setup.volume)) {}
    FileSystemKind kind() const override { return FileSystemKind::Other; }
    void attachSinks(const ScanSinks&) override {}
    ScanOutcome scan(const ScanRequest&) override {
        ScanOutcome outcome;
        std::vector<std::uint8_t> boot(512);
        if (!slice_.readAt(0, boot) || probeStubBootSector(boot).confidence != ProbeConfidence::Valid) {
            outcome.rejected = true;
            return outcome;
        }
        const ByteSpan names = subspan(boot, kFileNameAt, boot.size() - kFileNameAt);
        const std::string name(names.begin(), std::find(names.begin(), names.end(), 0));
        std::string content(std::min<std::size_t>(le32(boot, kFileLengthAt), kMaxFileLength), '\0');
        slice_.readAt(512, std::span(reinterpret_cast<std::uint8_t*>(content.data()), content.size()));
        view_.root = view_.add(0, "", true);
        view_.add(*view_.root, name, false, content);
        return outcome;
    }
    EntryView& view() override { return view_; }
    EngineControl& control() override { return control_; }

private:
    VolumeSlice slice_;
    test::TableEntryView view_;
    EngineControl control_;
};

std::shared_ptr<VolumeParser> createStubParser(const ParserSetup& setup) { return std::make_shared<StubParser>(setup); }

// ---- Its row (in the program, one more row of src/browser/FileSystemDrivers.cpp) ------------
constexpr MbrTypeCode kStubTypes[] = {{0x7F, "found STUB %d...", "found stub...", false}};
constexpr const char* kStubSpellings[] = {"stubfs"};
constexpr FileSystemDriver kStubRow = {.recordName = "STUB",
                                       .listName = "stub",
                                       .jsonKind = "stub",
                                       .treatAsName = "STUB",
                                       .treatAsRecordName = "stub",
                                       .spellings = kStubSpellings,
                                       .startHolds = "a stub boot sector",
                                       .probe = probeStubBootSector,
                                       .mbrTypes = kStubTypes,
                                       .foundStatus = "found STUB %d...",
                                       .create = createStubParser};

// ---- The test's table and disks -------------------------------------------------------------
// The program's rows with the stub's among the file systems (before the rows without a probe).
std::vector<FileSystemDriver> tableWithStub() {
    std::vector<FileSystemDriver> table(fileSystemDrivers().begin(), fileSystemDrivers().end());
    const auto notFileSystems = std::find_if(table.begin(), table.end(), [](const FileSystemDriver& row) { return !row.probe; });
    table.insert(notFileSystems, kStubRow);
    return table;
}

void putStub(test::SyntheticDisk& disk, std::uint64_t sector, std::uint64_t size, const std::string& name,
             const std::string& content) {
    const std::uint64_t at = sector * 512;
    disk.put8(at, 0xEB);
    disk.putText(at + kMagicAt, kMagic);
    disk.putLe(at + kSizeAt, size, 8);
    disk.putLe(at + kFileLengthAt, content.size(), 4);
    disk.putText(at + kFileNameAt, name);
    disk.putText(at + 512, content);
}

struct Found {
    std::vector<std::string> rows; // name|size text|start
    std::vector<std::string> texts;
};

Found discover(FileSystemTable table, const test::SyntheticDisk& disk, bool gpt, bool scan) {
    MemoryReader reader = disk.reader();
    RecordingStatusSink status;
    Partition partition(table);
    partition.statusTarget = &status;
    partition.gptMode = gpt;
    partition.diskSectorCount = disk.sectorCount();
    if (scan)
        partition.scanForVolumes(reader);
    else
        partition.readPartitionTable(reader);
    Found found{{}, status.texts};
    for (const VolumeRecord& v : partition.volumeList)
        found.rows.push_back(v.fileSystemName + "|" + v.sizeText + "|" + std::to_string(v.startSector));
    return found;
}

TEST(StubFileSystem, DiscoveryFindsItByItsMbrTypeItsBootSectorAndTheScan) {
    const std::vector<FileSystemDriver> table = tableWithStub();

    test::SyntheticDisk mbr(16 * 2048);
    mbr.mbrEntry(0, 0, 0x7F, 2048, 4096);
    mbr.mbrEntry(0, 1, 0x07, 8192, 4096); // NTFS beside it, as before
    putStub(mbr, 2048, 4096, "a.txt", "stub content");
    Found f = discover(table, mbr, false, false);
    EXPECT_EQ(f.rows, (std::vector<std::string>{"STUB|2   MB|2048", "NTFS|2   MB|8192"}));
    EXPECT_EQ(f.texts, (std::vector<std::string>{"found STUB 1...", "found NTFS 1..."}));
    // The program's own table does not know the type.
    EXPECT_EQ(discover(fileSystemDrivers(), mbr, false, false).rows[0], "Unknown|2   MB|2048");

    // Its boot sector names the volume wherever the boot sector is what counts.
    test::SyntheticDisk bare(4096);
    putStub(bare, 0, 4096, "a.txt", "x");
    f = discover(table, bare, false, false);
    EXPECT_EQ(f.rows, (std::vector<std::string>{"STUB|2   MB|0"}));
    EXPECT_EQ(f.texts, (std::vector<std::string>{"found STUB at sector 0, without a partition table..."}));

    test::SyntheticDisk gpt(8192);
    gpt.gptHeader();
    gpt.gptEntry(0, 0xEBD0A0A2, 2048, 6143, u"data");
    putStub(gpt, 2048, 4096, "a.txt", "x");
    f = discover(table, gpt, true, false);
    EXPECT_EQ(f.rows, (std::vector<std::string>{"STUB|2  MB|2048"}));
    EXPECT_EQ(f.texts, (std::vector<std::string>{"found STUB 1..."}));

    test::SyntheticDisk scanned(16 * 2048);
    putStub(scanned, 100, 4096, "a.txt", "x");
    scanned.ntfsBoot(8192, 4095);
    putStub(scanned, 14000, 2048, "b.txt", "y");
    f = discover(table, scanned, false, true);
    EXPECT_EQ(f.rows, (std::vector<std::string>{"STUB|2  MB|100", "NTFS|1   MB|8192", "STUB|1  MB|14000"}));
    EXPECT_EQ(f.texts, (std::vector<std::string>{"Scanning partition.....", "found STUB 1...", "found NTFS 1...",
                                                 "found STUB 2..."}));
}

TEST(StubFileSystem, ItsNamesAndItsParserComeFromItsRow) {
    const std::vector<FileSystemDriver> table = tableWithStub();
    const FileSystemDriver* row = findFileSystem(table, " StubFS ");
    ASSERT_NE(row, nullptr);
    EXPECT_STREQ(row->jsonKind, "stub");
    EXPECT_EQ(findFileSystem(fileSystemDrivers(), "stub"), nullptr);
    const std::vector<std::string> choices = treatAsChoices(table);
    EXPECT_NE(std::find(choices.begin(), choices.end(), "STUB"), choices.end());
    EXPECT_EQ(treatAsFileSystemName(table, "Stub"), "stub");

    test::SyntheticDisk disk(4096);
    putStub(disk, 0, 4096, "notes.txt", "what the stub holds");
    EXPECT_EQ(probeVolumeStart(table, ByteSpan(disk.bytes).first(2048)), row);
    EXPECT_EQ(probeVolumeStart(fileSystemDrivers(), ByteSpan(disk.bytes).first(2048)), nullptr);

    MemoryReader reader = disk.reader();
    const VolumeRecord volume{"stub", "0", "2", 0, 4096};
    const std::shared_ptr<VolumeParser> parser = findFileSystem(table, volume.fileSystemName)->create(
        ParserSetup{reader, volume, ScanSinks{}, false});
    ASSERT_FALSE(parser->scan(ScanRequest{}).rejected);
    EntryView& view = parser->view();
    const std::vector<EntryRef> files = view.children(*view.rootEntry());
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(view.label(files[0]), "notes.txt");
    std::string content;
    view.writeContent(files[0], [&](std::span<const std::uint8_t> piece) {
        content.append(piece.begin(), piece.end());
        return true;
    });
    EXPECT_EQ(content, "what the stub holds");
}

} // namespace
} // namespace vindaru
