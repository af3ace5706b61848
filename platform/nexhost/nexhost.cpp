// The carrier library's C interface over the bench. Carrier sessions are VISA INSTR sessions; module
// sessions are VISA objects of their own, and an instrument session becomes an alias of a module
// session once the driver sets NEXHOST_ATTR_ALIAS_SESSION on it.
#include "nexhost.h"

#include "bench_state.h"
#include "visa_session.h"

#include <cstdio>
#include <strings.h>
#include <map>

using tarq::bench::benchLocked;
using tarq::bench::benchMutex;
using tarq::bench::model::Carrier;
using tarq::bench::model::Module;
namespace visa = tarq::visa;

namespace {

class CarrierSession : public visa::Object {
  public:
    CarrierSession(std::shared_ptr<Carrier> c, uint64_t gen) : Object(visa::Kind::Instr), carrier(std::move(c)), generation(gen) {
        resourceName = carrier->spec.resource;
        resourceClass = "INSTR";
        interfaceType = VI_INTF_PXI;
    }
    std::shared_ptr<Carrier> carrier;
    uint64_t generation;
};

class ModuleSession : public visa::Object {
  public:
    ModuleSession(std::shared_ptr<Carrier> c, std::shared_ptr<Module> m, uint64_t gen)
        : Object(visa::Kind::Module), carrier(std::move(c)), module(std::move(m)), generation(gen) {
        resourceName = carrier->spec.resource;
        resourceClass = "INSTR";
        interfaceType = VI_INTF_PXI;
    }
    std::shared_ptr<Carrier> carrier;
    std::shared_ptr<Module> module;
    uint64_t generation;
    uintptr_t record = 0;
    uint32_t trigLengthEnabled = 0;
    uint32_t trigLength = 0;
    uint32_t alias = 0;
    bool open = true;
};

std::map<uint32_t, uint32_t> &aliases() { // alias session -> module session (bench mutex)
    static std::map<uint32_t, uint32_t> a;
    return a;
}

class BenchProvider : public visa::InstrProvider {
  public:
    BenchProvider() { visa::setInstrProvider(this); }
    std::vector<std::string> instrResources() override {
        std::lock_guard lock(benchMutex());
        std::vector<std::string> names;
        for (const auto &c : benchLocked().carriers) names.push_back(c->spec.resource);
        return names;
    }
    ViStatus openInstr(const std::string &name, std::shared_ptr<visa::Object> &out) override {
        std::lock_guard lock(benchMutex());
        auto &bench = benchLocked();
        auto carrier = bench.carrier(name);
        if (!carrier) return VI_ERROR_RSRC_NFOUND;
        if (carrier->spec.refusesOpen) return VI_ERROR_RSRC_LOCKED;
        out = std::make_shared<CarrierSession>(carrier, bench.generation);
        return VI_SUCCESS;
    }
};
BenchProvider provider;

// A carrier session of the current bench.
std::shared_ptr<CarrierSession> carrierSession(uint32_t nhvi) {
    auto object = visa::get(nhvi);
    if (!object || object->kind != visa::Kind::Instr) return nullptr;
    auto session = std::static_pointer_cast<CarrierSession>(object);
    return session->generation == benchLocked().generation ? session : nullptr;
}

// The module session behind s, directly or through an alias.
std::shared_ptr<ModuleSession> moduleSession(uint32_t s) {
    auto object = visa::get(s);
    if (!object || object->kind != visa::Kind::Module) {
        auto it = aliases().find(s);
        if (it == aliases().end()) return nullptr;
        object = visa::get(it->second);
        if (!object || object->kind != visa::Kind::Module) return nullptr;
    }
    auto session = std::static_pointer_cast<ModuleSession>(object);
    return session->generation == benchLocked().generation ? session : nullptr;
}

bool validStream(uint16_t stream, bool bothAllowed) { return stream <= 1 || (bothAllowed && stream == 2); }

#define MODULE_OR_FAIL(var, s)                                                                                         \
    std::lock_guard lock(benchMutex());                                                                                \
    auto var = moduleSession(s);                                                                                       \
    if (!var) return NEXHOST_ERROR_SESSION

} // namespace

extern "C" {

int32_t nexhost_init(const char *rsrcName, uint16_t idQuery, uint16_t reset, uint32_t *nhvi) {
    if (nhvi) *nhvi = 0;
    if (!rsrcName || !nhvi) return NEXHOST_ERROR_PARAMETER;
    if (idQuery > 1 || reset > 1) return NEXHOST_ERROR_PARAMETER;
    std::lock_guard lock(benchMutex());
    auto &bench = benchLocked();
    std::shared_ptr<Carrier> carrier;
    for (const auto &c : bench.carriers)
        if (strcasecmp(c->spec.resource.c_str(), rsrcName) == 0) carrier = c;
    if (!carrier) return VI_ERROR_RSRC_NFOUND;
    // A carrier that fails its own start still hands back the session it opened: the caller closes it.
    *nhvi = visa::add(std::make_shared<CarrierSession>(carrier, bench.generation));
    if (carrier->spec.refusesOpen) return NEXHOST_ERROR_OPEN;
    if (idQuery && carrier->spec.failsIdentity) return VI_ERROR_FAIL_ID_QUERY;
    return 0;
}

int32_t nexhost_close(uint32_t nhvi) {
    auto object = visa::get(nhvi);
    if (!object || object->kind != visa::Kind::Instr) return NEXHOST_ERROR_SESSION;
    visa::remove(nhvi);
    return 0;
}

int32_t nexhost_m_type_q(uint32_t nhvi, uint16_t position, uint16_t *present, uint16_t *type) {
    std::lock_guard lock(benchMutex());
    auto session = carrierSession(nhvi);
    if (!session) return NEXHOST_ERROR_SESSION;
    if (position < 1 || position > 4) return NEXHOST_ERROR_POSITION;
    if (!present || !type) return NEXHOST_ERROR_PARAMETER;
    const auto &m = session->carrier->modules[position - 1];
    *present = m ? 1 : 0;
    *type = m ? m->spec.type : 0;
    return 0;
}

int32_t nexhost_mem_q(uint32_t nhvi, uint32_t *size) {
    std::lock_guard lock(benchMutex());
    auto session = carrierSession(nhvi);
    if (!session) return NEXHOST_ERROR_SESSION;
    if (!size) return NEXHOST_ERROR_PARAMETER;
    *size = session->carrier->spec.memoryWords;
    return 0;
}

int32_t nexhost_m_init(uint32_t nhvi, uint16_t position, uint32_t *msess) {
    if (msess) *msess = 0;
    std::lock_guard lock(benchMutex());
    auto session = carrierSession(nhvi);
    if (!session) return NEXHOST_ERROR_SESSION;
    if (position < 1 || position > 4) return NEXHOST_ERROR_POSITION;
    if (!msess) return NEXHOST_ERROR_PARAMETER;
    auto module = session->carrier->modules[position - 1];
    if (!module) return NEXHOST_ERROR_NO_MODULE;
    ++module->sessions;
    *msess = visa::add(std::make_shared<ModuleSession>(session->carrier, module, session->generation));
    return 0;
}

int32_t nexhost_m_close(uint32_t s) {
    MODULE_OR_FAIL(session, s);
    uint32_t handle = s;
    if (visa::get(s).get() != session.get()) handle = aliases()[s];
    for (auto it = aliases().begin(); it != aliases().end();)
        it = it->second == handle ? aliases().erase(it) : std::next(it);
    visa::remove(handle);
    if (--session->module->sessions <= 0) {
        session->module->sessions = 0;
        session->module->resetStreams(); // the carrier memory goes back when nobody uses the module
    }
    return 0;
}

int32_t nexhost_m_set_attribute(uint32_t s, uint32_t attr, uintptr_t value) {
    MODULE_OR_FAIL(session, s);
    switch (attr) {
    case NEXHOST_ATTR_USER_RECORD:
        session->record = value;
        return 0;
    case NEXHOST_ATTR_TRIG_LENGTH_EN:
        session->trigLengthEnabled = static_cast<uint32_t>(value);
        return 0;
    case NEXHOST_ATTR_ALIAS_SESSION: {
        if (value > 0xFFFFFFFFu || value <= 1) return NEXHOST_ERROR_PARAMETER;
        uint32_t handle = s;
        if (visa::get(s).get() != session.get()) handle = aliases()[s];
        session->alias = static_cast<uint32_t>(value);
        aliases()[session->alias] = handle;
        return 0;
    }
    default:
        return NEXHOST_ERROR_ATTRIBUTE;
    }
}

int32_t nexhost_m_get_attribute(uint32_t s, uint32_t attr, void *value) {
    MODULE_OR_FAIL(session, s);
    if (!value) return NEXHOST_ERROR_PARAMETER;
    switch (attr) {
    case NEXHOST_ATTR_USER_RECORD:
        *static_cast<uintptr_t *>(value) = session->record;
        return 0;
    case NEXHOST_ATTR_TRIG_LENGTH_EN:
        *static_cast<uint32_t *>(value) = session->trigLengthEnabled;
        return 0;
    case NEXHOST_ATTR_ALIAS_SESSION:
        *static_cast<uint32_t *>(value) = session->alias;
        return 0;
    case NEXHOST_ATTR_CARRIER_NAME:
        std::snprintf(static_cast<char *>(value), 256, "%s", session->carrier->spec.name.c_str());
        return 0;
    default:
        return NEXHOST_ERROR_ATTRIBUTE;
    }
}

int32_t nexhost_m_trig_length(uint32_t s, uint32_t length) {
    MODULE_OR_FAIL(session, s);
    session->trigLength = length;
    return 0;
}

int32_t nexhost_m_in16(uint32_t s, uint16_t reg, uint16_t *value) {
    MODULE_OR_FAIL(session, s);
    if (reg < 0x02 || reg > 0x3E || (reg & 1)) return NEXHOST_ERROR_REGISTER;
    if (!value) return NEXHOST_ERROR_PARAMETER;
    return session->module->in16(reg, *value);
}

int32_t nexhost_m_out16(uint32_t s, uint16_t reg, uint16_t value) {
    MODULE_OR_FAIL(session, s);
    if (reg < 0x02 || reg > 0x3E || (reg & 1)) return NEXHOST_ERROR_REGISTER;
    return session->module->out16(reg, value);
}

int32_t nexhost_m_reset(uint32_t s, uint16_t stream) {
    MODULE_OR_FAIL(session, s);
    if (!validStream(stream, true)) return NEXHOST_ERROR_STREAM;
    auto &m = *session->module;
    m.stopStream(stream);
    if (stream != 1) m.streamSize[0] = 0;
    if (stream != 0) m.streamSize[1] = 0;
    return 0;
}

int32_t nexhost_m_alloc(uint32_t s, uint16_t stream, uint32_t size, uint32_t) {
    MODULE_OR_FAIL(session, s);
    if (!validStream(stream, false)) return NEXHOST_ERROR_STREAM;
    auto &m = *session->module;
    m.stopStream(stream);
    m.streamSize[stream] = 0;
    if (size == 0) return 0;
    const auto &f = m.faults;
    if (f.refuseAllStreamSizes || (f.refuseStreamSizesAbove && size > f.refuseStreamSizesAbove))
        return NEXHOST_ERROR_NO_MEMORY;
    if (session->carrier->allocated() + size > session->carrier->spec.memoryWords) return NEXHOST_ERROR_NO_MEMORY;
    m.streamSize[stream] = size;
    return 0;
}

#define STREAM_SETTING(name, type)                                                                                     \
    int32_t name(uint32_t s, uint16_t stream, type) {                                                                  \
        MODULE_OR_FAIL(session, s);                                                                                    \
        return validStream(stream, false) ? 0 : NEXHOST_ERROR_STREAM;                                                  \
    }
// The stream's width, mode, packet size, delays, clock and trigger are the carrier's business: the
// bench only checks that the stream exists.
STREAM_SETTING(nexhost_m_sample_width, uint16_t)
STREAM_SETTING(nexhost_m_mode, uint16_t)
STREAM_SETTING(nexhost_m_packet_size, uint32_t)
STREAM_SETTING(nexhost_m_first_delay, uint16_t)
STREAM_SETTING(nexhost_m_clock, uint16_t)
STREAM_SETTING(nexhost_m_config_trigger, uint16_t)

int32_t nexhost_m_start(uint32_t s, uint16_t stream) {
    MODULE_OR_FAIL(session, s);
    if (!validStream(stream, true)) return NEXHOST_ERROR_STREAM;
    auto &m = *session->module;
    if ((stream != 1 && m.streamSize[0] == 0) || (stream != 0 && m.streamSize[1] == 0)) return NEXHOST_ERROR_NOT_ALLOCATED;
    m.startStream(stream);
    return 0;
}

int32_t nexhost_m_stop(uint32_t s, uint16_t stream) {
    MODULE_OR_FAIL(session, s);
    if (!validStream(stream, true)) return NEXHOST_ERROR_STREAM;
    session->module->stopStream(stream);
    return 0;
}

int32_t nexhost_m_async_stop(uint32_t s, uint16_t stream) {
    MODULE_OR_FAIL(session, s);
    if (!validStream(stream, true)) return NEXHOST_ERROR_STREAM;
    if (session->module->faults.asyncStopFails) return NEXHOST_ERROR_STREAM_FAILED;
    session->module->stopStream(stream);
    return 0;
}

int32_t nexhost_m_read_packet(uint32_t s, uint32_t words, uint32_t *buffer, uint32_t *got) {
    if (got) *got = 0;
    MODULE_OR_FAIL(session, s);
    if (!got || (!buffer && words)) return NEXHOST_ERROR_PARAMETER;
    return session->module->readStream(words, buffer, *got);
}

int32_t nexhost_m_write_packet(uint32_t s, uint32_t words, const uint32_t *buffer, uint32_t *put) {
    if (put) *put = 0;
    MODULE_OR_FAIL(session, s);
    if (!put || (!buffer && words)) return NEXHOST_ERROR_PARAMETER;
    return session->module->writeStream(words, buffer, *put);
}

int32_t nexhost_m_howmuch_data_q(uint32_t s, uint16_t stream, uint32_t *words) {
    MODULE_OR_FAIL(session, s);
    if (!validStream(stream, false)) return NEXHOST_ERROR_STREAM;
    if (!words) return NEXHOST_ERROR_PARAMETER;
    *words = stream == 1 ? session->module->streamFree() : session->module->streamReady();
    return 0;
}

int32_t nexhost_error_message_lang(int32_t status, int32_t language, char text[256]) {
    if (!text) return NEXHOST_ERROR_PARAMETER;
    struct Entry {
        int32_t code;
        const char *ru, *en;
    };
    static const Entry entries[] = {
        {0, "Успешное завершение", "Success"},
        {NEXHOST_ERROR_SESSION, "Неверный сеанс носителя или мезонина", "Invalid carrier or mezzanine session"},
        {NEXHOST_ERROR_POSITION, "Неверный номер позиции мезонина", "Invalid mezzanine position"},
        {NEXHOST_ERROR_NO_MODULE, "В позиции нет мезонина", "No mezzanine at this position"},
        {NEXHOST_ERROR_REGISTER, "Неверный адрес регистра мезонина", "Invalid mezzanine register offset"},
        {NEXHOST_ERROR_STREAM, "Неверный номер потока", "Invalid stream number"},
        {NEXHOST_ERROR_NO_MEMORY, "Недостаточно памяти носителя для потока", "Not enough carrier memory for the stream"},
        {NEXHOST_ERROR_NOT_ALLOCATED, "Потоку не выделена память", "The stream has no memory allocated"},
        {NEXHOST_ERROR_ATTRIBUTE, "Неверный атрибут", "Invalid attribute"},
        {NEXHOST_ERROR_PARAMETER, "Неверный параметр", "Invalid parameter"},
        {NEXHOST_ERROR_BUS, "Мезонин не отвечает", "The mezzanine does not answer"},
        {NEXHOST_ERROR_STREAM_FAILED, "Ошибка передачи потока", "Stream transfer failed"},
        {NEXHOST_ERROR_OPEN, "Носитель не открывается", "The carrier cannot be opened"},
        {VI_ERROR_TMO, "Истекло время ожидания", "Timeout expired before the operation completed"},
        {VI_ERROR_INV_SETUP, "Нет записи сеанса инструмента", "Invalid setup: the instrument session record is missing"},
        {VI_ERROR_ALLOC, "Недостаточно памяти", "Insufficient memory"},
        {VI_ERROR_FAIL_ID_QUERY, "Ошибка идентификации инструмента", "Instrument identification query failed"},
        {VI_ERROR_INV_OBJECT, "Неверный сеанс VISA", "Invalid VISA session"},
        {VI_ERROR_RSRC_NFOUND, "Ресурс не найден", "Resource not found"},
        {VI_ERROR_INV_RSRC_NAME, "Неверное имя ресурса", "Invalid resource name"},
        {VI_ERROR_RSRC_LOCKED, "Ресурс занят", "The resource is locked"},
        {VI_ERROR_NSUP_ATTR, "Атрибут не поддерживается", "Attribute not supported"},
        {VI_ERROR_CONN_LOST, "Связь потеряна", "Connection lost"},
        {VI_ERROR_IO, "Ошибка ввода-вывода", "Input/output error"},
    };
    for (const Entry &e : entries)
        if (e.code == status) {
            std::snprintf(text, 256, "%s", language == 1 ? e.en : e.ru);
            return 0;
        }
    std::snprintf(text, 256, language == 1 ? "Unknown status 0x%08X" : "Неизвестный код ошибки 0x%08X",
                  static_cast<unsigned>(status));
    return 0;
}

int32_t nexhost_error_message(uint32_t, int32_t status, char text[256]) {
    return nexhost_error_message_lang(status, 0, text);
}

} // extern "C"
