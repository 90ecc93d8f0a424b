// Golden scene descriptors: a fixed corpus of ModelFiles, written at test time by our writers,
// is imported through our host the way the import tool does it, and the SHA-256 of every
// descriptor the host receives is compared, together with the import's result, with the table
// recorded in tests/golden/descriptors.txt. Any change of any descriptor, and any entry missing
// from or added to the table, fails; the message names the file and gives its new line.
//
// To record deliberate changes, run the test with QUILLMESH_GOLDEN_UPDATE=1:
//   QUILLMESH_GOLDEN_UPDATE=1 build/native/tests/quillmesh_tests --gtest_filter='Golden*'
// rewrites the table for the platform the test runs on; the entries recorded per platform keep
// the other platform's line, so their Windows lines are recorded by running the same under Wine:
//   QUILLMESH_GOLDEN_UPDATE=1 scripts/wine-ctest -R Golden
//
// The corpus covers every classic version 6 to 33 (a model filling every section), compressed
// files, the chunked version 34 plain and compressed once, twice and three times, embedded
// files, texture maps of every kind in both entry layouts, narrow, wide, long, dirty and
// duplicate names, the vertex flags, inline UVs, short polygons, out-of-range indices, files
// whose counts and header words disagree with their content but still load, a few that do not
// load, and the bundled example.
//
// Texture names reach the descriptor resolved against the model's folder. The corpus is written
// into a fresh folder that becomes the current directory, and every file is imported by its bare
// name, so the model's folder is empty: resolved names are bare names probed in the current
// directory, and no descriptor depends on where the temporary folder is.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "entry/import_sequence.h"
#include "entry/plugin_main.h"
#include "entry/suites.h"
#include "host/host.h"
#include "host/import_driver.h"
#include "platform/platform.h"
#include "tests/support/kvt_chunks.h"
#include "tests/support/kvt_writer.h"
#include "tests/support/scratch_folder.h"
#include "tests/support/sha256.h"

namespace {

namespace fs = std::filesystem;
namespace ts = quillmesh::testsupport;

#ifdef _WIN32
constexpr std::string_view kPlatform = "windows";
#else
constexpr std::string_view kPlatform = "linux";
#endif

// Entries whose descriptor differs between Linux and Windows, recorded once per platform: their
// material names are narrow (8-bit, as in every version but 10 and 32 on) with bytes above 0x7F.
// A narrow name is converted from the platform's narrow encoding: UTF-8 on Linux, where
// "Caf\xC3\xA9" is "Caf\u00E9" and a byte that is no UTF-8 becomes U+FFFD; the ANSI code page on
// Windows, byte by byte ("Caf\u00C3\u00A9"). The Windows lines were recorded under Wine in the
// C.UTF-8 locale, where the code page is 1252; Wine in another locale would need them anew. Every
// other entry, wide names beyond Latin-1 included, is the same on both.
const std::set<std::string, std::less<>> kPlatformDependent = {
    "names_narrow_high_bytes_v06.kvt",
    "names_narrow_high_bytes_v31.kvt",
};

// ---- Models -------------------------------------------------------------------------------------

ts::KvtTransform placed(ts::KvtVec3 position, ts::KvtVec4 rotation = {0, 0, 0, 1},
                        ts::KvtVec3 scale = {1, 1, 1}) {
    ts::KvtTransform transform;
    transform.position = position;
    transform.rotation = rotation;
    transform.scale = scale;
    transform.matrix[12] = position[0];
    transform.matrix[13] = position[1];
    transform.matrix[14] = position[2];
    return transform;
}

ts::KvtMap singleImage(int32_t key, ts::KvtName fileName) {
    return ts::KvtMap{.key = key, .kind = 1, .fileName = std::move(fileName)};
}

// Old layout: both UV layouts for a polygon whose corners use `uvIndices` of `coords`.
void setUVs(ts::KvtPolygon& polygon, const std::vector<std::vector<int32_t>>& layers,
            const std::vector<ts::KvtUVCoord>& coords) {
    polygon.uvLayers.clear();
    polygon.inlineUVs.clear();
    for (const std::vector<int32_t>& indices : layers) {
        polygon.uvLayers.push_back(ts::KvtUVLayer{.uvIndices = indices});
        std::vector<ts::KvtInlineUV> inlineLayer;
        for (const int32_t index : indices) {
            const ts::KvtUVCoord& coord = coords.at(static_cast<std::size_t>(index));
            inlineLayer.push_back({.u = coord.u, .v = coord.v, .w = 0.5f});
        }
        polygon.inlineUVs.push_back(std::move(inlineLayer));
    }
}

// The unit cube with something in every section: two lights, a camera, three materials (maps
// of every kind on the first two), two groups, weighted vertices with normals and colours, aux
// records, two UV sets, a second mesh with a quad and a pentagon, two bones and an animation
// with a track per bone.
ts::KvtModel fullModel(int32_t version) {
    ts::KvtModel model = ts::cubeModel(version);
    model.flags = ts::kKvtFlagVertexNormals | ts::kKvtFlagVertexColours;
    model.lights = {
        ts::KvtLight{.name = "Key",
                     .code = 1,
                     .option = 2,
                     .transform = placed({2, 3, 4}, {0, 0.5f, 0, 0.75f}),
                     .params = {1, 2, 3, 4, 5},
                     .colour = {1, 0.5f, 0.25f, 1},
                     .extraParams = {6, 7}},
        ts::KvtLight{.name = "Fill",
                     .code = 3,
                     .transform = placed({-2, 1, 0.5f}),
                     .colour = {0.2f, 0.4f, 0.6f, 1}},
    };
    ts::KvtCamera camera{.name = "Front", .code = 2, .option = 1, .fieldOfView = 50};
    camera.transform = placed({0, -5, 1.5f});
    camera.transform.yAxis = {0, 0, 1};
    camera.transform.zAxis = {0, -1, 0};
    camera.nearClip = 0.25f;
    camera.farClip = 250;
    model.cameras = {camera};

    model.materials[0].name = "Oak";
    model.materials[0].maps = {
        singleImage(0, "wood.png"),
        singleImage(1, "bump.png"),
        singleImage(2, "C:\\textures\\gloss.png"),
        singleImage(3, "sub\\inner.png"),
        ts::KvtMap{.key = 4, .kind = 2, .fileName = "grain.png", .mode = 3, .extraValue = 5},
        ts::KvtMap{.key = 5, .kind = 3, .fileName = "stone.png", .mode = 1, .extraValue = 2},
        ts::KvtMap{.key = 6, .kind = 6, .mapFlags = 4, .fileName = "env.png", .mode = 7},
        ts::KvtMap{.key = 7, .kind = 7, .mapFlags = 8, .fileName = "refl.png", .mode = 9},
    };
    ts::KvtMaterial glaze{
        .name = "Glaze",
        .flags = 2,
        .colours = {{{0.1f, 0.3f, 0.8f, 1},
                     {0.05f, 0.05f, 0.1f, 1},
                     {0, 0, 0.2f, 1},
                     {0.9f, 0.9f, 1, 1},
                     {0, 0, 0, 1}}},
        .shininess = 96,
        .opacity = 0.75f,
    };
    glaze.maps = {
        ts::KvtMap{
            .key = 0,
            .kind = 4,
            .mapFlags = 2,
            .layers = {ts::KvtMapLayer{.fileName = "missing_layer.png", .layerA = 1},
                       ts::KvtMapLayer{.fileName = "stone.png", .layerB = 2, .layerWeight = 0.5f}}},
        ts::KvtMap{.key = 1,
                   .kind = 5,
                   .faces = {"face_px.png", "face_nx.png", "face_py.png", "face_ny.png",
                             "face_pz.png", "face_nz.png"}},
        ts::KvtMap{.key = 2, .kind = 9},
        singleImage(3, "missing.png"),
    };
    model.materials.push_back(glaze);
    model.materials.push_back(ts::KvtMaterial{.name = "Plain", .shininess = 10, .opacity = 0.5f});
    for (std::size_t i = 0; i < model.meshes[0].polygons.size(); ++i) {
        model.meshes[0].polygons[i].materialIndex = static_cast<int32_t>(i % 3);
        model.meshes[0].polygons[i].polygonValue = static_cast<int32_t>(i);
    }

    model.groups = {ts::KvtGroup{.name = "Body", .groupTag = 1, .transform = placed({0, 0, 1})},
                    ts::KvtGroup{.name = "Lid", .groupTag = 2, .groupLink = 0}};
    for (std::size_t i = 0; i < model.vertices.size(); ++i) {
        ts::KvtVertex& vertex = model.vertices[i];
        const ts::KvtVec3& p = vertex.position;
        vertex.normal = {p[0] - 0.5f, p[1] - 0.5f, p[2] - 0.5f};
        vertex.colour = {p[0], p[1], p[2], 1};
        vertex.weights = {ts::KvtWeight{.boneIndex = 0, .weight = 0.75f},
                          ts::KvtWeight{.boneIndex = 1, .weight = 0.25f}};
        vertex.extraVectors = {ts::KvtVec3{p[2], p[1], p[0]}, ts::KvtVec3{1, 2, 3}};
    }
    model.auxRecords = {ts::KvtAuxRecord{.values = {1, 2, 3, 4, 5, 6, 7, 8, 9}, .scalar = 0.5f},
                        ts::KvtAuxRecord{.values = {9, 8, 7}, .scalar = -1}};
    model.uvSets.push_back(
        ts::KvtUVSet{.name = "Detail",
                     .coords = {{1, 0.25f, 0.25f},
                                {2, 0.75f, 0.25f},
                                {3, 0.75f, 0.75f},
                                {4, 0.25f, 0.75f},
                                {5, 0.5f, 1}},
                     .auxRecords = {ts::KvtAuxRecord{.values = {4}, .scalar = 2}}});

    // A second mesh: a quad on the top face and a pentagon, both with two UV layers.
    const std::vector<ts::KvtUVCoord>& coords = model.uvSets[1].coords;
    ts::KvtPolygon quad{.vertices = {4, 5, 7, 6}, .materialIndex = 1, .polygonValue = 40};
    setUVs(quad, {{0, 1, 2, 3}, {3, 2, 1, 0}}, coords);
    quad.cornerValues = {1, 2, 3, 4};
    ts::KvtPolygon pentagon{.vertices = {0, 1, 3, 2, 6}, .polygonTag = 3, .materialIndex = 2};
    setUVs(pentagon, {{0, 1, 2, 3, 0}, {4, 3, 2, 1, 0}}, coords);
    model.meshes.push_back(ts::KvtMesh{.tag = 7, .polygons = {quad, pentagon}});

    model.bones = {
        ts::KvtBone{.name = "Root", .transform = placed({0, 0, 0}), .colour = {1, 0, 0, 1}},
        ts::KvtBone{.name = "Arm",
                    .boneLink = 0,
                    .transform = placed({0, 1, 0}, {0, 0, 0.6f, 0.8f}, {1, 2, 1}),
                    .colour = {0, 1, 0, 1}},
    };
    ts::KvtTrack rootTrack;
    rootTrack.positionKeys = {{0, {0, 0, 0}}, {15, {0, 0, 1}}, {30, {0, 0, 0}}};
    rootTrack.rotationKeys = {{0, {0, 0, 0, 1}}, {30, {0, 0.7071f, 0, 0.7071f}}};
    rootTrack.scaleKeys = {{0, {1, 1, 1}}};
    ts::KvtTrack armTrack;
    armTrack.positionKeys = {{5, {0, 1, 0}}};
    armTrack.scaleKeys = {{0, {1, 1, 1}}, {10, {2, 2, 2}}};
    model.animations = {ts::KvtAnimation{.name = "Wave",
                                         .tag = 4,
                                         .start = 0,
                                         .end = 30,
                                         .rate = 24,
                                         .tracks = {rootTrack, armTrack}}};
    return model;
}

// Texture names kept or replaced: names with a folder whose file exists (kept only in versions
// 10 and from 33), a name with a drive whose file is missing, a bare name, names without a file
// part, in single-image maps and in the layers of layered maps.
ts::KvtModel textureNamesModel(int32_t version) {
    ts::KvtModel model = ts::triangleModel(version);
    const bool wide = version == 10 || version >= 32;
    model.materials[0].maps = {
        singleImage(0, "sub\\inner.png"),
        singleImage(1, "C:\\textures\\far.png"),
        singleImage(2, "wood.png"),
        singleImage(3, wide ? ts::KvtName(u"sub/\u6728\u6750.png") : ts::KvtName("sub/stone.png")),
    };
    model.materials.push_back(ts::KvtMaterial{
        .name = "Layered",
        .maps = {ts::KvtMap{.key = 0,
                            .kind = 4,
                            .mapFlags = 2,
                            .layers = {ts::KvtMapLayer{.fileName = "wood.png"},
                                       ts::KvtMapLayer{.fileName = "sub\\stone.png"}}},
                 singleImage(1, ".\\stone.png")}});
    model.materials.push_back(
        ts::KvtMaterial{.name = "Unnamed",
                        .maps = {singleImage(0, "missing.png"), singleImage(1, ""),
                                 singleImage(2, "sub\\"), singleImage(3, "sub\\missing.png")}});
    model.materials.push_back(ts::KvtMaterial{
        .name = "Wide",
        .maps = {singleImage(0, wide ? ts::KvtName(u"\u6728\u6750.png") : ts::KvtName("a.png"))}});
    ts::KvtMesh& mesh = model.meshes[0];
    for (int32_t material = 1; material < 4; ++material) {
        ts::KvtPolygon polygon = mesh.polygons[0];
        polygon.materialIndex = material;
        mesh.polygons.push_back(polygon);
    }
    return model;
}

// Every map kind 1 to 7 and unknown kinds, each at the diffuse key in one material, with a
// single-image map at key 1 after it: a payload read too long or too short shows in the
// material after it.
ts::KvtModel everyMapKindModel(int32_t version) {
    ts::KvtModel model = ts::triangleModel(version);
    model.materials.clear();
    for (const int32_t kind : {1, 2, 3, 4, 5, 6, 7, 0, 8, -1}) {
        ts::KvtMap map{.key = 0, .kind = kind, .mapFlags = 1, .fileName = "stone.png", .mode = 2};
        map.layers = {ts::KvtMapLayer{.fileName = "wood.png"}};
        map.faces = {"face_px.png", "face_nx.png", "face_py.png",
                     "face_ny.png", "face_pz.png", "face_nz.png"};
        model.materials.push_back(
            ts::KvtMaterial{.name = "Kind" + std::to_string(kind),
                            .maps = {map, singleImage(1, "kind" + std::to_string(kind) + ".png")}});
    }
    ts::KvtMesh& mesh = model.meshes[0];
    const ts::KvtPolygon first = mesh.polygons[0];
    for (int32_t material = 1; material < static_cast<int32_t>(model.materials.size());
         ++material) {
        ts::KvtPolygon polygon = first;
        polygon.materialIndex = material;
        mesh.polygons.push_back(polygon);
    }
    return model;
}

// Layered maps at the diffuse key: the flags choosing the first, the second or no layer, and
// (new layout) stored layer counts of none, one and five.
ts::KvtModel layeredMapsModel(int32_t version) {
    ts::KvtModel model = ts::triangleModel(version);
    model.materials.clear();
    const std::vector<ts::KvtMapLayer> layers = {ts::KvtMapLayer{.fileName = "sub\\inner.png"},
                                                 ts::KvtMapLayer{.fileName = "stone.png"},
                                                 ts::KvtMapLayer{.fileName = "wood.png"}};
    for (const int32_t flags : {0, 1, 2, 3}) {
        model.materials.push_back(ts::KvtMaterial{
            .name = "Flags" + std::to_string(flags),
            .maps = {ts::KvtMap{.key = 0, .kind = 4, .mapFlags = flags, .layers = layers}}});
    }
    if (version > 30) {
        model.materials.push_back(ts::KvtMaterial{
            .name = "NoLayers", .maps = {ts::KvtMap{.key = 0, .kind = 4, .mapFlags = 1}}});
        model.materials.push_back(ts::KvtMaterial{
            .name = "OneLayer",
            .maps = {ts::KvtMap{.key = 0, .kind = 4, .mapFlags = 2, .layers = {layers[1]}}}});
        std::vector<ts::KvtMapLayer> five = layers;
        five.push_back(ts::KvtMapLayer{.fileName = "fourth.png", .layerA = 4});
        five.push_back(ts::KvtMapLayer{.fileName = "fifth.png", .layerB = 5});
        model.materials.push_back(ts::KvtMaterial{
            .name = "FiveLayers",
            .maps = {ts::KvtMap{.key = 0, .kind = 4, .mapFlags = 2, .layers = five}}});
    }
    ts::KvtMesh& mesh = model.meshes[0];
    const ts::KvtPolygon first = mesh.polygons[0];
    mesh.polygons.clear();
    for (int32_t material = 0; material < static_cast<int32_t>(model.materials.size());
         ++material) {
        ts::KvtPolygon polygon = first;
        polygon.materialIndex = material;
        mesh.polygons.push_back(polygon);
    }
    return model;
}

// Six-face maps whose faces all exist, and one with a face missing.
ts::KvtModel sixFaceModel(int32_t version) {
    ts::KvtModel model = ts::triangleModel(version);
    const std::array<ts::KvtName, 6> existing = {"sub\\inner.png", "face_nx.png", "face_py.png",
                                                 "face_ny.png",    "face_pz.png", "face_nz.png"};
    std::array<ts::KvtName, 6> oneMissing = existing;
    oneMissing[5] = "face_missing.png";
    model.materials[0].maps = {ts::KvtMap{.key = 1, .kind = 5, .faces = existing},
                               ts::KvtMap{.key = 2, .kind = 5, .faces = oneMissing},
                               singleImage(0, "sub\\inner.png")};
    return model;
}

// The full model with `names` given to its materials (one material per name, the polygons using
// them in turn; only material names reach the scene) and, in turn, to every other named table.
ts::KvtModel namedModel(int32_t version, const std::vector<ts::KvtName>& names) {
    ts::KvtModel model = fullModel(version);
    while (model.materials.size() < names.size()) {
        const float shade = static_cast<float>(model.materials.size()) / 8.0f;
        model.materials.push_back(ts::KvtMaterial{.colours = {{{shade, 0.5f, 1 - shade, 1},
                                                               {0, 0, 0, 1},
                                                               {0, 0, 0, 1},
                                                               {0, 0, 0, 1},
                                                               {0, 0, 0, 1}}}});
    }
    const auto materialCount = static_cast<int32_t>(model.materials.size());
    int32_t nextMaterial = 0;
    for (ts::KvtMesh& mesh : model.meshes) {
        for (ts::KvtPolygon& polygon : mesh.polygons) {
            polygon.materialIndex = nextMaterial++ % materialCount;
        }
    }
    std::size_t next = 0;
    const auto take = [&]() { return names[next++ % names.size()]; };
    for (ts::KvtMaterial& material : model.materials) {
        material.name = take();
    }
    for (ts::KvtLight& light : model.lights) {
        light.name = take();
    }
    for (ts::KvtCamera& camera : model.cameras) {
        camera.name = take();
    }
    for (ts::KvtGroup& group : model.groups) {
        group.name = take();
    }
    for (ts::KvtUVSet& set : model.uvSets) {
        set.name = take();
    }
    for (ts::KvtBone& bone : model.bones) {
        bone.name = take();
    }
    for (ts::KvtAnimation& animation : model.animations) {
        animation.name = take();
    }
    return model;
}

const std::vector<ts::KvtName> kWideNames = {
    u"\u0414\u0435\u0440\u0435\u0432\u043E",  // Cyrillic
    u"\u6728\u6750",                          // CJK
    u"L\u00E1mpara",                          // Latin-1 range
    u"Smile \U0001F600",                      // a surrogate pair
    u"\u0393\u03BA\u03C1\u03BF\u03C5\u03C0",  // Greek
};

ts::KvtName rawName(ts::KvtBytes bytes) {
    ts::KvtName name;
    name.rawBytes = std::move(bytes);
    return name;
}

std::u16string repeated(std::u16string_view unit, std::size_t count) {
    std::u16string text;
    for (std::size_t i = 0; i < count; ++i) {
        text += unit;
    }
    return text;
}

// Names of 259, 260 and 300 units (the longest a name keeps is 259) and, wide, names whose
// surrogate pair straddles the cut or just fits before it.
std::vector<ts::KvtName> longNames(bool wide) {
    const std::u16string unit = wide ? u"\u00E9\u6728" : u"ab";
    std::vector<ts::KvtName> names = {
        repeated(u"x", 259),
        repeated(u"y", 260),
        repeated(unit, 150),
        repeated(u"z", 300),
    };
    if (wide) {
        names.push_back(repeated(u"w", 258) + u"\U0001F600tail");
        names.push_back(repeated(u"v", 257) + u"\U0001F600tail");
    }
    return names;
}

const std::vector<ts::KvtName> kDirtyNames = {
    "a b.c|d-e",   "x:y;z,w/v'u\\t<s>r]q[p{o}n(m)l",
    "3D Model",    "\"quoted\"",
    "tab\there",   "9lives",
    "under_score",
};

// Names that clash as stored and after the clean-up, and names a suffix would clash with.
const std::vector<ts::KvtName> kDuplicateNames = {
    "Mat", "Mat", "a b", "a_b", "Mat0", "Mat", "a.b",
};

// A polygon on `vertices` of the triangle, with UVs in both layouts.
ts::KvtPolygon polygonOf(std::vector<int32_t> vertices, int32_t material,
                         const std::vector<ts::KvtUVCoord>& coords) {
    ts::KvtPolygon polygon{.vertices = vertices, .materialIndex = material};
    std::vector<int32_t> uvIndices;
    for (const int32_t vertex : vertices) {
        uvIndices.push_back(vertex >= 0 && vertex < 3 ? vertex : 0);
    }
    setUVs(polygon, {uvIndices}, coords);
    return polygon;
}

// Polygons of zero, one and two corners between triangles.
ts::KvtModel shortPolygonsModel(int32_t version) {
    ts::KvtModel model = ts::triangleModel(version);
    const std::vector<ts::KvtUVCoord>& coords = model.uvSets[0].coords;
    model.meshes[0].polygons = {polygonOf({}, 0, coords), polygonOf({0, 1, 2}, 0, coords),
                                polygonOf({1}, 0, coords), polygonOf({2, 0}, 0, coords),
                                polygonOf({2, 1, 0}, 0, coords)};
    return model;
}

// Vertex, material and UV indices beyond their tables and below zero, weights of bones that do
// not exist, tracks beyond the bones and a bone linked to one that does not exist.
ts::KvtModel outOfRangeModel(int32_t version) {
    ts::KvtModel model = fullModel(version);
    ts::KvtMesh& mesh = model.meshes[0];
    mesh.polygons[0].vertices = {0, 99, 2};
    mesh.polygons[1].vertices = {-1, 1, 2};
    mesh.polygons[2].materialIndex = 7;
    mesh.polygons[3].materialIndex = -2;
    mesh.polygons[4].uvLayers[0].uvIndices = {50, -1, 2};
    mesh.polygons[5].vertices = {2147483647, -2147483647 - 1, 0};
    model.vertices[0].weights = {ts::KvtWeight{.boneIndex = 9, .weight = 1}};
    model.vertices[1].weights = {ts::KvtWeight{.boneIndex = -1, .weight = 2}};
    model.animations[0].tracks.push_back(model.animations[0].tracks[0]);
    model.animations[0].tracks.push_back(model.animations[0].tracks[1]);
    model.bones[1].boneLink = 5;
    return model;
}

// Two layers of inline UVs per polygon (three floats each below version 10).
ts::KvtModel inlineUVsModel(int32_t version) {
    ts::KvtModel model = ts::cubeModel(version);
    const std::vector<ts::KvtUVCoord>& coords = model.uvSets[0].coords;
    for (ts::KvtPolygon& polygon : model.meshes[0].polygons) {
        std::vector<int32_t> first = polygon.uvLayers[0].uvIndices;
        std::vector<int32_t> second(first.rbegin(), first.rend());
        setUVs(polygon, {first, second}, coords);
    }
    // A polygon with three layers and one with none.
    model.meshes[0].polygons[0].inlineUVs.push_back(model.meshes[0].polygons[0].inlineUVs[0]);
    model.meshes[0].polygons[1].inlineUVs.clear();
    return model;
}

ts::KvtModel withoutVertexFlags(int32_t version, uint32_t flags) {
    ts::KvtModel model = fullModel(version);
    model.flags = flags;
    return model;
}

// Section, map, weight and aux counts below zero with nothing stored: the sections are empty
// and the defaults of an empty section apply.
ts::KvtBytes negativeCounts(int32_t version) {
    ts::KvtModel model = ts::triangleModel(version);
    ts::KvtWriteOptions options;
    options.sectionCounts[ts::kvtSectionIndex(ts::KvtSection::kLights)] = -1;
    options.sectionCounts[ts::kvtSectionIndex(ts::KvtSection::kCameras)] = -5;
    options.sectionCounts[ts::kvtSectionIndex(ts::KvtSection::kGroups)] = -1;
    options.sectionCounts[ts::kvtSectionIndex(ts::KvtSection::kAuxRecords)] = -2;
    options.sectionCounts[ts::kvtSectionIndex(ts::KvtSection::kBones)] = -2;
    options.sectionCounts[ts::kvtSectionIndex(ts::KvtSection::kAnimations)] = -3;
    model.materials[0].mapCount = -4;
    for (ts::KvtVertex& vertex : model.vertices) {
        vertex.weightCount = -1;
    }
    model.uvSets[0].auxCount = -1;
    return ts::writeKvt(model, options);
}

// Counts in records that disagree with their content: weight, key, track and UV coordinate
// counts of zero and below with nothing stored.
ts::KvtBytes negativeInnerCounts(int32_t version) {
    ts::KvtModel model = fullModel(version);
    ts::KvtTrack empty;
    empty.positionKeyCount = -1;
    empty.rotationKeyCount = -7;
    empty.scaleKeyCount = 0;
    model.animations[0].tracks = {empty, model.animations[0].tracks[1]};
    model.animations.push_back(ts::KvtAnimation{.name = "NoTracks", .trackCount = -2});
    model.vertices[3].weights.clear();
    model.vertices[3].weightCount = -3;
    model.uvSets[1].coords.clear();
    model.uvSets[1].coordCount = -1;
    return ts::writeKvt(model);
}

// A triangle and nothing else: no material, no UV set (the defaults of empty sections), every
// other section empty.
ts::KvtModel emptySectionsModel(int32_t version) {
    ts::KvtModel model = ts::triangleModel(version);
    model.materials.clear();
    model.uvSets.clear();
    return model;
}

// No element at all.
ts::KvtBytes noElements(int32_t version) {
    ts::KvtModel model;
    model.version = version;
    return ts::writeKvt(model);
}

// The header words the reader carries without interpreting, all set.
ts::KvtBytes junkHeaderWords(int32_t version) {
    ts::KvtModel model = fullModel(version);
    const bool longLayout = version >= 30;
    for (std::size_t word = 4; word < 32; ++word) {
        const bool stored = longLayout || word < 14 || (word >= 18 && word < 28);
        if (stored && word != 24) {
            model.headerWords[word] = 0xA5A50000u + static_cast<uint32_t>(word);
        }
    }
    model.nameListCount = 7;
    return ts::writeKvt(model);
}

// The last section's count below its records: the records left over are never read.
ts::KvtBytes shortLastCount(int32_t version) {
    ts::KvtModel model = fullModel(version);
    model.animations.push_back(model.animations[0]);
    model.animations[1].name = "Unread";
    ts::KvtWriteOptions options;
    options.sectionCounts[ts::kvtSectionIndex(ts::KvtSection::kAnimations)] = 1;
    return ts::writeKvt(model, options);
}

// ---- Version 34 ---------------------------------------------------------------------------------

ts::KvtChunk* findChunk(std::vector<ts::KvtChunk>& chunks, uint32_t id) {
    const auto found = std::find_if(chunks.begin(), chunks.end(),
                                    [id](const ts::KvtChunk& chunk) { return chunk.id == id; });
    return found == chunks.end() ? nullptr : &*found;
}

constexpr uint32_t kAllVertexFlags = ts::kKvtFlagVertexNormals | ts::kKvtFlagVertexColours |
                                     ts::kKvtFlagExtraVectors | ts::kKvtFlagVertexWeights;

ts::KvtBytes chunked(const ts::KvtModel& model, uint32_t flags, int depth = 0) {
    return ts::writeKvt34(model, {.flags = flags}, {.compressionDepth = depth});
}

// Embedded files in two chunks, one before the materials and one after, with a name list.
// Texture names point at both through "." so that whether the file existed when the name was
// resolved shows: an existing name is kept with its folder, a missing one is replaced by its
// file part. The first chunk also holds an empty file and names that are a device, carry a
// drive or name the parent folder. Every embedded file name starts with `prefix`, so no other
// file of the corpus sees them.
ts::KvtBytes embeddedFiles(const std::string& prefix, int depth) {
    ts::KvtModel model = fullModel(34);
    model.materials[0].maps = {singleImage(0, ".\\" + prefix + "_early.png"),
                               singleImage(1, ".\\" + prefix + "_late.png"),
                               singleImage(2, "sub\\" + prefix + "_nested.png"),
                               singleImage(3, ".\\" + prefix + "_empty.png")};
    ts::KvtChunkedOptions options{.flags = kAllVertexFlags};
    options.nameList = std::vector<ts::KvtName>{"Key", "Fill", "Front", "Root"};
    std::vector<ts::KvtChunk> body = ts::kvtBodyChunks(model, options);
    const auto files = [&](std::vector<ts::KvtEmbeddedFile> list) {
        return ts::KvtChunk{.id = ts::kChunkEmbeddedFiles,
                            .payload = ts::kvtEmbeddedFilesPayload(list)};
    };
    const auto materials = std::find_if(body.begin(), body.end(), [](const ts::KvtChunk& chunk) {
        return chunk.id == ts::kChunkMaterials;
    });
    const std::ptrdiff_t at = materials - body.begin();
    body.insert(
        body.begin() + at,
        files({ts::KvtEmbeddedFile{.name = prefix + "_early.png", .content = {1, 2, 3}},
               ts::KvtEmbeddedFile{.name = "dir\\sub\\" + prefix + "_nested.png", .content = {4}},
               ts::KvtEmbeddedFile{.name = prefix + "_empty.png"},
               ts::KvtEmbeddedFile{.name = "CON", .content = {5}},
               ts::KvtEmbeddedFile{.name = "a:" + prefix + "_stream.png", .content = {6}},
               ts::KvtEmbeddedFile{.name = "..", .content = {7}}}));
    body.insert(body.begin() + at + 2,
                files({ts::KvtEmbeddedFile{.name = prefix + "_late.png", .content = {8, 9}}}));
    return ts::writeKvt34(body, options.flags, {.compressionDepth = depth});
}

// Unknown chunks at every level, a light chunk longer than its payload, a directory with
// foreign entries, and a vertex chunk in the second mesh.
ts::KvtBytes unknownChunks() {
    const ts::KvtModel model = fullModel(34);
    ts::KvtChunkedOptions options{.flags = kAllVertexFlags};
    options.directoryEntries = {{ts::kChunkDirectory, 72}, {ts::kChunkLights, 1}, {0x12345678, 9}};
    std::vector<ts::KvtChunk> body = ts::kvtBodyChunks(model, options);
    body.insert(body.begin() + 1, ts::KvtChunk{.id = 0xBBBB0005, .payload = {1, 2, 3}});
    ts::KvtChunk* lights = findChunk(body, ts::kChunkLights);
    lights->payload.resize(lights->payload.size() + 8, 0xEE);
    ts::KvtChunk* geometry = findChunk(body, ts::kChunkGeometry);
    geometry->children[0].children.push_back(ts::KvtChunk{.id = 0xCCCC0003, .payload = {7}});
    geometry->children[1].children.push_back(
        ts::KvtChunk{.id = ts::kChunkVertices,
                     .payload = ts::kvtVertexChunkPayload(model.vertices, options.flags)});
    body.push_back(ts::KvtChunk{.id = 0xFFFFFFFF, .payload = {0, 0, 0, 0, 1}});
    return ts::writeKvt34(body, options.flags);
}

// Known chunks wrapped in an unknown one and a geometry chunk nested in a mesh chunk.
ts::KvtBytes nestedChunks() {
    const ts::KvtModel model = fullModel(34);
    std::vector<ts::KvtChunk> body = ts::kvtBodyChunks(model, {.flags = kAllVertexFlags});
    body.push_back(ts::KvtChunk{.id = 0xEEEE0000, .children = {body[1], body[2]}});
    ts::KvtChunk* geometry = findChunk(body, ts::kChunkGeometry);
    ts::KvtChunk inner = *geometry;
    geometry->children[0].children.push_back(std::move(inner));
    return ts::writeKvt34(body, kAllVertexFlags);
}

// The body chunks in reverse order after the directory.
ts::KvtBytes reorderedChunks() {
    std::vector<ts::KvtChunk> body = ts::kvtBodyChunks(fullModel(34), {.flags = kAllVertexFlags});
    std::reverse(body.begin() + 1, body.end());
    return ts::writeKvt34(body, kAllVertexFlags);
}

// Sizes that disagree with the content: count words below the records written (the chunk's
// size still covers them all) and a last chunk whose size runs past the end of the file.
ts::KvtBytes oversizedChunks() {
    ts::KvtChunkedOptions options{.flags = kAllVertexFlags};
    options.sectionCounts[ts::kvtSectionIndex(ts::KvtSection::kVertices)] = 5;
    options.sectionCounts[ts::kvtSectionIndex(ts::KvtSection::kLights)] = 1;
    std::vector<ts::KvtChunk> body = ts::kvtBodyChunks(fullModel(34), options);
    body.back().sizeDelta = 1000;
    return ts::writeKvt34(body, options.flags);
}

// An embedded file whose size runs past the end of the file.
ts::KvtBytes embeddedPastEnd() {
    ts::KvtChunkedOptions options{.flags = kAllVertexFlags};
    options.embeddedFiles = {
        ts::KvtEmbeddedFile{.name = "v34_past_end.png", .content = {1, 2}, .size = 4096}};
    return ts::writeKvt34(fullModel(34), options);
}

// Bytes 20 to 47 of both headers of a compressed file set.
ts::KvtBytes uninterpretedHeaderBytes() {
    ts::KvtChunkedWriteOptions options{.compressionDepth = 1};
    for (std::size_t i = 0; i < options.uninterpreted.size(); ++i) {
        options.uninterpreted[i] = static_cast<uint8_t>(0xC0 + i);
    }
    return ts::writeKvt34(fullModel(34), {.flags = kAllVertexFlags}, options);
}

// ---- The corpus ---------------------------------------------------------------------------------

struct CorpusFile {
    std::string name;
    std::function<ts::KvtBytes()> bytes;
};

std::string versioned(const std::string& stem, int32_t version, const std::string& suffix = "") {
    const std::string digits = (version < 10 ? "0" : "") + std::to_string(version);
    return stem + "_v" + digits + suffix + ".kvt";
}

std::vector<CorpusFile> corpus() {
    std::vector<CorpusFile> files;
    const auto add = [&files](std::string name, std::function<ts::KvtBytes()> bytes) {
        files.push_back({std::move(name), std::move(bytes)});
    };
    const auto addModel = [&add](std::string name, std::function<ts::KvtModel()> model,
                                 ts::KvtWriteOptions options = {}) {
        add(std::move(name), [model, options] { return ts::writeKvt(model(), options); });
    };

    // Every classic version, plain, and several compressed.
    for (int32_t version = 6; version <= 33; ++version) {
        addModel(versioned("full", version), [version] { return fullModel(version); });
    }
    for (const int32_t version : {6, 10, 29, 30, 31, 33}) {
        addModel(versioned("full", version, "_z"), [version] { return fullModel(version); },
                 {.compressed = true});
    }
    addModel("full_v33_z_gap.kvt", [] { return fullModel(33); },
             {.compressed = true, .compressionLevel = 9, .streamGap = 12});

    // Version 34: plain, compressed once, twice and three times, and vertex-record flags.
    add("full_v34.kvt", [] { return chunked(fullModel(34), kAllVertexFlags); });
    add("full_v34_z.kvt", [] { return chunked(fullModel(34), kAllVertexFlags, 1); });
    add("full_v34_zz.kvt", [] { return chunked(fullModel(34), kAllVertexFlags, 2); });
    add("full_v34_zzz.kvt", [] { return chunked(fullModel(34), kAllVertexFlags, 3); });
    for (const uint32_t flags : {0x0u, 0x4u, 0x8u}) {
        add("vertex_flags_" + std::to_string(flags) + "_v34.kvt",
            [flags] { return chunked(fullModel(34), flags); });
    }
    add("embedded_v34.kvt", [] { return embeddedFiles("v34emb_plain", 0); });
    add("embedded_v34_zz.kvt", [] { return embeddedFiles("v34emb_twice", 2); });
    add("unknown_chunks_v34.kvt", unknownChunks);
    add("nested_chunks_v34.kvt", nestedChunks);
    add("reordered_chunks_v34.kvt", reorderedChunks);
    add("oversized_chunks_v34.kvt", oversizedChunks);
    add("embedded_past_end_v34.kvt", embeddedPastEnd);
    add("header_bytes_v34_z.kvt", uninterpretedHeaderBytes);

    // Texture names kept or replaced, both map layouts around the versions that keep names.
    for (const int32_t version : {9, 10, 11, 30, 31, 32, 33, 34}) {
        const std::string name = versioned("texture_names", version);
        if (version == 34) {
            add(name, [] { return chunked(textureNamesModel(34), ts::kKvtFlagVertexWeights); });
        } else {
            addModel(name, [version] { return textureNamesModel(version); });
        }
    }
    // Map kinds, layered and six-face maps in both entry layouts.
    for (const int32_t version : {6, 10, 30, 31, 33}) {
        addModel(versioned("map_kinds", version), [version] { return everyMapKindModel(version); });
    }
    add("map_kinds_v34.kvt", [] { return chunked(everyMapKindModel(34), 0); });
    for (const int32_t version : {10, 30, 31, 33}) {
        addModel(versioned("map_layers", version), [version] { return layeredMapsModel(version); });
    }
    add("map_layers_v34.kvt", [] { return chunked(layeredMapsModel(34), 0); });
    for (const int32_t version : {10, 30, 33}) {
        addModel(versioned("map_six_faces", version), [version] { return sixFaceModel(version); });
    }

    // Names: narrow, narrow beyond ASCII, wide beyond Latin-1, long, dirty and duplicate.
    addModel("names_narrow_v06.kvt", [] {
        return namedModel(6, {"Alpha", "beta", "Gamma_3", "delta4"});
    });
    const std::vector<ts::KvtName> highBytes = {
        std::string("Caf\xC3\xA9"),        // UTF-8 bytes
        std::string("Caf\xE9"),            // one byte of the 1252 code page, no UTF-8
        std::string("\xC3\x28 broken"),    // a broken UTF-8 sequence
        std::string("\xE2\x82\xAC euro"),  // the euro sign in UTF-8
    };
    addModel("names_narrow_high_bytes_v06.kvt", [highBytes] { return namedModel(6, highBytes); });
    addModel("names_narrow_high_bytes_v31.kvt", [highBytes] { return namedModel(31, highBytes); });
    for (const int32_t version : {10, 32, 33}) {
        addModel(versioned("names_wide", version),
                 [version] { return namedModel(version, kWideNames); });
    }
    add("names_wide_v34.kvt", [] { return chunked(namedModel(34, kWideNames), kAllVertexFlags); });
    for (const int32_t version : {6, 31}) {
        addModel(versioned("names_long_narrow", version),
                 [version] { return namedModel(version, longNames(false)); });
    }
    for (const int32_t version : {10, 33}) {
        addModel(versioned("names_long_wide", version),
                 [version] { return namedModel(version, longNames(true)); });
    }
    addModel("names_dirty_v30.kvt", [] { return namedModel(30, kDirtyNames); });
    addModel("names_dirty_v33.kvt", [] {
        std::vector<ts::KvtName> names = kDirtyNames;
        names.push_back(u"\u6728 \u6750.\u00E9");
        return namedModel(33, names);
    });
    addModel("names_duplicate_v06.kvt", [] { return namedModel(6, kDuplicateNames); });
    addModel("names_duplicate_v33.kvt", [] { return namedModel(33, kDuplicateNames); });
    // Empty names, a NUL inside a name and a wide name of an odd byte count.
    addModel("names_raw_v33.kvt", [] {
        return namedModel(
            33, {ts::KvtName{}, rawName({'a', 0, 0, 0, 'b', 0}), rawName({'o', 0, 'd', 0, 'd'})});
    });
    addModel("names_raw_v06.kvt", [] {
        return namedModel(6, {ts::KvtName{}, rawName({'a', 0, 'b'})});
    });

    // Vertex records without normals and colours, and with colours alone.
    addModel("vertex_flags_0_v06.kvt", [] { return withoutVertexFlags(6, 0); });
    addModel("vertex_flags_2_v31.kvt",
             [] { return withoutVertexFlags(31, ts::kKvtFlagVertexColours); });
    // Inline UVs of the old polygon layout.
    for (const int32_t version : {6, 10, 29}) {
        addModel(versioned("inline_uvs", version), [version] { return inlineUVsModel(version); });
    }
    // Polygons of fewer than three corners; indices out of range.
    for (const int32_t version : {6, 30}) {
        addModel(versioned("short_polygons", version),
                 [version] { return shortPolygonsModel(version); });
        addModel(versioned("out_of_range", version),
                 [version] { return outOfRangeModel(version); });
    }
    add("short_polygons_v34.kvt", [] { return chunked(shortPolygonsModel(34), 0); });
    add("out_of_range_v34.kvt", [] { return chunked(outOfRangeModel(34), kAllVertexFlags); });

    // Hostile files that still load.
    add("negative_counts_v06.kvt", [] { return negativeCounts(6); });
    add("negative_counts_v30.kvt", [] { return negativeCounts(30); });
    add("negative_inner_counts_v30.kvt", [] { return negativeInnerCounts(30); });
    addModel("empty_sections_v06.kvt", [] { return emptySectionsModel(6); });
    addModel("empty_sections_v33.kvt", [] { return emptySectionsModel(33); });
    add("empty_sections_v34.kvt", [] { return chunked(emptySectionsModel(34), 0); });
    add("header_words_v06.kvt", [] { return junkHeaderWords(6); });
    add("header_words_v30.kvt", [] { return junkHeaderWords(30); });
    add("short_last_count_v30.kvt", [] { return shortLastCount(30); });
    addModel("trailing_bytes_v30.kvt", [] { return fullModel(30); },
             {.trailing = ts::KvtBytes(16, 0xAB)});
    addModel("trailing_bytes_v06_z.kvt", [] { return fullModel(6); },
             {.compressed = true, .trailing = ts::KvtBytes{1, 2, 3}});
    // The outer header says version 6 (short layout), the inner one 33; and an inner version
    // above the chunked version, which the classic reader takes.
    addModel("inner_version_v06_33_z.kvt", [] { return fullModel(33); },
             {.header = {.version = 6, .longLayout = false}, .compressed = true});
    addModel("inner_version_v40_z.kvt", [] { return fullModel(33); },
             {.compressed = true, .innerHeader = {.version = 40}});
    // The outer flags word without the vertex bits the inner one has.
    addModel("outer_flags_v31_z.kvt", [] { return fullModel(31); },
             {.header = {.flags = ts::kKvtFlagCompressed}, .compressed = true});

    // Files that do not load.
    add("no_elements_v06.kvt", [] { return noElements(6); });
    add("no_elements_v33.kvt", [] { return noElements(33); });
    addModel("bad_magic_v30.kvt", [] { return fullModel(30); }, {.header = {.magic = "KVTX"}});
    addModel("version_5.kvt", [] { return fullModel(6); }, {.header = {.version = 5}});
    addModel("length_mismatch_v30.kvt", [] { return fullModel(30); },
             {.header = {.lengthDelta = 4}});
    add("truncated_body_v33.kvt", [] {
        const ts::KvtBytes whole = ts::writeKvt(fullModel(33));
        return ts::writeKvt(fullModel(33), {.truncateAt = whole.size() - 9});
    });
    add("negative_embedded_size_v34.kvt", [] {
        return ts::writeKvt34(
            fullModel(34),
            {.embeddedFiles = {ts::KvtEmbeddedFile{.name = "v34neg.png", .size = -1}}});
    });
    return files;
}

// Files the corpus folder holds besides the models: textures that exist (the names that name
// them are kept in the versions that keep existing names).
const std::vector<std::u16string> kExistingTextures = {
    u"stone.png",        u"sub/inner.png", u"sub/stone.png", u"sub/\u6728\u6750.png",
    u"\u6728\u6750.png", u"face_px.png",   u"face_nx.png",   u"face_py.png",
    u"face_ny.png",      u"face_pz.png",   u"face_nz.png",
};

// ---- The recorded table -------------------------------------------------------------------------

struct Recorded {
    int result = 0;
    std::string sha;
};

// One line of the table: name, result, digest and, for entries recorded per platform, the
// platform.
struct TableLine {
    std::string name;
    std::string platform;
    Recorded recorded;
};

std::vector<TableLine> readTable(const fs::path& path, std::vector<std::string>& errors) {
    std::vector<TableLine> lines;
    std::ifstream in(path);
    if (!in) {
        errors.push_back("cannot read " + path.string());
        return lines;
    }
    std::string text;
    for (int number = 1; std::getline(in, text); ++number) {
        if (!text.empty() && text.back() == '\r') {
            text.pop_back();
        }
        if (text.empty() || text[0] == '#') {
            continue;
        }
        std::istringstream fields(text);
        TableLine line;
        std::string extra;
        if (!(fields >> line.name >> line.recorded.result >> line.recorded.sha) ||
            line.recorded.sha.size() != 64) {
            errors.push_back("line " + std::to_string(number) + " is not 'name result sha256'");
            continue;
        }
        fields >> line.platform;
        if (fields >> extra) {
            errors.push_back("line " + std::to_string(number) + " has more than four fields");
            continue;
        }
        lines.push_back(std::move(line));
    }
    return lines;
}

std::string tableLine(const std::string& name, const Recorded& recorded,
                      std::string_view platform) {
    std::string line = name + " " + std::to_string(recorded.result) + " " + recorded.sha;
    if (!platform.empty()) {
        line += " " + std::string(platform);
    }
    return line;
}

constexpr const char* kTableHeader =
    "# Golden scene descriptors, checked by tests/golden_descriptors_test.cpp: one line per\n"
    "# corpus file, 'name result sha256-of-descriptor [platform]'. Entries whose descriptor\n"
    "# differs between platforms have one line per platform. Rewrite with\n"
    "#   QUILLMESH_GOLDEN_UPDATE=1 build/native/tests/quillmesh_tests "
    "--gtest_filter='Golden*'\n"
    "# and, for the Windows lines, QUILLMESH_GOLDEN_UPDATE=1 scripts/wine-ctest -R Golden\n";

bool updateRequested() {
    const char* value = std::getenv("QUILLMESH_GOLDEN_UPDATE");
    return value != nullptr && std::string_view(value) == "1";
}

// ---- The test -----------------------------------------------------------------------------------

TEST(GoldenSha256, MatchesStandardVectors) {
    struct Vector {
        std::string message;
        const char* digest;
    };
    const Vector vectors[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        // 56 bytes: the length no longer fits the block, so padding takes a second one.
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        // 112 bytes: a whole block, then one more for the rest and the padding.
        {"abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqr"
         "lmnopqrsmnopqrstnopqrstu",
         "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1"},
    };
    for (const Vector& vector : vectors) {
        const std::vector<uint8_t> bytes(vector.message.begin(), vector.message.end());
        EXPECT_EQ(ts::sha256Hex(bytes), vector.digest) << vector.message.size() << " bytes";
    }
}

// The corpus is written into a folder of its own, which is the current directory while the
// test runs; the original directory is put back, and the folder removed, whatever happens.
class GoldenDescriptors : public ::testing::Test {
  protected:
    void SetUp() override {
        quillmesh::setSceneSource(nullptr);
        std::error_code error;
        originalDirectory_ = fs::current_path(error);
        ASSERT_FALSE(error) << error.message();
        // Paths of the source tree are made absolute before the current directory moves.
        sourceDir_ = fs::absolute(fs::path(QUILLMESH_SOURCE_DIR));
        root_ = quillmesh::testsupport::makeScratchFolder("quillmesh_golden_");
        ASSERT_FALSE(root_.empty()) << "no temporary folder could be made";
        fs::current_path(root_, error);
        ASSERT_FALSE(error) << error.message();
    }

    void TearDown() override {
        std::error_code error;
        fs::current_path(originalDirectory_, error);
        EXPECT_FALSE(error) << error.message();
        if (!root_.empty()) {
            fs::remove_all(root_, error);
            EXPECT_FALSE(error) << error.message();
        }
    }

    fs::path root_;
    fs::path originalDirectory_;
    fs::path sourceDir_;
};

TEST_F(GoldenDescriptors, EveryCorpusFileImportsAsRecorded) {
    // The bundled example with its texture, and the textures that exist.
    for (const char* name : {"sample.kvt", "wood.png"}) {
        std::error_code error;
        fs::copy_file(sourceDir_ / "examples" / name, root_ / name, error);
        ASSERT_FALSE(error) << name << ": " << error.message();
    }
    fs::create_directory(root_ / "sub");
    for (const std::u16string& texture : kExistingTextures) {
        ts::writeKvtBytesFile(root_ / fs::path(texture), ts::KvtBytes{0x89, 'P', 'N', 'G'});
    }
    std::vector<std::string> names = {"sample.kvt"};
    for (const CorpusFile& file : corpus()) {
        ASSERT_EQ(std::count(names.begin(), names.end(), file.name), 0) << file.name;
        ts::writeKvtBytesFile(root_ / file.name, file.bytes());
        names.push_back(file.name);
    }

    std::vector<std::pair<std::string, Recorded>> imported;
    for (const std::string& name : names) {
        qmhost::Host host;
        // By bare name: the model's folder is the current directory.
        const qmhost::ImportOutcome outcome =
            qmhost::runImport(host, PluginMain, quillmesh::platform::fromUtf8(name));
        EXPECT_TRUE(host.balanced()) << name << ": " << host.accountSummary();
        quillmesh::gGlobals.basicSuite = &host.basicSuite();
        quillmesh::releaseAllSuites();
        imported.emplace_back(name, Recorded{outcome.result(), ts::sha256Hex(outcome.sceneBytes)});
    }

    const fs::path tablePath = sourceDir_ / "tests" / "golden" / "descriptors.txt";
    std::vector<std::string> errors;
    const std::vector<TableLine> table = readTable(tablePath, errors);
    const auto dependent = [](const std::string& name) {
        return kPlatformDependent.contains(name);
    };

    if (updateRequested()) {
        std::ofstream out(tablePath, std::ios::binary | std::ios::trunc);
        out << kTableHeader;
        for (const auto& [name, recorded] : imported) {
            if (!dependent(name)) {
                out << tableLine(name, recorded, "") << "\n";
                continue;
            }
            for (const TableLine& line : table) {
                if (line.name == name && !line.platform.empty() && line.platform != kPlatform) {
                    out << tableLine(name, line.recorded, line.platform) << "\n";
                }
            }
            out << tableLine(name, recorded, kPlatform) << "\n";
        }
        out.close();
        ASSERT_TRUE(out.good()) << "cannot write " << tablePath;
        std::cout << "recorded " << imported.size() << " descriptors in " << tablePath.string()
                  << "\n";
        return;
    }

    for (const std::string& error : errors) {
        ADD_FAILURE() << tablePath.string() << ": " << error;
    }
    // The lines that apply here: the shared ones, and this platform's for dependent entries.
    std::map<std::string, Recorded, std::less<>> expected;
    const std::set<std::string, std::less<>> corpusNames(names.begin(), names.end());
    for (const TableLine& line : table) {
        if (!corpusNames.contains(line.name)) {
            ADD_FAILURE() << line.name << ": recorded, but no corpus file has this name";
            continue;
        }
        if (dependent(line.name) == line.platform.empty()) {
            ADD_FAILURE() << line.name << ": "
                          << (line.platform.empty()
                                  ? "recorded without a platform, but its descriptor differs "
                                    "between platforms"
                                  : "recorded for a platform, but its descriptor is the same on "
                                    "every platform");
            continue;
        }
        if (!line.platform.empty() && line.platform != kPlatform) {
            continue;
        }
        if (!expected.emplace(line.name, line.recorded).second) {
            ADD_FAILURE() << line.name << ": recorded twice";
        }
    }
    int changed = 0;
    for (const auto& [name, recorded] : imported) {
        const std::string_view platform = dependent(name) ? kPlatform : "";
        const auto found = expected.find(name);
        if (found == expected.end()) {
            ++changed;
            ADD_FAILURE() << name << ": not recorded; its line would be\n  "
                          << tableLine(name, recorded, platform);
            continue;
        }
        if (found->second.result != recorded.result || found->second.sha != recorded.sha) {
            ++changed;
            ADD_FAILURE() << name << ": the descriptor changed\n  recorded: "
                          << tableLine(name, found->second, platform)
                          << "\n  now:      " << tableLine(name, recorded, platform);
        }
    }
    EXPECT_EQ(changed, 0) << "of " << imported.size()
                          << " files; if the changes are deliberate, record them with "
                             "QUILLMESH_GOLDEN_UPDATE=1";
}

}  // namespace
