// Client callbacks: registration, re-delivery on request, and the hooks the
// back-ends' acquisition threads call.
#include <kiru/cigrab.h>

#include "platform/kernel.h"

void IXGrab::RegisterTrashCallback(IFW_BUFFER_CALLBACK fn, void* context) {
    m_trashCallback = fn;
    m_trashContext = context;
}

void IXGrab::RegisterBufferCallback(IFW_BUFFER_CALLBACK fn, void* context) {
    m_bufferCallback = fn;
    m_bufferContext = context;
}

void IXGrab::RegisterBufferCallbackEx(IFW_BUFFER_EX_CALLBACK fn, void* context) {
    m_bufferExCallback = fn;
    m_bufferExContext = context;
}

// Error callbacks are accepted and never called by the common layer.
void IXGrab::RegisterErrorCallback(IFW_BUFFER_CALLBACK, void*) {}
void IXGrab::UnRegisterErrorCallback() {}

void IXGrab::RegisterChangeSolutionCallback(IFW_BUFFER_CALLBACK fn, void* context) {
    m_changeSolutionCallback = fn;
    m_changeSolutionContext = context;
}

void IXGrab::RegisterAcqThreadExitCallback(IFW_ACQ_EXIT_CALLBACK fn, void* context) {
    m_acqThreadExitCallback = fn;
    m_acqThreadExitContext = context;
}

void IXGrab::UnRegisterTrashCallback() {
    m_trashCallback = nullptr;
    m_trashContext = nullptr;
}

// The buffer and buffer-ex callbacks go together.
void IXGrab::UnRegisterBufferCallback() {
    m_bufferCallback = nullptr;
    m_bufferContext = nullptr;
    m_bufferExCallback = nullptr;
    m_bufferExContext = nullptr;
}

void IXGrab::UnRegisterChangeSolutionCallback() {
    m_changeSolutionCallback = nullptr;
    m_changeSolutionContext = nullptr;
}

void IXGrab::UnRegisterAcqThreadExitCallback() {
    m_acqThreadExitCallback = nullptr;
    m_acqThreadExitContext = nullptr;
}

void IXGrab::UnregisterOnTerminate() {
    UnRegisterTrashCallback();
    UnRegisterErrorCallback();
    UnRegisterBufferCallback();
    UnRegisterChangeSolutionCallback();
    UnRegisterAcqThreadExitCallback();
}

// Delivers the camera's current frame again. Refused on the acquisition
// thread itself so that a callback cannot re-enter itself this way.
void IXGrab::ReTrigger(int camera) {
    if (!BufferCallbackRegistered()) return;
    void* frame = GetFramePtr(camera);
    if (frame == nullptr) return;
    if (static_cast<ULONG>(::GetCurrentThreadId()) == m_acqThreadId) return;
    m_bufferCallback(static_cast<unsigned char*>(frame), GetFrameCount(camera), 0, m_bufferContext);
}

// Delivers a given image; the busy flag stops the callback from triggering
// itself again through this operation.
void IXGrab::ReTrigger(unsigned char* image, int camera) {
    if (!BufferCallbackRegistered() || image == nullptr || m_retriggerBusy) return;
    m_retriggerBusy = 1;
    m_bufferCallback(image, GetFrameCount(camera), 0, m_bufferContext);
    m_retriggerBusy = 0;
}

void CIGrab::AcqThreadExitting() {
    if (m_acqThreadExitCallback != nullptr) m_acqThreadExitCallback(m_acqThreadExitContext);
}

void CIGrab::DbgPrint(char* message) {
    if (m_dbgCatcher != nullptr) m_dbgCatcher(m_dbgCatcherContext, message);
}
