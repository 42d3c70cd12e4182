// SCAFFOLD: every body here is replaced by the real one (grep "not implemented yet").
#include <kiru/cigrab_gev.h>

int CIGrabGev::Start() {
    return Fail("CIGrabGev", "Start", "not implemented yet");
}

int CIGrabGev::Stop() {
    return Fail("CIGrabGev", "Stop", "not implemented yet");
}

int CIGrabGev::Terminate() {
    return Fail("CIGrabGev", "Terminate", "not implemented yet");
}

int CIGrabGev::Destroy() {
    return Fail("CIGrabGev", "Destroy", "not implemented yet");
}

int CIGrabGev::GenerateSoftTrigger(int) {
    return Fail("CIGrabGev", "GenerateSoftTrigger", "not implemented yet");
}

void CIGrabGev::GenerateManualTrigger(int) {
}

ULONG CIGrabGev::GetFrameCount(int) {
    return 0;
}

void*CIGrabGev::GetFramePtr(int) {
    return nullptr;
}

double CIGrabGev::GetFrameTimestamp(int) {
    return 0;
}

void CIGrabGev::SetAcqReady(int) {
}

int CIGrabGev::Display(HWND, unsigned char*) {
    return Fail("CIGrabGev", "Display", "not implemented yet");
}

void CIGrabGev::RegisterAcquireEventCallback(IFW_ACQ_EVENT_CALLBACK, void*) {
}

void CIGrabGev::UnRegisterAcquireEventCallback() {
}

void CIGrabGev::StartGrabs(int) {
}

void CIGrabGev::StopGrabs(int) {
}

void CIGrabGev::StartGeni(int) {
}

void CIGrabGev::StopGeni(int) {
}

void CIGrabGev::GevaSoftTrig(int) {
}

void CIGrabGev::StartExposureInterrupt(int) {
}

void CIGrabGev::ChangeSolutionInterrupt() {
}

DWORD CIGrabGev::ThreadHostMain(void*) {
    return 0;
}

DWORD CIGrabGev::RunThreadHost() {
    return 0;
}

void CIGrabGev::RunAsyncLoop() {
}

void CIGrabGev::RunSyncLoop() {
}

void CIGrabGev::CheckLostFrames(int, OrvGrabTag*, ULONG, bool) {
}

void CIGrabGev::IoInterrupt(void*) {
}

void CIGrabGev::ChannelInterrupt(void*) {
}
