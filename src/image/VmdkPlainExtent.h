// The extents without a grain map: a flat extent (FLAT, VMFS) read one-to-one from its file at
// the descriptor's offset, a ZERO extent that is all hole, and an extent whose file is missing,
// which is unreadable where it lies so that the extents after it keep their places.
#pragma once

#include <memory>
#include <string>

#include "image/ReadOnlyFile.h"
#include "image/VmdkExtent.h"

namespace vindaru {

class VmdkPlainExtent : public VmdkExtent {
  public:
    enum class Kind { Flat, Zero, Missing, Unreadable };

    static std::unique_ptr<VmdkPlainExtent> flat(ReadOnlyFile file, std::uint64_t length, std::uint64_t fileOffset);
    static std::unique_ptr<VmdkPlainExtent> zero(std::uint64_t length);
    // `name` is the file the descriptor names, for the structure lines.
    static std::unique_ptr<VmdkPlainExtent> missing(std::uint64_t length, std::string name);
    // An extent whose file is there but cannot be read as its line says (`why` for the lines).
    static std::unique_ptr<VmdkPlainExtent> unreadable(std::uint64_t length, std::string name, Damage reason,
                                                       std::string why);

    bool read(std::uint64_t offset, std::span<std::uint8_t> out, std::uint64_t diskBase, ReadReport* report,
              const AbsentFill& absent) const override;
    bool isHole(std::uint64_t offset, std::uint64_t length, bool absentIsHole) const override;
    std::uint64_t nextData(std::uint64_t offset, bool absentIsHole) const override;
    std::span<const std::uint8_t> viewAt(std::uint64_t offset, std::uint64_t length) const override;
    void describeDamage(std::uint64_t diskBase, std::vector<ByteRange>& out) const override;
    void structureLines(std::vector<std::string>& out) const override;
    std::string kindText() const override;

    Kind kind() const { return kind_; }

  private:
    VmdkPlainExtent(Kind kind, std::uint64_t length) : VmdkExtent(length), kind_(kind) {}
    // Bytes of the extent the file holds from `fileOffset_` on.
    std::uint64_t inFile() const;

    Kind kind_;
    ReadOnlyFile file_;
    std::uint64_t fileOffset_ = 0;
    std::string name_;
    Damage reason_ = Damage::MissingExtent;
    std::string why_;
};

} // namespace vindaru
