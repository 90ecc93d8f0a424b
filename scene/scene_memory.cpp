#include "scene/scene_memory.h"

#include "platform/large_buffer.h"

namespace quillmesh {
namespace {

// Per thread, so a test's rules never reach scene code running elsewhere.
thread_local SceneMemoryFaults* tFaults = nullptr;

}  // namespace

void* sceneAllocate(std::size_t bytes) {
    if (tFaults != nullptr && tFaults->refuse(bytes)) {
        throw std::bad_alloc();
    }
    void* memory = ::operator new(bytes);
    // Scene arrays of a large model are filled whole right after they are allocated.
    platform::adviseLargeBuffer(memory, bytes);
    return memory;
}

void sceneRelease(void* memory) noexcept {
    if (tFaults != nullptr && memory != nullptr) {
        tFaults->countRelease();
    }
    ::operator delete(memory);
}

SceneMemoryFaults::SceneMemoryFaults() noexcept : previous_(tFaults) {
    tFaults = this;
}

SceneMemoryFaults::~SceneMemoryFaults() {
    tFaults = previous_;
}

void SceneMemoryFaults::clearRules() noexcept {
    failNext_ = 0;
    grantBeforeFailing_ = 0;
    failAfterArmed_ = false;
    failSize_ = kNoSize;
    failAbove_ = kNoSize;
}

bool SceneMemoryFaults::refuse(std::size_t bytes) noexcept {
    ++requests_;
    bool refused = false;
    if (failNext_ > 0) {
        --failNext_;
        refused = true;
    }
    if (failAfterArmed_) {
        if (grantBeforeFailing_ > 0) {
            --grantBeforeFailing_;
        } else {
            refused = true;
        }
    }
    if (bytes == failSize_ || (failAbove_ != kNoSize && bytes > failAbove_)) {
        refused = true;
    }
    if (refused) {
        ++refusals_;
    }
    return refused;
}

}  // namespace quillmesh
