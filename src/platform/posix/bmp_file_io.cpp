// Reading a BMP file's bytes with POSIX descriptors; rows that are not
// consecutive in memory are scattered into place with readv.
#include "platform/bmp_file.h"

#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include "platform/paths.h"

namespace kiru::platform {

namespace {

// Rows handed to one readv call.
#ifdef IOV_MAX
constexpr std::size_t kRowsPerCall = IOV_MAX < 1024 ? IOV_MAX : 1024;
#else
constexpr std::size_t kRowsPerCall = 16;
#endif

// Reads everything the vectors describe, resuming after partial reads.
bool ReadVectors(int fd, iovec* vectors, std::size_t count) {
    while (count > 0) {
        const ssize_t got = ::readv(fd, vectors, static_cast<int>(count));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;
        std::size_t left = static_cast<std::size_t>(got);
        while (count > 0 && left >= vectors->iov_len) {
            left -= vectors->iov_len;
            ++vectors;
            --count;
        }
        if (count > 0) {
            vectors->iov_base = static_cast<unsigned char*>(vectors->iov_base) + left;
            vectors->iov_len -= left;
        }
    }
    return true;
}

// The masks a 16- or 32-bit BI_RGB file implies.
}  // namespace

BmpFile::~BmpFile() {
    if (file_ >= 0) ::close(static_cast<int>(file_));
}

bool BmpFile::Open(const char* path) {
    if (path == nullptr || file_ >= 0) return false;
    const std::string native = ToNativePath(path);
    do {
        file_ = ::open(native.c_str(), O_RDONLY | O_CLOEXEC);
    } while (file_ < 0 && errno == EINTR);
    if (file_ < 0) return false;
    struct stat st;
    const bool regular = ::fstat(static_cast<int>(file_), &st) == 0 && S_ISREG(st.st_mode);
    size_ = regular ? static_cast<std::uint64_t>(st.st_size) : 0;
    return true;
}

bool BmpFile::Read(void* dest, std::size_t bytes) {
    iovec vector{dest, bytes};
    return bytes == 0 || (file_ >= 0 && ReadVectors(static_cast<int>(file_), &vector, 1));
}

bool BmpFile::Seek(std::uint64_t offset) {
    if (file_ < 0 || offset > std::uint64_t(LLONG_MAX)) return false;
    return ::lseek(static_cast<int>(file_), static_cast<off_t>(offset), SEEK_SET) >= 0;
}

bool BmpFile::ReadRows(unsigned char* first, std::ptrdiff_t pitch, std::size_t rows, std::size_t rowBytes) {
    if (file_ < 0) return false;
    if (rows == 0 || rowBytes == 0) return true;
    if (pitch == static_cast<std::ptrdiff_t>(rowBytes)) return Read(first, rows * rowBytes);
    iovec vectors[kRowsPerCall];
    for (std::size_t done = 0; done < rows;) {
        const std::size_t batch = rows - done < kRowsPerCall ? rows - done : kRowsPerCall;
        for (std::size_t i = 0; i < batch; ++i) {
            vectors[i].iov_base = first + static_cast<std::ptrdiff_t>(done + i) * pitch;
            vectors[i].iov_len = rowBytes;
        }
        if (!ReadVectors(static_cast<int>(file_), vectors, batch)) return false;
        done += batch;
    }
    return true;
}

}  // namespace kiru::platform
