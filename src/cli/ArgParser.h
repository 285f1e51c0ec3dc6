// A small command-line parser every vindaru-cli command uses for its own flags: `--name`,
// `--name VALUE` / `--name=VALUE`, positional arguments, `--` to end the options, `-h`/`--help`,
// and `-v`/`--verbose` (every command's status texts and messages on stderr).
// Errors print the command's usage to stderr; the command then returns exitCode().
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vindaru::cli {

class ArgParser {
  public:
    // `usage` is the command's one-line synopsis, e.g. "vindaru-cli cat IMAGE [--offset BYTES]".
    explicit ArgParser(std::string usage);

    ArgParser& flag(const std::string& name, bool& target);
    ArgParser& option(const std::string& name, std::string& target);
    // A whole decimal number (no sign); out-of-range or malformed text is a usage error.
    ArgParser& option(const std::string& name, std::uint64_t& target);
    // As above, and remembers that the option was given.
    ArgParser& option(const std::string& name, std::uint64_t& target, bool& given);
    // Positionals are taken in the order they are declared.
    ArgParser& positional(const std::string& name, std::string& target, bool required = true);

    // True: go on with the command. False: help was shown or an error printed; return exitCode().
    bool parse(const std::vector<std::string>& args);
    int exitCode() const { return exitCode_; }

    // Prints "vindaru-cli: MESSAGE" and the usage to stderr; returns the usage exit status.
    int usageError(const std::string& message);
    const std::string& usage() const { return usage_; }

  private:
    enum class Kind { Flag, Text, Number };
    struct Option {
        std::string name;
        Kind kind;
        bool* flagTarget = nullptr;
        std::string* textTarget = nullptr;
        std::uint64_t* numberTarget = nullptr;
        bool* givenTarget = nullptr;
    };
    struct Positional {
        std::string name;
        std::string* target;
        bool required;
    };

    Option* findOption(const std::string& name);
    bool applyValue(Option& option, const std::string& value);
    bool fail(const std::string& message);

    std::string usage_;
    std::vector<Option> options_;
    std::vector<Positional> positionals_;
    int exitCode_ = 0;
};

// Parses a whole unsigned decimal number; false on empty text, other characters or overflow.
bool parseUnsigned(const std::string& text, std::uint64_t& value);

} // namespace vindaru::cli
