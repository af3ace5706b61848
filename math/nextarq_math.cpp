// Verification arithmetic. Numbers are written and read with std::to_chars/std::from_chars, which
// behave as printf/scanf in the C locale whatever the process locale is, and keep no state, so every
// function here is safe to call from several threads.
#include "nextarq_math.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

namespace {

// Room for any formatted number; what reaches the caller is always shorter than
// NEXTARQ_MATH_TEXT_SIZE with its terminating zero (every text of the tables is).
struct Text {
  std::array<char, 32> chars{};
};

template <typename... Args>
Text format(const char *fmt, Args... args) {
  // Only integer conversions pass through printf: they do not depend on the locale.
  Text t;
  std::snprintf(t.chars.data(), t.chars.size(), fmt, args...);
  return t;
}

// printf's "%.<precision>e" in the C locale.
Text scientific(double v, int precision) {
  Text t;
  auto res = std::to_chars(t.chars.data(), t.chars.data() + t.chars.size() - 1, v,
                           std::chars_format::scientific, precision);
  *res.ptr = '\0';  // on failure ptr is the end of the buffer, so the text is merely cut short
  return t;
}

void put(char *dst, const Text &t) {
  if (dst == nullptr) return;
  const std::size_t n = std::min<std::size_t>(std::strlen(t.chars.data()), NEXTARQ_MATH_TEXT_SIZE - 1);
  std::memcpy(dst, t.chars.data(), n);
  dst[n] = '\0';
}

// Rounds to 7 significant digits the way the protocol writes the value: "%.6e" and back.
double round7(double v) {
  Text t = scientific(v, 6);
  const char *end = t.chars.data() + std::strlen(t.chars.data());
  double out = v;
  if (std::from_chars(t.chars.data(), end, out).ec != std::errc{}) return v;
  return out;
}

// The permitted error reduced to two significant digits: r units of 10^k.
struct Permitted {
  int r;
  int k;
};

Permitted reducePermitted(double stdprc) {
  // "%.2e" gives d.dde<E>; the third digit is then rounded away, half up.
  Text t = scientific(stdprc, 2);
  const char *s = t.chars.data();
  const char *e = std::strrchr(s, 'e');
  if (e == nullptr) {
    // Not a number or infinite: nothing is permitted, the value itself is shown ("%3.1e"), and the
    // deviation starts from the finest unit and is brought to two digits like any other.
    return {0, -6};
  }
  const char *p = e + 1;
  if (*p == '+') ++p;
  int exponent = 0;
  std::from_chars(p, s + std::strlen(s), exponent);
  // Zero or a negative permitted error is meaningless; it permits nothing.
  int r = 0;
  if (stdprc > 0) {
    const int m = (s[0] - '0') * 100 + (s[2] - '0') * 10 + (s[3] - '0');
    r = (m + 5) / 10;
  }
  return {r, exponent - 1};
}

Text permittedText(const Permitted &pe, double stdprc) {
  const int r = pe.r;
  switch (pe.k) {
  case 0: return format("%6d", r);
  case -1: return format("%4d.%d", r / 10, r % 10);
  case -2: return format("  0.%d%d", r / 10, r % 10);
  case -3: return format(" 0.0%d%d", r / 10, r % 10);
  case -4: return format("0.00%d%d", r / 10, r % 10);
  case -5: return format("0.000%d%d", r / 10, r % 10);
  default: return scientific(stdprc, 1);
  }
}

// o is the deviation in units of 10^k, below 100 except after an overflow (then k = 1).
Text deviationText(long long o, int k, bool negative, double x) {
  const int a = static_cast<int>(o / 10);
  const int b = static_cast<int>(o % 10);
  if (k > 0) return format(negative ? "> -100.0" : ">100.0");
  if (k < -5) return scientific(negative ? -x : x, 1);
  if (!negative) {
    switch (k) {
    case 0: return format(" %6d", static_cast<int>(o));
    case -1: return format(" %4d.%d", a, b);
    case -2: return format("   0.%d%d", a, b);
    case -3: return format("  0.0%d%d", a, b);
    case -4: return format(" 0.00%d%d", a, b);
    default: return format(" 0.000%d%d", a, b);
    }
  }
  switch (k) {
  case 0: return format("%6d", -static_cast<int>(o));
  case -1: {
    const Text plain = format("-%d.%d", a, b);
    return format("%6s", plain.chars.data());
  }
  case -2: return format("  -0.%d%d", a, b);
  case -3: return format(" -0.0%d%d", a, b);
  case -4: return format("-0.00%d%d", a, b);
  default: return format("-0.000%d%d", a, b);
  }
}

// Rounds an extended-precision product to double; out of range it becomes infinite (or the largest
// double just above it) as the hardware rounding would, without an out-of-range conversion.
double narrow(long double p) {
  constexpr long double kMax = std::numeric_limits<double>::max();
  if (std::isnan(p) || std::fabs(p) <= kMax) return static_cast<double>(p);
  if (std::numeric_limits<long double>::max_exponent <= std::numeric_limits<double>::max_exponent) {
    return p > 0 ? std::numeric_limits<double>::infinity() : -std::numeric_limits<double>::infinity();
  }
  // Halfway between the largest double and 2^1024; a tie goes to the even side, 2^1024 = infinity.
  const long double half = kMax + std::ldexp(1.0L, std::numeric_limits<double>::max_exponent -
                                                        std::numeric_limits<double>::digits - 1);
  const double big = std::fabs(p) >= half ? std::numeric_limits<double>::infinity()
                                          : std::numeric_limits<double>::max();
  return p > 0 ? big : -big;
}

}  // namespace

extern "C" {

NEXTARQ_MATH_API int32_t NEXTARQ_MATH_CALL nextarq_math_povCheckValueAbs(double value, double stdvalue,
                                                                         double stddelta, double *delta) {
  const double d = std::fabs(round7(value) - round7(stdvalue));
  // The widening keeps a deviation equal to the tolerance inside it despite binary fractions.
  const int32_t result = stddelta * 1.000000001 >= d ? 0 : 1;
  if (delta != nullptr) *delta = d;
  return result;
}

NEXTARQ_MATH_API int32_t NEXTARQ_MATH_CALL nextarq_math_povCheckValueProc(double prcrange, double stdval,
                                                                          double val, double stdprc,
                                                                          char *stdstr, char *prcstr) {
  double x = 100.0 * (val - stdval) / prcrange;
  const bool negative = x < 0;
  if (negative) x = -x;

  const Permitted pe = reducePermitted(stdprc);
  put(stdstr, permittedText(pe, stdprc));

  int k = pe.k;
  long long o = 0;
  int32_t result = 1;
  // Deviation in units of the last digit of the permitted error, rounded. Decided before converting:
  // a zero range, infinities, NaN or a huge ratio do not fit and count as far beyond any tolerance.
  const double scaled = x == 0 ? 0.0 : x * std::pow(10.0, -k);
  const double rounded = scaled + 0.5;
  if (!(rounded < 2147483648.0)) {
    k = 1;
    o = 9999999;
    result = 1;
  } else {
    o = static_cast<int32_t>(rounded);
    // A deviation too small to show is still a deviation.
    if (o == 0 && val != stdval) o = 1;
    result = pe.r + 1e-21 >= static_cast<double>(o) ? 0 : 1;
    while (o >= 100) {
      o = (o + 5) / 10;
      ++k;
    }
  }
  put(prcstr, deviationText(o, k, negative, x));
  return result;
}

NEXTARQ_MATH_API void NEXTARQ_MATH_CALL nextarq_math_translateKDN(double K1, double K2, double K3, double K4,
                                                                  double K5, double *K, double *DN) {
  if (K == nullptr || DN == nullptr) return;
  long double p = static_cast<long double>(K1) * K2;
  p *= K3;
  p *= K4;
  const double k = narrow(p);
  *K = k;
  *DN = k * K5;
}

}  // extern "C"
