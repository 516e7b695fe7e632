#include "tests/bsp_version/bsp_fixture.h"

#include <fstream>

#include "app/bsp_version.h"
#include "flash/flash_ops.h"
#include "flash/nor/nor_flash.h"
#include "module/observer.h"
#include "module/ui/ui_config.h"
#include "tests/support/test_module.h"

namespace bsp_test {

BspFixture::BspFixture(const std::vector<std::string>& overrides) : ui_(std::make_shared<sim::ui::ScriptedFrontEnd>()) {
    testing_support::reset_flash_state();
    module_ = std::make_unique<testing_support::TestModule>("pxa270", overrides);
    sim::ui::reset_ui_config();
    sim::ui::set_front_end(ui_);
}

BspFixture::~BspFixture() {
    sim::observer() = sim::ModuleObserver{};
    sim::ui::reset_ui_config();
    testing_support::reset_flash_state();
}

void BspFixture::poke(uint32_t offset, const std::vector<uint8_t>& bytes) {
    testing_support::poke_file(module_->file("nor.bin"), offset, bytes);
}

void BspFixture::poke_words(uint32_t offset, const std::vector<uint32_t>& words) {
    std::vector<uint8_t> bytes;
    for (uint32_t word : words) mkbin::put_le32(bytes, word);
    poke(offset, bytes);
}

void BspFixture::place(const mkbin::MemoryImage& image) {
    for (const auto& [address, bytes] : image.segments()) poke(address, bytes);
}

void BspFixture::place_bootloader_image(uint32_t flash_offset, const std::string& built) {
    mkbin::MemoryImage image;
    mkbin::RomHeaderSpec rom;
    rom.image_address = flash_offset;
    rom.toc_offset = 0x300;
    rom.physfirst = 0xA0000000 + flash_offset;
    rom.physlast = rom.physfirst + 0x20000 - 4;
    ASSERT_TRUE(mkbin::filetime_from_text(built, &rom.build_filetime)) << built;
    mkbin::add_rom_headers(image, rom);
    place(image);
}

void BspFixture::place_version_record(uint32_t flash_offset, uint32_t board, uint32_t major, uint32_t minor_word) {
    poke_words(flash_offset, {0x01234567, board, major, minor_word, 0x89ABCDEF});
}

void BspFixture::place_banner(uint32_t flash_offset, const std::string& text) {
    mkbin::MemoryImage image;
    mkbin::add_banner(image, flash_offset, text);
    place(image);
}

std::string BspFixture::report() {
    size_t before = boxes_.boxes().size();
    ShowBspVersion(nullptr);
    std::vector<MessageBoxSeen> boxes = boxes_.boxes();
    if (boxes.size() != before + 1) {
        ADD_FAILURE() << "the report shows " << boxes.size() - before << " message boxes";
        return "";
    }
    EXPECT_EQ(boxes.back().caption, u"BSP Version");
    EXPECT_EQ(boxes.back().flags, 0u);
    return sim::utf8(boxes.back().text);
}

}  // namespace bsp_test
