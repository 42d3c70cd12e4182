// Message boxes on Windows: the system's, unless KIRU_NO_MESSAGE_BOX is set,
// in which case nothing may wait for a person and the text goes to
// standard error instead.
#include <kiru/win_types.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

int SystemMessageBoxW(HWND owner, const wchar_t* text, const wchar_t* caption, UINT type) {
    return ::MessageBoxW(owner, text, caption, type);
}

}  // namespace

#include "platform/message_box.h"
#include "platform/text.h"

namespace {

bool Unattended() {
    const char* value = std::getenv("KIRU_NO_MESSAGE_BOX");
    return value != nullptr;
}

void WriteLine(const std::string& caption, const std::string& text) {
    // One write, so that lines of two threads do not interleave.
    const std::string line = caption + ": " + text + "\n";
    std::fputs(line.c_str(), stderr);
    std::fflush(stderr);
}

}  // namespace

int MessageBoxW(HWND owner, const wchar_t* text, const wchar_t* caption, UINT type) {
    if (Unattended()) {
        WriteLine(kiru::platform::WideToNarrowString(caption), kiru::platform::WideToNarrowString(text));
        return IDOK;
    }
    return SystemMessageBoxW(owner, text ? text : L"", caption ? caption : L"", type);
}

int MessageBoxA(HWND owner, const char* text, const char* caption, UINT type) {
    const std::wstring wideText = kiru::platform::NarrowToWideString(text);
    const std::wstring wideCaption = kiru::platform::NarrowToWideString(caption);
    return MessageBoxW(owner, wideText.c_str(), wideCaption.c_str(), type);
}
