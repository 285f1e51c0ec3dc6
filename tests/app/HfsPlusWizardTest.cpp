// The wizard on the HFS+ partition of the corpus GPT disk: the recovery mode page offers
// Standard and Deep, the scan page runs the HFS+ thread (its own end text, no end message box),
// opens a folder, saves it with the right content, and the Deep mode shows ORPHAN_ENTRY.
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTreeView>
#include <fstream>
#include <map>
#include <sstream>

#include "app/CheckTreeModel.h"
#include "app/VolumeScanDlg.h"
#include "app/WizardFixture.h"

namespace vindaru::test {
namespace {

// md5 of the live files below `folder` of the HFS+ partition, by path relative to it.
std::map<std::string, std::string> expectedFiles(const std::string& folder) {
    std::map<std::string, std::string> files;
    std::ifstream in(fs::path(VINDARU_CORPUS_DIR) / "generated/gpt-disk.expected.tsv");
    std::string line;
    while (std::getline(in, line)) {
        std::vector<std::string> f;
        std::stringstream fields(line);
        for (std::string cell; std::getline(fields, cell, '\t');) f.push_back(cell);
        if (f.size() < 8 || f[0] != "141312" || f[3] != "0" || f[4] != "0") continue;
        if (f[2].rfind(folder + "/", 0) == 0) files[f[2].substr(folder.size() + 1)] = f[6];
    }
    return files;
}

class HfsPlusWizard : public WizardFixture {
protected:
    app::ParceModeNtfsDlg* hfsRecoveryPage() {
        auto image = corpusFile("generated/gpt-disk.vmdk");
        if (!image) return nullptr;
        auto* modes = openModesPage(*image);
        if (!modes) return nullptr;
        // The protective MBR ticks "GPT format" by itself.
        EXPECT_TRUE(modes->gptBox()->isChecked());
        modes->gptBox()->setChecked(true);
        auto* volumes = openVolumePage(modes);
        return volumes ? openRecoveryPage(volumes, "HFS+") : nullptr;
    }
    app::VolumeScanDlg* scanWith(app::ParceModeNtfsDlg* recovery, QRadioButton* mode) {
        mode->click();
        recovery->nextButton()->click();
        auto* scan = visiblePage<app::VolumeScanDlg>();
        EXPECT_NE(scan, nullptr);
        if (scan) {
            EXPECT_TRUE(waitUntil([&] { return !scan->busy(); }, 60000));
        }
        return scan;
    }
};

TEST_F(HfsPlusWizard, StandardAndDeepScansFromTheRecoveryModePage) {
    auto* recovery = hfsRecoveryPage();
    if (!recovery) GTEST_SKIP() << "corpus disk generated/gpt-disk.vmdk is absent";
    EXPECT_TRUE(recovery->standardRadio()->isVisible());
    EXPECT_FALSE(recovery->advancedRadio()->isVisible());
    EXPECT_TRUE(recovery->deepRadio()->isVisible());

    boxes.clear();
    auto* scan = scanWith(recovery, recovery->standardRadio());
    ASSERT_NE(scan, nullptr);
    // The status line shows the thread's own end text (it arrives through the page's queue).
    EXPECT_TRUE(waitUntil([&] { return scan->statusLabel()->text() == "Scanning process Done."; }));
    // The HFS+ thread ends without the common end's message box.
    EXPECT_FALSE(boxes.texts().contains("Scanning process completed..."));
    EXPECT_TRUE(scan->backButton()->isEnabled());

    app::CheckTreeModel* model = scan->treeModel();
    const QModelIndex root = model->index(0, 0);
    EXPECT_EQ(root.data().toString(), "ROOT");
    // Left checked, as every other file system's scan leaves what it found.
    EXPECT_EQ(root.data(Qt::CheckStateRole).toInt(), Qt::Checked);
    QModelIndex catalog = childNamed(model, root, "Catalog");
    ASSERT_TRUE(catalog.isValid());
    EXPECT_TRUE(childNamed(model, catalog, "..DUMY..").isValid());
    scan->treeView()->expand(catalog);
    ASSERT_TRUE(waitUntil([&] {
        catalog = childNamed(model, root, "Catalog");
        return childNamed(model, catalog, "entry 000 garnet.txt").isValid();
    }));

    // Selecting the folder lists its files; saving it writes each with its content.
    ScratchDir output;
    scan->treeView()->setCurrentIndex(catalog);
    nextFolder = QString::fromStdString(output.path().string());
    scan->browseButton()->click();
    scan->saveButton()->click();
    ASSERT_TRUE(boxes.waitFor("Saving process done", 60000));
    ASSERT_TRUE(waitUntil([&] { return !scan->busy(); }));
    const auto expected = expectedFiles("/Catalog");
    ASSERT_GT(expected.size(), 20u);
    for (const auto& [path, md5] : expected) {
        const fs::path saved = output.path() / "Catalog" / path;
        ASSERT_TRUE(fs::exists(saved)) << path;
        EXPECT_EQ(md5OfFile(saved), md5) << path;
    }

    // Back, Deep, Next: the folders where the catalog records put them, and ORPHAN_ENTRY.
    scan->backButton()->click();
    recovery = visiblePage<app::ParceModeNtfsDlg>();
    ASSERT_NE(recovery, nullptr);
    auto* deep = scanWith(recovery, recovery->deepRadio());
    ASSERT_NE(deep, nullptr);
    EXPECT_TRUE(waitUntil([&] { return deep->statusLabel()->text() == "Scanning process Done."; }));
    const QModelIndex deepRoot = deep->treeModel()->index(0, 0);
    EXPECT_TRUE(waitUntil([&] {
        return childNamed(deep->treeModel(), deepRoot, "ORPHAN_ENTRY").isValid() &&
               childNamed(deep->treeModel(), deepRoot, "Catalog").isValid();
    }));
}

} // namespace
} // namespace vindaru::test
