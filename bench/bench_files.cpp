// Writes the benchmark grid's files (see grid_files.h) for the sizes asked for and prints how
// long each step took. Sizes whose files are already there are skipped unless --force is given.
//
//   bench_files [--force] FOLDER [SIZE...]      SIZE: 10k, 1m, 4m (default: all three)
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "bench/grid_files.h"

namespace {

using namespace quillmesh::bench;

int usage() {
    std::fprintf(stderr, "usage: bench_files [--force] FOLDER [SIZE...]  (SIZE: 10k, 1m, 4m)\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    bool force = false;
    std::string folder;
    std::vector<GridSize> sizes;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--force") {
            force = true;
        } else if (folder.empty()) {
            folder = argument;
        } else if (const auto size = findGridSize(argument)) {
            sizes.push_back(*size);
        } else {
            std::fprintf(stderr, "bench_files: unknown size '%s'\n", argument.c_str());
            return usage();
        }
    }
    if (folder.empty()) {
        return usage();
    }
    if (sizes.empty()) {
        sizes = gridSizes();
    }

    try {
        for (const GridSize& size : sizes) {
            const GridWriteTimes times = ensureGridFiles(folder, size, force);
            if (times.cached) {
                std::printf("%-4s %9lld vertices %9lld triangles: files already there\n",
                            size.label.c_str(), static_cast<long long>(size.vertices()),
                            static_cast<long long>(size.triangles()));
                continue;
            }
            std::printf(
                "%-4s %9lld vertices %9lld triangles: model %.2f s, v33 %.2f s, v33z %.2f s, "
                "v34 %.2f s, glb %.2f s\n",
                size.label.c_str(), static_cast<long long>(size.vertices()),
                static_cast<long long>(size.triangles()), times.buildModel, times.writeClassic,
                times.writeCompressed, times.writeChunked, times.writeGlb);
            std::fflush(stdout);
        }
    } catch (const std::exception& error) {
        std::fprintf(stderr, "bench_files: %s\n", error.what());
        return 1;
    }
    return 0;
}
