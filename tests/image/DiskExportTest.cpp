#include <gtest/gtest.h>

#include <sys/stat.h>

#include "image/DiskExport.h"
#include "image/MemoryReader.h"
#include "image/VhdVdiBuilders.h"
#include "image/VmdkTestImages.h"
#include "support/TestSupport.h"

using namespace vindaru;
using namespace vindaru::test;

namespace {

constexpr std::uint64_t kMiB = 1u << 20;
constexpr const char* kSaved = "Image Saved,Choose any one of the mode and click next.";

// A status sink that also notes whether the export said it was running while it reported.
class WatchingStatus : public RecordingStatusSink {
  public:
    explicit WatchingStatus(Session& s) : session(s) {}
    void setText(const std::string& text) override {
        runningSeen = runningSeen || session.exportRunning;
        RecordingStatusSink::setText(text);
    }
    Session& session;
    bool runningSeen = false;
};

struct ExportRun {
    ScratchDir dir;
    Session session;
    RecordingMessageSink imageMessages;
    WatchingStatus status{session};
    RecordingProgressSink progress;
    RecordingMessageSink messages;
    EngineControl control;
    std::string imagePath;
    ImageChoices choices;
    ExportResult result;

    ExportRun(const std::vector<std::uint8_t>& image, ImageKind kind, const std::string& name) {
        session.messages = &imageMessages;
        imagePath = (dir / name).string();
        writeFile(imagePath, image);
        choices.kind = kind;
    }
    std::string target() const { return (dir / "out.img").string(); }
    const ExportResult& go(const std::string& to) {
        result =
            DiskExport().run(session, choices, imagePath, to, status, progress, messages, control);
        return result;
    }
    const ExportResult& go() { return go(target()); }
};

// An export whose status and progress nobody watches; only its messages are kept.
struct QuietExport {
    Session session;
    NullStatusSink status;
    NullProgressSink progress;
    RecordingMessageSink messages;
    EngineControl control;
    ExportResult run(const ImageChoices& choices, const std::string& image,
                     const std::string& target) {
        return DiskExport().run(session, choices, image, target, status, progress, messages,
                                control);
    }
};

} // namespace

TEST(DiskExport, TwelveMebibytesGoInThreePiecesWithOneProgressStep) {
    const auto disk = patternDisk(12 * kMiB, 41);
    VdiPlan plan;
    plan.absent = {4}; // a hole in the middle of the second piece
    ExportRun run(buildVdi(disk, plan), ImageKind::Vdi, "disk.vdi");
    const auto& r = run.go();
    EXPECT_TRUE(r.completed);
    EXPECT_EQ(r.path, run.target());
    EXPECT_EQ(r.bytesWritten, 12 * kMiB);

    auto expected = disk;
    std::fill(expected.begin() + 4 * kMiB, expected.begin() + 5 * kMiB, 0);
    EXPECT_EQ(readFile(run.target()), expected);

    using Range = std::pair<std::int64_t, std::int64_t>;
    EXPECT_EQ(run.progress.ranges, (std::vector<Range>{{0, 24576}}));
    EXPECT_EQ(run.progress.positions, (std::vector<std::int64_t>{0, 20480}));
    EXPECT_EQ(run.status.texts, (std::vector<std::string>{
                                    "5 MB of 12 MB or 0.004883 GB of 0.011719 GB Saved",
                                    "10 MB of 12 MB or 0.009766 GB of 0.011719 GB Saved",
                                    "12 MB of 12 MB or 0.011719 GB of 0.011719 GB Saved", kSaved}));
    EXPECT_TRUE(run.messages.texts().empty());

    // The export gives the session back empty, however it ends.
    EXPECT_TRUE(run.status.runningSeen);
    EXPECT_FALSE(run.session.exportRunning);
    EXPECT_EQ(run.session.sessionReader, nullptr);
    EXPECT_EQ(run.session.diskSectorCount, 0u);
}

TEST(DiskExport, StatusTextHasTheSystemsForm) {
    EXPECT_EQ(DiskExport::progressText(100 * kMiB, 2048 * kMiB),
              "100 MB of 2048 MB or 0.097656 GB of 2.000000 GB Saved");
}

TEST(DiskExport, VhdIsReadByItsOwnReaderAndTheLastPieceIsExact) {
    // 7 MiB + 3 sectors: not a multiple of the piece, nor of the VHD block.
    const auto disk = patternDisk(7 * kMiB + 1536, 42);
    VhdPlan plan;
    plan.reverseOrder = true;
    ExportRun run(buildDynamicVhd(disk, plan), ImageKind::Vhd, "disk.vhd");
    ASSERT_TRUE(run.go().completed);
    EXPECT_EQ(fs::file_size(run.target()), disk.size());
    EXPECT_EQ(readFile(run.target()), disk);
}

TEST(DiskExport, TargetNamesSkipFilesThatExist) {
    ScratchDir dir;
    const std::string folder = dir.path().string();
    EXPECT_EQ(DiskExport::chooseTarget(folder, "/images/disk.vmdk"), folder + "/disk.vmdk.img");
    writeFile(dir / "disk.vmdk.img", {1});
    writeFile(dir / "1disk.vmdk.img", {1});
    EXPECT_EQ(DiskExport::chooseTarget(folder, "/images/disk.vmdk"), folder + "/2disk.vmdk.img");
    EXPECT_EQ(DiskExport::chooseTarget(folder + "/", "/images/disk.vmdk"),
              folder + "/2disk.vmdk.img");

    EXPECT_EQ(DiskExport::chooseTarget(folder, "disk.vmdk"), folder + "/Recovered_diskimg.img");
    fs::create_symlink("/nonexistent", dir / "Recovered_diskimg.img");
    EXPECT_EQ(DiskExport::chooseTarget(folder, "disk.vmdk"), folder + "/1Recovered_diskimg.img")
        << "a dangling link is a name taken too";
}

TEST(DiskExport, StopAfterTheFirstPieceLeavesFiveMebibytes) {
    const auto disk = patternDisk(12 * kMiB, 43);
    ExportRun run(buildVdi(disk), ImageKind::Vdi, "disk.vdi");
    run.control.stopRequested.raise(); // polled after the first piece
    const auto& r = run.go();
    EXPECT_TRUE(r.stopped);
    EXPECT_FALSE(r.completed);
    EXPECT_EQ(r.bytesWritten, 5 * kMiB);
    EXPECT_FALSE(run.control.stopRequested.load()) << "the stop is consumed";
    const auto written = readFile(run.target());
    EXPECT_EQ(written, std::vector<std::uint8_t>(disk.begin(), disk.begin() + 5 * kMiB));
    // A stopped export is no saved image.
    EXPECT_EQ(run.status.texts, std::vector<std::string>{
                                    "Image not saved (stopped): only 5 MB of 12 MB are in the file."});
    EXPECT_EQ(run.session.sessionReader, nullptr);
}

TEST(DiskExport, AllHoleDiskGivesAFullLengthFileOfZeros) {
    VhdPlan plan;
    plan.currentSize = 9 * kMiB;
    plan.maxTableEntries = 5;
    ExportRun run(buildDynamicVhd({}, plan), ImageKind::Vhd, "empty.vhd");
    ASSERT_TRUE(run.go().completed);
    const auto written = readFile(run.target());
    EXPECT_EQ(written.size(), 9 * kMiB);
    EXPECT_TRUE(allZero(written));
    struct stat st {};
    ASSERT_EQ(::stat(run.target().c_str(), &st), 0);
    EXPECT_LT(static_cast<std::uint64_t>(st.st_blocks) * 512, kMiB) << "holes are left unwritten";
}

// A sparse VMDK of 96 MiB with a few grains of 8 KiB (smaller than the export's own grains) here
// and there: the file holds the disk's bytes exactly, and takes no room where the disk is holes.
TEST(DiskExport, SparseVmdkExportsItsExactBytesAndStaysSparse) {
    test::SparseVmdkBuilder b(96 * 2048, 16);
    b.standardDescriptor().allocate(0).allocate(1).allocate(9).rawEntry(10, 1).allocate(4095);
    b.allocate(4096).allocate(6 * 640 + 7).allocate(96 * 128 - 1);
    ExportRun run(b.build(), ImageKind::Vmdk, "sparse.vmdk");
    ASSERT_TRUE(run.go().completed) << run.messages.texts().size();
    EXPECT_FALSE(run.result.damage.damaged());
    EXPECT_TRUE(readFile(run.target()) == b.expectedDisk());
    struct stat st {};
    ASSERT_EQ(::stat(run.target().c_str(), &st), 0);
    EXPECT_LE(static_cast<std::uint64_t>(st.st_blocks) * 512, 2 * kMiB) << "holes are left unwritten";
}

// The room an export needs: on a file system with holes, the export's 64 KiB grains that hold
// stored data (38 MB in a 200 GiB disk is not refused for want of 200 GiB); without holes, the
// whole disk, as always.
TEST(DiskExport, SpaceNeededIsTheStoredDataWhereTheTargetKeepsHoles) {
    constexpr std::uint64_t kGiB = 1ull << 30;
    constexpr std::uint64_t kGrain = 64 * 1024;
    MemoryReader disk(200 * kGiB);
    disk.place(100 * kGiB + 3, std::vector<std::uint8_t>(38'000'000, 1)); // 580 grains, unaligned
    disk.place(199 * kGiB + kGrain - 500, std::vector<std::uint8_t>(1000, 2)); // across two grains
    EXPECT_EQ(DiskExport::spaceNeeded(disk, 200 * kGiB, true), 582 * kGrain);
    EXPECT_EQ(DiskExport::spaceNeeded(disk, 200 * kGiB, false), 200 * kGiB);
    // Only what lies below the size the export copies counts.
    EXPECT_EQ(DiskExport::spaceNeeded(disk, 100 * kGiB + kMiB, true), 16 * kGrain);
    EXPECT_EQ(DiskExport::spaceNeeded(MemoryReader(9 * kMiB), 9 * kMiB, true), 0u);
}

TEST(DiskExport, TheImageIsNeverTouched) {
    const auto disk = patternDisk(6 * kMiB, 44);
    ExportRun run(buildDynamicVhd(disk), ImageKind::Vhd, "disk.vhd");
    struct stat before {};
    ASSERT_EQ(::stat(run.imagePath.c_str(), &before), 0);
    const std::string md5 = md5OfFile(run.imagePath);
    ASSERT_TRUE(run.go().completed);
    // Exporting onto the image itself is refused before the space check could truncate it.
    RecordingMessageSink messages;
    run.result = DiskExport().run(run.session, run.choices, run.imagePath, run.imagePath,
                                  run.status, run.progress, messages, run.control);
    EXPECT_FALSE(run.result.completed);
    EXPECT_EQ(messages.texts(), std::vector<std::string>{"File cannot be Created"});
    struct stat after {};
    ASSERT_EQ(::stat(run.imagePath.c_str(), &after), 0);
    EXPECT_EQ(md5OfFile(run.imagePath), md5);
    EXPECT_EQ(after.st_mtim.tv_sec, before.st_mtim.tv_sec);
    EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
    EXPECT_EQ(after.st_size, before.st_size);
}

TEST(DiskExport, FailuresSayTheSystemsWordsAndCleanUp) {
    const auto disk = patternDisk(2 * kMiB, 45);
    {
        ExportRun run(buildVdi(disk), ImageKind::Vdi, "disk.vdi");
        const auto r = DiskExport().copy(run.session, run.imagePath, run.target(), run.status,
                                         run.progress, run.messages, run.control);
        EXPECT_FALSE(r.completed);
        EXPECT_EQ(
            run.messages.texts(),
            std::vector<std::string>{"Information lost, please click Back button and parse again"});
    }
    {
        ExportRun run(buildVdi(disk), ImageKind::Vdi, "disk.vdi");
        run.go((run.dir / "no-such-folder" / "out.img").string());
        EXPECT_EQ(run.messages.texts(), std::vector<std::string>{"File cannot be Created"});
        EXPECT_EQ(run.session.sessionReader, nullptr);
        EXPECT_FALSE(run.session.exportRunning);
    }
    {
        // A disk bigger than any target can hold is refused by the space check.
        VdiPlan plan;
        plan.diskSize = 1ull << 62;
        ExportRun run(buildVdi(disk, plan), ImageKind::Vdi, "huge.vdi");
        run.go();
        EXPECT_EQ(run.messages.texts(),
                  std::vector<std::string>{"Insufficient Disk Space in saving Location"});
        EXPECT_FALSE(fs::exists(run.target())) << "the space-check file is removed";
        EXPECT_EQ(run.session.diskSectorCount, 0u);
    }
    {
        // An image that cannot be opened: nothing is created, the session is cleaned up.
        ExportRun run({1, 2, 3}, ImageKind::Vhd, "broken.vdi");
        EXPECT_FALSE(run.go().completed);
        EXPECT_EQ(run.imageMessages.texts(), std::vector<std::string>{"not a vhd file: the name of broken.vdi does not end in .vhd"});
        EXPECT_FALSE(fs::exists(run.target()));
        EXPECT_EQ(run.session.sessionReader, nullptr);
    }
    {
        // The footer claims 6 MiB but the table covers 2 MiB: the rest cannot be read. It is
        // written as zeros, and the export says so instead of "Image Saved".
        VhdPlan plan;
        plan.currentSize = 6 * kMiB;
        ExportRun run(buildDynamicVhd(disk, plan), ImageKind::Vhd, "short.vhd");
        const auto& r = run.go();
        EXPECT_EQ(r.bytesWritten, 6 * kMiB);
        EXPECT_EQ(r.damage.unreadableBytes(), 4 * kMiB);
        ASSERT_FALSE(run.status.texts.empty());
        EXPECT_EQ(run.status.texts.back(), "Image saved with 4.00 MB of unreadable ranges written as zeros.");
        ASSERT_FALSE(run.messages.texts().empty());
        EXPECT_EQ(run.messages.texts().back(),
                  "1 range of the disk (4.00 MB) could not be read: they are zeros in the image file.");
    }
}

TEST(DiskExport, VmdkSetsExportThroughTheirOwnReaders) {
    const auto descriptor = corpusFile("generated/tiny-disk-multi-flat.vmdk");
    const auto sparse = corpusFile("generated/mbr-disk.vmdk");
    const auto tinyRaw = unpackedCorpusImage("generated/tiny-disk.raw.zst");
    const auto mbrRaw = unpackedCorpusImage("generated/mbr-disk.raw.zst");
    if (!descriptor || !sparse || !tinyRaw || !mbrRaw) GTEST_SKIP() << "corpus images absent";
    ScratchDir dir;
    // The set is copied, so that the export can be aimed at one of its own extents.
    for (const char* name : {"tiny-disk-multi-flat.vmdk", "tiny-disk-multi-flat-f001.vmdk",
                             "tiny-disk-multi-flat-f002.vmdk", "tiny-disk-multi-flat-f003.vmdk"})
        fs::copy_file(descriptor->parent_path() / name, dir / name);
    const std::string set = (dir / "tiny-disk-multi-flat.vmdk").string();
    const fs::path extent = dir / "tiny-disk-multi-flat-f002.vmdk";
    const std::string extentMd5 = md5OfFile(extent);

    QuietExport quiet;
    ImageChoices choices;
    choices.descriptor = true;
    auto r = quiet.run(choices, set, extent.string());
    EXPECT_FALSE(r.completed);
    EXPECT_EQ(quiet.messages.texts(), std::vector<std::string>{"File cannot be Created"});
    EXPECT_EQ(md5OfFile(extent), extentMd5) << "an extent of the image is never a target";

    const std::string target = DiskExport::chooseTarget(dir.path().string(), set);
    EXPECT_EQ(target, (dir / "tiny-disk-multi-flat.vmdk.img").string());
    r = quiet.run(choices, set, target);
    ASSERT_TRUE(r.completed);
    EXPECT_EQ(md5OfFile(target), md5OfFile(*tinyRaw));

    choices = {};
    const std::string sparseTarget = (dir / "mbr.img").string();
    r = quiet.run(choices, sparse->string(), sparseTarget);
    ASSERT_TRUE(r.completed);
    EXPECT_EQ(md5OfFile(sparseTarget), md5OfFile(*mbrRaw));
}

TEST(DiskExport, GeneratedVhdAndVdiExportAsTheirRawDisk) {
    const auto raw = unpackedCorpusImage("generated/gpt-disk.raw.zst");
    const auto vhd = corpusFile("generated/gpt-disk.vhd");
    const auto vdi = corpusFile("generated/gpt-disk.vdi");
    if (!raw || !vhd || !vdi) GTEST_SKIP() << "corpus images absent";
    ScratchDir dir;
    QuietExport quiet;
    ImageChoices choices;
    choices.kind = ImageKind::Vdi;
    auto r = quiet.run(choices, vdi->string(), (dir / "a.img").string());
    ASSERT_TRUE(r.completed);
    EXPECT_EQ(md5OfFile(dir / "a.img"), md5OfFile(*raw));
    // The VHD's disk is a few sectors longer (whole CHS cylinders); those are zeros.
    choices.kind = ImageKind::Vhd;
    r = quiet.run(choices, vhd->string(), (dir / "b.img").string());
    ASSERT_TRUE(r.completed);
    const auto rawSize = fs::file_size(*raw);
    ASSERT_GE(fs::file_size(dir / "b.img"), rawSize);
    fs::resize_file(dir / "b.img", rawSize);
    EXPECT_EQ(md5OfFile(dir / "b.img"), md5OfFile(*raw));
}
