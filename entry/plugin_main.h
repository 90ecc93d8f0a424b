// The module's entry point and the state it keeps between calls.
#pragma once

#include <cstdint>

#include "hostapi/host_api.h"

#if defined(_WIN32)
#define QUILLMESH_EXPORT
#else
#define QUILLMESH_EXPORT __attribute__((visibility("default")))
#endif

extern "C" {
// Called by the host once per selector. Never throws; every outcome is
// reported through `result`.
QUILLMESH_EXPORT void HOSTAPI_CALL PluginMain(int16_t selector, void* parameters, intptr_t* data,
                                              int16_t* result);
}

namespace quillmesh {

// The module's block in the host's data slot. It is found again by every later
// selector of the host session and lives until the module is unloaded.
struct ReadDataBlock {
    uint8_t* pixelBuffer;        // rows handed over on the flat-image path
    intptr_t pixelBufferHandle;  // the host handle behind pixelBuffer; 0 when none is held
    int16_t rowsPerChunk;        // rows per delivery chunk
};

// The context of the current call, overwritten at the start of every call.
struct GlobalsBlock {
    const BasicSuite* basicSuite;
    PluginRef pluginRef;
    void* formatRecord;  // the parameter block as passed
    ReadDataBlock* dataBlock;
    int16_t* resultCode;
};

extern GlobalsBlock gGlobals;

inline FormatRecord* currentFormatRecord() {
    return static_cast<FormatRecord*>(gGlobals.formatRecord);
}
inline void setResult(int16_t code) {
    *gGlobals.resultCode = code;
}
inline int16_t currentResult() {
    return *gGlobals.resultCode;
}

// The plug-in's own name for a selector ("UNKNOWN" outside 0..17).
const char* selectorName(int16_t selector);

// Whether releaseAllSuites runs after the handler whatever the result.
bool selectorEndsPhase(int16_t selector);

}  // namespace quillmesh
