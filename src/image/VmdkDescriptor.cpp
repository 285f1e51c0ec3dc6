#include "image/VmdkDescriptor.h"

namespace vindaru {

VmdkDescriptor parseVmdkDescriptor(std::string_view) { return {}; }
VmdkDescriptorFile parseVmdkDescriptorFile(std::string_view) { return {}; }
std::optional<VmdkFileInfo> readVmdkFileInfo(const std::string&) { return std::nullopt; }

} // namespace vindaru
