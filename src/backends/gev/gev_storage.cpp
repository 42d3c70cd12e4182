// CIGrabGev: camera settings in the client's storage. The common layer's
// line keys come first; then each camera has its group of "Cam%d." keys.
// Loading applies every value through the object's own setters, with the
// camera as the client active camera, exactly as a client would; a key that
// cannot be read leaves its setting alone. Saving stops at the first write
// the storage refuses, and neither operation reports a failure.
#include <kiru/cigrab_gev.h>
#include <kiru/xistorage.h>

#include <cstdio>

namespace {

constexpr ULONG kParamUseStdLineTrig = 17;
constexpr ULONG kParamGainRed = 77;
constexpr ULONG kParamGainGreen = 78;
constexpr ULONG kParamGainBlue = 79;
constexpr ULONG kParamLineTrigEnabled = 16405;
constexpr ULONG kParamLineTrigPolarity = 16406;
constexpr ULONG kLineTrigEnabledDefault = 6;
constexpr ULONG kLineTrigPolarityDefault = 1;
constexpr ULONG kUseStdLineTrigDefault = 1;

// "Cam<camera>.<name>"
struct CamKey {
    CamKey(int camera, const char* name) { std::snprintf(text, sizeof text, "Cam%d.%s", camera, name); }
    operator const char*() const { return text; }
    char text[48];
};

}  // namespace

// ---- Loading --------------------------------------------------------------------

void CIGrabGev::LoadCameraKeys(XiStorage* store, int c) {
    CameraSettings& cam = m_cam[c];
    ULONG u = 0;
    double d = 0.0;

    if (store->GetULong(CamKey(c, "Exposure"), &u, static_cast<ULONG>(m_exposure)) == 0) {
        cam.exposure = u;
        SetExposure(u, -1);
    }
    if (store->GetDouble(CamKey(c, "ExposureFloat"), &d, m_exposure) == 0 && d > 0.0) {
        cam.exposure = d;
        SetExposure(d, -1);
    }
    if (store->GetULong(CamKey(c, "Brightness"), &u, m_brightness) == 0) SetBrightness(u);
    if (store->GetULong(CamKey(c, "Contrast"), &u, m_contrast) == 0) SetContrast(u);
    if (store->GetULong(CamKey(c, "StrobeOffset"), &u, m_strobeOffset) == 0) SetStrobeOffset(u);
    if (store->GetULong(CamKey(c, "StrobeDuration"), &u, m_strobeDuration) == 0) SetStrobeDuration(u);
    if (store->GetULong(CamKey(c, "StrobeEnable"), &u, static_cast<ULONG>(m_strobeEnabled)) == 0)
        SetStrobeEnable(static_cast<int>(u));
    // In synchronous mode every camera follows camera 0's trigger method.
    if ((c == 0 || m_asyncMode) &&
        store->GetULong(CamKey(c, "TrigMethod"), &u, static_cast<ULONG>(m_triggerMethod)) == 0 &&
        static_cast<ULONG>(cam.triggerMethod) != u) {
        cam.triggerMethod = static_cast<TriggerMethod>(u);
        SetTriggerMethod(static_cast<TriggerMethod>(u));
    }
    if (store->GetULong(CamKey(c, "FrameDelay"), &u, m_frameDelay) == 0 && cam.frameDelay != u) {
        cam.frameDelay = u;
        SetFrameDelay(u);
    }
    // A trigger delay of 0 means the delay is off.
    if (store->GetULong(CamKey(c, "TrigDelay"), &u, 0) == 0 && cam.triggerDelay != u) {
        cam.triggerDelay = u;
        cam.triggerDelayEnable = u >= 1 ? 1 : 0;
        SetExternalTriggerDelay(u);
    }
    const struct {
        const char* name;
        ULONG param;
    } gains[] = {{"GainBlue", kParamGainBlue}, {"GainGreen", kParamGainGreen}, {"GainRed", kParamGainRed}};
    for (const auto& gain : gains) {
        if (store->GetDouble(CamKey(c, gain.name), &d, ReadCamParam(c, gain.param)) == 0)
            SetStoredCamParam(c, gain.param, d, 0);
    }
    if (store->GetULong(CamKey(c, "TrigScaler"), &u, static_cast<ULONG>(GetTrigScaler(c))) == 0)
        SetTrigScaler(static_cast<int>(u), c);
    if (m_lineScan != 0) {
        const struct {
            const char* name;
            ULONG param;
            ULONG fallback;
        } lineTrigger[] = {{"LineTrigEnabled", kParamLineTrigEnabled, kLineTrigEnabledDefault},
                           {"LineTrigPolarity", kParamLineTrigPolarity, kLineTrigPolarityDefault},
                           {"UseStdLineTrig", kParamUseStdLineTrig, kUseStdLineTrigDefault}};
        for (const auto& key : lineTrigger) {
            if (store->GetULong(CamKey(c, key.name), &u, key.fallback) == 0)
                SetStoredCamParam(c, key.param, static_cast<double>(u), 0);
        }
    }
}

int CIGrabGev::LoadStorage(XiStorage* store) {
    CIGrab::LoadStorage(store);
    if (store == nullptr) return 1;
    const int remembered = m_clientActiveCamera;
    // A tiled image is one camera's settings repeated over every tile.
    const int cameras = (m_horzTiles > 1 || m_vertTiles > 1) ? 1 : m_numCameras;
    for (int c = 0; c < cameras && c < kMaxCameras; ++c) {
        m_clientActiveCamera = c;
        LoadCameraKeys(store, c);
    }
    m_clientActiveCamera = remembered;
    return 1;
}

// ---- Saving ---------------------------------------------------------------------

bool CIGrabGev::SaveCameraKeys(XiStorage* store, int c) {
    const CameraSettings& cam = m_cam[c];
    auto u = [&](const char* name, ULONG value) { return store->SetULong(CamKey(c, name), value) == 0; };
    auto d = [&](const char* name, double value) { return store->SetDouble(CamKey(c, name), value) == 0; };

    if (!u("Exposure", static_cast<ULONG>(cam.exposure)) || !d("ExposureFloat", cam.exposure) ||
        !u("Brightness", cam.brightness) || !u("Contrast", cam.contrast) || !u("StrobeOffset", cam.strobeOffset) ||
        !u("StrobeDuration", cam.strobeDuration) || !u("StrobeEnable", static_cast<ULONG>(cam.strobeEnable)) ||
        !u("TrigMethod", static_cast<ULONG>(cam.triggerMethod)) || !u("FrameDelay", cam.frameDelay) ||
        !u("TrigDelay", cam.triggerDelayEnable ? cam.triggerDelay : 0))
        return false;
    // Gains only mean something to a colour camera.
    if (m_bayerCode != 0 &&
        (!d("GainBlue", ReadCamParam(c, kParamGainBlue)) || !d("GainGreen", ReadCamParam(c, kParamGainGreen)) ||
         !d("GainRed", ReadCamParam(c, kParamGainRed))))
        return false;
    if (m_lineScan != 0 &&
        (!u("LineTrigEnabled", static_cast<ULONG>(ReadCamParam(c, kParamLineTrigEnabled))) ||
         !u("LineTrigPolarity", static_cast<ULONG>(ReadCamParam(c, kParamLineTrigPolarity))) ||
         !u("UseStdLineTrig", static_cast<ULONG>(ReadCamParam(c, kParamUseStdLineTrig)))))
        return false;
    return u("TrigScaler", static_cast<ULONG>(GetTrigScaler(c)));
}

int CIGrabGev::SaveStorage(XiStorage* store) {
    CIGrab::SaveStorage(store);
    if (store == nullptr) return 1;
    for (int c = 0; c < m_numCameras && c < kMaxCameras; ++c)
        if (!SaveCameraKeys(store, c)) break;
    return 1;
}
