#include "tools/descriptor_json.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <limits>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace quillmesh::tool {
namespace {

using Bytes = std::vector<uint8_t>;
using qmhost::Descriptor;
using qmhost::fourcc;
using qmhost::IdRegistry;
using qmhost::Value;
using Json = nlohmann::ordered_json;

// What `write` streams, compact or indented.
template <class Write>
std::string streamed(Write write, bool pretty = false) {
    std::ostringstream out;
    JsonWriter json(out, pretty);
    write(json);
    return out.str();
}

Json dataBlockToJson(const KeyName& key, std::span<const uint8_t> bytes) {
    return Json::parse(streamed([&](JsonWriter& json) { writeDataBlockJson(json, key, bytes); }));
}

std::string descriptorText(const Descriptor& descriptor, const IdRegistry& ids, bool pretty) {
    return streamed([&](JsonWriter& json) { writeDescriptorJson(json, descriptor, ids); }, pretty);
}

Json descriptorToJson(const Descriptor& descriptor, const IdRegistry& ids) {
    return Json::parse(descriptorText(descriptor, ids, false));
}

std::string jsonText(const Json& json) {
    return json.dump(2);
}

// Little-endian block contents, built independently of the scene writer.
class Block {
  public:
    Block& i32(int32_t value) {
        const auto bits = static_cast<uint32_t>(value);
        for (int shift = 0; shift < 32; shift += 8) {
            bytes_.push_back(static_cast<uint8_t>(bits >> shift));
        }
        return *this;
    }
    Block& f64(double value) {
        const auto bits = std::bit_cast<uint64_t>(value);
        for (int shift = 0; shift < 64; shift += 8) {
            bytes_.push_back(static_cast<uint8_t>(bits >> shift));
        }
        return *this;
    }
    Block& zeros(std::size_t count) {
        bytes_.insert(bytes_.end(), count, 0);
        return *this;
    }
    Block& text(const std::string& text) {
        bytes_.insert(bytes_.end(), text.begin(), text.end());
        return *this;
    }
    // A polygon record: corner count, 4 reserved bytes, A, B, material, 16 reserved bytes.
    Block& polygon(int32_t corners, int32_t a, int32_t b, int32_t material) {
        return i32(corners).zeros(4).i32(a).i32(b).i32(material).zeros(16);
    }
    Bytes bytes() const { return bytes_; }

  private:
    Bytes bytes_;
};

KeyName code(const char* text) {
    return {text, false};
}
KeyName stringId(const char* text) {
    return {text, true};
}

struct BlockCase {
    const char* name;
    KeyName key;
    Bytes bytes;
    Json expected;  // the whole decoded block
};

void PrintTo(const BlockCase& c, std::ostream* out) {
    *out << c.name;
}

class DataBlockDecoding : public ::testing::TestWithParam<BlockCase> {};

TEST_P(DataBlockDecoding, DecodesWhatTheWriterPutsUnderTheKey) {
    const BlockCase& c = GetParam();
    EXPECT_EQ(dataBlockToJson(c.key, c.bytes), c.expected)
        << jsonText(dataBlockToJson(c.key, c.bytes));
}

const BlockCase kBlockCases[] = {
    {"Vertices", code("verl"),
     Block().f64(1.5).f64(-2.25).f64(3).f64(0).f64(1e-300).f64(-0.5).bytes(),
     Json{{"bytes", 48}, {"vectors", {{1.5, -2.25, 3.0}, {0.0, 1e-300, -0.5}}}}},
    {"Normals", code("nrml"), Block().f64(0).f64(0).f64(1).bytes(),
     Json{{"bytes", 24}, {"vectors", {{0.0, 0.0, 1.0}}}}},
    {"LineEnds", code("lnfl"), Block().f64(7).f64(8).f64(9).bytes(),
     Json{{"bytes", 24}, {"vectors", {{7.0, 8.0, 9.0}}}}},
    {"LineStarts", code("lncl"), Block().f64(-7).f64(-8).f64(-9).bytes(),
     Json{{"bytes", 24}, {"vectors", {{-7.0, -8.0, -9.0}}}}},
    {"VertexVectors", code("vnvl"), Block().f64(0.125).f64(0.25).f64(0.375).bytes(),
     Json{{"bytes", 24}, {"vectors", {{0.125, 0.25, 0.375}}}}},
    {"NonFiniteCoordinates", code("verl"),
     Block()
         .f64(std::numeric_limits<double>::quiet_NaN())
         .f64(std::numeric_limits<double>::infinity())
         .f64(-std::numeric_limits<double>::infinity())
         .bytes(),
     Json{{"bytes", 24}, {"vectors", {{"NaN", "Infinity", "-Infinity"}}}}},
    {"UVs", code("uvl "), Block().f64(0.25).f64(0.75).f64(1).f64(0).bytes(),
     Json{{"bytes", 32}, {"uvs", {{0.25, 0.75}, {1.0, 0.0}}}}},
    {"Polygons", code("facl"), Block().polygon(3, 0, 1, 2).polygon(4, -1, 7, 0).bytes(),
     Json{{"bytes", 72},
          {"polygons",
           {Json{{"corners", 3}, {"attributeA", 0}, {"attributeB", 1}, {"material", 2}},
            Json{{"corners", 4}, {"attributeA", -1}, {"attributeB", 7}, {"material", 0}}}}}},
    {"PolygonWithReservedBytesSet", code("facl"),
     Block().i32(3).i32(0x01020304).i32(0).i32(1).i32(0).zeros(15).text("\xff").bytes(),
     Json{{"bytes", 36},
          {"polygons",
           {Json{{"corners", 3},
                 {"attributeA", 0},
                 {"attributeB", 1},
                 {"material", 0},
                 {"reserved", "04030201" + std::string(30, '0') + "ff"}}}}}},
    {"Corners", code("faci"), Block().i32(7).i32(-1).i32(2).i32(0x7FFFFFFF).bytes(),
     Json{
         {"bytes", 16},
         {"corners", {Json{{"vertex", 7}, {"normal", -1}, {"uv", 2}, {"auxiliary", 0x7FFFFFFF}}}}}},
    {"LayerName", code("LyrN"), Block().text("Layer 1").bytes(),
     Json{{"bytes", 7}, {"text", "Layer 1"}}},
    {"PaintType", stringId("key3DPaintType"), Block().text("diffuse").bytes(),
     Json{{"bytes", 7}, {"text", "diffuse"}}},
    {"PreservationExtra", stringId("keyPreservationExtra"), Block().text("x=1").bytes(),
     Json{{"bytes", 3}, {"text", "x=1"}}},
    {"PreservationEffectProfiles", stringId("keyPreservationEffectProfiles"),
     Block().text("fx").bytes(), Json{{"bytes", 2}, {"text", "fx"}}},
    {"MalformedTextIsReplaced", code("LyrN"), Block().text("a\xff").bytes(),
     Json{{"bytes", 2}, {"text", "a\xef\xbf\xbd"}}},
    {"EmptyVertexBlock", code("verl"), Bytes{}, Json{{"bytes", 0}, {"vectors", Json::array()}}},
    {"UnknownKeyIsHex", code("abcd"), Bytes{0x00, 0x7f, 0xab},
     Json{{"bytes", 3}, {"hex", "007fab"}}},
    // The layout goes with the key as the writer gave it: a string ID "verl" is another key.
    {"StringIdWithABlockCodeIsUnknown", stringId("verl"), Block().f64(1).f64(2).f64(3).bytes(),
     Json{{"bytes", 24},
          {"hex",
           "000000000000f03f"
           "0000000000000040"
           "0000000000000840"}}},
    {"VertexBlockOfPartialEntry", code("verl"), Bytes(25, 0),
     Json{{"bytes", 25},
          {"hex", std::string(50, '0')},
          {"error", "length is not a multiple of 24 bytes"}}},
    {"PolygonBlockOfPartialRecord", code("facl"), Bytes(35, 0),
     Json{{"bytes", 35},
          {"hex", std::string(70, '0')},
          {"error", "length is not a multiple of 36 bytes"}}},
    {"CornerBlockOfPartialRecord", code("faci"), Bytes{1, 2, 3},
     Json{{"bytes", 3}, {"hex", "010203"}, {"error", "length is not a multiple of 16 bytes"}}},
};

INSTANTIATE_TEST_SUITE_P(Blocks, DataBlockDecoding, ::testing::ValuesIn(kBlockCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(KeyName, CodesKeepTrailingSpacesStringIdsTheirTextOthersHex) {
    IdRegistry ids;
    const HostKey flip = ids.fromString("flip");
    const HostKey state = ids.fromString("key3DState");
    EXPECT_EQ(keyName(fourcc("Nm  "), ids).text, "Nm  ");
    EXPECT_FALSE(keyName(fourcc("Nm  "), ids).fromString);
    EXPECT_EQ(keyName(fourcc("uvl "), ids).text, "uvl ");
    EXPECT_EQ(keyName(flip, ids).text, "flip");
    EXPECT_TRUE(keyName(flip, ids).fromString);
    EXPECT_EQ(keyName(state, ids).text, "key3DState");
    // Neither a code (a byte below 0x20) nor a known string ID.
    EXPECT_EQ(keyName(0x01020304u, ids).text, "0x01020304");
}

TEST(DescriptorJson, EveryValueKindKeepsItsKindAndOrder) {
    IdRegistry ids;
    const HostKey paintType = ids.fromString("key3DPaintType");
    const HostKey flip = ids.fromString("flip");

    Descriptor map(fourcc("mapo"));
    map.put(fourcc("Type"), Value::fromInteger(0));
    map.put(paintType, Value::fromData({'d', 'i', 'f'}));
    Descriptor root;
    root.put(fourcc("VrsM"), Value::fromInteger(1));
    root.put(fourcc("GamR"), Value::fromFloat(0.5));
    root.put(fourcc("Gunt"), Value::fromFloat(1.0));
    root.put(flip, Value::fromBoolean(false));
    root.put(fourcc("Nm  "), Value::fromText(u"Sc\u00e8ne"));
    root.put(fourcc("mapl"), Value::fromList({Value::fromObject(fourcc("mapo"), map)}));
    root.put(fourcc("Mtrx"), Value::fromList({Value::fromFloat(1), Value::fromFloat(0)}));
    root.put(fourcc("zzzz"), Value::fromData({0xde, 0xad}));

    const Json json = descriptorToJson(root, ids);
    const Json expected = {
        {"class", ""},
        {"items",
         {{"VrsM", 1},
          {"GamR", 0.5},
          {"Gunt", 1.0},
          {"flip", false},
          {"Nm  ", "Sc\xc3\xa8ne"},
          {"mapl",
           {Json{{"class", "mapo"},
                 {"items", {{"Type", 0}, {"key3DPaintType", {{"bytes", 3}, {"text", "dif"}}}}}}}},
          {"Mtrx", {1.0, 0.0}},
          {"zzzz", {{"bytes", 2}, {"hex", "dead"}}}}}};
    EXPECT_EQ(json, expected) << jsonText(json);
    // Integers stay integers and floats stay floats in the text, so the kinds can be told apart.
    const std::string compact = descriptorText(root, ids, false);
    EXPECT_NE(compact.find("\"VrsM\":1,"), std::string::npos) << compact;
    EXPECT_NE(compact.find("\"Gunt\":1.0,"), std::string::npos) << compact;
    EXPECT_EQ(compact.find('\n'), std::string::npos) << compact;
    // Indented text holds the same document.
    const std::string pretty = descriptorText(root, ids, true);
    EXPECT_NE(pretty.find("\n  \"items\": {\n    \"VrsM\": 1,"), std::string::npos) << pretty;
    EXPECT_EQ(Json::parse(pretty), json);
}

TEST(DescriptorJson, StringIdAndCodeOfTheSameTextBothSurvive) {
    IdRegistry ids;
    const HostKey flipId = ids.fromString("flip");
    Descriptor root;
    root.put(fourcc("flip"), Value::fromInteger(1));
    root.put(flipId, Value::fromBoolean(true));
    const Json items = descriptorToJson(root, ids)["items"];
    ASSERT_EQ(items.size(), 2u) << jsonText(items);
    EXPECT_EQ(items["flip"], 1);
    EXPECT_EQ(items["flip [string ID]"], true);
}

TEST(DescriptorJson, ObjectClassFromAStringIdIsItsText) {
    IdRegistry ids;
    const HostKey state = ids.fromString("key3DState");
    Descriptor root;
    root.put(state, Value::fromObject(state, Descriptor()));
    const Json json = descriptorToJson(root, ids);
    EXPECT_EQ(json["items"]["key3DState"]["class"], "key3DState");
    EXPECT_TRUE(json["items"]["key3DState"]["items"].empty());
}

}  // namespace
}  // namespace quillmesh::tool
