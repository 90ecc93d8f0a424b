// Turns an ImportScene into the host's scene descriptor: one action descriptor
// built through the DescriptorSuites and flattened into a host handle. The
// keys, their value types and their order are the contract with the host.
//
// Every routine here reads the scene and never changes it. Results of the
// host's put routines are not examined; every descriptor and list the writer
// makes is freed again once it has been put (the host's puts copy their
// value), on success and on every failure path. Text values (names, texture
// paths and the other string keys) go to the host as ZStrings made from the
// UTF-16 form of the scene's UTF-8 texts; every ZString made is released
// after its put. Text carried as raw data ("key3DPaintType", "LyrN" and the
// preservation blocks) is put as the scene holds it.
#pragma once

#include <cstddef>

#include "hostapi/host_api.h"
#include "scene/descriptor_suites.h"

namespace quillmesh {

struct ImportScene;
struct SceneMesh;
struct SceneKeyTrack;
struct ScenePreservation;

struct SceneWriterContext {
    DescriptorSuites suites;
};

// Builds and flattens the scene descriptor. On success *out holds a new
// handle the caller owns; on failure *out is left untouched. Fails, making
// nothing, when the scene or out is null or the descriptor, list, control or
// ZString suite (or a routine of theirs the writer calls) is missing. Fails, freeing
// everything it made, when the host cannot make a descriptor or list, cannot
// flatten the root, or a "facl"/"faci" block cannot be built.
bool writeSceneDescriptor(const SceneWriterContext& context, const ImportScene* scene,
                          HostHandle* out);

// Puts the mesh's geometry blocks "verl", "nrml", "lnfl", "lncl", "vnvl" and
// "uvl " (each only when present) on meshDescriptor. When a block's buffer
// cannot be obtained, or its length would not fit the host's 32-bit data
// length, that block and the rest are skipped.
void writeMeshGeometry(const SceneWriterContext& context, const SceneMesh& mesh,
                       DescriptorRef meshDescriptor);

// Puts "facl" (when the mesh has polygons) and "faci" on meshDescriptor; puts
// nothing when totalCorners is 0. False, putting nothing, when totalCorners is
// not the sum of the polygons' corner counts, a buffer cannot be obtained or
// a block would not fit the host's 32-bit data length.
bool writePolygons(const SceneWriterContext& context, const SceneMesh& mesh,
                   std::size_t totalCorners, DescriptorRef meshDescriptor);

DescriptorRef writeKeyTrack(const SceneWriterContext& context, const SceneKeyTrack& track);

// A new descriptor for the preservation record (the caller frees it), or null
// when the host cannot make it.
DescriptorRef writePreservation(const SceneWriterContext& context, const ScenePreservation& record);

}  // namespace quillmesh
