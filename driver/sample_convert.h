// Conversions between the module's 32-bit sample words (channel 1 in the high half, channel 2 in the
// low half, signed codes) and the caller's volts or codes. These are the transfers' inner loops, so
// they are vectorised and pick the widest vector unit of the machine at load time.
#pragma once

#include <cstddef>
#include <cstdint>

namespace nextarq {

// A channel's coefficients for the band in use: volts = offset + code * gain * 2.06 / 16383.
struct ChannelScale {
    double gain = 1.0;
    double offset = 0.0;
    double volts(double code) const { return offset + code * (gain * 2.06 / 16383.0); }
};

// Either destination may be null (that channel is skipped).
void wordsToVolts(const uint32_t *words, size_t n, double *ch1, double *ch2, ChannelScale s1, ChannelScale s2);
void wordsToCodes(const uint32_t *words, size_t n, int16_t *ch1, int16_t *ch2);
// Channel 1 and channel 2 volts interleaved as pairs.
void wordsToVoltPairs(const uint32_t *words, size_t n, double *pairs, ChannelScale s1, ChannelScale s2);

// The write direction: code = (volts - offset) * 16383 / (2.06 * gain) truncated towards zero and
// saturated to the 16-bit code range (NaN gives 0). A null source gives code 0 for that channel.
int16_t voltsToCode(double volts, ChannelScale s);
void voltsToWords(const double *ch1, const double *ch2, size_t n, uint32_t *words, ChannelScale s1, ChannelScale s2);
void voltPairsToWords(const double *pairs, size_t n, uint32_t *words, ChannelScale s1, ChannelScale s2);
void codesToWords(const int16_t *ch1, const int16_t *ch2, size_t n, uint32_t *words);

} // namespace nextarq
