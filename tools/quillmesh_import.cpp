// quillmesh-import: imports one ModelFile through the module, driven by our
// host exactly as the application drives it, and reports what came back.
//
//   quillmesh-import [--flat] FILE.kvt
//
// Exit status 0 when the import handed over a scene, 1 when it failed, 2 on a
// usage error.
#include <cstdio>
#include <cstring>
#include <string>

#include "entry/plugin_main.h"
#include "host/host.h"
#include "host/import_driver.h"
#include "host/text.h"

namespace {

const char* describeResult(int16_t result) {
    switch (result) {
        case 0:
            return "success";
        case RESULT_IMPORT_FAILED:
            return "the import produced no scene";
        case RESULT_HOST_INSUFFICIENT:
            return "the host lacks a required routine or suite";
        case RESULT_OUT_OF_MEMORY:
            return "out of memory";
        default:
            return "host error";
    }
}

int usage() {
    std::fprintf(stderr, "usage: quillmesh-import [--flat] FILE.kvt\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    qmhost::ImportOptions options;
    const char* file = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--flat") == 0) {
            options.takesThreeDLayers = false;
        } else if (argv[i][0] == '-' && argv[i][1] != '\0') {
            return usage();
        } else if (file == nullptr) {
            file = argv[i];
        } else {
            return usage();
        }
    }
    if (file == nullptr) {
        return usage();
    }

    qmhost::Host host;
    const qmhost::ImportOutcome outcome =
        qmhost::runImport(host, PluginMain, qmhost::utf8ToUtf16(file), options);

    std::printf("%s\n", file);
    std::printf("  ReadPrepare %d, ReadStart %d, ReadContinue %d, ReadFinish %d\n",
                outcome.prepareResult, outcome.startResult, outcome.continueResult,
                outcome.finishResult);
    if (outcome.sceneDelivered) {
        std::printf("  scene descriptor: %zu bytes\n", outcome.sceneBytes.size());
    }
    if (!host.advanceCalls().empty()) {
        std::printf("  flat rows delivered: %zu\n", host.advanceCalls().size());
    }
    if (!host.balanced()) {
        std::printf("  host accounts not balanced: %s\n", host.accountSummary().c_str());
    }
    const int16_t result = outcome.result();
    std::printf("  result %d: %s\n", result, describeResult(result));
    return result == 0 && host.balanced() ? 0 : 1;
}
