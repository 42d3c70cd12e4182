// The BMP loader on arbitrary file contents: both headers, the colour table,
// the rows and the stretch into 8-bit grey, 24-bit and 32-bit targets of
// several sizes, under the strict and the lenient header rules.
#include <cstring>
#include <memory>

#include "fuzz_files.h"
#include "platform/bitmap.h"
#include "platform/bmp_file.h"

namespace {

using kiru::platform::Dib;

std::unique_ptr<Dib> Target(LONG width, LONG height, WORD bits) {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = bits;
    info.bmiHeader.biCompression = BI_RGB;
    if (bits == 8) {
        info.bmiHeader.biClrUsed = 256;
        for (int i = 0; i < 256; ++i) info.bmiColors[i] = RGBQUAD{BYTE(i), BYTE(i), BYTE(i), 0};
    }
    std::unique_ptr<Dib> dib = Dib::Create(info);
    if (dib == nullptr) std::abort();
    return dib;
}

// A filter that lets everything through, and one that refuses odd widths, so
// that both outcomes of the filter are reached.
bool AcceptAll(const BITMAPINFOHEADER&, void*) { return true; }
bool EvenWidthsOnly(const BITMAPINFOHEADER& header, void*) { return header.biWidth % 8 == 0; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string path = kiru_fuzz::ScratchFolder() + "/input.bmp";
    // Bottom-up and top-down targets, one the size of a small file (read
    // straight into place when the formats agree) and odd sizes (stretched).
    static std::unique_ptr<Dib> targets[] = {
        Target(8, 8, 8), Target(5, -3, 8), Target(8, 4, 24), Target(3, -7, 24), Target(4, 4, 32), Target(17, 2, 32),
    };
    kiru_fuzz::WriteFile(path, data, size);

    BITMAPFILEHEADER fileHeader;
    BITMAPINFOHEADER infoHeader;
    kiru::platform::ReadBmpHeaders(path.c_str(), fileHeader, infoHeader);

    // Each target once per input; which header rules and filter it gets
    // moves with the input's length, so every pairing is reached.
    kiru::platform::BmpReadRules lenient;
    lenient.lenient = true;
    for (std::size_t i = 0; i < sizeof targets / sizeof targets[0]; ++i) {
        Dib& target = *targets[i];
        const std::size_t pick = i + size;
        const int rows = kiru::platform::LoadBmpFile(path.c_str(), target, pick % 2 ? EvenWidthsOnly : AcceptAll,
                                                     nullptr, pick % 3 ? lenient : kiru::platform::BmpReadRules());
        if (rows < 0 || rows > target.Height()) std::abort();
    }
    return 0;
}
