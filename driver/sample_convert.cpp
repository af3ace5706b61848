#include "sample_convert.h"

#include <cmath>
#include <cstring>

namespace nextarq {
namespace {

// GCC vector types: plain x86-64 splits them into SSE2 halves; the clones below run them natively
// on AVX2 and AVX-512 machines.
typedef int32_t i32x8 __attribute__((vector_size(32)));
typedef double f64x8 __attribute__((vector_size(64)));
typedef int16_t i16x8 __attribute__((vector_size(16)));

template <typename V, typename T> inline V loadv(const T *p) {
    V v;
    std::memcpy(&v, p, sizeof v);
    return v;
}
template <typename V, typename T> inline void storev(T *p, const V &v) { std::memcpy(p, &v, sizeof v); }

#define TARQ_CLONES __attribute__((target_clones("avx512f", "avx2", "default")))

TARQ_CLONES void toVolts(const uint32_t *words, size_t n, double *ch1, double *ch2, double k1, double o1, double k2,
                         double o2) {
    size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        i32x8 w = loadv<i32x8>(words + i);
        i32x8 hi = w >> 16;                   // arithmetic shift: the sign of channel 1
        i32x8 lo = (w << 16) >> 16;           // sign-extended channel 2
        if (ch1) storev(ch1 + i, o1 + k1 * __builtin_convertvector(hi, f64x8));
        if (ch2) storev(ch2 + i, o2 + k2 * __builtin_convertvector(lo, f64x8));
    }
    for (; i < n; ++i) {
        if (ch1) ch1[i] = o1 + k1 * static_cast<int16_t>(words[i] >> 16);
        if (ch2) ch2[i] = o2 + k2 * static_cast<int16_t>(words[i] & 0xFFFF);
    }
}

TARQ_CLONES void toCodes(const uint32_t *words, size_t n, int16_t *ch1, int16_t *ch2) {
    size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        i32x8 w = loadv<i32x8>(words + i);
        if (ch1) storev(ch1 + i, __builtin_convertvector(w >> 16, i16x8));
        if (ch2) storev(ch2 + i, __builtin_convertvector(w, i16x8)); // keeps the low halves
    }
    for (; i < n; ++i) {
        if (ch1) ch1[i] = static_cast<int16_t>(words[i] >> 16);
        if (ch2) ch2[i] = static_cast<int16_t>(words[i] & 0xFFFF);
    }
}

TARQ_CLONES void toPairs(const uint32_t *words, size_t n, double *pairs, double k1, double o1, double k2, double o2) {
    for (size_t i = 0; i < n; ++i) {
        pairs[2 * i] = o1 + k1 * static_cast<int16_t>(words[i] >> 16);
        pairs[2 * i + 1] = o2 + k2 * static_cast<int16_t>(words[i] & 0xFFFF);
    }
}

} // namespace

void wordsToVolts(const uint32_t *words, size_t n, double *ch1, double *ch2, ChannelScale s1, ChannelScale s2) {
    if (!words || (!ch1 && !ch2)) return;
    toVolts(words, n, ch1, ch2, s1.gain * 2.06 / 16383.0, s1.offset, s2.gain * 2.06 / 16383.0, s2.offset);
}

void wordsToCodes(const uint32_t *words, size_t n, int16_t *ch1, int16_t *ch2) {
    if (!words || (!ch1 && !ch2)) return;
    toCodes(words, n, ch1, ch2);
}

void wordsToVoltPairs(const uint32_t *words, size_t n, double *pairs, ChannelScale s1, ChannelScale s2) {
    if (!words || !pairs) return;
    toPairs(words, n, pairs, s1.gain * 2.06 / 16383.0, s1.offset, s2.gain * 2.06 / 16383.0, s2.offset);
}

int16_t voltsToCode(double volts, ChannelScale s) {
    const double code = std::trunc((volts - s.offset) * 16383.0 / (2.06 * s.gain));
    if (std::isnan(code)) return 0;
    if (code >= 32767.0) return 32767;
    if (code <= -32768.0) return -32768;
    return static_cast<int16_t>(code);
}

void voltsToWords(const double *ch1, const double *ch2, size_t n, uint32_t *words, ChannelScale s1, ChannelScale s2) {
    for (size_t i = 0; i < n; ++i) {
        const uint32_t hi = static_cast<uint16_t>(ch1 ? voltsToCode(ch1[i], s1) : 0);
        const uint32_t lo = static_cast<uint16_t>(ch2 ? voltsToCode(ch2[i], s2) : 0);
        words[i] = hi << 16 | lo;
    }
}

void voltPairsToWords(const double *pairs, size_t n, uint32_t *words, ChannelScale s1, ChannelScale s2) {
    for (size_t i = 0; i < n; ++i) {
        const uint32_t hi = static_cast<uint16_t>(voltsToCode(pairs[2 * i], s1));
        const uint32_t lo = static_cast<uint16_t>(voltsToCode(pairs[2 * i + 1], s2));
        words[i] = hi << 16 | lo;
    }
}

void codesToWords(const int16_t *ch1, const int16_t *ch2, size_t n, uint32_t *words) {
    for (size_t i = 0; i < n; ++i) {
        const uint32_t hi = static_cast<uint16_t>(ch1 ? ch1[i] : 0);
        const uint32_t lo = static_cast<uint16_t>(ch2 ? ch2[i] : 0);
        words[i] = hi << 16 | lo;
    }
}

} // namespace nextarq
