// KVTPlugin: the ModelFile reader and the model it loads.
//
// loadModel reads a ModelFile whole, checks its header, decompresses a compressed body, walks
// the ten sections once to count their records (countSections), allocates the element arrays
// with their defaults (allocateSections), and walks them again to fill the arrays
// (decodeSections). The file image lives only for the length of one load; the model stays until
// the next load, clearModel or destruction.
//
// Safe for untrusted input: every read goes through the cursor primitives, which check the bytes
// left before reading and never move the cursor on failure; every allocation whose size the file
// decides is bounded by what the file could describe. Indices between elements (vertex,
// material, bone, UV) are stored as read, unchecked. Nothing here throws: operations report
// through their results (1 or true for success, 0 or false for failure; loadModel a LoadResult).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "model/model_name.h"
#include "model/model_records.h"

namespace quillmesh {

// LoadResult values.
inline constexpr int kLoadSucceeded = 1;
inline constexpr int kLoadFailed = 0;
inline constexpr int kLoadBadMagic = -5;
inline constexpr int kLoadUnsupportedVersion = -6;
inline constexpr int kLoadLengthMismatch = -7;
inline constexpr int kLoadCannotOpen = -8;

// "KVTH" read as a little-endian word.
inline constexpr uint32_t kModelMagic = 0x4854564B;

// File versions.
inline constexpr uint32_t kMinimumModelVersion = 6;
// From here on the header has 32 words (below, 24).
inline constexpr uint32_t kLongHeaderVersion = 30;
// From here on files are chunked and read by the chunked reader.
inline constexpr uint32_t kChunkedModelVersion = 34;
// Record layouts: lights, cameras, groups, meshes and bones use their new layouts from this
// version on, and the aux-record and UV-set sections are present.
inline constexpr int32_t kNewLayoutVersion = 30;
// Texture-map entries of materials use their new layout from this version on.
inline constexpr int32_t kNewMapLayoutVersion = 31;
// Names are UTF-16LE from this version on, and in version 10; 8-bit text otherwise.
inline constexpr int32_t kWideNameVersion = 32;
inline constexpr int32_t kWideNameExceptionVersion = 10;

// Header flags.
inline constexpr uint32_t kFlagVertexNormals = 0x1;
inline constexpr uint32_t kFlagVertexColours = 0x2;
inline constexpr uint32_t kFlagCompressed = 0x10;

inline constexpr std::size_t kHeaderImageWords = 32;
inline constexpr std::size_t kShortHeaderWords = 24;

// The 32-word header image; a short (version below 30) header fills words 0 to 13 and 18 to 27.
struct ModelHeader {
    std::array<uint32_t, kHeaderImageWords> words{};

    uint32_t magic() const noexcept { return words[0]; }
    uint32_t version() const noexcept { return words[1]; }
    uint32_t flags() const noexcept { return words[2]; }
    // Of the whole file, or of the decompressed image in a compressed file's outer header.
    uint32_t totalLength() const noexcept { return words[3]; }
    // Compressed files: offset of the zlib stream from the start of the file.
    uint32_t streamOffset() const noexcept { return words[5]; }
    int32_t nameListCount() const noexcept { return static_cast<int32_t>(words[24]); }
    bool hasFlag(uint32_t flag) const noexcept { return (flags() & flag) != 0; }
};

// The sections in file order; indices into ModelData::declaredCounts.
enum class SectionId : std::size_t {
    kLights,
    kCameras,
    kMaterials,
    kGroups,
    kVertices,
    kAuxRecords,
    kUVSets,
    kMeshes,
    kBones,
    kAnimations,
};
inline constexpr std::size_t kSectionCount = 10;

// One element array: `items` holds exactly `count` elements. `sectionStart` is the body offset
// of the section's count word, recorded by the counting pass.
template <typename T>
struct ElementSlot {
    int32_t count = 0;
    uint32_t sectionStart = 0;
    std::vector<T> items;

    // Releases the array and everything its elements own; sectionStart keeps its value.
    void release() noexcept {
        std::vector<T>().swap(items);
        count = 0;
    }
    bool exists() const noexcept { return !items.empty(); }
};

struct ModelData {
    // Version of the loaded file (the inner header's for a compressed file); every decoder
    // chooses its layout by it.
    int32_t version = 0;
    ElementSlot<ModelLight> lights;
    ElementSlot<ModelCamera> cameras;
    ElementSlot<ModelMaterial> materials;
    ElementSlot<ModelGroup> groups;
    ElementSlot<ModelVertex> vertices;
    ElementSlot<AuxRecord> auxRecords;
    ElementSlot<UVSet> uvSets;
    // Sum of the polygon corner counts found by the counting pass.
    int32_t cornerTotal = 0;
    ElementSlot<ModelMesh> meshes;
    ElementSlot<ModelBone> bones;
    ElementSlot<ModelAnimation> animations;
    // Record counts found by the counting pass, in SectionId order.
    std::array<int32_t, kSectionCount> declaredCounts{};
    int32_t nameListCount = 0;
    // Version-34 embedded files, until the resolve stage writes them.
    std::vector<EmbeddedFile> embeddedFiles;

    int32_t& declaredCount(SectionId section) noexcept {
        return declaredCounts[static_cast<std::size_t>(section)];
    }
    int32_t declaredCount(SectionId section) const noexcept {
        return declaredCounts[static_cast<std::size_t>(section)];
    }

    // Releases every array with everything it owns and zeroes every count, declared count,
    // nameListCount and cornerTotal. version and the sectionStart values keep their values.
    void clearModel() noexcept;
};

class KVTPlugin {
  public:
    // Longest source path, in UTF-16 units.
    static constexpr std::size_t kSourcePathMaxLength = 259;
    static constexpr std::size_t kSettingCount = 13;

    KVTPlugin() noexcept;
    virtual ~KVTPlugin();
    KVTPlugin(const KVTPlugin&) = delete;
    KVTPlugin& operator=(const KVTPlugin&) = delete;

    // Loads the ModelFile at `path` (at most kSourcePathMaxLength units; a longer or null path
    // gives kLoadCannotOpen). Returns a LoadResult. On any result but kLoadSucceeded the model
    // is empty; no file image is held afterwards either way.
    int loadModel(const char16_t* path) noexcept;
    // The same load on a copy of `bytes`, as if read from a file at `sourcePath`.
    int loadModelFromMemory(std::span<const uint8_t> bytes,
                            const std::u16string& sourcePath) noexcept;

    // Replaces any held image by a copy of `bytes` with the cursor at 0, for running single
    // passes or primitives on bytes in memory; the model is left as it is. False (and no image
    // held) when the bytes do not fit a 32-bit length or memory runs out.
    bool holdImage(std::span<const uint8_t> bytes) noexcept;

    // Parses the held file image from cursor 0; returns a LoadResult. Used by the loads.
    int parseModel() noexcept;
    // Parses the held image as a chunked (version 34) file from cursor 0: header, decompression
    // (again for each nested compressed image), chunk directory, counting walk, allocation and
    // decoding walk; embedded files are written beside the source path. Returns a LoadResult;
    // any version other than 34 gives kLoadUnsupportedVersion (model/version34.cpp).
    int version34Reader() noexcept;
    // Zeroes `image` and reads the header at the cursor into it (short or long layout by the
    // version word). 0 as soon as a word cannot be read.
    int readHeader(ModelHeader& image) noexcept;
    // Replaces the held image by the decompression of the zlib stream at image.streamOffset(),
    // expected to give image.totalLength() bytes. On failure the held image is kept.
    int decompressBody(const ModelHeader& image) noexcept;
    // The same for any stream offset and expected image length.
    int decompressStream(uint32_t streamOffset, uint32_t imageLength) noexcept;
    // Drops the file image; length and cursor become 0. Safe without an image.
    void releaseBuffer() noexcept;
    void clearModel() noexcept { model.clearModel(); }

    bool hasBuffer() const noexcept { return bufferHeld_; }
    uint32_t length() const noexcept { return length_; }
    // The held image (empty without one).
    std::span<const uint8_t> buffer() const noexcept {
        return {fileBuffer_.data(), bufferHeld_ ? length_ : 0u};
    }

    // Cursor primitives. Each reads completely and advances the cursor, or reads nothing, leaves
    // the cursor where it was and returns 0 (the integer reads then store 0).
    int readInt16(int16_t& out) noexcept;
    int readInt32(int32_t& out) noexcept;
    int readUInt32(uint32_t& out) noexcept;
    // Fails for a null `dest`; n = 0 copies nothing and succeeds.
    int readBytes(void* dest, uint32_t n) noexcept;
    // A 16-bit unsigned byte length, then UTF-16LE text (version 10 and from version 32) or
    // 8-bit text in the platform's narrow encoding. Text beyond ModelName::kMaxLength units is
    // read and dropped. On failure `dest` is untouched.
    int readName(ModelName& dest) noexcept;
    int skipBytes(uint32_t n) noexcept;
    // Little-endian float32 (raw bits) and the compound values made of them.
    int readFloat32(float& out) noexcept;
    int readVec3(Vec3& out) noexcept;
    int readRgba(Rgba& out) noexcept;
    int readQuaternion(Quaternion& out) noexcept;
    int readTransform(NodeTransform& out) noexcept;
    int readAuxRecord(AuxRecord& out) noexcept;

    // Bytes between the cursor and the end of the image.
    uint32_t bytesLeft() const noexcept;
    // Whether `count` records of at least `minimumRecordBytes` bytes each fit in the bytes left.
    bool recordsFit(int64_t count, uint32_t minimumRecordBytes) const noexcept;

    // The two passes over the ten sections (model/sections.cpp); the cursor stands at the first
    // byte after the header.
    bool countSections(const ModelHeader& header);
    bool decodeSections(const ModelHeader& header);

    // Turns the declared counts into element arrays with their defaults. False when the file
    // declares no elements or an allocation fails (arrays made so far stay in the model).
    bool allocateSections() noexcept;
    // One allocation per array: releases the old array, then makes `count` elements with the
    // array's defaults. A count of 0 or less, or one beyond allocationFits, is refused.
    bool allocateLights(int32_t count) noexcept;
    bool allocateCameras(int32_t count) noexcept;
    bool allocateMaterials(int32_t count) noexcept;
    bool allocateGroups(int32_t count) noexcept;
    bool allocateVertices(int32_t count) noexcept;
    bool allocateAuxRecords(int32_t count) noexcept;
    bool allocateUVSets(int32_t count) noexcept;
    bool allocateMeshes(int32_t count) noexcept;
    bool allocateBones(int32_t count) noexcept;
    bool allocateAnimations(int32_t count) noexcept;
    // Whether `count` elements of `elementBytes` each stay within the memory this file may make
    // the reader allocate in one array: kAllocationFloorBytes plus kAllocationBytesPerFileByte
    // per byte of the image. Keeps a small hostile file from asking for gigabytes.
    bool allocationFits(uint64_t count, uint64_t elementBytes) const noexcept;
    static constexpr uint64_t kAllocationFloorBytes = uint64_t{64} << 20;
    static constexpr uint64_t kAllocationBytesPerFileByte = 64;

    // Position of the next byte to read. The container sets it to 0 when it installs an image;
    // the passes rewind it between them.
    uint32_t readCursor = 0;
    // Fixed at construction; nothing in loading or conversion reads them.
    std::array<int32_t, kSettingCount> settings{1, 1, 1, 1, 1, 1, 1, 1, 0, 1, 0, 1, 1};
    ModelData model;
    std::string productLabel = "Quillmesh";
    std::string versionLabel = "v3.0";
    std::string spareLabel;
    // Path of the file last given to a load that could read it; texture names are resolved
    // beside it.
    std::u16string sourcePath;

  private:
    // Parses the held image and finishes the load; the image is released whatever the result.
    int loadHeldImage() noexcept;

    std::vector<uint8_t> fileBuffer_;
    uint32_t length_ = 0;
    bool bufferHeld_ = false;
};

// Sub-array allocations on single elements, for the allocation step and the decoders. Each
// refuses a count of 0 or less and returns false when memory runs out; except for the polygon
// corners each first releases the array it replaces.

// `count` zeroed coordinates; coordCount = count.
bool allocateUVCoords(UVSet& uvSet, int32_t count) noexcept;
// `count` all-zero aux records; auxCount = count.
bool allocateUVSetAux(UVSet& uvSet, int32_t count) noexcept;
// `count` empty tracks; trackCount = count.
bool allocateBoneTracks(ModelAnimation& animation, int32_t count) noexcept;
// Keys with time 0 and value (0, 0, 0), (0, 0, 0, 1) or (1, 1, 1).
bool allocatePositionKeys(BoneTrack& track, int32_t count) noexcept;
bool allocateRotationKeys(BoneTrack& track, int32_t count) noexcept;
bool allocateScaleKeys(BoneTrack& track, int32_t count) noexcept;
// Weights naming bone -1 with weight 1.0.
bool allocateVertexWeights(ModelVertex& vertex, int32_t count) noexcept;
// Polygons with polygonTag and materialIndex -1, everything else zero.
bool allocatePolygons(ModelMesh& mesh, int32_t count) noexcept;
// max(count, 3) corners: vertexIndices, cornerValues and the two UV layers' uvIndices and
// uvValues, all -1; uvLayerCount 2. Refused when the polygon already has any of these arrays.
bool allocatePolygonCorners(ModelPolygon& polygon, int32_t count) noexcept;
// Exactly `cornerCount` corners (vertexIndices, cornerValues) and `layerCount` UV layers of
// `cornerCount` uvIndices and uvValues each, all zero; cornerCount and uvLayerCount follow.
// Refused for a negative count, or when the polygon already has any of these arrays.
bool allocateExactPolygonCorners(ModelPolygon& polygon, int32_t cornerCount,
                                 int32_t layerCount) noexcept;

}  // namespace quillmesh
