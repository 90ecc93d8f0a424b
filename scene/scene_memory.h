// The one gate every allocation of the scene code goes through: scene records,
// their arrays and texts, array growth, the material name index and the
// descriptor writer's temporary buffers. Keeping it in one place lets tests
// make any of those allocations fail and check that the failure surfaces as
// the documented null or false result with nothing leaked.
//
// Inside the scene code a refused allocation is a std::bad_alloc; every public
// scene operation catches it at its own boundary.
#pragma once

#include <cstddef>
#include <limits>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace quillmesh {

// Memory for `bytes` bytes aligned for any fundamental type. Throws
// std::bad_alloc when the test hook refuses the request or memory is exhausted.
void* sceneAllocate(std::size_t bytes);
void sceneRelease(void* memory) noexcept;

// Standard allocator over the gate, for the scene's vectors, strings and maps.
template <class T>
struct SceneAllocator {
    using value_type = T;

    SceneAllocator() noexcept = default;
    template <class U>
    SceneAllocator(const SceneAllocator<U>&) noexcept {}

    T* allocate(std::size_t count) {
        if (count > std::numeric_limits<std::size_t>::max() / sizeof(T)) {
            throw std::bad_array_new_length();
        }
        return static_cast<T*>(sceneAllocate(count * sizeof(T)));
    }
    void deallocate(T* memory, std::size_t) noexcept { sceneRelease(memory); }

    template <class U>
    friend bool operator==(const SceneAllocator&, const SceneAllocator<U>&) noexcept {
        return true;
    }
};

template <class T>
using SceneArray = std::vector<T, SceneAllocator<T>>;

using SceneString = std::basic_string<char, std::char_traits<char>, SceneAllocator<char>>;

template <class T>
struct SceneDelete {
    void operator()(T* record) const noexcept {
        record->~T();
        sceneRelease(record);
    }
};

// A record the scene owns, allocated through the gate.
template <class T>
using SceneOwner = std::unique_ptr<T, SceneDelete<T>>;

// A new value-initialised record (every field its default member initialiser
// or zero). Throws std::bad_alloc when the gate refuses.
template <class T, class... Args>
SceneOwner<T> makeSceneRecord(Args&&... args) {
    static_assert(alignof(T) <= __STDCPP_DEFAULT_NEW_ALIGNMENT__);
    void* memory = sceneAllocate(sizeof(T));
    try {
        return SceneOwner<T>(::new (memory) T(std::forward<Args>(args)...));
    } catch (...) {
        sceneRelease(memory);
        throw;
    }
}

// Test hook. While one is alive on a thread, it counts that thread's scene
// allocation requests and releases and refuses the requests its rules name; destroying it
// restores the hook that was installed before. Rules add up: a request is
// refused when any rule names it.
class SceneMemoryFaults {
  public:
    SceneMemoryFaults() noexcept;
    ~SceneMemoryFaults();
    SceneMemoryFaults(const SceneMemoryFaults&) = delete;
    SceneMemoryFaults& operator=(const SceneMemoryFaults&) = delete;

    // The next `count` requests are refused.
    void failNext(std::size_t count) noexcept { failNext_ = count; }
    // `count` more requests are granted (unless another rule refuses them),
    // every later one is refused.
    void failAfter(std::size_t count) noexcept {
        grantBeforeFailing_ = count;
        failAfterArmed_ = true;
    }
    // Every request of exactly `bytes` bytes is refused.
    void failSize(std::size_t bytes) noexcept { failSize_ = bytes; }
    // Every request of more than `bytes` bytes is refused.
    void failAbove(std::size_t bytes) noexcept { failAbove_ = bytes; }
    // Drops every rule; the counts stay.
    void clearRules() noexcept;

    std::size_t requests() const noexcept { return requests_; }
    std::size_t refusals() const noexcept { return refusals_; }
    std::size_t releases() const noexcept { return releases_; }
    // Granted requests not yet released: 0 once everything allocated while
    // the hook was installed has been given back.
    std::size_t outstanding() const noexcept { return requests_ - refusals_ - releases_; }

    // Called by the gate: counts the request and says whether to refuse it.
    bool refuse(std::size_t bytes) noexcept;
    void countRelease() noexcept { ++releases_; }

  private:
    static constexpr std::size_t kNoSize = std::numeric_limits<std::size_t>::max();

    SceneMemoryFaults* previous_;
    std::size_t requests_ = 0;
    std::size_t refusals_ = 0;
    std::size_t releases_ = 0;
    std::size_t failNext_ = 0;
    std::size_t grantBeforeFailing_ = 0;
    bool failAfterArmed_ = false;
    std::size_t failSize_ = kNoSize;
    std::size_t failAbove_ = kNoSize;
};

}  // namespace quillmesh
