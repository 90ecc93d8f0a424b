// Sections 1 and 2: lights and cameras. Both have an old layout below version 30 that stores
// the name, the option word, parts of the transform and a few values, and a new layout from
// version 30 that stores the whole record with the 152-byte transform. An old layout writes only
// the fields it stores, so the others keep their zero state.
#include "model/sections.h"

namespace quillmesh {
namespace {

// Smallest record of each layout: an empty name's length word and the fixed fields.
constexpr std::size_t kOldLightBytes = 2 + 4 + 12 + 16;
constexpr std::size_t kNewLightBytes = 2 + 8 + kNodeTransformBytes + 20 + 16 + 8;
constexpr std::size_t kOldCameraBytes = 2 + 4 + 48 + 12;
constexpr std::size_t kNewCameraBytes = 2 + 8 + kNodeTransformBytes + 12;

bool readFloats(Cursor& cursor, std::span<float> values) {
    for (float& value : values) {
        if (!cursor.readF32(value)) {
            return false;
        }
    }
    return true;
}

bool readLight(Cursor& cursor, const SectionFormat& format, ModelLight& light) {
    if (!cursor.readName(light.name, format.wideNames())) {
        return false;
    }
    if (format.newLayout()) {
        return cursor.readI32(light.code) && cursor.readI32(light.option) &&
               cursor.readTransform(light.transform) && readFloats(cursor, light.params) &&
               cursor.readRgba(light.colour) && readFloats(cursor, light.extraParams);
    }
    return cursor.readI32(light.option) && cursor.readVec3(light.transform.position) &&
           cursor.readRgba(light.colour);
}

bool readCamera(Cursor& cursor, const SectionFormat& format, ModelCamera& camera) {
    if (!cursor.readName(camera.name, format.wideNames())) {
        return false;
    }
    if (format.newLayout()) {
        return cursor.readI32(camera.code) && cursor.readI32(camera.option) &&
               cursor.readTransform(camera.transform) && cursor.readF32(camera.fieldOfView) &&
               cursor.readF32(camera.nearClip) && cursor.readF32(camera.farClip);
    }
    NodeTransform& transform = camera.transform;
    return cursor.readI32(camera.option) && cursor.readVec3(transform.xAxis) &&
           cursor.readVec3(transform.yAxis) && cursor.readVec3(transform.zAxis) &&
           cursor.readVec3(transform.position) && cursor.readF32(camera.fieldOfView) &&
           cursor.readF32(camera.nearClip) && cursor.readF32(camera.farClip);
}

}  // namespace

bool readLights(Cursor& cursor, const SectionFormat& format, ModelData& model,
                DeclaredCounts& declared) {
    return readSection(
        cursor, format, format.newLayout() ? kNewLightBytes : kOldLightBytes, model.lights,
        declared.lights,
        [&format](Cursor& c, ModelLight& light, int32_t) { return readLight(c, format, light); });
}

bool readCameras(Cursor& cursor, const SectionFormat& format, ModelData& model,
                 DeclaredCounts& declared) {
    return readSection(cursor, format, format.newLayout() ? kNewCameraBytes : kOldCameraBytes,
                       model.cameras, declared.cameras,
                       [&format](Cursor& c, ModelCamera& camera, int32_t) {
                           return readCamera(c, format, camera);
                       });
}

}  // namespace quillmesh
