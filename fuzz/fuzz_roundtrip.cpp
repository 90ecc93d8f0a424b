// libFuzzer target: the input chooses a model and how our ModelFile writers write it (version 6
// to 34, compression, header words, trailing bytes, chunk order, unknown chunks, counts, names
// and values; fuzz/roundtrip_input.h describes the leading bytes). The reader parses the written
// bytes, and what it loaded must be what was written, field by field, as the layout of that
// version stores it: old record layouts keep only their fields, classic polygons hold at least
// three corners and exactly two UV layers, missing groups and UV sets get their default ones,
// animations get one track per bone, and names are cut at 259 units or at a NUL. A file that
// declares no element, a material with a repeated map key and version-34 geometry without a mesh
// must fail the load instead. Any difference aborts with the path of the field.
#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

#include "fuzz/roundtrip_input.h"
#include "model/kvt_plugin.h"
#include "tests/support/kvt_chunks.h"
#include "tests/support/kvt_writer.h"

namespace {

namespace ts = quillmesh::testsupport;
namespace qm = quillmesh;

// ---------------------------------------------------------------------------------------------
// Choices: the input read front to back, zeros once it runs out.

class Choices {
  public:
    explicit Choices(std::span<const uint8_t> bytes) : bytes_(bytes) {}

    uint8_t byte() { return next_ < bytes_.size() ? bytes_[next_++] : 0; }
    uint32_t word() {
        uint32_t value = 0;
        for (int i = 0; i < 4; ++i) {
            value |= static_cast<uint32_t>(byte()) << (8 * i);
        }
        return value;
    }
    // 0 to `limit`.
    std::size_t upTo(std::size_t limit) { return byte() % (limit + 1); }
    bool chance() { return (byte() & 1) != 0; }
    // Mostly small values, sometimes any 32 bits.
    int32_t integer() {
        const uint8_t shape = byte();
        return shape < 0xF0 ? static_cast<int32_t>(shape) - 0x40 : static_cast<int32_t>(word());
    }
    // Mostly quarters of small integers, sometimes any bit pattern (NaNs included).
    float real() {
        const uint8_t shape = byte();
        return shape < 0xF0 ? static_cast<float>(static_cast<int>(shape) - 0x40) * 0.25f
                            : std::bit_cast<float>(word());
    }

  private:
    std::span<const uint8_t> bytes_;
    std::size_t next_ = 0;
};

// ---------------------------------------------------------------------------------------------
// The written model.

struct Plan {
    int32_t version = 0;
    bool chunked = false;
    ts::KvtModel model;
    // Classic files.
    ts::KvtWriteOptions classic;
    // Version-34 files.
    ts::KvtChunkedOptions chunkedOptions;
    ts::KvtChunkedWriteOptions chunkedWrite;
    // Whether the embedded-files chunk comes before the materials chunk (or there is none).
    bool embeddedBeforeMaterials = true;

    bool newLayout() const { return chunked || version >= 30; }
    bool newMapLayout() const { return version >= 31; }
    bool wideNames() const { return version == 10 || version >= 32; }
};

ts::KvtName makeName(Choices& choices, bool wide) {
    const uint8_t shape = choices.byte();
    // Now and then a name around the 259-unit limit of the reader's names.
    const std::size_t length = shape >= 0xF8 ? 254 + choices.upTo(10) : shape % 8;
    std::u16string text;
    for (std::size_t i = 0; i < length; ++i) {
        const uint8_t unit = choices.byte();
        if (wide && unit >= 0xE0) {
            const uint8_t low = choices.byte();
            text.push_back(static_cast<char16_t>(low | choices.byte() << 8));
        } else {
            text.push_back(unit);
        }
    }
    return ts::KvtName(std::move(text));
}

ts::KvtVec3 makeVec3(Choices& choices) {
    return {choices.real(), choices.real(), choices.real()};
}

ts::KvtVec4 makeVec4(Choices& choices) {
    return {choices.real(), choices.real(), choices.real(), choices.real()};
}

ts::KvtTransform makeTransform(Choices& choices) {
    ts::KvtTransform transform;
    if (!choices.chance()) {
        return transform;
    }
    transform.xAxis = makeVec3(choices);
    transform.yAxis = makeVec3(choices);
    transform.zAxis = makeVec3(choices);
    transform.position = makeVec3(choices);
    transform.scale = makeVec3(choices);
    for (float& value : transform.matrix) {
        value = choices.real();
    }
    transform.rotation = makeVec4(choices);
    transform.eulerAngles = makeVec3(choices);
    return transform;
}

ts::KvtMap makeMap(Choices& choices, const Plan& plan) {
    const bool wide = plan.wideNames();
    ts::KvtMap map;
    map.key = choices.integer();
    map.kind = static_cast<int32_t>(choices.upTo(8));
    map.mapFlags = choices.integer();
    if (plan.newMapLayout()) {
        map.mapOffset = makeVec3(choices);
        map.mapScale = makeVec3(choices);
        map.mapAngles = makeVec3(choices);
    } else {
        map.oldUnused = {choices.integer(), choices.integer()};
        if (choices.chance()) {
            map.oldPayloadWord = choices.integer();
        }
    }
    map.fileName = makeName(choices, wide);
    map.mode = choices.integer();
    map.paramA = choices.real();
    map.paramB = choices.real();
    map.paramC = choices.real();
    map.paramD = choices.real();
    map.packedValue = choices.integer();
    map.extraValue = choices.integer();
    if (map.kind == 4) {
        const std::size_t layers = choices.upTo(plan.newMapLayout() ? 4 : 3);
        for (std::size_t i = 0; i < layers; ++i) {
            map.layers.push_back(ts::KvtMapLayer{.fileName = makeName(choices, wide),
                                                 .layerA = choices.integer(),
                                                 .layerB = choices.integer(),
                                                 .layerWeight = choices.real()});
        }
        map.oldLayerUnused = {choices.integer(), choices.integer(), choices.integer()};
    }
    if (map.kind == 5) {
        for (ts::KvtName& face : map.faces) {
            face = makeName(choices, wide);
        }
    }
    return map;
}

ts::KvtMaterial makeMaterial(Choices& choices, const Plan& plan) {
    ts::KvtMaterial material;
    material.name = makeName(choices, plan.wideNames());
    material.flags = choices.integer();
    if (choices.chance()) {
        for (ts::KvtVec4& colour : material.colours) {
            colour = makeVec4(choices);
        }
    }
    material.shininess = choices.real();
    material.opacity = choices.real();
    const std::size_t maps = choices.upTo(4);
    for (std::size_t i = 0; i < maps; ++i) {
        material.maps.push_back(makeMap(choices, plan));
    }
    return material;
}

ts::KvtPolygon makePolygon(Choices& choices, const Plan& plan) {
    ts::KvtPolygon polygon;
    const std::size_t corners = choices.upTo(6);
    for (std::size_t j = 0; j < corners; ++j) {
        polygon.vertices.push_back(choices.integer());
    }
    polygon.materialIndex = choices.integer();
    polygon.polygonValue = choices.integer();
    const std::size_t layers = choices.upTo(3);
    if (plan.newLayout()) {
        polygon.polygonTag = choices.integer();
        const std::size_t values = choices.upTo(corners);
        for (std::size_t j = 0; j < values; ++j) {
            polygon.cornerValues.push_back(choices.integer());
        }
        for (std::size_t l = 0; l < layers; ++l) {
            ts::KvtUVLayer layer;
            const std::size_t indices = choices.upTo(corners);
            for (std::size_t j = 0; j < indices; ++j) {
                layer.uvIndices.push_back(choices.integer());
            }
            const std::size_t uvValues = choices.upTo(corners);
            for (std::size_t j = 0; j < uvValues; ++j) {
                layer.uvValues.push_back(choices.integer());
            }
            polygon.uvLayers.push_back(std::move(layer));
        }
    } else {
        for (std::size_t l = 0; l < layers; ++l) {
            std::vector<ts::KvtInlineUV> uvs;
            const std::size_t stored = choices.upTo(corners);
            for (std::size_t j = 0; j < stored; ++j) {
                uvs.push_back({choices.real(), choices.real(), choices.real()});
            }
            polygon.inlineUVs.push_back(std::move(uvs));
        }
    }
    return polygon;
}

ts::KvtAuxRecord makeAuxRecord(Choices& choices) {
    ts::KvtAuxRecord record;
    for (int32_t& value : record.values) {
        value = choices.integer();
    }
    record.scalar = choices.real();
    return record;
}

template <typename Key>
std::vector<Key> makeKeys(Choices& choices) {
    std::vector<Key> keys(choices.upTo(3));
    for (Key& key : keys) {
        key.time = choices.real();
        if constexpr (std::is_same_v<Key, ts::KvtRotationKey>) {
            key.value = makeVec4(choices);
        } else {
            key.value = makeVec3(choices);
        }
    }
    return keys;
}

// Header words the reader carries without interpreting: not the magic, version, flags or length
// (0 to 3), not the name-list count (24), not the stream offset (5) of a compressed file, and in
// the short layout only the words it stores.
void fillHeaderWords(Choices& choices, Plan& plan) {
    if (!choices.chance()) {
        return;
    }
    const bool longLayout = plan.version >= 30;
    for (std::size_t word = 4; word < plan.model.headerWords.size(); ++word) {
        const bool stored = longLayout || word < 14 || (word >= 18 && word < 28);
        if (stored && word != 24 && !(word == 5 && plan.classic.compressed)) {
            plan.model.headerWords[word] = choices.word();
        }
    }
}

void makeModel(Choices& choices, Plan& plan) {
    ts::KvtModel& model = plan.model;
    const bool wide = plan.wideNames();
    model.version = plan.version;
    // Any flags but compression, which the writers set themselves.
    uint32_t flags = choices.byte() & 0x0Fu;
    if (choices.byte() >= 0xF0) {
        flags |= choices.word() & ~0x1Fu;
    }
    model.flags = flags;
    plan.chunkedOptions.flags = flags;

    model.lights.resize(choices.upTo(3));
    for (ts::KvtLight& light : model.lights) {
        light.name = makeName(choices, wide);
        light.code = choices.integer();
        light.option = choices.integer();
        light.transform = makeTransform(choices);
        light.transform.position = makeVec3(choices);
        for (float& value : light.params) {
            value = choices.real();
        }
        light.colour = makeVec4(choices);
        light.extraParams = {choices.real(), choices.real()};
    }
    model.cameras.resize(choices.upTo(3));
    for (ts::KvtCamera& camera : model.cameras) {
        camera.name = makeName(choices, wide);
        camera.code = choices.integer();
        camera.option = choices.integer();
        camera.transform = makeTransform(choices);
        camera.transform.position = makeVec3(choices);
        camera.fieldOfView = choices.real();
        camera.nearClip = choices.real();
        camera.farClip = choices.real();
    }
    const std::size_t materials = choices.upTo(3);
    for (std::size_t i = 0; i < materials; ++i) {
        model.materials.push_back(makeMaterial(choices, plan));
    }
    model.groups.resize(choices.upTo(3));
    for (ts::KvtGroup& group : model.groups) {
        group.name = makeName(choices, wide);
        group.groupTag = choices.integer();
        group.groupLink = choices.integer();
        group.transform = makeTransform(choices);
    }
    model.vertices.resize(choices.upTo(12));
    for (ts::KvtVertex& vertex : model.vertices) {
        vertex.position = makeVec3(choices);
        vertex.normal = makeVec3(choices);
        vertex.colour = makeVec4(choices);
        vertex.weights.resize(choices.upTo(3));
        for (ts::KvtWeight& weight : vertex.weights) {
            weight = {choices.integer(), choices.real()};
        }
        if (plan.chunked) {
            vertex.extraVectors = {makeVec3(choices), makeVec3(choices)};
        }
    }
    if (plan.newLayout()) {
        model.auxRecords.resize(choices.upTo(3));
        for (ts::KvtAuxRecord& record : model.auxRecords) {
            record = makeAuxRecord(choices);
        }
        model.uvSets.resize(choices.upTo(3));
        for (ts::KvtUVSet& set : model.uvSets) {
            set.name = makeName(choices, wide);
            set.coords.resize(choices.upTo(6));
            for (ts::KvtUVCoord& coord : set.coords) {
                coord = {choices.integer(), choices.real(), choices.real()};
            }
            set.auxRecords.resize(choices.upTo(2));
            for (ts::KvtAuxRecord& record : set.auxRecords) {
                record = makeAuxRecord(choices);
            }
        }
    }
    model.meshes.resize(choices.upTo(3));
    for (ts::KvtMesh& mesh : model.meshes) {
        mesh.tag = choices.integer();
        mesh.polygons.resize(choices.upTo(6));
        for (ts::KvtPolygon& polygon : mesh.polygons) {
            polygon = makePolygon(choices, plan);
        }
    }
    model.bones.resize(choices.upTo(4));
    for (ts::KvtBone& bone : model.bones) {
        bone.name = makeName(choices, wide);
        bone.boneLink = choices.integer();
        bone.transform = makeTransform(choices);
        bone.transform.position = makeVec3(choices);
        bone.transform.rotation = makeVec4(choices);
        bone.transform.scale = makeVec3(choices);
        bone.colour = makeVec4(choices);
    }
    model.animations.resize(choices.upTo(2));
    for (ts::KvtAnimation& animation : model.animations) {
        animation.name = makeName(choices, wide);
        animation.tag = choices.integer();
        animation.start = choices.real();
        animation.end = choices.real();
        animation.rate = choices.real();
        animation.tracks.resize(choices.upTo(5));
        for (ts::KvtTrack& track : animation.tracks) {
            track.positionKeys = makeKeys<ts::KvtPositionKey>(choices);
            track.rotationKeys = makeKeys<ts::KvtRotationKey>(choices);
            track.scaleKeys = makeKeys<ts::KvtScaleKey>(choices);
        }
    }
    model.nameListCount = choices.integer();
}

ts::KvtChunk unknownChunk(Choices& choices) {
    ts::KvtChunk chunk{.id = 0xEEEE0000u | choices.byte()};
    chunk.payload.resize(choices.upTo(12));
    for (uint8_t& byte : chunk.payload) {
        byte = choices.byte();
    }
    return chunk;
}

// Unknown chunks among `chunks` from `first` on, and with `shuffle` the chunks from `first` in
// any order.
void shuffleAndPad(Choices& choices, std::vector<ts::KvtChunk>& chunks, std::size_t first,
                   bool shuffle) {
    for (std::size_t i = chunks.size(); shuffle && i > first + 1; --i) {
        const std::size_t j = first + choices.upTo(i - 1 - first);
        std::swap(chunks[i - 1], chunks[j]);
    }
    const std::size_t unknown = choices.upTo(2);
    for (std::size_t k = 0; k < unknown; ++k) {
        const std::size_t at = first + choices.upTo(chunks.size() - first);
        chunks.insert(chunks.begin() + static_cast<std::ptrdiff_t>(at), unknownChunk(choices));
    }
}

std::size_t indexOf(const std::vector<ts::KvtChunk>& chunks, uint32_t id) {
    for (std::size_t i = 0; i < chunks.size(); ++i) {
        if (chunks[i].id == id) {
            return i;
        }
    }
    return chunks.size();
}

ts::KvtBytes writeChunked(Choices& choices, Plan& plan) {
    ts::KvtChunkedOptions& options = plan.chunkedOptions;
    if (choices.chance()) {
        options.directoryEntries.resize(1 + choices.upTo(3));
        for (auto& [id, value] : options.directoryEntries) {
            id = choices.word();
            value = choices.word();
        }
    }
    options.embeddedFiles.resize(choices.upTo(3));
    for (ts::KvtEmbeddedFile& file : options.embeddedFiles) {
        file.name = makeName(choices, true);
        file.content.resize(choices.upTo(8));
        for (uint8_t& byte : file.content) {
            byte = choices.byte();
        }
    }
    if (choices.chance()) {
        std::vector<ts::KvtName> names(choices.upTo(3));
        for (ts::KvtName& name : names) {
            name = makeName(choices, true);
        }
        options.nameList = std::move(names);
    }
    ts::KvtChunkedWriteOptions& write = plan.chunkedWrite;
    write.compressionLevel = static_cast<int>(choices.upTo(9));
    if (write.compressionDepth > 0) {
        write.streamGap = static_cast<uint32_t>(choices.upTo(16));
    }
    if (choices.chance()) {
        for (uint8_t& byte : write.uninterpreted) {
            byte = choices.byte();
        }
    }

    std::vector<ts::KvtChunk> body = ts::kvtBodyChunks(plan.model, options);
    // Body chunks after the directory and the chunks of the first mesh may come in any order;
    // mesh chunks keep theirs, which numbers the meshes.
    shuffleAndPad(choices, body, 1, true);
    const std::size_t geometry = indexOf(body, ts::kChunkGeometry);
    if (geometry < body.size()) {
        std::vector<ts::KvtChunk>& meshes = body[geometry].children;
        shuffleAndPad(choices, meshes, 0, false);
        const std::size_t mesh = indexOf(meshes, ts::kChunkMesh);
        if (mesh < meshes.size()) {
            shuffleAndPad(choices, meshes[mesh].children, 0, true);
        }
    }
    plan.embeddedBeforeMaterials =
        indexOf(body, ts::kChunkEmbeddedFiles) < indexOf(body, ts::kChunkMaterials);
    return ts::writeKvt34(body, options.flags, write);
}

ts::KvtBytes writeClassic(Choices& choices, Plan& plan) {
    ts::KvtWriteOptions& options = plan.classic;
    options.compressionLevel = static_cast<int>(choices.upTo(9));
    if (options.compressed) {
        options.streamGap = static_cast<uint32_t>(choices.upTo(16));
    }
    fillHeaderWords(choices, plan);
    if (choices.chance()) {
        options.trailing.resize(choices.upTo(8));
        for (uint8_t& byte : options.trailing) {
            byte = choices.byte();
        }
    }
    return ts::writeKvt(plan.model, options);
}

// ---------------------------------------------------------------------------------------------
// Checking what was read against what was written.

// Where the comparison is, printed when it finds a difference.
class Path {
  public:
    class Scope {
      public:
        Scope(Path& path, const char* part, std::size_t index) : path_(path) {
            path_.parts_.emplace_back(part, index);
        }
        ~Scope() { path_.parts_.pop_back(); }
        Scope(const Scope&) = delete;
        Scope& operator=(const Scope&) = delete;

      private:
        Path& path_;
    };

    std::string text() const {
        std::string out;
        for (const auto& [part, index] : parts_) {
            out += out.empty() ? "" : ".";
            out += part;
            out += "[" + std::to_string(index) + "]";
        }
        return out;
    }

  private:
    std::vector<std::pair<const char*, std::size_t>> parts_;
};

Path gPath;
std::string gDescription;

[[noreturn]] void mismatch(const char* field, const std::string& expected,
                           const std::string& actual) {
    std::fprintf(stderr, "fuzz_roundtrip: %s: %s.%s: expected %s, read %s\n", gDescription.c_str(),
                 gPath.text().c_str(), field, expected.c_str(), actual.c_str());
    std::abort();
}

void expectInt(int64_t expected, int64_t actual, const char* field) {
    if (expected != actual) {
        mismatch(field, std::to_string(expected), std::to_string(actual));
    }
}

void expectTrue(bool condition, const char* what) {
    if (!condition) {
        mismatch(what, "true", "false");
    }
}

// Floats are compared bit for bit: the reader keeps the stored bits.
void expectFloats(std::span<const float> expected, std::span<const float> actual,
                  const char* field) {
    expectInt(static_cast<int64_t>(expected.size()), static_cast<int64_t>(actual.size()), field);
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const uint32_t want = std::bit_cast<uint32_t>(expected[i]);
        const uint32_t got = std::bit_cast<uint32_t>(actual[i]);
        if (want != got) {
            char text[64];
            std::snprintf(text, sizeof text, "[%zu] 0x%08x", i, static_cast<unsigned>(want));
            char other[32];
            std::snprintf(other, sizeof other, "0x%08x", static_cast<unsigned>(got));
            mismatch(field, text, other);
        }
    }
}

void expectFloat(float expected, float actual, const char* field) {
    expectFloats(std::span(&expected, 1), std::span(&actual, 1), field);
}

std::array<float, 3> floatsOf(const qm::Vec3& value) {
    return {value.x, value.y, value.z};
}
std::array<float, 4> floatsOf(const qm::Rgba& value) {
    return {value.red, value.green, value.blue, value.alpha};
}
std::array<float, 4> floatsOf(const qm::Quaternion& value) {
    return {value.x, value.y, value.z, value.w};
}

// The 38 values of a transform in file order.
std::array<float, 38> floatsOf(const qm::NodeTransform& value) {
    std::array<float, 38> out{};
    std::size_t next = 0;
    const auto put = [&](std::span<const float> part) {
        std::copy(part.begin(), part.end(), out.begin() + static_cast<std::ptrdiff_t>(next));
        next += part.size();
    };
    put(floatsOf(value.xAxis));
    put(floatsOf(value.yAxis));
    put(floatsOf(value.zAxis));
    put(floatsOf(value.position));
    put(floatsOf(value.scale));
    put(value.matrix);
    put(floatsOf(value.rotation));
    put(floatsOf(value.eulerAngles));
    return out;
}

std::array<float, 38> floatsOf(const ts::KvtTransform& value) {
    std::array<float, 38> out{};
    std::size_t next = 0;
    const auto put = [&](std::span<const float> part) {
        std::copy(part.begin(), part.end(), out.begin() + static_cast<std::ptrdiff_t>(next));
        next += part.size();
    };
    put(value.xAxis);
    put(value.yAxis);
    put(value.zAxis);
    put(value.position);
    put(value.scale);
    put(value.matrix);
    put(value.rotation);
    put(value.eulerAngles);
    return out;
}

void expectVec(std::span<const float> expected, const qm::Vec3& actual, const char* field) {
    expectFloats(expected, floatsOf(actual), field);
}
void expectVec(std::span<const float> expected, const qm::Rgba& actual, const char* field) {
    expectFloats(expected, floatsOf(actual), field);
}
void expectVec(std::span<const float> expected, const qm::Quaternion& actual, const char* field) {
    expectFloats(expected, floatsOf(actual), field);
}

constexpr std::size_t kNameUnits = 259;

std::string unitsText(std::u16string_view text) {
    std::string out;
    for (const char16_t unit : text) {
        char hex[8];
        std::snprintf(hex, sizeof hex, "%04x ", static_cast<unsigned>(unit));
        out += hex;
    }
    return "(" + std::to_string(text.size()) + " units) " + out;
}

// A name as the reader keeps it: up to the first NUL, at most 259 units, and a wide name never
// ends in the first half of a surrogate pair whose second half was cut off.
void expectName(const ts::KvtName& written, bool wide, const qm::ModelName& read,
                const char* field) {
    std::u16string_view text = written.text;
    text = text.substr(0, text.find(u'\0'));
    if (text.size() > kNameUnits) {
        std::size_t length = kNameUnits;
        if (wide && text[length - 1] >= 0xD800 && text[length - 1] <= 0xDBFF &&
            text[length] >= 0xDC00 && text[length] <= 0xDFFF) {
            --length;
        }
        text = text.substr(0, length);
    }
    if (wide) {
        if (read.wide() != text) {
            mismatch(field, unitsText(text), unitsText(read.wide()));
        }
        return;
    }
    std::u16string narrow;
    for (const char byte : read.narrow()) {
        narrow.push_back(static_cast<unsigned char>(byte));
    }
    if (narrow != text) {
        mismatch(field, unitsText(text), unitsText(narrow));
    }
}

void expectNarrowText(std::string_view expected, const qm::ModelName& read, const char* field) {
    if (read.narrow() != expected) {
        mismatch(field, std::string(expected), std::string(read.narrow()));
    }
}

void checkLights(const Plan& plan, const qm::ModelData& read) {
    const std::vector<ts::KvtLight>& lights = plan.model.lights;
    expectInt(static_cast<int64_t>(lights.size()), read.lights.count, "lights.count");
    expectInt(static_cast<int64_t>(lights.size()), static_cast<int64_t>(read.lights.items.size()),
              "lights.items");
    for (std::size_t i = 0; i < lights.size(); ++i) {
        const Path::Scope scope(gPath, "lights", i);
        const ts::KvtLight& light = lights[i];
        const qm::ModelLight& got = read.lights.items[i];
        expectName(light.name, plan.wideNames(), got.name, "name");
        expectInt(light.option, got.option, "option");
        expectVec(light.colour, got.colour, "colour");
        if (plan.newLayout()) {
            expectInt(light.code, got.code, "code");
            expectFloats(floatsOf(light.transform), floatsOf(got.transform), "transform");
            expectFloats(light.params, got.params, "params");
            expectFloats(light.extraParams, got.extraParams, "extraParams");
        } else {
            // The old record stores the position alone; everything else stays zero.
            qm::NodeTransform transform;
            transform.position = {light.transform.position[0], light.transform.position[1],
                                  light.transform.position[2]};
            expectInt(0, got.code, "code");
            expectFloats(floatsOf(transform), floatsOf(got.transform), "transform");
            expectFloats(std::array<float, 5>{}, got.params, "params");
            expectFloats(std::array<float, 2>{}, got.extraParams, "extraParams");
        }
    }
}

void checkCameras(const Plan& plan, const qm::ModelData& read) {
    const std::vector<ts::KvtCamera>& cameras = plan.model.cameras;
    expectInt(static_cast<int64_t>(cameras.size()), read.cameras.count, "cameras.count");
    expectInt(static_cast<int64_t>(cameras.size()), static_cast<int64_t>(read.cameras.items.size()),
              "cameras.items");
    for (std::size_t i = 0; i < cameras.size(); ++i) {
        const Path::Scope scope(gPath, "cameras", i);
        const ts::KvtCamera& camera = cameras[i];
        const qm::ModelCamera& got = read.cameras.items[i];
        expectName(camera.name, plan.wideNames(), got.name, "name");
        expectInt(camera.option, got.option, "option");
        expectFloat(camera.fieldOfView, got.fieldOfView, "fieldOfView");
        expectFloat(camera.nearClip, got.nearClip, "nearClip");
        expectFloat(camera.farClip, got.farClip, "farClip");
        if (plan.newLayout()) {
            expectInt(camera.code, got.code, "code");
            expectFloats(floatsOf(camera.transform), floatsOf(got.transform), "transform");
        } else {
            // The old record stores the three axes and the position.
            std::array<float, 38> transform{};
            const std::array<float, 38> written = floatsOf(camera.transform);
            std::copy_n(written.begin(), 12, transform.begin());
            expectInt(0, got.code, "code");
            expectFloats(transform, floatsOf(got.transform), "transform");
        }
    }
}

constexpr int32_t kOldMapFlagBits = 0x310000;

void checkLayers(const Plan& plan, const ts::KvtMap& map, const qm::MapKind4Record& got) {
    std::vector<ts::KvtMapLayer> layers = map.layers;
    if (!plan.newMapLayout()) {
        // The old entry always stores three layers.
        layers.resize(3);
    } else if (layers.empty() && !plan.chunked) {
        // A classic new entry without layers gets three default ones; version 34 gets none.
        layers.resize(3);
    }
    expectInt(static_cast<int64_t>(layers.size()), got.layerCount, "layerCount");
    expectInt(static_cast<int64_t>(layers.size()), static_cast<int64_t>(got.layers.size()),
              "layers");
    for (std::size_t i = 0; i < layers.size(); ++i) {
        const Path::Scope scope(gPath, "layers", i);
        expectName(layers[i].fileName, plan.wideNames(), got.layers[i].fileName, "fileName");
        expectInt(layers[i].layerA, got.layers[i].layerA, "layerA");
        expectInt(layers[i].layerB, got.layers[i].layerB, "layerB");
        expectFloat(layers[i].layerWeight, got.layers[i].layerWeight, "layerWeight");
    }
}

void checkMap(const Plan& plan, const ts::KvtMap& map, const qm::TextureMap& got) {
    const bool wide = plan.wideNames();
    expectInt(map.key, got.key, "key");
    expectInt(map.kind, got.kind, "kind");
    if (plan.newMapLayout()) {
        expectInt(map.mapFlags, got.mapFlags, "mapFlags");
        expectVec(map.mapOffset, got.mapOffset, "mapOffset");
        expectVec(map.mapScale, got.mapScale, "mapScale");
        expectVec(map.mapAngles, got.mapAngles, "mapAngles");
    } else {
        // Kinds 4 to 7 take their flags from the payload's leading word as stored; the others
        // from the common part with the default bits.
        const bool payloadFlags = map.kind >= 4 && map.kind <= 7;
        expectInt(payloadFlags ? map.oldPayloadWord.value_or(map.mapFlags)
                               : (map.mapFlags | kOldMapFlagBits),
                  got.mapFlags, "mapFlags");
        expectVec(std::array<float, 3>{0, 0, 0}, got.mapOffset, "mapOffset");
        expectVec(std::array<float, 3>{1, 1, 1}, got.mapScale, "mapScale");
        expectVec(std::array<float, 3>{0, 0, 0}, got.mapAngles, "mapAngles");
    }
    const auto recordIndex =
        static_cast<std::size_t>(map.kind >= 1 && map.kind <= 7 ? map.kind - 1 : 0);
    expectInt(static_cast<int64_t>(recordIndex), static_cast<int64_t>(got.record.index()),
              "record kind");
    switch (map.kind) {
        case 1: {
            const auto& record = std::get<qm::MapKind1Record>(got.record);
            expectName(map.fileName, wide, record.fileName, "fileName");
            expectInt(map.mode, record.mode, "mode");
            expectFloat(map.paramA, record.paramA, "paramA");
            expectFloat(map.paramB, record.paramB, "paramB");
            break;
        }
        case 2: {
            const auto& record = std::get<qm::MapKind2Record>(got.record);
            expectName(map.fileName, wide, record.fileName, "fileName");
            expectInt(map.mode, record.mode, "mode");
            expectFloat(map.paramA, record.paramA, "paramA");
            expectFloat(map.paramB, record.paramB, "paramB");
            expectFloat(map.paramC, record.paramC, "paramC");
            expectFloat(map.paramD, record.paramD, "paramD");
            expectInt(map.packedValue, record.packedValue, "packedValue");
            expectInt(map.extraValue, record.extraValue, "extraValue");
            break;
        }
        case 3: {
            const auto& record = std::get<qm::MapKind3Record>(got.record);
            expectName(map.fileName, wide, record.fileName, "fileName");
            expectInt(map.mode, record.mode, "mode");
            expectFloat(map.paramA, record.paramA, "paramA");
            expectFloat(map.paramB, record.paramB, "paramB");
            expectInt(map.extraValue, record.extraValue, "extraValue");
            break;
        }
        case 4:
            checkLayers(plan, map, std::get<qm::MapKind4Record>(got.record));
            break;
        case 5: {
            const auto& record = std::get<qm::MapKind5Record>(got.record);
            for (std::size_t i = 0; i < map.faces.size(); ++i) {
                const Path::Scope scope(gPath, "faces", i);
                expectName(map.faces[i], wide, record.faces[i], "name");
            }
            break;
        }
        case 6: {
            const auto& record = std::get<qm::MapKind6Record>(got.record);
            expectName(map.fileName, wide, record.fileName, "fileName");
            expectInt(map.mode, record.mode, "mode");
            break;
        }
        case 7: {
            const auto& record = std::get<qm::MapKind7Record>(got.record);
            expectName(map.fileName, wide, record.fileName, "fileName");
            expectInt(map.mode, record.mode, "mode");
            break;
        }
        default: {
            // Other kinds store no payload and keep the kind-1 defaults.
            const auto& record = std::get<qm::MapKind1Record>(got.record);
            expectTrue(record.fileName.empty(), "fileName empty");
            expectInt(0, record.mode, "mode");
            expectFloat(2.0f, record.paramA, "paramA");
            expectFloat(1.0f, record.paramB, "paramB");
            break;
        }
    }
}

void checkMaterials(const Plan& plan, const qm::ModelData& read) {
    const std::vector<ts::KvtMaterial>& materials = plan.model.materials;
    expectInt(static_cast<int64_t>(materials.size()), read.materials.count, "materials.count");
    expectInt(static_cast<int64_t>(materials.size()),
              static_cast<int64_t>(read.materials.items.size()), "materials.items");
    for (std::size_t i = 0; i < materials.size(); ++i) {
        const Path::Scope scope(gPath, "materials", i);
        const ts::KvtMaterial& material = materials[i];
        const qm::ModelMaterial& got = read.materials.items[i];
        expectName(material.name, plan.wideNames(), got.name, "name");
        expectInt(material.flags, got.flags, "flags");
        for (std::size_t c = 0; c < material.colours.size(); ++c) {
            const Path::Scope colour(gPath, "colours", c);
            expectVec(material.colours[c], got.colours[c], "value");
        }
        expectFloat(material.shininess, got.shininess, "shininess");
        expectFloat(material.opacity, got.opacity, "opacity");
        expectInt(static_cast<int64_t>(material.maps.size()), got.mapCount, "mapCount");
        expectInt(static_cast<int64_t>(material.maps.size()), static_cast<int64_t>(got.maps.size()),
                  "maps");
        for (std::size_t m = 0; m < material.maps.size(); ++m) {
            const Path::Scope map(gPath, "maps", m);
            expectTrue(got.maps[m] != nullptr, "placed");
            checkMap(plan, material.maps[m], *got.maps[m]);
        }
    }
}

void checkGroups(const Plan& plan, const qm::ModelData& read) {
    const std::vector<ts::KvtGroup>& groups = plan.model.groups;
    if (groups.empty()) {
        // A file without groups gets one named KVTGroup0.
        expectInt(1, read.groups.count, "groups.count");
        expectInt(1, static_cast<int64_t>(read.groups.items.size()), "groups.items");
        const Path::Scope scope(gPath, "groups", 0);
        expectNarrowText("KVTGroup0", read.groups.items[0].name, "name");
        return;
    }
    expectInt(static_cast<int64_t>(groups.size()), read.groups.count, "groups.count");
    expectInt(static_cast<int64_t>(groups.size()), static_cast<int64_t>(read.groups.items.size()),
              "groups.items");
    for (std::size_t i = 0; i < groups.size(); ++i) {
        const Path::Scope scope(gPath, "groups", i);
        const ts::KvtGroup& group = groups[i];
        const qm::ModelGroup& got = read.groups.items[i];
        expectName(group.name, plan.wideNames(), got.name, "name");
        const bool stored = plan.newLayout();
        expectInt(stored ? group.groupTag : 0, got.groupTag, "groupTag");
        expectInt(stored ? group.groupLink : 0, got.groupLink, "groupLink");
        expectFloats(stored ? floatsOf(group.transform) : std::array<float, 38>{},
                     floatsOf(got.transform), "transform");
        expectInt(0, got.memberCount, "memberCount");
    }
}

void checkVertices(const Plan& plan, const qm::ModelData& read) {
    const std::vector<ts::KvtVertex>& vertices = plan.model.vertices;
    const uint32_t flags = plan.chunked ? plan.chunkedOptions.flags : plan.model.flags;
    const bool colours = (flags & ts::kKvtFlagVertexColours) != 0;
    const bool weights = !plan.chunked || (flags & ts::kKvtFlagVertexWeights) != 0;
    expectInt(static_cast<int64_t>(vertices.size()), read.vertices.count, "vertices.count");
    expectInt(static_cast<int64_t>(vertices.size()),
              static_cast<int64_t>(read.vertices.items.size()), "vertices.items");
    for (std::size_t i = 0; i < vertices.size(); ++i) {
        const Path::Scope scope(gPath, "vertices", i);
        const ts::KvtVertex& vertex = vertices[i];
        const qm::ModelVertex& got = read.vertices.items[i];
        expectVec(vertex.position, got.position, "position");
        expectVec(colours ? vertex.colour : ts::KvtVec4{1, 1, 1, 1}, got.colour, "colour");
        const std::vector<ts::KvtWeight> none;
        const std::vector<ts::KvtWeight>& stored = weights ? vertex.weights : none;
        expectInt(static_cast<int64_t>(stored.size()), got.weightCount, "weightCount");
        const std::span<const qm::VertexWeight> gotWeights = read.weightsOf(got);
        expectInt(static_cast<int64_t>(stored.size()), static_cast<int64_t>(gotWeights.size()),
                  "weights");
        for (std::size_t w = 0; w < stored.size(); ++w) {
            const Path::Scope weight(gPath, "weights", w);
            expectInt(stored[w].boneIndex, gotWeights[w].boneIndex, "boneIndex");
            expectFloat(stored[w].weight, gotWeights[w].weight, "weight");
        }
    }
}

void checkAuxRecords(const std::vector<ts::KvtAuxRecord>& records,
                     const std::vector<qm::AuxRecord>& got, const char* what) {
    expectInt(static_cast<int64_t>(records.size()), static_cast<int64_t>(got.size()), what);
    for (std::size_t i = 0; i < records.size(); ++i) {
        const Path::Scope scope(gPath, what, i);
        for (std::size_t v = 0; v < records[i].values.size(); ++v) {
            const Path::Scope value(gPath, "values", v);
            expectInt(records[i].values[v], got[i].auxValues[v], "value");
        }
        expectFloat(records[i].scalar, got[i].auxScalar, "scalar");
    }
}

// Classic files below version 30 keep their UV coordinates inline in the polygons: numbered in
// corner order across the mesh section, layer l's go to UV set l of the two default sets.
std::array<std::vector<std::pair<float, float>>, 2> inlineCoordinates(const Plan& plan) {
    std::array<std::vector<std::pair<float, float>>, 2> sets;
    for (const ts::KvtMesh& mesh : plan.model.meshes) {
        for (const ts::KvtPolygon& polygon : mesh.polygons) {
            const std::size_t corners = polygon.vertices.size();
            for (std::size_t l = 0; l < sets.size(); ++l) {
                for (std::size_t j = 0; j < corners; ++j) {
                    const bool stored =
                        l < polygon.inlineUVs.size() && j < polygon.inlineUVs[l].size();
                    sets[l].emplace_back(stored ? polygon.inlineUVs[l][j].u : 0.0f,
                                         stored ? polygon.inlineUVs[l][j].v : 0.0f);
                }
            }
        }
    }
    return sets;
}

void checkDefaultUVSetNames(const qm::ModelData& read, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        const Path::Scope scope(gPath, "uvSets", i);
        expectNarrowText("UVSet" + std::to_string(i + 1), read.uvSets.items[i].name, "name");
    }
}

void checkUVSets(const Plan& plan, const qm::ModelData& read) {
    const std::vector<ts::KvtUVSet>& sets = plan.model.uvSets;
    if (!plan.newLayout()) {
        const auto coordinates = inlineCoordinates(plan);
        expectInt(2, read.uvSets.count, "uvSets.count");
        expectInt(2, static_cast<int64_t>(read.uvSets.items.size()), "uvSets.items");
        checkDefaultUVSetNames(read, 2);
        for (std::size_t s = 0; s < 2; ++s) {
            const Path::Scope scope(gPath, "uvSets", s);
            const qm::UVSet& got = read.uvSets.items[s];
            expectInt(static_cast<int64_t>(coordinates[s].size()), got.coordCount, "coordCount");
            expectInt(static_cast<int64_t>(coordinates[s].size()),
                      static_cast<int64_t>(got.coords.size()), "coords");
            for (std::size_t c = 0; c < coordinates[s].size(); ++c) {
                const Path::Scope coord(gPath, "coords", c);
                expectInt(0, got.coords[c].uvTag, "uvTag");
                expectFloat(coordinates[s][c].first, got.coords[c].u, "u");
                expectFloat(coordinates[s][c].second, got.coords[c].v, "v");
            }
        }
        return;
    }
    if (sets.empty()) {
        expectInt(2, read.uvSets.count, "uvSets.count");
        expectInt(2, static_cast<int64_t>(read.uvSets.items.size()), "uvSets.items");
        checkDefaultUVSetNames(read, 2);
        for (std::size_t s = 0; s < 2; ++s) {
            const Path::Scope scope(gPath, "uvSets", s);
            expectInt(0, read.uvSets.items[s].coordCount, "coordCount");
        }
        return;
    }
    expectInt(static_cast<int64_t>(sets.size()), read.uvSets.count, "uvSets.count");
    expectInt(static_cast<int64_t>(sets.size()), static_cast<int64_t>(read.uvSets.items.size()),
              "uvSets.items");
    if (plan.chunked) {
        // Version-34 sets keep the names they are made with.
        checkDefaultUVSetNames(read, sets.size());
    }
    for (std::size_t s = 0; s < sets.size(); ++s) {
        const Path::Scope scope(gPath, "uvSets", s);
        const ts::KvtUVSet& set = sets[s];
        const qm::UVSet& got = read.uvSets.items[s];
        if (!plan.chunked) {
            expectName(set.name, plan.wideNames(), got.name, "name");
        }
        expectInt(static_cast<int64_t>(set.coords.size()), got.coordCount, "coordCount");
        expectInt(static_cast<int64_t>(set.coords.size()), static_cast<int64_t>(got.coords.size()),
                  "coords");
        for (std::size_t c = 0; c < set.coords.size(); ++c) {
            const Path::Scope coord(gPath, "coords", c);
            expectInt(set.coords[c].tag, got.coords[c].uvTag, "uvTag");
            expectFloat(set.coords[c].u, got.coords[c].u, "u");
            expectFloat(set.coords[c].v, got.coords[c].v, "v");
        }
        expectInt(static_cast<int64_t>(set.auxRecords.size()), got.auxCount, "auxCount");
        checkAuxRecords(set.auxRecords, got.auxRecords, "auxRecords");
    }
}

void expectValues(const std::vector<int32_t>& expected, std::span<const int32_t> actual,
                  const char* field) {
    expectInt(static_cast<int64_t>(expected.size()), static_cast<int64_t>(actual.size()), field);
    for (std::size_t i = 0; i < expected.size(); ++i) {
        if (expected[i] != actual[i]) {
            mismatch(field, "[" + std::to_string(i) + "] " + std::to_string(expected[i]),
                     std::to_string(actual[i]));
        }
    }
}

// `values` padded with `pad` to `written` entries (the writer's zeros for missing corners), then
// with `fill` to `held` entries (the reader's fill for corners the file does not store).
std::vector<int32_t> padded(const std::vector<int32_t>& values, std::size_t written, int32_t pad,
                            std::size_t held, int32_t fill) {
    std::vector<int32_t> out = values;
    out.resize(written, pad);
    out.resize(std::max(held, written), fill);
    return out;
}

void checkPolygon(const Plan& plan, const ts::KvtMesh& mesh, const ts::KvtPolygon& polygon,
                  const qm::ModelMesh& gotMesh, const qm::ModelPolygon& got,
                  std::size_t& nextCorner) {
    const std::size_t corners = polygon.vertices.size();
    expectInt(polygon.materialIndex, got.materialIndex, "materialIndex");
    expectInt(polygon.polygonValue, got.polygonValue, "polygonValue");
    if (plan.chunked) {
        // Exactly the stored corners and layers; a polygon without corners stores no layer.
        const std::size_t layers = corners > 0 ? polygon.uvLayers.size() : 0;
        expectInt(polygon.polygonTag, got.polygonTag, "polygonTag");
        expectInt(static_cast<int64_t>(corners), got.cornerCount, "cornerCount");
        expectInt(static_cast<int64_t>(layers), got.uvLayerCount, "uvLayerCount");
        expectValues(polygon.vertices, gotMesh.corners(got), "corners");
        expectValues(padded(polygon.cornerValues, corners, 0, 0, 0), gotMesh.valuesOfCorners(got),
                     "cornerValues");
        for (std::size_t l = 0; l < layers; ++l) {
            const Path::Scope scope(gPath, "uvLayers", l);
            const auto layer = static_cast<int32_t>(l);
            expectValues(padded(polygon.uvLayers[l].uvIndices, corners, 0, 0, 0),
                         gotMesh.uvIndicesOf(got, layer), "uvIndices");
            expectValues(padded(polygon.uvLayers[l].uvValues, corners, 0, 0, 0),
                         gotMesh.uvValuesOf(got, layer), "uvValues");
        }
        return;
    }
    // Classic polygons hold at least three corners and exactly two layers; what the file does
    // not fill holds -1.
    const std::size_t held = std::max<std::size_t>(corners, 3);
    expectInt(static_cast<int64_t>(held), got.cornerCount, "cornerCount");
    expectInt(2, got.uvLayerCount, "uvLayerCount");
    expectValues(padded(polygon.vertices, corners, 0, held, -1), gotMesh.corners(got), "corners");
    if (plan.newLayout()) {
        expectInt(polygon.polygonTag, got.polygonTag, "polygonTag");
        expectValues(padded(polygon.cornerValues, corners, 0, held, -1),
                     gotMesh.valuesOfCorners(got), "cornerValues");
        for (std::size_t l = 0; l < 2; ++l) {
            const Path::Scope scope(gPath, "uvLayers", l);
            const auto layer = static_cast<int32_t>(l);
            const bool stored = l < polygon.uvLayers.size() && corners > 0;
            const std::vector<int32_t> none;
            expectValues(padded(stored ? polygon.uvLayers[l].uvIndices : none, stored ? corners : 0,
                                0, held, -1),
                         gotMesh.uvIndicesOf(got, layer), "uvIndices");
            expectValues(padded(stored ? polygon.uvLayers[l].uvValues : none, stored ? corners : 0,
                                0, held, -1),
                         gotMesh.uvValuesOf(got, layer), "uvValues");
        }
        return;
    }
    // Old layout: the mesh's tag, no corner values, and UV indices numbering the inline UVs.
    expectInt(mesh.tag, got.polygonTag, "polygonTag");
    expectValues(std::vector<int32_t>(held, -1), gotMesh.valuesOfCorners(got), "cornerValues");
    for (std::size_t l = 0; l < 2; ++l) {
        const Path::Scope scope(gPath, "uvLayers", l);
        const auto layer = static_cast<int32_t>(l);
        std::vector<int32_t> indices(held, -1);
        if (l < polygon.inlineUVs.size()) {
            for (std::size_t j = 0; j < corners; ++j) {
                indices[j] = static_cast<int32_t>(nextCorner + j);
            }
        }
        expectValues(indices, gotMesh.uvIndicesOf(got, layer), "uvIndices");
        expectValues(std::vector<int32_t>(held, -1), gotMesh.uvValuesOf(got, layer), "uvValues");
    }
    nextCorner += corners;
}

void checkMeshes(const Plan& plan, const qm::ModelData& read) {
    const std::vector<ts::KvtMesh>& meshes = plan.model.meshes;
    expectInt(static_cast<int64_t>(meshes.size()), read.meshes.count, "meshes.count");
    expectInt(static_cast<int64_t>(meshes.size()), static_cast<int64_t>(read.meshes.items.size()),
              "meshes.items");
    std::size_t nextCorner = 0;
    for (std::size_t i = 0; i < meshes.size(); ++i) {
        const Path::Scope scope(gPath, "meshes", i);
        const ts::KvtMesh& mesh = meshes[i];
        const qm::ModelMesh& got = read.meshes.items[i];
        expectInt(static_cast<int64_t>(mesh.polygons.size()), got.polygonCount, "polygonCount");
        expectInt(static_cast<int64_t>(mesh.polygons.size()),
                  static_cast<int64_t>(got.polygons.size()), "polygons");
        for (std::size_t k = 0; k < mesh.polygons.size(); ++k) {
            const Path::Scope polygon(gPath, "polygons", k);
            checkPolygon(plan, mesh, mesh.polygons[k], got, got.polygons[k], nextCorner);
        }
    }
}

void checkBones(const Plan& plan, const qm::ModelData& read) {
    const std::vector<ts::KvtBone>& bones = plan.model.bones;
    expectInt(static_cast<int64_t>(bones.size()), read.bones.count, "bones.count");
    expectInt(static_cast<int64_t>(bones.size()), static_cast<int64_t>(read.bones.items.size()),
              "bones.items");
    for (std::size_t i = 0; i < bones.size(); ++i) {
        const Path::Scope scope(gPath, "bones", i);
        const ts::KvtBone& bone = bones[i];
        const qm::ModelBone& got = read.bones.items[i];
        expectName(bone.name, plan.wideNames(), got.name, "name");
        expectInt(bone.boneLink, got.boneLink, "boneLink");
        expectVec(bone.colour, got.colour, "colour");
        if (plan.newLayout()) {
            expectFloats(floatsOf(bone.transform), floatsOf(got.transform), "transform");
            continue;
        }
        // The old record stores position, rotation and (from version 9) scale over the identity.
        ts::KvtTransform transform;
        transform.position = bone.transform.position;
        transform.rotation = bone.transform.rotation;
        if (plan.version >= 9) {
            transform.scale = bone.transform.scale;
        }
        expectFloats(floatsOf(transform), floatsOf(got.transform), "transform");
    }
}

template <typename Written, typename Read>
void checkKeys(const std::vector<Written>& keys, const std::vector<Read>& got, int32_t gotCount,
               const char* what) {
    expectInt(static_cast<int64_t>(keys.size()), gotCount, what);
    expectInt(static_cast<int64_t>(keys.size()), static_cast<int64_t>(got.size()), what);
    for (std::size_t k = 0; k < keys.size(); ++k) {
        const Path::Scope scope(gPath, what, k);
        expectFloat(keys[k].time, got[k].time, "time");
        expectVec(keys[k].value, got[k].value, "value");
    }
}

void checkAnimations(const Plan& plan, const qm::ModelData& read) {
    const std::vector<ts::KvtAnimation>& animations = plan.model.animations;
    const std::size_t bones = plan.model.bones.size();
    expectInt(static_cast<int64_t>(animations.size()), read.animations.count, "animations.count");
    expectInt(static_cast<int64_t>(animations.size()),
              static_cast<int64_t>(read.animations.items.size()), "animations.items");
    for (std::size_t i = 0; i < animations.size(); ++i) {
        const Path::Scope scope(gPath, "animations", i);
        const ts::KvtAnimation& animation = animations[i];
        const qm::ModelAnimation& got = read.animations.items[i];
        expectName(animation.name, plan.wideNames(), got.name, "name");
        expectInt(animation.tag, got.animTag, "animTag");
        expectFloat(animation.start, got.animStart, "animStart");
        expectFloat(animation.end, got.animEnd, "animEnd");
        expectFloat(animation.rate, got.animRate, "animRate");
        // One track per bone: stored tracks beyond the bones are dropped, missing ones empty.
        const std::size_t kept = std::min(animation.tracks.size(), bones);
        expectInt(static_cast<int64_t>(kept), got.trackCount, "trackCount");
        expectInt(static_cast<int64_t>(kept), static_cast<int64_t>(got.tracks.size()), "tracks");
        for (std::size_t t = 0; t <= bones; ++t) {
            const Path::Scope track(gPath, "tracks", t);
            const ts::KvtTrack empty;
            const ts::KvtTrack& written = t < kept ? animation.tracks[t] : empty;
            const qm::BoneTrack& stored = got.trackOf(t);
            checkKeys(written.positionKeys, stored.positionKeys, stored.positionKeyCount,
                      "positionKeys");
            checkKeys(written.rotationKeys, stored.rotationKeys, stored.rotationKeyCount,
                      "rotationKeys");
            checkKeys(written.scaleKeys, stored.scaleKeys, stored.scaleKeyCount, "scaleKeys");
        }
    }
}

void checkEmbeddedFiles(const Plan& plan, const qm::ModelData& read) {
    std::vector<const ts::KvtEmbeddedFile*> kept;
    if (plan.chunked) {
        // Files without content are not kept.
        for (const ts::KvtEmbeddedFile& file : plan.chunkedOptions.embeddedFiles) {
            if (!file.content.empty()) {
                kept.push_back(&file);
            }
        }
    }
    expectInt(static_cast<int64_t>(kept.size()), static_cast<int64_t>(read.embeddedFiles.size()),
              "embeddedFiles");
    for (std::size_t i = 0; i < kept.size(); ++i) {
        const Path::Scope scope(gPath, "embeddedFiles", i);
        const qm::EmbeddedFile& got = read.embeddedFiles[i];
        expectName(kept[i]->name, true, got.name, "name");
        expectTrue(got.content == kept[i]->content, "content");
        expectInt(plan.embeddedBeforeMaterials, got.beforeMaterials, "beforeMaterials");
    }
}

bool repeatsAMapKey(const ts::KvtModel& model) {
    for (const ts::KvtMaterial& material : model.materials) {
        std::set<int32_t> keys;
        for (const ts::KvtMap& map : material.maps) {
            if (!keys.insert(map.key).second) {
                return true;
            }
        }
    }
    return false;
}

// Whether the reader must refuse the file: it declares no element, a material repeats a map key,
// or (version 34) vertices, aux records or UV sets come without a mesh to carry them.
const char* refusal(const Plan& plan) {
    const ts::KvtModel& model = plan.model;
    if (model.lights.empty() && model.cameras.empty() && model.materials.empty() &&
        model.groups.empty() && model.vertices.empty() && model.meshes.empty() &&
        model.bones.empty() && model.animations.empty()) {
        return "declares no element";
    }
    if (repeatsAMapKey(model)) {
        return "repeats a map key";
    }
    if (plan.chunked && model.meshes.empty() &&
        (!model.vertices.empty() || !model.auxRecords.empty() || !model.uvSets.empty())) {
        return "has geometry without a mesh";
    }
    return nullptr;
}

void checkModel(const Plan& plan, const qm::ModelData& read) {
    expectInt(plan.version, read.version, "version");
    checkLights(plan, read);
    checkCameras(plan, read);
    checkMaterials(plan, read);
    checkGroups(plan, read);
    checkVertices(plan, read);
    checkAuxRecords(plan.newLayout() ? plan.model.auxRecords : std::vector<ts::KvtAuxRecord>{},
                    read.auxRecords.items, "auxRecords");
    expectInt(static_cast<int64_t>(read.auxRecords.items.size()), read.auxRecords.count,
              "auxRecords.count");
    checkUVSets(plan, read);
    checkMeshes(plan, read);
    checkBones(plan, read);
    checkAnimations(plan, read);
    checkEmbeddedFiles(plan, read);
}

bool isEmpty(const qm::ModelData& model) {
    return model.lights.items.empty() && model.cameras.items.empty() &&
           model.materials.items.empty() && model.groups.items.empty() &&
           model.vertices.items.empty() && model.vertexWeights.empty() &&
           model.auxRecords.items.empty() && model.uvSets.items.empty() &&
           model.meshes.items.empty() && model.bones.items.empty() &&
           model.animations.items.empty() && model.embeddedFiles.empty();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace quillmesh::fuzz;
    Choices choices(std::span<const uint8_t>(data, size));
    Plan plan;
    plan.version = kRoundtripFirstVersion + choices.byte() % kRoundtripVersionCount;
    plan.chunked = plan.version >= ts::kKvtChunkedVersion;
    const uint8_t compression = choices.byte();
    if (plan.chunked) {
        plan.chunkedWrite.compressionDepth = compression % kRoundtripChunkedCompressions;
    } else {
        plan.classic.compressed = (compression & 1) != 0;
    }
    makeModel(choices, plan);
    const ts::KvtBytes bytes =
        plan.chunked ? writeChunked(choices, plan) : writeClassic(choices, plan);

    gDescription = "version " + std::to_string(plan.version) + ", " +
                   (plan.chunked ? std::to_string(plan.chunkedWrite.compressionDepth) + " times "
                                 : std::string(plan.classic.compressed ? "" : "not ")) +
                   "compressed, " + std::to_string(bytes.size()) + " bytes";

    // The reader gets a heap block of exactly the file's size, so that a read past its end is
    // caught.
    const auto block = std::make_unique<uint8_t[]>(std::max<std::size_t>(bytes.size(), 1));
    std::copy(bytes.begin(), bytes.end(), block.get());
    qm::ModelData read;
    const int result =
        qm::parseModelImage(std::span<const uint8_t>(block.get(), bytes.size()), read);

    if (const char* reason = refusal(plan)) {
        if (result != qm::kLoadFailed || !isEmpty(read)) {
            mismatch("result", std::string("a failed load and no model, as the file ") + reason,
                     std::to_string(result));
        }
        return 0;
    }
    expectInt(qm::kLoadSucceeded, result, "result");
    checkModel(plan, read);
    return 0;
}
