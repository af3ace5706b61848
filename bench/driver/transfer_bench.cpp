// nextarq_readData end to end against what it cannot avoid, measured in the same run:
//  - a 16M-sample packet in volts (format 0) against the bench's stream delivery of the same words
//    (the carrier calls the transfer is made of, into one reused buffer) plus the conversion alone;
//  - packets into files (formats 1, 3, 5, 6) against a plain sequential write of the same bytes to
//    the same disk.
// Destination arrays are touched before timing; files are truncated before each pass.
#include "bench.h"
#include "nexhost.h"
#include "nextarq.h"
#include "sample_convert.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
double since(Clock::time_point t0) { return std::chrono::duration<double>(Clock::now() - t0).count(); }

struct Session {
    uint32_t nhvi = 0, vi = 0;
    uint32_t samples = 0;
    explicit Session(uint32_t packetSamples) : samples(packetSamples) {
        auto spec = tarq::bench::defaultBench();
        spec.stateDirectory = scratch() + "/state";
        tarq::bench::configure(spec);
        if (nexhost_init("PXI0::1::INSTR", 1, 1, &nhvi) != 0 || nextarq_init("PXI0::1::INSTR", 1, 1, &vi) != 0 ||
            nextarq_connect(vi, nhvi, 1, 1, 1) != 0 || nextarq_configTime(vi, 1, samples, 0) != 0 ||
            nextarq_configTrigger(vi, 0, 0, 0.0) != 0 || nextarq_trigger(vi) != 0 || nextarq_event(vi) != 0) {
            std::fprintf(stderr, "bench session failed\n");
            std::exit(1);
        }
        uint16_t busy = 1;
        const auto end = Clock::now() + std::chrono::seconds(10);
        while (busy && Clock::now() < end) nextarq_ready_q(vi, &busy);
    }
    ~Session() {
        nextarq_close(vi);
        nexhost_close(nhvi);
    }
    static std::string scratch() {
        const char *dir = std::getenv("TARQ_BENCH_SCRATCH");
        std::string path = dir && *dir ? dir : "/tmp/tarq-bench-scratch";
        std::string cmd = "mkdir -p '" + path + "/state'";
        if (std::system(cmd.c_str()) != 0) std::exit(1);
        return path;
    }

    // The words of packet 1 through the carrier's stream 0, the way a transfer asks for them, into
    // one reused chunk buffer; `use` sees each piece.
    template <typename Use> void stream(std::vector<uint32_t> &buffer, Use use) {
        nexhost_m_out16(vi, 0x0A, 0x80);
        nexhost_m_out16(vi, 0x1C, 0);
        nexhost_m_out16(vi, 0x1C, 0);
        nexhost_m_stop(vi, 0);
        nexhost_m_start(vi, 0);
        nexhost_m_out16(vi, 0x2C, 5);
        nexhost_m_out16(vi, 0x2A, static_cast<uint16_t>((samples >> 8) - 1));
        nexhost_m_out16(vi, 0x2C, 0x8001);
        uint32_t remaining = samples, offset = 0;
        while (remaining > 0) {
            uint32_t got = 0;
            nexhost_m_read_packet(vi, std::min<uint32_t>(remaining, static_cast<uint32_t>(buffer.size())),
                                  buffer.data(), &got);
            if (got == 0) {
                std::fprintf(stderr, "stream stalled\n");
                std::exit(1);
            }
            use(buffer.data(), got, offset);
            remaining -= got;
            offset += got;
        }
        nexhost_m_out16(vi, 0x2C, 0x8000);
        nexhost_m_stop(vi, 0);
    }
};

void BM_ReadPacketVolts(benchmark::State &state) {
    constexpr uint32_t kSamples = 16u << 20;
    Session s(kSamples);
    std::vector<double> a(kSamples, 0.0), b(kSamples, 0.0);
    std::vector<uint32_t> buffer(0x20000);
    const nextarq::ChannelScale unit{1.0, 0.0};
    double tDriver = 0, tStream = 0, tConvert = 0;
    for (auto _ : state) {
        auto t0 = Clock::now();
        if (nextarq_readData(s.vi, 1, 1, a.data(), b.data(), NEXTARQ_FORMAT_VOLTS) != 0) {
            state.SkipWithError("readData failed");
            break;
        }
        benchmark::ClobberMemory();
        const double driver = since(t0);
        // Delivery alone, then the conversion alone of the same words into the same arrays.
        std::vector<uint32_t> all;
        t0 = Clock::now();
        s.stream(buffer, [](const uint32_t *, uint32_t, uint32_t) {});
        const double stream = since(t0);
        all.reserve(kSamples);
        s.stream(buffer, [&](const uint32_t *w, uint32_t n, uint32_t) { all.insert(all.end(), w, w + n); });
        t0 = Clock::now();
        nextarq::wordsToVolts(all.data(), all.size(), a.data(), b.data(), unit, unit);
        benchmark::ClobberMemory();
        const double convert = since(t0);
        tDriver += driver;
        tStream += stream;
        tConvert += convert;
        state.SetIterationTime(driver);
    }
    state.counters["driver_ms"] = 1e3 * tDriver / state.iterations();
    state.counters["stream_ms"] = 1e3 * tStream / state.iterations();
    state.counters["convert_ms"] = 1e3 * tConvert / state.iterations();
    state.counters["ratio_to_stream_plus_convert"] = tDriver / (tStream + tConvert); // target: at most 2
}
BENCHMARK(BM_ReadPacketVolts)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

// Bytes a packet of n samples takes in each file format (both channels' files together).
size_t fileBytes(int format, size_t n) {
    switch (format) {
    case 1: return 2 * n * sizeof(double);
    case 3: return 2 * n * sizeof(int16_t);
    case 5: return n * sizeof(uint32_t);
    default: return 2 * n * sizeof(double);
    }
}

void BM_ReadPacketToFiles(benchmark::State &state) {
    constexpr uint32_t kSamples = 4u << 20;
    const int format = static_cast<int>(state.range(0));
    Session s(kSamples);
    const std::string dir = Session::scratch();
    const std::string p0 = dir + "/ch1.bin", p1 = dir + "/ch2.bin", plain = dir + "/plain.bin";
    FILE *f0 = std::fopen(p0.c_str(), "w+b");
    FILE *f1 = std::fopen(p1.c_str(), "w+b");
    const size_t bytes = fileBytes(format, kSamples);
    std::vector<char> data(bytes, 0x5A);
    double tDriver = 0, tPlain = 0;
    for (auto _ : state) {
        for (FILE *f : {f0, f1}) {
            std::fflush(f);
            if (ftruncate(fileno(f), 0) != 0) std::exit(1);
            std::rewind(f);
        }
        auto t0 = Clock::now();
        const int32_t st = nextarq_readData(s.vi, 1, 1, f0, format <= 3 ? f1 : nullptr, static_cast<int16_t>(format));
        const double driver = since(t0);
        if (st != 0) {
            state.SkipWithError("readData failed");
            break;
        }
        // The same number of bytes, written plainly in 1 MiB pieces to the same folder.
        const int fd = ::open(plain.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        t0 = Clock::now();
        for (size_t off = 0; off < bytes;) {
            const size_t n = std::min<size_t>(1u << 20, bytes - off);
            if (::write(fd, data.data() + off, n) != static_cast<ssize_t>(n)) std::exit(1);
            off += n;
        }
        const double plainSeconds = since(t0);
        ::close(fd);
        tDriver += driver;
        tPlain += plainSeconds;
        state.SetIterationTime(driver);
    }
    std::fclose(f0);
    std::fclose(f1);
    std::remove(p0.c_str());
    std::remove(p1.c_str());
    std::remove(plain.c_str());
    state.counters["driver_MBps"] = bytes * state.iterations() / tDriver / 1e6;
    state.counters["plain_MBps"] = bytes * state.iterations() / tPlain / 1e6;
    state.counters["ratio_to_plain_write"] = tPlain / tDriver; // target: at least 0.5
}
BENCHMARK(BM_ReadPacketToFiles)->Arg(1)->Arg(3)->Arg(5)->Arg(6)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

} // namespace

BENCHMARK_MAIN();
