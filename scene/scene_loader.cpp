#include "scene/import_scene.h"

namespace quillmesh {

// No ModelFile reader is built in yet, so no path yields a scene.
ImportScene* loadSceneFromModelFile(const char16_t*) {
    return nullptr;
}

}  // namespace quillmesh
