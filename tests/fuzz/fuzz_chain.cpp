// libFuzzer target: a snapshot chain of two layers held in memory. The input is a little-endian
// u32 length, the child in the sparse form of SparseImage.h in that many bytes, then its parent
// in the same form (tests/fuzz/chain_seed.sh writes such inputs from qemu-img chains). The child
// is opened by its content and its parent link followed (VMDK descriptor links, QCOW2 backing
// files, VHD parent locators, VDI parent ids) to the parent, offered under the names the seeds'
// links use; the chain is then read across its layers and asked for its damage map: as of the
// latest layer with the parent required, then allowed missing, then as of the base layer.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "common/ByteLoader.h"
#include "common/Session.h"
#include "fuzz/NextDataCheck.h"
#include "fuzz/SparseImage.h"
#include "image/ImageChain.h"
#include "image/ReadOnlyFile.h"
#include "image/ReaderFactory.h"

namespace {

void exercise(const vindaru::readWriteInterface& top) {
    std::vector<std::uint8_t> buffer(64 * 1024);
    const std::uint64_t disk = top.size();
    vindaru::ReadReport report;
    for (const std::uint64_t at : {std::uint64_t{0}, std::uint64_t{65536 - 512}, disk / 3, disk / 2,
                                   disk - 512, disk - buffer.size()}) {
        if (at >= disk) continue;
        top.readAt(at, buffer, &report);
        (void)top.isHole(at, buffer.size());
        vindaru::fuzz::checkNextData(top, at);
    }
    (void)vindaru::damageSummary(vindaru::chainDamage(top));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace vindaru;
    const std::span<const std::uint8_t> input(data, size);
    if (size < 4) return 0;
    const std::size_t childBytes = std::min<std::size_t>(le32(input, 0), size - 4);
    // Small layers: the chain's own code is what is tried here, each reader's on its own target.
    constexpr std::uint32_t kMaxLayer = 4u << 20;
    const std::vector<std::uint8_t> child = fuzz::expandSparseImage(input.subspan(4, childBytes), kMaxLayer);
    const std::vector<std::uint8_t> parent = fuzz::expandSparseImage(input.subspan(4 + childBytes), kMaxLayer);
    MemoryFiles files;
    files.add("child.img", child);
    for (const char* name : {"base.vmdk", "base.qcow2", "base.vhd", "base.vdi"}) files.add(name, parent);
    for (int variant = 0; variant < 3; ++variant) {
        Session session;
        std::unique_ptr<readWriteInterface> top = createReaderByContent(session, "child.img", {}, &files);
        if (!top) return 0;
        top->memoryFiles = &files;
        if (!top->open("child.img")) return 0;
        ChainOptions options;
        options.allowMissingParent = variant != 0;
        if (variant == 2) options.layer = 0;
        ImageChain chain(session, options);
        if (chain.follow(top, "child.img")) exercise(*top);
    }
    return 0;
}
