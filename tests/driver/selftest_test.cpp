// The self-test and the reference-connection tests against the bench: a healthy module passes, each
// injected fault fails its own step with its message and status, and the settings survive.
#include "driver_fixture.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <string>

using namespace tarq;
using test::DriverTest;

namespace {

// Whole UTF-8 sequences only: a protocol longer than the message buffer must not end in half a letter.
bool wholeUtf8(const std::string &s) {
    for (size_t i = 0; i < s.size();) {
        const auto c = static_cast<unsigned char>(s[i]);
        const size_t n = c < 0x80 ? 1 : (c & 0xE0) == 0xC0 ? 2 : (c & 0xF0) == 0xE0 ? 3 : (c & 0xF8) == 0xF0 ? 4 : 0;
        if (n == 0 || i + n > s.size()) return false;
        for (size_t k = 1; k < n; ++k)
            if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
        i += n;
    }
    return true;
}

struct Settings {
    int16_t reference = -1, pattern = -1, band = -1, adcMode = -1, signalInput = -1;
    uint16_t packets = 0, source = 0, slope = 0;
    uint32_t samples = 0, presamples = 0;
    double level = 0.0;
    double gain1 = -1.0, gain2 = -1.0;
    bool operator==(const Settings &) const = default;
};

class SelfTest : public DriverTest {
  protected:
    int16_t result = -1;
    char text[NEXTARQ_MESSAGE_SIZE] = {};

    Settings settings() {
        Settings s;
        EXPECT_EQ(nextarq_configBaseF_q(vi, &s.reference), 0);
        EXPECT_EQ(nextarq_configMode_q(vi, &s.pattern), 0);
        EXPECT_EQ(nextarq_configSpanF_q(vi, &s.band), 0);
        EXPECT_EQ(nextarq_configTime_q(vi, &s.packets, &s.samples, &s.presamples), 0);
        EXPECT_EQ(nextarq_configTrigger_q(vi, &s.source, &s.slope, &s.level), 0);
        EXPECT_EQ(nextarq_configAdcMode_q(vi, &s.adcMode, &s.signalInput), 0);
        EXPECT_EQ(nextarq_configGain_q(vi, 0, &s.gain1), 0);
        EXPECT_EQ(nextarq_configGain_q(vi, 1, &s.gain2), 0);
        return s;
    }
    // Settings unlike the reset's defaults in every field.
    Settings unusual() {
        EXPECT_EQ(nextarq_configBaseF(vi, 1), 0);
        EXPECT_EQ(nextarq_configMode(vi, 2), 0);
        EXPECT_EQ(nextarq_configSpanF(vi, 4), 0);
        EXPECT_EQ(nextarq_configTime(vi, 3, 4096, 1024), 0);
        EXPECT_EQ(nextarq_configTrigger(vi, 2, 1, -12.5), 0);
        EXPECT_EQ(nextarq_configAdcMode(vi, 4, 1), 0);
        EXPECT_EQ(nextarq_configGain(vi, 0, 6.0), 0);
        EXPECT_EQ(nextarq_configGain(vi, 1, 2.5), 0);
        return settings();
    }
    std::string connector(const char *name) { return bench::moduleConnector(ref.resource, ref.position, name); }
};

TEST_F(SelfTest, HealthyModulePassesAndKeepsItsSettings) {
    const Settings before = unusual();
    ASSERT_EQ(nextarq_self_test(vi, &result, text), 0) << text;
    EXPECT_EQ(result, 0);
    EXPECT_STREQ(text, "Самоконтроль завершен успешно");
    EXPECT_EQ(settings(), before);
}

TEST_F(SelfTest, ReferenceTestsPassWithTheirCablesAndKeepTheSettings) {
    const Settings before = unusual();
    const char *cable[4] = {nullptr, "СИНХР", "КН1", "КН2"};
    for (int16_t test = 1; test <= 3; ++test) {
        ASSERT_TRUE(bench::plug(connector("ОЧ"), connector(cable[test])));
        EXPECT_EQ(nextarq_testOK_off(vi, test, &result, text), 0) << "test " << test << ": " << text;
        EXPECT_EQ(result, 0);
        EXPECT_STREQ(text, "Тест \"ОК отключен\" завершен успешно.");
        EXPECT_EQ(settings(), before) << "test " << test;
    }
}

TEST_F(SelfTest, ReferenceTestsFailWithoutTheirCables) {
    bench::unplug(connector("ОЧ"));
    ASSERT_EQ(nextarq_testOK_off(vi, 1, &result, text), NEXTARQ_ERROR_REFERENCE_TEST);
    EXPECT_EQ(result, 1);
    EXPECT_STREQ(text, "Ошибка ТЕСТ 1.");
    // The reference goes to channel 2 while test 2 measures channel 1, which still carries its 5 MHz.
    ASSERT_TRUE(bench::plug(connector("ОЧ"), connector("КН2")));
    ASSERT_EQ(nextarq_testOK_off(vi, 2, &result, text), NEXTARQ_ERROR_REFERENCE_TEST);
    EXPECT_EQ(result, 2);
    const std::string protocol = text;
    EXPECT_EQ(protocol.rfind("Ошибка ТЕСТ 2.\n Размах канала  1: ", 0), 0u) << protocol;
    EXPECT_NE(protocol.find("\n Частота канала 1: 4.9"), std::string::npos) << protocol;
    EXPECT_TRUE(protocol.ends_with(" Гц - Не норма")) << protocol;
    EXPECT_EQ(protocol.find("канала  2"), std::string::npos) << protocol;
}

TEST_F(SelfTest, EachFaultFailsItsOwnStep) {
    struct Case {
        const char *what;
        bench::ModuleFaults faults;
        int16_t step;
        const char *text;
        int32_t status;
    };
    std::vector<Case> cases(4);
    cases[0] = {"event register reads back wrong", {}, 1, "Ошибка ввода/вывода регистров ПЛИС.", NEXTARQ_ERROR_SELF_TEST};
    cases[0].faults.eventReadbackXor = 1;
    cases[1] = {"reference never locks", {}, 2, "Частота не засинхронизирована.", NEXTARQ_ERROR_SELF_TEST};
    cases[1].faults.referenceNeverLocks = true;
    // Skip the accesses the save, step 1 and the reset make, then fail the memory step's read.
    cases[2] = {"control register unreadable", {}, 3, "Ошибка памяти DDR.", static_cast<int32_t>(0xBFFA000A)};
    cases[3] = {"stuck memory bits spoil the test pattern", {}, 5, "Ошибка тестового режима АЦП.", NEXTARQ_ERROR_SELF_TEST};
    cases[3].faults.memoryStuckMask = 0x40004000;
    cases[3].faults.memoryStuckHigh = true;
    const Settings before = unusual();
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        if (c.step == 3) {
            // The register 0x0A reads of the self-test before step 3: none in the save or step 1; the
            // reset's readData and its stop write only. Fail every read from now on.
            bench::ModuleFaults f;
            f.registers.push_back(failing(0x0A, true, false));
            faults(f);
        } else {
            faults(c.faults);
        }
        EXPECT_EQ(nextarq_self_test(vi, &result, text), c.status) << text;
        EXPECT_EQ(result, c.step);
        const std::string protocol = text;
        EXPECT_EQ(protocol.rfind(c.text, 0), 0u) << protocol;
        faults({});
        EXPECT_EQ(settings(), before);
    }
}

TEST_F(SelfTest, ProtocolOfBothFailingChannelsFitsWhole) {
    // A channel-1 gain of 0.1 in the band the test measures in makes its swing print as "0.41...": with
    // both channels failing the protocol is longer than 255 bytes of UTF-8 and must still arrive whole.
    double coefficients[40];
    for (int i = 0; i < 40; ++i) coefficients[i] = (i / 10) % 2 == 0 ? 1.0 : 0.0;
    coefficients[2] = 0.1;
    ASSERT_EQ(nextarq_writeCoefficients(vi, 2, coefficients, sizeof coefficients, 0), 0);
    bench::ModuleFaults f;
    f.memoryStuckMask = 0x40004000;
    f.memoryStuckHigh = true;
    faults(f);
    EXPECT_EQ(nextarq_self_test(vi, &result, text), NEXTARQ_ERROR_SELF_TEST) << text;
    EXPECT_EQ(result, 5);
    const std::string protocol = text;
    EXPECT_EQ(protocol.rfind("Ошибка тестового режима АЦП.\n Размах канала  1: 0.4", 0), 0u) << protocol;
    EXPECT_GE(protocol.size(), 250u) << protocol;
    // The last line, channel 2's frequency, is there to its verdict.
    const size_t last = protocol.rfind("\n Частота канала 2: ");
    ASSERT_NE(last, std::string::npos) << protocol;
    EXPECT_TRUE(protocol.ends_with(" - Норма") || protocol.ends_with(" - Не норма")) << protocol;
    EXPECT_TRUE(wholeUtf8(protocol)) << protocol;
}

TEST_F(SelfTest, SwingExactlyAtEitherLimitIsWithinTheNorm) {
    // The swing of the test pattern as the module measures it (band 2 after the reset: gain 1, offset 0).
    double coefficients[40];
    for (int i = 0; i < 40; ++i) coefficients[i] = (i / 10) % 2 == 0 ? 1.0 : 0.0;
    ASSERT_EQ(nextarq_writeCoefficients(vi, 2, coefficients, sizeof coefficients, 0), 0);
    ASSERT_EQ(nextarq_configAdcMode(vi, 1, 0), 0);
    ASSERT_EQ(nextarq_configMode(vi, 1), 0);
    ASSERT_EQ(nextarq_configTime(vi, 1, 104448, 0), 0);
    ASSERT_EQ(nextarq_trigger(vi), 0);
    uint16_t busy = 1;
    for (auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
         busy && std::chrono::steady_clock::now() < end;) {
        ASSERT_EQ(nextarq_ready_q(vi, &busy), 0);
        if (busy) nextarq_event(vi);
    }
    std::vector<double> volts(104448);
    ASSERT_EQ(nextarq_readData(vi, 1, 1, volts.data(), nullptr, NEXTARQ_FORMAT_VOLTS), 0);
    const auto [lo, hi] = std::minmax_element(volts.begin(), volts.end());
    const double swing = *hi - *lo;
    // A band-0 gain that puts the expected swing 2.06 x gain exactly 0.1 V below (then above) the measured
    // one, as 2.16 V against 2.06 V (or 1.96 V) is: the limit belongs to the norm.
    for (const double side : {+1.0, -1.0}) {
        SCOPED_TRACE(side > 0 ? "swing at the upper limit" : "swing at the lower limit");
        // Scan the doubles around (swing -+ 0.1) / 2.06 for one whose difference rounds above 0.1.
        double gain0 = (swing - side * 0.1) / 2.06;
        for (int i = 0; i < 200; ++i) gain0 = std::nextafter(gain0, 0.0);
        bool found = false;
        for (int i = 0; i < 400 && !found; ++i) {
            const double expected = 2.06 * gain0;
            const bool atLimit = side > 0 ? swing <= expected + 0.1 : swing >= expected - 0.1;
            if (atLimit && std::fabs(swing - expected) > 0.1) found = true;
            else gain0 = std::nextafter(gain0, 10.0);
        }
        ASSERT_TRUE(found);
        coefficients[0] = coefficients[20] = gain0;
        ASSERT_EQ(nextarq_writeCoefficients(vi, 2, coefficients, sizeof coefficients, 0), 0);
        EXPECT_EQ(nextarq_self_test(vi, &result, text), 0) << text;
        EXPECT_STREQ(text, "Самоконтроль завершен успешно");
    }
}

TEST_F(SelfTest, FailedSaveEndsBeforeAnyStepAndChangesNothing) {
    const Settings before = unusual();
    bench::ModuleFaults f;
    f.registers.push_back(failing(0x38, true, false)); // the gain register is the last thing saved
    faults(f);
    EXPECT_EQ(nextarq_self_test(vi, &result, text), static_cast<int32_t>(0xBFFA000A));
    EXPECT_EQ(result, 0);
    EXPECT_STREQ(text, "");
    faults({});
    EXPECT_EQ(settings(), before);
}

TEST_F(SelfTest, RestoreThatKeepsFailingIsBoundedAndReported) {
    bench::ModuleFaults f;
    f.registers.push_back(failing(0x38, false, true, 1)); // the save's write passes, every restore fails
    faults(f);
    startLog();
    EXPECT_EQ(nextarq_self_test(vi, &result, text), static_cast<int32_t>(0xBFFA000A)) << "not a success";
    EXPECT_EQ(result, 0);
    size_t attempts = 0;
    for (const auto &a : log())
        if (a.write && a.reg == 0x38 && a.status != 0) ++attempts;
    EXPECT_EQ(attempts, 3u);
}

TEST_F(SelfTest, ConverterRegisterFailsStepFour) {
    bench::ModuleFaults f;
    // The ADC port's data register fails from the step-4 read on: the save reads it three times
    // (band, test pattern, converter mode), the reset's band, pattern and test writes do not read it.
    f.registers.push_back(failing(0x28, true, false, 3));
    faults(f);
    EXPECT_LT(nextarq_self_test(vi, &result, text), 0);
    EXPECT_EQ(result, 4);
    EXPECT_STREQ(text, "Ошибка чтения регистрров АЦП.");
}

} // namespace
