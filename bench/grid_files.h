// The benchmark grid: a height field z = 0.1 sin(6 pi x) cos(4 pi y) over the unit square, one
// UV per vertex (u = x, v = y), two triangles per grid cell, one material, one UV set, one mesh.
// The same grid is written as a plain version-33 ModelFile, the same compressed, a version-34
// (chunked) ModelFile and a binary glTF 2.0 file, so that our import and a peer library's can be
// timed on the same geometry.
//
// Files go into one folder, named after the size label: grid-1m-v33.kvt, grid-1m-v33z.kvt,
// grid-1m-v34.kvt, grid-1m.glb, and grid-1m.txt, which records the grid's parameters and the
// files' sizes. A size whose record matches what would be written is not written again.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quillmesh::bench {

struct GridSize {
    std::string label;  // "10k", "1m", "4m"
    int32_t columns = 0;
    int32_t rows = 0;

    int64_t vertices() const { return int64_t{columns + 1} * (rows + 1); }
    int64_t triangles() const { return int64_t{2} * columns * rows; }
};

// The sizes known by label: 10k, 1m and 4m triangles exactly (grids of 100 x 50, 1000 x 500 and
// 2000 x 1000 cells).
const std::vector<GridSize>& gridSizes();
// The size with this label (case-insensitive), if any.
std::optional<GridSize> findGridSize(std::string_view label);

enum class GridFileKind { kClassic, kClassicCompressed, kChunked, kGlb };
inline constexpr GridFileKind kGridFileKinds[] = {GridFileKind::kClassic,
                                                  GridFileKind::kClassicCompressed,
                                                  GridFileKind::kChunked, GridFileKind::kGlb};

// Short name of a kind as the tables print it: "v33", "v33z", "v34", "glb".
const char* gridFileKindName(GridFileKind kind);
std::filesystem::path gridFilePath(const std::filesystem::path& folder, const GridSize& size,
                                   GridFileKind kind);

// Seconds spent writing one size, step by step; zero for the steps skipped.
struct GridWriteTimes {
    bool cached = false;  // every file was already there
    double buildModel = 0;
    double writeClassic = 0;
    double writeCompressed = 0;
    double writeChunked = 0;
    double writeGlb = 0;
};

// Writes the four files of `size` into `folder` (made when missing) unless its record says they
// are there already and `force` is false. Throws std::runtime_error when a file cannot be
// written.
GridWriteTimes ensureGridFiles(const std::filesystem::path& folder, const GridSize& size,
                               bool force = false);

// The binary glTF bytes of the grid: one mesh with POSITION (with min and max), TEXCOORD_0 and
// uint32 indices in one buffer.
std::vector<uint8_t> gridGlb(const GridSize& size);

}  // namespace quillmesh::bench
