#include "sample_convert.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

using nextarq::ChannelScale;

namespace {
uint32_t word(int16_t a, int16_t b) { return static_cast<uint32_t>(static_cast<uint16_t>(a)) << 16 | static_cast<uint16_t>(b); }
} // namespace

TEST(SampleConvert, WordsToVoltsAndCodesWithSignsTailsAndSkippedChannels) {
    // 19 words: two vector steps and a tail, with the extreme codes on both channels.
    const int16_t codes[] = {0, 1, -1, 8191, -8192, 32767, -32768, 100, -100, 5, 6, 7, -7, 1234, -4321, 0, 42, -42, 16383};
    const size_t n = std::size(codes);
    std::vector<uint32_t> w(n);
    for (size_t i = 0; i < n; ++i) w[i] = word(codes[i], static_cast<int16_t>(-codes[i] - 1));
    const ChannelScale s1{1.01, 0.003}, s2{0.99, -0.002};

    std::vector<double> v1(n, NAN), v2(n, NAN);
    nextarq::wordsToVolts(w.data(), n, v1.data(), v2.data(), s1, s2);
    std::vector<int16_t> c1(n, 99), c2(n, 99);
    nextarq::wordsToCodes(w.data(), n, c1.data(), c2.data());
    std::vector<double> pairs(2 * n);
    nextarq::wordsToVoltPairs(w.data(), n, pairs.data(), s1, s2);
    for (size_t i = 0; i < n; ++i) {
        const int16_t other = static_cast<int16_t>(-codes[i] - 1);
        EXPECT_DOUBLE_EQ(v1[i], 0.003 + codes[i] * 1.01 * 2.06 / 16383) << i;
        EXPECT_DOUBLE_EQ(v2[i], -0.002 + other * 0.99 * 2.06 / 16383) << i;
        EXPECT_EQ(c1[i], codes[i]);
        EXPECT_EQ(c2[i], other);
        EXPECT_DOUBLE_EQ(pairs[2 * i], v1[i]);
        EXPECT_DOUBLE_EQ(pairs[2 * i + 1], v2[i]);
    }
    // A null destination skips that channel and leaves the other whole.
    std::vector<double> only2(n, 0.0);
    nextarq::wordsToVolts(w.data(), n, nullptr, only2.data(), s1, s2);
    EXPECT_EQ(only2, v2);
    std::vector<int16_t> only1(n, 0);
    nextarq::wordsToCodes(w.data(), n, only1.data(), nullptr);
    EXPECT_EQ(only1, c1);
}

TEST(SampleConvert, VoltsToCodesTruncateAndSaturate) {
    const ChannelScale ideal{1.0, 0.0}, shifted{1.0, 0.5};
    const double inf = std::numeric_limits<double>::infinity();
    struct Case {
        double volts;
        ChannelScale s;
        int16_t code;
    } cases[] = {
        {2.06, ideal, 16383},  {0.5, shifted, 0},      {-2.06, ideal, -16383}, {1e9, ideal, 32767},
        {-1e9, ideal, -32768}, {inf, ideal, 32767},    {-inf, ideal, -32768},  {NAN, ideal, 0},
        {2.06 / 16383 * 2.9, ideal, 2}, {-2.06 / 16383 * 2.9, ideal, -2},
    };
    for (const Case &c : cases) EXPECT_EQ(nextarq::voltsToCode(c.volts, c.s), c.code) << c.volts;
    EXPECT_EQ(nextarq::voltsToCode(1.0, {0.0, 0.0}), 32767) << "a zero gain saturates";
    EXPECT_EQ(nextarq::voltsToCode(0.0, {0.0, 0.0}), 0);

    const int16_t a[] = {100, -5}, b[] = {-1, 7};
    uint32_t words[2];
    nextarq::codesToWords(a, b, 2, words);
    EXPECT_EQ(words[0], 0x0064FFFFu);
    nextarq::codesToWords(nullptr, b, 2, words);
    EXPECT_EQ(words[1], 0x00000007u);
    const double va[] = {100 * 2.06 / 16383 + 1e-9}, vb[] = {-1 * 2.06 / 16383 - 1e-9};
    nextarq::voltsToWords(va, vb, 1, words, ideal, ideal);
    EXPECT_EQ(words[0], 0x0064FFFFu);
    const double pairs[] = {va[0], vb[0]};
    nextarq::voltPairsToWords(pairs, 1, words, ideal, ideal);
    EXPECT_EQ(words[0], 0x0064FFFFu);
}
