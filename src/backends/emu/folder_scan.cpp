// Directory enumeration for the image store.
#include "backends/emu/folder_scan.h"

#include <cstring>
#include <dirent.h>

namespace kiru::emu {

bool IsBitmapName(const char* name) {
    const std::size_t length = std::strlen(name);
    if (length < 4) return false;
    const char* suffix = name + length - 4;
    return suffix[0] == '.' && (suffix[1] | 0x20) == 'b' && (suffix[2] | 0x20) == 'm' && (suffix[3] | 0x20) == 'p';
}

std::size_t ForEachBitmapName(const std::string& folder, const std::function<bool(const char* name)>& visit) {
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr) return 0;
    std::size_t visited = 0;
    while (const dirent* entry = ::readdir(dir)) {
        if (!IsBitmapName(entry->d_name)) continue;
        ++visited;
        if (!visit(entry->d_name)) break;
    }
    ::closedir(dir);
    return visited;
}

std::size_t CountBitmapNames(const std::string& folder) {
    return ForEachBitmapName(folder, [](const char*) { return true; });
}

}  // namespace kiru::emu
