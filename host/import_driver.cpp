#include "host/import_driver.h"

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
    if (layer.sceneDescriptor != nullptr) {
        std::span<const uint8_t> bytes = host.handles().bytes(layer.sceneDescriptor);
        outcome.sceneBytes.assign(bytes.begin(), bytes.end());
    }

    outcome.finishResult = host.call(entry, kSelectorReadFinish);
    outcome.finishCalled = true;
    return outcome;
}

}  // namespace qmhost
