// Reading BMP files into device-independent bitmaps: every depth, row order,
// row padding, the colour-on-colour stretch, nearest greys, lenient rules,
// malformed files, and a public corpus of valid, questionable and bad files.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "emu_fixture.h"
#include "platform/bitmap.h"
#include "platform/bmp_file.h"
#include "support/bmp_writer.h"

namespace fs = std::filesystem;
using kiru::platform::Dib;
using kiru::platform::LoadBmpFile;
using kiru_test::BmpColor;
using kiru_test::BmpSpec;
using kiru_test::SpecOf;

namespace {

struct Rgb {
    int r, g, b;
    bool operator==(const Rgb& o) const { return r == o.r && g == o.g && b == o.b; }
};

std::ostream& operator<<(std::ostream& out, const Rgb& c) { return out << "(" << c.r << "," << c.g << "," << c.b << ")"; }

// A top-down target of the grab's kind: 8 bits with the grey ramp, or 24/32.
std::unique_ptr<Dib> Target(int width, int height, int bits) {
    BITMAPINFO info{};
    info.bmiHeader = BITMAPINFOHEADER{sizeof(BITMAPINFOHEADER), width, -height, 1, WORD(bits), BI_RGB, 0, 0, 0, 0, 0};
    if (bits == 8) {
        info.bmiHeader.biClrUsed = 256;
        for (int i = 0; i < 256; ++i) info.bmiColors[i] = RGBQUAD{BYTE(i), BYTE(i), BYTE(i), 0};
    }
    return Dib::Create(info);
}

Rgb PixelOf(const Dib& dib, int x, int y) {
    const unsigned char* p = dib.Row(y) + x * int(dib.BitCount() / 8);
    if (dib.BitCount() == 8) return Rgb{p[0], p[0], p[0]};
    return Rgb{p[2], p[1], p[0]};
}

std::uint32_t Pack24(const Rgb& c) { return std::uint32_t(c.r) << 16 | std::uint32_t(c.g) << 8 | std::uint32_t(c.b); }

// A small colour picture: every pixel different.
Rgb Picture(int x, int y) { return Rgb{(x * 37 + y * 11) & 0xFF, (x * 5 + y * 70) & 0xFF, (200 - x * 3 - y) & 0xFF}; }

// Whether every pixel of the target (or of its first `width` columns) is expected(x, y).
::testing::AssertionResult Shows(const Dib& dib, const std::function<Rgb(int, int)>& expected, int width = -1) {
    for (int y = 0; y < int(dib.Height()); ++y)
        for (int x = 0; x < (width < 0 ? int(dib.Width()) : width); ++x)
            if (!(PixelOf(dib, x, y) == expected(x, y)))
                return ::testing::AssertionFailure() << "pixel " << x << "," << y << " is " << PixelOf(dib, x, y)
                                                     << ", not " << expected(x, y);
    return ::testing::AssertionSuccess();
}

using BmpLoader = kiru_test::EmuSandbox;

std::string Write(const std::string& path, const BmpSpec& spec, const kiru_test::BmpPixels& pixels) {
    EXPECT_TRUE(kiru_test::WriteBmp(path, spec, pixels)) << path;
    return path;
}

std::string WriteBytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    return path;
}

}  // namespace

TEST_F(BmpLoader, EveryDepthAndRowOrderKeepsItsColoursInEveryTarget) {
    // 24 and 32 bits (BI_RGB) hold 8-bit channels; 16 bits (BI_RGB) is
    // 5-5-5, widened by repeating each channel's top bits; 1, 4 and 8 bits
    // index their colour tables. A grey target takes the nearest grey.
    auto widen = [](int v) { return (v >> 3) << 3 | (v >> 5); };
    for (int bits : {1, 4, 8, 16, 24, 32}) {
        BmpSpec spec = SpecOf(12, 5, std::uint16_t(bits));
        const int entries = bits <= 8 ? std::min(1 << bits, 200) : 0;
        for (int i = 0; i < entries; ++i) spec.palette.push_back(BmpColor{BYTE(i * 101), BYTE(255 - i * 29), BYTE(i * 53), 0});
        auto value = [&](int x, int y) -> std::uint32_t {
            const Rgb c = Picture(x, y);
            if (entries) return std::uint32_t(x + 3 * y) % std::uint32_t(entries);
            if (bits == 16) return std::uint32_t((c.r >> 3) << 10 | (c.g >> 3) << 5 | (c.b >> 3));
            return (bits == 32 ? 0xAB000000u : 0u) | Pack24(c);
        };
        auto expected = [&](int x, int y) {
            const Rgb c = Picture(x, y);
            if (!entries) return bits == 16 ? Rgb{widen(c.r), widen(c.g), widen(c.b)} : c;
            const BmpColor& p = spec.palette[value(x, y)];
            return Rgb{p.red, p.green, p.blue};
        };
        const std::string bottomUp = Write(images_ + "/up.bmp", spec, value);
        spec.topDown = true;
        const std::string topDown = Write(images_ + "/down.bmp", spec, value);
        for (int targetBits : {24, 32, 8}) {
            for (const std::string& path : {bottomUp, topDown}) {
                auto target = Target(12, 5, targetBits);
                ASSERT_EQ(LoadBmpFile(path.c_str(), *target, nullptr, nullptr), 5);
                EXPECT_TRUE(Shows(*target, [&](int x, int y) {
                    const Rgb e = expected(x, y);
                    const int grey = (e.r + e.g + e.b + 1) / 3;
                    return targetBits == 8 ? Rgb{grey, grey, grey} : e;
                })) << bits << " bits into " << targetBits << " from " << path;
            }
        }
    }
}

TEST_F(BmpLoader, BitfieldMasksSelectTheChannels) {
    BmpSpec spec = SpecOf(4, 1, 16);
    spec.compression = BI_BITFIELDS;
    spec.masks[0] = 0xF800, spec.masks[1] = 0x07E0, spec.masks[2] = 0x001F;  // 5-6-5
    const std::uint32_t pixels565[4] = {0xFFE0, 0x0400, 0x001F, 0x0841};
    const std::string rgb565 = Write(images_ + "/565.bmp", spec, [&](int x, int) { return pixels565[x]; });
    spec.bits = 32;
    spec.masks[0] = 0x000000FF, spec.masks[1] = 0x0000FF00, spec.masks[2] = 0x00FF0000;  // red in the low byte
    const std::string xbgr = Write(images_ + "/xbgr.bmp", spec, [](int x, int) { return 0x00302010u + std::uint32_t(x); });
    auto target = Target(4, 1, 24);
    ASSERT_EQ(LoadBmpFile(rgb565.c_str(), *target, nullptr, nullptr), 1);
    const Rgb expected[4] = {{255, 255, 0}, {0, 130, 0}, {0, 0, 255}, {8, 8, 8}};  // 6-bit 32 widens to 128 | 2
    EXPECT_TRUE(Shows(*target, [&](int x, int) { return expected[x]; }));
    ASSERT_EQ(LoadBmpFile(xbgr.c_str(), *target, nullptr, nullptr), 1);
    EXPECT_EQ(PixelOf(*target, 2, 0), (Rgb{0x12, 0x20, 0x30}));
}

TEST_F(BmpLoader, StretchRepeatsWhenEnlargingAndDropsWhenShrinking) {
    auto value = [](int x, int y) { return std::uint32_t(10 * y + x); };
    const std::string small = Write(images_ + "/small.bmp", SpecOf(4, 2), value);
    const std::string large = Write(images_ + "/large.bmp", SpecOf(8, 4), value);
    auto big = Target(8, 4, 8);
    ASSERT_EQ(LoadBmpFile(small.c_str(), *big, nullptr, nullptr), 4);
    EXPECT_TRUE(Shows(*big, [](int x, int y) { return Rgb{10 * (y / 2) + x / 2, 10 * (y / 2) + x / 2, 10 * (y / 2) + x / 2}; }));
    auto little = Target(4, 2, 24);
    ASSERT_EQ(LoadBmpFile(large.c_str(), *little, nullptr, nullptr), 2);
    EXPECT_TRUE(Shows(*little, [](int x, int y) { return Rgb{20 * y + 2 * x, 20 * y + 2 * x, 20 * y + 2 * x}; }));
}

TEST_F(BmpLoader, OddWidthsKeepTheFileStrideAndTheFilterSeesTheRoundedWidth) {
    // 641 pixels of 24 bits: file rows of 1924 bytes, drawn 644 pixels wide;
    // the padding and the rest of the rounded row show as black. Read
    // straight into a 24-bit target and converted into a 32-bit one, after
    // a filter that first refuses the file.
    auto value = [](int x, int y) { return Pack24(Picture(x, y)) | 0x010101u; };  // never black
    const std::string path = Write(images_ + "/wide.bmp", SpecOf(641, 1200, 24), value);  // more rows than one read takes
    struct Seen {
        LONG width = 0;
        bool accept = false;
    } seen;
    auto filter = [](const BITMAPINFOHEADER& h, void* context) {
        auto* s = static_cast<Seen*>(context);
        s->width = h.biWidth;
        return s->accept;
    };
    for (int bits : {24, 32}) {
        auto target = Target(644, 1200, bits);
        seen.accept = false;
        EXPECT_EQ(LoadBmpFile(path.c_str(), *target, filter, &seen), 0);
        EXPECT_EQ(seen.width, 644);
        EXPECT_EQ(PixelOf(*target, 0, 0), (Rgb{0, 0, 0}));
        seen.accept = true;
        ASSERT_EQ(LoadBmpFile(path.c_str(), *target, filter, &seen), 1200);
        EXPECT_TRUE(Shows(*target, [&](int x, int y) {
            const std::uint32_t v = x < 641 ? value(x, y) : 0;
            return Rgb{int(v >> 16), int(v >> 8 & 0xFF), int(v & 0xFF)};
        })) << bits;
    }
    // 5 pixels of 8 bits: rows of 8 bytes, drawn 8 wide.
    const std::string narrow = Write(images_ + "/narrow.bmp", SpecOf(5, 3), [](int x, int y) { return 1u + x + 10 * y; });
    auto target = Target(8, 3, 8);
    std::memset(target->Bits(), 0xEE, target->SizeBytes());
    ASSERT_EQ(LoadBmpFile(narrow.c_str(), *target, nullptr, nullptr), 3);
    EXPECT_TRUE(Shows(*target, [](int x, int y) {
        const int v = x < 5 ? 1 + x + 10 * y : 0;
        return Rgb{v, v, v};
    }));
}

TEST_F(BmpLoader, ColourCountZeroAndLenientRules) {
    kiru::platform::BmpReadRules lenient;
    lenient.lenient = true;
    auto target = Target(4, 1, 24);
    // A version 5 header with the masks after it: refused by default, read when lenient.
    BmpSpec v5 = SpecOf(4, 1, 32);
    v5.headerSize = 124;
    v5.compression = BI_BITFIELDS;
    v5.masks[0] = 0xFF0000, v5.masks[1] = 0xFF00, v5.masks[2] = 0xFF;
    const std::string longer = Write(images_ + "/v5.bmp", v5, [](int x, int) { return 0x102030u * (x + 1); });
    EXPECT_EQ(LoadBmpFile(longer.c_str(), *target, nullptr, nullptr), 0);
    ASSERT_EQ(LoadBmpFile(longer.c_str(), *target, nullptr, nullptr, lenient), 1);
    EXPECT_EQ(PixelOf(*target, 3, 0), (Rgb{0x40, 0x80, 0xC0}));

    // A colour count of 0 over a red table: the index ramp (entry i is grey
    // i) by default, the file's table when lenient, black where the pixels
    // cut the table short.
    BmpSpec red = SpecOf(4, 1, 8);
    red.clrUsed = 0;
    red.palette.assign(256, BmpColor{0, 0, 200, 0});
    const auto index = [](int x, int) { return std::uint32_t(x * 5); };
    const std::string full = Write(images_ + "/red.bmp", red, index);
    ASSERT_EQ(LoadBmpFile(full.c_str(), *target, nullptr, nullptr), 1);
    EXPECT_EQ(PixelOf(*target, 3, 0), (Rgb{15, 15, 15}));
    ASSERT_EQ(LoadBmpFile(full.c_str(), *target, nullptr, nullptr, lenient), 1);
    EXPECT_EQ(PixelOf(*target, 3, 0), (Rgb{200, 0, 0}));
    red.offBits = 14 + 40 + 6 * 4;
    const std::string cut = Write(images_ + "/cut.bmp", red, index);
    ASSERT_EQ(LoadBmpFile(cut.c_str(), *target, nullptr, nullptr, lenient), 1);
    EXPECT_EQ(PixelOf(*target, 1, 0), (Rgb{200, 0, 0}));
    EXPECT_EQ(PixelOf(*target, 2, 0), (Rgb{0, 0, 0}));
}

TEST_F(BmpLoader, MalformedFilesAreRefused) {
    auto flat = [](int, int) { return 7u; };
    // Bytes of a good 8 x 8 file with one 32-bit field changed.
    auto forged = [&](std::size_t at, std::uint32_t v) {
        std::vector<std::uint8_t> bytes = kiru_test::EncodeBmp(BmpSpec{}, flat);
        for (int k = 0; k < 4; ++k) bytes[at + k] = std::uint8_t(v >> (8 * k));
        return bytes;
    };
    const struct {
        const char* name;
        std::function<void(BmpSpec&)> change;
    } cases[] = {
        {"signature", [](BmpSpec& s) { s.signature = 0x4142; }},
        {"header 108", [](BmpSpec& s) { s.headerSize = 108; }},
        {"header 124", [](BmpSpec& s) { s.headerSize = 124; }},
        {"header 64", [](BmpSpec& s) { s.headerSize = 64; }},
        {"planes", [](BmpSpec& s) { s.planes = 2; }},
        {"rle8", [](BmpSpec& s) { s.compression = BI_RLE8; }},
        {"jpeg", [](BmpSpec& s) { s.compression = 4; }},
        {"bitfields on 8 bits", [](BmpSpec& s) { s.compression = BI_BITFIELDS; }},
        {"bit count 30000", [](BmpSpec& s) { s.bits = 30000; s.palette = {{0, 0, 0, 0}}; }},
        {"bit count 2", [](BmpSpec& s) { s.bits = 2; }},
        {"width 0", [](BmpSpec& s) { s.width = 0; }},
        {"negative width", [](BmpSpec& s) { s.width = -8; }},
        {"height 0", [](BmpSpec& s) { s.height = 0; }},
        {"truncated pixels", [](BmpSpec& s) { s.truncateTo = 14 + 40 + 1024 + 30; }},
        {"truncated palette", [](BmpSpec& s) { s.truncateTo = 14 + 40 + 100; }},
        {"truncated header", [](BmpSpec& s) { s.truncateTo = 30; }},
        {"empty", [](BmpSpec& s) { s.truncateTo = 0; }},
    };
    std::vector<std::string> paths;
    for (const auto& c : cases) {
        BmpSpec spec;
        c.change(spec);
        paths.push_back(Write(images_ + "/" + c.name + ".bmp", spec, flat));
    }
    // Forged sizes promise far more pixels than the file holds, so nothing
    // is allocated from them; a pixel offset 1 MiB past the end.
    const std::pair<std::int32_t, std::int32_t> sizes[] = {{0x7FFFFFF0, 1}, {1, 0x7FFFFFFF}, {3000000, 2000000}, {64, -0x7FFFFFFF}};
    for (const auto& size : sizes) {
        std::vector<std::uint8_t> bytes = forged(18, std::uint32_t(size.first));
        for (int k = 0; k < 4; ++k) bytes[22 + k] = std::uint8_t(std::uint32_t(size.second) >> (8 * k));
        paths.push_back(WriteBytes(images_ + "/forged " + std::to_string(size.first) + "x" + std::to_string(size.second), bytes));
    }
    paths.push_back(WriteBytes(images_ + "/offset.bmp", forged(10, 0x100000 + 14 + 40 + 1024)));
    paths.insert(paths.end(), {"", images_ + "/missing.bmp", images_});
    for (const std::string& path : paths) {
        for (int bits : {8, 24}) {
            auto target = Target(8, 8, bits);
            EXPECT_EQ(LoadBmpFile(path.c_str(), *target, nullptr, nullptr), 0) << path << " into " << bits;
        }
    }
    auto target = Target(8, 8, 8);
    EXPECT_EQ(LoadBmpFile(nullptr, *target, nullptr, nullptr), 0);
}

// The public BMP suite: valid (g), questionable (q) and bad (b) files, read
// from the shared folder next to the repository. Uncompressed valid files
// with a 40-byte header must load; every other file loads or is refused, and
// nothing reads or writes out of bounds (run under the sanitizers).
TEST(BmpSuite, EveryFileLoadsOrIsRefusedCleanly) {
    // KIRU_TESTDATA names the testdata folder when the checkout is elsewhere.
    const char* override = std::getenv("KIRU_TESTDATA");
    fs::path suite = override != nullptr ? fs::path(override) / "bmpsuite"
                                         : fs::path(KIRU_SOURCE_DIR) / ".." / "shared" / "testdata" / "bmpsuite";
    if (override == nullptr && !fs::is_directory(suite)) suite = "/work/shared/testdata/bmpsuite";
    if (!fs::is_directory(suite)) GTEST_SKIP() << "no BMP suite at " << suite;
    int files = 0, mustLoad = 0;
    for (const char* group : {"g", "q", "b"}) {
        for (const auto& entry : fs::directory_iterator(suite / group)) {
            const std::string path = entry.path().string();
            SCOPED_TRACE(path);
            ++files;
            BITMAPFILEHEADER fileHeader{};
            BITMAPINFOHEADER info{};
            const bool headers = kiru::platform::ReadBmpHeaders(path.c_str(), fileHeader, info);
            const bool plain = headers && info.biSize == 40 &&
                               (info.biCompression == BI_RGB || info.biCompression == BI_BITFIELDS);
            for (int bits : {8, 24, 32}) {
                auto target = Target(128, 64, bits);
                const int rows = LoadBmpFile(path.c_str(), *target, nullptr, nullptr);
                if (std::string(group) == "g" && plain) {
                    EXPECT_EQ(rows, 64) << bits;
                    mustLoad += bits == 8;
                } else {
                    EXPECT_TRUE(rows == 0 || rows == 64) << bits;
                }
            }
        }
    }
    EXPECT_GT(files, 80);
    EXPECT_GE(mustLoad, 20);
}
