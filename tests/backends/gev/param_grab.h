// A GigE grab object on a simulated station for the parameter and colour
// tests. Bring-up opens the station's cameras and I/O modules through the
// capture library and fills the object's camera fields as Initialize does
// (names, geometry, exposure divider, Bayer code, colour buffer), so that the
// parameter operations run on a known state. Start and Stop only record their
// calls (with the trace length at that moment) and flip the running flag; the
// frame a colour operation measures comes from the test (SetFrame).
#pragma once

#include <kiru/kiru.h>
#include <kiru/station.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "capture/orv.h"

namespace kiru_test {

using TraceLines = std::vector<std::string>;

class ParamGrab : public CIGrabGev {
public:
    ~ParamGrab() override {
        for (CICapMod*& module : m_camModule) {
            delete module;
            module = nullptr;
        }
        for (CICamera*& camera : m_camera) camera = nullptr;
        m_primaryModule = nullptr;
        for (CICapMod** slot : {&m_gioModule, &m_trxModule, &m_rcsModule, &m_qbmModule, &m_usbModule[0],
                                &m_usbModule[1], &m_usbModule[2], &m_usbModule[3]}) {
            if (Opened(*slot)) {
                delete *slot;
                *slot = nullptr;
            }
        }
        delete[] m_colourBuffer;
        m_colourBuffer = nullptr;
        m_colourBufferSize = 0;
        CIGrab::Terminate();  // joins the common layer's scheduler thread
    }

    // Opens what the loaded station has and marks the object initialized.
    void BringUp() {
        ASSERT_TRUE(CIGrab::Initialize());
        int n = 0;
        for (ULONG index = 0; index < 8; ++index) {
            CICapMod* module = OrxCreateCaptureModule("GEV", index, nullptr);
            if (module == nullptr) continue;
            m_camModule[n] = module;
            m_camera[n] = module->GetCam(0);
            std::snprintf(m_camName[n], sizeof m_camName[n], "%s-%s", Text(m_camera[n], 67), Text(m_camera[n], 0x4010));
            ++n;
        }
        m_numCameras = n;
        m_primaryModule = m_camModule[0];
        OpenIo(&m_gioModule, "GIO", 0);
        OpenIo(&m_gioModule, "LXP", 0);
        OpenIo(&m_trxModule, "TRX", 0);
        OpenIo(&m_rcsModule, "RCS", 0);
        for (ULONG i = 0; i < 4; ++i) OpenIo(&m_usbModule[i], "USB", i);
        OpenIo(&m_qbmModule, "QBM", 0);
        if (m_camera[0] != nullptr) {
            ORV_CAM_ATTR attr{};
            m_camera[0]->GetAttr(&attr, 1);
            m_lineScan = static_cast<ULONG>(Param(0, 28));
            m_exposureDivider = m_lineScan ? 1 : 100;
            m_width = attr.Width;
            m_height = attr.Height;
            m_bitsPerPixel = attr.BitsPerPixel;
            m_bytesPerPixel = attr.BytesPerPixel;
            m_bayerCode = static_cast<ULONG>(Param(0, 74));
            if (m_bayerCode != 0) {
                m_bitsPerPixel = 32;
                m_bytesPerPixel = 4;
                AllocateColour(4);
            }
        }
        for (int c = 0; c < n; ++c) m_cam[c].exposure = Param(c, 0x4000) / m_exposureDivider;
        for (CameraSettings& s : m_cam) s.frameDelay = 100;
        m_initialized = 1;
        kiru::sim::Station::ClearTrace();
    }

    // Switches 24-bit output on, as Create does for 24 bits per pixel.
    void Use24BitOutput() {
        m_convertTo24 = 1;
        m_bitsPerPixel = 24;
        m_bytesPerPixel = 3;
        AllocateColour(3);
    }

    void SetRejectorEnabled(int on) { m_rejectorEnabled = on; }
    void UseCamera(int camera) { m_clientActiveCamera = camera; }
    HANDLE ObjectMutex() const { return m_objectMutex; }
    unsigned char* ColourBuffer() const { return m_colourBuffer; }
    void SetCameraName(int camera, const char* name) { std::snprintf(m_camName[camera], MAX_PATH, "%s", name); }

    // The frame GetFramePtr reports for every camera: a fixed one, or one
    // drawn on each call (e.g. from the camera's current exposure).
    void SetFrame(unsigned char* frame) { m_frame = frame; }
    void SetFrameSource(std::function<unsigned char*()> source) { m_frameSource = std::move(source); }
    void* GetFramePtr(int) override { return m_frameSource ? m_frameSource() : m_frame; }

    struct Call {
        std::string op;
        std::size_t traceLength;
    };
    std::vector<Call> calls;
    int Start() override {
        calls.push_back({"Start", kiru::sim::Station::Trace().size()});
        m_running = 1;
        return 1;
    }
    int Stop() override {
        calls.push_back({"Stop", kiru::sim::Station::Trace().size()});
        m_running = 0;
        return 1;
    }

private:
    static const char* Text(CICamera* camera, ULONG number) {
        double value = 0.0;
        if (!camera->GetAcqParam(number, &value, 0)) return "";
        return reinterpret_cast<const char*>(static_cast<std::uintptr_t>(value));
    }
    double Param(int camera, ULONG number) {
        double value = 0.0;
        m_camera[camera]->GetAcqParam(number, &value, 0);
        return value;
    }
    void OpenIo(CICapMod** slot, const char* name, ULONG index) {
        if (*slot != nullptr) return;
        *slot = OrxCreateCaptureModule(name, index, nullptr);
        if (*slot != nullptr) m_opened.push_back(*slot);
    }
    bool Opened(CICapMod* module) const {
        for (CICapMod* m : m_opened)
            if (m == module) return module != nullptr;
        return false;
    }
    void AllocateColour(ULONG bytes) {
        delete[] m_colourBuffer;
        m_colourBufferSize = static_cast<std::size_t>(bytes) * m_height * m_numCameras * m_width;
        m_colourBuffer = new unsigned char[m_colourBufferSize]();
    }

    std::vector<CICapMod*> m_opened;
    unsigned char* m_frame = nullptr;
    std::function<unsigned char*()> m_frameSource;
};

// Loads a station for one test and empties it afterwards.
class GevParamTest : public ::testing::Test {
protected:
    void TearDown() override { kiru::sim::Station::Reset(); }

    // The object on `station`, brought up.
    std::unique_ptr<ParamGrab> Grab(const std::string& station) {
        std::string error;
        EXPECT_TRUE(kiru::sim::Station::LoadText(station, "gev.ini", &error)) << error;
        auto grab = std::make_unique<ParamGrab>();
        grab->BringUp();
        return grab;
    }

    // Trace lines starting with `prefix`, in order.
    static std::vector<std::string> Lines(const std::string& prefix) {
        std::vector<std::string> out;
        for (const std::string& line : kiru::sim::Station::Trace())
            if (line.compare(0, prefix.size(), prefix) == 0) out.push_back(line);
        return out;
    }
    static double StationParam(const char* module, ULONG index, ULONG number, ULONG sub = 0) {
        double value = -1.0;
        kiru::sim::Station::GetParam(module, index, 0, number, &value, sub);
        return value;
    }
};

}  // namespace kiru_test
