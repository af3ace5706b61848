// Acquisition memory and the timing of acquisitions: packets are settled (armed, triggered,
// completed) lazily from the wall clock, and their words are computed on demand.
#include "model.h"

#include <algorithm>
#include <cstring>

namespace tarq::bench::model {
namespace {
// How far past the pre-trigger fill a channel trigger is looked for before the packet is taken to
// wait for a forced trigger (about 2 ms of signal).
constexpr uint64_t kTriggerScan = 1u << 20;
} // namespace

uint64_t Acquisition::regionWords() const {
    uint64_t region = static_cast<uint64_t>(pages) << 19;
    return std::max<uint64_t>(region, samples);
}

uint64_t Acquisition::elapsedSamples(Clock::time_point now) const {
    double seconds = std::chrono::duration<double>(now - start).count();
    if (seconds <= 0.0) return 0;
    double factor = timeFactor > 0.0 ? timeFactor : 1.0;
    double n = seconds / (kSamplePeriod * factor);
    return n >= 1.8e19 ? UINT64_MAX : static_cast<uint64_t>(n);
}

std::optional<uint64_t> Acquisition::findTrigger(uint64_t from, uint64_t limit) {
    // Sample index (from the start of the acquisition) of the first level crossing with the set slope.
    const bool channel1 = source == 1;
    constexpr uint32_t kChunk = 4096;
    uint32_t words[kChunk];
    uint64_t n = from == 0 ? 1 : from;
    generator.generate(origin + n - 1, 1, words);
    int prev = static_cast<int16_t>(channel1 ? words[0] >> 16 : words[0] & 0xFFFF);
    while (n < limit) {
        uint32_t len = static_cast<uint32_t>(std::min<uint64_t>(kChunk, limit - n));
        generator.generate(origin + n, len, words);
        for (uint32_t i = 0; i < len; ++i) {
            int cur = static_cast<int16_t>(channel1 ? words[i] >> 16 : words[i] & 0xFFFF);
            bool hit = slope ? (prev < level && cur >= level) : (prev > level && cur <= level);
            if (hit) return n + i;
            prev = cur;
        }
        n += len;
    }
    return std::nullopt;
}

bool Acquisition::settle(uint32_t p) {
    const uint64_t units = samples / 8;
    while (timings.size() <= p && timings.size() < packets) {
        PacketTiming t;
        t.arm = timings.empty() ? 0 : timings.back().end;
        if (stoppedAt && t.arm >= *stoppedAt) {
            // Never acquired: the ring holds whatever its order gives.
            t.end = t.arm + samples;
            timings.push_back(t);
            continue;
        }
        const uint64_t pre = std::min<uint64_t>(preUnits, units);
        const uint64_t earliest = t.arm + 8 * pre;
        std::optional<uint64_t> trigger;
        if (source == 0) {
            trigger = t.arm;
        } else if ((source == 3 && syncTrigger) || (source == 4 && carrierTrigger)) {
            trigger = earliest;
        } else if ((source == 1 || source == 2) && noTrigger != timings.size()) {
            trigger = findTrigger(earliest, earliest + kTriggerScan);
            if (!trigger) noTrigger = timings.size(); // scanned once: waits for a forced trigger
        }
        std::optional<uint64_t> forced = forcedAt ? forcedAt : stoppedAt;
        if (forced && (!trigger || *trigger > *forced)) {
            trigger = std::max(*forced, earliest);
            forcedAt.reset();
        }
        if (!trigger) return false;
        if (source != 0) {
            t.triggerUnit = (*trigger - t.arm) / 8;
            t.firstUnit = t.triggerUnit - pre;
        }
        t.end = t.arm + 8 * (t.firstUnit + units);
        timings.push_back(t);
    }
    return timings.size() > p;
}

bool Acquisition::running(Clock::time_point now) {
    if (!valid || stoppedAt) return false;
    const uint64_t e = elapsedSamples(now);
    for (;;) {
        if (!timings.empty() && timings.back().end > e) return true;
        if (timings.size() >= packets) return false;
        if (!settle(static_cast<uint32_t>(timings.size()))) return true;
    }
}

void Acquisition::force(Clock::time_point now) {
    if (!valid || stoppedAt) return;
    const uint64_t e = elapsedSamples(now);
    running(now); // settles every packet up to the one being acquired
    if (!timings.empty() && timings.back().end > e) {
        const PacketTiming &t = timings.back();
        // A packet already triggered keeps its trigger; one whose trigger is still ahead triggers now.
        if (source == 0 || t.arm + 8 * t.triggerUnit <= e) return;
        timings.pop_back();
    }
    if (timings.size() >= packets) return;
    forcedAt = e;
    settle(static_cast<uint32_t>(timings.size()));
}

void Acquisition::stop(Clock::time_point now) {
    if (!valid || stoppedAt) return;
    const uint64_t e = elapsedSamples(now);
    running(now); // settles everything that completed before the stop
    if (!timings.empty() && timings.back().end > e) {
        const PacketTiming &t = timings.back();
        if (source != 0 && t.arm + 8 * t.triggerUnit > e) timings.pop_back();
    }
    stoppedAt = e;
    forcedAt.reset();
}

const PacketTiming *Acquisition::timing(uint32_t p) {
    if (p >= packets) return nullptr;
    if (!settle(p)) return nullptr;
    return &timings[p];
}

void Acquisition::packetWords(uint32_t p, uint64_t offset, uint32_t count, uint32_t *out) {
    const uint64_t units = samples / 8;
    const PacketTiming *t = timing(p);
    if (!t || units == 0) {
        // Not acquired yet: what the memory held is unknown; the model shows the signal in order.
        uint64_t arm = timings.empty() ? 0 : timings.back().end;
        generator.generate(origin + arm + offset, count, out);
        return;
    }
    const uint64_t f = t->firstUnit % units; // ring position of the oldest unit
    while (count > 0) {
        uint64_t r = offset / 8;
        uint64_t unitTime = r >= f ? t->firstUnit + (r - f) : t->firstUnit + (units - f) + r;
        uint64_t runEnd = r < f ? 8 * f : samples; // time jumps back where the ring's oldest unit starts
        uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(count, runEnd - offset));
        generator.generate(origin + t->arm + 8 * unitTime + offset % 8, n, out);
        out += n;
        offset += n;
        count -= n;
    }
}

void Memory::read(Acquisition &acq, uint64_t address, uint32_t count, uint32_t *out, const ModuleFaults &faults) {
    uint32_t *const first = out;
    const uint64_t start = address;
    const uint32_t total = count;
    while (count > 0) {
        uint32_t n = count;
        if (acq.valid && acq.samples > 0) {
            const uint64_t region = acq.regionWords();
            const uint64_t q = address / region;
            const uint64_t o = address % region;
            if (q < acq.packets && o < acq.samples) {
                n = static_cast<uint32_t>(std::min<uint64_t>(count, acq.samples - o));
                acq.packetWords(static_cast<uint32_t>(q), o, n, out);
            } else {
                uint64_t gap = q < acq.packets ? region - o : count;
                n = static_cast<uint32_t>(std::min<uint64_t>(count, gap));
                std::memset(out, 0, n * sizeof(uint32_t));
            }
        } else {
            std::memset(out, 0, n * sizeof(uint32_t));
        }
        out += n;
        address += n;
        count -= n;
    }
    if (!pages_.empty()) {
        for (uint64_t a = start; a < start + total;) {
            const uint64_t page = a / kPageWords;
            const uint64_t pageEnd = std::min<uint64_t>((page + 1) * kPageWords, start + total);
            auto it = pages_.find(page);
            if (it != pages_.end()) {
                const Page &pg = *it->second;
                for (uint64_t w = a; w < pageEnd; ++w) {
                    uint32_t i = static_cast<uint32_t>(w % kPageWords);
                    if (pg.written[i / 64] >> (i % 64) & 1) first[w - start] = pg.words[i];
                }
            }
            a = pageEnd;
        }
    }
    if (faults.memoryStuckMask) {
        for (uint32_t i = 0; i < total; ++i)
            first[i] = faults.memoryStuckHigh ? first[i] | faults.memoryStuckMask : first[i] & ~faults.memoryStuckMask;
    }
}

void Memory::write(uint64_t address, uint32_t count, const uint32_t *in) {
    for (uint32_t i = 0; i < count;) {
        const uint64_t a = address + i;
        const uint64_t page = a / kPageWords;
        auto &slot = pages_[page];
        if (!slot) slot = std::make_unique<Page>();
        uint32_t at = static_cast<uint32_t>(a % kPageWords);
        uint32_t n = std::min<uint32_t>(count - i, kPageWords - at);
        std::memcpy(slot->words.data() + at, in + i, n * sizeof(uint32_t));
        for (uint32_t k = at; k < at + n; ++k) slot->written[k / 64] |= 1ull << (k % 64);
        i += n;
    }
}

void Memory::forget(uint64_t from, uint64_t to) {
    for (auto it = pages_.begin(); it != pages_.end();) {
        const uint64_t base = it->first * kPageWords;
        const uint64_t lo = std::max(base, from), hi = std::min(base + kPageWords, to);
        if (lo < hi) {
            Page &pg = *it->second;
            for (uint64_t w = lo; w < hi; ++w) {
                uint32_t i = static_cast<uint32_t>(w - base);
                pg.written[i / 64] &= ~(1ull << (i % 64));
            }
            if (std::all_of(pg.written.begin(), pg.written.end(), [](uint64_t m) { return m == 0; })) {
                it = pages_.erase(it);
                continue;
            }
        }
        ++it;
    }
}

} // namespace tarq::bench::model
