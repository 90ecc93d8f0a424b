// Cursor: a read position over bytes in memory, the only way the reader looks at a file.
//
// Every typed read either reads completely, stores its value and advances, or fails (false)
// leaving the cursor and the destination as they were. Values are little-endian and assembled
// from bytes; floats are taken as raw bits. Bounds are checked by subtraction from the bytes
// left, so no check can wrap. A cursor does not own its bytes.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <span>

#include "model/model_name.h"
#include "model/model_records.h"

namespace quillmesh {

class Cursor {
  public:
    Cursor() noexcept = default;
    explicit Cursor(std::span<const uint8_t> bytes) noexcept
        : data_(bytes.data()), size_(bytes.size()) {}

    std::size_t position() const noexcept { return position_; }
    std::size_t size() const noexcept { return size_; }
    std::size_t remaining() const noexcept { return size_ - position_; }
    bool atEnd() const noexcept { return position_ == size_; }

    // Whether `count` records of at least `minimumBytes` bytes each fit in the bytes left. A count
    // of 0 or less always fits.
    bool fits(int64_t count, std::size_t minimumBytes) const noexcept {
        return count <= 0 || minimumBytes == 0 ||
               static_cast<uint64_t>(count) <= remaining() / minimumBytes;
    }

    bool skip(std::size_t n) noexcept {
        if (n > remaining()) {
            return false;
        }
        position_ += n;
        return true;
    }
    // Moves past every byte left.
    void skipToEnd() noexcept { position_ = size_; }

    // The next `n` bytes in place.
    bool view(std::size_t n, std::span<const uint8_t>& out) noexcept {
        if (n > remaining()) {
            return false;
        }
        out = {data_ + position_, n};
        position_ += n;
        return true;
    }

    // A cursor over the next `n` bytes (all bytes left when fewer remain); this cursor moves past
    // them. Nothing read through the nested cursor can reach beyond them.
    Cursor sub(uint64_t n) noexcept {
        const std::size_t length = n < remaining() ? static_cast<std::size_t>(n) : remaining();
        Cursor nested({data_ + position_, length});
        position_ += length;
        return nested;
    }

    bool readU16(uint16_t& out) noexcept {
        if (remaining() < 2) {
            return false;
        }
        out = static_cast<uint16_t>(data_[position_] | data_[position_ + 1] << 8);
        position_ += 2;
        return true;
    }
    bool readU32(uint32_t& out) noexcept {
        if (remaining() < 4) {
            return false;
        }
        out = word(data_ + position_);
        position_ += 4;
        return true;
    }
    bool readI32(int32_t& out) noexcept {
        uint32_t value = 0;
        if (!readU32(value)) {
            return false;
        }
        out = static_cast<int32_t>(value);
        return true;
    }
    bool readF32(float& out) noexcept {
        uint32_t value = 0;
        if (!readU32(value)) {
            return false;
        }
        out = std::bit_cast<float>(value);
        return true;
    }
    bool readVec3(Vec3& out) noexcept;
    bool readRgba(Rgba& out) noexcept;
    bool readQuaternion(Quaternion& out) noexcept;
    bool readTransform(NodeTransform& out) noexcept;
    bool readAuxRecord(AuxRecord& out) noexcept;
    // A 16-bit unsigned byte length, then UTF-16LE text (`wide`) or 8-bit text in the platform's
    // narrow encoding. Text beyond ModelName::kMaxLength units is read and dropped.
    bool readName(ModelName& out, bool wide) noexcept;

    // The little-endian word at `bytes`, which must hold four bytes.
    static uint32_t word(const uint8_t* bytes) noexcept {
        return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
               static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
    }
    static float floatAt(const uint8_t* bytes) noexcept {
        return std::bit_cast<float>(word(bytes));
    }

  private:
    const uint8_t* data_ = nullptr;
    std::size_t size_ = 0;
    std::size_t position_ = 0;
};

// Whether names in files of `version` are UTF-16 (version 10, and from version 32 on).
bool usesWideNames(int32_t version) noexcept;

}  // namespace quillmesh
