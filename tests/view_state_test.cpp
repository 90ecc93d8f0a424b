#include "scene/view_state.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "host/descriptors.h"
#include "host/host.h"

namespace quillmesh {
namespace {

using qmhost::Descriptor;
using qmhost::Value;
using qmhost::ValueKind;

// One expected key of a written descriptor: a text key, or a four-character
// code when `code` is set.
struct Row {
    std::string key;
    Value value;
    bool code = false;
};

Value number(double value) {
    return Value::fromFloat(value);
}
Value integer(int32_t value) {
    return Value::fromInteger(value);
}
Value flag(bool value) {
    return Value::fromBoolean(value);
}

// Render settings keys in write order, with the value after initRenderSettings
// and the value written for distinctRenderSettings(). Colours are {r, g, b}.
struct RenderRow {
    const char* key;
    ValueKind kind;
    std::vector<double> defaults;
    std::vector<double> distinct;
};

const std::vector<RenderRow>& renderRows() {
    using enum ValueKind;
    static const std::vector<RenderRow> rows = {
        {"key3DRenderFaces", Boolean, {1}, {0}},
        {"key3DRenderFaceStyle", Integer, {4}, {11}},
        {"key3DFaceColor", Object, {1.0, 1.0, 1.0}, {0.125, 0.25, 0.375}},
        {"key3DTextureType", Integer, {0}, {12}},
        {"key3DRenderAntiAlias", Integer, {1}, {13}},
        {"key3DRenderRayDepth", Integer, {4}, {14}},
        {"key3DRenderReflections", Boolean, {1}, {0}},
        {"key3DRenderRefractions", Boolean, {1}, {1}},
        {"key3DRenderShadows", Boolean, {1}, {0}},
        {"key3DRenderRemoveBackfaces", Boolean, {0}, {1}},
        {"key3DRenderAdvancedIllumVideo", Boolean, {0}, {1}},
        {"key3DRenderEdges", Boolean, {0}, {0}},
        {"key3DRenderEdgeStyle", Integer, {1}, {15}},
        {"key3DLineColor", Object, {0.0, 0.0, 0.0}, {0.5, 0.625, 0.75}},
        {"key3DLineWidth", Float, {1.0}, {2.5}},
        {"key3DCreaseValue", Float, {0.0}, {3.5}},
        {"key3DRenderRemoveBackfaceLines", Boolean, {1}, {0}},
        {"key3DRenderRemoveHiddenLines", Boolean, {1}, {1}},
        {"key3DRenderVertices", Boolean, {0}, {1}},
        {"key3DRenderVerticesStyle", Integer, {1}, {16}},
        {"key3DVertexColor", Object, {0.0, 0.0, 0.0}, {0.875, 1.125, 1.25}},
        {"key3DRenderRemoveBackfaceVertices", Boolean, {1}, {0}},
        {"key3DRenderRemoveHiddenVertices", Boolean, {1}, {1}},
        {"key3DRenderOpacityScale", Float, {1.0}, {4.5}},
        {"key3DRenderVolume", Boolean, {0}, {1}},
        {"key3DRenderVolumeStyle", Integer, {2097152}, {-17}},
        {"key3DRenderGradientEnhanced", Boolean, {1}, {0}},
        {"key3DVertexRadius", Float, {1.0}, {5.5}},
        {"key3DRenderStereo", Boolean, {0}, {1}},
        {"key3DRenderStereoStyle", Integer, {16384}, {18}},
        {"key3DStereoOffset", Float, {5.0}, {6.5}},
        {"key3DStereoLenticularSpacing", Float, {40.0}, {7.5}},
        {"key3DStereoFocalPlane", Float, {0.0}, {8.5}},
        {"key3DShowGroundPlane", Boolean, {0}, {1}},
        {"key3DShowLights", Boolean, {0}, {0}},
    };
    return rows;
}

// The record behind the table's `distinct` column; flags use other nonzero
// bytes than 1 where they are true.
RenderSettings distinctRenderSettings() {
    RenderSettings s;
    s.faceStyle = 11;
    s.faceColor = {0.125, 0.25, 0.375};
    s.textureType = 12;
    s.antiAlias = 13;
    s.rayDepth = 14;
    s.refractions = 2;
    s.removeBackFaces = 0x80;
    s.advancedIllumVideo = 1;
    s.edgeStyle = 15;
    s.lineColor = {0.5, 0.625, 0.75};
    s.lineWidth = 2.5;
    s.creaseValue = 3.5;
    s.removeHiddenLines = 0xFF;
    s.vertices = 1;
    s.verticesStyle = 16;
    s.vertexColor = {0.875, 1.125, 1.25};
    s.vertexRadius = 5.5;
    s.removeHiddenVertices = 1;
    s.opacityScale = 4.5;
    s.volume = 1;
    s.volumeStyle = -17;
    s.stereo = 1;
    s.stereoStyle = 18;
    s.stereoOffset = 6.5;
    s.stereoLenticularSpacing = 7.5;
    s.stereoFocalPlane = 8.5;
    s.showGroundPlane = 1;
    return s;
}

// Passes identifier lookups and puts on to the host and logs them in call
// order; the lookup of `refusedKey` is answered with an error.
struct Recorder {
    struct Event {
        bool lookup;
        HostKey key;
    };
    static inline std::vector<Event> events;
    static inline std::string refusedKey;
    static inline const ActionDescriptorSuite* realDescriptor = nullptr;
    static inline const ActionControlSuite* realControl = nullptr;

    static HostError HOSTAPI_CALL lookup(const char* text, HostKey* id) {
        if (text == refusedKey) {
            return -1;
        }
        const HostError error = realControl->stringIDToTypeID(text, id);
        events.push_back({true, *id});
        return error;
    }
    static HostError HOSTAPI_CALL putFloat(DescriptorRef d, HostKey key, double value) {
        events.push_back({false, key});
        return realDescriptor->putFloat(d, key, value);
    }
    static HostError HOSTAPI_CALL putInteger(DescriptorRef d, HostKey key, int32_t value) {
        events.push_back({false, key});
        return realDescriptor->putInteger(d, key, value);
    }
    static HostError HOSTAPI_CALL putBoolean(DescriptorRef d, HostKey key, uint8_t value) {
        events.push_back({false, key});
        return realDescriptor->putBoolean(d, key, value);
    }
    static HostError HOSTAPI_CALL putObject(DescriptorRef d, HostKey key, HostKey classKey,
                                            DescriptorRef v) {
        events.push_back({false, key});
        return realDescriptor->putObject(d, key, classKey, v);
    }
    static HostError HOSTAPI_CALL putZString(DescriptorRef d, HostKey key, ZStringRef text) {
        events.push_back({false, key});
        return realDescriptor->putZString(d, key, text);
    }
};

class ViewStateTest : public ::testing::Test {
  protected:
    ViewStateTest() {
        suites.descriptor = host.descriptors().descriptorSuite();
        suites.list = host.descriptors().listSuite();
        suites.control = host.descriptors().controlSuite();
        suites.zstring = host.descriptors().zstringSuite();
        target = makeDescriptor();
    }

    ~ViewStateTest() override {
        host.descriptors().failMakeAfter(-1);
        if (target != nullptr) {
            suites.descriptor->free(target);
        }
        EXPECT_TRUE(host.descriptors().balanced()) << host.descriptors().summary();
    }

    DescriptorRef makeDescriptor() {
        DescriptorRef made = nullptr;
        EXPECT_EQ(suites.descriptor->make(&made), 0);
        return made;
    }

    HostKey id(const std::string& text) { return host.descriptors().ids().fromString(text); }
    const Descriptor& written(DescriptorRef ref) { return *host.descriptors().view(ref); }
    const Descriptor& written() { return written(target); }

    std::string nameOf(HostKey key) {
        if (const std::string* text = host.descriptors().ids().textOf(key)) {
            return *text;
        }
        return {static_cast<char>(key >> 24), static_cast<char>(key >> 16),
                static_cast<char>(key >> 8), static_cast<char>(key)};
    }

    Value object(const std::string& key, const std::vector<Row>& rows) {
        Descriptor nested;
        for (const Row& row : rows) {
            nested.put(id(row.key), row.value);
        }
        return Value::fromObject(id(key), std::move(nested));
    }

    Value color(const std::string& key, double r, double g, double b) {
        return object(key, {{"red", number(r)}, {"green", number(g)}, {"blue", number(b)}});
    }

    // The render settings rows of one table column; `zero` gives every value 0.
    std::vector<Row> renderSettingsRows(bool distinct, bool zero = false) {
        std::vector<Row> rows;
        for (const RenderRow& r : renderRows()) {
            const std::vector<double> v = zero       ? std::vector<double>(r.defaults.size(), 0.0)
                                          : distinct ? r.distinct
                                                     : r.defaults;
            switch (r.kind) {
                case ValueKind::Boolean:
                    rows.push_back({r.key, flag(v[0] != 0)});
                    break;
                case ValueKind::Integer:
                    rows.push_back({r.key, integer(static_cast<int32_t>(v[0]))});
                    break;
                case ValueKind::Object:
                    rows.push_back({r.key, color(r.key, v[0], v[1], v[2])});
                    break;
                default:
                    rows.push_back({r.key, number(v[0])});
                    break;
            }
        }
        return rows;
    }

    std::vector<Row> placementRows(std::vector<double> v) {
        return {{"key3DXPos", number(v[0])},   {"key3DYPos", number(v[1])},
                {"key3DZPos", number(v[2])},   {"key3DXAngle", number(v[3])},
                {"key3DYAngle", number(v[4])}, {"key3DZAngle", number(v[5])}};
    }

    // Compares key by key, recursing into objects, so a failure names its path.
    void expectWritten(const Descriptor& actual, const std::vector<Row>& rows,
                       const std::string& path = "") {
        ASSERT_EQ(actual.size(), rows.size()) << "keys under " << path;
        for (std::size_t i = 0; i < rows.size(); ++i) {
            const Row& row = rows[i];
            const Descriptor::Item& item = actual.items()[i];
            SCOPED_TRACE(path + "/" + row.key);
            ASSERT_EQ(nameOf(item.key), row.key) << "at position " << i;
            EXPECT_EQ(row.code, qmhost::isFourCharCode(item.key));
            ASSERT_EQ(item.value.kind(), row.value.kind());
            if (row.value.kind() == ValueKind::Object) {
                EXPECT_EQ(item.value.asObject().classId(), item.key) << "class equals key";
                std::vector<Row> nested;
                for (const Descriptor::Item& n : row.value.asObject().items()) {
                    nested.push_back({nameOf(n.key), n.value, qmhost::isFourCharCode(n.key)});
                }
                expectWritten(item.value.asObject(), nested, path + "/" + row.key);
            } else {
                EXPECT_TRUE(item.value == row.value);
            }
        }
    }

    qmhost::Host host;
    DescriptorSuites suites;
    DescriptorRef target = nullptr;
};

TEST_F(ViewStateTest, ImportDefaultsWriteEveryKeyInOrder) {
    ASSERT_TRUE(writeViewState(suites, defaultImportViewState(), nullptr, target));

    const std::vector<double> zeros(6, 0.0);
    std::vector<Row> crossSection = {
        {"key3DCrossSectionPlaneColor", color("key3DCrossSectionPlaneColor", 0, 0, 0)},
        {"key3DCrossSectionIntersectionColor",
         color("key3DCrossSectionIntersectionColor", 0, 0, 0)},
        {"key3DCrossSectionOffset", number(0)},
        {"key3DCrossSectionPlaneTilt1", number(0)},
        {"key3DCrossSectionPlaneTilt2", number(0)},
        {"key3DCrossSectionPlaneOpacity", number(0)},
        {"key3DCrossSectionAlignment", integer(0)},
        {"key3DCrossSectionEnabled", flag(false)},
        {"key3DCrossSectionPlaneFlip", flag(false)},
        {"key3DCrossSectionPlaneVisible", flag(false)},
        {"key3DCrossSectionIntersectionVisible", flag(false)},
        {"key3DRenderSettings",
         object("key3DRenderSettings", renderSettingsRows(false, /*zero=*/true))},
    };
    const std::vector<Row> expected = {
        {"key3DCurrentCameraPosition", object("key3DCurrentCameraPosition", placementRows(zeros))},
        {"key3DCurrentFOV", number(0.7330382858376184)},
        {"key3DCurrentPosition", object("key3DCurrentPosition", placementRows(zeros))},
        {"key3DCurrentObjectXScale", number(1.0)},
        {"key3DCurrentObjectYScale", number(1.0)},
        {"key3DCurrentObjectZScale", number(1.0)},
        {"key3DOrthographic", integer(0)},
        {"key3DOrthographicScale", number(0)},
        {"key3DTime", number(0)},
        {"key3DCrossSection", object("key3DCrossSection", crossSection)},
        {"key3DRenderSettings", object("key3DRenderSettings", renderSettingsRows(false))},
        {"GamR", number(0), true},
        {"GamG", number(0), true},
        {"GamB", number(0), true},
        {"key3DStateType", integer(0)},
        {"printerResolution", number(0)},
        {"keyBBoxCenterX", number(0)},
        {"keyBBoxCenterY", number(0)},
        {"keyBBoxCenterZ", number(0)},
        {"keyBBoxMinX", number(0)},
        {"keyBBoxMinY", number(0)},
        {"keyBBoxMinZ", number(0)},
        {"keyBBoxMaxX", number(0)},
        {"keyBBoxMaxY", number(0)},
        {"keyBBoxMaxZ", number(0)},
    };
    expectWritten(written(), expected);
    EXPECT_EQ(host.descriptors().counts().zstringsMade, 0u);
}

TEST_F(ViewStateTest, EveryFieldReachesItsOwnKey) {
    ViewState state;
    state.cameraPlacement = {1, 2, 3, 4, 5, 6};
    state.fieldOfView = 90.0;
    state.objectXScale = 2.0;
    state.objectYScale = 3.0;
    state.objectZScale = 4.0;
    state.currentPosition = {7, 8, 9, 10, 11, 12};
    state.orthographic = 5;  // any nonzero byte is written as 1
    state.orthographicScale = 13;
    state.time = 14;
    CrossSection& cs = state.crossSection;
    cs.planeColor = {0.1, 0.2, 0.3};
    cs.intersectionColor = {0.4, 0.5, 0.6};
    cs.offset = 15;
    cs.planeTilt1 = 16;
    cs.planeTilt2 = 17;
    cs.planeOpacity = 0.75;
    cs.alignment = -3;
    cs.enabled = 1;
    cs.planeVisible = 2;
    initRenderSettings(cs.renderSettings);
    state.renderSettings = distinctRenderSettings();
    state.gammaRed = 2.2;
    state.gammaGreen = 1.8;
    state.gammaBlue = 1.4;
    state.stateType = -7;
    state.printerResolution = 300;
    state.boundingBox = {0xFFFFFFFFu, -1, 1, 0.5, -2, 2, 0.25, -3, 3, 0.125};
    ASSERT_TRUE(writeViewState(suites, state, nullptr, target));

    const std::vector<Row> crossSection = {
        {"key3DCrossSectionPlaneColor", color("key3DCrossSectionPlaneColor", 0.1, 0.2, 0.3)},
        {"key3DCrossSectionIntersectionColor",
         color("key3DCrossSectionIntersectionColor", 0.4, 0.5, 0.6)},
        {"key3DCrossSectionOffset", number(15)},
        {"key3DCrossSectionPlaneTilt1", number(16)},
        {"key3DCrossSectionPlaneTilt2", number(17)},
        {"key3DCrossSectionPlaneOpacity", number(0.75)},
        {"key3DCrossSectionAlignment", integer(-3)},
        {"key3DCrossSectionEnabled", flag(true)},
        {"key3DCrossSectionPlaneFlip", flag(false)},
        {"key3DCrossSectionPlaneVisible", flag(true)},
        {"key3DCrossSectionIntersectionVisible", flag(false)},
        {"key3DRenderSettings", object("key3DRenderSettings", renderSettingsRows(false))},
    };
    const std::vector<Row> expected = {
        {"key3DCurrentCameraPosition",
         object("key3DCurrentCameraPosition", placementRows({1, 2, 3, 4, 5, 6}))},
        {"key3DCurrentFOV", number(1.5707963267948966)},
        {"key3DCurrentPosition",
         object("key3DCurrentPosition", placementRows({7, 8, 9, 10, 11, 12}))},
        {"key3DCurrentObjectXScale", number(2)},
        {"key3DCurrentObjectYScale", number(3)},
        {"key3DCurrentObjectZScale", number(4)},
        {"key3DOrthographic", integer(1)},
        {"key3DOrthographicScale", number(13)},
        {"key3DTime", number(14)},
        {"key3DCrossSection", object("key3DCrossSection", crossSection)},
        {"key3DRenderSettings", object("key3DRenderSettings", renderSettingsRows(true))},
        {"GamR", number(2.2), true},
        {"GamG", number(1.8), true},
        {"GamB", number(1.4), true},
        {"key3DStateType", integer(-7)},
        {"printerResolution", number(300)},
        {"keyBBoxCenterX", number(0.5)},
        {"keyBBoxCenterY", number(0.25)},
        {"keyBBoxCenterZ", number(0.125)},
        {"keyBBoxMinX", number(-1)},
        {"keyBBoxMinY", number(-2)},
        {"keyBBoxMinZ", number(-3)},
        {"keyBBoxMaxX", number(1)},
        {"keyBBoxMaxY", number(2)},
        {"keyBBoxMaxZ", number(3)},
    };
    expectWritten(written(), expected);
}

TEST_F(ViewStateTest, InitRenderSettingsResetsFieldsItDoesNotSet) {
    RenderSettings settings = distinctRenderSettings();
    initRenderSettings(settings);
    ASSERT_TRUE(writeRenderSettings(suites, settings, target));
    expectWritten(written(), renderSettingsRows(false));
}

TEST_F(ViewStateTest, StateNameComesFirstAsTextAndItsZStringIsReleased) {
    const std::vector<std::u16string> names = {u"Default", u"", u"Caf\u00e9 \U0001F600 view"};
    for (const std::u16string& name : names) {
        DescriptorRef state = makeDescriptor();
        ASSERT_TRUE(writeViewState(suites, defaultImportViewState(), name.c_str(), state));
        const Descriptor& out = written(state);
        ASSERT_EQ(out.size(), 26u);
        EXPECT_EQ(nameOf(out.items()[0].key), "key3DStateName");
        ASSERT_EQ(out.items()[0].value.kind(), ValueKind::Text);
        EXPECT_EQ(out.items()[0].value.asText(), name);  // every code unit, surrogates included
        EXPECT_EQ(nameOf(out.items()[1].key), "key3DCurrentCameraPosition");
        EXPECT_EQ(host.descriptors().liveZStrings(), 0u);
        suites.descriptor->free(state);
    }
    EXPECT_EQ(host.descriptors().counts().zstringsMade, names.size());
}

// Makes in write order: camera placement 0, current position 1, cross-section
// 2..8 (itself, plane colour, intersection colour, its render settings and
// their face, line and vertex colours), render settings 9..12 (itself and
// three colours). A failed make drops that top-level object and all after it.
TEST_F(ViewStateTest, FailedMakeAnywhereStopsTheWholeWrite) {
    struct Stop {
        int firstMake, lastMake;
        std::size_t keysKept;  // top-level keys without the state name
    };
    const std::vector<Stop> stops = {{0, 0, 0}, {1, 1, 2}, {2, 8, 9}, {9, 12, 10}};
    const ViewState state = defaultImportViewState();
    suites.descriptor->free(target);
    target = nullptr;
    for (const char16_t* name : {static_cast<const char16_t*>(nullptr), u"named"}) {
        const std::size_t nameKeys = name != nullptr ? 1 : 0;
        DescriptorRef fullRef = makeDescriptor();
        const std::size_t madeBefore = host.descriptors().counts().descriptorsMade;
        ASSERT_TRUE(writeViewState(suites, state, name, fullRef));
        ASSERT_EQ(host.descriptors().counts().descriptorsMade - madeBefore, 13u);
        const Descriptor full = written(fullRef);
        suites.descriptor->free(fullRef);

        for (const Stop& stop : stops) {
            for (int n = stop.firstMake; n <= stop.lastMake; ++n) {
                SCOPED_TRACE("make " + std::to_string(n) + (name ? " named" : ""));
                DescriptorRef partial = makeDescriptor();
                host.descriptors().failMakeAfter(n);
                EXPECT_FALSE(writeViewState(suites, state, name, partial));
                host.descriptors().failMakeAfter(-1);
                const Descriptor& out = written(partial);
                ASSERT_EQ(out.size(), stop.keysKept + nameKeys);
                for (std::size_t i = 0; i < out.size(); ++i) {
                    EXPECT_EQ(out.items()[i].key, full.items()[i].key);
                    EXPECT_TRUE(out.items()[i].value == full.items()[i].value);
                }
                suites.descriptor->free(partial);
                EXPECT_TRUE(host.descriptors().balanced()) << host.descriptors().summary();
            }
        }
    }
}

TEST_F(ViewStateTest, NestedWritersKeepWhatTheyPutBeforeAFailedMake) {
    struct Case {
        const char* label;
        std::function<bool(DescriptorRef)> write;
        int makesAllowed;
        std::size_t keysKept;
    };
    const RenderSettings settings = distinctRenderSettings();
    const auto render = [&](DescriptorRef d) { return writeRenderSettings(suites, settings, d); };
    const auto section = [&](DescriptorRef d) {
        return writeCrossSection(suites, CrossSection{}, d);
    };
    const std::vector<Case> cases = {
        {"face colour", render, 0, 2},
        {"line colour", render, 1, 13},
        {"vertex colour", render, 2, 20},
        {"plane colour", section, 0, 0},
        {"intersection colour", section, 1, 1},
        {"render settings", section, 2, 11},
        {"face colour of the render settings", section, 3, 11},
        {"vertex colour of the render settings", section, 5, 11},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        DescriptorRef out = makeDescriptor();
        host.descriptors().failMakeAfter(c.makesAllowed);
        EXPECT_FALSE(c.write(out));
        host.descriptors().failMakeAfter(-1);
        EXPECT_EQ(written(out).size(), c.keysKept);
        suites.descriptor->free(out);
        EXPECT_EQ(host.descriptors().liveDescriptors(), 1u);  // only the fixture's target
    }
}

TEST_F(ViewStateTest, MissingSuiteOrRoutineWritesNothing) {
    ActionDescriptorSuite descriptor = *suites.descriptor;
    ActionControlSuite control = *suites.control;
    ZStringSuite zstring = *suites.zstring;
    struct Case {
        const char* label;
        std::function<void(DescriptorSuites&)> damage;
        const char16_t* name;
    };
    const std::vector<Case> cases = {
        {"no descriptor suite", [](DescriptorSuites& s) { s.descriptor = nullptr; }, nullptr},
        {"no control suite", [](DescriptorSuites& s) { s.control = nullptr; }, nullptr},
        {"no make", [&](DescriptorSuites&) { descriptor.make = nullptr; }, nullptr},
        {"no free", [&](DescriptorSuites&) { descriptor.free = nullptr; }, nullptr},
        {"no putFloat", [&](DescriptorSuites&) { descriptor.putFloat = nullptr; }, nullptr},
        {"no putInteger", [&](DescriptorSuites&) { descriptor.putInteger = nullptr; }, nullptr},
        {"no putBoolean", [&](DescriptorSuites&) { descriptor.putBoolean = nullptr; }, nullptr},
        {"no putObject", [&](DescriptorSuites&) { descriptor.putObject = nullptr; }, nullptr},
        {"no lookup", [&](DescriptorSuites&) { control.stringIDToTypeID = nullptr; }, nullptr},
        {"named, no zstring suite", [](DescriptorSuites& s) { s.zstring = nullptr; }, u"n"},
        {"named, no putZString", [&](DescriptorSuites&) { descriptor.putZString = nullptr; }, u"n"},
        {"named, no zstring make", [&](DescriptorSuites&) { zstring.makeFromUnicode = nullptr; },
         u"n"},
        {"named, no zstring release", [&](DescriptorSuites&) { zstring.release = nullptr; }, u"n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        descriptor = *host.descriptors().descriptorSuite();
        control = *host.descriptors().controlSuite();
        zstring = *host.descriptors().zstringSuite();
        DescriptorSuites damaged{&descriptor, nullptr, &control, &zstring};
        c.damage(damaged);
        EXPECT_FALSE(writeViewState(damaged, defaultImportViewState(), c.name, target));
        EXPECT_TRUE(written().empty());
        EXPECT_EQ(host.descriptors().counts().descriptorsMade, 1u);
        EXPECT_EQ(host.descriptors().counts().zstringsMade, 0u);
    }
    EXPECT_FALSE(writeViewState(suites, defaultImportViewState(), nullptr, nullptr));
    EXPECT_FALSE(writeRenderSettings(suites, RenderSettings{}, nullptr));
    EXPECT_FALSE(writeCrossSection(suites, CrossSection{}, nullptr));
    EXPECT_FALSE(writeCameraPlacement(suites, CameraPlacement{}, nullptr));
    // Without a name neither the list nor the ZString suite is needed.
    const DescriptorSuites minimal{suites.descriptor, nullptr, suites.control, nullptr};
    EXPECT_TRUE(writeViewState(minimal, defaultImportViewState(), nullptr, target));
    EXPECT_EQ(written().size(), 25u);
}

TEST_F(ViewStateTest, EachKeyIsLookedUpRightBeforeItsPut) {
    Recorder::events.clear();
    Recorder::refusedKey = "key3DTime";
    Recorder::realDescriptor = suites.descriptor;
    Recorder::realControl = suites.control;
    ActionDescriptorSuite descriptor = *suites.descriptor;
    descriptor.putFloat = Recorder::putFloat;
    descriptor.putInteger = Recorder::putInteger;
    descriptor.putBoolean = Recorder::putBoolean;
    descriptor.putObject = Recorder::putObject;
    descriptor.putZString = Recorder::putZString;
    const ActionControlSuite control = {Recorder::lookup};
    const DescriptorSuites recorded{&descriptor, nullptr, &control, suites.zstring};

    ASSERT_TRUE(writeViewState(recorded, defaultImportViewState(), u"n", target));
    std::size_t lookups = 0;
    std::size_t puts = 0;
    for (std::size_t i = 0; i < Recorder::events.size(); ++i) {
        const Recorder::Event& e = Recorder::events[i];
        if (e.lookup) {
            ++lookups;
            ASSERT_LT(i + 1, Recorder::events.size());
            EXPECT_FALSE(Recorder::events[i + 1].lookup) << "lookup " << i << " without its put";
            EXPECT_EQ(Recorder::events[i + 1].key, e.key);
        } else if (!qmhost::isFourCharCode(e.key)) {
            ++puts;
            ASSERT_GT(i, 0u);
            EXPECT_TRUE(Recorder::events[i - 1].lookup) << "put " << i << " without a lookup";
        }
    }
    // 23 top-level text keys less the refused one, 6 + 6 placement keys, 12 + 35 cross-section
    // and 35 render settings keys, 3 x 8 colour channels.
    EXPECT_EQ(puts, 22u + 12u + 47u + 35u + 24u);
    EXPECT_EQ(lookups, puts);
    EXPECT_EQ(written().find(id("key3DTime")), nullptr);
    EXPECT_EQ(written().size(), 25u);  // name + 25 - key3DTime
    Recorder::refusedKey.clear();
}

}  // namespace
}  // namespace quillmesh
