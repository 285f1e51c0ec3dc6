// The wizard on the ext2 volume of the corpus MBR disk: the recovery mode page offers Standard
// only, the scan page runs the ext2 thread to "done.." and "Processing done...", shows the
// root's children with the root's own "." among them, lists a folder's files with their texts,
// and saves the folder with each file's content and modification time.
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTreeView>
#include <fstream>
#include <map>
#include <sstream>
#include <sys/stat.h>

#include "app/CheckTreeModel.h"
#include "app/FileListModel.h"
#include "app/VolumeScanDlg.h"
#include "app/WizardFixture.h"

namespace vindaru::test {
namespace {

struct ExpectedExtFile {
    std::string md5;
    std::string mtime;
};

// The live files below `folder` of the ext2 volume, by path relative to it.
std::map<std::string, ExpectedExtFile> expectedFiles(const std::string& folder) {
    std::map<std::string, ExpectedExtFile> files;
    std::ifstream in(fs::path(VINDARU_CORPUS_DIR) / "generated/mbr-disk.expected.tsv");
    std::string line;
    while (std::getline(in, line)) {
        std::vector<std::string> f;
        std::stringstream fields(line);
        for (std::string cell; std::getline(fields, cell, '\t');) f.push_back(cell);
        if (f.size() < 8 || f[0] != "96256" || f[3] != "0" || f[4] != "0") continue;
        if (f[2].rfind(folder + "/", 0) == 0) files[f[2].substr(folder.size() + 1)] = {f[6], f[7]};
    }
    return files;
}

class Ext2Wizard : public WizardFixture {};

TEST_F(Ext2Wizard, StandardScanListsAndSavesAFolder) {
    auto* volumes = mbrVolumePage();
    if (!volumes) GTEST_SKIP() << "corpus disk generated/mbr-disk.vmdk is absent";
    auto* recovery = openRecoveryPage(volumes, "extX");
    ASSERT_NE(recovery, nullptr);
    EXPECT_TRUE(recovery->standardRadio()->isVisible());
    EXPECT_FALSE(recovery->advancedRadio()->isVisible());
    EXPECT_FALSE(recovery->deepRadio()->isVisible());

    boxes.clear();
    recovery->nextButton()->click();
    auto* scan = visiblePage<app::VolumeScanDlg>();
    ASSERT_NE(scan, nullptr);
    ASSERT_TRUE(waitUntil([&] { return !scan->busy(); }, 60000));
    EXPECT_TRUE(boxes.waitFor("done.."));
    EXPECT_TRUE(waitUntil([&] { return scan->statusLabel()->text() == "Processing done..."; }));

    app::CheckTreeModel* model = scan->treeModel();
    const QModelIndex root = model->index(0, 0);
    EXPECT_EQ(root.data().toString(), "ROOT");
    EXPECT_TRUE(scan->treeView()->isExpanded(root));
    // Left checked, as every other file system's scan leaves what it found.
    EXPECT_EQ(root.data(Qt::CheckStateRole).toInt(), Qt::Checked);
    EXPECT_TRUE(childNamed(model, root, ".").isValid());
    QModelIndex docs;
    for (int r = 0; r < model->rowCount(root); ++r)
        if (model->index(r, 0, root).data().toString().startsWith("Docs-")) docs = model->index(r, 0, root);
    ASSERT_TRUE(docs.isValid());
    const std::string folder = "/" + docs.data().toString().toStdString();
    EXPECT_TRUE(childNamed(model, docs, "..DUMY..").isValid());

    // Selecting the folder lists its files with their sizes and times.
    scan->treeView()->setCurrentIndex(docs);
    app::FileListModel* list = scan->listModel();
    ASSERT_TRUE(waitUntil([&] { return list->rowCount() >= 1; }));
    bool sawReport = false;
    for (int r = 0; r < list->rowCount(); ++r) {
        if (!list->row(r).texts[0].startsWith("report-")) continue;
        sawReport = true;
        EXPECT_EQ(list->row(r).texts[4], "9.77 KB");
        EXPECT_TRUE(list->row(r).texts[3].endsWith("M"));
        EXPECT_EQ(list->row(r).texts[5], "-OR-GR-UW-UR");
    }
    EXPECT_TRUE(sawReport);

    ScratchDir output;
    nextFolder = QString::fromStdString(output.path().string());
    scan->browseButton()->click();
    scan->saveButton()->click();
    ASSERT_TRUE(boxes.waitFor("Saving process done", 60000));
    ASSERT_TRUE(waitUntil([&] { return !scan->busy(); }));
    const auto expected = expectedFiles(folder);
    ASSERT_GE(expected.size(), 3u);
    for (const auto& [path, file] : expected) {
        const fs::path saved = output.path() / folder.substr(1) / path;
        ASSERT_TRUE(fs::exists(saved)) << path;
        EXPECT_EQ(md5OfFile(saved), file.md5) << path;
        struct stat st {};
        ASSERT_EQ(::stat(saved.c_str(), &st), 0);
        EXPECT_EQ(std::to_string(st.st_mtime), file.mtime) << path;
    }
}

} // namespace
} // namespace vindaru::test
