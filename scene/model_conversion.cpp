#include "scene/model_conversion.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <new>
#include <stdexcept>
#include <utility>
#include <variant>
#include <vector>

#include "model/file_resolution.h"
#include "model/texture_maps.h"
#include "platform/platform.h"

namespace quillmesh {
namespace {

// Material positions past this name the default material.
constexpr std::size_t kMaxPosition = std::numeric_limits<int32_t>::max();

// Model shininess runs from 0 to 128; the host's from 0 to 1.
constexpr float kShininessScale = 128.0f;

// The model material flag that makes a material two-sided.
constexpr int32_t kTwoSidedFlag = 0x2;

// mapFlags bits of a layered diffuse map: which layer is the diffuse image.
constexpr int32_t kFirstLayerFlag = 0x1;
constexpr int32_t kSecondLayerFlag = 0x2;

// The map kinds the conversion reads: one image, or image layers.
constexpr int32_t kSingleImageKind = 1;
constexpr int32_t kLayeredKind = 4;

// Model colours copied into the scene: colours 1 to 4, in this order.
constexpr std::size_t kDiffuseColour = 0;
constexpr std::size_t kAmbientColour = 1;
constexpr std::size_t kEmissiveColour = 2;
constexpr std::size_t kSpecularColour = 3;

// The first map of the table with `key`; empty slots are skipped.
const TextureMap* firstMapWithKey(const ModelMaterial& material, int32_t key) {
    for (const std::unique_ptr<TextureMap>& map : material.maps) {
        if (map != nullptr && map->key == key) {
            return map.get();
        }
    }
    return nullptr;
}

// The image name of a kind-1 map; null for every other kind, also for the
// kinds that share the kind-1 record.
const ModelName* singleImageName(const TextureMap& map) {
    if (map.kind != kSingleImageKind) {
        return nullptr;
    }
    const MapKind1Record* record = std::get_if<MapKind1Record>(&map.record);
    return record == nullptr ? nullptr : &record->fileName;
}

// The diffuse layer of a kind-4 map as its flags choose it; null when the
// flags choose none or the chosen layer does not exist.
const ModelName* diffuseLayerName(const TextureMap& map) {
    if (map.kind != kLayeredKind) {
        return nullptr;
    }
    const MapKind4Record* record = std::get_if<MapKind4Record>(&map.record);
    if (record == nullptr || record->layers.empty()) {
        return nullptr;
    }
    // The first layer when its flag is set, whatever the second's.
    std::size_t layer = 0;
    if ((map.mapFlags & kFirstLayerFlag) == 0) {
        if ((map.mapFlags & kSecondLayerFlag) == 0) {
            return nullptr;
        }
        layer = 1;
    }
    return layer < record->layers.size() ? &record->layers[layer].fileName : nullptr;
}

// Puts `path` into a scene map slot as the host expects a loaded texture.
// False when memory runs out (the slot is then unchanged).
bool fillMapSlot(SceneTextureMap& slot, std::u16string_view path) {
    if (!slot.path.assign(platform::toUtf8(path))) {
        return false;
    }
    slot.strength = 1.0;
    slot.flags = 0;
    return true;
}

void copyMaterialValues(const ModelMaterial& model, SceneMaterial& scene) {
    const Rgba& diffuse = model.colours[kDiffuseColour];
    const Rgba& ambient = model.colours[kAmbientColour];
    const Rgba& emissive = model.colours[kEmissiveColour];
    const Rgba& specular = model.colours[kSpecularColour];
    scene.diffuseRed = diffuse.red;
    scene.diffuseGreen = diffuse.green;
    scene.diffuseBlue = diffuse.blue;
    scene.ambientRed = ambient.red;
    scene.ambientGreen = ambient.green;
    scene.ambientBlue = ambient.blue;
    scene.emissiveRed = emissive.red;
    scene.emissiveGreen = emissive.green;
    scene.emissiveBlue = emissive.blue;
    scene.specularRed = specular.red;
    scene.specularGreen = specular.green;
    scene.specularBlue = specular.blue;
    // Both computed in single precision, as the model stores them, then widened.
    scene.shininess = static_cast<double>(model.shininess / kShininessScale);
    scene.secondShininess = 0.0;
    scene.transparency = static_cast<double>(1.0f - model.opacity);
    scene.twoSided = (model.flags & kTwoSidedFlag) != 0;
}

// Map slot 0 from the diffuse texture, slots 4, 2 and 3 from the kind-1 maps
// with keys 1, 2 and 3. A texture whose path is refused leaves its slot as it
// was. False when memory runs out.
bool copyMaterialMaps(std::u16string_view directory, const ModelMaterial& model,
                      SceneMaterial& scene) {
    std::u16string path;
    if (diffuseTexturePath(directory, model, path) && !fillMapSlot(scene.maps[0], path)) {
        return false;
    }
    struct KeySlot {
        int32_t key;
        std::size_t slot;
    };
    constexpr KeySlot kKeySlots[] = {
        {1, kSlotForMapKey1}, {2, kSlotForMapKey2}, {3, kSlotForMapKey3}};
    for (const KeySlot& keySlot : kKeySlots) {
        const TextureMap* map = firstMapWithKey(model, keySlot.key);
        const ModelName* name = map == nullptr ? nullptr : singleImageName(*map);
        if (name == nullptr || !joinTexturePath(directory, name->wide(), path)) {
            continue;
        }
        if (!fillMapSlot(scene.maps[keySlot.slot], path)) {
            return false;
        }
    }
    return true;
}

// Finds or creates the scene material of every model material and copies its
// values and textures; `byModelIndex` receives each model material's position
// in the scene's list (0, the default material, for one that could not be
// made).
bool convertMaterials(const KVTPlugin& plugin, ImportScene& scene,
                      std::vector<int32_t>& byModelIndex) {
    const std::vector<ModelMaterial>& materials = plugin.model.materials.items;
    if (materials.empty()) {
        return true;
    }
    const std::u16string directory = modelDirectory(plugin.sourcePath);
    byModelIndex.assign(materials.size(), 0);
    for (std::size_t i = 0; i < materials.size(); ++i) {
        const ModelMaterial& model = materials[i];
        std::size_t position = 0;
        SceneMaterial* material =
            findOrCreateMaterial(scene, platform::toUtf8(model.name.wide()), &position);
        if (material == nullptr) {
            continue;
        }
        byModelIndex[i] = position > kMaxPosition ? 0 : static_cast<int32_t>(position);
        copyMaterialValues(model, *material);
        if (!copyMaterialMaps(directory, model, *material)) {
            return false;
        }
    }
    return true;
}

// `count` entries made by `make(i)`, into an array of exactly that size.
// Throws std::bad_alloc when the array cannot be had.
template <class T, class Make>
void fillArray(SceneArray<T>& array, std::size_t count, Make make) {
    if (count > kSceneMaxEntries) {
        throw std::bad_alloc();
    }
    array.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        array.push_back(make(i));
    }
}

void convertVertices(const ModelData& model, SceneMesh& mesh) {
    const std::vector<ModelVertex>& vertices = model.vertices.items;
    fillArray(mesh.vertices, vertices.size(), [&](std::size_t i) {
        const Vec3& p = vertices[i].position;
        return sceneAxes(p.x, p.y, p.z);
    });
    fillArray(mesh.normals, vertices.size(), [&](std::size_t i) {
        const Vec3& n = vertices[i].normal;
        return sceneAxes(n.x, n.y, n.z);
    });
}

// The first UV set's coordinates, v flipped (in double, after widening).
void convertUVs(const ModelData& model, SceneMesh& mesh) {
    if (model.uvSets.items.empty()) {
        return;
    }
    const std::vector<UVCoord>& coords = model.uvSets.items.front().coords;
    fillArray(mesh.uvs, coords.size(), [&](std::size_t i) {
        const double u = coords[i].u;
        const double v = coords[i].v;
        return SceneUV{u, 1.0 - v};
    });
}

// What the polygons' indices are checked against.
struct PolygonBounds {
    std::size_t vertexCount = 0;
    std::size_t uvCount = 0;
    // Scene material position per model material; empty without materials.
    const std::vector<int32_t>* materialPositions = nullptr;
};

bool inRange(int32_t index, std::size_t count) {
    return index >= 0 && static_cast<std::size_t>(index) < count;
}

int32_t sceneMaterialIndex(int32_t modelIndex, const PolygonBounds& bounds) {
    const std::vector<int32_t>& positions = *bounds.materialPositions;
    return inRange(modelIndex, positions.size()) ? positions[static_cast<std::size_t>(modelIndex)]
                                                 : 0;
}

// Appends one model polygon to the scene mesh; `corners` is scratch room for
// its corners. A polygon without corners is kept as one with no corners (the
// host receives it with a corner count of 0); one with a corner naming a
// vertex outside the vertex table, or whose corners lie outside the mesh's
// arrays, is left out. Throws std::bad_alloc when the mesh cannot take it.
void appendModelPolygon(const ModelMesh& modelMesh, const ModelPolygon& model,
                        const PolygonBounds& bounds, std::vector<SceneCorner>& corners,
                        SceneMesh& mesh) {
    const std::span<const int32_t> vertices = modelMesh.corners(model);
    if (vertices.empty() && model.cornerCount > 0) {
        return;
    }
    for (const int32_t vertex : vertices) {
        if (!inRange(vertex, bounds.vertexCount)) {
            return;
        }
    }
    // A polygon without layers has no UV index of its own: its corners use UV 0.
    const std::span<const int32_t> uvIndices = modelMesh.uvIndicesOf(model, 0);
    corners.clear();
    for (std::size_t k = 0; k < vertices.size(); ++k) {
        const int32_t vertex = vertices[k];
        int32_t uv = k < uvIndices.size() ? uvIndices[k] : 0;
        if (!inRange(uv, bounds.uvCount)) {
            uv = 0;
        }
        corners.push_back(SceneCorner{vertex, vertex, uv, vertex});
    }
    if (!appendPolygon(mesh, corners, 0, 1, sceneMaterialIndex(model.materialIndex, bounds))) {
        throw std::bad_alloc();
    }
}

// The first mesh's polygons. The model's corner total bounds the scene's, so
// both arrays are sized once and never grow.
void convertPolygons(const ModelData& model, const PolygonBounds& bounds, SceneMesh& mesh) {
    if (model.meshes.items.empty()) {
        return;
    }
    const ModelMesh& modelMesh = model.meshes.items.front();
    if (modelMesh.polygons.size() > kSceneMaxEntries ||
        modelMesh.vertexIndices.size() > kSceneMaxEntries) {
        throw std::bad_alloc();
    }
    mesh.polygons.reserve(modelMesh.polygons.size());
    mesh.corners.reserve(modelMesh.vertexIndices.size());
    std::vector<SceneCorner> corners;
    for (const ModelPolygon& modelPolygon : modelMesh.polygons) {
        appendModelPolygon(modelMesh, modelPolygon, bounds, corners, mesh);
    }
}

// Gives back the memory of a model array the conversion no longer needs.
template <class T>
void releaseModelArray(std::vector<T>& array) noexcept {
    std::vector<T>().swap(array);
}

// Throws std::bad_alloc when memory runs out. With `releasable` (the model of
// `plugin`), the model's vertices, UV sets and meshes are released as soon as
// they have been copied, so model and scene never both hold all of the
// geometry.
bool convertUnguarded(const KVTPlugin& plugin, ModelData* releasable, ImportScene& scene,
                      SceneMesh*& meshOut) {
    SceneMaterial* defaultMaterial = findOrCreateMaterial(scene, kDefaultMaterialName);
    if (defaultMaterial == nullptr) {
        return false;
    }
    defaultMaterial->diffuseRed = 1.0;
    defaultMaterial->diffuseGreen = 1.0;
    defaultMaterial->diffuseBlue = 1.0;

    SceneOwner<SceneMesh> created = createSceneMesh("", 0, 0, 0, 0, 0, 0);
    SceneMesh* const mesh = created.get();
    if (mesh == nullptr || !appendElement(scene.meshes, std::move(created))) {
        return false;
    }
    meshOut = mesh;

    std::vector<int32_t> materialPositions;
    if (!convertMaterials(plugin, scene, materialPositions)) {
        return false;
    }
    const ModelData& model = plugin.model;
    PolygonBounds bounds;
    bounds.vertexCount = model.vertices.items.size();
    bounds.uvCount = model.uvSets.items.empty() ? 0 : model.uvSets.items.front().coords.size();
    bounds.materialPositions = &materialPositions;
    convertVertices(model, *mesh);
    if (releasable != nullptr) {
        releaseModelArray(releasable->vertices.items);
        releaseModelArray(releasable->vertexWeights);
    }
    convertUVs(model, *mesh);
    if (releasable != nullptr) {
        releaseModelArray(releasable->uvSets.items);
    }
    convertPolygons(model, bounds, *mesh);
    if (releasable != nullptr) {
        releaseModelArray(releasable->meshes.items);
    }
    return true;
}

// Runs the conversion; see convertModelToScene.
bool convert(const KVTPlugin& plugin, ModelData* releasable, ImportScene& scene) noexcept {
    SceneMesh* mesh = nullptr;
    bool converted = false;
    try {
        converted = convertUnguarded(plugin, releasable, scene, mesh);
    } catch (const std::exception&) {  // out of memory, or past an array's limit
        converted = false;
    }
    // Tells the host to derive normals itself; also true of a mesh whose
    // conversion stopped before its normals.
    if (mesh != nullptr && mesh->normals.empty()) {
        mesh->hostDerivesNormals = true;
    }
    return converted;
}

}  // namespace

bool joinTexturePath(std::u16string_view directory, std::u16string_view name,
                     std::u16string& path) {
    if (name.empty()) {
        return false;
    }
    if (namesItsPlace(name)) {
        if (name.size() > kTexturePathMaxUnits) {
            return false;
        }
        path.assign(name);
        return true;
    }
    if (name.size() > kTexturePathMaxUnits ||
        directory.size() > kTexturePathMaxUnits - name.size()) {
        return false;
    }
    std::u16string joined;
    joined.reserve(directory.size() + name.size());
    joined.append(directory);
    joined.append(name);
    path = std::move(joined);
    return true;
}

bool diffuseTexturePath(std::u16string_view directory, const ModelMaterial& material,
                        std::u16string& path) {
    const TextureMap* map = firstMapWithKey(material, 0);
    if (map == nullptr) {
        return false;
    }
    const ModelName* name = singleImageName(*map);
    if (name == nullptr) {
        name = diffuseLayerName(*map);
    }
    return name != nullptr && joinTexturePath(directory, name->wide(), path);
}

uint64_t sceneBytesNeeded(const ModelData& model) noexcept {
    // A material's record, descriptor and flattened bytes are mostly its map slots and texts.
    constexpr uint64_t kBytesPerMaterial = 32 << 10;
    // The scene's array entry plus its descriptor block's bytes.
    constexpr uint64_t kBytesPerVertex = 2 * (sizeof(SceneVector3) + 24);  // position and normal
    constexpr uint64_t kBytesPerUV = sizeof(SceneUV) + 16;
    constexpr uint64_t kBytesPerPolygon = sizeof(ScenePolygon) + 56;
    constexpr uint64_t kBytesPerCorner = sizeof(SceneCorner) + 16;
    uint64_t polygons = 0;
    uint64_t corners = 0;
    if (!model.meshes.items.empty()) {
        const ModelMesh& mesh = model.meshes.items.front();
        polygons = mesh.polygons.size();
        corners = mesh.vertexIndices.size();
    }
    const uint64_t uvs = model.uvSets.items.empty() ? 0 : model.uvSets.items.front().coords.size();
    // Every count is that of an array in memory, so none of the products can overflow.
    return (uint64_t{model.materials.items.size()} + 1) * kBytesPerMaterial +
           uint64_t{model.vertices.items.size()} * kBytesPerVertex + uvs * kBytesPerUV +
           polygons * kBytesPerPolygon + corners * kBytesPerCorner;
}

bool takeSceneMemory(ModelData& model) noexcept {
    return model.memory.take(1, sceneBytesNeeded(model));
}

bool convertModelToScene(const KVTPlugin& plugin, ImportScene& scene) noexcept {
    return convert(plugin, nullptr, scene);
}

bool convertAndReleaseModel(KVTPlugin& plugin, ImportScene& scene) noexcept {
    return convert(plugin, &plugin.model, scene);
}

}  // namespace quillmesh
