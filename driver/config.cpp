// Acquisition configuration: band, reference source, test pattern, time base, trigger and gain.
#include "internal.h"

#include <cfloat>
#include <cmath>

using namespace nextarq;

namespace {

constexpr uint16_t kAdcBuffer = 0x018;      // input buffer: 0x20 lower bands, 0x70 upper bands
constexpr uint16_t kAdcTestPattern = 0x550;
constexpr uint8_t kTestPatterns[4] = {0x00, 0x0F, 0x04, 0x01};
constexpr uint32_t kPageSamples = 1u << 19;

} // namespace

extern "C" {

NEXTARQ_API int32_t nextarq_configSpanF(uint32_t vi, int16_t band) {
    Record *r = nullptr;
    int32_t status = fetchRecord(vi, r);
    if (status < 0) return status;
    if (band < 0 || band > 4) return NEXTARQ_ERROR_PARAMETER2;
    r->band = band;
    return adcWriteUnchecked(vi, kAdcBuffer, 0x20);
}

NEXTARQ_API int32_t nextarq_configSpanF_q(uint32_t vi, int16_t *band) {
    Record *r = nullptr;
    int32_t status = fetchRecord(vi, r);
    if (status < 0) return status;
    if (!band) return NEXTARQ_ERROR_PARAMETER2;
    uint8_t value = 0;
    status = adcReadUnchecked(vi, kAdcBuffer, value);
    if (status < 0) return status;
    // Somebody may have switched the ADC buffer behind the driver's back (a raw ADC write): the band
    // index then moves to the matching half of the coefficient table.
    const int16_t upper = value == 0x70 ? 1 : 0;
    if (upper != r->band / 5) r->band = static_cast<int16_t>(5 * upper);
    *band = r->band;
    return status;
}

NEXTARQ_API int32_t nextarq_configBaseF(uint32_t vi, int16_t referenceSource) {
    if (referenceSource < 0 || referenceSource > 2) return NEXTARQ_ERROR_PARAMETER2;
    uint16_t value = 0;
    int32_t status = rd(vi, kRegTrigger, value);
    if (status < 0) return status;
    value &= static_cast<uint16_t>(~0xC0);
    if (referenceSource == 1) value |= 0x40;
    if (referenceSource == 2) value |= 0x80;
    return wr(vi, kRegTrigger, value);
}

NEXTARQ_API int32_t nextarq_configBaseF_q(uint32_t vi, int16_t *referenceSource) {
    Record *r = nullptr;
    int32_t status = fetchRecord(vi, r);
    if (status < 0) return status;
    if (!referenceSource) return NEXTARQ_ERROR_PARAMETER2;
    uint16_t value = 0;
    status = rd(vi, kRegTrigger, value);
    if (status < 0) return status;
    *referenceSource = static_cast<int16_t>(2 * ((value >> 7) & 1) + ((value >> 6) & 1));
    return status;
}

NEXTARQ_API int32_t nextarq_configMode(uint32_t vi, int16_t mode) {
    Record *r = nullptr;
    int32_t status = fetchRecord(vi, r);
    if (status < 0) return status;
    if (mode < 0 || mode > 3) return NEXTARQ_ERROR_PARAMETER2;
    return adcWriteUnchecked(vi, kAdcTestPattern, kTestPatterns[mode]);
}

NEXTARQ_API int32_t nextarq_configMode_q(uint32_t vi, int16_t *mode) {
    Record *r = nullptr;
    int32_t status = fetchRecord(vi, r);
    if (status < 0) return status;
    if (!mode) return NEXTARQ_ERROR_PARAMETER2;
    uint8_t value = 0;
    status = adcReadUnchecked(vi, kAdcTestPattern, value);
    if (status < 0) return status;
    value &= 0x0F;
    *mode = 0; // a pattern the driver does not set reads as normal conversion
    for (int16_t i = 0; i < 4; ++i)
        if (kTestPatterns[i] == value) *mode = i;
    return status;
}

NEXTARQ_API int32_t nextarq_configTime(uint32_t vi, uint16_t packets, uint32_t samples, uint32_t presamples) {
    Record *r = nullptr;
    int32_t status = fetchRecord(vi, r);
    if (status < 0) return status;
    if (packets < 1 || packets > 8192) return NEXTARQ_ERROR_PARAMETER2;
    if (samples < 8 || samples > 0x7FFFFFFFu) return NEXTARQ_ERROR_PARAMETER3;
    if (static_cast<uint64_t>(packets) * samples > 0x7FFFFFFFu) return NEXTARQ_ERROR_PARAMETER3;
    status = wr(vi, kRegPackets, static_cast<uint16_t>(packets - 1));
    if (status < 0) return status;
    status = wr32(vi, kRegLength, samples / 8 - 1);
    if (status < 0) return status;
    // Fewer than 8 presamples wrap to 0xFFFFFFFF, which the module takes as none.
    status = wr32(vi, kRegPretrigger, presamples / 8 - 1u);
    if (status < 0) return status;
    return wr(vi, kRegPages, static_cast<uint16_t>((samples + kPageSamples - 1) / kPageSamples));
}

NEXTARQ_API int32_t nextarq_configTime_q(uint32_t vi, uint16_t *packets, uint32_t *samples, uint32_t *presamples) {
    if (!packets) return NEXTARQ_ERROR_PARAMETER2;
    if (!samples) return NEXTARQ_ERROR_PARAMETER3;
    if (!presamples) return NEXTARQ_ERROR_PARAMETER4;
    uint16_t count = 0;
    int32_t status = rd(vi, kRegPackets, count);
    if (status < 0) return status;
    uint32_t length = 0, pretrigger = 0;
    status = rd32(vi, kRegLength, length);
    if (status < 0) return status;
    status = rd32(vi, kRegPretrigger, pretrigger);
    if (status < 0) return status;
    *packets = static_cast<uint16_t>(count + 1);
    *samples = (length + 1u) * 8u;
    *presamples = (pretrigger + 1u) * 8u;
    return status;
}

NEXTARQ_API int32_t nextarq_configTrigger(uint32_t vi, uint16_t source, uint16_t slope, double level) {
    Record *r = nullptr;
    int32_t status = fetchRecord(vi, r);
    if (status < 0) return status;
    if (source > 4) return NEXTARQ_ERROR_PARAMETER2;
    if (slope > 1) return NEXTARQ_ERROR_PARAMETER3;
    if (!inRange(level, -40.0, 0.0)) return NEXTARQ_ERROR_PARAMETER4;
    uint16_t value = 0;
    status = rd(vi, kRegTrigger, value);
    if (status < 0) return status;
    value = static_cast<uint16_t>((value & 0xFFC3) | source << 2 | slope << 5);
    status = wr(vi, kRegTrigger, value);
    if (status < 0) return status;
    r->triggerLevel = level;
    if (source == 1 || source == 2) {
        const int ch = source - 1;
        const int b = r->band >= 0 && r->band < NEXTARQ_BANDS ? r->band : 0;
        const double gain = r->coefficients[ch].gain[b];
        const double offset = r->coefficients[ch].offset[b];
        // RMS voltage of a sine of that power into 50 ohms, in ADC codes with the band's coefficients.
        const double volts = 0.2236 * std::pow(10.0, level / 20.0);
        const double code = (volts - offset) * 16383.0 / (2.06 * gain);
        status = wr(vi, kRegTriggerLevel, static_cast<uint16_t>(saturateToInt16(code)));
    }
    return status;
}

NEXTARQ_API int32_t nextarq_configTrigger_q(uint32_t vi, uint16_t *source, uint16_t *slope, double *level) {
    Record *r = nullptr;
    int32_t status = fetchRecord(vi, r);
    if (status < 0) return status;
    if (!source) return NEXTARQ_ERROR_PARAMETER2;
    if (!slope) return NEXTARQ_ERROR_PARAMETER3;
    if (!level) return NEXTARQ_ERROR_PARAMETER4;
    uint16_t value = 0;
    status = rd(vi, kRegTrigger, value);
    if (status < 0) return status;
    status = rd(vi, kRegTrigger, value);
    if (status < 0) return status;
    *source = static_cast<uint16_t>((value & 0x1C) >> 2);
    *slope = static_cast<uint16_t>((value & 0x20) >> 5);
    *level = r->triggerLevel;
    return status;
}

NEXTARQ_API int32_t nextarq_configGain(uint32_t vi, int16_t channel, double gain) {
    Record *r = nullptr;
    int32_t status = fetchRecord(vi, r);
    if (status < 0) return status;
    if (r->hardwareVersion == 0) return NEXTARQ_WARN_NOT_SUPPORTED;
    if (channel < 0 || channel > 1) return NEXTARQ_ERROR_PARAMETER2;
    if (!inRange(gain, 0.0 - DBL_EPSILON, 20.0 + DBL_EPSILON)) return NEXTARQ_ERROR_PARAMETER3;
    uint16_t value = 0;
    status = rd(vi, kRegGain, value);
    if (status < 0) return status;
    // Attenuation below +20 dB in quarter decibels.
    double quarters = std::trunc(4.0 * (20.0 - gain));
    const uint16_t code = static_cast<uint16_t>(quarters < 0.0 ? 0.0 : quarters > 80.0 ? 80.0 : quarters);
    value = channel == 0 ? static_cast<uint16_t>((value & 0x00FF) | code << 8)
                         : static_cast<uint16_t>((value & 0xFF00) | code);
    status = wr(vi, kRegGain, value);
    if (status < 0) return status;
    return adcCommandUnchecked(vi, 0x80);
}

NEXTARQ_API int32_t nextarq_configGain_q(uint32_t vi, int16_t channel, double *gain) {
    Record *r = nullptr;
    int32_t status = fetchRecord(vi, r);
    if (status < 0) return status;
    if (channel < 0 || channel > 1) return NEXTARQ_ERROR_PARAMETER2;
    if (!gain) return NEXTARQ_ERROR_PARAMETER3;
    uint16_t value = 0;
    status = rd(vi, kRegGain, value);
    if (status < 0) return status;
    const uint16_t code = channel == 0 ? value >> 8 : value & 0xFF;
    *gain = 20.0 - 0.25 * code;
    return status;
}

} // extern "C"
