#include "tools/descriptor_json.h"

#include <array>
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <string>
#include <unordered_set>

#include "platform/platform.h"
#include "tools/scene_blocks.h"

namespace quillmesh::tool {
namespace {

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
int32_t readI32(std::span<const uint8_t> bytes, std::size_t offset) {
    return loadI32(bytes.data() + offset);
}

double readF64(std::span<const uint8_t> bytes, std::size_t offset) {
    return loadF64(bytes.data() + offset);
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
            return kVectorEntryBytes;
        case BlockLayout::kUVs:
            return kUVEntryBytes;
        case BlockLayout::kPolygons:
            return kPolygonEntryBytes;
        case BlockLayout::kCorners:
            return kCornerEntryBytes;
        case BlockLayout::kText:
            return 1;
    }
    return 1;
}

void writeVectors(JsonWriter& json, std::span<const uint8_t> bytes) {
    json.beginArray();
    for (std::size_t offset = 0; offset < bytes.size(); offset += kVectorEntryBytes) {
        json.beginArray();
        json.number(readF64(bytes, offset));
        json.number(readF64(bytes, offset + 8));
        json.number(readF64(bytes, offset + 16));
        json.endArray();
    }
    json.endArray();
}

void writeUVs(JsonWriter& json, std::span<const uint8_t> bytes) {
    json.beginArray();
    for (std::size_t offset = 0; offset < bytes.size(); offset += kUVEntryBytes) {
        json.beginArray();
        json.number(readF64(bytes, offset));
        json.number(readF64(bytes, offset + 8));
        json.endArray();
    }
    json.endArray();
}

void writePolygons(JsonWriter& json, std::span<const uint8_t> bytes) {
    json.beginArray();
    for (std::size_t offset = 0; offset < bytes.size(); offset += kPolygonEntryBytes) {
        const std::span<const uint8_t> record = bytes.subspan(offset, kPolygonEntryBytes);
        json.beginObject();
        json.key("corners");
        json.integer(readI32(record, 0));
        json.key("attributeA");
        json.integer(readI32(record, 8));
        json.key("attributeB");
        json.integer(readI32(record, 12));
        json.key("material");
        json.integer(readI32(record, 16));
        const auto gap = record.subspan(kPolygonGapOffset, kPolygonGapBytes);
        const auto tail = record.subspan(kPolygonTailOffset, kPolygonTailBytes);
        if (!allZero(gap) || !allZero(tail)) {
            json.key("reserved");
            json.string(hexText(gap) + hexText(tail));
        }
        json.endObject();
    }
    json.endArray();
}

void writeCorners(JsonWriter& json, std::span<const uint8_t> bytes) {
    static constexpr const char* kFields[] = {"vertex", "normal", "uv", "auxiliary"};
    json.beginArray();
    for (std::size_t offset = 0; offset < bytes.size(); offset += kCornerEntryBytes) {
        json.beginObject();
        for (std::size_t field = 0; field < 4; ++field) {
            json.key(kFields[field]);
            json.integer(readI32(bytes, offset + 4 * field));
        }
        json.endObject();
    }
    json.endArray();
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

void writeDataBlockJson(JsonWriter& json, const KeyName& key, std::span<const uint8_t> bytes) {
    json.beginObject();
    json.key("bytes");
    json.unsignedInteger(bytes.size());
    const BlockKind* kind = findBlockKind(key);
    const std::size_t entry = kind != nullptr ? entryBytes(kind->layout) : 1;
    if (kind == nullptr || bytes.size() % entry != 0) {
        json.key("hex");
        json.string(hexText(bytes));
        if (kind != nullptr) {
            json.key("error");
            json.string("length is not a multiple of " + std::to_string(entry) + " bytes");
        }
        json.endObject();
        return;
    }
    switch (kind->layout) {
        case BlockLayout::kVectors:
            json.key("vectors");
            writeVectors(json, bytes);
            break;
        case BlockLayout::kUVs:
            json.key("uvs");
            writeUVs(json, bytes);
            break;
        case BlockLayout::kPolygons:
            json.key("polygons");
            writePolygons(json, bytes);
            break;
        case BlockLayout::kCorners:
            json.key("corners");
            writeCorners(json, bytes);
            break;
        case BlockLayout::kText:
            json.key("text");
            json.string(blockText(bytes));
            break;
    }
    json.endObject();
}

namespace {

void writeValueWithKey(JsonWriter& json, const qmhost::Value& value, const KeyName& key,
                       const qmhost::IdRegistry& ids) {
    if (value.kind() == qmhost::ValueKind::Data) {
        writeDataBlockJson(json, key, value.asData());
    } else {
        writeValueJson(json, value, ids);
    }
}

}  // namespace

void writeValueJson(JsonWriter& json, const qmhost::Value& value, const qmhost::IdRegistry& ids) {
    switch (value.kind()) {
        case qmhost::ValueKind::Integer:
            json.integer(value.asInteger());
            return;
        case qmhost::ValueKind::Float:
            json.number(value.asFloat());
            return;
        case qmhost::ValueKind::Boolean:
            json.boolean(value.asBoolean());
            return;
        case qmhost::ValueKind::Text:
            json.string(platform::toUtf8(value.asText()));
            return;
        case qmhost::ValueKind::List:
            json.beginArray();
            for (const qmhost::Value& item : value.asList()) {
                writeValueJson(json, item, ids);
            }
            json.endArray();
            return;
        case qmhost::ValueKind::Object:
            writeDescriptorJson(json, value.asObject(), ids);
            return;
        case qmhost::ValueKind::Data:
            // A block outside a descriptor (a list element) has no key to decode it by.
            writeDataBlockJson(json, KeyName{}, value.asData());
            return;
    }
    json.null();
}

void writeDescriptorJson(JsonWriter& json, const qmhost::Descriptor& descriptor,
                         const qmhost::IdRegistry& ids) {
    json.beginObject();
    json.key("class");
    json.string(descriptor.classId() == 0 ? std::string()
                                          : keyName(descriptor.classId(), ids).text);
    json.key("items");
    json.beginObject();
    std::unordered_set<std::string> names;
    for (const qmhost::Descriptor::Item& item : descriptor.items()) {
        const KeyName key = keyName(item.key, ids);
        // A string ID whose text is also a four-character code in the same descriptor is a
        // different key; it is told apart rather than written twice under one name.
        std::string name = key.text;
        if (!names.insert(name).second) {
            name += key.fromString ? " [string ID]" : " [code]";
        }
        json.key(name);
        writeValueWithKey(json, item.value, key, ids);
    }
    json.endObject();
    json.endObject();
}

}  // namespace quillmesh::tool
