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

// Length of text in units of Char, and copying it into a bounded buffer cut
// at a character boundary.
std::size_t UnitCount(const std::wstring& text, wchar_t*) { return text.size(); }
std::size_t UnitCount(const std::wstring& text, char*) { return kiru::platform::WideToNarrowString(text.c_str()).size(); }

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
DWORD PutList(const std::vector<std::wstring>& names, Char* out, DWORD size) {
    if (size < 2) {
        if (size == 1) out[0] = 0;
        return 0;
    }
    std::size_t used = 0;
    for (const std::wstring& name : names) {
        // Room for this name and its NUL, keeping the list's final NUL free.
        const std::size_t room = size - 1 - used;
        if (room == 0) {
            out[size - 1] = 0;
            return size - 2;
        }
        const std::size_t n = PutText(name, out + used, room);
        if (n < UnitCount(name, out)) {
            out[used + n + 1] = 0;  // the cut name's NUL, then the list's
            return size - 2;
        }
        used += n + 1;
    }
    out[used] = 0;
    if (used == 0) out[1] = 0;
    return static_cast<DWORD>(used);
}

template <typename Char>
DWORD Lookup(const wchar_t* section, const wchar_t* key, const wchar_t* def, Char* out, DWORD size,
             const wchar_t* fileName) {
    if (out == nullptr || size == 0) return 0;
    std::vector<Section> sections;
    const bool loaded = LoadProfile(fileName, sections);
    if (section == nullptr) {
        std::vector<std::wstring> names;
        for (const Section& s : sections) names.push_back(s.name);
        return PutList(names, out, size);
    }
    const Section* found = loaded ? FindSection(sections, Trim(section)) : nullptr;
    if (key == nullptr) {
        std::vector<std::wstring> names;
        if (found != nullptr) {
            for (const Entry& entry : found->entries) names.push_back(entry.key);
        }
        return PutList(names, out, size);
    }
    const Entry* entry = found != nullptr ? FindEntry(*found, Trim(key)) : nullptr;
    if (entry != nullptr) return static_cast<DWORD>(PutText(entry->value, out, size));
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
