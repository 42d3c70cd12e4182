// Device-independent bitmaps: an information header, a colour table and
// zero-filled pixel rows padded to 32 bits, as the other platform's DIB
// sections are. Rows are stored bottom-up for a positive height and top-down
// for a negative one; Row(y) always counts from the top of the image.
#pragma once

#include <kiru/bitmap_types.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>

namespace kiru::platform {

// Largest pixel block a bitmap may have; larger ones are refused as a failed
// allocation would be.
constexpr std::uint64_t kMaxDibBytes = std::uint64_t(1) << 30;

// Bytes per row: width * bitCount bits rounded up to whole 32-bit words.
// Computed in 64 bits; 0 for a non-positive width.
std::uint64_t DibRowBytes(LONG width, unsigned bitCount);

// |value| as an unsigned number (also for the most negative LONG).
inline std::uint32_t Magnitude(LONG value) {
    return value < 0 ? 0u - static_cast<std::uint32_t>(value) : static_cast<std::uint32_t>(value);
}

class Dib {
public:
    // Validates the header as DIB section creation does and allocates zeroed
    // pixels. Accepted: header size 40, width > 0, height != 0, one plane,
    // 1, 4, 8, 16, 24 or 32 bits, BI_RGB, or BI_BITFIELDS for 16 and 32 bits
    // (masks in the first three colour entries). Bitmaps of 8 bits or fewer
    // take biClrUsed colours (at most 256; 0 means 2^bits) from the table;
    // entries past them read as black. Null when invalid or too large.
    // zeroFill false leaves the pixels undefined, for a caller that writes
    // every byte itself.
    static std::unique_ptr<Dib> Create(const BITMAPINFO& info, bool zeroFill = true);
    // The header checks of Create, without allocating.
    static bool IsValidHeader(const BITMAPINFOHEADER& header);

    const BITMAPINFOHEADER& Header() const { return header_; }
    LONG Width() const { return header_.biWidth; }
    LONG Height() const { return static_cast<LONG>(Magnitude(header_.biHeight)); }
    bool TopDown() const { return header_.biHeight < 0; }
    unsigned BitCount() const { return header_.biBitCount; }
    std::size_t RowBytes() const { return rowBytes_; }
    std::size_t SizeBytes() const { return rowBytes_ * static_cast<std::size_t>(Height()); }

    unsigned char* Bits() { return bits_.get(); }
    const unsigned char* Bits() const { return bits_.get(); }
    // Row y counted from the top (0 <= y < Height()).
    unsigned char* Row(LONG y) { return bits_.get() + RowOffset(y); }
    const unsigned char* Row(LONG y) const { return bits_.get() + RowOffset(y); }

    // 256 entries for bitmaps of 8 bits or fewer; unused entries are black.
    const RGBQUAD* Colors() const { return colors_; }
    unsigned ColorCount() const { return colorCount_; }
    // Red, green and blue masks of 16- and 32-bit pixels (5-5-5 and 8-8-8
    // for BI_RGB).
    const std::uint32_t* Masks() const { return masks_; }

    // Paints the whole bitmap black (the blackness raster operation).
    void FillBlack();

    // Index of the colour-table entry nearest to the colour (least squared
    // distance; the lowest index wins a tie). Bitmaps of 8 bits or fewer.
    unsigned NearestColorIndex(unsigned red, unsigned green, unsigned blue) const;
    // True when the table is the 256-entry grey ramp (entry i = i, i, i).
    bool HasGreyRamp() const { return greyRamp_; }

private:
    struct FreeDeleter {
        void operator()(unsigned char* p) const { std::free(p); }
    };
    Dib() = default;
    std::size_t RowOffset(LONG y) const {
        const std::size_t row = TopDown() ? static_cast<std::size_t>(y) : static_cast<std::size_t>(Height() - 1 - y);
        return row * rowBytes_;
    }

    BITMAPINFOHEADER header_{};
    RGBQUAD colors_[256]{};
    unsigned colorCount_ = 0;
    std::uint32_t masks_[3]{};
    bool greyRamp_ = false;
    std::size_t rowBytes_ = 0;
    std::unique_ptr<unsigned char, FreeDeleter> bits_;
};

// Draws the source rectangle into the destination rectangle in the
// colour-on-colour stretch mode: each destination pixel takes the source
// pixel at (sx + x * sw / dw, sy + y * sh / dh), so enlarging repeats rows and
// columns and shrinking drops them. Pixels are converted to the destination's
// format; a colour drawn into a palette takes the nearest entry, which for a
// grey ramp is the nearest grey. The destination must have 8, 16, 24 or 32
// bits. Both rectangles must have positive sizes and lie inside their
// bitmaps. Returns the number of destination rows drawn, 0 on failure.
int StretchDib(Dib& dst, LONG dx, LONG dy, LONG dw, LONG dh, const Dib& src, LONG sx, LONG sy, LONG sw, LONG sh);

}  // namespace kiru::platform
