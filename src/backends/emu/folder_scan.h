// Listing the bitmap files of one folder the way the image store needs it:
// the entries whose names match "*.bmp" (letter case ignored, as the other
// platform's file system does), in the order the directory returns them.
#pragma once

#include <cstddef>
#include <functional>
#include <string>

namespace kiru::emu {

// True when name matches the mask "*.bmp" without regard to letter case.
bool IsBitmapName(const char* name);

// Calls visit(name) for each matching entry of folder until it returns
// false. A folder that does not exist or cannot be read has no entries.
// Returns the number of entries visited.
std::size_t ForEachBitmapName(const std::string& folder, const std::function<bool(const char* name)>& visit);

// The number of matching entries of folder.
std::size_t CountBitmapNames(const std::string& folder);

}  // namespace kiru::emu
