// The scene descriptor writer, read back through our host: keys, value kinds,
// order and values, byte-exact geometry blocks, and every failure path with
// the host's accounts balanced afterwards.
#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "host/descriptors.h"
#include "host/host.h"
#include "scene/import_scene.h"
#include "scene/scene_memory.h"
#include "scene/scene_writer.h"

namespace quillmesh {
namespace {

using qmhost::Descriptor;
using qmhost::fourcc;
using qmhost::Host;
using qmhost::Value;
using qmhost::ValueKind;
using Bytes = std::vector<uint8_t>;

SceneWriterContext contextOf(Host& host) {
    return {{host.descriptors().descriptorSuite(), host.descriptors().listSuite(),
             host.descriptors().controlSuite(), host.descriptors().zstringSuite()}};
}

// Little-endian bytes of a 64-bit pattern.
Bytes le64(uint64_t bits) {
    Bytes out;
    for (int i = 0; i < 8; ++i) {
        out.push_back(static_cast<uint8_t>(bits >> (8 * i)));
    }
    return out;
}

Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& part : parts) {
        out.insert(out.end(), part.begin(), part.end());
    }
    return out;
}

Bytes textBytes(std::string_view text) {
    return Bytes(text.begin(), text.end());
}

// One expected item: a key and, for scalars, its value (lists and objects are
// checked on their own).
struct Item {
    HostKey key;
    std::optional<Value> value;
};

Item integer(HostKey key, int32_t value) {
    return {key, Value::fromInteger(value)};
}
Item number(HostKey key, double value) {
    return {key, Value::fromFloat(value)};
}
Item boolean(HostKey key, bool value) {
    return {key, Value::fromBoolean(value)};
}
Item text(HostKey key, std::u16string value) {
    return {key, Value::fromText(std::move(value))};
}
Item data(HostKey key, Bytes value) {
    return {key, Value::fromData(std::move(value))};
}
Item nested(HostKey key) {
    return {key, std::nullopt};
}

class SceneWriterTest : public ::testing::Test {
  protected:
    HostKey id(const char* text) { return host.descriptors().ids().fromString(text); }

    std::string keyText(HostKey key) {
        if (const std::string* fromString = host.descriptors().ids().textOf(key)) {
            return *fromString;
        }
        return {static_cast<char>(key >> 24), static_cast<char>(key >> 16),
                static_cast<char>(key >> 8), static_cast<char>(key)};
    }

    // Writes the scene, reads the handle back and disposes it.
    std::optional<Descriptor> writeAndRead(const ImportScene& scene) {
        HostHandle handle = nullptr;
        if (!writeSceneDescriptor(contextOf(host), &scene, &handle)) {
            ADD_FAILURE() << "writer failed";
            return std::nullopt;
        }
        std::optional<Descriptor> read = host.descriptors().read(handle);
        host.handles().dispose(handle);
        EXPECT_TRUE(read.has_value());
        return read;
    }

    void expectItems(const Descriptor& descriptor, const std::vector<Item>& expected) {
        std::vector<std::string> want;
        std::vector<std::string> got;
        for (const Item& item : expected) {
            want.push_back(keyText(item.key));
        }
        for (HostKey key : descriptor.keys()) {
            got.push_back(keyText(key));
        }
        ASSERT_EQ(got, want);
        for (std::size_t i = 0; i < expected.size(); ++i) {
            if (expected[i].value.has_value()) {
                EXPECT_TRUE(descriptor.items()[i].value == *expected[i].value)
                    << "value of " << keyText(expected[i].key);
            }
        }
    }

    // The objects of the list under `key`, each checked to be of `classKey`.
    std::vector<const Descriptor*> objects(const Descriptor& owner, HostKey key, HostKey classKey) {
        std::vector<const Descriptor*> out;
        const Value* list = owner.find(key);
        if (list == nullptr || list->kind() != ValueKind::List) {
            ADD_FAILURE() << "no list " << keyText(key);
            return out;
        }
        for (const Value& item : list->asList()) {
            if (item.kind() != ValueKind::Object || item.asObject().classId() != classKey) {
                ADD_FAILURE() << "element of " << keyText(key) << " is not a " << keyText(classKey);
                continue;
            }
            out.push_back(&item.asObject());
        }
        return out;
    }

    // True when the descriptor holds exactly `value` under `key`.
    static bool holds(const Descriptor& owner, HostKey key, const Value& value) {
        const Value* found = owner.find(key);
        return found != nullptr && *found == value;
    }

    Bytes dataOf(const Descriptor& owner, HostKey key) {
        const Value* value = owner.find(key);
        if (value == nullptr || value->kind() != ValueKind::Data) {
            ADD_FAILURE() << "no data " << keyText(key);
            return {};
        }
        return value->asData();
    }

    std::vector<double> floatsOf(const Descriptor& owner, HostKey key) {
        std::vector<double> out;
        const Value* list = owner.find(key);
        if (list == nullptr || list->kind() != ValueKind::List) {
            ADD_FAILURE() << "no list " << keyText(key);
            return out;
        }
        for (const Value& item : list->asList()) {
            out.push_back(item.asFloat());
        }
        return out;
    }

    Host host;
};

ImportSceneOwner newScene() {
    ImportSceneOwner scene(createImportScene());
    EXPECT_NE(scene, nullptr);
    return scene;
}

// The scene the conversion makes of a model with one triangle and no materials.
ImportSceneOwner oneTriangleScene() {
    ImportSceneOwner scene = newScene();
    SceneMaterial* material = findOrCreateMaterial(*scene, "__PS_CS4_3D_Default");
    EXPECT_NE(material, nullptr);
    SceneOwner<SceneMesh> mesh = createSceneMesh("", 0, 0, 0, 0, 0, 0);
    const double corners[3][3] = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}};
    std::vector<SceneCorner> polygon;
    for (int32_t i = 0; i < 3; ++i) {
        mesh->vertices.push_back(sceneAxes(corners[i][0], corners[i][1], corners[i][2]));
        mesh->normals.push_back(sceneAxes(0, 0, 1));
        polygon.push_back({i, i, 0, i});
    }
    EXPECT_TRUE(appendPolygon(*mesh, polygon, 0, 1, 0));
    appendElement(scene->meshes, std::move(mesh));
    return scene;
}

SceneOwner<ScenePreservation> preservationWith(const char* id, int32_t flags) {
    SceneOwner<ScenePreservation> record = makeSceneRecord<ScenePreservation>();
    record->id.emplace(id);
    record->flags = flags;
    return record;
}

// One of every element kind, with distinct values.
ImportSceneOwner everyKindScene() {
    ImportSceneOwner scene = newScene();
    scene->globalName.assign("global");
    scene->sceneName.assign("scene");
    scene->flip = true;
    scene->animationStart = 2;
    scene->frameCount = 48;
    scene->geoLocation = makeSceneRecord<SceneGeoLocation>();
    *scene->geoLocation = {1.5, -2.25, 3, 2, 4, 5, 6, 7, 8, 9};

    SceneOwner<SceneLight> light = makeSceneRecord<SceneLight>();
    light->name.assign("Key light");
    light->type = 3;
    light->positionX = 1;
    light->targetZ = 6;
    light->red = 0.5;
    light->hotspot = 30;
    light->falloff = 45;
    light->shadow = 1;
    light->attenuationOn = true;
    light->attenuationType = 2;
    light->attenuationC = 0.125;
    light->multiplier = 2;
    light->switchedOn = true;
    light->ssmlValue = 0.75;
    light->preservation = preservationWith("L1", 7);
    appendElement(scene->lights, std::move(light));

    SceneOwner<SceneCamera> camera = makeSceneRecord<SceneCamera>();
    camera->name.assign("Cam");
    camera->positionY = -4;
    camera->bank = 0.5;
    camera->lens = 50;
    camera->orthographic = true;
    camera->aspectRatio = 1.5;
    camera->zoomFactor = 2;
    appendElement(scene->cameras, std::move(camera));

    SceneMaterial* material = findOrCreateMaterial(*scene, "painted");
    material->preservation = preservationWith("M1", 1);
    material->maps[5].paintType.assign("diffuse");
    material->maps[5].layerName.assign("Layer 1");
    material->maps[31].path.assign("C:\\models\\wood.png");

    SceneOwner<SceneKeySet> keySet = makeSceneRecord<SceneKeySet>();
    keySet->name.assign("Node");
    keySet->instanceName.assign("Inst");
    keySet->nodeId = 5;
    keySet->parentId = -1;
    keySet->flagsO = 1;
    keySet->flagsT = 2;
    keySet->pivotX = 1;
    keySet->pivotY = 2;
    keySet->pivotZ = 3;
    keySet->pivotPresent = true;
    keySet->rgblFlag = true;
    keySet->type = 4;
    for (std::size_t i = 0; i < keySet->matrix.size(); ++i) {
        keySet->matrix[i] = static_cast<double>(i) + 0.5;
    }
    const auto addTrack = [](SceneList<SceneKeyTrack>& list, const char* name, int keys) {
        SceneOwner<SceneKeyTrack> track = makeSceneRecord<SceneKeyTrack>();
        track->name.assign(name);
        track->flags = 9;
        track->keys.resize(static_cast<std::size_t>(keys));
        for (int k = 0; k < keys; ++k) {
            track->keys[k].frameNumber = k;
            track->keys[k].frameFlags = 10 + k;
            track->keys[k].valueZ = -k;
            track->keys[k].quaternionValid = k == 1;
            track->keys[k].quaternionW = 1;
        }
        appendElement(list, std::move(track));
    };
    addTrack(keySet->morphTracks, "morph", 1);
    addTrack(keySet->rotationTracks, "rotation", 1);
    addTrack(keySet->positionTracks, "position", 2);
    addTrack(keySet->positionTracks, "position 2", 0);
    addTrack(keySet->scaleTracks, "scale", 0);
    keySet->preservation = preservationWith("K1", 3);
    appendElement(scene->keySets, std::move(keySet));

    SceneOwner<SceneMesh> mesh = createSceneMesh("solid", 1, 1, 1, 1, 1, 1);
    mesh->corners.resize(1);
    mesh->polygons[0].cornerCount = 1;
    mesh->preservation = preservationWith("S1", 2);
    appendElement(scene->meshes, std::move(mesh));
    return scene;
}

TEST_F(SceneWriterTest, EmptySceneWritesEveryRootValueAndFiveEmptyLists) {
    const ImportSceneOwner scene = newScene();
    const std::optional<Descriptor> root = writeAndRead(*scene);
    ASSERT_TRUE(root.has_value());
    const Value emptyList = Value::fromList({});
    expectItems(*root, {
                           integer(fourcc("VrsM"), 1),
                           integer(fourcc("VrsN"), 0),
                           number(fourcc("GamR"), 0.10000000149011612),
                           number(fourcc("GamG"), 0.10000000149011612),
                           number(fourcc("GamB"), 0.10000000149011612),
                           number(fourcc("Gunt"), 1.0),
                           integer(fourcc("Gast"), 0),
                           integer(fourcc("Gfrm"), 0),
                           number(fourcc("Gfps"), 30.0),
                           text(fourcc("GRNm"), u""),
                           text(fourcc("Nm  "), u""),
                           boolean(id("flip"), false),
                           {fourcc("lite"), emptyList},
                           {fourcc("caml"), emptyList},
                           {fourcc("mshl"), emptyList},
                           {fourcc("mtll"), emptyList},
                           {fourcc("KeFL"), emptyList},
                           integer(fourcc("plyc"), 0),
                       });
    EXPECT_EQ(root->classId(), 0u);
    EXPECT_TRUE(host.balanced()) << host.accountSummary();
}

TEST_F(SceneWriterTest, OneTriangleSceneWritesOneMeshAndTheDefaultMaterial) {
    const ImportSceneOwner scene = oneTriangleScene();
    const std::optional<Descriptor> root = writeAndRead(*scene);
    ASSERT_TRUE(root.has_value());

    const std::vector<const Descriptor*> meshes = objects(*root, fourcc("mshl"), fourcc("msho"));
    ASSERT_EQ(meshes.size(), 1u);
    const Descriptor& mesh = *meshes[0];
    expectItems(mesh, {
                          text(fourcc("Nm  "), u""),
                          nested(fourcc("verl")),
                          nested(fourcc("nrml")),
                          nested(fourcc("facl")),
                          nested(fourcc("faci")),
                          nested(fourcc("Mtrx")),
                          integer(fourcc("flag"), 87),
                          integer(fourcc("hidn"), 0),
                          integer(fourcc("shdw"), 1),
                          boolean(fourcc("hmat"), false),
                          boolean(fourcc("hsmt"), false),
                          boolean(fourcc("misv"), false),
                          boolean(fourcc("misc"), true),
                          boolean(fourcc("miss"), true),
                          boolean(fourcc("misi"), false),
                      });
    EXPECT_EQ(dataOf(mesh, fourcc("verl")).size(), 72u);
    EXPECT_EQ(dataOf(mesh, fourcc("nrml")).size(), 72u);
    const Bytes facl = dataOf(mesh, fourcc("facl"));
    EXPECT_EQ(facl, (Bytes{3, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0,
                           0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(dataOf(mesh, fourcc("faci")).size(), 48u);
    EXPECT_EQ(floatsOf(mesh, fourcc("Mtrx")), std::vector<double>(16, 0.0));

    const std::vector<const Descriptor*> materials = objects(*root, fourcc("mtll"), fourcc("mtlo"));
    ASSERT_EQ(materials.size(), 1u);
    EXPECT_TRUE(holds(*materials[0], fourcc("Nm  "), Value::fromText(u"__PS_CS4_3D_Default")));
    EXPECT_EQ(objects(*materials[0], fourcc("mapl"), fourcc("mapo")).size(), 32u);
    EXPECT_TRUE(host.balanced()) << host.accountSummary();
}

TEST_F(SceneWriterTest, GeometryBlocksAreLittleEndianByteForByte) {
    const ImportSceneOwner scene = newScene();
    SceneOwner<SceneMesh> mesh = createSceneMesh("bytes", 1, 2, 1, 1, 1, 1);
    mesh->vertices[0] = {1.0, -2.5, 0.5};
    mesh->normals[0] = {0.1, 1.0, -2.5};
    mesh->lines[0] = {{1.0, 1.0, 1.0}, {-2.5, -2.5, -2.5}, 77};
    mesh->vertexVectors[0] = {0.5, 0.1, 1.0};
    mesh->uvs[0] = {0.25, 0.75};
    mesh->corners = {{1, 2, 3, 4}, {0x01020304, -1, 0, 7}, {9, 8, 7, 6}};
    mesh->polygons[0].cornerCount = 2;
    mesh->polygons[0].attributeA = 0x11223344;
    mesh->polygons[0].attributeB = -2;
    mesh->polygons[0].materialIndex = 6;
    mesh->polygons[1].firstCorner = 2;
    mesh->polygons[1].cornerCount = 1;
    mesh->polygons[1].materialIndex = -1;
    appendElement(scene->meshes, std::move(mesh));

    const std::optional<Descriptor> root = writeAndRead(*scene);
    ASSERT_TRUE(root.has_value());
    const std::vector<const Descriptor*> meshes = objects(*root, fourcc("mshl"), fourcc("msho"));
    ASSERT_EQ(meshes.size(), 1u);
    const Descriptor& written = *meshes[0];

    const Bytes one = le64(0x3FF0000000000000);
    const Bytes minusTwoAndHalf = le64(0xC004000000000000);
    const Bytes half = le64(0x3FE0000000000000);
    const Bytes tenth = le64(0x3FB999999999999A);
    EXPECT_EQ(dataOf(written, fourcc("verl")),
              (Bytes{0, 0, 0,    0,    0, 0, 0xF0, 0x3F, 0, 0, 0,    0,
                     0, 0, 0x04, 0xC0, 0, 0, 0,    0,    0, 0, 0xE0, 0x3F}));
    EXPECT_EQ(dataOf(written, fourcc("nrml")), concat({tenth, one, minusTwoAndHalf}));
    EXPECT_EQ(dataOf(written, fourcc("lnfl")),
              concat({minusTwoAndHalf, minusTwoAndHalf, minusTwoAndHalf}));
    EXPECT_EQ(dataOf(written, fourcc("lncl")), concat({one, one, one}));
    EXPECT_EQ(dataOf(written, fourcc("vnvl")), concat({half, tenth, one}));
    EXPECT_EQ(dataOf(written, fourcc("uvl ")),
              concat({le64(0x3FD0000000000000), le64(0x3FE8000000000000)}));

    const Bytes zeros4(4, 0);
    const Bytes zeros16(16, 0);
    EXPECT_EQ(dataOf(written, fourcc("facl")), concat({{2, 0, 0, 0},
                                                       zeros4,
                                                       {0x44, 0x33, 0x22, 0x11},
                                                       {0xFE, 0xFF, 0xFF, 0xFF},
                                                       {6, 0, 0, 0},
                                                       zeros16,
                                                       {1, 0, 0, 0},
                                                       zeros4,
                                                       zeros4,
                                                       zeros4,
                                                       {0xFF, 0xFF, 0xFF, 0xFF},
                                                       zeros16}));
    EXPECT_EQ(dataOf(written, fourcc("faci")),
              concat({{1, 0, 0, 0, 2, 0, 0, 0, 3, 0, 0, 0, 4, 0, 0, 0},
                      {4, 3, 2, 1, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0, 7, 0, 0, 0},
                      {9, 0, 0, 0, 8, 0, 0, 0, 7, 0, 0, 0, 6, 0, 0, 0}}));
    const std::vector<HostKey> keys = written.keys();
    ASSERT_GE(keys.size(), 9u);
    const std::vector<HostKey> blockOrder(keys.begin() + 1, keys.begin() + 9);
    EXPECT_EQ(blockOrder, (std::vector<HostKey>{fourcc("verl"), fourcc("nrml"), fourcc("lnfl"),
                                                fourcc("lncl"), fourcc("vnvl"), fourcc("uvl "),
                                                fourcc("facl"), fourcc("faci")}));
}

TEST_F(SceneWriterTest, PolygonsWithoutCornersWriteNeitherFaclNorFaci) {
    const ImportSceneOwner scene = newScene();
    SceneOwner<SceneMesh> mesh = createSceneMesh("flat", 3, 4, 0, 0, 0, 0);
    appendElement(scene->meshes, std::move(mesh));
    appendElement(scene->meshes, createSceneMesh("nothing", 0, 0, 0, 0, 0, 0));
    const std::optional<Descriptor> root = writeAndRead(*scene);
    ASSERT_TRUE(root.has_value());
    const std::vector<const Descriptor*> meshes = objects(*root, fourcc("mshl"), fourcc("msho"));
    ASSERT_EQ(meshes.size(), 2u);
    EXPECT_TRUE(meshes[0]->contains(fourcc("verl")));
    EXPECT_EQ(meshes[1]->keys().size(), 11u);  // name, matrix and the nine flags only
    for (const Descriptor* mesh : meshes) {
        EXPECT_FALSE(mesh->contains(fourcc("facl")));
        EXPECT_FALSE(mesh->contains(fourcc("faci")));
    }
}

TEST_F(SceneWriterTest, MapObjectsCarryPaintTypeAndLayerNameOnlyWhenNotEmpty) {
    const ImportSceneOwner scene = everyKindScene();
    const std::optional<Descriptor> root = writeAndRead(*scene);
    ASSERT_TRUE(root.has_value());
    const std::vector<const Descriptor*> materials = objects(*root, fourcc("mtll"), fourcc("mtlo"));
    ASSERT_EQ(materials.size(), 1u);
    const std::vector<const Descriptor*> maps =
        objects(*materials[0], fourcc("mapl"), fourcc("mapo"));
    ASSERT_EQ(maps.size(), 32u);
    for (std::size_t slot = 0; slot < maps.size(); ++slot) {
        SCOPED_TRACE(slot);
        std::vector<Item> expected = {
            integer(fourcc("Type"), static_cast<int32_t>(slot)),
            text(fourcc("Nm  "), slot == 31 ? u"C:\\models\\wood.png" : u""),
            number(fourcc("srgh"), 1.0),
            number(fourcc("uscl"), 1.0),
            number(fourcc("vscl"), 1.0),
            number(fourcc("uoff"), 0.0),
            number(fourcc("voff"), 0.0),
            number(id("minimum"), 0.0),
            number(id("maximum"), 1.0),
            number(fourcc("Angl"), 0.0),
            integer(fourcc("flag"), 16),
            boolean(fourcc("msty"), false),
        };
        if (slot == 5) {
            expected.push_back(data(id("key3DPaintType"), textBytes("diffuse")));
            expected.push_back(data(fourcc("LyrN"), textBytes("Layer 1")));
        }
        expectItems(*maps[slot], expected);
    }
}

TEST_F(SceneWriterTest, EveryElementKindIsWrittenWithItsKeysInOrder) {
    const ImportSceneOwner scene = everyKindScene();
    const std::optional<Descriptor> root = writeAndRead(*scene);
    ASSERT_TRUE(root.has_value());
    const std::vector<HostKey> rootKeys = root->keys();
    ASSERT_EQ(rootKeys.size(), 19u);
    EXPECT_EQ(rootKeys[11], id("flip"));
    EXPECT_EQ(rootKeys[12], fourcc("GeoL"));
    EXPECT_EQ(rootKeys[18], fourcc("plyc"));
    EXPECT_TRUE(holds(*root, id("flip"), Value::fromBoolean(true)));
    EXPECT_TRUE(holds(*root, fourcc("GRNm"), Value::fromText(u"global")));
    EXPECT_TRUE(holds(*root, fourcc("Gfrm"), Value::fromInteger(48)));

    const std::vector<const Descriptor*> geo = objects(*root, fourcc("GeoL"), fourcc("GeoR"));
    ASSERT_EQ(geo.size(), 1u);
    expectItems(*geo[0],
                {number(fourcc("GeLa"), 1.5), number(fourcc("GeLo"), -2.25),
                 number(fourcc("GeAl"), 3), integer(fourcc("GeAm"), 2), number(fourcc("GeHd"), 4),
                 number(fourcc("GeTt"), 5), number(fourcc("GeRl"), 6), number(fourcc("GeSx"), 7),
                 number(fourcc("GeSy"), 8), number(fourcc("GeSz"), 9)});

    const std::vector<const Descriptor*> lights = objects(*root, fourcc("lite"), fourcc("litc"));
    ASSERT_EQ(lights.size(), 1u);
    expectItems(*lights[0], {text(fourcc("Nm  "), u"Key light"),
                             number(fourcc("X   "), 1),
                             number(fourcc("Y   "), 0),
                             number(fourcc("Z   "), 0),
                             number(fourcc("tarx"), 0),
                             number(fourcc("tary"), 0),
                             number(fourcc("tarz"), 6),
                             number(fourcc("Rd  "), 0.5),
                             number(fourcc("Grn "), 0),
                             number(fourcc("Bl  "), 0),
                             number(fourcc("hots"), 30),
                             number(fourcc("FlOf"), 45),
                             integer(fourcc("shdw"), 1),
                             boolean(fourcc("attn"), true),
                             integer(fourcc("attt"), 2),
                             number(fourcc("atta"), 0),
                             number(fourcc("attb"), 0),
                             number(fourcc("attc"), 0.125),
                             number(fourcc("orad"), 0),
                             number(fourcc("irad"), 0),
                             number(fourcc("mult"), 2),
                             integer(fourcc("Type"), 3),
                             integer(fourcc("ison"), 1),
                             number(fourcc("ssml"), 0.75),
                             nested(fourcc("pRes"))});
    const std::vector<const Descriptor*> lightRecord =
        objects(*lights[0], fourcc("pRes"), fourcc("pRob"));
    ASSERT_EQ(lightRecord.size(), 1u);
    expectItems(*lightRecord[0],
                {text(id("keyPreservationId"), u"L1"), text(id("keyPreservationSubId"), u""),
                 text(id("keyPreservationName"), u""), integer(id("keyPreservationFlags"), 7)});

    const std::vector<const Descriptor*> cameras = objects(*root, fourcc("caml"), fourcc("camc"));
    ASSERT_EQ(cameras.size(), 1u);
    expectItems(
        *cameras[0],
        {text(fourcc("Nm  "), u"Cam"), number(fourcc("X   "), 0), number(fourcc("Y   "), -4),
         number(fourcc("Z   "), 0), number(fourcc("tarx"), 0), number(fourcc("tary"), 0),
         number(fourcc("tarz"), 0), number(fourcc("bank"), 0.5), number(fourcc("Lns "), 50),
         boolean(fourcc("orth"), true), number(fourcc("aspr"), 1.5), number(fourcc("zmfc"), 2)});

    const std::vector<const Descriptor*> meshes = objects(*root, fourcc("mshl"), fourcc("msho"));
    ASSERT_EQ(meshes.size(), 1u);
    EXPECT_EQ(meshes[0]->keys().back(), fourcc("pRes"));
    EXPECT_EQ(objects(*meshes[0], fourcc("pRes"), fourcc("pRob")).size(), 1u);

    const std::vector<const Descriptor*> materials = objects(*root, fourcc("mtll"), fourcc("mtlo"));
    ASSERT_EQ(materials.size(), 1u);
    const std::vector<HostKey> materialKeys = materials[0]->keys();
    ASSERT_EQ(materialKeys.size(), 26u);
    EXPECT_EQ(materialKeys[23], fourcc("RfAc"));
    EXPECT_EQ(materialKeys[24], fourcc("pRes"));
    EXPECT_EQ(materialKeys[25], fourcc("mapl"));

    const std::vector<const Descriptor*> keySets = objects(*root, fourcc("KeFL"), fourcc("KeCS"));
    ASSERT_EQ(keySets.size(), 1u);
    const Descriptor& keySet = *keySets[0];
    expectItems(
        keySet,
        {text(fourcc("Nm  "), u"Node"), text(fourcc("InsN"), u"Inst"), integer(fourcc("flgO"), 1),
         integer(fourcc("flgT"), 2), integer(fourcc("NoID"), 5), integer(fourcc("PrID"), -1),
         integer(fourcc("tYpE"), 4), nested(fourcc("PvLs")), nested(fourcc("Mtrx")),
         boolean(fourcc("PvPr"), true), boolean(fourcc("LcMt"), false),
         boolean(fourcc("RgBl"), true), nested(fourcc("PosL")), nested(fourcc("SclL")),
         nested(fourcc("RotL")), nested(fourcc("MorL")), nested(fourcc("pRes"))});
    const std::vector<const Descriptor*> pivots = objects(keySet, fourcc("PvLs"), fourcc("PvtO"));
    ASSERT_EQ(pivots.size(), 1u);
    expectItems(*pivots[0],
                {number(fourcc("PvtX"), 1), number(fourcc("PvtY"), 2), number(fourcc("PvtZ"), 3)});
    const std::vector<double> matrix = floatsOf(keySet, fourcc("Mtrx"));
    ASSERT_EQ(matrix.size(), 16u);
    for (std::size_t i = 0; i < matrix.size(); ++i) {
        EXPECT_EQ(matrix[i], static_cast<double>(i) + 0.5);
    }
    EXPECT_EQ(objects(keySet, fourcc("SclL"), fourcc("acSc")).size(), 1u);
    EXPECT_EQ(objects(keySet, fourcc("RotL"), fourcc("acRt")).size(), 1u);
    EXPECT_EQ(objects(keySet, fourcc("MorL"), fourcc("acMp")).size(), 1u);
    const std::vector<const Descriptor*> positions =
        objects(keySet, fourcc("PosL"), fourcc("acPs"));
    ASSERT_EQ(positions.size(), 2u);
    expectItems(*positions[0], {text(fourcc("FlNn"), u"position"), integer(fourcc("flag"), 9),
                                integer(fourcc("KeyS"), 2), nested(fourcc("KAFL"))});
    EXPECT_TRUE(holds(*positions[1], fourcc("FlNn"), Value::fromText(u"position 2")));
    EXPECT_TRUE(holds(*positions[1], fourcc("KAFL"), Value::fromList({})));
    const std::vector<const Descriptor*> keys =
        objects(*positions[0], fourcc("KAFL"), fourcc("KAFC"));
    ASSERT_EQ(keys.size(), 2u);
    expectItems(*keys[1],
                {number(fourcc("KAfn"), 1), integer(fourcc("KAff"), 11), number(fourcc("KAft"), 0),
                 number(fourcc("KAfc"), 0), number(fourcc("KAfb"), 0), number(fourcc("KAet"), 0),
                 number(fourcc("KAef"), 0), number(fourcc("KAro"), 0), number(fourcc("KAvl"), 0),
                 number(fourcc("KAvx"), 0), number(fourcc("KAvy"), 0), number(fourcc("KAvz"), -1),
                 boolean(fourcc("KAuq"), true), number(fourcc("KAqw"), 1),
                 number(fourcc("KAqx"), 0), number(fourcc("KAqy"), 0), number(fourcc("KAqz"), 0)});
    EXPECT_TRUE(host.balanced()) << host.accountSummary();
}

TEST_F(SceneWriterTest, PreservationWritesAbsentTextsAsEmptyStringsOrNotAtAll) {
    ScenePreservation record;
    record.subId.emplace("sub");
    record.extraData.emplace("extra");
    record.flags = -3;
    record.animations.emplace("");
    record.effectProfiles.emplace("fx");
    const DescriptorRef made = writePreservation(contextOf(host), record);
    ASSERT_NE(made, nullptr);
    const Descriptor* written = host.descriptors().view(made);
    ASSERT_NE(written, nullptr);
    expectItems(
        *written,
        {text(id("keyPreservationId"), u""), text(id("keyPreservationSubId"), u"sub"),
         text(id("keyPreservationName"), u""), data(id("keyPreservationExtra"), textBytes("extra")),
         integer(id("keyPreservationFlags"), -3), data(id("keyPreservationAnimations"), {}),
         data(id("keyPreservationEffectProfiles"), textBytes("fx"))});
    host.descriptors().descriptorSuite()->free(made);
    EXPECT_TRUE(host.balanced()) << host.accountSummary();
}

// Scene texts are UTF-8; each string key reaches the host as the same text in
// UTF-16, and every ZString made for a put is released again.
TEST_F(SceneWriterTest, TextsReachTheHostAsUtf16) {
    struct Case {
        std::string utf8;
        std::u16string host;
    };
    const std::vector<Case> cases = {
        {"plain", u"plain"},
        {"\xD0\x94\xD0\xB5\xD1\x80\xD0\xB5\xD0\xB2\xD0\xBE",
         u"\u0414\u0435\u0440\u0435\u0432\u043E"},
        {"C:\\\xE3\x83\x86\xE3\x82\xAF\\\xE6\x9C\xA8.png", u"C:\\\u30C6\u30AF\\\u6728.png"},
        {"\xF0\x9F\x98\x80", u"\U0001F600"},
        {"bad\xFF", u"bad\uFFFD"},
        {"", u""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.utf8);
        Host local;
        const ImportSceneOwner scene = newScene();
        ASSERT_TRUE(scene->sceneName.assign(c.utf8));
        ASSERT_TRUE(scene->globalName.assign(c.utf8));
        SceneMaterial* material = findOrCreateMaterial(*scene, c.utf8);
        ASSERT_NE(material, nullptr);
        ASSERT_TRUE(material->maps[0].path.assign(c.utf8));
        appendElement(scene->meshes, createSceneMesh(c.utf8, 0, 0, 0, 0, 0, 0));

        HostHandle handle = nullptr;
        ASSERT_TRUE(writeSceneDescriptor(contextOf(local), scene.get(), &handle));
        const std::optional<Descriptor> root = local.descriptors().read(handle);
        local.handles().dispose(handle);
        ASSERT_TRUE(root.has_value());
        const Value expected = Value::fromText(c.host);
        EXPECT_TRUE(holds(*root, fourcc("Nm  "), expected));
        EXPECT_TRUE(holds(*root, fourcc("GRNm"), expected));
        const std::vector<const Descriptor*> meshes =
            objects(*root, fourcc("mshl"), fourcc("msho"));
        ASSERT_EQ(meshes.size(), 1u);
        EXPECT_TRUE(holds(*meshes[0], fourcc("Nm  "), expected));
        const std::vector<const Descriptor*> materials =
            objects(*root, fourcc("mtll"), fourcc("mtlo"));
        ASSERT_EQ(materials.size(), 1u);
        EXPECT_TRUE(holds(*materials[0], fourcc("Nm  "), expected));
        const std::vector<const Descriptor*> maps =
            objects(*materials[0], fourcc("mapl"), fourcc("mapo"));
        ASSERT_EQ(maps.size(), kSceneTextureMapCount);
        EXPECT_TRUE(holds(*maps[0], fourcc("Nm  "), expected));
        EXPECT_TRUE(holds(*maps[1], fourcc("Nm  "), Value::fromText(u"")));
        EXPECT_GT(local.descriptors().counts().zstringsMade, 0u);
        EXPECT_TRUE(local.balanced()) << local.accountSummary();
    }
}

// A ZString the host cannot make leaves that text out; the writer goes on
// and releases nothing it did not get.
std::size_t gRefusedZStrings = 0;
HostError HOSTAPI_CALL refusingZStringMake(const HostChar16*, uint32_t, ZStringRef* zstring) {
    ++gRefusedZStrings;
    *zstring = nullptr;
    return qmhost::DescriptorHost::kErrNoMemory;
}

TEST_F(SceneWriterTest, TextTheHostCannotMakeIsLeftOut) {
    const ImportSceneOwner scene = oneTriangleScene();
    ZStringSuite refusing = *host.descriptors().zstringSuite();
    refusing.makeFromUnicode = refusingZStringMake;
    SceneWriterContext context = contextOf(host);
    context.suites.zstring = &refusing;
    gRefusedZStrings = 0;
    HostHandle handle = nullptr;
    ASSERT_TRUE(writeSceneDescriptor(context, scene.get(), &handle));
    const std::optional<Descriptor> root = host.descriptors().read(handle);
    host.handles().dispose(handle);
    ASSERT_TRUE(root.has_value());
    // Root: "GRNm" and "Nm  "; mesh and material names; 32 map paths.
    EXPECT_EQ(gRefusedZStrings, 2u + 2u + kSceneTextureMapCount);
    EXPECT_FALSE(root->contains(fourcc("Nm  ")));
    EXPECT_FALSE(root->contains(fourcc("GRNm")));
    EXPECT_TRUE(root->contains(id("flip")));
    const std::vector<const Descriptor*> materials = objects(*root, fourcc("mtll"), fourcc("mtlo"));
    ASSERT_EQ(materials.size(), 1u);
    EXPECT_FALSE(materials[0]->contains(fourcc("Nm  ")));
    EXPECT_TRUE(materials[0]->contains(fourcc("dred")));
    EXPECT_EQ(host.descriptors().counts().zstringsMade, 0u);
    EXPECT_TRUE(host.balanced()) << host.accountSummary();
}

TEST_F(SceneWriterTest, MissingArgumentsOrSuitesProduceNothing) {
    const ImportSceneOwner scene = newScene();
    HostHandle handle = nullptr;
    EXPECT_FALSE(writeSceneDescriptor(contextOf(host), nullptr, &handle));
    EXPECT_FALSE(writeSceneDescriptor(contextOf(host), scene.get(), nullptr));

    ActionDescriptorSuite withoutPutData = *host.descriptors().descriptorSuite();
    withoutPutData.putData = nullptr;
    ActionListSuite withoutListFloat = *host.descriptors().listSuite();
    withoutListFloat.putFloat = nullptr;
    ActionDescriptorSuite withoutPutZString = *host.descriptors().descriptorSuite();
    withoutPutZString.putZString = nullptr;
    ZStringSuite withoutZStringMake = *host.descriptors().zstringSuite();
    withoutZStringMake.makeFromUnicode = nullptr;
    std::vector<SceneWriterContext> contexts(9, contextOf(host));
    contexts[0].suites.descriptor = nullptr;
    contexts[1].suites.list = nullptr;
    contexts[2].suites.control = nullptr;
    contexts[3].suites.descriptor = &withoutPutData;
    contexts[4].suites.list = &withoutListFloat;
    // Texts go to the host as ZStrings.
    contexts[5].suites.zstring = nullptr;
    contexts[6].suites.descriptor = &withoutPutZString;
    contexts[7].suites.zstring = &withoutZStringMake;
    const std::size_t complete = 8;
    for (std::size_t i = 0; i < contexts.size(); ++i) {
        SCOPED_TRACE(i);
        handle = nullptr;
        EXPECT_EQ(writeSceneDescriptor(contexts[i], scene.get(), &handle), i == complete);
        EXPECT_EQ(handle != nullptr, i == complete);
        if (handle != nullptr) {
            host.handles().dispose(handle);
        }
    }
    EXPECT_EQ(host.descriptors().counts().descriptorsMade, 1u);
    EXPECT_TRUE(host.balanced()) << host.accountSummary();
}

TEST_F(SceneWriterTest, PolygonsAreRefusedWhenTheyDoNotUseTheCornersInOrder) {
    const SceneOwner<SceneMesh> mesh = createSceneMesh("m", 0, 2, 0, 0, 0, 0);
    ASSERT_NE(mesh, nullptr);
    mesh->corners.resize(5);
    DescriptorRef target = nullptr;
    ASSERT_EQ(host.descriptors().descriptorSuite()->make(&target), 0);
    struct Layout {
        uint32_t first0, count0, first1, count1;
    };
    // A gap, an overlap, corners left over, and a range past the end.
    for (const Layout& layout :
         {Layout{0, 3, 4, 1}, Layout{0, 3, 2, 2}, Layout{0, 3, 3, 1}, Layout{0, 3, 3, 7}}) {
        mesh->polygons[0].firstCorner = layout.first0;
        mesh->polygons[0].cornerCount = layout.count0;
        mesh->polygons[1].firstCorner = layout.first1;
        mesh->polygons[1].cornerCount = layout.count1;
        EXPECT_FALSE(writePolygons(contextOf(host), *mesh, target));
    }
    EXPECT_TRUE(host.descriptors().view(target)->empty());
    mesh->polygons[1].cornerCount = 2;
    EXPECT_TRUE(writePolygons(contextOf(host), *mesh, target));
    EXPECT_EQ(dataOf(*host.descriptors().view(target), fourcc("faci")).size(), 80u);
    host.descriptors().descriptorSuite()->free(target);
}

TEST_F(SceneWriterTest, KeyTrackIsNullAndLeavesNothingMadeWhenAnyMakeFails) {
    SceneKeyTrack track;
    ASSERT_TRUE(track.name.assign("track"));
    track.keys.resize(3);
    // The track's descriptor and one per key.
    for (int64_t allowed = 0; allowed < 4; ++allowed) {
        SCOPED_TRACE(allowed);
        Host local;
        local.descriptors().failMakeAfter(allowed);
        EXPECT_EQ(writeKeyTrack(contextOf(local), track), nullptr);
        EXPECT_TRUE(local.balanced()) << local.accountSummary();
    }
    Host local;
    local.descriptors().failMakeAfter(4);
    const DescriptorRef made = writeKeyTrack(contextOf(local), track);
    ASSERT_NE(made, nullptr);
    const Descriptor* written = local.descriptors().view(made);
    ASSERT_NE(written, nullptr);
    EXPECT_EQ(objects(*written, fourcc("KAFL"), fourcc("KAFC")).size(), 3u);
    local.descriptors().descriptorSuite()->free(made);
    EXPECT_TRUE(local.balanced()) << local.accountSummary();
}

// A handle value the writer must leave alone when it fails.
HostHandleRecord gUntouched{};

TEST_F(SceneWriterTest, EveryDescriptorMakeFailureFailsTheWriterAndFreesEverything) {
    const ImportSceneOwner scene = everyKindScene();
    HostHandle handle = nullptr;
    ASSERT_TRUE(writeSceneDescriptor(contextOf(host), scene.get(), &handle));
    host.handles().dispose(handle);
    const std::size_t makes = host.descriptors().counts().descriptorsMade;
    ASSERT_GT(makes, 40u);
    for (std::size_t allowed = 0; allowed < makes; ++allowed) {
        SCOPED_TRACE(allowed);
        Host local;
        local.descriptors().failMakeAfter(static_cast<int64_t>(allowed));
        HostHandle out = &gUntouched;
        EXPECT_FALSE(writeSceneDescriptor(contextOf(local), scene.get(), &out));
        EXPECT_EQ(out, &gUntouched);
        EXPECT_EQ(local.handles().live(), 0u);
        EXPECT_TRUE(local.balanced()) << local.accountSummary();
    }
}

// A list suite whose make fails once `gListAllowance` makes have succeeded.
int64_t gListAllowance = -1;
const ActionListSuite* gRealListSuite = nullptr;

HostError HOSTAPI_CALL refusingListMake(ActionListRef* list) {
    if (gListAllowance == 0) {
        *list = nullptr;
        return qmhost::DescriptorHost::kErrNoMemory;
    }
    if (gListAllowance > 0) {
        --gListAllowance;
    }
    return gRealListSuite->make(list);
}

TEST_F(SceneWriterTest, EveryListMakeFailureFailsTheWriterAndFreesEverything) {
    const ImportSceneOwner scene = everyKindScene();
    HostHandle handle = nullptr;
    ASSERT_TRUE(writeSceneDescriptor(contextOf(host), scene.get(), &handle));
    host.handles().dispose(handle);
    const std::size_t makes = host.descriptors().counts().listsMade;
    ASSERT_GT(makes, 10u);
    for (std::size_t allowed = 0; allowed < makes; ++allowed) {
        SCOPED_TRACE(allowed);
        Host local;
        gRealListSuite = local.descriptors().listSuite();
        ActionListSuite refusing = *gRealListSuite;
        refusing.make = refusingListMake;
        SceneWriterContext context = contextOf(local);
        context.suites.list = &refusing;
        gListAllowance = static_cast<int64_t>(allowed);
        HostHandle out = &gUntouched;
        EXPECT_FALSE(writeSceneDescriptor(context, scene.get(), &out));
        EXPECT_EQ(out, &gUntouched);
        EXPECT_TRUE(local.balanced()) << local.accountSummary();
    }
    gListAllowance = -1;
}

TEST_F(SceneWriterTest, NoBufferForFaclFailsTheWriterAndFreesEverything) {
    const ImportSceneOwner scene = oneTriangleScene();
    // The triangle's "facl" block is 36 bytes ("faci" is the corner array itself).
    for (std::size_t refused : {std::size_t{36}}) {
        SCOPED_TRACE(refused);
        Host local;
        SceneMemoryFaults faults;
        faults.failSize(refused);
        HostHandle out = &gUntouched;
        EXPECT_FALSE(writeSceneDescriptor(contextOf(local), scene.get(), &out));
        EXPECT_EQ(out, &gUntouched);
        EXPECT_EQ(faults.refusals(), 1u);
        EXPECT_EQ(faults.outstanding(), 0u);
        EXPECT_EQ(local.handles().live(), 0u);
        EXPECT_TRUE(local.balanced()) << local.accountSummary();
    }
}

TEST_F(SceneWriterTest, NoBufferForAGeometryBlockSkipsTheRestOfThatMeshOnly) {
    const ImportSceneOwner scene = newScene();
    // Block sizes: verl 72, nrml 96, lnfl and lncl 120, vnvl 144, uvl 112;
    // facl 36 and faci 16 (one corner). Only blocks that are not the scene's
    // own arrays byte for byte need a buffer: the lines always do.
    SceneOwner<SceneMesh> mesh = createSceneMesh("sizes", 3, 1, 7, 4, 5, 6);
    mesh->corners.resize(1);
    mesh->polygons[0].cornerCount = 1;
    appendElement(scene->meshes, std::move(mesh));
    appendElement(scene->meshes, createSceneMesh("second", 1, 0, 0, 0, 0, 0));
    struct Case {
        std::size_t refused;
        std::vector<HostKey> blocks;
    };
    const std::vector<Case> cases = {
        {120, {fourcc("verl"), fourcc("nrml")}},
        {1,
         {fourcc("verl"), fourcc("nrml"), fourcc("lnfl"), fourcc("lncl"), fourcc("vnvl"),
          fourcc("uvl ")}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.refused);
        SceneMemoryFaults faults;
        faults.failSize(c.refused);
        const std::optional<Descriptor> root = writeAndRead(*scene);
        ASSERT_TRUE(root.has_value());
        const std::vector<const Descriptor*> meshes =
            objects(*root, fourcc("mshl"), fourcc("msho"));
        ASSERT_EQ(meshes.size(), 2u);
        const std::vector<HostKey> keys = meshes[0]->keys();
        std::vector<HostKey> expected = {fourcc("Nm  ")};
        expected.insert(expected.end(), c.blocks.begin(), c.blocks.end());
        expected.insert(expected.end(), {fourcc("facl"), fourcc("faci"), fourcc("Mtrx")});
        ASSERT_GE(keys.size(), expected.size());
        EXPECT_EQ(std::vector<HostKey>(keys.begin(), keys.begin() + expected.size()), expected);
        // The next mesh's geometry is written again (its "verl" is 24 bytes).
        EXPECT_EQ(dataOf(*meshes[1], fourcc("verl")).size(), 24u);
        EXPECT_EQ(faults.outstanding(), 0u);
        EXPECT_TRUE(host.balanced()) << host.accountSummary();
    }
}

TEST_F(SceneWriterTest, NoHandleForTheFlattenedDescriptorFailsTheWriter) {
    const ImportSceneOwner scene = oneTriangleScene();
    host.handles().failAfter(0);
    HostHandle out = &gUntouched;
    EXPECT_FALSE(writeSceneDescriptor(contextOf(host), scene.get(), &out));
    EXPECT_EQ(out, &gUntouched);
    EXPECT_TRUE(host.balanced()) << host.accountSummary();
}

}  // namespace
}  // namespace quillmesh
