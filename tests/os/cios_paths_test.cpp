// Application-data paths: folder choice, oem.ini names and their caches,
// file-name forms and the 260-character limit.
#include <gtest/gtest.h>

#include <cstring>
#include <cwchar>
#include <kiru/cios.h>
#include <string>

#include "support/os_fixture.h"

namespace {

class AppDataPaths : public OsSandbox {
protected:
    std::string Narrow(const char* sub, const char* file) {
        char buffer[MAX_PATH];
        EXPECT_EQ(CiOS::AppDataPath(buffer, sub, file), buffer);
        return buffer;
    }
    std::wstring WidePath(const wchar_t* sub, const wchar_t* file) {
        wchar_t buffer[MAX_PATH];
        EXPECT_EQ(CiOS::AppDataPath(buffer, sub, file), buffer);
        return buffer;
    }
    std::string NarrowOnce(const char* sub, const char* file) {
        char buffer[MAX_PATH];
        EXPECT_EQ(CiOS::AppDataPathOnce(buffer, sub, file), buffer);
        return buffer;
    }
    std::wstring WideOnce(const wchar_t* sub, const wchar_t* file) {
        wchar_t buffer[MAX_PATH];
        EXPECT_EQ(CiOS::AppDataPathOnce(buffer, sub, file), buffer);
        return buffer;
    }
};

TEST_F(AppDataPaths, AbsoluteFileNamesComeBackUnchanged) {
    WriteOemIni("[Config]\nOEMName=\\Other\\\nOEMFolderName=Product\n");
    MakeDirs(localRoot_ + "/Other/Cams");
    for (const char* name : {"/opt/station/cam.txt", "\\\\server\\share\\x.bmp", "C:\\data\\x.bmp", "d:rel.txt"}) {
        EXPECT_EQ(Narrow("Cams", name), name);
        EXPECT_EQ(NarrowOnce("Cams", name), name);
        EXPECT_EQ(WidePath(L"Cams", Wide(name).c_str()), Wide(name));
        EXPECT_EQ(WideOnce(L"Cams", Wide(name).c_str()), Wide(name));
    }
}

TEST_F(AppDataPaths, DefaultMakerFolderAndCurrentFolderPrefix) {
    MakeDirs(localRoot_ + "/Norvale Optics/");
    const std::string expected = localRoot_ + "/Norvale Optics//images";
    EXPECT_EQ(Narrow("", ".\\images"), expected);
    EXPECT_EQ(Narrow("", "./images"), expected);
    EXPECT_EQ(WidePath(L"", L".\\images"), Wide(expected));
    EXPECT_EQ(NarrowOnce("", ".\\images"), expected);
    EXPECT_EQ(WideOnce(L"", L".\\images"), Wide(expected));
    // Only a leading prefix is dropped, and nothing is inserted before the name.
    EXPECT_EQ(Narrow(nullptr, "a/./b"), localRoot_ + "/Norvale Optics/a/./b");
}

TEST_F(AppDataPaths, NullFileNameGivesTheFolder) {
    MakeDirs(localRoot_ + "/Norvale Optics/Cams");
    EXPECT_EQ(WidePath(L"Cams", nullptr), Wide(localRoot_ + "/Norvale Optics/Cams/"));
    EXPECT_EQ(Narrow("Cams", nullptr), localRoot_ + "/Norvale Optics/Cams/");
    EXPECT_EQ(Narrow(nullptr, nullptr), localRoot_ + "/Norvale Optics/");
    EXPECT_EQ(NarrowOnce("Cams", nullptr), localRoot_ + "/Norvale Optics/Cams/");
}

TEST_F(AppDataPaths, MissingUserFolderFallsBackToAllUsersWithoutCreatingIt) {
    EXPECT_EQ(WidePath(L"Cams", L"a.txt"), Wide(commonRoot_ + "/Norvale Optics/Cams/a.txt"));
    EXPECT_EQ(Narrow("Cams", "a.txt"), commonRoot_ + "/Norvale Optics/Cams/a.txt");
    EXPECT_EQ(NarrowOnce("Cams", "a.txt"), commonRoot_ + "/Norvale Optics/Cams/a.txt");
    EXPECT_EQ(WideOnce(L"Cams", L"a.txt"), Wide(commonRoot_ + "/Norvale Optics/Cams/a.txt"));
    EXPECT_FALSE(CiOS::DirectoryExists(commonRoot_.c_str()));
    EXPECT_FALSE(CiOS::DirectoryExists(localRoot_.c_str()));

    // The maker folder alone is not enough when the subfolder is missing.
    MakeDirs(localRoot_ + "/Norvale Optics");
    EXPECT_EQ(Narrow("Cams", "a.txt"), commonRoot_ + "/Norvale Optics/Cams/a.txt");
    EXPECT_EQ(Narrow(nullptr, "a.txt"), localRoot_ + "/Norvale Optics/a.txt");
}

TEST_F(AppDataPaths, MakerFolderFromOemIniWithBackslashesAsSeparators) {
    WriteOemIni("; station settings\n[config]\n  oemname =  \\Example\\  \n");
    EXPECT_EQ(Narrow(nullptr, "f"), commonRoot_ + "/Example/f");
    EXPECT_EQ(WidePath(nullptr, L"f"), Wide(commonRoot_ + "/Example/f"));
    EXPECT_EQ(NarrowOnce(nullptr, "f"), commonRoot_ + "/Example/f");
}

TEST_F(AppDataPaths, CachedNamesStayUntilReset) {
    WriteOemIni("[Config]\nOEMName=/First/\n");
    EXPECT_EQ(Narrow(nullptr, "f"), commonRoot_ + "/First/f");
    WriteOemIni("[Config]\nOEMName=/Second/\n");
    EXPECT_EQ(Narrow(nullptr, "f"), commonRoot_ + "/First/f");
    // The wide call reads nothing: both name caches were filled together.
    // The folder-name cache stays empty, being filled only by a wide call
    // that finds the name cache empty.
    EXPECT_EQ(WidePath(nullptr, L"f"), Wide(commonRoot_ + "/First/f"));
    EXPECT_EQ(WidePath(L"Cams", L"f"), Wide(commonRoot_ + "/First//f"));
    CiOS::ResetOEMName();
    EXPECT_EQ(Narrow(nullptr, "f"), commonRoot_ + "/Second/f");

    // A wide call fills the narrow cache as well.
    CiOS::ResetOEMName();
    WriteOemIni("[Config]\nOEMName=/Third/\n");
    EXPECT_EQ(WidePath(nullptr, L"f"), Wide(commonRoot_ + "/Third/f"));
    WriteOemIni("[Config]\nOEMName=/Fourth/\n");
    EXPECT_EQ(Narrow(nullptr, "f"), commonRoot_ + "/Third/f");
}

TEST_F(AppDataPaths, WideBuilderKeepsTheFirstSubfolderUntilReset) {
    EXPECT_EQ(WidePath(L"First", L"f"), Wide(commonRoot_ + "/Norvale Optics/First/f"));
    EXPECT_EQ(WidePath(L"Second", L"f"), Wide(commonRoot_ + "/Norvale Optics/First/f"));
    EXPECT_EQ(WidePath(nullptr, L"f"), Wide(commonRoot_ + "/Norvale Optics/f"));
    // The narrow builder appends its own argument.
    EXPECT_EQ(Narrow("Second", "f"), commonRoot_ + "/Norvale Optics/Second/f");
    CiOS::ResetOEMName();
    EXPECT_EQ(WidePath(L"Second", L"f"), Wide(commonRoot_ + "/Norvale Optics/Second/f"));

    // An OEMFolderName replaces every caller's subfolder in the wide forms.
    CiOS::ResetOEMName();
    WriteOemIni("[Config]\nOEMFolderName=Vendor\\Product\n");
    EXPECT_EQ(WidePath(L"Cams", L"f"), Wide(commonRoot_ + "/Norvale Optics/Vendor/Product/f"));
    EXPECT_EQ(WideOnce(L"Cams", L"f"), Wide(commonRoot_ + "/Norvale Optics/Vendor/Product/f"));
    EXPECT_EQ(NarrowOnce("Cams", "f"), commonRoot_ + "/Norvale Optics/Cams/f");
}

TEST_F(AppDataPaths, OnceFormsReadOemIniEveryTimeAndLeaveTheCachesAlone) {
    WriteOemIni("[Config]\nOEMName=/First/\n");
    EXPECT_EQ(Narrow(nullptr, "f"), commonRoot_ + "/First/f");
    WriteOemIni("[Config]\nOEMName=/Second/\n");
    EXPECT_EQ(NarrowOnce(nullptr, "f"), commonRoot_ + "/Second/f");
    EXPECT_EQ(WideOnce(nullptr, L"f"), Wide(commonRoot_ + "/Second/f"));
    EXPECT_EQ(Narrow(nullptr, "f"), commonRoot_ + "/First/f");

    CiOS::ResetOEMName();
    EXPECT_EQ(WideOnce(L"Sub", L"f"), Wide(commonRoot_ + "/Second/Sub/f"));
    WriteOemIni("[Config]\nOEMName=/Third/\n");
    EXPECT_EQ(WidePath(L"Other", L"f"), Wide(commonRoot_ + "/Third/Other/f"));
}

TEST_F(AppDataPaths, LongResultsAreCutInsideTheBuffer) {
    const std::string longName(400, 'n');
    char narrow[MAX_PATH + 40];
    std::memset(narrow, '#', sizeof narrow);
    CiOS::AppDataPath(narrow, "Cams", longName.c_str());
    EXPECT_EQ(std::strlen(narrow), MAX_PATH - 1u);
    EXPECT_EQ(std::string(narrow, 0, commonRoot_.size()), commonRoot_);
    for (std::size_t i = MAX_PATH; i < sizeof narrow; ++i) ASSERT_EQ(narrow[i], '#') << i;

    std::memset(narrow, '#', sizeof narrow);
    CiOS::AppDataPath(narrow, nullptr, ("/" + longName).c_str());
    EXPECT_EQ(std::strlen(narrow), MAX_PATH - 1u);
    for (std::size_t i = MAX_PATH; i < sizeof narrow; ++i) ASSERT_EQ(narrow[i], '#') << i;

    // Two-byte characters are never split.
    std::string accents;
    for (int i = 0; i < 200; ++i) accents += "\xC3\xA9";
    std::memset(narrow, '#', sizeof narrow);
    CiOS::AppDataPathOnce(narrow, nullptr, accents.c_str());
    const std::string prefix = commonRoot_ + "/Norvale Optics/";
    const std::size_t length = std::strlen(narrow);
    EXPECT_LE(length, MAX_PATH - 1u);
    EXPECT_GE(length, MAX_PATH - 2u);
    EXPECT_EQ((length - prefix.size()) % 2, 0u);
    for (std::size_t i = MAX_PATH; i < sizeof narrow; ++i) ASSERT_EQ(narrow[i], '#') << i;

    wchar_t wide[MAX_PATH + 40];
    std::wmemset(wide, L'#', MAX_PATH + 40);
    CiOS::AppDataPath(wide, L"Cams", Wide(longName).c_str());
    EXPECT_EQ(std::wcslen(wide), MAX_PATH - 1u);
    for (std::size_t i = MAX_PATH; i < MAX_PATH + 40; ++i) ASSERT_EQ(wide[i], L'#') << i;
    std::wmemset(wide, L'#', MAX_PATH + 40);
    CiOS::AppDataPathOnce(wide, L"Cams", Wide(longName).c_str());
    EXPECT_EQ(std::wcslen(wide), MAX_PATH - 1u);
    for (std::size_t i = MAX_PATH; i < MAX_PATH + 40; ++i) ASSERT_EQ(wide[i], L'#') << i;
}

TEST_F(AppDataPaths, OverlongOemNameIsCut) {
    WriteOemIni("[Config]\nOEMName=/" + std::string(500, 'o') + "/\n");
    char narrow[MAX_PATH + 8];
    std::memset(narrow, '#', sizeof narrow);
    CiOS::AppDataPath(narrow, "Cams", "f");
    EXPECT_EQ(std::strlen(narrow), MAX_PATH - 1u);
    for (std::size_t i = MAX_PATH; i < sizeof narrow; ++i) ASSERT_EQ(narrow[i], '#') << i;
}

TEST_F(AppDataPaths, DirectoryExistsOnlyForFolders) {
    MakeDirs(cwd_ + "/sub");
    WriteFile(cwd_ + "/file.txt", "x");
    EXPECT_TRUE(CiOS::DirectoryExists((cwd_ + "/sub").c_str()));
    EXPECT_TRUE(CiOS::DirectoryExists(L"sub"));
    EXPECT_TRUE(CiOS::DirectoryExists(".\\sub"));
    EXPECT_TRUE(CiOS::DirectoryExists(L".\\sub"));
    EXPECT_FALSE(CiOS::DirectoryExists("file.txt"));
    EXPECT_FALSE(CiOS::DirectoryExists(L"file.txt"));
    EXPECT_FALSE(CiOS::DirectoryExists("missing"));
    EXPECT_FALSE(CiOS::DirectoryExists(L""));
    EXPECT_FALSE(CiOS::DirectoryExists(static_cast<const char*>(nullptr)));
}

}  // namespace
