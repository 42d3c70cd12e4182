// Frame content of a simulated camera: a generated pattern that carries the
// frame number, or a bitmap file named in the station.
#pragma once

#include <kiru/win_types.h>

#include <array>
#include <memory>
#include <string>
#include <vector>

namespace kiru::sim {

struct FrameGeometry {
    ULONG x = 0, y = 0;  // window origin on the sensor
    ULONG width = 0, height = 0;
    ULONG bytesPerPixel = 1;
    std::size_t Bytes() const { return static_cast<std::size_t>(width) * height * bytesPerPixel; }
};

// A decoded bitmap: blue, green, red per pixel, rows top-down.
struct Image {
    ULONG width = 0;
    ULONG height = 0;
    std::vector<unsigned char> bgr;
};

// How a camera renders its scene (the station's Image): the brightness of
// each colour channel, which follows exposure and gains, and for a raw
// colour sensor the layout of its colour mosaic.
struct SceneRendering {
    double scale[3] = {1.0, 1.0, 1.0};  // blue, green, red
    // 0: no mosaic; otherwise the code of the colour of the frame's first
    // two pixels of rows 0 and 1: 1 R G / G B, 2 G R / B G, 3 G B / R G, 4 B G / G R.
    ULONG bayer = 0;
};

// Reads an uncompressed 8-bit (palettized), 24-bit or 32-bit BMP file.
// Returns null and an error text when the file cannot be used.
std::shared_ptr<const Image> LoadBmp(const std::string& path, std::string* error);

// Writes one frame. The pattern: byte i of row r holds
// (i / bytesPerPixel + x + r + y + frameNumber + 64 * (i % bytesPerPixel)) mod 256,
// then the first four bytes of the frame hold the frame number
// (little-endian). With an image the frame shows the image instead (tiled
// when it is smaller), each channel scaled by the rendering and limited to
// 255: blue, green, red (and 0) for pixels of three or more bytes; for
// one-byte pixels the grey of the pixel, or with a mosaic the one channel
// the mosaic puts at that place of the frame. lut is applied to every byte
// last. The rendering does not touch the generated pattern.
void FillFrame(unsigned char* dest, const FrameGeometry& geometry, ULONG frameNumber,
               const std::array<unsigned char, 256>& lut, const Image* image,
               const SceneRendering& rendering = SceneRendering());

}  // namespace kiru::sim
