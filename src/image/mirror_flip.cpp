// Row kernels behind mirror, flip and the mosaic of tiled acquisition, and
// the run-time choice of processor extensions that every pixel kernel shares.
#include <atomic>
#include <cstdint>
#include <cstring>
#include <utility>

#include "image/image_kernels.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if KIRU_IMG_X86_DISPATCH
#include <immintrin.h>
#endif

namespace kiru::img {

namespace {

std::atomic<bool> g_allowCpuExtensions{true};
std::atomic<bool> g_allowAvx512{true};

inline std::uint64_t Load64(const std::uint8_t* p) {
    std::uint64_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

inline void Store64(std::uint8_t* p, std::uint64_t v) { std::memcpy(p, &v, sizeof v); }

// Reverses the order of the 1-, 2- or 4-byte units of a 64-bit word, keeping
// the byte order inside each unit. The same on either endianness.
template <unsigned PX>
inline std::uint64_t ReverseUnits(std::uint64_t v) {
    if constexpr (PX == 1) {
        return __builtin_bswap64(v);
    } else if constexpr (PX == 2) {
        v = __builtin_bswap64(v);
        return ((v >> 8) & 0x00FF00FF00FF00FFull) | ((v & 0x00FF00FF00FF00FFull) << 8);
    } else {
        static_assert(PX == 4, "word reversal handles 1, 2 and 4 bytes");
        return (v >> 32) | (v << 32);
    }
}

// Pixel sizes that divide 8: a word of pixels at a time.
template <unsigned PX>
void MirrorRowWords(const std::uint8_t* src, std::uint8_t* dst, std::size_t count) {
    const std::size_t n = count * PX;
    std::size_t i = 0;
    for (; i + 8 <= n; i += 8) Store64(dst + i, ReverseUnits<PX>(Load64(src + n - i - 8)));
    for (; i < n; i += PX) std::memcpy(dst + i, src + n - i - PX, PX);
}

// 3-byte pixels: each pixel is moved with one 4-byte load and store. The load
// starts a byte early so that it never reads past the row; the store writes
// one byte too many, which the next pixel's store overwrites.
void MirrorRow3(const std::uint8_t* src, std::uint8_t* dst, std::size_t count) {
    if (count == 0) return;
    for (std::size_t i = 0; i + 1 < count; ++i) {
        std::uint32_t v;
        std::memcpy(&v, src + 3 * (count - 1 - i) - 1, 4);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
        v <<= 8;
#else
        v >>= 8;
#endif
        std::memcpy(dst + 3 * i, &v, 4);
    }
    std::memcpy(dst + 3 * (count - 1), src, 3);
}

#if defined(__SSE2__)
// 16 bytes at a time for pixel sizes that divide 16.
template <unsigned PX>
inline __m128i ReverseUnits128(__m128i v) {
    if constexpr (PX == 1) v = _mm_or_si128(_mm_slli_epi16(v, 8), _mm_srli_epi16(v, 8));
    if constexpr (PX <= 2) {
        v = _mm_shufflehi_epi16(_mm_shufflelo_epi16(v, 0x1B), 0x1B);
        return _mm_shuffle_epi32(v, 0x4E);
    }
    return _mm_shuffle_epi32(v, 0x1B);
}

template <unsigned PX>
void MirrorRowSse2(const std::uint8_t* src, std::uint8_t* dst, std::size_t count) {
    const std::size_t n = count * PX;
    std::size_t i = 0;
    for (; i + 16 <= n; i += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + n - i - 16));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i), ReverseUnits128<PX>(v));
    }
    MirrorRowWords<PX>(src, dst + i, (n - i) / PX);  // what is left is the front of the source
}
#endif

#if KIRU_IMG_X86_DISPATCH
__attribute__((target("ssse3"))) void MirrorRow1Ssse3(const std::uint8_t* src, std::uint8_t* dst, std::size_t count) {
    const __m128i reverse = _mm_setr_epi8(15, 14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0);
    std::size_t i = 0;
    for (; i + 16 <= count; i += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + count - i - 16));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i), _mm_shuffle_epi8(v, reverse));
    }
    MirrorRowWords<1>(src, dst + i, count - i);
}

// Five 3-byte pixels per step. The load starts one byte before them and the
// store writes one byte past them, which the next step overwrites; steps stop
// while both stay inside the row, and the rest goes pixel by pixel.
__attribute__((target("ssse3"))) void MirrorRow3Ssse3(const std::uint8_t* src, std::uint8_t* dst, std::size_t count) {
    const __m128i reverse = _mm_setr_epi8(13, 14, 15, 10, 11, 12, 7, 8, 9, 4, 5, 6, 1, 2, 3, -1);
    std::size_t k = 0;
    for (; k + 6 <= count; k += 5) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 3 * (count - k - 5) - 1));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 3 * k), _mm_shuffle_epi8(v, reverse));
    }
    MirrorRow3(src, dst + 3 * k, count - k);
}
#endif

}  // namespace

void AllowCpuExtensions(bool allow) { g_allowCpuExtensions.store(allow, std::memory_order_relaxed); }
void AllowAvx512(bool allow) { g_allowAvx512.store(allow, std::memory_order_relaxed); }

bool HasSsse3() {
#if KIRU_IMG_X86_DISPATCH
    static const bool supported = __builtin_cpu_supports("ssse3");
    return supported && g_allowCpuExtensions.load(std::memory_order_relaxed);
#else
    return false;
#endif
}

bool HasAvx2() {
#if KIRU_IMG_X86_DISPATCH
    static const bool supported = __builtin_cpu_supports("avx2");
    return supported && g_allowCpuExtensions.load(std::memory_order_relaxed);
#else
    return false;
#endif
}

bool HasAvx512Vbmi() {
#if KIRU_IMG_X86_DISPATCH
    static const bool supported = __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
                                  __builtin_cpu_supports("avx512vbmi");
    return supported && g_allowCpuExtensions.load(std::memory_order_relaxed) &&
           g_allowAvx512.load(std::memory_order_relaxed);
#else
    return false;
#endif
}

void MirrorRow(const std::uint8_t* src, std::uint8_t* dst, std::size_t count, unsigned pixelBytes) {
#if KIRU_IMG_X86_DISPATCH
    if ((pixelBytes == 1 || pixelBytes == 3) && HasSsse3()) {
        if (pixelBytes == 1)
            MirrorRow1Ssse3(src, dst, count);
        else
            MirrorRow3Ssse3(src, dst, count);
        return;
    }
#endif
    switch (pixelBytes) {
#if defined(__SSE2__)
        case 1: MirrorRowSse2<1>(src, dst, count); break;
        case 2: MirrorRowSse2<2>(src, dst, count); break;
        case 4: MirrorRowSse2<4>(src, dst, count); break;
#else
        case 1: MirrorRowWords<1>(src, dst, count); break;
        case 2: MirrorRowWords<2>(src, dst, count); break;
        case 4: MirrorRowWords<4>(src, dst, count); break;
#endif
        case 3: MirrorRow3(src, dst, count); break;
        default: break;
    }
}

void MirrorImage(const std::uint8_t* src, std::uint8_t* dst, std::size_t width, std::size_t rows, unsigned pixelBytes) {
    if (pixelBytes < 1 || pixelBytes > 4) return;
    const std::size_t rowBytes = width * pixelBytes;
    for (std::size_t r = 0; r < rows; ++r) MirrorRow(src + r * rowBytes, dst + r * rowBytes, width, pixelBytes);
}

void FlipImage(const std::uint8_t* src, std::uint8_t* dst, std::size_t rowBytes, std::size_t rows) {
    for (std::size_t r = 0; r < rows; ++r) std::memcpy(dst + r * rowBytes, src + (rows - 1 - r) * rowBytes, rowBytes);
}

void MosaicCopy(const std::uint8_t* src, std::uint8_t* dst, std::size_t horzTiles, std::size_t vertTiles,
                std::size_t rowBytes, std::size_t rows) {
    const std::size_t frameBytes = rowBytes * rows;
    const std::size_t pitch = horzTiles * rowBytes;
    for (std::size_t t = 0; t < vertTiles; ++t) {
        for (std::size_t j = 0; j < horzTiles; ++j) {
            const std::uint8_t* frame = src + (t * horzTiles + j) * frameBytes;
            std::uint8_t* out = dst + t * horzTiles * frameBytes + j * rowBytes;
            for (std::size_t r = 0; r < rows; ++r) std::memcpy(out + r * pitch, frame + r * rowBytes, rowBytes);
        }
    }
}

}  // namespace kiru::img
