#include <exception>
#include <string>

#include "model/file_resolution.h"
#include "model/kvt_plugin.h"
#include "postprocess/postprocess.h"
#include "scene/import_scene.h"
#include "scene/model_conversion.h"

namespace quillmesh {

void finishLoadedModel(ModelData& model, std::u16string_view sourcePath,
                       ModelFileSystem& files) noexcept {
    try {
        static_cast<void>(resolveModelFiles(model, modelDirectory(sourcePath), files));
    } catch (const std::exception&) {
        // No folder text: names stay as stored, embedded files unwritten.
    }
    static_cast<void>(runPostLoadSteps(model));
}

// A file that cannot be opened, is damaged or is not a ModelFile gives no
// scene at all, so the import reports its failure instead of handing the
// host an empty scene. Once the model is loaded the scene is returned even if
// memory ran out while it was converted: it then holds what was built.
ImportScene* loadSceneFromModelFile(const char16_t* path) {
    ImportSceneOwner scene(createImportScene());
    if (scene == nullptr) {
        return nullptr;
    }
    // The model lives only for this call; the scene outlives it.
    KVTPlugin plugin;
    // A file whose scene would outgrow what its size allows is refused like a damaged one.
    if (plugin.loadModel(path) != kLoadSucceeded || !takeSceneMemory(plugin.model)) {
        return nullptr;
    }
    finishLoadedModel(plugin.model, plugin.sourcePath, systemFileSystem());
    convertAndReleaseModel(plugin, *scene);
    return scene.release();
}

}  // namespace quillmesh
