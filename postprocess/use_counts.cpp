// Bone and material use counts, and vertex weights scaled to sum to one.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>

#include "postprocess/postprocess.h"

namespace quillmesh {
namespace {

// The element of `table` at `index`, or null when the index lies outside it.
template <typename T>
T* elementAt(ElementSlot<T>& table, int32_t index) {
    if (index < 0 || static_cast<std::size_t>(index) >= table.items.size()) {
        return nullptr;
    }
    return &table.items[static_cast<std::size_t>(index)];
}

// `value` in single precision; beyond the float range it becomes an infinity of its sign (a plain
// conversion of such a value is undefined).
float toFloat(double value) {
    if (std::fabs(value) > static_cast<double>(std::numeric_limits<float>::max())) {
        return value > 0.0 ? std::numeric_limits<float>::infinity()
                           : -std::numeric_limits<float>::infinity();
    }
    return static_cast<float>(value);
}

}  // namespace

void countBoneUse(ModelData& model) noexcept {
    if (!model.bones.exists() || !model.vertices.exists()) {
        return;
    }
    for (ModelBone& bone : model.bones.items) {
        bone.useCount = 0;
    }
    for (const ModelVertex& vertex : model.vertices.items) {
        for (const VertexWeight& weight : model.weightsOf(vertex)) {
            if (ModelBone* bone = elementAt(model.bones, weight.boneIndex)) {
                ++bone->useCount;
            }
        }
    }
}

void countMaterialUse(ModelData& model) noexcept {
    if (!model.materials.exists() || !model.meshes.exists()) {
        return;
    }
    for (ModelMaterial& material : model.materials.items) {
        material.useCount = 0;
    }
    for (const ModelMesh& mesh : model.meshes.items) {
        for (const ModelPolygon& polygon : mesh.polygons) {
            if (ModelMaterial* material = elementAt(model.materials, polygon.materialIndex)) {
                ++material->useCount;
            }
        }
    }
}

void normalizeVertexWeights(std::span<VertexWeight> weights) noexcept {
    if (weights.empty()) {
        return;
    }
    float sum = 0.0f;
    for (const VertexWeight& weight : weights) {
        sum += weight.weight;
    }
    // Weights already summing to one, and weights that all cancel or are all zero, stay. A sum
    // that is not a number falls through and spreads to every weight, like any weight that is
    // not a number.
    if (sum == 1.0f || sum == 0.0f) {
        return;
    }
    // The factor in double precision: the reciprocal of a tiny single-precision sum would be
    // infinite in single precision and turn every weight into infinity or NaN.
    const double factor = 1.0 / static_cast<double>(sum);
    for (VertexWeight& weight : weights) {
        weight.weight = toFloat(static_cast<double>(weight.weight) * factor);
    }
}

}  // namespace quillmesh
