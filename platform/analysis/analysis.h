/* TARQ signal analysis library: windows, spectra, tone and harmonic analysis, statistics and
 * array operations on 64-bit floating-point arrays, with FFTW3 real-to-complex transforms.
 *
 * Conventions
 *  - Every operation that can fail returns an int32_t status: 0 success, negative error
 *    (TARQ_ANALYSIS_ERR_*). Nothing is written to the outputs of a call that fails, except where
 *    a function says otherwise.
 *  - Counts and indices are int64_t; a count of 0 or less is TARQ_ANALYSIS_ERR_SIZE unless a
 *    function says otherwise.
 *  - Outputs may alias inputs wherever an operation is element-wise (Reverse, Abs1D, LinEv1D,
 *    Mul1D, SpectrumUnitConversion) and the phase (or amplitude) output of AmpPhaseSpectrum may
 *    be the input array itself: the input is fully read before any output is written.
 *  - All functions are thread-safe. Transform plans are cached per length; see
 *    TarqAnalysisConfigure and TarqAnalysisReleaseMemory for the memory that stays held.
 */
#ifndef TARQ_PLATFORM_ANALYSIS_H
#define TARQ_PLATFORM_ANALYSIS_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* ---- statuses ------------------------------------------------------------------------------ */
#define TARQ_ANALYSIS_SUCCESS              0
#define TARQ_ANALYSIS_ERR_OUT_OF_MEMORY    (-20001) /* a working buffer could not be allocated */
#define TARQ_ANALYSIS_ERR_NULL_POINTER     (-20002) /* a required array or output pointer is NULL */
#define TARQ_ANALYSIS_ERR_SIZE             (-20003) /* count too small (or too large) for the operation */
#define TARQ_ANALYSIS_ERR_WINDOW_TYPE      (-20004) /* window type outside 0..6 */
#define TARQ_ANALYSIS_ERR_ARGUMENT         (-20005) /* dt, df, rate or frequency not finite and positive */
#define TARQ_ANALYSIS_ERR_SPECTRUM_TYPE    (-20006) /* spectrum type outside 0..2 */
#define TARQ_ANALYSIS_ERR_SCALING          (-20007) /* scaling mode outside 0..2, or dBm of a gain spectrum */
#define TARQ_ANALYSIS_ERR_DISPLAY_UNIT     (-20008) /* display unit outside 0..7 */
#define TARQ_ANALYSIS_ERR_TRANSFORM        (-20009) /* FFTW could not make a plan for this length */
#define TARQ_ANALYSIS_ERR_HARMONICS        (-20010) /* number of harmonics below 1 */
#define TARQ_ANALYSIS_ERR_SPAN             (-20011) /* frequency span below 1 bin */

/* Text of a status: language 0 Russian, otherwise English. Never NULL. */
const char *TarqAnalysisStatusText(int32_t status, int32_t language);

/* ---- windows ------------------------------------------------------------------------------- */
/* Window types: the indices of the spectrum's window ring. All are periodic ("DFT-even")
 * cosine-sum windows w[i] = sum_k (-1)^k a_k cos(2 pi k i / n), i = 0 .. n-1. */
#define TARQ_WINDOW_NONE             0
#define TARQ_WINDOW_HANNING          1
#define TARQ_WINDOW_HAMMING          2
#define TARQ_WINDOW_BLACKMAN_HARRIS  3 /* three-term, -67 dB side lobes */
#define TARQ_WINDOW_EXACT_BLACKMAN   4
#define TARQ_WINDOW_BLACKMAN         5
#define TARQ_WINDOW_FLAT_TOP         6 /* five-term flat top */
#define TARQ_WINDOW_COUNT            7

typedef struct WindowConstants {
    double enbw;         /* equivalent noise bandwidth in bins: n sum(w^2) / (sum w)^2 */
    double coherentGain; /* mean of the unscaled window, sum(w) / n; the scaling divided it out */
} WindowConstants;

/* Multiplies x in place by the window divided by its coherent gain, so that a sine on a bin
 * centre keeps its amplitude in the spectra below; returns the window's constants. */
int32_t ScaledWindow(double x[], int64_t n, int32_t windowType, WindowConstants *constants);
/* The same; windowParameter is reserved for parametric windows and ignored by the seven types. */
int32_t ScaledWindowEx(double x[], int64_t n, int32_t windowType, double windowParameter,
                       WindowConstants *constants);
/* Constants of a window type without applying it. */
int32_t TarqWindowConstants(int32_t windowType, WindowConstants *constants);

/* ---- spectra ------------------------------------------------------------------------------- */
/* Single-sided spectra of n real samples taken every dt seconds. Both write n/2 values
 * (integer division; bins 0 .. n/2-1, the Nyquist bin of an even n is not part of them) and
 * df = 1 / (n dt). n = 1 is valid and writes no bins.
 *   amplitude[0] = |X0| / n, amplitude[k] = sqrt(2) |Xk| / n   (Vrms for a signal in volts)
 *   phase[k] = arg Xk in radians, in [-pi, pi] (DC: 0 or pi), or unwrapped from bin 0 on
 *              (successive bins differ by at most pi) when unwrapPhase is nonzero
 *   spectrum[0] = X0^2 / n^2, spectrum[k] = 2 |Xk|^2 / n^2      (Vrms^2) */
int32_t AmpPhaseSpectrum(const double input[], int64_t n, int32_t unwrapPhase, double dt,
                         double amplitude[], double phase[], double *df);
int32_t AutoPowerSpectrum(const double input[], int64_t n, double dt, double spectrum[], double *df);

/* Spectrum types, scaling modes and display units of SpectrumUnitConversion. */
#define TARQ_SPECTRUM_POWER      0 /* Vrms^2 per bin */
#define TARQ_SPECTRUM_AMPLITUDE  1 /* Vrms per bin */
#define TARQ_SPECTRUM_GAIN       2 /* amplitude ratio (display unit ignored) */
#define TARQ_SCALING_LINEAR      0
#define TARQ_SCALING_DB          1 /* 20 log10 of amplitude units, 10 log10 of power units */
#define TARQ_SCALING_DBM         2 /* power into 50 ohm relative to 1 mW (per Hz for densities) */
#define TARQ_UNIT_VRMS           0
#define TARQ_UNIT_VPK            1
#define TARQ_UNIT_VRMS2          2
#define TARQ_UNIT_VPK2           3
#define TARQ_UNIT_VRMS_RTHZ      4 /* densities divide the bin power by enbw * df */
#define TARQ_UNIT_VPK_RTHZ       5
#define TARQ_UNIT_VRMS2_HZ       6
#define TARQ_UNIT_VPK2_HZ        7
#define TARQ_UNIT_TEXT_SIZE      16 /* bytes the unit text may take, with its terminating NUL */

/* Converts n values; converted may be spectrum itself. unitText (may be NULL) receives the unit,
 * e.g. "Vrms", "dBVrms", "dBm/Hz". A bin of 0 converted to dB or dBm gives -infinity. */
int32_t SpectrumUnitConversion(const double spectrum[], int64_t n, int32_t spectrumType,
                               int32_t scalingMode, int32_t displayUnit, double df,
                               WindowConstants constants, double converted[], char unitText[]);

/* Frequency and power of the tone around a peak of a power spectrum (AutoPowerSpectrum of a
 * ScaledWindow'ed record): the peak is the largest bin within +-span/2 bins of searchFrequency,
 * or of the whole spectrum when searchFrequency is negative or outside it; over the bins
 * j = peak-span/2 .. peak+span/2 (clipped to the spectrum)
 *   frequency = df sum(S[j] j) / sum(S[j]),  power = sum(S[j]) / enbw. */
int32_t PowerFrequencyEstimate(const double spectrum[], int64_t n, double searchFrequency,
                               WindowConstants constants, double df, int64_t span,
                               double *frequencyPeak, double *powerPeak);

/* Fundamental and harmonics of a power spectrum of frameSize samples (frameSize <= 0 means
 * 2 * spectrumSize). harmonics counts the fundamental; amplitudes (Vrms) and frequencies receive
 * `harmonics` values, 0 for harmonics above the Nyquist frequency. THD and THD+N are in percent
 * of the fundamental:
 *   THD   = 100 sqrt(P2 + ... + Pk) / sqrt(P1)
 *   THD+N = 100 sqrt(Ptotal - P1 - Pdc) / sqrt(P1)
 * so that SINAD = -20 log10(THD+N / 100) and SNR follows from SINAD and THD. Each tone (and DC)
 * is the sum of the bins within a window-dependent half width of its peak bin (None 3,
 * Hanning 24, Hamming / Blackman-Harris / exact Blackman 8, Blackman / flat top 12, but at most
 * half the fundamental's distance from DC and at least the main lobe) divided by the ENBW; DC
 * takes the main lobe (1, 2, 2, 3, 3, 3, 5 bins); harmonic k is the largest bin near k times the
 * measured fundamental. The noise under the DC and fundamental lobes, and in bins that are
 * exactly 0 (set so by the caller), is counted at the mean density of the noise-only bins. */
int32_t HarmonicAnalyzer(const double spectrum[], int64_t spectrumSize, int64_t frameSize,
                         int32_t harmonics, int32_t windowType, double samplingRate,
                         double fundamental, double amplitudes[], double frequencies[],
                         double *thdPercent, double *thdNoisePercent);

/* ---- statistics ---------------------------------------------------------------------------- */
int32_t Mean(const double x[], int64_t n, double *mean);
/* Population standard deviation sqrt(sum (x - mean)^2 / n); mean may be NULL. */
int32_t StdDev(const double x[], int64_t n, double *mean, double *stdDev);
int32_t RMS(const double x[], int64_t n, double *rms);
/* DC and AC (rms about the DC) levels of a Hanning-weighted record:
 * dc = sum(w x) / sum(w),  ac = sqrt(sum(w^2 (x - dc)^2) / sum(w^2)). Either output may be NULL. */
int32_t ACDCEstimator(const double x[], int64_t n, double *ac, double *dc);
/* First index of the maximum and of the minimum; NaN values are skipped (all NaN: NaN, index -1).
 * Any output may be NULL. */
int32_t MaxMin1D(const double x[], int64_t n, double *max, int64_t *imax, double *min, int64_t *imin);
int32_t Sum1D(const double x[], int64_t n, double *sum);

/* ---- arrays -------------------------------------------------------------------------------- */
int32_t Reverse(const double x[], int64_t n, double out[]);
int32_t Abs1D(const double x[], int64_t n, double out[]);
int32_t LinEv1D(const double x[], int64_t n, double multiplier, double additive, double out[]);
int32_t Mul1D(const double x[], const double y[], int64_t n, double out[]);

/* ---- signal generation --------------------------------------------------------------------- */
/* out[i] = amplitude sin(2 pi frequency i + phase pi / 180), frequency in cycles per sample and
 * phase in degrees; on return *phase is the phase of sample n in [0, 360), so that consecutive
 * calls continue one sine. n = 0 is valid and only leaves the phase as it is. */
int32_t SineWave(int64_t n, double amplitude, double frequency, double *phase, double out[]);
/* Uniform random number in [minimum, maximum). Thread-safe; seeded from the system unless
 * SetRandomSeed was given a nonzero seed (0 reseeds from the system). */
double Random(double minimum, double maximum);
void SetRandomSeed(int32_t seed);
/* Nearest integer, halves to even; NaN gives 0, values beyond the range saturate. */
int64_t RoundRealToNearestInteger(double x);

/* ---- library settings ---------------------------------------------------------------------- */
/* useWisdom: read and write FFTW wisdom in $XDG_CACHE_HOME/tarq (default ~/.cache/tarq).
 * measureSeconds: time limit of the background FFTW_MEASURE planning of each new length
 * (0 turns it off). Defaults: wisdom on, 600 s, or TARQ_FFTW_WISDOM=0 / TARQ_FFTW_MEASURE_SECONDS
 * from the environment. Takes effect for lengths planned afterwards. */
int32_t TarqAnalysisConfigure(int32_t useWisdom, double measureSeconds);
/* Memory held between calls: one idle work buffer of (n/2 + 1) complex values for the most
 * recent transform of at least 256 KiB of bins (for 33,554,431 samples 256 MiB), reused by any
 * later transform it fits (up to twice the need); per thread that ran a shorter transform, one
 * 256 KiB buffer and its last short plan and window (freed when the thread ends); the plans of
 * the 16 most recently used lengths; up to four windows of at most 64 Ki points.
 * Releases the idle work buffer and all cached plans (waits for background planning to stop).
 * Returns the number of bytes of work buffer released. */
int64_t TarqAnalysisReleaseMemory(void);
/* Bytes of idle work buffer currently held for reuse. */
int64_t TarqAnalysisHeldBytes(void);
/* Blocks until background planning has nothing left to do (for tools and tests). */
void TarqAnalysisWaitForBackgroundPlanning(void);

#ifdef __cplusplus
}
#endif

#endif
