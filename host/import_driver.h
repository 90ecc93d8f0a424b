// Drives one import through the module the way the application does: the four
// read selectors in order, with or without a 3D-layer record.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "host/host.h"

namespace qmhost {

struct ImportOptions {
    // A host that takes 3D layers puts its record into the slot before
    // ReadContinue; one that does not leaves the module's marker there.
    bool takesThreeDLayers = true;
    bool flatImageRequest = false;
    HostSize32 requestedSize{0, 0};
};

struct ImportOutcome {
    int16_t prepareResult = 0;
    int16_t startResult = 0;
    int16_t continueResult = 0;
    int16_t finishResult = 0;
    bool finishCalled = false;
    bool sceneDelivered = false;
    // The flattened scene descriptor in the handle the 3D-layer record held
    // after ReadContinue: the handle's own storage, taken when the module
    // disposes it in ReadFinish (its bytes then, should the module keep it).
    std::vector<uint8_t> sceneBytes;

    // The first nonzero result, or 0.
    int16_t result() const;
};

// Runs ReadPrepare, ReadStart, ReadContinue and ReadFinish on `host`. A failed
// ReadPrepare or ReadStart ends the operation there; ReadFinish follows
// whenever ReadStart succeeded.
ImportOutcome runImport(Host& host, PluginMainRoutine entry, const std::u16string& path,
                        const ImportOptions& options = {});

}  // namespace qmhost
