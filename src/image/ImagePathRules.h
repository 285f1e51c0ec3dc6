// Small rules about image paths shared by the readers and the image page.
#pragma once

#include <string>
#include <string_view>

namespace vindaru {

// The image page's extension test: a path longer than three characters must end in `ext3`
// (three characters, compared without regard to letter case). "disk.vhdx" fails for "vhd".
bool endsWithImageExtension(const std::string& path, std::string_view ext3);

} // namespace vindaru
