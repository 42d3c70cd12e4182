// File opening and folder tests of CiOS.
#include <cwchar>
#include <kiru/cios.h>

#include "os/path_buffer.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/text.h"

using kiru::os::AppendCut;
using kiru::os::CopyCut;
using kiru::os::kPathChars;

std::FILE* CiOS::AppDataFopen(wchar_t* pathOut, const wchar_t* subFolder, const wchar_t* fileName,
                              const wchar_t* mode) {
    wchar_t local[kPathChars];
    wchar_t* path = pathOut != nullptr ? pathOut : local;
    AppDataPath(path, subFolder, fileName);
    if (std::FILE* file = kiru::platform::OpenFile(path, mode)) return file;
    CopyCut(path, fileName);
    return fopenBin(fileName, mode);
}

std::FILE* CiOS::fopenBin(const wchar_t* path, const wchar_t* mode) {
    if (path == nullptr) return nullptr;
    if (std::FILE* file = kiru::platform::OpenFile(path, mode)) return file;

    wchar_t executable[kPathChars];
    if (GetModuleFileNameW(nullptr, executable, kPathChars) == 0) executable[0] = L'\0';
    wchar_t* lastSeparator = std::wcsrchr(executable, kiru::platform::kWidePathSeparator);

    wchar_t retry[kPathChars];
    if (lastSeparator == nullptr || kiru::platform::IsAbsolutePath(path)) {
        CopyCut(retry, path);
    } else {
        lastSeparator[1] = L'\0';
        CopyCut(retry, executable);
        AppendCut(retry, kiru::platform::SkipCurrentFolderPrefix(path));
    }
    return kiru::platform::OpenFile(retry, mode);
}

std::FILE* CiOS::szFopenBin(const char* path, const wchar_t* mode) {
    if (path == nullptr) return nullptr;
    wchar_t widePath[kPathChars];
    kiru::platform::NarrowToWide(path, widePath, kPathChars);
    return fopenBin(widePath, mode);
}

int CiOS::DirectoryExists(const char* path) {
    const DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

int CiOS::DirectoryExists(const wchar_t* path) {
    const DWORD attributes = GetFileAttributesW(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}
