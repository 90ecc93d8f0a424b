#include "host/handle_store.h"

#include <cstring>
#include <limits>

namespace qmhost {

HostHandle HandleStore::create(int64_t size) {
    if (size < 0 || size > std::numeric_limits<int32_t>::max()) {
        return nullptr;
    }
    if (allowance_ == 0) {
        return nullptr;
    }
    if (allowance_ > 0) {
        --allowance_;
    }
    auto block = std::make_unique<Block>();
    block->size = static_cast<std::size_t>(size);
    // One spare byte so that even an empty handle has a distinct address.
    block->storage = std::make_unique<uint8_t[]>(block->size + 1);
    block->record.memory = block->storage.get();
    HostHandle handle = &block->record;
    blocks_.emplace(handle, std::move(block));
    ++created_;
    return handle;
}

HostHandle HandleStore::createFrom(std::span<const uint8_t> bytes) {
    HostHandle handle = create(static_cast<int64_t>(bytes.size()));
    if (handle != nullptr && !bytes.empty()) {
        std::memcpy(handle->memory, bytes.data(), bytes.size());
    }
    return handle;
}

void HandleStore::dispose(HostHandle handle) {
    auto it = blocks_.find(handle);
    if (it == blocks_.end()) {
        ++badDisposes_;
        return;
    }
    blocks_.erase(it);
    ++disposed_;
}

bool HandleStore::owns(HostHandle handle) const {
    return blocks_.count(handle) != 0;
}

std::span<uint8_t> HandleStore::bytes(HostHandle handle) const {
    auto it = blocks_.find(handle);
    if (it == blocks_.end()) {
        return {};
    }
    return {it->second->storage.get(), it->second->size};
}

int32_t HandleStore::lock(HostHandle handle) {
    auto it = blocks_.find(handle);
    if (it == blocks_.end()) {
        return -1;
    }
    ++it->second->lockCount;
    return 0;
}

void HandleStore::unlock(HostHandle handle) {
    auto it = blocks_.find(handle);
    if (it != blocks_.end() && it->second->lockCount > 0) {
        --it->second->lockCount;
    }
}

bool HandleStore::isLocked(HostHandle handle) const {
    auto it = blocks_.find(handle);
    return it != blocks_.end() && it->second->lockCount > 0;
}

}  // namespace qmhost
