// The group, vertex, aux-record and UV-set sections, decoded from files made by the test writer:
// their layouts across the version thresholds, the vertex attributes chosen by the header flags,
// the defaults of what a file leaves out, and truncation inside each section.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "model/kvt_plugin.h"
#include "tests/section_loading.h"
#include "tests/support/kvt_writer.h"

namespace quillmesh {
namespace {

using sectiontest::distinctTransform;
using sectiontest::expectSentinelBone;
using sectiontest::loaded;
using sectiontest::sentinelBone;
using testsupport::KvtAuxRecord;
using testsupport::KvtBone;
using testsupport::KvtGroup;
using testsupport::KvtImage;
using testsupport::KvtMesh;
using testsupport::KvtModel;
using testsupport::KvtName;
using testsupport::KvtPolygon;
using testsupport::KvtSection;
using testsupport::kvtSectionIndex;
using testsupport::KvtTransform;
using testsupport::KvtUVSet;
using testsupport::KvtVertex;
using testsupport::KvtWriteOptions;
using testsupport::writeKvtImage;

void expectEmptyModel(const KVTPlugin& plugin) {
    const ModelData& model = plugin.model;
    EXPECT_EQ(model.lights.count, 0);
    EXPECT_EQ(model.cameras.count, 0);
    EXPECT_EQ(model.materials.count, 0);
    EXPECT_EQ(model.groups.count, 0);
    EXPECT_TRUE(model.groups.items.empty());
    EXPECT_EQ(model.vertices.count, 0);
    EXPECT_TRUE(model.vertices.items.empty());
    EXPECT_EQ(model.auxRecords.count, 0);
    EXPECT_TRUE(model.auxRecords.items.empty());
    EXPECT_EQ(model.uvSets.count, 0);
    EXPECT_TRUE(model.uvSets.items.empty());
    EXPECT_EQ(model.meshes.count, 0);
    EXPECT_TRUE(model.meshes.items.empty());
    EXPECT_EQ(model.bones.count, 0);
    EXPECT_TRUE(model.bones.items.empty());
    EXPECT_EQ(model.animations.count, 0);
    EXPECT_TRUE(model.animations.items.empty());
    EXPECT_TRUE(model.vertexWeights.empty());
}

// Every cut of the file that ends inside `section` (from its count word up to the last byte
// before the next section) fails and leaves an empty model, even after a successful load.
void expectEveryCutInsideFails(const KvtModel& model, KvtSection section,
                               std::optional<KvtSection> next) {
    sectiontest::expectEveryCutInsideFails(model, section, next, expectEmptyModel);
}

NodeTransform asNodeTransform(const KvtTransform& t) {
    NodeTransform out;
    out.xAxis = {t.xAxis[0], t.xAxis[1], t.xAxis[2]};
    out.yAxis = {t.yAxis[0], t.yAxis[1], t.yAxis[2]};
    out.zAxis = {t.zAxis[0], t.zAxis[1], t.zAxis[2]};
    out.position = {t.position[0], t.position[1], t.position[2]};
    out.scale = {t.scale[0], t.scale[1], t.scale[2]};
    std::copy(t.matrix.begin(), t.matrix.end(), out.matrix.begin());
    out.rotation = {t.rotation[0], t.rotation[1], t.rotation[2], t.rotation[3]};
    out.eulerAngles = {t.eulerAngles[0], t.eulerAngles[1], t.eulerAngles[2]};
    return out;
}

// A vertex whose position tells the records apart; it follows the section under test so that a
// record read one byte too long or too short shows up in it.
KvtVertex sentinelVertex() {
    KvtVertex vertex;
    vertex.position = {41.5f, -42.25f, 43.75f};
    return vertex;
}

void expectSentinelVertex(const KVTPlugin& plugin, std::size_t index) {
    ASSERT_LT(index, plugin.model.vertices.items.size());
    EXPECT_EQ(plugin.model.vertices.items[index].position, (Vec3{41.5f, -42.25f, 43.75f}));
}

// --- Groups -------------------------------------------------------------------------------------

struct GroupCase {
    int32_t version;
    bool newLayout;
};

class GroupLayout : public ::testing::TestWithParam<GroupCase> {};

TEST_P(GroupLayout, StoresWhatTheVersionsRecordHolds) {
    const GroupCase param = GetParam();
    KvtModel model;
    model.version = param.version;
    KvtGroup first;
    first.name = "Pivot";
    first.groupTag = 7;
    first.groupLink = -3;
    first.transform = distinctTransform(100);
    KvtGroup second;
    second.name = "Arm";
    second.groupTag = 9;
    second.groupLink = 1;
    second.transform = distinctTransform(200);
    model.groups = {first, second};
    model.vertices = {sentinelVertex()};

    const auto plugin = loaded(model);
    const ModelData& data = plugin->model;
    ASSERT_EQ(data.groups.count, 2);
    EXPECT_EQ(data.groups.items[0].name.narrow(), "Pivot");
    EXPECT_EQ(data.groups.items[1].name.narrow(), "Arm");
    for (std::size_t i = 0; i < 2; ++i) {
        const ModelGroup& group = data.groups.items[i];
        const KvtGroup& written = model.groups[i];
        if (param.newLayout) {
            EXPECT_EQ(group.groupTag, written.groupTag);
            EXPECT_EQ(group.groupLink, written.groupLink);
            EXPECT_EQ(group.transform, asNodeTransform(written.transform));
        } else {
            // An old record is its name alone: the rest stays all zero.
            EXPECT_EQ(group.groupTag, 0);
            EXPECT_EQ(group.groupLink, 0);
            EXPECT_EQ(group.transform, NodeTransform{});
        }
        EXPECT_EQ(group.memberCount, 0);
        EXPECT_TRUE(group.members.empty());
    }
    expectSentinelVertex(*plugin, 0);
}

INSTANTIATE_TEST_SUITE_P(Versions, GroupLayout,
                         ::testing::Values(GroupCase{6, false}, GroupCase{9, false},
                                           GroupCase{10, false}, GroupCase{29, false},
                                           GroupCase{30, true}, GroupCase{31, true},
                                           GroupCase{32, true}, GroupCase{33, true}));

// Names are 8-bit text except in version 10 and from version 32, where they are UTF-16LE.
class GroupNameForm : public ::testing::TestWithParam<int32_t> {};

TEST_P(GroupNameForm, WideNamesKeepUnitsBeyondLatin1) {
    KvtModel model;
    model.version = GetParam();
    KvtGroup group;
    group.name = KvtName(u"Zh\u0416\u4E2D");
    model.groups = {group};
    model.vertices = {sentinelVertex()};
    const auto plugin = loaded(model);
    ASSERT_EQ(plugin->model.groups.count, 1);
    EXPECT_TRUE(plugin->model.groups.items[0].name.wide() == u"Zh\u0416\u4E2D");
    expectSentinelVertex(*plugin, 0);
}

INSTANTIATE_TEST_SUITE_P(Versions, GroupNameForm, ::testing::Values(10, 32, 33));

struct GroupCountCase {
    int32_t version;
    int32_t count;
};

class GroupCountWithoutRecords : public ::testing::TestWithParam<GroupCountCase> {};

// A zero count gets one default group; a negative count is an empty section that counts as
// declared, so no group is made for it.
TEST_P(GroupCountWithoutRecords, ZeroLeavesOneDefaultGroupNegativeLeavesNone) {
    const GroupCountCase param = GetParam();
    KvtModel model;
    model.version = param.version;
    model.vertices = {sentinelVertex()};
    KvtWriteOptions options;
    options.sectionCounts[kvtSectionIndex(KvtSection::kGroups)] = param.count;
    const auto plugin = loaded(model, options);
    const ModelData& data = plugin->model;
    if (param.count == 0) {
        ASSERT_EQ(data.groups.count, 1);
        EXPECT_EQ(data.groups.items[0].name.narrow(), "KVTGroup0");
        EXPECT_EQ(data.groups.items[0].transform, NodeTransform{});
    } else {
        EXPECT_EQ(data.groups.count, 0);
        EXPECT_TRUE(data.groups.items.empty());
    }
    expectSentinelVertex(*plugin, 0);
}

INSTANTIATE_TEST_SUITE_P(ZeroOrNegative, GroupCountWithoutRecords,
                         ::testing::Values(GroupCountCase{29, 0}, GroupCountCase{30, 0},
                                           GroupCountCase{29, -1}, GroupCountCase{33, -7}));

TEST(GroupSection, StoredNameReplacesTheDefaultEvenWhenEmpty) {
    for (const int32_t version : {29, 30}) {
        KvtModel model;
        model.version = version;
        model.groups = {KvtGroup{"Root"}, KvtGroup{""}};
        model.vertices = {sentinelVertex()};
        const auto plugin = loaded(model);
        ASSERT_EQ(plugin->model.groups.count, 2) << version;
        EXPECT_EQ(plugin->model.groups.items[0].name.narrow(), "Root");
        EXPECT_TRUE(plugin->model.groups.items[1].name.empty()) << version;
        expectSentinelVertex(*plugin, 0);
    }
}

class GroupTruncation : public ::testing::TestWithParam<int32_t> {};

TEST_P(GroupTruncation, EveryCutInsideTheSectionFails) {
    KvtModel model;
    model.version = GetParam();
    KvtGroup group;
    group.name = "Pivot";
    group.transform = distinctTransform(1);
    model.groups = {group, KvtGroup{"Arm"}};
    model.vertices = {sentinelVertex()};
    expectEveryCutInsideFails(model, KvtSection::kGroups, KvtSection::kVertices);
}

INSTANTIATE_TEST_SUITE_P(Versions, GroupTruncation, ::testing::Values(6, 10, 29, 30, 32));

// --- Vertices -----------------------------------------------------------------------------------

struct VertexCase {
    int32_t version;
    uint32_t flags;
};

class VertexAttributes : public ::testing::TestWithParam<VertexCase> {};

TEST_P(VertexAttributes, FlagsChooseNormalAndColourInEveryVersion) {
    const VertexCase param = GetParam();
    const bool hasColour = (param.flags & testsupport::kKvtFlagVertexColours) != 0;
    KvtModel model;
    model.version = param.version;
    model.flags = param.flags;
    KvtVertex first;
    first.position = {1.5f, -2.0f, 3.25f};
    first.normal = {0.0f, 1.0f, 0.0f};
    first.colour = {0.25f, 0.5f, 0.75f, 0.125f};
    first.weights = {{3, 0.25f}, {-1, 0.75f}};
    KvtVertex second;
    second.position = {-7.0f, 8.0f, -9.5f};
    second.normal = {1.0f, 0.0f, 0.0f};
    second.colour = {0.0f, 0.0f, 1.0f, 0.5f};
    second.weights = {{12, 1.0f}};
    model.vertices = {first, second, sentinelVertex()};
    model.bones = {KvtBone{"Spine"}};

    const auto plugin = loaded(model);
    const ModelData& data = plugin->model;
    ASSERT_EQ(data.vertices.count, 3);
    const Rgba white{1.0f, 1.0f, 1.0f, 1.0f};
    for (std::size_t i = 0; i < 2; ++i) {
        const ModelVertex& vertex = data.vertices.items[i];
        const KvtVertex& written = model.vertices[i];
        EXPECT_EQ(vertex.position,
                  (Vec3{written.position[0], written.position[1], written.position[2]}));
        const Rgba colour{written.colour[0], written.colour[1], written.colour[2],
                          written.colour[3]};
        EXPECT_EQ(vertex.colour, hasColour ? colour : white);
        // The stored normal is dropped; without meshes nothing derives one.
        EXPECT_EQ(vertex.normal, Vec3{});
        ASSERT_EQ(vertex.weightCount, static_cast<int32_t>(written.weights.size()));
        const auto weights = data.weightsOf(vertex);
        ASSERT_EQ(weights.size(), written.weights.size());
        for (std::size_t j = 0; j < written.weights.size(); ++j) {
            EXPECT_EQ(weights[j].boneIndex, written.weights[j].boneIndex);
            EXPECT_EQ(weights[j].weight, written.weights[j].weight);
        }
    }
    expectSentinelVertex(*plugin, 2);
    EXPECT_EQ(data.vertices.items[2].weightCount, 0);
    EXPECT_TRUE(data.weightsOf(data.vertices.items[2]).empty());
    // The sections after the vertices are read from where the vertex records end.
    ASSERT_EQ(data.bones.count, 1);
    EXPECT_EQ(data.bones.items[0].name.narrow(), "Spine");
}

INSTANTIATE_TEST_SUITE_P(FlagsAndVersions, VertexAttributes,
                         ::testing::Values(VertexCase{6, 0}, VertexCase{6, 1}, VertexCase{6, 2},
                                           VertexCase{6, 3}, VertexCase{29, 0}, VertexCase{29, 1},
                                           VertexCase{29, 2}, VertexCase{29, 3}, VertexCase{30, 0},
                                           VertexCase{30, 1}, VertexCase{30, 2}, VertexCase{30, 3},
                                           VertexCase{33, 0}, VertexCase{33, 3},
                                           VertexCase{31, 0x4 | 0x8 | 0x3}));

TEST(VertexSection, ZeroOrNegativeWeightCountsMeanNoWeights) {
    KvtModel model;
    model.version = 30;
    KvtVertex negative;
    negative.position = {1, 2, 3};
    negative.weightCount = -5;
    KvtVertex zero;
    zero.position = {4, 5, 6};
    model.vertices = {negative, zero, sentinelVertex()};
    const auto plugin = loaded(model);
    ASSERT_EQ(plugin->model.vertices.count, 3);
    for (std::size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(plugin->model.vertices.items[i].weightCount, 0);
        EXPECT_TRUE(plugin->model.weightsOf(plugin->model.vertices.items[i]).empty());
    }
    EXPECT_TRUE(plugin->model.vertexWeights.empty());
    EXPECT_EQ(plugin->model.vertices.items[1].position, (Vec3{4, 5, 6}));
    expectSentinelVertex(*plugin, 2);
}

TEST(VertexSection, BoneIndicesAreStoredAsRead) {
    KvtModel model;
    model.version = 29;
    KvtVertex vertex;
    vertex.weights = {{7, 0.5f}, {-2, 0.5f}, {2147483647, 0.0f}};
    model.vertices = {vertex};
    model.bones = {KvtBone{"Only"}};
    const auto plugin = loaded(model);
    ASSERT_EQ(plugin->model.vertices.count, 1);
    const auto weights = plugin->model.weightsOf(plugin->model.vertices.items[0]);
    ASSERT_EQ(weights.size(), 3u);
    EXPECT_EQ(weights[0].boneIndex, 7);
    EXPECT_EQ(weights[1].boneIndex, -2);
    EXPECT_EQ(weights[2].boneIndex, 2147483647);
}

struct VertexTruncationCase {
    int32_t version;
    uint32_t flags;
};

class VertexTruncation : public ::testing::TestWithParam<VertexTruncationCase> {};

TEST_P(VertexTruncation, EveryCutInsideTheSectionFails) {
    KvtModel model;
    model.version = GetParam().version;
    model.flags = GetParam().flags;
    KvtVertex vertex;
    vertex.weights = {{0, 0.5f}, {1, 0.5f}};
    model.vertices = {vertex, sentinelVertex()};
    model.bones = {KvtBone{"Spine"}};
    const KvtSection next = model.version >= 30 ? KvtSection::kAuxRecords : KvtSection::kMeshes;
    expectEveryCutInsideFails(model, KvtSection::kVertices, next);
}

INSTANTIATE_TEST_SUITE_P(FlagsAndVersions, VertexTruncation,
                         ::testing::Values(VertexTruncationCase{6, 0}, VertexTruncationCase{29, 3},
                                           VertexTruncationCase{30, 1},
                                           VertexTruncationCase{33, 2}));

// --- Aux records --------------------------------------------------------------------------------

KvtAuxRecord auxRecord(int32_t base) {
    KvtAuxRecord record;
    for (std::size_t i = 0; i < record.values.size(); ++i) {
        record.values[i] = base + static_cast<int32_t>(i);
    }
    record.scalar = static_cast<float>(base) + 0.5f;
    return record;
}

void expectAuxRecord(const AuxRecord& record, const KvtAuxRecord& written) {
    for (std::size_t i = 0; i < written.values.size(); ++i) {
        EXPECT_EQ(record.auxValues[i], written.values[i]) << "field " << i;
    }
    EXPECT_EQ(record.auxScalar, written.scalar);
}

class AuxRecordLayout : public ::testing::TestWithParam<int32_t> {};

TEST_P(AuxRecordLayout, FromVersion30EveryFieldIsRead) {
    KvtModel model;
    model.version = GetParam();
    model.auxRecords = {auxRecord(-100), auxRecord(1000)};
    model.vertices = {sentinelVertex()};
    model.uvSets = {KvtUVSet{"After"}};
    model.bones = {sentinelBone()};
    const auto plugin = loaded(model);
    const ModelData& data = plugin->model;
    ASSERT_EQ(data.auxRecords.count, 2);
    expectAuxRecord(data.auxRecords.items[0], model.auxRecords[0]);
    expectAuxRecord(data.auxRecords.items[1], model.auxRecords[1]);
    ASSERT_EQ(data.uvSets.count, 1);
    EXPECT_EQ(data.uvSets.items[0].name.narrow(), "After");
    expectSentinelBone(*plugin);
}

INSTANTIATE_TEST_SUITE_P(Versions, AuxRecordLayout, ::testing::Values(30, 31, 32, 33));

TEST(AuxRecordSection, AbsentBelowVersion30) {
    // A version-29 file carries no aux or UV-set section: the mesh count follows the vertices.
    KvtModel model;
    model.version = 29;
    model.auxRecords = {auxRecord(5)};  // not written below 30
    model.vertices = {sentinelVertex()};
    model.meshes = {KvtMesh{3, {KvtPolygon{.vertices = {0, 0, 0}, .materialIndex = 7}}}};
    model.bones = {sentinelBone()};
    const KvtImage image = writeKvtImage(model);
    ASSERT_FALSE(image.sectionOffsets[kvtSectionIndex(KvtSection::kAuxRecords)].has_value());
    const auto plugin = loaded(model);
    EXPECT_EQ(plugin->model.auxRecords.count, 0);
    EXPECT_TRUE(plugin->model.auxRecords.items.empty());
    expectSentinelVertex(*plugin, 0);
    ASSERT_EQ(plugin->model.meshes.count, 1);
    ASSERT_EQ(plugin->model.meshes.items[0].polygons.size(), 1u);
    EXPECT_EQ(plugin->model.meshes.items[0].polygons[0].materialIndex, 7);
    expectSentinelBone(*plugin);
}

TEST(AuxRecordSection, NegativeCountIsAnEmptySection) {
    KvtModel model;
    model.version = 30;
    model.vertices = {sentinelVertex()};
    model.uvSets = {KvtUVSet{"Only"}};
    KvtWriteOptions options;
    options.sectionCounts[kvtSectionIndex(KvtSection::kAuxRecords)] = -3;
    const auto plugin = loaded(model, options);
    EXPECT_EQ(plugin->model.auxRecords.count, 0);
    EXPECT_TRUE(plugin->model.auxRecords.items.empty());
    ASSERT_EQ(plugin->model.uvSets.count, 1);
    EXPECT_EQ(plugin->model.uvSets.items[0].name.narrow(), "Only");
}

TEST(AuxRecordSection, EveryCutInsideTheSectionFails) {
    KvtModel model;
    model.version = 30;
    model.auxRecords = {auxRecord(1), auxRecord(2)};
    model.vertices = {sentinelVertex()};
    expectEveryCutInsideFails(model, KvtSection::kAuxRecords, KvtSection::kUVSets);
}

// --- UV sets ------------------------------------------------------------------------------------

class UVSetLayout : public ::testing::TestWithParam<int32_t> {};

TEST_P(UVSetLayout, CoordinatesAndAuxRecordsOfEverySet) {
    KvtModel model;
    model.version = GetParam();
    KvtUVSet first;
    first.name = "Diffuse";
    first.coords = {{11, 0.25f, 0.75f}, {-12, 1.5f, -2.5f}, {13, 0.0f, 1.0f}};
    first.auxRecords = {auxRecord(40)};
    KvtUVSet empty;
    empty.name = "Blank";
    KvtUVSet second;
    second.name = "Light";
    second.coords = {{7, 0.5f, 0.5f}};
    second.auxRecords = {auxRecord(-7), auxRecord(77)};
    model.uvSets = {first, empty, second};
    model.vertices = {sentinelVertex()};
    model.bones = {sentinelBone()};

    const auto plugin = loaded(model);
    const ModelData& data = plugin->model;
    ASSERT_EQ(data.uvSets.count, 3);
    for (std::size_t i = 0; i < model.uvSets.size(); ++i) {
        const UVSet& uvSet = data.uvSets.items[i];
        const KvtUVSet& written = model.uvSets[i];
        EXPECT_TRUE(uvSet.name.wide() == written.name.text) << "set " << i;
        ASSERT_EQ(uvSet.coordCount, static_cast<int32_t>(written.coords.size()));
        ASSERT_EQ(uvSet.coords.size(), written.coords.size());
        for (std::size_t j = 0; j < written.coords.size(); ++j) {
            // The first word of an entry is the tag; u and v follow it.
            EXPECT_EQ(uvSet.coords[j],
                      (UVCoord{written.coords[j].tag, written.coords[j].u, written.coords[j].v}));
        }
        ASSERT_EQ(uvSet.auxCount, static_cast<int32_t>(written.auxRecords.size()));
        ASSERT_EQ(uvSet.auxRecords.size(), written.auxRecords.size());
        for (std::size_t k = 0; k < written.auxRecords.size(); ++k) {
            expectAuxRecord(uvSet.auxRecords[k], written.auxRecords[k]);
        }
    }
    expectSentinelBone(*plugin);
}

INSTANTIATE_TEST_SUITE_P(Versions, UVSetLayout, ::testing::Values(30, 31, 32, 33));

class UVSetEmptySection : public ::testing::TestWithParam<int32_t> {};

TEST_P(UVSetEmptySection, LeavesTwoEmptyDefaultSets) {
    KvtModel model;
    model.version = 30;
    model.vertices = {sentinelVertex()};
    KvtWriteOptions options;
    options.sectionCounts[kvtSectionIndex(KvtSection::kUVSets)] = GetParam();
    const auto plugin = loaded(model, options);
    const ModelData& data = plugin->model;
    ASSERT_EQ(data.uvSets.count, GetParam() == 0 ? 2 : 0);
    for (std::size_t i = 0; i < data.uvSets.items.size(); ++i) {
        EXPECT_EQ(data.uvSets.items[i].name.narrow(), "UVSet" + std::to_string(i + 1));
        EXPECT_EQ(data.uvSets.items[i].coordCount, 0);
        EXPECT_TRUE(data.uvSets.items[i].coords.empty());
        EXPECT_EQ(data.uvSets.items[i].auxCount, 0);
    }
}

// A zero count gets the two default sets; a negative count is declared and so gets none.
INSTANTIATE_TEST_SUITE_P(Counts, UVSetEmptySection, ::testing::Values(0, -1));

TEST(UVSetSection, NegativeCoordinateAndAuxCountsAreEmpty) {
    KvtModel model;
    model.version = 31;
    KvtUVSet set;
    set.name = "Odd";
    set.coordCount = -4;
    set.auxCount = -1;
    KvtUVSet after;
    after.name = "After";
    after.coords = {{3, 0.5f, 0.25f}};
    model.uvSets = {set, after};
    model.vertices = {sentinelVertex()};
    const auto plugin = loaded(model);
    const ModelData& data = plugin->model;
    ASSERT_EQ(data.uvSets.count, 2);
    EXPECT_EQ(data.uvSets.items[0].coordCount, 0);
    EXPECT_TRUE(data.uvSets.items[0].coords.empty());
    EXPECT_EQ(data.uvSets.items[0].auxCount, 0);
    EXPECT_TRUE(data.uvSets.items[0].auxRecords.empty());
    EXPECT_EQ(data.uvSets.items[1].name.narrow(), "After");
    ASSERT_EQ(data.uvSets.items[1].coords.size(), 1u);
    EXPECT_EQ(data.uvSets.items[1].coords[0], (UVCoord{3, 0.5f, 0.25f}));
}

class UVSetTruncation : public ::testing::TestWithParam<int32_t> {};

TEST_P(UVSetTruncation, EveryCutInsideTheSectionFails) {
    KvtModel model;
    model.version = GetParam();
    KvtUVSet set;
    set.name = "Diffuse";
    set.coords = {{1, 0.5f, 0.5f}, {2, 0.25f, 0.75f}};
    set.auxRecords = {auxRecord(3)};
    model.uvSets = {set, KvtUVSet{"Second"}};
    model.vertices = {sentinelVertex()};
    expectEveryCutInsideFails(model, KvtSection::kUVSets, KvtSection::kMeshes);
}

INSTANTIATE_TEST_SUITE_P(Versions, UVSetTruncation, ::testing::Values(30, 32));

}  // namespace
}  // namespace quillmesh
