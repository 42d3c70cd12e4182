// IXGrab: construction, copying, error texts, and the operations whose
// default is a constant result or a stored value.
#include <kiru/ixgrab.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>

#include "platform/kernel.h"

IXGrab::IXGrab()
    : m_dbgCatcher(nullptr),
      m_dbgCatcherContext(nullptr),
      m_rejectorEnabled(0),
      m_recyclerEnabled(0),
      m_extTriggerDelayEnabled(0),
      m_strobeEnabled(0),
      m_camDouble{2.0, 2.0, 2.0, 2.0},
      m_camIntA{1, 1, 1, 1},
      m_camIntB{0, 0, 0, 0},
      m_rejectorDelay(100),
      m_recycleDelay(100),
      m_extTriggerDelay(1),
      m_strobeDuration(200),
      m_strobeOffset(1),
      m_retriggerBusy(0),
      m_ioRunning(0),
      m_appRunning(0),
      m_rejectorTestValue(0),
      m_solutionChangeHandled(1),
      m_triggerMethod(TRIGGER_NONE),
      m_exposureMin(0.1),
      m_exposureMax(1023.0),
      m_exposureLimit3(0.1),
      m_solutionChangeState(0),
      m_objectMutex(::CreateMutexW(nullptr, FALSE, nullptr)),
      m_imgTransform(IFW_TRANSFORM_NONE),
      m_gpioAttr(),
      m_conformImageSource(1),
      m_widthSetExplicitly(0),
      m_heightSetExplicitly(0),
      m_clientActiveCamera(0),
      m_offsetX(0),
      m_offsetY(0),
      m_width(640),
      m_height(480),
      m_bitsPerPixel(8),
      m_bytesPerPixel(1),
      m_aoiWidth(640),
      m_aoiHeight(480),
      m_timeout(5000),
      m_bufferCount(5),
      m_ringSize(0),
      m_widthByteCount(0),
      m_heightByteCount(0),
      m_imageSizeBytes(0),
      m_imageSizePixels(0),
      m_imageArray(nullptr),
      m_ring(nullptr),
      m_contrast(50),
      m_exposure(100.0),
      m_brightness(50),
      m_frameDelay(1),
      m_lutFloor(0),
      m_lutCeiling(255),
      m_outputPortValue(255),
      m_imageColor(IFW_COLOR_MONO),
      m_activeCamera(0),
      m_trashContext(nullptr),
      m_bufferContext(nullptr),
      m_bufferExContext(nullptr),
      m_changeSolutionContext(nullptr),
      m_trashCallback(nullptr),
      m_bufferCallback(nullptr),
      m_bufferExCallback(nullptr),
      m_changeSolutionCallback(nullptr),
      m_acqThreadExitCallback(nullptr),
      m_acqThreadExitContext(nullptr),
      m_asyncMode(0),
      m_interjectState(0),
      m_running(0),
      m_created(0),
      m_initialized(0),
      m_lastError{},
      m_hwSolutionIdBits(0),
      m_interjectEmulator(nullptr),
      m_interjectImage(nullptr),
      m_rotation(0),
      m_transformBuffer(nullptr),
      m_horzTiles(1),
      m_vertTiles(1),
      m_explicitNumCameras(0),
      m_solutionLoaded(0),
      m_solutionNumber(0),
      m_frameRate(0.0),
      m_lastFrameTime(0.0),
      m_imgRegion(IFW_REGION_FULL),
      m_acqThreadId(0),
      m_productName{},
      m_clientConnected(0),
      m_maxTrigFreq(0),
      m_hardwareRevision(256),
      m_mosaicImage(nullptr) {
    for (int i = 0; i < 32; ++i) {
        m_gpiConfig[i] = IFW_GPI_CONFIG{1, 200, 0, 3.0f, 0};
        m_gpoConfig[i] = IFW_GPO_CONFIG{1, 0, 1000, IFW_GPO_DRIVER_PLAIN, 0};
    }
}

// Copying copies every field as a value: handles and pointers are shared, not
// duplicated.
IXGrab::IXGrab(const IXGrab&) = default;
IXGrab& IXGrab::operator=(const IXGrab&) = default;

// Releases what a class deriving from the interface directly may have left:
// the ring and the transform buffer (the common layer's destructor has
// already released and cleared them), and the object mutex.
IXGrab::~IXGrab() {
    ReleaseRing(false);
    std::free(m_transformBuffer);
    m_transformBuffer = nullptr;
    if (m_objectMutex != nullptr) {
        ::CloseHandle(m_objectMutex);
        m_objectMutex = nullptr;
    }
}

int IXGrab::Fail(const char* cls, const char* op, const char* reason) {
    std::snprintf(m_lastError, sizeof m_lastError, "%s::%s: %s", cls, op, reason);
    return 0;
}

int IXGrab::CheckInitialized(const char* cls, const char* op) {
    if (m_initialized) return 1;
    return Fail(cls, op, "Grab not initialized");
}

bool IXGrab::IsQuarterTurn() const {
    const ULONG r = m_rotation % 180;
    return r >= 46 && r <= 134;
}

ULONG IXGrab::ColorStrideFactor() const {
    switch (m_imageColor) {
        case IFW_COLOR_RGB32: return 4;
        case IFW_COLOR_PLANAR:
        case IFW_COLOR_RGB24: return 3;
        default: return 1;
    }
}

IFW_IGRABTYPE IXGrab::GetGrabType() { return IGRAB_COMMON; }

// Simple stored values and constant results.
int IXGrab::SetSolutionChangeState(int state) {
    m_solutionChangeState = state;
    return 1;
}
ULONG IXGrab::GetHardwareRevision() { return m_hardwareRevision; }
int IXGrab::SetHwSolutionIDNumBits(int bits) {
    m_hwSolutionIdBits = bits;
    return 1;
}
void* IXGrab::CreateInputActiveCallback(UINT, IFW_INPUT_ACTIVE_CALLBACK, void*) { return nullptr; }
void IXGrab::DeleteInputActiveCallback(void*) {}
ULONG IXGrab::GetInputChangeNames(char*) { return 0; }

int IXGrab::SetClientActiveCamera(int camera) {
    if (camera >= GetNumCameras()) return 0;
    if (camera >= 1 && m_imageColor == IFW_COLOR_PLANAR) return 0;
    m_clientActiveCamera = camera;
    return 1;
}

int IXGrab::SetSolutionLoaded(int loaded, int number) {
    m_solutionLoaded = loaded;
    m_solutionNumber = number;
    return 1;
}
double IXGrab::GetFrameRate() { return m_frameRate; }

void IXGrab::WriteReg(ULONG, ULONG) {}
ULONG IXGrab::ReadReg(ULONG) { return 0; }

static ULONG LowBitsMask(ULONG width) { return width >= 32 ? 0xFFFFFFFFu : ((1u << width) - 1u); }

void IXGrab::WriteRegField(ULONG reg, ULONG shift, ULONG width, ULONG value) {
    const ULONG current = ReadReg(reg);
    const ULONG field = shift >= 32 ? 0u : (LowBitsMask(width) << shift);
    const ULONG shifted = shift >= 32 ? 0u : (value << shift);
    WriteReg(reg, (current & ~field) | (shifted & field));
}

ULONG IXGrab::ReadRegField(ULONG reg, ULONG shift, ULONG width) {
    const ULONG v = ReadReg(reg);
    return (shift >= 32 ? 0u : (v >> shift)) & LowBitsMask(width);
}

void IXGrab::WriteCalib(unsigned char*, ULONG) {}
void IXGrab::EnqueueResult() {}
int IXGrab::SetPulse(int, int) { return 1; }

// No-op group: calibration, production tests and factory settings are not
// supported by any back-end of this library.
ULONG IXGrab::GetSerialNumber() { return 0; }
ULONG IXGrab::ReadProductID() { return 0; }
int IXGrab::WriteProductID(ULONG) { return 0; }
int IXGrab::CalStart(UINT, UINT, UINT, UINT, UINT, char*, int*, float*, char*, char*) { return 0; }
int IXGrab::CalSelectCalPoint(int, UINT, UINT, UINT, UINT, UINT, int, int, int*, int*, char*, char*) { return 0; }
int IXGrab::CalFindFlatZone(int, UINT, UINT, UINT, UINT, UINT, int, int, float, UINT, float, float, int*, int*, char*,
                            char*) {
    return 0;
}
int IXGrab::CalSaveAllValues(UINT, UINT, UINT, UINT, UINT, UINT, UINT, UINT, UINT, UINT, UINT) { return 0; }
ULONG IXGrab::RunTest(ULONG) { return 0; }
ULONG IXGrab::RunTestEx(ULONG, unsigned char*, ULONG, unsigned char*, ULONG) { return 0; }
int IXGrab::WriteFPGAFile(char*) { return 0; }
void IXGrab::SetFPLocations(IFW_FPV_DEF*) {}
void IXGrab::SetMACAddress(unsigned char*, ULONG) {}
void IXGrab::SetOutputQueueMode(int) {}
int IXGrab::SkipFrameLikely() { return 0; }

int IXGrab::IsGrabRunning() { return m_running; }
int IXGrab::IsGrabInitialized() { return m_initialized; }

int IXGrab::GetActiveCamera() { return m_activeCamera; }
IFW_IMAGE_COLOR_TYPE IXGrab::GetImageColor() { return m_imageColor; }
int IXGrab::GetNumCameras() { return m_imageColor == IFW_COLOR_PLANAR ? 8 : 1; }
void IXGrab::SetAcqReady(int) {}

int IXGrab::SetWhiteBalance(int, IFW_RECT*) { return 1; }
int IXGrab::GetNumAsyncCameras() { return 0; }
void IXGrab::GotTeachImage() {}
void IXGrab::SetASyncMode(int async) { m_asyncMode = async; }
int IXGrab::GetBaseEquation(int, char*) { return 0; }
void IXGrab::SetNumCameras(int count) { m_explicitNumCameras = count; }
double IXGrab::GetTemperature(int) { return 0.0; }
int IXGrab::GetExpicitSetNumCameras() { return m_explicitNumCameras; }
int IXGrab::GetCameraDesc(int, char*) { return 0; }
void IXGrab::SetTrigScaler(int, int) {}
int IXGrab::GetTrigScaler(int) { return 1; }
ULONG IXGrab::GetFrameCount(int) { return 0; }

void IXGrab::SetDbgCatcher(IFW_DBG_CATCHER catcher, void* context) {
    m_dbgCatcher = catcher;
    m_dbgCatcherContext = context;
}

// The product name is kept narrow (UTF-8); a name that does not fit is cut
// at a character boundary rather than written past the field.
void IXGrab::SetProductName(wchar_t* name) {
    if (name == nullptr) {
        m_productName[0] = '\0';
        return;
    }
    std::mbstate_t state{};
    size_t out = 0;
    for (const wchar_t* p = name; *p != L'\0'; ++p) {
        char bytes[8];
        const size_t n = std::wcrtomb(bytes, *p, &state);
        if (n == static_cast<size_t>(-1)) {
            // Not representable in the current locale: encode as UTF-8 ourselves.
            const unsigned long c = static_cast<unsigned long>(*p);
            size_t k = 0;
            if (c < 0x80) {
                bytes[k++] = static_cast<char>(c);
            } else if (c < 0x800) {
                bytes[k++] = static_cast<char>(0xC0 | (c >> 6));
                bytes[k++] = static_cast<char>(0x80 | (c & 0x3F));
            } else if (c < 0x10000) {
                bytes[k++] = static_cast<char>(0xE0 | (c >> 12));
                bytes[k++] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
                bytes[k++] = static_cast<char>(0x80 | (c & 0x3F));
            } else {
                bytes[k++] = static_cast<char>(0xF0 | ((c >> 18) & 0x07));
                bytes[k++] = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
                bytes[k++] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
                bytes[k++] = static_cast<char>(0x80 | (c & 0x3F));
            }
            state = std::mbstate_t{};
            if (out + k >= sizeof m_productName) break;
            std::memcpy(m_productName + out, bytes, k);
            out += k;
            continue;
        }
        if (out + n >= sizeof m_productName) break;
        std::memcpy(m_productName + out, bytes, n);
        out += n;
    }
    m_productName[out] = '\0';
}

void IXGrab::SetClientConnect(int connected) { m_clientConnected = connected; }
void IXGrab::SetMaxTrigFreq(int frequency) { m_maxTrigFreq = frequency; }
unsigned char* IXGrab::GetMosaicImage(int) { return m_mosaicImage; }
void IXGrab::RegisterAcquireEventCallback(IFW_ACQ_EVENT_CALLBACK, void*) {}
void IXGrab::UnRegisterAcquireEventCallback() {}
double IXGrab::GetFrameTimestamp(int) { return 0.0; }
UINT IXGrab::GetCamBrightness(int) { return GetBrightness(); }
int IXGrab::SetCamBrightness(UINT value, int) { return SetBrightness(value); }
double IXGrab::GetCamExposure(int) { return GetExposure(); }

// PLC link: only the GigE back-end has a controller to forward to.
int IXGrab::PlcGetInputs(ULONG, ULONG, unsigned char*) { return 0; }
int IXGrab::PlcGetInputsSigned16(ULONG, ULONG, unsigned short*) { return 0; }
int IXGrab::PlcGetInputsSigned32(ULONG, ULONG, ULONG*) { return 0; }
int IXGrab::PlcGetInputsFloat(ULONG, ULONG, float*) { return 0; }
int IXGrab::PlcSetOutputs(ULONG, ULONG, unsigned char*) { return 0; }
int IXGrab::PlcSetOutputsSigned16(ULONG, ULONG, unsigned short*) { return 0; }
int IXGrab::PlcSetOutputsSigned32(ULONG, ULONG, ULONG*) { return 0; }
int IXGrab::PlcSetOutputsFloat(ULONG, ULONG, float*) { return 0; }
void* IXGrab::PlcAddFileChangeCallback(ULONG, ULONG, ULONG, ULONG, IFW_FILE_CHANGE_CALLBACK, void*) {
    return nullptr;
}
int IXGrab::PlcDelFileChangeCallback(void*) { return 0; }
int IXGrab::IsPLCTypeSupported(IFW_COMM_ROLE_TYPE) { return 0; }
void* IXGrab::AddDataInChangeCamTrigger(ULONG, int, ULONG) { return nullptr; }
void IXGrab::DelDataInChangeCamTrigger(ULONG, int, ULONG) {}
int IXGrab::PlcSetIPAddress(ULONG, ULONG, ULONG, char*) { return 0; }
ULONG IXGrab::PlcGetIPAddress(ULONG*, ULONG*, char*) { return 0; }
int IXGrab::PlcGetMACAddress(unsigned char*) { return 0; }

// Emulator-only queries.
char* IXGrab::GetImagePath() { return nullptr; }
int IXGrab::EmulateFromNewImagePath(char*, ULONG, ULONG) { return 0; }
