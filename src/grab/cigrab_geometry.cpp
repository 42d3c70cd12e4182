// CIGrab's single-value geometry setters and queries. A setter validates,
// stores, and rebuilds the ring (restarting acquisition) when one exists.
#include <kiru/cigrab.h>

namespace {
constexpr ULONG kKeep = 0xFFFFFFFEu;
constexpr ULONG kNoBound = 0xFFFFFFFDu;
constexpr const char* kCrop = "Crop boundaries exceed max image size";

// Room for the crop: size - offset must leave at least 8 pixels.
bool CropFits(ULONG size, ULONG offset) { return size >= offset && size - offset >= 8; }
}  // namespace

// Stores a validated value and rebuilds the ring; an unchanged value is a
// success with nothing to do.
int CIGrab::StoreGeometry(ULONG& field, ULONG value) {
    if (value == field) return 1;
    field = value;
    RebuildAfterSetter(kKeep, kKeep, kKeep);
    return 1;
}

int CIGrab::SetOffsetX(ULONG x) {
    AjustValue(x, m_offsetX, 0, 0, kNoBound);
    if (!CropFits(m_width, x)) return Fail("CIGrab", "SetOffsetX", kCrop);
    return StoreGeometry(m_offsetX, x);
}

int CIGrab::SetOffsetY(ULONG y) {
    AjustValue(y, m_offsetY, 0, 0, kNoBound);
    if (!CropFits(m_height, y)) return Fail("CIGrab", "SetOffsetY", kCrop);
    return StoreGeometry(m_offsetY, y);
}

// Messages name the public operation, since SetWidth/SetHeight lead here.
int CIGrab::iSetWidth(ULONG width) {
    AjustValue(width, m_width, 640, 32, kNoBound);
    if (!CropFits(width, m_offsetX)) return Fail("CIGrab", "SetWidth", kCrop);
    return StoreGeometry(m_width, width);
}

int CIGrab::iSetHeight(ULONG height) {
    AjustValue(height, m_height, 480, 32, kNoBound);
    if (!CropFits(height, m_offsetY)) return Fail("CIGrab", "SetHeight", kCrop);
    return StoreGeometry(m_height, height);
}

// In quarter-turn orientation the client's width is the frame's height.
int CIGrab::SetWidth(ULONG width) {
    m_widthSetExplicitly = 1;
    return IsQuarterTurn() ? iSetHeight(width) : iSetWidth(width);
}

int CIGrab::SetHeight(ULONG height) {
    m_heightSetExplicitly = 1;
    return IsQuarterTurn() ? iSetWidth(height) : iSetHeight(height);
}

int CIGrab::SetAoiWidth(ULONG width) {
    if (static_cast<LONG>(width) < 8) return Fail("CIGrab", "SetAoiWidth", kCrop);
    if (width == m_aoiWidth) return 1;
    m_aoiWidth = width;
    m_width = m_offsetX + width;
    RebuildAfterSetter(kKeep, kKeep, kKeep);
    return 1;
}

int CIGrab::SetAoiHeight(ULONG height) {
    if (static_cast<LONG>(height) < 8) return Fail("CIGrab", "SetAoiHeight", kCrop);
    if (height == m_aoiHeight) return 1;
    m_aoiHeight = height;
    m_height = m_offsetY + height;
    RebuildAfterSetter(kKeep, kKeep, kKeep);
    return 1;
}

int CIGrab::SetBitsPP(ULONG bits) {
    AjustValue(bits, m_bitsPerPixel, 8, 8, 32);
    if (bits == m_bitsPerPixel) return 1;
    m_bitsPerPixel = bits;
    m_bytesPerPixel = (bits + 7) / 8;
    RebuildAfterSetter(bits, kKeep, kKeep);
    return 1;
}

int CIGrab::SetTimeOut(ULONG timeout) {
    AjustValue(timeout, m_timeout, 5000, 0, kNoBound);
    if (timeout == m_timeout) return 1;
    m_timeout = timeout;
    RebuildAfterSetter(m_bitsPerPixel, m_bufferCount, timeout);
    return 1;
}

int CIGrab::SetWindowGen(ULONG x, ULONG y, ULONG width, ULONG height) {
    AjustValue(x, m_offsetX, 0, 0, kNoBound);
    AjustValue(y, m_offsetY, 0, 0, kNoBound);
    AjustValue(width, m_width, 640, 32, kNoBound);
    AjustValue(height, m_height, 480, 32, kNoBound);
    if (!CropFits(width, x) || !CropFits(height, y)) return Fail("CIGrab", "SetWindowGen", kCrop);
    if (x == m_offsetX && y == m_offsetY && width == m_width && height == m_height) return 1;
    m_offsetX = x;
    m_offsetY = y;
    m_width = width;
    m_height = height;
    RebuildAfterSetter(kKeep, kKeep, kKeep);
    return 1;
}

int CIGrab::SetImageColor(IFW_IMAGE_COLOR_TYPE type) { return CommonSetImageColor("CIGrab", type, &m_byteCounts); }

int CIGrab::IsTiling() { return (m_horzTiles > 1 || m_vertTiles > 1) ? 1 : 0; }

// Smoothed frame rate from per-frame time stamps in microseconds.
void CIGrab::UpdateFrameRate(double t) {
    if (m_lastFrameTime == 0.0) {
        m_lastFrameTime = t;
        return;
    }
    double rate = 1000000.0 / (t - m_lastFrameTime);
    if (m_frameRate != 0.0) rate = 0.75 * m_frameRate + 0.25 * rate;
    m_frameRate = rate;
    m_lastFrameTime = t;
}

ULONG CIGrab::GetOffsetX() { return m_offsetX; }
ULONG CIGrab::GetOffsetY() { return m_offsetY; }
ULONG CIGrab::GetBitPP() { return m_bitsPerPixel; }
ULONG CIGrab::GetAoiWidth() { return m_aoiWidth; }
ULONG CIGrab::GetAoiHeight() { return m_aoiHeight; }
ULONG CIGrab::GetTimeOut() { return m_timeout; }
ULONG CIGrab::GetOffsetXByteCount() { return m_byteCounts.offsetX; }
ULONG CIGrab::GetOffsetYByteCount() { return m_byteCounts.offsetY; }
ULONG CIGrab::GetWidthByteCount() { return m_widthByteCount; }
ULONG CIGrab::GetHeightByteCount() { return m_heightByteCount; }
ULONG CIGrab::GetAoiWidthByteCount() { return m_byteCounts.aoiWidth; }
ULONG CIGrab::GetAoiHeightByteCount() { return m_byteCounts.aoiHeight; }
ULONG CIGrab::GetRingBufferSize() { return m_ringSize; }
ULONG CIGrab::GetImageSizeInBytes() { return m_imageSizeBytes; }
ULONG CIGrab::GetImageSizeInPixels() { return m_imageSizePixels; }
