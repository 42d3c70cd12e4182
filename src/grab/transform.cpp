// Image transforms of the grab object: the double-buffered ApplyImageTransform
// pipeline (mosaic, mirror or flip, rotation), the mosaic copy of tiled
// acquisition and the setters that select them. The pixel kernels live in
// src/image.
#include <kiru/cigrab.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <utility>
#if defined(__GLIBC__) || defined(_WIN32)
#include <malloc.h>  // malloc_usable_size, _msize
#endif

#include "image/image_kernels.h"

namespace {

// One counter per class, shared by all its objects: the lowest bit picks the
// half of the transform buffer a call writes into, so the image returned by
// one call survives the next. Two objects may race on it; each still writes
// only into its own buffer, so the increment only needs to be atomic.
unsigned g_ixgrabHalfSelector = 0;
unsigned g_cigrabHalfSelector = 0;

unsigned NextHalf(unsigned& selector) { return __atomic_fetch_add(&selector, 1u, __ATOMIC_RELAXED); }

// Bytes a malloc'ed block can hold.
std::size_t UsableBytes(void* block) {
#if defined(__GLIBC__)
    return malloc_usable_size(block);
#elif defined(_WIN32)
    return _msize(block);
#else
    (void)block;
    return SIZE_MAX;
#endif
}

}  // namespace

unsigned char* IXGrab::CommonApplyImageTransform(unsigned char* image, bool withTiling, unsigned& halfSelector) {
    const int numCameras = GetNumCameras();
    const std::size_t cameras = numCameras > 0 ? static_cast<std::size_t>(numCameras) : 0;
    const std::size_t blockStep = m_imageSizeBytes;
    const std::size_t frameSet = std::size_t(m_vertTiles) * m_horzTiles * cameras * blockStep;

    const bool mosaic = withTiling && m_horzTiles > 1;
    const bool mirror = m_imgTransform == IFW_TRANSFORM_MIRROR;
    const bool flip = m_imgTransform == IFW_TRANSFORM_FLIP;
    const bool rotate = m_rotation != 0;
    const bool needsBuffer = m_horzTiles > 1 || rotate || m_imgTransform != IFW_TRANSFORM_NONE;

    // The buffer is kept across geometry changes; one sized for a smaller
    // geometry is replaced rather than overrun.
    if (needsBuffer && frameSet > 0 &&
        (m_transformBuffer == nullptr || UsableBytes(m_transformBuffer) < 2 * frameSet)) {
        std::free(m_transformBuffer);
        m_transformBuffer = static_cast<unsigned char*>(std::malloc(2 * frameSet));
    }

    const unsigned half = NextHalf(halfSelector);
    if (!(mosaic || mirror || flip || rotate)) return image;
    // Without a work area (no geometry yet, or no memory) the image is
    // handed back as it is.
    if (m_transformBuffer == nullptr || frameSet == 0 || image == nullptr) return image;

    unsigned char* cur = image;
    unsigned char* other = m_transformBuffer + ((half & 1u) ? frameSet : 0);

    // From the first stage on, the client's buffer is the second work area.
    if (mosaic) {
        kiru::img::MosaicCopy(cur, other, m_horzTiles, m_vertTiles, m_widthByteCount, m_height);
        std::swap(cur, other);
    }

    const std::size_t bpp = m_bytesPerPixel;
    const bool exactQuarter = m_rotation == 90 || m_rotation == 270;
    // A block of one camera runs past the frame set only when a back-end
    // reports a size the geometry does not hold; such a block is skipped.
    auto fits = [&](std::size_t c, std::size_t width, std::size_t rows) {
        return c * blockStep + width * rows * bpp <= frameSet;
    };

    if (mirror || flip) {
        const std::size_t width = exactQuarter ? GetHeight() : GetWidth();
        const std::size_t rows = exactQuarter ? GetWidth() : GetHeight();
        for (std::size_t c = 0; c < cameras; ++c) {
            if (!fits(c, width, rows)) continue;
            const std::size_t at = c * blockStep;
            if (mirror)
                kiru::img::MirrorImage(cur + at, other + at, width, rows, static_cast<unsigned>(bpp));
            else
                kiru::img::FlipImage(cur + at, other + at, width * bpp, rows);
        }
        std::swap(cur, other);
    }

    if (rotate) {
        // The source of a quarter turn is the unturned frame.
        const bool quarter = IsQuarterTurn();
        const std::size_t width = quarter ? GetHeight() : GetWidth();
        const std::size_t rows = quarter ? GetWidth() : GetHeight();
        const unsigned pixel = (bpp >= 1 && bpp <= 4) ? static_cast<unsigned>(bpp) : 1u;
        for (std::size_t c = 0; c < cameras; ++c) {
            if (!fits(c, width, rows)) continue;
            const std::size_t at = c * blockStep;
            kiru::img::RotateBlock(cur + at, width, rows, other + at, pixel, m_rotation);
        }
        return other;
    }
    return cur;
}

unsigned char* IXGrab::ApplyImageTransform(unsigned char* image, int) {
    return CommonApplyImageTransform(image, false, g_ixgrabHalfSelector);
}

unsigned char* CIGrab::ApplyImageTransform(unsigned char* image, int) {
    return CommonApplyImageTransform(image, true, g_cigrabHalfSelector);
}

unsigned char* CIGrab::VertToHorzPlanes(unsigned char* src, unsigned char* dst) {
    kiru::img::MosaicCopy(src, dst, m_horzTiles, m_vertTiles, m_widthByteCount, m_height);
    return dst;
}

// The stored angle is the client's angle negated: the kernels turn positive
// angles counter-clockwise, so SetRotateTransform(90) turns images clockwise.
int IXGrab::SetRotateTransform(ULONG degrees) {
    m_rotation = (360 - degrees % 360) % 360;
    return 1;
}

void IXGrab::SetImgTransform(IFW_IMG_TRANSFORM_TYPE transform) { m_imgTransform = transform; }
void IXGrab::SetImgRegion(IFW_IMG_REGION_TYPE region) { m_imgRegion = region; }
void IXGrab::SetImgInterjectState(int state) { m_interjectState = state; }
void IXGrab::SetImgSrcConformEnable(int enable) { m_conformImageSource = enable; }
