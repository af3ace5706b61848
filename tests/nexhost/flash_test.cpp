#include "bench_fixture.h"

#include <cstring>

using namespace tarq;
using test::BenchTest;

namespace {

uint8_t reversed(uint8_t b) {
    uint8_t r = 0;
    for (int i = 0; i < 8; ++i) r = static_cast<uint8_t>(r | ((b >> i) & 1) << (7 - i));
    return r;
}

// The coefficient flash through registers 0x04 and 0x06, byte by byte as the driver sends them.
class FlashTest : public BenchTest {
  protected:
    void select() {
        uint16_t v = rd(0x04);
        wr(0x04, v & ~1);
        wr(0x04, v | 1);
    }
    void deselect() { wr(0x04, rd(0x04) & ~1); }
    void simple(uint8_t command) {
        select();
        wr(0x06, command);
        deselect();
    }
    uint8_t status() {
        select();
        wr(0x06, 0xA0);
        uint8_t v = static_cast<uint8_t>(rd(0x06));
        deselect();
        return v;
    }
    bool waitNotBusy(double seconds) {
        auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
        do {
            if (!(status() & 0x80)) return true;
        } while (std::chrono::steady_clock::now() < end);
        return false;
    }
    void address(uint32_t a) {
        wr(0x06, reversed(static_cast<uint8_t>(a >> 16)));
        wr(0x06, reversed(static_cast<uint8_t>(a >> 8)));
        wr(0x06, reversed(static_cast<uint8_t>(a)));
    }
    void unprotect() {
        simple(0x60);
        select();
        wr(0x06, 0x80);
        wr(0x06, 0x00);
        deselect();
        ASSERT_TRUE(waitNotBusy(0.005));
    }
    void erase(uint32_t a) {
        simple(0x60);
        select();
        wr(0x06, 0x1B);
        address(a);
        deselect();
    }
    void program(uint32_t a, const uint8_t *data, size_t n) {
        simple(0x60);
        select();
        wr(0x06, 0x40);
        address(a);
        for (size_t i = 0; i < n; ++i) wr(0x06, data[i]);
        deselect();
    }
    std::vector<uint8_t> read(uint32_t a, size_t n) {
        select();
        wr(0x06, 0xC0);
        address(a);
        std::vector<uint8_t> out(n);
        for (auto &b : out) b = static_cast<uint8_t>(rd(0x06));
        deselect();
        return out;
    }
};

} // namespace

TEST_F(FlashTest, FactoryBlockIsValidAndCorrectsTheModule) {
    auto block = read(0x7F0000, 345);
    unsigned sum = 0;
    for (int i = 0; i < 344; ++i) sum += block[i];
    EXPECT_EQ(sum & 0xFF, block[344]);
    EXPECT_NE(block[344], 0);
    uint32_t serial = block[320] | block[321] << 8 | block[322] << 16 | static_cast<uint32_t>(block[323]) << 24;
    EXPECT_EQ(serial, 1001u);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(&block[324])), "01-15-2026 10:00:00");
    for (int c = 0; c < 2; ++c)
        for (int b = 0; b < 10; ++b) {
            double gain, offset;
            std::memcpy(&gain, &block[static_cast<size_t>((c * 20 + b) * 8)], 8);
            std::memcpy(&offset, &block[static_cast<size_t>((c * 20 + 10 + b) * 8)], 8);
            EXPECT_NEAR(gain, 1.0, 0.02);
            EXPECT_NEAR(offset, 0.0, 0.005);
        }
    EXPECT_EQ(block, bench::factoryBlock(1001));
}

TEST_F(FlashTest, EraseProgramReadBackAndPersist) {
    const auto factory = bench::factoryBlock(1001);
    EXPECT_EQ(status() & 0x38, 0x38) << "protected as delivered";
    erase(0x7F0000);
    ASSERT_TRUE(waitNotBusy(0.005));
    EXPECT_EQ(read(0x7F0000, 345), factory) << "a protected part ignores the erase";

    unprotect();
    EXPECT_EQ(status() & 0x38, 0);
    bench::setRegisterLog(ref, true);
    erase(0x7F0000);
    std::vector<uint16_t> sent;
    for (const auto &a : bench::takeRegisterLog(ref))
        if (a.write && a.reg == 0x06) sent.push_back(a.value);
    EXPECT_EQ(sent, (std::vector<uint16_t>{0x60, 0x1B, 0xFE, 0x00, 0x00}));
    EXPECT_TRUE(status() & 0x80) << "an erase takes a while";
    ASSERT_TRUE(waitNotBusy(3.0));
    EXPECT_EQ(status() & 0x40, 0) << "the write enable ends with the operation";
    EXPECT_EQ(read(0x7F0000, 345), std::vector<uint8_t>(345, 0xFF));

    const auto block = [] {
        std::vector<uint8_t> b(345);
        for (size_t i = 0; i < b.size(); ++i) b[i] = static_cast<uint8_t>(i * 7 + 3);
        return b;
    }();
    program(0x7F0000, block.data(), 256);
    ASSERT_TRUE(waitNotBusy(0.005));
    program(0x7F0100, block.data() + 256, 89);
    ASSERT_TRUE(waitNotBusy(0.005));
    EXPECT_EQ(read(0x7F0000, 345), block);

    const uint8_t zero = 0x00, ones = 0xFF;
    program(0x7F0200, &zero, 1);
    ASSERT_TRUE(waitNotBusy(0.005));
    program(0x7F0200, &ones, 1);
    ASSERT_TRUE(waitNotBusy(0.005));
    EXPECT_EQ(read(0x7F0200, 1)[0], 0x00) << "programming only clears bits";

    // The content survives the bench being built again (a new start of the program).
    nexhost_m_close(s);
    nexhost_close(carrier);
    s = carrier = 0;
    bench::configure(spec);
    ASSERT_EQ(nexhost_init("PXI0::1::INSTR", 0, 0, &carrier), 0);
    ASSERT_EQ(nexhost_m_init(carrier, 1, &s), 0);
    EXPECT_EQ(read(0x7F0000, 345), block);
    EXPECT_EQ(bench::flashContent(ref, 0x7F0000, 345), block);
}

TEST_F(FlashTest, InjectedTimeOutsAndStuckProtection) {
    unprotect();
    bench::ModuleFaults f;
    f.flashEraseHangs = true;
    bench::setFaults(ref, f);
    erase(0x7F0000);
    EXPECT_FALSE(waitNotBusy(0.05));
    bench::setFaults(ref, {});
    EXPECT_TRUE(waitNotBusy(3.0));

    f = {};
    f.flashProtectionStuck = true;
    bench::setFaults(ref, f);
    simple(0x60);
    select();
    wr(0x06, 0x80);
    wr(0x06, 0x1C); // protect everything
    deselect();
    waitNotBusy(0.005);
    EXPECT_EQ(status() & 0x38, 0) << "the protection could not be changed";

    f = {};
    f.flashBusyStuck = true;
    bench::setFaults(ref, f);
    EXPECT_TRUE(status() & 0x80);
    EXPECT_FALSE(waitNotBusy(0.01));

    bench::setFaults(ref, {});
    auto corrupt = bench::factoryBlock(1001);
    corrupt[10] ^= 0xFF;
    ASSERT_TRUE(bench::setFlashContent(ref, 0x7F0000, corrupt));
    EXPECT_EQ(read(0x7F0000, 345), corrupt);
}
