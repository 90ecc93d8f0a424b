// Timing helpers shared by the in-process benchmarks.
#pragma once

#include <algorithm>
#include <chrono>
#include <vector>

namespace quillmesh::bench {

using Clock = std::chrono::steady_clock;

inline double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// The median of a non-empty set of values.
inline double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t middle = values.size() / 2;
    return values.size() % 2 == 1 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

}  // namespace quillmesh::bench
