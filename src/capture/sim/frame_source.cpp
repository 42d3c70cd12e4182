#include "capture/sim/frame_source.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

namespace kiru::sim {

namespace {

std::uint32_t Le32(const unsigned char* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
std::uint16_t Le16(const unsigned char* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }

bool Fail(std::string* error, const std::string& path, const char* reason) {
    if (error) *error = path + ": " + reason;
    return false;
}

bool Decode(const std::vector<unsigned char>& file, const std::string& path, Image* out, std::string* error) {
    if (file.size() < 54 || file[0] != 'B' || file[1] != 'M') return Fail(error, path, "not a BMP file");
    const std::uint32_t pixelOffset = Le32(&file[10]);
    const std::uint32_t headerSize = Le32(&file[14]);
    if (headerSize < 40 || 14ull + headerSize > file.size()) return Fail(error, path, "unsupported BMP header");
    const std::int32_t width = static_cast<std::int32_t>(Le32(&file[18]));
    const std::int32_t rawHeight = static_cast<std::int32_t>(Le32(&file[22]));
    const std::uint16_t bits = Le16(&file[28]);
    const std::uint32_t compression = Le32(&file[30]);
    if (width <= 0 || rawHeight == 0 || rawHeight == INT32_MIN || width > 16384 || rawHeight > 16384 ||
        rawHeight < -16384) {
        return Fail(error, path, "bad BMP size");
    }
    if (compression != 0 && !(compression == 3 && bits == 32)) return Fail(error, path, "compressed BMP");
    if (bits != 8 && bits != 24 && bits != 32) return Fail(error, path, "BMP must have 8, 24 or 32 bits per pixel");
    const bool bottomUp = rawHeight > 0;
    const std::uint32_t height = bottomUp ? rawHeight : -rawHeight;
    const std::size_t stride = ((static_cast<std::size_t>(width) * bits + 31) / 32) * 4;
    if (pixelOffset > file.size() || stride * height > file.size() - pixelOffset) {
        return Fail(error, path, "BMP pixel data is cut short");
    }
    unsigned char palette[256][3] = {};
    if (bits == 8) {
        std::uint32_t colours = Le32(&file[46]);
        if (colours == 0 || colours > 256) colours = 256;
        const std::size_t paletteStart = 14 + headerSize;
        for (std::uint32_t i = 0; i < colours && paletteStart + 4 * i + 3 < pixelOffset; ++i) {
            std::memcpy(palette[i], &file[paletteStart + 4 * i], 3);
        }
    }
    out->width = width;
    out->height = height;
    out->bgr.resize(static_cast<std::size_t>(width) * height * 3);
    for (std::uint32_t row = 0; row < height; ++row) {
        const unsigned char* src = &file[pixelOffset + stride * (bottomUp ? height - 1 - row : row)];
        unsigned char* dst = &out->bgr[static_cast<std::size_t>(row) * width * 3];
        for (std::int32_t x = 0; x < width; ++x) {
            const unsigned char* p = bits == 8 ? palette[src[x]] : src + x * (bits / 8);
            std::memcpy(dst + 3 * x, p, 3);
        }
    }
    return true;
}

}  // namespace

std::shared_ptr<const Image> LoadBmp(const std::string& path, std::string* error) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) {
        Fail(error, path, "cannot open the file");
        return nullptr;
    }
    std::vector<unsigned char> file;
    unsigned char chunk[65536];
    std::size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) {
        file.insert(file.end(), chunk, chunk + n);
        if (file.size() > (256u << 20)) break;
    }
    std::fclose(f);
    auto image = std::make_shared<Image>();
    if (!Decode(file, path, image.get(), error)) return nullptr;
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
