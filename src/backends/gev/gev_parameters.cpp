// SCAFFOLD: every body here is replaced by the real one (grep "not implemented yet").
#include <kiru/cigrab_gev.h>

void CIGrabGev::SetCamParam(ULONG, double, ULONG) {
}

void CIGrabGev::SetAllCamParam(ULONG, double, ULONG) {
}

void CIGrabGev::ApplyParameters(int) {
}

ULONG CIGrabGev::GetParamId(ULONG) {
    return 0;
}

ULONG CIGrabGev::GetParamIndex(ULONG) {
    return 0;
}

int CIGrabGev::SetExposure(double, int) {
    return Fail("CIGrabGev", "SetExposure", "not implemented yet");
}

double CIGrabGev::GetExposure() {
    return 0;
}

double CIGrabGev::GetCamExposure(int) {
    return 0;
}

int CIGrabGev::SetBrightness(UINT) {
    return Fail("CIGrabGev", "SetBrightness", "not implemented yet");
}

int CIGrabGev::SetContrast(UINT) {
    return Fail("CIGrabGev", "SetContrast", "not implemented yet");
}

int CIGrabGev::SetCamBrightness(UINT, int) {
    return Fail("CIGrabGev", "SetCamBrightness", "not implemented yet");
}

UINT CIGrabGev::GetBrightness() {
    return 0;
}

UINT CIGrabGev::GetContrast() {
    return 0;
}

UINT CIGrabGev::GetCamBrightness(int) {
    return 0;
}

int CIGrabGev::SetTriggerMethod(TriggerMethod) {
    return Fail("CIGrabGev", "SetTriggerMethod", "not implemented yet");
}

int CIGrabGev::SetCamTriggerMethod(TriggerMethod, int) {
    return Fail("CIGrabGev", "SetCamTriggerMethod", "not implemented yet");
}

IXGrab::TriggerMethod CIGrabGev::GetTriggerMethod() {
    return TRIGGER_NONE;
}

int CIGrabGev::SetTriggerParams() {
    return Fail("CIGrabGev", "SetTriggerParams", "not implemented yet");
}

int CIGrabGev::SetTriggerSource(int) {
    return Fail("CIGrabGev", "SetTriggerSource", "not implemented yet");
}

int CIGrabGev::SetFrameDelay(UINT) {
    return Fail("CIGrabGev", "SetFrameDelay", "not implemented yet");
}

UINT CIGrabGev::GetFrameDelay() {
    return 0;
}

void CIGrabGev::SetTrigScaler(int, int) {
}

int CIGrabGev::GetTrigScaler(int) {
    return Fail("CIGrabGev", "GetTrigScaler", "not implemented yet");
}

int CIGrabGev::SetImageColor(IFW_IMAGE_COLOR_TYPE) {
    return Fail("CIGrabGev", "SetImageColor", "not implemented yet");
}

UINT CIGrabGev::GetExternalTriggerDelay() {
    return 0;
}

int CIGrabGev::GetExternalTriggerDelayEnable() {
    return Fail("CIGrabGev", "GetExternalTriggerDelayEnable", "not implemented yet");
}

UINT CIGrabGev::GetPartsBetweenSensors() {
    return 0;
}

ULONG CIGrabGev::ReadReg(ULONG) {
    return 0;
}

void CIGrabGev::WriteReg(ULONG, ULONG) {
}

double CIGrabGev::Count2Gain(ULONG, double, double) {
    return 0;
}

double CIGrabGev::Decibel2Gain(double) {
    return 0;
}

double CIGrabGev::Gain2Decibel(double) {
    return 0;
}

int CIGrabGev::GetBaseEquation(int, char*) {
    return Fail("CIGrabGev", "GetBaseEquation", "not implemented yet");
}

void CIGrabGev::StoreParam(int, ULONG, double, ULONG) {
}
