// Host memory handles: allocation, accounting and injected failure.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <optional>
#include <span>
#include <unordered_map>
#include <vector>

#include "hostapi/host_api.h"

namespace qmhost {

class HandleStore {
  public:
    // The largest handle: its size must fit the handle routines' int32_t.
    static constexpr int64_t kMaxSize = std::numeric_limits<int32_t>::max();

    HandleStore() = default;
    HandleStore(const HandleStore&) = delete;
    HandleStore& operator=(const HandleStore&) = delete;

    // A new zero-filled handle of `size` bytes, or null when the size is
    // negative or above kMaxSize or an injected failure is due.
    HostHandle create(int64_t size);
    // A new handle holding a copy of `bytes` (subject to injected failure).
    HostHandle createFrom(std::span<const uint8_t> bytes);
    // A new handle whose storage is `bytes` itself, without a copy (subject to
    // injected failure and kMaxSize).
    HostHandle adopt(std::vector<uint8_t> bytes);
    // Disposes a handle this store made; anything else is counted as a bad
    // dispose and left alone.
    void dispose(HostHandle handle);

    // Asks for the bytes of a live handle of this store back when it is
    // disposed: its storage is then kept, not freed, until takeKept. One
    // handle at a time; false for a handle this store does not hold.
    bool keepOnDispose(HostHandle handle);
    // The storage of the handle asked for, once it was disposed (moved, not
    // copied); nullopt while it is still live. Either way the request ends.
    std::optional<std::vector<uint8_t>> takeKept();

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
        // Capacity for at least one byte, so that even an empty handle has
        // memory of its own.
        std::vector<uint8_t> storage;
        int lockCount = 0;
    };
    bool takeAllowance();
    // A handle of `size` bytes whose storage `makeStorage` returns, after the
    // checks every new handle passes.
    template <class MakeStorage>
    HostHandle insert(std::size_t size, MakeStorage&& makeStorage);

    std::unordered_map<HostHandleRecord*, std::unique_ptr<Block>> blocks_;
    HostHandle keep_ = nullptr;
    std::optional<std::vector<uint8_t>> kept_;
    std::size_t created_ = 0;
    std::size_t disposed_ = 0;
    std::size_t badDisposes_ = 0;
    int64_t allowance_ = -1;
};

}  // namespace qmhost
