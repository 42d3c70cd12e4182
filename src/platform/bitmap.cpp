// Device-independent bitmaps: validation, colour tables and pixel memory.
#include "platform/bitmap.h"

#include <cstring>

namespace kiru::platform {

std::uint64_t DibRowBytes(LONG width, unsigned bitCount) {
    if (width <= 0) return 0;
    return ((std::uint64_t(width) * bitCount + 31) / 32) * 4;
}

namespace {

bool ValidBitCount(unsigned bits) {
    return bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32;
}

std::uint32_t MaskOf(const RGBQUAD& entry) {
    return std::uint32_t(entry.rgbBlue) | std::uint32_t(entry.rgbGreen) << 8 | std::uint32_t(entry.rgbRed) << 16 |
           std::uint32_t(entry.rgbReserved) << 24;
}

}  // namespace

bool Dib::IsValidHeader(const BITMAPINFOHEADER& h) {
    if (h.biSize != sizeof(BITMAPINFOHEADER) || h.biWidth <= 0 || h.biHeight == 0 || h.biPlanes != 1) return false;
    if (!ValidBitCount(h.biBitCount)) return false;
    const bool bitfields = h.biCompression == BI_BITFIELDS;
    if (h.biCompression != BI_RGB && !(bitfields && (h.biBitCount == 16 || h.biBitCount == 32))) return false;
    const std::uint64_t size = DibRowBytes(h.biWidth, h.biBitCount) * Magnitude(h.biHeight);
    return size != 0 && size <= kMaxDibBytes;
}

std::unique_ptr<Dib> Dib::Create(const BITMAPINFO& info, bool zeroFill) {
    const BITMAPINFOHEADER& h = info.bmiHeader;
    if (!IsValidHeader(h)) return nullptr;
    const bool bitfields = h.biCompression == BI_BITFIELDS;
    const std::uint64_t rowBytes = DibRowBytes(h.biWidth, h.biBitCount);
    const std::uint64_t size = rowBytes * Magnitude(h.biHeight);

    std::unique_ptr<Dib> dib(new Dib());
    dib->header_ = h;
    dib->rowBytes_ = static_cast<std::size_t>(rowBytes);
    if (h.biBitCount <= 8) {
        const unsigned full = 1u << h.biBitCount;
        unsigned count = h.biClrUsed == 0 ? full : (h.biClrUsed < 256 ? h.biClrUsed : 256);
        dib->colorCount_ = count;
        std::memcpy(dib->colors_, info.bmiColors, count * sizeof(RGBQUAD));
        bool grey = count == 256;
        for (unsigned i = 0; grey && i < 256; ++i) {
            const RGBQUAD& c = dib->colors_[i];
            grey = c.rgbBlue == i && c.rgbGreen == i && c.rgbRed == i;
        }
        dib->greyRamp_ = grey;
    } else if (bitfields) {
        for (int i = 0; i < 3; ++i) dib->masks_[i] = MaskOf(info.bmiColors[i]);
    } else if (h.biBitCount == 16) {
        dib->masks_[0] = 0x7C00;
        dib->masks_[1] = 0x03E0;
        dib->masks_[2] = 0x001F;
    } else {
        dib->masks_[0] = 0xFF0000;
        dib->masks_[1] = 0x00FF00;
        dib->masks_[2] = 0x0000FF;
    }

    const std::size_t bytes = static_cast<std::size_t>(size);
    dib->bits_.reset(static_cast<unsigned char*>(zeroFill ? std::calloc(bytes, 1) : std::malloc(bytes)));
    if (!dib->bits_) return nullptr;
    return dib;
}

unsigned Dib::NearestColorIndex(unsigned red, unsigned green, unsigned blue) const {
    unsigned best = 0;
    unsigned bestDistance = ~0u;
    for (unsigned i = 0; i < colorCount_; ++i) {
        const int dr = int(colors_[i].rgbRed) - int(red);
        const int dg = int(colors_[i].rgbGreen) - int(green);
        const int db = int(colors_[i].rgbBlue) - int(blue);
        const unsigned distance = unsigned(dr * dr + dg * dg + db * db);
        if (distance < bestDistance) {
            bestDistance = distance;
            best = i;
        }
    }
    return best;
}

void Dib::FillBlack() {
    if (!bits_) return;
    if (BitCount() == 8) {
        std::memset(bits_.get(), static_cast<int>(NearestColorIndex(0, 0, 0)), SizeBytes());
    } else if (BitCount() < 8) {
        // Repeat the black index across every pixel of the byte.
        const unsigned bits = BitCount();
        unsigned value = 0;
        const unsigned index = NearestColorIndex(0, 0, 0);
        for (unsigned shift = 0; shift < 8; shift += bits) value |= index << shift;
        std::memset(bits_.get(), static_cast<int>(value & 0xFF), SizeBytes());
    } else {
        std::memset(bits_.get(), 0, SizeBytes());
    }
}

}  // namespace kiru::platform
