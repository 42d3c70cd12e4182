#include "os/oem_names.h"

#include <kiru/cios.h>
#include <mutex>
#include <string>

#include "os/path_buffer.h"
#include "platform/paths.h"
#include "platform/profile.h"
#include "platform/text.h"

namespace kiru::os {
namespace {

constexpr const wchar_t* kOemIni = L"./oem.ini";
constexpr const wchar_t* kConfigSection = L"Config";
constexpr const wchar_t* kDefaultOemName = L"\\Norvale Optics\\";

// The four caches. The mutex only keeps a copy from tearing; two first
// callers may still both read oem.ini, and they store the same values.
std::mutex g_cacheMutex;
wchar_t g_oemNameWide[kPathChars];
char g_oemNameNarrow[kPathChars];
wchar_t g_oemFolderWide[kPathChars];
char g_oemFolderNarrow[kPathChars];

void ReadConfigValue(const wchar_t* key, const wchar_t* defaultValue, wchar_t* out) {
    std::wstring value;
    if (kiru::platform::ReadProfileValue(kOemIni, kConfigSection, key, value)) {
        CopyCut(out, value.c_str());
        kiru::platform::BackslashesToSeparators(out);
    } else {
        CopyCut(out, defaultValue);
    }
}

void StoreBoth(const wchar_t* value, wchar_t* wideCache, char* narrowCache) {
    std::lock_guard<std::mutex> lock(g_cacheMutex);
    CopyCut(wideCache, value);
    kiru::platform::WideToNarrow(value, narrowCache, kPathChars);
}

}  // namespace

void ReadOemName(wchar_t* out) {
    ReadConfigValue(L"OEMName", kDefaultOemName, out);
    // The default is written with backslashes too, and read like a value.
    kiru::platform::BackslashesToSeparators(out);
}

void ReadOemFolderName(const wchar_t* defaultName, wchar_t* out) {
    ReadConfigValue(L"OEMFolderName", defaultName != nullptr ? defaultName : L"", out);
}

void CachedOemName(wchar_t* out) {
    std::lock_guard<std::mutex> lock(g_cacheMutex);
    CopyCut(out, g_oemNameWide);
}

void CachedOemName(char* out) {
    std::lock_guard<std::mutex> lock(g_cacheMutex);
    CopyCut(out, g_oemNameNarrow);
}

void CachedOemFolderName(wchar_t* out) {
    std::lock_guard<std::mutex> lock(g_cacheMutex);
    CopyCut(out, g_oemFolderWide);
}

}  // namespace kiru::os

void CiOS::GetOEMName() {
    wchar_t value[kiru::os::kPathChars];
    kiru::os::ReadOemName(value);
    kiru::os::StoreBoth(value, kiru::os::g_oemNameWide, kiru::os::g_oemNameNarrow);
}

void CiOS::GetOEMFolderName(const wchar_t* defaultName) {
    wchar_t value[kiru::os::kPathChars];
    kiru::os::ReadOemFolderName(defaultName, value);
    kiru::os::StoreBoth(value, kiru::os::g_oemFolderWide, kiru::os::g_oemFolderNarrow);
}

void CiOS::ResetOEMName() {
    std::lock_guard<std::mutex> lock(kiru::os::g_cacheMutex);
    kiru::os::g_oemNameWide[0] = L'\0';
    kiru::os::g_oemNameNarrow[0] = '\0';
    kiru::os::g_oemFolderWide[0] = L'\0';
    kiru::os::g_oemFolderNarrow[0] = '\0';
}
