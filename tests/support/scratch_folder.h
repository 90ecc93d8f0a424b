// A fresh folder of the test's own under the system's temporary folder.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <random>
#include <string>
#include <string_view>
#include <system_error>

namespace quillmesh::testsupport {

// Creates and returns a new folder named `prefix` followed by a random number; the empty path
// when none could be made after many tries.
inline std::filesystem::path makeScratchFolder(std::string_view prefix) {
    std::mt19937_64 random(
        std::random_device{}() ^
        static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()));
    const std::filesystem::path base = std::filesystem::temp_directory_path();
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::filesystem::path candidate =
            base / (std::string(prefix) + std::to_string(random()));
        std::error_code error;
        if (std::filesystem::create_directory(candidate, error)) {
            return candidate;
        }
    }
    return {};
}

}  // namespace quillmesh::testsupport
