// Control of the simulated bench behind the carrier library: what is plugged where, what the sources
// produce, how fast time runs, which faults to inject, and what the driver wrote. Tests and hosts use
// it; the driver never does (it sees the bench only through the carrier API).
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#if defined(__GNUC__)
#define TARQ_BENCH_API __attribute__((visibility("default")))
#else
#define TARQ_BENCH_API
#endif

namespace tarq::bench {

// A signal source of the bench; its name is the name of its output connector.
struct SourceSpec {
    enum class Kind { Sine, Dc };
    std::string name;
    Kind kind = Kind::Sine;
    double frequencyHz = 0.0; // sine
    double levelDbm = 0.0;    // sine, into 50 ohms: 0 dBm is 0.2236 V rms
    double dcVolts = 0.0;     // dc
    bool enabled = true;
};

struct ModuleSpec {
    int position = 1;           // 1 to 4
    uint16_t type = 0x49;       // 0x49 TARQ; any other value is a foreign module type
    uint32_t serial = 0;        // also names the module's flash state file
    int hardwareVersion = 1;    // 0: no channel gain control
};

struct CarrierSpec {
    std::string resource = "PXI0::1::INSTR";
    std::string name = "NEXHOST";    // text of the carrier-name attribute
    uint32_t memoryWords = 64u << 20; // 256 MiB of 32-bit words
    bool refusesOpen = false;         // nexhost_init fails (and still hands back a session to close)
    bool failsIdentity = false;       // nexhost_init with an identity query fails with 0xBFFC0011
    std::vector<ModuleSpec> modules;
};

struct BenchSpec {
    std::vector<CarrierSpec> carriers; // search order
    std::vector<SourceSpec> sources;
    std::vector<std::pair<std::string, std::string>> cables;
    double timeFactor = 1.0;    // scales acquisition durations only
    uint64_t seed = 1;          // phases and noise of the acquisitions
    std::string stateDirectory; // flash state files; empty: $XDG_STATE_HOME/tarq/bench
};

// The built-in bench: one carrier PXI0::1::INSTR with a TARQ at position 1, channel 1 fed by a
// 5 MHz and channel 2 by a 6 MHz sine of 0 dBm.
TARQ_BENCH_API BenchSpec defaultBench();
// Bench files: see docs/bench-file.md. On failure error holds "<file>:<line>: <what>", in Russian
// (language 0) or English (1).
TARQ_BENCH_API bool parseBenchText(const std::string &text, const std::string &fileName, BenchSpec &out,
                                   std::string &error, int language = 1);
TARQ_BENCH_API bool loadBenchFile(const std::string &path, BenchSpec &out, std::string &error, int language = 1);

// Replaces the whole bench. Sessions opened on the previous bench get session errors from then on.
TARQ_BENCH_API void configure(const BenchSpec &spec);
// The bench in use (built from TARQ_BENCH or the default on first use).
TARQ_BENCH_API BenchSpec current();
// Why the bench file named by TARQ_BENCH could not be used (empty when it could), in Russian
// (language 0) or English (1); the bench is then empty, so no instrument is found.
TARQ_BENCH_API std::string benchError(int language = 1);

// Module connectors are named "<resource>/<position>/<name>" with the names КН1, КН2 (channel
// inputs), ОЧ (reference) and СИНХР (synchronisation); CH1, CH2, REF and SYNC are accepted too.
TARQ_BENCH_API std::string moduleConnector(const std::string &resource, int position, const std::string &name);

// A connector takes one cable: plugging a cable first removes any cable at either end.
TARQ_BENCH_API bool plug(const std::string &a, const std::string &b);
TARQ_BENCH_API void unplug(const std::string &connector);
TARQ_BENCH_API std::vector<std::pair<std::string, std::string>> cables();
// Adds a source or replaces the one of that name.
TARQ_BENCH_API void setSource(const SourceSpec &source);
TARQ_BENCH_API void setTimeFactor(double factor);

// A register access that fails: after `skip` matching accesses, the next `count` ones (-1: all)
// return `status` and do nothing.
struct RegisterFault {
    uint16_t reg = 0;
    bool onRead = true;
    bool onWrite = true;
    int32_t status = static_cast<int32_t>(0xBFFA000A);
    int32_t skip = 0;
    int32_t count = -1;
};

struct ModuleFaults {
    std::vector<RegisterFault> registers;
    int idOverride = -1;             // register 0x02 reads this (another module's ID)
    int versionOverride = -1;        // hardware version bits of register 0x04
    bool adcPortBusy = false;        // the ADC port never finishes a command
    bool controllerHangs = false;    // the controller start never completes
    int controllerDoneValue = -1;    // register 0x08 reads this after the start instead of 2
    uint16_t stuckCommandBits = 0;   // bits of register 0x20 that never clear
    bool referenceNeverLocks = false;
    uint16_t eventReadbackXor = 0;   // register 0x14 reads back the written value XOR this
    bool readStreamStalls = false;   // stream 0 delivers nothing
    int32_t readStreamStatus = 0;    // non-zero: every stream 0 read fails with it
    bool asyncStopFails = false;     // nexhost_m_async_stop fails
    bool writeStreamStalls = false;  // the module takes no words from stream 1
    bool refuseAllStreamSizes = false;
    uint32_t refuseStreamSizesAbove = 0; // non-zero: allocations above this many words are refused
    bool flashBusyStuck = false;     // the flash always reports busy
    bool flashEraseHangs = false;    // a sector erase never completes
    bool flashProgramHangs = false;  // a page program never completes
    bool flashProtectionStuck = false; // writing the status does not clear the protection bits
    uint32_t memoryStuckMask = 0;    // bits of every memory word stuck ...
    bool memoryStuckHigh = false;    // ... at 1 (else at 0)
};

struct ModuleRef {
    std::string resource = "PXI0::1::INSTR";
    int position = 1;
};

TARQ_BENCH_API bool setFaults(const ModuleRef &module, const ModuleFaults &faults);
TARQ_BENCH_API ModuleFaults faults(const ModuleRef &module);
TARQ_BENCH_API bool setTemperatures(const ModuleRef &module, double sensor1, double sensor2);
// External trigger present on the synchronisation input (source 3) / from the carrier (source 4).
TARQ_BENCH_API bool setExternalTriggers(const ModuleRef &module, bool syncInput, bool carrier);

struct RegisterAccess {
    uint16_t reg;
    uint16_t value;
    bool write;
    int32_t status;
};
TARQ_BENCH_API bool setRegisterLog(const ModuleRef &module, bool on);
TARQ_BENCH_API std::vector<RegisterAccess> takeRegisterLog(const ModuleRef &module);

// Raw views of the module's parts, bypassing the register protocol.
TARQ_BENCH_API std::vector<uint8_t> flashContent(const ModuleRef &module, uint32_t address, uint32_t size);
TARQ_BENCH_API bool setFlashContent(const ModuleRef &module, uint32_t address, const std::vector<uint8_t> &bytes);
TARQ_BENCH_API int adcRegister(const ModuleRef &module, uint16_t address); // -1: no such module
TARQ_BENCH_API int64_t moduleRegister(const ModuleRef &module, uint16_t reg); // last written; -1: none
TARQ_BENCH_API bool readMemory(const ModuleRef &module, uint64_t wordAddress, uint32_t count, uint32_t *out);

// The factory coefficient block a module of that serial number leaves the factory with (345 bytes):
// coefficients that correct its own frequency response and offsets at the band centres.
TARQ_BENCH_API std::vector<uint8_t> factoryBlock(uint32_t serial);

} // namespace tarq::bench
