// libFuzzer target: the whole import through PluginMain, driven by our host exactly as the
// application drives it (ReadPrepare, ReadStart, ReadContinue, ReadFinish), on a file holding
// the input's bytes. After every input:
//   - the host's accounts balance: every suite released, every handle disposed, every
//     descriptor, list and string freed;
//   - a successful import handed over a scene descriptor that reads back, for a file the reader
//     itself loads; a failed one handed over nothing, and wrote nothing when the reader refuses
//     the file;
//   - the import wrote nothing outside the model's folder and left the current directory alone.
// Anything else aborts, so libFuzzer keeps the input.
//
// The model lives in a folder of this process's own under the system's temporary folder; what
// the import writes there (embedded files) is removed after each input, and the folder when the
// process ends normally.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <span>
#include <string>
#include <system_error>

#include "entry/plugin_main.h"
#include "host/host.h"
#include "host/import_driver.h"
#include "model/kvt_plugin.h"
#include "tests/support/scratch_folder.h"

namespace {

namespace fs = std::filesystem;

[[noreturn]] void fail(const std::string& message) {
    std::fprintf(stderr, "fuzz_import: %s\n", message.c_str());
    std::abort();
}

// The process's folder: `root` holds only `model`, the folder the model file is written into.
class Workspace {
  public:
    Workspace() {
        root_ = quillmesh::testsupport::makeScratchFolder("quillmesh_fuzz_import_");
        if (root_.empty()) {
            fail("no temporary folder could be made");
        }
        folder_ = root_ / "model";
        model_ = folder_ / "model.kvt";
        fs::create_directory(folder_);
        modelPath_ = model_.u16string();
        std::error_code error;
        directory_ = fs::current_path(error);
    }
    ~Workspace() {
        std::error_code error;
        fs::remove_all(root_, error);
    }
    Workspace(const Workspace&) = delete;
    Workspace& operator=(const Workspace&) = delete;

    const std::u16string& modelPath() const { return modelPath_; }

    void writeModel(const uint8_t* data, std::size_t size) const {
        std::ofstream out(model_, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
        if (!out) {
            fail("cannot write " + model_.string());
        }
    }

    // Checks that the import wrote only plain files into the model's folder (none at all when
    // `nothingWritten`) and kept the current directory, then empties the folder.
    void checkAndClean(bool nothingWritten) const {
        std::error_code error;
        if (fs::current_path(error) != directory_) {
            fail("the import changed the current directory");
        }
        for (const fs::directory_entry& entry : fs::directory_iterator(root_)) {
            if (entry.path() != folder_) {
                fail("the import wrote " + entry.path().string() + " outside the model's folder");
            }
        }
        for (const fs::directory_entry& entry : fs::directory_iterator(folder_)) {
            if (entry.path() == model_) {
                continue;
            }
            if (!entry.is_regular_file() || entry.is_symlink()) {
                fail("the import made " + entry.path().string() + ", which is not a plain file");
            }
            if (nothingWritten) {
                fail("the import wrote " + entry.path().string() +
                     " for a file the reader refuses");
            }
            fs::remove(entry.path(), error);
            if (error) {
                fail("cannot remove " + entry.path().string() + ": " + error.message());
            }
        }
    }

  private:
    fs::path root_;
    fs::path folder_;
    fs::path model_;
    fs::path directory_;
    std::u16string modelPath_;
};

// The module's data slot: the application keeps it from one call of the module to the next, so
// the module's read data block is made once.
intptr_t gDataSlot = 0;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const Workspace workspace;
    workspace.writeModel(data, size);
    quillmesh::KVTPlugin reader;
    const bool readable = reader.loadModelFromMemory(std::span<const uint8_t>(data, size),
                                                     u"model.kvt") == quillmesh::kLoadSucceeded;
    reader.clearModel();
    {
        qmhost::Host host;
        host.dataSlot() = gDataSlot;
        const qmhost::ImportOutcome outcome =
            qmhost::runImport(host, PluginMain, workspace.modelPath());
        gDataSlot = host.dataSlot();
        if (!host.balanced()) {
            fail("the host's accounts do not balance: " + host.accountSummary());
        }
        if (outcome.result() != 0) {
            if (outcome.sceneDelivered || !outcome.sceneBytes.empty()) {
                fail("a failed import (result " + std::to_string(outcome.result()) +
                     ") handed over a scene");
            }
        } else {
            if (!outcome.sceneDelivered || outcome.sceneBytes.empty()) {
                fail("a successful import handed over no scene");
            }
            if (!qmhost::unflatten(outcome.sceneBytes, host.descriptors().ids())) {
                fail("the scene descriptor the host received does not read back");
            }
            if (!readable) {
                fail("the import handed over a scene for a file the reader refuses");
            }
        }
    }
    workspace.checkAndClean(!readable);
    return 0;
}
