// ext4 inline data: a small file's or folder's bytes kept in the inode itself, the first 60 in
// i_block and the rest in the "system.data" extended attribute of the in-inode attribute area.
#pragma once

#include "common/ByteLoader.h"

namespace vindaru {

// The value of the inode's "system.data" attribute; empty when it has none or the area is damaged.
ByteSpan inlineDataTail(ByteSpan inode);

} // namespace vindaru
