// vindaru-cli ls: the tree as the scan page shows it, one entry per line (or TSV / JSON), with
// the page's time, size and attribute texts; --md5 hashes, in memory, the content the page's
// save would write.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>
#include <exception>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "browser/EntryWalker.h"
#include "cli/ArgParser.h"
#include "cli/CliBrowse.h"
#include "cli/CliCommand.h"
#include "cli/CliJson.h"
#include "cli/CliText.h"
#include "common/DisplayFormat.h"
#include "common/Md5.h"

namespace vindaru::cli {

namespace {

enum class Format { Text, Tsv, Json };

constexpr const char* kTsvHeader =
    "partition_start_sector\tfs_type\tpath\tis_dir\tis_deleted\tsize\tmd5\tmtime\tpath_guessed\trecoverable\n";

// The md5 of what saving the entry would write, computed in memory from the same content path;
// `unreadable` counts the bytes that came from ranges of the disk that could not be read.
std::string md5OfContent(EntryView& view, EntryRef entry, std::uint64_t& unreadable) {
    Md5 md5;
    ReadScope reads;
    try {
        view.writeContent(entry, [&](std::span<const std::uint8_t> data) {
            md5.update(data);
            return true;
        });
    } catch (const std::exception&) {
        // A damaged record the parser cannot size: the hash covers what was read.
    }
    unreadable = reads.report().unreadableBytes();
    return md5.finishHex();
}

// Past this many, files whose digests met unreadable ranges are only counted.
constexpr std::size_t kMaxNamedDamagedFiles = 20;

// A Unix time and its ISO 8601 text as JSON values; null when the entry has no such time.
std::string jsonTime(bool known, std::int64_t seconds, const char* name) {
    const auto iso = known ? isoTime(seconds) : std::nullopt;
    if (!iso) return formatText(", \"%s\": null, \"%s_iso\": null", name, name);
    return formatText(", \"%s\": %lld, \"%s_iso\": \"%s\"", name, static_cast<long long>(seconds), name,
                      iso->c_str());
}

class Lister {
public:
    Lister(CliBrowse& browse, Format format, bool withMd5, bool byRecoverable)
        : browse_(browse), view_(browse.view()), format_(format), withMd5_(withMd5),
          byRecoverable_(byRecoverable) {}

    void begin() {
        if (format_ == Format::Tsv) std::fputs(kTsvHeader, stdout);
        if (format_ == Format::Json) std::fputs("[", stdout);
    }
    void end() {
        // Least recoverable first; entries the file system cannot tell about last.
        std::stable_sort(held_.begin(), held_.end(),
                         [](const auto& a, const auto& b) { return a.first < b.first; });
        for (const auto& [key, row] : held_) write(row);
        held_.clear();
        if (format_ == Format::Json) std::fputs(first_ ? "]\n" : "\n]\n", stdout);
        std::fflush(stdout);
    }

    void print(EntryRef entry, const std::string& path) {
        const bool dir = view_.isDirectory(entry);
        const bool deleted = view_.isDeleted(entry);
        const std::uint64_t size = view_.byteSize(entry);
        const EntryTimes times = view_.times(entry);
        const bool guessed = view_.isPathGuessed(entry);
        // Worked out only where it is printed or sorted by.
        const std::optional<double> share =
            format_ != Format::Text || byRecoverable_ ? view_.recoverableShare(entry) : std::nullopt;
        const std::string recoverable = recoverableValue(share);
        key_ = share.value_or(2.0);
        std::string md5;
        std::uint64_t unreadable = 0;
        if (withMd5_) md5 = dir ? "-" : md5OfContent(view_, entry, unreadable);
        if (unreadable != 0) damaged_.emplace_back(path, unreadable);
        if (format_ == Format::Tsv) {
            emit(formatText("%llu\t%s\t%s\t%d\t%d\t%llu\t%s\t%lld\t%d\t%s\n",
                        static_cast<unsigned long long>(browse_.volume().startSector),
                        view_.fileSystemType().c_str(), path.c_str(), dir ? 1 : 0,
                        deleted ? 1 : 0, static_cast<unsigned long long>(size), md5.c_str(),
                        static_cast<long long>(times.known ? times.modificationSeconds : 0), guessed ? 1 : 0,
                        recoverable.empty() ? "-" : recoverable.c_str()));
            return;
        }
        const EntryTexts t = view_.describe(entry);
        const std::string sizeText = view_.sizeText(entry);
        if (format_ == Format::Json) {
            // "path" is the listing's path (escaped, placeholders marked, as TSV prints it);
            // "name" the entry's own name. "mtime" stays 0 for no time, as in the TSV.
            emit(formatText("\n  {\"path\": %s, \"name\": %s, \"is_dir\": %s, \"is_deleted\": %s, "
                        "\"is_placeholder\": %s, \"creation\": %s, \"access\": %s, \"modification\": %s, "
                        "\"size_text\": %s, \"size\": %llu, \"attributes\": %s, \"mtime\": %lld, \"path_guessed\": %s, \"recoverable\": %s%s%s%s}",
                        jsonString(path).c_str(),
                        jsonString(view_.label(entry)).c_str(), dir ? "true" : "false",
                        deleted ? "true" : "false", view_.isPlaceholder(entry) ? "true" : "false",
                        jsonString(t.creation).c_str(),
                        jsonString(t.access).c_str(), jsonString(t.modification).c_str(),
                        jsonString(sizeText).c_str(), static_cast<unsigned long long>(size),
                        jsonString(t.attributes).c_str(),
                        static_cast<long long>(times.known ? times.modificationSeconds : 0),
                        guessed ? "true" : "false", recoverable.empty() ? "null" : recoverable.c_str(),
                        jsonTime(times.known, times.modificationSeconds, "modification_unix").c_str(),
                        jsonTime(times.known, times.accessSeconds, "access_unix").c_str(),
                        withMd5_ ? (", \"md5\": " + jsonString(md5)).c_str() : ""));
            return;
        }
        emit(formatText("%c%c  %-20s  %-20s  %-20s  %12s  %-12s  %s%s%s\n", dir ? 'd' : '-',
                    deleted ? 'x' : '-', t.creation.c_str(), t.access.c_str(),
                    t.modification.c_str(), sizeText.c_str(), t.attributes.c_str(),
                    path.c_str(), withMd5_ ? "  " : "", md5.c_str()));
    }

    // Names on stderr the files whose digests cover bytes the disk could not give; true when
    // there are any.
    bool warnOfDamagedDigests() const {
        if (damaged_.empty()) return false;
        std::cerr << "vindaru-cli: " << damaged_.size() << (damaged_.size() == 1 ? " file's" : " files'")
                  << " md5 covers bytes from ranges of the disk that could not be read (taken as zeros):\n";
        for (std::size_t i = 0; i < damaged_.size() && i < kMaxNamedDamagedFiles; ++i)
            std::cerr << "  " << damaged_[i].first << " (" << damaged_[i].second << " bytes)\n";
        if (damaged_.size() > kMaxNamedDamagedFiles)
            std::cerr << "  ... and " << damaged_.size() - kMaxNamedDamagedFiles << " more\n";
        return true;
    }

private:
    CliBrowse& browse_;
    EntryView& view_;
    Format format_;
    bool withMd5_;
    bool byRecoverable_;
    bool first_ = true;
    double key_ = 0;
    // Rows held back for sorting, with their keys.
    std::vector<std::pair<double, std::string>> held_;
    // Files whose digests met unreadable ranges, with the unreadable byte counts.
    std::vector<std::pair<std::string, std::uint64_t>> damaged_;

    void emit(std::string row) {
        if (byRecoverable_)
            held_.emplace_back(key_, std::move(row));
        else
            write(row);
    }
    void write(const std::string& row) {
        if (format_ == Format::Json && !first_) std::fputc(',', stdout);
        first_ = false;
        std::fputs(row.c_str(), stdout);
    }
};

int runLs(const std::vector<std::string>& argsIn) {
    const std::string usage = std::string("vindaru-cli ls IMAGE ") + kVolumeOptionsUsage +
                              " " + kScanModeOptionsUsage + " [-r] [--json|--tsv] [--md5] [--sort recoverable] [PATH] " +
                              kImageOptionsUsage;
    const std::vector<std::string>& args = argsIn;
    ArgParser parser(usage);
    ImageOptions imageOptions(parser);
    VolumeOptions volumeOptions(parser);
    ScanModeOptions modeOptions(parser);
    std::string path;
    bool recursive = false, json = false, tsv = false, md5 = false;
    std::string sort;
    parser.flag("-r", recursive)
        .flag("--recursive", recursive)
        .flag("--json", json)
        .flag("--tsv", tsv)
        .flag("--md5", md5)
        .option("--sort", sort)
        .positional("PATH", path, false);
    if (!parser.parse(args)) return parser.exitCode();
    ImageArgs image;
    VolumeArgs volumeArgs;
    if (!imageOptions.resolve(image) || !volumeOptions.resolve(volumeArgs))
        return parser.exitCode();
    if (json && tsv) return parser.usageError("--json and --tsv exclude each other");
    if (!sort.empty() && sort != "recoverable") return parser.usageError("--sort takes: recoverable");
    ScanModeArgs scanMode;
    if (!modeOptions.resolve(scanMode)) return parser.exitCode();

    CliBrowse browse(false);
    if (int rc = browse.openAndScan(image, volumeArgs, scanMode); rc != kExitOk) return rc;
    auto target = browse.resolve(path);
    if (!target) {
        std::cerr << "vindaru-cli: no entry at '" << path << "'\n";
        return kExitNotFound;
    }

    Lister lister(browse, json ? Format::Json : tsv ? Format::Tsv : Format::Text, md5, !sort.empty());
    EntryView& view = browse.view();
    // The folders read as the walk reaches them; the digests' reads go to scopes of their own.
    ReadScope walkReads;
    // A listing built on bytes the disk could not give, or digests of such bytes, is said to be
    // so and does not end as a sound one.
    auto finish = [&] {
        lister.end();
        const bool listingDamaged = browse.warnOfDamagedListing(walkReads.report());
        const bool digestsDamaged = lister.warnOfDamagedDigests();
        return listingDamaged || digestsDamaged ? kExitIncomplete : kExitOk;
    };
    lister.begin();
    if (!target->volumeItem && !view.isDirectory(target->entry)) {
        lister.print(target->entry, target->path); // a file lists as itself, as on the page
        return finish();
    }
    std::vector<std::string> names; // the printed path components below the target, by depth
    EntryWalker walker(view, EntryWalker::DirectoryTest::Listing);
    auto visit = [&](const EntryWalker::Visit& v) {
        names.resize(v.depth);
        std::string full = target->path;
        for (const auto& n : names) full += "/" + n;
        const std::string component = pathComponent(view, v.entry);
        lister.print(v.entry, full + "/" + component);
        names.push_back(component);
        return recursive;
    };
    if (target->volumeItem)
        walker.walkLevel(browse.firstLevel(), view.rootEntry(), visit);
    else
        walker.walk(target->entry, visit);
    return finish();
}

const CommandRegistrar registrar(CliCommand{
    "ls",
    "ls IMAGE VOLUME [--mode standard|advanced|deep] [-r] [--json|--tsv] [--md5] [--sort recoverable] [PATH]   list a volume's "
    "entries as the scan page shows them",
    runLs});

} // namespace

} // namespace vindaru::cli
