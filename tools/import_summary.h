// The work of quillmesh-import apart from its command line: one import through our host, a
// diagnosis of the file by loading it with the tool's own KVTPlugin, the scene counts taken from
// the descriptor the host received, and the summary printed from all three.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <iosfwd>
#include <optional>
#include <string>

#include "host/descriptors.h"
#include "model/kvt_plugin.h"

namespace quillmesh::tool {

// Element counts of a loaded model; polygons are summed over all meshes.
struct ModelCounts {
    int64_t lights = 0;
    int64_t cameras = 0;
    int64_t materials = 0;
    int64_t groups = 0;
    int64_t vertices = 0;
    int64_t auxRecords = 0;
    int64_t uvSets = 0;
    int64_t meshes = 0;
    int64_t polygons = 0;
    int64_t bones = 0;
    int64_t animations = 0;
};

// The first words of a file's header, read without the reader (so that a failed load can
// still say which version or length the file claims).
struct HeaderWords {
    bool magicMatches = false;  // starts with "KVTH"
    std::optional<uint32_t> version;
    std::optional<uint32_t> flags;
    std::optional<uint32_t> length;  // word 3
};

struct ModelDiagnosis {
    int loadResult = 0;                // KVTPlugin::loadModel's LoadResult
    std::optional<uint64_t> fileSize;  // unset when the size cannot be had
    bool exists = false;
    bool isDirectory = false;
    bool pathTooLong = false;  // more UTF-16 units than the reader takes
    HeaderWords header;
    int32_t modelVersion = 0;  // the loaded model's version (the inner one when compressed)
    ModelCounts counts;        // all 0 unless the load succeeded
    // Set when the file was refused for the memory its import would need.
    std::optional<MemoryBudget> memoryRefusal;
    // Version-34 embedded files the model kept, and those the reader's limits left out.
    uint64_t embeddedFiles = 0;
    SkippedEmbeddedFiles skippedEmbeddedFiles;
};

// Loads `path` with a KVTPlugin of the tool's own.
ModelDiagnosis diagnoseModelFile(const std::filesystem::path& path);

// A size in bytes for people: "512 bytes", "34.5 KB", "7.3 GB" (powers of 1000).
std::string byteSizeText(uint64_t bytes);

// Why the load failed, in plain words; empty when it succeeded.
std::string loadFailureReason(const ModelDiagnosis& diagnosis);

// What a plug-in result code means.
std::string describePluginResult(int16_t result);

// Counts of the scene descriptor's root: materials in "mtll", meshes in "mshl", and over all
// meshes the vertices ("verl" entries) and polygons ("facl" entries).
struct SceneCounts {
    std::size_t materials = 0;
    std::size_t meshes = 0;
    std::size_t vertices = 0;
    std::size_t polygons = 0;
};
SceneCounts countScene(const qmhost::Descriptor& root);

struct ToolOptions {
    std::string modelPath{};  // UTF-8, as given on the command line
    std::optional<std::string> descriptorPath{};
    bool json = false;
    bool flat = false;
};

inline constexpr int kExitSuccess = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;

// Imports options.modelPath through our host, then prints the summary to `out` (to `err` when
// JSON goes to `out`), the descriptor as JSON to `out` when asked, and every failure to `err`.
// Writes the descriptor file when asked and one was received. Returns kExitSuccess when the
// plug-in handed over what was asked for, the file loads as a ModelFile, the host's accounts
// balance and every requested output was written; kExitFailure otherwise.
int runImportTool(const ToolOptions& options, std::ostream& out, std::ostream& err);

}  // namespace quillmesh::tool
