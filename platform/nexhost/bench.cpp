// The bench as a whole: its description (built in or from a file), connectors and cables, and the
// control API for tests and hosts. One mutex guards the whole model.
#include "bench_state.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <strings.h>
#include <fstream>
#include <sstream>

namespace tarq::bench {

using model::Bench;
using model::Module;

namespace model {

uint64_t Carrier::allocated() const {
    uint64_t total = 0;
    for (const auto &m : modules)
        if (m) total += static_cast<uint64_t>(m->streamSize[0]) + m->streamSize[1];
    return total;
}

std::string canonicalConnector(const std::string &name) {
    size_t slash = name.rfind('/');
    if (slash == std::string::npos) return name;
    std::string last = name.substr(slash + 1), head = name.substr(0, slash + 1);
    std::string up;
    for (char c : last) up += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (up == "CH1" || last == "КН1" || last == "кн1") return head + "КН1";
    if (up == "CH2" || last == "КН2" || last == "кн2") return head + "КН2";
    if (up == "REF" || last == "ОЧ" || last == "оч") return head + "ОЧ";
    if (up == "SYNC" || last == "СИНХР" || last == "Синхр" || last == "Синхр." || last == "синхр") return head + "СИНХР";
    return name;
}

Bench::Bench(const BenchSpec &s) : spec(s) {
    for (auto &c : spec.cables) c = {canonicalConnector(c.first), canonicalConnector(c.second)};
    for (const CarrierSpec &cs : spec.carriers) {
        auto carrier = std::make_shared<Carrier>();
        carrier->spec = cs;
        for (const ModuleSpec &ms : cs.modules)
            if (ms.position >= 1 && ms.position <= 4 && ms.type != 0)
                carrier->modules[ms.position - 1] = std::make_shared<Module>(*this, cs.resource, ms, spec.seed);
        carriers.push_back(carrier);
    }
    wiringChanged();
}

std::shared_ptr<Carrier> Bench::carrier(const std::string &resource) const {
    for (const auto &c : carriers)
        if (strcasecmp(c->spec.resource.c_str(), resource.c_str()) == 0) return c;
    return nullptr;
}

std::shared_ptr<Module> Bench::module(const ModuleRef &ref) const {
    auto c = carrier(ref.resource);
    if (!c || ref.position < 1 || ref.position > 4) return nullptr;
    return c->modules[ref.position - 1];
}

std::string Bench::stateDirectory() const {
    if (!spec.stateDirectory.empty()) return spec.stateDirectory;
    const char *xdg = std::getenv("XDG_STATE_HOME");
    if (xdg && *xdg) return std::string(xdg) + "/tarq/bench";
    const char *home = std::getenv("HOME");
    if (home && *home) return std::string(home) + "/.local/state/tarq/bench";
    return {};
}

SignalAtConnector Bench::signalInto(const std::string &connector) const {
    SignalAtConnector in;
    const std::string here = canonicalConnector(connector);
    for (const auto &[a, b] : spec.cables) {
        const std::string *far = a == here ? &b : b == here ? &a : nullptr;
        if (!far) continue;
        for (const SourceSpec &s : spec.sources) {
            if (s.name != *far || !s.enabled) continue;
            if (s.kind == SourceSpec::Kind::Sine)
                in.sines.push_back({s.frequencyHz, std::sqrt(2.0) * kZeroDbmVrms * std::pow(10.0, s.levelDbm / 20.0)});
            else
                in.dcVolts += s.dcVolts;
        }
        // A module connector: "<resource>/<position>/<name>".
        size_t s2 = far->rfind('/');
        size_t s1 = s2 == std::string::npos || s2 == 0 ? std::string::npos : far->rfind('/', s2 - 1);
        if (s1 != std::string::npos) {
            int position = std::atoi(far->substr(s1 + 1, s2 - s1 - 1).c_str());
            if (auto m = module({far->substr(0, s1), position})) {
                SignalAtConnector out = m->output(far->substr(s2 + 1));
                in.sines.insert(in.sines.end(), out.sines.begin(), out.sines.end());
                in.dcVolts += out.dcVolts;
            }
        }
    }
    return in;
}

void Bench::wiringChanged() {
    for (const auto &c : carriers)
        for (const auto &m : c->modules)
            if (m) m->wiringChanged();
}

} // namespace model

// --- global state --------------------------------------------------------------------------------

std::recursive_mutex &benchMutex() {
    static std::recursive_mutex m;
    return m;
}

namespace {
std::unique_ptr<Bench> gBench;
std::string gBenchError[2]; // Russian, English
uint64_t gGeneration = 0;
} // namespace

Bench &benchLocked() {
    if (!gBench) {
        BenchSpec spec = defaultBench();
        const char *file = std::getenv("TARQ_BENCH");
        if (file && *file) {
            BenchSpec loaded;
            if (loadBenchFile(file, loaded, gBenchError[1], 1)) {
                spec = loaded;
            } else {
                loadBenchFile(file, loaded, gBenchError[0], 0);
                spec = BenchSpec{};
            }
        }
        gBench = std::make_unique<Bench>(spec);
        gBench->generation = ++gGeneration;
    }
    return *gBench;
}

BenchSpec defaultBench() {
    BenchSpec b;
    CarrierSpec c;
    c.resource = "PXI0::1::INSTR";
    c.name = "NEXHOST PXI0::1::INSTR";
    c.modules.push_back(ModuleSpec{1, 0x49, 1001, 1});
    b.carriers.push_back(c);
    b.sources.push_back({"SRC1", SourceSpec::Kind::Sine, 5e6, 0.0, 0.0, true});
    b.sources.push_back({"SRC2", SourceSpec::Kind::Sine, 6e6, 0.0, 0.0, true});
    b.cables.push_back({"SRC1", "PXI0::1::INSTR/1/КН1"});
    b.cables.push_back({"SRC2", "PXI0::1::INSTR/1/КН2"});
    return b;
}

void configure(const BenchSpec &spec) {
    std::lock_guard lock(benchMutex());
    gBench = std::make_unique<Bench>(spec);
    gBench->generation = ++gGeneration;
    gBenchError[0].clear();
    gBenchError[1].clear();
}

BenchSpec current() {
    std::lock_guard lock(benchMutex());
    return benchLocked().spec;
}

std::string benchError(int language) {
    std::lock_guard lock(benchMutex());
    benchLocked();
    return gBenchError[language == 1 ? 1 : 0];
}

std::string moduleConnector(const std::string &resource, int position, const std::string &name) {
    return model::canonicalConnector(resource + "/" + std::to_string(position) + "/" + name);
}

bool plug(const std::string &a, const std::string &b) {
    std::lock_guard lock(benchMutex());
    Bench &bench = benchLocked();
    const std::string ca = model::canonicalConnector(a), cb = model::canonicalConnector(b);
    if (ca.empty() || cb.empty() || ca == cb) return false;
    auto &cs = bench.spec.cables;
    std::erase_if(cs, [&](const auto &c) { return c.first == ca || c.second == ca || c.first == cb || c.second == cb; });
    cs.push_back({ca, cb});
    bench.wiringChanged();
    return true;
}

void unplug(const std::string &connector) {
    std::lock_guard lock(benchMutex());
    Bench &bench = benchLocked();
    const std::string c = model::canonicalConnector(connector);
    std::erase_if(bench.spec.cables, [&](const auto &x) { return x.first == c || x.second == c; });
    bench.wiringChanged();
}

std::vector<std::pair<std::string, std::string>> cables() {
    std::lock_guard lock(benchMutex());
    return benchLocked().spec.cables;
}

void setSource(const SourceSpec &source) {
    std::lock_guard lock(benchMutex());
    Bench &bench = benchLocked();
    bool replaced = false;
    for (auto &s : bench.spec.sources)
        if (s.name == source.name) {
            s = source;
            replaced = true;
        }
    if (!replaced) bench.spec.sources.push_back(source);
    bench.wiringChanged();
}

void setTimeFactor(double factor) {
    std::lock_guard lock(benchMutex());
    if (std::isfinite(factor) && factor > 0.0) benchLocked().spec.timeFactor = factor;
}

template <typename F> static auto withModule(const ModuleRef &ref, F &&f, decltype(f(std::declval<Module &>())) fallback) {
    std::lock_guard lock(benchMutex());
    auto m = benchLocked().module(ref);
    return m ? f(*m) : fallback;
}

bool setFaults(const ModuleRef &ref, const ModuleFaults &f) {
    return withModule(ref, [&](Module &m) { m.faults = f; return true; }, false);
}

ModuleFaults faults(const ModuleRef &ref) {
    return withModule(ref, [](Module &m) { return m.faults; }, ModuleFaults{});
}

bool setTemperatures(const ModuleRef &ref, double t1, double t2) {
    return withModule(ref, [&](Module &m) { m.temperature[0] = t1; m.temperature[1] = t2; return true; }, false);
}

bool setExternalTriggers(const ModuleRef &ref, bool syncInput, bool carrier) {
    return withModule(ref, [&](Module &m) { m.syncTrigger = syncInput; m.carrierTrigger = carrier; return true; }, false);
}

bool setRegisterLog(const ModuleRef &ref, bool on) {
    return withModule(ref, [&](Module &m) { m.logging = on; m.log.clear(); return true; }, false);
}

std::vector<RegisterAccess> takeRegisterLog(const ModuleRef &ref) {
    return withModule(ref, [](Module &m) { return std::exchange(m.log, {}); }, std::vector<RegisterAccess>{});
}

std::vector<uint8_t> flashContent(const ModuleRef &ref, uint32_t address, uint32_t size) {
    return withModule(ref, [&](Module &m) { return m.flashContent(address, size); }, std::vector<uint8_t>{});
}

bool setFlashContent(const ModuleRef &ref, uint32_t address, const std::vector<uint8_t> &bytes) {
    return withModule(ref, [&](Module &m) { m.setFlashContent(address, bytes); return true; }, false);
}

int adcRegister(const ModuleRef &ref, uint16_t address) {
    return withModule(ref, [&](Module &m) { return address < 0x1000 ? static_cast<int>(m.adcRegister(address)) : 0; }, -1);
}

int64_t moduleRegister(const ModuleRef &ref, uint16_t reg) {
    return withModule(ref, [&](Module &m) { return m.lastWritten(reg); }, int64_t{-1});
}

bool readMemory(const ModuleRef &ref, uint64_t wordAddress, uint32_t count, uint32_t *out) {
    if (!out && count) return false;
    return withModule(ref, [&](Module &m) { m.readMemory(wordAddress, count, out); return true; }, false);
}

std::vector<uint8_t> factoryBlock(uint32_t serial) {
    std::vector<uint8_t> block(345, 0);
    // Band centres: 25, 75, ... 225 MHz for the lower bands, 275 ... 475 MHz for codes 5 to 9.
    for (int c = 0; c < 2; ++c) {
        for (int b = 0; b < 10; ++b) {
            const double h = Module::response(serial, c, 25e6 + 50e6 * b);
            const double gain = 1.0 / h;
            const double offset = -Module::offsetVolts(serial, c) / h;
            std::memcpy(&block[static_cast<size_t>((c * 20 + b) * 8)], &gain, 8);
            std::memcpy(&block[static_cast<size_t>((c * 20 + 10 + b) * 8)], &offset, 8);
        }
    }
    for (int i = 0; i < 4; ++i) block[320 + i] = static_cast<uint8_t>(serial >> (8 * i));
    std::memcpy(&block[324], "01-15-2026 10:00:00", 19);
    unsigned sum = 0;
    for (int i = 0; i < 344; ++i) sum += block[i];
    if ((sum & 0xFF) == 0) {
        block[342] = 1; // a zero checksum would read as invalid
        ++sum;
    }
    block[344] = static_cast<uint8_t>(sum);
    return block;
}

} // namespace tarq::bench
