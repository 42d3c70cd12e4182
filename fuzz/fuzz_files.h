// Helpers for fuzz targets whose parser reads a file: a private temporary
// folder for the process, and writing the fuzzer's bytes into a file there.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

namespace kiru_fuzz {

// "<TMPDIR, else /dev/shm, else /tmp>/kiru-fuzz-XXXXXX", made once per
// process (memory-backed where possible: every input is written as a file).
// scripts/fuzz points TMPDIR at a folder it removes afterwards.
inline const std::string& ScratchFolder() {
    static const std::string folder = [] {
        const char* tmp = std::getenv("TMPDIR");
        std::string base = tmp != nullptr && *tmp ? tmp : "/tmp";
        if ((tmp == nullptr || !*tmp) && ::access("/dev/shm", W_OK) == 0) base = "/dev/shm";
        std::string pattern = base + "/kiru-fuzz-XXXXXX";
        if (::mkdtemp(&pattern[0]) == nullptr) std::abort();
        return pattern;
    }();
    return folder;
}

// Replaces the file at path with the bytes; aborts when it cannot (a full
// disk would otherwise look like a parser that refuses everything).
inline void WriteFile(const std::string& path, const std::uint8_t* data, std::size_t size) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) std::abort();
    if (size > 0 && std::fwrite(data, 1, size, f) != size) std::abort();
    if (std::fclose(f) != 0) std::abort();
}

}  // namespace kiru_fuzz

namespace kiru_fuzz {

// Writes bytes to path when the name can be made (a name too long for the
// file system is simply not written).
inline void WriteFileIfPossible(const std::string& path, const std::string& bytes) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) return;
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
}

}  // namespace kiru_fuzz
