#include "entry/plugin_main.h"

#include <cstdlib>
#include <memory>
#include <new>
#include <vector>

#include "entry/about.h"
#include "entry/import_sequence.h"
#include "entry/suites.h"

namespace quillmesh {

GlobalsBlock gGlobals{};

namespace {

constexpr int16_t kAboutDialogId = 16000;

constexpr const char* kSelectorNames[] = {
    "About",          "ReadPrepare",      "ReadStart",       "ReadContinue",  "ReadFinish",
    "OptionsPrepare", "OptionsStart",     "OptionsContinue", "OptionsFinish", "EstimatePrepare",
    "EstimateStart",  "EstimateContinue", "EstimateFinish",  "WritePrepare",  "WriteStart",
    "WriteContinue",  "WriteFinish",      "FilterFile",
};

// Every ReadDataBlock the module handed out. The host keeps the address in its
// data slot for as long as it likes; the module keeps ownership and frees the
// blocks when it is unloaded.
std::vector<std::unique_ptr<ReadDataBlock>>& dataBlocks() {
    static std::vector<std::unique_ptr<ReadDataBlock>> blocks;
    return blocks;
}

bool hostHasRequiredRoutines(const FormatRecord& record) {
    const ResourceRoutines* resources = record.resourceRoutines;
    return resources != nullptr && resources->countResources != nullptr &&
           resources->getResource != nullptr && resources->addResource != nullptr &&
           record.advanceState != nullptr;
}

void estimateStart(FormatRecord& record) {
    // rows x row bytes can exceed 32 bits; keep the nearest value that fits.
    int64_t bytes = int64_t{record.imageSize.rows} * int64_t{record.rowBytes};
    if (bytes > INT32_MAX) {
        bytes = INT32_MAX;
    } else if (bytes < INT32_MIN) {
        bytes = INT32_MIN;
    }
    record.minDataBytes = static_cast<int32_t>(bytes);
    record.maxDataBytes = static_cast<int32_t>(bytes);
    record.data = nullptr;
}

void runHandler(int16_t selector, FormatRecord& record) {
    switch (selector) {
        case kSelectorReadPrepare:
        case kSelectorOptionsPrepare:
        case kSelectorEstimatePrepare:
        case kSelectorWritePrepare:
            record.maxData = 0;
            break;
        case kSelectorReadStart:
            readStart(record);
            break;
        case kSelectorReadContinue:
            readContinue(record);
            break;
        case kSelectorReadFinish:
            readFinish(record);
            break;
        case kSelectorOptionsStart:
            record.data = nullptr;
            break;
        case kSelectorEstimateStart:
            estimateStart(record);
            break;
        default:
            break;
    }
}

void dispatch(int16_t selector, void* parameters, intptr_t* data) {
    if (selector == kSelectorAbout) {
        const auto* about = static_cast<const AboutRecord*>(parameters);
        gGlobals.basicSuite = about != nullptr ? about->basicSuite : nullptr;
        gGlobals.pluginRef = about != nullptr ? about->pluginRef : nullptr;
        showAbout(gGlobals.pluginRef, kAboutDialogId);
        releaseAllSuites();
        return;
    }

    auto* record = static_cast<FormatRecord*>(parameters);
    if (record == nullptr) {
        setResult(RESULT_HOST_INSUFFICIENT);
        return;
    }
    gGlobals.basicSuite = record->basicSuite;
    gGlobals.pluginRef = record->pluginRef;

    if (!hostHasRequiredRoutines(*record)) {
        setResult(RESULT_HOST_INSUFFICIENT);
        return;
    }
    if (record->hostSupports32BitCoordinates != 0) {
        record->pluginUsing32BitCoordinates = 1;
    }
    if (gGlobals.dataBlock == nullptr) {
        auto block = std::unique_ptr<ReadDataBlock>(new (std::nothrow) ReadDataBlock{});
        if (block == nullptr) {
            setResult(RESULT_OUT_OF_MEMORY);
            return;
        }
        dataBlocks().push_back(std::move(block));
        gGlobals.dataBlock = dataBlocks().back().get();
        if (data != nullptr) {
            *data = reinterpret_cast<intptr_t>(gGlobals.dataBlock);
        }
    }

    runHandler(selector, *record);

    if (selectorEndsPhase(selector) || currentResult() != 0) {
        releaseAllSuites();
    }
}

}  // namespace

const char* selectorName(int16_t selector) {
    if (selector < 0 || selector > kSelectorFilterFile) {
        return "UNKNOWN";
    }
    return kSelectorNames[selector];
}

bool selectorEndsPhase(int16_t selector) {
    switch (selector) {
        case kSelectorReadFinish:
        case kSelectorOptionsFinish:
        case kSelectorEstimateFinish:
        case kSelectorWriteFinish:
        case kSelectorFilterFile:
            return true;
        default:
            return false;
    }
}

}  // namespace quillmesh

extern "C" QUILLMESH_EXPORT void HOSTAPI_CALL PluginMain(int16_t selector, void* parameters,
                                                         intptr_t* data, int16_t* result) {
    using namespace quillmesh;
    static int16_t discardedResult = 0;
    gGlobals.formatRecord = parameters;
    gGlobals.resultCode = result != nullptr ? result : &discardedResult;
    gGlobals.dataBlock = data != nullptr ? reinterpret_cast<ReadDataBlock*>(*data) : nullptr;

    // The one exception boundary: nothing thrown inside may reach the host.
    try {
        dispatch(selector, parameters, data);
    } catch (const SuiteError& error) {
        setResult(resultFromSuiteError(error.code()));
        releaseAllSuites();
    } catch (const std::bad_alloc&) {
        setResult(RESULT_OUT_OF_MEMORY);
        releaseAllSuites();
    } catch (...) {
        setResult(RESULT_IMPORT_FAILED);
        releaseAllSuites();
    }
}
