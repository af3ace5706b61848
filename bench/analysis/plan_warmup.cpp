// Measures FFTW plans for the given record lengths with the library's own background planning
// and leaves them in the wisdom file ($XDG_CACHE_HOME/tarq/fftw3-wisdom), so that the next runs
// (and the spectrum benchmark with TARQ_BENCH_WISDOM=1) start with measured plans.
//   analysis_plan_warmup [--seconds S] N...
#include "analysis.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

int main(int argc, char **argv)
{
    double seconds = 1800;
    std::vector<long long> sizes;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--seconds") == 0 && i + 1 < argc)
            seconds = std::atof(argv[++i]);
        else if (long long n = std::atoll(argv[i]); n > 1)
            sizes.push_back(n);
    }
    if (sizes.empty() || !(seconds > 0)) {
        std::fprintf(stderr, "usage: %s [--seconds S] N...\n", argv[0]);
        return 2;
    }
    if (TarqAnalysisConfigure(1, seconds) != TARQ_ANALYSIS_SUCCESS)
        return 2;
    for (long long n : sizes) {
        std::vector<double> x(static_cast<size_t>(n), 0.0), s(static_cast<size_t>(n / 2));
        double df;
        const auto t0 = std::chrono::steady_clock::now();
        const int32_t st = AutoPowerSpectrum(x.data(), n, 1.0, s.data(), &df);
        TarqAnalysisWaitForBackgroundPlanning();
        const double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        std::printf("%lld: status %d, %.1f s\n", n, st, took);
        std::fflush(stdout);
        TarqAnalysisReleaseMemory();
    }
    return 0;
}
