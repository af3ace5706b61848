// Words per second that stream 0 delivers for a 16M-sample packet of the default signals, against
// memcpy of the same bytes measured in the same run.
#include "bench.h"
#include "nexhost.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <vector>

namespace {

constexpr uint32_t kWords = 16u << 20;
constexpr uint32_t kChunk = 0x20000;

struct Session {
    uint32_t carrier = 0, s = 0;
    Session() {
        auto spec = tarq::bench::defaultBench();
        spec.stateDirectory = (std::filesystem::temp_directory_path() / "tarq-bench-state").string();
        spec.timeFactor = 1e-6; // the acquisition itself is not what is measured
        tarq::bench::configure(spec);
        nexhost_init("PXI0::1::INSTR", 0, 0, &carrier);
        nexhost_m_init(carrier, 1, &s);
        nexhost_m_alloc(s, 0, kWords, 0);
        nexhost_m_alloc(s, 1, 1u << 20, 0);
        out(0x16, 0);
        out32(0x1A, kWords / 8 - 1);
        out32(0x2E, 0xFFFFFFFF);
        out(0x18, kWords >> 19);
        out(0x0C, 0);
        out(0x0A, 0x81);
        uint16_t v = 1;
        while (v & 1) nexhost_m_in16(s, 0x0A, &v);
        out(0x0A, 0x80);
    }
    ~Session() {
        nexhost_m_close(s);
        nexhost_close(carrier);
    }
    void out(uint16_t r, uint16_t v) { nexhost_m_out16(s, r, v); }
    void out32(uint16_t r, uint32_t v) {
        out(r, static_cast<uint16_t>(v >> 16));
        out(r, static_cast<uint16_t>(v));
    }
    bool busy() {
        uint16_t v = 0;
        nexhost_m_in16(s, 0x2C, &v);
        return v & 0x10;
    }
    // The driver's read loop, without conversion: one packet through the stream in chunks.
    uint64_t readPacket(uint32_t *buffer) {
        out32(0x1C, 0);
        nexhost_m_stop(s, 0);
        nexhost_m_start(s, 0);
        out(0x2C, 5);
        out(0x2A, static_cast<uint16_t>((kWords >> 8) - 1));
        if (!busy()) out(0x2C, 0x8001);
        uint64_t total = 0, sum = 0;
        while (total < kWords) {
            uint32_t got = 0;
            nexhost_m_read_packet(s, std::min<uint64_t>(kChunk, kWords - total), buffer, &got);
            total += got;
            sum += buffer[0];
            if (total < kWords && !busy()) out(0x2C, 0x8001);
        }
        out(0x2C, 0x8000);
        nexhost_m_async_stop(s, 0);
        return sum;
    }
};

void BM_StreamDeliveryVsMemcpy(benchmark::State &state) {
    Session session;
    std::vector<uint32_t> chunk(kChunk + 10, 1);
    std::vector<uint32_t> src(kWords, 7), dst(kWords, 0); // touched: page faults are not measured
    double streamSeconds = 0, memcpySeconds = 0;
    for (auto _ : state) {
        auto t0 = std::chrono::steady_clock::now();
        benchmark::DoNotOptimize(session.readPacket(chunk.data()));
        auto t1 = std::chrono::steady_clock::now();
        std::memcpy(dst.data(), src.data(), kWords * sizeof(uint32_t));
        benchmark::ClobberMemory();
        auto t2 = std::chrono::steady_clock::now();
        streamSeconds += std::chrono::duration<double>(t1 - t0).count();
        memcpySeconds += std::chrono::duration<double>(t2 - t1).count();
        state.SetIterationTime(std::chrono::duration<double>(t1 - t0).count());
    }
    state.counters["stream_Mwords_per_s"] = kWords * state.iterations() / streamSeconds / 1e6;
    state.counters["memcpy_Mwords_per_s"] = kWords * state.iterations() / memcpySeconds / 1e6;
    state.counters["ratio_to_memcpy"] = memcpySeconds / streamSeconds; // target: at least 0.25
}
BENCHMARK(BM_StreamDeliveryVsMemcpy)->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(2.0);

} // namespace

BENCHMARK_MAIN();
