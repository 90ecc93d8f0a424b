#include "scene/model_conversion.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <new>
#include <stdexcept>
#include <unordered_map>
#include <utility>
#include <variant>
#include <vector>

#include "model/file_resolution.h"
#include "model/texture_maps.h"
#include "platform/platform.h"

namespace quillmesh {
namespace {

// Every growth capacity of the conversion starts here.
constexpr int32_t kInitialCapacity = 8;

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

// Scene material positions in list order, for the material indices of
// polygons. Positions are recorded as materials are found or created, so
// looking one up never walks the list again.
class MaterialPositions {
  public:
    // Records the materials the scene already holds.
    explicit MaterialPositions(const ImportScene& scene) {
        int32_t position = 0;
        for (const SceneMaterial& material : scene.materials) {
            byMaterial_.emplace(&material, position);
            position = nextPosition(position);
        }
    }

    // The position of `material`, which findOrCreateMaterial just returned;
    // `sizeBefore` is the list's size before that call. A material the call
    // created is the last in the list; one it found was recorded earlier.
    int32_t positionOf(const ImportScene& scene, const SceneMaterial* material,
                       std::size_t sizeBefore) {
        if (scene.materials.size() > sizeBefore) {
            const std::size_t last = scene.materials.size() - 1;
            const int32_t position =
                last > static_cast<std::size_t>(kMaxPosition) ? 0 : static_cast<int32_t>(last);
            byMaterial_.emplace(material, position);
            return position;
        }
        const auto found = byMaterial_.find(material);
        return found == byMaterial_.end() ? 0 : found->second;
    }

  private:
    static constexpr int32_t kMaxPosition = std::numeric_limits<int32_t>::max();

    static int32_t nextPosition(int32_t position) {
        return position == kMaxPosition ? position : position + 1;
    }

    std::unordered_map<const SceneMaterial*, int32_t> byMaterial_;
};

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
bool convertMaterials(const KVTPlugin& plugin, ImportScene& scene, MaterialPositions& positions,
                      std::vector<int32_t>& byModelIndex) {
    const std::vector<ModelMaterial>& materials = plugin.model.materials.items;
    if (materials.empty()) {
        return true;
    }
    const std::u16string directory = modelDirectory(plugin.sourcePath);
    byModelIndex.assign(materials.size(), 0);
    for (std::size_t i = 0; i < materials.size(); ++i) {
        const ModelMaterial& model = materials[i];
        const std::size_t sizeBefore = scene.materials.size();
        SceneMaterial* material = findOrCreateMaterial(scene, platform::toUtf8(model.name.wide()));
        if (material == nullptr) {
            continue;
        }
        byModelIndex[i] = positions.positionOf(scene, material, sizeBefore);
        copyMaterialValues(model, *material);
        if (!copyMaterialMaps(directory, model, *material)) {
            return false;
        }
    }
    return true;
}

bool convertVertices(const ModelData& model, SceneMesh& mesh) {
    int32_t vertexCapacity = kInitialCapacity;
    for (const ModelVertex& vertex : model.vertices.items) {
        const Vec3& p = vertex.position;
        if (!pushVertex(mesh, p.x, p.y, p.z, vertexCapacity)) {
            return false;
        }
    }
    int32_t normalCapacity = kInitialCapacity;
    for (const ModelVertex& vertex : model.vertices.items) {
        const Vec3& n = vertex.normal;
        if (!pushNormal(mesh, n.x, n.y, n.z, normalCapacity)) {
            return false;
        }
    }
    return true;
}

// The first UV set's coordinates, v flipped (in double, after widening).
bool convertUVs(const ModelData& model, SceneMesh& mesh) {
    if (model.uvSets.items.empty()) {
        return true;
    }
    int32_t uvCapacity = kInitialCapacity;
    for (const UVCoord& coord : model.uvSets.items.front().coords) {
        const double u = coord.u;
        const double v = coord.v;
        if (!pushUV(mesh, u, 1.0 - v, uvCapacity)) {
            return false;
        }
    }
    return true;
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

// One model polygon as a scene polygon. False when the polygon is left out:
// no corners, or a corner naming a vertex outside the vertex table.
bool makePolygon(const ModelMesh& mesh, const ModelPolygon& model, const PolygonBounds& bounds,
                 ScenePolygon& polygon) {
    const std::span<const int32_t> corners = mesh.corners(model);
    if (corners.empty()) {
        return false;
    }
    for (const int32_t vertex : corners) {
        if (!inRange(vertex, bounds.vertexCount)) {
            return false;
        }
    }
    // A polygon without layers has no UV index of its own: its corners use UV 0.
    const std::span<const int32_t> uvIndices = mesh.uvIndicesOf(model, 0);
    polygon.corners.reserve(corners.size());
    for (std::size_t k = 0; k < corners.size(); ++k) {
        const int32_t vertex = corners[k];
        int32_t uv = k < uvIndices.size() ? uvIndices[k] : 0;
        if (!inRange(uv, bounds.uvCount)) {
            uv = 0;
        }
        polygon.corners.push_back(SceneCorner{vertex, vertex, uv, vertex});
    }
    polygon.attributeA = 0;
    polygon.attributeB = 1;
    polygon.materialIndex = sceneMaterialIndex(model.materialIndex, bounds);
    return true;
}

// The first mesh's polygons.
bool convertPolygons(const ModelData& model, const PolygonBounds& bounds, SceneMesh& mesh) {
    if (model.meshes.items.empty()) {
        return true;
    }
    int32_t polygonCapacity = kInitialCapacity;
    const ModelMesh& modelMesh = model.meshes.items.front();
    for (const ModelPolygon& modelPolygon : modelMesh.polygons) {
        ScenePolygon polygon;
        if (!makePolygon(modelMesh, modelPolygon, bounds, polygon)) {
            continue;
        }
        if (!pushPolygon(mesh, std::move(polygon), polygonCapacity)) {
            return false;
        }
    }
    return true;
}

bool convertUnguarded(const KVTPlugin& plugin, ImportScene& scene, SceneMesh*& meshOut) {
    MaterialPositions positions(scene);
    const std::size_t sizeBefore = scene.materials.size();
    SceneMaterial* defaultMaterial = findOrCreateMaterial(scene, kDefaultMaterialName);
    if (defaultMaterial == nullptr) {
        return false;
    }
    positions.positionOf(scene, defaultMaterial, sizeBefore);
    defaultMaterial->diffuseRed = 1.0;
    defaultMaterial->diffuseGreen = 1.0;
    defaultMaterial->diffuseBlue = 1.0;

    SceneOwner<SceneMesh> created = createSceneMesh("", 0, 0, 0, 0, 0, 0);
    if (created == nullptr) {
        return false;
    }
    SceneMesh& mesh = *created;
    appendElement(scene.meshes, std::move(created));
    meshOut = &mesh;

    std::vector<int32_t> materialPositions;
    if (!convertMaterials(plugin, scene, positions, materialPositions)) {
        return false;
    }
    const ModelData& model = plugin.model;
    if (!convertVertices(model, mesh) || !convertUVs(model, mesh)) {
        return false;
    }
    PolygonBounds bounds;
    bounds.vertexCount = model.vertices.items.size();
    bounds.uvCount = model.uvSets.items.empty() ? 0 : model.uvSets.items.front().coords.size();
    bounds.materialPositions = &materialPositions;
    return convertPolygons(model, bounds, mesh);
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

bool convertModelToScene(const KVTPlugin& plugin, ImportScene& scene) noexcept {
    SceneMesh* mesh = nullptr;
    bool converted = false;
    try {
        converted = convertUnguarded(plugin, scene, mesh);
    } catch (const std::bad_alloc&) {
        converted = false;
    } catch (const std::length_error&) {
        converted = false;
    }
    // Tells the host to derive normals itself; also true of a mesh whose
    // conversion stopped before its normals.
    if (mesh != nullptr && mesh->normals.empty()) {
        mesh->hsmtFlag = true;
    }
    return converted;
}

}  // namespace quillmesh
