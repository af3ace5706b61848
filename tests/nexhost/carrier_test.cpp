#include "bench_fixture.h"

#include <cstring>
#include <fstream>

using namespace tarq;
using test::BenchTest;

TEST_F(BenchTest, DefaultBenchHasOneCarrierWithTarqAtPositionOne) {
    uint32_t memory = 0;
    ASSERT_EQ(nexhost_mem_q(carrier, &memory), 0);
    EXPECT_EQ(memory, 64u << 20);
    for (uint16_t position = 1; position <= 4; ++position) {
        uint16_t present = 9, type = 9;
        ASSERT_EQ(nexhost_m_type_q(carrier, position, &present, &type), 0);
        EXPECT_EQ(present, position == 1 ? 1 : 0);
        EXPECT_EQ(type, position == 1 ? 0x49 : 0);
    }
    char name[256];
    ASSERT_EQ(viGetAttribute(carrier, VI_ATTR_RSRC_NAME, name), VI_SUCCESS);
    EXPECT_STREQ(name, "PXI0::1::INSTR");
    ASSERT_EQ(nexhost_m_get_attribute(s, NEXHOST_ATTR_CARRIER_NAME, name), 0);
    EXPECT_GT(std::strlen(name), 0u);
    EXPECT_EQ(rd(0x02) & 0xFF, 0x49);
    EXPECT_EQ((rd(0x04) & 0x300) >> 8, 1);
}

TEST_F(BenchTest, UnknownClosedAndDemoHandlesGetErrors) {
    uint32_t closedCarrier = 0, closedModule = 0;
    ASSERT_EQ(nexhost_init("PXI0::1::INSTR", 0, 0, &closedCarrier), 0);
    ASSERT_EQ(nexhost_m_init(closedCarrier, 1, &closedModule), 0);
    ASSERT_EQ(nexhost_m_close(closedModule), 0);
    ASSERT_EQ(nexhost_close(closedCarrier), 0);
    uint16_t v = 0, a = 0, b = 0;
    uint32_t u = 0;
    for (uint32_t bad : {0u, 1u, closedCarrier, closedModule, 0xDEADBEEFu}) {
        SCOPED_TRACE(bad);
        EXPECT_EQ(nexhost_m_in16(bad, 0x02, &v), NEXHOST_ERROR_SESSION);
        EXPECT_EQ(nexhost_m_out16(bad, 0x0A, 0x80), NEXHOST_ERROR_SESSION);
        EXPECT_EQ(nexhost_m_close(bad), NEXHOST_ERROR_SESSION);
        EXPECT_EQ(nexhost_close(bad), NEXHOST_ERROR_SESSION);
        EXPECT_EQ(nexhost_m_type_q(bad, 1, &a, &b), NEXHOST_ERROR_SESSION);
        EXPECT_EQ(nexhost_mem_q(bad, &u), NEXHOST_ERROR_SESSION);
        EXPECT_EQ(nexhost_m_read_packet(bad, 4, &u, &u), NEXHOST_ERROR_SESSION);
        EXPECT_EQ(nexhost_m_set_attribute(bad, NEXHOST_ATTR_USER_RECORD, 0), NEXHOST_ERROR_SESSION);
    }
    // A module session is not a carrier session and the other way round.
    EXPECT_EQ(nexhost_m_type_q(s, 1, &a, &b), NEXHOST_ERROR_SESSION);
    EXPECT_EQ(nexhost_m_in16(carrier, 0x02, &v), NEXHOST_ERROR_SESSION);
    // Bad positions, registers and pointers.
    EXPECT_EQ(nexhost_m_init(carrier, 0, &u), NEXHOST_ERROR_POSITION);
    EXPECT_EQ(nexhost_m_init(carrier, 5, &u), NEXHOST_ERROR_POSITION);
    EXPECT_EQ(nexhost_m_init(carrier, 2, &u), NEXHOST_ERROR_NO_MODULE);
    EXPECT_EQ(nexhost_m_init(carrier, 1, nullptr), NEXHOST_ERROR_PARAMETER);
    EXPECT_EQ(nexhost_m_type_q(carrier, 1, nullptr, &b), NEXHOST_ERROR_PARAMETER);
    for (uint16_t reg : {0x00, 0x01, 0x03, 0x40, 0xFFFF}) EXPECT_EQ(nexhost_m_in16(s, reg, &v), NEXHOST_ERROR_REGISTER);
    EXPECT_EQ(nexhost_m_in16(s, 0x02, nullptr), NEXHOST_ERROR_PARAMETER);
    EXPECT_EQ(nexhost_m_read_packet(s, 4, nullptr, &u), NEXHOST_ERROR_PARAMETER);
    EXPECT_EQ(nexhost_init(nullptr, 0, 0, &u), NEXHOST_ERROR_PARAMETER);
    EXPECT_EQ(nexhost_init("PXI0::7::INSTR", 0, 0, &u), VI_ERROR_RSRC_NFOUND);
    EXPECT_EQ(u, 0u);
}

TEST_F(BenchTest, AliasSessionAndRecordAttribute) {
    ViSession rm = 0, instrument = 0;
    ASSERT_EQ(viOpenDefaultRM(&rm), VI_SUCCESS);
    ASSERT_EQ(viOpen(rm, "PXI0::1::INSTR", 0, 0, &instrument), VI_SUCCESS);
    uint16_t v = 0;
    EXPECT_EQ(nexhost_m_in16(instrument, 0x02, &v), NEXHOST_ERROR_SESSION);
    ASSERT_EQ(nexhost_m_set_attribute(s, NEXHOST_ATTR_ALIAS_SESSION, instrument), 0);
    EXPECT_EQ(nexhost_m_in16(instrument, 0x02, &v), 0);
    EXPECT_EQ(v & 0xFF, 0x49);

    double record = 1.5;
    ASSERT_EQ(nexhost_m_set_attribute(instrument, NEXHOST_ATTR_USER_RECORD, reinterpret_cast<uintptr_t>(&record)), 0);
    uintptr_t back = 0;
    ASSERT_EQ(nexhost_m_get_attribute(s, NEXHOST_ATTR_USER_RECORD, &back), 0);
    EXPECT_EQ(reinterpret_cast<double *>(back), &record);
    EXPECT_EQ(nexhost_m_set_attribute(s, NEXHOST_ATTR_CARRIER_NAME, 0), NEXHOST_ERROR_ATTRIBUTE);

    // The alias keeps working after its VISA session closes (the driver closes that first), and
    // closing the module through it ends both.
    ASSERT_EQ(viClose(instrument), VI_SUCCESS);
    EXPECT_EQ(nexhost_m_set_attribute(instrument, NEXHOST_ATTR_USER_RECORD, 0), 0);
    EXPECT_EQ(nexhost_m_close(instrument), 0);
    EXPECT_EQ(nexhost_m_in16(instrument, 0x02, &v), NEXHOST_ERROR_SESSION);
    EXPECT_EQ(nexhost_m_in16(s, 0x02, &v), NEXHOST_ERROR_SESSION);
    s = 0;
    viClose(rm);
}

TEST_F(BenchTest, StreamMemoryIsAllocatedAgainstTheCarrierSize) {
    const uint32_t m = 64u << 20;
    EXPECT_EQ(nexhost_m_alloc(s, 0, m / 2, 0), 0);
    EXPECT_EQ(nexhost_m_alloc(s, 1, m / 2, 0), 0);
    EXPECT_EQ(nexhost_m_alloc(s, 1, m / 2 + 1, 0), NEXHOST_ERROR_NO_MEMORY);
    uint32_t free = 1;
    EXPECT_EQ(nexhost_m_howmuch_data_q(s, 1, &free), 0);
    EXPECT_EQ(free, 0u); // the refused offer released the old size
    EXPECT_EQ(nexhost_m_alloc(s, 1, m / 4, 0), 0);
    EXPECT_EQ(nexhost_m_howmuch_data_q(s, 1, &free), 0);
    EXPECT_EQ(free, m / 4);
    EXPECT_EQ(nexhost_m_alloc(s, 2, 16, 0), NEXHOST_ERROR_STREAM);
    EXPECT_EQ(nexhost_m_alloc(s, 0, 0, 0), 0);

    bench::ModuleFaults f;
    f.refuseStreamSizesAbove = 0x400000;
    bench::setFaults(ref, f);
    EXPECT_EQ(nexhost_m_alloc(s, 0, 0x400001, 0), NEXHOST_ERROR_NO_MEMORY);
    EXPECT_EQ(nexhost_m_alloc(s, 0, 0x400000, 0), 0);
    f.refuseAllStreamSizes = true;
    bench::setFaults(ref, f);
    EXPECT_EQ(nexhost_m_alloc(s, 0, 16, 0), NEXHOST_ERROR_NO_MEMORY);
    // Nothing allocated, nothing to start.
    EXPECT_EQ(nexhost_m_start(s, 0), NEXHOST_ERROR_NOT_ALLOCATED);
}

TEST(NexhostErrorMessage, TextsForCarrierAndVisaStatuses) {
    struct Case {
        int32_t status;
        const char *fragment;
    } cases[] = {
        {static_cast<int32_t>(0xBFFF0015), "Истекло время ожидания"},
        {static_cast<int32_t>(0xBFFF003A), "записи сеанса"},
        {static_cast<int32_t>(0xBFFF003C), "Недостаточно памяти"},
        {static_cast<int32_t>(0xBFFC0011), "идентификации"},
        {NEXHOST_ERROR_NO_MEMORY, "памяти носителя"},
        {NEXHOST_ERROR_SESSION, "сеанс"},
        {0x12345, "0x00012345"},
    };
    for (const Case &c : cases) {
        char text[256] = {};
        EXPECT_EQ(nexhost_error_message(0, c.status, text), 0);
        EXPECT_NE(std::string(text).find(c.fragment), std::string::npos) << text;
        EXPECT_EQ(nexhost_error_message_lang(c.status, 1, text), 0);
        EXPECT_GT(std::strlen(text), 0u);
    }
    char text[256];
    nexhost_error_message_lang(static_cast<int32_t>(0xBFFF0015), 1, text);
    EXPECT_STREQ(text, "Timeout expired before the operation completed");
    EXPECT_EQ(nexhost_error_message(0, 0, nullptr), NEXHOST_ERROR_PARAMETER);
}

TEST(BenchFile, DescribesCarriersSourcesAndCables) {
    const std::string text = R"(# two carriers, the second refuses to open
[bench]
time_factor = 0.5
seed = 7

[carrier PXI1::4::INSTR]
name = Rack A
memory_words = 0x1000000
module 2 = tarq serial=77 version=0
module 3 = other type=0x21

[carrier PXI1::5::INSTR]
refuses_open = yes

[source GEN]
kind = sine
frequency_hz = 25e6
level_dbm = -3.5

[source BIAS]
kind = dc
dc_volts = 0.25

[cables]
GEN = PXI1::4::INSTR/2/CH1
BIAS = PXI1::4::INSTR/2/КН2
)";
    bench::BenchSpec spec;
    std::string error;
    ASSERT_TRUE(bench::parseBenchText(text, "lab.bench", spec, error)) << error;
    EXPECT_DOUBLE_EQ(spec.timeFactor, 0.5);
    ASSERT_EQ(spec.carriers.size(), 2u);
    EXPECT_EQ(spec.carriers[0].memoryWords, 0x1000000u);
    ASSERT_EQ(spec.carriers[0].modules.size(), 2u);
    EXPECT_EQ(spec.carriers[0].modules[0].hardwareVersion, 0);
    EXPECT_EQ(spec.carriers[0].modules[1].type, 0x21);
    EXPECT_DOUBLE_EQ(spec.sources[0].levelDbm, -3.5);
    EXPECT_EQ(spec.cables[0].second, "PXI1::4::INSTR/2/КН1");

    spec.stateDirectory = test::scratchDir("BenchFile");
    bench::configure(spec);
    uint32_t nhvi = 0;
    EXPECT_EQ(nexhost_init("PXI1::5::INSTR", 0, 0, &nhvi), NEXHOST_ERROR_OPEN);
    EXPECT_NE(nhvi, 0u); // the caller must close what it was handed
    EXPECT_EQ(nexhost_close(nhvi), 0);
    ASSERT_EQ(nexhost_init("PXI1::4::INSTR", 0, 0, &nhvi), 0);
    uint16_t present = 0, type = 0;
    EXPECT_EQ(nexhost_m_type_q(nhvi, 3, &present, &type), 0);
    EXPECT_EQ(type, 0x21);
    uint32_t ms = 0;
    ASSERT_EQ(nexhost_m_init(nhvi, 3, &ms), 0);
    uint16_t id = 0;
    EXPECT_EQ(nexhost_m_in16(ms, 0x02, &id), 0);
    EXPECT_EQ(id, 0x21);
    nexhost_m_close(ms);
    nexhost_close(nhvi);
}

TEST(BenchFile, MalformedFilesGiveTheLineAndTheReason) {
    struct Case {
        const char *text;
        const char *error;
    } cases[] = {
        {"[bench]\ntime_factor = fast\n", "lab.bench:2: time_factor"},
        {"[bench]\ntime_factor = 1,5\n", "lab.bench:2: time_factor"},
        {"[bench\n", "lab.bench:1: section header"},
        {"[kitchen]\n", "unknown section"},
        {"time_factor = 1\n", "outside a section"},
        {"[carrier]\n", "carrier section without"},
        {"[carrier A::INSTR]\nmodule 5 = tarq\n", "lab.bench:2: 'module N'"},
        {"[carrier A::INSTR]\nmodule 1 = tarq\nmodule 1 = tarq\n", "lab.bench:3: position 1 described twice"},
        {"[carrier A::INSTR]\nmodule 1 = robot\n", "module kind"},
        {"[carrier A::INSTR]\nmodule 1 = tarq serial=-4\n", "serial"},
        {"[carrier A::INSTR]\nmemory_words = 0\n", "memory_words"},
        {"[carrier A::INSTR]\n[carrier a::instr]\n", "described twice"},
        {"[source S]\nlevel_dbm = nan\n", "level_dbm"},
        {"[source S]\nkind = square\n", "kind must be"},
        {"[cables]\nX = Y\n", "lab.bench:2: unknown connector 'X'"},
        {"[source S]\n[source T]\n[carrier A::INSTR]\nmodule 1 = tarq\n[cables]\nS = A::INSTR/1/CH1\nT = A::INSTR/1/КН1\n",
         "lab.bench:7: connector 'A::INSTR/1/КН1' already has a cable"},
        {"[bench]\nno equals sign\n", "expected 'key = value'"},
    };
    for (const Case &c : cases) {
        bench::BenchSpec spec;
        std::string error;
        EXPECT_FALSE(bench::parseBenchText(c.text, "lab.bench", spec, error)) << c.text;
        EXPECT_NE(error.find(c.error), std::string::npos) << "got: " << error;
    }
    bench::BenchSpec spec;
    std::string error;
    EXPECT_FALSE(bench::loadBenchFile("/nonexistent/lab.bench", spec, error));
    EXPECT_NE(error.find("cannot open"), std::string::npos);
    // The same reasons in Russian.
    EXPECT_FALSE(bench::parseBenchText("[bench]\ntime_factor = fast\n", "lab.bench", spec, error, 0));
    EXPECT_EQ(error, "lab.bench:2: time_factor должен быть положительным числом");
    EXPECT_FALSE(bench::loadBenchFile("/nonexistent/lab.bench", spec, error, 0));
    EXPECT_EQ(error, "/nonexistent/lab.bench: не удается открыть файл стенда");
}
