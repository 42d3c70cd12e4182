// Writes a frame as an uncompressed bottom-up BMP file.
#pragma once

#include <string>

// bytesPerPixel 1 (grey, with a grey palette), 3 or 4. Returns false when the
// file cannot be written.
bool SaveBmp(const std::string& path, const unsigned char* pixels, unsigned width, unsigned height,
             unsigned bytesPerPixel);
