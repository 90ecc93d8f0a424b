// The polygon mesh section, decoded from files made by the test writer: the new layout with UV
// layers, the old layout with a mesh tag and inline UVs that land in the two default UV sets,
// the corner total, short polygons, surplus UV layers, negative corner counts, and truncation.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "model/kvt_plugin.h"
#include "model/sections.h"
#include "tests/section_loading.h"
#include "tests/support/kvt_writer.h"

namespace quillmesh {
namespace {

using sectiontest::loaded;
using sectiontest::loadExact;
using sectiontest::sectionOffset;
using testsupport::KvtBone;
using testsupport::KvtBytes;
using testsupport::KvtImage;
using testsupport::KvtInlineUV;
using testsupport::KvtMesh;
using testsupport::KvtModel;
using testsupport::KvtPolygon;
using testsupport::KvtSection;
using testsupport::kvtSectionIndex;
using testsupport::KvtUVLayer;
using testsupport::KvtVertex;
using testsupport::KvtWriteOptions;
using testsupport::writeKvt;
using testsupport::writeKvtImage;

using Ints = std::vector<int32_t>;

void expectEmptyModel(const KVTPlugin& plugin) {
    const ModelData& model = plugin.model;
    EXPECT_EQ(model.groups.count, 0);
    EXPECT_EQ(model.vertices.count, 0);
    EXPECT_EQ(model.uvSets.count, 0);
    EXPECT_TRUE(model.uvSets.items.empty());
    EXPECT_EQ(model.meshes.count, 0);
    EXPECT_TRUE(model.meshes.items.empty());
    EXPECT_EQ(model.bones.count, 0);
    EXPECT_EQ(model.animations.count, 0);
    EXPECT_EQ(model.cornerTotal, 0);
    for (const int32_t declared : model.declaredCounts) {
        EXPECT_EQ(declared, 0);
    }
}

void expectEveryCutInsideFails(const KvtModel& model, KvtSection section,
                               std::optional<KvtSection> next) {
    sectiontest::expectEveryCutInsideFails(model, section, next, expectEmptyModel);
}

// The bone after the mesh section: a mesh record read too long or too short shows up in it.
KvtBone sentinelBone() {
    KvtBone bone;
    bone.name = "Tail";
    bone.boneLink = 4321;
    return bone;
}

void expectSentinelBone(const KVTPlugin& plugin, const KvtImage& image) {
    ASSERT_EQ(plugin.model.bones.count, 1);
    EXPECT_EQ(plugin.model.bones.items[0].name.narrow(), "Tail");
    EXPECT_EQ(plugin.model.bones.items[0].boneLink, 4321);
    EXPECT_EQ(plugin.model.bones.sectionStart, sectionOffset(image, KvtSection::kBones));
}

const ModelPolygon& polygonAt(const KVTPlugin& plugin, std::size_t mesh, std::size_t polygon) {
    const auto& meshes = plugin.model.meshes.items;
    EXPECT_LT(mesh, meshes.size());
    EXPECT_LT(polygon, meshes.at(mesh).polygons.size());
    return meshes.at(mesh).polygons.at(polygon);
}

Ints minusOnes(std::size_t count) {
    return Ints(count, -1);
}

// Inline UVs of one layer, one per corner; the third value (written below version 10) is
// garbage the reader must drop.
std::vector<KvtInlineUV> inlineLayer(float base, std::size_t corners) {
    std::vector<KvtInlineUV> layer;
    for (std::size_t j = 0; j < corners; ++j) {
        const float f = base + static_cast<float>(j);
        layer.push_back({f + 0.25f, f + 0.5f, -999.0f});
    }
    return layer;
}

// --- New layout ---------------------------------------------------------------------------------

class MeshNewLayout : public ::testing::TestWithParam<int32_t> {};

TEST_P(MeshNewLayout, StoresEveryFieldOfEveryPolygon) {
    KvtModel model;
    model.version = GetParam();
    KvtPolygon triangle;
    triangle.vertices = {4, 5, 6};
    triangle.cornerValues = {10, 11, 12};
    triangle.polygonTag = 77;
    triangle.materialIndex = 2;
    triangle.polygonValue = -9;
    triangle.uvLayers = {KvtUVLayer{{0, 1, 2}, {100, 101, 102}},
                         KvtUVLayer{{3, 4, 5}, {200, 201, 202}}};
    KvtPolygon quad;
    quad.vertices = {0, 1, 2, 3};
    quad.cornerValues = {20, 21, 22, 23};
    quad.polygonTag = -1;
    quad.materialIndex = 0;
    quad.polygonValue = 5;
    quad.uvLayers = {KvtUVLayer{{9, 8, 7, 6}, {1, 2, 3, 4}}};
    KvtPolygon other;
    other.vertices = {1, 2, 3};
    other.polygonTag = 8;
    other.materialIndex = 1;
    other.uvLayers = {KvtUVLayer{{1, 1, 1}, {}}, KvtUVLayer{{2, 2, 2}, {}}};
    model.meshes = {KvtMesh{0, {triangle, quad}}, KvtMesh{0, {other}}};
    model.bones = {sentinelBone()};

    const KvtImage image = writeKvtImage(model);
    const auto plugin = loaded(model);
    const ModelData& data = plugin->model;
    ASSERT_EQ(data.meshes.count, 2);
    EXPECT_EQ(data.declaredCount(SectionId::kMeshes), 2);
    EXPECT_EQ(data.cornerTotal, 10);
    ASSERT_EQ(data.meshes.items[0].polygonCount, 2);
    ASSERT_EQ(data.meshes.items[1].polygonCount, 1);

    const ModelPolygon& first = polygonAt(*plugin, 0, 0);
    EXPECT_EQ(first.polygonTag, 77);
    EXPECT_EQ(first.materialIndex, 2);
    EXPECT_EQ(first.polygonValue, -9);
    EXPECT_EQ(first.cornerCount, 3);
    EXPECT_EQ(first.vertexIndices, (Ints{4, 5, 6}));
    EXPECT_EQ(first.cornerValues, (Ints{10, 11, 12}));
    ASSERT_EQ(first.uvLayerCount, 2);
    ASSERT_EQ(first.uvLayers.size(), 2u);
    EXPECT_EQ(first.uvLayers[0].uvIndices, (Ints{0, 1, 2}));
    EXPECT_EQ(first.uvLayers[0].uvValues, (Ints{100, 101, 102}));
    EXPECT_EQ(first.uvLayers[1].uvIndices, (Ints{3, 4, 5}));
    EXPECT_EQ(first.uvLayers[1].uvValues, (Ints{200, 201, 202}));

    const ModelPolygon& second = polygonAt(*plugin, 0, 1);
    EXPECT_EQ(second.polygonTag, -1);
    EXPECT_EQ(second.materialIndex, 0);
    EXPECT_EQ(second.polygonValue, 5);
    EXPECT_EQ(second.cornerCount, 4);
    EXPECT_EQ(second.vertexIndices, (Ints{0, 1, 2, 3}));
    EXPECT_EQ(second.cornerValues, (Ints{20, 21, 22, 23}));
    ASSERT_EQ(second.uvLayers.size(), 2u);
    EXPECT_EQ(second.uvLayers[0].uvIndices, (Ints{9, 8, 7, 6}));
    EXPECT_EQ(second.uvLayers[0].uvValues, (Ints{1, 2, 3, 4}));
    // The record holds one layer: the second keeps its -1 entries.
    EXPECT_EQ(second.uvLayers[1].uvIndices, minusOnes(4));
    EXPECT_EQ(second.uvLayers[1].uvValues, minusOnes(4));

    const ModelPolygon& third = polygonAt(*plugin, 1, 0);
    EXPECT_EQ(third.polygonTag, 8);
    EXPECT_EQ(third.materialIndex, 1);
    EXPECT_EQ(third.vertexIndices, (Ints{1, 2, 3}));
    EXPECT_EQ(third.cornerValues, (Ints{0, 0, 0}));
    EXPECT_EQ(third.uvLayers[1].uvIndices, (Ints{2, 2, 2}));

    // The UV sets of a new file come from their own section, untouched by the polygons.
    ASSERT_EQ(data.uvSets.count, 2);
    EXPECT_TRUE(data.uvSets.items[0].coords.empty());
    expectSentinelBone(*plugin, image);
}

INSTANTIATE_TEST_SUITE_P(Versions, MeshNewLayout, ::testing::Values(30, 31, 32, 33));

struct LayerCase {
    int32_t version;
    int32_t layers;
};

// Polygons hold two UV layers: layers announced beyond them are read and dropped.
class PolygonUVLayerCount : public ::testing::TestWithParam<LayerCase> {};

TEST_P(PolygonUVLayerCount, KeepsAtMostTwoLayersAndReadsTheRest) {
    const LayerCase param = GetParam();
    KvtModel model;
    model.version = param.version;
    KvtPolygon polygon;
    polygon.vertices = {0, 1, 2};
    for (int32_t l = 0; l < param.layers; ++l) {
        polygon.uvLayers.push_back(
            KvtUVLayer{{10 * l, 10 * l + 1, 10 * l + 2}, {-10 * l, -10 * l - 1, -10 * l - 2}});
    }
    KvtPolygon after;
    after.vertices = {7, 8, 9};
    after.polygonValue = 1234;
    after.uvLayers = {KvtUVLayer{{5, 6, 7}, {}}};
    model.meshes = {KvtMesh{0, {polygon, after}}};
    model.bones = {sentinelBone()};

    const KvtImage image = writeKvtImage(model);
    const auto plugin = loaded(model);
    const ModelPolygon& first = polygonAt(*plugin, 0, 0);
    ASSERT_EQ(first.uvLayerCount, 2);
    ASSERT_EQ(first.uvLayers.size(), 2u);
    for (int32_t l = 0; l < 2; ++l) {
        const PolygonUVLayer& layer = first.uvLayers[static_cast<std::size_t>(l)];
        if (l < param.layers) {
            EXPECT_EQ(layer.uvIndices, (Ints{10 * l, 10 * l + 1, 10 * l + 2})) << "layer " << l;
            EXPECT_EQ(layer.uvValues, (Ints{-10 * l, -10 * l - 1, -10 * l - 2}));
        } else {
            EXPECT_EQ(layer.uvIndices, minusOnes(3)) << "layer " << l;
            EXPECT_EQ(layer.uvValues, minusOnes(3));
        }
    }
    const ModelPolygon& second = polygonAt(*plugin, 0, 1);
    EXPECT_EQ(second.vertexIndices, (Ints{7, 8, 9}));
    EXPECT_EQ(second.polygonValue, 1234);
    EXPECT_EQ(second.uvLayers[0].uvIndices, (Ints{5, 6, 7}));
    EXPECT_EQ(plugin->model.cornerTotal, 6);
    expectSentinelBone(*plugin, image);
}

INSTANTIATE_TEST_SUITE_P(Counts, PolygonUVLayerCount,
                         ::testing::Values(LayerCase{30, 0}, LayerCase{30, 1}, LayerCase{30, 2},
                                           LayerCase{30, 3}, LayerCase{33, 6}));

// --- Old layout ---------------------------------------------------------------------------------

class MeshOldLayout : public ::testing::TestWithParam<int32_t> {};

TEST_P(MeshOldLayout, MeshTagAndInlineUVsNumberedAcrossTheSection) {
    KvtModel model;
    model.version = GetParam();
    KvtPolygon quad;
    quad.vertices = {0, 1, 2, 3};
    quad.materialIndex = 3;
    quad.polygonValue = 17;
    quad.inlineUVs = {inlineLayer(0, 4), inlineLayer(100, 4)};
    KvtPolygon triangle;
    triangle.vertices = {3, 2, 5};
    triangle.materialIndex = -1;
    triangle.polygonValue = -17;
    triangle.inlineUVs = {inlineLayer(10, 3), inlineLayer(110, 3)};
    KvtPolygon later;
    later.vertices = {6, 7, 8};
    later.inlineUVs = {inlineLayer(20, 3), inlineLayer(120, 3)};
    model.meshes = {KvtMesh{42, {quad, triangle}}, KvtMesh{-8, {later}}};
    model.bones = {sentinelBone()};

    const KvtImage image = writeKvtImage(model);
    const auto plugin = loaded(model);
    const ModelData& data = plugin->model;
    ASSERT_EQ(data.meshes.count, 2);
    EXPECT_EQ(data.cornerTotal, 10);

    const ModelPolygon& first = polygonAt(*plugin, 0, 0);
    EXPECT_EQ(first.polygonTag, 42);
    EXPECT_EQ(first.materialIndex, 3);
    EXPECT_EQ(first.polygonValue, 17);
    EXPECT_EQ(first.cornerCount, 4);
    EXPECT_EQ(first.vertexIndices, (Ints{0, 1, 2, 3}));
    EXPECT_EQ(first.cornerValues, minusOnes(4));
    const ModelPolygon& second = polygonAt(*plugin, 0, 1);
    EXPECT_EQ(second.polygonTag, 42);
    EXPECT_EQ(second.materialIndex, -1);
    EXPECT_EQ(second.polygonValue, -17);
    EXPECT_EQ(second.vertexIndices, (Ints{3, 2, 5}));
    const ModelPolygon& third = polygonAt(*plugin, 1, 0);
    EXPECT_EQ(third.polygonTag, -8);
    EXPECT_EQ(third.vertexIndices, (Ints{6, 7, 8}));

    // Corners are numbered across polygons and meshes: the second polygon's first UV index is
    // the first polygon's corner count.
    for (std::size_t l = 0; l < 2; ++l) {
        EXPECT_EQ(first.uvLayers[l].uvIndices, (Ints{0, 1, 2, 3}));
        EXPECT_EQ(second.uvLayers[l].uvIndices, (Ints{4, 5, 6}));
        EXPECT_EQ(third.uvLayers[l].uvIndices, (Ints{7, 8, 9}));
        EXPECT_EQ(first.uvLayers[l].uvValues, minusOnes(4));
        EXPECT_EQ(third.uvLayers[l].uvValues, minusOnes(3));
    }

    // Both default UV sets hold cornerTotal coordinates, filled in corner order with tag 0.
    ASSERT_EQ(data.uvSets.count, 2);
    for (std::size_t set = 0; set < 2; ++set) {
        const UVSet& uvSet = data.uvSets.items[set];
        ASSERT_EQ(uvSet.coordCount, 10);
        ASSERT_EQ(uvSet.coords.size(), 10u);
        const std::vector<std::pair<std::size_t, std::size_t>> polygons{{0, 4}, {4, 3}, {7, 3}};
        const float bases[3] = {0, 10, 20};
        for (std::size_t p = 0; p < polygons.size(); ++p) {
            for (std::size_t j = 0; j < polygons[p].second; ++j) {
                const float f = bases[p] + 100.0f * static_cast<float>(set) + static_cast<float>(j);
                EXPECT_EQ(uvSet.coords[polygons[p].first + j], (UVCoord{0, f + 0.25f, f + 0.5f}))
                    << "set " << set << " corner " << polygons[p].first + j;
            }
        }
    }
    expectSentinelBone(*plugin, image);
}

// 6 and 9 carry a third float per inline UV, 10 and 29 do not.
INSTANTIATE_TEST_SUITE_P(Versions, MeshOldLayout, ::testing::Values(6, 9, 10, 29));

class PolygonOldLayerCount : public ::testing::TestWithParam<LayerCase> {};

TEST_P(PolygonOldLayerCount, LayersBeyondTheTwoUVSetsAreReadAndDropped) {
    const LayerCase param = GetParam();
    KvtModel model;
    model.version = param.version;
    KvtPolygon polygon;
    polygon.vertices = {0, 1, 2};
    for (int32_t l = 0; l < param.layers; ++l) {
        polygon.inlineUVs.push_back(inlineLayer(100.0f * static_cast<float>(l), 3));
    }
    KvtPolygon after;
    after.vertices = {7, 8, 9};
    after.polygonValue = 1234;
    after.inlineUVs = {inlineLayer(50, 3)};
    model.meshes = {KvtMesh{5, {polygon, after}}};
    model.bones = {sentinelBone()};

    const KvtImage image = writeKvtImage(model);
    const auto plugin = loaded(model);
    const ModelData& data = plugin->model;
    EXPECT_EQ(data.cornerTotal, 6);
    const ModelPolygon& first = polygonAt(*plugin, 0, 0);
    ASSERT_EQ(data.uvSets.count, 2);
    for (std::size_t l = 0; l < 2; ++l) {
        const bool stored = static_cast<int32_t>(l) < param.layers;
        EXPECT_EQ(first.uvLayers[l].uvIndices, stored ? (Ints{0, 1, 2}) : minusOnes(3));
        const UVSet& uvSet = data.uvSets.items[l];
        ASSERT_EQ(uvSet.coords.size(), 6u);
        for (std::size_t j = 0; j < 3; ++j) {
            const float f = 100.0f * static_cast<float>(l) + static_cast<float>(j);
            const UVCoord expected = stored ? UVCoord{0, f + 0.25f, f + 0.5f} : UVCoord{};
            EXPECT_EQ(uvSet.coords[j], expected) << "set " << l << " corner " << j;
        }
    }
    const ModelPolygon& second = polygonAt(*plugin, 0, 1);
    EXPECT_EQ(second.vertexIndices, (Ints{7, 8, 9}));
    EXPECT_EQ(second.polygonValue, 1234);
    EXPECT_EQ(second.uvLayers[0].uvIndices, (Ints{3, 4, 5}));
    EXPECT_EQ(second.uvLayers[1].uvIndices, minusOnes(3));
    EXPECT_EQ(data.uvSets.items[0].coords[3], (UVCoord{0, 50.25f, 50.5f}));
    EXPECT_EQ(data.uvSets.items[1].coords[3], UVCoord{});
    expectSentinelBone(*plugin, image);
}

INSTANTIATE_TEST_SUITE_P(Counts, PolygonOldLayerCount,
                         ::testing::Values(LayerCase{29, 0}, LayerCase{29, 1}, LayerCase{29, 2},
                                           LayerCase{29, 3}, LayerCase{6, 4}, LayerCase{10, 3}));

// The layer count word is absent below version 5, where a polygon has one layer. Files below
// version 6 never reach the decoders through a load, so the section runs on its own here.
class PolygonLayerCountWord : public ::testing::TestWithParam<LayerCase> {};

TEST_P(PolygonLayerCountWord, IsReadFromVersion5) {
    const LayerCase param = GetParam();
    KvtModel model;
    model.version = 6;
    KvtPolygon polygon;
    polygon.vertices = {3, 4, 5};
    polygon.materialIndex = 6;
    polygon.polygonValue = 7;
    polygon.inlineUVs = {inlineLayer(1, 3)};
    if (param.layers > 1) {
        polygon.inlineUVs.push_back(inlineLayer(2, 3));
    }
    KvtPolygon after;
    after.vertices = {8, 9};
    after.inlineUVs = {inlineLayer(3, 2)};
    model.meshes = {KvtMesh{11, {polygon, after}}};
    model.bones = {sentinelBone()};
    KvtWriteOptions options;
    options.sectionVersions[kvtSectionIndex(KvtSection::kMeshes)] = param.version;
    const KvtImage image = writeKvtImage(model, options);
    const std::size_t meshStart = sectionOffset(image, KvtSection::kMeshes);
    const std::size_t bonesStart = sectionOffset(image, KvtSection::kBones);

    KVTPlugin plugin;
    ASSERT_TRUE(plugin.holdImage(image.bytes));
    plugin.model.version = param.version;
    const ModelHeader header;
    plugin.readCursor = static_cast<uint32_t>(meshStart);
    ASSERT_TRUE(countMeshes(plugin, header));
    EXPECT_EQ(plugin.readCursor, bonesStart);
    EXPECT_EQ(plugin.model.cornerTotal, 5);
    EXPECT_EQ(plugin.model.declaredCount(SectionId::kMeshes), 1);

    ASSERT_TRUE(plugin.allocateUVSets(2));
    for (UVSet& uvSet : plugin.model.uvSets.items) {
        ASSERT_TRUE(allocateUVCoords(uvSet, plugin.model.cornerTotal));
    }
    ASSERT_TRUE(plugin.allocateMeshes(1));
    plugin.readCursor = static_cast<uint32_t>(meshStart);
    ASSERT_TRUE(decodeMeshes(plugin, header));
    EXPECT_EQ(plugin.readCursor, bonesStart);

    const ModelPolygon& first = polygonAt(plugin, 0, 0);
    EXPECT_EQ(first.polygonTag, 11);
    EXPECT_EQ(first.materialIndex, 6);
    EXPECT_EQ(first.polygonValue, 7);
    EXPECT_EQ(first.vertexIndices, (Ints{3, 4, 5}));
    EXPECT_EQ(first.uvLayers[0].uvIndices, (Ints{0, 1, 2}));
    EXPECT_EQ(first.uvLayers[1].uvIndices, param.layers > 1 ? (Ints{0, 1, 2}) : minusOnes(3));
    const ModelPolygon& second = polygonAt(plugin, 0, 1);
    EXPECT_EQ(second.vertexIndices, (Ints{8, 9, -1}));
    EXPECT_EQ(second.uvLayers[0].uvIndices, (Ints{3, 4, -1}));
    const auto& coords = plugin.model.uvSets.items[0].coords;
    ASSERT_EQ(coords.size(), 5u);
    EXPECT_EQ(coords[0], (UVCoord{0, 1.25f, 1.5f}));
    EXPECT_EQ(coords[4], (UVCoord{0, 4.25f, 4.5f}));
}

INSTANTIATE_TEST_SUITE_P(Versions, PolygonLayerCountWord,
                         ::testing::Values(LayerCase{4, 1}, LayerCase{5, 1}, LayerCase{5, 2}));

// --- Short polygons and odd counts --------------------------------------------------------------

class PolygonShortCorners : public ::testing::TestWithParam<int32_t> {};

TEST_P(PolygonShortCorners, FewerThanThreeCornersHoldThreeWithMinusOne) {
    const int32_t version = GetParam();
    const bool newLayout = version >= 30;
    KvtModel model;
    model.version = version;
    KvtPolygon two;
    two.vertices = {4, 5};
    two.cornerValues = {40, 50};
    two.uvLayers = {KvtUVLayer{{1, 2}, {3, 4}}};
    two.inlineUVs = {inlineLayer(0, 2), inlineLayer(10, 2)};
    KvtPolygon one;
    one.vertices = {9};
    one.uvLayers = {KvtUVLayer{{6}, {}}};
    one.inlineUVs = {inlineLayer(20, 1)};
    KvtPolygon none;
    none.layerCount = 2;
    KvtPolygon triangle;
    triangle.vertices = {1, 2, 3};
    triangle.inlineUVs = {inlineLayer(30, 3)};
    triangle.uvLayers = {KvtUVLayer{{7, 8, 9}, {}}};
    model.meshes = {KvtMesh{0, {two, one, none, triangle}}};
    model.bones = {sentinelBone()};

    const KvtImage image = writeKvtImage(model);
    const auto plugin = loaded(model);
    EXPECT_EQ(plugin->model.cornerTotal, 6);
    const ModelPolygon& first = polygonAt(*plugin, 0, 0);
    EXPECT_EQ(first.cornerCount, 3);
    EXPECT_EQ(first.vertexIndices, (Ints{4, 5, -1}));
    EXPECT_EQ(first.cornerValues, newLayout ? (Ints{40, 50, -1}) : minusOnes(3));
    EXPECT_EQ(first.uvLayers[0].uvIndices, newLayout ? (Ints{1, 2, -1}) : (Ints{0, 1, -1}));
    EXPECT_EQ(first.uvLayers[0].uvValues, newLayout ? (Ints{3, 4, -1}) : minusOnes(3));
    const ModelPolygon& second = polygonAt(*plugin, 0, 1);
    EXPECT_EQ(second.cornerCount, 3);
    EXPECT_EQ(second.vertexIndices, (Ints{9, -1, -1}));
    EXPECT_EQ(second.uvLayers[0].uvIndices, newLayout ? (Ints{6, -1, -1}) : (Ints{2, -1, -1}));
    const ModelPolygon& third = polygonAt(*plugin, 0, 2);
    EXPECT_EQ(third.cornerCount, 3);
    EXPECT_EQ(third.uvLayerCount, 2);
    EXPECT_EQ(third.vertexIndices, minusOnes(3));
    EXPECT_EQ(third.uvLayers[1].uvIndices, minusOnes(3));
    const ModelPolygon& fourth = polygonAt(*plugin, 0, 3);
    EXPECT_EQ(fourth.vertexIndices, (Ints{1, 2, 3}));
    EXPECT_EQ(fourth.uvLayers[0].uvIndices, newLayout ? (Ints{7, 8, 9}) : (Ints{3, 4, 5}));
    if (!newLayout) {
        const auto& coords = plugin->model.uvSets.items[0].coords;
        ASSERT_EQ(coords.size(), 6u);
        EXPECT_EQ(coords[1], (UVCoord{0, 1.25f, 1.5f}));
        EXPECT_EQ(coords[2], (UVCoord{0, 20.25f, 20.5f}));
        EXPECT_EQ(coords[5], (UVCoord{0, 32.25f, 32.5f}));
    }
    expectSentinelBone(*plugin, image);
}

INSTANTIATE_TEST_SUITE_P(Versions, PolygonShortCorners, ::testing::Values(6, 10, 29, 30, 33));

// In an old file a negative corner count counts as 0 in both passes, so the corner numbering and
// the UV sets stay in step and every inline UV lands inside its set.
class PolygonNegativeOldCorners : public ::testing::TestWithParam<int32_t> {};

TEST_P(PolygonNegativeOldCorners, CountAsNoCorners) {
    KvtModel model;
    model.version = GetParam();
    KvtPolygon negative;
    negative.cornerCount = -5;
    negative.layerCount = 2;
    negative.materialIndex = 4;
    KvtPolygon triangle;
    triangle.vertices = {1, 2, 3};
    triangle.inlineUVs = {inlineLayer(0, 3), inlineLayer(10, 3)};
    model.meshes = {KvtMesh{1, {negative, triangle}}};
    model.bones = {sentinelBone()};

    const KvtImage image = writeKvtImage(model);
    const auto plugin = loaded(model);
    const ModelData& data = plugin->model;
    EXPECT_EQ(data.cornerTotal, 3);
    const ModelPolygon& first = polygonAt(*plugin, 0, 0);
    EXPECT_EQ(first.cornerCount, 3);
    EXPECT_EQ(first.materialIndex, 4);
    EXPECT_EQ(first.vertexIndices, minusOnes(3));
    EXPECT_EQ(first.uvLayers[0].uvIndices, minusOnes(3));
    const ModelPolygon& second = polygonAt(*plugin, 0, 1);
    EXPECT_EQ(second.vertexIndices, (Ints{1, 2, 3}));
    EXPECT_EQ(second.uvLayers[0].uvIndices, (Ints{0, 1, 2}));
    EXPECT_EQ(second.uvLayers[1].uvIndices, (Ints{0, 1, 2}));
    for (std::size_t set = 0; set < 2; ++set) {
        const auto& coords = data.uvSets.items[set].coords;
        ASSERT_EQ(coords.size(), 3u);
        const float f = 10.0f * static_cast<float>(set);
        EXPECT_EQ(coords[0], (UVCoord{0, f + 0.25f, f + 0.5f}));
        EXPECT_EQ(coords[2], (UVCoord{0, f + 2.25f, f + 2.5f}));
    }
    expectSentinelBone(*plugin, image);
}

INSTANTIATE_TEST_SUITE_P(Versions, PolygonNegativeOldCorners, ::testing::Values(6, 10, 29));

TEST(PolygonSection, OnlyNegativeOldCornersLeaveTheUVSetsWithoutCoordinates) {
    KvtModel model;
    model.version = 29;
    KvtPolygon negative;
    negative.cornerCount = -2147483647 - 1;
    model.meshes = {KvtMesh{0, {negative, negative}}};
    model.bones = {sentinelBone()};
    const KvtImage image = writeKvtImage(model);
    const auto plugin = loaded(model);
    EXPECT_EQ(plugin->model.cornerTotal, 0);
    ASSERT_EQ(plugin->model.uvSets.count, 2);
    EXPECT_TRUE(plugin->model.uvSets.items[0].coords.empty());
    EXPECT_EQ(polygonAt(*plugin, 0, 1).cornerCount, 3);
    expectSentinelBone(*plugin, image);
}

TEST(PolygonSection, NewLayoutAddsNegativeCornerCountsAsRead) {
    // A new file's corner total sizes nothing; negative counts enter it as read, and the sum
    // cannot wrap however many there are.
    KvtModel model;
    model.version = 30;
    KvtPolygon negative;
    negative.cornerCount = -4;
    negative.layerCount = 2;
    KvtPolygon triangle;
    triangle.vertices = {1, 2, 3};
    model.meshes = {KvtMesh{0, {negative, triangle}}};
    model.bones = {sentinelBone()};
    const KvtImage image = writeKvtImage(model);
    const auto plugin = loaded(model);
    EXPECT_EQ(plugin->model.cornerTotal, -1);
    EXPECT_EQ(polygonAt(*plugin, 0, 0).vertexIndices, minusOnes(3));
    EXPECT_EQ(polygonAt(*plugin, 0, 1).vertexIndices, (Ints{1, 2, 3}));
    expectSentinelBone(*plugin, image);

    KvtPolygon lowest;
    lowest.cornerCount = -2147483647 - 1;
    model.meshes = {KvtMesh{0, {lowest, lowest, lowest}}};
    const auto saturated = loaded(model);
    EXPECT_EQ(saturated->model.cornerTotal, -2147483647 - 1);
    EXPECT_EQ(saturated->model.meshes.items[0].polygonCount, 3);
}

class MeshEmptyPolygonList : public ::testing::TestWithParam<int32_t> {};

TEST_P(MeshEmptyPolygonList, ReadsOnlyTheCountAndTag) {
    KvtModel model;
    model.version = GetParam();
    KvtMesh empty{9, {}};
    KvtMesh negative{10, {}};
    negative.polygonCount = -3;
    KvtPolygon triangle;
    triangle.vertices = {0, 1, 2};
    triangle.materialIndex = 2;
    model.meshes = {empty, negative, KvtMesh{11, {triangle}}};
    model.bones = {sentinelBone()};
    const KvtImage image = writeKvtImage(model);
    const auto plugin = loaded(model);
    const ModelData& data = plugin->model;
    ASSERT_EQ(data.meshes.count, 3);
    EXPECT_EQ(data.meshes.items[0].polygonCount, 0);
    EXPECT_TRUE(data.meshes.items[0].polygons.empty());
    EXPECT_EQ(data.meshes.items[1].polygonCount, 0);
    EXPECT_TRUE(data.meshes.items[1].polygons.empty());
    const ModelPolygon& polygon = polygonAt(*plugin, 2, 0);
    EXPECT_EQ(polygon.vertexIndices, (Ints{0, 1, 2}));
    EXPECT_EQ(polygon.materialIndex, 2);
    EXPECT_EQ(polygon.polygonTag, GetParam() >= 30 ? 0 : 11);
    expectSentinelBone(*plugin, image);
}

INSTANTIATE_TEST_SUITE_P(Versions, MeshEmptyPolygonList, ::testing::Values(29, 30));

TEST(PolygonSection, IndicesAreStoredAsRead) {
    for (const int32_t version : {29, 30}) {
        KvtModel model;
        model.version = version;
        model.vertices = {KvtVertex{}};
        KvtPolygon polygon;
        polygon.vertices = {99999, -7, 2147483647};
        polygon.materialIndex = 5;
        polygon.uvLayers = {KvtUVLayer{{-3, 1000000, 0}, {}}};
        polygon.inlineUVs = {inlineLayer(0, 3)};
        model.meshes = {KvtMesh{0, {polygon}}};
        const auto plugin = loaded(model);
        const ModelPolygon& loadedPolygon = polygonAt(*plugin, 0, 0);
        EXPECT_EQ(loadedPolygon.vertexIndices, (Ints{99999, -7, 2147483647})) << version;
        EXPECT_EQ(loadedPolygon.materialIndex, 5);
        if (version >= 30) {
            EXPECT_EQ(loadedPolygon.uvLayers[0].uvIndices, (Ints{-3, 1000000, 0}));
        }
    }
}

struct HugeCountCase {
    int32_t version;
    std::optional<int32_t> polygonCount;
    std::optional<int32_t> cornerCount;
};

class PolygonHugeCount : public ::testing::TestWithParam<HugeCountCase> {};

TEST_P(PolygonHugeCount, CountsBeyondTheFileFail) {
    const HugeCountCase param = GetParam();
    KvtModel model;
    model.version = param.version;
    KvtPolygon polygon;
    polygon.vertices = {0, 1, 2};
    polygon.cornerCount = param.cornerCount;
    model.meshes = {KvtMesh{0, {polygon}, param.polygonCount}};
    KVTPlugin plugin;
    EXPECT_EQ(loadExact(plugin, writeKvt(model)), kLoadFailed);
    expectEmptyModel(plugin);
}

INSTANTIATE_TEST_SUITE_P(Counts, PolygonHugeCount,
                         ::testing::Values(HugeCountCase{30, 0x7FFFFFFF, std::nullopt},
                                           HugeCountCase{29, 0x10000000, std::nullopt},
                                           HugeCountCase{30, std::nullopt, 0x7FFFFFFF},
                                           HugeCountCase{29, std::nullopt, 0x40000000}));

class MeshTruncation : public ::testing::TestWithParam<int32_t> {};

TEST_P(MeshTruncation, EveryCutInsideTheSectionFails) {
    KvtModel model;
    model.version = GetParam();
    KvtPolygon quad;
    quad.vertices = {0, 1, 2, 3};
    quad.cornerValues = {1, 2, 3, 4};
    quad.uvLayers = {KvtUVLayer{{0, 1, 2, 3}, {}}, KvtUVLayer{{0, 1, 2, 3}, {}}};
    quad.inlineUVs = {inlineLayer(0, 4), inlineLayer(1, 4)};
    KvtPolygon two;
    two.vertices = {4, 5};
    two.uvLayers = {KvtUVLayer{{4, 5}, {}}};
    two.inlineUVs = {inlineLayer(2, 2)};
    model.meshes = {KvtMesh{3, {quad, two}}, KvtMesh{4, {}}};
    model.bones = {sentinelBone()};
    expectEveryCutInsideFails(model, KvtSection::kMeshes, KvtSection::kBones);
}

INSTANTIATE_TEST_SUITE_P(Versions, MeshTruncation, ::testing::Values(6, 9, 10, 29, 30, 33));

}  // namespace
}  // namespace quillmesh
