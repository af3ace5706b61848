// Acquisition configuration: range checks in argument order, register encodings and read-back.
#include "driver_fixture.h"

#include <cmath>
#include <limits>

using namespace tarq;
using test::DriverTest;

namespace {

class Config : public DriverTest {
  protected:
    // The record's coefficients, replaced without touching the flash.
    void coefficients(int channel, int band, double gain, double offset) {
        double table[40];
        for (int i = 0; i < 40; ++i) table[i] = (i % 20) < 10 ? 1.0 : 0.0;
        table[channel * 20 + band] = gain;
        table[channel * 20 + 10 + band] = offset;
        ASSERT_EQ(nextarq_writeCoefficients(vi, 2, table, sizeof table, 0), 0);
    }
    int16_t levelCode() { return static_cast<int16_t>(reg(0x12)); }
};

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

TEST_F(Config, TimeBaseChecks) {
    struct Case {
        uint16_t packets;
        uint32_t samples;
        int32_t status;
    };
    const Case cases[] = {
        {8192, 262144, NEXTARQ_ERROR_PARAMETER3}, // product 0x80000000
        {8191, 262144, 0},
        {4096, 1048576, NEXTARQ_ERROR_PARAMETER3}, // product 2^32: must not wrap to 0
        {1, 0x7FFFFFF8, 0},
        {1, 0x80000000u, NEXTARQ_ERROR_PARAMETER3},
        {1, 7, NEXTARQ_ERROR_PARAMETER3},
        {0, 1024, NEXTARQ_ERROR_PARAMETER2},
        {8193, 1024, NEXTARQ_ERROR_PARAMETER2},
        {0, 7, NEXTARQ_ERROR_PARAMETER2}, // argument order
    };
    for (const Case &c : cases)
        EXPECT_EQ(nextarq_configTime(vi, c.packets, c.samples, 8), c.status) << c.packets << " x " << c.samples;
}

TEST_F(Config, TimeBaseEncodingAndReadBack) {
    struct Case {
        uint16_t packets;
        uint32_t samples, presamples;
        std::vector<uint16_t> length, pretrigger;
        uint16_t pages;
        uint32_t samplesBack, presamplesBack;
    };
    const Case cases[] = {
        {1, 1001, 256, {0, 124}, {0, 31}, 1, 1000, 256},
        {1, 8, 8, {0, 0}, {0, 0}, 1, 8, 8},
        {2, 1024, 0, {0, 127}, {0xFFFF, 0xFFFF}, 1, 1024, 0},
        {1, 524288, 8, {0, 65535}, {0, 0}, 1, 524288, 8},
        {1, 524289, 8, {0, 65535}, {0, 0}, 2, 524288, 8},
        {3, 715827880, 4096, {0x0555, 0x5554}, {0, 511}, 1366, 715827880, 4096},
    };
    for (const Case &c : cases) {
        startLog();
        ASSERT_EQ(nextarq_configTime(vi, c.packets, c.samples, c.presamples), 0) << c.samples;
        auto entries = log();
        EXPECT_EQ(writesTo(entries, 0x16), std::vector<uint16_t>{static_cast<uint16_t>(c.packets - 1)});
        EXPECT_EQ(writesTo(entries, 0x1A), c.length) << c.samples;
        EXPECT_EQ(writesTo(entries, 0x2E), c.pretrigger) << c.presamples;
        EXPECT_EQ(writesTo(entries, 0x18), std::vector<uint16_t>{c.pages}) << c.samples;
        uint16_t packets = 0;
        uint32_t samples = 0, presamples = 0;
        ASSERT_EQ(nextarq_configTime_q(vi, &packets, &samples, &presamples), 0);
        EXPECT_EQ(packets, c.packets);
        EXPECT_EQ(samples, c.samplesBack);
        EXPECT_EQ(presamples, c.presamplesBack);
    }
    uint16_t p;
    uint32_t s;
    EXPECT_EQ(nextarq_configTime_q(vi, nullptr, &s, &s), NEXTARQ_ERROR_PARAMETER2);
    EXPECT_EQ(nextarq_configTime_q(vi, &p, nullptr, &s), NEXTARQ_ERROR_PARAMETER3);
    EXPECT_EQ(nextarq_configTime_q(vi, &p, &s, nullptr), NEXTARQ_ERROR_PARAMETER4);
}

TEST_F(Config, TimeBaseWriteFailureEndsTheCall) {
    bench::ModuleFaults f;
    f.registers.push_back(failing(0x1A, false, true));
    faults(f);
    startLog();
    EXPECT_EQ(nextarq_configTime(vi, 5, 2048, 8), static_cast<int32_t>(0xBFFA000A));
    auto entries = log();
    EXPECT_EQ(writesTo(entries, 0x16), std::vector<uint16_t>{4}) << "earlier writes stay in effect";
    EXPECT_TRUE(writesTo(entries, 0x2E).empty());
}

TEST_F(Config, TriggerChecksAndRegister) {
    EXPECT_EQ(nextarq_configTrigger(vi, 5, 0, 0.0), NEXTARQ_ERROR_PARAMETER2);
    EXPECT_EQ(nextarq_configTrigger(vi, 5, 2, kNaN), NEXTARQ_ERROR_PARAMETER2);
    EXPECT_EQ(nextarq_configTrigger(vi, 4, 2, 0.0), NEXTARQ_ERROR_PARAMETER3);
    for (double bad : {-40.0001, 0.0001, kNaN, kInf, -kInf})
        EXPECT_EQ(nextarq_configTrigger(vi, 1, 1, bad), NEXTARQ_ERROR_PARAMETER4) << bad;
    EXPECT_EQ(nextarq_configTrigger(vi, 1, 1, -40.0), 0);
    EXPECT_EQ(nextarq_configTrigger(vi, 1, 1, 0.0), 0);

    ASSERT_EQ(nextarq_configBaseF(vi, 2), 0);
    ASSERT_EQ(nextarq_configTrigger(vi, 3, 1, -12.5), 0);
    EXPECT_EQ(reg(0x0C), 0x80 | 3 << 2 | 1 << 5) << "reference bits kept";
    uint16_t source = 0, slope = 0;
    double level = 0;
    ASSERT_EQ(nextarq_configTrigger_q(vi, &source, &slope, &level), 0);
    EXPECT_EQ(source, 3);
    EXPECT_EQ(slope, 1);
    EXPECT_EQ(level, -12.5);
    EXPECT_EQ(nextarq_configTrigger_q(vi, nullptr, &slope, &level), NEXTARQ_ERROR_PARAMETER2);
    EXPECT_EQ(nextarq_configTrigger_q(vi, &source, nullptr, &level), NEXTARQ_ERROR_PARAMETER3);
    EXPECT_EQ(nextarq_configTrigger_q(vi, &source, &slope, nullptr), NEXTARQ_ERROR_PARAMETER4);
}

TEST_F(Config, TriggerLevelCodeUsesTheChannelAndBandCoefficients) {
    // Only channel sources write the level register.
    for (uint16_t source : {0, 3, 4}) {
        startLog();
        ASSERT_EQ(nextarq_configTrigger(vi, source, 0, -6.0), 0);
        EXPECT_TRUE(writesTo(log(), 0x12).empty()) << "source " << source;
    }
    ASSERT_EQ(nextarq_configSpanF(vi, 3), 0);
    coefficients(1, 3, 2.0, 0.01);
    const double volts = 0.2236 * std::pow(10.0, -6.0 / 20.0);
    ASSERT_EQ(nextarq_configTrigger(vi, 2, 0, -6.0), 0);
    EXPECT_EQ(levelCode(), static_cast<int16_t>((volts - 0.01) * 16383.0 / (2.06 * 2.0)));
    ASSERT_EQ(nextarq_configTrigger(vi, 1, 0, -6.0), 0);
    EXPECT_EQ(levelCode(), static_cast<int16_t>(volts * 16383.0 / 2.06)) << "channel 1 keeps gain 1, offset 0";
    ASSERT_EQ(nextarq_configTrigger(vi, 1, 0, 0.0), 0);
    EXPECT_EQ(levelCode(), 1778);
}

TEST_F(Config, TriggerLevelCodeSaturatesOnOddCoefficients) {
    ASSERT_EQ(nextarq_configSpanF(vi, 0), 0);
    struct Case {
        double gain, offset;
        int16_t code;
    };
    const Case cases[] = {
        {0.0, 0.0, 32767},      {-0.0, 0.0, -32768},  {1e-300, 0.0, 32767}, {-1e-300, 0.0, -32768},
        {kNaN, 0.0, 0},         {1.0, kInf, -32768},  {1.0, -1e300, 32767}, {kInf, 0.0, 0},
        {1.0, 0.2236, 0},
    };
    for (const Case &c : cases) {
        coefficients(0, 0, c.gain, c.offset);
        ASSERT_EQ(nextarq_configTrigger(vi, 1, 0, 0.0), 0);
        EXPECT_EQ(levelCode(), c.code) << c.gain << " " << c.offset;
    }
}

TEST_F(Config, GainCodesAndReadBack) {
    struct Case {
        int16_t channel;
        double gain;
        uint16_t code;
        double back;
    };
    const Case cases[] = {{0, 20.0, 0, 20.0}, {0, 0.0, 80, 0.0}, {1, 0.3, 78, 0.5}, {1, 19.99, 0, 20.0},
                          {0, 10.25, 39, 10.25}};
    for (const Case &c : cases) {
        startLog();
        ASSERT_EQ(nextarq_configGain(vi, c.channel, c.gain), 0);
        auto entries = log();
        auto gain = writesTo(entries, 0x38);
        ASSERT_EQ(gain.size(), 1u);
        EXPECT_EQ(c.channel == 0 ? gain[0] >> 8 : gain[0] & 0xFF, c.code) << c.gain;
        EXPECT_EQ(writesTo(entries, 0x34), std::vector<uint16_t>{0x80}) << "the gain register is applied";
        double back = -1;
        ASSERT_EQ(nextarq_configGain_q(vi, c.channel, &back), 0);
        EXPECT_EQ(back, c.back);
    }
    // The other channel's byte is kept.
    ASSERT_EQ(nextarq_configGain(vi, 0, 5.0), 0);
    ASSERT_EQ(nextarq_configGain(vi, 1, 15.0), 0);
    EXPECT_EQ(reg(0x38), 60 << 8 | 20);

    for (double bad : {-0.001, 20.001, kNaN, kInf, -kInf})
        EXPECT_EQ(nextarq_configGain(vi, 0, bad), NEXTARQ_ERROR_PARAMETER3) << bad;
    EXPECT_EQ(nextarq_configGain(vi, 2, kNaN), NEXTARQ_ERROR_PARAMETER2);
    EXPECT_EQ(nextarq_configGain(vi, -1, 1.0), NEXTARQ_ERROR_PARAMETER2);
    double g;
    EXPECT_EQ(nextarq_configGain_q(vi, 2, &g), NEXTARQ_ERROR_PARAMETER2);
    EXPECT_EQ(nextarq_configGain_q(vi, 0, nullptr), NEXTARQ_ERROR_PARAMETER3);
}

class VersionZero : public DriverTest {
    void beforeConnect() override {
        bench::ModuleFaults f;
        f.versionOverride = 0;
        faults(f);
    }
};

TEST_F(VersionZero, GainIsNotSupportedBeforeAnyCheck) {
    startLog();
    EXPECT_EQ(nextarq_configGain(vi, 5, 10.0), NEXTARQ_WARN_NOT_SUPPORTED);
    EXPECT_EQ(nextarq_configGain(vi, 0, 10.0), NEXTARQ_WARN_NOT_SUPPORTED);
    EXPECT_TRUE(writesTo(log(), 0x38).empty());
    double g = -1;
    EXPECT_EQ(nextarq_configGain_q(vi, 0, &g), 0) << "the query has no version check";
    EXPECT_EQ(g, 0.0);
}

TEST_F(Config, BandFollowsARawWriteOfTheAdcBuffer) {
    EXPECT_EQ(nextarq_configSpanF(vi, 5), NEXTARQ_ERROR_PARAMETER2);
    EXPECT_EQ(nextarq_configSpanF(vi, -1), NEXTARQ_ERROR_PARAMETER2);
    ASSERT_EQ(nextarq_configSpanF(vi, 3), 0);
    EXPECT_EQ(adc(0x18), 0x20);
    int16_t band = -1;
    ASSERT_EQ(nextarq_configSpanF_q(vi, &band), 0);
    EXPECT_EQ(band, 3);
    ASSERT_EQ(nextarq_adcWrite(vi, 0x18, 0x70), 0);
    ASSERT_EQ(nextarq_configSpanF_q(vi, &band), 0);
    EXPECT_EQ(band, 5);
    // The record follows: the trigger level now uses band 5's coefficients.
    double table[40];
    for (int i = 0; i < 40; ++i) table[i] = i < 10 ? 1.0 : 0.0;
    table[5] = 2.0;
    ASSERT_EQ(nextarq_writeCoefficients(vi, 2, table, sizeof table, 0), 0);
    ASSERT_EQ(nextarq_configTrigger(vi, 1, 0, 0.0), 0);
    EXPECT_EQ(static_cast<int16_t>(reg(0x12)), 889);
    ASSERT_EQ(nextarq_adcWrite(vi, 0x18, 0x20), 0);
    ASSERT_EQ(nextarq_configSpanF_q(vi, &band), 0);
    EXPECT_EQ(band, 0);
    EXPECT_EQ(nextarq_configSpanF_q(vi, nullptr), NEXTARQ_ERROR_PARAMETER2);
}

TEST_F(Config, TestPatternAndReferenceSource) {
    const uint8_t patterns[] = {0x00, 0x0F, 0x04, 0x01};
    for (int16_t mode = 3; mode >= 0; --mode) {
        ASSERT_EQ(nextarq_configMode(vi, mode), 0);
        EXPECT_EQ(adc(0x550), patterns[mode]);
        int16_t back = -1;
        ASSERT_EQ(nextarq_configMode_q(vi, &back), 0);
        EXPECT_EQ(back, mode);
    }
    EXPECT_EQ(nextarq_configMode(vi, 4), NEXTARQ_ERROR_PARAMETER2);
    ASSERT_EQ(nextarq_adcWrite(vi, 0x550, 0x07), 0);
    int16_t mode = -1;
    ASSERT_EQ(nextarq_configMode_q(vi, &mode), 0);
    EXPECT_EQ(mode, 0);
    ASSERT_EQ(nextarq_adcWrite(vi, 0x550, 0xF4), 0);
    ASSERT_EQ(nextarq_configMode_q(vi, &mode), 0);
    EXPECT_EQ(mode, 2) << "only the low four bits count";

    ASSERT_EQ(nextarq_configTrigger(vi, 2, 1, -1.0), 0);
    for (int16_t source : {1, 2, 0}) {
        ASSERT_EQ(nextarq_configBaseF(vi, source), 0);
        EXPECT_EQ(reg(0x0C) & 0xC0, source == 1 ? 0x40 : source == 2 ? 0x80 : 0);
        EXPECT_EQ(reg(0x0C) & 0x3F, 2 << 2 | 1 << 5) << "trigger bits kept";
        int16_t back = -1;
        ASSERT_EQ(nextarq_configBaseF_q(vi, &back), 0);
        EXPECT_EQ(back, source);
    }
    EXPECT_EQ(nextarq_configBaseF(vi, 3), NEXTARQ_ERROR_PARAMETER2);
    EXPECT_EQ(nextarq_configBaseF_q(vi, nullptr), NEXTARQ_ERROR_PARAMETER2);
}

} // namespace
