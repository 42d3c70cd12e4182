// CIGrabGev modules: building the object and opening the I/O controllers,
// finding and opening the cameras, bringing cameras and controllers to a
// known state in Initialize, the frame-ring geometry, losing and regaining a
// camera, and the small per-camera queries.
#include <kiru/cigrab_gev.h>
#include <kiru/scoped_handles.h>
#include <kiru/cios.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "backends/gev/gev_atomic.h"
#include "capture/orv.h"
#include "platform/clock.h"
#include "platform/dynload.h"
#include "platform/inet.h"
#include "platform/ip_net.h"
#include "platform/kernel.h"
#include "platform/message_box.h"

namespace {

// Camera parameters.
constexpr ULONG kParamHostHeight = 25;
constexpr ULONG kParamOffsetX = 22;
constexpr ULONG kParamOffsetY = 24;
constexpr ULONG kParamLineScan = 28;
constexpr ULONG kParamColourRepack = 57;
constexpr ULONG kParamModel = 67;
constexpr ULONG kParamBayer = 74;
constexpr ULONG kParamExposure = 0x4000;
constexpr ULONG kParamHalfX = 0x4004;
constexpr ULONG kParamHalfY = 0x4005;
constexpr ULONG kParamOutputEnable = 0x4009;
constexpr ULONG kParamOutputSource = 0x400A;
constexpr ULONG kParamOutputInvert = 0x400B;
constexpr ULONG kParamStrobeOffset = 0x400C;
constexpr ULONG kParamStrobeDuration = 0x400D;
constexpr ULONG kParamCameraIp = 0x400E;
constexpr ULONG kParamMac = 0x400F;
constexpr ULONG kParamNamePart = 0x4010;
constexpr ULONG kParamPacketSize = 0x4012;
constexpr ULONG kParamHostIp = 0x4014;

// Device registers.
constexpr ULONG kRegPacketDelay = 0x0D08;
constexpr ULONG kRegReachable = 0x0A00;

constexpr ULONG kColourRaw = 13;
constexpr double kSmallPacketLimit = 1550.0;
constexpr double kJumboPacket = 8228.0;
// A camera's module is reopened at most this often, across all objects.
constexpr double kReopenGuardMs = 7000.0;
constexpr DWORD kRecoveryMutexWaitMs = 2000;

// The one reopening time stamp of the process.
std::mutex g_reopenMutex;
bool g_reopened = false;
double g_lastReopenMs = 0.0;

bool Contains(const char* text, const char* word) { return text != nullptr && std::strstr(text, word) != nullptr; }

double ChannelParam(CICamera* channel, ULONG number, ULONG index = 0) {
    double value = 0.0;
    if (channel == nullptr || !channel->GetAcqParam(number, &value, index)) return 0.0;
    return value;
}

ULONG AtLeast(double value, ULONG minimum) {
    return value > static_cast<double>(minimum) ? static_cast<ULONG>(value) : minimum;
}

// Six colon-separated groups of hexadecimal digits; each group starts three
// characters after the previous one and ends at its first non-digit.
void ParseMac(const char* text, BYTE mac[6]) {
    const std::size_t length = std::strlen(text);
    for (std::size_t group = 0; group < 6; ++group) {
        mac[group] = 0;
        ULONG value = 0;
        for (std::size_t at = 3 * group; at < length && std::isxdigit(static_cast<unsigned char>(text[at])); ++at) {
            const char c = static_cast<char>(std::tolower(static_cast<unsigned char>(text[at])));
            value = value * 16 + static_cast<ULONG>(c <= '9' ? c - '0' : c - 'a' + 10);
        }
        mac[group] = static_cast<BYTE>(value);
    }
}

}  // namespace

// ---- Construction -----------------------------------------------------------

CIGrabGev::CIGrabGev()
    : m_loopRun(0),
      m_hostRun(0),
      m_grabLock(::CreateMutexW(nullptr, FALSE, nullptr)),
      m_lostSeen{},
      m_camModule{},
      m_camera{},
      m_camAttr{},
      m_camName{},
      m_camAddress{},
      m_fromMarker{},
      m_interrupt{},
      m_cam{},
      m_grab{},
      m_frameAddress{},
      m_frameIndex{},
      m_camFrameCount{},
      m_frameTime{},
      m_arrivalTime{},
      m_paramValue{},
      m_paramSet{},
      m_numCameras(1),
      m_primaryModule(nullptr),
      m_gioModule(nullptr),
      m_qbmModule(nullptr),
      m_trxModule(nullptr),
      m_rcsModule(nullptr),
      m_usbModule{},
      m_ioCallback(nullptr),
      m_trxCallback{},
      m_usbCallback{},
      m_channelContext{},
      m_exposureDivider(100),
      m_lineScan(0),
      m_bayerCode(0),
      m_convertTo24(0),
      m_colourBuffer(nullptr),
      m_colourBufferSize(0),
      m_os(nullptr),
      m_acqReadyEvent(nullptr),
      m_goEvent(nullptr),
      m_acqStoppedEvent(nullptr),
      m_acqThread(nullptr),
      m_inAcquisition(0),
      m_manualTriggerPending(0),
      m_currentCamera(0),
      m_results{},
      m_acqEventCallback(nullptr),
      m_acqEventContext(nullptr),
      m_display(nullptr),
      m_hwTriggerSource(2),
      m_lastLostCount(0),
      m_transferTime(0) {
    if (m_triggerMethod == TRIGGER_NONE) m_triggerMethod = TRIGGER_FREE_RUN;
    OrxSetConsoleHandler(nullptr);

    for (CameraSettings& cam : m_cam) {
        cam.exposure = m_exposure;
        cam.contrast = m_contrast;
        cam.brightness = m_brightness;
        cam.strobeOffset = m_strobeOffset;
        cam.strobeDuration = m_strobeDuration;
        cam.strobeEnable = m_strobeEnabled;
        cam.triggerMethod = m_triggerMethod;
        cam.frameDelay = 100;
        cam.triggerDelay = m_extTriggerDelay;
        cam.triggerDelayEnable = m_extTriggerDelayEnabled;
    }
    for (int& index : m_frameIndex) index = -1;
    for (int channel = 0; channel < 4; ++channel) m_channelContext[channel] = ChannelContext{this, channel};
    m_hwSolutionIdBits = 0;

    m_os = new CORVOS();
    m_acqReadyEvent = ::CreateEventW(nullptr, FALSE, FALSE, nullptr);
    m_goEvent = ::CreateEventW(nullptr, FALSE, FALSE, nullptr);
    m_acqStoppedEvent = ::CreateEventW(nullptr, FALSE, FALSE, nullptr);

    // The I/O controllers, each by its marker file or else by name alone.
    auto open = [this](const char* name, ULONG index, const char* marker) {
        CICapMod* module = CreateCaptureModule(name, index, marker);
        return module != nullptr ? module : OrxCreateCaptureModule(name, index, nullptr);
    };
    m_gioModule = open("GIO", 0, "giotest.txt");
    if (m_gioModule == nullptr) m_gioModule = OrxCreateCaptureModule("LXP", 0, nullptr);
    m_trxModule = open("TRX", 0, "trxtest.txt");
    m_rcsModule = open("RCS", 0, "rcstest.txt");
    for (ULONG index = 0; index < kMaxUsbModules; ++index) {
        m_usbModule[index] = open("USB", index, "usbtest.txt");
        if (m_usbModule[index] == nullptr) break;
    }
    m_qbmModule = open("QBM", 0, "qbmtest.txt");
    m_numCameras = 1;
}

CIGrabGev::~CIGrabGev() {
    Destroy();
    Terminate();
    for (HANDLE* event : {&m_acqReadyEvent, &m_goEvent, &m_acqStoppedEvent, &m_grabLock}) {
        if (*event != nullptr) ::CloseHandle(*event);
        *event = nullptr;
    }
    delete m_os;
    m_os = nullptr;
}

IFW_IGRABTYPE CIGrabGev::GetGrabType() { return IGRAB_GEV; }

CICapMod* CIGrabGev::CreateCaptureModule(const char* name, ULONG index, const char* markerFile) {
    if (markerFile != nullptr) {
        char path[MAX_PATH];
        CiOS::AppDataPathOnce(path, "VistorClient", markerFile);
        if (std::FILE* file = std::fopen(path, "rt")) {
            std::fclose(file);
            if (CICapMod* module = OrxCreateCaptureModule(name, index, path)) return module;
        }
    }
    return OrxCreateCaptureModule(name, index, markerFile);
}

// ---- Camera discovery ---------------------------------------------------------

int CIGrabGev::CreateModules(int limit) {
    const int maximum = limit > 0 ? std::min(limit, static_cast<int>(kMaxCameras)) : kMaxCameras;
    CMutexHold lock(m_grabLock, INFINITE);
    int count = 0;
    for (ULONG index = 0; index < static_cast<ULONG>(kMaxCameras) && count < maximum; ++index) {
        const int slot = count;
        CICapMod* module = CreateCaptureModule("GEV", index, "gevtest.txt");
        const bool fromMarker = module != nullptr;
        if (module == nullptr) module = OrxCreateCaptureModule("GEV", index, nullptr);
        if (module == nullptr) continue;
        m_camModule[slot] = module;
        m_fromMarker[slot] = fromMarker ? 1 : 0;
        CICamera* camera = module->GetCam(0);
        m_camera[slot] = camera;
        if (camera == nullptr) break;

        ORV_CAM_ATTR attr{};
        camera->GetAttr(&attr, 1);
        if (attr.ColorFormat == kColourRaw) {
            camera->SetAcqParam(kParamColourRepack, 4.0);
            camera->GetAttr(&attr, 1);
        }
        m_camAttr[slot] =
            IFW_CAM_ATTR{attr.Width, attr.Height, attr.BytesPerPixel, attr.BitsPerPixel, attr.ColorFormat};
        // Every camera must match the first one's image; a mismatch ends the
        // search and leaves that module open in the slot after the last camera.
        if (attr.Width != m_camAttr[0].width || attr.Height != m_camAttr[0].height ||
            attr.BitsPerPixel != m_camAttr[0].bitsPerPixel)
            break;
        if (attr.ColorFormat != 0 && attr.ColorFormat != 4) {
            delete module;
            m_camModule[slot] = nullptr;
            m_camera[slot] = nullptr;
            m_camAttr[slot] = IFW_CAM_ATTR{};
            continue;
        }

        const char* cameraIp = CameraText(camera, kParamCameraIp);
        const char* hostIp = CameraText(camera, kParamHostIp);
        const ULONG address = static_cast<ULONG>(inet_addr(cameraIp));
        m_camAddress[slot] = ntohl(address);
        if (address != INADDR_NONE) {
            MIB_IPNETROW row{};
            row.dwIndex = OrxGetAdapterIndexFromIP(inet_addr(hostIp));
            row.dwPhysAddrLen = 6;
            ParseMac(CameraText(camera, kParamMac), row.bPhysAddr);
            row.dwAddr = address;
            row.dwType = MIB_IPNET_TYPE_STATIC;
            // The entry only speeds up the first packets: without the right
            // to set it (Windows asks for an administrator) the camera still
            // works, so the refusal is reported and acquisition goes on.
            const DWORD error = SetIpNetEntry(&row);
            if (error != NO_ERROR) {
                char line[160];
                std::snprintf(line, sizeof line, "static address entry for %s not set (error %lu)", cameraIp,
                              static_cast<unsigned long>(error));
                DbgPrint(line);
            }
        }
        std::snprintf(m_camName[slot], sizeof m_camName[slot], "%s-%s", CameraText(camera, kParamModel),
                      CameraText(camera, kParamNamePart));
        ++count;
    }
    return count;
}

int CIGrabGev::DeleteModules(int camera) {
    CMutexHold lock(m_grabLock, INFINITE);
    for (int c = 0; c < kMaxCameras; ++c) {
        if (camera >= 0 && c != camera) continue;
        delete m_interrupt[c];
        m_interrupt[c] = nullptr;
        if (m_camModule[c] != nullptr && m_camModule[c] == m_primaryModule) m_primaryModule = nullptr;
        // Deleting the module ends its grabs.
        delete m_camModule[c];
        m_camModule[c] = nullptr;
        m_camera[c] = nullptr;
        kiru::gev::Store(m_grab[c], static_cast<OrvGrabTag*>(nullptr));
    }
    return 1;
}

CICapMod* CIGrabGev::OpenCameraModule(ULONG index, bool fromMarker) {
    return fromMarker ? CreateCaptureModule("GEV", index, "gevtest.txt")
                      : OrxCreateCaptureModule("GEV", index, nullptr);
}

int CIGrabGev::ReCreateModules(int camera) {
    if (camera >= kMaxCameras) return 0;
    const int first = camera < 0 ? 0 : camera;
    const int last = camera < 0 ? std::min(m_numCameras, static_cast<int>(kMaxCameras)) - 1 : camera;
    for (int c = first; c <= last; ++c) {
        {
            CMutexHold lock(m_grabLock, INFINITE);
            bool attempt = camera < 0;
            if (!attempt) {
                // One camera at a time is reopened at most once per guard
                // period, counted for every object of the process.
                std::lock_guard<std::mutex> guard(g_reopenMutex);
                const double now = NowMs();
                if (!g_reopened || now - g_lastReopenMs > kReopenGuardMs) {
                    g_reopened = true;
                    g_lastReopenMs = now;
                    attempt = true;
                }
            }
            if (attempt && m_camModule[c] == nullptr)
                m_camModule[c] = OpenCameraModule(static_cast<ULONG>(c), m_fromMarker[c] != 0);
            if (m_camModule[c] == nullptr) return 0;
            m_camera[c] = m_camModule[c]->GetCam(0);
            if (m_asyncMode && m_camera[c] != nullptr && m_interrupt[c] == nullptr)
                m_interrupt[c] = m_camera[c]->CreateInterruptObject(ORV_EVENT_FRAME, 1);
        }
        // Reprogramming takes the object mutex: done outside the grab lock.
        ApplyParameters(c);
    }
    return 1;
}

// ---- Reachability -------------------------------------------------------------

int CIGrabGev::CheckCCP(int camera) {
    if (camera < 0) {
        for (int c = 0; c < m_numCameras && c < kMaxCameras; ++c) {
            if (m_camera[c] == nullptr) return 0;
            if (!CheckCCP(c)) return 0;
        }
        return 1;
    }
    if (camera >= kMaxCameras || m_camera[camera] == nullptr) return 0;
    ULONG answer = 0;
    for (int attempt = 0; attempt < 3 && answer == 0; ++attempt) answer = m_camera[camera]->ReadReg(kRegReachable);
    if (answer == 0 && m_acqEventCallback != nullptr && m_acqEventContext != nullptr)
        m_acqEventCallback(m_acqEventContext, IFW_ACQ_EVENT_CAMERA_LOST, static_cast<ULONG>(camera));
    return static_cast<int>(answer);
}

int CIGrabGev::CheckConnection(int camera) {
    const int probe = m_asyncMode ? camera : -1;
    if (CheckCCP(probe)) return 1;
    CMutexHold hold(m_objectMutex, kRecoveryMutexWaitMs);
    if (!hold.Held()) return 0;
    if (LoopRuns()) {
        StopGrabs(probe);
        DeleteModules(probe);
        if (ReCreateModules(probe)) {
            StartGrabs(probe);
            if (m_acqEventCallback != nullptr && m_acqEventContext != nullptr)
                m_acqEventCallback(m_acqEventContext, IFW_ACQ_EVENT_CAMERA_REOPENED, 0);
        }
        m_primaryModule = m_camModule[0];
    }
    return 0;
}

// ---- Initialize -------------------------------------------------------------

int CIGrabGev::Initialize() {
    m_numCameras = 0;
    const int result = CIGrab::Initialize();
    if (!result) return result;

    // The capture library's GigE transport is opened around discovery when
    // the library offers it.
    HMODULE library = LoadLibraryA("orv21.dll");
    auto gigeOpen = reinterpret_cast<PFN_OrxGigeOpen>(GetProcAddress(library, "_OrxGigeOpen@0"));
    auto gigeClose = reinterpret_cast<PFN_OrxGigeClose>(GetProcAddress(library, "_OrxGigeClose@8"));
    if (gigeOpen != nullptr) gigeOpen();

    const bool tiled = m_horzTiles > 1 || m_vertTiles > 1;
    const int limit = (!tiled && m_explicitNumCameras > 0) ? m_explicitNumCameras : 0;
    m_numCameras = CreateModules(limit);
    if (m_numCameras == 0 && m_explicitNumCameras == 0)
        ShowMessage("No Module", "Specified Image Capture Module not detected.");

    // The mosaic gets one tile per camera found.
    if (m_horzTiles == 1 && m_vertTiles > 1) m_vertTiles = static_cast<ULONG>(m_numCameras);
    else if (m_horzTiles > 1 && m_vertTiles == 1) m_horzTiles = static_cast<ULONG>(m_numCameras);

    if (gigeClose != nullptr) gigeClose(1, 1);
    if (library != nullptr) FreeLibrary(library);

    if (m_numCameras == 0 || (m_explicitNumCameras > 0 && m_numCameras < m_explicitNumCameras)) {
        DeleteModules(-1);
        return 0;
    }

    CICamera* first = m_camera[0];
    m_primaryModule = m_camModule[0];
    m_lineScan = static_cast<ULONG>(ChannelParam(first, kParamLineScan));
    m_exposureDivider = m_lineScan ? 1 : 100;
    m_width = m_camAttr[0].width;
    if (m_lineScan && m_heightSetExplicitly) {
        // A line-scan camera takes its image height from the host.
        m_camAttr[0].height = m_height;
        StoreParam(0, kParamHostHeight, static_cast<double>(m_height), 0);
        first->SetAcqParam(kParamHostHeight, static_cast<double>(m_height));
    } else {
        m_height = m_camAttr[0].height;
    }
    m_bitsPerPixel = m_camAttr[0].bitsPerPixel;
    m_bytesPerPixel = m_camAttr[0].bytesPerPixel;

    double bayer = 0.0;
    if (first->GetAcqParam(kParamBayer, &bayer) && bayer != 0.0) {
        m_bayerCode = static_cast<ULONG>(bayer);
        m_bitsPerPixel = 32;
        m_bytesPerPixel = 4;
        const std::size_t size = std::size_t(4) * m_height * static_cast<std::size_t>(m_numCameras) * m_width;
        std::free(m_colourBuffer);
        m_colourBuffer = static_cast<unsigned char*>(std::calloc(size, 1));
        m_colourBufferSize = m_colourBuffer != nullptr ? size : 0;
    }

    if (m_imgRegion == IFW_REGION_HALF_HEIGHT) {
        m_height /= 2;
    } else if (m_imgRegion == IFW_REGION_HALF) {
        m_width /= 2;
        m_height /= 2;
    }

    // Small packets cost the host too much: jumbo packets where the camera
    // came up with standard ones.
    ULONG packetSize[kMaxCameras] = {};
    for (int c = 0; c < m_numCameras; ++c) {
        double packet = ChannelParam(m_camera[c], kParamPacketSize);
        if (packet <= kSmallPacketLimit) {
            if (m_camera[c] != nullptr) m_camera[c]->SetAcqParam(kParamPacketSize, kJumboPacket);
            packet = ChannelParam(m_camera[c], kParamPacketSize);
        }
        packetSize[c] = static_cast<ULONG>(packet);
    }

    m_transferTime =
        static_cast<ULONG>(static_cast<std::uint64_t>(m_numCameras) * m_bytesPerPixel * m_height * m_width / 90000);

    for (int c = 0; c < m_numCameras; ++c) {
        CICamera* camera = m_camera[c];
        CameraSettings& cam = m_cam[c];
        cam.strobeOffset = static_cast<UINT>(ChannelParam(camera, kParamStrobeOffset));
        cam.strobeDuration = NameContains("VEX-") ? 0 : static_cast<UINT>(ChannelParam(camera, kParamStrobeDuration));
        cam.exposure = ChannelParam(camera, kParamExposure) / static_cast<double>(m_exposureDivider);
        if (m_imgRegion == IFW_REGION_HALF && camera != nullptr) {
            camera->SetAcqParam(kParamHalfX, 1.0);
            camera->SetAcqParam(kParamHalfY, 1.0);
        }
        cam.frameDelay = std::max(cam.frameDelay, static_cast<UINT>(m_transferTime));
        ProgramPacketDelay(c, packetSize);
    }

    bool ioBroughtUp = false;
    BringUpIoControllers(ioBroughtUp);
    ProgramOutputDefaults(ioBroughtUp);

    m_cameraDetected[0] = 1;
    if (m_lineScan) {
        ORV_PARAM_CAPS caps{};
        if (first->GetParamCaps(kParamExposure, &caps)) {
            m_exposureMin = caps.Min / static_cast<double>(m_exposureDivider);
            m_exposureMax = caps.Max / static_cast<double>(m_exposureDivider);
        }
        m_exposureLimit3 = 1.0;
    }
    m_initialized = 1;
    return 1;
}

// The delay between stream packets: derived from the trigger rate when the
// client gave one; otherwise, unless the camera already has a delay, room for
// the other cameras that share its network (or a GIO controller's switch).
void CIGrabGev::ProgramPacketDelay(int camera, const ULONG* packetSize) {
    CICamera* cam = m_camera[camera];
    if (cam == nullptr) return;
    if (m_maxTrigFreq > 0) {
        const double megabytes =
            static_cast<double>(static_cast<std::uint64_t>(m_numCameras) * m_bytesPerPixel * m_height * m_width) /
            1000000.0;
        double delay = static_cast<double>((packetSize[camera] + 38) / 100) *
                       (90.0 / (megabytes * static_cast<double>(m_maxTrigFreq)) - 1.0);
        delay = std::clamp(delay, -2147483648.0, 2147483647.0);
        cam->WriteReg(kRegPacketDelay, static_cast<ULONG>(static_cast<LONG>(delay)));
        return;
    }
    if (cam->ReadReg(kRegPacketDelay) != 0) return;
    const bool sharedSwitch = m_gioModule != nullptr &&
                              ((m_gioModule->GetModuleInfo() & 1) || std::strcmp(m_gioModule->ModName(), "LXP") == 0);
    ULONG delay = (NameContains("Wren") && packetSize[0] > 2000) ? 10 : 0;
    for (int other = 0; other < m_numCameras; ++other) {
        if (other == camera) continue;
        if ((m_camAddress[other] >> 16) == (m_camAddress[camera] >> 16) || sharedSwitch)
            delay += 10 + (packetSize[other] * 8 + 304) / 1000;
    }
    cam->WriteReg(kRegPacketDelay, delay);
}

// ---- I/O controllers ------------------------------------------------------------

void CIGrabGev::SeedTrxLines(int side) {
    CICamera* ch = m_trxModule->GetCam(static_cast<ULONG>(side));
    for (int k = 0; k < 4; ++k) {
        IFW_GPO_CONFIG& out = m_gpoConfig[4 * side + k];
        out.Polarity = ChannelParam(ch, 0x4003, static_cast<ULONG>(k)) != 0.0 ? 1 : 0;
        out.Offset = AtLeast(ChannelParam(ch, 0x4000), 60000);
        out.Duration = AtLeast(ChannelParam(ch, 0x4002, static_cast<ULONG>(k)), 1000);
        out.Driver = k == 0 ? IFW_GPO_DRIVER_PASS_QUEUED : IFW_GPO_DRIVER_PLAIN;
    }
    IFW_GPO_CONFIG& strobe = m_gpoConfig[8 + side];
    strobe.Polarity = ChannelParam(ch, 3) != 0.0 ? 1 : 0;
    strobe.Offset = AtLeast(ChannelParam(ch, 4), 60000);
    strobe.Duration = AtLeast(ChannelParam(ch, 82), 1000);
    IFW_GPI_CONFIG& trigger = m_gpiConfig[8 + side];
    trigger.Polarity = ChannelParam(ch, 11) != 0.0 ? 1 : 0;
    trigger.Debounce = static_cast<ULONG>(ChannelParam(ch, 83));
    trigger.Threshold = 12.0f;
    m_gpiConfig[4 * side].Threshold = 12.0f;
}

void CIGrabGev::SeedRcsLines(int side) {
    CICamera* ch = m_rcsModule->GetCam(static_cast<ULONG>(side));
    for (int k = 0; k < 3; ++k) {
        IFW_GPO_CONFIG& out = m_gpoConfig[4 * side + k];
        out.Polarity = 1;
        out.Offset = 30000;
        out.Duration = 1000;
        out.Driver = k == 0 ? IFW_GPO_DRIVER_PASS_QUEUED : IFW_GPO_DRIVER_PLAIN;
    }
    IFW_GPO_CONFIG& strobe = m_gpoConfig[4 * side + 3];
    strobe.Polarity = ChannelParam(ch, 3) != 0.0 ? 1 : 0;
    strobe.Offset = AtLeast(ChannelParam(ch, 4), 60000);
    strobe.Duration = AtLeast(ChannelParam(ch, 82), 1000);
    strobe.Driver = IFW_GPO_DRIVER_STROBE;
}

void CIGrabGev::SeedUsbLines(int module, int channel) {
    CICamera* ch = m_usbModule[module]->GetCam(static_cast<ULONG>(channel));
    for (int j = 0; j < 2; ++j) {
        const int line = 12 * module + 2 * channel + j;
        if (line >= 32) continue;
        IFW_GPO_CONFIG& out = m_gpoConfig[line];
        out.Polarity = ChannelParam(ch, 0x4003, static_cast<ULONG>(j)) != 0.0 ? 1 : 0;
        out.Offset = 80000;
        out.Duration = 1000;
        const bool passLine = line == 0 || (m_asyncMode && j == 0 && channel < m_numCameras);
        out.Driver = passLine ? IFW_GPO_DRIVER_PASS_IMMEDIATE : IFW_GPO_DRIVER_PLAIN;
    }
    if (12 * module + 8 + channel < 32) m_gpoConfig[12 * module + 8 + channel].Driver = IFW_GPO_DRIVER_STROBE;
    IFW_GPI_CONFIG& trigger = m_gpiConfig[8 * module + channel];
    trigger.Polarity = ChannelParam(ch, 11) != 0.0 ? 1 : 0;
    trigger.Debounce = static_cast<ULONG>(ChannelParam(ch, 83));
}

void CIGrabGev::BringUpIoControllers(bool& broughtUp) {
    // Every controller brought up sets the solution-ID width; the first one
    // also carries the solution-change interrupt.
    auto bringUp = [&](CICapMod* module, int solutionBits, ULONG event) {
        SetHwSolutionIDNumBits(solutionBits);
        if (m_ioCallback == nullptr) m_ioCallback = module->CreateIntrCallback(event, &CIGrabGev::IoInterrupt, this);
        broughtUp = true;
    };
    auto cameraOutputs = [&](bool wrenSecondLine) {
        SetAllCamParam(kParamOutputEnable, 1.0, 0);
        SetAllCamParam(kParamOutputSource, 1.0, 0);
        SetAllCamParam(kParamOutputInvert, 0.0, 0);
        if (wrenSecondLine && NameContains("Wren")) SetAllCamParam(kParamOutputInvert, 0.0, 1);
        SetAllCamParam(kParamStrobeOffset, 1.0, 0);
        SetAllCamParam(kParamStrobeDuration, 1000.0, 0);
    };

    if (m_gioModule != nullptr &&
        ((m_gioModule->GetModuleInfo() & 1) || std::strcmp(m_gioModule->ModName(), "LXP") == 0)) {
        bringUp(m_gioModule, 6, 3);
        m_gioModule->WriteOutputPort(0, 7);
        for (ULONG channel = 0; channel < 2; ++channel)
            if (CICamera* ch = m_gioModule->GetCam(channel)) ch->SetAcqParam(83, 200.0);
    }
    if (m_trxModule != nullptr) {
        bringUp(m_trxModule, 3, 28);
        m_trxModule->WriteOutputPort(0, 17);
        for (int side = 0; side < 2; ++side) {
            SeedTrxLines(side);
            m_trxCallback[side] = m_trxModule->CreateIntrCallback(side == 0 ? 2 : 9, &CIGrabGev::ChannelInterrupt,
                                                                  &m_channelContext[side]);
        }
        cameraOutputs(true);
    }
    if (m_rcsModule != nullptr) {
        bringUp(m_rcsModule, 3, 29);
        m_rcsModule->WriteOutputPort(0, 10);
        for (int side = 0; side < 2; ++side) SeedRcsLines(side);
        cameraOutputs(true);
    }
    for (int module = 0; module < kMaxUsbModules && m_usbModule[module] != nullptr; ++module) {
        bringUp(m_usbModule[module], 3, 7);
        for (int channel = 0; channel < 4; ++channel) {
            SeedUsbLines(module, channel);
            if (module == 0)
                m_usbCallback[channel] = m_usbModule[0]->CreateIntrCallback(
                    8 + static_cast<ULONG>(channel), &CIGrabGev::ChannelInterrupt, &m_channelContext[channel]);
        }
        cameraOutputs(false);
    }
    if (m_qbmModule != nullptr && (m_qbmModule->GetModuleInfo() & 1)) {
        if (CICamera* ch = m_qbmModule->GetCam(0)) {
            ch->SetAcqParam(0x401C, 0.0);
            ch->SetAcqParam(0x401D, 1.0);
            if (ChannelParam(ch, 0x401E) < 200.0) ch->SetAcqParam(0x401E, 200.0);
            ch->SetAcqParam(0x401F, 0.0);
            ch->SetAcqParam(0x4020, 0.0);
            ch->SetAcqParam(0x4021, 1.0);
            ch->SetAcqParam(0x4022, 0.0);
            ch->SetAcqParam(0x4023, 200.0);
            ch->SetAcqParam(kParamStrobeDuration, 0.0);
        }
        bringUp(m_qbmModule, 3, 16);
        m_qbmModule->WriteOutputPort(0, 34);
        m_qbmModule->WriteOutputPort(0, 16);
        m_qbmModule->EnableModuleIo(1, 1);
    }
}

// Without a controller that times the outputs, the cameras' own output lines
// carry the strobe.
void CIGrabGev::ProgramOutputDefaults(bool ioBroughtUp) {
    if (m_rcsModule != nullptr || m_trxModule != nullptr || m_usbModule[0] != nullptr) return;
    const ULONG sel = ioBroughtUp ? 1 : 0;
    SetAllCamParam(kParamOutputEnable, 1.0, sel);
    SetAllCamParam(kParamOutputSource, 1.0, sel);
    SetAllCamParam(kParamStrobeOffset, 1.0, sel);
    SetAllCamParam(kParamStrobeDuration, 100.0, sel);
    if (!NameContains("Wren")) SetAllCamParam(kParamOutputEnable, m_strobeEnabled ? 1.0 : 0.0, sel);
    SetAllCamParam(kParamOutputEnable, 0.0, sel ^ 1);
    if (NameContains("VEX-")) {
        SetAllCamParam(kParamOutputInvert, 1.0, 0);
    } else if (NameContains("Wren")) {
        SetAllCamParam(kParamOutputInvert, 0.0, 0);
        SetAllCamParam(kParamOutputInvert, 0.0, 1);
    }
}

// ---- Geometry and queries ---------------------------------------------------------

int CIGrabGev::Create(ULONG offsetX, ULONG offsetY, ULONG width, ULONG height, ULONG bitsPerPixel, ULONG bufferCount,
                      ULONG timeout) {
    if (m_camera[0] == nullptr) return m_initialized ? 0 : CheckInitialized("CIGrab", "Create");
    if (bitsPerPixel == 24) {
        // 24-bit output: the acquisition loops cut the cameras' pixels to
        // three bytes into the colour output buffer.
        m_convertTo24 = 1;
        const std::size_t size = std::size_t(3) * static_cast<std::size_t>(m_numCameras) * m_height * m_width;
        std::free(m_colourBuffer);
        m_colourBuffer = static_cast<unsigned char*>(std::calloc(size, 1));
        m_colourBufferSize = m_colourBuffer != nullptr ? size : 0;
    }
    offsetX += static_cast<ULONG>(ChannelParam(m_camera[0], kParamOffsetX));
    offsetY += static_cast<ULONG>(ChannelParam(m_camera[0], kParamOffsetY));
    if (!CIGrab::Create(offsetX, offsetY, width, height, bitsPerPixel, bufferCount, timeout)) return 0;
    m_created = 1;
    return 1;
}

int CIGrabGev::GetNumCameras() {
    const int planes = m_imageColor == IFW_COLOR_PLANAR ? 3 : 1;
    if (m_horzTiles > 1 || m_vertTiles > 1) return planes;
    return planes * m_numCameras;
}

int CIGrabGev::GetNumAsyncCameras() { return m_asyncMode ? m_numCameras : 0; }

int CIGrabGev::GetCameraDesc(int camera, char* text) {
    if (text == nullptr) return 0;
    if (camera < 0 || camera >= m_numCameras || camera >= kMaxCameras) {
        text[0] = '\0';
        return 0;
    }
    std::memcpy(text, m_camName[camera], sizeof m_camName[camera]);
    return 1;
}

int CIGrabGev::SetActiveCamera(int camera, int flag) {
    const int result = CIGrab::SetActiveCamera(camera, flag);
    if (!result) return result;
    if (camera < 0 || camera >= kMaxCameras) return 0;
    const bool wasRunning = m_running != 0;
    if (wasRunning) Stop();
    if (camera != m_activeCamera) {
        if (m_camModule[camera] == nullptr) return 0;
        m_primaryModule = m_camModule[camera];
        m_activeCamera = camera;
    }
    if (wasRunning) Start();
    return 1;
}

int CIGrabGev::GetCommPortNum(int, IFW_COMPORT_KIND kind) {
    if (kind == IFW_COMPORT_KIND_1) return (m_gioModule != nullptr && (m_gioModule->GetModuleInfo() & 2)) ? 2 : 1;
    return (kind == IFW_COMPORT_KIND_100 || kind == IFW_COMPORT_KIND_101) ? 0 : 1;
}

// ---- Helpers ----------------------------------------------------------------

void CIGrabGev::ShowMessage(const char* caption, const char* text) {
    char line[512];
    std::snprintf(line, sizeof line, "%s: %s", caption, text);
    DbgPrint(line);
    MessageBoxA(nullptr, text, caption, MB_OK);
}

const char* CIGrabGev::CameraText(CICamera* camera, ULONG number) {
    double value = 0.0;
    if (camera == nullptr || !camera->GetAcqParam(number, &value)) return "";
    const char* text = reinterpret_cast<const char*>(static_cast<std::uintptr_t>(value));
    return text != nullptr ? text : "";
}

bool CIGrabGev::NameContains(const char* word) const { return Contains(m_camName[0], word); }
