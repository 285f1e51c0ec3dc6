// An ESXi vmfsSparse extent ("COWD"): the snapshot delta an ESXi host keeps beside a base disk.
// A 2 KiB header, a grain directory of 32-bit sector numbers, grain tables of 4096 entries;
// an entry of 0 is a grain the delta does not hold (it comes from the parent).
#pragma once

#include <memory>
#include <optional>
#include <span>
#include <string>

#include "image/VmdkGrainExtent.h"

namespace vindaru {

inline constexpr std::size_t kCowdHeaderBytes = 2048;
inline constexpr std::uint32_t kCowdGtesPerTable = 4096;

struct CowdHeader {
    std::uint32_t version = 0;
    std::uint32_t flags = 0;
    std::uint32_t capacitySectors = 0;
    std::uint32_t grainSectors = 0;
    std::uint32_t directorySector = 0;
    std::uint32_t directoryEntries = 0;
    std::uint32_t freeSector = 0;
    std::string parentFileName; // a child's own hint, up to its first NUL
    std::uint32_t generation = 0;
    bool uncleanShutdown = false;

    // nullopt when the bytes do not begin with "COWD" or are shorter than the header.
    static std::optional<CowdHeader> decode(std::span<const std::uint8_t> bytes);
};

class VmdkCowdExtent : public VmdkGrainExtent {
  public:
    // The extent in `file`; `sectors` is the length the descriptor gives it (0: the header's).
    static std::unique_ptr<VmdkCowdExtent> open(ReadOnlyFile file, std::uint64_t sectors, std::string& error);

    std::string kindText() const override { return "vmfsSparse"; }
    void structureLines(std::vector<std::string>& out) const override;

  private:
    VmdkCowdExtent(ReadOnlyFile file, const CowdHeader& header, std::uint64_t length);
    Grain lookup(std::uint64_t grain) const override;
    std::uint64_t sameUntil(std::uint64_t grain) const override;

    CowdHeader header_;
    std::vector<std::uint32_t> directory_;
};

} // namespace vindaru
