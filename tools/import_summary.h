// The work of quillmesh-import apart from its command line: each file imported through our host,
// what the host received read back from the descriptor, a diagnosis of the file by the tool's own
// load, and the reports made from them (a short summary for people, a compact JSON summary, the
// full descriptor as JSON, the flattened bytes and a glTF export).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "host/descriptors.h"
#include "hostapi/host_api.h"
#include "model/kvt_plugin.h"

namespace quillmesh::tool {

// Element counts as the file states them; polygons are summed over all meshes. A file that
// stores no groups or UV sets counts 0 of them, though the model then has defaults.
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
    // The system's reason when the file cannot be opened or read ("Permission denied").
    std::string openError;
    HeaderWords header;
    int32_t modelVersion = 0;  // the loaded model's version (the inner one when compressed)
    ModelCounts counts;        // all 0 unless the load succeeded
    // Where the load stopped when it failed.
    ModelPart failedPart = ModelPart::kNone;
    // Set when the file was refused for the memory its import would need.
    std::optional<MemoryBudget> memoryRefusal;
    // Version-34 embedded files the model kept, and those the reader's limits left out.
    uint64_t embeddedFiles = 0;
    SkippedEmbeddedFiles skippedEmbeddedFiles;

    bool compressed() const;
    bool chunked() const;
};

// Loads `path` with a KVTPlugin of the tool's own.
ModelDiagnosis diagnoseModelFile(const std::filesystem::path& path);

// A size in bytes for people: "512 bytes", "34.5 KB", "7.3 GB" (powers of 1000).
std::string byteSizeText(uint64_t bytes);
// A count with its digits grouped by thousands: "1,048,576".
std::string groupedNumber(uint64_t value);

// Why the load failed, in plain words: the one cause the load found; empty when it succeeded.
std::string loadFailureReason(const ModelDiagnosis& diagnosis);

// What a plug-in result code means.
std::string describePluginResult(int16_t result);

// What the host received, read from the scene descriptor.
struct TextureReport {
    int32_t slot = 0;  // the map slot: 0 is the diffuse texture
    std::string path;  // UTF-8
    bool exists = false;
};
struct MaterialReport {
    std::string name;
    // The material every scene starts with, for polygons without one of their own.
    bool isDefault = false;
    std::array<double, 3> ambient{};
    std::array<double, 3> diffuse{};
    std::array<double, 3> specular{};
    double transparency = 0.0;
    std::vector<TextureReport> textures;
};
struct MeshReport {
    std::string name;
    std::size_t vertices = 0;
    std::size_t polygons = 0;
    // Over the mesh's vertices; unset without vertices.
    std::optional<std::array<double, 3>> boundsMin;
    std::optional<std::array<double, 3>> boundsMax;
};
struct SceneReport {
    std::vector<MaterialReport> materials;
    std::vector<MeshReport> meshes;
    std::size_t vertices = 0;
    std::size_t polygons = 0;
};
// Reads `root` as the scene writer lays it out: materials in "mtll", meshes in "mshl" with their
// "verl" and "facl" blocks. Texture paths are checked for existence.
SceneReport reportScene(const qmhost::Descriptor& root);

// Everything known about one file's import.
struct FileReport {
    std::string file;  // as given on the command line
    ModelDiagnosis diagnosis;
    int16_t pluginResult = 0;
    bool sceneDelivered = false;
    std::size_t descriptorBytes = 0;
    std::size_t flatRows = 0;
    std::optional<SceneReport> scene;
    double importMilliseconds = 0.0;  // PluginMain's four read selectors
    double totalMilliseconds = 0.0;   // the whole file, outputs included
    // The glTF export written, and its triangles (polygons are triangulated as fans).
    std::optional<std::string> exportPath;
    std::size_t exportTriangles = 0;
    // Why the import failed; empty when it succeeded.
    std::string failure;
    // Warnings for people, one line each (missing textures, skipped embedded files).
    std::vector<std::string> warnings;
};

inline constexpr int kExitSuccess = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;

struct ToolOptions {
    std::vector<std::string> files{};             // UTF-8, as given on the command line
    std::optional<std::string> descriptorPath{};  // "-" for standard output
    std::optional<std::string> exportPath{};      // a file, or with several files a folder
    bool json = false;
    bool dumpDescriptor = false;
    bool pretty = false;
    bool quiet = false;
    bool flat = false;
};

// A usage error in an option combination the parser cannot see; empty when there is none.
std::string checkOptions(const ToolOptions& options);

// Where the tool writes and what it knows of its terminal.
struct ToolStreams {
    std::ostream& out;
    std::ostream& err;
    // Progress lines go to `err` only when it is a terminal.
    bool errIsTerminal = false;
};

// Imports every file of `options` through `entry` (PluginMain, linked in or found in a loaded
// module) with our host, and writes the requested outputs. Every diagnostic goes to `err` as
// "quillmesh-import: FILE: reason". Returns kExitSuccess when every file imported and every
// output was written, kExitFailure otherwise (the other files still run).
int runImportTool(const ToolOptions& options, PluginMainRoutine entry, const ToolStreams& streams);

// The human summary and the JSON summary of one file.
void writeHumanSummary(std::ostream& out, const FileReport& report);
class JsonWriter;
void writeJsonSummary(JsonWriter& json, const FileReport& report);

}  // namespace quillmesh::tool
