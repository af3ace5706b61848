// The coefficient flash: a serial NOR part behind registers 0x04 (bit 0 selects it) and 0x06 (one
// byte shifted per access, least significant bit first), and the coefficient block at 0x7F0000.
#include "internal.h"

#include <algorithm>
#include <bit>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <new>
#include <vector>

static_assert(std::endian::native == std::endian::little, "the coefficient block is little-endian doubles");

namespace nextarq {
namespace {

// Command bytes as they are written: the shift register reverses their bit order on the way.
constexpr uint8_t kWriteEnable = 0x60;
constexpr uint8_t kWriteDisable = 0x20;
constexpr uint8_t kWriteStatus = 0x80;
constexpr uint8_t kReadStatus = 0xA0;
constexpr uint8_t kEraseSector = 0x1B;
constexpr uint8_t kProgramPage = 0x40;
constexpr uint8_t kRead = 0xC0;

constexpr uint8_t kBusy = 0x80;
constexpr uint8_t kWriteEnabled = 0x40;
constexpr uint8_t kProtection = 0x38;

constexpr uint32_t kSector = 0x10000;
constexpr uint32_t kPage = 256;
constexpr uint32_t kBlockExtra = 25; // serial (4), date text (20), checksum (1)
constexpr uint32_t kInfoSize = NEXTARQ_COEFFICIENT_SIZE + kBlockExtra;

constexpr double kShortWait = 0.005;
constexpr double kEraseWait = 3.0;

uint8_t reversed(uint8_t b) {
    b = static_cast<uint8_t>((b & 0xF0) >> 4 | (b & 0x0F) << 4);
    b = static_cast<uint8_t>((b & 0xCC) >> 2 | (b & 0x33) << 2);
    return static_cast<uint8_t>((b & 0xAA) >> 1 | (b & 0x55) << 1);
}

class Flash {
  public:
    explicit Flash(uint32_t vi) : vi_(vi) {}

    int32_t select() {
        uint16_t v = 0;
        int32_t status = rd(vi_, kRegVersion, v);
        if (status < 0) return status;
        status = wr(vi_, kRegVersion, static_cast<uint16_t>(v & ~1u));
        if (status < 0) return status;
        return wr(vi_, kRegVersion, static_cast<uint16_t>(v | 1u));
    }
    int32_t deselect() {
        uint16_t v = 0;
        int32_t status = rd(vi_, kRegVersion, v);
        if (status < 0) return status;
        return wr(vi_, kRegVersion, static_cast<uint16_t>(v & ~1u));
    }
    int32_t send(uint8_t b) { return wr(vi_, kRegFlashData, b); }
    int32_t receive(uint8_t &b) {
        uint16_t v = 0;
        int32_t status = rd(vi_, kRegFlashData, v);
        if (status >= 0) b = static_cast<uint8_t>(v & 0xFF);
        return status;
    }
    // Address bytes: most significant first, each bit-reversed.
    int32_t sendAddress(uint32_t a) {
        for (int shift = 16; shift >= 0; shift -= 8) {
            int32_t status = send(reversed(static_cast<uint8_t>(a >> shift)));
            if (status < 0) return status;
        }
        return 0;
    }
    // A command byte alone in its own selection.
    int32_t command(uint8_t c) {
        int32_t status = select();
        if (status >= 0) status = send(c);
        if (status >= 0) status = deselect();
        return status;
    }
    int32_t status(uint8_t &value) {
        int32_t status = select();
        if (status >= 0) status = send(kReadStatus);
        if (status >= 0) status = receive(value);
        if (status >= 0) status = deselect();
        return status;
    }
    // Polls the status until (status & mask) == 0; `timeout` when the time runs out first.
    int32_t waitClear(uint8_t mask, double seconds, int32_t timeout, uint8_t *last = nullptr) {
        Stopwatch clock;
        for (;;) {
            const bool late = clock.seconds() > seconds;
            uint8_t s = 0;
            int32_t st = status(s);
            if (st < 0) return st;
            if (last) *last = s;
            if (!(s & mask)) return st;
            if (late) return timeout;
        }
    }

    // Before every block transfer: no write in progress, writes disabled, protection cleared.
    int32_t prepare() {
        uint8_t s = 0;
        const int32_t first = status(s);
        if (first < 0) return first;
        Stopwatch clock;
        for (;;) {
            const bool late = clock.seconds() > kShortWait;
            int32_t st = command(kWriteDisable);
            if (st >= 0) st = status(s);
            if (st < 0) return st;
            if (s < kWriteEnabled) break;
            if (late) return -1;
        }
        int32_t st = status(s);
        if (st < 0) return st;
        if (s & kProtection) {
            st = command(kWriteEnable);
            if (st >= 0) st = select();
            if (st >= 0) st = send(kWriteStatus);
            if (st >= 0) st = send(0x00);
            if (st >= 0) st = deselect();
            if (st < 0) return st;
            st = waitClear(kBusy, kShortWait, -1);
            if (st < 0) return st;
            st = status(s);
            if (st < 0) return st;
            if (s & kProtection) return -1;
        }
        return first;
    }

    int32_t readBlock(uint32_t address, uint8_t *out, uint32_t n) {
        const int32_t prepared = prepare();
        if (prepared < 0) return prepared;
        // Bytes that do not arrive stay zero and fail the checksum.
        std::fill(out, out + n, uint8_t{0});
        int32_t st = select();
        if (st >= 0) st = send(kRead);
        if (st >= 0) st = sendAddress(address);
        for (uint32_t i = 0; st >= 0 && i < n; ++i) st = receive(out[i]);
        deselect();
        st = waitClear(kBusy, kShortWait, NEXTARQ_ERROR_FLASH_READ_TIMEOUT);
        if (st < 0) return st;
        return prepared;
    }

    int32_t writeBlock(uint32_t address, const uint8_t *in, uint32_t n) {
        const int32_t prepared = prepare();
        if (prepared < 0) return prepared;
        const uint64_t end = static_cast<uint64_t>(address) + n;
        for (uint64_t sector = address; sector < end; sector += kSector) {
            int32_t st = command(kWriteEnable);
            if (st >= 0) st = select();
            if (st >= 0) st = send(kEraseSector);
            if (st >= 0) st = sendAddress(static_cast<uint32_t>(sector));
            if (st >= 0) st = deselect();
            if (st < 0) return st;
            st = waitClear(kBusy, kEraseWait, NEXTARQ_ERROR_FLASH_ERASE_TIMEOUT);
            if (st < 0) return st;
        }
        for (uint32_t offset = 0; offset < n; offset += kPage) {
            const uint32_t count = std::min(kPage, n - offset);
            int32_t st = command(kWriteEnable);
            if (st >= 0) st = select();
            if (st >= 0) st = send(kProgramPage);
            if (st >= 0) st = sendAddress(address + offset);
            for (uint32_t i = 0; st >= 0 && i < count; ++i) st = send(in[offset + i]);
            if (st >= 0) st = deselect();
            if (st < 0) return st;
            st = waitClear(kBusy, kShortWait, NEXTARQ_ERROR_FLASH_PROGRAM_TIMEOUT);
            if (st < 0) return st;
        }
        return prepared;
    }

  private:
    uint32_t vi_;
};

// The flash's own failures (time-outs of the preparation, of programming and reading) and the
// carrier's errors all read as "Ошибка РПЗУ"; the erase time-out and lower codes pass unchanged.
int32_t mapFlashStatus(int32_t status) {
    if (status < 0 && status > NEXTARQ_ERROR_FLASH_ERASE_TIMEOUT) return NEXTARQ_ERROR_FLASH;
    return status;
}

uint8_t checksum(const uint8_t *bytes, size_t n) {
    unsigned sum = 0;
    for (size_t i = 0; i < n; ++i) sum += bytes[i];
    return static_cast<uint8_t>(sum);
}

// "MM-DD-YYYY HH:MM:SS" of the local time, zero-padded to 20 bytes (numbers only: no locale involved).
void dateText(std::time_t when, char out[NEXTARQ_COEFFICIENT_DATE_SIZE]) {
    std::tm t{};
    localtime_r(&when, &t);
    char text[64];
    std::snprintf(text, sizeof text, "%02d-%02d-%04d %02d:%02d:%02d", t.tm_mon + 1, t.tm_mday, t.tm_year + 1900,
                  t.tm_hour, t.tm_min, t.tm_sec);
    std::memset(out, 0, NEXTARQ_COEFFICIENT_DATE_SIZE);
    std::memcpy(out, text, std::min<size_t>(std::strlen(text), NEXTARQ_COEFFICIENT_DATE_SIZE - 1));
}

} // namespace

int32_t flashReadBlock(uint32_t vi, uint32_t address, uint8_t *out, uint32_t n) {
    return Flash(vi).readBlock(address, out, n);
}

int32_t flashWriteBlock(uint32_t vi, uint32_t address, const uint8_t *in, uint32_t n) {
    return Flash(vi).writeBlock(address, in, n);
}

} // namespace nextarq

using namespace nextarq;

extern "C" {

NEXTARQ_API int32_t nextarq_readCoefficients(uint32_t vi, int16_t flags, void *data, uint32_t size) {
    Record *r = nullptr;
    int32_t status = fetchRecord(vi, r);
    if (status < 0) return status;
    if (!data) return NEXTARQ_ERROR_PARAMETER3;
    // The caller's array and the record's table hold at most 320 bytes.
    if (size < 1 || size > NEXTARQ_COEFFICIENT_SIZE) return NEXTARQ_ERROR_PARAMETER4;
    std::vector<uint8_t> block;
    try {
        block.resize(size + kBlockExtra);
    } catch (const std::bad_alloc &) {
        return NEXTARQ_ERROR_ALLOC;
    }
    status = flashReadBlock(vi, NEXTARQ_COEFFICIENT_ADDRESS, block.data(), size + kBlockExtra);
    bool valid = false;
    if (status >= 0) {
        std::memmove(data, block.data(), size);
        const uint8_t stored = block[size + kBlockExtra - 1];
        valid = stored != 0 && checksum(block.data(), size + kBlockExtra - 1) == stored;
        // Reading is 1 (into data) or 3 (also into the record); no other value touches the record.
        if (valid && flags == 3) std::memmove(r->coefficients, data, size);
    }
    if (!valid) {
        setDefaultCoefficients(*r);
        std::memmove(data, r->coefficients, size);
        return NEXTARQ_ERROR_FLASH;
    }
    return status;
}

NEXTARQ_API int32_t nextarq_writeCoefficients(uint32_t vi, int16_t flags, const void *data, uint32_t size,
                                              uint32_t serial) {
    Record *r = nullptr;
    int32_t status = fetchRecord(vi, r);
    if (status < 0) return status;
    if (!data) return NEXTARQ_ERROR_PARAMETER3;
    if (size < 1 || size > NEXTARQ_COEFFICIENT_SIZE) return NEXTARQ_ERROR_PARAMETER4;
    const std::time_t now = std::time(nullptr);
    char date[NEXTARQ_COEFFICIENT_DATE_SIZE];
    dateText(now, date);
    if (flags & 1) {
        std::vector<uint8_t> block;
        try {
            block.resize(size + kBlockExtra);
        } catch (const std::bad_alloc &) {
            return NEXTARQ_ERROR_ALLOC;
        }
        std::memcpy(block.data(), data, size);
        for (int i = 0; i < 4; ++i) block[size + i] = static_cast<uint8_t>(serial >> (8 * i));
        // A checksum of 0 marks a block as invalid, so a block that sums to 0 would be lost on the
        // next read: its time stamp moves on by a second until the sum is not 0.
        for (std::time_t stamp = now;; ++stamp) {
            if (stamp != now) dateText(stamp, date);
            std::memcpy(block.data() + size + 4, date, NEXTARQ_COEFFICIENT_DATE_SIZE);
            block[size + kBlockExtra - 1] = checksum(block.data(), size + kBlockExtra - 1);
            if (block[size + kBlockExtra - 1] != 0) break;
        }
        status = mapFlashStatus(flashWriteBlock(vi, NEXTARQ_COEFFICIENT_ADDRESS, block.data(), size + kBlockExtra));
        if (status < 0) return status;
    }
    if (flags & 2) std::memmove(r->coefficients, data, size);
    return status;
}

NEXTARQ_API int32_t nextarq_readCoefficientInfo(uint32_t vi, char date[20], uint32_t *serial) {
    Record *r = nullptr;
    int32_t status = fetchRecord(vi, r);
    if (status < 0) return status;
    if (!date) return NEXTARQ_ERROR_PARAMETER2;
    if (!serial) return NEXTARQ_ERROR_PARAMETER3;
    uint8_t block[kInfoSize];
    status = mapFlashStatus(flashReadBlock(vi, NEXTARQ_COEFFICIENT_ADDRESS, block, kInfoSize));
    if (status < 0) {
        date[0] = '\0';
        *serial = 0;
        return status;
    }
    const uint8_t *s = block + NEXTARQ_COEFFICIENT_SIZE;
    *serial = static_cast<uint32_t>(s[0]) | static_cast<uint32_t>(s[1]) << 8 | static_cast<uint32_t>(s[2]) << 16 |
              static_cast<uint32_t>(s[3]) << 24;
    std::memcpy(date, block + NEXTARQ_COEFFICIENT_SIZE + 4, NEXTARQ_COEFFICIENT_DATE_SIZE);
    // An erased or foreign block has no terminating zero: the text ends within the 20 characters.
    date[NEXTARQ_COEFFICIENT_DATE_SIZE - 1] = '\0';
    return status;
}

} // extern "C"
