// A ModelFile writer for tests, fuzz seeds and benchmarks: it turns a plain
// description of a model (KvtModel) into the bytes of a classic ModelFile of
// any version from 6 to 33, optionally compressed, and can bend any header
// word, section count or record layout to build hostile files.
//
// The writer is a second, independent implementation of the file layout: it
// shares no type or code with the reader in model/, so a fixture made here
// checks the reader rather than mirroring it.
//
// Which fields are written depends on the layout version of each section
// (the model's version unless KvtWriteOptions::sectionVersions says
// otherwise):
//   - lights, cameras, groups, polygon meshes, bones: old layout below 30;
//   - auxiliary records and UV sets: written only from version 30;
//   - texture-map entries: old layout up to 30, new layout above 30;
//   - names: UTF-16LE in version 10 and from version 32, 8-bit otherwise.
// Fields that a layout does not store are simply not written. A description
// may fill the fields of both layouts (KvtPolygon::uvLayers and inlineUVs,
// for example) so that it can be written in every version.
//
// Every `...Count` override replaces only the count word written; the records
// that follow are still those in the vector. A description the writer cannot
// express (a narrow name unit above 0xFF, more UV entries than corners, a
// header word the short layout has no room for) throws
// std::invalid_argument.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace quillmesh::testsupport {

using KvtBytes = std::vector<uint8_t>;
using KvtVec3 = std::array<float, 3>;
using KvtVec4 = std::array<float, 4>;  // RGBA colour or quaternion (x, y, z, w)

// Flags word bits.
inline constexpr uint32_t kKvtFlagVertexNormals = 0x1;
inline constexpr uint32_t kKvtFlagVertexColours = 0x2;
inline constexpr uint32_t kKvtFlagCompressed = 0x10;

// An element name. Its text is a list of 16-bit units: in the wide form each
// unit is written as two little-endian bytes, in the narrow form as one byte
// (a unit above 0xFF throws). A narrow literal becomes one unit per byte, so
// its narrow form is the same bytes again.
struct KvtName {
    std::u16string text{};
    // When set, these bytes follow the length word instead of the encoded text.
    std::optional<KvtBytes> rawBytes{};
    // When set, the length word written instead of the byte count (0xFFFF
    // with a short text builds a name that runs past the end of the file).
    std::optional<uint16_t> rawLength{};

    KvtName() = default;
    KvtName(const char* narrow) : KvtName(std::string_view(narrow)) {}
    KvtName(std::string_view narrow) {
        for (const char byte : narrow) {
            text.push_back(static_cast<unsigned char>(byte));
        }
    }
    KvtName(const std::string& narrow) : KvtName(std::string_view(narrow)) {}
    KvtName(const char16_t* wide) : text(wide) {}
    KvtName(std::u16string wide) : text(std::move(wide)) {}
};

// The 38-float node transform, default the identity.
struct KvtTransform {
    KvtVec3 xAxis{1, 0, 0};
    KvtVec3 yAxis{0, 1, 0};
    KvtVec3 zAxis{0, 0, 1};
    KvtVec3 position{0, 0, 0};
    KvtVec3 scale{1, 1, 1};
    std::array<float, 16> matrix{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    KvtVec4 rotation{0, 0, 0, 1};
    KvtVec3 eulerAngles{0, 0, 0};
};

// Old layout: name, option, transform.position, colour.
struct KvtLight {
    KvtName name{};
    int32_t code = 0;
    int32_t option = 0;
    KvtTransform transform{};
    std::array<float, 5> params{};
    KvtVec4 colour{1, 1, 1, 1};
    std::array<float, 2> extraParams{};
};

// Old layout: name, option, the three axes and the position, the three floats.
struct KvtCamera {
    KvtName name{};
    int32_t code = 0;
    int32_t option = 0;
    KvtTransform transform{};
    float fieldOfView = 45;
    float nearClip = 0.1f;
    float farClip = 1000;
};

struct KvtMapLayer {
    KvtName fileName{};
    int32_t layerA = 0;
    int32_t layerB = 0;
    float layerWeight = 1;
};

// One texture-map entry. The payload written follows `kind`: kinds 1 to 3 a
// file name with `mode` and their parameters, kind 4 the layers, kind 5 the
// six faces, kinds 6 and 7 a file name and `mode`, any other kind nothing.
struct KvtMap {
    int32_t key = 0;
    int32_t kind = 1;
    // New layout: the flags word as stored. Old layout: the flags word of the
    // common part (the reader ORs 0x310000 into it).
    int32_t mapFlags = 0;
    KvtVec3 mapOffset{0, 0, 0};  // new layout only
    KvtVec3 mapScale{1, 1, 1};   // new layout only
    KvtVec3 mapAngles{0, 0, 0};  // new layout only
    // Old layout only: the two ignored words of the common part.
    std::array<int32_t, 2> oldUnused{};
    // Old layout only: the payload's leading word, ignored for kinds 1 to 3
    // and replacing the flags for kinds 4 to 7. Unset: 0 for kinds 1 to 3,
    // `mapFlags` for kinds 4 to 7.
    std::optional<int32_t> oldPayloadWord{};

    KvtName fileName{};                // kinds 1, 2, 3, 6, 7
    int32_t mode = 0;                  // kinds 1, 2, 3, 6, 7
    float paramA = 2;                  // kinds 1, 2, 3
    float paramB = 1;                  // kinds 1, 2, 3
    float paramC = 8;                  // kind 2
    float paramD = 8;                  // kind 2
    int32_t packedValue = 0x00C4C4C4;  // kind 2
    int32_t extraValue = 0;            // kinds 2, 3

    // Kind 4. The old layout always holds three layers: missing ones are
    // written as default layers, more than three throw.
    std::vector<KvtMapLayer> layers{};
    std::optional<int32_t> layerCount{};      // new layout's count word
    std::array<int32_t, 3> oldLayerUnused{};  // old layout's three ignored words

    std::array<KvtName, 6> faces{};  // kind 5
};

struct KvtMaterial {
    KvtName name{};
    int32_t flags = 0;
    std::array<KvtVec4, 5> colours{
        {{1, 1, 1, 1}, {0, 0, 0, 1}, {0, 0, 0, 1}, {0, 0, 0, 1}, {0, 0, 0, 1}}};
    float shininess = 128;
    float opacity = 1;
    std::vector<KvtMap> maps{};
    std::optional<int32_t> mapCount{};
};

// Old layout: the name alone.
struct KvtGroup {
    KvtName name{};
    int32_t groupTag = 0;
    int32_t groupLink = 0;
    KvtTransform transform{};
};

struct KvtWeight {
    int32_t boneIndex = 0;
    float weight = 1;
};

// The normal is written when KvtModel::flags has kKvtFlagVertexNormals, the
// colour when it has kKvtFlagVertexColours (header overrides of the flags
// word change only the word, not the vertex records). The two extra vectors
// exist only in the chunked layout (see kvt_chunks.h).
struct KvtVertex {
    KvtVec3 position{0, 0, 0};
    KvtVec3 normal{0, 0, 1};
    KvtVec4 colour{1, 1, 1, 1};
    std::vector<KvtWeight> weights{};
    std::optional<int32_t> weightCount{};
    std::array<KvtVec3, 2> extraVectors{};
};

// Ten 4-byte fields: nine int32 and one float32.
struct KvtAuxRecord {
    std::array<int32_t, 9> values{};
    float scalar = 0;
};

struct KvtUVCoord {
    int32_t tag = 0;
    float u = 0;
    float v = 0;
};

struct KvtUVSet {
    KvtName name{};
    std::vector<KvtUVCoord> coords{};
    std::vector<KvtAuxRecord> auxRecords{};
    std::optional<int32_t> coordCount{};
    std::optional<int32_t> auxCount{};
};

// New layout UV layer: per corner a UV index and a value. Corners beyond the
// vectors are written as 0; entries beyond the corners throw.
struct KvtUVLayer {
    std::vector<int32_t> uvIndices{};
    std::vector<int32_t> uvValues{};
};

// Old layout corner UV; `w` is written only below version 10.
struct KvtInlineUV {
    float u = 0;
    float v = 0;
    float w = 0;
};

// New layout: corner count, layer count, polygonTag, materialIndex,
// polygonValue, (vertex, corner value) per corner, then per layer of
// `uvLayers` (index, value) per corner.
// Old layout: corner count, layer count (from version 5), materialIndex,
// polygonValue, the vertex indices, then per layer of `inlineUVs` one UV per
// corner (missing corners written as zero UVs). The polygon tag of an old
// file is the mesh's tag.
struct KvtPolygon {
    std::vector<int32_t> vertices{};
    std::vector<int32_t> cornerValues{};  // new layout; missing corners written as 0
    int32_t polygonTag = 0;               // new layout only
    int32_t materialIndex = 0;
    int32_t polygonValue = 0;
    std::vector<KvtUVLayer> uvLayers{};                 // new layout
    std::vector<std::vector<KvtInlineUV>> inlineUVs{};  // old layout, one vector per layer
    std::optional<int32_t> cornerCount{};
    std::optional<int32_t> layerCount{};
};

struct KvtMesh {
    int32_t tag = 0;  // old layout only
    std::vector<KvtPolygon> polygons{};
    std::optional<int32_t> polygonCount{};
};

// Old layout: name, boneLink, position, rotation, scale (from version 9),
// colour.
struct KvtBone {
    KvtName name{};
    int32_t boneLink = -1;
    KvtTransform transform{};
    KvtVec4 colour{1, 1, 1, 1};
};

struct KvtPositionKey {
    float time = 0;
    KvtVec3 value{0, 0, 0};
};

struct KvtRotationKey {
    float time = 0;
    KvtVec4 value{0, 0, 0, 1};
};

struct KvtScaleKey {
    float time = 0;
    KvtVec3 value{1, 1, 1};
};

struct KvtTrack {
    std::vector<KvtPositionKey> positionKeys{};
    std::vector<KvtRotationKey> rotationKeys{};
    std::vector<KvtScaleKey> scaleKeys{};
    std::optional<int32_t> positionKeyCount{};
    std::optional<int32_t> rotationKeyCount{};
    std::optional<int32_t> scaleKeyCount{};
};

struct KvtAnimation {
    KvtName name{};
    int32_t tag = 0;
    float start = 0;
    float end = 30;
    float rate = 30;
    std::vector<KvtTrack> tracks{};
    std::optional<int32_t> trackCount{};
};

struct KvtModel {
    int32_t version = 30;
    uint32_t flags = 0;  // written as given; compression is an option of the writer
    int32_t nameListCount = 0;
    // Header words the reader carries without interpreting, by their index in
    // the 32-word header image. Words 0 to 3, 24 and (in a compressed file)
    // 5 are written by the writer; in the short layout a non-zero value in
    // words 14 to 17 or 28 to 31 throws (they have no place in the file).
    std::array<uint32_t, 32> headerWords{};

    std::vector<KvtLight> lights{};
    std::vector<KvtCamera> cameras{};
    std::vector<KvtMaterial> materials{};
    std::vector<KvtGroup> groups{};
    std::vector<KvtVertex> vertices{};
    std::vector<KvtAuxRecord> auxRecords{};  // written from version 30
    std::vector<KvtUVSet> uvSets{};          // written from version 30
    std::vector<KvtMesh> meshes{};
    std::vector<KvtBone> bones{};
    std::vector<KvtAnimation> animations{};
};

// The body's sections, in file order.
enum class KvtSection {
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
inline constexpr std::size_t kKvtSectionCount = 10;

// Index of a section in the per-section option arrays.
constexpr std::size_t kvtSectionIndex(KvtSection section) {
    return static_cast<std::size_t>(section);
}

// Header overrides. Unset values are those the writer computes.
struct KvtHeaderOverrides {
    std::optional<std::string> magic{};  // exactly four bytes
    std::optional<uint32_t> version{};
    std::optional<uint32_t> flags{};
    std::optional<uint32_t> length{};  // word 3
    int64_t lengthDelta = 0;           // added to word 3 (computed or overridden)
    std::optional<bool> longLayout{};  // default: long from version 30
};

struct KvtWriteOptions {
    // The header of an uncompressed file, or the outer header of a compressed
    // one. The outer header's flags are the model's flags with
    // kKvtFlagCompressed; its word 3 is the inner image's length. The inner
    // header is written like an uncompressed file's header: the model's
    // version, its flags as given, the inner image's length.
    KvtHeaderOverrides header{};

    // Compressed file: outer header, `streamGap` zero bytes, then the zlib
    // stream (compress2 at `compressionLevel`) of a complete inner ModelFile.
    bool compressed = false;
    KvtHeaderOverrides innerHeader{};  // the inner header's words
    int compressionLevel = 6;
    uint32_t streamGap = 0;
    std::optional<uint32_t> streamOffset{};  // word 5; default: where the stream is

    // Raw section count words, written instead of the vectors' sizes.
    std::array<std::optional<int32_t>, kKvtSectionCount> sectionCounts{};
    // Per section, the version whose record layout (and name form) is used.
    std::array<std::optional<int32_t>, kKvtSectionCount> sectionVersions{};
    // Write (true) or leave out (false) the aux and UV-set sections whatever
    // the version.
    std::optional<bool> auxAndUVSections{};
    // Force every name into the wide (true) or narrow (false) form.
    std::optional<bool> wideNames{};
    // Bytes appended after the last section.
    KvtBytes trailing{};

    // Cut the (inner) ModelFile image to this many bytes; its length word
    // states the cut length, so only the body ends early.
    std::optional<std::size_t> truncateAt{};
    // Cut the finished file to this many bytes, changing nothing else.
    std::optional<std::size_t> truncateFileAt{};
};

// An uncompressed ModelFile image with the positions of its parts.
struct KvtImage {
    KvtBytes bytes{};
    std::size_t headerSize = 0;
    // Offset of each section's count word; unset when the section was not
    // written (or was cut off by truncateAt).
    std::array<std::optional<std::size_t>, kKvtSectionCount> sectionOffsets{};
};

// The ModelFile bytes of `model`.
KvtBytes writeKvt(const KvtModel& model, const KvtWriteOptions& options = {});

// One section of `model` alone: its count word (`count` when set, else the
// vector's size) and its records, in the record layout and name form of
// `layoutVersion`. Other writers of the format build their payloads from it.
KvtBytes writeKvtSection(const KvtModel& model, KvtSection section, int32_t layoutVersion,
                         std::optional<int32_t> count = std::nullopt);

// One name: its 16-bit length word, then its text in the wide (UTF-16LE) or
// narrow form, or the raw overrides.
KvtBytes writeKvtName(const KvtName& name, bool wide);

// The uncompressed image: the whole file when not compressed (before
// truncateFileAt), else the inner ModelFile that gets compressed.
KvtImage writeKvtImage(const KvtModel& model, const KvtWriteOptions& options = {});

// Writes writeKvt(model, options) to `path`; throws std::runtime_error when
// the file cannot be written.
void writeKvtFile(const std::filesystem::path& path, const KvtModel& model,
                  const KvtWriteOptions& options = {});

// Fixtures. Both fill every layout's fields (UV sets and polygon UV indices
// for version 30 and later, inline UVs for older files), so only `version`
// decides the layout.
// One triangle: three vertices (0,0,0), (1,0,0), (0,1,0), material "Material",
// one mesh with one polygon {0, 1, 2} using material 0, UVs (0,0), (1,0), (0,1).
KvtModel triangleModel(int32_t version);
// The unit cube [0,1]^3: eight vertices (vertex i at x = bit 0, y = bit 1,
// z = bit 2 of i), material "Material", one mesh of 12 triangles (two per
// face, outward winding) and a UV set of four corners (0,0), (1,0), (1,1),
// (0,1) that every face uses.
KvtModel cubeModel(int32_t version);
// The cube with texture maps on its material (key 0 "wood.png", key 1 "bump.png", both kind 1)
// and a second material "Second" (flags 2, distinct colours, shininess 64, opacity 0.25) for its
// last six triangles.
KvtModel texturedCubeModel(int32_t version);

}  // namespace quillmesh::testsupport
