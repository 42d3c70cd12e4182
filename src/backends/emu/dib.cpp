// The emulator's bitmaps: the grab's bitmap description, the destination
// bitmap that files are drawn into, reading one file, and the fill pattern
// that stands in for a file that cannot be read.
#include <kiru/cigrab_emu.h>

#include <algorithm>
#include <cstring>

#include "platform/bitmap.h"
#include "platform/bmp_file.h"

int CIGrabEmu::LoadBitmapFromFile(const char* path, BITMAPINFO* target) {
    if (path == nullptr || path[0] == '\0' || target == nullptr || m_destDib == nullptr) return 0;
    // The header the filter sees carries the width rounded up to a multiple
    // of 4, which is what the conform test compares when loading.
    auto conform = [](const BITMAPINFOHEADER& header, void* self) {
        BITMAPINFOHEADER copy = header;
        return static_cast<CIGrabEmu*>(self)->ImageConform(&copy) != 0;
    };
    return kiru::platform::LoadBmpFile(path, *m_destDib, conform, this);
}

// The description is a top-down bitmap of the grab's size and depth with a
// grey ramp for 8 bits; the destination bitmap is made from it.
int CIGrabEmu::CreateDIBSections() {
    DestroyDIBSections();
    const ULONG bytes = BitToBytePerPixel(m_bitsPerPixel);
    BITMAPINFOHEADER& h = m_bitmapInfo.bmiHeader;
    h = BITMAPINFOHEADER{};
    h.biSize = sizeof(BITMAPINFOHEADER);
    h.biWidth = static_cast<LONG>(m_width);
    h.biHeight = -static_cast<LONG>(m_height);
    h.biPlanes = 1;
    h.biBitCount = static_cast<WORD>(m_bitsPerPixel);
    h.biCompression = BI_RGB;
    h.biSizeImage = bytes * m_width * m_height;
    h.biClrUsed = m_bitsPerPixel <= 8 ? (1u << m_bitsPerPixel) : 0;
    h.biClrImportant = 0;
    std::memset(m_bitmapInfo.bmiColors, 0, sizeof m_bitmapInfo.bmiColors);
    for (DWORD i = 0; i < h.biClrUsed && i < 256; ++i) {
        m_bitmapInfo.bmiColors[i] = RGBQUAD{BYTE(i), BYTE(i), BYTE(i), 0};
    }

    std::unique_ptr<kiru::platform::Dib> dib = kiru::platform::Dib::Create(m_bitmapInfo);
    if (dib == nullptr) return 0;
    m_destDib = dib.release();
    m_dibBits = m_destDib->Bits();
    return 1;
}

int CIGrabEmu::DestroyDIBSections() {
    m_dibBits = nullptr;
    delete m_destDib;
    m_destDib = nullptr;
    return 1;
}

// Byte k of the pixel at row r, column c is (B + k) * (r + N * 10 / B + c)
// in 8 bits, B the bytes per pixel and N the grab counter, so the pattern
// moves from frame to frame. At most `limit` bytes are written: a geometry
// setter stores its new size before it rebuilds the composite.
void CIGrabEmu::WriteFillPattern(unsigned char* dest, std::size_t limit) {
    const ULONG bytes = m_bytesPerPixel;
    if (bytes == 0) return;
    const std::size_t width = std::min<std::size_t>(m_width, limit / bytes);
    if (width == 0) return;
    const std::size_t height = std::min<std::size_t>(m_height, limit / (width * bytes));
    const ULONG shift = (m_grabCounter * 10u) / bytes;
    for (ULONG r = 0; r < height; ++r) {
        const ULONG rowBase = r + shift;
        for (ULONG c = 0; c < width; ++c) {
            const ULONG term = rowBase + c;
            for (ULONG k = 0; k < bytes; ++k) *dest++ = static_cast<unsigned char>((bytes + k) * term);
        }
    }
}
