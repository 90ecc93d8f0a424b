#include "tools/import_summary.h"

#include <array>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <memory>
#include <ostream>
#include <span>
#include <system_error>
#include <utility>
#include <vector>

#include "entry/plugin_main.h"
#include "host/host.h"
#include "host/import_driver.h"
#include "host/text.h"
#include "model/kvt_plugin.h"
#include "scene/model_conversion.h"
#include "tools/descriptor_json.h"

namespace quillmesh::tool {
namespace {

namespace fs = std::filesystem;

constexpr std::size_t kHeaderPeekBytes = 16;
constexpr std::size_t kVectorEntryBytes = 24;
constexpr std::size_t kPolygonEntryBytes = 36;
// The levels of the scene descriptor countScene looks into: the root's lists and the objects in
// them.
constexpr int kCountLevels = 2;

uint32_t littleEndianWord(std::span<const uint8_t> bytes, std::size_t offset) {
    uint32_t value = 0;
    for (std::size_t i = 0; i < 4; ++i) {
        value |= static_cast<uint32_t>(bytes[offset + i]) << (8 * i);
    }
    return value;
}

HeaderWords peekHeader(const fs::path& path) {
    HeaderWords header;
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        return header;
    }
    std::array<uint8_t, kHeaderPeekBytes> bytes{};
    file.read(reinterpret_cast<char*>(bytes.data()), bytes.size());
    const auto got = static_cast<std::size_t>(file.gcount());
    const std::span<const uint8_t> read(bytes.data(), got);
    if (got >= 4) {
        header.magicMatches = littleEndianWord(read, 0) == kModelMagic;
    }
    if (got >= 8) {
        header.version = littleEndianWord(read, 4);
    }
    if (got >= 12) {
        header.flags = littleEndianWord(read, 8);
    }
    if (got >= 16) {
        header.length = littleEndianWord(read, 12);
    }
    return header;
}

ModelCounts countModel(const ModelData& model) {
    ModelCounts counts;
    counts.lights = model.lights.count;
    counts.cameras = model.cameras.count;
    counts.materials = model.materials.count;
    counts.groups = model.groups.count;
    counts.vertices = model.vertices.count;
    counts.auxRecords = model.auxRecords.count;
    counts.uvSets = model.uvSets.count;
    counts.meshes = model.meshes.count;
    for (const ModelMesh& mesh : model.meshes.items) {
        counts.polygons += static_cast<int64_t>(mesh.polygons.size());
    }
    counts.bones = model.bones.count;
    counts.animations = model.animations.count;
    return counts;
}

bool isCompressed(const HeaderWords& header) {
    return header.magicMatches && header.flags.has_value() && (*header.flags & kFlagCompressed);
}

std::string cannotOpenReason(const ModelDiagnosis& diagnosis) {
    if (diagnosis.pathTooLong) {
        return "cannot open the file: its path is longer than " +
               std::to_string(KVTPlugin::kSourcePathMaxLength) + " characters";
    }
    if (!diagnosis.exists) {
        return "cannot open the file: there is no such file";
    }
    if (diagnosis.isDirectory) {
        return "cannot open the file: it is a directory";
    }
    return "cannot open the file: it is not a readable regular file";
}

std::string counted(int64_t count, const char* singular, const char* plural) {
    return std::to_string(count) + " " + (count == 1 ? singular : plural);
}

std::string modelCountsText(const ModelCounts& counts) {
    return counted(counts.lights, "light", "lights") + ", " +
           counted(counts.cameras, "camera", "cameras") + ", " +
           counted(counts.materials, "material", "materials") + ", " +
           counted(counts.groups, "group", "groups") + ", " +
           counted(counts.vertices, "vertex", "vertices") + ", " +
           counted(counts.auxRecords, "aux record", "aux records") + ",\n            " +
           counted(counts.uvSets, "UV set", "UV sets") + ", " +
           counted(counts.meshes, "mesh", "meshes") + ", " +
           counted(counts.polygons, "polygon", "polygons") + ", " +
           counted(counts.bones, "bone", "bones") + ", " +
           counted(counts.animations, "animation", "animations");
}

// The summary's line on embedded files: how many the model kept and, for those it left out, which
// limit left them out. Empty when the file has none.
std::string embeddedFilesText(const ModelDiagnosis& diagnosis) {
    const SkippedEmbeddedFiles& skipped = diagnosis.skippedEmbeddedFiles;
    if (diagnosis.embeddedFiles == 0 && skipped.total() == 0) {
        return {};
    }
    std::string text =
        counted(static_cast<int64_t>(diagnosis.embeddedFiles), "file", "files") + " kept";
    if (skipped.total() == 0) {
        return text;
    }
    text += ", " + std::to_string(skipped.total()) + " skipped:";
    if (skipped.overFileLimit != 0) {
        text += " " + std::to_string(skipped.overFileLimit) + " beyond the limit of " +
                std::to_string(kMaxEmbeddedFiles) + " files";
    }
    if (skipped.overSizeLimit != 0) {
        text += std::string(skipped.overFileLimit != 0 ? ";" : "") + " " +
                std::to_string(skipped.overSizeLimit) + " beyond the limit of " +
                std::to_string(kEmbeddedBytesPerFileByte) + " times the file's size in all";
    }
    return text;
}

const qmhost::Value* findList(const qmhost::Descriptor& descriptor, const char (&code)[5]) {
    const qmhost::Value* value = descriptor.find(qmhost::fourcc(code));
    return value != nullptr && value->kind() == qmhost::ValueKind::List ? value : nullptr;
}

std::size_t blockEntries(const qmhost::Descriptor& descriptor, const char (&code)[5],
                         std::size_t entryBytes) {
    const qmhost::Value* value = descriptor.find(qmhost::fourcc(code));
    if (value == nullptr || value->kind() != qmhost::ValueKind::Data) {
        return 0;
    }
    return value->asData().size() / entryBytes;
}

// The absolute form of a command-line path, taken before the import moves the current
// directory; the path as given when it cannot be made absolute.
fs::path absolutePath(const std::string& utf8Path) {
    const fs::path given(utf8Path);
    std::error_code error;
    fs::path absolute = fs::absolute(given, error);
    return error ? given : absolute;
}

bool writeFile(const fs::path& path, std::span<const uint8_t> bytes) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    if (!file) {
        return false;
    }
    file.write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    file.close();
    return static_cast<bool>(file);
}

std::string milliseconds(std::chrono::steady_clock::duration elapsed) {
    const double ms = std::chrono::duration<double, std::milli>(elapsed).count();
    std::array<char, 32> text{};
    std::snprintf(text.data(), text.size(), "%.1f ms", ms);
    return text.data();
}

}  // namespace

ModelDiagnosis diagnoseModelFile(const fs::path& path) {
    ModelDiagnosis diagnosis;
    std::error_code error;
    const fs::file_status status = fs::status(path, error);
    diagnosis.exists = fs::exists(status);
    diagnosis.isDirectory = fs::is_directory(status);
    const uintmax_t size = fs::file_size(path, error);
    if (!error) {
        diagnosis.fileSize = size;
    }
    diagnosis.header = peekHeader(path);
    const std::u16string widePath = qmhost::utf8ToUtf16(path.string());
    diagnosis.pathTooLong = widePath.size() > KVTPlugin::kSourcePathMaxLength;

    auto plugin = std::make_unique<KVTPlugin>();
    diagnosis.loadResult = plugin->loadModel(widePath.c_str());
    if (diagnosis.loadResult == kLoadSucceeded) {
        diagnosis.modelVersion = plugin->model.version;
        diagnosis.counts = countModel(plugin->model);
        diagnosis.embeddedFiles = plugin->model.embeddedFiles.size();
        diagnosis.skippedEmbeddedFiles = plugin->model.skippedEmbeddedFiles;
        static_cast<void>(takeSceneMemory(plugin->model));
    }
    if (plugin->model.memory.refused()) {
        diagnosis.memoryRefusal = plugin->model.memory;
    }
    return diagnosis;
}

std::string byteSizeText(uint64_t bytes) {
    if (bytes < 1000) {
        return counted(static_cast<int64_t>(bytes), "byte", "bytes");
    }
    static constexpr std::array<const char*, 6> kUnits{"KB", "MB", "GB", "TB", "PB", "EB"};
    double value = static_cast<double>(bytes) / 1000.0;
    std::size_t unit = 0;
    while (value >= 999.95 && unit + 1 < kUnits.size()) {
        value /= 1000.0;
        ++unit;
    }
    std::array<char, 32> text{};
    std::snprintf(text.data(), text.size(), "%.1f %s", value, kUnits[unit]);
    return text.data();
}

std::string loadFailureReason(const ModelDiagnosis& diagnosis) {
    if (diagnosis.memoryRefusal.has_value()) {
        const MemoryBudget& memory = *diagnosis.memoryRefusal;
        // A refused parse knows only what it needed up to the refusal.
        const char* amount = diagnosis.loadResult == kLoadSucceeded ? "about " : "at least ";
        return "too large to import: needs " + std::string(amount) +
               byteSizeText(memory.neededBytes()) + " of memory for a " +
               byteSizeText(memory.fileBytes) + " file, more than the " +
               byteSizeText(memory.limitBytes) + " allowed for a file of that size";
    }
    const HeaderWords& header = diagnosis.header;
    switch (diagnosis.loadResult) {
        case kLoadSucceeded:
            return {};
        case kLoadCannotOpen:
            return cannotOpenReason(diagnosis);
        case kLoadBadMagic:
            if (header.magicMatches && isCompressed(header)) {
                return "not a ModelFile: the compressed model inside does not start with \"KVTH\"";
            }
            return "not a ModelFile: it does not start with \"KVTH\"";
        case kLoadUnsupportedVersion: {
            std::string reason = "unsupported ModelFile version";
            if (header.version.has_value()) {
                const uint32_t version = *header.version;
                if (version >= kMinimumModelVersion && version <= kChunkedModelVersion) {
                    reason += " in the compressed model inside (the file's header says " +
                              std::to_string(version) + ")";
                } else {
                    reason += " " + std::to_string(version);
                }
            }
            return reason + "; versions 6 to 34 can be read";
        }
        case kLoadLengthMismatch:
            if (!isCompressed(header) && header.length.has_value() &&
                diagnosis.fileSize.has_value() && *header.length != *diagnosis.fileSize) {
                return "length mismatch: the header says " + std::to_string(*header.length) +
                       " bytes, the file has " + std::to_string(*diagnosis.fileSize);
            }
            return "length mismatch: the length in the header does not match the model's size";
        default:
            break;
    }
    // The reader reads the whole header before it looks at the magic, so a short file of
    // another kind fails as unreadable; its first bytes tell what it is.
    if (!header.magicMatches && diagnosis.fileSize.has_value() && *diagnosis.fileSize >= 4) {
        return "not a ModelFile: it does not start with \"KVTH\"";
    }
    if (diagnosis.fileSize.has_value() && *diagnosis.fileSize < kHeaderPeekBytes) {
        return "damaged or truncated: " +
               counted(static_cast<int64_t>(*diagnosis.fileSize), "byte", "bytes") +
               " cannot hold a ModelFile header";
    }
    return "damaged or truncated: its sections cannot be read in full, its compressed body does "
           "not unpack, or it holds no elements";
}

std::string describePluginResult(int16_t result) {
    switch (result) {
        case 0:
            return "success";
        case RESULT_IMPORT_FAILED:
            return "the import produced no scene";
        case RESULT_HOST_INSUFFICIENT:
            return "the host lacks a required routine or suite";
        case RESULT_OUT_OF_MEMORY:
            return "out of memory";
        default:
            return "host error";
    }
}

SceneCounts countScene(const qmhost::Descriptor& root) {
    SceneCounts counts;
    if (const qmhost::Value* materials = findList(root, "mtll")) {
        counts.materials = materials->asList().size();
    }
    if (const qmhost::Value* meshes = findList(root, "mshl")) {
        for (const qmhost::Value& mesh : meshes->asList()) {
            if (mesh.kind() != qmhost::ValueKind::Object) {
                continue;
            }
            ++counts.meshes;
            counts.vertices += blockEntries(mesh.asObject(), "verl", kVectorEntryBytes);
            counts.polygons += blockEntries(mesh.asObject(), "facl", kPolygonEntryBytes);
        }
    }
    return counts;
}

int runImportTool(const ToolOptions& options, std::ostream& out, std::ostream& err) {
    const fs::path modelPath = absolutePath(options.modelPath);
    const std::optional<fs::path> descriptorPath =
        options.descriptorPath ? std::optional(absolutePath(*options.descriptorPath))
                               : std::nullopt;
    std::ostream& summary = options.json ? err : out;
    bool failed = false;
    const auto fail = [&](const std::string& message) {
        err << "quillmesh-import: " << message << "\n";
        failed = true;
    };

    qmhost::ImportOptions importOptions;
    importOptions.takesThreeDLayers = !options.flat;
    qmhost::Host host;
    const auto started = std::chrono::steady_clock::now();
    qmhost::ImportOutcome outcome =
        qmhost::runImport(host, PluginMain, qmhost::utf8ToUtf16(modelPath.string()), importOptions);
    const auto elapsed = std::chrono::steady_clock::now() - started;
    const int16_t result = outcome.result();

    // The descriptor is read back, counted and written out before the tool loads the model
    // again, and let go of unless the JSON needs it, so that its bytes and the second load are
    // not held at the same time. Reading it back checks all of it but copies no data block (they
    // stay ranges of the received bytes), and for the counts alone builds only the levels they
    // are in.
    const std::size_t sceneSize = outcome.sceneBytes.size();
    std::optional<qmhost::Descriptor> scene;
    std::optional<SceneCounts> sceneCounts;
    qmhost::IdRegistry ids;
    bool descriptorWritten = false;
    if (sceneSize != 0) {
        const auto sceneBytes =
            std::make_shared<const std::vector<uint8_t>>(std::move(outcome.sceneBytes));
        scene = qmhost::unflattenShared(sceneBytes, ids,
                                        options.json ? qmhost::kMaxDescriptorDepth : kCountLevels);
        if (scene) {
            sceneCounts = countScene(*scene);
        }
        if (descriptorPath) {
            descriptorWritten = writeFile(*descriptorPath, *sceneBytes);
        }
        if (!options.json) {
            scene.reset();
        }
    }

    const ModelDiagnosis diagnosis = diagnoseModelFile(modelPath);

    summary << "file:       " << options.modelPath;
    if (diagnosis.fileSize.has_value()) {
        summary << " (" << counted(static_cast<int64_t>(*diagnosis.fileSize), "byte", "bytes")
                << ")";
    }
    summary << "\n";
    if (diagnosis.loadResult == kLoadSucceeded) {
        summary << "version:    " << diagnosis.modelVersion
                << (isCompressed(diagnosis.header) ? " (compressed)" : "") << "\n";
        summary << "model:      " << modelCountsText(diagnosis.counts) << "\n";
        const std::string embedded = embeddedFilesText(diagnosis);
        if (!embedded.empty()) {
            summary << "embedded:   " << embedded << "\n";
        }
    }

    if (sceneSize != 0) {
        if (sceneCounts) {
            summary << "scene:      "
                    << counted(static_cast<int64_t>(sceneCounts->materials), "material",
                               "materials")
                    << ", "
                    << counted(static_cast<int64_t>(sceneCounts->vertices), "vertex", "vertices")
                    << ", "
                    << counted(static_cast<int64_t>(sceneCounts->polygons), "polygon", "polygons")
                    << "\n";
        }
        summary << "descriptor: " << counted(static_cast<int64_t>(sceneSize), "byte", "bytes")
                << "\n";
    }
    if (!host.advanceCalls().empty()) {
        summary << "flat rows:  " << host.advanceCalls().size() << "\n";
    }
    summary << "import:     " << milliseconds(elapsed) << "\n";
    summary << "result:     " << result << " (" << describePluginResult(result) << ")\n";

    const std::string reason = loadFailureReason(diagnosis);
    const std::string pluginText =
        "plug-in result " + std::to_string(result) + ": " + describePluginResult(result);
    if (result != 0) {
        fail("import failed: " +
             (reason.empty() ? "the plug-in produced no scene, although the file loads as a "
                               "ModelFile"
                             : reason) +
             " (" + pluginText + ")");
    } else if (!reason.empty()) {
        fail(
            "import failed: the plug-in handed over a scene, but the file does not load as a "
            "ModelFile: " +
            reason + " (" + pluginText + ")");
    } else if (!options.flat && !outcome.sceneDelivered) {
        fail("import failed: the plug-in reported success but handed over no scene (" + pluginText +
             ")");
    }
    if (sceneSize != 0 && !sceneCounts) {
        fail("the scene descriptor the host received cannot be read back");
    }
    if (!host.balanced()) {
        fail("the host's accounts are not balanced: " + host.accountSummary());
    }

    if (descriptorPath) {
        if (sceneSize == 0) {
            fail("no scene descriptor was received, so none is written to " +
                 *options.descriptorPath);
        } else if (!descriptorWritten) {
            fail("cannot write the scene descriptor to " + *options.descriptorPath);
        }
    }
    if (options.json) {
        if (scene) {
            out << jsonText(descriptorToJson(*scene, ids)) << "\n";
        } else {
            fail("no readable scene descriptor was received, so there is no JSON to print");
        }
    }
    out.flush();
    return failed ? kExitFailure : kExitSuccess;
}

}  // namespace quillmesh::tool
