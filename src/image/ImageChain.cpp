#include "image/ImageChain.h"

#include <algorithm>
#include <cctype>
#include <ctime>
#include <filesystem>
#include <set>
#include <sys/stat.h>

#include "common/DisplayFormat.h"
#include "image/ReadOnlyFile.h"
#include "image/ReaderFactory.h"

namespace vindaru {

namespace fs = std::filesystem;

namespace {

// A folder search for a parent by its id opens at most this many files.
constexpr std::size_t kMaxFolderCandidates = 512;
// Damage of a lower layer is checked against the layers above it by reading through the top, in
// pieces of this size, up to kMaxCheckedBytes in all; ranges past that are listed as they stand.
constexpr std::uint64_t kCheckPiece = 4u << 20;
constexpr std::uint64_t kMaxCheckedBytes = 256ull << 20;

std::string lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

bool sameId(const std::string& a, const std::string& b) { return lower(a) == lower(b); }

std::string fileName(const std::string& path) {
    const std::string name = fs::path(path).filename().string();
    return name.empty() ? path : name;
}

bool exists(const std::string& path, const MemoryFiles* memory) {
    if (memory) return memory->find(path).has_value();
    std::error_code ec;
    return fs::is_regular_file(path, ec) || fs::is_block_file(path, ec);
}

// The name the loop guard compares: the real path of a file, the name of one held in memory.
std::string identity(const std::string& path, const MemoryFiles* memory) {
    if (memory) return path;
    std::error_code ec;
    const fs::path real = fs::weakly_canonical(path, ec);
    return ec ? path : real.string();
}

std::int64_t modifiedTime(const std::string& path, const MemoryFiles* memory) {
    struct stat st {};
    if (memory || ::stat(path.c_str(), &st) != 0) return 0;
    return static_cast<std::int64_t>(st.st_mtime);
}

// A hint as written in the child: absolute stays, relative is taken from the child's folder.
// Hints written on another system may use backslashes; both spellings are tried.
std::vector<std::string> resolveHint(const std::string& hint, const std::string& childPath) {
    std::vector<std::string> out;
    if (hint.empty()) return out;
    const fs::path folder = fs::path(childPath).parent_path();
    auto add = [&](const std::string& h) {
        const fs::path p(h);
        const std::string full = (p.is_absolute() || folder.empty() ? p : folder / p).lexically_normal().string();
        if (std::find(out.begin(), out.end(), full) == out.end()) out.push_back(full);
    };
    add(hint);
    std::string slashed = hint;
    std::replace(slashed.begin(), slashed.end(), '\\', '/');
    // "C:/dir/base.vhd" means nothing here; its file name beside the child may still be it.
    if (slashed.size() >= 2 && slashed[1] == ':') slashed = fs::path(slashed).filename().string();
    add(slashed);
    add(fs::path(slashed).filename().string());
    return out;
}

std::string timeText(std::int64_t seconds) {
    if (seconds == 0) return "unknown";
    const std::time_t t = static_cast<std::time_t>(seconds);
    std::tm utc{};
    if (!gmtime_r(&t, &utc)) return "unknown";
    return formatText("%04d-%02d-%02d %02d:%02d:%02d UTC", utc.tm_year + 1900, utc.tm_mon + 1,
                      utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec);
}

void addRange(std::vector<ByteRange>& out, const ByteRange& r) {
    if (r.length == 0) return;
    out.push_back(r);
}

// Sorts and joins overlapping ranges, and touching ones of the same reason (where ranges of
// different reasons overlap, the first one's reason stands for both).
std::vector<ByteRange> joined(std::vector<ByteRange> ranges) {
    std::sort(ranges.begin(), ranges.end(),
              [](const ByteRange& a, const ByteRange& b) { return a.offset < b.offset; });
    std::vector<ByteRange> out;
    for (const ByteRange& r : ranges) {
        if (!out.empty() && (out.back().end() > r.offset ||
                             (out.back().end() == r.offset && out.back().reason == r.reason))) {
            out.back().length = std::max(out.back().end(), r.end()) - out.back().offset;
            continue;
        }
        out.push_back(r);
    }
    return out;
}

} // namespace

ImageChain::ImageChain(Session& session, ChainOptions options)
    : session_(session), options_(std::move(options)) {
    makeReader = [this](const std::string& path, const std::string& hint) {
        return createReaderByContent(session_, path, hint, memory_);
    };
}

bool ImageChain::fail(std::string text) {
    message_ = text;
    refusal_ = std::move(text);
    return false;
}

std::unique_ptr<readWriteInterface> ImageChain::openCandidate(const std::string& path,
                                                              const ParentLink& link,
                                                              const MemoryFiles* memory) {
    if (!exists(path, memory)) return nullptr;
    std::unique_ptr<readWriteInterface> reader = makeReader(path, link.formatHint);
    if (!reader) return nullptr;
    reader->memoryFiles = memory;
    // Candidates that turn out not to be the parent are no concern of the user's.
    NullMessageSink quiet;
    MessageSink* saved = session_.messages;
    session_.messages = &quiet;
    const bool opened = reader->open(path);
    session_.messages = saved;
    return opened ? std::move(reader) : nullptr;
}

ImageChain::Found ImageChain::findParent(const readWriteInterface& child, const std::string& childPath,
                                         const ParentLink& link, std::string& mismatch) {
    const MemoryFiles* memory = child.memoryFiles;
    std::vector<std::string> candidates = options_.namedParents;
    for (const std::string& hint : link.candidatePaths)
        for (const std::string& p : resolveHint(hint, childPath)) candidates.push_back(p);

    std::set<std::string> tried;
    auto attempt = [&](const std::string& path) -> std::unique_ptr<readWriteInterface> {
        if (!tried.insert(path).second) return nullptr;
        auto reader = openCandidate(path, link, memory);
        if (!reader) return nullptr;
        const std::string id = reader->layerId();
        if (link.expectedId.empty() || sameId(id, link.expectedId)) return reader;
        if (mismatch.empty())
            mismatch = fileName(path) + " has id " + (id.empty() ? std::string("(none)") : id);
        return nullptr;
    };
    for (const std::string& path : candidates)
        if (auto reader = attempt(path)) return {std::move(reader), path};

    // No hint led to it: a parent known only by its id (a VDI child) is looked for among the
    // files of the same kind beside the child.
    if (link.expectedId.empty() || memory) return {};
    const fs::path folder = fs::path(childPath).parent_path().empty() ? fs::path(".")
                                                                      : fs::path(childPath).parent_path();
    const std::string childReal = identity(childPath, nullptr);
    std::error_code ec;
    std::size_t looked = 0;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end && looked < kMaxFolderCandidates;
         it.increment(ec)) {
        const fs::path p = it->path();
        if (!link.formatHint.empty() && lower(p.extension().string()) != "." + link.formatHint) continue;
        if (identity(p.string(), nullptr) == childReal) continue;
        ++looked;
        if (auto reader = attempt(p.string())) return {std::move(reader), p.string()};
    }
    return {};
}

bool ImageChain::follow(std::unique_ptr<readWriteInterface>& top, const std::string& topPath) {
    layers_.clear();
    withoutParent_ = false;
    message_.clear();
    refusal_.clear();
    missing_.reset();
    if (!top) return fail(fileName(topPath) + ": no reader");
    const MemoryFiles* memory = top->memoryFiles;
    memory_ = memory;

    // Top first while walking; attached and listed base first afterwards.
    std::vector<std::unique_ptr<readWriteInterface>> readers;
    std::vector<ChainLayer> walked;
    std::set<std::string> seen{identity(topPath, memory)};
    readers.push_back(std::move(top));
    walked.push_back({topPath, readers.back()->layerId(), readers.back()->kindText(),
                      modifiedTime(topPath, memory), false});
    std::optional<ChainLayer> missing;
    std::string refusal;

    while (true) {
        const readWriteInterface& child = *readers.back();
        const std::string childPath = walked.back().path;
        const std::optional<ParentLink> link = child.parentLink();
        if (!link) break;
        if (readers.size() >= kMaxChainDepth) {
            refusal = fileName(topPath) + ": the snapshot chain is deeper than " +
                      std::to_string(kMaxChainDepth) + " layers";
            break;
        }
        std::string mismatch;
        Found found = findParent(child, childPath, *link, mismatch);
        const std::string named = link->candidatePaths.empty() ? std::string("(not named)")
                                                               : link->candidatePaths.front();
        const std::string expected = link->expectedId.empty() ? std::string() : " (id " + link->expectedId + ")";
        if (!found.reader) {
            missing = ChainLayer{named, link->expectedId, link->formatHint, 0, true};
            missing_ = missing;
            refusal = fileName(childPath) + ": its parent image " + named + expected +
                      (mismatch.empty() ? " was not found" : " was not found; " + mismatch);
            break;
        }
        if (!seen.insert(identity(found.path, memory)).second) {
            refusal = fileName(childPath) + ": its parent " + fileName(found.path) +
                      " is already a layer of this chain (a loop)";
            // A loop is never read through, allowed or not.
            top = std::move(readers.front());
            return fail(refusal);
        }
        walked.push_back({found.path, found.reader->layerId(), found.reader->kindText(),
                          modifiedTime(found.path, memory), false});
        readers.push_back(std::move(found.reader));
    }

    if (!refusal.empty()) {
        if (!options_.allowMissingParent || !missing) {
            top = std::move(readers.front());
            return fail(refusal);
        }
        withoutParent_ = true;
        refusal_ = refusal;
        message_ = refusal + "; read without it, every range it holds is unreadable";
    }

    // Base first.
    if (missing) layers_.push_back(*missing);
    for (auto it = walked.rbegin(); it != walked.rend(); ++it) layers_.push_back(*it);
    const std::size_t firstPresent = missing ? 1 : 0;
    const std::size_t latest = layers_.size() - 1;
    const std::size_t wanted = options_.layer.value_or(latest);
    if (wanted > latest || wanted < firstPresent) {
        top = std::move(readers.front());
        return fail(fileName(topPath) + ": there is no layer " + std::to_string(wanted) +
                    " to read (layers " + std::to_string(firstPresent) + " to " +
                    std::to_string(latest) + ")");
    }
    layerUsed_ = wanted;

    // readers[i] is layer latest - i; hang each under its child, from the base up.
    for (std::size_t i = readers.size() - 1; i > 0; --i)
        readers[i - 1]->attachParent(std::move(readers[i]));
    std::unique_ptr<readWriteInterface> whole = std::move(readers.front());
    if (wanted == latest) {
        top = std::move(whole);
        return true;
    }
    // Cut: take the wanted layer out from under its child; the layers above it are dropped.
    readWriteInterface* child = whole.get();
    for (std::size_t layer = latest; layer > wanted + 1; --layer) child = child->parent_.get();
    top = std::move(child->parent_);
    return true;
}

std::string layerText(const ChainLayer& l) {
    std::string line = l.path;
    if (l.missing) {
        line += "  MISSING";
        if (!l.id.empty()) line += ", id " + l.id + " expected";
        return line;
    }
    line += "  " + l.kind;
    if (!l.id.empty()) line += "  id " + l.id;
    return line + "  modified " + timeText(l.modifiedTime);
}

std::vector<std::string> chainLines(const std::vector<ChainLayer>& layers, std::size_t used) {
    std::vector<std::string> lines;
    for (std::size_t i = layers.size(); i-- > 0;)
        lines.push_back((i == used ? "* " : "  ") + std::to_string(i) + "  " + layerText(layers[i]));
    return lines;
}

std::vector<ByteRange> chainDamage(const readWriteInterface& reader, bool readData) {
    std::vector<ByteRange> own;
    reader.describeDamage(own);
    if (readData) reader.describeDataDamage(own);
    std::vector<ByteRange> lower;
    for (const readWriteInterface* p = reader.parent(); p; p = p->parent()) {
        p->describeDamage(lower);
        if (readData) p->describeDataDamage(lower);
    }

    std::vector<ByteRange> out;
    for (const ByteRange& r : own) addRange(out, r);
    // A lower layer's damage matters only where nothing above it holds the range: read it
    // through the top and keep what that read found unreadable.
    std::vector<std::uint8_t> piece;
    std::uint64_t budget = kMaxCheckedBytes;
    for (const ByteRange& r : joined(lower)) {
        if (r.offset >= reader.size()) continue;
        const std::uint64_t end = std::min(r.end(), reader.size());
        if (end - r.offset > budget) {
            addRange(out, {r.offset, end - r.offset, RangeKind::Unreadable, r.reason});
            continue;
        }
        budget -= end - r.offset;
        ReadReport report;
        for (std::uint64_t at = r.offset; at < end;) {
            const std::uint64_t n = std::min(kCheckPiece, end - at);
            piece.resize(n);
            reader.readAt(at, piece, &report);
            at += n;
        }
        for (const ByteRange& u : report.unreadableRanges()) addRange(out, u);
    }
    return joined(std::move(out));
}

std::string damageSummary(const std::vector<ByteRange>& damage) {
    std::uint64_t bytes = 0;
    for (const ByteRange& r : damage) bytes += r.length;
    if (damage.empty()) return "no unreadable ranges";
    const double mb = static_cast<double>(bytes) / (1024.0 * 1024.0);
    return std::to_string(damage.size()) + (damage.size() == 1 ? " range" : " ranges") +
           " unreadable, " + formatText("%.1f MB", mb);
}

std::vector<std::string> chainStructuralDamage(const readWriteInterface& reader) {
    std::vector<std::string> out = reader.structuralDamage();
    int depth = 1;
    for (const readWriteInterface* p = reader.parent(); p; p = p->parent(), ++depth)
        for (const std::string& phrase : p->structuralDamage())
            out.push_back("parent " + std::to_string(depth) + ": " + phrase);
    return out;
}

bool chainHasUncheckedData(const readWriteInterface& reader) {
    for (const readWriteInterface* p = &reader; p; p = p->parent())
        if (p->hasUncheckedData()) return true;
    return false;
}

std::string damageSummary(const std::vector<ByteRange>& damage, const std::vector<std::string>& structural,
                          bool dataUnchecked) {
    std::string text = damageSummary(damage);
    if (dataUnchecked)
        text += " in the map (grain data not verified; `vindaru-cli check` inflates every grain)";
    for (const std::string& phrase : structural) text += "; " + phrase;
    return text;
}

} // namespace vindaru
