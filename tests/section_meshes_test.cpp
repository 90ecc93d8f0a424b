// The polygon mesh section, decoded from files made by the test writer: the new layout with UV
// layers, the old layout with a mesh tag and inline UVs that land in the two default UV sets,
// short polygons, surplus UV layers, negative and huge counts, and truncation.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "model/kvt_plugin.h"
#include "tests/section_loading.h"
#include "tests/support/kvt_writer.h"

namespace quillmesh {
namespace {

using sectiontest::expectSentinelBone;
using sectiontest::loaded;
using sectiontest::loadExact;
using sectiontest::sentinelBone;
using testsupport::KvtBone;
using testsupport::KvtInlineUV;
using testsupport::KvtMesh;
using testsupport::KvtModel;
using testsupport::KvtPolygon;
using testsupport::KvtSection;
using testsupport::KvtUVLayer;
using testsupport::KvtVertex;
using testsupport::writeKvt;

using Ints = std::vector<int32_t>;

constexpr int32_t kLowestInt = std::numeric_limits<int32_t>::min();

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
}

void expectEveryCutInsideFails(const KvtModel& model, KvtSection section,
                               std::optional<KvtSection> next) {
    sectiontest::expectEveryCutInsideFails(model, section, next, expectEmptyModel);
}

Ints toInts(std::span<const int32_t> values) {
    return Ints(values.begin(), values.end());
}

// A loaded polygon, read through its mesh's accessors.
struct PolygonView {
    const ModelMesh& mesh;
    const ModelPolygon& polygon;

    Ints corners() const { return toInts(mesh.corners(polygon)); }
    Ints cornerValues() const { return toInts(mesh.valuesOfCorners(polygon)); }
    Ints uvIndices(int32_t layer) const { return toInts(mesh.uvIndicesOf(polygon, layer)); }
    Ints uvValues(int32_t layer) const { return toInts(mesh.uvValuesOf(polygon, layer)); }
};

PolygonView polygonAt(const KVTPlugin& plugin, std::size_t mesh, std::size_t polygon) {
    const ModelMesh& loadedMesh = plugin.model.meshes.items.at(mesh);
    return {loadedMesh, loadedMesh.polygons.at(polygon)};
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

    const auto plugin = loaded(model);
    const ModelData& data = plugin->model;
    ASSERT_EQ(data.meshes.count, 2);
    ASSERT_EQ(data.meshes.items[0].polygonCount, 2);
    ASSERT_EQ(data.meshes.items[1].polygonCount, 1);

    const PolygonView first = polygonAt(*plugin, 0, 0);
    EXPECT_EQ(first.polygon.polygonTag, 77);
    EXPECT_EQ(first.polygon.materialIndex, 2);
    EXPECT_EQ(first.polygon.polygonValue, -9);
    EXPECT_EQ(first.polygon.cornerCount, 3);
    EXPECT_EQ(first.corners(), (Ints{4, 5, 6}));
    EXPECT_EQ(first.cornerValues(), (Ints{10, 11, 12}));
    ASSERT_EQ(first.polygon.uvLayerCount, 2);
    EXPECT_EQ(first.uvIndices(0), (Ints{0, 1, 2}));
    EXPECT_EQ(first.uvValues(0), (Ints{100, 101, 102}));
    EXPECT_EQ(first.uvIndices(1), (Ints{3, 4, 5}));
    EXPECT_EQ(first.uvValues(1), (Ints{200, 201, 202}));

    const PolygonView second = polygonAt(*plugin, 0, 1);
    EXPECT_EQ(second.polygon.polygonTag, -1);
    EXPECT_EQ(second.polygon.materialIndex, 0);
    EXPECT_EQ(second.polygon.polygonValue, 5);
    EXPECT_EQ(second.polygon.cornerCount, 4);
    EXPECT_EQ(second.corners(), (Ints{0, 1, 2, 3}));
    EXPECT_EQ(second.cornerValues(), (Ints{20, 21, 22, 23}));
    ASSERT_EQ(second.polygon.uvLayerCount, 2);
    EXPECT_EQ(second.uvIndices(0), (Ints{9, 8, 7, 6}));
    EXPECT_EQ(second.uvValues(0), (Ints{1, 2, 3, 4}));
    // The record holds one layer: the second holds -1 entries.
    EXPECT_EQ(second.uvIndices(1), minusOnes(4));
    EXPECT_EQ(second.uvValues(1), minusOnes(4));

    const PolygonView third = polygonAt(*plugin, 1, 0);
    EXPECT_EQ(third.polygon.polygonTag, 8);
    EXPECT_EQ(third.polygon.materialIndex, 1);
    EXPECT_EQ(third.corners(), (Ints{1, 2, 3}));
    EXPECT_EQ(third.cornerValues(), (Ints{0, 0, 0}));
    EXPECT_EQ(third.uvIndices(1), (Ints{2, 2, 2}));

    // The UV sets of a new file come from their own section, untouched by the polygons.
    ASSERT_EQ(data.uvSets.count, 2);
    EXPECT_TRUE(data.uvSets.items[0].coords.empty());
    EXPECT_TRUE(data.uvSets.items[1].coords.empty());
    expectSentinelBone(*plugin);
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

    const auto plugin = loaded(model);
    const PolygonView first = polygonAt(*plugin, 0, 0);
    ASSERT_EQ(first.polygon.uvLayerCount, 2);
    for (int32_t l = 0; l < 2; ++l) {
        SCOPED_TRACE(l);
        if (l < param.layers) {
            EXPECT_EQ(first.uvIndices(l), (Ints{10 * l, 10 * l + 1, 10 * l + 2}));
            EXPECT_EQ(first.uvValues(l), (Ints{-10 * l, -10 * l - 1, -10 * l - 2}));
        } else {
            EXPECT_EQ(first.uvIndices(l), minusOnes(3));
            EXPECT_EQ(first.uvValues(l), minusOnes(3));
        }
    }
    const PolygonView second = polygonAt(*plugin, 0, 1);
    EXPECT_EQ(second.corners(), (Ints{7, 8, 9}));
    EXPECT_EQ(second.polygon.polygonValue, 1234);
    EXPECT_EQ(second.uvIndices(0), (Ints{5, 6, 7}));
    expectSentinelBone(*plugin);
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

    const auto plugin = loaded(model);
    const ModelData& data = plugin->model;
    ASSERT_EQ(data.meshes.count, 2);

    const PolygonView first = polygonAt(*plugin, 0, 0);
    EXPECT_EQ(first.polygon.polygonTag, 42);
    EXPECT_EQ(first.polygon.materialIndex, 3);
    EXPECT_EQ(first.polygon.polygonValue, 17);
    EXPECT_EQ(first.polygon.cornerCount, 4);
    EXPECT_EQ(first.corners(), (Ints{0, 1, 2, 3}));
    EXPECT_EQ(first.cornerValues(), minusOnes(4));
    const PolygonView second = polygonAt(*plugin, 0, 1);
    EXPECT_EQ(second.polygon.polygonTag, 42);
    EXPECT_EQ(second.polygon.materialIndex, -1);
    EXPECT_EQ(second.polygon.polygonValue, -17);
    EXPECT_EQ(second.corners(), (Ints{3, 2, 5}));
    const PolygonView third = polygonAt(*plugin, 1, 0);
    EXPECT_EQ(third.polygon.polygonTag, -8);
    EXPECT_EQ(third.corners(), (Ints{6, 7, 8}));

    // Corners are numbered across polygons and meshes: the second polygon's first UV index is
    // the first polygon's corner count.
    for (const PolygonView& polygon : {first, second, third}) {
        ASSERT_EQ(polygon.polygon.uvLayerCount, 2);
    }
    for (int32_t l = 0; l < 2; ++l) {
        SCOPED_TRACE(l);
        EXPECT_EQ(first.uvIndices(l), (Ints{0, 1, 2, 3}));
        EXPECT_EQ(second.uvIndices(l), (Ints{4, 5, 6}));
        EXPECT_EQ(third.uvIndices(l), (Ints{7, 8, 9}));
        EXPECT_EQ(first.uvValues(l), minusOnes(4));
        EXPECT_EQ(third.uvValues(l), minusOnes(3));
    }

    // Both default UV sets hold one coordinate per corner, filled in corner order with tag 0.
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
    expectSentinelBone(*plugin);
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

    const auto plugin = loaded(model);
    const ModelData& data = plugin->model;
    const PolygonView first = polygonAt(*plugin, 0, 0);
    ASSERT_EQ(first.polygon.uvLayerCount, 2);
    ASSERT_EQ(data.uvSets.count, 2);
    for (int32_t l = 0; l < 2; ++l) {
        SCOPED_TRACE(l);
        const bool stored = l < param.layers;
        EXPECT_EQ(first.uvIndices(l), stored ? (Ints{0, 1, 2}) : minusOnes(3));
        const UVSet& uvSet = data.uvSets.items[static_cast<std::size_t>(l)];
        ASSERT_EQ(uvSet.coords.size(), 6u);
        for (std::size_t j = 0; j < 3; ++j) {
            const float f = 100.0f * static_cast<float>(l) + static_cast<float>(j);
            const UVCoord expected = stored ? UVCoord{0, f + 0.25f, f + 0.5f} : UVCoord{};
            EXPECT_EQ(uvSet.coords[j], expected) << "corner " << j;
        }
    }
    const PolygonView second = polygonAt(*plugin, 0, 1);
    EXPECT_EQ(second.corners(), (Ints{7, 8, 9}));
    EXPECT_EQ(second.polygon.polygonValue, 1234);
    EXPECT_EQ(second.uvIndices(0), (Ints{3, 4, 5}));
    EXPECT_EQ(second.uvIndices(1), minusOnes(3));
    EXPECT_EQ(data.uvSets.items[0].coords[3], (UVCoord{0, 50.25f, 50.5f}));
    EXPECT_EQ(data.uvSets.items[1].coords[3], UVCoord{});
    expectSentinelBone(*plugin);
}

INSTANTIATE_TEST_SUITE_P(Counts, PolygonOldLayerCount,
                         ::testing::Values(LayerCase{29, 0}, LayerCase{29, 1}, LayerCase{29, 2},
                                           LayerCase{29, 3}, LayerCase{6, 4}, LayerCase{10, 3}));

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

    const auto plugin = loaded(model);
    const PolygonView first = polygonAt(*plugin, 0, 0);
    EXPECT_EQ(first.polygon.cornerCount, 3);
    EXPECT_EQ(first.corners(), (Ints{4, 5, -1}));
    EXPECT_EQ(first.cornerValues(), newLayout ? (Ints{40, 50, -1}) : minusOnes(3));
    EXPECT_EQ(first.uvIndices(0), newLayout ? (Ints{1, 2, -1}) : (Ints{0, 1, -1}));
    EXPECT_EQ(first.uvValues(0), newLayout ? (Ints{3, 4, -1}) : minusOnes(3));
    const PolygonView second = polygonAt(*plugin, 0, 1);
    EXPECT_EQ(second.polygon.cornerCount, 3);
    EXPECT_EQ(second.corners(), (Ints{9, -1, -1}));
    EXPECT_EQ(second.uvIndices(0), newLayout ? (Ints{6, -1, -1}) : (Ints{2, -1, -1}));
    const PolygonView third = polygonAt(*plugin, 0, 2);
    EXPECT_EQ(third.polygon.cornerCount, 3);
    EXPECT_EQ(third.polygon.uvLayerCount, 2);
    EXPECT_EQ(third.corners(), minusOnes(3));
    EXPECT_EQ(third.uvIndices(1), minusOnes(3));
    const PolygonView fourth = polygonAt(*plugin, 0, 3);
    EXPECT_EQ(fourth.corners(), (Ints{1, 2, 3}));
    EXPECT_EQ(fourth.uvIndices(0), newLayout ? (Ints{7, 8, 9}) : (Ints{3, 4, 5}));
    if (!newLayout) {
        // One coordinate per stored corner: the filler corners number none.
        const auto& coords = plugin->model.uvSets.items.at(0).coords;
        ASSERT_EQ(coords.size(), 6u);
        EXPECT_EQ(coords[1], (UVCoord{0, 1.25f, 1.5f}));
        EXPECT_EQ(coords[2], (UVCoord{0, 20.25f, 20.5f}));
        EXPECT_EQ(coords[5], (UVCoord{0, 32.25f, 32.5f}));
    }
    expectSentinelBone(*plugin);
}

INSTANTIATE_TEST_SUITE_P(Versions, PolygonShortCorners, ::testing::Values(6, 10, 29, 30, 33));

struct NegativeCornersCase {
    int32_t version;
    bool triangleAfter;
};

// A negative corner count (however low) stores no corner and reads nothing beyond the polygon's
// fixed words, whatever layer count it announces: the polygon holds three -1 corners and the
// next polygon reads right. In an old file it numbers no inline UV, so the corner numbering
// never runs backwards: a triangle after it starts at 0 and its UVs land inside both sets, and
// without one the sets hold no coordinate at all.
class PolygonNegativeCorners : public ::testing::TestWithParam<NegativeCornersCase> {};

TEST_P(PolygonNegativeCorners, CountAsNoCorners) {
    const NegativeCornersCase param = GetParam();
    const bool newLayout = param.version >= 30;
    KvtModel model;
    model.version = param.version;
    KvtPolygon negative;
    negative.cornerCount = -5;
    negative.layerCount = 2;
    negative.materialIndex = 4;
    KvtPolygon lowest;
    lowest.cornerCount = kLowestInt;
    lowest.layerCount = 2;
    lowest.polygonValue = 6;
    KvtMesh mesh{1, {negative, lowest}};
    if (param.triangleAfter) {
        KvtPolygon triangle;
        triangle.vertices = {1, 2, 3};
        triangle.uvLayers = {KvtUVLayer{{7, 8, 9}, {}}};
        triangle.inlineUVs = {inlineLayer(0, 3), inlineLayer(10, 3)};
        mesh.polygons.push_back(triangle);
    }
    model.meshes = {mesh};
    model.bones = {sentinelBone()};

    const auto plugin = loaded(model);
    const ModelData& data = plugin->model;
    ASSERT_EQ(data.meshes.count, 1);
    ASSERT_EQ(data.meshes.items[0].polygonCount, param.triangleAfter ? 3 : 2);
    EXPECT_EQ(polygonAt(*plugin, 0, 0).polygon.materialIndex, 4);
    EXPECT_EQ(polygonAt(*plugin, 0, 1).polygon.polygonValue, 6);
    for (std::size_t p = 0; p < 2; ++p) {
        SCOPED_TRACE(p);
        const PolygonView polygon = polygonAt(*plugin, 0, p);
        EXPECT_EQ(polygon.polygon.cornerCount, 3);
        EXPECT_EQ(polygon.corners(), minusOnes(3));
        EXPECT_EQ(polygon.cornerValues(), minusOnes(3));
        ASSERT_EQ(polygon.polygon.uvLayerCount, 2);
        EXPECT_EQ(polygon.uvIndices(0), minusOnes(3));
        EXPECT_EQ(polygon.uvIndices(1), minusOnes(3));
    }
    if (param.triangleAfter) {
        const PolygonView triangle = polygonAt(*plugin, 0, 2);
        EXPECT_EQ(triangle.corners(), (Ints{1, 2, 3}));
        EXPECT_EQ(triangle.uvIndices(0), newLayout ? (Ints{7, 8, 9}) : (Ints{0, 1, 2}));
        EXPECT_EQ(triangle.uvIndices(1), newLayout ? minusOnes(3) : (Ints{0, 1, 2}));
    }
    // A new file's UV sets come from their own section (here the two empty defaults).
    const std::size_t coordinates = !newLayout && param.triangleAfter ? 3 : 0;
    ASSERT_EQ(data.uvSets.count, 2);
    for (std::size_t set = 0; set < 2; ++set) {
        SCOPED_TRACE(set);
        const auto& coords = data.uvSets.items[set].coords;
        ASSERT_EQ(coords.size(), coordinates);
        if (coordinates > 0) {
            const float f = 10.0f * static_cast<float>(set);
            EXPECT_EQ(coords[0], (UVCoord{0, f + 0.25f, f + 0.5f}));
            EXPECT_EQ(coords[2], (UVCoord{0, f + 2.25f, f + 2.5f}));
        }
    }
    expectSentinelBone(*plugin);
}

INSTANTIATE_TEST_SUITE_P(
    Versions, PolygonNegativeCorners,
    ::testing::Values(NegativeCornersCase{6, true}, NegativeCornersCase{10, true},
                      NegativeCornersCase{29, true}, NegativeCornersCase{29, false},
                      NegativeCornersCase{30, true}, NegativeCornersCase{30, false},
                      NegativeCornersCase{33, true}));

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
    const auto plugin = loaded(model);
    const ModelData& data = plugin->model;
    ASSERT_EQ(data.meshes.count, 3);
    EXPECT_EQ(data.meshes.items[0].polygonCount, 0);
    EXPECT_TRUE(data.meshes.items[0].polygons.empty());
    EXPECT_EQ(data.meshes.items[1].polygonCount, 0);
    EXPECT_TRUE(data.meshes.items[1].polygons.empty());
    const PolygonView polygon = polygonAt(*plugin, 2, 0);
    EXPECT_EQ(polygon.corners(), (Ints{0, 1, 2}));
    EXPECT_EQ(polygon.polygon.materialIndex, 2);
    EXPECT_EQ(polygon.polygon.polygonTag, GetParam() >= 30 ? 0 : 11);
    expectSentinelBone(*plugin);
}

INSTANTIATE_TEST_SUITE_P(Versions, MeshEmptyPolygonList, ::testing::Values(29, 30));

TEST(PolygonSection, IndicesAreStoredAsRead) {
    for (const int32_t version : {29, 30}) {
        SCOPED_TRACE(version);
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
        const PolygonView loadedPolygon = polygonAt(*plugin, 0, 0);
        EXPECT_EQ(loadedPolygon.corners(), (Ints{99999, -7, 2147483647}));
        EXPECT_EQ(loadedPolygon.polygon.materialIndex, 5);
        if (version >= 30) {
            EXPECT_EQ(loadedPolygon.uvIndices(0), (Ints{-3, 1000000, 0}));
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
