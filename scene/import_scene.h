// The in-memory 3D scene handed from the model reader to the descriptor writers.
#pragma once

#include <memory>

namespace quillmesh {

struct ImportScene {};

// A new scene read from the ModelFile at `path` (NUL-terminated UTF-16), or
// null when none can be made. The caller releases it with releaseImportScene.
ImportScene* loadSceneFromModelFile(const char16_t* path);

// Frees the scene and everything it owns; null is ignored.
void releaseImportScene(ImportScene* scene);

struct ImportSceneDeleter {
    void operator()(ImportScene* scene) const { releaseImportScene(scene); }
};
using ImportSceneOwner = std::unique_ptr<ImportScene, ImportSceneDeleter>;

}  // namespace quillmesh
