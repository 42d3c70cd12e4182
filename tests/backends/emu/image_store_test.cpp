// The emulator's image store as a client sees it through GrabSimplified and
// GetImageFileName: folder resolution, play-list order, camera subfolders,
// the first file's size, the conform test, and the fill pattern.
#include <gtest/gtest.h>
#include <kiru/kiru.h>

#include <algorithm>
#include <cstring>
#include <dirent.h>
#include <string>
#include <unistd.h>
#include <vector>

#include "emu_fixture.h"
#include "support/bmp_writer.h"

using kiru_test::BmpSpec;
using kiru_test::EmuSandbox;
using kiru_test::kKeepValue;

namespace {

constexpr ULONG kBits24 = 0u - 24u;  // Create's way of asking for 24 bits

// The *.bmp names of a folder in the order the directory lists them.
std::vector<std::string> ListedOrder(const std::string& folder) {
    std::vector<std::string> names;
    if (DIR* dir = ::opendir(folder.c_str())) {
        while (const dirent* e = ::readdir(dir)) {
            std::string name = e->d_name;
            std::string lower = name;
            std::transform(lower.begin(), lower.end(), lower.begin(), ::tolower);
            if (lower.size() >= 4 && lower.compare(lower.size() - 4, 4, ".bmp") == 0) names.push_back(name);
        }
        ::closedir(dir);
    }
    return names;
}

// Byte k of pixel (r, c) of the fill pattern for grab counter n.
unsigned char Pattern(ULONG bytes, ULONG n, ULONG r, ULONG c, ULONG k) {
    return static_cast<unsigned char>(((bytes + k) * (r + (n * 10) / bytes + c)) & 0xFF);
}

::testing::AssertionResult IsFillPattern(const unsigned char* image, ULONG width, ULONG height, ULONG bytes, ULONG n) {
    for (ULONG r = 0; r < height; ++r)
        for (ULONG c = 0; c < width; ++c)
            for (ULONG k = 0; k < bytes; ++k) {
                const unsigned char got = image[(r * width + c) * bytes + k];
                if (got != Pattern(bytes, n, r, c, k)) {
                    return ::testing::AssertionFailure() << "byte " << k << " of pixel " << c << "," << r << " is "
                                                         << int(got) << " for counter " << n;
                }
            }
    return ::testing::AssertionSuccess();
}

class ImageStore : public EmuSandbox {
protected:
    // An initialized and created emulator on `folder` (absolute).
    void Open(CIGrabEmu& emu, const std::string& folder, ULONG width, ULONG height, ULONG bits = 8) {
        std::string path = folder;
        EXPECT_EQ(emu.EmulateFromNewImagePath(&path[0], 0, 0), 0);
        ASSERT_EQ(emu.Initialize(), 1);
        ASSERT_EQ(emu.Create(0, 0, width, height, bits, 5, 5000), 1) << emu.GetLastErrorMsg();
    }
};

}  // namespace

TEST_F(ImageStore, PlayListIsTheFolderThenPassThenFailInDirectoryOrder) {
    MakeDirs(images_ + "/pass");
    MakeDirs(images_ + "/fail");
    MakeDirs(images_ + "/calib");
    const char* own[] = {"c.bmp", "a.bmp", "b.bmp", "UPPER.BMP"};
    for (int i = 0; i < 4; ++i) Flat(images_ + "/" + own[i], 32, 32, std::uint8_t(10 + i));
    Flat(images_ + "/pass/e.bmp", 32, 32, 20);
    Flat(images_ + "/pass/d.bmp", 32, 32, 21);
    Flat(images_ + "/fail/f.bmp", 32, 32, 30);
    Flat(images_ + "/calib/g.bmp", 32, 32, 40);
    Flat(images_ + "/calib/h.bmp", 32, 32, 41);
    Flat(images_ + "/notes.txt", 32, 32, 50);

    std::vector<std::string> expected;
    for (const char* sub : {"", "pass/", "fail/"}) {
        for (const std::string& name : ListedOrder(images_ + "/" + sub)) expected.push_back(images_ + "/" + sub + name);
    }
    ASSERT_EQ(expected.size(), 7u);

    CIGrabEmu emu(IGEMU_FILE_STORE_FILES);
    EXPECT_STREQ(emu.GetImageFileName(0, 0, 0), "");
    Open(emu, images_, 32, 32);
    for (std::size_t i = 0; i < 2 * expected.size(); ++i) {
        const unsigned char* frame = emu.GrabSimplified(0);
        ASSERT_NE(frame, nullptr);
        const std::string& file = expected[i % expected.size()];
        EXPECT_EQ(emu.GetImageFileName(0, 0, 0), file) << i;
        std::uint8_t value = 0;
        if (file.find("/pass/e") != std::string::npos) value = 20;
        else if (file.find("/pass/d") != std::string::npos) value = 21;
        else if (file.find("/fail/") != std::string::npos) value = 30;
        else for (int k = 0; k < 4; ++k) if (file == images_ + "/" + own[k]) value = std::uint8_t(10 + k);
        EXPECT_EQ(frame[0], value) << file;
        EXPECT_EQ(frame[32 * 32 - 1], value) << file;
    }
    EXPECT_EQ(emu.GetImageTypeCount(IFW_EMU_IMAGE_ORDINARY), 0);
    EXPECT_EQ(emu.GetLoadedImagePtr(IFW_EMU_IMAGE_ORDINARY, 0, 0), nullptr);
    EXPECT_EQ(emu.UsesSimplifiedGrab(), 1);
}

TEST_F(ImageStore, EachCameraReadsItsOwnSubfolder) {
    Flat(images_ + "/a.bmp", 32, 32, 1);
    MakeDirs(images_ + "/Cam2");
    MakeDirs(images_ + "/Cam1");
    Flat(images_ + "/Cam2/b.bmp", 32, 32, 2);
    Flat(images_ + "/Cam1/x.bmp", 32, 32, 99);

    CIGrabEmu emu(IGEMU_FILE_STORE_FILES);
    emu.SetNumCameras(2);
    Open(emu, images_, 32, 32);
    const unsigned char* frame = emu.GrabSimplified(0);
    EXPECT_EQ(frame[0], 1);
    EXPECT_EQ(frame[32 * 32], 2);  // camera 1, one image further on
    EXPECT_EQ(emu.GetImageFileName(0, 0, 0), images_ + "/a.bmp");
    ASSERT_EQ(emu.SetClientActiveCamera(1), 1);
    emu.GrabSimplified(0);
    EXPECT_EQ(emu.GetImageFileName(0, 0, 0), images_ + "/Cam2/b.bmp");
}

TEST_F(ImageStore, FirstFileGivesTheSizeAndOddWidthsKeepTheirStride) {
    BmpSpec spec;
    spec.width = 641;
    spec.height = 40;
    spec.bits = 24;
    auto value = [](int x, int y) { return std::uint32_t(0x010101 + x * 7 + y * 0x10000 + (x & 0xFF) * 0x100); };
    ASSERT_TRUE(kiru_test::WriteBmp(images_ + "/wide.bmp", spec, value));

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
}

TEST_F(ImageStore, ChosenWidthsWithOddRowLengthsAreNotSheared) {
    // 322 pixels of 3 bytes: 966-byte frame rows against 968-byte bitmap rows.
    BmpSpec spec;
    spec.width = 322;
    spec.height = 20;
    spec.bits = 24;
    // Columns differ, rows are alike: after the stretch every frame row must
    // still equal the first one.
    auto value = [](int x, int) { return std::uint32_t((x * 5) & 0xFF) * 0x010101u; };
    ASSERT_TRUE(kiru_test::WriteBmp(images_ + "/odd.bmp", spec, value));

    CIGrabEmu emu(IGEMU_FILE_STORE_FILES);
    emu.SetWidth(322);
    emu.SetHeight(20);
    std::string path = images_;
    emu.EmulateFromNewImagePath(&path[0], 0, 0);
    ASSERT_EQ(emu.Initialize(), 1);
    ASSERT_EQ(emu.Create(0, 0, 322, 20, kBits24, 5, 5000), 1) << emu.GetLastErrorMsg();
    const unsigned char* frame = emu.GrabSimplified(0);
    for (int y = 1; y < 20; ++y) {
        ASSERT_EQ(std::memcmp(frame + std::size_t(y) * 966, frame, 966), 0) << "row " << y;
    }
    EXPECT_EQ(frame[3 * 10], value(10, 0) & 0xFF);
}

TEST_F(ImageStore, WithoutConformAnyFileOfAnotherSizeOrDepthIsLeftOut) {
    BmpSpec spec;
    spec.width = 32;
    spec.height = 32;
    auto flat = [](int, int) { return 5u; };
    ASSERT_TRUE(kiru_test::WriteBmp(images_ + "/ok.bmp", spec, flat));
    spec.topDown = true;
    ASSERT_TRUE(kiru_test::WriteBmp(images_ + "/topdown.bmp", spec, flat));
    spec.topDown = false;
    spec.width = 40;
    ASSERT_TRUE(kiru_test::WriteBmp(images_ + "/wide.bmp", spec, flat));
    spec.width = 32;
    spec.bits = 24;
    ASSERT_TRUE(kiru_test::WriteBmp(images_ + "/rgb.bmp", spec, flat));
    spec.bits = 32;
    ASSERT_TRUE(kiru_test::WriteBmp(images_ + "/deep.bmp", spec, flat));

    auto played = [](CIGrabEmu& emu, int grabs) {
        std::vector<std::string> names;
        for (int i = 0; i < grabs; ++i) {
            emu.GrabSimplified(0);
            std::string name = emu.GetImageFileName(0, 0, 0);
            name = name.substr(name.rfind('/') + 1);
            if (std::find(names.begin(), names.end(), name) == names.end()) names.push_back(name);
        }
        std::sort(names.begin(), names.end());
        return names;
    };

    CIGrabEmu grey(IGEMU_FILE_STORE_FILES);
    grey.SetImgSrcConformEnable(0);
    grey.SetWidth(32);
    grey.SetHeight(32);
    Open(grey, images_, 32, 32);
    EXPECT_EQ(played(grey, 10), (std::vector<std::string>{"ok.bmp"}));

    CIGrabEmu colour(IGEMU_FILE_STORE_FILES);
    colour.SetImgSrcConformEnable(0);
    colour.SetWidth(32);
    colour.SetHeight(32);
    colour.SetBitsPP(24);
    Open(colour, images_, 32, 32, kBits24);
    EXPECT_EQ(played(colour, 10), (std::vector<std::string>{"deep.bmp", "rgb.bmp"}));

    // With the conform flag set (the default) every bitmap file plays.
    CIGrabEmu all(IGEMU_FILE_STORE_FILES);
    Open(all, images_, 32, 32);
    EXPECT_EQ(played(all, 10).size(), 5u);
}

TEST_F(ImageStore, NewerHeaderVersionsAreListedButShowTheFillPattern) {
    BmpSpec spec;
    spec.width = 32;
    spec.height = 32;
    spec.headerSize = 108;
    ASSERT_TRUE(kiru_test::WriteBmp(images_ + "/v4.bmp", spec, [](int, int) { return 9u; }));
    spec.headerSize = 124;
    ASSERT_TRUE(kiru_test::WriteBmp(images_ + "/v5.bmp", spec, [](int, int) { return 9u; }));

    CIGrabEmu emu(IGEMU_FILE_STORE_FILES);
    Open(emu, images_, 32, 32);
    for (ULONG n = 0; n < 3; ++n) {
        const unsigned char* frame = emu.GrabSimplified(0);
        EXPECT_TRUE(IsFillPattern(frame, 32, 32, 1, n));
    }
    EXPECT_STREQ(emu.GetImageFileName(0, 0, 0), "");
}

TEST_F(ImageStore, EmptyFolderGivesTheFillPatternMovingWithTheGrabCounter) {
    CIGrabEmu grey(IGEMU_FILE_STORE_FILES);
    Open(grey, images_, 40, 32);
    for (ULONG n = 0; n < 3; ++n) EXPECT_TRUE(IsFillPattern(grey.GrabSimplified(0), 40, 32, 1, n));

    CIGrabEmu colour(IGEMU_FILE_STORE_FILES);
    Open(colour, images_, 40, 32, kBits24);
    for (ULONG n = 0; n < 4; ++n) EXPECT_TRUE(IsFillPattern(colour.GrabSimplified(0), 40, 32, 3, n));
}

TEST_F(ImageStore, ADotPathFollowsTheCurrentDirectory) {
    const std::string a = root_ + "/work/A", b = root_ + "/work/B";
    MakeDirs(a + "/imgs");
    MakeDirs(b + "/imgs");
    Flat(a + "/imgs/a.bmp", 32, 32, 1);
    Flat(b + "/imgs/b.bmp", 32, 32, 2);
    ASSERT_EQ(::chdir(a.c_str()), 0);

    CIGrabEmu emu(IGEMU_FILE_STORE_FILES);
    char path[] = ".\\imgs";
    EXPECT_EQ(emu.EmulateFromNewImagePath(path, 0, 0), 0);
    ASSERT_EQ(emu.Initialize(), 1);
    EXPECT_STREQ(emu.GetImagePath(), ".\\imgs");  // the application-data folder had nothing
    ASSERT_EQ(emu.Create(0, 0, 32, 32, 8, 5, 5000), 1);
    EXPECT_EQ(emu.GrabSimplified(0)[0], 1);
    EXPECT_EQ(emu.GetImageFileName(0, 0, 0), a + "/imgs/a.bmp");

    ASSERT_EQ(::chdir(b.c_str()), 0);
    ASSERT_EQ(emu.Create(0, 0, 32, 32, 8, 5, 5000), 1);
    EXPECT_EQ(emu.GrabSimplified(0)[0], 2);
    EXPECT_EQ(emu.GetImageFileName(0, 0, 0), b + "/imgs/b.bmp");
}

TEST_F(ImageStore, EmulateFromNewImagePathRecreatesOnlyWithASize) {
    const std::string other = root_ + "/other";
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
    EXPECT_EQ(emu.GetImageFileName(0, 0, 0), other + "/b.bmp");
}

TEST_F(ImageStore, DefaultFolderIsUnderTheApplicationData) {
    MakeDirs(DefaultImageFolder());
    Flat(DefaultImageFolder() + "/d.bmp", 32, 32, 3);
    CIGrabEmu emu(IGEMU_FILE_STORE_FILES);
    ASSERT_EQ(emu.Initialize(), 1);
    EXPECT_EQ(emu.GetImagePath(), DefaultImageFolder());
    ASSERT_EQ(emu.Create(0, 0, 32, 32, 8, 5, 5000), 1);
    EXPECT_EQ(emu.GrabSimplified(0)[0], 3);

    // The product name is a subfolder of the maker's folder.
    const std::string productFolder = userData_ + "/Norvale Optics/Line 4/images";
    MakeDirs(productFolder);
    Flat(productFolder + "/p.bmp", 32, 32, 5);
    CIGrabEmu product(IGEMU_FILE_STORE_FILES);
    wchar_t name[] = L"Line 4";
    product.SetProductName(name);
    ASSERT_EQ(product.Initialize(), 1);
    EXPECT_EQ(product.GetImagePath(), productFolder);
}

TEST_F(ImageStore, AnEmptyDefaultFolderFallsBackToImagesInTheCurrentDirectory) {
    MakeDirs(root_ + "/work/images");
    Flat(root_ + "/work/images/w.bmp", 32, 32, 4);
    CIGrabEmu emu(IGEMU_FILE_STORE_FILES);
    ASSERT_EQ(emu.Initialize(), 1);
    EXPECT_STREQ(emu.GetImagePath(), "./images");
    ASSERT_EQ(emu.Create(0, 0, 32, 32, 8, 5, 5000), 1);
    EXPECT_EQ(emu.GrabSimplified(0)[0], 4);
    EXPECT_EQ(emu.GetImageFileName(0, 0, 0), root_ + "/work/images/w.bmp");
}

TEST_F(ImageStore, ImageRegionReducesTheSizeUnlessTheHeightWasChosen) {
    struct Case {
        IFW_IMG_REGION_TYPE region;
        bool chooseHeight;
        ULONG width, height;
    } cases[] = {
        {IFW_REGION_FULL, false, 640, 480},         {IFW_REGION_HALF_HEIGHT, false, 640, 240},
        {IFW_REGION_HALF, false, 320, 240},         {IFW_REGION_QUARTER_HEIGHT, false, 640, 120},
        {IFW_REGION_XGA, false, 640, 480},          {IFW_REGION_HALF, true, 640, 480},
    };
    for (const Case& c : cases) {
        CIGrabEmu emu(IGEMU_FILE_STORE_FILES);
        if (c.chooseHeight) emu.SetHeight(480);
        emu.SetImgRegion(c.region);
        ASSERT_EQ(emu.Initialize(), 1);
        EXPECT_EQ(emu.GetWidth(), c.width) << c.region;
        EXPECT_EQ(emu.GetHeight(), c.height) << c.region;
    }
    // 1024 x 768 applies to a large enough frame whose height was not chosen.
    CIGrabEmu xga(IGEMU_FILE_STORE_FILES);
    xga.iSetWidth(1280);
    xga.iSetHeight(1024);
    xga.SetImgRegion(IFW_REGION_XGA);
    ASSERT_EQ(xga.Initialize(), 1);
    EXPECT_EQ(xga.GetWidth(), 1024u);
    EXPECT_EQ(xga.GetHeight(), 768u);
}
