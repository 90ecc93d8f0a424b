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
    ASSERT_TRUE(appendPolygon(*mesh, std::vector<SceneCorner>(4), 0, 1, 0));
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
        EXPECT_EQ(findOrCreateMaterial(*scene, c.given), material);
        // A name is compared whole: the stored form of a name cut by its length is another
        // name, and another material under the same stored name.
        const bool cut = c.given.find('\0') == std::string::npos && c.given.size() > 255;
        SceneMaterial* stored = findOrCreateMaterial(*scene, c.stored);
        EXPECT_EQ(stored == material, !cut);
        ASSERT_NE(stored, nullptr);
        EXPECT_EQ(stored->name.view(), c.stored);
        EXPECT_EQ(scene->materials.size(), cut ? 2u : 1u);
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
    EXPECT_FALSE(mesh->hostDerivesNormals);
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
    EXPECT_EQ(mesh->polygons[3].cornerCount, 0u);

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

TEST(SceneModel, PolygonsTakeTheirCornersInOrderAndARefusedOneChangesNothing) {
    SceneMemoryFaults faults;
    {
        SceneOwner<SceneMesh> mesh = createSceneMesh("", 0, 0, 0, 0, 0, 0);
        ASSERT_NE(mesh, nullptr);
        const std::vector<SceneCorner> triangle = {{0, 0, 0, 0}, {1, 1, 1, 1}, {2, 2, 2, 2}};
        const std::vector<SceneCorner> quad = {
            {3, 3, 3, 3}, {4, 4, 4, 4}, {5, 5, 5, 5}, {6, 6, 6, 6}};
        ASSERT_TRUE(appendPolygon(*mesh, triangle, 0, 1, 2));
        ASSERT_TRUE(appendPolygon(*mesh, quad, 7, 8, 9));
        ASSERT_EQ(mesh->polygons.size(), 2u);
        const std::span<const SceneCorner> second = mesh->cornersOf(mesh->polygons[1]);
        EXPECT_EQ(std::vector<SceneCorner>(second.begin(), second.end()), quad);
        EXPECT_EQ(mesh->polygons[1].attributeA, 7);
        EXPECT_EQ(mesh->polygons[1].materialIndex, 9);

        // Appending until an allocation is refused: the refused polygon changes nothing.
        std::size_t refusedAt = 0;
        for (std::size_t i = 0; i < 64 && refusedAt == 0; ++i) {
            faults.failNext(1);
            const std::size_t polygonsBefore = mesh->polygons.size();
            const std::size_t cornersBefore = mesh->corners.size();
            if (!appendPolygon(*mesh, quad, 0, 1, 0)) {
                refusedAt = polygonsBefore;
                EXPECT_EQ(mesh->polygons.size(), polygonsBefore);
                EXPECT_EQ(mesh->corners.size(), cornersBefore);
            }
            faults.clearRules();
        }
        EXPECT_NE(refusedAt, 0u);
        EXPECT_TRUE(appendPolygon(*mesh, quad, 0, 1, 0));

        releaseSceneMeshContents(*mesh);
        EXPECT_TRUE(mesh->polygons.empty() && mesh->corners.empty());
    }
    EXPECT_EQ(faults.outstanding(), 0u);
}

TEST(SceneModel, ReleasingMeshContentsKeepsTheMeshWithoutGeometry) {
    SceneMemoryFaults faults;
    SceneOwner<SceneMesh> mesh = createSceneMesh("kept", 3, 2, 3, 3, 2, 2);
    ASSERT_NE(mesh, nullptr);
    ASSERT_TRUE(appendPolygon(*mesh, std::vector<SceneCorner>(3), 0, 1, 0));
    mesh->preservation = makeSceneRecord<ScenePreservation>();
    releaseSceneMeshContents(*mesh);
    EXPECT_EQ(mesh->name.view(), "kept");
    EXPECT_TRUE(mesh->vertices.empty() && mesh->polygons.empty() && mesh->uvs.empty() &&
                mesh->corners.empty() && mesh->normals.empty() && mesh->lines.empty() &&
                mesh->vertexVectors.empty());
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
        EXPECT_EQ(tracks[tracks.size() - 1].name.view(), name);
    }
    appendElement(tracks, SceneOwner<SceneKeyTrack>());
    std::vector<std::string> names;
    for (const SceneKeyTrack& track : tracks) {
        names.emplace_back(track.name.view());
    }
    EXPECT_EQ(names, (std::vector<std::string>{"first", "second", "third"}));
    EXPECT_EQ(tracks.size(), 3u);
}

}  // namespace
}  // namespace quillmesh
