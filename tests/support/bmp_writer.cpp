// Test BMP writer.
#include "support/bmp_writer.h"

#include <fstream>

namespace kiru_test {

namespace {

void Put16(std::vector<std::uint8_t>& out, std::uint32_t v) {
    out.push_back(std::uint8_t(v));
    out.push_back(std::uint8_t(v >> 8));
}

void Put32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    Put16(out, v & 0xFFFF);
    Put16(out, v >> 16);
}

}  // namespace

std::size_t BmpStride(int width, int bits) { return ((std::size_t(width) * bits + 31) / 32) * 4; }

std::vector<std::uint8_t> EncodeBmp(const BmpSpec& spec, const BmpPixels& pixel) {
    std::vector<BmpColor> palette = spec.palette;
    if (palette.empty() && spec.bits <= 8) {
        const int count = 1 << spec.bits;
        for (int i = 0; i < count; ++i) {
            const auto v = std::uint8_t(count == 1 ? 0 : i * 255 / (count - 1));
            palette.push_back(BmpColor{v, v, v, 0});
        }
    }
    // A forged size gets a header but no rows.
    const bool rows = spec.width > 0 && spec.height > 0;
    const std::size_t stride = rows ? BmpStride(spec.width, spec.bits) : 0;
    const std::size_t tableBytes = palette.size() * 4 + (spec.compression == 3 ? 12 : 0);
    const std::size_t natural = 14 + spec.headerSize + tableBytes;
    const std::size_t offBits = spec.offBits >= 0 ? std::size_t(spec.offBits) : natural;
    const std::size_t imageBytes = rows ? stride * std::size_t(spec.height) : 0;

    std::vector<std::uint8_t> out;
    Put16(out, spec.signature);
    Put32(out, std::uint32_t(offBits + imageBytes));
    Put32(out, 0);
    Put32(out, std::uint32_t(offBits));
    Put32(out, spec.headerSize);
    Put32(out, std::uint32_t(spec.width));
    Put32(out, std::uint32_t(spec.topDown ? -spec.height : spec.height));
    Put16(out, spec.planes);
    Put16(out, spec.bits);
    Put32(out, spec.compression);
    Put32(out, std::uint32_t(imageBytes));
    Put32(out, 2835);
    Put32(out, 2835);
    Put32(out, std::uint32_t(spec.clrUsed >= 0 ? spec.clrUsed : std::int64_t(palette.size())));
    Put32(out, 0);
    out.resize(14 + spec.headerSize, 0);
    if (spec.compression == 3) {
        for (std::uint32_t mask : spec.masks) Put32(out, mask);
    }
    for (const BmpColor& c : palette) {
        out.push_back(c.blue);
        out.push_back(c.green);
        out.push_back(c.red);
        out.push_back(c.reserved);
    }
    out.resize(offBits, 0);

    for (int fileRow = 0; rows && fileRow < spec.height; ++fileRow) {
        const int y = spec.topDown ? fileRow : spec.height - 1 - fileRow;
        std::vector<std::uint8_t> row(stride, 0);
        for (int x = 0; x < spec.width; ++x) {
            const std::uint32_t v = pixel(x, y);
            if (spec.bits <= 8) {
                const std::size_t bit = std::size_t(x) * spec.bits;
                row[bit / 8] |= std::uint8_t((v & ((1u << spec.bits) - 1)) << (8 - spec.bits - bit % 8));
            } else if (spec.bits <= 32) {
                // Little-endian: 0xRRGGBB becomes blue, green, red.
                for (int k = 0; k < spec.bits / 8; ++k) row[std::size_t(x) * spec.bits / 8 + k] = std::uint8_t(v >> (8 * k));
            }
        }
        out.insert(out.end(), row.begin(), row.end());
    }
    if (spec.truncateTo >= 0 && std::size_t(spec.truncateTo) < out.size()) out.resize(std::size_t(spec.truncateTo));
    return out;
}

bool WriteBmp(const std::string& path, const BmpSpec& spec, const BmpPixels& pixel) {
    const std::vector<std::uint8_t> bytes = EncodeBmp(spec, pixel);
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    return bool(file);
}

bool WriteFlatBmp(const std::string& path, int width, int height, std::uint8_t value) {
    BmpSpec spec;
    spec.width = width;
    spec.height = height;
    return WriteBmp(path, spec, [value](int, int) { return value; });
}

}  // namespace kiru_test
