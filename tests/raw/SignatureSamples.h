// The editor's fields of one signature the carving tests and the editor tests share.
#pragma once

#include "raw/SignatureFields.h"

namespace vindaru::test {

// PNG: its start and end signatures, an approximate size and a category.
inline SignatureFields pngFields() {
    SignatureFields f;
    f.extension = "png";
    f.startSignature = "0x89,0x50,0x4E,0x47";
    f.endSignature = "0x49,0x45,0x4E,0x44,0xAE,0x42,0x60,0x82";
    f.approximateSize = "1048576";
    f.category = "Pictures";
    return f;
}

} // namespace vindaru::test
