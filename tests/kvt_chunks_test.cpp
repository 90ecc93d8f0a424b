// The chunked (version 34) writer of tests/support against bytes worked out by
// hand: the 48-byte header, chunk framing with size overrides and nesting, the
// vertex records under each flag, polygons with exact corners and layers, UV
// sets, embedded files, the name list, the body's chunk order and nested
// compression.
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <stdexcept>
#include <string>
#include <vector>

#include "tests/support/kvt_chunks.h"

namespace quillmesh::testsupport {
namespace {

using Bytes = std::vector<uint8_t>;

// Expected bytes, value by value in little-endian order.
class Expected {
  public:
    Expected& u8s(std::initializer_list<uint8_t> values) {
        bytes_.insert(bytes_.end(), values.begin(), values.end());
        return *this;
    }
    Expected& word(uint32_t value) {
        return u8s({static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
                    static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)});
    }
    Expected& words(std::initializer_list<uint32_t> values) {
        for (const uint32_t value : values) {
            word(value);
        }
        return *this;
    }
    Expected& floats(std::initializer_list<float> values) {
        for (const float value : values) {
            word(std::bit_cast<uint32_t>(value));
        }
        return *this;
    }
    // A wide name of ASCII text: the byte count, then two bytes per character.
    Expected& wide(const std::string& text) {
        const auto length = static_cast<uint16_t>(2 * text.size());
        u8s({static_cast<uint8_t>(length), static_cast<uint8_t>(length >> 8)});
        for (const char c : text) {
            u8s({static_cast<uint8_t>(c), 0});
        }
        return *this;
    }
    Expected& raw(const Bytes& bytes) {
        bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
        return *this;
    }
    const Bytes& bytes() const { return bytes_; }

  private:
    Bytes bytes_;
};

uint32_t wordAt(const Bytes& bytes, std::size_t offset) {
    return static_cast<uint32_t>(bytes.at(offset)) |
           static_cast<uint32_t>(bytes.at(offset + 1)) << 8 |
           static_cast<uint32_t>(bytes.at(offset + 2)) << 16 |
           static_cast<uint32_t>(bytes.at(offset + 3)) << 24;
}

Bytes slice(const Bytes& bytes, std::size_t offset, std::size_t count) {
    if (offset >= bytes.size()) {
        return {};
    }
    const std::size_t n = std::min(count, bytes.size() - offset);
    return Bytes(bytes.begin() + static_cast<std::ptrdiff_t>(offset),
                 bytes.begin() + static_cast<std::ptrdiff_t>(offset + n));
}

Bytes from(const Bytes& bytes, std::size_t offset) {
    return slice(bytes, offset, bytes.size());
}

Bytes inflate(const Bytes& stream, std::size_t size) {
    Bytes out(size + 16);
    uLongf produced = static_cast<uLongf>(out.size());
    EXPECT_EQ(uncompress(out.data(), &produced, stream.data(), static_cast<uLong>(stream.size())),
              Z_OK);
    out.resize(produced);
    return out;
}

std::vector<uint32_t> ids(const std::vector<KvtChunk>& chunks) {
    std::vector<uint32_t> out;
    for (const KvtChunk& chunk : chunks) {
        out.push_back(chunk.id);
    }
    return out;
}

constexpr std::size_t kHeader = 48;

TEST(KvtChunksTest, HeaderIsFortyEightBytesWithLengthAndUninterpretedBytes) {
    KvtChunkedWriteOptions options;
    for (std::size_t i = 0; i < options.uninterpreted.size(); ++i) {
        options.uninterpreted[i] = static_cast<uint8_t>(0xA0 + i);
    }
    const Bytes file =
        writeKvt34(std::vector<KvtChunk>{{.id = 7, .payload = {1, 2}}}, 0x9, options);
    Expected expected;
    expected.u8s({'K', 'V', 'T', 'H'}).words({34, 0x9, 58, 0});
    for (std::size_t i = 0; i < options.uninterpreted.size(); ++i) {
        expected.u8s({static_cast<uint8_t>(0xA0 + i)});
    }
    expected.words({7, 2}).u8s({1, 2});
    EXPECT_EQ(file, expected.bytes());
}

TEST(KvtChunksTest, ChunkFramingWithSizeOverridesAndNesting) {
    struct Case {
        const char* name;
        std::vector<KvtChunk> chunks;
        Bytes expected;
    };
    const KvtChunk leaf{.id = 0xDDDD0001, .payload = {9}};
    const Case cases[] = {
        {"empty chunk", {{.id = 0x11}}, Expected().words({0x11, 0}).bytes()},
        {"payload",
         {{.id = 0x11, .payload = {5, 6, 7}}},
         Expected().words({0x11, 3}).u8s({5, 6, 7}).bytes()},
        {"two chunks in order",
         {{.id = 1, .payload = {5}}, {.id = 2}},
         Expected().words({1, 1}).u8s({5}).words({2, 0}).bytes()},
        {"children count in the parent's size",
         {{.id = 0xCCCC0000, .payload = {1, 2}, .children = {leaf}}},
         Expected().words({0xCCCC0000, 11}).u8s({1, 2}).words({0xDDDD0001, 1}).u8s({9}).bytes()},
        {"three levels",
         {{.id = 1, .children = {{.id = 2, .children = {leaf}}}}},
         Expected().words({1, 17, 2, 9, 0xDDDD0001, 1}).u8s({9}).bytes()},
        {"size override",
         {{.id = 3, .payload = {5}, .size = 100}},
         Expected().words({3, 100}).u8s({5}).bytes()},
        {"size delta",
         {{.id = 3, .payload = {5}, .sizeDelta = 2}},
         Expected().words({3, 3}).u8s({5}).bytes()},
        {"delta below zero wraps",
         {{.id = 3, .sizeDelta = -1}},
         Expected().words({3, 0xFFFFFFFF}).bytes()},
        {"delta above 2^32 wraps",
         {{.id = 3, .size = 0xFFFFFFFF, .sizeDelta = 2}},
         Expected().words({3, 1}).bytes()},
        {"child override leaves the parent's computed size",
         {{.id = 1, .children = {{.id = 2, .payload = {4}, .size = 0}}}},
         Expected().words({1, 9, 2, 0}).u8s({4}).bytes()},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(kvtChunkBytes(c.chunks), c.expected) << c.name;
    }
}

TEST(KvtChunksTest, VertexRecordsFollowEachFlag) {
    const KvtVertex vertex{.position = {1, 2, 3},
                           .normal = {4, 5, 6},
                           .colour = {0.5f, 0.25f, 0.125f, 1},
                           .weights = {{.boneIndex = 3, .weight = 0.75f}},
                           .extraVectors = {{{7, 8, 9}, {10, 11, 12}}}};
    struct Case {
        uint32_t flags;
        Bytes record;
    };
    const Bytes position = Expected().floats({1, 2, 3}).bytes();
    const Bytes normal = Expected().floats({4, 5, 6}).bytes();
    const Bytes extra = Expected().floats({7, 8, 9, 10, 11, 12}).bytes();
    const Bytes colour = Expected().floats({0.5f, 0.25f, 0.125f, 1}).bytes();
    const Bytes weights = Expected().words({1, 3}).floats({0.75f}).bytes();
    const Case cases[] = {
        {0x0, Expected().raw(position).bytes()},
        {0x1, Expected().raw(position).raw(normal).bytes()},
        {0x2, Expected().raw(position).raw(colour).bytes()},
        {0x4, Expected().raw(position).raw(extra).bytes()},
        {0x8, Expected().raw(position).raw(weights).bytes()},
        // Normal, then the extra vectors, then the colour, then the weights.
        {0xF, Expected().raw(position).raw(normal).raw(extra).raw(colour).raw(weights).bytes()},
        // Compression and unknown bits change nothing in the record.
        {0x10 | 0x20 | 0x2, Expected().raw(position).raw(colour).bytes()},
    };
    for (const Case& c : cases) {
        const Bytes expected = Expected().words({2}).raw(c.record).raw(c.record).bytes();
        EXPECT_EQ(kvtVertexChunkPayload({vertex, vertex}, c.flags), expected) << c.flags;
    }
}

TEST(KvtChunksTest, VertexWeightCountOverrideReplacesOnlyTheWord) {
    KvtVertex vertex{.weights = {{.boneIndex = 1, .weight = 1}}};
    vertex.weightCount = 5;
    EXPECT_EQ(kvtVertexChunkPayload({vertex}, kKvtFlagVertexWeights),
              Expected().words({1}).floats({0, 0, 0}).words({5, 1}).floats({1}).bytes());
}

TEST(KvtChunksTest, PolygonsKeepExactlyTheirCornersAndLayers) {
    struct Case {
        const char* name;
        KvtPolygon polygon;
        Bytes record;
    };
    const Case cases[] = {
        {"two corners one layer",
         {.vertices = {4, 5},
          .cornerValues = {40, 50},
          .polygonTag = 7,
          .materialIndex = 2,
          .polygonValue = 9,
          .uvLayers = {{.uvIndices = {1, 2}, .uvValues = {10, 20}}}},
         Expected().words({2, 1, 7, 2, 9, 4, 40, 5, 50, 1, 10, 2, 20}).bytes()},
        {"four corners no layer",
         {.vertices = {0, 1, 2, 3}},
         Expected().words({4, 0, 0, 0, 0, 0, 0, 1, 0, 2, 0, 3, 0}).bytes()},
        {"three layers, short layer filled with zeros",
         {.vertices = {6},
          .uvLayers = {{.uvIndices = {1}}, {}, {.uvIndices = {3}, .uvValues = {4}}}},
         Expected().words({1, 3, 0, 0, 0, 6, 0, 1, 0, 0, 0, 3, 4}).bytes()},
        {"count overrides change only the count words",
         {.vertices = {8, 9},
          .uvLayers = {{.uvIndices = {1, 1}}},
          .cornerCount = 3,
          .layerCount = 0},
         Expected().words({3, 0, 0, 0, 0, 8, 0, 9, 0, 1, 0, 1, 0}).bytes()},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(kvtPolygonChunkPayload({c.polygon}), Expected().words({1}).raw(c.record).bytes())
            << c.name;
    }
    EXPECT_EQ(kvtPolygonChunkPayload({}), Expected().words({0}).bytes());
}

TEST(KvtChunksTest, EmbeddedFilesAndNameListUseWideNames) {
    const std::vector<KvtEmbeddedFile> files{{.name = "a.png", .content = {1, 2, 3}},
                                             {.name = "dir/b", .content = {4}, .size = 1000},
                                             {.name = "", .content = {}}};
    EXPECT_EQ(kvtEmbeddedFilesPayload(files), Expected()
                                                  .words({3})
                                                  .wide("a.png")
                                                  .words({3})
                                                  .u8s({1, 2, 3})
                                                  .wide("dir/b")
                                                  .words({1000})
                                                  .u8s({4})
                                                  .wide("")
                                                  .words({0})
                                                  .bytes());
    EXPECT_EQ(kvtNameListPayload({"one", u"\u00e9"}),
              Expected().words({2}).wide("one").u8s({2, 0, 0xE9, 0}).bytes());
    EXPECT_EQ(kvtNameListPayload({}), Expected().words({0}).bytes());
}

TEST(KvtChunksTest, UVSetChunkHasWideNameThenCoordinateAndAuxChunks) {
    KvtUVSet set{.name = "UV",
                 .coords = {{.tag = 3, .u = 0.5f, .v = 1}},
                 .auxRecords = {{.values = {1, 2, 3, 4, 5, 6, 7, 8, 9}, .scalar = 2}}};
    const Bytes expected = Expected()
                               .words({kChunkUVSet, 6 + 24 + 52})
                               .wide("UV")
                               .words({kChunkUVCoords, 16, 1, 3})
                               .floats({0.5f, 1})
                               .words({kChunkUVSetAux, 44, 1, 1, 2, 3, 4, 5, 6, 7, 8, 9})
                               .floats({2})
                               .bytes();
    EXPECT_EQ(kvtChunkBytes({kvtUVSetChunk(set)}), expected);

    set.coordCount = -1;
    set.auxCount = 9;
    const Bytes bent = kvtChunkBytes({kvtUVSetChunk(set)});
    EXPECT_EQ(wordAt(bent, 22), static_cast<uint32_t>(-1));
    EXPECT_EQ(wordAt(bent, 46), 9u);
    EXPECT_EQ(bent.size(), expected.size());
}

KvtModel everySection() {
    KvtModel model = triangleModel(34);
    model.lights = {{.name = "L"}};
    model.cameras = {{.name = "C"}};
    model.groups = {{.name = "G"}};
    model.auxRecords = {{}};
    model.bones = {{.name = "B"}};
    model.animations = {{.name = "A"}};
    model.meshes.push_back({.polygons = {{.vertices = {2, 1, 0}}}});
    return model;
}

TEST(KvtChunksTest, BodyChunksComeInTheUsualOrderAndOnlyForPresentSections) {
    const KvtModel model = everySection();
    EXPECT_EQ(ids(kvtBodyChunks(model)),
              (std::vector<uint32_t>{kChunkDirectory, kChunkLights, kChunkCameras, kChunkMaterials,
                                     kChunkGroups, kChunkGeometry, kChunkBones, kChunkAnimations}));

    KvtChunkedOptions options;
    options.embeddedFiles = {{.name = "x"}};
    options.nameList = std::vector<KvtName>{};
    EXPECT_EQ(ids(kvtBodyChunks(model, options)),
              (std::vector<uint32_t>{kChunkDirectory, kChunkLights, kChunkCameras, kChunkMaterials,
                                     kChunkEmbeddedFiles, kChunkGroups, kChunkGeometry, kChunkBones,
                                     kChunkAnimations, kChunkNameList}));
    EXPECT_EQ(ids(kvtBodyChunks(KvtModel{})), (std::vector<uint32_t>{kChunkDirectory}));
}

TEST(KvtChunksTest, DirectoryHoldsTheTenIdentifiersOrTheGivenEntries) {
    Expected ten;
    for (const uint32_t id :
         {kChunkDirectory, kChunkLights, kChunkCameras, kChunkMaterials, kChunkEmbeddedFiles,
          kChunkGroups, kChunkGeometry, kChunkBones, kChunkAnimations, kChunkNameList}) {
        ten.words({id, 0});
    }
    EXPECT_EQ(kvtBodyChunks(KvtModel{}).front().payload, ten.bytes());

    KvtChunkedOptions options;
    options.directoryEntries = {{kChunkLights, 5}, {0x1234, 6}};
    EXPECT_EQ(kvtBodyChunks(KvtModel{}, options).front().payload,
              Expected().words({kChunkLights, 5, 0x1234, 6}).bytes());
}

TEST(KvtChunksTest, FirstMeshCarriesTheSharedChunksAndLaterMeshesTheirPolygons) {
    KvtChunkedOptions options;
    options.flags = 0;
    const std::vector<KvtChunk> body = kvtBodyChunks(everySection(), options);
    const KvtChunk& geometry = body[5];
    ASSERT_EQ(geometry.id, kChunkGeometry);
    EXPECT_EQ(geometry.payload, Expected().words({2}).bytes());
    ASSERT_EQ(ids(geometry.children), (std::vector<uint32_t>{kChunkMesh, kChunkMesh}));
    const KvtChunk& first = geometry.children[0];
    ASSERT_EQ(ids(first.children), (std::vector<uint32_t>{kChunkVertices, kChunkAuxRecords,
                                                          kChunkPolygons, kChunkUVSets}));
    EXPECT_EQ(first.children[0].payload,
              Expected().words({3}).floats({0, 0, 0, 1, 0, 0, 0, 1, 0}).bytes());
    EXPECT_EQ(first.children[1].payload,
              Expected().words({1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}).bytes());
    // The triangle fixture: corners 0, 1, 2 with UV indices 0, 1, 2 in one layer.
    EXPECT_EQ(first.children[2].payload,
              Expected().words({1, 3, 1, 0, 0, 0, 0, 0, 1, 0, 2, 0, 0, 0, 1, 0, 2, 0}).bytes());
    EXPECT_EQ(first.children[3].payload, Expected().words({1}).bytes());
    EXPECT_EQ(ids(first.children[3].children), (std::vector<uint32_t>{kChunkUVSet}));
    const KvtChunk& second = geometry.children[1];
    ASSERT_EQ(ids(second.children), (std::vector<uint32_t>{kChunkPolygons}));
    EXPECT_EQ(second.children[0].payload,
              Expected().words({1, 3, 0, 0, 0, 0, 2, 0, 1, 0, 0, 0}).bytes());
}

TEST(KvtChunksTest, SectionCountOverridesReachTheirCountWords) {
    KvtChunkedOptions options;
    options.sectionCounts[kvtSectionIndex(KvtSection::kLights)] = 9;
    options.sectionCounts[kvtSectionIndex(KvtSection::kMeshes)] = 1;
    options.sectionCounts[kvtSectionIndex(KvtSection::kVertices)] = 70;
    const std::vector<KvtChunk> body = kvtBodyChunks(everySection(), options);
    EXPECT_EQ(wordAt(body[1].payload, 0), 9u);
    EXPECT_EQ(body[5].payload, Expected().words({1}).bytes());
    EXPECT_EQ(body[5].children.size(), 2u);
    EXPECT_EQ(wordAt(body[5].children[0].children[0].payload, 0), 70u);
}

TEST(KvtChunksTest, MeshlessGeometryStillCarriesItsVertices) {
    KvtModel model;
    model.vertices = {{}};
    const std::vector<KvtChunk> body = kvtBodyChunks(model);
    ASSERT_EQ(ids(body), (std::vector<uint32_t>{kChunkDirectory, kChunkGeometry}));
    EXPECT_EQ(body[1].payload, Expected().words({0}).bytes());
    ASSERT_EQ(body[1].children.size(), 1u);
    EXPECT_EQ(ids(body[1].children[0].children), (std::vector<uint32_t>{kChunkVertices}));
}

TEST(KvtChunksTest, LightPayloadIsTheNewRecordWithAWideName) {
    KvtModel model;
    model.lights = {{.name = "Lamp", .code = 3, .option = 4}};
    model.lights[0].transform.position = {5, 6, 7};
    Expected record;
    record.words({1}).wide("Lamp").words({3, 4});
    record.floats({1, 0, 0, 0, 1, 0, 0, 0, 1, 5, 6, 7, 1, 1, 1, 1, 0, 0, 0,
                   0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0});
    record.floats({0, 0, 0, 0, 0, 1, 1, 1, 1, 0, 0});
    EXPECT_EQ(kvtBodyChunks(model)[1].payload, record.bytes());
}

TEST(KvtChunksTest, MaterialPayloadUsesTheNewMapEntryLayout) {
    KvtModel model;
    KvtMap map{.key = 1, .kind = 6, .mapFlags = 0x20, .fileName = "t.png", .mode = 2};
    model.materials = {{.name = "M", .maps = {map}}};
    const Bytes payload = kvtBodyChunks(model)[1].payload;
    // Count, name, flags, five colours, shininess, opacity, then one map.
    const std::size_t mapStart = 4 + 4 + 4 + 80 + 8;
    EXPECT_EQ(slice(payload, 0, 8), Expected().words({1}).wide("M").bytes());
    EXPECT_EQ(from(payload, mapStart), Expected()
                                           .words({1, 1, 6, 0x20})
                                           .floats({0, 0, 0, 1, 1, 1, 0, 0, 0})
                                           .wide("t.png")
                                           .words({2})
                                           .bytes());
}

TEST(KvtChunksTest, WriteKvtSectionMatchesTheClassicFileAtThatVersion) {
    const KvtModel model = everySection();
    const KvtImage image = writeKvtImage(model);
    for (std::size_t i = 0; i < kKvtSectionCount; ++i) {
        const std::size_t start = *image.sectionOffsets[i];
        const std::size_t end =
            i + 1 < kKvtSectionCount ? *image.sectionOffsets[i + 1] : image.bytes.size();
        EXPECT_EQ(writeKvtSection(model, static_cast<KvtSection>(i), 34),
                  slice(image.bytes, start, end - start))
            << i;
    }
    const Bytes groups = writeKvtSection(model, KvtSection::kGroups, 34);
    const Bytes bent = writeKvtSection(model, KvtSection::kGroups, 34, -3);
    EXPECT_EQ(wordAt(bent, 0), static_cast<uint32_t>(-3));
    EXPECT_EQ(from(bent, 4), from(groups, 4));
}

TEST(KvtChunksTest, CompressedFileWrapsTheWholePlainFile) {
    const KvtModel model = triangleModel(34);
    const Bytes plain = writeKvt34(model);
    KvtChunkedWriteOptions options;
    options.compressionDepth = 1;
    options.streamGap = 3;
    const Bytes file = writeKvt34(model, {}, options);
    EXPECT_EQ(slice(file, 0, 20), Expected()
                                      .u8s({'K', 'V', 'T', 'H'})
                                      .words({34, 0x18, static_cast<uint32_t>(plain.size()), 51})
                                      .bytes());
    EXPECT_EQ(slice(file, kHeader, 3), (Bytes{0, 0, 0}));
    EXPECT_EQ(inflate(from(file, 51), plain.size()), plain);
}

TEST(KvtChunksTest, DepthTwoCompressesACompressedFileAndInnerOverridesReachTheInnermost) {
    const KvtModel model = triangleModel(34);
    const Bytes plain = writeKvt34(model);
    KvtChunkedWriteOptions options;
    options.compressionDepth = 2;
    options.innerHeader.version = 33;
    options.streamOffset = 60;
    const Bytes file = writeKvt34(model, {}, options);
    EXPECT_EQ(wordAt(file, 8), 0x18u);
    EXPECT_EQ(wordAt(file, 16), 60u);

    const Bytes middle = inflate(from(file, kHeader), wordAt(file, 12));
    ASSERT_EQ(middle.size(), wordAt(file, 12));
    EXPECT_EQ(slice(middle, 0, 20), Expected()
                                        .u8s({'K', 'V', 'T', 'H'})
                                        .words({34, 0x18, static_cast<uint32_t>(plain.size()), 48})
                                        .bytes());
    const Bytes inner = inflate(from(middle, kHeader), plain.size());
    EXPECT_EQ(wordAt(inner, 4), 33u);
    EXPECT_EQ(slice(inner, 0, 4), slice(plain, 0, 4));
    EXPECT_EQ(from(inner, 8), from(plain, 8));
}

TEST(KvtChunksTest, HeaderOverridesAndTruncation) {
    const KvtModel model = triangleModel(34);
    const Bytes plain = writeKvt34(model);
    KvtChunkedWriteOptions options;
    options.header.magic = "HTVK";
    options.header.version = 35;
    options.header.flags = 0x3;
    options.header.lengthDelta = -1;
    options.streamOffset = 0xFFFFFFF0;
    options.truncateFileAt = 40;
    EXPECT_EQ(writeKvt34(model, {}, options),
              Expected()
                  .u8s({'H', 'T', 'V', 'K'})
                  .words({35, 0x3, static_cast<uint32_t>(plain.size() - 1), 0xFFFFFFF0})
                  .raw(slice(plain, 20, 20))
                  .bytes());
    options.header.length = 7;
    options.truncateFileAt.reset();
    EXPECT_EQ(wordAt(writeKvt34(model, {}, options), 12), 6u);
}

TEST(KvtChunksTest, ImpossibleRequestsThrow) {
    KvtChunkedWriteOptions depth;
    depth.compressionDepth = -1;
    EXPECT_THROW(writeKvt34(KvtModel{}, {}, depth), std::invalid_argument);
    KvtChunkedWriteOptions magic;
    magic.header.magic = "KVT";
    EXPECT_THROW(writeKvt34(KvtModel{}, {}, magic), std::invalid_argument);
}

}  // namespace
}  // namespace quillmesh::testsupport
