// Real Windows CE images, built for other boards, written onto a simulated
// PXA270 module whose flash holds old data: every record must land where its
// address says (translated), the rest of the widened erase range must read
// erased, and everything outside it must be untouched.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "tests/e2e/e2e_support.h"
#include "tools/mkbin/bin_writer.h"

namespace {

using testing_support::fixture;
using testing_support::read_binary;

constexpr uint8_t kOldData = 0xA5;
constexpr uint32_t kBlock = 0x40000;

struct FixtureCase {
    const char* file;
    uint32_t placed_at;  // flash offset where the image start lands
};

// Starts 0x80000000..0x9C9FFFFF land at configuration item 5's word 0 (the
// profile's 0x80000); starts below 0x80000000 are flash offsets already.
// clang-format off
const FixtureCase kPlaced[] = {
    {"omap3530evm_EBOOTSD.bin", 0x80000},     // start 0x87E00000
    {"z2170p_EBOOTSD_sorted.bin", 0x80000},   // start 0x87E00000
    {"z2170p_EBOOTSD_unsorted.bin", 0x80000}, // records out of address order
    {"ok6410_EBOOT.bin", 0x80000},            // start 0x80030000
    {"tenbyten6410mlc_EBOOT.bin", 0x80000},   // start 0x80030000
    {"tenbyten6410mlc_NBL2.bin", 0x80000},    // start 0x80000000
    {"tenbyten6410slc_STEPLDR.bin", 0},       // start 0, data record at address 0
    {"tenbyten6410mlc_NBL1.bin", 0},          // start 0, data record at address 0
};
// clang-format on

class FixtureUpdate : public ::testing::TestWithParam<FixtureCase> {};

TEST_P(FixtureUpdate, RecordsLandTranslatedAndOnlyTheErasedRangeChanges) {
    const FixtureCase& c = GetParam();
    std::vector<uint8_t> file = read_binary(fixture(c.file));
    ASSERT_FALSE(file.empty()) << "missing fixture " << c.file;
    mkbin::ParsedBin bin;
    std::string error;
    ASSERT_TRUE(mkbin::parse_bin(file, &bin, &error)) << error;

    e2e::ModuleDir module("pxa270");
    module.fill_nor(kOldData);
    e2e::ToolRun run = module.update_tool({"--verify"}, "/u " + fixture(c.file).string());
    EXPECT_EQ(run.exit_code, 0) << run.output;
    std::string report = module.report();
    ASSERT_EQ(e2e::json_value(report, "outcome"), "success") << report << run.output;
    // The tool's own verify agrees with the layout worked out here.
    EXPECT_EQ(nlohmann::json::parse(report)["verify"]["matches"], true) << report;

    std::vector<uint8_t> flash = read_binary(module.file("nor.bin"));
    ASSERT_EQ(flash.size(), 32u << 20);
    std::vector<uint8_t> expected(flash.size(), kOldData);
    uint32_t erase_start = c.placed_at / kBlock * kBlock;
    uint32_t erase_end = (c.placed_at + bin.image_length + kBlock - 1) / kBlock * kBlock;
    std::fill(expected.begin() + erase_start, expected.begin() + erase_end, 0xFF);
    for (const mkbin::ParsedRecord& r : bin.records) {
        uint32_t offset = r.address - bin.image_start + c.placed_at;
        ASSERT_LE(uint64_t(offset) + r.length, expected.size());
        std::copy(file.begin() + r.data_offset, file.begin() + r.data_offset + r.length, expected.begin() + offset);
    }
    size_t first_difference = 0;
    while (first_difference < flash.size() && flash[first_difference] == expected[first_difference]) ++first_difference;
    EXPECT_EQ(first_difference, flash.size()) << "flash differs at offset 0x" << std::hex << first_difference;
    EXPECT_EQ(e2e::json_value(report, "bytes_erased"), std::to_string(erase_end - erase_start));
}

INSTANTIATE_TEST_SUITE_P(RealImages, FixtureUpdate, ::testing::ValuesIn(kPlaced),
                         [](const ::testing::TestParamInfo<FixtureCase>& info) {
                             std::string name = info.param.file;
                             name = name.substr(0, name.find('.'));
                             for (char& ch : name)
                                 if (!isalnum(static_cast<unsigned char>(ch))) ch = '_';
                             return name;
                         });

// Images whose start is not translated and lies past the 32 MiB device (or
// wraps past 2^32 into a record at address 0) cannot be placed: the update
// fails with an error box and the old flash contents stay as they were.
class FixtureOutsideDevice : public ::testing::TestWithParam<const char*> {};

TEST_P(FixtureOutsideDevice, FailsWithoutChangingTheFlash) {
    e2e::ModuleDir module("pxa270");
    module.fill_nor(kOldData);
    e2e::ToolRun run = module.update_tool({}, "/u " + fixture(GetParam()).string());
    std::string report = module.report();
    EXPECT_EQ(e2e::json_value(report, "outcome"), "failure") << report << run.output;
    std::vector<std::string> boxes = e2e::message_boxes(report);
    ASSERT_EQ(boxes.size(), 1u) << report;
    EXPECT_EQ(boxes[0].rfind("ERROR: ", 0), 0u) << boxes[0];
    std::vector<uint8_t> flash = read_binary(module.file("nor.bin"));
    EXPECT_EQ(std::count(flash.begin(), flash.end(), kOldData), static_cast<long>(flash.size()));
}

INSTANTIATE_TEST_SUITE_P(RealImages, FixtureOutsideDevice,
                         ::testing::Values("omap3530evm_XLDRNAND.bin", "omap3530evm_XLDRSD.bin",
                                           "tenbyten6410slc_STEPLDR_IROM_SD.bin", "ok6410_STEPLDR.bin"));

}  // namespace
