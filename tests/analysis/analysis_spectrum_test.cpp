// Windows, spectra and unit conversion against analytic signals and a straight DFT.
#include "analysis_test_util.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>

using namespace tarq_test;

namespace {

struct WindowCase {
    int32_t type;
    const char *name;
    double enbw2, cg2;          // published to two decimals
    double scallopingDb;        // published worst-case scalloping loss
    std::vector<double> terms;  // a0..a4 for the direct formula
};

const std::vector<WindowCase> &Windows()
{
    static const std::vector<WindowCase> w = {
        {TARQ_WINDOW_NONE, "None", 1.00, 1.00, 3.92, {1.0}},
        {TARQ_WINDOW_HANNING, "Hanning", 1.50, 0.50, 1.42, {0.5, 0.5}},
        {TARQ_WINDOW_HAMMING, "Hamming", 1.36, 0.54, 1.78, {0.54, 0.46}},
        {TARQ_WINDOW_BLACKMAN_HARRIS, "BlackHarris", 1.71, 0.42, 1.13, {0.42323, 0.49755, 0.07922}},
        {TARQ_WINDOW_EXACT_BLACKMAN, "ExactBlack", 1.69, 0.43, 1.15, {7938.0 / 18608, 9240.0 / 18608, 1430.0 / 18608}},
        {TARQ_WINDOW_BLACKMAN, "Blackman", 1.73, 0.42, 1.10, {0.42, 0.5, 0.08}},
        {TARQ_WINDOW_FLAT_TOP, "FlatTop", 3.77, 0.22, 0.01, {0.215578950, 0.416631580, 0.277263158, 0.083578947, 0.006947368}},
    };
    return w;
}

double DirectWindow(const WindowCase &c, size_t i, size_t n)
{
    double w = 0;
    for (size_t k = 0; k < c.terms.size(); ++k)
        w += ((k % 2) ? -1.0 : 1.0) * c.terms[k] * std::cos(2.0 * M_PI * (double)k * (double)i / (double)n);
    return w;
}

// The instrument's amplitude spectrum path: window, amplitude spectrum (phase over the input),
// conversion to Vrms in place; returns the peak in dBm.
double PeakDbm(std::vector<double> x, int32_t window, double dt = 2e-9)
{
    const int64_t n = (int64_t)x.size();
    std::vector<double> amp(n / 2);
    WindowConstants wc{};
    double df = 0;
    EXPECT_EQ(ScaledWindow(x.data(), n, window, &wc), TARQ_ANALYSIS_SUCCESS);
    EXPECT_EQ(AmpPhaseSpectrum(x.data(), n, 1, dt, amp.data(), x.data(), &df), TARQ_ANALYSIS_SUCCESS);
    EXPECT_EQ(SpectrumUnitConversion(amp.data(), n / 2, 1, 0, 0, df, wc, amp.data(), nullptr), TARQ_ANALYSIS_SUCCESS);
    double mx;
    int64_t imx;
    EXPECT_EQ(MaxMin1D(amp.data() + 1, n / 2 - 1, &mx, &imx, nullptr, nullptr), TARQ_ANALYSIS_SUCCESS);
    return 20.0 * std::log10(mx / kDbmRef);
}

} // namespace

TEST(AnalysisWindow, ConstantsEqualPublishedValuesAndTheWindowItself)
{
    const size_t n = 4096;
    for (const WindowCase &c : Windows()) {
        SCOPED_TRACE(c.name);
        WindowConstants wc{};
        std::vector<double> ones(n, 1.0);
        ASSERT_EQ(ScaledWindow(ones.data(), (int64_t)n, c.type, &wc), TARQ_ANALYSIS_SUCCESS);
        EXPECT_NEAR(std::round(wc.enbw * 100) / 100, c.enbw2, 1e-12);
        EXPECT_NEAR(std::round(wc.coherentGain * 100) / 100, c.cg2, 1e-12);
        // The constants describe the window actually applied (unscaled = scaled x gain).
        double s = 0, s2 = 0, worst = 0;
        for (size_t i = 0; i < n; ++i) {
            const double w = ones[i] * wc.coherentGain;
            s += w;
            s2 += w * w;
            worst = std::max(worst, std::fabs(w - DirectWindow(c, i, n)));
        }
        EXPECT_NEAR(s / n, wc.coherentGain, 1e-12);
        EXPECT_NEAR(n * s2 / (s * s), wc.enbw, 1e-12);
        EXPECT_LT(worst, 1e-14);
        WindowConstants viaEx{}, direct{};
        EXPECT_EQ(ScaledWindowEx(ones.data(), 1, c.type, 0.0, &viaEx), TARQ_ANALYSIS_SUCCESS);
        EXPECT_EQ(TarqWindowConstants(c.type, &direct), TARQ_ANALYSIS_SUCCESS);
        EXPECT_EQ(viaEx.enbw, wc.enbw);
        EXPECT_EQ(direct.coherentGain, wc.coherentGain);
    }
}

TEST(AnalysisWindow, OddAndTinyLengthsAndBadArguments)
{
    for (size_t n : {1u, 2u, 3u, 5u, 511u, 513u, 1001u, 104447u}) {
        std::vector<double> x(n, 1.0);
        WindowConstants wc{};
        ASSERT_EQ(ScaledWindow(x.data(), (int64_t)n, TARQ_WINDOW_FLAT_TOP, &wc), TARQ_ANALYSIS_SUCCESS);
        double worst = 0;
        for (size_t i = 0; i < n; ++i)
            worst = std::max(worst, std::fabs(x[i] * wc.coherentGain - DirectWindow(Windows()[6], i, n)));
        EXPECT_LT(worst, 1e-14) << n;
    }
    double x[4] = {1, 1, 1, 1};
    WindowConstants wc{};
    EXPECT_EQ(ScaledWindow(x, 4, 7, &wc), TARQ_ANALYSIS_ERR_WINDOW_TYPE);
    EXPECT_EQ(ScaledWindow(x, 4, -1, &wc), TARQ_ANALYSIS_ERR_WINDOW_TYPE);
    EXPECT_EQ(ScaledWindow(x, 0, 1, &wc), TARQ_ANALYSIS_ERR_SIZE);
    EXPECT_EQ(ScaledWindow(nullptr, 4, 1, &wc), TARQ_ANALYSIS_ERR_NULL_POINTER);
    EXPECT_EQ(ScaledWindow(x, 4, 1, nullptr), TARQ_ANALYSIS_ERR_NULL_POINTER);
    EXPECT_EQ(x[0], 1.0); // nothing applied by a failing call
}

TEST(AnalysisSpectrum, ZeroDbmSineReadsZeroDbmWithinEachWindowsScallopingLoss)
{
    // 0 dBm = 0.2236 Vrms; a record length that is not a power of two, as the self-test uses.
    const size_t n = 104448;
    const double amp = kDbmRef * std::sqrt(2.0);
    for (const WindowCase &c : Windows()) {
        SCOPED_TRACE(c.name);
        EXPECT_NEAR(PeakDbm(Tone(n, 2000.0, amp), c.type), 0.0, 1e-6); // on a bin centre
        double worst = 0, highest = 0;
        for (double off = 0.05; off <= 0.5001; off += 0.05) {
            const double dbm = PeakDbm(Tone(n, 2000.0 + off, amp), c.type);
            worst = std::min(worst, dbm);
            highest = std::max(highest, dbm);
        }
        if (c.type == TARQ_WINDOW_FLAT_TOP) {
            EXPECT_LT(std::max(-worst, highest), 0.01); // flat to within 0.01 dB anywhere
        } else {
            EXPECT_LE(highest, 1e-6);
            // Half a bin off is the worst case; it stays within the published loss (Harris
            // rounds Hamming's 1.75 dB up to 1.78) and really is that loss, not less.
            EXPECT_GE(worst, -c.scallopingDb - 0.005);
            EXPECT_LE(worst, -c.scallopingDb + 0.05);
        }
    }
}

TEST(AnalysisSpectrum, AmplitudePhaseAndPowerMatchAStraightDft)
{
    std::mt19937_64 rng(7);
    std::normal_distribution<double> g(0.1, 1.0);
    for (size_t n : {2u, 3u, 4u, 5u, 7u, 8u, 17u, 64u, 99u, 1000u, 1001u}) {
        SCOPED_TRACE(n);
        std::vector<double> x(n);
        for (double &v : x)
            v = g(rng);
        const auto X = NaiveDft(x);
        const size_t m = n / 2;
        std::vector<double> amp(m + 1, -7.0), ph(m + 1, -7.0), pw(m + 1, -7.0);
        double df = 0, df2 = 0;
        ASSERT_EQ(AmpPhaseSpectrum(x.data(), (int64_t)n, 0, 1e-3, amp.data(), ph.data(), &df), TARQ_ANALYSIS_SUCCESS);
        ASSERT_EQ(AutoPowerSpectrum(x.data(), (int64_t)n, 1e-3, pw.data(), &df2), TARQ_ANALYSIS_SUCCESS);
        EXPECT_DOUBLE_EQ(df, 1000.0 / n);
        EXPECT_DOUBLE_EQ(df2, df);
        for (size_t k = 0; k < m; ++k) {
            const long double mag = std::abs(X[k]) / n * (k == 0 ? 1.0L : std::sqrt(2.0L));
            EXPECT_NEAR(amp[k], (double)mag, 1e-13) << k;
            EXPECT_NEAR(pw[k], (double)(mag * mag), 1e-13) << k;
            const double ref = (double)std::arg(X[k]);
            double d = std::remainder(ph[k] - ref, 2 * M_PI);
            EXPECT_NEAR(d, 0.0, 1e-12) << k;
        }
        EXPECT_EQ(amp[m], -7.0); // exactly n/2 values written
        EXPECT_EQ(ph[m], -7.0);
        EXPECT_EQ(pw[m], -7.0);
    }
}

TEST(AnalysisSpectrum, EdgeLengthsAndBadArguments)
{
    double x[3] = {2.0, 1.0, 0.5}, a[2] = {-1, -1}, p[2] = {-1, -1}, df = 0;
    ASSERT_EQ(AmpPhaseSpectrum(x, 1, 1, 0.5, a, p, &df), TARQ_ANALYSIS_SUCCESS); // no bins, df only
    EXPECT_EQ(df, 2.0);
    EXPECT_EQ(a[0], -1.0);
    ASSERT_EQ(AutoPowerSpectrum(x, 1, 0.25, a, &df), TARQ_ANALYSIS_SUCCESS);
    EXPECT_EQ(df, 4.0);
    EXPECT_EQ(a[0], -1.0);
    ASSERT_EQ(AmpPhaseSpectrum(x, 2, 1, 1.0, a, p, &df), TARQ_ANALYSIS_SUCCESS);
    EXPECT_DOUBLE_EQ(a[0], 1.5); // DC of {2, 1}
    EXPECT_EQ(a[1], -1.0);
    EXPECT_EQ(AmpPhaseSpectrum(x, 0, 1, 1.0, a, p, &df), TARQ_ANALYSIS_ERR_SIZE);
    EXPECT_EQ(AmpPhaseSpectrum(x, -5, 1, 1.0, a, p, &df), TARQ_ANALYSIS_ERR_SIZE);
    EXPECT_EQ(AutoPowerSpectrum(x, int64_t{1} << 33, 1.0, a, &df), TARQ_ANALYSIS_ERR_SIZE); // beyond FFTW's int
    EXPECT_EQ(AmpPhaseSpectrum(x, 3, 1, 0.0, a, p, &df), TARQ_ANALYSIS_ERR_ARGUMENT);
    EXPECT_EQ(AmpPhaseSpectrum(x, 3, 1, NAN, a, p, &df), TARQ_ANALYSIS_ERR_ARGUMENT);
    EXPECT_EQ(AmpPhaseSpectrum(x, 3, 1, 1.0, nullptr, p, &df), TARQ_ANALYSIS_ERR_NULL_POINTER);
    EXPECT_EQ(AmpPhaseSpectrum(x, 3, 1, 1.0, a, nullptr, &df), TARQ_ANALYSIS_ERR_NULL_POINTER);
    EXPECT_EQ(AutoPowerSpectrum(nullptr, 3, 1.0, a, &df), TARQ_ANALYSIS_ERR_NULL_POINTER);
    EXPECT_EQ(AutoPowerSpectrum(x, 3, 1.0, a, nullptr), TARQ_ANALYSIS_ERR_NULL_POINTER);
}

TEST(AnalysisSpectrum, PhaseAndAmplitudeMayBeWrittenOverTheInput)
{
    const size_t n = 3001;
    std::vector<double> x = Tone(n, 37.3, 1.0);
    for (size_t i = 0; i < n; ++i)
        x[i] += 0.01 * std::cos(0.77 * (double)i);
    std::vector<double> refA(n / 2), refP(n / 2);
    double df;
    ASSERT_EQ(AmpPhaseSpectrum(x.data(), n, 1, 1.0, refA.data(), refP.data(), &df), TARQ_ANALYSIS_SUCCESS);
    std::vector<double> over = x, amp(n / 2);
    ASSERT_EQ(AmpPhaseSpectrum(over.data(), n, 1, 1.0, amp.data(), over.data(), &df), TARQ_ANALYSIS_SUCCESS);
    EXPECT_TRUE(std::equal(refA.begin(), refA.end(), amp.begin()));
    EXPECT_TRUE(std::equal(refP.begin(), refP.end(), over.begin()));
    std::vector<double> over2 = x, ph(n / 2);
    ASSERT_EQ(AmpPhaseSpectrum(over2.data(), n, 1, 1.0, over2.data(), ph.data(), &df), TARQ_ANALYSIS_SUCCESS);
    EXPECT_TRUE(std::equal(refA.begin(), refA.end(), over2.begin()));
    std::vector<double> pw = x;
    std::vector<double> refPw(n / 2);
    ASSERT_EQ(AutoPowerSpectrum(x.data(), n, 1.0, refPw.data(), &df), TARQ_ANALYSIS_SUCCESS);
    ASSERT_EQ(AutoPowerSpectrum(pw.data(), n, 1.0, pw.data(), &df), TARQ_ANALYSIS_SUCCESS);
    EXPECT_TRUE(std::equal(refPw.begin(), refPw.end(), pw.begin()));
}

TEST(AnalysisSpectrum, UnwrappedPhaseOfADelayIsAStraightLine)
{
    // An impulse delayed by d samples has phase -2 pi k d / n: wrapped it jumps, unwrapped it
    // must be the straight line itself. 2^23 samples are split between two threads, whose
    // unwrapping must join up.
    for (size_t n : {size_t{1000}, size_t{1} << 23}) {
        SCOPED_TRACE(n);
        const size_t d = 7;
        std::vector<double> x(n, 0.0), a(n / 2), p(n / 2), w(n / 2);
        x[d] = 1.0;
        double df;
        ASSERT_EQ(AmpPhaseSpectrum(x.data(), n, 1, 1.0, a.data(), p.data(), &df), TARQ_ANALYSIS_SUCCESS);
        ASSERT_EQ(AmpPhaseSpectrum(x.data(), n, 0, 1.0, a.data(), w.data(), &df), TARQ_ANALYSIS_SUCCESS);
        EXPECT_DOUBLE_EQ(a[0], 1.0 / n);
        int jumps = 0, bad = 0;
        for (size_t k = 1; k < n / 2; ++k) {
            bad += std::fabs(p[k] + 2.0 * M_PI * (double)(k * d) / n) > 1e-9;
            bad += std::fabs(a[k] - std::sqrt(2.0) / n) > 1e-15;
            bad += w[k] > M_PI || w[k] < -M_PI;
            jumps += std::fabs(w[k] - w[k - 1]) > M_PI;
        }
        EXPECT_EQ(bad, 0);
        EXPECT_GT(jumps, 0);
    }
}

TEST(AnalysisSpectrum, UnitConversionTable)
{
    const WindowConstants wc{1.5, 0.5};
    const double df = 10.0, a = 0.5, p = a * a, nbw = 1.5 * 10.0;
    struct Case { int32_t type, scaling, unit; double in, expect; const char *text; };
    const Case cases[] = {
        {1, 0, 0, a, a, "Vrms"},
        {1, 0, 1, a, a * std::sqrt(2.0), "Vpk"},
        {1, 0, 2, a, p, "Vrms^2"},
        {1, 0, 3, a, 2 * p, "Vpk^2"},
        {1, 0, 4, a, std::sqrt(p / nbw), "Vrms/rtHz"},
        {1, 0, 5, a, std::sqrt(2 * p / nbw), "Vpk/rtHz"},
        {1, 0, 6, a, p / nbw, "Vrms^2/Hz"},
        {1, 0, 7, a, 2 * p / nbw, "Vpk^2/Hz"},
        {0, 0, 0, p, a, "Vrms"},
        {0, 0, 2, p, p, "Vrms^2"},
        {1, 1, 0, a, 20 * std::log10(a), "dBVrms"},
        {1, 1, 1, a, 20 * std::log10(a * std::sqrt(2.0)), "dBVpk"},
        {0, 1, 2, p, 10 * std::log10(p), "dBVrms^2"},
        {0, 1, 6, p, 10 * std::log10(p / nbw), "dBVrms^2/Hz"},
        {1, 2, 0, kDbmRef, 0.0, "dBm"},
        {1, 2, 1, kDbmRef, 0.0, "dBm"},
        {0, 2, 2, 0.05, 0.0, "dBm"},
        {1, 2, 6, a, 10 * std::log10(p / 0.05 / nbw), "dBm/Hz"},
        {2, 0, 0, 0.1, 0.1, ""},
        {2, 1, 5, 0.1, -20.0, "dB"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::to_string(c.type) + "/" + std::to_string(c.scaling) + "/" + std::to_string(c.unit));
        double v[2] = {c.in, c.in}, out[2];
        char text[TARQ_UNIT_TEXT_SIZE];
        ASSERT_EQ(SpectrumUnitConversion(v, 2, c.type, c.scaling, c.unit, df, wc, out, text), TARQ_ANALYSIS_SUCCESS);
        EXPECT_NEAR(out[1], c.expect, 1e-12);
        EXPECT_STREQ(text, c.text);
        ASSERT_EQ(SpectrumUnitConversion(v, 2, c.type, c.scaling, c.unit, df, wc, v, nullptr), TARQ_ANALYSIS_SUCCESS);
        EXPECT_EQ(v[0], out[0]); // in place gives the same
    }
    double z = 0.0, out;
    ASSERT_EQ(SpectrumUnitConversion(&z, 1, 1, 1, 0, df, wc, &out, nullptr), TARQ_ANALYSIS_SUCCESS);
    EXPECT_TRUE(std::isinf(out) && out < 0);
    EXPECT_EQ(SpectrumUnitConversion(&z, 1, 3, 0, 0, df, wc, &out, nullptr), TARQ_ANALYSIS_ERR_SPECTRUM_TYPE);
    EXPECT_EQ(SpectrumUnitConversion(&z, 1, 1, 3, 0, df, wc, &out, nullptr), TARQ_ANALYSIS_ERR_SCALING);
    EXPECT_EQ(SpectrumUnitConversion(&z, 1, 2, 2, 0, df, wc, &out, nullptr), TARQ_ANALYSIS_ERR_SCALING);
    EXPECT_EQ(SpectrumUnitConversion(&z, 1, 1, 0, 8, df, wc, &out, nullptr), TARQ_ANALYSIS_ERR_DISPLAY_UNIT);
    EXPECT_EQ(SpectrumUnitConversion(&z, 1, 1, 0, 4, 0.0, wc, &out, nullptr), TARQ_ANALYSIS_ERR_ARGUMENT);
    EXPECT_EQ(SpectrumUnitConversion(&z, 0, 1, 0, 0, df, wc, &out, nullptr), TARQ_ANALYSIS_ERR_SIZE);
    EXPECT_EQ(SpectrumUnitConversion(&z, 1, 1, 0, 0, df, wc, nullptr, nullptr), TARQ_ANALYSIS_ERR_NULL_POINTER);
}
