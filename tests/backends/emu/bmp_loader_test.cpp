// Reading BMP files into device-independent bitmaps: every depth, row order,
// row padding, the colour-on-colour stretch, nearest greys, malformed files,
// and a public corpus of valid, questionable and bad files.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

#include "platform/bitmap.h"
#include "platform/bmp_file.h"
#include "support/bmp_writer.h"

namespace fs = std::filesystem;
using kiru::platform::Dib;
using kiru::platform::LoadBmpFile;
using kiru_test::BmpColor;
using kiru_test::BmpSpec;

namespace {

struct Rgb {
    int r, g, b;
    bool operator==(const Rgb& o) const { return r == o.r && g == o.g && b == o.b; }
};

std::ostream& operator<<(std::ostream& out, const Rgb& c) { return out << "(" << c.r << "," << c.g << "," << c.b << ")"; }

// A top-down target of the grab's kind: 8 bits with the grey ramp, or 24/32.
std::unique_ptr<Dib> Target(int width, int height, int bits) {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = static_cast<WORD>(bits);
    info.bmiHeader.biCompression = BI_RGB;
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

class BmpLoader : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "kiru-bmp-XXXXXX").string();
        ASSERT_NE(::mkdtemp(&pattern[0]), nullptr) << errno;
        dir_ = pattern;
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
    }

    std::string Write(const std::string& name, const BmpSpec& spec, const kiru_test::BmpPixels& pixels) {
        const std::string path = dir_ + "/" + name;
        EXPECT_TRUE(kiru_test::WriteBmp(path, spec, pixels));
        return path;
    }

    std::string dir_;
};

// A small colour picture: every pixel different.
Rgb Picture(int x, int y) { return Rgb{(x * 37 + y * 11) & 0xFF, (x * 5 + y * 70) & 0xFF, (200 - x * 3 - y) & 0xFF}; }

}  // namespace

TEST_F(BmpLoader, TrueColourDepthsKeepTheirColours) {
    // 24 bits and 32 bits (BI_RGB) hold 8-bit channels; 16 bits (BI_RGB) is
    // 5-5-5, widened by repeating each channel's top bits.
    BmpSpec spec;
    spec.width = 8;
    spec.height = 3;
    spec.bits = 24;
    const std::string rgb24 = Write("rgb24.bmp", spec, [](int x, int y) { return Pack24(Picture(x, y)); });
    spec.bits = 32;
    const std::string rgb32 = Write("rgb32.bmp", spec, [](int x, int y) { return 0xAB000000u | Pack24(Picture(x, y)); });
    spec.bits = 16;
    const std::string rgb16 = Write("rgb16.bmp", spec, [](int x, int y) {
        const Rgb c = Picture(x, y);
        return std::uint32_t((c.r >> 3) << 10 | (c.g >> 3) << 5 | (c.b >> 3));
    });

    for (int bits : {24, 32}) {
        auto target = Target(8, 3, bits);
        ASSERT_EQ(LoadBmpFile(rgb24.c_str(), *target, nullptr, nullptr), 3);
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < 8; ++x) EXPECT_EQ(PixelOf(*target, x, y), Picture(x, y)) << bits << " " << x << "," << y;
        ASSERT_EQ(LoadBmpFile(rgb32.c_str(), *target, nullptr, nullptr), 3);
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < 8; ++x) EXPECT_EQ(PixelOf(*target, x, y), Picture(x, y)) << bits << " " << x << "," << y;
        ASSERT_EQ(LoadBmpFile(rgb16.c_str(), *target, nullptr, nullptr), 3);
        for (int y = 0; y < 3; ++y) {
            for (int x = 0; x < 8; ++x) {
                const Rgb c = Picture(x, y);
                auto widen = [](int v) { return (v >> 3) << 3 | (v >> 5); };
                EXPECT_EQ(PixelOf(*target, x, y), (Rgb{widen(c.r), widen(c.g), widen(c.b)})) << x << "," << y;
            }
        }
    }
}

TEST_F(BmpLoader, BitfieldMasksSelectTheChannels) {
    BmpSpec spec;
    spec.width = 4;
    spec.height = 1;
    spec.bits = 16;
    spec.compression = BI_BITFIELDS;
    spec.masks[0] = 0xF800, spec.masks[1] = 0x07E0, spec.masks[2] = 0x001F;  // 5-6-5
    const std::uint32_t pixels565[4] = {0xFFE0, 0x0400, 0x001F, 0x0841};
    const std::string rgb565 = Write("565.bmp", spec, [&](int x, int) { return pixels565[x]; });
    spec.bits = 32;
    spec.masks[0] = 0x000000FF, spec.masks[1] = 0x0000FF00, spec.masks[2] = 0x00FF0000;  // red in the low byte
    const std::string xbgr = Write("xbgr.bmp", spec, [](int x, int) { return 0x00302010u + std::uint32_t(x); });

    auto target = Target(4, 1, 24);
    ASSERT_EQ(LoadBmpFile(rgb565.c_str(), *target, nullptr, nullptr), 1);
    EXPECT_EQ(PixelOf(*target, 0, 0), (Rgb{255, 255, 0}));
    EXPECT_EQ(PixelOf(*target, 1, 0), (Rgb{0, 130, 0}));  // 6-bit 32 widens to 128 | 2
    EXPECT_EQ(PixelOf(*target, 2, 0), (Rgb{0, 0, 255}));
    EXPECT_EQ(PixelOf(*target, 3, 0), (Rgb{8, 8, 8}));
    ASSERT_EQ(LoadBmpFile(xbgr.c_str(), *target, nullptr, nullptr), 1);
    EXPECT_EQ(PixelOf(*target, 2, 0), (Rgb{0x12, 0x20, 0x30}));
}

TEST_F(BmpLoader, PalettisedDepthsUseTheirColourTables) {
    const std::vector<BmpColor> two = {{30, 20, 10, 0}, {50, 100, 200, 0}};
    std::vector<BmpColor> sixteen, many;
    for (int i = 0; i < 16; ++i) sixteen.push_back(BmpColor{BYTE(i * 16), BYTE(255 - i), BYTE(i * 3), 0});
    for (int i = 0; i < 200; ++i) many.push_back(BmpColor{BYTE(i), BYTE(i / 2), BYTE(255 - i), 0});
    auto colour = [](const BmpColor& c) { return Rgb{c.red, c.green, c.blue}; };

    struct Case {
        int bits;
        std::vector<BmpColor> palette;
    } cases[] = {{1, two}, {4, sixteen}, {8, many}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.bits);
        BmpSpec spec;
        spec.width = 12;
        spec.height = 5;
        spec.bits = static_cast<std::uint16_t>(c.bits);
        spec.palette = c.palette;
        const int entries = static_cast<int>(c.palette.size());
        auto index = [entries](int x, int y) { return std::uint32_t((x + 3 * y) % entries); };
        const std::string path = Write("pal.bmp", spec, index);

        auto rgb = Target(12, 5, 24);
        ASSERT_EQ(LoadBmpFile(path.c_str(), *rgb, nullptr, nullptr), 5);
        auto grey = Target(12, 5, 8);
        ASSERT_EQ(LoadBmpFile(path.c_str(), *grey, nullptr, nullptr), 5);
        for (int y = 0; y < 5; ++y) {
            for (int x = 0; x < 12; ++x) {
                const Rgb expected = colour(c.palette[index(x, y)]);
                EXPECT_EQ(PixelOf(*rgb, x, y), expected) << x << "," << y;
                const int nearestGrey = (expected.r + expected.g + expected.b + 1) / 3;
                EXPECT_EQ(grey->Row(y)[x], nearestGrey) << x << "," << y;
            }
        }
    }
}

TEST_F(BmpLoader, ColourDrawnIntoGreyTakesTheNearestGrey) {
    const Rgb colours[] = {{255, 0, 0}, {0, 1, 1}, {10, 20, 31}, {200, 200, 200}, {1, 0, 0}, {255, 255, 254}};
    const int expected[] = {85, 1, 20, 200, 0, 255};
    BmpSpec spec;
    spec.width = 8;
    spec.height = 1;
    spec.bits = 24;
    const std::string path = Write("colours.bmp", spec, [&](int x, int) { return x < 6 ? Pack24(colours[x]) : 0u; });
    auto grey = Target(8, 1, 8);
    ASSERT_EQ(LoadBmpFile(path.c_str(), *grey, nullptr, nullptr), 1);
    for (int x = 0; x < 6; ++x) EXPECT_EQ(grey->Row(0)[x], expected[x]) << colours[x];
}

TEST_F(BmpLoader, BottomUpAndTopDownFilesGiveTheSameImage) {
    for (int bits : {8, 24}) {
        SCOPED_TRACE(bits);
        BmpSpec spec;
        spec.width = 16;
        spec.height = 7;
        spec.bits = static_cast<std::uint16_t>(bits);
        auto value = [](int x, int y) { return std::uint32_t(y * 16 + x); };
        const std::string bottomUp = Write("up.bmp", spec, value);
        spec.topDown = true;
        const std::string topDown = Write("down.bmp", spec, value);
        for (int targetBits : {8, 24, 32}) {
            auto a = Target(16, 7, targetBits);
            auto b = Target(16, 7, targetBits);
            ASSERT_EQ(LoadBmpFile(bottomUp.c_str(), *a, nullptr, nullptr), 7);
            ASSERT_EQ(LoadBmpFile(topDown.c_str(), *b, nullptr, nullptr), 7);
            EXPECT_EQ(std::vector<unsigned char>(a->Bits(), a->Bits() + a->SizeBytes()),
                      std::vector<unsigned char>(b->Bits(), b->Bits() + b->SizeBytes()));
            // Row 0 of the target is the image's top row.
            if (targetBits != 8 || bits == 8) {
                EXPECT_EQ(PixelOf(*a, 5, 0).b, 5);
                EXPECT_EQ(PixelOf(*a, 5, 6).b, 101);
            }
        }
    }
}

TEST_F(BmpLoader, ColourCountZeroGivesTheIndexRamp) {
    // Without a colour count the palette is not read: entry i is grey i.
    BmpSpec spec;
    spec.width = 4;
    spec.height = 1;
    spec.bits = 4;
    spec.palette = std::vector<BmpColor>(16, BmpColor{255, 0, 0, 0});
    spec.clrUsed = 0;
    const std::string path = Write("ramp.bmp", spec, [](int x, int) { return std::uint32_t(x * 5); });
    auto target = Target(4, 1, 24);
    ASSERT_EQ(LoadBmpFile(path.c_str(), *target, nullptr, nullptr), 1);
    EXPECT_EQ(PixelOf(*target, 2, 0), (Rgb{10, 10, 10}));
    EXPECT_EQ(PixelOf(*target, 3, 0), (Rgb{15, 15, 15}));
}

TEST_F(BmpLoader, StretchRepeatsWhenEnlargingAndDropsWhenShrinking) {
    BmpSpec spec;
    spec.width = 4;
    spec.height = 2;
    const std::string small = Write("small.bmp", spec, [](int x, int y) { return std::uint32_t(10 * y + x); });
    spec.width = 8;
    spec.height = 4;
    const std::string large = Write("large.bmp", spec, [](int x, int y) { return std::uint32_t(10 * y + x); });

    auto big = Target(8, 4, 8);
    ASSERT_EQ(LoadBmpFile(small.c_str(), *big, nullptr, nullptr), 4);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 8; ++x) EXPECT_EQ(big->Row(y)[x], 10 * (y / 2) + x / 2) << x << "," << y;

    auto little = Target(4, 2, 24);
    ASSERT_EQ(LoadBmpFile(large.c_str(), *little, nullptr, nullptr), 2);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 4; ++x) EXPECT_EQ(PixelOf(*little, x, y).g, 10 * (2 * y) + 2 * x) << x << "," << y;
}

TEST_F(BmpLoader, OddWidthsKeepTheFileStrideAndRoundTheImageWidth) {
    // 641 pixels of 24 bits: file rows of 1924 bytes, drawn 644 pixels wide;
    // the padding and the rest of the rounded row show as black. Read
    // straight into a 24-bit target and converted into a 32-bit one.
    BmpSpec spec;
    spec.width = 641;
    spec.height = 1200;  // more rows than one scattered read takes
    spec.bits = 24;
    auto value = [](int x, int y) { return Pack24(Picture(x, y)) | 0x010101u; };  // never black
    const std::string path = Write("wide.bmp", spec, value);
    for (int bits : {24, 32}) {
        SCOPED_TRACE(bits);
        auto target = Target(644, 1200, bits);
        ASSERT_EQ(LoadBmpFile(path.c_str(), *target, nullptr, nullptr), 1200);
        for (int y = 0; y < 1200; y += 7) {
            for (int x = 0; x < 641; ++x) ASSERT_EQ(Pack24(PixelOf(*target, x, y)), value(x, y)) << x << "," << y;
            for (int x = 641; x < 644; ++x) ASSERT_EQ(PixelOf(*target, x, y), (Rgb{0, 0, 0})) << x << "," << y;
        }
    }

    // 5 pixels of 8 bits: rows of 8 bytes, drawn 8 wide.
    spec.width = 5;
    spec.height = 3;
    spec.bits = 8;
    const std::string narrow = Write("narrow.bmp", spec, [](int x, int y) { return std::uint32_t(1 + x + 10 * y); });
    auto target = Target(8, 3, 8);
    std::memset(target->Bits(), 0xEE, target->SizeBytes());
    ASSERT_EQ(LoadBmpFile(narrow.c_str(), *target, nullptr, nullptr), 3);
    for (int y = 0; y < 3; ++y) {
        for (int x = 0; x < 5; ++x) EXPECT_EQ(target->Row(y)[x], 1 + x + 10 * y);
        for (int x = 5; x < 8; ++x) EXPECT_EQ(target->Row(y)[x], 0);
    }
}

TEST_F(BmpLoader, TheFilterSeesTheRoundedWidthAndMayRefuse) {
    BmpSpec spec;
    spec.width = 641;
    spec.height = 2;
    spec.bits = 24;
    const std::string path = Write("f.bmp", spec, [](int, int) { return 0x102030u; });
    auto target = Target(644, 2, 24);
    struct Seen {
        LONG width = 0;
        bool accept = false;
    } seen;
    auto filter = [](const BITMAPINFOHEADER& h, void* context) {
        auto* s = static_cast<Seen*>(context);
        s->width = h.biWidth;
        return s->accept;
    };
    EXPECT_EQ(LoadBmpFile(path.c_str(), *target, filter, &seen), 0);
    EXPECT_EQ(seen.width, 644);
    EXPECT_EQ(PixelOf(*target, 0, 0), (Rgb{0, 0, 0}));
    seen.accept = true;
    EXPECT_EQ(LoadBmpFile(path.c_str(), *target, filter, &seen), 2);
    EXPECT_EQ(PixelOf(*target, 0, 0), (Rgb{0x10, 0x20, 0x30}));
}

TEST_F(BmpLoader, LenientRulesTakeLongerHeadersAndTheFilesOwnTable) {
    kiru::platform::BmpReadRules lenient;
    lenient.lenient = true;
    auto target = Target(4, 1, 24);
    BmpSpec v5;
    v5.width = 4;
    v5.height = 1;
    v5.bits = 32;
    v5.headerSize = 124;
    v5.compression = 3;  // masks after the header, the header's own mask fields empty
    v5.masks[0] = 0xFF0000, v5.masks[1] = 0xFF00, v5.masks[2] = 0xFF;
    const std::string longer = Write("v5.bmp", v5, [](int x, int) { return 0x102030u * (x + 1); });
    EXPECT_EQ(LoadBmpFile(longer.c_str(), *target, nullptr, nullptr), 0);
    ASSERT_EQ(LoadBmpFile(longer.c_str(), *target, nullptr, nullptr, lenient), 1);
    EXPECT_EQ(PixelOf(*target, 3, 0), (Rgb{0x40, 0x80, 0xC0}));

    // A colour count of 0 over a red table: the grey ramp by default, the
    // file's table when lenient, black where the pixels cut the table short.
    BmpSpec red;
    red.width = 4;
    red.height = 1;
    red.clrUsed = 0;
    red.palette.assign(256, BmpColor{0, 0, 200, 0});
    const auto index = [](int x, int) { return std::uint32_t(x); };
    const std::string full = Write("red.bmp", red, index);
    ASSERT_EQ(LoadBmpFile(full.c_str(), *target, nullptr, nullptr), 1);
    EXPECT_EQ(PixelOf(*target, 3, 0), (Rgb{3, 3, 3}));
    ASSERT_EQ(LoadBmpFile(full.c_str(), *target, nullptr, nullptr, lenient), 1);
    EXPECT_EQ(PixelOf(*target, 3, 0), (Rgb{200, 0, 0}));
    red.offBits = 14 + 40 + 2 * 4;
    const std::string cut = Write("cut.bmp", red, index);
    ASSERT_EQ(LoadBmpFile(cut.c_str(), *target, nullptr, nullptr, lenient), 1);
    EXPECT_EQ(PixelOf(*target, 1, 0), (Rgb{200, 0, 0}));
    EXPECT_EQ(PixelOf(*target, 2, 0), (Rgb{0, 0, 0}));
}

TEST_F(BmpLoader, MalformedFilesAreRefused) {
    auto flat = [](int, int) { return 7u; };
    struct Case {
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
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        BmpSpec spec;
        spec.width = 8;
        spec.height = 8;
        c.change(spec);
        const std::string path = Write("bad.bmp", spec, flat);
        auto target = Target(8, 8, 8);
        EXPECT_EQ(LoadBmpFile(path.c_str(), *target, nullptr, nullptr), 0);
    }

    // Forged sizes: the header promises far more pixels than the file holds,
    // so nothing is allocated from them.
    for (auto size : {std::pair<int, int>{0x7FFFFFF0, 1}, {1, 0x7FFFFFFF}, {3000000, 2000000}, {64, -0x7FFFFFFF}}) {
        BmpSpec spec;
        spec.width = 8;
        spec.height = 8;
        std::vector<std::uint8_t> bytes = kiru_test::EncodeBmp(spec, flat);
        auto put = [&](std::size_t at, std::int32_t v) {
            for (int k = 0; k < 4; ++k) bytes[at + k] = std::uint8_t(std::uint32_t(v) >> (8 * k));
        };
        put(18, size.first);
        put(22, size.second);
        const std::string path = dir_ + "/forged.bmp";
        std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
        auto target = Target(8, 8, 24);
        EXPECT_EQ(LoadBmpFile(path.c_str(), *target, nullptr, nullptr), 0) << size.first << "x" << size.second;
    }

    // A pixel offset past the end of the file.
    {
        BmpSpec spec;
        std::vector<std::uint8_t> bytes = kiru_test::EncodeBmp(spec, flat);
        bytes[12] = 0x10;  // bfOffBits += 1 MiB
        const std::string path = dir_ + "/offset.bmp";
        std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
        auto target = Target(8, 8, 8);
        EXPECT_EQ(LoadBmpFile(path.c_str(), *target, nullptr, nullptr), 0);
    }

    auto target = Target(8, 8, 8);
    EXPECT_EQ(LoadBmpFile("", *target, nullptr, nullptr), 0);
    EXPECT_EQ(LoadBmpFile(nullptr, *target, nullptr, nullptr), 0);
    EXPECT_EQ(LoadBmpFile((dir_ + "/missing.bmp").c_str(), *target, nullptr, nullptr), 0);
    EXPECT_EQ(LoadBmpFile(dir_.c_str(), *target, nullptr, nullptr), 0);  // a folder
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
