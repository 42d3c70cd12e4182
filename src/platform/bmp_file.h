// Reading Windows bitmap (BMP) files: the 14-byte file header, the 40-byte
// information header, the colour table and the pixel rows, and drawing a
// file's image into a device-independent bitmap.
//
// Nothing is read past a buffer and nothing is allocated from a size field
// that has not been checked against the file's real length: a truncated,
// forged or foreign file is refused.
#pragma once

#include <kiru/bitmap_types.h>

#include <cstddef>
#include <cstdint>

#include "platform/bitmap.h"

namespace kiru::platform {

constexpr WORD kBitmapSignature = 0x4D42;  // "BM"

// A BMP file open for binary reading. Multi-byte fields are little-endian on
// disk whatever the machine's order.
class BmpFile {
public:
    BmpFile() = default;
    ~BmpFile();
    BmpFile(const BmpFile&) = delete;
    BmpFile& operator=(const BmpFile&) = delete;

    // False when the file cannot be opened for reading.
    bool Open(const char* path);

    // Read the next 14 or 40 bytes as a header (the signature and the
    // header's size field are not judged here). False on a short read.
    bool ReadFileHeader(BITMAPFILEHEADER& header);
    bool ReadInfoHeader(BITMAPINFOHEADER& header);

    // Exactly `bytes` bytes, or false.
    bool Read(void* dest, std::size_t bytes);
    bool Seek(std::uint64_t offset);
    // Length of the file in bytes (0 for something that is not a file).
    std::uint64_t Size() const { return size_; }

    // Reads `rows` rows of rowBytes bytes each, consecutive in the file from
    // the current position, into first, first + pitch, first + 2 * pitch...
    // (pitch may be negative). Rows that are consecutive in memory are read
    // in one piece; others are scattered straight into place. False when the
    // file ends early.
    bool ReadRows(unsigned char* first, std::ptrdiff_t pitch, std::size_t rows, std::size_t rowBytes);

private:
    // The open file: a descriptor, or on Windows a handle; -1 when closed.
    std::intptr_t file_ = -1;
    std::uint64_t size_ = 0;
};

// Reads the file header and information header of the file at path. False
// when the file cannot be opened, does not start with the bitmap signature,
// or is too short for both headers.
bool ReadBmpHeaders(const char* path, BITMAPFILEHEADER& fileHeader, BITMAPINFOHEADER& infoHeader);

// Decides whether a file's image may be drawn; it sees the information header
// with the width rounded up to a multiple of 4.
typedef bool (*BmpHeaderFilter)(const BITMAPINFOHEADER& header, void* context);

// How strictly LoadBmpFile reads a file's headers. The default reads only
// 40-byte information headers and takes a colour count of 0 as the grey ramp.
// The lenient rules also take the longer information headers other tools
// write (their first 40 bytes are the same; the colour table follows the
// whole header), read a colour count of 0 as a table of 2^bits entries in the
// file, and read the table only as far as the pixels (missing entries are
// black).
struct BmpReadRules {
    bool lenient = false;
};

// Loads the BMP file at path and draws its image over the whole of target.
// The file's width is rounded up to a multiple of 4 (the extra columns come
// from the row padding, or are black), and that image is stretched onto the
// target. Only 40-byte information headers are read; 1, 4 and 8-bit
// palettised rows (a colour count of 0 gives the grey ramp entry i = i, i, i),
// 16 and 32-bit rows (BI_RGB or BI_BITFIELDS) and 24-bit rows, bottom-up or
// top-down, are drawn. When the file already has the target's format and
// size, its rows are read straight into the target. filter may be null.
// Returns the number of rows drawn; 0 when the file is refused or unreadable.
int LoadBmpFile(const char* path, Dib& target, BmpHeaderFilter filter, void* context,
                const BmpReadRules& rules = BmpReadRules());

}  // namespace kiru::platform
