// Scanning a FAT-family volume through the volume-parser interface, as the scan page does, and
// reading back what the entry view offers: paths, contents and their md5.
#pragma once

#include <functional>
#include <map>
#include <optional>
#include <memory>
#include <string>
#include <vector>

#include "common/CheckTree.h"
#include "common/Md5.h"
#include "common/Sinks.h"
#include "fs/fat/FatParsers.h"
#include "image/MemoryReader.h"
#include "support/FileDiskReader.h"

namespace vindaru::test {

struct FatScan {
    std::unique_ptr<readWriteInterface> reader;
    RecordingStatusSink status;
    RecordingProgressSink progress;
    RecordingMessageSink messages;
    CheckTree tree;
    TreeItemId volumeItem = kNoTreeItem;
    std::shared_ptr<VolumeParser> parser;
    ScanOutcome outcome;
    // Every entry reachable from the root, by '/'-joined path with a leading '/'.
    std::map<std::string, EntryRef> paths;

    EntryView& view() { return parser->view(); }
    std::vector<std::uint8_t> content(EntryRef entry, bool* whole = nullptr) {
        std::vector<std::uint8_t> out;
        const bool ok = view().writeContent(entry, [&out](std::span<const std::uint8_t> d) {
            out.insert(out.end(), d.begin(), d.end());
            return true;
        });
        if (whole) *whole = ok;
        return out;
    }
    std::string md5(EntryRef entry) {
        Md5 m;
        view().writeContent(entry, [&m](std::span<const std::uint8_t> d) {
            m.update(d);
            return true;
        });
        return m.finishHex();
    }
    std::vector<std::string> topLevelLabels() const {
        std::vector<std::string> out;
        for (TreeItemId item : tree.children(volumeItem)) out.push_back(tree.label(item));
        return out;
    }
};

// The Advanced mode's two stages: the candidate search with `limit`, then the rebuild from the
// choice `pick` makes of the lists (when it gives one).
struct AdvancedRun {
    std::uint64_t limit = 3;
    std::function<std::optional<AdvancedChoice>(const AdvancedPart&, const AdvancedLists&)> pick;
    AdvancedLists lists; // what the search gave
};

// A choice by the candidate and heap indexes and the cluster size as the command line types it
// (anything the parser does not take: no cluster size, which leaves it its default).
inline AdvancedRun advancedWith(const std::string& clusterText, std::uint64_t candidate = 0, std::uint64_t heap = 0) {
    AdvancedRun run;
    run.pick = [=](const AdvancedPart& part, const AdvancedLists& lists) {
        AdvancedChoice c;
        c.candidate = candidate;
        c.heapCandidate = heap;
        c.sectorsPerCluster = typedClusterChoice(part, lists, clusterText).value_or(0);
        return std::optional<AdvancedChoice>(c);
    };
    return run;
}

// fsName: "FAT16", "FAT32", "FAT64" (the volume record's type name picks the parser).
inline std::unique_ptr<FatScan> scanFat(std::unique_ptr<readWriteInterface> reader, const std::string& fsName,
                                        std::uint64_t startSector = 0, bool driveFormatted = false,
                                        const std::string& sizeText = "0", AdvancedRun* advanced = nullptr) {
    auto s = std::make_unique<FatScan>();
    s->reader = std::move(reader);
    ParserSetup setup{*s->reader, VolumeRecord{fsName, "0", sizeText, startSector},
                      ScanSinks{&s->status, &s->progress, &s->messages}, driveFormatted};
    s->parser = fsName == "FAT32"   ? createFat32Parser(setup)
                : fsName == "FAT64" ? createExFatParser(setup)
                                    : createFat16Parser(setup);
    s->volumeItem = s->tree.insertItem("ROOT", IconKind::Folder);
    ScanRequest request;
    request.tree = &s->tree;
    request.volumeItem = s->volumeItem;
    if (advanced) {
        s->parser->advanced()->searchCandidates(advanced->limit);
        advanced->lists = s->parser->advanced()->lists();
        const auto choice = advanced->pick(*s->parser->advanced(), advanced->lists);
        if (!choice) return s;
        request.mode = kScanModeAdvanced;
        request.choice = *choice;
    }
    s->outcome = s->parser->scan(request);
    EntryView& v = s->view();
    if (auto root = v.rootEntry()) {
        std::vector<bool> seen(v.entryLimit(), false);
        std::vector<std::pair<EntryRef, std::string>> stack{{*root, ""}};
        while (!stack.empty()) {
            auto [dir, prefix] = stack.back();
            stack.pop_back();
            if (seen[dir]) continue;
            seen[dir] = true;
            for (EntryRef c : v.children(dir)) {
                const std::string path = prefix + "/" + v.label(c);
                s->paths.emplace(path, c);
                if (v.isDirectory(c)) stack.emplace_back(c, path);
            }
        }
    }
    return s;
}

inline std::unique_ptr<FatScan> scanFatFile(const std::string& path, const std::string& fsName,
                                            std::uint64_t startSector = 0, bool driveFormatted = false) {
    auto reader = std::make_unique<FileDiskReader>();
    if (!reader->open(path)) return nullptr;
    return scanFat(std::move(reader), fsName, startSector, driveFormatted);
}

inline std::unique_ptr<FatScan> scanFatBytes(std::vector<std::uint8_t> bytes, const std::string& fsName,
                                             bool driveFormatted = false) {
    return scanFat(std::make_unique<MemoryReader>(std::move(bytes)), fsName, 0, driveFormatted);
}

inline std::unique_ptr<FatScan> rebuildFatBytes(std::vector<std::uint8_t> bytes, const std::string& fsName,
                                                AdvancedRun& run) {
    return scanFat(std::make_unique<MemoryReader>(std::move(bytes)), fsName, 0, false, "0", &run);
}

} // namespace vindaru::test
