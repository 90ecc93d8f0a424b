#include "tools/command_line.h"

#include <algorithm>
#include <ostream>

namespace quillmesh::tool {
namespace {

constexpr const char* kDescription =
    "Imports ModelFiles (.kvt) through the plug-in module, driven by our stand-in host exactly\n"
    "as the application drives it, and reports what the application would receive. For each\n"
    "FILE it prints a short summary: the file's version, whether it is compressed or chunked,\n"
    "its element counts as the file states them, what the host received (materials, meshes,\n"
    "vertices, polygons), the textures it refers to with a warning for each that does not\n"
    "exist, and the time taken. The scene always has one extra material of its own, marked\n"
    "\"default\", for polygons without a material.";

constexpr const char* kFooter =
    "Diagnostics go to standard error as \"quillmesh-import: FILE: reason\", one line each;\n"
    "standard output carries only the summary or the output asked for.\n"
    "\n"
    "--json prints per file one object (an array of them for several files): file, size,\n"
    "version, compressed, chunked, result (\"imported\" or \"failed\"), reason, pluginResult,\n"
    "fileCounts (as the file states them), hostCounts (what the host received, with\n"
    "descriptorBytes), materials (name, default, ambient, diffuse and specular colours,\n"
    "transparency, textures: slot, path, exists), meshes (name, vertices, polygons, bounds\n"
    "min and max), export (path, triangles) when written, warnings and milliseconds (import,\n"
    "total). It never holds the geometry.\n"
    "\n"
    "--dump-descriptor prints the whole scene descriptor the host received as JSON, streamed:\n"
    "{\"class\": CLASS, \"items\": {KEY: VALUE, ...}} with four-character keys; geometry blocks\n"
    "are decoded (vectors, uvs, polygons, corners), other blocks are hex.\n"
    "\n"
    "--export writes glTF 2.0 (.gltf with the buffer inside, or .glb) of the scene the host\n"
    "received, turned upright for glTF's +Y: positions, normals, UVs, polygons triangulated as\n"
    "fans, materials as metallic-roughness with the diffuse colour and opacity, and the diffuse\n"
    "texture referred to by a path relative to the export (never copied).\n"
    "\n"
    "Exit status: 0 every file imported and every output was written; 1 a file or an output\n"
    "failed (the other files still run); 2 usage error.";

}  // namespace

const char* toolVersion() {
    return QUILLMESH_TOOL_VERSION;
}

void addToolOptions(CLI::App& app, ToolOptions& options) {
    app.description(kDescription);
    app.footer(kFooter);
    // FILE is checked after the parse, so that an unknown option is what a usage error names.
    app.add_option("FILE", options.files, "ModelFiles to import")->type_name("FILE.kvt");
    app.add_option("--descriptor", options.descriptorPath,
                   "Write the flattened scene descriptor the host received to OUT, byte for "
                   "byte (one FILE; - for standard output)")
        ->type_name("OUT");
    app.add_option("--export", options.exportPath,
                   "Write the scene as glTF 2.0 to OUT.gltf or OUT.glb; with several files, to "
                   "the folder DIR/ as FILE.glb")
        ->type_name("OUT");
    app.add_flag("--json", options.json, "Print a compact JSON summary instead of the summary");
    app.add_flag("--dump-descriptor", options.dumpDescriptor,
                 "Print the whole scene descriptor as JSON instead of the summary");
    app.add_flag("--pretty", options.pretty, "Indent the JSON of --json or --dump-descriptor");
    app.add_flag("-q,--quiet", options.quiet,
                 "No summary and no progress line: only diagnostics and the outputs asked for");
    app.add_flag("--flat", options.flat,
                 "Ask for flat pixels instead of a 3D layer, as a host without 3D layers does");
}

std::optional<int> parseCommandLine(CLI::App& app, const ToolOptions& options, bool filesRequired,
                                    std::vector<std::string> arguments,
                                    const std::string& versionText, std::ostream& out,
                                    std::ostream& err) {
    bool version = false;
    app.add_flag("--version", version, "Print the tool's and the module's version");
    // --version answers even when FILE is missing: it is looked for before the parse.
    if (std::find(arguments.begin() + 1, arguments.end(), "--version") != arguments.end()) {
        out << versionText << "\n";
        return out.flush() ? kExitSuccess : kExitFailure;
    }
    std::reverse(arguments.begin(), arguments.end());
    arguments.pop_back();  // the program name
    try {
        app.parse(arguments);
    } catch (const CLI::CallForHelp&) {
        out << app.help();
        return kExitSuccess;
    } catch (const CLI::ParseError& error) {
        err << "quillmesh-import: " << error.what() << "\n"
            << "Run with --help for the options.\n";
        return kExitUsage;
    }
    const std::string problem = options.files.empty() && filesRequired
                                    ? "no input: give one or more FILE.kvt"
                                    : checkOptions(options);
    if (!problem.empty()) {
        err << "quillmesh-import: " << problem << "\n";
        return kExitUsage;
    }
    return std::nullopt;
}

}  // namespace quillmesh::tool
