// Bounded copying into the fixed path buffers CiOS works with. A text that
// does not fit is cut (a narrow text at a UTF-8 character boundary), and the
// buffer always stays NUL-terminated within its MAX_PATH characters.
#pragma once

#include <cstddef>
#include <kiru/win_types.h>

namespace kiru::os {

constexpr std::size_t kPathChars = MAX_PATH;

// dest holds kPathChars characters. A null src counts as "".
void CopyCut(char* dest, const char* src);
void CopyCut(wchar_t* dest, const wchar_t* src);
void AppendCut(char* dest, const char* src);
void AppendCut(wchar_t* dest, const wchar_t* src);

}  // namespace kiru::os
