// make_example: writes the bundled example into a folder: sample.kvt (a compressed version-33
// ModelFile made with our ModelFile writer) and wood.png, the texture of its wooden plinth, which
// the model names by its bare file name so that the plug-in finds it beside the model.
//
//   make_example FOLDER
//
// The scene: a round wooden plinth (textured), a lathe-turned vase in a blue glaze with two gold
// bands, and a jade ring lying around the vase; 800 triangles over four materials, with one UV
// set. The output is the same on every run: coordinates are snapped to a 1/4096 grid (so that
// the last bit of a sine cannot change a file) and the texture is made with integer arithmetic
// only.
#include <zlib.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <numbers>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/kvt_writer.h"

namespace {

namespace fs = std::filesystem;
using quillmesh::testsupport::KvtBytes;
using quillmesh::testsupport::KvtMaterial;
using quillmesh::testsupport::KvtModel;
using quillmesh::testsupport::KvtPolygon;
using quillmesh::testsupport::KvtVec3;
using quillmesh::testsupport::KvtWriteOptions;

constexpr int kTextureSize = 64;
constexpr const char* kTextureName = "wood.png";
constexpr int kSegments = 20;       // around the axis, for every part
constexpr int kTorusRingSteps = 8;  // around the ring's tube
constexpr float kPlinthRadius = 1.2f;
constexpr float kPlinthHeight = 0.2f;
constexpr float kRingRadius = 0.85f;
constexpr float kRingTube = 0.09f;

// Model material indices.
constexpr int32_t kOak = 0;
constexpr int32_t kGlaze = 1;
constexpr int32_t kGold = 2;
constexpr int32_t kJade = 3;

// The vase's profile, (radius, height) from its foot on the plinth to its lip.
constexpr std::array<std::array<float, 2>, 11> kVaseProfile{{{0.30f, 0.20f},
                                                             {0.40f, 0.26f},
                                                             {0.50f, 0.38f},
                                                             {0.56f, 0.55f},
                                                             {0.54f, 0.72f},
                                                             {0.44f, 0.90f},
                                                             {0.30f, 1.04f},
                                                             {0.22f, 1.14f},
                                                             {0.22f, 1.24f},
                                                             {0.28f, 1.33f},
                                                             {0.33f, 1.38f}}};
// Bands of the profile (band k lies between points k and k + 1) glazed in gold.
constexpr std::array<int, 2> kGoldBands{4, 9};

float snap(double value) {
    return static_cast<float>(std::round(value * 4096.0) / 4096.0);
}

KvtVec3 subtract(const KvtVec3& a, const KvtVec3& b) {
    return {a[0] - b[0], a[1] - b[1], a[2] - b[2]};
}

KvtVec3 cross(const KvtVec3& a, const KvtVec3& b) {
    return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}

float dot(const KvtVec3& a, const KvtVec3& b) {
    return a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
}

// Vertices with one UV coordinate each (a vertex's UV index is its own index), and triangles
// wound counter-clockwise seen from outside.
class MeshBuilder {
  public:
    explicit MeshBuilder(KvtModel& model) : model_(model) {
        model_.uvSets = {{.name = "UVSet1"}};
        model_.meshes = {{}};
    }

    int32_t vertex(double x, double y, double z, double u, double v) {
        model_.vertices.push_back({.position = {snap(x), snap(y), snap(z)}});
        model_.uvSets[0].coords.push_back({.tag = 0, .u = snap(u), .v = snap(v)});
        return static_cast<int32_t>(model_.vertices.size() - 1);
    }

    // Adds the triangle, turned round when its face normal points away from `outward`.
    void triangle(int32_t a, int32_t b, int32_t c, int32_t material, const KvtVec3& outward) {
        const KvtVec3& pa = position(a);
        const KvtVec3 normal = cross(subtract(position(b), pa), subtract(position(c), pa));
        if (dot(normal, outward) < 0) {
            std::swap(b, c);
        }
        KvtPolygon polygon{.vertices = {a, b, c}, .materialIndex = material};
        polygon.uvLayers = {{.uvIndices = {a, b, c}}};
        model_.meshes[0].polygons.push_back(std::move(polygon));
    }

    // A quad as two triangles, split along a-c.
    void quad(int32_t a, int32_t b, int32_t c, int32_t d, int32_t material,
              const KvtVec3& outward) {
        triangle(a, b, c, material, outward);
        triangle(a, c, d, material, outward);
    }

    const KvtVec3& position(int32_t index) const {
        return model_.vertices[static_cast<std::size_t>(index)].position;
    }

  private:
    KvtModel& model_;
};

double angleOf(int step) {
    return 2.0 * std::numbers::pi * step / kSegments;
}

// The centroid's direction from the vertical axis: outward for the sides of turned shapes.
KvtVec3 radialAt(const MeshBuilder& mesh, std::initializer_list<int32_t> corners) {
    KvtVec3 sum{0, 0, 0};
    for (const int32_t corner : corners) {
        const KvtVec3& p = mesh.position(corner);
        sum[0] += p[0];
        sum[2] += p[2];
    }
    return sum;
}

void addPlinth(MeshBuilder& mesh) {
    const KvtVec3 up{0, 1, 0};
    const KvtVec3 down{0, -1, 0};
    // Caps: planar UVs, a centre and one ring each.
    for (const bool top : {true, false}) {
        const double y = top ? kPlinthHeight : 0.0;
        const int32_t centre = mesh.vertex(0, y, 0, 0.5, 0.5);
        std::array<int32_t, kSegments> ring{};
        for (int i = 0; i < kSegments; ++i) {
            const double a = angleOf(i);
            ring[i] = mesh.vertex(kPlinthRadius * std::cos(a), y, kPlinthRadius * std::sin(a),
                                  0.5 + 0.5 * std::cos(a), 0.5 + 0.5 * std::sin(a));
        }
        for (int i = 0; i < kSegments; ++i) {
            mesh.triangle(centre, ring[i], ring[(i + 1) % kSegments], kOak, top ? up : down);
        }
    }
    // Side: the texture wraps once around; the seam column is doubled for its UVs.
    std::array<int32_t, kSegments + 1> bottom{};
    std::array<int32_t, kSegments + 1> top{};
    for (int i = 0; i <= kSegments; ++i) {
        const double a = angleOf(i);
        const double x = kPlinthRadius * std::cos(a);
        const double z = kPlinthRadius * std::sin(a);
        const double u = static_cast<double>(i) / kSegments;
        bottom[i] = mesh.vertex(x, 0, z, u, 0.0);
        top[i] = mesh.vertex(x, kPlinthHeight, z, u, 0.25);
    }
    for (int i = 0; i < kSegments; ++i) {
        mesh.quad(bottom[i], bottom[i + 1], top[i + 1], top[i], kOak,
                  radialAt(mesh, {bottom[i], bottom[i + 1]}));
    }
}

bool isGoldBand(int band) {
    for (const int gold : kGoldBands) {
        if (band == gold) {
            return true;
        }
    }
    return false;
}

void addVase(MeshBuilder& mesh) {
    const int rings = static_cast<int>(kVaseProfile.size());
    std::vector<std::array<int32_t, kSegments + 1>> grid(kVaseProfile.size());
    for (int k = 0; k < rings; ++k) {
        const auto [radius, height] = kVaseProfile[k];
        for (int i = 0; i <= kSegments; ++i) {
            const double a = angleOf(i);
            grid[k][i] = mesh.vertex(radius * std::cos(a), height, radius * std::sin(a),
                                     static_cast<double>(i) / kSegments,
                                     static_cast<double>(k) / (rings - 1));
        }
    }
    for (int k = 0; k + 1 < rings; ++k) {
        const int32_t material = isGoldBand(k) ? kGold : kGlaze;
        for (int i = 0; i < kSegments; ++i) {
            mesh.quad(grid[k][i], grid[k][i + 1], grid[k + 1][i + 1], grid[k + 1][i], material,
                      radialAt(mesh, {grid[k][i], grid[k][i + 1], grid[k + 1][i + 1]}));
        }
    }
}

void addRing(MeshBuilder& mesh) {
    const double centreHeight = kPlinthHeight + kRingTube;
    std::vector<std::array<int32_t, kTorusRingSteps + 1>> grid(kSegments + 1);
    for (int i = 0; i <= kSegments; ++i) {
        const double a = angleOf(i);
        for (int j = 0; j <= kTorusRingSteps; ++j) {
            const double b = 2.0 * std::numbers::pi * j / kTorusRingSteps;
            const double r = kRingRadius + kRingTube * std::cos(b);
            grid[i][j] = mesh.vertex(r * std::cos(a), centreHeight + kRingTube * std::sin(b),
                                     r * std::sin(a), static_cast<double>(i) / kSegments,
                                     static_cast<double>(j) / kTorusRingSteps);
        }
    }
    for (int i = 0; i < kSegments; ++i) {
        for (int j = 0; j < kTorusRingSteps; ++j) {
            // Outward: away from the tube's centre line, at the middle of the quad's tube span.
            const double a = angleOf(i);
            const double b = 2.0 * std::numbers::pi * (j + 0.5) / kTorusRingSteps;
            const KvtVec3 outward{static_cast<float>(std::cos(b) * std::cos(a)),
                                  static_cast<float>(std::sin(b)),
                                  static_cast<float>(std::cos(b) * std::sin(a))};
            mesh.quad(grid[i][j], grid[i + 1][j], grid[i + 1][j + 1], grid[i][j + 1], kJade,
                      outward);
        }
    }
}

KvtMaterial material(const char* name, std::array<float, 3> diffuse, std::array<float, 3> specular,
                     float shininess, int32_t flags) {
    KvtMaterial m;
    m.name = name;
    m.flags = flags;
    // Diffuse, ambient, emissive, specular, and a fifth colour the importer does not read.
    m.colours = {{{diffuse[0], diffuse[1], diffuse[2], 1},
                  {diffuse[0] * 0.25f, diffuse[1] * 0.25f, diffuse[2] * 0.25f, 1},
                  {0, 0, 0, 1},
                  {specular[0], specular[1], specular[2], 1},
                  {0, 0, 0, 1}}};
    m.shininess = shininess;
    m.opacity = 1;
    return m;
}

KvtModel exampleModel() {
    KvtModel model;
    model.version = 33;
    constexpr int32_t kTwoSided = 2;
    KvtMaterial oak = material("Oak", {0.80f, 0.62f, 0.42f}, {0.20f, 0.18f, 0.15f}, 16, 0);
    // The main texture (key 0) as a bare file name: it is looked up beside the model.
    oak.maps = {{.key = 0, .kind = 1, .fileName = kTextureName}};
    model.materials = {
        oak,
        // The vase is open at the top, so its inside shows: both sides are drawn.
        material("Glaze", {0.12f, 0.28f, 0.78f}, {0.90f, 0.90f, 0.90f}, 110, kTwoSided),
        material("Gold", {0.95f, 0.74f, 0.25f}, {1.00f, 0.90f, 0.60f}, 80, kTwoSided),
        material("Jade", {0.22f, 0.62f, 0.38f}, {0.50f, 0.60f, 0.50f}, 60, 0),
    };
    MeshBuilder mesh(model);
    addPlinth(mesh);
    addVase(mesh);
    addRing(mesh);
    return model;
}

// Wood grain: wavy bands along x, periodic over the image in both directions (the texture
// wraps around the plinth), with a little per-pixel noise. Integer arithmetic only.
int triangleWave(int t, int period) {
    const int phase = ((t % period) + period) % period;
    return phase < period / 2 ? phase : period - phase;
}

uint32_t pixelNoise(uint32_t x, uint32_t y) {
    uint32_t h = x * 0x9E3779B1u ^ (y + 0x7F4A7C15u) * 0x85EBCA77u;
    h ^= h >> 15;
    h *= 0x2C1B3C6Du;
    h ^= h >> 12;
    return h;
}

std::vector<uint8_t> woodPixels() {
    constexpr std::array<int, 3> kLight{222, 176, 120};
    constexpr std::array<int, 3> kDark{146, 94, 52};
    std::vector<uint8_t> rgb;
    rgb.reserve(kTextureSize * kTextureSize * 3);
    for (int y = 0; y < kTextureSize; ++y) {
        for (int x = 0; x < kTextureSize; ++x) {
            const int wave =
                triangleWave(x, kTextureSize) / 4 + triangleWave(3 * x, kTextureSize) / 8;
            const int shade = triangleWave(2 * y + wave, 16);  // 0 (dark) .. 8 (light)
            const int noise = static_cast<int>(pixelNoise(x, y) % 13) - 6;
            for (std::size_t c = 0; c < 3; ++c) {
                const int value = kDark[c] + (kLight[c] - kDark[c]) * shade / 8 + noise;
                rgb.push_back(static_cast<uint8_t>(std::clamp(value, 0, 255)));
            }
        }
    }
    return rgb;
}

void appendBigEndian(KvtBytes& out, uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) {
        out.push_back(static_cast<uint8_t>(value >> shift));
    }
}

void appendChunk(KvtBytes& out, const char (&type)[5], const KvtBytes& data) {
    appendBigEndian(out, static_cast<uint32_t>(data.size()));
    KvtBytes typed(type, type + 4);
    typed.insert(typed.end(), data.begin(), data.end());
    out.insert(out.end(), typed.begin(), typed.end());
    appendBigEndian(
        out, static_cast<uint32_t>(crc32(0L, typed.data(), static_cast<uInt>(typed.size()))));
}

// An 8-bit RGB PNG: signature, IHDR, one IDAT (every row with filter 0), IEND.
KvtBytes encodePng(int width, int height, const std::vector<uint8_t>& rgb) {
    KvtBytes raw;
    const auto rowBytes = static_cast<std::size_t>(width) * 3;
    for (int y = 0; y < height; ++y) {
        raw.push_back(0);
        const auto row = rgb.begin() + static_cast<std::ptrdiff_t>(y * rowBytes);
        raw.insert(raw.end(), row, row + static_cast<std::ptrdiff_t>(rowBytes));
    }
    uLongf packedSize = compressBound(static_cast<uLong>(raw.size()));
    KvtBytes packed(packedSize);
    if (compress2(packed.data(), &packedSize, raw.data(), static_cast<uLong>(raw.size()),
                  Z_BEST_COMPRESSION) != Z_OK) {
        throw std::runtime_error("zlib could not compress the texture");
    }
    packed.resize(packedSize);

    KvtBytes png{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    KvtBytes header;
    appendBigEndian(header, static_cast<uint32_t>(width));
    appendBigEndian(header, static_cast<uint32_t>(height));
    header.insert(header.end(), {8, 2, 0, 0, 0});  // depth 8, RGB, deflate, filter 0, no interlace
    appendChunk(png, "IHDR", header);
    appendChunk(png, "IDAT", packed);
    appendChunk(png, "IEND", {});
    return png;
}

void writeBytes(const fs::path& path, const KvtBytes& bytes) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    file.close();
    if (!file) {
        throw std::runtime_error("cannot write " + path.string());
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_example FOLDER\n");
        return 2;
    }
    try {
        const fs::path folder(argv[1]);
        fs::create_directories(folder);
        KvtWriteOptions options;
        options.compressed = true;
        options.compressionLevel = Z_BEST_COMPRESSION;
        const KvtModel model = exampleModel();
        quillmesh::testsupport::writeKvtFile(folder / "sample.kvt", model, options);
        writeBytes(folder / kTextureName, encodePng(kTextureSize, kTextureSize, woodPixels()));
        std::printf("make_example: wrote %s and %s (%zu vertices, %zu triangles)\n",
                    (folder / "sample.kvt").string().c_str(),
                    (folder / kTextureName).string().c_str(), model.vertices.size(),
                    model.meshes[0].polygons.size());
    } catch (const std::exception& error) {
        std::fprintf(stderr, "make_example: %s\n", error.what());
        return 1;
    }
    return 0;
}
