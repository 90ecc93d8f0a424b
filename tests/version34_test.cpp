// The chunked (version 34) reader: header results, nested compression, the chunk walk with
// unknown, oversized, undersized and huge chunks, the directory, vertex and polygon chunks,
// meshes and UV sets beyond their counts, every prefix of sound files, the name list and embedded
// files written beside the model. Files are built by the chunked test writer and read with
// parseModel, which hands every version from 34 on to the chunked reader.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <variant>
#include <vector>

#include "model/kvt_plugin.h"
#include "scene/model_conversion.h"
#include "tests/support/kvt_chunks.h"
#include "tests/support/kvt_writer.h"
#include "tests/support/scratch_folder.h"

namespace {

namespace fs = std::filesystem;
namespace ts = quillmesh::testsupport;
using quillmesh::KVTPlugin;

// Three vertices, a light, a UV set of three coordinates and one mesh of one triangle.
ts::KvtModel smallModel() {
    ts::KvtModel model;
    model.version = 34;
    model.lights = {ts::KvtLight{.name = "Lamp", .code = 7, .option = 3}};
    model.vertices = {
        ts::KvtVertex{.position = {1, 2, 3}, .normal = {0, 0, 1}, .colour = {0.5f, 0.25f, 1, 1}},
        ts::KvtVertex{.position = {4, 5, 6}, .normal = {0, 1, 0}, .colour = {0, 1, 0, 0.5f}},
        ts::KvtVertex{.position = {7, 8, 9}, .normal = {1, 0, 0}, .colour = {1, 0, 0, 1}},
    };
    model.uvSets = {ts::KvtUVSet{.name = "Stored", .coords = {{1, 0, 0}, {2, 1, 0}, {3, 1, 1}}}};
    model.meshes = {ts::KvtMesh{
        .polygons = {ts::KvtPolygon{
            .vertices = {0, 1, 2},
            .cornerValues = {10, 11, 12},
            .polygonTag = 5,
            .materialIndex = 0,
            .polygonValue = 9,
            .uvLayers = {ts::KvtUVLayer{.uvIndices = {0, 1, 2}, .uvValues = {20, 21, 22}}},
        }}}};
    return model;
}

ts::KvtChunk* findChunk(std::vector<ts::KvtChunk>& chunks, uint32_t id) {
    const auto found = std::find_if(chunks.begin(), chunks.end(),
                                    [id](const ts::KvtChunk& chunk) { return chunk.id == id; });
    return found == chunks.end() ? nullptr : &*found;
}

// Parses `bytes` as a loaded file at `sourcePath` would be parsed (no post-load steps).
int parse(KVTPlugin& plugin, const ts::KvtBytes& bytes, const std::u16string& sourcePath = {}) {
    return plugin.loadModelFromMemory(bytes, sourcePath);
}

std::vector<int32_t> asVector(std::span<const int32_t> values) {
    return {values.begin(), values.end()};
}

// parse, then the resolve stage and post-load steps an import runs on a parsed model.
int parseAndResolve(KVTPlugin& plugin, const ts::KvtBytes& bytes,
                    const std::u16string& sourcePath) {
    const int result = parse(plugin, bytes, sourcePath);
    if (result == quillmesh::kLoadSucceeded) {
        quillmesh::finishLoadedModel(plugin.model, sourcePath, quillmesh::systemFileSystem());
    }
    return result;
}

// The vertex positions the model holds.
std::vector<quillmesh::Vec3> positions(const KVTPlugin& plugin) {
    std::vector<quillmesh::Vec3> out;
    for (const quillmesh::ModelVertex& vertex : plugin.model.vertices.items) {
        out.push_back(vertex.position);
    }
    return out;
}

const std::vector<quillmesh::Vec3> kSmallPositions{{1, 2, 3}, {4, 5, 6}, {7, 8, 9}};

struct HeaderCase {
    const char* label;
    std::function<ts::KvtBytes()> build;
    int expected;
};

TEST(Version34Reader, HeaderAndContainerResults) {
    const ts::KvtModel model = smallModel();
    const std::vector<HeaderCase> cases{
        {"plain", [&] { return ts::writeKvt34(model); }, quillmesh::kLoadSucceeded},
        {"version 35", [&] { return ts::writeKvt34(model, {}, {.header = {.version = 35u}}); },
         quillmesh::kLoadUnsupportedVersion},
        {"inner header says 33",
         [&] {
             return ts::writeKvt34(model, {},
                                   {.compressionDepth = 1, .innerHeader = {.version = 33u}});
         },
         quillmesh::kLoadUnsupportedVersion},
        {"bad magic", [&] { return ts::writeKvt34(model, {}, {.header = {.magic = "KVTX"}}); },
         quillmesh::kLoadBadMagic},
        {"inner magic bad",
         [&] {
             return ts::writeKvt34(model, {},
                                   {.compressionDepth = 1, .innerHeader = {.magic = "HTVK"}});
         },
         quillmesh::kLoadBadMagic},
        {"length one too long",
         [&] { return ts::writeKvt34(model, {}, {.header = {.lengthDelta = 1}}); },
         quillmesh::kLoadLengthMismatch},
        {"inner length one short",
         [&] {
             return ts::writeKvt34(model, {},
                                   {.compressionDepth = 2, .innerHeader = {.lengthDelta = -1}});
         },
         quillmesh::kLoadLengthMismatch},
        {"compressed once", [&] { return ts::writeKvt34(model, {}, {.compressionDepth = 1}); },
         quillmesh::kLoadSucceeded},
        {"compressed three times",
         [&] { return ts::writeKvt34(model, {}, {.compressionDepth = 3}); },
         quillmesh::kLoadSucceeded},
        {"compressed sixteen times",
         [&] { return ts::writeKvt34(model, {}, {.compressionDepth = 16}); },
         quillmesh::kLoadSucceeded},
        {"compressed seventeen times",
         [&] { return ts::writeKvt34(model, {}, {.compressionDepth = 17}); },
         quillmesh::kLoadFailed},
        {"stream gap",
         [&] { return ts::writeKvt34(model, {}, {.compressionDepth = 1, .streamGap = 9}); },
         quillmesh::kLoadSucceeded},
        {"stream offset past the end",
         [&] {
             return ts::writeKvt34(model, {}, {.compressionDepth = 1, .streamOffset = 0x7FFFFFF0u});
         },
         quillmesh::kLoadFailed},
        {"header cut at 40 bytes",
         [&] { return ts::writeKvt34(model, {}, {.truncateFileAt = 40}); }, quillmesh::kLoadFailed},
        {"body without chunks", [&] { return ts::writeKvt34(std::vector<ts::KvtChunk>{}, 0); },
         quillmesh::kLoadFailed},
        {"first chunk not the directory",
         [&] {
             std::vector<ts::KvtChunk> body = ts::kvtBodyChunks(model);
             body.erase(body.begin());
             return ts::writeKvt34(body, ts::kKvtFlagVertexWeights);
         },
         quillmesh::kLoadFailed},
        {"directory only",
         [&] {
             std::vector<ts::KvtChunk> body = ts::kvtBodyChunks(model);
             body.resize(1);
             return ts::writeKvt34(body, ts::kKvtFlagVertexWeights);
         },
         quillmesh::kLoadFailed},
    };
    for (const HeaderCase& c : cases) {
        SCOPED_TRACE(c.label);
        KVTPlugin plugin;
        const int result = parse(plugin, c.build());
        EXPECT_EQ(result, c.expected);
        if (result == quillmesh::kLoadSucceeded) {
            EXPECT_EQ(plugin.model.version, 34);
            EXPECT_EQ(positions(plugin), kSmallPositions);
            ASSERT_EQ(plugin.model.lights.count, 1);
            EXPECT_EQ(plugin.model.lights.items[0].code, 7);
        }
    }
}

// Everything the walk should find in smallModel, and the defaults of what the file leaves out.
void expectSmallModel(const KVTPlugin& plugin) {
    const quillmesh::ModelData& model = plugin.model;
    EXPECT_EQ(positions(plugin), kSmallPositions);
    ASSERT_EQ(model.lights.count, 1);
    EXPECT_EQ(model.lights.items[0].code, 7);
    EXPECT_EQ(model.lights.items[0].option, 3);
    EXPECT_EQ(model.lights.items[0].name.narrow(), "Lamp");
    ASSERT_EQ(model.groups.count, 1);
    EXPECT_EQ(model.groups.items[0].name.narrow(), "KVTGroup0");
    ASSERT_EQ(model.meshes.count, 1);
    ASSERT_EQ(model.meshes.items[0].polygonCount, 1);
    const quillmesh::ModelPolygon& polygon = model.meshes.items[0].polygons[0];
    const quillmesh::ModelMesh& mesh = model.meshes.items[0];
    EXPECT_EQ(asVector(mesh.corners(polygon)), (std::vector<int32_t>{0, 1, 2}));
    EXPECT_EQ(asVector(mesh.valuesOfCorners(polygon)), (std::vector<int32_t>{10, 11, 12}));
    EXPECT_EQ(polygon.polygonTag, 5);
    EXPECT_EQ(polygon.polygonValue, 9);
    ASSERT_EQ(polygon.uvLayerCount, 1);
    EXPECT_EQ(asVector(mesh.uvValuesOf(polygon, 0)), (std::vector<int32_t>{20, 21, 22}));
    ASSERT_EQ(model.uvSets.count, 1);
    // The stored name is dropped: the set keeps the name it was made with.
    EXPECT_EQ(model.uvSets.items[0].name.narrow(), "UVSet1");
    ASSERT_EQ(model.uvSets.items[0].coordCount, 3);
    EXPECT_EQ(model.uvSets.items[0].coords[2], (quillmesh::UVCoord{3, 1, 1}));
}

struct WalkCase {
    const char* label;
    std::function<void(std::vector<ts::KvtChunk>&)> edit;
};

// Edits of the body that the walk must read past without losing anything.
TEST(Version34Reader, WalkReadsPastUnknownAndMissizedChunks) {
    const std::vector<WalkCase> cases{
        {"as written", [](std::vector<ts::KvtChunk>&) {}},
        {"unknown chunk between body chunks",
         [](std::vector<ts::KvtChunk>& body) {
             body.insert(body.begin() + 2, ts::KvtChunk{.id = 0xBBBB0005, .payload = {1, 2, 3, 4}});
         }},
        {"unknown chunk first inside the mesh",
         [](std::vector<ts::KvtChunk>& body) {
             std::vector<ts::KvtChunk>& mesh =
                 findChunk(body, ts::kChunkGeometry)->children[0].children;
             mesh.insert(mesh.begin(), ts::KvtChunk{.id = 0xCCCC0003, .payload = {0xFF, 0xFF}});
         }},
        {"body identifier inside the mesh is skipped",
         [](std::vector<ts::KvtChunk>& body) {
             std::vector<ts::KvtChunk>& mesh =
                 findChunk(body, ts::kChunkGeometry)->children[0].children;
             mesh.push_back(
                 ts::KvtChunk{.id = ts::kChunkLights, .payload = {0xFF, 0xFF, 0xFF, 0x7F}});
         }},
        {"light chunk larger than its payload",
         [](std::vector<ts::KvtChunk>& body) {
             ts::KvtChunk* lights = findChunk(body, ts::kChunkLights);
             lights->payload.insert(lights->payload.end(), 12, 0xEE);
         }},
        {"last chunk with a size near 2^32",
         [](std::vector<ts::KvtChunk>& body) {
             body.push_back(ts::KvtChunk{.id = 0x12345678, .payload = {1, 2}, .size = 0xFFFFFFF9u});
         }},
        {"name-list chunk of size 2^32 - 1 last",
         [](std::vector<ts::KvtChunk>& body) {
             body.push_back(ts::KvtChunk{
                 .id = ts::kChunkNameList, .payload = {0, 0, 0, 0}, .size = 0xFFFFFFFFu});
         }},
        {"directory with a partial entry",
         [](std::vector<ts::KvtChunk>& body) {
             body[0].payload.insert(body[0].payload.end(), {0x01, 0x00, 0xBB, 0xBB});
         }},
        {"directory of 5 bytes",
         [](std::vector<ts::KvtChunk>& body) {
             body[0].payload = {0x01, 0x00, 0xBB, 0xBB, 0x09};
         }},
        {"empty directory", [](std::vector<ts::KvtChunk>& body) { body[0].payload.clear(); }},
        {"geometry before the lights",
         [](std::vector<ts::KvtChunk>& body) {
             ts::KvtChunk geometry = *findChunk(body, ts::kChunkGeometry);
             body.erase(
                 std::remove_if(body.begin(), body.end(),
                                [](const ts::KvtChunk& c) { return c.id == ts::kChunkGeometry; }),
                 body.end());
             body.insert(body.begin() + 1, geometry);
         }},
    };
    for (const WalkCase& c : cases) {
        SCOPED_TRACE(c.label);
        std::vector<ts::KvtChunk> body = ts::kvtBodyChunks(smallModel());
        c.edit(body);
        KVTPlugin plugin;
        ASSERT_EQ(parse(plugin, ts::writeKvt34(body, ts::kKvtFlagVertexWeights)),
                  quillmesh::kLoadSucceeded);
        expectSmallModel(plugin);
    }
}

// Edits that must fail the load, and never read or write outside the image.
TEST(Version34Reader, DamagedWalksFail) {
    const std::vector<WalkCase> cases{
        // A payload is read within its chunk: records beyond the chunk's end are missing.
        {"light chunk smaller than its payload",
         [](std::vector<ts::KvtChunk>& body) { findChunk(body, ts::kChunkLights)->size = 4u; }},
        {"light chunk of size 0",
         [](std::vector<ts::KvtChunk>& body) { findChunk(body, ts::kChunkLights)->size = 0u; }},
        {"second mesh chunk beyond the mesh count",
         [](std::vector<ts::KvtChunk>& body) {
             ts::KvtChunk* geometry = findChunk(body, ts::kChunkGeometry);
             geometry->children.push_back(geometry->children[0]);
         }},
        {"second UV-set chunk beyond the UV-set count",
         [](std::vector<ts::KvtChunk>& body) {
             ts::KvtChunk* uvSets = findChunk(
                 findChunk(body, ts::kChunkGeometry)->children[0].children, ts::kChunkUVSets);
             uvSets->children.push_back(uvSets->children[0]);
         }},
        {"directory larger than the file",
         [](std::vector<ts::KvtChunk>& body) { body[0].size = 0xFFFFFF00u; }},
        {"polygon count beyond the file",
         [](std::vector<ts::KvtChunk>& body) {
             ts::KvtChunk* polygons = findChunk(
                 findChunk(body, ts::kChunkGeometry)->children[0].children, ts::kChunkPolygons);
             polygons->payload[3] = 0x7F;
         }},
    };
    for (const WalkCase& c : cases) {
        SCOPED_TRACE(c.label);
        std::vector<ts::KvtChunk> body = ts::kvtBodyChunks(smallModel());
        c.edit(body);
        KVTPlugin plugin;
        EXPECT_EQ(parse(plugin, ts::writeKvt34(body, ts::kKvtFlagVertexWeights)),
                  quillmesh::kLoadFailed);
    }
}

// A chunked file can be shorter than a classic header; it still reaches the chunked reader.
TEST(Version34Reader, FileShorterThanAClassicHeaderLoads) {
    const std::vector<ts::KvtVertex> one{ts::KvtVertex{.position = {5, 6, 7}}};
    ts::KvtBytes meshCount{1, 0, 0, 0};
    const std::vector<ts::KvtChunk> body{
        ts::KvtChunk{.id = ts::kChunkDirectory},
        ts::KvtChunk{
            .id = ts::kChunkGeometry,
            .payload = meshCount,
            .children = {ts::KvtChunk{
                .id = ts::kChunkMesh,
                .children = {ts::KvtChunk{.id = ts::kChunkVertices,
                                          .payload = ts::kvtVertexChunkPayload(one, 0)}}}}},
    };
    const ts::KvtBytes bytes = ts::writeKvt34(body, 0);
    ASSERT_LT(bytes.size(), 128u);
    KVTPlugin plugin;
    ASSERT_EQ(parse(plugin, bytes), quillmesh::kLoadSucceeded);
    EXPECT_EQ(positions(plugin), (std::vector<quillmesh::Vec3>{{5, 6, 7}}));
    EXPECT_EQ(plugin.model.meshes.count, 1);
    EXPECT_EQ(plugin.model.uvSets.count, 2);
}

// Materials use the new map layout, except that a layered map storing fewer than one layer
// gets no layers (classic files give it three).
TEST(Version34Reader, LayeredMapWithoutLayersGetsNone) {
    struct Case {
        const char* label;
        std::optional<int32_t> layerCount;
        std::size_t layersRead;
    };
    const std::vector<Case> cases{
        {"zero layers", 0, 0},
        {"negative layer count", -3, 0},
        {"one layer", std::nullopt, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        ts::KvtModel model = smallModel();
        ts::KvtMap map{.key = 2, .kind = 4, .layerCount = c.layerCount};
        if (!c.layerCount) {
            map.layers = {ts::KvtMapLayer{.fileName = "", .layerA = 4}};
        }
        model.materials = {ts::KvtMaterial{.name = "Layered", .maps = {map}}};
        KVTPlugin plugin;
        // No source directory: the material decoder leaves the current directory alone.
        ASSERT_EQ(parse(plugin, ts::writeKvt34(model)), quillmesh::kLoadSucceeded);
        ASSERT_EQ(plugin.model.materials.count, 1);
        const quillmesh::ModelMaterial& material = plugin.model.materials.items[0];
        ASSERT_EQ(material.mapCount, 1);
        ASSERT_NE(material.maps[0], nullptr);
        const auto* layered = std::get_if<quillmesh::MapKind4Record>(&material.maps[0]->record);
        ASSERT_NE(layered, nullptr);
        EXPECT_EQ(layered->layers.size(), c.layersRead);
        if (c.layersRead == 1) {
            EXPECT_EQ(layered->layers[0].layerA, 4);
        }
        expectSmallModel(plugin);
    }
}

// One to seven bytes where a chunk header is expected fail the load.
TEST(Version34Reader, ShortChunkHeaderAtTheEndFails) {
    for (std::size_t extra = 1; extra < 8; ++extra) {
        SCOPED_TRACE(extra);
        ts::KvtBytes bytes = ts::writeKvt34(smallModel());
        bytes.insert(bytes.end(), extra, 0x01);
        const auto length = static_cast<uint32_t>(bytes.size());
        for (std::size_t i = 0; i < 4; ++i) {
            bytes[12 + i] = static_cast<uint8_t>(length >> (8 * i));
        }
        KVTPlugin plugin;
        EXPECT_EQ(parse(plugin, bytes), quillmesh::kLoadFailed);
    }
}

// Every combination of the vertex-chunk flags: the records are sized by the flags (distinct
// positions show a misread record), the colour is stored only with 0x2 and weights only with 0x8.
TEST(Version34Reader, VertexChunkContentsFollowTheFlags) {
    for (uint32_t flags = 0; flags < 16; ++flags) {
        SCOPED_TRACE(testing::Message() << "flags " << flags);
        ts::KvtModel model = smallModel();
        model.vertices[0].weights = {{3, 0.25f}, {4, 0.75f}};
        model.vertices[0].extraVectors = {{{9, 9, 9}, {8, 8, 8}}};
        model.vertices[2].weights = {{1, 1.0f}};
        KVTPlugin plugin;
        ASSERT_EQ(parse(plugin, ts::writeKvt34(model, {.flags = flags})),
                  quillmesh::kLoadSucceeded);
        EXPECT_EQ(positions(plugin), kSmallPositions);
        const std::vector<quillmesh::ModelVertex>& vertices = plugin.model.vertices.items;
        const bool colours = (flags & ts::kKvtFlagVertexColours) != 0;
        const bool weights = (flags & ts::kKvtFlagVertexWeights) != 0;
        EXPECT_EQ(vertices[1].colour,
                  colours ? (quillmesh::Rgba{0, 1, 0, 0.5f}) : (quillmesh::Rgba{1, 1, 1, 1}));
        ASSERT_EQ(vertices[0].weightCount, weights ? 2 : 0);
        ASSERT_EQ(plugin.model.weightsOf(vertices[0]).size(), weights ? 2u : 0u);
        EXPECT_EQ(vertices[1].weightCount, 0);
        EXPECT_EQ(vertices[2].weightCount, weights ? 1 : 0);
        if (weights) {
            EXPECT_EQ(plugin.model.weightsOf(vertices[0])[1].boneIndex, 4);
            EXPECT_EQ(plugin.model.weightsOf(vertices[0])[1].weight, 0.75f);
        }
    }
}

// A second vertex chunk (in a second mesh chunk) sizes the shared array and writes it from
// index 0; the first chunk's records beyond that size are dropped.
TEST(Version34Reader, LaterVertexChunkSizesAndRewritesTheSharedArray) {
    ts::KvtModel model = smallModel();
    ts::KvtChunkedOptions options;
    options.sectionCounts[ts::kvtSectionIndex(ts::KvtSection::kMeshes)] = 2;
    std::vector<ts::KvtChunk> body = ts::kvtBodyChunks(model, options);
    const std::vector<ts::KvtVertex> later{ts::KvtVertex{.position = {-1, -2, -3}},
                                           ts::KvtVertex{.position = {-4, -5, -6}}};
    findChunk(body, ts::kChunkGeometry)
        ->children.push_back(
            ts::KvtChunk{.id = ts::kChunkMesh,
                         .children = {ts::KvtChunk{
                             .id = ts::kChunkVertices,
                             .payload = ts::kvtVertexChunkPayload(later, options.flags)}}});
    KVTPlugin plugin;
    ASSERT_EQ(parse(plugin, ts::writeKvt34(body, options.flags)), quillmesh::kLoadSucceeded);
    EXPECT_EQ(positions(plugin), (std::vector<quillmesh::Vec3>{{-1, -2, -3}, {-4, -5, -6}}));
    ASSERT_EQ(plugin.model.meshes.count, 2);
    EXPECT_EQ(plugin.model.meshes.items[0].polygonCount, 1);
    EXPECT_EQ(plugin.model.meshes.items[1].polygonCount, 0);
}

struct PolygonCase {
    const char* label;
    std::vector<int32_t> vertices;
    std::vector<std::vector<int32_t>> layers;
};

// Polygons keep exactly their stored corners and layers, whatever their number.
TEST(Version34Reader, PolygonsKeepExactlyTheirCornersAndLayers) {
    const std::vector<PolygonCase> cases{
        {"two corners, one layer", {4, 5}, {{7, 8}}},
        {"three corners, no layer", {0, 1, 2}, {}},
        {"one corner, three layers", {2}, {{1}, {2}, {3}}},
        {"five corners, two layers", {0, 1, 2, 1, 0}, {{0, 1, 2, 3, 4}, {4, 3, 2, 1, 0}}},
    };
    for (const PolygonCase& c : cases) {
        SCOPED_TRACE(c.label);
        ts::KvtModel model = smallModel();
        ts::KvtPolygon polygon{.vertices = c.vertices, .polygonTag = 3, .materialIndex = -1};
        for (std::size_t j = 0; j < c.vertices.size(); ++j) {
            polygon.cornerValues.push_back(static_cast<int32_t>(100 + j));
        }
        for (const std::vector<int32_t>& layer : c.layers) {
            std::vector<int32_t> values;
            std::transform(layer.begin(), layer.end(), std::back_inserter(values),
                           [](int32_t index) { return -index; });
            polygon.uvLayers.push_back(ts::KvtUVLayer{.uvIndices = layer, .uvValues = values});
        }
        model.meshes[0].polygons.push_back(polygon);
        KVTPlugin plugin;
        ASSERT_EQ(parse(plugin, ts::writeKvt34(model)), quillmesh::kLoadSucceeded);
        ASSERT_EQ(plugin.model.meshes.items[0].polygonCount, 2);
        const quillmesh::ModelMesh& mesh = plugin.model.meshes.items[0];
        const quillmesh::ModelPolygon& read = mesh.polygons[1];
        EXPECT_EQ(read.cornerCount, static_cast<int32_t>(c.vertices.size()));
        EXPECT_EQ(asVector(mesh.corners(read)), c.vertices);
        EXPECT_EQ(asVector(mesh.valuesOfCorners(read)), polygon.cornerValues);
        EXPECT_EQ(read.polygonTag, 3);
        ASSERT_EQ(read.uvLayerCount, static_cast<int32_t>(c.layers.size()));
        for (std::size_t l = 0; l < c.layers.size(); ++l) {
            const auto layer = static_cast<int32_t>(l);
            EXPECT_EQ(asVector(mesh.uvIndicesOf(read, layer)), c.layers[l]);
            EXPECT_EQ(asVector(mesh.uvValuesOf(read, layer)), polygon.uvLayers[l].uvValues);
        }
    }
}

// A polygon that announces a huge number of layers but has no corners allocates nothing for
// them; one with corners whose layers cannot be in the file fails the load.
TEST(Version34Reader, LayerCountsTheFileCannotHoldAllocateNothing) {
    {
        ts::KvtModel model = smallModel();
        model.meshes[0].polygons.push_back(ts::KvtPolygon{.layerCount = 0x7FFFFFFF});
        KVTPlugin plugin;
        ASSERT_EQ(parse(plugin, ts::writeKvt34(model)), quillmesh::kLoadSucceeded);
        const quillmesh::ModelPolygon& read = plugin.model.meshes.items[0].polygons[1];
        EXPECT_EQ(read.cornerCount, 0);
        EXPECT_EQ(read.uvLayerCount, 0);
        EXPECT_TRUE(plugin.model.meshes.items[0].uvIndicesOf(read, 0).empty());
    }
    {
        ts::KvtModel model = smallModel();
        model.meshes[0].polygons[0].layerCount = 0x7FFFFFFF;
        KVTPlugin plugin;
        EXPECT_EQ(parse(plugin, ts::writeKvt34(model)), quillmesh::kLoadFailed);
    }
}

TEST(Version34Reader, NameListSetsTheNameListCount) {
    struct Case {
        std::optional<std::vector<ts::KvtName>> names;
        int32_t expected;
    };
    const std::vector<Case> cases{
        {std::nullopt, 0},
        {std::vector<ts::KvtName>{}, 0},
        {std::vector<ts::KvtName>{"one", "two", u"dr\u00e9i"}, 3},
    };
    for (const Case& c : cases) {
        KVTPlugin plugin;
        ASSERT_EQ(parse(plugin, ts::writeKvt34(smallModel(), {.nameList = c.names})),
                  quillmesh::kLoadSucceeded);
    }
}

// Parses the first `size` bytes of `bytes` from a heap block of exactly that size, so that a
// read past the end is caught.
int parsePrefix(KVTPlugin& plugin, const ts::KvtBytes& bytes, std::size_t size) {
    const auto block = std::make_unique<uint8_t[]>(std::max<std::size_t>(size, 1));
    std::copy_n(bytes.begin(), size, block.get());
    return plugin.loadModelFromMemory(std::span<const uint8_t>(block.get(), size), u"");
}

bool modelIsEmpty(const quillmesh::ModelData& model) {
    return !model.lights.exists() && !model.cameras.exists() && !model.materials.exists() &&
           !model.groups.exists() && !model.vertices.exists() && !model.auxRecords.exists() &&
           !model.uvSets.exists() && !model.meshes.exists() && !model.bones.exists() &&
           !model.animations.exists() && model.vertexWeights.empty() && model.embeddedFiles.empty();
}

struct PrefixCase {
    const char* label;
    ts::KvtBytes bytes;
    int compressionDepth;
    int32_t meshes;
    std::size_t embeddedFiles;
};

// Every prefix of a sound file is refused: a plain one's length word no longer matches, a
// compressed one's stream is cut short. The load before each prefix leaves a model for the
// refusal to clear.
TEST(Version34Reader, EveryPrefixOfASoundFileIsRefused) {
    ts::KvtModel model = smallModel();
    model.materials = {ts::KvtMaterial{.name = "Wood", .maps = {ts::KvtMap{.fileName = "a.png"}}}};
    model.bones = {ts::KvtBone{.name = "Root"}};
    model.animations = {ts::KvtAnimation{.name = "Walk", .tracks = {ts::KvtTrack{}}}};
    ts::KvtModel meshes = model;
    meshes.meshes.push_back(ts::KvtMesh{.polygons = {ts::KvtPolygon{.vertices = {2, 1, 0}}}});
    meshes.meshes.push_back(ts::KvtMesh{});
    ts::KvtChunkedOptions extras;
    extras.embeddedFiles = {ts::KvtEmbeddedFile{.name = "a.png", .content = {1, 2, 3}},
                            ts::KvtEmbeddedFile{.name = "b.png", .content = {4}}};
    extras.nameList = std::vector<ts::KvtName>{"Lamp", u"W\u00fcrfel"};
    const std::vector<PrefixCase> cases{
        {"plain", ts::writeKvt34(model), 0, 1, 0},
        {"compressed", ts::writeKvt34(model, {}, {.compressionDepth = 1}), 1, 1, 0},
        {"compressed twice", ts::writeKvt34(model, {}, {.compressionDepth = 2}), 2, 1, 0},
        {"three mesh chunks", ts::writeKvt34(meshes), 0, 3, 0},
        {"embedded files and names", ts::writeKvt34(model, extras), 0, 1, 2},
        {"embedded files compressed", ts::writeKvt34(meshes, extras, {.compressionDepth = 1}), 1, 3,
         2},
    };
    constexpr std::size_t kHeaderBytes = 48;
    for (const PrefixCase& c : cases) {
        SCOPED_TRACE(c.label);
        KVTPlugin plugin;
        ASSERT_EQ(parsePrefix(plugin, c.bytes, c.bytes.size()), quillmesh::kLoadSucceeded);
        EXPECT_EQ(plugin.model.meshes.count, c.meshes);
        EXPECT_EQ(plugin.model.embeddedFiles.size(), c.embeddedFiles);
        EXPECT_EQ(plugin.model.animations.count, 1);
        for (std::size_t size = 0; size < c.bytes.size(); ++size) {
            ASSERT_EQ(parsePrefix(plugin, c.bytes, c.bytes.size()), quillmesh::kLoadSucceeded);
            const int expected = c.compressionDepth == 0 && size >= kHeaderBytes
                                     ? quillmesh::kLoadLengthMismatch
                                     : quillmesh::kLoadFailed;
            ASSERT_EQ(parsePrefix(plugin, c.bytes, size), expected) << size << " bytes";
            ASSERT_TRUE(modelIsEmpty(plugin.model)) << size << " bytes";
        }
    }
}

// With the length word stating the cut, a chunk cut short ends with the file: the walk reads
// within the bytes there are, a refusal leaves no model, and a load keeps no more of any element
// than the whole file has.
TEST(Version34Reader, PrefixesStatingTheirLengthReadOnlyTheirBytes) {
    ts::KvtModel model = smallModel();
    model.meshes.push_back(ts::KvtMesh{.polygons = {ts::KvtPolygon{.vertices = {0, 1}}}});
    model.bones = {ts::KvtBone{.name = "Root"}};
    ts::KvtChunkedOptions extras;
    extras.embeddedFiles = {ts::KvtEmbeddedFile{.name = "a.png", .content = {1, 2, 3}}};
    extras.nameList = std::vector<ts::KvtName>{"Lamp"};
    const ts::KvtBytes whole = ts::writeKvt34(model, extras);
    std::size_t loaded = 0;
    for (std::size_t size = 0; size < whole.size(); ++size) {
        ts::KvtBytes prefix(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(size));
        for (std::size_t i = 0; i < 4 && 12 + i < prefix.size(); ++i) {
            prefix[12 + i] = static_cast<uint8_t>(size >> (8 * i));
        }
        KVTPlugin plugin;
        if (parsePrefix(plugin, prefix, size) != quillmesh::kLoadSucceeded) {
            ASSERT_TRUE(modelIsEmpty(plugin.model)) << size << " bytes";
            continue;
        }
        ++loaded;
        const quillmesh::ModelData& read = plugin.model;
        EXPECT_LE(read.lights.count, 1) << size << " bytes";
        EXPECT_LE(read.vertices.count, 3) << size << " bytes";
        EXPECT_LE(read.meshes.count, 2) << size << " bytes";
        EXPECT_LE(read.bones.count, 1) << size << " bytes";
        EXPECT_LE(read.embeddedFiles.size(), 1u) << size << " bytes";
    }
    // Cuts between whole chunks leave loadable files.
    EXPECT_GT(loaded, 0u);
}

// Each test gets a folder of its own; the model "lives" there without being written.
class EmbeddedFiles : public ::testing::Test {
  protected:
    void SetUp() override {
        root_ = ts::makeScratchFolder("quillmesh_v34_");
        ASSERT_FALSE(root_.empty());
        folder_ = root_ / "model";
        fs::create_directory(folder_);
    }
    void TearDown() override {
        std::error_code error;
        fs::remove_all(root_, error);
    }

    std::u16string sourcePath() const { return (folder_ / "scene.kvt").u16string(); }

    std::set<std::u16string> filesInFolder() const {
        std::set<std::u16string> names;
        for (const fs::directory_entry& entry : fs::directory_iterator(folder_)) {
            names.insert(entry.path().filename().u16string());
        }
        return names;
    }

    static std::string contentOf(const fs::path& path) {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

    static ts::KvtBytes bytesOf(std::string_view text) { return {text.begin(), text.end()}; }

    fs::path root_;
    fs::path folder_;
};

struct EmbeddedCase {
    ts::KvtName name;
    const char16_t* writtenAs;  // null: nothing written
};

TEST_F(EmbeddedFiles, AreWrittenBesideTheModelUnderTheirFileNamePart) {
    const std::vector<EmbeddedCase> cases{
        {"plain.png", u"plain.png"},
        {"textures/forward.png", u"forward.png"},
        {"C:\\art\\textures\\back.tga", u"back.tga"},
        {"..\\..\\escape.txt", u"escape.txt"},
        {"../up.bin", u"up.bin"},
        {u"w\u00f6rter/\u00e4pfel.dat", u"\u00e4pfel.dat"},
        {"..", nullptr},
        {".", nullptr},
        {"", nullptr},
        {"dir/", nullptr},
        {"C:", nullptr},
        {"dir\\..", nullptr},
        {"stream.txt:hidden", nullptr},
        // Device names on Windows, skipped everywhere; near misses are files.
        {"CON", nullptr},
        {"nul.txt", nullptr},
        {"textures/Com1.log", nullptr},
        {"LPT9", nullptr},
        {"aux .dat", nullptr},
        {"CONOUT$", nullptr},
        {"lpt0.bin", nullptr},
        {u"textures/COM\u00B9.dat", nullptr},
        {"console.txt", u"console.txt"},
        {"COM10", u"COM10"},
        {"lpt.bin", u"lpt.bin"},
    };
    ts::KvtChunkedOptions options;
    std::set<std::u16string> expected;
    for (std::size_t i = 0; i < cases.size(); ++i) {
        options.embeddedFiles.push_back(ts::KvtEmbeddedFile{
            .name = cases[i].name, .content = bytesOf("content " + std::to_string(i))});
        if (cases[i].writtenAs != nullptr) {
            expected.insert(cases[i].writtenAs);
        }
    }
    KVTPlugin plugin;
    ASSERT_EQ(parseAndResolve(plugin, ts::writeKvt34(smallModel(), options), sourcePath()),
              quillmesh::kLoadSucceeded);
    expectSmallModel(plugin);
    EXPECT_EQ(filesInFolder(), expected);
    for (std::size_t i = 0; i < cases.size(); ++i) {
        if (cases[i].writtenAs != nullptr) {
            EXPECT_EQ(contentOf(folder_ / fs::path(std::u16string(cases[i].writtenAs))),
                      "content " + std::to_string(i));
        }
    }
    // Nothing outside the model's folder.
    EXPECT_EQ(std::distance(fs::directory_iterator(root_), fs::directory_iterator()), 1);
}

TEST_F(EmbeddedFiles, NeverOverwriteAnExistingFileAndStillSkipItsBytes) {
    { std::ofstream(folder_ / "keep.txt", std::ios::binary) << "old"; }
    ts::KvtChunkedOptions options;
    options.embeddedFiles = {
        ts::KvtEmbeddedFile{.name = "keep.txt", .content = bytesOf("new and longer")},
        ts::KvtEmbeddedFile{.name = "empty.txt", .content = {}},
        ts::KvtEmbeddedFile{.name = "after.txt", .content = bytesOf("after")},
    };
    KVTPlugin plugin;
    ASSERT_EQ(parseAndResolve(plugin, ts::writeKvt34(smallModel(), options), sourcePath()),
              quillmesh::kLoadSucceeded);
    expectSmallModel(plugin);
    EXPECT_EQ(contentOf(folder_ / "keep.txt"), "old");
    EXPECT_EQ(contentOf(folder_ / "after.txt"), "after");
    // A file of no bytes is not written.
    EXPECT_EQ(filesInFolder(), (std::set<std::u16string>{u"after.txt", u"keep.txt"}));
}

TEST_F(EmbeddedFiles, AFailedLoadWritesNothing) {
    ts::KvtChunkedOptions options;
    options.embeddedFiles = {ts::KvtEmbeddedFile{.name = "early.txt", .content = bytesOf("x")}};
    std::vector<ts::KvtChunk> body = ts::kvtBodyChunks(smallModel(), options);
    // A second mesh chunk beyond the mesh count fails the decoding walk after the file was read.
    ts::KvtChunk* geometry = findChunk(body, ts::kChunkGeometry);
    geometry->children.push_back(geometry->children[0]);
    KVTPlugin plugin;
    EXPECT_EQ(parseAndResolve(plugin, ts::writeKvt34(body, options.flags), sourcePath()),
              quillmesh::kLoadFailed);
    EXPECT_TRUE(filesInFolder().empty());

    // A file that declares nothing fails before the decoding walk: nothing is written.
    ts::KvtModel empty;
    empty.version = 34;
    KVTPlugin second;
    EXPECT_EQ(
        parseAndResolve(second,
                        ts::writeKvt34(empty, {.embeddedFiles = {ts::KvtEmbeddedFile{
                                                   .name = "never.txt", .content = bytesOf("y")}}}),
                        sourcePath()),
        quillmesh::kLoadFailed);
    EXPECT_FALSE(fs::exists(folder_ / "never.txt"));
}

TEST_F(EmbeddedFiles, SizesBeyondTheBufferOrNegativeWriteNothing) {
    struct Case {
        const char* label;
        int32_t size;
        int expected;
    };
    const std::vector<Case> cases{
        {"size past the end of the file", 0x7FFFFFF0, quillmesh::kLoadSucceeded},
        {"negative size", -8, quillmesh::kLoadFailed},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        ts::KvtChunkedOptions options;
        options.embeddedFiles = {ts::KvtEmbeddedFile{
            .name = "big.bin", .content = bytesOf("0123456789abcdef"), .size = c.size}};
        KVTPlugin plugin;
        EXPECT_EQ(parseAndResolve(plugin, ts::writeKvt34(smallModel(), options), sourcePath()),
                  c.expected);
        EXPECT_TRUE(filesInFolder().empty());
    }
}

#ifndef _WIN32
// A link at the target is neither followed nor replaced, dangling or not.
TEST_F(EmbeddedFiles, LinksAtTheTargetAreNotFollowed) {
    const fs::path outside = root_ / "outside.txt";
    { std::ofstream(outside, std::ios::binary) << "outside"; }
    fs::create_symlink(outside, folder_ / "linked.txt");
    fs::create_symlink(root_ / "nowhere.txt", folder_ / "dangling.txt");
    ts::KvtChunkedOptions options;
    options.embeddedFiles = {
        ts::KvtEmbeddedFile{.name = "linked.txt", .content = bytesOf("through the link")},
        ts::KvtEmbeddedFile{.name = "dangling.txt",
                            .content = bytesOf("through the dangling link")},
    };
    KVTPlugin plugin;
    ASSERT_EQ(parseAndResolve(plugin, ts::writeKvt34(smallModel(), options), sourcePath()),
              quillmesh::kLoadSucceeded);
    EXPECT_EQ(contentOf(outside), "outside");
    EXPECT_FALSE(fs::exists(root_ / "nowhere.txt"));
    EXPECT_TRUE(fs::is_symlink(folder_ / "linked.txt"));
    EXPECT_TRUE(fs::is_symlink(folder_ / "dangling.txt"));
}
#endif

}  // namespace

namespace {

// A model with `count` records of every kind, each marked with `mark` (names "<mark><i>",
// positions, values), so that whose records a load kept can be told.
ts::KvtModel markedModel(const std::string& mark, int32_t count) {
    ts::KvtModel model;
    model.version = 34;
    const auto value = [&](int32_t i) { return static_cast<float>(mark[0] * 10 + i); };
    for (int32_t i = 0; i < count; ++i) {
        const std::string name = mark + std::to_string(i);
        model.lights.push_back(ts::KvtLight{.name = name});
        model.cameras.push_back(ts::KvtCamera{.name = name});
        model.materials.push_back(ts::KvtMaterial{.name = name});
        model.groups.push_back(ts::KvtGroup{.name = name});
        model.bones.push_back(ts::KvtBone{.name = name});
        model.animations.push_back(ts::KvtAnimation{.name = name});
        model.vertices.push_back(ts::KvtVertex{.position = {value(i), 0, 0}});
        model.auxRecords.push_back(ts::KvtAuxRecord{.scalar = value(i)});
        model.uvSets.push_back(ts::KvtUVSet{.coords = {{0, value(i), 0}}});
    }
    model.meshes.resize(static_cast<std::size_t>(count));
    for (ts::KvtMesh& mesh : model.meshes) {
        for (int32_t i = 0; i < count; ++i) {
            mesh.polygons.push_back(
                ts::KvtPolygon{.vertices = {0}, .materialIndex = static_cast<int32_t>(value(i))});
        }
    }
    return model;
}

// What a load kept of one kind: how many records, and the mark of the first.
struct KindView {
    std::size_t count = 0;
    std::string firstMark;
};

std::string markOf(const quillmesh::ModelName& name) {
    return std::string(name.narrow().substr(0, 1));
}
std::string markOf(float value) {
    return std::string(1, static_cast<char>(value / 10));
}

struct RepeatedKind {
    const char* label;
    uint32_t id;
    bool inMesh;  // a chunk of the first mesh chunk rather than of the body
    std::function<KindView(const quillmesh::ModelData&)> view;
};

template <typename T, typename Mark>
KindView viewOf(const std::vector<T>& items, Mark mark) {
    return {items.size(), items.empty() ? std::string() : mark(items.front())};
}

}  // namespace

// A chunk that comes again replaces what the earlier one of its kind read, whatever the kind:
// the load keeps the later chunk's records, exactly as many as it holds.
TEST(Version34Reader, ALaterChunkOfAKindReplacesTheEarlierOne) {
    using quillmesh::ModelData;
    const std::vector<RepeatedKind> kinds{
        {"lights", ts::kChunkLights, false,
         [](const ModelData& m) {
             return viewOf(m.lights.items, [](const auto& e) { return markOf(e.name); });
         }},
        {"cameras", ts::kChunkCameras, false,
         [](const ModelData& m) {
             return viewOf(m.cameras.items, [](const auto& e) { return markOf(e.name); });
         }},
        {"materials", ts::kChunkMaterials, false,
         [](const ModelData& m) {
             return viewOf(m.materials.items, [](const auto& e) { return markOf(e.name); });
         }},
        {"groups", ts::kChunkGroups, false,
         [](const ModelData& m) {
             return viewOf(m.groups.items, [](const auto& e) { return markOf(e.name); });
         }},
        {"bones", ts::kChunkBones, false,
         [](const ModelData& m) {
             return viewOf(m.bones.items, [](const auto& e) { return markOf(e.name); });
         }},
        {"animations", ts::kChunkAnimations, false,
         [](const ModelData& m) {
             return viewOf(m.animations.items, [](const auto& e) { return markOf(e.name); });
         }},
        {"geometry", ts::kChunkGeometry, false,
         [](const ModelData& m) {
             return viewOf(m.meshes.items, [](const quillmesh::ModelMesh& e) {
                 return markOf(static_cast<float>(e.polygons.front().materialIndex));
             });
         }},
        {"vertices", ts::kChunkVertices, true,
         [](const ModelData& m) {
             return viewOf(m.vertices.items, [](const auto& e) { return markOf(e.position.x); });
         }},
        {"aux records", ts::kChunkAuxRecords, true,
         [](const ModelData& m) {
             return viewOf(m.auxRecords.items, [](const auto& e) { return markOf(e.auxScalar); });
         }},
        {"polygons", ts::kChunkPolygons, true,
         [](const ModelData& m) {
             return viewOf(m.meshes.items.front().polygons, [](const auto& e) {
                 return markOf(static_cast<float>(e.materialIndex));
             });
         }},
        {"UV sets", ts::kChunkUVSets, true,
         [](const ModelData& m) {
             return viewOf(m.uvSets.items,
                           [](const auto& e) { return markOf(e.coords.front().u); });
         }},
    };
    for (const RepeatedKind& kind : kinds) {
        SCOPED_TRACE(kind.label);
        std::vector<ts::KvtChunk> body = ts::kvtBodyChunks(markedModel("A", 2));
        std::vector<ts::KvtChunk> later = ts::kvtBodyChunks(markedModel("B", 1));
        std::vector<ts::KvtChunk>* chunks = &body;
        std::vector<ts::KvtChunk>* laterChunks = &later;
        if (kind.inMesh) {
            chunks = &findChunk(body, ts::kChunkGeometry)->children.front().children;
            laterChunks = &findChunk(later, ts::kChunkGeometry)->children.front().children;
        }
        const ts::KvtChunk* again = findChunk(*laterChunks, kind.id);
        ASSERT_NE(again, nullptr);
        chunks->push_back(*again);

        KVTPlugin plugin;
        ASSERT_EQ(parse(plugin, ts::writeKvt34(body, ts::kKvtFlagVertexWeights)),
                  quillmesh::kLoadSucceeded);
        const KindView view = kind.view(plugin.model);
        EXPECT_EQ(view.count, 1u);
        EXPECT_EQ(view.firstMark, "B");
    }
}
