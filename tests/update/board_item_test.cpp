// Board configuration item 0 is read before the flash is written and put back
// afterwards; the HAL keeps a stored item in hal/item-0.bin.
#include <gtest/gtest.h>

#include <filesystem>

#include "flash/flash_ops.h"
#include "tests/support/test_module.h"
#include "tests/update/bin_builder.h"
#include "tests/update/fake_flash.h"
#include "tests/update/update_harness.h"
#include "update/section_map.h"

namespace update_tests {
namespace {

using testing_support::TestModule;

const std::vector<uint8_t> kItem0Bytes = {0x01, 0x00, 0x00, 0x00, 0xDE, 0xC0, 0x00, 0x00};

struct WriteBackCase {
    const char* name;
    std::vector<std::string> overrides;
    enum { good_image, missing_file, declined_warning, refused_image, moved_config_block } scenario;
    bool written_back;
};

TEST(BoardItem, WriteBackRules) {
    const WriteBackCase cases[] = {
        {"after a good update", {}, WriteBackCase::good_image, true},
        {"after the file failed to open", {}, WriteBackCase::missing_file, true},
        {"after a declined warning", {}, WriteBackCase::declined_warning, true},
        {"after a file refused before the erase", {}, WriteBackCase::refused_image, true},
        {"not when the configuration block was found at its old place", {}, WriteBackCase::moved_config_block, false},
        {"not when item 0 is missing", {"-hal.item0"}, WriteBackCase::good_image, false},
    };
    for (const WriteBackCase& c : cases) {
        SCOPED_TRACE(c.name);
        TestModule module("pxa270", c.overrides);
        UpdateHarness harness;
        FakeFlash flash{0x2000000, 0x10000, kFlashBackendNor};
        std::vector<uint8_t> image = BinBuilder(0x80000, 0x10000).record(0x80000, pattern(32, 1)).end().bytes();
        switch (c.scenario) {
            case WriteBackCase::good_image:
                harness.run(image);
                EXPECT_EQ(harness.worker_result(), 1);
                break;
            case WriteBackCase::missing_file:
                harness.run_path(u"/nonexistent/image.bin");
                ASSERT_EQ(harness.boxes().size(), 1u);
                EXPECT_EQ(harness.boxes()[0].text, "Cannot Open Image File /nonexistent/image.bin");
                break;
            case WriteBackCase::declined_warning: {
                // The default Registry section lies at 0x1400000.
                harness.answer({"cancel"});
                harness.run(BinBuilder(0x1400000, 0x10000).record(0x1400000, pattern(32, 2)).end().bytes(), false);
                ASSERT_EQ(harness.boxes().size(), 1u);
                EXPECT_EQ(harness.boxes()[0].caption, "WARNING");
                EXPECT_TRUE(flash.calls_of('E').empty());
                break;
            }
            case WriteBackCase::refused_image:
                // A record in a block the image range does not reach.
                harness.run(BinBuilder(0x80000, 0x10000).record(0x90000, pattern(32, 3)).end().bytes());
                ASSERT_EQ(harness.boxes().size(), 1u);
                EXPECT_EQ(harness.boxes()[0].caption, "ERROR");
                EXPECT_TRUE(flash.calls().empty());
                break;
            case WriteBackCase::moved_config_block:
                SectionMap[kSectionConfigBlock].start = CONFIG_BLOCK_OLD_PLACE;
                harness.run(image);
                EXPECT_EQ(harness.worker_result(), 1);
                break;
        }
        std::filesystem::path stored = module.dir() / "module" / "hal" / "item-0.bin";
        EXPECT_EQ(std::filesystem::exists(stored), c.written_back);
        if (c.written_back) {
            EXPECT_EQ(testing_support::read_binary(stored), kItem0Bytes);
        }
    }
}

}  // namespace
}  // namespace update_tests
