// Loads ModelFiles of 10,000 to 1,000,000 triangles, plain and compressed,
// and prints the time per load and per triangle, so that the growth with size
// can be read off (it should be linear). Files are written by our ModelFile
// writer into a temporary folder first.
//
//   load_bench [VERSION]     (default 30)
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "model/kvt_plugin.h"
#include "platform/platform.h"
#include "tests/support/kvt_writer.h"

namespace {

using namespace quillmesh::testsupport;

// A strip of `triangles` triangles over a grid of vertices, one material and
// one UV set, in the given version's layouts.
KvtModel gridModel(int32_t version, int32_t triangles) {
    KvtModel model = triangleModel(version);
    const int32_t columns = 1000;
    const int32_t quads = (triangles + 1) / 2;
    const int32_t rows = quads / columns + 1;
    model.vertices.clear();
    model.vertices.reserve(static_cast<std::size_t>((rows + 1) * (columns + 1)));
    for (int32_t r = 0; r <= rows; ++r) {
        for (int32_t c = 0; c <= columns; ++c) {
            model.vertices.push_back(
                KvtVertex{.position = {static_cast<float>(c), static_cast<float>(r), 0.0f}});
        }
    }
    KvtMesh mesh = model.meshes.front();
    KvtPolygon prototype = mesh.polygons.front();
    mesh.polygons.clear();
    mesh.polygons.reserve(static_cast<std::size_t>(triangles));
    for (int32_t t = 0; t < triangles; ++t) {
        const int32_t quad = t / 2;
        const int32_t r = quad / columns;
        const int32_t c = quad % columns;
        const int32_t a = r * (columns + 1) + c;
        const int32_t b = a + 1;
        const int32_t d = a + columns + 1;
        KvtPolygon polygon = prototype;
        polygon.vertices =
            t % 2 == 0 ? std::vector<int32_t>{a, b, d} : std::vector<int32_t>{b, d + 1, d};
        mesh.polygons.push_back(std::move(polygon));
    }
    model.meshes = {std::move(mesh)};
    return model;
}

double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
    const int32_t version = argc > 1 ? std::atoi(argv[1]) : 30;
    const std::filesystem::path folder =
        std::filesystem::temp_directory_path() / "quillmesh-load-bench";
    std::filesystem::create_directories(folder);
    std::printf("version %d\n%12s %10s %12s %12s %14s\n", version, "triangles", "kind",
                "file bytes", "load s", "ns/triangle");
    for (int32_t triangles : {10000, 100000, 1000000}) {
        const KvtModel model = gridModel(version, triangles);
        for (bool compressed : {false, true}) {
            KvtWriteOptions options;
            options.compressed = compressed;
            const std::filesystem::path path =
                folder / ("grid-" + std::to_string(triangles) + (compressed ? "-z" : "") + ".kvt");
            writeKvtFile(path, model, options);
            const std::u16string widePath = quillmesh::platform::fromUtf8(path.string());
            quillmesh::KVTPlugin plugin;
            const auto start = std::chrono::steady_clock::now();
            const int result = plugin.loadModel(widePath.c_str());
            const double seconds = secondsSince(start);
            if (result != 1) {
                std::printf("load of %s failed with %d\n", path.string().c_str(), result);
                return 1;
            }
            std::printf("%12d %10s %12ju %12.4f %14.1f\n", triangles, compressed ? "zlib" : "plain",
                        static_cast<uintmax_t>(std::filesystem::file_size(path)), seconds,
                        seconds * 1e9 / triangles);
            std::filesystem::remove(path);
        }
    }
    return 0;
}
