// Writes the fuzz seed corpus: ModelFiles of every classic version, plain and
// compressed, from the smallest model to one that fills every section.
//
//   make_seeds OUTPUT_FOLDER
#include <cstdio>
#include <filesystem>
#include <string>

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

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_seeds OUTPUT_FOLDER\n");
        return 2;
    }
    const std::filesystem::path folder = argv[1];
    std::filesystem::create_directories(folder);
    int written = 0;
    for (int32_t version : {6, 8, 9, 10, 11, 20, 29, 30, 31, 32, 33}) {
        const KvtModel models[] = {triangleModel(version), cubeModel(version),
                                   everySectionModel(version)};
        const char* names[] = {"triangle", "cube", "every-section"};
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
    std::printf("make_seeds: %d files in %s\n", written, folder.string().c_str());
    return 0;
}
