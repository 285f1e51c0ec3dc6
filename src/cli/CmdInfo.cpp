// vindaru-cli info: the image page's File Information (format version, geometry, size of the
// disk in MB) and the disk size in sectors the readers compute, as text or as JSON.
#include <cstdio>
#include <iostream>
#include <optional>
#include <sstream>

#include "cli/CliCommand.h"
#include "cli/CliJson.h"
#include "cli/CliImage.h"
#include "cli/CliSinks.h"
#include "image/ImageChain.h"
#include "image/ImageFileInfo.h"
#include "image/VmdkDescriptor.h"
#include "image/readWriteInterface.h"

namespace vindaru::cli {

namespace {

// What the File Information box shows, whatever the image kind.
struct FileInformation {
    std::string formatVersion;
    std::string sectorsPerTrack;
    std::string heads;
    std::string cylinders;
    std::uint64_t sizeMb = 0;
    std::string createType; // VMDK only
};

std::optional<FileInformation> readFileInformation(const ImageArgs& image) {
    switch (image.choices.kind) {
    case ImageKind::Vmdk: {
        auto info = readVmdkFileInfo(image.path);
        if (!info || !info->fileOpened) return std::nullopt;
        return FileInformation{info->formatVersion,     info->geometrySectors, info->geometryHeads,
                               info->geometryCylinders, info->sizeMb,          info->createType};
    }
    case ImageKind::Vhdx:
    case ImageKind::Qcow2:
        return std::nullopt; // their structure lines say more than a geometry would
    case ImageKind::Vhd:
    case ImageKind::Vdi: {
        auto info = image.choices.kind == ImageKind::Vhd ? readVhdFileInfo(image.path)
                                                         : readVdiFileInfo(image.path);
        if (!info) return std::nullopt;
        return FileInformation{info->formatVersion, info->sectorsPerTrack, info->heads,
                               info->cylinders,     info->sizeMB,          {}};
    }
    }
    return std::nullopt;
}

const char* kindName(ImageKind kind) {
    switch (kind) {
    case ImageKind::Vmdk:
        return "vmdk";
    case ImageKind::Vhd:
        return "vhd";
    case ImageKind::Vdi:
        return "vdi";
    case ImageKind::Vhdx:
        return "vhdx";
    case ImageKind::Qcow2:
        return "qcow2";
    }
    return "vmdk";
}


// The version text keeps the descriptor's line breaks; a terminal line shows it without them.
std::string oneLine(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' '))
        text.pop_back();
    for (auto& c : text)
        if (c == '\n' || c == '\r') c = ' ';
    return text;
}

// What the opened disk is made of, beyond the File Information box.
struct Container {
    std::string kind;                 // "vhd (differencing)", "raw", ...
    std::vector<std::string> structure;
    std::vector<std::string> chain;   // the chain's layers, top first; empty for a single file
    std::string note;                 // read without a missing parent
    std::vector<ByteRange> damage;
    std::vector<std::string> structural; // structural damage, one phrase each
    bool dataUnchecked = false;          // compressed grains not inflated (check does it)
};

std::string kindText(const ImageArgs& image, const std::optional<FileInformation>& info,
                     const readWriteInterface& reader) {
    // A file without any signature is read through the flat extent reader, but is a raw disk.
    if (image.rawDisk) return "raw";
    if (std::string own = reader.kindText(); own != "raw") return own;
    std::string text = kindName(image.choices.kind);
    if (info && !info->createType.empty()) text += " (" + info->createType + ")";
    return text;
}

void printText(const ImageArgs& image, const std::optional<FileInformation>& info,
               std::uint64_t sectors, const Container& container) {
    std::ostringstream out;
    out << "Image: " << image.path << "\n";
    out << "Kind: " << container.kind << "\n";
    for (const std::string& line : container.structure) out << "  " << line << "\n";
    if (!container.chain.empty()) {
        out << "Chain (* the layer read, 0 the base):\n";
        for (const std::string& line : container.chain) out << "  " << line << "\n";
    }
    if (!container.note.empty()) out << "Note: " << container.note << "\n";
    out << "Damage: " << damageSummary(container.damage, container.structural, container.dataUnchecked) << "\n";
    if (info) {
        out << "File Format Version: " << oneLine(info->formatVersion) << "\n"
            << "Sector Per Track: " << info->sectorsPerTrack << "\n"
            << "Head: " << info->heads << "\n"
            << "Cylindar: " << info->cylinders << "\n"
            << "Size of HDD: " << info->sizeMb << " MB\n";
    } else {
        out << "File Information: not available for this file\n";
    }
    out << "Disk size: " << sectors << " sectors (" << sectors * kSectorSize << " bytes, "
        << sectors * kSectorSize / (1u << 20) << " MB)\n";
    std::cout << out.str();
}

void printJson(const ImageArgs& image, const std::optional<FileInformation>& info,
               std::uint64_t sectors, const Container& container) {
    std::ostringstream out;
    std::uint64_t unreadable = 0;
    for (const ByteRange& r : container.damage) unreadable += r.length;
    out << "{\n  \"path\": " << jsonString(image.path)
        << ",\n  \"kind\": " << jsonString(image.rawDisk ? "raw" : kindName(image.choices.kind))
        << ",\n  \"container\": " << jsonString(container.kind) << ",\n  \"chain\": [";
    for (std::size_t i = 0; i < container.chain.size(); ++i)
        out << (i ? ", " : "") << jsonString(container.chain[i]);
    out << "],\n  \"unreadableRanges\": " << container.damage.size()
        << ",\n  \"unreadableBytes\": " << unreadable << ",\n  \"structuralDamage\": [";
    for (std::size_t i = 0; i < container.structural.size(); ++i)
        out << (i ? ", " : "") << jsonString(container.structural[i]);
    out << "],\n  \"dataVerified\": " << (container.dataUnchecked ? "false" : "true") << ",\n  \"fileInformation\": ";
    if (info) {
        // The descriptor's line break is no part of the version.
        out << "{\n    \"formatVersion\": " << jsonString(oneLine(info->formatVersion))
            << ",\n    \"sectorsPerTrack\": " << jsonString(info->sectorsPerTrack)
            << ",\n    \"heads\": " << jsonString(info->heads)
            << ",\n    \"cylinders\": " << jsonString(info->cylinders)
            << ",\n    \"sizeMb\": " << info->sizeMb;
        if (!info->createType.empty())
            out << ",\n    \"createType\": " << jsonString(info->createType);
        out << "\n  }";
    } else {
        out << "null";
    }
    out << ",\n  \"diskSectors\": " << sectors << ",\n  \"diskBytes\": " << sectors * kSectorSize
        << "\n}\n";
    std::cout << out.str();
}

int runInfo(const std::vector<std::string>& args) {
    ArgParser parser(std::string("vindaru-cli info IMAGE [--json] ") + kImageOptionsUsage);
    ImageOptions imageOptions(parser);
    bool json = false;
    parser.flag("--json", json);
    ImageArgs image;
    if (!imageOptions.parse(args, image)) return parser.exitCode();

    CliSession cli;
    Session& session = cli.session;
    if (!openSessionReader(session, image)) return kExitImage;
    const std::uint64_t sectors = session.diskSectorCount;
    const auto info = readFileInformation(image);
    const readWriteInterface& reader = *session.sessionReader;
    Container container;
    container.kind = kindText(image, info, reader);
    container.structure = reader.structureLines();
    if (session.chainLines.size() > 1) container.chain = session.chainLines;
    container.note = session.chainNote;
    // The maps alone: inflating every compressed grain is check's work, and the summary says so.
    container.damage = chainDamage(reader);
    container.structural = chainStructuralDamage(reader);
    container.dataUnchecked = chainHasUncheckedData(reader);
    const bool readable = firstSectorReadable(session, image);
    session.clearReader();

    if (json)
        printJson(image, info, sectors, container);
    else
        printText(image, info, sectors, container);
    return readable ? kExitOk : kExitImage;
}

const CommandRegistrar registrar(CliCommand{
    "info", "info IMAGE [--json]   disk geometry and size of an image (File Information)",
    runInfo});

} // namespace

} // namespace vindaru::cli
