// The ImportScene: defaults, find-or-create by name, mesh creation, the growth
// rule of the pushes with an allocator told to fail, and release.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "scene/import_scene.h"
#include "scene/scene_memory.h"

namespace quillmesh {
namespace {

ImportSceneOwner newScene() {
    return ImportSceneOwner(createImportScene());
}

TEST(SceneModel, NewSceneHasRootDefaultsAndNoElements) {
    const ImportSceneOwner scene = newScene();
    ASSERT_NE(scene, nullptr);
    EXPECT_TRUE(scene->lights.empty());
    EXPECT_TRUE(scene->cameras.empty());
    EXPECT_TRUE(scene->meshes.empty());
    EXPECT_TRUE(scene->materials.empty());
    EXPECT_TRUE(scene->keySets.empty());
    for (double channel : {scene->ambientRed, scene->ambientGreen, scene->ambientBlue}) {
        EXPECT_EQ(channel, 0.10000000149011612);
    }
    EXPECT_EQ(scene->globalUnit, 1.0);
    EXPECT_EQ(scene->framesPerSecond, 30.0);
    EXPECT_FALSE(scene->flip);
    EXPECT_EQ(scene->animationStart, 0);
    EXPECT_EQ(scene->frameCount, 0);
    EXPECT_TRUE(scene->globalName.empty());
    EXPECT_TRUE(scene->sceneName.empty());
    EXPECT_EQ(scene->geoLocation, nullptr);
}

TEST(SceneModel, NewSceneIsNullWhenMemoryIsRefused) {
    SceneMemoryFaults faults;
    faults.failNext(1);
    EXPECT_EQ(createImportScene(), nullptr);
    EXPECT_EQ(faults.outstanding(), 0u);
}

TEST(SceneModel, ReleasingAFilledSceneGivesBackEveryAllocation) {
    SceneMemoryFaults faults;
    ImportScene* scene = createImportScene();
    ASSERT_NE(scene, nullptr);
    for (int i = 0; i < 40; ++i) {
        ASSERT_NE(findOrCreateMaterial(*scene, "material with a long name " + std::to_string(i)),
                  nullptr);
    }
    SceneOwner<SceneMesh> mesh = createSceneMesh("mesh", 3, 2, 3, 3, 1, 1);
    ASSERT_NE(mesh, nullptr);
    mesh->polygons[0].corners.resize(4);
    mesh->preservation = makeSceneRecord<ScenePreservation>();
    mesh->preservation->extraData.emplace(std::string(100, 'x'));
    appendElement(scene->meshes, std::move(mesh));
    SceneOwner<SceneKeySet> keySet = makeSceneRecord<SceneKeySet>();
    SceneOwner<SceneKeyTrack> track = makeSceneRecord<SceneKeyTrack>();
    track->keys.resize(5);
    appendElement(keySet->morphTracks, std::move(track));
    appendElement(scene->keySets, std::move(keySet));
    scene->geoLocation = makeSceneRecord<SceneGeoLocation>();
    EXPECT_GT(faults.outstanding(), 40u);

    releaseImportScene(scene);
    EXPECT_EQ(faults.outstanding(), 0u);
    releaseImportScene(nullptr);
}

TEST(SceneModel, MaterialHasItsDefaultsInAllThirtyTwoSlots) {
    const ImportSceneOwner scene = newScene();
    const SceneMaterial* material = findOrCreateMaterial(*scene, "stone");
    ASSERT_NE(material, nullptr);
    EXPECT_EQ(material->name.view(), "stone");
    for (double channel : {material->ambientRed, material->ambientGreen, material->ambientBlue}) {
        EXPECT_EQ(channel, 0.11764705882352941);
    }
    for (double channel :
         {material->diffuseRed, material->diffuseGreen, material->diffuseBlue,
          material->specularRed, material->specularGreen, material->specularBlue}) {
        EXPECT_EQ(channel, 0.7529411764705882);
    }
    EXPECT_EQ(material->emissiveRed + material->emissiveGreen + material->emissiveBlue, 0.0);
    EXPECT_EQ(material->shininess, 0.2);
    EXPECT_EQ(material->secondShininess, 1.0);
    EXPECT_EQ(material->transparency, 0.0);
    EXPECT_EQ(material->reflection, 0.15);
    EXPECT_EQ(material->selfValue, 0);
    EXPECT_EQ(material->shadValue, 4);
    EXPECT_TRUE(material->twoSided);
    EXPECT_FALSE(material->wireframe);
    EXPECT_FALSE(material->declFlag);
    EXPECT_EQ(material->wfszValue, 0.0);
    EXPECT_EQ(material->rfacValue, 1.0);
    EXPECT_EQ(material->preservation, nullptr);
    ASSERT_EQ(material->maps.size(), 32u);
    for (std::size_t slot = 0; slot < material->maps.size(); ++slot) {
        SCOPED_TRACE(slot);
        const SceneTextureMap& map = material->maps[slot];
        EXPECT_TRUE(map.path.empty());
        EXPECT_EQ(map.strength, 1.0);
        EXPECT_EQ(map.uScale, 1.0);
        EXPECT_EQ(map.vScale, 1.0);
        EXPECT_EQ(map.uOffset, 0.0);
        EXPECT_EQ(map.vOffset, 0.0);
        EXPECT_EQ(map.angle, 0.0);
        EXPECT_EQ(map.flags, 16);
        EXPECT_EQ(map.minimum, 0.0);
        EXPECT_EQ(map.maximum, 1.0);
        EXPECT_FALSE(map.mstyFlag);
        EXPECT_TRUE(map.paintType.empty());
        EXPECT_TRUE(map.layerName.empty());
    }
}

TEST(SceneModel, FindOrCreateReturnsTheFirstMaterialOfAName) {
    const ImportSceneOwner scene = newScene();
    SceneMaterial* wood = findOrCreateMaterial(*scene, "Wood");
    SceneMaterial* metal = findOrCreateMaterial(*scene, "metal");
    ASSERT_NE(wood, nullptr);
    ASSERT_NE(metal, nullptr);
    wood->shininess = 0.9;
    EXPECT_EQ(findOrCreateMaterial(*scene, "Wood"), wood);
    EXPECT_EQ(wood->shininess, 0.9);
    EXPECT_EQ(scene->materials.size(), 2u);

    SceneMaterial* lowerWood = findOrCreateMaterial(*scene, "wood");
    EXPECT_NE(lowerWood, wood);
    EXPECT_EQ(scene->materials.size(), 3u);

    std::vector<const SceneMaterial*> order;
    for (const SceneMaterial& material : scene->materials) {
        order.push_back(&material);
    }
    EXPECT_EQ(order, (std::vector<const SceneMaterial*>{wood, metal, lowerWood}));
}

TEST(SceneModel, NamesAreStoredAsAtMost255BytesUpToTheFirstNul) {
    struct Case {
        std::string given;
        std::string stored;
    };
    const std::string name300(300, 'n');
    const std::string name255(255, 'n');
    const std::vector<Case> cases = {
        {"", ""},           {std::string(15, 'a'), std::string(15, 'a')},
        {name255, name255}, {name255 + "x", name255},
        {name300, name255}, {std::string("left\0right", 10), "left"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.given.size());
        const ImportSceneOwner scene = newScene();
        SceneMaterial* material = findOrCreateMaterial(*scene, c.given);
        ASSERT_NE(material, nullptr);
        EXPECT_EQ(material->name.view(), c.stored);
        // The stored and the given form find the same material.
        EXPECT_EQ(findOrCreateMaterial(*scene, c.stored), material);
        EXPECT_EQ(findOrCreateMaterial(*scene, c.given), material);
        EXPECT_EQ(scene->materials.size(), 1u);
        const SceneOwner<SceneMesh> mesh = createSceneMesh(c.given, 0, 0, 0, 0, 0, 0);
        ASSERT_NE(mesh, nullptr);
        EXPECT_EQ(mesh->name.view(), c.stored);
    }
    SceneTexturePath path;
    ASSERT_TRUE(path.assign(std::string(3000, 'p')));
    EXPECT_EQ(path.size(), 2047u);
}

TEST(SceneModel, NamesAreNeverCutInsideAUtf8Character) {
    struct Case {
        std::size_t leading;  // ASCII bytes before the tail
        std::string tail;
        std::size_t stored;  // bytes kept
    };
    const std::string e = "\xC3\xA9";             // U+00E9, two bytes
    const std::string sun = "\xE6\x97\xA5";       // U+65E5, three bytes
    const std::string face = "\xF0\x9F\x98\x80";  // U+1F600, four bytes
    const std::string notUtf8(10, '\x80');        // a run no character can hold
    const std::vector<Case> cases = {
        {253, e, 255},   {254, e, 254},    {255, e, 255},    {252, sun, 255},  {253, sun, 253},
        {254, sun, 254}, {251, face, 255}, {252, face, 252}, {254, face, 254}, {250, notUtf8, 255},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.leading << " + " << c.tail.size());
        const std::string given = std::string(c.leading, 'a') + c.tail;
        const ImportSceneOwner scene = newScene();
        const SceneMaterial* material = findOrCreateMaterial(*scene, given);
        ASSERT_NE(material, nullptr);
        EXPECT_EQ(material->name.view(), std::string_view(given).substr(0, c.stored));
    }
}

TEST(SceneModel, FindOrCreateSeesMaterialsAppendedDirectly) {
    const ImportSceneOwner scene = newScene();
    SceneMaterial* first = findOrCreateMaterial(*scene, "glass");
    ASSERT_NE(first, nullptr);
    SceneOwner<SceneMaterial> duplicate = makeSceneRecord<SceneMaterial>("glass");
    SceneOwner<SceneMaterial> other = makeSceneRecord<SceneMaterial>("brick");
    SceneMaterial* brick = other.get();
    appendElement(scene->materials, std::move(duplicate));
    appendElement(scene->materials, std::move(other));

    EXPECT_EQ(findOrCreateMaterial(*scene, "glass"), first);
    EXPECT_EQ(findOrCreateMaterial(*scene, "brick"), brick);
    EXPECT_EQ(scene->materials.size(), 3u);
}

TEST(SceneModel, FindOrCreateFailingAtAnyAllocationLeavesTheListAsItWas) {
    const std::string name = "a material name too long for the short-string buffer";
    bool created = false;
    for (std::size_t grant = 0; !created && grant < 32; ++grant) {
        SCOPED_TRACE(grant);
        SceneMemoryFaults faults;
        {
            const ImportSceneOwner scene = newScene();
            ASSERT_NE(findOrCreateMaterial(*scene, "existing"), nullptr);
            faults.failAfter(grant);
            SceneMaterial* material = findOrCreateMaterial(*scene, name);
            created = material != nullptr;
            faults.clearRules();
            EXPECT_EQ(scene->materials.size(), created ? 2u : 1u);
            // A retry without faults finds or creates exactly one such material.
            EXPECT_NE(findOrCreateMaterial(*scene, name), nullptr);
            EXPECT_EQ(scene->materials.size(), 2u);
        }
        EXPECT_EQ(faults.outstanding(), 0u);
    }
    EXPECT_TRUE(created);
}

TEST(SceneModel, MeshWithAllCountsZeroHasNoArraysAndTheMeshDefaults) {
    const SceneOwner<SceneMesh> mesh = createSceneMesh("", 0, 0, 0, 0, 0, 0);
    ASSERT_NE(mesh, nullptr);
    EXPECT_TRUE(mesh->vertices.empty());
    EXPECT_TRUE(mesh->uvs.empty());
    EXPECT_TRUE(mesh->polygons.empty());
    EXPECT_TRUE(mesh->lines.empty());
    EXPECT_TRUE(mesh->normals.empty());
    EXPECT_TRUE(mesh->vertexVectors.empty());
    EXPECT_EQ(mesh->vertices.capacity(), 0u);
    EXPECT_EQ(mesh->flags, 87);
    EXPECT_EQ(mesh->hidden, 0);
    EXPECT_EQ(mesh->shadow, 1);
    EXPECT_EQ(mesh->matrix, SceneMatrix{});
    EXPECT_FALSE(mesh->hmatFlag);
    EXPECT_FALSE(mesh->hsmtFlag);
    EXPECT_FALSE(mesh->misvFlag);
    EXPECT_TRUE(mesh->miscFlag);
    EXPECT_TRUE(mesh->missFlag);
    EXPECT_FALSE(mesh->misiFlag);
    EXPECT_EQ(mesh->preservation, nullptr);
}

TEST(SceneModel, MeshArraysHaveExactlyTheirPositiveCounts) {
    const SceneOwner<SceneMesh> mesh = createSceneMesh("m", 3, 4, 5, 6, 7, 8);
    ASSERT_NE(mesh, nullptr);
    EXPECT_EQ(mesh->vertices.size(), 3u);
    EXPECT_EQ(mesh->polygons.size(), 4u);
    EXPECT_EQ(mesh->uvs.size(), 5u);
    EXPECT_EQ(mesh->normals.size(), 6u);
    EXPECT_EQ(mesh->lines.size(), 7u);
    EXPECT_EQ(mesh->vertexVectors.size(), 8u);
    EXPECT_EQ(mesh->vertices.capacity(), 3u);
    EXPECT_EQ(mesh->polygons[3].cornerCount(), 0u);

    const SceneOwner<SceneMesh> negative = createSceneMesh("n", -1, -5, 0, -2, -3, -4);
    ASSERT_NE(negative, nullptr);
    EXPECT_TRUE(negative->vertices.empty());
    EXPECT_TRUE(negative->polygons.empty());
    EXPECT_TRUE(negative->lines.empty());
}

TEST(SceneModel, MeshCreationFailingAtAnyAllocationGivesNullAndKeepsNothing) {
    bool created = false;
    std::size_t grant = 0;
    for (; !created && grant < 32; ++grant) {
        SCOPED_TRACE(grant);
        SceneMemoryFaults faults;
        faults.failAfter(grant);
        SceneOwner<SceneMesh> mesh =
            createSceneMesh("a mesh name longer than fifteen", 3, 4, 5, 6, 7, 8);
        created = mesh != nullptr;
        mesh.reset();
        EXPECT_EQ(faults.outstanding(), 0u);
    }
    EXPECT_TRUE(created);
    // Record, name and six arrays: the failure was met at every one of them.
    EXPECT_EQ(grant, 9u);
}

TEST(SceneModel, NineVerticesWithCapacityEightDoubleTheCapacity) {
    const SceneOwner<SceneMesh> mesh = createSceneMesh("", 0, 0, 0, 0, 0, 0);
    ASSERT_NE(mesh, nullptr);
    int32_t capacity = 8;
    for (int i = 0; i < 9; ++i) {
        ASSERT_TRUE(pushVertex(*mesh, 1, 2, 3 + i, capacity));
    }
    EXPECT_EQ(capacity, 16);
    ASSERT_EQ(mesh->vertices.size(), 9u);
    EXPECT_EQ(mesh->vertices[0], (SceneVector3{1, -3, 2}));
    EXPECT_EQ(mesh->vertices[8], (SceneVector3{1, -11, 2}));
}

TEST(SceneModel, PushesConvertAxesOfPositionsAndNormalsOnly) {
    const SceneOwner<SceneMesh> mesh = createSceneMesh("", 0, 0, 0, 0, 0, 0);
    ASSERT_NE(mesh, nullptr);
    int32_t vertexCapacity = 8;
    int32_t normalCapacity = 8;
    int32_t uvCapacity = 8;
    ASSERT_TRUE(pushVertex(*mesh, 1, 2, 3, vertexCapacity));
    ASSERT_TRUE(pushNormal(*mesh, 0.5, -0.25, 4, normalCapacity));
    ASSERT_TRUE(pushUV(*mesh, 0.25, 0.75, uvCapacity));
    EXPECT_EQ(mesh->vertices[0], (SceneVector3{1, -3, 2}));
    EXPECT_EQ(mesh->normals[0], (SceneVector3{0.5, -4, -0.25}));
    EXPECT_EQ(mesh->uvs[0], (SceneUV{0.25, 0.75}));
}

// Fills an array to its capacity of 8 with vertices (i, 0, 0).
void fillEight(SceneMesh& mesh, int32_t& capacity) {
    for (int i = 0; i < 8; ++i) {
        ASSERT_TRUE(pushVertex(mesh, i, 0, 0, capacity));
    }
    ASSERT_EQ(capacity, 8);
}

TEST(SceneModel, GrowthFallsBackToCountPlusHundredWhenDoublingFails) {
    const SceneOwner<SceneMesh> mesh = createSceneMesh("", 0, 0, 0, 0, 0, 0);
    ASSERT_NE(mesh, nullptr);
    int32_t capacity = 8;
    fillEight(*mesh, capacity);
    SceneMemoryFaults faults;
    faults.failSize(16 * sizeof(SceneVector3));
    ASSERT_TRUE(pushVertex(*mesh, 8, 0, 0, capacity));
    EXPECT_EQ(faults.refusals(), 1u);
    EXPECT_EQ(capacity, 108);
    EXPECT_GE(mesh->vertices.capacity(), 108u);
    ASSERT_EQ(mesh->vertices.size(), 9u);
    for (int i = 0; i < 9; ++i) {
        EXPECT_EQ(mesh->vertices[i].x, i);
    }
}

TEST(SceneModel, GrowthFailingTwiceLeavesTheMeshAndCapacityUnchanged) {
    const SceneOwner<SceneMesh> mesh = createSceneMesh("", 0, 0, 0, 0, 0, 0);
    ASSERT_NE(mesh, nullptr);
    int32_t capacity = 8;
    fillEight(*mesh, capacity);
    const SceneVector3* before = mesh->vertices.data();
    {
        SceneMemoryFaults faults;
        faults.failNext(2);
        EXPECT_FALSE(pushVertex(*mesh, 8, 0, 0, capacity));
        EXPECT_EQ(faults.refusals(), 2u);
    }
    EXPECT_EQ(capacity, 8);
    EXPECT_EQ(mesh->vertices.size(), 8u);
    EXPECT_EQ(mesh->vertices.data(), before);
    EXPECT_EQ(mesh->vertices[7].x, 7);
    // Once memory is back the next push grows as usual.
    EXPECT_TRUE(pushVertex(*mesh, 8, 0, 0, capacity));
    EXPECT_EQ(capacity, 16);
}

TEST(SceneModel, FirstPushFailsWhenTheFreshArrayIsRefused) {
    const SceneOwner<SceneMesh> mesh = createSceneMesh("", 0, 0, 0, 0, 0, 0);
    ASSERT_NE(mesh, nullptr);
    int32_t capacity = 8;
    SceneMemoryFaults faults;
    faults.failNext(1);
    EXPECT_FALSE(pushUV(*mesh, 1, 2, capacity));
    EXPECT_TRUE(mesh->uvs.empty());
    EXPECT_EQ(capacity, 8);
}

TEST(SceneModel, PushNeverWritesPastAnArrayThatDisagreesWithTheCapacity) {
    struct Case {
        int32_t created;   // entries made by createSceneMesh
        int32_t capacity;  // the caller's capacity passed to the push
        int32_t expectedCapacity;
    };
    const std::vector<Case> cases = {
        {3, 8, 16},   // capacity claims room the array does not have
        {20, 8, 40},  // capacity below the count
        {0, 0, 1},    // capacity 0 still makes room for the entry
        {0, -4, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.created);
        const SceneOwner<SceneMesh> mesh = createSceneMesh("", 0, 0, 0, c.created, 0, 0);
        ASSERT_NE(mesh, nullptr);
        int32_t capacity = c.capacity;
        ASSERT_TRUE(pushNormal(*mesh, 1, 2, 3, capacity));
        EXPECT_EQ(capacity, c.expectedCapacity);
        ASSERT_EQ(mesh->normals.size(), static_cast<std::size_t>(c.created) + 1);
        EXPECT_EQ(mesh->normals.back(), (SceneVector3{1, -3, 2}));
    }
}

TEST(SceneModel, PushPolygonTakesTheCornersOverAndReleasesThemOnFailure) {
    SceneMemoryFaults faults;
    {
        SceneOwner<SceneMesh> mesh = createSceneMesh("", 0, 0, 0, 0, 0, 0);
        ASSERT_NE(mesh, nullptr);
        int32_t capacity = 8;
        ScenePolygon polygon;
        polygon.corners = {{0, 0, 0, 0}, {1, 1, 1, 1}, {2, 2, 2, 2}};
        polygon.attributeB = 1;
        ASSERT_TRUE(pushPolygon(*mesh, std::move(polygon), capacity));
        ASSERT_EQ(mesh->polygons.size(), 1u);
        EXPECT_EQ(mesh->polygons[0].cornerCount(), 3u);
        EXPECT_EQ(mesh->polygons[0].corners[2], (SceneCorner{2, 2, 2, 2}));
        EXPECT_EQ(mesh->polygons[0].attributeB, 1);

        const SceneOwner<SceneMesh> empty = createSceneMesh("", 0, 0, 0, 0, 0, 0);
        ASSERT_NE(empty, nullptr);
        ScenePolygon refused;
        refused.corners.resize(4);
        faults.failNext(1);
        EXPECT_FALSE(pushPolygon(*empty, std::move(refused), capacity));
        EXPECT_TRUE(empty->polygons.empty());

        releaseSceneMeshContents(*mesh);
        EXPECT_TRUE(mesh->polygons.empty());
        EXPECT_EQ(mesh->polygons.capacity(), 0u);
    }
    EXPECT_EQ(faults.outstanding(), 0u);
}

TEST(SceneModel, ReleasingMeshContentsKeepsTheMeshWithoutGeometry) {
    SceneMemoryFaults faults;
    SceneOwner<SceneMesh> mesh = createSceneMesh("kept", 3, 2, 3, 3, 2, 2);
    ASSERT_NE(mesh, nullptr);
    mesh->polygons[1].corners.resize(3);
    mesh->preservation = makeSceneRecord<ScenePreservation>();
    releaseSceneMeshContents(*mesh);
    EXPECT_EQ(mesh->name.view(), "kept");
    EXPECT_TRUE(mesh->vertices.empty() && mesh->polygons.empty() && mesh->uvs.empty() &&
                mesh->normals.empty() && mesh->lines.empty() && mesh->vertexVectors.empty());
    EXPECT_EQ(mesh->preservation, nullptr);
    // Only the record itself (its name fits the short-string buffer) is left.
    EXPECT_EQ(faults.outstanding(), 1u);
}

TEST(SceneModel, ListsKeepInsertionOrderAndIgnoreNull) {
    SceneList<SceneKeyTrack> tracks;
    for (const char* name : {"first", "second", "third"}) {
        SceneOwner<SceneKeyTrack> track = makeSceneRecord<SceneKeyTrack>();
        ASSERT_TRUE(track->name.assign(name));
        appendElement(tracks, std::move(track));
        EXPECT_EQ(tracks.last()->name.view(), name);
    }
    appendElement(tracks, SceneOwner<SceneKeyTrack>());
    std::vector<std::string> names;
    for (const SceneKeyTrack& track : tracks) {
        names.emplace_back(track.name.view());
    }
    EXPECT_EQ(names, (std::vector<std::string>{"first", "second", "third"}));
    EXPECT_EQ(tracks.size(), 3u);
    EXPECT_EQ(tracks.last()->next(), nullptr);
}

TEST(SceneModel, AVeryLongListIsReleasedWithoutRecursion) {
    // A release that recursed once per element would need at least 16 MB of
    // stack here (a return address per element), twice the usual 8 MB.
    constexpr int kElements = 2000000;
    auto tracks = std::make_unique<SceneList<SceneKeyTrack>>();
    for (int i = 0; i < kElements; ++i) {
        appendElement(*tracks, makeSceneRecord<SceneKeyTrack>());
    }
    EXPECT_EQ(tracks->size(), static_cast<std::size_t>(kElements));
    SceneMemoryFaults faults;
    tracks.reset();
    EXPECT_EQ(faults.releases(), static_cast<std::size_t>(kElements));
}

}  // namespace
}  // namespace quillmesh
