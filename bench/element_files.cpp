// The element files: many small elements of one kind beside a one-triangle model, written by our
// test-support writer, with a record that lets a later run skip sets already written.
#include "bench/element_files.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace quillmesh::bench {
namespace {

namespace fs = std::filesystem;
using namespace quillmesh::testsupport;

// Changes whenever the files' contents change, so that older files are written anew.
constexpr int kElementRevision = 1;

// Materials used by the four triangles' mesh, and tracks and keys of the bones' animation.
constexpr int32_t kMeshTriangles = 4;
constexpr int32_t kAnimationTracks = 4;
constexpr int32_t kKeysPerList = 3;
// Each bone's parent is the bone (index - 1) / kBoneChildren: a tree, as skeletons are.
constexpr int32_t kBoneChildren = 4;

// `prefix` followed by `number` in at least `digits` digits.
std::string numbered(const char* prefix, int32_t number, int digits) {
    char text[32];
    std::snprintf(text, sizeof text, "%s%0*d", prefix, digits, number);
    return text;
}

// One triangle (0,0,0), (1,0,0), (0,1,0) with its UV set and no material: the part every element
// file shares.
KvtModel triangleBase(int32_t version) {
    KvtModel model = triangleModel(version);
    model.materials.clear();
    return model;
}

KvtMaterial texturedMaterial(int32_t index) {
    KvtMaterial material{.name = numbered("Material_", index, 5)};
    const std::string stem = numbered("material_", index, 5);
    material.maps.push_back(KvtMap{.key = 0, .kind = 1, .fileName = stem + "_diffuse.png"});
    if (index % 2 == 1) {
        material.maps.push_back(KvtMap{.key = 1, .kind = 1, .fileName = stem + "_bump.png"});
    }
    return material;
}

void addMaterials(KvtModel& model, int32_t count) {
    model.materials.reserve(static_cast<std::size_t>(count));
    for (int32_t i = 0; i < count; ++i) {
        model.materials.push_back(texturedMaterial(i));
    }
    // Four triangles over the same three vertices, using the first, two middle and last material.
    const KvtPolygon triangle = model.meshes.front().polygons.front();
    model.meshes.front().polygons.clear();
    for (int32_t t = 0; t < kMeshTriangles; ++t) {
        KvtPolygon polygon = triangle;
        polygon.materialIndex = static_cast<int32_t>(int64_t{count - 1} * t / (kMeshTriangles - 1));
        model.meshes.front().polygons.push_back(std::move(polygon));
    }
}

void addGroups(KvtModel& model, int32_t count) {
    model.materials = {{.name = "Material"}};
    model.groups.reserve(static_cast<std::size_t>(count));
    for (int32_t i = 0; i < count; ++i) {
        model.groups.push_back(KvtGroup{.name = numbered("Group_", i, 6)});
    }
}

KvtTrack animationTrack(int32_t track) {
    KvtTrack result;
    for (int32_t k = 0; k < kKeysPerList; ++k) {
        const auto time = static_cast<float>(10 * k);
        const auto offset = static_cast<float>(track + k);
        result.positionKeys.push_back({.time = time, .value = {offset, 0, 0}});
        result.rotationKeys.push_back({.time = time, .value = {0, 0, 0, 1}});
        if (k < kKeysPerList - 1) {
            result.scaleKeys.push_back({.time = time, .value = {1, 1, 1}});
        }
    }
    return result;
}

void addBones(KvtModel& model, int32_t count) {
    model.materials = {{.name = "Material"}};
    model.bones.reserve(static_cast<std::size_t>(count));
    for (int32_t i = 0; i < count; ++i) {
        KvtBone bone{.name = numbered("Bone_", i, 6),
                     .boneLink = i == 0 ? -1 : (i - 1) / kBoneChildren};
        bone.transform.position = {static_cast<float>(i % 100), static_cast<float>(i / 100), 0};
        bone.transform.matrix[12] = bone.transform.position[0];
        bone.transform.matrix[13] = bone.transform.position[1];
        model.bones.push_back(std::move(bone));
    }
    for (std::size_t v = 0; v < model.vertices.size(); ++v) {
        model.vertices[v].weights = {
            {.boneIndex = static_cast<int32_t>(v % static_cast<std::size_t>(count)), .weight = 1}};
    }
    KvtAnimation animation{.name = "Take_001"};
    for (int32_t t = 0; t < kAnimationTracks; ++t) {
        animation.tracks.push_back(animationTrack(t));
    }
    model.animations = {std::move(animation)};
}

// `count` vertices beyond the triangle's, in a row along x, each weighted to two of two bones.
void addWeightedVertices(KvtModel& model, int32_t count) {
    model.materials = {{.name = "Material"}};
    model.bones = {KvtBone{.name = "Root"}, KvtBone{.name = "Tip", .boneLink = 0}};
    model.vertices.reserve(model.vertices.size() + static_cast<std::size_t>(count));
    for (int32_t i = 0; i < count; ++i) {
        const float x = static_cast<float>(i) / static_cast<float>(count);
        model.vertices.push_back(KvtVertex{
            .position = {x, -1, 0},
            .weights = {{.boneIndex = 0, .weight = 1 - x}, {.boneIndex = 1, .weight = x}}});
    }
}

fs::path recordPath(const fs::path& folder, const ElementSet& set) {
    return folder / ("elements-" + set.label + ".txt");
}

// The record's text for files of these sizes.
std::string recordText(const ElementSet& set, uintmax_t largeBytes, uintmax_t baselineBytes) {
    std::ostringstream text;
    text << "revision " << kElementRevision << "\nversion " << set.version << "\ncount "
         << set.count << "\nlarge " << largeBytes << "\nbaseline " << baselineBytes << "\n";
    return text.str();
}

// True when the record names this set and both files have the sizes it recorded.
bool recordMatches(const fs::path& folder, const ElementSet& set) {
    std::ifstream in(recordPath(folder, set));
    if (!in) {
        return false;
    }
    std::ostringstream whole;
    whole << in.rdbuf();
    std::error_code largeError;
    std::error_code baselineError;
    const uintmax_t large = fs::file_size(elementFilePath(folder, set, set.count), largeError);
    const uintmax_t baseline = fs::file_size(elementFilePath(folder, set, 1), baselineError);
    return !largeError && !baselineError && whole.str() == recordText(set, large, baseline);
}

void writeText(const fs::path& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    if (!out.flush()) {
        throw std::runtime_error("cannot write " + path.string());
    }
}

}  // namespace

const std::vector<ElementSet>& elementSets() {
    static const std::vector<ElementSet> sets{
        {ElementKind::kMaterials, "materials", 33, 10000},
        {ElementKind::kGroups, "groups", 29, 100000},
        {ElementKind::kBones, "bones", 33, 100000},
        {ElementKind::kWeightedVertices, "weights", 33, 100000},
    };
    return sets;
}

std::optional<ElementSet> findElementSet(std::string_view label) {
    std::string lower(label);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    for (const ElementSet& set : elementSets()) {
        if (set.label == lower) {
            return set;
        }
    }
    return std::nullopt;
}

KvtModel elementModel(const ElementSet& set, int32_t count) {
    KvtModel model = triangleBase(set.version);
    switch (set.kind) {
        case ElementKind::kMaterials:
            addMaterials(model, count);
            break;
        case ElementKind::kGroups:
            addGroups(model, count);
            break;
        case ElementKind::kBones:
            addBones(model, count);
            break;
        case ElementKind::kWeightedVertices:
            addWeightedVertices(model, count);
            break;
    }
    return model;
}

fs::path elementFilePath(const fs::path& folder, const ElementSet& set, int32_t count) {
    return folder / ("elements-" + set.label + "-" + std::to_string(count) + ".kvt");
}

ElementWriteResult ensureElementFiles(const fs::path& folder, const ElementSet& set, bool force) {
    ElementWriteResult result;
    fs::create_directories(folder);
    if (!force && recordMatches(folder, set)) {
        result.cached = true;
        return result;
    }
    // Without a matching record the files are incomplete: drop it first, so that a run stopped
    // halfway is not taken for a finished one.
    fs::remove(recordPath(folder, set));
    const auto start = std::chrono::steady_clock::now();
    for (const int32_t count : {set.count, 1}) {
        writeKvtFile(elementFilePath(folder, set, count), elementModel(set, count));
    }
    result.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    writeText(recordPath(folder, set),
              recordText(set, fs::file_size(elementFilePath(folder, set, set.count)),
                         fs::file_size(elementFilePath(folder, set, 1))));
    return result;
}

}  // namespace quillmesh::bench
