// Vectorised inner loops. Each hot loop is built twice (x86-64-v3 = AVX2+FMA, and the baseline)
// and picked at load time. Sums use 16 independent lanes per 1024-value block and a compensated
// sum of the block totals: as fast as the memory delivers and far more accurate than one
// running double.
#include "analysis_internal.h"

#include <cmath>
#include <cstring>
#include <limits>

#if defined(__x86_64__)
#include <immintrin.h>
#define TARQ_CLONES __attribute__((target_clones("arch=x86-64-v3", "default")))
#else
#define TARQ_CLONES
#endif

namespace tarq::analysis {
namespace {

typedef double v4 __attribute__((vector_size(32)));

inline v4 Load4(const double *p)
{
    v4 v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

inline double Hsum(v4 v) { return (v[0] + v[1]) + (v[2] + v[3]); }

constexpr int64_t kBlock = 1024; // 64 values per lane before the block total is compensated

// Neumaier's compensated accumulator for the block totals.
struct Compensated {
    double sum = 0, c = 0;
    void Add(double v)
    {
        double t = sum + v;
        if (std::fabs(sum) >= std::fabs(v))
            c += (sum - t) + v;
        else
            c += (v - t) + sum;
        sum = t;
    }
    double Value() const { return sum + c; }
};

TARQ_CLONES double BlockSum(const double *x, int64_t n)
{
    v4 a = {0, 0, 0, 0}, b = a, c = a, d = a;
    int64_t i = 0;
    for (; i + 16 <= n; i += 16) {
        a += Load4(x + i);
        b += Load4(x + i + 4);
        c += Load4(x + i + 8);
        d += Load4(x + i + 12);
    }
    double s = Hsum((a + b) + (c + d));
    for (; i < n; ++i)
        s += x[i];
    return s;
}

TARQ_CLONES double BlockSumSquares(const double *x, int64_t n)
{
    v4 a = {0, 0, 0, 0}, b = a, c = a, d = a;
    int64_t i = 0;
    for (; i + 16 <= n; i += 16) {
        v4 p = Load4(x + i), q = Load4(x + i + 4), r = Load4(x + i + 8), s = Load4(x + i + 12);
        a += p * p;
        b += q * q;
        c += r * r;
        d += s * s;
    }
    double s = Hsum((a + b) + (c + d));
    for (; i < n; ++i)
        s += x[i] * x[i];
    return s;
}

// Sums of (x - shift) and (x - shift)^2 in one pass.
TARQ_CLONES void BlockShiftedSums(const double *x, int64_t n, double shift, double *s1, double *s2)
{
    const v4 sh = {shift, shift, shift, shift};
    v4 a = {0, 0, 0, 0}, b = a, qa = a, qb = a;
    int64_t i = 0;
    for (; i + 8 <= n; i += 8) {
        v4 p = Load4(x + i) - sh, q = Load4(x + i + 4) - sh;
        a += p;
        b += q;
        qa += p * p;
        qb += q * q;
    }
    double t1 = Hsum(a + b), t2 = Hsum(qa + qb);
    for (; i < n; ++i) {
        double d = x[i] - shift;
        t1 += d;
        t2 += d * d;
    }
    *s1 = t1;
    *s2 = t2;
}

// Largest and smallest non-NaN value of a block (-inf / +inf when there is none).
TARQ_CLONES void BlockMaxMin(const double *x, int64_t n, double *mx, double *mn)
{
    const double inf = std::numeric_limits<double>::infinity();
    v4 hi = {-inf, -inf, -inf, -inf}, lo = {inf, inf, inf, inf};
    v4 hi2 = hi, lo2 = lo;
    int64_t i = 0;
    for (; i + 8 <= n; i += 8) {
        v4 p = Load4(x + i), q = Load4(x + i + 4);
        hi = p > hi ? p : hi; // NaN compares false and never wins
        lo = p < lo ? p : lo;
        hi2 = q > hi2 ? q : hi2;
        lo2 = q < lo2 ? q : lo2;
    }
    hi = hi2 > hi ? hi2 : hi;
    lo = lo2 < lo ? lo2 : lo;
    double h = -inf, l = inf;
    for (int k = 0; k < 4; ++k) {
        h = hi[k] > h ? hi[k] : h;
        l = lo[k] < l ? lo[k] : l;
    }
    for (; i < n; ++i) {
        h = x[i] > h ? x[i] : h;
        l = x[i] < l ? x[i] : l;
    }
    *mx = h;
    *mn = l;
}

TARQ_CLONES void WindowBlock(double *x, int64_t count, double cs, double ss, const double *ct, const double *st,
                             const double *m)
{
    for (int64_t j = 0; j < count; ++j) {
        double c = cs * ct[j] - ss * st[j];
        double w = (((m[4] * c + m[3]) * c + m[2]) * c + m[1]) * c + m[0];
        x[j] *= w;
    }
}

TARQ_CLONES void AmplitudeBlock(const double *X, int64_t count, double scale, double *amp)
{
    for (int64_t k = 0; k < count; ++k) {
        double re = X[2 * k], im = X[2 * k + 1];
        amp[k] = scale * std::sqrt(re * re + im * im);
    }
}

TARQ_CLONES void PowerBlock(const double *X, int64_t count, double scale, double *pow)
{
    for (int64_t k = 0; k < count; ++k) {
        double re = X[2 * k], im = X[2 * k + 1];
        pow[k] = scale * (re * re + im * im);
    }
}

// Hanning-weighted sums about a shift: sum w v, sum w^2 v, sum w^2 v^2 with v = x - shift and
// w = 0.5 - 0.5 (cs ct[j] - ss st[j]) (the block's cosines rotated from its exact start angle).
TARQ_CLONES void HanningBlock(const double *x, int64_t count, double shift, double cs, double ss, const double *ct,
                              const double *st, double *sums)
{
    const v4 vcs = {cs, cs, cs, cs}, vss = {ss, ss, ss, ss}, vsh = {shift, shift, shift, shift};
    const v4 half = {0.5, 0.5, 0.5, 0.5};
    v4 a = {0, 0, 0, 0}, b = a, c = a, a2 = a, b2 = a, c2 = a;
    int64_t j = 0;
    for (; j + 8 <= count; j += 8) {
        v4 w = half - half * (vcs * Load4(ct + j) - vss * Load4(st + j));
        v4 wv = w * (Load4(x + j) - vsh);
        a += wv;
        b += w * wv;
        c += wv * wv;
        v4 wq = half - half * (vcs * Load4(ct + j + 4) - vss * Load4(st + j + 4));
        v4 wvq = wq * (Load4(x + j + 4) - vsh);
        a2 += wvq;
        b2 += wq * wvq;
        c2 += wvq * wvq;
    }
    double sa = Hsum(a + a2), sb = Hsum(b + b2), sc = Hsum(c + c2);
    for (; j < count; ++j) {
        const double w = 0.5 - 0.5 * (cs * ct[j] - ss * st[j]);
        const double v = x[j] - shift;
        sa += w * v;
        sb += w * w * v;
        sc += w * w * v * v;
    }
    sums[0] += sa;
    sums[1] += sb;
    sums[2] += sc;
}

#if defined(__x86_64__)
extern "C" __m256d _ZGVdN4vv_atan2(__m256d y, __m256d x); // glibc's vector atan2 (libmvec, <= 4 ulp)

// Amplitude, phase and (optionally) the unwrap of one chunk in a single pass over the bins.
// Unwrapping: the 2 pi turns between neighbours are counted per lane, prefix-summed inside the
// vector and carried from vector to vector, so the serial part is one addition per four bins.
__attribute__((target("avx2,fma"), always_inline)) inline __m256d UnwrapStep(__m256d raw, double &prevRaw,
                                                                            double &turns)
{
    const __m256d pi = _mm256_set1_pd(M_PI), minusPi = _mm256_set1_pd(-M_PI), one = _mm256_set1_pd(1.0);
    const __m256d zero = _mm256_setzero_pd();
    // previous raw phase of every lane: (prevRaw, raw0, raw1, raw2)
    __m256d prev = _mm256_blend_pd(_mm256_permute4x64_pd(raw, 0x90), _mm256_set1_pd(prevRaw), 0x1);
    __m256d d = _mm256_sub_pd(raw, prev);
    __m256d jump = _mm256_sub_pd(_mm256_and_pd(_mm256_cmp_pd(d, minusPi, _CMP_LT_OQ), one),
                                 _mm256_and_pd(_mm256_cmp_pd(d, pi, _CMP_GT_OQ), one));
    __m256d s1 = _mm256_add_pd(jump, _mm256_blend_pd(_mm256_permute4x64_pd(jump, 0x90), zero, 0x1));
    __m256d s2 = _mm256_add_pd(s1, _mm256_blend_pd(_mm256_permute4x64_pd(s1, 0x40), zero, 0x3));
    __m256d total = _mm256_add_pd(s2, _mm256_set1_pd(turns));
    turns += _mm256_cvtsd_f64(_mm256_permute4x64_pd(s2, 0xFF));
    prevRaw = _mm256_cvtsd_f64(_mm256_permute4x64_pd(raw, 0xFF));
    return _mm256_fmadd_pd(_mm256_set1_pd(2.0 * M_PI), total, raw);
}

// The bins after the last whole vector.
void AmpPhaseTail(const double *X, int64_t k, int64_t count, double scale, double *amp, double *phase, bool unwrap,
                  double &prevRaw, double &turns)
{
    for (; k < count; ++k) {
        const double re = X[2 * k], im = X[2 * k + 1];
        amp[k] = scale * std::sqrt(re * re + im * im);
        const double raw = std::atan2(im, re);
        if (unwrap) {
            const double d = raw - prevRaw;
            turns += (d < -M_PI) - (d > M_PI);
            phase[k] = raw + 2.0 * M_PI * turns;
        } else {
            phase[k] = raw;
        }
        prevRaw = raw;
    }
}

__attribute__((target("avx2,fma"))) ChunkEnds AmpPhaseAvx2(const double *X, int64_t count, double scale,
                                                            double *amp, double *phase, bool unwrap)
{
    ChunkEnds ends;
    ends.firstRaw = std::atan2(X[1], X[0]);
    double prevRaw = ends.firstRaw, turns = 0;
    const __m256d vscale = _mm256_set1_pd(scale);
    int64_t k = 0;
    for (; k + 4 <= count; k += 4) {
        __m256d c0 = _mm256_loadu_pd(X + 2 * k), c1 = _mm256_loadu_pd(X + 2 * k + 4);
        __m256d re = _mm256_unpacklo_pd(c0, c1); // bins 0 2 1 3
        __m256d im = _mm256_unpackhi_pd(c0, c1);
        __m256d mag = _mm256_mul_pd(vscale, _mm256_sqrt_pd(_mm256_fmadd_pd(re, re, _mm256_mul_pd(im, im))));
        _mm256_storeu_pd(amp + k, _mm256_permute4x64_pd(mag, 0xD8));
        __m256d raw = _mm256_permute4x64_pd(_ZGVdN4vv_atan2(im, re), 0xD8); // bins 0 1 2 3
        _mm256_storeu_pd(phase + k, unwrap ? UnwrapStep(raw, prevRaw, turns) : raw);
    }
    AmpPhaseTail(X, k, count, scale, amp, phase, unwrap, prevRaw, turns);
    ends.lastRaw = prevRaw;
    ends.turns = turns;
    return ends;
}

extern "C" __m512d _ZGVeN8vv_atan2(__m512d y, __m512d x); // 8 lanes: 1.6x the speed of 4 here

__attribute__((target("avx512f,avx2,fma"))) ChunkEnds AmpPhaseAvx512(const double *X, int64_t count, double scale,
                                                                      double *amp, double *phase, bool unwrap)
{
    ChunkEnds ends;
    ends.firstRaw = std::atan2(X[1], X[0]);
    double prevRaw = ends.firstRaw, turns = 0;
    const __m512d vscale = _mm512_set1_pd(scale);
    const __m512i evens = _mm512_set_epi64(14, 12, 10, 8, 6, 4, 2, 0), odds = _mm512_set_epi64(15, 13, 11, 9, 7, 5, 3, 1);
    int64_t k = 0;
    for (; k + 8 <= count; k += 8) {
        __m512d c0 = _mm512_loadu_pd(X + 2 * k), c1 = _mm512_loadu_pd(X + 2 * k + 8);
        __m512d re = _mm512_permutex2var_pd(c0, evens, c1); // bins 0..7
        __m512d im = _mm512_permutex2var_pd(c0, odds, c1);
        _mm512_storeu_pd(amp + k, _mm512_mul_pd(vscale, _mm512_maskz_sqrt_pd(0xFF, _mm512_fmadd_pd(re, re, _mm512_mul_pd(im, im)))));
        __m512d raw = _ZGVeN8vv_atan2(im, re);
        if (unwrap) {
            alignas(64) double lanes[8];
            _mm512_store_pd(lanes, raw);
            _mm256_storeu_pd(phase + k, UnwrapStep(_mm256_load_pd(lanes), prevRaw, turns));
            _mm256_storeu_pd(phase + k + 4, UnwrapStep(_mm256_load_pd(lanes + 4), prevRaw, turns));
        } else {
            _mm512_storeu_pd(phase + k, raw);
        }
    }
    AmpPhaseTail(X, k, count, scale, amp, phase, unwrap, prevRaw, turns);
    ends.lastRaw = prevRaw;
    ends.turns = turns;
    return ends;
}
#endif

} // namespace

void AngleTable(double cyclesPerStep, int64_t count, double *ct, double *st)
{
    // cos/sin of 2 pi frac(cyclesPerStep j) for j < count <= 512, composed from 16 fine and 32
    // coarse angles: 48 cosine/sine pairs instead of 512, within a few ulp.
    auto angle = [&](int64_t j) {
        const double c = cyclesPerStep * static_cast<double>(j);
        return 2.0 * M_PI * (c - std::floor(c));
    };
    double fc[16], fs[16];
    for (int64_t b = 0; b < 16; ++b) {
        fc[b] = std::cos(angle(b));
        fs[b] = std::sin(angle(b));
    }
    for (int64_t a = 0; a * 16 < count; ++a) {
        const double cc = std::cos(angle(16 * a)), cs = std::sin(angle(16 * a));
        for (int64_t b = 0; b < 16 && 16 * a + b < count; ++b) {
            ct[16 * a + b] = cc * fc[b] - cs * fs[b];
            st[16 * a + b] = cs * fc[b] + cc * fs[b];
        }
    }
}

CosineSum WindowPolynomial(int32_t type)
{
    // Cosine-sum coefficients a0..a4 of w = a0 - a1 cos(t) + a2 cos(2t) - a3 cos(3t) + a4 cos(4t).
    static const double kCoeff[TARQ_WINDOW_COUNT][5] = {
        {1.0, 0, 0, 0, 0},                                                  // none
        {0.5, 0.5, 0, 0, 0},                                                // Hanning
        {0.54, 0.46, 0, 0, 0},                                              // Hamming
        {0.42323, 0.49755, 0.07922, 0, 0},                                  // Blackman-Harris, 3 terms
        {7938.0 / 18608.0, 9240.0 / 18608.0, 1430.0 / 18608.0, 0, 0},       // exact Blackman
        {0.42, 0.5, 0.08, 0, 0},                                            // Blackman
        {0.215578950, 0.416631580, 0.277263158, 0.083578947, 0.006947368}, // flat top, 5 terms
    };
    const double *a = kCoeff[type];
    // cos(2t) = 2c^2 - 1, cos(3t) = 4c^3 - 3c, cos(4t) = 8c^4 - 8c^2 + 1 with c = cos(t).
    const double inv = 1.0 / a[0]; // scaled by the coherent gain a0
    CosineSum p;
    p.mono[0] = (a[0] - a[2] + a[4]) * inv;
    p.mono[1] = (-a[1] + 3 * a[3]) * inv;
    p.mono[2] = (2 * a[2] - 8 * a[4]) * inv;
    p.mono[3] = (-4 * a[3]) * inv;
    p.mono[4] = (8 * a[4]) * inv;
    return p;
}

void ApplyWindow(double *x, int64_t begin, int64_t end, int64_t n, const CosineSum &poly)
{
    // cos(2 pi i / n) by rotating a table of one block of angles from the exact angle of each
    // block start: two products per sample instead of a cosine, error stays at a few ulp.
    constexpr int64_t B = 512;
    double ct[B], st[B];
    const double step = 2.0 * M_PI / static_cast<double>(n);
    AngleTable(1.0 / static_cast<double>(n), std::min<int64_t>(B, end - begin), ct, st);
    for (int64_t s = begin; s < end; s += B) {
        const int64_t count = std::min<int64_t>(B, end - s);
        const double angle = step * static_cast<double>(s);
        WindowBlock(x + s, count, std::cos(angle), std::sin(angle), ct, st, poly.mono);
    }
}

TARQ_CLONES void MultiplyInPlace(double *x, const double *w, int64_t n)
{
    for (int64_t i = 0; i < n; ++i)
        x[i] *= w[i];
}

void PowerKernel(const fftw_complex *X, int64_t begin, int64_t end, double scale, double *pow)
{
    if (end > begin)
        PowerBlock(&X[begin][0], end - begin, scale, pow + begin);
}

ChunkEnds AmpPhaseKernel(const fftw_complex *X, int64_t begin, int64_t end, double scale, double *amp,
                         double *phase, bool unwrap)
{
    if (end <= begin)
        return {};
#if defined(__x86_64__)
    static const bool avx2 = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
    static const bool avx512 = avx2 && __builtin_cpu_supports("avx512f");
    if (avx512)
        return AmpPhaseAvx512(&X[begin][0], end - begin, scale, amp + begin, phase + begin, unwrap);
    if (avx2)
        return AmpPhaseAvx2(&X[begin][0], end - begin, scale, amp + begin, phase + begin, unwrap);
#endif
    AmplitudeBlock(&X[begin][0], end - begin, scale, amp + begin);
    ChunkEnds ends;
    ends.firstRaw = std::atan2(X[begin][1], X[begin][0]);
    double prevRaw = ends.firstRaw, turns = 0;
    for (int64_t k = begin; k < end; ++k) {
        const double raw = std::atan2(X[k][1], X[k][0]);
        if (unwrap) {
            const double d = raw - prevRaw;
            turns += (d < -M_PI) - (d > M_PI);
            phase[k] = raw + 2.0 * M_PI * turns;
        } else {
            phase[k] = raw;
        }
        prevRaw = raw;
    }
    ends.lastRaw = prevRaw;
    ends.turns = turns;
    return ends;
}

void HanningSums(const double *x, int64_t n, int64_t begin, int64_t end, double shift, double sums[3])
{
    constexpr int64_t B = 512;
    double ct[B], st[B];
    const double step = 2.0 * M_PI / static_cast<double>(n);
    AngleTable(1.0 / static_cast<double>(n), std::min(B, end - begin), ct, st);
    Compensated s[3];
    for (int64_t b = begin; b < end; b += B) {
        const double angle = step * static_cast<double>(b);
        double part[3] = {0, 0, 0};
        HanningBlock(x + b, std::min(B, end - b), shift, std::cos(angle), std::sin(angle), ct, st, part);
        for (int k = 0; k < 3; ++k)
            s[k].Add(part[k]);
    }
    for (int k = 0; k < 3; ++k)
        sums[k] = s[k].Value();
}

double SumKernel(const double *x, int64_t n)
{
    Compensated acc;
    for (int64_t i = 0; i < n; i += kBlock)
        acc.Add(BlockSum(x + i, std::min(kBlock, n - i)));
    return acc.Value();
}

double SumSquaresKernel(const double *x, int64_t n)
{
    Compensated acc;
    for (int64_t i = 0; i < n; i += kBlock)
        acc.Add(BlockSumSquares(x + i, std::min(kBlock, n - i)));
    return acc.Value();
}

Moments MomentsKernel(const double *x, int64_t n)
{
    // Per block: sums about a shift close to the mean (the running mean, or the block's first
    // value at the start), then Chan's pairwise combination of (count, mean, M2). One pass over
    // memory, no cancellation of large squares.
    Moments m;
    for (int64_t i = 0; i < n; i += kBlock) {
        const int64_t cnt = std::min(kBlock, n - i);
        const double shift = (i == 0 || !std::isfinite(m.mean)) ? x[i] : m.mean;
        double s1, s2;
        BlockShiftedSums(x + i, cnt, shift, &s1, &s2);
        const double bc = static_cast<double>(cnt);
        const double bmean = shift + s1 / bc;
        const double bm2 = s2 - s1 * s1 / bc;
        if (m.count == 0) {
            m = {bc, bmean, bm2};
        } else {
            const double total = m.count + bc;
            const double delta = bmean - m.mean;
            m.mean += delta * bc / total;
            m.m2 += bm2 + delta * delta * m.count * bc / total;
            m.count = total;
        }
    }
    if (m.m2 < 0)
        m.m2 = 0;
    return m;
}

void MaxMinKernel(const double *x, int64_t n, double *max, int64_t *imax, double *min, int64_t *imin)
{
    const double inf = std::numeric_limits<double>::infinity();
    double gmax = -inf, gmin = inf;
    int64_t bmax = -1, bmin = -1;
    for (int64_t i = 0; i < n; i += kBlock) {
        double h, l;
        BlockMaxMin(x + i, std::min(kBlock, n - i), &h, &l);
        if (h > gmax) { // strictly greater: the first block holding the maximum wins
            gmax = h;
            bmax = i;
        } else if (bmax < 0 && h == -inf) {
            bmax = i; // holds only NaN and/or -inf: a candidate until something larger appears
        }
        if (l < gmin) {
            gmin = l;
            bmin = i;
        } else if (bmin < 0 && l == inf) {
            bmin = i;
        }
    }
    // Find the first index of each extreme inside its block; a block that only produced the
    // initial +-inf may be all NaN, in which case the search goes on to later blocks.
    auto locate = [&](int64_t start, double value) -> int64_t {
        for (int64_t i = start; i < n; ++i)
            if (x[i] == value)
                return i;
        return -1;
    };
    const double nan = std::numeric_limits<double>::quiet_NaN();
    int64_t ix = bmax < 0 ? -1 : locate(bmax, gmax);
    int64_t in = bmin < 0 ? -1 : locate(bmin, gmin);
    *max = ix < 0 ? nan : gmax;
    *imax = ix;
    *min = in < 0 ? nan : gmin;
    *imin = in;
}

} // namespace tarq::analysis
