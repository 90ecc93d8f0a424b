#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "host/import_driver.h"

namespace qmhost {
namespace {

// A stand-in module: ReadStart asks for a 3D layer, ReadContinue hands over a
// handle of its own holding kScene, and ReadFinish disposes it unless told to
// keep it.
const std::vector<uint8_t> kScene = {0x00, 0x00, 0x00, 0x10, 0xAB, 0xCD, 0xEF};
bool gModuleKeepsHandle = false;
std::uintptr_t gHandedMemory = 0;

void HOSTAPI_CALL sceneModule(int16_t selector, void* parameters, intptr_t*, int16_t* result) {
    auto& record = *static_cast<FormatRecord*>(parameters);
    *result = 0;
    if (selector == kSelectorReadStart) {
        record.threeDLayerSlot = THREE_D_LAYER_SLOT_WANTED;
    } else if (selector == kSelectorReadContinue) {
        auto& layer = *reinterpret_cast<ThreeDLayerRecord*>(record.threeDLayerSlot);
        layer.sceneDescriptor =
            record.handleRoutines->newHandle(static_cast<int32_t>(kScene.size()));
        std::memcpy(layer.sceneDescriptor->memory, kScene.data(), kScene.size());
        layer.sceneDelivered = 1;
        gHandedMemory = reinterpret_cast<std::uintptr_t>(layer.sceneDescriptor->memory);
    } else if (selector == kSelectorReadFinish && !gModuleKeepsHandle) {
        auto& layer = *reinterpret_cast<ThreeDLayerRecord*>(record.threeDLayerSlot);
        record.handleRoutines->disposeHandle(layer.sceneDescriptor);
    }
}

TEST(ImportDriverTest, OutcomeTakesTheDisposedSceneHandlesStorage) {
    gModuleKeepsHandle = false;
    Host host;
    const ImportOutcome outcome = runImport(host, sceneModule, u"scene.kvt");
    EXPECT_EQ(outcome.result(), 0);
    EXPECT_TRUE(outcome.sceneDelivered);
    EXPECT_EQ(outcome.sceneBytes, kScene);
    // The handle's own memory, not a copy of it.
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(outcome.sceneBytes.data()), gHandedMemory);
    EXPECT_EQ(host.handles().live(), 0u);
    EXPECT_TRUE(host.balanced()) << host.accountSummary();
}

TEST(ImportDriverTest, SceneHandleTheModuleKeepsIsCopied) {
    gModuleKeepsHandle = true;
    Host host;
    const ImportOutcome outcome = runImport(host, sceneModule, u"scene.kvt");
    EXPECT_EQ(outcome.sceneBytes, kScene);
    ASSERT_EQ(host.handles().live(), 1u);
    // Disposing it later keeps nothing back for anyone.
    host.handles().dispose(host.threeDLayer().sceneDescriptor);
    EXPECT_FALSE(host.handles().takeKept().has_value());
    EXPECT_TRUE(host.balanced()) << host.accountSummary();
}

}  // namespace
}  // namespace qmhost
