// The post-load steps in the order a load runs them.
#include "postprocess/postprocess.h"

namespace quillmesh {

bool runPostLoadSteps(ModelData& model) noexcept {
    computeFaceNormals(model);
    countBoneUse(model);
    countMaterialUse(model);
    for (const ModelVertex& vertex : model.vertices.items) {
        normalizeVertexWeights(model.weightsOf(vertex));
    }
    bool namesDone = sanitizeNames(model);
    namesDone = replaceLeadingDigit(model) && namesDone;
    namesDone = deduplicateNames(model.lights) && namesDone;
    namesDone = deduplicateNames(model.cameras) && namesDone;
    namesDone = deduplicateNames(model.bones) && namesDone;
    namesDone = deduplicateNames(model.groups) && namesDone;
    namesDone = deduplicateNames(model.materials) && namesDone;
    return namesDone;
}

}  // namespace quillmesh
