// Sections 1 and 2: lights and cameras. Both have an old layout below version 30 that stores
// the name, the option word, parts of the transform and a few values, and a new layout from
// version 30 that stores the whole record with the 152-byte transform. Both passes read a record
// with the same function: the counting pass into a scratch record, the decoding pass into the
// element array. A record's values reach the element only once all of them are read; an old
// layout writes only the fields it stores, so the others keep their zero state.
#include <array>
#include <cstddef>
#include <exception>
#include <vector>

#include "model/sections.h"

namespace quillmesh {
namespace {

bool readLightRecord(KVTPlugin& plugin, int32_t version, ModelLight& light) {
    ModelName name;
    if (!plugin.readName(name)) {
        return false;
    }
    if (version >= kNewLayoutVersion) {
        int32_t code = 0;
        int32_t option = 0;
        NodeTransform transform;
        std::array<float, 5> params{};
        Rgba colour;
        std::array<float, 2> extraParams{};
        if (!plugin.readInt32(code) || !plugin.readInt32(option) ||
            !plugin.readTransform(transform)) {
            return false;
        }
        for (float& param : params) {
            if (!plugin.readFloat32(param)) {
                return false;
            }
        }
        if (!plugin.readRgba(colour) || !plugin.readFloat32(extraParams[0]) ||
            !plugin.readFloat32(extraParams[1])) {
            return false;
        }
        light.name = name;
        light.code = code;
        light.option = option;
        light.transform = transform;
        light.params = params;
        light.colour = colour;
        light.extraParams = extraParams;
        return true;
    }
    // Old layout: the option word (not the code), the position and the colour.
    int32_t option = 0;
    Vec3 position;
    Rgba colour;
    if (!plugin.readInt32(option) || !plugin.readVec3(position) || !plugin.readRgba(colour)) {
        return false;
    }
    light.name = name;
    light.option = option;
    light.transform.position = position;
    light.colour = colour;
    return true;
}

bool readCameraRecord(KVTPlugin& plugin, int32_t version, ModelCamera& camera) {
    ModelName name;
    if (!plugin.readName(name)) {
        return false;
    }
    if (version >= kNewLayoutVersion) {
        int32_t code = 0;
        int32_t option = 0;
        NodeTransform transform;
        float fieldOfView = 0.0f;
        float nearClip = 0.0f;
        float farClip = 0.0f;
        if (!plugin.readInt32(code) || !plugin.readInt32(option) ||
            !plugin.readTransform(transform) || !plugin.readFloat32(fieldOfView) ||
            !plugin.readFloat32(nearClip) || !plugin.readFloat32(farClip)) {
            return false;
        }
        camera.name = name;
        camera.code = code;
        camera.option = option;
        camera.transform = transform;
        camera.fieldOfView = fieldOfView;
        camera.nearClip = nearClip;
        camera.farClip = farClip;
        return true;
    }
    // Old layout: the option word (not the code), the three axes and the position, then the
    // three floats.
    int32_t option = 0;
    Vec3 xAxis;
    Vec3 yAxis;
    Vec3 zAxis;
    Vec3 position;
    float fieldOfView = 0.0f;
    float nearClip = 0.0f;
    float farClip = 0.0f;
    if (!plugin.readInt32(option) || !plugin.readVec3(xAxis) || !plugin.readVec3(yAxis) ||
        !plugin.readVec3(zAxis) || !plugin.readVec3(position) || !plugin.readFloat32(fieldOfView) ||
        !plugin.readFloat32(nearClip) || !plugin.readFloat32(farClip)) {
        return false;
    }
    camera.name = name;
    camera.option = option;
    camera.transform.xAxis = xAxis;
    camera.transform.yAxis = yAxis;
    camera.transform.zAxis = zAxis;
    camera.transform.position = position;
    camera.fieldOfView = fieldOfView;
    camera.nearClip = nearClip;
    camera.farClip = farClip;
    return true;
}

// Counting pass over one section: records its start and count, reading every record into a
// fresh scratch record.
template <typename T, typename ReadRecord>
bool countSection(KVTPlugin& plugin, ElementSlot<T>& slot, SectionId section,
                  ReadRecord readRecord) {
    try {
        slot.sectionStart = plugin.readCursor;
        int32_t count = 0;
        if (!plugin.readInt32(count)) {
            return false;
        }
        const int32_t version = plugin.model.version;
        for (int32_t i = 0; i < count; ++i) {
            T scratch;
            if (!readRecord(plugin, version, scratch)) {
                return false;
            }
        }
        plugin.model.declaredCount(section) = count;
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

// Decoding pass over one section: reads its count again and every record into the array made by
// the allocation step; a count beyond the array fails rather than writing past it.
template <typename T, typename ReadRecord>
bool decodeSection(KVTPlugin& plugin, ElementSlot<T>& slot, ReadRecord readRecord) {
    try {
        int32_t count = 0;
        if (!plugin.readInt32(count)) {
            return false;
        }
        if (count > 0 && static_cast<std::size_t>(count) > slot.items.size()) {
            return false;
        }
        const int32_t version = plugin.model.version;
        for (int32_t i = 0; i < count; ++i) {
            if (!readRecord(plugin, version, slot.items[static_cast<std::size_t>(i)])) {
                return false;
            }
        }
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

}  // namespace

bool countLights(KVTPlugin& plugin, const ModelHeader& /*header*/) {
    return countSection(plugin, plugin.model.lights, SectionId::kLights, readLightRecord);
}

bool decodeLights(KVTPlugin& plugin, const ModelHeader& /*header*/) {
    return decodeSection(plugin, plugin.model.lights, readLightRecord);
}

bool countCameras(KVTPlugin& plugin, const ModelHeader& /*header*/) {
    return countSection(plugin, plugin.model.cameras, SectionId::kCameras, readCameraRecord);
}

bool decodeCameras(KVTPlugin& plugin, const ModelHeader& /*header*/) {
    return decodeSection(plugin, plugin.model.cameras, readCameraRecord);
}

}  // namespace quillmesh
