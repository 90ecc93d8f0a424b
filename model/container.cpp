// The container layer: from a path or a byte image to a filled model. Reads the file whole,
// checks the header, decompresses a compressed body, decodes the classic sections in one pass
// (version-34 files go to the chunked reader) and applies the defaults that depend on the whole
// file. A load that does not succeed leaves an empty model.
#include <algorithm>
#include <array>
#include <exception>
#include <limits>
#include <new>
#include <optional>
#include <string>
#include <utility>

#include <zlib.h>

#include "model/container.h"
#include "model/sections.h"
#include "platform/platform.h"

namespace quillmesh {
namespace {

// A zlib stream cannot expand its input more than about 1032 to 1; an image size beyond that
// for the stream's bytes is a lie, refused before allocating it.
constexpr uint64_t kMaxZlibExpansion = 1032;
// Room made at first for a stream's image, as a multiple of the stream's bytes.
constexpr uint64_t kLikelyExpansion = 16;
// Output window of the pass that learns the length of a stream expanding beyond that.
constexpr std::size_t kInflateWindowBytes = std::size_t{1} << 16;

// Image words filled by the second part of a short header.
constexpr std::size_t kShortHeaderFirstPart = 14;
constexpr std::size_t kShortHeaderSecondPartStart = 18;

constexpr int32_t kDefaultUVSetCount = 2;

std::size_t boundedLength(const char16_t* text, std::size_t limit) {
    std::size_t length = 0;
    while (length <= limit && text[length] != u'\0') {
        ++length;
    }
    return length;
}

bool readWords(Cursor& cursor, ModelHeader& header, std::size_t first, std::size_t end) {
    for (std::size_t word = first; word < end; ++word) {
        if (!cursor.readU32(header.words[word])) {
            return false;
        }
    }
    return true;
}

// The header at the cursor, short or long by its version word.
bool readHeader(Cursor& cursor, ModelHeader& header) {
    header.words.fill(0);
    if (!readWords(cursor, header, 0, 4)) {
        return false;
    }
    if (header.version() >= kLongHeaderVersion) {
        return readWords(cursor, header, 4, kHeaderImageWords);
    }
    const std::size_t secondPartWords = kShortHeaderWords - kShortHeaderFirstPart;
    return readWords(cursor, header, 4, kShortHeaderFirstPart) &&
           readWords(cursor, header, kShortHeaderSecondPartStart,
                     kShortHeaderSecondPartStart + secondPartWords);
}

// `count` elements named prefix + (index + firstNumber).
template <typename T>
void makeNamedDefaults(ElementSlot<T>& slot, int32_t count, const char* prefix,
                       int32_t firstNumber) {
    slot.release();
    slot.items.resize(static_cast<std::size_t>(count));
    slot.count = count;
    for (int32_t i = 0; i < count; ++i) {
        const std::string text = prefix + std::to_string(i + firstNumber);
        static_cast<void>(slot.items[static_cast<std::size_t>(i)].name.assignNarrow(text));
    }
}

// The classic body: the ten sections in file order, the aux-record and UV-set sections only from
// version 30 on.
bool readClassicBody(Cursor& cursor, const SectionFormat& format, ModelData& model,
                     DeclaredCounts& declared) {
    // Each read names its part first, so that the part of a failed parse is the one it was in.
    const auto in = [&model](ModelPart part) {
        model.part = part;
        return true;
    };
    if (!(in(ModelPart::kLights) && readLights(cursor, format, model, declared)) ||
        !(in(ModelPart::kCameras) && readCameras(cursor, format, model, declared)) ||
        !(in(ModelPart::kMaterials) && readMaterials(cursor, format, model, declared)) ||
        !(in(ModelPart::kGroups) && readGroups(cursor, format, model, declared)) ||
        !(in(ModelPart::kVertices) && readVertices(cursor, format, model, declared))) {
        return false;
    }
    if (format.newLayout()) {
        if (!(in(ModelPart::kAuxRecords) && readAuxRecords(cursor, format, model)) ||
            !(in(ModelPart::kUVSets) && readUVSets(cursor, format, model, declared))) {
            return false;
        }
    } else {
        // Old files keep their UV coordinates inline in the polygons, which fill these sets.
        makeDefaultUVSets(model);
    }
    return in(ModelPart::kMeshes) && readMeshes(cursor, format, model, declared) &&
           in(ModelPart::kBones) && readBones(cursor, format, model, declared) &&
           in(ModelPart::kAnimations) && readAnimations(cursor, format, model, declared);
}

int parseImage(std::span<const uint8_t> bytes, ModelData& model) {
    Cursor cursor(bytes);
    // Chunked files have a shorter header of their own, so they are told apart by the version
    // word alone: a small chunked file may be shorter than a classic header.
    uint32_t magic = 0;
    uint32_t version = 0;
    if (cursor.readU32(magic) && cursor.readU32(version) && version >= kChunkedModelVersion) {
        return parseChunkedImage(bytes, model);
    }
    cursor = Cursor(bytes);
    model.part = ModelPart::kHeader;
    ModelHeader header;
    if (!readHeader(cursor, header)) {
        return kLoadFailed;
    }
    if (header.magic() != kModelMagic) {
        return kLoadBadMagic;
    }
    if (header.version() < kMinimumModelVersion) {
        return kLoadUnsupportedVersion;
    }
    std::vector<uint8_t> inflated;
    if (header.hasFlag(kFlagCompressed)) {
        model.part = ModelPart::kCompressedBody;
        if (!inflateImage(bytes, header.streamOffset(), header.totalLength(), model.memory,
                          inflated)) {
            return kLoadFailed;
        }
        // The inner header is checked for magic, length and the lowest version only: its
        // compression bit and the chunked-version limit do not apply to it.
        bytes = inflated;
        cursor = Cursor(bytes);
        model.part = ModelPart::kHeader;
        if (!readHeader(cursor, header)) {
            return kLoadFailed;
        }
        if (header.magic() != kModelMagic) {
            return kLoadBadMagic;
        }
        if (header.totalLength() != bytes.size()) {
            return kLoadLengthMismatch;
        }
        if (header.version() < kMinimumModelVersion) {
            return kLoadUnsupportedVersion;
        }
    } else if (header.totalLength() != bytes.size()) {
        return kLoadLengthMismatch;
    }
    model.version = static_cast<int32_t>(header.version());
    const SectionFormat format{model.version, header.flags(), &model.memory};
    DeclaredCounts declared;
    if (!readClassicBody(cursor, format, model, declared) || !finishModel(declared, model)) {
        return kLoadFailed;
    }
    return kLoadSucceeded;
}

}  // namespace

MemoryBudget MemoryBudget::forFile(uint64_t fileBytes) noexcept {
    MemoryBudget budget;
    budget.fileBytes = fileBytes;
    const uint64_t perByteLimit =
        (std::numeric_limits<uint64_t>::max() - kMemoryFloorBytes) / kMemoryBytesPerFileByte;
    budget.limitBytes = fileBytes > perByteLimit
                            ? std::numeric_limits<uint64_t>::max()
                            : kMemoryFloorBytes + fileBytes * kMemoryBytesPerFileByte;
    return budget;
}

bool MemoryBudget::fits(uint64_t count, uint64_t elementBytes) const noexcept {
    const uint64_t left = usedBytes < limitBytes ? limitBytes - usedBytes : 0;
    return elementBytes == 0 || count <= left / elementBytes;
}

bool MemoryBudget::take(uint64_t count, uint64_t elementBytes) noexcept {
    if (!fits(count, elementBytes)) {
        const uint64_t most = std::numeric_limits<uint64_t>::max();
        refusedBytes = count > most / elementBytes ? most : count * elementBytes;
        return false;
    }
    usedBytes += count * elementBytes;
    return true;
}

uint64_t MemoryBudget::neededBytes() const noexcept {
    const uint64_t most = std::numeric_limits<uint64_t>::max();
    return refusedBytes > most - usedBytes ? most : usedBytes + refusedBytes;
}

namespace {

// Runs the zlib stream `source` through inflate, asking `room(produced)` before every step where
// the next bytes go (an empty span stops it). Returns the bytes produced when the stream ended.
template <typename Room>
std::optional<uint64_t> runInflate(std::span<const uint8_t> source, Room room) {
    z_stream stream{};
    stream.next_in = const_cast<Bytef*>(source.data());
    stream.avail_in = static_cast<uInt>(source.size());
    if (inflateInit(&stream) != Z_OK) {
        return std::nullopt;
    }
    uint64_t produced = 0;
    int status = Z_OK;
    while (status == Z_OK) {
        const std::span<uint8_t> out = room(produced);
        if (out.empty()) {
            break;
        }
        const auto size =
            static_cast<uInt>(std::min<std::size_t>(out.size(), std::numeric_limits<uInt>::max()));
        stream.next_out = out.data();
        stream.avail_out = size;
        status = inflate(&stream, Z_NO_FLUSH);
        produced += size - stream.avail_out;
    }
    inflateEnd(&stream);
    if (status != Z_STREAM_END) {
        return std::nullopt;
    }
    return produced;
}

}  // namespace

bool inflateImage(std::span<const uint8_t> bytes, uint32_t streamOffset, uint32_t imageLength,
                  MemoryBudget& memory, std::vector<uint8_t>& out) {
    // An offset beyond the end leaves no stream at all (and must not wrap the source length).
    if (bytes.empty() || imageLength == 0 || streamOffset > bytes.size()) {
        return false;
    }
    const std::span<const uint8_t> source = bytes.subspan(streamOffset);
    if (imageLength > uint64_t{source.size()} * kMaxZlibExpansion ||
        source.size() > std::numeric_limits<uInt>::max()) {
        return false;
    }
    // Most streams expand a few times: room for kLikelyExpansion times the stream (never more
    // than declared, nor than the budget allows) is made first and usually takes the whole
    // image. A stream that goes on beyond it runs on through a small window only to learn its
    // length, so that neither the header's claim nor a stream expanding beyond the budget costs
    // memory; the image is then made once at that length and the stream inflated again into it.
    const uint64_t left = memory.limitBytes - std::min(memory.usedBytes, memory.limitBytes);
    std::vector<uint8_t> image;
    const uint64_t first =
        std::min({uint64_t{imageLength}, uint64_t{source.size()} * kLikelyExpansion, left});
    platform::reserveLarge(image, static_cast<std::size_t>(first));
    image.resize(static_cast<std::size_t>(first));
    std::vector<uint8_t> window;
    bool overBudget = false;
    uint64_t counted = 0;
    const std::optional<uint64_t> length = runInflate(source, [&](uint64_t produced) {
        if (produced < image.size()) {
            return std::span<uint8_t>(image).subspan(static_cast<std::size_t>(produced));
        }
        counted = produced;
        overBudget = produced > left;
        // A stream holding more than the header declares is damaged.
        if (overBudget || produced > imageLength) {
            return std::span<uint8_t>();
        }
        window.resize(kInflateWindowBytes);
        return std::span<uint8_t>(window);
    });
    if (overBudget) {
        // Records the refusal with what the stream had produced by then.
        static_cast<void>(memory.take(counted, 1));
        return false;
    }
    if (!length.has_value() || *length == 0 || *length > imageLength || !memory.take(*length, 1)) {
        return false;
    }
    if (*length > image.size()) {
        std::vector<uint8_t>().swap(image);
        platform::reserveLarge(image, static_cast<std::size_t>(*length));
        image.resize(static_cast<std::size_t>(*length));
        const std::optional<uint64_t> inflated = runInflate(source, [&](uint64_t produced) {
            return std::span<uint8_t>(image).subspan(static_cast<std::size_t>(produced));
        });
        if (inflated != length) {
            return false;
        }
    }
    // Shrinking never allocates.
    image.resize(static_cast<std::size_t>(*length));
    out = std::move(image);
    return true;
}

void makeDefaultUVSets(ModelData& model) {
    makeNamedDefaults(model.uvSets, kDefaultUVSetCount, "UVSet", 1);
    model.defaultUVSets = true;
}

bool finishModel(const DeclaredCounts& declared, ModelData& model) {
    // A file that declares no element at all is not a model.
    model.part = ModelPart::kElements;
    if (declared.materials == 0 && declared.lights == 0 && declared.cameras == 0 &&
        declared.groups == 0 && declared.vertices == 0 && declared.meshes == 0 &&
        declared.bones == 0 && declared.animations == 0) {
        return false;
    }
    if (declared.groups == 0) {
        makeNamedDefaults(model.groups, 1, "KVTGroup", 0);
        model.defaultGroup = true;
    }
    if (declared.uvSets == 0 && model.uvSets.items.empty()) {
        makeDefaultUVSets(model);
    }
    fitBoneTracks(model);
    model.part = ModelPart::kNone;
    return true;
}

std::span<VertexWeight> ModelData::weightsOf(const ModelVertex& vertex) noexcept {
    const std::span<const VertexWeight> weights = std::as_const(*this).weightsOf(vertex);
    return {const_cast<VertexWeight*>(weights.data()), weights.size()};
}

std::span<const VertexWeight> ModelData::weightsOf(const ModelVertex& vertex) const noexcept {
    const uint64_t first = vertex.firstWeight;
    if (vertex.weightCount <= 0 || first > vertexWeights.size() ||
        static_cast<uint64_t>(vertex.weightCount) > vertexWeights.size() - first) {
        return {};
    }
    return {vertexWeights.data() + first, static_cast<std::size_t>(vertex.weightCount)};
}

const char* modelPartText(ModelPart part) noexcept {
    switch (part) {
        case ModelPart::kNone:
            return "the file";
        case ModelPart::kHeader:
            return "the header";
        case ModelPart::kCompressedBody:
            return "the compressed body";
        case ModelPart::kChunkDirectory:
            return "the chunk directory";
        case ModelPart::kLights:
            return "the lights section";
        case ModelPart::kCameras:
            return "the cameras section";
        case ModelPart::kMaterials:
            return "the materials section";
        case ModelPart::kGroups:
            return "the groups section";
        case ModelPart::kVertices:
            return "the vertices section";
        case ModelPart::kAuxRecords:
            return "the aux-records section";
        case ModelPart::kUVSets:
            return "the UV-sets section";
        case ModelPart::kMeshes:
            return "the meshes section";
        case ModelPart::kPolygons:
            return "a mesh's polygons";
        case ModelPart::kBones:
            return "the bones section";
        case ModelPart::kAnimations:
            return "the animations section";
        case ModelPart::kEmbeddedFiles:
            return "the embedded files";
        case ModelPart::kNameList:
            return "the name list";
        case ModelPart::kChunks:
            return "the chunk layout";
        case ModelPart::kElements:
            return "the model's elements";
    }
    return "the file";
}

void ModelData::clearModel() noexcept {
    lights.release();
    cameras.release();
    groups.release();
    bones.release();
    materials.release();
    vertices.release();
    std::vector<VertexWeight>().swap(vertexWeights);
    auxRecords.release();
    uvSets.release();
    animations.release();
    meshes.release();
    std::vector<EmbeddedFile>().swap(embeddedFiles);
    skippedEmbeddedFiles = {};
    defaultGroup = false;
    defaultUVSets = false;
}

int parseModelImage(std::span<const uint8_t> bytes, ModelData& model) noexcept {
    model.clearModel();
    model.memory = MemoryBudget::forFile(bytes.size());
    model.part = ModelPart::kHeader;
    int result = kLoadFailed;
    try {
        result = parseImage(bytes, model);
    } catch (const std::exception&) {
        // Exhausted memory (or a container size error) fails the load.
        result = kLoadFailed;
    }
    if (result != kLoadSucceeded) {
        model.clearModel();
    }
    return result;
}

int KVTPlugin::loadModel(const char16_t* path) noexcept {
    clearModel();
    model.memory = MemoryBudget{};
    model.part = ModelPart::kNone;
    if (path == nullptr) {
        return kLoadCannotOpen;
    }
    const std::size_t pathLength = boundedLength(path, kSourcePathMaxLength);
    if (pathLength > kSourcePathMaxLength) {
        return kLoadCannotOpen;
    }
    std::vector<uint8_t> image;
    try {
        std::u16string pathText(path, pathLength);
        switch (platform::readWholeFile(pathText, image)) {
            case platform::FileReadStatus::kOk:
                break;
            case platform::FileReadStatus::kCannotOpen:
                return kLoadCannotOpen;
            case platform::FileReadStatus::kCannotRead:
            case platform::FileReadStatus::kTooLarge:
                return kLoadFailed;
        }
        sourcePath = std::move(pathText);
    } catch (const std::bad_alloc&) {
        return kLoadFailed;
    }
    if (image.size() > std::numeric_limits<uint32_t>::max()) {
        return kLoadFailed;
    }
    return parseModelImage(image, model);
}

int KVTPlugin::loadModelFromMemory(std::span<const uint8_t> bytes,
                                   const std::u16string& path) noexcept {
    clearModel();
    model.memory = MemoryBudget{};
    model.part = ModelPart::kNone;
    if (path.size() > kSourcePathMaxLength) {
        return kLoadCannotOpen;
    }
    try {
        sourcePath = path;
    } catch (const std::bad_alloc&) {
        return kLoadFailed;
    }
    if (bytes.size() > std::numeric_limits<uint32_t>::max()) {
        return kLoadFailed;
    }
    return parseModelImage(bytes, model);
}

}  // namespace quillmesh
