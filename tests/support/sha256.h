// SHA-256 (FIPS 180-4) for tests: a digest of a byte block in one call, used to
// record large outputs (scene descriptors) as short, comparable fingerprints.
// It is written for clarity, not speed, and handles blocks of any size in memory.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace quillmesh::testsupport {

using Sha256Digest = std::array<uint8_t, 32>;

namespace sha256detail {

inline constexpr std::array<uint32_t, 64> kRoundConstants{
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

inline constexpr uint32_t rotateRight(uint32_t value, int count) {
    return (value >> count) | (value << (32 - count));
}

// Folds one 64-byte block into the state.
inline void compressBlock(std::array<uint32_t, 8>& state, const uint8_t* block) {
    std::array<uint32_t, 64> schedule{};
    for (std::size_t i = 0; i < 16; ++i) {
        schedule[i] = static_cast<uint32_t>(block[4 * i]) << 24 |
                      static_cast<uint32_t>(block[4 * i + 1]) << 16 |
                      static_cast<uint32_t>(block[4 * i + 2]) << 8 |
                      static_cast<uint32_t>(block[4 * i + 3]);
    }
    for (std::size_t i = 16; i < 64; ++i) {
        const uint32_t s0 = rotateRight(schedule[i - 15], 7) ^ rotateRight(schedule[i - 15], 18) ^
                            (schedule[i - 15] >> 3);
        const uint32_t s1 = rotateRight(schedule[i - 2], 17) ^ rotateRight(schedule[i - 2], 19) ^
                            (schedule[i - 2] >> 10);
        schedule[i] = schedule[i - 16] + s0 + schedule[i - 7] + s1;
    }
    std::array<uint32_t, 8> v = state;
    for (std::size_t i = 0; i < 64; ++i) {
        const uint32_t s1 = rotateRight(v[4], 6) ^ rotateRight(v[4], 11) ^ rotateRight(v[4], 25);
        const uint32_t choice = (v[4] & v[5]) ^ (~v[4] & v[6]);
        const uint32_t t1 = v[7] + s1 + choice + kRoundConstants[i] + schedule[i];
        const uint32_t s0 = rotateRight(v[0], 2) ^ rotateRight(v[0], 13) ^ rotateRight(v[0], 22);
        const uint32_t majority = (v[0] & v[1]) ^ (v[0] & v[2]) ^ (v[1] & v[2]);
        const uint32_t t2 = s0 + majority;
        v = {t1 + t2, v[0], v[1], v[2], v[3] + t1, v[4], v[5], v[6]};
    }
    for (std::size_t i = 0; i < 8; ++i) {
        state[i] += v[i];
    }
}

}  // namespace sha256detail

inline Sha256Digest sha256(std::span<const uint8_t> bytes) {
    std::array<uint32_t, 8> state{0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                  0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
    const std::size_t wholeBlocks = bytes.size() / 64;
    for (std::size_t block = 0; block < wholeBlocks; ++block) {
        sha256detail::compressBlock(state, bytes.data() + 64 * block);
    }
    // The rest, the 0x80 marker, zeros up to 56 bytes into a block, then the bit length
    // big-endian: one or two final blocks.
    std::vector<uint8_t> tail(bytes.begin() + static_cast<std::ptrdiff_t>(64 * wholeBlocks),
                              bytes.end());
    tail.push_back(0x80);
    while (tail.size() % 64 != 56) {
        tail.push_back(0);
    }
    const uint64_t bitLength = static_cast<uint64_t>(bytes.size()) * 8;
    for (int shift = 56; shift >= 0; shift -= 8) {
        tail.push_back(static_cast<uint8_t>(bitLength >> shift));
    }
    for (std::size_t offset = 0; offset < tail.size(); offset += 64) {
        sha256detail::compressBlock(state, tail.data() + offset);
    }
    Sha256Digest digest{};
    for (std::size_t i = 0; i < 8; ++i) {
        for (std::size_t k = 0; k < 4; ++k) {
            digest[4 * i + k] = static_cast<uint8_t>(state[i] >> (24 - 8 * k));
        }
    }
    return digest;
}

// The digest as 64 lowercase hexadecimal digits.
inline std::string sha256Hex(std::span<const uint8_t> bytes) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text;
    for (const uint8_t byte : sha256(bytes)) {
        text.push_back(kDigits[byte >> 4]);
        text.push_back(kDigits[byte & 0xF]);
    }
    return text;
}

}  // namespace quillmesh::testsupport
