// Writes the ModelFiles that the native and the Windows import are compared on:
//   write_import_fixtures FOLDER
// a textured two-material cube as classic versions 10 and 33 (plain and
// compressed) and as chunked version 34 (plain, compressed once and twice).
// Prints the names of the files written, one per line.
#include <cstdio>
#include <exception>
#include <filesystem>
#include <string>

#include "tests/support/kvt_chunks.h"
#include "tests/support/kvt_writer.h"

namespace ts = quillmesh::testsupport;

namespace {

ts::KvtModel texturedCube(int32_t version) {
    ts::KvtModel model = ts::cubeModel(version);
    model.materials[0].maps = {
        ts::KvtMap{.key = 0, .kind = 1, .fileName = "wood.png"},
        ts::KvtMap{.key = 1, .kind = 1, .fileName = "bump.png"},
    };
    model.materials.push_back(ts::KvtMaterial{.name = "Second", .shininess = 64, .opacity = 0.5f});
    for (std::size_t i = 6; i < model.meshes[0].polygons.size(); ++i) {
        model.meshes[0].polygons[i].materialIndex = 1;
    }
    return model;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: write_import_fixtures FOLDER\n");
        return 2;
    }
    try {
        const std::filesystem::path folder = argv[1];
        std::filesystem::create_directories(folder);
        auto write = [&](const char* name, const ts::KvtBytes& bytes) {
            ts::writeKvtBytesFile(folder / name, bytes);
            std::printf("%s\n", name);
        };
        write("classic10.kvt", ts::writeKvt(texturedCube(10)));
        write("classic33.kvt", ts::writeKvt(texturedCube(33)));
        write("classic33-compressed.kvt", ts::writeKvt(texturedCube(33), {.compressed = true}));
        write("chunked34.kvt", ts::writeKvt34(texturedCube(34)));
        write("chunked34-compressed.kvt",
              ts::writeKvt34(texturedCube(34), {}, {.compressionDepth = 1}));
        write("chunked34-compressed-twice.kvt",
              ts::writeKvt34(texturedCube(34), {}, {.compressionDepth = 2}));
        return 0;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "write_import_fixtures: %s\n", error.what());
        return 1;
    }
}
