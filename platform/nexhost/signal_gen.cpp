#include "signal_gen.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>

namespace tarq::bench::model {
namespace {

constexpr uint32_t kNoise = 1u << 16;

uint64_t mix(uint64_t x) {
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

// The per-sample loops, written with vector types so that they vectorise on plain x86-64 and run
// twice as wide where AVX2 is present (chosen at load time).
typedef float f8 __attribute__((vector_size(32)));
typedef int32_t i8 __attribute__((vector_size(32)));

inline f8 load8(const float *p) {
    f8 v;
    std::memcpy(&v, p, sizeof v);
    return v;
}
inline void store8(void *p, const void *v) { std::memcpy(p, v, 32); }

// dst = dc + rms * noise
__attribute__((target_clones("avx2", "default"))) void fillNoise(float *dst, const float *noise, float dc,
                                                                float rms, uint32_t n) {
    uint32_t i = 0;
    for (; i + 8 <= n; i += 8) {
        f8 v = dc + rms * load8(noise + i);
        store8(dst + i, &v);
    }
    for (; i < n; ++i) dst[i] = dc + rms * noise[i];
}

// dst += as * cos + ac * sin: sin(a + b) = sin a cos b + cos a sin b, b the phase advance in the block.
__attribute__((target_clones("avx2", "default"))) void addTone(float *dst, const float *cs, const float *sn,
                                                              float as, float ac, uint32_t n) {
    uint32_t i = 0;
    for (; i + 8 <= n; i += 8) {
        f8 v = load8(dst + i) + as * load8(cs + i) + ac * load8(sn + i);
        store8(dst + i, &v);
    }
    for (; i < n; ++i) dst[i] += as * cs[i] + ac * sn[i];
}

// Quantises both channels to the signed 14-bit code range carried in 16 bits, clipping at full
// scale, and packs them into words. Adding and taking away 1.5 * 2^23 rounds to the nearest integer.
__attribute__((target_clones("avx2", "default"))) void quantisePack(const float *a, const float *b, uint32_t *out,
                                                                   uint32_t n) {
    const f8 lo = {-8192, -8192, -8192, -8192, -8192, -8192, -8192, -8192};
    const f8 hi = {8191, 8191, 8191, 8191, 8191, 8191, 8191, 8191};
    const f8 magic = {12582912.0f, 12582912.0f, 12582912.0f, 12582912.0f,
                      12582912.0f, 12582912.0f, 12582912.0f, 12582912.0f};
    uint32_t i = 0;
    for (; i + 8 <= n; i += 8) {
        f8 x = load8(a + i), y = load8(b + i);
        x = x < lo ? lo : x;
        x = x > hi ? hi : x;
        y = y < lo ? lo : y;
        y = y > hi ? hi : y;
        i8 cx = __builtin_convertvector((x + magic) - magic, i8);
        i8 cy = __builtin_convertvector((y + magic) - magic, i8);
        i8 w = (cx << 16) | (cy & 0xFFFF);
        store8(out + i, &w);
    }
    for (; i < n; ++i) {
        float x = std::clamp(a[i], -8192.0f, 8191.0f), y = std::clamp(b[i], -8192.0f, 8191.0f);
        uint32_t cx = static_cast<uint32_t>(static_cast<int32_t>((x + 12582912.0f) - 12582912.0f));
        uint32_t cy = static_cast<uint32_t>(static_cast<int32_t>((y + 12582912.0f) - 12582912.0f));
        out[i] = (cx << 16) | (cy & 0xFFFFu);
    }
}

// Unit-variance Gaussian values, made once per process: every acquisition reads them from its own
// pseudo-random offsets, so arming stays cheap.
const std::vector<float> &noiseTable() {
    static const std::vector<float> table = [] {
        std::vector<float> t(kNoise);
        uint64_t state = 0x5EED;
        for (uint32_t i = 0; i < kNoise; i += 2) {
            // Box-Muller from two uniforms in (0, 1].
            state = mix(state);
            double u1 = (static_cast<double>(state >> 11) + 1.0) / 9007199254740992.0;
            state = mix(state);
            double u2 = static_cast<double>(state >> 11) / 9007199254740992.0;
            double r = std::sqrt(-2.0 * std::log(u1));
            t[i] = static_cast<float>(r * std::cos(2.0 * std::numbers::pi * u2));
            t[i + 1] = static_cast<float>(r * std::sin(2.0 * std::numbers::pi * u2));
        }
        return t;
    }();
    return table;
}

} // namespace

void SignalGenerator::setup(const ChannelSignal &ch1, const ChannelSignal &ch2, uint8_t pattern, uint64_t seed) {
    pattern_ = pattern & 0x0F;
    seed_ = seed;
    const ChannelSignal *in[2] = {&ch1, &ch2};
    for (int c = 0; c < 2; ++c) {
        Channel &ch = channels_[c];
        ch.tones.clear();
        for (const Tone &t : in[c]->tones) {
            ToneTable table;
            table.cyclesPerSample = t.cyclesPerSample;
            table.phaseCycles = t.phaseCycles;
            table.amplitude = t.amplitudeCodes;
            table.cosTable.resize(kBlock);
            table.sinTable.resize(kBlock);
            for (uint32_t k = 0; k < kBlock; ++k) {
                // Reduce the phase in cycles before scaling, so long blocks stay exact.
                double cycles = std::fmod(t.cyclesPerSample * k, 1.0);
                table.cosTable[k] = static_cast<float>(std::cos(2.0 * std::numbers::pi * cycles));
                table.sinTable[k] = static_cast<float>(std::sin(2.0 * std::numbers::pi * cycles));
            }
            ch.tones.push_back(std::move(table));
        }
        ch.dc = static_cast<float>(in[c]->dcCodes);
        ch.noiseRms = static_cast<float>(in[c]->noiseRms);
    }
}

void SignalGenerator::generate(uint64_t n, uint32_t count, uint32_t *out) const {
    while (count > 0) {
        uint64_t start = n & ~static_cast<uint64_t>(kBlock - 1);
        uint32_t k0 = static_cast<uint32_t>(n - start);
        uint32_t len = std::min(count, kBlock - k0);
        block(start, k0, len, out);
        n += len;
        out += len;
        count -= len;
    }
}

void SignalGenerator::block(uint64_t blockStart, uint32_t k0, uint32_t len, uint32_t *out) const {
    if (pattern_ == static_cast<uint8_t>(Pattern::Ramp)) {
        for (uint32_t i = 0; i < len; ++i) {
            uint32_t r = static_cast<uint32_t>((blockStart + k0 + i) & 16383u) - 8192u;
            out[i] = (r << 16) | (r & 0xFFFFu);
        }
        return;
    }
    if (pattern_ == static_cast<uint8_t>(Pattern::MidScale)) {
        std::fill(out, out + len, 0u);
        return;
    }
    if (pattern_ == static_cast<uint8_t>(Pattern::FullSwing)) {
        for (uint32_t i = 0; i < len; ++i)
            out[i] = ((blockStart + k0 + i) & 1u) ? 0x1FFF1FFFu : 0xE000E000u;
        return;
    }
    alignas(64) float v[2][kBlock];
    for (int c = 0; c < 2; ++c) {
        const Channel &ch = channels_[c];
        float *dst = v[c] + k0;
        uint32_t offset = static_cast<uint32_t>(mix(seed_ ^ (blockStart * 2 + static_cast<uint64_t>(c))));
        for (uint32_t i = 0; i < len;) {
            // The noise table is read contiguously from a per-block offset, wrapping once at most.
            uint32_t at = (offset + k0 + i) & (kNoise - 1);
            uint32_t run = std::min(len - i, kNoise - at);
            fillNoise(dst + i, noiseTable().data() + at, ch.dc, ch.noiseRms, run);
            i += run;
        }
        for (const ToneTable &t : ch.tones) {
            long double cycles = static_cast<long double>(t.cyclesPerSample) * static_cast<long double>(blockStart) +
                                 static_cast<long double>(t.phaseCycles);
            double frac = static_cast<double>(cycles - std::floor(cycles));
            float as = static_cast<float>(t.amplitude * std::sin(2.0 * std::numbers::pi * frac));
            float ac = static_cast<float>(t.amplitude * std::cos(2.0 * std::numbers::pi * frac));
            addTone(dst, t.cosTable.data() + k0, t.sinTable.data() + k0, as, ac, len);
        }
    }
    quantisePack(v[0] + k0, v[1] + k0, out, len);
}

} // namespace tarq::bench::model
