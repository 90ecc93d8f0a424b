#include "host/handle_store.h"

#include <new>
#include <utility>

namespace qmhost {

bool HandleStore::takeAllowance() {
    if (allowance_ == 0) {
        return false;
    }
    if (allowance_ > 0) {
        --allowance_;
    }
    return true;
}

// Memory running out is a refused handle, as for the module's own requests.
template <class MakeStorage>
HostHandle HandleStore::insert(std::size_t size, MakeStorage&& makeStorage) {
    if (size > static_cast<std::size_t>(kMaxSize) || !takeAllowance()) {
        return nullptr;
    }
    try {
        auto block = std::make_unique<Block>();
        block->storage = makeStorage();
        if (block->storage.capacity() == 0) {
            block->storage.reserve(1);
        }
        block->record.memory = block->storage.data();
        HostHandle handle = &block->record;
        blocks_.emplace(handle, std::move(block));
        ++created_;
        return handle;
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

HostHandle HandleStore::create(int64_t size) {
    if (size < 0 || size > kMaxSize) {
        return nullptr;
    }
    const auto bytes = static_cast<std::size_t>(size);
    return insert(bytes, [&] { return std::vector<uint8_t>(bytes); });
}

HostHandle HandleStore::createFrom(std::span<const uint8_t> bytes) {
    return insert(bytes.size(), [&] { return std::vector<uint8_t>(bytes.begin(), bytes.end()); });
}

HostHandle HandleStore::adopt(std::vector<uint8_t> bytes) {
    return insert(bytes.size(), [&] { return std::move(bytes); });
}

void HandleStore::dispose(HostHandle handle) {
    auto it = blocks_.find(handle);
    if (it == blocks_.end()) {
        ++badDisposes_;
        return;
    }
    if (handle == keep_) {
        kept_ = std::move(it->second->storage);
        keep_ = nullptr;
    }
    blocks_.erase(it);
    ++disposed_;
}

bool HandleStore::keepOnDispose(HostHandle handle) {
    if (!owns(handle)) {
        return false;
    }
    keep_ = handle;
    kept_.reset();
    return true;
}

std::optional<std::vector<uint8_t>> HandleStore::takeKept() {
    keep_ = nullptr;
    std::optional<std::vector<uint8_t>> kept = std::move(kept_);
    kept_.reset();
    return kept;
}

bool HandleStore::owns(HostHandle handle) const {
    return blocks_.count(handle) != 0;
}

std::span<uint8_t> HandleStore::bytes(HostHandle handle) const {
    auto it = blocks_.find(handle);
    if (it == blocks_.end()) {
        return {};
    }
    return it->second->storage;
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
