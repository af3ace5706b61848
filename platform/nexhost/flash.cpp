// The module's serial coefficient flash: an SPI NOR part behind a shift register that sends the
// least significant bit first, so opcodes, addresses and the status arrive bit-reversed while data
// bytes travel unchanged.
#include "model.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>

namespace tarq::bench::model {
namespace {

enum Opcode : uint8_t {
    kWriteStatus = 0x01,
    kProgram = 0x02,
    kRead = 0x03,
    kWriteDisable = 0x04,
    kReadStatus = 0x05,
    kWriteEnable = 0x06,
    kEraseSector = 0xD8,
};

constexpr auto kEraseTime = std::chrono::milliseconds(25);
constexpr auto kProgramTime = std::chrono::microseconds(300);
constexpr auto kStatusTime = std::chrono::microseconds(200);
const char kMagic[] = "TARQFLASH1\n";

uint8_t reverse(uint8_t b) {
    b = static_cast<uint8_t>((b & 0xF0) >> 4 | (b & 0x0F) << 4);
    b = static_cast<uint8_t>((b & 0xCC) >> 2 | (b & 0x33) << 2);
    return static_cast<uint8_t>((b & 0xAA) >> 1 | (b & 0x55) << 1);
}

} // namespace

void Flash::attachState(std::string path, uint32_t serial) {
    statePath_ = std::move(path);
    std::ifstream in(statePath_, std::ios::binary);
    if (in) {
        char magic[sizeof kMagic - 1];
        bool ok = in.read(magic, sizeof magic) && std::equal(magic, magic + sizeof magic, kMagic);
        std::map<uint32_t, std::vector<uint8_t>> loaded;
        while (ok) {
            uint8_t idx[4];
            if (!in.read(reinterpret_cast<char *>(idx), 4)) break;
            uint32_t sector = idx[0] | idx[1] << 8 | idx[2] << 16 | static_cast<uint32_t>(idx[3]) << 24;
            std::vector<uint8_t> data(kSector);
            if (sector >= kSize / kSector || !in.read(reinterpret_cast<char *>(data.data()), kSector)) ok = false;
            else loaded[sector] = std::move(data);
        }
        if (ok) {
            sectors_ = std::move(loaded);
            return;
        }
        // A damaged state file is kept aside rather than overwritten, and the module starts afresh.
        std::error_code ec;
        std::filesystem::rename(statePath_, statePath_ + ".damaged", ec);
    }
    setContent(0x7F0000, factoryBlock(serial));
}

void Flash::select(bool on, const ModuleFaults &faults) {
    if (on && !selected_) {
        selected_ = true;
        command_.clear();
    } else if (!on && selected_) {
        selected_ = false;
        execute(faults);
        command_.clear();
    }
}

uint32_t Flash::address() const {
    return (static_cast<uint32_t>(command_[1]) << 16 | command_[2] << 8 | command_[3]) % kSize;
}

void Flash::writeByte(uint8_t value, const ModuleFaults &) {
    if (!selected_) return;
    if (command_.empty()) {
        command_.push_back(reverse(value));
        return;
    }
    const uint8_t op = command_[0];
    bool addressByte = (op == kEraseSector || op == kProgram || op == kRead) && command_.size() < 4;
    bool statusByte = op == kWriteStatus && command_.size() < 2;
    command_.push_back(addressByte || statusByte ? reverse(value) : value);
    if (op == kRead && command_.size() == 4) readAddress_ = address();
}

uint8_t Flash::readByte(const ModuleFaults &faults) {
    if (!selected_ || command_.empty()) return 0xFF;
    if (command_[0] == kReadStatus) return statusAsRead(faults);
    if (command_[0] == kRead && command_.size() >= 4 && !busy(faults)) {
        uint8_t b = byteAt(readAddress_);
        readAddress_ = (readAddress_ + 1) % kSize;
        return b;
    }
    return 0xFF;
}

bool Flash::busy(const ModuleFaults &faults) const {
    if (faults.flashBusyStuck) return true;
    if (hangs_ && (faults.flashEraseHangs || faults.flashProgramHangs)) return true;
    return Clock::now() < busyUntil_;
}

uint8_t Flash::statusAsRead(const ModuleFaults &faults) const {
    uint8_t status = static_cast<uint8_t>((busy(faults) ? 1 : 0) | (writeEnabled_ ? 2 : 0) | protection_ << 2);
    return reverse(status);
}

void Flash::execute(const ModuleFaults &faults) {
    if (command_.empty() || busy(faults)) return;
    const auto now = Clock::now();
    switch (command_[0]) {
    case kWriteEnable:
        writeEnabled_ = true;
        break;
    case kWriteDisable:
        writeEnabled_ = false;
        break;
    case kWriteStatus:
        if (!writeEnabled_ || command_.size() < 2) break;
        if (!faults.flashProtectionStuck) protection_ = (command_[1] >> 2) & 7;
        writeEnabled_ = false;
        busyUntil_ = now + kStatusTime;
        break;
    case kEraseSector: {
        if (!writeEnabled_ || command_.size() < 4) break;
        writeEnabled_ = false;
        if (protection_ != 0) break;
        sectors_.erase(address() / kSector);
        save();
        busyUntil_ = now + kEraseTime;
        hangs_ = faults.flashEraseHangs;
        break;
    }
    case kProgram: {
        if (!writeEnabled_ || command_.size() < 5) break;
        writeEnabled_ = false;
        if (protection_ != 0) break;
        const uint32_t a = address();
        const uint32_t page = a & ~(kPage - 1);
        // Only the last 256 bytes sent are programmed, wrapping within the page, as such parts do.
        size_t n = command_.size() - 4;
        size_t first = n > kPage ? n - kPage : 0;
        for (size_t i = first; i < n; ++i) {
            uint32_t at = page | ((a + static_cast<uint32_t>(i)) & (kPage - 1));
            auto &sector = sectors_[at / kSector];
            if (sector.empty()) sector.assign(kSector, 0xFF);
            sector[at % kSector] &= command_[4 + i]; // programming only clears bits
        }
        save();
        busyUntil_ = now + kProgramTime;
        hangs_ = faults.flashProgramHangs;
        break;
    }
    default:
        break;
    }
}

uint8_t Flash::byteAt(uint32_t address) const {
    auto it = sectors_.find(address / kSector);
    return it == sectors_.end() ? 0xFF : it->second[address % kSector];
}

std::vector<uint8_t> Flash::content(uint32_t address, uint32_t size) const {
    std::vector<uint8_t> out(size);
    for (uint32_t i = 0; i < size; ++i) out[i] = byteAt((address + i) % kSize);
    return out;
}

void Flash::setContent(uint32_t address, const std::vector<uint8_t> &bytes) {
    for (size_t i = 0; i < bytes.size(); ++i) {
        uint32_t at = static_cast<uint32_t>((address + i) % kSize);
        auto &sector = sectors_[at / kSector];
        if (sector.empty()) sector.assign(kSector, 0xFF);
        sector[at % kSector] = bytes[i];
    }
    save();
}

void Flash::save() const {
    if (statePath_.empty()) return;
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::create_directories(fs::path(statePath_).parent_path(), ec);
    // Written completely or not at all: a temporary file renamed over the old one.
    const std::string temp = statePath_ + ".tmp";
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        if (!out) return;
        out.write(kMagic, sizeof kMagic - 1);
        for (const auto &[index, data] : sectors_) {
            if (std::all_of(data.begin(), data.end(), [](uint8_t b) { return b == 0xFF; })) continue;
            uint8_t idx[4] = {static_cast<uint8_t>(index), static_cast<uint8_t>(index >> 8),
                              static_cast<uint8_t>(index >> 16), static_cast<uint8_t>(index >> 24)};
            out.write(reinterpret_cast<const char *>(idx), 4);
            out.write(reinterpret_cast<const char *>(data.data()), kSector);
        }
        out.flush();
        if (!out) {
            fs::remove(temp, ec);
            return;
        }
    }
    fs::rename(temp, statePath_, ec);
    if (ec) fs::remove(temp, ec);
}

} // namespace tarq::bench::model
