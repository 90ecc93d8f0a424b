#include "entry/suites.h"

#include <limits>

#include "entry/plugin_main.h"

namespace quillmesh {
namespace {

// Every holder links itself here when it is constructed, so that
// releaseAllSuites can reach them all without a table to keep in step.
LazySuite* gFirstHolder = nullptr;

void* gModuleInstance = nullptr;

}  // namespace

LazySuite::LazySuite(const char* name, int32_t version) : version_(version), name_(name) {
    nextHolder_ = gFirstHolder;
    gFirstHolder = this;
}

LazySuite::~LazySuite() {
    release();
    for (LazySuite** link = &gFirstHolder; *link != nullptr; link = &(*link)->nextHolder_) {
        if (*link == this) {
            *link = nextHolder_;
            break;
        }
    }
}

const void* LazySuite::get() {
    if (suite_ != nullptr) {
        return suite_;
    }
    const BasicSuite* basic = gGlobals.basicSuite;
    if (basic == nullptr || basic->acquireSuite == nullptr) {
        lastError_ = kNoBasicSuite;
        throw SuiteError(lastError_);
    }
    const void* suite = nullptr;
    lastError_ = basic->acquireSuite(name_, version_, &suite);
    if (lastError_ != 0 || suite == nullptr) {
        if (lastError_ == 0) {
            // A host that reports success but hands back nothing has failed.
            lastError_ = kNoBasicSuite;
        }
        throw SuiteError(lastError_);
    }
    suite_ = suite;
    return suite_;
}

void LazySuite::release() {
    const BasicSuite* basic = gGlobals.basicSuite;
    if (suite_ == nullptr || name_ == nullptr || basic == nullptr) {
        return;
    }
    if (basic->releaseSuite != nullptr) {
        basic->releaseSuite(name_, version_);
    }
    suite_ = nullptr;
}

void releaseAllSuites() {
    for (LazySuite* holder = gFirstHolder; holder != nullptr; holder = holder->nextHolder_) {
        holder->release();
    }
}

LazySuite& handleSuiteHolder() {
    static LazySuite holder(SUITE_HANDLE_NAME, SUITE_HANDLE_VERSION);
    return holder;
}

LazySuite& spAccessSuiteHolder() {
    static LazySuite holder(SUITE_SP_ACCESS_NAME, SUITE_SP_ACCESS_VERSION);
    return holder;
}

LazySuite& getFileListSuiteHolder() {
    static LazySuite holder(SUITE_GET_FILE_LIST_NAME, SUITE_GET_FILE_LIST_VERSION);
    return holder;
}

namespace {
// Construct the holders when the module loads, not on first use, so that they
// all exist (and are released) from the first call on.
struct HolderConstruction {
    HolderConstruction() {
        handleSuiteHolder();
        spAccessSuiteHolder();
        getFileListSuiteHolder();
    }
} gHolderConstruction;
}  // namespace

void setModuleInstance(void* instance) {
    gModuleInstance = instance;
}

void* moduleInstance(PluginRef pluginRef) {
    if (pluginRef == nullptr) {
        return gModuleInstance;
    }
    const auto* access = spAccessSuiteHolder().as<SPAccessSuite>();
    PluginAccessRef accessRef = nullptr;
    if (access->getPluginAccess == nullptr || access->getPluginAccess(pluginRef, &accessRef) != 0) {
        return gModuleInstance;
    }
    PluginAccessInfo info{};
    if (access->getAccessInfo == nullptr || access->getAccessInfo(accessRef, &info) != 0) {
        gModuleInstance = nullptr;
        return gModuleInstance;
    }
    gModuleInstance = info.resourceModule != nullptr ? info.resourceModule : info.defaultModule;
    return gModuleInstance;
}

int16_t resultFromSuiteError(HostError code) {
    if (code != 0 && code >= std::numeric_limits<int16_t>::min() &&
        code <= std::numeric_limits<int16_t>::max()) {
        return static_cast<int16_t>(code);
    }
    return RESULT_HOST_INSUFFICIENT;
}

}  // namespace quillmesh
