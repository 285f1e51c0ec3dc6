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

void printText(const ImageArgs& image, const std::optional<FileInformation>& info,
               std::uint64_t sectors) {
    std::ostringstream out;
    out << "Image: " << image.path << "\n";
    out << "Kind: " << kindName(image.choices.kind);
    if (info && !info->createType.empty()) out << " (" << info->createType << ")";
    out << "\n";
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
               std::uint64_t sectors) {
    std::ostringstream out;
    out << "{\n  \"path\": " << jsonString(image.path)
        << ",\n  \"kind\": " << jsonString(kindName(image.choices.kind))
        << ",\n  \"fileInformation\": ";
    if (info) {
        out << "{\n    \"formatVersion\": " << jsonString(info->formatVersion)
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
    session.clearReader();

    const auto info = readFileInformation(image);
    if (json)
        printJson(image, info, sectors);
    else
        printText(image, info, sectors);
    return kExitOk;
}

const CommandRegistrar registrar(CliCommand{
    "info", "info IMAGE [--json]   disk geometry and size of an image (File Information)",
    runInfo});

} // namespace

} // namespace vindaru::cli
