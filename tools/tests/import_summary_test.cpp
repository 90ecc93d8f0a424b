#include "tools/import_summary.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "entry/import_sequence.h"
#include "entry/plugin_main.h"
#include "host/host.h"
#include "host/import_driver.h"
#include "host/text.h"
#include "model/kvt_plugin.h"
#include "scene/import_scene.h"
#include "tests/support/kvt_chunks.h"
#include "tests/support/kvt_writer.h"
#include "tests/support/scratch_folder.h"
#include "tools/descriptor_json.h"
#include "tools/json_writer.h"
#include "tools/progress.h"

#include <nlohmann/json.hpp>

namespace quillmesh::tool {
namespace {

namespace fs = std::filesystem;
using Json = nlohmann::ordered_json;
using testsupport::KvtModel;
using testsupport::KvtWriteOptions;
using testsupport::writeKvtFile;

// A scene with the default material, one more material with a texture, a paint type and a
// layer name in slot 0, and one triangle with normals and UVs. Handed to ReadContinue in place
// of the reader's scene, so that these tests do not depend on the conversion.
ImportScene* knownScene(const char16_t*) {
    ImportSceneOwner scene(createImportScene());
    if (scene == nullptr || findOrCreateMaterial(*scene, "__PS_CS4_3D_Default") == nullptr) {
        return nullptr;
    }
    SceneMaterial* wood = findOrCreateMaterial(*scene, "Wood");
    if (wood == nullptr || !wood->maps[0].path.assign("/models/wood.png") ||
        !wood->maps[0].paintType.assign("diffuse") || !wood->maps[0].layerName.assign("Grain")) {
        return nullptr;
    }
    SceneOwner<SceneMesh> mesh = createSceneMesh("", 0, 0, 0, 0, 0, 0);
    if (mesh == nullptr) {
        return nullptr;
    }
    mesh->vertices = {sceneAxes(0, 0, 0), sceneAxes(1, 2, 3), sceneAxes(-1.5, 0.25, 4)};
    mesh->normals.assign(3, sceneAxes(0, 0, 1));
    mesh->uvs = {{0, 1}, {1, 1}, {0.5, 0.25}};
    std::vector<SceneCorner> corners;
    for (int32_t corner = 0; corner < 3; ++corner) {
        corners.push_back(SceneCorner{corner, corner, 2 - corner, corner});
    }
    if (!appendPolygon(*mesh, corners, 0, 1, 1)) {
        return nullptr;
    }
    appendElement(scene->meshes, std::move(mesh));
    return scene.release();
}

ImportScene* noScene(const char16_t*) {
    return nullptr;
}

class ImportToolTest : public ::testing::Test {
  protected:
    void SetUp() override {
        startDirectory_ = fs::current_path();
        root_ = quillmesh::testsupport::makeScratchFolder("quillmesh-tool-");
        ASSERT_FALSE(root_.empty());
    }

    void TearDown() override {
        setSceneSource(nullptr);
        fs::current_path(startDirectory_);
        std::error_code error;
        fs::remove_all(root_, error);
    }

    fs::path writeModel(const std::string& name, const KvtModel& model,
                        const KvtWriteOptions& options = {}) {
        const fs::path path = root_ / name;
        writeKvtFile(path, model, options);
        return path;
    }

    struct Run {
        int status = -1;
        std::string out;
        std::string err;
    };

    static Run run(const ToolOptions& options) {
        std::ostringstream out;
        std::ostringstream err;
        Run result;
        result.status = runImportTool(options, PluginMain, ToolStreams{out, err, false});
        result.out = out.str();
        result.err = err.str();
        return result;
    }

    static std::vector<uint8_t> fileBytes(const fs::path& path) {
        std::ifstream file(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    }

    fs::path startDirectory_;
    fs::path root_;
};

struct FailureCase {
    const char* name;
    // Makes the file (or not) in the given folder and returns its path.
    std::function<fs::path(const fs::path&)> make;
    int loadResult;
    std::string reason;  // the message names the failure with these words
};

void PrintTo(const FailureCase& c, std::ostream* out) {
    *out << c.name;
}

fs::path writeInto(const fs::path& folder, const KvtModel& model,
                   const KvtWriteOptions& options = {}) {
    const fs::path path = folder / "model.kvt";
    writeKvtFile(path, model, options);
    return path;
}

KvtWriteOptions withHeader(testsupport::KvtHeaderOverrides header) {
    KvtWriteOptions options;
    options.header = std::move(header);
    return options;
}

const FailureCase kFailureCases[] = {
    {"Missing", [](const fs::path& folder) { return folder / "missing.kvt"; }, kLoadCannotOpen,
     "No such file or directory"},
    {"Directory",
     [](const fs::path& folder) {
         fs::create_directory(folder / "folder.kvt");
         return folder / "folder.kvt";
     },
     kLoadCannotOpen, "Is a directory"},
    {"BadMagic",
     [](const fs::path& folder) {
         return writeInto(folder, testsupport::triangleModel(33), withHeader({.magic = "KVTX"}));
     },
     kLoadBadMagic, "not a ModelFile: it does not start with \"KVTH\""},
    {"ShortFileOfAnotherKind",
     [](const fs::path& folder) {
         std::ofstream(folder / "notes.kvt", std::ios::binary) << "NOPE, just twenty b";
         return folder / "notes.kvt";
     },
     kLoadFailed, "not a ModelFile: it does not start with \"KVTH\""},
    {"BadInnerMagic",
     [](const fs::path& folder) {
         KvtWriteOptions options;
         options.compressed = true;
         options.innerHeader.magic = "XXXX";
         return writeInto(folder, testsupport::triangleModel(33), options);
     },
     kLoadBadMagic, "not a ModelFile: the compressed model inside does not start with \"KVTH\""},
    {"VersionTooOld",
     [](const fs::path& folder) {
         return writeInto(folder, testsupport::triangleModel(6), withHeader({.version = 5}));
     },
     kLoadUnsupportedVersion, "unsupported ModelFile version 5; versions 6 to 34 can be read"},
    {"InnerVersionTooOld",
     [](const fs::path& folder) {
         KvtWriteOptions options;
         options.compressed = true;
         options.innerHeader.version = 5;
         return writeInto(folder, testsupport::triangleModel(33), options);
     },
     kLoadUnsupportedVersion,
     "unsupported ModelFile version in the compressed model inside (the file's header says 33)"},
    {"LengthOneTooLong",
     [](const fs::path& folder) {
         return writeInto(folder, testsupport::triangleModel(33), withHeader({.lengthDelta = 1}));
     },
     kLoadLengthMismatch, "length mismatch: the header says "},
    {"InnerLengthWrong",
     [](const fs::path& folder) {
         KvtWriteOptions options;
         options.compressed = true;
         options.innerHeader.lengthDelta = -1;
         return writeInto(folder, testsupport::triangleModel(33), options);
     },
     kLoadLengthMismatch,
     "length mismatch: the length in the header does not match the model's size"},
    {"Truncated",
     [](const fs::path& folder) {
         KvtWriteOptions options;
         options.truncateAt = 200;
         return writeInto(folder, testsupport::cubeModel(33), options);
     },
     kLoadFailed, "damaged or truncated: the materials section cannot be read in full"},
    {"Empty",
     [](const fs::path& folder) {
         std::ofstream(folder / "empty.kvt", std::ios::binary);
         return folder / "empty.kvt";
     },
     kLoadFailed, "damaged or truncated: 0 bytes cannot hold a ModelFile header"},
    {"NoElements",
     [](const fs::path& folder) {
         KvtModel model;
         model.version = 33;
         return writeInto(folder, model);
     },
     kLoadFailed, "not a model: the file declares no element at all"},
    {"SceneBeyondTheBudget",
     [](const fs::path& folder) {
         // Ten thousand materials compress to a few kilobytes, but their scene and descriptor
         // need far more than a file of that size may use.
         KvtModel model = testsupport::triangleModel(33);
         model.materials.resize(10000, model.materials.front());
         KvtWriteOptions options;
         options.compressed = true;
         return writeInto(folder, model, options);
     },
     kLoadSucceeded, "too large to import: needs about "},
};

class ImportToolFailure : public ImportToolTest,
                          public ::testing::WithParamInterface<FailureCase> {};

TEST_P(ImportToolFailure, ExitsWithOneSayingWhyWithThePluginResult) {
    const FailureCase& c = GetParam();
    const fs::path path = c.make(root_);
    EXPECT_EQ(diagnoseModelFile(path).loadResult, c.loadResult);

    const Run result = run({.files = {path.string()}});
    EXPECT_EQ(result.status, kExitFailure);
    // The reason is the tool's; the plug-in's own result is whatever it reported.
    // Every diagnostic names the file as it was given.
    EXPECT_EQ(result.err.rfind("quillmesh-import: " + path.string() + ": ", 0), 0u) << result.err;
    EXPECT_NE(result.err.find(c.reason), std::string::npos) << result.err;
    EXPECT_NE(result.err.find(" (plug-in result "), std::string::npos) << result.err;
    EXPECT_EQ(fs::current_path(), startDirectory_);
}

INSTANTIATE_TEST_SUITE_P(Reasons, ImportToolFailure, ::testing::ValuesIn(kFailureCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(ImportToolTest, LengthMismatchNamesBothLengths) {
    const fs::path path =
        writeModel("long.kvt", testsupport::triangleModel(33), withHeader({.lengthDelta = 1}));
    const auto size = fs::file_size(path);
    EXPECT_NE(loadFailureReason(diagnoseModelFile(path))
                  .find("the header says " + std::to_string(size + 1) + " bytes, the file has " +
                        std::to_string(size)),
              std::string::npos);
}

TEST_F(ImportToolTest, SummaryCountsTheModelAndTheScene) {
    setSceneSource(knownScene);
    const fs::path path = writeModel("triangle.kvt", testsupport::triangleModel(33));

    const Run result = run({.files = {path.string()}});
    EXPECT_EQ(result.status, kExitSuccess) << result.err;
    EXPECT_EQ(result.err, "");
    EXPECT_NE(result.out.find(path.string() + ": version 33, "), std::string::npos) << result.out;
    // Counts as the file states them: no groups, though the reader makes a default one.
    EXPECT_NE(result.out.find("  in the file:  1 material, 1 mesh, 3 vertices, 1 polygon, 0 "
                              "groups, 1 UV set\n"),
              std::string::npos)
        << result.out;
    EXPECT_NE(result.out.find("  host got:     2 materials (1 default), 1 mesh, 3 vertices, 1 "
                              "polygon ("),
              std::string::npos)
        << result.out;
    // The texture the known scene names does not exist.
    EXPECT_NE(result.out.find("  textures:     /models/wood.png (diffuse of Wood): warning: "
                              "does not exist\n"),
              std::string::npos)
        << result.out;
    EXPECT_NE(result.out.find("  time:         "), std::string::npos) << result.out;
}

TEST_F(ImportToolTest, SummarySaysHowManyEmbeddedFilesWereSkippedAndWhy) {
    testsupport::KvtChunkedOptions options;
    // Far beyond 16 times the compressed file's size, then one file more than a model keeps.
    options.embeddedFiles.push_back(
        {.name = "huge.bin", .content = testsupport::KvtBytes(1 << 20)});
    for (int i = 0; i <= 1000; ++i) {
        options.embeddedFiles.push_back(
            {.name = "f" + std::to_string(i) + ".bin", .content = testsupport::KvtBytes(1, 1)});
    }
    const fs::path path = root_ / "embedded.kvt";
    testsupport::writeKvtBytesFile(path, testsupport::writeKvt34(testsupport::triangleModel(34),
                                                                 options, {.compressionDepth = 1}));

    const Run result = run({.files = {path.string()}});
    EXPECT_EQ(result.status, kExitSuccess) << result.err;
    EXPECT_NE(result.out.find(
                  "  embedded:     1,000 embedded files kept, 2 skipped: 1 beyond "
                  "the limit of 1,000 files; 1 beyond the limit of 16 times the file's size in "
                  "all\n"),
              std::string::npos)
        << result.out;
}

TEST_F(ImportToolTest, ModelCountsCoverEverySectionAndAllMeshes) {
    KvtModel model = testsupport::triangleModel(33);
    model.lights = {{.name = "Sun"}};
    model.cameras = {{.name = "Front"}, {.name = "Top"}};
    model.groups = {{.name = "All"}};
    model.auxRecords = {{}, {}};
    model.meshes.push_back(model.meshes[0]);
    model.meshes[1].polygons.push_back(model.meshes[1].polygons[0]);
    model.bones = {{.name = "Root"}};
    model.animations = {{.name = "Idle"}};
    const fs::path path = writeModel("full.kvt", model, {.compressed = true});

    const ModelDiagnosis diagnosis = diagnoseModelFile(path);
    ASSERT_EQ(diagnosis.loadResult, kLoadSucceeded);
    EXPECT_EQ(diagnosis.modelVersion, 33);
    const ModelCounts& c = diagnosis.counts;
    EXPECT_EQ(c.lights, 1);
    EXPECT_EQ(c.cameras, 2);
    EXPECT_EQ(c.materials, 1);
    EXPECT_EQ(c.groups, 1);
    EXPECT_EQ(c.vertices, 3);
    EXPECT_EQ(c.auxRecords, 2);
    EXPECT_EQ(c.uvSets, 1);
    EXPECT_EQ(c.meshes, 2);
    EXPECT_EQ(c.polygons, 3);
    EXPECT_EQ(c.bones, 1);
    EXPECT_EQ(c.animations, 1);
    EXPECT_EQ(loadFailureReason(diagnosis), "");
    EXPECT_EQ(fs::current_path(), startDirectory_);
}

TEST_F(ImportToolTest, DescriptorFileHoldsTheBytesTheHostReceived) {
    setSceneSource(knownScene);
    const fs::path modelFolder = root_ / "models";
    const fs::path workFolder = root_ / "work";
    fs::create_directories(modelFolder);
    fs::create_directories(workFolder);
    const fs::path model = modelFolder / "triangle.kvt";
    writeKvtFile(model, testsupport::triangleModel(33));

    // A relative output path names a file in the folder the tool was started in, not beside the
    // model.
    fs::current_path(workFolder);
    const Run result = run({.files = {model.string()}, .descriptorPath = "scene.desc"});
    EXPECT_EQ(result.status, kExitSuccess) << result.err;
    EXPECT_EQ(fs::current_path(), workFolder);
    ASSERT_TRUE(fs::exists(workFolder / "scene.desc"));
    EXPECT_FALSE(fs::exists(modelFolder / "scene.desc"));

    qmhost::Host host;
    const qmhost::ImportOutcome outcome =
        qmhost::runImport(host, PluginMain, qmhost::utf8ToUtf16(model.string()));
    ASSERT_TRUE(outcome.sceneDelivered);
    EXPECT_EQ(fileBytes(workFolder / "scene.desc"), outcome.sceneBytes);
    EXPECT_NE(result.out.find("(" + byteSizeText(outcome.sceneBytes.size()) + ")\n"),
              std::string::npos)
        << result.out;
}

TEST_F(ImportToolTest, DumpDecodesTheReceivedDescriptor) {
    setSceneSource(knownScene);
    const fs::path path = writeModel("triangle.kvt", testsupport::triangleModel(33));

    const Run result = run({.files = {path.string()}, .dumpDescriptor = true});
    ASSERT_EQ(result.status, kExitSuccess) << result.err;
    // Standard output is the JSON alone, and nothing went wrong.
    EXPECT_EQ(result.err, "");
    const Json json = Json::parse(result.out);

    const Json& items = json["items"];
    EXPECT_EQ(items["VrsM"], 1);
    EXPECT_EQ(items["flip"], false);
    ASSERT_EQ(items["mshl"].size(), 1u);
    const Json& mesh = items["mshl"][0];
    EXPECT_EQ(mesh["class"], "msho");
    // Vertices as the scene stores them: (x, -z, y).
    EXPECT_EQ(mesh["items"]["verl"],
              (Json{{"bytes", 72},
                    {"vectors", {{0.0, -0.0, 0.0}, {1.0, -3.0, 2.0}, {-1.5, -4.0, 0.25}}}}));
    EXPECT_EQ(mesh["items"]["nrml"]["vectors"][2], (Json{0.0, -1.0, 0.0}));
    EXPECT_EQ(mesh["items"]["uvl "]["uvs"], (Json{{0.0, 1.0}, {1.0, 1.0}, {0.5, 0.25}}));
    EXPECT_EQ(
        mesh["items"]["facl"],
        (Json{{"bytes", 36},
              {"polygons",
               {Json{{"corners", 3}, {"attributeA", 0}, {"attributeB", 1}, {"material", 1}}}}}));
    EXPECT_EQ(mesh["items"]["faci"]["corners"][2],
              (Json{{"vertex", 2}, {"normal", 2}, {"uv", 0}, {"auxiliary", 2}}));

    ASSERT_EQ(items["mtll"].size(), 2u);
    const Json& wood = items["mtll"][1];
    EXPECT_EQ(wood["class"], "mtlo");
    EXPECT_EQ(wood["items"]["Nm  "], "Wood");
    ASSERT_EQ(wood["items"]["mapl"].size(), 32u);
    const Json& map = wood["items"]["mapl"][0]["items"];
    EXPECT_EQ(map["Nm  "], "/models/wood.png");
    EXPECT_EQ(map["key3DPaintType"], (Json{{"bytes", 7}, {"text", "diffuse"}}));
    EXPECT_EQ(map["LyrN"], (Json{{"bytes", 5}, {"text", "Grain"}}));

    EXPECT_EQ(items["key3DState"]["class"], "key3DState");
    EXPECT_EQ(items["plyc"], 0);
}

TEST_F(ImportToolTest, PluginWithoutSceneFailsForAValidFile) {
    setSceneSource(noScene);
    const fs::path path = writeModel("triangle.kvt", testsupport::triangleModel(33));
    const fs::path descriptor = root_ / "scene.desc";
    const Run result = run({.files = {path.string()}, .descriptorPath = descriptor.string()});
    EXPECT_EQ(result.status, kExitFailure);
    EXPECT_NE(result.err.find(": the plug-in produced no scene, although the file loads as a "
                              "ModelFile (plug-in result -30501: the import produced no scene)"),
              std::string::npos)
        << result.err;
    EXPECT_FALSE(fs::exists(descriptor));
}

TEST_F(ImportToolTest, SceneForAFileThatIsNotAModelFileIsAFailure) {
    setSceneSource(knownScene);
    const fs::path path =
        writeModel("bad.kvt", testsupport::triangleModel(33), withHeader({.magic = "ABCD"}));
    const Run result = run({.files = {path.string()}});
    EXPECT_EQ(result.status, kExitFailure);
    EXPECT_NE(result.err.find("the plug-in handed over a scene, but the file does not load as a "
                              "ModelFile: not a ModelFile"),
              std::string::npos)
        << result.err;
}

TEST_F(ImportToolTest, FlatImportDeliversRowsAndNoDescriptor) {
    setSceneSource(knownScene);
    const fs::path path = writeModel("triangle.kvt", testsupport::triangleModel(33));
    const Run result = run({.files = {path.string()}, .flat = true});
    EXPECT_EQ(result.status, kExitSuccess) << result.err;
    EXPECT_NE(result.out.find("  flat rows:    "), std::string::npos) << result.out;
    EXPECT_EQ(result.out.find("host got:"), std::string::npos) << result.out;
}

TEST_F(ImportToolTest, UnwritableDescriptorPathFails) {
    setSceneSource(knownScene);
    const fs::path path = writeModel("triangle.kvt", testsupport::triangleModel(33));
    const fs::path descriptor = root_ / "no-such-folder" / "scene.desc";
    const Run result = run({.files = {path.string()}, .descriptorPath = descriptor.string()});
    EXPECT_EQ(result.status, kExitFailure);
    EXPECT_NE(
        result.err.find("cannot write " + descriptor.string() + ": No such file or directory"),
        std::string::npos)
        << result.err;
}

TEST_F(ImportToolTest, SeveralFilesAllRunAndEachFailureNamesItsFile) {
    const fs::path good = writeModel("good.kvt", testsupport::triangleModel(33));
    const fs::path missing = root_ / "missing.kvt";
    const fs::path cut = writeModel("cut.kvt", testsupport::cubeModel(33), {.truncateAt = 200});
    const fs::path again = writeModel("again.kvt", testsupport::triangleModel(10));

    const Run result = run(
        {.files = {good.string(), missing.string(), cut.string(), again.string()}, .json = true});
    EXPECT_EQ(result.status, kExitFailure);
    EXPECT_EQ(result.err, "quillmesh-import: " + missing.string() +
                              ": No such file or directory (plug-in result -30501: the import "
                              "produced no scene)\nquillmesh-import: " +
                              cut.string() +
                              ": damaged or truncated: the materials section cannot be read in "
                              "full (plug-in result -30501: the import produced no scene)\n");
    // One compact line: an array with one object per file, in order.
    ASSERT_EQ(result.out.find('\n'), result.out.size() - 1) << result.out;
    const Json json = Json::parse(result.out);
    ASSERT_EQ(json.size(), 4u);
    const char* const results[] = {"imported", "failed", "failed", "imported"};
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(json[i]["result"], results[i]) << i;
    }
    EXPECT_EQ(json[0]["file"], good.string());
    EXPECT_EQ(json[0]["version"], 33);
    EXPECT_EQ(json[0]["fileCounts"]["groups"], 0);
    EXPECT_EQ(json[0]["hostCounts"]["materials"], 2);
    EXPECT_EQ(json[0]["materials"][0]["default"], true);
    EXPECT_EQ(json[1]["size"], nullptr);
    EXPECT_EQ(json[2]["reason"],
              "damaged or truncated: the materials section cannot be read in full (plug-in result "
              "-30501: the import produced no scene)");
    EXPECT_EQ(json[3]["version"], 10);
}

TEST_F(ImportToolTest, JsonSummaryNamesTexturesAndBoundsButHoldsNoGeometry) {
    setSceneSource(knownScene);
    const fs::path path = writeModel("triangle.kvt", testsupport::triangleModel(33));
    const Run result = run({.files = {path.string()}, .json = true});
    ASSERT_EQ(result.status, kExitSuccess) << result.err;
    const Json json = Json::parse(result.out);
    EXPECT_EQ(json["materials"][1]["textures"],
              (Json::array({Json{{"slot", 0}, {"path", "/models/wood.png"}, {"exists", false}}})));
    EXPECT_EQ(json["warnings"],
              Json::array({"texture /models/wood.png (material Wood) does not exist"}));
    // The host's axes: (x, -z, y) of the scene's vertices.
    EXPECT_EQ(json["meshes"][0]["bounds"],
              (Json{{"min", {-1.5, -4.0, 0.0}}, {"max", {1.0, 0.0, 2.0}}}));
    EXPECT_EQ(json["meshes"][0]["vertices"], 3);
    EXPECT_EQ(result.out.find("vectors"), std::string::npos);
}

TEST_F(ImportToolTest, DescriptorDashWritesTheBytesToStandardOutput) {
    const fs::path path = writeModel("triangle.kvt", testsupport::triangleModel(33));
    const Run result = run({.files = {path.string()}, .descriptorPath = "-"});
    ASSERT_EQ(result.status, kExitSuccess) << result.err;
    qmhost::Host host;
    const qmhost::ImportOutcome outcome =
        qmhost::runImport(host, PluginMain, qmhost::utf8ToUtf16(path.string()));
    EXPECT_EQ(std::vector<uint8_t>(result.out.begin(), result.out.end()), outcome.sceneBytes);
    EXPECT_FALSE(fs::exists(fs::current_path() / "-"));
}

TEST(Progress, ShowsTheStageAfterASecondOnATerminalAndClearsItsLine) {
    for (const bool terminal : {false, true}) {
        std::ostringstream err;
        {
            Progress progress(err, terminal, "big.kvt");
            progress.stage("importing");
            std::this_thread::sleep_for(std::chrono::milliseconds(1300));
        }
        const std::string text = err.str();
        if (!terminal) {
            EXPECT_EQ(text, "");
            continue;
        }
        EXPECT_EQ(text.rfind("\rquillmesh-import: big.kvt: importing... 1.", 0), 0u) << text;
        // The line is overwritten with spaces and the cursor returned at the end.
        EXPECT_EQ(text.back(), '\r');
    }
}

TEST(ReportScene, CountsMaterialsAndTheGeometryOfEveryMesh) {
    using qmhost::Descriptor;
    using qmhost::fourcc;
    using qmhost::Value;
    Descriptor first(fourcc("msho"));
    first.put(fourcc("verl"), Value::fromData(std::vector<uint8_t>(3 * 24)));
    first.put(fourcc("facl"), Value::fromData(std::vector<uint8_t>(2 * 36)));
    Descriptor second(fourcc("msho"));
    second.put(fourcc("verl"), Value::fromData(std::vector<uint8_t>(24)));
    Descriptor root;
    root.put(fourcc("mshl"), Value::fromList({Value::fromObject(fourcc("msho"), first),
                                              Value::fromObject(fourcc("msho"), second)}));
    root.put(fourcc("mtll"), Value::fromList({Value::fromObject(fourcc("mtlo"), Descriptor()),
                                              Value::fromObject(fourcc("mtlo"), Descriptor()),
                                              Value::fromObject(fourcc("mtlo"), Descriptor())}));
    const SceneReport report = reportScene(root);
    EXPECT_EQ(report.materials.size(), 3u);
    ASSERT_EQ(report.meshes.size(), 2u);
    EXPECT_EQ(report.meshes[0].vertices, 3u);
    EXPECT_EQ(report.meshes[0].polygons, 2u);
    EXPECT_EQ(report.vertices, 4u);
    EXPECT_EQ(report.polygons, 2u);

    const SceneReport none = reportScene(Descriptor());
    EXPECT_EQ(none.materials.size() + none.meshes.size() + none.vertices + none.polygons, 0u);
}

}  // namespace
}  // namespace quillmesh::tool
