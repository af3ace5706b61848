// Procedural sample words of one acquisition: the word of any absolute sample index is a pure
// function of the acquisition's setup, so any packet can be read any number of times, in any
// pieces, without the bench ever holding the samples.
#pragma once

#include <cstdint>
#include <vector>

namespace tarq::bench::model {

struct Tone {
    double cyclesPerSample = 0.0; // frequency / 500 MHz
    double phaseCycles = 0.0;     // phase at sample 0
    double amplitudeCodes = 0.0;  // peak, in ADC codes
};

struct ChannelSignal {
    std::vector<Tone> tones;
    double dcCodes = 0.0;    // offset error plus DC inputs, in codes
    double noiseRms = 0.0;   // ADC noise, in codes
};

// ADC test patterns (low 4 bits of ADC register 0x550).
enum class Pattern : uint8_t {
    None = 0x00,
    Ramp = 0x0F,        // codes -8192 ... 8191 rising by one per sample, period 16384
    MidScale = 0x04,    // constant code 0
    FullSwing = 0x01,   // alternating -8192 and 8191
};

class SignalGenerator {
  public:
    static constexpr uint32_t kBlock = 4096; // phases are taken at block starts: results never
                                             // depend on how a read is split
    SignalGenerator() = default;
    void setup(const ChannelSignal &ch1, const ChannelSignal &ch2, uint8_t pattern, uint64_t seed);
    // Words (channel 1 high, channel 2 low) of samples n ... n + count - 1.
    void generate(uint64_t n, uint32_t count, uint32_t *out) const;

  private:
    struct ToneTable {
        std::vector<float> cosTable, sinTable;
        double cyclesPerSample = 0.0, phaseCycles = 0.0, amplitude = 0.0;
    };
    struct Channel {
        std::vector<ToneTable> tones;
        float dc = 0.0f;
        float noiseRms = 0.0f;
    };
    void block(uint64_t blockStart, uint32_t k0, uint32_t len, uint32_t *out) const;
    Channel channels_[2];
    uint8_t pattern_ = 0;
    uint64_t seed_ = 0;
};

} // namespace tarq::bench::model
