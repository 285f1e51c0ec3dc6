// How vindaru-cli writes names so that every listing line reads back to exactly one entry.
//
// In a path printed by ls and save (and in TSV and JSON paths), a backslash always starts an escape:
//   \\  a backslash      \t \n \r  tab, line feed, carriage return
//   \xHH  any other control character (00-1F, 7F) or a byte that is not UTF-8
//   \u0080..\u009F  the C1 control characters
// and a path component written `\[NAME]` is one of the program's own placeholder folders
// (`\[ORPHAN_ENTRY]`), never a name on disk. PATH arguments are read back the same way.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "fs/parser/EntryView.h"

namespace vindaru::cli {

std::string escapeName(std::string_view name);
// The same without escaping backslashes: for the search's page texts ("ROOT\\folder\\name"),
// whose separator is the backslash; control characters never reach the terminal raw.
std::string escapeControls(std::string_view text);
std::string escapeText(std::string_view text, bool backslash);
// The inverse of escapeName; a backslash not followed by a known escape stays as it is.
std::string unescapeName(std::string_view text);
// Text for a JSON string: valid UTF-8 kept, every byte that is not becomes U+FFFD.
std::string validUtf8(std::string_view text);

// The component an entry prints as in a path: its escaped name, marked when it is a placeholder.
std::string pathComponent(EntryView& view, EntryRef entry);

// How well a typed PATH component names `entry`: 3 its printed form, 2 its name as it is on
// disk, 1 a placeholder by its bare name (only chosen when nothing ranks higher), 0 not at all.
int componentMatch(EntryView& view, EntryRef entry, const std::string& typed);

// A recoverable share as listings print it: "1", "0.4", "0.3333" (rounded down to four places,
// so only a whole file prints 1); empty when unknown.
std::string recoverableValue(std::optional<double> share);

// "2019-04-16T06:09:08Z"; nullopt for a time outside the years 0..9999.
std::optional<std::string> isoTime(std::int64_t unixSeconds);

} // namespace vindaru::cli
