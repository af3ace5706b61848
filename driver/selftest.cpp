// The self-test and the reference-connection tests: the module measures its own test pattern or its
// own reference signal, and is left with the settings it had before.
#include "internal.h"

#include "analysis.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <vector>

using namespace nextarq;

namespace {

constexpr uint32_t kMeasureSamples = 104448;
constexpr double kSampleInterval = 2e-9;
constexpr double kSwingTolerance = 0.1;
constexpr double kPatternHz = 28722.0;
constexpr double kPatternToleranceHz = 100.0;
constexpr double kReferenceHz = 10000000.0;
constexpr double kReferenceToleranceHz = 2000.0;
constexpr double kReadySeconds = 1.0;
constexpr int kRestoreAttempts = 3;

constexpr uint16_t kAdcBuffer = 0x018;
constexpr uint8_t kAdcBufferUpper = 0x70;

// Texts of the protocol (the system's own, shown by the test panel as they are).
constexpr const char *kStepTexts[6] = {
    "",
    "Ошибка ввода/вывода регистров ПЛИС.",
    "Частота не засинхронизирована.",
    "Ошибка памяти DDR.",
    "Ошибка чтения регистрров АЦП.",
    "Ошибка тестового режима АЦП.",
};
constexpr const char *kSelfTestPassed = "Самоконтроль завершен успешно";
constexpr const char *kReferenceTestPassed = "Тест \"ОК отключен\" завершен успешно.";

struct Saved {
    int16_t reference = 0, pattern = 0, band = 0, adcMode = 0, signalInput = 0;
    uint16_t packets = 1, source = 0, slope = 0, gainRegister = 0;
    uint32_t samples = 1024, presamples = 0;
    double level = 0.0;
    // How many of the settings above were read: a save that fails part-way restores only those, so
    // that no placeholder value is ever written as if it had been the module's.
    int count = 0;
};

int32_t save(uint32_t vi, Saved &s) {
    const auto step = [&](int32_t status) {
        if (status >= 0) ++s.count;
        return status;
    };
    int32_t status = step(nextarq_configBaseF_q(vi, &s.reference));
    if (status >= 0) status = step(nextarq_configMode_q(vi, &s.pattern));
    if (status >= 0) status = step(nextarq_configSpanF_q(vi, &s.band));
    if (status >= 0) status = step(nextarq_configTime_q(vi, &s.packets, &s.samples, &s.presamples));
    if (status >= 0) status = step(nextarq_configTrigger_q(vi, &s.source, &s.slope, &s.level));
    if (status >= 0) status = step(nextarq_configAdcMode_q(vi, &s.adcMode, &s.signalInput));
    if (status >= 0) status = step(rd(vi, kRegGain, s.gainRegister));
    if (status >= 0) status = wr(vi, kRegGain, 0);
    return status;
}

int32_t restoreBand(uint32_t vi, Record &r, int16_t band) {
    if (band >= 0 && band <= 4) return nextarq_configSpanF(vi, band);
    // An upper band (5 to 9) was set through the ADC buffer directly; put that buffer setting back.
    int32_t status = adcWriteUnchecked(vi, kAdcBuffer, kAdcBufferUpper);
    if (status >= 0) r.band = band;
    return status;
}

// Puts the saved settings back. The module is stopped (self-test) or reset (reference tests) first.
// The final gain register write is the one that must succeed; it is retried a bounded number of times.
int32_t restore(uint32_t vi, Record &r, const Saved &s, bool reset) {
    int32_t status = 0;
    for (int attempt = 0; attempt < kRestoreAttempts; ++attempt) {
        int32_t st = reset ? nextarq_reset(vi) : nextarq_stop(vi);
        int32_t first = st < 0 ? st : 0;
        auto keep = [&](int32_t v) {
            if (v < 0 && first >= 0) first = v;
        };
        // Band before trigger: the trigger level's code depends on the band's coefficients.
        if (s.count > 0) keep(nextarq_configBaseF(vi, s.reference));
        if (s.count > 1) keep(nextarq_configMode(vi, s.pattern));
        if (s.count > 2) keep(restoreBand(vi, r, s.band));
        if (s.count > 4) keep(nextarq_configTrigger(vi, s.source, s.slope, s.level));
        if (s.count > 3) keep(nextarq_configTime(vi, s.packets, s.samples, s.presamples));
        if (s.count > 5) keep(nextarq_configAdcMode(vi, s.adcMode, s.signalInput));
        if (s.count <= 6) return first;
        st = wr(vi, kRegGain, s.gainRegister);
        if (st >= 0) return first;
        status = st;
    }
    return status;
}

// The protocol can outgrow the message (two failing channels); it is cut before the letter that does
// not fit, never inside one, so the text stays valid UTF-8.
void setMessage(char *message, const std::string &text) {
    size_t n = std::min<size_t>(text.size(), NEXTARQ_MESSAGE_SIZE - 1);
    if (n < text.size())
        while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) --n;
    std::memcpy(message, text.data(), n);
    message[n] = '\0';
}

// "%g" of a value, independent of the process locale.
std::string number(double v) {
    char buffer[64];
    auto result = std::to_chars(buffer, buffer + sizeof buffer, v, std::chars_format::general, 6);
    return std::string(buffer, result.ptr);
}

const char *verdict(bool ok) { return ok ? "Норма" : "Не норма"; }

// One acquisition of a single packet of kMeasureSamples samples with software trigger, then each
// requested channel's swing and strongest frequency checked against the limits. Measurement lines go
// to `text`; `failures` counts the values out of their limits.
int32_t measure(uint32_t vi, const Record &r, bool channel[2], double frequencyHz, double toleranceHz,
                std::string &text, int &failures) {
    int32_t status = nextarq_configTime(vi, 1, kMeasureSamples, 0);
    if (status < 0) return status;
    status = nextarq_configTrigger(vi, 0, 0, 0.0);
    if (status < 0) return status;
    pause(0.02);
    status = nextarq_stop(vi);
    if (status < 0) return status;
    status = nextarq_trigger(vi);
    if (status < 0) return status;
    Stopwatch clock;
    for (;;) {
        uint16_t busy = 0;
        status = nextarq_ready_q(vi, &busy);
        if (status < 0) return status;
        if (!busy) break;
        if (clock.seconds() > kReadySeconds) return NEXTARQ_ERROR_SELF_TEST;
        pause(0.001);
    }
    std::vector<double> samples[2], spectrum;
    try {
        for (int c = 0; c < 2; ++c)
            if (channel[c]) samples[c].resize(kMeasureSamples);
        spectrum.resize(kMeasureSamples / 2);
    } catch (const std::bad_alloc &) {
        return NEXTARQ_ERROR_ALLOC;
    }
    status = nextarq_readData(vi, 1, 1, channel[0] ? samples[0].data() : nullptr,
                              channel[1] ? samples[1].data() : nullptr, NEXTARQ_FORMAT_VOLTS);
    if (status < 0) return status;
    for (int c = 0; c < 2; ++c) {
        if (!channel[c]) continue;
        double max = 0.0, min = 0.0;
        MaxMin1D(samples[c].data(), kMeasureSamples, &max, nullptr, &min, nullptr);
        const double swing = max - min;
        const double expected = 2.06 * r.coefficients[c].gain[0];
        // Limits as bounds: a swing of exactly expected +- tolerance (2.16 V against 2.06 V) is within the
        // norm, which |swing - expected| <= tolerance misses by a rounding of the difference.
        const bool swingOk = swing >= expected - kSwingTolerance && swing <= expected + kSwingTolerance;
        double df = 0.0, peak = 0.0;
        int64_t k = -1;
        int32_t st = AutoPowerSpectrum(samples[c].data(), kMeasureSamples, kSampleInterval, spectrum.data(), &df);
        if (st >= 0) MaxMin1D(spectrum.data() + 1, kMeasureSamples / 2 - 1, &peak, &k, nullptr, nullptr);
        const double frequency = df * static_cast<double>(k + 1);
        const bool frequencyOk =
            st >= 0 && k >= 0 && frequency >= frequencyHz - toleranceHz && frequency <= frequencyHz + toleranceHz;
        failures += !swingOk + !frequencyOk;
        text += "\n Размах канала  " + std::to_string(c + 1) + ": " + number(swing) + " В - " + verdict(swingOk);
        text += "\n Частота канала " + std::to_string(c + 1) + ": " + number(frequency) + " Гц - " +
                verdict(frequencyOk);
    }
    return 0;
}

// The self-test steps after the save; `result` and `text` name the step that runs.
int32_t selfTestSteps(uint32_t vi, Record &r, int16_t &result, std::string &text) {
    auto step = [&](int n) {
        result = static_cast<int16_t>(n);
        text = kStepTexts[n];
    };
    step(1);
    int32_t status = wr(vi, kRegEvent, 0x5555);
    if (status < 0) return status;
    pause(0.02);
    uint16_t value = 0;
    status = rd(vi, kRegEvent, value);
    if (status < 0) return status;
    if (value != 0x5555) return NEXTARQ_ERROR_SELF_TEST;

    status = nextarq_reset(vi);
    if (status < 0) return status;
    status = nextarq_configBaseF(vi, 0);
    if (status < 0) return status;
    pause(0.2);

    step(2);
    status = rd(vi, kRegCommand, value);
    if (status < 0) return status;
    if (!(value & 0x40)) return NEXTARQ_ERROR_SELF_TEST;

    step(3);
    status = rd(vi, kRegControl, value);
    if (status < 0) return status;

    step(4);
    status = nextarq_adcRead(vi, 4, &value);
    if (status != 0 || value != 0xD3) return NEXTARQ_ERROR_SELF_TEST;

    step(5);
    status = nextarq_configAdcMode(vi, 1, 0);
    if (status < 0) return status;
    status = nextarq_configMode(vi, 1);
    if (status < 0) return status;
    bool both[2] = {true, true};
    int failures = 0;
    status = measure(vi, r, both, kPatternHz, kPatternToleranceHz, text, failures);
    if (status < 0) return status;
    if (failures > 0) return NEXTARQ_ERROR_SELF_TEST;

    result = 0;
    text = kSelfTestPassed;
    return 0;
}

int32_t referenceTestSteps(uint32_t vi, Record &r, int16_t test, int16_t &result, std::string &text) {
    text = "Ошибка ТЕСТ " + std::to_string(test) + ".";
    result = test;
    int32_t status = nextarq_configAdcMode(vi, 1, 0);
    if (status < 0) return status;
    if (test == 1) {
        // The module's own reference, driven out on the synchronisation connector, comes back on "ОЧ".
        status = nextarq_configBaseF(vi, 2);
        if (status < 0) return status;
        status = wr(vi, kRegControl, 0xC0);
        if (status < 0) return status;
        pause(0.005);
        uint16_t value = 0;
        status = rd(vi, kRegCommand, value);
        if (status < 0) return status;
        if (!(value & 0x40)) return NEXTARQ_ERROR_REFERENCE_TEST;
    } else {
        status = nextarq_configBaseF(vi, 1);
        if (status < 0) return status;
        status = nextarq_configMode(vi, 0);
        if (status < 0) return status;
        bool channel[2] = {test == 2, test == 3};
        int failures = 0;
        status = measure(vi, r, channel, kReferenceHz, kReferenceToleranceHz, text, failures);
        if (status < 0) return status;
        if (failures > 0) return NEXTARQ_ERROR_REFERENCE_TEST;
    }
    result = 0;
    text = kReferenceTestPassed;
    return 0;
}

// Save, run, restore: the restore's failure is reported only when the procedure itself succeeded.
template <typename Steps> int32_t runProcedure(uint32_t vi, Record &r, bool reset, Steps steps) {
    Saved saved;
    int32_t status = save(vi, saved);
    if (status >= 0) {
        pause(0.02);
        status = steps();
    }
    const int32_t restored = restore(vi, r, saved, reset);
    pause(0.01);
    if (status >= 0 && restored < 0) status = restored;
    return status;
}

} // namespace

extern "C" {

NEXTARQ_API int32_t nextarq_self_test(uint32_t vi, int16_t *result, char message[NEXTARQ_MESSAGE_SIZE]) {
    Record *r = nullptr;
    int32_t status = fetchRecord(vi, r);
    if (status < 0) return status;
    if (!result) return NEXTARQ_ERROR_PARAMETER2;
    if (!message) return NEXTARQ_ERROR_PARAMETER3;
    *result = 0;
    std::string text;
    status = runProcedure(vi, *r, false, [&] { return selfTestSteps(vi, *r, *result, text); });
    setMessage(message, text);
    return status;
}

NEXTARQ_API int32_t nextarq_testOK_off(uint32_t vi, int16_t test, int16_t *result,
                                       char message[NEXTARQ_MESSAGE_SIZE]) {
    if (test < 1 || test > 3) return NEXTARQ_ERROR_PARAMETER2;
    Record *r = nullptr;
    int32_t status = fetchRecord(vi, r);
    if (status < 0) return status;
    if (!result) return NEXTARQ_ERROR_PARAMETER3;
    if (!message) return NEXTARQ_ERROR_PARAMETER4;
    *result = 0;
    std::string text;
    status = runProcedure(vi, *r, true, [&] { return referenceTestSteps(vi, *r, test, *result, text); });
    setMessage(message, text);
    return status;
}

} // extern "C"
