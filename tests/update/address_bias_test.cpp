#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "module/hal/config_items.h"
#include "tests/support/test_module.h"
#include "tests/update/update_harness.h"
#include "update/image_file.h"

namespace {

using testing_support::TestModule;

struct BiasCase {
    uint32_t image_start;
    uint32_t expected_bias;
};

// Item 5 places RAM-linked images at 0x100000 here, so its use shows.
const char kItem5At1M[] = "hal.item5=[0x100000, 0x1400000, 0x40000, 0, 0, 0]";

TEST(AddressBias, TableBoundariesWithItem5) {
    TestModule module("pxa270", {kItem5At1M});
    update_tests::reset_program_state();
    const BiasCase cases[] = {
        // top of the uncached flash window: start lands at 0
        {0xBCA00000, 0x43600000},
        {0xBFFFFFFE, 0x40000002},
        {0xBFFFFFFF, 0},
        {0xFFFFFFFF, 0},
        // uncached RAM: start lands at item 5's word 0
        {0xBC9FFFFF, 0x100000u - 0xBC9FFFFFu},
        {0xA0000000, 0x60100000},
        {0x9FFFFFFF, 0},
        {0x9CA00000, 0},
        // cached RAM
        {0x9C9FFFFF, 0x100000u - 0x9C9FFFFFu},
        {0x80000000, 0x80100000},
        // already flash offsets
        {0x7FFFFFFF, 0},
        {0x00080000, 0},
        {0x00000000, 0},
    };
    for (const BiasCase& c : cases) {
        EXPECT_EQ(ComputeAddressBias(c.image_start), c.expected_bias) << std::hex << c.image_start;
    }
}

TEST(AddressBias, MissingItem5PlacesRamImagesAt512K) {
    TestModule module("pxa270", {"-hal.item5"});
    update_tests::reset_program_state();
    // clang-format off
    const BiasCase cases[] = {
        {0x80080000, 0x80000000},  // start lands at 0x80000
        {0x80000000, 0x80080000},
        {0xA0000000, 0x60080000},
        {0xBCA00000, 0x43600000},  // the top row needs no item
        {0x9CA00000, 0},
    };
    // clang-format on
    for (const BiasCase& c : cases) {
        EXPECT_EQ(ComputeAddressBias(c.image_start), c.expected_bias) << std::hex << c.image_start;
    }
}

TEST(AddressBias, ItemIsAskedAfreshForEveryImage) {
    TestModule module("pxa270", {kItem5At1M});
    update_tests::reset_program_state();
    EXPECT_EQ(ComputeAddressBias(0x80000000), 0x80100000u);
    // The HAL stores a new item 5; the next image uses it.
    std::vector<uint8_t> item(24, 0);
    item[2] = 0x20;  // word 0 = 0x200000
    ASSERT_TRUE(sim::hal::store_config_item(module.module(), 5, item.data(), item.size()));
    EXPECT_EQ(ComputeAddressBias(0x80000000), 0x80200000u);
}

}  // namespace
