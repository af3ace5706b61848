// Arming, stopping, and the two transfers between the module memory and the caller: packets read
// out through carrier stream 0 and converted into arrays or files, and packets loaded back through
// stream 1.
#include "internal.h"
#include "sample_convert.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

namespace nextarq {
namespace {

constexpr uint32_t kReadChunk = 0x20000;
constexpr uint32_t kWriteChunk = 0x80000;
constexpr double kStallSeconds = 2.0;
constexpr double kWriteLimitSeconds = 30.0;
constexpr double kBusySeconds = 1.0;
constexpr uint32_t kPageUnits = (1u << 19) / 8;
constexpr uint32_t kWriteBlock = 64;
constexpr uint32_t kMaxBlocksPerCommit = 0x10000; // the block count register holds count - 1 in 16 bits

template <typename T> bool grow(std::vector<T> &v, size_t n) {
    if (v.size() >= n) return true;
    try {
        v.resize(n);
    } catch (const std::bad_alloc &) {
        return false;
    }
    return true;
}

// The caller's destinations (or sources) for one call: the array pointers advance over the call's
// chunks and packets; files grow (or are consumed) at their current position.
struct Endpoint {
    int format = 0;
    void *ch[2] = {nullptr, nullptr};
    ChannelScale scale[2];
    std::vector<double> volts;   // file formats: one chunk converted before it is written
    std::vector<int16_t> codes;
    std::vector<uint32_t> words;
};

Endpoint makeEndpoint(const Record &r, int16_t format, void *p0, void *p1) {
    Endpoint e;
    e.format = format;
    e.ch[0] = p0;
    // Formats 4 to 6 carry both channels through the first pointer.
    e.ch[1] = format <= NEXTARQ_FORMAT_CODES_FILE ? p1 : nullptr;
    const int band = std::clamp<int>(r.band, 0, NEXTARQ_BANDS - 1);
    for (int c = 0; c < 2; ++c) e.scale[c] = {r.coefficients[c].gain[band], r.coefficients[c].offset[band]};
    return e;
}

bool writeAll(FILE *f, const void *data, size_t size, size_t count) {
    return std::fwrite(data, size, count, f) == count && !std::ferror(f);
}

int32_t storeWords(void *context, const uint32_t *words, uint32_t n) {
    Endpoint &e = *static_cast<Endpoint *>(context);
    auto *f0 = static_cast<FILE *>(e.ch[0]);
    auto *f1 = static_cast<FILE *>(e.ch[1]);
    switch (e.format) {
    case NEXTARQ_FORMAT_VOLTS: {
        auto *a = static_cast<double *>(e.ch[0]);
        auto *b = static_cast<double *>(e.ch[1]);
        wordsToVolts(words, n, a, b, e.scale[0], e.scale[1]);
        if (a) e.ch[0] = a + n;
        if (b) e.ch[1] = b + n;
        return 0;
    }
    case NEXTARQ_FORMAT_CODES: {
        auto *a = static_cast<int16_t *>(e.ch[0]);
        auto *b = static_cast<int16_t *>(e.ch[1]);
        wordsToCodes(words, n, a, b);
        if (a) e.ch[0] = a + n;
        if (b) e.ch[1] = b + n;
        return 0;
    }
    case NEXTARQ_FORMAT_WORDS:
        if (auto *a = static_cast<uint32_t *>(e.ch[0])) {
            std::memcpy(a, words, size_t{n} * sizeof(uint32_t));
            e.ch[0] = a + n;
        }
        return 0;
    case NEXTARQ_FORMAT_VOLTS_FILE: {
        if (!grow(e.volts, size_t{n} * 2)) return NEXTARQ_ERROR_ALLOC;
        double *a = f0 ? e.volts.data() : nullptr;
        double *b = f1 ? e.volts.data() + n : nullptr;
        wordsToVolts(words, n, a, b, e.scale[0], e.scale[1]);
        if (a && !writeAll(f0, a, sizeof(double), n)) return NEXTARQ_ERROR_FILE_WRITE;
        if (b && !writeAll(f1, b, sizeof(double), n)) return NEXTARQ_ERROR_FILE_WRITE;
        return 0;
    }
    case NEXTARQ_FORMAT_CODES_FILE: {
        if (!grow(e.codes, size_t{n} * 2)) return NEXTARQ_ERROR_ALLOC;
        int16_t *a = f0 ? e.codes.data() : nullptr;
        int16_t *b = f1 ? e.codes.data() + n : nullptr;
        wordsToCodes(words, n, a, b);
        if (a && !writeAll(f0, a, sizeof(int16_t), n)) return NEXTARQ_ERROR_FILE_WRITE;
        if (b && !writeAll(f1, b, sizeof(int16_t), n)) return NEXTARQ_ERROR_FILE_WRITE;
        return 0;
    }
    case NEXTARQ_FORMAT_WORDS_FILE:
        if (f0 && !writeAll(f0, words, sizeof(uint32_t), n)) return NEXTARQ_ERROR_FILE_WRITE;
        return 0;
    case NEXTARQ_FORMAT_VOLT_PAIRS_FILE:
        if (!f0) return 0;
        if (!grow(e.volts, size_t{n} * 2)) return NEXTARQ_ERROR_ALLOC;
        wordsToVoltPairs(words, n, e.volts.data(), e.scale[0], e.scale[1]);
        if (!writeAll(f0, e.volts.data(), sizeof(double), size_t{n} * 2)) return NEXTARQ_ERROR_FILE_WRITE;
        return 0;
    default:
        return NEXTARQ_ERROR_PARAMETER4;
    }
}

bool readAll(FILE *f, void *data, size_t size, size_t count) {
    return std::fread(data, size, count, f) == count;
}

// Fills `words` with the next n sample words from the sources; a missing channel gives code 0.
int32_t loadWords(Endpoint &e, uint32_t *words, uint32_t n) {
    auto *f0 = static_cast<FILE *>(e.ch[0]);
    auto *f1 = static_cast<FILE *>(e.ch[1]);
    switch (e.format) {
    case NEXTARQ_FORMAT_VOLTS: {
        auto *a = static_cast<const double *>(e.ch[0]);
        auto *b = static_cast<const double *>(e.ch[1]);
        voltsToWords(a, b, n, words, e.scale[0], e.scale[1]);
        if (a) e.ch[0] = const_cast<double *>(a + n);
        if (b) e.ch[1] = const_cast<double *>(b + n);
        return 0;
    }
    case NEXTARQ_FORMAT_CODES: {
        auto *a = static_cast<const int16_t *>(e.ch[0]);
        auto *b = static_cast<const int16_t *>(e.ch[1]);
        codesToWords(a, b, n, words);
        if (a) e.ch[0] = const_cast<int16_t *>(a + n);
        if (b) e.ch[1] = const_cast<int16_t *>(b + n);
        return 0;
    }
    case NEXTARQ_FORMAT_WORDS:
        if (auto *a = static_cast<const uint32_t *>(e.ch[0])) {
            std::memcpy(words, a, size_t{n} * sizeof(uint32_t));
            e.ch[0] = const_cast<uint32_t *>(a + n);
        } else {
            std::memset(words, 0, size_t{n} * sizeof(uint32_t));
        }
        return 0;
    case NEXTARQ_FORMAT_VOLTS_FILE: {
        if (!grow(e.volts, size_t{n} * 2)) return NEXTARQ_ERROR_ALLOC;
        double *a = f0 ? e.volts.data() : nullptr;
        double *b = f1 ? e.volts.data() + n : nullptr;
        if (a && !readAll(f0, a, sizeof(double), n)) return NEXTARQ_ERROR_READ;
        if (b && !readAll(f1, b, sizeof(double), n)) return NEXTARQ_ERROR_READ;
        voltsToWords(a, b, n, words, e.scale[0], e.scale[1]);
        return 0;
    }
    case NEXTARQ_FORMAT_CODES_FILE: {
        if (!grow(e.codes, size_t{n} * 2)) return NEXTARQ_ERROR_ALLOC;
        int16_t *a = f0 ? e.codes.data() : nullptr;
        int16_t *b = f1 ? e.codes.data() + n : nullptr;
        if (a && !readAll(f0, a, sizeof(int16_t), n)) return NEXTARQ_ERROR_READ;
        if (b && !readAll(f1, b, sizeof(int16_t), n)) return NEXTARQ_ERROR_READ;
        codesToWords(a, b, n, words);
        return 0;
    }
    case NEXTARQ_FORMAT_WORDS_FILE:
        if (!f0) {
            std::memset(words, 0, size_t{n} * sizeof(uint32_t));
            return 0;
        }
        return readAll(f0, words, sizeof(uint32_t), n) ? 0 : NEXTARQ_ERROR_READ;
    case NEXTARQ_FORMAT_VOLT_PAIRS_FILE:
        if (!f0) {
            voltsToWords(nullptr, nullptr, n, words, e.scale[0], e.scale[1]);
            return 0;
        }
        if (!grow(e.volts, size_t{n} * 2)) return NEXTARQ_ERROR_ALLOC;
        if (!readAll(f0, e.volts.data(), sizeof(double), size_t{n} * 2)) return NEXTARQ_ERROR_READ;
        voltPairsToWords(e.volts.data(), n, words, e.scale[0], e.scale[1]);
        return 0;
    default:
        return NEXTARQ_ERROR_PARAMETER4;
    }
}

bool transferBusy(uint32_t vi, int32_t &status) {
    uint16_t control = 0;
    status = rd(vi, kRegTransfer, control);
    return status >= 0 && (control & 0x10);
}

// Waits (at most a second) for the module to finish the block transfer it is running.
int32_t waitTransferIdle(uint32_t vi) {
    Stopwatch clock;
    int32_t status = 0;
    while (transferBusy(vi, status)) {
        if (clock.seconds() >= kBusySeconds) return 0;
        pause(0.0002);
    }
    return status < 0 ? status : 0;
}

int32_t commitBlocks(uint32_t vi, uint32_t blocks) {
    int32_t status = waitTransferIdle(vi);
    if (status < 0) return status;
    status = wr(vi, kRegBlocks, static_cast<uint16_t>(blocks - 1));
    if (status < 0) return status;
    return wr(vi, kRegTransfer, 0x8002);
}

// A transfer buffer of chunk + 10 words; false when memory is short.
bool allocateBuffer(std::vector<uint32_t> &buffer, uint32_t chunk) {
    try {
        buffer.resize(static_cast<size_t>(chunk) + 10);
        return true;
    } catch (const std::bad_alloc &) {
        return false;
    }
}

// Writes one run of `words` sample words from the sources to the current memory address.
int32_t writeRun(uint32_t vi, uint32_t words, Endpoint &source) {
    if (words == 0) return 0;
    const uint32_t chunk = std::min(words, kWriteChunk);
    std::vector<uint32_t> buffer;
    if (!allocateBuffer(buffer, chunk)) return NEXTARQ_ERROR_ALLOC;
    auto run = [&]() -> int32_t {
        int32_t st = wr(vi, kRegTransfer, 8);
        if (st < 0) return st;
        nexhost_m_stop(vi, 1);
        uint32_t capacity = 0;
        st = nexhost_m_howmuch_data_q(vi, 1, &capacity);
        if (st < 0) return st;
        if (capacity <= 0x80) return NEXTARQ_ERROR_FIFO_WRITE;
        bool started = false;
        uint32_t queued = 0; // words in the stream not yet committed (less than a block between chunks)
        // The limit counts from the last word the stream took, so a long transfer that keeps moving is
        // never cut short, and a module that stops taking words fails instead of "succeeding".
        Stopwatch sinceProgress;
        uint32_t remaining = words;
        while (remaining > 0) {
            const uint32_t n = std::min(chunk, remaining);
            st = loadWords(source, buffer.data(), n);
            if (st < 0) return st;
            uint32_t offset = 0;
            while (offset < n) {
                uint32_t put = 0;
                st = nexhost_m_write_packet(vi, n - offset, buffer.data() + offset, &put);
                if (st < 0) return st;
                if (!started) {
                    st = nexhost_m_start(vi, 1);
                    if (st < 0) return st;
                    started = true;
                }
                offset += put;
                queued += put;
                // Commit every whole block the stream holds, so that a stream smaller than a chunk
                // drains while the chunk is still being passed in.
                while (queued >= kWriteBlock) {
                    const uint32_t blocks = std::min(queued / kWriteBlock, kMaxBlocksPerCommit);
                    st = commitBlocks(vi, blocks);
                    if (st < 0) return st;
                    queued -= blocks * kWriteBlock;
                }
                if (put > 0) {
                    sinceProgress.restart();
                } else {
                    if (sinceProgress.seconds() > kWriteLimitSeconds) return NEXTARQ_ERROR_FIFO_WRITE;
                    pause(0.0005);
                }
            }
            remaining -= n;
        }
        // Everything is in the stream: wait until the module has taken the committed words (the
        // final partial block is stored by the end command).
        sinceProgress.restart();
        uint32_t lastFree = 0;
        for (;;) {
            uint32_t free = 0;
            st = nexhost_m_howmuch_data_q(vi, 1, &free);
            if (st < 0) return st;
            if (capacity - std::min(free, capacity) <= queued) break;
            if (free != lastFree) sinceProgress.restart();
            lastFree = free;
            if (sinceProgress.seconds() > kWriteLimitSeconds) return NEXTARQ_ERROR_FIFO_WRITE;
            pause(0.0005);
        }
        return waitTransferIdle(vi);
    };
    const int32_t status = run();
    wr(vi, kRegTransfer, 0x8000);
    nexhost_m_stop(vi, 1);
    return status;
}

// Reads one run of `words` sample words from the current memory address and hands each piece to
// `sink` (may be null: the words are discarded).
using WordSink = int32_t (*)(void *context, const uint32_t *words, uint32_t count);

int32_t readRun(uint32_t vi, uint32_t words, WordSink sink, void *context) {
    if (words == 0) return 0;
    const uint32_t chunk = std::min(words, kReadChunk);
    std::vector<uint32_t> buffer;
    if (!allocateBuffer(buffer, chunk)) return NEXTARQ_ERROR_ALLOC;
    auto run = [&]() -> int32_t {
        nexhost_m_stop(vi, 0);
        int32_t st = nexhost_m_start(vi, 0);
        if (st < 0) return st;
        st = wr(vi, kRegTransfer, 5);
        if (st < 0) return st;
        st = wr(vi, kRegBlocks, static_cast<uint16_t>((words >> 8) - 1));
        if (st < 0) return st;
        uint32_t got = 0;
        nexhost_m_read_packet(vi, chunk, buffer.data(), &got); // primes the stream; nothing is due yet
        uint16_t control = 0;
        st = rd(vi, kRegTransfer, control);
        if (st < 0) return st;
        if (!(control & 0x10)) {
            st = wr(vi, kRegTransfer, 0x8001);
            if (st < 0) return st;
        }
        uint32_t remaining = words;
        // A stall is two seconds without a word, however many empty reads that takes.
        Stopwatch sinceData;
        while (remaining > 0) {
            got = 0;
            const uint32_t request = std::min(chunk, remaining);
            if (nexhost_m_read_packet(vi, request, buffer.data(), &got) != 0) return NEXTARQ_ERROR_FIFO_READ;
            if (got == 0) {
                if (sinceData.seconds() > kStallSeconds) return NEXTARQ_ERROR_FIFO_READ;
                pause(0.01);
                continue;
            }
            sinceData.restart();
            // A carrier that reports more than was asked for has filled no more than the buffer.
            const uint32_t taken = std::min(got, request);
            remaining -= taken;
            if (remaining > 0) {
                st = rd(vi, kRegTransfer, control);
                if (st < 0) return st;
                if (!(control & 0x10)) {
                    st = wr(vi, kRegTransfer, 0x8001);
                    if (st < 0) return st;
                }
            }
            if (sink) {
                st = sink(context, buffer.data(), taken);
                if (st < 0) return st;
            }
        }
        return 0;
    };
    const int32_t status = run();
    // Every exit ends the transfer on the module and stops the stream.
    wr(vi, kRegTransfer, 0x8000);
    if (nexhost_m_async_stop(vi, 0) < 0) nexhost_m_stop(vi, 0);
    return status;
}

} // namespace
} // namespace nextarq

using namespace nextarq;

namespace {

// Packet geometry: pages per packet (register 0x18) and samples per packet (register 0x1A).
int32_t packetGeometry(uint32_t vi, uint16_t &pages, uint32_t &samples) {
    int32_t status = rd(vi, kRegPages, pages);
    if (status < 0) return status;
    uint32_t length = 0;
    status = rd32(vi, kRegLength, length);
    if (status < 0) return status;
    samples = (length + 1u) * 8u;
    return status;
}

uint32_t packetBase(int32_t p, uint16_t pages) { return static_cast<uint32_t>(p - 1) * pages * kPageUnits; }

// What stdio still buffers of the call's file output is written out before the call returns, so a
// full disk is reported by the call that filled it.
int32_t flushFiles(const Endpoint &e) {
    if (e.format != NEXTARQ_FORMAT_VOLTS_FILE && e.format != NEXTARQ_FORMAT_CODES_FILE &&
        e.format != NEXTARQ_FORMAT_WORDS_FILE && e.format != NEXTARQ_FORMAT_VOLT_PAIRS_FILE)
        return 0;
    for (void *f : e.ch)
        if (f && std::fflush(static_cast<FILE *>(f)) != 0) return NEXTARQ_ERROR_FILE_WRITE;
    return 0;
}

} // namespace

extern "C" {

NEXTARQ_API int32_t nextarq_trigger(uint32_t vi) {
    Record *r = nullptr;
    int32_t status = fetchRecord(vi, r);
    if (status < 0) return status;
    return wr(vi, kRegControl, kControlStart);
}

NEXTARQ_API int32_t nextarq_stop(uint32_t vi) { return wr(vi, kRegControl, kControlStop); }

NEXTARQ_API int32_t nextarq_readData(uint32_t vi, int16_t firstPacket, int16_t packetCount, void *dst0, void *dst1,
                                     int16_t format) {
    Record *r = nullptr;
    int32_t status = fetchRecord(vi, r);
    if (status < 0) return status;
    uint16_t count = 0;
    status = rd(vi, kRegPackets, count);
    if (status < 0) return status;
    const int32_t packets = static_cast<int32_t>(count) + 1;
    if (firstPacket < 1 || firstPacket > packets) return NEXTARQ_ERROR_PARAMETER2;
    if (packetCount < 1 || firstPacket + packetCount - 1 > packets) return NEXTARQ_ERROR_PARAMETER3;
    if (format < 0 || format > 6) return NEXTARQ_ERROR_PARAMETER4;

    Endpoint destination = makeEndpoint(*r, format, dst0, dst1);
    const bool anyDestination = destination.ch[0] || destination.ch[1];
    const WordSink sink = anyDestination ? storeWords : nullptr;

    nextarq_stop(vi);
    uint16_t trigger = 0;
    status = rd(vi, kRegTrigger, trigger);
    if (status < 0) return status;
    status = rd(vi, kRegTrigger, trigger);
    if (status < 0) return status;
    const bool hardwareTrigger = (trigger & 0x1C) != 0;
    uint16_t pages = 0;
    uint32_t samples = 0;
    status = packetGeometry(vi, pages, samples);
    if (status < 0) return status;
    const uint32_t units = samples / 8;

    for (int32_t p = firstPacket; p < firstPacket + packetCount; ++p) {
        const uint32_t base = packetBase(p, pages);
        status = wr(vi, kRegPacketSelect, static_cast<uint16_t>(p - 1));
        if (status < 0) return status;
        if (!hardwareTrigger) {
            status = wr32(vi, kRegAddress, base);
            if (status >= 0) status = readRun(vi, samples, sink, &destination);
            if (status < 0) return status;
            continue;
        }
        // The packet is a ring the module kept filling until the trigger: read it from m units before
        // the trigger position to the end of the ring, then from the ring's start.
        uint32_t t = 0, m = 0;
        status = rd32(vi, kRegTriggerPosition, t);
        if (status < 0) return status;
        status = rd32(vi, kRegPretrigger, m);
        if (status < 0) return status;
        int64_t d = static_cast<int64_t>(t) - base - static_cast<int64_t>(static_cast<int32_t>(m));
        // Once the ring has wrapped, the start lies behind the base: take it modulo the ring.
        d = units ? ((d % units) + units) % units : 0;
        status = wr32(vi, kRegAddress, base + static_cast<uint32_t>(d));
        if (status >= 0) status = readRun(vi, samples - 8u * static_cast<uint32_t>(d), sink, &destination);
        if (status < 0) return status;
        if (d != 0) {
            status = wr32(vi, kRegAddress, base);
            if (status >= 0) status = readRun(vi, 8u * static_cast<uint32_t>(d), sink, &destination);
            if (status < 0) return status;
        }
    }
    const int32_t flushed = flushFiles(destination);
    return flushed < 0 ? flushed : status;
}

NEXTARQ_API int32_t nextarq_writeData(uint32_t vi, int16_t firstPacket, int16_t packetCount, void *src0, void *src1,
                                      int16_t format) {
    Record *r = nullptr;
    int32_t status = fetchRecord(vi, r);
    if (status < 0) return status;
    if (firstPacket < 1 || firstPacket > 8192) return NEXTARQ_ERROR_PARAMETER2;
    if (packetCount < 1 || packetCount > 8192) return NEXTARQ_ERROR_PARAMETER3;
    if (format < 0 || format > 6) return NEXTARQ_ERROR_PARAMETER4;

    Endpoint source = makeEndpoint(*r, format, src0, src1);
    nextarq_stop(vi);
    uint16_t pages = 0;
    uint32_t samples = 0;
    status = packetGeometry(vi, pages, samples);
    if (status < 0) return status;
    for (int32_t p = firstPacket; p < firstPacket + packetCount; ++p) {
        status = wr32(vi, kRegAddress, packetBase(p, pages));
        if (status >= 0) status = writeRun(vi, samples, source);
        if (status < 0) return status;
    }
    return status;
}

} // extern "C"
