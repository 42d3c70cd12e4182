// SCAFFOLD: every body here is replaced by the real one (grep "not implemented yet").
#include <kiru/cigrab_gev.h>

unsigned char*CIGrabGev::ConvertTo24(int, unsigned char*) {
    return nullptr;
}

int CIGrabGev::ComputeWhiteBalance(int, IFW_RECT*) {
    return Fail("CIGrabGev", "ComputeWhiteBalance", "not implemented yet");
}

int CIGrabGev::SetWhiteBalance(int, IFW_RECT*) {
    return Fail("CIGrabGev", "SetWhiteBalance", "not implemented yet");
}
