// Opening files: application-data files and the executable-folder fall-back.
#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <kiru/cios.h>
#include <string>
#include <unistd.h>

#include "support/os_fixture.h"

namespace {

std::string ReadAll(std::FILE* file) {
    std::string text;
    char chunk[64];
    std::size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, file)) > 0) text.append(chunk, n);
    std::fclose(file);
    return text;
}

std::string ExecutableFolder() {
    char path[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) return std::string();
    const std::string full(path, static_cast<std::size_t>(n));
    return full.substr(0, full.rfind('/'));
}

// A file in the executable's folder for the life of a test.
class FileBesideExecutable {
public:
    explicit FileBesideExecutable(const std::string& contents)
        : name_("kiru-os-test-" + std::to_string(::getpid()) + ".txt"), path_(ExecutableFolder() + "/" + name_) {
        WriteBytes(path_, contents);
    }
    ~FileBesideExecutable() { std::remove(path_.c_str()); }
    const std::string& Name() const { return name_; }
    const std::string& Path() const { return path_; }

private:
    static void WriteBytes(const std::string& path, const std::string& contents) {
        std::FILE* file = std::fopen(path.c_str(), "wb");
        if (file == nullptr) return;
        std::fwrite(contents.data(), 1, contents.size(), file);
        std::fclose(file);
    }
    std::string name_;
    std::string path_;
};

using OpeningFiles = OsSandbox;

TEST_F(OpeningFiles, FopenBinFallsBackToTheExecutablesFolder) {
    FileBesideExecutable beside("from the executable's folder");
    const std::wstring name = Wide(beside.Name());

    std::FILE* file = CiOS::fopenBin((L".\\" + name).c_str(), L"rb");
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(ReadAll(file), "from the executable's folder");
    file = CiOS::fopenBin(name.c_str(), L"rb");
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(ReadAll(file), "from the executable's folder");
    file = CiOS::szFopenBin((".\\" + beside.Name()).c_str(), L"rb");
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(ReadAll(file), "from the executable's folder");

    // The current directory comes first.
    WriteFile(cwd_ + "/" + beside.Name(), "from the current directory");
    file = CiOS::fopenBin((L".\\" + name).c_str(), L"rb");
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(ReadAll(file), "from the current directory");
}

TEST_F(OpeningFiles, FopenBinDoesNotRelocateAbsoluteNames) {
    FileBesideExecutable beside("x");
    EXPECT_EQ(CiOS::fopenBin(Wide("/" + beside.Name()).c_str(), L"rb"), nullptr);
    EXPECT_EQ(CiOS::fopenBin(Wide("\\" + beside.Name()).c_str(), L"rb"), nullptr);
    EXPECT_EQ(CiOS::fopenBin(L"missing-everywhere.txt", L"rb"), nullptr);
    EXPECT_EQ(CiOS::fopenBin(nullptr, L"rb"), nullptr);
    EXPECT_EQ(CiOS::szFopenBin(nullptr, L"rb"), nullptr);
    // A folder does not open as a file.
    EXPECT_EQ(CiOS::fopenBin(Wide(cwd_).c_str(), L"rb"), nullptr);
}

TEST_F(OpeningFiles, FopenBinWritesWhereTheModeSays) {
    std::FILE* file = CiOS::fopenBin(L"./new.txt", L"w");
    ASSERT_NE(file, nullptr);
    std::fputs("written", file);
    std::fclose(file);
    file = CiOS::fopenBin(L"new.txt", L"r");
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(ReadAll(file), "written");
}

TEST_F(OpeningFiles, AppDataFopenOpensTheBuiltPath) {
    MakeDirs(localRoot_ + "/Norvale Optics/Cams");
    WriteFile(localRoot_ + "/Norvale Optics/Cams/cfg.txt", "app data");
    wchar_t path[MAX_PATH];
    std::FILE* file = CiOS::AppDataFopen(path, L"Cams", L"cfg.txt", L"r");
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(ReadAll(file), "app data");
    EXPECT_EQ(std::wstring(path), Wide(localRoot_ + "/Norvale Optics/Cams/cfg.txt"));
    file = CiOS::AppDataFopen(nullptr, L"Cams", L"cfg.txt", L"r");
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(ReadAll(file), "app data");
}

TEST_F(OpeningFiles, AppDataFopenFallsBackToTheBareFileName) {
    WriteFile(cwd_ + "/only-here.txt", "current directory");
    wchar_t path[MAX_PATH];
    std::FILE* file = CiOS::AppDataFopen(path, L"Cams", L"only-here.txt", L"r");
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(ReadAll(file), "current directory");
    EXPECT_EQ(std::wstring(path), L"only-here.txt");

    FileBesideExecutable beside("beside");
    file = CiOS::AppDataFopen(path, L"Cams", Wide(".\\" + beside.Name()).c_str(), L"r");
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(ReadAll(file), "beside");

    EXPECT_EQ(CiOS::AppDataFopen(path, L"Cams", L"nowhere.txt", L"r"), nullptr);
    EXPECT_EQ(std::wstring(path), L"nowhere.txt");
}

}  // namespace
