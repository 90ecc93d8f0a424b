// Section 8 of a classic ModelFile body, the polygon meshes, and the polygon list of a
// version-34 mesh chunk.
//
// New layout (version 30 and later, and version 34): per polygon the corner count, the UV layer
// count, the tag, the material index and a value, then (vertex index, corner value) per corner,
// then per layer (UV index, UV value) per corner. Old layout: a tag per mesh given to all its
// polygons; per polygon the corner count, the layer count, the material index and a value, the
// vertex indices, then per layer one inline UV per corner (u, v, and below version 10 a third
// float that is dropped). Inline UVs are numbered in corner order across the whole section and
// land in the UV set of their layer.
//
// Classic polygons hold at least three corners and exactly two UV layers; what the file does not
// fill holds -1, and layers a record announces beyond two are read and dropped. Version-34
// polygons hold exactly the corners and layers they store.
//
// Sound handling of what the file cannot be trusted with:
// - A negative corner or layer count stores nothing (and never runs the inline-UV numbering
//   backwards).
// - The loops over UV layers run only for polygons with corners: a layer of no corners occupies
//   no bytes, so a huge layer count cannot make the reader spin without reading.
// - Corners and layers are reserved only once the bytes left can hold them.
// Vertex, material and UV indices are stored as read.
#include <algorithm>

#include "model/sections.h"

namespace quillmesh {
namespace {

// Inline UVs are two floats from this version on; below it a dropped third float follows.
constexpr int32_t kTwoFloatUVVersion = 10;

// Smallest file size of one polygon record by layout (the fixed words before the corners), of one
// mesh record, and of one corner's leading entry: a (vertex, value) pair in the new layout, a
// vertex index in the old.
constexpr std::size_t kNewPolygonBytes = 20;
constexpr std::size_t kOldPolygonBytes = 16;
constexpr std::size_t kNewMeshBytes = 4;
constexpr std::size_t kOldMeshBytes = 8;
constexpr std::size_t kCornerPairBytes = 8;
constexpr std::size_t kOldCornerBytes = 4;
constexpr std::size_t kInlineUVBytes = 8;
// Room reserved per polygon before its corners are known: a triangle's.
constexpr int64_t kExpectedCorners = 3;

// How a new-layout polygon is shaped in memory.
struct PolygonShape {
    // Corners held at least; the ones the file does not store hold `fill`.
    int32_t minimumCorners = 0;
    // UV layers held whatever the file stores (-1: exactly the stored layers).
    int32_t fixedLayers = -1;
    int32_t fill = 0;
};
constexpr PolygonShape kClassicShape{kMinimumPolygonCorners, kPolygonUVLayers, -1};
constexpr PolygonShape kExactShape{0, -1, 0};

// Room for `corners` more corners and `uvs` more UV entries in the mesh's arrays, counted against
// the budget.
bool makeCornerRoom(const SectionFormat& format, ModelMesh& mesh, uint64_t corners, uint64_t uvs) {
    return makeRoom(format, mesh.vertexIndices, corners) &&
           makeRoom(format, mesh.cornerValues, corners) && makeRoom(format, mesh.uvIndices, uvs) &&
           makeRoom(format, mesh.uvValues, uvs);
}

// Starts a polygon's ranges in the mesh arrays: `corners` corners and `layers` layers of them,
// all holding `fill`.
void openPolygon(ModelMesh& mesh, ModelPolygon& polygon, int32_t corners, int32_t layers,
                 int32_t fill) {
    polygon.cornerCount = corners;
    polygon.firstCorner = static_cast<uint32_t>(mesh.vertexIndices.size());
    polygon.uvLayerCount = layers;
    polygon.firstUV = static_cast<uint32_t>(mesh.uvIndices.size());
    const auto cornerSize = static_cast<std::size_t>(corners);
    const std::size_t uvSize = cornerSize * static_cast<std::size_t>(layers);
    mesh.vertexIndices.resize(mesh.vertexIndices.size() + cornerSize, fill);
    mesh.cornerValues.resize(mesh.cornerValues.size() + cornerSize, fill);
    mesh.uvIndices.resize(mesh.uvIndices.size() + uvSize, fill);
    mesh.uvValues.resize(mesh.uvValues.size() + uvSize, fill);
}

// Appends `count` (index, value) pairs read from `bytes` to `indices` and `values`, then `fill`
// up to `held` entries each.
void appendPairs(std::span<const uint8_t> bytes, int32_t count, int32_t held, int32_t fill,
                 std::vector<int32_t>& indices, std::vector<int32_t>& values) {
    const std::size_t first = indices.size();
    indices.resize(first + static_cast<std::size_t>(held), fill);
    values.resize(first + static_cast<std::size_t>(held), fill);
    int32_t* index = indices.data() + first;
    int32_t* value = values.data() + first;
    const uint8_t* pair = bytes.data();
    for (int32_t j = 0; j < count; ++j, pair += kCornerPairBytes) {
        index[j] = static_cast<int32_t>(Cursor::word(pair));
        value[j] = static_cast<int32_t>(Cursor::word(pair + 4));
    }
}

// One new-layout polygon record appended to `mesh`.
bool readNewPolygon(Cursor& cursor, const SectionFormat& format, const PolygonShape& shape,
                    ModelMesh& mesh) {
    int32_t storedCorners = 0;
    int32_t storedLayers = 0;
    ModelPolygon& polygon = mesh.polygons.emplace_back();
    if (!cursor.readI32(storedCorners) || !cursor.readI32(storedLayers) ||
        !cursor.readI32(polygon.polygonTag) || !cursor.readI32(polygon.materialIndex) ||
        !cursor.readI32(polygon.polygonValue)) {
        return false;
    }
    const int32_t corners = std::max(storedCorners, 0);
    const int32_t layers = corners > 0 ? std::max(storedLayers, 0) : 0;
    // The corner pairs and every layer's pairs must all be in the file.
    const int64_t pairs = int64_t{corners} * (int64_t{layers} + 1);
    std::span<const uint8_t> bytes;
    if (!cursor.fits(pairs, kCornerPairBytes) ||
        !cursor.view(static_cast<std::size_t>(pairs) * kCornerPairBytes, bytes)) {
        return false;
    }
    const int32_t heldCorners = std::max(corners, shape.minimumCorners);
    const int32_t heldLayers = shape.fixedLayers >= 0 ? shape.fixedLayers : layers;
    if (!makeCornerRoom(
            format, mesh, static_cast<uint64_t>(heldCorners),
            uint64_t{static_cast<uint32_t>(heldCorners)} * static_cast<uint32_t>(heldLayers))) {
        return false;
    }
    polygon.cornerCount = heldCorners;
    polygon.firstCorner = static_cast<uint32_t>(mesh.vertexIndices.size());
    polygon.uvLayerCount = heldLayers;
    polygon.firstUV = static_cast<uint32_t>(mesh.uvIndices.size());
    const std::size_t layerBytes = static_cast<std::size_t>(corners) * kCornerPairBytes;
    appendPairs(bytes, corners, heldCorners, shape.fill, mesh.vertexIndices, mesh.cornerValues);
    for (int32_t l = 0; l < heldLayers; ++l) {
        const bool stored = l < layers;
        const std::span<const uint8_t> layer =
            stored ? bytes.subspan((static_cast<std::size_t>(l) + 1) * layerBytes, layerBytes)
                   : std::span<const uint8_t>();
        appendPairs(layer, stored ? corners : 0, heldCorners, shape.fill, mesh.uvIndices,
                    mesh.uvValues);
    }
    return true;
}

// Old-layout polygon record of a mesh whose tag is `meshTag`. `nextCorner` numbers the inline UVs
// across the section; they are appended to the coordinates of `uvSets` (layer l in set l).
bool readOldPolygon(Cursor& cursor, const SectionFormat& format, int32_t meshTag, ModelMesh& mesh,
                    std::span<UVSet> uvSets, int64_t& nextCorner) {
    int32_t storedCorners = 0;
    int32_t layerCount = 0;
    ModelPolygon& polygon = mesh.polygons.emplace_back();
    polygon.polygonTag = meshTag;
    if (!cursor.readI32(storedCorners) || !cursor.readI32(layerCount) ||
        !cursor.readI32(polygon.materialIndex) || !cursor.readI32(polygon.polygonValue)) {
        return false;
    }
    const int32_t corners = std::max(storedCorners, 0);
    const int32_t heldCorners = std::max(corners, kMinimumPolygonCorners);
    if (!cursor.fits(corners, kOldCornerBytes) ||
        !makeCornerRoom(format, mesh, static_cast<uint64_t>(heldCorners),
                        uint64_t{static_cast<uint32_t>(heldCorners)} * kPolygonUVLayers)) {
        return false;
    }
    openPolygon(mesh, polygon, heldCorners, kPolygonUVLayers, -1);
    for (int32_t j = 0; j < corners; ++j) {
        if (!cursor.readI32(
                mesh.vertexIndices[polygon.firstCorner + static_cast<std::size_t>(j)])) {
            return false;
        }
    }
    if (corners == 0) {
        return true;
    }
    const std::size_t uvBytes = kInlineUVBytes + (format.version < kTwoFloatUVVersion ? 4 : 0);
    const std::size_t firstCoord = static_cast<std::size_t>(nextCorner);
    for (UVSet& uvSet : uvSets) {
        if (!makeRoom(format, uvSet.coords, static_cast<uint64_t>(corners))) {
            return false;
        }
        uvSet.coords.resize(firstCoord + static_cast<std::size_t>(corners));
        uvSet.coordCount = static_cast<int32_t>(uvSet.coords.size());
    }
    for (int32_t l = 0; l < layerCount; ++l) {
        std::span<const uint8_t> bytes;
        if (!cursor.fits(corners, uvBytes) ||
            !cursor.view(static_cast<std::size_t>(corners) * uvBytes, bytes)) {
            return false;
        }
        const auto layer = static_cast<std::size_t>(l);
        UVSet* uvSet = layer < uvSets.size() ? &uvSets[layer] : nullptr;
        for (int32_t j = 0; j < corners; ++j) {
            const auto corner = static_cast<std::size_t>(j);
            if (l < kPolygonUVLayers) {
                // Every corner numbered so far was read as 4 bytes of a 32-bit image, so the
                // number stays far below the int32 limit.
                mesh.uvIndices[polygon.firstUV +
                               layer * static_cast<std::size_t>(polygon.cornerCount) + corner] =
                    static_cast<int32_t>(firstCoord + corner);
            }
            if (uvSet != nullptr) {
                UVCoord& coord = uvSet->coords[firstCoord + corner];
                coord.u = Cursor::floatAt(bytes.data() + corner * uvBytes);
                coord.v = Cursor::floatAt(bytes.data() + corner * uvBytes + 4);
            }
        }
    }
    nextCorner += corners;
    return true;
}

// Reserves `count` polygons, refused when the bytes left cannot hold that many records of
// `polygonBytes`, and room for a triangle's corners and `layers` layers each.
bool reservePolygons(const Cursor& cursor, const SectionFormat& format, ModelMesh& mesh,
                     int32_t count, std::size_t polygonBytes, int64_t layers) {
    if (!reserveFor(cursor, format, mesh.polygons, count, polygonBytes)) {
        return false;
    }
    const auto corners = static_cast<uint64_t>(int64_t{count} * kExpectedCorners);
    return makeCornerRoom(format, mesh, corners, corners * static_cast<uint64_t>(layers));
}

bool readMesh(Cursor& cursor, const SectionFormat& format, ModelMesh& mesh, std::span<UVSet> uvSets,
              int64_t& nextCorner) {
    const bool newLayout = format.newLayout();
    int32_t meshTag = 0;
    int32_t polygonCount = 0;
    if ((!newLayout && !cursor.readI32(meshTag)) || !cursor.readI32(polygonCount)) {
        return false;
    }
    if (polygonCount <= 0) {
        return true;
    }
    if (!reservePolygons(cursor, format, mesh, polygonCount,
                         newLayout ? kNewPolygonBytes : kOldPolygonBytes, kPolygonUVLayers)) {
        return false;
    }
    mesh.polygonCount = polygonCount;
    for (int32_t k = 0; k < polygonCount; ++k) {
        const bool ok = newLayout
                            ? readNewPolygon(cursor, format, kClassicShape, mesh)
                            : readOldPolygon(cursor, format, meshTag, mesh, uvSets, nextCorner);
        if (!ok) {
            return false;
        }
    }
    return true;
}

}  // namespace

bool readMeshes(Cursor& cursor, const SectionFormat& format, ModelData& model,
                DeclaredCounts& declared) {
    std::span<UVSet> uvSets;
    if (!format.newLayout()) {
        uvSets = model.uvSets.items;
    }
    int64_t nextCorner = 0;
    return readSection(cursor, format, format.newLayout() ? kNewMeshBytes : kOldMeshBytes,
                       model.meshes, declared.meshes, [&](Cursor& c, ModelMesh& mesh, int32_t) {
                           return readMesh(c, format, mesh, uvSets, nextCorner);
                       });
}

bool readExactPolygons(Cursor& cursor, const SectionFormat& format, ModelMesh& mesh) {
    int32_t count = 0;
    if (!cursor.readI32(count)) {
        return false;
    }
    if (count <= 0) {
        return true;
    }
    mesh = ModelMesh{};
    if (!reservePolygons(cursor, format, mesh, count, kNewPolygonBytes, 1)) {
        return false;
    }
    mesh.polygonCount = count;
    for (int32_t k = 0; k < count; ++k) {
        if (!readNewPolygon(cursor, format, kExactShape, mesh)) {
            return false;
        }
    }
    return true;
}

}  // namespace quillmesh
