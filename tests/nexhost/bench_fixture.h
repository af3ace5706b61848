// A fresh bench per test, with the flash state in a scratch folder, and the register-level helpers
// that drive the module the way the driver does.
#pragma once

#include "bench.h"
#include "nexhost.h"
#include "visa.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace tarq::test {

inline std::string scratchDir(const std::string &leaf) {
    const char *root = std::getenv("TARQ_TEST_SCRATCH");
    std::filesystem::path dir = std::filesystem::path(root && *root ? root : "/tmp/tarq-test-scratch") /
                                ("p" + std::to_string(getpid())) / leaf;
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    return dir.string();
}

inline std::string testName() {
    const auto *info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string(info->test_suite_name()) + "." + info->name();
    for (char &c : name)
        if (c == '/') c = '_';
    return name;
}

class BenchTest : public ::testing::Test {
  protected:
    bench::BenchSpec spec;
    uint32_t carrier = 0;
    uint32_t s = 0;
    const bench::ModuleRef ref{"PXI0::1::INSTR", 1};

    void SetUp() override {
        spec = bench::defaultBench();
        spec.stateDirectory = scratchDir(testName());
        adjust(spec);
        bench::configure(spec);
        ASSERT_EQ(nexhost_init("PXI0::1::INSTR", 0, 0, &carrier), 0);
        ASSERT_EQ(nexhost_m_init(carrier, 1, &s), 0);
    }
    void TearDown() override {
        if (s) nexhost_m_close(s);
        if (carrier) nexhost_close(carrier);
    }
    virtual void adjust(bench::BenchSpec &) {}

    uint16_t rd(uint16_t reg) {
        uint16_t v = 0;
        EXPECT_EQ(nexhost_m_in16(s, reg, &v), 0) << "read of register " << reg;
        return v;
    }
    void wr(uint16_t reg, uint16_t v) { EXPECT_EQ(nexhost_m_out16(s, reg, v), 0) << "write of register " << reg; }
    void wr32(uint16_t reg, uint32_t v) {
        wr(reg, static_cast<uint16_t>(v >> 16));
        wr(reg, static_cast<uint16_t>(v & 0xFFFF));
    }
    uint32_t rd32(uint16_t reg) {
        uint32_t hi = rd(reg);
        return hi << 16 | rd(reg);
    }
    // Polls a register until (value & mask) == want or the time runs out.
    bool waitFor(uint16_t reg, uint16_t mask, uint16_t want, double seconds = 1.0) {
        auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
        do {
            if ((rd(reg) & mask) == want) return true;
        } while (std::chrono::steady_clock::now() < end);
        return false;
    }
    void allocateStreams(uint32_t words = 16u << 20) {
        ASSERT_EQ(nexhost_m_alloc(s, 0, words, 0), 0);
        ASSERT_EQ(nexhost_m_alloc(s, 1, words, 0), 0);
    }
    // Time base as the driver programs it.
    void timeBase(uint16_t packets, uint32_t samples, uint32_t presamples) {
        wr(0x16, static_cast<uint16_t>(packets - 1));
        wr32(0x1A, samples / 8 - 1);
        wr32(0x2E, presamples / 8 - 1);
        wr(0x18, static_cast<uint16_t>((samples + (1u << 19) - 1) >> 19));
    }
    // Arms, waits for the data and stops.
    void acquire(double seconds = 2.0) {
        wr(0x0A, 0x80);
        wr(0x0A, 0x81);
        ASSERT_TRUE(waitFor(0x0A, 1, 0, seconds)) << "acquisition did not complete";
        wr(0x0A, 0x80);
    }
    // One read transfer of `words` words from the memory unit `unit`, as the driver runs it.
    std::vector<uint32_t> readRun(uint32_t unit, uint32_t words, uint32_t chunk = 0x20000) {
        std::vector<uint32_t> out;
        wr32(0x1C, unit);
        nexhost_m_stop(s, 0);
        nexhost_m_start(s, 0);
        wr(0x2C, 5);
        wr(0x2A, static_cast<uint16_t>((words >> 8) - 1));
        std::vector<uint32_t> buffer(chunk + 10);
        uint32_t got = 0;
        nexhost_m_read_packet(s, chunk, buffer.data(), &got);
        EXPECT_EQ(got, 0u);
        if (!(rd(0x2C) & 0x10)) wr(0x2C, 0x8001);
        auto noted = std::chrono::steady_clock::now();
        while (out.size() < words) {
            uint32_t want = std::min<uint32_t>(chunk, words - static_cast<uint32_t>(out.size()));
            EXPECT_EQ(nexhost_m_read_packet(s, want, buffer.data(), &got), 0);
            if (got == 0) {
                if (std::chrono::steady_clock::now() - noted > std::chrono::seconds(2)) {
                    ADD_FAILURE() << "stream stalled after " << out.size() << " words";
                    break;
                }
                continue;
            }
            noted = std::chrono::steady_clock::now();
            out.insert(out.end(), buffer.begin(), buffer.begin() + got);
            if (out.size() < words && !(rd(0x2C) & 0x10)) wr(0x2C, 0x8001);
        }
        wr(0x2C, 0x8000);
        nexhost_m_async_stop(s, 0);
        return out;
    }
};

inline int16_t ch1(uint32_t w) { return static_cast<int16_t>(w >> 16); }
inline int16_t ch2(uint32_t w) { return static_cast<int16_t>(w & 0xFFFF); }

} // namespace tarq::test
