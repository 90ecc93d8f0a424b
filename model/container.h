// What the classic and chunked readers share around their bodies: decompression and the
// defaults that depend on the whole file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "model/kvt_plugin.h"
#include "model/sections.h"

namespace quillmesh {

// Decompresses the zlib stream at `streamOffset` of `bytes`, expected to give at most
// `imageLength` bytes, into `out`, counting the image against `memory` as it grows. False (out
// unchanged) when there is no stream, the length is 0 or beyond what the stream could expand to,
// the stream is damaged, ends early, produces nothing or more than `imageLength`, or outgrows
// the budget. Throws only std::bad_alloc.
bool inflateImage(std::span<const uint8_t> bytes, uint32_t streamOffset, uint32_t imageLength,
                  MemoryBudget& memory, std::vector<uint8_t>& out);

// Two UV sets named UVSet1 and UVSet2, replacing any.
void makeDefaultUVSets(ModelData& model);

// After the last section: fails a file that declares no elements at all, gives a file declaring
// no group one group named KVTGroup0 and one declaring no UV set the two default sets, and fits
// the animations' tracks to the bones.
bool finishModel(const DeclaredCounts& declared, ModelData& model);

// The chunked (version 34) reader (model/version34.cpp); `bytes` start with its header.
int parseChunkedImage(std::span<const uint8_t> bytes, ModelData& model);

}  // namespace quillmesh
