// libFuzzer target: arbitrary bytes handed to the ModelFile reader as if they
// had been read from a file. The reader must never crash, leak or read outside
// its buffer, whatever the bytes.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>

#include "model/kvt_plugin.h"
#include "platform/platform.h"

namespace {

std::u16string gSourcePath;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // Texture names resolve beside the model and the load changes the current
    // directory to the model's, so the model "lives" in a folder of its own.
    const std::filesystem::path folder =
        std::filesystem::temp_directory_path() / "quillmesh-fuzz-model";
    std::filesystem::create_directories(folder);
    gSourcePath = quillmesh::platform::fromUtf8((folder / "fuzz.kvt").string());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    quillmesh::KVTPlugin plugin;
    plugin.loadModelFromMemory(std::span<const uint8_t>(data, size), gSourcePath);
    return 0;
}
