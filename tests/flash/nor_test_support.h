// Helpers for the flash tests: a module with the NOR back-end selected, the
// raw flash file, the lock word of a block, and the bus writes of a trace.
#pragma once
#include <cstdint>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "tests/support/test_module.h"

namespace flash_test {

// Puts the process-wide flash state back to its start (nothing selected).
void ResetFlashState();

// Creates and opens a module of the profile and selects its back-end; the
// selection's result goes to *selected.
std::unique_ptr<testing_support::TestModule> OpenModule(const std::string& profile,
                                                        const std::vector<std::string>& overrides, int* selected);
// Same, for a NOR module whose selection must succeed.
std::unique_ptr<testing_support::TestModule> OpenNor(const std::string& profile,
                                                     const std::vector<std::string>& overrides = {});

// The NOR array file, read or written at a device offset while the module
// is open (the model maps it shared, so both sides see the same bytes).
std::vector<uint8_t> PeekFlash(testing_support::TestModule& module, uint32_t offset, uint32_t length);
void PokeFlash(testing_support::TestModule& module, uint32_t offset, const std::vector<uint8_t>& bytes);

// The block's lock configuration word as Read Identifier shows it; leaves
// the pair in read-array mode.
uint32_t LockWord(uint32_t blockOffset);
// Sets the lock bits of one block and waits until the pair is ready again.
void LockBlock(uint32_t blockOffset);

struct Write {
    uint32_t phys;
    uint32_t value;
    bool operator==(const Write& other) const { return phys == other.phys && value == other.value; }
};
inline void PrintTo(const Write& write, std::ostream* out) {
    *out << std::hex << "{0x" << write.phys << ", 0x" << write.value << "}" << std::dec;
}
std::vector<Write> Writes(const testing_support::BusRecorder& recorder);
// Physical addresses at which value was written, in order.
std::vector<uint32_t> WritesOf(const testing_support::BusRecorder& recorder, uint32_t value);

}  // namespace flash_test
