// CiOS: static operating-system helpers shared by the library and its clients.
//
// Paths under the application-data folders are built as
//   <folder><OEM name><subfolder>/<file name>
// where <folder> is the per-user application-data folder, or the all-users
// one when the per-user path does not exist as a folder, and the OEM name
// (default "/Norvale Optics/") and the wide builders' subfolder name come
// from the "Config" section of ./oem.ini. The names read from oem.ini are
// kept in process-wide caches until ResetOEMName.
//
// Every path buffer holds MAX_PATH (260) characters of its kind, NUL
// included; a longer result is cut to fit. Narrow text is UTF-8.
#pragma once

#include <cstdio>
#include <cwchar>
#include <kiru/export.h>
#include <kiru/win_types.h>

class KIRU_API CiOS {
public:
    CiOS() = delete;

    // Path builders. An absolute fileName (leading '/' or '\', or a colon as
    // its second character) is copied to dest unchanged; a null fileName
    // yields the folder alone; a leading "./" or ".\" is dropped from
    // fileName. The narrow form appends subFolder; the wide form appends the
    // cached "OEMFolderName" (defaulting to the subFolder of the call that
    // filled the caches). Both return dest.
    static char* AppDataPath(char* dest, const char* subFolder, const char* fileName);
    static wchar_t* AppDataPath(wchar_t* dest, const wchar_t* subFolder, const wchar_t* fileName);

    // As AppDataPath, but oem.ini is read on every call and the caches are
    // neither read nor written.
    static char* AppDataPathOnce(char* dest, const char* subFolder, const char* fileName);
    static wchar_t* AppDataPathOnce(wchar_t* dest, const wchar_t* subFolder, const wchar_t* fileName);

    // Opens the file AppDataPath builds; when that fails, pathOut receives
    // fileName itself and the result of fopenBin(fileName, mode) is returned.
    // pathOut may be null.
    static std::FILE* AppDataFopen(wchar_t* pathOut, const wchar_t* subFolder, const wchar_t* fileName,
                                   const wchar_t* mode);

    // Opens path; when that fails and path is relative, opens it in the
    // executable's folder instead. Null when both fail.
    static std::FILE* fopenBin(const wchar_t* path, const wchar_t* mode);
    static std::FILE* szFopenBin(const char* path, const wchar_t* mode);

    // Read "OEMName" (default "/Norvale Optics/") and "OEMFolderName"
    // (default defaultName, "" when null) from ./oem.ini into the caches;
    // backslashes in the values read become '/'.
    static void GetOEMName();
    static void GetOEMFolderName(const wchar_t* defaultName);
    // Empties the four caches, so that the next AppDataPath reads oem.ini.
    static void ResetOEMName();

    // Non-zero when path names an existing folder.
    static int DirectoryExists(const char* path);
    static int DirectoryExists(const wchar_t* path);

    // Kernel objects, passed straight to the platform's calls of the same name.
    static HANDLE CreateMutexW(void* attributes, BOOL initialOwner, const wchar_t* name);
    static HANDLE CreateSemaphoreW(void* attributes, LONG initialCount, LONG maximumCount, const wchar_t* name);
    static BOOL ReleaseMutex(HANDLE mutex);
    static BOOL ReleaseSemaphore(HANDLE semaphore, LONG releaseCount, LONG* previousCount);
    static DWORD WaitForSingleObject(HANDLE object, DWORD milliseconds);
    static void Sleep(DWORD milliseconds);
    static void SetThreadPriority(HANDLE thread, int priority);
    static BOOL CloseHandle(HANDLE object);
    static HANDLE GetCurrentThread();
};
