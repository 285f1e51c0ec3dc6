// The volume list page (selection, custom volume, Filter, refusals) and the recovery mode page's
// offers per file system, through their widgets.
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QToolButton>
#include <array>

#include "app/SectorEdit.h"
#include "app/WizardFixture.h"
#include "common/Session.h"

namespace vindaru::test {
namespace {

class VolumeAndModePages : public WizardFixture {};

TEST_F(VolumeAndModePages, SelectionCustomVolumeAndNextRefusals) {
    auto* volumes = mbrVolumePage();
    if (!volumes) GTEST_SKIP() << "corpus image generated/mbr-disk.vmdk is absent";
    QTableWidget* table = volumes->volumeTable();
    ASSERT_EQ(table->rowCount(), 3);
    EXPECT_EQ(table->horizontalHeaderItem(0)->text(), "Volume");
    EXPECT_EQ(table->horizontalHeaderItem(3)->text(), "Start Sector");
    EXPECT_FALSE(volumes->addCustomButton()->isVisible()); // standard discovery hides it
    EXPECT_EQ(volumes->filterButton()->toolTip(), "Filter volume entries.");

    // Next without a selection stays.
    volumes->nextButton()->click();
    EXPECT_EQ(boxes.texts().last(), "please select a valid volume.");

    // A row fills the custom edits: start and start + MB × 2048 − 1.
    const int fat = rowOfType(table, "FAT32");
    ASSERT_GE(fat, 0);
    table->selectRow(fat);
    const qulonglong start = table->item(fat, 3)->text().toULongLong();
    EXPECT_EQ(table->item(fat, 2)->text(), "36.00 MB");
    EXPECT_EQ(volumes->startEdit()->text().toULongLong(), start);
    EXPECT_EQ(volumes->endEdit()->text().toULongLong(), start + 36 * 2048 - 1);
    EXPECT_EQ(volumes->selectedVolumeLabel()->text(), table->item(fat, 0)->text());

    // Custom settings: the volume re-typed as NTFS reaches the recovery mode page as "ntfs".
    EXPECT_FALSE(volumes->treatAsCombo()->isEnabled());
    volumes->customBox()->click();
    EXPECT_TRUE(volumes->treatAsCombo()->isEnabled());
    volumes->startEdit()->upButton()->click();
    EXPECT_EQ(volumes->startEdit()->text().toULongLong(), start + 1);
    volumes->treatAsCombo()->setCurrentText("NTFS");
    volumes->nextButton()->click();
    auto* recovery = visiblePage<app::ParceModeNtfsDlg>();
    ASSERT_NE(recovery, nullptr);
    EXPECT_EQ(recovery->volume().fileSystemName, "ntfs");
    EXPECT_EQ(recovery->volume().startSector, start + 1);
    EXPECT_TRUE(recovery->deepRadio()->isVisible());
    recovery->backButton()->click();
    ASSERT_EQ(visiblePage<app::PopulateDriveDlg>(), volumes);

    // Filter on volumes that never start one sector apart would empty the list: it says so
    // and keeps every volume.
    boxes.clear();
    volumes->filterButton()->click();
    ASSERT_TRUE(waitUntil([&] { return !boxes.texts().isEmpty(); }));
    EXPECT_TRUE(boxes.texts().last().startsWith("No volume starts one sector after"))
        << boxes.texts().last().toStdString();
    EXPECT_EQ(table->rowCount(), 3);
    EXPECT_EQ(volumes->filterButton()->text(), "Filter Entries");
}

TEST_F(VolumeAndModePages, AVolumeWithoutAPartitionTableIsListedByItself) {
    for (const auto& [packed, type] : {std::pair{"generated/ntfs.img.zst", "NTFS"},
                                       std::pair{"generated/ext4.img.zst", "extX"},
                                       std::pair{"generated/fat32.img.zst", "FAT32"}}) {
        auto image = unpackedCorpusImage(packed);
        if (!image) GTEST_SKIP() << "corpus image " << packed << " (or zstd) is absent";
        ASSERT_TRUE(wizard->start());
        imagePage()->fixedDiskRadio()->click();
        nextFile = QString::fromStdString(image->string());
        imagePage()->browseButton()->click();
        imagePage()->nextButton()->click();
        auto* modes = visiblePage<app::DriveParsingModes>();
        ASSERT_NE(modes, nullptr);
        auto* volumes = openVolumePage(modes);
        ASSERT_NE(volumes, nullptr) << packed;
        QTableWidget* table = volumes->volumeTable();
        ASSERT_EQ(table->rowCount(), 1) << packed;
        EXPECT_EQ(table->item(0, 1)->text(), type);
        EXPECT_EQ(table->item(0, 3)->text(), "0");
        wizard.reset();
        wizard = std::make_unique<app::COrdavinApp>(QString::fromStdString(lockDir.path().string()));
    }
}

TEST_F(VolumeAndModePages, AdvanceScanFindsTheVolumesOnAWorker) {
    auto image = corpusFile("generated/mbr-disk.vmdk");
    if (!image) GTEST_SKIP() << "corpus image generated/mbr-disk.vmdk is absent";
    auto* modes = openModesPage(*image);
    ASSERT_NE(modes, nullptr);
    modes->advanceRadio()->click();
    modes->nextButton()->click();
    auto* volumes = visiblePage<app::PopulateDriveDlg>();
    ASSERT_NE(volumes, nullptr);
    ASSERT_TRUE(boxes.waitFor("populated partitions....", 60000));
    ASSERT_TRUE(waitUntil(
        [&] { return volumes->nextButton()->isEnabled() && volumes->backButton()->isEnabled(); }));
    EXPECT_GE(rowOfType(volumes->volumeTable(), "NTFS"), 0);
    EXPECT_EQ(boxes.captions()[boxes.texts().indexOf("populated partitions....")], "");
    EXPECT_TRUE(volumes->addCustomButton()->isVisible());
    EXPECT_EQ(volumes->statusLabel()->text(), "Select volume and click next button...");

    // Add Custom Volume: a "CUSTOM " row, selected, with both edits at 0.
    const int before = volumes->volumeTable()->rowCount();
    volumes->addCustomButton()->click();
    ASSERT_EQ(volumes->volumeTable()->rowCount(), before + 1);
    EXPECT_EQ(volumes->volumeTable()->item(before, 1)->text(), "CUSTOM ");
    EXPECT_EQ(volumes->volumeTable()->currentRow(), before);
    EXPECT_EQ(volumes->startEdit()->text(), "0");
    EXPECT_TRUE(volumes->customBox()->isChecked());
}

TEST_F(VolumeAndModePages, RecoveryModesOfferedByFileSystem) {
    ASSERT_TRUE(wizard->start());
    auto offered = [&](const std::string& type) {
        app::ParceModeNtfsDlg page(*wizard, imagePage(), VolumeRecord{type, "0", "8", 2048});
        page.show();
        return std::array<bool, 3>{page.standardRadio()->isVisible(),
                                   page.advancedRadio()->isVisible(),
                                   page.deepRadio()->isVisible()};
    };
    EXPECT_EQ(offered("NTFS"), (std::array<bool, 3>{true, true, true}));
    EXPECT_EQ(offered("FAT32"), (std::array<bool, 3>{true, true, false}));
    EXPECT_EQ(offered("fat64"), (std::array<bool, 3>{true, true, false}));
    EXPECT_EQ(offered("extX"), (std::array<bool, 3>{true, false, false}));
    EXPECT_EQ(offered("HFS+"), (std::array<bool, 3>{true, false, true}));

    app::ParceModeNtfsDlg fat(*wizard, imagePage(), VolumeRecord{"fat32", "0", "36", 20480});
    fat.show();
    EXPECT_TRUE(fat.standardRadio()->isChecked());
    EXPECT_FALSE(fat.maxEdit()->isVisible());
    fat.advancedRadio()->click();
    EXPECT_TRUE(fat.maxEdit()->isVisible());
    ASSERT_TRUE(fat.formattedBox()->isVisible());
    fat.formattedBox()->click();
    EXPECT_TRUE(wizard->session.driveFormatted.load());
    saveScreenshot(&fat, "4-recovery-mode-page-advanced");
    fat.standardRadio()->click(); // every choice clears the flag
    EXPECT_FALSE(wizard->session.driveFormatted.load());
    EXPECT_FALSE(fat.formattedBox()->isVisible());
}

} // namespace
} // namespace vindaru::test
