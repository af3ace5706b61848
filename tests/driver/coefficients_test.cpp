// The coefficient flash: block layout, checksum rules, defaults, info read, argument checks and the
// flash's time-outs.
#include "driver_fixture.h"

#include <cctype>
#include <ctime>

using namespace tarq;
using test::DriverTest;

namespace {

// Bytes written to register 0x06 per selection of the flash (register 0x04 bit 0 set ... cleared).
std::vector<std::vector<uint8_t>> transactions(const std::vector<bench::RegisterAccess> &log) {
    std::vector<std::vector<uint8_t>> out;
    bool selected = false;
    for (const auto &a : log) {
        if (!a.write || a.status != 0) continue;
        if (a.reg == 0x04) {
            bool on = a.value & 1;
            if (on && !selected) out.emplace_back();
            selected = on;
        } else if (a.reg == 0x06 && selected) {
            out.back().push_back(static_cast<uint8_t>(a.value));
        }
    }
    return out;
}

std::vector<uint8_t> pattern(uint32_t size, uint8_t seed) {
    std::vector<uint8_t> bytes(size);
    for (uint32_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(seed + i * 7);
    return bytes;
}

std::vector<uint8_t> defaults(uint32_t size) {
    double table[40];
    for (int i = 0; i < 40; ++i) table[i] = (i % 20) < 10 ? 1.0 : 0.0;
    const auto *p = reinterpret_cast<const uint8_t *>(table);
    return std::vector<uint8_t>(p, p + size);
}

uint8_t sum(const std::vector<uint8_t> &b, size_t n) {
    unsigned s = 0;
    for (size_t i = 0; i < n; ++i) s += b[i];
    return static_cast<uint8_t>(s);
}

class Coefficients : public DriverTest {
  protected:
    std::vector<uint8_t> flash(uint32_t n = 345) { return bench::flashContent(ref, 0x7F0000, n); }
    // Sets the flash's block protection bits again (the connection cleared them).
    void protect() {
        auto select = [&] {
            uint16_t v = 0;
            nexhost_m_in16(vi, 0x04, &v);
            nexhost_m_out16(vi, 0x04, v & ~1);
            nexhost_m_out16(vi, 0x04, v | 1);
        };
        auto deselect = [&] {
            uint16_t v = 0;
            nexhost_m_in16(vi, 0x04, &v);
            nexhost_m_out16(vi, 0x04, v & ~1);
        };
        select();
        nexhost_m_out16(vi, 0x06, 0x60);
        deselect();
        select();
        nexhost_m_out16(vi, 0x06, 0x80);
        nexhost_m_out16(vi, 0x06, 0x38); // protection bits, as they travel bit-reversed
        deselect();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        select();
        nexhost_m_out16(vi, 0x06, 0xA0);
        uint16_t status = 0;
        nexhost_m_in16(vi, 0x06, &status);
        deselect();
        ASSERT_EQ(status & 0x38, 0x38);
    }
    // The level code of a 0 dBm channel-1 trigger in band 2: shows the record's coefficients.
    int16_t levelCode() {
        EXPECT_EQ(nextarq_configTrigger(vi, 1, 0, 0.0), 0);
        return static_cast<int16_t>(reg(0x12));
    }
};

TEST_F(Coefficients, ConnectionReadsTheFactoryBlock) {
    const auto factory = bench::factoryBlock(1001);
    double gain;
    std::memcpy(&gain, &factory[2 * 8], 8); // channel 1, band 2
    double offset;
    std::memcpy(&offset, &factory[(10 + 2) * 8], 8);
    EXPECT_EQ(levelCode(), static_cast<int16_t>((0.2236 - offset) * 16383.0 / (2.06 * gain)));
    char date[20];
    uint32_t serial = 0;
    ASSERT_EQ(nextarq_readCoefficientInfo(vi, date, &serial), 0);
    EXPECT_EQ(serial, 1001u);
    EXPECT_STREQ(date, "01-15-2026 10:00:00");
    std::vector<uint8_t> data(320);
    ASSERT_EQ(nextarq_readCoefficients(vi, 1, data.data(), 320), 0);
    EXPECT_TRUE(std::equal(data.begin(), data.end(), factory.begin()));
}

TEST_F(Coefficients, WriteThenReadRoundTrip) {
    const auto data = pattern(320, 3);
    startLog();
    ASSERT_EQ(nextarq_writeCoefficients(vi, 1, data.data(), 320, 0xA1B2C3D4), 0);
    auto t = transactions(log());
    // One sector erase at 0x7F0000 (address bytes bit-reversed: 0xFE 0x00 0x00), then two pages.
    std::vector<std::vector<uint8_t>> erases, programs;
    for (const auto &x : t) {
        if (!x.empty() && x[0] == 0x1B) erases.push_back(x);
        if (!x.empty() && x[0] == 0x40) programs.push_back(x);
    }
    ASSERT_EQ(erases.size(), 1u);
    EXPECT_EQ(erases[0], (std::vector<uint8_t>{0x1B, 0xFE, 0x00, 0x00}));
    ASSERT_EQ(programs.size(), 2u);
    EXPECT_EQ(programs[0].size(), 4u + 256u);
    EXPECT_EQ(programs[1].size(), 4u + 89u);
    EXPECT_EQ(std::vector<uint8_t>(programs[0].begin() + 1, programs[0].begin() + 4),
              (std::vector<uint8_t>{0xFE, 0x00, 0x00}));
    EXPECT_EQ(std::vector<uint8_t>(programs[1].begin() + 1, programs[1].begin() + 4),
              (std::vector<uint8_t>{0xFE, 0x80, 0x00})) << "0x7F0100";
    // Every erase and program is preceded by a write enable.
    for (size_t i = 0; i < t.size(); ++i)
        if (!t[i].empty() && (t[i][0] == 0x1B || t[i][0] == 0x40)) {
            ASSERT_GT(i, 0u);
            EXPECT_EQ(t[i - 1], std::vector<uint8_t>{0x60});
        }

    const auto block = flash();
    EXPECT_TRUE(std::equal(data.begin(), data.end(), block.begin()));
    EXPECT_EQ(block[320] | block[321] << 8 | block[322] << 16 | static_cast<uint32_t>(block[323]) << 24, 0xA1B2C3D4u);
    EXPECT_EQ(block[344], sum(block, 344));
    EXPECT_NE(block[344], 0);

    std::vector<uint8_t> back(320);
    ASSERT_EQ(nextarq_readCoefficients(vi, 1, back.data(), 320), 0);
    EXPECT_EQ(back, data);
    char date[20];
    uint32_t serial = 0;
    ASSERT_EQ(nextarq_readCoefficientInfo(vi, date, &serial), 0);
    EXPECT_EQ(serial, 0xA1B2C3D4u);
    EXPECT_EQ(std::strlen(date), 19u);
    const std::string shape = "99-99-9999 99:99:99"; // month-day-year hours:minutes:seconds
    for (size_t i = 0; i < shape.size(); ++i)
        EXPECT_TRUE(shape[i] == '9' ? std::isdigit(static_cast<unsigned char>(date[i])) != 0 : date[i] == shape[i])
            << date;
}

TEST_F(Coefficients, FlagsDecideBetweenFlashAndRecord) {
    const int16_t factoryCode = levelCode();
    double table[40];
    for (int i = 0; i < 40; ++i) table[i] = (i % 20) < 10 ? 2.0 : 0.0;
    const auto before = flash();
    ASSERT_EQ(nextarq_writeCoefficients(vi, 2, table, 320, 7), 0);
    EXPECT_EQ(flash(), before) << "flags 2 changes only the record";
    EXPECT_EQ(levelCode(), 889);
    ASSERT_EQ(nextarq_writeCoefficients(vi, 1, defaults(320).data(), 320, 7), 0);
    EXPECT_EQ(levelCode(), 889) << "flags 1 leaves the record";
    std::vector<uint8_t> data(320);
    ASSERT_EQ(nextarq_readCoefficients(vi, 1, data.data(), 320), 0);
    EXPECT_EQ(levelCode(), 889) << "a valid read with flags 1 leaves the record";
    ASSERT_EQ(nextarq_readCoefficients(vi, 2, data.data(), 320), 0);
    EXPECT_EQ(levelCode(), 889) << "only flags 3 copies a read into the record";
    ASSERT_EQ(nextarq_readCoefficients(vi, 3, data.data(), 320), 0);
    EXPECT_EQ(levelCode(), 1778);
    ASSERT_EQ(nextarq_writeCoefficients(vi, 3, table, 320, 7), 0);
    EXPECT_EQ(levelCode(), 889);
    ASSERT_EQ(nextarq_readCoefficients(vi, 3, data.data(), 320), 0);
    EXPECT_EQ(levelCode(), 889);
    (void)factoryCode;
}

TEST_F(Coefficients, InvalidBlocksGiveDefaults) {
    struct Case {
        const char *name;
        std::vector<uint8_t> block;
    };
    auto good = bench::factoryBlock(1001);
    auto wrongSum = good;
    wrongSum[344] ^= 1;
    auto zeroSum = good; // sums to 0 and says so: a checksum of 0 is never valid
    zeroSum[344] = 0;
    zeroSum[343] = static_cast<uint8_t>(zeroSum[343] - sum(zeroSum, 344));
    const Case cases[] = {
        {"all zero", std::vector<uint8_t>(345, 0)},
        {"erased", std::vector<uint8_t>(345, 0xFF)},
        {"checksum mismatch", wrongSum},
        {"checksum 0", zeroSum},
    };
    for (const Case &c : cases) {
        ASSERT_TRUE(bench::setFlashContent(ref, 0x7F0000, c.block));
        ASSERT_EQ(nextarq_writeCoefficients(vi, 2, pattern(320, 9).data(), 320, 0), 0);
        std::vector<uint8_t> data(320, 0xAA);
        EXPECT_EQ(nextarq_readCoefficients(vi, 1, data.data(), 320), NEXTARQ_ERROR_FLASH) << c.name;
        EXPECT_EQ(data, defaults(320)) << c.name;
        EXPECT_EQ(levelCode(), 1778) << c.name << ": the record falls back to the defaults too";
    }
    // A connection to a module with an erased block works with the defaults.
    ASSERT_TRUE(bench::setFlashContent(ref, 0x7F0000, std::vector<uint8_t>(345, 0xFF)));
    ASSERT_EQ(nextarq_connect(vi, nhvi, 1, 1, 1), 0);
    EXPECT_EQ(levelCode(), 1778);
    char date[20];
    uint32_t serial = 0;
    ASSERT_EQ(nextarq_readCoefficientInfo(vi, date, &serial), 0) << "the info read does not check the block";
    EXPECT_EQ(serial, 0xFFFFFFFFu);
    EXPECT_EQ(std::strlen(date), 19u) << "an unterminated text is cut within the 20 characters";
}

TEST_F(Coefficients, SmallerSizesUseTheirOwnLayout) {
    const auto data = pattern(100, 1);
    ASSERT_EQ(nextarq_writeCoefficients(vi, 1, data.data(), 100, 5), 0);
    const auto block = flash(125);
    EXPECT_EQ(block[100], 5);
    EXPECT_EQ(block[124], sum(block, 124));
    std::vector<uint8_t> back(100);
    EXPECT_EQ(nextarq_readCoefficients(vi, 1, back.data(), 100), 0);
    EXPECT_EQ(back, data);
    // Read as a 320-byte block it is invalid; only `size` bytes of the defaults reach the caller.
    std::vector<uint8_t> small(101, 0xAA);
    ASSERT_TRUE(bench::setFlashContent(ref, 0x7F0000, std::vector<uint8_t>(345, 0)));
    EXPECT_EQ(nextarq_readCoefficients(vi, 1, small.data(), 100), NEXTARQ_ERROR_FLASH);
    EXPECT_EQ(std::vector<uint8_t>(small.begin(), small.begin() + 100), defaults(100));
    EXPECT_EQ(small[100], 0xAA) << "nothing past the caller's size";
}

TEST_F(Coefficients, SizeAndPointerChecks) {
    std::vector<uint8_t> data(320);
    const auto before = flash();
    for (uint32_t size : {0u, 321u, 0xFFFFFFFFu, 0xFFFFFFE7u}) {
        EXPECT_EQ(nextarq_readCoefficients(vi, 3, data.data(), size), NEXTARQ_ERROR_PARAMETER4) << size;
        EXPECT_EQ(nextarq_writeCoefficients(vi, 3, data.data(), size, 1), NEXTARQ_ERROR_PARAMETER4) << size;
    }
    EXPECT_EQ(nextarq_readCoefficients(vi, 1, nullptr, 0), NEXTARQ_ERROR_PARAMETER3);
    EXPECT_EQ(nextarq_writeCoefficients(vi, 1, nullptr, 320, 1), NEXTARQ_ERROR_PARAMETER3);
    char date[20];
    uint32_t serial;
    EXPECT_EQ(nextarq_readCoefficientInfo(vi, nullptr, &serial), NEXTARQ_ERROR_PARAMETER2);
    EXPECT_EQ(nextarq_readCoefficientInfo(vi, date, nullptr), NEXTARQ_ERROR_PARAMETER3);
    EXPECT_EQ(flash(), before);
}

TEST_F(Coefficients, FlashFaultsAndTheirStatuses) {
    const auto data = pattern(320, 4);
    char date[20];
    uint32_t serial = 0;
    struct Case {
        const char *name;
        bench::ModuleFaults faults;
        int32_t write, info;
    };
    bench::ModuleFaults busy, erase, program, bus;
    busy.flashBusyStuck = true;
    erase.flashEraseHangs = true;
    program.flashProgramHangs = true;
    bus.registers.push_back(failing(0x06, true, true));
    // The erase time-out passes unchanged; the other flash failures read as "Ошибка РПЗУ".
    const Case cases[] = {
        {"busy", busy, NEXTARQ_ERROR_FLASH, NEXTARQ_ERROR_FLASH},
        {"erase hangs", erase, NEXTARQ_ERROR_FLASH_ERASE_TIMEOUT, 0},
        {"program hangs", program, NEXTARQ_ERROR_FLASH, 0},
        {"bus error", bus, static_cast<int32_t>(0xBFFA000A), static_cast<int32_t>(0xBFFA000A)}, // below 0xBFFC0A00
    };
    for (const Case &c : cases) {
        ASSERT_TRUE(bench::setFlashContent(ref, 0x7F0000, bench::factoryBlock(1001)));
        bench::ModuleFaults f = c.faults;
        const int16_t before = levelCode();
        faults(f);
        if (f.flashProtectionStuck) startLog();
        EXPECT_EQ(nextarq_writeCoefficients(vi, 3, data.data(), 320, 1), c.write) << c.name;
        if (f.flashProtectionStuck) { auto l = log(); for (size_t i = 0; i < 40 && i < l.size(); ++i) printf("%s %02x %04x %d\n", l[i].write ? "W" : "R", l[i].reg, l[i].value, l[i].status); }
        EXPECT_EQ(levelCode(), before) << c.name << ": a failed write skips the copy";
        faults({});
        // A flash left busy by a hung operation stays so for the bench; start clean for the info read.
        ASSERT_TRUE(bench::setFlashContent(ref, 0x7F0000, bench::factoryBlock(1001)));
        faults(f);
        if (c.info != 0 || (!f.flashEraseHangs && !f.flashProgramHangs)) {
            EXPECT_EQ(nextarq_readCoefficientInfo(vi, date, &serial), c.info) << c.name;
        }
        std::vector<uint8_t> back(320, 0xAA);
        if (c.info != 0) {
            EXPECT_EQ(nextarq_readCoefficients(vi, 1, back.data(), 320), NEXTARQ_ERROR_FLASH) << c.name;
            EXPECT_EQ(back, defaults(320)) << c.name;
        }
        faults({});
    }
}

TEST_F(Coefficients, ProtectionThatWillNotClear) {
    protect();
    bench::ModuleFaults f;
    f.flashProtectionStuck = true;
    faults(f);
    const auto before = flash();
    char date[20];
    uint32_t serial = 0;
    EXPECT_EQ(nextarq_readCoefficientInfo(vi, date, &serial), NEXTARQ_ERROR_FLASH);
    EXPECT_EQ(nextarq_writeCoefficients(vi, 1, pattern(320, 2).data(), 320, 1), NEXTARQ_ERROR_FLASH);
    EXPECT_EQ(flash(), before);
    faults({});
    EXPECT_EQ(nextarq_readCoefficientInfo(vi, date, &serial), 0) << "the preparation clears the protection";
    EXPECT_EQ(serial, 1001u);
}

} // namespace

namespace {

// A block whose bytes happen to sum to 0 would read back as invalid: the write must never store one.
TEST_F(Coefficients, WrittenBlockNeverHasChecksumZero) {
    for (int attempt = 0; attempt < 3; ++attempt) {
        // The date text of this second, as the write lays it out.
        std::time_t now = std::time(nullptr);
        std::tm t{};
        localtime_r(&now, &t);
        char date[32];
        std::snprintf(date, sizeof date, "%02d-%02d-%04d %02d:%02d:%02d", t.tm_mon + 1, t.tm_mday, t.tm_year + 1900,
                      t.tm_hour, t.tm_min, t.tm_sec);
        unsigned s = 0;
        for (const char *p = date; *p; ++p) s += static_cast<uint8_t>(*p);
        auto data = pattern(320, 11);
        unsigned d = 0;
        for (uint8_t b : data) d += b;
        data[0] = static_cast<uint8_t>(data[0] - (d + s)); // serial 0: the whole block sums to 0
        ASSERT_EQ(nextarq_writeCoefficients(vi, 1, data.data(), 320, 0), 0);
        const auto block = flash();
        EXPECT_NE(block[344], 0);
        EXPECT_EQ(block[344], sum(block, 344));
        std::vector<uint8_t> back(320);
        EXPECT_EQ(nextarq_readCoefficients(vi, 1, back.data(), 320), 0);
        EXPECT_EQ(back, data);
        if (std::time(nullptr) == now) break; // the case was hit within one second
    }
}

} // namespace
