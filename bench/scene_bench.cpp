// Times the ImportScene at scale: find-or-create over many materials, mesh
// appends, filling a large mesh's arrays, and the descriptor writer
// through our host. Prints times and rates; checks results so that nothing is
// optimised away and a wrong answer is not reported as a time.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "host/host.h"
#include "scene/import_scene.h"
#include "scene/scene_writer.h"

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

void report(const char* what, std::size_t count, double seconds) {
    std::printf("%-44s %9zu in %8.3f ms  (%.0f per second)\n", what, count, seconds * 1e3,
                seconds > 0 ? static_cast<double>(count) / seconds : 0.0);
}

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "scene_bench: %s\n", what);
    std::exit(1);
}

std::string materialName(std::size_t i) {
    return "material name number " + std::to_string(i);
}

}  // namespace

int main(int argc, char** argv) {
    const std::size_t count = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 100000;
    using namespace quillmesh;

    std::vector<std::string> names;
    names.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        names.push_back(materialName(i));
    }

    ImportSceneOwner scene(createImportScene());
    if (!scene) {
        fail("no scene");
    }

    Clock::time_point start = Clock::now();
    for (const std::string& name : names) {
        if (findOrCreateMaterial(*scene, name) == nullptr) {
            fail("material not created");
        }
    }
    report("findOrCreateMaterial, new names", count, secondsSince(start));
    if (scene->materials.size() != count) {
        fail("wrong material count");
    }

    start = Clock::now();
    const SceneMaterial* last = nullptr;
    for (auto it = names.rbegin(); it != names.rend(); ++it) {
        last = findOrCreateMaterial(*scene, *it);
    }
    report("findOrCreateMaterial, existing names", count, secondsSince(start));
    if (last != &scene->materials[0] || scene->materials.size() != count) {
        fail("lookup created or found the wrong material");
    }

    start = Clock::now();
    for (std::size_t i = 0; i < count; ++i) {
        SceneOwner<SceneMesh> mesh = createSceneMesh(names[i], 0, 0, 0, 0, 0, 0);
        if (!mesh) {
            fail("mesh not created");
        }
        appendElement(scene->meshes, std::move(mesh));
    }
    report("createSceneMesh + appendElement", count, secondsSince(start));
    if (scene->meshes.size() != count) {
        fail("wrong mesh count");
    }

    start = Clock::now();
    scene.reset();
    report("releaseImportScene (materials + meshes)", 2 * count, secondsSince(start));

    // One large mesh, then the writer.
    constexpr std::size_t kTriangles = 200000;
    ImportSceneOwner big(createImportScene());
    if (!big || findOrCreateMaterial(*big, "__PS_CS4_3D_Default") == nullptr) {
        fail("no scene");
    }
    SceneOwner<SceneMesh> mesh = createSceneMesh("", 0, 0, 0, 0, 0, 0);
    if (!mesh) {
        fail("mesh not created");
    }
    start = Clock::now();
    for (std::size_t i = 0; i < 3 * kTriangles; ++i) {
        mesh->vertices.push_back(sceneAxes(static_cast<double>(i), 1.0, 2.0));
    }
    report("vertices", 3 * kTriangles, secondsSince(start));
    start = Clock::now();
    for (std::size_t t = 0; t < kTriangles; ++t) {
        SceneCorner corners[3];
        for (std::size_t c = 0; c < 3; ++c) {
            const auto index = static_cast<int32_t>(3 * t + c);
            corners[c] = {index, index, 0, index};
        }
        if (!appendPolygon(*mesh, corners, 0, 1, 0)) {
            fail("polygon not appended");
        }
    }
    report("appendPolygon (triangles)", kTriangles, secondsSince(start));
    appendElement(big->meshes, std::move(mesh));

    qmhost::Host host;
    const SceneWriterContext context{
        {host.descriptors().descriptorSuite(), host.descriptors().listSuite(),
         host.descriptors().controlSuite(), host.descriptors().zstringSuite()}};
    HostHandle handle = nullptr;
    start = Clock::now();
    if (!writeSceneDescriptor(context, big.get(), &handle)) {
        fail("writer failed");
    }
    const double writeSeconds = secondsSince(start);
    const std::size_t bytes = host.handles().bytes(handle).size();
    report("writeSceneDescriptor (triangles)", kTriangles, writeSeconds);
    std::printf("%-44s %9zu bytes, %.1f MB/s\n", "flattened scene descriptor", bytes,
                writeSeconds > 0 ? static_cast<double>(bytes) / writeSeconds / 1e6 : 0.0);
    host.handles().dispose(handle);
    return 0;
}
