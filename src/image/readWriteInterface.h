// The disk reader every part of the engine reads the virtual disk through. A reader maps a byte
// position on the virtual disk (relative to baseOffset) to its place in the image file(s), or to
// a hole that reads as zeros. The cursor-style seek/read pair keeps the behaviour callers rely on;
// readAt is the positional read underneath, for bulk work that does not need the cursor.
#pragma once

#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <vector>

namespace vindaru {

class MemoryFiles;

inline constexpr std::uint64_t kSectorSize = 512;

class readWriteInterface {
  public:
    readWriteInterface() = default;
    virtual ~readWriteInterface() = default;
    readWriteInterface(const readWriteInterface&) = delete;
    readWriteInterface& operator=(const readWriteInterface&) = delete;

    virtual bool open(const std::string& path) = 0;
    // Reads `length` bytes from the last sought position; holes read as zeros.
    virtual bool read(void* buffer, std::uint64_t length) {
        (void)buffer;
        (void)length;
        return true;
    }
    // `position` is relative to baseOffset; origin is 0 (from the beginning) at every call.
    virtual bool seek(std::int64_t position, int origin) {
        (void)position;
        (void)origin;
        return true;
    }

    // Positional read of out.size() bytes at `position` (relative to baseOffset), holes as zeros.
    // Readers override it with a cached, coalescing path that leaves the seek/read cursor alone;
    // this default goes through seek and read.
    virtual bool readAt(std::uint64_t position, std::span<std::uint8_t> out) {
        if (!seek(static_cast<std::int64_t>(position), 0)) return false;
        return read(out.data(), out.size());
    }

    // True when every byte of [position, position + length) (relative to baseOffset) is known to
    // read as zeros without reading the image, because the reader's map marks it as a hole; false
    // when unknown. Bulk copies use it to skip reading and writing empty stretches.
    virtual bool isHole(std::uint64_t position, std::uint64_t length) const {
        (void)position;
        (void)length;
        return false;
    }

    // The disk bytes [position, position + length) (relative to baseOffset) where they lie in the
    // image, without copying, when they lie there in one piece of a file the reader could map;
    // empty otherwise (a hole included). Valid while the reader stays open. Bulk copies use it
    // to write straight from the image.
    virtual std::span<const std::uint8_t> viewAt(std::uint64_t position, std::uint64_t length) {
        (void)position;
        (void)length;
        return {};
    }

    // The virtual disk's size in bytes (not relative to baseOffset): no byte at or past it exists,
    // whatever a read there returns. Whole-volume sweeps end there.
    virtual std::uint64_t capacity() const { return UINT64_MAX; }

    // The disk size in sectors the image itself declares (its header, footer or descriptor); 0
    // when it declares none. The session takes it as its disk size once the reader is open.
    virtual std::uint64_t declaredSectors() const { return 0; }
    // True when a disk size the user typed replaces the declared one (the VMDK readers).
    virtual bool takesTypedSize() const { return false; }

    // Where open() finds its files: the file system when null, else these in-memory files.
    const MemoryFiles* memoryFiles = nullptr;

    std::vector<std::uint32_t> blockTable;
    std::uint64_t baseOffset = 0;
    std::uint64_t imageLength = 0;
    std::uint8_t sectorMapped = 1;
};

} // namespace vindaru
