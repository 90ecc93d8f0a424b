#include "scene/import_scene.h"

#include <algorithm>
#include <new>
#include <stdexcept>

namespace quillmesh {
namespace {

// Exactly `count` zeroed entries for a positive count; none otherwise.
template <class T>
void sizeArray(SceneArray<T>& array, int32_t count) {
    if (count > 0) {
        array.reserve(static_cast<std::size_t>(count));
        array.resize(static_cast<std::size_t>(count));
    }
}

template <class T>
void releaseArray(SceneArray<T>& array) noexcept {
    SceneArray<T>().swap(array);
}

}  // namespace

std::optional<std::size_t> SceneMaterialIndex::find(const SceneList<SceneMaterial>& materials,
                                                    std::string_view name) {
    for (; indexed_ < materials.size(); ++indexed_) {
        // emplace keeps an existing entry: the first material of a name wins.
        byName_.emplace(materials[indexed_].lookupName(), indexed_);
    }
    const auto found = byName_.find(name);
    if (found == byName_.end()) {
        return std::nullopt;
    }
    return found->second;
}

ImportScene* createImportScene() {
    try {
        return makeSceneRecord<ImportScene>().release();
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

void releaseImportScene(ImportScene* scene) {
    if (scene != nullptr) {
        SceneDelete<ImportScene>{}(scene);
    }
}

SceneMaterial* findOrCreateMaterial(ImportScene& scene, std::string_view name,
                                    std::size_t* position) {
    const std::string_view whole = SceneName::untilNul(name);
    try {
        if (const std::optional<std::size_t> found =
                scene.materialIndex.find(scene.materials, whole)) {
            if (position != nullptr) {
                *position = *found;
            }
            return &scene.materials[*found];
        }
        SceneOwner<SceneMaterial> material = makeSceneRecord<SceneMaterial>(whole);
        SceneMaterial* const created = material.get();
        const std::size_t at = scene.materials.size();
        // The index takes the new material in at its next lookup.
        scene.materials.append(std::move(material));
        if (position != nullptr) {
            *position = at;
        }
        return created;
    } catch (const std::exception&) {  // out of memory, or past an array's limit
        return nullptr;
    }
}

SceneOwner<SceneMesh> createSceneMesh(std::string_view name, int32_t vertexCount,
                                      int32_t polygonCount, int32_t uvCount, int32_t normalCount,
                                      int32_t lineCount, int32_t vertexVectorCount) {
    try {
        SceneOwner<SceneMesh> mesh = makeSceneRecord<SceneMesh>();
        if (!mesh->name.assign(name)) {
            return nullptr;
        }
        sizeArray(mesh->vertices, vertexCount);
        sizeArray(mesh->polygons, polygonCount);
        sizeArray(mesh->uvs, uvCount);
        sizeArray(mesh->normals, normalCount);
        sizeArray(mesh->lines, lineCount);
        sizeArray(mesh->vertexVectors, vertexVectorCount);
        return mesh;
    } catch (const std::exception&) {  // out of memory, or past an array's limit
        return nullptr;
    }
}

bool appendPolygon(SceneMesh& mesh, std::span<const SceneCorner> corners, int32_t attributeA,
                   int32_t attributeB, int32_t materialIndex) noexcept {
    const std::size_t firstCorner = mesh.corners.size();
    if (mesh.polygons.size() >= kSceneMaxEntries || corners.size() > kSceneMaxEntries ||
        firstCorner > kSceneMaxEntries - corners.size()) {
        return false;
    }
    try {
        if (mesh.polygons.size() == mesh.polygons.capacity()) {
            mesh.polygons.reserve(std::max<std::size_t>(8, mesh.polygons.size() * 2));
        }
        mesh.corners.insert(mesh.corners.end(), corners.begin(), corners.end());
    } catch (const std::exception&) {  // out of memory, or past an array's limit
        return false;
    }
    // The room is there: this neither allocates nor throws.
    mesh.polygons.push_back(ScenePolygon{static_cast<uint32_t>(firstCorner),
                                         static_cast<uint32_t>(corners.size()), attributeA,
                                         attributeB, materialIndex});
    return true;
}

void releaseSceneMeshContents(SceneMesh& mesh) {
    releaseArray(mesh.vertices);
    releaseArray(mesh.uvs);
    releaseArray(mesh.polygons);
    releaseArray(mesh.corners);
    releaseArray(mesh.lines);
    releaseArray(mesh.normals);
    releaseArray(mesh.vertexVectors);
    mesh.preservation.reset();
}

}  // namespace quillmesh
