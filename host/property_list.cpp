#include "host/property_list.h"

#include <cstdio>

#include "hostapi/host_api.h"

namespace qmhost {

namespace {

constexpr uint32_t kVendor = HOST_FOURCC('8', 'B', 'I', 'M');

uint32_t readU32(std::span<const uint8_t> bytes, std::size_t at) {
    return uint32_t{bytes[at]} | uint32_t{bytes[at + 1]} << 8 | uint32_t{bytes[at + 2]} << 16 |
           uint32_t{bytes[at + 3]} << 24;
}

uint16_t readU16(std::span<const uint8_t> bytes, std::size_t at) {
    return static_cast<uint16_t>(bytes[at] | bytes[at + 1] << 8);
}

// `text` between two `quote` characters. Appended piece by piece: mingw-w64's GCC 12 warns
// falsely about operator+ on a literal and a string.
std::string quoted(char quote, const std::string& text) {
    std::string out(1, quote);
    out.append(text);
    out.push_back(quote);
    return out;
}

}  // namespace

std::optional<std::vector<PluginProperty>> parsePropertyList(std::span<const uint8_t> bytes) {
    constexpr std::size_t kHeader = 2 + 4 + 4;
    constexpr std::size_t kPropertyHeader = 16;
    if (bytes.size() < kHeader || readU16(bytes, 0) != 1) {
        return std::nullopt;
    }
    const uint32_t count = readU32(bytes, 6);
    std::vector<PluginProperty> properties;
    std::size_t at = kHeader;
    for (uint32_t index = 0; index < count; ++index) {
        if (bytes.size() - at < kPropertyHeader) {
            return std::nullopt;
        }
        PluginProperty property;
        property.vendor = readU32(bytes, at);
        property.key = readU32(bytes, at + 4);
        property.id = readU32(bytes, at + 8);
        const uint32_t length = readU32(bytes, at + 12);
        at += kPropertyHeader;
        if (length > bytes.size() - at) {
            return std::nullopt;
        }
        property.data.assign(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                             bytes.begin() + static_cast<std::ptrdiff_t>(at + length));
        at += length;
        properties.push_back(std::move(property));
    }
    return properties;
}

const PluginProperty* findProperty(const std::vector<PluginProperty>& properties, uint32_t key) {
    for (const PluginProperty& property : properties) {
        if (property.vendor == kVendor && property.key == key) {
            return &property;
        }
    }
    return nullptr;
}

std::optional<uint32_t> codeValue(const PluginProperty& property, std::size_t offset) {
    if (property.data.size() < 4 || offset > property.data.size() - 4) {
        return std::nullopt;
    }
    return readU32(property.data, offset);
}

std::string textValue(const PluginProperty& property) {
    std::string text;
    for (uint8_t byte : property.data) {
        if (byte == 0) {
            break;
        }
        text.push_back(static_cast<char>(byte));
    }
    return text;
}

std::string prefixedTextValue(const PluginProperty& property) {
    if (property.data.empty()) {
        return {};
    }
    const std::size_t length = std::min<std::size_t>(property.data[0], property.data.size() - 1);
    return std::string(property.data.begin() + 1,
                       property.data.begin() + 1 + static_cast<std::ptrdiff_t>(length));
}

std::string codeText(uint32_t code) {
    std::string text;
    for (int shift = 24; shift >= 0; shift -= 8) {
        const char c = static_cast<char>((code >> shift) & 0xFF);
        text.push_back(c >= 0x20 && c < 0x7F ? c : '?');
    }
    return text;
}

std::string describeProperties(const std::vector<PluginProperty>& properties) {
    std::string out;
    auto line = [&out](const char* label, const std::string& value) {
        out += label;
        out += value;
        out += '\n';
    };
    auto code = [&](uint32_t key, std::size_t offset = 0) -> std::string {
        const PluginProperty* property = findProperty(properties, key);
        std::optional<uint32_t> value =
            property != nullptr ? codeValue(*property, offset) : std::nullopt;
        return value ? quoted('\'', codeText(*value)) : std::string("(none)");
    };
    auto text = [&](uint32_t key) -> std::string {
        const PluginProperty* property = findProperty(properties, key);
        return property != nullptr ? quoted('"', textValue(*property)) : std::string("(none)");
    };
    const PluginProperty* name = findProperty(properties, HOST_FOURCC('n', 'a', 'm', 'e'));
    line("kind:        ", code(HOST_FOURCC('k', 'i', 'n', 'd')));
    line("name:        ",
         name != nullptr ? quoted('"', prefixedTextValue(*name)) : std::string("(none)"));
    line("entry point: ", text(HOST_FOURCC('8', '6', '6', '4')));
    line("enabled if:  ", text(HOST_FOURCC('e', 'n', 'b', 'l')));
    std::string fileType = code(HOST_FOURCC('f', 'm', 'T', 'C'));
    fileType.append(" creator ");
    fileType.append(code(HOST_FOURCC('f', 'm', 'T', 'C'), 4));
    line("file type:   ", fileType);
    const PluginProperty* extensions = findProperty(properties, HOST_FOURCC('R', 'd', 'E', 'x'));
    std::string extensionText = "(none)";
    if (extensions != nullptr) {
        // Extensions are stored in file order, not as little-endian codes.
        extensionText.clear();
        for (std::size_t at = 0; at + 4 <= extensions->data.size(); at += 4) {
            std::string one(extensions->data.begin() + static_cast<std::ptrdiff_t>(at),
                            extensions->data.begin() + static_cast<std::ptrdiff_t>(at + 4));
            while (!one.empty() && (one.back() == ' ' || one.back() == '\0')) {
                one.pop_back();
            }
            extensionText.append(extensionText.empty() ? "." : ", .");
            extensionText.append(one);
        }
    }
    line("extensions:  ", extensionText);
    char count[32];
    std::snprintf(count, sizeof count, "%zu", properties.size());
    line("properties:  ", count);
    return out;
}

}  // namespace qmhost
