// quillmesh-import for Windows: our host loading the built module the way the application does.
// It loads the .8bi with LoadLibrary, reads its property list to learn the entry point, finds it
// with GetProcAddress, and runs the About selector and the four read selectors through it. The
// command line and everything after the entry point is found are the native tool's own
// (command_line.cpp, import_summary.cpp); this twin adds --module, --properties and --about.
//
// Without --module the module is quillmesh_64.8bi beside this program, or in the folder above it
// (the build tree's layout).
#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <shellapi.h>

#include <cstdio>
#include <exception>
#include <iostream>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "host/host.h"
#include "host/property_list.h"
#include "platform/platform.h"
#include "tools/command_line.h"

namespace {

using namespace quillmesh::tool;

constexpr int16_t kSelectorAboutBox = 0;
constexpr WORD kPropertyListId = 16000;

std::string utf8(const std::wstring& wide) {
    return quillmesh::platform::toUtf8(std::u16string(wide.begin(), wide.end()));
}

std::wstring wide(const std::string& text) {
    const std::u16string units = quillmesh::platform::fromUtf8(text);
    return std::wstring(units.begin(), units.end());
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

// The module's file version from its version resource, "" when it has none.
std::string moduleVersion(const std::wstring& path) {
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
    if (size == 0) {
        return {};
    }
    std::vector<uint8_t> info(size);
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT fixedSize = 0;
    if (!GetFileVersionInfoW(path.c_str(), 0, size, info.data()) ||
        !VerQueryValueW(info.data(), L"\\", reinterpret_cast<void**>(&fixed), &fixedSize) ||
        fixed == nullptr || fixedSize < sizeof(VS_FIXEDFILEINFO)) {
        return {};
    }
    return std::to_string(HIWORD(fixed->dwFileVersionMS)) + "." +
           std::to_string(LOWORD(fixed->dwFileVersionMS)) + "." +
           std::to_string(HIWORD(fixed->dwFileVersionLS)) + "." +
           std::to_string(LOWORD(fixed->dwFileVersionLS));
}

struct TwinOptions {
    std::string module;
    bool properties = false;
    bool about = false;
};

int run(const ToolOptions& options, const TwinOptions& twin, const std::wstring& modulePath) {
    HMODULE module = LoadLibraryW(modulePath.c_str());
    if (module == nullptr) {
        std::cerr << "quillmesh-import: " << utf8(modulePath) << ": cannot load the module (error "
                  << GetLastError() << ")\n";
        return kExitFailure;
    }
    const auto properties = readPropertyList(module);
    if (!properties) {
        std::cerr << "quillmesh-import: " << utf8(modulePath) << ": no readable property list\n";
        FreeLibrary(module);
        return kExitFailure;
    }
    if (twin.properties) {
        std::cout << "module:      " << utf8(modulePath) << "\n"
                  << qmhost::describeProperties(*properties);
    }
    // The host calls the entry point the property list names for 64-bit Windows.
    const qmhost::PluginProperty* entryProperty =
        qmhost::findProperty(*properties, HOST_FOURCC('8', '6', '6', '4'));
    const std::string entryName = entryProperty != nullptr ? qmhost::textValue(*entryProperty) : "";
    auto entry = reinterpret_cast<PluginMainRoutine>(
        reinterpret_cast<void (*)()>(GetProcAddress(module, entryName.c_str())));
    if (entry == nullptr) {
        std::cerr << "quillmesh-import: " << utf8(modulePath) << ": no entry point \"" << entryName
                  << "\"\n";
        FreeLibrary(module);
        return kExitFailure;
    }

    int status = kExitSuccess;
    if (twin.about) {
        qmhost::Host host;
        host.setPluginModules(module, nullptr);
        const int16_t result = host.call(entry, kSelectorAboutBox);
        for (const std::string& url : host.browsedUrls()) {
            std::cout << "browser:     " << url << "\n";
        }
        std::cout << "about:       result " << result << "\n";
        if (result != 0) {
            status = kExitFailure;
        }
        if (!host.balanced()) {
            std::cerr << "quillmesh-import: the module left host objects behind: "
                      << host.accountSummary() << "\n";
            status = kExitFailure;
        }
    }
    if (!options.files.empty()) {
        const ToolStreams streams{std::cout, std::cerr, _isatty(_fileno(stderr)) != 0};
        if (runImportTool(options, entry, streams) != kExitSuccess) {
            status = kExitFailure;
        }
    }
    std::cout.flush();
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
    std::vector<std::string> arguments;
    for (int i = 0; i < argc; ++i) {
        arguments.push_back(utf8(argv[i]));
    }
    LocalFree(argv);
    // The flattened descriptor may go to standard output: no newline translation.
    _setmode(_fileno(stdout), _O_BINARY);
    try {
        CLI::App app{"", "quillmesh-import"};
        ToolOptions options;
        TwinOptions twin;
        addToolOptions(app, options);
        app.add_option("--module", twin.module,
                       "The module to load (default: quillmesh_64.8bi beside this program or in "
                       "the folder above it)")
            ->type_name("FILE.8bi");
        app.add_flag("--properties", twin.properties,
                     "Print what the module's property list says about it");
        app.add_flag("--about", twin.about,
                     "Show the module's About box; it stays up until it is closed");
        // --version is answered before the parse, so the module is the default one or the one
        // named right after --module.
        std::wstring modulePath = defaultModulePath();
        for (std::size_t i = 1; i + 1 < arguments.size(); ++i) {
            if (arguments[i] == "--module") {
                modulePath = wide(arguments[i + 1]);
            }
        }
        const std::string versionOfModule = moduleVersion(modulePath);
        const std::string version =
            std::string("quillmesh-import ") + toolVersion() + "\nmodule " +
            (versionOfModule.empty() ? std::string("(no version found)") : versionOfModule) + " (" +
            utf8(modulePath) + ")";
        if (const std::optional<int> status =
                parseCommandLine(app, options, false, arguments, version, std::cout, std::cerr)) {
            return *status;
        }
        if (options.files.empty() && !twin.about && !twin.properties) {
            std::cerr << "quillmesh-import: no input: give one or more FILE.kvt, --about or "
                         "--properties\n";
            return kExitUsage;
        }
        if (!twin.module.empty()) {
            modulePath = wide(twin.module);
        }
        return run(options, twin, modulePath);
    } catch (const std::exception& error) {
        std::cerr << "quillmesh-import: " << error.what() << "\n";
        return kExitFailure;
    }
}
