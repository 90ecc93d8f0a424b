// Texture maps: the factory, the reader of one map entry in the old or new layout, and the
// resolution of stored texture file names against the model's directory.
#include "model/texture_maps.h"

#include <array>
#include <exception>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>
#include <utility>
#include <variant>

#include "platform/platform.h"

namespace quillmesh {
namespace {

// The smallest stored layer of a new kind-4 map: an empty name's length word and three words.
constexpr uint32_t kMinimumLayerBytes = 2 + 3 * 4;

// Whether the rule of the version's layout lets an existing stored name be kept.
bool versionKeepsNames(int32_t version) {
    return usesNewMapLayout(version) ? version >= kNewLayoutKeptNameVersion
                                     : version == kOldLayoutKeptNameVersion;
}

// Counts `bytes` more against the file's allocation budget; false when they do not fit.
bool reserveBytes(const KVTPlugin& plugin, MapEntryReading& reading, uint64_t bytes) {
    const uint64_t total = reading.madeBytes + bytes;
    if (total < reading.madeBytes || !plugin.allocationFits(total, 1)) {
        return false;
    }
    reading.madeBytes = total;
    return true;
}

// Reads one texture name into `dest`. Decoding: the name is resolved against `directory`, its
// existence probed only when the version could keep it. Counting: stored as read.
bool readTextureName(KVTPlugin& plugin, const MapEntryReading& reading,
                     std::u16string_view directory, ModelName& dest) {
    ModelName stored;
    if (!plugin.readName(stored)) {
        return false;
    }
    if (!reading.decoding) {
        dest = stored;
        return true;
    }
    const bool exists = versionKeepsNames(reading.version) && textureFileExists(stored);
    return resolveTexturePath(stored, directory, reading.version, exists, dest);
}

// Old kinds 1 to 3 open their payload with a word that is read and dropped.
bool skipOldLeadingWord(KVTPlugin& plugin, const MapEntryReading& reading) {
    if (usesNewMapLayout(reading.version)) {
        return true;
    }
    int32_t ignored = 0;
    return plugin.readInt32(ignored) != 0;
}

// Old kinds 4 to 7 open their payload with a word that replaces the map's flags as read.
bool readOldFlagsWord(KVTPlugin& plugin, const MapEntryReading& reading, TextureMap& map) {
    if (usesNewMapLayout(reading.version)) {
        return true;
    }
    return plugin.readInt32(map.mapFlags) != 0;
}

bool readKind1(KVTPlugin& plugin, const MapEntryReading& reading, MapKind1Record& record) {
    return skipOldLeadingWord(plugin, reading) &&
           readTextureName(plugin, reading, reading.directory, record.fileName) &&
           plugin.readInt32(record.mode) && plugin.readFloat32(record.paramA) &&
           plugin.readFloat32(record.paramB);
}

bool readKind2(KVTPlugin& plugin, const MapEntryReading& reading, MapKind2Record& record) {
    return skipOldLeadingWord(plugin, reading) &&
           readTextureName(plugin, reading, reading.directory, record.fileName) &&
           plugin.readInt32(record.mode) && plugin.readFloat32(record.paramA) &&
           plugin.readFloat32(record.paramB) && plugin.readFloat32(record.paramC) &&
           plugin.readFloat32(record.paramD) && plugin.readInt32(record.packedValue) &&
           plugin.readInt32(record.extraValue);
}

bool readKind3(KVTPlugin& plugin, const MapEntryReading& reading, MapKind3Record& record) {
    return skipOldLeadingWord(plugin, reading) &&
           readTextureName(plugin, reading, reading.directory, record.fileName) &&
           plugin.readInt32(record.mode) && plugin.readFloat32(record.paramA) &&
           plugin.readFloat32(record.paramB) && plugin.readInt32(record.extraValue);
}

// Old kind 4: the flags word, then the three layers column by column: names, layerA values,
// layerB values, three ignored words, weights. The three layers exist before anything is read.
bool readOldKind4(KVTPlugin& plugin, MapEntryReading& reading, TextureMap& map,
                  MapKind4Record& record) {
    if (reading.decoding && !reserveBytes(plugin, reading, kOldMapLayerCount * sizeof(MapLayer))) {
        return false;
    }
    if (!allocateMapLayers(map, kOldMapLayerCount) || !readOldFlagsWord(plugin, reading, map)) {
        return false;
    }
    for (MapLayer& layer : record.layers) {
        if (!readTextureName(plugin, reading, reading.directory, layer.fileName)) {
            return false;
        }
    }
    for (MapLayer& layer : record.layers) {
        if (!plugin.readInt32(layer.layerA)) {
            return false;
        }
    }
    for (MapLayer& layer : record.layers) {
        if (!plugin.readInt32(layer.layerB)) {
            return false;
        }
    }
    for (int32_t i = 0; i < kOldMapLayerCount; ++i) {
        int32_t ignored = 0;
        if (!plugin.readInt32(ignored)) {
            return false;
        }
    }
    for (MapLayer& layer : record.layers) {
        if (!plugin.readFloat32(layer.layerWeight)) {
            return false;
        }
    }
    return true;
}

bool readLayer(KVTPlugin& plugin, const MapEntryReading& reading, MapLayer& layer) {
    // Replaced layer names keep their file-name part alone: the model's directory is the current
    // directory while the model is decoded.
    return readTextureName(plugin, reading, std::u16string_view(), layer.fileName) &&
           plugin.readInt32(layer.layerA) && plugin.readInt32(layer.layerB) &&
           plugin.readFloat32(layer.layerWeight);
}

// New kind 4: a layer count, then each layer whole. Counting reads every layer into one scratch
// layer, so a large count allocates nothing there.
bool readNewKind4(KVTPlugin& plugin, MapEntryReading& reading, TextureMap& map,
                  MapKind4Record& record) {
    int32_t layerCount = 0;
    if (!plugin.readInt32(layerCount)) {
        return false;
    }
    if (layerCount < 1) {
        if (!reading.decoding || !reading.defaultLayersWhenNoneStored) {
            return true;
        }
        return reserveBytes(plugin, reading, kOldMapLayerCount * sizeof(MapLayer)) &&
               allocateMapLayers(map, kOldMapLayerCount);
    }
    if (!reading.decoding) {
        MapLayer scratch;
        for (int32_t i = 0; i < layerCount; ++i) {
            if (!readLayer(plugin, reading, scratch)) {
                return false;
            }
        }
        return true;
    }
    // Layers the bytes left cannot hold would end in a short read: refuse them before making
    // them.
    if (!plugin.recordsFit(layerCount, kMinimumLayerBytes) ||
        !reserveBytes(plugin, reading, static_cast<uint64_t>(layerCount) * sizeof(MapLayer)) ||
        !allocateMapLayers(map, layerCount)) {
        return false;
    }
    for (MapLayer& layer : record.layers) {
        if (!readLayer(plugin, reading, layer)) {
            return false;
        }
    }
    return true;
}

// Kind 5: six face names. The old layout decides each face by itself; the new one keeps all six
// only when all six exist (and the version keeps names), else replaces all six.
bool readKind5(KVTPlugin& plugin, const MapEntryReading& reading, TextureMap& map,
               MapKind5Record& record) {
    if (!readOldFlagsWord(plugin, reading, map)) {
        return false;
    }
    if (!usesNewMapLayout(reading.version)) {
        for (ModelName& face : record.faces) {
            if (!readTextureName(plugin, reading, reading.directory, face)) {
                return false;
            }
        }
        return true;
    }
    std::array<ModelName, kFaceCount> stored;
    for (ModelName& face : stored) {
        if (!plugin.readName(face)) {
            return false;
        }
    }
    if (!reading.decoding) {
        record.faces = stored;
        return true;
    }
    bool allExist = versionKeepsNames(reading.version);
    for (const ModelName& face : stored) {
        if (!allExist) {
            break;
        }
        allExist = textureFileExists(face);
    }
    for (std::size_t i = 0; i < stored.size(); ++i) {
        if (!resolveTexturePath(stored[i], reading.directory, reading.version, allExist,
                                record.faces[i])) {
            return false;
        }
    }
    return true;
}

// Kinds 6 and 7: a file name and a mode.
template <typename Record>
bool readNameAndMode(KVTPlugin& plugin, const MapEntryReading& reading, TextureMap& map,
                     Record& record) {
    return readOldFlagsWord(plugin, reading, map) &&
           readTextureName(plugin, reading, reading.directory, record.fileName) &&
           plugin.readInt32(record.mode);
}

template <typename Record>
Record* recordOf(TextureMap& map) {
    return std::get_if<Record>(&map.record);
}

// The payload of the map's kind; a kind outside 1 to 7 has none.
bool readPayload(KVTPlugin& plugin, MapEntryReading& reading, TextureMap& map) {
    const bool newLayout = usesNewMapLayout(reading.version);
    switch (map.kind) {
        case 1: {
            MapKind1Record* record = recordOf<MapKind1Record>(map);
            return record != nullptr && readKind1(plugin, reading, *record);
        }
        case 2: {
            MapKind2Record* record = recordOf<MapKind2Record>(map);
            return record != nullptr && readKind2(plugin, reading, *record);
        }
        case 3: {
            MapKind3Record* record = recordOf<MapKind3Record>(map);
            return record != nullptr && readKind3(plugin, reading, *record);
        }
        case 4: {
            MapKind4Record* record = recordOf<MapKind4Record>(map);
            if (record == nullptr) {
                return false;
            }
            return newLayout ? readNewKind4(plugin, reading, map, *record)
                             : readOldKind4(plugin, reading, map, *record);
        }
        case 5: {
            MapKind5Record* record = recordOf<MapKind5Record>(map);
            return record != nullptr && readKind5(plugin, reading, map, *record);
        }
        case 6: {
            MapKind6Record* record = recordOf<MapKind6Record>(map);
            return record != nullptr && readNameAndMode(plugin, reading, map, *record);
        }
        case 7: {
            MapKind7Record* record = recordOf<MapKind7Record>(map);
            return record != nullptr && readNameAndMode(plugin, reading, map, *record);
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

bool readEntryHead(KVTPlugin& plugin, const MapEntryReading& reading, MapEntryHead& head) {
    if (!plugin.readInt32(head.key) || !plugin.readInt32(head.kind)) {
        return false;
    }
    if (usesNewMapLayout(reading.version)) {
        return plugin.readInt32(head.flags) && plugin.readVec3(head.offset) &&
               plugin.readVec3(head.scale) && plugin.readVec3(head.angles);
    }
    int32_t ignored = 0;
    return plugin.readInt32(ignored) && plugin.readInt32(ignored) && plugin.readInt32(head.flags);
}

bool readMapEntryUnguarded(KVTPlugin& plugin, MapEntryReading& reading, ModelMaterial* material,
                           int32_t slot) {
    MapEntryHead head;
    if (!readEntryHead(plugin, reading, head)) {
        return false;
    }
    TextureMap scratch;
    TextureMap* map = &scratch;
    if (reading.decoding) {
        if (material == nullptr || !reserveBytes(plugin, reading, sizeof(TextureMap))) {
            return false;
        }
        map = createTextureMap(*material, slot, head.key, head.kind);
        if (map == nullptr) {
            return false;
        }
    } else {
        scratch.key = head.key;
        scratch.kind = head.kind;
        scratch.record = makeMapRecord(head.kind);
    }
    if (usesNewMapLayout(reading.version)) {
        map->mapFlags = head.flags;
        map->mapOffset = head.offset;
        map->mapScale = head.scale;
        map->mapAngles = head.angles;
    } else {
        map->mapFlags = head.flags | kDefaultMapFlags;
    }
    return readPayload(plugin, reading, *map);
}

}  // namespace

std::u16string modelDirectory(std::u16string_view sourcePath) {
    platform::PathParts parts = platform::splitPath(sourcePath);
    std::u16string directory = std::move(parts.drive) + parts.directory;
    if (!directory.empty() && directory.back() != u'\\' && directory.back() != u'/') {
        directory.push_back(u'\\');
    }
    return directory;
}

TextureMap* createTextureMap(ModelMaterial& material, int32_t slot, int32_t key,
                             int32_t kind) noexcept {
    if (material.maps.empty() || slot < 0 || slot >= material.mapCount ||
        static_cast<std::size_t>(slot) >= material.maps.size()) {
        return nullptr;
    }
    for (const std::unique_ptr<TextureMap>& existing : material.maps) {
        if (existing != nullptr && existing->key == key) {
            return nullptr;
        }
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

bool textureFileExists(const ModelName& name) noexcept {
    if (name.wide().empty()) {
        return false;
    }
    try {
        return platform::fileExists(std::u16string(name.wide()));
    } catch (const std::exception&) {
        return false;
    }
}

bool resolveTexturePath(const ModelName& stored, std::u16string_view directory, int32_t version,
                        bool exists, ModelName& out) noexcept {
    try {
        if (exists && versionKeepsNames(version)) {
            out = stored;
            return true;
        }
        // `out` may be `stored` itself: take the text before replacing anything.
        const std::u16string filePart = platform::fileNamePart(stored.wide());
        if (filePart.empty()) {
            // Nothing names a file here; the bare directory would not name one either.
            out.clear();
            return true;
        }
        return out.assignWide(std::u16string(directory) + filePart);
    } catch (const std::exception&) {
        return false;
    }
}

bool readMapEntry(KVTPlugin& plugin, MapEntryReading& reading, ModelMaterial* material,
                  int32_t slot) noexcept {
    try {
        return readMapEntryUnguarded(plugin, reading, material, slot);
    } catch (const std::exception&) {
        return false;
    }
}

}  // namespace quillmesh
