#pragma once
// Large arrays are touched once from end to end: backed by 2 MB pages they
// cost a small fraction of the page faults. A hint only; the kernel may
// ignore it.
#include <sys/mman.h>

#include <cstddef>
#include <cstdint>

namespace parallel {

inline void prefer_huge_pages(void* data, size_t bytes) {
    constexpr uintptr_t kHuge = uintptr_t{1} << 21;
    const uintptr_t begin = (reinterpret_cast<uintptr_t>(data) + kHuge - 1) & ~(kHuge - 1);
    const uintptr_t end = (reinterpret_cast<uintptr_t>(data) + bytes) & ~(kHuge - 1);
    if (end > begin) ::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
}

}  // namespace parallel
