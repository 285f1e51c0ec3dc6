// libFuzzer target: the input is descriptor text. Both descriptor parsers read it, and a split
// reader opens it as the descriptor of a set in a scratch folder that holds a few extents.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include "common/Session.h"
#include "image/FileReadSeekVmdkSplit.h"
#include "image/VmdkDescriptor.h"

namespace {

void writeBytes(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// A scratch folder with a flat extent and a small sparse extent (header only: every grain a hole).
const std::string& scratch() {
    static const std::string dir = [] {
        char name[] = "/tmp/fuzz-vmdk-descriptor-XXXXXX";
        const char* made = ::mkdtemp(name);
        const std::string d = made ? made : "/tmp";
        std::string flat(8192, '\0');
        for (std::size_t i = 0; i < flat.size(); ++i) flat[i] = static_cast<char>(i * 7);
        writeBytes(d + "/d-f001.vmdk", flat);
        std::string sparse(4096, '\0');
        const unsigned char header[] = {'K', 'D', 'M', 'V', 1, 0, 0, 0, 3, 0, 0, 0,
                                        0x40, 0, 0, 0, 0, 0, 0, 0, 8, 0, 0, 0, 0, 0, 0, 0};
        sparse.replace(0, sizeof header, reinterpret_cast<const char*>(header), sizeof header);
        sparse[44] = 0x10; // 16 entries per grain table
        sparse[48] = 2;    // grain directory at sector 2
        writeBytes(d + "/d-s001.vmdk", sparse);
        return d;
    }();
    return dir;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    vindaru::parseVmdkDescriptor(text.substr(0, text.find('\0')));
    vindaru::parseVmdkDescriptorFile(text);

    const std::string path = scratch() + "/d.vmdk";
    writeBytes(path, std::string(text));
    vindaru::Session session;
    vindaru::FileReadSeekVmdkSplit reader(session);
    reader.descriptorMode = true;
    if (!reader.open(path)) return 0;
    std::vector<std::uint8_t> buffer(16 * 512);
    for (std::int64_t sector : {0, 7, 15, 16, 63, 64, 1000}) {
        reader.seek(sector * 512, 0);
        reader.read(buffer.data(), buffer.size());
        reader.readAt(static_cast<std::uint64_t>(sector) * 512, buffer);
    }
    return 0;
}
