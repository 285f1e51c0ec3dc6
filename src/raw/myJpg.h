// The carving engine of raw recovery: reads a volume once, in 1 MiB chunks through the volume
// sweep, matches every 512-byte sector against the start and end signatures of the loaded
// settings, sizes each find, and reports it to its list and to the page's tree grouped by
// category. It writes no files; saving the found byte ranges is the page's business.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <span>
#include <string>
#include <vector>

#include "common/CheckTree.h"
#include "common/Sinks.h"
#include "common/StopControl.h"
#include "image/ByteSource.h"
#include "raw/carvingRule.h"
#include "raw/carvingSignature.h"
#include "raw/signatureRecord.h"

namespace vindaru {

inline constexpr std::uint64_t kCarveChunkBytes = 1u << 20;
inline constexpr std::uint64_t kCarveSectorBytes = 512;
// Finds and pending starts together: a volume whose every sector matches must not grow the
// lists without bound (4 Mi finds is the matches of 2 GiB of sectors).
inline constexpr std::size_t kMaxCarveFinds = 1u << 22;

class myJpg {
public:
    struct FoundFile {
        std::uint64_t start = 0;
        std::uint64_t size = 0;
        std::size_t rule = 0;          // index into rules()
        std::uint64_t namedAfter = 0;  // the position its item text carries
        TreeItemId item = kNoTreeItem;
        // Whole: the end came from the file itself (its structure, its end signature or its
        // size field); partial: the structure broke after a usable part, or the end is a guess.
        FindState state = FindState::Partial;
        std::string_view extension; // what the structure showed, when more precise than the rule's
    };

    // Appends a loaded record as a carvingSignature and a carvingRule.
    void addSignature(const signatureRecord& record);
    const std::vector<carvingSignature>& signatures() const { return signatures_; }
    const std::vector<carvingRule>& rules() const { return rules_; }

    // What the page hands over before a run. `tree`, `progress` and `messages` may be null.
    void attach(const ByteSource* reader, std::uint64_t volumeBytes, CheckTree* tree,
                ProgressSink* progress, MessageSink* messages);
    // Byte ranges of the volume (begin, end) that live files use, as a file system's allocation
    // map gives them: when set, starts are looked for only outside them (free space only).
    // Any order; overlaps are merged. An empty list carves the whole volume.
    void setUsedRanges(std::vector<std::pair<std::uint64_t, std::uint64_t>> ranges);
    // Called on the worker for every find as it is reported (the CLI prints them).
    std::function<void(const FoundFile&)> onFind;

    // The whole scan on the calling thread; false when it cannot run ("not properly
    // initialized"). Ends with "done.." after a stop too.
    bool carveVolume();

    EngineControl& control() { return control_; }
    const std::vector<FoundFile>& foundFiles() const { return foundFiles_; }
    std::uint64_t categoryCount(const std::string& category) const;
    TreeItemId rootItem() const { return root_; }
    std::uint64_t volumeBytes() const { return volumeBytes_; }

    // "1048576 .jpg": the naming position, a blank, a dot and the extension.
    std::string itemText(const FoundFile& find) const;
    // The find's extension: the one its structure showed, else its rule's.
    std::string extensionOf(const FoundFile& find) const;
    // The bytes a save of every find writes.
    std::uint64_t foundBytes() const;

private:
    struct MatchEntry {
        std::uint8_t length = 0;
        std::size_t index = 0;         // the signature's position
        std::int32_t offset = 0;
        std::array<std::uint8_t, kSignatureBytes> bytes{};
        bool start = true;
        // The first byte that is not the wildcard, tested before the rest.
        std::size_t keyAt = 0;
        bool hasKey = false;
    };
    struct Match {
        bool found = false;
        bool start = false;
        std::size_t index = 0;
    };

    void buildMatchTable();
    Match matchSector(std::span<const std::uint8_t> from) const;
    void prepareTree();
    void report(std::size_t rule, std::uint64_t start, std::uint64_t size, std::uint64_t namedAfter,
                FindState state, std::string_view extension = {});
    // A start of a rule with a format: the walk decides the find's end, or drops it.
    std::uint64_t walkFind(std::size_t rule, std::uint64_t position, std::span<const std::uint8_t> from);
    // The little-endian size field of `rule` for the sector at `position`, from the bytes in
    // memory when they are there, else from the reader; nullopt when unusable.
    std::optional<std::int64_t> sizeField(const carvingRule& rule, std::uint64_t position,
                                          std::span<const std::uint8_t> from);
    // Where the scan goes after the sector at `position`; may pass the chunk's end.
    std::uint64_t examine(std::uint64_t position, std::span<const std::uint8_t> from);
    void reportPendingStarts();
    bool full() const { return foundFiles_.size() + pendingCount_ >= kMaxCarveFinds; }

    std::vector<carvingSignature> signatures_;
    std::vector<carvingRule> rules_;
    std::vector<MatchEntry> matchTable_;
    // The sector positions of the entries' key bytes, each with the byte values a key there has:
    // a sector whose bytes at every such position have none of them matches no entry.
    struct KeyFilter {
        std::size_t at = 0;
        std::array<bool, 256> hit{};
    };
    std::vector<KeyFilter> keyFilters_;
    bool filtered_ = false; // false when an entry has no key byte (all wildcards)
    std::vector<std::vector<std::uint64_t>> pendingStarts_;
    std::size_t pendingCount_ = 0;
    std::vector<FoundFile> foundFiles_;
    std::vector<std::pair<std::uint64_t, std::uint64_t>> used_; // sorted, merged
    std::uint64_t foundBytes_ = 0;
    std::vector<std::uint8_t> walkWindow_; // kept from walk to walk
    std::map<std::string, std::uint64_t> categoryCounts_;
    std::map<std::string, TreeItemId> categoryItems_;

    const ByteSource* reader_ = nullptr;
    std::uint64_t volumeBytes_ = 0;
    CheckTree* tree_ = nullptr;
    ProgressSink* progress_ = nullptr;
    MessageSink* messages_ = nullptr;
    TreeItemId root_ = kNoTreeItem;
    EngineControl control_;
};

} // namespace vindaru
