// The chunked (version 34) ModelFile writer: chunk framing, the body chunks of
// a model, the vertex, polygon, UV-set, embedded-file and name-list payloads,
// the 48-byte header and nested compression.
#include "tests/support/kvt_chunks.h"

#include <zlib.h>

#include <bit>
#include <fstream>
#include <limits>
#include <stdexcept>
#include <string>

namespace quillmesh::testsupport {
namespace {

constexpr std::array<uint32_t, 10> kDirectoryIds{
    kChunkDirectory, kChunkLights,   kChunkCameras, kChunkMaterials,  kChunkEmbeddedFiles,
    kChunkGroups,    kChunkGeometry, kChunkBones,   kChunkAnimations, kChunkNameList};

constexpr bool kWideNames = true;

void putU32(KvtBytes& out, uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8) {
        out.push_back(static_cast<uint8_t>(value >> shift));
    }
}

void putI32(KvtBytes& out, int32_t value) {
    putU32(out, static_cast<uint32_t>(value));
}

template <std::size_t N>
void putFloats(KvtBytes& out, const std::array<float, N>& values) {
    for (const float value : values) {
        putU32(out, std::bit_cast<uint32_t>(value));
    }
}

void append(KvtBytes& out, const KvtBytes& bytes) {
    out.insert(out.end(), bytes.begin(), bytes.end());
}

int32_t count32(std::size_t size, const std::optional<int32_t>& override = std::nullopt) {
    if (override) {
        return *override;
    }
    if (size > static_cast<std::size_t>(std::numeric_limits<int32_t>::max())) {
        throw std::invalid_argument("kvt chunks: more elements than an int32 count holds");
    }
    return static_cast<int32_t>(size);
}

uint32_t size32(std::size_t size) {
    if (size > std::numeric_limits<uint32_t>::max()) {
        throw std::invalid_argument("kvt chunks: a size of 4 GiB or more");
    }
    return static_cast<uint32_t>(size);
}

// A body section as the classic writer encodes it in the version-34 record
// layouts; a chunk only when the section has records.
template <typename Container>
void addSectionChunk(std::vector<KvtChunk>& body, uint32_t id, const KvtModel& model,
                     const Container& items, KvtSection section, const KvtChunkedOptions& options) {
    if (items.empty()) {
        return;
    }
    body.push_back({.id = id,
                    .payload = writeKvtSection(model, section, kKvtChunkedVersion,
                                               options.sectionCounts[kvtSectionIndex(section)])});
}

KvtBytes directoryPayload(const KvtChunkedOptions& options) {
    KvtBytes payload;
    if (options.directoryEntries.empty()) {
        for (const uint32_t id : kDirectoryIds) {
            putU32(payload, id);
            putU32(payload, 0);
        }
        return payload;
    }
    for (const auto& [id, value] : options.directoryEntries) {
        putU32(payload, id);
        putU32(payload, value);
    }
    return payload;
}

KvtBytes vertexPayload(const std::vector<KvtVertex>& vertices, uint32_t flags,
                       const std::optional<int32_t>& count) {
    KvtBytes payload;
    putI32(payload, count32(vertices.size(), count));
    for (const KvtVertex& vertex : vertices) {
        putFloats(payload, vertex.position);
        if ((flags & kKvtFlagVertexNormals) != 0) {
            putFloats(payload, vertex.normal);
        }
        if ((flags & kKvtFlagExtraVectors) != 0) {
            putFloats(payload, vertex.extraVectors[0]);
            putFloats(payload, vertex.extraVectors[1]);
        }
        if ((flags & kKvtFlagVertexColours) != 0) {
            putFloats(payload, vertex.colour);
        }
        if ((flags & kKvtFlagVertexWeights) != 0) {
            putI32(payload, count32(vertex.weights.size(), vertex.weightCount));
            for (const KvtWeight& weight : vertex.weights) {
                putI32(payload, weight.boneIndex);
                putU32(payload, std::bit_cast<uint32_t>(weight.weight));
            }
        }
    }
    return payload;
}

// The new-layout mesh record is the polygon count and the polygons, which is
// exactly the polygon chunk's payload: the classic encoder's one-mesh section
// without its mesh count word.
KvtBytes polygonPayload(const KvtMesh& mesh) {
    KvtModel single;
    single.meshes = {mesh};
    KvtBytes section = writeKvtSection(single, KvtSection::kMeshes, kKvtChunkedVersion);
    section.erase(section.begin(), section.begin() + 4);
    return section;
}

KvtBytes auxPayload(const std::vector<KvtAuxRecord>& records, const std::optional<int32_t>& count) {
    KvtModel single;
    single.auxRecords = records;
    return writeKvtSection(single, KvtSection::kAuxRecords, kKvtChunkedVersion, count);
}

KvtChunk meshChunk(const KvtModel& model, const KvtMesh* mesh, bool first,
                   const KvtChunkedOptions& options) {
    const auto countOverride = [&options](KvtSection section) {
        return options.sectionCounts[kvtSectionIndex(section)];
    };
    KvtChunk chunk{.id = kChunkMesh};
    if (first && !model.vertices.empty()) {
        chunk.children.push_back({.id = kChunkVertices,
                                  .payload = vertexPayload(model.vertices, options.flags,
                                                           countOverride(KvtSection::kVertices))});
    }
    if (first && !model.auxRecords.empty()) {
        chunk.children.push_back(
            {.id = kChunkAuxRecords,
             .payload = auxPayload(model.auxRecords, countOverride(KvtSection::kAuxRecords))});
    }
    if (mesh != nullptr) {
        chunk.children.push_back({.id = kChunkPolygons, .payload = polygonPayload(*mesh)});
    }
    if (first && !model.uvSets.empty()) {
        KvtChunk sets{.id = kChunkUVSets};
        putI32(sets.payload, count32(model.uvSets.size(), countOverride(KvtSection::kUVSets)));
        for (const KvtUVSet& set : model.uvSets) {
            sets.children.push_back(kvtUVSetChunk(set));
        }
        chunk.children.push_back(std::move(sets));
    }
    return chunk;
}

std::optional<KvtChunk> geometryChunk(const KvtModel& model, const KvtChunkedOptions& options) {
    const bool shared =
        !model.vertices.empty() || !model.auxRecords.empty() || !model.uvSets.empty();
    if (model.meshes.empty() && !shared) {
        return std::nullopt;
    }
    KvtChunk geometry{.id = kChunkGeometry};
    putI32(geometry.payload, count32(model.meshes.size(),
                                     options.sectionCounts[kvtSectionIndex(KvtSection::kMeshes)]));
    if (model.meshes.empty()) {
        geometry.children.push_back(meshChunk(model, nullptr, true, options));
        return geometry;
    }
    for (std::size_t i = 0; i < model.meshes.size(); ++i) {
        geometry.children.push_back(meshChunk(model, &model.meshes[i], i == 0, options));
    }
    return geometry;
}

void appendChunk(KvtBytes& out, const KvtChunk& chunk) {
    const KvtBytes children = kvtChunkBytes(chunk.children);
    const uint32_t computed = size32(chunk.payload.size() + children.size());
    const uint32_t base = chunk.size.value_or(computed);
    // Two's-complement wrap: the delta moves the word modulo 2^32.
    putU32(out, base + static_cast<uint32_t>(static_cast<uint64_t>(chunk.sizeDelta)));
    append(out, chunk.payload);
    append(out, children);
}

KvtBytes header34(const KvtHeaderOverrides& overrides, uint32_t flags, uint32_t length,
                  uint32_t streamOffset, const KvtChunkedWriteOptions& options) {
    const std::string magic = overrides.magic.value_or("KVTH");
    if (magic.size() != 4) {
        throw std::invalid_argument("kvt chunks: the magic must have four bytes");
    }
    KvtBytes header(magic.begin(), magic.end());
    putU32(header, overrides.version.value_or(static_cast<uint32_t>(kKvtChunkedVersion)));
    putU32(header, overrides.flags.value_or(flags));
    putU32(header, static_cast<uint32_t>(overrides.length.value_or(length) +
                                         static_cast<uint64_t>(overrides.lengthDelta)));
    putU32(header, streamOffset);
    header.insert(header.end(), options.uninterpreted.begin(), options.uninterpreted.end());
    return header;
}

KvtBytes compressFile(const KvtBytes& file, int level) {
    uLongf capacity = compressBound(static_cast<uLong>(file.size()));
    KvtBytes stream(capacity);
    if (compress2(stream.data(), &capacity, file.data(), static_cast<uLong>(file.size()), level) !=
        Z_OK) {
        throw std::runtime_error("kvt chunks: compress2 failed");
    }
    stream.resize(capacity);
    return stream;
}

}  // namespace

KvtBytes kvtVertexChunkPayload(const std::vector<KvtVertex>& vertices, uint32_t flags) {
    return vertexPayload(vertices, flags, std::nullopt);
}

KvtBytes kvtPolygonChunkPayload(const std::vector<KvtPolygon>& polygons) {
    return polygonPayload(KvtMesh{.polygons = polygons});
}

KvtBytes kvtEmbeddedFilesPayload(const std::vector<KvtEmbeddedFile>& files) {
    KvtBytes payload;
    putI32(payload, count32(files.size()));
    for (const KvtEmbeddedFile& file : files) {
        append(payload, writeKvtName(file.name, kWideNames));
        putI32(payload, count32(file.content.size(), file.size));
        append(payload, file.content);
    }
    return payload;
}

KvtBytes kvtNameListPayload(const std::vector<KvtName>& names) {
    KvtBytes payload;
    putI32(payload, count32(names.size()));
    for (const KvtName& name : names) {
        append(payload, writeKvtName(name, kWideNames));
    }
    return payload;
}

KvtChunk kvtUVSetChunk(const KvtUVSet& set) {
    KvtChunk coords{.id = kChunkUVCoords};
    putI32(coords.payload, count32(set.coords.size(), set.coordCount));
    for (const KvtUVCoord& coord : set.coords) {
        putI32(coords.payload, coord.tag);
        putU32(coords.payload, std::bit_cast<uint32_t>(coord.u));
        putU32(coords.payload, std::bit_cast<uint32_t>(coord.v));
    }
    return {
        .id = kChunkUVSet,
        .payload = writeKvtName(set.name, kWideNames),
        .children = {std::move(coords),
                     {.id = kChunkUVSetAux, .payload = auxPayload(set.auxRecords, set.auxCount)}}};
}

std::vector<KvtChunk> kvtBodyChunks(const KvtModel& model, const KvtChunkedOptions& options) {
    std::vector<KvtChunk> body;
    body.push_back({.id = kChunkDirectory, .payload = directoryPayload(options)});
    addSectionChunk(body, kChunkLights, model, model.lights, KvtSection::kLights, options);
    addSectionChunk(body, kChunkCameras, model, model.cameras, KvtSection::kCameras, options);
    addSectionChunk(body, kChunkMaterials, model, model.materials, KvtSection::kMaterials, options);
    if (!options.embeddedFiles.empty()) {
        body.push_back(
            {.id = kChunkEmbeddedFiles, .payload = kvtEmbeddedFilesPayload(options.embeddedFiles)});
    }
    addSectionChunk(body, kChunkGroups, model, model.groups, KvtSection::kGroups, options);
    if (std::optional<KvtChunk> geometry = geometryChunk(model, options)) {
        body.push_back(std::move(*geometry));
    }
    addSectionChunk(body, kChunkBones, model, model.bones, KvtSection::kBones, options);
    addSectionChunk(body, kChunkAnimations, model, model.animations, KvtSection::kAnimations,
                    options);
    if (options.nameList) {
        body.push_back({.id = kChunkNameList, .payload = kvtNameListPayload(*options.nameList)});
    }
    return body;
}

KvtBytes kvtChunkBytes(const std::vector<KvtChunk>& chunks) {
    KvtBytes out;
    for (const KvtChunk& chunk : chunks) {
        putU32(out, chunk.id);
        appendChunk(out, chunk);
    }
    return out;
}

KvtBytes writeKvt34(const std::vector<KvtChunk>& body, uint32_t flags,
                    const KvtChunkedWriteOptions& options) {
    if (options.compressionDepth < 0) {
        throw std::invalid_argument("kvt chunks: a negative compression depth");
    }
    const KvtBytes bodyBytes = kvtChunkBytes(body);
    const bool plain = options.compressionDepth == 0;
    const uint32_t length = size32(kKvt34HeaderSize + bodyBytes.size());
    KvtBytes file = header34(plain ? options.header : options.innerHeader, flags, length,
                             plain ? options.streamOffset.value_or(0) : 0, options);
    append(file, bodyBytes);

    // Each level wraps the file so far: a header stating its length, then its
    // zlib stream. Only the outermost level has the gap and the overrides.
    for (int level = 1; level <= options.compressionDepth; ++level) {
        const bool outermost = level == options.compressionDepth;
        const uint32_t gap = outermost ? options.streamGap : 0;
        const uint32_t streamStart = size32(kKvt34HeaderSize + gap);
        const uint32_t offset =
            outermost ? options.streamOffset.value_or(streamStart) : streamStart;
        const KvtBytes stream = compressFile(file, options.compressionLevel);
        KvtBytes outer = header34(outermost ? options.header : KvtHeaderOverrides{},
                                  flags | kKvtFlagCompressed, size32(file.size()), offset, options);
        outer.resize(streamStart, 0);
        append(outer, stream);
        file = std::move(outer);
    }
    if (options.truncateFileAt && *options.truncateFileAt < file.size()) {
        file.resize(*options.truncateFileAt);
    }
    return file;
}

KvtBytes writeKvt34(const KvtModel& model, const KvtChunkedOptions& chunked,
                    const KvtChunkedWriteOptions& options) {
    return writeKvt34(kvtBodyChunks(model, chunked), chunked.flags, options);
}

void writeKvtBytesFile(const std::filesystem::path& path, const KvtBytes& bytes) {
    const std::string text(bytes.begin(), bytes.end());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    out.close();
    if (!out) {
        throw std::runtime_error("kvt chunks: cannot write " + path.string());
    }
}

}  // namespace quillmesh::testsupport
