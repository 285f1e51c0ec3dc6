// Small ext2 volumes built in memory for the edge cases: one or more groups, a chosen block and
// inode size, inodes and directory blocks written field by field, raw bytes poked where a test
// needs damage.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace vindaru::test {

struct Ext2BuildOptions {
    std::uint32_t blockSize = 1024;
    std::uint32_t blocks = 512;
    std::uint32_t blocksPerGroup = 8192;
    std::uint32_t inodesPerGroup = 32;
    std::uint32_t inodeSize = 128;
    bool fileTypes = true;
    bool is64Bit = false; // 64-byte descriptors
};

struct Ext2Dirent {
    std::uint32_t inode = 0;
    std::string name;
    std::uint8_t type = 1;    // 1 regular, 2 directory
    std::uint16_t recLen = 0; // 0: just long enough (the last entry reaches the block's end)
};

class Ext2ImageBuilder {
public:
    explicit Ext2ImageBuilder(Ext2BuildOptions options = {});

    const Ext2BuildOptions& options() const { return options_; }
    std::uint32_t groupCount() const { return groupCount_; }
    std::span<std::uint8_t> superblock();
    std::span<std::uint8_t> descriptor(std::uint32_t group);
    std::span<std::uint8_t> block(std::uint64_t number);
    std::span<std::uint8_t> inode(std::uint32_t number);
    std::uint32_t allocBlocks(std::uint32_t count = 1);
    // Group 0's block bitmap; markUsed sets a block's bit in it.
    std::uint32_t blockBitmap() const { return firstTable_ - 2; }
    void markUsed(std::uint32_t block);

    // mode, size, links 1, default times; pointers untouched.
    void setInode(std::uint32_t number, std::uint16_t mode, std::uint64_t size, std::uint32_t flags = 0);
    void setPointer(std::uint32_t number, std::uint32_t index, std::uint32_t block);
    void setTimes(std::uint32_t number, std::uint32_t atime, std::uint32_t ctime, std::uint32_t mtime);
    // A regular file in direct blocks (up to 12).
    void addFile(std::uint32_t number, const std::string& content, std::uint16_t mode = 0x81A4);
    // A directory of one block; "." and ".." are not added by themselves.
    std::uint32_t addDirectory(std::uint32_t number, const std::vector<Ext2Dirent>& entries);
    void writeDirents(std::span<std::uint8_t> block, const std::vector<Ext2Dirent>& entries) const;

    std::vector<std::uint8_t> bytes() const { return image_; }

private:
    Ext2BuildOptions options_;
    std::uint32_t groupCount_ = 0;
    std::uint32_t firstDataBlock_ = 0;
    std::uint32_t descriptorBlock_ = 0;
    std::uint32_t firstTable_ = 0;
    std::uint32_t tableBlocks_ = 0;
    std::uint32_t nextFree_ = 0;
    std::vector<std::uint8_t> image_;
};

void put16(std::span<std::uint8_t> b, std::size_t at, std::uint16_t v);
void put32(std::span<std::uint8_t> b, std::size_t at, std::uint32_t v);
std::uint32_t le32Of(std::span<const std::uint8_t> b, std::size_t at);

} // namespace vindaru::test
