// Whole imports: ModelFiles written to disk by our writer, imported through
// PluginMain by our host, and the scene descriptor the host received read
// back: materials, converted vertices and UVs, polygons with their material
// indices, derived normals, texture paths in folders named outside ASCII, and
// files that cannot be imported ending with the import's error.
#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "entry/import_sequence.h"
#include "entry/plugin_main.h"
#include "entry/suites.h"
#include "host/host.h"
#include "host/import_driver.h"
#include "platform/platform.h"
#include "tests/support/kvt_chunks.h"
#include "tests/support/kvt_writer.h"
#include "tests/support/scratch_folder.h"

namespace {

namespace fs = std::filesystem;
namespace ts = quillmesh::testsupport;

using qmhost::Descriptor;
using qmhost::fourcc;
using qmhost::Host;
using qmhost::Value;
using qmhost::ValueKind;

constexpr uint32_t kUsRt = 0x55735274;
constexpr std::size_t kVectorBytes = 24;
constexpr std::size_t kUVBytes = 16;
constexpr std::size_t kPolygonBytes = 36;
constexpr std::size_t kCornerBytes = 16;

struct Vector3 {
    double x, y, z;
    friend bool operator==(const Vector3&, const Vector3&) = default;
};

struct UV {
    double u, v;
    friend bool operator==(const UV&, const UV&) = default;
};

struct Corner {
    int32_t vertex, normal, uv, auxiliary;
};

struct PolygonRecord {
    int32_t cornerCount, attributeA, attributeB, materialIndex;
};

uint64_t le(const std::vector<uint8_t>& bytes, std::size_t offset, int width) {
    uint64_t value = 0;
    for (int i = width - 1; i >= 0; --i) {
        value = (value << 8) | bytes.at(offset + static_cast<std::size_t>(i));
    }
    return value;
}

double float64At(const std::vector<uint8_t>& bytes, std::size_t offset) {
    return std::bit_cast<double>(le(bytes, offset, 8));
}

int32_t int32At(const std::vector<uint8_t>& bytes, std::size_t offset) {
    return static_cast<int32_t>(static_cast<uint32_t>(le(bytes, offset, 4)));
}

// The scene's model vertex (x, y, z), as the host receives it: (x, -z, y).
Vector3 sceneAxes(const ts::KvtVec3& model) {
    return {model[0], -static_cast<double>(model[2]), model[1]};
}

// The mesh and material descriptors of a scene descriptor.
struct ReceivedScene {
    std::optional<Descriptor> root;
    std::vector<const Descriptor*> meshes;
    std::vector<const Descriptor*> materials;
};

std::vector<const Descriptor*> objectsOf(const Descriptor& owner, HostKey listKey,
                                         HostKey classKey) {
    std::vector<const Descriptor*> out;
    const Value* list = owner.find(listKey);
    if (list == nullptr || list->kind() != ValueKind::List) {
        ADD_FAILURE() << "no list";
        return out;
    }
    for (const Value& item : list->asList()) {
        if (item.kind() != ValueKind::Object || item.asObject().classId() != classKey) {
            ADD_FAILURE() << "list element of another kind";
            continue;
        }
        out.push_back(&item.asObject());
    }
    return out;
}

std::vector<uint8_t> dataOf(const Descriptor& owner, HostKey key) {
    const Value* value = owner.find(key);
    if (value == nullptr || value->kind() != ValueKind::Data) {
        return {};
    }
    return value->asData();
}

std::u16string textOf(const Descriptor& owner, HostKey key) {
    const Value* value = owner.find(key);
    if (value == nullptr || value->kind() != ValueKind::Text) {
        ADD_FAILURE() << "no text";
        return u"<missing>";
    }
    return value->asText();
}

double floatOf(const Descriptor& owner, HostKey key) {
    const Value* value = owner.find(key);
    if (value == nullptr || value->kind() != ValueKind::Float) {
        ADD_FAILURE() << "no float";
        return -1.0;
    }
    return value->asFloat();
}

std::vector<Vector3> vectorsOf(const Descriptor& mesh, HostKey key) {
    const std::vector<uint8_t> bytes = dataOf(mesh, key);
    EXPECT_EQ(bytes.size() % kVectorBytes, 0u);
    std::vector<Vector3> out;
    for (std::size_t at = 0; at + kVectorBytes <= bytes.size(); at += kVectorBytes) {
        out.push_back({float64At(bytes, at), float64At(bytes, at + 8), float64At(bytes, at + 16)});
    }
    return out;
}

std::vector<UV> uvsOf(const Descriptor& mesh) {
    const std::vector<uint8_t> bytes = dataOf(mesh, fourcc("uvl "));
    EXPECT_EQ(bytes.size() % kUVBytes, 0u);
    std::vector<UV> out;
    for (std::size_t at = 0; at + kUVBytes <= bytes.size(); at += kUVBytes) {
        out.push_back({float64At(bytes, at), float64At(bytes, at + 8)});
    }
    return out;
}

std::vector<PolygonRecord> polygonsOf(const Descriptor& mesh) {
    const std::vector<uint8_t> bytes = dataOf(mesh, fourcc("facl"));
    EXPECT_EQ(bytes.size() % kPolygonBytes, 0u);
    std::vector<PolygonRecord> out;
    for (std::size_t at = 0; at + kPolygonBytes <= bytes.size(); at += kPolygonBytes) {
        out.push_back({int32At(bytes, at), int32At(bytes, at + 8), int32At(bytes, at + 12),
                       int32At(bytes, at + 16)});
    }
    return out;
}

std::vector<Corner> cornersOf(const Descriptor& mesh) {
    const std::vector<uint8_t> bytes = dataOf(mesh, fourcc("faci"));
    EXPECT_EQ(bytes.size() % kCornerBytes, 0u);
    std::vector<Corner> out;
    for (std::size_t at = 0; at + kCornerBytes <= bytes.size(); at += kCornerBytes) {
        out.push_back({int32At(bytes, at), int32At(bytes, at + 4), int32At(bytes, at + 8),
                       int32At(bytes, at + 12)});
    }
    return out;
}

// The path of map slot `slot` of a material descriptor.
std::u16string mapPath(const Descriptor& material, std::size_t slot) {
    const std::vector<const Descriptor*> maps = objectsOf(material, fourcc("mapl"), fourcc("mapo"));
    if (slot >= maps.size()) {
        ADD_FAILURE() << "no map slot " << slot;
        return u"<missing>";
    }
    return textOf(*maps[slot], fourcc("Nm  "));
}

// Each test works in a folder of its own under the system's temporary folder;
// the current directory is put back before the folder is removed (Windows
// cannot remove the current directory).
class ImportEndToEnd : public ::testing::Test {
  protected:
    void SetUp() override {
        quillmesh::setSceneSource(nullptr);
        std::error_code error;
        originalDirectory_ = fs::current_path(error);
        ASSERT_FALSE(error) << error.message();
        root_ = quillmesh::testsupport::makeScratchFolder("quillmesh_import_");
        ASSERT_FALSE(root_.empty()) << "no temporary folder could be made";
    }

    void TearDown() override {
        quillmesh::gGlobals.basicSuite = &host.basicSuite();
        quillmesh::releaseAllSuites();
        std::error_code error;
        fs::current_path(originalDirectory_, error);
        EXPECT_FALSE(error) << error.message();
        if (!root_.empty()) {
            fs::remove_all(root_, error);
            EXPECT_FALSE(error) << error.message();
        }
    }

    // Writes `bytes` as `name` in `folder` (made when missing) and returns the
    // file's path as the host hands it over.
    std::u16string writeModel(const fs::path& folder, const std::u16string& name,
                              const ts::KvtBytes& bytes) {
        std::error_code error;
        fs::create_directories(folder, error);
        EXPECT_FALSE(error) << error.message();
        const std::u16string path = (folder / fs::path(name)).u16string();
        EXPECT_TRUE(quillmesh::platform::writeWholeFile(path, bytes));
        return path;
    }

    // Imports `path`, checks that it succeeded and the host got everything
    // back, and reads the scene descriptor.
    ReceivedScene importScene(const std::u16string& path) {
        ReceivedScene scene;
        const qmhost::ImportOutcome outcome = qmhost::runImport(host, PluginMain, path);
        EXPECT_EQ(outcome.result(), 0);
        EXPECT_TRUE(outcome.sceneDelivered);
        EXPECT_TRUE(host.balanced()) << host.accountSummary();
        EXPECT_EQ(host.resources().count(kUsRt), 1);
        scene.root = qmhost::unflatten(outcome.sceneBytes, host.descriptors().ids());
        if (!scene.root.has_value()) {
            ADD_FAILURE() << "the host received no readable scene";
            return scene;
        }
        scene.meshes = objectsOf(*scene.root, fourcc("mshl"), fourcc("msho"));
        scene.materials = objectsOf(*scene.root, fourcc("mtll"), fourcc("mtlo"));
        return scene;
    }

    Host host;
    fs::path root_;
    fs::path originalDirectory_;
};

class ImportEveryVersion : public ImportEndToEnd,
                           public ::testing::WithParamInterface<std::tuple<int32_t, bool>> {};

TEST_P(ImportEveryVersion, CubeArrivesWithItsMaterialsGeometryAndTextures) {
    const auto [version, compressed] = GetParam();
    const ts::KvtModel model = ts::texturedCubeModel(version);
    // Version 34 is the chunked layout, written by its own writer.
    const ts::KvtBytes bytes =
        version >= ts::kKvtChunkedVersion
            ? ts::writeKvt34(model, {}, {.compressionDepth = compressed ? 1 : 0})
            : ts::writeKvt(model, {.compressed = compressed});
    const std::u16string path = writeModel(root_, u"cube.kvt", bytes);
    const ReceivedScene scene = importScene(path);
    ASSERT_TRUE(scene.root.has_value());

    ASSERT_EQ(scene.materials.size(), 3u);
    const Descriptor& fallback = *scene.materials[0];
    const Descriptor& first = *scene.materials[1];
    const Descriptor& second = *scene.materials[2];
    EXPECT_EQ(textOf(fallback, fourcc("Nm  ")), u"__PS_CS4_3D_Default");
    EXPECT_EQ(floatOf(fallback, fourcc("dred")), 1.0);
    EXPECT_EQ(textOf(first, fourcc("Nm  ")), u"Material");
    EXPECT_EQ(textOf(second, fourcc("Nm  ")), u"Second");
    EXPECT_EQ(floatOf(second, fourcc("dred")), 0.5);
    EXPECT_EQ(floatOf(second, fourcc("dgrn")), 0.25);
    EXPECT_EQ(floatOf(second, fourcc("ared")), static_cast<double>(0.1f));
    EXPECT_EQ(floatOf(second, fourcc("sred")), 0.75);
    EXPECT_EQ(floatOf(second, fourcc("shin")), 0.5);
    EXPECT_EQ(floatOf(second, fourcc("Trns")), 0.75);
    EXPECT_EQ(floatOf(second, fourcc("shi2")), 0.0);
    const Value* twoSided = second.find(fourcc("twos"));
    ASSERT_NE(twoSided, nullptr);
    EXPECT_TRUE(twoSided->asBoolean());
    ASSERT_NE(first.find(fourcc("twos")), nullptr);
    EXPECT_FALSE(first.find(fourcc("twos"))->asBoolean());

    // Texture names that name no existing file are put beside the model.
    const fs::path folder = fs::path(path).parent_path();
    EXPECT_EQ(mapPath(first, 0), (folder / "wood.png").u16string());
    EXPECT_EQ(mapPath(first, 4), (folder / "bump.png").u16string());
    EXPECT_EQ(mapPath(first, 1), u"");
    EXPECT_EQ(mapPath(second, 0), u"");

    ASSERT_EQ(scene.meshes.size(), 1u);
    const Descriptor& mesh = *scene.meshes[0];
    const std::vector<Vector3> vertices = vectorsOf(mesh, fourcc("verl"));
    ASSERT_EQ(vertices.size(), model.vertices.size());
    for (std::size_t i = 0; i < vertices.size(); ++i) {
        EXPECT_EQ(vertices[i], sceneAxes(model.vertices[i].position)) << "vertex " << i;
    }
    EXPECT_EQ(vectorsOf(mesh, fourcc("nrml")).size(), model.vertices.size());

    const std::vector<UV> uvs = uvsOf(mesh);
    const std::vector<PolygonRecord> polygons = polygonsOf(mesh);
    const std::vector<Corner> corners = cornersOf(mesh);
    const std::vector<ts::KvtPolygon>& modelPolygons = model.meshes[0].polygons;
    ASSERT_EQ(polygons.size(), modelPolygons.size());
    ASSERT_EQ(corners.size(), 3 * modelPolygons.size());
    for (std::size_t p = 0; p < polygons.size(); ++p) {
        SCOPED_TRACE(testing::Message() << "polygon " << p);
        const ts::KvtPolygon& modelPolygon = modelPolygons[p];
        EXPECT_EQ(polygons[p].cornerCount, 3);
        EXPECT_EQ(polygons[p].attributeA, 0);
        EXPECT_EQ(polygons[p].attributeB, 1);
        EXPECT_EQ(polygons[p].materialIndex, modelPolygon.materialIndex + 1);
        for (std::size_t k = 0; k < 3; ++k) {
            const Corner& corner = corners[3 * p + k];
            EXPECT_EQ(corner.vertex, modelPolygon.vertices[k]);
            EXPECT_EQ(corner.normal, corner.vertex);
            EXPECT_EQ(corner.auxiliary, corner.vertex);
            // Old files number their UVs corner by corner, new ones share
            // them: either way the corner's UV is the model's, v flipped.
            const ts::KvtUVCoord& modelUV = model.uvSets[0].coords.at(
                static_cast<std::size_t>(modelPolygon.uvLayers[0].uvIndices[k]));
            ASSERT_GE(corner.uv, 0);
            ASSERT_LT(static_cast<std::size_t>(corner.uv), uvs.size());
            EXPECT_EQ(uvs[static_cast<std::size_t>(corner.uv)],
                      (UV{modelUV.u, 1.0 - static_cast<double>(modelUV.v)}));
        }
    }
}

INSTANTIATE_TEST_SUITE_P(ClassicVersions, ImportEveryVersion,
                         ::testing::Combine(::testing::Values(6, 10, 29, 30, 31, 32, 33, 34),
                                            ::testing::Bool()),
                         [](const ::testing::TestParamInfo<std::tuple<int32_t, bool>>& info) {
                             return "v" + std::to_string(std::get<0>(info.param)) +
                                    (std::get<1>(info.param) ? "_compressed" : "_plain");
                         });

// The reader derives vertex normals from the faces; a flat triangle in the
// model's xy plane faces +z, which the host receives as -y.
TEST_F(ImportEndToEnd, FlatTriangleArrivesWithItsDerivedNormal) {
    for (int32_t version : {6, 30, 33}) {
        SCOPED_TRACE(version);
        ts::KvtModel model = ts::triangleModel(version);
        model.flags = 0;  // no stored normals: they are derived on loading
        const std::u16string name =
            u"triangle" + quillmesh::platform::fromUtf8(std::to_string(version)) + u".kvt";
        const std::u16string path = writeModel(root_, name, ts::writeKvt(model));
        const ReceivedScene scene = importScene(path);
        ASSERT_TRUE(scene.root.has_value());
        ASSERT_EQ(scene.meshes.size(), 1u);
        const std::vector<Vector3> normals = vectorsOf(*scene.meshes[0], fourcc("nrml"));
        ASSERT_EQ(normals.size(), 3u);
        for (const Vector3& normal : normals) {
            EXPECT_EQ(normal, (Vector3{0.0, -1.0, 0.0}));
        }
        const Value* hostNormals = scene.meshes[0]->find(fourcc("hsmt"));
        ASSERT_NE(hostNormals, nullptr);
        EXPECT_FALSE(hostNormals->asBoolean());
    }
}

// A chunked file stores polygons with exactly their UV layers; a triangle with
// none reaches the host with UV index 0 at every corner, next to a triangle
// whose layer names its UVs.
TEST_F(ImportEndToEnd, ChunkedPolygonWithoutUVLayersArrivesWithUVZero) {
    for (const int depth : {0, 1, 2}) {
        SCOPED_TRACE(depth);
        ts::KvtModel model = ts::triangleModel(34);
        ts::KvtPolygon bare = model.meshes[0].polygons[0];
        bare.uvLayers.clear();
        model.meshes[0].polygons.push_back(bare);
        model.meshes[0].polygons[0].uvLayers = {
            ts::KvtUVLayer{.uvIndices = {2, 1, 2}, .uvValues = {0, 0, 0}}};
        const std::u16string name =
            u"bare" + quillmesh::platform::fromUtf8(std::to_string(depth)) + u".kvt";
        const std::u16string path = writeModel(
            root_, name, ts::writeKvt34(model, {.flags = 0}, {.compressionDepth = depth}));
        const ReceivedScene scene = importScene(path);
        ASSERT_TRUE(scene.root.has_value());
        ASSERT_EQ(scene.meshes.size(), 1u);
        const std::vector<PolygonRecord> polygons = polygonsOf(*scene.meshes[0]);
        const std::vector<Corner> corners = cornersOf(*scene.meshes[0]);
        ASSERT_EQ(polygons.size(), 2u);
        ASSERT_EQ(corners.size(), 6u);
        EXPECT_EQ(corners[0].uv, 2);
        EXPECT_EQ(corners[1].uv, 1);
        for (std::size_t k = 3; k < 6; ++k) {
            EXPECT_EQ(corners[k].uv, 0) << "corner " << k;
            EXPECT_EQ(corners[k].vertex, bare.vertices[k - 3]) << "corner " << k;
        }
    }
}

// A chunked polygon without corners reaches the host as a polygon record of
// corner count 0 with no corner records, between its neighbours' corners.
TEST_F(ImportEndToEnd, ChunkedPolygonWithoutCornersArrivesWithCornerCountZero) {
    ts::KvtModel model = ts::triangleModel(34);
    const ts::KvtPolygon triangle = model.meshes[0].polygons[0];
    model.meshes[0].polygons = {triangle, ts::KvtPolygon{.materialIndex = 0}, triangle};
    const std::u16string path =
        writeModel(root_, u"cornerless.kvt", ts::writeKvt34(model, {.flags = 0}));
    const ReceivedScene scene = importScene(path);
    ASSERT_TRUE(scene.root.has_value());
    ASSERT_EQ(scene.meshes.size(), 1u);
    const std::vector<PolygonRecord> polygons = polygonsOf(*scene.meshes[0]);
    ASSERT_EQ(polygons.size(), 3u);
    EXPECT_EQ(polygons[0].cornerCount, 3);
    EXPECT_EQ(polygons[1].cornerCount, 0);
    EXPECT_EQ(polygons[1].materialIndex, 1) << "the model material, after the default";
    EXPECT_EQ(polygons[2].cornerCount, 3);
    const std::vector<Corner> corners = cornersOf(*scene.meshes[0]);
    ASSERT_EQ(corners.size(), 6u);
    for (std::size_t k = 0; k < corners.size(); ++k) {
        EXPECT_EQ(corners[k].vertex, triangle.vertices[k % 3]) << "corner " << k;
    }
}

// Folder names outside ASCII reach the host intact in texture paths, and
// wide material names in material names.
TEST_F(ImportEndToEnd, ModelsInFoldersNamedOutsideAsciiKeepTheirTexturePaths) {
    struct Case {
        const char* label;
        std::u16string folder;
        std::u16string file;
        std::u16string material;
    };
    const std::vector<Case> cases = {
        {"Cyrillic", u"\u041C\u043E\u0434\u0435\u043B\u0438",
         u"\u043C\u043E\u0434\u0435\u043B\u044C.kvt", u"\u0414\u0435\u0440\u0435\u0432\u043E"},
        {"Japanese", u"\u30E2\u30C7\u30EB", u"\u6A21\u578B.kvt", u"\u6728\u6750"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        ts::KvtModel model = ts::triangleModel(33);
        model.materials[0].name = c.material;
        // A layered diffuse map whose first layer is the image: the model
        // keeps layer names bare, and they are put beside the model. A
        // plain bump map whose file is missing is put beside the model too;
        // a specular map named in the folder's script whose file exists
        // keeps its name.
        const std::u16string specular = c.material + u".png";
        model.materials[0].maps = {
            ts::KvtMap{.key = 0,
                       .kind = 4,
                       .mapFlags = 1,
                       .layers = {ts::KvtMapLayer{.fileName = "wood.png"}}},
            ts::KvtMap{.key = 1, .kind = 1, .fileName = u"C:\\elsewhere\\bump.png"},
            ts::KvtMap{.key = 2, .kind = 1, .fileName = specular},
        };
        const fs::path folder = root_ / fs::path(c.folder);
        const std::u16string path = writeModel(folder, c.file, ts::writeKvt(model));
        ts::writeKvtBytesFile(folder / fs::path(specular), ts::KvtBytes{1, 2, 3});
        const ReceivedScene scene = importScene(path);
        ASSERT_TRUE(scene.root.has_value());
        ASSERT_EQ(scene.materials.size(), 2u);
        EXPECT_EQ(textOf(*scene.materials[1], fourcc("Nm  ")), c.material);
        const std::u16string expected = (folder / "wood.png").u16string();
        EXPECT_EQ(mapPath(*scene.materials[1], 0), expected);
        EXPECT_NE(expected.find(c.folder), std::u16string::npos);
        EXPECT_EQ(mapPath(*scene.materials[1], 4), (folder / "bump.png").u16string());
        EXPECT_EQ(mapPath(*scene.materials[1], 2), (folder / fs::path(specular)).u16string());
    }
}

// Files that are not importable ModelFiles: the import ends with -30501,
// the host's 3D-layer record is left empty, and the host gets back
// everything it lent (the private resource is still stored).
TEST_F(ImportEndToEnd, FilesThatCannotBeImportedEndWithTheImportError) {
    const ts::KvtModel model = ts::triangleModel(30);
    const ts::KvtBytes valid = ts::writeKvt(model);
    const ts::KvtBytes packed = ts::writeKvt(model, {.compressed = true});
    struct Case {
        const char* label;
        std::optional<ts::KvtBytes> bytes;  // unset: no file is written
    };
    const std::vector<Case> cases = {
        {"bad-magic", ts::writeKvt(model, {.header = {.magic = "KVTX"}})},
        {"version-5", ts::writeKvt(model, {.header = {.version = 5}})},
        {"version-99", ts::writeKvt(model, {.header = {.version = 99}})},
        {"length-word-too-large", ts::writeKvt(model, {.header = {.lengthDelta = 4}})},
        {"length-word-too-small", ts::writeKvt(model, {.header = {.lengthDelta = -4}})},
        {"body-cut-short", ts::writeKvt(model, {.truncateAt = valid.size() - 10})},
        {"file-cut-short", ts::writeKvt(model, {.truncateFileAt = valid.size() - 10})},
        {"header-only", ts::writeKvt(model, {.truncateFileAt = 20})},
        {"compressed-cut-short",
         ts::writeKvt(model, {.compressed = true, .truncateFileAt = packed.size() - 8})},
        {"compressed-bad-inner-magic",
         ts::writeKvt(model, {.compressed = true, .innerHeader = {.magic = "XXXX"}})},
        {"empty-file", ts::KvtBytes{}},
        {"missing-file", std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        std::u16string path;
        if (c.bytes.has_value()) {
            path = writeModel(root_, quillmesh::platform::fromUtf8(c.label) + u".kvt", *c.bytes);
        } else {
            path = (root_ / "missing.kvt").u16string();
        }
        Host local;
        const qmhost::ImportOutcome outcome = qmhost::runImport(local, PluginMain, path);
        EXPECT_EQ(outcome.continueResult, RESULT_IMPORT_FAILED);
        EXPECT_EQ(outcome.result(), RESULT_IMPORT_FAILED);
        EXPECT_FALSE(outcome.sceneDelivered);
        EXPECT_TRUE(outcome.sceneBytes.empty());
        EXPECT_EQ(local.threeDLayer().sceneDescriptor, nullptr);
        EXPECT_EQ(local.resources().count(kUsRt), 1);
        EXPECT_TRUE(local.balanced()) << local.accountSummary();
        quillmesh::gGlobals.basicSuite = &local.basicSuite();
        quillmesh::releaseAllSuites();
    }
    // A folder named like a model is no model either.
    const fs::path folder = root_ / "folder.kvt";
    fs::create_directory(folder);
    Host local;
    const qmhost::ImportOutcome outcome = qmhost::runImport(local, PluginMain, folder.u16string());
    EXPECT_EQ(outcome.continueResult, RESULT_IMPORT_FAILED);
    EXPECT_TRUE(local.balanced()) << local.accountSummary();
    quillmesh::gGlobals.basicSuite = &local.basicSuite();
    quillmesh::releaseAllSuites();
}

}  // namespace
