#include "tools/import_summary.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <ostream>
#include <span>
#include <system_error>
#include <utility>
#include <vector>

#include "host/host.h"
#include "host/import_driver.h"
#include "host/text.h"
#include "model/kvt_plugin.h"
#include "platform/platform.h"
#include "scene/model_conversion.h"
#include "tools/descriptor_json.h"
#include "tools/gltf_export.h"
#include "tools/json_writer.h"
#include "tools/progress.h"
#include "tools/scene_blocks.h"

namespace quillmesh::tool {
namespace {

namespace fs = std::filesystem;

constexpr std::size_t kHeaderPeekBytes = 16;
constexpr const char* kToolName = "quillmesh-import";

// A path given on the command line (UTF-8) as a path of this system.
fs::path utf8Path(const std::string& text) {
    return fs::path(std::u8string(text.begin(), text.end()));
}

std::string pathText(const fs::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

std::FILE* openFile(const fs::path& path, const char* mode) {
#ifdef _WIN32
    const std::wstring wideMode(mode, mode + std::strlen(mode));
    return _wfopen(path.c_str(), wideMode.c_str());
#else
    return std::fopen(path.c_str(), mode);
#endif
}

// The system's words for errno `error`.
std::string systemReason(int error) {
    return std::generic_category().message(error);
}

HeaderWords peekHeader(const fs::path& path) {
    HeaderWords header;
    std::FILE* file = openFile(path, "rb");
    if (file == nullptr) {
        return header;
    }
    std::array<uint8_t, kHeaderPeekBytes> bytes{};
    const std::size_t got = std::fread(bytes.data(), 1, bytes.size(), file);
    std::fclose(file);
    const std::span<const uint8_t> read(bytes.data(), got);
    if (got >= 4) {
        header.magicMatches = loadU32(read.data() + 0) == kModelMagic;
    }
    if (got >= 8) {
        header.version = loadU32(read.data() + 4);
    }
    if (got >= 12) {
        header.flags = loadU32(read.data() + 8);
    }
    if (got >= 16) {
        header.length = loadU32(read.data() + 12);
    }
    return header;
}

ModelCounts countModel(const ModelData& model) {
    ModelCounts counts;
    counts.lights = model.lights.count;
    counts.cameras = model.cameras.count;
    counts.materials = model.materials.count;
    counts.groups = model.defaultGroup ? 0 : model.groups.count;
    counts.vertices = model.vertices.count;
    counts.auxRecords = model.auxRecords.count;
    counts.uvSets = model.defaultUVSets ? 0 : model.uvSets.count;
    counts.meshes = model.meshes.count;
    for (const ModelMesh& mesh : model.meshes.items) {
        counts.polygons += static_cast<int64_t>(mesh.polygons.size());
    }
    counts.bones = model.bones.count;
    counts.animations = model.animations.count;
    return counts;
}

std::string cannotOpenReason(const ModelDiagnosis& diagnosis) {
    if (diagnosis.pathTooLong) {
        return "cannot open the file: its path is longer than " +
               std::to_string(KVTPlugin::kSourcePathMaxLength) + " characters";
    }
    if (!diagnosis.exists) {
        return "No such file or directory";
    }
    if (diagnosis.isDirectory) {
        return "Is a directory";
    }
    if (!diagnosis.openError.empty()) {
        return diagnosis.openError;
    }
    return "cannot open the file: it is not a readable regular file";
}

std::string counted(uint64_t count, const char* singular, const char* plural) {
    return groupedNumber(count) + " " + (count == 1 ? singular : plural);
}

// The summary's line on embedded files: how many the model kept and, for those it left out, which
// limit left them out. Empty when the file has none.
std::string embeddedFilesText(const ModelDiagnosis& diagnosis) {
    const SkippedEmbeddedFiles& skipped = diagnosis.skippedEmbeddedFiles;
    if (diagnosis.embeddedFiles == 0 && skipped.total() == 0) {
        return {};
    }
    std::string text =
        counted(diagnosis.embeddedFiles, "embedded file", "embedded files") + " kept";
    if (skipped.total() == 0) {
        return text;
    }
    text += ", " + groupedNumber(skipped.total()) + " skipped:";
    if (skipped.overFileLimit != 0) {
        text += " " + groupedNumber(skipped.overFileLimit) + " beyond the limit of " +
                groupedNumber(kMaxEmbeddedFiles) + " files";
    }
    if (skipped.overSizeLimit != 0) {
        text += std::string(skipped.overFileLimit != 0 ? ";" : "") + " " +
                groupedNumber(skipped.overSizeLimit) + " beyond the limit of " +
                std::to_string(kEmbeddedBytesPerFileByte) + " times the file's size in all";
    }
    return text;
}

double numberOf(const qmhost::Descriptor& descriptor, const char (&code)[5]) {
    const qmhost::Value* value = findKind(descriptor, code, qmhost::ValueKind::Float);
    return value != nullptr ? value->asFloat() : 0.0;
}

MaterialReport reportMaterial(const qmhost::Descriptor& material) {
    MaterialReport report;
    report.name = textOf(material, "Nm  ");
    report.isDefault = report.name == kDefaultMaterialName;
    report.ambient = {numberOf(material, "ared"), numberOf(material, "agrn"),
                      numberOf(material, "ablu")};
    report.diffuse = {numberOf(material, "dred"), numberOf(material, "dgrn"),
                      numberOf(material, "dblu")};
    report.specular = {numberOf(material, "sred"), numberOf(material, "sgrn"),
                       numberOf(material, "sblu")};
    report.transparency = numberOf(material, "Trns");
    if (const qmhost::Value* maps = findKind(material, "mapl", qmhost::ValueKind::List)) {
        for (const qmhost::Value& map : maps->asList()) {
            if (map.kind() != qmhost::ValueKind::Object) {
                continue;
            }
            TextureReport texture;
            texture.path = textOf(map.asObject(), "Nm  ");
            if (texture.path.empty()) {
                continue;
            }
            if (const qmhost::Value* slot =
                    findKind(map.asObject(), "Type", qmhost::ValueKind::Integer)) {
                texture.slot = static_cast<int32_t>(slot->asInteger());
            }
            std::error_code error;
            texture.exists = fs::is_regular_file(utf8Path(texture.path), error);
            report.textures.push_back(std::move(texture));
        }
    }
    return report;
}

MeshReport reportMesh(const qmhost::Descriptor& mesh) {
    MeshReport report;
    report.name = textOf(mesh, "Nm  ");
    const std::span<const uint8_t> vertices = blockOf(mesh, "verl");
    report.vertices = vertices.size() / kVectorEntryBytes;
    report.polygons = blockOf(mesh, "facl").size() / kPolygonEntryBytes;
    if (report.vertices != 0) {
        std::array<double, 3> low{};
        std::array<double, 3> high{};
        for (std::size_t axis = 0; axis < 3; ++axis) {
            low[axis] = high[axis] = loadF64(vertices.data() + axis * 8);
        }
        for (std::size_t offset = 0; offset + kVectorEntryBytes <= vertices.size();
             offset += kVectorEntryBytes) {
            for (std::size_t axis = 0; axis < 3; ++axis) {
                const double value = loadF64(vertices.data() + offset + axis * 8);
                low[axis] = std::min(low[axis], value);
                high[axis] = std::max(high[axis], value);
            }
        }
        report.boundsMin = low;
        report.boundsMax = high;
    }
    return report;
}

std::string milliseconds(double ms) {
    std::array<char, 32> text{};
    if (ms >= 1000.0) {
        std::snprintf(text.data(), text.size(), "%.2f s", ms / 1000.0);
    } else {
        std::snprintf(text.data(), text.size(), "%.1f ms", ms);
    }
    return text.data();
}

double elapsedMilliseconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - since)
        .count();
}

std::string slotName(int32_t slot) {
    return slot == 0 ? std::string("diffuse") : "map " + std::to_string(slot);
}

// The absolute form of a command-line path, taken before the import moves the current
// directory; the path as given when it cannot be made absolute.
fs::path absolutePath(const std::string& text) {
    const fs::path given = utf8Path(text);
    // A rooted path stays as given: on Windows \models\a.kvt names the current drive,
    // which the import does not change.
    if (given.has_root_directory()) {
        return given;
    }
    std::error_code error;
    fs::path absolute = fs::absolute(given, error);
    return error ? given : absolute;
}

}  // namespace

bool ModelDiagnosis::compressed() const {
    return header.magicMatches && header.flags.has_value() && (*header.flags & kFlagCompressed);
}

bool ModelDiagnosis::chunked() const {
    return header.magicMatches && header.version.has_value() &&
           *header.version == kChunkedModelVersion;
}

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
    if (diagnosis.exists && !diagnosis.isDirectory) {
        errno = 0;
        std::FILE* file = openFile(path, "rb");
        if (file == nullptr) {
            diagnosis.openError = systemReason(errno);
        } else {
            std::fclose(file);
        }
    }
    diagnosis.header = peekHeader(path);
    const std::u16string widePath = platform::fromUtf8(pathText(path));
    diagnosis.pathTooLong = widePath.size() > KVTPlugin::kSourcePathMaxLength;

    auto plugin = std::make_unique<KVTPlugin>();
    diagnosis.loadResult = plugin->loadModel(widePath.c_str());
    diagnosis.failedPart = plugin->model.part;
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

std::string groupedNumber(uint64_t value) {
    std::string digits = std::to_string(value);
    std::string grouped;
    grouped.reserve(digits.size() + digits.size() / 3);
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i != 0 && (digits.size() - i) % 3 == 0) {
            grouped.push_back(',');
        }
        grouped.push_back(digits[i]);
    }
    return grouped;
}

std::string byteSizeText(uint64_t bytes) {
    if (bytes < 1000) {
        return counted(bytes, "byte", "bytes");
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
            if (diagnosis.compressed()) {
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
            if (!diagnosis.compressed() && header.length.has_value() &&
                diagnosis.fileSize.has_value() && *header.length != *diagnosis.fileSize) {
                return "length mismatch: the header says " + groupedNumber(*header.length) +
                       " bytes, the file has " + groupedNumber(*diagnosis.fileSize);
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
        return "damaged or truncated: " + counted(*diagnosis.fileSize, "byte", "bytes") +
               " cannot hold a ModelFile header";
    }
    switch (diagnosis.failedPart) {
        case ModelPart::kNone:
            return diagnosis.openError.empty() ? "cannot read the file" : diagnosis.openError;
        case ModelPart::kCompressedBody:
            return "damaged or truncated: the compressed body does not unpack";
        case ModelPart::kElements:
            return "not a model: the file declares no element at all";
        default:
            return std::string("damaged or truncated: ") + modelPartText(diagnosis.failedPart) +
                   " cannot be read in full";
    }
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

SceneReport reportScene(const qmhost::Descriptor& root) {
    SceneReport report;
    if (const qmhost::Value* materials = findKind(root, "mtll", qmhost::ValueKind::List)) {
        for (const qmhost::Value& material : materials->asList()) {
            if (material.kind() == qmhost::ValueKind::Object) {
                report.materials.push_back(reportMaterial(material.asObject()));
            }
        }
    }
    if (const qmhost::Value* meshes = findKind(root, "mshl", qmhost::ValueKind::List)) {
        for (const qmhost::Value& mesh : meshes->asList()) {
            if (mesh.kind() == qmhost::ValueKind::Object) {
                report.meshes.push_back(reportMesh(mesh.asObject()));
                report.vertices += report.meshes.back().vertices;
                report.polygons += report.meshes.back().polygons;
            }
        }
    }
    return report;
}

std::string checkOptions(const ToolOptions& options) {
    const bool descriptorToOutput = options.descriptorPath && *options.descriptorPath == "-";
    const int toOutput =
        (options.json ? 1 : 0) + (options.dumpDescriptor ? 1 : 0) + (descriptorToOutput ? 1 : 0);
    if (toOutput > 1) {
        return "--json, --dump-descriptor and --descriptor - all write to standard output: "
               "choose one";
    }
    if (options.files.size() > 1 && options.descriptorPath) {
        return "--descriptor takes one input file";
    }
    if (options.flat && (options.descriptorPath || options.exportPath || options.dumpDescriptor)) {
        return "--flat delivers pixels, not a scene: it excludes --descriptor, --export and "
               "--dump-descriptor";
    }
    if (options.pretty && !options.json && !options.dumpDescriptor) {
        return "--pretty needs --json or --dump-descriptor";
    }
    if (options.exportPath) {
        const std::string& path = *options.exportPath;
        const bool folder = !path.empty() && (path.back() == '/' || path.back() == '\\');
        if (options.files.size() > 1 && !folder) {
            return "with several input files, --export takes a folder ending in '/' (" + path + ")";
        }
        if (!folder && !gltfFormFor(utf8Path(path))) {
            return "--export writes .gltf or .glb, not " + path;
        }
    }
    return {};
}

namespace {

// One run of the tool: the streams, the state of standard output and the exit status.
class ToolRun {
  public:
    ToolRun(const ToolOptions& options, PluginMainRoutine entry, const ToolStreams& streams)
        : options_(options), entry_(entry), streams_(streams) {}

    int run();

  private:
    void fail(FileReport& report, const std::string& reason);
    void diagnostic(const std::string& file, const std::string& reason);
    void errorLine(const std::string& line);
    // Flushes standard output; a failure is reported once and ends output to it.
    bool checkOutput();
    // Whether standard output still takes writes; clears errno for checkOutput.
    bool outputOpen() const {
        errno = 0;
        return !outputBroken_;
    }
    void importOne(const std::string& file, std::size_t index);
    void writeOutputs(FileReport& report, const std::vector<uint8_t>& sceneBytes,
                      const qmhost::Descriptor* scene, const qmhost::IdRegistry& ids,
                      Progress& progress);
    void exportScene(FileReport& report, const qmhost::Descriptor& scene,
                     const qmhost::IdRegistry& ids);
    fs::path exportTarget(const std::string& file) const;

    const ToolOptions& options_;
    PluginMainRoutine entry_;
    const ToolStreams& streams_;
    bool failed_ = false;
    bool outputBroken_ = false;
    std::unique_ptr<JsonWriter> json_;
    // The progress line of the file being imported, which diagnostics must not write across.
    Progress* progress_ = nullptr;
};

void ToolRun::diagnostic(const std::string& file, const std::string& reason) {
    errorLine(std::string(kToolName) + ": " + file + ": " + reason + "\n");
}

void ToolRun::errorLine(const std::string& line) {
    if (progress_ != nullptr) {
        progress_->write(line);
    } else {
        streams_.err << line;
        streams_.err.flush();
    }
}

void ToolRun::fail(FileReport& report, const std::string& reason) {
    failed_ = true;
    if (report.failure.empty()) {
        report.failure = reason;
    }
    diagnostic(report.file, reason);
}

bool ToolRun::checkOutput() {
    if (outputBroken_) {
        return false;
    }
    // errno was cleared before the writes began, so a failure keeps the reason of its first
    // failed write, or the flush's.
    streams_.out.flush();
    if (streams_.out) {
        return true;
    }
    const int error = errno;
    outputBroken_ = true;
    failed_ = true;
    errorLine(std::string(kToolName) + ": standard output: " +
              (error != 0 ? systemReason(error) : std::string("write failed")) + "\n");
    return false;
}

fs::path ToolRun::exportTarget(const std::string& file) const {
    const std::string& path = *options_.exportPath;
    const bool folder = path.back() == '/' || path.back() == '\\';
    if (!folder) {
        return absolutePath(path);
    }
    // In a folder: the input's name with .glb, unless the folder name says .gltf is wanted
    // (it cannot); .glb keeps one file per model.
    fs::path name = utf8Path(file).filename();
    name.replace_extension(".glb");
    return absolutePath(path) / name;
}

std::string writeBytes(const fs::path& path, std::span<const uint8_t> bytes) {
    errno = 0;
    std::FILE* file = openFile(path, "wb");
    if (file == nullptr) {
        return systemReason(errno);
    }
    const std::size_t written =
        bytes.empty() ? 0 : std::fwrite(bytes.data(), 1, bytes.size(), file);
    int error = written == bytes.size() ? 0 : errno;
    if (std::fflush(file) != 0 && error == 0) {
        error = errno != 0 ? errno : EIO;
    }
    if (std::fclose(file) != 0 && error == 0) {
        error = errno != 0 ? errno : EIO;
    }
    return error != 0 ? systemReason(error) : std::string();
}

void ToolRun::exportScene(FileReport& report, const qmhost::Descriptor& scene,
                          const qmhost::IdRegistry& ids) {
    const fs::path target = exportTarget(report.file);
    const std::optional<GltfForm> form = gltfFormFor(target);
    std::string error;
    std::optional<GltfExport> exported =
        form ? exportGltf(scene, ids, *form, target.parent_path(), error) : std::nullopt;
    if (!exported) {
        fail(report, "cannot export to " + pathText(target) + ": " + error);
        return;
    }
    // The folder of several files' exports is made when it does not exist yet.
    const std::string& asked = *options_.exportPath;
    if (asked.back() == '/' || asked.back() == '\\') {
        std::error_code error;
        fs::create_directories(target.parent_path(), error);
        if (error) {
            fail(report, "cannot make the folder " + pathText(target.parent_path()) + ": " +
                             error.message());
            return;
        }
    }
    const std::string writeError = writeBytes(target, exported->bytes);
    if (!writeError.empty()) {
        fail(report, "cannot write " + pathText(target) + ": " + writeError);
        return;
    }
    report.exportPath = pathText(target);
    report.exportTriangles = exported->summary.triangles;
}

void ToolRun::writeOutputs(FileReport& report, const std::vector<uint8_t>& sceneBytes,
                           const qmhost::Descriptor* scene, const qmhost::IdRegistry& ids,
                           Progress& progress) {
    // Without a scene the import's own failure is the one reported; the outputs are left out.
    if (options_.descriptorPath && !sceneBytes.empty()) {
        progress.stage("writing the descriptor");
        if (*options_.descriptorPath == "-") {
            if (outputOpen()) {
                streams_.out.write(reinterpret_cast<const char*>(sceneBytes.data()),
                                   static_cast<std::streamsize>(sceneBytes.size()));
                checkOutput();
            }
        } else {
            const fs::path target = absolutePath(*options_.descriptorPath);
            const std::string error = writeBytes(target, sceneBytes);
            if (!error.empty()) {
                fail(report, "cannot write " + *options_.descriptorPath + ": " + error);
            }
        }
    }
    if (options_.exportPath && scene != nullptr) {
        progress.stage("exporting");
        exportScene(report, *scene, ids);
    }
    if (options_.dumpDescriptor && outputOpen()) {
        progress.stage("writing JSON");
        if (scene == nullptr) {
            json_->null();
        } else {
            writeDescriptorJson(*json_, *scene, ids);
        }
        checkOutput();
    }
}

void ToolRun::importOne(const std::string& file, std::size_t index) {
    FileReport report;
    report.file = file;
    const auto started = std::chrono::steady_clock::now();
    Progress progress(streams_.err, streams_.errIsTerminal && !options_.quiet, file);
    progress_ = &progress;
    const fs::path modelPath = absolutePath(file);
    {
        progress.stage("importing");
        qmhost::ImportOptions importOptions;
        importOptions.takesThreeDLayers = !options_.flat;
        qmhost::Host host;
        qmhost::ImportOutcome outcome =
            qmhost::runImport(host, entry_, platform::fromUtf8(pathText(modelPath)), importOptions);
        report.importMilliseconds = elapsedMilliseconds(started);
        report.pluginResult = outcome.result();
        report.sceneDelivered = outcome.sceneDelivered;
        report.flatRows = host.advanceCalls().size();
        report.descriptorBytes = outcome.sceneBytes.size();

        // The descriptor is read back, reported and written out, then let go of before the
        // tool's own load of the file, so that the two are never held at once. Reading it back
        // checks all of it but copies no data block: they stay ranges of the received bytes.
        progress.stage("reading the scene");
        const auto sceneBytes =
            std::make_shared<const std::vector<uint8_t>>(std::move(outcome.sceneBytes));
        qmhost::IdRegistry ids;
        std::optional<qmhost::Descriptor> scene;
        if (!sceneBytes->empty()) {
            scene = qmhost::unflattenShared(sceneBytes, ids);
            if (scene) {
                report.scene = reportScene(*scene);
            }
        }
        writeOutputs(report, *sceneBytes, scene ? &*scene : nullptr, ids, progress);
        if (!sceneBytes->empty() && !scene) {
            fail(report, "the scene descriptor the host received cannot be read back");
        }
        if (!host.balanced()) {
            fail(report, "the host's accounts are not balanced: " + host.accountSummary());
        }
    }

    progress.stage("checking the file");
    report.diagnosis = diagnoseModelFile(modelPath);
    progress.done();
    progress_ = nullptr;
    const std::string reason = loadFailureReason(report.diagnosis);
    const std::string pluginText = "plug-in result " + std::to_string(report.pluginResult) + ": " +
                                   describePluginResult(report.pluginResult);
    if (report.pluginResult != 0) {
        fail(report, (reason.empty() ? "the plug-in produced no scene, although the file loads "
                                       "as a ModelFile"
                                     : reason) +
                         " (" + pluginText + ")");
    } else if (!reason.empty()) {
        fail(report,
             "the plug-in handed over a scene, but the file does not load as a "
             "ModelFile: " +
                 reason);
    } else if (!options_.flat && !report.sceneDelivered) {
        fail(report, "the plug-in reported success but handed over no scene");
    }
    if (report.scene) {
        for (const MaterialReport& material : report.scene->materials) {
            for (const TextureReport& texture : material.textures) {
                if (!texture.exists) {
                    report.warnings.push_back("texture " + texture.path + " (material " +
                                              material.name + ") does not exist");
                }
            }
        }
    }
    const SkippedEmbeddedFiles& skipped = report.diagnosis.skippedEmbeddedFiles;
    if (skipped.total() != 0) {
        report.warnings.push_back(embeddedFilesText(report.diagnosis));
    }
    report.totalMilliseconds = elapsedMilliseconds(started);

    const bool humanSummary = !options_.quiet && !options_.json && !options_.dumpDescriptor &&
                              !(options_.descriptorPath && *options_.descriptorPath == "-");
    if (humanSummary && outputOpen()) {
        if (index != 0) {
            streams_.out << "\n";
        }
        writeHumanSummary(streams_.out, report);
        checkOutput();
    }
    if (options_.json && outputOpen()) {
        writeJsonSummary(*json_, report);
        checkOutput();
    }
}

int ToolRun::run() {
    const bool severalDocuments = options_.files.size() > 1;
    if (options_.json || options_.dumpDescriptor) {
        json_ = std::make_unique<JsonWriter>(streams_.out, options_.pretty);
        if (severalDocuments) {
            json_->beginArray();
        }
    }
    for (std::size_t index = 0; index < options_.files.size(); ++index) {
        importOne(options_.files[index], index);
    }
    if (json_ && outputOpen()) {
        if (severalDocuments) {
            json_->endArray();
        }
        json_->finish();
    }
    checkOutput();
    return failed_ ? kExitFailure : kExitSuccess;
}

}  // namespace

int runImportTool(const ToolOptions& options, PluginMainRoutine entry, const ToolStreams& streams) {
    return ToolRun(options, entry, streams).run();
}

void writeHumanSummary(std::ostream& out, const FileReport& report) {
    const ModelDiagnosis& diagnosis = report.diagnosis;
    out << report.file << ":";
    if (diagnosis.loadResult == kLoadSucceeded) {
        out << " version " << diagnosis.modelVersion;
        if (diagnosis.compressed()) {
            out << ", compressed";
        }
        if (diagnosis.chunked()) {
            out << ", chunked";
        }
    }
    if (diagnosis.fileSize) {
        out << ", " << byteSizeText(*diagnosis.fileSize);
    }
    out << "\n";
    if (diagnosis.loadResult == kLoadSucceeded) {
        const ModelCounts& c = diagnosis.counts;
        out << "  in the file:  " << counted(c.materials, "material", "materials") << ", "
            << counted(c.meshes, "mesh", "meshes") << ", "
            << counted(c.vertices, "vertex", "vertices") << ", "
            << counted(c.polygons, "polygon", "polygons") << ", "
            << counted(c.groups, "group", "groups") << ", "
            << counted(c.uvSets, "UV set", "UV sets") << "\n                "
            << counted(c.lights, "light", "lights") << ", "
            << counted(c.cameras, "camera", "cameras") << ", " << counted(c.bones, "bone", "bones")
            << ", " << counted(c.animations, "animation", "animations") << ", "
            << counted(c.auxRecords, "aux record", "aux records") << "\n";
        const std::string embedded = embeddedFilesText(diagnosis);
        if (!embedded.empty()) {
            out << "  embedded:     " << embedded << "\n";
        }
    }
    if (report.scene) {
        const SceneReport& scene = *report.scene;
        const auto defaults = static_cast<uint64_t>(
            std::count_if(scene.materials.begin(), scene.materials.end(),
                          [](const MaterialReport& m) { return m.isDefault; }));
        out << "  host got:     " << counted(scene.materials.size(), "material", "materials");
        if (defaults != 0) {
            out << " (" << groupedNumber(defaults) << " default)";
        }
        out << ", " << counted(scene.meshes.size(), "mesh", "meshes") << ", "
            << counted(scene.vertices, "vertex", "vertices") << ", "
            << counted(scene.polygons, "polygon", "polygons") << " ("
            << byteSizeText(report.descriptorBytes) << ")\n";
        bool first = true;
        for (const MaterialReport& material : scene.materials) {
            for (const TextureReport& texture : material.textures) {
                out << (first ? "  textures:     " : "                ") << texture.path << " ("
                    << slotName(texture.slot) << " of " << material.name << ")"
                    << (texture.exists ? "" : ": warning: does not exist") << "\n";
                first = false;
            }
        }
    }
    if (report.exportPath) {
        out << "  exported:     " << *report.exportPath << " ("
            << counted(report.exportTriangles, "triangle", "triangles") << ", polygons as fans)\n";
    }
    if (report.flatRows != 0) {
        out << "  flat rows:    " << groupedNumber(report.flatRows) << "\n";
    }
    out << "  time:         " << milliseconds(report.importMilliseconds) << " import, "
        << milliseconds(report.totalMilliseconds) << " in all\n";
    if (!report.failure.empty()) {
        out << "  failed:       " << report.failure << "\n";
    }
}

namespace {

void writeTriple(JsonWriter& json, const char* key, const std::array<double, 3>& values) {
    json.key(key);
    json.beginArray();
    for (const double value : values) {
        json.number(value);
    }
    json.endArray();
}

void writeCount(JsonWriter& json, const char* key, int64_t value) {
    json.key(key);
    json.integer(value);
}

}  // namespace

void writeJsonSummary(JsonWriter& json, const FileReport& report) {
    const ModelDiagnosis& diagnosis = report.diagnosis;
    const bool loaded = diagnosis.loadResult == kLoadSucceeded;
    json.beginObject();
    json.key("file");
    json.string(report.file);
    json.key("size");
    if (diagnosis.fileSize) {
        json.unsignedInteger(*diagnosis.fileSize);
    } else {
        json.null();
    }
    json.key("version");
    if (loaded) {
        json.integer(diagnosis.modelVersion);
    } else {
        json.null();
    }
    json.key("compressed");
    json.boolean(diagnosis.compressed());
    json.key("chunked");
    json.boolean(diagnosis.chunked());
    json.key("result");
    json.string(report.failure.empty() ? "imported" : "failed");
    if (!report.failure.empty()) {
        json.key("reason");
        json.string(report.failure);
    }
    json.key("pluginResult");
    json.integer(report.pluginResult);
    if (loaded) {
        const ModelCounts& c = diagnosis.counts;
        json.key("fileCounts");
        json.beginObject();
        writeCount(json, "lights", c.lights);
        writeCount(json, "cameras", c.cameras);
        writeCount(json, "materials", c.materials);
        writeCount(json, "groups", c.groups);
        writeCount(json, "vertices", c.vertices);
        writeCount(json, "auxRecords", c.auxRecords);
        writeCount(json, "uvSets", c.uvSets);
        writeCount(json, "meshes", c.meshes);
        writeCount(json, "polygons", c.polygons);
        writeCount(json, "bones", c.bones);
        writeCount(json, "animations", c.animations);
        writeCount(json, "embeddedFilesKept", static_cast<int64_t>(diagnosis.embeddedFiles));
        writeCount(json, "embeddedFilesSkipped",
                   static_cast<int64_t>(diagnosis.skippedEmbeddedFiles.total()));
        json.endObject();
    }
    if (report.scene) {
        const SceneReport& scene = *report.scene;
        json.key("hostCounts");
        json.beginObject();
        writeCount(json, "materials", static_cast<int64_t>(scene.materials.size()));
        writeCount(json, "meshes", static_cast<int64_t>(scene.meshes.size()));
        writeCount(json, "vertices", static_cast<int64_t>(scene.vertices));
        writeCount(json, "polygons", static_cast<int64_t>(scene.polygons));
        writeCount(json, "descriptorBytes", static_cast<int64_t>(report.descriptorBytes));
        json.endObject();
        json.key("materials");
        json.beginArray();
        for (const MaterialReport& material : scene.materials) {
            json.beginObject();
            json.key("name");
            json.string(material.name);
            json.key("default");
            json.boolean(material.isDefault);
            writeTriple(json, "ambient", material.ambient);
            writeTriple(json, "diffuse", material.diffuse);
            writeTriple(json, "specular", material.specular);
            json.key("transparency");
            json.number(material.transparency);
            json.key("textures");
            json.beginArray();
            for (const TextureReport& texture : material.textures) {
                json.beginObject();
                json.key("slot");
                json.integer(texture.slot);
                json.key("path");
                json.string(texture.path);
                json.key("exists");
                json.boolean(texture.exists);
                json.endObject();
            }
            json.endArray();
            json.endObject();
        }
        json.endArray();
        json.key("meshes");
        json.beginArray();
        for (const MeshReport& mesh : scene.meshes) {
            json.beginObject();
            json.key("name");
            json.string(mesh.name);
            writeCount(json, "vertices", static_cast<int64_t>(mesh.vertices));
            writeCount(json, "polygons", static_cast<int64_t>(mesh.polygons));
            if (mesh.boundsMin && mesh.boundsMax) {
                json.key("bounds");
                json.beginObject();
                writeTriple(json, "min", *mesh.boundsMin);
                writeTriple(json, "max", *mesh.boundsMax);
                json.endObject();
            }
            json.endObject();
        }
        json.endArray();
    }
    if (report.exportPath) {
        json.key("export");
        json.beginObject();
        json.key("path");
        json.string(*report.exportPath);
        writeCount(json, "triangles", static_cast<int64_t>(report.exportTriangles));
        json.endObject();
    }
    json.key("warnings");
    json.beginArray();
    for (const std::string& warning : report.warnings) {
        json.string(warning);
    }
    json.endArray();
    json.key("milliseconds");
    json.beginObject();
    json.key("import");
    json.number(report.importMilliseconds);
    json.key("total");
    json.number(report.totalMilliseconds);
    json.endObject();
    json.endObject();
}

}  // namespace quillmesh::tool
