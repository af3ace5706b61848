// Converter programming through the ADC port (output mode, NSR, VDR, the four down-converters) and
// the module's temperature monitors.
#include "internal.h"

#include <cfloat>
#include <cmath>

using namespace nextarq;

namespace {

constexpr double kEps = DBL_EPSILON;

constexpr uint16_t kAdcMode = 0x200;
constexpr uint16_t kAdcNsr = 0x422;
constexpr uint16_t kAdcVdrMode = 0x430;
constexpr uint16_t kAdcVdrFrequency = 0x434;
constexpr uint16_t kAdcDdcControl = 0x310;
constexpr uint16_t kAdcDdcInputs = 0x311;
constexpr uint16_t kAdcDdcFrequencyLow = 0x314;
constexpr uint16_t kAdcDdcFrequencyHigh = 0x315;
constexpr uint16_t kDdcStride = 0x20;

constexpr uint8_t kModeCodes[6] = {0x00, 0x07, 0x08, 0x01, 0x02, 0x03};

bool flag(int16_t v) { return v == 0 || v == 1; }

// Rounds to the nearest integer, saturating to [lo, hi] (the callers' ranges are already checked,
// so this only guards the conversion itself).
long roundSaturated(double v, long lo, long hi) {
    if (std::isnan(v)) return 0;
    if (v <= static_cast<double>(lo)) return lo;
    if (v >= static_cast<double>(hi)) return hi;
    return std::lround(v);
}

// The DDC shift frequency word: whole MHz (truncated), folded into one 500 MHz turn, in 1/4096 turns.
int16_t ddcWord(double frequency) {
    const double k = std::trunc(frequency);
    const double r = std::fmod(k, 500.0);
    return static_cast<int16_t>(roundSaturated(4096.0 * r / 500.0, INT16_MIN, INT16_MAX));
}

// A temperature word: bits 3 to 14 weigh 1/32 to 64 degrees; bit 15 is the sign of the monitor's
// two's complement reading.
double temperature(uint16_t word) {
    double value = 0.0;
    for (int bit = 3; bit <= 14; ++bit)
        if (word & (1u << bit)) value += std::ldexp(1.0, bit - 8);
    if (word & 0x8000) value -= 128.0;
    return value;
}

int32_t monitorByte(uint32_t vi, uint16_t subAddress, uint8_t &byte) {
    int32_t status = wr(vi, kRegMonitor, subAddress);
    if (status < 0) return status;
    status = wr(vi, kRegMonitor, static_cast<uint16_t>(subAddress | 0x100));
    if (status < 0) return status;
    uint16_t value = 0;
    status = rd(vi, kRegMonitor, value);
    if (status < 0) return status;
    byte = static_cast<uint8_t>(value & 0xFF);
    return status;
}

int32_t monitorWord(uint32_t vi, uint16_t high, uint16_t low, double &out) {
    uint8_t hi = 0, lo = 0;
    int32_t status = monitorByte(vi, high, hi);
    if (status < 0) return status;
    status = monitorByte(vi, low, lo);
    if (status < 0) return status;
    out = temperature(static_cast<uint16_t>(hi << 8 | lo));
    return status;
}

int32_t adcRead(uint32_t vi, uint16_t address, uint8_t &value) {
    uint16_t v = 0;
    int32_t status = nextarq_adcRead(vi, address, &v);
    value = static_cast<uint8_t>(v);
    return status;
}

int32_t adcWrite(uint32_t vi, uint16_t address, uint8_t value) {
    return nextarq_adcWrite(vi, address, static_cast<int16_t>(value));
}

} // namespace

extern "C" {

NEXTARQ_API int32_t nextarq_configAdcMode(uint32_t vi, int16_t mode, int16_t signalInput) {
    if (mode < 0 || mode > 5) return NEXTARQ_ERROR_PARAMETER2;
    if (!flag(signalInput)) return NEXTARQ_ERROR_PARAMETER3;
    return adcWrite(vi, kAdcMode, static_cast<uint8_t>(kModeCodes[mode] | signalInput << 5));
}

NEXTARQ_API int32_t nextarq_configAdcMode_q(uint32_t vi, int16_t *mode, int16_t *signalInput) {
    // Either pointer missing is the one parameter error of this query.
    if (!mode || !signalInput) return NEXTARQ_ERROR_PARAMETER2;
    uint8_t value = 0;
    int32_t status = adcRead(vi, kAdcMode, value);
    if (status < 0) return status;
    *signalInput = (value >> 5) & 1;
    *mode = 0;
    for (int16_t i = 0; i < 6; ++i)
        if ((value & 0x0F) == kModeCodes[i]) *mode = i;
    return status;
}

NEXTARQ_API int32_t nextarq_configNSR(uint32_t vi, double frequency) {
    if (!inRange(frequency, 70.0 - kEps, 177.5 + kEps)) return NEXTARQ_ERROR_PARAMETER2;
    return adcWrite(vi, kAdcNsr, static_cast<uint8_t>(roundSaturated((frequency - 70.0) / 2.5, 0, 43)));
}

NEXTARQ_API int32_t nextarq_configNSR_q(uint32_t vi, double *frequency) {
    if (!frequency) return NEXTARQ_ERROR_PARAMETER2;
    uint8_t value = 0;
    int32_t status = adcRead(vi, kAdcNsr, value);
    if (status < 0) return status;
    *frequency = 2.5 * value + 70.0;
    return status;
}

NEXTARQ_API int32_t nextarq_configVDR(uint32_t vi, int16_t mode, double frequency) {
    if (mode < 0 || mode > 2) return NEXTARQ_ERROR_PARAMETER2;
    const bool ok = mode == 0 ? inRange(frequency, 62.5 - kEps, 187.5 + kEps)
                              : inRange(frequency, 0.0 - kEps, 468.75 + kEps);
    if (!ok) return NEXTARQ_ERROR_PARAMETER3;
    int32_t status = adcWrite(vi, kAdcVdrMode, static_cast<uint8_t>(mode == 2 ? 3 : mode));
    if (status < 0) return status;
    return adcWrite(vi, kAdcVdrFrequency, static_cast<uint8_t>(roundSaturated(frequency / 31.25, 0, 15)));
}

NEXTARQ_API int32_t nextarq_configVDR_q(uint32_t vi, int16_t *mode, double *frequency) {
    if (!mode) return NEXTARQ_ERROR_PARAMETER2;
    if (!frequency) return NEXTARQ_ERROR_PARAMETER3;
    uint8_t value = 0;
    int32_t status = adcRead(vi, kAdcVdrMode, value);
    if (status < 0) return status;
    *mode = value == 3 ? 2 : value;
    status = adcRead(vi, kAdcVdrFrequency, value);
    if (status < 0) return status;
    *frequency = 31.25 * value;
    return status;
}

NEXTARQ_API int32_t nextarq_configDDC(uint32_t vi, int16_t ddc, int16_t mix, int16_t gain, int16_t toReal, uint16_t filter,
                                      int16_t inputI, int16_t inputQ, double frequency) {
    if (ddc < -1 || ddc > 3) return NEXTARQ_ERROR_PARAMETER2;
    if (!flag(mix)) return NEXTARQ_ERROR_PARAMETER3;
    if (!flag(gain)) return NEXTARQ_ERROR_PARAMETER4;
    if (!flag(toReal)) return NEXTARQ_ERROR_PARAMETER5;
    if (filter > 3) return NEXTARQ_ERROR_PARAMETER6;
    if (!flag(inputI)) return NEXTARQ_ERROR_PARAMETER7;
    if (!flag(inputQ)) return NEXTARQ_ERROR_PARAMETER8;
    if (!inRange(frequency, -250.0 - kEps, 249.0 + kEps)) return NEXTARQ_ERROR_PARAMETER9;
    const int first = ddc < 0 ? 0 : ddc, last = ddc < 0 ? 3 : ddc;
    const uint8_t control = static_cast<uint8_t>(mix << 7 | gain << 6 | toReal << 3 | filter);
    const uint8_t inputs = static_cast<uint8_t>(inputQ << 2 | inputI);
    int32_t status = 0;
    for (int n = first; n <= last; ++n) {
        const uint16_t offset = static_cast<uint16_t>(kDdcStride * n);
        status = adcWrite(vi, kAdcDdcControl + offset, control);
        if (status < 0) return status;
        status = adcWrite(vi, kAdcDdcInputs + offset, inputs);
        if (status < 0) return status;
    }
    const auto word = static_cast<uint16_t>(ddcWord(frequency));
    for (int n = first; n <= last; ++n) {
        const uint16_t offset = static_cast<uint16_t>(kDdcStride * n);
        status = adcWrite(vi, kAdcDdcFrequencyLow + offset, static_cast<uint8_t>(word & 0xFF));
        if (status < 0) return status;
        status = adcWrite(vi, kAdcDdcFrequencyHigh + offset, static_cast<uint8_t>((word >> 8) & 0xFF));
        if (status < 0) return status;
    }
    return status;
}

NEXTARQ_API int32_t nextarq_configDDC_q(uint32_t vi, int16_t ddc, int16_t *mix, int16_t *gain, int16_t *toReal,
                                        uint16_t *filter, int16_t *inputI, int16_t *inputQ, double *frequency) {
    if (ddc < 0 || ddc > 3) return NEXTARQ_ERROR_PARAMETER2;
    if (!mix) return NEXTARQ_ERROR_PARAMETER3;
    if (!gain) return NEXTARQ_ERROR_PARAMETER4;
    if (!toReal) return NEXTARQ_ERROR_PARAMETER5;
    if (!filter) return NEXTARQ_ERROR_PARAMETER6;
    if (!inputI) return NEXTARQ_ERROR_PARAMETER7;
    if (!inputQ) return NEXTARQ_ERROR_PARAMETER8;
    if (!frequency) return NEXTARQ_ERROR_PARAMETER9;
    const uint16_t offset = static_cast<uint16_t>(kDdcStride * ddc);
    uint8_t control = 0, inputs = 0, low = 0, high = 0;
    int32_t status = adcRead(vi, kAdcDdcControl + offset, control);
    if (status < 0) return status;
    status = adcRead(vi, kAdcDdcInputs + offset, inputs);
    if (status < 0) return status;
    status = adcRead(vi, kAdcDdcFrequencyLow + offset, low);
    if (status < 0) return status;
    status = adcRead(vi, kAdcDdcFrequencyHigh + offset, high);
    if (status < 0) return status;
    *mix = (control >> 7) & 1;
    *gain = (control >> 6) & 1;
    *toReal = (control >> 3) & 1;
    *filter = control & 3;
    *inputI = inputs & 1;
    *inputQ = (inputs >> 2) & 1;
    int word = (low | high << 8) & 0xFFF;
    if (word & 0x800) word -= 0x1000;
    *frequency = word * 500.0 / 4096.0;
    return status;
}

NEXTARQ_API int32_t nextarq_temperature_q(uint32_t vi, double *value1, double *value2) {
    if (!value1) return NEXTARQ_ERROR_PARAMETER2;
    if (!value2) return NEXTARQ_ERROR_PARAMETER3;
    int32_t status = monitorWord(vi, 0x01, 0x10, *value1);
    if (status < 0) return status;
    return monitorWord(vi, 0x00, 0x30, *value2);
}

} // extern "C"
