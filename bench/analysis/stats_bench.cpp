// Statistics over 16M samples against a vectorised read-only sum over the same data (the
// memory-bound limit), and array operations against memcpy of the same bytes; each pair is
// timed alternately in every iteration and reported as a ratio.
#include "analysis.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr int64_t kN = int64_t{1} << 24;

double Seconds(Clock::time_point a, Clock::time_point b) { return std::chrono::duration<double>(b - a).count(); }

typedef double v4 __attribute__((vector_size(32)));

// The baseline: 16 lanes of independent sums, as fast as memory delivers.
__attribute__((target_clones("arch=x86-64-v3", "default"))) double VectorSum(const double *x, int64_t n)
{
    v4 a = {0, 0, 0, 0}, b = a, c = a, d = a;
    int64_t i = 0;
    for (; i + 16 <= n; i += 16) {
        v4 p, q, r, s;
        std::memcpy(&p, x + i, 32);
        std::memcpy(&q, x + i + 4, 32);
        std::memcpy(&r, x + i + 8, 32);
        std::memcpy(&s, x + i + 12, 32);
        a += p;
        b += q;
        c += r;
        d += s;
    }
    v4 t = (a + b) + (c + d);
    double sum = t[0] + t[1] + t[2] + t[3];
    for (; i < n; ++i)
        sum += x[i];
    return sum;
}

const std::vector<double> &Data()
{
    static const std::vector<double> x = [] {
        std::vector<double> v(kN);
        for (int64_t i = 0; i < kN; ++i)
            v[i] = 0.5 + std::sin(0.0007 * i) + 1e-3 * ((i * 7919) % 1000);
        return v;
    }();
    return x;
}

template <class Op> void AgainstSum(benchmark::State &state, Op op)
{
    const std::vector<double> &x = Data();
    double tBase = 0, tOp = 0;
    op(x.data(), kN);
    benchmark::DoNotOptimize(VectorSum(x.data(), kN));
    for (auto _ : state) {
        auto t0 = Clock::now();
        benchmark::DoNotOptimize(VectorSum(x.data(), kN));
        auto t1 = Clock::now();
        op(x.data(), kN);
        auto t2 = Clock::now();
        tBase += Seconds(t0, t1);
        tOp += Seconds(t1, t2);
        state.SetIterationTime(Seconds(t1, t2));
    }
    state.counters["ratio_to_sum"] = tOp / tBase;
    state.counters["sum_GBps"] = static_cast<double>(kN) * 8 * state.iterations() / tBase / 1e9;
}

template <class Op> void AgainstMemcpy(benchmark::State &state, Op op)
{
    const std::vector<double> &x = Data();
    std::vector<double> out(kN), copy(kN);
    double tBase = 0, tOp = 0;
    op(x.data(), out.data());
    std::memcpy(copy.data(), x.data(), kN * sizeof(double));
    for (auto _ : state) {
        auto t0 = Clock::now();
        std::memcpy(copy.data(), x.data(), kN * sizeof(double));
        auto t1 = Clock::now();
        op(x.data(), out.data());
        auto t2 = Clock::now();
        benchmark::DoNotOptimize(out.data());
        benchmark::DoNotOptimize(copy.data());
        tBase += Seconds(t0, t1);
        tOp += Seconds(t1, t2);
        state.SetIterationTime(Seconds(t1, t2));
    }
    state.counters["ratio_to_memcpy"] = tOp / tBase;
}

void BM_Sum1D(benchmark::State &s) { AgainstSum(s, [](const double *x, int64_t n) { double v; Sum1D(x, n, &v); benchmark::DoNotOptimize(v); }); }
void BM_Mean(benchmark::State &s) { AgainstSum(s, [](const double *x, int64_t n) { double v; Mean(x, n, &v); benchmark::DoNotOptimize(v); }); }
void BM_RMS(benchmark::State &s) { AgainstSum(s, [](const double *x, int64_t n) { double v; RMS(x, n, &v); benchmark::DoNotOptimize(v); }); }
void BM_StdDev(benchmark::State &s) { AgainstSum(s, [](const double *x, int64_t n) { double m, v; StdDev(x, n, &m, &v); benchmark::DoNotOptimize(v); }); }
void BM_MaxMin1D(benchmark::State &s)
{
    AgainstSum(s, [](const double *x, int64_t n) {
        double mx, mn;
        int64_t imx, imn;
        MaxMin1D(x, n, &mx, &imx, &mn, &imn);
        benchmark::DoNotOptimize(imx);
    });
}
void BM_ACDCEstimator(benchmark::State &s) { AgainstSum(s, [](const double *x, int64_t n) { double ac, dc; ACDCEstimator(x, n, &ac, &dc); benchmark::DoNotOptimize(ac); }); }

void BM_Reverse(benchmark::State &s) { AgainstMemcpy(s, [](const double *x, double *o) { Reverse(x, kN, o); }); }
void BM_Abs1D(benchmark::State &s) { AgainstMemcpy(s, [](const double *x, double *o) { Abs1D(x, kN, o); }); }
void BM_LinEv1D(benchmark::State &s) { AgainstMemcpy(s, [](const double *x, double *o) { LinEv1D(x, kN, 1.0, -0.5, o); }); }
void BM_Mul1D(benchmark::State &s) { AgainstMemcpy(s, [](const double *x, double *o) { Mul1D(x, x, kN, o); }); }

} // namespace

BENCHMARK(BM_Sum1D)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Mean)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RMS)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StdDev)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MaxMin1D)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ACDCEstimator)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Reverse)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Abs1D)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LinEv1D)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Mul1D)->UseManualTime()->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
