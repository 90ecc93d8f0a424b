// KVTPlugin: the ModelFile reader and the model it loads.
//
// A load reads the file whole, checks its header, decompresses a compressed body and decodes the
// sections (or, in version 34, the chunks) in one pass straight into the element arrays. The
// file image lives only for the length of one load; the model stays until the next load,
// clearModel or destruction.
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
    bool hasFlag(uint32_t flag) const noexcept { return (flags() & flag) != 0; }
};

// One element array: `items` holds exactly `count` elements.
template <typename T>
struct ElementSlot {
    int32_t count = 0;
    std::vector<T> items;

    // Releases the array and everything its elements own.
    void release() noexcept {
        std::vector<T>().swap(items);
        count = 0;
    }
    bool exists() const noexcept { return !items.empty(); }
};

// The memory one import may spend on a file: kMemoryFloorBytes plus kMemoryBytesPerFileByte for
// each byte of the file as stored (a compressed file counts its compressed size). The parse
// counts every array the file sizes against it (the decompressed image too) before reserving it;
// what the import makes of the model afterwards is counted by its own stages.
inline constexpr uint64_t kMemoryFloorBytes = uint64_t{256} << 20;
inline constexpr uint64_t kMemoryBytesPerFileByte = 64;

struct MemoryBudget {
    uint64_t fileBytes = 0;
    uint64_t limitBytes = 0;
    uint64_t usedBytes = 0;
    // Set when something was refused: the bytes it asked for.
    uint64_t refusedBytes = 0;

    static MemoryBudget forFile(uint64_t fileBytes) noexcept;
    // Whether `count` more elements of `elementBytes` fit beside what is used (no overflow).
    bool fits(uint64_t count, uint64_t elementBytes) const noexcept;
    // Counts them when they fit; otherwise records the refusal and returns false.
    bool take(uint64_t count, uint64_t elementBytes) noexcept;
    bool refused() const noexcept { return refusedBytes != 0; }
    // What the file needed when it was refused, as far as it got: used plus refused.
    uint64_t neededBytes() const noexcept;
};

// Embedded files a version-34 model keeps: at most kMaxEmbeddedFiles, and together at most
// kEmbeddedBytesPerFileByte bytes per byte of the ModelFile as given to the parse (its compressed
// size for a compressed file), so that a small file cannot fill the disk beside it.
inline constexpr std::size_t kMaxEmbeddedFiles = 1000;
inline constexpr uint64_t kEmbeddedBytesPerFileByte = 16;

// Embedded files the parse read but did not keep, by the limit that left them out.
struct SkippedEmbeddedFiles {
    // Files after the kMaxEmbeddedFiles kept ones.
    uint64_t overFileLimit = 0;
    // Files larger than what was left of the total size when they came.
    uint64_t overSizeLimit = 0;

    uint64_t total() const noexcept { return overFileLimit + overSizeLimit; }
};

// The part of a file a parse was reading, kept when the parse fails so that a tool can say
// where the file stops making sense.
enum class ModelPart : uint8_t {
    kNone,
    kHeader,
    kCompressedBody,
    kChunkDirectory,
    kLights,
    kCameras,
    kMaterials,
    kGroups,
    kVertices,
    kAuxRecords,
    kUVSets,
    kMeshes,
    kPolygons,
    kBones,
    kAnimations,
    kEmbeddedFiles,
    kNameList,
    // Chunks of a kind the reader skips, and the chunk layout itself.
    kChunks,
    // The whole model: it declares no element at all.
    kElements,
};

// The part in words: "the header", "the materials section", ...
const char* modelPartText(ModelPart part) noexcept;

struct ModelData {
    // Version of the loaded file (the inner header's for a compressed file); every decoder
    // chooses its layout by it.
    int32_t version = 0;
    ElementSlot<ModelLight> lights;
    ElementSlot<ModelCamera> cameras;
    ElementSlot<ModelMaterial> materials;
    ElementSlot<ModelGroup> groups;
    ElementSlot<ModelVertex> vertices;
    // The weights of all vertices, each vertex naming its range.
    std::vector<VertexWeight> vertexWeights;
    ElementSlot<AuxRecord> auxRecords;
    ElementSlot<UVSet> uvSets;
    ElementSlot<ModelMesh> meshes;
    ElementSlot<ModelBone> bones;
    ElementSlot<ModelAnimation> animations;
    // Version-34 embedded files, until the resolve stage writes them.
    std::vector<EmbeddedFile> embeddedFiles;
    SkippedEmbeddedFiles skippedEmbeddedFiles;
    // Set when the file stores no groups (the model then has one default group) or no UV sets
    // (the model then has two default ones, which old files fill from their inline UVs).
    bool defaultGroup = false;
    bool defaultUVSets = false;

    // The weights of `vertex` (empty when its range lies outside vertexWeights).
    std::span<VertexWeight> weightsOf(const ModelVertex& vertex) noexcept;
    std::span<const VertexWeight> weightsOf(const ModelVertex& vertex) const noexcept;

    // What the last parse counted; kept by clearModel, so that a refused file can say why.
    MemoryBudget memory;
    // The part the last parse was reading when it stopped; kept by clearModel, and kNone after a
    // parse that succeeded.
    ModelPart part = ModelPart::kNone;

    // Releases every array with everything it owns; version and memory keep their values.
    void clearModel() noexcept;
};

// Parses a ModelFile image held in memory into `model` (cleared first): header, decompression of
// a compressed body, then every section or chunk in one pass over the bytes. Touches no file and
// keeps no reference to `bytes`. Returns a LoadResult; on any result but kLoadSucceeded the model
// is empty.
//
// Safe for untrusted input: every read is bounds-checked, every count is checked against the
// bytes left before anything is reserved for it, and everything the file sizes is counted
// against model.memory, the budget of a file of bytes.size() bytes; a file beyond it fails with
// model.memory.refused() set. Indices between elements (vertex, material, bone, UV) are stored
// as read, unchecked. Nothing here throws.
int parseModelImage(std::span<const uint8_t> bytes, ModelData& model) noexcept;

// The ModelFile reader: loads a file or an image in memory into `model`. Texture names are kept
// as stored and embedded files stay in the model: resolveModelFiles (model/file_resolution.h)
// is the stage that takes them to the file system.
class KVTPlugin {
  public:
    // Longest source path, in UTF-16 units.
    static constexpr std::size_t kSourcePathMaxLength = 259;

    KVTPlugin() noexcept = default;
    KVTPlugin(const KVTPlugin&) = delete;
    KVTPlugin& operator=(const KVTPlugin&) = delete;

    // Reads the ModelFile at `path` (at most kSourcePathMaxLength units; a longer or null path
    // gives kLoadCannotOpen) in one read and parses it. Returns a LoadResult; on any result but
    // kLoadSucceeded the model is empty. The file's bytes are released before returning.
    int loadModel(const char16_t* path) noexcept;
    // The same parse on `bytes`, as if read from a file at `sourcePath`.
    int loadModelFromMemory(std::span<const uint8_t> bytes,
                            const std::u16string& sourcePath) noexcept;
    void clearModel() noexcept { model.clearModel(); }

    ModelData model;
    // Path of the file last given to a load that could read it; texture names are resolved
    // beside it.
    std::u16string sourcePath;
};

}  // namespace quillmesh
