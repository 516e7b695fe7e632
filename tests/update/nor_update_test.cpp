// Whole updates on a simulated PXA270 with its NOR pair: the raw flash file
// afterwards is exactly what the image's records say.
#include <gtest/gtest.h>

#include "tests/support/test_module.h"
#include "tests/update/bin_builder.h"
#include "tests/update/update_harness.h"

namespace update_tests {
namespace {

using testing_support::TestModule;

constexpr uint32_t kNorSize = 0x2000000;  // two 16 MiB chips

struct Placed {
    uint32_t offset;
    std::vector<uint8_t> data;
};

void place(std::vector<uint8_t>* flash, const Placed& p) {
    std::copy(p.data.begin(), p.data.end(), flash->begin() + p.offset);
}

// Marks in flash before the update, to see what the erase takes and leaves.
void mark(TestModule& module, const std::vector<std::pair<uint32_t, uint8_t>>& marks) {
    std::vector<uint8_t> nor = module.read_file("nor.bin");
    for (auto [offset, value] : marks) nor[offset] = value;
    testing_support::write_binary(module.dir() / "module" / "nor.bin", nor);
    module.reopen();
}

TEST(NorUpdate, FlashFileMatchesTheRecordsByteForByte) {
    TestModule module("pxa270", {"-hal.item5"});
    mark(module, {{0x7FFFF, 0x11}, {0xF0000, 0x22}, {0x100000, 0x33}});
    UpdateHarness harness;
    // Linked at 0x80080000: lands at 0x80000 without item 5.
    const std::vector<Placed> records = {
        {0x80000, pattern(0x9003, 1)},  // three pieces, odd length
        {0xA0000, pattern(5, 2)},
        {0xC0000, pattern(0x4000, 3)},
        {0xDFFF0, pattern(16, 4)},
    };
    BinBuilder image(0x80080000, 0x60000);
    for (const Placed& r : records) image.record(r.offset + 0x80000000u, r.data);
    harness.run(image.end().bytes());
    EXPECT_TRUE(harness.boxes().empty());
    EXPECT_EQ(harness.worker_result(), 1);

    // The range 0x80000 .. 0xDFFFF widens to the 256 KiB blocks 0x80000 ..
    // 0xFFFFF; what they hold past the image's end comes back.
    std::vector<uint8_t> expected(kNorSize, 0xFF);
    expected[0x7FFFF] = 0x11;
    expected[0xF0000] = 0x22;
    expected[0x100000] = 0x33;
    for (const Placed& r : records) place(&expected, r);
    std::vector<uint8_t> actual = module.read_file("nor.bin");
    ASSERT_EQ(actual.size(), expected.size());
    auto mismatch = std::mismatch(actual.begin(), actual.end(), expected.begin());
    EXPECT_TRUE(mismatch.first == actual.end())
        << "first difference at 0x" << std::hex << (mismatch.first - actual.begin());
}

TEST(NorUpdate, BootloaderImageAtTheTopOfTheFlashWindow) {
    TestModule module("pxa270");
    UpdateHarness harness;
    // 0xBCA00000 is flash offset 0.
    const std::vector<uint8_t> loader = pattern(0x12345, 5);
    harness.run(BinBuilder(0xBCA00000, 0x40000).record(0xBCA00000, loader).end().bytes());
    EXPECT_EQ(harness.worker_result(), 1);
    std::vector<uint8_t> actual = module.read_file("nor.bin");
    EXPECT_TRUE(std::equal(loader.begin(), loader.end(), actual.begin()));
    EXPECT_TRUE(std::all_of(actual.begin() + loader.size(), actual.end(), [](uint8_t b) { return b == 0xFF; }));
}

}  // namespace
}  // namespace update_tests
