#include "bmp_save.h"

#include <cstdint>
#include <cstdio>
#include <vector>

namespace {

void Put16(std::vector<unsigned char>& b, std::uint16_t v) {
    b.push_back(v & 0xFF);
    b.push_back(v >> 8);
}
void Put32(std::vector<unsigned char>& b, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b.push_back((v >> (8 * i)) & 0xFF);
}

}  // namespace

bool SaveBmp(const std::string& path, const unsigned char* pixels, unsigned width, unsigned height,
             unsigned bytesPerPixel) {
    if (bytesPerPixel != 1 && bytesPerPixel != 3 && bytesPerPixel != 4) return false;
    const std::uint32_t rowBytes = (width * bytesPerPixel + 3) & ~3u;
    const std::uint32_t paletteBytes = bytesPerPixel == 1 ? 256 * 4 : 0;
    const std::uint32_t offset = 14 + 40 + paletteBytes;
    const std::uint32_t imageBytes = rowBytes * height;

    std::vector<unsigned char> head;
    head.reserve(offset);
    Put16(head, 0x4D42);
    Put32(head, offset + imageBytes);
    Put32(head, 0);
    Put32(head, offset);
    Put32(head, 40);
    Put32(head, width);
    Put32(head, height);  // positive: bottom-up rows
    Put16(head, 1);
    Put16(head, static_cast<std::uint16_t>(bytesPerPixel * 8));
    Put32(head, 0);
    Put32(head, imageBytes);
    Put32(head, 0);
    Put32(head, 0);
    Put32(head, bytesPerPixel == 1 ? 256 : 0);
    Put32(head, 0);
    for (unsigned i = 0; i < paletteBytes / 4; ++i) {
        head.push_back(i);
        head.push_back(i);
        head.push_back(i);
        head.push_back(0);
    }

    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) return false;
    bool ok = std::fwrite(head.data(), 1, head.size(), f) == head.size();
    std::vector<unsigned char> row(rowBytes, 0);
    for (unsigned y = 0; ok && y < height; ++y) {
        const unsigned char* src = pixels + std::size_t(height - 1 - y) * width * bytesPerPixel;
        std::copy(src, src + std::size_t(width) * bytesPerPixel, row.begin());
        ok = std::fwrite(row.data(), 1, rowBytes, f) == rowBytes;
    }
    return std::fclose(f) == 0 && ok;
}
