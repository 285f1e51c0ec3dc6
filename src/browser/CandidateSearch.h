// The Advanced mode's candidate search on one damaged volume: the parser for the volume's file
// system made from the driver table, its search for candidate file-system structures (at most
// `limit` of each kind), the lists it gives ("TFS :", "Sector Per Cluster :", "Heap Offset :"),
// and the closing message and status text. The advance options page (pages/AdvanceOptionsLogic)
// shows the lists and turns the user's selections into an AdvancedChoice; `vindaru-cli
// candidates` prints them and `ls/save --mode advanced` take the choice from their options. The
// rebuild is the volume session's Advanced scan with this search's parser.
//
// Threads: run() on one worker; requestStop() and stopParser() from any thread; lists() and the
// choices once run() has returned.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "fs/parser/VolumeParser.h"
#include "image/ByteSource.h"
#include "volume/VolumeRecord.h"

namespace vindaru {

// The lists' names, as the advance options page labels them and `vindaru-cli candidates` prints
// them.
inline constexpr const char* kCandidateListLabel = "TFS :";
inline constexpr const char* kClusterListLabel = "Sector Per Cluster :";
inline constexpr const char* kHeapListLabel = "Heap Offset :";

// The search looks for this many candidates when the typed number is empty or not above 0.
inline constexpr std::int64_t kDefaultCandidateLimit = 3;

// The number of candidates the search looks for, from the text typed for it (the recovery mode
// page's field, the command line's --max).
std::uint64_t candidateLimitFromText(const std::string& text);

class CandidateSearch {
public:
    enum class Prepared {
        Ready,       // a parser exists; run() searches
        NoReader,    // "Please Restart the program to rebegin necessary initialisation..."
        NotBuiltYet, // a file system whose candidate search is not in this build
        NotOffered   // a file system without an Advanced mode
    };

    // `disk` may be null (the session has none); it must outlive this object.
    CandidateSearch(const ByteSource* disk, VolumeRecord volume, std::uint64_t limit, ScanSinks sinks,
                    bool driveFormatted = false);
    CandidateSearch(const CandidateSearch&) = delete;
    CandidateSearch& operator=(const CandidateSearch&) = delete;

    // Creates the parser by the volume's type name.
    Prepared prepare();
    // The search, the lists, then the closing message (the count of what was found, or what a
    // stopped search found) and the closing status text. Returns the lists.
    const AdvancedLists& run();

    // Called in run() once the lists are known, before the closing message.
    std::function<void(const AdvancedLists&)> onListed;
    // Called in run() after the closing message, before the closing status text.
    std::function<void()> beforeEndStatus;

    // The user's Stop: the parser's stop flag, and a search still running ends as stopped (also
    // when the parser clears its flag as it ends).
    void requestStop();
    // The parser's stop flag alone (the page goes away).
    void stopParser();
    // The search ran and was stopped before it ended.
    bool stopped() const { return stopped_.load(); }

    std::uint64_t limit() const { return limit_; }
    const AdvancedLists& lists() const { return lists_; }
    // The sectors per cluster of a "Sector Per Cluster :" value typed on the command line: an
    // item of the list, or a number the file system takes beyond it (typedClusterChoice).
    std::optional<std::uint64_t> clusterSectorsFor(const std::string& typed) const;

    // The parser the rebuild uses; null before a Ready prepare().
    VolumeParser* parser() { return parser_.get(); }
    std::shared_ptr<VolumeParser> sharedParser() { return parser_; }
    const VolumeRecord& volume() const { return volume_; }

private:
    const ByteSource* disk_;
    VolumeRecord volume_;
    std::uint64_t limit_;
    ScanSinks sinks_;
    bool driveFormatted_;
    std::shared_ptr<VolumeParser> parser_;
    AdvancedLists lists_;
    std::atomic<bool> stopPressed_{false};
    std::atomic<bool> stopped_{false};
};

} // namespace vindaru
