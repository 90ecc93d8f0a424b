// Sections 9 and 10 of a ModelFile body: bones and animations.
//
// Bones: the name, boneLink, the transform and the colour. From version 30 the whole 152-byte
// transform is stored; below it only position, rotation and (from version 9) scale, the rest of
// the transform being the identity.
//
// Animations: the name, animTag, start, end and rate, the track count, then that many tracks of
// position, rotation and scale keys, stored as read. Every animation has one track per bone; it
// holds only the tracks the file stores for existing bones (fitBoneTracks), the others being
// empty, so that many bones and animations without keys cost nothing.
#include <algorithm>

#include "model/sections.h"

namespace quillmesh {
namespace {

// Old-layout bones store their scale from this version on.
constexpr int32_t kBoneScaleVersion = 9;

constexpr std::size_t kOldBoneBytes = 2 + 4 + 12 + 16 + 16;
constexpr std::size_t kNewBoneBytes = 2 + 4 + kNodeTransformBytes + 16;
constexpr std::size_t kAnimationBytes = 2 + 4 + 12 + 4;
constexpr std::size_t kTrackBytes = 12;
// File size of one key of each kind.
constexpr std::size_t kPositionKeyBytes = 16;
constexpr std::size_t kRotationKeyBytes = 20;
constexpr std::size_t kScaleKeyBytes = 16;

bool readBone(Cursor& cursor, const SectionFormat& format, ModelBone& bone) {
    if (!cursor.readName(bone.name, format.wideNames()) || !cursor.readI32(bone.boneLink)) {
        return false;
    }
    NodeTransform& transform = bone.transform;
    if (format.newLayout()) {
        if (!cursor.readTransform(transform)) {
            return false;
        }
    } else {
        transform = identityTransform();
        if (!cursor.readVec3(transform.position) || !cursor.readQuaternion(transform.rotation) ||
            (format.version >= kBoneScaleVersion && !cursor.readVec3(transform.scale))) {
            return false;
        }
    }
    return cursor.readRgba(bone.colour);
}

bool readKey(Cursor& cursor, PositionKey& key) {
    return cursor.readF32(key.time) && cursor.readVec3(key.value);
}

bool readKey(Cursor& cursor, RotationKey& key) {
    return cursor.readF32(key.time) && cursor.readQuaternion(key.value);
}

bool readKey(Cursor& cursor, ScaleKey& key) {
    return cursor.readF32(key.time) && cursor.readVec3(key.value);
}

// One key list of a track: the count, then the keys.
template <typename Key>
bool readKeyList(Cursor& cursor, const SectionFormat& format, std::vector<Key>& keys,
                 int32_t& keyCount, std::size_t keyBytes) {
    int32_t count = 0;
    if (!cursor.readI32(count) || !reserveFor(cursor, format, keys, count, keyBytes)) {
        return false;
    }
    for (int32_t j = 0; j < count; ++j) {
        if (!readKey(cursor, keys.emplace_back())) {
            return false;
        }
    }
    keyCount = std::max(count, 0);
    return true;
}

bool readAnimation(Cursor& cursor, const SectionFormat& format, ModelAnimation& animation) {
    int32_t trackCount = 0;
    if (!cursor.readName(animation.name, format.wideNames()) ||
        !cursor.readI32(animation.animTag) || !cursor.readF32(animation.animStart) ||
        !cursor.readF32(animation.animEnd) || !cursor.readF32(animation.animRate) ||
        !cursor.readI32(trackCount) ||
        !reserveFor(cursor, format, animation.tracks, trackCount, kTrackBytes)) {
        return false;
    }
    for (int32_t j = 0; j < trackCount; ++j) {
        BoneTrack& track = animation.tracks.emplace_back();
        if (!readKeyList(cursor, format, track.positionKeys, track.positionKeyCount,
                         kPositionKeyBytes) ||
            !readKeyList(cursor, format, track.rotationKeys, track.rotationKeyCount,
                         kRotationKeyBytes) ||
            !readKeyList(cursor, format, track.scaleKeys, track.scaleKeyCount, kScaleKeyBytes)) {
            return false;
        }
    }
    animation.trackCount = std::max(trackCount, 0);
    return true;
}

}  // namespace

bool readBones(Cursor& cursor, const SectionFormat& format, ModelData& model,
               DeclaredCounts& declared) {
    return readSection(cursor, format, format.newLayout() ? kNewBoneBytes : kOldBoneBytes,
                       model.bones, declared.bones, [&format](Cursor& c, ModelBone& bone, int32_t) {
                           return readBone(c, format, bone);
                       });
}

bool readAnimations(Cursor& cursor, const SectionFormat& format, ModelData& model,
                    DeclaredCounts& declared) {
    return readSection(cursor, format, kAnimationBytes, model.animations, declared.animations,
                       [&format](Cursor& c, ModelAnimation& animation, int32_t) {
                           return readAnimation(c, format, animation);
                       });
}

void fitBoneTracks(ModelData& model) {
    const std::size_t bones = model.bones.items.size();
    for (ModelAnimation& animation : model.animations.items) {
        const std::size_t kept = std::min(animation.tracks.size(), bones);
        animation.tracks.resize(kept);
        animation.trackCount = static_cast<int32_t>(
            std::min(static_cast<std::size_t>(std::max(animation.trackCount, 0)), kept));
        if (kept == 0) {
            std::vector<BoneTrack>().swap(animation.tracks);
        }
    }
}

}  // namespace quillmesh
