// The library's exported entry points: back-end selection by keyword and by
// capture-module enumeration, with the emulator as the fall-back.
#include <kiru/cigrab_emu.h>
#include <kiru/entry.h>

#include <cstring>
#include <memory>
#include <new>

#include "capture/qmtmods.h"
#include "grab/backend_registry.h"

namespace {

bool Contains(const char* keyword, const char* word) { return std::strstr(keyword, word) != nullptr; }

// The caller sees an empty keyword afterwards; it must hold at least 8 bytes.
void ClearKeyword(char* keyword) { std::memset(keyword, 0, 8); }

IXGrab* NewEmulator() { return new (std::nothrow) CIGrabEmu(IGEMU_FILE_STORE(0)); }

// Reached only for keywords holding "MARLO".
IXGrab* SelectByKeyword(const char* keyword) {
    if (Contains(keyword, "LUXOR2")) return kiru::backends::CreateLX2();
    if (Contains(keyword, "MARLO")) {
        IXGrab* gev = kiru::backends::CreateGev();
        if (gev != nullptr && gev->GetNumCameras() == 0) {
            delete gev;
            gev = nullptr;
        }
        return gev;
    }
    return nullptr;
}

// The first enumerated module with a back-end of ours decides.
IXGrab* SelectByModules() {
    std::unique_ptr<CQMTMods> modules(new (std::nothrow) CQMTMods());
    if (!modules) return nullptr;
    IXGrab* grab = nullptr;
    for (_QMT_PARENT_MOD* mod = modules->GetFirst(); mod != nullptr && grab == nullptr; mod = modules->GetNext()) {
        // Four bytes: the three letters and the terminating NUL, an exact match.
        if (std::memcmp(mod->Name, "QBM", 4) == 0) grab = kiru::backends::CreateQB2();
        else if (std::memcmp(mod->Name, "LXP", 4) == 0 || std::memcmp(mod->Name, "HVQ", 4) == 0)
            grab = kiru::backends::CreateLX2();
    }
    return grab;
}

}  // namespace

extern "C" KIRU_API IXGrab* KiruGrabInstantiate(char* keyword) {
    if (keyword == nullptr) return NewEmulator();
    IXGrab* grab = nullptr;
    if (keyword[0] == '\0') {
        grab = SelectByModules();
    } else if (Contains(keyword, "QB1") || Contains(keyword, "QB2E") || Contains(keyword, "ELK") ||
               Contains(keyword, "TALON")) {
        ClearKeyword(keyword);
    } else if (Contains(keyword, "EMULATOR") || Contains(keyword, "1394") || Contains(keyword, "TORRIN")) {
        grab = NewEmulator();
        ClearKeyword(keyword);
    } else {
        grab = Contains(keyword, "MARLO") ? SelectByKeyword(keyword) : SelectByModules();
        ClearKeyword(keyword);
    }
    return grab != nullptr ? grab : NewEmulator();
}

extern "C" KIRU_API int KiruGrabDelete(IXGrab* grab) {
    if (grab == nullptr) return 0;
    const int result = grab->Terminate();
    delete grab;
    return result;
}
