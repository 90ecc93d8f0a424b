// glTF 2.0 of the scene descriptor the host received: the text form (.gltf, one JSON file with the
// buffer embedded as a base64 data: URI) or the binary form (.glb), built in memory. The caller
// writes the bytes; nothing here reads or writes a file.
//
// What the glTF holds:
//   - one mesh and one node per object of the root's "mshl" list, named by its "Nm  ", in a
//     scene that holds every node. Each node turns its mesh a quarter round X ((x, y, z) to
//     (x, z, -y)): the host's +Z up becomes glTF's +Y up. Positions come from "verl", normals from
//     "nrml", texture coordinates from "uvl " with V turned back (glTF V = 1 - the host's V), all
//     as 32-bit floats, in the host's axes. A glTF vertex is one distinct (vertex, normal, UV)
//     index triple of the "faci" corners, so vertices the polygons share stay shared.
//   - polygons triangulated as fans: a polygon of n >= 3 corners c0..c(n-1) gives the triangles
//     (c0, c(k), c(k+1)) for k = 1..n-2, in its own winding. Polygons of fewer than 3 corners are
//     dropped (and counted).
//   - one primitive per material a mesh's polygons use, in the order of the materials; all
//     primitives of a mesh share its vertex accessors. Indices are unsigned shorts when the mesh
//     has fewer than 65,536 vertices, else unsigned ints.
//   - one material per object of "mtll", named by its "Nm  ": metallic-roughness with metallic 0
//     and roughness 1, baseColorFactor (diffuse "dred", "dgrn", "dblu" made linear from sRGB;
//     opacity 1 - "Trns"), alphaMode BLEND when the opacity is below 1, doubleSided from "twos".
//     The diffuse texture (the "mapl" entry of "Type" 0 with a non-empty path in "Nm  ") becomes a
//     texture whose image URI is that path relative to the output folder, percent-encoded. The
//     image is never read. A path that cannot be expressed relative to the folder (a relative path,
//     another drive or a network share, a text that is not a valid path) gives the material no
//     texture.
//
// Damaged input never makes an invalid file: a mesh whose geometry blocks are not whole entries
// is left out; a polygon whose corners run past "faci", or that names a vertex outside "verl" or
// one whose position is not finite, is left out; normals or UVs that any kept corner cannot use
// (an index outside the block, a normal of zero or non-finite length, a non-finite UV) are left
// out of that mesh; a polygon naming a material outside "mtll" goes into a primitive without
// material. Each of these is counted in the summary.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "host/descriptors.h"

namespace quillmesh::tool {

enum class GltfForm { Text, Binary };

struct GltfExportSummary {
    std::size_t meshes = 0;
    std::size_t materials = 0;
    std::size_t triangles = 0;
    std::size_t fannedPolygons = 0;   // polygons of more than 3 corners
    std::size_t droppedPolygons = 0;  // polygons of fewer than 3 corners
    std::size_t textures = 0;         // glTF textures (one per distinct image URI)
    std::size_t vertices = 0;         // glTF vertices, all meshes
    std::size_t skippedMeshes = 0;    // "mshl" items not objects, or with blocks not whole entries
    std::size_t invalidPolygons = 0;  // polygons left out for a corner they cannot use
    std::size_t meshesWithoutNormals = 0;     // meshes whose normals were left out (or had none)
    std::size_t meshesWithoutUVs = 0;         // meshes whose UVs were left out (or had none)
    std::size_t unknownMaterialPolygons = 0;  // polygons naming no material of "mtll"
    std::size_t texturesNotExpressible = 0;   // diffuse texture paths given no URI
};

struct GltfExport {
    std::vector<uint8_t> bytes;
    GltfExportSummary summary;
};

// The form an output path asks for by its extension: ".gltf" or ".glb" (in any case); nullopt
// for any other.
std::optional<GltfForm> gltfFormFor(const std::filesystem::path& output);

// The glTF of `scene` (the root descriptor the host received; `ids`, the registry it was read
// with, is not needed today, as every key read is a four-character code). Texture image URIs are
// made relative to `outputFolder`, the folder the bytes will be written to (absolute, as are the
// texture paths the scene holds). A scene without meshes gives a glTF of its materials and an
// empty scene. On failure returns nullopt and sets `error` to a plain-words reason: memory ran
// out, or the geometry would exceed the 4 GiB a glTF buffer (and a binary file) can hold.
std::optional<GltfExport> exportGltf(const qmhost::Descriptor& scene, const qmhost::IdRegistry& ids,
                                     GltfForm form, const std::filesystem::path& outputFolder,
                                     std::string& error);

}  // namespace quillmesh::tool
