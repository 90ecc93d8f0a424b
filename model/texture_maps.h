// Texture maps of materials: the map factory and the reader of one map entry in either file
// layout. Texture file names are stored as read (model/file_resolution.h resolves them).
//
// Map entries come in two layouts: the old one up to version 30 (key, kind, two ignored words,
// a flags word ORed with 0x310000, then a payload that for kinds 4 to 7 starts with a word
// replacing the flags) and the new one from version 31 (key, kind, flags as stored, offset,
// scale and angles, then the payload). Kind 4 holds image layers, kind 5 six faces, kinds 1 to 3,
// 6 and 7 one image name each; any other kind gets the kind-1 record and has no payload.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_set>

#include "model/kvt_plugin.h"

namespace quillmesh {

// The map-entry layout a file version uses.
inline bool usesNewMapLayout(int32_t version) noexcept {
    return version >= kNewMapLayoutVersion;
}

// Old kind-4 maps always hold this many layers; new ones that store fewer than one get as many.
inline constexpr int32_t kOldMapLayerCount = 3;
inline constexpr int32_t kFaceCount = 6;

// Map factory: makes the record of `kind` with its defaults (kinds outside 2 to 7 get the kind-1
// record, `kind` keeps the given value), places it in slot `slot` of the material's map table
// (releasing any map already there) and sets `key`, `kind`, mapFlags 0x310000 and the default
// offset, scale and angles. Returns the map, or null when the material has no table, `slot` is
// not below mapCount, another map in the table already has `key`, or memory runs out.
TextureMap* createTextureMap(ModelMaterial& material, int32_t slot, int32_t key,
                             int32_t kind) noexcept;

// Layer allocation of a kind-4 map: replaces its layers by `count` default layers and sets
// layerCount. Refused (false) for a count of 0 or less, a map of another kind, or when memory
// runs out.
bool allocateMapLayers(TextureMap& map, int32_t count) noexcept;

// How map entries are read in one material section.
struct MapEntryReading {
    // The model version: selects the layout and the name form.
    int32_t version = 0;
    // A new-layout kind-4 map storing fewer than one layer gets kOldMapLayerCount empty layers,
    // except in the chunked layout (version 34), where it gets none.
    bool defaultLayersWhenNoneStored = true;
    // Every map and layer made is counted here first (none can be made without it).
    MemoryBudget* memory = nullptr;
    // The keys of the maps placed so far in the material being read, when its table is too long
    // for a scan of the earlier slots per entry (see readMapEntry).
    std::unordered_set<int32_t> placedKeys;
};

class Cursor;

// Reads one map entry at the cursor into slot `slot` of `material`, as the factory would place
// it. The entries of a material are read into slots 0, 1, 2 ... in turn, so a key is refused when
// an earlier slot holds it: looked up in `reading.placedKeys` (cleared at slot 0) for tables of
// more than a few slots, so that a table of many maps is read in linear time. A refusal, a failed
// allocation or a short read returns false, leaving any map already placed in its slot.
bool readMapEntry(Cursor& cursor, MapEntryReading& reading, ModelMaterial& material,
                  int32_t slot) noexcept;

}  // namespace quillmesh
