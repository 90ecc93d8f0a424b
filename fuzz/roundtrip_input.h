// The leading bytes of a fuzz_roundtrip input, shared by the target and make_seeds so that the
// seed corpus starts from every version and every compression.
//
// Byte 0 picks the version: kRoundtripFirstVersion + byte % kRoundtripVersionCount (6 to 34).
// Byte 1 picks the compression: a classic file is compressed when its bit 0 is set, a version-34
// file is compressed byte % 3 times (nested). Every later byte is a choice of the model builder,
// consumed front to back; an input that runs out reads zeros.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace quillmesh::fuzz {

inline constexpr int32_t kRoundtripFirstVersion = 6;
inline constexpr int32_t kRoundtripVersionCount = 29;
inline constexpr int kRoundtripChunkedCompressions = 3;

// An input that writes a file of `version` compressed `compression` times (classic files: 0 or
// 1), the model being chosen by `choices`.
inline std::vector<uint8_t> roundtripInput(int32_t version, int compression,
                                           std::span<const uint8_t> choices) {
    std::vector<uint8_t> input{static_cast<uint8_t>(version - kRoundtripFirstVersion),
                               static_cast<uint8_t>(compression)};
    input.insert(input.end(), choices.begin(), choices.end());
    return input;
}

}  // namespace quillmesh::fuzz
