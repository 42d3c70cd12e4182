// Row kernels of the Bayer demosaic (see bayer.cpp for the arithmetic).
#pragma once

#include <cstdint>

namespace kiru::bayer {

struct RowArgs {
    const std::uint8_t* up;    // row above (mirrored at the top)
    const std::uint8_t* mid;   // this row
    const std::uint8_t* down;  // row below (mirrored at the bottom)
    std::uint8_t* out;         // this row's output pixels
    int width;
    int pixelBytes;            // 3 or 4
    bool greenFirst;           // x = 0 is a green sample
    bool redRow;               // the row's other samples are red
    bool unitGains;
    std::uint16_t gains[3];    // blue, green, red, times 256
};

// Converts pixels [from, to) of a row, borders included.
void ConvertPixels(const RowArgs& a, int from, int to);

// A kernel converts interior pixels from x = 1 in whole blocks and returns
// the first x it left for ConvertPixels.
typedef int (*RowKernel)(const RowArgs& a);

// The vector kernel this processor runs, or null.
RowKernel VectorKernel();

inline int MirrorRow(int y, int n) {
    if (y < 0) return n > 1 ? 1 : 0;
    if (y >= n) return n > 1 ? n - 2 : n - 1;
    return y;
}

}  // namespace kiru::bayer
