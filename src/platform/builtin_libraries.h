// The built-in libraries behind LoadLibrary: the part of dynamic loading
// that is the same on every system.
#pragma once

#include <string>

#include <kiru/win_types.h>

namespace kiru::platform::detail {

// The handle of the built-in library registered as `name` (folder and case
// ignored), or null when there is none.
HMODULE BuiltinModule(const char* name);

// True when `module` is a built-in library's handle.
bool IsBuiltinModule(HMODULE module);

// A built-in library's entry point, looked up by its undecorated name.
void* BuiltinEntryPoint(HMODULE module, const char* name);

// "_Name@8" -> "Name"; other names unchanged.
std::string UndecoratedName(const char* name);

}  // namespace kiru::platform::detail
