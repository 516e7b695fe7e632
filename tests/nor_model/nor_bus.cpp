#include "tests/nor_model/nor_bus.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace nor_test {

StandalonePair::StandalonePair(const sim::NorPairConfig& config) {
    std::string error;
    if (!sim::NorPair::create_files(config, dir_.path(), &error)) throw std::runtime_error(error);
    pair_ = sim::NorPair::open(config, dir_.path(), clock_, events_, &error);
    if (!pair_) throw std::runtime_error(error);
    bus_.map(0, pair_->device_size(), pair_.get());
}

uint32_t NorBus::Poll(uint32_t offset, int limit, int* reads) {
    uint32_t status = 0;
    int n = 0;
    while (n < limit) {
        status = Read(offset);
        ++n;
        if ((status & kReady) == kReady) break;
    }
    if (reads) *reads = n;
    return status;
}

uint32_t NorBus::ProgramWord(uint32_t offset, uint32_t value) {
    Command(offset, 0x40);
    Write(offset, value);
    return Poll(offset, 100000);
}

uint32_t NorBus::ProgramBuffer(uint32_t offset, const std::vector<uint32_t>& words) {
    Command(offset, 0xE8);
    EXPECT_EQ(kReady, Read(offset)) << "write buffer not available";
    Write(offset, static_cast<uint32_t>(words.size() - 1) * 0x00010001u);
    for (size_t i = 0; i < words.size(); ++i) Write(offset + 4 * static_cast<uint32_t>(i), words[i]);
    uint32_t last = offset + 4 * static_cast<uint32_t>(words.size() - 1);
    Command(last, 0xD0);
    return Poll(last, 100000);
}

uint32_t NorBus::Erase(uint32_t offset) {
    Command(offset, 0x20);
    Command(offset, 0xD0);
    return Poll(offset, 100000);
}

uint32_t NorBus::LockCommand(uint32_t offset, uint16_t confirm) {
    Command(offset, 0x60);
    Command(offset, confirm);
    return Poll(offset, 100000);
}

uint32_t NorBus::LockWord(uint32_t block_offset) {
    Command(block_offset, 0x90);
    uint32_t word = Read(block_offset + 8);
    Command(block_offset, 0xFF);
    return word;
}

std::vector<uint8_t> NorBus::FileBytes(uint32_t offset, uint32_t length) {
    return testing_support::peek_file(dir_ / sim::NorPair::kArrayFile, offset, length);
}

uint32_t NorBus::FileWord(uint32_t offset) {
    std::vector<uint8_t> b = FileBytes(offset, 4);
    return b[0] | b[1] << 8 | b[2] << 16 | static_cast<uint32_t>(b[3]) << 24;
}

void NorBus::FillFile(uint32_t offset, uint32_t length, uint8_t value) {
    testing_support::fill_file(dir_ / sim::NorPair::kArrayFile, offset, length, value);
}

}  // namespace nor_test
