// libFuzzer target: the input is a VMDK extent file (sparse header, descriptor, tables, grains),
// opened as a sparse and as a flat extent, then read by cursor and by position.
#include <cstddef>
#include <cstdint>
#include <string>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

#include "common/ByteLoader.h"
#include "common/Session.h"
#include "image/FileReadSeekVmdk.h"

namespace {

// The input as a file the reader can open by name.
class MemoryFile {
public:
    MemoryFile(const std::uint8_t* data, std::size_t size) : fd_(::memfd_create("vmdk", MFD_CLOEXEC)) {
        std::size_t done = 0;
        while (fd_ >= 0 && done < size) {
            const ssize_t n = ::write(fd_, data + done, size - done);
            if (n <= 0) break;
            done += static_cast<std::size_t>(n);
        }
    }
    ~MemoryFile() {
        if (fd_ >= 0) ::close(fd_);
    }
    std::string path() const { return "/proc/self/fd/" + std::to_string(fd_); }
    bool ok() const { return fd_ >= 0; }

private:
    int fd_;
};

void exercise(vindaru::FileReadSeekVmdk& reader, const std::uint8_t* data, std::size_t size) {
    std::vector<std::uint8_t> buffer(64 * 512);
    const vindaru::ByteSpan in(data, size);
    for (std::size_t k = 0; k < 6; ++k) {
        // Positions from the input's own bytes, so the fuzzer can steer them into its tables.
        const std::uint64_t raw = vindaru::le64(in, 64 + k * 8);
        const auto position = static_cast<std::int64_t>(raw % (std::uint64_t{1} << 50)) & ~std::int64_t{511};
        const std::size_t length = (vindaru::u8(in, 120 + k) % 65) * 512 + (k == 5 ? 100 : 0);
        const std::size_t n = length < buffer.size() ? length : buffer.size();
        reader.baseOffset = k == 3 ? 512 : 0;
        if (k % 2 == 0) reader.seek(position, 0);
        reader.read(buffer.data(), n);
        reader.readAt(static_cast<std::uint64_t>(position), {buffer.data(), n});
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    MemoryFile file(data, size);
    if (!file.ok()) return 0;
    for (const char* choice : {"SPARSE", "FLAT"}) {
        vindaru::Session session;
        vindaru::FileReadSeekVmdk reader(session);
        reader.extentTypeChoice = choice;
        if (reader.open(file.path())) exercise(reader, data, size);
    }
    vindaru::readVmdkFileInfo(file.path());
    return 0;
}
