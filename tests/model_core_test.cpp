// The reader core: the cursor, names, the container's LoadResults built from raw bytes,
// decompression, the allocation budget, clearing the model and the record accessors.
#include <gtest/gtest.h>

#include <zlib.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <limits>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "model/container.h"
#include "model/cursor.h"
#include "model/kvt_plugin.h"
#include "model/sections.h"
#include "platform/platform.h"

namespace quillmesh {
namespace {

using Bytes = std::vector<uint8_t>;

void putU16(Bytes& out, uint16_t value) {
    out.push_back(static_cast<uint8_t>(value));
    out.push_back(static_cast<uint8_t>(value >> 8));
}

void putU32(Bytes& out, uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8) {
        out.push_back(static_cast<uint8_t>(value >> shift));
    }
}

void putF32(Bytes& out, float value) {
    putU32(out, std::bit_cast<uint32_t>(value));
}

void setU32(Bytes& out, std::size_t offset, uint32_t value) {
    for (std::size_t i = 0; i < 4; ++i) {
        out[offset + i] = static_cast<uint8_t>(value >> (8 * i));
    }
}

void append(Bytes& out, const Bytes& more) {
    out.insert(out.end(), more.begin(), more.end());
}

void putNarrowName(Bytes& out, std::string_view text) {
    putU16(out, static_cast<uint16_t>(text.size()));
    out.insert(out.end(), text.begin(), text.end());
}

void putWideName(Bytes& out, std::u16string_view text) {
    putU16(out, static_cast<uint16_t>(text.size() * 2));
    for (char16_t unit : text) {
        putU16(out, unit);
    }
}

constexpr std::size_t kLengthOffset = 12;
constexpr std::size_t kStreamOffsetOffset = 20;

// A header of the layout the version selects: magic, version, flags, a length word fixed later
// by finish(), and zero words.
Bytes header(uint32_t version, uint32_t flags = 0) {
    Bytes out{'K', 'V', 'T', 'H'};
    putU32(out, version);
    putU32(out, flags);
    const std::size_t words = version >= 30 ? 32 : 24;
    for (std::size_t i = 3; i < words; ++i) {
        putU32(out, 0);
    }
    return out;
}

Bytes finish(Bytes file) {
    setU32(file, kLengthOffset, static_cast<uint32_t>(file.size()));
    return file;
}

// The body sections in file order; the aux-record and UV-set sections exist from version 30 on.
enum Section : std::size_t {
    kLights,
    kCameras,
    kMaterials,
    kGroups,
    kVertices,
    kAuxRecords,
    kUVSets,
    kMeshes,
    kBones,
    kAnimations,
    kSectionTotal,
};

// The bytes of each section, count word included; an empty entry is written as a count of 0.
using SectionBodies = std::array<Bytes, kSectionTotal>;

Bytes classicFile(uint32_t version, const SectionBodies& bodies, uint32_t flags = 0) {
    Bytes file = header(version, flags);
    for (std::size_t section = 0; section < kSectionTotal; ++section) {
        const bool present = version >= 30 || (section != kAuxRecords && section != kUVSets);
        if (!present) {
            EXPECT_TRUE(bodies[section].empty()) << "section " << section << " before version 30";
        } else if (bodies[section].empty()) {
            putU32(file, 0);
        } else {
            append(file, bodies[section]);
        }
    }
    return finish(file);
}

Bytes countWord(int32_t count) {
    Bytes out;
    putU32(out, static_cast<uint32_t>(count));
    return out;
}

// One group named "G"; from version 30 also tag 7, link 9 and a transform holding 0 to 37.
Bytes oneGroupSection(uint32_t version) {
    Bytes out = countWord(1);
    putNarrowName(out, "G");
    if (version >= 30) {
        putU32(out, 7);
        putU32(out, 9);
        for (int i = 0; i < 38; ++i) {
            putF32(out, static_cast<float>(i));
        }
    }
    return out;
}

// A file of `version` whose body declares one group and nothing else.
Bytes oneGroupFile(uint32_t version, uint32_t flags = 0) {
    SectionBodies bodies;
    bodies[kGroups] = oneGroupSection(version);
    return classicFile(version, bodies, flags);
}

Bytes zlibCompress(const Bytes& data) {
    uLongf size = compressBound(static_cast<uLong>(data.size()));
    Bytes out(size);
    EXPECT_EQ(compress(out.data(), &size, data.data(), static_cast<uLong>(data.size())), Z_OK);
    out.resize(size);
    return out;
}

// A compressed file: an outer header of `outerVersion` saying the image is `statedLength` bytes
// long and starts at `streamOffset` (the end of the header unless given), then the stream.
Bytes compressedFile(const Bytes& inner, uint32_t outerVersion = 29,
                     std::optional<uint32_t> statedLength = std::nullopt,
                     std::optional<uint32_t> streamOffset = std::nullopt) {
    Bytes file = header(outerVersion, kFlagCompressed);
    setU32(file, kLengthOffset, statedLength.value_or(static_cast<uint32_t>(inner.size())));
    setU32(file, kStreamOffsetOffset, streamOffset.value_or(static_cast<uint32_t>(file.size())));
    append(file, zlibCompress(inner));
    return file;
}

Bytes withWord(Bytes file, std::size_t offset, uint32_t value) {
    setU32(file, offset, value);
    return file;
}

// Loads `file` from a heap block of exactly its size.
int load(KVTPlugin& plugin, const Bytes& file) {
    const auto block = std::make_unique<uint8_t[]>(std::max<std::size_t>(file.size(), 1));
    std::copy(file.begin(), file.end(), block.get());
    return plugin.loadModelFromMemory(std::span<const uint8_t>(block.get(), file.size()),
                                      u"C:\\models\\test.kvt");
}

void expectEmptyModel(const ModelData& model) {
    EXPECT_EQ(model.lights.count, 0);
    EXPECT_EQ(model.cameras.count, 0);
    EXPECT_EQ(model.materials.count, 0);
    EXPECT_EQ(model.groups.count, 0);
    EXPECT_EQ(model.vertices.count, 0);
    EXPECT_EQ(model.auxRecords.count, 0);
    EXPECT_EQ(model.uvSets.count, 0);
    EXPECT_EQ(model.meshes.count, 0);
    EXPECT_EQ(model.bones.count, 0);
    EXPECT_EQ(model.animations.count, 0);
    EXPECT_FALSE(model.lights.exists() || model.cameras.exists() || model.materials.exists() ||
                 model.groups.exists() || model.vertices.exists() || model.auxRecords.exists() ||
                 model.uvSets.exists() || model.meshes.exists() || model.bones.exists() ||
                 model.animations.exists());
    EXPECT_TRUE(model.vertexWeights.empty());
    EXPECT_TRUE(model.embeddedFiles.empty());
}

// A vertex whose weights are `count` entries of the model's weights from `first`.
ModelVertex vertexWithWeights(uint32_t first, int32_t count) {
    ModelVertex vertex;
    vertex.firstWeight = first;
    vertex.weightCount = count;
    return vertex;
}

// A polygon of `corners` corners from `firstCorner` and `layers` UV layers from `firstUV`.
ModelPolygon polygonAt(uint32_t firstCorner, int32_t corners, uint32_t firstUV, int32_t layers) {
    ModelPolygon polygon;
    polygon.firstCorner = firstCorner;
    polygon.cornerCount = corners;
    polygon.firstUV = firstUV;
    polygon.uvLayerCount = layers;
    return polygon;
}

// Gives `model` something of every kind a load must not keep: a light with a layered map on a
// material, weights, a mesh with a polygon and an embedded file.
void fillWithLeftovers(ModelData& model) {
    model.lights.items.resize(1);
    model.lights.count = 1;
    ModelMaterial& material = model.materials.items.emplace_back();
    model.materials.count = 1;
    material.maps.push_back(std::make_unique<TextureMap>());
    material.mapCount = 1;
    material.maps[0]->kind = 4;
    material.maps[0]->record = makeMapRecord(4);
    std::get<MapKind4Record>(material.maps[0]->record).layers.resize(3);
    model.vertices.items.push_back(vertexWithWeights(0, 2));
    model.vertices.count = 1;
    model.vertexWeights.resize(2);
    ModelMesh& mesh = model.meshes.items.emplace_back();
    model.meshes.count = 1;
    mesh.polygons.push_back(polygonAt(0, 3, 0, 2));
    mesh.polygonCount = 1;
    mesh.vertexIndices.assign(3, 0);
    mesh.cornerValues.assign(3, 0);
    mesh.uvIndices.assign(6, 0);
    mesh.uvValues.assign(6, 0);
    model.embeddedFiles.emplace_back().content = {1, 2, 3};
}

// Cursor

struct ReadOutcome {
    bool succeeded = false;
    bool destinationChanged = false;
};

template <typename T>
using ObjectBytes = std::array<uint8_t, sizeof(T)>;

// Reads a T into a destination filled with 0x55 bytes.
template <typename T, bool (Cursor::*Read)(T&) noexcept>
ReadOutcome readInto(Cursor& cursor) {
    ObjectBytes<T> before;
    before.fill(0x55);
    T value = std::bit_cast<T>(before);
    const bool succeeded = (cursor.*Read)(value);
    return {succeeded, std::bit_cast<ObjectBytes<T>>(value) != before};
}

TEST(ModelCursor, EveryTypedReadNeedsAllItsBytesAndOtherwiseChangesNothing) {
    struct Case {
        const char* name;
        std::size_t width;
        ReadOutcome (*read)(Cursor&);
    };
    const Case cases[] = {
        {"readU16", 2, readInto<uint16_t, &Cursor::readU16>},
        {"readU32", 4, readInto<uint32_t, &Cursor::readU32>},
        {"readI32", 4, readInto<int32_t, &Cursor::readI32>},
        {"readF32", 4, readInto<float, &Cursor::readF32>},
        {"readVec3", 12, readInto<Vec3, &Cursor::readVec3>},
        {"readRgba", 16, readInto<Rgba, &Cursor::readRgba>},
        {"readQuaternion", 16, readInto<Quaternion, &Cursor::readQuaternion>},
        {"readTransform", kNodeTransformBytes, readInto<NodeTransform, &Cursor::readTransform>},
        {"readAuxRecord", kAuxRecordBytes, readInto<AuxRecord, &Cursor::readAuxRecord>},
    };
    constexpr std::size_t kLead = 3;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Bytes enough(kLead + c.width, 0x01);
        Cursor cursor(enough);
        ASSERT_TRUE(cursor.skip(kLead));
        ReadOutcome outcome = c.read(cursor);
        EXPECT_TRUE(outcome.succeeded);
        EXPECT_TRUE(outcome.destinationChanged);
        EXPECT_TRUE(cursor.atEnd());

        const Bytes oneShort(kLead + c.width - 1, 0x01);
        Cursor shortCursor(oneShort);
        ASSERT_TRUE(shortCursor.skip(kLead));
        outcome = c.read(shortCursor);
        EXPECT_FALSE(outcome.succeeded);
        EXPECT_FALSE(outcome.destinationChanged);
        EXPECT_EQ(shortCursor.position(), kLead);

        Cursor nothing;
        outcome = c.read(nothing);
        EXPECT_FALSE(outcome.succeeded);
        EXPECT_FALSE(outcome.destinationChanged);
    }
}

TEST(ModelCursor, ValuesAreLittleEndianAndFloatsKeepTheirBits) {
    Bytes bytes;
    putU32(bytes, 0x12345678);
    putU32(bytes, 0xFFFFFFFF);
    putU16(bytes, 0xFFFE);
    putU32(bytes, 0x7FC00001);  // a NaN with a payload
    Cursor cursor(bytes);
    uint32_t unsignedValue = 0;
    int32_t signedValue = 0;
    uint16_t shortValue = 0;
    float floatValue = 0;
    ASSERT_TRUE(cursor.readU32(unsignedValue));
    ASSERT_TRUE(cursor.readI32(signedValue));
    ASSERT_TRUE(cursor.readU16(shortValue));
    ASSERT_TRUE(cursor.readF32(floatValue));
    EXPECT_EQ(unsignedValue, 0x12345678u);
    EXPECT_EQ(signedValue, -1);
    EXPECT_EQ(shortValue, 0xFFFEu);
    EXPECT_EQ(std::bit_cast<uint32_t>(floatValue), 0x7FC00001u);
    EXPECT_TRUE(cursor.atEnd());
}

TEST(ModelCursor, TransformAndAuxRecordFieldsFollowTheFileOrder) {
    Bytes bytes;
    for (int i = 0; i < 38; ++i) {
        putF32(bytes, static_cast<float>(i));
    }
    for (int i = 0; i < 9; ++i) {
        putU32(bytes, static_cast<uint32_t>(-1 - i));
    }
    putF32(bytes, 0.5f);
    Cursor cursor(bytes);
    NodeTransform transform;
    ASSERT_TRUE(cursor.readTransform(transform));
    EXPECT_EQ(transform.xAxis, (Vec3{0, 1, 2}));
    EXPECT_EQ(transform.yAxis, (Vec3{3, 4, 5}));
    EXPECT_EQ(transform.zAxis, (Vec3{6, 7, 8}));
    EXPECT_EQ(transform.position, (Vec3{9, 10, 11}));
    EXPECT_EQ(transform.scale, (Vec3{12, 13, 14}));
    for (std::size_t i = 0; i < transform.matrix.size(); ++i) {
        EXPECT_EQ(transform.matrix[i], static_cast<float>(15 + i)) << i;
    }
    EXPECT_EQ(transform.rotation, (Quaternion{31, 32, 33, 34}));
    EXPECT_EQ(transform.eulerAngles, (Vec3{35, 36, 37}));
    AuxRecord record;
    ASSERT_TRUE(cursor.readAuxRecord(record));
    EXPECT_EQ(record.auxValues, (std::array<int32_t, 9>{-1, -2, -3, -4, -5, -6, -7, -8, -9}));
    EXPECT_EQ(record.auxScalar, 0.5f);
    EXPECT_TRUE(cursor.atEnd());
}

TEST(ModelCursor, SkipAndViewNeverMovePastTheEnd) {
    const Bytes bytes{10, 11, 12, 13, 14, 15, 16, 17};
    Cursor cursor(bytes);
    ASSERT_TRUE(cursor.skip(2));
    for (std::size_t tooFar : {std::size_t{7}, std::numeric_limits<std::size_t>::max(),
                               std::numeric_limits<std::size_t>::max() - 1,
                               std::numeric_limits<std::size_t>::max() - 5}) {
        SCOPED_TRACE(tooFar);
        EXPECT_FALSE(cursor.skip(tooFar));
        std::span<const uint8_t> view(bytes.data(), 1);
        EXPECT_FALSE(cursor.view(tooFar, view));
        EXPECT_EQ(view.data(), bytes.data());
        EXPECT_EQ(view.size(), 1u);
        EXPECT_EQ(cursor.position(), 2u);
        EXPECT_EQ(cursor.remaining(), 6u);
    }
    std::span<const uint8_t> view;
    ASSERT_TRUE(cursor.view(0, view));
    EXPECT_TRUE(view.empty());
    ASSERT_TRUE(cursor.view(3, view));
    EXPECT_EQ(view.data(), bytes.data() + 2);  // in place, not copied
    EXPECT_EQ(view.size(), 3u);
    ASSERT_TRUE(cursor.skip(3));
    EXPECT_TRUE(cursor.atEnd());
    EXPECT_TRUE(cursor.skip(0));
    EXPECT_FALSE(cursor.skip(1));
}

TEST(ModelCursor, FitsChecksCountTimesSizeAgainstTheBytesLeftWithoutOverflow) {
    struct Case {
        int64_t count;
        std::size_t minimumBytes;
        bool fits;
    };
    constexpr std::size_t kHuge = std::numeric_limits<std::size_t>::max();
    const Case cases[] = {
        {0, 4, true},
        {-1, 4, true},
        {std::numeric_limits<int64_t>::min(), kHuge, true},
        {1000, 0, true},
        {2, 5, true},  // exactly the 10 bytes left
        {3, 4, false},
        {2, 6, false},
        {1, 11, false},
        {std::numeric_limits<int64_t>::max(), 1, false},
        {std::numeric_limits<int64_t>::max(), kHuge, false},
        {1, kHuge, false},
    };
    const Bytes bytes(13, 0);
    Cursor cursor(bytes);
    ASSERT_TRUE(cursor.skip(3));  // the bytes left count, not the size
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.count << " x " << c.minimumBytes);
        EXPECT_EQ(cursor.fits(c.count, c.minimumBytes), c.fits);
    }
}

TEST(ModelCursor, SubCursorCoversOnlyItsBytesAndTheOuterCursorMovesPastThem) {
    Bytes bytes;
    for (uint8_t i = 0; i < 12; ++i) {
        bytes.push_back(i);
    }
    Cursor cursor(bytes);
    ASSERT_TRUE(cursor.skip(2));
    Cursor nested = cursor.sub(5);
    EXPECT_EQ(nested.size(), 5u);
    EXPECT_EQ(nested.position(), 0u);
    EXPECT_EQ(cursor.position(), 7u);
    uint32_t word = 0;
    ASSERT_TRUE(nested.readU32(word));
    EXPECT_EQ(word, 0x05040302u);
    uint16_t half = 0;
    EXPECT_FALSE(nested.readU16(half));  // one byte left inside
    EXPECT_FALSE(nested.skip(2));
    Cursor innermost = nested.sub(4);  // clamped to the one byte left
    EXPECT_EQ(innermost.size(), 1u);
    EXPECT_TRUE(nested.atEnd());

    uint16_t next = 0;
    ASSERT_TRUE(cursor.readU16(next));
    EXPECT_EQ(next, 0x0807u);
    Cursor rest = cursor.sub(std::numeric_limits<uint64_t>::max());
    EXPECT_EQ(rest.size(), 3u);
    EXPECT_TRUE(cursor.atEnd());
    EXPECT_EQ(cursor.sub(1).size(), 0u);
}

// Names

TEST(ModelName, VersionChoosesTheTextForm) {
    struct Case {
        uint32_t version;
        bool wide;
    };
    const Case cases[] = {{6, false},  {9, false},  {10, true}, {11, false}, {29, false},
                          {30, false}, {31, false}, {32, true}, {33, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.version);
        EXPECT_EQ(usesWideNames(static_cast<int32_t>(c.version)), c.wide);
        // A group named in the version's form loads with that name.
        SectionBodies bodies;
        bodies[kGroups] = countWord(1);
        if (c.wide) {
            putWideName(bodies[kGroups], u"Bone\u00e9\u0416");
        } else {
            putNarrowName(bodies[kGroups], "Bone");
        }
        if (c.version >= 30) {
            bodies[kGroups].resize(bodies[kGroups].size() + 8 + kNodeTransformBytes, 0);
        }
        KVTPlugin plugin;
        ASSERT_EQ(load(plugin, classicFile(c.version, bodies)), kLoadSucceeded);
        ASSERT_EQ(plugin.model.groups.count, 1);
        const ModelName& name = plugin.model.groups.items[0].name;
        if (c.wide) {
            EXPECT_EQ(name.wide(), u"Bone\u00e9\u0416");
            EXPECT_EQ(name.narrow(), platform::wideToNarrow(u"Bone\u00e9\u0416"));
        } else {
            EXPECT_EQ(name.narrow(), "Bone");
            EXPECT_EQ(name.wide(), u"Bone");
        }
    }
}

TEST(ModelName, ZeroLengthReplacesTheNameWithTheEmptyName) {
    for (bool wide : {false, true}) {
        SCOPED_TRACE(wide);
        const Bytes bytes{0, 0, 0x41};
        Cursor cursor(bytes);
        ModelName name;
        ASSERT_TRUE(name.assignNarrow("previous"));
        ASSERT_TRUE(cursor.readName(name, wide));
        EXPECT_TRUE(name.empty());
        EXPECT_EQ(name.wide(), u"");
        EXPECT_EQ(name.narrow(), "");
        EXPECT_EQ(cursor.position(), 2u);
    }
}

TEST(ModelName, UnsignedLengthWordAndLongTextCutToTheBufferWithTheRestSkipped) {
    struct Case {
        bool wide;
        uint16_t byteLength;
        std::size_t keptUnits;
    };
    const Case cases[] = {
        {false, 258, 258},  {false, 259, 259},    {false, 260, 259},
        {false, 1000, 259}, {false, 0xFFFF, 259}, {true, 518, 259},
        {true, 520, 259},   {true, 2000, 259},    {true, 0xFFFF, 259},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << (c.wide ? "wide " : "narrow ") << c.byteLength);
        Bytes bytes;
        putU16(bytes, c.byteLength);
        bytes.resize(bytes.size() + c.byteLength, 'n');
        putU32(bytes, 0xBEEF);
        Cursor cursor(bytes);
        ModelName name;
        ASSERT_TRUE(cursor.readName(name, c.wide));
        EXPECT_EQ(cursor.position(), 2u + c.byteLength);
        const char16_t unit = c.wide ? char16_t{0x6E6E} : u'n';
        EXPECT_EQ(name.wide(), std::u16string(c.keptUnits, unit));
        EXPECT_EQ(name.wideCString()[name.wide().size()], u'\0');
        EXPECT_EQ(name.narrowCString()[name.narrow().size()], '\0');
        if (!c.wide) {
            EXPECT_EQ(name.narrow(), std::string(c.keptUnits, 'n'));
        }
        uint32_t next = 0;
        ASSERT_TRUE(cursor.readU32(next));
        EXPECT_EQ(next, 0xBEEFu);
    }
}

TEST(ModelName, NameRunningPastTheEndFailsAndChangesNothing) {
    struct Case {
        const char* defect;
        Bytes bytes;
    };
    std::vector<Case> cases;
    for (uint16_t byteLength : {uint16_t{1}, uint16_t{9}, uint16_t{0xFFFF}}) {
        Bytes bytes{0x77};  // a byte before the name
        putU16(bytes, byteLength);
        bytes.resize(bytes.size() + byteLength - 1, 'n');
        cases.push_back({"text one byte short", bytes});
    }
    cases.push_back({"half a length word", Bytes{0x77, 5}});
    cases.push_back({"no length word", Bytes{0x77}});
    for (const Case& c : cases) {
        for (bool wide : {false, true}) {
            SCOPED_TRACE(testing::Message() << c.defect << ", " << c.bytes.size() << " bytes, "
                                            << (wide ? "wide" : "narrow"));
            Cursor cursor(c.bytes);
            ASSERT_TRUE(cursor.skip(1));
            ModelName name;
            ASSERT_TRUE(name.assignNarrow("kept"));
            EXPECT_FALSE(cursor.readName(name, wide));
            EXPECT_EQ(name.narrow(), "kept");
            EXPECT_EQ(name.wide(), u"kept");
            EXPECT_EQ(cursor.position(), 1u);
        }
    }
}

TEST(ModelName, OddWideLengthLeavesTheLastUnitWithAZeroHighByte) {
    const Bytes bytes{3, 0, 0x41, 0x01, 0x42, 0x77};
    Cursor cursor(bytes);
    ModelName name;
    ASSERT_TRUE(cursor.readName(name, true));
    EXPECT_EQ(name.wide(), std::u16string(u"\u0141B"));
    EXPECT_EQ(cursor.position(), 5u);
}

TEST(ModelName, WideTextIsTakenUpToItsFirstNul) {
    ModelName name;
    ASSERT_TRUE(name.assignWide(std::u16string_view(u"ab\0cd", 5)));
    EXPECT_EQ(name.wide(), u"ab");
    EXPECT_EQ(name.narrow(), "ab");
}

TEST(ModelName, CutNeverSplitsASurrogatePair) {
    // 258 units, then a pair that would straddle the 259-unit limit.
    std::u16string text(258, u'a');
    text += u"\U0001F600";
    ModelName name;
    ASSERT_TRUE(name.assignWide(text));
    EXPECT_EQ(name.wide(), std::u16string(258, u'a'));
}

TEST(ModelName, NarrowCopyKeepsWholeCharactersWithinTheBuffer) {
    // Each character takes more than one byte in UTF-8 (on Windows the code page decides).
    const std::u16string text(200, u'\u00e9');
    ModelName name;
    ASSERT_TRUE(name.assignWide(text));
    EXPECT_EQ(name.wide(), text);
    ASSERT_LE(name.narrow().size(), ModelName::kMaxLength);
    // The narrow form is the conversion of the longest prefix that fits.
    std::size_t prefixUnits = text.size() + 1;
    for (std::size_t units = 0; units <= text.size(); ++units) {
        if (platform::wideToNarrow(text.substr(0, units)) == name.narrow()) {
            prefixUnits = units;
        }
    }
    ASSERT_LE(prefixUnits, text.size());
    if (prefixUnits < text.size()) {
        EXPECT_GT(platform::wideToNarrow(text.substr(0, prefixUnits + 1)).size(),
                  ModelName::kMaxLength);
    }
}

TEST(ModelName, AppendNarrowExtendsBothFormsUpToTheBuffer) {
    ModelName name;
    ASSERT_TRUE(name.assignNarrow("KVTGroup"));
    ASSERT_TRUE(name.appendNarrow("12"));
    EXPECT_EQ(name.narrow(), "KVTGroup12");
    EXPECT_EQ(name.wide(), u"KVTGroup12");
    ASSERT_TRUE(name.appendNarrow(std::string(400, 'x')));
    EXPECT_EQ(name.narrow().size(), 259u);
    EXPECT_EQ(name.wide().size(), 259u);
    EXPECT_EQ(name.narrow().substr(0, 11), "KVTGroup12x");
}

// Container

struct ContainerCase {
    const char* defect;
    Bytes file;
    int expected;
};

std::vector<ContainerCase> containerCases() {
    const Bytes good29 = oneGroupFile(29);
    const Bytes good30 = oneGroupFile(30);
    const uint32_t size29 = static_cast<uint32_t>(good29.size());
    Bytes innerWithBadMagic = good29;
    innerWithBadMagic[3] = 'X';
    Bytes innerVersion5 = header(5);
    innerVersion5.resize(200, 0);
    innerVersion5 = finish(innerVersion5);
    Bytes streamGarbage = header(29, kFlagCompressed);
    setU32(streamGarbage, kLengthOffset, 1000);
    setU32(streamGarbage, kStreamOffsetOffset, 96);
    streamGarbage.insert(streamGarbage.end(), 50, 0x5A);

    SectionBodies onlyAuxAndUVSets;
    onlyAuxAndUVSets[kAuxRecords] = countWord(1);
    onlyAuxAndUVSets[kAuxRecords].resize(4 + kAuxRecordBytes, 0);
    onlyAuxAndUVSets[kUVSets] = countWord(1);
    putNarrowName(onlyAuxAndUVSets[kUVSets], "UV");
    putU32(onlyAuxAndUVSets[kUVSets], 0);  // coordinates
    putU32(onlyAuxAndUVSets[kUVSets], 0);  // aux records
    SectionBodies groupCountBeyondTheFile;
    groupCountBeyondTheFile[kGroups] = countWord(std::numeric_limits<int32_t>::max());
    putNarrowName(groupCountBeyondTheFile[kGroups], "G");
    SectionBodies vertexCountBeyondTheFile;
    vertexCountBeyondTheFile[kVertices] = countWord(std::numeric_limits<int32_t>::max());
    vertexCountBeyondTheFile[kVertices].resize(4 + 16, 0);

    return {
        {"empty file", {}, kLoadFailed},
        {"header only half there", Bytes(good29.begin(), good29.begin() + 40), kLoadFailed},
        {"wrong magic", withWord(good29, 0, 0x5854564B), kLoadBadMagic},
        {"magic in the wrong byte order", withWord(good29, 0, 0x4B565448), kLoadBadMagic},
        {"version 5", withWord(good29, 4, 5), kLoadUnsupportedVersion},
        {"version 0", withWord(good29, 4, 0), kLoadUnsupportedVersion},
        {"version 6", oneGroupFile(6), kLoadSucceeded},
        {"version 29", good29, kLoadSucceeded},
        {"version 30", good30, kLoadSucceeded},
        {"version 33", oneGroupFile(33), kLoadSucceeded},
        {"version 34 without a chunk directory", withWord(good30, 4, 34), kLoadFailed},
        {"length one more than the file", withWord(good29, kLengthOffset, size29 + 1),
         kLoadLengthMismatch},
        {"length one less than the file", withWord(good29, kLengthOffset, size29 - 1),
         kLoadLengthMismatch},
        {"nothing declared", classicFile(29, {}), kLoadFailed},
        {"nothing declared, version 30", classicFile(30, {}), kLoadFailed},
        {"only aux records and UV sets declared", classicFile(30, onlyAuxAndUVSets), kLoadFailed},
        {"group count beyond the file", classicFile(29, groupCountBeyondTheFile), kLoadFailed},
        {"vertex count beyond the file", classicFile(30, vertexCountBeyondTheFile), kLoadFailed},
        {"compressed", compressedFile(good29), kLoadSucceeded},
        {"compressed, version 30 inside a version 12 outer header", compressedFile(good30, 12),
         kLoadSucceeded},
        {"compressed, inner header compressed again",
         compressedFile(withWord(good29, 8, kFlagCompressed)), kLoadSucceeded},
        {"compressed, inner version 40 read as a classic file",
         compressedFile(withWord(good30, 4, 40)), kLoadSucceeded},
        {"compressed, inner magic wrong", compressedFile(innerWithBadMagic), kLoadBadMagic},
        {"compressed, inner length wrong",
         compressedFile(withWord(good29, kLengthOffset, size29 + 1)), kLoadLengthMismatch},
        {"compressed, inner version 5", compressedFile(innerVersion5), kLoadUnsupportedVersion},
        {"compressed, outer length larger than the image: the image's own length counts",
         compressedFile(good29, 29, size29 + 1), kLoadSucceeded},
        {"compressed, outer length smaller than the image", compressedFile(good29, 29, size29 - 1),
         kLoadFailed},
        {"compressed, stream offset 0 points at the header", compressedFile(good29, 29, {}, 0),
         kLoadFailed},
        {"compressed, stream is not zlib", streamGarbage, kLoadFailed},
        {"compressed, image claims 4 GiB from a few bytes", compressedFile(good29, 29, 0xFFFFFFF0),
         kLoadFailed},
    };
}

TEST(ModelContainer, LoadResultsForRawFiles) {
    for (const ContainerCase& c : containerCases()) {
        SCOPED_TRACE(c.defect);
        KVTPlugin plugin;
        fillWithLeftovers(plugin.model);
        EXPECT_EQ(load(plugin, c.file), c.expected);
        ModelData parsed;
        fillWithLeftovers(parsed);
        EXPECT_EQ(parseModelImage(c.file, parsed), c.expected);
        for (const ModelData* model : {&plugin.model, &parsed}) {
            if (c.expected != kLoadSucceeded) {
                expectEmptyModel(*model);
            } else {
                // Nothing of the model before the load survives it.
                EXPECT_EQ(model->groups.count, 1);
                EXPECT_EQ(model->lights.count + model->materials.count + model->vertices.count +
                              model->meshes.count,
                          0);
                EXPECT_TRUE(model->vertexWeights.empty());
                EXPECT_TRUE(model->embeddedFiles.empty());
            }
        }
    }
}

TEST(ModelContainer, EveryCountedSectionAloneMakesAModel) {
    // A negative count declares the section without any record.
    const Section counted[] = {kLights,   kCameras, kMaterials, kGroups,
                               kVertices, kMeshes,  kBones,     kAnimations};
    for (uint32_t version : {29u, 30u}) {
        for (Section section : counted) {
            SCOPED_TRACE(testing::Message() << "version " << version << ", section " << section);
            SectionBodies bodies;
            bodies[section] = countWord(-1);
            KVTPlugin plugin;
            ASSERT_EQ(load(plugin, classicFile(version, bodies)), kLoadSucceeded);
            const ModelData& model = plugin.model;
            EXPECT_EQ(model.lights.count + model.cameras.count + model.materials.count +
                          model.vertices.count + model.meshes.count + model.bones.count +
                          model.animations.count,
                      0);
            if (section == kGroups) {
                EXPECT_EQ(model.groups.count, 0);
                EXPECT_TRUE(model.groups.items.empty());
            } else {
                ASSERT_EQ(model.groups.count, 1);
                ASSERT_EQ(model.groups.items.size(), 1u);
                EXPECT_EQ(model.groups.items[0].name.wide(), u"KVTGroup0");
                EXPECT_EQ(model.groups.items[0].name.narrow(), "KVTGroup0");
                EXPECT_EQ(model.groups.items[0].transform, NodeTransform{});
            }
            ASSERT_EQ(model.uvSets.count, 2);
            ASSERT_EQ(model.uvSets.items.size(), 2u);
            EXPECT_EQ(model.uvSets.items[0].name.narrow(), "UVSet1");
            EXPECT_EQ(model.uvSets.items[1].name.wide(), u"UVSet2");
        }
    }
    // A negative UV-set count declares the sets away: no default sets either.
    SectionBodies bodies;
    bodies[kGroups] = countWord(-1);
    bodies[kUVSets] = countWord(-1);
    KVTPlugin plugin;
    ASSERT_EQ(load(plugin, classicFile(30, bodies)), kLoadSucceeded);
    EXPECT_EQ(plugin.model.uvSets.count, 0);
    EXPECT_TRUE(plugin.model.uvSets.items.empty());
}

TEST(ModelContainer, LoadedModelTakesTheInnerVersionAndTheFileContents) {
    KVTPlugin plugin;
    ASSERT_EQ(load(plugin, compressedFile(oneGroupFile(30), 12)), kLoadSucceeded);
    const ModelData& model = plugin.model;
    EXPECT_EQ(model.version, 30);
    ASSERT_EQ(model.groups.count, 1);
    EXPECT_EQ(model.groups.items[0].name.narrow(), "G");
    EXPECT_EQ(model.groups.items[0].groupTag, 7);
    EXPECT_EQ(model.groups.items[0].groupLink, 9);
    EXPECT_EQ(model.groups.items[0].transform.xAxis, (Vec3{0, 1, 2}));
    EXPECT_EQ(model.groups.items[0].transform.eulerAngles, (Vec3{35, 36, 37}));
    ASSERT_EQ(model.uvSets.count, 2);
    EXPECT_EQ(model.uvSets.items[1].name.narrow(), "UVSet2");
    EXPECT_EQ(plugin.sourcePath, u"C:\\models\\test.kvt");
}

TEST(ModelContainer, CompressedImageOfAChunkedVersionKeepsTheClassicVertexLayout) {
    // A classic image inside a compressed file is read as a classic file whatever its version
    // word: its vertices store their weight count without any weights flag.
    SectionBodies bodies;
    bodies[kVertices] = countWord(1);
    for (float coordinate : {1.0f, 2.0f, 3.0f}) {
        putF32(bodies[kVertices], coordinate);
    }
    putU32(bodies[kVertices], 1);  // weight count
    putU32(bodies[kVertices], 4);  // bone index
    putF32(bodies[kVertices], 0.25f);
    KVTPlugin plugin;
    ASSERT_EQ(load(plugin, compressedFile(classicFile(40, bodies))), kLoadSucceeded);
    EXPECT_EQ(plugin.model.version, 40);
    ASSERT_EQ(plugin.model.vertices.count, 1);
    const ModelVertex& vertex = plugin.model.vertices.items[0];
    EXPECT_EQ(vertex.position, (Vec3{1, 2, 3}));
    const auto weights = plugin.model.weightsOf(vertex);
    ASSERT_EQ(weights.size(), 1u);
    EXPECT_EQ(weights[0].boneIndex, 4);
    EXPECT_EQ(weights[0].weight, 0.25f);
}

TEST(ModelContainer, EveryTruncationOfAValidFileFails) {
    for (uint32_t version : {29u, 30u}) {
        const Bytes file = oneGroupFile(version);
        KVTPlugin plugin;
        for (std::size_t size = 0; size < file.size(); ++size) {
            SCOPED_TRACE(testing::Message() << "version " << version << ", " << size << " bytes");
            ASSERT_EQ(load(plugin, file), kLoadSucceeded);  // so the failure has a model to clear
            Bytes prefix(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(size));
            if (size >= 16) {
                setU32(prefix, kLengthOffset, static_cast<uint32_t>(size));
            }
            EXPECT_EQ(load(plugin, prefix), kLoadFailed);
            expectEmptyModel(plugin.model);
        }
    }
}

TEST(ModelContainer, LoadFromMemoryKeepsNoReferenceToTheBytes) {
    KVTPlugin plugin;
    {
        Bytes file = oneGroupFile(30);
        ASSERT_EQ(plugin.loadModelFromMemory(file, u"memory.kvt"), kLoadSucceeded);
        std::fill(file.begin(), file.end(), uint8_t{0xEE});
    }
    ASSERT_EQ(plugin.model.groups.count, 1);
    EXPECT_EQ(plugin.model.groups.items[0].name.narrow(), "G");
    EXPECT_EQ(plugin.model.groups.items[0].groupTag, 7);
    EXPECT_EQ(plugin.model.groups.items[0].transform.position, (Vec3{9, 10, 11}));
    EXPECT_EQ(plugin.sourcePath, u"memory.kvt");
}

TEST(ModelContainer, SourcePathLongerThan259UnitsCannotBeOpened) {
    KVTPlugin plugin;
    EXPECT_EQ(plugin.loadModelFromMemory(oneGroupFile(29), std::u16string(260, u'p')),
              kLoadCannotOpen);
    EXPECT_EQ(plugin.loadModel(std::u16string(260, u'p').c_str()), kLoadCannotOpen);
    EXPECT_EQ(plugin.loadModel(nullptr), kLoadCannotOpen);
    EXPECT_EQ(plugin.loadModelFromMemory(oneGroupFile(29), std::u16string(259, u'p')),
              kLoadSucceeded);
    EXPECT_EQ(plugin.sourcePath, std::u16string(259, u'p'));
}

std::u16string temporaryPath(std::u16string_view fileName) {
    const std::u16string directory = platform::fromUtf8(::testing::TempDir());
    return directory + std::u16string(fileName);
}

TEST(ModelContainer, LoadsFromAFileWithANonLatinPath) {
    const std::u16string path = temporaryPath(u"\u6a21\u578b_core_test.kvt");
    ASSERT_TRUE(platform::writeWholeFile(path, oneGroupFile(29)));
    KVTPlugin plugin;
    EXPECT_EQ(plugin.loadModel(path.c_str()), kLoadSucceeded);
    EXPECT_EQ(plugin.sourcePath, path);
    ASSERT_EQ(plugin.model.groups.count, 1);
    EXPECT_EQ(plugin.model.groups.items[0].name.narrow(), "G");
}

TEST(ModelContainer, MissingFileCannotBeOpenedAndKeepsTheSourcePath) {
    const std::u16string path = temporaryPath(u"no_such_model_core_test.kvt");
    KVTPlugin plugin;
    ASSERT_EQ(load(plugin, oneGroupFile(29)), kLoadSucceeded);
    plugin.sourcePath = u"before";
    EXPECT_EQ(plugin.loadModel(path.c_str()), kLoadCannotOpen);
    EXPECT_EQ(plugin.sourcePath, u"before");
    expectEmptyModel(plugin.model);
}

TEST(ModelContainer, ClearModelReleasesEverythingAndKeepsTheVersion) {
    KVTPlugin plugin;
    ASSERT_EQ(load(plugin, compressedFile(oneGroupFile(30), 12)), kLoadSucceeded);
    plugin.clearModel();
    EXPECT_EQ(plugin.model.version, 30);
    expectEmptyModel(plugin.model);
    plugin.clearModel();  // safe on an empty model
    expectEmptyModel(plugin.model);

    ModelData model;
    model.version = 31;
    fillWithLeftovers(model);
    model.clearModel();
    EXPECT_EQ(model.version, 31);
    expectEmptyModel(model);
}

// Decompression

TEST(ModelInflate, GivesTheWholeImageOrLeavesTheOutputAlone) {
    Bytes image;
    for (int i = 0; i < 300; ++i) {
        image.push_back(static_cast<uint8_t>(i * 7));
    }
    Bytes file(10, 0xAA);  // bytes before the stream
    append(file, zlibCompress(image));
    const auto size = static_cast<uint32_t>(image.size());
    const auto fileSize = static_cast<uint32_t>(file.size());
    Bytes damaged = file;
    damaged[14] ^= 0xFF;
    struct Case {
        const char* name;
        const Bytes* bytes;
        uint32_t offset;
        uint32_t length;
        bool inflates;
    };
    const Bytes empty;
    const Case cases[] = {
        {"exact length", &file, 10, size, true},
        {"stated length beyond the image", &file, 10, size + 100, true},
        {"stated length short of the image", &file, 10, size - 1, false},
        {"stated length 0", &file, 10, 0, false},
        {"stated length beyond what the stream can expand to", &file, 10, 0xFFFFFFFF, false},
        {"offset inside the stream", &file, 11, size, false},
        {"offset at the end", &file, fileSize, size, false},
        {"offset beyond the end", &file, fileSize + 1, size, false},
        {"offset at the top of the range", &file, 0xFFFFFFFF, size, false},
        {"damaged stream", &damaged, 10, size, false},
        {"no bytes", &empty, 0, size, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes out{9, 9};
        MemoryBudget memory = MemoryBudget::forFile(c.bytes->size());
        EXPECT_EQ(inflateImage(*c.bytes, c.offset, c.length, memory, out), c.inflates);
        EXPECT_EQ(out, c.inflates ? image : Bytes({9, 9}));
    }
}

TEST(ModelInflate, TheImageGrowsWithTheStreamWithinTheBudget) {
    // 4 MiB of a short repeated pattern: a stream of some kilobytes.
    Bytes image(std::size_t{4} << 20);
    for (std::size_t i = 0; i < image.size(); ++i) {
        image[i] = static_cast<uint8_t>(i % 251);
    }
    const Bytes file = zlibCompress(image);
    // Declared as 1000 times the stream: more than the 8 MiB budget below.
    ASSERT_GT(file.size() * 1000, std::size_t{8} << 20);
    const auto size = static_cast<uint32_t>(image.size());
    struct Case {
        const char* name;
        uint32_t declared;
        uint64_t limit;
        bool inflates;
    };
    const Case cases[] = {
        {"declared as produced", size, uint64_t{8} << 20, true},
        // A header claiming far more than the stream holds reserves only what is produced.
        {"declared far beyond the stream", static_cast<uint32_t>(file.size() * 1000),
         uint64_t{8} << 20, true},
        {"the image outgrows the budget", size, uint64_t{2} << 20, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        MemoryBudget memory;
        memory.limitBytes = c.limit;
        Bytes out;
        ASSERT_EQ(inflateImage(file, 0, c.declared, memory, out), c.inflates);
        EXPECT_EQ(out.size(), c.inflates ? image.size() : 0u);
        EXPECT_LE(memory.usedBytes, c.limit);
        EXPECT_EQ(memory.refused(), !c.inflates);
    }
}

// Allocation budget

TEST(ModelBudget, GrowsWithTheFileFromAFloor) {
    EXPECT_EQ(MemoryBudget::forFile(0).limitBytes, kMemoryFloorBytes);
    EXPECT_EQ(MemoryBudget::forFile(1000).limitBytes,
              kMemoryFloorBytes + 1000 * kMemoryBytesPerFileByte);
    EXPECT_EQ(MemoryBudget::forFile(std::numeric_limits<uint64_t>::max()).limitBytes,
              std::numeric_limits<uint64_t>::max());
}

TEST(ModelBudget, TakesCountTimesSizeWithoutOverflowAndRecordsRefusals) {
    struct Case {
        uint64_t count;
        uint64_t elementBytes;
        bool fits;
    };
    constexpr uint64_t kMax = std::numeric_limits<uint64_t>::max();
    const Case cases[] = {
        {0, 8, true},     {12, 8, true},    {13, 8, false},      {100, 1, true},
        {101, 1, false},  {1, 100, true},   {1, 101, false},     {kMax, 0, true},
        {kMax, 1, false}, {1, kMax, false}, {kMax, kMax, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.count << " x " << c.elementBytes);
        MemoryBudget memory;
        memory.limitBytes = 110;
        ASSERT_TRUE(memory.take(10, 1));
        EXPECT_EQ(memory.take(c.count, c.elementBytes), c.fits);
        EXPECT_EQ(memory.refused(), !c.fits);
        EXPECT_EQ(memory.usedBytes, c.fits ? 10 + c.count * c.elementBytes : 10);
        if (!c.fits) {
            const bool saturates = c.count > (kMax - 10) / c.elementBytes;
            EXPECT_EQ(memory.neededBytes(), saturates ? kMax : 10 + c.count * c.elementBytes);
        }
    }
}

Bytes boneSection(int32_t count) {
    Bytes out = countWord(count);
    for (int32_t i = 0; i < count; ++i) {
        putNarrowName(out, "B");
        putU32(out, static_cast<uint32_t>(-1));  // boneLink
        for (float value : {0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 1.0f, 1.0f, 1.0f, 1.0f, 1.0f, 1.0f,
                            1.0f, 1.0f}) {  // position, rotation, scale, colour
            putF32(out, value);
        }
    }
    return out;
}

Bytes animationSection(int32_t count) {
    Bytes out = countWord(count);
    for (int32_t i = 0; i < count; ++i) {
        putNarrowName(out, "A");
        putU32(out, 0);  // animTag
        putF32(out, 0.0f);
        putF32(out, 30.0f);
        putF32(out, 30.0f);
        putU32(out, 0);  // no stored tracks
    }
    return out;
}

TEST(ModelBudget, BonesTimesAnimationsWithoutStoredTracksCostNothing) {
    // Every animation has a track per bone; only stored ones are held, so a small file of many
    // bones and many animations without keys loads.
    constexpr int32_t kCount = 3000;
    SectionBodies bodies;
    bodies[kBones] = boneSection(kCount);
    bodies[kAnimations] = animationSection(kCount);
    KVTPlugin plugin;
    ASSERT_EQ(load(plugin, classicFile(29, bodies)), kLoadSucceeded);
    ASSERT_EQ(plugin.model.animations.items.size(), std::size_t{kCount});
    const ModelAnimation& last = plugin.model.animations.items.back();
    EXPECT_TRUE(last.tracks.empty());
    EXPECT_EQ(last.trackOf(kCount - 1).positionKeyCount, 0);
    EXPECT_LT(plugin.model.memory.usedBytes, uint64_t{64} << 20);
}

// Records

TEST(ModelRecords, RangesOutsideTheirArraysAreEmpty) {
    struct WeightCase {
        uint32_t firstWeight;
        int32_t weightCount;
        std::size_t expected;
    };
    ModelData model;
    model.vertexWeights = {{1, 0.5f}, {2, 0.25f}, {3, 0.25f}};
    const WeightCase weightCases[] = {
        {0, 3, 3},          {1, 2, 2},
        {2, 1, 1},          {2, 2, 0},
        {3, 1, 0},          {0, 4, 0},
        {0, 0, 0},          {0, -1, 0},
        {0xFFFFFFFF, 1, 0}, {1, std::numeric_limits<int32_t>::max(), 0},
    };
    for (const WeightCase& c : weightCases) {
        SCOPED_TRACE(testing::Message() << c.firstWeight << " + " << c.weightCount);
        const ModelVertex vertex = vertexWithWeights(c.firstWeight, c.weightCount);
        const auto weights = std::as_const(model).weightsOf(vertex);
        ASSERT_EQ(weights.size(), c.expected);
        if (c.expected > 0) {
            EXPECT_EQ(weights.data(), model.vertexWeights.data() + c.firstWeight);
            EXPECT_EQ(model.weightsOf(vertex).data(), weights.data());
        }
    }

    // Two triangles, the second with its corners at 3 and its two UV layers at 6 and 9.
    ModelMesh mesh;
    for (int32_t i = 0; i < 6; ++i) {
        mesh.vertexIndices.push_back(i);
        mesh.cornerValues.push_back(100 + i);
    }
    for (int32_t i = 0; i < 12; ++i) {
        mesh.uvIndices.push_back(200 + i);
        mesh.uvValues.push_back(300 + i);
    }
    const ModelPolygon second = polygonAt(3, 3, 6, 2);
    EXPECT_EQ(std::vector<int32_t>(mesh.corners(second).begin(), mesh.corners(second).end()),
              (std::vector<int32_t>{3, 4, 5}));
    EXPECT_EQ(mesh.valuesOfCorners(second)[0], 103);
    EXPECT_EQ(mesh.uvIndicesOf(second, 0)[0], 206);
    EXPECT_EQ(mesh.uvIndicesOf(second, 1)[2], 211);
    EXPECT_EQ(mesh.uvValuesOf(second, 1)[0], 309);
    for (int32_t layer : {-1, 2, std::numeric_limits<int32_t>::min()}) {
        EXPECT_TRUE(mesh.uvIndicesOf(second, layer).empty()) << layer;
        EXPECT_TRUE(mesh.uvValuesOf(second, layer).empty()) << layer;
    }
    const ModelPolygon outside[] = {
        polygonAt(3, 4, 4, 3),
        polygonAt(0xFFFFFFFF, 3, 0xFFFFFFFF, 2),
        polygonAt(0, -3, 0, 1),
    };
    for (const ModelPolygon& polygon : outside) {
        SCOPED_TRACE(testing::Message() << polygon.firstCorner << " + " << polygon.cornerCount);
        EXPECT_TRUE(mesh.corners(polygon).empty());
        EXPECT_TRUE(mesh.valuesOfCorners(polygon).empty());
        EXPECT_TRUE(mesh.uvIndicesOf(polygon, polygon.uvLayerCount - 1).empty());
        EXPECT_TRUE(mesh.uvValuesOf(polygon, polygon.uvLayerCount - 1).empty());
    }
}

TEST(ModelRecords, MapRecordFollowsTheKindWithItsDefaults) {
    EXPECT_TRUE(std::holds_alternative<MapKind1Record>(makeMapRecord(1)));
    EXPECT_TRUE(std::holds_alternative<MapKind1Record>(makeMapRecord(9)));
    EXPECT_TRUE(std::holds_alternative<MapKind1Record>(makeMapRecord(-2)));
    EXPECT_TRUE(std::holds_alternative<MapKind7Record>(makeMapRecord(7)));
    const auto kind2 = std::get<MapKind2Record>(makeMapRecord(2));
    EXPECT_EQ(kind2.packedValue, 0x00C4C4C4);
    EXPECT_EQ(kind2.paramC, 8.0f);
    EXPECT_EQ(std::get<MapKind3Record>(makeMapRecord(3)).extraValue, 2);
    EXPECT_EQ(std::get<MapKind6Record>(makeMapRecord(6)).mode, 256);
    TextureMap map;
    EXPECT_EQ(map.mapFlags, 0x310000);
    EXPECT_EQ(map.mapScale, (Vec3{1, 1, 1}));
    map.record = makeMapRecord(6);
    EXPECT_EQ(map.fileName(), &std::get<MapKind6Record>(map.record).fileName);
    map.record = makeMapRecord(5);
    EXPECT_EQ(map.fileName(), nullptr);
}

}  // namespace
}  // namespace quillmesh
