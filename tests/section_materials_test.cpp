// The material section and its texture maps, decoded from files made by the test writer in a
// folder of their own: the material record in every version, both map-entry layouts around
// version 30/31, every map kind, the map factory and layer allocation, duplicate keys, the
// texture names kept or replaced by layout, version and existence, the current directory after a
// load, and truncation inside the section.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <limits>
#include <memory>
#include <span>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "model/kvt_plugin.h"
#include "model/sections.h"
#include "model/texture_maps.h"
#include "platform/platform.h"
#include "tests/section_loading.h"
#include "tests/support/kvt_writer.h"
#include "tests/support/scratch_folder.h"

namespace quillmesh {
namespace {

namespace fs = std::filesystem;

using sectiontest::loadExact;
using testsupport::KvtBytes;
using testsupport::KvtImage;
using testsupport::KvtLight;
using testsupport::KvtMap;
using testsupport::KvtMapLayer;
using testsupport::KvtMaterial;
using testsupport::KvtModel;
using testsupport::KvtName;
using testsupport::KvtSection;
using testsupport::kvtSectionIndex;
using testsupport::KvtWriteOptions;
using testsupport::writeKvt;
using testsupport::writeKvtImage;

constexpr int32_t kOldFlagBits = 0x310000;

bool newMapLayout(int32_t version) {
    return version > 30;
}

fs::path makeUniqueDirectory() {
    return testsupport::makeScratchFolder("quillmesh-materials-");
}

void touch(const fs::path& path) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << "image";
    ASSERT_TRUE(fs::exists(path)) << path;
}

void expectEmptyModel(const KVTPlugin& plugin) {
    const ModelData& model = plugin.model;
    EXPECT_EQ(model.lights.count, 0);
    EXPECT_EQ(model.materials.count, 0);
    EXPECT_TRUE(model.materials.items.empty());
    EXPECT_EQ(model.groups.count, 0);
    EXPECT_TRUE(model.groups.items.empty());
    EXPECT_EQ(model.uvSets.count, 0);
}

// Each test gets a fresh folder for its ModelFile and textures; the process's current directory,
// which some tests move, is put back afterwards.
class MaterialFolder : public ::testing::Test {
  protected:
    void SetUp() override {
        savedDirectory_ = fs::current_path();
        folder_ = makeUniqueDirectory();
        elsewhere_ = makeUniqueDirectory();
        directoryText_ = folder_.u16string();
        if (directoryText_.back() != u'/' && directoryText_.back() != u'\\') {
            directoryText_.push_back(static_cast<char16_t>(fs::path::preferred_separator));
        }
    }

    void TearDown() override {
        fs::current_path(savedDirectory_);
        std::error_code ignored;
        fs::remove_all(folder_, ignored);
        fs::remove_all(elsewhere_, ignored);
    }

    std::u16string modelPath() const { return (folder_ / "model.kvt").u16string(); }

    // What a replaced name beside the model reads as.
    std::u16string besideModel(std::u16string_view filePart) const {
        return directoryText_ + std::u16string(filePart);
    }

    std::unique_ptr<KVTPlugin> load(const KvtModel& model, const KvtWriteOptions& options = {}) {
        auto plugin = std::make_unique<KVTPlugin>();
        EXPECT_EQ(loadExact(*plugin, writeKvt(model, options), modelPath()), kLoadSucceeded);
        return plugin;
    }

    fs::path savedDirectory_;
    fs::path folder_;
    fs::path elsewhere_;
    std::u16string directoryText_;
};

void expectName(const ModelName& name, std::u16string_view expected) {
    EXPECT_EQ(name.wide(), expected);
    EXPECT_EQ(name.narrow(), platform::wideToNarrow(expected));
}

KvtMaterial distinctMaterial(int index) {
    KvtMaterial material;
    material.name = "Surface" + std::to_string(index);
    material.flags = 0x20 + index;
    for (std::size_t c = 0; c < material.colours.size(); ++c) {
        const float base = static_cast<float>(c) + 0.125f * static_cast<float>(index);
        material.colours[c] = {base + 0.1f, base + 0.2f, base + 0.3f, base + 0.4f};
    }
    material.shininess = 42.5f + index;
    material.opacity = 0.375f;
    return material;
}

const TextureMap& mapAt(const KVTPlugin& plugin, std::size_t material, std::size_t slot) {
    const ModelMaterial& owner = plugin.model.materials.items.at(material);
    const std::unique_ptr<TextureMap>& map = owner.maps.at(slot);
    if (map == nullptr) {
        ADD_FAILURE() << "slot " << slot << " of material " << material << " is empty";
        static const TextureMap kEmpty;
        return kEmpty;
    }
    return *map;
}

template <typename Record>
const Record& recordOf(const TextureMap& map) {
    const Record* record = std::get_if<Record>(&map.record);
    if (record == nullptr) {
        ADD_FAILURE() << "map of kind " << map.kind << " holds record " << map.record.index();
        static const Record kEmpty{};
        return kEmpty;
    }
    return *record;
}

// ---- The material record -----------------------------------------------------------------------

class MaterialRecord : public MaterialFolder, public ::testing::WithParamInterface<int32_t> {};

TEST_P(MaterialRecord, StoresEveryFieldInFileOrder) {
    KvtModel model;
    model.version = GetParam();
    model.materials = {distinctMaterial(0), distinctMaterial(1)};
    const auto plugin = load(model);
    ASSERT_EQ(plugin->model.materials.count, 2);
    for (std::size_t i = 0; i < 2; ++i) {
        SCOPED_TRACE(i);
        const KvtMaterial& written = model.materials[i];
        const ModelMaterial& material = plugin->model.materials.items[i];
        EXPECT_EQ(material.name.narrow(), "Surface" + std::to_string(i));
        EXPECT_TRUE(material.secondName.empty());
        EXPECT_TRUE(material.thirdName.empty());
        EXPECT_EQ(material.flags, written.flags);
        for (std::size_t c = 0; c < 5; ++c) {
            const auto& colour = written.colours[c];
            EXPECT_EQ(material.colours[c], (Rgba{colour[0], colour[1], colour[2], colour[3]}))
                << "colour " << c;
        }
        EXPECT_EQ(material.shininess, written.shininess);
        EXPECT_EQ(material.opacity, written.opacity);
        EXPECT_EQ(material.mapCount, 0);
        EXPECT_TRUE(material.maps.empty());
        EXPECT_EQ(material.useCount, 0);
    }
}

INSTANTIATE_TEST_SUITE_P(EveryLayout, MaterialRecord,
                         ::testing::Values(6, 10, 12, 29, 30, 31, 32, 33));

TEST_F(MaterialFolder, MaterialWithoutMapsHasNoTableAndTheNextFollows) {
    for (const int32_t version : {12, 30, 31, 33}) {
        for (const int32_t storedCount : {0, -1, -7}) {
            SCOPED_TRACE(testing::Message() << version << " " << storedCount);
            KvtModel model;
            model.version = version;
            model.materials = {distinctMaterial(0), distinctMaterial(1)};
            model.materials[0].mapCount = storedCount;
            KvtMap map;
            map.key = 3;
            map.kind = 1;
            map.fileName = "after.png";
            map.mode = 17;
            model.materials[1].maps = {map};
            const auto plugin = load(model);
            ASSERT_EQ(plugin->model.materials.count, 2);
            const ModelMaterial& first = plugin->model.materials.items[0];
            EXPECT_EQ(first.mapCount, 0);
            EXPECT_TRUE(first.maps.empty());
            const ModelMaterial& second = plugin->model.materials.items[1];
            EXPECT_EQ(second.name.narrow(), "Surface1");
            EXPECT_EQ(second.shininess, 43.5f);
            ASSERT_EQ(second.mapCount, 1);
            EXPECT_EQ(mapAt(*plugin, 1, 0).key, 3);
            EXPECT_EQ(recordOf<MapKind1Record>(mapAt(*plugin, 1, 0)).mode, 17);
        }
    }
}

TEST_F(MaterialFolder, MapCountBeyondTheEntriesFails) {
    for (const int32_t version : {12, 30, 31, 33}) {
        for (const int32_t storedCount : {2, 1000, std::numeric_limits<int32_t>::max()}) {
            SCOPED_TRACE(testing::Message() << version << " " << storedCount);
            KvtModel model;
            model.version = version;
            model.materials = {distinctMaterial(0)};
            model.materials[0].maps = {KvtMap{.key = 1, .kind = 9}};
            model.materials[0].mapCount = storedCount;
            KVTPlugin plugin;
            EXPECT_EQ(loadExact(plugin, writeKvt(model), modelPath()), kLoadFailed);
            expectEmptyModel(plugin);
        }
    }
}

// ---- Map entries: the two layouts --------------------------------------------------------------

class MaterialMapLayout : public MaterialFolder, public ::testing::WithParamInterface<int32_t> {};

// Up to version 30 the flags word gains 0x310000 and the three vectors keep their defaults; from
// version 31 the flags are stored as read and the vectors come from the file.
TEST_P(MaterialMapLayout, CommonFieldsFollowTheVersion) {
    const int32_t version = GetParam();
    KvtModel model;
    model.version = version;
    model.materials = {distinctMaterial(0)};
    KvtMap map;
    map.key = 2;
    map.kind = 1;
    map.mapFlags = 0x5;
    map.mapOffset = {1.5f, 2.5f, 3.5f};
    map.mapScale = {4.5f, 5.5f, 6.5f};
    map.mapAngles = {7.5f, 8.5f, 9.5f};
    map.oldUnused = {0x1111, 0x2222};
    map.oldPayloadWord = 0x3333;
    map.fileName = "map.png";
    map.mode = 12;
    map.paramA = 0.5f;
    map.paramB = 0.75f;
    model.materials[0].maps = {map};
    const auto plugin = load(model);
    const TextureMap& loaded = mapAt(*plugin, 0, 0);
    EXPECT_EQ(loaded.key, 2);
    EXPECT_EQ(loaded.kind, 1);
    if (newMapLayout(version)) {
        EXPECT_EQ(loaded.mapFlags, 0x5);
        EXPECT_EQ(loaded.mapOffset, (Vec3{1.5f, 2.5f, 3.5f}));
        EXPECT_EQ(loaded.mapScale, (Vec3{4.5f, 5.5f, 6.5f}));
        EXPECT_EQ(loaded.mapAngles, (Vec3{7.5f, 8.5f, 9.5f}));
    } else {
        EXPECT_EQ(loaded.mapFlags, 0x5 | kOldFlagBits);
        EXPECT_EQ(loaded.mapOffset, (Vec3{0.0f, 0.0f, 0.0f}));
        EXPECT_EQ(loaded.mapScale, (Vec3{1.0f, 1.0f, 1.0f}));
        EXPECT_EQ(loaded.mapAngles, (Vec3{0.0f, 0.0f, 0.0f}));
    }
    const MapKind1Record& record = recordOf<MapKind1Record>(loaded);
    expectName(record.fileName, besideModel(u"map.png"));
    EXPECT_EQ(record.mode, 12);
    EXPECT_EQ(record.paramA, 0.5f);
    EXPECT_EQ(record.paramB, 0.75f);
}

INSTANTIATE_TEST_SUITE_P(AcrossThreshold, MaterialMapLayout,
                         ::testing::Values(6, 10, 12, 29, 30, 31, 32, 33));

// ---- Every map kind ----------------------------------------------------------------------------

KvtMap kindMap(int32_t kind) {
    KvtMap map;
    map.key = 10 + kind;
    map.kind = kind;
    map.mapFlags = 0x40 + kind;
    map.mapOffset = {0.5f * kind, 1.0f, 2.0f};
    map.mapScale = {3.0f, 4.0f * kind, 5.0f};
    map.mapAngles = {6.0f, 7.0f, 8.0f * kind};
    map.oldUnused = {0x7000 + kind, 0x7100 + kind};
    map.oldPayloadWord = 0x4000 + kind;
    map.fileName = "kind" + std::to_string(kind) + ".png";
    map.mode = 300 + kind;
    map.paramA = 1.25f * kind;
    map.paramB = 2.25f * kind;
    map.paramC = 3.25f * kind;
    map.paramD = 4.25f * kind;
    map.packedValue = 0x00102030 + kind;
    map.extraValue = 500 + kind;
    return map;
}

class MaterialMapKinds : public MaterialFolder, public ::testing::WithParamInterface<int32_t> {};

TEST_P(MaterialMapKinds, EveryKindReadsItsPayload) {
    const int32_t version = GetParam();
    const bool newLayout = newMapLayout(version);
    KvtModel model;
    model.version = version;
    model.materials = {distinctMaterial(0)};
    std::vector<KvtMap>& maps = model.materials[0].maps;
    for (const int32_t kind : {1, 2, 3, 4, 5, 6, 7, 9, 0, -3}) {
        maps.push_back(kindMap(kind));
    }
    maps[3].layers = {{.fileName = "layer1.png", .layerA = 11, .layerB = 21, .layerWeight = 0.25f},
                      {.fileName = "layer2.png", .layerA = 12, .layerB = 22, .layerWeight = 0.5f},
                      {.fileName = "layer3.png", .layerA = 13, .layerB = 23, .layerWeight = 0.75f}};
    maps[3].oldLayerUnused = {0x9991, 0x9992, 0x9993};
    for (std::size_t face = 0; face < 6; ++face) {
        maps[4].faces[face] = "face" + std::to_string(face) + ".png";
    }
    // A map after the payload-less kinds shows that their entries end after the common fields.
    KvtMap last = kindMap(1);
    last.key = 99;
    last.fileName = "last.png";
    maps.push_back(last);

    const auto plugin = load(model);
    ASSERT_EQ(plugin->model.materials.items.at(0).mapCount, 11);

    const auto expectCommon = [&](std::size_t slot, int32_t kind, bool flagsFromPayload) {
        SCOPED_TRACE(testing::Message() << "kind " << kind);
        const TextureMap& map = mapAt(*plugin, 0, slot);
        EXPECT_EQ(map.kind, kind);
        if (newLayout) {
            EXPECT_EQ(map.mapFlags, 0x40 + kind);
            EXPECT_EQ(map.mapOffset, (Vec3{0.5f * kind, 1.0f, 2.0f}));
            EXPECT_EQ(map.mapScale, (Vec3{3.0f, 4.0f * kind, 5.0f}));
            EXPECT_EQ(map.mapAngles, (Vec3{6.0f, 7.0f, 8.0f * kind}));
        } else {
            EXPECT_EQ(map.mapFlags,
                      flagsFromPayload ? 0x4000 + kind : (0x40 + kind) | kOldFlagBits);
            EXPECT_EQ(map.mapScale, (Vec3{1.0f, 1.0f, 1.0f}));
        }
        return std::cref(map);
    };

    {
        const TextureMap& map = expectCommon(0, 1, false);
        EXPECT_EQ(map.key, 11);
        const MapKind1Record& record = recordOf<MapKind1Record>(map);
        expectName(record.fileName, besideModel(u"kind1.png"));
        EXPECT_EQ(record.mode, 301);
        EXPECT_EQ(record.paramA, 1.25f);
        EXPECT_EQ(record.paramB, 2.25f);
    }
    {
        const MapKind2Record& record = recordOf<MapKind2Record>(expectCommon(1, 2, false));
        expectName(record.fileName, besideModel(u"kind2.png"));
        EXPECT_EQ(record.mode, 302);
        EXPECT_EQ(record.paramA, 2.5f);
        EXPECT_EQ(record.paramB, 4.5f);
        EXPECT_EQ(record.paramC, 6.5f);
        EXPECT_EQ(record.paramD, 8.5f);
        EXPECT_EQ(record.packedValue, 0x00102032);
        EXPECT_EQ(record.extraValue, 502);
    }
    {
        const MapKind3Record& record = recordOf<MapKind3Record>(expectCommon(2, 3, false));
        expectName(record.fileName, besideModel(u"kind3.png"));
        EXPECT_EQ(record.mode, 303);
        EXPECT_EQ(record.paramA, 3.75f);
        EXPECT_EQ(record.paramB, 6.75f);
        EXPECT_EQ(record.extraValue, 503);
    }
    {
        const MapKind4Record& record = recordOf<MapKind4Record>(expectCommon(3, 4, true));
        ASSERT_EQ(record.layerCount, 3);
        ASSERT_EQ(record.layers.size(), 3u);
        for (std::size_t i = 0; i < 3; ++i) {
            SCOPED_TRACE(i);
            const MapLayer& layer = record.layers[i];
            const std::u16string file = u"layer" + std::u16string(1, u'1' + i) + u".png";
            // New-layout layers keep the file part alone; old ones go beside the model.
            expectName(layer.fileName, newLayout ? file : besideModel(file));
            EXPECT_EQ(layer.layerA, static_cast<int32_t>(11 + i));
            EXPECT_EQ(layer.layerB, static_cast<int32_t>(21 + i));
            EXPECT_EQ(layer.layerWeight, 0.25f * static_cast<float>(i + 1));
        }
    }
    {
        const MapKind5Record& record = recordOf<MapKind5Record>(expectCommon(4, 5, true));
        for (std::size_t face = 0; face < 6; ++face) {
            expectName(record.faces[face],
                       besideModel(u"face" + std::u16string(1, u'0' + face) + u".png"));
        }
    }
    {
        const MapKind6Record& record = recordOf<MapKind6Record>(expectCommon(5, 6, true));
        expectName(record.fileName, besideModel(u"kind6.png"));
        EXPECT_EQ(record.mode, 306);
    }
    {
        const MapKind7Record& record = recordOf<MapKind7Record>(expectCommon(6, 7, true));
        expectName(record.fileName, besideModel(u"kind7.png"));
        EXPECT_EQ(record.mode, 307);
    }
    // Kinds outside 1 to 7: the kind-1 record with its defaults and the file's kind.
    for (const auto& [slot, kind] : {std::pair<std::size_t, int32_t>{7, 9}, {8, 0}, {9, -3}}) {
        const MapKind1Record& record = recordOf<MapKind1Record>(expectCommon(slot, kind, false));
        EXPECT_TRUE(record.fileName.empty());
        EXPECT_EQ(record.mode, 0);
        EXPECT_EQ(record.paramA, 2.0f);
        EXPECT_EQ(record.paramB, 1.0f);
    }
    {
        const TextureMap& map = mapAt(*plugin, 0, 10);
        EXPECT_EQ(map.key, 99);
        expectName(recordOf<MapKind1Record>(map).fileName, besideModel(u"last.png"));
    }
}

INSTANTIATE_TEST_SUITE_P(BothLayouts, MaterialMapKinds, ::testing::Values(12, 29, 30, 31, 32));

// An old layered map has three layers whatever it names; names that name nothing stay empty.
TEST_F(MaterialFolder, OldLayeredMapAlwaysHasThreeLayers) {
    for (const int32_t version : {6, 10, 12, 30}) {
        SCOPED_TRACE(version);
        KvtModel model;
        model.version = version;
        model.materials = {distinctMaterial(0)};
        KvtMap map = kindMap(4);
        map.layers = {{.fileName = "", .layerA = 5, .layerB = 6, .layerWeight = 0.5f}};
        model.materials[0].maps = {map};
        const auto plugin = load(model);
        const MapKind4Record& record = recordOf<MapKind4Record>(mapAt(*plugin, 0, 0));
        ASSERT_EQ(record.layerCount, 3);
        ASSERT_EQ(record.layers.size(), 3u);
        for (const MapLayer& layer : record.layers) {
            EXPECT_TRUE(layer.fileName.empty());
        }
        EXPECT_EQ(record.layers[0].layerA, 5);
        EXPECT_EQ(record.layers[0].layerB, 6);
        EXPECT_EQ(record.layers[0].layerWeight, 0.5f);
        EXPECT_EQ(record.layers[2].layerA, 0);
        EXPECT_EQ(record.layers[2].layerWeight, 1.0f);
    }
}

struct LayerCountCase {
    int32_t stored;
    std::size_t expected;
};

class MaterialNewLayerCount : public MaterialFolder,
                              public ::testing::WithParamInterface<LayerCountCase> {};

// m layers when m is 1 or more; three default layers when m is below 1, no layer read.
TEST_P(MaterialNewLayerCount, GivesTheStoredOrThreeDefaultLayers) {
    const LayerCountCase param = GetParam();
    for (const int32_t version : {31, 33}) {
        SCOPED_TRACE(version);
        KvtModel model;
        model.version = version;
        model.materials = {distinctMaterial(0)};
        KvtMap map = kindMap(4);
        for (int32_t i = 0; i < std::max(param.stored, 0); ++i) {
            map.layers.push_back({.fileName = KvtName("l" + std::to_string(i) + ".png"),
                                  .layerA = i,
                                  .layerB = -i,
                                  .layerWeight = 0.5f});
        }
        map.layerCount = param.stored;
        KvtMap after = kindMap(6);
        model.materials[0].maps = {map, after};
        const auto plugin = load(model);
        const MapKind4Record& record = recordOf<MapKind4Record>(mapAt(*plugin, 0, 0));
        EXPECT_EQ(record.layerCount, static_cast<int32_t>(param.expected));
        ASSERT_EQ(record.layers.size(), param.expected);
        for (std::size_t i = 0; i < param.expected; ++i) {
            const MapLayer& layer = record.layers[i];
            if (param.stored >= 1) {
                expectName(layer.fileName, u"l" + std::u16string(1, u'0' + i) + u".png");
                EXPECT_EQ(layer.layerA, static_cast<int32_t>(i));
                EXPECT_EQ(layer.layerWeight, 0.5f);
            } else {
                EXPECT_TRUE(layer.fileName.empty());
                EXPECT_EQ(layer.layerA, 0);
                EXPECT_EQ(layer.layerB, 0);
                EXPECT_EQ(layer.layerWeight, 1.0f);
            }
        }
        EXPECT_EQ(recordOf<MapKind6Record>(mapAt(*plugin, 0, 1)).mode, 306);
    }
}

INSTANTIATE_TEST_SUITE_P(Counts, MaterialNewLayerCount,
                         ::testing::Values(LayerCountCase{1, 1}, LayerCountCase{2, 2},
                                           LayerCountCase{5, 5}, LayerCountCase{0, 3},
                                           LayerCountCase{-1, 3},
                                           LayerCountCase{std::numeric_limits<int32_t>::min(), 3}));

TEST_F(MaterialFolder, LayerCountBeyondTheBytesFails) {
    for (const int32_t stored : {3, 100000, std::numeric_limits<int32_t>::max()}) {
        SCOPED_TRACE(stored);
        KvtModel model;
        model.version = 33;
        model.materials = {distinctMaterial(0)};
        KvtMap map = kindMap(4);
        map.layers = {{.fileName = "one.png"}};
        map.layerCount = stored;
        model.materials[0].maps = {map};
        KVTPlugin plugin;
        EXPECT_EQ(loadExact(plugin, writeKvt(model), modelPath()), kLoadFailed);
        expectEmptyModel(plugin);
    }
}

// The chunked layout (version 34) runs the same decoder; a layered map storing no layer gets
// none there, where the classic reader gives it three.
TEST_F(MaterialFolder, ChunkedVersionGivesNoDefaultLayers) {
    KvtModel model;
    model.version = 33;  // new map layout with wide names, as in version 34
    model.materials = {distinctMaterial(0)};
    KvtMap map = kindMap(4);
    map.layerCount = 0;
    model.materials[0].maps = {map};
    const KvtImage image = writeKvtImage(model);
    const std::size_t start = image.sectionOffsets[kvtSectionIndex(KvtSection::kMaterials)].value();
    for (const int32_t version : {33, 34}) {
        SCOPED_TRACE(version);
        KVTPlugin plugin;
        Cursor cursor(image.bytes);
        ASSERT_TRUE(cursor.skip(start));
        DeclaredCounts declared;
        MemoryBudget memory = MemoryBudget::forFile(0);
        ASSERT_TRUE(
            readMaterials(cursor, SectionFormat{version, 0, &memory}, plugin.model, declared));
        const MapKind4Record& record = recordOf<MapKind4Record>(mapAt(plugin, 0, 0));
        EXPECT_EQ(record.layerCount, version == 34 ? 0 : 3);
        EXPECT_EQ(record.layers.size(), version == 34 ? 0u : 3u);
    }
}

// ---- Duplicate keys ----------------------------------------------------------------------------

class MaterialDuplicateKeys : public MaterialFolder,
                              public ::testing::WithParamInterface<int32_t> {};

TEST_P(MaterialDuplicateKeys, TwoMapsWithOneKeyFailTheLoad) {
    const int32_t version = GetParam();
    for (const auto& [firstKind, secondKind] :
         {std::pair{1, 1}, std::pair{1, 6}, std::pair{9, 4}, std::pair{5, 2}}) {
        SCOPED_TRACE(testing::Message() << firstKind << " " << secondKind);
        KvtModel model;
        model.version = version;
        model.materials = {distinctMaterial(0)};
        KvtMap first = kindMap(firstKind);
        KvtMap between = kindMap(3);
        KvtMap second = kindMap(secondKind);
        first.key = 7;
        between.key = 8;
        second.key = 7;
        model.materials[0].maps = {first, between, second};
        KVTPlugin plugin;
        EXPECT_EQ(loadExact(plugin, writeKvt(model), modelPath()), kLoadFailed);
        expectEmptyModel(plugin);
    }
}

TEST_P(MaterialDuplicateKeys, OneKeyInTwoMaterialsIsFine) {
    KvtModel model;
    model.version = GetParam();
    model.materials = {distinctMaterial(0), distinctMaterial(1)};
    KvtMap map = kindMap(1);
    map.key = 7;
    model.materials[0].maps = {map};
    model.materials[1].maps = {map};
    const auto plugin = load(model);
    EXPECT_EQ(mapAt(*plugin, 0, 0).key, 7);
    EXPECT_EQ(mapAt(*plugin, 1, 0).key, 7);
}

// Long tables: a key repeated anywhere fails the load; the same keys in two materials are fine.
TEST_P(MaterialDuplicateKeys, LongTablesRefuseARepeatedKeyAnywhere) {
    constexpr int32_t kSlots = 40;
    // The two slots of the first material given one key; {-1, -1}: every key distinct.
    for (const auto& [first, second] :
         {std::pair{-1, -1}, std::pair{0, kSlots - 1}, std::pair{30, 31}, std::pair{5, 17}}) {
        SCOPED_TRACE(testing::Message() << first << " " << second);
        KvtModel model;
        model.version = GetParam();
        model.materials = {distinctMaterial(0), distinctMaterial(1)};
        for (int32_t slot = 0; slot < kSlots; ++slot) {
            KvtMap map = kindMap(slot % 2 == 0 ? 1 : 3);
            map.key = 100 + slot;
            model.materials[0].maps.push_back(map);
        }
        model.materials[1].maps = model.materials[0].maps;
        if (first < 0) {
            const auto plugin = load(model);
            for (std::size_t material = 0; material < 2; ++material) {
                for (int32_t slot = 0; slot < kSlots; ++slot) {
                    EXPECT_EQ(mapAt(*plugin, material, static_cast<std::size_t>(slot)).key,
                              100 + slot);
                }
            }
            continue;
        }
        model.materials[0].maps[static_cast<std::size_t>(second)].key = 100 + first;
        KVTPlugin plugin;
        EXPECT_EQ(loadExact(plugin, writeKvt(model), modelPath()), kLoadFailed);
        expectEmptyModel(plugin);
    }
}

INSTANTIATE_TEST_SUITE_P(BothLayouts, MaterialDuplicateKeys, ::testing::Values(12, 30, 31, 33));

// ---- The map factory and layer allocation ------------------------------------------------------

ModelMaterial materialWithTable(int32_t slots) {
    ModelMaterial material;
    material.maps.resize(static_cast<std::size_t>(slots));
    material.mapCount = slots;
    return material;
}

TEST(TextureMapFactory, RefusesWithoutTableBeyondTheTableAndForATakenKey) {
    ModelMaterial noTable;
    EXPECT_EQ(createTextureMap(noTable, 0, 1, 1), nullptr);

    ModelMaterial material = materialWithTable(2);
    EXPECT_EQ(createTextureMap(material, 2, 1, 1), nullptr);
    EXPECT_EQ(createTextureMap(material, -1, 1, 1), nullptr);
    EXPECT_EQ(createTextureMap(material, std::numeric_limits<int32_t>::max(), 1, 1), nullptr);

    TextureMap* first = createTextureMap(material, 0, 5, 3);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(material.maps[0].get(), first);
    EXPECT_EQ(createTextureMap(material, 1, 5, 1), nullptr);
    EXPECT_EQ(material.maps[1], nullptr);
    EXPECT_NE(createTextureMap(material, 1, 6, 1), nullptr);

    // A table whose count says less than its size: the count decides.
    ModelMaterial shortCount = materialWithTable(3);
    shortCount.mapCount = 1;
    EXPECT_EQ(createTextureMap(shortCount, 1, 1, 1), nullptr);
}

TEST(TextureMapFactory, EveryKindStartsWithItsDefaults) {
    for (const int32_t kind : {1, 2, 3, 4, 5, 6, 7, 8, 0, -1}) {
        SCOPED_TRACE(kind);
        ModelMaterial material = materialWithTable(1);
        TextureMap* map = createTextureMap(material, 0, 42, kind);
        ASSERT_NE(map, nullptr);
        EXPECT_EQ(map->key, 42);
        EXPECT_EQ(map->kind, kind);
        EXPECT_EQ(map->mapFlags, 0x310000);
        EXPECT_EQ(map->mapOffset, (Vec3{0.0f, 0.0f, 0.0f}));
        EXPECT_EQ(map->mapScale, (Vec3{1.0f, 1.0f, 1.0f}));
        EXPECT_EQ(map->mapAngles, (Vec3{0.0f, 0.0f, 0.0f}));
        switch (kind) {
            case 2: {
                const MapKind2Record& record = recordOf<MapKind2Record>(*map);
                EXPECT_EQ(record.mode, 0);
                EXPECT_EQ(record.paramA, 2.0f);
                EXPECT_EQ(record.paramB, 1.0f);
                EXPECT_EQ(record.paramC, 8.0f);
                EXPECT_EQ(record.paramD, 8.0f);
                EXPECT_EQ(record.packedValue, 0x00C4C4C4);
                EXPECT_EQ(record.extraValue, 0);
                break;
            }
            case 3: {
                const MapKind3Record& record = recordOf<MapKind3Record>(*map);
                EXPECT_EQ(record.paramA, 2.0f);
                EXPECT_EQ(record.paramB, 1.0f);
                EXPECT_EQ(record.extraValue, 2);
                break;
            }
            case 4: {
                const MapKind4Record& record = recordOf<MapKind4Record>(*map);
                EXPECT_EQ(record.layerCount, 0);
                EXPECT_TRUE(record.layers.empty());
                break;
            }
            case 5:
                for (const ModelName& face : recordOf<MapKind5Record>(*map).faces) {
                    EXPECT_TRUE(face.empty());
                }
                break;
            case 6:
                EXPECT_EQ(recordOf<MapKind6Record>(*map).mode, 256);
                break;
            case 7:
                EXPECT_EQ(recordOf<MapKind7Record>(*map).mode, 0);
                break;
            default: {
                const MapKind1Record& record = recordOf<MapKind1Record>(*map);
                EXPECT_TRUE(record.fileName.empty());
                EXPECT_EQ(record.mode, 0);
                EXPECT_EQ(record.paramA, 2.0f);
                EXPECT_EQ(record.paramB, 1.0f);
            }
        }
    }
}

TEST(TextureMapLayers, AllocationReplacesLayersAndRefusesEmptyCountsAndOtherKinds) {
    ModelMaterial material = materialWithTable(2);
    TextureMap* layered = createTextureMap(material, 0, 1, 4);
    ASSERT_NE(layered, nullptr);
    EXPECT_FALSE(allocateMapLayers(*layered, 0));
    EXPECT_FALSE(allocateMapLayers(*layered, -2));
    ASSERT_TRUE(allocateMapLayers(*layered, 3));
    MapKind4Record& record = std::get<MapKind4Record>(layered->record);
    EXPECT_EQ(record.layerCount, 3);
    ASSERT_EQ(record.layers.size(), 3u);
    EXPECT_EQ(record.layers[2].layerWeight, 1.0f);
    record.layers[0].layerA = 9;
    ASSERT_TRUE(allocateMapLayers(*layered, 1));
    EXPECT_EQ(record.layerCount, 1);
    ASSERT_EQ(record.layers.size(), 1u);
    EXPECT_EQ(record.layers[0].layerA, 0);

    TextureMap* plain = createTextureMap(material, 1, 2, 1);
    ASSERT_NE(plain, nullptr);
    EXPECT_FALSE(allocateMapLayers(*plain, 3));
}

// ---- Texture names -----------------------------------------------------------------------------

TEST(TextureModelDirectory, IsDriveAndDirectoryWithOneSeparator) {
    struct Case {
        std::u16string path;
        std::u16string directory;
    };
    for (const Case& c :
         {Case{u"C:\\models\\car.kvt", u"C:\\models\\"},
          Case{u"/home/user/car.kvt", u"/home/user/"}, Case{u"C:\\models/car.kvt", u"C:\\models/"},
          Case{u"models\\car.kvt", u"models\\"}, Case{u"C:car.kvt", u"C:\\"}, Case{u"car.kvt", u""},
          Case{u"", u""}}) {
        EXPECT_EQ(modelDirectory(c.path), c.directory) << platform::toUtf8(c.path);
    }
}

ModelName wideName(std::u16string_view text) {
    ModelName name;
    EXPECT_TRUE(name.assignWide(text));
    return name;
}

struct ResolveCase {
    int32_t version;
    bool exists;
    bool kept;
};

class TextureResolve : public ::testing::TestWithParam<ResolveCase> {};

TEST_P(TextureResolve, KeepsOrReplacesByLayoutVersionAndExistence) {
    const ResolveCase param = GetParam();
    const ModelName stored = wideName(u"D:\\art\\wood.png");
    ModelName out = wideName(u"previous");
    ASSERT_TRUE(resolveTexturePath(stored, u"C:\\models\\", param.version, param.exists, out));
    expectName(out, param.kept ? u"D:\\art\\wood.png" : u"C:\\models\\wood.png");

    // The result may replace the stored name in place.
    ModelName inPlace = stored;
    ASSERT_TRUE(resolveTexturePath(inPlace, u"C:\\models\\", param.version, param.exists, inPlace));
    EXPECT_EQ(inPlace, out);
}

INSTANTIATE_TEST_SUITE_P(
    Table, TextureResolve,
    ::testing::Values(ResolveCase{6, true, false}, ResolveCase{9, true, false},
                      ResolveCase{10, true, true}, ResolveCase{10, false, false},
                      ResolveCase{11, true, false}, ResolveCase{12, true, false},
                      ResolveCase{30, true, false}, ResolveCase{31, true, false},
                      ResolveCase{32, true, false}, ResolveCase{33, true, true},
                      ResolveCase{33, false, false}, ResolveCase{34, true, true},
                      ResolveCase{34, false, false}));

TEST(TextureResolveForms, KeptAndReplacedNamesKeepTheWideText) {
    const ModelName stored = wideName(u"D:\\art\\w\u00f6\u00f6d \u2603.png");
    ModelName out;
    ASSERT_TRUE(resolveTexturePath(stored, u"C:\\m\\", 33, true, out));
    EXPECT_EQ(out, stored);
    // Old layout (version 10) too: the wide name is kept as read, not rebuilt from the 8-bit
    // form (which cannot spell the snowman on Windows).
    ModelName old;
    ASSERT_TRUE(resolveTexturePath(stored, u"C:\\m\\", 10, true, old));
    EXPECT_EQ(old, stored);
    // A replaced name keeps the wide file-name part too.
    ModelName replaced;
    ASSERT_TRUE(resolveTexturePath(stored, u"C:\\m\\", 31, true, replaced));
    EXPECT_EQ(replaced.wide(), u"C:\\m\\w\u00f6\u00f6d \u2603.png");
}

TEST(TextureResolveForms, NameWithoutFilePartStaysEmpty) {
    for (const int32_t version : {10, 12, 31, 33}) {
        for (const bool exists : {false, true}) {
            for (const std::u16string_view text : {u"", u"D:\\art\\", u"/"}) {
                SCOPED_TRACE(testing::Message()
                             << version << " " << exists << " " << platform::toUtf8(text));
                ModelName out = wideName(u"previous");
                ASSERT_TRUE(resolveTexturePath(wideName(text), u"C:\\m\\", version,
                                               exists && !text.empty(), out));
                if (exists && !text.empty() && (version == 10 || version >= 33)) {
                    expectName(out, text);  // an existing name that may be kept
                } else {
                    EXPECT_TRUE(out.empty());
                }
            }
        }
    }
}

TEST(TextureResolveForms, BareModelDirectoryGivesTheFilePartAlone) {
    ModelName out;
    ASSERT_TRUE(resolveTexturePath(wideName(u"C:\\textures\\wood.png"), u"", 12, false, out));
    expectName(out, u"wood.png");
}

// Where a stored name points, relative to the test's folders.
enum class Stored {
    kAbsoluteElsewhere,  // <elsewhere>/wood.png
    kWindowsAbsolute,    // C:\textures\wood.png
    kRelative,           // wood.png, looked up in the current directory (the model's)
};

struct NameCase {
    int32_t version;
    Stored stored;
    bool fileExists;  // whether the stored name names an existing file
    bool kept;
};

class TextureNames : public MaterialFolder, public ::testing::WithParamInterface<NameCase> {};

// One name in every kind's slot for names: the decision is the same for all of them, and a
// replaced name goes beside the model, except in new-layout layers, which keep the file part.
TEST_P(TextureNames, KeptOrReplacedInEveryKind) {
    const NameCase param = GetParam();
    const bool newLayout = newMapLayout(param.version);
    std::u16string storedText;
    switch (param.stored) {
        case Stored::kAbsoluteElsewhere:
            storedText = (elsewhere_ / "wood.png").u16string();
            if (param.fileExists) {
                touch(elsewhere_ / "wood.png");
            }
            break;
        case Stored::kWindowsAbsolute:
            storedText = u"C:\\textures\\wood.png";
            ASSERT_FALSE(param.fileExists);
            break;
        case Stored::kRelative:
            storedText = u"wood.png";
            if (param.fileExists) {
                touch(folder_ / "wood.png");
            }
            break;
    }
    const KvtName stored(storedText);

    KvtModel model;
    model.version = param.version;
    model.materials = {distinctMaterial(0)};
    for (const int32_t kind : {1, 2, 3, 4, 5, 6, 7}) {
        KvtMap map = kindMap(kind);
        map.fileName = stored;
        map.layers = {{.fileName = stored}, {.fileName = stored}, {.fileName = stored}};
        map.faces.fill(stored);
        model.materials[0].maps.push_back(map);
    }
    const auto plugin = load(model);
    const std::u16string replaced = besideModel(u"wood.png");
    const std::u16string expected = param.kept ? storedText : replaced;

    for (std::size_t slot : {0, 5, 6}) {
        const TextureMap& map = mapAt(*plugin, 0, slot);
        SCOPED_TRACE(map.kind);
        ASSERT_NE(map.fileName(), nullptr);
        expectName(*map.fileName(), expected);
    }
    expectName(recordOf<MapKind2Record>(mapAt(*plugin, 0, 1)).fileName, expected);
    expectName(recordOf<MapKind3Record>(mapAt(*plugin, 0, 2)).fileName, expected);
    const MapKind4Record& layered = recordOf<MapKind4Record>(mapAt(*plugin, 0, 3));
    ASSERT_EQ(layered.layers.size(), 3u);
    for (const MapLayer& layer : layered.layers) {
        expectName(layer.fileName, param.kept  ? storedText
                                   : newLayout ? std::u16string(u"wood.png")
                                               : replaced);
    }
    for (const ModelName& face : recordOf<MapKind5Record>(mapAt(*plugin, 0, 4)).faces) {
        expectName(face, expected);
    }
}

INSTANTIATE_TEST_SUITE_P(ByLayoutAndVersion, TextureNames,
                         ::testing::Values(
                             // Old layout: kept only in version 10, and only when the file exists.
                             NameCase{6, Stored::kAbsoluteElsewhere, true, false},
                             NameCase{10, Stored::kAbsoluteElsewhere, true, true},
                             NameCase{10, Stored::kAbsoluteElsewhere, false, false},
                             NameCase{10, Stored::kRelative, true, true},
                             NameCase{10, Stored::kRelative, false, false},
                             NameCase{10, Stored::kWindowsAbsolute, false, false},
                             NameCase{12, Stored::kAbsoluteElsewhere, true, false},
                             NameCase{12, Stored::kWindowsAbsolute, false, false},
                             NameCase{29, Stored::kAbsoluteElsewhere, true, false},
                             NameCase{30, Stored::kAbsoluteElsewhere, true, false},
                             // New layout: kept from version 33, and only when the file exists.
                             NameCase{31, Stored::kAbsoluteElsewhere, true, false},
                             NameCase{32, Stored::kAbsoluteElsewhere, true, false},
                             NameCase{32, Stored::kRelative, true, false},
                             NameCase{33, Stored::kAbsoluteElsewhere, true, true},
                             NameCase{33, Stored::kAbsoluteElsewhere, false, false},
                             NameCase{33, Stored::kRelative, true, true},
                             NameCase{33, Stored::kRelative, false, false},
                             NameCase{33, Stored::kWindowsAbsolute, false, false},
                             NameCase{31, Stored::kWindowsAbsolute, false, false}));

// Kind 5 in the new layout keeps its six faces only when all six exist.
TEST_F(MaterialFolder, NewSixFaceMapIsKeptOrReplacedWhole) {
    struct Case {
        int32_t version;
        int existing;  // how many of the six faces exist
        bool kept;
    };
    for (const Case c : {Case{33, 6, true}, Case{33, 5, false}, Case{33, 0, false},
                         Case{32, 6, false}, Case{31, 6, false}}) {
        SCOPED_TRACE(testing::Message() << c.version << " " << c.existing);
        const fs::path faces =
            elsewhere_ / ("faces" + std::to_string(c.version) + "-" + std::to_string(c.existing));
        KvtModel model;
        model.version = c.version;
        model.materials = {distinctMaterial(0)};
        KvtMap map = kindMap(5);
        std::array<std::u16string, 6> storedText;
        for (int face = 0; face < 6; ++face) {
            const fs::path path = faces / ("side" + std::to_string(face) + ".png");
            // The missing one is in the middle, so neither the first nor the last decides.
            if (face != 3 || c.existing == 6) {
                if (c.existing > 0) {
                    touch(path);
                }
            }
            storedText[face] = path.u16string();
            map.faces[face] = KvtName(storedText[face]);
        }
        model.materials[0].maps = {map};
        const auto plugin = load(model);
        const MapKind5Record& record = recordOf<MapKind5Record>(mapAt(*plugin, 0, 0));
        for (std::size_t face = 0; face < 6; ++face) {
            expectName(record.faces[face],
                       c.kept ? storedText[face]
                              : besideModel(u"side" + std::u16string(1, u'0' + face) + u".png"));
        }
    }
}

// In the old layout each face is decided by itself.
TEST_F(MaterialFolder, OldSixFaceMapDecidesEachFace) {
    KvtModel model;
    model.version = 10;
    model.materials = {distinctMaterial(0)};
    KvtMap map = kindMap(5);
    std::array<std::u16string, 6> storedText;
    for (int face = 0; face < 6; ++face) {
        const fs::path path = elsewhere_ / ("side" + std::to_string(face) + ".png");
        if (face != 2) {
            touch(path);
        }
        storedText[face] = path.u16string();
        map.faces[face] = KvtName(storedText[face]);
    }
    model.materials[0].maps = {map};
    const auto plugin = load(model);
    const MapKind5Record& record = recordOf<MapKind5Record>(mapAt(*plugin, 0, 0));
    for (std::size_t face = 0; face < 6; ++face) {
        expectName(record.faces[face], face == 2 ? besideModel(u"side2.png") : storedText[face]);
    }
}

// A kept new-layout name is the name as read, characters beyond ASCII included.
TEST_F(MaterialFolder, KeptWideNameIsStoredAsRead) {
    const std::u16string fileName = u"t\u00ebxt\u00fcre.png";
    touch(elsewhere_ / fs::path(fileName));
    const std::u16string storedText = (elsewhere_ / fs::path(fileName)).u16string();
    KvtModel model;
    model.version = 33;
    model.materials = {distinctMaterial(0)};
    KvtMap map = kindMap(1);
    map.fileName = KvtName(storedText);
    model.materials[0].maps = {map};
    const auto plugin = load(model);
    expectName(*mapAt(*plugin, 0, 0).fileName(), storedText);
}

TEST_F(MaterialFolder, EmptyNamesStayEmptyInEveryLayout) {
    for (const int32_t version : {10, 12, 31, 33}) {
        SCOPED_TRACE(version);
        KvtModel model;
        model.version = version;
        model.materials = {distinctMaterial(0)};
        KvtMap plain = kindMap(1);
        plain.fileName = "";
        KvtMap layered = kindMap(4);
        layered.layers = {{.fileName = ""}};
        KvtMap faces = kindMap(5);
        model.materials[0].maps = {plain, layered, faces};
        const auto plugin = load(model);
        EXPECT_TRUE(mapAt(*plugin, 0, 0).fileName()->empty());
        for (const MapLayer& layer : recordOf<MapKind4Record>(mapAt(*plugin, 0, 1)).layers) {
            EXPECT_TRUE(layer.fileName.empty());
        }
        for (const ModelName& face : recordOf<MapKind5Record>(mapAt(*plugin, 0, 2)).faces) {
            EXPECT_TRUE(face.empty());
        }
    }
}

// A source path without a directory leaves the current directory alone and puts replaced names
// into no directory.
TEST_F(MaterialFolder, BareSourcePathReplacesWithTheFilePartAlone) {
    fs::current_path(elsewhere_);
    KvtModel model;
    model.version = 12;
    model.materials = {distinctMaterial(0)};
    KvtMap map = kindMap(1);
    map.fileName = "C:\\textures\\wood.png";
    model.materials[0].maps = {map};
    KVTPlugin plugin;
    ASSERT_EQ(loadExact(plugin, writeKvt(model), u"model.kvt"), kLoadSucceeded);
    expectName(*mapAt(plugin, 0, 0).fileName(), u"wood.png");
    EXPECT_TRUE(fs::equivalent(fs::current_path(), elsewhere_));
}

// ---- The current directory ---------------------------------------------------------------------

// An import finds texture files beside the model without moving the current directory.
TEST_F(MaterialFolder, ImportLeavesTheCurrentDirectoryAlone) {
    for (const int32_t version : {10, 12, 31, 33}) {
        SCOPED_TRACE(version);
        fs::current_path(elsewhere_);
        KvtModel model;
        model.version = version;
        model.materials = {distinctMaterial(0)};
        KvtMap map = kindMap(1);
        map.fileName = "beside.png";
        model.materials[0].maps = {map};
        testsupport::writeKvtFile(folder_ / "model.kvt", model);
        testsupport::writeKvtFile(folder_ / "beside.png", KvtModel{});
        KVTPlugin plugin;
        ASSERT_EQ(plugin.loadModel(modelPath().c_str()), kLoadSucceeded);
        finishLoadedModel(plugin.model, plugin.sourcePath, systemFileSystem());
        EXPECT_TRUE(fs::equivalent(fs::current_path(), elsewhere_)) << fs::current_path();
        // Kept as stored where the version keeps existing names, else put into the folder.
        const bool kept = version == 10 || version == 33;
        const std::u16string folderText = modelDirectory(modelPath());
        expectName(*mapAt(plugin, 0, 0).fileName(),
                   kept ? std::u16string(u"beside.png") : folderText + u"beside.png");
    }
}

TEST_F(MaterialFolder, CurrentDirectoryStaysWhenTheSectionIsNotReached) {
    fs::current_path(elsewhere_);
    KvtModel model;
    model.version = 31;
    model.lights = {KvtLight{.name = "Lamp"}};
    model.materials = {distinctMaterial(0)};
    const KvtImage image = writeKvtImage(model);
    KvtWriteOptions options;
    options.truncateAt = image.sectionOffsets[kvtSectionIndex(KvtSection::kCameras)].value() + 2;
    KVTPlugin plugin;
    EXPECT_EQ(loadExact(plugin, writeKvt(model, options), modelPath()), kLoadFailed);
    EXPECT_TRUE(fs::equivalent(fs::current_path(), elsewhere_));
}

// ---- Truncation --------------------------------------------------------------------------------

class MaterialTruncation : public MaterialFolder, public ::testing::WithParamInterface<int32_t> {};

KvtModel truncationModel(int32_t version) {
    KvtModel model;
    model.version = version;
    model.materials = {distinctMaterial(0), distinctMaterial(1), distinctMaterial(2)};
    for (const int32_t kind : {1, 2, 3, 4, 5, 6, 7, 9}) {
        KvtMap map = kindMap(kind);
        map.layers = {{.fileName = "a.png", .layerA = 1}, {.fileName = "b.png", .layerB = 2}};
        for (std::size_t face = 0; face < 6; ++face) {
            map.faces[face] = "f" + std::to_string(face);
        }
        model.materials[0].maps.push_back(map);
    }
    model.materials[2].maps = {kindMap(1)};
    return model;
}

// Every cut from the section's count word to its last byte fails the load and leaves an empty
// model; the section decoder fails on every such prefix and succeeds on the exact section.
TEST_P(MaterialTruncation, EveryCutInsideTheSectionFails) {
    const int32_t version = GetParam();
    const KvtModel model = truncationModel(version);
    const KvtImage image = writeKvtImage(model);
    const std::size_t start = image.sectionOffsets[kvtSectionIndex(KvtSection::kMaterials)].value();
    const std::size_t end = image.sectionOffsets[kvtSectionIndex(KvtSection::kGroups)].value();
    {
        KVTPlugin plugin;
        ASSERT_EQ(loadExact(plugin, image.bytes, modelPath()), kLoadSucceeded);
    }
    for (std::size_t cut = start; cut <= end; ++cut) {
        SCOPED_TRACE(cut);
        if (cut < end) {
            KvtWriteOptions options;
            options.truncateAt = cut;
            KVTPlugin plugin;
            EXPECT_EQ(loadExact(plugin, writeKvt(model, options), modelPath()), kLoadFailed);
            expectEmptyModel(plugin);
        }
        const KvtBytes prefix(image.bytes.begin(),
                              image.bytes.begin() + static_cast<std::ptrdiff_t>(cut));

        Cursor cursor(prefix);
        ASSERT_TRUE(cursor.skip(start));
        ModelData decoded;
        DeclaredCounts declared;
        MemoryBudget memory = MemoryBudget::forFile(0);
        EXPECT_EQ(readMaterials(cursor, SectionFormat{version, 0, &memory}, decoded, declared),
                  cut == end);
        if (cut == end) {
            EXPECT_TRUE(cursor.atEnd());
            EXPECT_EQ(decoded.materials.items[0].mapCount, 8);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(BothLayouts, MaterialTruncation, ::testing::Values(10, 12, 30, 31, 33));

}  // namespace
}  // namespace quillmesh
