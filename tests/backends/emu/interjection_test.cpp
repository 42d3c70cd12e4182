// Image interjection: the common layer takes test images from a private
// emulator that reads the default image folder.
#include <gtest/gtest.h>
#include <kiru/kiru.h>

#include <string>

#include "emu_fixture.h"
#include "support/test_grab.h"

using kiru_test::EmuSandbox;
using kiru_test::NativePath;

using Interjection = EmuSandbox;

TEST_F(Interjection, ImagesComeFromAPrivateEmulatorOnTheDefaultFolderElseTheFillPattern) {
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
