// The bone and animation sections, decoded from files made by the test writer: the old and new
// bone layouts with the scale from version 9, animations with their tracks and keys, tracks
// beyond the bones, animations without bones, and truncation inside each section.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
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
using sectiontest::loaded;
using sectiontest::loadExact;
using sectiontest::sectionOffset;
using testsupport::KvtAnimation;
using testsupport::KvtBone;
using testsupport::KvtBytes;
using testsupport::KvtImage;
using testsupport::KvtModel;
using testsupport::KvtName;
using testsupport::KvtPositionKey;
using testsupport::KvtRotationKey;
using testsupport::KvtScaleKey;
using testsupport::KvtSection;
using testsupport::kvtSectionIndex;
using testsupport::KvtTrack;
using testsupport::KvtTransform;
using testsupport::KvtWriteOptions;
using testsupport::writeKvt;
using testsupport::writeKvtImage;

void expectEmptyModel(const KVTPlugin& plugin) {
    const ModelData& model = plugin.model;
    EXPECT_EQ(model.groups.count, 0);
    EXPECT_EQ(model.vertices.count, 0);
    EXPECT_EQ(model.uvSets.count, 0);
    EXPECT_EQ(model.meshes.count, 0);
    EXPECT_EQ(model.bones.count, 0);
    EXPECT_TRUE(model.bones.items.empty());
    EXPECT_EQ(model.animations.count, 0);
    EXPECT_TRUE(model.animations.items.empty());
}

// Every cut that ends inside the section from `from` to `to` (the file's end when `to` is
// unset) fails and leaves an empty model, even after a successful load.
void expectEveryCutInsideFails(const KvtModel& model, KvtSection section,
                               std::optional<KvtSection> next) {
    sectiontest::expectEveryCutInsideFails(model, section, next, expectEmptyModel);
}

Vec3 vec3(const std::array<float, 3>& v) {
    return {v[0], v[1], v[2]};
}

Quaternion quaternion(const std::array<float, 4>& q) {
    return {q[0], q[1], q[2], q[3]};
}

NodeTransform asNodeTransform(const KvtTransform& t) {
    NodeTransform out;
    out.xAxis = vec3(t.xAxis);
    out.yAxis = vec3(t.yAxis);
    out.zAxis = vec3(t.zAxis);
    out.position = vec3(t.position);
    out.scale = vec3(t.scale);
    std::copy(t.matrix.begin(), t.matrix.end(), out.matrix.begin());
    out.rotation = quaternion(t.rotation);
    out.eulerAngles = vec3(t.eulerAngles);
    return out;
}

KvtTrack trackWithKeys(float base) {
    KvtTrack track;
    track.positionKeys = {{base, {base + 1, base + 2, base + 3}},
                          {base + 0.5f, {base + 4, base + 5, base + 6}}};
    track.rotationKeys = {{base + 1, {base + 7, base + 8, base + 9, base + 10}}};
    track.scaleKeys = {{base + 2, {base + 11, base + 12, base + 13}},
                       {base + 3, {base + 14, base + 15, base + 16}},
                       {base + 4, {base + 17, base + 18, base + 19}}};
    return track;
}

void expectTrack(const BoneTrack& track, const KvtTrack& written) {
    ASSERT_EQ(track.positionKeyCount, static_cast<int32_t>(written.positionKeys.size()));
    ASSERT_EQ(track.positionKeys.size(), written.positionKeys.size());
    for (std::size_t k = 0; k < written.positionKeys.size(); ++k) {
        EXPECT_EQ(track.positionKeys[k].time, written.positionKeys[k].time);
        EXPECT_EQ(track.positionKeys[k].value, vec3(written.positionKeys[k].value));
    }
    ASSERT_EQ(track.rotationKeyCount, static_cast<int32_t>(written.rotationKeys.size()));
    ASSERT_EQ(track.rotationKeys.size(), written.rotationKeys.size());
    for (std::size_t k = 0; k < written.rotationKeys.size(); ++k) {
        EXPECT_EQ(track.rotationKeys[k].time, written.rotationKeys[k].time);
        EXPECT_EQ(track.rotationKeys[k].value, quaternion(written.rotationKeys[k].value));
    }
    ASSERT_EQ(track.scaleKeyCount, static_cast<int32_t>(written.scaleKeys.size()));
    ASSERT_EQ(track.scaleKeys.size(), written.scaleKeys.size());
    for (std::size_t k = 0; k < written.scaleKeys.size(); ++k) {
        EXPECT_EQ(track.scaleKeys[k].time, written.scaleKeys[k].time);
        EXPECT_EQ(track.scaleKeys[k].value, vec3(written.scaleKeys[k].value));
    }
}

void expectNoKeys(const BoneTrack& track) {
    EXPECT_EQ(track.positionKeyCount, 0);
    EXPECT_TRUE(track.positionKeys.empty());
    EXPECT_EQ(track.rotationKeyCount, 0);
    EXPECT_TRUE(track.rotationKeys.empty());
    EXPECT_EQ(track.scaleKeyCount, 0);
    EXPECT_TRUE(track.scaleKeys.empty());
}

// The animation after the section or record under test: a record read too long or too short
// shows up in it.
KvtAnimation sentinelAnimation() {
    KvtAnimation animation;
    animation.name = "Sentinel";
    animation.tag = 606;
    animation.start = 1.5f;
    animation.end = 99.25f;
    animation.rate = 24.0f;
    return animation;
}

void expectSentinelAnimation(const ModelAnimation& animation) {
    EXPECT_EQ(animation.name.narrow(), "Sentinel");
    EXPECT_EQ(animation.animTag, 606);
    EXPECT_EQ(animation.animStart, 1.5f);
    EXPECT_EQ(animation.animEnd, 99.25f);
    EXPECT_EQ(animation.animRate, 24.0f);
    EXPECT_EQ(animation.trackCount, 0);
}

// --- Bones --------------------------------------------------------------------------------------

struct BoneCase {
    int32_t version;
    bool newLayout;
    bool storesScale;
};

class BoneLayout : public ::testing::TestWithParam<BoneCase> {};

TEST_P(BoneLayout, StoresWhatTheVersionsRecordHolds) {
    const BoneCase param = GetParam();
    KvtModel model;
    model.version = param.version;
    KvtBone root;
    root.name = "Root";
    root.boneLink = -1;
    root.transform = distinctTransform(100);
    root.colour = {0.5f, 0.25f, 0.125f, 1.0f};
    KvtBone child;
    child.name = "Child";
    child.boneLink = 0;
    child.transform = distinctTransform(-200);
    child.colour = {1.0f, 0.0f, 0.0f, 0.5f};
    model.bones = {root, child};
    model.animations = {sentinelAnimation()};

    const KvtImage image = writeKvtImage(model);
    const auto plugin = loaded(model);
    const ModelData& data = plugin->model;
    ASSERT_EQ(data.bones.count, 2);
    EXPECT_EQ(data.bones.items[0].name.narrow(), "Root");
    EXPECT_EQ(data.bones.items[1].name.narrow(), "Child");
    for (std::size_t i = 0; i < 2; ++i) {
        const ModelBone& bone = data.bones.items[i];
        const KvtBone& written = model.bones[i];
        EXPECT_EQ(bone.boneLink, written.boneLink);
        EXPECT_EQ(bone.colour, (Rgba{written.colour[0], written.colour[1], written.colour[2],
                                     written.colour[3]}));
        NodeTransform expected = asNodeTransform(written.transform);
        if (!param.newLayout) {
            // Position, rotation and (from version 9) scale; the rest is the identity.
            expected = identityTransform();
            expected.position = vec3(written.transform.position);
            expected.rotation = quaternion(written.transform.rotation);
            if (param.storesScale) {
                expected.scale = vec3(written.transform.scale);
            }
        }
        EXPECT_EQ(bone.transform, expected) << "bone " << i;
    }
    ASSERT_EQ(data.animations.count, 1);
    expectSentinelAnimation(data.animations.items[0]);
}

INSTANTIATE_TEST_SUITE_P(Versions, BoneLayout,
                         ::testing::Values(BoneCase{6, false, false}, BoneCase{8, false, false},
                                           BoneCase{9, false, true}, BoneCase{10, false, true},
                                           BoneCase{29, false, true}, BoneCase{30, true, true},
                                           BoneCase{32, true, true}, BoneCase{33, true, true}));

TEST(BoneSection, NegativeCountIsAnEmptySection) {
    KvtModel model;
    model.version = 30;
    model.animations = {sentinelAnimation()};
    KvtWriteOptions options;
    options.sectionCounts[kvtSectionIndex(KvtSection::kBones)] = -2;
    const auto plugin = loaded(model, options);
    EXPECT_EQ(plugin->model.bones.count, 0);
    ASSERT_EQ(plugin->model.animations.count, 1);
    EXPECT_TRUE(plugin->model.animations.items[0].tracks.empty());
    expectSentinelAnimation(plugin->model.animations.items[0]);
}

class BoneTruncation : public ::testing::TestWithParam<int32_t> {};

TEST_P(BoneTruncation, EveryCutInsideTheSectionFails) {
    KvtModel model;
    model.version = GetParam();
    KvtBone bone;
    bone.name = "Root";
    bone.transform = distinctTransform(1);
    model.bones = {bone, KvtBone{"Leaf"}};
    model.animations = {sentinelAnimation()};
    expectEveryCutInsideFails(model, KvtSection::kBones, KvtSection::kAnimations);
}

INSTANTIATE_TEST_SUITE_P(Versions, BoneTruncation, ::testing::Values(8, 9, 10, 29, 30, 32));

// --- Animations ---------------------------------------------------------------------------------

class AnimationLayout : public ::testing::TestWithParam<int32_t> {};

TEST_P(AnimationLayout, TracksAndKeysInBoneOrder) {
    KvtModel model;
    model.version = GetParam();
    model.bones = {KvtBone{"Hip"}, KvtBone{"Knee"}};
    KvtAnimation walk;
    walk.name = "Walk";
    walk.tag = -4;
    walk.start = 2.0f;
    walk.end = 48.0f;
    walk.rate = 25.0f;
    walk.tracks = {trackWithKeys(10), trackWithKeys(-50)};
    KvtAnimation still;
    still.name = "Still";
    model.animations = {walk, still, sentinelAnimation()};

    const KvtImage image = writeKvtImage(model);
    const auto plugin = loaded(model);
    const ModelData& data = plugin->model;
    ASSERT_EQ(data.animations.count, 3);
    const ModelAnimation& first = data.animations.items[0];
    EXPECT_EQ(first.name.narrow(), "Walk");
    EXPECT_EQ(first.animTag, -4);
    EXPECT_EQ(first.animStart, 2.0f);
    EXPECT_EQ(first.animEnd, 48.0f);
    EXPECT_EQ(first.animRate, 25.0f);
    EXPECT_EQ(first.trackCount, 2);
    ASSERT_EQ(first.tracks.size(), 2u);
    expectTrack(first.tracks[0], walk.tracks[0]);
    expectTrack(first.tracks[1], walk.tracks[1]);
    // No tracks in the file: trackCount 0, and each bone's track is empty.
    const ModelAnimation& second = data.animations.items[1];
    EXPECT_EQ(second.name.narrow(), "Still");
    EXPECT_EQ(second.trackCount, 0);
    expectNoKeys(second.trackOf(0));
    expectNoKeys(second.trackOf(1));
    expectSentinelAnimation(data.animations.items[2]);
}

INSTANTIATE_TEST_SUITE_P(Versions, AnimationLayout, ::testing::Values(6, 9, 10, 29, 30, 32, 33));

struct TrackCountCase {
    int32_t bones;
    int32_t tracks;
    int32_t expectedTrackCount;
};

// Tracks exist for the bones only: the file's tracks beyond them are read and dropped, and
// trackCount never counts more tracks than exist.
class AnimationTrackCount : public ::testing::TestWithParam<TrackCountCase> {};

TEST_P(AnimationTrackCount, KeepsTheTracksThatExistAndReadsTheRest) {
    const TrackCountCase param = GetParam();
    for (const int32_t version : {29, 30}) {
        KvtModel model;
        model.version = version;
        for (int32_t b = 0; b < param.bones; ++b) {
            model.bones.push_back(KvtBone{KvtName(std::string("Bone") + std::to_string(b))});
        }
        KvtAnimation animation;
        animation.name = "Run";
        for (int32_t t = 0; t < param.tracks; ++t) {
            animation.tracks.push_back(trackWithKeys(100.0f * static_cast<float>(t)));
        }
        model.animations = {animation, sentinelAnimation()};

        const auto plugin = loaded(model);
        const ModelData& data = plugin->model;
        ASSERT_EQ(data.animations.count, 2) << version;
        const ModelAnimation& loadedAnimation = data.animations.items[0];
        EXPECT_EQ(loadedAnimation.name.narrow(), "Run");
        EXPECT_EQ(loadedAnimation.trackCount, param.expectedTrackCount) << version;
        EXPECT_LE(loadedAnimation.trackCount, static_cast<int32_t>(loadedAnimation.tracks.size()));
        for (std::size_t t = 0; t < static_cast<std::size_t>(param.bones); ++t) {
            if (t < animation.tracks.size()) {
                expectTrack(loadedAnimation.trackOf(t), animation.tracks[t]);
            } else {
                expectNoKeys(loadedAnimation.trackOf(t));
            }
        }
        // Tracks beyond the bones are not kept.
        expectNoKeys(loadedAnimation.trackOf(static_cast<std::size_t>(param.bones)));
        expectSentinelAnimation(data.animations.items[1]);
    }
}

INSTANTIATE_TEST_SUITE_P(BonesAndTracks, AnimationTrackCount,
                         ::testing::Values(TrackCountCase{2, 2, 2}, TrackCountCase{3, 1, 1},
                                           TrackCountCase{2, 4, 2}, TrackCountCase{1, 3, 1},
                                           TrackCountCase{0, 2, 0}, TrackCountCase{0, 0, 0}));

TEST(AnimationSection, AnimationsWithoutBonesLoadOnTheirOwn) {
    // Animations alone declare enough for a model; they get no tracks, and the tracks the file
    // holds are read past.
    KvtModel model;
    model.version = 33;
    KvtAnimation animation;
    animation.name = KvtName(u"Spin\u00E9");
    animation.tracks = {trackWithKeys(1), trackWithKeys(2)};
    model.animations = {animation, sentinelAnimation()};
    const auto plugin = loaded(model);
    const ModelData& data = plugin->model;
    EXPECT_EQ(data.bones.count, 0);
    ASSERT_EQ(data.animations.count, 2);
    EXPECT_TRUE(data.animations.items[0].name.wide() == u"Spin\u00E9");
    EXPECT_EQ(data.animations.items[0].trackCount, 0);
    EXPECT_TRUE(data.animations.items[0].tracks.empty());
    expectSentinelAnimation(data.animations.items[1]);
}

TEST(AnimationSection, NegativeTrackAndKeyCountsMeanNone) {
    KvtModel model;
    model.version = 30;
    model.bones = {KvtBone{"Hip"}, KvtBone{"Knee"}};
    KvtAnimation negativeTracks;
    negativeTracks.name = "NoTracks";
    negativeTracks.trackCount = -3;
    KvtAnimation negativeKeys;
    negativeKeys.name = "NoKeys";
    KvtTrack track;
    track.positionKeyCount = -1;
    track.rotationKeyCount = -2147483647 - 1;
    track.scaleKeys = {{5.0f, {2, 2, 2}}};
    negativeKeys.tracks = {track};
    model.animations = {negativeTracks, negativeKeys, sentinelAnimation()};

    const auto plugin = loaded(model);
    const ModelData& data = plugin->model;
    ASSERT_EQ(data.animations.count, 3);
    EXPECT_EQ(data.animations.items[0].trackCount, 0);
    expectNoKeys(data.animations.items[0].trackOf(0));
    const ModelAnimation& second = data.animations.items[1];
    EXPECT_EQ(second.trackCount, 1);
    expectNoKeys(second.trackOf(1));
    ASSERT_EQ(second.tracks.size(), 1u);
    EXPECT_EQ(second.tracks[0].positionKeyCount, 0);
    EXPECT_TRUE(second.tracks[0].positionKeys.empty());
    EXPECT_EQ(second.tracks[0].rotationKeyCount, 0);
    ASSERT_EQ(second.tracks[0].scaleKeys.size(), 1u);
    EXPECT_EQ(second.tracks[0].scaleKeys[0].time, 5.0f);
    EXPECT_EQ(second.tracks[0].scaleKeys[0].value, (Vec3{2, 2, 2}));
    expectSentinelAnimation(data.animations.items[2]);
}

TEST(AnimationSection, EmptySectionLeavesNoAnimations) {
    for (const int32_t count : {0, -1}) {
        KvtModel model;
        model.version = 29;
        model.bones = {KvtBone{"Hip"}};
        KvtWriteOptions options;
        options.sectionCounts[kvtSectionIndex(KvtSection::kAnimations)] = count;
        const auto plugin = loaded(model, options);
        EXPECT_EQ(plugin->model.animations.count, 0) << count;
        EXPECT_TRUE(plugin->model.animations.items.empty());
    }
}

struct AnimationTruncationCase {
    int32_t version;
    int32_t bones;
};

class AnimationTruncation : public ::testing::TestWithParam<AnimationTruncationCase> {};

TEST_P(AnimationTruncation, EveryCutInsideTheSectionFails) {
    KvtModel model;
    model.version = GetParam().version;
    for (int32_t b = 0; b < GetParam().bones; ++b) {
        model.bones.push_back(KvtBone{KvtName(std::string("Bone") + std::to_string(b))});
    }
    KvtAnimation animation;
    animation.name = "Walk";
    animation.tracks = {trackWithKeys(1), KvtTrack{}, trackWithKeys(3)};
    model.animations = {animation, sentinelAnimation()};
    expectEveryCutInsideFails(model, KvtSection::kAnimations, std::nullopt);
}

INSTANTIATE_TEST_SUITE_P(VersionsAndBones, AnimationTruncation,
                         ::testing::Values(AnimationTruncationCase{6, 2},
                                           AnimationTruncationCase{29, 3},
                                           AnimationTruncationCase{30, 0},
                                           AnimationTruncationCase{33, 3}));

}  // namespace
}  // namespace quillmesh
