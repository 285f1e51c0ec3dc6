// vindaru-cli: each command lives in its own Cmd*.cpp and registers itself here.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

namespace vindaru::cli {

// Exit statuses shared by every command.
inline constexpr int kExitOk = 0;
inline constexpr int kExitUsage = 1;
inline constexpr int kExitImage = 2; // the image cannot be opened or read
// A volume or path that names nothing, or a volume that cannot be scanned.
inline constexpr int kExitNotFound = 3;
// What was written or checked holds ranges of the disk that could not be read (as zeros).
inline constexpr int kExitIncomplete = 4;

struct CliCommand {
    std::string name;
    std::string usage; // one line, shown by `vindaru-cli help`
    std::function<int(const std::vector<std::string>& args)> run; // args after the command name
};

std::map<std::string, CliCommand>& commandRegistry();

struct CommandRegistrar {
    explicit CommandRegistrar(CliCommand command) {
        auto name = command.name;
        commandRegistry().emplace(std::move(name), std::move(command));
    }
};

} // namespace vindaru::cli
