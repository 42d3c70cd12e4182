// The application-data path builders of CiOS. Each builds
//   <folder><OEM name>[<subfolder>/][<file name>]
// first from the per-user folder and, when that does not exist as a
// folder, again from the all-users folder (which is not checked).
#include <kiru/cios.h>

#include "os/oem_names.h"
#include "os/path_buffer.h"
#include "platform/app_data.h"
#include "platform/paths.h"
#include "platform/text.h"

namespace {

using kiru::os::AppendCut;
using kiru::os::CopyCut;
using kiru::os::kPathChars;

void FetchFolder(int csidl, wchar_t* dest) { SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, dest); }

void FetchFolder(int csidl, char* dest) {
    wchar_t folder[kPathChars];
    FetchFolder(csidl, folder);
    kiru::platform::WideToNarrow(folder, dest, kPathChars);
}

template <typename Char>
void AppendFileName(Char* dest, const Char* fileName) {
    if (fileName != nullptr) AppendCut(dest, kiru::platform::SkipCurrentFolderPrefix(fileName));
}

template <typename Char>
void AppendFolder(Char* dest, const Char* folder) {
    const Char separator[] = {Char(kiru::platform::kPathSeparator), Char(0)};
    AppendCut(dest, folder);
    AppendCut(dest, separator);
}

// Builds the folder part from the per-user folder, then from the all-users
// folder when the first does not exist. appendBase(dest, firstPass) appends
// everything after the application-data folder.
template <typename Char, typename AppendBase>
void BuildFolder(Char* dest, AppendBase appendBase) {
    FetchFolder(CSIDL_LOCAL_APPDATA, dest);
    appendBase(dest, true);
    if (!CiOS::DirectoryExists(dest)) {
        FetchFolder(CSIDL_COMMON_APPDATA, dest);
        appendBase(dest, false);
    }
}

}  // namespace

char* CiOS::AppDataPath(char* dest, const char* subFolder, const char* fileName) {
    if (dest == nullptr) return dest;
    if (kiru::platform::IsAbsolutePath(fileName)) {
        CopyCut(dest, fileName);
        return dest;
    }
    BuildFolder(dest, [subFolder](char* path, bool firstPass) {
        char oemName[kPathChars];
        kiru::os::CachedOemName(oemName);
        if (firstPass && oemName[0] == '\0') {
            GetOEMName();
            kiru::os::CachedOemName(oemName);
        }
        AppendCut(path, oemName);
        if (subFolder != nullptr) AppendFolder(path, subFolder);
    });
    AppendFileName(dest, fileName);
    return dest;
}

wchar_t* CiOS::AppDataPath(wchar_t* dest, const wchar_t* subFolder, const wchar_t* fileName) {
    if (dest == nullptr) return dest;
    if (kiru::platform::IsAbsolutePath(fileName)) {
        CopyCut(dest, fileName);
        return dest;
    }
    BuildFolder(dest, [subFolder](wchar_t* path, bool firstPass) {
        wchar_t oemName[kPathChars];
        kiru::os::CachedOemName(oemName);
        if (firstPass && oemName[0] == L'\0') {
            // The folder cache is filled only here, so the subfolder of the
            // call that found the caches empty stays until ResetOEMName.
            GetOEMName();
            GetOEMFolderName(subFolder);
            kiru::os::CachedOemName(oemName);
        }
        AppendCut(path, oemName);
        if (subFolder != nullptr) {
            wchar_t folderName[kPathChars];
            kiru::os::CachedOemFolderName(folderName);
            AppendFolder(path, folderName);
        }
    });
    AppendFileName(dest, fileName);
    return dest;
}

char* CiOS::AppDataPathOnce(char* dest, const char* subFolder, const char* fileName) {
    if (dest == nullptr) return dest;
    if (kiru::platform::IsAbsolutePath(fileName)) {
        CopyCut(dest, fileName);
        return dest;
    }
    wchar_t oemName[kPathChars];
    kiru::os::ReadOemName(oemName);
    auto build = [&](int csidl) {
        wchar_t base[kPathChars];
        FetchFolder(csidl, base);
        AppendCut(base, oemName);
        kiru::platform::WideToNarrow(base, dest, kPathChars);
        if (subFolder != nullptr) AppendFolder(dest, subFolder);
    };
    build(CSIDL_LOCAL_APPDATA);
    if (!DirectoryExists(dest)) build(CSIDL_COMMON_APPDATA);
    AppendFileName(dest, fileName);
    return dest;
}

wchar_t* CiOS::AppDataPathOnce(wchar_t* dest, const wchar_t* subFolder, const wchar_t* fileName) {
    if (dest == nullptr) return dest;
    if (kiru::platform::IsAbsolutePath(fileName)) {
        CopyCut(dest, fileName);
        return dest;
    }
    wchar_t oemName[kPathChars];
    wchar_t folderName[kPathChars];
    kiru::os::ReadOemName(oemName);
    kiru::os::ReadOemFolderName(subFolder, folderName);
    BuildFolder(dest, [&](wchar_t* path, bool) {
        AppendCut(path, oemName);
        if (subFolder != nullptr) AppendFolder(path, folderName);
    });
    AppendFileName(dest, fileName);
    return dest;
}
