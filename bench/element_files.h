// The benchmark's element files: ModelFiles with many small elements of one kind, each beside a
// baseline file that has one element of that kind and is otherwise the same, so that the
// difference of their import times over the element count is the cost of one element.
//
//   materials  version 33: materials with distinct names, each with one or two kind-1 texture
//              maps (every material a diffuse map, every second one a bump map too), and one mesh
//              of four triangles using the first, two middle and the last material;
//   groups     version 29: groups with distinct names (the old layout: the name alone);
//   bones      version 33: bones with distinct names in a tree (each the parent of four), the
//              triangle's vertices weighted to them, and one animation storing four tracks;
//   weights    version 33: vertices (beyond the triangle's, used by no polygon) weighted to two
//              bones each, as the vertices of a skinned mesh are.
// Every file also holds a triangle (three vertices, one UV set, one mesh) and, but for the
// materials files, one material, so that every import hands over a scene.
//
// Files are named elements-SET-COUNT.kvt (the large file, and the baseline elements-SET-1.kvt),
// and elements-SET.txt records what was written, so that a later run skips sets already there.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tests/support/kvt_writer.h"

namespace quillmesh::bench {

enum class ElementKind { kMaterials, kGroups, kBones, kWeightedVertices };

struct ElementSet {
    ElementKind kind = ElementKind::kMaterials;
    std::string label;  // "materials", "groups", "bones", "weights"
    int32_t version = 0;
    int32_t count = 0;  // elements in the large file
};

// The sets: 10,000 materials, 100,000 groups, 100,000 bones, 100,000 weighted vertices.
const std::vector<ElementSet>& elementSets();
// The set with this label (case-insensitive), if any.
std::optional<ElementSet> findElementSet(std::string_view label);

// The model of `set` with `count` elements of its kind.
testsupport::KvtModel elementModel(const ElementSet& set, int32_t count);

// The large file (count = set.count) or the baseline (count = 1).
std::filesystem::path elementFilePath(const std::filesystem::path& folder, const ElementSet& set,
                                      int32_t count);

struct ElementWriteResult {
    bool cached = false;  // both files were already there
    double seconds = 0;   // building and writing both, when they were not
};

// Writes the large and the baseline file of `set` into `folder` (made when missing) unless its
// record says they are there already and `force` is false. Throws std::runtime_error when a file
// cannot be written.
ElementWriteResult ensureElementFiles(const std::filesystem::path& folder, const ElementSet& set,
                                      bool force = false);

}  // namespace quillmesh::bench
