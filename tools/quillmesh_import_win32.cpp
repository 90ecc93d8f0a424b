// quillmesh-import for Windows: our host loading the built module the way the
// application does. It loads the .8bi with LoadLibrary, reads its property
// list to learn the entry point, finds it with GetProcAddress, and runs the
// About selector and the four read selectors through it.
//
//   quillmesh-import [--module FILE.8bi] [--properties] [--about] [--descriptor FILE] [MODEL.kvt]
//
// Without --module the module is quillmesh_64.8bi beside this program, or in
// the folder above it (the build tree's layout).
#include <windows.h>

#include <shellapi.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "host/host.h"
#include "host/import_driver.h"
#include "host/property_list.h"
#include "platform/platform.h"

namespace {

constexpr int kExitSuccess = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;
constexpr int16_t kSelectorAboutBox = 0;
constexpr WORD kPropertyListId = 16000;

const char* const kUsage =
    "usage: quillmesh-import [--module FILE.8bi] [--properties] [--about] [--descriptor FILE] "
    "[MODEL.kvt]\n"
    "  --module FILE      the module to load (default: quillmesh_64.8bi beside this program or\n"
    "                     in the folder above it)\n"
    "  --properties       print what the module's property list says about it\n"
    "  --about            run the About selector: the About box stays up until it is closed\n"
    "  --descriptor FILE  write the flattened scene descriptor the host received to FILE\n"
    "Imports MODEL.kvt through ReadPrepare, ReadStart, ReadContinue and ReadFinish and prints the\n"
    "result. Exit status: 0 success, 1 failure, 2 usage error.\n";

struct Options {
    std::wstring module;
    bool properties = false;
    bool about = false;
    std::optional<std::wstring> descriptor;
    std::optional<std::wstring> model;
};

std::string utf8(const std::wstring& wide) {
    return quillmesh::platform::toUtf8(std::u16string(wide.begin(), wide.end()));
}

std::optional<Options> parseArguments(int argc, wchar_t** argv) {
    Options options;
    for (int index = 1; index < argc; ++index) {
        const std::wstring argument = argv[index];
        auto value = [&]() -> std::optional<std::wstring> {
            if (index + 1 >= argc) {
                std::fprintf(stderr, "quillmesh-import: %s needs a value\n",
                             utf8(argument).c_str());
                return std::nullopt;
            }
            return std::wstring(argv[++index]);
        };
        if (argument == L"--module") {
            auto path = value();
            if (!path) {
                return std::nullopt;
            }
            options.module = *path;
        } else if (argument == L"--descriptor") {
            options.descriptor = value();
            if (!options.descriptor) {
                return std::nullopt;
            }
        } else if (argument == L"--properties") {
            options.properties = true;
        } else if (argument == L"--about") {
            options.about = true;
        } else if (argument == L"--help") {
            std::fputs(kUsage, stdout);
            std::exit(kExitSuccess);
        } else if (!argument.empty() && argument[0] == L'-') {
            std::fprintf(stderr, "quillmesh-import: unknown option %s\n%s", utf8(argument).c_str(),
                         kUsage);
            return std::nullopt;
        } else if (options.model) {
            std::fprintf(stderr, "quillmesh-import: only one model at a time\n%s", kUsage);
            return std::nullopt;
        } else {
            options.model = argument;
        }
    }
    if (!options.model && !options.about && !options.properties) {
        std::fputs(kUsage, stderr);
        return std::nullopt;
    }
    return options;
}

std::wstring programFolder() {
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        const DWORD length =
            GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0) {
            return L".";
        }
        if (length < buffer.size()) {
            std::wstring path(buffer.data(), length);
            const std::size_t slash = path.find_last_of(L"\\/");
            return slash == std::wstring::npos ? L"." : path.substr(0, slash);
        }
        buffer.resize(buffer.size() * 2);
    }
}

std::wstring defaultModulePath() {
    const std::wstring folder = programFolder();
    const std::wstring beside = folder + L"\\quillmesh_64.8bi";
    if (GetFileAttributesW(beside.c_str()) != INVALID_FILE_ATTRIBUTES) {
        return beside;
    }
    return folder + L"\\..\\quillmesh_64.8bi";
}

// The module's property list, as the host reads it without running the module.
std::optional<std::vector<qmhost::PluginProperty>> readPropertyList(HMODULE module) {
    HRSRC found = FindResourceExW(module, L"PIPL", MAKEINTRESOURCEW(kPropertyListId),
                                  MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US));
    if (found == nullptr) {
        return std::nullopt;
    }
    HGLOBAL loaded = LoadResource(module, found);
    const void* bytes = loaded != nullptr ? LockResource(loaded) : nullptr;
    const DWORD size = SizeofResource(module, found);
    if (bytes == nullptr) {
        return std::nullopt;
    }
    return qmhost::parsePropertyList(
        std::span<const uint8_t>(static_cast<const uint8_t*>(bytes), size));
}

bool writeFile(const std::wstring& path, const std::vector<uint8_t>& bytes) {
    return quillmesh::platform::writeWholeFile(std::u16string(path.begin(), path.end()), bytes);
}

int run(const Options& options) {
    const std::wstring modulePath = options.module.empty() ? defaultModulePath() : options.module;
    HMODULE module = LoadLibraryW(modulePath.c_str());
    if (module == nullptr) {
        std::fprintf(stderr, "quillmesh-import: cannot load the module %s (error %lu)\n",
                     utf8(modulePath).c_str(), GetLastError());
        return kExitFailure;
    }
    const auto properties = readPropertyList(module);
    if (!properties) {
        std::fprintf(stderr, "quillmesh-import: %s has no readable property list\n",
                     utf8(modulePath).c_str());
        FreeLibrary(module);
        return kExitFailure;
    }
    if (options.properties) {
        std::printf("module:      %s\n%s", utf8(modulePath).c_str(),
                    qmhost::describeProperties(*properties).c_str());
    }
    // The host calls the entry point the property list names for 64-bit Windows.
    const qmhost::PluginProperty* entryProperty =
        qmhost::findProperty(*properties, HOST_FOURCC('8', '6', '6', '4'));
    const std::string entryName = entryProperty != nullptr ? qmhost::textValue(*entryProperty) : "";
    auto entry = reinterpret_cast<PluginMainRoutine>(
        reinterpret_cast<void (*)()>(GetProcAddress(module, entryName.c_str())));
    if (entry == nullptr) {
        std::fprintf(stderr, "quillmesh-import: the module exports no entry point \"%s\"\n",
                     entryName.c_str());
        FreeLibrary(module);
        return kExitFailure;
    }

    int status = kExitSuccess;
    {
        qmhost::Host host;
        host.setPluginModules(module, nullptr);
        if (options.about) {
            const int16_t result = host.call(entry, kSelectorAboutBox);
            for (const std::string& url : host.browsedUrls()) {
                std::printf("browser:     %s\n", url.c_str());
            }
            std::printf("about:       result %d\n", result);
            if (result != 0) {
                status = kExitFailure;
            }
        }
        if (options.model) {
            const std::u16string path(options.model->begin(), options.model->end());
            const auto start = std::chrono::steady_clock::now();
            const qmhost::ImportOutcome outcome = qmhost::runImport(host, entry, path);
            const double milliseconds =
                std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                    .count();
            std::printf("file:        %s\n", utf8(*options.model).c_str());
            std::printf("result:      %d (prepare %d, start %d, continue %d, finish %d)\n",
                        outcome.result(), outcome.prepareResult, outcome.startResult,
                        outcome.continueResult, outcome.finishResult);
            std::printf("scene:       %s, descriptor %zu bytes\n",
                        outcome.sceneDelivered ? "handed over" : "none", outcome.sceneBytes.size());
            std::printf("import time: %.1f ms\n", milliseconds);
            if (outcome.result() != 0 || !outcome.sceneDelivered) {
                status = kExitFailure;
            } else if (options.descriptor && !writeFile(*options.descriptor, outcome.sceneBytes)) {
                std::fprintf(stderr, "quillmesh-import: cannot write %s\n",
                             utf8(*options.descriptor).c_str());
                status = kExitFailure;
            }
        }
        if (!host.balanced()) {
            std::fprintf(stderr, "quillmesh-import: the module left host objects behind: %s\n",
                         host.accountSummary().c_str());
            status = kExitFailure;
        }
    }
    FreeLibrary(module);
    return status;
}

}  // namespace

int main() {
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (argv == nullptr) {
        return kExitUsage;
    }
    const std::optional<Options> options = parseArguments(argc, argv);
    LocalFree(argv);
    if (!options) {
        return kExitUsage;
    }
    try {
        return run(*options);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "quillmesh-import: %s\n", error.what());
        return kExitFailure;
    }
}
