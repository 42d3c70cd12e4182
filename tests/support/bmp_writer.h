// A small writer of Windows bitmap files for tests: any bit depth, bottom-up
// or top-down rows, odd widths (rows padded to 4 bytes with zeros), and
// deliberately wrong headers (signature, header size, planes, compression,
// colour count, pixel offset, truncation).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace kiru_test {

struct BmpColor {
    std::uint8_t blue, green, red, reserved;
};

struct BmpSpec {
    std::int32_t width = 8;
    std::int32_t height = 8;  // the image's row count; topDown stores it negated
    std::uint16_t bits = 8;   // 1, 4, 8, 16, 24, 32 (other values are written as given)
    bool topDown = false;
    // Colour table of 8 bits or fewer; empty means the grey ramp of 2^bits
    // entries scaled over 0..255. Written with biClrUsed = its size unless
    // clrUsed overrides that field.
    std::vector<BmpColor> palette;
    std::int64_t clrUsed = -1;  // -1: the palette's size (0 for true colour)
    std::uint32_t compression = 0;
    std::uint32_t masks[3] = {0, 0, 0};  // written after the header when compression is 3
    std::uint32_t headerSize = 40;       // 108 or 124 pad the header with zeros
    std::uint16_t signature = 0x4D42;
    std::uint16_t planes = 1;
    std::int64_t offBits = -1;      // -1: just past the colour table
    std::int64_t truncateTo = -1;   // -1: the whole file
};

// A spec of the given size and depth, everything else as above.
inline BmpSpec SpecOf(std::int32_t width, std::int32_t height, std::uint16_t bits = 8) {
    BmpSpec spec;
    spec.width = width;
    spec.height = height;
    spec.bits = bits;
    return spec;
}

// Pixel value at (x, y), y counted from the top: the palette index for 8
// bits or fewer, the raw 16- or 32-bit value, or 0xRRGGBB for 24 bits.
using BmpPixels = std::function<std::uint32_t(int x, int y)>;

std::vector<std::uint8_t> EncodeBmp(const BmpSpec& spec, const BmpPixels& pixel);
// Writes the file; false when it cannot be written.
bool WriteBmp(const std::string& path, const BmpSpec& spec, const BmpPixels& pixel);

// An 8-bit grey file of one value (grey ramp palette).
bool WriteFlatBmp(const std::string& path, int width, int height, std::uint8_t value);

// Row bytes of a file row: width * bits rounded up to 4 bytes.
std::size_t BmpStride(int width, int bits);

}  // namespace kiru_test
