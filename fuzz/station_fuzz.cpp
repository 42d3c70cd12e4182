// The station file parser on arbitrary text. A refused file must say where:
// its message starts with "SOURCE:LINE: ". An image named by the file is
// looked up beside it, where a small valid bitmap and a truncated one lie.
#include <cctype>
#include <cstring>
#include <string>

#include "capture/sim/station_desc.h"
#include "fuzz_files.h"

namespace {

// A 4x2 8-bit grey bitmap (grey ramp palette of 256 entries).
std::string SmallBitmap() {
    std::string b(14 + 40 + 1024 + 8, '\0');
    auto put32 = [&](std::size_t at, std::uint32_t v) {
        for (int i = 0; i < 4; ++i) b[at + i] = static_cast<char>(v >> (8 * i));
    };
    b[0] = 'B', b[1] = 'M';
    put32(2, static_cast<std::uint32_t>(b.size()));
    put32(10, 14 + 40 + 1024);
    put32(14, 40), put32(18, 4), put32(22, 2);
    b[26] = 1, b[28] = 8;
    for (int i = 0; i < 256; ++i) b[54 + 4 * i] = b[55 + 4 * i] = b[56 + 4 * i] = static_cast<char>(i);
    return b;
}

void Prepare(const std::string& folder) {
    const std::string bmp = SmallBitmap();
    kiru_fuzz::WriteFile(folder + "/tray.bmp", reinterpret_cast<const std::uint8_t*>(bmp.data()), bmp.size());
    kiru_fuzz::WriteFile(folder + "/cut.bmp", reinterpret_cast<const std::uint8_t*>(bmp.data()), 60);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string source = [] {
        Prepare(kiru_fuzz::ScratchFolder());
        return kiru_fuzz::ScratchFolder() + "/station.ini";
    }();
    const std::string text(reinterpret_cast<const char*>(data), size);
    kiru::sim::StationDesc desc;
    std::string error;
    if (!kiru::sim::ParseStation(text, source, &desc, &error)) {
        // "SOURCE:LINE: reason"
        const std::string prefix = source + ":";
        if (error.compare(0, prefix.size(), prefix) != 0) std::abort();
        std::size_t at = prefix.size();
        if (at >= error.size() || !std::isdigit(static_cast<unsigned char>(error[at]))) std::abort();
        while (at < error.size() && std::isdigit(static_cast<unsigned char>(error[at]))) ++at;
        if (error.compare(at, 2, ": ") != 0) std::abort();
    }
    return 0;
}
