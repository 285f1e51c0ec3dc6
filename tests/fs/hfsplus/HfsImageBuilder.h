// Builds small HFS+ volumes in memory for the tests: a volume header, an extents overflow file,
// a catalog B-tree of leaf nodes (folder, file and thread records) and file contents. Block and
// node sizes, the number of pieces the catalog is cut into and the pieces of each file are
// chosen by the test, so fragmented catalogs and files of more than eight extents can be made.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vindaru::test {

// Big-endian stores into an image under construction (and into images the tests damage).
inline void putBe16(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) {
    b.at(at) = static_cast<std::uint8_t>(v >> 8);
    b.at(at + 1) = static_cast<std::uint8_t>(v);
}
inline void putBe32(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) {
    putBe16(b, at, v >> 16);
    putBe16(b, at + 2, v & 0xFFFF);
}

class HfsImageBuilder {
public:
    HfsImageBuilder(std::uint32_t blockSize = 4096, std::uint32_t catalogNodeSize = 8192,
                    std::uint32_t extentsNodeSize = 4096);

    // Returns the new CNID (CNIDs are given out from 16 up, in call order).
    std::uint32_t addFolder(std::uint32_t parent, const std::u16string& name);
    // `pieces` > 1 cuts the content into that many extents with a free block between them.
    std::uint32_t addFile(std::uint32_t parent, const std::u16string& name,
                          const std::vector<std::uint8_t>& content, unsigned pieces = 1);
    // A record placed with a chosen CNID (for ordering tests).
    void addFileWithId(std::uint32_t cnid, std::uint32_t parent, const std::u16string& name,
                       const std::vector<std::uint8_t>& content);
    void addFolderWithId(std::uint32_t cnid, std::uint32_t parent, const std::u16string& name);
    // A file hard link: an empty data fork and Finder info "hlnk"/"hfs+" naming iNode<number>.
    std::uint32_t addHardLink(std::uint32_t parent, const std::u16string& name, std::uint32_t number);

    // The catalog's nodes are spread over this many extents (more than eight need the
    // extents overflow file).
    unsigned catalogPieces = 1;
    // Free catalog nodes after the used ones.
    unsigned spareCatalogNodes = 2;
    // Records per leaf node at most (small values make many nodes).
    unsigned recordsPerLeaf = 1000;
    std::string signature = "H+";
    std::uint16_t version = 4;
    // Dates every record gets (seconds since 1904).
    std::uint32_t createDate = 3'700'000'000u;
    std::uint32_t modifyDate = 3'700'003'600u;
    std::uint32_t accessDate = 3'700'007'200u;
    std::uint16_t fileMode = 0x81A4; // regular file, rw-r--r--

    std::vector<std::uint8_t> build();

    // After build(): the volume byte position of every catalog node, by node number, and of
    // every extents-file node.
    std::vector<std::uint64_t> catalogNodePositions;
    std::vector<std::uint64_t> extentsNodePositions;
    // After build(): the overflow records written (fileID, startBlock).
    std::vector<std::pair<std::uint32_t, std::uint32_t>> overflowKeys;

    std::uint32_t blockSize;
    std::uint32_t catalogNodeSize;
    std::uint32_t extentsNodeSize;

private:
    struct Item {
        bool folder = false;
        std::uint32_t cnid = 0;
        std::uint32_t parent = 0;
        std::u16string name;
        std::vector<std::uint8_t> content;
        unsigned pieces = 1;
        std::uint32_t linkNumber = 0; // a hard link when not 0
    };
    std::vector<Item> items_;
    std::uint32_t nextCnid_ = 16;
};

} // namespace vindaru::test
