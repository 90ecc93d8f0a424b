// Sections 4 to 7 of a ModelFile body: groups, vertices, auxiliary records and UV sets. The
// vertex and UV-set readers serve the chunked layout too, which stores the same records in its
// own chunks.
#include "model/sections.h"

namespace quillmesh {
namespace {

constexpr std::size_t kOldGroupBytes = 2;
constexpr std::size_t kNewGroupBytes = 2 + 8 + kNodeTransformBytes;
constexpr std::size_t kUVSetBytes = 2 + 4 + 4;
constexpr std::size_t kWeightBytes = 8;
constexpr std::size_t kUVCoordBytes = 12;
constexpr Rgba kWhite{1.0f, 1.0f, 1.0f, 1.0f};

// Group record: the name; from version 30 also groupTag, groupLink and the whole transform. An
// old record leaves the transform all zero.
bool readGroup(Cursor& cursor, const SectionFormat& format, ModelGroup& group) {
    if (!cursor.readName(group.name, format.wideNames())) {
        return false;
    }
    return !format.newLayout() ||
           (cursor.readI32(group.groupTag) && cursor.readI32(group.groupLink) &&
            cursor.readTransform(group.transform));
}

// Vertex record: the position, a normal when the flags say so (dropped: normals are derived after
// loading), in chunked files two further vectors (dropped), a colour when the flags say so (else
// white), then the weights: always in classic files, with the weights flag in chunked ones. A
// weight count of 0 or less means no weights.
bool readVertex(Cursor& cursor, const SectionFormat& format, ModelData& model,
                ModelVertex& vertex) {
    Vec3 dropped;
    vertex.colour = kWhite;
    int32_t weightCount = 0;
    const bool storesWeights = !format.chunked || format.hasFlag(kFlagVertexWeights);
    if (!cursor.readVec3(vertex.position) ||
        (format.hasFlag(kFlagVertexNormals) && !cursor.readVec3(dropped)) ||
        (format.chunked && format.hasFlag(kFlagVertexExtraVectors) &&
         (!cursor.readVec3(dropped) || !cursor.readVec3(dropped))) ||
        (format.hasFlag(kFlagVertexColours) && !cursor.readRgba(vertex.colour)) ||
        (storesWeights && !cursor.readI32(weightCount))) {
        return false;
    }
    if (weightCount <= 0) {
        return true;
    }
    std::vector<VertexWeight>& weights = model.vertexWeights;
    if (!reserveFor(cursor, format, weights, weightCount, kWeightBytes)) {
        return false;
    }
    vertex.firstWeight = static_cast<uint32_t>(weights.size());
    vertex.weightCount = weightCount;
    for (int32_t j = 0; j < weightCount; ++j) {
        VertexWeight& weight = weights.emplace_back();
        if (!cursor.readI32(weight.boneIndex) || !cursor.readF32(weight.weight)) {
            return false;
        }
    }
    return true;
}

// UV-set record: the name, the coordinates, then the set's own aux records.
bool readUVSet(Cursor& cursor, const SectionFormat& format, UVSet& uvSet) {
    return cursor.readName(uvSet.name, format.wideNames()) && readUVCoords(cursor, format, uvSet) &&
           readUVSetAux(cursor, format, uvSet);
}

// A count, then `count` entries read by `readEntry` into `items`, which they replace; a count
// of 0 or less leaves `items` as it was.
template <typename T, typename ReadEntry>
bool readEntries(Cursor& cursor, const SectionFormat& format, std::size_t entryBytes,
                 std::vector<T>& items, int32_t& itemCount, ReadEntry readEntry) {
    int32_t count = 0;
    if (!cursor.readI32(count)) {
        return false;
    }
    if (count <= 0) {
        return true;
    }
    std::vector<T>().swap(items);
    itemCount = 0;
    if (!reserveFor(cursor, format, items, count, entryBytes)) {
        return false;
    }
    for (int32_t i = 0; i < count; ++i) {
        if (!readEntry(items.emplace_back())) {
            return false;
        }
    }
    itemCount = count;
    return true;
}

}  // namespace

bool readGroups(Cursor& cursor, const SectionFormat& format, ModelData& model,
                DeclaredCounts& declared) {
    return readSection(
        cursor, format, format.newLayout() ? kNewGroupBytes : kOldGroupBytes, model.groups,
        declared.groups,
        [&format](Cursor& c, ModelGroup& group, int32_t) { return readGroup(c, format, group); });
}

bool readVertices(Cursor& cursor, const SectionFormat& format, ModelData& model,
                  DeclaredCounts& declared) {
    std::vector<VertexWeight>().swap(model.vertexWeights);
    // Position and, in classic files, the weight count.
    const std::size_t minimumBytes = format.chunked ? 12 : 16;
    return readSection(cursor, format, minimumBytes, model.vertices, declared.vertices,
                       [&](Cursor& c, ModelVertex& vertex, int32_t) {
                           return readVertex(c, format, model, vertex);
                       });
}

bool readAuxRecords(Cursor& cursor, const SectionFormat& format, ModelData& model) {
    int32_t declared = 0;
    return readSection(
        cursor, format, kAuxRecordBytes, model.auxRecords, declared,
        [](Cursor& c, AuxRecord& record, int32_t) { return c.readAuxRecord(record); });
}

bool readUVSets(Cursor& cursor, const SectionFormat& format, ModelData& model,
                DeclaredCounts& declared) {
    return readSection(
        cursor, format, kUVSetBytes, model.uvSets, declared.uvSets,
        [&format](Cursor& c, UVSet& uvSet, int32_t) { return readUVSet(c, format, uvSet); });
}

bool readUVCoords(Cursor& cursor, const SectionFormat& format, UVSet& uvSet) {
    return readEntries(cursor, format, kUVCoordBytes, uvSet.coords, uvSet.coordCount,
                       [&cursor](UVCoord& coord) {
                           return cursor.readI32(coord.uvTag) && cursor.readF32(coord.u) &&
                                  cursor.readF32(coord.v);
                       });
}

bool readUVSetAux(Cursor& cursor, const SectionFormat& format, UVSet& uvSet) {
    return readEntries(cursor, format, kAuxRecordBytes, uvSet.auxRecords, uvSet.auxCount,
                       [&cursor](AuxRecord& record) { return cursor.readAuxRecord(record); });
}

}  // namespace quillmesh
