// The TARQ mezzanine at register level: register file, controller start, command bits, reference
// lock, ADC port, monitor port, flash port, acquisition control and the block transfer engine.
#include "model.h"
#include "nexhost.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace tarq::bench::model {
namespace {

constexpr auto kControllerStart = std::chrono::microseconds(200);
constexpr auto kCommandBit = std::chrono::microseconds(30);
constexpr auto kAdcBusy = std::chrono::microseconds(20);
constexpr auto kInternalLock = std::chrono::microseconds(100);
constexpr auto kExternalLock = std::chrono::microseconds(500);
constexpr double kWriteWordsPerSecond = 250e6; // stream 1 into the module memory
constexpr double kNoiseRms = 0.6;              // ADC noise in codes
constexpr double kReferenceHz = 10e6;
constexpr double kReferenceDbm = 3.0;

uint64_t mix(uint64_t x) {
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

// Uniform in [-1, 1) from a key.
double unit(uint64_t key) { return static_cast<double>(mix(key) >> 11) / 4503599627370496.0 - 1.0; }

bool wideRegister(uint16_t reg) { return reg == 0x1A || reg == 0x1C || reg == 0x2E || reg == 0x32; }

} // namespace

bool SignalAtConnector::carriesReference() const {
    for (const Sine &s : sines)
        if (std::abs(s.frequencyHz - kReferenceHz) <= 10e3 && s.peakVolts >= 0.1) return true;
    return false;
}

double Module::response(uint32_t serial, int channel, double frequencyHz) {
    // A smooth tilt and a gentle ripple, within about +-1.8 %: each module has its own.
    const uint64_t key = static_cast<uint64_t>(serial) << 8 | static_cast<uint64_t>(channel);
    const double x = frequencyHz / 250e6;
    const double ripplePhase = std::numbers::pi * unit(key * 7 + 3);
    return 1.0 + 0.006 * unit(key * 7 + 1) + 0.008 * unit(key * 7 + 2) * x +
           0.004 * std::sin(2.0 * std::numbers::pi * frequencyHz / 137e6 + ripplePhase);
}

double Module::offsetVolts(uint32_t serial, int channel) {
    return 0.003 * unit((static_cast<uint64_t>(serial) << 8 | static_cast<uint64_t>(channel)) * 7 + 5);
}

Module::Module(Bench &bench, std::string res, const ModuleSpec &s, uint64_t seed)
    : resource(std::move(res)), spec(s), bench_(bench), seed_(mix(seed ^ (static_cast<uint64_t>(s.serial) << 3) ^
                                                                   static_cast<uint64_t>(s.position))) {
    regs_[0x38] = 0x5050; // both channels at 0 dB
    adcResetValues();
    lockSince_ = Clock::now();
    lockCondition_ = true;
    if (isTarq()) {
        std::string dir = bench.stateDirectory();
        flash_.attachState(dir.empty() ? std::string() : dir + "/module-" + std::to_string(spec.serial) + ".flash",
                           spec.serial);
    }
}

void Module::adcResetValues() {
    adc_.fill(0);
    adc_[0x004] = 0xD3; // chip id
    adc_[0x018] = 0x20; // input buffer for the lower bands
}

bool Module::failAccess(uint16_t reg, bool write, int32_t &status) {
    for (size_t i = 0; i < faults.registers.size(); ++i) {
        const RegisterFault &f = faults.registers[i];
        if (f.reg != reg || (write ? !f.onWrite : !f.onRead)) continue;
        int32_t &seen = faultSeen_[static_cast<uint16_t>(i)];
        int32_t index = seen++;
        if (index < f.skip) continue;
        if (f.count >= 0 && index >= f.skip + f.count) continue;
        status = f.status;
        return true;
    }
    return false;
}

int32_t Module::in16(uint16_t reg, uint16_t &value) {
    int32_t status = 0;
    if (failAccess(reg, false, status)) {
        if (logging) log.push_back({reg, 0, false, status});
        return status;
    }
    value = readRegister(reg, Clock::now());
    if (logging) log.push_back({reg, value, false, 0});
    return 0;
}

int32_t Module::out16(uint16_t reg, uint16_t value) {
    int32_t status = 0;
    if (failAccess(reg, true, status)) {
        if (logging) log.push_back({reg, value, true, status});
        return status;
    }
    writeRegister(reg, value, Clock::now());
    if (logging) log.push_back({reg, value, true, 0});
    return 0;
}

int64_t Module::lastWritten(uint16_t reg) const {
    if (reg >= regs_.size() || !written_[reg]) return -1;
    return regs_[reg];
}

uint32_t Module::pair(uint16_t reg) const {
    auto it = halves_.find(reg);
    return it == halves_.end() ? 0 : static_cast<uint32_t>(it->second.first) << 16 | it->second.second;
}

uint16_t Module::readRegister(uint16_t reg, Clock::time_point now) {
    // 32-bit registers are read as two halves, high first; any other access starts over.
    const uint16_t key = static_cast<uint16_t>(reg << 1);
    bool low = wideRegister(reg) && lastReg_ == key && secondHalf_;
    lastReg_ = key;
    secondHalf_ = wideRegister(reg) && !low;

    if (!isTarq()) return reg == 0x02 ? spec.type : regs_[reg];
    switch (reg) {
    case 0x02:
        return static_cast<uint16_t>(faults.idOverride >= 0 ? faults.idOverride : 0x49);
    case 0x04: {
        int version = faults.versionOverride >= 0 ? faults.versionOverride : spec.hardwareVersion;
        return static_cast<uint16_t>((version & 3) << 8 | (regs_[0x04] & 0xFF));
    }
    case 0x06:
        return flash_.readByte(faults);
    case 0x08:
        if (controller_ == 1 && !faults.controllerHangs && now >= controllerReady_)
            controller_ = static_cast<uint16_t>(faults.controllerDoneValue >= 0 ? faults.controllerDoneValue : 2);
        return controller_;
    case 0x0A:
        return static_cast<uint16_t>((control_ & 0xFFFE) | (acq_.running(now) ? 1 : 0));
    case 0x14:
        return static_cast<uint16_t>(regs_[0x14] ^ faults.eventReadbackXor);
    case 0x20: {
        if (now >= commandBitsClear_) commandBits_ &= faults.stuckCommandBits;
        uint16_t v = static_cast<uint16_t>((regs_[0x20] & ~0x0340) | commandBits_);
        return referenceLocked(now) ? static_cast<uint16_t>(v | 0x40) : v;
    }
    case 0x2C: {
        pumpWrites(now);
        bool busy = (readPrepared_ && burstLeft_ > 0) ||
                    (writePrepared_ && (commitLeft_ > 0 || now < writeBusyUntil_));
        return static_cast<uint16_t>((regs_[0x2C] & ~0x10) | (busy ? 0x10 : 0));
    }
    case 0x32: {
        if (!low) {
            // The ring position of the unit just before the trigger of the selected packet.
            uint32_t held = 0;
            if (acq_.valid) {
                const uint32_t q = regs_[0x30];
                const uint64_t units = acq_.samples / 8;
                const PacketTiming *t = acq_.timing(q);
                if (t && units > 0) {
                    const uint32_t base = static_cast<uint32_t>(static_cast<uint64_t>(q) * acq_.regionWords() / 8);
                    held = base + static_cast<uint32_t>((t->triggerUnit + units - 1) % units);
                }
            }
            triggerHeld_ = held;
        }
        return static_cast<uint16_t>(low ? triggerHeld_ & 0xFFFF : triggerHeld_ >> 16);
    }
    case 0x34:
        if (faults.adcPortBusy) return adcBusyCommand_ ? adcBusyCommand_ : 1;
        return now < adcReady_ ? adcBusyCommand_ : 0;
    case 0x3E:
        return monitorByte_;
    default:
        if (wideRegister(reg)) {
            uint32_t v = pair(reg);
            return static_cast<uint16_t>(low ? v & 0xFFFF : v >> 16);
        }
        return regs_[reg];
    }
}

void Module::writeRegister(uint16_t reg, uint16_t value, Clock::time_point now) {
    const uint16_t key = static_cast<uint16_t>(reg << 1 | 1);
    bool low = wideRegister(reg) && lastReg_ == key && secondHalf_;
    lastReg_ = key;
    secondHalf_ = wideRegister(reg) && !low;
    written_[reg] = true;

    if (wideRegister(reg)) {
        auto &h = halves_[reg];
        (low ? h.second : h.first) = value;
        regs_[reg] = value;
        return;
    }
    if (!isTarq()) {
        regs_[reg] = value;
        return;
    }
    switch (reg) {
    case 0x04: {
        bool was = regs_[0x04] & 1;
        regs_[0x04] = value & 0xFF;
        if (was != static_cast<bool>(value & 1)) flash_.select(value & 1, faults);
        return;
    }
    case 0x06:
        regs_[0x06] = value;
        flash_.writeByte(static_cast<uint8_t>(value), faults);
        return;
    case 0x08:
        regs_[0x08] = value;
        if (value == 1) {
            controller_ = 1;
            controllerReady_ = now + kControllerStart;
        } else if (value == 0x10) {
            readRegister(0x08, now); // a start that has finished by now counts
            if (controller_ == 2 || controller_ == 0x8000) controller_ = 0x8000;
        }
        return; // 0x1000 prepares a converter synchronisation: nothing to show
    case 0x0A:
        if (value == 0x81) {
            arm(now);
        } else {
            acq_.stop(now);
        }
        control_ = value;
        regs_[0x0A] = value;
        bench_.wiringChanged(); // 0xC0 drives the reference out on the synchronisation connector
        return;
    case 0x0C:
        regs_[0x0C] = value;
        bench_.wiringChanged(); // the reference source decides what "ОЧ" carries and what must lock
        return;
    case 0x14:
        regs_[0x14] = value;
        if (value & 1) acq_.force(now);
        return;
    case 0x20:
        if (now >= commandBitsClear_) commandBits_ &= faults.stuckCommandBits;
        regs_[0x20] = static_cast<uint16_t>(value & ~0x0340);
        if (value & 0x0300) {
            commandBits_ |= value & 0x0300;
            commandBitsClear_ = now + kCommandBit;
        }
        return;
    case 0x2C:
        regs_[0x2C] = value;
        switch (value) {
        case 5:
            readPrepared_ = true;
            readAddress_ = static_cast<uint64_t>(pair(0x1C)) * 8;
            burstLeft_ = 0;
            break;
        case 0x8001:
            if (readPrepared_) burstLeft_ += (static_cast<uint64_t>(regs_[0x2A]) + 1) * 256;
            break;
        case 8:
            writePrepared_ = true;
            writeAddress_ = static_cast<uint64_t>(pair(0x1C)) * 8;
            commitLeft_ = 0;
            break;
        case 0x8002:
            if (writePrepared_) commitLeft_ += (static_cast<uint64_t>(regs_[0x2A]) + 1) * 64;
            pumpWrites(now);
            break;
        case 0x8000:
            if (writePrepared_) {
                pumpWrites(now);
                // Ending a write stores a final partial block too, so runs of any length arrive whole.
                if (streamRunning[1] && !faults.writeStreamStalls && queue_.size() > queueHead_) {
                    uint32_t n = static_cast<uint32_t>(queue_.size() - queueHead_);
                    memory_.write(writeAddress_, n, queue_.data() + queueHead_);
                    writeAddress_ += n;
                    queueHead_ = queue_.size();
                }
            }
            readPrepared_ = writePrepared_ = false;
            burstLeft_ = commitLeft_ = 0;
            break;
        default:
            break;
        }
        return;
    case 0x34:
        regs_[0x34] = value;
        adcCommand(value, now);
        return;
    case 0x3E:
        regs_[0x3E] = value;
        if (value & 0x100) {
            // Temperature words: 1/32 degree per step from bit 3 on, i.e. degrees x 256.
            auto word = [](double t) {
                long v = std::lround(std::clamp(t, -255.0, 255.0) * 32.0) * 8;
                return static_cast<uint16_t>(v & 0xFFFF);
            };
            const uint16_t w1 = word(temperature[0]), w2 = word(temperature[1]);
            switch (value & 0xFF) {
            case 0x01: monitorByte_ = w1 >> 8; break;
            case 0x10: monitorByte_ = w1 & 0xFF; break;
            case 0x00: monitorByte_ = w2 >> 8; break;
            case 0x30: monitorByte_ = w2 & 0xFF; break;
            default: monitorByte_ = 0; break;
            }
        }
        return;
    default:
        regs_[reg] = value;
        return;
    }
}

void Module::adcCommand(uint16_t command, Clock::time_point now) {
    const uint16_t address = regs_[0x26];
    switch (command) {
    case 1:
        if (address < adc_.size() && address != 0x004) adc_[address] = static_cast<uint8_t>(regs_[0x28]);
        break;
    case 8:
        regs_[0x28] = address < adc_.size() ? adc_[address] : 0;
        break;
    case 2:
        adcResetValues();
        break;
    case 4:
        // The module's automatic settings: full bandwidth, the lower-band buffer, NSR and VDR tuned to
        // the middle of their ranges.
        adc_[0x018] = 0x20;
        adc_[0x200] = 0x00;
        adc_[0x422] = 21;
        adc_[0x430] = 1;
        adc_[0x434] = 4;
        break;
    default:
        break; // 0x80 applies the gain register: nothing the model has to do
    }
    adcBusyCommand_ = command ? command : 1;
    adcReady_ = now + kAdcBusy;
}

void Module::arm(Clock::time_point now) {
    Acquisition a;
    a.valid = true;
    a.packets = static_cast<uint32_t>(regs_[0x16]) + 1;
    const uint64_t samples = (static_cast<uint64_t>(pair(0x1A)) + 1) * 8;
    a.samples = static_cast<uint32_t>(std::min<uint64_t>(samples, 0xFFFFFFF8u));
    a.pages = regs_[0x18];
    a.preUnits = pair(0x2E) + 1; // presamples / 8; 0 when the raw length is all ones
    a.source = (regs_[0x0C] >> 2) & 7;
    a.slope = (regs_[0x0C] >> 5) & 1;
    a.level = static_cast<int16_t>(regs_[0x12]);
    a.syncTrigger = syncTrigger;
    a.carrierTrigger = carrierTrigger;
    a.timeFactor = bench_.spec.timeFactor;
    a.start = now;
    const uint64_t key = mix(seed_ + ++acquisitions_);
    a.origin = key & ((1ull << 40) - 1);

    ChannelSignal ch[2];
    for (int c = 0; c < 2; ++c) {
        const SignalAtConnector in = bench_.signalInto(resource + "/" + std::to_string(spec.position) +
                                                       (c == 0 ? "/КН1" : "/КН2"));
        const uint8_t code = static_cast<uint8_t>(c == 0 ? regs_[0x38] >> 8 : regs_[0x38] & 0xFF);
        // Gain bytes are the attenuation in quarter decibels below +20 dB; version 0 has no control.
        const double gainDb = spec.hardwareVersion == 0 ? 0.0 : 20.0 - 0.25 * code;
        const double g = std::pow(10.0, gainDb / 20.0);
        int k = 0;
        for (const auto &s : in.sines) {
            Tone t;
            t.cyclesPerSample = s.frequencyHz * kSamplePeriod;
            t.phaseCycles = 0.5 * (unit(key * 31 + static_cast<uint64_t>(c * 16 + k++)) + 1.0);
            t.amplitudeCodes = s.peakVolts * g * response(spec.serial, c, s.frequencyHz) / kLsbVolts;
            ch[c].tones.push_back(t);
        }
        ch[c].dcCodes = (in.dcVolts * g * response(spec.serial, c, 0.0) + offsetVolts(spec.serial, c)) / kLsbVolts;
        ch[c].noiseRms = kNoiseRms;
    }
    a.generator.setup(ch[0], ch[1], adc_[0x550] & 0x0F, key);
    a.start = Clock::now(); // the module runs once it is set up
    const uint64_t region = a.regionWords();
    for (uint32_t p = 0; p < a.packets; ++p) memory_.forget(p * region, p * region + a.samples);
    acq_ = std::move(a);
}

void Module::wiringChanged() {
    const auto now = Clock::now();
    bool condition = true;
    if (((regs_[0x0C] >> 6) & 3) >= 2)
        condition = bench_.signalInto(resource + "/" + std::to_string(spec.position) + "/ОЧ").carriesReference();
    if (condition && !lockCondition_) lockSince_ = now;
    lockCondition_ = condition;
}

bool Module::referenceLocked(Clock::time_point now) {
    if (faults.referenceNeverLocks || !lockCondition_) return false;
    const bool external = ((regs_[0x0C] >> 6) & 3) >= 2;
    return now - lockSince_ >= (external ? kExternalLock : kInternalLock);
}

SignalAtConnector Module::output(const std::string &connector) const {
    SignalAtConnector out;
    const double peak = std::sqrt(2.0) * kZeroDbmVrms * std::pow(10.0, kReferenceDbm / 20.0);
    if (!isTarq()) return out;
    if (connector == "ОЧ" && ((regs_[0x0C] >> 6) & 3) == 1) out.sines.push_back({kReferenceHz, peak});
    if (connector == "СИНХР" && control_ == 0xC0) out.sines.push_back({kReferenceHz, peak});
    return out;
}

// --- streams -------------------------------------------------------------------------------------

void Module::pumpWrites(Clock::time_point now) {
    if (!writePrepared_ || !streamRunning[1] || faults.writeStreamStalls || commitLeft_ == 0) return;
    const uint64_t queued = queue_.size() - queueHead_;
    const uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(commitLeft_, queued));
    if (n == 0) return;
    memory_.write(writeAddress_, n, queue_.data() + queueHead_);
    writeAddress_ += n;
    commitLeft_ -= n;
    queueHead_ += n;
    if (queueHead_ == queue_.size()) {
        queue_.clear();
        queueHead_ = 0;
    }
    auto duration = std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(n / kWriteWordsPerSecond));
    writeBusyUntil_ = std::max(now, writeBusyUntil_) + duration;
}

int32_t Module::readStream(uint32_t words, uint32_t *buffer, uint32_t &got) {
    got = 0;
    if (faults.readStreamStatus != 0) return faults.readStreamStatus;
    if (streamSize[0] == 0) return NEXHOST_ERROR_NOT_ALLOCATED;
    if (!streamRunning[0] || faults.readStreamStalls || !readPrepared_ || words == 0) return 0;
    const uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(words, burstLeft_));
    memory_.read(acq_, readAddress_, n, buffer, faults);
    readAddress_ += n;
    burstLeft_ -= n;
    got = n;
    return 0;
}

int32_t Module::writeStream(uint32_t words, const uint32_t *buffer, uint32_t &put) {
    put = 0;
    if (streamSize[1] == 0) return NEXHOST_ERROR_NOT_ALLOCATED;
    const uint32_t n = std::min(words, streamFree());
    queue_.insert(queue_.end(), buffer, buffer + n);
    put = n;
    pumpWrites(Clock::now());
    return 0;
}

uint32_t Module::streamFree() const {
    const uint64_t queued = queue_.size() - queueHead_;
    return queued >= streamSize[1] ? 0 : static_cast<uint32_t>(streamSize[1] - queued);
}

uint32_t Module::streamReady() const {
    if (!streamRunning[0] || !readPrepared_ || faults.readStreamStalls) return 0;
    return static_cast<uint32_t>(std::min<uint64_t>(burstLeft_, streamSize[0]));
}

void Module::stopStream(int stream) {
    if (stream == 0 || stream == 2) streamRunning[0] = false;
    if (stream == 1 || stream == 2) {
        streamRunning[1] = false;
        queue_.clear();
        queueHead_ = 0;
    }
}

void Module::startStream(int stream) {
    if (stream == 0 || stream == 2) streamRunning[0] = true;
    if (stream == 1 || stream == 2) {
        streamRunning[1] = true;
        pumpWrites(Clock::now());
    }
}

void Module::resetStreams() {
    stopStream(2);
    streamSize[0] = streamSize[1] = 0;
}

} // namespace tarq::bench::model
