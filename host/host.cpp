#include "host/host.h"

#include <cstring>
#include <sstream>
#include <stdexcept>
#include <utility>

namespace qmhost {
namespace {

Host* gCurrent = nullptr;

// Error for a suite the host does not offer under that name and version.
constexpr HostError kSuiteUnavailable = HOST_FOURCC('S', 'u', 'i', 't');
constexpr HostError kBadParameter = HOST_FOURCC('P', 'a', 'r', 'm');

HostHandle HOSTAPI_CALL newHandleRoutine(int32_t size) {
    return Host::current().handles().create(size);
}

void HOSTAPI_CALL disposeHandleRoutine(HostHandle handle) {
    if (handle != nullptr) {
        Host::current().handles().dispose(handle);
    }
}

void* HOSTAPI_CALL lockHandleRoutine(HostHandle handle, uint8_t) {
    HandleStore& store = Host::current().handles();
    if (store.lock(handle) != 0) {
        return nullptr;
    }
    return handle->memory;
}

void HOSTAPI_CALL unlockHandleRoutine(HostHandle handle) {
    Host::current().handles().unlock(handle);
}

int32_t HOSTAPI_CALL handleSizeRoutine(HostHandle handle) {
    return static_cast<int32_t>(Host::current().handles().bytes(handle).size());
}

int16_t HOSTAPI_CALL countResourcesRoutine(uint32_t type) {
    return Host::current().resources().count(type);
}

HostHandle HOSTAPI_CALL getResourceRoutine(uint32_t type, int16_t index) {
    // The handle is the caller's copy; it is accounted like any other.
    Host& host = Host::current();
    const std::vector<uint8_t>* bytes = host.resources().get(type, index);
    if (bytes == nullptr) {
        return nullptr;
    }
    return host.handles().createFrom(*bytes);
}

void HOSTAPI_CALL deleteResourceRoutine(uint32_t type, int16_t index) {
    Host::current().resources().remove(type, index);
}

HostError HOSTAPI_CALL addResourceRoutine(uint32_t type, HostHandle data) {
    Host& host = Host::current();
    if (!host.handles().owns(data)) {
        return kBadParameter;
    }
    std::span<const uint8_t> bytes = host.handles().bytes(data);
    host.resources().add(type, std::vector<uint8_t>(bytes.begin(), bytes.end()));
    return 0;
}

int16_t HOSTAPI_CALL advanceStateRoutine() {
    return Host::current().advance();
}

HostError HOSTAPI_CALL acquireSuiteRoutine(const char* name, int32_t version, const void** suite) {
    return Host::current().acquire(name, version, suite);
}

HostError HOSTAPI_CALL releaseSuiteRoutine(const char* name, int32_t version) {
    return Host::current().release(name, version);
}

HostError HOSTAPI_CALL getPluginAccessRoutine(PluginRef plugin, PluginAccessRef* access) {
    Host& host = Host::current();
    if (access == nullptr || plugin != host.aboutRecord().pluginRef) {
        return kBadParameter;
    }
    if (!host.pluginAccessAvailable()) {
        return kSuiteUnavailable;
    }
    *access = host.accessRef();
    return 0;
}

HostError HOSTAPI_CALL getAccessInfoRoutine(PluginAccessRef access, PluginAccessInfo* info) {
    Host& host = Host::current();
    if (info == nullptr || access != host.accessRef() || !host.accessInfoAvailable()) {
        return kBadParameter;
    }
    *info = host.pluginModules();
    return 0;
}

HostError HOSTAPI_CALL browseUrlRoutine(const char* url) {
    if (url == nullptr) {
        return kBadParameter;
    }
    Host::current().browse(url);
    return 0;
}

const HandleSuite kHandleSuite = {newHandleRoutine, disposeHandleRoutine, lockHandleRoutine,
                                  unlockHandleRoutine, handleSizeRoutine};
const ResourceSuite kResourceSuite = {countResourcesRoutine, getResourceRoutine,
                                      deleteResourceRoutine, addResourceRoutine};
const SPAccessSuite kSPAccessSuite = {getPluginAccessRoutine, getAccessInfoRoutine};
const GetFileListSuite kGetFileListSuite = {browseUrlRoutine};

}  // namespace

int16_t ResourceStore::count(uint32_t type) const {
    auto it = resources_.find(type);
    return it == resources_.end() ? 0 : static_cast<int16_t>(it->second.size());
}

const std::vector<uint8_t>* ResourceStore::get(uint32_t type, int index) const {
    auto it = resources_.find(type);
    if (it == resources_.end() || index < 1 ||
        static_cast<std::size_t>(index) > it->second.size()) {
        return nullptr;
    }
    return &it->second[static_cast<std::size_t>(index) - 1];
}

bool ResourceStore::remove(uint32_t type, int index) {
    auto it = resources_.find(type);
    if (it == resources_.end() || index < 1 ||
        static_cast<std::size_t>(index) > it->second.size()) {
        return false;
    }
    it->second.erase(it->second.begin() + (index - 1));
    if (it->second.empty()) {
        resources_.erase(it);
    }
    return true;
}

void ResourceStore::add(uint32_t type, std::vector<uint8_t> bytes) {
    resources_[type].push_back(std::move(bytes));
}

std::size_t ResourceStore::totalCount() const {
    std::size_t total = 0;
    for (const auto& entry : resources_) {
        total += entry.second.size();
    }
    return total;
}

Host::Host() : descriptors_(std::make_unique<DescriptorHost>(handles_)) {
    previous_ = gCurrent;
    gCurrent = this;
    initRecords();
}

Host::~Host() {
    gCurrent = previous_;
}

Host& Host::current() {
    if (gCurrent == nullptr) {
        throw std::logic_error("no current host");
    }
    return *gCurrent;
}

bool Host::hasCurrent() {
    return gCurrent != nullptr;
}

void Host::initRecords() {
    handleRoutines_ = kHandleSuite;
    resourceRoutines_ = kResourceSuite;
    basicSuite_ = BasicSuite{acquireSuiteRoutine, releaseSuiteRoutine};
    descriptorParameters_ = DescriptorParameters{};
    descriptorParameters_.writeRoutines = descriptors_->writeRoutines();

    format_ = FormatRecord{};
    format_.resourceRoutines = &resourceRoutines_;
    format_.handleRoutines = &handleRoutines_;
    format_.advanceState = advanceStateRoutine;
    format_.descriptorParameters = &descriptorParameters_;
    format_.basicSuite = &basicSuite_;
    format_.pluginRef = reinterpret_cast<PluginRef>(&pluginObject_);
    format_.hostSupports32BitCoordinates = 1;

    about_ = AboutRecord{};
    about_.basicSuite = &basicSuite_;
    about_.pluginRef = format_.pluginRef;
}

PluginAccessRef Host::accessRef() {
    return reinterpret_cast<PluginAccessRef>(&accessObject_);
}

void Host::setPath(std::u16string path) {
    path_ = std::move(path);
    fileSpec_.path = path_.c_str();
    format_.unicodeFileSpec = &fileSpec_;
}

void Host::clearPath() {
    path_.clear();
    fileSpec_.path = nullptr;
    format_.unicodeFileSpec = nullptr;
}

std::size_t Host::suitesHeld() const {
    std::size_t held = 0;
    for (const auto& entry : suiteUse_) {
        if (entry.second.acquired > entry.second.released) {
            held += entry.second.acquired - entry.second.released;
        }
    }
    return held;
}

const void* Host::suiteTable(const std::string& name, int32_t version) const {
    struct Offer {
        const char* name;
        int32_t version;
        const void* table;
    };
    const Offer offers[] = {
        {SUITE_ACTION_DESCRIPTOR_NAME, SUITE_ACTION_DESCRIPTOR_VERSION,
         descriptors_->descriptorSuite()},
        {SUITE_ACTION_LIST_NAME, SUITE_ACTION_LIST_VERSION, descriptors_->listSuite()},
        {SUITE_ACTION_CONTROL_NAME, SUITE_ACTION_CONTROL_VERSION, descriptors_->controlSuite()},
        {SUITE_ZSTRING_NAME, SUITE_ZSTRING_VERSION, descriptors_->zstringSuite()},
        {SUITE_RESOURCE_NAME, SUITE_RESOURCE_VERSION, &kResourceSuite},
        {SUITE_HANDLE_NAME, SUITE_HANDLE_VERSION, &kHandleSuite},
        {SUITE_SP_ACCESS_NAME, SUITE_SP_ACCESS_VERSION, &kSPAccessSuite},
        {SUITE_GET_FILE_LIST_NAME, SUITE_GET_FILE_LIST_VERSION, &kGetFileListSuite},
    };
    for (const Offer& offer : offers) {
        if (name == offer.name && version == offer.version) {
            return offer.table;
        }
    }
    return nullptr;
}

HostError Host::acquire(const char* name, int32_t version, const void** suite) {
    if (name == nullptr || suite == nullptr) {
        return kBadParameter;
    }
    *suite = nullptr;
    const void* table = suiteTable(name, version);
    if (table == nullptr || refused_.count(name) != 0) {
        return kSuiteUnavailable;
    }
    ++suiteUse_[name].acquired;
    *suite = table;
    return 0;
}

HostError Host::release(const char* name, int32_t version) {
    if (name == nullptr || suiteTable(name, version) == nullptr) {
        ++badReleases_;
        return kSuiteUnavailable;
    }
    SuiteUse& use = suiteUse_[name];
    if (use.released >= use.acquired) {
        ++badReleases_;
        return kBadParameter;
    }
    ++use.released;
    return 0;
}

void Host::scriptAdvanceResults(std::vector<int16_t> results) {
    advanceScript_ = std::move(results);
    advanceNext_ = 0;
}

int16_t Host::advance() {
    AdvanceCall call{};
    call.rect16 = format_.rect;
    call.rect32 = format_.rect32;
    call.used32 =
        format_.hostSupports32BitCoordinates != 0 && format_.pluginUsing32BitCoordinates != 0;
    call.data = format_.data;
    call.rowBytes = format_.rowBytes;
    advanceCalls_.push_back(call);
    if (advanceNext_ < advanceScript_.size()) {
        return advanceScript_[advanceNext_++];
    }
    return 0;
}

void Host::setPluginModules(void* defaultModule, void* resourceModule) {
    accessInfo_ = PluginAccessInfo{defaultModule, resourceModule};
}

int16_t Host::call(PluginMainRoutine entry, int16_t selector) {
    int16_t result = 0;
    void* parameters =
        selector == kSelectorAbout ? static_cast<void*>(&about_) : static_cast<void*>(&format_);
    entry(selector, parameters, &dataSlot_, &result);
    return result;
}

bool Host::balanced() const {
    // Resource handles the host gave out and scripting descriptors it holds are
    // the only handles allowed to stay alive.
    std::size_t kept = descriptorParameters_.descriptor != nullptr ? 1 : 0;
    return suitesHeld() == 0 && badReleases_ == 0 && handles_.live() == kept &&
           handles_.badDisposes() == 0 && descriptors_->balanced();
}

std::string Host::accountSummary() const {
    std::ostringstream out;
    out << "suites held " << suitesHeld() << ", bad releases " << badReleases_ << ", handles live "
        << handles_.live() << " (made " << handles_.created() << ", disposed "
        << handles_.disposed() << ", bad disposes " << handles_.badDisposes() << "); "
        << descriptors_->summary();
    return out.str();
}

}  // namespace qmhost
