// Frame geometry and the frame ring: validation, sizing, allocation, and the
// setters and queries shared by IXGrab and CIGrab.
//
// Buffers owned by a grab object (ring, frame table, transform and
// interjection buffers) are allocated with malloc/calloc and freed with free.
#include <kiru/ixgrab.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr ULONG kKeep = 0xFFFFFFFEu;
constexpr ULONG kDefault = 0xFFFFFFFFu;
constexpr ULONG kNoBound = 0xFFFFFFFDu;

bool IsSentinel(ULONG v) { return v == kKeep || v == kDefault; }

}  // namespace

ULONG IXGrab::BitToBytePerPixel(ULONG bits) { return (bits + 7) / 8; }

void IXGrab::AjustValue(ULONG& value, ULONG current, ULONG def, ULONG minimum, ULONG maximum) {
    if (value == kKeep) value = current;
    if (value == kDefault) value = def;
    if (minimum != kNoBound && value < minimum) value = minimum;
    if (maximum != kNoBound && value > maximum) value = maximum;
}

int IXGrab::PlanRing(const char* cls, ULONG offsetX, ULONG offsetY, ULONG width, ULONG height, ULONG bits,
                     ULONG count, ULONG timeout, bool cigrabRules, RingPlan& plan) {
    if (!m_initialized) return Fail(cls, "Create", "Grab not initialized");

    // In quarter-turn orientation the client's width is the frame's height.
    ULONG frameW = IsQuarterTurn() ? height : width;
    ULONG frameH = IsQuarterTurn() ? width : height;
    // The client's size covers the whole mosaic; one frame is one tile. The
    // keep/default sentinels are not sizes and are left for AjustValue.
    if (!IsSentinel(frameW)) frameW /= m_horzTiles;
    if (!IsSentinel(frameH)) frameH /= m_vertTiles;

    AjustValue(offsetX, m_offsetX, 0, 0, kNoBound);
    AjustValue(offsetY, m_offsetY, 0, 0, kNoBound);
    AjustValue(frameW, m_width, 640, 32, kNoBound);
    AjustValue(frameH, m_height, 480, 32, kNoBound);
    AjustValue(bits, m_bitsPerPixel, 8, 8, 32);
    AjustValue(count, m_bufferCount, 5, 1, kNoBound);
    AjustValue(timeout, m_timeout, 5000, 0, kNoBound);

    Destroy();

    if (static_cast<std::uint64_t>(frameW) < static_cast<std::uint64_t>(offsetX) + 8 ||
        static_cast<std::uint64_t>(frameH) < static_cast<std::uint64_t>(offsetY) + 8) {
        return Fail(cls, "Create", "Crop boundaries exceed max image size");
    }
    // Wide frames leave room for only a few buffers.
    if ((frameW >= 649 && frameW <= 2047) || frameW >= 4001) count = std::min<ULONG>(count, 3);

    const ULONG B = BitToBytePerPixel(bits);
    const ULONG K = static_cast<ULONG>(GetNumCameras());
    const ULONG T = m_horzTiles * m_vertTiles;
    const ULONG G = static_cast<ULONG>(GetGrabType());
    const ULONG E = m_imageColor == IFW_COLOR_RGB32 ? 4 : std::max(B, m_bytesPerPixel);

    // Sizes are 32-bit products; the same products in 64 bits tell whether
    // the ring this geometry asks for can be described at all.
    const std::uint64_t P = std::uint64_t(frameW) * frameH;
    const std::uint64_t S = P * K * E * T;
    const std::uint64_t kPrime = (B == 1 && P < 0x300000u) ? std::max<ULONG>(K, 3) : K;
    std::uint64_t A;
    if (cigrabRules) {
        const bool tiling = m_horzTiles > 1 || m_vertTiles >= 2;
        if (tiling && G != IGRAB_EMULATOR) A = P * B;
        else if (G == IGRAB_LX2) A = P * 4;
        else if (G == IGRAB_QB2) A = P * 3;
        else A = P * B * kPrime;
        A *= (G == IGRAB_LX2) ? 4 : T;
    } else {
        A = P * T * kPrime * B;
    }
    const std::uint64_t R = std::max(A, S) * count;

    plan = RingPlan{offsetX, offsetY, frameW, frameH, bits, B, count, timeout,
                    static_cast<ULONG>(S), static_cast<ULONG>(R)};
    if (R > 0xFFFFFFFFull || R == 0) plan.ringSize = 0;  // cannot be allocated
    return 1;
}

int IXGrab::InstallRing(const char* initPrefix, const RingPlan& plan, unsigned char* ring, bool external) {
    if (ring == nullptr) {
        std::snprintf(m_lastError, sizeof m_lastError, "%s: Image ring buffer allocation failed", initPrefix);
        return 0;
    }
    auto** table = static_cast<unsigned char**>(std::malloc(sizeof(unsigned char*) * plan.count));
    if (table == nullptr) {
        if (!external) std::free(ring);
        std::snprintf(m_lastError, sizeof m_lastError, "%s: Image array allocation failed", initPrefix);
        return 0;
    }
    if (external) std::memset(ring, 0, plan.ringSize);  // calloc'ed rings are already zero
    for (ULONG i = 0; i < plan.count; ++i) table[i] = ring + std::size_t(i) * plan.stride;
    m_ring = ring;
    m_imageArray = table;

    m_timeout = plan.timeout;
    m_bitsPerPixel = plan.bits;
    m_bytesPerPixel = plan.bytes;
    m_offsetX = plan.offsetX;
    m_offsetY = plan.offsetY;
    m_width = plan.width;
    m_height = plan.height;
    m_aoiWidth = plan.width - plan.offsetX;
    m_aoiHeight = plan.height - plan.offsetY;
    m_bufferCount = plan.count;
    m_ringSize = plan.ringSize;
    m_widthByteCount = plan.width * plan.bytes;
    m_heightByteCount = plan.height * plan.bytes;
    m_imageSizePixels = plan.width * plan.height;
    m_imageSizeBytes = m_imageSizePixels * plan.bytes;
    return 1;
}

void IXGrab::ReleaseRing(bool external) {
    std::free(m_imageArray);
    m_imageArray = nullptr;
    if (!external) std::free(m_ring);
    m_ring = nullptr;
    m_ringSize = 0;
}

void IXGrab::RebuildAfterSetter(ULONG bits, ULONG count, ULONG timeout) {
    if (!m_created) return;
    const int wasRunning = m_running;
    Create(kKeep, kKeep, kKeep, kKeep, bits, count, timeout);
    if (wasRunning) Start();
}

// The interface's own Create: the plain ring rule, always heap-allocated,
// no heartbeat.
int IXGrab::Create(ULONG offsetX, ULONG offsetY, ULONG width, ULONG height, ULONG bits, ULONG count,
                   ULONG timeout) {
    RingPlan plan;
    if (!PlanRing("IXGrab", offsetX, offsetY, width, height, bits, count, timeout, false, plan)) return 0;
    unsigned char* ring = plan.ringSize ? static_cast<unsigned char*>(std::calloc(plan.ringSize, 1)) : nullptr;
    if (!InstallRing("IXGrab Init", plan, ring, false)) return 0;
    GetGpioAttr(&m_gpioAttr);
    return 1;
}

int IXGrab::SetWidth(ULONG) {
    m_widthSetExplicitly = 0;
    return 0;
}

int IXGrab::SetHeight(ULONG) {
    m_heightSetExplicitly = 0;
    return 0;
}

int IXGrab::SetBytesPP(ULONG bytes) {
    AjustValue(bytes, m_bytesPerPixel, 1, 1, 4);
    if (bytes == m_bytesPerPixel) return 1;
    m_bytesPerPixel = bytes;
    m_bitsPerPixel = 8 * bytes;
    RebuildAfterSetter(m_bitsPerPixel, kKeep, kKeep);
    return 1;
}

int IXGrab::SetBufferCount(ULONG count) {
    AjustValue(count, m_bufferCount, 5, 1, kNoBound);
    if (m_width > 640) count = std::min<ULONG>(count, 3);
    if (count == m_bufferCount) return 1;
    m_bufferCount = count;
    RebuildAfterSetter(m_bitsPerPixel, m_bufferCount, kKeep);
    return 1;
}

ULONG IXGrab::GetBytesPP() { return m_bytesPerPixel; }
ULONG IXGrab::GetBufferCount() { return m_bufferCount; }

int IXGrab::SetTiling(ULONG horizontal, ULONG vertical) {
    m_horzTiles = horizontal ? horizontal : 1;
    m_vertTiles = vertical ? vertical : 1;
    return 1;
}
ULONG IXGrab::GetHorzTiles() { return m_horzTiles; }
ULONG IXGrab::GetVertTiles() { return m_vertTiles; }

// The client's view of the mosaic, turned by a quarter when rotated so.
ULONG IXGrab::GetWidth() {
    if (IsQuarterTurn()) return (m_vertTiles * m_height) & ~7u;
    return m_horzTiles * m_width;
}

ULONG IXGrab::GetHeight() {
    if (IsQuarterTurn()) return m_horzTiles * m_width;
    return m_vertTiles * m_height;
}

void* IXGrab::GetFramePtr(int) { return m_ring; }

int IXGrab::CommonSetImageColor(const char* cls, IFW_IMAGE_COLOR_TYPE type, OffsetByteCounts* counts) {
    if (!m_initialized) return Fail(cls, "SetImageColor", "Grab not initialized");
    if (type == m_imageColor) return 0;
    const int wasRunning = m_running;
    if (wasRunning) Stop();

    m_imageColor = type;
    m_bytesPerPixel = type == IFW_COLOR_RGB32 ? 4 : type == IFW_COLOR_RGB24 ? 3 : 1;
    m_bitsPerPixel = 8 * m_bytesPerPixel;
    m_widthByteCount = m_width * m_bytesPerPixel;
    m_heightByteCount = m_height * m_bytesPerPixel;
    m_imageSizePixels = m_width * m_height;
    m_imageSizeBytes = m_imageSizePixels * m_bytesPerPixel;
    if (counts != nullptr) {
        counts->offsetX = m_offsetX * m_bytesPerPixel;
        counts->offsetY = m_offsetY * m_bytesPerPixel;
        counts->aoiWidth = m_aoiWidth * m_bytesPerPixel;
        counts->aoiHeight = m_aoiHeight * m_bytesPerPixel;
    }

    // The ring keeps its size; only the frame spacing follows the new type.
    if (m_ring != nullptr && m_imageArray != nullptr) {
        const std::size_t spacing = std::size_t(m_width) * m_height * ColorStrideFactor();
        for (ULONG i = 0; i < m_bufferCount; ++i) m_imageArray[i] = m_ring + i * spacing;
    }
    if (m_transformBuffer != nullptr) {
        std::free(m_transformBuffer);
        const std::size_t size =
            std::size_t(GetNumCameras()) * m_vertTiles * m_horzTiles * std::size_t(m_imageSizeBytes) * 2;
        m_transformBuffer = static_cast<unsigned char*>(std::malloc(size ? size : 1));
    }
    if (wasRunning) Start();
    return 1;
}

int IXGrab::SetImageColor(IFW_IMAGE_COLOR_TYPE type) { return CommonSetImageColor("IXGrab", type, nullptr); }
