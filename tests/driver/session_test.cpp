// Sessions: opening, connecting (identity, controllers, stream memory), reset, close, status texts,
// the ADC port and what bad handles get.
#include "driver_fixture.h"

#include <chrono>
#include <clocale>
#include <functional>

using namespace tarq;
using test::DriverTest;

namespace {

class Session : public DriverTest {};

class Unconnected : public DriverTest {
  protected:
    bool connectInSetUp() const override { return false; }
    void adjust(bench::BenchSpec &b) override { b.carriers[0].modules.push_back(bench::ModuleSpec{2, 0x49, 1002, 1}); }
    // Carrier memory held by the streams of position 1: what position 2 can no longer allocate.
    uint32_t heldByStreams() {
        uint32_t other = 0, memory = 0;
        EXPECT_EQ(nexhost_mem_q(nhvi, &memory), 0);
        EXPECT_EQ(nexhost_m_init(nhvi, 2, &other), 0);
        uint32_t lo = 0, hi = memory; // largest size that still fits
        while (lo < hi) {
            uint32_t mid = lo + (hi - lo + 1) / 2;
            if (nexhost_m_alloc(other, 0, mid, 0) == 0) lo = mid;
            else hi = mid - 1;
        }
        nexhost_m_alloc(other, 0, 0, 0);
        EXPECT_EQ(nexhost_m_close(other), 0);
        return memory - lo;
    }
};

double secondsOf(const std::function<void()> &f) {
    auto t0 = std::chrono::steady_clock::now();
    f();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

TEST(DriverInit, ChecksArgumentsInOrderAndOpensNothingOnFailure) {
    uint32_t vi = 77;
    EXPECT_EQ(nextarq_init("PXI0::1::INSTR", 2, 2, &vi), NEXTARQ_ERROR_PARAMETER2);
    EXPECT_EQ(vi, 77u);
    EXPECT_EQ(nextarq_init("PXI0::1::INSTR", 1, 2, &vi), NEXTARQ_ERROR_PARAMETER3);
    EXPECT_EQ(nextarq_init("PXI0::1::INSTR", 1, 1, nullptr), NEXTARQ_ERROR_PARAMETER4);
    EXPECT_EQ(nextarq_init("PXI9::9::INSTR", 1, 1, &vi), VI_ERROR_RSRC_NFOUND);
    EXPECT_EQ(vi, 0u);
    EXPECT_LT(nextarq_init(nullptr, 0, 0, &vi), 0);
}

TEST_F(Session, ConnectsAndReportsRevisions) {
    char driver[256], instrument[256];
    EXPECT_EQ(nextarq_revision_query(vi, driver, instrument), 0);
    EXPECT_STREQ(driver, "1.0.2");
    EXPECT_STREQ(instrument, "1");
    EXPECT_EQ(nextarq_revision_query(0, driver, instrument), 0);
    EXPECT_STREQ(driver, "1.0.2");
    EXPECT_STREQ(instrument, "");
    EXPECT_EQ(nextarq_revision_query(vi, nullptr, instrument), NEXTARQ_ERROR_PARAMETER2);
    EXPECT_EQ(nextarq_revision_query(vi, driver, nullptr), NEXTARQ_ERROR_PARAMETER3);
    // Bits 8 and 9 of the version register: the module answers 0x300 for version 3.
    bench::ModuleFaults f;
    f.versionOverride = 3;
    faults(f);
    ASSERT_EQ(nextarq_connect(vi, nhvi, 1, 1, 1), 0);
    EXPECT_EQ(nextarq_revision_query(vi, driver, instrument), 0);
    EXPECT_STREQ(instrument, "3");
}

TEST_F(Unconnected, ConnectChecksItsArguments) {
    EXPECT_EQ(nextarq_connect(vi, 0, 1, 1, 1), NEXTARQ_ERROR_PARAMETER2);
    EXPECT_EQ(nextarq_connect(vi, nhvi, 1, 2, 2), NEXTARQ_ERROR_PARAMETER4);
    EXPECT_EQ(nextarq_connect(vi, nhvi, 1, 1, 2), NEXTARQ_ERROR_PARAMETER5);
    EXPECT_EQ(nextarq_connect(0x7777, nhvi, 1, 1, 1), VI_ERROR_INV_OBJECT);
    EXPECT_EQ(nextarq_connect(nhvi, nhvi, 1, 1, 1), NEXTARQ_ERROR_NO_RECORD); // a session without a record
    EXPECT_EQ(nextarq_connect(vi, nhvi, 5, 1, 1), NEXHOST_ERROR_POSITION);
}

TEST_F(Unconnected, IdentityCheckOnlyWhenAsked) {
    bench::ModuleFaults f;
    f.idOverride = 0x4A;
    faults(f);
    EXPECT_EQ(nextarq_connect(vi, nhvi, 1, 1, 1), NEXTARQ_ERROR_ID_QUERY);
    uint16_t busy = 0;
    EXPECT_EQ(nextarq_ready_q(vi, &busy), NEXTARQ_ERROR_NO_RECORD) << "the module session is closed";
    EXPECT_EQ(nextarq_connect(vi, nhvi, 1, 0, 1), 0);
    EXPECT_EQ(nextarq_ready_q(vi, &busy), 0);
}

TEST_F(Unconnected, StreamsShareHalfTheCarrierMemory) {
    ASSERT_EQ(nextarq_connect(vi, nhvi, 1, 1, 1), 0);
    EXPECT_EQ(heldByStreams(), (64u << 20) / 2); // M / 2 accepted: M / 4 per stream
}

TEST_F(Unconnected, RefusedStreamSizesShrinkByQuarters) {
    bench::ModuleFaults f;
    f.refuseStreamSizesAbove = 0x600000;
    faults(f);
    ASSERT_EQ(nextarq_connect(vi, nhvi, 1, 1, 1), 0);
    // 32M, 24M, 18M, 13.5M, ... 5971968 is the first offer at or below 0x600000.
    EXPECT_EQ(heldByStreams(), 5971968u);
}

TEST_F(Unconnected, CarrierRefusingEveryStreamSizeEndsTheConnection) {
    bench::ModuleFaults f;
    f.refuseAllStreamSizes = true;
    faults(f);
    EXPECT_EQ(nextarq_connect(vi, nhvi, 1, 1, 1), NEXHOST_ERROR_NO_MEMORY);
    EXPECT_EQ(heldByStreams(), 0u);
    uint16_t busy = 0;
    EXPECT_EQ(nextarq_ready_q(vi, &busy), NEXTARQ_ERROR_NO_RECORD);
    // The failed connection leaves the VISA session and its record: close releases both.
    EXPECT_EQ(nextarq_close(vi), 0);
    ViAttrState data = 0;
    EXPECT_EQ(viGetAttribute(vi, VI_ATTR_USER_DATA, &data), VI_ERROR_INV_OBJECT);
    EXPECT_LT(nextarq_close(vi), 0);
    vi = 0;
}

TEST_F(Session, CloseReleasesEverythingEvenWhenTheControlWriteFails) {
    bench::ModuleFaults f;
    f.registers.push_back(failing(0x0A, false, true));
    faults(f);
    EXPECT_EQ(nextarq_close(vi), 0);
    ViAttrState data = 0;
    EXPECT_EQ(viGetAttribute(vi, VI_ATTR_USER_DATA, &data), VI_ERROR_INV_OBJECT);
    uint16_t busy = 0;
    EXPECT_EQ(nextarq_ready_q(vi, &busy), NEXTARQ_ERROR_NO_RECORD);
    EXPECT_LT(nextarq_close(vi), 0);
    vi = 0;
}

TEST_F(Unconnected, CloseBeforeConnecting) {
    EXPECT_EQ(nextarq_close(vi), 0);
    ViAttrState data = 0;
    EXPECT_EQ(viGetAttribute(vi, VI_ATTR_USER_DATA, &data), VI_ERROR_INV_OBJECT);
    vi = 0;
}

TEST_F(Session, ReconnectSkipsAStartedControllerAndKeepsOneModuleSession) {
    startLog();
    ASSERT_EQ(nextarq_connect(vi, nhvi, 1, 1, 1), 0);
    auto writes = writesTo(log(), 0x08);
    EXPECT_EQ(std::count(writes.begin(), writes.end(), 1), 0) << "register 0x08 already read 0x8000";
    EXPECT_EQ(std::count(writes.begin(), writes.end(), 0x10), 1);
    // The first binding was let go: closing leaves no stream memory held.
    EXPECT_EQ(nextarq_close(vi), 0);
    vi = 0;
    uint32_t other = 0;
    ASSERT_EQ(nexhost_m_init(nhvi, 1, &other), 0);
    EXPECT_EQ(nexhost_m_alloc(other, 0, 64u << 20, 0), 0);
    nexhost_m_close(other);
}

class ControllerFault : public Unconnected {};

TEST_F(ControllerFault, WrongDoneValueFailsTheConnection) {
    bench::ModuleFaults f;
    f.controllerDoneValue = 3;
    faults(f);
    EXPECT_EQ(nextarq_connect(vi, nhvi, 1, 1, 1), NEXTARQ_ERROR_CONTROLLER);
}

TEST_F(ControllerFault, HangingStartGivesUpAfterFourSeconds) {
    bench::ModuleFaults f;
    f.controllerHangs = true;
    faults(f);
    int32_t status = 0;
    double t = secondsOf([&] { status = nextarq_connect(vi, nhvi, 1, 1, 1); });
    EXPECT_EQ(status, NEXTARQ_ERROR_CONTROLLER);
    EXPECT_GE(t, 4.0);
    EXPECT_LT(t, 8.0);
}

TEST_F(ControllerFault, CommandBitThatNeverClearsTimesOut) {
    bench::ModuleFaults f;
    f.stuckCommandBits = 0x200;
    faults(f);
    int32_t status = 0;
    double t = secondsOf([&] { status = nextarq_connect(vi, nhvi, 1, 1, 1); });
    EXPECT_EQ(status, NEXTARQ_ERROR_TIMEOUT);
    EXPECT_GE(t, 1.0);
    EXPECT_LT(t, 4.0);
}

TEST_F(ControllerFault, FailingRegisterEndsTheConnection) {
    // Each register the connection uses, failing from the start.
    for (uint16_t r : {0x02, 0x04, 0x08, 0x0A, 0x20}) {
        bench::ModuleFaults f;
        f.registers.push_back(failing(r, true, true));
        faults(f);
        EXPECT_EQ(nextarq_connect(vi, nhvi, 1, 1, 1), static_cast<int32_t>(0xBFFA000A)) << "register " << r;
        faults({});
        uint16_t busy = 0;
        EXPECT_EQ(nextarq_ready_q(vi, &busy), NEXTARQ_ERROR_NO_RECORD);
    }
    faults({});
    EXPECT_EQ(nextarq_connect(vi, nhvi, 1, 1, 1), 0);
}

TEST_F(Session, ResetLeavesTheDefaultsAndTheModuleStopped) {
    ASSERT_EQ(nextarq_configSpanF(vi, 4), 0);
    ASSERT_EQ(nextarq_configTime(vi, 3, 4096, 64), 0);
    ASSERT_EQ(nextarq_configTrigger(vi, 1, 1, -10.0), 0);
    ASSERT_EQ(nextarq_configBaseF(vi, 1), 0);
    ASSERT_EQ(nextarq_configMode(vi, 2), 0);
    startLog();
    ASSERT_EQ(nextarq_reset(vi), 0);
    auto entries = log();
    // Armed, then one packet of 1024 words read through the transfer engine, then stopped.
    auto control = writesTo(entries, 0x0A);
    ASSERT_GE(control.size(), 2u);
    EXPECT_EQ(control.back(), 0x80);
    EXPECT_NE(std::find(control.begin(), control.end(), 0x81), control.end());
    auto transfer = writesTo(entries, 0x2C);
    ASSERT_FALSE(transfer.empty());
    EXPECT_EQ(transfer.front(), 5);
    EXPECT_EQ(transfer.back(), 0x8000);
    EXPECT_EQ(writesTo(entries, 0x2A), std::vector<uint16_t>{3});

    uint16_t busy = 1, packets = 0, source = 9, slope = 9;
    uint32_t samples = 0, presamples = 0;
    int16_t band = 0, reference = 9, mode = 9;
    double level = -1;
    EXPECT_EQ(nextarq_ready_q(vi, &busy), 0);
    EXPECT_EQ(busy, 0);
    EXPECT_EQ(nextarq_configSpanF_q(vi, &band), 0);
    EXPECT_EQ(band, 2);
    EXPECT_EQ(nextarq_configTime_q(vi, &packets, &samples, &presamples), 0);
    EXPECT_EQ(packets, 1);
    EXPECT_EQ(samples, 1024u);
    EXPECT_EQ(presamples, 256u);
    EXPECT_EQ(nextarq_configTrigger_q(vi, &source, &slope, &level), 0);
    EXPECT_EQ(source, 0);
    EXPECT_EQ(slope, 0);
    EXPECT_EQ(level, 0.0);
    EXPECT_EQ(nextarq_configBaseF_q(vi, &reference), 0);
    EXPECT_EQ(reference, 0);
    EXPECT_EQ(nextarq_configMode_q(vi, &mode), 0);
    EXPECT_EQ(mode, 0);
}

TEST_F(Session, EventCompletesAWaitingAcquisition) {
    // Channel 1 without a cable never reaches the level: the packet waits for the software trigger.
    bench::unplug(bench::moduleConnector("PXI0::1::INSTR", 1, "КН1"));
    ASSERT_EQ(nextarq_configTrigger(vi, 1, 1, 0.0), 0);
    uint16_t busy = 0, control = 0;
    ASSERT_EQ(nextarq_trigger(vi), 0);
    EXPECT_EQ(nextarq_ready_q(vi, &busy), 0);
    EXPECT_EQ(busy, 1);
    EXPECT_EQ(nextarq_status_q(vi, &control), 0);
    EXPECT_EQ(control & 0xFF, 0x81);
    ASSERT_EQ(nextarq_event(vi), 0);
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (busy && std::chrono::steady_clock::now() < end) ASSERT_EQ(nextarq_ready_q(vi, &busy), 0);
    EXPECT_EQ(busy, 0);
    EXPECT_EQ(nextarq_readData(vi, 1, 1, nullptr, nullptr, 0), 0);
    EXPECT_EQ(nextarq_ready_q(vi, nullptr), NEXTARQ_ERROR_PARAMETER2);
    EXPECT_EQ(nextarq_status_q(vi, nullptr), NEXTARQ_ERROR_PARAMETER2);
}

TEST_F(Session, ReadDataChecksPacketsAndFormat) {
    ASSERT_EQ(nextarq_configTime(vi, 2, 1024, 256), 0);
    EXPECT_EQ(nextarq_readData(vi, 0, 1, nullptr, nullptr, 0), NEXTARQ_ERROR_PARAMETER2);
    EXPECT_EQ(nextarq_readData(vi, 3, 1, nullptr, nullptr, 0), NEXTARQ_ERROR_PARAMETER2);
    EXPECT_EQ(nextarq_readData(vi, 1, 3, nullptr, nullptr, 0), NEXTARQ_ERROR_PARAMETER3);
    EXPECT_EQ(nextarq_readData(vi, 2, 0, nullptr, nullptr, 0), NEXTARQ_ERROR_PARAMETER3);
    EXPECT_EQ(nextarq_readData(vi, 1, 1, nullptr, nullptr, 7), NEXTARQ_ERROR_PARAMETER4);
    startLog();
    EXPECT_EQ(nextarq_readData(vi, 2, 1, nullptr, nullptr, 0), 0);
    auto entries = log();
    EXPECT_EQ(writesTo(entries, 0x30), std::vector<uint16_t>{1});
    EXPECT_EQ(writesTo(entries, 0x1C), (std::vector<uint16_t>{1, 0})) << "packet 2 starts at unit 0x10000";
}

TEST_F(Session, AdcPortWritesTheLowByteAndReadsItBack) {
    EXPECT_EQ(nextarq_adcWrite(vi, 0x422, 0x1234), 0);
    EXPECT_EQ(adc(0x422), 0x34);
    uint16_t value = 0;
    EXPECT_EQ(nextarq_adcRead(vi, 0x422, &value), 0);
    EXPECT_EQ(value, 0x34);
    EXPECT_EQ(nextarq_adcWrite(vi, 0x422, -1), 0);
    EXPECT_EQ(nextarq_adcRead(vi, 0x422, &value), 0);
    EXPECT_EQ(value, 0xFF);
    EXPECT_EQ(nextarq_adcRead(vi, 0x004, &value), 0);
    EXPECT_EQ(value, 0xD3);
    EXPECT_EQ(nextarq_adcRead(vi, 0x004, nullptr), NEXTARQ_ERROR_PARAMETER3);
    EXPECT_EQ(nextarq_adcReset(vi), 0);
    EXPECT_EQ(adc(0x422), 0);
    EXPECT_EQ(nextarq_adcAuto(vi), 0);
    EXPECT_EQ(adc(0x422), 21);
}

TEST_F(Session, AdcPortThatStaysBusyGivesInstrumentBusy) {
    bench::ModuleFaults f;
    f.adcPortBusy = true;
    faults(f);
    uint16_t value = 0;
    int32_t status = 0;
    double t = secondsOf([&] { status = nextarq_adcRead(vi, 0x004, &value); });
    EXPECT_EQ(status, NEXTARQ_ERROR_BUSY);
    EXPECT_GE(t, 5.0);
    EXPECT_LT(t, 9.0);
    bench::ModuleFaults g;
    g.registers.push_back(failing(0x34, true, false));
    faults(g);
    EXPECT_EQ(nextarq_adcCommand(vi, 2), static_cast<int32_t>(0xBFFA000A)) << "a carrier error ends the wait at once";
}

TEST(DriverTexts, EveryCodeHasItsText) {
    struct Case {
        uint32_t code;
        const char *text;
    };
    const Case cases[] = {
        {0xBFFC0001, "Ошибка параметра 1"},
        {0xBFFC0002, "Ошибка параметра 2"},
        {0xBFFC0003, "Ошибка параметра 3"},
        {0xBFFC0004, "Ошибка параметра 4"},
        {0xBFFC0005, "Ошибка параметра 5"},
        {0xBFFC0006, "Ошибка параметра 6"},
        {0xBFFC0007, "Ошибка параметра 7"},
        {0xBFFC0008, "Ошибка параметра 8"},
        {0xBFFC0809, "Ошибка параметра 9"},
        {0xBFFC0800, "Ошибка номера сеанса"},
        {0xBFFC0810, "Инструмент занят"},
        {0xBFFC0816, "Ошибка чтения данных FIFO"},
        {0xBFFC0817, "Ошибка записи данных FIFO"},
        {0xBFFC0820, "Ошибка контроллеров"},
        {0xBFFC0830, "Ошибка РПЗУ"},
        {0xBFFC0840, "Ошибка самоконтроля"},
        {0xBFFC0850, "Ошибка контроля \"ОК отключен\""},
        {0xBFFC0860, "Ошибка чтения "},
        {0xBFFC0870, "Ошибка записи"},
        {0xBFFC0880, "Ошибка записи в файл"},
        {0x3FFC0801, "Мезонин не готов"},
        {0x3FFC0802, "Нет данных РПЗУ"},
        {0x3FFC0803, "Процесс остановлен пользователем"},
        {0x3FFC0804, "Функция не поддерживается данной версией инструмента"},
    };
    for (const Case &c : cases) {
        char text[256] = "x", english[256] = "";
        EXPECT_EQ(nextarq_error_message(0x1234, static_cast<int32_t>(c.code), text), 0);
        EXPECT_STREQ(text, c.text) << std::hex << c.code;
        EXPECT_EQ(nextarq_error_message_lang(static_cast<int32_t>(c.code), 1, english), 0);
        EXPECT_GT(std::strlen(english), 0u);
        EXPECT_STRNE(english, c.text);
    }
    // Codes without a text of their own come from the carrier library.
    for (int32_t code : {NEXTARQ_ERROR_ID_QUERY, NEXTARQ_ERROR_NO_RECORD, NEXTARQ_ERROR_ALLOC, NEXTARQ_ERROR_TIMEOUT,
                         NEXTARQ_ERROR_FLASH_ERASE_TIMEOUT, static_cast<int32_t>(0xBFFA000A)}) {
        char text[256], carrier[256];
        nexhost_error_message(0, code, carrier);
        EXPECT_EQ(nextarq_error_message(0, code, text), 0);
        EXPECT_STREQ(text, carrier);
    }
    EXPECT_EQ(nextarq_error_message(0, 0, nullptr), NEXTARQ_ERROR_PARAMETER3);
}

TEST(DriverTexts, ErrorQueryIsNotSupported) {
    int32_t code = 5;
    char text[256] = "old";
    EXPECT_EQ(nextarq_error_query(0, &code, text), NEXTARQ_WARN_NSUP_ERROR_QUERY);
    EXPECT_EQ(code, 0);
    EXPECT_STREQ(text, "");
    EXPECT_EQ(nextarq_error_query(0, nullptr, nullptr), NEXTARQ_WARN_NSUP_ERROR_QUERY);
}

// Handles 0 and 1 (the panel's demo mode passes 1), a closed session and a carrier session get an error
// from every function that needs a session.
TEST_F(Session, BadHandlesGetErrorsFromEveryFunction) {
    uint32_t closed = 0;
    ASSERT_EQ(nextarq_init("PXI0::1::INSTR", 0, 0, &closed), 0);
    ASSERT_EQ(nextarq_connect(closed, nhvi, 1, 0, 0), 0);
    ASSERT_EQ(nextarq_close(closed), 0);

    uint16_t u16 = 0;
    int16_t i16 = 0;
    uint32_t u32 = 0;
    double f64 = 0;
    char text[256], text2[256];
    uint8_t bytes[320] = {};
    const std::vector<std::pair<const char *, std::function<int32_t(uint32_t)>>> calls = {
        {"connect", [&](uint32_t s) { return nextarq_connect(s, nhvi, 1, 1, 1); }},
        {"reset", [&](uint32_t s) { return nextarq_reset(s); }},
        {"ready_q", [&](uint32_t s) { return nextarq_ready_q(s, &u16); }},
        {"event", [&](uint32_t s) { return nextarq_event(s); }},
        {"status_q", [&](uint32_t s) { return nextarq_status_q(s, &u16); }},
        {"adcCommand", [&](uint32_t s) { return nextarq_adcCommand(s, 2); }},
        {"adcWrite", [&](uint32_t s) { return nextarq_adcWrite(s, 0x18, 0x20); }},
        {"adcRead", [&](uint32_t s) { return nextarq_adcRead(s, 0x18, &u16); }},
        {"configSpanF", [&](uint32_t s) { return nextarq_configSpanF(s, 1); }},
        {"configSpanF_q", [&](uint32_t s) { return nextarq_configSpanF_q(s, &i16); }},
        {"configBaseF", [&](uint32_t s) { return nextarq_configBaseF(s, 1); }},
        {"configBaseF_q", [&](uint32_t s) { return nextarq_configBaseF_q(s, &i16); }},
        {"configMode", [&](uint32_t s) { return nextarq_configMode(s, 1); }},
        {"configMode_q", [&](uint32_t s) { return nextarq_configMode_q(s, &i16); }},
        {"configTime", [&](uint32_t s) { return nextarq_configTime(s, 1, 1024, 256); }},
        {"configTime_q", [&](uint32_t s) { return nextarq_configTime_q(s, &u16, &u32, &u32); }},
        {"configTrigger", [&](uint32_t s) { return nextarq_configTrigger(s, 1, 1, -3.0); }},
        {"configTrigger_q", [&](uint32_t s) { return nextarq_configTrigger_q(s, &u16, &u16, &f64); }},
        {"configGain", [&](uint32_t s) { return nextarq_configGain(s, 0, 10.0); }},
        {"configGain_q", [&](uint32_t s) { return nextarq_configGain_q(s, 0, &f64); }},
        {"trigger", [&](uint32_t s) { return nextarq_trigger(s); }},
        {"stop", [&](uint32_t s) { return nextarq_stop(s); }},
        {"readData", [&](uint32_t s) { return nextarq_readData(s, 1, 1, nullptr, nullptr, 0); }},
        {"writeData", [&](uint32_t s) { return nextarq_writeData(s, 1, 1, nullptr, nullptr, 0); }},
        {"adcReset", [&](uint32_t s) { return nextarq_adcReset(s); }},
        {"adcAuto", [&](uint32_t s) { return nextarq_adcAuto(s); }},
        {"configAdcMode", [&](uint32_t s) { return nextarq_configAdcMode(s, 0, 0); }},
        {"configAdcMode_q", [&](uint32_t s) { return nextarq_configAdcMode_q(s, &i16, &i16); }},
        {"configNSR", [&](uint32_t s) { return nextarq_configNSR(s, 100.0); }},
        {"configNSR_q", [&](uint32_t s) { return nextarq_configNSR_q(s, &f64); }},
        {"configVDR", [&](uint32_t s) { return nextarq_configVDR(s, 1, 50.0); }},
        {"configVDR_q", [&](uint32_t s) { return nextarq_configVDR_q(s, &i16, &f64); }},
        {"configDDC", [&](uint32_t s) { return nextarq_configDDC(s, 0, 0, 0, 0, 0, 0, 0, 10.0); }},
        {"configDDC_q", [&](uint32_t s) { return nextarq_configDDC_q(s, 0, &i16, &i16, &i16, &u16, &i16, &i16, &f64); }},
        {"temperature_q", [&](uint32_t s) { return nextarq_temperature_q(s, &f64, &f64); }},
        {"readCoefficients", [&](uint32_t s) { return nextarq_readCoefficients(s, 3, bytes, 320); }},
        {"writeCoefficients", [&](uint32_t s) { return nextarq_writeCoefficients(s, 3, bytes, 320, 1); }},
        {"readCoefficientInfo", [&](uint32_t s) { return nextarq_readCoefficientInfo(s, text, &u32); }},
        {"self_test", [&](uint32_t s) { return nextarq_self_test(s, &i16, text); }},
        {"testOK_off", [&](uint32_t s) { return nextarq_testOK_off(s, 1, &i16, text); }},
        {"revision_query", [&](uint32_t s) { return nextarq_revision_query(s, text, text2); }},
        {"close", [&](uint32_t s) { return nextarq_close(s); }},
    };
    for (uint32_t handle : {0u, 1u, closed, nhvi})
        for (const auto &[name, call] : calls) {
            if (handle == 0 && std::string(name) == "revision_query") continue; // 0 asks for the driver's only
            EXPECT_LT(call(handle), 0) << name << " with handle " << handle;
        }
    // The live session is untouched by all this.
    EXPECT_EQ(nextarq_ready_q(vi, &u16), 0);
}

} // namespace

namespace {

// A Russian process locale (decimal commas, digit grouping) changes nothing the driver writes.
TEST_F(Session, TextsDoNotDependOnTheProcessLocale) {
    if (!std::setlocale(LC_ALL, "ru_RU.UTF-8")) GTEST_SKIP() << "no Russian locale installed";
    char driver[256], instrument[256];
    EXPECT_EQ(nextarq_revision_query(vi, driver, instrument), 0);
    std::vector<uint8_t> data(320, 1);
    EXPECT_EQ(nextarq_writeCoefficients(vi, 1, data.data(), 320, 1234567), 0);
    char date[20];
    uint32_t serial = 0;
    EXPECT_EQ(nextarq_readCoefficientInfo(vi, date, &serial), 0);
    std::setlocale(LC_ALL, "C");
    EXPECT_STREQ(driver, "1.0.2");
    EXPECT_STREQ(instrument, "1");
    EXPECT_EQ(serial, 1234567u);
    EXPECT_EQ(std::strlen(date), 19u);
    EXPECT_EQ(date[2], '-');
    EXPECT_EQ(date[13], ':');
}

} // namespace
