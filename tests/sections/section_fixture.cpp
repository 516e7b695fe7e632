#include "tests/sections/section_fixture.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>

#include "flash/flash_ops.h"
#include "flash/nor/nor_flash.h"
#include "module/observer.h"
#include "module/ui/ui_config.h"
#include "tests/support/test_module.h"
#include "update/section_map.h"

namespace sections_test {

void ResetSectionMap() {
    static const FlashSection kDefaults[kSectionCount] = {
        {u"Bootloader", 0, 0x40000, 3, 0},
        {u"ConfigBlock", 0x40000, 0x40000, 3, 0},
        {u"IMAGE", 0x80000, 0x1400000, 3, 0},
        {u"Registry", 0x1400000, 0x80000, 0, 0},
        {u"FileSystem", 0x14800000, 0x0B800000, 0, 0},
    };
    for (int i = 0; i < kSectionCount; ++i) {
        SectionMap[i].start = kDefaults[i].start;
        SectionMap[i].length = kDefaults[i].length;
        SectionMap[i].flags = kDefaults[i].flags;
        SectionMap[i].used = kDefaults[i].used;
    }
}

SectionFixture::SectionFixture(const std::vector<std::string>& overrides, bool select)
    : ui_(std::make_shared<sim::ui::ScriptedFrontEnd>()) {
    testing_support::reset_flash_state();
    ResetSectionMap();
    module_ = std::make_unique<testing_support::TestModule>("pxa270", overrides);
    sim::ui::reset_ui_config();
    sim::ui::set_front_end(ui_);
    if (select) {
        EXPECT_EQ(SelectFlashBackend(), kFlashBackendNor);
    }
}

SectionFixture::~SectionFixture() {
    sim::observer() = sim::ModuleObserver{};
    sim::ui::reset_ui_config();
    testing_support::reset_flash_state();
    ResetSectionMap();
}

std::vector<uint8_t> SectionFixture::peek(uint32_t offset, uint32_t length) {
    return testing_support::peek_file(module_->file("nor.bin"), offset, length);
}

void SectionFixture::poke(uint32_t offset, const std::vector<uint8_t>& bytes) {
    testing_support::poke_file(module_->file("nor.bin"), offset, bytes);
}

void SectionFixture::poke_word(uint32_t offset, uint32_t value) {
    std::vector<uint8_t> bytes;
    mkbin::put_le32(bytes, value);
    poke(offset, bytes);
}

void SectionFixture::place(const mkbin::MemoryImage& image) {
    for (const auto& [address, bytes] : image.segments()) poke(address, bytes);
}

void SectionFixture::place_rom_image(uint32_t flash_offset, uint32_t size, uint32_t toc_offset) {
    mkbin::MemoryImage image;
    mkbin::RomHeaderSpec rom;
    rom.image_address = flash_offset;
    rom.toc_offset = toc_offset;
    // Linked for RAM, as a real image is: only the differences matter.
    rom.physfirst = 0x80000000 + flash_offset;
    rom.physlast = rom.physfirst + size - 4;
    mkbin::add_rom_headers(image, rom);
    place(image);
}

void SectionFixture::place_compressed_image(uint32_t flash_offset, uint32_t size) {
    mkbin::MemoryImage image;
    mkbin::add_compressed_header(image, flash_offset, size);
    place(image);
}

void SectionFixture::place_config_block(uint32_t flash_offset, uint32_t size) {
    mkbin::MemoryImage image;
    ASSERT_TRUE(mkbin::add_config_block(image, flash_offset, size));
    place(image);
}

}  // namespace sections_test
