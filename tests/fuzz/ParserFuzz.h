// What every file-system fuzz target does with one input: the input (cut at kMaxParserInput)
// becomes the first sectors of an in-memory volume of kFuzzVolumeBytes whose rest is implied
// zeros (reported as holes, so sweeps need not read it); a parser from the factory scans it once
// in the given mode; then one listing walks the entries it found and one save hands the content
// of the first files to a sink that discards it. The allocation map a free-space carve asks for
// is read twice: by a parser that has not scanned, and by the one that has. No file is written,
// nothing waits.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <unordered_set>
#include <vector>

#include "common/CheckTree.h"
#include "common/Sinks.h"
#include "fs/parser/VolumeParser.h"
#include "image/MemoryReader.h"

namespace vindaru::fuzz {

inline constexpr std::size_t kMaxParserInput = 64 * 1024;
inline constexpr std::uint64_t kFuzzVolumeBytes = 4 << 20;
// Bounds on what one input may cost after its scan.
inline constexpr std::size_t kMaxListedEntries = 512;
inline constexpr std::size_t kMaxSavedFiles = 4;
inline constexpr std::uint64_t kMaxSavedBytes = 64 * 1024;


// Walks the entries below the root (each once, at most kMaxListedEntries), asking for every text
// the list shows; the first kMaxSavedFiles files of at most kMaxSavedBytes are saved to nowhere.
inline void listAndSave(EntryView& view) {
    const auto root = view.rootEntry();
    if (!root || !view.isEntry(*root)) return;
    std::unordered_set<EntryRef> seen{*root};
    std::vector<EntryRef> pending{*root};
    std::size_t listed = 0;
    std::size_t saved = 0;
    while (!pending.empty() && listed < kMaxListedEntries) {
        const EntryRef folder = pending.back();
        pending.pop_back();
        for (const EntryRef entry : view.children(folder)) {
            if (listed >= kMaxListedEntries) break;
            if (!view.isEntry(entry) || !seen.insert(entry).second) continue;
            ++listed;
            (void)view.label(entry);
            (void)view.isDeleted(entry);
            (void)view.describe(entry);
            (void)view.sizeText(entry);
            (void)view.times(entry);
            (void)view.isPathGuessed(entry);
            (void)view.recoverableShare(entry);
            const std::uint64_t size = view.byteSize(entry);
            if (view.isDirectory(entry)) {
                if (view.hasChildren(entry) && view.descendWhenSaving(entry)) pending.push_back(entry);
                continue;
            }
            // Big files cost copying, not coverage: their runs are those of small ones.
            if (saved >= kMaxSavedFiles || size > kMaxSavedBytes || view.skipWhenSaving(entry)) continue;
            ++saved;
            std::uint64_t written = 0;
            view.writeContent(entry, [&written](std::span<const std::uint8_t> piece) {
                written += piece.size();
                return written < kMaxSavedBytes;
            });
        }
    }
}

// One scan of `input` as a volume of type `typeName` by the factory's parser, then the listing
// and the save. The Advanced mode first searches for a few candidates and rebuilds from the
// choice `pick` makes of the lists: its low three bits the cluster size, the next two the
// candidate, the two after them the heap candidate (each taken modulo its list's length).
// `volumeBytes` is the in-memory volume's size (its record's size in MB is that rounded down).
inline void scanListSave(ParserFactory factory, const std::string& typeName,
                         std::span<const std::uint8_t> input, int mode, bool driveFormatted = false,
                         unsigned pick = 0, std::uint64_t volumeBytes = kFuzzVolumeBytes) {
    MemoryReader reader(volumeBytes);
    reader.place(0, input.first(std::min(input.size(), kMaxParserInput)));
    NullStatusSink status;
    NullProgressSink progress;
    NullMessageSink messages;
    const VolumeRecord record{typeName, "0", std::to_string(volumeBytes >> 20) + " MB", 0};
    ParserSetup setup{reader, record, ScanSinks{&status, &progress, &messages}, driveFormatted};
    if (const auto unscanned = factory(setup)) (void)unscanned->usedByteRanges();
    const auto parser = factory(setup);
    if (!parser) return;
    CheckTree tree;
    ScanRequest request;
    request.mode = mode;
    request.tree = &tree;
    request.volumeItem = tree.insertItem("ROOT", IconKind::Folder);
    if (mode == kScanModeAdvanced) {
        AdvancedPart* advanced = parser->advanced();
        if (advanced == nullptr) return;
        advanced->searchCandidates(3);
        const AdvancedLists lists = advanced->lists();
        if (!lists.clusterSectors.empty())
            request.choice.sectorsPerCluster = lists.clusterSectors[(pick & 7) % lists.clusterSectors.size()];
        if (!lists.candidates.empty()) request.choice.candidate = ((pick >> 3) & 3) % lists.candidates.size();
        if (!lists.heaps.empty()) request.choice.heapCandidate = ((pick >> 5) & 3) % lists.heaps.size();
    }
    const ScanOutcome outcome = parser->scan(request);
    if (outcome.rejected) return;
    listAndSave(parser->view());
    (void)parser->usedByteRanges();
}

} // namespace vindaru::fuzz
