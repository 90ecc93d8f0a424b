// The two passes over the sections of a classic ModelFile body, in file order. The aux-record and
// UV-set sections exist only from version 30 on. The first routine that fails ends the pass.
#include "model/sections.h"

#include <array>

namespace quillmesh {
namespace {

using SectionRoutine = bool (*)(KVTPlugin&, const ModelHeader&);

struct SectionStep {
    SectionRoutine count;
    SectionRoutine decode;
    bool fromNewLayoutOnly;
};

constexpr std::array<SectionStep, kSectionCount> kSectionSteps{{
    {countLights, decodeLights, false},
    {countCameras, decodeCameras, false},
    {countMaterials, decodeMaterials, false},
    {countGroups, decodeGroups, false},
    {countVertices, decodeVertices, false},
    {countAuxRecords, decodeAuxRecords, true},
    {countUVSets, decodeUVSets, true},
    {countMeshes, decodeMeshes, false},
    {countBones, decodeBones, false},
    {countAnimations, decodeAnimations, false},
}};

template <typename Pick>
bool runPass(KVTPlugin& plugin, const ModelHeader& header, Pick pick) {
    const bool hasNewSections = plugin.model.version >= kNewLayoutVersion;
    for (const SectionStep& step : kSectionSteps) {
        if (step.fromNewLayoutOnly && !hasNewSections) {
            continue;
        }
        if (!pick(step)(plugin, header)) {
            return false;
        }
    }
    return true;
}

}  // namespace

bool KVTPlugin::countSections(const ModelHeader& header) {
    return runPass(*this, header, [](const SectionStep& step) { return step.count; });
}

bool KVTPlugin::decodeSections(const ModelHeader& header) {
    return runPass(*this, header, [](const SectionStep& step) { return step.decode; });
}

}  // namespace quillmesh
