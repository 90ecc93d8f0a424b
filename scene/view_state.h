// The view state of an imported 3D layer (camera, projection, cross-section,
// render settings, gamma, bounding box) and the writers that put it into a
// host action descriptor, stored in the scene descriptor as "key3DState".
#pragma once

#include <cstdint>

#include "hostapi/host_api.h"
#include "scene/descriptor_suites.h"

namespace quillmesh {

// Flags are single bytes: nonzero is true. Every field defaults to zero.

struct Color {
    double red = 0.0;
    double green = 0.0;
    double blue = 0.0;
};

struct CameraPlacement {
    double xPosition = 0.0;
    double yPosition = 0.0;
    double zPosition = 0.0;
    double xAngle = 0.0;
    double yAngle = 0.0;
    double zAngle = 0.0;
};

struct RenderSettings {
    uint8_t faces = 0;
    int32_t faceStyle = 0;
    Color faceColor;
    int32_t textureType = 0;
    int32_t antiAlias = 0;
    int32_t rayDepth = 0;
    uint8_t reflections = 0;
    uint8_t refractions = 0;
    uint8_t shadows = 0;
    uint8_t removeBackFaces = 0;
    uint8_t edges = 0;
    int32_t edgeStyle = 0;
    Color lineColor;
    double lineWidth = 0.0;
    double creaseValue = 0.0;
    uint8_t removeBackFaceLines = 0;
    uint8_t removeHiddenLines = 0;
    uint8_t vertices = 0;
    int32_t verticesStyle = 0;
    Color vertexColor;
    double vertexRadius = 0.0;
    uint8_t removeBackFaceVertices = 0;
    uint8_t removeHiddenVertices = 0;
    uint8_t volume = 0;
    int32_t volumeStyle = 0;
    uint8_t gradientEnhanced = 0;
    double opacityScale = 0.0;
    uint8_t stereo = 0;
    int32_t stereoStyle = 0;
    double stereoOffset = 0.0;
    double stereoLenticularSpacing = 0.0;
    double stereoFocalPlane = 0.0;
    uint8_t showGroundPlane = 0;
    uint8_t showLights = 0;
    uint8_t advancedIllumVideo = 0;
};

struct CrossSection {
    Color planeColor;
    Color intersectionColor;
    double offset = 0.0;
    double planeTilt1 = 0.0;
    double planeTilt2 = 0.0;
    double planeOpacity = 0.0;
    int16_t alignment = 0;
    uint8_t enabled = 0;
    uint8_t planeFlip = 0;
    uint8_t planeVisible = 0;
    uint8_t intersectionVisible = 0;
    RenderSettings renderSettings;
};

struct BoundingBox {
    uint32_t reserved = 0;  // part of the record, never written
    double minX = 0.0;
    double maxX = 0.0;
    double centerX = 0.0;
    double minY = 0.0;
    double maxY = 0.0;
    double centerY = 0.0;
    double minZ = 0.0;
    double maxZ = 0.0;
    double centerZ = 0.0;
};

struct ViewState {
    CameraPlacement cameraPlacement;
    double fieldOfView = 0.0;  // degrees; written in radians
    double objectXScale = 0.0;
    double objectYScale = 0.0;
    double objectZScale = 0.0;
    CameraPlacement currentPosition;
    uint8_t orthographic = 0;
    double orthographicScale = 0.0;
    double time = 0.0;
    CrossSection crossSection;
    RenderSettings renderSettings;
    double gammaRed = 0.0;
    double gammaGreen = 0.0;
    double gammaBlue = 0.0;
    int32_t stateType = 0;
    double printerResolution = 0.0;
    BoundingBox boundingBox;
};

// Degrees to radians, as the field of view is written.
inline constexpr double kDegreesToRadians = 0.017453292519943295;

// Resets every field, then sets the render defaults a new layer shows (faces
// in style 4 and white, shadows, reflections and refractions, hidden lines
// and vertices removed, stereo offset 5 and lenticular spacing 40, ...).
void initRenderSettings(RenderSettings& settings);

// The view state an import writes: all zero but a 42-degree field of view,
// object scales of 1 and initRenderSettings' render settings. The
// cross-section, including its own render settings, stays all zero.
ViewState defaultImportViewState();

// The writers append their keys to `target` in a fixed order. Each key given
// as text is turned into its identifier through the control suite just before
// its put; results of the puts themselves are ignored, and a key whose
// identifier the host refuses is left out.
//
// Nested objects (colours, camera placements, the cross-section, render
// settings) are made, filled, put with class equal to key and freed. When a
// nested descriptor cannot be made, or a writer nested inside one stops, the
// writer frees what it made, leaves the keys already put in `target`, writes
// nothing further and returns false; the caller's chain stops as well.
//
// They also return false, writing nothing, when `target` is null or a routine
// the writers rely on is missing: make, free, the integer, float, boolean and
// object puts and the identifier lookup; with a state name also the ZString
// put and the ZString suite's make and release. The list suite is not used.
// True means the writer reached its last key.

// `stateName` is optional (null: no "key3DStateName"); when given it must be
// NUL-terminated UTF-16. It is copied into a host ZString released after use;
// when the host cannot make that ZString the name is left out.
bool writeViewState(const DescriptorSuites& suites, const ViewState& state,
                    const char16_t* stateName, DescriptorRef target);
bool writeRenderSettings(const DescriptorSuites& suites, const RenderSettings& settings,
                         DescriptorRef target);
bool writeCrossSection(const DescriptorSuites& suites, const CrossSection& section,
                       DescriptorRef target);
bool writeCameraPlacement(const DescriptorSuites& suites, const CameraPlacement& placement,
                          DescriptorRef target);

}  // namespace quillmesh
