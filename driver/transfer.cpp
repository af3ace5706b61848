// Arming, stopping and reading packets out of the module memory through carrier stream 0.
// The conversions into caller destinations (formats 0 to 6) and the write path are still to come:
// until then a call that names a destination or source returns NEXTARQ_WARN_NOT_SUPPORTED.
#include "internal.h"

#include <algorithm>
#include <new>
#include <vector>

namespace nextarq {
namespace {

constexpr uint32_t kReadChunk = 0x20000;
constexpr double kStallSeconds = 2.0;
constexpr uint32_t kPageUnits = (1u << 19) / 8;

} // namespace

int32_t readRun(uint32_t vi, uint32_t words, WordSink sink, void *context) {
    if (words == 0) return 0;
    const uint32_t chunk = std::min(words, kReadChunk);
    std::vector<uint32_t> buffer;
    try {
        buffer.resize(static_cast<size_t>(chunk) + 10);
    } catch (const std::bad_alloc &) {
        return NEXTARQ_ERROR_ALLOC;
    }
    int32_t status = 0;
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
            if (nexhost_m_read_packet(vi, std::min(chunk, remaining), buffer.data(), &got) != 0)
                return NEXTARQ_ERROR_FIFO_READ;
            if (got == 0) {
                if (sinceData.seconds() > kStallSeconds) return NEXTARQ_ERROR_FIFO_READ;
                pause(0.01);
                continue;
            }
            sinceData.restart();
            const uint32_t taken = std::min(got, remaining);
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
    status = run();
    // Every exit ends the transfer on the module and stops the stream.
    wr(vi, kRegTransfer, 0x8000);
    if (nexhost_m_async_stop(vi, 0) < 0) nexhost_m_stop(vi, 0);
    return status;
}

} // namespace nextarq

using namespace nextarq;

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
    if (dst0 || (format <= NEXTARQ_FORMAT_CODES_FILE && dst1)) return NEXTARQ_WARN_NOT_SUPPORTED;

    nextarq_stop(vi);
    uint16_t trigger = 0;
    status = rd(vi, kRegTrigger, trigger);
    if (status < 0) return status;
    status = rd(vi, kRegTrigger, trigger);
    if (status < 0) return status;
    const bool hardwareTrigger = (trigger & 0x1C) != 0;
    uint16_t pages = 0;
    status = rd(vi, kRegPages, pages);
    if (status < 0) return status;
    uint32_t length = 0;
    status = rd32(vi, kRegLength, length);
    if (status < 0) return status;
    const uint32_t samples = (length + 1u) * 8u;
    const uint32_t units = samples / 8;

    for (int32_t p = firstPacket; p < firstPacket + packetCount; ++p) {
        const uint32_t base = static_cast<uint32_t>(p - 1) * pages * kPageUnits;
        status = wr(vi, kRegPacketSelect, static_cast<uint16_t>(p - 1));
        if (status < 0) return status;
        if (!hardwareTrigger) {
            status = wr32(vi, kRegAddress, base);
            if (status >= 0) status = readRun(vi, samples, nullptr, nullptr);
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
        if (status >= 0) status = readRun(vi, samples - 8u * static_cast<uint32_t>(d), nullptr, nullptr);
        if (status < 0) return status;
        if (d != 0) {
            status = wr32(vi, kRegAddress, base);
            if (status >= 0) status = readRun(vi, 8u * static_cast<uint32_t>(d), nullptr, nullptr);
            if (status < 0) return status;
        }
    }
    return status;
}

NEXTARQ_API int32_t nextarq_writeData(uint32_t vi, int16_t firstPacket, int16_t packetCount, void *, void *,
                                      int16_t format) {
    Record *r = nullptr;
    int32_t status = fetchRecord(vi, r);
    if (status < 0) return status;
    if (firstPacket < 1 || firstPacket > 8192) return NEXTARQ_ERROR_PARAMETER2;
    if (packetCount < 1 || packetCount > 8192) return NEXTARQ_ERROR_PARAMETER3;
    if (format < 0 || format > 6) return NEXTARQ_ERROR_PARAMETER4;
    return NEXTARQ_WARN_NOT_SUPPORTED;
}

} // extern "C"
