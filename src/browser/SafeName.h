// Names read from a disk become names in the output folder: whatever a volume holds, the saved
// name is one plain component that the host accepts and that cannot climb out of its folder.
#pragma once

#include <set>
#include <string>
#include <string_view>

namespace vindaru {

// The longest name component Linux file systems take, in bytes.
inline constexpr std::size_t kMaxHostNameBytes = 255;

// Leading and trailing white space removed (the saving rule for NTFS names).
std::string trimBlanks(std::string_view text);

// "/", NUL and control characters become "_", "." and ".." become "_." and "_..", an empty
// name becomes "_", and a name longer than the host takes is cut at a character boundary
// (keeping its extension).
std::string safeHostName(std::string_view name);

// Gives each name saved into one folder during one save a distinct spelling, so that a deleted
// entry never overwrites a live one of the same name saved a moment before: the second
// "a.txt" becomes "a (2).txt".
class SavedNameSet {
public:
    std::string claim(const std::string& safeName);

private:
    std::set<std::string> used_;
};

} // namespace vindaru
