// An ESXi SEsparse extent (space-efficient sparse), the delta format of large ESXi snapshots:
// a constant header, a volatile header, a grain directory and grain tables of 64-bit entries
// whose top nibble says what a grain is (not here, zero, unmapped, or stored and where), and
// 4 KiB grains. The journal is not replayed; a delta that asks for it is read as it stands
// and says so.
#pragma once

#include <memory>
#include <optional>
#include <span>
#include <string>

#include "image/VmdkGrainExtent.h"

namespace vindaru {

struct SeSparseHeader {
    std::uint64_t capacitySectors = 0;
    std::uint64_t grainSectors = 0;
    std::uint64_t tableSectors = 0; // of one grain table
    std::uint64_t volatileHeaderSector = 0;
    std::uint64_t directorySector = 0;
    std::uint64_t directorySectors = 0;
    std::uint64_t tablesSector = 0;
    std::uint64_t tablesSectors = 0;
    std::uint64_t grainsSector = 0;
    std::uint64_t grainsSectors = 0;

    // nullopt when the 512 bytes are not a constant header of the one known version.
    static std::optional<SeSparseHeader> decode(std::span<const std::uint8_t> sector);
};

class VmdkSeSparseExtent : public VmdkGrainExtent {
  public:
    static std::unique_ptr<VmdkSeSparseExtent> open(ReadOnlyFile file, std::uint64_t sectors, std::string& error);

    std::string kindText() const override { return "seSparse"; }
    void structureLines(std::vector<std::string>& out) const override;
    // An unreplayed journal: the delta may lack its last writes, or hold them half made.
    void structuralDamage(std::vector<std::string>& out) const override;

  private:
    VmdkSeSparseExtent(ReadOnlyFile file, const SeSparseHeader& header, std::uint64_t length);
    Grain lookup(std::uint64_t grain) const override;
    std::uint64_t sameUntil(std::uint64_t grain) const override;

    SeSparseHeader header_;
    std::uint64_t gtes_ = 0;
    std::vector<std::uint64_t> directory_;
    std::uint64_t directoryWanted_ = 0;
    bool journalPending_ = false;
};

} // namespace vindaru
