// Allocator for the scan's large tables (entries, name events, the name pool). A table of a
// megabyte or more is mapped on its own, aligned to 2 MiB and marked for transparent huge pages:
// filling it then costs one page fault per 2 MiB instead of one per 4 KiB, which on a volume of
// many files is a large share of the scan. Only the pages written become memory. Smaller tables,
// and every table in sanitizer builds (whose checks need the heap's own blocks), come from the
// heap as usual.
#pragma once

#include <cstddef>
#include <new>

namespace vindaru {

// `bytes` of table; std::bad_alloc when it cannot be had.
void* allocateExt2Table(std::size_t bytes);
void freeExt2Table(void* table, std::size_t bytes) noexcept;

template <class T>
struct Ext2TableAllocator {
    using value_type = T;

    Ext2TableAllocator() = default;
    template <class U>
    Ext2TableAllocator(const Ext2TableAllocator<U>&) noexcept {}

    T* allocate(std::size_t n) {
        if (n > static_cast<std::size_t>(-1) / sizeof(T)) throw std::bad_array_new_length();
        return static_cast<T*>(allocateExt2Table(n * sizeof(T)));
    }
    void deallocate(T* table, std::size_t n) noexcept { freeExt2Table(table, n * sizeof(T)); }

    template <class U>
    bool operator==(const Ext2TableAllocator<U>&) const noexcept { return true; }
};

} // namespace vindaru
