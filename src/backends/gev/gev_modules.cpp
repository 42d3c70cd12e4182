// SCAFFOLD: every body here is replaced by the real one (grep "not implemented yet").
#include <kiru/cigrab_gev.h>

CIGrabGev::CIGrabGev()
    : m_camModule{}, m_camera{}, m_camAttr{}, m_camName{}, m_camAddress{}, m_fromMarker{}, m_interrupt{}, m_cam{},
      m_grab{}, m_frameAddress{}, m_frameIndex{}, m_camFrameCount{}, m_frameTime{}, m_arrivalTime{}, m_paramValue{},
      m_paramSet{}, m_numCameras(1), m_primaryModule(nullptr), m_gioModule(nullptr), m_qbmModule(nullptr),
      m_trxModule(nullptr), m_rcsModule(nullptr), m_usbModule{}, m_ioCallback(nullptr), m_trxCallback{},
      m_usbCallback{}, m_channelContext{}, m_exposureDivider(100), m_lineScan(0), m_bayerCode(0), m_convertTo24(0),
      m_colourBuffer(nullptr), m_colourBufferSize(0), m_os(nullptr), m_acqReadyEvent(nullptr), m_goEvent(nullptr),
      m_acqStoppedEvent(nullptr), m_acqThread(nullptr), m_inAcquisition(0), m_manualTriggerPending(0),
      m_currentCamera(0), m_results{}, m_acqEventCallback(nullptr), m_acqEventContext(nullptr), m_display(nullptr),
      m_hwTriggerSource(2), m_lastLostCount(0), m_transferTime(0) {}

CIGrabGev::~CIGrabGev() {}

IFW_IGRABTYPE CIGrabGev::GetGrabType() {
    return IGRAB_GEV;
}

int CIGrabGev::Initialize() {
    return Fail("CIGrabGev", "Initialize", "not implemented yet");
}

int CIGrabGev::Create(ULONG, ULONG, ULONG, ULONG, ULONG, ULONG, ULONG) {
    return Fail("CIGrabGev", "Create", "not implemented yet");
}

int CIGrabGev::GetNumCameras() {
    return Fail("CIGrabGev", "GetNumCameras", "not implemented yet");
}

int CIGrabGev::GetNumAsyncCameras() {
    return Fail("CIGrabGev", "GetNumAsyncCameras", "not implemented yet");
}

int CIGrabGev::GetCameraDesc(int, char*) {
    return Fail("CIGrabGev", "GetCameraDesc", "not implemented yet");
}

int CIGrabGev::SetActiveCamera(int, int) {
    return Fail("CIGrabGev", "SetActiveCamera", "not implemented yet");
}

int CIGrabGev::GetCommPortNum(int, IFW_COMPORT_KIND) {
    return Fail("CIGrabGev", "GetCommPortNum", "not implemented yet");
}

CICapMod*CIGrabGev::CreateCaptureModule(const char*, ULONG, const char*) {
    return nullptr;
}

int CIGrabGev::CreateModules(int) {
    return Fail("CIGrabGev", "CreateModules", "not implemented yet");
}

int CIGrabGev::DeleteModules(int) {
    return Fail("CIGrabGev", "DeleteModules", "not implemented yet");
}

int CIGrabGev::ReCreateModules(int) {
    return Fail("CIGrabGev", "ReCreateModules", "not implemented yet");
}

int CIGrabGev::CheckCCP(int) {
    return Fail("CIGrabGev", "CheckCCP", "not implemented yet");
}

int CIGrabGev::CheckConnection(int) {
    return Fail("CIGrabGev", "CheckConnection", "not implemented yet");
}

void CIGrabGev::ShowMessage(const char*, const char*) {
}

const char*CIGrabGev::CameraText(CICamera*, ULONG) {
    return nullptr;
}

bool CIGrabGev::NameContains(const char*) const {
    return false;
}
