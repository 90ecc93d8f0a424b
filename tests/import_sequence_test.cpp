// The whole chain from a scene to the host: ReadContinue writes the scene
// descriptor, adds the view state under "key3DState", and hands the flattened
// result to the host's 3D-layer record or delivers flat rows.
#include <gtest/gtest.h>

#include <string>

#include "entry/import_sequence.h"
#include "entry/plugin_main.h"
#include "entry/suites.h"
#include "host/host.h"
#include "host/import_driver.h"
#include "scene/import_scene.h"

namespace {

using qmhost::Descriptor;
using qmhost::Host;
using qmhost::ValueKind;
using quillmesh::ImportScene;

constexpr uint32_t kUsRt = 0x55735274;

// One triangle with normals and the default material.
ImportScene* triangleScene(const char16_t*) {
    ImportScene* scene = quillmesh::createImportScene();
    if (scene == nullptr) {
        return nullptr;
    }
    if (quillmesh::findOrCreateMaterial(*scene, "__PS_CS4_3D_Default") == nullptr) {
        quillmesh::releaseImportScene(scene);
        return nullptr;
    }
    quillmesh::SceneOwner<quillmesh::SceneMesh> mesh =
        quillmesh::createSceneMesh("", 0, 0, 0, 0, 0, 0);
    if (mesh == nullptr) {
        quillmesh::releaseImportScene(scene);
        return nullptr;
    }
    bool ok = true;
    try {
        const double positions[3][2] = {{0, 0}, {1, 0}, {0, 1}};
        for (const auto& xy : positions) {
            mesh->vertices.push_back(quillmesh::sceneAxes(xy[0], xy[1], 0));
            mesh->normals.push_back(quillmesh::sceneAxes(0, 0, 1));
        }
    } catch (const std::bad_alloc&) {
        ok = false;
    }
    const quillmesh::SceneCorner corners[] = {{0, 0, 0, 0}, {1, 1, 0, 1}, {2, 2, 0, 2}};
    ok = ok && quillmesh::appendPolygon(*mesh, corners, 0, 1, 0);
    if (!ok) {
        quillmesh::releaseImportScene(scene);
        return nullptr;
    }
    if (!quillmesh::appendElement(scene->meshes, std::move(mesh))) {
        quillmesh::releaseImportScene(scene);
        return nullptr;
    }
    return scene;
}

ImportScene* emptyScene(const char16_t*) {
    return quillmesh::createImportScene();
}

class ImportSequenceTest : public ::testing::Test {
  protected:
    void SetUp() override { quillmesh::setSceneSource(triangleScene); }
    void TearDown() override {
        quillmesh::setSceneSource(nullptr);
        quillmesh::gGlobals.basicSuite = &host.basicSuite();
        quillmesh::releaseAllSuites();
    }

    HostKey key(const char* text) { return host.descriptors().ids().fromString(text); }

    Host host;
};

TEST_F(ImportSequenceTest, SceneIsHandedToTheLayerRecordWithTheViewStateLast) {
    const qmhost::ImportOutcome outcome = qmhost::runImport(host, PluginMain, u"triangle.kvt");
    ASSERT_EQ(outcome.result(), 0);
    EXPECT_TRUE(outcome.sceneDelivered);
    ASSERT_FALSE(outcome.sceneBytes.empty());
    const std::optional<Descriptor> scene =
        qmhost::unflatten(outcome.sceneBytes, host.descriptors().ids());
    ASSERT_TRUE(scene.has_value());

    const std::vector<HostKey> keys = scene->keys();
    ASSERT_FALSE(keys.empty());
    const HostKey stateKey = key("key3DState");
    EXPECT_EQ(keys.back(), stateKey) << "the view state follows every key of the scene";
    EXPECT_EQ(keys.front(), qmhost::fourcc("VrsM"));
    EXPECT_TRUE(scene->contains(qmhost::fourcc("plyc")));
    EXPECT_EQ(keys[keys.size() - 2], qmhost::fourcc("plyc"));

    const qmhost::Value* state = scene->find(stateKey);
    ASSERT_NE(state, nullptr);
    ASSERT_EQ(state->kind(), ValueKind::Object);
    EXPECT_EQ(state->asObject().classId(), stateKey) << "key and class are equal";
    const qmhost::Value* fov = state->asObject().find(key("key3DCurrentFOV"));
    ASSERT_NE(fov, nullptr);
    EXPECT_EQ(fov->asFloat(), 0.7330382858376184);

    const qmhost::Value* meshes = scene->find(qmhost::fourcc("mshl"));
    ASSERT_NE(meshes, nullptr);
    ASSERT_EQ(meshes->asList().size(), 1u);

    EXPECT_EQ(host.resources().count(kUsRt), 1);
    EXPECT_TRUE(host.advanceCalls().empty()) << "a layer record takes the scene, no rows";
    EXPECT_EQ(host.threeDLayer().sceneDescriptor, nullptr) << "ReadFinish disposed it";
    EXPECT_TRUE(host.balanced()) << host.accountSummary();
}

TEST_F(ImportSequenceTest, EmptySceneIsStillASceneWithItsViewState) {
    quillmesh::setSceneSource(emptyScene);
    const qmhost::ImportOutcome outcome = qmhost::runImport(host, PluginMain, u"empty.kvt");
    ASSERT_EQ(outcome.result(), 0);
    const std::optional<Descriptor> scene =
        qmhost::unflatten(outcome.sceneBytes, host.descriptors().ids());
    ASSERT_TRUE(scene.has_value());
    EXPECT_EQ(scene->keys().back(), key("key3DState"));
    EXPECT_TRUE(host.balanced()) << host.accountSummary();
}

TEST_F(ImportSequenceTest, HostWithoutLayerRecordGetsRowsAndTheSceneIsDisposed) {
    qmhost::ImportOptions options;
    options.takesThreeDLayers = false;
    const qmhost::ImportOutcome outcome =
        qmhost::runImport(host, PluginMain, u"triangle.kvt", options);
    EXPECT_EQ(outcome.result(), 0);
    EXPECT_FALSE(outcome.sceneDelivered);
    EXPECT_EQ(host.advanceCalls().size(), 1024u);
    EXPECT_EQ(host.descriptorParameters().descriptor, nullptr) << "no record, no scripting";
    EXPECT_TRUE(host.balanced()) << host.accountSummary();
}

TEST_F(ImportSequenceTest, FlatRequestWithLayerRecordKeepsTheRecordsHandle) {
    // The record keeps the scene it took while rows are delivered as well; the
    // handle is disposed once, in ReadFinish.
    qmhost::ImportOptions options;
    options.flatImageRequest = true;
    options.requestedSize = HostSize32{3, 5};
    host.formatRecord().rowBytes = 20;
    const qmhost::ImportOutcome outcome =
        qmhost::runImport(host, PluginMain, u"triangle.kvt", options);
    EXPECT_EQ(outcome.result(), 0);
    EXPECT_TRUE(outcome.sceneDelivered);
    EXPECT_FALSE(outcome.sceneBytes.empty());
    EXPECT_EQ(host.advanceCalls().size(), 3u);
    EXPECT_EQ(host.handles().badDisposes(), 0u);
    EXPECT_TRUE(host.balanced()) << host.accountSummary();
}

// A flat request for no rows (none, negative, or negative in the 16-bit size)
// succeeds with nothing to hand over; rows without a buffer to hand them over
// in fail the import. Nothing is left held either way.
TEST_F(ImportSequenceTest, FlatRequestsWithoutRowsOrWithoutABufferEndWithTheirResults) {
    struct Case {
        HostSize32 size;
        int32_t rowBytes;
        bool hostRefusesBuffer;
        int16_t result;
    };
    const Case cases[] = {
        {{0, 5}, 20, false, 0},
        {{-3, 5}, 20, false, 0},
        {{40000, 5}, 20, false, 0},
        {{3, 5}, -20, false, RESULT_IMPORT_FAILED},
        {{3, 5}, 4000000, false, RESULT_IMPORT_FAILED},  // beyond a 32-bit handle size
        {{3, 5}, 20, true, RESULT_IMPORT_FAILED},
    };
    qmhost::ImportOptions options{
        .takesThreeDLayers = false, .flatImageRequest = true, .requestedSize = {3, 5}};
    // The buffer is the last handle of a flat import without a layer record.
    Host probe;
    probe.formatRecord().rowBytes = 20;
    qmhost::runImport(probe, PluginMain, u"triangle.kvt", options);
    ASSERT_EQ(probe.advanceCalls().size(), 3u);
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.size.rows << " rows of " << c.rowBytes << " bytes");
        options.requestedSize = c.size;
        Host local;
        local.formatRecord().rowBytes = c.rowBytes;
        local.handles().failAfter(
            c.hostRefusesBuffer ? static_cast<int64_t>(probe.handles().created() - 1) : -1);
        const qmhost::ImportOutcome outcome =
            qmhost::runImport(local, PluginMain, u"triangle.kvt", options);
        EXPECT_EQ(outcome.continueResult, c.result);
        EXPECT_TRUE(local.advanceCalls().empty());
        local.handles().failAfter(-1);
        EXPECT_EQ(local.suitesHeld(), 0u);
        EXPECT_TRUE(local.balanced()) << local.accountSummary();
    }
}

TEST_F(ImportSequenceTest, SceneIsReleasedWhenTheWriterFails) {
    // With no handle for the flattened root the writer fails; the scene it was
    // given must still be released (the sanitizer build sees a leak otherwise).
    host.handles().failAfter(0);
    const qmhost::ImportOutcome outcome = qmhost::runImport(host, PluginMain, u"triangle.kvt");
    EXPECT_EQ(outcome.continueResult, RESULT_IMPORT_FAILED);
    EXPECT_FALSE(outcome.sceneDelivered);
    host.handles().failAfter(-1);
    EXPECT_EQ(host.suitesHeld(), 0u);
    EXPECT_EQ(host.handles().live(), host.descriptorParameters().descriptor != nullptr ? 1u : 0u);
}

// Every descriptor make and every handle allocation of an import, made to fail
// in turn: the import either succeeds and delivers, or fails with an error and
// delivers nothing. Either way the host gets back everything it lent.
TEST_F(ImportSequenceTest, EveryHostFailureIsReportedAndLeavesNothingHeld) {
    std::size_t makes = 0;
    std::size_t handles = 0;
    {
        Host probe;
        qmhost::runImport(probe, PluginMain, u"triangle.kvt");
        makes = probe.descriptors().counts().descriptorsMade;
        handles = probe.handles().created();
    }
    ASSERT_GT(makes, 2u);
    ASSERT_GT(handles, 2u);
    for (int kind = 0; kind < 2; ++kind) {
        const std::size_t total = kind == 0 ? makes : handles;
        for (std::size_t n = 0; n < total; ++n) {
            Host local;
            if (kind == 0) {
                local.descriptors().failMakeAfter(static_cast<int64_t>(n));
            } else {
                local.handles().failAfter(static_cast<int64_t>(n));
            }
            const qmhost::ImportOutcome outcome =
                qmhost::runImport(local, PluginMain, u"triangle.kvt");
            SCOPED_TRACE(testing::Message() << (kind == 0 ? "make" : "handle") << " " << n);
            if (outcome.continueResult == 0) {
                EXPECT_TRUE(outcome.sceneDelivered);
                EXPECT_TRUE(qmhost::unflatten(outcome.sceneBytes, local.descriptors().ids()));
            } else {
                EXPECT_EQ(outcome.continueResult, RESULT_IMPORT_FAILED);
                EXPECT_FALSE(outcome.sceneDelivered);
                EXPECT_TRUE(outcome.sceneBytes.empty());
            }
            local.descriptors().failMakeAfter(-1);
            local.handles().failAfter(-1);
            EXPECT_EQ(local.suitesHeld(), 0u);
            EXPECT_TRUE(local.descriptors().balanced()) << local.accountSummary();
            const std::size_t kept = local.descriptorParameters().descriptor != nullptr ? 1 : 0;
            EXPECT_EQ(local.handles().live(), kept) << local.accountSummary();
            EXPECT_EQ(local.handles().badDisposes(), 0u);
        }
    }
}

}  // namespace
