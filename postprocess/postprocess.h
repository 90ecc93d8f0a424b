// What a load derives from a parsed model before it is converted: face and vertex normals, bone
// and material use counts, vertex weights that sum to one, and element names that are safe for
// the host and distinct within each table.
//
// Safe on any model the reader can produce: vertex, bone and material indices are stored
// unchecked, so every index is tested here before it is used, and a polygon's corners are
// never read beyond its mesh's corner array. Nothing here throws; the name steps report
// exhausted memory through their results (false), the numeric steps cannot fail.
#pragma once

#include <concepts>
#include <cstddef>
#include <new>
#include <span>
#include <vector>

#include "model/kvt_plugin.h"
#include "model/model_name.h"
#include "model/model_records.h"

namespace quillmesh {

// Every step below, in the order a load runs them: face normals (which end with the vertex
// normals), bone use counts, material use counts, the weights of every vertex, character
// replacement, leading-digit replacement, and de-duplication of the lights, cameras, bones,
// groups and materials. False when a name step ran out of memory; every step still runs.
bool runPostLoadSteps(ModelData& model) noexcept;

// The unit normal of every polygon, from its first, second and last corners (right-handed), then
// computeVertexNormals. A polygon with fewer than three usable corners, or whose first, second
// or last corner names a vertex outside the vertex table, keeps its face normal. Nothing happens
// without a vertex table or a mesh table.
void computeFaceNormals(ModelData& model) noexcept;

// Every vertex normal becomes the normalised sum of the face normals of the polygon corners
// that name it (once per corner, without area weighting, across all meshes); a vertex that no
// corner names ends with (0, 0, 0). Corners naming a vertex outside the table add nothing.
// Nothing happens without a vertex table or a mesh table.
void computeVertexNormals(ModelData& model) noexcept;

// How many vertex weights name each bone. Weights naming no bone of the table are ignored.
// Nothing happens without a bone table and a vertex table.
void countBoneUse(ModelData& model) noexcept;

// How many polygons use each material. Indices outside the material table are ignored.
// Nothing happens without a material table and a mesh table.
void countMaterialUse(ModelData& model) noexcept;

// Scales the weights of one vertex so that they sum to one. Weights summing to exactly 0 or
// exactly 1 (in single precision) are left as they are.
void normalizeVertexWeights(std::span<VertexWeight> weights) noexcept;

// Replaces each of the characters " .|-\t\":;,/'\\<>][{}()" by '_' in every name of the
// lights, cameras, UV sets, groups, bones, materials and animations, and rebuilds each narrow
// name from its wide text.
bool sanitizeNames(ModelData& model) noexcept;

// Replaces a leading '0' to '9' by '_' in every name of the same seven tables.
bool replaceLeadingDigit(ModelData& model) noexcept;

// Makes the wide names of `names` distinct, element by element in order: while another element
// carries the same wide text (exact, case-sensitive; empty names clash with each other), the
// element being treated receives the decimal text of a suffix number shared by the whole list,
// which then counts up. An element stops after 101 suffixes even if it still clashes; a name
// never grows beyond ModelName::kMaxLength units (a suffix that does not fit is cut). Runs in
// time linear in the number of names times the suffixes given. False when memory runs out (names
// treated so far keep their suffixes).
bool deduplicateNameList(const std::vector<ModelName*>& names) noexcept;

// The model records whose `name` is a ModelName.
template <typename T>
concept NamedElement = requires(T& element) {
    { element.name } -> std::same_as<ModelName&>;
};

// deduplicateNameList over the names of one table, in table order. An absent array is left alone.
template <NamedElement T>
bool deduplicateNames(ElementSlot<T>& table) noexcept {
    if (!table.exists()) {
        return true;
    }
    std::vector<ModelName*> names;
    try {
        names.reserve(table.items.size());
    } catch (const std::bad_alloc&) {
        return false;
    }
    for (T& element : table.items) {
        names.push_back(&element.name);
    }
    return deduplicateNameList(names);
}

}  // namespace quillmesh
