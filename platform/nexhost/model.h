// The simulated bench: carriers with their mezzanine positions, the TARQ module at register level
// (registers, ADC port, coefficient flash, acquisition memory and transfer engine), connectors and
// cables. Everything here runs under the bench mutex (see bench.cpp).
#pragma once

#include "bench.h"
#include "signal_gen.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace tarq::bench::model {

using Clock = std::chrono::steady_clock;
constexpr double kSamplePeriod = 2e-9;
constexpr double kLsbVolts = 2.06 / 16383.0;
constexpr double kZeroDbmVrms = 0.22360679774997896; // sqrt(50 ohm * 1 mW)

// A signal as seen at a connector: tones in volts peak, plus DC.
struct SignalAtConnector {
    struct Sine {
        double frequencyHz;
        double peakVolts;
    };
    std::vector<Sine> sines;
    double dcVolts = 0.0;
    bool carriesReference() const; // a 10 MHz sine strong enough to lock a reference input
};

// --- coefficient flash ---------------------------------------------------------------------------

class Flash {
  public:
    static constexpr uint32_t kSize = 8u << 20;
    static constexpr uint32_t kSector = 64u << 10;
    static constexpr uint32_t kPage = 256;

    void attachState(std::string path, uint32_t serial); // loads or creates the factory content
    void select(bool on, const ModuleFaults &faults);
    void writeByte(uint8_t value, const ModuleFaults &faults);
    uint8_t readByte(const ModuleFaults &faults);
    std::vector<uint8_t> content(uint32_t address, uint32_t size) const;
    void setContent(uint32_t address, const std::vector<uint8_t> &bytes);

  private:
    bool busy(const ModuleFaults &faults) const;
    uint8_t statusAsRead(const ModuleFaults &faults) const;
    void execute(const ModuleFaults &faults);
    uint8_t byteAt(uint32_t address) const;
    void save() const;
    uint32_t address() const; // 24-bit address from command bytes 1 to 3

    std::map<uint32_t, std::vector<uint8_t>> sectors_; // absent: erased (all 0xFF)
    std::string statePath_;
    bool selected_ = false;
    std::vector<uint8_t> command_; // opcode and address bytes in natural bit order, then data
    uint32_t readAddress_ = 0;
    bool writeEnabled_ = false;
    uint8_t protection_ = 7; // block protection bits, set as the part leaves the factory
    Clock::time_point busyUntil_{};
    bool hangs_ = false;
};

// --- acquisition memory --------------------------------------------------------------------------

struct PacketTiming {
    uint64_t arm = 0;       // sample index (from the start of the acquisition) where the packet armed
    uint64_t firstUnit = 0; // units (8 samples) from arm of the oldest unit kept in the ring
    uint64_t triggerUnit = 0;
    uint64_t end = 0;       // sample index where the packet is complete
};

class Acquisition {
  public:
    bool valid = false;
    uint32_t packets = 0, samples = 0, pages = 0;
    uint32_t preUnits = 0; // pre-trigger length in units of 8 samples
    uint16_t source = 0, slope = 0;
    int16_t level = 0;
    bool syncTrigger = false, carrierTrigger = false;
    uint64_t origin = 0; // absolute sample index of the arming, for the signals
    double timeFactor = 1.0;
    Clock::time_point start{};
    SignalGenerator generator;

    std::vector<PacketTiming> timings;    // settled packets, in order
    std::optional<uint64_t> forcedAt;     // a software trigger for the packet being acquired
    std::optional<uint64_t> stoppedAt;    // sample index at which the module was stopped
    std::optional<size_t> noTrigger;      // packet known to have no trigger within the scan

    uint64_t regionWords() const; // words between packet bases
    uint64_t elapsedSamples(Clock::time_point now) const;
    bool running(Clock::time_point now);
    void force(Clock::time_point now);
    void stop(Clock::time_point now);
    // Settles packets up to index p (0-based) as far as time and triggers allow; true when settled.
    bool settle(uint32_t p);
    const PacketTiming *timing(uint32_t p);
    // Words of the packet at offset o (from its base) onward, in ring order, count at most up to the end.
    void packetWords(uint32_t p, uint64_t offset, uint32_t count, uint32_t *out);

  private:
    std::optional<uint64_t> findTrigger(uint64_t from, uint64_t limit);
};

class Memory {
  public:
    static constexpr uint32_t kPageWords = 4096;
    void read(Acquisition &acq, uint64_t address, uint32_t count, uint32_t *out, const ModuleFaults &faults);
    void write(uint64_t address, uint32_t count, const uint32_t *in);
    void forget(uint64_t from, uint64_t to); // an acquisition overwrote this range

  private:
    struct Page {
        std::array<uint32_t, kPageWords> words{};
        std::array<uint64_t, kPageWords / 64> written{};
    };
    std::unordered_map<uint64_t, std::unique_ptr<Page>> pages_;
};

// --- the module ----------------------------------------------------------------------------------

class Bench;

class Module {
  public:
    Module(Bench &bench, std::string resource, const ModuleSpec &spec, uint64_t seed);
    const std::string resource;
    const ModuleSpec spec;
    ModuleFaults faults;
    double temperature[2] = {36.5, 41.25};
    bool syncTrigger = false, carrierTrigger = false;
    bool logging = false;
    std::vector<RegisterAccess> log;

    int32_t in16(uint16_t reg, uint16_t &value);
    int32_t out16(uint16_t reg, uint16_t value);

    // Streams, as the carrier sees them.
    uint32_t streamSize[2] = {0, 0};
    bool streamRunning[2] = {false, false};
    int sessions = 0;
    int32_t readStream(uint32_t words, uint32_t *buffer, uint32_t &got);
    int32_t writeStream(uint32_t words, const uint32_t *buffer, uint32_t &put);
    uint32_t streamFree() const;
    uint32_t streamReady() const;
    void resetStreams();
    void stopStream(int stream);
    void startStream(int stream);

    bool isTarq() const { return spec.type == 0x49; }
    SignalAtConnector output(const std::string &connector) const; // what the module drives out there
    uint8_t adcRegister(uint16_t address) const { return adc_[address & 0xFFF]; }
    int64_t lastWritten(uint16_t reg) const;
    std::vector<uint8_t> flashContent(uint32_t a, uint32_t n) const { return flash_.content(a, n); }
    void setFlashContent(uint32_t a, const std::vector<uint8_t> &b) { flash_.setContent(a, b); }
    void readMemory(uint64_t address, uint32_t count, uint32_t *out) { memory_.read(acq_, address, count, out, faults); }
    void wiringChanged(); // re-evaluates the reference lock condition

    // Frequency response and offset of this module's channels (what its factory block corrects).
    static double response(uint32_t serial, int channel, double frequencyHz);
    static double offsetVolts(uint32_t serial, int channel);

  private:
    bool failAccess(uint16_t reg, bool write, int32_t &status);
    uint16_t readRegister(uint16_t reg, Clock::time_point now);
    void writeRegister(uint16_t reg, uint16_t value, Clock::time_point now);
    uint32_t pair(uint16_t reg) const;
    void adcCommand(uint16_t command, Clock::time_point now);
    void adcResetValues();
    void arm(Clock::time_point now);
    bool referenceLocked(Clock::time_point now);
    void referenceConditionChanged(Clock::time_point now);
    void pumpWrites(Clock::time_point now);

    Bench &bench_;
    std::array<uint16_t, 0x40> regs_{};           // plain storage and last written values
    std::array<bool, 0x40> written_{};
    std::map<uint16_t, std::pair<uint16_t, uint16_t>> halves_; // 32-bit registers: high, low
    uint16_t lastReg_ = 0xFFFF;
    bool secondHalf_ = false;                     // next access to lastReg_ is its low half
    std::map<uint16_t, int32_t> faultSeen_;       // matching accesses per register fault index

    uint16_t controller_ = 0;
    Clock::time_point controllerReady_{};
    uint16_t commandBits_ = 0;
    Clock::time_point commandBitsClear_{};
    uint16_t control_ = 0;
    Clock::time_point lockSince_{};
    bool lockCondition_ = false;
    uint16_t monitorByte_ = 0;
    uint32_t triggerHeld_ = 0; // register 0x32 between its two halves

    std::array<uint8_t, 0x1000> adc_{};
    uint16_t adcBusyCommand_ = 0;
    Clock::time_point adcReady_{};

    Flash flash_;
    Memory memory_;
    Acquisition acq_;
    uint64_t acquisitions_ = 0;
    uint64_t seed_ = 0;

    // Transfer engine.
    bool readPrepared_ = false;
    uint64_t readAddress_ = 0;
    uint64_t burstLeft_ = 0;
    bool writePrepared_ = false;
    uint64_t writeAddress_ = 0;
    uint64_t commitLeft_ = 0;
    Clock::time_point writeBusyUntil_{};
    std::vector<uint32_t> queue_; // stream 1, from queueHead_ on
    size_t queueHead_ = 0;
};

struct Carrier {
    CarrierSpec spec;
    std::array<std::shared_ptr<Module>, 4> modules;
    uint64_t allocated() const;
};

class Bench {
  public:
    explicit Bench(const BenchSpec &spec);
    BenchSpec spec;
    std::vector<std::shared_ptr<Carrier>> carriers;
    uint64_t generation = 0; // changes with every configure: old sessions stop working

    std::shared_ptr<Carrier> carrier(const std::string &resource) const;
    std::shared_ptr<Module> module(const ModuleRef &ref) const;
    // What reaches a connector through its cable (sum of the far end's outputs).
    SignalAtConnector signalInto(const std::string &connector) const;
    std::string stateDirectory() const;
    void wiringChanged();
};

std::string canonicalConnector(const std::string &name);

} // namespace tarq::bench::model
