// The cursor primitives: every byte of a ModelFile image is read through these. A read either
// completes and advances the cursor or leaves both the cursor and its destination alone.
#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

#include "model/kvt_plugin.h"

namespace quillmesh {
namespace {

uint32_t littleEndian32(const uint8_t* bytes) {
    return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
           static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

float littleEndianFloat(const uint8_t* bytes) {
    return std::bit_cast<float>(littleEndian32(bytes));
}

// Floats read in one piece, so that a short read leaves the destination untouched.
template <std::size_t Count>
int readFloats(KVTPlugin& plugin, std::array<float, Count>& out) {
    std::array<uint8_t, Count * 4> bytes;
    if (!plugin.readBytes(bytes.data(), static_cast<uint32_t>(bytes.size()))) {
        return 0;
    }
    for (std::size_t i = 0; i < Count; ++i) {
        out[i] = littleEndianFloat(&bytes[i * 4]);
    }
    return 1;
}

// The surplus of a name longer than its buffer is read and dropped.
constexpr uint32_t kWideNameBytes = ModelName::kCapacity * 2;
constexpr uint32_t kNarrowNameBytes = ModelName::kCapacity;

}  // namespace

uint32_t KVTPlugin::bytesLeft() const noexcept {
    if (!bufferHeld_ || readCursor >= length_) {
        return 0;
    }
    return length_ - readCursor;
}

bool KVTPlugin::recordsFit(int64_t count, uint32_t minimumRecordBytes) const noexcept {
    if (count <= 0) {
        return true;
    }
    if (minimumRecordBytes == 0) {
        return true;
    }
    return static_cast<uint64_t>(count) <= bytesLeft() / minimumRecordBytes;
}

int KVTPlugin::readBytes(void* dest, uint32_t n) noexcept {
    if (dest == nullptr || !bufferHeld_ || n > bytesLeft()) {
        return 0;
    }
    if (n > 0) {
        std::memcpy(dest, fileBuffer_.data() + readCursor, n);
    }
    readCursor += n;
    return 1;
}

int KVTPlugin::skipBytes(uint32_t n) noexcept {
    if (!bufferHeld_ || n > bytesLeft()) {
        return 0;
    }
    readCursor += n;
    return 1;
}

int KVTPlugin::readInt16(int16_t& out) noexcept {
    std::array<uint8_t, 2> bytes;
    if (!readBytes(bytes.data(), 2)) {
        out = 0;
        return 0;
    }
    out = static_cast<int16_t>(static_cast<uint16_t>(bytes[0] | bytes[1] << 8));
    return 1;
}

int KVTPlugin::readUInt32(uint32_t& out) noexcept {
    std::array<uint8_t, 4> bytes;
    if (!readBytes(bytes.data(), 4)) {
        out = 0;
        return 0;
    }
    out = littleEndian32(bytes.data());
    return 1;
}

int KVTPlugin::readInt32(int32_t& out) noexcept {
    uint32_t value = 0;
    const int result = readUInt32(value);
    out = static_cast<int32_t>(value);
    return result;
}

int KVTPlugin::readFloat32(float& out) noexcept {
    uint32_t bits = 0;
    if (!readUInt32(bits)) {
        return 0;
    }
    out = std::bit_cast<float>(bits);
    return 1;
}

int KVTPlugin::readVec3(Vec3& out) noexcept {
    std::array<float, 3> values;
    if (!readFloats(*this, values)) {
        return 0;
    }
    out = {values[0], values[1], values[2]};
    return 1;
}

int KVTPlugin::readRgba(Rgba& out) noexcept {
    std::array<float, 4> values;
    if (!readFloats(*this, values)) {
        return 0;
    }
    out = {values[0], values[1], values[2], values[3]};
    return 1;
}

int KVTPlugin::readQuaternion(Quaternion& out) noexcept {
    std::array<float, 4> values;
    if (!readFloats(*this, values)) {
        return 0;
    }
    out = {values[0], values[1], values[2], values[3]};
    return 1;
}

int KVTPlugin::readTransform(NodeTransform& out) noexcept {
    std::array<float, kNodeTransformFloats> values;
    if (!readFloats(*this, values)) {
        return 0;
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
    return 1;
}

int KVTPlugin::readAuxRecord(AuxRecord& out) noexcept {
    std::array<uint8_t, kAuxRecordBytes> bytes;
    if (!readBytes(bytes.data(), kAuxRecordBytes)) {
        return 0;
    }
    for (std::size_t i = 0; i < out.auxValues.size(); ++i) {
        out.auxValues[i] = static_cast<int32_t>(littleEndian32(&bytes[i * 4]));
    }
    out.auxScalar = littleEndianFloat(&bytes[36]);
    return 1;
}

int KVTPlugin::readName(ModelName& dest) noexcept {
    const uint32_t start = readCursor;
    int16_t storedLength = 0;
    if (!readInt16(storedLength)) {
        return 0;
    }
    // The length is an unsigned byte count: 0xFFFF is 65535 bytes.
    const uint32_t byteCount = static_cast<uint16_t>(storedLength);
    const bool wide =
        model.version == kWideNameExceptionVersion || model.version >= kWideNameVersion;
    const uint32_t kept = std::min(byteCount, wide ? kWideNameBytes : kNarrowNameBytes);

    std::array<uint8_t, kWideNameBytes> bytes{};
    if (!readBytes(bytes.data(), kept) || !skipBytes(byteCount - kept)) {
        readCursor = start;
        return 0;
    }
    ModelName name;
    bool converted = false;
    if (wide) {
        // An odd byte count leaves the last unit with a zero high byte.
        std::array<char16_t, ModelName::kCapacity> units{};
        const uint32_t unitCount = (kept + 1) / 2;
        for (uint32_t i = 0; i < unitCount; ++i) {
            units[i] = static_cast<char16_t>(bytes[2 * i] | bytes[2 * i + 1] << 8);
        }
        converted = name.assignWide(std::u16string_view(units.data(), unitCount));
    } else {
        converted =
            name.assignNarrow(std::string_view(reinterpret_cast<const char*>(bytes.data()), kept));
    }
    if (!converted) {
        readCursor = start;
        return 0;
    }
    dest = name;
    return 1;
}

}  // namespace quillmesh
