#include "bench_fixture.h"

using namespace tarq;
using test::BenchTest;

namespace {
// The ADC port as the driver drives it: address, data, command, then wait for the busy register.
class AdcPortTest : public BenchTest {
  protected:
    bool waitPort() { return waitFor(0x34, 0xFFFF, 0, 0.1); }
    void adcWrite(uint16_t address, uint8_t data) {
        wr(0x26, address);
        wr(0x28, data);
        wr(0x34, 1);
        EXPECT_TRUE(waitPort());
    }
    uint8_t adcRead(uint16_t address) {
        wr(0x26, address);
        wr(0x34, 8);
        EXPECT_TRUE(waitPort());
        return static_cast<uint8_t>(rd(0x28) & 0xFF);
    }
};
} // namespace

TEST_F(BenchTest, ControllerStartAndRelease) {
    EXPECT_EQ(rd(0x08), 0);
    wr(0x08, 1);
    ASSERT_TRUE(waitFor(0x08, 1, 0, 0.1)) << "the start should finish in well under the driver's 4 s";
    EXPECT_EQ(rd(0x08), 2);
    wr(0x08, 0x10);
    EXPECT_EQ(rd(0x08), 0x8000);
    wr(0x08, 0x1000); // before a converter synchronisation: the state stays
    EXPECT_EQ(rd(0x08), 0x8000);

    bench::ModuleFaults f;
    f.controllerHangs = true;
    bench::setFaults(ref, f);
    wr(0x08, 1);
    EXPECT_FALSE(waitFor(0x08, 1, 0, 0.05));
    wr(0x08, 0x10);
    EXPECT_NE(rd(0x08), 0x8000); // a release before the start is done does nothing
    f.controllerHangs = false;
    f.controllerDoneValue = 3;
    bench::setFaults(ref, f);
    wr(0x08, 1);
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
    EXPECT_EQ(rd(0x08), 3); // bit 0 stays set: the driver's start fails
}

TEST_F(BenchTest, CommandBitsClearThemselvesUnlessStuck) {
    uint16_t v = rd(0x20);
    wr(0x20, v | 0x100);
    EXPECT_TRUE(waitFor(0x20, 0x100, 0, 0.1));
    wr(0x20, rd(0x20) | 0x200);
    EXPECT_TRUE(waitFor(0x20, 0x200, 0, 0.1));
    bench::ModuleFaults f;
    f.stuckCommandBits = 0x200;
    bench::setFaults(ref, f);
    wr(0x20, rd(0x20) | 0x300);
    EXPECT_TRUE(waitFor(0x20, 0x100, 0, 0.1));
    EXPECT_FALSE(waitFor(0x20, 0x200, 0, 0.05));
}

TEST_F(AdcPortTest, RegistersCommandsAndBusyPort) {
    EXPECT_EQ(adcRead(0x004), 0xD3);
    EXPECT_EQ(adcRead(0x018), 0x20);
    adcWrite(0x550, 0x0F);
    EXPECT_EQ(adcRead(0x550), 0x0F);
    adcWrite(0x200, 0x22);
    adcWrite(0x314, 0x33);
    adcWrite(0x004, 0x00); // the chip id is read-only
    EXPECT_EQ(adcRead(0x004), 0xD3);
    EXPECT_EQ(bench::adcRegister(ref, 0x200), 0x22);
    wr(0x28, 0x1FF); // only the low byte is data
    wr(0x26, 0x18);
    wr(0x34, 1);
    EXPECT_NE(rd(0x34), 0) << "the port is busy for a while after a command";
    ASSERT_TRUE(waitPort());
    EXPECT_EQ(adcRead(0x018), 0xFF);

    wr(0x34, 2); // reset of the converter settings
    ASSERT_TRUE(waitPort());
    EXPECT_EQ(adcRead(0x550), 0x00);
    EXPECT_EQ(adcRead(0x018), 0x20);
    EXPECT_EQ(adcRead(0x004), 0xD3);
    wr(0x34, 0x80); // after a gain change
    EXPECT_TRUE(waitPort());

    bench::ModuleFaults f;
    f.adcPortBusy = true;
    bench::setFaults(ref, f);
    wr(0x26, 4);
    wr(0x34, 8);
    EXPECT_FALSE(waitFor(0x34, 0xFFFF, 0, 0.05));
}

TEST_F(BenchTest, RegistersReadBackAndInjectedFaults) {
    wr(0x14, 0x5555);
    EXPECT_EQ(rd(0x14), 0x5555);
    wr32(0x1A, 0x0001FFFF);
    EXPECT_EQ(rd32(0x1A), 0x0001FFFFu);
    wr(0x38, 0x1234);
    EXPECT_EQ(rd(0x38), 0x1234);

    bench::ModuleFaults f;
    f.eventReadbackXor = 1;
    f.idOverride = 0x48;
    f.versionOverride = 0;
    f.registers.push_back({0x0C, false, true, static_cast<int32_t>(0xBFFA000A), 1, 2}); // writes 2 and 3 fail
    bench::setFaults(ref, f);
    wr(0x14, 0x5555);
    EXPECT_EQ(rd(0x14), 0x5554);
    EXPECT_EQ(rd(0x02) & 0xFF, 0x48);
    EXPECT_EQ(rd(0x04) & 0x300, 0);
    bench::setRegisterLog(ref, true);
    EXPECT_EQ(nexhost_m_out16(s, 0x0C, 1), 0);
    EXPECT_EQ(nexhost_m_out16(s, 0x0C, 2), static_cast<int32_t>(0xBFFA000A));
    EXPECT_EQ(nexhost_m_out16(s, 0x0C, 3), static_cast<int32_t>(0xBFFA000A));
    EXPECT_EQ(nexhost_m_out16(s, 0x0C, 4), 0);
    EXPECT_EQ(rd(0x0C), 4);
    auto log = bench::takeRegisterLog(ref);
    ASSERT_EQ(log.size(), 5u);
    EXPECT_TRUE(log[1].write);
    EXPECT_EQ(log[1].value, 2);
    EXPECT_EQ(log[1].status, static_cast<int32_t>(0xBFFA000A));
    EXPECT_FALSE(log[4].write);
    EXPECT_EQ(bench::moduleRegister(ref, 0x0C), 4);
}

TEST_F(BenchTest, TemperatureMonitorBytes) {
    bench::setTemperatures(ref, 25.0, 0.03125);
    auto byte = [&](uint16_t sub) {
        wr(0x3E, sub);
        wr(0x3E, sub | 0x100);
        return rd(0x3E) & 0xFF;
    };
    EXPECT_EQ(byte(0x01) << 8 | byte(0x10), 0x1900);
    EXPECT_EQ(byte(0x00) << 8 | byte(0x30), 0x0008);
}

TEST_F(BenchTest, ReferenceLocksInternallyAndThroughTheTestCable) {
    const std::string refConnector = bench::moduleConnector("PXI0::1::INSTR", 1, "REF");
    const std::string syncConnector = bench::moduleConnector("PXI0::1::INSTR", 1, "SYNC");
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
    EXPECT_TRUE(rd(0x20) & 0x40) << "internal reference";
    wr(0x0C, 0x80); // external reference, nothing plugged
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_FALSE(rd(0x20) & 0x40);
    ASSERT_TRUE(bench::plug(syncConnector, refConnector));
    wr(0x0A, 0xC0); // the module drives its reference out on the synchronisation connector
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_TRUE(rd(0x20) & 0x40) << "locked through the cable within 1 ms";
    wr(0x0A, 0x80);
    EXPECT_FALSE(rd(0x20) & 0x40);
    bench::unplug(refConnector);
    wr(0x0A, 0xC0);
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_FALSE(rd(0x20) & 0x40) << "no cable, no lock";

    bench::ModuleFaults f;
    f.referenceNeverLocks = true;
    bench::setFaults(ref, f);
    wr(0x0C, 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
    EXPECT_FALSE(rd(0x20) & 0x40);
}
