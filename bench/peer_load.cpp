// The yardstick for whole-process import times: loads a binary glTF file with a general 3D
// import library, checks that the scene holds the benchmark grid's one mesh with the expected
// vertex and face counts, and prints them. scripts/bench-import times this program as a whole
// process, like quillmesh-import.
//
//   peer_load [--smooth-normals] FILE.glb VERTICES FACES
//
// Without --smooth-normals the file is read with no post-processing; with it, with
// triangulation and smooth vertex normals generated. Exit status: 0 the scene is as expected,
// 1 it is not (or the file did not load), 2 usage error.
#include <cstdio>
#include <cstdlib>
#include <string>

#include <assimp/postprocess.h>
#include <assimp/scene.h>
#include <assimp/Importer.hpp>

namespace {

int usage() {
    std::fprintf(stderr, "usage: peer_load [--smooth-normals] FILE.glb VERTICES FACES\n");
    return 2;
}

bool parseCount(const char* text, unsigned long long& out) {
    char* end = nullptr;
    out = std::strtoull(text, &end, 10);
    return end != text && *end == '\0';
}

}  // namespace

int main(int argc, char** argv) {
    bool smoothNormals = false;
    int next = 1;
    if (next < argc && std::string(argv[next]) == "--smooth-normals") {
        smoothNormals = true;
        ++next;
    }
    if (argc - next != 3) {
        return usage();
    }
    const char* path = argv[next];
    unsigned long long expectedVertices = 0;
    unsigned long long expectedFaces = 0;
    if (!parseCount(argv[next + 1], expectedVertices) ||
        !parseCount(argv[next + 2], expectedFaces)) {
        return usage();
    }

    const unsigned int flags =
        smoothNormals ? aiProcess_Triangulate | aiProcess_GenSmoothNormals : 0u;
    Assimp::Importer importer;
    const aiScene* scene = importer.ReadFile(path, flags);
    if (scene == nullptr) {
        std::fprintf(stderr, "peer_load: %s: %s\n", path, importer.GetErrorString());
        return 1;
    }
    if (scene->mNumMeshes != 1) {
        std::fprintf(stderr, "peer_load: %s: %u meshes, expected 1\n", path, scene->mNumMeshes);
        return 1;
    }
    const aiMesh* mesh = scene->mMeshes[0];
    std::printf("%s: %u vertices, %u faces, %s, %s\n", path, mesh->mNumVertices, mesh->mNumFaces,
                mesh->HasTextureCoords(0) ? "UVs" : "no UVs",
                mesh->HasNormals() ? "normals" : "no normals");
    bool ok = true;
    if (mesh->mNumVertices != expectedVertices || mesh->mNumFaces != expectedFaces) {
        std::fprintf(stderr, "peer_load: %s: expected %llu vertices and %llu faces\n", path,
                     expectedVertices, expectedFaces);
        ok = false;
    }
    if (!mesh->HasTextureCoords(0)) {
        std::fprintf(stderr, "peer_load: %s: the mesh has no UVs\n", path);
        ok = false;
    }
    if (smoothNormals && !mesh->HasNormals()) {
        std::fprintf(stderr, "peer_load: %s: no normals were generated\n", path);
        ok = false;
    }
    if (mesh->mNumFaces > 0 && mesh->mFaces[0].mNumIndices != 3) {
        std::fprintf(stderr, "peer_load: %s: the first face has %u corners, expected 3\n", path,
                     mesh->mFaces[0].mNumIndices);
        ok = false;
    }
    return ok ? 0 : 1;
}
