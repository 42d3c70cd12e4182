// Reproducible pseudo-random bytes for pixel tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kiru_test {

using Bytes = std::vector<std::uint8_t>;

// n bytes from a linear congruential sequence started at `seed`.
inline Bytes Pattern(std::size_t n, std::uint32_t seed) {
    Bytes b(n);
    for (auto& v : b) {
        seed = seed * 1664525u + 1013904223u;
        v = static_cast<std::uint8_t>(seed >> 24);
    }
    return b;
}

}  // namespace kiru_test
