#include "platform/message_box.h"

#include <cstdio>
#include <string>

#include "platform/text.h"

int MessageBoxA(HWND, const char* text, const char* caption, UINT) {
    // One write, so that lines of two threads do not interleave.
    const std::string line = std::string(caption ? caption : "") + ": " + (text ? text : "") + "\n";
    std::fputs(line.c_str(), stderr);
    std::fflush(stderr);
    return IDOK;
}

int MessageBoxW(HWND owner, const wchar_t* text, const wchar_t* caption, UINT type) {
    const std::string narrowText = kiru::platform::WideToNarrowString(text);
    const std::string narrowCaption = kiru::platform::WideToNarrowString(caption);
    return MessageBoxA(owner, narrowText.c_str(), narrowCaption.c_str(), type);
}
