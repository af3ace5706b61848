// Statistics, array operations, signal generation and rounding.
#include "analysis_test_util.h"

#include <gtest/gtest.h>

#include <limits>
#include <random>

using namespace tarq_test;

TEST(AnalysisStats, SumsAreCompensatedAndOneBlockSizeFitsAll)
{
    // 10 million copies of 0.1: a running double loses ~1e-4; the reference is long double.
    const size_t n = 10'000'000;
    std::vector<double> x(n, 0.1);
    long double ref = 0;
    double naive = 0;
    for (double v : x) {
        ref += v;
        naive += v;
    }
    double sum, mean, rms;
    ASSERT_EQ(Sum1D(x.data(), n, &sum), TARQ_ANALYSIS_SUCCESS);
    ASSERT_EQ(Mean(x.data(), n, &mean), TARQ_ANALYSIS_SUCCESS);
    ASSERT_EQ(RMS(x.data(), n, &rms), TARQ_ANALYSIS_SUCCESS);
    EXPECT_LT(std::fabs(sum - (double)ref), 1e-7);
    EXPECT_LT(std::fabs(sum - (double)ref) * 100, std::fabs(naive - (double)ref)); // far better than a plain loop
    EXPECT_NEAR(mean, 0.1, 1e-15);
    EXPECT_NEAR(rms, 0.1, 1e-15);
    // Lengths around the vector and block widths, against long double.
    std::mt19937_64 rng(3);
    std::uniform_real_distribution<double> u(-3, 5);
    for (size_t len : {1u, 2u, 3u, 15u, 16u, 17u, 4095u, 4096u, 4097u, 12289u}) {
        std::vector<double> y(len);
        long double s = 0, s2 = 0;
        for (double &v : y) {
            v = u(rng);
            s += v;
            s2 += (long double)v * v;
        }
        const long double m = s / len;
        long double var = 0;
        for (double v : y)
            var += (v - m) * (v - m);
        double got, gm, sd, r;
        ASSERT_EQ(Sum1D(y.data(), len, &got), TARQ_ANALYSIS_SUCCESS);
        ASSERT_EQ(StdDev(y.data(), len, &gm, &sd), TARQ_ANALYSIS_SUCCESS);
        ASSERT_EQ(RMS(y.data(), len, &r), TARQ_ANALYSIS_SUCCESS);
        EXPECT_NEAR(got, (double)s, 1e-12 * len) << len;
        EXPECT_NEAR(gm, (double)m, 1e-14) << len;
        EXPECT_NEAR(sd, (double)std::sqrt(var / len), 1e-13) << len;
        EXPECT_NEAR(r, (double)std::sqrt(s2 / len), 1e-13) << len;
    }
}

TEST(AnalysisStats, StdDevOfASmallSignalOnALargeOffset)
{
    // A one-pass sum-of-squares formula loses every digit here.
    const size_t n = 1 << 20;
    std::vector<double> x(n);
    for (size_t i = 0; i < n; ++i)
        x[i] = 1e9 + std::sin(2 * M_PI * 17.0 * i / n);
    double mean, sd;
    ASSERT_EQ(StdDev(x.data(), n, &mean, &sd), TARQ_ANALYSIS_SUCCESS);
    EXPECT_NEAR(sd, std::sqrt(0.5), 1e-6);
    EXPECT_NEAR(mean, 1e9, 1e-6);
    ASSERT_EQ(StdDev(x.data(), n, nullptr, &sd), TARQ_ANALYSIS_SUCCESS); // mean is optional
    double one = 4.0;
    ASSERT_EQ(StdDev(&one, 1, &mean, &sd), TARQ_ANALYSIS_SUCCESS);
    EXPECT_EQ(sd, 0.0);
    EXPECT_EQ(mean, 4.0);
}

TEST(AnalysisStats, AcDcEstimatorOnAFractionalNumberOfPeriods)
{
    const size_t n = 100000;
    std::vector<double> x(n);
    for (size_t i = 0; i < n; ++i)
        x[i] = 0.3 + std::sin(2 * M_PI * 10.37 * i / n + 0.4);
    double ac, dc, mean;
    ASSERT_EQ(ACDCEstimator(x.data(), n, &ac, &dc), TARQ_ANALYSIS_SUCCESS);
    ASSERT_EQ(Mean(x.data(), n, &mean), TARQ_ANALYSIS_SUCCESS);
    EXPECT_NEAR(dc, 0.3, 5e-4); // Hanning leakage of a sine 10 bins away
    EXPECT_GT(std::fabs(mean - 0.3), 5 * std::fabs(dc - 0.3)); // the window is what helps
    EXPECT_NEAR(ac, std::sqrt(0.5), 2e-3);
    double c = 2.5;
    ASSERT_EQ(ACDCEstimator(&c, 1, &ac, &dc), TARQ_ANALYSIS_SUCCESS);
    EXPECT_EQ(dc, 2.5);
    EXPECT_EQ(ac, 0.0);
    EXPECT_EQ(ACDCEstimator(x.data(), 0, &ac, &dc), TARQ_ANALYSIS_ERR_SIZE);
}

TEST(AnalysisStats, MaxMinFirstIndexNanAndInfinities)
{
    const double nan = std::numeric_limits<double>::quiet_NaN(), inf = std::numeric_limits<double>::infinity();
    struct Case { std::vector<double> x; double mx; int64_t imx; double mn; int64_t imn; };
    std::vector<double> longTail(9000, 1.0);
    longTail[8999] = 2.0;
    longTail[4500] = -1.0;
    longTail[8000] = -1.0;
    std::vector<double> allNan(5000, nan);
    std::vector<double> nanThenInf(5000, nan);
    nanThenInf[4700] = -inf;
    const Case cases[] = {
        {{3, 1, 3, 1}, 3, 0, 1, 1},
        {{nan, 2, nan, -1}, 2, 1, -1, 3},
        {longTail, 2, 8999, -1, 4500},
        {allNan, nan, -1, nan, -1},
        {nanThenInf, -inf, 4700, -inf, 4700},
        {{inf, -inf}, inf, 0, -inf, 1},
    };
    for (const Case &c : cases) {
        double mx, mn;
        int64_t imx, imn;
        ASSERT_EQ(MaxMin1D(c.x.data(), c.x.size(), &mx, &imx, &mn, &imn), TARQ_ANALYSIS_SUCCESS);
        if (std::isnan(c.mx))
            EXPECT_TRUE(std::isnan(mx));
        else
            EXPECT_EQ(mx, c.mx);
        if (std::isnan(c.mn))
            EXPECT_TRUE(std::isnan(mn));
        else
            EXPECT_EQ(mn, c.mn);
        EXPECT_EQ(imx, c.imx);
        EXPECT_EQ(imn, c.imn);
    }
    double v = 1;
    EXPECT_EQ(MaxMin1D(&v, 0, nullptr, nullptr, nullptr, nullptr), TARQ_ANALYSIS_ERR_SIZE);
    EXPECT_EQ(MaxMin1D(nullptr, 1, nullptr, nullptr, nullptr, nullptr), TARQ_ANALYSIS_ERR_NULL_POINTER);
    EXPECT_EQ(Mean(&v, 0, &v), TARQ_ANALYSIS_ERR_SIZE);
    EXPECT_EQ(RMS(&v, 1, nullptr), TARQ_ANALYSIS_ERR_NULL_POINTER);
}

TEST(AnalysisArrays, InPlaceAndOverlappingArrays)
{
    for (size_t n : {1u, 2u, 5u, 6u}) {
        std::vector<double> x(n), ref(n);
        for (size_t i = 0; i < n; ++i)
            x[i] = ref[n - 1 - i] = (double)i;
        ASSERT_EQ(Reverse(x.data(), n, x.data()), TARQ_ANALYSIS_SUCCESS); // the spectrum's upper band
        EXPECT_EQ(x, ref);
    }
    std::vector<double> buf = {0, 1, 2, 3, 4, 5, 6, 7};
    ASSERT_EQ(Reverse(buf.data(), 6, buf.data() + 2), TARQ_ANALYSIS_SUCCESS); // partial overlap
    EXPECT_EQ(buf, (std::vector<double>{0, 1, 5, 4, 3, 2, 1, 0}));

    // Shifted element-wise operations in both directions.
    std::vector<double> a = {1, -2, 3, -4, 5, 0};
    ASSERT_EQ(Abs1D(a.data(), 5, a.data() + 1), TARQ_ANALYSIS_SUCCESS);
    EXPECT_EQ(a, (std::vector<double>{1, 1, 2, 3, 4, 5}));
    std::vector<double> b = {0, 1, 2, 3, 4};
    ASSERT_EQ(LinEv1D(b.data() + 1, 4, 2.0, -1.0, b.data()), TARQ_ANALYSIS_SUCCESS);
    EXPECT_EQ(b, (std::vector<double>{1, 3, 5, 7, 4}));
    std::vector<double> c = {1, 2, 3, 4};
    ASSERT_EQ(Mul1D(c.data(), c.data(), 4, c.data()), TARQ_ANALYSIS_SUCCESS);
    EXPECT_EQ(c, (std::vector<double>{1, 4, 9, 16}));
    std::vector<double> d = {1, 2, 3, 4, 5};
    ASSERT_EQ(Mul1D(d.data(), d.data() + 1, 4, d.data() + 1), TARQ_ANALYSIS_SUCCESS); // out = y, x behind
    EXPECT_EQ(d, (std::vector<double>{1, 2, 6, 12, 20}));
    std::vector<double> e = {1, 2, 3, 4, 5, 6};
    ASSERT_EQ(Mul1D(e.data() + 2, e.data(), 3, e.data() + 1), TARQ_ANALYSIS_SUCCESS); // conflicting directions
    EXPECT_EQ(e, (std::vector<double>{1, 3, 8, 15, 5, 6}));
    EXPECT_EQ(Reverse(d.data(), 0, d.data()), TARQ_ANALYSIS_ERR_SIZE);
    EXPECT_EQ(Mul1D(d.data(), nullptr, 2, d.data()), TARQ_ANALYSIS_ERR_NULL_POINTER);
}

TEST(AnalysisGeneration, SineWaveInChunksContinuesOneSine)
{
    const size_t n = 1'000'003;
    const double f = 1.001e-3, amp = 0.999;
    std::vector<double> whole(n), chunks(n);
    double phase = 30.0;
    ASSERT_EQ(SineWave(n, amp, f, &phase, whole.data()), TARQ_ANALYSIS_SUCCESS);
    const double endPhase = phase;
    phase = 30.0;
    for (size_t at = 0; at < n;) {
        const size_t len = std::min<size_t>(n - at, 65536 + 7);
        ASSERT_EQ(SineWave(len, amp, f, &phase, chunks.data() + at), TARQ_ANALYSIS_SUCCESS);
        at += len;
    }
    EXPECT_NEAR(phase, endPhase, 1e-7);
    double worst = 0, worstChunk = 0;
    for (size_t i = 0; i < n; i += 97) {
        const long double ref = amp * std::sin(2.0L * 3.14159265358979323846L * (f * (long double)i + 30.0L / 360.0L));
        worst = std::max(worst, std::fabs(whole[i] - (double)ref));
        worstChunk = std::max(worstChunk, std::fabs(chunks[i] - (double)ref));
    }
    EXPECT_LT(worst, 1e-12);
    EXPECT_LT(worstChunk, 1e-10);
    EXPECT_NEAR(endPhase, std::fmod(30.0 + 360.0 * f * n, 360.0), 1e-7);
    double p = 45.0;
    ASSERT_EQ(SineWave(0, 1.0, 0.1, &p, nullptr), TARQ_ANALYSIS_SUCCESS);
    EXPECT_EQ(p, 45.0);
    EXPECT_EQ(SineWave(-1, 1.0, 0.1, &p, whole.data()), TARQ_ANALYSIS_ERR_SIZE);
    EXPECT_EQ(SineWave(4, 1.0, NAN, &p, whole.data()), TARQ_ANALYSIS_ERR_ARGUMENT);
    EXPECT_EQ(SineWave(4, 1.0, 0.1, nullptr, whole.data()), TARQ_ANALYSIS_ERR_NULL_POINTER);
}

TEST(AnalysisGeneration, RandomRangeSeedAndRounding)
{
    SetRandomSeed(1234);
    std::vector<double> first;
    for (int i = 0; i < 1000; ++i) {
        const double r = Random(0.999, 1.001);
        EXPECT_GE(r, 0.999);
        EXPECT_LT(r, 1.001);
        first.push_back(r);
    }
    SetRandomSeed(1234);
    for (int i = 0; i < 1000; ++i)
        EXPECT_EQ(Random(0.999, 1.001), first[i]);
    SetRandomSeed(0);

    struct Case { double x; int64_t r; };
    const Case cases[] = {{2.5, 2}, {3.5, 4}, {-2.5, -2}, {-3.5, -4}, {1.4999999, 1}, {1.5000001, 2},
                          {-0.4, 0}, {1e300, INT64_MAX}, {-1e300, INT64_MIN}, {NAN, 0}, {104448.0 / 4, 26112}};
    for (const Case &c : cases)
        EXPECT_EQ(RoundRealToNearestInteger(c.x), c.r) << c.x;
}

TEST(AnalysisStatus, EveryCodeHasBothTexts)
{
    const int32_t codes[] = {TARQ_ANALYSIS_SUCCESS, TARQ_ANALYSIS_ERR_OUT_OF_MEMORY, TARQ_ANALYSIS_ERR_NULL_POINTER,
                             TARQ_ANALYSIS_ERR_SIZE, TARQ_ANALYSIS_ERR_WINDOW_TYPE, TARQ_ANALYSIS_ERR_ARGUMENT,
                             TARQ_ANALYSIS_ERR_SPECTRUM_TYPE, TARQ_ANALYSIS_ERR_SCALING, TARQ_ANALYSIS_ERR_DISPLAY_UNIT,
                             TARQ_ANALYSIS_ERR_TRANSFORM, TARQ_ANALYSIS_ERR_HARMONICS, TARQ_ANALYSIS_ERR_SPAN};
    const std::string unknown = TarqAnalysisStatusText(12345, 1);
    for (int32_t code : codes) {
        EXPECT_STRNE(TarqAnalysisStatusText(code, 0), TarqAnalysisStatusText(code, 1)) << code;
        EXPECT_NE(TarqAnalysisStatusText(code, 1), unknown) << code;
    }
}
