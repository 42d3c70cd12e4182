// Pixel kernels behind the grab object's image transforms: mirror, flip,
// rotation (any angle, plus exact quarter- and half-turn fast paths) and the
// mosaic copy of tiled acquisition.
//
// Images are packed: a row is width * pixelBytes bytes and rows follow one
// another without padding. Source and destination never overlap.
#pragma once

#include <cstddef>
#include <cstdint>

// On x86-64 with GCC or Clang some kernels have variants for instruction-set
// extensions (SSSE3, AVX2, AVX-512), compiled for them alone and chosen at run time.
#if defined(__GNUC__) && defined(__x86_64__)
#define KIRU_IMG_X86_DISPATCH 1
#else
#define KIRU_IMG_X86_DISPATCH 0
#endif

namespace kiru::img {

// The extension variants are used when the processor has the extension and
// they are allowed (the default). They write the same bytes as the plain
// code, which tests check by turning them off.
void AllowCpuExtensions(bool allow);
// Turns the AVX-512 variants alone off, so that the AVX2 ones run on a
// processor that has both.
void AllowAvx512(bool allow);
bool HasSsse3();
bool HasAvx2();
bool HasAvx512Vbmi();  // with AVX-512 F and BW

// Reverses the order of the pixels of each row. Pixels of 1 to 4 bytes keep
// their byte order; any other pixel size writes nothing.
void MirrorImage(const std::uint8_t* src, std::uint8_t* dst, std::size_t width, std::size_t rows, unsigned pixelBytes);

// Reverses the order of `count` pixels of one row (1 to 4 bytes each).
void MirrorRow(const std::uint8_t* src, std::uint8_t* dst, std::size_t count, unsigned pixelBytes);

// Reverses the order of the rows; each row is copied whole.
void FlipImage(const std::uint8_t* src, std::uint8_t* dst, std::size_t rowBytes, std::size_t rows);

// Lays out vertTiles * horzTiles frames, stored one after another, as a
// mosaic: horzTiles frames side by side, vertTiles such bands one below the
// other. Each frame is `rows` rows of rowBytes bytes.
void MosaicCopy(const std::uint8_t* src, std::uint8_t* dst, std::size_t horzTiles, std::size_t vertTiles,
                std::size_t rowBytes, std::size_t rows);

// Quarter-turn orientation of a stored angle: angle modulo 180 in 46..134.
inline bool IsQuarterTurnAngle(unsigned degrees) {
    const unsigned r = degrees % 180;
    return r >= 46 && r <= 134;
}

// Where a rotation puts the source. A source pixel at (x, y) goes to
//   (u*cos + v*sin, -u*sin + v*cos) + origin + shift,  (u, v) = (x, y) - origin,
// with y growing downwards, so a positive angle turns counter-clockwise on
// screen.
struct RotationPlacement {
    double cos, sin;
    double originX, originY;
    double shiftX, shiftY;
    std::size_t dstWidth, dstHeight;
};

// The placement of a srcWidth x srcHeight block turned by `degrees` (0..359):
// - quarter-turn orientation: about (0, 0), then shifted so that the bounding
//   box of the turned block is centred in an output of swapped size;
// - any other angle: about (srcWidth / 2, srcHeight / 2), output of equal size.
// 90, 180 and 270 use exact sines and cosines.
RotationPlacement PlaceRotation(unsigned degrees, std::size_t srcWidth, std::size_t srcHeight);

// Nearest-sampled rotation for any placement: every output pixel whose
// position maps back inside the source takes the source pixel at
// (int)(x + 0.5), (int)(y + 0.5); the others are left as they are. Pixels of
// 1 to 4 bytes are moved whole.
void RotateGeneral(const std::uint8_t* src, std::size_t srcWidth, std::size_t srcHeight, std::uint8_t* dst,
                   unsigned pixelBytes, const RotationPlacement& placement);

// Fast paths giving the same bytes as RotateGeneral for the exact angles.
// Quarter turns: the output is srcHeight pixels wide and srcWidth rows high.
void RotateQuarterCcw(const std::uint8_t* src, std::size_t srcWidth, std::size_t srcHeight, std::uint8_t* dst,
                      unsigned pixelBytes);  // stored 90
void RotateQuarterCw(const std::uint8_t* src, std::size_t srcWidth, std::size_t srcHeight, std::uint8_t* dst,
                     unsigned pixelBytes);  // stored 270
// Half turn about (width / 2, height / 2); with an even width (height) the
// first column (row) of the output is not written.
void RotateHalf(const std::uint8_t* src, std::size_t width, std::size_t height, std::uint8_t* dst, unsigned pixelBytes);

// Rotates a block by a stored angle, taking the fast path when there is one.
// In quarter-turn orientation the output is srcHeight x srcWidth pixels.
void RotateBlock(const std::uint8_t* src, std::size_t srcWidth, std::size_t srcHeight, std::uint8_t* dst,
                 unsigned pixelBytes, unsigned degrees);

}  // namespace kiru::img
