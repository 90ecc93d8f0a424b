// Section 8 of a classic ModelFile body: the polygon meshes.
//
// One mesh reader and one polygon reader serve both passes and both layouts; the model version
// picks the layout field by field. The counting pass reads into scratch records, allocates
// nothing and sums the corner counts into cornerTotal; the decoding pass gives every mesh its
// polygons and every polygon its corners before filling them.
//
// New layout (version 30 and later): per polygon the corner count, the UV layer count, the tag,
// the material index and a value, then (vertex index, corner value) per corner, then per layer
// (UV index, UV value) per corner. Old layout: a tag per mesh given to all its polygons; per
// polygon the corner count, the layer count (one layer below version 5), the material index and
// a value, the vertex indices, then per layer one inline UV per corner (u, v, and below version 10
// a third float that is dropped). Inline UVs are numbered in corner order across the whole
// section and land in the UV set of their layer, which the allocation step sized by cornerTotal.
//
// Sound handling of what the file cannot be trusted with:
// - A polygon holds two UV layers; the layers a record announces beyond them are read and
//   dropped.
// - A negative corner count in an old file is taken as 0 in both passes, so the corner numbering
//   never runs backwards and every inline UV lands inside its UV set.
// - The loops over UV layers run only for polygons with corners: a layer of no corners occupies no
//   bytes, so a huge layer count cannot make the reader spin without reading.
// - The corner sum of the counting pass is kept in 64 bits and saturated into cornerTotal.
// Vertex, material and UV indices are stored as read.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <span>

#include "model/sections.h"

namespace quillmesh {
namespace {

// The UV layer count is stored from this version on; below it a polygon has one layer.
constexpr int32_t kLayerCountVersion = 5;
// Inline UVs are two floats from this version on; below it a dropped third float follows.
constexpr int32_t kTwoFloatUVVersion = 10;

// Smallest file size of one polygon record by layout (the fixed words before the corners), and of
// one corner's leading entry: a (vertex, value) pair in the new layout, a vertex index in the old.
constexpr uint32_t kNewPolygonBytes = 20;
constexpr uint32_t kOldPolygonBytes = 16;
constexpr uint32_t kOldestPolygonBytes = 12;
constexpr uint32_t kNewCornerBytes = 8;
constexpr uint32_t kOldCornerBytes = 4;

// What the passes carry from polygon to polygon.
struct MeshPass {
    // Old files, decoding pass: the UV sets the inline UVs land in (layer l in set l).
    std::span<UVSet> uvSets;
    // Old files: number of the next inline UV, counted over the whole section.
    int64_t nextCorner = 0;
    // Counting pass: sum of the corner counts.
    int64_t cornerSum = 0;
};

bool isNewLayout(const KVTPlugin& plugin) noexcept {
    return plugin.model.version >= kNewLayoutVersion;
}

template <typename T>
void storeAt(std::vector<T>& values, int64_t index, const T& value) noexcept {
    if (index >= 0 && static_cast<uint64_t>(index) < values.size()) {
        values[static_cast<std::size_t>(index)] = value;
    }
}

// Gives `polygon` its corners when `allocate` is set. The corners are allocated only when
// the bytes left can hold the announced count.
bool allocateCorners(KVTPlugin& plugin, ModelPolygon& polygon, int32_t cornerCount,
                     uint32_t cornerBytes, bool allocate) noexcept {
    if (!allocate) {
        return true;
    }
    return plugin.recordsFit(cornerCount, cornerBytes) &&
           allocatePolygonCorners(polygon, cornerCount);
}

// New-layout polygon record.
bool readNewPolygon(KVTPlugin& plugin, ModelPolygon& polygon, bool allocate,
                    MeshPass& pass) noexcept {
    int32_t cornerCount = 0;
    int32_t layerCount = 0;
    int32_t tag = 0;
    int32_t materialIndex = 0;
    int32_t value = 0;
    if (!plugin.readInt32(cornerCount) || !plugin.readInt32(layerCount) || !plugin.readInt32(tag) ||
        !plugin.readInt32(materialIndex) || !plugin.readInt32(value)) {
        return false;
    }
    polygon.polygonTag = tag;
    polygon.materialIndex = materialIndex;
    polygon.polygonValue = value;
    pass.cornerSum += cornerCount;
    if (!allocateCorners(plugin, polygon, cornerCount, kNewCornerBytes, allocate)) {
        return false;
    }
    for (int32_t j = 0; j < cornerCount; ++j) {
        int32_t vertexIndex = 0;
        int32_t cornerValue = 0;
        if (!plugin.readInt32(vertexIndex) || !plugin.readInt32(cornerValue)) {
            return false;
        }
        storeAt(polygon.vertexIndices, j, vertexIndex);
        storeAt(polygon.cornerValues, j, cornerValue);
    }
    if (cornerCount <= 0) {
        return true;
    }
    for (int32_t l = 0; l < layerCount; ++l) {
        const auto layerIndex = static_cast<std::size_t>(l);
        PolygonUVLayer* layer =
            layerIndex < polygon.uvLayers.size() ? &polygon.uvLayers[layerIndex] : nullptr;
        for (int32_t j = 0; j < cornerCount; ++j) {
            int32_t uvIndex = 0;
            int32_t uvValue = 0;
            if (!plugin.readInt32(uvIndex) || !plugin.readInt32(uvValue)) {
                return false;
            }
            if (layer != nullptr) {
                storeAt(layer->uvIndices, j, uvIndex);
                storeAt(layer->uvValues, j, uvValue);
            }
        }
    }
    return true;
}

// Old-layout polygon record of a mesh whose tag is `meshTag`.
bool readOldPolygon(KVTPlugin& plugin, int32_t meshTag, ModelPolygon& polygon, bool allocate,
                    MeshPass& pass) noexcept {
    const int32_t version = plugin.model.version;
    int32_t storedCorners = 0;
    int32_t layerCount = 1;
    int32_t materialIndex = 0;
    int32_t value = 0;
    if (!plugin.readInt32(storedCorners) ||
        (version >= kLayerCountVersion && !plugin.readInt32(layerCount)) ||
        !plugin.readInt32(materialIndex) || !plugin.readInt32(value)) {
        return false;
    }
    polygon.polygonTag = meshTag;
    polygon.materialIndex = materialIndex;
    polygon.polygonValue = value;
    // A negative count would run the corner numbering backwards, out of the UV sets.
    const int32_t cornerCount = std::max(storedCorners, 0);
    pass.cornerSum += cornerCount;
    if (!allocateCorners(plugin, polygon, cornerCount, kOldCornerBytes, allocate)) {
        return false;
    }
    for (int32_t j = 0; j < cornerCount; ++j) {
        int32_t vertexIndex = 0;
        if (!plugin.readInt32(vertexIndex)) {
            return false;
        }
        storeAt(polygon.vertexIndices, j, vertexIndex);
    }
    if (cornerCount <= 0) {
        return true;
    }
    const int64_t firstCorner = pass.nextCorner;
    for (int32_t l = 0; l < layerCount; ++l) {
        const auto layerIndex = static_cast<std::size_t>(l);
        PolygonUVLayer* layer =
            layerIndex < polygon.uvLayers.size() ? &polygon.uvLayers[layerIndex] : nullptr;
        UVSet* uvSet = layerIndex < pass.uvSets.size() ? &pass.uvSets[layerIndex] : nullptr;
        for (int32_t j = 0; j < cornerCount; ++j) {
            float u = 0.0f;
            float v = 0.0f;
            float dropped = 0.0f;
            if (!plugin.readFloat32(u) || !plugin.readFloat32(v) ||
                (version < kTwoFloatUVVersion && !plugin.readFloat32(dropped))) {
                return false;
            }
            // Every corner numbered so far was read as 4 bytes of a 32-bit image, so the number
            // stays far below the int32 limit.
            const int64_t corner = firstCorner + j;
            if (layer != nullptr) {
                storeAt(layer->uvIndices, j, static_cast<int32_t>(corner));
            }
            if (uvSet != nullptr && corner < static_cast<int64_t>(uvSet->coords.size())) {
                UVCoord& coord = uvSet->coords[static_cast<std::size_t>(corner)];
                coord.u = u;
                coord.v = v;
            }
        }
    }
    pass.nextCorner += cornerCount;
    return true;
}

// One mesh record: in old files its tag, then the polygon count and the polygons. `allocate` gives
// the mesh its polygons and them their corners; polygons beyond the mesh's array (every polygon,
// in the counting pass) are read into a scratch polygon.
bool readMeshRecord(KVTPlugin& plugin, ModelMesh& mesh, bool allocate, MeshPass& pass) noexcept {
    const bool newLayout = isNewLayout(plugin);
    int32_t meshTag = 0;
    int32_t polygonCount = 0;
    if ((!newLayout && !plugin.readInt32(meshTag)) || !plugin.readInt32(polygonCount)) {
        return false;
    }
    if (allocate && polygonCount > 0) {
        const uint32_t polygonBytes = newLayout ? kNewPolygonBytes
                                      : plugin.model.version >= kLayerCountVersion
                                          ? kOldPolygonBytes
                                          : kOldestPolygonBytes;
        if (!plugin.recordsFit(polygonCount, polygonBytes) ||
            !allocatePolygons(mesh, polygonCount)) {
            return false;
        }
    }
    ModelPolygon scratch;
    for (int32_t k = 0; k < polygonCount; ++k) {
        const auto index = static_cast<std::size_t>(k);
        const bool inArray = index < mesh.polygons.size();
        ModelPolygon& polygon = inArray ? mesh.polygons[index] : scratch;
        const bool givePolygonCorners = allocate && inArray;
        const bool ok = newLayout
                            ? readNewPolygon(plugin, polygon, givePolygonCorners, pass)
                            : readOldPolygon(plugin, meshTag, polygon, givePolygonCorners, pass);
        if (!ok) {
            return false;
        }
    }
    return true;
}

int32_t saturateToInt32(int64_t value) noexcept {
    return static_cast<int32_t>(std::clamp<int64_t>(value, std::numeric_limits<int32_t>::min(),
                                                    std::numeric_limits<int32_t>::max()));
}

}  // namespace

bool countMeshes(KVTPlugin& plugin, const ModelHeader&) {
    ModelData& model = plugin.model;
    model.meshes.sectionStart = plugin.readCursor;
    model.cornerTotal = 0;
    int32_t meshCount = 0;
    if (!plugin.readInt32(meshCount)) {
        return false;
    }
    MeshPass pass;
    ModelMesh scratch;
    for (int32_t i = 0; i < meshCount; ++i) {
        if (!readMeshRecord(plugin, scratch, false, pass)) {
            return false;
        }
    }
    model.cornerTotal = saturateToInt32(pass.cornerSum);
    model.declaredCount(SectionId::kMeshes) = meshCount;
    return true;
}

bool decodeMeshes(KVTPlugin& plugin, const ModelHeader&) {
    ModelData& model = plugin.model;
    int32_t meshCount = 0;
    if (!plugin.readInt32(meshCount)) {
        return false;
    }
    MeshPass pass;
    if (!isNewLayout(plugin)) {
        pass.uvSets = model.uvSets.items;
    }
    for (int32_t i = 0; i < meshCount; ++i) {
        const auto index = static_cast<std::size_t>(i);
        const bool inArray = index < model.meshes.items.size();
        ModelMesh scratch;
        ModelMesh& mesh = inArray ? model.meshes.items[index] : scratch;
        if (!readMeshRecord(plugin, mesh, inArray, pass)) {
            return false;
        }
    }
    return true;
}

}  // namespace quillmesh
