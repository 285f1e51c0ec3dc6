// A file-system scan through the volume-parser interface with Stop pressed during one chosen
// event (StopAtEvent.h): the file-system tests press it at each step boundary of their engine.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/CheckTree.h"
#include "fs/parser/VolumeParser.h"
#include "support/StopAtEvent.h"

namespace vindaru::test {

using ParserFactory = std::shared_ptr<VolumeParser> (*)(const ParserSetup&);

struct StoppedScan {
    std::shared_ptr<const ByteSource> reader;
    StopAtEvent sink;
    RecordingMessageSink messages;
    CheckTree tree;
    TreeItemId volumeItem = kNoTreeItem;
    std::shared_ptr<VolumeParser> parser;
    std::optional<AdvancedLists> lists;    // Advanced mode: what the candidate search offered
    std::vector<std::string> searchEvents; // and the events it reported
    ScanOutcome outcome;

    // The tree's first level, without the placeholder that gathers orphans (a stopped scan
    // may still show it) when it is named.
    std::vector<std::string> topLevel(const std::string& orphans = {}) const {
        std::vector<std::string> labels;
        for (TreeItemId item : tree.children(volumeItem))
            if (orphans.empty() || tree.label(item) != orphans) labels.push_back(tree.label(item));
        return labels;
    }
};

struct StopAt {
    std::optional<std::size_t> search; // an event of the candidate search (Advanced mode)
    std::optional<std::size_t> scan;    // an event of the scan, counted from the scan's first
};

// One scan in `mode`; the Advanced mode runs the candidate search first, on the same parser,
// and the rebuild then takes `choice`, as the pages do.
inline std::unique_ptr<StoppedScan> scanStoppingAt(ParserFactory create, std::shared_ptr<const ByteSource> reader,
                                                   const VolumeRecord& volume, int mode, StopAt at = {},
                                                   const AdvancedChoice& choice = {}) {
    auto run = std::make_unique<StoppedScan>();
    run->reader = std::move(reader);
    run->parser = create(ParserSetup{*run->reader, volume, ScanSinks{&run->sink, &run->sink, &run->messages}});
    run->sink.press = [p = run->parser.get()] { p->control().requestStop(); };
    if (const auto* reads = dynamic_cast<const ReadEvents*>(run->reader.get())) reads->events = &run->sink;
    if (mode == kScanModeAdvanced) {
        run->sink.pressAt = at.search;
        run->parser->advanced()->searchCandidates(4);
        run->lists = run->parser->advanced()->lists();
        // The scan page takes the parser over: a new run, and its events are counted anew.
        run->parser->control().stopRequested.reset();
        run->searchEvents = std::move(run->sink.events);
        run->sink.events.clear();
    }
    run->sink.pressAt = at.scan;
    run->volumeItem = run->tree.insertItem("ROOT", IconKind::Folder);
    ScanRequest request;
    request.mode = mode;
    request.tree = &run->tree;
    request.volumeItem = run->volumeItem;
    request.choice = choice;
    run->outcome = run->parser->scan(request);
    return run;
}

} // namespace vindaru::test
