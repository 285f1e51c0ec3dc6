// A wizard started as a user starts it, with its own lock folder, the file and folder dialogs
// answered by the test, and every message box answered by a BoxAnswerer.
#pragma once

#include <QString>
#include <QUrl>
#include <gtest/gtest.h>
#include <memory>
#include <vector>

#include <QTableWidget>

#include "app/COrdavinApp.h"
#include "app/CheckTreeModel.h"
#include "app/DriveParsingModes.h"
#include "app/GuiTestSupport.h"
#include "app/ParceModeNtfsDlg.h"
#include "app/PopulateDriveDlg.h"
#include "app/UiDialogs.h"
#include "app/VhdInputDialog.h"
#include "support/TestSupport.h"

namespace vindaru::test {

class WizardFixture : public ::testing::Test {
  protected:
    void SetUp() override {
        app::UiDialogs::setOpenFileHook(
            [this](QWidget*, const QString&, const QString&) { return nextFile; });
        app::UiDialogs::setFolderHook([this](QWidget*, const QString&) { return nextFolder; });
        app::UiDialogs::setUrlHook([this](const QUrl& url) { urls.push_back(url); });
        wizard =
            std::make_unique<app::COrdavinApp>(QString::fromStdString(lockDir.path().string()));
    }
    void TearDown() override {
        wizard.reset();
        app::UiDialogs::setOpenFileHook({});
        app::UiDialogs::setFolderHook({});
        app::UiDialogs::setUrlHook({});
    }
    app::VhdInputDialog* imagePage() const { return wizard->imagePage(); }

    // The image page with `image` chosen (a .vhd through Open VHD image), then Next.
    app::DriveParsingModes* openModesPage(const fs::path& image) {
        EXPECT_TRUE(wizard->start());
        nextFile = QString::fromStdString(fs::weakly_canonical(image).string());
        if (image.extension() == ".vhd")
            imagePage()->openVhdButton()->click();
        else
            imagePage()->browseButton()->click();
        imagePage()->nextButton()->click();
        auto* modes = visiblePage<app::DriveParsingModes>();
        EXPECT_NE(modes, nullptr);
        EXPECT_FALSE(imagePage()->isVisible());
        EXPECT_TRUE(boxes.waitFor(
            "Make sure you have sufficient disk space at saving location of Image File"));
        return modes;
    }

    // Next on the modes page: the volume list, filled.
    app::PopulateDriveDlg* openVolumePage(app::DriveParsingModes* modes) {
        modes->nextButton()->click();
        auto* volumes = visiblePage<app::PopulateDriveDlg>();
        EXPECT_NE(volumes, nullptr);
        if (volumes) {
            EXPECT_TRUE(waitUntil([&] { return volumes->volumeTable()->rowCount() > 0; }));
        }
        return volumes;
    }

    static int rowOfType(QTableWidget* table, const QString& type) {
        for (int r = 0; r < table->rowCount(); ++r)
            if (table->item(r, 1)->text().compare(type, Qt::CaseInsensitive) == 0) return r;
        return -1;
    }

    // The first volume of `type` selected, then Next: the recovery mode page.
    app::ParceModeNtfsDlg* openRecoveryPage(app::PopulateDriveDlg* volumes, const QString& type) {
        const int row = rowOfType(volumes->volumeTable(), type);
        EXPECT_GE(row, 0);
        volumes->volumeTable()->selectRow(row);
        volumes->nextButton()->click();
        auto* modes = visiblePage<app::ParceModeNtfsDlg>();
        EXPECT_NE(modes, nullptr);
        return modes;
    }

    // The volume list of the corpus MBR disk (NTFS, FAT32, ext2), or null when it is absent.
    app::PopulateDriveDlg* mbrVolumePage() {
        auto image = corpusFile("generated/mbr-disk.vmdk");
        if (!image) return nullptr;
        auto* modes = openModesPage(*image);
        return modes ? openVolumePage(modes) : nullptr;
    }
    // Its NTFS volume's recovery mode page, or null.
    app::ParceModeNtfsDlg* mbrNtfsRecoveryPage() {
        auto* volumes = mbrVolumePage();
        return volumes ? openRecoveryPage(volumes, "NTFS") : nullptr;
    }

    static QModelIndex childNamed(app::CheckTreeModel* model, const QModelIndex& parent,
                                  const QString& name) {
        for (int r = 0; r < model->rowCount(parent); ++r) {
            const QModelIndex index = model->index(r, 0, parent);
            if (index.data().toString() == name) return index;
        }
        return {};
    }

    ScratchDir lockDir;
    BoxAnswerer boxes;
    QString nextFile;
    QString nextFolder;
    std::vector<QUrl> urls;
    std::unique_ptr<app::COrdavinApp> wizard;
};

} // namespace vindaru::test
