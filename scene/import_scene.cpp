#include "scene/import_scene.h"

#include <algorithm>
#include <new>
#include <stdexcept>

namespace quillmesh {
namespace {

// Entries past the fallback when doubling a full array fails.
constexpr std::size_t kFallbackGrowth = 100;

// Moves the entries into a new array with room for exactly `entries`. False,
// and the array unchanged, when the gate refuses.
template <class T>
bool reallocate(SceneArray<T>& array, std::size_t entries) noexcept {
    try {
        SceneArray<T> grown;
        grown.reserve(entries);
        // Cannot throw: the room is there and the entries move without throwing.
        for (T& entry : array) {
            grown.push_back(std::move(entry));
        }
        array.swap(grown);
    } catch (const std::bad_alloc&) {
        return false;
    } catch (const std::length_error&) {
        return false;
    }
    return true;
}

// The growth rule shared by every push: an empty array gets `capacity` entries;
// a full one twice the capacity, or count + 100 when that fails. The array's
// own room is checked too, so a capacity that does not match the array (a
// mesh made by createSceneMesh with other counts) can never cause a write
// past its end.
template <class T>
bool pushEntry(SceneArray<T>& array, T&& entry, int32_t& capacity) noexcept {
    const std::size_t count = array.size();
    if (count >= kSceneMaxEntries) {
        return false;
    }
    const std::size_t requested = capacity > 0 ? static_cast<std::size_t>(capacity) : 0;
    if (count == 0) {
        const std::size_t fresh = std::max<std::size_t>(requested, 1);
        if (!reallocate(array, fresh)) {
            return false;
        }
        capacity = static_cast<int32_t>(fresh);
    } else if (count >= requested || count >= array.capacity()) {
        // count and requested are at most kSceneMaxEntries, so neither the
        // doubling nor the fallback can wrap.
        const std::size_t base = std::max(requested, count);
        const std::size_t doubled = std::min(base * 2, kSceneMaxEntries);
        const std::size_t fallback = std::min(count + kFallbackGrowth, kSceneMaxEntries);
        if (reallocate(array, doubled)) {
            capacity = static_cast<int32_t>(doubled);
        } else if (reallocate(array, fallback)) {
            capacity = static_cast<int32_t>(fallback);
        } else {
            return false;
        }
    }
    // The room is there: this neither allocates nor throws.
    array.push_back(std::move(entry));
    return true;
}

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

SceneMaterial* SceneMaterialIndex::find(SceneList<SceneMaterial>& materials,
                                        std::string_view name) {
    catchUp(materials);
    const auto found = byName_.find(name);
    return found == byName_.end() ? nullptr : found->second;
}

void SceneMaterialIndex::add(SceneMaterial& material) {
    // An insert that throws leaves the map as it was.
    byName_.emplace(material.name.view(), &material);
    lastIndexed_ = &material;
}

void SceneMaterialIndex::catchUp(SceneList<SceneMaterial>& materials) {
    SceneMaterial* next = lastIndexed_ == nullptr ? materials.first() : lastIndexed_->next();
    while (next != nullptr) {
        // emplace keeps an existing entry: the first material of a name wins.
        byName_.emplace(next->name.view(), next);
        lastIndexed_ = next;
        next = next->next();
    }
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

SceneMaterial* findOrCreateMaterial(ImportScene& scene, std::string_view name) {
    const std::string_view stored = SceneName::clip(name);
    try {
        if (SceneMaterial* found = scene.materialIndex.find(scene.materials, stored)) {
            return found;
        }
        SceneOwner<SceneMaterial> material = makeSceneRecord<SceneMaterial>(stored);
        SceneMaterial* const created = material.get();
        // Index first: if that fails the material is released and the list
        // never saw it.
        scene.materialIndex.add(*created);
        appendElement(scene.materials, std::move(material));
        return created;
    } catch (const std::bad_alloc&) {
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
    } catch (const std::bad_alloc&) {
        return nullptr;
    } catch (const std::length_error&) {
        return nullptr;
    }
}

bool pushVertex(SceneMesh& mesh, double x, double y, double z, int32_t& capacity) {
    return pushEntry(mesh.vertices, SceneVector3{x, -z, y}, capacity);
}

bool pushNormal(SceneMesh& mesh, double x, double y, double z, int32_t& capacity) {
    return pushEntry(mesh.normals, SceneVector3{x, -z, y}, capacity);
}

bool pushUV(SceneMesh& mesh, double u, double v, int32_t& capacity) {
    return pushEntry(mesh.uvs, SceneUV{u, v}, capacity);
}

bool pushPolygon(SceneMesh& mesh, ScenePolygon polygon, int32_t& capacity) {
    return pushEntry(mesh.polygons, std::move(polygon), capacity);
}

void releaseSceneMeshContents(SceneMesh& mesh) {
    releaseArray(mesh.vertices);
    releaseArray(mesh.uvs);
    releaseArray(mesh.polygons);
    releaseArray(mesh.lines);
    releaseArray(mesh.normals);
    releaseArray(mesh.vertexVectors);
    mesh.preservation.reset();
}

}  // namespace quillmesh
