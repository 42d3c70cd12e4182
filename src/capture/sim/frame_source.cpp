#include "capture/sim/frame_source.h"

#include <cstring>

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

void FillFrame(unsigned char* dest, const FrameGeometry& g, ULONG frameNumber,
               const std::array<unsigned char, 256>& lut, const Image* image) {
    const std::size_t rowBytes = static_cast<std::size_t>(g.width) * g.bytesPerPixel;
    for (ULONG row = 0; row < g.height; ++row) {
        unsigned char* out = dest + row * rowBytes;
        if (image && image->width && image->height) {
            const unsigned char* src =
                &image->bgr[static_cast<std::size_t>((row + g.y) % image->height) * image->width * 3];
            for (ULONG x = 0; x < g.width; ++x) {
                const unsigned char* p = src + ((x + g.x) % image->width) * 3;
                unsigned char* o = out + static_cast<std::size_t>(x) * g.bytesPerPixel;
                if (g.bytesPerPixel == 1) {
                    o[0] = lut[(p[0] * 29 + p[1] * 150 + p[2] * 77) >> 8];
                } else {
                    for (ULONG c = 0; c < g.bytesPerPixel; ++c) o[c] = c < 3 ? lut[p[c]] : 0;
                }
            }
            continue;
        }
        const unsigned base = row + g.y + frameNumber + g.x;
        for (std::size_t i = 0; i < rowBytes; ++i) {
            const unsigned value = static_cast<unsigned>(i / g.bytesPerPixel) + base +
                                   64u * static_cast<unsigned>(i % g.bytesPerPixel);
            out[i] = lut[value & 0xFF];
        }
    }
    if (!image && g.Bytes() >= 4) {
        for (int b = 0; b < 4; ++b) dest[b] = static_cast<unsigned char>(frameNumber >> (8 * b));
    }
}

}  // namespace kiru::sim
