// How cat and export tell of the ranges of the disk they could not read: written as zeros, listed
// on stderr, and a non-zero exit status unless the user said damage is acceptable.
#pragma once

#include "image/ByteSource.h"

namespace vindaru::cli {

// Lists the unreadable ranges of `damage` on stderr (the first few, then a count); returns
// kExitIncomplete when there are any and `allowDamage` is not set, else kExitOk.
int reportDamage(const ReadReport& damage, bool allowDamage);

} // namespace vindaru::cli
