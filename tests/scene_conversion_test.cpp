// The copy of a loaded model into an ImportScene: materials with their merges,
// colours, shininess, transparency, sidedness and texture slots; vertices,
// normals and UVs with their coordinate conversions; the first mesh's
// polygons with every index checked; and memory running out at any point.
// Models are built directly in ModelData so that each case says exactly what
// the model holds.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "model/kvt_plugin.h"
#include "model/model_records.h"
#include "scene/import_scene.h"
#include "scene/model_conversion.h"
#include "scene/scene_memory.h"

namespace quillmesh {
namespace {

constexpr char16_t kModelPath[] = u"C:\\models\\scene.kvt";
// modelDirectory of kModelPath.
constexpr char16_t kModelDir[] = u"C:\\models\\";

template <class T>
void syncCount(ElementSlot<T>& slot) {
    slot.count = static_cast<int32_t>(slot.items.size());
}

ModelName wideName(std::u16string_view text) {
    ModelName name;
    EXPECT_TRUE(name.assignWide(text));
    return name;
}

// A model assembled element by element. References returned stay valid until
// the next element of the same kind is added.
class ModelBuilder {
  public:
    ModelBuilder() { plugin.sourcePath = kModelPath; }

    ModelMaterial& material(std::u16string_view name) {
        ModelMaterial& added = plugin.model.materials.items.emplace_back();
        added.name = wideName(name);
        added.shininess = 128.0f;
        added.opacity = 1.0f;
        syncCount(plugin.model.materials);
        return added;
    }

    void vertex(Vec3 position, Vec3 normal = {}) {
        ModelVertex& added = plugin.model.vertices.items.emplace_back();
        added.position = position;
        added.normal = normal;
        syncCount(plugin.model.vertices);
    }

    // n vertices at (i, 0, 0).
    void vertices(int n) {
        for (int i = 0; i < n; ++i) {
            vertex({static_cast<float>(i), 0.0f, 0.0f});
        }
    }

    UVSet& uvSet(const std::vector<std::pair<float, float>>& coords) {
        UVSet& added = plugin.model.uvSets.items.emplace_back();
        for (const auto& [u, v] : coords) {
            added.coords.push_back(UVCoord{0, u, v});
        }
        added.coordCount = static_cast<int32_t>(added.coords.size());
        syncCount(plugin.model.uvSets);
        return added;
    }

    ModelMesh& mesh() {
        ModelMesh& added = plugin.model.meshes.items.emplace_back();
        syncCount(plugin.model.meshes);
        return added;
    }

    KVTPlugin plugin;
};

// A polygon of `vertices` corners with one UV layer per entry of `layers` (each filled up to the
// corner count with -1) and cornerCount equal to the number of vertices.
ModelPolygon& addPolygon(ModelMesh& mesh, const std::vector<int32_t>& vertices,
                         int32_t materialIndex,
                         const std::vector<std::vector<int32_t>>& layers = {}) {
    ModelPolygon& polygon = mesh.polygons.emplace_back();
    polygon.cornerCount = static_cast<int32_t>(vertices.size());
    polygon.firstCorner = static_cast<uint32_t>(mesh.vertexIndices.size());
    mesh.vertexIndices.insert(mesh.vertexIndices.end(), vertices.begin(), vertices.end());
    polygon.materialIndex = materialIndex;
    polygon.firstUV = static_cast<uint32_t>(mesh.uvIndices.size());
    polygon.uvLayerCount = static_cast<int32_t>(layers.size());
    for (std::vector<int32_t> layer : layers) {
        layer.resize(vertices.size(), -1);
        mesh.uvIndices.insert(mesh.uvIndices.end(), layer.begin(), layer.end());
    }
    mesh.polygonCount = static_cast<int32_t>(mesh.polygons.size());
    return polygon;
}

TextureMap& addMap(ModelMaterial& material, int32_t key, int32_t kind) {
    auto map = std::make_unique<TextureMap>();
    map->key = key;
    map->kind = kind;
    map->record = makeMapRecord(kind);
    TextureMap& added = *map;
    material.maps.push_back(std::move(map));
    material.mapCount = static_cast<int32_t>(material.maps.size());
    return added;
}

// A map whose record holds one image name (kind 1 and the kinds sharing its record).
TextureMap& addImageMap(ModelMaterial& material, int32_t key, int32_t kind,
                        std::u16string_view fileName) {
    TextureMap& map = addMap(material, key, kind);
    std::visit(
        [&](auto& record) {
            if constexpr (requires { record.fileName; }) {
                record.fileName = wideName(fileName);
            } else {
                ADD_FAILURE() << "kind " << kind << " holds no single image";
            }
        },
        map.record);
    return map;
}

TextureMap& addLayeredMap(ModelMaterial& material, int32_t key, int32_t mapFlags,
                          const std::vector<std::u16string>& layerNames) {
    TextureMap& map = addMap(material, key, 4);
    map.mapFlags = mapFlags;
    MapKind4Record& record = std::get<MapKind4Record>(map.record);
    for (const std::u16string& name : layerNames) {
        record.layers.push_back(MapLayer{wideName(name), 0, 0, 1.0f});
    }
    record.layerCount = static_cast<int32_t>(record.layers.size());
    return map;
}

struct Converted {
    ImportSceneOwner scene;
    bool succeeded = false;
    std::vector<const SceneMaterial*> materials;
    const SceneMesh* mesh = nullptr;
};

Converted convert(const KVTPlugin& plugin) {
    Converted out;
    out.scene.reset(createImportScene());
    if (out.scene == nullptr) {
        ADD_FAILURE() << "no scene";
        return out;
    }
    out.succeeded = convertModelToScene(plugin, *out.scene);
    for (const SceneMaterial& material : out.scene->materials) {
        out.materials.push_back(&material);
    }
    out.mesh = out.scene->meshes.empty() ? nullptr : &out.scene->meshes[0];
    return out;
}

std::vector<int32_t> materialIndices(const SceneMesh& mesh) {
    std::vector<int32_t> out;
    for (const ScenePolygon& polygon : mesh.polygons) {
        out.push_back(polygon.materialIndex);
    }
    return out;
}

std::vector<SceneCorner> cornersOf(const SceneMesh& mesh, const ScenePolygon& polygon) {
    const std::span<const SceneCorner> corners = mesh.cornersOf(polygon);
    return {corners.begin(), corners.end()};
}

TEST(SceneConversion, TwoMaterialsGiveThreeSceneMaterialsAndShiftedIndices) {
    ModelBuilder model;
    model.material(u"Brick");
    model.material(u"Glass");
    model.vertices(3);
    ModelMesh& mesh = model.mesh();
    addPolygon(mesh, {0, 1, 2}, 1);
    addPolygon(mesh, {0, 1, 2}, 0);
    addPolygon(mesh, {0, 1, 2}, -1);
    const Converted result = convert(model.plugin);
    ASSERT_TRUE(result.succeeded);
    ASSERT_EQ(result.materials.size(), 3u);
    EXPECT_EQ(result.materials[0]->name.view(), "__PS_CS4_3D_Default");
    EXPECT_EQ(result.materials[1]->name.view(), "Brick");
    EXPECT_EQ(result.materials[2]->name.view(), "Glass");
    const SceneMaterial& fallback = *result.materials[0];
    EXPECT_EQ(fallback.diffuseRed, 1.0);
    EXPECT_EQ(fallback.diffuseGreen, 1.0);
    EXPECT_EQ(fallback.diffuseBlue, 1.0);
    // Everything else of the default material keeps the scene defaults.
    EXPECT_EQ(fallback.ambientRed, 30.0 / 255.0);
    EXPECT_EQ(fallback.shininess, 0.2);
    EXPECT_TRUE(fallback.twoSided);
    ASSERT_NE(result.mesh, nullptr);
    EXPECT_EQ(materialIndices(*result.mesh), (std::vector<int32_t>{2, 1, 0}));
    EXPECT_EQ(result.scene->meshes.size(), 1u);
    EXPECT_TRUE(result.mesh->name.empty());
}

TEST(SceneConversion, WithoutMaterialsEveryPolygonUsesTheDefaultMaterial) {
    ModelBuilder model;
    model.vertices(3);
    ModelMesh& mesh = model.mesh();
    for (int32_t index : {-1, 0, 1, 5}) {
        addPolygon(mesh, {0, 1, 2}, index);
    }
    const Converted result = convert(model.plugin);
    ASSERT_TRUE(result.succeeded);
    ASSERT_EQ(result.materials.size(), 1u);
    EXPECT_EQ(result.materials[0]->name.view(), "__PS_CS4_3D_Default");
    EXPECT_EQ(materialIndices(*result.mesh), (std::vector<int32_t>{0, 0, 0, 0}));
}

TEST(SceneConversion, PositionsAndNormalsSwapAxesAndUVsFlipV) {
    ModelBuilder model;
    model.vertex({1.0f, 2.0f, 3.0f}, {0.0f, 0.6f, 0.8f});
    model.vertex({-4.5f, 0.25f, -7.0f}, {1.0f, 0.0f, 0.0f});
    model.uvSet({{0.25f, 0.25f}, {0.0f, 1.0f}, {0.1f, 0.3f}});
    const Converted result = convert(model.plugin);
    ASSERT_TRUE(result.succeeded);
    const SceneMesh& mesh = *result.mesh;
    EXPECT_EQ(std::vector<SceneVector3>(mesh.vertices.begin(), mesh.vertices.end()),
              (std::vector<SceneVector3>{{1.0, -3.0, 2.0}, {-4.5, 7.0, 0.25}}));
    EXPECT_EQ(std::vector<SceneVector3>(mesh.normals.begin(), mesh.normals.end()),
              (std::vector<SceneVector3>{
                  {0.0, -static_cast<double>(0.8f), static_cast<double>(0.6f)}, {1.0, -0.0, 0.0}}));
    // v is widened first, then subtracted from 1 in double.
    EXPECT_EQ(std::vector<SceneUV>(mesh.uvs.begin(), mesh.uvs.end()),
              (std::vector<SceneUV>{{0.25, 0.75},
                                    {0.0, 0.0},
                                    {static_cast<double>(0.1f), 1.0 - static_cast<double>(0.3f)}}));
    EXPECT_FALSE(mesh.hostDerivesNormals) << "every vertex gave a normal";
    EXPECT_TRUE(mesh.polygons.empty());
}

TEST(SceneConversion, ModelWithoutVerticesMarksTheMeshForHostNormals) {
    ModelBuilder model;
    model.material(u"Only");
    const Converted result = convert(model.plugin);
    ASSERT_TRUE(result.succeeded);
    ASSERT_NE(result.mesh, nullptr);
    EXPECT_TRUE(result.mesh->vertices.empty());
    EXPECT_TRUE(result.mesh->normals.empty());
    EXPECT_TRUE(result.mesh->hostDerivesNormals);
}

TEST(SceneConversion, MaterialValuesAreConvertedInSinglePrecision) {
    struct Case {
        float shininess;
        float opacity;
        int32_t flags;
        double sceneShininess;
        double transparency;
        bool twoSided;
    };
    const std::vector<Case> cases = {
        {64.0f, 0.25f, 2, 0.5, 0.75, true},
        {64.0f, 0.25f, 0, 0.5, 0.75, false},
        {128.0f, 1.0f, 3, 1.0, 0.0, true},
        {0.0f, 0.0f, 1, 0.0, 1.0, false},
        {10.0f, 0.9f, 0x7FFFFFFD, static_cast<double>(10.0f / 128.0f),
         static_cast<double>(1.0f - 0.9f), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.shininess << " " << c.opacity << " " << c.flags);
        ModelBuilder model;
        ModelMaterial& material = model.material(u"m");
        material.shininess = c.shininess;
        material.opacity = c.opacity;
        material.flags = c.flags;
        material.colours[0] = {0.1f, 0.2f, 0.3f, 0.5f};     // diffuse
        material.colours[1] = {0.4f, 0.5f, 0.6f, 0.5f};     // ambient
        material.colours[2] = {0.7f, 0.8f, 0.9f, 0.5f};     // emissive
        material.colours[3] = {0.15f, 0.25f, 0.35f, 0.5f};  // specular
        material.colours[4] = {9.0f, 9.0f, 9.0f, 9.0f};     // not read
        const Converted result = convert(model.plugin);
        ASSERT_EQ(result.materials.size(), 2u);
        const SceneMaterial& scene = *result.materials[1];
        EXPECT_EQ(scene.shininess, c.sceneShininess);
        EXPECT_EQ(scene.transparency, c.transparency);
        EXPECT_EQ(scene.twoSided, c.twoSided);
        EXPECT_EQ(scene.secondShininess, 0.0);
        EXPECT_EQ(scene.diffuseRed, static_cast<double>(0.1f));
        EXPECT_EQ(scene.diffuseGreen, static_cast<double>(0.2f));
        EXPECT_EQ(scene.diffuseBlue, static_cast<double>(0.3f));
        EXPECT_EQ(scene.ambientRed, static_cast<double>(0.4f));
        EXPECT_EQ(scene.ambientGreen, static_cast<double>(0.5f));
        EXPECT_EQ(scene.ambientBlue, static_cast<double>(0.6f));
        EXPECT_EQ(scene.emissiveRed, static_cast<double>(0.7f));
        EXPECT_EQ(scene.emissiveGreen, static_cast<double>(0.8f));
        EXPECT_EQ(scene.emissiveBlue, static_cast<double>(0.9f));
        EXPECT_EQ(scene.specularRed, static_cast<double>(0.15f));
        EXPECT_EQ(scene.specularGreen, static_cast<double>(0.25f));
        EXPECT_EQ(scene.specularBlue, static_cast<double>(0.35f));
        // Values the conversion does not set keep the scene defaults.
        EXPECT_EQ(scene.reflection, 0.15);
        EXPECT_EQ(scene.shadValue, 4);
    }
}

TEST(SceneConversion, OnlyTheFirstMeshAndTheFirstUVSetAreCarriedOver) {
    ModelBuilder model;
    model.vertices(4);
    model.uvSet({{0.0f, 0.0f}, {1.0f, 0.0f}});
    model.uvSet({{0.5f, 0.5f}, {0.5f, 0.5f}, {0.5f, 0.5f}});
    addPolygon(model.mesh(), {0, 1, 2}, -1, {{0, 1, 1}});
    ModelMesh& second = model.mesh();
    addPolygon(second, {1, 2, 3}, -1);
    addPolygon(second, {0, 2, 3}, -1);
    const Converted result = convert(model.plugin);
    ASSERT_TRUE(result.succeeded);
    const SceneMesh& mesh = *result.mesh;
    ASSERT_EQ(mesh.polygons.size(), 1u);
    EXPECT_EQ(cornersOf(mesh, mesh.polygons[0]),
              (std::vector<SceneCorner>{{0, 0, 0, 0}, {1, 1, 1, 1}, {2, 2, 1, 2}}));
    EXPECT_EQ(std::vector<SceneUV>(mesh.uvs.begin(), mesh.uvs.end()),
              (std::vector<SceneUV>{{0.0, 1.0}, {1.0, 1.0}}));
    EXPECT_EQ(mesh.polygons[0].attributeA, 0);
    EXPECT_EQ(mesh.polygons[0].attributeB, 1);
}

TEST(SceneConversion, MapKeysFillTheirSlotsOnlyFromSingleImageMaps) {
    struct Case {
        const char* label;
        int32_t key;
        int32_t kind;
        std::optional<std::size_t> slot;  // unset: no slot is filled
    };
    const std::vector<Case> cases = {
        {"diffuse", 0, 1, 0},
        {"key 1", 1, 1, kSlotForMapKey1},
        {"key 2", 2, 1, kSlotForMapKey2},
        {"key 3", 3, 1, kSlotForMapKey3},
        {"key 0 kind 8", 0, 8, std::nullopt},
        {"key 1 kind 2", 1, 2, std::nullopt},
        {"key 2 kind 6", 2, 6, std::nullopt},
        {"key 4", 4, 1, std::nullopt},
        {"key -1", -1, 1, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        ModelBuilder model;
        ModelMaterial& material = model.material(u"m");
        addImageMap(material, c.key, c.kind, u"wood.png");
        const Converted result = convert(model.plugin);
        ASSERT_TRUE(result.succeeded);
        ASSERT_EQ(result.materials.size(), 2u);
        const SceneMaterial& scene = *result.materials[1];
        for (std::size_t slot = 0; slot < kSceneTextureMapCount; ++slot) {
            SCOPED_TRACE(slot);
            const SceneTextureMap& map = scene.maps[slot];
            if (c.slot == slot) {
                EXPECT_EQ(map.path.view(), "C:\\models\\wood.png");
                EXPECT_EQ(map.strength, 1.0);
                EXPECT_EQ(map.flags, 0);
            } else {
                EXPECT_TRUE(map.path.empty());
                EXPECT_EQ(map.flags, 16);
            }
        }
    }
}

TEST(SceneConversion, OnlyTheFirstMapOfAKeyCounts) {
    ModelBuilder model;
    ModelMaterial& material = model.material(u"m");
    addImageMap(material, 0, 8, u"first.png");
    addImageMap(material, 0, 1, u"second.png");
    material.maps.insert(material.maps.begin(), nullptr);  // an empty slot is skipped
    addImageMap(material, 2, 1, u"rough.png");
    addImageMap(material, 2, 1, u"later.png");
    material.mapCount = static_cast<int32_t>(material.maps.size());
    const Converted result = convert(model.plugin);
    const SceneMaterial& scene = *result.materials.at(1);
    EXPECT_TRUE(scene.maps[0].path.empty()) << "the first key-0 map is of kind 8";
    EXPECT_EQ(scene.maps[kSlotForMapKey2].path.view(), "C:\\models\\rough.png");
}

TEST(SceneConversion, LayeredDiffuseMapPicksItsLayerByFlags) {
    struct Case {
        int32_t mapFlags;
        std::vector<std::u16string> layers;
        const char* path;  // empty: no diffuse texture
    };
    const std::vector<std::u16string> three = {u"one.png", u"two.png", u"three.png"};
    const std::vector<Case> cases = {
        {0x1, three, "C:\\models\\one.png"},
        {0x2, three, "C:\\models\\two.png"},
        {0x3, three, "C:\\models\\one.png"},
        {0x310001, three, "C:\\models\\one.png"},
        {0x310002, three, "C:\\models\\two.png"},
        {0x0, three, ""},
        {0x310000, three, ""},
        {0x4, three, ""},
        {0x2, {u"one.png"}, ""},  // the second layer does not exist
        {0x1, {}, ""},
        {0x1, {u"", u"two.png"}, ""},  // the chosen layer names nothing
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << c.mapFlags << " " << c.layers.size());
        ModelBuilder model;
        ModelMaterial& material = model.material(u"m");
        addLayeredMap(material, 0, c.mapFlags, c.layers);
        const Converted result = convert(model.plugin);
        const SceneMaterial& scene = *result.materials.at(1);
        EXPECT_EQ(scene.maps[0].path.view(), c.path);
        EXPECT_EQ(scene.maps[0].flags, *c.path == '\0' ? 16 : 0);
        std::u16string direct = u"unchanged";
        EXPECT_EQ(diffuseTexturePath(kModelDir, material, direct), *c.path != '\0');
        if (*c.path == '\0') {
            EXPECT_EQ(direct, u"unchanged");
        }
    }
}

TEST(SceneConversion, TextureNamesAreJoinedToTheModelDirectoryUnlessTheyNameTheirPlace) {
    struct Case {
        std::u16string directory;
        std::u16string name;
        std::optional<std::u16string> path;
    };
    const std::u16string dir = kModelDir;
    const std::vector<Case> cases = {
        {dir, u"wood.png", u"C:\\models\\wood.png"},
        {dir, u"C:\\models\\wood.png", u"C:\\models\\wood.png"},
        {dir, u"d:\\other\\wood.png", u"d:\\other\\wood.png"},
        {dir, u"Z:wood.png", u"Z:wood.png"},
        {dir, u"\\\\server\\share\\wood.png", u"\\\\server\\share\\wood.png"},
        {dir, u"\\root\\wood.png", u"\\root\\wood.png"},
        {dir, u"/srv/textures/wood.png", u"/srv/textures/wood.png"},
        {dir, u"maps\\wood.png", u"C:\\models\\maps\\wood.png"},
        {dir, u"1:wood.png", u"C:\\models\\1:wood.png"},  // no drive letter
        {u"", u"wood.png", u"wood.png"},
        {u"/home/user/models/", u"wood.png", u"/home/user/models/wood.png"},
        {dir, u"", std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.name.begin(), c.name.end()));
        std::u16string path = u"unchanged";
        EXPECT_EQ(joinTexturePath(c.directory, c.name, path), c.path.has_value());
        EXPECT_EQ(path, c.path.value_or(u"unchanged"));
    }
}

TEST(SceneConversion, JoinedPathsLongerThan259UnitsAreRefusedNotCut) {
    const std::u16string directory = u"C:\\" + std::u16string(200, u'd') + u"\\";  // 204 units
    struct Case {
        std::size_t nameLength;
        bool accepted;
    };
    for (const Case& c : {Case{55, true}, Case{56, false}, Case{259, false}}) {
        SCOPED_TRACE(c.nameLength);
        const std::u16string name = std::u16string(c.nameLength - 4, u'n') + u".png";
        std::u16string path;
        ASSERT_EQ(joinTexturePath(directory, name, path), c.accepted);
        if (c.accepted) {
            EXPECT_EQ(path, directory + name);
            EXPECT_EQ(path.size(), 259u);
        }
    }
    // A name that names its place is taken whole up to 259 units.
    const std::u16string absolute = u"C:\\" + std::u16string(256, u'a');
    std::u16string path;
    EXPECT_TRUE(joinTexturePath(directory, absolute, path));
    EXPECT_EQ(path, absolute);
    EXPECT_FALSE(joinTexturePath(directory, absolute + u"a", path));

    // Through the conversion: the slot keeps no path and its defaults.
    ModelBuilder model;
    model.plugin.sourcePath = directory + u"scene.kvt";
    ModelMaterial& material = model.material(u"m");
    addImageMap(material, 0, 1, std::u16string(52, u'n') + u".png");  // 56 units
    addImageMap(material, 1, 1, std::u16string(51, u'n') + u".png");  // 55 units
    const Converted result = convert(model.plugin);
    const SceneMaterial& scene = *result.materials.at(1);
    EXPECT_TRUE(scene.maps[0].path.empty());
    EXPECT_EQ(scene.maps[0].flags, 16);
    EXPECT_EQ(scene.maps[kSlotForMapKey1].path.size(), 259u);
}

TEST(SceneConversion, AMaterialNamedLikeTheDefaultIsMergedIntoIt) {
    ModelBuilder model;
    model.material(u"Brick");
    ModelMaterial& named = model.material(u"__PS_CS4_3D_Default");
    named.colours[0] = {0.5f, 0.25f, 0.125f, 1.0f};
    named.flags = 0;
    addImageMap(named, 0, 1, u"base.png");
    model.material(u"Glass");
    model.vertices(3);
    ModelMesh& mesh = model.mesh();
    for (int32_t index : {0, 1, 2, -1}) {
        addPolygon(mesh, {0, 1, 2}, index);
    }
    const Converted result = convert(model.plugin);
    ASSERT_TRUE(result.succeeded);
    ASSERT_EQ(result.materials.size(), 3u) << "one fewer than the model's count + 1";
    EXPECT_EQ(result.materials[0]->name.view(), "__PS_CS4_3D_Default");
    EXPECT_EQ(result.materials[1]->name.view(), "Brick");
    EXPECT_EQ(result.materials[2]->name.view(), "Glass");
    // The model material's values overwrite the default's.
    EXPECT_EQ(result.materials[0]->diffuseRed, 0.5);
    EXPECT_EQ(result.materials[0]->diffuseBlue, 0.125);
    EXPECT_FALSE(result.materials[0]->twoSided);
    EXPECT_EQ(result.materials[0]->maps[0].path.view(), "C:\\models\\base.png");
    // Each polygon names the material that holds its model material's values.
    EXPECT_EQ(materialIndices(*result.mesh), (std::vector<int32_t>{1, 0, 2, 0}));
}

TEST(SceneConversion, MaterialsOfTheSameNameShareOneSceneMaterial) {
    ModelBuilder model;
    model.material(u"Wood").colours[0] = {0.1f, 0.1f, 0.1f, 1.0f};
    model.material(u"Stone");
    ModelMaterial& again = model.material(u"Wood");
    again.colours[0] = {0.9f, 0.9f, 0.9f, 1.0f};
    model.material(u"wood");  // names differ in case: another material
    model.vertices(3);
    ModelMesh& mesh = model.mesh();
    for (int32_t index : {0, 1, 2, 3}) {
        addPolygon(mesh, {0, 1, 2}, index);
    }
    const Converted result = convert(model.plugin);
    ASSERT_TRUE(result.succeeded);
    ASSERT_EQ(result.materials.size(), 4u);
    EXPECT_EQ(result.materials[1]->name.view(), "Wood");
    EXPECT_EQ(result.materials[2]->name.view(), "Stone");
    EXPECT_EQ(result.materials[3]->name.view(), "wood");
    EXPECT_EQ(result.materials[1]->diffuseRed, static_cast<double>(0.9f)) << "the later one wins";
    EXPECT_EQ(materialIndices(*result.mesh), (std::vector<int32_t>{1, 2, 1, 3}));
}

TEST(SceneConversion, MaterialsWhoseNamesDifferOnlyAfter255BytesStayApart) {
    ModelBuilder model;
    const std::u16string common(255, u'n');
    ModelMaterial& first = model.material(common + u"_first");
    first.colours[0] = {0.25f, 0.25f, 0.25f, 1.0f};
    addImageMap(first, 0, 1, u"first.png");
    ModelMaterial& second = model.material(common + u"_second");
    second.colours[0] = {0.75f, 0.75f, 0.75f, 1.0f};
    addImageMap(second, 0, 1, u"second.png");
    model.vertices(3);
    ModelMesh& mesh = model.mesh();
    for (int32_t index : {0, 1}) {
        addPolygon(mesh, {0, 1, 2}, index);
    }
    const Converted result = convert(model.plugin);
    ASSERT_TRUE(result.succeeded);
    ASSERT_EQ(result.materials.size(), 3u);
    const std::string stored(255, 'n');
    EXPECT_EQ(result.materials[1]->name.view(), stored);
    EXPECT_EQ(result.materials[2]->name.view(), stored);
    // Neither overwrote the other's colours or textures.
    EXPECT_EQ(result.materials[1]->diffuseRed, 0.25);
    EXPECT_EQ(result.materials[1]->maps[0].path.view(), "C:\\models\\first.png");
    EXPECT_EQ(result.materials[2]->diffuseRed, 0.75);
    EXPECT_EQ(result.materials[2]->maps[0].path.view(), "C:\\models\\second.png");
    EXPECT_EQ(materialIndices(*result.mesh), (std::vector<int32_t>{1, 2}));
}

TEST(SceneConversion, NamesAndPathsAreUtf8FromTheWideForms) {
    ModelBuilder model;
    model.plugin.sourcePath = u"C:\\\u30E2\u30C7\u30EB\\scene.kvt";
    ModelMaterial& material = model.material(u"\u0414\u0435\u0440\u0435\u0432\u043E");
    addImageMap(material, 0, 1, u"\u6728.png");
    model.material(u"\U0001F600");
    const Converted result = convert(model.plugin);
    ASSERT_EQ(result.materials.size(), 3u);
    EXPECT_EQ(result.materials[1]->name.view(), "\xD0\x94\xD0\xB5\xD1\x80\xD0\xB5\xD0\xB2\xD0\xBE");
    EXPECT_EQ(result.materials[1]->maps[0].path.view(),
              "C:\\\xE3\x83\xA2\xE3\x83\x87\xE3\x83\xAB\\\xE6\x9C\xA8.png");
    EXPECT_EQ(result.materials[2]->name.view(), "\xF0\x9F\x98\x80");
}

TEST(SceneConversion, PolygonsNamingVerticesOutsideTheTableAreLeftOut) {
    ModelBuilder model;
    model.vertices(3);
    ModelMesh& mesh = model.mesh();
    addPolygon(mesh, {0, 1, 2}, -1);
    addPolygon(mesh, {0, 1, 3}, -1);
    addPolygon(mesh, {-1, 1, 2}, -1);
    addPolygon(mesh, {0, 2147483647, 2}, -1);
    addPolygon(mesh, {2, 1, 0}, -1);
    const Converted result = convert(model.plugin);
    ASSERT_TRUE(result.succeeded);
    ASSERT_EQ(result.mesh->polygons.size(), 2u);
    EXPECT_EQ(result.mesh->cornersOf(result.mesh->polygons[0])[0].vertex, 0);
    EXPECT_EQ(result.mesh->cornersOf(result.mesh->polygons[1])[0].vertex, 2);
}

TEST(SceneConversion, OutOfRangeMaterialAndUVIndicesGiveZero) {
    ModelBuilder model;
    model.material(u"a");
    model.material(u"b");
    model.vertices(3);
    model.uvSet({{0.0f, 0.0f}, {1.0f, 1.0f}});
    ModelMesh& mesh = model.mesh();
    struct Case {
        int32_t materialIndex;
        std::vector<int32_t> uvs;
        int32_t sceneMaterial;
        std::vector<int32_t> sceneUVs;
    };
    const std::vector<Case> cases = {
        {0, {0, 1, 1}, 1, {0, 1, 1}},
        {1, {2, -1, 1}, 2, {0, 0, 1}},
        {2, {0, 0, 0}, 0, {0, 0, 0}},
        {-2, {0, 0, 0}, 0, {0, 0, 0}},
        {-2147483647 - 1, {2147483647, 0, 0}, 0, {0, 0, 0}},
    };
    for (const Case& c : cases) {
        addPolygon(mesh, {0, 1, 2}, c.materialIndex, {c.uvs});
    }
    const Converted result = convert(model.plugin);
    ASSERT_TRUE(result.succeeded);
    ASSERT_EQ(result.mesh->polygons.size(), cases.size());
    for (std::size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(i);
        const ScenePolygon& polygon = result.mesh->polygons[i];
        EXPECT_EQ(polygon.materialIndex, cases[i].sceneMaterial);
        std::vector<int32_t> uvs;
        for (const SceneCorner& corner : result.mesh->cornersOf(polygon)) {
            uvs.push_back(corner.uv);
        }
        EXPECT_EQ(uvs, cases[i].sceneUVs);
    }
}

TEST(SceneConversion, CornersWithoutAUVIndexUseUVZero) {
    ModelBuilder model;
    model.vertices(4);
    model.uvSet({{0.0f, 0.0f}, {1.0f, 0.0f}, {1.0f, 1.0f}, {0.0f, 1.0f}});
    ModelMesh& mesh = model.mesh();
    addPolygon(mesh, {0, 1, 2}, -1);               // no layer at all
    addPolygon(mesh, {0, 1, 2, 3}, -1, {{3, 2}});  // a layer holding -1 beyond two corners
    addPolygon(mesh, {0, 1, 2}, -1, {{}});         // a layer of -1 only
    // Only the first layer is read, even when a second one is complete.
    addPolygon(mesh, {1, 2, 3}, -1, {{1}, {3, 3, 3}});
    const Converted result = convert(model.plugin);
    ASSERT_TRUE(result.succeeded);
    ASSERT_EQ(result.mesh->polygons.size(), 4u);
    const std::vector<std::vector<int32_t>> expected = {
        {0, 0, 0}, {3, 2, 0, 0}, {0, 0, 0}, {1, 0, 0}};
    for (std::size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE(i);
        std::vector<int32_t> uvs;
        for (const SceneCorner& corner : result.mesh->cornersOf(result.mesh->polygons[i])) {
            uvs.push_back(corner.uv);
        }
        EXPECT_EQ(uvs, expected[i]);
    }
}

TEST(SceneConversion, CornerCountIsBoundedByTheVertexIndices) {
    ModelBuilder model;
    model.vertices(4);
    ModelMesh& mesh = model.mesh();
    struct Case {
        int32_t cornerCount;
        std::vector<int32_t> vertices;
        std::optional<std::size_t> corners;  // unset: the polygon is left out
    };
    const std::vector<Case> cases = {
        {3, {0, 1, 2}, 3},
        {1, {3}, 1},
        {2, {2, 3}, 2},
        {2, {0, 1, 2, 3}, 2},
        // No corners: kept, with none.
        {0, {0, 1, 2}, 0},
        {-4, {0, 1, 2}, 0},
        // Corners past cornerCount are not looked at, so their index does not matter.
        {2, {0, 1, -1}, 2},
        // A count running past the mesh's corners names no corners at all.
        {5, {0, 1, 2}, std::nullopt},
    };
    std::vector<std::size_t> expected;
    for (const Case& c : cases) {
        ModelPolygon& polygon = addPolygon(mesh, c.vertices, -1);
        polygon.cornerCount = c.cornerCount;
        if (c.corners.has_value()) {
            expected.push_back(*c.corners);
        }
    }
    const Converted result = convert(model.plugin);
    ASSERT_TRUE(result.succeeded);
    std::vector<std::size_t> got;
    for (const ScenePolygon& polygon : result.mesh->polygons) {
        got.push_back(polygon.cornerCount);
        for (const SceneCorner& corner : result.mesh->cornersOf(polygon)) {
            EXPECT_EQ(corner.normal, corner.vertex);
            EXPECT_EQ(corner.auxiliary, corner.vertex);
        }
    }
    EXPECT_EQ(got, expected);
}

// Every scene allocation of a conversion made to fail in turn: the result is
// false whenever the scene is short of what the model holds, every index the
// scene holds stays inside its table, and releasing the scene gives back
// everything.
TEST(SceneConversion, MemoryRunningOutAtAnyPointLeavesAConsistentScene) {
    ModelBuilder model;
    ModelMaterial& wood = model.material(u"Wood");
    addImageMap(wood, 0, 1, u"wood.png");
    addImageMap(wood, 1, 1, u"bump.png");
    model.material(u"Stone");
    for (int i = 0; i < 12; ++i) {
        model.vertex({static_cast<float>(i), 1.0f, 2.0f}, {0.0f, 0.0f, 1.0f});
    }
    model.uvSet({{0.0f, 0.0f}, {1.0f, 0.0f}, {1.0f, 1.0f}, {0.0f, 1.0f}});
    ModelMesh& mesh = model.mesh();
    for (int32_t i = 0; i < 10; ++i) {
        addPolygon(mesh, {i, i + 1, i + 2}, i % 3 - 1, {{0, 1, 2}});
    }

    std::size_t requests = 0;
    {
        const ImportSceneOwner scene(createImportScene());
        ASSERT_NE(scene, nullptr);
        SceneMemoryFaults count;
        ASSERT_TRUE(convertModelToScene(model.plugin, *scene));
        requests = count.requests();
    }
    ASSERT_GT(requests, 10u);
    for (std::size_t granted = 0; granted <= requests; ++granted) {
        SCOPED_TRACE(granted);
        SceneMemoryFaults faults;
        ImportScene* scene = createImportScene();
        ASSERT_NE(scene, nullptr);
        faults.failAfter(granted);
        const bool converted = convertModelToScene(model.plugin, *scene);
        faults.clearRules();
        if (faults.refusals() == 0) {
            EXPECT_TRUE(converted);
        }
        if (converted) {
            // A model material that could not be made is the only loss a
            // successful conversion may have.
            ASSERT_EQ(scene->meshes.size(), 1u);
            EXPECT_EQ(scene->meshes[0].polygons.size(), 10u);
        }
        if (const SceneMesh* sceneMesh = scene->meshes.empty() ? nullptr : &scene->meshes[0]) {
            EXPECT_EQ(sceneMesh->hostDerivesNormals, sceneMesh->normals.empty());
            for (const ScenePolygon& polygon : sceneMesh->polygons) {
                EXPECT_LT(static_cast<std::size_t>(polygon.materialIndex), scene->materials.size());
                for (const SceneCorner& corner : sceneMesh->cornersOf(polygon)) {
                    EXPECT_LT(static_cast<std::size_t>(corner.vertex), sceneMesh->vertices.size());
                    EXPECT_LT(static_cast<std::size_t>(corner.uv), sceneMesh->uvs.size());
                }
            }
        }
        EXPECT_LE(scene->materials.size(), 3u);
        releaseImportScene(scene);
        EXPECT_EQ(faults.outstanding(), 0u);
    }
}

TEST(SceneConversion, NoDefaultMaterialMeansNoMeshAndFailure) {
    ModelBuilder model;
    model.vertices(3);
    const ImportSceneOwner scene(createImportScene());
    ASSERT_NE(scene, nullptr);
    SceneMemoryFaults faults;
    faults.failNext(1);
    EXPECT_FALSE(convertModelToScene(model.plugin, *scene));
    EXPECT_TRUE(scene->materials.empty());
    EXPECT_TRUE(scene->meshes.empty());
}

TEST(SceneConversion, LoadingAPathThatIsNoModelFileGivesNoScene) {
    const std::u16string tooLong(300, u'p');
    for (const char16_t* path : {static_cast<const char16_t*>(nullptr), u"",
                                 u"no such directory/none.kvt", tooLong.c_str()}) {
        SCOPED_TRACE(path == nullptr ? 0 : std::u16string(path).size());
        EXPECT_EQ(loadSceneFromModelFile(path), nullptr);
    }
}

}  // namespace
}  // namespace quillmesh
