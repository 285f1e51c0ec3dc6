// Shared by the ext2 tests: a whole scan through the parser interface, the paths it reached,
// content digests, and fresh volumes made by mke2fs with The Sleuth Kit as the oracle.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/CheckTree.h"
#include "common/Session.h"
#include "common/Sinks.h"
#include "fs/ext2/ext2Class.h"
#include "fs/parser/VolumeParser.h"
#include "image/readWriteInterface.h"

namespace vindaru::test {

struct Ext2Scan {
    Session session; // for image readers that need one
    std::unique_ptr<readWriteInterface> reader;
    CheckTree tree;
    TreeItemId volumeItem = kNoTreeItem;
    RecordingStatusSink status;
    RecordingProgressSink progress;
    RecordingMessageSink messages;
    std::shared_ptr<VolumeParser> parser;
    ScanOutcome outcome;

    EntryView& view() { return parser->view(); }
    ext2Class& ext2();
    // Labels of the tree items under the volume item, in order.
    std::vector<std::string> topLabels() const;
};

// Scans the volume at `startSector` of the reader; the size text defaults to the whole MiB of
// the disk after the start.
std::unique_ptr<Ext2Scan> scanExt2(std::unique_ptr<readWriteInterface> reader, std::uint64_t startSector = 0,
                                   std::optional<std::string> sizeText = std::nullopt);
std::unique_ptr<Ext2Scan> scanExt2Bytes(std::vector<std::uint8_t> bytes);
std::unique_ptr<Ext2Scan> scanExt2File(const std::filesystem::path& raw, std::uint64_t startSector = 0);

// Every entry reachable from the root, by '/'-joined path ("/a/b"); each directory entered once.
std::map<std::string, EntryRef> listPaths(EntryView& view);
std::vector<std::uint8_t> contentOf(EntryView& view, EntryRef entry, bool* whole = nullptr);
std::string contentMd5(EntryView& view, EntryRef entry);
std::string md5Of(const std::vector<std::uint8_t>& bytes);

bool haveTool(const std::string& name);
// mke2fs `options` -d `source` into a new image of `sizeKiB`; false (with the message in
// `error`) when mke2fs fails.
bool makeExtVolume(const std::filesystem::path& image, const std::string& options,
                   const std::filesystem::path& source, std::uint64_t sizeKiB, std::string& error);

// The Sleuth Kit's view of a raw volume: live entries by path ('/'-joined) with their inode.
struct TskEntry {
    std::uint64_t inode = 0;
    bool directory = false;
};
std::map<std::string, TskEntry> tskLivePaths(const std::filesystem::path& raw);
// md5 of icat's output for each inode (one shell for all of them).
std::map<std::uint64_t, std::string> tskMd5s(const std::filesystem::path& raw, const std::vector<std::uint64_t>& inodes);

} // namespace vindaru::test
