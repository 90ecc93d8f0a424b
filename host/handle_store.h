// Host memory handles: allocation, accounting and injected failure.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <unordered_map>

#include "hostapi/host_api.h"

namespace qmhost {

class HandleStore {
  public:
    HandleStore() = default;
    HandleStore(const HandleStore&) = delete;
    HandleStore& operator=(const HandleStore&) = delete;

    // A new zero-filled handle of `size` bytes, or null when the size is
    // negative or an injected failure is due.
    HostHandle create(int64_t size);
    // A new handle holding a copy of `bytes` (subject to injected failure).
    HostHandle createFrom(std::span<const uint8_t> bytes);
    // Disposes a handle this store made; anything else is counted as a bad
    // dispose and left alone.
    void dispose(HostHandle handle);

    bool owns(HostHandle handle) const;
    // The handle's bytes; empty for a handle this store did not make.
    std::span<uint8_t> bytes(HostHandle handle) const;
    int32_t lock(HostHandle handle);
    void unlock(HostHandle handle);
    bool isLocked(HostHandle handle) const;

    // Accounting.
    std::size_t created() const { return created_; }
    std::size_t disposed() const { return disposed_; }
    std::size_t live() const { return blocks_.size(); }
    std::size_t badDisposes() const { return badDisposes_; }

    // Let `count` more allocations succeed, then fail every one after.
    // A negative count never fails.
    void failAfter(int64_t count) { allowance_ = count; }

  private:
    struct Block {
        HostHandleRecord record{};  // first member: the handle points here
        std::unique_ptr<uint8_t[]> storage;
        std::size_t size = 0;
        int lockCount = 0;
    };
    std::unordered_map<HostHandleRecord*, std::unique_ptr<Block>> blocks_;
    std::size_t created_ = 0;
    std::size_t disposed_ = 0;
    std::size_t badDisposes_ = 0;
    int64_t allowance_ = -1;
};

}  // namespace qmhost
