// The emulator's image store: which folder it reads, the per-camera play and
// calibration lists, the first file's size and the conform test.
#include <kiru/cigrab_emu.h>
#include <kiru/cios.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

#include "backends/emu/folder_scan.h"
#include "os/path_buffer.h"
#include "platform/bmp_file.h"
#include "platform/paths.h"

namespace {

constexpr int kMaxCameras = 8;
// The play list is the camera folder's own files, then pass, then fail.
constexpr const char* kPlayFolders[3] = {"", "pass/", "fail/"};
constexpr const char* kCalibFolder = "calib/";

using kiru::platform::kPathSeparator;

// Camera 0 reads the image folder itself, camera n the subfolder Cam<n+1>.
std::string CameraFolder(const std::string& base, int camera) {
    if (camera == 0) return base;
    return base + kPathSeparator + "Cam" + std::to_string(camera + 1);
}

// "<camera folder>/" or "<camera folder>/pass/", ready for a file name.
std::string FolderPrefix(const std::string& camera, const char* sub) {
    std::string prefix = camera + kPathSeparator + sub;
    if (!prefix.empty() && prefix.back() == '/') prefix.back() = kPathSeparator;
    return prefix;
}

// A folder that begins with a full stop is taken from the current directory
// at every count, so changing the directory changes the folder read.
std::string AbsoluteFolder(const char* folder) {
    std::string path = kiru::platform::ToNativePath(folder != nullptr ? folder : ".");
    if (path.empty() || path[0] != '.') return path;
    char cwd[4096];
    if (::getcwd(cwd, sizeof cwd) == nullptr) return path;
    // "./x" and "." drop their full stop; other names (".x", "../x") are
    // names inside the current directory.
    if (path.size() == 1) return cwd;
    if (path[1] == '/' || path[1] == '\\') return std::string(cwd) + kPathSeparator + path.substr(2);
    return std::string(cwd) + kPathSeparator + path;
}

char* CopyString(const std::string& text) {
    char* copy = static_cast<char*>(std::malloc(text.size() + 1));
    if (copy != nullptr) std::memcpy(copy, text.c_str(), text.size() + 1);
    return copy;
}

void FreeList(char**& list, int& count, int& index) {
    if (list != nullptr) {
        for (int i = 0; i < count; ++i) std::free(list[i]);
        std::free(list);
    }
    list = nullptr;
    count = 0;
    index = 0;
}

}  // namespace

UINT CIGrabEmu::CountImageFiles(char* folder) { return CountImageFilesSimplified(folder); }

UINT CIGrabEmu::CountImageFilesSimplified(char* folder) {
    ClearFileList();
    const std::string base = AbsoluteFolder(folder);

    // Counting pass: sizes each list once, and gives the number of playable
    // files before the conform test.
    int playCounts[kMaxCameras] = {};
    int calibCounts[kMaxCameras] = {};
    UINT total = 0;
    for (int n = 0; n < kMaxCameras && n < GetNumCameras(); ++n) {
        const std::string camera = CameraFolder(base, n);
        for (const char* sub : kPlayFolders) {
            playCounts[n] += static_cast<int>(kiru::emu::CountBitmapNames(FolderPrefix(camera, sub)));
        }
        calibCounts[n] = static_cast<int>(kiru::emu::CountBitmapNames(FolderPrefix(camera, kCalibFolder)));
        total += static_cast<UINT>(playCounts[n]);
    }

    // Listing pass: the files that pass the conform test, in folder order.
    bool firstFile = true;
    auto fill = [&](char** list, int capacity, int& count, const std::string& prefix, bool adoptSize) {
        if (count >= capacity) return;
        kiru::emu::ForEachBitmapName(prefix, [&](const char* name) {
            std::string path = prefix + name;
            if (adoptSize && firstFile) {
                // The first playable file gives the grab its size unless the
                // client chose a width; the grab is not re-created here.
                firstFile = false;
                BITMAPFILEHEADER fileHeader;
                BITMAPINFOHEADER info;
                if (!m_widthSetExplicitly && kiru::platform::ReadBmpHeaders(path.c_str(), fileHeader, info) &&
                    info.biWidth > 0 && info.biHeight != 0) {
                    m_width = (static_cast<ULONG>(info.biWidth) + 3) & ~ULONG(3);
                    m_height = kiru::platform::Magnitude(info.biHeight);
                }
            }
            if (ImageConform(&path[0])) {
                if (char* copy = CopyString(path)) list[count++] = copy;
            }
            return count < capacity;
        });
    };
    for (int n = 0; n < kMaxCameras; ++n) {
        const std::string camera = CameraFolder(base, n);
        if (playCounts[n] > 0) {
            m_playList[n] = static_cast<char**>(std::calloc(static_cast<std::size_t>(playCounts[n]), sizeof(char*)));
            if (m_playList[n] != nullptr) {
                for (const char* sub : kPlayFolders) {
                    fill(m_playList[n], playCounts[n], m_playCount[n], FolderPrefix(camera, sub), true);
                }
            }
        }
        if (calibCounts[n] > 0) {
            m_calibList[n] = static_cast<char**>(std::calloc(static_cast<std::size_t>(calibCounts[n]), sizeof(char*)));
            if (m_calibList[n] != nullptr) {
                fill(m_calibList[n], calibCounts[n], m_calibCount[n], FolderPrefix(camera, kCalibFolder), false);
            }
        }
    }

    m_simplifiedGrab = 1;
    return total;
}

void CIGrabEmu::ClearFileList() {
    for (int n = 0; n < kMaxCameras; ++n) {
        FreeList(m_playList[n], m_playCount[n], m_playIndex[n]);
        FreeList(m_calibList[n], m_calibCount[n], m_calibIndex[n]);
    }
}

int CIGrabEmu::ImageConform(char* path) {
    BITMAPFILEHEADER fileHeader;
    BITMAPINFOHEADER info;
    if (!kiru::platform::ReadBmpHeaders(path, fileHeader, info)) return 0;
    return ImageConform(&info);
}

// With the conform flag set every file is accepted; otherwise its size and
// depth must be the grab's (a 32-bit file also serves a 24-bit grab).
int CIGrabEmu::ImageConform(BITMAPINFOHEADER* header) {
    if (m_conformImageSource) return 1;
    const bool size = std::int64_t(header->biWidth) == std::int64_t(m_width) &&
                      std::int64_t(header->biHeight) == std::int64_t(m_height);
    const bool depth = header->biBitCount == m_bitsPerPixel || (header->biBitCount == 32 && m_bitsPerPixel == 24);
    return size && depth ? 1 : 0;
}

// Counts the image folder; when it holds no playable file, falls back to the
// path the client asked for last.
void CIGrabEmu::ResolveImageFolder(bool initializing) {
    const bool empty = CountImageFiles(m_imagePath) == 0 &&
                       (!initializing || GetImageTypeCount(IFW_EMU_IMAGE_ORDINARY) == 0);
    if (empty) {
        kiru::os::CopyCut(m_imagePath, m_requestedImagePath);
        CountImageFiles(m_imagePath);
    }
}

int CIGrabEmu::EmulateFromNewImagePath(char* path, ULONG width, ULONG height) {
    kiru::os::CopyCut(m_requestedImagePath, path);
    CiOS::AppDataPath(m_imagePath, m_productName, path);
    if (width == 0 || height == 0) return 0;
    Destroy();
    ResolveImageFolder(false);
    Create(0, 0, width, height, 0xFFFFFFFEu, 0xFFFFFFFEu, 0xFFFFFFFEu);
    return 1;
}

int CIGrabEmu::LoadImageFiles() { return 1; }

char* CIGrabEmu::GetImagePath() { return m_imagePath; }

char* CIGrabEmu::GetImageFileName(int, int, int) { return m_currentFileName; }

int CIGrabEmu::GetImageTypeCount(IFW_EMULATOR_IMAGETYPE) { return 0; }

unsigned char* CIGrabEmu::GetLoadedImagePtr(IFW_EMULATOR_IMAGETYPE, int, int) { return nullptr; }
