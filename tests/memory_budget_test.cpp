// Files of many small elements: what a file stores is all that is held, so well-formed files of
// ordinary size load however many elements they hold, and a file that would need more than its
// size allows is refused with the reason recorded.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>

#include "model/kvt_plugin.h"
#include "scene/model_conversion.h"
#include "tests/support/kvt_writer.h"

namespace {

namespace ts = quillmesh::testsupport;
using quillmesh::KVTPlugin;

struct ManyElementsCase {
    const char* label;
    std::function<ts::KvtModel()> model;
    bool compressed;
    std::function<std::size_t(const quillmesh::ModelData&)> count;
    std::size_t expected;
};

TEST(MemoryBudget, WellFormedFilesOfManySmallElementsLoad) {
    const ManyElementsCase cases[] = {
        {"200,000 groups",
         [] {
             ts::KvtModel model = ts::triangleModel(29);
             for (int32_t i = 0; i < 200000; ++i) {
                 model.groups.push_back(ts::KvtGroup{.name = "G" + std::to_string(i)});
             }
             return model;
         },
         false, [](const quillmesh::ModelData& m) { return m.groups.items.size(); }, 200000},
        {"20,000 maps of an unknown kind in one material",
         [] {
             ts::KvtModel model = ts::triangleModel(29);
             for (int32_t i = 0; i < 20000; ++i) {
                 model.materials.front().maps.push_back(ts::KvtMap{.key = i, .kind = 9});
             }
             return model;
         },
         false, [](const quillmesh::ModelData& m) { return m.materials.items.front().maps.size(); },
         20000},
        {"5,700 bones and 5,700 animations storing no track",
         [] {
             ts::KvtModel model = ts::triangleModel(8);
             model.bones.resize(5700, ts::KvtBone{.name = "Bone"});
             model.animations.resize(5700, ts::KvtAnimation{.name = "Take"});
             return model;
         },
         true, [](const quillmesh::ModelData& m) { return m.animations.items.size(); }, 5700},
    };
    for (const ManyElementsCase& c : cases) {
        SCOPED_TRACE(c.label);
        const ts::KvtBytes bytes = ts::writeKvt(c.model(), {.compressed = c.compressed});
        KVTPlugin plugin;
        ASSERT_EQ(plugin.loadModelFromMemory(bytes, u"many.kvt"), quillmesh::kLoadSucceeded);
        EXPECT_EQ(c.count(plugin.model), c.expected);
        EXPECT_TRUE(quillmesh::takeSceneMemory(plugin.model));
        EXPECT_LE(plugin.model.memory.usedBytes, plugin.model.memory.limitBytes);
    }
}

TEST(MemoryBudget, ASceneBeyondTheBudgetIsRefusedWithWhatItNeeds) {
    // Ten thousand materials compress to a few kilobytes; their scene would need far more.
    ts::KvtModel model = ts::triangleModel(33);
    model.materials.resize(10000, model.materials.front());
    const ts::KvtBytes bytes = ts::writeKvt(model, {.compressed = true});
    KVTPlugin plugin;
    ASSERT_EQ(plugin.loadModelFromMemory(bytes, u"many.kvt"), quillmesh::kLoadSucceeded);
    EXPECT_FALSE(quillmesh::takeSceneMemory(plugin.model));
    const quillmesh::MemoryBudget& memory = plugin.model.memory;
    EXPECT_TRUE(memory.refused());
    EXPECT_EQ(memory.fileBytes, bytes.size());
    EXPECT_GT(memory.neededBytes(), memory.limitBytes);
    EXPECT_EQ(memory.refusedBytes, quillmesh::sceneBytesNeeded(plugin.model));
}

}  // namespace
