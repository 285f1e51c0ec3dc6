// The state the wizard's pages and the engines share for one run of the program.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "common/Sinks.h"

namespace vindaru {

class readWriteInterface;

// imageSourcePage holds this value once the image page has recorded an image kind.
inline constexpr std::int32_t kImageSourceRecorded = 142;

struct Session {
    Session();
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // The one disk reader of the session. Whoever creates a new reader replaces this one.
    std::unique_ptr<readWriteInterface> sessionReader;
    std::uint64_t diskSectorCount = 0;
    std::uint64_t customDiskSectors = 0; // "Size of HDD" in sectors (MB × 2048), 0 = not typed
    std::int32_t imageSourcePage = 0;
    std::atomic<bool> driveFormatted{false};
    std::atomic<bool> exportRunning{false};
    std::string searchPattern;
    std::string rootItemName = "ROOT";

    // How a snapshot chain is read when the session reader opens: as of which layer (numbered
    // from the base, -1: the latest), whether a child may be read without its missing parent
    // (every range it defers then unreadable), and files the user named as parents.
    std::int64_t chainLayer = -1;
    bool allowMissingParent = false;
    std::vector<std::string> namedParents;
    // What the opener found: the chain's layers as display lines (top first, the layer read
    // marked; one line for a disk without parents), and a note when a parent is read without.
    std::vector<std::string> chainLines;
    std::string chainNote;

    // Where engines' message boxes go; never null.
    MessageSink* messages;

    void replaceReader(std::unique_ptr<readWriteInterface> reader);
    void clearReader();

private:
    NullMessageSink nullMessages_;
};

} // namespace vindaru
