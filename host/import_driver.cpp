#include "host/import_driver.h"

#include <optional>
#include <utility>

namespace qmhost {

int16_t ImportOutcome::result() const {
    for (int16_t code : {prepareResult, startResult, continueResult, finishResult}) {
        if (code != 0) {
            return code;
        }
    }
    return 0;
}

ImportOutcome runImport(Host& host, PluginMainRoutine entry, const std::u16string& path,
                        const ImportOptions& options) {
    ImportOutcome outcome;
    FormatRecord& record = host.formatRecord();
    host.setPath(path);
    record.flatImageRequest = options.flatImageRequest ? 1 : 0;
    record.requestedSize = options.requestedSize;
    host.threeDLayer() = ThreeDLayerRecord{};

    outcome.prepareResult = host.call(entry, kSelectorReadPrepare);
    if (outcome.prepareResult != 0) {
        return outcome;
    }
    outcome.startResult = host.call(entry, kSelectorReadStart);
    if (outcome.startResult != 0) {
        return outcome;
    }
    if (options.takesThreeDLayers && record.threeDLayerSlot == THREE_D_LAYER_SLOT_WANTED) {
        record.threeDLayerSlot = reinterpret_cast<intptr_t>(&host.threeDLayer());
    }
    outcome.continueResult = host.call(entry, kSelectorReadContinue);

    const ThreeDLayerRecord& layer = host.threeDLayer();
    outcome.sceneDelivered = layer.sceneDelivered != 0;
    // The module disposes the scene's handle in ReadFinish; the host keeps its
    // storage then instead of copying the bytes now.
    const HostHandle scene = layer.sceneDescriptor;
    const bool keeping = scene != nullptr && host.handles().keepOnDispose(scene);

    outcome.finishResult = host.call(entry, kSelectorReadFinish);
    outcome.finishCalled = true;
    if (keeping) {
        if (std::optional<std::vector<uint8_t>> kept = host.handles().takeKept()) {
            outcome.sceneBytes = std::move(*kept);
        } else {
            // The module kept the handle: its bytes as they are now.
            const std::span<const uint8_t> bytes = host.handles().bytes(scene);
            outcome.sceneBytes.assign(bytes.begin(), bytes.end());
        }
    }
    return outcome;
}

}  // namespace qmhost
