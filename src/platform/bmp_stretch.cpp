// The colour-on-colour stretch between device-independent bitmaps: nearest
// source pixel per destination pixel, with the pixel format converted.
#include <cstring>
#include <vector>

#include "platform/bitmap.h"

namespace kiru::platform {

namespace {

struct Rgb {
    unsigned red, green, blue;
};

// One colour channel of a 16- or 32-bit pixel, described by its mask.
struct Channel {
    unsigned shift = 0;
    unsigned width = 0;

    explicit Channel(std::uint32_t mask) {
        if (mask == 0) return;
        while ((mask & 1u) == 0) {
            mask >>= 1;
            ++shift;
        }
        while (mask & 1u) {
            mask >>= 1;
            ++width;
        }
    }

    // The channel's bits widened (or narrowed) to 8, the top bits repeated
    // into the low ones so that full scale stays full scale.
    unsigned Decode(std::uint32_t pixel) const {
        if (width == 0) return 0;
        const std::uint32_t value = (pixel >> shift) & ((width >= 32) ? ~0u : ((1u << width) - 1));
        if (width >= 8) return value >> (width - 8);
        unsigned out = value << (8 - width);
        for (unsigned filled = width; filled < 8; filled += width) out |= (value << (8 - width)) >> filled;
        return out & 0xFF;
    }

    std::uint32_t Encode(unsigned value8) const {
        if (width == 0) return 0;
        const std::uint32_t value = width <= 8 ? value8 >> (8 - width) : std::uint32_t(value8) << (width - 8);
        return value << shift;
    }
};

class PixelReader {
public:
    explicit PixelReader(const Dib& dib)
        : dib_(dib), bits_(dib.BitCount()), red_(dib.Masks()[0]), green_(dib.Masks()[1]), blue_(dib.Masks()[2]) {}

    // Palette index of pixel x (bitmaps of 8 bits or fewer); the leftmost
    // pixel sits in the highest bits of its byte.
    unsigned Index(const unsigned char* row, std::uint32_t x) const {
        if (bits_ == 8) return row[x];
        const std::uint64_t bit = std::uint64_t(x) * bits_;
        const unsigned byte = row[bit / 8];
        const unsigned shift = 8 - bits_ - unsigned(bit % 8);
        return (byte >> shift) & ((1u << bits_) - 1);
    }

    Rgb Pixel(const unsigned char* row, std::uint32_t x) const {
        switch (bits_) {
            case 24: {
                const unsigned char* p = row + std::size_t(x) * 3;
                return Rgb{p[2], p[1], p[0]};
            }
            case 16: {
                const unsigned char* p = row + std::size_t(x) * 2;
                return Decode(std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8);
            }
            case 32: {
                const unsigned char* p = row + std::size_t(x) * 4;
                return Decode(std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
                              std::uint32_t(p[3]) << 24);
            }
            default: {
                const RGBQUAD& c = dib_.Colors()[Index(row, x)];
                return Rgb{c.rgbRed, c.rgbGreen, c.rgbBlue};
            }
        }
    }

private:
    Rgb Decode(std::uint32_t pixel) const { return Rgb{red_.Decode(pixel), green_.Decode(pixel), blue_.Decode(pixel)}; }

    const Dib& dib_;
    unsigned bits_;
    Channel red_, green_, blue_;
};

class PixelWriter {
public:
    explicit PixelWriter(const Dib& dib)
        : dib_(dib),
          bytes_(dib.BitCount() / 8),
          red_(dib.Masks()[0]),
          green_(dib.Masks()[1]),
          blue_(dib.Masks()[2]) {}

    unsigned Bytes() const { return bytes_; }

    void Write(Rgb c, unsigned char* out) const {
        switch (bytes_) {
            case 1:
                // The nearest grey of a grey ramp minimises the squared
                // distance: the rounded mean of the three channels.
                out[0] = static_cast<unsigned char>(dib_.HasGreyRamp() ? (c.red + c.green + c.blue + 1) / 3
                                                                       : dib_.NearestColorIndex(c.red, c.green, c.blue));
                break;
            case 3:
                out[0] = static_cast<unsigned char>(c.blue);
                out[1] = static_cast<unsigned char>(c.green);
                out[2] = static_cast<unsigned char>(c.red);
                break;
            default: {
                const std::uint32_t v = red_.Encode(c.red) | green_.Encode(c.green) | blue_.Encode(c.blue);
                for (unsigned i = 0; i < bytes_; ++i) out[i] = static_cast<unsigned char>(v >> (8 * i));
                break;
            }
        }
    }

private:
    const Dib& dib_;
    unsigned bytes_;
    Channel red_, green_, blue_;
};

bool SameFormat(const Dib& a, const Dib& b) {
    if (a.BitCount() != b.BitCount()) return false;
    if (a.BitCount() <= 8) return std::memcmp(a.Colors(), b.Colors(), 256 * sizeof(RGBQUAD)) == 0;
    return a.BitCount() == 24 || std::memcmp(a.Masks(), b.Masks(), 3 * sizeof(std::uint32_t)) == 0;
}

bool Inside(LONG x, LONG y, LONG w, LONG h, const Dib& dib) {
    return x >= 0 && y >= 0 && w > 0 && h > 0 && std::int64_t(x) + w <= dib.Width() &&
           std::int64_t(y) + h <= dib.Height();
}

// Tight loops for the conversions a grab meets most (24- and 32-bit files
// into 8-bit grey, 24-bit and 32-bit frames) at one source column per
// destination column. False when the case is not one of them.
template <typename SourceRow>
bool ConvertCommonRows(Dib& dst, LONG dy, LONG dh, std::size_t offset, const Dib& src, LONG sx, LONG sw, LONG dw,
                       SourceRow sourceRow) {
    const unsigned in = src.BitCount(), out = dst.BitCount();
    const bool plainSource = in == 24 || (in == 32 && src.Header().biCompression == BI_RGB);
    const bool plainTarget = (out == 8 && dst.HasGreyRamp()) || out == 24 || (out == 32 && dst.Header().biCompression == BI_RGB);
    if (sw != dw || !plainSource || !plainTarget) return false;
    const std::size_t inBytes = in / 8, outBytes = out / 8;
    for (LONG y = 0; y < dh; ++y) {
        const unsigned char* p = sourceRow(y) + std::size_t(sx) * inBytes;
        unsigned char* q = dst.Row(dy + y) + offset;
        if (outBytes == 1) {
            for (LONG x = 0; x < dw; ++x, p += inBytes) q[x] = static_cast<unsigned char>((p[0] + p[1] + p[2] + 1) / 3);
        } else {
            for (LONG x = 0; x < dw; ++x, p += inBytes, q += outBytes) {
                q[0] = p[0], q[1] = p[1], q[2] = p[2];
                if (outBytes == 4) q[3] = 0;
            }
        }
    }
    return true;
}

}  // namespace

int StretchDib(Dib& dst, LONG dx, LONG dy, LONG dw, LONG dh, const Dib& src, LONG sx, LONG sy, LONG sw, LONG sh) {
    const unsigned dstBits = dst.BitCount();
    if (dstBits != 8 && dstBits != 16 && dstBits != 24 && dstBits != 32) return 0;
    if (!Inside(dx, dy, dw, dh, dst) || !Inside(sx, sy, sw, sh, src)) return 0;

    std::vector<std::uint32_t> columns(static_cast<std::size_t>(dw));
    for (LONG x = 0; x < dw; ++x) columns[x] = static_cast<std::uint32_t>(sx + std::int64_t(x) * sw / dw);
    auto sourceRow = [&](LONG y) { return src.Row(static_cast<LONG>(sy + std::int64_t(y) * sh / dh)); };

    const PixelWriter writer(dst);
    const unsigned bytes = writer.Bytes();
    const std::size_t offset = std::size_t(dx) * bytes;

    if (SameFormat(src, dst)) {
        // Whole bytes per pixel on both sides: copy, row at a time when the
        // widths agree.
        for (LONG y = 0; y < dh; ++y) {
            const unsigned char* in = sourceRow(y);
            unsigned char* out = dst.Row(dy + y) + offset;
            if (sw == dw) {
                std::memcpy(out, in + std::size_t(sx) * bytes, std::size_t(dw) * bytes);
                continue;
            }
            for (LONG x = 0; x < dw; ++x, out += bytes) std::memcpy(out, in + std::size_t(columns[x]) * bytes, bytes);
        }
        return dh;
    }

    const PixelReader reader(src);
    if (src.BitCount() <= 8) {
        // Every palette index converted once.
        unsigned char table[256][4] = {};
        for (unsigned i = 0; i < 256; ++i) {
            const RGBQUAD& c = src.Colors()[i];
            writer.Write(Rgb{c.rgbRed, c.rgbGreen, c.rgbBlue}, table[i]);
        }
        for (LONG y = 0; y < dh; ++y) {
            const unsigned char* in = sourceRow(y);
            unsigned char* out = dst.Row(dy + y) + offset;
            if (bytes == 1) {
                for (LONG x = 0; x < dw; ++x) out[x] = table[reader.Index(in, columns[x])][0];
            } else {
                for (LONG x = 0; x < dw; ++x, out += bytes) std::memcpy(out, table[reader.Index(in, columns[x])], bytes);
            }
        }
        return dh;
    }

    if (ConvertCommonRows(dst, dy, dh, offset, src, sx, sw, dw, sourceRow)) return dh;
    for (LONG y = 0; y < dh; ++y) {
        const unsigned char* in = sourceRow(y);
        unsigned char* out = dst.Row(dy + y) + offset;
        for (LONG x = 0; x < dw; ++x, out += bytes) writer.Write(reader.Pixel(in, columns[x]), out);
    }
    return dh;
}

}  // namespace kiru::platform
