// Amplitude spectrum of N samples (scaled window + r2c transform + magnitudes [+ phase]) against
// a bare FFTW r2c execute of the same N with the same plan (same flags and threads: FFTW's
// planner hands back the same plan), timed alternately in every iteration.
//   ratio_amp_phase: ScaledWindow + AmpPhaseSpectrum (phase written over the input, unwrapped)
//                    + SpectrumUnitConversion, the instrument's spectrum path
//   ratio_power:     ScaledWindow + AutoPowerSpectrum (window + transform + magnitudes, no phase)
// The library's background planning is off; both sides run the ESTIMATE plan, or with
// TARQ_BENCH_WISDOM=1 the measured plan from the wisdom file.
#include "analysis.h"

#include <benchmark/benchmark.h>
#include <fftw3.h>

#include <chrono>
#include <thread>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// Resident and peak resident memory of this process in bytes (/proc/self/status).
void Memory(double *rss, double *hwm)
{
    *rss = *hwm = 0;
    if (FILE *f = std::fopen("/proc/self/status", "r")) {
        char line[256];
        while (std::fgets(line, sizeof line, f)) {
            double kb;
            if (std::sscanf(line, "VmRSS: %lf", &kb) == 1)
                *rss = kb * 1024;
            else if (std::sscanf(line, "VmHWM: %lf", &kb) == 1)
                *hwm = kb * 1024;
        }
        std::fclose(f);
    }
}

double Seconds(Clock::time_point a, Clock::time_point b) { return std::chrono::duration<double>(b - a).count(); }

template <class T> struct FftwVec {
    T *p;
    explicit FftwVec(size_t n) : p(static_cast<T *>(fftw_malloc(n * sizeof(T)))) {}
    ~FftwVec() { fftw_free(p); }
};

void BM_Spectrum(benchmark::State &state)
{
    const int64_t n = state.range(0);
    const int64_t m = n / 2;
    // TARQ_BENCH_WISDOM=1: both sides use the measured plans kept as wisdom (made beforehand by
    // analysis_plan_warmup); otherwise both run ESTIMATE plans. No background planning either way.
    static const bool wisdom = [] {
        const char *w = std::getenv("TARQ_BENCH_WISDOM");
        const bool on = w && std::strcmp(w, "1") == 0;
        TarqAnalysisConfigure(on ? 1 : 0, 0.0);
        fftw_init_threads();
        return on;
    }();
    const unsigned hw = std::thread::hardware_concurrency();
    const int threads = n >= (int64_t{1} << 20) && hw >= 2 ? 2 : 1;

    FftwVec<double> x(n), work(n), work2(n);
    FftwVec<fftw_complex> out(m + 1);
    std::vector<double> amp(m), pw(m);
    for (int64_t i = 0; i < n; ++i)
        x.p[i] = 0.3 * std::sin(0.001 * i) + 1e-3 * std::cos(0.37 * i) + 1e-4 * ((i * 7919) % 1000 - 500) / 500.0;
    for (int64_t i = 0; i < n; ++i)
        work.p[i] = x.p[i];
    WindowConstants wc{};
    double df = 0;
    // The library plans first (and, in wisdom mode, loads the wisdom into FFTW); the baseline's
    // plan then comes from the same planner state.
    AutoPowerSpectrum(x.p, n, 2e-9, pw.data(), &df);
    fftw_plan_with_nthreads(threads);
    fftw_plan plan = nullptr;
    if (wisdom)
        plan = fftw_plan_dft_r2c_1d(static_cast<int>(n), x.p, out.p, FFTW_MEASURE | FFTW_WISDOM_ONLY);
    state.counters["measured_plan"] = plan != nullptr;
    if (!plan)
        plan = fftw_plan_dft_r2c_1d(static_cast<int>(n), x.p, out.p, FFTW_ESTIMATE);
    // Warm up: plans made, pages touched, the library's work buffer in place. The first
    // amplitude spectrum also shows the working memory it adds at its peak (outputs already
    // touched): the retained work buffer plus whatever FFTW itself allocates while executing.
    fftw_execute_dft_r2c(plan, x.p, out.p);
    for (int64_t i = 0; i < m; ++i)
        amp[i] = 0;
    TarqAnalysisReleaseMemory();
    double rss0, hwm0, rss1, hwm1;
    Memory(&rss0, &hwm0);
    ScaledWindow(work.p, n, TARQ_WINDOW_BLACKMAN, &wc);
    AmpPhaseSpectrum(work.p, n, 1, 2e-9, amp.data(), work.p, &df);
    Memory(&rss1, &hwm1);
    state.counters["extra_peak_MiB"] = hwm1 > hwm0 ? (hwm1 - rss0) / 1048576.0 : 0.0;
    state.counters["work_buffer_MiB"] = TarqAnalysisHeldBytes() / 1048576.0;
    AutoPowerSpectrum(x.p, n, 2e-9, pw.data(), &df);

    double tFftw = 0, tAmp = 0, tPow = 0;
    for (auto _ : state) {
        auto t0 = Clock::now();
        fftw_execute_dft_r2c(plan, x.p, out.p);
        std::memcpy(work.p, x.p, n * sizeof(double)); // fresh samples each round, not timed
        auto t1 = Clock::now();
        ScaledWindow(work.p, n, TARQ_WINDOW_BLACKMAN, &wc);
        AmpPhaseSpectrum(work.p, n, 1, 2e-9, amp.data(), work.p, &df);
        SpectrumUnitConversion(amp.data(), m, 1, 0, 0, df, wc, amp.data(), nullptr);
        auto t2 = Clock::now();
        std::memcpy(work2.p, x.p, n * sizeof(double)); // fresh samples each round, not timed
        auto t3a = Clock::now();
        ScaledWindow(work2.p, n, TARQ_WINDOW_BLACKMAN, &wc);
        AutoPowerSpectrum(work2.p, n, 2e-9, pw.data(), &df);
        auto t3 = Clock::now();
        benchmark::DoNotOptimize(amp.data());
        benchmark::DoNotOptimize(pw.data());
        tFftw += Seconds(t0, t1);
        tAmp += Seconds(t1, t2);
        tPow += Seconds(t3a, t3);
        state.SetIterationTime(Seconds(t1, t2));
    }
    const double it = static_cast<double>(state.iterations());
    state.counters["fftw_ms"] = 1e3 * tFftw / it;
    state.counters["amp_phase_ms"] = 1e3 * tAmp / it;
    state.counters["power_ms"] = 1e3 * tPow / it;
    state.counters["ratio_amp_phase"] = tAmp / tFftw;
    state.counters["ratio_power"] = tPow / tFftw;
    state.counters["threads"] = threads;
    fftw_destroy_plan(plan);
}

} // namespace

BENCHMARK(BM_Spectrum)->UseManualTime()->Unit(benchmark::kMillisecond)
    ->Arg(1024)->Arg(104448)->Arg(1 << 20)->Arg(1 << 22);
BENCHMARK(BM_Spectrum)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3)
    ->Arg(1 << 24)->Arg(21473280);
BENCHMARK(BM_Spectrum)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1)
    ->Arg(33554431);

BENCHMARK_MAIN();
