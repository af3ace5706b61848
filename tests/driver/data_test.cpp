// Packets out of and into the module memory through the public API: every data format into arrays
// and files, the ring rotation of hardware-triggered packets, chunked runs, stream failures and the
// write path's round trip.
#include "driver_fixture.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <limits>
#include <memory>

using namespace tarq;
using test::DriverTest;

namespace {

using File = std::unique_ptr<FILE, int (*)(FILE *)>;
File scratchFile() { return File(std::tmpfile(), std::fclose); }

template <typename T> std::vector<T> contents(FILE *f, long from = 0) {
    std::fflush(f);
    std::fseek(f, 0, SEEK_END);
    const long size = std::ftell(f);
    std::vector<T> out(static_cast<size_t>(size - from) / sizeof(T));
    std::fseek(f, from, SEEK_SET);
    EXPECT_EQ(std::fread(out.data(), sizeof(T), out.size(), f), out.size());
    return out;
}

int16_t code1(uint32_t w) { return static_cast<int16_t>(w >> 16); }
int16_t code2(uint32_t w) { return static_cast<int16_t>(w & 0xFFFF); }

class Data : public DriverTest {
  protected:
    uint32_t samples = 0;

    void acquire(uint16_t packets, uint32_t n, uint32_t presamples, uint16_t source = 0) {
        samples = n;
        ASSERT_EQ(nextarq_configTime(vi, packets, n, presamples), 0);
        ASSERT_EQ(nextarq_configTrigger(vi, source, 1, -10.0), 0);
        ASSERT_EQ(nextarq_trigger(vi), 0);
        if (source == 0) {
            ASSERT_EQ(nextarq_event(vi), 0);
        }
        waitReady();
    }
    void waitReady(double seconds = 5.0) {
        uint16_t busy = 1;
        auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
        while (busy && std::chrono::steady_clock::now() < end) {
            ASSERT_EQ(nextarq_ready_q(vi, &busy), 0);
            if (busy) nextarq_event(vi);
        }
        ASSERT_EQ(busy, 0);
    }
    std::vector<uint32_t> words(int16_t first, int16_t count) {
        std::vector<uint32_t> w(size_t{samples} * count);
        EXPECT_EQ(nextarq_readData(vi, first, count, w.data(), nullptr, NEXTARQ_FORMAT_WORDS), 0);
        return w;
    }
    // Coefficients of band 2 (the band after a reset) that differ per channel, so that a swapped
    // channel or band shows.
    void distinctCoefficients() {
        double c[40];
        for (int i = 0; i < 40; ++i) c[i] = i % 20 < 10 ? 1.0 : 0.0;
        c[2] = 1.25;   // channel 1 gain, band 2
        c[12] = 0.1;   // channel 1 offset, band 2
        c[22] = 0.75;  // channel 2 gain, band 2
        c[32] = -0.05; // channel 2 offset, band 2
        ASSERT_EQ(nextarq_writeCoefficients(vi, 2, c, sizeof c, 0), 0);
    }
    static double volts(int16_t code, double gain, double offset) { return offset + code * gain * 2.06 / 16383.0; }
};

TEST_F(Data, EveryFormatIntoArraysAndFiles) {
    distinctCoefficients();
    acquire(3, 8192, 1024);
    const auto ref = words(2, 2); // packets 2 and 3, the second after the first
    ASSERT_EQ(ref.size(), 2u * samples);
    EXPECT_NE(ref, words(1, 2)) << "packets differ";
    const size_t n = ref.size();
    std::vector<double> v1(n), v2(n), expected1(n), expected2(n);
    for (size_t i = 0; i < n; ++i) {
        expected1[i] = volts(code1(ref[i]), 1.25, 0.1);
        expected2[i] = volts(code2(ref[i]), 0.75, -0.05);
    }
    ASSERT_EQ(nextarq_readData(vi, 2, 2, v1.data(), v2.data(), NEXTARQ_FORMAT_VOLTS), 0);
    for (size_t i = 0; i < n; ++i) {
        ASSERT_NEAR(v1[i], expected1[i], 1e-12) << i;
        ASSERT_NEAR(v2[i], expected2[i], 1e-12) << i;
    }
    std::vector<int16_t> c1(n), c2(n);
    ASSERT_EQ(nextarq_readData(vi, 2, 2, c1.data(), c2.data(), NEXTARQ_FORMAT_CODES), 0);
    for (size_t i = 0; i < n; ++i) ASSERT_TRUE(c1[i] == code1(ref[i]) && c2[i] == code2(ref[i])) << i;
    // A null channel is skipped; format 4 with no destination reads and stores nothing.
    std::vector<int16_t> only2(n, 7);
    ASSERT_EQ(nextarq_readData(vi, 2, 2, nullptr, only2.data(), NEXTARQ_FORMAT_CODES), 0);
    EXPECT_EQ(only2, c2);
    EXPECT_EQ(nextarq_readData(vi, 2, 2, nullptr, nullptr, NEXTARQ_FORMAT_WORDS), 0);

    // Files grow at their current position: a prefix already written stays in front.
    const char prefix[5] = "TARQ";
    auto f1 = scratchFile(), f2 = scratchFile();
    ASSERT_TRUE(f1 && f2);
    auto withPrefix = [&](FILE *f) {
        std::fseek(f, 0, SEEK_SET);
        ASSERT_EQ(ftruncate(fileno(f), 0), 0);
        std::fwrite(prefix, 1, 4, f);
    };
    withPrefix(f1.get());
    withPrefix(f2.get());
    FILE *caller1 = f1.get();
    ASSERT_EQ(nextarq_readData(vi, 2, 2, caller1, f2.get(), NEXTARQ_FORMAT_VOLTS_FILE), 0);
    EXPECT_EQ(caller1, f1.get());
    EXPECT_EQ(contents<double>(f1.get(), 4), v1);
    EXPECT_EQ(contents<double>(f2.get(), 4), v2);
    std::fseek(f1.get(), 0, SEEK_SET);
    char head[4];
    ASSERT_EQ(std::fread(head, 1, 4, f1.get()), 4u);
    EXPECT_EQ(std::string(head, 4), "TARQ");

    withPrefix(f1.get());
    withPrefix(f2.get());
    ASSERT_EQ(nextarq_readData(vi, 2, 2, f1.get(), f2.get(), NEXTARQ_FORMAT_CODES_FILE), 0);
    EXPECT_EQ(contents<int16_t>(f1.get(), 4), c1);
    EXPECT_EQ(contents<int16_t>(f2.get(), 4), c2);

    withPrefix(f1.get());
    ASSERT_EQ(nextarq_readData(vi, 2, 2, f1.get(), f2.get(), NEXTARQ_FORMAT_WORDS_FILE), 0);
    EXPECT_EQ(contents<uint32_t>(f1.get(), 4), ref);

    withPrefix(f1.get());
    ASSERT_EQ(nextarq_readData(vi, 2, 2, f1.get(), nullptr, NEXTARQ_FORMAT_VOLT_PAIRS_FILE), 0);
    const auto pairs = contents<double>(f1.get(), 4);
    ASSERT_EQ(pairs.size(), 2 * n);
    for (size_t i = 0; i < n; ++i) ASSERT_TRUE(pairs[2 * i] == v1[i] && pairs[2 * i + 1] == v2[i]) << i;
}

TEST_F(Data, PacketRangeIsChecked) {
    acquire(2, 1024, 256);
    std::vector<uint32_t> w(4096, 0xDEADBEEF);
    EXPECT_EQ(nextarq_readData(vi, 1, 3, w.data(), nullptr, 4), NEXTARQ_ERROR_PARAMETER3);
    EXPECT_EQ(nextarq_readData(vi, 3, 1, w.data(), nullptr, 4), NEXTARQ_ERROR_PARAMETER2);
    EXPECT_EQ(nextarq_readData(vi, 1, 1, w.data(), nullptr, 7), NEXTARQ_ERROR_PARAMETER4);
    EXPECT_EQ(w[0], 0xDEADBEEF);
    ASSERT_EQ(nextarq_readData(vi, 2, 1, w.data(), nullptr, 4), 0);
    EXPECT_EQ(w[1024], 0xDEADBEEF) << "only the second packet is read";
}

TEST_F(Data, FailedFileWriteIsReported) {
    acquire(1, 1024, 256);
    FILE *full = std::fopen("/dev/full", "wb");
    ASSERT_NE(full, nullptr);
    for (int16_t format : {1, 3, 5, 6}) {
        EXPECT_EQ(nextarq_readData(vi, 1, 1, full, nullptr, format), NEXTARQ_ERROR_FILE_WRITE) << format;
        std::clearerr(full);
    }
    std::fclose(full);
    EXPECT_EQ(test::message(NEXTARQ_ERROR_FILE_WRITE), "Ошибка записи в файл");
}

// The packet's ring read in time order: from the unit m before the trigger position to the end of
// the ring, then from its base. The rotation d is read off the register log and checked against the
// trigger position and pre-trigger registers, and the data against the raw memory.
struct RingCase {
    const char *what;
    uint16_t source;
    bool dcOnChannel1; // no crossing: the trigger is forced late, after the ring has wrapped
    bool expectZero;
};

class Ring : public Data, public ::testing::WithParamInterface<RingCase> {};

TEST_P(Ring, PacketComesOutInTimeOrder) {
    const RingCase c = GetParam();
    bench::setExternalTriggers(ref, true, false);
    if (c.dcOnChannel1) {
        bench::SourceSpec dc;
        dc.name = spec.sources.at(0).name;
        dc.kind = bench::SourceSpec::Kind::Dc;
        dc.dcVolts = 0.0;
        bench::setSource(dc);
    }
    samples = 4096;
    const uint32_t units = samples / 8;
    // With a pre-trigger of nearly the whole ring, a late trigger almost always leaves the start
    // behind the base (t - m negative); the trigger time is the bench's, so a few tries make it sure.
    ASSERT_EQ(nextarq_configTime(vi, 1, samples, c.dcOnChannel1 ? samples - 8 : 1024), 0);
    ASSERT_EQ(nextarq_configTrigger(vi, c.source, 1, -10.0), 0);
    int64_t t = 0, m = 0;
    for (int attempt = 0; attempt < 5; ++attempt) {
        ASSERT_EQ(nextarq_trigger(vi), 0);
        if (c.dcOnChannel1) std::this_thread::sleep_for(std::chrono::milliseconds(5 + attempt));
        waitReady();
        ASSERT_EQ(nexhost_m_out16(vi, 0x30, 0), 0);
        uint16_t hi = 0, lo = 0;
        ASSERT_EQ(nexhost_m_in16(vi, 0x32, &hi), 0);
        ASSERT_EQ(nexhost_m_in16(vi, 0x32, &lo), 0);
        t = int64_t{hi} << 16 | lo;
        ASSERT_EQ(nexhost_m_in16(vi, 0x2E, &hi), 0);
        ASSERT_EQ(nexhost_m_in16(vi, 0x2E, &lo), 0);
        m = static_cast<int32_t>(uint32_t{hi} << 16 | lo);
        if (!c.dcOnChannel1 || t - m < 0) break;
    }
    const uint32_t d = static_cast<uint32_t>((((t - m) % units) + units) % units);
    if (c.expectZero) {
        EXPECT_EQ(d, 0u);
    } else {
        EXPECT_NE(d, 0u);
    }
    if (c.dcOnChannel1) {
        EXPECT_LT(t - m, 0) << "the ring has wrapped";
    }

    startLog();
    const auto got = words(1, 1);
    const auto address = writesTo(log(), 0x1C);
    ASSERT_EQ(address.size(), d ? 4u : 2u);
    EXPECT_EQ(uint32_t{address[0]} << 16 | address[1], d);

    std::vector<uint32_t> raw(samples);
    ASSERT_TRUE(bench::readMemory(ref, 0, samples, raw.data()));
    std::rotate(raw.begin(), raw.begin() + 8 * d, raw.end());
    EXPECT_EQ(got, raw);
}

INSTANTIATE_TEST_SUITE_P(Data, Ring,
                         ::testing::Values(RingCase{"synchronisation input", 3, false, true},
                                           RingCase{"channel 1 crossing", 1, false, false},
                                           RingCase{"forced after the ring wrapped", 1, true, false}),
                         [](const auto &info) { return std::to_string(info.index); });

// A file that records the size of every write it is given (unbuffered, so one write per fwrite).
ssize_t recordWrite(void *cookie, const char *, size_t size) {
    static_cast<std::vector<size_t> *>(cookie)->push_back(size);
    return static_cast<ssize_t>(size);
}

TEST_F(Data, LongPacketIsReadInChunks) {
    acquire(1, 0x30000, 0);
    startLog();
    std::vector<uint32_t> w(samples);
    ASSERT_EQ(nextarq_readData(vi, 1, 1, w.data(), nullptr, NEXTARQ_FORMAT_WORDS), 0);
    EXPECT_EQ(writesTo(log(), 0x2A), (std::vector<uint16_t>{0x2FF})) << "one run of 0x300 blocks";
    std::vector<uint32_t> raw(samples);
    ASSERT_TRUE(bench::readMemory(ref, 0, samples, raw.data()));
    EXPECT_EQ(w, raw);

    // Each stream read is stored as one piece: in format 5 a piece is one file write.
    std::vector<size_t> pieces;
    cookie_io_functions_t io{};
    io.write = recordWrite;
    FILE *f = fopencookie(&pieces, "wb", io);
    ASSERT_NE(f, nullptr);
    std::setvbuf(f, nullptr, _IONBF, 0);
    ASSERT_EQ(nextarq_readData(vi, 1, 1, f, nullptr, NEXTARQ_FORMAT_WORDS_FILE), 0);
    std::fclose(f);
    EXPECT_EQ(pieces, (std::vector<size_t>{0x20000 * 4, 0x10000 * 4}));
}

TEST_F(Data, StallAndRefusedCapacityFail) {
    acquire(1, 1024, 0);
    bench::ModuleFaults stall;
    stall.readStreamStalls = true;
    faults(stall);
    std::vector<double> v(1024);
    EXPECT_EQ(nextarq_readData(vi, 1, 1, v.data(), nullptr, 0), NEXTARQ_ERROR_FIFO_READ);
    EXPECT_EQ(reg(0x2C), 0x8000);
    faults({});

    // No output stream room at all: the write is refused before a word moves.
    bench::ModuleFaults refuse;
    refuse.refuseAllStreamSizes = true;
    faults(refuse);
    ASSERT_LT(nexhost_m_alloc(vi, 1, 0x100000, 0), 0);
    std::vector<int16_t> codes(1024, 5);
    startLog();
    EXPECT_EQ(nextarq_writeData(vi, 1, 1, codes.data(), codes.data(), 2), NEXTARQ_ERROR_FIFO_WRITE);
    EXPECT_EQ(writesTo(log(), 0x2C).back(), 0x8000);
    EXPECT_EQ(test::message(NEXTARQ_ERROR_FIFO_WRITE), "Ошибка записи данных FIFO");
}

TEST_F(Data, WriteReadRoundTripOfSeveralChunks) {
    // 1.5M words: three write chunks, the last one short.
    samples = 0x180000;
    ASSERT_EQ(nextarq_configTime(vi, 1, samples, 0), 0);
    std::vector<int16_t> c1(samples, 100), c2(samples, -1);
    c1[samples - 1] = 7; // the end of the last chunk arrives too
    const auto t0 = std::chrono::steady_clock::now();
    ASSERT_EQ(nextarq_writeData(vi, 1, 1, c1.data(), c2.data(), NEXTARQ_FORMAT_CODES), 0);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    EXPECT_LT(seconds, 5.0) << "a module that takes the words promptly is not waited on";
    std::printf("write of %u words: %.3f s\n", samples, seconds);

    std::vector<uint32_t> raw(samples);
    ASSERT_TRUE(bench::readMemory(ref, 0, samples, raw.data()));
    EXPECT_EQ(raw[0], 0x0064FFFFu);
    EXPECT_EQ(raw[samples - 1], 0x0007FFFFu);
    std::vector<int16_t> r1(samples), r2(samples);
    ASSERT_EQ(nextarq_readData(vi, 1, 1, r1.data(), r2.data(), NEXTARQ_FORMAT_CODES), 0);
    EXPECT_EQ(r1, c1);
    EXPECT_EQ(r2, c2);
}

TEST_F(Data, WriteThroughAStreamSmallerThanAChunk) {
    // The stream takes 0x1000 words at a time: the chunk goes in piece by piece as the module drains it.
    ASSERT_EQ(nexhost_m_alloc(vi, 1, 0x1000, 0), 0);
    samples = 0x100000;
    ASSERT_EQ(nextarq_configTime(vi, 1, samples, 0), 0);
    std::vector<uint32_t> w(samples);
    for (uint32_t i = 0; i < samples; ++i) w[i] = i * 2654435761u;
    ASSERT_EQ(nextarq_writeData(vi, 1, 1, w.data(), nullptr, NEXTARQ_FORMAT_WORDS), 0);
    std::vector<uint32_t> raw(samples);
    ASSERT_TRUE(bench::readMemory(ref, 0, samples, raw.data()));
    EXPECT_EQ(raw, w);
}

TEST_F(Data, WriteToAModuleThatTakesNothingFailsAfterTheLimit) {
    bench::ModuleFaults f;
    f.writeStreamStalls = true;
    faults(f);
    ASSERT_EQ(nextarq_configTime(vi, 1, 1024, 0), 0);
    std::vector<int16_t> codes(1024, 3);
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(nextarq_writeData(vi, 1, 1, codes.data(), codes.data(), NEXTARQ_FORMAT_CODES), NEXTARQ_ERROR_FIFO_WRITE);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    EXPECT_GE(seconds, 30.0);
    EXPECT_LT(seconds, 40.0);
    EXPECT_EQ(reg(0x2C), 0x8000);
}

TEST_F(Data, WriteFromEveryFormat) {
    distinctCoefficients();
    samples = 1000 * 8;
    ASSERT_EQ(nextarq_configTime(vi, 2, samples, 0), 0);
    const size_t n = 2 * size_t{samples};
    std::vector<uint32_t> expected(n);
    std::vector<int16_t> c1(n), c2(n);
    std::vector<double> v1(n), v2(n), pairs(2 * n);
    for (size_t i = 0; i < n; ++i) {
        c1[i] = static_cast<int16_t>(i % 16000 - 8000);
        c2[i] = static_cast<int16_t>(3 * i % 9000 - 4500);
        expected[i] = uint32_t(uint16_t(c1[i])) << 16 | uint16_t(c2[i]);
        // Half a code above, so that truncation gives the code back.
        v1[i] = volts(c1[i], 1.25, 0.1) + (c1[i] >= 0 ? 0.5 : -0.5) * 1.25 * 2.06 / 16383.0;
        v2[i] = volts(c2[i], 0.75, -0.05) + (c2[i] >= 0 ? 0.5 : -0.5) * 0.75 * 2.06 / 16383.0;
        pairs[2 * i] = v1[i];
        pairs[2 * i + 1] = v2[i];
    }
    auto check = [&](int format) {
        std::vector<uint32_t> got(n);
        EXPECT_EQ(nextarq_readData(vi, 1, 2, got.data(), nullptr, NEXTARQ_FORMAT_WORDS), 0);
        EXPECT_EQ(got, expected) << "format " << format;
    };
    auto erase = [&] { ASSERT_EQ(nextarq_writeData(vi, 1, 2, nullptr, nullptr, 4), 0); };
    auto put = [&](FILE *f, const void *data, size_t bytes) {
        std::fseek(f, 0, SEEK_SET);
        ASSERT_EQ(ftruncate(fileno(f), 0), 0);
        std::fwrite(data, 1, bytes, f);
        std::fseek(f, 0, SEEK_SET);
    };
    auto f1 = scratchFile(), f2 = scratchFile();

    erase();
    ASSERT_EQ(nextarq_writeData(vi, 1, 2, v1.data(), v2.data(), 0), 0);
    check(0);
    erase();
    put(f1.get(), v1.data(), n * 8);
    put(f2.get(), v2.data(), n * 8);
    ASSERT_EQ(nextarq_writeData(vi, 1, 2, f1.get(), f2.get(), 1), 0);
    check(1);
    erase();
    ASSERT_EQ(nextarq_writeData(vi, 1, 2, c1.data(), c2.data(), 2), 0);
    check(2);
    erase();
    put(f1.get(), c1.data(), n * 2);
    put(f2.get(), c2.data(), n * 2);
    ASSERT_EQ(nextarq_writeData(vi, 1, 2, f1.get(), f2.get(), 3), 0);
    check(3);
    erase();
    ASSERT_EQ(nextarq_writeData(vi, 1, 2, expected.data(), nullptr, 4), 0);
    check(4);
    erase();
    put(f1.get(), expected.data(), n * 4);
    ASSERT_EQ(nextarq_writeData(vi, 1, 2, f1.get(), nullptr, 5), 0);
    check(5);
    erase();
    put(f1.get(), pairs.data(), n * 16);
    ASSERT_EQ(nextarq_writeData(vi, 1, 2, f1.get(), nullptr, 6), 0);
    check(6);

    // A file shorter than the packets is a read error, not garbage loaded as data.
    put(f1.get(), expected.data(), n * 4 - 4);
    EXPECT_EQ(nextarq_writeData(vi, 1, 2, f1.get(), nullptr, 5), NEXTARQ_ERROR_READ);
    // Volts out of the code range saturate; NaN gives code 0.
    std::vector<double> wild = {1e300, -1e300, std::numeric_limits<double>::quiet_NaN(), 0.1};
    wild.resize(n, 0.1);
    ASSERT_EQ(nextarq_writeData(vi, 1, 1, wild.data(), nullptr, 0), 0);
    std::vector<int16_t> back(samples);
    ASSERT_EQ(nextarq_readData(vi, 1, 1, back.data(), nullptr, 2), 0);
    EXPECT_EQ(back[0], 32767);
    EXPECT_EQ(back[1], -32768);
    EXPECT_EQ(back[2], 0);
    EXPECT_EQ(back[3], 0) << "volts equal to the offset give code 0";
}

} // namespace
