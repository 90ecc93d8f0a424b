// Writes the fuzz seed corpora.
//
//   make_seeds OUTPUT_FOLDER              ModelFiles, for fuzz_model and fuzz_import
//   make_seeds --roundtrip OUTPUT_FOLDER  inputs of fuzz_roundtrip
//
// The ModelFiles are of every classic version, plain and compressed, from the
// smallest model to one that fills every section, the textured cube, and
// chunked version-34 files: plain, compressed once and twice, with every
// vertex-record flag, unknown and oddly sized chunks, chunks nested deeper
// than usual, embedded files (one of them a texture the materials name) and a
// name list. The round-trip inputs choose every version with each of its
// compressions, the model's choices being fixed pseudo-random bytes.
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "fuzz/roundtrip_input.h"
#include "tests/support/kvt_chunks.h"
#include "tests/support/kvt_writer.h"

namespace {

using namespace quillmesh::testsupport;

// One element in every section, with a map of every kind and weighted,
// coloured vertices.
KvtModel everySectionModel(int32_t version) {
    KvtModel model = triangleModel(version);
    model.flags = kKvtFlagVertexNormals | kKvtFlagVertexColours;
    model.lights.push_back(KvtLight{.name = "Lamp"});
    model.cameras.push_back(KvtCamera{.name = "Camera"});
    for (int32_t kind = 1; kind <= 7; ++kind) {
        KvtMap map;
        map.key = kind;
        map.kind = kind;
        map.fileName = "wood.png";
        if (kind == 4) {
            map.layers = {KvtMapLayer{.fileName = "a.png"}, KvtMapLayer{.fileName = "b.png"}};
        }
        if (kind == 5) {
            map.faces = {"px.png", "nx.png", "py.png", "ny.png", "pz.png", "nz.png"};
        }
        model.materials.front().maps.push_back(map);
    }
    model.groups.push_back(KvtGroup{.name = "Group"});
    for (KvtVertex& vertex : model.vertices) {
        vertex.weights = {KvtWeight{.boneIndex = 0, .weight = 0.5f},
                          KvtWeight{.boneIndex = 1, .weight = 0.5f}};
    }
    model.auxRecords.push_back(KvtAuxRecord{});
    model.bones = {KvtBone{.name = "Root"}, KvtBone{.name = "Child", .boneLink = 0}};
    KvtTrack track;
    track.positionKeys = {KvtPositionKey{}, KvtPositionKey{.time = 1}};
    track.rotationKeys = {KvtRotationKey{}};
    track.scaleKeys = {KvtScaleKey{}};
    model.animations.push_back(KvtAnimation{.name = "Walk", .tracks = {track, track}});
    return model;
}

// The every-section model with a second mesh and a second UV set, so the
// version-34 body has several mesh and UV-set chunks.
KvtModel chunkedModel() {
    KvtModel model = everySectionModel(34);
    model.meshes.push_back(KvtMesh{.polygons = {KvtPolygon{.vertices = {2, 1}}}});
    model.uvSets.push_back(
        KvtUVSet{.name = "UVSet2", .coords = {KvtUVCoord{.u = 1}}, .auxRecords = {KvtAuxRecord{}}});
    return model;
}

// Version-34 seeds: name and bytes.
std::vector<std::pair<std::string, KvtBytes>> chunkedSeeds() {
    std::vector<std::pair<std::string, KvtBytes>> seeds;
    const KvtModel model = chunkedModel();
    for (const uint32_t flags : {0x0u, 0x8u, 0xFu}) {
        KvtChunkedOptions chunked;
        chunked.flags = flags;
        const std::string suffix = "-f" + std::to_string(flags);
        seeds.emplace_back("triangle-v34" + suffix, writeKvt34(triangleModel(34), chunked));
        seeds.emplace_back("every-section-v34" + suffix, writeKvt34(model, chunked));
    }
    for (const int depth : {1, 2}) {
        KvtChunkedWriteOptions options;
        options.compressionDepth = depth;
        seeds.emplace_back("every-section-v34-z" + std::to_string(depth),
                           writeKvt34(model, {}, options));
    }

    KvtChunkedOptions extras;
    extras.embeddedFiles = {KvtEmbeddedFile{.name = "wood.png", .content = {1, 2, 3, 4}},
                            KvtEmbeddedFile{.name = "dir/sub/vase.png", .content = {5}},
                            KvtEmbeddedFile{.name = "empty.png"}};
    extras.nameList = std::vector<KvtName>{"Lamp", "Camera", "Root"};
    seeds.emplace_back("embedded-and-names-v34", writeKvt34(model, extras));

    // Unknown chunks at every level, a light chunk longer than its payload, a
    // directory with foreign entries, and a vertex chunk in the second mesh.
    KvtChunkedOptions odd;
    odd.directoryEntries = {{kChunkDirectory, 72}, {kChunkLights, 1}, {0x12345678, 9}};
    std::vector<KvtChunk> body = kvtBodyChunks(model, odd);
    body.insert(body.begin() + 1, KvtChunk{.id = 0xBBBB0005, .payload = {1, 2, 3}});
    body[2].payload.resize(body[2].payload.size() + 8, 0);
    body[2].size = static_cast<uint32_t>(body[2].payload.size());
    for (KvtChunk& chunk : body) {
        if (chunk.id == kChunkGeometry) {
            chunk.children[0].children.push_back(KvtChunk{.id = 0xCCCC0003, .payload = {7}});
            chunk.children[1].children.push_back(KvtChunk{
                .id = kChunkVertices, .payload = kvtVertexChunkPayload(model.vertices, odd.flags)});
        }
    }
    seeds.emplace_back("unknown-chunks-v34", writeKvt34(body, odd.flags));

    // Known chunks wrapped in an unknown one, and a geometry chunk nested in
    // a mesh chunk.
    std::vector<KvtChunk> nested = kvtBodyChunks(model);
    nested.push_back(KvtChunk{.id = 0xEEEE0000, .children = {nested[1], nested[2]}});
    for (KvtChunk& chunk : nested) {
        if (chunk.id == kChunkGeometry) {
            KvtChunk inner = chunk;
            chunk.children[0].children.push_back(std::move(inner));
        }
    }
    seeds.emplace_back("nested-v34", writeKvt34(nested, kKvtFlagVertexWeights));

    // The textured cube with its texture embedded: the resolve stage writes it, then finds it.
    KvtChunkedOptions textured;
    textured.embeddedFiles = {KvtEmbeddedFile{.name = "wood.png", .content = {0x89, 'P', 'N'}}};
    seeds.emplace_back("textured-cube-v34", writeKvt34(texturedCubeModel(34), textured));
    return seeds;
}

// fuzz_roundtrip inputs: two per version and compression.
int writeRoundtripSeeds(const std::filesystem::path& folder) {
    int written = 0;
    for (int32_t version = quillmesh::fuzz::kRoundtripFirstVersion;
         version <
         quillmesh::fuzz::kRoundtripFirstVersion + quillmesh::fuzz::kRoundtripVersionCount;
         ++version) {
        const int compressions =
            version >= kKvtChunkedVersion ? quillmesh::fuzz::kRoundtripChunkedCompressions : 2;
        for (int compression = 0; compression < compressions; ++compression) {
            for (uint32_t variant = 0; variant < 2; ++variant) {
                std::mt19937 random(static_cast<uint32_t>(version * 16 + compression * 2) +
                                    variant);
                std::vector<uint8_t> choices(1024 << variant);
                for (uint8_t& byte : choices) {
                    byte = static_cast<uint8_t>(random());
                }
                const std::string name = "roundtrip-v" + std::to_string(version) + "-z" +
                                         std::to_string(compression) + "-" +
                                         std::to_string(variant);
                writeKvtBytesFile(folder / name,
                                  quillmesh::fuzz::roundtripInput(version, compression, choices));
                ++written;
            }
        }
    }
    return written;
}

}  // namespace

int main(int argc, char** argv) {
    const bool roundtrip = argc == 3 && std::strcmp(argv[1], "--roundtrip") == 0;
    if (argc != 2 && !roundtrip) {
        std::fprintf(stderr, "usage: make_seeds [--roundtrip] OUTPUT_FOLDER\n");
        return 2;
    }
    const std::filesystem::path folder = argv[argc - 1];
    std::filesystem::create_directories(folder);
    if (roundtrip) {
        const int written = writeRoundtripSeeds(folder);
        std::printf("make_seeds: %d round-trip inputs in %s\n", written, folder.string().c_str());
        return 0;
    }
    int written = 0;
    for (int32_t version : {6, 8, 9, 10, 11, 20, 29, 30, 31, 32, 33}) {
        const KvtModel models[] = {triangleModel(version), cubeModel(version),
                                   texturedCubeModel(version), everySectionModel(version)};
        const char* names[] = {"triangle", "cube", "textured-cube", "every-section"};
        for (std::size_t i = 0; i < std::size(models); ++i) {
            for (bool compressed : {false, true}) {
                KvtWriteOptions options;
                options.compressed = compressed;
                const std::string file = std::string(names[i]) + "-v" + std::to_string(version) +
                                         (compressed ? "-z" : "") + ".kvt";
                writeKvtFile(folder / file, models[i], options);
                ++written;
            }
        }
    }
    for (const auto& [name, bytes] : chunkedSeeds()) {
        writeKvtBytesFile(folder / (name + ".kvt"), bytes);
        ++written;
    }
    std::printf("make_seeds: %d files in %s\n", written, folder.string().c_str());
    return 0;
}
