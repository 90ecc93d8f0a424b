// Reading a module's property list (the "PIPL" resource), as a host does before
// it runs the module: what kind of plug-in it is, its name, the entry point to
// call, the files it reads and when it is enabled.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace qmhost {

struct PluginProperty {
    uint32_t vendor = 0;  // four-character code, first character in the high byte
    uint32_t key = 0;
    uint32_t id = 0;
    std::vector<uint8_t> data;
};

// The properties of a property list, or nothing when the bytes are not a
// complete list (wrong leading word, a property running past the end).
std::optional<std::vector<PluginProperty>> parsePropertyList(std::span<const uint8_t> bytes);

// The first property with `key` (vendor '8BIM'), or null.
const PluginProperty* findProperty(const std::vector<PluginProperty>& properties, uint32_t key);

// A property's data read as a four-character code stored little-endian.
std::optional<uint32_t> codeValue(const PluginProperty& property, std::size_t offset = 0);
// A property's data as a NUL-terminated text ('8664', 'enbl').
std::string textValue(const PluginProperty& property);
// A property's data as a length-prefixed text ('name').
std::string prefixedTextValue(const PluginProperty& property);
// A four-character code as text ("8BIF").
std::string codeText(uint32_t code);

// What a host shows of a property list: one "key: value" line per property.
std::string describeProperties(const std::vector<PluginProperty>& properties);

}  // namespace qmhost
