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
        write("classic10.kvt", ts::writeKvt(ts::texturedCubeModel(10)));
        write("classic33.kvt", ts::writeKvt(ts::texturedCubeModel(33)));
        write("classic33-compressed.kvt",
              ts::writeKvt(ts::texturedCubeModel(33), {.compressed = true}));
        write("chunked34.kvt", ts::writeKvt34(ts::texturedCubeModel(34)));
        write("chunked34-compressed.kvt",
              ts::writeKvt34(ts::texturedCubeModel(34), {}, {.compressionDepth = 1}));
        write("chunked34-compressed-twice.kvt",
              ts::writeKvt34(ts::texturedCubeModel(34), {}, {.compressionDepth = 2}));
        return 0;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "write_import_fixtures: %s\n", error.what());
        return 1;
    }
}
