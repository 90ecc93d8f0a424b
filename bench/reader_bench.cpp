// The reader's load stage on the benchmark grid (see grid_files.h), set against the floor any
// reader has to pay: reading the file's bytes in one read, and for a compressed file inflating
// its body as well. For each size and kind of ModelFile it prints the three times, the load's
// multiple of the floor and the load's time per vertex; with two sizes, also how the time per
// vertex of the larger compares with the smaller's (1.0 is linear growth).
//
//   reader_bench [--runs N] FOLDER [SIZE...]     SIZE: 10k, 1m, 4m (default: 1m 4m)
//
// Files missing from FOLDER are written first. Each time is the median of N runs (default 3),
// after one untimed read of the file.
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "bench/bench_timing.h"
#include "bench/grid_files.h"
#include "model/kvt_plugin.h"
#include "platform/platform.h"

namespace {

namespace fs = std::filesystem;
using namespace quillmesh::bench;

constexpr GridFileKind kModelKinds[] = {GridFileKind::kClassic, GridFileKind::kClassicCompressed,
                                        GridFileKind::kChunked};
// Classic header words (little-endian, from the start of the file).
constexpr std::size_t kLengthWord = 3;
constexpr std::size_t kStreamOffsetWord = 5;
constexpr uint32_t kCompressedFlag = 0x10;
constexpr std::size_t kFlagsWord = 2;

[[noreturn]] void fail(const std::string& what) {
    std::fprintf(stderr, "reader_bench: %s\n", what.c_str());
    std::exit(1);
}

// The whole file in one read, the way the reader reads it (into a buffer given the large-buffer
// hint), so that the floor and the load pay the same for their memory.
std::vector<uint8_t> readFile(const fs::path& path) {
    std::vector<uint8_t> bytes;
    if (quillmesh::platform::readWholeFile(path.u16string(), bytes) !=
        quillmesh::platform::FileReadStatus::kOk) {
        fail("cannot read " + path.string());
    }
    return bytes;
}

uint32_t headerWord(const std::vector<uint8_t>& bytes, std::size_t word) {
    const std::size_t at = word * 4;
    if (bytes.size() < at + 4) {
        fail("a file shorter than its header");
    }
    return uint32_t{bytes[at]} | uint32_t{bytes[at + 1]} << 8 | uint32_t{bytes[at + 2]} << 16 |
           uint32_t{bytes[at + 3]} << 24;
}

// Reads the file and, when its header says it is compressed, inflates the body into a buffer of
// the length the header gives. Returns the bytes a reader would go on to parse.
std::size_t readAndInflate(const fs::path& path) {
    const std::vector<uint8_t> bytes = readFile(path);
    if ((headerWord(bytes, kFlagsWord) & kCompressedFlag) == 0) {
        return bytes.size();
    }
    const uint32_t offset = headerWord(bytes, kStreamOffsetWord);
    uLongf length = headerWord(bytes, kLengthWord);
    if (offset > bytes.size()) {
        fail("a stream offset past the end of " + path.string());
    }
    std::vector<uint8_t> image;
    quillmesh::platform::reserveLarge(image, length);
    image.resize(length);
    if (uncompress(image.data(), &length, bytes.data() + offset, bytes.size() - offset) != Z_OK ||
        length != image.size()) {
        fail("cannot inflate " + path.string());
    }
    return image.size();
}

double loadOnce(const fs::path& path) {
    const std::u16string widePath = quillmesh::platform::fromUtf8(path.string());
    quillmesh::KVTPlugin plugin;
    const auto start = Clock::now();
    const int result = plugin.loadModel(widePath.c_str());
    const double seconds = secondsSince(start);
    if (result != quillmesh::kLoadSucceeded) {
        fail("loading " + path.string() + " failed with " + std::to_string(result));
    }
    return seconds;
}

template <typename Run>
double medianSeconds(int runs, Run&& run) {
    std::vector<double> seconds;
    for (int i = 0; i < runs; ++i) {
        seconds.push_back(run());
    }
    return median(std::move(seconds));
}

int usage() {
    std::fprintf(stderr, "usage: reader_bench [--runs N] FOLDER [SIZE...]  (SIZE: 10k, 1m, 4m)\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    int runs = 3;
    std::string folder;
    std::vector<GridSize> sizes;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--runs" && i + 1 < argc) {
            runs = std::atoi(argv[++i]);
            if (runs < 1) {
                return usage();
            }
        } else if (folder.empty()) {
            folder = argument;
        } else if (const auto size = findGridSize(argument)) {
            sizes.push_back(*size);
        } else {
            std::fprintf(stderr, "reader_bench: unknown size '%s'\n", argument.c_str());
            return usage();
        }
    }
    if (folder.empty()) {
        return usage();
    }
    if (sizes.empty()) {
        sizes = {*findGridSize("1m"), *findGridSize("4m")};
    }

    try {
        for (const GridSize& size : sizes) {
            ensureGridFiles(folder, size);
        }
    } catch (const std::exception& error) {
        fail(error.what());
    }

    std::printf("reader load stage, median of %d runs\n", runs);
    std::printf("%-4s %-5s %9s %9s %9s %9s %12s %12s\n", "size", "kind", "file MB", "read ms",
                "rd+inf ms", "load ms", "load/(r+i)", "load ns/vtx");
    // Time per vertex of the load, by kind, in the order of `sizes`.
    std::map<GridFileKind, std::vector<double>> perVertex;
    for (const GridSize& size : sizes) {
        for (const GridFileKind kind : kModelKinds) {
            const fs::path path = gridFilePath(folder, size, kind);
            readFile(path);  // into the page cache, untimed
            const double read = medianSeconds(runs, [&path] {
                const auto start = Clock::now();
                const std::vector<uint8_t> bytes = readFile(path);
                return secondsSince(start);
            });
            const double inflate = medianSeconds(runs, [&path] {
                const auto start = Clock::now();
                readAndInflate(path);
                return secondsSince(start);
            });
            const double load = medianSeconds(runs, [&path] { return loadOnce(path); });
            const double nsPerVertex = load * 1e9 / static_cast<double>(size.vertices());
            perVertex[kind].push_back(nsPerVertex);
            std::printf("%-4s %-5s %9.1f %9.1f %9.1f %9.1f %12.1f %12.1f\n", size.label.c_str(),
                        gridFileKindName(kind), static_cast<double>(fs::file_size(path)) / 1e6,
                        read * 1e3, inflate * 1e3, load * 1e3, load / inflate, nsPerVertex);
            std::fflush(stdout);
        }
    }
    if (sizes.size() >= 2) {
        std::printf("load ns/vertex, %s over %s:", sizes.back().label.c_str(),
                    sizes.front().label.c_str());
        for (const GridFileKind kind : kModelKinds) {
            const std::vector<double>& values = perVertex[kind];
            std::printf("  %s %.2f", gridFileKindName(kind), values.back() / values.front());
        }
        std::printf("\n");
    }
    return 0;
}
