// The allocation step between the two passes: element arrays sized by the declared counts and
// filled with their defaults, and the per-element sub-arrays the decoders fill.
#include <algorithm>
#include <cstdio>
#include <exception>
#include <new>
#include <stdexcept>
#include <string>

#include "model/kvt_plugin.h"

namespace quillmesh {
namespace {

constexpr int32_t kDefaultGroupCount = 1;
constexpr int32_t kDefaultUVSetCount = 2;
constexpr float kDefaultShininess = 128.0f;
constexpr float kDefaultAnimEnd = 30.0f;
constexpr float kDefaultAnimRate = 30.0f;
constexpr Rgba kWhite{1.0f, 1.0f, 1.0f, 1.0f};
constexpr Rgba kOpaqueBlack{0.0f, 0.0f, 0.0f, 1.0f};
// Aux-record fields 4 to 9 (indices 3 to 8) start at -1 in the model's aux-record array.
constexpr std::size_t kFirstUnsetAuxValue = 3;

// Releases `slot`, then makes `count` zero-state elements and gives each its defaults through
// `applyDefaults(element, index)`, which returns false when memory runs out.
template <typename T, typename Defaults>
bool allocateSlot(const KVTPlugin& plugin, ElementSlot<T>& slot, int32_t count,
                  Defaults applyDefaults) noexcept {
    if (count <= 0) {
        return false;
    }
    slot.release();
    if (!plugin.allocationFits(static_cast<uint64_t>(count), sizeof(T))) {
        return false;
    }
    try {
        slot.items.resize(static_cast<std::size_t>(count));
    } catch (const std::bad_alloc&) {
        slot.release();
        return false;
    } catch (const std::length_error&) {
        slot.release();
        return false;
    }
    slot.count = count;
    for (int32_t i = 0; i < count; ++i) {
        if (!applyDefaults(slot.items[static_cast<std::size_t>(i)], i)) {
            slot.release();
            return false;
        }
    }
    return true;
}

// Releases `items`, then makes `count` copies of `value`; `count` (the record's count field)
// follows the array.
template <typename T>
bool replaceArray(std::vector<T>& items, int32_t& itemCount, int32_t count, const T& value) {
    if (count <= 0) {
        return false;
    }
    std::vector<T>().swap(items);
    itemCount = 0;
    try {
        items.assign(static_cast<std::size_t>(count), value);
    } catch (const std::bad_alloc&) {
        return false;
    } catch (const std::length_error&) {
        return false;
    }
    itemCount = count;
    return true;
}

bool nameWithNumber(ModelName& name, const char* prefix, int32_t number) {
    char text[32];
    const int length = std::snprintf(text, sizeof text, "%s%d", prefix, static_cast<int>(number));
    return length > 0 &&
           name.assignNarrow(std::string_view(text, static_cast<std::size_t>(length)));
}

}  // namespace

bool KVTPlugin::allocationFits(uint64_t count, uint64_t elementBytes) const noexcept {
    if (elementBytes == 0) {
        return true;
    }
    const uint64_t budget = kAllocationFloorBytes + uint64_t{length_} * kAllocationBytesPerFileByte;
    return count <= budget / elementBytes;
}

bool KVTPlugin::allocateLights(int32_t count) noexcept {
    return allocateSlot(*this, model.lights, count, [](ModelLight&, int32_t) { return true; });
}

bool KVTPlugin::allocateCameras(int32_t count) noexcept {
    return allocateSlot(*this, model.cameras, count, [](ModelCamera&, int32_t) { return true; });
}

bool KVTPlugin::allocateMaterials(int32_t count) noexcept {
    return allocateSlot(*this, model.materials, count, [](ModelMaterial& material, int32_t) {
        material.colours.fill(kOpaqueBlack);
        material.colours[0] = kWhite;
        material.shininess = kDefaultShininess;
        material.opacity = 1.0f;
        return true;
    });
}

bool KVTPlugin::allocateGroups(int32_t count) noexcept {
    return allocateSlot(*this, model.groups, count, [](ModelGroup& group, int32_t index) {
        return nameWithNumber(group.name, "KVTGroup", index);
    });
}

bool KVTPlugin::allocateVertices(int32_t count) noexcept {
    return allocateSlot(*this, model.vertices, count, [](ModelVertex& vertex, int32_t) {
        vertex.colour = kWhite;
        return true;
    });
}

bool KVTPlugin::allocateAuxRecords(int32_t count) noexcept {
    return allocateSlot(*this, model.auxRecords, count, [](AuxRecord& record, int32_t) {
        std::fill(record.auxValues.begin() + kFirstUnsetAuxValue, record.auxValues.end(), -1);
        return true;
    });
}

bool KVTPlugin::allocateUVSets(int32_t count) noexcept {
    return allocateSlot(*this, model.uvSets, count, [](UVSet& uvSet, int32_t index) {
        return nameWithNumber(uvSet.name, "UVSet", index + 1);
    });
}

bool KVTPlugin::allocateMeshes(int32_t count) noexcept {
    return allocateSlot(*this, model.meshes, count, [](ModelMesh&, int32_t) { return true; });
}

bool KVTPlugin::allocateBones(int32_t count) noexcept {
    return allocateSlot(*this, model.bones, count, [](ModelBone& bone, int32_t) {
        bone.boneLink = -1;
        bone.transform.rotation = {0.0f, 0.0f, 0.0f, 1.0f};
        bone.transform.scale = {1.0f, 1.0f, 1.0f};
        bone.colour = kWhite;
        return true;
    });
}

bool KVTPlugin::allocateAnimations(int32_t count) noexcept {
    return allocateSlot(*this, model.animations, count, [](ModelAnimation& animation, int32_t) {
        animation.animEnd = kDefaultAnimEnd;
        animation.animRate = kDefaultAnimRate;
        return animation.name.assignNarrow("DefaultAnim");
    });
}

bool KVTPlugin::allocateSections() noexcept {
    const auto declared = [this](SectionId section) { return model.declaredCount(section); };
    const bool declaresElements =
        declared(SectionId::kMaterials) != 0 || declared(SectionId::kLights) != 0 ||
        declared(SectionId::kCameras) != 0 || declared(SectionId::kGroups) != 0 ||
        declared(SectionId::kVertices) != 0 || declared(SectionId::kMeshes) != 0 ||
        declared(SectionId::kBones) != 0 || declared(SectionId::kAnimations) != 0;
    if (!declaresElements) {
        return false;
    }
    const auto allocateIfDeclared = [](int32_t count, auto allocate) {
        return count <= 0 || allocate(count);
    };
    int32_t groupCount = declared(SectionId::kGroups);
    if (groupCount == 0) {
        groupCount = kDefaultGroupCount;
    }
    if (!allocateIfDeclared(declared(SectionId::kLights),
                            [this](int32_t n) { return allocateLights(n); }) ||
        !allocateIfDeclared(declared(SectionId::kCameras),
                            [this](int32_t n) { return allocateCameras(n); }) ||
        !allocateIfDeclared(declared(SectionId::kMaterials),
                            [this](int32_t n) { return allocateMaterials(n); }) ||
        !allocateIfDeclared(groupCount, [this](int32_t n) { return allocateGroups(n); }) ||
        !allocateIfDeclared(declared(SectionId::kVertices),
                            [this](int32_t n) { return allocateVertices(n); }) ||
        !allocateIfDeclared(declared(SectionId::kAuxRecords),
                            [this](int32_t n) { return allocateAuxRecords(n); })) {
        return false;
    }

    int32_t uvSetCount = declared(SectionId::kUVSets);
    if (uvSetCount == 0) {
        uvSetCount = kDefaultUVSetCount;
    }
    if (uvSetCount > 0) {
        if (!allocateUVSets(uvSetCount)) {
            return false;
        }
        // Old files keep their UV coordinates inline in the polygons; the UV sets get room for
        // one coordinate per corner, which the polygon decoder fills.
        if (model.version < kNewLayoutVersion && model.cornerTotal > 0) {
            const uint64_t coordinates = uint64_t{static_cast<uint32_t>(uvSetCount)} *
                                         static_cast<uint32_t>(model.cornerTotal);
            if (!allocationFits(coordinates, sizeof(UVCoord))) {
                return false;
            }
            for (UVSet& uvSet : model.uvSets.items) {
                if (!allocateUVCoords(uvSet, model.cornerTotal)) {
                    return false;
                }
            }
        }
    }

    if (!allocateIfDeclared(declared(SectionId::kMeshes),
                            [this](int32_t n) { return allocateMeshes(n); }) ||
        !allocateIfDeclared(declared(SectionId::kBones),
                            [this](int32_t n) { return allocateBones(n); }) ||
        !allocateIfDeclared(declared(SectionId::kAnimations),
                            [this](int32_t n) { return allocateAnimations(n); })) {
        return false;
    }
    if (model.bones.exists() && model.animations.exists()) {
        // One track per bone in every animation: a product of two counts, so bounded as a whole.
        const uint64_t tracks = uint64_t{static_cast<uint32_t>(model.animations.count)} *
                                static_cast<uint32_t>(model.bones.count);
        if (!allocationFits(tracks, sizeof(BoneTrack))) {
            return false;
        }
        for (ModelAnimation& animation : model.animations.items) {
            if (!allocateBoneTracks(animation, model.bones.count)) {
                return false;
            }
        }
    }
    return true;
}

bool allocateUVCoords(UVSet& uvSet, int32_t count) noexcept {
    return replaceArray(uvSet.coords, uvSet.coordCount, count, UVCoord{});
}

bool allocateUVSetAux(UVSet& uvSet, int32_t count) noexcept {
    return replaceArray(uvSet.auxRecords, uvSet.auxCount, count, AuxRecord{});
}

bool allocateBoneTracks(ModelAnimation& animation, int32_t count) noexcept {
    return replaceArray(animation.tracks, animation.trackCount, count, BoneTrack{});
}

bool allocatePositionKeys(BoneTrack& track, int32_t count) noexcept {
    return replaceArray(track.positionKeys, track.positionKeyCount, count, PositionKey{});
}

bool allocateRotationKeys(BoneTrack& track, int32_t count) noexcept {
    return replaceArray(track.rotationKeys, track.rotationKeyCount, count,
                        RotationKey{0.0f, {0.0f, 0.0f, 0.0f, 1.0f}});
}

bool allocateScaleKeys(BoneTrack& track, int32_t count) noexcept {
    return replaceArray(track.scaleKeys, track.scaleKeyCount, count,
                        ScaleKey{0.0f, {1.0f, 1.0f, 1.0f}});
}

bool allocateVertexWeights(ModelVertex& vertex, int32_t count) noexcept {
    return replaceArray(vertex.weights, vertex.weightCount, count, VertexWeight{-1, 1.0f});
}

bool allocatePolygons(ModelMesh& mesh, int32_t count) noexcept {
    ModelPolygon polygon;
    polygon.polygonTag = -1;
    polygon.materialIndex = -1;
    return replaceArray(mesh.polygons, mesh.polygonCount, count, polygon);
}

bool allocatePolygonCorners(ModelPolygon& polygon, int32_t count) noexcept {
    if (!polygon.vertexIndices.empty() || !polygon.cornerValues.empty() ||
        !polygon.uvLayers.empty()) {
        return false;
    }
    const int32_t corners = std::max(count, kMinimumPolygonCorners);
    const auto size = static_cast<std::size_t>(corners);
    try {
        polygon.vertexIndices.assign(size, -1);
        polygon.cornerValues.assign(size, -1);
        polygon.uvLayers.resize(kPolygonUVLayers);
        for (PolygonUVLayer& layer : polygon.uvLayers) {
            layer.uvIndices.assign(size, -1);
            layer.uvValues.assign(size, -1);
        }
    } catch (const std::exception&) {
        // Exhausted memory: nothing half-made stays behind.
        std::vector<int32_t>().swap(polygon.vertexIndices);
        std::vector<int32_t>().swap(polygon.cornerValues);
        std::vector<PolygonUVLayer>().swap(polygon.uvLayers);
        return false;
    }
    polygon.cornerCount = corners;
    polygon.uvLayerCount = kPolygonUVLayers;
    return true;
}

bool allocateExactPolygonCorners(ModelPolygon& polygon, int32_t cornerCount,
                                 int32_t layerCount) noexcept {
    if (cornerCount < 0 || layerCount < 0 || !polygon.vertexIndices.empty() ||
        !polygon.cornerValues.empty() || !polygon.uvLayers.empty()) {
        return false;
    }
    const auto corners = static_cast<std::size_t>(cornerCount);
    try {
        polygon.vertexIndices.assign(corners, 0);
        polygon.cornerValues.assign(corners, 0);
        polygon.uvLayers.resize(static_cast<std::size_t>(layerCount));
        for (PolygonUVLayer& layer : polygon.uvLayers) {
            layer.uvIndices.assign(corners, 0);
            layer.uvValues.assign(corners, 0);
        }
    } catch (const std::exception&) {
        // Exhausted memory: nothing half-made stays behind.
        std::vector<int32_t>().swap(polygon.vertexIndices);
        std::vector<int32_t>().swap(polygon.cornerValues);
        std::vector<PolygonUVLayer>().swap(polygon.uvLayers);
        return false;
    }
    polygon.cornerCount = cornerCount;
    polygon.uvLayerCount = layerCount;
    return true;
}

}  // namespace quillmesh
