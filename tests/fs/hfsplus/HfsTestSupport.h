// Shared by the HFS+ tests: one scan through the volume-parser interface into a CheckTree, the
// paths of everything the tree and the entry view reach, and the bytes a save would write.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "common/CheckTree.h"
#include "common/Sinks.h"
#include "fs/hfsplus/HfsPlusVolumeParser.h"
#include "image/readWriteInterface.h"

namespace vindaru::test {

struct HfsScan {
    std::unique_ptr<readWriteInterface> reader;
    RecordingStatusSink status;
    RecordingProgressSink progress;
    RecordingMessageSink messages;
    CheckTree tree;
    TreeItemId volumeItem = kNoTreeItem;
    std::shared_ptr<VolumeParser> parser;
    ScanOutcome outcome;

    EntryView& view() { return parser->view(); }
    // Every entry reached from the tree's first level, by '/'-joined path ("/a/b"); each
    // folder is entered once.
    std::map<std::string, EntryRef> paths();
    std::vector<std::string> topLevel();
    std::vector<std::string> childLabels(EntryRef folder);
    // What writeContent hands over, and whether it reported the content whole.
    std::string content(EntryRef entry, bool* whole = nullptr);
};

// The volume record's size is the image's size in whole MiB, rounded up.
std::unique_ptr<HfsScan> scanHfs(std::unique_ptr<readWriteInterface> reader, std::uint64_t volumeBytes,
                                 int mode, std::uint64_t startSector = 0);
std::unique_ptr<HfsScan> scanHfsBytes(std::vector<std::uint8_t> image, int mode);
std::unique_ptr<HfsScan> scanHfsFile(const std::string& path, int mode, std::uint64_t startSector = 0,
                                     std::uint64_t volumeBytes = 0);

std::string md5Of(const std::string& bytes);
std::vector<std::uint8_t> patternBytes(std::size_t size, std::uint32_t seed);

} // namespace vindaru::test
