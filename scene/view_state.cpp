#include "scene/view_state.h"

#include <cstddef>
#include <limits>
#include <string>

namespace quillmesh {
namespace {

// The gamma values go under four-character codes, not string keys.
constexpr HostKey kGammaRedKey = HOST_FOURCC('G', 'a', 'm', 'R');
constexpr HostKey kGammaGreenKey = HOST_FOURCC('G', 'a', 'm', 'G');
constexpr HostKey kGammaBlueKey = HOST_FOURCC('G', 'a', 'm', 'B');

constexpr double kImportFieldOfView = 42.0;

// The routines every writer may reach, directly or through a nested writer.
bool canWrite(const DescriptorSuites& suites, DescriptorRef target) {
    const ActionDescriptorSuite* d = suites.descriptor;
    const ActionControlSuite* c = suites.control;
    return target != nullptr && d != nullptr && d->make != nullptr && d->free != nullptr &&
           d->putInteger != nullptr && d->putFloat != nullptr && d->putBoolean != nullptr &&
           d->putObject != nullptr && c != nullptr && c->stringIDToTypeID != nullptr;
}

// What a state name needs on top of canWrite.
bool canWriteText(const DescriptorSuites& suites) {
    const ZStringSuite* z = suites.zstring;
    return suites.descriptor->putZString != nullptr && z != nullptr &&
           z->makeFromUnicode != nullptr && z->release != nullptr;
}

// Puts keys into one descriptor through suites that canWrite accepted. Text
// keys are looked up right before their put, so the host sees lookup and put
// in pairs; a key the host gives no identifier for is left out.
class KeyWriter {
  public:
    KeyWriter(const DescriptorSuites& suites, DescriptorRef target)
        : suites_(suites), target_(target) {}

    void putFloat(const char* key, double value) {
        HostKey id = 0;
        if (lookup(key, id)) {
            putFloat(id, value);
        }
    }

    void putFloat(HostKey key, double value) { suites_.descriptor->putFloat(target_, key, value); }

    void putInteger(const char* key, int32_t value) {
        HostKey id = 0;
        if (lookup(key, id)) {
            suites_.descriptor->putInteger(target_, id, value);
        }
    }

    void putBoolean(const char* key, uint8_t flag) {
        HostKey id = 0;
        if (lookup(key, id)) {
            suites_.descriptor->putBoolean(target_, id, flag != 0 ? 1 : 0);
        }
    }

    // Copies NUL-terminated UTF-16 text into a ZString for the put. A ZString
    // the host cannot make leaves the key out; it is not a nested descriptor,
    // so the writer goes on.
    void putText(const char* key, const char16_t* text) {
        const std::size_t length = std::char_traits<char16_t>::length(text);
        if (length > std::numeric_limits<uint32_t>::max()) {
            return;
        }
        ZStringRef zstring = nullptr;
        const HostError error =
            suites_.zstring->makeFromUnicode(text, static_cast<uint32_t>(length), &zstring);
        if (zstring == nullptr) {
            return;
        }
        HostKey id = 0;
        if (error == 0 && lookup(key, id)) {
            suites_.descriptor->putZString(target_, id, zstring);
        }
        suites_.zstring->release(zstring);
    }

    // Makes a nested descriptor, lets `fill` write into it and puts it with
    // class equal to key. False when it cannot be made or `fill` stopped: the
    // partly filled descriptor is freed without being put.
    template <class Fill>
    bool putObject(const char* key, Fill&& fill) {
        DescriptorRef nested = nullptr;
        const HostError error = suites_.descriptor->make(&nested);
        if (nested == nullptr) {
            return false;
        }
        const bool filled = error == 0 && fill(nested);
        HostKey id = 0;
        if (filled && lookup(key, id)) {
            suites_.descriptor->putObject(target_, id, id, nested);
        }
        suites_.descriptor->free(nested);
        return filled;
    }

    bool putColor(const char* key, const Color& color) {
        return putObject(key, [&](DescriptorRef nested) {
            KeyWriter channels(suites_, nested);
            channels.putFloat("red", color.red);
            channels.putFloat("green", color.green);
            channels.putFloat("blue", color.blue);
            return true;
        });
    }

    bool putCameraPlacement(const char* key, const CameraPlacement& placement) {
        return putObject(key, [&](DescriptorRef nested) {
            return writeCameraPlacement(suites_, placement, nested);
        });
    }

    bool putRenderSettings(const char* key, const RenderSettings& settings) {
        return putObject(key, [&](DescriptorRef nested) {
            return writeRenderSettings(suites_, settings, nested);
        });
    }

    bool putCrossSection(const char* key, const CrossSection& section) {
        return putObject(
            key, [&](DescriptorRef nested) { return writeCrossSection(suites_, section, nested); });
    }

  private:
    bool lookup(const char* key, HostKey& id) const {
        id = 0;
        return suites_.control->stringIDToTypeID(key, &id) == 0 && id != 0;
    }

    const DescriptorSuites& suites_;
    DescriptorRef target_;
};

}  // namespace

void initRenderSettings(RenderSettings& settings) {
    settings = RenderSettings{};
    settings.faces = 1;
    settings.faceStyle = 4;
    settings.faceColor = Color{1.0, 1.0, 1.0};
    settings.antiAlias = 1;
    settings.rayDepth = 4;
    settings.reflections = 1;
    settings.refractions = 1;
    settings.shadows = 1;
    settings.edgeStyle = 1;
    settings.lineWidth = 1.0;
    settings.removeBackFaceLines = 1;
    settings.removeHiddenLines = 1;
    settings.verticesStyle = 1;
    settings.vertexRadius = 1.0;
    settings.removeBackFaceVertices = 1;
    settings.removeHiddenVertices = 1;
    settings.volumeStyle = 0x200000;
    settings.gradientEnhanced = 1;
    settings.opacityScale = 1.0;
    settings.stereoStyle = 0x4000;
    settings.stereoOffset = 5.0;
    settings.stereoLenticularSpacing = 40.0;
}

ViewState defaultImportViewState() {
    ViewState state;
    state.fieldOfView = kImportFieldOfView;
    state.objectXScale = 1.0;
    state.objectYScale = 1.0;
    state.objectZScale = 1.0;
    initRenderSettings(state.renderSettings);
    return state;
}

bool writeCameraPlacement(const DescriptorSuites& suites, const CameraPlacement& placement,
                          DescriptorRef target) {
    if (!canWrite(suites, target)) {
        return false;
    }
    KeyWriter out(suites, target);
    out.putFloat("key3DXPos", placement.xPosition);
    out.putFloat("key3DYPos", placement.yPosition);
    out.putFloat("key3DZPos", placement.zPosition);
    out.putFloat("key3DXAngle", placement.xAngle);
    out.putFloat("key3DYAngle", placement.yAngle);
    out.putFloat("key3DZAngle", placement.zAngle);
    return true;
}

bool writeRenderSettings(const DescriptorSuites& suites, const RenderSettings& settings,
                         DescriptorRef target) {
    if (!canWrite(suites, target)) {
        return false;
    }
    KeyWriter out(suites, target);
    out.putBoolean("key3DRenderFaces", settings.faces);
    out.putInteger("key3DRenderFaceStyle", settings.faceStyle);
    if (!out.putColor("key3DFaceColor", settings.faceColor)) {
        return false;
    }
    out.putInteger("key3DTextureType", settings.textureType);
    out.putInteger("key3DRenderAntiAlias", settings.antiAlias);
    out.putInteger("key3DRenderRayDepth", settings.rayDepth);
    out.putBoolean("key3DRenderReflections", settings.reflections);
    out.putBoolean("key3DRenderRefractions", settings.refractions);
    out.putBoolean("key3DRenderShadows", settings.shadows);
    out.putBoolean("key3DRenderRemoveBackfaces", settings.removeBackFaces);
    out.putBoolean("key3DRenderAdvancedIllumVideo", settings.advancedIllumVideo);
    out.putBoolean("key3DRenderEdges", settings.edges);
    out.putInteger("key3DRenderEdgeStyle", settings.edgeStyle);
    if (!out.putColor("key3DLineColor", settings.lineColor)) {
        return false;
    }
    out.putFloat("key3DLineWidth", settings.lineWidth);
    out.putFloat("key3DCreaseValue", settings.creaseValue);
    out.putBoolean("key3DRenderRemoveBackfaceLines", settings.removeBackFaceLines);
    out.putBoolean("key3DRenderRemoveHiddenLines", settings.removeHiddenLines);
    out.putBoolean("key3DRenderVertices", settings.vertices);
    out.putInteger("key3DRenderVerticesStyle", settings.verticesStyle);
    if (!out.putColor("key3DVertexColor", settings.vertexColor)) {
        return false;
    }
    out.putBoolean("key3DRenderRemoveBackfaceVertices", settings.removeBackFaceVertices);
    out.putBoolean("key3DRenderRemoveHiddenVertices", settings.removeHiddenVertices);
    out.putFloat("key3DRenderOpacityScale", settings.opacityScale);
    out.putBoolean("key3DRenderVolume", settings.volume);
    out.putInteger("key3DRenderVolumeStyle", settings.volumeStyle);
    out.putBoolean("key3DRenderGradientEnhanced", settings.gradientEnhanced);
    out.putFloat("key3DVertexRadius", settings.vertexRadius);
    out.putBoolean("key3DRenderStereo", settings.stereo);
    out.putInteger("key3DRenderStereoStyle", settings.stereoStyle);
    out.putFloat("key3DStereoOffset", settings.stereoOffset);
    out.putFloat("key3DStereoLenticularSpacing", settings.stereoLenticularSpacing);
    out.putFloat("key3DStereoFocalPlane", settings.stereoFocalPlane);
    out.putBoolean("key3DShowGroundPlane", settings.showGroundPlane);
    out.putBoolean("key3DShowLights", settings.showLights);
    return true;
}

bool writeCrossSection(const DescriptorSuites& suites, const CrossSection& section,
                       DescriptorRef target) {
    if (!canWrite(suites, target)) {
        return false;
    }
    KeyWriter out(suites, target);
    if (!out.putColor("key3DCrossSectionPlaneColor", section.planeColor) ||
        !out.putColor("key3DCrossSectionIntersectionColor", section.intersectionColor)) {
        return false;
    }
    out.putFloat("key3DCrossSectionOffset", section.offset);
    out.putFloat("key3DCrossSectionPlaneTilt1", section.planeTilt1);
    out.putFloat("key3DCrossSectionPlaneTilt2", section.planeTilt2);
    out.putFloat("key3DCrossSectionPlaneOpacity", section.planeOpacity);
    out.putInteger("key3DCrossSectionAlignment", static_cast<int32_t>(section.alignment));
    out.putBoolean("key3DCrossSectionEnabled", section.enabled);
    out.putBoolean("key3DCrossSectionPlaneFlip", section.planeFlip);
    out.putBoolean("key3DCrossSectionPlaneVisible", section.planeVisible);
    out.putBoolean("key3DCrossSectionIntersectionVisible", section.intersectionVisible);
    return out.putRenderSettings("key3DRenderSettings", section.renderSettings);
}

bool writeViewState(const DescriptorSuites& suites, const ViewState& state,
                    const char16_t* stateName, DescriptorRef target) {
    if (!canWrite(suites, target) || (stateName != nullptr && !canWriteText(suites))) {
        return false;
    }
    KeyWriter out(suites, target);
    if (stateName != nullptr) {
        out.putText("key3DStateName", stateName);
    }
    if (!out.putCameraPlacement("key3DCurrentCameraPosition", state.cameraPlacement)) {
        return false;
    }
    out.putFloat("key3DCurrentFOV", state.fieldOfView * kDegreesToRadians);
    if (!out.putCameraPlacement("key3DCurrentPosition", state.currentPosition)) {
        return false;
    }
    out.putFloat("key3DCurrentObjectXScale", state.objectXScale);
    out.putFloat("key3DCurrentObjectYScale", state.objectYScale);
    out.putFloat("key3DCurrentObjectZScale", state.objectZScale);
    // The one flag the host reads as an integer.
    out.putInteger("key3DOrthographic", state.orthographic != 0 ? 1 : 0);
    out.putFloat("key3DOrthographicScale", state.orthographicScale);
    out.putFloat("key3DTime", state.time);
    if (!out.putCrossSection("key3DCrossSection", state.crossSection) ||
        !out.putRenderSettings("key3DRenderSettings", state.renderSettings)) {
        return false;
    }
    out.putFloat(kGammaRedKey, state.gammaRed);
    out.putFloat(kGammaGreenKey, state.gammaGreen);
    out.putFloat(kGammaBlueKey, state.gammaBlue);
    out.putInteger("key3DStateType", state.stateType);
    out.putFloat("printerResolution", state.printerResolution);
    const BoundingBox& box = state.boundingBox;
    out.putFloat("keyBBoxCenterX", box.centerX);
    out.putFloat("keyBBoxCenterY", box.centerY);
    out.putFloat("keyBBoxCenterZ", box.centerZ);
    out.putFloat("keyBBoxMinX", box.minX);
    out.putFloat("keyBBoxMinY", box.minY);
    out.putFloat("keyBBoxMinZ", box.minZ);
    out.putFloat("keyBBoxMaxX", box.maxX);
    out.putFloat("keyBBoxMaxY", box.maxY);
    out.putFloat("keyBBoxMaxZ", box.maxZ);
    return true;
}

}  // namespace quillmesh
