#pragma once

#include "analysis.h"

#include <cmath>
#include <complex>
#include <vector>

namespace tarq_test {

constexpr double kDbmRef = 0.22360679774997896; // sqrt(1 mW * 50 ohm)

// Straight DFT in long double: the reference the transforms are checked against.
inline std::vector<std::complex<long double>> NaiveDft(const std::vector<double> &x)
{
    const size_t n = x.size();
    std::vector<std::complex<long double>> out(n / 2 + 1);
    for (size_t k = 0; k <= n / 2; ++k) {
        std::complex<long double> s = 0;
        for (size_t i = 0; i < n; ++i) {
            long double a = -2.0L * 3.14159265358979323846264338327950288L * (long double)((k * i) % n) / (long double)n;
            s += (long double)x[i] * std::complex<long double>(std::cos(a), std::sin(a));
        }
        out[k] = s;
    }
    return out;
}

inline std::vector<double> Tone(size_t n, double cyclesPerRecord, double amplitude, double phase = 0.3)
{
    std::vector<double> x(n);
    for (size_t i = 0; i < n; ++i)
        x[i] = amplitude * std::sin(2.0 * M_PI * cyclesPerRecord * (double)i / (double)n + phase);
    return x;
}

} // namespace tarq_test
