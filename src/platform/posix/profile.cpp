#include "platform/profile.h"

#include <cstddef>
#include <fstream>
#include <iterator>
#include <vector>

#include "platform/paths.h"
#include "platform/text.h"

namespace {

struct Entry {
    std::wstring key;
    std::wstring value;
};

struct Section {
    std::wstring name;
    std::vector<Entry> entries;
};

bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n' || c == L'\v' || c == L'\f'; }

std::wstring Trim(const std::wstring& text) {
    std::size_t first = 0;
    std::size_t last = text.size();
    while (first < last && IsBlank(text[first])) ++first;
    while (last > first && IsBlank(text[last - 1])) --last;
    return text.substr(first, last - first);
}

// Names are compared ASCII-case-insensitively, which is how key names in
// these files are written.
wchar_t FoldCase(wchar_t c) { return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c - L'A' + L'a') : c; }

bool SameName(const std::wstring& a, const std::wstring& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (FoldCase(a[i]) != FoldCase(b[i])) return false;
    }
    return true;
}

std::wstring Unquote(const std::wstring& value) {
    if (value.size() >= 2 && (value.front() == L'"' || value.front() == L'\'') && value.back() == value.front())
        return value.substr(1, value.size() - 2);
    return value;
}

// Reads and parses the whole file; false when it cannot be read.
bool LoadProfile(const wchar_t* fileName, std::vector<Section>& sections) {
    if (fileName == nullptr) return false;
    std::ifstream in(kiru::platform::ToNativePath(fileName), std::ios::binary);
    if (!in) return false;
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) bytes.erase(0, 3);
    const std::wstring text = kiru::platform::NarrowToWideString(bytes.c_str());

    Section* current = nullptr;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find(L'\n', start);
        if (end == std::wstring::npos) end = text.size();
        const std::wstring line = Trim(text.substr(start, end - start));
        start = end + 1;
        if (line.empty() || line[0] == L';') continue;
        if (line[0] == L'[') {
            const std::size_t close = line.find(L']');
            const std::wstring name = Trim(line.substr(1, close == std::wstring::npos ? std::wstring::npos : close - 1));
            sections.push_back(Section{name, {}});
            current = &sections.back();
            continue;
        }
        const std::size_t equals = line.find(L'=');
        if (current == nullptr || equals == std::wstring::npos) continue;
        current->entries.push_back(Entry{Trim(line.substr(0, equals)), Unquote(Trim(line.substr(equals + 1)))});
    }
    return true;
}

const Section* FindSection(const std::vector<Section>& sections, const std::wstring& name) {
    for (const Section& section : sections) {
        if (SameName(section.name, name)) return &section;
    }
    return nullptr;
}

const Entry* FindEntry(const Section& section, const std::wstring& key) {
    for (const Entry& entry : section.entries) {
        if (SameName(entry.key, key)) return &entry;
    }
    return nullptr;
}

// Copies text into a bounded buffer, cut at a character boundary.
std::size_t PutText(const std::wstring& text, wchar_t* out, std::size_t capacity) {
    if (capacity == 0) return 0;
    const std::size_t n = text.size() < capacity - 1 ? text.size() : capacity - 1;
    text.copy(out, n);
    out[n] = L'\0';
    return n;
}

std::size_t PutText(const std::wstring& text, char* out, std::size_t capacity) {
    return kiru::platform::WideToNarrow(text.c_str(), out, capacity);
}

template <typename Char>
DWORD Lookup(const wchar_t* section, const wchar_t* key, const wchar_t* def, Char* out, DWORD size,
             const wchar_t* fileName) {
    if (out == nullptr || size == 0) return 0;
    if (section == nullptr || key == nullptr) {  // name lists are not offered
        out[0] = 0;
        return 0;
    }
    std::wstring value;
    if (kiru::platform::ReadProfileValue(fileName, section, key, value))
        return static_cast<DWORD>(PutText(value, out, size));
    std::wstring fallback = def != nullptr ? def : L"";
    while (!fallback.empty() && IsBlank(fallback.back())) fallback.pop_back();
    return static_cast<DWORD>(PutText(fallback, out, size));
}

// Null-preserving conversion of the narrow arguments.
struct WideArg {
    explicit WideArg(const char* text) : isNull(text == nullptr), value(kiru::platform::NarrowToWideString(text)) {}
    const wchar_t* get() const { return isNull ? nullptr : value.c_str(); }
    bool isNull;
    std::wstring value;
};

}  // namespace

DWORD GetPrivateProfileStringW(const wchar_t* section, const wchar_t* key, const wchar_t* def, wchar_t* out,
                               DWORD size, const wchar_t* fileName) {
    return Lookup(section, key, def, out, size, fileName);
}

DWORD GetPrivateProfileStringA(const char* section, const char* key, const char* def, char* out, DWORD size,
                               const char* fileName) {
    const WideArg wideSection(section), wideKey(key), wideDef(def), wideFile(fileName);
    return Lookup(wideSection.get(), wideKey.get(), wideDef.get(), out, size, wideFile.get());
}

namespace kiru::platform {

bool ReadProfileValue(const wchar_t* fileName, const wchar_t* section, const wchar_t* key, std::wstring& value) {
    if (section == nullptr || key == nullptr) return false;
    std::vector<Section> sections;
    if (!LoadProfile(fileName, sections)) return false;
    const Section* found = FindSection(sections, Trim(section));
    const Entry* entry = found != nullptr ? FindEntry(*found, Trim(key)) : nullptr;
    if (entry == nullptr) return false;
    value = entry->value;
    return true;
}

}  // namespace kiru::platform
