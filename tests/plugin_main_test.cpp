// The entry point driven by our host: selector table, host check, document
// description, private resource, hand-over, clean-up and suite balance.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "entry/import_sequence.h"
#include "entry/plugin_main.h"
#include "entry/suites.h"
#include "host/host.h"
#include "host/import_driver.h"

namespace {

using qmhost::Host;
using quillmesh::gGlobals;

constexpr uint32_t kUsRt = 0x55735274;

class PluginMainTest : public ::testing::Test {
  protected:
    void SetUp() override { gGlobals.basicSuite = &host.basicSuite(); }
    void TearDown() override {
        gGlobals.basicSuite = &host.basicSuite();
        quillmesh::releaseAllSuites();
    }

    int16_t call(int16_t selector) { return host.call(PluginMain, selector); }

    // Calls the entry point with a result already set, as a host may.
    int16_t callWithResult(int16_t selector, int16_t preset) {
        int16_t result = preset;
        PluginMain(selector, &host.formatRecord(), &host.dataSlot(), &result);
        return result;
    }

    // Acquires the handle suite holder through this host, as ReadFinish would.
    void holdHandleSuite() {
        gGlobals.basicSuite = &host.basicSuite();
        quillmesh::handleSuiteHolder().get();
        ASSERT_TRUE(quillmesh::handleSuiteHolder().held());
    }

    std::string privateResource(int index) {
        const std::vector<uint8_t>* bytes = host.resources().get(kUsRt, index);
        return bytes == nullptr ? std::string("<none>") : std::string(bytes->begin(), bytes->end());
    }

    Host host;
};

TEST_F(PluginMainTest, SelectorNames) {
    EXPECT_STREQ(quillmesh::selectorName(0), "About");
    EXPECT_STREQ(quillmesh::selectorName(3), "ReadContinue");
    EXPECT_STREQ(quillmesh::selectorName(10), "EstimateStart");
    EXPECT_STREQ(quillmesh::selectorName(17), "FilterFile");
    EXPECT_STREQ(quillmesh::selectorName(18), "UNKNOWN");
    EXPECT_STREQ(quillmesh::selectorName(-1), "UNKNOWN");
}

TEST_F(PluginMainTest, PrepareSelectorsClearMaximumData) {
    for (int16_t selector : {1, 5, 9, 13}) {
        host.formatRecord().maxData = 12345;
        EXPECT_EQ(call(selector), 0) << selector;
        EXPECT_EQ(host.formatRecord().maxData, 0) << selector;
    }
}

TEST_F(PluginMainTest, SelectorsWithoutWorkLeaveTheRecordAlone) {
    for (int16_t selector : {7, 8, 11, 12, 14, 15, 16, 17, 18, 100, -1, -32768}) {
        FormatRecord& record = host.formatRecord();
        record.maxData = 77;
        record.data = &record;
        record.minDataBytes = 5;
        record.maxDataBytes = 6;
        record.imageMode = 9;
        EXPECT_EQ(call(selector), 0) << selector;
        EXPECT_EQ(record.maxData, 77) << selector;
        EXPECT_EQ(record.data, &record) << selector;
        EXPECT_EQ(record.minDataBytes, 5) << selector;
        EXPECT_EQ(record.maxDataBytes, 6) << selector;
        EXPECT_EQ(record.imageMode, 9) << selector;
    }
}

TEST_F(PluginMainTest, OptionsStartClearsData) {
    host.formatRecord().data = &host;
    EXPECT_EQ(call(kSelectorOptionsStart), 0);
    EXPECT_EQ(host.formatRecord().data, nullptr);
}

TEST_F(PluginMainTest, EstimateStartStoresRowsTimesRowBytes) {
    struct Case {
        int16_t rows;
        int32_t rowBytes;
        int32_t expected;
    };
    const Case cases[] = {
        {1024, 4096, 1024 * 4096},
        {0, 4096, 0},
        {-2, 100, -200},
        {32767, INT32_MAX, INT32_MAX},  // saturates instead of wrapping
    };
    for (const Case& c : cases) {
        FormatRecord& record = host.formatRecord();
        record.imageSize.rows = c.rows;
        record.rowBytes = c.rowBytes;
        record.data = &record;
        EXPECT_EQ(call(kSelectorEstimateStart), 0);
        EXPECT_EQ(record.minDataBytes, c.expected) << c.rows << " x " << c.rowBytes;
        EXPECT_EQ(record.maxDataBytes, c.expected) << c.rows << " x " << c.rowBytes;
        EXPECT_EQ(record.data, nullptr);
    }
}

TEST_F(PluginMainTest, SuitesAreReleasedAtPhaseEndsAndOnError) {
    struct Case {
        int16_t selector;
        int16_t presetResult;
        bool released;
    };
    const Case cases[] = {
        {1, 0, false},  {2, 0, false},  {5, 0, false},  {6, 0, false},  {7, 0, false},
        {8, 0, true},   {9, 0, false},  {10, 0, false}, {11, 0, false}, {12, 0, true},
        {13, 0, false}, {14, 0, false}, {15, 0, false}, {16, 0, true},  {17, 0, true},
        {18, 0, false}, {-1, 0, false}, {18, 7, true},  {-5, -1, true}, {7, 3, true},
        {14, -9, true},
    };
    for (const Case& c : cases) {
        holdHandleSuite();
        callWithResult(c.selector, c.presetResult);
        EXPECT_EQ(quillmesh::handleSuiteHolder().held(), !c.released)
            << "selector " << c.selector << " result " << c.presetResult;
        quillmesh::releaseAllSuites();
        EXPECT_EQ(host.suitesHeld(), 0u);
    }
}

TEST_F(PluginMainTest, AboutReleasesSuitesAndNeverReadsTheFormatRecord) {
    holdHandleSuite();
    // A format record without routines would fail the host check; About must
    // not look at it.
    host.formatRecord().resourceRoutines = nullptr;
    host.formatRecord().advanceState = nullptr;
    int16_t result = 0;
    intptr_t slot = 0;
    PluginMain(kSelectorAbout, &host.aboutRecord(), &slot, &result);
    EXPECT_EQ(result, 0);
    EXPECT_FALSE(quillmesh::handleSuiteHolder().held());
    EXPECT_EQ(gGlobals.pluginRef, host.aboutRecord().pluginRef);
    EXPECT_EQ(gGlobals.basicSuite, host.aboutRecord().basicSuite);
    EXPECT_EQ(slot, 0) << "About allocates no data block";
    EXPECT_TRUE(host.balanced()) << host.accountSummary();
}

TEST_F(PluginMainTest, HostLackingARequiredRoutineIsRefused) {
    enum Missing { kCount, kGet, kAdd, kAllResources, kAdvance };
    for (Missing missing : {kCount, kGet, kAdd, kAllResources, kAdvance}) {
        Host local;
        gGlobals.basicSuite = &local.basicSuite();
        quillmesh::handleSuiteHolder().get();
        FormatRecord& record = local.formatRecord();
        switch (missing) {
            case kCount:
                local.resourceRoutines().countResources = nullptr;
                break;
            case kGet:
                local.resourceRoutines().getResource = nullptr;
                break;
            case kAdd:
                local.resourceRoutines().addResource = nullptr;
                break;
            case kAllResources:
                record.resourceRoutines = nullptr;
                break;
            case kAdvance:
                record.advanceState = nullptr;
                break;
        }
        for (int16_t selector = 1; selector <= 18; ++selector) {
            record.maxData = 55;
            record.imageMode = 0;
            EXPECT_EQ(local.call(PluginMain, selector), RESULT_HOST_INSUFFICIENT)
                << "missing " << missing << " selector " << selector;
            EXPECT_EQ(record.maxData, 55);
            EXPECT_EQ(record.imageMode, 0);
        }
        EXPECT_EQ(local.dataSlot(), 0) << "no handler ran, no block was made";
        EXPECT_TRUE(quillmesh::handleSuiteHolder().held()) << "nothing is released";
        EXPECT_EQ(local.call(PluginMain, kSelectorAbout), 0);
        EXPECT_FALSE(quillmesh::handleSuiteHolder().held());
    }
}

TEST_F(PluginMainTest, ThirtyTwoBitCoordinateHandshake) {
    FormatRecord& record = host.formatRecord();
    record.hostSupports32BitCoordinates = 0;
    record.pluginUsing32BitCoordinates = 5;
    call(kSelectorReadPrepare);
    EXPECT_EQ(record.pluginUsing32BitCoordinates, 5);
    record.hostSupports32BitCoordinates = 1;
    record.pluginUsing32BitCoordinates = 0;
    call(kSelectorReadPrepare);
    EXPECT_EQ(record.pluginUsing32BitCoordinates, 1);
}

TEST_F(PluginMainTest, DataBlockIsMadeOnceAndReused) {
    EXPECT_EQ(host.dataSlot(), 0);
    call(kSelectorReadPrepare);
    const intptr_t first = host.dataSlot();
    ASSERT_NE(first, 0);
    call(kSelectorReadStart);
    EXPECT_EQ(host.dataSlot(), first);
    EXPECT_EQ(reinterpret_cast<quillmesh::ReadDataBlock*>(first)->rowsPerChunk, 1024);
}

TEST_F(PluginMainTest, ReadStartDescribesTheDocument) {
    struct Case {
        int32_t rows, columns;
        bool flat;
        int16_t expectRows, expectColumns;
        int32_t expectRowBytes;  // -1: left as the host set it
    };
    const Case cases[] = {
        {0, 0, false, 1024, 1024, 4096},
        {300, 0, false, 1024, 1024, 4096},
        {0, 500, false, 1024, 1024, 4096},
        {300, 500, false, 300, 500, 2000},
        {-4, 500, false, 1024, 1024, 4096},
        {300, 500, true, 300, 500, -1},
        {0, 0, true, 0, 0, -1},
        {-3, 7, true, 0, 7, -1},
    };
    for (const Case& c : cases) {
        FormatRecord& record = host.formatRecord();
        record.requestedSize = HostSize32{c.rows, c.columns};
        record.flatImageRequest = c.flat ? 1 : 0;
        record.rowBytes = 999;
        record.data = &record;
        record.threeDLayerSlot = 0;
        ASSERT_EQ(call(kSelectorReadStart), 0);
        SCOPED_TRACE(testing::Message() << c.rows << " x " << c.columns << " flat " << c.flat);
        EXPECT_EQ(record.imageSize.rows, c.expectRows);
        EXPECT_EQ(record.imageSize.columns, c.expectColumns);
        EXPECT_EQ(record.imageSize32.rows, c.expectRows);
        EXPECT_EQ(record.imageSize32.columns, c.expectColumns);
        EXPECT_EQ(record.rowBytes, c.expectRowBytes < 0 ? 999 : c.expectRowBytes);
        EXPECT_EQ(record.imageMode, 3);
        EXPECT_EQ(record.depth, 8);
        EXPECT_EQ(record.planes, 4);
        EXPECT_EQ(record.planeBytes, 1);
        EXPECT_EQ(record.columnBytes, 4);
        EXPECT_EQ(record.firstPlane, 0);
        EXPECT_EQ(record.lastPlane, 3);
        EXPECT_EQ(record.planeMap[0], 2);
        EXPECT_EQ(record.planeMap[1], 1);
        EXPECT_EQ(record.planeMap[2], 0);
        EXPECT_EQ(record.planeMap[3], 3);
        EXPECT_EQ(record.horizontalResolution, 0x00480000);
        EXPECT_EQ(record.verticalResolution, 0x00480000);
        EXPECT_EQ(record.data, nullptr);
        EXPECT_EQ(record.threeDLayerSlot, 1);
    }
}

TEST_F(PluginMainTest, ReadStartTruncatesTheSixteenBitSize) {
    FormatRecord& record = host.formatRecord();
    record.requestedSize = HostSize32{70000, 40000};
    ASSERT_EQ(call(kSelectorReadStart), 0);
    EXPECT_EQ(record.imageSize32.rows, 70000);
    EXPECT_EQ(record.imageSize32.columns, 40000);
    EXPECT_EQ(record.imageSize.rows, static_cast<int16_t>(70000));
    EXPECT_EQ(record.imageSize.columns, static_cast<int16_t>(40000));
    EXPECT_EQ(record.rowBytes, 160000);
}

TEST_F(PluginMainTest, ImportWithoutSceneFailsAndStoresThePrivateResource) {
    for (bool takesLayers : {true, false}) {
        Host local;
        gGlobals.basicSuite = &local.basicSuite();
        qmhost::ImportOptions options;
        options.takesThreeDLayers = takesLayers;
        const qmhost::ImportOutcome outcome =
            qmhost::runImport(local, PluginMain, u"/no/such/model.kvt", options);
        EXPECT_EQ(outcome.continueResult, RESULT_IMPORT_FAILED);
        EXPECT_EQ(outcome.finishResult, 0);
        EXPECT_FALSE(outcome.sceneDelivered);
        EXPECT_TRUE(outcome.sceneBytes.empty());
        EXPECT_EQ(local.threeDLayer().sceneDescriptor, nullptr);
        EXPECT_EQ(local.resources().count(kUsRt), 1);
        EXPECT_TRUE(local.advanceCalls().empty());
        EXPECT_TRUE(local.balanced()) << local.accountSummary();
    }
}

TEST_F(PluginMainTest, PrivateResourceKeepsExactlyOne) {
    struct Case {
        int existing;
        int expectedCount;
        bool replaced;
    };
    const Case cases[] = {{0, 1, true}, {1, 1, true}, {2, 2, false}, {3, 3, false}};
    for (const Case& c : cases) {
        Host local;
        gGlobals.basicSuite = &local.basicSuite();
        for (int i = 0; i < c.existing; ++i) {
            local.resources().add(kUsRt, {'o', 'l', 'd', static_cast<uint8_t>('0' + i)});
        }
        local.resources().add(0x4F746872, {'x'});  // another type stays untouched
        qmhost::runImport(local, PluginMain, u"model.kvt");
        EXPECT_EQ(local.resources().count(kUsRt), c.expectedCount) << c.existing;
        const std::vector<uint8_t>* first = local.resources().get(kUsRt, 1);
        ASSERT_NE(first, nullptr);
        const std::string text(first->begin(), first->end());
        EXPECT_EQ(text, c.replaced ? "block of data" : "old0") << c.existing;
        EXPECT_EQ(local.resources().count(0x4F746872), 1);
        EXPECT_TRUE(local.balanced()) << local.accountSummary();
    }
}

TEST_F(PluginMainTest, FailedImportsReportErrorsAndLeaveNothingHeld) {
    enum Failure {
        kDescriptorSuite,
        kListSuite,
        kControlSuite,
        kZStringSuite,
        kResourceSuite,
        kHandles,
        kLongPath,
        kNoPath
    };
    struct Case {
        Failure failure;
        int expectedResources;
    };
    const Case cases[] = {
        {kDescriptorSuite, 1}, {kListSuite, 1}, {kControlSuite, 1}, {kZStringSuite, 1},
        {kResourceSuite, 0},   {kHandles, 0},   {kLongPath, 1},     {kNoPath, 1},
    };
    for (const Case& c : cases) {
        Host local;
        gGlobals.basicSuite = &local.basicSuite();
        std::u16string path = u"model.kvt";
        switch (c.failure) {
            case kDescriptorSuite:
                local.refuseSuite(SUITE_ACTION_DESCRIPTOR_NAME);
                break;
            case kListSuite:
                local.refuseSuite(SUITE_ACTION_LIST_NAME);
                break;
            case kControlSuite:
                local.refuseSuite(SUITE_ACTION_CONTROL_NAME);
                break;
            case kZStringSuite:
                local.refuseSuite(SUITE_ZSTRING_NAME);
                break;
            case kResourceSuite:
                local.refuseSuite(SUITE_RESOURCE_NAME);
                break;
            case kHandles:
                local.handles().failAfter(0);
                break;
            case kLongPath:
                path.assign(2048, u'a');
                break;
            case kNoPath:
                break;
        }
        local.setPath(path);
        if (c.failure == kNoPath) {
            local.clearPath();
        }
        local.threeDLayer() = ThreeDLayerRecord{};
        ASSERT_EQ(local.call(PluginMain, kSelectorReadPrepare), 0);
        ASSERT_EQ(local.call(PluginMain, kSelectorReadStart), 0);
        local.formatRecord().threeDLayerSlot = reinterpret_cast<intptr_t>(&local.threeDLayer());
        EXPECT_EQ(local.call(PluginMain, kSelectorReadContinue), RESULT_IMPORT_FAILED)
            << "failure " << c.failure;
        EXPECT_EQ(local.suitesHeld(), 0u) << "failure " << c.failure;
        EXPECT_EQ(local.resources().count(kUsRt), c.expectedResources) << "failure " << c.failure;
        EXPECT_EQ(local.threeDLayer().sceneDelivered, 0);
        local.handles().failAfter(-1);
        EXPECT_EQ(local.call(PluginMain, kSelectorReadFinish), 0);
        EXPECT_TRUE(local.balanced()) << "failure " << c.failure << ": " << local.accountSummary();
    }
}

TEST_F(PluginMainTest, DescriptorSuitesAreRequestedInOrderUntilOneFails) {
    {
        Host local;
        gGlobals.basicSuite = &local.basicSuite();
        local.refuseSuite(SUITE_ACTION_LIST_NAME);
        qmhost::runImport(local, PluginMain, u"model.kvt");
        const auto& use = local.suiteUse();
        EXPECT_EQ(use.at(SUITE_ACTION_DESCRIPTOR_NAME).acquired, 1u);
        EXPECT_EQ(use.count(SUITE_ACTION_CONTROL_NAME), 0u) << "not requested after a failure";
        EXPECT_EQ(use.count(SUITE_ZSTRING_NAME), 0u);
        EXPECT_EQ(use.at(SUITE_RESOURCE_NAME).acquired, 1u);
    }
}

TEST_F(PluginMainTest, ReadFinishRecordsAnEmptyScriptingDescriptor) {
    host.descriptorParameters().descriptor = host.handles().create(3);
    qmhost::runImport(host, PluginMain, u"model.kvt");
    HostHandle recorded = host.descriptorParameters().descriptor;
    ASSERT_NE(recorded, nullptr);
    const std::optional<qmhost::Descriptor> read = host.descriptors().read(recorded);
    ASSERT_TRUE(read.has_value());
    EXPECT_EQ(read->size(), 0u);
    EXPECT_EQ(host.handles().live(), 1u) << "the old descriptor was disposed";
    EXPECT_TRUE(host.balanced()) << host.accountSummary();
}

TEST_F(PluginMainTest, ReadFinishScriptingFailures) {
    enum Failure { kNoParameters, kNoWriteRoutines, kOpenFails, kHandleSuiteRefused };
    for (Failure failure : {kNoParameters, kNoWriteRoutines, kOpenFails, kHandleSuiteRefused}) {
        Host local;
        gGlobals.basicSuite = &local.basicSuite();
        switch (failure) {
            case kNoParameters:
                local.formatRecord().descriptorParameters = nullptr;
                break;
            case kNoWriteRoutines:
                local.descriptorParameters().writeRoutines = nullptr;
                break;
            case kOpenFails:
                local.descriptors().failMakeAfter(0);
                break;
            case kHandleSuiteRefused:
                local.refuseSuite(SUITE_HANDLE_NAME);
                break;
        }
        const qmhost::ImportOutcome outcome = qmhost::runImport(local, PluginMain, u"model.kvt");
        EXPECT_EQ(outcome.finishResult,
                  failure == kHandleSuiteRefused ? RESULT_HOST_INSUFFICIENT : 0)
            << failure;
        EXPECT_EQ(local.descriptorParameters().descriptor, nullptr) << failure;
        EXPECT_TRUE(local.balanced()) << failure << ": " << local.accountSummary();
    }
}

TEST_F(PluginMainTest, ScriptingIsSkippedWithoutALayerRecord) {
    qmhost::ImportOptions options;
    options.takesThreeDLayers = false;
    qmhost::runImport(host, PluginMain, u"model.kvt", options);
    EXPECT_EQ(host.descriptorParameters().descriptor, nullptr);
    EXPECT_EQ(host.descriptors().counts().writeOpened, 0u);
}

TEST_F(PluginMainTest, ReadFinishDisposesTheHandedOverScene) {
    call(kSelectorReadPrepare);
    call(kSelectorReadStart);
    ThreeDLayerRecord& layer = host.threeDLayer();
    layer.sceneDescriptor = host.handles().create(10);
    layer.renderTarget = &layer;
    host.formatRecord().threeDLayerSlot = reinterpret_cast<intptr_t>(&layer);
    EXPECT_EQ(call(kSelectorReadFinish), 0);
    EXPECT_EQ(layer.sceneDescriptor, nullptr);
    EXPECT_EQ(layer.renderTarget, nullptr);
    EXPECT_TRUE(host.balanced()) << host.accountSummary();
}

// The flat-image path runs once a scene was written; here it is driven
// directly after ReadStart so that its row hand-over can be checked.
class FlatDeliveryTest : public PluginMainTest {
  protected:
    quillmesh::ReadDataBlock& startDocument(HostSize32 size, bool flat) {
        host.formatRecord().requestedSize = size;
        host.formatRecord().flatImageRequest = flat ? 1 : 0;
        EXPECT_EQ(call(kSelectorReadStart), 0);
        return *reinterpret_cast<quillmesh::ReadDataBlock*>(host.dataSlot());
    }

    int16_t deliver(quillmesh::ReadDataBlock& block) {
        int16_t result = 0;
        gGlobals.resultCode = &result;
        gGlobals.dataBlock = &block;
        gGlobals.formatRecord = &host.formatRecord();
        quillmesh::deliverFlatImage(host.formatRecord(), block);
        return result;
    }
};

TEST_F(FlatDeliveryTest, OneAdvanceCallPerRow) {
    for (bool use32 : {false, true}) {
        host.advanceCalls().clear();
        host.formatRecord().hostSupports32BitCoordinates = use32 ? 1 : 0;
        host.formatRecord().pluginUsing32BitCoordinates = 0;
        quillmesh::ReadDataBlock& block = startDocument({0, 0}, false);
        ASSERT_EQ(deliver(block), 0);
        const auto& calls = host.advanceCalls();
        ASSERT_EQ(calls.size(), 1024u);
        ASSERT_NE(block.pixelBuffer, nullptr);
        for (std::size_t i = 0; i < calls.size(); ++i) {
            const int row = static_cast<int>(i);
            EXPECT_EQ(calls[i].used32, use32);
            if (use32) {
                EXPECT_EQ(calls[i].rect32.top, row);
                EXPECT_EQ(calls[i].rect32.bottom, row + 1);
                EXPECT_EQ(calls[i].rect32.left, 0);
                EXPECT_EQ(calls[i].rect32.right, 1024);
            } else {
                EXPECT_EQ(calls[i].rect16.top, row);
                EXPECT_EQ(calls[i].rect16.bottom, row + 1);
                EXPECT_EQ(calls[i].rect16.left, 0);
                EXPECT_EQ(calls[i].rect16.right, 1024);
            }
            EXPECT_EQ(calls[i].data, block.pixelBuffer + i * 4096);
        }
        // The rows are transparent black.
        for (std::size_t i = 0; i < 1024u * 4096u; i += 4097) {
            ASSERT_EQ(block.pixelBuffer[i], 0);
        }
        EXPECT_EQ(call(kSelectorReadFinish), 0);
        EXPECT_EQ(block.pixelBuffer, nullptr);
        EXPECT_EQ(block.pixelBufferHandle, 0);
        EXPECT_TRUE(host.balanced()) << host.accountSummary();
    }
}

TEST_F(FlatDeliveryTest, RowsBeyondOneChunkRestartTheBuffer) {
    host.formatRecord().hostSupports32BitCoordinates = 0;
    quillmesh::ReadDataBlock& block = startDocument({2500, 3}, false);
    ASSERT_EQ(deliver(block), 0);
    const auto& calls = host.advanceCalls();
    ASSERT_EQ(calls.size(), 2500u);
    EXPECT_EQ(calls[1024].rect16.top, 1024);
    EXPECT_EQ(calls[1024].data, block.pixelBuffer);
    EXPECT_EQ(calls[2499].rect16.bottom, 2500);
    EXPECT_EQ(calls[2499].data, block.pixelBuffer + (2499 - 2048) * 12);
    call(kSelectorReadFinish);
    EXPECT_TRUE(host.balanced()) << host.accountSummary();
}

TEST_F(FlatDeliveryTest, FailuresDoNotStopTheRowsAndTheLastResultRemains) {
    quillmesh::ReadDataBlock& block = startDocument({4, 2}, false);
    host.scriptAdvanceResults({0, -1, 0, 9});
    EXPECT_EQ(deliver(block), 9);
    EXPECT_EQ(host.advanceCalls().size(), 4u);
    host.advanceCalls().clear();
    host.scriptAdvanceResults({0, 0, 0, 0, -1, 0, 0, 0});
    EXPECT_EQ(deliver(block), 0) << "an earlier failure is overwritten";
    EXPECT_EQ(host.advanceCalls().size(), 4u);
    call(kSelectorReadFinish);
    EXPECT_TRUE(host.balanced()) << host.accountSummary();
}

TEST_F(FlatDeliveryTest, NoBufferMeansNoDeliveryAndAnError) {
    quillmesh::ReadDataBlock& block = startDocument({10, 10}, false);
    host.handles().failAfter(0);
    EXPECT_EQ(deliver(block), RESULT_IMPORT_FAILED);
    EXPECT_TRUE(host.advanceCalls().empty());
    EXPECT_EQ(block.pixelBufferHandle, 0);
    host.handles().failAfter(-1);
    // A flat request keeps the host's row bytes; nonsense ones are refused.
    quillmesh::ReadDataBlock& flat = startDocument({10, 10}, true);
    host.formatRecord().rowBytes = -40;
    EXPECT_EQ(deliver(flat), RESULT_IMPORT_FAILED);
    EXPECT_TRUE(host.advanceCalls().empty());
    call(kSelectorReadFinish);
    EXPECT_TRUE(host.balanced()) << host.accountSummary();
}

class SuiteHolderTest : public PluginMainTest {};

TEST_F(SuiteHolderTest, ReleaseAllWithNothingHeldCallsNothing) {
    quillmesh::releaseAllSuites();
    EXPECT_TRUE(host.suiteUse().empty());
    EXPECT_EQ(host.badReleases(), 0u);
}

TEST_F(SuiteHolderTest, ReleasedHolderIsAcquiredAgain) {
    quillmesh::LazySuite& holder = quillmesh::getFileListSuiteHolder();
    const void* first = holder.get();
    EXPECT_EQ(holder.get(), first) << "held suites are not acquired twice";
    quillmesh::releaseAllSuites();
    EXPECT_FALSE(holder.held());
    EXPECT_NE(holder.get(), nullptr);
    quillmesh::releaseAllSuites();
    const qmhost::SuiteUse use = host.suiteUse().at(SUITE_GET_FILE_LIST_NAME);
    EXPECT_EQ(use.acquired, 2u);
    EXPECT_EQ(use.released, 2u);
}

TEST_F(SuiteHolderTest, AcquisitionFailuresRaiseTheirCode) {
    host.refuseSuite(SUITE_HANDLE_NAME);
    try {
        quillmesh::handleSuiteHolder().get();
        FAIL() << "expected a SuiteError";
    } catch (const quillmesh::SuiteError& error) {
        EXPECT_NE(error.code(), 0);
        EXPECT_EQ(quillmesh::handleSuiteHolder().lastError(), error.code());
    }
    gGlobals.basicSuite = nullptr;
    try {
        quillmesh::handleSuiteHolder().get();
        FAIL() << "expected a SuiteError";
    } catch (const quillmesh::SuiteError& error) {
        EXPECT_EQ(error.code(), 0x5061726D);
    }
}

TEST_F(SuiteHolderTest, SuiteErrorsBecomeNonzeroSixteenBitResults) {
    EXPECT_EQ(quillmesh::resultFromSuiteError(-25), -25);
    EXPECT_EQ(quillmesh::resultFromSuiteError(0x5061726D), RESULT_HOST_INSUFFICIENT);
    EXPECT_EQ(quillmesh::resultFromSuiteError(0x10000), RESULT_HOST_INSUFFICIENT)
        << "a code whose low 16 bits are zero must not read as success";
    EXPECT_EQ(quillmesh::resultFromSuiteError(0), RESULT_HOST_INSUFFICIENT);
}

TEST_F(SuiteHolderTest, ModuleInstanceFollowsTheHost) {
    int defaultModule = 0;
    int resourceModule = 0;
    int stored = 0;
    PluginRef plugin = host.aboutRecord().pluginRef;
    quillmesh::setModuleInstance(&stored);
    EXPECT_EQ(quillmesh::moduleInstance(nullptr), &stored);

    host.setPluginModules(&defaultModule, &resourceModule);
    EXPECT_EQ(quillmesh::moduleInstance(plugin), &resourceModule);
    host.setPluginModules(&defaultModule, nullptr);
    EXPECT_EQ(quillmesh::moduleInstance(plugin), &defaultModule);
    EXPECT_EQ(quillmesh::moduleInstance(nullptr), &defaultModule)
        << "the refreshed handle is cached";

    host.failPluginAccess(true);
    host.setPluginModules(&resourceModule, nullptr);
    EXPECT_EQ(quillmesh::moduleInstance(plugin), &defaultModule) << "kept without an access ref";
    host.failPluginAccess(false);
    host.failAccessInfo(true);
    EXPECT_EQ(quillmesh::moduleInstance(plugin), nullptr) << "cleared without access info";
    quillmesh::setModuleInstance(nullptr);
}

}  // namespace
