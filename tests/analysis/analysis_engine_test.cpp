// Tone and harmonic analysis as the measurement engine chains it, and the transform engine:
// plan cache under threads, work buffer reuse, wisdom file, background planning.
#include "analysis_test_util.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fftw3.h>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <thread>
#include <unistd.h>

using namespace tarq_test;

namespace {

// Tests never read or write wisdom and never plan in the background, unless they say so.
class QuietPlanning : public ::testing::Environment {
    void SetUp() override { TarqAnalysisConfigure(0, 0.0); }
};
const auto *g_env = ::testing::AddGlobalTestEnvironment(new QuietPlanning);

struct Quality {
    double f = 0, p1 = 0, thdDb = 0, sinadDb = 0, snrDb = 0, sfdrDb = 0;
};

// SNR, THD, SINAD and SFDR the way the instrument's measurement engine computes them.
Quality Analyse(const std::vector<double> &x, double dt)
{
    const int64_t n = (int64_t)x.size(), m = n / 2;
    std::vector<double> w = x, s(m + 1);
    WindowConstants wc{};
    double df = 0;
    Quality q;
    EXPECT_EQ(ScaledWindowEx(w.data(), n, TARQ_WINDOW_HANNING, 0.0, &wc), TARQ_ANALYSIS_SUCCESS);
    EXPECT_EQ(AutoPowerSpectrum(w.data(), n, dt, s.data(), &df), TARQ_ANALYSIS_SUCCESS);
    for (int64_t i = 0; i < 6; ++i)
        s[i] = s[m - 6 + i] = 0.0;
    EXPECT_EQ(PowerFrequencyEstimate(s.data(), m, -1.0, wc, df, 10, &q.f, &q.p1), TARQ_ANALYSIS_SUCCESS);

    std::vector<double> amps(1024), freqs(1024);
    double t = 0, tn = 0;
    EXPECT_EQ(HarmonicAnalyzer(s.data(), m, n, 5, TARQ_WINDOW_HANNING, 1.0 / dt, q.f, amps.data(), freqs.data(), &t, &tn),
              TARQ_ANALYSIS_SUCCESS);
    q.thdDb = t != 0 ? 20 * std::log10(t / 100) : 0;
    q.sinadDb = tn != 0 ? std::fabs(20 * std::log10(tn / 100)) : 0;
    q.snrDb = -10 * std::log10(std::pow(10, -q.sinadDb / 10) - std::pow(10, q.thdDb / 10));

    int64_t mb = 0;
    for (int64_t i = 1; i < m; ++i)
        if (s[i] > s[mb])
            mb = i;
    auto clamp = [&](int64_t i) { return std::min(std::max(i, int64_t{0}), m - 1); };
    for (int64_t j = 0; j <= 11; ++j)
        for (int64_t h = 1; h <= 3; ++h)
            s[clamp(h * mb + j)] = s[clamp(h * mb - j)] = 0.0;
    double fs = 0, ps = 0;
    EXPECT_EQ(PowerFrequencyEstimate(s.data(), m, -1.0, wc, df, 10, &fs, &ps), TARQ_ANALYSIS_SUCCESS);
    q.sfdrDb = 20 * std::log10(std::sqrt(q.p1 / ps));
    return q;
}

double Db(double ratio) { return 10 * std::log10(ratio); }

} // namespace

TEST(AnalysisTone, PowerFrequencyEstimateBetweenBins)
{
    const size_t n = 16384;
    const double dt = 2e-9, df = 1.0 / (n * dt);
    for (int32_t window : {TARQ_WINDOW_HANNING, TARQ_WINDOW_BLACKMAN, TARQ_WINDOW_FLAT_TOP}) {
        for (double bin : {1000.0, 1000.13, 1000.25, 1000.5, 1000.77}) {
            SCOPED_TRACE(std::to_string(window) + " " + std::to_string(bin));
            std::vector<double> x = Tone(n, bin, 0.8), s(n / 2);
            WindowConstants wc{};
            double d, f, p;
            ASSERT_EQ(ScaledWindow(x.data(), n, window, &wc), TARQ_ANALYSIS_SUCCESS);
            ASSERT_EQ(AutoPowerSpectrum(x.data(), n, dt, s.data(), &d), TARQ_ANALYSIS_SUCCESS);
            ASSERT_EQ(PowerFrequencyEstimate(s.data(), n / 2, -1.0, wc, d, 10, &f, &p), TARQ_ANALYSIS_SUCCESS);
            EXPECT_NEAR(f / df, bin, 0.01);
            EXPECT_NEAR(Db(p / (0.8 * 0.8 / 2)), 0.0, 0.05);
            // A search frequency picks the tone near it even when a larger one is elsewhere.
            std::vector<double> y = Tone(n, bin, 0.01);
            std::vector<double> big = Tone(n, 3000.4, 1.0);
            for (size_t i = 0; i < n; ++i)
                y[i] += big[i];
            ASSERT_EQ(ScaledWindow(y.data(), n, window, &wc), TARQ_ANALYSIS_SUCCESS);
            ASSERT_EQ(AutoPowerSpectrum(y.data(), n, dt, s.data(), &d), TARQ_ANALYSIS_SUCCESS);
            ASSERT_EQ(PowerFrequencyEstimate(s.data(), n / 2, bin * df, wc, d, 10, &f, &p), TARQ_ANALYSIS_SUCCESS);
            EXPECT_NEAR(f / df, bin, 0.01);
            EXPECT_NEAR(Db(p / (0.01 * 0.01 / 2)), 0.0, 0.05);
        }
    }
    double s[4] = {0, 1, 0, 0}, f, p;
    const WindowConstants wc{1.5, 0.5};
    EXPECT_EQ(PowerFrequencyEstimate(s, 4, -1, wc, 1.0, 0, &f, &p), TARQ_ANALYSIS_ERR_SPAN);
    EXPECT_EQ(PowerFrequencyEstimate(s, 4, -1, wc, 0.0, 3, &f, &p), TARQ_ANALYSIS_ERR_ARGUMENT);
    EXPECT_EQ(PowerFrequencyEstimate(s, 4, -1, WindowConstants{0, 1}, 1.0, 3, &f, &p), TARQ_ANALYSIS_ERR_ARGUMENT);
    EXPECT_EQ(PowerFrequencyEstimate(s, 0, -1, wc, 1.0, 3, &f, &p), TARQ_ANALYSIS_ERR_SIZE);
    ASSERT_EQ(PowerFrequencyEstimate(s, 4, 1e9, wc, 1.0, 3, &f, &p), TARQ_ANALYSIS_SUCCESS); // outside: whole spectrum
    EXPECT_EQ(f, 1.0);
}

TEST(AnalysisTone, KnownThdSnrSinadAndSfdrAreRecovered)
{
    const size_t n = 65536;
    const double dt = 2e-9, bin = 1234.37;
    struct Case { double h2Dbc, h3Dbc, noiseRms, spurDbc; };
    const Case cases[] = {
        {-50, -56, 0.0, 0},       // THD only
        {-60, -200, 1e-3, 0},     // noise dominates SINAD
        {-45, -52, 3e-4, 0},      // both
        {-200, -200, 0.0, -70},   // one spur, SFDR
        {-200, -200, 1e-5, -60},  // spur above a low noise floor
    };
    std::mt19937_64 rng(11);
    for (const Case &c : cases) {
        SCOPED_TRACE(std::to_string(c.h2Dbc) + " " + std::to_string(c.noiseRms) + " " + std::to_string(c.spurDbc));
        std::vector<double> x = Tone(n, bin, 1.0, 0.1);
        const auto h2 = Tone(n, 2 * bin, std::pow(10, c.h2Dbc / 20), 1.0);
        const auto h3 = Tone(n, 3 * bin, std::pow(10, c.h3Dbc / 20), 2.0);
        const auto spur = Tone(n, 5000.2, c.spurDbc != 0 ? std::pow(10, c.spurDbc / 20) : 0.0, 0.5);
        std::normal_distribution<double> g(0.0, c.noiseRms > 0 ? c.noiseRms : 1.0);
        double noisePower = 0;
        for (size_t i = 0; i < n; ++i) {
            const double e = c.noiseRms > 0 ? g(rng) : 0.0;
            noisePower += e * e;
            x[i] += h2[i] + h3[i] + spur[i] + e;
        }
        noisePower /= n;
        const double p1 = 0.5;
        const double ph = 0.5 * (std::pow(10, c.h2Dbc / 10) + std::pow(10, c.h3Dbc / 10));
        const Quality q = Analyse(x, dt);
        EXPECT_NEAR(q.f * n * dt, bin, 0.01);
        EXPECT_NEAR(Db(q.p1 / p1), 0.0, 0.05);
        if (c.h2Dbc > -100) {
            EXPECT_NEAR(q.thdDb, Db(ph / p1), 0.1);
        }
        if (c.spurDbc == 0) {
            EXPECT_NEAR(q.sinadDb, Db(p1 / (ph + noisePower)), 0.1);
            if (c.noiseRms > 0) {
                EXPECT_NEAR(q.snrDb, Db(p1 / noisePower), 0.1);
            }
        } else {
            EXPECT_NEAR(q.sfdrDb, -c.spurDbc, 0.1);
        }
    }
}

TEST(AnalysisTone, LowFundamentalOfAShortRecordKeepsItsHarmonicsApart)
{
    // 1024 samples with the tone ten bins above DC: the lobes must shrink to the harmonic
    // spacing instead of swallowing the second harmonic into the fundamental.
    const size_t n = 1024;
    std::vector<double> x = Tone(n, 10.3, 1.0, 0.2);
    const auto h2 = Tone(n, 20.6, 0.01, 1.1), h3 = Tone(n, 30.9, 0.00316227766, 2.3);
    for (size_t i = 0; i < n; ++i)
        x[i] += h2[i] + h3[i];
    const Quality q = Analyse(x, 2e-9);
    EXPECT_NEAR(q.f * n * 2e-9, 10.3, 0.02);
    EXPECT_NEAR(q.thdDb, Db(1e-4 + 1e-5), 0.2);
}

TEST(AnalysisTone, HarmonicAnalyzerOutputsAndLimits)
{
    const size_t n = 8192;
    std::vector<double> x = Tone(n, 1000.0, 1.0), h2 = Tone(n, 2000.0, 0.1), s(n / 2);
    for (size_t i = 0; i < n; ++i)
        x[i] += h2[i];
    WindowConstants wc{};
    double df, amps[6], freqs[6], t, tn;
    ASSERT_EQ(ScaledWindow(x.data(), n, TARQ_WINDOW_HANNING, &wc), TARQ_ANALYSIS_SUCCESS);
    ASSERT_EQ(AutoPowerSpectrum(x.data(), n, 1.0 / 8192.0, s.data(), &df), TARQ_ANALYSIS_SUCCESS);
    // 1 kHz at 8192 S/s: harmonics 5 and 6 lie above 4096 Hz and stay 0. frameSize 0 = 2 x size.
    std::fill(std::begin(amps), std::end(amps), -1.0);
    ASSERT_EQ(HarmonicAnalyzer(s.data(), n / 2, 0, 6, 1, 8192.0, 1000.0, amps, freqs, &t, &tn), TARQ_ANALYSIS_SUCCESS);
    EXPECT_NEAR(amps[0], 1.0 / std::sqrt(2.0), 1e-6);
    EXPECT_NEAR(amps[1], 0.1 / std::sqrt(2.0), 1e-6);
    EXPECT_NEAR(freqs[1], 2000.0, 1e-6);
    EXPECT_NEAR(t, 10.0, 1e-4);
    EXPECT_NEAR(tn, 10.0, 1e-3);
    EXPECT_EQ(amps[4], 0.0);
    EXPECT_EQ(amps[5], 0.0);
    EXPECT_EQ(freqs[5], 0.0);
    EXPECT_EQ(HarmonicAnalyzer(s.data(), n / 2, n, 0, 1, 8192.0, 1000.0, amps, freqs, &t, &tn), TARQ_ANALYSIS_ERR_HARMONICS);
    EXPECT_EQ(HarmonicAnalyzer(s.data(), n / 2, n, 5, 9, 8192.0, 1000.0, amps, freqs, &t, &tn), TARQ_ANALYSIS_ERR_WINDOW_TYPE);
    EXPECT_EQ(HarmonicAnalyzer(s.data(), n / 2, n, 5, 1, 0.0, 1000.0, amps, freqs, &t, &tn), TARQ_ANALYSIS_ERR_ARGUMENT);
    EXPECT_EQ(HarmonicAnalyzer(s.data(), 2, n, 5, 1, 8192.0, 1000.0, amps, freqs, &t, &tn), TARQ_ANALYSIS_ERR_SIZE);
    // The shortest spectrum, fundamental given near its end: nothing is read past it.
    double tiny[3] = {0.0, 1.0, 2.0};
    EXPECT_EQ(HarmonicAnalyzer(tiny, 3, 6, 2, 1, 1.0, 0.45, amps, freqs, &t, &tn), TARQ_ANALYSIS_SUCCESS);
    // An all-zero spectrum has no fundamental: 0 %, not a division by zero.
    std::vector<double> z(64, 0.0);
    ASSERT_EQ(HarmonicAnalyzer(z.data(), 64, 128, 3, 1, 1.0, 0.1, amps, freqs, &t, &tn), TARQ_ANALYSIS_SUCCESS);
    EXPECT_EQ(t, 0.0);
    EXPECT_EQ(tn, 0.0);
}

TEST(AnalysisEngine, ConcurrentSpectraOfManyLengthsAgreeWithSerialOnes)
{
    const std::vector<size_t> lengths = {1000, 1001, 1155, 4096, 104448, 7919, 65536, size_t{1} << 20};
    std::vector<std::vector<double>> inputs, refs;
    for (size_t n : lengths) {
        inputs.push_back(Tone(n, n / 7.3, 1.0));
        std::vector<double> a(n / 2), p(n / 2);
        double df;
        ASSERT_EQ(AmpPhaseSpectrum(inputs.back().data(), n, 1, 1e-3, a.data(), p.data(), &df), TARQ_ANALYSIS_SUCCESS);
        refs.push_back(a);
    }
    TarqAnalysisReleaseMemory(); // plans are made again, concurrently
    std::atomic<int> mismatches{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int round = 0; round < 3; ++round) {
                for (size_t k = 0; k < lengths.size(); ++k) {
                    const size_t i = (k + t) % lengths.size();
                    const size_t n = lengths[i];
                    std::vector<double> a(n / 2), p(n / 2);
                    double df;
                    if (AmpPhaseSpectrum(inputs[i].data(), n, 1, 1e-3, a.data(), p.data(), &df) != TARQ_ANALYSIS_SUCCESS)
                        ++mismatches;
                    for (size_t j = 0; j < n / 2; ++j)
                        if (std::fabs(a[j] - refs[i][j]) > 1e-12)
                            ++mismatches;
                }
            }
        });
    }
    for (auto &th : threads)
        th.join();
    EXPECT_EQ(mismatches.load(), 0);
}

TEST(AnalysisEngine, LargeWorkBufferIsReusedAndReleasedOnRequest)
{
    TarqAnalysisReleaseMemory();
    EXPECT_EQ(TarqAnalysisHeldBytes(), 0);
    const size_t n = size_t{1} << 17;
    auto spectrum = [](size_t len) {
        std::vector<double> x = Tone(len, 100.5, 1.0), s(len / 2);
        double df;
        ASSERT_EQ(AutoPowerSpectrum(x.data(), len, 1.0, s.data(), &df), TARQ_ANALYSIS_SUCCESS);
    };
    const int64_t bins = (int64_t)(n / 2 + 1) * 16;
    spectrum(n);
    EXPECT_EQ(TarqAnalysisHeldBytes(), bins);
    spectrum(n);
    EXPECT_EQ(TarqAnalysisHeldBytes(), bins);     // same buffer again
    spectrum(n - 2);
    EXPECT_EQ(TarqAnalysisHeldBytes(), bins);     // a slightly shorter record reuses it
    spectrum(1000);
    EXPECT_EQ(TarqAnalysisHeldBytes(), bins);     // small transforms do not disturb it
    spectrum(4 * n);
    const int64_t bigger = (int64_t)(2 * n + 1) * 16;
    EXPECT_EQ(TarqAnalysisHeldBytes(), bigger);   // a longer record replaces it
    EXPECT_EQ(TarqAnalysisReleaseMemory(), bigger);
    EXPECT_EQ(TarqAnalysisHeldBytes(), 0);
}

TEST(AnalysisEngine, WisdomIsWrittenAtomicallyUnderTheCacheDirectory)
{
    const char *scratch = std::getenv("TARQ_TEST_SCRATCH");
    namespace fs = std::filesystem;
    const fs::path root = fs::path(scratch ? scratch : "/tmp") / ("analysis-wisdom-" + std::to_string(getpid()));
    fs::remove_all(root);
    fs::create_directories(root);
    setenv("XDG_CACHE_HOME", root.c_str(), 1);
    ASSERT_EQ(TarqAnalysisConfigure(1, 5.0), TARQ_ANALYSIS_SUCCESS);
    const size_t n = 2310; // a length no other test plans
    std::vector<double> x = Tone(n, 10.0, 1.0), s(n / 2);
    double df;
    ASSERT_EQ(AutoPowerSpectrum(x.data(), n, 1.0, s.data(), &df), TARQ_ANALYSIS_SUCCESS);
    TarqAnalysisWaitForBackgroundPlanning();
    TarqAnalysisConfigure(0, 0.0);
    unsetenv("XDG_CACHE_HOME");

    const fs::path file = root / "tarq" / "fftw3-wisdom";
    ASSERT_TRUE(fs::exists(file));
    std::ifstream in(file);
    std::string head;
    std::getline(in, head);
    EXPECT_EQ(head.rfind("(fftw-3", 0), 0u) << head;
    int entries = 0;
    for (const auto &e : fs::directory_iterator(root / "tarq")) {
        ++entries;
        EXPECT_EQ(e.path().filename(), "fftw3-wisdom"); // no temporary left behind
    }
    EXPECT_EQ(entries, 1);
    // It loads into this process's planner, and into any threaded FFTW program's: its signature
    // is the one FFTW's own tool writes (a planner used before fftw_init_threads differs).
    EXPECT_EQ(fftw_import_wisdom_from_filename(file.c_str()), 1);
    if (FILE *tool = popen("fftw-wisdom -n -T 2 -e rof16 2>/dev/null", "r")) {
        char line[256] = {};
        const bool got = std::fgets(line, sizeof line, tool) != nullptr;
        pclose(tool);
        std::string reference(line);
        if (got && reference.rfind("(fftw-3", 0) == 0) {
            while (!reference.empty() && (reference.back() == '\n' || reference.back() == '\r'))
                reference.pop_back();
            EXPECT_EQ(head, reference);
        }
    }
    // The spectrum still agrees after the measured plan replaced the estimated one.
    std::vector<double> s2(n / 2);
    ASSERT_EQ(AutoPowerSpectrum(x.data(), n, 1.0, s2.data(), &df), TARQ_ANALYSIS_SUCCESS);
    for (size_t k = 0; k < n / 2; ++k)
        EXPECT_NEAR(s2[k], s[k], 1e-12);
    TarqAnalysisReleaseMemory();
    fs::remove_all(root);
}

TEST(AnalysisEngine, ForegroundCallerCutsABackgroundMeasurementShort)
{
    TarqAnalysisReleaseMemory();
    ASSERT_EQ(TarqAnalysisConfigure(0, 120.0), TARQ_ANALYSIS_SUCCESS);
    // Measuring this length takes far longer than the bound below.
    const size_t big = 3 * 5 * 7 * 11 * 13 * 17 * 4; // 765765 * 4
    std::vector<double> x = Tone(big, 100.0, 1.0), s(big / 2);
    double df;
    ASSERT_EQ(AutoPowerSpectrum(x.data(), big, 1.0, s.data(), &df), TARQ_ANALYSIS_SUCCESS);
    std::this_thread::sleep_for(std::chrono::milliseconds(300)); // let the measurement start
    const size_t other = 3 * 5 * 7 * 11 * 13 * 17 + 2;
    std::vector<double> y = Tone(other, 10.0, 1.0), t(other / 2);
    const auto t0 = std::chrono::steady_clock::now();
    ASSERT_EQ(AutoPowerSpectrum(y.data(), other, 1.0, t.data(), &df), TARQ_ANALYSIS_SUCCESS);
    const double waited = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    EXPECT_LT(waited, 30.0); // not the 120 s of the measurement's time limit
    TarqAnalysisConfigure(0, 0.0);
    TarqAnalysisReleaseMemory(); // also stops the re-queued measurement
}
