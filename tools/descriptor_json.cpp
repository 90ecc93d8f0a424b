#include "tools/descriptor_json.h"

#include <array>
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdio>

#include "platform/platform.h"

namespace quillmesh::tool {
namespace {

constexpr std::size_t kVectorBytes = 24;
constexpr std::size_t kUVBytes = 16;
constexpr std::size_t kPolygonBytes = 36;
constexpr std::size_t kCornerBytes = 16;
// Reserved parts of a polygon record: bytes 4..7 and 20..35.
constexpr std::size_t kPolygonGapOffset = 4;
constexpr std::size_t kPolygonGapBytes = 4;
constexpr std::size_t kPolygonTailOffset = 20;
constexpr std::size_t kPolygonTailBytes = 16;

enum class BlockLayout { kVectors, kUVs, kPolygons, kCorners, kText };

struct BlockKind {
    std::string_view key;
    bool fromString;
    BlockLayout layout;
};

constexpr BlockKind kBlockKinds[] = {
    {"verl", false, BlockLayout::kVectors},
    {"nrml", false, BlockLayout::kVectors},
    {"lnfl", false, BlockLayout::kVectors},
    {"lncl", false, BlockLayout::kVectors},
    {"vnvl", false, BlockLayout::kVectors},
    {"uvl ", false, BlockLayout::kUVs},
    {"facl", false, BlockLayout::kPolygons},
    {"faci", false, BlockLayout::kCorners},
    {"LyrN", false, BlockLayout::kText},
    {"key3DPaintType", true, BlockLayout::kText},
    {"keyPreservationExtra", true, BlockLayout::kText},
    {"keyPreservationController", true, BlockLayout::kText},
    {"keyPreservationAnimations", true, BlockLayout::kText},
    {"keyPreservationEffectProfiles", true, BlockLayout::kText},
};

const BlockKind* findBlockKind(const KeyName& key) {
    for (const BlockKind& kind : kBlockKinds) {
        if (kind.key == key.text && kind.fromString == key.fromString) {
            return &kind;
        }
    }
    return nullptr;
}

// Callers keep every read inside the block: offset + width <= bytes.size().
uint32_t readU32(std::span<const uint8_t> bytes, std::size_t offset) {
    uint32_t value = 0;
    for (std::size_t i = 0; i < 4; ++i) {
        value |= static_cast<uint32_t>(bytes[offset + i]) << (8 * i);
    }
    return value;
}

int32_t readI32(std::span<const uint8_t> bytes, std::size_t offset) {
    return static_cast<int32_t>(readU32(bytes, offset));
}

double readF64(std::span<const uint8_t> bytes, std::size_t offset) {
    uint64_t bits = 0;
    for (std::size_t i = 0; i < 8; ++i) {
        bits |= static_cast<uint64_t>(bytes[offset + i]) << (8 * i);
    }
    return std::bit_cast<double>(bits);
}

// JSON has no NaN or infinities; they become strings rather than null, so no value is lost.
Json number(double value) {
    if (std::isnan(value)) {
        return "NaN";
    }
    if (std::isinf(value)) {
        return value > 0 ? "Infinity" : "-Infinity";
    }
    return value;
}

std::string hexText(std::span<const uint8_t> bytes) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text;
    text.reserve(bytes.size() * 2);
    for (const uint8_t byte : bytes) {
        text.push_back(kDigits[byte >> 4]);
        text.push_back(kDigits[byte & 0xF]);
    }
    return text;
}

bool allZero(std::span<const uint8_t> bytes) {
    for (const uint8_t byte : bytes) {
        if (byte != 0) {
            return false;
        }
    }
    return true;
}

std::size_t entryBytes(BlockLayout layout) {
    switch (layout) {
        case BlockLayout::kVectors:
            return kVectorBytes;
        case BlockLayout::kUVs:
            return kUVBytes;
        case BlockLayout::kPolygons:
            return kPolygonBytes;
        case BlockLayout::kCorners:
            return kCornerBytes;
        case BlockLayout::kText:
            return 1;
    }
    return 1;
}

Json decodeVectors(std::span<const uint8_t> bytes) {
    Json vectors = Json::array();
    for (std::size_t offset = 0; offset < bytes.size(); offset += kVectorBytes) {
        vectors.push_back(
            Json::array({number(readF64(bytes, offset)), number(readF64(bytes, offset + 8)),
                         number(readF64(bytes, offset + 16))}));
    }
    return vectors;
}

Json decodeUVs(std::span<const uint8_t> bytes) {
    Json uvs = Json::array();
    for (std::size_t offset = 0; offset < bytes.size(); offset += kUVBytes) {
        uvs.push_back(
            Json::array({number(readF64(bytes, offset)), number(readF64(bytes, offset + 8))}));
    }
    return uvs;
}

Json decodePolygons(std::span<const uint8_t> bytes) {
    Json polygons = Json::array();
    for (std::size_t offset = 0; offset < bytes.size(); offset += kPolygonBytes) {
        const std::span<const uint8_t> record = bytes.subspan(offset, kPolygonBytes);
        Json polygon = Json::object();
        polygon["corners"] = readI32(record, 0);
        polygon["attributeA"] = readI32(record, 8);
        polygon["attributeB"] = readI32(record, 12);
        polygon["material"] = readI32(record, 16);
        const auto gap = record.subspan(kPolygonGapOffset, kPolygonGapBytes);
        const auto tail = record.subspan(kPolygonTailOffset, kPolygonTailBytes);
        if (!allZero(gap) || !allZero(tail)) {
            polygon["reserved"] = hexText(gap) + hexText(tail);
        }
        polygons.push_back(std::move(polygon));
    }
    return polygons;
}

Json decodeCorners(std::span<const uint8_t> bytes) {
    Json corners = Json::array();
    for (std::size_t offset = 0; offset < bytes.size(); offset += kCornerBytes) {
        Json corner = Json::object();
        corner["vertex"] = readI32(bytes, offset);
        corner["normal"] = readI32(bytes, offset + 4);
        corner["uv"] = readI32(bytes, offset + 8);
        corner["auxiliary"] = readI32(bytes, offset + 12);
        corners.push_back(std::move(corner));
    }
    return corners;
}

// The scene writer puts narrow text, UTF-8 on the systems this tool runs on; malformed
// sequences become U+FFFD.
std::string blockText(std::span<const uint8_t> bytes) {
    const std::string_view raw(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    return platform::toUtf8(platform::fromUtf8(raw));
}

}  // namespace

KeyName keyName(HostKey key, const qmhost::IdRegistry& ids) {
    if (const std::string* text = ids.textOf(key)) {
        return {*text, true};
    }
    if (qmhost::isFourCharCode(key)) {
        std::string text(4, ' ');
        for (std::size_t i = 0; i < 4; ++i) {
            text[i] = static_cast<char>((key >> (24 - 8 * i)) & 0xFFu);
        }
        return {text, false};
    }
    std::array<char, 11> text{};
    std::snprintf(text.data(), text.size(), "0x%08X", static_cast<unsigned>(key));
    return {text.data(), false};
}

Json dataBlockToJson(const KeyName& key, std::span<const uint8_t> bytes) {
    Json block = Json::object();
    block["bytes"] = bytes.size();
    const BlockKind* kind = findBlockKind(key);
    if (kind == nullptr) {
        block["hex"] = hexText(bytes);
        return block;
    }
    const std::size_t entry = entryBytes(kind->layout);
    if (bytes.size() % entry != 0) {
        block["hex"] = hexText(bytes);
        block["error"] = "length is not a multiple of " + std::to_string(entry) + " bytes";
        return block;
    }
    switch (kind->layout) {
        case BlockLayout::kVectors:
            block["vectors"] = decodeVectors(bytes);
            break;
        case BlockLayout::kUVs:
            block["uvs"] = decodeUVs(bytes);
            break;
        case BlockLayout::kPolygons:
            block["polygons"] = decodePolygons(bytes);
            break;
        case BlockLayout::kCorners:
            block["corners"] = decodeCorners(bytes);
            break;
        case BlockLayout::kText:
            block["text"] = blockText(bytes);
            break;
    }
    return block;
}

namespace {

Json valueWithKey(const qmhost::Value& value, const KeyName& key, const qmhost::IdRegistry& ids) {
    if (value.kind() == qmhost::ValueKind::Data) {
        return dataBlockToJson(key, value.asData());
    }
    return valueToJson(value, ids);
}

}  // namespace

Json valueToJson(const qmhost::Value& value, const qmhost::IdRegistry& ids) {
    switch (value.kind()) {
        case qmhost::ValueKind::Integer:
            return value.asInteger();
        case qmhost::ValueKind::Float:
            return number(value.asFloat());
        case qmhost::ValueKind::Boolean:
            return value.asBoolean();
        case qmhost::ValueKind::Text:
            return platform::toUtf8(value.asText());
        case qmhost::ValueKind::List: {
            Json items = Json::array();
            for (const qmhost::Value& item : value.asList()) {
                items.push_back(valueToJson(item, ids));
            }
            return items;
        }
        case qmhost::ValueKind::Object:
            return descriptorToJson(value.asObject(), ids);
        case qmhost::ValueKind::Data:
            // A block outside a descriptor (a list element) has no key to decode it by.
            return dataBlockToJson(KeyName{}, value.asData());
    }
    return nullptr;
}

Json descriptorToJson(const qmhost::Descriptor& descriptor, const qmhost::IdRegistry& ids) {
    Json json = Json::object();
    json["class"] =
        descriptor.classId() == 0 ? std::string() : keyName(descriptor.classId(), ids).text;
    Json items = Json::object();
    for (const qmhost::Descriptor::Item& item : descriptor.items()) {
        const KeyName key = keyName(item.key, ids);
        // A string ID whose text is also a four-character code in the same descriptor is a
        // different key; it is told apart rather than overwriting the other.
        std::string name = key.text;
        if (items.contains(name)) {
            name += key.fromString ? " [string ID]" : " [code]";
        }
        items[name] = valueWithKey(item.value, key, ids);
    }
    json["items"] = std::move(items);
    return json;
}

std::string jsonText(const Json& json) {
    return json.dump(2, ' ', false, Json::error_handler_t::replace);
}

}  // namespace quillmesh::tool
