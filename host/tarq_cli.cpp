// tarq-cli: the command-line host. Lists the instruments of the bench (or of real carriers) and the
// modules at their positions, and connects to a module to show what it holds.
#include "bench.h"
#include "nexhost.h"
#include "nextarq.h"
#include "visa.h"

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

bool russian = true;

const char *tr(const char *ru, const char *en) { return russian ? ru : en; }

void chooseLanguage() {
    const char *lang = std::getenv("TARQ_LANG");
    if (!lang || !*lang) lang = std::getenv("LANG");
    russian = !(lang && std::strncmp(lang, "en", 2) == 0);
}

void usage() {
    std::printf("%s", tr("Использование: tarq-cli [list | connect <ресурс> <позиция>]\n"
                         "  list      список инструментов и их мезонинов (по умолчанию)\n"
                         "  connect   подключиться к мезонину TARQ и показать его версию, коэффициенты\n"
                         "            и текущие настройки (например: connect PXI0::1::INSTR 1)\n"
                         "Стенд: встроенный или файл, названный переменной TARQ_BENCH.\n",
                         "Usage: tarq-cli [list | connect <resource> <position>]\n"
                         "  list      list the instruments and their mezzanines (default)\n"
                         "  connect   connect to a TARQ mezzanine and show its version, coefficients\n"
                         "            and current settings (for example: connect PXI0::1::INSTR 1)\n"
                         "Bench: built in, or the file named by the TARQ_BENCH variable.\n"));
}

int listInstruments() {
    const std::string benchError = tarq::bench::benchError();
    if (!benchError.empty()) {
        std::fprintf(stderr, "%s: %s\n", tr("Ошибка файла стенда", "Bench file error"), benchError.c_str());
        return 2;
    }
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
    const std::string benchError = tarq::bench::benchError();
    if (!benchError.empty()) {
        std::fprintf(stderr, "%s: %s\n", tr("Ошибка файла стенда", "Bench file error"), benchError.c_str());
        return 2;
    }
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

} // namespace

int main(int argc, char **argv) {
    std::setlocale(LC_ALL, "C");
    chooseLanguage();
    std::string command = argc > 1 ? argv[1] : "list";
    if (command == "list") return listInstruments();
    if (command == "connect" && argc == 4) return connectModule(argv[2], argv[3]);
    usage();
    return command == "help" || command == "--help" || command == "-h" ? 0 : 2;
}
