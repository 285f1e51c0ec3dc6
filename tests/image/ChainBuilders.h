// Differencing VHD and VDI images built by hand (qemu-img writes neither): a child that holds
// chosen sectors or blocks of the disk and defers the rest to a parent named by id and path.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "image/VhdVdiBuilders.h"

namespace vindaru::test {

using Id16 = std::array<std::uint8_t, 16>;

inline Id16 makeId(std::uint8_t seed) {
    Id16 id{};
    for (std::size_t i = 0; i < id.size(); ++i) id[i] = static_cast<std::uint8_t>(seed * 17 + i);
    return id;
}

// Sets the unique id of a VHD (footer byte 68) in both copies of the footer.
inline void setVhdUniqueId(std::vector<std::uint8_t>& img, const Id16& id) {
    std::copy(id.begin(), id.end(), img.begin() + 68);
    std::copy(id.begin(), id.end(), img.end() - 512 + 68);
}

inline std::vector<std::uint8_t> utf16le(const std::string& ascii) {
    std::vector<std::uint8_t> out;
    for (char c : ascii) {
        out.push_back(static_cast<std::uint8_t>(c));
        out.push_back(0);
    }
    return out;
}

struct VhdDiffPlan {
    std::uint64_t diskSize = 8u << 20;
    std::uint32_t blockSize = 2u << 20;
    Id16 uniqueId = makeId(2);
    Id16 parentId = makeId(1);
    std::string parentName = "base.vhd";
    std::vector<std::pair<std::uint32_t, std::vector<std::uint8_t>>> locators; // platform, data
};

// A differencing VHD (disk type 4) holding `sectors` (sector number → 512 bytes): each block with
// any of them is stored, its bitmap marking exactly those sectors.
inline std::vector<std::uint8_t> buildDiffVhd(const std::map<std::uint64_t, std::vector<std::uint8_t>>& sectors,
                                              const VhdDiffPlan& plan = {}) {
    const std::uint64_t bs = plan.blockSize;
    const std::uint64_t blocks = (plan.diskSize + bs - 1) / bs;
    const std::uint64_t tableBytes = (blocks * 4 + 511) / 512 * 512;
    const std::uint64_t bitmap = vhdBitmapBytes(plan.blockSize);
    std::vector<std::uint8_t> img = vhdFooter(plan.diskSize, 4, 512);
    std::copy(plan.uniqueId.begin(), plan.uniqueId.end(), img.begin() + 68);
    img.resize(1536 + tableBytes, 0);
    std::memcpy(img.data() + 512, "cxsparse", 8);
    putBe(img, 512 + 8, ~0ull, 8);
    putBe(img, 512 + 16, 1536, 8);
    putBe(img, 512 + 24, 0x00010000, 4);
    putBe(img, 512 + 28, blocks, 4);
    putBe(img, 512 + 32, plan.blockSize, 4);
    std::copy(plan.parentId.begin(), plan.parentId.end(), img.begin() + 512 + 40);
    for (std::size_t i = 0; i < plan.parentName.size() && i < 256; ++i)
        putBe(img, 512 + 64 + 2 * i, static_cast<unsigned char>(plan.parentName[i]), 2);
    for (std::uint64_t e = 0; e < blocks; ++e) putBe(img, 1536 + 4 * e, 0xFFFFFFFF, 4);
    for (std::size_t i = 0; i < plan.locators.size() && i < 8; ++i) {
        const auto& [code, data] = plan.locators[i];
        const std::uint64_t at = img.size();
        const std::uint64_t space = (data.size() + 511) / 512 * 512;
        img.resize(at + space, 0);
        std::copy(data.begin(), data.end(), img.begin() + static_cast<std::ptrdiff_t>(at));
        const std::size_t entry = 512 + 576 + 24 * i;
        putBe(img, entry, code, 4);
        putBe(img, entry + 4, space, 4);
        putBe(img, entry + 8, data.size(), 4);
        putBe(img, entry + 16, at, 8);
    }
    std::map<std::uint64_t, std::uint64_t> blockAt;
    for (const auto& [sector, bytes] : sectors) {
        const std::uint64_t block = sector * 512 / bs;
        if (!blockAt.count(block)) {
            blockAt[block] = img.size();
            putBe(img, 1536 + 4 * block, img.size() / 512, 4);
            img.resize(img.size() + bitmap + bs, 0);
        }
        const std::uint64_t inBlock = sector - block * (bs / 512);
        img[blockAt[block] + inBlock / 8] |= static_cast<std::uint8_t>(0x80 >> (inBlock % 8));
        std::copy(bytes.begin(), bytes.end(),
                  img.begin() + static_cast<std::ptrdiff_t>(blockAt[block] + bitmap + inBlock * 512));
    }
    std::vector<std::uint8_t> footer(img.begin(), img.begin() + 512);
    img.insert(img.end(), footer.begin(), footer.end());
    return img;
}

// VDI ids: image (create) uuid at 392, modify at 408, the parent's (link) at 424, the parent's
// modify at 440; image type at 76 (4: differencing).
inline void setVdiIds(std::vector<std::uint8_t>& img, const Id16& self, const Id16* parent) {
    std::copy(self.begin(), self.end(), img.begin() + 392);
    std::copy(self.begin(), self.end(), img.begin() + 408);
    if (parent) {
        putLe(img, 76, 4, 4);
        std::copy(parent->begin(), parent->end(), img.begin() + 424);
        std::copy(parent->begin(), parent->end(), img.begin() + 440);
    }
}

} // namespace vindaru::test
