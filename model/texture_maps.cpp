// Texture maps: the factory and the reader of one map entry in the old or new layout.
#include "model/texture_maps.h"

#include "model/cursor.h"

#include <algorithm>
#include <array>
#include <exception>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>
#include <utility>
#include <variant>

namespace quillmesh {
namespace {

// The smallest stored layer of a new kind-4 map: an empty name's length word and three words.
constexpr uint32_t kMinimumLayerBytes = 2 + 3 * 4;
// Tables of up to this many slots are scanned for a repeated key; longer ones use a hash set.
constexpr int32_t kScannedMapTableSlots = 16;

// The factory without its check for a repeated key: places a fresh map of `kind` in `slot`.
TextureMap* placeTextureMap(ModelMaterial& material, int32_t slot, int32_t key,
                            int32_t kind) noexcept {
    if (material.maps.empty() || slot < 0 || slot >= material.mapCount ||
        static_cast<std::size_t>(slot) >= material.maps.size()) {
        return nullptr;
    }
    try {
        auto map = std::make_unique<TextureMap>();
        map->record = makeMapRecord(kind);
        map->key = key;
        map->kind = kind;
        map->mapFlags = kDefaultMapFlags;
        map->mapOffset = Vec3{};
        map->mapScale = Vec3{1.0f, 1.0f, 1.0f};
        map->mapAngles = Vec3{};
        std::unique_ptr<TextureMap>& target = material.maps[static_cast<std::size_t>(slot)];
        target = std::move(map);
        return target.get();
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

// Counts `bytes` more against the file's budget; false when they do not fit.
bool reserveBytes(MapEntryReading& reading, uint64_t bytes) {
    return reading.memory != nullptr && reading.memory->take(1, bytes);
}

// Texture names are stored as read; the resolve stage decides later whether each is kept.
bool readTextureName(Cursor& cursor, const MapEntryReading& reading, ModelName& dest) {
    return cursor.readName(dest, usesWideNames(reading.version));
}

// Old kinds 1 to 3 open their payload with a word that is read and dropped.
bool skipOldLeadingWord(Cursor& cursor, const MapEntryReading& reading) {
    if (usesNewMapLayout(reading.version)) {
        return true;
    }
    int32_t ignored = 0;
    return cursor.readI32(ignored);
}

// Old kinds 4 to 7 open their payload with a word that replaces the map's flags as read.
bool readOldFlagsWord(Cursor& cursor, const MapEntryReading& reading, TextureMap& map) {
    if (usesNewMapLayout(reading.version)) {
        return true;
    }
    return cursor.readI32(map.mapFlags);
}

bool readKind1(Cursor& cursor, const MapEntryReading& reading, MapKind1Record& record) {
    return skipOldLeadingWord(cursor, reading) &&
           readTextureName(cursor, reading, record.fileName) && cursor.readI32(record.mode) &&
           cursor.readF32(record.paramA) && cursor.readF32(record.paramB);
}

bool readKind2(Cursor& cursor, const MapEntryReading& reading, MapKind2Record& record) {
    return skipOldLeadingWord(cursor, reading) &&
           readTextureName(cursor, reading, record.fileName) && cursor.readI32(record.mode) &&
           cursor.readF32(record.paramA) && cursor.readF32(record.paramB) &&
           cursor.readF32(record.paramC) && cursor.readF32(record.paramD) &&
           cursor.readI32(record.packedValue) && cursor.readI32(record.extraValue);
}

bool readKind3(Cursor& cursor, const MapEntryReading& reading, MapKind3Record& record) {
    return skipOldLeadingWord(cursor, reading) &&
           readTextureName(cursor, reading, record.fileName) && cursor.readI32(record.mode) &&
           cursor.readF32(record.paramA) && cursor.readF32(record.paramB) &&
           cursor.readI32(record.extraValue);
}

// Old kind 4: the flags word, then the three layers column by column: names, layerA values,
// layerB values, three ignored words, weights. The three layers exist before anything is read.
bool readOldKind4(Cursor& cursor, MapEntryReading& reading, TextureMap& map,
                  MapKind4Record& record) {
    if (!reserveBytes(reading, kOldMapLayerCount * sizeof(MapLayer))) {
        return false;
    }
    if (!allocateMapLayers(map, kOldMapLayerCount) || !readOldFlagsWord(cursor, reading, map)) {
        return false;
    }
    for (MapLayer& layer : record.layers) {
        if (!readTextureName(cursor, reading, layer.fileName)) {
            return false;
        }
    }
    for (MapLayer& layer : record.layers) {
        if (!cursor.readI32(layer.layerA)) {
            return false;
        }
    }
    for (MapLayer& layer : record.layers) {
        if (!cursor.readI32(layer.layerB)) {
            return false;
        }
    }
    for (int32_t i = 0; i < kOldMapLayerCount; ++i) {
        int32_t ignored = 0;
        if (!cursor.readI32(ignored)) {
            return false;
        }
    }
    for (MapLayer& layer : record.layers) {
        if (!cursor.readF32(layer.layerWeight)) {
            return false;
        }
    }
    return true;
}

bool readLayer(Cursor& cursor, const MapEntryReading& reading, MapLayer& layer) {
    return readTextureName(cursor, reading, layer.fileName) && cursor.readI32(layer.layerA) &&
           cursor.readI32(layer.layerB) && cursor.readF32(layer.layerWeight);
}

// New kind 4: a layer count, then each layer whole.
bool readNewKind4(Cursor& cursor, MapEntryReading& reading, TextureMap& map,
                  MapKind4Record& record) {
    int32_t layerCount = 0;
    if (!cursor.readI32(layerCount)) {
        return false;
    }
    if (layerCount < 1) {
        if (!reading.defaultLayersWhenNoneStored) {
            return true;
        }
        return reserveBytes(reading, kOldMapLayerCount * sizeof(MapLayer)) &&
               allocateMapLayers(map, kOldMapLayerCount);
    }
    // Layers the bytes left cannot hold would end in a short read: refuse them before making
    // them.
    if (!cursor.fits(layerCount, kMinimumLayerBytes) ||
        !reserveBytes(reading, static_cast<uint64_t>(layerCount) * sizeof(MapLayer)) ||
        !allocateMapLayers(map, layerCount)) {
        return false;
    }
    for (MapLayer& layer : record.layers) {
        if (!readLayer(cursor, reading, layer)) {
            return false;
        }
    }
    return true;
}

// Kind 5: six face names.
bool readKind5(Cursor& cursor, const MapEntryReading& reading, TextureMap& map,
               MapKind5Record& record) {
    if (!readOldFlagsWord(cursor, reading, map)) {
        return false;
    }
    for (ModelName& face : record.faces) {
        if (!readTextureName(cursor, reading, face)) {
            return false;
        }
    }
    return true;
}

// Kinds 6 and 7: a file name and a mode.
template <typename Record>
bool readNameAndMode(Cursor& cursor, const MapEntryReading& reading, TextureMap& map,
                     Record& record) {
    return readOldFlagsWord(cursor, reading, map) &&
           readTextureName(cursor, reading, record.fileName) && cursor.readI32(record.mode);
}

template <typename Record>
Record* recordOf(TextureMap& map) {
    return std::get_if<Record>(&map.record);
}

// The payload of the map's kind; a kind outside 1 to 7 has none.
bool readPayload(Cursor& cursor, MapEntryReading& reading, TextureMap& map) {
    const bool newLayout = usesNewMapLayout(reading.version);
    switch (map.kind) {
        case 1: {
            MapKind1Record* record = recordOf<MapKind1Record>(map);
            return record != nullptr && readKind1(cursor, reading, *record);
        }
        case 2: {
            MapKind2Record* record = recordOf<MapKind2Record>(map);
            return record != nullptr && readKind2(cursor, reading, *record);
        }
        case 3: {
            MapKind3Record* record = recordOf<MapKind3Record>(map);
            return record != nullptr && readKind3(cursor, reading, *record);
        }
        case 4: {
            MapKind4Record* record = recordOf<MapKind4Record>(map);
            if (record == nullptr) {
                return false;
            }
            return newLayout ? readNewKind4(cursor, reading, map, *record)
                             : readOldKind4(cursor, reading, map, *record);
        }
        case 5: {
            MapKind5Record* record = recordOf<MapKind5Record>(map);
            return record != nullptr && readKind5(cursor, reading, map, *record);
        }
        case 6: {
            MapKind6Record* record = recordOf<MapKind6Record>(map);
            return record != nullptr && readNameAndMode(cursor, reading, map, *record);
        }
        case 7: {
            MapKind7Record* record = recordOf<MapKind7Record>(map);
            return record != nullptr && readNameAndMode(cursor, reading, map, *record);
        }
        default:
            return true;
    }
}

// The common fields before the payload.
struct MapEntryHead {
    int32_t key = 0;
    int32_t kind = 0;
    int32_t flags = 0;
    Vec3 offset;
    Vec3 scale{1.0f, 1.0f, 1.0f};
    Vec3 angles;
};

bool readEntryHead(Cursor& cursor, const MapEntryReading& reading, MapEntryHead& head) {
    if (!cursor.readI32(head.key) || !cursor.readI32(head.kind)) {
        return false;
    }
    if (usesNewMapLayout(reading.version)) {
        return cursor.readI32(head.flags) && cursor.readVec3(head.offset) &&
               cursor.readVec3(head.scale) && cursor.readVec3(head.angles);
    }
    int32_t ignored = 0;
    return cursor.readI32(ignored) && cursor.readI32(ignored) && cursor.readI32(head.flags);
}

// Whether no earlier slot of the table holds a map with `key`. Short tables are scanned; longer
// ones keep their keys in a hash set, which this call fills.
bool keyIsFree(MapEntryReading& reading, const ModelMaterial& material, int32_t slot, int32_t key) {
    if (material.mapCount <= kScannedMapTableSlots) {
        const auto earlier = static_cast<std::size_t>(std::max(slot, 0));
        for (std::size_t i = 0; i < earlier && i < material.maps.size(); ++i) {
            const std::unique_ptr<TextureMap>& existing = material.maps[i];
            if (existing != nullptr && existing->key == key) {
                return false;
            }
        }
        return true;
    }
    if (slot == 0) {
        reading.placedKeys.clear();
    }
    return reading.placedKeys.insert(key).second;
}

bool readMapEntryUnguarded(Cursor& cursor, MapEntryReading& reading, ModelMaterial& material,
                           int32_t slot) {
    MapEntryHead head;
    if (!readEntryHead(cursor, reading, head)) {
        return false;
    }
    if (!reserveBytes(reading, sizeof(TextureMap))) {
        return false;
    }
    if (!keyIsFree(reading, material, slot, head.key)) {
        return false;
    }
    TextureMap* map = placeTextureMap(material, slot, head.key, head.kind);
    if (map == nullptr) {
        return false;
    }
    if (usesNewMapLayout(reading.version)) {
        map->mapFlags = head.flags;
        map->mapOffset = head.offset;
        map->mapScale = head.scale;
        map->mapAngles = head.angles;
    } else {
        map->mapFlags = head.flags | kDefaultMapFlags;
    }
    return readPayload(cursor, reading, *map);
}

}  // namespace

TextureMap* createTextureMap(ModelMaterial& material, int32_t slot, int32_t key,
                             int32_t kind) noexcept {
    for (const std::unique_ptr<TextureMap>& existing : material.maps) {
        if (existing != nullptr && existing->key == key) {
            return nullptr;
        }
    }
    return placeTextureMap(material, slot, key, kind);
}

bool allocateMapLayers(TextureMap& map, int32_t count) noexcept {
    MapKind4Record* record = std::get_if<MapKind4Record>(&map.record);
    if (record == nullptr || count <= 0) {
        return false;
    }
    std::vector<MapLayer>().swap(record->layers);
    record->layerCount = 0;
    try {
        record->layers.resize(static_cast<std::size_t>(count));
    } catch (const std::bad_alloc&) {
        return false;
    } catch (const std::length_error&) {
        return false;
    }
    record->layerCount = count;
    return true;
}

bool readMapEntry(Cursor& cursor, MapEntryReading& reading, ModelMaterial& material,
                  int32_t slot) noexcept {
    try {
        return readMapEntryUnguarded(cursor, reading, material, slot);
    } catch (const std::exception&) {
        return false;
    }
}

}  // namespace quillmesh
