// The profile (INI) reader on arbitrary file contents, through the narrow
// and wide lookups with buffers from one character up, and the OEM names
// read from ./oem.ini. A lookup never writes past its buffer and always
// leaves a terminated text of the length it reports.
#include <cstring>
#include <cwchar>
#include <string>
#include <unistd.h>

#include "fuzz_files.h"
#include "os/oem_names.h"
#include "platform/profile.h"

namespace {

const char* const kSections[] = {"Config", " station ", ""};
const char* const kKeys[] = {"OEMName", "key", ""};

void CheckNarrow(const char* section, const char* key, DWORD size, const char* file) {
    char out[300];
    std::memset(out, 'Z', sizeof out);
    const DWORD n = GetPrivateProfileStringA(section, key, "default ", out, size, file);
    if (size == 0) return;
    if (n >= size || out[n] != '\0' || std::strlen(out) != n) std::abort();
    for (DWORD i = size; i < sizeof out; ++i)
        if (out[i] != 'Z') std::abort();
}

void CheckWide(const wchar_t* section, const wchar_t* key, DWORD size, const wchar_t* file) {
    wchar_t out[300];
    for (wchar_t& c : out) c = L'Z';
    const DWORD n = GetPrivateProfileStringW(section, key, L"", out, size, file);
    if (size == 0) return;
    if (n >= size || out[n] != L'\0' || std::wcslen(out) != n) std::abort();
    for (DWORD i = size; i < 300; ++i)
        if (out[i] != L'Z') std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // oem.ini is read from the current directory: work inside the scratch folder.
    static const std::string file = [] {
        if (::chdir(kiru_fuzz::ScratchFolder().c_str()) != 0) std::abort();
        return kiru_fuzz::ScratchFolder() + "/oem.ini";
    }();
    kiru_fuzz::WriteFile(file, data, size);

    for (const char* section : kSections)
        for (const char* key : kKeys) CheckNarrow(section, key, 260, file.c_str());
    // Values cut to small buffers, on character boundaries.
    for (DWORD bytes : {1, 2, 5}) CheckNarrow("config", "oemname", bytes, file.c_str());
    CheckWide(L"Config", L"OEMName", 3, L"./oem.ini");
    CheckWide(L"CONFIG", L"OEMFOLDERNAME", 260, L"./oem.ini");
    // Listing sections or keys is not offered: the buffer comes back empty.
    CheckNarrow(nullptr, "OEMName", 260, file.c_str());
    CheckNarrow("Config", nullptr, 260, file.c_str());

    wchar_t name[MAX_PATH + 1];
    name[MAX_PATH] = L'Z';
    kiru::os::ReadOemName(name);
    kiru::os::ReadOemFolderName(L"Fallback", name);
    if (name[MAX_PATH] != L'Z' || std::wcslen(name) >= MAX_PATH) std::abort();
    std::wstring value;
    kiru::platform::ReadProfileValue(L"./oem.ini", L"Config", L"OEMName", value);
    return 0;
}
