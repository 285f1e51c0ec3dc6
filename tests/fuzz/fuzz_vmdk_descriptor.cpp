// libFuzzer target: the input is descriptor text. Every descriptor parser reads it, and a split
// reader opens it as the descriptor of a set whose files are held in memory: a flat extent and a
// small sparse extent (header only: every grain a hole); a delta's parent link is taken from it.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "common/Session.h"
#include "image/FileReadSeekVmdkSplit.h"
#include "image/ReadOnlyFile.h"
#include "image/VmdkDescriptor.h"
#include "image/VmdkDiskDescriptor.h"

namespace {

const std::vector<std::uint8_t>& flatExtent() {
    static const std::vector<std::uint8_t> bytes = [] {
        std::vector<std::uint8_t> flat(8192);
        for (std::size_t i = 0; i < flat.size(); ++i) flat[i] = static_cast<std::uint8_t>(i * 7);
        return flat;
    }();
    return bytes;
}

const std::vector<std::uint8_t>& sparseExtent() {
    static const std::vector<std::uint8_t> bytes = [] {
        std::vector<std::uint8_t> sparse(4096);
        const std::uint8_t header[] = {'K', 'D', 'M', 'V', 1, 0, 0, 0, 3, 0, 0, 0,
                                       0x40, 0, 0, 0, 0, 0, 0, 0, 8, 0, 0, 0, 0, 0, 0, 0};
        std::copy(std::begin(header), std::end(header), sparse.begin());
        sparse[44] = 0x10; // 16 entries per grain table
        sparse[48] = 2;    // grain directory at sector 2
        return sparse;
    }();
    return bytes;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    vindaru::parseVmdkDescriptor(text.substr(0, text.find('\0')));
    vindaru::parseVmdkDescriptorFile(text);
    vindaru::parseVmdkDiskDescriptor(text);

    vindaru::MemoryFiles files;
    files.add("set/d.vmdk", {data, size});
    files.add("set/d-f001.vmdk", flatExtent());
    files.add("set/d-s001.vmdk", sparseExtent());
    vindaru::Session session;
    vindaru::FileReadSeekVmdkSplit reader(session);
    reader.descriptorMode = true;
    reader.memoryFiles = &files;
    if (!reader.open("set/d.vmdk")) return 0;
    std::vector<std::uint8_t> buffer(16 * 512);
    const std::uint64_t end = reader.capacity();
    vindaru::ReadReport report;
    for (std::uint64_t at : {std::uint64_t{0}, std::uint64_t{7 * 512 + 3}, std::uint64_t{8192}, end / 2,
                             end - std::min<std::uint64_t>(end, 4096), end}) {
        reader.readAt(at, buffer, &report);
    }
    (void)reader.parentLink();
    (void)reader.structureLines();
    return 0;
}
