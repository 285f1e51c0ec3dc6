// Every input a fuzzer ever broke the VHD or VDI reader with, replayed through the same calls.
#include <gtest/gtest.h>

#include "image/FileReadSeekVHD.h"
#include "image/FileReadSeekVdi.h"
#include "support/TestSupport.h"

using namespace vindaru;
using namespace vindaru::test;

namespace {

template <typename Reader> void replay(const std::string& kind, const std::string& extension) {
    const fs::path folder = fs::path(VINDARU_SOURCE_DIR) / "tests/fuzz/regressions" / kind;
    ASSERT_TRUE(fs::is_directory(folder)) << folder;
    ScratchDir dir;
    for (const auto& entry : fs::directory_iterator(folder)) {
        const fs::path copy = dir / (entry.path().filename().string() + extension);
        fs::copy_file(entry.path(), copy);
        Session session;
        Reader reader(session);
        if (!reader.open(copy.string())) continue;
        std::vector<std::uint8_t> buffer(3 * 4096);
        const std::uint64_t disk = session.diskSectorCount * 512;
        for (std::uint64_t at :
             {std::uint64_t{0}, disk / 2, disk - 512, ~std::uint64_t{0} - 1000}) {
            reader.readAt(at, buffer);
            reader.seek(static_cast<std::int64_t>(at), 0);
            reader.read(buffer.data(), 1024 + 17);
            reader.read(buffer.data(), buffer.size());
        }
    }
}

} // namespace

TEST(VhdFuzzRegressions, ReplayWithoutFault) {
    replay<FileReadSeekVHD>("vhd", ".vhd");
}
TEST(VdiFuzzRegressions, ReplayWithoutFault) {
    replay<FileReadSeekVdi>("vdi", ".vdi");
}
