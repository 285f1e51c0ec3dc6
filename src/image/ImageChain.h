// Snapshot chains: a child layer (a differencing VHD, a VDI child, a VMDK delta, a QCOW2 overlay,
// ...) holds only what was written after its parent was frozen and defers every other range to
// its parent. The opener follows each layer's parentLink() from the file the user chose down to
// the base, checks every parent's id against what its child expects, and hangs each parent under
// its child (attachParent), so the top reader answers any read from the nearest layer that holds
// it. A missing or mismatched parent is refused unless the user allowed reading without it; then
// the child is read alone and every range it defers is unreadable, never zeros that look like data.
// The user may also read the disk as it was at an older layer: the chain is cut there.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/Session.h"
#include "image/readWriteInterface.h"

namespace vindaru {

// Layers deeper than this are refused: no real snapshot tree comes near it, and each layer holds
// an open file and its map.
inline constexpr std::size_t kMaxChainDepth = 256;

// One layer of a chain as `info` and the image page list it. Layers are numbered from the base (0)
// up to the file the user chose.
struct ChainLayer {
    std::string path;
    std::string id;
    std::string kind;
    std::int64_t modifiedTime = 0; // seconds since 1970 (UTC); 0 when unknown
    bool missing = false; // a parent its child names but that was not found (id: the one expected)
};

// What opening a chain found, for a front end that shows it: the layers (base first; empty when
// the chain was refused), the layer read, and a parent that is missing or whose id does not match
// (the file its child names and the id expected), refused or read without.
struct ChainReport {
    std::vector<ChainLayer> layers;
    std::size_t layerUsed = 0;
    std::optional<ChainLayer> missingParent;
    std::string refusal;
};

struct ChainOptions {
    std::optional<std::size_t> layer; // the layer to read as of; nullopt: the latest
    bool allowMissingParent = false;  // read a child whose parent is missing or mismatched alone
    std::vector<std::string> namedParents; // files the user named as parents, tried first
};

// Makes a fresh, unopened reader for a parent file: by its content, with the link's format hint
// as a fallback. Null when the file is no image any reader handles.
using ParentReaderMaker =
    std::function<std::unique_ptr<readWriteInterface>(const std::string& path, const std::string& formatHint)>;

class ImageChain {
  public:
    ImageChain(Session& session, ChainOptions options);

    // Follows the parent links of `top` (opened on `topPath`) and attaches the parents. When an
    // older layer is asked for, `top` is replaced by that layer (its own parents attached).
    // False, with message() naming the file and the reason, when the chain is refused: a missing
    // or mismatched parent (unless allowed), a loop, a chain deeper than kMaxChainDepth, a layer
    // that does not exist.
    bool follow(std::unique_ptr<readWriteInterface>& top, const std::string& topPath);

    // Base first; a missing parent, when there is one, is layers().front() with missing set.
    const std::vector<ChainLayer>& layers() const { return layers_; }
    // The index in layers() of the layer read.
    std::size_t layerUsed() const { return layerUsed_; }
    // True when a parent is missing or mismatched and the child is read alone.
    bool readWithoutParent() const { return withoutParent_; }
    const std::string& message() const { return message_; }
    // What was refused or is read without (the parent that is missing, a loop, ...), without
    // what was done about it; empty when the whole chain opened.
    const std::string& refusal() const { return refusal_; }
    ChainReport report() const { return {layers_, layerUsed_, missing_, refusal_}; }

    // The reader for a parent file; defaults to the factory's choice by content.
    ParentReaderMaker makeReader;

  private:
    struct Found {
        std::unique_ptr<readWriteInterface> reader;
        std::string path;
    };
    // Opens the first candidate whose id matches `link`; `mismatch` tells of one that did not.
    Found findParent(const readWriteInterface& child, const std::string& childPath,
                     const ParentLink& link, std::string& mismatch);
    std::unique_ptr<readWriteInterface> openCandidate(const std::string& path, const ParentLink& link,
                                                      const MemoryFiles* memory);
    bool fail(std::string text);

    Session& session_;
    ChainOptions options_;
    std::vector<ChainLayer> layers_;
    std::size_t layerUsed_ = 0;
    bool withoutParent_ = false;
    std::string message_;
    std::string refusal_;
    std::optional<ChainLayer> missing_;
    const MemoryFiles* memory_ = nullptr;
};

// "child.vhd  vhd (differencing)  id ...  modified 2026-01-02 03:04:05 UTC" (or MISSING).
std::string layerText(const ChainLayer& layer);

// The text of a layer list, one line a layer, top first ("  2  child.vhd  vhd (differencing)
// id ... modified ..."), with the layer read marked.
std::vector<std::string> chainLines(const std::vector<ChainLayer>& layers, std::size_t used);

// The ranges of the disk `reader` serves (its whole chain) known to be unreadable from the maps
// alone, in ascending order and joined: each layer's own damage, and for a layer below the top,
// only where the layers above it defer to it. With `readData`, also what reading the layers'
// checked data finds (describeDataDamage).
std::vector<ByteRange> chainDamage(const readWriteInterface& reader, bool readData = false);

// "2 ranges unreadable, 64.0 MB" (or "no damage found") for a damage map.
std::string damageSummary(const std::vector<ByteRange>& damage);
// The structural damage of every layer of the chain `reader` serves (structuralDamage), a
// parent's phrases led by "parent N: ".
std::vector<std::string> chainStructuralDamage(const readWriteInterface& reader);
// True when some layer of the chain holds data only a read of it can check (hasUncheckedData).
bool chainHasUncheckedData(const readWriteInterface& reader);
// The one-line summary `info` and `check` give: damageSummary of the map, said to be the map's
// alone when `dataUnchecked` (the grains' data not inflated), then each structural phrase
// after a "; ". The healthy case reads exactly as damageSummary's.
std::string damageSummary(const std::vector<ByteRange>& damage, const std::vector<std::string>& structural,
                          bool dataUnchecked);

} // namespace vindaru
