// Asks the kernel for the type of object behind a handle: Win32 has no call
// for it, the native NtQueryObject does.
#include "platform/win32/kernel_handle.h"

#include <winternl.h>

#include <vector>

namespace kiru::platform::detail {

std::wstring ObjectTypeName(HANDLE handle) {
    // PUBLIC_OBJECT_TYPE_INFORMATION followed by the name's characters.
    std::vector<unsigned char> buffer(1024);
    ULONG needed = 0;
    const NTSTATUS status = ::NtQueryObject(handle, ObjectTypeInformation, buffer.data(),
                                            static_cast<ULONG>(buffer.size()), &needed);
    if (status < 0) return std::wstring();
    const auto* info = reinterpret_cast<const PUBLIC_OBJECT_TYPE_INFORMATION*>(buffer.data());
    if (info->TypeName.Buffer == nullptr) return std::wstring();
    return std::wstring(info->TypeName.Buffer, info->TypeName.Length / sizeof(wchar_t));
}

}  // namespace kiru::platform::detail
