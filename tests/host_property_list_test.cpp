// Our host's reading of a property list: what it accepts, what it refuses, and
// what it makes of the properties a host looks at.
#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "host/property_list.h"

namespace {

using Bytes = std::vector<uint8_t>;

void put16(Bytes& out, uint16_t value) {
    out.push_back(static_cast<uint8_t>(value));
    out.push_back(static_cast<uint8_t>(value >> 8));
}

void put32(Bytes& out, uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8) {
        out.push_back(static_cast<uint8_t>(value >> shift));
    }
}

uint32_t code(const char (&text)[5]) {
    return uint32_t{static_cast<uint8_t>(text[0])} << 24 |
           uint32_t{static_cast<uint8_t>(text[1])} << 16 |
           uint32_t{static_cast<uint8_t>(text[2])} << 8 | uint32_t{static_cast<uint8_t>(text[3])};
}

struct Property {
    uint32_t key;
    Bytes data;
};

// A list with `count` in its header (default: the number of properties) and
// every property's stored length as given by `lengthDelta` added to the real one.
Bytes propertyList(const std::vector<Property>& properties, std::optional<uint32_t> count = {},
                   int64_t lengthDelta = 0, uint16_t leading = 1) {
    Bytes out;
    put16(out, leading);
    put32(out, 0);
    put32(out, count.value_or(static_cast<uint32_t>(properties.size())));
    for (const Property& property : properties) {
        put32(out, code("8BIM"));
        put32(out, property.key);
        put32(out, 0);
        put32(out, static_cast<uint32_t>(static_cast<int64_t>(property.data.size()) + lengthDelta));
        out.insert(out.end(), property.data.begin(), property.data.end());
    }
    return out;
}

Bytes text(const std::string& value, std::size_t padded) {
    Bytes out(value.begin(), value.end());
    out.resize(padded, 0);
    return out;
}

const std::vector<Property> kProperties = {
    {code("kind"), {'F', 'I', 'B', '8'}},
    {code("name"), {4, 'Q', 'u', 'i', 'l', 0, 0, 0}},
    {code("8664"), text("PluginMain", 12)},
    {code("fmTC"), {' ', 't', 'v', 'k', 'M', 'I', 'B', '8'}},
    {code("RdEx"), {'k', 'v', 't', ' ', 'o', 'b', 'j', ' '}},
};

TEST(PropertyListTest, ReadsEveryPropertyAndDescribesWhatAHostLooksAt) {
    const auto properties = qmhost::parsePropertyList(propertyList(kProperties));
    ASSERT_TRUE(properties.has_value());
    ASSERT_EQ(properties->size(), kProperties.size());
    const qmhost::PluginProperty* entry = qmhost::findProperty(*properties, code("8664"));
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(qmhost::textValue(*entry), "PluginMain");
    EXPECT_EQ(qmhost::codeValue(*entry, 9), std::nullopt) << "a code past the data";
    EXPECT_EQ(qmhost::findProperty(*properties, code("enbl")), nullptr);

    const std::string described = qmhost::describeProperties(*properties);
    for (const char* line :
         {"kind:        '8BIF'\n", "name:        \"Quil\"\n", "entry point: \"PluginMain\"\n",
          "enabled if:  (none)\n", "file type:   'kvt ' creator '8BIM'\n",
          "extensions:  .kvt, .obj\n", "properties:  5\n"}) {
        EXPECT_NE(described.find(line), std::string::npos) << line << "in:\n" << described;
    }
}

TEST(PropertyListTest, RefusesListsThatAreNotWhole) {
    struct Case {
        const char* what;
        Bytes bytes;
    };
    Bytes cut = propertyList(kProperties);
    cut.pop_back();
    const Case cases[] = {
        {"empty", {}},
        {"header cut short", Bytes{1, 0, 0, 0, 0, 0, 1, 0, 0}},
        {"leading word 2", propertyList(kProperties, {}, 0, 2)},
        {"last property cut by a byte", cut},
        {"count beyond the properties", propertyList(kProperties, 6)},
        {"a length past the end", propertyList({{code("kind"), {1, 2, 3, 4}}}, {}, 1)},
        {"a length near 2^32", propertyList({{code("kind"), {1, 2, 3, 4}}}, {}, 0xFFFFFFF0)},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(qmhost::parsePropertyList(c.bytes), std::nullopt) << c.what;
    }
    // Fewer properties than stored is fine: the rest is not read.
    EXPECT_EQ(qmhost::parsePropertyList(propertyList(kProperties, 2))->size(), 2u);
}

}  // namespace
