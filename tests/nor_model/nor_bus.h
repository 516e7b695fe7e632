// Helpers for driving the NOR pair through the module's physical bus, as the
// CPU would: doubled commands, status polls, and the raw array file.
#pragma once
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "module/hw/nor/nor_pair.h"
#include "tests/support/test_module.h"

namespace nor_test {

// A chip command in both halves of the bus word.
constexpr uint32_t Doubled(uint16_t command) { return command | static_cast<uint32_t>(command) << 16; }

// Status words as the pair shows them: one status byte per half.
constexpr uint32_t kReady = 0x00800080;
constexpr uint32_t kBusy = 0x00000000;

// A NOR pair on a bus of its own, built from a plain configuration: no
// module, no profile, no platform around it. Its files lie in a temporary
// folder.
class StandalonePair {
public:
    explicit StandalonePair(const sim::NorPairConfig& config);
    sim::VirtualClock& clock() { return clock_; }
    sim::EventSink& events() { return events_; }
    sim::Bus& bus() { return bus_; }
    sim::NorPair& pair() { return *pair_; }
    const std::filesystem::path& dir() const { return dir_.path(); }

private:
    testing_support::TempDir dir_;
    sim::VirtualClock clock_;
    sim::EventSink events_;
    sim::Bus bus_{clock_, events_};
    std::unique_ptr<sim::NorPair> pair_;
};

class NorBus {
public:
    explicit NorBus(testing_support::TestModule& module)
        : bus_(module.module().bus()),
          pair_(*module.module().nor()),
          events_(module.module().events()),
          clock_(module.module().clock()),
          dir_(module.dir() / "module") {}
    explicit NorBus(StandalonePair& standalone)
        : bus_(standalone.bus()),
          pair_(standalone.pair()),
          events_(standalone.events()),
          clock_(standalone.clock()),
          dir_(standalone.dir()) {}
    sim::Bus& bus() { return bus_; }
    sim::NorPair& pair() { return pair_; }
    const sim::FlashCounters& counters() { return events_.counters(); }
    uint64_t now_ns() { return clock_.now_ns(); }

    void Command(uint32_t offset, uint16_t command) { bus().write32(offset, Doubled(command)); }
    void Write(uint32_t offset, uint32_t value) { bus().write32(offset, value); }
    uint32_t Read(uint32_t offset) { return bus().read32(offset); }

    // Reads the status at offset until both halves show ready or limit reads
    // have been made; returns the last word read and the number of reads.
    uint32_t Poll(uint32_t offset, int limit, int* reads = nullptr);
    // Word program of one bus word, waiting for the end; returns the status.
    uint32_t ProgramWord(uint32_t offset, uint32_t value);
    // One Write to Buffer sequence of whole bus words; returns the status.
    uint32_t ProgramBuffer(uint32_t offset, const std::vector<uint32_t>& words);
    // Block erase at offset, waiting for the end; returns the status.
    uint32_t Erase(uint32_t offset);
    // Lock-bit setup followed by the given confirm byte, waiting for the end.
    uint32_t LockCommand(uint32_t offset, uint16_t confirm);
    // The lock configuration word of the block at offset (Read Identifier at
    // block base + 8), leaving the pair in read-array mode.
    uint32_t LockWord(uint32_t block_offset);

    // The array file: bus bytes at device offsets.
    std::vector<uint8_t> FileBytes(uint32_t offset, uint32_t length);
    uint32_t FileWord(uint32_t offset);
    void FillFile(uint32_t offset, uint32_t length, uint8_t value);

private:
    sim::Bus& bus_;
    sim::NorPair& pair_;
    sim::EventSink& events_;
    sim::VirtualClock& clock_;
    std::filesystem::path dir_;
};

}  // namespace nor_test
