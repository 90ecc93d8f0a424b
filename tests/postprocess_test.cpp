// What a load derives after parsing: face and vertex normals, bone and material use counts,
// normalised vertex weights, and the clean-up and de-duplication of element names. Models are
// built in memory, except for the last tests, which load files made by the test writer.
#include <gtest/gtest.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <span>
#include <string>
#include <vector>

#include "model/kvt_plugin.h"
#include "platform/platform.h"
#include "postprocess/postprocess.h"
#include "scene/model_conversion.h"
#include "tests/support/kvt_writer.h"

namespace quillmesh {
namespace {

using Ints = std::vector<int32_t>;
using Names = std::vector<std::u16string>;

constexpr float kNan = std::numeric_limits<float>::quiet_NaN();
constexpr float kInfinity = std::numeric_limits<float>::infinity();
constexpr float kTiny = std::numeric_limits<float>::denorm_min();
const float kHalfRoot2 = std::sqrt(0.5f);

// A polygon as a test writes it: its corners, and the count and face normal it claims.
struct TestPolygon {
    Ints corners;
    int32_t cornerCount = 0;
    Vec3 faceNormal{};
};

TestPolygon polygonOf(const Ints& corners) {
    return {corners, static_cast<int32_t>(corners.size())};
}

// A model with one vertex per position and one mesh per entry of `meshes`.
ModelData geometry(const std::vector<Vec3>& positions,
                   const std::vector<std::vector<TestPolygon>>& meshes) {
    ModelData model;
    for (const Vec3& position : positions) {
        ModelVertex vertex;
        vertex.position = position;
        model.vertices.items.push_back(vertex);
    }
    model.vertices.count = static_cast<int32_t>(positions.size());
    for (const std::vector<TestPolygon>& polygons : meshes) {
        ModelMesh mesh;
        for (const TestPolygon& written : polygons) {
            ModelPolygon polygon;
            polygon.firstCorner = static_cast<uint32_t>(mesh.vertexIndices.size());
            polygon.cornerCount = written.cornerCount;
            polygon.faceNormal = written.faceNormal;
            mesh.vertexIndices.insert(mesh.vertexIndices.end(), written.corners.begin(),
                                      written.corners.end());
            mesh.polygons.push_back(polygon);
        }
        mesh.polygonCount = static_cast<int32_t>(polygons.size());
        model.meshes.items.push_back(mesh);
    }
    model.meshes.count = static_cast<int32_t>(meshes.size());
    return model;
}

void expectNear(const Vec3& actual, const Vec3& expected) {
    EXPECT_NEAR(actual.x, expected.x, 1e-6f);
    EXPECT_NEAR(actual.y, expected.y, 1e-6f);
    EXPECT_NEAR(actual.z, expected.z, 1e-6f);
}

// --- Face normals -------------------------------------------------------------------------------

struct FaceNormalCase {
    const char* label;
    std::vector<Vec3> positions;
    Ints corners;
    Vec3 expected;
};

class FaceNormal : public ::testing::TestWithParam<FaceNormalCase> {};

TEST_P(FaceNormal, ComesFromTheFirstSecondAndLastCorners) {
    const FaceNormalCase& c = GetParam();
    ModelData model = geometry(c.positions, {{polygonOf(c.corners)}});
    model.meshes.items[0].polygons[0].faceNormal = {7.0f, 8.0f, 9.0f};
    computeFaceNormals(model);
    expectNear(model.meshes.items[0].polygons[0].faceNormal, c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FaceNormal,
    ::testing::Values(
        FaceNormalCase{"CounterClockwise", {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, {0, 1, 2}, {0, 0, 1}},
        FaceNormalCase{"Clockwise", {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, {0, 2, 1}, {0, 0, -1}},
        FaceNormalCase{"YZPlane", {{0, 0, 0}, {0, 1, 0}, {0, 0, 1}}, {0, 1, 2}, {1, 0, 0}},
        FaceNormalCase{
            "UnitLengthForLargeTriangle", {{0, 0, 0}, {5, 0, 0}, {0, 0, 3}}, {0, 1, 2}, {0, -1, 0}},
        // The third corner lies off the plane of the others; only the last corner counts.
        FaceNormalCase{"QuadUsesFirstSecondAndLast",
                       {{0, 0, 0}, {1, 0, 0}, {5, 5, 5}, {0, 1, 0}},
                       {0, 1, 2, 3},
                       {0, 0, 1}},
        FaceNormalCase{"Degenerate", {{2, 3, 4}, {2, 3, 4}, {2, 3, 4}}, {0, 1, 2}, {0, 0, 0}},
        FaceNormalCase{"Collinear", {{0, 0, 0}, {1, 1, 1}, {2, 2, 2}}, {0, 1, 2}, {0, 0, 0}},
        // Edge products beyond the float range must not turn a proper triangle into a zero
        // normal, nor must products below the smallest float.
        FaceNormalCase{"HugeCoordinates",
                       {{-3e38f, 0, 0}, {3e38f, 0, 0}, {-3e38f, 3e38f, 0}},
                       {0, 1, 2},
                       {0, 0, 1}},
        FaceNormalCase{
            "TinyCoordinates", {{0, 0, 0}, {1e-30f, 0, 0}, {0, 1e-30f, 0}}, {0, 1, 2}, {0, 0, 1}},
        FaceNormalCase{
            "NotANumberPosition", {{0, 0, 0}, {1, 0, 0}, {kNan, 1, 0}}, {0, 1, 2}, {0, 0, 0}},
        FaceNormalCase{
            "InfinitePosition", {{0, 0, 0}, {kInfinity, 0, 0}, {0, 1, 0}}, {0, 1, 2}, {0, 0, 0}}),
    [](const ::testing::TestParamInfo<FaceNormalCase>& info) { return info.param.label; });

// Only the first cornerCount entries of vertexIndices are corners: with vertex 3 as the last
// corner the normal would be (0, -1, 0).
TEST(FaceNormalLimits, UsesOnlyTheCornersTheCountNames) {
    ModelData model =
        geometry({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}}, {{polygonOf({0, 1, 2, 3})}});
    model.meshes.items[0].polygons[0].cornerCount = 3;
    computeFaceNormals(model);
    expectNear(model.meshes.items[0].polygons[0].faceNormal, {0, 0, 1});
}

struct KeptFaceNormalCase {
    const char* label;
    Ints corners;
    int32_t cornerCount;
};

class KeptFaceNormal : public ::testing::TestWithParam<KeptFaceNormalCase> {};

// Too few corners, or a first, second or last corner naming no vertex: the face normal the
// polygon had stays, and nothing outside the arrays is read.
TEST_P(KeptFaceNormal, StaysUnchanged) {
    const KeptFaceNormalCase& c = GetParam();
    TestPolygon polygon = polygonOf(c.corners);
    polygon.cornerCount = c.cornerCount;
    polygon.faceNormal = {7.0f, 8.0f, 9.0f};
    ModelData model = geometry({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, {{polygon}});
    computeFaceNormals(model);
    const Vec3 kept{7.0f, 8.0f, 9.0f};
    EXPECT_EQ(model.meshes.items[0].polygons[0].faceNormal, kept);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, KeptFaceNormal,
    ::testing::Values(KeptFaceNormalCase{"TwoCorners", {0, 1, -1}, 2},
                      KeptFaceNormalCase{"NoCorners", {0, 1, 2}, 0},
                      KeptFaceNormalCase{"NegativeCornerCount", {0, 1, 2}, -4},
                      KeptFaceNormalCase{"CountBeyondTheCornerArray", {0, 1}, 3},
                      KeptFaceNormalCase{"FirstCornerBeyondTheTable", {3, 1, 2}, 3},
                      KeptFaceNormalCase{"SecondCornerNegative", {0, -1, 2}, 3},
                      KeptFaceNormalCase{"LastCornerBeyondTheTable", {0, 1, 2, 1000000}, 4},
                      KeptFaceNormalCase{"LastCornerMostNegative",
                                         {0, 1, std::numeric_limits<int32_t>::min()},
                                         3}),
    [](const ::testing::TestParamInfo<KeptFaceNormalCase>& info) { return info.param.label; });

TEST(FaceNormalLimits, NothingHappensWithoutAVertexOrMeshTable) {
    ModelData noVertices = geometry({}, {{polygonOf({0, 1, 2})}});
    noVertices.meshes.items[0].polygons[0].faceNormal = {7, 8, 9};
    computeFaceNormals(noVertices);
    EXPECT_EQ(noVertices.meshes.items[0].polygons[0].faceNormal, (Vec3{7, 8, 9}));

    ModelData noMeshes = geometry({{0, 0, 0}}, {});
    noMeshes.vertices.items[0].normal = {1, 2, 3};
    computeFaceNormals(noMeshes);
    computeVertexNormals(noMeshes);
    EXPECT_EQ(noMeshes.vertices.items[0].normal, (Vec3{1, 2, 3}));
}

// --- Vertex normals -----------------------------------------------------------------------------

// Triangle A (vertices 0, 1, 2) lies in the plane x = 0 with normal (1, 0, 0); triangle B
// (vertices 0, 3, 4) lies in z = 0 with normal (0, 0, 1); they share vertex 0.
const std::vector<Vec3> kPerpendicularPositions{
    {0, 0, 0}, {0, 1, 0}, {0, 0, 1}, {1, 0, 0}, {0, 1, 0}};

TEST(VertexNormal, SharedByPerpendicularTrianglesIsTheirNormalisedSum) {
    ModelData model =
        geometry(kPerpendicularPositions, {{polygonOf({0, 1, 2}), polygonOf({0, 3, 4})}});
    computeFaceNormals(model);
    expectNear(model.meshes.items[0].polygons[0].faceNormal, {1, 0, 0});
    expectNear(model.meshes.items[0].polygons[1].faceNormal, {0, 0, 1});
    expectNear(model.vertices.items[0].normal, {kHalfRoot2, 0, kHalfRoot2});
    expectNear(model.vertices.items[1].normal, {1, 0, 0});
    expectNear(model.vertices.items[4].normal, {0, 0, 1});
}

TEST(VertexNormal, SumsAcrossMeshes) {
    ModelData model =
        geometry(kPerpendicularPositions, {{polygonOf({0, 1, 2})}, {polygonOf({0, 3, 4})}});
    computeFaceNormals(model);
    expectNear(model.vertices.items[0].normal, {kHalfRoot2, 0, kHalfRoot2});
}

// Every corner naming the vertex adds the face normal once: a quad listing vertex 0 at two
// corners weighs twice.
TEST(VertexNormal, CountsEachCornerNotEachPolygon) {
    ModelData model = geometry({{0, 0, 0}, {0, 1, 0}, {0, 0, 1}, {1, 0, 0}, {0, 1, 0}},
                               {{polygonOf({0, 1, 2}), polygonOf({0, 3, 0, 4})}});
    computeFaceNormals(model);
    expectNear(model.meshes.items[0].polygons[1].faceNormal, {0, 0, 1});
    const float root5 = std::sqrt(5.0f);
    expectNear(model.vertices.items[0].normal, {1 / root5, 0, 2 / root5});
}

TEST(VertexNormal, DegenerateNeighbourAddsNothing) {
    ModelData model = geometry({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 0}, {0, 0, 0}},
                               {{polygonOf({0, 1, 2}), polygonOf({0, 3, 4})}});
    computeFaceNormals(model);
    expectNear(model.meshes.items[0].polygons[1].faceNormal, {0, 0, 0});
    expectNear(model.vertices.items[0].normal, {0, 0, 1});
    expectNear(model.vertices.items[3].normal, {0, 0, 0});
}

TEST(VertexNormal, UnusedVertexEndsAtZeroWhateverItHeld) {
    ModelData model =
        geometry({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {5, 5, 5}}, {{polygonOf({0, 1, 2})}});
    model.vertices.items[3].normal = {0, 1, 0};
    computeFaceNormals(model);
    EXPECT_EQ(model.vertices.items[3].normal, Vec3{});
    expectNear(model.vertices.items[0].normal, {0, 0, 1});
}

// A polygon of fewer than three corners keeps its face normal and still adds it to its corners'
// vertices.
TEST(VertexNormal, ShortPolygonContributesItsUnchangedFaceNormal) {
    TestPolygon segment = polygonOf({0, 1, -1});
    segment.cornerCount = 2;
    segment.faceNormal = {0, 0, 2};
    ModelData model = geometry({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, {{segment}});
    computeFaceNormals(model);
    EXPECT_EQ(model.meshes.items[0].polygons[0].faceNormal, (Vec3{0, 0, 2}));
    expectNear(model.vertices.items[0].normal, {0, 0, 1});
    expectNear(model.vertices.items[1].normal, {0, 0, 1});
    EXPECT_EQ(model.vertices.items[2].normal, Vec3{});
}

// Corners naming no vertex are skipped; the polygon's other corners still receive its (here
// unchanged, since its last corner is out of range) face normal.
TEST(VertexNormal, CornersOutsideTheTableAreSkipped) {
    TestPolygon polygon = polygonOf({0, 1, -7, 2, 99});
    polygon.faceNormal = {0, 1, 0};
    ModelData model = geometry({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, {{polygon}});
    computeFaceNormals(model);
    EXPECT_EQ(model.meshes.items[0].polygons[0].faceNormal, (Vec3{0, 1, 0}));
    for (const ModelVertex& vertex : model.vertices.items) {
        expectNear(vertex.normal, {0, 1, 0});
    }
}

TEST(VertexNormal, NotANumberFaceNormalsGiveFiniteVertexNormals) {
    TestPolygon polygon = polygonOf({0, 1});
    polygon.faceNormal = {kNan, kInfinity, 1};
    ModelData model = geometry({{0, 0, 0}, {1, 0, 0}}, {{polygon}});
    computeVertexNormals(model);
    for (const ModelVertex& vertex : model.vertices.items) {
        EXPECT_TRUE(std::isfinite(vertex.normal.x));
        EXPECT_TRUE(std::isfinite(vertex.normal.y));
        EXPECT_TRUE(std::isfinite(vertex.normal.z));
    }
}

// --- Use counts and weights ---------------------------------------------------------------------

ModelData withBones(int32_t boneCount, const std::vector<Ints>& weightBones) {
    ModelData model;
    model.bones.items.resize(static_cast<std::size_t>(boneCount));
    model.bones.count = boneCount;
    for (ModelBone& bone : model.bones.items) {
        bone.useCount = 9;
    }
    for (const Ints& bones : weightBones) {
        ModelVertex vertex;
        vertex.firstWeight = static_cast<uint32_t>(model.vertexWeights.size());
        for (const int32_t bone : bones) {
            model.vertexWeights.push_back({bone, 1.0f});
        }
        vertex.weightCount = static_cast<int32_t>(bones.size());
        model.vertices.items.push_back(vertex);
    }
    model.vertices.count = static_cast<int32_t>(weightBones.size());
    return model;
}

Ints boneUse(const ModelData& model) {
    Ints counts;
    for (const ModelBone& bone : model.bones.items) {
        counts.push_back(bone.useCount);
    }
    return counts;
}

TEST(UseCounts, BoneUseCountsWeightsNamingEachBone) {
    ModelData model = withBones(5, {{0, 4, 7}, {}, {0, -1, 4, 5, 2}});
    countBoneUse(model);
    // Bone 7 and 5 of 5 bones, and -1, count for nothing.
    EXPECT_EQ(boneUse(model), (Ints{2, 0, 1, 0, 2}));
}

TEST(UseCounts, BoneUseNeedsBonesAndVertices) {
    ModelData model = withBones(2, {});
    countBoneUse(model);
    EXPECT_EQ(boneUse(model), (Ints{9, 9}));
}

TEST(UseCounts, MaterialUseCountsPolygonsUsingEachMaterial) {
    ModelData model = geometry({{0, 0, 0}}, {{polygonOf({0}), polygonOf({0}), polygonOf({0})},
                                             {polygonOf({0}), polygonOf({0})}});
    const Ints materialIndices{1, -1, 3, 1, 0};
    std::size_t next = 0;
    for (ModelMesh& mesh : model.meshes.items) {
        for (ModelPolygon& polygon : mesh.polygons) {
            polygon.materialIndex = materialIndices[next++];
        }
    }
    model.materials.items.resize(3);
    model.materials.count = 3;
    model.materials.items[2].useCount = 4;
    countMaterialUse(model);
    Ints counts;
    for (const ModelMaterial& material : model.materials.items) {
        counts.push_back(material.useCount);
    }
    EXPECT_EQ(counts, (Ints{1, 2, 0}));
}

TEST(UseCounts, MaterialUseNeedsMaterialsAndMeshes) {
    ModelData model;
    model.materials.items.resize(1);
    model.materials.count = 1;
    model.materials.items[0].useCount = 4;
    countMaterialUse(model);
    EXPECT_EQ(model.materials.items[0].useCount, 4);
}

struct WeightCase {
    const char* label;
    std::vector<float> weights;
    std::vector<float> expected;
};

class VertexWeights : public ::testing::TestWithParam<WeightCase> {};

TEST_P(VertexWeights, SumToOne) {
    const WeightCase& c = GetParam();
    std::vector<VertexWeight> weights;
    for (const float weight : c.weights) {
        weights.push_back({3, weight});
    }
    normalizeVertexWeights(weights);
    ASSERT_EQ(weights.size(), c.expected.size());
    for (std::size_t i = 0; i < c.expected.size(); ++i) {
        EXPECT_EQ(weights[i].boneIndex, 3);
        if (std::isnan(c.expected[i])) {
            EXPECT_TRUE(std::isnan(weights[i].weight)) << i;
        } else {
            EXPECT_FLOAT_EQ(weights[i].weight, c.expected[i]) << i;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, VertexWeights,
    ::testing::Values(WeightCase{"AlreadyOne", {0.5f, 0.5f}, {0.5f, 0.5f}},
                      WeightCase{"Twos", {2.0f, 2.0f}, {0.5f, 0.5f}},
                      WeightCase{"Zeros", {0.0f, 0.0f}, {0.0f, 0.0f}},
                      WeightCase{"Uneven", {1.0f, 3.0f}, {0.25f, 0.75f}},
                      WeightCase{"Single", {4.0f}, {1.0f}},
                      WeightCase{"Cancelling", {1.0f, -1.0f}, {1.0f, -1.0f}},
                      WeightCase{"BelowOne", {0.1f, 0.1f, 0.2f}, {0.25f, 0.25f, 0.5f}},
                      // 1/sum is beyond the float range here; the weights must still come out.
                      WeightCase{"TinySum", {kTiny, 3 * kTiny}, {0.25f, 0.75f}},
                      WeightCase{"NotANumberSpreads", {kNan, 1.0f}, {kNan, kNan}},
                      WeightCase{"None", {}, {}}),
    [](const ::testing::TestParamInfo<WeightCase>& info) { return info.param.label; });

// --- Names --------------------------------------------------------------------------------------

ModelName nameOf(std::u16string_view text) {
    ModelName name;
    EXPECT_TRUE(name.assignWide(text));
    return name;
}

// The narrow form must be the conversion of the wide one.
void expectConsistent(const ModelName& name) {
    EXPECT_EQ(name.narrow(), platform::wideToNarrow(name.wide()));
}

struct CleanNameCase {
    const char* label;
    std::u16string before;
    std::u16string after;
};

class CleanName : public ::testing::TestWithParam<CleanNameCase> {};

TEST_P(CleanName, ReplacesMisreadCharactersAndALeadingDigit) {
    const CleanNameCase& c = GetParam();
    ModelData model;
    model.materials.items.resize(1);
    model.materials.count = 1;
    model.materials.items[0].name = nameOf(c.before);
    ASSERT_TRUE(sanitizeNames(model));
    ASSERT_TRUE(replaceLeadingDigit(model));
    EXPECT_EQ(model.materials.items[0].name.wide(), c.after);
    expectConsistent(model.materials.items[0].name);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CleanName,
    ::testing::Values(CleanNameCase{"WoodGrain", u"Wood Grain (2).rev", u"Wood_Grain__2__rev"},
                      CleanNameCase{"LeadingDigit", u"3DBox", u"_DBox"},
                      CleanNameCase{"OnlyADigit", u"9", u"_"},
                      CleanNameCase{"LaterDigitsStay", u"Box12", u"Box12"},
                      CleanNameCase{"LeadingDigitAfterReplacement", u".5", u"_5"},
                      CleanNameCase{"Empty", u"", u""},
                      CleanNameCase{"EveryReplacedCharacter", u" .|-\t\":;,/'\\<>][{}()",
                                    u"____________________"},
                      CleanNameCase{"NeighboursStay", u"!#$%&*+=?@^`~_", u"!#$%&*+=?@^`~_"},
                      CleanNameCase{"NonAscii", u"L\u00e4mpchen (rot)", u"L\u00e4mpchen__rot_"},
                      CleanNameCase{"Surrogates", u"\U0001F600 face", u"\U0001F600_face"},
                      CleanNameCase{"LongestName", std::u16string(258, u'-') + u"1",
                                    std::u16string(258, u'_') + u"1"}),
    [](const ::testing::TestParamInfo<CleanNameCase>& info) { return info.param.label; });

// Every named table is cleaned; a narrow form out of step with its wide text is rebuilt.
TEST(CleanNames, EveryNamedTableIsCleaned) {
    ModelData model;
    const ModelName dirty = nameOf(u"7 up");
    const auto fill = [&](auto& table) {
        table.items.resize(2);
        table.count = 2;
        for (auto& element : table.items) {
            element.name = dirty;
        }
    };
    fill(model.lights);
    fill(model.cameras);
    fill(model.uvSets);
    fill(model.groups);
    fill(model.bones);
    fill(model.materials);
    fill(model.animations);
    // A narrow name holding a byte that is no character in UTF-8: its wide form has a
    // replacement character there, and the narrow form must be rebuilt from that.
    ModelName& outOfStep = model.animations.items[1].name;
    ASSERT_TRUE(outOfStep.assignNarrow("7 up\xff"));
    const std::u16string outOfStepTail(outOfStep.wide().substr(4));
    ASSERT_TRUE(sanitizeNames(model));
    ASSERT_TRUE(replaceLeadingDigit(model));
    EXPECT_EQ(outOfStep.wide(), u"__up" + outOfStepTail);
    expectConsistent(outOfStep);
    const auto check = [&](const auto& table) {
        for (const auto& element : table.items) {
            if (&element.name != &outOfStep) {
                EXPECT_EQ(element.name.wide(), u"__up");
                EXPECT_EQ(element.name.narrow(), "__up");
            }
        }
    };
    check(model.lights);
    check(model.cameras);
    check(model.uvSets);
    check(model.groups);
    check(model.bones);
    check(model.materials);
    check(model.animations);
}

// --- De-duplication -----------------------------------------------------------------------------

Names deduplicated(const Names& before) {
    ElementSlot<ModelMaterial> table;
    table.items.resize(before.size());
    table.count = static_cast<int32_t>(before.size());
    for (std::size_t i = 0; i < before.size(); ++i) {
        table.items[i].name = nameOf(before[i]);
    }
    EXPECT_TRUE(deduplicateNames(table));
    Names after;
    for (const ModelMaterial& material : table.items) {
        expectConsistent(material.name);
        after.emplace_back(material.name.wide());
    }
    return after;
}

// The clean-up's rule applied literally, with quadratic searches: for each element in order,
// while some other element has the same text, append the shared counter (cut to the longest
// name) and count up; at most 101 times per element.
Names deduplicatedByTheRule(Names names) {
    int suffix = 0;
    for (std::size_t j = 0; j < names.size(); ++j) {
        for (int given = 0; given < 101; ++given) {
            bool clashes = false;
            for (std::size_t k = 0; k < names.size(); ++k) {
                clashes = clashes || (k != j && names[k] == names[j]);
            }
            if (!clashes) {
                break;
            }
            for (const char digit : std::to_string(suffix)) {
                names[j].push_back(static_cast<char16_t>(digit));
            }
            names[j].resize(std::min(names[j].size(), ModelName::kMaxLength));
            ++suffix;
        }
    }
    return names;
}

struct DedupCase {
    const char* label;
    Names before;
    Names after;
};

class Deduplicate : public ::testing::TestWithParam<DedupCase> {};

TEST_P(Deduplicate, GivesTheTreatedElementASuffix) {
    const DedupCase& c = GetParam();
    EXPECT_EQ(deduplicated(c.before), c.after);
    EXPECT_EQ(deduplicatedByTheRule(c.before), c.after);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Deduplicate,
    ::testing::Values(
        DedupCase{"Pair", {u"Red", u"Red"}, {u"Red0", u"Red"}},
        DedupCase{"Three", {u"Red", u"Red", u"Red"}, {u"Red0", u"Red1", u"Red"}},
        DedupCase{"CounterIsShared", {u"A", u"A", u"B", u"B"}, {u"A0", u"A", u"B1", u"B"}},
        DedupCase{"SuffixClashesAgain", {u"Red", u"Red", u"Red0"}, {u"Red01", u"Red", u"Red0"}},
        DedupCase{"EmptyNames", {u"", u""}, {u"0", u""}},
        DedupCase{"EmptyAndNonEmpty", {u"", u"A"}, {u"", u"A"}},
        DedupCase{"CaseSensitive", {u"red", u"Red"}, {u"red", u"Red"}},
        DedupCase{"Distinct", {u"A", u"B", u"C"}, {u"A", u"B", u"C"}},
        DedupCase{"Single", {u"A"}, {u"A"}},
        DedupCase{"Apart", {u"X", u"Y", u"X"}, {u"X0", u"Y", u"X"}},
        DedupCase{
            "SuffixDigitsGrow",
            {u"M", u"M", u"M", u"M", u"M", u"M", u"M", u"M", u"M", u"M", u"M", u"M"},
            {u"M0", u"M1", u"M2", u"M3", u"M4", u"M5", u"M6", u"M7", u"M8", u"M9", u"M10", u"M"}},
        DedupCase{"Empty", {}, {}}),
    [](const ::testing::TestParamInfo<DedupCase>& info) { return info.param.label; });

// "A" followed by the decimal digits of 0, 1, ..., count - 1.
std::u16string chain(int count) {
    std::u16string text = u"A";
    for (int i = 0; i < count; ++i) {
        for (const char digit : std::to_string(i)) {
            text.push_back(static_cast<char16_t>(digit));
        }
    }
    return text;
}

// The first element meets every name it is given already taken, so it keeps clashing until the
// limit of 101 suffixes stops it, still carrying a name that clashes.
TEST(Deduplication, StopsAfter101Suffixes) {
    Names before{u"A", u"A"};
    for (int i = 1; i <= 101; ++i) {
        before.push_back(chain(i));
    }
    const Names after = deduplicated(before);
    ASSERT_EQ(after.size(), before.size());
    EXPECT_EQ(after[0], chain(101));
    EXPECT_EQ(after[1], u"A");
    for (std::size_t i = 2; i + 1 < before.size(); ++i) {
        EXPECT_EQ(after[i], before[i]) << i;
    }
    // The last chain name now clashes with the first element; the counter stands at 101.
    EXPECT_EQ(after.back(), chain(101) + u"101");
    EXPECT_EQ(after, deduplicatedByTheRule(before));
}

// A name at the longest length cannot take a suffix: both equal names use up their 101 suffix
// numbers and stay equal, and the counter goes on from 202 for the names after them.
TEST(Deduplication, LongestNamesUseUpTheirSuffixesAndKeepClashing) {
    const std::u16string longest(ModelName::kMaxLength, u'x');
    const Names after = deduplicated({longest, longest, u"B", u"B"});
    EXPECT_EQ(after, (Names{longest, longest, u"B202", u"B"}));
}

TEST(Deduplication, SuffixIsCutToTheLongestName) {
    const std::u16string nearly(ModelName::kMaxLength - 1, u'x');
    Names before;
    for (int i = 0; i < 12; ++i) {
        before.push_back(nearly);
    }
    const Names after = deduplicated(before);
    EXPECT_EQ(after[0], nearly + u"0");
    for (const std::u16string& name : after) {
        EXPECT_LE(name.size(), ModelName::kMaxLength);
    }
    EXPECT_EQ(after, deduplicatedByTheRule(before));
}

// Tables drawn from a small set of texts that clash with each other's suffixed forms, checked
// against the literal rule.
TEST(Deduplication, AgreesWithTheRuleOnMixedTables) {
    const std::u16string nearly(ModelName::kMaxLength - 2, u'q');
    const Names texts{u"",  u"A", u"A0",  u"A1",         u"A01",         u"B",         u"0",
                      u"1", u"a", nearly, nearly + u"1", nearly + u"12", nearly + u"2"};
    uint32_t state = 12345;
    for (int round = 0; round < 200; ++round) {
        state = state * 1103515245u + 12345u;
        const std::size_t size = (state >> 16) % 40;
        Names before;
        for (std::size_t i = 0; i < size; ++i) {
            state = state * 1103515245u + 12345u;
            before.push_back(texts[(state >> 16) % texts.size()]);
        }
        ASSERT_EQ(deduplicated(before), deduplicatedByTheRule(before)) << "round " << round;
    }
}

TEST(Deduplication, ManyEqualNamesEachGetTheirOwnNumber) {
    const std::size_t count = 20000;
    const Names after = deduplicated(Names(count, u"Material"));
    for (std::size_t i = 0; i + 1 < count; ++i) {
        ASSERT_EQ(after[i], u"Material" + platform::fromUtf8(std::to_string(i))) << i;
    }
    EXPECT_EQ(after.back(), u"Material");
}

TEST(Deduplication, NarrowFormFollowsTheWideText) {
    ElementSlot<ModelBone> bones;
    bones.items.resize(2);
    bones.count = 2;
    bones.items[0].name = nameOf(u"\u00c9paule");
    bones.items[1].name = nameOf(u"\u00c9paule");
    ASSERT_TRUE(deduplicateNames(bones));
    EXPECT_EQ(bones.items[0].name.wide(), u"\u00c9paule0");
    EXPECT_EQ(bones.items[0].name.narrow(), platform::wideToNarrow(u"\u00c9paule0"));
}

// --- The whole sequence -------------------------------------------------------------------------

template <typename T>
void setNames(ElementSlot<T>& table, const Names& names) {
    table.items.resize(names.size());
    table.count = static_cast<int32_t>(names.size());
    for (std::size_t i = 0; i < names.size(); ++i) {
        table.items[i].name = nameOf(names[i]);
    }
}

template <typename T>
Names namesOf(const ElementSlot<T>& table) {
    Names names;
    for (const T& element : table.items) {
        names.emplace_back(element.name.wide());
    }
    return names;
}

TEST(PostLoadSteps, TablesAreDeduplicatedSeparatelyAfterCleaning) {
    ModelData model;
    setNames(model.lights, {u"Lamp", u"a b", u"a_b"});
    setNames(model.cameras, {u"Lamp", u"Lamp"});
    setNames(model.materials, {u"Lamp", u"1x", u"_x"});
    setNames(model.bones, {u"B", u"B"});
    setNames(model.groups, {u"G", u"G", u"G"});
    setNames(model.uvSets, {u"map 1", u"map 1"});
    setNames(model.animations, {u"Walk", u"Walk"});
    ASSERT_TRUE(runPostLoadSteps(model));
    // Cleaning comes first, so "a b" and "a_b" clash; each table counts from 0.
    EXPECT_EQ(namesOf(model.lights), (Names{u"Lamp", u"a_b0", u"a_b"}));
    EXPECT_EQ(namesOf(model.cameras), (Names{u"Lamp0", u"Lamp"}));
    EXPECT_EQ(namesOf(model.materials), (Names{u"Lamp", u"_x0", u"_x"}));
    EXPECT_EQ(namesOf(model.bones), (Names{u"B0", u"B"}));
    EXPECT_EQ(namesOf(model.groups), (Names{u"G0", u"G1", u"G"}));
    // UV sets and animations are cleaned but may keep equal names.
    EXPECT_EQ(namesOf(model.uvSets), (Names{u"map_1", u"map_1"}));
    EXPECT_EQ(namesOf(model.animations), (Names{u"Walk", u"Walk"}));
}

TEST(PostLoadSteps, EmptyModelIsLeftAlone) {
    ModelData model;
    EXPECT_TRUE(runPostLoadSteps(model));
    EXPECT_FALSE(model.vertices.exists());
    EXPECT_FALSE(model.materials.exists());
}

// --- Through a load -----------------------------------------------------------------------------

using testsupport::KvtBone;
using testsupport::KvtLight;
using testsupport::KvtMaterial;
using testsupport::KvtModel;
using testsupport::KvtWeight;

int loadBytes(KVTPlugin& plugin, const testsupport::KvtBytes& bytes) {
    const int result = plugin.loadModelFromMemory(
        std::span<const uint8_t>(bytes.data(), bytes.size()), u"model.kvt");
    if (result == kLoadSucceeded) {
        finishLoadedModel(plugin.model, u"model.kvt", systemFileSystem());
    }
    return result;
}

class LoadedModel : public ::testing::TestWithParam<int32_t> {};

TEST_P(LoadedModel, CarriesDerivedNormalsCountsWeightsAndCleanNames) {
    KvtModel file = testsupport::triangleModel(GetParam());
    file.lights = {KvtLight{.name = "Key Light"}, KvtLight{.name = "Key Light"}};
    file.materials.push_back(KvtMaterial{.name = "Material"});
    file.bones = {KvtBone{.name = "Arm.L"}};
    file.vertices[0].weights = {KvtWeight{0, 2.0f}, KvtWeight{0, 2.0f}};
    // A normal stored in the file is replaced by the derived one.
    file.flags |= testsupport::kKvtFlagVertexNormals;
    file.vertices[1].normal = {1, 0, 0};

    KVTPlugin plugin;
    ASSERT_EQ(loadBytes(plugin, testsupport::writeKvt(file)), kLoadSucceeded);
    const ModelData& model = plugin.model;

    ASSERT_EQ(model.meshes.count, 1);
    expectNear(model.meshes.items[0].polygons[0].faceNormal, {0, 0, 1});
    ASSERT_EQ(model.vertices.count, 3);
    for (const ModelVertex& vertex : model.vertices.items) {
        expectNear(vertex.normal, {0, 0, 1});
    }
    const std::span<const VertexWeight> weights = model.weightsOf(model.vertices.items[0]);
    ASSERT_EQ(weights.size(), 2u);
    EXPECT_FLOAT_EQ(weights[0].weight, 0.5f);
    EXPECT_FLOAT_EQ(weights[1].weight, 0.5f);
    ASSERT_EQ(model.bones.count, 1);
    EXPECT_EQ(model.bones.items[0].useCount, 2);
    EXPECT_EQ(model.bones.items[0].name.narrow(), "Arm_L");

    EXPECT_EQ(namesOf(model.lights), (Names{u"Key_Light0", u"Key_Light"}));
    EXPECT_EQ(model.lights.items[0].name.narrow(), "Key_Light0");
    EXPECT_EQ(namesOf(model.materials), (Names{u"Material0", u"Material"}));
    EXPECT_EQ(model.materials.items[0].useCount, 1);
    EXPECT_EQ(model.materials.items[1].useCount, 0);
}

// Narrow names (below version 32, except 10) and wide ones; short and long header layouts.
INSTANTIATE_TEST_SUITE_P(Versions, LoadedModel, ::testing::Values(10, 29, 30, 31, 32, 33));

// In the unit cube every corner vertex sits on three faces; a vertex at the end of a face's
// split diagonal is named by both of that face's triangles and counts twice there.
TEST(LoadedCube, CubeVertexNormalsWeighEachCorner) {
    KVTPlugin plugin;
    ASSERT_EQ(loadBytes(plugin, testsupport::writeKvt(testsupport::cubeModel(30))), kLoadSucceeded);
    const std::vector<ModelVertex>& vertices = plugin.model.vertices.items;
    ASSERT_EQ(vertices.size(), 8u);
    const float third = 1 / std::sqrt(3.0f);
    const float sixth = 1 / std::sqrt(6.0f);
    // Vertices 0 and 7 end every diagonal they touch.
    expectNear(vertices[0].normal, {-third, -third, -third});
    expectNear(vertices[7].normal, {third, third, third});
    // Vertex 1 (x = 1) ends the diagonal of face +x only.
    expectNear(vertices[1].normal, {2 * sixth, -sixth, -sixth});
}

}  // namespace
}  // namespace quillmesh
