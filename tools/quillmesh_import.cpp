// quillmesh-import: imports one ModelFile through the module, driven by our host exactly as the
// application drives it, and reports what came back. The command line is parsed here; the work
// is in import_summary.cpp and descriptor_json.cpp.
#include <exception>
#include <iostream>
#include <string>

#include <CLI/CLI.hpp>

#include "tools/import_summary.h"

namespace {

constexpr const char* kDescription =
    "Imports one ModelFile (.kvt) through the plug-in module, driven by our stand-in host\n"
    "through ReadPrepare, ReadStart, ReadContinue and ReadFinish exactly as the application\n"
    "drives it, and prints a summary: the file and its size; its version (and whether it is\n"
    "compressed) and its element counts (lights, cameras, materials, groups, vertices, aux\n"
    "records, UV sets, meshes, polygons over all meshes, bones, animations) and, for files\n"
    "with embedded files, how many were kept and how many the limits on their number (1000)\n"
    "and total size (16 times the file's) skipped, found by loading the file again with the\n"
    "tool's own reader; the scene's materials, vertices and polygons from the scene\n"
    "descriptor the host received; the time the import took; and the plug-in's result code.";

constexpr const char* kFooter =
    "When the import fails the tool says why in plain words, with the plug-in's result code:\n"
    "the file cannot be opened, is not a ModelFile, has an unsupported version, has a length\n"
    "that does not match its header, or is damaged or truncated. The plug-in reports only its\n"
    "result code (-30501: no scene); the reason comes from the tool's own load of the file. A\n"
    "scene handed over for a file that does not load as a ModelFile is a failure too.\n"
    "\n"
    "JSON layout: a descriptor is {\"class\": CLASS, \"items\": {KEY: VALUE, ...}}, KEY and\n"
    "CLASS being four-character codes or string IDs as text; integers, floats, booleans, texts\n"
    "and lists are JSON values (NaN and infinities as strings); a data block is {\"bytes\": N,\n"
    "...}: \"vectors\" for verl/nrml/lnfl/lncl/vnvl, \"uvs\" for \"uvl \", \"polygons\" for facl,\n"
    "\"corners\" for faci, \"text\" for LyrN, key3DPaintType and the preservation texts, and\n"
    "\"hex\" for any other block.\n"
    "\n"
    "Paths are UTF-8.\n"
    "\n"
    "Exit status: 0 the import handed over a scene (or the flat rows) for a valid ModelFile and\n"
    "every output was written; 1 the import or an output failed; 2 usage error.";

}  // namespace

int main(int argc, char** argv) {
    using namespace quillmesh::tool;
    try {
        CLI::App app{kDescription, "quillmesh-import"};
        app.footer(kFooter);
        ToolOptions options;
        std::string descriptorPath;
        app.add_option("MODEL", options.modelPath, "The ModelFile to import")
            ->required()
            ->type_name("FILE.kvt");
        CLI::Option* descriptorOption =
            app.add_option("--descriptor", descriptorPath,
                           "Write the flattened scene descriptor the host received to FILE, byte "
                           "for byte")
                ->type_name("FILE");
        CLI::Option* jsonOption = app.add_flag(
            "--json", options.json,
            "Print the scene descriptor decoded as JSON on standard output (the summary then "
            "goes to standard error)");
        app.add_flag("--flat", options.flat,
                     "Ask for flat pixels instead of a 3D layer: the host takes no 3D layer and "
                     "the rows come through the advance-state routine; no descriptor is kept")
            ->excludes(descriptorOption)
            ->excludes(jsonOption);
        try {
            app.parse(argc, argv);
        } catch (const CLI::ParseError& error) {
            return app.exit(error) == 0 ? kExitSuccess : kExitUsage;
        }
        if (descriptorOption->count() != 0) {
            options.descriptorPath = descriptorPath;
        }
        return runImportTool(options, std::cout, std::cerr);
    } catch (const std::exception& error) {
        std::cerr << "quillmesh-import: " << error.what() << "\n";
        return kExitFailure;
    }
}
