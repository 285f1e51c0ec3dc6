// How cat and export tell of the ranges of the disk they could not read: written as zeros, listed
// on stderr, and a non-zero exit status unless the user said damage is acceptable.
#pragma once

#include "image/ByteSource.h"
#include <string>
#include <vector>

namespace vindaru::cli {

// Lists the unreadable ranges of `damage` on stderr (the first few, then a count); returns
// kExitIncomplete when there are any and `allowDamage` is not set, else kExitOk.
// First, when the container's structure is damaged though its bytes still read (`structural`:
// chainStructuralDamage, a lost copy of a table or footer), says so and that `check` tells more;
// that alone leaves the status kExitOk.
int reportDamage(const ReadReport& damage, const std::vector<std::string>& structural, bool allowDamage);

} // namespace vindaru::cli
