// The handlers of the read selectors: describe the document, import the
// ModelFile into a scene descriptor for the host, and clean up.
#pragma once

#include <cstdint>

#include "hostapi/host_api.h"

namespace quillmesh {

// Path buffer size in UTF-16 units, including the terminating NUL.
inline constexpr std::size_t kPathBufferUnits = 2048;

// The private document resource stored by every import.
inline constexpr uint32_t kPrivateResourceType = HOST_FOURCC('U', 's', 'R', 't');
inline constexpr char kPrivateResourceText[] = "block of data";
inline constexpr int32_t kPrivateResourceBytes = 13;

inline constexpr int16_t kRowsPerChunk = 1024;

struct ReadDataBlock;
struct ImportScene;

// Where ReadContinue gets its scene: the ModelFile reader, or whatever a test
// hands it. Null restores the reader.
using SceneSource = ImportScene* (*)(const char16_t* path);
void setSceneSource(SceneSource source);

void readStart(FormatRecord& record);
void readContinue(FormatRecord& record);
void readFinish(FormatRecord& record);

// Hands the document's rows to the host through the advance-state routine,
// from a zeroed buffer held in `block` until ReadFinish.
void deliverFlatImage(FormatRecord& record, ReadDataBlock& block);

}  // namespace quillmesh
