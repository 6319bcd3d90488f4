// Four RGBA pixels at a time: the tests and stores that the drawing's and the detection's
// fast loops are made of. With SSE2 (part of every x86-64 processor) they are vector
// instructions; elsewhere, in a build with NIMBRA_SIMD off, or with NIMBRA_SIMD=0 in the
// environment they are plain C++. Both compare and copy bits only, so the output is the same
// bytes either way.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <type_traits>

#if defined(__SSE2__) && !defined(NIMBRA_NO_SIMD)
#include <emmintrin.h>
#define NIMBRA_SSE2 1
#endif

namespace plate::quad {

/// Whether this build has the vector code and the environment leaves it on. Read once per
/// render (the environment is not something a render should watch change under it).
inline bool vectorEnabled() {
#ifdef NIMBRA_SSE2
    const char* v = std::getenv("NIMBRA_SIMD");
    return !(v && (std::strcmp(v, "0") == 0 || std::strcmp(v, "off") == 0));
#else
    return false;
#endif
}

#ifdef NIMBRA_SSE2
/// Four pixels of PIX as 16-byte vectors: 1, 2 or 4 of them.
template <class PIX> constexpr int kVectors = static_cast<int>(sizeof(PIX));

inline __m128i load(const void* p, int i) {
    return _mm_loadu_si128(static_cast<const __m128i*>(p) + i);
}
inline void store(void* p, int i, __m128i v) { _mm_storeu_si128(static_cast<__m128i*>(p) + i, v); }
inline bool zeroVector(__m128i v) {
    return _mm_movemask_epi8(_mm_cmpeq_epi8(v, _mm_setzero_si128())) == 0xFFFF;
}

/// A pixel repeated to fill a vector (four 8-bit pixels, two 16-bit, one float).
template <class PIX> inline __m128i splat(const PIX* pixel) {
    if constexpr (sizeof(PIX) == 1) {
        std::uint32_t w;
        std::memcpy(&w, pixel, 4);
        return _mm_set1_epi32(static_cast<int>(w));
    } else if constexpr (sizeof(PIX) == 2) {
        long long w;
        std::memcpy(&w, pixel, 8);
        return _mm_set1_epi64x(w);
    } else {
        return _mm_loadu_si128(reinterpret_cast<const __m128i*>(pixel));
    }
}
#endif

/// Whether two pixels are the same bits.
template <class PIX> inline bool samePixel(const PIX* a, const PIX* b) {
    constexpr size_t words = (4 * sizeof(PIX) + 7) / 8;
    std::uint64_t x[words] = {}, y[words] = {};
    std::memcpy(x, a, 4 * sizeof(PIX));
    std::memcpy(y, b, 4 * sizeof(PIX));
    std::uint64_t diff = 0;
    for (size_t i = 0; i < words; ++i)
        diff |= x[i] ^ y[i];
    return diff == 0;
}

/// Whether every bit of one pixel is zero.
template <class PIX> inline bool allZeroPixel(const PIX* p) {
    constexpr size_t words = (4 * sizeof(PIX) + 7) / 8;
    std::uint64_t x[words] = {};
    std::memcpy(x, p, 4 * sizeof(PIX));
    std::uint64_t any = 0;
    for (size_t i = 0; i < words; ++i)
        any |= x[i];
    return any == 0;
}

/// Whether every bit of four pixels is zero.
template <class PIX> inline bool allZero(const PIX* p, bool vector) {
#ifdef NIMBRA_SSE2
    if (vector) {
        __m128i any = load(p, 0);
        for (int i = 1; i < kVectors<PIX>; ++i)
            any = _mm_or_si128(any, load(p, i));
        return zeroVector(any);
    }
#endif
    (void)vector;
    std::uint64_t words[2 * sizeof(PIX)];
    std::memcpy(words, p, sizeof words);
    std::uint64_t any = 0;
    for (std::uint64_t w : words)
        any |= w;
    return any == 0;
}

/// Four pixels each either all zero bits or the bits of `last`: stores `zeroOut` for the first
/// and `lastOut` for the second, and returns true; false, storing nothing, when any pixel is
/// neither.
template <class PIX>
inline bool zeroOrSame(const PIX* p, const PIX* last, const PIX* zeroOut, const PIX* lastOut,
                       PIX* out, bool vector) {
#ifdef NIMBRA_SSE2
    if (vector) {
        const __m128i zero = _mm_setzero_si128(), l = splat(last);
        __m128i isZero[kVectors<PIX>];
        __m128i either = _mm_set1_epi32(-1);
        for (int i = 0; i < kVectors<PIX>; ++i) {
            const __m128i v = load(p, i);
            __m128i z, s;
            if constexpr (sizeof(PIX) == 1) { // a pixel a 32-bit lane
                z = _mm_cmpeq_epi32(v, zero);
                s = _mm_cmpeq_epi32(v, l);
            } else if constexpr (sizeof(PIX) == 2) { // a 64-bit lane: both halves equal
                z = _mm_cmpeq_epi32(v, zero);
                z = _mm_and_si128(z, _mm_shuffle_epi32(z, _MM_SHUFFLE(2, 3, 0, 1)));
                s = _mm_cmpeq_epi32(v, l);
                s = _mm_and_si128(s, _mm_shuffle_epi32(s, _MM_SHUFFLE(2, 3, 0, 1)));
            } else { // the whole vector
                z = _mm_set1_epi32(zeroVector(v) ? -1 : 0);
                s = _mm_set1_epi32(zeroVector(_mm_xor_si128(v, l)) ? -1 : 0);
            }
            isZero[i] = z;
            either = _mm_and_si128(either, _mm_or_si128(z, s));
        }
        if (_mm_movemask_epi8(either) != 0xFFFF)
            return false;
        const __m128i zo = splat(zeroOut), lo = splat(lastOut);
        for (int i = 0; i < kVectors<PIX>; ++i)
            store(out, i,
                  _mm_or_si128(_mm_and_si128(isZero[i], zo), _mm_andnot_si128(isZero[i], lo)));
        return true;
    }
#endif
    (void)vector;
    bool zero[4];
    for (int k = 0; k < 4; ++k) {
        zero[k] = allZeroPixel(p + 4 * k);
        if (!zero[k] && !samePixel(p + 4 * k, last))
            return false;
    }
    for (int k = 0; k < 4; ++k)
        std::memcpy(out + 4 * k, zero[k] ? zeroOut : lastOut, 4 * sizeof(PIX));
    return true;
}

/// Four copies of `pixel`.
template <class PIX> inline void fill(PIX* out, const PIX* pixel, bool vector) {
#ifdef NIMBRA_SSE2
    if (vector) {
        const __m128i s = splat(pixel);
        for (int i = 0; i < kVectors<PIX>; ++i)
            store(out, i, s);
        return;
    }
#endif
    (void)vector;
    for (int k = 0; k < 4; ++k)
        std::memcpy(out + 4 * k, pixel, 4 * sizeof(PIX));
}

/// Asks for the cache lines of `bytes` bytes from p to be brought in; a hint only.
inline void prefetch(const void* p, int bytes) {
#ifdef NIMBRA_SSE2
    for (int i = 0; i < bytes; i += 64)
        _mm_prefetch(static_cast<const char*>(p) + i, _MM_HINT_T0);
#else
    (void)p;
    (void)bytes;
#endif
}

/// Whether any of 16 RGBA pixels has an alpha of at least `first` (integer channels, first in
/// 1 to the channel's maximum) or above `threshold` (floats). Vector code only: the caller
/// has its own plain loop.
#ifdef NIMBRA_SSE2
inline bool anyAlphaAtLeast(const unsigned char* p, int first) {
    const __m128i alpha = _mm_set1_epi32(static_cast<int>(0xFF000000u));
    const __m128i below = _mm_set1_epi8(static_cast<char>(first - 1));
    __m128i any = _mm_setzero_si128();
    for (int i = 0; i < 4; ++i) // what an alpha exceeds first - 1 by
        any = _mm_or_si128(any, _mm_subs_epu8(_mm_and_si128(load(p, i), alpha), below));
    return !zeroVector(any);
}
inline bool anyAlphaAtLeast(const unsigned short* p, int first) {
    const __m128i alpha = _mm_set1_epi64x(static_cast<long long>(0xFFFF000000000000ull));
    const __m128i below = _mm_set1_epi16(static_cast<short>(first - 1));
    __m128i any = _mm_setzero_si128();
    for (int i = 0; i < 8; ++i)
        any = _mm_or_si128(any, _mm_subs_epu16(_mm_and_si128(load(p, i), alpha), below));
    return !zeroVector(any);
}
inline bool anyAlphaAbove(const float* p, float threshold) {
    const __m128 t = _mm_set1_ps(threshold);
    __m128 any = _mm_setzero_ps();
    for (int i = 0; i < 16; ++i)
        any = _mm_or_ps(any, _mm_cmpgt_ps(_mm_loadu_ps(p + 4 * i), t));
    return (_mm_movemask_ps(any) & 8) != 0; // the alpha lane
}
#endif

} // namespace plate::quad
