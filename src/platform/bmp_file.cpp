// Reading BMP files and drawing them into device-independent bitmaps.
#include "platform/bmp_file.h"

#include <cstring>
#include <string>

namespace kiru::platform {

namespace {

std::uint16_t Le16(const unsigned char* p) { return std::uint16_t(p[0] | p[1] << 8); }
std::uint32_t Le32(const unsigned char* p) {
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 | std::uint32_t(p[3]) << 24;
}

void DefaultMasks(unsigned bits, std::uint32_t masks[3]) {
    if (bits == 16) {
        masks[0] = 0x7C00, masks[1] = 0x03E0, masks[2] = 0x001F;
    } else {
        masks[0] = 0xFF0000, masks[1] = 0x00FF00, masks[2] = 0x0000FF;
    }
}

std::uint32_t MaskEntry(const RGBQUAD& q) {
    return std::uint32_t(q.rgbBlue) | std::uint32_t(q.rgbGreen) << 8 | std::uint32_t(q.rgbRed) << 16 |
           std::uint32_t(q.rgbReserved) << 24;
}

// True when the file's pixels are already what target holds, so its rows can
// be read straight into place: same depth, same colours, same size.
bool SameFormat(const BITMAPINFO& info, const Dib& target) {
    const BITMAPINFOHEADER& h = info.bmiHeader;
    if (h.biBitCount != target.BitCount() || h.biWidth != target.Width() ||
        static_cast<LONG>(Magnitude(h.biHeight)) != target.Height()) {
        return false;
    }
    if (h.biBitCount <= 8) {
        return h.biClrUsed == 256 && std::memcmp(info.bmiColors, target.Colors(), 256 * sizeof(RGBQUAD)) == 0;
    }
    if (h.biBitCount == 24) return true;
    std::uint32_t masks[3];
    DefaultMasks(h.biBitCount, masks);
    if (h.biCompression == BI_BITFIELDS) {
        for (int i = 0; i < 3; ++i) masks[i] = MaskEntry(info.bmiColors[i]);
    }
    return std::memcmp(masks, target.Masks(), sizeof masks) == 0;
}

// Three little-endian masks as the first three colour entries.
bool ReadMasks(BmpFile& file, BITMAPINFO& info) {
    unsigned char raw[12];
    if (!file.Read(raw, sizeof raw)) return false;
    for (int i = 0; i < 3; ++i) {
        const std::uint32_t mask = Le32(raw + 4 * i);
        info.bmiColors[i] = RGBQUAD{BYTE(mask), BYTE(mask >> 8), BYTE(mask >> 16), BYTE(mask >> 24)};
    }
    return true;
}

// The colour table of the file (its masks for BI_BITFIELDS, its palette for
// 8 bits or fewer); the reading position is just past the first 40 bytes of
// the information header. The masks sit there in every header form: after a
// 40-byte header, or as the next fields of a longer one (a longer header
// whose mask fields are empty is taken to have them after it instead).
bool ReadColors(BmpFile& file, BITMAPINFO& info, DWORD pixelOffset, const BmpReadRules& rules) {
    BITMAPINFOHEADER& h = info.bmiHeader;
    const std::uint64_t tableStart = 14 + std::uint64_t(h.biSize);
    if (h.biCompression == BI_BITFIELDS) {
        if (!ReadMasks(file, info)) return false;
        if (h.biSize > sizeof(BITMAPINFOHEADER) && MaskEntry(info.bmiColors[0]) == 0 &&
            MaskEntry(info.bmiColors[1]) == 0 && MaskEntry(info.bmiColors[2]) == 0 &&
            !(file.Seek(tableStart) && ReadMasks(file, info))) {
            return false;
        }
    }
    if (h.biBitCount > 8) return true;  // a palette beside true colour is only a display hint
    if (h.biClrUsed == 0 && !rules.lenient) {
        const DWORD count = 1u << h.biBitCount;
        for (DWORD i = 0; i < count; ++i) info.bmiColors[i] = RGBQUAD{BYTE(i), BYTE(i), BYTE(i), 0};
        h.biClrUsed = count;
        return true;
    }
    // The palette follows the whole information header. Entries past 256
    // cannot be indexed by 8-bit pixels.
    if (h.biSize != sizeof(BITMAPINFOHEADER) && !file.Seek(tableStart)) return false;
    DWORD count = h.biClrUsed == 0 ? 1u << h.biBitCount : h.biClrUsed < 256 ? h.biClrUsed : 256;
    h.biClrUsed = count;
    if (rules.lenient) {
        // A table cut short by the pixels: the missing entries stay black.
        const std::uint64_t fits = pixelOffset > tableStart ? (pixelOffset - tableStart) / 4 : 0;
        if (fits < count) count = DWORD(fits);
    }
    unsigned char raw[256 * 4];
    if (!file.Read(raw, count * 4)) return false;
    for (DWORD i = 0; i < count; ++i) {
        info.bmiColors[i] = RGBQUAD{raw[4 * i], raw[4 * i + 1], raw[4 * i + 2], raw[4 * i + 3]};
    }
    return true;
}

// Zeroes each row of dib from byte `from` to the end of the row.
void ZeroRowTails(Dib& dib, std::size_t from) {
    if (from >= dib.RowBytes()) return;
    for (LONG y = 0; y < dib.Height(); ++y) std::memset(dib.Row(y) + from, 0, dib.RowBytes() - from);
}

}  // namespace

bool BmpFile::ReadFileHeader(BITMAPFILEHEADER& header) {
    unsigned char raw[14];
    if (!Read(raw, sizeof raw)) return false;
    header.bfType = Le16(raw);
    header.bfSize = Le32(raw + 2);
    header.bfReserved1 = Le16(raw + 6);
    header.bfReserved2 = Le16(raw + 8);
    header.bfOffBits = Le32(raw + 10);
    return true;
}

bool BmpFile::ReadInfoHeader(BITMAPINFOHEADER& header) {
    unsigned char raw[40];
    if (!Read(raw, sizeof raw)) return false;
    header.biSize = Le32(raw);
    header.biWidth = static_cast<LONG>(Le32(raw + 4));
    header.biHeight = static_cast<LONG>(Le32(raw + 8));
    header.biPlanes = Le16(raw + 12);
    header.biBitCount = Le16(raw + 14);
    header.biCompression = Le32(raw + 16);
    header.biSizeImage = Le32(raw + 20);
    header.biXPelsPerMeter = static_cast<LONG>(Le32(raw + 24));
    header.biYPelsPerMeter = static_cast<LONG>(Le32(raw + 28));
    header.biClrUsed = Le32(raw + 32);
    header.biClrImportant = Le32(raw + 36);
    return true;
}

bool ReadBmpHeaders(const char* path, BITMAPFILEHEADER& fileHeader, BITMAPINFOHEADER& infoHeader) {
    BmpFile file;
    return file.Open(path) && file.ReadFileHeader(fileHeader) && fileHeader.bfType == kBitmapSignature &&
           file.ReadInfoHeader(infoHeader);
}

int LoadBmpFile(const char* path, Dib& target, BmpHeaderFilter filter, void* context, const BmpReadRules& rules) {
    if (path == nullptr || path[0] == '\0') return 0;
    BmpFile file;
    BITMAPFILEHEADER fileHeader;
    BITMAPINFO info{};
    BITMAPINFOHEADER& h = info.bmiHeader;
    if (!file.Open(path) || !file.ReadFileHeader(fileHeader) || fileHeader.bfType != kBitmapSignature) return 0;
    if (!file.ReadInfoHeader(h)) return 0;

    // The image is drawn at its width rounded up to a multiple of 4; the
    // file's rows keep their own stride.
    const LONG storedWidth = h.biWidth;
    if (storedWidth <= 0 || storedWidth > LONG(0x7FFFFFF0)) return 0;
    h.biWidth = (storedWidth + 3) & ~LONG(3);
    if (filter != nullptr && !filter(h, context)) return 0;
    if (h.biSize != sizeof(BITMAPINFOHEADER) && !(rules.lenient && h.biSize > sizeof(BITMAPINFOHEADER))) return 0;

    const std::uint32_t rows = Magnitude(h.biHeight);
    const std::uint64_t dibRowBytes = DibRowBytes(h.biWidth, h.biBitCount);
    const std::uint64_t fileRowBytes = DibRowBytes(storedWidth, h.biBitCount);
    h.biSizeImage = static_cast<DWORD>(dibRowBytes * rows);
    if (!ReadColors(file, info, fileHeader.bfOffBits, rules)) return 0;
    h.biSize = sizeof(BITMAPINFOHEADER);  // the fields of a longer header are not used

    // The rows must be in the file before anything is sized from the header.
    const std::uint64_t pixelBytes = fileRowBytes * rows;
    if (rows == 0 || pixelBytes == 0 || pixelBytes > kMaxDibBytes ||
        std::uint64_t(fileHeader.bfOffBits) + pixelBytes > file.Size()) {
        return 0;
    }
    const bool bottomUp = h.biHeight > 0;

    if (!Dib::IsValidHeader(h)) return 0;
    if (SameFormat(info, target)) {
        if (!file.Seek(fileHeader.bfOffBits)) return 0;
        const LONG firstRow = bottomUp ? target.Height() - 1 : 0;
        const std::ptrdiff_t step = static_cast<std::ptrdiff_t>(target.RowBytes());
        const std::ptrdiff_t pitch = (bottomUp == target.TopDown()) ? -step : step;
        if (!file.ReadRows(target.Row(firstRow), pitch, rows, static_cast<std::size_t>(fileRowBytes))) return 0;
        // What a zeroed source row would have shown past the file's stride.
        ZeroRowTails(target, static_cast<std::size_t>(fileRowBytes));
        return target.Height();
    }

    // Every byte of the source is either read from the file or zeroed here.
    std::unique_ptr<Dib> source = Dib::Create(info, false);
    if (source == nullptr || !file.Seek(fileHeader.bfOffBits)) return 0;
    if (!file.ReadRows(source->Bits(), static_cast<std::ptrdiff_t>(source->RowBytes()), rows,
                       static_cast<std::size_t>(fileRowBytes))) {
        return 0;
    }
    ZeroRowTails(*source, static_cast<std::size_t>(fileRowBytes));
    return StretchDib(target, 0, 0, target.Width(), target.Height(), *source, 0, 0, source->Width(),
                      source->Height());
}

}  // namespace kiru::platform
