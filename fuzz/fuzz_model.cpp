// libFuzzer target: arbitrary bytes handed to the ModelFile reader as if they
// had been read from a file, then the stages an import runs on a parsed model.
// The reader must never crash, leak or read outside its buffer, whatever the
// bytes.
//
// The file services of the resolve stage are an in-memory stand-in: texture
// probes answer from the names embedded files created, and nothing touches
// the disk.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <unordered_set>

#include "model/file_resolution.h"
#include "model/kvt_plugin.h"
#include "scene/model_conversion.h"

namespace {

class MemoryFileSystem final : public quillmesh::ModelFileSystem {
  public:
    bool fileExists(const std::u16string& path) override { return files_.contains(path); }
    bool createNewFile(const std::u16string& path, std::span<const uint8_t>) override {
        return files_.insert(path).second;
    }

  private:
    std::unordered_set<std::u16string> files_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    quillmesh::KVTPlugin plugin;
    const std::u16string sourcePath = u"C:\\models\\fuzz.kvt";
    if (plugin.loadModelFromMemory(std::span<const uint8_t>(data, size), sourcePath) ==
        quillmesh::kLoadSucceeded) {
        MemoryFileSystem files;
        quillmesh::finishLoadedModel(plugin.model, sourcePath, files);
    }
    return 0;
}
