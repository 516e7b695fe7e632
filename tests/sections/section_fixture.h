// A PXA270 module with the NOR back-end selected, flash contents placed
// straight into its nor.bin, the scripted user interface, and the section
// map back at its defaults.
#pragma once
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/case_name.h"
#include "tests/support/message_boxes.h"
#include "tests/support/scripted_front_end.h"
#include "tests/support/test_module.h"
#include "tools/mkbin/bin_writer.h"

namespace sections_test {

using testing_support::CaseName;
using testing_support::MessageBoxSeen;

class SectionFixture {
public:
    explicit SectionFixture(const std::vector<std::string>& overrides = {}, bool select = true);
    ~SectionFixture();

    testing_support::TestModule& module() { return *module_; }
    sim::ui::ScriptedFrontEnd& ui() { return *ui_; }
    std::vector<MessageBoxSeen> boxes() const { return boxes_.boxes(); }

    std::vector<uint8_t> peek(uint32_t offset, uint32_t length);
    void poke(uint32_t offset, const std::vector<uint8_t>& bytes);
    void poke_word(uint32_t offset, uint32_t value);
    // Every placed run of the memory image, its addresses taken as flash offsets.
    void place(const mkbin::MemoryImage& image);
    // A consistent ROM image whose size, as its ROMHDR gives it, is size.
    void place_rom_image(uint32_t flash_offset, uint32_t size, uint32_t toc_offset = 0x200);
    void place_compressed_image(uint32_t flash_offset, uint32_t size);
    void place_config_block(uint32_t flash_offset, uint32_t size);

private:
    std::unique_ptr<testing_support::TestModule> module_;
    std::shared_ptr<sim::ui::ScriptedFrontEnd> ui_;
    testing_support::MessageBoxRecorder boxes_;
};

// The map as a fresh process has it.
void ResetSectionMap();

}  // namespace sections_test
