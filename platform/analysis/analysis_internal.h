// Internal pieces shared by the analysis sources: the transform engine (plan cache, work buffer
// pool, wisdom, background planning) and the vectorised kernels.
#pragma once

#include "analysis.h"

#include <cstddef>
#include <cstdint>
#include <fftw3.h>

namespace tarq::analysis {

// A (n/2 + 1)-bin complex work buffer from the pool; returned to it on destruction.
class WorkBuffer {
public:
    WorkBuffer() = default;
    ~WorkBuffer();
    WorkBuffer(const WorkBuffer &) = delete;
    WorkBuffer &operator=(const WorkBuffer &) = delete;
    fftw_complex *data() const { return data_; }

private:
    friend int32_t ForwardTransform(const double *, int64_t, WorkBuffer &);
    fftw_complex *data_ = nullptr;
    size_t capacity_ = 0; // complex values
};

// Real-to-complex transform of n >= 2 samples into buf (bins 0 .. n/2). The input is not changed.
int32_t ForwardTransform(const double *in, int64_t n, WorkBuffer &buf);

// Runs fn(begin, end) over [0, count), on two threads when count is large enough to pay for it.
template <class Fn> void ParallelRange(int64_t count, int64_t minPerThread, Fn &&fn);
bool UseSecondThread(int64_t count, int64_t minPerThread);
void RunOnSecondThread(void (*fn)(void *), void *ctx, void (*own)(void *), void *ownCtx);

template <class Fn> void ParallelRange(int64_t count, int64_t minPerThread, Fn &&fn)
{
    if (!UseSecondThread(count, minPerThread)) {
        fn(int64_t{0}, count);
        return;
    }
    // Split on a 64-element boundary so that both halves start on the same alignment.
    const int64_t mid = (count / 2) & ~int64_t{63};
    struct Ctx { Fn *fn; int64_t b, e; };
    Ctx second{&fn, mid, count}, first{&fn, 0, mid};
    RunOnSecondThread([](void *c) { auto *x = static_cast<Ctx *>(c); (*x->fn)(x->b, x->e); }, &second,
                      [](void *c) { auto *x = static_cast<Ctx *>(c); (*x->fn)(x->b, x->e); }, &first);
}

// ---- kernels (analysis_kernels.cpp) ----
struct CosineSum {
    double mono[5]; // window as a polynomial in c = cos(2 pi i / n), already divided by the gain
};
CosineSum WindowPolynomial(int32_t windowType);
void ApplyWindow(double *x, int64_t begin, int64_t end, int64_t n, const CosineSum &poly);
void MultiplyInPlace(double *x, const double *w, int64_t n);
void PowerKernel(const fftw_complex *X, int64_t begin, int64_t end, double scale, double *pow);
// cos/sin of 2 pi frac(cyclesPerStep j), j < count <= 512.
void AngleTable(double cyclesPerStep, int64_t count, double *ct, double *st);
// Amplitude (scale |X|) and phase of bins [begin, end); with unwrap, the phase is unwrapped
// within the chunk, starting from the chunk's own first raw phase.
struct ChunkEnds {
    double firstRaw = 0, lastRaw = 0, turns = 0; // raw phases at both ends, 2 pi turns added at the end
};
ChunkEnds AmpPhaseKernel(const fftw_complex *X, int64_t begin, int64_t end, double scale, double *amp,
                         double *phase, bool unwrap);

struct Moments { double count = 0, mean = 0, m2 = 0; };
double SumKernel(const double *x, int64_t n);
// Hanning-weighted sums about shift over [begin, end) of an n-point window (n >= 3):
// sum w v, sum w^2 v, sum w^2 v^2 with v = x - shift.
void HanningSums(const double *x, int64_t n, int64_t begin, int64_t end, double shift, double sums[3]);
double SumSquaresKernel(const double *x, int64_t n);
Moments MomentsKernel(const double *x, int64_t n);
void MaxMinKernel(const double *x, int64_t n, double *max, int64_t *imax, double *min, int64_t *imin);

} // namespace tarq::analysis
