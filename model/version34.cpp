// The chunked ModelFile reader (version 34).
//
// After a 48-byte header the body is a sequence of chunks, each an identifier, a payload size and
// the payload, so unknown chunks can be skipped and known ones may come in any order. The
// geometry chunk nests one chunk per mesh, a mesh nests its vertex, aux-record, polygon and
// UV-set chunks, and the UV-sets chunk nests one chunk per UV set. Most payloads are the
// new-layout sections of the classic body, read by the same section routines; the vertex and
// polygon payloads have their own layouts here.
//
// Like the classic reader, the body is walked twice: the counting walk stores the declared counts,
// the allocation step makes the arrays, and the decoding walk fills them. The decoding walk also
// writes embedded files into the model's directory.
//
// Sound handling of what the file cannot be trusted with:
// - A chunk whose end would lie beyond the buffer (or beyond 2^32) ends at the end of the buffer.
// - A directory entry that does not lie wholly inside the directory chunk is not read; the
//   directory ends there and the body starts at the chunk's end.
// - Vertex and aux-record chunks write the shared arrays from index 0; records beyond the array
//   (sized by the last chunk of the kind in the counting walk) are read and dropped.
// - A polygon's UV layers are allocated only when their bytes can be in the file; a polygon
//   without corners gets no layers, since its layers occupy no bytes at all.
// - An embedded file with a negative size fails the load (the cursor would run backwards); one
//   whose bytes run past the buffer is not kept and the cursor stops at the buffer's end.
// - Nested compression is followed at most kMaxCompressionDepth times, so an image that
//   decompresses to itself cannot keep the reader busy for ever.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <string>
#include <utility>

#include "model/section_walk.h"
#include "model/sections.h"

namespace quillmesh {
namespace {

// Chunk identifiers.
constexpr uint32_t kChunkDirectory = 0xBBBB0000;
constexpr uint32_t kChunkLights = 0xBBBB0001;
constexpr uint32_t kChunkCameras = 0xBBBB0002;
constexpr uint32_t kChunkMaterials = 0xBBBB0003;
constexpr uint32_t kChunkEmbeddedFiles = 0xBBBB0004;
constexpr uint32_t kChunkGroups = 0xBBBB0006;
constexpr uint32_t kChunkGeometry = 0xBBBB0007;
constexpr uint32_t kChunkBones = 0xBBBB0008;
constexpr uint32_t kChunkAnimations = 0xBBBB0009;
constexpr uint32_t kChunkNameList = 0xBBBB000A;
constexpr uint32_t kChunkMesh = 0xCCCC0000;
constexpr uint32_t kChunkVertices = 0xCCCC0001;
constexpr uint32_t kChunkAuxRecords = 0xCCCC0002;
constexpr uint32_t kChunkPolygons = 0xCCCC0005;
constexpr uint32_t kChunkUVSets = 0xCCCC0006;
constexpr uint32_t kChunkUVSet = 0xDDDD0000;
constexpr uint32_t kChunkUVCoords = 0xDDDD0001;
constexpr uint32_t kChunkUVSetAux = 0xDDDD0002;

// Vertex-chunk contents besides the normal (0x1) and colour (0x2) flags.
constexpr uint32_t kFlagVertexExtraVectors = 0x4;
constexpr uint32_t kFlagVertexWeights = 0x8;

constexpr uint32_t kHeaderWordCount = 5;
constexpr uint32_t kHeaderFirstSpareBytes = 16;
constexpr uint32_t kHeaderSecondSpareBytes = 12;
constexpr uint32_t kDirectoryEntryBytes = 8;
constexpr int kMaxCompressionDepth = 16;

// Smallest file size of one entry of each array a count from the file sizes.
constexpr uint32_t kPolygonBytes = 20;
constexpr uint32_t kCornerPairBytes = 8;
constexpr uint32_t kWeightBytes = 8;
constexpr uint32_t kUVCoordBytes = 12;

// The ten directory entries a reader keeps, with their initial values.
using DirectoryTable = std::array<std::pair<uint32_t, uint32_t>, 10>;
constexpr DirectoryTable kInitialDirectory{{{kChunkDirectory, 72},
                                            {kChunkLights, 0},
                                            {kChunkCameras, 0},
                                            {kChunkMaterials, 0},
                                            {kChunkEmbeddedFiles, 0},
                                            {kChunkGroups, 0},
                                            {kChunkGeometry, 0},
                                            {kChunkBones, 0},
                                            {kChunkAnimations, 0},
                                            {kChunkNameList, 0}}};

enum class Walk { kCount, kDecode };

template <typename T>
void storeAt(std::vector<T>& values, int32_t index, const T& value) noexcept {
    if (index >= 0 && static_cast<std::size_t>(index) < values.size()) {
        values[static_cast<std::size_t>(index)] = value;
    }
}

class ChunkedBodyReader {
  public:
    ChunkedBodyReader(KVTPlugin& plugin, const ModelHeader& header, Walk walk)
        : plugin_(plugin), header_(header), walk_(walk) {}

    // The body: every chunk up to the end of the buffer.
    bool readBody() {
        return walkChunks(plugin_.length(),
                          [this](uint32_t id, uint32_t end) { return bodyChunk(id, end); });
    }

  private:
    bool decoding() const noexcept { return walk_ == Walk::kDecode; }

    // Reads chunk headers until the cursor reaches `end`, running `handle(identifier, chunkEnd)`
    // on each and moving the cursor to the chunk's end unless the handler read beyond it. Every
    // round moves the cursor forward by at least the 8 header bytes.
    template <typename Handle>
    bool walkChunks(uint32_t end, Handle handle) {
        while (plugin_.readCursor < end) {
            uint32_t identifier = 0;
            uint32_t size = 0;
            if (!plugin_.readUInt32(identifier) || !plugin_.readUInt32(size)) {
                return false;
            }
            const uint64_t wantedEnd = uint64_t{plugin_.readCursor} + size;
            const auto chunkEnd =
                static_cast<uint32_t>(std::min<uint64_t>(wantedEnd, plugin_.length()));
            if (!handle(identifier, chunkEnd)) {
                return false;
            }
            if (plugin_.readCursor < chunkEnd) {
                plugin_.readCursor = chunkEnd;
            }
        }
        return true;
    }

    bool bodyChunk(uint32_t identifier, uint32_t end) {
        const bool count = !decoding();
        switch (identifier) {
            case kChunkLights:
                return count ? countLights(plugin_, header_) : decodeLights(plugin_, header_);
            case kChunkCameras:
                return count ? countCameras(plugin_, header_) : decodeCameras(plugin_, header_);
            case kChunkMaterials:
                if (count) {
                    return countMaterials(plugin_, header_);
                }
                materialsRead_ = true;
                return decodeMaterials(plugin_, header_);
            case kChunkGroups:
                return count ? countGroups(plugin_, header_) : decodeGroups(plugin_, header_);
            case kChunkBones:
                return count ? countBones(plugin_, header_) : decodeBones(plugin_, header_);
            case kChunkAnimations:
                return count ? countAnimations(plugin_, header_)
                             : decodeAnimations(plugin_, header_);
            case kChunkEmbeddedFiles:
                return embeddedFiles();
            case kChunkGeometry:
                return geometry(end);
            case kChunkNameList:
                return nameList();
            default:
                return true;
        }
    }

    // Embedded files. Counting: the count word only. Decoding: each file with content is kept
    // in the model for the resolve stage to write beside the model.
    bool embeddedFiles() {
        int32_t count = 0;
        if (!plugin_.readInt32(count)) {
            return false;
        }
        if (!decoding()) {
            return true;
        }
        for (int32_t i = 0; i < count; ++i) {
            EmbeddedFile file;
            int32_t size = 0;
            if (!plugin_.readName(file.name) || !plugin_.readInt32(size) || size < 0) {
                return false;
            }
            const auto byteCount = static_cast<uint32_t>(size);
            if (byteCount > plugin_.bytesLeft()) {
                // The content runs past the buffer: nothing to keep, nothing further to read.
                plugin_.readCursor = plugin_.length();
                continue;
            }
            if (byteCount > 0) {
                const auto content = plugin_.buffer().subspan(plugin_.readCursor, byteCount);
                file.content.assign(content.begin(), content.end());
                file.beforeMaterials = !materialsRead_;
                plugin_.model.embeddedFiles.push_back(std::move(file));
            }
            plugin_.readCursor += byteCount;
        }
        return true;
    }

    // Name list: count c, then c names, read and dropped; c becomes nameListCount.
    bool nameList() {
        int32_t count = 0;
        if (!plugin_.readInt32(count)) {
            return false;
        }
        ModelName name;
        for (int32_t i = 0; i < count; ++i) {
            if (!plugin_.readName(name)) {
                return false;
            }
        }
        plugin_.model.nameListCount = count;
        return true;
    }

    // Geometry: the mesh count, then one mesh chunk per mesh.
    bool geometry(uint32_t end) {
        ModelData& model = plugin_.model;
        int32_t meshCount = 0;
        if (!plugin_.readInt32(meshCount)) {
            return false;
        }
        if (!decoding()) {
            model.meshes.sectionStart = plugin_.readCursor;
            model.cornerTotal = 0;
        }
        std::size_t meshIndex = 0;
        const bool walked = walkChunks(end, [&](uint32_t identifier, uint32_t meshEnd) {
            if (identifier != kChunkMesh) {
                return true;
            }
            if (!decoding()) {
                ModelMesh scratch;
                return mesh(scratch, meshEnd);
            }
            if (meshIndex >= model.meshes.items.size()) {
                return false;
            }
            return mesh(model.meshes.items[meshIndex++], meshEnd);
        });
        if (!walked) {
            return false;
        }
        if (!decoding()) {
            model.declaredCount(SectionId::kMeshes) = meshCount;
        }
        return true;
    }

    bool mesh(ModelMesh& target, uint32_t end) {
        return walkChunks(end, [&](uint32_t identifier, uint32_t chunkEnd) {
            switch (identifier) {
                case kChunkVertices:
                    return vertices();
                case kChunkAuxRecords:
                    return decoding() ? decodeAuxRecords(plugin_, header_)
                                      : countAuxRecords(plugin_, header_);
                case kChunkPolygons:
                    return polygons(target);
                case kChunkUVSets:
                    return uvSets(chunkEnd);
                default:
                    return true;
            }
        });
    }

    // Vertex chunk: count, then per vertex the position, a normal (0x1, dropped), two further
    // vectors (0x4, dropped), a colour (0x2) and weights (0x8). Vertex i of the shared array gets
    // record i; records beyond the array are dropped.
    bool vertices() {
        ModelData& model = plugin_.model;
        int32_t count = 0;
        if (!plugin_.readInt32(count)) {
            return false;
        }
        ModelVertex scratch;
        for (int32_t i = 0; i < count; ++i) {
            const auto index = static_cast<std::size_t>(i);
            const bool inArray = decoding() && index < model.vertices.items.size();
            if (!vertex(inArray ? model.vertices.items[index] : scratch, inArray)) {
                return false;
            }
        }
        if (!decoding()) {
            model.declaredCount(SectionId::kVertices) = count;
        }
        return true;
    }

    bool vertex(ModelVertex& target, bool allocate) {
        Vec3 position;
        Vec3 dropped;
        Rgba colour = target.colour;
        int32_t weightCount = 0;
        if (!plugin_.readVec3(position) ||
            (header_.hasFlag(kFlagVertexNormals) && !plugin_.readVec3(dropped)) ||
            (header_.hasFlag(kFlagVertexExtraVectors) &&
             (!plugin_.readVec3(dropped) || !plugin_.readVec3(dropped))) ||
            (header_.hasFlag(kFlagVertexColours) && !plugin_.readRgba(colour)) ||
            (header_.hasFlag(kFlagVertexWeights) && !plugin_.readInt32(weightCount))) {
            return false;
        }
        target.position = position;
        target.colour = colour;
        if (allocate && weightCount > 0 &&
            (!plugin_.recordsFit(weightCount, kWeightBytes) ||
             !allocateVertexWeights(target, weightCount))) {
            return false;
        }
        for (int32_t j = 0; j < weightCount; ++j) {
            VertexWeight weight;
            if (!plugin_.readInt32(weight.boneIndex) || !plugin_.readFloat32(weight.weight)) {
                return false;
            }
            if (allocate) {
                storeAt(target.weights, j, weight);
            }
        }
        return true;
    }

    // Polygon chunk: count, then polygons stored with exactly their corners and layers.
    bool polygons(ModelMesh& target) {
        int32_t count = 0;
        if (!plugin_.readInt32(count)) {
            return false;
        }
        const bool allocate = decoding() && count > 0;
        if (allocate &&
            (!plugin_.recordsFit(count, kPolygonBytes) || !allocatePolygons(target, count))) {
            return false;
        }
        ModelPolygon scratch;
        for (int32_t k = 0; k < count; ++k) {
            const auto index = static_cast<std::size_t>(k);
            const bool inArray = allocate && index < target.polygons.size();
            if (!polygon(inArray ? target.polygons[index] : scratch, inArray)) {
                return false;
            }
        }
        return true;
    }

    bool polygon(ModelPolygon& target, bool allocate) {
        int32_t storedCorners = 0;
        int32_t storedLayers = 0;
        int32_t tag = 0;
        int32_t materialIndex = 0;
        int32_t value = 0;
        if (!plugin_.readInt32(storedCorners) || !plugin_.readInt32(storedLayers) ||
            !plugin_.readInt32(tag) || !plugin_.readInt32(materialIndex) ||
            !plugin_.readInt32(value)) {
            return false;
        }
        // Negative counts store nothing; layers of a polygon without corners store nothing.
        const int32_t corners = std::max(storedCorners, 0);
        const int32_t layers = corners > 0 ? std::max(storedLayers, 0) : 0;
        if (allocate) {
            target.polygonTag = tag;
            target.materialIndex = materialIndex;
            target.polygonValue = value;
            // The corner pairs and every layer's pairs must all be in the file.
            const int64_t pairs = int64_t{corners} * (int64_t{layers} + 1);
            if (!plugin_.recordsFit(pairs, kCornerPairBytes) ||
                !allocateExactPolygonCorners(target, corners, layers)) {
                return false;
            }
        }
        for (int32_t j = 0; j < corners; ++j) {
            int32_t vertexIndex = 0;
            int32_t cornerValue = 0;
            if (!plugin_.readInt32(vertexIndex) || !plugin_.readInt32(cornerValue)) {
                return false;
            }
            if (allocate) {
                storeAt(target.vertexIndices, j, vertexIndex);
                storeAt(target.cornerValues, j, cornerValue);
            }
        }
        for (int32_t l = 0; l < layers; ++l) {
            for (int32_t j = 0; j < corners; ++j) {
                int32_t uvIndex = 0;
                int32_t uvValue = 0;
                if (!plugin_.readInt32(uvIndex) || !plugin_.readInt32(uvValue)) {
                    return false;
                }
                if (allocate) {
                    PolygonUVLayer& layer = target.uvLayers[static_cast<std::size_t>(l)];
                    storeAt(layer.uvIndices, j, uvIndex);
                    storeAt(layer.uvValues, j, uvValue);
                }
            }
        }
        return true;
    }

    // UV-sets chunk: the count, then one UV-set chunk per UV set; the count is declared.
    bool uvSets(uint32_t end) {
        ModelData& model = plugin_.model;
        int32_t count = 0;
        if (!plugin_.readInt32(count)) {
            return false;
        }
        std::size_t setIndex = 0;
        const bool walked = walkChunks(end, [&](uint32_t identifier, uint32_t setEnd) {
            if (identifier != kChunkUVSet) {
                return true;
            }
            if (!decoding()) {
                UVSet scratch;
                return uvSet(scratch, setEnd);
            }
            if (setIndex >= model.uvSets.items.size()) {
                return false;
            }
            return uvSet(model.uvSets.items[setIndex++], setEnd);
        });
        if (!walked) {
            return false;
        }
        model.declaredCount(SectionId::kUVSets) = count;
        return true;
    }

    // One UV set: a name (dropped: the set keeps its allocated name), then its chunks.
    bool uvSet(UVSet& target, uint32_t end) {
        ModelName dropped;
        if (!plugin_.readName(dropped)) {
            return false;
        }
        return walkChunks(end, [&](uint32_t identifier, uint32_t) {
            switch (identifier) {
                case kChunkUVCoords:
                    return uvCoords(target);
                case kChunkUVSetAux:
                    return uvSetAux(target);
                default:
                    return true;
            }
        });
    }

    bool uvCoords(UVSet& target) {
        int32_t count = 0;
        if (!plugin_.readInt32(count)) {
            return false;
        }
        if (decoding() && count > 0 &&
            (!plugin_.recordsFit(count, kUVCoordBytes) || !allocateUVCoords(target, count))) {
            return false;
        }
        for (int32_t j = 0; j < count; ++j) {
            UVCoord coord;
            if (!plugin_.readInt32(coord.uvTag) || !plugin_.readFloat32(coord.u) ||
                !plugin_.readFloat32(coord.v)) {
                return false;
            }
            if (decoding()) {
                storeAt(target.coords, j, coord);
            }
        }
        return true;
    }

    bool uvSetAux(UVSet& target) {
        int32_t count = 0;
        if (!plugin_.readInt32(count)) {
            return false;
        }
        if (decoding() && count > 0 &&
            (!plugin_.recordsFit(count, kAuxRecordBytes) || !allocateUVSetAux(target, count))) {
            return false;
        }
        for (int32_t j = 0; j < count; ++j) {
            AuxRecord record;
            if (!plugin_.readAuxRecord(record)) {
                return false;
            }
            if (decoding()) {
                storeAt(target.auxRecords, j, record);
            }
        }
        return true;
    }

    KVTPlugin& plugin_;
    const ModelHeader& header_;
    Walk walk_;
    // Whether the decoding walk has met a materials chunk.
    bool materialsRead_ = false;
};

// The directory chunk: entries of (identifier, value) while a whole entry lies inside the chunk.
// Entries naming one of the table's identifiers set its value; the cursor ends at the chunk's end.
bool readChunkDirectory(KVTPlugin& plugin, DirectoryTable& table) noexcept {
    uint32_t identifier = 0;
    uint32_t size = 0;
    if (!plugin.readUInt32(identifier) || !plugin.readUInt32(size) ||
        identifier != kChunkDirectory) {
        return false;
    }
    const auto end = static_cast<uint32_t>(
        std::min<uint64_t>(uint64_t{plugin.readCursor} + size, plugin.length()));
    while (end - plugin.readCursor >= kDirectoryEntryBytes) {
        uint32_t entryIdentifier = 0;
        uint32_t value = 0;
        if (!plugin.readUInt32(entryIdentifier) || !plugin.readUInt32(value)) {
            return false;
        }
        for (auto& entry : table) {
            if (entry.first == entryIdentifier) {
                entry.second = value;
            }
        }
    }
    plugin.readCursor = end;
    return true;
}

}  // namespace

int KVTPlugin::version34Reader() noexcept {
    try {
        for (int depth = 0;; ++depth) {
            readCursor = 0;
            std::array<uint32_t, kHeaderWordCount> words{};
            std::array<uint8_t, kHeaderFirstSpareBytes> firstSpare{};
            std::array<uint8_t, kHeaderSecondSpareBytes> secondSpare{};
            for (uint32_t& word : words) {
                if (!readUInt32(word)) {
                    return kLoadFailed;
                }
            }
            if (!readBytes(firstSpare.data(), kHeaderFirstSpareBytes) ||
                !readBytes(secondSpare.data(), kHeaderSecondSpareBytes)) {
                return kLoadFailed;
            }
            ModelHeader header;
            std::copy(words.begin(), words.end(), header.words.begin());
            if (header.magic() != kModelMagic) {
                return kLoadBadMagic;
            }
            if (header.version() != kChunkedModelVersion) {
                return kLoadUnsupportedVersion;
            }
            if (header.hasFlag(kFlagCompressed)) {
                // Word 4 of this header holds the stream offset.
                if (depth >= kMaxCompressionDepth || !decompressStream(words[4], words[3])) {
                    return kLoadFailed;
                }
                continue;
            }
            if (header.totalLength() != length_) {
                return kLoadLengthMismatch;
            }
            model.version = static_cast<int32_t>(kChunkedModelVersion);

            DirectoryTable directory = kInitialDirectory;
            if (!readChunkDirectory(*this, directory)) {
                return kLoadFailed;
            }
            const uint32_t bodyStart = readCursor;
            if (!ChunkedBodyReader(*this, header, Walk::kCount).readBody() || !allocateSections()) {
                return kLoadFailed;
            }
            readCursor = bodyStart;
            return ChunkedBodyReader(*this, header, Walk::kDecode).readBody() ? kLoadSucceeded
                                                                              : kLoadFailed;
        }
    } catch (const std::exception&) {
        // Exhausted memory inside a walk fails the load.
        return kLoadFailed;
    }
}

}  // namespace quillmesh
