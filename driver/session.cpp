// Sessions: opening, connecting, resetting and closing; the record table; status texts; the ADC port.
#include "internal.h"

#include "visa.h"

#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <thread>

namespace nextarq {
namespace {

struct Owned {
    std::unique_ptr<Record> record;
    uint32_t resourceManager = 0;
};

std::mutex &tableMutex() {
    static std::mutex m;
    return m;
}
std::map<uintptr_t, Owned> &table() {
    static std::map<uintptr_t, Owned> t;
    return t;
}

constexpr uint32_t kTrigLengthAttribute = NEXHOST_ATTR_TRIG_LENGTH_EN;

} // namespace

Record *createRecord(uint32_t resourceManager) {
    try {
        auto record = std::make_unique<Record>();
        std::memset(record.get(), 0, sizeof(Record));
        Record *raw = record.get();
        std::lock_guard lock(tableMutex());
        table()[reinterpret_cast<uintptr_t>(raw)] = Owned{std::move(record), resourceManager};
        return raw;
    } catch (const std::bad_alloc &) {
        return nullptr;
    }
}

void destroyRecord(Record *record) {
    std::lock_guard lock(tableMutex());
    auto it = table().find(reinterpret_cast<uintptr_t>(record));
    if (it == table().end()) return;
    it->second.record->magic = 0;
    table().erase(it);
}

Record *knownRecord(uintptr_t value) {
    std::lock_guard lock(tableMutex());
    auto it = table().find(value);
    return it == table().end() ? nullptr : it->second.record.get();
}

uint32_t resourceManagerOf(const Record *record) {
    std::lock_guard lock(tableMutex());
    auto it = table().find(reinterpret_cast<uintptr_t>(record));
    return it == table().end() ? 0 : it->second.resourceManager;
}

int32_t fetchRecord(uint32_t vi, Record *&record) {
    record = nullptr;
    uintptr_t value = 0;
    if (nexhost_m_get_attribute(vi, NEXHOST_ATTR_USER_RECORD, &value) < 0 || value == 0) return NEXTARQ_ERROR_NO_RECORD;
    Record *r = knownRecord(value);
    if (!r || r->magic != kMagic) return NEXTARQ_ERROR_SESSION;
    record = r;
    return 0;
}

int32_t fetchVisaRecord(uint32_t vi, Record *&record) {
    record = nullptr;
    ViAttrState value = 0;
    int32_t status = viGetAttribute(vi, VI_ATTR_USER_DATA, &value);
    if (status < 0) return status;
    Record *r = value ? knownRecord(value) : nullptr;
    if (!r || r->magic != kMagic) return NEXTARQ_ERROR_NO_RECORD;
    record = r;
    return 0;
}

void setDefaultCoefficients(Record &record) {
    for (auto &c : record.coefficients)
        for (int b = 0; b < NEXTARQ_BANDS; ++b) {
            c.gain[b] = 1.0;
            c.offset[b] = 0.0;
        }
}

int32_t wr32(uint32_t vi, uint16_t reg, uint32_t value) {
    int32_t status = wr(vi, reg, static_cast<uint16_t>(value >> 16));
    if (status < 0) return status;
    return wr(vi, reg, static_cast<uint16_t>(value & 0xFFFF));
}

int32_t rd32(uint32_t vi, uint16_t reg, uint32_t &value) {
    uint16_t high = 0, low = 0;
    int32_t status = rd(vi, reg, high);
    if (status < 0) return status;
    status = rd(vi, reg, low);
    if (status < 0) return status;
    value = static_cast<uint32_t>(high) << 16 | low;
    return status;
}

void pause(double seconds) { std::this_thread::sleep_for(std::chrono::duration<double>(seconds)); }

// The waits below look at the clock before each poll and give up only after a poll that started late:
// a process that was descheduled past the limit still gets one look at the hardware.
int32_t commandBit(uint32_t vi, uint16_t reg, uint16_t mask, double seconds) {
    Stopwatch clock;
    uint16_t value = 0;
    int32_t status = rd(vi, reg, value);
    if (status < 0) return status;
    status = wr(vi, reg, static_cast<uint16_t>(value | mask));
    if (status < 0) return status;
    for (;;) {
        const bool late = clock.seconds() > seconds;
        status = rd(vi, reg, value);
        if (status < 0) return status;
        if (!(value & mask)) return status;
        if (late) return NEXTARQ_ERROR_TIMEOUT;
    }
}

int32_t synchroniseConverter(uint32_t vi) {
    int32_t status = wr(vi, kRegController, 0x1000);
    if (status < 0) return status;
    return commandBit(vi, kRegCommand, 0x200, 1.0);
}

namespace {

constexpr double kAdcPortSeconds = 5.0;

int32_t waitAdcPort(uint32_t vi, const Stopwatch &clock) {
    for (;;) {
        const bool late = clock.seconds() > kAdcPortSeconds;
        uint16_t value = 0;
        int32_t status = rd(vi, kRegAdcCommand, value);
        if (status < 0) return status;
        if (value == 0) return status;
        if (late) return NEXTARQ_ERROR_BUSY;
    }
}

int32_t adcCommandTimed(uint32_t vi, uint16_t command, const Stopwatch &clock) {
    int32_t status = wr(vi, kRegAdcCommand, command);
    if (status < 0) return status;
    return waitAdcPort(vi, clock);
}

int32_t adcWriteTimed(uint32_t vi, uint16_t address, uint8_t data, const Stopwatch &clock) {
    int32_t status = wr(vi, kRegAdcAddress, address);
    if (status < 0) return status;
    status = wr(vi, kRegAdcData, data);
    if (status < 0) return status;
    return adcCommandTimed(vi, 1, clock);
}

int32_t adcReadTimed(uint32_t vi, uint16_t address, uint8_t &data, const Stopwatch &clock) {
    int32_t status = wr(vi, kRegAdcAddress, address);
    if (status < 0) return status;
    status = adcCommandTimed(vi, 8, clock);
    if (status < 0) return status;
    uint16_t value = 0;
    int32_t readStatus = rd(vi, kRegAdcData, value);
    if (readStatus < 0) return readStatus;
    data = static_cast<uint8_t>(value & 0xFF);
    return readStatus;
}

} // namespace

int32_t adcCommandUnchecked(uint32_t vi, uint16_t command) { return adcCommandTimed(vi, command, Stopwatch()); }
int32_t adcWriteUnchecked(uint32_t vi, uint16_t address, uint8_t data) {
    return adcWriteTimed(vi, address, data, Stopwatch());
}
int32_t adcReadUnchecked(uint32_t vi, uint16_t address, uint8_t &data) {
    return adcReadTimed(vi, address, data, Stopwatch());
}

namespace {

// Stream settings shared by the connection and the reset.
int32_t configureStreams(uint32_t vi) {
    for (int i = 0; i < 2; ++i) {
        int32_t status = nexhost_m_set_attribute(vi, kTrigLengthAttribute, 1);
        if (status < 0) return status;
        status = nexhost_m_trig_length(vi, 1);
        if (status < 0) return status;
    }
    for (uint16_t stream = 0; stream < 2; ++stream) {
        int32_t status = nexhost_m_sample_width(vi, stream, 1);
        if (status >= 0) status = nexhost_m_mode(vi, stream, 2);
        if (status >= 0) status = nexhost_m_packet_size(vi, stream, 0);
        if (status >= 0) status = nexhost_m_first_delay(vi, stream, 6);
        if (status >= 0) status = nexhost_m_clock(vi, stream, 6);
        if (status >= 0) status = nexhost_m_config_trigger(vi, stream, 0);
        if (status < 0) return status;
    }
    return 0;
}

int32_t startControllers(uint32_t vi) {
    uint16_t value = 0;
    int32_t status = rd(vi, kRegController, value);
    if (status < 0) return status;
    if (value != 0x8000) {
        status = wr(vi, kRegController, 1);
        if (status < 0) return status;
        Stopwatch clock;
        for (;;) {
            const bool late = clock.seconds() > 4.0;
            status = rd(vi, kRegController, value);
            if (status < 0) return status;
            if (!(value & 1) || late) break;
        }
        if (value != 2) { // still starting (bit 0), or finished in a state other than "done"
            nextarq_reset(vi);
            return NEXTARQ_ERROR_CONTROLLER;
        }
    }
    status = wr(vi, kRegController, 0x10);
    if (status < 0) return status;
    status = rd(vi, kRegController, value);
    if (status < 0) return status;
    if (value != 0x8000) {
        nextarq_reset(vi);
        return NEXTARQ_ERROR_CONTROLLER;
    }
    return status;
}

// Offers half the carrier memory to stream 0, shrinking by a quarter while refused, then splits the
// accepted size between both streams.
int32_t negotiateStreams(uint32_t vi, uint32_t nhvi, Record &r) {
    int32_t status = nexhost_m_alloc(vi, 0, 0, 0);
    if (status < 0) return status;
    status = nexhost_m_alloc(vi, 1, 0, 0);
    if (status < 0) return status;
    uint32_t size = 0;
    status = nexhost_mem_q(nhvi, &size);
    if (status < 0) return status;
    size /= 2;
    status = nexhost_m_alloc(vi, 0, size, 0);
    while (status != 0) {
        size = (size / 4) * 3;
        if (size <= 0x400000) break;
        status = nexhost_m_alloc(vi, 0, size, 0);
    }
    if (status < 0) return status;
    r.inputStreamSize = r.outputStreamSize = size / 2;
    status = nexhost_m_alloc(vi, 0, r.inputStreamSize, 0);
    if (status < 0) return status;
    return nexhost_m_alloc(vi, 1, r.outputStreamSize, 0);
}

// The connection after the module session exists; any negative status ends it.
int32_t connectModule(uint32_t vi, uint32_t nhvi, uint16_t idQuery, Record &r) {
    uint16_t value = 0;
    int32_t status = 0;
    if (idQuery == 1) {
        status = rd(vi, kRegId, value);
        if (status < 0) return status;
        if ((value & 0xFF) != 0x49) return NEXTARQ_ERROR_ID_QUERY;
    }
    status = rd(vi, kRegVersion, value);
    if (status < 0) return status;
    r.hardwareVersion = static_cast<int16_t>((value & 0x300) >> 8);
    status = wr(vi, kRegControl, kControlStop);
    if (status < 0) return status;
    status = startControllers(vi);
    if (status < 0) return status;
    // A missing or damaged block leaves the default coefficients: the module works uncalibrated.
    nextarq_readCoefficients(vi, 1, r.coefficients, NEXTARQ_COEFFICIENT_SIZE);
    status = negotiateStreams(vi, nhvi, r);
    if (status < 0) return status;
    status = configureStreams(vi);
    if (status < 0) return status;
    nexhost_m_start(vi, 0);
    nexhost_m_stop(vi, 2);
    nexhost_m_start(vi, 1);
    nexhost_m_stop(vi, 2);
    status = nextarq_reset(vi);
    if (status < 0) return status;
    status = commandBit(vi, kRegCommand, 0x100, 1.0);
    if (status < 0) return status;
    r.flags |= kFlagConnected;
    return status;
}

// Lets go of the module session bound to the record (a failed or repeated connection, a close).
int32_t releaseModule(Record &r) {
    if (!r.moduleSession) return 0;
    nexhost_m_set_attribute(r.moduleSession, NEXHOST_ATTR_USER_RECORD, 0);
    int32_t status = nexhost_m_close(r.moduleSession);
    r.moduleSession = 0;
    r.flags &= static_cast<uint16_t>(~kFlagConnected);
    return status;
}

struct StatusText {
    int32_t code;
    const char *ru;
    const char *en;
};

const StatusText kStatusTexts[] = {
    {NEXTARQ_ERROR_PARAMETER1, "Ошибка параметра 1", "Parameter 1 error"},
    {NEXTARQ_ERROR_PARAMETER2, "Ошибка параметра 2", "Parameter 2 error"},
    {NEXTARQ_ERROR_PARAMETER3, "Ошибка параметра 3", "Parameter 3 error"},
    {NEXTARQ_ERROR_PARAMETER4, "Ошибка параметра 4", "Parameter 4 error"},
    {NEXTARQ_ERROR_PARAMETER5, "Ошибка параметра 5", "Parameter 5 error"},
    {NEXTARQ_ERROR_PARAMETER6, "Ошибка параметра 6", "Parameter 6 error"},
    {NEXTARQ_ERROR_PARAMETER7, "Ошибка параметра 7", "Parameter 7 error"},
    {NEXTARQ_ERROR_PARAMETER8, "Ошибка параметра 8", "Parameter 8 error"},
    {NEXTARQ_ERROR_PARAMETER9, "Ошибка параметра 9", "Parameter 9 error"},
    {NEXTARQ_ERROR_SESSION, "Ошибка номера сеанса", "Session number error"},
    {NEXTARQ_ERROR_BUSY, "Инструмент занят", "Instrument busy"},
    {NEXTARQ_ERROR_FIFO_READ, "Ошибка чтения данных FIFO", "FIFO data read error"},
    {NEXTARQ_ERROR_FIFO_WRITE, "Ошибка записи данных FIFO", "FIFO data write error"},
    {NEXTARQ_ERROR_CONTROLLER, "Ошибка контроллеров", "Controller error"},
    {NEXTARQ_ERROR_FLASH, "Ошибка РПЗУ", "Coefficient memory error"},
    {NEXTARQ_ERROR_SELF_TEST, "Ошибка самоконтроля", "Self-test error"},
    {NEXTARQ_ERROR_REFERENCE_TEST, "Ошибка контроля \"ОК отключен\"", "Error of the \"reference off\" check"},
    {NEXTARQ_ERROR_READ, "Ошибка чтения ", "Read error "},
    {NEXTARQ_ERROR_WRITE, "Ошибка записи", "Write error"},
    {NEXTARQ_ERROR_FILE_WRITE, "Ошибка записи в файл", "File write error"},
    {NEXTARQ_WARN_NOT_READY, "Мезонин не готов", "Mezzanine not ready"},
    {NEXTARQ_WARN_NO_FLASH_DATA, "Нет данных РПЗУ", "No coefficient memory data"},
    {NEXTARQ_WARN_STOPPED, "Процесс остановлен пользователем", "Process stopped by the user"},
    {NEXTARQ_WARN_NOT_SUPPORTED, "Функция не поддерживается данной версией инструмента",
     "Function not supported by this instrument version"},
};

} // namespace
} // namespace nextarq

using namespace nextarq;

extern "C" {

NEXTARQ_API int32_t nextarq_init(const char *rsrcName, uint16_t idQuery, uint16_t reset, uint32_t *vi) {
    if (idQuery > 1) return NEXTARQ_ERROR_PARAMETER2;
    if (reset > 1) return NEXTARQ_ERROR_PARAMETER3;
    if (!vi) return NEXTARQ_ERROR_PARAMETER4;
    *vi = 0;
    ViSession rm = 0, session = 0;
    int32_t status = viOpenDefaultRM(&rm);
    if (status < 0) return status;
    status = viOpen(rm, rsrcName, 0, 0, &session);
    if (status < 0) {
        viClose(rm);
        return status;
    }
    Record *r = createRecord(rm);
    if (!r) {
        viClose(session);
        viClose(rm);
        return NEXTARQ_ERROR_ALLOC;
    }
    status = viSetAttribute(session, VI_ATTR_USER_DATA, reinterpret_cast<ViAttrState>(r));
    if (status < 0) {
        destroyRecord(r);
        viClose(session);
        viClose(rm);
        return status;
    }
    r->magic = kMagic;
    r->instrumentSession = session;
    setDefaultCoefficients(*r);
    *vi = session;
    return 0;
}

NEXTARQ_API int32_t nextarq_connect(uint32_t vi, uint32_t nhvi, uint16_t position, uint16_t idQuery, uint16_t reset) {
    Record *r = nullptr;
    int32_t status = fetchVisaRecord(vi, r);
    if (status < 0) return status;
    if (nhvi == 0) return NEXTARQ_ERROR_PARAMETER2;
    if (idQuery > 1) return NEXTARQ_ERROR_PARAMETER4;
    if (reset > 1) return NEXTARQ_ERROR_PARAMETER5;
    // Connecting again replaces the earlier binding instead of leaking its module session.
    releaseModule(*r);
    uint32_t module = 0;
    status = nexhost_m_init(nhvi, position, &module);
    if (status < 0) return status;
    uint16_t interfaceType = 0;
    viGetAttribute(nhvi, VI_ATTR_INTF_TYPE, &interfaceType);
    r->magic = kMagic;
    r->moduleSession = module;
    r->carrierSession = nhvi;
    r->position = position;
    status = nexhost_m_set_attribute(module, NEXHOST_ATTR_USER_RECORD, reinterpret_cast<uintptr_t>(r));
    if (status >= 0) status = nexhost_m_set_attribute(module, NEXHOST_ATTR_ALIAS_SESSION, vi);
    if (status >= 0) status = connectModule(vi, nhvi, idQuery, *r);
    if (status < 0) releaseModule(*r);
    return status;
}

NEXTARQ_API int32_t nextarq_close(uint32_t vi) {
    Record *r = nullptr;
    if (fetchRecord(vi, r) < 0) {
        // Not bound to a module (never connected, or the connection failed): the record still hangs
        // on the VISA session and is released all the same.
        int32_t status = fetchVisaRecord(vi, r);
        if (status < 0) return status;
    }
    int32_t status = 0;
    if (r->moduleSession) {
        wr(vi, kRegControl, 0);
        status = releaseModule(*r);
    }
    const uint32_t session = r->instrumentSession;
    const uint32_t rm = resourceManagerOf(r);
    viSetAttribute(session, VI_ATTR_USER_DATA, 0);
    destroyRecord(r);
    viClose(session);
    if (rm) viClose(rm);
    return status;
}

NEXTARQ_API int32_t nextarq_reset(uint32_t vi) {
    Record *r = nullptr;
    int32_t status = fetchRecord(vi, r);
    if (status < 0) return status;
    nextarq_stop(vi);
    status = wr(vi, kRegController, 0x1000);
    if (status < 0) return status;
    pause(0.001);
    status = nexhost_m_reset(vi, 2);
    if (status < 0) return status;
    status = nexhost_m_alloc(vi, 0, r->inputStreamSize, 0);
    if (status < 0) return status;
    status = nexhost_m_alloc(vi, 1, r->outputStreamSize, 0);
    if (status < 0) return status;
    status = configureStreams(vi);
    if (status < 0) return status;
    status = synchroniseConverter(vi);
    if (status < 0) return status;
    status = commandBit(vi, kRegCommand, 0x100, 1.0);
    if (status < 0) return status;

    status = nextarq_configBaseF(vi, 0);
    if (status < 0) return status;
    status = nextarq_configSpanF(vi, 2);
    if (status < 0) return status;
    status = nextarq_configMode(vi, 0);
    if (status < 0) return status;
    status = nextarq_configTime(vi, 1, 1024, 256);
    if (status < 0) return status;
    status = nextarq_configTrigger(vi, 0, 0, 0.0);
    if (status < 0) return status;
    status = nextarq_trigger(vi);
    if (status < 0) return status;
    pause(0.001);
    nextarq_readData(vi, 1, 1, nullptr, nullptr, NEXTARQ_FORMAT_VOLTS);
    return nextarq_stop(vi);
}

NEXTARQ_API int32_t nextarq_ready_q(uint32_t vi, uint16_t *busy) {
    Record *r = nullptr;
    int32_t status = fetchRecord(vi, r);
    if (status < 0) return status;
    if (!busy) return NEXTARQ_ERROR_PARAMETER2;
    uint16_t value = 0;
    status = rd(vi, kRegControl, value);
    if (status < 0) return status;
    *busy = value & 1;
    return status;
}

NEXTARQ_API int32_t nextarq_event(uint32_t vi) { return wr(vi, kRegEvent, 1); }

NEXTARQ_API int32_t nextarq_status_q(uint32_t vi, uint16_t *value) {
    Record *r = nullptr;
    int32_t status = fetchRecord(vi, r);
    if (status < 0) return status;
    if (!value) return NEXTARQ_ERROR_PARAMETER2;
    return rd(vi, kRegControl, *value);
}

NEXTARQ_API int32_t nextarq_error_message_lang(int32_t status, int32_t language, char text[256]) {
    if (!text) return NEXTARQ_ERROR_PARAMETER3;
    for (const StatusText &t : kStatusTexts)
        if (t.code == status) {
            std::snprintf(text, NEXTARQ_TEXT_SIZE, "%s", language == 1 ? t.en : t.ru);
            return 0;
        }
    char carrierText[256] = {};
    nexhost_error_message_lang(status, language == 1 ? 1 : 0, carrierText);
    std::snprintf(text, NEXTARQ_TEXT_SIZE, "%s", carrierText);
    return 0;
}

NEXTARQ_API int32_t nextarq_error_message(uint32_t, int32_t status, char text[256]) {
    if (!text) return NEXTARQ_ERROR_PARAMETER3;
    for (const StatusText &t : kStatusTexts)
        if (t.code == status) {
            std::snprintf(text, NEXTARQ_TEXT_SIZE, "%s", t.ru);
            return 0;
        }
    char carrierText[256] = {};
    nexhost_error_message(0, status, carrierText);
    std::snprintf(text, NEXTARQ_TEXT_SIZE, "%s", carrierText);
    return 0;
}

NEXTARQ_API int32_t nextarq_error_query(uint32_t, int32_t *code, char text[256]) {
    if (code) *code = 0;
    if (text) text[0] = '\0';
    return NEXTARQ_WARN_NSUP_ERROR_QUERY;
}

NEXTARQ_API int32_t nextarq_revision_query(uint32_t vi, char driverRevision[256], char instrumentRevision[256]) {
    if (!driverRevision) return NEXTARQ_ERROR_PARAMETER2;
    if (!instrumentRevision) return NEXTARQ_ERROR_PARAMETER3;
    std::snprintf(driverRevision, NEXTARQ_TEXT_SIZE, "%s", NEXTARQ_DRIVER_REVISION);
    instrumentRevision[0] = '\0';
    if (vi == 0) return 0;
    Record *r = nullptr;
    int32_t status = fetchRecord(vi, r);
    if (status < 0) return status;
    // "%i" of an integer is the same in every locale.
    std::snprintf(instrumentRevision, NEXTARQ_TEXT_SIZE, "%i", static_cast<int>(r->hardwareVersion));
    return 0;
}

NEXTARQ_API int32_t nextarq_adcCommand(uint32_t vi, uint16_t command) {
    Stopwatch clock;
    Record *r = nullptr;
    int32_t status = fetchRecord(vi, r);
    if (status < 0) return status;
    return adcCommandTimed(vi, command, clock);
}

NEXTARQ_API int32_t nextarq_adcWrite(uint32_t vi, uint16_t address, int16_t data) {
    Stopwatch clock;
    Record *r = nullptr;
    int32_t status = fetchRecord(vi, r);
    if (status < 0) return status;
    return adcWriteTimed(vi, address, static_cast<uint8_t>(data & 0xFF), clock);
}

NEXTARQ_API int32_t nextarq_adcRead(uint32_t vi, uint16_t address, uint16_t *data) {
    Stopwatch clock;
    Record *r = nullptr;
    int32_t status = fetchRecord(vi, r);
    if (status < 0) return status;
    if (!data) return NEXTARQ_ERROR_PARAMETER3;
    uint8_t value = 0;
    status = adcReadTimed(vi, address, value, clock);
    if (status >= 0) *data = value;
    return status;
}

NEXTARQ_API int32_t nextarq_adcReset(uint32_t vi) { return nextarq_adcCommand(vi, 2); }
NEXTARQ_API int32_t nextarq_adcAuto(uint32_t vi) { return nextarq_adcCommand(vi, 4); }

} // extern "C"
