#include "image/VhdLayout.h"

#include <cstring>

#include "common/ByteLoader.h"

namespace vindaru::vhd {

bool hasCookie(std::span<const std::uint8_t> bytes, const char* cookie) {
    const std::size_t n = std::strlen(cookie);
    return bytes.size() >= n && std::memcmp(bytes.data(), cookie, n) == 0;
}

Footer readFooter(const ReadOnlyFile& file) {
    Footer first;
    file.readZeroFilled(0, first.bytes, kFooterSize);
    first.hasCookie = hasCookie(first.bytes, "conectix");
    Footer last;
    if (file.length() >= kFooterSize) {
        file.readZeroFilled(file.length() - kFooterSize, last.bytes, kFooterSize);
        last.hasCookie = hasCookie(last.bytes, "conectix");
        last.atEnd = true;
    }
    // A fixed disk has its only footer at the end, and its data (which may hold anything) at the
    // start; so a fixed footer at the end wins over whatever the first sector looks like.
    if (last.hasCookie && be32(last.bytes, kFooterDiskType) == kDiskTypeFixed) return last;
    if (first.hasCookie) return first;
    if (last.hasCookie) return last;
    return first;
}

} // namespace vindaru::vhd
