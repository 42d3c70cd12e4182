// The names CiOS takes from ./oem.ini and its four process-wide caches.
#pragma once

namespace kiru::os {

// Reads "OEMName" / "OEMFolderName" from the "Config" section of ./oem.ini
// into out (MAX_PATH characters): the value, cut to fit and with backslashes
// turned into '/', or the default when the file or key is missing.
void ReadOemName(wchar_t* out);
void ReadOemFolderName(const wchar_t* defaultName, wchar_t* out);

// Copies a cache into out (MAX_PATH characters); "" while it is empty.
void CachedOemName(wchar_t* out);
void CachedOemName(char* out);
void CachedOemFolderName(wchar_t* out);

}  // namespace kiru::os
