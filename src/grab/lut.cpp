// Look-up-table settings of the common layer. There is no table to program
// here: the limits are stored for the client and for back-ends with a
// hardware table, which override these operations.
#include <kiru/cigrab.h>

UINT IXGrab::GetLUTFloor() { return m_lutFloor; }
UINT IXGrab::GetLUTCeiling() { return m_lutCeiling; }

int IXGrab::CommonWriteLUTBuf(const char* cls, ULONG count, unsigned char* table) {
    if (!CheckInitialized(cls, "WriteLUTBuf")) return 0;
    return (count != 0 && table != nullptr) ? 1 : 0;
}

int IXGrab::WriteLUTBuf(ULONG, ULONG count, unsigned char* table) { return CommonWriteLUTBuf("IXGrab", count, table); }

int CIGrab::WriteLUTBuf(ULONG, ULONG count, unsigned char* table) { return CommonWriteLUTBuf("CIGrab", count, table); }

// The limits are stored before the initialized check, so they stay set even
// when the call fails.
int CIGrab::SetLUTFloor(UINT value) {
    m_lutFloor = value;
    return CheckInitialized("CIGrab", "SetLUTFloor");
}

int CIGrab::SetLUTCeiling(UINT value) {
    m_lutCeiling = value;
    return CheckInitialized("CIGrab", "SetLUTCeiling");
}

int CIGrab::LinearizeLUT() {
    m_lutFloor = 0;
    m_lutCeiling = 255;
    return CheckInitialized("CIGrab", "LinearizeLUT");
}

int CIGrab::InvLinearizeLUT() {
    m_lutFloor = 255;
    m_lutCeiling = 0;
    return CheckInitialized("CIGrab", "InvLinearizeLUT");
}
