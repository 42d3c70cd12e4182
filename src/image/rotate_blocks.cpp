// Any-angle rotation of 8-bit images with AVX-512 byte permutes.
//
// The output is cut into blocks of 8 x 8 pixels. Along a row a sample moves
// by (cos, sin), from row to row by (-sin, cos), so the 64 samples of a block
// lie within 7 * (|cos| + |sin|) + 1 < 11 source rows and columns: a 16 x 16
// window of the source, loaded into four registers, holds them all, and two
// two-register byte permutes pick them. This replaces 64 dependent loads by
// sixteen row loads and a few shuffles.
//
// The positions are the same 32.32 values as in the plain code, kept in
// 32-bit lanes as whole parts and fractions and stepped from block to block
// with the carry, so every block takes the same samples.
#include "image/rotate_sampling.h"

#if defined(__GNUC__) && defined(__x86_64__)

// GCC 12 reports the placeholder values inside its own AVX-512 header as
// uninitialised; the header is not ours to change.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#include <immintrin.h>
#pragma GCC diagnostic pop

namespace kiru::img::sampling {

namespace {

#define KIRU_AVX512_BYTES __attribute__((target("avx512f,avx512bw,avx512vbmi")))

// Byte 4j of the 32-bit lanes of a register pair: their low bytes in order.
struct LowBytes {
    alignas(64) std::uint8_t bytes[64];
};
constexpr LowBytes MakeLowBytes() {
    LowBytes t{};
    for (int j = 0; j < 64; ++j) t.bytes[j] = static_cast<std::uint8_t>(4 * j);
    return t;
}
constexpr LowBytes kLowBytes = MakeLowBytes();

// Eight rows of a block in four registers: lanes 0-7 hold columns 0-7 of
// row 2k, lanes 8-15 those of row 2k + 1. The row's whole part is kept
// multiplied by 16, the window's row length.
struct BlockLanes {
    __m512i wholeX[4], fracX[4], row16[4], fracY[4];
};

struct SplitValues {
    alignas(64) std::int32_t whole[16];
    alignas(64) std::int32_t frac[16];
    void Set(int i, std::int64_t v) {
        whole[i] = static_cast<std::int32_t>(v >> kFracBits);
        frac[i] = static_cast<std::int32_t>(static_cast<std::uint32_t>(v));
    }
};

// Adds split lane offsets to split bases with the carry out of the fraction.
KIRU_AVX512_BYTES inline void AddSplit(__m512i baseWhole, __m512i baseFrac, __m512i laneWhole, __m512i laneFrac,
                                       __m512i& whole, __m512i& frac) {
    frac = _mm512_add_epi32(baseFrac, laneFrac);
    const __m512i sum = _mm512_add_epi32(baseWhole, laneWhole);
    whole = _mm512_mask_add_epi32(sum, _mm512_cmplt_epu32_mask(frac, laneFrac), sum, _mm512_set1_epi32(1));
}

// The lanes of the block whose first column is X0, for rows rows[0..7].
KIRU_AVX512_BYTES void StartLanes(const Band& b, const RowStart* rows, std::int64_t X0, BlockLanes& l) {
    SplitValues baseX, baseY, laneX, laneY;
    for (int r = 0; r < 8; ++r) {
        baseX.Set(r, rows[r].fx + X0 * b.stepX);
        baseY.Set(r, rows[r].fy + X0 * b.stepY);
    }
    for (int j = 0; j < 16; ++j) {
        laneX.Set(j, (j & 7) * b.stepX);
        laneY.Set(j, (j & 7) * b.stepY);
    }
    const __m512i lwx = _mm512_load_si512(laneX.whole), lfx = _mm512_load_si512(laneX.frac);
    const __m512i lwy = _mm512_load_si512(laneY.whole), lfy = _mm512_load_si512(laneY.frac);
    const __m512i bwx = _mm512_load_si512(baseX.whole), bfx = _mm512_load_si512(baseX.frac);
    const __m512i bwy = _mm512_load_si512(baseY.whole), bfy = _mm512_load_si512(baseY.frac);
    for (int k = 0; k < 4; ++k) {
        const __m512i pick = _mm512_set_epi32(2 * k + 1, 2 * k + 1, 2 * k + 1, 2 * k + 1, 2 * k + 1, 2 * k + 1,
                                              2 * k + 1, 2 * k + 1, 2 * k, 2 * k, 2 * k, 2 * k, 2 * k, 2 * k, 2 * k, 2 * k);
        AddSplit(_mm512_permutexvar_epi32(pick, bwx), _mm512_permutexvar_epi32(pick, bfx), lwx, lfx, l.wholeX[k],
                 l.fracX[k]);
        __m512i wholeY;
        AddSplit(_mm512_permutexvar_epi32(pick, bwy), _mm512_permutexvar_epi32(pick, bfy), lwy, lfy, wholeY, l.fracY[k]);
        l.row16[k] = _mm512_slli_epi32(wholeY, 4);
    }
}

// Adds a split step to every lane of one coordinate.
KIRU_AVX512_BYTES inline void StepLanes(__m512i& whole, __m512i& frac, __m512i stepWhole, __m512i stepFrac,
                                        __m512i carry) {
    frac = _mm512_add_epi32(frac, stepFrac);
    const __m512i sum = _mm512_add_epi32(whole, stepWhole);
    whole = _mm512_mask_add_epi32(sum, _mm512_cmplt_epu32_mask(frac, stepFrac), sum, carry);
}

// Stores the 8 x 8 bytes of `px` (row-major) as eight rows of the output.
KIRU_AVX512_BYTES inline void StoreBlock(__m512i px, std::uint8_t* out, std::size_t stride) {
    const __m128i q[4] = {_mm512_castsi512_si128(px), _mm512_extracti32x4_epi32(px, 1),
                          _mm512_extracti32x4_epi32(px, 2), _mm512_extracti32x4_epi32(px, 3)};
    for (int k = 0; k < 4; ++k) {
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out + 2 * k * stride), q[k]);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out + (2 * k + 1) * stride), _mm_srli_si128(q[k], 8));
    }
}

// Loads 16 rows of 16 bytes starting at `w` into four registers of four rows.
KIRU_AVX512_BYTES inline void LoadWindow(const std::uint8_t* w, std::size_t stride, __m512i* t) {
    for (int q = 0; q < 4; ++q) {
        const std::uint8_t* p = w + 4 * q * stride;
        __m512i v = _mm512_castsi128_si512(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
        v = _mm512_inserti32x4(v, _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + stride)), 1);
        v = _mm512_inserti32x4(v, _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 2 * stride)), 2);
        v = _mm512_inserti32x4(v, _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 3 * stride)), 3);
        t[q] = v;
    }
}

// Samples the blocks of eight rows from X0 to E (E - X0 a multiple of 8);
// every sample of these blocks lies inside the source.
KIRU_AVX512_BYTES void SampleBlocks(const Band& b, const RowStart* rows, std::uint8_t* out, std::int64_t X0,
                                    std::int64_t E) {
    const std::int64_t step8X = 8 * b.stepX, step8Y = 8 * b.stepY;
    const __m512i fracStepX = _mm512_set1_epi32(static_cast<std::int32_t>(static_cast<std::uint32_t>(step8X)));
    const __m512i fracStepY = _mm512_set1_epi32(static_cast<std::int32_t>(static_cast<std::uint32_t>(step8Y)));
    const __m512i wholeStepX = _mm512_set1_epi32(static_cast<std::int32_t>(step8X >> kFracBits));
    const __m512i rowStep16 = _mm512_set1_epi32(static_cast<std::int32_t>((step8Y >> kFracBits) * 16));
    const __m512i one = _mm512_set1_epi32(1), sixteen = _mm512_set1_epi32(16);
    const __m512i pack = _mm512_load_si512(kLowBytes.bytes);
    const std::int64_t stride = static_cast<std::int64_t>(b.srcStride);
    // The corner of a block with the smallest column (row): first or last
    // column by the sign of the step along a row, first or last row by the
    // direction from row to row.
    const int colOfMinX = b.stepX >= 0 ? 0 : 7, colOfMinY = b.stepY >= 0 ? 0 : 7;
    const RowStart& rowOfMinX = rows[b.rowStepsLeft ? 7 : 0];
    const RowStart& rowOfMinY = rows[b.rowStepsUp ? 7 : 0];

    BlockLanes l;
    StartLanes(b, rows, X0, l);
    for (std::int64_t X = X0; X < E; X += 8) {
        // The window starts one pixel before the smallest sample, so that a
        // rounding difference between the row starts cannot put a sample
        // before it.
        const std::int64_t wx = ((rowOfMinX.fx + (X + colOfMinX) * b.stepX) >> kFracBits) - 1;
        const std::int64_t wy = ((rowOfMinY.fy + (X + colOfMinY) * b.stepY) >> kFracBits) - 1;
        __m512i window[4];
        LoadWindow(b.src + wy * stride + wx, b.srcStride, window);
        // Window index (row * 16 + column) of every sample as one byte; the
        // subtraction is modulo 256, which is exact for indices 0..255.
        const __m512i low = _mm512_permutex2var_epi8(_mm512_add_epi32(l.row16[0], l.wholeX[0]), pack,
                                                     _mm512_add_epi32(l.row16[1], l.wholeX[1]));
        const __m512i high = _mm512_permutex2var_epi8(_mm512_add_epi32(l.row16[2], l.wholeX[2]), pack,
                                                      _mm512_add_epi32(l.row16[3], l.wholeX[3]));
        const __m512i index = _mm512_sub_epi8(_mm512_inserti64x4(low, _mm512_castsi512_si256(high), 1),
                                              _mm512_set1_epi8(static_cast<char>(wy * 16 + wx)));
        // Indices 0-127 are in the window's upper eight rows, 128-255 in the lower.
        const __m512i upper = _mm512_permutex2var_epi8(window[0], index, window[1]);
        const __m512i lower = _mm512_permutex2var_epi8(window[2], index, window[3]);
        StoreBlock(_mm512_mask_blend_epi8(_mm512_movepi8_mask(index), upper, lower), out + X, b.dstStride);
        for (int k = 0; k < 4; ++k) {
            StepLanes(l.wholeX[k], l.fracX[k], wholeStepX, fracStepX, one);
            StepLanes(l.row16[k], l.fracY[k], rowStep16, fracStepY, sixteen);
        }
    }
}

}  // namespace

void SampleBandBytesAvx512(const Band& b) {
    for (std::size_t x0 = 0; x0 < b.dstWidth; x0 += b.strip) {
        const std::int64_t stripLo = static_cast<std::int64_t>(x0);
        const std::int64_t stripHi = static_cast<std::int64_t>(std::min(x0 + b.strip, b.dstWidth));
        std::size_t r0 = 0;
        for (; r0 + 8 <= b.rowCount; r0 += 8) {
            const RowStart* rows = b.rows + r0;
            // Blocks cover the columns where all eight rows sample inside
            // the source without clamping; the rest goes pixel by pixel.
            std::int64_t L = stripLo, R = stripHi;
            for (int r = 0; r < 8; ++r) {
                L = std::max(L, rows[r].mlo);
                R = std::min(R, rows[r].mhi);
            }
            const std::int64_t E = R > L ? L + (R - L) / 8 * 8 : L;
            std::uint8_t* out = b.dst + r0 * b.dstStride;
            for (int r = 0; r < 8; ++r) {
                std::uint8_t* row = out + r * b.dstStride;
                if (E == L) {
                    SampleRange<1>(b, rows[r], row, stripLo, stripHi);
                } else {
                    SampleRange<1>(b, rows[r], row, stripLo, L);
                    SampleRange<1>(b, rows[r], row, E, stripHi);
                }
            }
            if (E > L) SampleBlocks(b, rows, out, L, E);
        }
        for (; r0 < b.rowCount; ++r0) SampleRange<1>(b, b.rows[r0], b.dst + r0 * b.dstStride, stripLo, stripHi);
    }
}

}  // namespace kiru::img::sampling

#endif
