// Face normals from each polygon's first, second and last corners, and smooth vertex normals as
// the normalised sum of the face normals around each vertex.
//
// The arithmetic runs in double precision: differences and cross products of single-precision
// positions then neither overflow nor underflow, so a very large or very small but proper
// triangle still gets a unit normal, and the result only meets single precision when it is
// stored.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>

#include "postprocess/postprocess.h"

namespace quillmesh {
namespace {

struct Vec3d {
    double x = 0.0;
    double y = 0.0;
    double z = 0.0;
};

Vec3d widen(const Vec3& v) {
    return {static_cast<double>(v.x), static_cast<double>(v.y), static_cast<double>(v.z)};
}

Vec3d subtract(const Vec3d& a, const Vec3d& b) {
    return {a.x - b.x, a.y - b.y, a.z - b.z};
}

// Right-handed cross product a x b.
Vec3d cross(const Vec3d& a, const Vec3d& b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

double zeroIfNan(double value) {
    return std::isnan(value) ? 0.0 : value;
}

// `v` scaled to unit length, or left as it is when its length is 0; components that are not a
// number become 0, before the length is taken (so that one NaN does not leave the others
// unscaled) and after scaling (an infinite component scaled by 1/inf gives NaN). The result is
// therefore a unit vector or has only zero components, and always fits a float.
Vec3 unitOrZero(Vec3d v) {
    v = {zeroIfNan(v.x), zeroIfNan(v.y), zeroIfNan(v.z)};
    const double squared = v.x * v.x + v.y * v.y + v.z * v.z;
    const double length = squared == 0.0 ? 0.0 : std::sqrt(squared);
    if (length > 0.0) {
        const double inverse = 1.0 / length;
        v = {zeroIfNan(v.x * inverse), zeroIfNan(v.y * inverse), zeroIfNan(v.z * inverse)};
    }
    return {static_cast<float>(v.x), static_cast<float>(v.y), static_cast<float>(v.z)};
}

// The vertex a corner names, or null when the index lies outside the vertex table.
ModelVertex* vertexAt(ModelData& model, int32_t index) {
    if (index < 0 || static_cast<std::size_t>(index) >= model.vertices.items.size()) {
        return nullptr;
    }
    return &model.vertices.items[static_cast<std::size_t>(index)];
}

bool hasGeometry(const ModelData& model) {
    return model.vertices.exists() && model.meshes.exists();
}

}  // namespace

void computeFaceNormals(ModelData& model) noexcept {
    if (!hasGeometry(model)) {
        return;
    }
    for (ModelMesh& mesh : model.meshes.items) {
        for (ModelPolygon& polygon : mesh.polygons) {
            const std::span<const int32_t> corners = mesh.corners(polygon);
            if (corners.size() < 3) {
                continue;
            }
            const ModelVertex* first = vertexAt(model, corners.front());
            const ModelVertex* second = vertexAt(model, corners[1]);
            const ModelVertex* last = vertexAt(model, corners.back());
            if (first == nullptr || second == nullptr || last == nullptr) {
                continue;
            }
            const Vec3d origin = widen(first->position);
            const Vec3d edge1 = subtract(widen(second->position), origin);
            const Vec3d edge2 = subtract(widen(last->position), origin);
            polygon.faceNormal = unitOrZero(cross(edge1, edge2));
        }
    }
    computeVertexNormals(model);
}

void computeVertexNormals(ModelData& model) noexcept {
    if (!hasGeometry(model)) {
        return;
    }
    for (ModelVertex& vertex : model.vertices.items) {
        vertex.normal = Vec3{};
    }
    for (const ModelMesh& mesh : model.meshes.items) {
        for (const ModelPolygon& polygon : mesh.polygons) {
            for (const int32_t corner : mesh.corners(polygon)) {
                ModelVertex* vertex = vertexAt(model, corner);
                if (vertex == nullptr) {
                    continue;
                }
                vertex->normal.x += polygon.faceNormal.x;
                vertex->normal.y += polygon.faceNormal.y;
                vertex->normal.z += polygon.faceNormal.z;
            }
        }
    }
    for (ModelVertex& vertex : model.vertices.items) {
        vertex.normal = unitOrZero(widen(vertex.normal));
    }
}

}  // namespace quillmesh
