// Loading files made by the test writer, shared by the section tests.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "model/kvt_plugin.h"
#include "scene/model_conversion.h"
#include "tests/support/kvt_writer.h"

namespace quillmesh::sectiontest {

// Loads `bytes` from a heap block of exactly their size, so that a read past the end is caught,
// and runs the stages an import runs after a successful parse (file resolution beside
// `sourcePath`, post-load steps).
inline int loadExact(KVTPlugin& plugin, const testsupport::KvtBytes& bytes,
                     const std::u16string& sourcePath = u"model.kvt") {
    const std::size_t size = bytes.size();
    const auto block = std::make_unique<uint8_t[]>(size == 0 ? 1 : size);
    std::copy(bytes.begin(), bytes.end(), block.get());
    const int result =
        plugin.loadModelFromMemory(std::span<const uint8_t>(block.get(), size), sourcePath);
    if (result == kLoadSucceeded) {
        finishLoadedModel(plugin.model, sourcePath, systemFileSystem());
    }
    return result;
}

// A plug-in that has loaded `model` as the writer writes it with `options`; the load must succeed.
inline std::unique_ptr<KVTPlugin> loaded(const testsupport::KvtModel& model,
                                         const testsupport::KvtWriteOptions& options = {}) {
    auto plugin = std::make_unique<KVTPlugin>();
    EXPECT_EQ(loadExact(*plugin, testsupport::writeKvt(model, options)), kLoadSucceeded);
    return plugin;
}

// Where `section` starts in a written image; the section must be there.
inline std::size_t sectionOffset(const testsupport::KvtImage& image,
                                 testsupport::KvtSection section) {
    const auto offset = image.sectionOffsets[testsupport::kvtSectionIndex(section)];
    EXPECT_TRUE(offset.has_value());
    return offset.value_or(0);
}

// Every cut of `model`'s file inside `section` (up to the start of `next`, or the end of the
// file) fails the load and leaves the model as `expectEmpty` wants it; the whole file loads
// between cuts, so each failure has a loaded model to clear.
inline void expectEveryCutInsideFails(const testsupport::KvtModel& model,
                                      testsupport::KvtSection section,
                                      std::optional<testsupport::KvtSection> next,
                                      void (*expectEmpty)(const KVTPlugin&)) {
    const testsupport::KvtImage image = testsupport::writeKvtImage(model);
    const std::size_t from = sectionOffset(image, section);
    const std::size_t to = next ? sectionOffset(image, *next) : image.bytes.size();
    ASSERT_LT(from, to);
    KVTPlugin plugin;
    for (std::size_t cut = from; cut < to; ++cut) {
        ASSERT_EQ(loadExact(plugin, image.bytes), kLoadSucceeded);
        testsupport::KvtWriteOptions options;
        options.truncateAt = cut;
        const testsupport::KvtBytes bytes = testsupport::writeKvt(model, options);
        ASSERT_EQ(bytes.size(), cut);
        EXPECT_EQ(loadExact(plugin, bytes), kLoadFailed) << "cut at " << cut;
        expectEmpty(plugin);
    }
}

// A transform whose 38 values are base + 1 to base + 38, each field telling where it was read.
inline testsupport::KvtTransform distinctTransform(float base) {
    testsupport::KvtTransform transform;
    transform.xAxis = {base + 1, base + 2, base + 3};
    transform.yAxis = {base + 4, base + 5, base + 6};
    transform.zAxis = {base + 7, base + 8, base + 9};
    transform.position = {base + 10, base + 11, base + 12};
    transform.scale = {base + 13, base + 14, base + 15};
    for (std::size_t i = 0; i < transform.matrix.size(); ++i) {
        transform.matrix[i] = base + 16 + static_cast<float>(i);
    }
    transform.rotation = {base + 32, base + 33, base + 34, base + 35};
    transform.eulerAngles = {base + 36, base + 37, base + 38};
    return transform;
}

// A bone placed after the sections a test reads: a record of theirs read too long or too short
// shows up in it.
inline testsupport::KvtBone sentinelBone() {
    testsupport::KvtBone bone;
    bone.name = "Tail";
    bone.boneLink = 4321;
    return bone;
}

inline void expectSentinelBone(const KVTPlugin& plugin) {
    ASSERT_EQ(plugin.model.bones.count, 1);
    EXPECT_EQ(plugin.model.bones.items[0].name.narrow(), "Tail");
    EXPECT_EQ(plugin.model.bones.items[0].boneLink, 4321);
}

}  // namespace quillmesh::sectiontest
