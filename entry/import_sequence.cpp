#include "entry/import_sequence.h"

#include <array>
#include <cstring>

#include "entry/plugin_main.h"
#include "entry/suites.h"
#include "scene/descriptor_suites.h"
#include "scene/import_scene.h"
#include "scene/scene_writer.h"
#include "scene/view_state.h"

namespace quillmesh {
namespace {

SceneSource gSceneSource = loadSceneFromModelFile;

constexpr int16_t kModeRGBColor = 3;
constexpr int32_t kResolution72 = 0x00480000;  // 72.0 in 16.16 fixed point

bool slotHoldsRecord(intptr_t slot) {
    return slot != THREE_D_LAYER_SLOT_EMPTY && slot != THREE_D_LAYER_SLOT_WANTED;
}

HostHandle newHostHandle(const FormatRecord& record, int32_t size) {
    const HandleRoutines* routines = record.handleRoutines;
    if (routines == nullptr || routines->newHandle == nullptr) {
        return nullptr;
    }
    return routines->newHandle(size);
}

void disposeHostHandle(const FormatRecord& record, HostHandle handle) {
    const HandleRoutines* routines = record.handleRoutines;
    if (handle != nullptr && routines != nullptr && routines->disposeHandle != nullptr) {
        routines->disposeHandle(handle);
    }
}

// Copies the NUL-terminated path into `buffer`. A path that does not fit is
// refused rather than cut short, which would name another file.
bool copyPath(const UnicodeFileSpec* fileSpec, std::array<char16_t, kPathBufferUnits>& buffer) {
    buffer[0] = 0;
    if (fileSpec == nullptr || fileSpec->path == nullptr) {
        return true;
    }
    for (std::size_t i = 0; i < buffer.size(); ++i) {
        buffer[i] = fileSpec->path[i];
        if (buffer[i] == 0) {
            return true;
        }
    }
    buffer[0] = 0;
    return false;
}

// Suites acquired directly for the length of one ReadContinue.
class DirectSuite {
  public:
    DirectSuite(const char* name, int32_t version) : name_(name), version_(version) {}
    DirectSuite(const DirectSuite&) = delete;
    DirectSuite& operator=(const DirectSuite&) = delete;
    ~DirectSuite() { release(); }

    const void* acquire() {
        const BasicSuite* basic = gGlobals.basicSuite;
        if (basic == nullptr || basic->acquireSuite == nullptr) {
            return nullptr;
        }
        const void* suite = nullptr;
        if (basic->acquireSuite(name_, version_, &suite) != 0) {
            return nullptr;
        }
        suite_ = suite;
        return suite_;
    }

    void release() {
        const BasicSuite* basic = gGlobals.basicSuite;
        if (suite_ != nullptr && basic != nullptr && basic->releaseSuite != nullptr) {
            basic->releaseSuite(name_, version_);
        }
        suite_ = nullptr;
    }

  private:
    const char* name_;
    int32_t version_;
    const void* suite_ = nullptr;
};

// The four descriptor suites, acquired in slot order and released in slot
// order. After the first failure the rest are not requested.
class DescriptorSuiteSet {
  public:
    bool acquire(DescriptorSuites& suites) {
        suites.descriptor = static_cast<const ActionDescriptorSuite*>(slots_[0].acquire());
        if (suites.descriptor == nullptr) {
            return false;
        }
        suites.list = static_cast<const ActionListSuite*>(slots_[1].acquire());
        if (suites.list == nullptr) {
            return false;
        }
        suites.control = static_cast<const ActionControlSuite*>(slots_[2].acquire());
        if (suites.control == nullptr) {
            return false;
        }
        suites.zstring = static_cast<const ZStringSuite*>(slots_[3].acquire());
        return suites.zstring != nullptr;
    }

    void release() {
        for (DirectSuite& slot : slots_) {
            slot.release();
        }
    }

  private:
    std::array<DirectSuite, 4> slots_{{
        {SUITE_ACTION_DESCRIPTOR_NAME, SUITE_ACTION_DESCRIPTOR_VERSION},
        {SUITE_ACTION_LIST_NAME, SUITE_ACTION_LIST_VERSION},
        {SUITE_ACTION_CONTROL_NAME, SUITE_ACTION_CONTROL_VERSION},
        {SUITE_ZSTRING_NAME, SUITE_ZSTRING_VERSION},
    }};
};

// Keeps exactly one private resource in the document: replaces a single old
// one, adds one where there is none, and leaves two or more alone.
void storePrivateResource(const FormatRecord& record, const ResourceSuite& resources) {
    if (resources.countResources == nullptr) {
        return;
    }
    const auto count = static_cast<uint16_t>(resources.countResources(kPrivateResourceType));
    if (count >= 2) {
        return;
    }
    if (count == 1 && resources.deleteResource != nullptr) {
        resources.deleteResource(kPrivateResourceType, 1);
    }
    HostHandle handle = newHostHandle(record, kPrivateResourceBytes);
    if (handle == nullptr) {
        return;
    }
    const HandleRoutines& routines = *record.handleRoutines;
    void* memory = routines.lockHandle != nullptr ? routines.lockHandle(handle, 0) : handle->memory;
    if (memory != nullptr) {
        std::memcpy(memory, kPrivateResourceText, kPrivateResourceBytes);
    }
    if (routines.unlockHandle != nullptr) {
        routines.unlockHandle(handle);
    }
    if (memory != nullptr && resources.addResource != nullptr) {
        resources.addResource(kPrivateResourceType, handle);
    }
    disposeHostHandle(record, handle);
}

void releasePixelBuffer(const FormatRecord& record, ReadDataBlock& block) {
    auto handle = reinterpret_cast<HostHandle>(block.pixelBufferHandle);
    if (handle != nullptr) {
        const HandleRoutines* routines = record.handleRoutines;
        if (routines != nullptr && routines->unlockHandle != nullptr) {
            routines->unlockHandle(handle);
        }
        disposeHostHandle(record, handle);
    }
    block.pixelBufferHandle = 0;
    block.pixelBuffer = nullptr;
}

// A zeroed (transparent black) buffer of rowsPerChunk rows, held until
// ReadFinish. False when the host cannot supply it.
bool acquirePixelBuffer(const FormatRecord& record, ReadDataBlock& block) {
    releasePixelBuffer(record, block);
    const int64_t bytes = int64_t{block.rowsPerChunk} * int64_t{record.rowBytes};
    if (record.rowBytes < 0 || bytes > INT32_MAX) {
        return false;
    }
    HostHandle handle = newHostHandle(record, static_cast<int32_t>(bytes));
    if (handle == nullptr) {
        return false;
    }
    const HandleRoutines& routines = *record.handleRoutines;
    void* memory = routines.lockHandle != nullptr ? routines.lockHandle(handle, 0) : handle->memory;
    if (memory == nullptr) {
        disposeHostHandle(record, handle);
        return false;
    }
    std::memset(memory, 0, static_cast<std::size_t>(bytes));
    block.pixelBuffer = static_cast<uint8_t*>(memory);
    block.pixelBufferHandle = reinterpret_cast<intptr_t>(handle);
    return true;
}

// Puts the default view state on the scene descriptor's root under
// "key3DState". False when the state descriptor cannot be made.
bool putViewState(const DescriptorSuites& suites, DescriptorRef root) {
    const ActionDescriptorSuite& descriptors = *suites.descriptor;
    DescriptorRef state = nullptr;
    if (descriptors.make(&state) != 0 || state == nullptr) {
        return false;
    }
    const ViewState view = defaultImportViewState();
    writeViewState(suites, view, nullptr, state);
    HostKey stateKey = 0;
    suites.control->stringIDToTypeID("key3DState", &stateKey);
    descriptors.putObject(root, stateKey, stateKey, state);
    descriptors.free(state);
    return true;
}

void writeEmptyScriptingDescriptor(FormatRecord& record) {
    DescriptorParameters* parameters = record.descriptorParameters;
    if (parameters == nullptr || parameters->writeRoutines == nullptr ||
        parameters->writeRoutines->openWriteDescriptor == nullptr ||
        parameters->writeRoutines->closeWriteDescriptor == nullptr) {
        return;
    }
    // Acquired before the write descriptor is opened, so that a missing suite
    // cannot leave an open descriptor behind.
    const auto* handles = handleSuiteHolder().as<HandleSuite>();
    WriteDescriptorToken token = parameters->writeRoutines->openWriteDescriptor();
    if (token == nullptr) {
        return;
    }
    if (parameters->descriptor != nullptr && handles->disposeHandle != nullptr) {
        handles->disposeHandle(parameters->descriptor);
    }
    parameters->descriptor = nullptr;
    HostHandle written = nullptr;
    parameters->writeRoutines->closeWriteDescriptor(token, &written);
    parameters->descriptor = written;
}

}  // namespace

// Rows go over rowsPerChunk at a time, one row per advance-state call. Every
// call's result is stored; a failure does not stop
// the delivery, so the last call's result is what remains. A document of no
// rows (0, or negative in the 16-bit size) has nothing to hand over and leaves
// the result as it is. Rows without a buffer to hand them over in cannot be
// delivered: the import fails, as one that produced nothing.
void deliverFlatImage(FormatRecord& record, ReadDataBlock& block) {
    const int32_t rows = record.imageSize.rows;
    const int32_t columns = record.imageSize.columns;
    const int32_t chunk = block.rowsPerChunk;
    if (chunk <= 0 || rows <= 0) {
        return;
    }
    if (!acquirePixelBuffer(record, block)) {
        setResult(RESULT_IMPORT_FAILED);
        return;
    }
    const bool use32 =
        record.hostSupports32BitCoordinates != 0 && record.pluginUsing32BitCoordinates != 0;
    int32_t done = 0;
    while (true) {
        const int32_t count = std::min(rows - done, chunk);
        if (count <= 0) {
            break;
        }
        for (int32_t i = 0; i < count; ++i) {
            const int32_t top = done + i;
            if (use32) {
                record.rect32 = HostRect32{top, 0, top + 1, columns};
            } else {
                record.rect =
                    HostRect16{static_cast<int16_t>(top), 0, static_cast<int16_t>(top + 1),
                               static_cast<int16_t>(columns)};
            }
            record.data = block.pixelBuffer + static_cast<std::ptrdiff_t>(i) * record.rowBytes;
            setResult(record.advanceState());
        }
        done += count;
    }
}

void setSceneSource(SceneSource source) {
    gSceneSource = source != nullptr ? source : loadSceneFromModelFile;
}

void readStart(FormatRecord& record) {
    ReadDataBlock& block = *gGlobals.dataBlock;
    block.rowsPerChunk = 256;
    record.imageMode = kModeRGBColor;
    record.depth = 8;
    record.planes = 4;
    record.planeBytes = 1;
    record.planeMap[0] = 2;
    record.planeMap[1] = 1;
    record.planeMap[2] = 0;
    record.planeMap[3] = 3;
    record.firstPlane = 0;
    record.lastPlane = record.planes - 1;
    record.columnBytes = 4;
    record.horizontalResolution = kResolution72;
    record.verticalResolution = kResolution72;
    block.rowsPerChunk = kRowsPerChunk;

    int32_t width = record.requestedSize.columns > 0 ? record.requestedSize.columns : 0;
    int32_t height = record.requestedSize.rows > 0 ? record.requestedSize.rows : 0;
    if (record.flatImageRequest == 0) {
        if (width == 0 || height == 0) {
            width = block.rowsPerChunk;
            height = block.rowsPerChunk;
        }
        if (currentResult() != 0) {
            return;
        }
        record.rowBytes = static_cast<int32_t>(int64_t{4} * width);
    }
    record.imageSize = HostSize16{static_cast<int16_t>(height), static_cast<int16_t>(width)};
    record.imageSize32 = HostSize32{height, width};
    record.data = nullptr;
    record.threeDLayerSlot = THREE_D_LAYER_SLOT_WANTED;
}

void readContinue(FormatRecord& record) {
    ReadDataBlock& block = *gGlobals.dataBlock;
    const intptr_t slot = record.threeDLayerSlot;

    std::array<char16_t, kPathBufferUnits> path{};
    const bool pathFits = copyPath(record.unicodeFileSpec, path);

    DescriptorSuiteSet descriptorSuites;
    DescriptorSuites suites;
    const bool suitesHeld = descriptorSuites.acquire(suites);

    ImportSceneOwner scene;
    if (suitesHeld && pathFits) {
        scene.reset(gSceneSource(path.data()));
    }

    HostHandle sceneHandle = nullptr;
    bool written = false;
    bool stateMissing = false;
    if (scene != nullptr) {
        SceneWriterContext context{suites};
        context.finishRoot = [&](DescriptorRef root) {
            stateMissing = !putViewState(suites, root);
            return !stateMissing;
        };
        written = writeSceneDescriptorReleasingGeometry(context, *scene, &sceneHandle) &&
                  sceneHandle != nullptr;
    }
    if (!written) {
        disposeHostHandle(record, sceneHandle);
        sceneHandle = nullptr;
    }
    if (stateMissing) {
        // Nothing is handed over; everything held is let go and the import
        // reports its failure instead of an untouched (successful) result.
        descriptorSuites.release();
        setResult(RESULT_IMPORT_FAILED);
        return;
    }
    // The scene is not needed once its descriptor exists.
    scene.reset();

    DirectSuite resourceHolder(SUITE_RESOURCE_NAME, SUITE_RESOURCE_VERSION);
    const auto* resources = static_cast<const ResourceSuite*>(resourceHolder.acquire());
    if (resources == nullptr) {
        // Nothing can be handed over without the document resource; this is a
        // failed import, not a success.
        descriptorSuites.release();
        disposeHostHandle(record, sceneHandle);
        setResult(RESULT_IMPORT_FAILED);
        return;
    }
    storePrivateResource(record, *resources);
    resourceHolder.release();
    descriptorSuites.release();

    if (!written) {
        setResult(RESULT_IMPORT_FAILED);
        return;
    }

    bool handedOver = false;
    if (slotHoldsRecord(slot)) {
        auto* layer = reinterpret_cast<ThreeDLayerRecord*>(slot);
        layer->sceneDescriptor = sceneHandle;
        layer->renderTarget = nullptr;
        layer->renderOptions = 0;
        layer->sceneDelivered = 1;
        handedOver = true;
    }

    if (record.flatImageRequest != 0 || !slotHoldsRecord(slot)) {
        deliverFlatImage(record, block);
        // A handle the host record took is the record's to keep.
        if (!handedOver) {
            disposeHostHandle(record, sceneHandle);
        }
    }
    record.data = nullptr;
}

void readFinish(FormatRecord& record) {
    ReadDataBlock& block = *gGlobals.dataBlock;
    record.data = nullptr;
    if (block.pixelBufferHandle != 0) {
        releasePixelBuffer(record, block);
    }
    if (!slotHoldsRecord(record.threeDLayerSlot)) {
        return;
    }
    auto* layer = reinterpret_cast<ThreeDLayerRecord*>(record.threeDLayerSlot);
    disposeHostHandle(record, layer->sceneDescriptor);
    layer->sceneDescriptor = nullptr;
    layer->renderTarget = nullptr;
    writeEmptyScriptingDescriptor(record);
}

}  // namespace quillmesh
