// The large-buffer hint, header-only so that the module and our host (which do not share a
// library in the Windows build) can both give it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#ifndef _WIN32
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace quillmesh::platform {

// A hint that the buffer at `data` of `bytes` bytes, not yet written, will be filled whole: the
// system may back it with large pages, which makes the first touch of a model-sized array many
// times cheaper than page by page. Small buffers are left alone; nothing changes what the buffer
// holds, and a system without the feature ignores it. Large pages on Windows need a privilege
// ordinary users lack, so there the hint is not given.
inline void adviseLargeBuffer([[maybe_unused]] void* data,
                              [[maybe_unused]] std::size_t bytes) noexcept {
#ifndef _WIN32
    // Below a few large pages the hint saves little; the range advised must start on a page.
    constexpr std::size_t kLargeBufferBytes = std::size_t{4} << 20;
    const long pageSize = ::sysconf(_SC_PAGESIZE);
    if (data == nullptr || bytes < kLargeBufferBytes || pageSize <= 0) {
        return;
    }
    const auto page = static_cast<std::uintptr_t>(pageSize);
    const auto start = reinterpret_cast<std::uintptr_t>(data);
    const std::uintptr_t first = (start + page - 1) / page * page;
    const std::uintptr_t end = (start + bytes) / page * page;
    if (end > first) {
        static_cast<void>(::madvise(reinterpret_cast<void*>(first), end - first, MADV_HUGEPAGE));
    }
#endif
}

// Reserves room for `count` elements in `items` (as reserve does) and gives the new storage the
// large-buffer hint. Throws what reserve throws.
template <typename T, typename Allocator>
void reserveLarge(std::vector<T, Allocator>& items, std::size_t count) {
    const T* before = items.data();
    items.reserve(count);
    if (items.data() != before) {
        adviseLargeBuffer(items.data(), items.capacity() * sizeof(T));
    }
}

}  // namespace quillmesh::platform
