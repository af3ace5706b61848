// Converter programming and temperatures: the register values written, checked through the ADC port
// the way a user would (nextarq_adcRead), and read back through the queries.
#include "driver_fixture.h"

using namespace tarq;
using test::DriverTest;

namespace {

class Converter : public DriverTest {
  protected:
    uint16_t adcReg(uint16_t address) {
        uint16_t v = 0xFFFF;
        EXPECT_EQ(nextarq_adcRead(vi, address, &v), 0) << std::hex << address;
        return v;
    }
};

TEST_F(Converter, ModeCodesAndTheirQuery) {
    const uint16_t codes[6] = {0x00, 0x07, 0x08, 0x01, 0x02, 0x03};
    for (int16_t mode = 0; mode < 6; ++mode)
        for (int16_t input = 0; input < 2; ++input) {
            ASSERT_EQ(nextarq_configAdcMode(vi, mode, input), 0);
            EXPECT_EQ(adcReg(0x200), codes[mode] | input << 5);
            int16_t m = -1, s = -1;
            ASSERT_EQ(nextarq_configAdcMode_q(vi, &m, &s), 0);
            EXPECT_EQ(m, mode);
            EXPECT_EQ(s, input);
        }
    // A code that is none of the modes reads back as full band.
    ASSERT_EQ(nextarq_adcWrite(vi, 0x200, 0x2C), 0);
    int16_t m = -1, s = -1;
    ASSERT_EQ(nextarq_configAdcMode_q(vi, &m, &s), 0);
    EXPECT_EQ(m, 0);
    EXPECT_EQ(s, 1);
}

TEST_F(Converter, NsrAndVdrCodes) {
    struct {
        double mhz;
        uint16_t code;
    } nsr[] = {{70.0, 0}, {177.5, 43}, {100.0, 12}, {101.2, 12}, {101.3, 13}};
    for (const auto &c : nsr) {
        ASSERT_EQ(nextarq_configNSR(vi, c.mhz), 0);
        EXPECT_EQ(adcReg(0x422), c.code) << c.mhz;
        double f = 0;
        ASSERT_EQ(nextarq_configNSR_q(vi, &f), 0);
        EXPECT_DOUBLE_EQ(f, 70.0 + 2.5 * c.code);
    }
    EXPECT_EQ(nextarq_configNSR(vi, 177.6), NEXTARQ_ERROR_PARAMETER2);
    EXPECT_EQ(nextarq_configNSR(vi, std::numeric_limits<double>::infinity()), NEXTARQ_ERROR_PARAMETER2);

    EXPECT_EQ(nextarq_configVDR(vi, 0, 50.0), NEXTARQ_ERROR_PARAMETER3);
    ASSERT_EQ(nextarq_configVDR(vi, 1, 50.0), 0);
    EXPECT_EQ(adcReg(0x430), 1);
    EXPECT_EQ(adcReg(0x434), 2);
    ASSERT_EQ(nextarq_configVDR(vi, 2, 468.75), 0);
    EXPECT_EQ(adcReg(0x430), 3);
    EXPECT_EQ(adcReg(0x434), 15);
    int16_t mode = -1;
    double f = 0;
    ASSERT_EQ(nextarq_configVDR_q(vi, &mode, &f), 0);
    EXPECT_EQ(mode, 2);
    EXPECT_DOUBLE_EQ(f, 468.75);
    ASSERT_EQ(nextarq_configVDR(vi, 0, 187.5), 0);
    EXPECT_EQ(adcReg(0x430), 0);
    EXPECT_EQ(adcReg(0x434), 6);
}

TEST_F(Converter, DdcRegistersAndFrequencyWords) {
    struct {
        double mhz;
        uint8_t low, high;
        double back;
    } cases[] = {
        {100.0, 0x33, 0x03, 99.9755859375},
        {-100.7, 0xCD, 0xFC, -99.9755859375},
        {248.9, 0xF0, 0x07, 2032 * 500.0 / 4096}, // taken as 248 MHz
        {249.0, 0xF8, 0x07, 2040 * 500.0 / 4096},
        {-250.0, 0x00, 0xF8, -250.0},
        {0.0, 0x00, 0x00, 0.0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.mhz);
        ASSERT_EQ(nextarq_configDDC(vi, 2, 1, 0, 1, 3, 1, 0, c.mhz), 0);
        EXPECT_EQ(adcReg(0x350), 0x80 | 0x08 | 3);
        EXPECT_EQ(adcReg(0x351), 0x01);
        EXPECT_EQ(adcReg(0x354), c.low);
        EXPECT_EQ(adcReg(0x355), c.high);
        int16_t mix, gain, toReal, inputI, inputQ;
        uint16_t filter;
        double f;
        ASSERT_EQ(nextarq_configDDC_q(vi, 2, &mix, &gain, &toReal, &filter, &inputI, &inputQ, &f), 0);
        EXPECT_EQ(std::vector<int>({mix, gain, toReal, filter, inputI, inputQ}), std::vector<int>({1, 0, 1, 3, 1, 0}));
        EXPECT_DOUBLE_EQ(f, c.back);
    }
    EXPECT_EQ(nextarq_configDDC(vi, 0, 0, 0, 0, 0, 0, 0, 249.5), NEXTARQ_ERROR_PARAMETER9);

    // ddc -1 programs all four.
    ASSERT_EQ(nextarq_configDDC(vi, -1, 0, 1, 0, 2, 0, 1, 100.0), 0);
    for (uint16_t n = 0; n < 4; ++n) {
        const uint16_t base = static_cast<uint16_t>(0x310 + 0x20 * n);
        EXPECT_EQ(adcReg(base), 0x40 | 2) << n;
        EXPECT_EQ(adcReg(base + 1), 0x04) << n;
        EXPECT_EQ(adcReg(base + 4), 0x33) << n;
        EXPECT_EQ(adcReg(base + 5), 0x03) << n;
    }
}

TEST_F(Converter, ResetAndAutoAreAdcPortCommands) {
    startLog();
    ASSERT_EQ(nextarq_adcReset(vi), 0);
    ASSERT_EQ(nextarq_adcAuto(vi), 0);
    EXPECT_EQ(writesTo(log(), 0x34), (std::vector<uint16_t>{2, 4}));
}

TEST_F(Converter, Temperatures) {
    // 0x1900 is 25 degrees, 0x0008 the smallest step; the bench's monitors give degrees x 256.
    struct {
        double t1, t2;
    } cases[] = {{25.0, 0.03125}, {-12.5, 100.0}};
    for (const auto &c : cases) {
        ASSERT_TRUE(bench::setTemperatures(ref, c.t1, c.t2));
        double v1 = 0, v2 = 0;
        ASSERT_EQ(nextarq_temperature_q(vi, &v1, &v2), 0);
        EXPECT_DOUBLE_EQ(v1, c.t1);
        EXPECT_DOUBLE_EQ(v2, c.t2);
    }
    // Monitor words through the register: value1 from sub-addresses 0x01 (high) and 0x10 (low).
    ASSERT_TRUE(bench::setTemperatures(ref, 25.0, 0.03125));
    startLog();
    double v1, v2;
    ASSERT_EQ(nextarq_temperature_q(vi, &v1, &v2), 0);
    EXPECT_EQ(writesTo(log(), 0x3E), (std::vector<uint16_t>{0x01, 0x101, 0x10, 0x110, 0x00, 0x100, 0x30, 0x130}));
    bench::ModuleFaults f;
    f.registers.push_back(failing(0x3E, true, false));
    faults(f);
    EXPECT_EQ(nextarq_temperature_q(vi, &v1, &v2), static_cast<int32_t>(0xBFFA000A));
}

} // namespace
