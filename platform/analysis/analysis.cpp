// Public operations of the analysis library. Numerical definitions (see analysis.h for the
// formulas) follow the published conventions of the instrument world's analysis libraries:
// periodic cosine-sum windows scaled by 1/coherent gain, single-sided Vrms spectra, window
// corrections through the equivalent noise bandwidth, THD relative to the fundamental.
#include "analysis_internal.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <mutex>
#include <new>
#include <random>
#include <vector>

using namespace tarq::analysis;

namespace {

constexpr double kTwoPi = 2.0 * M_PI;
// Per thread, for the passes around the transform. A second thread pays only when each half is
// several milliseconds of work: on a loaded machine a thread that waits for a core costs a whole
// scheduler time slice, more than a pass of a million samples takes.
constexpr int64_t kParallelFrom = int64_t{1} << 22;

bool Finite(double v) { return std::isfinite(v); }
bool PositiveFinite(double v) { return std::isfinite(v) && v > 0; }

// Published constants of the seven windows (periodic form, any n > 2 x the number of terms):
// coherent gain = a0, ENBW = (a0^2 + (a1^2 + ... + a4^2) / 2) / a0^2 bins. To the published two
// decimals: none 1.00/1.00, Hanning 0.50/1.50, Hamming 0.54/1.36, Blackman-Harris 0.42/1.71,
// exact Blackman 0.43/1.69, Blackman 0.42/1.73, flat top 0.22/3.77. Worst-case scalloping
// loss: 3.92, 1.42, 1.78, 1.13, 1.15, 1.10 dB and below 0.01 dB for the flat top.
const double kWindowTerms[TARQ_WINDOW_COUNT][5] = {
    {1.0, 0, 0, 0, 0},
    {0.5, 0.5, 0, 0, 0},
    {0.54, 0.46, 0, 0, 0},
    {0.42323, 0.49755, 0.07922, 0, 0},
    {7938.0 / 18608.0, 9240.0 / 18608.0, 1430.0 / 18608.0, 0, 0},
    {0.42, 0.5, 0.08, 0, 0},
    {0.215578950, 0.416631580, 0.277263158, 0.083578947, 0.006947368},
};

WindowConstants ConstantsOf(int32_t type)
{
    const double *a = kWindowTerms[type];
    const double sq = a[0] * a[0] + 0.5 * (a[1] * a[1] + a[2] * a[2] + a[3] * a[3] + a[4] * a[4]);
    return WindowConstants{sq / (a[0] * a[0]), a[0]};
}

// Bins on each side of a tone's peak (and of DC) that are summed as the tone. Wide enough that
// the leakage of a tone between two bins left outside is far below what the record resolves:
// Hanning side lobes fall as 1/f^3, so beyond 24 bins less than -84 dB of the tone remains
// (beyond 5 bins it would be -51 dB and would pass for noise). Hamming and the three-term
// Blackman-Harris / exact Blackman fall only as 1/f, no width helps them much; the Blackman and
// flat top lobes are gone below -90 dB by 12 bins. A fundamental needs 2 x this many bins
// above DC to be told apart from it.
int64_t HalfLobe(int32_t type)
{
    static const int64_t kHalf[TARQ_WINDOW_COUNT] = {3, 24, 8, 8, 8, 12, 12};
    return kHalf[type];
}

// Half width of the main lobe in bins: what DC takes, and the least a tone takes when its
// harmonics are too close for the wide sums above (a low fundamental).
int64_t MainLobe(int32_t type)
{
    static const int64_t kMain[TARQ_WINDOW_COUNT] = {1, 2, 2, 3, 3, 3, 5};
    return kMain[type];
}

constexpr int64_t kCachedWindowMax = int64_t{1} << 16;

struct WindowCacheEntry {
    int32_t type;
    int64_t n;
    uint64_t lastUse;
    std::shared_ptr<const std::vector<double>> w;
};
std::mutex g_windowMutex;
std::vector<WindowCacheEntry> g_windows;
uint64_t g_windowClock = 0;

std::shared_ptr<const std::vector<double>> CachedWindowShared(int32_t type, int64_t n);

// The scaled window of a type and length, from the cache or made and cached; null when memory
// runs out (the caller then computes the window on the fly).
std::shared_ptr<const std::vector<double>> CachedWindow(int32_t type, int64_t n)
{
    // The window a thread used last is found without the lock.
    thread_local WindowCacheEntry last{-1, 0, 0, nullptr};
    if (last.w && last.type == type && last.n == n)
        return last.w;
    std::shared_ptr<const std::vector<double>> found = CachedWindowShared(type, n);
    if (found)
        last = {type, n, 0, found};
    return found;
}

std::shared_ptr<const std::vector<double>> CachedWindowShared(int32_t type, int64_t n)
{
    {
        std::lock_guard lock(g_windowMutex);
        for (WindowCacheEntry &e : g_windows)
            if (e.type == type && e.n == n) {
                e.lastUse = ++g_windowClock;
                return e.w;
            }
    }
    std::shared_ptr<std::vector<double>> w;
    try {
        w = std::make_shared<std::vector<double>>(static_cast<size_t>(n), 1.0);
    } catch (const std::bad_alloc &) {
        return nullptr;
    }
    ApplyWindow(w->data(), 0, n, n, WindowPolynomial(type));
    std::shared_ptr<const std::vector<double>> old;
    std::lock_guard lock(g_windowMutex);
    if (g_windows.size() < 4) {
        try {
            g_windows.push_back({type, n, ++g_windowClock, w});
        } catch (const std::bad_alloc &) {
        }
        return w;
    }
    auto lru = std::min_element(g_windows.begin(), g_windows.end(),
                                [](const WindowCacheEntry &a, const WindowCacheEntry &b) { return a.lastUse < b.lastUse; });
    old = std::move(lru->w); // freed after the lock is released
    *lru = {type, n, ++g_windowClock, w};
    return w;
}

// Element-wise loops must not overwrite input they have yet to read: forward is safe when the
// output starts at or before the input, backward when it starts after it.
bool ForwardSafe(const double *out, const double *in, int64_t n) { return !(out > in && out < in + n); }
bool BackwardSafe(const double *out, const double *in, int64_t n) { return !(out < in && out + n > in); }

} // namespace

// ------------------------------------------------------------------------------------------------
// Status texts

extern "C" const char *TarqAnalysisStatusText(int32_t status, int32_t language)
{
    struct Text { int32_t code; const char *ru; const char *en; };
    static const Text kTexts[] = {
        {TARQ_ANALYSIS_SUCCESS, "Нет ошибок", "No error"},
        {TARQ_ANALYSIS_ERR_OUT_OF_MEMORY, "Недостаточно памяти", "Out of memory"},
        {TARQ_ANALYSIS_ERR_NULL_POINTER, "Нулевой указатель на массив или результат", "Null array or result pointer"},
        {TARQ_ANALYSIS_ERR_SIZE, "Недопустимое число элементов", "Invalid number of elements"},
        {TARQ_ANALYSIS_ERR_WINDOW_TYPE, "Неизвестный тип окна", "Unknown window type"},
        {TARQ_ANALYSIS_ERR_ARGUMENT, "Недопустимое значение аргумента", "Invalid argument value"},
        {TARQ_ANALYSIS_ERR_SPECTRUM_TYPE, "Неизвестный тип спектра", "Unknown spectrum type"},
        {TARQ_ANALYSIS_ERR_SCALING, "Недопустимый масштаб спектра", "Invalid spectrum scaling"},
        {TARQ_ANALYSIS_ERR_DISPLAY_UNIT, "Неизвестная единица спектра", "Unknown spectrum unit"},
        {TARQ_ANALYSIS_ERR_TRANSFORM, "Невозможно выполнить БПФ для этой длины", "FFT not possible for this length"},
        {TARQ_ANALYSIS_ERR_HARMONICS, "Недопустимое число гармоник", "Invalid number of harmonics"},
        {TARQ_ANALYSIS_ERR_SPAN, "Недопустимая ширина полосы", "Invalid frequency span"},
    };
    for (const Text &t : kTexts)
        if (t.code == status)
            return language == 0 ? t.ru : t.en;
    return language == 0 ? "Неизвестная ошибка библиотеки анализа" : "Unknown analysis library error";
}

// ------------------------------------------------------------------------------------------------
// Windows

extern "C" int32_t TarqWindowConstants(int32_t windowType, WindowConstants *constants)
{
    if (windowType < 0 || windowType >= TARQ_WINDOW_COUNT)
        return TARQ_ANALYSIS_ERR_WINDOW_TYPE;
    if (!constants)
        return TARQ_ANALYSIS_ERR_NULL_POINTER;
    *constants = ConstantsOf(windowType);
    return TARQ_ANALYSIS_SUCCESS;
}

extern "C" int32_t ScaledWindowEx(double x[], int64_t n, int32_t windowType, double /*windowParameter*/,
                                  WindowConstants *constants)
{
    if (!x || !constants)
        return TARQ_ANALYSIS_ERR_NULL_POINTER;
    if (n <= 0)
        return TARQ_ANALYSIS_ERR_SIZE;
    if (windowType < 0 || windowType >= TARQ_WINDOW_COUNT)
        return TARQ_ANALYSIS_ERR_WINDOW_TYPE;
    *constants = ConstantsOf(windowType);
    if (windowType == TARQ_WINDOW_NONE)
        return TARQ_ANALYSIS_SUCCESS;
    // Short records: computing the window costs more than the transform, so the last few
    // windows up to 64 Ki points are kept (at most 4 x 512 KiB). Long records compute it on the
    // fly, which costs less than reading a stored window from memory would.
    if (n <= kCachedWindowMax) {
        std::shared_ptr<const std::vector<double>> w = CachedWindow(windowType, n);
        if (w) {
            MultiplyInPlace(x, w->data(), n);
            return TARQ_ANALYSIS_SUCCESS;
        }
    }
    const CosineSum poly = WindowPolynomial(windowType);
    ParallelRange(n, kParallelFrom, [&](int64_t b, int64_t e) { ApplyWindow(x, b, e, n, poly); });
    return TARQ_ANALYSIS_SUCCESS;
}

extern "C" int32_t ScaledWindow(double x[], int64_t n, int32_t windowType, WindowConstants *constants)
{
    return ScaledWindowEx(x, n, windowType, 0.0, constants);
}

// ------------------------------------------------------------------------------------------------
// Spectra

extern "C" int32_t AmpPhaseSpectrum(const double input[], int64_t n, int32_t unwrapPhase, double dt,
                                    double amplitude[], double phase[], double *df)
{
    if (!input || !amplitude || !phase || !df)
        return TARQ_ANALYSIS_ERR_NULL_POINTER;
    if (n <= 0)
        return TARQ_ANALYSIS_ERR_SIZE;
    if (!PositiveFinite(dt))
        return TARQ_ANALYSIS_ERR_ARGUMENT;
    const int64_t m = n / 2;
    if (m == 0) {
        *df = 1.0 / (static_cast<double>(n) * dt);
        return TARQ_ANALYSIS_SUCCESS;
    }
    WorkBuffer buf;
    if (int32_t st = ForwardTransform(input, n, buf); st != TARQ_ANALYSIS_SUCCESS)
        return st;
    // From here on the input is not read again, so phase (or amplitude) may be the input array.
    fftw_complex *X = buf.data();
    X[0][1] = 0.0; // DC is real: its phase is exactly 0 or pi, never -pi from a -0.0
    const double inv = 1.0 / static_cast<double>(n);
    const double acScale = M_SQRT2 * inv;
    const bool unwrap = unwrapPhase != 0;
    ChunkEnds ends[2];
    int64_t split = m;
    if (UseSecondThread(m, kParallelFrom / 2)) {
        split = (m / 2) & ~int64_t{63};
        struct Job { const fftw_complex *X; int64_t b, e; double scale; double *amp, *phase; bool unwrap; ChunkEnds *out; };
        auto run = [](void *p) {
            auto *j = static_cast<Job *>(p);
            *j->out = AmpPhaseKernel(j->X, j->b, j->e, j->scale, j->amp, j->phase, j->unwrap);
        };
        Job first{X, 0, split, acScale, amplitude, phase, unwrap, &ends[0]};
        Job second{X, split, m, acScale, amplitude, phase, unwrap, &ends[1]};
        RunOnSecondThread(run, &second, run, &first);
    } else {
        ends[0] = AmpPhaseKernel(X, 0, m, acScale, amplitude, phase, unwrap);
    }
    if (unwrap && split < m) {
        // The second chunk was unwrapped from its own first bin: add the turns up to there.
        const double d = ends[1].firstRaw - ends[0].lastRaw;
        const double offset = ends[0].turns + static_cast<double>((d < -M_PI) - (d > M_PI));
        if (offset != 0.0) {
            const double add = kTwoPi * offset;
            for (int64_t k = split; k < m; ++k)
                phase[k] += add;
        }
    }
    amplitude[0] = std::fabs(X[0][0]) * inv; // DC is not an rms-of-sine bin: no sqrt(2)
    *df = inv / dt;
    return TARQ_ANALYSIS_SUCCESS;
}

extern "C" int32_t AutoPowerSpectrum(const double input[], int64_t n, double dt, double spectrum[], double *df)
{
    if (!input || !spectrum || !df)
        return TARQ_ANALYSIS_ERR_NULL_POINTER;
    if (n <= 0)
        return TARQ_ANALYSIS_ERR_SIZE;
    if (!PositiveFinite(dt))
        return TARQ_ANALYSIS_ERR_ARGUMENT;
    const int64_t m = n / 2;
    if (m == 0) {
        *df = 1.0 / (static_cast<double>(n) * dt);
        return TARQ_ANALYSIS_SUCCESS;
    }
    WorkBuffer buf;
    if (int32_t st = ForwardTransform(input, n, buf); st != TARQ_ANALYSIS_SUCCESS)
        return st;
    const fftw_complex *X = buf.data();
    const double inv = 1.0 / static_cast<double>(n);
    ParallelRange(m, kParallelFrom / 2,
                  [&](int64_t b, int64_t e) { PowerKernel(X, b, e, 2.0 * inv * inv, spectrum); });
    spectrum[0] = X[0][0] * X[0][0] * inv * inv;
    *df = inv / dt;
    return TARQ_ANALYSIS_SUCCESS;
}

extern "C" int32_t SpectrumUnitConversion(const double spectrum[], int64_t n, int32_t spectrumType,
                                          int32_t scalingMode, int32_t displayUnit, double df,
                                          WindowConstants constants, double converted[], char unitText[])
{
    if (!spectrum || !converted)
        return TARQ_ANALYSIS_ERR_NULL_POINTER;
    if (n <= 0)
        return TARQ_ANALYSIS_ERR_SIZE;
    if (spectrumType < TARQ_SPECTRUM_POWER || spectrumType > TARQ_SPECTRUM_GAIN)
        return TARQ_ANALYSIS_ERR_SPECTRUM_TYPE;
    if (scalingMode < TARQ_SCALING_LINEAR || scalingMode > TARQ_SCALING_DBM)
        return TARQ_ANALYSIS_ERR_SCALING;
    if (spectrumType == TARQ_SPECTRUM_GAIN && scalingMode == TARQ_SCALING_DBM)
        return TARQ_ANALYSIS_ERR_SCALING;
    if (spectrumType != TARQ_SPECTRUM_GAIN && (displayUnit < TARQ_UNIT_VRMS || displayUnit > TARQ_UNIT_VPK2_HZ))
        return TARQ_ANALYSIS_ERR_DISPLAY_UNIT;
    const bool density = spectrumType != TARQ_SPECTRUM_GAIN && displayUnit >= TARQ_UNIT_VRMS_RTHZ;
    if (density && (!PositiveFinite(df) || !PositiveFinite(constants.enbw)))
        return TARQ_ANALYSIS_ERR_ARGUMENT;

    // Every conversion is v -> gain * f(v) in linear terms: work out f's kind and the factor.
    // p = power per bin in Vrms^2 (an amplitude bin a gives a^2).
    const bool inputIsPower = spectrumType == TARQ_SPECTRUM_POWER;
    const char *text;
    if (spectrumType == TARQ_SPECTRUM_GAIN) {
        // An amplitude ratio has no unit; dB is 20 log10 of it.
        if (scalingMode == TARQ_SCALING_LINEAR) {
            if (converted != spectrum)
                std::memmove(converted, spectrum, static_cast<size_t>(n) * sizeof(double));
            text = "";
        } else {
            for (int64_t i = 0; i < n; ++i)
                converted[i] = 20.0 * std::log10(spectrum[i]);
            text = "dB";
        }
    } else {
        const bool peak = displayUnit % 2 == 1;          // Vpk units: power x 2
        const bool squared = displayUnit == TARQ_UNIT_VRMS2 || displayUnit == TARQ_UNIT_VPK2 ||
                             displayUnit == TARQ_UNIT_VRMS2_HZ || displayUnit == TARQ_UNIT_VPK2_HZ;
        double powerFactor = peak ? 2.0 : 1.0;           // on p
        if (density)
            powerFactor /= constants.enbw * df;          // per hertz of the window's noise bandwidth
        static const char *kLinear[8] = {"Vrms", "Vpk", "Vrms^2", "Vpk^2", "Vrms/rtHz", "Vpk/rtHz", "Vrms^2/Hz", "Vpk^2/Hz"};
        static const char *kDb[8] = {"dBVrms", "dBVpk", "dBVrms^2", "dBVpk^2", "dBVrms/rtHz", "dBVpk/rtHz", "dBVrms^2/Hz", "dBVpk^2/Hz"};
        if (scalingMode == TARQ_SCALING_DBM) {
            // Power into 50 ohm relative to 1 mW; the peak/rms choice does not change a power.
            const double f = (density ? 1.0 / (constants.enbw * df) : 1.0) / (50.0 * 1e-3);
            for (int64_t i = 0; i < n; ++i) {
                const double p = inputIsPower ? spectrum[i] : spectrum[i] * spectrum[i];
                converted[i] = 10.0 * std::log10(p * f);
            }
            text = density ? "dBm/Hz" : "dBm";
        } else if (!inputIsPower && !squared && powerFactor == 1.0 && scalingMode == TARQ_SCALING_LINEAR) {
            // Amplitude in Vrms to Vrms: the values already are what is asked (the instrument's
            // spectrum path); only copy when the output is another array.
            if (converted != spectrum)
                std::memmove(converted, spectrum, static_cast<size_t>(n) * sizeof(double));
            text = kLinear[displayUnit];
        } else {
            const bool db = scalingMode == TARQ_SCALING_DB;
            for (int64_t i = 0; i < n; ++i) {
                const double p = (inputIsPower ? spectrum[i] : spectrum[i] * spectrum[i]) * powerFactor;
                double v;
                if (squared)
                    v = db ? 10.0 * std::log10(p) : p;
                else
                    v = db ? 10.0 * std::log10(p) : std::sqrt(p); // 20 log10 sqrt(p) = 10 log10 p
                converted[i] = v;
            }
            text = db ? kDb[displayUnit] : kLinear[displayUnit];
        }
    }
    if (unitText) {
        std::strncpy(unitText, text, TARQ_UNIT_TEXT_SIZE - 1);
        unitText[TARQ_UNIT_TEXT_SIZE - 1] = '\0';
    }
    return TARQ_ANALYSIS_SUCCESS;
}

namespace {

int64_t ArgMax(const double *s, int64_t from, int64_t to) // [from, to), first of equal maxima
{
    int64_t best = from;
    for (int64_t i = from + 1; i < to; ++i)
        if (s[i] > s[best] || (std::isnan(s[best]) && !std::isnan(s[i])))
            best = i;
    return best;
}

struct Tone {
    double sum = 0;   // bin power summed over the lobe
    double moment = 0;
    int64_t lo = 0, hi = -1; // bins summed
};

Tone SumLobe(const double *s, int64_t n, int64_t peak, int64_t half, int64_t floor)
{
    Tone t;
    t.lo = std::max<int64_t>({peak - half, int64_t{0}, floor});
    t.hi = std::min<int64_t>(peak + half, n - 1);
    for (int64_t j = t.lo; j <= t.hi; ++j) {
        t.sum += s[j];
        t.moment += s[j] * static_cast<double>(j);
    }
    return t;
}

} // namespace

extern "C" int32_t PowerFrequencyEstimate(const double spectrum[], int64_t n, double searchFrequency,
                                          WindowConstants constants, double df, int64_t span,
                                          double *frequencyPeak, double *powerPeak)
{
    if (!spectrum || !frequencyPeak || !powerPeak)
        return TARQ_ANALYSIS_ERR_NULL_POINTER;
    if (n <= 0)
        return TARQ_ANALYSIS_ERR_SIZE;
    if (span < 1)
        return TARQ_ANALYSIS_ERR_SPAN;
    if (!PositiveFinite(df) || !PositiveFinite(constants.enbw))
        return TARQ_ANALYSIS_ERR_ARGUMENT;
    const int64_t half = span / 2;
    int64_t peak;
    const double searchBin = searchFrequency / df;
    if (!(searchFrequency >= 0) || !(searchBin < static_cast<double>(n))) {
        peak = ArgMax(spectrum, 0, n); // no (valid) search frequency: the largest peak
    } else {
        const int64_t centre = std::min<int64_t>(std::llround(searchBin), n - 1);
        peak = ArgMax(spectrum, std::max<int64_t>(0, centre - half), std::min<int64_t>(n, centre + half + 1));
    }
    const Tone t = SumLobe(spectrum, n, peak, half, 0);
    // Power: the window spreads a tone over its lobe with a total of enbw times the tone's power.
    // Frequency: the power-weighted centre of the lobe.
    *powerPeak = t.sum / constants.enbw;
    *frequencyPeak = t.sum > 0 ? df * t.moment / t.sum : df * static_cast<double>(peak);
    return TARQ_ANALYSIS_SUCCESS;
}

extern "C" int32_t HarmonicAnalyzer(const double spectrum[], int64_t spectrumSize, int64_t frameSize,
                                    int32_t harmonics, int32_t windowType, double samplingRate,
                                    double fundamental, double amplitudes[], double frequencies[],
                                    double *thdPercent, double *thdNoisePercent)
try {
    if (!spectrum || !amplitudes || !frequencies || !thdPercent || !thdNoisePercent)
        return TARQ_ANALYSIS_ERR_NULL_POINTER;
    if (spectrumSize < 3)
        return TARQ_ANALYSIS_ERR_SIZE;
    if (harmonics < 1)
        return TARQ_ANALYSIS_ERR_HARMONICS;
    if (windowType < 0 || windowType >= TARQ_WINDOW_COUNT)
        return TARQ_ANALYSIS_ERR_WINDOW_TYPE;
    if (!PositiveFinite(samplingRate) || !Finite(fundamental))
        return TARQ_ANALYSIS_ERR_ARGUMENT;
    const int64_t m = spectrumSize;
    const int64_t frame = frameSize > 0 ? frameSize : 2 * m;
    const double df = samplingRate / static_cast<double>(frame);
    const double enbw = ConstantsOf(windowType).enbw;
    const int64_t mainLobe = MainLobe(windowType);
    const int64_t dcEnd = std::min<int64_t>(mainLobe, m - 1); // bins 0..dcEnd belong to DC

    for (int32_t k = 0; k < harmonics; ++k)
        amplitudes[k] = frequencies[k] = 0.0;

    // Fundamental: the largest bin near the given frequency, or of the spectrum above DC.
    int64_t peak;
    const double fBin = fundamental / df;
    if (fundamental > 0 && fBin < static_cast<double>(m) && dcEnd + 1 < m) {
        const int64_t c = static_cast<int64_t>(std::llround(fBin));
        const int64_t lo = std::min(std::max(dcEnd + 1, c - mainLobe), m - 1);
        const int64_t hi = std::max(lo + 1, std::min(m, c + mainLobe + 1));
        peak = ArgMax(spectrum, lo, hi);
    } else {
        peak = ArgMax(spectrum, dcEnd + 1, m);
    }
    peak = std::min(peak, m - 1);
    // Wide sums for the leakage, but never wider than half the spacing of the harmonics.
    const int64_t half = std::min(HalfLobe(windowType), std::max(mainLobe, (peak - 1) / 2));
    const Tone f1 = SumLobe(spectrum, m, peak, half, dcEnd + 1);
    const double p1 = f1.sum / enbw;
    const double freq1 = f1.sum > 0 ? df * f1.moment / f1.sum : df * static_cast<double>(peak);
    amplitudes[0] = std::sqrt(p1);
    frequencies[0] = freq1;

    // Harmonics k = 2..: largest bin near k f1, each lobe summed once (lobes never overlap the
    // previous one); those above the Nyquist frequency stay 0.
    double harmonicPower = 0;
    int64_t claimedHi = f1.hi;
    std::vector<std::pair<int64_t, int64_t>> lobes;
    lobes.reserve(static_cast<size_t>(std::min<int32_t>(harmonics, 4096)));
    lobes.emplace_back(f1.lo, f1.hi);
    for (int32_t k = 2; k <= harmonics; ++k) {
        const double fk = freq1 * k;
        if (!(fk < samplingRate / 2))
            break;
        const int64_t c = static_cast<int64_t>(std::llround(fk / df));
        if (c - half >= m)
            break;
        const int64_t from = std::max<int64_t>(claimedHi + 1, c - half);
        const int64_t to = std::min<int64_t>(m, c + half + 1);
        if (from >= to)
            continue; // this harmonic's bins are already the previous tone's
        const int64_t pk = ArgMax(spectrum, from, to);
        const Tone t = SumLobe(spectrum, m, pk, half, claimedHi + 1);
        claimedHi = std::max(claimedHi, t.hi);
        lobes.emplace_back(t.lo, t.hi);
        const double pk_power = t.sum / enbw;
        harmonicPower += pk_power;
        amplitudes[k - 1] = std::sqrt(pk_power);
        frequencies[k - 1] = t.sum > 0 ? df * t.moment / t.sum : df * static_cast<double>(pk);
    }

    // THD+N: everything but DC and the fundamental. The noise under the DC and fundamental lobes
    // (and in bins set to exactly 0 by the caller) is not measurable there; it is filled in at
    // the average density of the noise-only bins, so the estimate does not depend on how many
    // bins the lobes take.
    double noiseOnly = 0, rest = 0;
    int64_t noiseBins = 0, unmeasured = dcEnd + 1 + (f1.hi - f1.lo + 1);
    size_t lobe = 0;
    for (int64_t j = dcEnd + 1; j < m; ++j) {
        if (j >= f1.lo && j <= f1.hi)
            continue;
        while (lobe < lobes.size() && lobes[lobe].second < j)
            ++lobe;
        const bool inHarmonic = lobe < lobes.size() && j >= lobes[lobe].first && lobe > 0;
        if (inHarmonic) {
            rest += spectrum[j];
        } else if (spectrum[j] == 0.0) {
            ++unmeasured;
        } else {
            noiseOnly += spectrum[j];
            ++noiseBins;
        }
    }
    const double density = noiseBins > 0 ? noiseOnly / static_cast<double>(noiseBins) : 0.0;
    const double pNoiseDistortion = (rest + noiseOnly + density * static_cast<double>(unmeasured)) / enbw;
    *thdPercent = p1 > 0 ? 100.0 * std::sqrt(harmonicPower / p1) : 0.0;
    *thdNoisePercent = p1 > 0 ? 100.0 * std::sqrt(pNoiseDistortion / p1) : 0.0;
    return TARQ_ANALYSIS_SUCCESS;
} catch (const std::bad_alloc &) {
    return TARQ_ANALYSIS_ERR_OUT_OF_MEMORY;
}

// ------------------------------------------------------------------------------------------------
// Statistics

extern "C" int32_t Sum1D(const double x[], int64_t n, double *sum)
{
    if (!x || !sum)
        return TARQ_ANALYSIS_ERR_NULL_POINTER;
    if (n <= 0)
        return TARQ_ANALYSIS_ERR_SIZE;
    *sum = SumKernel(x, n);
    return TARQ_ANALYSIS_SUCCESS;
}

extern "C" int32_t Mean(const double x[], int64_t n, double *mean)
{
    if (!x || !mean)
        return TARQ_ANALYSIS_ERR_NULL_POINTER;
    if (n <= 0)
        return TARQ_ANALYSIS_ERR_SIZE;
    *mean = SumKernel(x, n) / static_cast<double>(n);
    return TARQ_ANALYSIS_SUCCESS;
}

extern "C" int32_t RMS(const double x[], int64_t n, double *rms)
{
    if (!x || !rms)
        return TARQ_ANALYSIS_ERR_NULL_POINTER;
    if (n <= 0)
        return TARQ_ANALYSIS_ERR_SIZE;
    *rms = std::sqrt(SumSquaresKernel(x, n) / static_cast<double>(n));
    return TARQ_ANALYSIS_SUCCESS;
}

extern "C" int32_t StdDev(const double x[], int64_t n, double *mean, double *stdDev)
{
    if (!x || !stdDev)
        return TARQ_ANALYSIS_ERR_NULL_POINTER;
    if (n <= 0)
        return TARQ_ANALYSIS_ERR_SIZE;
    const Moments m = MomentsKernel(x, n);
    if (mean)
        *mean = m.mean;
    *stdDev = std::sqrt(m.m2 / static_cast<double>(n));
    return TARQ_ANALYSIS_SUCCESS;
}

extern "C" int32_t ACDCEstimator(const double x[], int64_t n, double *ac, double *dc)
{
    if (!x)
        return TARQ_ANALYSIS_ERR_NULL_POINTER;
    if (n <= 0)
        return TARQ_ANALYSIS_ERR_SIZE;
    // Hanning weights keep the part of a period that the record cuts off from biasing the DC.
    // For the periodic Hanning window of n >= 3 points sum(w) = n/2 and sum(w^2) = 3n/8 exactly;
    // the data sums are taken about the first value (a shift that keeps the squares small).
    const double shift = x[0];
    double sw, sw2, swx, sw2x, sw2xx;
    if (n < 3) { // the window would be all zeros: plain mean and rms about it
        sw = sw2 = static_cast<double>(n);
        swx = sw2x = (n == 2 ? x[1] - shift : 0.0);
        sw2xx = swx * swx;
    } else {
        // Computing the weights makes this the one statistic that is not memory-bound: large
        // records take two threads.
        double part[2][3] = {};
        struct Job { const double *x; int64_t n, b, e; double shift; double *out; };
        auto run = [](void *p) {
            auto *j = static_cast<Job *>(p);
            HanningSums(j->x, j->n, j->b, j->e, j->shift, j->out);
        };
        if (UseSecondThread(n, kParallelFrom)) {
            const int64_t split = (n / 2) & ~int64_t{511};
            Job first{x, n, 0, split, shift, part[0]}, second{x, n, split, n, shift, part[1]};
            RunOnSecondThread(run, &second, run, &first);
        } else {
            Job all{x, n, 0, n, shift, part[0]};
            run(&all);
        }
        const double sums[3] = {part[0][0] + part[1][0], part[0][1] + part[1][1], part[0][2] + part[1][2]};
        sw = 0.5 * static_cast<double>(n);
        sw2 = 0.375 * static_cast<double>(n);
        swx = sums[0];
        sw2x = sums[1];
        sw2xx = sums[2];
    }
    const double dcShifted = swx / sw;
    // sum w^2 (v - d)^2 = sum w^2 v^2 - 2 d sum w^2 v + d^2 sum w^2
    double var = (sw2xx - 2 * dcShifted * sw2x + dcShifted * dcShifted * sw2) / sw2;
    if (var < 0)
        var = 0;
    if (dc)
        *dc = shift + dcShifted;
    if (ac)
        *ac = std::sqrt(var);
    return TARQ_ANALYSIS_SUCCESS;
}

extern "C" int32_t MaxMin1D(const double x[], int64_t n, double *max, int64_t *imax, double *min, int64_t *imin)
{
    if (!x)
        return TARQ_ANALYSIS_ERR_NULL_POINTER;
    if (n <= 0)
        return TARQ_ANALYSIS_ERR_SIZE;
    double mx, mn;
    int64_t ix, in;
    MaxMinKernel(x, n, &mx, &ix, &mn, &in);
    if (max)
        *max = mx;
    if (imax)
        *imax = ix;
    if (min)
        *min = mn;
    if (imin)
        *imin = in;
    return TARQ_ANALYSIS_SUCCESS;
}

// ------------------------------------------------------------------------------------------------
// Arrays

extern "C" int32_t Reverse(const double x[], int64_t n, double out[])
{
    if (!x || !out)
        return TARQ_ANALYSIS_ERR_NULL_POINTER;
    if (n <= 0)
        return TARQ_ANALYSIS_ERR_SIZE;
    if (out == x) {
        std::reverse(out, out + n);
    } else if (out + n <= x || x + n <= out) {
        std::reverse_copy(x, x + n, out);
    } else {
        // Partly overlapping arrays: go through a copy.
        std::vector<double> tmp;
        try {
            tmp.assign(x, x + n);
        } catch (const std::bad_alloc &) {
            return TARQ_ANALYSIS_ERR_OUT_OF_MEMORY;
        }
        std::reverse_copy(tmp.begin(), tmp.end(), out);
    }
    return TARQ_ANALYSIS_SUCCESS;
}

namespace {
template <class F> int32_t Elementwise(const double *x, int64_t n, double *out, F f)
{
    if (!x || !out)
        return TARQ_ANALYSIS_ERR_NULL_POINTER;
    if (n <= 0)
        return TARQ_ANALYSIS_ERR_SIZE;
    if (ForwardSafe(out, x, n)) {
        for (int64_t i = 0; i < n; ++i)
            out[i] = f(x[i]);
    } else {
        for (int64_t i = n; i-- > 0;)
            out[i] = f(x[i]);
    }
    return TARQ_ANALYSIS_SUCCESS;
}
} // namespace

extern "C" int32_t Abs1D(const double x[], int64_t n, double out[])
{
    return Elementwise(x, n, out, [](double v) { return std::fabs(v); });
}

extern "C" int32_t LinEv1D(const double x[], int64_t n, double multiplier, double additive, double out[])
{
    return Elementwise(x, n, out, [=](double v) { return multiplier * v + additive; });
}

extern "C" int32_t Mul1D(const double x[], const double y[], int64_t n, double out[])
{
    if (!x || !y || !out)
        return TARQ_ANALYSIS_ERR_NULL_POINTER;
    if (n <= 0)
        return TARQ_ANALYSIS_ERR_SIZE;
    if (ForwardSafe(out, x, n) && ForwardSafe(out, y, n)) {
        for (int64_t i = 0; i < n; ++i)
            out[i] = x[i] * y[i];
    } else if (BackwardSafe(out, x, n) && BackwardSafe(out, y, n)) {
        for (int64_t i = n; i-- > 0;)
            out[i] = x[i] * y[i];
    } else {
        std::vector<double> tmp;
        try {
            tmp.resize(static_cast<size_t>(n));
        } catch (const std::bad_alloc &) {
            return TARQ_ANALYSIS_ERR_OUT_OF_MEMORY;
        }
        for (int64_t i = 0; i < n; ++i)
            tmp[static_cast<size_t>(i)] = x[i] * y[i];
        std::copy(tmp.begin(), tmp.end(), out);
    }
    return TARQ_ANALYSIS_SUCCESS;
}

// ------------------------------------------------------------------------------------------------
// Generation

extern "C" int32_t SineWave(int64_t n, double amplitude, double frequency, double *phase, double out[])
{
    if (!phase || (n > 0 && !out))
        return TARQ_ANALYSIS_ERR_NULL_POINTER;
    if (n < 0)
        return TARQ_ANALYSIS_ERR_SIZE;
    if (!Finite(amplitude) || !Finite(frequency) || !Finite(*phase))
        return TARQ_ANALYSIS_ERR_ARGUMENT;
    // Work in cycles: start + f i, reduced to [0, 1) before it becomes an angle, so long records
    // keep the full precision of the phase.
    const double start = *phase / 360.0;
    auto frac = [](double v) { return v - std::floor(v); };
    constexpr int64_t B = 512;
    double ct[B], st[B];
    AngleTable(frequency, std::min(B, n), ct, st);
    for (int64_t s = 0; s < n; s += B) {
        const int64_t cnt = std::min(B, n - s);
        const double a = kTwoPi * frac(start + frac(frequency * static_cast<double>(s)));
        const double sa = std::sin(a), ca = std::cos(a);
        for (int64_t j = 0; j < cnt; ++j)
            out[s + j] = amplitude * (sa * ct[j] + ca * st[j]); // sin(a + b)
    }
    double next = 360.0 * frac(start + frac(frequency * static_cast<double>(n)));
    if (next >= 360.0)
        next = 0.0;
    *phase = next;
    return TARQ_ANALYSIS_SUCCESS;
}

namespace {
std::mutex g_randomMutex;
std::mt19937_64 &Generator()
{
    static std::mt19937_64 gen{std::random_device{}()};
    return gen;
}
} // namespace

extern "C" void SetRandomSeed(int32_t seed)
{
    std::lock_guard lock(g_randomMutex);
    Generator().seed(seed != 0 ? static_cast<uint64_t>(static_cast<uint32_t>(seed)) : std::random_device{}());
}

extern "C" double Random(double minimum, double maximum)
{
    uint64_t bits;
    {
        std::lock_guard lock(g_randomMutex);
        bits = Generator()();
    }
    const double u = static_cast<double>(bits >> 11) * 0x1.0p-53; // [0, 1)
    return minimum + (maximum - minimum) * u;
}

extern "C" int64_t RoundRealToNearestInteger(double x)
{
    if (std::isnan(x))
        return 0;
    if (x >= 9223372036854775807.0)
        return std::numeric_limits<int64_t>::max();
    if (x <= -9223372036854775808.0)
        return std::numeric_limits<int64_t>::min();
    // Halves to even, independent of the thread's floating-point rounding mode.
    const double f = std::floor(x);
    const double d = x - f;
    double r = f;
    if (d > 0.5 || (d == 0.5 && std::fmod(f, 2.0) != 0.0))
        r = f + 1.0;
    return static_cast<int64_t>(r);
}
