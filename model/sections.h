// The counting and decoding routine of every section of a classic (version 6 to 33) ModelFile
// body, in file order. countSections and decodeSections (model/sections.cpp) run them.
//
// A counting routine stores the cursor in its slot's sectionStart, reads the section's int32
// count and every record of the layout the model version selects into scratch values (nothing
// is allocated, no path is resolved), and stores the count in model.declaredCounts. The mesh
// counter also sets model.cornerTotal to the sum of the polygon corner counts. A decoding routine
// reads the count again and fills the arrays made by the allocation step, never writing past
// them. All return false at the first short read or failed allocation.
#pragma once

#include "model/kvt_plugin.h"

namespace quillmesh {

bool countLights(KVTPlugin& plugin, const ModelHeader& header);
bool decodeLights(KVTPlugin& plugin, const ModelHeader& header);
bool countCameras(KVTPlugin& plugin, const ModelHeader& header);
bool decodeCameras(KVTPlugin& plugin, const ModelHeader& header);
bool countMaterials(KVTPlugin& plugin, const ModelHeader& header);
bool decodeMaterials(KVTPlugin& plugin, const ModelHeader& header);
bool countGroups(KVTPlugin& plugin, const ModelHeader& header);
bool decodeGroups(KVTPlugin& plugin, const ModelHeader& header);
bool countVertices(KVTPlugin& plugin, const ModelHeader& header);
bool decodeVertices(KVTPlugin& plugin, const ModelHeader& header);
// Present from version 30 on.
bool countAuxRecords(KVTPlugin& plugin, const ModelHeader& header);
bool decodeAuxRecords(KVTPlugin& plugin, const ModelHeader& header);
bool countUVSets(KVTPlugin& plugin, const ModelHeader& header);
bool decodeUVSets(KVTPlugin& plugin, const ModelHeader& header);
bool countMeshes(KVTPlugin& plugin, const ModelHeader& header);
bool decodeMeshes(KVTPlugin& plugin, const ModelHeader& header);
bool countBones(KVTPlugin& plugin, const ModelHeader& header);
bool decodeBones(KVTPlugin& plugin, const ModelHeader& header);
bool countAnimations(KVTPlugin& plugin, const ModelHeader& header);
bool decodeAnimations(KVTPlugin& plugin, const ModelHeader& header);

}  // namespace quillmesh
