// The element records of a loaded ModelFile: lights, cameras, materials with their texture
// maps, groups, vertices, auxiliary records, UV sets, meshes with their polygons, bones and
// animations with their tracks and keys.
//
// Every record default-constructs to its all-zero state: numbers 0, names empty, owned arrays
// empty with count 0. The reader gives each element its array's defaults before reading it
// (model/sections.cpp), so a record constructed on its own carries none of those defaults. The
// texture-map records are the exception: they are made one at a time by the map factory and
// start with their kind's defaults.
//
// Geometry is flat: vertex weights live in one array of the model and a mesh keeps the corners
// and UV layers of all its polygons in arrays of its own, each polygon naming its range. Owned
// sub-arrays elsewhere are std::vector beside the count field the ModelFile names. Elements refer
// to each other by index only, stored as read.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <variant>
#include <vector>

#include "model/model_name.h"

namespace quillmesh {

struct Vec3 {
    float x = 0.0f;
    float y = 0.0f;
    float z = 0.0f;
    friend bool operator==(const Vec3&, const Vec3&) = default;
};

struct Rgba {
    float red = 0.0f;
    float green = 0.0f;
    float blue = 0.0f;
    float alpha = 0.0f;
    friend bool operator==(const Rgba&, const Rgba&) = default;
};

struct Quaternion {
    float x = 0.0f;
    float y = 0.0f;
    float z = 0.0f;
    float w = 0.0f;
    friend bool operator==(const Quaternion&, const Quaternion&) = default;
};

// 38 floats, stored in the file exactly in this order (152 bytes).
struct NodeTransform {
    Vec3 xAxis;
    Vec3 yAxis;
    Vec3 zAxis;
    Vec3 position;
    Vec3 scale;
    std::array<float, 16> matrix{};  // 4 x 4, row by row
    Quaternion rotation;
    Vec3 eulerAngles;
    friend bool operator==(const NodeTransform&, const NodeTransform&) = default;
};
inline constexpr std::size_t kNodeTransformFloats = 38;
inline constexpr uint32_t kNodeTransformBytes = 152;
static_assert(sizeof(NodeTransform) == kNodeTransformBytes);

// The transform a decoder's scratch record starts from; unread members keep these values.
constexpr NodeTransform identityTransform() {
    NodeTransform transform;
    transform.xAxis = {1.0f, 0.0f, 0.0f};
    transform.yAxis = {0.0f, 1.0f, 0.0f};
    transform.zAxis = {0.0f, 0.0f, 1.0f};
    transform.scale = {1.0f, 1.0f, 1.0f};
    transform.matrix = {1.0f, 0.0f, 0.0f, 0.0f, 0.0f, 1.0f, 0.0f, 0.0f,
                        0.0f, 0.0f, 1.0f, 0.0f, 0.0f, 0.0f, 0.0f, 1.0f};
    transform.rotation = {0.0f, 0.0f, 0.0f, 1.0f};
    return transform;
}

struct ModelLight {
    int32_t code = 0;
    int32_t option = 0;
    NodeTransform transform;
    std::array<float, 5> params{};
    Rgba colour;
    std::array<float, 2> extraParams{};
    ModelName name;
};

struct ModelCamera {
    int32_t code = 0;
    int32_t option = 0;
    NodeTransform transform;
    float fieldOfView = 0.0f;
    float nearClip = 0.0f;
    float farClip = 0.0f;
    ModelName name;
};

// One image layer of a layered (kind 4) map.
struct MapLayer {
    ModelName fileName;
    int32_t layerA = 0;
    int32_t layerB = 0;
    float layerWeight = 1.0f;
};

// The kind-specific part of a texture map, one record per kind. Kind 1 also serves every kind
// outside 2 to 7; the map's `kind` keeps the file's value.
struct MapKind1Record {
    ModelName fileName;
    int32_t mode = 0;
    float paramA = 2.0f;
    float paramB = 1.0f;
};

struct MapKind2Record {
    ModelName fileName;
    int32_t mode = 0;
    float paramA = 2.0f;
    float paramB = 1.0f;
    float paramC = 8.0f;
    float paramD = 8.0f;
    int32_t packedValue = 0x00C4C4C4;
    int32_t extraValue = 0;
};

struct MapKind3Record {
    ModelName fileName;
    int32_t mode = 0;
    float paramA = 2.0f;
    float paramB = 1.0f;
    int32_t extraValue = 2;
};

struct MapKind4Record {
    int32_t layerCount = 0;
    std::vector<MapLayer> layers;
};

struct MapKind5Record {
    std::array<ModelName, 6> faces;
};

struct MapKind6Record {
    ModelName fileName;
    int32_t mode = 256;
};

struct MapKind7Record {
    ModelName fileName;
    int32_t mode = 0;
};

using TextureMapRecord =
    std::variant<MapKind1Record, MapKind2Record, MapKind3Record, MapKind4Record, MapKind5Record,
                 MapKind6Record, MapKind7Record>;

// The record a map of `kind` carries, with that kind's defaults.
inline TextureMapRecord makeMapRecord(int32_t kind) {
    switch (kind) {
        case 2:
            return MapKind2Record{};
        case 3:
            return MapKind3Record{};
        case 4:
            return MapKind4Record{};
        case 5:
            return MapKind5Record{};
        case 6:
            return MapKind6Record{};
        case 7:
            return MapKind7Record{};
        default:
            return MapKind1Record{};
    }
}

inline constexpr int32_t kDefaultMapFlags = 0x310000;

struct TextureMap {
    int32_t key = 0;
    int32_t kind = 0;
    int32_t mapFlags = kDefaultMapFlags;
    Vec3 mapOffset;
    Vec3 mapScale{1.0f, 1.0f, 1.0f};
    Vec3 mapAngles;
    TextureMapRecord record;

    // The single image name of kinds 1, 2, 3, 6 and 7 (and of kind-1 records for unknown
    // kinds); null for layered and six-face maps.
    const ModelName* fileName() const {
        return std::visit(
            [](const auto& kindRecord) -> const ModelName* {
                if constexpr (requires { kindRecord.fileName; }) {
                    return &kindRecord.fileName;
                } else {
                    return nullptr;
                }
            },
            record);
    }
    ModelName* fileName() {
        return const_cast<ModelName*>(static_cast<const TextureMap&>(*this).fileName());
    }
};

struct ModelMaterial {
    ModelName name;
    ModelName secondName;
    ModelName thirdName;
    int32_t flags = 0;
    std::array<Rgba, 5> colours{};
    float shininess = 0.0f;
    float opacity = 0.0f;
    int32_t mapCount = 0;
    // mapCount slots; a slot stays null until the factory places a map in it.
    std::vector<std::unique_ptr<TextureMap>> maps;
    int32_t useCount = 0;
};

// One 8-byte entry of a group's member list (never filled by the reader).
struct GroupMember {
    int32_t first = 0;
    int32_t second = 0;
};

struct ModelGroup {
    ModelName name;
    int32_t groupTag = 0;
    int32_t groupLink = 0;
    NodeTransform transform;
    int32_t memberListValue = 0;
    int32_t memberCount = 0;
    std::vector<GroupMember> members;
};

struct VertexWeight {
    int32_t boneIndex = 0;
    float weight = 0.0f;
};

struct ModelVertex {
    Vec3 position;
    Vec3 normal;
    Rgba colour;
    // This vertex's weights: weightCount entries of ModelData::vertexWeights from firstWeight.
    int32_t weightCount = 0;
    uint32_t firstWeight = 0;
};

// Ten 4-byte fields, stored in the file exactly in this order (40 bytes).
struct AuxRecord {
    std::array<int32_t, 9> auxValues{};
    float auxScalar = 0.0f;
    friend bool operator==(const AuxRecord&, const AuxRecord&) = default;
};
inline constexpr uint32_t kAuxRecordBytes = 40;

struct UVCoord {
    int32_t uvTag = 0;
    float u = 0.0f;
    float v = 0.0f;
    friend bool operator==(const UVCoord&, const UVCoord&) = default;
};

struct UVSet {
    ModelName name;
    int32_t coordCount = 0;
    std::vector<UVCoord> coords;
    int32_t auxCount = 0;
    std::vector<AuxRecord> auxRecords;
};

// The number of UV layers a classic polygon holds.
inline constexpr int32_t kPolygonUVLayers = 2;
// Classic polygons hold at least this many corners; missing corners hold -1.
inline constexpr int32_t kMinimumPolygonCorners = 3;

// One polygon of a mesh. Its corners are cornerCount entries of the mesh's vertexIndices and
// cornerValues from firstCorner; UV layer l of it is cornerCount entries of the mesh's uvIndices
// and uvValues from firstUV + l * cornerCount.
struct ModelPolygon {
    int32_t polygonTag = 0;
    int32_t materialIndex = 0;
    int32_t polygonValue = 0;
    int32_t cornerCount = 0;
    uint32_t firstCorner = 0;
    int32_t uvLayerCount = 0;
    uint32_t firstUV = 0;
    Vec3 faceNormal;
};

struct ModelMesh {
    int32_t polygonCount = 0;
    std::vector<ModelPolygon> polygons;
    std::vector<int32_t> vertexIndices;
    std::vector<int32_t> cornerValues;
    std::vector<int32_t> uvIndices;
    std::vector<int32_t> uvValues;

    std::span<const int32_t> corners(const ModelPolygon& polygon) const noexcept {
        return range(vertexIndices, polygon.firstCorner, polygon.cornerCount);
    }
    std::span<const int32_t> valuesOfCorners(const ModelPolygon& polygon) const noexcept {
        return range(cornerValues, polygon.firstCorner, polygon.cornerCount);
    }
    // Layer `layer` of the polygon; empty for a layer it does not hold.
    std::span<const int32_t> uvIndicesOf(const ModelPolygon& polygon,
                                         int32_t layer) const noexcept {
        return layerRange(uvIndices, polygon, layer);
    }
    std::span<const int32_t> uvValuesOf(const ModelPolygon& polygon, int32_t layer) const noexcept {
        return layerRange(uvValues, polygon, layer);
    }

  private:
    static std::span<const int32_t> range(const std::vector<int32_t>& values, uint64_t first,
                                          int32_t count) noexcept {
        if (count <= 0 || first > values.size() ||
            static_cast<uint64_t>(count) > values.size() - first) {
            return {};
        }
        return {values.data() + first, static_cast<std::size_t>(count)};
    }
    static std::span<const int32_t> layerRange(const std::vector<int32_t>& values,
                                               const ModelPolygon& polygon,
                                               int32_t layer) noexcept {
        if (layer < 0 || layer >= polygon.uvLayerCount) {
            return {};
        }
        return range(values,
                     polygon.firstUV + uint64_t{static_cast<uint32_t>(layer)} *
                                           static_cast<uint32_t>(std::max(polygon.cornerCount, 0)),
                     polygon.cornerCount);
    }
};

struct ModelBone {
    ModelName name;
    int32_t boneLink = 0;
    NodeTransform transform;
    Rgba colour;
    int32_t useCount = 0;
};

// Keys are stored in the file exactly in these layouts (16, 20 and 16 bytes).
struct PositionKey {
    float time = 0.0f;
    Vec3 value;
};

struct RotationKey {
    float time = 0.0f;
    Quaternion value;
};

struct ScaleKey {
    float time = 0.0f;
    Vec3 value;
};

struct BoneTrack {
    int32_t positionKeyCount = 0;
    std::vector<PositionKey> positionKeys;
    int32_t rotationKeyCount = 0;
    std::vector<RotationKey> rotationKeys;
    int32_t scaleKeyCount = 0;
    std::vector<ScaleKey> scaleKeys;
};

struct ModelAnimation {
    ModelName name;
    int32_t animTag = 0;
    float animStart = 0.0f;
    float animEnd = 0.0f;
    float animRate = 0.0f;
    // The file's track count; a decoder keeps it no larger than tracks.size().
    int32_t trackCount = 0;
    // Track i belongs to bone i. An animation has a track for every bone, but holds only the
    // ones its file stores: the track of a bone beyond `tracks` is empty.
    std::vector<BoneTrack> tracks;

    const BoneTrack& trackOf(std::size_t bone) const noexcept {
        static const BoneTrack kEmptyTrack;
        return bone < tracks.size() ? tracks[bone] : kEmptyTrack;
    }
};

// A file stored inside a version-34 ModelFile, written beside the model by the resolve stage.
struct EmbeddedFile {
    ModelName name;
    std::vector<uint8_t> content;
    // Whether it came before the materials: texture names are then probed after it exists.
    bool beforeMaterials = false;
};

}  // namespace quillmesh
