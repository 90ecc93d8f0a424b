// Sections 9 and 10 of a classic ModelFile body: bones and animations.
//
// Each section has one record reader that both passes use: the counting pass hands it a scratch
// record and lets it allocate nothing, the decoding pass hands it the element the allocation step
// made.
//
// Bones: the name, boneLink, the transform and the colour. From version 30 the whole 152-byte
// transform is stored; below it only position, rotation and (from version 9) scale, the rest of
// the transform being the identity.
//
// Animations: the name, animTag, start, end and rate, the track count, then that many tracks of
// position, rotation and scale keys. The allocation step gave every animation one track per bone;
// tracks the file announces beyond those are read and dropped, so trackCount never exceeds the
// tracks that exist (and a count of 0 or less means no tracks). Keys are stored as read.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "model/section_walk.h"
#include "model/sections.h"

namespace quillmesh {
namespace {

// Old-layout bones store their scale from this version on.
constexpr int32_t kBoneScaleVersion = 9;

// File size of one key of each kind: keys are allocated only when the bytes left can hold all the
// keys announced.
constexpr uint32_t kPositionKeyBytes = 16;
constexpr uint32_t kRotationKeyBytes = 20;
constexpr uint32_t kScaleKeyBytes = 16;

// Bone record. The whole bone is replaced only once every field has been read.
bool readBoneRecord(KVTPlugin& plugin, ModelBone& bone) noexcept {
    const int32_t version = plugin.model.version;
    ModelName name;
    int32_t boneLink = 0;
    NodeTransform transform = identityTransform();
    Rgba colour;
    if (!plugin.readName(name) || !plugin.readInt32(boneLink)) {
        return false;
    }
    if (version >= kNewLayoutVersion) {
        if (!plugin.readTransform(transform)) {
            return false;
        }
    } else if (!plugin.readVec3(transform.position) || !plugin.readQuaternion(transform.rotation) ||
               (version >= kBoneScaleVersion && !plugin.readVec3(transform.scale))) {
        return false;
    }
    if (!plugin.readRgba(colour)) {
        return false;
    }
    bone.name = name;
    bone.boneLink = boneLink;
    bone.transform = transform;
    bone.colour = colour;
    return true;
}

bool readKey(KVTPlugin& plugin, PositionKey& key) noexcept {
    return plugin.readFloat32(key.time) && plugin.readVec3(key.value);
}

bool readKey(KVTPlugin& plugin, RotationKey& key) noexcept {
    return plugin.readFloat32(key.time) && plugin.readQuaternion(key.value);
}

bool readKey(KVTPlugin& plugin, ScaleKey& key) noexcept {
    return plugin.readFloat32(key.time) && plugin.readVec3(key.value);
}

// One key list of a track: the count, then the keys. With `allocate` the track first gets the
// announced number of keys through `allocateKeys`; otherwise the keys are read and dropped.
template <typename Key>
bool readKeyList(KVTPlugin& plugin, BoneTrack& track, std::vector<Key>& keys, uint32_t keyBytes,
                 bool (*allocateKeys)(BoneTrack&, int32_t) noexcept, bool allocate) noexcept {
    int32_t keyCount = 0;
    if (!plugin.readInt32(keyCount)) {
        return false;
    }
    if (allocate && keyCount > 0) {
        if (!plugin.recordsFit(keyCount, keyBytes) || !allocateKeys(track, keyCount)) {
            return false;
        }
    }
    for (int32_t j = 0; j < keyCount; ++j) {
        Key key;
        if (!readKey(plugin, key)) {
            return false;
        }
        const auto index = static_cast<std::size_t>(j);
        if (index < keys.size()) {
            keys[index] = key;
        }
    }
    return true;
}

bool readTrackRecord(KVTPlugin& plugin, BoneTrack& track, bool allocate) noexcept {
    return readKeyList(plugin, track, track.positionKeys, kPositionKeyBytes, allocatePositionKeys,
                       allocate) &&
           readKeyList(plugin, track, track.rotationKeys, kRotationKeyBytes, allocateRotationKeys,
                       allocate) &&
           readKeyList(plugin, track, track.scaleKeys, kScaleKeyBytes, allocateScaleKeys, allocate);
}

// Animation record. Tracks beyond the animation's allocated tracks (every track, in the counting
// pass) are read into a scratch track and dropped.
bool readAnimationRecord(KVTPlugin& plugin, ModelAnimation& animation, RecordPass pass) noexcept {
    ModelName name;
    int32_t tag = 0;
    float start = 0.0f;
    float end = 0.0f;
    float rate = 0.0f;
    int32_t trackCount = 0;
    if (!plugin.readName(name) || !plugin.readInt32(tag) || !plugin.readFloat32(start) ||
        !plugin.readFloat32(end) || !plugin.readFloat32(rate) || !plugin.readInt32(trackCount)) {
        return false;
    }
    animation.name = name;
    animation.animTag = tag;
    animation.animStart = start;
    animation.animEnd = end;
    animation.animRate = rate;
    const std::size_t existingTracks = animation.tracks.size();
    const auto announcedTracks = static_cast<std::size_t>(std::max(trackCount, 0));
    animation.trackCount = static_cast<int32_t>(std::min(announcedTracks, existingTracks));

    BoneTrack scratch;
    for (int32_t j = 0; j < trackCount; ++j) {
        const auto index = static_cast<std::size_t>(j);
        const bool inArray = pass == RecordPass::kDecode && index < existingTracks;
        BoneTrack& track = inArray ? animation.tracks[index] : scratch;
        if (!readTrackRecord(plugin, track, inArray)) {
            return false;
        }
    }
    return true;
}

}  // namespace

bool countBones(KVTPlugin& plugin, const ModelHeader&) {
    return countSection(
        plugin, plugin.model.bones, SectionId::kBones,
        [&plugin](ModelBone& bone, RecordPass) { return readBoneRecord(plugin, bone); });
}

bool decodeBones(KVTPlugin& plugin, const ModelHeader&) {
    return decodeSection(plugin, plugin.model.bones, [&plugin](ModelBone& bone, RecordPass) {
        return readBoneRecord(plugin, bone);
    });
}

bool countAnimations(KVTPlugin& plugin, const ModelHeader&) {
    return countSection(plugin, plugin.model.animations, SectionId::kAnimations,
                        [&plugin](ModelAnimation& animation, RecordPass pass) {
                            return readAnimationRecord(plugin, animation, pass);
                        });
}

bool decodeAnimations(KVTPlugin& plugin, const ModelHeader&) {
    return decodeSection(plugin, plugin.model.animations,
                         [&plugin](ModelAnimation& animation, RecordPass pass) {
                             return readAnimationRecord(plugin, animation, pass);
                         });
}

}  // namespace quillmesh
