// The image options every vindaru-cli command shares (`--kind`, `--split`, `--descriptor`,
// `--extent`, `--disk-mb`), the same choices the wizard's image page records, and the step that
// turns them into an opened session reader.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "cli/ArgParser.h"
#include "cli/CliSinks.h"
#include "common/Session.h"

#include "image/ReaderFactory.h"

namespace vindaru::cli {

inline constexpr const char* kImageOptionsUsage =
    "[--kind vmdk|vhd|vdi|vhdx|qcow2] [--split] [--descriptor] [--extent SPARSE|FLAT] [--disk-mb N] "
    "[--layer N] [--allow-missing-parent] [--parent FILE] [--ignore-log] [--snapshot ID]";

struct ImageArgs {
    std::string path;
    ImageChoices choices;
    std::uint64_t diskMb = 0; // "Size of HDD" in MB; 0 = not given
    // No image option given and the file carries no container signature: it is read as a
    // flat disk, and openSessionReader says so on stderr.
    bool rawDisk = false;
    std::uint64_t fileBytes = 0; // the file's length when rawDisk
    // Snapshot chains: the layer to read as of (from the base; unset: the latest), reading a
    // child without its missing parent, a file named as the parent.
    std::optional<std::uint64_t> layer;
    bool allowMissingParent = false;
    std::string parentPath;
    // The file carries the signature of a container no reader here handles ("a VHDX image"):
    // openSessionReader refuses it by name.
    std::string foreignFormat;
};

// Registers the IMAGE positional (declare it before a command's own positionals) and the shared
// image flags on `parser`; after parser.parse(), resolve() checks them and fills an ImageArgs.
class ImageOptions {
  public:
    explicit ImageOptions(ArgParser& parser);
    // False after printing a usage error (the command returns parser.exitCode()).
    bool resolve(ImageArgs& out);
    // parser.parse(args), then resolve(out): the usual start of a command.
    bool parse(const std::vector<std::string>& args, ImageArgs& out);

  private:
    ArgParser& parser_;
    std::string path_;
    std::string kind_;
    std::string extent_; // empty: not given (SPARSE, or FLAT for a raw disk)
    bool split_ = false;
    bool descriptor_ = false;
    std::uint64_t diskMb_ = 0;
    std::uint64_t layer_ = 0;
    bool layerGiven_ = false;
    bool allowMissingParent_ = false;
    std::string parent_;
    bool ignoreLog_ = false;
    std::string snapshot_;
};

// A session whose engines' messages go to stderr.
struct CliSession {
    explicit CliSession(bool assumeYes = false) : messages(assumeYes) {
        session.messages = &messages;
    }
    CliMessageSink messages;
    Session session;
};

// The image kind when none is given: by the file's content, else by its extension, else VMDK
// (the wizard's default choice). resolve() reads a file without any signature as a raw disk
// before it gets here.
ImageKind guessImageKind(const std::string& path);

// Creates the session reader for `image` and opens it. Sets customDiskSectors from --disk-mb and
// takes the reader's length as the disk size when the reader did not set one. On failure the
// reader's own message (through session.messages) and "file not opened.." reach stderr, and the
// command exits with kExitImage.
bool openSessionReader(Session& session, const ImageArgs& image);

// True when the disk's first sector can be read; otherwise says on stderr that the disk of
// `image` cannot be read and why (the command then exits with kExitImage): a disk whose first
// sector is gone has no partition table to find, and an empty list would look like a blank disk.
bool firstSectorReadable(const Session& session, const ImageArgs& image);

} // namespace vindaru::cli
