// Converter programming (modes, NSR, VDR, DDC), temperatures and the self-test procedures: the
// arguments are checked as they will be, and the calls answer NEXTARQ_WARN_NOT_SUPPORTED until the
// functions are built.
#include "internal.h"

#include <cfloat>

using namespace nextarq;

namespace {

constexpr double kEps = DBL_EPSILON;

bool flag(int16_t v) { return v == 0 || v == 1; }

// A session that is not a connected one still gets its error status.
int32_t notYet(uint32_t vi) {
    Record *r = nullptr;
    int32_t status = fetchRecord(vi, r);
    return status < 0 ? status : NEXTARQ_WARN_NOT_SUPPORTED;
}

} // namespace

extern "C" {

NEXTARQ_API int32_t nextarq_configAdcMode(uint32_t vi, int16_t mode, int16_t signalInput) {
    if (mode < 0 || mode > 5) return NEXTARQ_ERROR_PARAMETER2;
    if (!flag(signalInput)) return NEXTARQ_ERROR_PARAMETER3;
    return notYet(vi);
}

NEXTARQ_API int32_t nextarq_configAdcMode_q(uint32_t vi, int16_t *mode, int16_t *signalInput) {
    if (!mode) return NEXTARQ_ERROR_PARAMETER2;
    if (!signalInput) return NEXTARQ_ERROR_PARAMETER3;
    return notYet(vi);
}

NEXTARQ_API int32_t nextarq_configNSR(uint32_t vi, double frequency) {
    if (!inRange(frequency, 70.0 - kEps, 177.5 + kEps)) return NEXTARQ_ERROR_PARAMETER2;
    return notYet(vi);
}

NEXTARQ_API int32_t nextarq_configNSR_q(uint32_t vi, double *frequency) {
    if (!frequency) return NEXTARQ_ERROR_PARAMETER2;
    return notYet(vi);
}

NEXTARQ_API int32_t nextarq_configVDR(uint32_t vi, int16_t mode, double frequency) {
    if (mode < 0 || mode > 2) return NEXTARQ_ERROR_PARAMETER2;
    const bool ok = mode == 0 ? inRange(frequency, 62.5 - kEps, 187.5 + kEps) : inRange(frequency, 0.0 - kEps, 468.75 + kEps);
    if (!ok) return NEXTARQ_ERROR_PARAMETER3;
    return notYet(vi);
}

NEXTARQ_API int32_t nextarq_configVDR_q(uint32_t vi, int16_t *mode, double *frequency) {
    if (!mode) return NEXTARQ_ERROR_PARAMETER2;
    if (!frequency) return NEXTARQ_ERROR_PARAMETER3;
    return notYet(vi);
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
    return notYet(vi);
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
    return notYet(vi);
}

NEXTARQ_API int32_t nextarq_temperature_q(uint32_t vi, double *value1, double *value2) {
    if (!value1) return NEXTARQ_ERROR_PARAMETER2;
    if (!value2) return NEXTARQ_ERROR_PARAMETER3;
    return notYet(vi);
}

NEXTARQ_API int32_t nextarq_self_test(uint32_t vi, int16_t *result, char message[256]) {
    Record *r = nullptr;
    int32_t status = fetchRecord(vi, r);
    if (status < 0) return status;
    if (!result) return NEXTARQ_ERROR_PARAMETER2;
    if (!message) return NEXTARQ_ERROR_PARAMETER3;
    *result = 0;
    message[0] = '\0';
    return NEXTARQ_WARN_NOT_SUPPORTED;
}

NEXTARQ_API int32_t nextarq_testOK_off(uint32_t vi, int16_t test, int16_t *result, char message[256]) {
    if (test < 1 || test > 3) return NEXTARQ_ERROR_PARAMETER2;
    Record *r = nullptr;
    int32_t status = fetchRecord(vi, r);
    if (status < 0) return status;
    if (!result) return NEXTARQ_ERROR_PARAMETER3;
    if (!message) return NEXTARQ_ERROR_PARAMETER4;
    *result = 0;
    message[0] = '\0';
    return NEXTARQ_WARN_NOT_SUPPORTED;
}

} // extern "C"
