// The few POSIX calls that tests use for their own set-up, mapped onto the
// Windows runtime so that the same test sources build for Windows. Included
// ahead of every test source in Windows builds.
#pragma once

#if defined(_WIN32)

#include <process.h>
#include <stdlib.h>

inline int setenv(const char* name, const char* value, int overwrite) {
    if (!overwrite && getenv(name) != nullptr) return 0;
    return _putenv_s(name, value) == 0 ? 0 : -1;
}

inline int unsetenv(const char* name) { return _putenv_s(name, "") == 0 ? 0 : -1; }

#endif
