#include "fs/ext2/Ext2ImageBuilder.h"

#include <algorithm>
#include <stdexcept>

namespace vindaru::test {

void put16(std::span<std::uint8_t> b, std::size_t at, std::uint16_t v) {
    b[at] = static_cast<std::uint8_t>(v);
    b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}

void put32(std::span<std::uint8_t> b, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

std::uint32_t le32Of(std::span<const std::uint8_t> b, std::size_t at) {
    return std::uint32_t{b[at]} | std::uint32_t{b[at + 1]} << 8 | std::uint32_t{b[at + 2]} << 16 |
           std::uint32_t{b[at + 3]} << 24;
}

Ext2ImageBuilder::Ext2ImageBuilder(Ext2BuildOptions o) : options_(o) {
    const std::uint32_t bs = o.blockSize;
    firstDataBlock_ = bs == 1024 ? 1 : 0;
    groupCount_ = (o.blocks - firstDataBlock_ + o.blocksPerGroup - 1) / o.blocksPerGroup;
    image_.assign(std::size_t{o.blocks} * bs, 0);
    descriptorBlock_ = 1024 / bs + 1;
    const std::uint32_t descSize = o.is64Bit ? 64 : 32;
    const std::uint32_t descBlocks = (groupCount_ * descSize + bs - 1) / bs;
    tableBlocks_ = (o.inodesPerGroup * o.inodeSize + bs - 1) / bs;
    firstTable_ = descriptorBlock_ + descBlocks + 2; // after two bitmap blocks
    nextFree_ = firstTable_ + groupCount_ * tableBlocks_;

    auto sb = superblock();
    put32(sb, 0x00, groupCount_ * o.inodesPerGroup);
    put32(sb, 0x04, o.blocks);
    put32(sb, 0x14, firstDataBlock_);
    std::uint32_t log = 0;
    while ((1024u << log) < bs) ++log;
    put32(sb, 0x18, log);
    put32(sb, 0x20, o.blocksPerGroup);
    put32(sb, 0x28, o.inodesPerGroup);
    put16(sb, 0x38, 0xEF53);
    put32(sb, 0x4C, 1);
    put32(sb, 0x54, 11);
    put16(sb, 0x58, static_cast<std::uint16_t>(o.inodeSize));
    put32(sb, 0x60, (o.fileTypes ? 0x2u : 0u) | (o.is64Bit ? 0x80u : 0u));
    if (o.is64Bit) put16(sb, 0xFE, 64);
    for (std::uint32_t g = 0; g < groupCount_; ++g)
        put32(descriptor(g), 0x08, firstTable_ + g * tableBlocks_);
    put32(descriptor(0), 0x00, blockBitmap()); // every block free until a test marks it

}

std::span<std::uint8_t> Ext2ImageBuilder::superblock() { return std::span(image_).subspan(1024, 1024); }

std::span<std::uint8_t> Ext2ImageBuilder::descriptor(std::uint32_t group) {
    const std::uint32_t descSize = options_.is64Bit ? 64 : 32;
    return std::span(image_).subspan(std::size_t{descriptorBlock_} * options_.blockSize + group * descSize, descSize);
}

std::span<std::uint8_t> Ext2ImageBuilder::block(std::uint64_t number) {
    return std::span(image_).subspan(static_cast<std::size_t>(number * options_.blockSize), options_.blockSize);
}

std::span<std::uint8_t> Ext2ImageBuilder::inode(std::uint32_t number) {
    const std::uint32_t g = (number - 1) / options_.inodesPerGroup;
    const std::uint32_t i = (number - 1) % options_.inodesPerGroup;
    const std::size_t at = std::size_t{firstTable_ + g * tableBlocks_} * options_.blockSize + std::size_t{i} * options_.inodeSize;
    return std::span(image_).subspan(at, options_.inodeSize);
}

void Ext2ImageBuilder::markUsed(std::uint32_t number) {
    const std::uint32_t bit = number - firstDataBlock_;
    block(blockBitmap())[bit / 8] |= static_cast<std::uint8_t>(1u << (bit % 8));
}

std::uint32_t Ext2ImageBuilder::allocBlocks(std::uint32_t count) {
    if (nextFree_ + count > options_.blocks) throw std::runtime_error("test volume full");
    const std::uint32_t first = nextFree_;
    nextFree_ += count;
    return first;
}

void Ext2ImageBuilder::setInode(std::uint32_t number, std::uint16_t mode, std::uint64_t size, std::uint32_t flags) {
    auto in = inode(number);
    put16(in, 0x00, mode);
    put32(in, 0x04, static_cast<std::uint32_t>(size));
    put32(in, 0x6C, static_cast<std::uint32_t>(size >> 32));
    put16(in, 0x1A, 1);
    put32(in, 0x20, flags);
    setTimes(number, 1600000000, 1600000100, 1600000200);
}

void Ext2ImageBuilder::setPointer(std::uint32_t number, std::uint32_t index, std::uint32_t value) {
    put32(inode(number), 0x28 + index * 4, value);
}

void Ext2ImageBuilder::setTimes(std::uint32_t number, std::uint32_t atime, std::uint32_t ctime, std::uint32_t mtime) {
    auto in = inode(number);
    put32(in, 0x08, atime);
    put32(in, 0x0C, ctime);
    put32(in, 0x10, mtime);
}

void Ext2ImageBuilder::addFile(std::uint32_t number, const std::string& content, std::uint16_t mode) {
    const std::uint32_t bs = options_.blockSize;
    const std::uint32_t blocks = static_cast<std::uint32_t>((content.size() + bs - 1) / bs);
    setInode(number, mode, content.size());
    const std::uint32_t first = blocks ? allocBlocks(blocks) : 0;
    for (std::uint32_t b = 0; b < blocks; ++b) {
        setPointer(number, b, first + b);
        const std::size_t at = std::size_t{b} * bs;
        const std::size_t n = std::min<std::size_t>(bs, content.size() - at);
        std::copy_n(content.begin() + static_cast<std::ptrdiff_t>(at), n, block(first + b).begin());
    }
}

std::uint32_t Ext2ImageBuilder::addDirectory(std::uint32_t number, const std::vector<Ext2Dirent>& entries) {
    const std::uint32_t b = allocBlocks();
    setInode(number, 0x41ED, options_.blockSize);
    setPointer(number, 0, b);
    writeDirents(block(b), entries);
    return b;
}

void Ext2ImageBuilder::writeDirents(std::span<std::uint8_t> out, const std::vector<Ext2Dirent>& entries) const {
    std::size_t at = 0;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const Ext2Dirent& e = entries[i];
        const std::size_t least = (8 + e.name.size() + 3) & ~std::size_t{3};
        std::size_t recLen = e.recLen ? e.recLen : least;
        if (!e.recLen && i + 1 == entries.size()) recLen = out.size() - at;
        put32(out, at, e.inode);
        put16(out, at + 4, static_cast<std::uint16_t>(recLen));
        if (options_.fileTypes) {
            out[at + 6] = static_cast<std::uint8_t>(e.name.size());
            out[at + 7] = e.type;
        } else {
            put16(out, at + 6, static_cast<std::uint16_t>(e.name.size()));
        }
        std::copy(e.name.begin(), e.name.end(), out.begin() + static_cast<std::ptrdiff_t>(at + 8));
        at += recLen;
    }
}

} // namespace vindaru::test
