// The emulator's image store as a client sees it through GrabSimplified and
// GetImageFileName: folder resolution, play-list order, camera subfolders,
// the first file's size, the conform test, and the fill pattern; and the
// images the common layer interjects from a private emulator.
#include <gtest/gtest.h>
#include <kiru/kiru.h>

#include <algorithm>
#include <cstring>
#include <dirent.h>
#include <map>
#include <string>
#include <unistd.h>
#include <vector>

#include "emu_fixture.h"
#include "support/bmp_writer.h"
#include "support/test_grab.h"

using kiru_test::BmpSpec;
using kiru_test::NativePath;
using kiru_test::SpecOf;

namespace {

constexpr ULONG kBits24 = 0u - 24u;  // Create's way of asking for 24 bits
constexpr ULONG kKeepValue = 0xFFFFFFFEu;
using ImageStore = kiru_test::EmuSandbox;

// The *.bmp names of a folder in the order the directory lists them.
std::vector<std::string> ListedOrder(const std::string& folder) {
    std::vector<std::string> names;
    if (DIR* dir = ::opendir(folder.c_str())) {
        while (const dirent* e = ::readdir(dir)) {
            std::string lower = e->d_name;
            std::transform(lower.begin(), lower.end(), lower.begin(), ::tolower);
            if (lower.size() >= 4 && lower.compare(lower.size() - 4, 4, ".bmp") == 0) names.push_back(e->d_name);
        }
        ::closedir(dir);
    }
    return names;
}

// Whether the image is the fill pattern for grab counter n: byte k of pixel
// (r, c) is (bytes + k) * (r + n * 10 / bytes + c).
::testing::AssertionResult IsFillPattern(const unsigned char* image, ULONG width, ULONG height, ULONG bytes, ULONG n) {
    for (ULONG r = 0; r < height; ++r)
        for (ULONG c = 0; c < width; ++c)
            for (ULONG k = 0; k < bytes; ++k) {
                const unsigned char got = image[(r * width + c) * bytes + k];
                if (got != static_cast<unsigned char>(((bytes + k) * (r + (n * 10) / bytes + c)) & 0xFF))
                    return ::testing::AssertionFailure() << "byte " << k << " of pixel " << c << "," << r << " is "
                                                         << int(got) << " for counter " << n;
            }
    return ::testing::AssertionSuccess();
}

}  // namespace

// Camera 0 plays the folder, then pass, then fail, in directory order;
// camera 1 plays its own subfolder Cam2.
TEST_F(ImageStore, EachCameraPlaysItsFolderThenPassThenFailInDirectoryOrder) {
    std::map<std::string, int> value;
    int next = 10;
    for (const char* name : {"c.bmp", "a.bmp", "b.bmp", "UPPER.BMP", "pass/e.bmp", "pass/d.bmp", "fail/f.bmp",
                             "calib/g.bmp", "calib/h.bmp", "notes.txt", "Cam1/x.bmp", "Cam2/y.bmp"}) {
        const std::string path = images_ + "/" + name;
        MakeDirs(path.substr(0, path.rfind('/')));
        Flat(path, 32, 32, std::uint8_t(next));
        value[NativePath(path)] = next++;
    }
    std::vector<std::string> expected;
    for (const char* sub : {"", "pass/", "fail/"}) {
        for (const std::string& name : ListedOrder(images_ + "/" + sub)) expected.push_back(NativePath(images_ + "/" + sub + name));
    }
    ASSERT_EQ(expected.size(), 7u);

    CIGrabEmu emu(IGEMU_FILE_STORE_FILES);
    EXPECT_STREQ(emu.GetImageFileName(0, 0, 0), "");
    emu.SetNumCameras(2);
    Open(emu, images_, 32, 32);
    for (std::size_t i = 0; i < 2 * expected.size(); ++i) {
        const unsigned char* frame = emu.GrabSimplified(0);
        ASSERT_NE(frame, nullptr);
        const std::string& file = expected[i % expected.size()];
        EXPECT_EQ(emu.GetImageFileName(0, 0, 0), file) << i;
        EXPECT_EQ(frame[0], value[file]) << file;
        EXPECT_EQ(frame[32 * 32 - 1], value[file]) << file;
        EXPECT_EQ(frame[32 * 32], value[NativePath(images_ + "/Cam2/y.bmp")]);  // camera 1, one image further on
    }
    ASSERT_EQ(emu.SetClientActiveCamera(1), 1);
    emu.GrabSimplified(0);
    EXPECT_EQ(emu.GetImageFileName(0, 0, 0), NativePath(images_ + "/Cam2/y.bmp"));
    EXPECT_EQ(emu.GetImageTypeCount(IFW_EMU_IMAGE_ORDINARY), 0);
    EXPECT_EQ(emu.GetLoadedImagePtr(IFW_EMU_IMAGE_ORDINARY, 0, 0), nullptr);
    EXPECT_EQ(emu.UsesSimplifiedGrab(), 1);
}

TEST_F(ImageStore, FirstFileGivesTheSizeAndOddRowLengthsAreNotSheared) {
    auto value = [](int x, int y) { return std::uint32_t(0x010101 + x * 7 + y * 0x10000 + (x & 0xFF) * 0x100); };
    ASSERT_TRUE(kiru_test::WriteBmp(images_ + "/wide.bmp", SpecOf(641, 40, 24), value));
    CIGrabEmu emu(IGEMU_FILE_STORE_FILES);
    std::string path = images_;
    emu.EmulateFromNewImagePath(&path[0], 0, 0);
    ASSERT_EQ(emu.Initialize(), 1);
    EXPECT_EQ(emu.GetWidth(), 644u);
    EXPECT_EQ(emu.GetHeight(), 40u);
    ASSERT_EQ(emu.Create(0, 0, kKeepValue, kKeepValue, kBits24, 5, 5000), 1) << emu.GetLastErrorMsg();
    EXPECT_EQ(emu.GetWidth(), 644u);
    EXPECT_EQ(emu.GetBitPP(), 24u);
    const unsigned char* frame = emu.GrabSimplified(0);
    for (int y = 0; y < 40; ++y) {
        for (int x = 0; x < 644; ++x) {
            const unsigned char* p = frame + (std::size_t(y) * 644 + x) * 3;
            const std::uint32_t got = std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16;
            ASSERT_EQ(got, x < 641 ? value(x, y) & 0xFFFFFF : 0u) << x << "," << y;
        }
    }
    // A width the client chose is kept.
    CIGrabEmu chosen(IGEMU_FILE_STORE_FILES);
    chosen.SetWidth(320);
    chosen.EmulateFromNewImagePath(&path[0], 0, 0);
    ASSERT_EQ(chosen.Initialize(), 1);
    EXPECT_EQ(chosen.GetWidth(), 320u);
    EXPECT_EQ(chosen.GetHeight(), 480u);

    // 322 pixels of 3 bytes: 966-byte frame rows against 968-byte bitmap
    // rows. Columns differ, rows are alike: after the stretch every frame
    // row must still equal the first one.
    const std::string odd = root_ + "/odd";
    MakeDirs(odd);
    auto columns = [](int x, int) { return std::uint32_t((x * 5) & 0xFF) * 0x010101u; };
    ASSERT_TRUE(kiru_test::WriteBmp(odd + "/odd.bmp", SpecOf(322, 20, 24), columns));
    CIGrabEmu sheared(IGEMU_FILE_STORE_FILES);
    sheared.SetWidth(322);
    sheared.SetHeight(20);
    Open(sheared, odd, 322, 20, kBits24);
    frame = sheared.GrabSimplified(0);
    for (int y = 1; y < 20; ++y) ASSERT_EQ(std::memcmp(frame + std::size_t(y) * 966, frame, 966), 0) << "row " << y;
    EXPECT_EQ(frame[3 * 10], columns(10, 0) & 0xFF);
}

TEST_F(ImageStore, WithoutConformAnyFileOfAnotherSizeOrDepthIsLeftOut) {
    const struct {
        const char* name;
        BmpSpec spec;
    } files[] = {{"ok.bmp", SpecOf(32, 32)},
                 {"topdown.bmp", SpecOf(32, 32)},
                 {"wide.bmp", SpecOf(40, 32)},
                 {"rgb.bmp", SpecOf(32, 32, 24)},
                 {"deep.bmp", SpecOf(32, 32, 32)}};
    for (const auto& f : files) {
        BmpSpec spec = f.spec;
        spec.topDown = std::string(f.name) == "topdown.bmp";
        ASSERT_TRUE(kiru_test::WriteBmp(images_ + "/" + f.name, spec, [](int, int) { return 5u; }));
    }
    // The names a grab on 32 x 32 frames plays, with the conform test on or off.
    auto played = [&](int conform, ULONG bits) {
        CIGrabEmu emu(IGEMU_FILE_STORE_FILES);
        if (!conform) {
            emu.SetImgSrcConformEnable(0);
            emu.SetWidth(32);
            emu.SetHeight(32);
        }
        if (bits == kBits24) emu.SetBitsPP(24);
        Open(emu, images_, 32, 32, bits);
        std::vector<std::string> names;
        for (int i = 0; i < 10; ++i) {
            emu.GrabSimplified(0);
            std::string name = emu.GetImageFileName(0, 0, 0);
            name = name.substr(name.find_last_of("/\\") + 1);
            if (std::find(names.begin(), names.end(), name) == names.end()) names.push_back(name);
        }
        std::sort(names.begin(), names.end());
        return names;
    };
    EXPECT_EQ(played(0, 8), (std::vector<std::string>{"ok.bmp"}));
    EXPECT_EQ(played(0, kBits24), (std::vector<std::string>{"deep.bmp", "rgb.bmp"}));
    EXPECT_EQ(played(1, 8).size(), 5u);  // the conform flag is the default: every bitmap file plays
}

TEST_F(ImageStore, NewerHeadersAndEmptyFoldersGiveTheFillPatternMovingWithTheGrabCounter) {
    // Files with newer header versions are listed but do not load.
    BmpSpec spec = SpecOf(32, 32);
    for (std::uint32_t header : {108u, 124u}) {
        spec.headerSize = header;
        ASSERT_TRUE(kiru_test::WriteBmp(images_ + "/v" + std::to_string(header) + ".bmp", spec, [](int, int) { return 9u; }));
    }
    CIGrabEmu newer(IGEMU_FILE_STORE_FILES);
    Open(newer, images_, 32, 32);
    for (ULONG n = 0; n < 3; ++n) EXPECT_TRUE(IsFillPattern(newer.GrabSimplified(0), 32, 32, 1, n));
    EXPECT_STREQ(newer.GetImageFileName(0, 0, 0), "");

    const std::string empty = root_ + "/empty";
    MakeDirs(empty);
    CIGrabEmu colour(IGEMU_FILE_STORE_FILES);
    Open(colour, empty, 40, 32, kBits24);
    for (ULONG n = 0; n < 4; ++n) EXPECT_TRUE(IsFillPattern(colour.GrabSimplified(0), 40, 32, 3, n));
}

TEST_F(ImageStore, ADotPathFollowsTheCurrentDirectory) {
    const std::string a = NativePath(root_ + "/work/A"), b = NativePath(root_ + "/work/B");
    MakeDirs(a + "/imgs");
    MakeDirs(b + "/imgs");
    Flat(a + "/imgs/a.bmp", 32, 32, 1);
    Flat(b + "/imgs/b.bmp", 32, 32, 2);
    ASSERT_EQ(::chdir(a.c_str()), 0);
    CIGrabEmu emu(IGEMU_FILE_STORE_FILES);
    Open(emu, ".\\imgs", 32, 32);
    EXPECT_STREQ(emu.GetImagePath(), ".\\imgs");  // the application-data folder had nothing
    EXPECT_EQ(emu.GrabSimplified(0)[0], 1);
    EXPECT_EQ(emu.GetImageFileName(0, 0, 0), NativePath(a + "/imgs/a.bmp"));
    ASSERT_EQ(::chdir(b.c_str()), 0);
    ASSERT_EQ(emu.Create(0, 0, 32, 32, 8, 5, 5000), 1);
    EXPECT_EQ(emu.GrabSimplified(0)[0], 2);
    EXPECT_EQ(emu.GetImageFileName(0, 0, 0), NativePath(b + "/imgs/b.bmp"));
}

TEST_F(ImageStore, EmulateFromNewImagePathRecreatesOnlyWithASize) {
    const std::string other = NativePath(root_ + "/other");
    MakeDirs(other);
    Flat(images_ + "/a.bmp", 32, 32, 1);
    Flat(other + "/b.bmp", 64, 48, 2);
    CIGrabEmu emu(IGEMU_FILE_STORE_FILES);
    Open(emu, images_, 32, 32);
    void* ring = emu.GetFramePtr(0);
    std::string path = other;
    EXPECT_EQ(emu.EmulateFromNewImagePath(&path[0], 64, 0), 0);
    EXPECT_EQ(emu.GetImagePath(), other);
    EXPECT_EQ(emu.IsGrabCreated(), 1);
    EXPECT_EQ(emu.GetFramePtr(0), ring);
    EXPECT_EQ(emu.GetWidth(), 32u);
    EXPECT_EQ(emu.EmulateFromNewImagePath(&path[0], 64, 48), 1);
    EXPECT_EQ(emu.IsGrabCreated(), 1);
    EXPECT_EQ(emu.GetWidth(), 64u);
    EXPECT_EQ(emu.GetHeight(), 48u);
    EXPECT_EQ(emu.GrabSimplified(0)[0], 2);
    EXPECT_EQ(emu.GetImageFileName(0, 0, 0), NativePath(other + "/b.bmp"));
}

TEST_F(ImageStore, DefaultFolderIsUnderTheApplicationDataElseImagesInTheCurrentDirectory) {
    // An empty default folder falls back to ./images.
    MakeDirs(root_ + "/work/images");
    Flat(root_ + "/work/images/w.bmp", 32, 32, 4);
    CIGrabEmu fallback(IGEMU_FILE_STORE_FILES);
    ASSERT_EQ(fallback.Initialize(), 1);
    EXPECT_STREQ(fallback.GetImagePath(), "./images");
    ASSERT_EQ(fallback.Create(0, 0, 32, 32, 8, 5, 5000), 1);
    EXPECT_EQ(fallback.GrabSimplified(0)[0], 4);
    EXPECT_EQ(fallback.GetImageFileName(0, 0, 0), NativePath(root_ + "/work/images/w.bmp"));

    MakeDirs(DefaultImageFolder());
    Flat(DefaultImageFolder() + "/d.bmp", 32, 32, 3);
    CIGrabEmu emu(IGEMU_FILE_STORE_FILES);
    ASSERT_EQ(emu.Initialize(), 1);
    EXPECT_EQ(emu.GetImagePath(), NativePath(DefaultImageFolder()));
    ASSERT_EQ(emu.Create(0, 0, 32, 32, 8, 5, 5000), 1);
    EXPECT_EQ(emu.GrabSimplified(0)[0], 3);

    // The product name is a subfolder of the maker's folder.
    const std::string productFolder = localRoot_ + "/Norvale Optics/Line 4/images";
    MakeDirs(productFolder);
    Flat(productFolder + "/p.bmp", 32, 32, 5);
    CIGrabEmu product(IGEMU_FILE_STORE_FILES);
    wchar_t name[] = L"Line 4";
    product.SetProductName(name);
    ASSERT_EQ(product.Initialize(), 1);
    EXPECT_EQ(product.GetImagePath(), NativePath(productFolder));
}

TEST_F(ImageStore, ImageRegionReducesTheSizeUnlessTheHeightWasChosen) {
    const struct {
        IFW_IMG_REGION_TYPE region;
        ULONG chosenWidth, chosenHeight;  // 0: not chosen
        ULONG width, height;
    } cases[] = {
        {IFW_REGION_FULL, 0, 0, 640, 480},          {IFW_REGION_HALF_HEIGHT, 0, 0, 640, 240},
        {IFW_REGION_HALF, 0, 0, 320, 240},          {IFW_REGION_QUARTER_HEIGHT, 0, 0, 640, 120},
        {IFW_REGION_XGA, 0, 0, 640, 480},           {IFW_REGION_HALF, 0, 480, 640, 480},
        {IFW_REGION_XGA, 1280, 1024, 1024, 768},  // a large enough frame whose height was set internally
    };
    for (const auto& c : cases) {
        CIGrabEmu emu(IGEMU_FILE_STORE_FILES);
        if (c.chosenWidth) {
            emu.iSetWidth(c.chosenWidth);
            emu.iSetHeight(c.chosenHeight);
        } else if (c.chosenHeight) {
            emu.SetHeight(c.chosenHeight);
        }
        emu.SetImgRegion(c.region);
        ASSERT_EQ(emu.Initialize(), 1);
        EXPECT_EQ(emu.GetWidth(), c.width) << c.region;
        EXPECT_EQ(emu.GetHeight(), c.height) << c.region;
    }
}

// Image interjection: the common layer takes test images from a private
// emulator that reads the default image folder.
TEST_F(ImageStore, InterjectedImagesComeFromAPrivateEmulatorOnTheDefaultFolderElseTheFillPattern) {
    // With no images the fill pattern is interjected, and the file name is empty.
    kiru_test::TestGrab empty;
    ASSERT_EQ(empty.Initialize(), 1);
    ASSERT_EQ(empty.Create(0, 0, 40, 32, 8, 5, 5000), 1);
    const unsigned char* pattern = empty.GetNextInterjectImage(IFW_EMU_IMAGE_CALIBRATION, 0, -1);
    ASSERT_NE(pattern, nullptr);
    for (int r = 0; r < 32; ++r)
        for (int c = 0; c < 40; ++c) ASSERT_EQ(pattern[r * 40 + c], std::uint8_t(r + c)) << c << "," << r;
    empty.SetImgInterjectState(1);
    EXPECT_STREQ(empty.GetImageFileName(2, 0, 0), "");

    MakeDirs(DefaultImageFolder());
    Flat(DefaultImageFolder() + "/one.bmp", 64, 48, 11);
    kiru_test::TestGrab grab;
    ASSERT_EQ(grab.Initialize(), 1);
    ASSERT_EQ(grab.Create(0, 0, 64, 48, 8, 5, 5000), 1);
    EXPECT_EQ(grab.GetImageFileName(0, 0, 0), nullptr);

    unsigned char* image = grab.GetNextInterjectImage(IFW_EMU_IMAGE_ORDINARY, 0, -1);
    ASSERT_NE(image, nullptr);
    for (int i = 0; i < 64 * 48; ++i) ASSERT_EQ(image[i], 11) << i;
    // The frame is the emulator's own; each call composes the next one.
    Flat(DefaultImageFolder() + "/one.bmp", 64, 48, 12);
    EXPECT_EQ(grab.GetNextInterjectImage(IFW_EMU_IMAGE_ORDINARY, 0, 3), image);
    EXPECT_EQ(image[0], 12);

    // The file name is given only once the client says an image was interjected.
    EXPECT_EQ(grab.GetImageFileName(0, 0, 0), nullptr);
    grab.SetImgInterjectState(1);
    ASSERT_NE(grab.GetImageFileName(0, 0, 0), nullptr);
    EXPECT_EQ(std::string(grab.GetImageFileName(-1, 0, 0)), NativePath(DefaultImageFolder() + "/one.bmp"));
}
