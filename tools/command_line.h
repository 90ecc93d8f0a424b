// The command line of quillmesh-import, shared by the native tool and its Windows twin, which
// adds options of its own to the same parser.
#pragma once

#include <CLI/CLI.hpp>

#include "tools/import_summary.h"

namespace quillmesh::tool {

// The tool's version, from the project's.
const char* toolVersion();

// Describes the tool and adds its options to `app`.
void addToolOptions(CLI::App& app, ToolOptions& options);

// Parses `arguments` (the program name first) into `app`; FILE... is required when
// `filesRequired` (the Windows twin runs without files for --about). Returns the exit status when
// the run ends here (help, --version, a usage error, printed to `out` or `err`), nothing otherwise.
// `versionText` is what --version prints.
std::optional<int> parseCommandLine(CLI::App& app, const ToolOptions& options, bool filesRequired,
                                    std::vector<std::string> arguments,
                                    const std::string& versionText, std::ostream& out,
                                    std::ostream& err);

}  // namespace quillmesh::tool
