// Reading a BMP file's bytes on Windows with CreateFileW and ReadFile; rows
// that are not consecutive in memory are read one after another.
#include "platform/bmp_file.h"

#include <kiru/win_types.h>

#include <string>

#include "platform/text.h"

namespace kiru::platform {
namespace {

HANDLE AsHandle(std::intptr_t file) { return reinterpret_cast<HANDLE>(file); }

// Reads exactly `bytes`, resuming after short reads; false at the end of the file.
bool ReadAll(HANDLE file, unsigned char* dest, std::size_t bytes) {
    while (bytes > 0) {
        const DWORD ask = bytes > 0x40000000u ? 0x40000000u : static_cast<DWORD>(bytes);
        DWORD got = 0;
        if (!::ReadFile(file, dest, ask, &got, nullptr) || got == 0) return false;
        dest += got;
        bytes -= got;
    }
    return true;
}

}  // namespace

BmpFile::~BmpFile() {
    if (file_ != -1) ::CloseHandle(AsHandle(file_));
}

bool BmpFile::Open(const char* path) {
    if (path == nullptr || file_ != -1) return false;
    const std::wstring wide = NarrowToWideString(path);
    HANDLE file = ::CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    file_ = reinterpret_cast<std::intptr_t>(file);
    LARGE_INTEGER size;
    const bool regular = ::GetFileType(file) == FILE_TYPE_DISK && ::GetFileSizeEx(file, &size);
    size_ = regular ? static_cast<std::uint64_t>(size.QuadPart) : 0;
    return true;
}

bool BmpFile::Read(void* dest, std::size_t bytes) {
    return bytes == 0 || (file_ != -1 && ReadAll(AsHandle(file_), static_cast<unsigned char*>(dest), bytes));
}

bool BmpFile::Seek(std::uint64_t offset) {
    if (file_ == -1 || offset > std::uint64_t(INT64_MAX)) return false;
    LARGE_INTEGER to;
    to.QuadPart = static_cast<LONGLONG>(offset);
    return ::SetFilePointerEx(AsHandle(file_), to, nullptr, FILE_BEGIN) != FALSE;
}

bool BmpFile::ReadRows(unsigned char* first, std::ptrdiff_t pitch, std::size_t rows, std::size_t rowBytes) {
    if (file_ == -1) return false;
    if (rows == 0 || rowBytes == 0) return true;
    if (pitch == static_cast<std::ptrdiff_t>(rowBytes)) return Read(first, rows * rowBytes);
    for (std::size_t y = 0; y < rows; ++y)
        if (!ReadAll(AsHandle(file_), first + static_cast<std::ptrdiff_t>(y) * pitch, rowBytes)) return false;
    return true;
}

}  // namespace kiru::platform
