// A writer for the chunked ModelFile layout of version 34, for tests, fuzz
// seeds and benchmarks. The body is a list of tagged chunks (identifier, size,
// payload, nested chunks) that tests may reorder, resize, nest or extend before
// it is flattened, so hostile files are as easy to build as sound ones.
//
// Payloads reuse the record encoders of the classic writer (kvt_writer.h) in
// their version-34 form: new record layouts, new texture-map entries and wide
// (UTF-16LE) names. Like the classic writer, it shares no code with the reader
// in model/.
//
// The version-34 header is 48 bytes: magic, version, flags, total length, the
// offset of the zlib stream (compressed files), then 28 bytes the reader
// carries without interpreting.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

#include "tests/support/kvt_writer.h"

namespace quillmesh::testsupport {

// Chunk identifiers.
inline constexpr uint32_t kChunkDirectory = 0xBBBB0000, kChunkLights = 0xBBBB0001,
                          kChunkCameras = 0xBBBB0002, kChunkMaterials = 0xBBBB0003,
                          kChunkEmbeddedFiles = 0xBBBB0004, kChunkGroups = 0xBBBB0006,
                          kChunkGeometry = 0xBBBB0007, kChunkBones = 0xBBBB0008,
                          kChunkAnimations = 0xBBBB0009, kChunkNameList = 0xBBBB000A,
                          kChunkMesh = 0xCCCC0000, kChunkVertices = 0xCCCC0001,
                          kChunkAuxRecords = 0xCCCC0002, kChunkPolygons = 0xCCCC0005,
                          kChunkUVSets = 0xCCCC0006, kChunkUVSet = 0xDDDD0000,
                          kChunkUVCoords = 0xDDDD0001, kChunkUVSetAux = 0xDDDD0002;

// Vertex-chunk content flags (header flags word). 0x1 (normal) and 0x2
// (colour) are kKvtFlagVertexNormals and kKvtFlagVertexColours.
inline constexpr uint32_t kKvtFlagExtraVectors = 0x4, kKvtFlagVertexWeights = 0x8;

inline constexpr int32_t kKvtChunkedVersion = 34;
inline constexpr std::size_t kKvt34HeaderSize = 48;
inline constexpr std::size_t kKvtChunkHeaderSize = 8;

// One chunk: header (id, size), then `payload`, then each child chunk in order.
struct KvtChunk {
    uint32_t id = 0;
    KvtBytes payload{};
    std::vector<KvtChunk> children{};
    std::optional<uint32_t> size{};  // the size word written; default payload + children bytes
    int64_t sizeDelta = 0;           // added to the size word (computed or overridden), mod 2^32
};

struct KvtEmbeddedFile {
    KvtName name{};  // written with the wide (UTF-16LE) name form
    KvtBytes content{};
    std::optional<int32_t> size{};  // the size word written; default content.size()
};

struct KvtChunkedOptions {
    // Vertex-chunk contents: 0x1 normal, 0x4 two extra vec3, 0x2 colour, 0x8
    // weight count + weights. Written into the header flags word (together
    // with 0x10 when compressed). KvtModel::flags is not used by this layout.
    uint32_t flags = kKvtFlagVertexWeights;
    std::vector<std::pair<uint32_t, uint32_t>>
        directoryEntries{};                          // default: the ten identifiers, value 0
    std::vector<KvtEmbeddedFile> embeddedFiles{};    // a chunk only when not empty
    std::optional<std::vector<KvtName>> nameList{};  // a chunk only when set
    // Raw count words of the section payloads, written instead of the
    // vectors' sizes (kMeshes: the geometry chunk's mesh count; kVertices,
    // kAuxRecords, kUVSets: the count words of the first mesh's chunks).
    std::array<std::optional<int32_t>, kKvtSectionCount> sectionCounts{};
};

// The body chunks of `model` in the usual order: directory, lights, cameras,
// materials, embedded files (if any), groups, geometry, bones, animations,
// name list (if set). Sections whose vector is empty get no chunk.
//
// Geometry: int32 mesh count, then one mesh chunk per mesh; the first mesh
// chunk carries the vertex chunk (all vertices), the aux-record chunk, its
// polygon chunk and the UV-sets chunk (int32 count, then one UV-set chunk per
// set: wide name, coordinate chunk, aux chunk); later mesh chunks carry their
// polygon chunk only. The vertex, aux-record and UV-sets chunks are left out
// when their vectors are empty; every mesh chunk has its polygon chunk. A
// model without meshes but with vertices, aux records or UV sets gets a
// geometry chunk with mesh count 0 and one mesh chunk carrying them (a file
// the reader is expected to reject).
//
// Polygons are written with exactly their corners and exactly their uvLayers
// (cornerCount and layerCount overrides apply to the count words only).
// Tests reorder, insert, resize or nest chunks by editing the vector.
std::vector<KvtChunk> kvtBodyChunks(const KvtModel& model, const KvtChunkedOptions& options = {});

// Chunk payload builders used by kvtBodyChunks, also usable alone (e.g. to
// put a vertex chunk in a second mesh chunk): each returns the payload bytes
// of one chunk, its count word being the vector's size.
KvtBytes kvtVertexChunkPayload(const std::vector<KvtVertex>& vertices, uint32_t flags);
KvtBytes kvtPolygonChunkPayload(const std::vector<KvtPolygon>& polygons);
KvtBytes kvtEmbeddedFilesPayload(const std::vector<KvtEmbeddedFile>& files);
KvtBytes kvtNameListPayload(const std::vector<KvtName>& names);
// One UV-set chunk: the wide name as payload, the coordinate chunk and the
// aux-record chunk as children (coordCount and auxCount override their count
// words).
KvtChunk kvtUVSetChunk(const KvtUVSet& set);

// The flattened chunks (headers and payloads). Throws std::invalid_argument
// for a chunk whose computed size does not fit 32 bits.
KvtBytes kvtChunkBytes(const std::vector<KvtChunk>& chunks);

struct KvtChunkedWriteOptions {
    // The outermost header: magic, version (default 34), flags, length (byte
    // 12). `longLayout` has no meaning in this layout and is ignored.
    KvtHeaderOverrides header{};
    // 0: plain. 1: outer header + zlib stream of a complete inner version-34
    // file. 2: the inner file is itself compressed (its header carries 0x10),
    // and so on. Negative throws std::invalid_argument.
    int compressionDepth = 0;
    // The innermost file's header words; used only when compressionDepth > 0.
    KvtHeaderOverrides innerHeader{};
    // Zero bytes between the outermost header and its zlib stream.
    uint32_t streamGap = 0;
    // Byte 16 of the outermost header; default where the stream is (0 in a
    // plain file).
    std::optional<uint32_t> streamOffset{};
    int compressionLevel = 6;
    // Bytes 20..47 of every header.
    std::array<uint8_t, 28> uninterpreted{};
    // Cut the finished file to this many bytes, changing nothing else.
    std::optional<std::size_t> truncateFileAt{};
};

// A version-34 file: the 48-byte header then kvtChunkBytes(body).
KvtBytes writeKvt34(const std::vector<KvtChunk>& body, uint32_t flags,
                    const KvtChunkedWriteOptions& options = {});
// Shorthand: writeKvt34(kvtBodyChunks(model, chunked), chunked.flags, options).
KvtBytes writeKvt34(const KvtModel& model, const KvtChunkedOptions& chunked = {},
                    const KvtChunkedWriteOptions& options = {});

// Writes `bytes` to `path`; throws std::runtime_error when the file cannot
// be written.
void writeKvtBytesFile(const std::filesystem::path& path, const KvtBytes& bytes);

}  // namespace quillmesh::testsupport
