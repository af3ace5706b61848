// The transfers' conversions against memcpy of the bytes they write, measured in the same run on
// arrays already touched (first-touch page faults would otherwise decide the figure).
#include "sample_convert.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstring>
#include <vector>

namespace {

constexpr size_t kWords = 16u << 20; // 64 MiB of words in, 256 MiB of volts out

template <typename Convert>
void ratioToMemcpy(benchmark::State &state, size_t outBytes, Convert convert) {
    std::vector<uint32_t> words(kWords);
    for (size_t i = 0; i < kWords; ++i) words[i] = static_cast<uint32_t>(i * 2654435761u);
    std::vector<char> src(outBytes, 1), dst(outBytes, 2);
    double tConvert = 0, tCopy = 0;
    for (auto _ : state) {
        auto t0 = std::chrono::steady_clock::now();
        convert(words.data());
        benchmark::ClobberMemory();
        auto t1 = std::chrono::steady_clock::now();
        std::memcpy(dst.data(), src.data(), outBytes);
        benchmark::ClobberMemory();
        auto t2 = std::chrono::steady_clock::now();
        tConvert += std::chrono::duration<double>(t1 - t0).count();
        tCopy += std::chrono::duration<double>(t2 - t1).count();
        state.SetIterationTime(std::chrono::duration<double>(t1 - t0).count());
    }
    state.counters["convert_GBps_out"] = outBytes * state.iterations() / tConvert / 1e9;
    state.counters["memcpy_GBps"] = outBytes * state.iterations() / tCopy / 1e9;
    state.counters["ratio_to_memcpy"] = tCopy / tConvert; // target: at least 0.8
}

void BM_WordsToVolts(benchmark::State &state) {
    std::vector<double> a(kWords, 0.0), b(kWords, 0.0);
    ratioToMemcpy(state, 2 * kWords * sizeof(double), [&](const uint32_t *w) {
        nextarq::wordsToVolts(w, kWords, a.data(), b.data(), {1.0, 0.001}, {1.01, -0.002});
    });
}
BENCHMARK(BM_WordsToVolts)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_WordsToCodes(benchmark::State &state) {
    std::vector<int16_t> a(kWords, 0), b(kWords, 0);
    ratioToMemcpy(state, 2 * kWords * sizeof(int16_t),
                  [&](const uint32_t *w) { nextarq::wordsToCodes(w, kWords, a.data(), b.data()); });
}
BENCHMARK(BM_WordsToCodes)->UseManualTime()->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
