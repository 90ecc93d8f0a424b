// Hostile files against the whole import: each shape of file an attacker can make large in memory
// or time from few bytes on disk, at 10,000, 100,000 and 1,000,000 elements, plus single files
// that lie about their sizes. Each file is imported twice, each time in a process of its own:
// by the tool (which loads the file a second time for its summary and reason) and by a child
// of this program running the import alone through PluginMain and our host. The table shows
// whether the file was imported or refused (and the tool's reason), the wall time and peak
// resident set of both, and the import's time per element.
//
//   hostile_bench --tool PATH [--sizes N,N,...] [--only SHAPE] FOLDER
//
// Files are written into FOLDER once (a file already there is reused); every import runs in a
// fresh subfolder with a copy of its file, removed afterwards, so that files it writes beside
// the model (embedded files) do not pile up. MB are 10^6 bytes.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <zlib.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "entry/plugin_main.h"
#include "host/host.h"
#include "host/import_driver.h"
#include "host/text.h"
#include "tests/support/kvt_chunks.h"
#include "tests/support/kvt_writer.h"

namespace {

namespace fs = std::filesystem;
using namespace quillmesh::testsupport;

// Changes whenever a file's contents change, so that older files are written anew.
constexpr int kRevision = 1;

[[noreturn]] void fail(const std::string& what) {
    std::fprintf(stderr, "hostile_bench: %s\n", what.c_str());
    std::exit(1);
}

KvtBytes compressedClassic(const KvtModel& model) {
    KvtWriteOptions options;
    options.compressed = true;
    options.compressionLevel = 9;
    return writeKvt(model, options);
}

// A material and a triangle, so that a file loads as a model whatever else it holds.
KvtModel base(int32_t version) {
    return triangleModel(version);
}

KvtBytes unknownKindMaps(int32_t n) {
    KvtModel model = base(29);
    KvtMaterial& material = model.materials.front();
    material.maps.reserve(static_cast<std::size_t>(n));
    for (int32_t i = 0; i < n; ++i) {
        material.maps.push_back(KvtMap{.key = i, .kind = 9});
    }
    return writeKvt(model);
}

KvtBytes emptyPolygonsCompressed(int32_t n) {
    KvtModel model = base(30);
    model.meshes.front().polygons.resize(static_cast<std::size_t>(n) + 1);
    return compressedClassic(model);
}

KvtBytes groups(int32_t n, bool sameName) {
    KvtModel model = base(29);
    model.groups.reserve(static_cast<std::size_t>(n));
    for (int32_t i = 0; i < n; ++i) {
        model.groups.push_back(KvtGroup{.name = sameName ? "Group" : "Group_" + std::to_string(i)});
    }
    return writeKvt(model);
}

KvtBytes sameNamedMaterials(int32_t n) {
    KvtModel model = base(33);
    model.materials.resize(static_cast<std::size_t>(n), model.materials.front());
    return writeKvt(model);
}

KvtBytes materialsCompressed(int32_t n) {
    KvtModel model = base(33);
    for (int32_t i = 1; i < n; ++i) {
        model.materials.push_back(KvtMaterial{.name = "Material_" + std::to_string(i)});
    }
    return compressedClassic(model);
}

// Half bones, half animations that store no track: every animation has a track per bone.
KvtBytes bonesTimesAnimationsCompressed(int32_t n) {
    KvtModel model = base(8);
    model.bones.resize(static_cast<std::size_t>(n / 2), KvtBone{.name = "Bone"});
    model.animations.resize(static_cast<std::size_t>(n / 2), KvtAnimation{.name = "Take"});
    return compressedClassic(model);
}

KvtBytes embeddedFiles(int32_t n) {
    KvtChunkedOptions chunked;
    chunked.embeddedFiles.reserve(static_cast<std::size_t>(n));
    for (int32_t i = 0; i < n; ++i) {
        chunked.embeddedFiles.push_back(
            KvtEmbeddedFile{.name = "file_" + std::to_string(i) + ".png", .content = {1}});
    }
    return writeKvt34(base(34), chunked);
}

// A few hundred bytes declaring n meshes and n UV sets that are not there.
KvtBytes declaredMeshesAndUVSets(int32_t n) {
    KvtChunkedOptions chunked;
    chunked.sectionCounts[kvtSectionIndex(KvtSection::kMeshes)] = n;
    chunked.sectionCounts[kvtSectionIndex(KvtSection::kUVSets)] = n;
    return writeKvt34(base(34), chunked);
}

// A compressed file whose header declares a 4 GiB image over a stream of a small model.
KvtBytes declaredHugeImage(int32_t) {
    KvtWriteOptions options;
    options.compressed = true;
    options.header.length = 0xFFFFFFF0u;
    return writeKvt(base(33), options);
}

// A version-33 header, then zeros: the zlib stream of an image of `imageBytes` bytes.
KvtBytes zlibBomb(int32_t) {
    constexpr uint64_t kImageBytes = 0xFFFFFFF0u;
    KvtWriteOptions options;
    options.compressed = true;
    const KvtBytes plain = writeKvt(base(33), options);
    // The outer header of the writer's compressed file, followed by our own stream.
    constexpr std::size_t kHeaderBytes = 128;
    KvtBytes file(plain.begin(), plain.begin() + kHeaderBytes);
    for (int i = 0; i < 4; ++i) {
        file[12 + i] = static_cast<uint8_t>(kImageBytes >> (8 * i));
    }
    z_stream stream{};
    if (deflateInit(&stream, Z_BEST_COMPRESSION) != Z_OK) {
        fail("deflateInit failed");
    }
    const KvtBytes header = writeKvtImage(base(33)).bytes;
    std::vector<uint8_t> zeros(std::size_t{1} << 20, 0);
    std::vector<uint8_t> out(std::size_t{1} << 20);
    uint64_t fed = 0;
    bool first = true;
    int status = Z_OK;
    while (status != Z_STREAM_END) {
        const std::vector<uint8_t>& source = first ? header : zeros;
        uint64_t take = first ? source.size() : std::min<uint64_t>(zeros.size(), kImageBytes - fed);
        stream.next_in = const_cast<uint8_t*>(source.data());
        stream.avail_in = static_cast<uInt>(take);
        const int flush = fed + take >= kImageBytes ? Z_FINISH : Z_NO_FLUSH;
        do {
            stream.next_out = out.data();
            stream.avail_out = static_cast<uInt>(out.size());
            status = deflate(&stream, flush);
            file.insert(file.end(), out.data(), out.data() + (out.size() - stream.avail_out));
        } while (stream.avail_out == 0 || (flush == Z_FINISH && status != Z_STREAM_END));
        fed += take;
        first = false;
    }
    deflateEnd(&stream);
    return file;
}

// A compressed version-34 file with one embedded file of 256 MiB of zeros.
KvtBytes largeEmbeddedFileCompressed(int32_t) {
    KvtChunkedOptions chunked;
    chunked.embeddedFiles.push_back(
        KvtEmbeddedFile{.name = "large.bin", .content = KvtBytes(std::size_t{256} << 20, 0)});
    KvtChunkedWriteOptions options;
    options.compressionDepth = 1;
    options.compressionLevel = 9;
    return writeKvt34(base(34), chunked, options);
}

struct Shape {
    const char* name;
    bool scaled;  // written at every size; otherwise once
    std::function<KvtBytes(int32_t)> write;
};

const std::vector<Shape>& shapes() {
    static const std::vector<Shape> all{
        {"maps-unknown-kind", true, unknownKindMaps},
        {"empty-polygons-z", true, emptyPolygonsCompressed},
        {"groups", true, [](int32_t n) { return groups(n, false); }},
        {"groups-same-name", true, [](int32_t n) { return groups(n, true); }},
        {"materials-same-name", true, sameNamedMaterials},
        {"materials-z", true, materialsCompressed},
        {"bones-x-animations-z", true, bonesTimesAnimationsCompressed},
        {"embedded-files", true, embeddedFiles},
        {"declared-meshes-uvsets", true, declaredMeshesAndUVSets},
        {"declared-4gib-image", false, declaredHugeImage},
        {"zlib-bomb-4gib", false, zlibBomb},
        {"embedded-256mib-z", false, largeEmbeddedFileCompressed},
    };
    return all;
}

struct Outcome {
    bool imported = false;
    std::string reason;
    double seconds = 0;
    long peakKib = 0;
};

// Imports `file` in a fresh folder beside it, with the tool or, without one, in a child of this
// process through PluginMain and our host.
Outcome importOnce(const fs::path& tool, const fs::path& file) {
    const fs::path work = file.parent_path() / "run";
    fs::remove_all(work);
    fs::create_directories(work);
    const fs::path model = work / file.filename();
    fs::copy_file(file, model);
    const fs::path errors = work / "stderr.txt";
    std::fflush(stdout);
    const auto start = std::chrono::steady_clock::now();
    const pid_t child = fork();
    if (child < 0) {
        fail("cannot start a process");
    }
    if (child == 0) {
        std::freopen("/dev/null", "w", stdout);
        std::freopen(errors.c_str(), "w", stderr);
        if (tool.empty()) {
            qmhost::Host host;
            const qmhost::ImportOutcome outcome =
                qmhost::runImport(host, PluginMain, qmhost::utf8ToUtf16(model.string()));
            _exit(outcome.result() == 0 && outcome.sceneDelivered ? 0 : 1);
        }
        execl(tool.c_str(), tool.c_str(), model.c_str(), static_cast<char*>(nullptr));
        _exit(125);
    }
    int status = 0;
    rusage usage{};
    while (wait4(child, &status, 0, &usage) < 0) {
        if (errno != EINTR) {
            fail("cannot wait for the tool");
        }
    }
    Outcome outcome;
    outcome.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    outcome.peakKib = usage.ru_maxrss;
    outcome.imported = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    std::ifstream in(errors);
    std::getline(in, outcome.reason);
    if (WIFSIGNALED(status)) {
        outcome.reason = "killed by signal " + std::to_string(WTERMSIG(status));
    }
    // "quillmesh-import: FILE: reason": the reason alone.
    const std::string prefix = "quillmesh-import: ";
    const std::size_t fileEnd = outcome.reason.find(": ", prefix.size());
    if (outcome.reason.rfind(prefix, 0) == 0 && fileEnd != std::string::npos) {
        outcome.reason.erase(0, fileEnd + 2);
    }
    fs::remove_all(work);
    return outcome;
}

fs::path ensureFile(const fs::path& folder, const Shape& shape, int32_t n) {
    const std::string stem =
        std::string(shape.name) + (shape.scaled ? "-" + std::to_string(n) : "");
    const fs::path path = folder / (stem + ".r" + std::to_string(kRevision) + ".kvt");
    if (!fs::exists(path)) {
        std::fflush(stdout);
        // Written by a child process, so that this one stays small: a child's peak resident set
        // starts from its parent's.
        const fs::path partial = folder / (stem + ".partial");
        const pid_t child = fork();
        if (child < 0) {
            fail("cannot start a process");
        }
        if (child == 0) {
            writeKvtBytesFile(partial, shape.write(n));
            _exit(0);
        }
        int status = 0;
        while (waitpid(child, &status, 0) < 0) {
            if (errno != EINTR) {
                fail("cannot wait for the writer");
            }
        }
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            fail("cannot write " + partial.string());
        }
        fs::rename(partial, path);
    }
    return path;
}

}  // namespace

int main(int argc, char** argv) {
    fs::path tool;
    fs::path folder;
    std::string only;
    std::vector<int32_t> sizes{10000, 100000, 1000000};
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--tool" && i + 1 < argc) {
            tool = argv[++i];
        } else if (arg == "--only" && i + 1 < argc) {
            only = argv[++i];
        } else if (arg == "--sizes" && i + 1 < argc) {
            sizes.clear();
            std::stringstream list(argv[++i]);
            for (std::string item; std::getline(list, item, ',');) {
                sizes.push_back(std::stoi(item));
            }
        } else if (folder.empty() && !arg.starts_with("--")) {
            folder = arg;
        } else {
            fail("usage: hostile_bench --tool PATH [--sizes N,N,...] [--only SHAPE] FOLDER");
        }
    }
    if (tool.empty() || folder.empty()) {
        fail("usage: hostile_bench --tool PATH [--sizes N,N,...] [--only SHAPE] FOLDER");
    }
    fs::create_directories(folder);
    std::printf("%-24s %9s %12s %-8s %9s %8s %9s %8s %10s  %s\n", "shape", "elements", "file bytes",
                "result", "tool ms", "tool MB", "import ms", "imp MB", "ns/elem", "reason");
    std::fflush(stdout);
    for (const Shape& shape : shapes()) {
        if (!only.empty() && only != shape.name) {
            continue;
        }
        const std::vector<int32_t> counts = shape.scaled ? sizes : std::vector<int32_t>{0};
        for (const int32_t n : counts) {
            const fs::path file = ensureFile(folder, shape, n);
            const Outcome outcome = importOnce(tool, file);
            const Outcome alone = importOnce({}, file);
            const std::string perElement =
                n > 0 ? std::to_string(static_cast<long>(alone.seconds * 1e9 / n)) : "-";
            const char* result = outcome.imported ? "imported" : "refused";
            if (alone.imported != outcome.imported) {
                result = "DIFFERS";
            }
            std::printf("%-24s %9s %12ju %-8s %9.1f %8.1f %9.1f %8.1f %10s  %s\n", shape.name,
                        n > 0 ? std::to_string(n).c_str() : "-", fs::file_size(file), result,
                        outcome.seconds * 1e3, static_cast<double>(outcome.peakKib) * 1024 / 1e6,
                        alone.seconds * 1e3, static_cast<double>(alone.peakKib) * 1024 / 1e6,
                        perElement.c_str(),
                        outcome.imported ? "" : outcome.reason.substr(0, 100).c_str());
            std::fflush(stdout);
        }
    }
    return 0;
}
