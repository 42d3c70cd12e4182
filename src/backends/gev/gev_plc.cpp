// CIGrabGev: the PLC link of the "RCS" I/O controller, and the look-up and
// calibration tables of the cameras.
//
// Every PLC operation hands its arguments to the controller unchanged and
// gives its result back; without a controller it fails and calls nothing.
// A file-change registration is a small record of ours: the controller calls
// PlcDataInChanged with it on the library's interrupt thread, which copies
// the changed value into the client's record and calls the client.
#include <kiru/cigrab_gev.h>
#include <kiru/scoped_handles.h>

#include "capture/orv.h"

namespace {

constexpr ULONG kTableLut = 0;
constexpr ULONG kTableCalibration = 3;
constexpr ULONG kTableFlags = 2;

}  // namespace

// The controller opened in the "RCS" slot is always the library's CRCS.
CRCS* CIGrabGev::Rcs() const { return static_cast<CRCS*>(m_rcsModule); }

// ---- Data and address ----------------------------------------------------------

int CIGrabGev::PlcGetInputs(ULONG offset, ULONG count, unsigned char* data) {
    return Rcs() != nullptr ? Rcs()->PlcGetInputs(offset, count, data) : 0;
}
int CIGrabGev::PlcGetInputsSigned16(ULONG offset, ULONG count, unsigned short* data) {
    return Rcs() != nullptr ? Rcs()->PlcGetInputsSigned16(offset, count, data) : 0;
}
int CIGrabGev::PlcGetInputsSigned32(ULONG offset, ULONG count, ULONG* data) {
    return Rcs() != nullptr ? Rcs()->PlcGetInputsSigned32(offset, count, data) : 0;
}
int CIGrabGev::PlcGetInputsFloat(ULONG offset, ULONG count, float* data) {
    return Rcs() != nullptr ? Rcs()->PlcGetInputsFloat(offset, count, data) : 0;
}
int CIGrabGev::PlcSetOutputs(ULONG offset, ULONG count, unsigned char* data) {
    return Rcs() != nullptr ? Rcs()->PlcSetOutputs(offset, count, data) : 0;
}
int CIGrabGev::PlcSetOutputsSigned16(ULONG offset, ULONG count, unsigned short* data) {
    return Rcs() != nullptr ? Rcs()->PlcSetOutputsSigned16(offset, count, data) : 0;
}
int CIGrabGev::PlcSetOutputsSigned32(ULONG offset, ULONG count, ULONG* data) {
    return Rcs() != nullptr ? Rcs()->PlcSetOutputsSigned32(offset, count, data) : 0;
}
int CIGrabGev::PlcSetOutputsFloat(ULONG offset, ULONG count, float* data) {
    return Rcs() != nullptr ? Rcs()->PlcSetOutputsFloat(offset, count, data) : 0;
}
int CIGrabGev::PlcSetIPAddress(ULONG address, ULONG mask, ULONG gateway, char* name) {
    return Rcs() != nullptr ? Rcs()->PlcSetIPAddress(address, mask, gateway, name) : 0;
}
ULONG CIGrabGev::PlcGetIPAddress(ULONG* address, ULONG* mask, char* name) {
    return Rcs() != nullptr ? static_cast<ULONG>(Rcs()->PlcGetIPAddress(address, mask, name)) : 0;
}
int CIGrabGev::PlcGetMACAddress(unsigned char* address) {
    return Rcs() != nullptr ? Rcs()->PlcGetMACAddress(address) : 0;
}

int CIGrabGev::IsPLCTypeSupported(IFW_COMM_ROLE_TYPE role) {
    if (Rcs() == nullptr) return 0;
    const ULONG type = Rcs()->GetPlcType();
    if (role == IFW_COMM_ROLE_18 && type == RCS_PLC_SCANNER) return 1;
    if (role == IFW_COMM_ROLE_9 && type == RCS_PLC_ADAPTER) return 1;
    return 0;
}

// ---- File-change callbacks ------------------------------------------------------

void CIGrabGev::PlcDataInChanged(RCS_DATAIN_CB_RECORD* change, void* registration) {
    auto* r = static_cast<PlcFileCallback*>(registration);
    r->record.value = static_cast<std::int64_t>(change->Value);
    r->fn(&r->record, r->context);
}

void* CIGrabGev::PlcAddFileChangeCallback(ULONG, ULONG first, ULONG second, ULONG third, IFW_FILE_CHANGE_CALLBACK fn,
                                          void* context) {
    if (Rcs() == nullptr) return nullptr;
    auto* r = new PlcFileCallback{this, fn, context, nullptr, {first, second, third, 0}, nullptr};
    HDATAIN handle = Rcs()->AddDataInChangeCallback(first, second, third, &CIGrabGev::PlcDataInChanged, r);
    if (handle == nullptr) {
        // The controller refused the watch: nothing is left registered.
        delete r;
        return nullptr;
    }
    r->handle = handle;
    r->next = m_plcCallbacks;
    m_plcCallbacks = r;
    return r;
}

int CIGrabGev::PlcDelFileChangeCallback(void* handle) {
    if (handle == nullptr || Rcs() == nullptr) return 0;
    for (PlcFileCallback** link = &m_plcCallbacks; *link != nullptr; link = &(*link)->next) {
        if (*link != handle) continue;
        PlcFileCallback* r = *link;
        // Deleting waits for a call in progress, so the record can go after it.
        Rcs()->DelDataInChangeCallback(static_cast<HDATAIN>(r->handle));
        *link = r->next;
        delete r;
        return 1;
    }
    return 0;
}

void CIGrabGev::DeletePlcCallbacks() {
    while (m_plcCallbacks != nullptr) {
        PlcFileCallback* r = m_plcCallbacks;
        m_plcCallbacks = r->next;
        if (Rcs() != nullptr) Rcs()->DelDataInChangeCallback(static_cast<HDATAIN>(r->handle));
        delete r;
    }
}

// ---- Tables ---------------------------------------------------------------------

int CIGrabGev::WriteLUTBuf(ULONG first, ULONG count, unsigned char* table) {
    if (!CIGrab::WriteLUTBuf(first, count, table)) return 0;
    CMutexHold lock(m_grabLock, INFINITE);
    for (int c = 0; c < m_numCameras && c < kMaxCameras; ++c)
        if (m_camera[c] != nullptr) m_camera[c]->WriteTable(kTableLut, first, count, table, kTableFlags);
    return 1;
}

int CIGrabGev::LinearizeLUT() {
    if (!CIGrab::LinearizeLUT()) return 0;
    CMutexHold lock(m_grabLock, INFINITE);
    for (int c = 0; c < m_numCameras && c < kMaxCameras; ++c)
        if (m_camera[c] != nullptr) m_camera[c]->LinearTable(kTableLut, kTableFlags);
    return 1;
}

int CIGrabGev::InvLinearizeLUT() {
    if (!CIGrab::InvLinearizeLUT()) return 0;
    CMutexHold lock(m_grabLock, INFINITE);
    for (int c = 0; c < m_numCameras && c < kMaxCameras; ++c)
        if (m_camera[c] != nullptr) m_camera[c]->InverseTable(kTableLut, kTableFlags);
    return 1;
}

void CIGrabGev::WriteCalib(unsigned char* data, ULONG size) {
    const int camera = ParamCamera();
    {
        CMutexHold lock(m_grabLock, INFINITE);
        if (m_camera[camera] == nullptr) return;
    }
    // The camera takes a new calibration table only while it does not grab.
    const bool wasRunning = m_running != 0;
    if (wasRunning) Stop();
    {
        CMutexHold lock(m_grabLock, INFINITE);
        if (m_camera[camera] != nullptr)
            m_camera[camera]->WriteTable(kTableCalibration, 0, size, data, kTableFlags);
    }
    if (wasRunning) Start();
}
