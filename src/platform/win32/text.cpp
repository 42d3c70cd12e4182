// Conversion between UTF-16 wide text and UTF-8 narrow text with the Win32
// conversion functions. Fixed buffers are filled up to a character boundary.
#include "platform/text.h"

#include <kiru/win_types.h>

namespace kiru::platform {
namespace {

bool IsHighSurrogate(wchar_t c) { return c >= 0xD800 && c <= 0xDBFF; }

}  // namespace

std::string WideToNarrowString(const wchar_t* src) {
    std::string out;
    if (src == nullptr || src[0] == L'\0') return out;
    const int bytes = ::WideCharToMultiByte(CP_UTF8, 0, src, -1, nullptr, 0, nullptr, nullptr);
    if (bytes <= 1) return out;
    out.resize(static_cast<std::size_t>(bytes));
    if (::WideCharToMultiByte(CP_UTF8, 0, src, -1, out.data(), bytes, nullptr, nullptr) != bytes) return {};
    out.resize(static_cast<std::size_t>(bytes) - 1);  // the NUL
    return out;
}

std::wstring NarrowToWideString(const char* src) {
    std::wstring out;
    if (src == nullptr || src[0] == '\0') return out;
    const int chars = ::MultiByteToWideChar(CP_UTF8, 0, src, -1, nullptr, 0);
    if (chars <= 1) return out;
    out.resize(static_cast<std::size_t>(chars));
    if (::MultiByteToWideChar(CP_UTF8, 0, src, -1, out.data(), chars) != chars) return {};
    out.resize(static_cast<std::size_t>(chars) - 1);
    return out;
}

std::size_t WideToNarrow(const wchar_t* src, char* dest, std::size_t capacity) {
    if (dest == nullptr || capacity == 0) return 0;
    const std::string all = WideToNarrowString(src);
    std::size_t used = all.size();
    if (used > capacity - 1) {
        used = capacity - 1;
        // Back up to the start of a character: continuation bytes are 10xxxxxx.
        while (used > 0 && (static_cast<unsigned char>(all[used]) & 0xC0) == 0x80) --used;
    }
    all.copy(dest, used);
    dest[used] = '\0';
    return used;
}

std::size_t NarrowToWide(const char* src, wchar_t* dest, std::size_t capacity) {
    if (dest == nullptr || capacity == 0) return 0;
    const std::wstring all = NarrowToWideString(src);
    std::size_t used = all.size();
    if (used > capacity - 1) {
        used = capacity - 1;
        if (used > 0 && IsHighSurrogate(all[used - 1])) --used;  // keep surrogate pairs whole
    }
    all.copy(dest, used);
    dest[used] = L'\0';
    return used;
}

}  // namespace kiru::platform
