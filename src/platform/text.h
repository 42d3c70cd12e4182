// Conversion between wide text (UTF-32 wchar_t) and narrow text (UTF-8).
// Both directions write into a caller's fixed buffer and cut the result at a
// character boundary when it does not fit; the buffer always ends with a NUL
// and nothing is written past its end.
#pragma once

#include <cstddef>
#include <string>

namespace kiru::platform {

// Converts src into dest (capacity in bytes, NUL included). A wide character
// that is not a valid code point is written as U+FFFD, except the escapes made
// by NarrowToWide for undecodable bytes, which turn back into those bytes.
// Returns the number of bytes written, NUL not counted. A null src yields "".
std::size_t WideToNarrow(const wchar_t* src, char* dest, std::size_t capacity);

// Converts src into dest (capacity in wide characters, NUL included). A byte
// that does not start a valid UTF-8 sequence becomes U+DC00 + byte, so that a
// file name with arbitrary bytes survives the round trip. Returns the number
// of wide characters written, NUL not counted. A null src yields L"".
std::size_t NarrowToWide(const char* src, wchar_t* dest, std::size_t capacity);

// Unbounded forms of the two conversions, for texts that are not kept in
// fixed buffers (paths handed to the system, file contents).
std::string WideToNarrowString(const wchar_t* src);
std::wstring NarrowToWideString(const char* src);

}  // namespace kiru::platform
