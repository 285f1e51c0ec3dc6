#include "image/ImagePathRules.h"

#include <cctype>

namespace vindaru {

bool endsWithImageExtension(const std::string& path, std::string_view ext3) {
    if (path.size() <= 3) return true;
    const std::string_view tail = std::string_view(path).substr(path.size() - 3);
    for (std::size_t i = 0; i < 3 && i < ext3.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(tail[i])) !=
            std::tolower(static_cast<unsigned char>(ext3[i])))
            return false;
    }
    return true;
}

} // namespace vindaru
