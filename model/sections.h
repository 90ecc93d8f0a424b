// The section decoders of a ModelFile body, shared by the classic reader (versions 6 to 33, the
// ten sections in file order) and the chunked reader (version 34, one section per chunk).
//
// Every decoder reads a section's int32 count and that many records straight into place: the
// count is checked against the bytes left (count times the record's smallest size) and against
// the file's allocation budget before anything is reserved, and each element receives its
// array's defaults before its record is read. A count of 0 or less is an empty section. A
// decoder replaces what its array held; it returns false at the first short read, refused count
// or exhausted memory (which it reports as std::bad_alloc to the parse, which fails the load).
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <new>

#include "model/cursor.h"
#include "model/kvt_plugin.h"
#include "platform/platform.h"

namespace quillmesh {

// What every decoder knows of the file it reads.
struct SectionFormat {
    int32_t version = 0;
    // Header flags: vertex normals and colours (classic and chunked), extra vectors and weights
    // (chunked).
    uint32_t flags = 0;
    // What the file may make the reader allocate; every array it sizes is counted here first.
    MemoryBudget* memory = nullptr;
    // Read by the chunked reader: vertex records store their weights only with the weights flag
    // and may carry two extra vectors.
    bool chunked = false;

    bool wideNames() const noexcept { return usesWideNames(version); }
    bool newLayout() const noexcept { return version >= kNewLayoutVersion; }
    bool hasFlag(uint32_t flag) const noexcept { return (flags & flag) != 0; }
    // Counts `count` elements of `elementBytes` against the budget; false when they do not fit.
    bool take(uint64_t count, uint64_t elementBytes) const noexcept {
        return memory != nullptr && memory->take(count, elementBytes);
    }
};

// Vertex-chunk contents besides the normal (0x1) and colour (0x2) flags.
inline constexpr uint32_t kFlagVertexExtraVectors = 0x4;
inline constexpr uint32_t kFlagVertexWeights = 0x8;

// Makes room for `extra` more elements of `items`, counting the new capacity against the budget
// first (false when it does not fit). An array appended to many times grows by half its capacity
// when the budget allows, so that the appends take linear time.
template <typename T>
bool makeRoom(const SectionFormat& format, std::vector<T>& items, uint64_t extra) {
    const uint64_t needed = uint64_t{items.size()} + extra;
    const uint64_t capacity = items.capacity();
    if (needed <= capacity) {
        return true;
    }
    uint64_t grown = std::max(needed, capacity + capacity / 2);
    if (format.memory != nullptr && !format.memory->fits(grown - capacity, sizeof(T))) {
        grown = needed;
    }
    if (!format.take(grown - capacity, sizeof(T))) {
        return false;
    }
    platform::reserveLarge(items, static_cast<std::size_t>(grown));
    return true;
}

// Reserves room for `count` more elements of `items`, refused (false) when the bytes left cannot
// hold that many records of `minimumBytes` or the array would outgrow the budget.
template <typename T>
bool reserveFor(const Cursor& cursor, const SectionFormat& format, std::vector<T>& items,
                int64_t count, std::size_t minimumBytes) {
    if (count <= 0) {
        return true;
    }
    return cursor.fits(count, minimumBytes) &&
           makeRoom(format, items, static_cast<uint64_t>(count));
}

// One section: the count (stored in `declared`), then `count` records read by
// `readRecord(cursor, element, index)` into fresh elements of `slot`, which it replaces.
template <typename T, typename ReadRecord>
bool readSection(Cursor& cursor, const SectionFormat& format, std::size_t minimumRecordBytes,
                 ElementSlot<T>& slot, int32_t& declared, ReadRecord readRecord) {
    int32_t count = 0;
    if (!cursor.readI32(count)) {
        return false;
    }
    declared = count;
    slot.release();
    if (!reserveFor(cursor, format, slot.items, count, minimumRecordBytes)) {
        return false;
    }
    for (int32_t i = 0; i < count; ++i) {
        if (!readRecord(cursor, slot.items.emplace_back(), i)) {
            return false;
        }
    }
    slot.count = count > 0 ? count : 0;
    return true;
}

// The record counts as the file declared them, for the defaults applied after the last section.
struct DeclaredCounts {
    int32_t lights = 0;
    int32_t cameras = 0;
    int32_t materials = 0;
    int32_t groups = 0;
    int32_t vertices = 0;
    int32_t uvSets = 0;
    int32_t meshes = 0;
    int32_t bones = 0;
    int32_t animations = 0;
};

bool readLights(Cursor& cursor, const SectionFormat& format, ModelData& model,
                DeclaredCounts& declared);
bool readCameras(Cursor& cursor, const SectionFormat& format, ModelData& model,
                 DeclaredCounts& declared);
// Texture names are stored as read.
bool readMaterials(Cursor& cursor, const SectionFormat& format, ModelData& model,
                   DeclaredCounts& declared);
bool readGroups(Cursor& cursor, const SectionFormat& format, ModelData& model,
                DeclaredCounts& declared);
// Replaces the vertices and all vertex weights.
bool readVertices(Cursor& cursor, const SectionFormat& format, ModelData& model,
                  DeclaredCounts& declared);
bool readAuxRecords(Cursor& cursor, const SectionFormat& format, ModelData& model);
// Classic UV-set section (version 30 to 33): name, coordinates and aux records per set.
bool readUVSets(Cursor& cursor, const SectionFormat& format, ModelData& model,
                DeclaredCounts& declared);
// One UV set's coordinates or aux records: a count, then the entries, replacing the set's.
bool readUVCoords(Cursor& cursor, const SectionFormat& format, UVSet& uvSet);
bool readUVSetAux(Cursor& cursor, const SectionFormat& format, UVSet& uvSet);
// Classic mesh section. Old files (below version 30) keep their UV coordinates inline in the
// polygons; numbered from 0 across the section, they become the coordinates of the model's UV
// sets (the two fresh default sets).
bool readMeshes(Cursor& cursor, const SectionFormat& format, ModelData& model,
                DeclaredCounts& declared);
// A version-34 polygon list: the count, then polygons with exactly their stored corners and UV
// layers. Replaces the mesh's polygons when the count is above 0.
bool readExactPolygons(Cursor& cursor, const SectionFormat& format, ModelMesh& mesh);
bool readBones(Cursor& cursor, const SectionFormat& format, ModelData& model,
               DeclaredCounts& declared);
// Animations keep every track the file stores; the tracks are fitted to the bones afterwards
// (fitBoneTracks).
bool readAnimations(Cursor& cursor, const SectionFormat& format, ModelData& model,
                    DeclaredCounts& declared);
// Fits every animation's tracks to the bones: stored tracks beyond the bones are dropped (bones
// without a stored track have the empty track of ModelAnimation::trackOf), and trackCount is the
// number of stored tracks kept. Without bones no animation keeps a track.
void fitBoneTracks(ModelData& model);

}  // namespace quillmesh
