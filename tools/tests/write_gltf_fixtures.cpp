// Writes the ModelFiles the glTF export is validated on, with the texture images they name
// (copies of one PNG):
//   write_gltf_fixtures FOLDER TEXTURE.png
//   materials.kvt  version 33: one mesh of triangles, quads, a pentagon and a two-corner polygon
//                  over four materials (textured and not, opaque and not), one of them textured
//                  from a subfolder whose names need percent-encoding, and a material no polygon
//                  uses
//   cube34.kvt     version 34, compressed: the textured two-material cube
//   grid-1m.kvt    version 33, compressed: a 1000 x 500 grid of quads (1,000,000 triangles once
//                  fanned) with one UV per vertex, textured
#include <cmath>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <numbers>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/kvt_chunks.h"
#include "tests/support/kvt_writer.h"

namespace fs = std::filesystem;
namespace ts = quillmesh::testsupport;

namespace {

constexpr char16_t kSubfolder[] = u"textures ü";
constexpr char16_t kSubfolderTexture[] = u"grain 50%.png";

ts::KvtPolygon polygon(std::vector<int32_t> vertices, int32_t material) {
    ts::KvtPolygon out{.vertices = vertices, .materialIndex = material};
    out.uvLayers = {{.uvIndices = std::move(vertices)}};
    return out;
}

// A 4 x 2 sheet of vertices with one UV each, cut into polygons of every kind.
ts::KvtModel materialsModel() {
    ts::KvtModel model;
    model.version = 33;
    const ts::KvtVec4 black{0, 0, 0, 1};
    model.materials = {
        {.name = u"Oak ü", .maps = {{.key = 0, .kind = 1, .fileName = "wood.png"}}},
        {.name = "Glass",
         .colours = {{{0.2f, 0.5f, 0.9f, 1}, black, black, black, black}},
         .opacity = 0.4f},
        {.name = "Tinted grain",
         .colours = {{{1, 0.8f, 0.6f, 1}, black, black, black, black}},
         .opacity = 0.5f,
         .maps = {{.key = 0,
                   .kind = 1,
                   .fileName = std::u16string(kSubfolder) + u"/" + kSubfolderTexture}}},
        {.name = "Plain red", .colours = {{{1, 0, 0, 1}, black, black, black, black}}},
        {.name = "Unused"},
    };
    ts::KvtUVSet uvSet{.name = "UVSet1"};
    for (int32_t row = 0; row < 3; ++row) {
        for (int32_t column = 0; column < 5; ++column) {
            const auto x = static_cast<float>(column);
            const auto y = static_cast<float>(row);
            model.vertices.push_back({.position = {x, y, 0.25f * x}});
            uvSet.coords.push_back({.u = x / 4, .v = y / 2});
        }
    }
    model.uvSets = {std::move(uvSet)};
    ts::KvtMesh mesh;
    mesh.polygons = {
        polygon({0, 1, 6}, 0),          polygon({0, 6, 5}, 0),
        polygon({1, 2, 7, 6}, 1),       polygon({2, 3, 8, 7}, 2),
        polygon({3, 4, 9, 8}, 3),       polygon({5, 6, 11, 10}, 0),
        polygon({6, 7, 13, 12, 11}, 2), polygon({7, 8, 13}, 1),
        polygon({8, 9, 14, 13}, 3),     polygon({0, 1}, 1),
    };
    model.meshes = {std::move(mesh)};
    return model;
}

ts::KvtModel quadGridModel(int32_t columns, int32_t rows) {
    ts::KvtModel model;
    model.version = 33;
    model.materials = {{.name = "Grid", .maps = {{.key = 0, .kind = 1, .fileName = "wood.png"}}}};
    ts::KvtUVSet uvSet{.name = "UVSet1"};
    const auto vertices = static_cast<std::size_t>(columns + 1) * (rows + 1);
    model.vertices.reserve(vertices);
    uvSet.coords.reserve(vertices);
    for (int32_t r = 0; r <= rows; ++r) {
        for (int32_t c = 0; c <= columns; ++c) {
            const double x = static_cast<double>(c) / columns;
            const double y = static_cast<double>(r) / rows;
            const double z =
                0.1 * std::sin(6 * std::numbers::pi * x) * std::cos(4 * std::numbers::pi * y);
            model.vertices.push_back({.position = {static_cast<float>(x), static_cast<float>(y),
                                                   static_cast<float>(z)}});
            uvSet.coords.push_back({.u = static_cast<float>(x), .v = static_cast<float>(y)});
        }
    }
    model.uvSets = {std::move(uvSet)};
    ts::KvtMesh mesh;
    mesh.polygons.reserve(static_cast<std::size_t>(columns) * rows);
    const int32_t stride = columns + 1;
    for (int32_t r = 0; r < rows; ++r) {
        for (int32_t c = 0; c < columns; ++c) {
            const int32_t a = r * stride + c;
            mesh.polygons.push_back(polygon({a, a + 1, a + 1 + stride, a + stride}, 0));
        }
    }
    model.meshes = {std::move(mesh)};
    return model;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: write_gltf_fixtures FOLDER TEXTURE.png\n");
        return 2;
    }
    try {
        const fs::path folder = argv[1];
        const fs::path texture = argv[2];
        fs::create_directories(folder / kSubfolder);
        fs::copy_file(texture, folder / "wood.png", fs::copy_options::overwrite_existing);
        fs::copy_file(texture, folder / kSubfolder / kSubfolderTexture,
                      fs::copy_options::overwrite_existing);
        ts::writeKvtFile(folder / "materials.kvt", materialsModel());
        ts::writeKvtBytesFile(folder / "cube34.kvt", ts::writeKvt34(ts::texturedCubeModel(34), {},
                                                                    {.compressionDepth = 1}));
        ts::writeKvtFile(folder / "grid-1m.kvt", quadGridModel(1000, 500), {.compressed = true});
        return 0;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "write_gltf_fixtures: %s\n", error.what());
        return 1;
    }
}
