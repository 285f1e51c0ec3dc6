// The recovery mode options `vindaru-cli ls` and `save` share, and the Advanced mode's steps done
// the command line's way: the candidate search (browser/CandidateSearch) runs as for the advance
// options page, then the candidate and sectors per cluster are taken from the options instead of
// the page's lists.
//
//   --mode standard|advanced|deep
//   --max N               advanced: candidates to look for (as typed: empty or not above 0 gives 3)
//   --candidate K         advanced: the K-th candidate, "MFT_ENTRY:K" (default 0)
//   --heap H              advanced, exFAT: the H-th heap candidate, "HEAP_OFFSET_ENTRY:H" (default 0)
//   --cluster-sectors S   advanced: sectors per cluster, one of the page's list (default: its
//                         first); FAT16/FAT32 also any power of two up to 128, exFAT any
//                         sectors-per-cluster shift from 0 to 11
//   --formatted           FAT family: "Is Drive Formated..?" (no FAT chain is followed)
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "cli/ArgParser.h"
#include "common/Sinks.h"
#include "fs/parser/VolumeParser.h"
#include "image/ByteSource.h"
#include "volume/VolumeRecord.h"

namespace vindaru::cli {

inline constexpr const char* kScanModeOptionsUsage =
    "[--mode standard|advanced|deep [--max N] [--candidate K] [--heap H] [--cluster-sectors S]] [--formatted]";

struct ScanModeArgs {
    int scanMode = 1;
    std::string maxText;
    std::uint64_t candidate = 0;
    std::uint64_t heap = 0;
    std::string clusterSectors; // empty: the list's first entry
    bool driveFormatted = false;
};

class ScanModeOptions {
  public:
    explicit ScanModeOptions(ArgParser& parser);
    // False after printing a usage error (the command returns parser.exitCode()).
    bool resolve(ScanModeArgs& out);

  private:
    ArgParser& parser_;
    std::string mode_ = "standard";
    std::string max_;
    std::uint64_t candidate_ = 0;
    bool candidateGiven_ = false;
    std::uint64_t heap_ = 0;
    bool heapGiven_ = false;
    std::string clusterSectors_;
    bool formatted_ = false;
};

// The scan mode named by --mode; 0 when unknown.
int scanModeByName(const std::string& name);

// Runs the candidate search on `volume` and picks the choice. On success `parser` is the
// searched parser for the scan page; otherwise the reason is on stderr and the exit status
// is returned.
int runAdvancedSearch(const ByteSource& disk, const VolumeRecord& volume,
                      const ScanModeArgs& args, StatusSink& status, ProgressSink& progress,
                      MessageSink& messages, std::shared_ptr<VolumeParser>& parser, AdvancedChoice& choice);

} // namespace vindaru::cli
