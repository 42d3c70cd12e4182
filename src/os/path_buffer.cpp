#include "os/path_buffer.h"

#include <cstring>
#include <cwchar>

namespace kiru::os {
namespace {

bool IsContinuationByte(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

// Appends src after the first `used` characters of dest.
void PutAt(char* dest, std::size_t used, const char* src) {
    if (used >= kPathChars) used = kPathChars - 1;
    std::size_t n = src != nullptr ? std::strlen(src) : 0;
    const std::size_t room = kPathChars - 1 - used;
    if (n > room) {
        n = room;
        // Step back over a character that would be split (at most 3 bytes).
        for (int i = 0; i < 3 && n > 0 && IsContinuationByte(src[n]); ++i) --n;
        if (n > 0 && IsContinuationByte(src[n])) n = room;  // not UTF-8 anyway
    }
    if (n > 0) std::memcpy(dest + used, src, n);
    dest[used + n] = '\0';
}

void PutAt(wchar_t* dest, std::size_t used, const wchar_t* src) {
    if (used >= kPathChars) used = kPathChars - 1;
    std::size_t n = src != nullptr ? std::wcslen(src) : 0;
    const std::size_t room = kPathChars - 1 - used;
    if (n > room) n = room;
    if (n > 0) std::wmemcpy(dest + used, src, n);
    dest[used + n] = L'\0';
}

}  // namespace

void CopyCut(char* dest, const char* src) { PutAt(dest, 0, src); }
void CopyCut(wchar_t* dest, const wchar_t* src) { PutAt(dest, 0, src); }
void AppendCut(char* dest, const char* src) { PutAt(dest, strnlen(dest, kPathChars), src); }
void AppendCut(wchar_t* dest, const wchar_t* src) { PutAt(dest, wcsnlen(dest, kPathChars), src); }

}  // namespace kiru::os
