// A PXA270 module for the version report: flash contents placed straight into
// nor.bin, the scripted user interface, message boxes recorded.
#pragma once
#include <gtest/gtest.h>

#include <cctype>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/scripted_front_end.h"
#include "tests/support/test_module.h"
#include "tools/mkbin/bin_writer.h"

namespace bsp_test {

struct MessageBoxSeen {
    std::u16string caption;
    std::u16string text;
    unsigned flags;
};

class BspFixture {
public:
    explicit BspFixture(const std::vector<std::string>& overrides = {});
    ~BspFixture();

    testing_support::TestModule& module() { return *module_; }
    const std::vector<MessageBoxSeen>& boxes() const { return boxes_; }

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
    std::vector<MessageBoxSeen> boxes_;
};

template <class Case>
std::string CaseName(const ::testing::TestParamInfo<Case>& info) {
    std::string name = info.param.name;
    for (char& c : name)
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
    return name;
}

}  // namespace bsp_test
