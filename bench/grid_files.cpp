// The benchmark grid's files: the ModelFiles through our test-support writers, the binary glTF
// file written here, and the record that lets a later run skip sizes already written.
#include "bench/grid_files.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cctype>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <limits>
#include <numbers>
#include <sstream>
#include <stdexcept>

#include "tests/support/kvt_chunks.h"
#include "tests/support/kvt_writer.h"

namespace quillmesh::bench {
namespace {

namespace fs = std::filesystem;
using namespace quillmesh::testsupport;

// Changes whenever the files' contents change, so that older files are written anew.
constexpr int kGridRevision = 1;
constexpr int32_t kModelVersion = 33;

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

struct GridVertex {
    std::array<float, 3> position;
    std::array<float, 2> uv;
};

GridVertex gridVertex(const GridSize& size, int32_t row, int32_t column) {
    const double x = static_cast<double>(column) / size.columns;
    const double y = static_cast<double>(row) / size.rows;
    const double z = 0.1 * std::sin(6 * std::numbers::pi * x) * std::cos(4 * std::numbers::pi * y);
    return {{static_cast<float>(x), static_cast<float>(y), static_cast<float>(z)},
            {static_cast<float>(x), static_cast<float>(y)}};
}

// Calls visit(a, b, c) for every triangle, counter-clockwise seen from +z: per cell the lower
// right and the upper left triangle.
template <typename Visit>
void forEachTriangle(const GridSize& size, Visit&& visit) {
    const int32_t stride = size.columns + 1;
    for (int32_t r = 0; r < size.rows; ++r) {
        for (int32_t c = 0; c < size.columns; ++c) {
            const int32_t a = r * stride + c;
            const int32_t b = a + 1;
            const int32_t d = a + stride;
            visit(a, b, d);
            visit(b, d + 1, d);
        }
    }
}

KvtModel gridModel(const GridSize& size) {
    KvtModel model;
    model.version = kModelVersion;
    model.materials = {{.name = "Material"}};
    KvtUVSet uvSet{.name = "UVSet1"};
    model.vertices.reserve(static_cast<std::size_t>(size.vertices()));
    uvSet.coords.reserve(static_cast<std::size_t>(size.vertices()));
    for (int32_t r = 0; r <= size.rows; ++r) {
        for (int32_t c = 0; c <= size.columns; ++c) {
            const GridVertex vertex = gridVertex(size, r, c);
            model.vertices.push_back({.position = vertex.position});
            uvSet.coords.push_back({.tag = 0, .u = vertex.uv[0], .v = vertex.uv[1]});
        }
    }
    model.uvSets = {std::move(uvSet)};
    KvtMesh mesh;
    mesh.polygons.reserve(static_cast<std::size_t>(size.triangles()));
    forEachTriangle(size, [&mesh](int32_t a, int32_t b, int32_t c) {
        KvtPolygon polygon{.vertices = {a, b, c}, .materialIndex = 0};
        polygon.uvLayers = {{.uvIndices = {a, b, c}}};
        mesh.polygons.push_back(std::move(polygon));
    });
    model.meshes = {std::move(mesh)};
    return model;
}

void putU32(std::vector<uint8_t>& out, uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8) {
        out.push_back(static_cast<uint8_t>(value >> shift));
    }
}

void putF32(std::vector<uint8_t>& out, float value) {
    putU32(out, std::bit_cast<uint32_t>(value));
}

// Shortest text that reads back as the same float.
std::string floatText(float value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.9g", static_cast<double>(value));
    return text;
}

std::string vec3Text(const std::array<float, 3>& values) {
    return "[" + floatText(values[0]) + "," + floatText(values[1]) + "," + floatText(values[2]) +
           "]";
}

uint32_t checkedU32(std::size_t value) {
    if (value > std::numeric_limits<uint32_t>::max()) {
        throw std::runtime_error("bench grid: a glTF buffer of 4 GiB or more");
    }
    return static_cast<uint32_t>(value);
}

void writeBytes(const fs::path& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    if (!out.flush()) {
        throw std::runtime_error("cannot write " + path.string());
    }
}

fs::path recordPath(const fs::path& folder, const GridSize& size) {
    return folder / ("grid-" + size.label + ".txt");
}

// The record's lines that do not depend on the files written.
std::string recordHead(const GridSize& size) {
    std::ostringstream text;
    text << "revision " << kGridRevision << "\ncolumns " << size.columns << "\nrows " << size.rows
         << "\nvertices " << size.vertices() << "\ntriangles " << size.triangles() << "\n";
    return text.str();
}

// True when the record names this grid and every file has the size it recorded.
bool recordMatches(const fs::path& folder, const GridSize& size) {
    std::ifstream in(recordPath(folder, size));
    if (!in) {
        return false;
    }
    std::ostringstream whole;
    whole << in.rdbuf();
    const std::string text = whole.str();
    const std::string head = recordHead(size);
    if (text.compare(0, head.size(), head) != 0) {
        return false;
    }
    std::istringstream files(text.substr(head.size()));
    std::size_t found = 0;
    std::string kind;
    uintmax_t bytes = 0;
    while (files >> kind >> bytes) {
        for (const GridFileKind fileKind : kGridFileKinds) {
            if (kind != gridFileKindName(fileKind)) {
                continue;
            }
            std::error_code error;
            const uintmax_t actual = fs::file_size(gridFilePath(folder, size, fileKind), error);
            if (error || actual != bytes) {
                return false;
            }
            ++found;
        }
    }
    return found == std::size(kGridFileKinds);
}

}  // namespace

const std::vector<GridSize>& gridSizes() {
    static const std::vector<GridSize> sizes{
        {"10k", 100, 50},
        {"1m", 1000, 500},
        {"4m", 2000, 1000},
    };
    return sizes;
}

std::optional<GridSize> findGridSize(std::string_view label) {
    std::string lower(label);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    for (const GridSize& size : gridSizes()) {
        if (size.label == lower) {
            return size;
        }
    }
    return std::nullopt;
}

const char* gridFileKindName(GridFileKind kind) {
    switch (kind) {
        case GridFileKind::kClassic:
            return "v33";
        case GridFileKind::kClassicCompressed:
            return "v33z";
        case GridFileKind::kChunked:
            return "v34";
        case GridFileKind::kGlb:
            return "glb";
    }
    return "?";
}

fs::path gridFilePath(const fs::path& folder, const GridSize& size, GridFileKind kind) {
    const std::string stem = "grid-" + size.label;
    if (kind == GridFileKind::kGlb) {
        return folder / (stem + ".glb");
    }
    return folder / (stem + "-" + gridFileKindName(kind) + ".kvt");
}

std::vector<uint8_t> gridGlb(const GridSize& size) {
    const auto vertexCount = static_cast<std::size_t>(size.vertices());
    const std::size_t indexCount = static_cast<std::size_t>(size.triangles()) * 3;
    const std::size_t positionBytes = vertexCount * 12;
    const std::size_t uvBytes = vertexCount * 8;
    const std::size_t indexBytes = indexCount * 4;

    std::vector<uint8_t> positions;
    std::vector<uint8_t> uvs;
    positions.reserve(positionBytes);
    uvs.reserve(uvBytes);
    std::array<float, 3> low{std::numeric_limits<float>::max(), std::numeric_limits<float>::max(),
                             std::numeric_limits<float>::max()};
    std::array<float, 3> high{std::numeric_limits<float>::lowest(),
                              std::numeric_limits<float>::lowest(),
                              std::numeric_limits<float>::lowest()};
    for (int32_t r = 0; r <= size.rows; ++r) {
        for (int32_t c = 0; c <= size.columns; ++c) {
            const GridVertex vertex = gridVertex(size, r, c);
            for (std::size_t i = 0; i < 3; ++i) {
                putF32(positions, vertex.position[i]);
                low[i] = std::min(low[i], vertex.position[i]);
                high[i] = std::max(high[i], vertex.position[i]);
            }
            putF32(uvs, vertex.uv[0]);
            putF32(uvs, vertex.uv[1]);
        }
    }

    // Every view is a multiple of four bytes long, so each one starts aligned.
    const std::size_t binaryBytes = positionBytes + uvBytes + indexBytes;
    std::ostringstream json;
    json << R"({"asset":{"version":"2.0","generator":"quillmesh bench_files"},)"
         << R"("scene":0,"scenes":[{"nodes":[0]}],"nodes":[{"name":"grid","mesh":0}],)"
         << R"("meshes":[{"name":"grid","primitives":[{"attributes":{"POSITION":0,)"
         << R"("TEXCOORD_0":1},"indices":2,"material":0,"mode":4}]}],)"
         << R"("materials":[{"name":"Material","pbrMetallicRoughness":)"
         << R"({"baseColorFactor":[1,1,1,1],"metallicFactor":0,"roughnessFactor":1}}],)"
         << R"("buffers":[{"byteLength":)" << binaryBytes << "}],"
         << R"("bufferViews":[)"
         << R"({"buffer":0,"byteOffset":0,"byteLength":)" << positionBytes << R"(,"target":34962},)"
         << R"({"buffer":0,"byteOffset":)" << positionBytes << R"(,"byteLength":)" << uvBytes
         << R"(,"target":34962},)"
         << R"({"buffer":0,"byteOffset":)" << positionBytes + uvBytes << R"(,"byteLength":)"
         << indexBytes << R"(,"target":34963}],)"
         << R"("accessors":[)"
         << R"({"bufferView":0,"componentType":5126,"count":)" << vertexCount
         << R"(,"type":"VEC3","min":)" << vec3Text(low) << R"(,"max":)" << vec3Text(high) << "},"
         << R"({"bufferView":1,"componentType":5126,"count":)" << vertexCount
         << R"(,"type":"VEC2"},)"
         << R"({"bufferView":2,"componentType":5125,"count":)" << indexCount
         << R"(,"type":"SCALAR"}]})";
    std::string jsonText = json.str();
    // The JSON chunk is padded with spaces, the binary chunk with zeros (none needed here).
    jsonText.append((4 - jsonText.size() % 4) % 4, ' ');

    const std::size_t total = 12 + 8 + jsonText.size() + 8 + binaryBytes;
    std::vector<uint8_t> glb;
    glb.reserve(total);
    putU32(glb, 0x46546C67);  // "glTF"
    putU32(glb, 2);
    putU32(glb, checkedU32(total));
    putU32(glb, checkedU32(jsonText.size()));
    putU32(glb, 0x4E4F534A);  // "JSON"
    glb.insert(glb.end(), jsonText.begin(), jsonText.end());
    putU32(glb, checkedU32(binaryBytes));
    putU32(glb, 0x004E4942);  // "BIN\0"
    glb.insert(glb.end(), positions.begin(), positions.end());
    glb.insert(glb.end(), uvs.begin(), uvs.end());
    forEachTriangle(size, [&glb](int32_t a, int32_t b, int32_t c) {
        putU32(glb, static_cast<uint32_t>(a));
        putU32(glb, static_cast<uint32_t>(b));
        putU32(glb, static_cast<uint32_t>(c));
    });
    return glb;
}

GridWriteTimes ensureGridFiles(const fs::path& folder, const GridSize& size, bool force) {
    GridWriteTimes times;
    fs::create_directories(folder);
    if (!force && recordMatches(folder, size)) {
        times.cached = true;
        return times;
    }
    // Without a matching record the files are incomplete: drop it first, so that a run stopped
    // halfway is not taken for a finished one.
    fs::remove(recordPath(folder, size));

    auto start = Clock::now();
    const KvtModel model = gridModel(size);
    times.buildModel = secondsSince(start);

    start = Clock::now();
    writeKvtFile(gridFilePath(folder, size, GridFileKind::kClassic), model);
    times.writeClassic = secondsSince(start);

    start = Clock::now();
    writeKvtFile(gridFilePath(folder, size, GridFileKind::kClassicCompressed), model,
                 KvtWriteOptions{.compressed = true});
    times.writeCompressed = secondsSince(start);

    start = Clock::now();
    writeKvtBytesFile(gridFilePath(folder, size, GridFileKind::kChunked), writeKvt34(model));
    times.writeChunked = secondsSince(start);

    start = Clock::now();
    writeBytes(gridFilePath(folder, size, GridFileKind::kGlb), gridGlb(size));
    times.writeGlb = secondsSince(start);

    std::ostringstream record;
    record << recordHead(size);
    for (const GridFileKind kind : kGridFileKinds) {
        record << gridFileKindName(kind) << " " << fs::file_size(gridFilePath(folder, size, kind))
               << "\n";
    }
    const std::string text = record.str();
    writeBytes(recordPath(folder, size), std::vector<uint8_t>(text.begin(), text.end()));
    return times;
}

}  // namespace quillmesh::bench
