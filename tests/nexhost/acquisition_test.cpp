#include "bench_fixture.h"

#include <algorithm>
#include <cmath>

using namespace tarq;
using test::BenchTest;
using test::ch1;
using test::ch2;

namespace {

class AcquisitionTest : public BenchTest {
  protected:
    void SetUp() override {
        BenchTest::SetUp();
        allocateStreams();
    }
    // A packet of a hardware-triggered acquisition in time order, read as the driver reads it.
    std::vector<uint32_t> readTriggered(uint32_t p, uint32_t samples, uint32_t *dOut = nullptr) {
        const uint32_t pages = rd(0x18);
        const uint32_t base = static_cast<uint32_t>(static_cast<uint64_t>(p) * pages * (1u << 19) / 8);
        const uint32_t units = samples / 8;
        wr(0x30, static_cast<uint16_t>(p));
        const uint32_t t = rd32(0x32);
        const uint32_t m = rd32(0x2E);
        int64_t d = static_cast<int64_t>(static_cast<int32_t>(t - base - m));
        d = ((d % units) + units) % units;
        if (dOut) *dOut = static_cast<uint32_t>(d);
        auto out = readRun(base + static_cast<uint32_t>(d), samples - 8 * static_cast<uint32_t>(d));
        if (d) {
            auto rest = readRun(base, 8 * static_cast<uint32_t>(d));
            out.insert(out.end(), rest.begin(), rest.end());
        }
        return out;
    }
    static int risingCrossings(const std::vector<uint32_t> &w, bool channel1) {
        int n = 0;
        for (size_t i = 1; i < w.size(); ++i) {
            int a = channel1 ? ch1(w[i - 1]) : ch2(w[i - 1]), b = channel1 ? ch1(w[i]) : ch2(w[i]);
            n += a < 0 && b >= 0;
        }
        return n;
    }
};

} // namespace

TEST_F(AcquisitionTest, SoftwareTriggeredPacketReadInChunksThroughStreamZero) {
    timeBase(1, 0x30000, 256);
    wr(0x0C, 0);
    acquire();
    const auto words = readRun(0, 0x30000, 0x20000);
    ASSERT_EQ(words.size(), 0x30000u);
    std::vector<uint32_t> direct(0x30000);
    ASSERT_TRUE(bench::readMemory(ref, 0, 0x30000, direct.data()));
    EXPECT_EQ(words, direct);
    // 5 MHz and 6 MHz sines of 0 dBm: 100 and 83.3 samples a period, 0.316 V peak = ~2513 codes.
    EXPECT_NEAR(risingCrossings(words, true), 0x30000 / 100.0, 2);
    EXPECT_NEAR(risingCrossings(words, false), 0x30000 / (500.0 / 6.0), 2);
    int16_t hi = 0, lo = 0;
    for (uint32_t w : words) {
        hi = std::max(hi, ch1(w));
        lo = std::min(lo, ch1(w));
    }
    EXPECT_NEAR(hi, 2513, 2513 * 0.03);
    EXPECT_NEAR(lo, -2513, 2513 * 0.03);
    // The data stays until the next acquisition: a second read gives the same words.
    EXPECT_EQ(readRun(0, 0x30000, 0x10000), words);
}

TEST_F(AcquisitionTest, ChannelTriggerPositionAndRingRotation) {
    const uint32_t samples = 1024, presamples = 256;
    timeBase(3, samples, presamples);
    wr(0x0C, 1 << 2 | 1 << 5); // channel 1, rising edge
    wr(0x12, 0);               // level code 0
    acquire();
    for (uint32_t p = 0; p < 3; ++p) {
        SCOPED_TRACE(p);
        const auto w = readTriggered(p, samples);
        ASSERT_EQ(w.size(), samples);
        // The rising crossing of level 0 lies in the first unit after the pre-trigger samples.
        bool found = false;
        for (uint32_t j = presamples; j < presamples + 8; ++j) found |= ch1(w[j - 1]) < 0 && ch1(w[j]) >= 0;
        EXPECT_TRUE(found);
        // In time order the sine is continuous: no step larger than its steepest slope plus noise.
        for (size_t i = 1; i < w.size(); ++i) ASSERT_LT(std::abs(ch1(w[i]) - ch1(w[i - 1])), 200) << "at " << i;
    }
}

TEST_F(AcquisitionTest, ForcedTriggerCompletesAWaitingAcquisition) {
    // Slowed down so far that the force lands before the pre-trigger samples are in: the trigger
    // then comes right after them and the ring is not rotated.
    bench::setTimeFactor(1e6);
    timeBase(1, 512, 256);
    wr(0x0C, 1 << 2 | 1 << 5);
    wr(0x12, 8000); // above the signal: no trigger ever comes
    wr(0x0A, 0x81);
    EXPECT_EQ(rd(0x0A) & 1, 1);
    wr(0x14, 1);
    ASSERT_TRUE(waitFor(0x0A, 1, 0, 3.0));
    wr(0x0A, 0x80);
    uint32_t d = 99;
    const auto w = readTriggered(0, 512, &d);
    EXPECT_EQ(d, 0u);
    for (size_t i = 1; i < w.size(); ++i) ASSERT_LT(std::abs(ch1(w[i]) - ch1(w[i - 1])), 200) << "at " << i;

    // Forced late in real time, the trigger position rotates the ring.
    bench::setTimeFactor(1.0);
    timeBase(1, 1024, 256);
    wr(0x0A, 0x81);
    std::this_thread::sleep_for(std::chrono::milliseconds(3));
    wr(0x14, 1);
    ASSERT_TRUE(waitFor(0x0A, 1, 0, 1.0));
    wr(0x0A, 0x80);
    const auto w2 = readTriggered(0, 1024, &d);
    for (size_t i = 1; i < w2.size(); ++i) ASSERT_LT(std::abs(ch1(w2[i]) - ch1(w2[i - 1])), 200) << "at " << i;
}

TEST_F(AcquisitionTest, AcquisitionsTakeTheirRealDurationScaledByTheTimeFactor) {
    timeBase(2, 1u << 20, 0); // 2 x 2.1 ms
    wr(0x0C, 0);
    auto t0 = std::chrono::steady_clock::now();
    wr(0x0A, 0x81);
    EXPECT_EQ(rd(0x0A), 0x81);
    ASSERT_TRUE(waitFor(0x0A, 1, 0, 1.0));
    EXPECT_GE(std::chrono::steady_clock::now() - t0, std::chrono::microseconds(4194));
    EXPECT_EQ(rd(0x0A), 0x80);

    bench::setTimeFactor(10.0);
    t0 = std::chrono::steady_clock::now();
    wr(0x0A, 0x81);
    ASSERT_TRUE(waitFor(0x0A, 1, 0, 2.0));
    EXPECT_GE(std::chrono::steady_clock::now() - t0, std::chrono::microseconds(41943));

    // A stop ends a running acquisition at once.
    timeBase(100, 1u << 20, 0);
    wr(0x0A, 0x81);
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_EQ(rd(0x0A) & 1, 1);
    wr(0x0A, 0x80);
    EXPECT_EQ(rd(0x0A) & 1, 0);
}

TEST_F(AcquisitionTest, WriteThroughStreamOneAndReadBack) {
    // Several chunks and a tail that is not a whole block, as the driver's write loop sends them.
    const uint32_t words = (1u << 20) + 100, unit = 0x1000, chunk = 0x80000;
    std::vector<uint32_t> data(words);
    for (uint32_t i = 0; i < words; ++i) data[i] = i * 2654435761u;
    data[0] = (100u << 16) | 0xFFFFu; // channel 1 code 100, channel 2 code -1

    wr32(0x1C, unit);
    wr(0x2C, 8);
    nexhost_m_stop(s, 1);
    uint32_t capacity = 0;
    ASSERT_EQ(nexhost_m_howmuch_data_q(s, 1, &capacity), 0);
    ASSERT_GT(capacity, chunk);
    bool started = false;
    for (uint32_t done = 0; done < words;) {
        const uint32_t n = std::min(chunk, words - done);
        for (uint32_t taken = 0; taken < n;) {
            uint32_t put = 0;
            ASSERT_EQ(nexhost_m_write_packet(s, n - taken, data.data() + done + taken, &put), 0);
            taken += put;
        }
        if (!started) {
            ASSERT_EQ(nexhost_m_start(s, 1), 0);
            started = true;
        }
        EXPECT_TRUE(waitFor(0x2C, 0x10, 0, 1.0));
        wr(0x2A, static_cast<uint16_t>(n / 64 - 1));
        wr(0x2C, 0x8002);
        done += n;
        EXPECT_TRUE(waitFor(0x2C, 0x10, 0, 1.0)) << "the module takes committed blocks promptly";
    }
    wr(0x2C, 0x8000); // the tail of 100 % 64 words goes in with the end of the transfer
    nexhost_m_stop(s, 1);
    uint32_t free = 0;
    nexhost_m_howmuch_data_q(s, 1, &free);
    EXPECT_EQ(free, capacity);

    const auto back = readRun(unit, words);
    ASSERT_EQ(back.size(), words);
    EXPECT_TRUE(back == data);
    EXPECT_EQ(ch1(back[0]), 100);
    EXPECT_EQ(ch2(back[0]), -1);

    // A new acquisition over that memory replaces the written words.
    timeBase(1, 0x10000, 0);
    wr(0x0C, 0);
    acquire();
    std::vector<uint32_t> fresh(16);
    bench::readMemory(ref, 0x8000, 16, fresh.data());
    EXPECT_FALSE(std::equal(fresh.begin(), fresh.end(), data.begin()));
}

TEST_F(AcquisitionTest, RampTestPatternAndReferenceIntoChannel) {
    wr(0x26, 0x550);
    wr(0x28, 0x0F);
    wr(0x34, 1);
    ASSERT_TRUE(waitFor(0x34, 0xFFFF, 0, 0.1));
    timeBase(1, 40000, 0);
    wr(0x0C, 0);
    acquire();
    auto w = readRun(0, 40000);
    for (size_t i = 1; i < w.size(); ++i) {
        ASSERT_EQ(ch1(w[i]), ch2(w[i]));
        int step = ch1(w[i]) - ch1(w[i - 1]);
        ASSERT_TRUE(step == 1 || step == -16383) << "at " << i;
    }

    // The reference driven out on "ОЧ", cabled into channel 1 at +20 dB: a clipped 10 MHz wave.
    wr(0x26, 0x550);
    wr(0x28, 0x00);
    wr(0x34, 1);
    ASSERT_TRUE(waitFor(0x34, 0xFFFF, 0, 0.1));
    ASSERT_TRUE(bench::plug(bench::moduleConnector("PXI0::1::INSTR", 1, "ОЧ"),
                            bench::moduleConnector("PXI0::1::INSTR", 1, "КН1")));
    wr(0x0C, 0x40); // internal reference, driven out
    wr(0x38, 0x0000);
    acquire();
    w = readRun(0, 40000);
    int16_t hi = 0, lo = 0;
    for (uint32_t x : w) {
        hi = std::max(hi, ch1(x));
        lo = std::min(lo, ch1(x));
    }
    EXPECT_EQ(hi, 8191);
    EXPECT_EQ(lo, -8192);
    EXPECT_NEAR(risingCrossings(w, true), 40000 / 50.0, 2);
}

TEST_F(AcquisitionTest, StreamAndMemoryFaults) {
    timeBase(1, 4096, 0);
    wr(0x0C, 0);
    acquire();
    bench::ModuleFaults f;
    f.readStreamStalls = true;
    bench::setFaults(ref, f);
    wr32(0x1C, 0);
    nexhost_m_start(s, 0);
    wr(0x2C, 5);
    wr(0x2A, 15);
    wr(0x2C, 0x8001);
    std::vector<uint32_t> buffer(4096);
    uint32_t got = 7;
    EXPECT_EQ(nexhost_m_read_packet(s, 4096, buffer.data(), &got), 0);
    EXPECT_EQ(got, 0u);
    f.readStreamStalls = false;
    f.readStreamStatus = NEXHOST_ERROR_STREAM_FAILED;
    f.asyncStopFails = true;
    bench::setFaults(ref, f);
    EXPECT_EQ(nexhost_m_read_packet(s, 4096, buffer.data(), &got), NEXHOST_ERROR_STREAM_FAILED);
    EXPECT_EQ(nexhost_m_async_stop(s, 0), NEXHOST_ERROR_STREAM_FAILED);
    wr(0x2C, 0x8000);

    f = {};
    f.memoryStuckMask = 1u << 17;
    f.memoryStuckHigh = true;
    bench::setFaults(ref, f);
    const auto w = readRun(0, 4096);
    for (uint32_t x : w) ASSERT_TRUE(x & (1u << 17));
}
