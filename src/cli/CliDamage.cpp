#include "cli/CliDamage.h"

#include <iostream>
#include <sstream>

#include "cli/CliCommand.h"
#include "common/DisplayFormat.h"

namespace vindaru::cli {

namespace {
// Past this many lines the rest of the ranges are only counted.
constexpr std::size_t kMaxListedRanges = 20;
} // namespace

int reportDamage(const ReadReport& damage, const std::vector<std::string>& structural, bool allowDamage) {
    if (!structural.empty()) {
        std::string phrases;
        for (const std::string& phrase : structural) phrases += (phrases.empty() ? "" : "; ") + phrase;
        std::cerr << "vindaru-cli: the image's structure is damaged (" << phrases
                  << "); its bytes were read from what is left: `vindaru-cli check` tells more\n";
    }
    const std::vector<ByteRange> ranges = damage.unreadableRanges();
    if (ranges.empty()) return kExitOk;
    std::ostringstream out;
    out << "vindaru-cli: " << ranges.size() << (ranges.size() == 1 ? " range" : " ranges")
        << " of the disk could not be read (" << formatSizeText(damage.unreadableBytes())
        << "); written as zeros:\n";
    for (std::size_t i = 0; i < ranges.size() && i < kMaxListedRanges; ++i)
        out << "  bytes " << ranges[i].offset << " to " << ranges[i].end() - 1 << " ("
            << formatSizeText(ranges[i].length) << "): " << damageText(ranges[i].reason) << "\n";
    if (ranges.size() > kMaxListedRanges)
        out << "  ... and " << ranges.size() - kMaxListedRanges << " more\n";
    std::cerr << out.str();
    return allowDamage ? kExitOk : kExitIncomplete;
}

} // namespace vindaru::cli
