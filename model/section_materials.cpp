// Section 3: materials. A material record (name, flags, five colours, shininess, opacity) has
// one layout in every version; the map entries after it use the old layout up to version 30 and
// the new one after (model/texture_maps.cpp).
#include <memory>

#include "model/sections.h"
#include "model/texture_maps.h"

namespace quillmesh {
namespace {

// The smallest material record: an empty name, flags, colours, shininess, opacity, map count.
constexpr std::size_t kMaterialBytes = 2 + 4 + 5 * 16 + 8 + 4;
// The smallest map entry of each layout: its common fields without payload.
constexpr std::size_t kMinimumOldMapEntryBytes = 5 * 4;
constexpr std::size_t kMinimumNewMapEntryBytes = 3 * 4 + 3 * 12;

bool readMaterial(Cursor& cursor, const SectionFormat& format, MapEntryReading& reading,
                  ModelMaterial& material) {
    if (!cursor.readName(material.name, format.wideNames()) || !cursor.readI32(material.flags)) {
        return false;
    }
    for (Rgba& colour : material.colours) {
        if (!cursor.readRgba(colour)) {
            return false;
        }
    }
    int32_t mapCount = 0;
    if (!cursor.readF32(material.shininess) || !cursor.readF32(material.opacity) ||
        !cursor.readI32(mapCount)) {
        return false;
    }
    if (mapCount <= 0) {
        return true;
    }
    // A table of mapCount empty slots, refused when the bytes left cannot hold that many entries.
    const std::size_t minimumEntry =
        usesNewMapLayout(format.version) ? kMinimumNewMapEntryBytes : kMinimumOldMapEntryBytes;
    if (!cursor.fits(mapCount, minimumEntry) ||
        !format.take(static_cast<uint64_t>(mapCount), sizeof(std::unique_ptr<TextureMap>))) {
        return false;
    }
    material.maps.resize(static_cast<std::size_t>(mapCount));
    material.mapCount = mapCount;
    for (int32_t slot = 0; slot < mapCount; ++slot) {
        if (!readMapEntry(cursor, reading, material, slot)) {
            return false;
        }
    }
    return true;
}

}  // namespace

bool readMaterials(Cursor& cursor, const SectionFormat& format, ModelData& model,
                   DeclaredCounts& declared) {
    MapEntryReading reading;
    reading.version = format.version;
    reading.defaultLayersWhenNoneStored =
        format.version < static_cast<int32_t>(kChunkedModelVersion);
    reading.memory = format.memory;
    return readSection(cursor, format, kMaterialBytes, model.materials, declared.materials,
                       [&](Cursor& c, ModelMaterial& material, int32_t) {
                           return readMaterial(c, format, reading, material);
                       });
}

}  // namespace quillmesh
