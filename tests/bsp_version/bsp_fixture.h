// A PXA270 module for the version report: flash contents placed straight into
// nor.bin, the scripted user interface, message boxes recorded.
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

namespace bsp_test {

using testing_support::CaseName;
using testing_support::MessageBoxSeen;

class BspFixture {
public:
    explicit BspFixture(const std::vector<std::string>& overrides = {});
    ~BspFixture();

    testing_support::TestModule& module() { return *module_; }
    std::vector<MessageBoxSeen> boxes() const { return boxes_.boxes(); }

    void poke(uint32_t offset, const std::vector<uint8_t>& bytes);
    void poke_words(uint32_t offset, const std::vector<uint32_t>& words);
    void place(const mkbin::MemoryImage& image);
    // A bootloader ROM image at the flash offset whose first module was built at the time.
    void place_bootloader_image(uint32_t flash_offset, const std::string& built);
    void place_version_record(uint32_t flash_offset, uint32_t board, uint32_t major, uint32_t minor_word);
    void place_banner(uint32_t flash_offset, const std::string& text);

    // Runs the report and returns its text (empty, and a failure, without exactly one box).
    std::string report();

private:
    std::unique_ptr<testing_support::TestModule> module_;
    std::shared_ptr<sim::ui::ScriptedFrontEnd> ui_;
    testing_support::MessageBoxRecorder boxes_;
};

}  // namespace bsp_test
