#include <cstdio>
#include <iostream>

#include "cli/CliCommand.h"

namespace vindaru::cli {

std::map<std::string, CliCommand>& commandRegistry() {
    static std::map<std::string, CliCommand> registry;
    return registry;
}

static void printUsage(std::ostream& out) {
    out << "usage: vindaru-cli COMMAND [OPTIONS]\n\ncommands:\n";
    for (const auto& [name, command] : commandRegistry())
        out << "  " << command.usage << "\n";
    out << "\nimage options (every command that reads an image):\n"
           "  --kind vmdk|vhd|vdi   image kind (default: by content, then by extension)\n"
           "  --split               IMAGE is one numbered extent of a split set\n"
           "  --descriptor          IMAGE is a descriptor file naming its extents\n"
           "  --extent SPARSE|FLAT  extent type of the file(s) (default SPARSE)\n"
           "  --disk-mb N           disk size in MB (the wizard's \"Size of HDD\")\n";
}

} // namespace vindaru::cli

int main(int argc, char** argv) {
    using namespace vindaru::cli;
    if (argc < 2) {
        printUsage(std::cerr);
        return kExitUsage;
    }
    const std::string name = argv[1];
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
    return it->second.run(std::vector<std::string>(argv + 2, argv + argc));
}
