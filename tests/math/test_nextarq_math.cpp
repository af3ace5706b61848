#include "nextarq_math.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kMax = std::numeric_limits<double>::max();

// ---------------------------------------------------------------- nextarq_math_povCheckValueAbs

struct AbsCase {
  const char *what;
  double value, stdvalue, stddelta;
  int32_t result;
  double delta;
};

TEST(PovCheckValueAbs, RoundsToSevenDigitsAndWidensTheTolerance) {
  const AbsCase cases[] = {
      {"both round to 1.000000e+00", 1.0, 1.0000000004, 0.0, 0, 0.0},
      {"rounding keeps the 7th digit apart", 1.0000004, 1.0000006, 0.0, 1, 1e-6},
      {"deviation equal to the tolerance", 10.0, 10.5, 0.5, 0, 0.5},
      {"deviation beyond the tolerance", 10.0, 10.5, 0.49, 1, 0.5},
      {"binary excess absorbed by the widening", 1.1, 1.0, 0.1, 0, 0.1},
      {"negative values", -3.25, -3.5, 0.25, 0, 0.25},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    double delta = -1;
    EXPECT_EQ(nextarq_math_povCheckValueAbs(c.value, c.stdvalue, c.stddelta, &delta), c.result);
    EXPECT_NEAR(delta, c.delta, 1e-12);
    EXPECT_EQ(nextarq_math_povCheckValueAbs(c.value, c.stdvalue, c.stddelta, nullptr), c.result);
  }
}

TEST(PovCheckValueAbs, NonFiniteAndHugeValuesFail) {
  double delta = 0;
  EXPECT_EQ(nextarq_math_povCheckValueAbs(kNaN, 1.0, 1.0, &delta), 1);
  EXPECT_TRUE(std::isnan(delta));
  EXPECT_EQ(nextarq_math_povCheckValueAbs(kInf, kInf, 1.0, &delta), 1);
  EXPECT_EQ(nextarq_math_povCheckValueAbs(kMax, -kMax, 1.0, &delta), 1);
  EXPECT_EQ(delta, kInf);
  EXPECT_EQ(nextarq_math_povCheckValueAbs(1.0, 2.0, kNaN, &delta), 1);
}

// ---------------------------------------------------------------- nextarq_math_povCheckValueProc

struct ProcCase {
  const char *what;
  double prcrange, stdval, val, stdprc;
  int32_t result;
  const char *stdstr;
  const char *prcstr;
};

// prcrange 100 with stdval 0 makes the deviation in percent equal to val.
const ProcCase kProcCases[] = {
    // Every row of both tables, positive and negative deviations.
    {"k=0 +", 100, 0, 12, 15, 0, "    15", "     12"},
    {"k=0 -", 100, 0, -12, 15, 0, "    15", "   -12"},
    {"k=-1 +", 100, 0, 1.2, 1.5, 0, "   1.5", "    1.2"},
    {"k=-1 -", 100, 0, -1.2, 1.5, 0, "   1.5", "  -1.2"},
    {"k=-1 - below one", 100, 0, -0.5, 1.5, 0, "   1.5", "  -0.5"},
    {"k=-2 +", 100, 0, 0.12, 0.15, 0, "  0.15", "   0.12"},
    {"k=-2 -", 100, 0, -0.12, 0.15, 0, "  0.15", "  -0.12"},
    {"k=-3 +", 100, 0, 0.012, 0.015, 0, " 0.015", "  0.012"},
    {"k=-3 -", 100, 0, -0.012, 0.015, 0, " 0.015", " -0.012"},
    {"k=-4 +", 100, 0, 0.0012, 0.0015, 0, "0.0015", " 0.0012"},
    {"k=-4 -", 100, 0, -0.0012, 0.0015, 0, "0.0015", "-0.0012"},
    {"k=-5 +", 100, 0, 0.00012, 0.00015, 0, "0.00015", " 0.00012"},
    {"k=-5 -", 100, 0, -0.00012, 0.00015, 0, "0.00015", "-0.00012"},
    {"k>0 +", 100, 0, 12, 150, 0, "1.5e+02", ">100.0"},
    {"k>0 -", 100, 0, -12, 150, 0, "1.5e+02", "> -100.0"},
    {"k<-5 +", 100, 0, 1.2e-5, 1.5e-5, 0, "1.5e-05", "1.2e-05"},
    {"k<-5 -", 100, 0, -1.2e-5, 1.5e-5, 0, "1.5e-05", "-1.2e-05"},
    // Worked examples.
    {"within", 10, 5, 5.012, 0.15, 0, "  0.15", "   0.12"},
    {"beyond, negative", 10, 5, 4.98, 0.15, 1, "  0.15", "  -0.20"},
    {"equal values", 10, 5, 5, 0.15, 0, "  0.15", "   0.00"},
    {"below half a unit counts as one", 10, 5, 5.0001, 0.15, 0, "  0.15", "   0.01"},
    {"one unit against nothing permitted", 10, 5, 5.0001, 0.0, 1, "   0.0", "    0.1"},
    {"nothing permitted, nothing deviates", 10, 5, 5, 0.0, 0, "   0.0", "    0.0"},
    // 9.96 rounds up across the decade: 100 units of 0.1.
    {"9.96 within", 100, 0, 9.5, 9.96, 0, "  10.0", "    9.5"},
    {"9.96 at the limit", 100, 0, 10.04, 9.96, 0, "  10.0", "     10"},
    {"9.96 just beyond", 100, 0, 10.06, 9.96, 1, "  10.0", "     10"},
    // The deviation is brought back to two digits, one decade at a time.
    {"two decades up", 100, 0, 12.3, 0.15, 1, "  0.15", "     12"},
    {"into the overflow row", 100, 0, 99.6, 15, 1, "    15", ">100.0"},
    // Zero range, non-finite and huge inputs take the overflow branch.
    {"zero range +", 0, 5, 5.1, 0.15, 1, "  0.15", ">100.0"},
    {"zero range -", 0, 5, 4.9, 0.15, 1, "  0.15", "> -100.0"},
    {"zero range, equal values", 0, 5, 5, 0.15, 1, "  0.15", ">100.0"},
    {"NaN value", 10, 5, kNaN, 0.15, 1, "  0.15", ">100.0"},
    {"infinite value", 10, 5, -kInf, 0.15, 1, "  0.15", "> -100.0"},
    {"ratio beyond any integer", 1e-300, 0, 1, 0.15, 1, "  0.15", ">100.0"},
    {"largest integer deviation", 100, 0, 2147.483647, 1.5e-5, 1, "1.5e-05", ">100.0"},
    {"just past the largest integer", 100, 0, 2147.4836475, 1.5e-5, 1, "1.5e-05", ">100.0"},
    // Permitted errors that mean nothing permit nothing.
    {"negative permitted error", 10, 5, 5.012, -0.15, 1, "  0.00", "   0.12"},
    {"NaN permitted error", 10, 5, 5.012, kNaN, 1, "nan", "   0.12"},
    {"infinite permitted error", 10, 5, 5.012, kInf, 1, "inf", "   0.12"},
    {"huge negative permitted error", 10, 5, 5, -1.5e300, 0, "-1.5e+300", ">100.0"},
    {"subnormal permitted error, equal values", 10, 5, 5, 1e-310, 0, "1.0e-310", "0.0e+00"},
};

TEST(PovCheckValueProc, TablesAndVerdicts) {
  for (const auto &c : kProcCases) {
    SCOPED_TRACE(c.what);
    // Sentinels past the 16 bytes a text may take show any overrun.
    char stdstr[32], prcstr[32];
    std::memset(stdstr, 'X', sizeof stdstr);
    std::memset(prcstr, 'X', sizeof prcstr);
    EXPECT_EQ(nextarq_math_povCheckValueProc(c.prcrange, c.stdval, c.val, c.stdprc, stdstr, prcstr), c.result);
    ASSERT_NE(std::memchr(stdstr, '\0', NEXTARQ_MATH_TEXT_SIZE), nullptr);
    ASSERT_NE(std::memchr(prcstr, '\0', NEXTARQ_MATH_TEXT_SIZE), nullptr);
    EXPECT_EQ(std::string(stdstr), c.stdstr);
    EXPECT_EQ(std::string(prcstr), c.prcstr);
    for (std::size_t i = NEXTARQ_MATH_TEXT_SIZE; i < sizeof stdstr; ++i) {
      ASSERT_EQ(stdstr[i], 'X');
      ASSERT_EQ(prcstr[i], 'X');
    }
  }
}

TEST(PovCheckValueProc, NullTextsAreSkipped) {
  for (const auto &c : kProcCases) {
    SCOPED_TRACE(c.what);
    char text[NEXTARQ_MATH_TEXT_SIZE];
    EXPECT_EQ(nextarq_math_povCheckValueProc(c.prcrange, c.stdval, c.val, c.stdprc, nullptr, nullptr), c.result);
    EXPECT_EQ(nextarq_math_povCheckValueProc(c.prcrange, c.stdval, c.val, c.stdprc, text, nullptr), c.result);
    EXPECT_STREQ(text, c.stdstr);
    EXPECT_EQ(nextarq_math_povCheckValueProc(c.prcrange, c.stdval, c.val, c.stdprc, nullptr, text), c.result);
    EXPECT_STREQ(text, c.prcstr);
  }
}

// A locale with a decimal comma must change neither the parsing of the rounded values nor the texts.
TEST(Locale, DecimalCommaLocaleChangesNothing) {
  const char *names[] = {"ru_RU.UTF-8", "ru_RU.utf8", "de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8"};
  const char *found = nullptr;
  for (const char *n : names) {
    if (std::setlocale(LC_NUMERIC, n) != nullptr) {
      found = n;
      break;
    }
  }
  if (found == nullptr) GTEST_SKIP() << "no locale with a decimal comma is installed";
  char stdstr[NEXTARQ_MATH_TEXT_SIZE], prcstr[NEXTARQ_MATH_TEXT_SIZE];
  const int32_t result = nextarq_math_povCheckValueProc(100, 0, -1.2e-5, 1.5e-5, stdstr, prcstr);
  double delta = 0;
  const int32_t abs = nextarq_math_povCheckValueAbs(10.0, 10.5, 0.5, &delta);
  std::setlocale(LC_NUMERIC, "C");
  EXPECT_EQ(result, 0);
  EXPECT_STREQ(stdstr, "1.5e-05");
  EXPECT_STREQ(prcstr, "-1.2e-05");
  EXPECT_EQ(abs, 0);
  EXPECT_EQ(delta, 0.5);
}

// ---------------------------------------------------------------- nextarq_math_translateKDN

TEST(TranslateKDN, MultipliesInExtendedPrecision) {
  double k = 0, dn = 0;
  nextarq_math_translateKDN(2, 3, 4, 5, 0.5, &k, &dn);
  EXPECT_EQ(k, 120.0);
  EXPECT_EQ(dn, 60.0);
  // 1e308 * 4 overflows a double but not the extended intermediate.
  nextarq_math_translateKDN(1e308, 4, 0.25, 1, 0.5, &k, &dn);
  EXPECT_EQ(k, 1e308);
  EXPECT_EQ(dn, 5e307);
  nextarq_math_translateKDN(kMax, 2, 0.5, 1, 1, &k, &dn);
  EXPECT_EQ(k, kMax);
  // A product beyond any double is infinite with its sign.
  nextarq_math_translateKDN(1e300, 1e300, 1e300, 1e300, 1, &k, &dn);
  EXPECT_EQ(k, kInf);
  EXPECT_EQ(dn, kInf);
  nextarq_math_translateKDN(-1e300, 1e300, 1e300, 1, 2, &k, &dn);
  EXPECT_EQ(k, -kInf);
  EXPECT_EQ(dn, -kInf);
  nextarq_math_translateKDN(kNaN, 1, 1, 1, 1, &k, &dn);
  EXPECT_TRUE(std::isnan(k));
  EXPECT_TRUE(std::isnan(dn));
}

TEST(TranslateKDN, NullPointerWritesNothing) {
  double k = -7, dn = -7;
  nextarq_math_translateKDN(2, 3, 4, 5, 6, nullptr, &dn);
  EXPECT_EQ(dn, -7);
  nextarq_math_translateKDN(2, 3, 4, 5, 6, &k, nullptr);
  EXPECT_EQ(k, -7);
  nextarq_math_translateKDN(2, 3, 4, 5, 6, nullptr, nullptr);
}

}  // namespace
