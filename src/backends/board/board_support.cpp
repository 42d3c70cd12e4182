// Shared pieces of the board back-ends: the board mutex probe, messages,
// opening a board module through its configuration file, and the QB2
// pulse-timer slots.
#include "backends/board/board_support.h"

#include <kiru/cios.h>

#include <cstdio>
#include <string>

#include "capture/camera.h"
#include "capture/orx.h"
#include "platform/clock.h"
#include "platform/kernel.h"
#include "platform/message_box.h"

namespace kiru::board {

bool BoardMutexExists(const char* name) {
    std::wstring wide;
    for (const char* p = name; *p != '\0'; ++p) wide.push_back(static_cast<wchar_t>(*p));
    HANDLE mutex = ::CreateMutexW(nullptr, FALSE, wide.c_str());
    const bool existed = ::GetLastError() == ERROR_ALREADY_EXISTS;
    // The library never keeps the board mutex: the probe only asks whether
    // someone else holds it open.
    if (mutex != nullptr) ::CloseHandle(mutex);
    return existed;
}

void ShowBoardMessage(CIGrab& grab, const char* caption, const char* text) {
    char line[512];
    std::snprintf(line, sizeof line, "%s: %s", caption, text);
    grab.DbgPrint(line);
    MessageBoxA(nullptr, text, caption, MB_OK);
}

CICapMod* OpenWithAppDataFile(const char* productName, const char* name, const char* file) {
    char path[MAX_PATH];
    CiOS::AppDataPath(path, productName, file);
    return OrxCreateCaptureModule(name, 0, path);
}

namespace {
constexpr ULONG kLutFlags = 2;
}  // namespace

void WriteLutFloor(CICamera* camera, UINT floor) {
    camera->LinearTable(0, kLutFlags);
    for (ULONG i = 0; i <= floor && i < 256; ++i) camera->WriteLutEntry(0, i, floor, kLutFlags);
}

void WriteLutCeiling(CICamera* camera, UINT ceiling) {
    camera->LinearTable(0, kLutFlags);
    if (ceiling > 255) return;
    for (ULONG i = 256; i-- > ceiling;) camera->WriteLutEntry(0, i, ceiling, kLutFlags);
}

void WriteInverseLut(CICamera* camera) {
    for (ULONG i = 0; i < 256; ++i) camera->WriteLutEntry(0, i, 255 - i, kLutFlags);
}

CQB2PulseTimer** ReclaimQb2Slot(CQB2PulseTimer* (&slots)[8], CICapMod* module) {
    const double now = kiru::platform::NowMs();
    for (CQB2PulseTimer*& slot : slots) {
        if (slot != nullptr && slot->Done() == 0) {
            if (slot->EndTime() >= now) continue;
            ULONG value = module->GetModuleParam(kQb2OutputRegister);
            value = slot->Level() == 0 ? (value | slot->Mask()) : (value & ~slot->Mask());
            module->SetModuleParam(kQb2OutputRegister, value);
        }
        delete slot;
        slot = nullptr;
        return &slot;
    }
    return nullptr;
}

}  // namespace kiru::board
