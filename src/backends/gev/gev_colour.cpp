// CIGrabGev colour: the image handed to the client for a ring slot (raw Bayer
// planes demosaiced, or 4-byte pixels cut to 3 bytes, into the colour output
// buffer) and the white balance that measures a rectangle of a frame and
// programs the cameras' red, green and blue gains.
#include <kiru/cigrab_gev.h>
#include <kiru/scoped_handles.h>

#include <cstring>

#include "capture/orv.h"
#include "platform/kernel.h"

namespace {

constexpr ULONG kParamTriggerMode = 9;
constexpr ULONG kParamTriggerSource = 10;
constexpr ULONG kParamSoftwareTrigger = 13;
constexpr ULONG kParamRedGain = 77;
constexpr ULONG kParamGreenGain = 78;
constexpr ULONG kParamBlueGain = 79;

constexpr int kBalanceAttempts = 8;
constexpr int kFrameWaitAttempts = 6;

}  // namespace

unsigned char* CIGrabGev::ConvertTo24(int camera, unsigned char* source) {
    if (m_bayerCode == 0 && !m_convertTo24) return source;
    if (source == nullptr || m_colourBuffer == nullptr) return source;

    int first = camera;
    int last = camera;
    if (camera == -1) {
        first = 0;
        last = (m_numCameras < kMaxCameras ? m_numCameras : kMaxCameras) - 1;
    } else if (camera < 0 || camera >= m_numCameras || camera >= kMaxCameras) {
        last = first - 1;  // nothing to convert
    }
    const std::size_t pixels = static_cast<std::size_t>(m_width) * m_height;

    if (m_bayerCode != 0) {
        const std::size_t frameBytes = pixels * m_bytesPerPixel;
        const ULONG flags = m_convertTo24 ? ORV_BAYER_OUT_BGR24 : ORV_BAYER_OUT_BGR32;
        const std::size_t written = pixels * (m_convertTo24 ? 3 : 4);
        // Cameras named as these take their gains in the conversion; the
        // others apply them in the camera, and get neutral ones here.
        const bool gainsInConversion = CameraNameContains(0, "Marlo") || CameraNameContains(0, "Wren");
        CMutexHold lock(m_grabLock, INFINITE);
        for (int c = first; c <= last; ++c) {
            const std::size_t offset = c * frameBytes;
            if (offset + written > m_colourBufferSize) break;
            float gains[3] = {1.0f, 1.0f, 1.0f};
            const float* gainsArg = nullptr;
            if (m_camera[c] != nullptr && m_camera[c]->IsParamSupported(kParamBlueGain)) {
                if (gainsInConversion) {
                    gains[0] = static_cast<float>(ReadCamParam(c, kParamRedGain));
                    gains[1] = static_cast<float>(ReadCamParam(c, kParamGreenGain));
                    gains[2] = static_cast<float>(ReadCamParam(c, kParamBlueGain));
                }
                gainsArg = gains;
            }
            OrxBayerFilterConvert(0, m_bayerCode, m_colourBuffer + offset, source + pixels * c, m_width, m_height,
                                  flags, gainsArg);
        }
        return m_colourBuffer;
    }

    // 4-byte colour pixels delivered as 3-byte pixels: blue, green, red kept.
    for (int c = first; c <= last; ++c) {
        if ((c + 1) * pixels * 3 > m_colourBufferSize) break;
        const unsigned char* from = source + c * pixels * 4;
        unsigned char* to = m_colourBuffer + c * pixels * 3;
        for (std::size_t i = 0; i < pixels; ++i, from += 4, to += 3) {
            to[0] = from[0];
            to[1] = from[1];
            to[2] = from[2];
        }
    }
    return m_colourBuffer;
}

int CIGrabGev::ComputeWhiteBalance(int camera, IFW_RECT* rect) {
    if (camera < 0 || camera >= m_numCameras || camera >= kMaxCameras) return 0;
    ORV_CAM_ATTR attr{};
    {
        CMutexHold lock(m_grabLock, INFINITE);
        CICamera* cam = m_camera[camera];
        if (cam == nullptr) return 0;
        cam->GetAttr(&attr, 1);
        if (!cam->IsParamSupported(kParamBlueGain)) return 1;
    }
    if (attr.ColorFormat != ORV_COLOR_BGR32 && attr.ColorFormat != ORV_COLOR_BGR24 && m_bayerCode == 0) return 1;
    // The rectangle must lie inside the camera's image.
    if (rect == nullptr || rect->width == 0 || rect->height == 0 || rect->x >= attr.Width || rect->y >= attr.Height ||
        rect->width > attr.Width - rect->x || rect->height > attr.Height - rect->y)
        return 0;

    const double limit = rect->width * 0.97 * rect->height * 255.0;

    const unsigned char* image = nullptr;
    std::size_t step = m_bytesPerPixel;
    if (m_bayerCode != 0) {
        // Measure with neutral gains where the conversion applies them.
        if (CameraNameContains(0, "Marlo") || CameraNameContains(0, "Wren")) {
            SetStoredCamParam(camera, kParamBlueGain, 1.0, 0);
            SetStoredCamParam(camera, kParamGreenGain, 1.0, 0);
            SetStoredCamParam(camera, kParamRedGain, 1.0, 0);
        }
        unsigned char* slot = static_cast<unsigned char*>(GetFramePtr(0));
        if (slot == nullptr) return 0;
        const std::size_t frameBytes = static_cast<std::size_t>(m_bytesPerPixel) * m_width * m_height;
        image = ConvertTo24(camera, slot) + camera * frameBytes;
    } else {
        image = static_cast<const unsigned char*>(GetFramePtr(camera));
        if (image == nullptr) return 0;
        if (attr.BytesPerPixel == 4) step = 4;
    }
    if (step < 3) return 1;  // no colour pixels to measure

    const unsigned char* row = image + (static_cast<std::size_t>(rect->y) * attr.Width + rect->x) * step;
    const std::size_t stride = static_cast<std::size_t>(attr.Width) * step;
    ULONG sumB = 0, sumG = 0, sumR = 0;
    for (ULONG y = 0; y < rect->height; ++y, row += stride) {
        const unsigned char* pixel = row;
        for (ULONG x = 0; x < rect->width; ++x, pixel += step) {
            sumB += pixel[0];
            sumG += pixel[1];
            sumR += pixel[2];
        }
    }
    if (sumB > limit || sumG > limit || sumR > limit) return 0;

    // Channel levels as the sensor sees them, before the current gains.
    const double b = sumB / Decibel2Gain(ReadCamParam(camera, kParamBlueGain));
    const double g = sumG / Decibel2Gain(ReadCamParam(camera, kParamGreenGain));
    const double r = sumR / Decibel2Gain(ReadCamParam(camera, kParamRedGain));
    // A channel with no light cannot be balanced against the others.
    if (!(b > 0.0) || !(g > 0.0) || !(r > 0.0)) return 1;
    double m = b;
    if (g > m) m = g;
    if (r > m) m = r;

    const double blue = Count2Gain(kParamBlueGain, m, b);
    const double green = Count2Gain(kParamGreenGain, m, g);
    const double red = Count2Gain(kParamRedGain, m, r);
    SetStoredCamParam(camera, kParamBlueGain, Gain2Decibel(blue), 0);
    SetStoredCamParam(camera, kParamGreenGain, Gain2Decibel(green), 0);
    SetStoredCamParam(camera, kParamRedGain, Gain2Decibel(red), 0);
    return 1;
}

int CIGrabGev::SetWhiteBalance(int camera, IFW_RECT* rect) {
    if (camera < 0 || camera >= m_numCameras || camera >= kMaxCameras) return 0;
    {
        CMutexHold lock(m_grabLock, INFINITE);
        if (m_camera[camera] == nullptr) return 0;
    }
    const double exposure = GetExposure();
    double lowered = exposure;
    int result = 0;
    for (int attempt = 0; attempt < kBalanceAttempts; ++attempt) {
        result = ComputeWhiteBalance(camera, rect);
        if (result != 0) break;
        // Too bright (or no frame yet): a shorter exposure, then a fresh frame.
        const void* before = GetFramePtr(camera);
        lowered = static_cast<double>(static_cast<long long>(lowered * 0.7));
        SetExposure(lowered, -1);
        Sleep(60);
        for (int wait = 0; wait < kFrameWaitAttempts && GetFramePtr(camera) == before; ++wait) {
            {
                CMutexHold lock(m_grabLock, INFINITE);
                if (CICamera* cam = m_camera[camera]) {
                    cam->SetAcqParam(kParamTriggerMode, 1.0, 0);
                    cam->SetAcqParam(kParamTriggerSource, 0.0, 0);
                    cam->SetAcqParam(kParamSoftwareTrigger, 0.0, 0);
                }
            }
            Sleep(20);
        }
    }

    const int wasRunning = m_running;
    if (wasRunning) Stop();
    SetTriggerSource(-1);
    SetExposure(exposure, -1);
    // The camera keeps the new gains as its user set 1 and settles before it
    // grabs again.
    {
        CMutexHold lock(m_grabLock, INFINITE);
        if (m_camModule[camera] != nullptr) m_camModule[camera]->SaveUserSet("1", 0);
    }
    Sleep(2500);
    {
        CMutexHold lock(m_grabLock, INFINITE);
        if (m_camera[camera] != nullptr) m_camera[camera]->GrabStop(nullptr);
    }
    Sleep(1400);
    if (wasRunning) Start();
    return result;
}
