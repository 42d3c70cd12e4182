// Looking a profile value up on Windows: the system's profile functions,
// asked twice with two different defaults so that a value read from the
// file is told apart from a default.
#include "platform/profile.h"

#include <vector>

namespace kiru::platform {

bool ReadProfileValue(const wchar_t* fileName, const wchar_t* section, const wchar_t* key, std::wstring& value) {
    value.clear();
    if (fileName == nullptr || section == nullptr || key == nullptr) return false;
    // The longest value a profile line holds.
    constexpr DWORD kCapacity = 32767;
    std::vector<wchar_t> first(kCapacity), second(kCapacity);
    const DWORD n1 = ::GetPrivateProfileStringW(section, key, L"\x1", first.data(), kCapacity, fileName);
    const DWORD n2 = ::GetPrivateProfileStringW(section, key, L"\x2", second.data(), kCapacity, fileName);
    // A missing key gives back each default; a present one gives its value twice.
    if (n1 == 1 && n2 == 1 && first[0] == L'\x1' && second[0] == L'\x2') return false;
    value.assign(first.data(), n1);
    return true;
}

}  // namespace kiru::platform
