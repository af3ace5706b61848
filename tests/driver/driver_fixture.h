// A fresh bench per test and a driver session connected to its TARQ (unless a test says otherwise),
// with the bench's register log and raw views for checking what the driver did.
#pragma once

#include "bench_fixture.h"
#include "nextarq.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace tarq::test {

class DriverTest : public ::testing::Test {
  protected:
    bench::BenchSpec spec;
    const bench::ModuleRef ref{"PXI0::1::INSTR", 1};
    uint32_t nhvi = 0;
    uint32_t vi = 0;

    // Hooks: change the bench, inject faults before the connection, or skip it.
    virtual void adjust(bench::BenchSpec &) {}
    virtual void beforeConnect() {}
    virtual bool connectInSetUp() const { return true; }

    void SetUp() override {
        spec = bench::defaultBench();
        spec.stateDirectory = scratchDir(testName());
        adjust(spec);
        bench::configure(spec);
        ASSERT_EQ(nexhost_init("PXI0::1::INSTR", 1, 1, &nhvi), 0);
        ASSERT_EQ(nextarq_init("PXI0::1::INSTR", 1, 1, &vi), 0);
        beforeConnect();
        if (connectInSetUp()) {
            ASSERT_EQ(nextarq_connect(vi, nhvi, 1, 1, 1), 0);
        }
    }
    void TearDown() override {
        if (vi) nextarq_close(vi);
        if (nhvi) nexhost_close(nhvi);
    }

    void faults(const bench::ModuleFaults &f) { ASSERT_TRUE(bench::setFaults(ref, f)); }
    bench::RegisterFault failing(uint16_t reg, bool onRead, bool onWrite, int32_t skip = 0, int32_t count = -1) {
        bench::RegisterFault f;
        f.reg = reg;
        f.onRead = onRead;
        f.onWrite = onWrite;
        f.skip = skip;
        f.count = count;
        return f;
    }
    void startLog() {
        bench::setRegisterLog(ref, true);
        bench::takeRegisterLog(ref);
    }
    std::vector<bench::RegisterAccess> log() { return bench::takeRegisterLog(ref); }
    static std::vector<uint16_t> writesTo(const std::vector<bench::RegisterAccess> &log, uint16_t reg) {
        std::vector<uint16_t> out;
        for (const auto &a : log)
            if (a.write && a.reg == reg && a.status == 0) out.push_back(a.value);
        return out;
    }
    int64_t reg(uint16_t r) { return bench::moduleRegister(ref, r); }
    int adc(uint16_t address) { return bench::adcRegister(ref, address); }
};

inline std::string message(int32_t status) {
    char text[256];
    nextarq_error_message(0, status, text);
    return text;
}

} // namespace tarq::test
