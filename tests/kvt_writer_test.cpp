// The ModelFile writer of tests/support against bytes worked out by hand from
// the record layouts: both header layouts, names in both forms, old and new
// layouts of every section, the section order around the aux and UV-set
// sections, compression, the overrides and the fixtures.
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "tests/support/kvt_writer.h"

namespace quillmesh::testsupport {
namespace {

using Bytes = std::vector<uint8_t>;

// Expected bytes, assembled value by value in little-endian order.
class Expected {
  public:
    Expected& u8s(std::initializer_list<uint8_t> values) {
        for (const uint8_t value : values) {
            bytes_.push_back(value);
        }
        return *this;
    }
    Expected& word(uint32_t value) {
        return u8s({static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
                    static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)});
    }
    Expected& words(std::initializer_list<int32_t> values) {
        for (const int32_t value : values) {
            word(static_cast<uint32_t>(value));
        }
        return *this;
    }
    Expected& floats(std::initializer_list<float> values) {
        for (const float value : values) {
            word(std::bit_cast<uint32_t>(value));
        }
        return *this;
    }
    Expected& zeroWords(int count) {
        for (int i = 0; i < count; ++i) {
            word(0);
        }
        return *this;
    }
    // The identity transform with `position`, as 38 floats.
    Expected& identityAt(float x, float y, float z) {
        return floats({1, 0, 0, 0, 1, 0, 0, 0, 1, x, y, z, 1, 1, 1, 1, 0, 0, 0,
                       0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0});
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

Bytes from(const Bytes& bytes, std::size_t offset) {
    return offset <= bytes.size()
               ? Bytes(bytes.begin() + static_cast<std::ptrdiff_t>(offset), bytes.end())
               : Bytes{};
}

Bytes slice(const Bytes& bytes, std::size_t offset, std::size_t count) {
    const Bytes rest = from(bytes, offset);
    return Bytes(rest.begin(),
                 rest.begin() + static_cast<std::ptrdiff_t>(std::min(count, rest.size())));
}

constexpr std::size_t kShort = 96;
constexpr std::size_t kLong = 128;

TEST(KvtWriterTest, ShortHeaderPutsImageWords18To27InFileWords14To23) {
    KvtModel model;
    model.version = 29;
    model.flags = 0x3;
    model.nameListCount = 7;
    model.headerWords[4] = 0xA04;
    model.headerWords[13] = 0xA0D;
    for (std::size_t i = 18; i <= 27; ++i) {
        model.headerWords[i] = 0xB00 + static_cast<uint32_t>(i);
    }
    const Bytes bytes = writeKvt(model);

    Expected expected;
    expected.u8s({'K', 'V', 'T', 'H'}).word(29).word(3).word(128).word(0xA04);
    expected.zeroWords(8).word(0xA0D);                           // words 5 to 13
    expected.words({0xB12, 0xB13, 0xB14, 0xB15, 0xB16, 0xB17});  // image 18 to 23
    expected.word(7).words({0xB19, 0xB1A, 0xB1B});               // image 24 to 27
    expected.zeroWords(8);  // eight empty sections, no aux or UV-set section
    EXPECT_EQ(bytes, expected.bytes());
    EXPECT_EQ(wordAt(bytes, 80), 7u);
}

TEST(KvtWriterTest, LongHeaderCarriesAllThirtyTwoWords) {
    KvtModel model;
    model.version = 30;
    model.nameListCount = -2;
    model.headerWords[14] = 0x14;
    model.headerWords[17] = 0x17;
    model.headerWords[28] = 0x28;
    model.headerWords[31] = 0x31;
    const Bytes bytes = writeKvt(model);

    Expected expected;
    expected.u8s({'K', 'V', 'T', 'H', 30, 0, 0, 0, 0, 0, 0, 0, 168, 0, 0, 0});
    expected.zeroWords(10).word(0x14).zeroWords(2).word(0x17);  // words 4 to 17
    expected.zeroWords(6).word(0xFFFFFFFE).zeroWords(3);        // words 18 to 27
    expected.word(0x28).zeroWords(2).word(0x31);                // words 28 to 31
    expected.zeroWords(10);
    EXPECT_EQ(bytes, expected.bytes());
}

TEST(KvtWriterTest, ShortHeaderRefusesWordsItHasNoPlaceFor) {
    for (const std::size_t word : {14u, 17u, 28u, 31u}) {
        KvtModel model;
        model.version = 29;
        model.headerWords[word] = 1;
        EXPECT_THROW(writeKvt(model), std::invalid_argument) << word;
        model.version = 30;
        EXPECT_EQ(wordAt(writeKvt(model), 4 * word), 1u) << word;
    }
}

// The group section is the fourth: its first record starts 16 bytes into the body.
Bytes firstGroupRecord(int32_t version, const KvtName& name, std::size_t count,
                       const KvtWriteOptions& options = {}) {
    KvtModel model;
    model.version = version;
    model.groups = {{.name = name}};
    const Bytes bytes = writeKvt(model, options);
    return slice(bytes, (version >= 30 ? kLong : kShort) + 16, count);
}

TEST(KvtWriterTest, NamesAreUtf16InVersion10AndFrom32And8BitOtherwise) {
    const Bytes narrow{2, 0, 'A', 'b'};
    const Bytes wide{4, 0, 'A', 0, 'b', 0};
    for (const int32_t version : {6, 9, 11, 29, 30, 31}) {
        EXPECT_EQ(firstGroupRecord(version, "Ab", narrow.size()), narrow) << version;
    }
    for (const int32_t version : {10, 32, 33}) {
        EXPECT_EQ(firstGroupRecord(version, "Ab", wide.size()), wide) << version;
    }
}

TEST(KvtWriterTest, NamesKeepUnitsAndRawOverrides) {
    EXPECT_EQ(firstGroupRecord(32, u"\u00E9\u4E2D", 6), (Bytes{4, 0, 0xE9, 0, 0x2D, 0x4E}));
    EXPECT_EQ(firstGroupRecord(31, std::string("\xE9z"), 4), (Bytes{2, 0, 0xE9, 'z'}));
    EXPECT_THROW(firstGroupRecord(31, u"\u4E2D", 4), std::invalid_argument);
    EXPECT_EQ(firstGroupRecord(29, "", 3), (Bytes{0, 0, 0}));  // then the vertex count

    KvtName runaway("x");
    runaway.rawLength = 0xFFFF;
    EXPECT_EQ(firstGroupRecord(29, runaway, 7), (Bytes{0xFF, 0xFF, 'x', 0, 0, 0, 0}));
    KvtName raw("zz");
    raw.rawBytes = Bytes{1, 2, 3};
    EXPECT_EQ(firstGroupRecord(29, raw, 5), (Bytes{3, 0, 1, 2, 3}));

    KvtWriteOptions wideOptions;
    wideOptions.wideNames = true;
    EXPECT_EQ(firstGroupRecord(29, "A", 4, wideOptions), (Bytes{2, 0, 'A', 0}));
    KvtWriteOptions narrowOptions;
    narrowOptions.wideNames = false;
    EXPECT_EQ(firstGroupRecord(10, "A", 3, narrowOptions), (Bytes{1, 0, 'A'}));
}

KvtLight sampleLight() {
    KvtLight light{.name = "L", .code = 5, .option = 7};
    light.transform.position = {1, 2, 3};
    light.params = {0.5f, 1.5f, 2.5f, 3.5f, 4.5f};
    light.colour = {0.5f, 0.25f, 1, 1};
    light.extraParams = {6, 7};
    return light;
}

TEST(KvtWriterTest, OldLightRecordIsNameOptionPositionColour) {
    KvtModel model;
    model.version = 29;
    model.lights = {sampleLight()};
    const Bytes bytes = writeKvt(model);

    Expected body;
    body.word(1).u8s({1, 0, 'L'}).word(7).floats({1, 2, 3, 0.5f, 0.25f, 1, 1});
    body.zeroWords(7);
    ASSERT_EQ(bytes.size(), kShort + body.bytes().size());
    EXPECT_EQ(from(bytes, kShort), body.bytes());
}

TEST(KvtWriterTest, NewLightRecordIsTheWholeRecord) {
    KvtModel model;
    model.version = 30;
    model.lights = {sampleLight()};
    const Bytes bytes = writeKvt(model);

    Expected body;
    body.word(1).u8s({1, 0, 'L'}).words({5, 7}).identityAt(1, 2, 3);
    body.floats({0.5f, 1.5f, 2.5f, 3.5f, 4.5f, 0.5f, 0.25f, 1, 1, 6, 7});
    body.zeroWords(9);
    EXPECT_EQ(from(bytes, kLong), body.bytes());
    EXPECT_EQ(wordAt(bytes, 12), bytes.size());
}

TEST(KvtWriterTest, CameraRecordsOldAndNew) {
    KvtCamera camera{
        .name = "C", .code = 3, .option = 4, .fieldOfView = 50, .nearClip = 0.5f, .farClip = 90};
    camera.transform.xAxis = {2, 0, 0};
    camera.transform.position = {7, 8, 9};
    KvtModel model;
    model.cameras = {camera};

    model.version = 29;
    Expected old;
    old.words({0, 1}).u8s({1, 0, 'C'}).word(4);
    old.floats({2, 0, 0, 0, 1, 0, 0, 0, 1, 7, 8, 9, 50, 0.5f, 90}).zeroWords(6);
    EXPECT_EQ(from(writeKvt(model), kShort), old.bytes());

    model.version = 30;
    Expected full;
    full.words({0, 1}).u8s({1, 0, 'C'}).words({3, 4}).floats({2, 0, 0, 0, 1, 0, 0, 0, 1, 7, 8, 9});
    full.floats({1, 1, 1, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0});
    full.floats({50, 0.5f, 90}).zeroWords(8);
    EXPECT_EQ(from(writeKvt(model), kLong), full.bytes());
}

TEST(KvtWriterTest, MaterialWithOldMapEntriesUpToVersion30) {
    KvtMaterial material{.name = "M", .flags = 2, .shininess = 64, .opacity = 0.5f};
    KvtMap image{
        .key = 0, .kind = 1, .mapFlags = 3, .oldUnused = {8, 9}, .fileName = "a", .mode = 1};
    KvtMap layered{.key = 1, .kind = 4, .mapFlags = 2, .oldLayerUnused = {-1, -2, -3}};
    layered.layers = {{.fileName = "p", .layerA = 4, .layerB = 5, .layerWeight = 0.5f}};
    KvtMap unknown{.key = 2, .kind = 9, .fileName = "ignored"};
    KvtMap bump{.key = 3, .kind = 3, .oldPayloadWord = 77, .fileName = "b", .extraValue = 6};
    KvtMap cube{.key = 4, .kind = 5, .mapFlags = 1};
    cube.faces = {"1", "2", "3", "4", "5", "6"};
    KvtMap mask{
        .key = 5, .kind = 7, .mapFlags = 4, .oldPayloadWord = 12, .fileName = "m", .mode = 256};
    material.maps = {image, layered, unknown, bump, cube, mask};
    KvtModel model;
    model.version = 30;
    model.materials = {material};

    Expected body;
    body.zeroWords(2).word(1).u8s({1, 0, 'M'}).word(2);
    body.floats({1, 1, 1, 1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 1, 64, 0.5f});
    body.word(6);
    // Kind 1: key, kind, two ignored words, flags, ignored word, name, mode, two floats.
    body.words({0, 1, 8, 9, 3, 0}).u8s({1, 0, 'a'}).word(1).floats({2, 1});
    // Kind 4: the payload word repeats the flags; three names, layerA, layerB,
    // three ignored words, weights; the missing layers are empty with weight 1.
    body.words({1, 4, 0, 0, 2, 2}).u8s({1, 0, 'p', 0, 0, 0, 0});
    body.words({4, 0, 0, 5, 0, 0, -1, -2, -3}).floats({0.5f, 1, 1});
    // Kind 9: the common part alone.
    body.words({2, 9, 0, 0, 0});
    // Kind 3: as kind 1 plus extraValue.
    body.words({3, 3, 0, 0, 0, 77}).u8s({1, 0, 'b'}).word(0).floats({2, 1}).word(6);
    // Kind 5: the payload word, then six names.
    body.words({4, 5, 0, 0, 1, 1});
    body.u8s({1, 0, '1', 1, 0, '2', 1, 0, '3', 1, 0, '4', 1, 0, '5', 1, 0, '6'});
    // Kind 7: the payload word, a name and mode.
    body.words({5, 7, 0, 0, 4, 12}).u8s({1, 0, 'm'}).word(256);
    body.zeroWords(7);
    EXPECT_EQ(from(writeKvt(model), kLong), body.bytes());
}

TEST(KvtWriterTest, MaterialWithNewMapEntriesAbove30) {
    KvtMap detailed{.key = 0,
                    .kind = 2,
                    .mapFlags = 0x11,
                    .mapOffset = {1, 2, 3},
                    .fileName = "d",
                    .mode = 2,
                    .paramA = 3,
                    .paramB = 4,
                    .paramC = 5,
                    .paramD = 6,
                    .packedValue = 0x123,
                    .extraValue = 9};
    KvtMap layered{.key = 1, .kind = 4, .mapFlags = 1};
    layered.layers = {{.fileName = "p", .layerA = 4, .layerB = 5, .layerWeight = 0.5f}};
    KvtMap cube{.key = 2, .kind = 5};
    cube.faces = {"1", "2", "3", "4", "5", "6"};
    KvtMap noLayers{.key = 3, .kind = 4, .layerCount = -1};
    KvtMap bump{.key = 4, .kind = 3, .fileName = "b", .paramA = 7, .extraValue = 2};
    KvtMap reflection{.key = 5, .kind = 6, .fileName = "r", .mode = 256, .paramA = 99};
    KvtModel model;
    model.version = 31;
    model.materials = {
        {.name = "M", .maps = {detailed, layered, cube, noLayers, bump, reflection}}};

    Expected body;
    body.zeroWords(2).word(1).u8s({1, 0, 'M'}).word(0);
    body.floats({1, 1, 1, 1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 1, 128, 1});
    body.word(6);
    body.words({0, 2, 0x11}).floats({1, 2, 3, 1, 1, 1, 0, 0, 0}).u8s({1, 0, 'd'});
    body.word(2).floats({3, 4, 5, 6}).words({0x123, 9});
    body.words({1, 4, 1}).floats({0, 0, 0, 1, 1, 1, 0, 0, 0}).word(1);
    body.u8s({1, 0, 'p'}).words({4, 5}).floats({0.5f});
    body.words({2, 5, 0}).floats({0, 0, 0, 1, 1, 1, 0, 0, 0});
    body.u8s({1, 0, '1', 1, 0, '2', 1, 0, '3', 1, 0, '4', 1, 0, '5', 1, 0, '6'});
    body.words({3, 4, 0}).floats({0, 0, 0, 1, 1, 1, 0, 0, 0}).word(-1);
    body.words({4, 3, 0}).floats({0, 0, 0, 1, 1, 1, 0, 0, 0}).u8s({1, 0, 'b'});
    body.word(0).floats({7, 1}).word(2);
    // Kind 6: a name and mode, no parameters.
    body.words({5, 6, 0}).floats({0, 0, 0, 1, 1, 1, 0, 0, 0}).u8s({1, 0, 'r'}).word(256);
    body.zeroWords(7);
    EXPECT_EQ(from(writeKvt(model), kLong), body.bytes());
}

TEST(KvtWriterTest, GroupRecordIsTheNameAloneBelow30) {
    KvtModel model;
    model.groups = {{.name = "G", .groupTag = 3, .groupLink = -1}};
    model.version = 29;
    EXPECT_EQ(from(writeKvt(model), kShort),
              Expected().zeroWords(3).word(1).u8s({1, 0, 'G'}).zeroWords(4).bytes());
    model.version = 30;
    EXPECT_EQ(from(writeKvt(model), kLong), Expected()
                                                .zeroWords(3)
                                                .word(1)
                                                .u8s({1, 0, 'G'})
                                                .words({3, -1})
                                                .identityAt(0, 0, 0)
                                                .zeroWords(6)
                                                .bytes());
}

TEST(KvtWriterTest, VertexRecordFollowsTheFlagsWord) {
    KvtModel model;
    model.version = 29;
    model.vertices = {{.position = {1, 2, 3},
                       .normal = {0, 0, -1},
                       .colour = {0.5f, 0.5f, 0.5f, 1},
                       .weights = {{.boneIndex = 2, .weight = 0.75f}}}};
    const std::array<std::vector<float>, 4> middle{
        {{}, {0, 0, -1}, {0.5f, 0.5f, 0.5f, 1}, {0, 0, -1, 0.5f, 0.5f, 0.5f, 1}}};
    for (uint32_t flags = 0; flags < 4; ++flags) {
        model.flags = flags;
        Expected body;
        body.zeroWords(4).word(1).floats({1, 2, 3});
        for (const float value : middle[flags]) {
            body.floats({value});
        }
        body.word(1).word(2).floats({0.75f}).zeroWords(3);
        EXPECT_EQ(from(writeKvt(model), kShort), body.bytes()) << flags;
    }
}

TEST(KvtWriterTest, SectionOrderHasAuxAndUVSetSectionsFromVersion30) {
    KvtWriteOptions options;
    for (std::size_t i = 0; i < kKvtSectionCount; ++i) {
        options.sectionCounts[i] = 101 + static_cast<int32_t>(i);
    }
    KvtModel model;
    model.version = 29;
    const Bytes without = Expected().words({101, 102, 103, 104, 105, 108, 109, 110}).bytes();
    const Bytes with = Expected().words({101, 102, 103, 104, 105, 106, 107, 108, 109, 110}).bytes();
    EXPECT_EQ(from(writeKvt(model, options), kShort), without);
    model.version = 30;
    EXPECT_EQ(from(writeKvt(model, options), kLong), with);

    options.auxAndUVSections = false;
    EXPECT_EQ(from(writeKvt(model, options), kLong), without);
    model.version = 29;
    options.auxAndUVSections = true;
    EXPECT_EQ(from(writeKvt(model, options), kShort), with);
}

TEST(KvtWriterTest, AuxRecordsAndUVSetsAreWrittenOnlyFromVersion30) {
    const KvtAuxRecord aux{.values = {1, 2, 3, 4, 5, 6, 7, 8, 9}, .scalar = 2.5f};
    KvtModel model;
    model.version = 29;
    model.vertices = {{.position = {1, 1, 1}}};
    const Bytes plain = writeKvt(model);
    model.auxRecords = {aux};
    model.uvSets = {{.name = "U",
                     .coords = {{.tag = 7, .u = 0.5f, .v = 0.75f}, {.tag = -1, .u = 2, .v = 3}},
                     .auxRecords = {aux}}};
    EXPECT_EQ(writeKvt(model), plain);

    model.version = 30;
    Expected body;
    body.zeroWords(4).word(1).floats({1, 1, 1}).word(0);
    body.word(1).words({1, 2, 3, 4, 5, 6, 7, 8, 9}).floats({2.5f});
    body.word(1).u8s({1, 0, 'U'}).word(2).word(7).floats({0.5f, 0.75f}).word(-1).floats({2, 3});
    body.word(1).words({1, 2, 3, 4, 5, 6, 7, 8, 9}).floats({2.5f});
    body.zeroWords(3);
    EXPECT_EQ(from(writeKvt(model), kLong), body.bytes());
}

KvtModel polygonModel(int32_t version) {
    KvtPolygon polygon{.vertices = {0, 1, 2},
                       .cornerValues = {10, 11, 12},
                       .polygonTag = 8,
                       .materialIndex = 4,
                       .polygonValue = 6};
    polygon.uvLayers = {{.uvIndices = {5, 6, 7}, .uvValues = {20, 21, 22}}};
    polygon.inlineUVs = {{{.u = 0.5f, .v = 0.25f, .w = 9}, {.u = 1}, {.v = 1}}};
    KvtModel model;
    model.version = version;
    model.meshes = {{.tag = 9, .polygons = {polygon}}};
    return model;
}

TEST(KvtWriterTest, OldPolygonRecordHasInlineUVs) {
    Expected v29;
    v29.zeroWords(5).words({1, 9, 1, 3, 1, 4, 6, 0, 1, 2});
    v29.floats({0.5f, 0.25f, 1, 0, 0, 1}).zeroWords(2);
    EXPECT_EQ(from(writeKvt(polygonModel(29)), kShort), v29.bytes());

    // Below version 10 every corner UV has a third float.
    Expected v9;
    v9.zeroWords(5).words({1, 9, 1, 3, 1, 4, 6, 0, 1, 2});
    v9.floats({0.5f, 0.25f, 9, 1, 0, 0, 0, 1, 0}).zeroWords(2);
    EXPECT_EQ(from(writeKvt(polygonModel(9)), kShort), v9.bytes());

    // Below version 5 there is no layer count word.
    Expected v4;
    v4.zeroWords(5).words({1, 9, 1, 3, 4, 6, 0, 1, 2});
    v4.floats({0.5f, 0.25f, 9, 1, 0, 0, 0, 1, 0}).zeroWords(2);
    EXPECT_EQ(from(writeKvt(polygonModel(4)), kShort), v4.bytes());
}

TEST(KvtWriterTest, NewPolygonRecordHasCornerPairsAndUVLayers) {
    const Bytes bytes = writeKvt(polygonModel(30));
    Expected body;
    body.zeroWords(7).words({1, 1, 3, 1, 8, 4, 6, 0, 10, 1, 11, 2, 12, 5, 20, 6, 21, 7, 22});
    body.zeroWords(2);
    EXPECT_EQ(from(bytes, kLong), body.bytes());
    // A triangle with one layer: 20 + 8 * 3 + 8 * 3 bytes.
    EXPECT_EQ(bytes.size(), kLong + 7 * 4 + 8 + 68 + 8);
}

TEST(KvtWriterTest, MissingCornerEntriesAreZeroAndSurplusEntriesThrow) {
    KvtModel model;
    model.version = 30;
    model.meshes = {{.polygons = {{.vertices = {3, 4, 5}, .uvLayers = {{.uvIndices = {7}}}}}}};
    Expected body;
    body.zeroWords(7).words({1, 1, 3, 1, 0, 0, 0, 3, 0, 4, 0, 5, 0, 7, 0, 0, 0, 0, 0});
    body.zeroWords(2);
    EXPECT_EQ(from(writeKvt(model), kLong), body.bytes());

    model.meshes[0].polygons[0].uvLayers[0].uvIndices = {1, 2, 3, 4};
    EXPECT_THROW(writeKvt(model), std::invalid_argument);
    model.version = 29;
    model.meshes[0].polygons[0].inlineUVs = {{{}, {}, {}, {}}};
    EXPECT_THROW(writeKvt(model), std::invalid_argument);
}

TEST(KvtWriterTest, CountOverridesReplaceOnlyTheCountWord) {
    KvtModel model = polygonModel(30);
    model.meshes[0].polygons[0].cornerCount = 2;
    model.meshes[0].polygons[0].layerCount = 5;
    model.meshes[0].polygonCount = -1;
    KvtWriteOptions options;
    options.sectionCounts[kvtSectionIndex(KvtSection::kMeshes)] = 0;
    Expected body;
    body.zeroWords(7).words({0, -1, 2, 5, 8, 4, 6, 0, 10, 1, 11, 2, 12, 5, 20, 6, 21, 7, 22});
    body.zeroWords(2);
    EXPECT_EQ(from(writeKvt(model, options), kLong), body.bytes());
}

TEST(KvtWriterTest, BoneRecordsByVersion) {
    KvtBone bone{.name = "B", .boneLink = 2, .colour = {0, 1, 0, 1}};
    bone.transform.position = {1, 2, 3};
    bone.transform.rotation = {0, 0, 1, 0};
    bone.transform.scale = {4, 5, 6};
    KvtModel model;
    model.bones = {bone};

    const auto expectedBody = [](bool withScale) {
        Expected body;
        body.zeroWords(6).word(1).u8s({1, 0, 'B'}).word(2).floats({1, 2, 3, 0, 0, 1, 0});
        if (withScale) {
            body.floats({4, 5, 6});
        }
        return body.floats({0, 1, 0, 1}).zeroWords(1).bytes();
    };
    model.version = 8;
    EXPECT_EQ(from(writeKvt(model), kShort), expectedBody(false));
    model.version = 9;
    EXPECT_EQ(from(writeKvt(model), kShort), expectedBody(true));

    model.version = 30;
    Expected full;
    full.zeroWords(8).word(1).u8s({1, 0, 'B'}).word(2).floats({1, 0, 0, 0, 1, 0, 0, 0, 1});
    full.floats({1, 2, 3, 4, 5, 6, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1});
    full.floats({0, 0, 1, 0, 0, 0, 0, 0, 1, 0, 1}).zeroWords(1);
    EXPECT_EQ(from(writeKvt(model), kLong), full.bytes());
}

TEST(KvtWriterTest, AnimationRecordWithTracksAndKeys) {
    KvtAnimation animation{.name = "A", .tag = 3, .start = 1, .end = 2, .rate = 24};
    animation.tracks = {{.positionKeys = {{.time = 0.5f, .value = {1, 2, 3}}},
                         .scaleKeys = {{.time = 1, .value = {2, 2, 2}}}},
                        {.rotationKeys = {{.time = 2}}}};
    KvtModel model;
    model.version = 29;
    model.animations = {animation};
    Expected body;
    body.zeroWords(7).word(1).u8s({1, 0, 'A'}).word(3).floats({1, 2, 24}).word(2);
    body.word(1).floats({0.5f, 1, 2, 3}).word(0).word(1).floats({1, 2, 2, 2});
    body.word(0).word(1).floats({2, 0, 0, 0, 1}).word(0);
    EXPECT_EQ(from(writeKvt(model), kShort), body.bytes());
}

TEST(KvtWriterTest, SectionVersionWritesOneSectionInAnotherLayout) {
    KvtModel model;
    model.version = 29;
    model.lights = {sampleLight()};
    KvtWriteOptions options;
    options.sectionVersions[kvtSectionIndex(KvtSection::kLights)] = 30;
    Expected body;
    body.word(1).u8s({1, 0, 'L'}).words({5, 7}).identityAt(1, 2, 3);
    body.floats({0.5f, 1.5f, 2.5f, 3.5f, 4.5f, 0.5f, 0.25f, 1, 1, 6, 7});
    body.zeroWords(7);
    EXPECT_EQ(from(writeKvt(model, options), kShort), body.bytes());
}

TEST(KvtWriterTest, TrailingBytesFollowTheLastSectionAndCountInTheLength) {
    KvtModel model;
    model.version = 29;
    KvtWriteOptions options;
    options.trailing = {0xAB, 0xCD};
    const Bytes bytes = writeKvt(model, options);
    EXPECT_EQ(from(bytes, kShort), Expected().zeroWords(8).u8s({0xAB, 0xCD}).bytes());
    EXPECT_EQ(wordAt(bytes, 12), 130u);
}

TEST(KvtWriterTest, ImageRecordsSectionOffsets) {
    // Version 29 triangle: the material record is 2 + 8 + 4 + 80 + 8 + 4 bytes,
    // each vertex 16, the mesh 4 + 4 + one polygon of 16 + 12 + 24 bytes.
    const KvtImage image = writeKvtImage(triangleModel(29));
    EXPECT_EQ(image.headerSize, kShort);
    const std::array<std::optional<std::size_t>, kKvtSectionCount> offsets{
        96, 100, 104, 214, 218, std::nullopt, std::nullopt, 270, 334, 338};
    EXPECT_EQ(image.sectionOffsets, offsets);
    EXPECT_EQ(image.bytes.size(), 342u);
    EXPECT_EQ(image.bytes, writeKvt(triangleModel(29)));
}

TEST(KvtWriterTest, HeaderOverridesAndTruncation) {
    const KvtModel model = triangleModel(29);
    const Bytes plain = writeKvt(model);

    KvtWriteOptions options;
    options.header.magic = "KVTX";
    options.header.version = 5;
    options.header.lengthDelta = -1;
    const Bytes bent = writeKvt(model, options);
    EXPECT_EQ(slice(bent, 0, 8), (Bytes{'K', 'V', 'T', 'X', 5, 0, 0, 0}));
    EXPECT_EQ(wordAt(bent, 12), plain.size() - 1);
    EXPECT_EQ(from(bent, 16), from(plain, 16));
    options.header.magic = "KVT";
    EXPECT_THROW(writeKvt(model, options), std::invalid_argument);

    KvtWriteOptions cut;
    cut.truncateAt = 214;  // where the group section starts
    const KvtImage image = writeKvtImage(model, cut);
    EXPECT_EQ(image.bytes.size(), 214u);
    EXPECT_EQ(wordAt(image.bytes, 12), 214u);
    EXPECT_EQ(from(image.bytes, 16), slice(plain, 16, 198));
    EXPECT_EQ(image.sectionOffsets[kvtSectionIndex(KvtSection::kMaterials)], 104u);
    EXPECT_FALSE(image.sectionOffsets[kvtSectionIndex(KvtSection::kGroups)].has_value());

    KvtWriteOptions chop;
    chop.truncateFileAt = 100;
    EXPECT_EQ(writeKvt(model, chop), slice(plain, 0, 100));
}

Bytes inflate(const Bytes& stream, std::size_t size) {
    Bytes out(size + 16);
    uLongf produced = static_cast<uLongf>(out.size());
    EXPECT_EQ(uncompress(out.data(), &produced, stream.data(), static_cast<uLong>(stream.size())),
              Z_OK);
    out.resize(produced);
    return out;
}

TEST(KvtWriterTest, CompressedFileHasOuterHeaderAndZlibStreamOfTheWholeFile) {
    for (const int32_t version : {29, 30}) {
        const std::size_t header = version >= 30 ? kLong : kShort;
        KvtModel model = triangleModel(version);
        model.flags = kKvtFlagVertexColours;
        const Bytes plain = writeKvt(model);
        KvtWriteOptions options;
        options.compressed = true;
        const Bytes bytes = writeKvt(model, options);

        Expected start;
        start.u8s({'K', 'V', 'T', 'H'}).word(static_cast<uint32_t>(version)).word(0x12);
        start.word(static_cast<uint32_t>(plain.size())).word(0).word(static_cast<uint32_t>(header));
        EXPECT_EQ(slice(bytes, 0, 24), start.bytes()) << version;
        EXPECT_EQ(inflate(from(bytes, header), plain.size()), plain) << version;
    }
}

TEST(KvtWriterTest, CompressedFileOverridesOfInnerHeaderAndStreamPlace) {
    const KvtModel model = triangleModel(30);
    const Bytes plain = writeKvt(model);
    KvtWriteOptions options;
    options.compressed = true;
    options.streamGap = 4;
    options.innerHeader.magic = "HTVK";
    options.innerHeader.version = 5;
    options.innerHeader.flags = 0x10;
    options.innerHeader.lengthDelta = 1;
    const Bytes bytes = writeKvt(model, options);
    EXPECT_EQ(wordAt(bytes, 20), kLong + 4);
    EXPECT_EQ(slice(bytes, kLong, 4), (Bytes{0, 0, 0, 0}));
    const Bytes inner = inflate(from(bytes, kLong + 4), plain.size());
    ASSERT_EQ(inner.size(), plain.size());
    EXPECT_EQ(slice(inner, 0, 16), Expected()
                                       .u8s({'H', 'T', 'V', 'K'})
                                       .words({5, 0x10, static_cast<int32_t>(plain.size() + 1)})
                                       .bytes());
    EXPECT_EQ(from(inner, 16), from(plain, 16));

    options.streamOffset = 7;
    options.header.length = 3;
    const Bytes bent = writeKvt(model, options);
    EXPECT_EQ(wordAt(bent, 12), 3u);
    EXPECT_EQ(wordAt(bent, 20), 7u);
}

TEST(KvtWriterTest, CubeFixtureHasTwelveOutwardTrianglesSharingFourUVs) {
    const KvtModel cube = cubeModel(30);
    ASSERT_EQ(cube.vertices.size(), 8u);
    ASSERT_EQ(cube.meshes.size(), 1u);
    ASSERT_EQ(cube.meshes[0].polygons.size(), 12u);
    for (const KvtPolygon& polygon : cube.meshes[0].polygons) {
        ASSERT_EQ(polygon.vertices.size(), 3u);
        std::array<KvtVec3, 3> p;
        for (std::size_t j = 0; j < 3; ++j) {
            p[j] = cube.vertices.at(static_cast<std::size_t>(polygon.vertices[j])).position;
        }
        const KvtVec3 a{p[1][0] - p[0][0], p[1][1] - p[0][1], p[1][2] - p[0][2]};
        const KvtVec3 b{p[2][0] - p[0][0], p[2][1] - p[0][1], p[2][2] - p[0][2]};
        const KvtVec3 normal{a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2],
                             a[0] * b[1] - a[1] * b[0]};
        float outward = 0;
        for (std::size_t k = 0; k < 3; ++k) {
            outward += normal[k] * ((p[0][k] + p[1][k] + p[2][k]) / 3 - 0.5f);
        }
        EXPECT_GT(outward, 0);
        ASSERT_EQ(polygon.uvLayers.size(), 1u);
        ASSERT_EQ(polygon.inlineUVs.size(), 1u);
        for (std::size_t j = 0; j < 3; ++j) {
            const KvtUVCoord& uv = cube.uvSets.at(0).coords.at(
                static_cast<std::size_t>(polygon.uvLayers[0].uvIndices.at(j)));
            EXPECT_EQ(polygon.inlineUVs[0].at(j).u, uv.u);
            EXPECT_EQ(polygon.inlineUVs[0].at(j).v, uv.v);
        }
    }
    // The mesh section: count, polygon count, twelve 68-byte triangles.
    const KvtImage image = writeKvtImage(cube);
    EXPECT_EQ(*image.sectionOffsets[kvtSectionIndex(KvtSection::kBones)] -
                  *image.sectionOffsets[kvtSectionIndex(KvtSection::kMeshes)],
              8u + 12u * 68u);
}

TEST(KvtWriterTest, WritesTheFileItDescribes) {
    const std::filesystem::path path =
        std::filesystem::temp_directory_path() / "quillmesh_kvt_writer_test.kvt";
    writeKvtFile(path, cubeModel(12));
    std::ifstream in(path, std::ios::binary);
    const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    in.close();
    std::filesystem::remove(path);
    EXPECT_EQ(Bytes(text.begin(), text.end()), writeKvt(cubeModel(12)));
    EXPECT_THROW(writeKvtFile(path / "missing" / "x.kvt", cubeModel(12)), std::runtime_error);
}

}  // namespace
}  // namespace quillmesh::testsupport
