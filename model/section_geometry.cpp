// Sections 4 to 7 of a classic ModelFile body: groups, vertices, auxiliary records and UV sets.
//
// Every section has one record reader that both passes use. The counting pass hands it a scratch
// record that is thrown away and lets it allocate nothing; the decoding pass hands it the element
// the allocation step made, and the reader gives that element the sub-arrays (vertex weights, UV
// coordinates, UV-set aux records) its record announces before filling them. Values read into a
// sub-array are stored only below the array's size, so the arrays are never written past.
#include <cstddef>
#include <cstdint>

#include "model/section_walk.h"
#include "model/sections.h"

namespace quillmesh {
namespace {

// Smallest file size of one entry of each sub-array: a sub-array is allocated only when the bytes
// left can hold all of its entries, so a count read from the file never sizes memory beyond what
// the file itself can describe.
constexpr uint32_t kWeightBytes = 8;
constexpr uint32_t kUVCoordBytes = 12;

// Group record: the name; from version 30 also groupTag, groupLink and the whole transform. An
// old record leaves the transform as allocated (all zero).
bool readGroupRecord(KVTPlugin& plugin, ModelGroup& group) noexcept {
    if (!plugin.readName(group.name)) {
        return false;
    }
    if (plugin.model.version < kNewLayoutVersion) {
        return true;
    }
    int32_t tag = 0;
    int32_t link = 0;
    NodeTransform transform;
    if (!plugin.readInt32(tag) || !plugin.readInt32(link) || !plugin.readTransform(transform)) {
        return false;
    }
    group.groupTag = tag;
    group.groupLink = link;
    group.transform = transform;
    return true;
}

// Vertex record: position, a normal when the header says so (dropped: normals are derived after
// loading), a colour when the header says so (else the element keeps its allocated white), then
// the weight count and the weights. A weight count of 0 or less means no weights.
bool readVertexRecord(KVTPlugin& plugin, const ModelHeader& header, ModelVertex& vertex,
                      RecordPass pass) noexcept {
    Vec3 position;
    Vec3 storedNormal;
    Rgba colour = vertex.colour;
    int32_t weightCount = 0;
    if (!plugin.readVec3(position) ||
        (header.hasFlag(kFlagVertexNormals) && !plugin.readVec3(storedNormal)) ||
        (header.hasFlag(kFlagVertexColours) && !plugin.readRgba(colour)) ||
        !plugin.readInt32(weightCount)) {
        return false;
    }
    vertex.position = position;
    vertex.colour = colour;
    if (pass == RecordPass::kDecode && weightCount > 0) {
        if (!plugin.recordsFit(weightCount, kWeightBytes) ||
            !allocateVertexWeights(vertex, weightCount)) {
            return false;
        }
    }
    for (int32_t j = 0; j < weightCount; ++j) {
        int32_t boneIndex = 0;
        float weight = 0.0f;
        if (!plugin.readInt32(boneIndex) || !plugin.readFloat32(weight)) {
            return false;
        }
        const auto index = static_cast<std::size_t>(j);
        if (index < vertex.weights.size()) {
            vertex.weights[index] = {boneIndex, weight};
        }
    }
    return true;
}

// UV-set record: the name, the coordinates (tag, u, v), then the set's own aux records. Counts of
// 0 or less mean none.
bool readUVSetRecord(KVTPlugin& plugin, UVSet& uvSet, RecordPass pass) noexcept {
    if (!plugin.readName(uvSet.name)) {
        return false;
    }
    int32_t coordCount = 0;
    if (!plugin.readInt32(coordCount)) {
        return false;
    }
    if (pass == RecordPass::kDecode && coordCount > 0) {
        if (!plugin.recordsFit(coordCount, kUVCoordBytes) || !allocateUVCoords(uvSet, coordCount)) {
            return false;
        }
    }
    for (int32_t j = 0; j < coordCount; ++j) {
        UVCoord coord;
        if (!plugin.readInt32(coord.uvTag) || !plugin.readFloat32(coord.u) ||
            !plugin.readFloat32(coord.v)) {
            return false;
        }
        const auto index = static_cast<std::size_t>(j);
        if (index < uvSet.coords.size()) {
            uvSet.coords[index] = coord;
        }
    }

    int32_t auxCount = 0;
    if (!plugin.readInt32(auxCount)) {
        return false;
    }
    if (pass == RecordPass::kDecode && auxCount > 0) {
        if (!plugin.recordsFit(auxCount, kAuxRecordBytes) || !allocateUVSetAux(uvSet, auxCount)) {
            return false;
        }
    }
    for (int32_t k = 0; k < auxCount; ++k) {
        AuxRecord record;
        if (!plugin.readAuxRecord(record)) {
            return false;
        }
        const auto index = static_cast<std::size_t>(k);
        if (index < uvSet.auxRecords.size()) {
            uvSet.auxRecords[index] = record;
        }
    }
    return true;
}

}  // namespace

bool countGroups(KVTPlugin& plugin, const ModelHeader&) {
    return countSection(
        plugin, plugin.model.groups, SectionId::kGroups,
        [&plugin](ModelGroup& group, RecordPass) { return readGroupRecord(plugin, group); });
}

bool decodeGroups(KVTPlugin& plugin, const ModelHeader&) {
    return decodeSection(plugin, plugin.model.groups, [&plugin](ModelGroup& group, RecordPass) {
        return readGroupRecord(plugin, group);
    });
}

bool countVertices(KVTPlugin& plugin, const ModelHeader& header) {
    return countSection(plugin, plugin.model.vertices, SectionId::kVertices,
                        [&plugin, &header](ModelVertex& vertex, RecordPass pass) {
                            return readVertexRecord(plugin, header, vertex, pass);
                        });
}

bool decodeVertices(KVTPlugin& plugin, const ModelHeader& header) {
    return decodeSection(plugin, plugin.model.vertices,
                         [&plugin, &header](ModelVertex& vertex, RecordPass pass) {
                             return readVertexRecord(plugin, header, vertex, pass);
                         });
}

bool countAuxRecords(KVTPlugin& plugin, const ModelHeader&) {
    return countSection(
        plugin, plugin.model.auxRecords, SectionId::kAuxRecords,
        [&plugin](AuxRecord& record, RecordPass) { return plugin.readAuxRecord(record) != 0; });
}

bool decodeAuxRecords(KVTPlugin& plugin, const ModelHeader&) {
    return decodeSection(plugin, plugin.model.auxRecords, [&plugin](AuxRecord& record, RecordPass) {
        return plugin.readAuxRecord(record) != 0;
    });
}

bool countUVSets(KVTPlugin& plugin, const ModelHeader&) {
    return countSection(
        plugin, plugin.model.uvSets, SectionId::kUVSets,
        [&plugin](UVSet& uvSet, RecordPass pass) { return readUVSetRecord(plugin, uvSet, pass); });
}

bool decodeUVSets(KVTPlugin& plugin, const ModelHeader&) {
    return decodeSection(plugin, plugin.model.uvSets, [&plugin](UVSet& uvSet, RecordPass pass) {
        return readUVSetRecord(plugin, uvSet, pass);
    });
}

}  // namespace quillmesh
