// What the tool's readers of a received scene descriptor share: the entry sizes of the geometry
// blocks the scene writer puts, their little-endian values read byte by byte, and the lookup of
// an item of one kind.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "host/descriptors.h"
#include "platform/platform.h"

namespace quillmesh::tool {

// "verl", "nrml", "lnfl", "lncl", "vnvl": three doubles; "uvl ": two doubles; "facl": a 36-byte
// polygon record; "faci": four 32-bit corner indices.
inline constexpr std::size_t kVectorEntryBytes = 24;
inline constexpr std::size_t kUVEntryBytes = 16;
inline constexpr std::size_t kPolygonEntryBytes = 36;
inline constexpr std::size_t kCornerEntryBytes = 16;

// Callers keep every read inside the block.
inline uint32_t loadU32(const uint8_t* bytes) {
    uint32_t value = 0;
    for (std::size_t i = 0; i < 4; ++i) {
        value |= static_cast<uint32_t>(bytes[i]) << (8 * i);
    }
    return value;
}

inline int32_t loadI32(const uint8_t* bytes) {
    return static_cast<int32_t>(loadU32(bytes));
}

inline double loadF64(const uint8_t* bytes) {
    uint64_t bits = 0;
    for (std::size_t i = 0; i < 8; ++i) {
        bits |= static_cast<uint64_t>(bytes[i]) << (8 * i);
    }
    return std::bit_cast<double>(bits);
}

// The item under the four-character code `code` when it is of `kind`, else null.
inline const qmhost::Value* findKind(const qmhost::Descriptor& descriptor, const char (&code)[5],
                                     qmhost::ValueKind kind) {
    const qmhost::Value* value = descriptor.find(qmhost::fourcc(code));
    return value != nullptr && value->kind() == kind ? value : nullptr;
}

// The text under `code` as UTF-8; empty when there is none.
inline std::string textOf(const qmhost::Descriptor& descriptor, const char (&code)[5]) {
    const qmhost::Value* value = findKind(descriptor, code, qmhost::ValueKind::Text);
    return value != nullptr ? platform::toUtf8(value->asText()) : std::string();
}

// The data block under `code`; empty when there is none.
inline std::span<const uint8_t> blockOf(const qmhost::Descriptor& descriptor,
                                        const char (&code)[5]) {
    const qmhost::Value* value = findKind(descriptor, code, qmhost::ValueKind::Data);
    return value != nullptr ? std::span<const uint8_t>(value->asData())
                            : std::span<const uint8_t>();
}

}  // namespace quillmesh::tool
