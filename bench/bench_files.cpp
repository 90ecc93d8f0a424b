// Writes the benchmark grid's files (see grid_files.h) for the sizes asked for, and the element
// files (see element_files.h) for the sets asked for, and prints how long each step took. Files
// already there are skipped unless --force is given.
//
//   bench_files [--force] FOLDER [NAME...]
//
// NAME: a grid size (10k, 1m, 4m), an element set (materials, groups, bones) or `elements` for
// all three sets. Without any NAME, all grid sizes and no element set.
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "bench/element_files.h"
#include "bench/grid_files.h"

namespace {

using namespace quillmesh::bench;

int usage() {
    std::fprintf(stderr,
                 "usage: bench_files [--force] FOLDER [NAME...]  (NAME: 10k, 1m, 4m, materials, "
                 "groups, bones, elements)\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    bool force = false;
    std::string folder;
    std::vector<GridSize> sizes;
    std::vector<ElementSet> sets;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--force") {
            force = true;
        } else if (folder.empty()) {
            folder = argument;
        } else if (const auto size = findGridSize(argument)) {
            sizes.push_back(*size);
        } else if (const auto set = findElementSet(argument)) {
            sets.push_back(*set);
        } else if (argument == "elements") {
            sets.insert(sets.end(), elementSets().begin(), elementSets().end());
        } else {
            std::fprintf(stderr, "bench_files: unknown name '%s'\n", argument.c_str());
            return usage();
        }
    }
    if (folder.empty()) {
        return usage();
    }
    if (sizes.empty() && sets.empty()) {
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
        for (const ElementSet& set : sets) {
            const ElementWriteResult result = ensureElementFiles(folder, set, force);
            if (result.cached) {
                std::printf("%-9s %6d elements (version %d): files already there\n",
                            set.label.c_str(), set.count, set.version);
            } else {
                std::printf("%-9s %6d elements (version %d): %.2f s\n", set.label.c_str(),
                            set.count, set.version, result.seconds);
            }
            std::fflush(stdout);
        }
    } catch (const std::exception& error) {
        std::fprintf(stderr, "bench_files: %s\n", error.what());
        return 1;
    }
    return 0;
}
