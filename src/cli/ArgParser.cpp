#include "cli/ArgParser.h"

#include <iostream>
#include <limits>

#include "cli/CliCommand.h"
#include "cli/CliSinks.h"

namespace vindaru::cli {

bool parseUnsigned(const std::string& text, std::uint64_t& value) {
    if (text.empty()) return false;
    std::uint64_t result = 0;
    constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        const auto digit = static_cast<std::uint64_t>(c - '0');
        if (result > (kMax - digit) / 10) return false;
        result = result * 10 + digit;
    }
    value = result;
    return true;
}

ArgParser::ArgParser(std::string usage) : usage_(std::move(usage)) {}

ArgParser& ArgParser::flag(const std::string& name, bool& target) {
    options_.push_back(Option{name, Kind::Flag, &target});
    return *this;
}

ArgParser& ArgParser::option(const std::string& name, std::string& target) {
    options_.push_back(Option{name, Kind::Text, nullptr, &target});
    return *this;
}

ArgParser& ArgParser::option(const std::string& name, std::uint64_t& target) {
    options_.push_back(Option{name, Kind::Number, nullptr, nullptr, &target});
    return *this;
}

ArgParser& ArgParser::option(const std::string& name, std::uint64_t& target, bool& given) {
    options_.push_back(Option{name, Kind::Number, nullptr, nullptr, &target, &given});
    return *this;
}

ArgParser& ArgParser::positional(const std::string& name, std::string& target, bool required) {
    positionals_.push_back(Positional{name, &target, required});
    return *this;
}

ArgParser::Option* ArgParser::findOption(const std::string& name) {
    for (auto& option : options_)
        if (option.name == name) return &option;
    return nullptr;
}

bool ArgParser::fail(const std::string& message) {
    usageError(message);
    return false;
}

int ArgParser::usageError(const std::string& message) {
    std::cerr << "vindaru-cli: " << message << "\nusage: " << usage_ << "\n";
    exitCode_ = kExitUsage;
    return kExitUsage;
}

bool ArgParser::applyValue(Option& option, const std::string& value) {
    if (option.kind == Kind::Text) {
        *option.textTarget = value;
    } else if (!parseUnsigned(value, *option.numberTarget)) {
        return fail("option " + option.name + " takes a whole number of at most 20 digits, not '" +
                    value + "'");
    }
    if (option.givenTarget) *option.givenTarget = true;
    return true;
}

bool ArgParser::parse(const std::vector<std::string>& args) {
    std::size_t nextPositional = 0;
    bool optionsEnded = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const bool looksLikeOption = !optionsEnded && arg.size() > 1 && arg[0] == '-';
        if (!looksLikeOption) {
            if (nextPositional >= positionals_.size())
                return fail("unexpected argument '" + arg + "'");
            *positionals_[nextPositional++].target = arg;
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        if (arg == "--verbose" || arg == "-v") {
            setVerbose(true);
            continue;
        }
        if (arg == "-h" || arg == "--help") {
            std::cout << "usage: " << usage_ << "\n";
            exitCode_ = kExitOk;
            return false;
        }
        const auto equals = arg.find('=');
        const std::string name = arg.substr(0, equals);
        Option* option = findOption(name);
        if (!option) return fail("unknown option '" + name + "'");
        if (option->kind == Kind::Flag) {
            if (equals != std::string::npos) return fail("option " + name + " takes no value");
            *option->flagTarget = true;
            continue;
        }
        if (equals != std::string::npos) {
            if (!applyValue(*option, arg.substr(equals + 1))) return false;
            continue;
        }
        if (i + 1 >= args.size()) return fail("option " + name + " needs a value");
        if (!applyValue(*option, args[++i])) return false;
    }
    for (std::size_t p = nextPositional; p < positionals_.size(); ++p)
        if (positionals_[p].required) return fail("missing " + positionals_[p].name);
    return true;
}

} // namespace vindaru::cli
