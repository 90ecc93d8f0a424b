// The compound reads of the cursor: each checks its whole size first, so it reads all or nothing.
#include "model/cursor.h"

#include <algorithm>
#include <array>
#include <string_view>

#include "model/kvt_plugin.h"

namespace quillmesh {
namespace {

// The surplus of a name longer than its buffer is read and dropped.
constexpr std::size_t kWideNameBytes = ModelName::kCapacity * 2;
constexpr std::size_t kNarrowNameBytes = ModelName::kCapacity;

template <std::size_t Count>
bool readFloats(Cursor& cursor, std::array<float, Count>& out) {
    std::span<const uint8_t> bytes;
    if (!cursor.view(Count * 4, bytes)) {
        return false;
    }
    for (std::size_t i = 0; i < Count; ++i) {
        out[i] = Cursor::floatAt(&bytes[i * 4]);
    }
    return true;
}

}  // namespace

bool usesWideNames(int32_t version) noexcept {
    return version == kWideNameExceptionVersion || version >= kWideNameVersion;
}

bool Cursor::readVec3(Vec3& out) noexcept {
    std::array<float, 3> values;
    if (!readFloats(*this, values)) {
        return false;
    }
    out = {values[0], values[1], values[2]};
    return true;
}

bool Cursor::readRgba(Rgba& out) noexcept {
    std::array<float, 4> values;
    if (!readFloats(*this, values)) {
        return false;
    }
    out = {values[0], values[1], values[2], values[3]};
    return true;
}

bool Cursor::readQuaternion(Quaternion& out) noexcept {
    std::array<float, 4> values;
    if (!readFloats(*this, values)) {
        return false;
    }
    out = {values[0], values[1], values[2], values[3]};
    return true;
}

bool Cursor::readTransform(NodeTransform& out) noexcept {
    std::array<float, kNodeTransformFloats> values;
    if (!readFloats(*this, values)) {
        return false;
    }
    const auto vec3At = [&values](std::size_t first) {
        return Vec3{values[first], values[first + 1], values[first + 2]};
    };
    out.xAxis = vec3At(0);
    out.yAxis = vec3At(3);
    out.zAxis = vec3At(6);
    out.position = vec3At(9);
    out.scale = vec3At(12);
    std::copy_n(values.begin() + 15, out.matrix.size(), out.matrix.begin());
    out.rotation = {values[31], values[32], values[33], values[34]};
    out.eulerAngles = vec3At(35);
    return true;
}

bool Cursor::readAuxRecord(AuxRecord& out) noexcept {
    std::span<const uint8_t> bytes;
    if (!view(kAuxRecordBytes, bytes)) {
        return false;
    }
    for (std::size_t i = 0; i < out.auxValues.size(); ++i) {
        out.auxValues[i] = static_cast<int32_t>(word(&bytes[i * 4]));
    }
    out.auxScalar = floatAt(&bytes[36]);
    return true;
}

bool Cursor::readName(ModelName& out, bool wide) noexcept {
    const std::size_t start = position_;
    uint16_t byteCount = 0;
    if (!readU16(byteCount)) {
        return false;
    }
    const std::size_t kept =
        std::min<std::size_t>(byteCount, wide ? kWideNameBytes : kNarrowNameBytes);
    std::span<const uint8_t> bytes;
    if (!view(kept, bytes) || !skip(byteCount - kept)) {
        position_ = start;
        return false;
    }
    ModelName name;
    bool converted = false;
    if (wide) {
        // An odd byte count leaves the last unit with a zero high byte.
        std::array<char16_t, ModelName::kCapacity> units{};
        const std::size_t unitCount = (kept + 1) / 2;
        for (std::size_t i = 0; i < unitCount; ++i) {
            const std::size_t low = 2 * i;
            const uint8_t high = low + 1 < kept ? bytes[low + 1] : 0;
            units[i] = static_cast<char16_t>(bytes[low] | high << 8);
        }
        converted = name.assignWide(std::u16string_view(units.data(), unitCount));
    } else {
        converted =
            name.assignNarrow(std::string_view(reinterpret_cast<const char*>(bytes.data()), kept));
    }
    if (!converted) {
        position_ = start;
        return false;
    }
    out = std::move(name);
    return true;
}

}  // namespace quillmesh
