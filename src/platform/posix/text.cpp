#include "platform/text.h"

#include <cstdint>

namespace kiru::platform {
namespace {

// Undecodable bytes travel as lone low surrogates U+DC80..U+DCFF.
constexpr char32_t kEscapeBase = 0xDC00;

bool IsEscapedByte(char32_t c) { return c >= 0xDC80 && c <= 0xDCFF; }

bool IsScalarValue(char32_t c) { return c < 0xD800 || (c > 0xDFFF && c <= 0x10FFFF); }

// Encodes c as UTF-8 into out (at least 4 bytes); returns the length.
std::size_t EncodeUtf8(char32_t c, unsigned char* out) {
    if (IsEscapedByte(c)) {
        out[0] = static_cast<unsigned char>(c - kEscapeBase);
        return 1;
    }
    if (!IsScalarValue(c)) c = 0xFFFD;
    if (c < 0x80) {
        out[0] = static_cast<unsigned char>(c);
        return 1;
    }
    if (c < 0x800) {
        out[0] = static_cast<unsigned char>(0xC0 | (c >> 6));
        out[1] = static_cast<unsigned char>(0x80 | (c & 0x3F));
        return 2;
    }
    if (c < 0x10000) {
        out[0] = static_cast<unsigned char>(0xE0 | (c >> 12));
        out[1] = static_cast<unsigned char>(0x80 | ((c >> 6) & 0x3F));
        out[2] = static_cast<unsigned char>(0x80 | (c & 0x3F));
        return 3;
    }
    out[0] = static_cast<unsigned char>(0xF0 | (c >> 18));
    out[1] = static_cast<unsigned char>(0x80 | ((c >> 12) & 0x3F));
    out[2] = static_cast<unsigned char>(0x80 | ((c >> 6) & 0x3F));
    out[3] = static_cast<unsigned char>(0x80 | (c & 0x3F));
    return 4;
}

// Decodes one character at s (NUL-terminated). Sets *length to the number of
// bytes used; an invalid or overlong sequence consumes one byte and yields
// its escape.
char32_t DecodeUtf8(const unsigned char* s, std::size_t* length) {
    const unsigned char lead = s[0];
    std::size_t n;
    char32_t c;
    char32_t minimum;
    if (lead < 0x80) {
        *length = 1;
        return lead;
    } else if ((lead & 0xE0) == 0xC0) {
        n = 2, c = lead & 0x1F, minimum = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        n = 3, c = lead & 0x0F, minimum = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        n = 4, c = lead & 0x07, minimum = 0x10000;
    } else {
        *length = 1;
        return kEscapeBase + lead;
    }
    for (std::size_t i = 1; i < n; ++i) {
        // A NUL is not a continuation byte, so this never reads past the end.
        if ((s[i] & 0xC0) != 0x80) {
            *length = 1;
            return kEscapeBase + lead;
        }
        c = (c << 6) | (s[i] & 0x3F);
    }
    if (c < minimum || !IsScalarValue(c)) {
        *length = 1;
        return kEscapeBase + lead;
    }
    *length = n;
    return c;
}

}  // namespace

std::size_t WideToNarrow(const wchar_t* src, char* dest, std::size_t capacity) {
    if (dest == nullptr || capacity == 0) return 0;
    std::size_t used = 0;
    if (src != nullptr) {
        for (; *src != L'\0'; ++src) {
            unsigned char bytes[4];
            const std::size_t n = EncodeUtf8(static_cast<char32_t>(*src), bytes);
            if (used + n > capacity - 1) break;  // keep room for the NUL
            for (std::size_t i = 0; i < n; ++i) dest[used++] = static_cast<char>(bytes[i]);
        }
    }
    dest[used] = '\0';
    return used;
}

std::size_t NarrowToWide(const char* src, wchar_t* dest, std::size_t capacity) {
    if (dest == nullptr || capacity == 0) return 0;
    std::size_t used = 0;
    if (src != nullptr) {
        const auto* s = reinterpret_cast<const unsigned char*>(src);
        while (*s != 0 && used < capacity - 1) {
            std::size_t n = 0;
            dest[used++] = static_cast<wchar_t>(DecodeUtf8(s, &n));
            s += n;
        }
    }
    dest[used] = L'\0';
    return used;
}

std::string WideToNarrowString(const wchar_t* src) {
    std::string out;
    if (src == nullptr) return out;
    for (; *src != L'\0'; ++src) {
        unsigned char bytes[4];
        const std::size_t n = EncodeUtf8(static_cast<char32_t>(*src), bytes);
        out.append(reinterpret_cast<const char*>(bytes), n);
    }
    return out;
}

std::wstring NarrowToWideString(const char* src) {
    std::wstring out;
    if (src == nullptr) return out;
    const auto* s = reinterpret_cast<const unsigned char*>(src);
    while (*s != 0) {
        std::size_t n = 0;
        out.push_back(static_cast<wchar_t>(DecodeUtf8(s, &n)));
        s += n;
    }
    return out;
}

}  // namespace kiru::platform
