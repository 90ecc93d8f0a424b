// quillmesh-import: imports ModelFiles through the module, driven by our host exactly as the
// application drives it, and reports what came back. The work is in import_summary.cpp; the
// command line, shared with the Windows twin, in command_line.cpp.
#include <csignal>
#include <exception>
#include <iostream>
#include <string>

#include <unistd.h>

#include "entry/plugin_main.h"
#include "tools/command_line.h"

int main(int argc, char** argv) {
    using namespace quillmesh::tool;
    // A reader that goes away (`| head`) makes writes fail with EPIPE, reported like any
    // other output failure, instead of ending the process without a word.
    std::signal(SIGPIPE, SIG_IGN);
    try {
        CLI::App app{"", "quillmesh-import"};
        ToolOptions options;
        addToolOptions(app, options);
        const std::string version = std::string("quillmesh-import ") + toolVersion() + "\nmodule " +
                                    toolVersion() + " (linked into the tool)";
        if (const std::optional<int> status =
                parseCommandLine(app, options, true, std::vector<std::string>(argv, argv + argc),
                                 version, std::cout, std::cerr)) {
            return *status;
        }
        const ToolStreams streams{std::cout, std::cerr, isatty(STDERR_FILENO) == 1};
        return runImportTool(options, PluginMain, streams);
    } catch (const std::exception& error) {
        std::cerr << "quillmesh-import: " << error.what() << "\n";
        return kExitFailure;
    }
}
