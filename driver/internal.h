// Inside the driver: the session record, its lookup, register helpers and bounded waits.
#pragma once

#include "nextarq.h"
#include "nexhost.h"

#include <chrono>
#include <cmath>
#include <cstdint>
#include <limits>

namespace nextarq {

constexpr uint32_t kMagic = 73;
constexpr uint16_t kFlagConnected = 0x2;

// Module registers.
enum Register : uint16_t {
    kRegId = 0x02,
    kRegVersion = 0x04, // bits 8 and 9 hardware version; bit 0 selects the coefficient flash
    kRegFlashData = 0x06,
    kRegController = 0x08,
    kRegControl = 0x0A,
    kRegTrigger = 0x0C,
    kRegTriggerLevel = 0x12,
    kRegEvent = 0x14,
    kRegPackets = 0x16,
    kRegPages = 0x18,
    kRegLength = 0x1A,
    kRegAddress = 0x1C,
    kRegCommand = 0x20,
    kRegAdcAddress = 0x26,
    kRegAdcData = 0x28,
    kRegBlocks = 0x2A,
    kRegTransfer = 0x2C,
    kRegPretrigger = 0x2E,
    kRegPacketSelect = 0x30,
    kRegTriggerPosition = 0x32,
    kRegAdcCommand = 0x34,
    kRegGain = 0x38,
    kRegMonitor = 0x3E,
};

constexpr uint16_t kControlStop = 0x80;
constexpr uint16_t kControlStart = 0x81;

struct ChannelCoefficients {
    double gain[NEXTARQ_BANDS];
    double offset[NEXTARQ_BANDS];
};

// The driver session record. The calibration and the tables of the panels rely on the coefficient
// layout (channel 1 first, gains before offsets), which is also the layout of the flash block.
struct Record {
    uint32_t magic;
    uint32_t moduleSession;
    uint32_t instrumentSession;
    uint32_t carrierSession;
    uint32_t position;
    uint16_t flags;
    uint32_t outputStreamSize;
    uint32_t inputStreamSize;
    double triggerLevel;
    int16_t band;
    int16_t hardwareVersion;
    ChannelCoefficients coefficients[2];
};
static_assert(sizeof(ChannelCoefficients) * 2 == NEXTARQ_COEFFICIENT_SIZE);

// Records live in a table of the driver: a handle whose attribute names anything else (a freed
// record, a foreign pointer) is refused instead of being followed.
Record *createRecord(uint32_t resourceManager);
void destroyRecord(Record *record);
Record *knownRecord(uintptr_t value);
uint32_t resourceManagerOf(const Record *record);

// The record of a connected session (attribute 0x3FFF0808): 0xBFFF003A when missing, 0xBFFC0800 for a
// record that is not one of ours or has lost its magic.
int32_t fetchRecord(uint32_t vi, Record *&record);
// The record attached to the VISA session's user data (before and during the connection).
int32_t fetchVisaRecord(uint32_t vi, Record *&record);

void setDefaultCoefficients(Record &record);

// Register access.
inline int32_t rd(uint32_t vi, uint16_t reg, uint16_t &value) { return nexhost_m_in16(vi, reg, &value); }
inline int32_t wr(uint32_t vi, uint16_t reg, uint16_t value) { return nexhost_m_out16(vi, reg, value); }
// 32-bit registers: two accesses, high half first.
int32_t wr32(uint32_t vi, uint16_t reg, uint32_t value);
int32_t rd32(uint32_t vi, uint16_t reg, uint32_t &value);

// Wall-clock waits on the monotonic clock.
class Stopwatch {
  public:
    Stopwatch() : start_(std::chrono::steady_clock::now()) {}
    double seconds() const {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    }
    void restart() { start_ = std::chrono::steady_clock::now(); }

  private:
    std::chrono::steady_clock::time_point start_;
};
void pause(double seconds);

// Issues a self-clearing command bit and waits for it to clear (0xBFFF0015 after `seconds`).
int32_t commandBit(uint32_t vi, uint16_t reg, uint16_t mask, double seconds);
// Register 0x08 = 0x1000, then command bit 0x200 of register 0x20.
int32_t synchroniseConverter(uint32_t vi);

// ADC port without the record check, for callers that have done it.
int32_t adcCommandUnchecked(uint32_t vi, uint16_t command);
int32_t adcWriteUnchecked(uint32_t vi, uint16_t address, uint8_t data);
int32_t adcReadUnchecked(uint32_t vi, uint16_t address, uint8_t &data);

// Coefficient memory block transfers (raw flash statuses, before mapping).
int32_t flashReadBlock(uint32_t vi, uint32_t address, uint8_t *out, uint32_t n);
int32_t flashWriteBlock(uint32_t vi, uint32_t address, const uint8_t *in, uint32_t n);

// A double that is NaN or infinite fails every range check.
inline bool inRange(double v, double lo, double hi) { return std::isfinite(v) && v >= lo && v <= hi; }

// Truncation towards zero into int16_t, saturating (NaN gives 0).
inline int16_t saturateToInt16(double v) {
    if (std::isnan(v)) return 0;
    if (v >= 32767.0) return 32767;
    if (v <= -32768.0) return -32768;
    return static_cast<int16_t>(v);
}

} // namespace nextarq
