// The light and camera sections, decoded from files made by the test writer: both layouts on
// either side of version 30 (the old layouts leave every field they do not store at zero; the
// new ones copy the 152-byte transform bit for bit), empty and negative counts, what the counting
// pass records, and truncation inside each section.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "model/kvt_plugin.h"
#include "model/sections.h"
#include "tests/section_loading.h"
#include "tests/support/kvt_writer.h"

namespace quillmesh {
namespace {

using sectiontest::loadExact;
using testsupport::KvtBytes;
using testsupport::KvtCamera;
using testsupport::KvtImage;
using testsupport::KvtLight;
using testsupport::KvtModel;
using testsupport::KvtSection;
using testsupport::kvtSectionIndex;
using testsupport::KvtTransform;
using testsupport::KvtWriteOptions;
using testsupport::writeKvt;
using testsupport::writeKvtImage;

uint32_t bitsOf(float value) {
    return std::bit_cast<uint32_t>(value);
}

// A float whose bits could not survive a conversion through any other type: a quiet NaN with a
// payload.
const float kNanWithPayload = std::bit_cast<float>(uint32_t{0x7FC12345});

// A transform whose 38 floats all differ, with a negative zero and a NaN among them, so that a
// member copied to the wrong place or converted on the way shows.
KvtTransform distinctTransform() {
    KvtTransform transform;
    std::array<float, 38> values{};
    for (std::size_t i = 0; i < values.size(); ++i) {
        values[i] = 100.0f + static_cast<float>(i) * 1.25f;
    }
    values[7] = -0.0f;
    values[30] = kNanWithPayload;
    std::size_t next = 0;
    const auto fill = [&values, &next](auto& target) {
        for (float& value : target) {
            value = values[next++];
        }
    };
    fill(transform.xAxis);
    fill(transform.yAxis);
    fill(transform.zAxis);
    fill(transform.position);
    fill(transform.scale);
    fill(transform.matrix);
    fill(transform.rotation);
    fill(transform.eulerAngles);
    return transform;
}

// The 38 floats of a transform as bits, in file order.
std::vector<uint32_t> transformBits(const KvtTransform& transform) {
    std::vector<uint32_t> bits;
    const auto add = [&bits](const auto& values) {
        for (const float value : values) {
            bits.push_back(bitsOf(value));
        }
    };
    add(transform.xAxis);
    add(transform.yAxis);
    add(transform.zAxis);
    add(transform.position);
    add(transform.scale);
    add(transform.matrix);
    add(transform.rotation);
    add(transform.eulerAngles);
    return bits;
}

std::vector<uint32_t> transformBits(const NodeTransform& transform) {
    std::vector<uint32_t> bits;
    const auto add3 = [&bits](const Vec3& v) {
        for (const float value : {v.x, v.y, v.z}) {
            bits.push_back(bitsOf(value));
        }
    };
    add3(transform.xAxis);
    add3(transform.yAxis);
    add3(transform.zAxis);
    add3(transform.position);
    add3(transform.scale);
    for (const float value : transform.matrix) {
        bits.push_back(bitsOf(value));
    }
    for (const float value :
         {transform.rotation.x, transform.rotation.y, transform.rotation.z, transform.rotation.w}) {
        bits.push_back(bitsOf(value));
    }
    add3(transform.eulerAngles);
    return bits;
}

// A transform that is zero everywhere but where `keep` says, taking those members from `source`.
struct KeptMembers {
    bool axes = false;
    bool position = false;
};
std::vector<uint32_t> zeroTransformBitsKeeping(const KvtTransform& source, KeptMembers keep) {
    NodeTransform expected;  // all zero
    if (keep.axes) {
        expected.xAxis = {source.xAxis[0], source.xAxis[1], source.xAxis[2]};
        expected.yAxis = {source.yAxis[0], source.yAxis[1], source.yAxis[2]};
        expected.zAxis = {source.zAxis[0], source.zAxis[1], source.zAxis[2]};
    }
    if (keep.position) {
        expected.position = {source.position[0], source.position[1], source.position[2]};
    }
    return transformBits(expected);
}

KvtLight distinctLight(int index) {
    KvtLight light;
    light.name = "Lamp" + std::to_string(index);
    light.code = 7100 + index;
    light.option = 8200 + index;
    light.transform = distinctTransform();
    light.transform.position = {1.5f + index, -2.5f, 3.5f};
    light.params = {0.5f, 1.5f, 2.5f, 3.5f, 4.5f + index};
    light.colour = {0.25f, 0.5f, 0.75f, 0.125f + index};
    light.extraParams = {11.0f, 12.0f + index};
    return light;
}

KvtCamera distinctCamera(int index) {
    KvtCamera camera;
    camera.name = "View" + std::to_string(index);
    camera.code = 5100 + index;
    camera.option = 6200 + index;
    camera.transform = distinctTransform();
    camera.transform.zAxis = {0.0f, -1.0f, 0.5f + index};
    camera.fieldOfView = 37.5f + index;
    camera.nearClip = 0.25f;
    camera.farClip = 900.0f + index;
    return camera;
}

void expectEmptyModel(const KVTPlugin& plugin) {
    const ModelData& model = plugin.model;
    EXPECT_EQ(model.lights.count, 0);
    EXPECT_TRUE(model.lights.items.empty());
    EXPECT_EQ(model.cameras.count, 0);
    EXPECT_TRUE(model.cameras.items.empty());
    EXPECT_EQ(model.materials.count, 0);
    EXPECT_TRUE(model.materials.items.empty());
    EXPECT_EQ(model.groups.count, 0);
    EXPECT_EQ(model.uvSets.count, 0);
}

bool isNewLayout(int32_t version) {
    return version >= 30;
}

// ---- Lights ------------------------------------------------------------------------------------

class LightLayout : public ::testing::TestWithParam<int32_t> {};

TEST_P(LightLayout, StoresTheFieldsOfTheVersionsRecord) {
    const int32_t version = GetParam();
    KvtModel model;
    model.version = version;
    model.lights = {distinctLight(0), distinctLight(1)};
    KVTPlugin plugin;
    ASSERT_EQ(loadExact(plugin, writeKvt(model)), kLoadSucceeded);
    ASSERT_EQ(plugin.model.lights.count, 2);
    ASSERT_EQ(plugin.model.lights.items.size(), 2u);

    for (std::size_t i = 0; i < 2; ++i) {
        SCOPED_TRACE(i);
        const KvtLight& written = model.lights[i];
        const ModelLight& light = plugin.model.lights.items[i];
        EXPECT_EQ(light.name.narrow(), "Lamp" + std::to_string(i));
        EXPECT_EQ(light.option, written.option);
        EXPECT_EQ(light.colour, (Rgba{written.colour[0], written.colour[1], written.colour[2],
                                      written.colour[3]}));
        if (isNewLayout(version)) {
            EXPECT_EQ(light.code, written.code);
            EXPECT_EQ(transformBits(light.transform), transformBits(written.transform));
            for (std::size_t p = 0; p < 5; ++p) {
                EXPECT_EQ(bitsOf(light.params[p]), bitsOf(written.params[p])) << p;
            }
            EXPECT_EQ(light.extraParams[0], written.extraParams[0]);
            EXPECT_EQ(light.extraParams[1], written.extraParams[1]);
        } else {
            // Only the position of the transform is stored; every other member stays zero rather
            // than taking identity values.
            EXPECT_EQ(light.code, 0);
            EXPECT_EQ(transformBits(light.transform),
                      zeroTransformBitsKeeping(written.transform, {.position = true}));
            EXPECT_EQ(light.params, (std::array<float, 5>{}));
            EXPECT_EQ(light.extraParams, (std::array<float, 2>{}));
        }
    }
}

INSTANTIATE_TEST_SUITE_P(AcrossThreshold, LightLayout,
                         ::testing::Values(6, 9, 10, 11, 28, 29, 30, 31, 32, 33));

TEST(LightSection, WideNamesFromVersion32AndInVersion10) {
    for (const int32_t version : {10, 32, 33}) {
        SCOPED_TRACE(version);
        KvtModel model;
        model.version = version;
        model.lights = {distinctLight(0)};
        model.lights[0].name = u"L\u00e4mpchen \u2600";
        KVTPlugin plugin;
        ASSERT_EQ(loadExact(plugin, writeKvt(model)), kLoadSucceeded);
        // The load's name clean-up turns the space into '_'; the other characters come through.
        EXPECT_EQ(plugin.model.lights.items.at(0).name.wide(), u"L\u00e4mpchen_\u2600");
    }
}

class LightCountWithoutRecords : public ::testing::TestWithParam<int32_t> {};

// A count of zero or less is an empty section: no array, and the camera section follows at once.
TEST_P(LightCountWithoutRecords, IsAnEmptySection) {
    for (const int32_t version : {29, 30}) {
        SCOPED_TRACE(version);
        KvtModel model;
        model.version = version;
        model.cameras = {distinctCamera(0)};
        KvtWriteOptions options;
        options.sectionCounts[kvtSectionIndex(KvtSection::kLights)] = GetParam();
        KVTPlugin plugin;
        ASSERT_EQ(loadExact(plugin, writeKvt(model, options)), kLoadSucceeded);
        EXPECT_EQ(plugin.model.lights.count, 0);
        EXPECT_TRUE(plugin.model.lights.items.empty());
        ASSERT_EQ(plugin.model.cameras.count, 1);
        EXPECT_EQ(plugin.model.cameras.items[0].name.narrow(), "View0");
        EXPECT_EQ(plugin.model.cameras.items[0].farClip, 900.0f);
    }
}

INSTANTIATE_TEST_SUITE_P(ZeroOrNegative, LightCountWithoutRecords,
                         ::testing::Values(0, -1, std::numeric_limits<int32_t>::min()));

// A count that promises more records than the body holds fails, however large.
TEST(LightSection, CountBeyondTheRecordsFails) {
    for (const int32_t version : {29, 30}) {
        for (const int32_t count : {2, 1000, std::numeric_limits<int32_t>::max()}) {
            SCOPED_TRACE(testing::Message() << version << " " << count);
            KvtModel model;
            model.version = version;
            model.lights = {distinctLight(0)};
            KvtWriteOptions options;
            options.sectionCounts[kvtSectionIndex(KvtSection::kLights)] = count;
            KVTPlugin plugin;
            EXPECT_EQ(loadExact(plugin, writeKvt(model, options)), kLoadFailed);
            expectEmptyModel(plugin);
        }
    }
}

// ---- Cameras -----------------------------------------------------------------------------------

class CameraLayout : public ::testing::TestWithParam<int32_t> {};

TEST_P(CameraLayout, StoresTheFieldsOfTheVersionsRecord) {
    const int32_t version = GetParam();
    KvtModel model;
    model.version = version;
    model.cameras = {distinctCamera(0), distinctCamera(1)};
    KVTPlugin plugin;
    ASSERT_EQ(loadExact(plugin, writeKvt(model)), kLoadSucceeded);
    ASSERT_EQ(plugin.model.cameras.count, 2);
    ASSERT_EQ(plugin.model.cameras.items.size(), 2u);

    for (std::size_t i = 0; i < 2; ++i) {
        SCOPED_TRACE(i);
        const KvtCamera& written = model.cameras[i];
        const ModelCamera& camera = plugin.model.cameras.items[i];
        EXPECT_EQ(camera.name.narrow(), "View" + std::to_string(i));
        EXPECT_EQ(camera.option, written.option);
        EXPECT_EQ(camera.fieldOfView, written.fieldOfView);
        EXPECT_EQ(camera.nearClip, written.nearClip);
        EXPECT_EQ(camera.farClip, written.farClip);
        if (isNewLayout(version)) {
            EXPECT_EQ(camera.code, written.code);
            EXPECT_EQ(transformBits(camera.transform), transformBits(written.transform));
        } else {
            // The three axes and the position are stored; scale, matrix, rotation and euler
            // angles stay zero, not identity.
            EXPECT_EQ(camera.code, 0);
            EXPECT_EQ(
                transformBits(camera.transform),
                zeroTransformBitsKeeping(written.transform, {.axes = true, .position = true}));
            EXPECT_EQ(camera.transform.rotation, (Quaternion{}));
            EXPECT_EQ(camera.transform.scale, (Vec3{}));
        }
    }
}

INSTANTIATE_TEST_SUITE_P(AcrossThreshold, CameraLayout,
                         ::testing::Values(6, 10, 12, 29, 30, 31, 32, 33));

TEST(CameraSection, ZeroCountIsAnEmptySection) {
    for (const int32_t version : {29, 30}) {
        SCOPED_TRACE(version);
        KvtModel model;
        model.version = version;
        model.lights = {distinctLight(0)};
        KVTPlugin plugin;
        ASSERT_EQ(loadExact(plugin, writeKvt(model)), kLoadSucceeded);
        EXPECT_EQ(plugin.model.cameras.count, 0);
        EXPECT_TRUE(plugin.model.cameras.items.empty());
        EXPECT_EQ(plugin.model.lights.count, 1);
    }
}

// ---- Truncation --------------------------------------------------------------------------------

using SectionDecoder = bool (*)(Cursor&, const SectionFormat&, ModelData&, DeclaredCounts&);

struct TruncationCase {
    int32_t version;
    KvtSection section;
    KvtSection next;
    SectionDecoder decode;
};

class LightCameraTruncation : public ::testing::TestWithParam<TruncationCase> {};

KvtModel truncationModel(int32_t version) {
    KvtModel model;
    model.version = version;
    model.lights = {distinctLight(0), distinctLight(1)};
    model.cameras = {distinctCamera(0), distinctCamera(1)};
    return model;
}

// Every cut from the section's count word up to its last byte fails the load and leaves an empty
// model; the section routines themselves fail on every such prefix and succeed on the exact
// section.
TEST_P(LightCameraTruncation, EveryCutInsideTheSectionFails) {
    const TruncationCase param = GetParam();
    const KvtModel model = truncationModel(param.version);
    const KvtImage image = writeKvtImage(model);
    const std::size_t start = image.sectionOffsets[kvtSectionIndex(param.section)].value();
    const std::size_t end = image.sectionOffsets[kvtSectionIndex(param.next)].value();
    ASSERT_LT(start, end);
    {
        KVTPlugin plugin;
        ASSERT_EQ(loadExact(plugin, image.bytes), kLoadSucceeded);
    }
    for (std::size_t cut = start; cut <= end; ++cut) {
        SCOPED_TRACE(cut);
        if (cut < end) {
            KvtWriteOptions options;
            options.truncateAt = cut;
            KVTPlugin plugin;
            EXPECT_EQ(loadExact(plugin, writeKvt(model, options)), kLoadFailed);
            expectEmptyModel(plugin);
        }
        const KvtBytes prefix(image.bytes.begin(),
                              image.bytes.begin() + static_cast<std::ptrdiff_t>(cut));
        Cursor cursor(prefix);
        ASSERT_TRUE(cursor.skip(start));
        ModelData decoded;
        DeclaredCounts declared;
        MemoryBudget memory = MemoryBudget::forFile(0);
        const SectionFormat format{param.version, 0, &memory};
        EXPECT_EQ(param.decode(cursor, format, decoded, declared), cut == end);
        if (cut == end) {
            EXPECT_TRUE(cursor.atEnd());
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Sections, LightCameraTruncation,
    ::testing::Values(TruncationCase{6, KvtSection::kLights, KvtSection::kCameras, readLights},
                      TruncationCase{29, KvtSection::kLights, KvtSection::kCameras, readLights},
                      TruncationCase{30, KvtSection::kLights, KvtSection::kCameras, readLights},
                      TruncationCase{33, KvtSection::kLights, KvtSection::kCameras, readLights},
                      TruncationCase{6, KvtSection::kCameras, KvtSection::kMaterials, readCameras},
                      TruncationCase{29, KvtSection::kCameras, KvtSection::kMaterials, readCameras},
                      TruncationCase{30, KvtSection::kCameras, KvtSection::kMaterials, readCameras},
                      TruncationCase{33, KvtSection::kCameras, KvtSection::kMaterials,
                                     readCameras}));

}  // namespace
}  // namespace quillmesh
