#include <cstdio>
#include <iostream>

#include "cli/CliCommand.h"
#include "cli/CliSinks.h"

#ifndef VINDARU_VERSION
#define VINDARU_VERSION "unknown"
#endif

namespace vindaru::cli {

std::map<std::string, CliCommand>& commandRegistry() {
    static std::map<std::string, CliCommand> registry;
    return registry;
}

static void printUsage(std::ostream& out) {
    out << "usage: vindaru-cli COMMAND [OPTIONS] [--verbose]\n"
           "       vindaru-cli --version\n\ncommands:\n";
    for (const auto& [name, command] : commandRegistry())
        out << "  " << command.usage << "\n";
    out << "\nVOLUME: --volume N (a row of `volumes`; --gpt for a GUID partition table), or\n"
           "  --start SECTOR --type NTFS|FAT16|FAT32|FAT64|EXTX|HFS+|RAW [--size-mb M]\n"
           "\nimage options (every command that reads an image):\n"
           "  --kind vmdk|vhd|vdi|vhdx|qcow2   image kind (default: by content, then by extension)\n"
           "  --split               IMAGE is one numbered extent of a split set\n"
           "  --descriptor          IMAGE is a descriptor file naming its extents\n"
           "  --extent SPARSE|FLAT  extent type of the file(s) (default SPARSE)\n"
           "  --disk-mb N           disk size in MB (the wizard's \"Size of HDD\")\n"
           "  --layer N             a snapshot chain read as of layer N (0 the base; default the latest)\n"
           "  --parent FILE         the parent of a differencing image, where it is not found by itself\n"
           "  --allow-missing-parent  read a child whose parent is missing, its unheld ranges unreadable\n"
           "  --ignore-log          VHDX: read without a log that cannot be replayed\n"
           "  --snapshot ID         QCOW2: read as of the internal snapshot with this id or name\n"
           "\n-v, --verbose (anywhere): the status texts and every message on stderr; without it\n"
           "only errors and warnings, and the held-back messages when a command fails.\n";
}

} // namespace vindaru::cli

int main(int argc, char** argv) {
    using namespace vindaru::cli;
    int first = 1;
    for (; first < argc; ++first) {
        const std::string arg = argv[first];
        if (arg == "--verbose" || arg == "-v")
            setVerbose(true);
        else
            break;
    }
    if (first >= argc) {
        printUsage(std::cerr);
        return kExitUsage;
    }
    const std::string name = argv[first];
    if (name == "--version" || name == "-V") {
        std::cout << "vindaru-cli " VINDARU_VERSION "\n";
        return kExitOk;
    }
    if (name == "help" || name == "--help" || name == "-h") {
        printUsage(std::cout);
        return kExitOk;
    }
    auto it = commandRegistry().find(name);
    if (it == commandRegistry().end()) {
        std::cerr << "vindaru-cli: unknown command '" << name << "'\n";
        printUsage(std::cerr);
        return kExitUsage;
    }
    const int rc = it->second.run(std::vector<std::string>(argv + first + 1, argv + argc));
    std::fflush(stdout);
    if (rc != kExitOk) printHeldMessages();
    return rc;
}
