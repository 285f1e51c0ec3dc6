// The advance options page without a window: the candidate search (browser/CandidateSearch) for
// a damaged volume, run by the page's search thread (runSearch()), and the lists the page shows —
// "TFS :" with the candidates, "Sector Per Cluster :" with the cluster sizes to try — with their
// selections and the page's controls. The scan page, in Advanced mode, takes this object's
// parser and choice().
//
// Threads: runSearch() on one worker; pause(), resume(), stop(), back() from the UI thread;
// the lists and selections once searching() is false (onSearchFinished fires on the worker at
// the end).
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "browser/CandidateSearch.h"
#include "common/Sinks.h"
#include "fs/parser/VolumeParser.h"
#include "image/ByteSource.h"
#include "volume/VolumeRecord.h"

namespace vindaru {

inline constexpr const char* kAdvancedInputGroupText = "Advanced Input:";

struct AdvanceSinks {
    StatusSink& status;
    ProgressSink& progress;
    MessageSink& messages;
};

class AdvanceOptionsLogic {
  public:
    enum class Prepared {
        Ready,         // a parser exists; start the search thread with runSearch()
        NoReader,      // "Please Restart the program to rebegin necessary initialisation..."
        UnknownVolume, // "unKnown Partition Cant be parsed..."
        NotBuiltYet,   // a file system whose candidate search is not in this build
        NotOffered     // a file system without an Advanced mode
    };

    // `reader` may be null (the session has none); it must outlive this object. `maxFileSystems`
    // is the number typed on the recovery mode page (0 or less: 3).
    AdvanceOptionsLogic(const ByteSource* reader, VolumeRecord volume, std::int64_t maxFileSystems,
                        AdvanceSinks sinks, bool driveFormatted = false);
    ~AdvanceOptionsLogic();
    AdvanceOptionsLogic(const AdvanceOptionsLogic&) = delete;
    AdvanceOptionsLogic& operator=(const AdvanceOptionsLogic&) = delete;

    // Page start: creates the parser by the volume's type name.
    Prepared prepare();
    // The search thread's procedure: the candidate search, the lists, the count message and the
    // closing texts.
    void runSearch();

    void pause();
    void resume();
    void stop();
    // Back and Close: every parser's stop flag.
    void stopParsers();

    bool searching() const { return searching_.load(); }
    // The number of candidates searched for: maxFileSystems, or 3 when that is not above 0.
    std::uint64_t candidateLimit() const;
    std::function<void()> onSearchFinished;

    // The lists and their selections (-1: none).
    std::vector<std::string> candidateItems() const;
    std::vector<std::string> clusterItems() const;
    std::vector<std::string> heapItems() const;
    int candidateSelection() const;
    int clusterSelection() const;
    int heapSelection() const;
    void selectCandidate(int index);
    void selectCluster(int index);
    void selectHeap(int index);
    // The text above the combo boxes the search asked for; empty: the page's own.
    std::string candidateItemsLabel() const;
    // Next leads to the scan page only when both lists have a selection.
    bool nextAllowed() const;
    AdvancedChoice choice() const;

    // The page's controls as the steps leave them.
    bool listsVisible() const { return listsVisible_; }
    bool heapListVisible() const { return heapListVisible_.load(); }
    // The user stopped the candidate search before it ended.
    bool stopped() const { return search_.stopped(); }
    bool nextEnabled() const { return nextEnabled_.load(); }
    bool backEnabled() const { return backEnabled_.load(); }
    bool threadButtonsVisible() const { return threadButtonsVisible_.load(); }

    // The parser the scan page uses in Advanced mode; owned here.
    VolumeParser* parser() { return search_.parser(); }
    std::shared_ptr<VolumeParser> sharedParser() { return search_.sharedParser(); }
    const VolumeRecord& volume() const { return search_.volume(); }
    // The search the page shows.
    CandidateSearch& search() { return search_; }

  private:
    std::int64_t maxFileSystems_;
    AdvanceSinks sinks_;
    CandidateSearch search_;

    mutable std::mutex mutex_;
    AdvancedLists lists_;
    int candidateSelection_ = -1;
    int clusterSelection_ = -1;
    int heapSelection_ = -1;
    std::atomic<bool> heapListVisible_{false};

    std::atomic<bool> searching_{false};
    bool listsVisible_ = false;
    std::atomic<bool> nextEnabled_{false};
    std::atomic<bool> backEnabled_{false};
    std::atomic<bool> threadButtonsVisible_{true};
};

} // namespace vindaru
