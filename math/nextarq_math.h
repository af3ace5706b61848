/* Verification arithmetic for an outside metrological-check program: tolerance checks in absolute
 * terms and in percent of a range, protocol texts of the permitted and actual errors, and the product
 * of correction factors. Stateless; every function works only on its arguments and may be called from
 * several threads at once. */
#ifndef NEXTARQ_MATH_H
#define NEXTARQ_MATH_H

#include <stdint.h>

#if defined(_WIN32)
#  define NEXTARQ_MATH_CALL __stdcall
#  if defined(NEXTARQ_MATH_BUILD)
#    define NEXTARQ_MATH_API __declspec(dllexport)
#  else
#    define NEXTARQ_MATH_API __declspec(dllimport)
#  endif
#else
#  if defined(__i386__)
#    define NEXTARQ_MATH_CALL __attribute__((stdcall))
#  else
#    define NEXTARQ_MATH_CALL
#  endif
#  define NEXTARQ_MATH_API __attribute__((visibility("default")))
#endif

/* Longest text the percentage check writes, terminating zero included. */
#define NEXTARQ_MATH_TEXT_SIZE 16

#ifdef __cplusplus
extern "C" {
#endif

/* 0 when |value - stdvalue| (both rounded to 7 significant digits) is within stddelta, else 1.
 * The difference is stored into *delta unless delta is null. */
NEXTARQ_MATH_API int32_t NEXTARQ_MATH_CALL nextarq_math_povCheckValueAbs(double value, double stdvalue,
                                                                         double stddelta, double *delta);

/* 0 when the deviation of val from stdval, in percent of prcrange, is within the permitted error
 * stdprc (reduced to two significant digits), else 1. Writes the permitted error into stdstr and the
 * deviation into prcstr, each at most NEXTARQ_MATH_TEXT_SIZE bytes with the terminating zero;
 * either pointer may be null. */
NEXTARQ_MATH_API int32_t NEXTARQ_MATH_CALL nextarq_math_povCheckValueProc(double prcrange, double stdval,
                                                                          double val, double stdprc,
                                                                          char *stdstr, char *prcstr);

/* *K = K1 * K2 * K3 * K4 (multiplied in extended precision), *DN = *K * K5.
 * Writes nothing when K or DN is null. */
NEXTARQ_MATH_API void NEXTARQ_MATH_CALL nextarq_math_translateKDN(double K1, double K2, double K3, double K4,
                                                                  double K5, double *K, double *DN);

#ifdef __cplusplus
}
#endif

#endif /* NEXTARQ_MATH_H */
