// tarq-cli: the command-line host. Lists the instruments of the bench (or of real carriers) and the
// modules at their positions, connects to a module to show what it holds, acquires packets into
// files and runs the self-test and the reference-connection tests.
#include "bench.h"
#include "nexhost.h"
#include "nextarq.h"
#include "visa.h"

#include <charconv>
#include <chrono>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace {

bool russian = true;

const char *tr(const char *ru, const char *en) { return russian ? ru : en; }

void chooseLanguage() {
    const char *lang = std::getenv("TARQ_LANG");
    if (!lang || !*lang) lang = std::getenv("LANG");
    russian = !(lang && std::strncmp(lang, "en", 2) == 0);
}

void usage() {
    std::printf("%s", tr("Использование: tarq-cli [list | connect | acquire | selftest | reftest] ...\n"
                         "  list      список инструментов и их мезонинов (по умолчанию)\n"
                         "  connect <ресурс> <позиция>\n"
                         "            подключиться к мезонину TARQ и показать его версию, коэффициенты\n"
                         "            и текущие настройки (например: connect PXI0::1::INSTR 1)\n"
                         "  acquire <ресурс> <позиция> [параметры]\n"
                         "            выполнить сбор данных и записать пакеты в файл:\n"
                         "            --packets N --samples N --presamples N   развертка\n"
                         "            --trigger 0-4 --slope 0|1 --level дБм    синхронизация\n"
                         "            --band 0-4 --gain1 дБ --gain2 дБ         полоса и усиление\n"
                         "            --first P --count N --format 0-6         какие пакеты и как\n"
                         "            --out файл [--out2 файл]                 файлы каналов 1 и 2\n"
                         "            (форматы: 0 В f64, 1 В f64 в файл, 2 коды i16, 3 коды i16 в файл,\n"
                         "             4 слова u32, 5 слова u32 в файл, 6 пары В f64 в файл)\n"
                         "  selftest <ресурс> <позиция>   самоконтроль, протокол на экран\n"
                         "  reftest <ресурс> <позиция> <1-3> [--plug]\n"
                         "            тест \"ОК отключен\"; --plug соединяет кабель на стенде\n"
                         "Стенд: встроенный или файл, названный переменной TARQ_BENCH.\n",
                         "Usage: tarq-cli [list | connect | acquire | selftest | reftest] ...\n"
                         "  list      list the instruments and their mezzanines (default)\n"
                         "  connect <resource> <position>\n"
                         "            connect to a TARQ mezzanine and show its version, coefficients\n"
                         "            and current settings (for example: connect PXI0::1::INSTR 1)\n"
                         "  acquire <resource> <position> [options]\n"
                         "            acquire and write packets into a file:\n"
                         "            --packets N --samples N --presamples N   time base\n"
                         "            --trigger 0-4 --slope 0|1 --level dBm    trigger\n"
                         "            --band 0-4 --gain1 dB --gain2 dB         band and gains\n"
                         "            --first P --count N --format 0-6         which packets, how\n"
                         "            --out file [--out2 file]                 channel 1 and 2 files\n"
                         "            (formats: 0 V f64, 1 V f64 to file, 2 codes i16, 3 codes i16 to file,\n"
                         "             4 words u32, 5 words u32 to file, 6 V f64 pairs to file)\n"
                         "  selftest <resource> <position>   self-test, protocol on screen\n"
                         "  reftest <resource> <position> <1-3> [--plug]\n"
                         "            reference-connection test; --plug wires the cable on the bench\n"
                         "Bench: built in, or the file named by the TARQ_BENCH variable.\n"));
}

int listInstruments() {
    ViSession rm = 0;
    if (viOpenDefaultRM(&rm) < 0) {
        std::fprintf(stderr, "%s\n", tr("Нет менеджера ресурсов VISA", "No VISA resource manager"));
        return 1;
    }
    ViFindList list = 0;
    uint32_t count = 0;
    char name[VI_FIND_BUFLEN] = {};
    if (viFindRsrc(rm, "?*INSTR", &list, &count, name) < 0) {
        std::printf("%s\n", tr("Инструменты не найдены", "No instruments found"));
        viClose(rm);
        return 0;
    }
    for (uint32_t i = 0; i < count; ++i) {
        if (i > 0 && viFindNext(list, name) < 0) break;
        uint32_t nhvi = 0;
        int32_t status = nexhost_init(name, 0, 0, &nhvi);
        if (status != 0) {
            char text[256];
            nexhost_error_message(0, status, text);
            if (!russian) nexhost_error_message_lang(status, 1, text);
            std::printf("%s: %s\n", name, text);
            if (nhvi) nexhost_close(nhvi);
            continue;
        }
        uint32_t memory = 0;
        nexhost_mem_q(nhvi, &memory);
        std::printf("%s  (%s %u %s)\n", name, tr("память", "memory"), memory, tr("слов", "words"));
        for (uint16_t position = 1; position <= 4; ++position) {
            uint16_t present = 0, type = 0;
            if (nexhost_m_type_q(nhvi, position, &present, &type) < 0) continue;
            if (!present) std::printf("  %s %u: %s\n", tr("позиция", "position"), position, tr("пусто", "empty"));
            else if (type == NEXHOST_TYPE_TARQ) std::printf("  %s %u: TARQ\n", tr("позиция", "position"), position);
            else std::printf("  %s %u: %s 0x%02X\n", tr("позиция", "position"), position, tr("мезонин типа", "mezzanine of type"), type);
        }
        nexhost_close(nhvi);
    }
    viClose(rm);
    return 0;
}

// The driver's text of a status, in the chosen language.
std::string statusText(int32_t status) {
    char text[256] = {};
    nextarq_error_message_lang(status, russian ? 0 : 1, text);
    return text;
}

bool report(const char *function, int32_t status) {
    if (status >= 0) return true;
    std::fprintf(stderr, "%s: %s (0x%08X)\n", function, statusText(status).c_str(), static_cast<unsigned>(status));
    return false;
}

const char *bandLabel(int band) {
    static const char *const ru[] = {"DC-50 МГц",   "50-100 МГц",  "100-150 МГц", "150-200 МГц", "200-250 МГц",
                                     "250-300 МГц", "300-350 МГц", "350-400 МГц", "400-450 МГц", "450-500 МГц"};
    static const char *const en[] = {"DC-50 MHz",   "50-100 MHz",  "100-150 MHz", "150-200 MHz", "200-250 MHz",
                                     "250-300 MHz", "300-350 MHz", "350-400 MHz", "400-450 MHz", "450-500 MHz"};
    if (band < 0 || band > 9) return "?";
    return russian ? ru[band] : en[band];
}

const char *referenceLabel(int source) {
    static const char *const ru[] = {"Внутренний", "Внутр.наружу", "Внешний"};
    static const char *const en[] = {"Internal", "Internal, driven out", "External"};
    if (source < 0 || source > 2) return "?";
    return russian ? ru[source] : en[source];
}

const char *patternLabel(int mode) {
    static const char *const ru[] = {"Тест откл.", "Пила", "Средн.значение", "Размах"};
    static const char *const en[] = {"Test off", "Ramp", "Mid-scale", "Full swing"};
    if (mode < 0 || mode > 3) return "?";
    return russian ? ru[mode] : en[mode];
}

const char *triggerLabel(int source) {
    static const char *const ru[] = {"Программа", "Канал 1", "Канал 2", "Вход \"СИНХР\"", "Носитель"};
    static const char *const en[] = {"Software", "Channel 1", "Channel 2", "\"SYNC\" input", "Carrier"};
    if (source < 0 || source > 4) return "?";
    return russian ? ru[source] : en[source];
}

// Connects to the module at a position of a carrier and prints what the driver reads from it.
int connectModule(const char *resource, const char *positionText) {
    char *end = nullptr;
    const long position = std::strtol(positionText, &end, 10);
    if (!end || *end || end == positionText || position < 1 || position > 4) {
        std::fprintf(stderr, "%s: %s\n", tr("Неверный номер позиции (1-4)", "Invalid position (1-4)"), positionText);
        return 2;
    }
    uint32_t nhvi = 0, vi = 0;
    int32_t status = nexhost_init(resource, 1, 1, &nhvi);
    if (status < 0) {
        char text[256];
        nexhost_error_message_lang(status, russian ? 0 : 1, text);
        std::fprintf(stderr, "nexhost_init: %s\n", text);
        if (nhvi) nexhost_close(nhvi);
        return 1;
    }
    int rc = 1;
    if (report("nextarq_init", nextarq_init(resource, 1, 1, &vi)) &&
        report("nextarq_connect", nextarq_connect(vi, nhvi, static_cast<uint16_t>(position), 1, 1))) {
        char driverRevision[256] = {}, instrumentRevision[256] = {};
        report("nextarq_revision_query", nextarq_revision_query(vi, driverRevision, instrumentRevision));
        std::printf("%s %s, %s %ld\n", tr("Мезонин TARQ:", "TARQ mezzanine:"), resource, tr("позиция", "position"),
                    position);
        std::printf("  %s: %s\n", tr("Версия драйвера", "Driver revision"), driverRevision);
        std::printf("  %s: %s\n", tr("Версия аппаратуры", "Hardware version"), instrumentRevision);

        char date[NEXTARQ_COEFFICIENT_DATE_SIZE] = {};
        uint32_t serial = 0;
        double table[2][2][NEXTARQ_BANDS] = {};
        const int32_t info = nextarq_readCoefficientInfo(vi, date, &serial);
        const int32_t read = nextarq_readCoefficients(vi, 1, table, NEXTARQ_COEFFICIENT_SIZE);
        std::printf("  %s:\n", tr("Коэффициенты (РПЗУ)", "Coefficients (flash)"));
        if (info >= 0) {
            std::printf("    %s: %u\n", tr("Серийный номер", "Serial number"), serial);
            std::printf("    %s: %s\n", tr("Дата записи", "Written"), date);
        } else {
            std::printf("    %s\n", statusText(info).c_str());
        }
        std::printf("    %s: %s\n", tr("Блок", "Block"),
                    read >= 0 ? tr("исправен", "valid")
                              : tr("поврежден, используются значения по умолчанию", "damaged, defaults in use"));

        int16_t band = 0, reference = 0, mode = 0;
        uint16_t packets = 0, source = 0, slope = 0;
        uint32_t samples = 0, presamples = 0;
        double level = 0, gain[2] = {};
        int32_t gainStatus[2];
        report("nextarq_configMode_q", nextarq_configMode_q(vi, &mode));
        report("nextarq_configSpanF_q", nextarq_configSpanF_q(vi, &band));
        report("nextarq_configTime_q", nextarq_configTime_q(vi, &packets, &samples, &presamples));
        report("nextarq_configBaseF_q", nextarq_configBaseF_q(vi, &reference));
        report("nextarq_configTrigger_q", nextarq_configTrigger_q(vi, &source, &slope, &level));
        for (int16_t ch = 0; ch < 2; ++ch) gainStatus[ch] = nextarq_configGain_q(vi, ch, &gain[ch]);

        std::printf("  %s:\n", tr("Текущие настройки", "Current settings"));
        std::printf("    %s: %s\n", tr("Тест АЦП", "ADC test pattern"), patternLabel(mode));
        std::printf("    %s: %d (%s)\n", tr("Полоса", "Band"), band, bandLabel(band));
        std::printf("    %s: %u x %u %s, %s %u\n", tr("Развертка", "Time base"), packets, samples,
                    tr("отсчетов", "samples"), tr("предыстория", "presamples"), presamples);
        std::printf("    %s: %s\n", tr("Опорная частота", "Reference"), referenceLabel(reference));
        std::printf("    %s: %s, %s, %g %s\n", tr("Синхронизация", "Trigger"), triggerLabel(source),
                    slope ? tr("ФРОНТ", "rising edge") : tr("СРЕЗ", "falling edge"), level, tr("дБм", "dBm"));
        for (int ch = 0; ch < 2; ++ch) {
            const int b = band >= 0 && band < NEXTARQ_BANDS ? band : 0;
            std::printf("    %s %d: ", tr("Канал", "Channel"), ch + 1);
            if (gainStatus[ch] >= 0) std::printf("%s %g %s", tr("усиление", "gain"), gain[ch], tr("дБ", "dB"));
            else std::printf("%s", statusText(gainStatus[ch]).c_str());
            std::printf(", %s %.6f, %s %.6f %s\n", tr("коэф. усиления", "gain factor"), table[ch][0][b],
                        tr("смещение", "offset"), table[ch][1][b], tr("В", "V"));
        }
        rc = 0;
    }
    if (vi) nextarq_close(vi);
    nexhost_close(nhvi);
    return rc;
}


// ---- sessions shared by the commands -----------------------------------------------------------

bool parsePosition(const char *text, long &position) {
    char *end = nullptr;
    position = std::strtol(text, &end, 10);
    if (!end || *end || end == text || position < 1 || position > 4) {
        std::fprintf(stderr, "%s: %s\n", tr("Неверный номер позиции (1-4)", "Invalid position (1-4)"), text);
        return false;
    }
    return true;
}

// A connected driver session, closed on leaving.
struct Module {
    uint32_t nhvi = 0, vi = 0;
    bool ok = false;
    Module(const char *resource, long position) {
        int32_t status = nexhost_init(resource, 1, 1, &nhvi);
        if (status < 0) {
            char text[256];
            nexhost_error_message_lang(status, russian ? 0 : 1, text);
            std::fprintf(stderr, "nexhost_init: %s\n", text);
            return;
        }
        ok = report("nextarq_init", nextarq_init(resource, 1, 1, &vi)) &&
             report("nextarq_connect", nextarq_connect(vi, nhvi, static_cast<uint16_t>(position), 1, 1));
    }
    ~Module() {
        if (vi) nextarq_close(vi);
        if (nhvi) nexhost_close(nhvi);
    }
    Module(const Module &) = delete;
    Module &operator=(const Module &) = delete;
};

// Whole numbers and numbers with a point, read the same whatever the locale (the process runs in
// the C locale; std::from_chars does not consult it at all).
bool parseNumber(const char *text, double &out) {
    const char *end = text + std::strlen(text);
    auto r = std::from_chars(text, end, out);
    return r.ec == std::errc() && r.ptr == end && std::isfinite(out);
}
bool parseWhole(const char *text, long long &out) {
    const char *end = text + std::strlen(text);
    auto r = std::from_chars(text, end, out);
    return r.ec == std::errc() && r.ptr == end;
}

struct AcquireOptions {
    long long packets = 1, samples = 1024, presamples = 256, trigger = 0, slope = 1, band = 2;
    long long first = 1, count = 1, format = 5;
    double level = 0.0, gain[2] = {0.0, 0.0};
    bool gainGiven[2] = {false, false};
    std::string out, out2;
};

bool parseAcquireOptions(int argc, char **argv, int from, AcquireOptions &o) {
    for (int i = from; i < argc; ++i) {
        const std::string name = argv[i];
        if (i + 1 >= argc) {
            std::fprintf(stderr, "%s: %s\n", tr("Нет значения параметра", "Missing value of option"), name.c_str());
            return false;
        }
        const char *value = argv[++i];
        bool good = true;
        long long *whole = name == "--packets"      ? &o.packets
                           : name == "--samples"    ? &o.samples
                           : name == "--presamples" ? &o.presamples
                           : name == "--trigger"    ? &o.trigger
                           : name == "--slope"      ? &o.slope
                           : name == "--band"       ? &o.band
                           : name == "--first"      ? &o.first
                           : name == "--count"      ? &o.count
                           : name == "--format"     ? &o.format
                                                    : nullptr;
        if (whole) good = parseWhole(value, *whole);
        else if (name == "--level") good = parseNumber(value, o.level);
        else if (name == "--gain1") good = (o.gainGiven[0] = parseNumber(value, o.gain[0]));
        else if (name == "--gain2") good = (o.gainGiven[1] = parseNumber(value, o.gain[1]));
        else if (name == "--out") o.out = value;
        else if (name == "--out2") o.out2 = value;
        else {
            std::fprintf(stderr, "%s: %s\n", tr("Неизвестный параметр", "Unknown option"), name.c_str());
            return false;
        }
        if (!good) {
            std::fprintf(stderr, "%s %s: %s\n", tr("Неверное значение параметра", "Invalid value of option"),
                         name.c_str(), value);
            return false;
        }
    }
    if (o.format < 0 || o.format > 6 || o.out.empty()) {
        std::fprintf(stderr, "%s\n", tr("Нужны --format 0-6 и --out <файл>", "--format 0-6 and --out <file> are required"));
        return false;
    }
    const auto in16 = [](long long v) { return v >= INT16_MIN && v <= INT16_MAX; };
    const auto inU16 = [](long long v) { return v >= 0 && v <= UINT16_MAX; };
    const auto inU32 = [](long long v) { return v >= 0 && v <= static_cast<long long>(UINT32_MAX); };
    if (!inU16(o.packets) || !inU32(o.samples) || !inU32(o.presamples) || !inU16(o.trigger) || !inU16(o.slope) ||
        !in16(o.band) || !in16(o.first) || !in16(o.count)) {
        std::fprintf(stderr, "%s\n", tr("Значение параметра вне допустимого диапазона", "Option value out of range"));
        return false;
    }
    return true;
}

// Writes an array the driver filled to a file; false (with a message) on a failed write.
bool writeArray(FILE *f, const void *data, size_t bytes, const std::string &path) {
    if (std::fwrite(data, 1, bytes, f) != bytes || std::fflush(f) != 0) {
        std::fprintf(stderr, "%s: %s\n", statusText(NEXTARQ_ERROR_FILE_WRITE).c_str(), path.c_str());
        return false;
    }
    return true;
}

int acquire(const char *resource, const char *positionText, int argc, char **argv) {
    long position = 0;
    AcquireOptions o;
    if (!parsePosition(positionText, position) || !parseAcquireOptions(argc, argv, 4, o)) return 2;
    Module m(resource, position);
    if (!m.ok) return 1;
    const uint32_t vi = m.vi;
    if (!report("nextarq_configSpanF", nextarq_configSpanF(vi, static_cast<int16_t>(o.band))) ||
        !report("nextarq_configTime", nextarq_configTime(vi, static_cast<uint16_t>(o.packets),
                                                         static_cast<uint32_t>(o.samples),
                                                         static_cast<uint32_t>(o.presamples))) ||
        !report("nextarq_configTrigger", nextarq_configTrigger(vi, static_cast<uint16_t>(o.trigger),
                                                               static_cast<uint16_t>(o.slope), o.level)))
        return 1;
    for (int16_t ch = 0; ch < 2; ++ch)
        if (o.gainGiven[ch] && !report("nextarq_configGain", nextarq_configGain(vi, ch, o.gain[ch]))) return 1;
    if (!report("nextarq_trigger", nextarq_trigger(vi))) return 1;
    if (o.trigger == 0) report("nextarq_event", nextarq_event(vi));
    // Wait for the packets; a hardware trigger that does not come within 10 s is forced.
    const auto start = std::chrono::steady_clock::now();
    bool forced = false;
    for (;;) {
        uint16_t busy = 0;
        if (!report("nextarq_ready_q", nextarq_ready_q(vi, &busy))) return 1;
        if (!busy) break;
        const double waited = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (waited > 10.0 && !forced) {
            std::fprintf(stderr, "%s\n", tr("Нет синхронизации за 10 с: запуск программой", "No trigger within 10 s: forcing it"));
            nextarq_event(vi);
            forced = true;
        }
        if (waited > 60.0) {
            std::fprintf(stderr, "%s\n", tr("Сбор данных не завершился", "The acquisition did not complete"));
            return 1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }

    uint16_t packets = 0;
    uint32_t samples = 0, presamples = 0;
    if (!report("nextarq_configTime_q", nextarq_configTime_q(vi, &packets, &samples, &presamples))) return 1;
    const int format = static_cast<int>(o.format);
    const bool twoChannels = format <= NEXTARQ_FORMAT_CODES_FILE;
    FILE *f0 = std::fopen(o.out.c_str(), "wb");
    FILE *f1 = twoChannels && !o.out2.empty() ? std::fopen(o.out2.c_str(), "wb") : nullptr;
    if (!f0 || (twoChannels && !o.out2.empty() && !f1)) {
        std::fprintf(stderr, "%s: %s\n", tr("Не удалось открыть файл", "Cannot open the file"),
                     (!f0 ? o.out : o.out2).c_str());
        if (f0) std::fclose(f0);
        if (f1) std::fclose(f1);
        return 1;
    }
    int rc = 0;
    const int16_t first = static_cast<int16_t>(o.first), count = static_cast<int16_t>(o.count);
    const size_t n = count > 0 ? static_cast<size_t>(samples) * static_cast<size_t>(count) : 0;
    int32_t status = 0;
    if (format == NEXTARQ_FORMAT_VOLTS_FILE || format == NEXTARQ_FORMAT_CODES_FILE ||
        format == NEXTARQ_FORMAT_WORDS_FILE || format == NEXTARQ_FORMAT_VOLT_PAIRS_FILE) {
        status = nextarq_readData(vi, first, count, f0, f1, static_cast<int16_t>(format));
        rc = report("nextarq_readData", status) ? 0 : 1;
    } else {
        // Array formats: read into memory, then store the arrays as they are.
        const size_t element = format == NEXTARQ_FORMAT_VOLTS ? sizeof(double)
                               : format == NEXTARQ_FORMAT_CODES ? sizeof(int16_t) : sizeof(uint32_t);
        std::vector<unsigned char> a, b;
        try {
            a.resize(n * element);
            if (f1) b.resize(n * element);
        } catch (const std::bad_alloc &) {
            std::fprintf(stderr, "%s\n", statusText(NEXTARQ_ERROR_ALLOC).c_str());
            rc = 1;
        }
        if (rc == 0) {
            status = nextarq_readData(vi, first, count, a.data(), f1 ? b.data() : nullptr, static_cast<int16_t>(format));
            rc = report("nextarq_readData", status) ? 0 : 1;
        }
        if (rc == 0 && !writeArray(f0, a.data(), a.size(), o.out)) rc = 1;
        if (rc == 0 && f1 && !writeArray(f1, b.data(), b.size(), o.out2)) rc = 1;
    }
    if (std::fclose(f0) != 0 && rc == 0) rc = 1;
    if (f1 && std::fclose(f1) != 0 && rc == 0) rc = 1;
    if (rc == 0)
        std::printf("%s: %d %s %u %s, %s %d -> %s%s%s\n", tr("Записано", "Written"), count,
                    tr("пакет(ов) по", "packet(s) of"), samples, tr("отсчетов", "samples"), tr("формат", "format"),
                    format, o.out.c_str(), f1 ? ", " : "", f1 ? o.out2.c_str() : "");
    return rc;
}

// The driver's protocol texts are the module's own (Russian); in English they are translated piece
// by piece, numbers untouched.
std::string protocol(const char *text) {
    std::string out = text;
    if (russian) return out;
    static const std::pair<const char *, const char *> pieces[] = {
        {"Ошибка ввода/вывода регистров ПЛИС.", "FPGA register input/output error."},
        {"Частота не засинхронизирована.", "Reference frequency not locked."},
        {"Ошибка памяти DDR.", "DDR memory error."},
        {"Ошибка чтения регистрров АЦП.", "ADC register read error."},
        {"Ошибка тестового режима АЦП.", "ADC test pattern error."},
        {"Самоконтроль завершен успешно", "Self-test completed successfully"},
        {"Тест \"ОК отключен\" завершен успешно.", "Reference-connection test completed successfully."},
        {"Ошибка ТЕСТ", "Error in TEST"},
        {"Размах канала ", "Swing of channel"},
        {"Частота канала", "Frequency of channel"},
        {" Гц - ", " Hz - "},
        {" В - ", " V - "},
        {"Не норма", "FAIL"},
        {"Норма", "OK"},
    };
    for (const auto &[ru, en] : pieces)
        for (size_t at = out.find(ru); at != std::string::npos; at = out.find(ru, at + std::strlen(en)))
            out.replace(at, std::strlen(ru), en);
    return out;
}

// Exit code 3 for a module that failed a check, 1 for a call that failed.
int printProcedure(int32_t status, int16_t result, const char *message, bool selfTest) {
    std::printf("%s\n", protocol(message).c_str());
    if (status == 0) return 0;
    const char *what = selfTest ? tr("шаг", "step") : tr("тест", "test");
    if (status == NEXTARQ_ERROR_SELF_TEST || status == NEXTARQ_ERROR_REFERENCE_TEST) {
        std::printf("%s: %s %d\n", tr("Не пройден", "Failed"), what, result);
        return 3;
    }
    std::fprintf(stderr, "%s (0x%08X), %s %d\n", statusText(status).c_str(), static_cast<unsigned>(status), what,
                 result);
    return status < 0 ? 1 : 0;
}

int selfTest(const char *resource, const char *positionText) {
    long position = 0;
    if (!parsePosition(positionText, position)) return 2;
    Module m(resource, position);
    if (!m.ok) return 1;
    int16_t result = 0;
    char message[NEXTARQ_MESSAGE_SIZE] = {};
    std::printf("%s\n", tr("Самоконтроль...", "Self-test..."));
    const int32_t status = nextarq_self_test(m.vi, &result, message);
    return printProcedure(status, result, message, true);
}

int referenceTest(const char *resource, const char *positionText, const char *testText, bool plug) {
    long position = 0;
    if (!parsePosition(positionText, position)) return 2;
    const int test = testText[0] >= '1' && testText[0] <= '3' && !testText[1] ? testText[0] - '0' : 0;
    if (!test) {
        std::fprintf(stderr, "%s: %s\n", tr("Неверный номер теста (1-3)", "Invalid test number (1-3)"), testText);
        return 2;
    }
    Module m(resource, position);
    if (!m.ok) return 1;
    static const char *const promptsRu[] = {
        "Соедините при помощи кабеля SMB-SMB\nсоединитель \"Синхр.\" с соединителем \"ОЧ\" мезонина TARQ\n",
        "Соедините при помощи кабеля SMА-SMB\nсоединитель \"КН1\" с соединителем \"ОЧ\" мезонина TARQ\n",
        "Соедините при помощи кабеля SMB-SMB\nсоединитель \"КН2\" с соединителем \"ОЧ\" мезонина TARQ\n"};
    static const char *const promptsEn[] = {
        "Link with an SMB-SMB cable\nthe \"Sync\" connector to the \"REF\" connector of the TARQ mezzanine\n",
        "Link with an SMA-SMB cable\nthe \"CH1\" connector to the \"REF\" connector of the TARQ mezzanine\n",
        "Link with an SMB-SMB cable\nthe \"CH2\" connector to the \"REF\" connector of the TARQ mezzanine\n"};
    std::printf("%s", russian ? promptsRu[test - 1] : promptsEn[test - 1]);
    if (plug) {
        static const char *const other[] = {"СИНХР", "КН1", "КН2"};
        const int p = static_cast<int>(position);
        tarq::bench::plug(tarq::bench::moduleConnector(resource, p, "ОЧ"),
                          tarq::bench::moduleConnector(resource, p, other[test - 1]));
        std::printf("%s\n", tr("(кабель соединен на стенде)", "(cable wired on the bench)"));
    }
    int16_t result = 0;
    char message[NEXTARQ_MESSAGE_SIZE] = {};
    const int32_t status = nextarq_testOK_off(m.vi, static_cast<int16_t>(test), &result, message);
    return printProcedure(status, result, message, false);
}

} // namespace

int main(int argc, char **argv) {
    std::setlocale(LC_ALL, "C");
    chooseLanguage();
    std::string command = argc > 1 ? argv[1] : "list";
    const bool help = command == "help" || command == "--help" || command == "-h";
    // A bench file that cannot be used leaves no instruments: say why once, before any command.
    const std::string benchError = tarq::bench::benchError(russian ? 0 : 1);
    if (!help && !benchError.empty()) {
        std::fprintf(stderr, "%s: %s\n", tr("Ошибка файла стенда", "Bench file error"), benchError.c_str());
        return 2;
    }
    if (command == "list") return listInstruments();
    if (command == "connect" && argc == 4) return connectModule(argv[2], argv[3]);
    if (command == "acquire" && argc >= 4) return acquire(argv[2], argv[3], argc, argv);
    if (command == "selftest" && argc == 4) return selfTest(argv[2], argv[3]);
    if (command == "reftest" && (argc == 5 || (argc == 6 && std::strcmp(argv[5], "--plug") == 0)))
        return referenceTest(argv[2], argv[3], argv[4], argc == 6);
    usage();
    return help ? 0 : 2;
}
