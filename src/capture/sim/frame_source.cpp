#include "capture/sim/frame_source.h"

#include <cstring>
#include <vector>

#include "platform/bitmap.h"
#include "platform/bmp_file.h"

namespace kiru::sim {

namespace {

bool Fail(std::string* error, const std::string& path, const char* reason) {
    if (error) *error = path + ": " + reason;
    return false;
}

// Judges the file's headers; the platform reader draws the pixels.
bool Check(const std::string& path, BITMAPINFOHEADER* header, std::string* error) {
    platform::BmpFile file;
    if (!file.Open(path.c_str())) return Fail(error, path, "cannot open the file");
    BITMAPFILEHEADER fileHeader;
    BITMAPINFOHEADER& h = *header;
    if (!file.ReadFileHeader(fileHeader) || fileHeader.bfType != platform::kBitmapSignature ||
        !file.ReadInfoHeader(h)) {
        return Fail(error, path, "not a BMP file");
    }
    if (h.biSize < sizeof(BITMAPINFOHEADER) || 14ull + h.biSize > file.Size()) {
        return Fail(error, path, "unsupported BMP header");
    }
    if (h.biWidth <= 0 || h.biWidth > 16384 || h.biHeight == 0 || h.biHeight > 16384 || h.biHeight < -16384) {
        return Fail(error, path, "bad BMP size");
    }
    if (h.biCompression != BI_RGB && !(h.biCompression == BI_BITFIELDS && h.biBitCount == 32)) {
        return Fail(error, path, "compressed BMP");
    }
    if (h.biBitCount != 8 && h.biBitCount != 24 && h.biBitCount != 32) {
        return Fail(error, path, "BMP must have 8, 24 or 32 bits per pixel");
    }
    return true;
}

}  // namespace

std::shared_ptr<const Image> LoadBmp(const std::string& path, std::string* error) {
    BITMAPINFOHEADER h;
    if (!Check(path, &h, error)) return nullptr;
    // The reader draws a file at its width rounded up to a multiple of 4:
    // a target that wide takes every column one to one, and the image keeps
    // the file's own columns.
    const ULONG width = static_cast<ULONG>(h.biWidth);
    const ULONG height = platform::Magnitude(h.biHeight);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = static_cast<LONG>((width + 3) & ~3u);
    info.bmiHeader.biHeight = -static_cast<LONG>(height);
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    std::unique_ptr<platform::Dib> dib = platform::Dib::Create(info);
    platform::BmpReadRules rules;
    rules.lenient = true;
    if (!dib || platform::LoadBmpFile(path.c_str(), *dib, nullptr, nullptr, rules) != static_cast<int>(height)) {
        Fail(error, path, "BMP pixel data is cut short");
        return nullptr;
    }
    auto image = std::make_shared<Image>();
    image->width = width;
    image->height = height;
    image->bgr.resize(static_cast<std::size_t>(width) * height * 3);
    for (ULONG row = 0; row < height; ++row) {
        std::memcpy(&image->bgr[static_cast<std::size_t>(row) * width * 3], dib->Row(static_cast<LONG>(row)),
                    static_cast<std::size_t>(width) * 3);
    }
    return image;
}

namespace {

// The channel (0 blue, 1 green, 2 red) a mosaic puts at an even or odd row
// and column, per layout code 1 to 4.
constexpr unsigned char kMosaic[4][2][2] = {
    {{2, 1}, {1, 0}},  // R G / G B
    {{1, 2}, {0, 1}},  // G R / B G
    {{1, 0}, {2, 1}},  // G B / R G
    {{0, 1}, {1, 2}},  // B G / G R
};

void FillScene(unsigned char* dest, const FrameGeometry& g, const std::array<unsigned char, 256>& lut,
               const Image& image, const SceneRendering& rendering) {
    // Each channel's brightness, as a table over the scene's values.
    unsigned char scaled[3][256];
    for (int c = 0; c < 3; ++c) {
        const double scale = rendering.scale[c] > 0.0 ? rendering.scale[c] : 0.0;
        for (int v = 0; v < 256; ++v) {
            const double out = v * scale + 0.5;
            scaled[c][v] = static_cast<unsigned char>(out >= 255.0 ? 255 : static_cast<int>(out));
        }
    }
    const bool mosaic = g.bytesPerPixel == 1 && rendering.bayer >= 1 && rendering.bayer <= 4;
    const std::size_t rowBytes = static_cast<std::size_t>(g.width) * g.bytesPerPixel;
    for (ULONG row = 0; row < g.height; ++row) {
        unsigned char* out = dest + row * rowBytes;
        const unsigned char* src = &image.bgr[static_cast<std::size_t>((row + g.y) % image.height) * image.width * 3];
        for (ULONG x = 0; x < g.width; ++x) {
            const unsigned char* p = src + ((x + g.x) % image.width) * 3;
            unsigned char* o = out + static_cast<std::size_t>(x) * g.bytesPerPixel;
            if (mosaic) {
                const unsigned c = kMosaic[rendering.bayer - 1][row & 1][x & 1];
                o[0] = lut[scaled[c][p[c]]];
            } else if (g.bytesPerPixel == 1) {
                o[0] = lut[(scaled[0][p[0]] * 29 + scaled[1][p[1]] * 150 + scaled[2][p[2]] * 77) >> 8];
            } else {
                for (ULONG c = 0; c < g.bytesPerPixel; ++c) o[c] = c < 3 ? lut[scaled[c][p[c]]] : 0;
            }
        }
    }
}

// The pattern of a row is the pattern of row 0 shifted by (row + x + y +
// frame number) pixels, and it repeats every 256 pixels: each row is copied
// out of one table of two periods instead of being computed byte by byte.
void FillPattern(unsigned char* dest, const FrameGeometry& g, ULONG frameNumber,
                 const std::array<unsigned char, 256>& lut) {
    const std::size_t bpp = g.bytesPerPixel;
    const std::size_t period = 256 * bpp;
    const std::size_t rowBytes = static_cast<std::size_t>(g.width) * bpp;
    std::vector<unsigned char> table(2 * period);
    for (std::size_t k = 0; k < table.size(); ++k) table[k] = lut[(k / bpp + 64 * (k % bpp)) & 0xFF];
    const std::size_t first = rowBytes < period ? rowBytes : period;
    for (ULONG row = 0; row < g.height; ++row) {
        unsigned char* out = dest + row * rowBytes;
        const unsigned shift = (row + g.y + frameNumber + g.x) & 0xFF;
        std::memcpy(out, &table[shift * bpp], first);
        for (std::size_t done = first; done < rowBytes;) {
            const std::size_t n = done < rowBytes - done ? done : rowBytes - done;
            std::memcpy(out + done, out, n);
            done += n;
        }
    }
}

}  // namespace

void FillFrame(unsigned char* dest, const FrameGeometry& g, ULONG frameNumber,
               const std::array<unsigned char, 256>& lut, const Image* image, const SceneRendering& rendering) {
    if (g.width == 0 || g.height == 0 || g.bytesPerPixel == 0) return;
    if (image && image->width && image->height) {
        FillScene(dest, g, lut, *image, rendering);
        return;
    }
    FillPattern(dest, g, frameNumber, lut);
    if (g.Bytes() >= 4) {
        for (int b = 0; b < 4; ++b) dest[b] = static_cast<unsigned char>(frameNumber >> (8 * b));
    }
}

}  // namespace kiru::sim
