// The ModelFile writer: header layouts, the ten sections with their old and
// new record layouts, names in both forms, compression and the overrides.
#include "tests/support/kvt_writer.h"

#include <zlib.h>

#include <algorithm>
#include <bit>
#include <fstream>
#include <limits>
#include <stdexcept>
#include <string>
#include <utility>

namespace quillmesh::testsupport {
namespace {

constexpr std::size_t kShortHeaderWords = 24;
constexpr std::size_t kLongHeaderWords = 32;
// The short layout stores image words 0 to 13, then image words 18 to 27.
constexpr std::size_t kShortHeaderSplit = 14;
constexpr std::size_t kShortHeaderResume = 18;
constexpr std::size_t kNameListWord = 24;
constexpr std::size_t kStreamOffsetWord = 5;

// Version gates of the record layouts.
constexpr int32_t kNewLayoutVersion = 30;   // nodes, polygons, bones; aux and UV sections
constexpr int32_t kNewMapLayoutAbove = 30;  // texture-map entries
constexpr int32_t kWideNameVersion = 32;    // and version 10 alone
constexpr int32_t kOddWideNameVersion = 10;
constexpr int32_t kLayerCountFromVersion = 5;   // old polygons: layer count word
constexpr int32_t kTwoFloatUVFromVersion = 10;  // old polygons: no third UV float
constexpr int32_t kBoneScaleFromVersion = 9;    // old bones: scale vector

constexpr std::size_t kOldLayerCount = 3;

// Little-endian output, value by value.
class ByteSink {
  public:
    void u8(uint8_t value) { bytes_.push_back(value); }
    void u16(uint16_t value) {
        u8(static_cast<uint8_t>(value));
        u8(static_cast<uint8_t>(value >> 8));
    }
    void u32(uint32_t value) {
        for (int shift = 0; shift < 32; shift += 8) {
            u8(static_cast<uint8_t>(value >> shift));
        }
    }
    void i32(int32_t value) { u32(static_cast<uint32_t>(value)); }
    void f32(float value) { u32(std::bit_cast<uint32_t>(value)); }
    template <std::size_t N>
    void floats(const std::array<float, N>& values) {
        for (const float value : values) {
            f32(value);
        }
    }
    void raw(const KvtBytes& bytes) { bytes_.insert(bytes_.end(), bytes.begin(), bytes.end()); }
    std::size_t size() const { return bytes_.size(); }
    KvtBytes& bytes() { return bytes_; }

  private:
    KvtBytes bytes_;
};

template <typename Container>
int32_t countOf(const Container& items, const std::optional<int32_t>& override) {
    if (override) {
        return *override;
    }
    if (items.size() > static_cast<std::size_t>(std::numeric_limits<int32_t>::max())) {
        throw std::invalid_argument("kvt writer: more elements than an int32 count holds");
    }
    return static_cast<int32_t>(items.size());
}

bool longLayoutFor(const KvtModel& model, const KvtHeaderOverrides& overrides) {
    return overrides.longLayout.value_or(model.version >= kNewLayoutVersion);
}

std::size_t headerSize(bool longLayout) {
    return 4 * (longLayout ? kLongHeaderWords : kShortHeaderWords);
}

// One header in the layout `longLayout`; `length` and `streamOffset` are the
// computed values that the overrides may replace.
KvtBytes headerBytes(const KvtModel& model, const KvtHeaderOverrides& overrides, uint32_t flags,
                     uint32_t length, std::optional<uint32_t> streamOffset) {
    std::array<uint32_t, kLongHeaderWords> image = model.headerWords;
    const std::string magic = overrides.magic.value_or("KVTH");
    if (magic.size() != 4) {
        throw std::invalid_argument("kvt writer: the magic must have four bytes");
    }
    image[0] = 0;
    for (std::size_t i = 0; i < 4; ++i) {
        image[0] |= static_cast<uint32_t>(static_cast<unsigned char>(magic[i])) << (8 * i);
    }
    image[1] = overrides.version.value_or(static_cast<uint32_t>(model.version));
    image[2] = overrides.flags.value_or(flags);
    image[3] = static_cast<uint32_t>(static_cast<int64_t>(overrides.length.value_or(length)) +
                                     overrides.lengthDelta);
    if (streamOffset) {
        image[kStreamOffsetWord] = *streamOffset;
    }
    image[kNameListWord] = static_cast<uint32_t>(model.nameListCount);

    ByteSink sink;
    if (longLayoutFor(model, overrides)) {
        for (const uint32_t word : image) {
            sink.u32(word);
        }
        return std::move(sink.bytes());
    }
    const std::size_t shortEnd = kShortHeaderResume + (kShortHeaderWords - kShortHeaderSplit);
    for (std::size_t i = 0; i < kLongHeaderWords; ++i) {
        const bool stored = i < kShortHeaderSplit || (i >= kShortHeaderResume && i < shortEnd);
        if (stored) {
            sink.u32(image[i]);
        } else if (image[i] != 0) {
            throw std::invalid_argument("kvt writer: the short header has no place for word " +
                                        std::to_string(i));
        }
    }
    return std::move(sink.bytes());
}

// The body: the sections in file order, each in the layout of its version.
class BodyWriter {
  public:
    BodyWriter(const KvtModel& model, const KvtWriteOptions& options, std::size_t bodyStart)
        : model_(model), options_(options), bodyStart_(bodyStart) {}

    KvtBytes write(std::array<std::optional<std::size_t>, kKvtSectionCount>& offsets) {
        offsets_ = &offsets;
        lights();
        cameras();
        materials();
        groups();
        vertices();
        if (options_.auxAndUVSections.value_or(model_.version >= kNewLayoutVersion)) {
            auxRecords();
            uvSets();
        }
        meshes();
        bones();
        animations();
        sink_.raw(options_.trailing);
        return std::move(sink_.bytes());
    }

    // One section alone, at the start of an empty body.
    KvtBytes single(KvtSection section) {
        std::array<std::optional<std::size_t>, kKvtSectionCount> offsets{};
        offsets_ = &offsets;
        switch (section) {
            case KvtSection::kLights:
                lights();
                break;
            case KvtSection::kCameras:
                cameras();
                break;
            case KvtSection::kMaterials:
                materials();
                break;
            case KvtSection::kGroups:
                groups();
                break;
            case KvtSection::kVertices:
                vertices();
                break;
            case KvtSection::kAuxRecords:
                auxRecords();
                break;
            case KvtSection::kUVSets:
                uvSets();
                break;
            case KvtSection::kMeshes:
                meshes();
                break;
            case KvtSection::kBones:
                bones();
                break;
            case KvtSection::kAnimations:
                animations();
                break;
        }
        return std::move(sink_.bytes());
    }

  private:
    // Starts a section: records its offset, sets its layout version and
    // writes its count word.
    template <typename Container>
    void begin(KvtSection section, const Container& items) {
        const std::size_t index = kvtSectionIndex(section);
        (*offsets_)[index] = bodyStart_ + sink_.size();
        version_ = options_.sectionVersions[index].value_or(model_.version);
        wide_ = options_.wideNames.value_or(version_ == kOddWideNameVersion ||
                                            version_ >= kWideNameVersion);
        sink_.i32(countOf(items, options_.sectionCounts[index]));
    }

    bool newLayout() const { return version_ >= kNewLayoutVersion; }

    void name(const KvtName& name) { sink_.raw(writeKvtName(name, wide_)); }

    void transform(const KvtTransform& t) {
        sink_.floats(t.xAxis);
        sink_.floats(t.yAxis);
        sink_.floats(t.zAxis);
        sink_.floats(t.position);
        sink_.floats(t.scale);
        sink_.floats(t.matrix);
        sink_.floats(t.rotation);
        sink_.floats(t.eulerAngles);
    }

    void lights() {
        begin(KvtSection::kLights, model_.lights);
        for (const KvtLight& light : model_.lights) {
            name(light.name);
            if (newLayout()) {
                sink_.i32(light.code);
                sink_.i32(light.option);
                transform(light.transform);
                sink_.floats(light.params);
                sink_.floats(light.colour);
                sink_.floats(light.extraParams);
            } else {
                sink_.i32(light.option);
                sink_.floats(light.transform.position);
                sink_.floats(light.colour);
            }
        }
    }

    void cameras() {
        begin(KvtSection::kCameras, model_.cameras);
        for (const KvtCamera& camera : model_.cameras) {
            name(camera.name);
            if (newLayout()) {
                sink_.i32(camera.code);
                sink_.i32(camera.option);
                transform(camera.transform);
            } else {
                sink_.i32(camera.option);
                sink_.floats(camera.transform.xAxis);
                sink_.floats(camera.transform.yAxis);
                sink_.floats(camera.transform.zAxis);
                sink_.floats(camera.transform.position);
            }
            sink_.f32(camera.fieldOfView);
            sink_.f32(camera.nearClip);
            sink_.f32(camera.farClip);
        }
    }

    void materials() {
        begin(KvtSection::kMaterials, model_.materials);
        for (const KvtMaterial& material : model_.materials) {
            name(material.name);
            sink_.i32(material.flags);
            for (const KvtVec4& colour : material.colours) {
                sink_.floats(colour);
            }
            sink_.f32(material.shininess);
            sink_.f32(material.opacity);
            sink_.i32(countOf(material.maps, material.mapCount));
            for (const KvtMap& entry : material.maps) {
                mapEntry(entry, version_ <= kNewMapLayoutAbove);
            }
        }
    }

    // One map entry: the common part of the layout, then the kind's payload.
    void mapEntry(const KvtMap& map, bool oldLayout) {
        sink_.i32(map.key);
        sink_.i32(map.kind);
        if (oldLayout) {
            sink_.i32(map.oldUnused[0]);
            sink_.i32(map.oldUnused[1]);
            sink_.i32(map.mapFlags);
        } else {
            sink_.i32(map.mapFlags);
            sink_.floats(map.mapOffset);
            sink_.floats(map.mapScale);
            sink_.floats(map.mapAngles);
        }
        if (map.kind < 1 || map.kind > 7) {
            return;
        }
        if (oldLayout) {
            sink_.i32(map.oldPayloadWord.value_or(map.kind <= 3 ? 0 : map.mapFlags));
        }
        if (map.kind == 4) {
            if (oldLayout) {
                oldLayers(map);
            } else {
                sink_.i32(countOf(map.layers, map.layerCount));
                for (const KvtMapLayer& layer : map.layers) {
                    name(layer.fileName);
                    sink_.i32(layer.layerA);
                    sink_.i32(layer.layerB);
                    sink_.f32(layer.layerWeight);
                }
            }
            return;
        }
        if (map.kind == 5) {
            for (const KvtName& face : map.faces) {
                name(face);
            }
            return;
        }
        name(map.fileName);
        sink_.i32(map.mode);
        if (map.kind <= 3) {
            sink_.f32(map.paramA);
            sink_.f32(map.paramB);
        }
        if (map.kind == 2) {
            sink_.f32(map.paramC);
            sink_.f32(map.paramD);
            sink_.i32(map.packedValue);
        }
        if (map.kind == 2 || map.kind == 3) {
            sink_.i32(map.extraValue);
        }
    }

    // The old layout's three layers, field by field.
    void oldLayers(const KvtMap& map) {
        if (map.layers.size() > kOldLayerCount) {
            throw std::invalid_argument("kvt writer: an old layered map has three layers");
        }
        std::array<KvtMapLayer, kOldLayerCount> layers{};
        std::copy(map.layers.begin(), map.layers.end(), layers.begin());
        for (const KvtMapLayer& layer : layers) {
            name(layer.fileName);
        }
        for (const KvtMapLayer& layer : layers) {
            sink_.i32(layer.layerA);
        }
        for (const KvtMapLayer& layer : layers) {
            sink_.i32(layer.layerB);
        }
        for (const int32_t unused : map.oldLayerUnused) {
            sink_.i32(unused);
        }
        for (const KvtMapLayer& layer : layers) {
            sink_.f32(layer.layerWeight);
        }
    }
    void groups() {
        begin(KvtSection::kGroups, model_.groups);
        for (const KvtGroup& group : model_.groups) {
            name(group.name);
            if (newLayout()) {
                sink_.i32(group.groupTag);
                sink_.i32(group.groupLink);
                transform(group.transform);
            }
        }
    }

    void vertices() {
        begin(KvtSection::kVertices, model_.vertices);
        for (const KvtVertex& vertex : model_.vertices) {
            sink_.floats(vertex.position);
            if ((model_.flags & kKvtFlagVertexNormals) != 0) {
                sink_.floats(vertex.normal);
            }
            if ((model_.flags & kKvtFlagVertexColours) != 0) {
                sink_.floats(vertex.colour);
            }
            sink_.i32(countOf(vertex.weights, vertex.weightCount));
            for (const KvtWeight& weight : vertex.weights) {
                sink_.i32(weight.boneIndex);
                sink_.f32(weight.weight);
            }
        }
    }

    void auxRecord(const KvtAuxRecord& record) {
        for (const int32_t value : record.values) {
            sink_.i32(value);
        }
        sink_.f32(record.scalar);
    }

    void auxRecords() {
        begin(KvtSection::kAuxRecords, model_.auxRecords);
        for (const KvtAuxRecord& record : model_.auxRecords) {
            auxRecord(record);
        }
    }

    void uvSets() {
        begin(KvtSection::kUVSets, model_.uvSets);
        for (const KvtUVSet& set : model_.uvSets) {
            name(set.name);
            sink_.i32(countOf(set.coords, set.coordCount));
            for (const KvtUVCoord& coord : set.coords) {
                sink_.i32(coord.tag);
                sink_.f32(coord.u);
                sink_.f32(coord.v);
            }
            sink_.i32(countOf(set.auxRecords, set.auxCount));
            for (const KvtAuxRecord& record : set.auxRecords) {
                auxRecord(record);
            }
        }
    }

    // Per corner entries of a polygon: the given ones, then zeros.
    template <typename Entry>
    static Entry cornerEntry(const std::vector<Entry>& entries, std::size_t corner,
                             std::size_t corners) {
        if (entries.size() > corners) {
            throw std::invalid_argument("kvt writer: more per-corner entries than corners");
        }
        return corner < entries.size() ? entries[corner] : Entry{};
    }

    void meshes() {
        begin(KvtSection::kMeshes, model_.meshes);
        for (const KvtMesh& mesh : model_.meshes) {
            if (!newLayout()) {
                sink_.i32(mesh.tag);
            }
            sink_.i32(countOf(mesh.polygons, mesh.polygonCount));
            for (const KvtPolygon& polygon : mesh.polygons) {
                if (newLayout()) {
                    newPolygon(polygon);
                } else {
                    oldPolygon(polygon);
                }
            }
        }
    }

    void newPolygon(const KvtPolygon& polygon) {
        const std::size_t corners = polygon.vertices.size();
        sink_.i32(countOf(polygon.vertices, polygon.cornerCount));
        sink_.i32(countOf(polygon.uvLayers, polygon.layerCount));
        sink_.i32(polygon.polygonTag);
        sink_.i32(polygon.materialIndex);
        sink_.i32(polygon.polygonValue);
        for (std::size_t j = 0; j < corners; ++j) {
            sink_.i32(polygon.vertices[j]);
            sink_.i32(cornerEntry(polygon.cornerValues, j, corners));
        }
        for (const KvtUVLayer& layer : polygon.uvLayers) {
            for (std::size_t j = 0; j < corners; ++j) {
                sink_.i32(cornerEntry(layer.uvIndices, j, corners));
                sink_.i32(cornerEntry(layer.uvValues, j, corners));
            }
        }
    }

    void oldPolygon(const KvtPolygon& polygon) {
        const std::size_t corners = polygon.vertices.size();
        sink_.i32(countOf(polygon.vertices, polygon.cornerCount));
        if (version_ >= kLayerCountFromVersion) {
            sink_.i32(countOf(polygon.inlineUVs, polygon.layerCount));
        }
        sink_.i32(polygon.materialIndex);
        sink_.i32(polygon.polygonValue);
        for (const int32_t vertex : polygon.vertices) {
            sink_.i32(vertex);
        }
        for (const std::vector<KvtInlineUV>& layer : polygon.inlineUVs) {
            for (std::size_t j = 0; j < corners; ++j) {
                const KvtInlineUV uv = cornerEntry(layer, j, corners);
                sink_.f32(uv.u);
                sink_.f32(uv.v);
                if (version_ < kTwoFloatUVFromVersion) {
                    sink_.f32(uv.w);
                }
            }
        }
    }

    void bones() {
        begin(KvtSection::kBones, model_.bones);
        for (const KvtBone& bone : model_.bones) {
            name(bone.name);
            sink_.i32(bone.boneLink);
            if (newLayout()) {
                transform(bone.transform);
            } else {
                sink_.floats(bone.transform.position);
                sink_.floats(bone.transform.rotation);
                if (version_ >= kBoneScaleFromVersion) {
                    sink_.floats(bone.transform.scale);
                }
            }
            sink_.floats(bone.colour);
        }
    }

    template <typename Key>
    void keys(const std::vector<Key>& list, const std::optional<int32_t>& count) {
        sink_.i32(countOf(list, count));
        for (const Key& key : list) {
            sink_.f32(key.time);
            sink_.floats(key.value);
        }
    }

    void animations() {
        begin(KvtSection::kAnimations, model_.animations);
        for (const KvtAnimation& animation : model_.animations) {
            name(animation.name);
            sink_.i32(animation.tag);
            sink_.f32(animation.start);
            sink_.f32(animation.end);
            sink_.f32(animation.rate);
            sink_.i32(countOf(animation.tracks, animation.trackCount));
            for (const KvtTrack& track : animation.tracks) {
                keys(track.positionKeys, track.positionKeyCount);
                keys(track.rotationKeys, track.rotationKeyCount);
                keys(track.scaleKeys, track.scaleKeyCount);
            }
        }
    }

    const KvtModel& model_;
    const KvtWriteOptions& options_;
    const std::size_t bodyStart_;
    std::array<std::optional<std::size_t>, kKvtSectionCount>* offsets_ = nullptr;
    ByteSink sink_;
    int32_t version_ = 0;
    bool wide_ = false;
};

uint32_t length32(std::size_t length) {
    if (length > std::numeric_limits<uint32_t>::max()) {
        throw std::invalid_argument("kvt writer: a ModelFile of 4 GiB or more");
    }
    return static_cast<uint32_t>(length);
}

KvtBytes compressImage(const KvtBytes& image, int level) {
    uLongf capacity = compressBound(static_cast<uLong>(image.size()));
    KvtBytes stream(capacity);
    if (compress2(stream.data(), &capacity, image.data(), static_cast<uLong>(image.size()),
                  level) != Z_OK) {
        throw std::runtime_error("kvt writer: compress2 failed");
    }
    stream.resize(capacity);
    return stream;
}

}  // namespace

KvtBytes writeKvtName(const KvtName& name, bool wide) {
    KvtBytes text;
    if (name.rawBytes) {
        text = *name.rawBytes;
    } else {
        for (const char16_t unit : name.text) {
            if (wide) {
                text.push_back(static_cast<uint8_t>(unit));
                text.push_back(static_cast<uint8_t>(unit >> 8));
            } else if (unit > 0xFF) {
                throw std::invalid_argument("kvt writer: a narrow name unit above 0xFF");
            } else {
                text.push_back(static_cast<uint8_t>(unit));
            }
        }
    }
    if (!name.rawLength && text.size() > 0xFFFF) {
        throw std::invalid_argument("kvt writer: a name longer than 65535 bytes");
    }
    ByteSink sink;
    sink.u16(name.rawLength.value_or(static_cast<uint16_t>(text.size())));
    sink.raw(text);
    return std::move(sink.bytes());
}

KvtBytes writeKvtSection(const KvtModel& model, KvtSection section, int32_t layoutVersion,
                         std::optional<int32_t> count) {
    KvtWriteOptions options;
    options.sectionVersions.fill(layoutVersion);
    options.sectionCounts[kvtSectionIndex(section)] = count;
    return BodyWriter(model, options, 0).single(section);
}

KvtImage writeKvtImage(const KvtModel& model, const KvtWriteOptions& options) {
    const KvtHeaderOverrides& overrides = options.compressed ? options.innerHeader : options.header;
    KvtImage image;
    image.headerSize = headerSize(longLayoutFor(model, overrides));
    const KvtBytes body = BodyWriter(model, options, image.headerSize).write(image.sectionOffsets);

    std::size_t length = image.headerSize + body.size();
    if (options.truncateAt && *options.truncateAt < length) {
        length = *options.truncateAt;
    }
    image.bytes = headerBytes(model, overrides, model.flags, length32(length), std::nullopt);
    image.bytes.insert(image.bytes.end(), body.begin(), body.end());
    image.bytes.resize(length);
    for (std::optional<std::size_t>& offset : image.sectionOffsets) {
        if (offset && *offset >= length) {
            offset.reset();
        }
    }
    return image;
}

KvtBytes writeKvt(const KvtModel& model, const KvtWriteOptions& options) {
    KvtBytes file = writeKvtImage(model, options).bytes;
    if (options.compressed) {
        const KvtBytes stream = compressImage(file, options.compressionLevel);
        const std::size_t streamStart =
            headerSize(longLayoutFor(model, options.header)) + options.streamGap;
        KvtBytes outer = headerBytes(model, options.header, model.flags | kKvtFlagCompressed,
                                     length32(file.size()),
                                     options.streamOffset.value_or(length32(streamStart)));
        outer.resize(streamStart, 0);
        outer.insert(outer.end(), stream.begin(), stream.end());
        file = std::move(outer);
    }
    if (options.truncateFileAt && *options.truncateFileAt < file.size()) {
        file.resize(*options.truncateFileAt);
    }
    return file;
}

void writeKvtFile(const std::filesystem::path& path, const KvtModel& model,
                  const KvtWriteOptions& options) {
    const KvtBytes bytes = writeKvt(model, options);
    const std::string text(bytes.begin(), bytes.end());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    out.close();
    if (!out) {
        throw std::runtime_error("kvt writer: cannot write " + path.string());
    }
}

namespace {

// UVs of both layouts for one polygon whose corners use `uvIndices` of `uvs`.
void setPolygonUVs(KvtPolygon& polygon, const std::vector<int32_t>& uvIndices,
                   const std::vector<KvtUVCoord>& uvs) {
    polygon.uvLayers = {{.uvIndices = uvIndices}};
    std::vector<KvtInlineUV> inlineLayer;
    for (const int32_t index : uvIndices) {
        const KvtUVCoord& uv = uvs[static_cast<std::size_t>(index)];
        inlineLayer.push_back({.u = uv.u, .v = uv.v});
    }
    polygon.inlineUVs = {inlineLayer};
}

}  // namespace

KvtModel triangleModel(int32_t version) {
    KvtModel model;
    model.version = version;
    model.materials = {{.name = "Material"}};
    model.vertices = {{.position = {0, 0, 0}}, {.position = {1, 0, 0}}, {.position = {0, 1, 0}}};
    model.uvSets = {{.name = "UVSet1", .coords = {{0, 0, 0}, {0, 1, 0}, {0, 0, 1}}}};
    KvtPolygon polygon{.vertices = {0, 1, 2}, .materialIndex = 0};
    setPolygonUVs(polygon, {0, 1, 2}, model.uvSets[0].coords);
    model.meshes = {{.polygons = {polygon}}};
    return model;
}

KvtModel cubeModel(int32_t version) {
    KvtModel model;
    model.version = version;
    model.materials = {{.name = "Material"}};
    for (int i = 0; i < 8; ++i) {
        model.vertices.push_back(
            {.position = {static_cast<float>(i & 1), static_cast<float>((i >> 1) & 1),
                          static_cast<float>((i >> 2) & 1)}});
    }
    model.uvSets = {{.name = "UVSet1", .coords = {{0, 0, 0}, {0, 1, 0}, {0, 1, 1}, {0, 0, 1}}}};
    // Faces -x, +x, -y, +y, -z, +z, each counter-clockwise seen from outside.
    const std::array<std::array<int32_t, 4>, 6> faces{
        {{0, 4, 6, 2}, {1, 3, 7, 5}, {0, 1, 5, 4}, {2, 6, 7, 3}, {0, 2, 3, 1}, {4, 5, 7, 6}}};
    KvtMesh mesh;
    for (const std::array<int32_t, 4>& face : faces) {
        KvtPolygon first{.vertices = {face[0], face[1], face[2]}, .materialIndex = 0};
        setPolygonUVs(first, {0, 1, 2}, model.uvSets[0].coords);
        KvtPolygon second{.vertices = {face[0], face[2], face[3]}, .materialIndex = 0};
        setPolygonUVs(second, {0, 2, 3}, model.uvSets[0].coords);
        mesh.polygons.push_back(std::move(first));
        mesh.polygons.push_back(std::move(second));
    }
    model.meshes = {std::move(mesh)};
    return model;
}

KvtModel texturedCubeModel(int32_t version) {
    KvtModel model = cubeModel(version);
    model.materials[0].maps = {
        KvtMap{.key = 0, .kind = 1, .fileName = "wood.png"},
        KvtMap{.key = 1, .kind = 1, .fileName = "bump.png"},
    };
    model.materials.push_back(KvtMaterial{
        .name = "Second",
        .flags = 2,
        .colours = {{{0.5f, 0.25f, 0.125f, 1},
                     {0.1f, 0.2f, 0.3f, 1},
                     {0, 0, 0, 1},
                     {0.75f, 0.75f, 0.75f, 1},
                     {0, 0, 0, 1}}},
        .shininess = 64,
        .opacity = 0.25f,
    });
    for (std::size_t i = 6; i < model.meshes[0].polygons.size(); ++i) {
        model.meshes[0].polygons[i].materialIndex = 1;
    }
    return model;
}

}  // namespace quillmesh::testsupport
