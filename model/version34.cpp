// The chunked ModelFile reader (version 34).
//
// After a 48-byte header the body is a sequence of chunks, each an identifier, a payload size and
// the payload, so unknown chunks can be skipped and known ones may come in any order. The
// geometry chunk nests one chunk per mesh, a mesh nests its vertex, aux-record, polygon and
// UV-sets chunks, and the UV-sets chunk nests one chunk per UV set. The payloads are read by the
// section decoders of the classic reader in one walk; each chunk is read through a cursor of its
// own, so no payload can read into the chunk after it.
//
// Sound handling of what the file cannot be trusted with:
// - A chunk whose end would lie beyond its parent ends with its parent.
// - A section chunk that comes again replaces what the earlier one of its kind read.
// - The vertex, aux-record and UV-sets chunks of every mesh fill the model's shared arrays.
// - An embedded file with a negative size fails the load; one whose bytes run past the body is
//   not kept and the walk stops there. Files beyond kMaxEmbeddedFiles, or beyond the total size
//   the ModelFile's own size allows, are not kept and are counted in the model.
// - Nested compression is followed at most kMaxCompressionDepth times, so an image that
//   decompresses to itself cannot keep the reader busy for ever.
#include <array>
#include <string>

#include "model/container.h"
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

// A chunk's identifier and payload size.
constexpr std::size_t kChunkHeaderBytes = 8;
constexpr std::size_t kHeaderWordCount = 5;
constexpr std::size_t kHeaderSpareBytes = 28;
constexpr int kMaxCompressionDepth = 16;

// Runs `handle(identifier, payload)` on every chunk of `cursor` up to its end.
template <typename Handle>
bool walkChunks(Cursor& cursor, Handle handle) {
    while (!cursor.atEnd()) {
        uint32_t identifier = 0;
        uint32_t size = 0;
        if (!cursor.readU32(identifier) || !cursor.readU32(size)) {
            return false;
        }
        Cursor payload = cursor.sub(size);
        if (!handle(identifier, payload)) {
            return false;
        }
    }
    return true;
}

class ChunkedBodyReader {
  public:
    // `embeddedBudget`: the most bytes all embedded files kept may hold together.
    ChunkedBodyReader(const SectionFormat& format, ModelData& model, uint64_t embeddedBudget)
        : format_(format), model_(model), embeddedBytesLeft_(embeddedBudget) {}

    bool readBody(Cursor& body) {
        return walkChunks(
                   body, [this](uint32_t id, Cursor& payload) { return bodyChunk(id, payload); }) &&
               finishModel(declared_, model_);
    }

  private:
    static ModelPart partOf(uint32_t identifier) {
        switch (identifier) {
            case kChunkLights:
                return ModelPart::kLights;
            case kChunkCameras:
                return ModelPart::kCameras;
            case kChunkMaterials:
                return ModelPart::kMaterials;
            case kChunkGroups:
                return ModelPart::kGroups;
            case kChunkBones:
                return ModelPart::kBones;
            case kChunkAnimations:
                return ModelPart::kAnimations;
            case kChunkEmbeddedFiles:
                return ModelPart::kEmbeddedFiles;
            case kChunkNameList:
                return ModelPart::kNameList;
            case kChunkVertices:
                return ModelPart::kVertices;
            case kChunkAuxRecords:
                return ModelPart::kAuxRecords;
            case kChunkPolygons:
                return ModelPart::kPolygons;
            case kChunkUVSets:
                return ModelPart::kUVSets;
            case kChunkGeometry:
                return ModelPart::kMeshes;
            default:
                return ModelPart::kChunks;
        }
    }

    bool bodyChunk(uint32_t identifier, Cursor& payload) {
        model_.part = partOf(identifier);
        switch (identifier) {
            case kChunkLights:
                return readLights(payload, format_, model_, declared_);
            case kChunkCameras:
                return readCameras(payload, format_, model_, declared_);
            case kChunkMaterials:
                materialsRead_ = true;
                return readMaterials(payload, format_, model_, declared_);
            case kChunkGroups:
                return readGroups(payload, format_, model_, declared_);
            case kChunkBones:
                return readBones(payload, format_, model_, declared_);
            case kChunkAnimations:
                return readAnimations(payload, format_, model_, declared_);
            case kChunkEmbeddedFiles:
                return embeddedFiles(payload);
            case kChunkGeometry:
                return geometry(payload);
            case kChunkNameList:
                return nameList(payload);
            default:
                return true;
        }
    }

    // Embedded files: each file with content is kept in the model for the resolve stage, within
    // the limits on their number and total size; the content of one left out is never copied.
    bool embeddedFiles(Cursor& payload) {
        int32_t count = 0;
        if (!payload.readI32(count)) {
            return false;
        }
        for (int32_t i = 0; i < count; ++i) {
            EmbeddedFile file;
            int32_t size = 0;
            if (!payload.readName(file.name, format_.wideNames()) || !payload.readI32(size) ||
                size < 0) {
                return false;
            }
            std::span<const uint8_t> content;
            if (!payload.view(static_cast<uint32_t>(size), content)) {
                // The content runs past the chunk: nothing to keep, nothing further to read.
                payload.skipToEnd();
                continue;
            }
            if (content.empty()) {
                continue;
            }
            SkippedEmbeddedFiles& skipped = model_.skippedEmbeddedFiles;
            if (model_.embeddedFiles.size() >= kMaxEmbeddedFiles) {
                ++skipped.overFileLimit;
                continue;
            }
            if (content.size() > embeddedBytesLeft_) {
                ++skipped.overSizeLimit;
                continue;
            }
            embeddedBytesLeft_ -= content.size();
            file.content.assign(content.begin(), content.end());
            file.beforeMaterials = !materialsRead_;
            model_.embeddedFiles.push_back(std::move(file));
        }
        return true;
    }

    // Name list: count c, then c names, read and dropped.
    bool nameList(Cursor& payload) {
        int32_t count = 0;
        if (!payload.readI32(count)) {
            return false;
        }
        ModelName name;
        for (int32_t i = 0; i < count; ++i) {
            if (!payload.readName(name, format_.wideNames())) {
                return false;
            }
        }
        return true;
    }

    // Geometry: the mesh count, then one mesh chunk per mesh.
    bool geometry(Cursor& payload) {
        int32_t meshCount = 0;
        if (!payload.readI32(meshCount)) {
            return false;
        }
        declared_.meshes = meshCount;
        model_.meshes.release();
        if (meshCount > 0) {
            // Every mesh must be able to have its chunk in what is left of the payload.
            if (!payload.fits(meshCount, kChunkHeaderBytes) ||
                !format_.take(static_cast<uint64_t>(meshCount), sizeof(ModelMesh))) {
                return false;
            }
            model_.meshes.items.resize(static_cast<std::size_t>(meshCount));
            model_.meshes.count = meshCount;
        }
        std::size_t meshIndex = 0;
        return walkChunks(payload, [&](uint32_t identifier, Cursor& meshPayload) {
            if (identifier != kChunkMesh) {
                return true;
            }
            if (meshIndex >= model_.meshes.items.size()) {
                return false;
            }
            return mesh(meshPayload, model_.meshes.items[meshIndex++]);
        });
    }

    bool mesh(Cursor& payload, ModelMesh& target) {
        return walkChunks(payload, [&](uint32_t identifier, Cursor& chunk) {
            model_.part = partOf(identifier);
            switch (identifier) {
                case kChunkVertices:
                    return readVertices(chunk, format_, model_, declared_);
                case kChunkAuxRecords:
                    return readAuxRecords(chunk, format_, model_);
                case kChunkPolygons:
                    return readExactPolygons(chunk, format_, target);
                case kChunkUVSets:
                    return uvSets(chunk);
                default:
                    return true;
            }
        });
    }

    // UV sets: the count, then one UV-set chunk per set. The sets keep their default names.
    bool uvSets(Cursor& payload) {
        int32_t count = 0;
        if (!payload.readI32(count)) {
            return false;
        }
        declared_.uvSets = count;
        model_.uvSets.release();
        if (count > 0) {
            // Every set must be able to have its chunk in what is left of the payload.
            if (!payload.fits(count, kChunkHeaderBytes) ||
                !format_.take(static_cast<uint64_t>(count), sizeof(UVSet))) {
                return false;
            }
            model_.uvSets.items.resize(static_cast<std::size_t>(count));
            model_.uvSets.count = count;
            for (int32_t i = 0; i < count; ++i) {
                const std::string name = "UVSet" + std::to_string(i + 1);
                static_cast<void>(
                    model_.uvSets.items[static_cast<std::size_t>(i)].name.assignNarrow(name));
            }
        }
        std::size_t setIndex = 0;
        return walkChunks(payload, [&](uint32_t identifier, Cursor& setPayload) {
            if (identifier != kChunkUVSet) {
                return true;
            }
            if (setIndex >= model_.uvSets.items.size()) {
                return false;
            }
            return uvSet(setPayload, model_.uvSets.items[setIndex++]);
        });
    }

    bool uvSet(Cursor& payload, UVSet& target) {
        ModelName dropped;
        if (!payload.readName(dropped, format_.wideNames())) {
            return false;
        }
        return walkChunks(payload, [&](uint32_t identifier, Cursor& chunk) {
            switch (identifier) {
                case kChunkUVCoords:
                    return readUVCoords(chunk, format_, target);
                case kChunkUVSetAux:
                    return readUVSetAux(chunk, format_, target);
                default:
                    return true;
            }
        });
    }

    const SectionFormat& format_;
    ModelData& model_;
    DeclaredCounts declared_;
    // Whether the walk has met a materials chunk.
    bool materialsRead_ = false;
    uint64_t embeddedBytesLeft_;
};

}  // namespace

int parseChunkedImage(std::span<const uint8_t> bytes, ModelData& model) {
    // Taken from the file as given, before any decompression.
    const uint64_t embeddedBudget = kEmbeddedBytesPerFileByte * bytes.size();
    std::vector<uint8_t> inflated;
    for (int depth = 0;; ++depth) {
        model.part = ModelPart::kHeader;
        Cursor cursor(bytes);
        std::array<uint32_t, kHeaderWordCount> words{};
        for (uint32_t& word : words) {
            if (!cursor.readU32(word)) {
                return kLoadFailed;
            }
        }
        if (!cursor.skip(kHeaderSpareBytes)) {
            return kLoadFailed;
        }
        if (words[0] != kModelMagic) {
            return kLoadBadMagic;
        }
        if (words[1] != kChunkedModelVersion) {
            return kLoadUnsupportedVersion;
        }
        if ((words[2] & kFlagCompressed) != 0) {
            model.part = ModelPart::kCompressedBody;
            // Word 4 of this header holds the stream offset.
            std::vector<uint8_t> inner;
            if (depth >= kMaxCompressionDepth ||
                !inflateImage(bytes, words[4], words[3], model.memory, inner)) {
                return kLoadFailed;
            }
            inflated = std::move(inner);
            bytes = inflated;
            continue;
        }
        if (words[3] != bytes.size()) {
            return kLoadLengthMismatch;
        }
        model.version = static_cast<int32_t>(kChunkedModelVersion);
        model.part = ModelPart::kChunkDirectory;
        // The directory chunk comes first; its entries are not needed to read the body.
        uint32_t identifier = 0;
        uint32_t size = 0;
        if (!cursor.readU32(identifier) || !cursor.readU32(size) || identifier != kChunkDirectory) {
            return kLoadFailed;
        }
        static_cast<void>(cursor.sub(size));
        const SectionFormat format{model.version, words[2], &model.memory, true};
        return ChunkedBodyReader(format, model, embeddedBudget).readBody(cursor) ? kLoadSucceeded
                                                                                 : kLoadFailed;
    }
}

}  // namespace quillmesh
