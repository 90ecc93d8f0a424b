// Turns an ImportScene into the host's scene descriptor: one action descriptor
// built through the DescriptorSuites and flattened into a host handle. The
// keys, their value types and their order are the contract with the host.
//
// Every routine here reads the scene and never changes it. Results of the
// host's put routines are not examined; every descriptor and list the writer
// makes is freed again once it has been put (the host's puts copy their
// value), on success and on every failure path.
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
// handle the caller owns. Fails, producing nothing (*out untouched), when the
// scene or out is null, the descriptor, list or control suite (or a routine of
// theirs the writer calls) is missing, or the host cannot make the root
// descriptor; fails, freeing everything it made and producing no handle, when
// a "facl"/"faci" buffer or a nested descriptor or list cannot be made.
bool writeSceneDescriptor(const SceneWriterContext& context, const ImportScene* scene,
                          HostHandle* out);

// Puts the mesh's geometry blocks "verl", "nrml", "lnfl", "lncl", "vnvl" and
// "uvl " (each only when present) on meshDescriptor. When a block's buffer
// cannot be obtained, that block and the rest are skipped.
void writeMeshGeometry(const SceneWriterContext& context, const SceneMesh& mesh,
                       DescriptorRef meshDescriptor);

// Puts "facl" (when the mesh has polygons) and "faci" on meshDescriptor.
// totalCorners is the sum of the polygons' corner counts. False when a buffer
// cannot be obtained or a block would not fit the host's 32-bit length.
bool writePolygons(const SceneWriterContext& context, const SceneMesh& mesh,
                   std::size_t totalCorners, DescriptorRef meshDescriptor);

// A new descriptor for the track (the caller frees it), or null when the host
// cannot make one of the descriptors or lists it needs (nothing is left made).
DescriptorRef writeKeyTrack(const SceneWriterContext& context, const SceneKeyTrack& track);

// A new descriptor for the preservation record (the caller frees it), or null
// when the host cannot make it.
DescriptorRef writePreservation(const SceneWriterContext& context, const ScenePreservation& record);

}  // namespace quillmesh
