// Host suites acquired on first use and held until the end of the phase.
#pragma once

#include <cstdint>
#include <stdexcept>

#include "hostapi/host_api.h"

namespace quillmesh {

// Raised when a suite cannot be acquired; carries the host's error code.
// PluginMain turns it into the 16-bit result.
class SuiteError : public std::runtime_error {
  public:
    explicit SuiteError(HostError code) : std::runtime_error("suite unavailable"), code_(code) {}
    HostError code() const { return code_; }

  private:
    HostError code_;
};

// The code raised when there is no basic suite to acquire from ('Parm').
inline constexpr HostError kNoBasicSuite = 0x5061726D;

class LazySuite {
  public:
    LazySuite(const char* name, int32_t version);
    ~LazySuite();
    LazySuite(const LazySuite&) = delete;
    LazySuite& operator=(const LazySuite&) = delete;

    // The routine table, acquiring it first if not held. Throws SuiteError.
    const void* get();
    template <typename T>
    const T* as() {
        return static_cast<const T*>(get());
    }

    bool held() const { return suite_ != nullptr; }
    const char* name() const { return name_; }
    int32_t version() const { return version_; }
    HostError lastError() const { return lastError_; }

    // Releases the suite through the current basic suite if it is held.
    void release();

  private:
    friend void releaseAllSuites();
    const void* suite_ = nullptr;
    int32_t version_;
    const char* name_;
    HostError lastError_ = 0;
    LazySuite* nextHolder_ = nullptr;
};

// Releases every held suite; called at the end of each phase.
void releaseAllSuites();

// The holders the running plug-in uses.
LazySuite& handleSuiteHolder();
LazySuite& spAccessSuiteHolder();
LazySuite& getFileListSuiteHolder();

// The module instance handle that dialogs load their templates from. With a
// plug-in reference it is refreshed from the host's SP Access suite first.
void* moduleInstance(PluginRef pluginRef);
// Stores the handle the system gave the module when it was loaded.
void setModuleInstance(void* instance);

// Turns a suite acquisition error into the 16-bit result: the code itself when
// it fits and is nonzero, otherwise "host insufficient" so that a failure can
// never read as success.
int16_t resultFromSuiteError(HostError code);

}  // namespace quillmesh
