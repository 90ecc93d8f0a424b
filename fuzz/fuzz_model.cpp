// libFuzzer target: arbitrary bytes handed to the ModelFile reader as if they
// had been read from a file. The reader must never crash, leak or read outside
// its buffer, whatever the bytes.
//
// Version-34 files write their embedded files beside the model, so the model
// "lives" in a scratch folder of this process alone, which is emptied every
// few hundred inputs and removed at exit.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <span>
#include <string>
#include <system_error>

#include "model/kvt_plugin.h"
#include "platform/platform.h"

namespace {

constexpr unsigned kInputsBetweenCleanups = 256;

std::filesystem::path gScratch;
std::u16string gSourcePath;
unsigned gInputsSinceCleanup = 0;

// Removes everything the loads wrote, keeping the folder itself.
void emptyScratch() {
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(gScratch, error)) {
        std::error_code ignored;
        std::filesystem::remove_all(entry.path(), ignored);
    }
}

void removeScratch() {
    std::error_code ignored;
    std::filesystem::remove_all(gScratch, ignored);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // Texture names also resolve beside the model, and the load changes the
    // current directory to the model's.
    gScratch = std::filesystem::temp_directory_path() /
               ("quillmesh-fuzz-" + std::to_string(static_cast<long>(getpid())));
    std::filesystem::create_directories(gScratch);
    gSourcePath = quillmesh::platform::fromUtf8((gScratch / "fuzz.kvt").string());
    std::atexit(removeScratch);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    quillmesh::KVTPlugin plugin;
    plugin.loadModelFromMemory(std::span<const uint8_t>(data, size), gSourcePath);
    if (++gInputsSinceCleanup >= kInputsBetweenCleanups) {
        gInputsSinceCleanup = 0;
        emptyScratch();
    }
    return 0;
}
