// What the reset needs of the transfer path: arming, stopping and reading packets without
// destinations, with the stream's failures; and the argument checks of the converter functions.
#include "driver_fixture.h"

#include <chrono>
#include <limits>

using namespace tarq;
using test::DriverTest;

namespace {

class Transfer : public DriverTest {};

TEST_F(Transfer, HardwareTriggeredPacketsAreReadFromTheirRings) {
    ASSERT_EQ(nextarq_configTime(vi, 2, 8192, 2048), 0);
    ASSERT_EQ(nextarq_configTrigger(vi, 1, 1, -10.0), 0);
    ASSERT_EQ(nextarq_trigger(vi), 0);
    uint16_t busy = 1;
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (busy && std::chrono::steady_clock::now() < end) ASSERT_EQ(nextarq_ready_q(vi, &busy), 0);
    ASSERT_EQ(busy, 0);
    startLog();
    ASSERT_EQ(nextarq_readData(vi, 1, 2, nullptr, nullptr, NEXTARQ_FORMAT_WORDS), 0);
    auto entries = log();
    EXPECT_EQ(writesTo(entries, 0x30), (std::vector<uint16_t>{0, 1}));
    // Each packet comes out of its own ring (1024 units from its base) in one or two runs.
    auto address = writesTo(entries, 0x1C);
    ASSERT_TRUE(address.size() == 4 || address.size() == 6 || address.size() == 8) << address.size();
    uint32_t first = static_cast<uint32_t>(address[0]) << 16 | address[1];
    EXPECT_LT(first, 1024u);
    const auto control = writesTo(entries, 0x2C);
    const auto runs = std::count(control.begin(), control.end(), 5);
    EXPECT_EQ(static_cast<size_t>(runs), address.size() / 2);
    ASSERT_FALSE(control.empty());
    EXPECT_EQ(control.back(), 0x8000);
    uint16_t state = 0;
    ASSERT_EQ(nextarq_status_q(vi, &state), 0);
    EXPECT_EQ(state & 1, 0) << "reading leaves the module stopped";
}

TEST_F(Transfer, StreamFailuresEndTheReadAndTheTransfer) {
    bench::ModuleFaults failing;
    failing.readStreamStatus = static_cast<int32_t>(0xBFFA000B);
    bench::ModuleFaults stalling;
    stalling.readStreamStalls = true;
    for (const auto &f : {failing, stalling}) {
        faults(f);
        startLog();
        auto t0 = std::chrono::steady_clock::now();
        EXPECT_EQ(nextarq_readData(vi, 1, 1, nullptr, nullptr, 0), NEXTARQ_ERROR_FIFO_READ);
        double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        if (f.readStreamStalls) {
            EXPECT_GE(seconds, 2.0);
            EXPECT_LT(seconds, 5.0);
        }
        auto transfer = writesTo(log(), 0x2C);
        ASSERT_FALSE(transfer.empty());
        EXPECT_EQ(transfer.back(), 0x8000) << "the transfer is ended on the module";
        faults({});
    }
    EXPECT_EQ(nextarq_readData(vi, 1, 1, nullptr, nullptr, 0), 0);
}

TEST_F(Transfer, ResetStopsAtTheFirstFailingStep) {
    for (uint16_t r : {0x08, 0x20, 0x0C, 0x26, 0x16}) {
        bench::ModuleFaults f;
        f.registers.push_back(failing(r, true, true));
        faults(f);
        EXPECT_EQ(nextarq_reset(vi), static_cast<int32_t>(0xBFFA000A)) << "register " << r;
        faults({});
    }
    EXPECT_EQ(nextarq_reset(vi), 0);
}

// Argument checks of the converter, temperature, self-test and write functions.
TEST_F(Transfer, ArgumentChecksOfTheConverterFunctions) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    int16_t i16;
    uint16_t u16;
    double f64;
    char text[256];
    EXPECT_EQ(nextarq_configAdcMode(vi, 6, 0), NEXTARQ_ERROR_PARAMETER2);
    EXPECT_EQ(nextarq_configAdcMode(vi, 5, 2), NEXTARQ_ERROR_PARAMETER3);
    EXPECT_EQ(nextarq_configAdcMode_q(vi, nullptr, &i16), NEXTARQ_ERROR_PARAMETER2);
    EXPECT_EQ(nextarq_configAdcMode_q(vi, &i16, nullptr), NEXTARQ_ERROR_PARAMETER2);
    EXPECT_EQ(nextarq_configNSR(vi, 177.6), NEXTARQ_ERROR_PARAMETER2);
    EXPECT_EQ(nextarq_configNSR(vi, nan), NEXTARQ_ERROR_PARAMETER2);
    EXPECT_EQ(nextarq_configNSR_q(vi, nullptr), NEXTARQ_ERROR_PARAMETER2);
    EXPECT_EQ(nextarq_configVDR(vi, 3, 100.0), NEXTARQ_ERROR_PARAMETER2);
    EXPECT_EQ(nextarq_configVDR(vi, 0, 50.0), NEXTARQ_ERROR_PARAMETER3);
    EXPECT_EQ(nextarq_configVDR(vi, 1, nan), NEXTARQ_ERROR_PARAMETER3);
    EXPECT_EQ(nextarq_configVDR_q(vi, &i16, nullptr), NEXTARQ_ERROR_PARAMETER3);
    EXPECT_EQ(nextarq_configDDC(vi, 4, 0, 0, 0, 0, 0, 0, 0.0), NEXTARQ_ERROR_PARAMETER2);
    EXPECT_EQ(nextarq_configDDC(vi, -1, 2, 0, 0, 0, 0, 0, 0.0), NEXTARQ_ERROR_PARAMETER3);
    EXPECT_EQ(nextarq_configDDC(vi, -1, 1, 2, 0, 0, 0, 0, 0.0), NEXTARQ_ERROR_PARAMETER4);
    EXPECT_EQ(nextarq_configDDC(vi, -1, 1, 1, 2, 0, 0, 0, 0.0), NEXTARQ_ERROR_PARAMETER5);
    EXPECT_EQ(nextarq_configDDC(vi, -1, 1, 1, 1, 4, 0, 0, 0.0), NEXTARQ_ERROR_PARAMETER6);
    EXPECT_EQ(nextarq_configDDC(vi, -1, 1, 1, 1, 3, 2, 0, 0.0), NEXTARQ_ERROR_PARAMETER7);
    EXPECT_EQ(nextarq_configDDC(vi, -1, 1, 1, 1, 3, 1, 2, 0.0), NEXTARQ_ERROR_PARAMETER8);
    EXPECT_EQ(nextarq_configDDC(vi, -1, 1, 1, 1, 3, 1, 1, 249.5), NEXTARQ_ERROR_PARAMETER9);
    EXPECT_EQ(nextarq_configDDC(vi, -1, 1, 1, 1, 3, 1, 1, nan), NEXTARQ_ERROR_PARAMETER9);
    EXPECT_EQ(nextarq_configDDC_q(vi, -1, &i16, &i16, &i16, &u16, &i16, &i16, &f64), NEXTARQ_ERROR_PARAMETER2);
    EXPECT_EQ(nextarq_configDDC_q(vi, 0, &i16, &i16, &i16, &u16, &i16, &i16, nullptr), NEXTARQ_ERROR_PARAMETER9);
    EXPECT_EQ(nextarq_temperature_q(vi, &f64, nullptr), NEXTARQ_ERROR_PARAMETER3);
    EXPECT_EQ(nextarq_testOK_off(vi, 4, &i16, text), NEXTARQ_ERROR_PARAMETER2);
    EXPECT_EQ(nextarq_self_test(vi, nullptr, text), NEXTARQ_ERROR_PARAMETER2);
    EXPECT_EQ(nextarq_writeData(vi, 0, 1, nullptr, nullptr, 0), NEXTARQ_ERROR_PARAMETER2);
    EXPECT_EQ(nextarq_writeData(vi, 1, 8193, nullptr, nullptr, 0), NEXTARQ_ERROR_PARAMETER3);
    EXPECT_EQ(nextarq_writeData(vi, 1, 1, nullptr, nullptr, 7), NEXTARQ_ERROR_PARAMETER4);
}

} // namespace
