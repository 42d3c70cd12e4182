// AVX2 row kernel of the Bayer demosaic: 32 pixels per step, with the same
// pairwise-rounded means and fixed-point gains as the portable code.
#include "capture/bayer_kernel.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>

namespace kiru::bayer {

namespace {

#define KIRU_AVX2 __attribute__((target("avx2")))

KIRU_AVX2 inline __m256i Load(const std::uint8_t* p) { return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)); }

// v * g / 256 per byte, saturated.
KIRU_AVX2 inline __m256i ApplyGain(__m256i v, __m256i g) {
    const __m256i zero = _mm256_setzero_si256();
    const __m256i lo = _mm256_mulhi_epu16(_mm256_unpacklo_epi8(zero, v), g);
    const __m256i hi = _mm256_mulhi_epu16(_mm256_unpackhi_epi8(zero, v), g);
    return _mm256_packus_epi16(lo, hi);
}

// 16 blue, green and red bytes to 48 bytes of 3-byte pixels.
KIRU_AVX2 inline void Store3(std::uint8_t* out, __m128i b, __m128i g, __m128i r) {
    // For output byte k: pixel k / 3 of channel k % 3; 0x80 yields 0.
    alignas(16) static const std::int8_t masks[3][3][16] = {
        {{0, -1, -1, 1, -1, -1, 2, -1, -1, 3, -1, -1, 4, -1, -1, 5},
         {-1, 0, -1, -1, 1, -1, -1, 2, -1, -1, 3, -1, -1, 4, -1, -1},
         {-1, -1, 0, -1, -1, 1, -1, -1, 2, -1, -1, 3, -1, -1, 4, -1}},
        {{-1, -1, 6, -1, -1, 7, -1, -1, 8, -1, -1, 9, -1, -1, 10, -1},
         {5, -1, -1, 6, -1, -1, 7, -1, -1, 8, -1, -1, 9, -1, -1, 10},
         {-1, 5, -1, -1, 6, -1, -1, 7, -1, -1, 8, -1, -1, 9, -1, -1}},
        {{-1, 11, -1, -1, 12, -1, -1, 13, -1, -1, 14, -1, -1, 15, -1, -1},
         {-1, -1, 11, -1, -1, 12, -1, -1, 13, -1, -1, 14, -1, -1, 15, -1},
         {10, -1, -1, 11, -1, -1, 12, -1, -1, 13, -1, -1, 14, -1, -1, 15}},
    };
    for (int i = 0; i < 3; ++i) {
        const __m128i* m = reinterpret_cast<const __m128i*>(masks[i]);
        const __m128i v = _mm_or_si128(_mm_or_si128(_mm_shuffle_epi8(b, _mm_load_si128(m)),
                                                    _mm_shuffle_epi8(g, _mm_load_si128(m + 1))),
                                       _mm_shuffle_epi8(r, _mm_load_si128(m + 2)));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 16 * i), v);
    }
}

// 16 blue, green and red bytes to 64 bytes of 4-byte pixels (fourth byte 0).
KIRU_AVX2 inline void Store4(std::uint8_t* out, __m128i b, __m128i g, __m128i r) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i bgLo = _mm_unpacklo_epi8(b, g), bgHi = _mm_unpackhi_epi8(b, g);
    const __m128i r0Lo = _mm_unpacklo_epi8(r, zero), r0Hi = _mm_unpackhi_epi8(r, zero);
    auto* o = reinterpret_cast<__m128i*>(out);
    _mm_storeu_si128(o + 0, _mm_unpacklo_epi16(bgLo, r0Lo));
    _mm_storeu_si128(o + 1, _mm_unpackhi_epi16(bgLo, r0Lo));
    _mm_storeu_si128(o + 2, _mm_unpacklo_epi16(bgHi, r0Hi));
    _mm_storeu_si128(o + 3, _mm_unpackhi_epi16(bgHi, r0Hi));
}

template <int N, bool Gains>
KIRU_AVX2 int Row(const RowArgs& a) {
    const int start = 1;
    // Lane j holds pixel start + j; it is a colour sample when its x parity says so.
    const bool colourAtEvenLane = (((start & 1) == 0) != a.greenFirst);
    const __m256i colourMask =
        colourAtEvenLane ? _mm256_set1_epi16(0x00FF) : _mm256_set1_epi16(static_cast<short>(0xFF00));
    const __m256i gB = _mm256_set1_epi16(static_cast<short>(a.gains[0]));
    const __m256i gG = _mm256_set1_epi16(static_cast<short>(a.gains[1]));
    const __m256i gR = _mm256_set1_epi16(static_cast<short>(a.gains[2]));
    int x = start;
    // The block reads up to x + 32 and writes pixels x .. x + 31, all inside the row's interior.
    for (; x + 32 <= a.width - 1; x += 32) {
        const __m256i c = Load(a.mid + x), cl = Load(a.mid + x - 1), cr = Load(a.mid + x + 1);
        const __m256i u = Load(a.up + x), ul = Load(a.up + x - 1), ur = Load(a.up + x + 1);
        const __m256i d = Load(a.down + x), dl = Load(a.down + x - 1), dr = Load(a.down + x + 1);
        const __m256i h2 = _mm256_avg_epu8(cl, cr);
        const __m256i v2 = _mm256_avg_epu8(u, d);
        const __m256i plus4 = _mm256_avg_epu8(h2, v2);
        const __m256i cross4 = _mm256_avg_epu8(_mm256_avg_epu8(ul, ur), _mm256_avg_epu8(dl, dr));
        const __m256i same = _mm256_blendv_epi8(h2, c, colourMask);
        __m256i green = _mm256_blendv_epi8(c, plus4, colourMask);
        const __m256i other = _mm256_blendv_epi8(v2, cross4, colourMask);
        __m256i red = a.redRow ? same : other;
        __m256i blue = a.redRow ? other : same;
        if (Gains) {
            blue = ApplyGain(blue, gB);
            green = ApplyGain(green, gG);
            red = ApplyGain(red, gR);
        }
        std::uint8_t* out = a.out + static_cast<std::size_t>(N) * x;
        const __m128i b0 = _mm256_castsi256_si128(blue), b1 = _mm256_extracti128_si256(blue, 1);
        const __m128i g0 = _mm256_castsi256_si128(green), g1 = _mm256_extracti128_si256(green, 1);
        const __m128i r0 = _mm256_castsi256_si128(red), r1 = _mm256_extracti128_si256(red, 1);
        if (N == 3) {
            Store3(out, b0, g0, r0);
            Store3(out + 48, b1, g1, r1);
        } else {
            Store4(out, b0, g0, r0);
            Store4(out + 64, b1, g1, r1);
        }
    }
    return x;
}

KIRU_AVX2 int RowAvx2(const RowArgs& a) {
    if (a.pixelBytes == 3) return a.unitGains ? Row<3, false>(a) : Row<3, true>(a);
    return a.unitGains ? Row<4, false>(a) : Row<4, true>(a);
}

}  // namespace

RowKernel VectorKernel() {
    static const RowKernel kernel = __builtin_cpu_supports("avx2") ? &RowAvx2 : nullptr;
    return kernel;
}

}  // namespace kiru::bayer

#else

namespace kiru::bayer {
RowKernel VectorKernel() { return nullptr; }
}  // namespace kiru::bayer

#endif
