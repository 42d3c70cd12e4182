// Opening files: application-data files and the executable-folder fall-back.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <kiru/cios.h>
#include <string>
#include <unistd.h>

#include "platform/files.h"
#include "support/os_fixture.h"

namespace {

// The file's contents, or "(none)" when it did not open.
std::string Contents(std::FILE* file) {
    if (file == nullptr) return "(none)";
    std::string text;
    char chunk[64];
    std::size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, file)) > 0) text.append(chunk, n);
    std::fclose(file);
    return text;
}

// A file in the executable's folder for the life of a test.
class FileBesideExecutable {
public:
    explicit FileBesideExecutable(const std::string& contents) : name_("kiru-os-test-" + std::to_string(::getpid())) {
        char exe[4096];
        const DWORD n = GetModuleFileNameA(nullptr, exe, sizeof exe);
        const std::string full(exe, n < sizeof exe ? n : 0);
        path_ = full.substr(0, full.find_last_of("/\\") + 1) + name_;
        std::ofstream(path_, std::ios::binary) << contents;
    }
    ~FileBesideExecutable() { std::remove(path_.c_str()); }
    const std::string& Name() const { return name_; }

private:
    std::string name_;
    std::string path_;
};

using OpeningFiles = OsSandbox;

TEST_F(OpeningFiles, FopenBinLooksInTheCurrentThenTheExecutablesFolder) {
    FileBesideExecutable beside("beside");
    const std::wstring name = Wide(beside.Name());
    EXPECT_EQ(Contents(CiOS::fopenBin((L".\\" + name).c_str(), L"rb")), "beside");
    EXPECT_EQ(Contents(CiOS::fopenBin(name.c_str(), L"rb")), "beside");
    EXPECT_EQ(Contents(CiOS::szFopenBin((".\\" + beside.Name()).c_str(), L"rb")), "beside");
    // Absolute names are not relocated; folders do not open as files.
    for (const std::wstring& missing : {L"/" + name, L"\\" + name, std::wstring(L"missing-everywhere.txt"), Wide(cwd_)})
        EXPECT_EQ(CiOS::fopenBin(missing.c_str(), L"rb"), nullptr);
    EXPECT_EQ(CiOS::fopenBin(nullptr, L"rb"), nullptr);
    EXPECT_EQ(CiOS::szFopenBin(nullptr, L"rb"), nullptr);

    WriteFile(cwd_ + "/" + beside.Name(), "current");
    EXPECT_EQ(Contents(CiOS::fopenBin((L".\\" + name).c_str(), L"rb")), "current");
    // Writing goes where the mode says.
    std::FILE* file = CiOS::fopenBin(L"./new.txt", L"w");
    ASSERT_NE(file, nullptr);
    std::fputs("written", file);
    std::fclose(file);
    EXPECT_EQ(Contents(CiOS::fopenBin(L"new.txt", L"r")), "written");
}

TEST_F(OpeningFiles, AppDataFopenOpensTheBuiltPathOrTheBareFileName) {
    MakeDirs(localRoot_ + "/Norvale Optics/Cams");
    WriteFile(localRoot_ + "/Norvale Optics/Cams/cfg.txt", "app data");
    WriteFile(cwd_ + "/only-here.txt", "current directory");
    FileBesideExecutable beside("beside");
    const struct {
        std::wstring file;
        const char* contents;
        std::string path;
    } cases[] = {{L"cfg.txt", "app data", kiru_test::NativePath(localRoot_ + "/Norvale Optics/Cams/cfg.txt")},
                 {L"only-here.txt", "current directory", "only-here.txt"},
                 {Wide(".\\" + beside.Name()), "beside", ".\\" + beside.Name()},
                 {L"nowhere.txt", "(none)", "nowhere.txt"}};
    for (const auto& c : cases) {
        wchar_t path[MAX_PATH];
        EXPECT_EQ(Contents(CiOS::AppDataFopen(path, L"Cams", c.file.c_str(), L"r")), c.contents);
        EXPECT_EQ(std::wstring(path), Wide(c.path));
    }
    EXPECT_EQ(Contents(CiOS::AppDataFopen(nullptr, L"Cams", L"cfg.txt", L"r")), "app data");
}

}  // namespace
