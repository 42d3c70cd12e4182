// Windows bitmap records: the file header, the information header and the
// colour table, with their Windows names, field names and widths. On Windows
// they come from <windows.h>; elsewhere Kiru defines them here.
#pragma once

#include <kiru/win_types.h>

#if defined(_WIN32)

// Windows declares BITMAPINFO with a one-entry colour table that callers
// allocate larger. Kiru's bitmap records hold a full 8-bit palette inline, as
// on every system; the layout is the same, so a pointer to one can be handed
// to GDI as a BITMAPINFO pointer.
struct KiruBitmapInfo {
    BITMAPINFOHEADER bmiHeader;
    RGBQUAD bmiColors[256];
};
#define BITMAPINFO KiruBitmapInfo

#else

// Compression values of the information header.
#define BI_RGB 0u
#define BI_RLE8 1u
#define BI_RLE4 2u
#define BI_BITFIELDS 3u

// The colour table holds RGBQUAD entries (not palette indexes).
#define DIB_RGB_COLORS 0u

// Stretch mode that keeps whole pixels: enlarging repeats rows and columns,
// shrinking drops them.
#define COLORONCOLOR 3
#define STRETCH_DELETESCANS COLORONCOLOR

// The file header is 14 bytes on disk; it is packed to 2 bytes as on Windows.
#pragma pack(push, 2)
struct BITMAPFILEHEADER {
    WORD bfType;  // 0x4D42, the letters "BM"
    DWORD bfSize;
    WORD bfReserved1;
    WORD bfReserved2;
    DWORD bfOffBits;  // offset of the pixel rows from the start of the file
};
#pragma pack(pop)

// The 40-byte information header.
struct BITMAPINFOHEADER {
    DWORD biSize;
    LONG biWidth;
    LONG biHeight;  // positive: rows bottom-up; negative: rows top-down
    WORD biPlanes;
    WORD biBitCount;
    DWORD biCompression;
    DWORD biSizeImage;
    LONG biXPelsPerMeter;
    LONG biYPelsPerMeter;
    DWORD biClrUsed;
    DWORD biClrImportant;
};

struct RGBQUAD {
    BYTE rgbBlue;
    BYTE rgbGreen;
    BYTE rgbRed;
    BYTE rgbReserved;
};

// A header followed by its colour table. Off Windows the table has room for
// a full 8-bit palette, so one record describes any bitmap the library makes.
// With BI_BITFIELDS the first three entries hold the red, green and blue masks.
struct BITMAPINFO {
    BITMAPINFOHEADER bmiHeader;
    RGBQUAD bmiColors[256];
};

#endif  // !_WIN32
