// The raw recovery page and the signature editor, driven as a user drives them: a fixed disk
// whose one volume is treated as "RAW", Parse with a settings file, the finds by category, Save
// of the checked finds, and the editor writing records one Save at a time.
#include <QCheckBox>
#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTableWidget>
#include <QToolButton>
#include <QTreeView>

#include "app/RawRecoveryDialog.h"
#include "app/RawSettingDlg.h"
#include "app/SectorEdit.h"
#include "app/WizardFixture.h"
#include "browser/UsedSpace.h"
#include "pages/RawRecoveryLogic.h"
#include "raw/CarveSamples.h"
#include "raw/DefaultSignatures.h"
#include "raw/signatureRecord.h"

namespace vindaru::test {
namespace {

constexpr std::uint64_t kVolumeStart = 2048; // sectors
constexpr std::uint64_t kVolumeMiB = 8;

class RawRecoveryPage : public WizardFixture {
  protected:
    // A disk with an MBR naming one volume of 8 MiB at sector 2048, files carved out of it.
    fs::path makeDisk() {
        files = mixedLayout(31);
        Bytes volume = fileSystemVolume ? *fileSystemVolume : buildVolume(kVolumeMiB, files, 31);
        volume.resize(volume.size() + extraSectors * 512, 0);
        Bytes disk(kVolumeStart * 512 + volume.size(), 0);
        std::copy(volume.begin(), volume.end(), disk.end() - static_cast<std::ptrdiff_t>(volume.size()));
        disk[446 + 4] = 0x07;
        putLe32(disk, 446 + 8, static_cast<std::uint32_t>(kVolumeStart));
        putLe32(disk, 446 + 12, static_cast<std::uint32_t>(kVolumeMiB * 2048 + extraSectors));
        disk[510] = 0x55;
        disk[511] = 0xAA;
        const fs::path path = scratch / "disk.img";
        writeFile(path, disk);
        return path;
    }

    // The volume list with the disk's volume, re-typed as RAW, then Next.
    app::RawRecoveryDialog* openRawPage(bool zeroSize = false) {
        EXPECT_TRUE(wizard->start());
        imagePage()->fixedDiskRadio()->click();
        nextFile = QString::fromStdString(makeDisk().string());
        imagePage()->browseButton()->click();
        imagePage()->nextButton()->click();
        auto* modes = visiblePage<app::DriveParsingModes>();
        if (!modes) return nullptr;
        auto* volumes = openVolumePage(modes);
        if (!volumes) return nullptr;
        volumes->volumeTable()->selectRow(0);
        volumes->customBox()->click();
        if (zeroSize) volumes->endEdit()->setText(volumes->startEdit()->text());
        volumes->treatAsCombo()->setCurrentText("RAW");
        volumes->nextButton()->click();
        return visiblePage<app::RawRecoveryDialog>();
    }

    static fs::path shippedSettings() {
        return fs::path(VINDARU_GUI_SCREENS_DIR).parent_path() / kDefaultSignatureFileName;
    }

    // The editor's fields filled with one signature's texts.
    static void fillEditor(app::RawSettingDlg& editor, const SignatureFields& f) {
        editor.field(app::RawSettingDlg::Extension)->setText(QString::fromStdString(f.extension));
        editor.field(app::RawSettingDlg::Start)->setText(QString::fromStdString(f.startSignature));
        editor.field(app::RawSettingDlg::StartOffset)->setText(QString::fromStdString(f.startOffset));
        editor.field(app::RawSettingDlg::End)->setText(QString::fromStdString(f.endSignature));
        editor.field(app::RawSettingDlg::SizeOffset)->setText(QString::fromStdString(f.sizeOffset));
        editor.field(app::RawSettingDlg::BytesInSize)->setText(QString::fromStdString(f.bytesInSize));
        editor.field(app::RawSettingDlg::HeaderSize)->setText(QString::fromStdString(f.headerSize));
        editor.field(app::RawSettingDlg::Skip)->setText(QString::fromStdString(f.skipSize));
        editor.field(app::RawSettingDlg::Approx)->setText(QString::fromStdString(f.approximateSize));
        editor.field(app::RawSettingDlg::Category)->setText(QString::fromStdString(f.category));
        editor.includesHeaderBox()->setChecked(f.sizeIncludesHeader);
    }
    void chooseInEditor(const fs::path& path) {
        app::UiDialogs::setSaveFileHook([path](QWidget*, const QString&, const QString&) {
            return QString::fromStdString(path.string());
        });
    }

    ScratchDir scratch;
    std::vector<PlacedFile> files;
    std::uint64_t extraSectors = 0; // beyond the volume's whole MiB
    std::optional<Bytes> fileSystemVolume; // the volume instead of random bytes with files in them
};

// "Free space only" on the page, off by default: over a volume of random bytes it says the file
// system is not known and carves nothing; over an ext2 volume made by mke2fs holding a live
// picture and a deleted one, only the deleted one is found.
class RawRecoveryFreeSpace : public RawRecoveryPage {
  protected:
    app::RawRecoveryDialog* parseFreeSpace() {
        app::RawRecoveryDialog* page = openRawPage();
        if (!page) return nullptr;
        EXPECT_FALSE(page->freeSpaceBox()->isChecked());
        page->freeSpaceBox()->setChecked(true);
        page->loadDefaultBox()->setChecked(false);
        page->pathEdit()->setText(QString::fromStdString(shippedSettings().string()));
        page->parseButton()->click();
        EXPECT_TRUE(waitUntil([&] { return !page->busy() && page->statusLabel()->text() == "Processing done"; }));
        return page;
    }
};

TEST_F(RawRecoveryFreeSpace, AVolumeWithoutAFileSystemIsNotCarved) {
    app::RawRecoveryDialog* page = parseFreeSpace();
    ASSERT_NE(page, nullptr);
    EXPECT_TRUE(boxes.waitFor(kFreeSpaceUnknownFileSystem));
    EXPECT_EQ(page->treeModel()->rowCount(), 0);
}

TEST_F(RawRecoveryFreeSpace, OnlyTheDeletedPictureOfAnExtVolumeIsFound) {
    const Bytes gone = sampleJpeg(50000, 2);
    fs::create_directories(scratch / "src");
    writeFile(scratch / "src" / "live.jpg", sampleJpeg(30000, 1));
    writeFile(scratch / "src" / "gone.jpg", gone);
    const std::string image = shellQuote((scratch / "ext2.img").string());
    if (runCommand("mke2fs -q -t ext2 -b 1024 -d " + shellQuote((scratch / "src").string()) + " " + image +
                   " 8M && debugfs -w -R 'rm gone.jpg' " + image).exitCode != 0)
        GTEST_SKIP() << "mke2fs or debugfs not installed";
    fileSystemVolume = readFile(scratch / "ext2.img");
    const auto goneAt = std::search(fileSystemVolume->begin(), fileSystemVolume->end(), gone.begin(),
                                    gone.begin() + 4096) - fileSystemVolume->begin();
    app::RawRecoveryDialog* page = parseFreeSpace();
    ASSERT_NE(page, nullptr);
    const QModelIndex pictures = childNamed(page->treeModel(), page->treeModel()->index(0, 0), "Pictures (1)");
    ASSERT_TRUE(pictures.isValid());
    page->treeView()->clicked(pictures);
    ASSERT_EQ(page->fileList()->rowCount(), 1);
    EXPECT_EQ(page->fileList()->item(0, 0)->text().toStdString(), std::to_string(goneAt) + " .jpg");
}

TEST_F(RawRecoveryPage, ParseListsTheFindsByCategoryAndSaveWritesTheCheckedOnes) {
    app::RawRecoveryDialog* page = openRawPage();
    ASSERT_NE(page, nullptr);
    EXPECT_EQ(page->statusLabel()->text(), "Please select parse button to scan the default file.");
    EXPECT_TRUE(page->loadDefaultBox()->isChecked());
    EXPECT_EQ(page->loadDefaultBox()->text(), "Load Default Items ");
    EXPECT_EQ(page->pathEdit()->text().toStdString(), page->logic().defaultPath());
    EXPECT_FALSE(page->progressBar()->isVisible());
    EXPECT_FALSE(page->pauseButton()->isVisible());
    EXPECT_EQ(page->settingButton()->toolTip(), "Setting");
    EXPECT_EQ(page->fileList()->horizontalHeaderItem(0)->text(), "File(s) List");
    EXPECT_EQ(page->logic().volume().fileSystemName, "RAW");
    saveScreenshot(page, "raw-recovery-start");

    // Save with nothing checked.
    page->saveButton()->click();
    EXPECT_EQ(boxes.texts().last(), "Please Select item from tree to save");

    page->loadDefaultBox()->setChecked(false);
    page->pathEdit()->setText(QString::fromStdString(shippedSettings().string()));
    page->parseButton()->click();
    EXPECT_FALSE(page->parseButton()->isEnabled());
    ASSERT_TRUE(boxes.waitFor("done.."));
    ASSERT_TRUE(waitUntil([&] { return !page->busy() && page->parseButton()->isEnabled(); }));
    EXPECT_TRUE(waitUntil([&] { return page->statusLabel()->text() == "Processing done"; }));
    EXPECT_FALSE(page->progressBar()->isVisible());

    const QModelIndex root = page->treeModel()->index(0, 0);
    ASSERT_TRUE(root.isValid());
    EXPECT_EQ(root.data().toString(), "RAW RECOVERY ");
    const QModelIndex pictures = childNamed(page->treeModel(), root, "Pictures (6)");
    ASSERT_TRUE(pictures.isValid());
    EXPECT_TRUE(childNamed(page->treeModel(), root, "Audio (1)").isValid());
    EXPECT_TRUE(childNamed(page->treeModel(), root, "Video").isValid());
    page->treeView()->clicked(pictures);
    ASSERT_EQ(page->fileList()->rowCount(), 6);
    EXPECT_EQ(page->fileList()->item(0, 0)->text().toStdString(),
              std::to_string(files[0].position) + " .jpg");
    EXPECT_EQ(page->fileList()->item(0, 2)->text(), "whole");
    page->treeView()->clicked(root); // categories are not listed
    EXPECT_EQ(page->fileList()->rowCount(), 0);
    saveScreenshot(page, "raw-recovery-finds");

    // Check the pictures and save them.
    page->tree().setCheck(page->treeModel()->itemAt(pictures), true);
    const fs::path out = scratch / "saved";
    nextFolder = QString::fromStdString(out.string());
    page->saveButton()->click();
    ASSERT_TRUE(waitUntil([&] { return !page->busy() && page->saveButton()->isEnabled(); }));
    EXPECT_TRUE(page->statusLabel()->text().startsWith("6 file(s) saved"));
    for (const PlacedFile& f : files) {
        const fs::path saved = out / (std::to_string(f.position) + "." + f.kind);
        const bool picture = f.kind == "jpg" || f.kind == "png" || f.kind == "gif" || f.kind == "bmp";
        ASSERT_EQ(fs::exists(saved), picture) << saved;
        if (!picture) continue;
        const Bytes bytes = readFile(saved);
        ASSERT_GE(bytes.size(), f.bytes.size());
        EXPECT_TRUE(std::equal(f.bytes.begin(), f.bytes.end(), bytes.begin())) << saved;
    }

    // A second Parse adds a second root; the first run's finds stay.
    page->parseButton()->click();
    ASSERT_TRUE(waitUntil([&] { return boxes.count("done..") == 2 && !page->busy(); }));
    EXPECT_EQ(page->treeModel()->rowCount(), 2);
}

TEST_F(RawRecoveryPage, AZeroSizeVolumeStopsBeforeAnyThread) {
    app::RawRecoveryDialog* page = openRawPage(true);
    ASSERT_NE(page, nullptr);
    // The default set beside the test program is missing: skipped without a word. The path box
    // names the shipped one.
    page->pathEdit()->setText(QString::fromStdString(shippedSettings().string()));
    page->parseButton()->click();
    EXPECT_EQ(boxes.texts().last(), "zero size volume..");
    EXPECT_EQ(boxes.count("Please select a valid file.."), 0);
    EXPECT_TRUE(page->parseButton()->isEnabled());
    EXPECT_TRUE(waitUntil([&] { return page->statusLabel()->text() == "Processing done"; }));
    EXPECT_FALSE(page->busy());
    page->backButton()->click();
    EXPECT_NE(visiblePage<app::PopulateDriveDlg>(), nullptr);
}

TEST_F(RawRecoveryPage, TheEditorAppendsOneRecordPerSave) {
    app::UiDialogs::setSaveFileHook([this](QWidget*, const QString&, const QString&) {
        return QString::fromStdString((scratch / "mine.txt").string());
    });
    app::RawSettingDlg editor;
    editor.show();
    EXPECT_EQ(editor.windowTitle(), "Setting");
    EXPECT_EQ(editor.helpButton(1)->toolTip().toStdString(), RawSettingLogic::helpTexts()[1]);
    editor.saveButton()->click();
    EXPECT_EQ(boxes.texts().last(), "Select valid file to save the entries.");

    writeFile(scratch / "mine.txt", Bytes(10, 1)); // emptied by the choice
    boxes.answer("mine.txt already holds 0 signatures.", QMessageBox::No); // Replace
    editor.browseButton()->click();
    EXPECT_EQ(editor.pathEdit()->text().toStdString(), (scratch / "mine.txt").string());
    EXPECT_EQ(fs::file_size(scratch / "mine.txt"), 0u);
    const std::vector<SignatureFields>& table = defaultSignatureFields();
    for (const SignatureFields& f : table) {
        fillEditor(editor, f);
        editor.saveButton()->click();
        EXPECT_EQ(boxes.texts().last(), "everything initialized well.....");
    }
    // The shipped records also name their format in the first reserved field the editor leaves 0.
    Bytes shipped = readFile(shippedSettings());
    for (std::size_t at = 0; at + kSignatureRecordBytes <= shipped.size(); at += kSignatureRecordBytes)
        putLe32(shipped, at + signature_offsets::reserved1, 0);
    EXPECT_EQ(readFile(scratch / "mine.txt"), shipped);
    saveScreenshot(&editor, "raw-signature-editor");

    editor.field(app::RawSettingDlg::Extension)->clear();
    editor.saveButton()->click();
    EXPECT_EQ(boxes.texts().last(), "extention length is zero..");
    app::UiDialogs::setSaveFileHook({});
}

TEST_F(RawRecoveryPage, TheEditorAddsToAnExistingFileAndKeepsACopyOfTheDefaultSet) {
    // "Add" keeps the signatures the file holds.
    const fs::path mine = scratch / "set.txt";
    fs::copy_file(shippedSettings(), mine);
    const std::uintmax_t records = fs::file_size(mine) / kSignatureRecordBytes;
    ASSERT_GT(records, 1u);
    chooseInEditor(mine);
    app::RawSettingDlg editor;
    editor.show();
    editor.browseButton()->click(); // the box's default: Add
    EXPECT_EQ(boxes.texts().last(),
              QString("set.txt already holds %1 signatures.").arg(records));
    EXPECT_EQ(fs::file_size(mine), records * kSignatureRecordBytes);
    fillEditor(editor, defaultSignatureFields().front());
    editor.saveButton()->click();
    EXPECT_EQ(boxes.texts().last(), "everything initialized well.....");
    EXPECT_EQ(fs::file_size(mine), (records + 1) * kSignatureRecordBytes);

    // "Replace" on the program's own set: a copy is kept first.
    const fs::path own = defaultSignaturePath();
    const bool present = fs::exists(own);
    const Bytes before = present ? readFile(own) : readFile(shippedSettings());
    if (!present) writeFile(own, before);
    chooseInEditor(own);
    boxes.answer(QString("%1 already holds %2 signatures.")
                     .arg(QString::fromStdString(own.filename().string()))
                     .arg(before.size() / kSignatureRecordBytes),
                 QMessageBox::No);
    editor.browseButton()->click();
    const QString said = boxes.texts().last();
    ASSERT_TRUE(said.startsWith("The default signature file was backed up as ")) << said.toStdString();
    const fs::path backup = said.mid(44).chopped(1).toStdString();
    EXPECT_EQ(readFile(backup), before);
    EXPECT_EQ(fs::file_size(own), 0u);
    // Leave the folder as it was.
    fs::remove(backup);
    if (present)
        writeFile(own, before);
    else
        fs::remove(own);
    app::UiDialogs::setSaveFileHook({});
}

TEST_F(RawRecoveryPage, TheVolumeIsCarvedToItsLastSector) {
    extraSectors = 300; // 8 MiB and 150 KiB: "8 MB" in the list
    app::RawRecoveryDialog* page = openRawPage();
    ASSERT_NE(page, nullptr);
    EXPECT_EQ(page->logic().volumeBytes(), (kVolumeMiB * 2048 + extraSectors) * 512);
}

} // namespace
} // namespace vindaru::test
