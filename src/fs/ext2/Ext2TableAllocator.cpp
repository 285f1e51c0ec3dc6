#include "fs/ext2/Ext2TableAllocator.h"

#include <sys/mman.h>

#include <cstdint>

namespace vindaru {

namespace {

constexpr std::size_t kHugePage = std::size_t{2} << 20;
constexpr std::size_t kMappedFrom = std::size_t{1} << 20;

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kHeapOnly = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(memory_sanitizer)
constexpr bool kHeapOnly = true;
#else
constexpr bool kHeapOnly = false;
#endif
#else
constexpr bool kHeapOnly = false;
#endif

bool mapped(std::size_t bytes) { return !kHeapOnly && bytes >= kMappedFrom; }

std::size_t roundedUp(std::size_t bytes) { return (bytes + kHugePage - 1) & ~(kHugePage - 1); }

} // namespace

void* allocateExt2Table(std::size_t bytes) {
    if (!mapped(bytes)) return ::operator new(bytes);
    if (bytes > SIZE_MAX - 2 * kHugePage) throw std::bad_alloc();
    const std::size_t size = roundedUp(bytes);
    // Map a huge page more than needed, then give back the parts before and after the aligned
    // run; freeExt2Table unmaps exactly that run.
    void* raw = ::mmap(nullptr, size + kHugePage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (raw == MAP_FAILED) throw std::bad_alloc();
    const auto start = reinterpret_cast<std::uintptr_t>(raw);
    const std::uintptr_t aligned = (start + kHugePage - 1) & ~std::uintptr_t{kHugePage - 1};
    if (aligned > start) ::munmap(raw, aligned - start);
    if (const std::size_t tail = start + kHugePage - aligned; tail > 0)
        ::munmap(reinterpret_cast<void*>(aligned + size), tail);
    ::madvise(reinterpret_cast<void*>(aligned), size, MADV_HUGEPAGE);
    return reinterpret_cast<void*>(aligned);
}

void freeExt2Table(void* table, std::size_t bytes) noexcept {
    if (!table) return;
    if (!mapped(bytes)) {
        ::operator delete(table);
        return;
    }
    ::munmap(table, roundedUp(bytes));
}

} // namespace vindaru
