// The emulator's image folder scan on folders of odd names and contents.
// The input is a flag byte, then records separated by '\n': each record's
// first byte picks what is written (a bitmap of the grab's size, of another
// size or depth, a truncated or empty file, a folder), the rest is the path
// below the image folder ("Cam2/pass/x.BmP"). After the scan a few frames
// are composed from the lists it made.
#include <kiru/kiru.h>

#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "fuzz_files.h"

namespace {

namespace fs = std::filesystem;

// A width x height bitmap of the given depth (8: grey ramp palette).
std::string Bitmap(int width, int height, int bits) {
    const std::size_t palette = bits == 8 ? 1024 : 0;
    const std::size_t row = ((std::size_t(width) * bits + 31) / 32) * 4;
    std::string b(14 + 40 + palette + row * std::size_t(height < 0 ? -height : height), '\x55');
    auto put32 = [&](std::size_t at, std::uint32_t v) {
        for (int i = 0; i < 4; ++i) b[at + i] = static_cast<char>(v >> (8 * i));
    };
    std::fill(b.begin(), b.begin() + 54, '\0');
    b[0] = 'B', b[1] = 'M';
    put32(2, static_cast<std::uint32_t>(b.size()));
    put32(10, static_cast<std::uint32_t>(54 + palette));
    put32(14, 40), put32(18, static_cast<std::uint32_t>(width)), put32(22, static_cast<std::uint32_t>(height));
    b[26] = 1, b[28] = static_cast<char>(bits);
    for (std::size_t i = 0; i < palette / 4; ++i) b[54 + 4 * i] = b[55 + 4 * i] = b[56 + 4 * i] = char(i), b[57 + 4 * i] = 0;
    return b;
}

// Path components of a record, without empty, "." and ".." ones (nothing is
// written outside the folder), at most four deep.
std::vector<std::string> Components(const std::string& record) {
    std::vector<std::string> parts;
    std::string part;
    for (char c : record + "/") {
        if (c != '/') {
            part += c == '\0' ? '_' : c;
            continue;
        }
        if (!part.empty() && part != "." && part != ".." && parts.size() < 4) parts.push_back(part);
        part.clear();
    }
    return parts;
}

class Emulator {
public:
    Emulator() : grab_(IGEMU_FILE_STORE_FILES) {
        grab_.Initialize();
        std::string folder = kiru_fuzz::ScratchFolder() + "/none";
        grab_.EmulateFromNewImagePath(&folder[0], 8, 4);
    }
    CIGrabEmu& operator*() { return grab_; }

private:
    CIGrabEmu grab_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static Emulator emulator;
    static const std::string kinds[] = {Bitmap(8, 4, 8), Bitmap(8, 4, 24), Bitmap(8, 4, 32), Bitmap(6, 3, 8),
                                        Bitmap(8, -4, 8), Bitmap(8, 4, 8).substr(0, 70), std::string()};
    const std::string folder = kiru_fuzz::ScratchFolder() + "/images";
    std::error_code ec;
    fs::remove_all(folder, ec);
    fs::create_directories(folder, ec);
    if (size == 0) return 0;

    const std::uint8_t flags = data[0];
    const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
    std::size_t start = 0;
    for (int records = 0; start <= text.size() && records < 16; ++records) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        const std::string record = text.substr(start, end - start);
        start = end + 1;
        if (record.empty()) continue;
        const std::vector<std::string> parts = Components(record.substr(1));
        if (parts.empty()) continue;
        fs::path path = folder;
        for (const std::string& p : parts) path /= p;
        fs::create_directories(path.parent_path(), ec);
        const unsigned kind = static_cast<unsigned char>(record[0]) % 8;
        if (kind == 7) {
            fs::create_directories(path, ec);
            continue;
        }
        kiru_fuzz::WriteFileIfPossible(path.string(), kinds[kind]);
    }

    CIGrabEmu& emu = *emulator;
    emu.SetImgSrcConformEnable(flags & 1);
    emu.SetNumCameras(1 + ((flags >> 1) & 3));
    std::string path = folder;
    // Either a size of the client's, or the first playable file's size.
    constexpr ULONG kKeep = 0xFFFFFFFEu;
    const bool chosen = (flags & 8) != 0;
    emu.EmulateFromNewImagePath(&path[0], chosen ? 8 : kKeep, chosen ? 4 : kKeep);
    for (int i = 0; i < 4; ++i) emu.GrabSimplified(0);
    return 0;
}
