// The reader core: cursor primitives, names, header layouts, the container's LoadResults built
// from raw bytes, the allocation step with its defaults and bounds, and clearing the model.
#include <gtest/gtest.h>

#include <zlib.h>

#include <array>
#include <bit>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <type_traits>
#include <vector>

#include "model/kvt_plugin.h"
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

void setU32(Bytes& out, std::size_t offset, uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        out[offset + i] = static_cast<uint8_t>(value >> (8 * i));
    }
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

// A file of `version` whose body declares one group and nothing else (the group is its name
// below version 30; from 30 on the name, two int32 and a 152-byte transform).
Bytes oneGroupFile(uint32_t version, uint32_t flags = 0) {
    Bytes file = header(version, flags);
    for (int section = 0; section < 3; ++section) {  // lights, cameras, materials
        putU32(file, 0);
    }
    putU32(file, 1);  // groups
    putNarrowName(file, "G");
    if (version >= 30) {
        putU32(file, 7);
        putU32(file, 9);
        for (int i = 0; i < 38; ++i) {
            putU32(file, std::bit_cast<uint32_t>(static_cast<float>(i)));
        }
    }
    const int remaining = version >= 30 ? 6 : 4;  // vertices, [aux, UV sets,] meshes, bones, anims
    for (int section = 0; section < remaining; ++section) {
        putU32(file, 0);
    }
    return finish(file);
}

// A file of `version` whose body declares nothing.
Bytes emptyBodyFile(uint32_t version) {
    Bytes file = header(version);
    const int sections = version >= 30 ? 10 : 8;
    for (int section = 0; section < sections; ++section) {
        putU32(file, 0);
    }
    return finish(file);
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
    const Bytes stream = zlibCompress(inner);
    file.insert(file.end(), stream.begin(), stream.end());
    return file;
}

int load(KVTPlugin& plugin, const Bytes& file) {
    return plugin.loadModelFromMemory(file, u"C:\\models\\test.kvt");
}

void expectEmptyModel(const KVTPlugin& plugin) {
    const ModelData& model = plugin.model;
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
    for (int32_t declared : model.declaredCounts) {
        EXPECT_EQ(declared, 0);
    }
    EXPECT_EQ(model.cornerTotal, 0);
    EXPECT_EQ(model.nameListCount, 0);
    EXPECT_FALSE(plugin.hasBuffer());
}

// Cursor primitives

TEST(ModelCursor, FixedSizeReadsNeedEveryByteAndLeaveTheCursorOnFailure) {
    struct Case {
        const char* name;
        uint32_t width;
        int (*read)(KVTPlugin&, int64_t&);
    };
    const Case cases[] = {
        {"readInt16", 2,
         [](KVTPlugin& p, int64_t& v) {
             int16_t out = 0x5555;
             const int r = p.readInt16(out);
             v = out;
             return r;
         }},
        {"readInt32", 4,
         [](KVTPlugin& p, int64_t& v) {
             int32_t out = 0x55555555;
             const int r = p.readInt32(out);
             v = out;
             return r;
         }},
        {"readUInt32", 4,
         [](KVTPlugin& p, int64_t& v) {
             uint32_t out = 0x55555555;
             const int r = p.readUInt32(out);
             v = out;
             return r;
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Bytes bytes(10, 0x01);
        KVTPlugin plugin;
        ASSERT_TRUE(plugin.holdImage(bytes));

        plugin.readCursor = 10 - c.width;  // exactly enough left
        int64_t value = 0;
        EXPECT_EQ(c.read(plugin, value), 1);
        EXPECT_NE(value, 0);
        EXPECT_EQ(plugin.readCursor, 10u);

        plugin.readCursor = 10 - c.width + 1;  // one byte short
        EXPECT_EQ(c.read(plugin, value), 0);
        EXPECT_EQ(value, 0);
        EXPECT_EQ(plugin.readCursor, 10 - c.width + 1);
    }
}

TEST(ModelCursor, ReadsNearTheTopOfTheCursorRangeFailWithoutWrapping) {
    const Bytes bytes(16, 0xAB);
    KVTPlugin plugin;
    ASSERT_TRUE(plugin.holdImage(bytes));
    for (uint32_t cursor : {17u, 0xFFFFFFFCu, 0xFFFFFFFEu, 0xFFFFFFFFu}) {
        SCOPED_TRACE(cursor);
        plugin.readCursor = cursor;
        uint32_t value = 1;
        EXPECT_EQ(plugin.readUInt32(value), 0);
        EXPECT_EQ(value, 0u);
        uint8_t byte = 0;
        EXPECT_EQ(plugin.readBytes(&byte, 1), 0);
        EXPECT_EQ(plugin.skipBytes(1), 0);
        EXPECT_EQ(plugin.bytesLeft(), 0u);
        EXPECT_EQ(plugin.readCursor, cursor);
    }
    plugin.readCursor = 8;
    std::array<uint8_t, 16> dest{};
    EXPECT_EQ(plugin.readBytes(dest.data(), 0xFFFFFFFFu), 0);
    EXPECT_EQ(plugin.skipBytes(0xFFFFFFF9u), 0);
    EXPECT_EQ(plugin.readCursor, 8u);
}

TEST(ModelCursor, ValuesAreLittleEndianAndFloatsKeepTheirBits) {
    Bytes bytes;
    putU32(bytes, 0x12345678);
    putU32(bytes, 0xFFFFFFFF);
    putU16(bytes, 0xFFFF);
    putU32(bytes, 0x7FC00001);  // a NaN with a payload
    KVTPlugin plugin;
    ASSERT_TRUE(plugin.holdImage(bytes));
    uint32_t unsignedValue = 0;
    int32_t signedValue = 0;
    int16_t shortValue = 0;
    float floatValue = 0;
    ASSERT_EQ(plugin.readUInt32(unsignedValue), 1);
    ASSERT_EQ(plugin.readInt32(signedValue), 1);
    ASSERT_EQ(plugin.readInt16(shortValue), 1);
    ASSERT_EQ(plugin.readFloat32(floatValue), 1);
    EXPECT_EQ(unsignedValue, 0x12345678u);
    EXPECT_EQ(signedValue, -1);
    EXPECT_EQ(shortValue, -1);
    EXPECT_EQ(std::bit_cast<uint32_t>(floatValue), 0x7FC00001u);
}

TEST(ModelCursor, ReadBytesRefusesAMissingDestinationAndCopiesNothingForZero) {
    const Bytes bytes{1, 2, 3};
    KVTPlugin plugin;
    uint8_t dest = 9;
    EXPECT_EQ(plugin.readBytes(&dest, 0), 0);  // no image held
    ASSERT_TRUE(plugin.holdImage(bytes));
    EXPECT_EQ(plugin.readBytes(nullptr, 1), 0);
    EXPECT_EQ(plugin.readBytes(nullptr, 0), 0);
    EXPECT_EQ(plugin.readBytes(&dest, 0), 1);
    EXPECT_EQ(dest, 9);
    EXPECT_EQ(plugin.readCursor, 0u);
    std::array<uint8_t, 4> four{9, 9, 9, 9};
    EXPECT_EQ(plugin.readBytes(four.data(), 4), 0);
    EXPECT_EQ(four, (std::array<uint8_t, 4>{9, 9, 9, 9}));
}

TEST(ModelCursor, TransformAndAuxRecordFieldsFollowTheFileOrder) {
    Bytes bytes;
    for (int i = 0; i < 38; ++i) {
        putU32(bytes, std::bit_cast<uint32_t>(static_cast<float>(i)));
    }
    for (int i = 0; i < 9; ++i) {
        putU32(bytes, static_cast<uint32_t>(-1 - i));
    }
    putU32(bytes, std::bit_cast<uint32_t>(0.5f));
    KVTPlugin plugin;
    ASSERT_TRUE(plugin.holdImage(bytes));
    NodeTransform transform;
    ASSERT_EQ(plugin.readTransform(transform), 1);
    EXPECT_EQ(transform.xAxis, (Vec3{0, 1, 2}));
    EXPECT_EQ(transform.zAxis, (Vec3{6, 7, 8}));
    EXPECT_EQ(transform.position, (Vec3{9, 10, 11}));
    EXPECT_EQ(transform.scale, (Vec3{12, 13, 14}));
    EXPECT_EQ(transform.matrix[0], 15.0f);
    EXPECT_EQ(transform.matrix[15], 30.0f);
    EXPECT_EQ(transform.rotation, (Quaternion{31, 32, 33, 34}));
    EXPECT_EQ(transform.eulerAngles, (Vec3{35, 36, 37}));
    AuxRecord record;
    ASSERT_EQ(plugin.readAuxRecord(record), 1);
    EXPECT_EQ(record.auxValues[0], -1);
    EXPECT_EQ(record.auxValues[8], -9);
    EXPECT_EQ(record.auxScalar, 0.5f);
    EXPECT_EQ(plugin.bytesLeft(), 0u);
}

TEST(ModelCursor, ShortCompoundReadLeavesItsDestinationAlone) {
    const Bytes bytes(151, 0x3F);
    KVTPlugin plugin;
    ASSERT_TRUE(plugin.holdImage(bytes));
    NodeTransform transform = identityTransform();
    EXPECT_EQ(plugin.readTransform(transform), 0);
    EXPECT_EQ(transform, identityTransform());
    EXPECT_EQ(plugin.readCursor, 0u);
}

// Names

struct NameForm {
    int32_t version;
    bool wide;
};

TEST(ModelName, VersionChoosesTheTextForm) {
    const NameForm forms[] = {{6, false},  {9, false}, {10, true}, {11, false},
                              {31, false}, {32, true}, {33, true}};
    for (const NameForm& form : forms) {
        SCOPED_TRACE(form.version);
        Bytes bytes;
        if (form.wide) {
            putWideName(bytes, u"Bone\u00e9");
        } else {
            putNarrowName(bytes, "Bone");
        }
        KVTPlugin plugin;
        plugin.model.version = form.version;
        ASSERT_TRUE(plugin.holdImage(bytes));
        ModelName name;
        ASSERT_EQ(plugin.readName(name), 1);
        EXPECT_EQ(plugin.readCursor, bytes.size());
        if (form.wide) {
            EXPECT_EQ(name.wide(), u"Bone\u00e9");
            EXPECT_EQ(name.narrow(), platform::wideToNarrow(u"Bone\u00e9"));
        } else {
            EXPECT_EQ(name.narrow(), "Bone");
            EXPECT_EQ(name.wide(), u"Bone");
        }
    }
}

TEST(ModelName, ZeroLengthGivesTheEmptyName) {
    for (int32_t version : {29, 32}) {
        const Bytes bytes{0, 0, 0x41};
        KVTPlugin plugin;
        plugin.model.version = version;
        ASSERT_TRUE(plugin.holdImage(bytes));
        ModelName name;
        ASSERT_TRUE(name.assignNarrow("previous"));
        ASSERT_EQ(plugin.readName(name), 1);
        EXPECT_TRUE(name.empty());
        EXPECT_EQ(name.wide(), u"");
        EXPECT_EQ(name.narrow(), "");
        EXPECT_EQ(plugin.readCursor, 2u);
    }
}

TEST(ModelName, LengthWordIsUnsigned) {
    for (int32_t version : {29, 32}) {
        SCOPED_TRACE(version);
        Bytes bytes;
        putU16(bytes, 0xFFFF);
        bytes.resize(2 + 0xFFFF, 'n');
        putU32(bytes, 0xCAFE);
        KVTPlugin plugin;
        plugin.model.version = version;
        ASSERT_TRUE(plugin.holdImage(bytes));
        ModelName name;
        ASSERT_EQ(plugin.readName(name), 1);
        EXPECT_EQ(plugin.readCursor, 2u + 0xFFFF);
        EXPECT_EQ(name.wide().size(), ModelName::kMaxLength);
        uint32_t next = 0;
        ASSERT_EQ(plugin.readUInt32(next), 1);
        EXPECT_EQ(next, 0xCAFEu);
    }
}

TEST(ModelName, NameRunningPastTheEndFailsWithoutTouchingAnything) {
    for (int32_t version : {29, 32}) {
        SCOPED_TRACE(version);
        Bytes bytes;
        putU16(bytes, 0xFFFF);
        bytes.resize(2 + 0xFFFE, 'n');  // one byte short
        KVTPlugin plugin;
        plugin.model.version = version;
        ASSERT_TRUE(plugin.holdImage(bytes));
        ModelName name;
        ASSERT_TRUE(name.assignNarrow("kept"));
        EXPECT_EQ(plugin.readName(name), 0);
        EXPECT_EQ(name.narrow(), "kept");
        EXPECT_EQ(name.wide(), u"kept");
        EXPECT_EQ(plugin.readCursor, 0u);
    }
    KVTPlugin plugin;
    ASSERT_TRUE(plugin.holdImage(Bytes{5}));  // half a length word
    ModelName name;
    EXPECT_EQ(plugin.readName(name), 0);
}

TEST(ModelName, OddWideLengthLeavesTheLastUnitWithAZeroHighByte) {
    const Bytes bytes{3, 0, 0x41, 0x01, 0x42, 0x77};
    KVTPlugin plugin;
    plugin.model.version = 32;
    ASSERT_TRUE(plugin.holdImage(bytes));
    ModelName name;
    ASSERT_EQ(plugin.readName(name), 1);
    EXPECT_EQ(name.wide(), std::u16string(u"\u0141B"));
    EXPECT_EQ(plugin.readCursor, 5u);
}

TEST(ModelName, LongNamesAreCutAndTheRestIsSkipped) {
    struct Case {
        int32_t version;
        uint16_t units;
    };
    for (const Case& c : {Case{29, 259}, Case{29, 260}, Case{29, 1000}, Case{32, 259},
                          Case{32, 260}, Case{32, 1000}}) {
        SCOPED_TRACE(c.version * 10000 + c.units);
        Bytes bytes;
        if (c.version >= 32) {
            putWideName(bytes, std::u16string(c.units, u'w'));
        } else {
            putNarrowName(bytes, std::string(c.units, 'n'));
        }
        putU32(bytes, 0xBEEF);
        KVTPlugin plugin;
        plugin.model.version = c.version;
        ASSERT_TRUE(plugin.holdImage(bytes));
        ModelName name;
        ASSERT_EQ(plugin.readName(name), 1);
        EXPECT_EQ(name.wide().size(), 259u);
        EXPECT_EQ(name.narrow().size(), 259u);
        EXPECT_EQ(name.wideCString()[259], u'\0');
        EXPECT_EQ(name.narrowCString()[259], '\0');
        uint32_t next = 0;
        ASSERT_EQ(plugin.readUInt32(next), 1);
        EXPECT_EQ(next, 0xBEEFu);
    }
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

// Header

TEST(ModelHeaderLayout, ShortHeaderFillsWords0To13And18To27) {
    Bytes bytes{'K', 'V', 'T', 'H'};
    putU32(bytes, 29);
    for (uint32_t word = 2; word < 24; ++word) {
        putU32(bytes, 1000 + word);
    }
    putU32(bytes, 0xEEEEEEEE);  // the first body word
    KVTPlugin plugin;
    ASSERT_TRUE(plugin.holdImage(bytes));
    ModelHeader image;
    image.words.fill(0x99);
    ASSERT_EQ(plugin.readHeader(image), 1);
    EXPECT_EQ(plugin.readCursor, 96u);
    EXPECT_EQ(image.magic(), kModelMagic);
    EXPECT_EQ(image.version(), 29u);
    for (uint32_t word = 2; word < 14; ++word) {
        EXPECT_EQ(image.words[word], 1000 + word) << word;
    }
    for (uint32_t word = 14; word < 18; ++word) {
        EXPECT_EQ(image.words[word], 0u) << word;
    }
    for (uint32_t word = 18; word < 28; ++word) {
        EXPECT_EQ(image.words[word], 1000 + word - 4) << word;
    }
    for (uint32_t word = 28; word < 32; ++word) {
        EXPECT_EQ(image.words[word], 0u) << word;
    }
    EXPECT_EQ(image.nameListCount(), 1020);  // file word 20, byte offset 80
}

TEST(ModelHeaderLayout, LongHeaderFillsAll32Words) {
    Bytes bytes{'K', 'V', 'T', 'H'};
    putU32(bytes, 30);
    for (uint32_t word = 2; word < 32; ++word) {
        putU32(bytes, 2000 + word);
    }
    KVTPlugin plugin;
    ASSERT_TRUE(plugin.holdImage(bytes));
    ModelHeader image;
    ASSERT_EQ(plugin.readHeader(image), 1);
    EXPECT_EQ(plugin.readCursor, 128u);
    for (uint32_t word = 2; word < 32; ++word) {
        EXPECT_EQ(image.words[word], 2000 + word) << word;
    }
    EXPECT_EQ(image.nameListCount(), 2024);
}

TEST(ModelHeaderLayout, TruncatedHeaderFails) {
    for (uint32_t version : {29u, 30u}) {
        Bytes bytes = header(version);
        bytes.pop_back();
        KVTPlugin plugin;
        ASSERT_TRUE(plugin.holdImage(bytes));
        ModelHeader image;
        EXPECT_EQ(plugin.readHeader(image), 0) << version;
    }
}

// Container

struct ContainerCase {
    const char* defect;
    Bytes file;
    int expected;
};

Bytes withWord(Bytes file, std::size_t offset, uint32_t value) {
    setU32(file, offset, value);
    return file;
}

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

    return {
        {"empty file", {}, kLoadFailed},
        {"header only half there", Bytes(good29.begin(), good29.begin() + 40), kLoadFailed},
        {"wrong magic", withWord(good29, 0, 0x5854564B), kLoadBadMagic},
        {"magic in the wrong byte order", withWord(good29, 0, 0x4B565448), kLoadBadMagic},
        {"version 5", withWord(good29, 4, 5), kLoadUnsupportedVersion},
        {"version 0", withWord(good29, 4, 0), kLoadUnsupportedVersion},
        {"version 29", good29, kLoadSucceeded},
        {"version 30", good30, kLoadSucceeded},
        {"version 33", oneGroupFile(33), kLoadSucceeded},
        {"version 6", oneGroupFile(6), kLoadSucceeded},
        {"version 34 without a chunk directory", withWord(good30, 4, 34), kLoadFailed},
        {"length one more than the file", withWord(good29, kLengthOffset, size29 + 1),
         kLoadLengthMismatch},
        {"length one less than the file", withWord(good29, kLengthOffset, size29 - 1),
         kLoadLengthMismatch},
        {"nothing declared", emptyBodyFile(29), kLoadFailed},
        {"nothing declared, version 30", emptyBodyFile(30), kLoadFailed},
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
        {"compressed, outer length 0", compressedFile(good29, 29, 0), kLoadFailed},
        {"compressed, stream offset beyond the end", compressedFile(good29, 29, {}, 5000),
         kLoadFailed},
        {"compressed, stream offset at the top of the range",
         compressedFile(good29, 29, {}, 0xFFFFFFFF), kLoadFailed},
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
        EXPECT_EQ(load(plugin, c.file), c.expected);
        EXPECT_FALSE(plugin.hasBuffer());
        if (c.expected != kLoadSucceeded) {
            expectEmptyModel(plugin);
        }
    }
}

TEST(ModelContainer, StreamOffsetAtTheFileEndFails) {
    Bytes file = compressedFile(oneGroupFile(29));
    setU32(file, kStreamOffsetOffset, static_cast<uint32_t>(file.size()));
    KVTPlugin plugin;
    EXPECT_EQ(load(plugin, file), kLoadFailed);
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
    EXPECT_EQ(model.groups.items[0].transform.eulerAngles.z, 37.0f);
    ASSERT_EQ(model.uvSets.count, 2);
    EXPECT_EQ(model.uvSets.items[1].name.narrow(), "UVSet2");
    EXPECT_EQ(model.groups.sectionStart, 128u + 12u);
    EXPECT_EQ(plugin.sourcePath, u"C:\\models\\test.kvt");
}

TEST(ModelContainer, SectionsFollowInFileOrderWithAuxAndUVSetsFromVersion30) {
    KVTPlugin plugin;
    ASSERT_EQ(load(plugin, oneGroupFile(29)), kLoadSucceeded);
    const ModelData& old = plugin.model;
    // 96-byte header; the group record is a 3-byte name.
    EXPECT_EQ(old.lights.sectionStart, 96u);
    EXPECT_EQ(old.materials.sectionStart, 104u);
    EXPECT_EQ(old.groups.sectionStart, 108u);
    EXPECT_EQ(old.vertices.sectionStart, 115u);
    EXPECT_EQ(old.auxRecords.sectionStart, 0u);
    EXPECT_EQ(old.uvSets.sectionStart, 0u);
    EXPECT_EQ(old.meshes.sectionStart, 119u);
    EXPECT_EQ(old.animations.sectionStart, 127u);

    ASSERT_EQ(load(plugin, oneGroupFile(30)), kLoadSucceeded);
    const ModelData& model = plugin.model;
    // 128-byte header; the group record is a 3-byte name and 160 bytes.
    EXPECT_EQ(model.groups.sectionStart, 140u);
    EXPECT_EQ(model.vertices.sectionStart, 307u);
    EXPECT_EQ(model.auxRecords.sectionStart, 311u);
    EXPECT_EQ(model.uvSets.sectionStart, 315u);
    EXPECT_EQ(model.meshes.sectionStart, 319u);
    EXPECT_EQ(model.animations.sectionStart, 327u);
}

TEST(ModelContainer, NameListCountComesFromHeaderWord24) {
    for (uint32_t version : {29u, 30u}) {
        Bytes file = oneGroupFile(version);
        setU32(file, version >= 30 ? 96 : 80, 17);
        KVTPlugin plugin;
        ASSERT_EQ(load(plugin, file), kLoadSucceeded) << version;
        EXPECT_EQ(plugin.model.nameListCount, 17) << version;
    }
}

TEST(ModelContainer, EveryTruncationOfAValidFileFails) {
    for (uint32_t version : {29u, 30u}) {
        const Bytes file = oneGroupFile(version);
        for (std::size_t size = 0; size < file.size(); ++size) {
            SCOPED_TRACE(version * 10000 + size);
            Bytes prefix(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(size));
            if (size >= 16) {
                setU32(prefix, kLengthOffset, static_cast<uint32_t>(size));
            }
            KVTPlugin plugin;
            EXPECT_EQ(load(plugin, prefix), kLoadFailed);
            expectEmptyModel(plugin);
        }
    }
}

TEST(ModelContainer, FailedLoadAfterASuccessfulOneLeavesAnEmptyModel) {
    KVTPlugin plugin;
    ASSERT_EQ(load(plugin, oneGroupFile(29)), kLoadSucceeded);
    ASSERT_EQ(plugin.model.groups.count, 1);
    EXPECT_EQ(load(plugin, withWord(oneGroupFile(29), 0, 0)), kLoadBadMagic);
    expectEmptyModel(plugin);
}

TEST(ModelContainer, SourcePathLongerThan259UnitsCannotBeOpened) {
    KVTPlugin plugin;
    EXPECT_EQ(plugin.loadModelFromMemory(oneGroupFile(29), std::u16string(260, u'p')),
              kLoadCannotOpen);
    EXPECT_EQ(plugin.loadModel(std::u16string(260, u'p').c_str()), kLoadCannotOpen);
    EXPECT_EQ(plugin.loadModel(nullptr), kLoadCannotOpen);
    EXPECT_EQ(plugin.loadModelFromMemory(oneGroupFile(29), std::u16string(259, u'p')),
              kLoadSucceeded);
}

std::u16string temporaryPath(std::u16string_view fileName) {
    const std::u16string directory = platform::fromUtf8(::testing::TempDir());
    return directory + std::u16string(fileName);
}

TEST(ModelContainer, LoadsFromAFileWithANonLatinPath) {
    const std::u16string path = temporaryPath(u"\u6a21\u578b_core_test.kvt");
    const Bytes file = oneGroupFile(29);
    ASSERT_TRUE(platform::writeWholeFile(path, file));
    KVTPlugin plugin;
    EXPECT_EQ(plugin.loadModel(path.c_str()), kLoadSucceeded);
    EXPECT_EQ(plugin.sourcePath, path);
    EXPECT_EQ(plugin.model.groups.count, 1);
    EXPECT_FALSE(plugin.hasBuffer());
}

TEST(ModelContainer, MissingFileCannotBeOpened) {
    const std::u16string path = temporaryPath(u"no_such_model_core_test.kvt");
    KVTPlugin plugin;
    plugin.sourcePath = u"before";
    EXPECT_EQ(plugin.loadModel(path.c_str()), kLoadCannotOpen);
    EXPECT_EQ(plugin.sourcePath, u"before");
    expectEmptyModel(plugin);
}

TEST(ModelContainer, ClearModelKeepsTheVersionAndTheSectionStarts) {
    KVTPlugin plugin;
    ASSERT_EQ(load(plugin, oneGroupFile(30)), kLoadSucceeded);
    const uint32_t groupStart = plugin.model.groups.sectionStart;
    plugin.model.nameListCount = 3;
    plugin.clearModel();
    EXPECT_EQ(plugin.model.version, 30);
    EXPECT_EQ(plugin.model.groups.sectionStart, groupStart);
    expectEmptyModel(plugin);
    plugin.clearModel();  // safe on an empty model
    expectEmptyModel(plugin);
}

TEST(ModelContainer, ConstructionSetsTheFixedSettingsAndLabels) {
    const KVTPlugin plugin;
    EXPECT_EQ(plugin.settings, (std::array<int32_t, 13>{1, 1, 1, 1, 1, 1, 1, 1, 0, 1, 0, 1, 1}));
    EXPECT_EQ(plugin.productLabel, "Quillmesh");
    EXPECT_EQ(plugin.versionLabel, "v3.0");
    EXPECT_TRUE(plugin.spareLabel.empty());
    EXPECT_TRUE(plugin.sourcePath.empty());
    EXPECT_EQ(plugin.readCursor, 0u);
    EXPECT_EQ(plugin.length(), 0u);
    static_assert(std::has_virtual_destructor_v<KVTPlugin>);
}

// Allocation

void declare(KVTPlugin& plugin, SectionId section, int32_t count) {
    plugin.model.declaredCount(section) = count;
}

TEST(ModelAllocation, NothingDeclaredOrOnlyAuxAndUVSetsFails) {
    {
        KVTPlugin plugin;
        EXPECT_FALSE(plugin.allocateSections());
    }
    {
        KVTPlugin plugin;
        declare(plugin, SectionId::kAuxRecords, 4);
        declare(plugin, SectionId::kUVSets, 3);
        EXPECT_FALSE(plugin.allocateSections());
    }
}

TEST(ModelAllocation, EachCountedSectionAloneIsEnough) {
    const SectionId sections[] = {SectionId::kLights, SectionId::kCameras,   SectionId::kMaterials,
                                  SectionId::kGroups, SectionId::kVertices,  SectionId::kMeshes,
                                  SectionId::kBones,  SectionId::kAnimations};
    for (SectionId section : sections) {
        for (int32_t count : {2, -1}) {  // a negative count counts as declared
            SCOPED_TRACE(static_cast<int>(section) * 10 + count);
            KVTPlugin plugin;
            plugin.model.version = 30;
            declare(plugin, section, count);
            ASSERT_TRUE(plugin.allocateSections());
            const int32_t expectedGroups =
                section == SectionId::kGroups ? (count > 0 ? count : 0) : 1;
            EXPECT_EQ(plugin.model.groups.count, expectedGroups);
            EXPECT_EQ(plugin.model.uvSets.count, 2);
        }
    }
}

TEST(ModelAllocation, GroupsGetNumberedNamesFromZeroAndZeroTransforms) {
    KVTPlugin plugin;
    declare(plugin, SectionId::kVertices, 1);
    ASSERT_TRUE(plugin.allocateSections());
    ASSERT_EQ(plugin.model.groups.count, 1);
    EXPECT_EQ(plugin.model.groups.items[0].name.narrow(), "KVTGroup0");
    EXPECT_EQ(plugin.model.groups.items[0].name.wide(), u"KVTGroup0");
    EXPECT_EQ(plugin.model.groups.items[0].groupLink, 0);
    EXPECT_EQ(plugin.model.groups.items[0].transform, NodeTransform{});
    ASSERT_TRUE(plugin.allocateGroups(12));
    EXPECT_EQ(plugin.model.groups.items[11].name.narrow(), "KVTGroup11");
}

TEST(ModelAllocation, UVSetsGetNumberedNamesFromOne) {
    KVTPlugin plugin;
    ASSERT_TRUE(plugin.allocateUVSets(3));
    EXPECT_EQ(plugin.model.uvSets.items[0].name.narrow(), "UVSet1");
    EXPECT_EQ(plugin.model.uvSets.items[2].name.wide(), u"UVSet3");
    EXPECT_EQ(plugin.model.uvSets.items[2].coordCount, 0);
    EXPECT_TRUE(plugin.model.uvSets.items[2].coords.empty());
}

TEST(ModelAllocation, OldFilesGetCornerTotalCoordinatesInBothDefaultUVSets) {
    struct Case {
        int32_t version;
        int32_t cornerTotal;
        int32_t expectedCoords;
    };
    for (const Case& c : {Case{29, 10, 10}, Case{30, 10, 0}, Case{29, 0, 0}, Case{29, -4, 0}}) {
        SCOPED_TRACE(c.version * 100 + c.cornerTotal);
        KVTPlugin plugin;
        plugin.model.version = c.version;
        plugin.model.cornerTotal = c.cornerTotal;
        declare(plugin, SectionId::kMeshes, 1);
        ASSERT_TRUE(plugin.allocateSections());
        ASSERT_EQ(plugin.model.uvSets.count, 2);
        for (const UVSet& uvSet : plugin.model.uvSets.items) {
            EXPECT_EQ(uvSet.coordCount, c.expectedCoords);
            ASSERT_EQ(uvSet.coords.size(), static_cast<std::size_t>(c.expectedCoords));
            for (const UVCoord& coord : uvSet.coords) {
                EXPECT_EQ(coord, UVCoord{});
            }
        }
    }
}

TEST(ModelAllocation, MaterialsStartWhiteWithShininess128AndOpacity1) {
    KVTPlugin plugin;
    ASSERT_TRUE(plugin.allocateMaterials(2));
    for (const ModelMaterial& material : plugin.model.materials.items) {
        EXPECT_EQ(material.colours[0], (Rgba{1, 1, 1, 1}));
        for (std::size_t i = 1; i < 5; ++i) {
            EXPECT_EQ(material.colours[i], (Rgba{0, 0, 0, 1}));
        }
        EXPECT_EQ(material.shininess, 128.0f);
        EXPECT_EQ(material.opacity, 1.0f);
        EXPECT_EQ(material.mapCount, 0);
        EXPECT_TRUE(material.maps.empty());
        EXPECT_TRUE(material.name.empty());
    }
}

TEST(ModelAllocation, BonesAndAnimationsGetTheirDefaults) {
    KVTPlugin plugin;
    declare(plugin, SectionId::kBones, 3);
    declare(plugin, SectionId::kAnimations, 2);
    ASSERT_TRUE(plugin.allocateSections());
    for (const ModelBone& bone : plugin.model.bones.items) {
        EXPECT_EQ(bone.boneLink, -1);
        EXPECT_EQ(bone.transform.position, (Vec3{0, 0, 0}));
        EXPECT_EQ(bone.transform.rotation, (Quaternion{0, 0, 0, 1}));
        EXPECT_EQ(bone.transform.scale, (Vec3{1, 1, 1}));
        EXPECT_EQ(bone.transform.xAxis, (Vec3{0, 0, 0}));
        EXPECT_EQ(bone.transform.matrix, (std::array<float, 16>{}));
        EXPECT_EQ(bone.transform.eulerAngles, (Vec3{0, 0, 0}));
        EXPECT_EQ(bone.colour, (Rgba{1, 1, 1, 1}));
        EXPECT_EQ(bone.useCount, 0);
    }
    for (const ModelAnimation& animation : plugin.model.animations.items) {
        EXPECT_EQ(animation.name.narrow(), "DefaultAnim");
        EXPECT_EQ(animation.animStart, 0.0f);
        EXPECT_EQ(animation.animEnd, 30.0f);
        EXPECT_EQ(animation.animRate, 30.0f);
        EXPECT_EQ(animation.trackCount, 3);
        ASSERT_EQ(animation.tracks.size(), 3u);
        EXPECT_EQ(animation.tracks[2].positionKeyCount, 0);
        EXPECT_TRUE(animation.tracks[2].scaleKeys.empty());
    }
}

TEST(ModelAllocation, AnimationsWithoutBonesGetNoTracks) {
    KVTPlugin plugin;
    declare(plugin, SectionId::kAnimations, 2);
    ASSERT_TRUE(plugin.allocateSections());
    EXPECT_EQ(plugin.model.animations.items[1].trackCount, 0);
    EXPECT_TRUE(plugin.model.animations.items[1].tracks.empty());
}

TEST(ModelAllocation, VerticesAreWhiteAndAuxRecordsHoldMinusOneInFields4To9) {
    KVTPlugin plugin;
    ASSERT_TRUE(plugin.allocateVertices(2));
    EXPECT_EQ(plugin.model.vertices.items[1].colour, (Rgba{1, 1, 1, 1}));
    EXPECT_EQ(plugin.model.vertices.items[1].weightCount, 0);
    ASSERT_TRUE(plugin.allocateAuxRecords(2));
    const AuxRecord expected{{0, 0, 0, -1, -1, -1, -1, -1, -1}, 0.0f};
    EXPECT_EQ(plugin.model.auxRecords.items[0], expected);
    EXPECT_EQ(plugin.model.auxRecords.items[1], expected);
}

TEST(ModelAllocation, SlotAllocationReplacesTheOldArrayAndRefusesNonPositiveCounts) {
    KVTPlugin plugin;
    ASSERT_TRUE(plugin.allocateMeshes(4));
    ASSERT_TRUE(allocatePolygons(plugin.model.meshes.items[0], 3));
    ASSERT_TRUE(plugin.allocateMeshes(2));
    EXPECT_EQ(plugin.model.meshes.count, 2);
    EXPECT_EQ(plugin.model.meshes.items.size(), 2u);
    EXPECT_EQ(plugin.model.meshes.items[0].polygonCount, 0);
    EXPECT_FALSE(plugin.allocateMeshes(0));
    EXPECT_FALSE(plugin.allocateLights(-3));
    EXPECT_EQ(plugin.model.lights.count, 0);
}

TEST(ModelAllocation, SubArrayAllocationsRefuseNonPositiveCounts) {
    for (int32_t count : {0, -1, INT32_MIN}) {
        SCOPED_TRACE(count);
        UVSet uvSet;
        ModelAnimation animation;
        BoneTrack track;
        ModelVertex vertex;
        ModelMesh mesh;
        EXPECT_FALSE(allocateUVCoords(uvSet, count));
        EXPECT_FALSE(allocateUVSetAux(uvSet, count));
        EXPECT_FALSE(allocateBoneTracks(animation, count));
        EXPECT_FALSE(allocatePositionKeys(track, count));
        EXPECT_FALSE(allocateRotationKeys(track, count));
        EXPECT_FALSE(allocateScaleKeys(track, count));
        EXPECT_FALSE(allocateVertexWeights(vertex, count));
        EXPECT_FALSE(allocatePolygons(mesh, count));
    }
}

TEST(ModelAllocation, SubArraysStartWithTheirDefaults) {
    BoneTrack track;
    ASSERT_TRUE(allocatePositionKeys(track, 2));
    ASSERT_TRUE(allocateRotationKeys(track, 3));
    ASSERT_TRUE(allocateScaleKeys(track, 4));
    EXPECT_EQ(track.positionKeyCount, 2);
    EXPECT_EQ(track.positionKeys[1].value, (Vec3{0, 0, 0}));
    EXPECT_EQ(track.rotationKeyCount, 3);
    EXPECT_EQ(track.rotationKeys[2].value, (Quaternion{0, 0, 0, 1}));
    EXPECT_EQ(track.rotationKeys[2].time, 0.0f);
    EXPECT_EQ(track.scaleKeyCount, 4);
    EXPECT_EQ(track.scaleKeys[3].value, (Vec3{1, 1, 1}));

    ModelVertex vertex;
    ASSERT_TRUE(allocateVertexWeights(vertex, 2));
    EXPECT_EQ(vertex.weightCount, 2);
    EXPECT_EQ(vertex.weights[1].boneIndex, -1);
    EXPECT_EQ(vertex.weights[1].weight, 1.0f);

    UVSet uvSet;
    ASSERT_TRUE(allocateUVSetAux(uvSet, 2));
    EXPECT_EQ(uvSet.auxCount, 2);
    EXPECT_EQ(uvSet.auxRecords[1], AuxRecord{});  // no -1 fields here
    ASSERT_TRUE(allocateUVCoords(uvSet, 5));
    ASSERT_TRUE(allocateUVCoords(uvSet, 2));  // replaces
    EXPECT_EQ(uvSet.coordCount, 2);
    EXPECT_EQ(uvSet.coords.size(), 2u);

    ModelMesh mesh;
    ASSERT_TRUE(allocatePolygons(mesh, 2));
    EXPECT_EQ(mesh.polygonCount, 2);
    EXPECT_EQ(mesh.polygons[1].polygonTag, -1);
    EXPECT_EQ(mesh.polygons[1].materialIndex, -1);
    EXPECT_EQ(mesh.polygons[1].polygonValue, 0);
    EXPECT_EQ(mesh.polygons[1].cornerCount, 0);
    EXPECT_TRUE(mesh.polygons[1].uvLayers.empty());
}

TEST(ModelAllocation, PolygonCornersAreAtLeastThreeAndAllMinusOne) {
    struct Case {
        int32_t requested;
        int32_t held;
    };
    for (const Case& c : {Case{2, 3}, Case{0, 3}, Case{-5, 3}, Case{3, 3}, Case{7, 7}}) {
        SCOPED_TRACE(c.requested);
        ModelPolygon polygon;
        ASSERT_TRUE(allocatePolygonCorners(polygon, c.requested));
        EXPECT_EQ(polygon.cornerCount, c.held);
        EXPECT_EQ(polygon.uvLayerCount, 2);
        const std::vector<int32_t> minusOnes(static_cast<std::size_t>(c.held), -1);
        EXPECT_EQ(polygon.vertexIndices, minusOnes);
        EXPECT_EQ(polygon.cornerValues, minusOnes);
        ASSERT_EQ(polygon.uvLayers.size(), 2u);
        for (const PolygonUVLayer& layer : polygon.uvLayers) {
            EXPECT_EQ(layer.uvIndices, minusOnes);
            EXPECT_EQ(layer.uvValues, minusOnes);
        }
        EXPECT_FALSE(allocatePolygonCorners(polygon, 4));  // already has corners
        EXPECT_EQ(polygon.cornerCount, c.held);
    }
}

TEST(ModelAllocation, HugeCountsFromASmallFileAreRefusedBeforeAllocating) {
    {
        KVTPlugin plugin;
        EXPECT_FALSE(plugin.allocateGroups(INT32_MAX));
        EXPECT_FALSE(plugin.allocateVertices(INT32_MAX));
        EXPECT_EQ(plugin.model.groups.count, 0);
    }
    {
        // 20000 bones and 20000 animations fit one by one; their 4e8 tracks do not.
        KVTPlugin plugin;
        declare(plugin, SectionId::kBones, 20000);
        declare(plugin, SectionId::kAnimations, 20000);
        EXPECT_FALSE(plugin.allocateSections());
    }
    {
        KVTPlugin plugin;
        plugin.model.version = 29;
        plugin.model.cornerTotal = INT32_MAX;
        declare(plugin, SectionId::kMeshes, 1);
        EXPECT_FALSE(plugin.allocateSections());
    }
    {
        // The same product is fine when the file is large enough to describe it.
        KVTPlugin plugin;
        declare(plugin, SectionId::kBones, 300);
        declare(plugin, SectionId::kAnimations, 300);
        EXPECT_TRUE(plugin.allocateSections());
        EXPECT_EQ(plugin.model.animations.items[299].tracks.size(), 300u);
    }
}

TEST(ModelAllocation, ClearModelReleasesMaterialsWithLayeredMaps) {
    KVTPlugin plugin;
    plugin.model.version = 31;
    ASSERT_TRUE(plugin.allocateMaterials(1));
    ModelMaterial& material = plugin.model.materials.items[0];
    material.maps.resize(2);
    material.mapCount = 2;
    material.maps[0] = std::make_unique<TextureMap>();
    material.maps[0]->record = makeMapRecord(4);
    std::get<MapKind4Record>(material.maps[0]->record).layers.resize(3);
    ASSERT_TRUE(plugin.allocateVertices(1));
    ASSERT_TRUE(allocateVertexWeights(plugin.model.vertices.items[0], 4));
    plugin.model.declaredCount(SectionId::kMaterials) = 1;
    plugin.model.cornerTotal = 9;
    plugin.clearModel();
    expectEmptyModel(plugin);
    EXPECT_EQ(plugin.model.version, 31);
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
