// tarq-cli: the command-line host. Lists the instruments of the bench (or of real carriers) and the
// modules at their positions.
#include "bench.h"
#include "nexhost.h"
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
    std::printf("%s", tr("Использование: tarq-cli [list]\n"
                         "  list   список инструментов и их мезонинов (по умолчанию)\n"
                         "Стенд: встроенный или файл, названный переменной TARQ_BENCH.\n",
                         "Usage: tarq-cli [list]\n"
                         "  list   list the instruments and their mezzanines (default)\n"
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

} // namespace

int main(int argc, char **argv) {
    std::setlocale(LC_ALL, "C");
    chooseLanguage();
    std::string command = argc > 1 ? argv[1] : "list";
    if (command == "list") return listInstruments();
    usage();
    return command == "help" || command == "--help" || command == "-h" ? 0 : 2;
}
