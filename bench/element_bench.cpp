// The reader's stages on the element files (see element_files.h): the load (the file read and
// parsed), the resolve stage (texture names probed beside the file) and the post-load steps, each
// timed on its own on the large file and on its one-element baseline. Prints the time of each
// stage on both and the cost per element, (t(large) - t(baseline)) / count.
//
//   element_bench [--runs N] FOLDER [SET...]     SET: materials, groups, bones (default: all)
//
// Files missing from FOLDER are written first. Each time is the median of N runs (default 5)
// after one untimed run. For a profile of one stage, `--repeat K SET` runs the three stages K
// times on the large file of one set and prints nothing else.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "bench/bench_timing.h"
#include "bench/element_files.h"
#include "model/file_resolution.h"
#include "model/kvt_plugin.h"
#include "platform/platform.h"
#include "postprocess/postprocess.h"

namespace {

namespace fs = std::filesystem;
using namespace quillmesh::bench;

[[noreturn]] void fail(const std::string& what) {
    std::fprintf(stderr, "element_bench: %s\n", what.c_str());
    std::exit(1);
}

struct StageTimes {
    double load = 0;
    double resolve = 0;
    double postLoad = 0;
};

// The three stages once on `path`, as an import runs them.
StageTimes runStages(const fs::path& path) {
    const std::u16string widePath = quillmesh::platform::fromUtf8(path.string());
    quillmesh::KVTPlugin plugin;
    StageTimes times;
    auto start = Clock::now();
    const int result = plugin.loadModel(widePath.c_str());
    times.load = secondsSince(start);
    if (result != quillmesh::kLoadSucceeded) {
        fail("loading " + path.string() + " failed with " + std::to_string(result));
    }
    start = Clock::now();
    const bool resolved = quillmesh::resolveModelFiles(
        plugin.model, quillmesh::modelDirectory(plugin.sourcePath), quillmesh::systemFileSystem());
    times.resolve = secondsSince(start);
    start = Clock::now();
    const bool finished = quillmesh::runPostLoadSteps(plugin.model);
    times.postLoad = secondsSince(start);
    if (!resolved || !finished) {
        fail("the stages after loading " + path.string() + " ran out of memory");
    }
    return times;
}

// Median of each stage over `runs` runs, after one untimed run.
StageTimes medianStages(const fs::path& path, int runs) {
    runStages(path);
    std::vector<double> load;
    std::vector<double> resolve;
    std::vector<double> postLoad;
    for (int i = 0; i < runs; ++i) {
        const StageTimes times = runStages(path);
        load.push_back(times.load);
        resolve.push_back(times.resolve);
        postLoad.push_back(times.postLoad);
    }
    return {median(std::move(load)), median(std::move(resolve)), median(std::move(postLoad))};
}

int usage() {
    std::fprintf(stderr,
                 "usage: element_bench [--runs N] FOLDER [SET...]\n"
                 "       element_bench --repeat K FOLDER SET\n"
                 "  SET: materials, groups, bones\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    int runs = 5;
    int repeat = 0;
    std::string folder;
    std::vector<ElementSet> sets;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if ((argument == "--runs" || argument == "--repeat") && i + 1 < argc) {
            const int value = std::atoi(argv[++i]);
            if (value < 1) {
                return usage();
            }
            (argument == "--runs" ? runs : repeat) = value;
        } else if (folder.empty()) {
            folder = argument;
        } else if (const auto set = findElementSet(argument)) {
            sets.push_back(*set);
        } else {
            std::fprintf(stderr, "element_bench: unknown set '%s'\n", argument.c_str());
            return usage();
        }
    }
    if (folder.empty() || (repeat > 0 && sets.size() != 1)) {
        return usage();
    }
    if (sets.empty()) {
        sets = elementSets();
    }
    try {
        for (const ElementSet& set : sets) {
            ensureElementFiles(folder, set);
        }
    } catch (const std::exception& error) {
        fail(error.what());
    }

    if (repeat > 0) {
        const fs::path path = elementFilePath(folder, sets.front(), sets.front().count);
        for (int i = 0; i < repeat; ++i) {
            runStages(path);
        }
        return 0;
    }

    std::printf(
        "reader stages on the element files, median of %d runs; ms on the baseline "
        "(1 element) and the large file, us per element\n",
        runs);
    std::printf("%-9s %7s %-8s %9s %9s %9s\n", "set", "count", "stage", "ms (1)", "ms (N)",
                "us/elem");
    for (const ElementSet& set : sets) {
        const StageTimes baseline = medianStages(elementFilePath(folder, set, 1), runs);
        const StageTimes large = medianStages(elementFilePath(folder, set, set.count), runs);
        const std::pair<const char*, double StageTimes::*> stages[] = {
            {"load", &StageTimes::load},
            {"resolve", &StageTimes::resolve},
            {"postload", &StageTimes::postLoad},
        };
        for (const auto& [name, member] : stages) {
            std::printf("%-9s %7d %-8s %9.3f %9.3f %9.3f\n", set.label.c_str(), set.count, name,
                        baseline.*member * 1e3, large.*member * 1e3,
                        (large.*member - baseline.*member) * 1e6 / set.count);
        }
        std::fflush(stdout);
    }
    return 0;
}
