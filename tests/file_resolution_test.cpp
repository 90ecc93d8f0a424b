// The resolve stage after a parse: texture names probed inside the model's folder through the
// file services it is given, and embedded files written there in the order the file stored them
// relative to its materials.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "model/file_resolution.h"
#include "model/kvt_plugin.h"
#include "tests/support/kvt_chunks.h"
#include "tests/support/kvt_writer.h"

namespace quillmesh {
namespace {

namespace ts = testsupport;

// File services that remember every call and answer from the files they were given or made.
class RecordingFiles final : public ModelFileSystem {
  public:
    bool fileExists(const std::u16string& path) override {
        calls.push_back(u"probe " + path);
        return files.contains(path);
    }
    bool createNewFile(const std::u16string& path, std::span<const uint8_t>) override {
        calls.push_back(u"create " + path);
        return files.insert(path).second;
    }

    std::set<std::u16string> files;
    std::vector<std::u16string> calls;
};

const ModelName& mapName(const KVTPlugin& plugin, std::size_t map) {
    return *plugin.model.materials.items.at(0).maps.at(map)->fileName();
}

struct OrderCase {
    const char* label;
    bool embeddedBeforeMaterials;
    std::vector<std::u16string> calls;
    std::u16string keptOrReplaced;
};

TEST(FileResolution, ProbesInTheModelsFolderInTheFilesOrder) {
    const std::vector<OrderCase> cases{
        {"embedded first",
         true,
         {u"create C:\\models\\tex.png", u"probe C:\\models\\tex.png", u"probe D:\\art\\abs.png"},
         u"tex.png"},
        {"materials first",
         false,
         {u"probe C:\\models\\tex.png", u"probe D:\\art\\abs.png", u"create C:\\models\\tex.png"},
         u"C:\\models\\tex.png"},
    };
    ts::KvtModel model = ts::triangleModel(34);
    model.materials = {ts::KvtMaterial{.name = "Material"}};
    model.materials[0].maps = {ts::KvtMap{.key = 0, .kind = 1, .fileName = "tex.png"},
                               ts::KvtMap{.key = 1, .kind = 1, .fileName = "D:\\art\\abs.png"}};
    ts::KvtChunkedOptions options;
    options.embeddedFiles = {ts::KvtEmbeddedFile{.name = "sub\\tex.png", .content = {1, 2, 3}}};
    for (const OrderCase& c : cases) {
        SCOPED_TRACE(c.label);
        std::vector<ts::KvtChunk> body = ts::kvtBodyChunks(model, options);
        if (c.embeddedBeforeMaterials) {
            const auto byId = [](uint32_t id) {
                return [id](const ts::KvtChunk& chunk) { return chunk.id == id; };
            };
            const auto materials =
                std::find_if(body.begin(), body.end(), byId(ts::kChunkMaterials));
            const auto embedded =
                std::find_if(body.begin(), body.end(), byId(ts::kChunkEmbeddedFiles));
            ASSERT_LT(materials, embedded);
            std::rotate(materials, embedded, embedded + 1);
        }
        KVTPlugin plugin;
        ASSERT_EQ(plugin.loadModelFromMemory(ts::writeKvt34(body, options.flags),
                                             u"C:\\models\\scene.kvt"),
                  kLoadSucceeded);
        // The parse kept the names as stored and the embedded file in the model.
        EXPECT_EQ(mapName(plugin, 0).wide(), u"tex.png");
        ASSERT_EQ(plugin.model.embeddedFiles.size(), 1u);

        RecordingFiles files;
        files.files.insert(u"D:\\art\\abs.png");
        EXPECT_TRUE(resolveModelFiles(plugin.model, u"C:\\models\\", files));
        EXPECT_EQ(files.calls, c.calls);
        EXPECT_EQ(mapName(plugin, 0).wide(), c.keptOrReplaced);
        EXPECT_EQ(mapName(plugin, 1).wide(), u"D:\\art\\abs.png");
        EXPECT_TRUE(plugin.model.embeddedFiles.empty());
    }
}

// Network and device paths are never probed (a probe alone can reach another machine or open a
// device): they count as naming no file and are replaced. The other names exist and are kept.
TEST(FileResolution, NetworkAndDevicePathsAreNeverProbed) {
    const std::vector<std::pair<ts::KvtName, std::u16string>> storedAndResolved{
        {"\\\\server\\share\\unc.png", u"C:\\models\\unc.png"},
        {"//server/share/slashes.png", u"C:\\models\\slashes.png"},
        {"\\/server/mixed.png", u"C:\\models\\mixed.png"},
        {"\\\\.\\PhysicalDrive0", u"C:\\models\\PhysicalDrive0"},
        {"\\\\?\\C:\\art\\long.png", u"C:\\models\\long.png"},
        {"\\??\\C:\\art\\object.png", u"C:\\models\\object.png"},
        {"D:\\art\\con.png", u"C:\\models\\con.png"},
        {"sub\\COM1", u"C:\\models\\COM1"},
        {"D:\\art\\abs.png", u"D:\\art\\abs.png"},
        {"\\art\\rooted.png", u"\\art\\rooted.png"},
        {"sub\\relative.png", u"sub\\relative.png"},
    };
    ts::KvtModel model = ts::triangleModel(34);
    model.materials = {ts::KvtMaterial{.name = "Material"}};
    for (std::size_t i = 0; i < storedAndResolved.size(); ++i) {
        model.materials[0].maps.push_back(ts::KvtMap{
            .key = static_cast<int32_t>(i), .kind = 1, .fileName = storedAndResolved[i].first});
    }
    KVTPlugin plugin;
    ASSERT_EQ(plugin.loadModelFromMemory(ts::writeKvt34(model), u"C:\\models\\scene.kvt"),
              kLoadSucceeded);
    RecordingFiles files;
    files.files = {u"D:\\art\\abs.png", u"\\art\\rooted.png", u"C:\\models\\sub\\relative.png"};
    EXPECT_TRUE(resolveModelFiles(plugin.model, u"C:\\models\\", files));
    EXPECT_EQ(files.calls,
              (std::vector<std::u16string>{u"probe D:\\art\\abs.png", u"probe \\art\\rooted.png",
                                           u"probe C:\\models\\sub\\relative.png"}));
    for (std::size_t i = 0; i < storedAndResolved.size(); ++i) {
        EXPECT_EQ(mapName(plugin, i).wide(), storedAndResolved[i].second) << i;
    }
}

std::size_t createCalls(const RecordingFiles& files) {
    return static_cast<std::size_t>(
        std::count_if(files.calls.begin(), files.calls.end(),
                      [](const std::u16string& call) { return call.starts_with(u"create "); }));
}

TEST(FileResolution, AModelKeepsAndWritesAtMostAThousandEmbeddedFiles) {
    ts::KvtChunkedOptions options;
    for (int i = 0; i <= 1000; ++i) {
        options.embeddedFiles.push_back({.name = "f" + std::to_string(i), .content = {7}});
    }
    KVTPlugin plugin;
    ASSERT_EQ(plugin.loadModelFromMemory(ts::writeKvt34(ts::triangleModel(34), options),
                                         u"C:\\models\\scene.kvt"),
              kLoadSucceeded);
    EXPECT_EQ(plugin.model.skippedEmbeddedFiles.overFileLimit, 1u);
    EXPECT_EQ(plugin.model.skippedEmbeddedFiles.overSizeLimit, 0u);
    RecordingFiles files;
    EXPECT_TRUE(resolveModelFiles(plugin.model, u"C:\\models\\", files));
    EXPECT_EQ(createCalls(files), 1000u);
    EXPECT_TRUE(files.files.contains(u"C:\\models\\f999"));
    EXPECT_FALSE(files.files.contains(u"C:\\models\\f1000"));
}

TEST(FileResolution, EmbeddedFilesTogetherHoldAtMostSixteenTimesTheFilesSize) {
    // Name, size, kept. A compressed file of about 10,000 bytes allows about 160,000 in all.
    const std::vector<std::tuple<std::u16string, std::size_t, bool>> cases{
        {u"a", 100000, true}, {u"b", 100000, false}, {u"c", 50000, true},  // smaller ones fit
        {u"d", 20000, false}, {u"e", 5000, true},
    };
    ts::KvtChunkedOptions options;
    for (const auto& [name, size, kept] : cases) {
        options.embeddedFiles.push_back({.name = name, .content = ts::KvtBytes(size, 0)});
    }
    std::vector<ts::KvtChunk> body = ts::kvtBodyChunks(ts::triangleModel(34), options);
    // Incompressible bytes in a chunk the reader skips set the file's size.
    ts::KvtChunk padding{.id = 0xBBBB0005};
    for (uint32_t i = 0, state = 1; i < 9000; ++i) {
        state = state * 1103515245u + 12345u;
        padding.payload.push_back(static_cast<uint8_t>(state >> 24));
    }
    body.push_back(padding);
    const ts::KvtBytes bytes = ts::writeKvt34(body, options.flags, {.compressionDepth = 1});
    // The cases need a total from 155,000 (a + c + e) to below 170,000 (a + c + d).
    ASSERT_GE(bytes.size() * 16, 155000u);
    ASSERT_LT(bytes.size() * 16, 170000u);

    KVTPlugin plugin;
    ASSERT_EQ(plugin.loadModelFromMemory(bytes, u"C:\\models\\scene.kvt"), kLoadSucceeded);
    EXPECT_EQ(plugin.model.skippedEmbeddedFiles.overSizeLimit, 2u);
    RecordingFiles files;
    EXPECT_TRUE(resolveModelFiles(plugin.model, u"C:\\models\\", files));
    EXPECT_EQ(createCalls(files), 3u);
    for (const auto& [name, size, kept] : cases) {
        EXPECT_EQ(files.files.contains(u"C:\\models\\" + name), kept) << size;
    }
}

}  // namespace
}  // namespace quillmesh
