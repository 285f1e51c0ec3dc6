#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "browser/EntrySaver.h"
#include "browser/EntryWalker.h"
#include "browser/OutputFolder.h"
#include "browser/SafeName.h"
#include "support/TestSupport.h"
#include "TableEntryView.h"

using namespace vindaru;
using namespace vindaru::test;

namespace {

std::string readText(const fs::path& p) {
    auto bytes = readFile(p);
    return std::string(bytes.begin(), bytes.end());
}

struct SaveFixture {
    TableEntryView view;
    RecordingStatusSink status;
    RecordingStatusSink second;
    RecordingProgressSink progress;
    RecordingMessageSink messages;
    StopFlag stop;
    EntrySaver saver{view, BrowserSinks{status, second, progress, messages}, stop};
    EntryRef root, docs, deep;

    // root { ".", docs { a.txt, "$BadClus", sub { b.txt } }, top.txt, "..", "x/y" }
    SaveFixture() {
        root = view.add(0, "ROOTDIR", true);
        view.root = root;
        view.rows[root].children.push_back(root); // the root's own "." record
        view.rows.back().name = "ROOTDIR";
        docs = view.add(root, "docs", true);
        view.add(docs, "a.txt", false, "alpha");
        view.add(docs, "$BadClus", false, "bad");
        deep = view.add(docs, "sub", true);
        view.add(deep, "b.txt", false, "beta");
        view.add(root, "top.txt", false, "top");
        view.add(root, "..", false, "dots");
        view.add(root, "x/y", false, "slash");
    }
};

} // namespace

TEST(SafeName, KeepsEveryNameInsideItsFolder) {
    EXPECT_EQ(safeHostName("a/b"), "a_b");
    EXPECT_EQ(safeHostName(".."), "_..");
    EXPECT_EQ(safeHostName("."), "_.");
    EXPECT_EQ(safeHostName(""), "_");
    EXPECT_EQ(safeHostName(std::string("a\0b", 3)), "a_b");
    EXPECT_EQ(safeHostName("ORPHAN\nx\x1b[2Jy\x7f"), "ORPHAN_x_[2Jy_") << "no control characters";
    EXPECT_EQ(safeHostName("..."), "...") << "only the two special names are changed";
    EXPECT_EQ(trimBlanks("  name.txt \t"), "name.txt");

    std::string longName;
    for (int i = 0; i < 200; ++i) longName += "\xC3\xA9"; // é, two bytes each
    const std::string cut = safeHostName(longName + ".txt");
    EXPECT_LE(cut.size(), kMaxHostNameBytes);
    EXPECT_TRUE(cut.ends_with("\xC3\xA9.txt")) << "cut between characters, extension kept";

    SavedNameSet names;
    EXPECT_EQ(names.claim("a.txt"), "a.txt");
    EXPECT_EQ(names.claim("a.txt"), "a (2).txt");
    EXPECT_EQ(names.claim("a.txt"), "a (3).txt");
    EXPECT_EQ(names.claim("noext"), "noext");
    EXPECT_EQ(names.claim("noext"), "noext (2)");
    const std::string big(kMaxHostNameBytes, 'x');
    EXPECT_EQ(names.claim(big), big);
    EXPECT_LE(names.claim(big).size(), kMaxHostNameBytes);
}

TEST(OutputFolder, NeverWritesThroughPlantedLinksOrFifos) {
    ScratchDir out;
    ScratchDir elsewhere;
    writeFile(elsewhere / "victim", {'k', 'e', 'e', 'p'});
    fs::create_symlink(elsewhere / "victim", out / "file.txt");
    fs::create_directory_symlink(elsewhere.path(), out / "dir");
    ASSERT_EQ(::mkfifo((out / "pipe").c_str(), 0600), 0);

    auto folder = OutputFolder::openChosen(out.path());
    ASSERT_TRUE(folder);
    EXPECT_LT(folder->createFile("file.txt"), 0);
    EXPECT_EQ(readText(elsewhere / "victim"), "keep");
    EXPECT_FALSE(folder->subfolder("dir").has_value());
    EXPECT_LT(folder->createFile("pipe"), 0) << "must not block or write into a FIFO";
    auto sub = folder->subfolder("new");
    ASSERT_TRUE(sub);
    EXPECT_TRUE(fs::is_directory(out / "new"));
    EXPECT_TRUE(folder->subfolder("new").has_value()) << "an existing folder is reused";
}

TEST(EntryWalker, EntersEachDirectoryOnceThroughDotAndLoops) {
    SaveFixture f;
    // A damaged volume: sub lists docs as its child again.
    f.view.rows[f.deep].children.push_back(f.docs);
    std::vector<std::string> seen;
    EntryWalker walker(f.view, EntryWalker::DirectoryTest::Listing);
    walker.walk(f.root, [&](const EntryWalker::Visit& v) {
        seen.push_back(std::string(v.depth, '+') + f.view.label(v.entry));
        return true;
    });
    EXPECT_EQ(seen, (std::vector<std::string>{"ROOTDIR", "docs", "+a.txt", "+$BadClus", "+sub",
                                              "++b.txt", "++docs", "top.txt", "..", "x/y"}));
}

TEST(EntrySaver, NoAtTheQuestionWritesNothing) {
    SaveFixture f;
    ScratchDir out;
    f.messages.answer = MessageAnswer::No;
    EXPECT_EQ(f.saver.saveFolder(f.docs, out.path().string()), EntrySaver::FolderResult::Declined);
    ASSERT_EQ(f.messages.texts().size(), 1u);
    EXPECT_EQ(f.messages.texts()[0], "number of files found inside this folder = 3 .do u want to "
                                     "continue dumping these files..?");
    EXPECT_TRUE(fs::is_empty(out.path()));
    // The bar is set only once the question is answered Yes.
    EXPECT_TRUE(f.progress.ranges.empty());
}

TEST(EntrySaver, YesDumpsTheTreeWithTimesAndSkipsBadClus) {
    SaveFixture f;
    ScratchDir out;
    f.stop.raise(); // left over from a Stop during an earlier save, which saw it
    ASSERT_TRUE(f.stop.load());
    EXPECT_EQ(f.saver.saveFolder(f.root, out.path().string()), EntrySaver::FolderResult::Saved);
    EXPECT_EQ(f.messages.texts().back(), "Saving process done");
    // Times first: reading the copies below may move their access times.
    struct stat st {};
    ASSERT_EQ(::stat((out / "docs/sub/b.txt").c_str(), &st), 0);
    const EntryTimes t = f.view.times(6);
    EXPECT_EQ(st.st_mtim.tv_sec, t.modificationSeconds);
    EXPECT_EQ(st.st_mtim.tv_nsec, 500);
    EXPECT_EQ(st.st_atim.tv_sec, t.accessSeconds);
    EXPECT_EQ(readText(out / "docs/a.txt"), "alpha");
    EXPECT_EQ(readText(out / "docs/sub/b.txt"), "beta");
    EXPECT_EQ(readText(out / "top.txt"), "top");
    EXPECT_EQ(readText(out / "_.."), "dots");
    EXPECT_EQ(readText(out / "x_y"), "slash");
    EXPECT_FALSE(fs::exists(out / "docs/$BadClus"));
    EXPECT_FALSE(fs::exists(out / "ROOTDIR")) << "the root's own record is not entered again";
    EXPECT_EQ(f.saver.filesWritten(), 6u);


    const auto texts = f.status.snapshot();
    EXPECT_NE(std::find(texts.begin(), texts.end(), "saving File  " + (out / "docs/a.txt").string()),
              texts.end());
    const auto sizes = f.second.snapshot();
    EXPECT_NE(std::find(sizes.begin(), sizes.end(), "File size: 5 Bytes"), sizes.end());
    EXPECT_EQ(sizes.back(), "");
}

TEST(EntrySaver, AStopPressedAsTheSaveStartsIsNotWipedByIt) {
    // Pressed after the page started the save but before its worker began (or between two
    // paths of one command): nothing has looked at it, so the save must not forget it.
    SaveFixture f;
    ScratchDir out;
    f.stop.raise();
    f.saver.saveFolder(f.root, out.path().string());
    EXPECT_EQ(f.saver.filesWritten(), 0u);
    EXPECT_NE(f.messages.texts().back(), "Saving process done");
}

TEST(EntrySaver, TheSummaryNamesTheFilesWhoseFolderWasGuessed) {
    SaveFixture f;
    ScratchDir out;
    f.view.rows[6].guessed = true; // docs/sub/b.txt
    EXPECT_EQ(f.saver.saveFolder(f.docs, out.path().string()), EntrySaver::FolderResult::Saved);
    const SaveSummary& summary = f.saver.lastSummary();
    EXPECT_EQ(summary.guessedPaths, std::vector<std::string>{"sub/b.txt"});
    EXPECT_NE(summary.text().find("; 1 in guessed folders"), std::string::npos) << summary.text();
    EXPECT_EQ(readText(out / "sub/b.txt"), "beta");
}

TEST(EntrySaver, DeletedTwinDoesNotOverwriteTheLiveFile) {
    SaveFixture f;
    ScratchDir out;
    f.view.add(f.docs, "a.txt", false, "old deleted copy", true);
    f.saver.saveFolder(f.docs, out.path().string());
    EXPECT_EQ(readText(out / "a.txt"), "alpha");
    EXPECT_EQ(readText(out / "a (2).txt"), "old deleted copy");
}

TEST(EntrySaver, RefusesWithoutFolderOrDirectory) {
    SaveFixture f;
    EXPECT_EQ(f.saver.saveFolder(f.docs, ""), EntrySaver::FolderResult::NoOutputFolder);
    EXPECT_EQ(f.messages.texts().back(), "select output folder");
    ScratchDir out;
    EXPECT_EQ(f.saver.saveFolder(2 + 1, out.path().string()),
              EntrySaver::FolderResult::NotADirectory);
    EXPECT_TRUE(f.saver.saveSingleFile(3, out.path().string()));
    EXPECT_EQ(readText(out / "a.txt"), "alpha");
}

TEST(EntrySaver, ManyFoldersDeepAndWideEachKeepTheirOwnFiles) {
    TableEntryView view;
    const EntryRef root = view.add(0, "root", true);
    EntryRef parent = root;
    for (int depth = 0; depth < 30; ++depth) {
        for (int i = 0; i < 3; ++i) {
            const EntryRef dir = view.add(parent, "d" + std::to_string(i), true);
            view.add(dir, "same.txt", false, std::to_string(depth) + "/" + std::to_string(i));
            if (i == 2) parent = dir;
        }
    }
    RecordingStatusSink status, second;
    RecordingProgressSink progress;
    RecordingMessageSink messages;
    StopFlag stop;
    EntrySaver saver(view, BrowserSinks{status, second, progress, messages}, stop);
    ScratchDir out;
    ASSERT_EQ(saver.saveFolder(root, out.path().string()), EntrySaver::FolderResult::Saved);
    EXPECT_EQ(saver.filesWritten(), 90u);
    fs::path deepest = out.path();
    for (int depth = 0; depth < 30; ++depth) {
        EXPECT_EQ(readText(deepest / "d0/same.txt"), std::to_string(depth) + "/0");
        EXPECT_EQ(readText(deepest / "d2/same.txt"), std::to_string(depth) + "/2");
        EXPECT_FALSE(fs::exists(deepest / "d2/same (2).txt"));
        deepest /= "d2";
    }
}

TEST(EntrySaver, StopEndsTheDumpAndIsReportedAsStopped) {
    SaveFixture f;
    ScratchDir out;
    struct StopAfterFirst : RecordingStatusSink {
        StopFlag* stop = nullptr;
        void setText(const std::string& t) override {
            RecordingStatusSink::setText(t);
            stop->raise();
        }
    } stopper;
    stopper.stop = &f.stop;
    EntrySaver saver(f.view, BrowserSinks{stopper, f.second, f.progress, f.messages}, f.stop);
    EXPECT_EQ(saver.saveFolder(f.docs, out.path().string()), EntrySaver::FolderResult::Saved);
    EXPECT_EQ(saver.filesWritten(), 1u);
    EXPECT_TRUE(fs::exists(out / "a.txt"));
    EXPECT_FALSE(fs::exists(out / "sub"));
    // Never "done" after a stop: what was written and what was not reached.
    EXPECT_EQ(f.messages.texts().back(),
              "Saving stopped before the end: 1 file, 5 Bytes written; stopped with 2 of 3 files not reached");
    EXPECT_TRUE(saver.lastSummary().stopped);
    EXPECT_FALSE(saver.lastSummary().complete());
}

// A save's steps: the files are counted, the user answers the question, then they are written
// one entry after another. A Stop pressed at either boundary writes nothing more.
TEST(EntrySaver, AStopBetweenTheSavesStepsWritesNothingMore) {
    {
        SCOPED_TRACE("pressed as the count's question is answered");
        SaveFixture f;
        ScratchDir out;
        struct YesAndStop : RecordingMessageSink {
            StopFlag* stop = nullptr;
            MessageAnswer show(const Message& m) override {
                if (m.buttons == MessageButtons::YesNo) stop->raise();
                return RecordingMessageSink::show(m);
            }
        } answer;
        answer.stop = &f.stop;
        EntrySaver saver(f.view, BrowserSinks{f.status, f.second, f.progress, answer}, f.stop);
        EXPECT_EQ(saver.saveFolder(f.docs, out.path().string()), EntrySaver::FolderResult::Saved);
        EXPECT_EQ(saver.filesWritten(), 0u);
        EXPECT_TRUE(fs::is_empty(out.path()));
        EXPECT_TRUE(saver.lastSummary().stopped);
    }
    {
        SCOPED_TRACE("pressed once the first checked entry is written");
        SaveFixture f;
        ScratchDir out;
        f.saver.reportSavedFiles([&f](const SavedFile&) { f.stop.raise(); }, false);
        const std::vector<CheckedEntry> checked{{f.view.children(f.root)[2], {}}, {f.docs, {}}};
        ASSERT_EQ(f.view.label(checked[0].entry), "top.txt");
        EXPECT_EQ(f.saver.saveChecked(checked, out.path().string()), EntrySaver::FolderResult::Saved);
        EXPECT_TRUE(fs::exists(out / "top.txt"));
        EXPECT_FALSE(fs::exists(out / "docs"));
        EXPECT_TRUE(f.saver.lastSummary().stopped);
    }
}
