// Times the name de-duplication of one material table: 100,000 equal names (each but the last
// receives a suffix) and 100,000 distinct names (nothing changes), and the post-load steps on a
// model of 100,000 triangles. The time per name should stay flat as the table grows.
//
//   postprocess_bench [NAMES]     (default 100000)
#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "model/kvt_plugin.h"
#include "postprocess/postprocess.h"

namespace {

using quillmesh::ElementSlot;
using quillmesh::ModelMaterial;

double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// A table of `count` materials named by `nameAt(index)`.
template <typename NameAt>
ElementSlot<ModelMaterial> materialTable(int32_t count, NameAt nameAt) {
    ElementSlot<ModelMaterial> table;
    table.items.resize(static_cast<std::size_t>(count));
    table.count = count;
    for (int32_t i = 0; i < count; ++i) {
        table.items[static_cast<std::size_t>(i)].name.assignNarrow(nameAt(i));
    }
    return table;
}

// Runs deduplicateNames on the table and prints the time; false when it failed.
bool timeDeduplication(const char* label, ElementSlot<ModelMaterial> table) {
    const auto start = std::chrono::steady_clock::now();
    const bool done = quillmesh::deduplicateNames(table);
    const double seconds = secondsSince(start);
    std::printf("%-10s %10d %12.4f %12.1f %s\n", label, table.count, seconds,
                seconds * 1e9 / table.count, done ? "" : "FAILED");
    return done;
}

// A grid of `triangles` triangles in the plane z = 0, 1,000 quads wide, with one material and
// two weights per vertex.
quillmesh::ModelData gridModel(int32_t triangles) {
    using namespace quillmesh;
    const int32_t columns = 1000;
    const int32_t rows = (triangles + 1) / 2 / columns + 1;
    ModelData model;
    for (int32_t r = 0; r <= rows; ++r) {
        for (int32_t c = 0; c <= columns; ++c) {
            ModelVertex vertex;
            vertex.position = {static_cast<float>(c), static_cast<float>(r), 0.0f};
            vertex.firstWeight = static_cast<uint32_t>(model.vertexWeights.size());
            vertex.weightCount = 2;
            model.vertexWeights.insert(model.vertexWeights.end(), {{0, 2.0f}, {0, 2.0f}});
            model.vertices.items.push_back(vertex);
        }
    }
    model.vertices.count = static_cast<int32_t>(model.vertices.items.size());
    ModelMesh mesh;
    for (int32_t t = 0; t < triangles; ++t) {
        const int32_t quad = t / 2;
        const int32_t a = quad / columns * (columns + 1) + quad % columns;
        const int32_t d = a + columns + 1;
        ModelPolygon polygon;
        polygon.cornerCount = 3;
        polygon.firstCorner = static_cast<uint32_t>(mesh.vertexIndices.size());
        const std::array<int32_t, 3> corners = t % 2 == 0 ? std::array<int32_t, 3>{a, a + 1, d}
                                                          : std::array<int32_t, 3>{a + 1, d + 1, d};
        mesh.vertexIndices.insert(mesh.vertexIndices.end(), corners.begin(), corners.end());
        mesh.polygons.push_back(polygon);
    }
    mesh.polygonCount = triangles;
    model.meshes.items.push_back(std::move(mesh));
    model.meshes.count = 1;
    model.materials.items.resize(1);
    model.materials.count = 1;
    model.bones.items.resize(1);
    model.bones.count = 1;
    return model;
}

}  // namespace

int main(int argc, char** argv) {
    const int32_t names = argc > 1 ? std::atoi(argv[1]) : 100000;
    if (names <= 0) {
        std::printf("usage: postprocess_bench [NAMES]\n");
        return 2;
    }
    std::printf("%-10s %10s %12s %12s\n", "names", "count", "seconds", "ns/name");
    bool done = true;
    for (const int32_t count : {names / 10, names}) {
        done =
            timeDeduplication(
                "equal", materialTable(count, [](int32_t) { return std::string("Material"); })) &&
            done;
        done =
            timeDeduplication(
                "distinct",
                materialTable(count, [](int32_t i) { return "Material " + std::to_string(i); })) &&
            done;
    }

    std::printf("\n%-10s %10s %12s %12s\n", "steps", "triangles", "seconds", "ns/triangle");
    for (const int32_t triangles : {names / 10, names}) {
        quillmesh::ModelData model = gridModel(triangles);
        const auto start = std::chrono::steady_clock::now();
        done = quillmesh::runPostLoadSteps(model) && done;
        const double seconds = secondsSince(start);
        std::printf("%-10s %10d %12.4f %12.1f\n", "all", triangles, seconds,
                    seconds * 1e9 / triangles);
    }
    return done ? 0 : 1;
}
