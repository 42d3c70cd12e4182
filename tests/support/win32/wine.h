// Whether Windows tests run under Wine, for the few checks whose answer Wine
// gives differently from Windows; each such place says what Wine does.
#pragma once

#include <windows.h>

namespace kiru_test {

// True when the process runs under Wine rather than on Windows itself.
inline bool UnderWine() {
    static const bool wine = ::GetProcAddress(::GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr;
    return wine;
}

}  // namespace kiru_test
