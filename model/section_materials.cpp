// Section 3: materials. A material record (name, flags, five colours, shininess, opacity) has
// one layout in every version; the map entries after it use the old layout up to version 30 and
// the new one after (model/texture_maps.cpp). Both passes read records with readMaterialRecord:
// the counting pass into a scratch material without map table or maps, the
// decoding pass into the material array.
#include <array>
#include <exception>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "model/sections.h"
#include "model/texture_maps.h"

namespace quillmesh {
namespace {

constexpr std::size_t kMaterialColourCount = 5;
// The smallest map entry of each layout: its common fields without payload.
constexpr uint32_t kMinimumOldMapEntryBytes = 5 * 4;
constexpr uint32_t kMinimumNewMapEntryBytes = 3 * 4 + 3 * 12;

MapEntryReading mapEntryReading(const KVTPlugin& plugin, bool decoding) {
    MapEntryReading reading;
    reading.version = plugin.model.version;
    reading.decoding = decoding;
    reading.defaultLayersWhenNoneStored =
        plugin.model.version < static_cast<int32_t>(kChunkedModelVersion);
    return reading;
}

// A table of `count` empty map slots; mapCount follows it. Refused when the bytes left cannot
// hold that many entries (their reading would fail anyway) or memory runs out.
bool makeMapTable(const KVTPlugin& plugin, const MapEntryReading& reading, ModelMaterial& material,
                  int32_t count) {
    const uint32_t minimumEntry =
        usesNewMapLayout(reading.version) ? kMinimumNewMapEntryBytes : kMinimumOldMapEntryBytes;
    if (!plugin.recordsFit(count, minimumEntry) ||
        !plugin.allocationFits(static_cast<uint64_t>(count), sizeof(std::unique_ptr<TextureMap>))) {
        return false;
    }
    std::vector<std::unique_ptr<TextureMap>>().swap(material.maps);
    material.mapCount = 0;
    material.maps.resize(static_cast<std::size_t>(count));
    material.mapCount = count;
    return true;
}

// One material record with its map entries. The record's own fields are copied into `material`
// once all of them are read; the map table is made (decoding only) when the entry count is
// above 0.
bool readMaterialRecord(KVTPlugin& plugin, MapEntryReading& reading, ModelMaterial& material) {
    ModelName name;
    int32_t flags = 0;
    std::array<Rgba, kMaterialColourCount> colours{};
    float shininess = 0.0f;
    float opacity = 0.0f;
    if (!plugin.readName(name) || !plugin.readInt32(flags)) {
        return false;
    }
    for (Rgba& colour : colours) {
        if (!plugin.readRgba(colour)) {
            return false;
        }
    }
    if (!plugin.readFloat32(shininess) || !plugin.readFloat32(opacity)) {
        return false;
    }
    material.name = name;
    material.flags = flags;
    material.colours = colours;
    material.shininess = shininess;
    material.opacity = opacity;

    int32_t mapCount = 0;
    if (!plugin.readInt32(mapCount)) {
        return false;
    }
    if (mapCount <= 0) {
        return true;
    }
    if (reading.decoding && !makeMapTable(plugin, reading, material, mapCount)) {
        return false;
    }
    for (int32_t slot = 0; slot < mapCount; ++slot) {
        if (!readMapEntry(plugin, reading, &material, slot)) {
            return false;
        }
    }
    return true;
}

bool countMaterialsUnguarded(KVTPlugin& plugin) {
    ElementSlot<ModelMaterial>& slot = plugin.model.materials;
    slot.sectionStart = plugin.readCursor;
    int32_t count = 0;
    if (!plugin.readInt32(count)) {
        return false;
    }
    MapEntryReading reading = mapEntryReading(plugin, false);
    for (int32_t i = 0; i < count; ++i) {
        ModelMaterial scratch;
        if (!readMaterialRecord(plugin, reading, scratch)) {
            return false;
        }
    }
    plugin.model.declaredCount(SectionId::kMaterials) = count;
    return true;
}

bool decodeMaterialsUnguarded(KVTPlugin& plugin) {
    int32_t count = 0;
    if (!plugin.readInt32(count)) {
        return false;
    }
    MapEntryReading reading = mapEntryReading(plugin, true);
    std::vector<ModelMaterial>& materials = plugin.model.materials.items;
    if (count > 0 && static_cast<std::size_t>(count) > materials.size()) {
        return false;
    }
    for (int32_t i = 0; i < count; ++i) {
        if (!readMaterialRecord(plugin, reading, materials[static_cast<std::size_t>(i)])) {
            return false;
        }
    }
    return true;
}

}  // namespace

bool countMaterials(KVTPlugin& plugin, const ModelHeader& /*header*/) {
    try {
        return countMaterialsUnguarded(plugin);
    } catch (const std::exception&) {
        return false;
    }
}

bool decodeMaterials(KVTPlugin& plugin, const ModelHeader& /*header*/) {
    try {
        return decodeMaterialsUnguarded(plugin);
    } catch (const std::exception&) {
        return false;
    }
}

}  // namespace quillmesh
