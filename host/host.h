// Our host: the stand-in for the application that loads the module. It fills
// the FormatRecord, offers every routine and suite the module calls, keeps
// accounts of what the module acquires, and drives PluginMain selector by
// selector. One Host is current at a time (the routines it hands out are plain
// C functions without context).
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "host/descriptors.h"
#include "host/handle_store.h"
#include "hostapi/host_api.h"

namespace qmhost {

// Document resources by type, each an ordered list of byte blocks.
class ResourceStore {
  public:
    int16_t count(uint32_t type) const;
    // 1-based index; null when out of range.
    const std::vector<uint8_t>* get(uint32_t type, int index) const;
    bool remove(uint32_t type, int index);
    void add(uint32_t type, std::vector<uint8_t> bytes);
    std::size_t totalCount() const;

  private:
    std::map<uint32_t, std::vector<std::vector<uint8_t>>> resources_;
};

// One call of the advance-state routine, as the host saw it.
struct AdvanceCall {
    HostRect16 rect16;
    HostRect32 rect32;
    bool used32;  // both coordinate flags were set, so rect32 is the one that counts
    const void* data;
    int32_t rowBytes;
};

struct SuiteUse {
    std::size_t acquired = 0;
    std::size_t released = 0;
};

class Host {
  public:
    Host();
    ~Host();
    Host(const Host&) = delete;
    Host& operator=(const Host&) = delete;

    static Host& current();
    static bool hasCurrent();

    HandleStore& handles() { return handles_; }
    DescriptorHost& descriptors() { return *descriptors_; }
    ResourceStore& resources() { return resources_; }

    // The records handed to the module. Tests may change any field between
    // selectors (a missing routine is a null pointer here).
    FormatRecord& formatRecord() { return format_; }
    AboutRecord& aboutRecord() { return about_; }
    ResourceRoutines& resourceRoutines() { return resourceRoutines_; }
    HandleRoutines& handleRoutines() { return handleRoutines_; }
    BasicSuite& basicSuite() { return basicSuite_; }
    DescriptorParameters& descriptorParameters() { return descriptorParameters_; }
    ThreeDLayerRecord& threeDLayer() { return threeDLayer_; }
    intptr_t& dataSlot() { return dataSlot_; }

    // Sets the path handed over in unicodeFileSpec (UTF-16, copied).
    void setPath(std::u16string path);
    void clearPath();

    // Suites: acquisition by exact name and version, with accounting.
    void refuseSuite(const std::string& name) { refused_.insert(name); }
    void allowSuite(const std::string& name) { refused_.erase(name); }
    const std::map<std::string, SuiteUse>& suiteUse() const { return suiteUse_; }
    std::size_t badReleases() const { return badReleases_; }
    std::size_t suitesHeld() const;
    HostError acquire(const char* name, int32_t version, const void** suite);
    HostError release(const char* name, int32_t version);

    // The advance-state routine records every call and answers with the next
    // scripted result (0 once the script is used up).
    std::vector<AdvanceCall>& advanceCalls() { return advanceCalls_; }
    void scriptAdvanceResults(std::vector<int16_t> results);
    int16_t advance();

    // Browser requests made through the GetFileList suite.
    const std::vector<std::string>& browsedUrls() const { return browsedUrls_; }
    void browse(const char* url) { browsedUrls_.emplace_back(url ? url : ""); }

    // Module handles answered by the SP Access suite.
    void setPluginModules(void* defaultModule, void* resourceModule);
    PluginAccessInfo pluginModules() const { return accessInfo_; }
    void failPluginAccess(bool fail) { failAccess_ = fail; }
    void failAccessInfo(bool fail) { failAccessInfo_ = fail; }
    bool pluginAccessAvailable() const { return !failAccess_; }
    bool accessInfoAvailable() const { return !failAccessInfo_; }
    PluginAccessRef accessRef();

    // Calls the entry point with a FormatRecord (selector 1..17 or any other)
    // or, for selector 0, with the AboutRecord. Returns the 16-bit result.
    int16_t call(PluginMainRoutine entry, int16_t selector);

    // Everything the module was given back is accounted for: suites released,
    // handles other than those the host itself keeps disposed, descriptors,
    // lists and strings freed.
    bool balanced() const;
    std::string accountSummary() const;

  private:
    void initRecords();
    const void* suiteTable(const std::string& name, int32_t version) const;

    HandleStore handles_;
    std::unique_ptr<DescriptorHost> descriptors_;
    ResourceStore resources_;

    FormatRecord format_{};
    AboutRecord about_{};
    ResourceRoutines resourceRoutines_{};
    HandleRoutines handleRoutines_{};
    BasicSuite basicSuite_{};
    DescriptorParameters descriptorParameters_{};
    ThreeDLayerRecord threeDLayer_{};
    UnicodeFileSpec fileSpec_{};
    std::u16string path_;
    intptr_t dataSlot_ = 0;
    int pluginObject_ = 0;  // its address is the plug-in reference
    int accessObject_ = 0;  // its address is the plug-in access reference

    std::set<std::string> refused_;
    std::map<std::string, SuiteUse> suiteUse_;
    std::size_t badReleases_ = 0;
    std::vector<AdvanceCall> advanceCalls_;
    std::vector<int16_t> advanceScript_;
    std::size_t advanceNext_ = 0;
    std::vector<std::string> browsedUrls_;
    PluginAccessInfo accessInfo_{};
    bool failAccess_ = false;
    bool failAccessInfo_ = false;
    Host* previous_ = nullptr;
};

}  // namespace qmhost
