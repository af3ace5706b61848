// Bench files: a small INI-like text (see docs/bench-file.md). Numbers are read in the C locale.
#include "bench.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <fstream>
#include <set>
#include <sstream>

namespace tarq::bench {
namespace model {
std::string canonicalConnector(const std::string &name);
}

namespace {

std::string trim(const std::string &s) {
    size_t a = s.find_first_not_of(" \t\r");
    if (a == std::string::npos) return {};
    size_t b = s.find_last_not_of(" \t\r");
    return s.substr(a, b - a + 1);
}

std::string lower(std::string s) {
    for (char &c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

bool parseDouble(const std::string &s, double &out) {
    const char *b = s.data(), *e = s.data() + s.size();
    auto [p, ec] = std::from_chars(b, e, out);
    return ec == std::errc() && p == e && std::isfinite(out);
}

bool parseUnsigned(const std::string &s, uint64_t max, uint64_t &out) {
    int base = 10;
    std::string digits = s;
    if (digits.size() > 2 && (digits.rfind("0x", 0) == 0 || digits.rfind("0X", 0) == 0)) {
        base = 16;
        digits = digits.substr(2);
    }
    const char *b = digits.data(), *e = digits.data() + digits.size();
    auto [p, ec] = std::from_chars(b, e, out, base);
    return !digits.empty() && ec == std::errc() && p == e && out <= max;
}

bool parseBool(const std::string &s, bool &out) {
    std::string v = lower(s);
    if (v == "yes" || v == "true" || v == "1" || v == "on") out = true;
    else if (v == "no" || v == "false" || v == "0" || v == "off") out = false;
    else return false;
    return true;
}

} // namespace

bool parseBenchText(const std::string &text, const std::string &fileName, BenchSpec &out, std::string &error,
                    int language) {
    BenchSpec spec;
    std::istringstream in(text);
    std::string line, section, sectionName;
    int number = 0;
    auto fail = [&](const std::string &ru, const std::string &en) {
        error = fileName + ":" + std::to_string(number) + ": " + (language == 1 ? en : ru);
        return false;
    };
    CarrierSpec *carrier = nullptr;
    SourceSpec *source = nullptr;
    std::vector<int> cableLines;
    while (std::getline(in, line)) {
        ++number;
        std::string t = trim(line);
        if (t.empty() || t[0] == '#' || t[0] == ';') continue;
        if (t.front() == '[') {
            if (t.back() != ']') return fail("заголовок раздела без ']'", "section header without ']'");
            std::string head = trim(t.substr(1, t.size() - 2));
            size_t space = head.find_first_of(" \t");
            section = lower(head.substr(0, space));
            sectionName = space == std::string::npos ? std::string() : trim(head.substr(space));
            carrier = nullptr;
            source = nullptr;
            if (section == "carrier") {
                if (sectionName.empty()) return fail("раздел носителя без имени ресурса", "carrier section without a resource name");
                for (const auto &c : spec.carriers)
                    if (lower(c.resource) == lower(sectionName)) return fail("носитель " + sectionName + " описан дважды", "carrier " + sectionName + " described twice");
                spec.carriers.emplace_back();
                carrier = &spec.carriers.back();
                carrier->resource = sectionName;
                carrier->name = "NEXHOST " + sectionName;
            } else if (section == "source") {
                if (sectionName.empty() || sectionName.find('/') != std::string::npos)
                    return fail("раздел источника требует имени без '/'", "source section needs a name without '/'");
                for (const auto &s : spec.sources)
                    if (s.name == sectionName) return fail("источник " + sectionName + " описан дважды", "source " + sectionName + " described twice");
                spec.sources.emplace_back();
                source = &spec.sources.back();
                source->name = sectionName;
            } else if (section != "bench" && section != "cables") {
                return fail("неизвестный раздел [" + head + "]", "unknown section [" + head + "]");
            } else if (!sectionName.empty()) {
                return fail("раздел [" + section + "] не имеет имени", "section [" + section + "] takes no name");
            }
            continue;
        }
        size_t eq = t.find('=');
        if (eq == std::string::npos) return fail("ожидается 'ключ = значение'", "expected 'key = value'");
        std::string key = trim(t.substr(0, eq)), value = trim(t.substr(eq + 1));
        std::string k = lower(key);
        if (section.empty()) return fail("'" + key + "' вне раздела", "'" + key + "' outside a section");
        if (section == "bench") {
            if (k == "time_factor") {
                if (!parseDouble(value, spec.timeFactor) || spec.timeFactor <= 0) return fail("time_factor должен быть положительным числом", "time_factor must be a positive number");
            } else if (k == "seed") {
                if (!parseUnsigned(value, UINT64_MAX, spec.seed)) return fail("seed должен быть целым без знака", "seed must be an unsigned integer");
            } else if (k == "state_directory") {
                spec.stateDirectory = value;
            } else {
                return fail("неизвестный ключ '" + key + "' в [bench]", "unknown key '" + key + "' in [bench]");
            }
        } else if (section == "carrier") {
            uint64_t u = 0;
            if (k == "name") {
                if (value.size() > 255) return fail("name длиннее 255 символов", "name longer than 255 characters");
                carrier->name = value;
            } else if (k == "memory_words") {
                if (!parseUnsigned(value, 0xFFFFFFFFu, u) || u == 0) return fail("memory_words должно быть от 1 до 4294967295", "memory_words must be 1 to 4294967295");
                carrier->memoryWords = static_cast<uint32_t>(u);
            } else if (k == "refuses_open") {
                if (!parseBool(value, carrier->refusesOpen)) return fail("refuses_open должно быть yes или no", "refuses_open must be yes or no");
            } else if (k == "fails_identity") {
                if (!parseBool(value, carrier->failsIdentity)) return fail("fails_identity должно быть yes или no", "fails_identity must be yes or no");
            } else if (k.rfind("module", 0) == 0) {
                uint64_t position = 0;
                if (!parseUnsigned(trim(key.substr(6)), 4, position) || position < 1)
                    return fail("в 'module N' нужна позиция от 1 до 4", "'module N' needs a position 1 to 4");
                for (const auto &m : carrier->modules)
                    if (m.position == static_cast<int>(position)) return fail("позиция " + std::to_string(position) + " описана дважды", "position " + std::to_string(position) + " described twice");
                std::istringstream words(value);
                std::string kind;
                words >> kind;
                kind = lower(kind);
                if (kind == "none") continue;
                ModuleSpec m;
                m.position = static_cast<int>(position);
                if (kind == "tarq") m.type = 0x49;
                else if (kind == "other") m.type = 0x21;
                else return fail("вид модуля должен быть tarq, other или none", "module kind must be tarq, other or none");
                std::string item;
                while (words >> item) {
                    size_t e2 = item.find('=');
                    if (e2 == std::string::npos) return fail("в атрибуте модуля '" + item + "' нужен '='", "module attribute '" + item + "' needs '='");
                    std::string ak = lower(item.substr(0, e2)), av = item.substr(e2 + 1);
                    if (ak == "serial") {
                        if (!parseUnsigned(av, 0xFFFFFFFFu, u)) return fail("serial должен быть от 0 до 4294967295", "serial must be 0 to 4294967295");
                        m.serial = static_cast<uint32_t>(u);
                    } else if (ak == "version") {
                        if (!parseUnsigned(av, 3, u)) return fail("version должна быть от 0 до 3", "version must be 0 to 3");
                        m.hardwareVersion = static_cast<int>(u);
                    } else if (ak == "type") {
                        if (!parseUnsigned(av, 0xFFFF, u) || u == 0) return fail("type должен быть от 1 до 0xFFFF", "type must be 1 to 0xFFFF");
                        m.type = static_cast<uint16_t>(u);
                    } else {
                        return fail("неизвестный атрибут модуля '" + ak + "'", "unknown module attribute '" + ak + "'");
                    }
                }
                carrier->modules.push_back(m);
            } else {
                return fail("неизвестный ключ '" + key + "' в [carrier]", "unknown key '" + key + "' in [carrier]");
            }
        } else if (section == "source") {
            if (k == "kind") {
                std::string v = lower(value);
                if (v == "sine") source->kind = SourceSpec::Kind::Sine;
                else if (v == "dc") source->kind = SourceSpec::Kind::Dc;
                else return fail("kind должен быть sine или dc", "kind must be sine or dc");
            } else if (k == "frequency_hz") {
                if (!parseDouble(value, source->frequencyHz) || source->frequencyHz < 0 || source->frequencyHz > 6e9)
                    return fail("frequency_hz должна быть от 0 до 6e9", "frequency_hz must be 0 to 6e9");
            } else if (k == "level_dbm") {
                if (!parseDouble(value, source->levelDbm) || source->levelDbm < -150 || source->levelDbm > 30)
                    return fail("level_dbm должен быть от -150 до 30", "level_dbm must be -150 to 30");
            } else if (k == "dc_volts") {
                if (!parseDouble(value, source->dcVolts) || std::abs(source->dcVolts) > 100) return fail("dc_volts должно быть от -100 до 100", "dc_volts must be -100 to 100");
            } else if (k == "enabled") {
                if (!parseBool(value, source->enabled)) return fail("enabled должно быть yes или no", "enabled must be yes or no");
            } else {
                return fail("неизвестный ключ '" + key + "' в [source]", "unknown key '" + key + "' in [source]");
            }
        } else { // cables
            if (key.empty() || value.empty()) return fail("кабелю нужны два соединителя", "a cable needs two connectors");
            spec.cables.push_back({model::canonicalConnector(key), model::canonicalConnector(value)});
            cableLines.push_back(number);
        }
    }
    // Every cable end must exist, and a connector takes one cable.
    std::set<std::string> known;
    for (const auto &s : spec.sources) known.insert(s.name);
    for (const auto &c : spec.carriers)
        for (const auto &m : c.modules)
            for (const char *n : {"КН1", "КН2", "ОЧ", "СИНХР"})
                known.insert(c.resource + "/" + std::to_string(m.position) + "/" + n);
    std::set<std::string> used;
    for (size_t i = 0; i < spec.cables.size(); ++i) {
        number = cableLines[i];
        for (const std::string &end : {spec.cables[i].first, spec.cables[i].second}) {
            if (!known.count(end)) return fail("неизвестный соединитель '" + end + "'", "unknown connector '" + end + "'");
            if (!used.insert(end).second) return fail("к соединителю '" + end + "' уже подключен кабель", "connector '" + end + "' already has a cable");
        }
    }
    out = std::move(spec);
    return true;
}

bool loadBenchFile(const std::string &path, BenchSpec &out, std::string &error, int language) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = path + (language == 1 ? ": cannot open the bench file" : ": не удается открыть файл стенда");
        return false;
    }
    std::ostringstream text;
    text << in.rdbuf();
    if (text.str().size() > (1u << 20)) {
        error = path + (language == 1 ? ": bench file larger than 1 MiB" : ": файл стенда больше 1 МиБ");
        return false;
    }
    return parseBenchText(text.str(), path, out, error, language);
}

} // namespace tarq::bench
