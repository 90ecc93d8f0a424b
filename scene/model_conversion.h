// The copy of a loaded model into an ImportScene: every model material becomes
// a scene material (after the default material "__PS_CS4_3D_Default"), and the
// vertex positions and normals, the first UV set and the polygons of the first
// mesh become one scene mesh. Lights, cameras, groups, bones, animations and
// every further mesh and UV set are not carried over.
//
// Safe for any model the reader can produce: the indices it stores unchecked
// are checked here. A polygon naming a vertex outside the vertex table is
// left out, and one without corners is kept with none; a material index
// outside the material table (or -1) names the default material; a UV index
// outside the first UV set, or a corner without a UV index, names UV 0.
// Nothing here throws; exhausted memory ends the conversion with a false
// result and the scene as built so far.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "model/file_resolution.h"
#include "model/kvt_plugin.h"
#include "scene/import_scene.h"

namespace quillmesh {

// Name of the material every scene starts with; polygons without a material
// of their own use it.
inline constexpr std::string_view kDefaultMaterialName = "__PS_CS4_3D_Default";

// Longest texture path handed to the host, in UTF-16 units (the longest path
// the host's file functions take, without the terminator).
inline constexpr std::size_t kTexturePathMaxUnits = 259;

// Scene map slots filled from the model's map keys 1, 2 and 3; key 0 (the
// diffuse texture) fills slot 0.
inline constexpr std::size_t kSlotForMapKey1 = 4;
inline constexpr std::size_t kSlotForMapKey2 = 2;
inline constexpr std::size_t kSlotForMapKey3 = 3;

// The path of texture `name` for a model in `directory` (modelDirectory of
// the model's source path, which ends in a separator unless empty). A name
// that carries a drive ("X:" at its start) or starts with '\\' or '/' is used
// as it is; any other is put after the directory. False, `path` unchanged,
// when the name is empty or the path would exceed kTexturePathMaxUnits
// units: a path is refused rather than cut short, which would name another
// file. Throws only std::bad_alloc.
bool joinTexturePath(std::u16string_view directory, std::u16string_view name, std::u16string& path);

// The diffuse texture of `material`: the first map with key 0, when it is of
// kind 1 its file name; when it is layered (kind 4) the first layer's name if
// the map's flags have the value 1 bit, else the second layer's if they have
// the value 2 bit (a layer the map does not hold gives nothing). Any other
// kind gives nothing. The name is joined as joinTexturePath does. False,
// `path` unchanged, when nothing is found or the path is refused. Throws
// only std::bad_alloc.
bool diffuseTexturePath(std::u16string_view directory, const ModelMaterial& material,
                        std::u16string& path);

// Copies the model loaded in `plugin` into `scene` (see the top of this
// file); texture names are joined to modelDirectory(plugin.sourcePath).
// Scene texts are UTF-8, made from the wide forms of the model's names.
// Material merges are followed: model materials whose whole names are equal
// (or equal to the default material's) share one scene material, and their
// polygons name that material's position in the scene's list; names that
// differ only after the 255 bytes the scene stores stay apart. False when
// memory runs out or the default material or the mesh cannot be made; the
// scene then holds what was built so far.
bool convertModelToScene(const KVTPlugin& plugin, ImportScene& scene) noexcept;

// The same conversion, releasing the model's vertices, UV sets and meshes as
// soon as each has been copied (the import's own path, which needs the model
// no longer).
bool convertAndReleaseModel(KVTPlugin& plugin, ImportScene& scene) noexcept;

// What the rest of the import needs for `model`: the scene and the descriptor the host
// receives (its blocks and the flattened copy), per material (the default one included) and per
// vertex, UV, polygon and corner of the mesh that is converted. An estimate a little above what
// the import measures.
uint64_t sceneBytesNeeded(const ModelData& model) noexcept;

// Counts sceneBytesNeeded against the file's budget (model.memory): false, with the refusal
// recorded there, when the import would outgrow it.
bool takeSceneMemory(ModelData& model) noexcept;

// The stages between a successful parse and the conversion, in order: embedded files and texture
// names resolved against the folder of `sourcePath` through `files`, then the post-load steps
// (normals, use counts, weights, name clean-up). A step that runs out of memory leaves the model
// whole, so neither result stops the import.
void finishLoadedModel(ModelData& model, std::u16string_view sourcePath,
                       ModelFileSystem& files) noexcept;

}  // namespace quillmesh
