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
#include <functional>

#include "hostapi/host_api.h"
#include "scene/descriptor_suites.h"

namespace quillmesh {

struct ImportScene;
struct SceneMesh;
struct SceneKeyTrack;
struct ScenePreservation;

struct SceneWriterContext {
    DescriptorSuites suites;
    // When set, called with the root descriptor once every scene value is on
    // it, just before it is flattened; false fails the write.
    std::function<bool(DescriptorRef root)> finishRoot{};
};

// Builds and flattens the scene descriptor. On success *out holds a new
// handle the caller owns; on failure *out is left untouched. Fails, making
// nothing, when the scene or out is null or the descriptor, list, control or
// ZString suite (or a routine of theirs the writer calls) is missing. Fails, freeing
// everything it made, when the host cannot make a descriptor or list, cannot
// flatten the root, or a "facl"/"faci" block cannot be built.
bool writeSceneDescriptor(const SceneWriterContext& context, const ImportScene* scene,
                          HostHandle* out);

// The same descriptor, built from a scene that is not needed afterwards: each
// mesh's geometry arrays are released as soon as the host holds its copy of
// them, so the scene's geometry, the host's and the flattened descriptor are
// never all in memory together.
bool writeSceneDescriptorReleasingGeometry(const SceneWriterContext& context, ImportScene& scene,
                                           HostHandle* out);

// Puts the mesh's geometry blocks "verl", "nrml", "lnfl", "lncl", "vnvl" and
// "uvl " (each only when present) on meshDescriptor. When a block's buffer
// cannot be obtained, or its length would not fit the host's 32-bit data
// length, that block and the rest are skipped.
void writeMeshGeometry(const SceneWriterContext& context, const SceneMesh& mesh,
                       DescriptorRef meshDescriptor);

// Puts "facl" (when the mesh has polygons) and "faci" on meshDescriptor; puts
// nothing when the mesh has no corners. False, putting nothing, when the
// polygons do not use the mesh's corner array in order (each polygon's
// corners following the previous one's, all of it used), a buffer cannot be
// obtained or a block would not fit the host's 32-bit data length.
bool writePolygons(const SceneWriterContext& context, const SceneMesh& mesh,
                   DescriptorRef meshDescriptor);

DescriptorRef writeKeyTrack(const SceneWriterContext& context, const SceneKeyTrack& track);

// A new descriptor for the preservation record (the caller frees it), or null
// when the host cannot make it.
DescriptorRef writePreservation(const SceneWriterContext& context, const ScenePreservation& record);

}  // namespace quillmesh
