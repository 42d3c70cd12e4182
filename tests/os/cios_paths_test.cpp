// Application-data paths: folder choice, oem.ini names and their caches,
// file-name forms and the 260-character limit.
#include <gtest/gtest.h>

#include <kiru/cios.h>
#include <string>

#include "support/os_fixture.h"

namespace {

std::string N(const std::string& path) { return kiru_test::NativePath(path); }

// What a path builder wrote into its buffer, wide characters narrowed.
template <class Char, class Build>
std::string Built(Build build) {
    Char buffer[MAX_PATH];
    EXPECT_EQ(build(buffer), buffer);
    return std::string(buffer, buffer + std::char_traits<Char>::length(buffer));
}

class AppDataPaths : public OsSandbox {
protected:
    // AppDataPath, or with once AppDataPathOnce, in the narrow or the wide form.
    static std::string Path(const char* sub, const char* file, bool once = false) {
        return Built<char>(
            [&](char* b) { return once ? CiOS::AppDataPathOnce(b, sub, file) : CiOS::AppDataPath(b, sub, file); });
    }
    static std::string Path(const wchar_t* sub, const wchar_t* file, bool once = false) {
        return Built<wchar_t>(
            [&](wchar_t* b) { return once ? CiOS::AppDataPathOnce(b, sub, file) : CiOS::AppDataPath(b, sub, file); });
    }
    // The four builders' answers for one request, each from empty name caches.
    // Expected paths are written with '/' and compared in the system's spelling
    // (native false: compared as written).
    void ExpectEveryForm(const char* sub, const char* file, const std::string& expected, bool native = true) {
        const std::wstring wideSub = sub ? Wide(sub) : L"", wideFile = file ? Wide(file) : L"";
        const wchar_t* ws = sub ? wideSub.c_str() : nullptr;
        const wchar_t* wf = file ? wideFile.c_str() : nullptr;
        const std::string forms[] = {(CiOS::ResetOEMName(), Path(sub, file)), (CiOS::ResetOEMName(), Path(ws, wf)),
                                     Path(sub, file, true), Path(ws, wf, true)};
        for (int i = 0; i < 4; ++i) EXPECT_EQ(forms[i], native ? N(expected) : expected) << "form " << i;
    }
};

TEST_F(AppDataPaths, FolderChoiceFileNameFormsAndTheMakerName) {
    const std::string L = localRoot_ + "/", C = commonRoot_ + "/";
    // Without any folder: the all-users folder, which is not created.
    ExpectEveryForm("Cams", "a.txt", C + "Norvale Optics/Cams/a.txt");
    EXPECT_FALSE(CiOS::DirectoryExists(commonRoot_.c_str()));
    EXPECT_FALSE(CiOS::DirectoryExists(localRoot_.c_str()));
    // The maker folder alone is not enough when the subfolder is missing.
    MakeDirs(L + "Norvale Optics/");
    ExpectEveryForm("Cams", "a.txt", C + "Norvale Optics/Cams/a.txt");
    ExpectEveryForm(nullptr, "a.txt", L + "Norvale Optics/a.txt");
    // A leading current-folder prefix is dropped (after the "one more" separator of an empty subfolder).
    ExpectEveryForm("", ".\\images", L + "Norvale Optics//images");
    ExpectEveryForm("", "./images", L + "Norvale Optics//images");
    ExpectEveryForm(nullptr, "a/./b", N(L + "Norvale Optics/") + "a/./b", false);  // the name as given
    // No file name: the folder.
    MakeDirs(L + "Norvale Optics/Cams");
    ExpectEveryForm("Cams", nullptr, L + "Norvale Optics/Cams/");
    ExpectEveryForm(nullptr, nullptr, L + "Norvale Optics/");
    // Absolute names come back unchanged.
    for (const char* name : {"/opt/station/cam.txt", "\\\\server\\share\\x.bmp", "C:\\data\\x.bmp", "d:rel.txt"})
        ExpectEveryForm("Cams", name, name, false);
    // The maker's folder from oem.ini, backslashes read as separators.
    WriteOemIni("; station settings\n[config]\n  oemname =  \\Example\\  \n");
    ExpectEveryForm(nullptr, "f", C + "Example/f");
}

TEST_F(AppDataPaths, CachedNamesStayUntilReset) {
    WriteOemIni("[Config]\nOEMName=\\First\\\n");
    EXPECT_EQ(Path(nullptr, "f"), N(commonRoot_ + "/First/f"));
    WriteOemIni("[Config]\nOEMName=\\Second\\\n");
    EXPECT_EQ(Path(nullptr, "f"), N(commonRoot_ + "/First/f"));
    // The once forms read oem.ini every time and leave the caches alone.
    EXPECT_EQ(Path(nullptr, "f", true), N(commonRoot_ + "/Second/f"));
    EXPECT_EQ(Path(nullptr, L"f", true), N(commonRoot_ + "/Second/f"));
    // The wide call reads nothing: both name caches were filled together.
    // The folder-name cache stays empty, being filled only by a wide call
    // that finds the name cache empty.
    EXPECT_EQ(Path(nullptr, L"f"), N(commonRoot_ + "/First/f"));
    EXPECT_EQ(Path(L"Cams", L"f"), N(commonRoot_ + "/First//f"));
    CiOS::ResetOEMName();
    EXPECT_EQ(Path(nullptr, "f"), N(commonRoot_ + "/Second/f"));

    // A wide call fills the narrow cache as well; a once call fills none.
    CiOS::ResetOEMName();
    EXPECT_EQ(Path(L"Sub", L"f", true), N(commonRoot_ + "/Second/Sub/f"));
    WriteOemIni("[Config]\nOEMName=\\Third\\\n");
    EXPECT_EQ(Path(nullptr, L"f"), N(commonRoot_ + "/Third/f"));
    WriteOemIni("[Config]\nOEMName=\\Fourth\\\n");
    EXPECT_EQ(Path(nullptr, "f"), N(commonRoot_ + "/Third/f"));
}

TEST_F(AppDataPaths, WideBuilderKeepsTheFirstSubfolderUntilReset) {
    EXPECT_EQ(Path(L"First", L"f"), N(commonRoot_ + "/Norvale Optics/First/f"));
    EXPECT_EQ(Path(L"Second", L"f"), N(commonRoot_ + "/Norvale Optics/First/f"));
    EXPECT_EQ(Path(nullptr, L"f"), N(commonRoot_ + "/Norvale Optics/f"));
    // The narrow builder appends its own argument.
    EXPECT_EQ(Path("Second", "f"), N(commonRoot_ + "/Norvale Optics/Second/f"));
    CiOS::ResetOEMName();
    EXPECT_EQ(Path(L"Second", L"f"), N(commonRoot_ + "/Norvale Optics/Second/f"));

    // An OEMFolderName replaces every caller's subfolder in the wide forms.
    CiOS::ResetOEMName();
    WriteOemIni("[Config]\nOEMFolderName=Vendor\\Product\n");
    EXPECT_EQ(Path(L"Cams", L"f"), N(commonRoot_ + "/Norvale Optics/Vendor/Product/f"));
    EXPECT_EQ(Path(L"Cams", L"f", true), N(commonRoot_ + "/Norvale Optics/Vendor/Product/f"));
    EXPECT_EQ(Path("Cams", "f", true), N(commonRoot_ + "/Norvale Optics/Cams/f"));
}

TEST_F(AppDataPaths, LongResultsAreCutInsideTheBuffer) {
    const std::string longName(400, 'n');
    const std::wstring wideLong = Wide(longName);
    EXPECT_EQ(FilledLength<char>([&](char* b) { CiOS::AppDataPath(b, "Cams", longName.c_str()); }), MAX_PATH - 1u);
    EXPECT_EQ(FilledLength<char>([&](char* b) { CiOS::AppDataPath(b, nullptr, ("/" + longName).c_str()); }),
              MAX_PATH - 1u);
    EXPECT_EQ(FilledLength<wchar_t>([&](wchar_t* b) { CiOS::AppDataPath(b, L"Cams", wideLong.c_str()); }),
              MAX_PATH - 1u);
    EXPECT_EQ(FilledLength<wchar_t>([&](wchar_t* b) { CiOS::AppDataPathOnce(b, L"Cams", wideLong.c_str()); }),
              MAX_PATH - 1u);
    // Two-byte characters are never split.
    std::string accents;
    for (int i = 0; i < 200; ++i) accents += "\xC3\xA9";
    const std::size_t length =
        FilledLength<char>([&](char* b) { CiOS::AppDataPathOnce(b, nullptr, accents.c_str()); });
    EXPECT_GE(length, MAX_PATH - 2u);
    EXPECT_EQ((length - N(commonRoot_ + "/Norvale Optics/").size()) % 2, 0u);
    // An overlong maker name is cut too.
    WriteOemIni("[Config]\nOEMName=\\" + std::string(500, 'o') + "\\\n");
    CiOS::ResetOEMName();
    EXPECT_EQ(FilledLength<char>([&](char* b) { CiOS::AppDataPath(b, "Cams", "f"); }), MAX_PATH - 1u);
}

TEST_F(AppDataPaths, DirectoryExistsOnlyForFolders) {
    MakeDirs(cwd_ + "/sub");
    WriteFile(cwd_ + "/file.txt", "x");
    for (const char* folder : {"sub", ".\\sub"}) {
        EXPECT_TRUE(CiOS::DirectoryExists(folder));
        EXPECT_TRUE(CiOS::DirectoryExists(Wide(folder).c_str()));
    }
    EXPECT_TRUE(CiOS::DirectoryExists((cwd_ + "/sub").c_str()));
    EXPECT_FALSE(CiOS::DirectoryExists("file.txt"));
    EXPECT_FALSE(CiOS::DirectoryExists(L"file.txt"));
    EXPECT_FALSE(CiOS::DirectoryExists("missing"));
    EXPECT_FALSE(CiOS::DirectoryExists(L""));
    EXPECT_FALSE(CiOS::DirectoryExists(static_cast<const char*>(nullptr)));
}

}  // namespace
