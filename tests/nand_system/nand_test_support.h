// Helpers of the NAND back-end tests: a module with the process-wide state
// reset, the raw chip files, and the controller's commands on the bus.
#pragma once
#include <array>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/test_module.h"

namespace nand_test {

constexpr uint32_t kControllerBase = 0x43100000;
constexpr uint32_t kNdcrAddress = kControllerBase + 0x00;
constexpr uint32_t kNdtr0Address = kControllerBase + 0x04;
constexpr uint32_t kNdtr1Address = kControllerBase + 0x0C;
constexpr uint32_t kNdcb0Address = kControllerBase + 0x48;

// Forgets every process-wide flash and pin state, as a new process would.
void ResetSystemState();

// A module of the profile with the state reset; select runs SelectFlashBackend
// and expects the NAND back-end.
std::unique_ptr<testing_support::TestModule> OpenNand(const std::string& profile,
                                                      std::vector<std::string> overrides = {}, bool select = true);

// One chip's files, read where a test looks; bytes past a file's end are
// erased. The files of the large parts are sparse, so nothing reads them whole.
struct RawChip {
    std::filesystem::path main_path;
    std::filesystem::path oob_path;
    uint8_t main_at(uint64_t offset) const { return main_range(offset, 1)[0]; }
    uint8_t oob_at(uint64_t offset) const { return oob_range(offset, 1)[0]; }
    std::vector<uint8_t> main_range(uint64_t offset, uint64_t length) const;
    std::vector<uint8_t> oob_range(uint64_t offset, uint64_t length) const;
};
RawChip ReadChip(testing_support::TestModule& module, unsigned chip);
// Overwrites bytes of a chip file (the module must be reopened to see them).
void PokeChipFile(testing_support::TestModule& module, const std::string& name, uint64_t offset,
                  const std::vector<uint8_t>& bytes);

// The NDCB0 triples written while the recorder ran.
std::vector<std::array<uint32_t, 3>> Commands(const testing_support::BusRecorder& recorder);
// The values written to one register while the recorder ran.
std::vector<uint32_t> WritesTo(const testing_support::BusRecorder& recorder, uint32_t phys);

// A deterministic pattern: byte i of a pattern with the seed.
std::vector<uint8_t> Pattern(size_t length, uint32_t seed);

}  // namespace nand_test
