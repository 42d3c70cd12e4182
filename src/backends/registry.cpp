// The back-end table and the library's exported entry points: back-end
// selection by keyword and by capture-module enumeration, with the emulator
// as the fall-back, and the emulator behind image interjection.
#include "backends/registry.h"

#include <kiru/cigrab_emu.h>
#include <kiru/cigrab_gev.h>
#include <kiru/cigrab_lx2.h>
#include <kiru/cigrab_qb2.h>
#include <kiru/entry.h>

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "capture/module.h"
#include "capture/orx.h"
#include "capture/qmtmods.h"
#include "grab/interjection_source.h"

namespace kiru::backends {
namespace {

IXGrab* NewGev() { return new (std::nothrow) CIGrabGev(); }
IXGrab* NewLx2() { return new (std::nothrow) CIGrabLX2(); }
IXGrab* NewQb2() { return new (std::nothrow) CIGrabQB2(); }

// A GigE object counts one camera before Initialize has looked for any, so
// the capture library is asked too: at least one "GEV" module must open.
bool GevHasCameras(IXGrab* grab, std::string* why) {
    if (grab->GetNumCameras() == 0) {
        *why = "no camera answered";
        return false;
    }
    for (ULONG index = 0; index < static_cast<ULONG>(CIGrabGev::kMaxCameras); ++index) {
        if (CICapMod* module = OrxCreateCaptureModule("GEV", index, nullptr)) {
            delete module;
            return true;
        }
    }
    *why = "no \"GEV\" module answered";
    return false;
}

// The board back-ends answer whenever their module was enumerated (or the
// keyword asked for them); a board that then fails to open says so in
// Initialize. A back-end without a create function counts as hardware that
// does not answer.
std::vector<Backend> BuiltInTable() {
    return {
        {IGRAB_LX2, "LX2", {"LUXOR2"}, {"LXP", "HVQ"}, &NewLx2, nullptr},
        {IGRAB_GEV, "GigE", {"MARLO"}, {}, &NewGev, &GevHasCameras},
        {IGRAB_QB2, "QB2", {}, {"QBM"}, &NewQb2, nullptr},
    };
}

std::vector<Backend>& CurrentTable() {
    static std::vector<Backend> table = BuiltInTable();
    return table;
}

}  // namespace

const std::vector<Backend>& Table() { return CurrentTable(); }

ScopedTable::ScopedTable(std::vector<Backend> table) : previous_(std::move(table)) {
    CurrentTable().swap(previous_);
}

ScopedTable::~ScopedTable() { CurrentTable().swap(previous_); }

}  // namespace kiru::backends

namespace {

using kiru::backends::Backend;

std::atomic<int (*)(void*, char*)> g_factoryCatcher{nullptr};
std::atomic<void*> g_factoryCatcherContext{nullptr};

// One line of the factory's account to the factory's debug catcher.
void Tell(const char* format, ...) {
    auto catcher = g_factoryCatcher.load();
    if (catcher == nullptr) return;
    char text[512];
    const int prefix = std::snprintf(text, sizeof text, "KiruGrabInstantiate: ");
    va_list args;
    va_start(args, format);
    std::vsnprintf(text + prefix, sizeof text - std::size_t(prefix), format, args);
    va_end(args);
    catcher(g_factoryCatcherContext.load(), text);
}

bool Contains(const char* keyword, const char* word) { return std::strstr(keyword, word) != nullptr; }

bool ContainsAny(const char* keyword, std::initializer_list<const char*> words) {
    for (const char* word : words)
        if (Contains(keyword, word)) return true;
    return false;
}

// The caller sees an empty keyword afterwards; it must hold at least 8 bytes.
void ClearKeyword(char* keyword) { std::memset(keyword, 0, 8); }

IXGrab* NewEmulator() { return new (std::nothrow) CIGrabEmu(IGEMU_FILE_STORE(0)); }

// Builds a back-end and keeps it only when it has hardware behind it.
IXGrab* TryBackend(const Backend& backend) {
    if (backend.create == nullptr) {
        Tell("%s skipped: not in this library", backend.name);
        return nullptr;
    }
    IXGrab* grab = backend.create();
    if (grab == nullptr) {
        Tell("%s skipped: could not be allocated", backend.name);
        return nullptr;
    }
    std::string why;
    if (backend.answers != nullptr && !backend.answers(grab, &why)) {
        Tell("%s skipped: %s", backend.name, why.c_str());
        delete grab;
        return nullptr;
    }
    Tell("%s chosen (grab type %d)", backend.name, static_cast<int>(backend.type));
    return grab;
}

// Reached only for keywords holding "MARLO". The first entry one of whose
// words the keyword holds decides, whether or not it answers.
IXGrab* SelectByKeyword(const char* keyword) {
    for (const Backend& backend : kiru::backends::Table()) {
        for (const std::string& word : backend.keywords) {
            if (!Contains(keyword, word.c_str())) continue;
            Tell("\"%s\" asks for %s", word.c_str(), backend.name);
            return TryBackend(backend);
        }
    }
    return nullptr;
}

const Backend* BackendForModule(const char* name) {
    for (const Backend& backend : kiru::backends::Table())
        for (const std::string& module : backend.modules)
            // The three letters and the terminating NUL: an exact match.
            if (module.size() == 3 && std::memcmp(name, module.c_str(), 4) == 0) return &backend;
    return nullptr;
}

// The first enumerated module with a back-end of ours decides.
IXGrab* SelectByModules() {
    std::unique_ptr<CQMTMods> modules(new (std::nothrow) CQMTMods());
    if (!modules) return nullptr;
    IXGrab* grab = nullptr;
    int seen = 0;
    for (_QMT_PARENT_MOD* mod = modules->GetFirst(); mod != nullptr && grab == nullptr; mod = modules->GetNext()) {
        ++seen;
        const Backend* backend = BackendForModule(mod->Name);
        if (backend == nullptr) {
            Tell("module \"%.4s\" skipped: no back-end drives it", mod->Name);
            continue;
        }
        Tell("module \"%.4s\" asks for %s", mod->Name, backend->name);
        grab = TryBackend(*backend);
    }
    if (seen == 0) Tell("no capture module answered");
    return grab;
}

}  // namespace

void kiru::SetFactoryDbgCatcher(int (*catcher)(void*, char*), void* context) {
    g_factoryCatcherContext.store(context);
    g_factoryCatcher.store(catcher);
}

extern "C" KIRU_API IXGrab* KiruGrabInstantiate(char* keyword) {
    if (keyword == nullptr) return NewEmulator();
    Tell("keyword \"%.64s\"", keyword);
    IXGrab* grab = nullptr;
    if (keyword[0] == '\0') {
        grab = SelectByModules();
    } else if (ContainsAny(keyword, {"QB1", "QB2E", "ELK", "TALON"})) {
        Tell("the keyword names a back-end that only tags the common layer");
        ClearKeyword(keyword);
    } else if (ContainsAny(keyword, {"EMULATOR", "1394", "TORRIN"})) {
        Tell("the keyword asks for the emulator");
        grab = NewEmulator();
        ClearKeyword(keyword);
    } else {
        grab = Contains(keyword, "MARLO") ? SelectByKeyword(keyword) : SelectByModules();
        ClearKeyword(keyword);
    }
    if (grab != nullptr) return grab;
    Tell("no back-end answered: the emulator");
    return NewEmulator();
}

extern "C" KIRU_API int KiruGrabDelete(IXGrab* grab) {
    if (grab == nullptr) return 0;
    const int result = grab->Terminate();
    delete grab;
    return result;
}

// ---- The emulator behind image interjection ------------------------------

namespace {

CIGrabEmu* AsEmulator(IXGrab* grab) { return static_cast<CIGrabEmu*>(grab); }

const kiru::grab::InterjectionSource kInterjectionEmulator = {
    [](void) -> IXGrab* { return new (std::nothrow) CIGrabEmu(IGEMU_FILE_STORE_FILES); },
    [](IXGrab* grab) { return AsEmulator(grab)->UsesSimplifiedGrab(); },
    [](IXGrab* grab) { return AsEmulator(grab)->GrabSimplified(0); },
    [](IXGrab* grab, IFW_EMULATOR_IMAGETYPE type, int set, int index) {
        return AsEmulator(grab)->GetLoadedImagePtr(type, set, index);
    },
    [](IXGrab* grab, IFW_EMULATOR_IMAGETYPE type) { return AsEmulator(grab)->GetImageTypeCount(type); },
};

}  // namespace

const kiru::grab::InterjectionSource& kiru::grab::InterjectionEmulator() { return kInterjectionEmulator; }
